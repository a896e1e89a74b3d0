// Helpers of the key tests: fixture keys as handles and the openssl tool.
#pragma once

#include <string>

#include "testutil.h"
#include "tqxcrypt_keys.h"

namespace keystest {

using tqtest::Bytes;

// One row per hash selector: the digest's name for the openssl tool.
struct Selector {
    unsigned selector;
    const char *md;
};
extern const Selector kSelectors[7];

// Runs a command of the openssl tool (or any shell command); the test fails
// when it exits with a non-zero status. Returns what it wrote to stdout.
std::string sh(const std::string &command);
Bytes shBytes(const std::string &command);

// Fixture path of the key test set.
std::string fx(const std::string &name);

// Private (kind 6) and public (kind 7) key handles from PEM fixtures.
TQXCRYPT_HANDLE *privateKey(const std::string &name);
TQXCRYPT_HANDLE *publicKey(const std::string &name);

// Hexadecimal text (any case, colons and white space ignored) as bytes;
// as a number, without leading zero bytes.
Bytes hexBytes(const std::string &text);
Bytes hexNumber(const std::string &text);

inline Bytes bytesOf(const TQXCRYPT_BLOB &b) {
    return b.data ? Bytes(b.data, b.data + b.length) : Bytes();
}

}  // namespace keystest

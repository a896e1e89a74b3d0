// Helpers of the key tests: fixture keys as handles and the openssl tool.
#pragma once

#include <gtest/gtest.h>

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

// A PKCS#12 handle as it is once unpacked: its extra pointer holds the
// contents record (three empty lists), not a key method table.
TQXCRYPT_HANDLE *unpackedPkcs12();

// A detached PKCS#7 signature (SHA-256) of 1 KB by a key of user.key.pem,
// with that key's certificate: the result code. A message comes out exactly
// when the code is 0; it is dropped.
int signedDataCode(TQXCRYPT_HANDLE *key);

// Hexadecimal text (any case, colons and white space ignored) as bytes;
// as a number, without leading zero bytes.
Bytes hexBytes(const std::string &text);
Bytes hexNumber(const std::string &text);

// One row of a table of calls and the result code each must give.
struct CodeCase {
    const char *what;
    int rc;
    int expected;
};
inline void expectCodes(const CodeCase *begin, const CodeCase *end) {
    for (const CodeCase *c = begin; c != end; ++c) EXPECT_EQ(c->rc, c->expected) << c->what;
}
template <size_t N>
void expectCodes(const CodeCase (&cases)[N]) {
    expectCodes(cases, cases + N);
}

}  // namespace keystest

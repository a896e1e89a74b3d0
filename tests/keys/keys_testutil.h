// Helpers of the key tests: fixture keys as handles and the openssl tool.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "testutil.h"
#include "tqxcrypt_keys.h"

namespace keystest {

using tqtest::Bytes;
using tqtest::CodeCase;
using tqtest::encoded;
using tqtest::expectCodes;
using tqtest::kSelectors;
using tqtest::Selector;
using tqtest::sh;
using tqtest::shBytes;

// The key test set: a path of it; private (kind 6) and public (kind 7) key
// handles of its PEM files.
inline const tqtest::FixtureSet kFixtures("keys");
inline std::string fx(const std::string &name) { return kFixtures.path(name); }
inline TQXCRYPT_HANDLE *privateKey(const std::string &name) { return kFixtures.privateKey(name); }
inline TQXCRYPT_HANDLE *publicKey(const std::string &name) { return kFixtures.publicKey(name); }

// A PKCS#12 handle as it is once unpacked: its extra pointer holds the
// contents record (three empty lists), not a key method table.
TQXCRYPT_HANDLE *unpackedPkcs12();

// A detached PKCS#7 signature (SHA-256) of 1 KB by a key of user.key.pem,
// with that key's certificate: the result code. A message comes out exactly
// when the code is 0; it is dropped.
int signedDataCode(TQXCRYPT_HANDLE *key);

// Hexadecimal text (any case, colons and white space ignored) as bytes;
// as a number, without leading zero bytes.
using tqtest::hexBytes;
Bytes hexNumber(const std::string &text);

}  // namespace keystest

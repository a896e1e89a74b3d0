// Helpers of the PKCS#7 tests: fixture certificates, keys and stores as
// handles, messages as DER, and the openssl tool.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "testutil.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_store.h"

namespace p7test {

using tqtest::Bytes;
using tqtest::HandleOwner;

// Path of a file of the pkcs7 fixture set.
std::string fx(const std::string &name);

// <name>.pem as a certificate handle, <name>.key.pem as a private-key handle.
TQXCRYPT_HANDLE *cert(const std::string &name);
TQXCRYPT_HANDLE *key(const std::string &name);

// A store with the intermediate and the root, and the intermediate's CRL
// when asked.
TQXCRYPT_HANDLE *store(bool withCrl = false);

// The DER of a message handle; a message handle from DER.
Bytes der(TQXCRYPT_HANDLE *message);
TQXCRYPT_HANDLE *message(const Bytes &der);

// Runs a shell command with its error output joined to the standard
// output; the current test fails when the exit status differs.
std::string sh(const std::string &command, int expectedStatus = 0);

// The DER of a certificate handle.
Bytes certDer(TQXCRYPT_HANDLE *cert);

// One row of a table of calls and the result code each must give.
struct CodeCase {
    const char *what;
    int rc;
    int expected;
};
template <size_t N>
void expectCodes(const CodeCase (&cases)[N]) {
    for (const CodeCase &c : cases) EXPECT_EQ(c.rc, c.expected) << c.what;
}

// The hash selectors and the openssl tool's names of their digests.
struct Selector {
    int selector;
    const char *md;
};
extern const Selector kSelectors[7];

}  // namespace p7test

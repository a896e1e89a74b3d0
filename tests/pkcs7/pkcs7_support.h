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
using tqtest::CodeCase;
using tqtest::expectCodes;
using tqtest::HandleOwner;
using tqtest::kSelectors;
using tqtest::Selector;
using tqtest::sh;

// The pkcs7 fixture set: a path of it.
inline const tqtest::FixtureSet kFixtures("pkcs7");
inline std::string fx(const std::string &name) { return kFixtures.path(name); }

// <name>.pem as a certificate handle, <name>.key.pem as a private-key handle.
inline TQXCRYPT_HANDLE *cert(const std::string &name) { return kFixtures.certificate(name + ".pem"); }
inline TQXCRYPT_HANDLE *key(const std::string &name) { return kFixtures.privateKey(name + ".key.pem"); }

// A store with the intermediate and the root, and the intermediate's CRL
// when asked.
TQXCRYPT_HANDLE *store(bool withCrl = false);

// The DER of a message handle; a message handle from DER.
inline Bytes der(TQXCRYPT_HANDLE *message) { return tqtest::encoded(message, TQXCRYPT_KIND_PKCS7); }
inline TQXCRYPT_HANDLE *message(const Bytes &der) { return tqtest::decoded(TQXCRYPT_KIND_PKCS7, der); }

// The DER of a certificate handle.
inline Bytes certDer(TQXCRYPT_HANDLE *cert) { return tqtest::encoded(cert, TQXCRYPT_KIND_CERTIFICATE); }

}  // namespace p7test

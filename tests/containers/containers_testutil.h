// Container tests: a small DER writer of our own that makes what no outside
// tool writes (NB records, PKCS#12 files with chosen bags), and the peers.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include <openssl/evp.h>

#include "testutil.h"
#include "tqxcrypt_containers.h"

namespace containertest {

using tqtest::Bytes;

inline const tqtest::FixtureSet kFixtures("containers");
inline std::string fx(const std::string &name) { return kFixtures.path(name); }
inline Bytes fxBytes(const std::string &name) { return kFixtures.bytes(name); }
using tqtest::sh;

namespace der {
// An element with the given identifier byte and a minimal DER length.
Bytes tlv(unsigned identifier, const Bytes &content);
Bytes cat(std::initializer_list<Bytes> parts);
Bytes seq(std::initializer_list<Bytes> parts);
Bytes oid(const char *dotted);
Bytes text(unsigned identifier, const std::string &s);
// An INTEGER of a big-endian magnitude.
Bytes integer(const Bytes &magnitude);
}  // namespace der

// PKCS#12 safe bags.
Bytes keyBag(const Bytes &keyInfo, bool localKeyId);
Bytes shroudedKeyBag(const Bytes &encryptedKeyInfo, bool localKeyId);
Bytes certBag(const Bytes &cert, bool localKeyId, const char *certType = "1.2.840.113549.1.9.22.1");
Bytes safeContentsBag(const std::vector<Bytes> &bags);
Bytes secretBag();
// A PFX of unencrypted safes (each a list of bags) with a SHA-1 MAC.
Bytes pfx(const std::vector<std::vector<Bytes>> &safes, const char *password);
// A PFX whose authenticated safe is the given bytes, with a SHA-1 MAC.
Bytes pfxOverAuthSafe(const Bytes &authSafe, const char *password);
Bytes dataContentInfo(const Bytes &content);

// NB records as the paths read them. The optional element, when present, is
// a SEQUENCE holding an INTEGER.
Bytes nbCertRecord(const Bytes &certElement, bool optional);
// The plaintext key: SEQUENCE { INTEGER 0, INTEGER n, INTEGER p, INTEGER q }.
Bytes nbKeyPlaintext(EVP_PKEY *key);
// Encrypts plaintext (zero-padded to whole blocks) under the password's
// key material, or takes `sealed` as the encrypted key when given.
Bytes nbSecUserRecord(const Bytes &plaintext, const std::string &password, bool optional,
                      const Bytes *sealed = nullptr);
Bytes nbSeal(const Bytes &plaintext, const std::string &password);

using Buffer = tqtest::BufferOwner;

EVP_PKEY *readKey(const std::string &pemPath);
Bytes keyDer(const EVP_PKEY *key);  // traditional DER
Bytes certDer(const X509 *cert);

}  // namespace containertest

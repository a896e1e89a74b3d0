// Helpers shared by the key, digest and structure-signing sources.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <openssl/evp.h>

#include "base_internal.h"
#include "tqxcrypt_keys.h"

extern "C" {
// OpenSSL-style counterpart of RSA_sign through a key handle: 1 or 0, reasons queued.
int tqxCrypt_RSA_sign(int digestNid, const unsigned char *digest, unsigned int digestLength,
                      unsigned char *signature, unsigned int *signatureLength, TQXCRYPT_HANDLE *key);
// 0 when the handle's RSA public key equals publicKey, else 5060.
int tqxCheckKeyPair(TQXCRYPT_HANDLE *key, EVP_PKEY *publicKey);
}

namespace tq {

// One row of the hash selector.
struct HashRow {
    unsigned selector;
    const char *name;  // name fetched from the providers
    int nid;
    unsigned size;  // bytes
};

// The row of a selector (low four bits already taken), or null for 7..15.
const HashRow *hashRow(unsigned selector);
// The row of a digest by its object number, or null.
const HashRow *hashRowByNid(int nid);

// Fetches the digest of a row; null when no provider offers it.
EvpMdPtr fetchDigest(const HashRow &row);

// The largest digest of the selector table.
constexpr size_t kMaxDigest = 64;

// The DER DigestInfo (AlgorithmIdentifier with NULL parameter, OCTET STRING)
// of a digest; 0, 5001 when the identifier has no encoding, 5002.
int digestInfo(int nid, const unsigned char *digest, size_t length, SecureBytes &der);

// The key of a handle of either key kind, or null: any other handle's
// object is no key.
inline EVP_PKEY *keyOf(const TQXCRYPT_HANDLE *key) {
    EVP_PKEY *pkey = nullptr;
    return objectOf(key, kEitherKey, &pkey) == TQ_RTN_OK ? pkey : nullptr;
}

// The key method table of a key handle (its extra pointer), or null. Other
// handles keep other things there (an unpacked PKCS#12 its contents).
inline const TQXCRYPT_KEY_METHOD *keyMethod(const TQXCRYPT_HANDLE *key) {
    return keyOf(key) ? static_cast<const TQXCRYPT_KEY_METHOD *>(key->extra) : nullptr;
}

// The digest of data for the selector in flags, through a digest handle,
// into out by the blob rule; the handle is freed exactly once on every exit.
int hashInto(unsigned flags, const void *data, uint64_t length, TQXCRYPT_BLOB *out);

}  // namespace tq

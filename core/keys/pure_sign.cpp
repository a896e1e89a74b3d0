// Hash-and-sign with the DigestInfo rule, through the key's method table:
// the key's own encrypt and decrypt slots do the RSA work, so a token key
// signs and verifies here exactly like a software key.
#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>

#include "keys_internal.h"

namespace {

// The digest that is signed: the data itself or its hash, by the flags.
int obtainDigest(const tq::HashRow &row, unsigned flags, const unsigned char *data, uint64_t dataLength,
                 unsigned char *digest, size_t *digestLength) {
    if (data == nullptr && dataLength != 0) return TQ_RTN_BAD_ARGUMENT;
    if (flags & TQXCRYPT_PURE_HASH_DATA) {
        TQXCRYPT_BLOB out{tq::kMaxDigest, digest};
        int rc = tq::hashInto(flags, data, dataLength, &out);
        *digestLength = static_cast<size_t>(out.length);
        return rc;
    }
    if (!tq::fetchDigest(row)) return TQ_RTN_NOT_SUPPORTED;
    if (dataLength != row.size) return TQ_RTN_BAD_ARGUMENT;
    std::memcpy(digest, data, static_cast<size_t>(dataLength));
    *digestLength = static_cast<size_t>(dataLength);
    return TQ_RTN_OK;
}

// The block that the RSA operation signs or is expected to recover.
int buildBlock(const tq::HashRow &row, unsigned flags, const unsigned char *digest, size_t digestLength,
               int keySize, tq::SecureBytes &block) {
    if (flags & TQXCRYPT_PURE_RAW) {
        block.assign(digest, digestLength);
        return TQ_RTN_OK;
    }
    int rc = tq::digestInfo(row.nid, digest, digestLength, block);
    if (rc != TQ_RTN_OK) return rc;
    if (block.size() - 1 > static_cast<size_t>(keySize < 0 ? 0 : keySize)) return TQ_RTN_BAD_ARGUMENT;
    return TQ_RTN_OK;
}

}  // namespace

namespace tq {

int digestInfo(int nid, const unsigned char *digest, size_t length, tq::SecureBytes &der) {
    if (length > static_cast<size_t>(INT_MAX)) return TQ_RTN_BAD_ARGUMENT;
    ASN1_OBJECT *object = OBJ_nid2obj(nid);
    if (object == nullptr || OBJ_length(object) == 0) return TQ_RTN_FAILED;
    tq::X509SigPtr sig(X509_SIG_new());
    if (!sig) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    X509_ALGOR *algorithm = nullptr;
    ASN1_OCTET_STRING *octets = nullptr;
    X509_SIG_getm(sig.get(), &algorithm, &octets);
    static const unsigned char nothing = 0;
    if (X509_ALGOR_set0(algorithm, object, V_ASN1_NULL, nullptr) != 1 ||
        ASN1_OCTET_STRING_set(octets, digest ? digest : &nothing, static_cast<int>(length)) != 1)
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    int n = i2d_X509_SIG(sig.get(), nullptr);
    if (n <= 0) return TQ_RTN_FAILED;
    der.resize(static_cast<size_t>(n));
    unsigned char *p = der.data();
    if (i2d_X509_SIG(sig.get(), &p) != n) return TQ_RTN_FAILED;
    return TQ_RTN_OK;
}

}  // namespace tq

using namespace tq;

extern "C" {

TQ_API int TQXCrypt_PureSign(TQXCRYPT_HANDLE *key, const unsigned char *data, uint64_t dataLength, int flags,
                             TQXCRYPT_BLOB *signature) try {
    tq::ErrorQueueScope scope;
    EVP_PKEY *pkey = nullptr;
    int rc = tq::objectOf(key, TQXCRYPT_KIND_PRIVATEKEY, &pkey);
    if (rc != TQ_RTN_OK) return rc;
    if (signature == nullptr) return TQ_RTN_BAD_ARGUMENT;
    TQXCryptInitialize();
    const unsigned bits = static_cast<unsigned>(flags);
    const HashRow *row = hashRow(bits & TQXCRYPT_HASH_MASK);
    if (row == nullptr) return TQ_RTN_BAD_ARGUMENT;
    const TQXCRYPT_KEY_METHOD *method = keyMethod(key);
    if (method == nullptr || method->encrypt == nullptr || method->keySize == nullptr)
        return TQ_RTN_WRONG_HANDLE;
    unsigned char digest[kMaxDigest];
    size_t digestLength = 0;
    rc = obtainDigest(*row, bits, data, dataLength, digest, &digestLength);
    if (rc != TQ_RTN_OK) return rc;
    tq::SecureBytes block;
    rc = buildBlock(*row, bits, digest, digestLength, method->keySize(key), block);
    if (rc != TQ_RTN_OK) return rc;
    return method->encrypt(key, block.data(), block.size(), 0, signature);
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_PureVerify(TQXCRYPT_HANDLE *key, const unsigned char *signature, uint64_t signatureLength,
                               const unsigned char *data, uint64_t dataLength, int flags) try {
    tq::ErrorQueueScope scope;
    EVP_PKEY *pkey = nullptr;
    int rc = tq::objectOf(key, TQXCRYPT_KIND_PUBLICKEY, &pkey);
    if (rc != TQ_RTN_OK) return rc;
    const unsigned bits = static_cast<unsigned>(flags);
    const HashRow *row = hashRow(bits & TQXCRYPT_HASH_MASK);
    if (row == nullptr) return TQ_RTN_BAD_ARGUMENT;
    const TQXCRYPT_KEY_METHOD *method = keyMethod(key);
    if (method == nullptr || method->decrypt == nullptr || method->keySize == nullptr)
        return TQ_RTN_WRONG_HANDLE;
    const int keySize = method->keySize(key);
    // A signature may have lost one leading zero byte on its way.
    if (signature == nullptr || keySize <= 0 ||
        (signatureLength != static_cast<uint64_t>(keySize) &&
         signatureLength + 1 != static_cast<uint64_t>(keySize)))
        return TQ_RTN_BAD_ARGUMENT;
    unsigned char digest[kMaxDigest];
    size_t digestLength = 0;
    rc = obtainDigest(*row, bits, data, dataLength, digest, &digestLength);
    if (rc != TQ_RTN_OK) return rc;
    tq::SecureBytes expected;
    rc = buildBlock(*row, bits, digest, digestLength, keySize, expected);
    if (rc != TQ_RTN_OK) return rc;
    tq::OwnedBlob recovered;
    rc = method->decrypt(key, signature, signatureLength, 0, recovered.get());
    if (rc == TQ_RTN_DECRYPT_FAILED) return TQ_RTN_BAD_SIGNATURE_BLOCK;
    if (rc != TQ_RTN_OK) return rc;
    if (recovered.size() != expected.size() ||
        CRYPTO_memcmp(recovered.data(), expected.data(), expected.size()) != 0)
        return TQ_RTN_VERIFY_FAILED;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

TQ_API int tqxCrypt_Encode_X509_SIG(const unsigned char *digest, int digestLength, unsigned int flags,
                                    unsigned char **der, int *derLength) try {
    tq::ErrorQueueScope scope;
    const HashRow *row = hashRow(flags & TQXCRYPT_HASH_MASK);
    if (row == nullptr) return TQ_RTN_BAD_ARGUMENT;
    if (digestLength < 0 || (digest == nullptr && digestLength != 0) || der == nullptr ||
        derLength == nullptr)
        return TQ_RTN_BAD_ARGUMENT;
    tq::SecureBytes encoded;
    int rc = digestInfo(row->nid, digest, static_cast<size_t>(digestLength), encoded);
    if (rc != TQ_RTN_OK) return rc;
    auto *buffer = static_cast<unsigned char *>(OPENSSL_malloc(encoded.size() + 1));
    if (buffer == nullptr) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    std::memcpy(buffer, encoded.data(), encoded.size());
    *der = buffer;
    *derLength = static_cast<int>(encoded.size());
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int tqxCrypt_RSA_sign(int digestNid, const unsigned char *digest, unsigned int digestLength,
                      unsigned char *signature, unsigned int *signatureLength, TQXCRYPT_HANDLE *key) try {
    const TQXCRYPT_KEY_METHOD *method = key ? keyMethod(key) : nullptr;
    if (digest == nullptr || signature == nullptr || signatureLength == nullptr || method == nullptr ||
        method->encrypt == nullptr || method->keySize == nullptr) {
        ERR_raise(ERR_LIB_RSA, ERR_R_PASSED_INVALID_ARGUMENT);
        return 0;
    }
    tq::SecureBytes block;
    if (digestNid == NID_md5_sha1) {
        // The concatenated MD5 and SHA-1 digests are signed as they are.
        if (digestLength != 36) {
            ERR_raise(ERR_LIB_RSA, RSA_R_INVALID_MESSAGE_LENGTH);
            return 0;
        }
        block.assign(digest, digestLength);
    } else {
        ASN1_OBJECT *object = OBJ_nid2obj(digestNid);
        if (object == nullptr) {
            ERR_raise(ERR_LIB_RSA, RSA_R_UNKNOWN_ALGORITHM_TYPE);
            return 0;
        }
        if (OBJ_length(object) == 0) {
            ERR_raise(ERR_LIB_RSA, RSA_R_THE_ASN1_OBJECT_IDENTIFIER_IS_NOT_KNOWN_FOR_THIS_MD);
            return 0;
        }
        if (digestInfo(digestNid, digest, digestLength, block) != TQ_RTN_OK) {
            ERR_raise(ERR_LIB_RSA, ERR_R_MALLOC_FAILURE);
            return 0;
        }
    }
    const int keySize = method->keySize(key);
    if (keySize <= 0 || block.size() - 1 > static_cast<size_t>(keySize)) {
        ERR_raise(ERR_LIB_RSA, RSA_R_DIGEST_TOO_BIG_FOR_RSA_KEY);
        return 0;
    }
    tq::OwnedBlob out;
    if (method->encrypt(key, block.data(), block.size(), 0, out.get()) != TQ_RTN_OK) return 0;
    // The caller's buffer holds keySize bytes; a token may answer with more.
    if (out.size() > static_cast<size_t>(keySize)) {
        ERR_raise(ERR_LIB_RSA, RSA_R_WRONG_SIGNATURE_LENGTH);
        return 0;
    }
    std::memcpy(signature, out.data(), out.size());
    *signatureLength = static_cast<unsigned int>(out.size());
    return 1;
}
TQ_CATCH_OPENSSL(0)

}  // extern "C"

// Signatures over the DER of a structure's to-be-signed part, made and
// checked through a key handle, so that a token key signs like a software key.
#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstring>

#include "keys_internal.h"

namespace {

constexpr const char *kSource = "openssl_tqx.c";

void debugLine(int line, const char *message) { TQXCryptDebugMessage("%s:%d\n%s", kSource, line, message); }

// The DER of the to-be-signed part (wiped when released).
bool encodeTbs(TQXCRYPT_I2D *i2d, const void *data, tq::SecureBytes &der) {
    if (i2d == nullptr || data == nullptr) return false;
    int n = i2d(data, nullptr);
    if (n <= 0) return false;
    der.resize(static_cast<size_t>(n));
    unsigned char *p = der.data();
    return i2d(data, &p) == n;
}

// Writes RSA with the selector's digest into both algorithm fields (either
// may be null); the digest's row on success.
const tq::HashRow *setAlgorithms(X509_ALGOR *algorithm1, X509_ALGOR *algorithm2, unsigned selector) {
    const tq::HashRow *row = tq::hashRow(selector);
    if (row == nullptr) {
        debugLine(__LINE__, "Invalid Hash Algorithm parameters");
        return nullptr;
    }
    if (!tq::fetchDigest(*row)) return nullptr;
    int signatureNid = NID_undef;
    if (OBJ_find_sigid_by_algs(&signatureNid, row->nid, NID_rsaEncryption) != 1) {
        ERR_raise(ERR_LIB_ASN1, ASN1_R_UNKNOWN_OBJECT_TYPE);
        debugLine(__LINE__, "ASN1_R_UNKNOWN_OBJECT_TYPE");
        return nullptr;
    }
    ASN1_OBJECT *object = OBJ_nid2obj(signatureNid);
    if (object == nullptr || OBJ_length(object) == 0) {
        ERR_raise(ERR_LIB_ASN1, ASN1_R_THE_ASN1_OBJECT_IDENTIFIER_IS_NOT_KNOWN_FOR_THIS_MD);
        debugLine(__LINE__, "ASN1_R_THE_ASN1_OBJECT_IDENTIFIER_IS_NOT_KNOWN_FOR_THIS_MD");
        return nullptr;
    }
    for (X509_ALGOR *algorithm : {algorithm1, algorithm2}) {
        if (algorithm == nullptr) continue;
        // Built-in objects are static: handing one to the field costs nothing.
        if (X509_ALGOR_set0(algorithm, object, V_ASN1_NULL, nullptr) != 1) {
            ERR_raise(ERR_LIB_ASN1, ERR_R_MALLOC_FAILURE);
            return nullptr;
        }
    }
    return row;
}

// Marks the bit string as a whole number of octets (no unused bits).
void markWholeOctets(ASN1_BIT_STRING *signature) {
    signature->flags &= ~(ASN1_STRING_FLAG_BITS_LEFT | 0x07);
    signature->flags |= ASN1_STRING_FLAG_BITS_LEFT;
}

int storeSignature(ASN1_BIT_STRING *signature, const unsigned char *bytes, int length) {
    // Copied before the old bytes go: the caller may hand us those very bytes.
    auto *copy = static_cast<unsigned char *>(OPENSSL_malloc(static_cast<size_t>(length) + 1));
    if (copy == nullptr) {
        debugLine(__LINE__, "ERR_R_MALLOC_FAILURE");
        ERR_raise(ERR_LIB_ASN1, ERR_R_MALLOC_FAILURE);
        return 0;
    }
    if (length > 0) std::memcpy(copy, bytes, static_cast<size_t>(length));
    copy[length] = 0;
    ASN1_STRING_set0(signature, copy, length);
    markWholeOctets(signature);
    return length;
}

bool prepare(TQXCRYPT_I2D *i2d, X509_ALGOR *algorithm1, X509_ALGOR *algorithm2, const void *data,
             unsigned selector, tq::SecureBytes &der) {
    if (setAlgorithms(algorithm1, algorithm2, selector) == nullptr) return false;
    if (!encodeTbs(i2d, data, der)) {
        debugLine(__LINE__, "ERR_R_MALLOC_FAILURE");
        ERR_raise(ERR_LIB_ASN1, ERR_R_MALLOC_FAILURE);
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

TQ_API int tqxCrypt_ASN1_sign(TQXCRYPT_I2D *i2d, X509_ALGOR *algorithm1, X509_ALGOR *algorithm2,
                              ASN1_BIT_STRING *signature, void *data, TQXCRYPT_HANDLE *key,
                              unsigned int selector) try {
    if (signature == nullptr) {
        ERR_raise(ERR_LIB_ASN1, ERR_R_PASSED_NULL_PARAMETER);
        return 0;
    }
    tq::SecureBytes der;
    if (!prepare(i2d, algorithm1, algorithm2, data, selector, der)) return 0;
    const TQXCRYPT_KEY_METHOD *method = key ? tq::keyMethod(key) : nullptr;
    if (method == nullptr || method->sign == nullptr) {
        debugLine(__LINE__, "NO Sign method");
        ERR_raise(ERR_LIB_ASN1, ERR_R_EVP_LIB);
        return 0;
    }
    tq::OwnedBlob out;
    if (method->sign(key, der.data(), der.size(), static_cast<int>(selector | TQXCRYPT_PURE_HASH_DATA),
                     out.get()) != TQ_RTN_OK ||
        !tq::fitsInt(out.size())) {
        debugLine(__LINE__, "Sign Error");
        ERR_raise(ERR_LIB_ASN1, ERR_R_EVP_LIB);
        return 0;
    }
    return storeSignature(signature, out.data(), static_cast<int>(out.size()));
}
TQ_CATCH_OPENSSL(0)

TQ_API int tqxCrypt_ASN1_getHashValue(TQXCRYPT_I2D *i2d, X509_ALGOR *algorithm1, X509_ALGOR *algorithm2,
                                      ASN1_BIT_STRING *, void *data, unsigned int selector,
                                      TQXCRYPT_BLOB *digest) try {
    if (digest == nullptr) {
        ERR_raise(ERR_LIB_ASN1, ERR_R_PASSED_NULL_PARAMETER);
        return 0;
    }
    tq::SecureBytes der;
    if (!prepare(i2d, algorithm1, algorithm2, data, selector, der)) return 0;
    if (tq::hashInto(selector, der.data(), der.size(), digest) != TQ_RTN_OK) return 0;
    return static_cast<int>(digest->length);
}
TQ_CATCH_OPENSSL(0)

TQ_API int tqxCrypt_ASN1_verify(TQXCRYPT_I2D *i2d, X509_ALGOR *algorithm, ASN1_BIT_STRING *signature,
                                void *data, TQXCRYPT_HANDLE *key) try {
    if (algorithm == nullptr || signature == nullptr || key == nullptr) return -1;
    // Only RSA signature algorithms whose digest has a selector.
    int digestNid = NID_undef, keyNid = NID_undef;
    if (OBJ_find_sigid_algs(OBJ_obj2nid(algorithm->algorithm), &digestNid, &keyNid) != 1 ||
        keyNid != NID_rsaEncryption)
        return -1;
    const tq::HashRow *row = tq::hashRowByNid(digestNid);
    if (row == nullptr) return -1;
    // A signature is a whole number of octets.
    if ((signature->flags & ASN1_STRING_FLAG_BITS_LEFT) && (signature->flags & 0x07)) return -1;
    tq::SecureBytes der;
    if (!encodeTbs(i2d, data, der)) return -1;
    const TQXCRYPT_KEY_METHOD *method = tq::keyMethod(key);
    if (method == nullptr || method->verify == nullptr || signature->length < 0) return -1;
    int rc = method->verify(key, signature->data, static_cast<uint64_t>(signature->length), der.data(),
                            der.size(), static_cast<int>(row->selector | TQXCRYPT_PURE_HASH_DATA));
    return rc == TQ_RTN_OK ? 1 : -1;
}
TQ_CATCH_OPENSSL(-1)

TQ_API int tqxCrypt_ASN1_setSignatureValue(ASN1_BIT_STRING *signature, const unsigned char *bytes,
                                           int length) try {
    if (signature == nullptr || length < 0 || (bytes == nullptr && length != 0)) {
        ERR_raise(ERR_LIB_ASN1, ERR_R_PASSED_INVALID_ARGUMENT);
        return 0;
    }
    return storeSignature(signature, bytes, length);
}
TQ_CATCH_OPENSSL(0)

}  // extern "C"

// Raw RSA with PKCS#1 v1.5 padding and the RSA components of a key. A token
// key is an RSA object whose method runs on the token; it takes exactly the
// same road as a software key.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "keys_internal.h"

namespace {

using RsaPrimitive = int (*)(int length, const unsigned char *from, unsigned char *to, RSA *rsa, int padding);

int rawOperation(TQXCRYPT_HANDLE *key, int kind, RsaPrimitive primitive, int failure, const unsigned char *in,
                 uint64_t inLength, TQXCRYPT_BLOB *out) {
    EVP_PKEY *pkey = nullptr;
    int rc = tq::objectOf(key, kind, &pkey);
    if (rc != TQ_RTN_OK) return rc;
    if (out == nullptr) return TQ_RTN_BAD_ARGUMENT;
    if (!tq::fitsInt(inLength) || (in == nullptr && inLength != 0)) return TQ_RTN_BAD_ARGUMENT;
    if (EVP_PKEY_get_base_id(pkey) != EVP_PKEY_RSA) return TQ_RTN_INVALID_KEY;
    tq::RsaPtr rsa(EVP_PKEY_get1_RSA(pkey));
    if (!rsa) return TQ_RTN_INVALID_KEY;
    int size = RSA_size(rsa.get());
    if (size <= 0) return TQ_RTN_INVALID_KEY;
    // A decrypted result is a secret (a content key): the staging is wiped.
    tq::SecureBytes buffer(static_cast<size_t>(size));
    static const unsigned char nothing = 0;
    int produced = primitive(static_cast<int>(inLength), in ? in : &nothing, buffer.data(), rsa.get(),
                             RSA_PKCS1_PADDING);
    // A method that claims more than the modulus holds answered nothing usable.
    if (produced < 0 || produced > size) return failure;
    return tq::putBlob(out, buffer.data(), static_cast<size_t>(produced));
}

using Component = const BIGNUM *(*)(const RSA *rsa);

int getComponent(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out, Component component) {
    if (out == nullptr) return TQ_RTN_BAD_ARGUMENT;
    // Either key kind will do; another handle's object is no key at all.
    EVP_PKEY *pkey = nullptr;
    int rc = tq::objectOf(key, tq::kEitherKey, &pkey);
    if (rc != TQ_RTN_OK) return rc;
    if (EVP_PKEY_get_base_id(pkey) != EVP_PKEY_RSA) return TQ_RTN_INVALID_KEY;
    const RSA *rsa = EVP_PKEY_get0_RSA(pkey);
    if (rsa == nullptr) return TQ_RTN_INVALID_KEY;
    const BIGNUM *number = component(rsa);
    if (number == nullptr) return TQ_RTN_NOT_PRESENT;
    // Most components are private: the staging is wiped.
    tq::SecureBytes bytes(static_cast<size_t>(BN_num_bytes(number)));
    if (BN_bn2bin(number, bytes.data()) != static_cast<int>(bytes.size())) return TQ_RTN_FAILED;
    // The getters' exception to the blob rule: a buffer too small keeps its length.
    return tq::putBlob(out, bytes.data(), bytes.size(), tq::Wipe::Keep, tq::Shortfall::KeepLength);
}

}  // namespace

extern "C" {

// name, handle kind, OpenSSL primitive, code when the primitive fails
#define TQ_RSA_RAW_LIST(X)                                                                           \
    X(TQXCrypt_PublicEncrypt, TQXCRYPT_KIND_PUBLICKEY, RSA_public_encrypt, TQ_RTN_ENCRYPT_FAILED)    \
    X(TQXCrypt_PublicDecrypt, TQXCRYPT_KIND_PUBLICKEY, RSA_public_decrypt, TQ_RTN_DECRYPT_FAILED)    \
    X(TQXCrypt_PrivateEncrypt, TQXCRYPT_KIND_PRIVATEKEY, RSA_private_encrypt, TQ_RTN_ENCRYPT_FAILED) \
    X(TQXCrypt_PrivateDecrypt, TQXCRYPT_KIND_PRIVATEKEY, RSA_private_decrypt, TQ_RTN_DECRYPT_FAILED)

#define TQ_RSA_RAW_DEFINE(name, kind, primitive, failure)                                  \
    TQ_API int name(TQXCRYPT_HANDLE *key, const unsigned char *in, uint64_t inLength, int, \
                    TQXCRYPT_BLOB *out) try {                                              \
        tq::ErrorQueueScope scope;                                                         \
        return rawOperation(key, kind, primitive, failure, in, inLength, out);             \
    }                                                                                      \
    TQ_CATCH_CODE
TQ_RSA_RAW_LIST(TQ_RSA_RAW_DEFINE)
#undef TQ_RSA_RAW_DEFINE

// name, component (the modulus has a second exported name)
#define TQ_RSA_COMPONENT_LIST(X)                \
    X(TQXCrypt_KeyModulus, RSA_get0_n)          \
    X(TQXCrypt_PublicKeyGetModulus, RSA_get0_n) \
    X(TQXCrypt_KeyExponent, RSA_get0_e)         \
    X(TQXCrypt_KeyD, RSA_get0_d)                \
    X(TQXCrypt_KeyP, RSA_get0_p)                \
    X(TQXCrypt_KeyQ, RSA_get0_q)                \
    X(TQXCrypt_KeyDMP1, RSA_get0_dmp1)          \
    X(TQXCrypt_KeyDMQ1, RSA_get0_dmq1)          \
    X(TQXCrypt_KeyIQMP, RSA_get0_iqmp)

#define TQ_RSA_COMPONENT_DEFINE(name, component)                    \
    TQ_API int name(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out) try { \
        tq::ErrorQueueScope scope;                                  \
        return getComponent(key, out, component);                   \
    }                                                               \
    TQ_CATCH_CODE
TQ_RSA_COMPONENT_LIST(TQ_RSA_COMPONENT_DEFINE)
#undef TQ_RSA_COMPONENT_DEFINE

}  // extern "C"

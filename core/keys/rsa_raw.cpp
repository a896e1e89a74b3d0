// Raw RSA with PKCS#1 v1.5 padding and the RSA components of a key. A token
// key is an RSA object whose method runs on the token; it takes exactly the
// same road as a software key.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstring>

#include "keys_internal.h"

namespace {

// A result buffer from the library allocator, wiped when it is not handed out.
struct ResultBuffer {
    unsigned char *data = nullptr;
    size_t size = 0;
    explicit ResultBuffer(size_t n) : data(static_cast<unsigned char *>(TQCryptMemAlloc(n))), size(n) {}
    ResultBuffer(const ResultBuffer &) = delete;
    ResultBuffer &operator=(const ResultBuffer &) = delete;
    ~ResultBuffer() {
        if (data) {
            OPENSSL_cleanse(data, size);
            TQCryptMemFree(data);
        }
    }
    unsigned char *release() {
        unsigned char *d = data;
        data = nullptr;
        return d;
    }
};

using RsaPrimitive = int (*)(int length, const unsigned char *from, unsigned char *to, RSA *rsa, int padding);

int rawOperation(TQXCRYPT_HANDLE *key, int kind, RsaPrimitive primitive, int failure, const unsigned char *in,
                 uint64_t inLength, TQXCRYPT_BLOB *out) {
    if (key == nullptr || key->object == nullptr) return TQ_RTN_BAD_ARGUMENT;
    if (key->kind != kind) return TQ_RTN_WRONG_HANDLE;
    if (out == nullptr) return TQ_RTN_BAD_ARGUMENT;
    if (!tqFitsInt(inLength) || (in == nullptr && inLength != 0)) return TQ_RTN_BAD_ARGUMENT;
    auto *pkey = static_cast<EVP_PKEY *>(key->object);
    if (EVP_PKEY_get_base_id(pkey) != EVP_PKEY_RSA) return TQ_RTN_INVALID_KEY;
    OsslPtr<RSA, RSA_free> rsa(EVP_PKEY_get1_RSA(pkey));
    if (!rsa) return TQ_RTN_INVALID_KEY;
    int size = RSA_size(rsa.get());
    if (size <= 0) return TQ_RTN_INVALID_KEY;
    ResultBuffer buffer(static_cast<size_t>(size));
    if (buffer.data == nullptr) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    static const unsigned char nothing = 0;
    int produced =
        primitive(static_cast<int>(inLength), in ? in : &nothing, buffer.data, rsa.get(), RSA_PKCS1_PADDING);
    // A method that claims more than the modulus holds answered nothing usable.
    if (produced < 0 || produced > size) return failure;
    if (out->data == nullptr) {
        out->data = buffer.release();
        out->length = static_cast<uint64_t>(produced);
        return TQ_RTN_OK;
    }
    if (out->length < static_cast<uint64_t>(produced)) {
        out->length = static_cast<uint64_t>(produced);
        return TQ_RTN_BUFFER_TOO_SMALL;
    }
    std::memcpy(out->data, buffer.data, static_cast<size_t>(produced));
    out->length = static_cast<uint64_t>(produced);
    return TQ_RTN_OK;
}

using Component = const BIGNUM *(*)(const RSA *rsa);

int getComponent(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out, Component component) {
    if (key == nullptr || key->object == nullptr || out == nullptr) return TQ_RTN_BAD_ARGUMENT;
    // Either key kind will do; another handle's object is no key at all.
    if (!tqkeys::isKeyHandle(key)) return TQ_RTN_WRONG_HANDLE;
    auto *pkey = static_cast<EVP_PKEY *>(key->object);
    if (EVP_PKEY_get_base_id(pkey) != EVP_PKEY_RSA) return TQ_RTN_INVALID_KEY;
    const RSA *rsa = EVP_PKEY_get0_RSA(pkey);
    if (rsa == nullptr) return TQ_RTN_INVALID_KEY;
    const BIGNUM *number = component(rsa);
    if (number == nullptr) return TQ_RTN_NOT_PRESENT;
    size_t size = static_cast<size_t>(BN_num_bytes(number));
    if (out->data == nullptr) {
        auto *block = static_cast<unsigned char *>(TQCryptMemAlloc(size + 1));
        if (block == nullptr) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        block[size] = 0;
        out->data = block;
    } else if (out->length < size) {
        return TQ_RTN_BUFFER_TOO_SMALL;  // length stays: the getters' exception to the blob rule
    }
    BN_bn2bin(number, out->data);
    out->length = size;
    return TQ_RTN_OK;
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
                    TQXCRYPT_BLOB *out) {                                                  \
        return rawOperation(key, kind, primitive, failure, in, inLength, out);             \
    }
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

#define TQ_RSA_COMPONENT_DEFINE(name, component) \
    TQ_API int name(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out) { return getComponent(key, out, component); }
TQ_RSA_COMPONENT_LIST(TQ_RSA_COMPONENT_DEFINE)
#undef TQ_RSA_COMPONENT_DEFINE

}  // extern "C"

// The token RSA method: an RSA object that holds only n and e and runs its
// private operations on the token through the key reference in its slot 0.
// It is attached per RSA object, never installed as a default, so OpenSSL
// treats the key as foreign and software keys keep their own method.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/rsa.h>

#include "bridge_internal.h"

namespace {

// Refused: the second method's public side, which answers nothing.
enum class Side { Public, Private, Refused };

// A private key's public operations: n and e are all they need, and a
// method made from scratch has no modular exponentiation to lend them.
int inMemory(bool encrypt, int length, const unsigned char *from, unsigned char *to, RSA *rsa) {
    const BIGNUM *n = nullptr, *e = nullptr;
    RSA_get0_key(rsa, &n, &e, nullptr);
    tq::RsaPtr soft(RSA_new());
    tq::BnPtr softN(n ? BN_dup(n) : nullptr), softE(e ? BN_dup(e) : nullptr);
    if (!soft || !softN || !softE || RSA_set_method(soft.get(), RSA_PKCS1_OpenSSL()) != 1 ||
        RSA_set0_key(soft.get(), softN.get(), softE.get(), nullptr) != 1) {
        ERR_raise(ERR_LIB_RSA, ERR_R_MALLOC_FAILURE);
        return -1;
    }
    softN.release();
    softE.release();
    return encrypt ? RSA_public_encrypt(length, from, to, soft.get(), RSA_PKCS1_PADDING)
                   : RSA_public_decrypt(length, from, to, soft.get(), RSA_PKCS1_PADDING);
}

// One raw operation. The token applies PKCS#1 v1.5 whatever it is asked,
// so every other padding is refused rather than answered wrongly. A
// private key signs and decrypts on the token, a public key encrypts and
// recovers there; a public key has no private side at all.
int operate(Side side, bool encrypt, int length, const unsigned char *from, unsigned char *to, RSA *rsa,
            int padding) {
    if (side == Side::Refused) {
        ERR_raise(ERR_LIB_RSA, RSA_R_OPERATION_NOT_SUPPORTED_FOR_THIS_KEYTYPE);
        return -1;
    }
    if (padding != RSA_PKCS1_PADDING) {
        ERR_raise(ERR_LIB_RSA, RSA_R_UNKNOWN_PADDING_TYPE);
        return -1;
    }
    auto *reference = rsa ? static_cast<TQXP11_KEY_REFERENCE *>(RSA_get_ex_data(rsa, 0)) : nullptr;
    if (!reference || !reference->object || length < 0 || (!from && length > 0) || !to) {
        ERR_raise(ERR_LIB_RSA, ERR_R_PASSED_INVALID_ARGUMENT);
        return -1;
    }
    const CK_ULONG kind = reference->object->kind;
    const bool onToken = (side == Side::Private && kind == TQXP11_KIND_RSA_PRIVATE) ||
                         (side == Side::Public && kind == TQXP11_KIND_RSA_PUBLIC);
    if (!onToken) {
        if (side == Side::Public && kind == TQXP11_KIND_RSA_PRIVATE)
            return inMemory(encrypt, length, from, to, rsa);
        ERR_raise(ERR_LIB_RSA, RSA_R_OPERATION_NOT_SUPPORTED_FOR_THIS_KEYTYPE);
        return -1;
    }
    const int size = RSA_size(rsa);
    if (size <= 0) {
        ERR_raise(ERR_LIB_RSA, RSA_R_MODULUS_TOO_LARGE);
        return -1;
    }
    CK_ULONG written = static_cast<CK_ULONG>(size);
    const CK_ULONG inLength = static_cast<CK_ULONG>(length);
    int rc = encrypt ? TQXP11_Encrypt(reference->session, reference->object, from, inLength, to, &written)
                     : TQXP11_Decrypt(reference->session, reference->object, from, inLength, to, &written);
    if (rc != 0 || written > static_cast<CK_ULONG>(size)) {
        ERR_raise(ERR_LIB_RSA, ERR_R_OPERATION_FAIL);
        return -1;
    }
    return static_cast<int>(written);
}

using Operation = int (*)(int, const unsigned char *, unsigned char *, RSA *, int);

RSA_METHOD *makeMethod(const char *name, Operation publicEncrypt, Operation publicDecrypt,
                       Operation privateEncrypt, Operation privateDecrypt) {
    RSA_METHOD *method = RSA_meth_new(name, 0);
    if (method && (RSA_meth_set_pub_enc(method, publicEncrypt) != 1 ||
                   RSA_meth_set_pub_dec(method, publicDecrypt) != 1 ||
                   RSA_meth_set_priv_enc(method, privateEncrypt) != 1 ||
                   RSA_meth_set_priv_dec(method, privateDecrypt) != 1)) {
        RSA_meth_free(method);
        method = nullptr;
    }
    return method;
}

}  // namespace

extern "C" {

// name, side, direction (true: encrypt)
#define TQ_TOKEN_RSA_LIST(X)                            \
    X(RSA_pkcs11_public_encrypt, Side::Public, true)    \
    X(RSA_pkcs11_public_decrypt, Side::Public, false)   \
    X(RSA_pkcs11_private_encrypt, Side::Private, true)  \
    X(RSA_pkcs11_private_decrypt, Side::Private, false) \
    X(RSA_pkcs11_public_encrypt_2, Side::Refused, true) \
    X(RSA_pkcs11_public_decrypt_2, Side::Refused, false)

#define TQ_TOKEN_RSA_DEFINE(name, side, encrypt)                                                    \
    int name(int length, const unsigned char *from, unsigned char *to, RSA *rsa, int padding) try { \
        return operate(side, encrypt, length, from, to, rsa, padding);                              \
    }                                                                                               \
    TQ_CATCH_OPENSSL(-1)
TQ_TOKEN_RSA_LIST(TQ_TOKEN_RSA_DEFINE)
#undef TQ_TOKEN_RSA_DEFINE

// Made once (thread-safe static initialisation) and kept for the process:
// RSA objects of live handles point at them.
const RSA_METHOD *TQX_RSA_PKCS1_PKCS11(void) try {
    static const RSA_METHOD *method =
        makeMethod("Orvane PKCS#11 PKCS#1 RSA", RSA_pkcs11_public_encrypt, RSA_pkcs11_public_decrypt,
                   RSA_pkcs11_private_encrypt, RSA_pkcs11_private_decrypt);
    return method;
}
TQ_CATCH_EMPTY

const RSA_METHOD *TQX_RSA_PKCS1_PKCS11_2(void) try {
    static const RSA_METHOD *method =
        makeMethod("Orvane PKCS#11 PKCS#1 RSA 2", RSA_pkcs11_public_encrypt_2, RSA_pkcs11_public_decrypt_2,
                   RSA_pkcs11_private_encrypt, RSA_pkcs11_private_decrypt);
    return method;
}
TQ_CATCH_EMPTY

int tqxp11_RSA_sign(int type, const unsigned char *m, unsigned int m_length, unsigned char *sigret,
                    unsigned int *siglen, RSA *rsa) try {
    return RSA_sign(type, m, m_length, sigret, siglen, rsa);
}
TQ_CATCH_OPENSSL(0)
int tqxp11_RSA_verify(int type, const unsigned char *m, unsigned int m_length, const unsigned char *sigbuf,
                      unsigned int siglen, RSA *rsa) try {
    return RSA_verify(type, m, m_length, sigbuf, siglen, rsa);
}
TQ_CATCH_OPENSSL(0)
int tqxp11_RSA_sign_ASN1_OCTET_STRING(int type, const unsigned char *m, unsigned int m_length,
                                      unsigned char *sigret, unsigned int *siglen, RSA *rsa) try {
    return RSA_sign_ASN1_OCTET_STRING(type, m, m_length, sigret, siglen, rsa);
}
TQ_CATCH_OPENSSL(0)
int tqxp11_RSA_verify_ASN1_OCTET_STRING(int type, const unsigned char *m, unsigned int m_length,
                                        unsigned char *sigbuf, unsigned int siglen, RSA *rsa) try {
    return RSA_verify_ASN1_OCTET_STRING(type, m, m_length, sigbuf, siglen, rsa);
}
TQ_CATCH_OPENSSL(0)

}  // extern "C"

namespace tqbridge {

int tokenKey(TQXP11_KEY_REFERENCE *reference, tq::EvpPkeyPtr &key) {
    const TQXP11_VALUE *value = reference && reference->object ? reference->object->valueRecord : nullptr;
    // Both RSA key records begin with ID, modulus and exponent.
    if (!value || !value->rsaPublic.modulus.data || value->rsaPublic.modulus.length == 0 ||
        !value->rsaPublic.publicExponent.data || value->rsaPublic.publicExponent.length == 0 ||
        !tq::fitsInt(value->rsaPublic.modulus.length) || !tq::fitsInt(value->rsaPublic.publicExponent.length))
        return TQ_RTN_BAD_ARGUMENT;
    const RSA_METHOD *method = TQX_RSA_PKCS1_PKCS11();
    tq::RsaPtr rsa(RSA_new());
    if (!method || !rsa || RSA_set_method(rsa.get(), method) != 1) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    tq::BnPtr n(
        BN_bin2bn(value->rsaPublic.modulus.data, static_cast<int>(value->rsaPublic.modulus.length), nullptr));
    tq::BnPtr e(BN_bin2bn(value->rsaPublic.publicExponent.data,
                          static_cast<int>(value->rsaPublic.publicExponent.length), nullptr));
    if (!n || !e || RSA_set0_key(rsa.get(), n.get(), e.get(), nullptr) != 1)
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    n.release();
    e.release();
    if (RSA_set_ex_data(rsa.get(), 0, reference) != 1) return TQ_RTN_FAILED;
    tq::EvpPkeyPtr made(EVP_PKEY_new());
    if (!made) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    // From here the key owns the RSA object: a later failure frees the key alone.
    if (EVP_PKEY_assign(made.get(), EVP_PKEY_RSA, rsa.get()) != 1) return TQ_RTN_FAILED;
    rsa.release();
    key = std::move(made);
    return TQ_RTN_OK;
}

TQXP11_KEY_REFERENCE *referenceOf(EVP_PKEY *key) {
    const RSA *rsa = key ? EVP_PKEY_get0_RSA(key) : nullptr;
    return rsa ? static_cast<TQXP11_KEY_REFERENCE *>(RSA_get_ex_data(rsa, 0)) : nullptr;
}

void releaseReference(TQXP11_KEY_REFERENCE *reference) {
    if (!reference) return;
    reference->session = nullptr;
    if (reference->object) {
        TQXP11_FreeObject(reference->object);
        std::free(reference->object);
    }
    std::free(reference);
}

}  // namespace tqbridge

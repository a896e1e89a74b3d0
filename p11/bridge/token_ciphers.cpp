// The five token cipher objects: OpenSSL ciphers whose init, every update
// and the clean-up run the token's multi-part symmetric calls through the
// key reference in the context's application data. OpenSSL pads in memory,
// so the token sees only whole blocks of its raw ECB and CBC mechanisms.
// The method API is deprecated in 3.0 but is how a foreign cipher is made.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/objects.h>

#include <cstdlib>

#include "bridge_internal.h"

namespace {

using tqbridge::CipherReference;

// getter, NID, block size, key length, IV length, flags, token mode code
#define TQ_TOKEN_CIPHER_LIST(X)                                                                           \
    X(tqx_pkcs11_des, NID_des_ecb, 8, 8, 8, EVP_CIPH_ALWAYS_CALL_INIT, TQXP11_MODE_DES_ECB)               \
    X(tqx_pkcs11_des_cbc, NID_des_cbc, 8, 8, 8, EVP_CIPH_ALWAYS_CALL_INIT | EVP_CIPH_CBC_MODE,            \
      TQXP11_MODE_DES_CBC)                                                                                \
    X(tqx_pkcs11_des3_ede, NID_des_ede3_ecb, 8, 24, 8, EVP_CIPH_ALWAYS_CALL_INIT, TQXP11_MODE_DES3_ECB)   \
    X(tqx_pkcs11_des3_ede_cbc, NID_des_ede3_cbc, 8, 24, 8, EVP_CIPH_ALWAYS_CALL_INIT | EVP_CIPH_CBC_MODE, \
      TQXP11_MODE_DES3_CBC)                                                                               \
    X(tqx_pkcs11_rc4, NID_rc4, 1, 16, 0, EVP_CIPH_ALWAYS_CALL_INIT | EVP_CIPH_VARIABLE_LENGTH, 0)

CipherReference *referenceIn(EVP_CIPHER_CTX *ctx) {
    return tqbridge::cipherReferenceOf(static_cast<TQXP11_KEY_REFERENCE *>(EVP_CIPHER_CTX_get_app_data(ctx)));
}

template <CK_ULONG Mode>
int initKey(EVP_CIPHER_CTX *ctx, const unsigned char *, const unsigned char *iv, int encrypt) {
    CipherReference *r = referenceIn(ctx);
    if (!r) return 0;
    if (!r->bound) {
        // The maker's own init, which gives the context its cipher so that
        // the clean-up runs when the handle goes, used or not.
        r->bound = true;
        return 1;
    }
    // An operation that ended without its final step: the token must not
    // continue its stream, and would refuse the new init while it runs.
    tqbridge::closeTokenOperation(r);
    TQXP11_OBJECT *key = r->reference.object;
    const bool cbc = EVP_CIPHER_CTX_get_mode(ctx) == EVP_CIPH_CBC_MODE;
    TQXP11_BYTES *ivPair = cbc && key->valueRecord ? &key->valueRecord->secret.iv : nullptr;
    // The token init reads the IV from the key's value record; it is the
    // caller's buffer, so it is there only for the call.
    if (ivPair)
        *ivPair = TQXP11_BYTES{const_cast<unsigned char *>(iv),
                               iv ? static_cast<CK_ULONG>(EVP_CIPHER_CTX_get_iv_length(ctx)) : 0};
    const int rc = encrypt ? TQXP11_EncryptInit(r->reference.session, Mode, key)
                           : TQXP11_DecryptInit(r->reference.session, Mode, key);
    if (ivPair) *ivPair = TQXP11_BYTES{nullptr, 0};
    if (rc != TQ_RTN_OK) return 0;
    r->running = encrypt ? CipherReference::kEncrypting : CipherReference::kDecrypting;
    return 1;
}

int tqx_pkcs11_cipher(EVP_CIPHER_CTX *ctx, unsigned char *out, const unsigned char *in, size_t length) {
    CipherReference *r = referenceIn(ctx);
    if (!r) return 0;
    const bool encrypt = EVP_CIPHER_CTX_is_encrypting(ctx) == 1;
    // Only the stream this context's init started goes on.
    if (r->running != (encrypt ? CipherReference::kEncrypting : CipherReference::kDecrypting)) return 0;
    CK_ULONG capacity = length;
    TQXP11_SESSION *session = r->reference.session;
    const int rc = encrypt ? TQXP11_EncryptUpdate(session, in, length, out, &capacity)
                           : TQXP11_DecryptUpdate(session, in, length, out, &capacity);
    // OpenSSL counts the whole input as produced: less would hand out
    // bytes the token never wrote.
    if (rc == TQ_RTN_OK && capacity == length) return 1;
    tqbridge::closeTokenOperation(r);
    return 0;
}

int tqx_pkcs11_cleanup(EVP_CIPHER_CTX *ctx) {
    CipherReference *r = referenceIn(ctx);
    if (!r) return 0;
    tqbridge::closeTokenOperation(r);
    EVP_CIPHER_CTX_set_app_data(ctx, nullptr);
    tqbridge::releaseCipherReference(r);
    return 1;
}

EVP_CIPHER *makeCipher(int nid, int block, int keyLength, int ivLength, unsigned long flags,
                       int (*init)(EVP_CIPHER_CTX *, const unsigned char *, const unsigned char *, int)) {
    EVP_CIPHER *c = EVP_CIPHER_meth_new(nid, block, keyLength);
    if (c && EVP_CIPHER_meth_set_iv_length(c, ivLength) && EVP_CIPHER_meth_set_flags(c, flags) &&
        EVP_CIPHER_meth_set_init(c, init) && EVP_CIPHER_meth_set_do_cipher(c, tqx_pkcs11_cipher) &&
        EVP_CIPHER_meth_set_cleanup(c, tqx_pkcs11_cleanup))
        return c;
    EVP_CIPHER_meth_free(c);
    return nullptr;
}

}  // namespace

namespace tqbridge {

CipherReference *cipherReferenceOf(TQXP11_KEY_REFERENCE *reference) {
    // The reference is the first member of the record that carries it.
    return reinterpret_cast<CipherReference *>(reference);
}

int closeTokenOperation(CipherReference *r) {
    if (r->running == CipherReference::kNone) return TQ_RTN_OK;
    // The raw mechanisms have nothing left to give; a decryption's scratch
    // might hold plaintext all the same.
    unsigned char scratch[128];
    CK_ULONG length = sizeof scratch;
    TQXP11_SESSION *session = r->reference.session;
    const int rc = r->running == CipherReference::kEncrypting
                       ? TQXP11_EncryptFinal(session, scratch, &length)
                       : TQXP11_DecryptFinal(session, scratch, &length);
    tq::wipe(scratch, sizeof scratch);
    r->running = CipherReference::kNone;
    return rc;
}

void releaseCipherReference(CipherReference *r) {
    if (!r) return;
    TQXP11_OBJECT *object = r->reference.object;
    if (object && object->valueRecord) {
        switch (object->kind) {
        case TQXP11_KIND_DES:
        case TQXP11_KIND_DES2:
        case TQXP11_KIND_DES3:
        case TQXP11_KIND_AES:
        case TQXP11_KIND_RC4: {
            TQXP11_BYTES &value = object->valueRecord->secret.value;
            tq::wipe(value.data, value.length);
            break;
        }
        default:
            break;
        }
    }
    // Frees the record that begins with the reference.
    releaseReference(&r->reference);
}

}  // namespace tqbridge

extern "C" {

// Made once, thread-safely, and kept for the process.
#define TQ_TOKEN_CIPHER_GETTER(getter, nid, block, key, iv, flags, mode)                               \
    const EVP_CIPHER *getter(void) try {                                                               \
        static const EVP_CIPHER *const cipher = makeCipher(nid, block, key, iv, flags, initKey<mode>); \
        return cipher;                                                                                 \
    }                                                                                                  \
    TQ_CATCH_EMPTY
TQ_TOKEN_CIPHER_LIST(TQ_TOKEN_CIPHER_GETTER)
#undef TQ_TOKEN_CIPHER_GETTER

}  // extern "C"

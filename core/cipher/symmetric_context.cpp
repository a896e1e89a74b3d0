// Symmetric cipher handles (kind 10): made from raw key bytes or from a
// password, then run as init, updates and final over OpenSSL's EVP ciphers.
// A token layer plugs its ciphers in through the hooks and the OpenSSL
// context's application data, which every init keeps.
#include <openssl/evp.h>

#include "cipher_internal.h"

namespace tq {

namespace {

// id, CBC cipher, ECB cipher, key bytes, IV bytes, taken by TQXCrypt_CreateKey
#define TQ_CIPHER_SELECTOR_LIST(X)                                      \
    X(TQXCRYPT_ALG_DEFAULT, "DES-CBC", "DES-ECB", 8, 8, true)           \
    X(TQXCRYPT_ALG_DES, "DES-CBC", "DES-ECB", 8, 8, true)               \
    X(TQXCRYPT_ALG_DES3, "DES-EDE3-CBC", "DES-EDE3", 24, 8, true)       \
    X(TQXCRYPT_ALG_RC4, "RC4", "RC4", 16, 0, true)                      \
    X(TQXCRYPT_ALG_AES128, "AES-128-CBC", "AES-128-ECB", 16, 16, false) \
    X(TQXCRYPT_ALG_AES192, "AES-192-CBC", "AES-192-ECB", 24, 16, false) \
    X(TQXCRYPT_ALG_AES256, "AES-256-CBC", "AES-256-ECB", 32, 16, false)

#define TQ_CIPHER_ROW(id, cbc, ecb, key, iv, raw) {id, cbc, ecb, key, iv, raw},
constexpr CipherRow kRows[] = {TQ_CIPHER_SELECTOR_LIST(TQ_CIPHER_ROW)};
#undef TQ_CIPHER_ROW

enum Operation : int32_t { kNone = 0, kEncrypting = 1, kDecrypting = 2 };

// A new kind-10 handle for a maker's algorithm and mode: a zeroed record
// that owns its OpenSSL context and the fetched cipher.
struct NewContext {
    const CipherRow *row = nullptr;
    HandlePtr handle;
    TQXCRYPT_CIPHER_CONTEXT *c = nullptr;
    int make(TQXCRYPT_HANDLE **out, int algorithm, int flags, bool rawKey);
};

int NewContext::make(TQXCRYPT_HANDLE **out, int algorithm, int flags, bool rawKey) {
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    TQXCryptInitialize();
    if (algorithm == 3) return TQ_RTN_NOT_SUPPORTED;
    const CipherRow *r = cipherRow(algorithm);
    if (!r || (rawKey && !r->fromRawKey)) return TQ_RTN_BAD_ARGUMENT;
    const int mode = flags & TQXCRYPT_MODE_MASK;
    if (algorithm != TQXCRYPT_ALG_RC4 && mode == TQXCRYPT_MODE_MASK) return TQ_RTN_BAD_ARGUMENT;
    EvpCipherPtr cipher(EVP_CIPHER_fetch(nullptr, mode == TQXCRYPT_MODE_ECB ? r->ecb : r->cbc, nullptr));
    if (!cipher) return TQ_RTN_NOT_SUPPORTED;
    c = static_cast<TQXCRYPT_CIPHER_CONTEXT *>(TQCryptMemAlloc(sizeof(TQXCRYPT_CIPHER_CONTEXT)));
    if (!c) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    std::memset(c, 0, sizeof *c);
    c->ctx = EVP_CIPHER_CTX_new();
    TQXCRYPT_HANDLE *h = nullptr;
    if (!c->ctx || tqxCryptCreateHandle(&h, TQXCRYPT_KIND_CIPHER, c, nullptr, nullptr) != TQ_RTN_OK) {
        EVP_CIPHER_CTX_free(c->ctx);
        TQCryptMemFree(c);
        c = nullptr;
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    c->cipher = cipher.release();
    handle.reset(h);
    row = r;
    return TQ_RTN_OK;
}

int failedCode(int encrypt) { return encrypt ? TQ_RTN_ENCRYPT_FAILED : TQ_RTN_DECRYPT_FAILED; }

// The record of a symmetric cipher handle: kind 10 without a method table
// (an OCSP request has one), holding an OpenSSL context.
int contextOf(TQXCRYPT_HANDLE *handle, TQXCRYPT_CIPHER_CONTEXT **c) {
    int rc = objectOf(handle, TQXCRYPT_KIND_CIPHER, nullptr, c);
    if (rc == TQ_RTN_OK && !(*c)->ctx) rc = TQ_RTN_BAD_ARGUMENT;
    return rc;
}

int initOperation(TQXCRYPT_HANDLE *handle, const unsigned char *iv, int flags, int encrypt) {
    ErrorQueueScope scope;
    TQXCRYPT_CIPHER_CONTEXT *c = nullptr;
    int rc = contextOf(handle, &c);
    if (rc != TQ_RTN_OK) return rc;
    // Whatever ran before is over, also when this init fails.
    c->operation = kNone;
    c->pending = 0;
    if (c->hooks && c->hooks->init) {
        rc = c->hooks->init(handle, flags, encrypt);
        if (rc != TQ_RTN_OK) return rc;
    }
    // Giving OpenSSL a cipher again would reset the context, dropping the
    // application data and running a token cipher's clean-up: only a context
    // that has none yet gets one.
    const EVP_CIPHER *cipher = EVP_CIPHER_CTX_get0_cipher(c->ctx) ? nullptr : c->cipher;
    if (!cipher && !EVP_CIPHER_CTX_get0_cipher(c->ctx)) return failedCode(encrypt);
    if (EVP_CipherInit_ex(c->ctx, cipher, nullptr, c->key, iv ? iv : c->iv, encrypt) != 1 ||
        EVP_CIPHER_CTX_set_padding(c->ctx, (flags & TQXCRYPT_NO_PADDING) ? 0 : 1) != 1)
        return failedCode(encrypt);
    c->operation = encrypt ? kEncrypting : kDecrypting;
    return TQ_RTN_OK;
}

int updateOperation(TQXCRYPT_HANDLE *handle, const unsigned char *input, size_t inputLength,
                    unsigned char *output, int *outputLength, int encrypt) {
    ErrorQueueScope scope;
    TQXCRYPT_CIPHER_CONTEXT *c = nullptr;
    int rc = contextOf(handle, &c);
    if (rc != TQ_RTN_OK) return rc;
    // The output count, one block more than the input, is an int too.
    if (!output || !outputLength || (!input && inputLength) ||
        inputLength > static_cast<size_t>(INT_MAX - EVP_MAX_BLOCK_LENGTH))
        return TQ_RTN_BAD_ARGUMENT;
    if (c->operation != (encrypt ? kEncrypting : kDecrypting)) return failedCode(encrypt);
    static const unsigned char nothing = 0;
    int produced = 0;
    if (EVP_CipherUpdate(c->ctx, output, &produced, input ? input : &nothing,
                         static_cast<int>(inputLength)) != 1) {
        c->operation = kNone;
        return failedCode(encrypt);
    }
    const int block = EVP_CIPHER_CTX_get_block_size(c->ctx);
    if (block > 1)
        c->pending = static_cast<int32_t>((c->pending + inputLength % static_cast<size_t>(block)) % block);
    *outputLength = produced;
    return TQ_RTN_OK;
}

int finalOperation(TQXCRYPT_HANDLE *handle, unsigned char *output, int *outputLength, int flags,
                   int encrypt) {
    ErrorQueueScope scope;
    TQXCRYPT_CIPHER_CONTEXT *c = nullptr;
    int rc = contextOf(handle, &c);
    if (rc != TQ_RTN_OK) return rc;
    if (!output || !outputLength) return TQ_RTN_BAD_ARGUMENT;
    if (c->operation != (encrypt ? kEncrypting : kDecrypting)) return failedCode(encrypt);
    if ((flags & TQXCRYPT_NO_PADDING) && c->pending) return TQ_RTN_BAD_ARGUMENT;
    c->operation = kNone;
    int produced = 0;
    if (EVP_CipherFinal_ex(c->ctx, output, &produced) != 1) return failedCode(encrypt);
    *outputLength = produced;
    if (c->hooks && c->hooks->final) return c->hooks->final(handle, flags, encrypt);
    return TQ_RTN_OK;
}

}  // namespace

const CipherRow *cipherRow(int id) {
    for (const CipherRow &row : kRows)
        if (row.id == id) return &row;
    return nullptr;
}

}  // namespace tq

extern "C" {

int TQXCrypt_CreateKey(int algorithm, const unsigned char *key, int keyLength, const unsigned char *iv,
                       int ivLength, int flags, TQXCRYPT_HANDLE **cipher) try {
    tq::ErrorQueueScope scope;
    tq::NewContext made;
    int rc = made.make(cipher, algorithm, flags, true);
    if (rc != TQ_RTN_OK) return rc;
    const tq::CipherRow *row = made.row;
    TQXCRYPT_CIPHER_CONTEXT *c = made.c;
    const bool twoKey = algorithm == TQXCRYPT_ALG_DES3 && keyLength == 16;
    if (!key || (keyLength != row->keyBytes && !twoKey) || ivLength != row->ivBytes || (ivLength && !iv))
        return TQ_RTN_BAD_ARGUMENT;
    std::memcpy(c->key, key, static_cast<size_t>(keyLength));
    if (twoKey) std::memcpy(c->key + 16, key, 8);  // k1 k2 k1
    if (ivLength) std::memcpy(c->iv, iv, static_cast<size_t>(ivLength));
    *cipher = made.handle.release();
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_GenerateKey(int algorithm, const char *password, const unsigned char *salt, int saltLength,
                         int iterations, int flags, TQXCRYPT_HANDLE **cipher) try {
    tq::ErrorQueueScope scope;
    tq::NewContext made;
    int rc = made.make(cipher, algorithm, flags, false);
    if (rc != TQ_RTN_OK) return rc;
    const tq::CipherRow *row = made.row;
    TQXCRYPT_CIPHER_CONTEXT *c = made.c;
    rc = TQXCrypt_ByteToKey(password, -1, salt, saltLength, iterations, flags, c->key, row->keyBytes, c->iv,
                            row->ivBytes);
    if (rc != TQ_RTN_OK) return rc;
    c->keyLength = row->keyBytes;
    c->ivLength = row->ivBytes;
    *cipher = made.handle.release();
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_EncryptInit(TQXCRYPT_HANDLE *cipher, const unsigned char *iv, int flags) try {
    return tq::initOperation(cipher, iv, flags, 1);
}
TQ_CATCH_CODE

int TQXCrypt_DecryptInit(TQXCRYPT_HANDLE *cipher, const unsigned char *iv, int flags) try {
    return tq::initOperation(cipher, iv, flags, 0);
}
TQ_CATCH_CODE

int TQXCrypt_EncryptUpdate(TQXCRYPT_HANDLE *cipher, const unsigned char *input, size_t inputLength,
                           unsigned char *output, int *outputLength) try {
    return tq::updateOperation(cipher, input, inputLength, output, outputLength, 1);
}
TQ_CATCH_CODE

int TQXCrypt_DecryptUpdate(TQXCRYPT_HANDLE *cipher, const unsigned char *input, size_t inputLength,
                           unsigned char *output, int *outputLength) try {
    return tq::updateOperation(cipher, input, inputLength, output, outputLength, 0);
}
TQ_CATCH_CODE

int TQXCrypt_EncryptFinal(TQXCRYPT_HANDLE *cipher, unsigned char *output, int *outputLength, int flags) try {
    return tq::finalOperation(cipher, output, outputLength, flags, 1);
}
TQ_CATCH_CODE

int TQXCrypt_DecryptFinal(TQXCRYPT_HANDLE *cipher, unsigned char *output, int *outputLength, int flags) try {
    return tq::finalOperation(cipher, output, outputLength, flags, 0);
}
TQ_CATCH_CODE

}  // extern "C"

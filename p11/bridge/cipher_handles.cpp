// Token DES, triple-DES and RC4 keys as cipher handles (kind 10) that the
// crypto core's init, update and final calls drive; the final hook closes
// the token operation. The key stays on the token.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>

#include "bridge_internal.h"
#include "tqxcrypt_cipher.h"

namespace {

using tqbridge::CipherReference;

// The symmetric selector's token keys: object kind, cipher objects for the
// CBC and ECB mode bits (RC4 has one for all of them).
struct KeyRow {
    int algorithm;
    CK_ULONG kind;
    const EVP_CIPHER *(*cbc)();
    const EVP_CIPHER *(*ecb)();
};
const KeyRow kKeyRows[] = {
    {TQXCRYPT_ALG_DEFAULT, TQXP11_KIND_DES, tqx_pkcs11_des_cbc, tqx_pkcs11_des},
    {TQXCRYPT_ALG_DES, TQXP11_KIND_DES, tqx_pkcs11_des_cbc, tqx_pkcs11_des},
    {TQXCRYPT_ALG_DES3, TQXP11_KIND_DES3, tqx_pkcs11_des3_ede_cbc, tqx_pkcs11_des3_ede},
    {TQXCRYPT_ALG_RC4, TQXP11_KIND_RC4, tqx_pkcs11_rc4, tqx_pkcs11_rc4},
};

const KeyRow *keyRow(int algorithm) {
    for (const KeyRow &row : kKeyRows)
        if (row.algorithm == algorithm) return &row;
    return nullptr;
}

// The cipher object of an algorithm and the mode bits; null when refused.
const EVP_CIPHER *cipherFor(int algorithm, int flags) {
    const KeyRow *row = keyRow(algorithm);
    if (!row) return nullptr;
    const int mode = flags & TQXCRYPT_MODE_MASK;
    if (algorithm == TQXCRYPT_ALG_RC4) return row->cbc();
    if (mode == TQXCRYPT_MODE_MASK) return nullptr;
    return mode == TQXCRYPT_MODE_ECB ? row->ecb() : row->cbc();
}

struct CipherReferenceFree {
    void operator()(CipherReference *r) const { tqbridge::releaseCipherReference(r); }
};
using CipherReferencePtr = std::unique_ptr<CipherReference, CipherReferenceFree>;

// The reference behind a token cipher handle: 5005 for none, 5006 for any
// other handle.
int tokenReferenceOf(TQXCRYPT_HANDLE *handle, CipherReference **out) {
    TQXCRYPT_CIPHER_CONTEXT *c = nullptr;
    int rc = tq::objectOf(handle, TQXCRYPT_KIND_CIPHER, nullptr, &c);
    if (rc != TQ_RTN_OK) return rc;
    if (c->hooks != tqxP11CryptSymCBMethod() || !c->ctx) return TQ_RTN_WRONG_HANDLE;
    auto *reference = static_cast<TQXP11_KEY_REFERENCE *>(EVP_CIPHER_CTX_get_app_data(c->ctx));
    if (!reference) return TQ_RTN_WRONG_HANDLE;
    *out = tqbridge::cipherReferenceOf(reference);
    return TQ_RTN_OK;
}

}  // namespace

namespace tqbridge {

int getSymmetricKey(TQXP11_SESSION *session, const TQXP11_OBJECT *key, int algorithm, int flags,
                    TQXCRYPT_HANDLE **cipher) {
    if (!session || !key || !cipher) return TQ_RTN_BAD_ARGUMENT;
    const EVP_CIPHER *tokenCipher = cipherFor(algorithm, flags);
    if (!tokenCipher) return TQ_RTN_BAD_ARGUMENT;

    CipherReferencePtr r(static_cast<CipherReference *>(std::calloc(1, sizeof(CipherReference))));
    if (!r) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    r->reference.session = session;
    r->reference.object = static_cast<TQXP11_OBJECT *>(std::malloc(sizeof(TQXP11_OBJECT)));
    if (!r->reference.object) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    *r->reference.object = *key;
    r->reference.object->valueRecord = nullptr;
    int rc = TQXP11_ReadObject(session, r->reference.object);
    if (rc != TQ_RTN_OK) return rc;

    auto *c = static_cast<TQXCRYPT_CIPHER_CONTEXT *>(TQCryptMemAlloc(sizeof(TQXCRYPT_CIPHER_CONTEXT)));
    if (!c) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    std::memset(c, 0, sizeof *c);
    c->ctx = EVP_CIPHER_CTX_new();
    c->cipher = tokenCipher;
    c->hooks = tqxP11CryptSymCBMethod();
    // Bound to its cipher at once, the context runs the clean-up that
    // releases the reference when the handle goes, even if it never ran;
    // the core's inits then keep the cipher and the application data.
    bool bound = false;
    if (c->ctx) {
        EVP_CIPHER_CTX_set_app_data(c->ctx, &r->reference);
        bound = EVP_CipherInit_ex(c->ctx, tokenCipher, nullptr, nullptr, nullptr, 1) == 1;
        // Until the handle exists, the reference is the maker's.
        EVP_CIPHER_CTX_set_app_data(c->ctx, nullptr);
    }
    TQXCRYPT_HANDLE *handle = nullptr;
    if (!bound || tqxCryptCreateHandle(&handle, TQXCRYPT_KIND_CIPHER, c, nullptr, nullptr) != TQ_RTN_OK) {
        EVP_CIPHER_CTX_free(c->ctx);
        TQCryptMemFree(c);
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    EVP_CIPHER_CTX_set_app_data(c->ctx, r.release());
    *cipher = handle;
    return TQ_RTN_OK;
}

}  // namespace tqbridge

extern "C" {

int tqxP11Crypt_SymFinal(TQXCRYPT_HANDLE *cipher, int, int) try {
    CipherReference *r = nullptr;
    // Updates wrote all output, padding included: the token has nothing to
    // add, and what it answers changes nothing that was produced.
    if (tokenReferenceOf(cipher, &r) == TQ_RTN_OK) tqbridge::closeTokenOperation(r);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

const TQXCRYPT_CIPHER_HOOKS *tqxP11CryptSymCBMethod(void) try {
    static const TQXCRYPT_CIPHER_HOOKS hooks = {nullptr, tqxP11Crypt_SymFinal};
    return &hooks;
}
TQ_CATCH_EMPTY

TQ_API int TQXP11Crypt_GetSymmetricKey(TQXP11_SESSION *session, const char *label, int algorithm, int flags,
                                       TQXCRYPT_HANDLE **cipher) try {
    tq::ErrorQueueScope scope;
    const KeyRow *row = keyRow(algorithm);
    if (!session || !label || !row) return TQ_RTN_BAD_ARGUMENT;
    const TQXP11_OBJECT record = tqbridge::labelRecord(label, row->kind, CK_TRUE);
    return tqbridge::getSymmetricKey(session, &record, algorithm, flags, cipher);
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_TransKeyToP11hKey(TQXCRYPT_HANDLE *cipher, CK_OBJECT_HANDLE *objectHandle) try {
    tq::ErrorQueueScope scope;
    CipherReference *r = nullptr;
    int rc = tokenReferenceOf(cipher, &r);
    if (rc != TQ_RTN_OK) return rc;
    if (!objectHandle) return TQ_RTN_BAD_ARGUMENT;
    const CK_OBJECT_HANDLE handle = r->reference.object->handle;
    if (handle == 0) return TQ_RTN_WRONG_HANDLE;
    *objectHandle = handle;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_DeleteKey(TQXP11_SESSION *session, TQXCRYPT_HANDLE *cipher) try {
    tq::ErrorQueueScope scope;
    CipherReference *r = nullptr;
    int rc = tokenReferenceOf(cipher, &r);
    if (rc != TQ_RTN_OK) return rc;
    return TQXP11_DeleteObject(session, r->reference.object);
}
TQ_CATCH_CODE

}  // extern "C"

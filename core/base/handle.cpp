// Handles and blobs: the records through which every object crosses the boundary.
#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include "base_internal.h"

namespace {

// Bound to the address, so that no content of another record (a label, a
// token's object handle) can be chosen in advance to pass for it.
uint64_t sealOf(const TQXCRYPT_HANDLE *handle) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)) ^ 0x9e3779b97f4a7c15u;
}

}  // namespace

extern "C" {

int tqxCryptCreateHandle(TQXCRYPT_HANDLE **out, int kind, void *object,
                         const TQXCRYPT_ASN1_METHOD *asn1Method, void *extra) try {
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    auto *h = static_cast<TQXCRYPT_HANDLE *>(TQCryptMemAlloc(sizeof(TQXCRYPT_HANDLE)));
    if (!h) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    h->kind = kind;
    h->object = object;
    h->asn1Method = asn1Method;
    h->extra = extra;
    h->seal = sealOf(h);
    *out = h;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int tqxCryptGetHandle(void **object, TQXCRYPT_HANDLE *handle, int kind) try {
    if (!object) return TQ_RTN_BAD_ARGUMENT;
    return tq::handleObject(handle, kind, tq::Presence::Required, object);
}
TQ_CATCH_CODE

int tqxCryptGetHandleEx(void **extra, TQXCRYPT_HANDLE *handle, int kind) try {
    if (!tq::isHandle(handle) || !extra) return TQ_RTN_BAD_ARGUMENT;
    if (handle->kind != kind) return TQ_RTN_WRONG_HANDLE;
    if (!handle->object || !handle->extra) return TQ_RTN_BAD_ARGUMENT;
    *extra = handle->extra;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

void TQXCryptFreeHandle(TQXCRYPT_HANDLE *handle) try {
    if (!tq::isHandle(handle)) return;
    if (handle->asn1Method) {
        if (handle->asn1Method->free) {
            handle->asn1Method->free(handle);
            tq::clearErrors();
        }
        return;
    }
    switch (handle->kind) {
    case TQXCRYPT_KIND_STORE:
        X509_STORE_free(static_cast<X509_STORE *>(handle->object));
        break;
    case TQXCRYPT_KIND_DIGEST:
        EVP_MD_CTX_free(static_cast<EVP_MD_CTX *>(handle->object));
        break;
    case TQXCRYPT_KIND_CIPHER:
        if (auto *c = static_cast<TQXCRYPT_CIPHER_CONTEXT *>(handle->object)) {
            // Freeing the context also runs a token cipher's clean-up.
            EVP_CIPHER_CTX_free(c->ctx);
            // A fetched cipher is counted; static and method-made ones are not.
            EVP_CIPHER_free(const_cast<EVP_CIPHER *>(c->cipher));
            tq::wipe(c, sizeof *c);
            TQCryptMemFree(c);
        }
        break;
    default:
        break;
    }
    TQCryptMemFree(handle);
}
TQ_CATCH_VOID

void TQXCryptFreeBlob(TQXCRYPT_BLOB *blob) try {
    if (!blob || !blob->data) return;
    TQCryptMemFree(blob->data);
    blob->data = nullptr;
    blob->length = 0;
}
TQ_CATCH_VOID

int tqxCryptAssignBlob(TQXCRYPT_BLOB *blob, const void *bytes, int count) try {
    if (!blob || count < 0) return TQ_RTN_BAD_ARGUMENT;
    return tq::putBlob(blob, bytes, static_cast<size_t>(count), tq::Wipe::Keep, tq::Shortfall::KeepLength);
}
TQ_CATCH_CODE

uint32_t tqxhtonl(uint32_t v) try {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
TQ_CATCH_EMPTY

uint32_t tqxntohl(uint32_t v) try { return tqxhtonl(v); }
TQ_CATCH_EMPTY

}  // extern "C"

namespace tq {

namespace {

int writeBlob(TQXCRYPT_BLOB *out, const void *bytes, size_t count, Shortfall shortfall) {
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    if (!out->data) {
        // The NUL after the bytes makes an allocated text a C string.
        if (count == SIZE_MAX) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        auto *p = static_cast<unsigned char *>(TQCryptMemAlloc(count + 1));
        if (!p) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        if (count) std::memcpy(p, bytes, count);
        p[count] = 0;
        out->data = p;
    } else {
        if (out->length < count) {
            if (shortfall == Shortfall::ReportNeeded) out->length = count;
            return TQ_RTN_BUFFER_TOO_SMALL;
        }
        if (count) std::memcpy(out->data, bytes, count);
    }
    out->length = count;
    return TQ_RTN_OK;
}

}  // namespace

int putBlob(TQXCRYPT_BLOB *out, const void *bytes, size_t count, Wipe wipe, Shortfall shortfall) {
    int rc = writeBlob(out, bytes, count, shortfall);
    if (wipe == Wipe::Source) tq::wipe(const_cast<void *>(bytes), count);
    return rc;
}

bool isHandle(const TQXCRYPT_HANDLE *handle) {
    // The seal is the record's last word: every record the library hands
    // out is at least a handle long, so reading it stays inside whichever
    // record was given.
    const auto address = reinterpret_cast<intptr_t>(handle);
    return address >= TQ_LOWEST_RECORD_ADDRESS && address % alignof(TQXCRYPT_HANDLE) == 0 &&
           handle->seal == sealOf(handle);
}

int handleObject(const TQXCRYPT_HANDLE *handle, Kinds kinds, Presence presence, void **object) {
    if (presence == Presence::Optional && (!handle || (isHandle(handle) && !handle->object))) {
        *object = nullptr;
        return TQ_RTN_OK;
    }
    if (!isHandle(handle) || !handle->object) return TQ_RTN_BAD_ARGUMENT;
    if (!kinds.has(handle->kind)) return TQ_RTN_WRONG_HANDLE;
    *object = handle->object;
    return TQ_RTN_OK;
}

int handleObject(const TQXCRYPT_HANDLE *handle, int kind, const TQXCRYPT_ASN1_METHOD *method,
                 Presence presence, void **object) {
    void *found = nullptr;
    int rc = handleObject(handle, kind, presence, &found);
    if (rc != TQ_RTN_OK) return rc;
    if (found && handle->asn1Method != method) return TQ_RTN_WRONG_HANDLE;
    *object = found;
    return TQ_RTN_OK;
}

}  // namespace tq

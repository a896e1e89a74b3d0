// Digest-context handles (kind 9) and certificate fingerprints.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstring>

#include "keys_internal.h"

namespace tq {

int hashInto(unsigned flags, const void *data, uint64_t length, TQXCRYPT_BLOB *out) {
    TQXCRYPT_HANDLE *raw = nullptr;
    int rc = TQXCrypt_HashInit(&raw, flags);
    if (rc != TQ_RTN_OK) return rc;
    tq::HandlePtr handle(raw);
    rc = TQXCrypt_HashUpdate(handle.get(), data, length, 0);
    if (rc != TQ_RTN_OK) return rc;
    rc = TQXCrypt_HashFinal(handle.get(), 0, out);
    if (rc == TQ_RTN_OK) handle.release();  // finishing freed it
    return rc;
}

}  // namespace tq

using namespace tq;

extern "C" {

TQ_API int TQXCrypt_HashInit(TQXCRYPT_HANDLE **digest, unsigned int flags) try {
    tq::ErrorQueueScope scope;
    if (digest == nullptr) return TQ_RTN_BAD_ARGUMENT;
    TQXCryptInitialize();
    const HashRow *row = hashRow(flags & TQXCRYPT_HASH_MASK);
    if (row == nullptr) return TQ_RTN_BAD_ARGUMENT;
    tq::EvpMdPtr md = fetchDigest(*row);
    if (!md) return TQ_RTN_NOT_SUPPORTED;
    tq::EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (EVP_DigestInit_ex(ctx.get(), md.get(), nullptr) != 1) return TQ_RTN_FAILED;
    int rc = tqxCryptCreateHandle(digest, TQXCRYPT_KIND_DIGEST, ctx.get(), nullptr, nullptr);
    if (rc != TQ_RTN_OK) return rc;
    ctx.release();
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_HashUpdate(TQXCRYPT_HANDLE *digest, const void *data, uint64_t length, int) try {
    tq::ErrorQueueScope scope;
    EVP_MD_CTX *ctx = nullptr;
    int rc = tq::objectOf(digest, TQXCRYPT_KIND_DIGEST, &ctx);
    if (rc != TQ_RTN_OK) return rc;
    if (length == 0) return TQ_RTN_OK;
    if (data == nullptr || length > SIZE_MAX) return TQ_RTN_BAD_ARGUMENT;
    if (EVP_DigestUpdate(ctx, data, static_cast<size_t>(length)) != 1) return TQ_RTN_FAILED;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_HashFinal(TQXCRYPT_HANDLE *digest, int, TQXCRYPT_BLOB *out) try {
    tq::ErrorQueueScope scope;
    EVP_MD_CTX *ctx = nullptr;
    int rc = tq::objectOf(digest, TQXCRYPT_KIND_DIGEST, &ctx);
    if (rc != TQ_RTN_OK) return rc;
    if (out == nullptr) return TQ_RTN_BAD_ARGUMENT;
    int size = EVP_MD_CTX_get_size(ctx);
    if (size <= 0 || static_cast<size_t>(size) > kMaxDigest) return TQ_RTN_FAILED;
    // A copy is finished, so that a caller whose buffer is too small (or who
    // ran out of memory) can still retry with the same handle.
    tq::EvpMdCtxPtr finished(EVP_MD_CTX_new());
    if (!finished || EVP_MD_CTX_copy_ex(finished.get(), ctx) != 1) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    unsigned char md[kMaxDigest];
    unsigned int produced = 0;
    if (EVP_DigestFinal_ex(finished.get(), md, &produced) != 1) return TQ_RTN_FAILED;
    rc = tq::putBlob(out, md, produced);
    if (rc == TQ_RTN_OK) TQXCryptFreeHandle(digest);
    return rc;
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_CertGetDigest(TQXCRYPT_HANDLE *certificate, unsigned int flags, TQXCRYPT_BLOB *out) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = tq::objectOf(certificate, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (out == nullptr) return TQ_RTN_BAD_ARGUMENT;
    tq::OwnedBlob der;
    rc = TQXCrypt_EncodeObject(certificate, TQXCRYPT_KIND_CERTIFICATE, der.get(), 0, nullptr);
    if (rc != TQ_RTN_OK) return rc;
    return hashInto(flags, der.data(), der.size(), out);
}
TQ_CATCH_CODE

}  // extern "C"

// The exported ways to make a signed-data message: sign through a key
// handle, wrap a signature made elsewhere, compose from a signer info, and
// the code-signing form.
#include "pkcs7_internal.h"

#include "tqxcrypt_store.h"

namespace {

// The signer's issuers from a store, without the signer itself.
int chainFromStore(TQXCRYPT_HANDLE *store, X509 *cert, tq::CertStack &extra) {
    X509_STORE *storeObject = nullptr;
    int rc = tq::objectOf(store, TQXCRYPT_KIND_STORE, &storeObject);
    if (rc != TQ_RTN_OK) return rc;
    STACK_OF(X509) *chain = nullptr;
    rc = tqxCryptGetCertificateChain(storeObject, cert, 0x200, &chain, nullptr);
    if (rc != TQ_RTN_OK) return rc;
    extra.reset(chain);
    X509_free(sk_X509_shift(chain));
    return TQ_RTN_OK;
}

// Hands a finished message out, or turns the newest reason into a code.
int handOut(PKCS7 *message, TQXCRYPT_HANDLE **out) {
    return message ? tq::pkcs7Handle(message, out) : tq::pkcs7SignFailure();
}

// A signed-data around a signature computed elsewhere; the key slot stays
// empty, so the final step only embeds the content.
PKCS7 *wrapSignature(const unsigned char *signature, int signatureLength, X509 *cert,
                     const unsigned char *content, int contentLength, int flags, int selector) {
    EVP_PKEY *certKey = X509_get0_pubkey(cert);
    if (!certKey) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_UNABLE_TO_FIND_CERTIFICATE);
        return nullptr;
    }
    tq::Pkcs7Building p7(PKCS7_new());
    if (!p7 || !PKCS7_set_type(p7.get(), NID_pkcs7_signed) || !PKCS7_content_new(p7.get(), NID_pkcs7_data)) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
        return nullptr;
    }
    tq::EvpMdPtr md = tq::pkcs7Digest(selector);
    if (!md) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_UNKNOWN_DIGEST_TYPE);
        return nullptr;
    }
    tq::SignerInfoPtr si(PKCS7_SIGNER_INFO_new());
    if (!si || !ASN1_INTEGER_set(si->version, 1) || !tq::pkcs7SetIssuerAndSerial(si.get(), cert)) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
        return nullptr;
    }
    if (!ASN1_OCTET_STRING_set(si->enc_digest, signature, signatureLength)) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_ASN1_LIB);
        return nullptr;
    }
    if (!tq::pkcs7SetAlgorithm(si->digest_alg, EVP_MD_get_type(md.get())) ||
        !tq::pkcs7SetAlgorithm(si->digest_enc_alg, EVP_PKEY_get_base_id(certKey)) ||
        !PKCS7_add_signer(p7.get(), si.get())) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
        return nullptr;
    }
    si.release();
    if (!(flags & PKCS7_NOCERTS) && !PKCS7_add_certificate(p7.get(), cert)) return nullptr;
    tq::BioPtr chain(tq::pkcs7OpenChain(p7.get()));
    if (!chain || (contentLength > 0 && BIO_write(chain.get(), content, contentLength) != contentLength))
        return nullptr;
    (void)BIO_flush(chain.get());
    return tq::pkcs7Finish(p7, chain.get(), flags);
}

}  // namespace

extern "C" {

int TQXCrypt_Sign(TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *privateKey, TQXCRYPT_HANDLE *store,
                  const unsigned char *data, uint64_t dataLength, int flags, int hashSelector,
                  TQXCRYPT_HANDLE **pkcs7) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = tq::objectOf(certificate, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc != TQ_RTN_OK) return rc;
    EVP_PKEY *keyObject = nullptr;
    if ((rc = tq::objectOf(privateKey, TQXCRYPT_KIND_PRIVATEKEY, &keyObject)) != TQ_RTN_OK) return rc;
    if (!pkcs7) return TQ_RTN_BAD_ARGUMENT;
    *pkcs7 = nullptr;
    if (!tq::fitsInt(dataLength) || (!data && dataLength)) return TQ_RTN_BAD_ARGUMENT;
    int builderFlags = tq::pkcs7BuilderFlags(flags);
    tq::CertStack extra;
    if (!(flags & TQXCRYPT_SIGN_NOCERTS) && (flags & TQXCRYPT_SIGN_CHAIN)) {
        rc = chainFromStore(store, cert, extra);
        if (rc != TQ_RTN_OK) return rc;
    }
    tq::clearErrors();
    PKCS7 *message = tqxCrypt_PKCS7_sign(cert, privateKey, extra.get(), data,
                                         static_cast<unsigned int>(dataLength), builderFlags, hashSelector);
    return handOut(message, pkcs7);
}
TQ_CATCH_CODE

int tqxCrypt_GeneratePKCS7WithHandle(const unsigned char *signature, unsigned int signatureLength,
                                     TQXCRYPT_HANDLE *certificate, const unsigned char *content,
                                     uint64_t contentLength, int flags, int hashSelector,
                                     TQXCRYPT_HANDLE **pkcs7) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = tq::objectOf(certificate, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!pkcs7) return TQ_RTN_BAD_ARGUMENT;
    *pkcs7 = nullptr;
    if (signatureLength > static_cast<unsigned int>(INT_MAX) || (!signature && signatureLength) ||
        !tq::fitsInt(contentLength) || (!content && contentLength))
        return TQ_RTN_BAD_ARGUMENT;
    tq::clearErrors();
    PKCS7 *message =
        wrapSignature(signature, static_cast<int>(signatureLength), cert, content,
                      static_cast<int>(contentLength), tq::pkcs7BuilderFlags(flags), hashSelector);
    return handOut(message, pkcs7);
}
TQ_CATCH_CODE

int tqxCrypt_GeneratePKCS7(const unsigned char *signature, int signatureLength, const char *certificateText,
                           int certificateTextLength, const unsigned char *content, uint64_t contentLength,
                           int flags, int hashSelector, TQXCRYPT_HANDLE **pkcs7) try {
    tq::ErrorQueueScope scope;
    if (signatureLength < 0 || certificateTextLength < 0) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *cert = nullptr;
    int rc = TQXCrypt_DecodeObject(&cert, TQXCRYPT_KIND_CERTIFICATE,
                                   reinterpret_cast<const unsigned char *>(certificateText),
                                   static_cast<size_t>(certificateTextLength), TQXCRYPT_DECODE_TEXT, nullptr);
    if (rc != TQ_RTN_OK) return rc;
    tq::HandlePtr owner(cert);
    return tqxCrypt_GeneratePKCS7WithHandle(signature, static_cast<unsigned int>(signatureLength), cert,
                                            content, contentLength, flags, hashSelector, pkcs7);
}
TQ_CATCH_CODE

int TQXCrypt_ComposeSignature(TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *signerInfo, int,
                              TQXCRYPT_HANDLE **pkcs7) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = tq::objectOf(certificate, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc != TQ_RTN_OK) return rc;
    PKCS7_SIGNER_INFO *given = nullptr;
    if ((rc = tq::objectOf(signerInfo, TQXCRYPT_KIND_SIGNERINFO, &given)) != TQ_RTN_OK) return rc;
    if (!pkcs7) return TQ_RTN_BAD_ARGUMENT;
    *pkcs7 = nullptr;
    // The message must not share the caller's object.
    tq::SignerInfoPtr copy;
    if ((rc = tq::copySignerInfo(given, copy)) != TQ_RTN_OK) return rc;
    tq::Pkcs7Ptr p7(PKCS7_new());
    // Without content it is still a data content info, or it could not be
    // encoded.
    if (!p7 || !PKCS7_set_type(p7.get(), NID_pkcs7_signed) || !PKCS7_content_new(p7.get(), NID_pkcs7_data) ||
        !PKCS7_add_signer(p7.get(), copy.get()))
        return TQ_RTN_FAILED;
    copy.release();
    if (!PKCS7_add_certificate(p7.get(), cert)) return TQ_RTN_FAILED;
    PKCS7_set_detached(p7.get(), 1);
    return tq::pkcs7Handle(p7.release(), pkcs7);
}
TQ_CATCH_CODE

int TQXCrypt_CodeSignHash(TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *privateKey, TQXCRYPT_HANDLE *store,
                          const unsigned char *data, uint64_t dataLength, int, const char *description,
                          const char *url, void *, TQXCRYPT_HANDLE **pkcs7) try {
    tq::ErrorQueueScope scope;
    X509_STORE *storeObject = nullptr;
    int rc = tq::objectOf(store, TQXCRYPT_KIND_STORE, &storeObject);
    if (rc != TQ_RTN_OK) return rc;
    X509 *cert = nullptr;
    if ((rc = tq::objectOf(certificate, TQXCRYPT_KIND_CERTIFICATE, &cert)) != TQ_RTN_OK) return rc;
    EVP_PKEY *keyObject = nullptr;
    if ((rc = tq::objectOf(privateKey, TQXCRYPT_KIND_PRIVATEKEY, &keyObject)) != TQ_RTN_OK) return rc;
    if (!pkcs7) return TQ_RTN_BAD_ARGUMENT;
    *pkcs7 = nullptr;
    if (!tq::fitsInt(dataLength) || (!data && dataLength)) return TQ_RTN_BAD_ARGUMENT;
    tq::BioPtr in(BIO_new_mem_buf(data ? data : reinterpret_cast<const unsigned char *>(""),
                                  static_cast<int>(dataLength)));
    if (!in) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    tq::CertStack extra;
    if ((rc = chainFromStore(store, cert, extra)) != TQ_RTN_OK) return rc;
    tq::clearErrors();
    PKCS7 *message = tqxCrypt_PKCS7_codesign(cert, privateKey, extra.get(), in.get(), description, url,
                                             nullptr, PKCS7_BINARY | PKCS7_NOATTR | PKCS7_DETACHED);
    return handOut(message, pkcs7);
}
TQ_CATCH_CODE

}  // extern "C"

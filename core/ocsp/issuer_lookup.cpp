// Finding a certificate's issuer among the certificates of a trust store.
#include "ocsp_internal.h"

extern "C" TQ_API int TQXCrypt_GetCertIssuer(TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *store,
                                             TQXCRYPT_HANDLE **issuer) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    X509_STORE *x509Store = nullptr;
    int rc = tq::objectOf(certificate, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc == TQ_RTN_OK) rc = tq::objectOf(store, TQXCRYPT_KIND_STORE, &x509Store);
    if (rc != TQ_RTN_OK) return rc;
    if (!issuer) return TQ_RTN_BAD_ARGUMENT;

    tq::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx || X509_STORE_CTX_init(ctx.get(), x509Store, cert, nullptr) != 1) return TQ_RTN_NO_ISSUER;
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_SMIME_SIGN);
    X509 *found = nullptr;
    if (X509_STORE_CTX_get1_issuer(&found, ctx.get(), cert) != 1 || !found) return TQ_RTN_NO_ISSUER;
    tq::X509Ptr owned(found);
    rc = tqxCryptCreateHandle(issuer, TQXCRYPT_KIND_CERTIFICATE, owned.get(), tqxCryptASN1CertificateMethod(),
                              nullptr);
    if (rc == TQ_RTN_OK) owned.release();
    return rc;
}
TQ_CATCH_CODE

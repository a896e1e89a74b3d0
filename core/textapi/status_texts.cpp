// A certificate's OCSP status from texts.
#include "textapi_internal.h"

#include "tqxcrypt_ocsp.h"
#include "tqxcrypt_store.h"

extern "C" int TQCrypt_OCSPVerifyCert(const char *requestor, const char *privateKey, const char *password,
                                      const char *certificate, const char *caStore, const char *responder,
                                      const char *url) try {
    tq::ErrorQueueScope scope;
    if (!certificate || !caStore || !url) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr requestorCert, key, cert, store, responderCert;
    int rc = TQ_RTN_OK;
    if (requestor) rc = tq::decodeText(requestor, TQXCRYPT_KIND_CERTIFICATE, nullptr, requestorCert);
    if (rc == TQ_RTN_OK && privateKey)
        rc = tq::decodeText(privateKey, TQXCRYPT_KIND_PRIVATEKEY, password, key);
    if (rc == TQ_RTN_OK) rc = tq::decodeText(certificate, TQXCRYPT_KIND_CERTIFICATE, nullptr, cert);
    if (rc == TQ_RTN_OK && responder)
        rc = tq::decodeText(responder, TQXCRYPT_KIND_CERTIFICATE, nullptr, responderCert);
    TQXCRYPT_HANDLE *made = nullptr;
    if (rc == TQ_RTN_OK) rc = TQXCrypt_LoadStore(&made, caStore, nullptr);
    store.reset(made);
    if (rc == TQ_RTN_OK)
        rc = TQXCrypt_OCSPVerifyCert(requestorCert.get(), key.get(), cert.get(), store.get(),
                                     responderCert.get(), url);
    return rc;
}
TQ_CATCH_CODE

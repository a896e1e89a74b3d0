// Checking a certificate by OCSP with a requestor identity held on the
// token: the request is signed there, the rest is the crypto core's client.
#include <cstring>

#include "bridge_internal.h"
#include "tqp11certs.h"
#include "tqxcrypt_ocsp.h"
#include "tqxcrypt_store.h"

namespace {

int decodeCertificate(const char *text, tq::HandlePtr &certificate) {
    if (!text || !*text) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc =
        TQXCrypt_DecodeObject(&made, TQXCRYPT_KIND_CERTIFICATE, reinterpret_cast<const unsigned char *>(text),
                              std::strlen(text), TQXCRYPT_DECODE_TEXT, nullptr);
    certificate.reset(made);
    return rc;
}

}  // namespace

extern "C" {

TQ_API int TQXP11Crypt_OCSPVerifyCert(TQXP11_SESSION *session, const char *requestorLabel,
                                      const char *keyLabel, const char *certText, const char *storeText,
                                      const char *extraCertText, const char *url) try {
    tq::ErrorQueueScope scope;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXP11Crypt_ReadCertificate(session, requestorLabel, 0, &made);
    tq::HandlePtr requestor(made);
    if (rc != TQ_RTN_OK) return rc;
    tq::HandlePtr key;
    if (keyLabel) {
        made = nullptr;
        rc = TQXP11Crypt_GetPrivateKeyWithCKALabel(session, keyLabel, 0, &made);
        key.reset(made);
        if (rc != TQ_RTN_OK) return rc;
    }
    tq::HandlePtr certificate, store, responder;
    if ((rc = decodeCertificate(certText, certificate)) != TQ_RTN_OK) return rc;
    made = nullptr;
    rc = TQXCrypt_LoadStore(&made, storeText, nullptr);
    store.reset(made);
    if (rc != TQ_RTN_OK) return rc;
    if (extraCertText && (rc = decodeCertificate(extraCertText, responder)) != TQ_RTN_OK) return rc;
    return TQXCrypt_OCSPVerifyCert(requestor.get(), key.get(), certificate.get(), store.get(),
                                   responder.get(), url);
}
TQ_CATCH_CODE

}  // extern "C"

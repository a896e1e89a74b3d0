// Checking one certificate with a responder: build or take the request, sign
// it when a key is given, send it, and turn the answer into a result code.
#include "ocsp_internal.h"
#include "tqxcrypt_x509.h"

namespace tq {

namespace {

struct Parties {
    X509 *requestor = nullptr;
    TQXCRYPT_HANDLE *key = nullptr;  // the signing key, by kind alone: token keys have tables of their own
    TQXCRYPT_HANDLE *responderHandle = nullptr;
    X509 *responder = nullptr;
};

int takeParties(TQXCRYPT_HANDLE *requestor, TQXCRYPT_HANDLE *key, TQXCRYPT_HANDLE *responder, Parties *out) {
    int rc = objectOf(requestor, TQXCRYPT_KIND_CERTIFICATE, &out->requestor, Presence::Optional);
    void *keyObject = nullptr;
    if (rc == TQ_RTN_OK) rc = objectOf(key, TQXCRYPT_KIND_PRIVATEKEY, &keyObject, Presence::Optional);
    if (rc == TQ_RTN_OK)
        rc = objectOf(responder, TQXCRYPT_KIND_CERTIFICATE, &out->responder, Presence::Optional);
    if (rc != TQ_RTN_OK) return rc;
    out->key = keyObject ? key : nullptr;
    out->responderHandle = out->responder ? responder : nullptr;
    return TQ_RTN_OK;
}

OCSP_CERTID *firstCertId(OCSP_REQUEST *request) {
    OCSP_ONEREQ *single =
        OCSP_request_onereq_count(request) > 0 ? OCSP_request_onereq_get0(request, 0) : nullptr;
    return single ? OCSP_onereq_get0_id(single) : nullptr;
}

// The basic response, its signature checked with the responder's key when
// there is a responder certificate.
int basicResponse(OCSP_RESPONSE *response, const Parties &parties, OcspBasicRespPtr *basic) {
    OCSP_BASICRESP *decoded = nullptr;
    int rc;
    if (parties.responderHandle) {
        TQXCRYPT_HANDLE *keyHandle = nullptr;
        rc = TQXCrypt_CertGetPublicKey(parties.responderHandle, &keyHandle);
        if (rc != TQ_RTN_OK) return rc;
        HandlePtr key(keyHandle);
        rc = tqxCrypt_OCSP_response_verify(response, key.get(), &decoded, 0);
    } else {
        rc = tqxCrypt_OCSP_get_basicrsp(response, &decoded, 0);
    }
    basic->reset(decoded);
    return rc;
}

// The status of the first SingleResponse for the CertID.
int singleStatus(OCSP_BASICRESP *basic, OCSP_CERTID *id) {
    for (int i = 0, n = OCSP_resp_count(basic); i < n; ++i) {
        OCSP_SINGLERESP *single = OCSP_resp_get0(basic, i);
        if (tqxCrypt_CERT_ID_cmp(const_cast<OCSP_CERTID *>(OCSP_SINGLERESP_get0_id(single)), id) != 0)
            continue;
        int reason = -1;
        int status = OCSP_single_get0_status(single, &reason, nullptr, nullptr, nullptr);
        return certStatusCode(status, reason);
    }
    return TQ_RTN_OCSP_NO_MATCH;
}

// Signs (when there is a key), sends, and maps the response status. The
// request may be replaced by its signed copy.
int exchange(OCSP_REQUEST **request, const Parties &parties, const char *url, OcspResponsePtr *response) {
    if (parties.key) {
        int rc = signRequest(request, parties.requestor, parties.key);
        if (rc != TQ_RTN_OK) return rc;
    }
    OCSP_RESPONSE *answer = nullptr;
    int rc = tqxCryptSendOCSPRequest(*request, url, &answer, 0);
    if (rc != TQ_RTN_OK) return rc;
    response->reset(answer);
    return responseStatusCode(OCSP_response_status(answer));
}

int checkAnswer(OCSP_RESPONSE *response, const Parties &parties, OCSP_REQUEST *request,
                const unsigned char *nonce, size_t nonceLength) {
    OcspBasicRespPtr basic;
    int rc = basicResponse(response, parties, &basic);
    if (rc != TQ_RTN_OK) return rc;
    if (!fitsInt(nonceLength)) return TQ_RTN_BAD_ARGUMENT;
    rc =
        tqxCrypt_Validate_OCSP_RESPONSE(parties.responder, basic.get(), nonce, static_cast<int>(nonceLength));
    if (rc != TQ_RTN_OK) return rc;
    // Fetched again: signing replaced the request and its CertID.
    OCSP_CERTID *id = firstCertId(request);
    return id ? singleStatus(basic.get(), id) : TQ_RTN_FAILED;
}

}  // namespace

}  // namespace tq

extern "C" {

TQ_API int TQXCrypt_OCSPVerifyCert(TQXCRYPT_HANDLE *requestor, TQXCRYPT_HANDLE *key,
                                   TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *store,
                                   TQXCRYPT_HANDLE *responder, const char *url) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = tq::objectOf(certificate, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!url || !*url) return TQ_RTN_BAD_ARGUMENT;
    tq::Parties parties;
    rc = tq::takeParties(requestor, key, responder, &parties);
    if (rc != TQ_RTN_OK) return rc;
    unsigned char nonce[tq::kNonceLength];
    tq::OcspRequestPtr request;
    rc = tq::requestFor(certificate, store, url, nonce, &request);
    if (rc != TQ_RTN_OK) return rc;
    OCSP_REQUEST *built = request.release();
    // Signing replaces the request: the owner takes whichever comes back.
    tq::OcspResponsePtr response;
    rc = tq::exchange(&built, parties, url, &response);
    request.reset(built);
    if (rc != TQ_RTN_OK) return rc;
    return tq::checkAnswer(response.get(), parties, request.get(), nonce, tq::kNonceLength);
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_OCSPVerifyCertByOCSPReq(TQXCRYPT_HANDLE *requestHandle, TQXCRYPT_HANDLE *requestor,
                                            TQXCRYPT_HANDLE *key, TQXCRYPT_HANDLE *responder, const char *url,
                                            int, TQXCRYPT_HANDLE **out) try {
    tq::ErrorQueueScope scope;
    OCSP_REQUEST *request = nullptr;
    int rc =
        tq::objectOf(requestHandle, TQXCRYPT_KIND_OCSPREQUEST, tqxCryptASN1OCSPRequestMethod(), &request);
    if (rc != TQ_RTN_OK) return rc;
    if (!out || !url || !*url) return TQ_RTN_BAD_ARGUMENT;
    tq::Parties parties;
    rc = tq::takeParties(requestor, key, responder, &parties);
    if (rc != TQ_RTN_OK) return rc;
    tq::OwnedBlob nonce;
    rc = TQXCrypt_OCSPReqGetReqExtension(requestHandle, "OCSP Nonce", 0, nonce.get(), nullptr);
    if (rc != TQ_RTN_OK) return rc;
    if (!tq::firstCertId(request)) return TQ_RTN_FAILED;

    tq::OcspResponsePtr response;
    // The caller's handle keeps the signed request.
    rc = tq::exchange(reinterpret_cast<OCSP_REQUEST **>(&requestHandle->object), parties, url, &response);
    if (rc != TQ_RTN_OK) return rc;
    OCSP_RESPONSE *answer = response.get();
    rc = tqxCryptCreateHandle(out, TQXCRYPT_KIND_OCSPRESPONSE, answer, tqxCryptASN1OCSPResponseMethod(),
                              nullptr);
    if (rc != TQ_RTN_OK) return rc;
    response.release();
    return tq::checkAnswer(answer, parties, static_cast<OCSP_REQUEST *>(requestHandle->object),
                           nonce.size() ? nonce.data() : nullptr, nonce.size());
}
TQ_CATCH_CODE

}  // extern "C"

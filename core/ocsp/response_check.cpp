// Checking a responder's answer: its status, the basic response inside it,
// the signature over it, the responder id, the nonce and the CertID.
#include <openssl/err.h>

#include "ocsp_internal.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_store.h"

namespace tq {

namespace {

// responseStatus -> result code; 4 is unused by the protocol.
#define TQ_OCSP_RESPONSE_STATUSES(X)                                        \
    X(OCSP_RESPONSE_STATUS_SUCCESSFUL, TQ_RTN_OK)                           \
    X(OCSP_RESPONSE_STATUS_MALFORMEDREQUEST, TQ_RTN_OCSP_MALFORMED_REQUEST) \
    X(OCSP_RESPONSE_STATUS_INTERNALERROR, TQ_RTN_OCSP_INTERNAL_ERROR)       \
    X(OCSP_RESPONSE_STATUS_TRYLATER, TQ_RTN_OCSP_TRY_LATER)                 \
    X(OCSP_RESPONSE_STATUS_SIGREQUIRED, TQ_RTN_OCSP_SIG_REQUIRED)           \
    X(OCSP_RESPONSE_STATUS_UNAUTHORIZED, TQ_RTN_OCSP_UNAUTHORIZED)

// revocationReason -> result code; the others (0, 7, none) are 5020.
#define TQ_OCSP_REVOCATION_REASONS(X)                                             \
    X(OCSP_REVOKED_STATUS_KEYCOMPROMISE, TQ_RTN_REVOKED_KEY_COMPROMISE)           \
    X(OCSP_REVOKED_STATUS_CACOMPROMISE, TQ_RTN_REVOKED_CA_COMPROMISE)             \
    X(OCSP_REVOKED_STATUS_AFFILIATIONCHANGED, TQ_RTN_REVOKED_AFFILIATION_CHANGED) \
    X(OCSP_REVOKED_STATUS_SUPERSEDED, TQ_RTN_REVOKED_SUPERSEDED)                  \
    X(OCSP_REVOKED_STATUS_CESSATIONOFOPERATION, TQ_RTN_REVOKED_CESSATION)         \
    X(OCSP_REVOKED_STATUS_CERTIFICATEHOLD, TQ_RTN_REVOKED_CERTIFICATE_HOLD)       \
    X(OCSP_REVOKED_STATUS_REMOVEFROMCRL, TQ_RTN_REVOKED_REMOVE_FROM_CRL)

int encodeRespData(const void *tbs, unsigned char **out) {
    return i2d_OCSP_RESPDATA(static_cast<const OCSP_RESPDATA *>(tbs), out);
}

bool sameBytes(const ASN1_STRING *a, const ASN1_STRING *b) {
    return a && b && ASN1_STRING_length(a) == ASN1_STRING_length(b) &&
           std::memcmp(ASN1_STRING_get0_data(a), ASN1_STRING_get0_data(b),
                       static_cast<size_t>(ASN1_STRING_length(a))) == 0;
}

// The contents of bytes that are exactly one DER OCTET STRING.
bool octetStringContents(const unsigned char *bytes, size_t length, Bytes *contents) {
    if (!fitsInt(length) || length == 0) return false;
    const unsigned char *p = bytes;
    Asn1OctetStringPtr os(d2i_ASN1_OCTET_STRING(nullptr, &p, static_cast<long>(length)));
    if (!os || p != bytes + length) return false;
    // DER only: the encoding must be the one OpenSSL writes back.
    if (i2d_ASN1_OCTET_STRING(os.get(), nullptr) != static_cast<int>(length)) return false;
    const unsigned char *data = ASN1_STRING_get0_data(os.get());
    contents->assign(data, data + ASN1_STRING_length(os.get()));
    return true;
}

int checkResponderId(X509 *responder, OCSP_BASICRESP *basic) {
    const ASN1_OCTET_STRING *byKey = nullptr;
    const X509_NAME *byName = nullptr;
    if (OCSP_resp_get0_id(basic, &byKey, &byName) != 1) return TQ_RTN_FAILED;
    if (byKey) {
        EvpMdPtr sha1(EVP_MD_fetch(nullptr, "SHA1", nullptr));
        if (!sha1) return TQ_RTN_NOT_SUPPORTED;
        const ASN1_BIT_STRING *key = X509_get0_pubkey_bitstr(responder);
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        if (!key || EVP_Digest(ASN1_STRING_get0_data(key), static_cast<size_t>(ASN1_STRING_length(key)),
                               digest, &digestLength, sha1.get(), nullptr) != 1)
            return TQ_RTN_FAILED;
        if (static_cast<unsigned int>(ASN1_STRING_length(byKey)) != digestLength ||
            std::memcmp(ASN1_STRING_get0_data(byKey), digest, digestLength) != 0)
            return TQ_RTN_VERIFY_FAILED;
        return TQ_RTN_OK;
    }
    if (byName)
        return X509_NAME_cmp(byName, X509_get_subject_name(responder)) == 0 ? TQ_RTN_OK
                                                                            : TQ_RTN_OCSP_RESPONDER_MISMATCH;
    return TQ_RTN_FAILED;
}

int checkNonce(OCSP_BASICRESP *basic, const unsigned char *nonce, size_t length) {
    // Responders echo the request's extnValue: the nonce as an OCTET STRING.
    Bytes expected;
    if (!octetStringContents(nonce, length, &expected)) expected.assign(nonce, nonce + length);
    int at = OCSP_BASICRESP_get_ext_by_NID(basic, NID_id_pkix_OCSP_Nonce, -1);
    if (at < 0) return TQ_RTN_OCSP_NONCE;
    const ASN1_OCTET_STRING *value = X509_EXTENSION_get_data(OCSP_BASICRESP_get_ext(basic, at));
    if (!value) return TQ_RTN_OCSP_NONCE;
    const unsigned char *v = ASN1_STRING_get0_data(value);
    size_t vLength = static_cast<size_t>(ASN1_STRING_length(value));
    Bytes inner;
    if (vLength == expected.size() && (expected.empty() || std::memcmp(v, expected.data(), vLength) == 0))
        return TQ_RTN_OK;
    if (octetStringContents(v, vLength, &inner) && inner == expected) return TQ_RTN_OK;
    return TQ_RTN_OCSP_NONCE;
}

}  // namespace

int responseStatusCode(int status) {
    switch (status) {
#define TQ_STATUS_CASE(status, code) \
    case status:                     \
        return code;
        TQ_OCSP_RESPONSE_STATUSES(TQ_STATUS_CASE)
#undef TQ_STATUS_CASE
    default:
        return TQ_RTN_OCSP_BAD_STATUS;
    }
}

int certStatusCode(int status, int reason) {
    if (status == V_OCSP_CERTSTATUS_GOOD) return TQ_RTN_OK;
    if (status != V_OCSP_CERTSTATUS_REVOKED) return TQ_RTN_OCSP_STATUS_UNKNOWN;
    switch (reason) {
#define TQ_REASON_CASE(reason, code) \
    case reason:                     \
        return code;
        TQ_OCSP_REVOCATION_REASONS(TQ_REASON_CASE)
#undef TQ_REASON_CASE
    default:
        return TQ_RTN_REVOKED;
    }
}

}  // namespace tq

extern "C" {

TQ_API int tqxCrypt_OCSP_get_basicrsp(OCSP_RESPONSE *response, OCSP_BASICRESP **basic, int) try {
    tq::ErrorQueueScope scope;
    if (!response || !basic) return TQ_RTN_BAD_ARGUMENT;
    OCSP_BASICRESP *decoded = OCSP_response_get1_basic(response);
    unsigned long reason = decoded ? 0 : tq::newestError();
    if (!decoded) {
        if (ERR_GET_LIB(reason) == ERR_LIB_OCSP && ERR_GET_REASON(reason) == OCSP_R_NO_RESPONSE_DATA)
            return TQ_RTN_OCSP_NO_BODY;
        if (ERR_GET_LIB(reason) == ERR_LIB_OCSP && ERR_GET_REASON(reason) == OCSP_R_NOT_BASIC_RESPONSE)
            return TQ_RTN_OCSP_NOT_BASIC;
        return TQ_RTN_OCSP_BAD_RESPONSE;
    }
    *basic = decoded;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int tqxCrypt_OCSP_basic_response_verify(OCSP_BASICRESP *basic, TQXCRYPT_HANDLE *key) try {
    if (!basic) return TQ_RTN_BAD_ARGUMENT;
    const ASN1_OCTET_STRING *signature = OCSP_resp_get0_signature(basic);
    if (!signature || ASN1_STRING_length(signature) <= 0) return TQ_RTN_OCSP_NO_SIGNATURE;
    tq::HandlePtr leafKey;
    // The key's kind is left to the check.
    void *given = nullptr;
    int rc = tq::objectOf(key, tq::Kinds::any(), &given, tq::Presence::Optional);
    if (rc != TQ_RTN_OK) return rc;
    if (!given) {
        const STACK_OF(X509) *certs = OCSP_resp_get0_certs(basic);
        X509 *leaf = certs ? tqxCryptGetLeafCert(const_cast<STACK_OF(X509) *>(certs)) : nullptr;
        if (!leaf) return TQ_RTN_OCSP_NO_SIGNER;
        tq::EvpPkeyPtr publicKey(X509_get_pubkey(leaf));
        if (!publicKey) return TQ_RTN_FAILED;
        TQXCRYPT_HANDLE *h = nullptr;
        rc = tqxCryptCreateHandle(&h, TQXCRYPT_KIND_PUBLICKEY, publicKey.get(), tqxCryptASN1PublicKeyMethod(),
                                  const_cast<TQXCRYPT_KEY_METHOD *>(tqxCryptRSAPubMethod()));
        if (rc != TQ_RTN_OK) return rc;
        publicKey.release();
        leafKey.reset(h);
        key = h;
    }
    int ok =
        tqxCrypt_ASN1_verify(tq::encodeRespData, const_cast<X509_ALGOR *>(OCSP_resp_get0_tbs_sigalg(basic)),
                             const_cast<ASN1_OCTET_STRING *>(signature),
                             const_cast<OCSP_RESPDATA *>(OCSP_resp_get0_respdata(basic)), key);
    return ok > 0 ? TQ_RTN_OK : TQ_RTN_SIGN_FAILED;
}
TQ_CATCH_CODE

TQ_API int tqxCrypt_OCSP_response_verify(OCSP_RESPONSE *response, TQXCRYPT_HANDLE *key,
                                         OCSP_BASICRESP **basic, int flags) try {
    tq::ErrorQueueScope scope;
    OCSP_BASICRESP *decoded = nullptr;
    int rc = tqxCrypt_OCSP_get_basicrsp(response, &decoded, flags);
    if (rc != TQ_RTN_OK) return rc;
    tq::OcspBasicRespPtr owned(decoded);
    rc = tqxCrypt_OCSP_basic_response_verify(decoded, key);
    if (rc == TQ_RTN_OK && basic) *basic = owned.release();
    return rc;
}
TQ_CATCH_CODE

TQ_API int tqxCrypt_Validate_OCSP_RESPONSE(X509 *responder, OCSP_BASICRESP *basic, const unsigned char *nonce,
                                           int nonceLength) try {
    tq::ErrorQueueScope scope;
    if (!basic || nonceLength < 0) return TQ_RTN_BAD_ARGUMENT;
    if (responder) {
        int rc = tq::checkResponderId(responder, basic);
        if (rc != TQ_RTN_OK) return rc;
    }
    if (!nonce) return TQ_RTN_OK;
    return tq::checkNonce(basic, nonce, static_cast<size_t>(nonceLength));
}
TQ_CATCH_CODE

TQ_API int tqxCrypt_CERT_ID_cmp(OCSP_CERTID *a, OCSP_CERTID *b) try {
    if (!a || !b) return -1;
    ASN1_OCTET_STRING *nameA = nullptr, *nameB = nullptr, *keyA = nullptr, *keyB = nullptr;
    ASN1_INTEGER *serialA = nullptr, *serialB = nullptr;
    if (OCSP_id_get0_info(&nameA, nullptr, &keyA, &serialA, a) != 1 ||
        OCSP_id_get0_info(&nameB, nullptr, &keyB, &serialB, b) != 1)
        return -1;
    if (!tq::sameBytes(nameA, nameB) || !tq::sameBytes(keyA, keyB)) return 1;
    // The sign is part of the number.
    return ASN1_INTEGER_cmp(serialA, serialB) == 0 ? 0 : 1;
}
TQ_CATCH_RETURN(-1)

}  // extern "C"

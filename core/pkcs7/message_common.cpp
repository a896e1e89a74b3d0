// What the PKCS#7 builders, verifier, accessors and envelopes share: option
// bits, digests by selector, reason-to-code maps and handle checks.
#include "pkcs7_internal.h"

#include <openssl/x509_vfy.h>

#include "keys_internal.h"

namespace {

// Newest queued reason of a failed verification and its result code; the
// X.509 verification errors and our revocation numbers travel as reasons.
struct ReasonCode {
    int reason;
    int code;
};
constexpr ReasonCode kVerifyReasons[] = {
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, TQ_RTN_NO_ISSUER},
    {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, TQ_RTN_NO_ISSUER},
    {X509_V_ERR_UNABLE_TO_GET_CRL, TQ_RTN_NO_CRL},
    {X509_V_ERR_CERT_SIGNATURE_FAILURE, TQ_RTN_CERT_SIGNATURE},
    {X509_V_ERR_CERT_NOT_YET_VALID, TQ_RTN_CERT_NOT_YET_VALID},
    {X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD, TQ_RTN_CERT_NOT_YET_VALID},
    {X509_V_ERR_CERT_HAS_EXPIRED, TQ_RTN_CERT_EXPIRED},
    {X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD, TQ_RTN_CERT_EXPIRED},
    {X509_V_ERR_CRL_NOT_YET_VALID, TQ_RTN_CRL_NOT_YET_VALID},
    {X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD, TQ_RTN_CRL_NOT_YET_VALID},
    {X509_V_ERR_CRL_HAS_EXPIRED, TQ_RTN_CRL_EXPIRED},
    {X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD, TQ_RTN_CRL_EXPIRED},
    {X509_V_ERR_CERT_REVOKED, TQ_RTN_REVOKED},
    {X509_V_ERR_CERT_UNTRUSTED, TQ_RTN_CERT_REJECTED},
    {X509_V_ERR_CERT_REJECTED, TQ_RTN_CERT_REJECTED},
    {X509_V_ERR_KEYUSAGE_NO_CERTSIGN, TQ_RTN_KEY_USAGE},
    {PKCS7_R_DIGEST_FAILURE, TQ_RTN_VERIFY_FAILED},
    {PKCS7_R_OPERATION_NOT_SUPPORTED_ON_THIS_TYPE, TQ_RTN_VERIFY_FAILED},
    {PKCS7_R_SIGNATURE_FAILURE, TQ_RTN_VERIFY_FAILED},
    {PKCS7_R_UNABLE_TO_FIND_CERTIFICATE, TQ_RTN_NO_SIGNER_CERT},
    {PKCS7_R_NO_CONTENT, TQ_RTN_NO_CONTENT},
    {PKCS7_R_NO_SIGNATURES_ON_DATA, TQ_RTN_NOT_SIGNED},
    {TQ_V_ERR_REVOKED_UNSPECIFIED, TQ_RTN_REVOKED},
    {TQ_V_ERR_REVOKED_KEY_COMPROMISE, TQ_RTN_REVOKED_KEY_COMPROMISE},
    {TQ_V_ERR_REVOKED_CA_COMPROMISE, TQ_RTN_REVOKED_CA_COMPROMISE},
    {TQ_V_ERR_REVOKED_AFFILIATION_CHANGED, TQ_RTN_REVOKED_AFFILIATION_CHANGED},
    {TQ_V_ERR_REVOKED_SUPERSEDED, TQ_RTN_REVOKED_SUPERSEDED},
    {TQ_V_ERR_REVOKED_CESSATION, TQ_RTN_REVOKED_CESSATION},
    {TQ_V_ERR_REVOKED_CERTIFICATE_HOLD, TQ_RTN_REVOKED_CERTIFICATE_HOLD},
    // removeFromCRL answers with the plain revoked code here.
    {TQ_V_ERR_REVOKED_REMOVE_FROM_CRL, TQ_RTN_REVOKED},
};

int newestReason() {
    unsigned long e = tq::newestError();
    return e ? ERR_GET_REASON(e) : 0;
}

}  // namespace

void tq::clearParkedKeys(PKCS7 *message) {
    if (!message) return;
    STACK_OF(PKCS7_SIGNER_INFO) *infos = nullptr;
    switch (tq::pkcs7Type(message)) {
    case NID_pkcs7_signed:
        infos = message->d.sign ? message->d.sign->signer_info : nullptr;
        break;
    case NID_pkcs7_signedAndEnveloped:
        infos = message->d.signed_and_enveloped ? message->d.signed_and_enveloped->signer_info : nullptr;
        break;
    default:
        return;
    }
    for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(infos); ++i)
        sk_PKCS7_SIGNER_INFO_value(infos, i)->pkey = nullptr;
}

int tq::pkcs7BuilderFlags(int apiFlags) {
    int flags = PKCS7_BINARY | PKCS7_NOATTR;
    if (apiFlags & TQXCRYPT_DETACHED) flags |= PKCS7_DETACHED;
    if (apiFlags & TQXCRYPT_SIGN_NOCERTS) flags |= PKCS7_NOCERTS;
    return flags;
}

tq::EvpMdPtr tq::pkcs7Digest(int selector) {
    if (selector < 0) return nullptr;
    const tq::HashRow *row = tq::hashRow(static_cast<unsigned>(selector));
    if (!row) return nullptr;
    return tq::fetchDigest(*row);
}

int tq::pkcs7SignFailure() {
    int reason = newestReason();
    if (reason == ERR_GET_REASON(ERR_R_MALLOC_FAILURE)) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (reason == PKCS7_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE) return TQ_RTN_KEY_MISMATCH;
    return TQ_RTN_SIGN_FAILED;
}

int tq::pkcs7VerifyFailure() {
    int reason = newestReason() & 0xFFF;
    for (const ReasonCode &rc : kVerifyReasons)
        if (rc.reason == reason) return rc.code;
    return TQ_RTN_FAILED;
}

STACK_OF(X509) **tq::pkcs7CertList(PKCS7 *p7, bool *typed) {
    *typed = true;
    switch (tq::pkcs7Type(p7)) {
    case NID_pkcs7_signed:
        if (p7->d.sign) return &p7->d.sign->cert;
        break;
    case NID_pkcs7_signedAndEnveloped:
        if (p7->d.signed_and_enveloped) return &p7->d.signed_and_enveloped->cert;
        break;
    default:
        break;
    }
    *typed = false;
    return nullptr;
}

int tq::pkcs7Handle(PKCS7 *message, TQXCRYPT_HANDLE **out) {
    int rc = tqxCryptCreateHandle(out, TQXCRYPT_KIND_PKCS7, message, tqxCryptASN1PKCS7Method(), nullptr);
    if (rc != TQ_RTN_OK) PKCS7_free(message);
    return rc;
}

int tq::copySignerInfo(const PKCS7_SIGNER_INFO *si, SignerInfoPtr &copy) {
    int length = i2d_PKCS7_SIGNER_INFO(si, nullptr);
    if (length <= 0) return TQ_RTN_BAD_FORMAT;
    TqMem der = tqAlloc(static_cast<size_t>(length));
    if (!der) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    unsigned char *w = der.get();
    if (i2d_PKCS7_SIGNER_INFO(si, &w) != length) return TQ_RTN_BAD_FORMAT;
    const unsigned char *r = der.get();
    copy.reset(d2i_PKCS7_SIGNER_INFO(nullptr, &r, length));
    return copy ? TQ_RTN_OK : TQ_RTN_BAD_FORMAT;
}

int tq::certHandle(X509 *cert, TQXCRYPT_HANDLE **out) {
    if (!X509_up_ref(cert)) return TQ_RTN_FAILED;
    int rc =
        tqxCryptCreateHandle(out, TQXCRYPT_KIND_CERTIFICATE, cert, tqxCryptASN1CertificateMethod(), nullptr);
    if (rc != TQ_RTN_OK) X509_free(cert);
    return rc;
}

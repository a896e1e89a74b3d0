// Building a request for one certificate with a fresh nonce, and signing it
// through a key handle's method table (so a token key signs on its token).
#include <openssl/asn1t.h>
#include <openssl/rand.h>

#include "ocsp_internal.h"
#include "tqxcrypt_keys.h"

namespace tq {

// OpenSSL 3.0 has no setter for a request's optional signature, and its own
// signer adds a requestorName: the request is re-read through a mirror of
// its ASN.1 shape whose signature field is ours to fill.
struct TqOcspSignature {
    X509_ALGOR *algorithm;
    ASN1_BIT_STRING *signature;
    STACK_OF(X509) *certs;
};
struct TqOcspRequest {
    OCSP_REQINFO *tbsRequest;
    TqOcspSignature *optionalSignature;
};

// clang-format off
ASN1_SEQUENCE(TqOcspSignature) = {
    ASN1_SIMPLE(TqOcspSignature, algorithm, X509_ALGOR),
    ASN1_SIMPLE(TqOcspSignature, signature, ASN1_BIT_STRING),
    ASN1_EXP_SEQUENCE_OF_OPT(TqOcspSignature, certs, X509, 0),
} ASN1_SEQUENCE_END(TqOcspSignature)

ASN1_SEQUENCE(TqOcspRequest) = {
    ASN1_SIMPLE(TqOcspRequest, tbsRequest, OCSP_REQINFO),
    ASN1_EXP_OPT(TqOcspRequest, optionalSignature, TqOcspSignature, 0),
} ASN1_SEQUENCE_END(TqOcspRequest)
DECLARE_ASN1_FUNCTIONS(TqOcspSignature)
DECLARE_ASN1_FUNCTIONS(TqOcspRequest)
IMPLEMENT_ASN1_FUNCTIONS(TqOcspSignature)
IMPLEMENT_ASN1_FUNCTIONS(TqOcspRequest);
// clang-format on

namespace {
using MirrorPtr = OsslPtr<TqOcspRequest, TqOcspRequest_free>;
using SignaturePtr = OsslPtr<TqOcspSignature, TqOcspSignature_free>;

int encodeReqInfo(const void *tbs, unsigned char **out) {
    return i2d_OCSP_REQINFO(static_cast<const OCSP_REQINFO *>(tbs), out);
}

// Re-reads DER of one ASN.1 type as another of the same shape.
template <class To, class From>
To *recode(const From *from, int (*i2d)(const From *, unsigned char **),
           To *(*d2i)(To **, const unsigned char **, long)) {
    unsigned char *der = nullptr;
    int n = i2d(from, &der);
    if (n <= 0) return nullptr;
    OsslBytes owned(der);
    const unsigned char *p = der;
    return d2i(nullptr, &p, n);
}

}  // namespace

int makeNonce(unsigned char (&nonce)[kNonceLength]) {
    return RAND_bytes(nonce, kNonceLength) == 1 ? TQ_RTN_OK : TQ_RTN_FAILED;
}

int certIdDigest(EvpMdPtr *digest) {
    digest->reset(EVP_MD_fetch(nullptr, "SHA1", nullptr));
    if (!*digest) digest->reset(EVP_MD_fetch(nullptr, "MD5", nullptr));
    return *digest ? TQ_RTN_OK : TQ_RTN_NOT_SUPPORTED;
}

int signRequest(OCSP_REQUEST **request, X509 *requestor, TQXCRYPT_HANDLE *key, unsigned selector) {
    MirrorPtr mirror(
        recode(static_cast<const OCSP_REQUEST *>(*request), i2d_OCSP_REQUEST, d2i_TqOcspRequest));
    SignaturePtr signature(TqOcspSignature_new());
    if (!mirror || !signature) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (requestor) {
        signature->certs = sk_X509_new_null();
        if (!signature->certs || !sk_X509_push(signature->certs, requestor))
            return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        X509_up_ref(requestor);
    }
    if (tqxCrypt_ASN1_sign(encodeReqInfo, signature->algorithm, nullptr, signature->signature,
                           mirror->tbsRequest, key, selector) <= 0)
        return TQ_RTN_SIGN_FAILED;
    TqOcspSignature_free(mirror->optionalSignature);
    mirror->optionalSignature = signature.release();
    OCSP_REQUEST *signed_ =
        recode(static_cast<const TqOcspRequest *>(mirror.get()), i2d_TqOcspRequest, d2i_OCSP_REQUEST);
    if (!signed_) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    OCSP_REQUEST_free(*request);
    *request = signed_;
    return TQ_RTN_OK;
}

int requestSignature(const OCSP_REQUEST *request, X509AlgorPtr *algorithm, Asn1BitStringPtr *value,
                     CertStack *certs) {
    MirrorPtr mirror(recode(request, i2d_OCSP_REQUEST, d2i_TqOcspRequest));
    if (!mirror) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    TqOcspSignature *signature = mirror->optionalSignature;
    if (!signature) return TQ_RTN_OCSP_NO_SIGNATURE;
    algorithm->reset(signature->algorithm);
    value->reset(signature->signature);
    certs->reset(signature->certs ? signature->certs : sk_X509_new_null());
    signature->algorithm = nullptr;
    signature->signature = nullptr;
    signature->certs = nullptr;
    return *certs ? TQ_RTN_OK : TQ_RTN_MEMORY_ALLOCATE_FAIL;
}

}  // namespace tq

extern "C" TQ_API OCSP_REQUEST *tqxCrypt_CreateOCSPRequest(X509 *, X509 *issuer, X509 *certificate,
                                                           const EVP_MD *digest, const unsigned char *nonce,
                                                           int nonceLength, const char *,
                                                           OCSP_CERTID **certId) try {
    if (!issuer || !certificate || !digest || nonceLength < 0 || (nonceLength > 0 && !nonce)) return nullptr;
    tq::OcspRequestPtr request(OCSP_REQUEST_new());
    if (!request ||
        OCSP_request_add1_nonce(request.get(), const_cast<unsigned char *>(nonce), nonceLength) != 1)
        return nullptr;
    OCSP_CERTID *id = OCSP_cert_id_new(digest, X509_get_subject_name(issuer), X509_get0_pubkey_bitstr(issuer),
                                       X509_get_serialNumber(certificate));
    if (!id) return nullptr;
    if (!OCSP_request_add0_id(request.get(), id)) {
        OCSP_CERTID_free(id);
        return nullptr;
    }
    if (certId) *certId = id;
    return request.release();
}
TQ_CATCH_EMPTY

namespace tq {

int requestFor(TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *store, const char *url,
               unsigned char (&nonce)[kNonceLength], OcspRequestPtr *out) {
    X509 *cert = static_cast<X509 *>(certificate->object);
    EvpMdPtr digest;
    int rc = certIdDigest(&digest);
    if (rc != TQ_RTN_OK) return rc;
    TQXCRYPT_HANDLE *issuerHandle = nullptr;
    rc = TQXCrypt_GetCertIssuer(certificate, store, &issuerHandle);
    if (rc != TQ_RTN_OK) return rc;
    HandlePtr issuer(issuerHandle);
    if (makeNonce(nonce) != TQ_RTN_OK) return TQ_RTN_FAILED;
    out->reset(tqxCrypt_CreateOCSPRequest(nullptr, static_cast<X509 *>(issuer->object), cert, digest.get(),
                                          nonce, kNonceLength, url, nullptr));
    return *out ? TQ_RTN_OK : TQ_RTN_FAILED;
}

}  // namespace tq

extern "C" TQ_API int TQXCrypt_CreateOCSPRequest(TQXCRYPT_HANDLE *, TQXCRYPT_HANDLE *certificate,
                                                 TQXCRYPT_HANDLE *store, const char *url, int,
                                                 TQXCRYPT_HANDLE **out) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = tq::objectOf(certificate, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!out || !url || !*url) return TQ_RTN_BAD_ARGUMENT;
    unsigned char nonce[tq::kNonceLength];
    tq::OcspRequestPtr request;
    rc = tq::requestFor(certificate, store, url, nonce, &request);
    if (rc != TQ_RTN_OK) return rc;
    rc = tqxCryptCreateHandle(out, TQXCRYPT_KIND_OCSPREQUEST, request.get(), tqxCryptASN1OCSPRequestMethod(),
                              nullptr);
    if (rc == TQ_RTN_OK) request.release();
    return rc;
}
TQ_CATCH_CODE

// What the sign and verify slots of the certificate, request and CRL tables
// sign and check, the two dispatchers through a handle's table, and the two
// steps of a request signed outside the library.
#include <openssl/x509.h>

#include "encoding_internal.h"
#include "keys_internal.h"
#include "ocsp_internal.h"
#include "tqxcrypt_build.h"
#include "tqxcrypt_store.h"
#include "x509_internal.h"

namespace {

constexpr unsigned kSelectorBits = 0x0F;

// Signing re-encodes the to-be-signed part from its fields: a changed
// structure signs what it now holds.
int certTbs(const void *object, unsigned char **out) {
    return i2d_re_X509_tbs(static_cast<X509 *>(const_cast<void *>(object)), out);
}
int requestTbs(const void *object, unsigned char **out) {
    return i2d_re_X509_REQ_tbs(static_cast<X509_REQ *>(const_cast<void *>(object)), out);
}

// Verifying checks the bytes the structure encodes to: the first element of
// its whole DER (the original encoding of a decoded, unchanged structure).
template <class T, int (*I2d)(const T *, unsigned char **)>
int encodedTbs(const void *object, unsigned char **out) {
    unsigned char *whole = nullptr;
    int n = I2d(static_cast<const T *>(object), &whole);
    if (n <= 0) return -1;
    tq::OsslBytes owner(whole);
    const unsigned char *p = whole;
    long length = 0;
    int tag = 0, cls = 0;
    if (ASN1_get_object(&p, &length, &tag, &cls, n) & 0x80) return -1;
    const unsigned char *first = p;
    if (ASN1_get_object(&p, &length, &tag, &cls, n - (first - whole)) & 0x80) return -1;
    long size = static_cast<long>(p - first) + length;
    if (size <= 0 || size > n - (first - whole)) return -1;
    if (out) {
        std::memcpy(*out, first, static_cast<size_t>(size));
        *out += size;
    }
    return static_cast<int>(size);
}

int signedOrFailed(int openssl) { return openssl > 0 ? TQ_RTN_OK : TQ_RTN_SIGN_FAILED; }
int verifiedOrNot(int openssl) { return openssl > 0 ? TQ_RTN_OK : TQ_RTN_VERIFY_FAILED; }

int dispatch(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int keyKind, int flags, bool sign) {
    void *keyObject = nullptr, *target = nullptr;
    int rc = tq::objectOf(key, keyKind, &keyObject);
    // The object's table decides what it is.
    if (rc == TQ_RTN_OK) rc = tq::objectOf(object, tq::Kinds::any(), &target);
    if (rc != TQ_RTN_OK) return rc;
    const TQXCRYPT_ASN1_METHOD *table = object->asn1Method;
    auto *operation = table ? (sign ? table->sign : table->verify) : nullptr;
    if (!operation) return TQ_RTN_WRONG_HANDLE;
    return operation(object, key, flags);
}

int requestOf(TQXCRYPT_HANDLE *handle, X509_REQ **request) {
    return tq::objectOf(handle, TQXCRYPT_KIND_CERTREQUEST, request);
}

}  // namespace

namespace tq {

int signCertificate(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags) {
    auto *cert = static_cast<X509 *>(object->object);
    const X509_ALGOR *outer = nullptr;
    const ASN1_BIT_STRING *signature = nullptr;
    X509_get0_signature(&signature, &outer, cert);
    return signedOrFailed(tqxCrypt_ASN1_sign(
        certTbs, const_cast<X509_ALGOR *>(X509_get0_tbs_sigalg(cert)), const_cast<X509_ALGOR *>(outer),
        const_cast<ASN1_BIT_STRING *>(signature), cert, key, static_cast<unsigned>(flags) & kSelectorBits));
}

int verifyCertificate(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int) {
    auto *cert = static_cast<X509 *>(object->object);
    const X509_ALGOR *outer = nullptr;
    const ASN1_BIT_STRING *signature = nullptr;
    X509_get0_signature(&signature, &outer, cert);
    return verifiedOrNot(tqxCrypt_ASN1_verify(encodedTbs<X509, i2d_X509>, const_cast<X509_ALGOR *>(outer),
                                              const_cast<ASN1_BIT_STRING *>(signature), cert, key));
}

int signCertRequest(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags) {
    auto *request = static_cast<X509_REQ *>(object->object);
    const X509_ALGOR *algorithm = nullptr;
    const ASN1_BIT_STRING *signature = nullptr;
    X509_REQ_get0_signature(request, &signature, &algorithm);
    return signedOrFailed(tqxCrypt_ASN1_sign(requestTbs, const_cast<X509_ALGOR *>(algorithm), nullptr,
                                             const_cast<ASN1_BIT_STRING *>(signature), request, key,
                                             static_cast<unsigned>(flags) & kSelectorBits));
}

int verifyCertRequest(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int) {
    auto *request = static_cast<X509_REQ *>(object->object);
    const X509_ALGOR *algorithm = nullptr;
    const ASN1_BIT_STRING *signature = nullptr;
    X509_REQ_get0_signature(request, &signature, &algorithm);
    return verifiedOrNot(tqxCrypt_ASN1_verify(encodedTbs<X509_REQ, i2d_X509_REQ>,
                                              const_cast<X509_ALGOR *>(algorithm),
                                              const_cast<ASN1_BIT_STRING *>(signature), request, key));
}

// A CRL's inner algorithm has no accessor and a new CRL cannot be encoded
// before it is set: the library signs it, through the key's EVP_PKEY (which
// routes a token key through its RSA method).
int signCrl(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags) {
    EVP_PKEY *pkey = nullptr;
    int rc = objectOf(key, TQXCRYPT_KIND_PRIVATEKEY, &pkey);
    if (rc != TQ_RTN_OK) return rc;
    const HashRow *row = hashRow(static_cast<unsigned>(flags) & kSelectorBits);
    if (!row) return TQ_RTN_SIGN_FAILED;
    EvpMdCtxPtr context(EVP_MD_CTX_new());
    if (!context) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (EVP_DigestSignInit_ex(context.get(), nullptr, row->name, nullptr, nullptr, pkey, nullptr) != 1)
        return TQ_RTN_SIGN_FAILED;
    return signedOrFailed(X509_CRL_sign_ctx(static_cast<X509_CRL *>(object->object), context.get()));
}

int verifyCrl(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int) {
    auto *crl = static_cast<X509_CRL *>(object->object);
    const X509_ALGOR *outer = nullptr;
    const ASN1_BIT_STRING *signature = nullptr;
    X509_CRL_get0_signature(crl, &signature, &outer);
    return verifiedOrNot(tqxCrypt_ASN1_verify(encodedTbs<X509_CRL, i2d_X509_CRL>,
                                              const_cast<X509_ALGOR *>(outer),
                                              const_cast<ASN1_BIT_STRING *>(signature), crl, key));
}

// A new optional signature, with no certificates and no requestorName,
// replaces the request (and any earlier signature) in the handle.
int signOcspRequest(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags) {
    auto *request = static_cast<OCSP_REQUEST *>(object->object);
    int rc = signRequest(&request, nullptr, key, static_cast<unsigned>(flags) & kSelectorBits);
    if (rc == TQ_RTN_OK) object->object = request;
    return rc;
}

// With a key handle that holds a key, that key; otherwise the leaf of the
// certificates inside the signature.
int verifyOcspRequest(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int) {
    auto *request = static_cast<OCSP_REQUEST *>(object->object);
    X509AlgorPtr algorithm;
    Asn1BitStringPtr value;
    CertStack certs;
    int rc = requestSignature(request, &algorithm, &value, &certs);
    if (rc != TQ_RTN_OK) return rc;
    HandlePtr signer;
    // A key that is no handle at all is left to the check, which refuses it.
    void *given = nullptr;
    if (objectOf(key, Kinds::any(), &given, Presence::Optional) == TQ_RTN_OK && !given) {
        X509 *leaf = sk_X509_num(certs.get()) > 0 ? tqxCryptGetLeafCert(certs.get()) : nullptr;
        if (!leaf) return TQ_RTN_OCSP_NO_SIGNER;
        TQXCRYPT_HANDLE *made = nullptr;
        if (publicKeyHandle(EvpPkeyPtr(X509_get_pubkey(leaf)), &made) != TQ_RTN_OK) return TQ_RTN_FAILED;
        signer.reset(made);
        key = made;
    }
    return tqxCrypt_ASN1_verify(encodedTbs<OCSP_REQUEST, i2d_OCSP_REQUEST>, algorithm.get(), value.get(),
                                request, key) > 0
               ? TQ_RTN_OK
               : TQ_RTN_SIGN_FAILED;
}

int verifyOcspResponse(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags) {
    return tqxCrypt_OCSP_response_verify(static_cast<OCSP_RESPONSE *>(object->object), key, nullptr, flags);
}

}  // namespace tq

extern "C" {

int TQXCrypt_SignObject(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *privateKey, int flags) try {
    tq::ErrorQueueScope scope;
    return dispatch(object, privateKey, TQXCRYPT_KIND_PRIVATEKEY, flags, true);
}
TQ_CATCH_CODE

int TQXCrypt_VerifyObject(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *publicKey, int flags) try {
    tq::ErrorQueueScope scope;
    return dispatch(object, publicKey, TQXCRYPT_KIND_PUBLICKEY, flags, false);
}
TQ_CATCH_CODE

int tqxCrypt_ASN1_GetCertRequestHashValue(TQXCRYPT_HANDLE *handle, int flags, TQXCRYPT_BLOB *out) try {
    tq::ErrorQueueScope scope;
    X509_REQ *request = nullptr;
    int rc = requestOf(handle, &request);
    if (rc != TQ_RTN_OK) return rc;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    const X509_ALGOR *algorithm = nullptr;
    const ASN1_BIT_STRING *signature = nullptr;
    X509_REQ_get0_signature(request, &signature, &algorithm);
    // Computed whole first, then handed out by the blob rule: a short buffer
    // learns the length it needs, not a signing failure.
    tq::OwnedBlob digest;
    if (tqxCrypt_ASN1_getHashValue(requestTbs, const_cast<X509_ALGOR *>(algorithm), nullptr,
                                   const_cast<ASN1_BIT_STRING *>(signature), request,
                                   static_cast<unsigned>(flags) & kSelectorBits, digest.get()) <= 0)
        return TQ_RTN_SIGN_FAILED;
    return tq::putBlob(out, digest.data(), digest.size());
}
TQ_CATCH_CODE

int tqxCrypt_ASN1_SetCertRequestSignature(TQXCRYPT_HANDLE *handle, int, const unsigned char *bytes,
                                          int length) try {
    tq::ErrorQueueScope scope;
    X509_REQ *request = nullptr;
    int rc = requestOf(handle, &request);
    if (rc != TQ_RTN_OK) return rc;
    const ASN1_BIT_STRING *signature = nullptr;
    X509_REQ_get0_signature(request, &signature, nullptr);
    return tqxCrypt_ASN1_setSignatureValue(const_cast<ASN1_BIT_STRING *>(signature), bytes, length) > 0
               ? TQ_RTN_OK
               : TQ_RTN_SIGN_FAILED;
}
TQ_CATCH_CODE

int tqxCrypt_ASN1_SignOCSPResponse(TQXCRYPT_HANDLE *, TQXCRYPT_HANDLE *, int) try { return TQ_RTN_FAILED; }
TQ_CATCH_CODE

}  // extern "C"

// Certificate requests: made in one call, or created empty and filled; the
// two steps of a signature made outside the library.
#include "tqxcrypt_keys.h"
#include "x509_internal.h"

namespace {

int requestOf(TQXCRYPT_HANDLE *handle, X509_REQ **request) {
    return tq::objectOf(handle, TQXCRYPT_KIND_CERTREQUEST, request);
}

// A null or empty text is a name without entries.
int subjectName(const char *text, tq::X509NamePtr &out) {
    out.reset(text && *text ? tqxCrypt_GetX509Name(text) : X509_NAME_new());
    if (out) return TQ_RTN_OK;
    return text && *text ? tq::unreadText() : TQ_RTN_MEMORY_ALLOCATE_FAIL;
}

// The keys of the one-call request, in the order they are answered for. Only
// a null pointer leaves a key out (a handle without an object is refused),
// and the private key only of an unsigned request for a given public key.
int checkKeys(TQXCRYPT_HANDLE *privateKey, TQXCRYPT_HANDLE *publicKey, int flags) {
    EVP_PKEY *key = nullptr;
    bool unsigned_ = flags & TQXCRYPT_CSR_NO_SIGN;
    if (privateKey || !unsigned_ || !publicKey) {
        int rc = tq::objectOf(privateKey, TQXCRYPT_KIND_PRIVATEKEY, &key);
        if (rc != TQ_RTN_OK) return rc;
    }
    if (publicKey) {
        int rc = tq::objectOf(publicKey, TQXCRYPT_KIND_PUBLICKEY, &key);
        if (rc != TQ_RTN_OK) return rc;
    }
    // A request signed by one key for another would never verify.
    if (privateKey && publicKey) return TQXCrypt_CheckKeyPair(privateKey, publicKey);
    return TQ_RTN_OK;
}

}  // namespace

extern "C" {

int TQXCrypt_GenerateCertRequest(TQXCRYPT_HANDLE *privateKey, TQXCRYPT_HANDLE *publicKey, const char *subject,
                                 int flags, int hashSelector, TQXCRYPT_HANDLE **out) try {
    tq::ErrorQueueScope scope;
    TQXCryptInitialize();
    int rc = checkKeys(privateKey, publicKey, flags);
    if (rc != TQ_RTN_OK) return rc;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    *out = nullptr;
    tq::X509NamePtr name;
    rc = subjectName(subject, name);
    if (rc != TQ_RTN_OK) return rc;
    tq::X509ReqPtr request(X509_REQ_new());
    if (!request) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (X509_REQ_set_version(request.get(), X509_REQ_VERSION_1) != 1) return TQ_RTN_FAILED;
    tq::HandlePtr derived;
    TQXCRYPT_HANDLE *keyHandle = publicKey;
    if (!keyHandle) {
        TQXCRYPT_HANDLE *made = nullptr;
        rc = TQXCrypt_GetPublicKey(privateKey, &made);
        if (rc != TQ_RTN_OK) return rc;
        derived.reset(made);
        keyHandle = made;
    }
    if (X509_REQ_set_pubkey(request.get(), static_cast<EVP_PKEY *>(keyHandle->object)) != 1 ||
        X509_REQ_set_subject_name(request.get(), name.get()) != 1)
        return TQ_RTN_FAILED;
    TQXCRYPT_HANDLE *made = nullptr;
    rc = tq::wrapNew<X509_REQ, X509_REQ_free>(request.release(), TQXCRYPT_KIND_CERTREQUEST,
                                              tqxCryptASN1CertRequestMethod(), &made);
    if (rc != TQ_RTN_OK) return rc;
    tq::HandlePtr handle(made);
    if (!(flags & TQXCRYPT_CSR_NO_SIGN)) {
        rc = TQXCrypt_SignObject(handle.get(), privateKey, hashSelector);
        if (rc != TQ_RTN_OK) return rc;
    }
    *out = handle.release();
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_CreateCertReq(TQXCRYPT_HANDLE **out) try {
    tq::ErrorQueueScope scope;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    X509_REQ *request = X509_REQ_new();
    if (!request) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (X509_REQ_set_version(request, X509_REQ_VERSION_1) != 1) {
        X509_REQ_free(request);
        return TQ_RTN_FAILED;
    }
    return tq::wrapNew<X509_REQ, X509_REQ_free>(request, TQXCRYPT_KIND_CERTREQUEST,
                                                tqxCryptASN1CertRequestMethod(), out);
}
TQ_CATCH_CODE

int TQXCrypt_CertReqSetSubject(TQXCRYPT_HANDLE *handle, const char *subject) try {
    tq::ErrorQueueScope scope;
    X509_REQ *request = nullptr;
    int rc = requestOf(handle, &request);
    if (rc != TQ_RTN_OK) return rc;
    tq::X509NamePtr name;
    rc = subjectName(subject, name);
    if (rc != TQ_RTN_OK) return rc;
    return X509_REQ_set_subject_name(request, name.get()) == 1 ? TQ_RTN_OK : TQ_RTN_MEMORY_ALLOCATE_FAIL;
}
TQ_CATCH_CODE

int TQXCrypt_CertReqSetPublicKey(TQXCRYPT_HANDLE *handle, TQXCRYPT_HANDLE *publicKey) try {
    tq::ErrorQueueScope scope;
    X509_REQ *request = nullptr;
    EVP_PKEY *key = nullptr;
    int rc = requestOf(handle, &request);
    if (rc == TQ_RTN_OK) rc = tq::objectOf(publicKey, TQXCRYPT_KIND_PUBLICKEY, &key);
    if (rc != TQ_RTN_OK) return rc;
    return X509_REQ_set_pubkey(request, key) == 1 ? TQ_RTN_OK : TQ_RTN_FAILED;
}
TQ_CATCH_CODE

int TQXCrypt_CertReqGetHash(TQXCRYPT_HANDLE *handle, int hashSelector, TQXCRYPT_BLOB *hash) try {
    return tqxCrypt_ASN1_GetCertRequestHashValue(handle, hashSelector, hash);
}
TQ_CATCH_CODE

int TQXCrypt_CertReqSetSignature(TQXCRYPT_HANDLE *handle, const unsigned char *signature, int length,
                                 int) try {
    tq::ErrorQueueScope scope;
    X509_REQ *request = nullptr;
    int rc = requestOf(handle, &request);
    if (rc != TQ_RTN_OK) return rc;
    if (!signature || length < 16) return TQ_RTN_BAD_ARGUMENT;
    return tqxCrypt_ASN1_SetCertRequestSignature(handle, 0, signature, length);
}
TQ_CATCH_CODE

int TQXCrypt_CertReqGetPublicKey(TQXCRYPT_HANDLE *handle, TQXCRYPT_HANDLE **key) try {
    tq::ErrorQueueScope scope;
    X509_REQ *request = nullptr;
    int rc = requestOf(handle, &request);
    if (rc != TQ_RTN_OK) return rc;
    if (!key) return TQ_RTN_BAD_ARGUMENT;
    return tq::publicKeyHandle(tq::EvpPkeyPtr(X509_REQ_get_pubkey(request)), key);
}
TQ_CATCH_CODE

int TQXCrypt_CertReqGetSubject(TQXCRYPT_HANDLE *handle, int, char **text) try {
    tq::ErrorQueueScope scope;
    X509_REQ *request = nullptr;
    int rc = requestOf(handle, &request);
    if (rc != TQ_RTN_OK) return rc;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    return tqxGetCertX509Name(X509_REQ_get_subject_name(request), 0, text);
}
TQ_CATCH_CODE

}  // extern "C"

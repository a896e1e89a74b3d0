// The fields of a certificate handle, and the digest of a PKCS#7 signer.
#include <openssl/objects.h>

#include "tqxcrypt_store.h"
#include "x509_internal.h"

namespace {

int certOf(TQXCRYPT_HANDLE *handle, X509 **cert) {
    return tq::objectOf(handle, TQXCRYPT_KIND_CERTIFICATE, cert);
}

// The short name of an algorithm in a new string. An identifier without an
// object number has no name: 3.0 would answer "UNDEF" for it.
int algorithmName(const X509_ALGOR *algorithm, char **name) {
    const ASN1_OBJECT *object = nullptr;
    if (algorithm) X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    int nid = object ? OBJ_obj2nid(object) : NID_undef;
    const char *shortName = nid == NID_undef ? nullptr : OBJ_nid2sn(nid);
    if (!shortName) {
        *name = nullptr;
        return TQ_RTN_FAILED;
    }
    char *copy = tqxstrdup(shortName);
    if (!copy) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    *name = copy;
    return TQ_RTN_OK;
}

template <class Field>
int nameText(TQXCRYPT_HANDLE *handle, char **text, Field field) {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = certOf(handle, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    return tqxGetCertX509Name(field(cert), 0, text);
}

template <class Field>
int timeText(TQXCRYPT_HANDLE *handle, char *text, Field field) {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = certOf(handle, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    return tqxGetCertTimeFormat(const_cast<ASN1_TIME *>(field(cert)), 0, text);
}

}  // namespace

namespace tq {

int publicKeyHandle(EvpPkeyPtr key, TQXCRYPT_HANDLE **out) {
    if (!key) return TQ_RTN_FAILED;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = tqxCryptCreateHandle(&made, TQXCRYPT_KIND_PUBLICKEY, key.get(), tqxCryptASN1PublicKeyMethod(),
                                  const_cast<TQXCRYPT_KEY_METHOD *>(tqxCryptRSAPubMethod()));
    if (rc != TQ_RTN_OK) return rc;
    key.release();
    *out = made;
    return TQ_RTN_OK;
}

}  // namespace tq

extern "C" {

int TQXCrypt_CertGetSignatureAlgorithm(TQXCRYPT_HANDLE *handle, int, char **name) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = certOf(handle, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!name) return TQ_RTN_BAD_ARGUMENT;
    // The to-be-signed field: the outer one is not covered by the signature.
    return algorithmName(X509_get0_tbs_sigalg(cert), name);
}
TQ_CATCH_CODE

int TQXCrypt_CertGetSubject(TQXCRYPT_HANDLE *handle, int, char **text) try {
    return nameText(handle, text, X509_get_subject_name);
}
TQ_CATCH_CODE

int TQXCrypt_CertGetIssuer(TQXCRYPT_HANDLE *handle, int, char **text) try {
    return nameText(handle, text, X509_get_issuer_name);
}
TQ_CATCH_CODE

int TQXCrypt_CertGetNotBefore(TQXCRYPT_HANDLE *handle, int, char *text) try {
    return timeText(handle, text, X509_get0_notBefore);
}
TQ_CATCH_CODE

int TQXCrypt_CertGetNotAfter(TQXCRYPT_HANDLE *handle, int, char *text) try {
    return timeText(handle, text, X509_get0_notAfter);
}
TQ_CATCH_CODE

int TQXCrypt_CertGetSerialNumber(TQXCRYPT_HANDLE *handle, int, TQXCRYPT_BLOB *serial) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = certOf(handle, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!serial) return TQ_RTN_BAD_ARGUMENT;
    // The integer keeps the magnitude; a negative serial reads as it.
    const ASN1_INTEGER *number = X509_get0_serialNumber(cert);
    if (!number) return TQ_RTN_FAILED;
    // A short buffer keeps its length: the serial's exception to the blob rule.
    return tqxCryptAssignBlob(serial, ASN1_STRING_get0_data(number), ASN1_STRING_length(number));
}
TQ_CATCH_CODE

int TQXCrypt_CertGetKeyUsage(TQXCRYPT_HANDLE *handle, int *bits) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = certOf(handle, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!bits) return TQ_RTN_BAD_ARGUMENT;
    return tqxCryptGetCertificateKeyUsage(cert, bits);
}
TQ_CATCH_CODE

int TQXCrypt_CertGetPublicKey(TQXCRYPT_HANDLE *handle, TQXCRYPT_HANDLE **key) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = certOf(handle, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!key) return TQ_RTN_BAD_ARGUMENT;
    return tq::publicKeyHandle(tq::EvpPkeyPtr(X509_get_pubkey(cert)), key);
}
TQ_CATCH_CODE

int TQXCrypt_SignatureGetAlgorithm(TQXCRYPT_HANDLE *handle, int, int index, char **name) try {
    tq::ErrorQueueScope scope;
    PKCS7 *message = nullptr;
    int rc = tq::objectOf(handle, TQXCRYPT_KIND_PKCS7, &message);
    if (rc != TQ_RTN_OK) return rc;
    if (!name) return TQ_RTN_BAD_ARGUMENT;
    if (!PKCS7_type_is_signed(message)) return TQ_RTN_NOT_SIGNED;
    // A signed-data without its content has no signer list either.
    STACK_OF(PKCS7_SIGNER_INFO) *signers = PKCS7_get_signer_info(message);
    if (!signers) {
        *name = nullptr;
        return TQ_RTN_FAILED;
    }
    if (index < 0 || index >= sk_PKCS7_SIGNER_INFO_num(signers)) return TQ_RTN_INDEX_OUT_OF_RANGE;
    const PKCS7_SIGNER_INFO *signer = sk_PKCS7_SIGNER_INFO_value(signers, index);
    return algorithmName(signer ? signer->digest_alg : nullptr, name);
}
TQ_CATCH_CODE

}  // extern "C"

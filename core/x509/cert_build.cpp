// A certificate built field by field; signed and encoded by its kind.
#include "x509_internal.h"

namespace {

int certOf(TQXCRYPT_HANDLE *handle, X509 **cert) {
    return tq::objectOf(handle, TQXCRYPT_KIND_CERTIFICATE, cert);
}

template <int (*Set)(X509 *, const X509_NAME *)>
int setNameText(TQXCRYPT_HANDLE *handle, const char *text) {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = certOf(handle, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    tq::X509NamePtr name(tqxCrypt_GetX509Name(text));
    if (!name) return tq::unreadText();
    return Set(cert, name.get()) == 1 ? TQ_RTN_OK : TQ_RTN_FAILED;
}

template <int (*Set)(X509 *, const ASN1_TIME *)>
int setTime(TQXCRYPT_HANDLE *handle, const char *text) {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = certOf(handle, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    tq::Asn1TimePtr time;
    rc = tq::timeFromText(text, time);
    if (rc != TQ_RTN_OK) return rc;
    return Set(cert, time.get()) == 1 ? TQ_RTN_OK : TQ_RTN_FAILED;
}

int addExtension(X509 *cert, tq::X509ExtensionPtr &extension, bool replace) {
    int rc =
        replace
            ? tq::replaceExtension<X509, X509_get_ext_by_OBJ, X509_delete_ext, X509_add_ext>(cert, extension)
            : (X509_add_ext(cert, extension.get(), -1) == 1 ? TQ_RTN_OK : TQ_RTN_MEMORY_ALLOCATE_FAIL);
    if (rc != TQ_RTN_OK) return rc;
    // Version 3 from the first extension on.
    return X509_set_version(cert, X509_VERSION_3) == 1 ? TQ_RTN_OK : TQ_RTN_FAILED;
}

}  // namespace

extern "C" {

int TQXCrypt_CreateCertificate(TQXCRYPT_HANDLE **out) try {
    tq::ErrorQueueScope scope;
    TQXCryptInitialize();
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    X509 *cert = X509_new();
    if (!cert) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (X509_set_version(cert, X509_VERSION_1) != 1) {
        X509_free(cert);
        return TQ_RTN_FAILED;
    }
    return tq::wrapNew<X509, X509_free>(cert, TQXCRYPT_KIND_CERTIFICATE, tqxCryptASN1CertificateMethod(),
                                        out);
}
TQ_CATCH_CODE

int TQXCrypt_CertSetSerialNumber(TQXCRYPT_HANDLE *handle, const char *hex) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = certOf(handle, &cert);
    if (rc != TQ_RTN_OK) return rc;
    tq::Asn1IntegerPtr serial;
    rc = tq::serialFromHex(hex, serial);
    if (rc != TQ_RTN_OK) return rc;
    return X509_set_serialNumber(cert, serial.get()) == 1 ? TQ_RTN_OK : TQ_RTN_MEMORY_ALLOCATE_FAIL;
}
TQ_CATCH_CODE

int TQXCrypt_CertSetIssuer(TQXCRYPT_HANDLE *handle, TQXCRYPT_HANDLE *issuerHandle) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr, *issuer = nullptr;
    int rc = certOf(handle, &cert);
    if (rc == TQ_RTN_OK) rc = certOf(issuerHandle, &issuer);
    if (rc != TQ_RTN_OK) return rc;
    return X509_set_issuer_name(cert, X509_get_subject_name(issuer)) == 1 ? TQ_RTN_OK : TQ_RTN_FAILED;
}
TQ_CATCH_CODE

int TQXCrypt_CertSetSubjectName(TQXCRYPT_HANDLE *handle, const char *text) try {
    return setNameText<X509_set_subject_name>(handle, text);
}
TQ_CATCH_CODE

int TQXCrypt_CertSetIssuerName(TQXCRYPT_HANDLE *handle, const char *text) try {
    return setNameText<X509_set_issuer_name>(handle, text);
}
TQ_CATCH_CODE

int TQXCrypt_CertSetNotBefore(TQXCRYPT_HANDLE *handle, const char *time) try {
    return setTime<X509_set1_notBefore>(handle, time);
}
TQ_CATCH_CODE

int TQXCrypt_CertSetNotAfter(TQXCRYPT_HANDLE *handle, const char *time) try {
    return setTime<X509_set1_notAfter>(handle, time);
}
TQ_CATCH_CODE

int TQXCrypt_CertSetPublicKey(TQXCRYPT_HANDLE *handle, TQXCRYPT_HANDLE *publicKey) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    EVP_PKEY *key = nullptr;
    int rc = certOf(handle, &cert);
    if (rc == TQ_RTN_OK) rc = tq::objectOf(publicKey, TQXCRYPT_KIND_PUBLICKEY, &key);
    if (rc != TQ_RTN_OK) return rc;
    return X509_set_pubkey(cert, key) == 1 ? TQ_RTN_OK : TQ_RTN_FAILED;
}
TQ_CATCH_CODE

int TQXCrypt_CertSetExtension(TQXCRYPT_HANDLE *handle, const char *type, const void *value,
                              int critical) try {
    tq::ErrorQueueScope scope;
    TQXCryptInitialize();
    X509 *cert = nullptr;
    int rc = certOf(handle, &cert);
    if (rc != TQ_RTN_OK) return rc;
    tq::X509ExtensionPtr extension;
    rc = tq::buildExtension(type, value, critical, extension);
    return rc == TQ_RTN_OK ? addExtension(cert, extension, true) : rc;
}
TQ_CATCH_CODE

int TQXCrypt_CertSetOIDExtension(TQXCRYPT_HANDLE *handle, const char *oid, const char *hexValue,
                                 int critical) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = certOf(handle, &cert);
    if (rc != TQ_RTN_OK) return rc;
    tq::X509ExtensionPtr extension;
    rc = tq::buildOidExtension(oid, hexValue, critical, extension);
    return rc == TQ_RTN_OK ? addExtension(cert, extension, false) : rc;
}
TQ_CATCH_CODE

}  // extern "C"

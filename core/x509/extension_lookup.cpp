// Finding a certificate's extension by name or identifier.
#include <openssl/objects.h>

#include "x509_internal.h"

namespace tq {

int findExtension(const STACK_OF(X509_EXTENSION) *extensions, const char *type, X509_EXTENSION **found) {
    if (!type) return TQ_RTN_BAD_ARGUMENT;
    Asn1ObjectPtr object(OBJ_txt2obj(type, 0));
    if (!object) object.reset(OBJ_txt2obj(type, 1));
    if (!object) return TQ_RTN_BAD_ARGUMENT;
    int at = X509v3_get_ext_by_OBJ(extensions, object.get(), -1);
    if (at < 0) return TQ_RTN_NOT_PRESENT;
    *found = X509v3_get_ext(extensions, at);
    return *found ? TQ_RTN_OK : TQ_RTN_NOT_PRESENT;
}

}  // namespace tq

extern "C" {

int TQXCrypt_CertGetExtension(TQXCRYPT_HANDLE *handle, const char *type, int, void *value,
                              int *critical) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = tq::objectOf(handle, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!value) return TQ_RTN_BAD_ARGUMENT;
    X509_EXTENSION *extension = nullptr;
    rc = tq::findExtension(X509_get0_extensions(cert), type, &extension);
    return rc == TQ_RTN_OK ? tqxCryptGetExtensionValue(extension, value, critical) : rc;
}
TQ_CATCH_CODE

int TQXCrypt_CertGetSubjectDirectoryAttrs(TQXCRYPT_HANDLE *handle, const char *attribute, int,
                                          TQXCRYPT_BLOB *value) try {
    // The national identifiers exist only once the library has started; its
    // start-up clears the queue, so it runs inside the scope.
    tq::ErrorQueueScope scope;
    TQXCryptInitialize();
    X509 *cert = nullptr;
    int rc = tq::objectOf(handle, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!value || !attribute) return TQ_RTN_BAD_ARGUMENT;
    X509_EXTENSION *extension = nullptr;
    rc = tq::findExtension(X509_get0_extensions(cert), "subjectDirectoryAttributes", &extension);
    return rc == TQ_RTN_OK ? tqxCryptGetUnKnownOIDExtensionValue(extension, attribute, value) : rc;
}
TQ_CATCH_CODE

}  // extern "C"

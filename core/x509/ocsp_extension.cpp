// The raw value of an OCSP extension, still DER.
#include <openssl/objects.h>

#include "x509_internal.h"

extern "C" int tqxCryptGetOCSPExtensionValue(X509_EXTENSION *extension, TQXCRYPT_BLOB *value,
                                             int *critical) try {
    if (!extension) return TQ_RTN_FAILED;
    if (critical) *critical = X509_EXTENSION_get_critical(extension) ? 1 : 0;
    int nid = OBJ_obj2nid(X509_EXTENSION_get_object(extension));
    if (nid == NID_id_pkix_OCSP_CrlID || nid == NID_id_pkix_OCSP_acceptableResponses) return TQ_RTN_FAILED;
    if (!value) return TQ_RTN_BAD_ARGUMENT;
    const ASN1_OCTET_STRING *der = X509_EXTENSION_get_data(extension);
    return tqxCryptAssignBlob(value, ASN1_STRING_get0_data(der), ASN1_STRING_length(der));
}
TQ_CATCH_CODE

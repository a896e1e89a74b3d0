/* Crypto core: building certificate requests, certificates and their
 * extensions, and signing and verifying objects by their kind. Plain C. */
#ifndef TQXCRYPT_BUILD_H
#define TQXCRYPT_BUILD_H

#include "tqxcrypt_x509.h"

#ifdef __cplusplus
extern "C" {
#endif

struct stack_st_X509_EXTENSION;
struct stack_st_GENERAL_NAME;
struct asn1_object_st;

/* Flag of TQXCrypt_GenerateCertRequest: the request is left unsigned. */
#define TQXCRYPT_CSR_NO_SIGN 0x1

/* Value of an authorityKeyIdentifier to build; every part may be null. */
typedef struct TQXCRYPT_AUTHORITY_KEY_ID_VALUE {
    TQXCRYPT_BLOB *keyId;
    const char *issuer; /* general-name text */
    const char *serial; /* hexadecimal text */
} TQXCRYPT_AUTHORITY_KEY_ID_VALUE;

/* An extendedKeyUsage mask: a blob holding the bits least significant byte
 * first. */
typedef TQXCRYPT_BLOB TQXCRYPT_EKU_MASK;

/* Requests (kind 2). */
TQ_API int TQXCrypt_GenerateCertRequest(TQXCRYPT_HANDLE *privateKey, TQXCRYPT_HANDLE *publicKey,
                                        const char *subject, int flags, int hashSelector,
                                        TQXCRYPT_HANDLE **request);
TQ_API int TQXCrypt_CreateCertReq(TQXCRYPT_HANDLE **request);
TQ_API int TQXCrypt_CertReqSetSubject(TQXCRYPT_HANDLE *request, const char *subject);
TQ_API int TQXCrypt_CertReqSetPublicKey(TQXCRYPT_HANDLE *request, TQXCRYPT_HANDLE *publicKey);
TQ_API int TQXCrypt_CertReqGetHash(TQXCRYPT_HANDLE *request, int hashSelector, TQXCRYPT_BLOB *hash);
TQ_API int TQXCrypt_CertReqSetSignature(TQXCRYPT_HANDLE *request, const unsigned char *signature, int length,
                                        int hashSelector);
TQ_API int TQXCrypt_CertReqGetPublicKey(TQXCRYPT_HANDLE *request, TQXCRYPT_HANDLE **key);
TQ_API int TQXCrypt_CertReqGetSubject(TQXCRYPT_HANDLE *request, int ignored, char **text);

/* Certificates (kind 1). */
TQ_API int TQXCrypt_CreateCertificate(TQXCRYPT_HANDLE **cert);
TQ_API int TQXCrypt_CertSetSerialNumber(TQXCRYPT_HANDLE *cert, const char *hex);
TQ_API int TQXCrypt_CertSetIssuer(TQXCRYPT_HANDLE *cert, TQXCRYPT_HANDLE *issuerCert);
TQ_API int TQXCrypt_CertSetSubjectName(TQXCRYPT_HANDLE *cert, const char *text);
TQ_API int TQXCrypt_CertSetIssuerName(TQXCRYPT_HANDLE *cert, const char *text);
TQ_API int TQXCrypt_CertSetNotBefore(TQXCRYPT_HANDLE *cert, const char *time);
TQ_API int TQXCrypt_CertSetNotAfter(TQXCRYPT_HANDLE *cert, const char *time);
TQ_API int TQXCrypt_CertSetPublicKey(TQXCRYPT_HANDLE *cert, TQXCRYPT_HANDLE *publicKey);
TQ_API int TQXCrypt_CertSetExtension(TQXCRYPT_HANDLE *cert, const char *type, const void *value,
                                     int critical);
TQ_API int TQXCrypt_CertSetOIDExtension(TQXCRYPT_HANDLE *cert, const char *oid, const char *hexValue,
                                        int critical);

/* Builders and readers of the texts. */
TQ_API int tqxCryptSetExtension(struct stack_st_X509_EXTENSION *extensions, const char *type,
                                const void *value, int critical);
TQ_API int tqxCryptSetExtensionByOID(struct stack_st_X509_EXTENSION *extensions, const char *oid,
                                     const char *hexValue, int critical);
TQ_API struct X509_name_st *tqxCrypt_GetX509Name(const char *text);
TQ_API struct stack_st_GENERAL_NAME *tqxCrypt_GetGeneralName(const char *text);
TQ_API int tqxCryptSetGeneralTime(struct asn1_string_st *time, const char *text);
TQ_API int tqxCryptSetUTCTime(struct asn1_string_st *time, const char *text);

/* Signing and verifying by the object's kind. */
TQ_API int TQXCrypt_SignObject(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *privateKey, int flags);
TQ_API int TQXCrypt_VerifyObject(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *publicKey, int flags);
TQ_API int tqxCrypt_ASN1_GetCertRequestHashValue(TQXCRYPT_HANDLE *request, int flags, TQXCRYPT_BLOB *out);
TQ_API int tqxCrypt_ASN1_SetCertRequestSignature(TQXCRYPT_HANDLE *request, int ignored,
                                                 const unsigned char *signature, int length);
TQ_API int tqxCrypt_ASN1_SignOCSPResponse(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *privateKey, int flags);

#ifdef __cplusplus
}
#endif

#endif

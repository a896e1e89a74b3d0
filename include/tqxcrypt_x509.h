/* Crypto core: reading certificates, their extension values and the
 * summaries of eight extensions. Plain C. */
#ifndef TQXCRYPT_X509_H
#define TQXCRYPT_X509_H

#include <stdint.h>

#include "tqxcrypt.h"

#ifdef __cplusplus
extern "C" {
#endif

/* OpenSSL's records, as the library passes them through. */
struct X509_name_st;
struct asn1_string_st;
struct X509_extension_st;
struct stack_st_POLICYQUALINFO;

struct TQXCRYPT_ATTRIBUTE;

/* A counted list of named values; everything it reaches comes from the
 * library allocator and goes back through TQXCryptFreeAttributes. */
typedef struct TQXCRYPT_ATTRIBUTES {
    int32_t count;
    struct TQXCRYPT_ATTRIBUTE *items; /* null when the list is empty */
} TQXCRYPT_ATTRIBUTES;

/* isList 0: value.blob (data NUL-terminated beyond length); 1: value.list. */
typedef struct TQXCRYPT_ATTRIBUTE {
    int32_t isList;
    char *name;
    union {
        TQXCRYPT_BLOB blob;
        TQXCRYPT_ATTRIBUTES list;
    } value;
} TQXCRYPT_ATTRIBUTE;

/* Time text: "YYYYMMDDhhmmss+hhmm" and its NUL. */
#define TQXCRYPT_TIME_TEXT_SIZE 20
typedef char TQXCRYPT_TIME_TEXT[TQXCRYPT_TIME_TEXT_SIZE];

/* Selectors of TQXCrypt_CertGetKDRAExtension. */
typedef enum TQXCRYPT_SUMMARY_SELECTOR {
    TQXCRYPT_SUMMARY_CRL_DISTRIBUTION_POINT = 1,
    TQXCRYPT_SUMMARY_CERTIFICATE_POLICY = 2,
    TQXCRYPT_SUMMARY_AUTHORITY_INFO_ACCESS = 3,
    TQXCRYPT_SUMMARY_AUTHORITY_KEY_ID = 4,
    TQXCRYPT_SUMMARY_SUBJECT_KEY_ID = 5,
    TQXCRYPT_SUMMARY_BASIC_CONSTRAINTS = 6,
    TQXCRYPT_SUMMARY_KEY_USAGE = 7,
    TQXCRYPT_SUMMARY_SUBJECT_ALT_NAME = 8
} TQXCRYPT_SUMMARY_SELECTOR;

/* Attribute lists: safe on a zeroed or already released list. */
TQ_API void TQXCryptFreeAttributes(TQXCRYPT_ATTRIBUTES *list);

/* Certificate fields (kind 1). Strings come from TQCryptMemAlloc; time
 * buffers hold at least TQXCRYPT_TIME_TEXT_SIZE bytes. */
TQ_API int TQXCrypt_CertGetSignatureAlgorithm(TQXCRYPT_HANDLE *cert, int ignored, char **name);
TQ_API int TQXCrypt_CertGetSubject(TQXCRYPT_HANDLE *cert, int ignored, char **text);
TQ_API int TQXCrypt_CertGetIssuer(TQXCRYPT_HANDLE *cert, int ignored, char **text);
TQ_API int TQXCrypt_CertGetNotBefore(TQXCRYPT_HANDLE *cert, int ignored, char *text);
TQ_API int TQXCrypt_CertGetNotAfter(TQXCRYPT_HANDLE *cert, int ignored, char *text);
TQ_API int TQXCrypt_CertGetSerialNumber(TQXCRYPT_HANDLE *cert, int ignored, TQXCRYPT_BLOB *serial);
TQ_API int TQXCrypt_CertGetKeyUsage(TQXCRYPT_HANDLE *cert, int *bits);
TQ_API int TQXCrypt_CertGetPublicKey(TQXCRYPT_HANDLE *cert, TQXCRYPT_HANDLE **key);

/* The digest algorithm of a signer of a signed-data message (kind 4). */
TQ_API int TQXCrypt_SignatureGetAlgorithm(TQXCRYPT_HANDLE *pkcs7, int ignored, int index, char **name);

/* Name text and time text of OpenSSL objects. */
TQ_API int tqxGetCertX509Name(struct X509_name_st *name, int ignored, char **text);
TQ_API int tqxGetCertTimeFormat(struct asn1_string_st *time, int ignored, char *text);

/* Extension values: `value` is a TQXCRYPT_BLOB or a TQXCRYPT_ATTRIBUTES by
 * the extension's type. */
TQ_API int TQXCrypt_CertGetExtension(TQXCRYPT_HANDLE *cert, const char *type, int ignored, void *value,
                                     int *critical);
TQ_API int TQXCrypt_CertGetSubjectDirectoryAttrs(TQXCRYPT_HANDLE *cert, const char *attribute, int ignored,
                                                 TQXCRYPT_BLOB *value);
TQ_API int tqxCryptGetExtensionValue(struct X509_extension_st *extension, void *value, int *critical);
TQ_API int tqxCryptGetPolicyQualifyInfo(struct stack_st_POLICYQUALINFO *qualifiers,
                                        TQXCRYPT_ATTRIBUTES *list);
TQ_API int tqxCryptGetUnKnownOIDExtensionValue(struct X509_extension_st *extension, const char *attribute,
                                               TQXCRYPT_BLOB *value);
TQ_API int tqxCryptGetOCSPExtensionValue(struct X509_extension_st *extension, TQXCRYPT_BLOB *value,
                                         int *critical);

/* Summary text of one extension (TQXCRYPT_SUMMARY_SELECTOR). */
TQ_API int TQXCrypt_CertGetKDRAExtension(TQXCRYPT_HANDLE *cert, int selector, char **text);

#ifdef __cplusplus
}
#endif

#endif

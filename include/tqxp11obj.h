/* PKCS#11 token layer: token object records, their readers and writers.
 * Plain C. */
#ifndef TQXP11OBJ_H
#define TQXP11OBJ_H

#include "tqxp11.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Token object kinds. */
#define TQXP11_KIND_DATA 16
#define TQXP11_KIND_CERTIFICATE 17
#define TQXP11_KIND_RSA_PUBLIC 18
#define TQXP11_KIND_RSA_PRIVATE 19
#define TQXP11_KIND_DES 20
#define TQXP11_KIND_DES2 21
#define TQXP11_KIND_DES3 36
#define TQXP11_KIND_AES 38
#define TQXP11_KIND_RC4 52

/* Class of the vendor record objects. */
#define TQXP11_CLASS_RECORD 0x80484341UL
/* Largest value of a vendor record object. */
#define TQXP11_RECORD_MAX 1024

/* Write flags of the key writers. */
#define TQXP11_WRAP 0x1000
#define TQXP11_UNWRAP 0x2000
#define TQXP11_SENSITIVE 0x4000
#define TQXP11_EXTRACTABLE 0x8000
#define TQXP11_OMIT_WRAP 0x10000
#define TQXP11_OMIT_UNWRAP 0x20000
#define TQXP11_OMIT_SENSITIVE 0x40000
#define TQXP11_OMIT_EXTRACTABLE 0x80000

/* One byte string of a value record (system allocator). */
typedef struct TQXP11_BYTES {
    unsigned char *data;
    CK_ULONG length;
} TQXP11_BYTES;

typedef struct TQXP11_DATA_VALUE {
    TQXP11_BYTES value;
} TQXP11_DATA_VALUE;

typedef struct TQXP11_CERTIFICATE_VALUE {
    TQXP11_BYTES subject;
    TQXP11_BYTES id;
    TQXP11_BYTES issuer;
    TQXP11_BYTES serialNumber;
    TQXP11_BYTES value;
} TQXP11_CERTIFICATE_VALUE;

typedef struct TQXP11_RSA_PUBLIC_VALUE {
    TQXP11_BYTES id;
    TQXP11_BYTES modulus;
    TQXP11_BYTES publicExponent;
    CK_ULONG modulusBits;
} TQXP11_RSA_PUBLIC_VALUE;

typedef struct TQXP11_RSA_PRIVATE_VALUE {
    TQXP11_BYTES id;
    TQXP11_BYTES modulus;
    TQXP11_BYTES publicExponent;
    TQXP11_BYTES privateExponent;
    TQXP11_BYTES prime1;
    TQXP11_BYTES prime2;
    TQXP11_BYTES exponent1;
    TQXP11_BYTES exponent2;
    TQXP11_BYTES coefficient;
} TQXP11_RSA_PRIVATE_VALUE;

typedef struct TQXP11_SECRET_VALUE {
    TQXP11_BYTES id;
    TQXP11_BYTES value;
    TQXP11_BYTES iv;
} TQXP11_SECRET_VALUE;

/* The value record of an object, by kind. A caller that searches by CKA_ID
 * puts the wanted identifier into `first`. */
typedef union TQXP11_VALUE {
    TQXP11_BYTES first;
    TQXP11_DATA_VALUE data;
    TQXP11_CERTIFICATE_VALUE certificate;
    TQXP11_RSA_PUBLIC_VALUE rsaPublic;
    TQXP11_RSA_PRIVATE_VALUE rsaPrivate;
    TQXP11_SECRET_VALUE secret;
} TQXP11_VALUE;

#define TQXP11_LABEL_SIZE 256

/* One token object; the caller zero-fills it before use. */
typedef struct TQXP11_OBJECT {
    CK_OBJECT_HANDLE handle;
    char label[TQXP11_LABEL_SIZE];
    CK_ULONG labelLength;
    CK_ULONG kind;
    CK_BBOOL isPrivate;
    TQXP11_VALUE *valueRecord;
} TQXP11_OBJECT;

/* Readers. A found object's handle stays in the record; the value record
 * they fill is the object's until TQXP11_FreeObject. */
TQ_API int TQXP11_ReadObject(TQXP11_SESSION *session, TQXP11_OBJECT *object);
TQ_API int TQXP11_ReadCertificateObjectWithCKAID(TQXP11_SESSION *session, TQXP11_OBJECT *object);
TQ_API int TQXP11_ReadRSAPrivateKeyObjectWithCKAID(TQXP11_SESSION *session, TQXP11_OBJECT *object);
/* The seven components go out in buffers the caller releases with free(). */
TQ_API int TQXP11_RSAKEY_AttrValue(TQXP11_SESSION *session, TQXP11_OBJECT *object, unsigned char **modulus,
                                   int *modulusLength, unsigned char **publicExponent,
                                   int *publicExponentLength, unsigned char **prime1, int *prime1Length,
                                   unsigned char **prime2, int *prime2Length, unsigned char **exponent1,
                                   int *exponent1Length, unsigned char **exponent2, int *exponent2Length,
                                   unsigned char **coefficient, int *coefficientLength);
TQ_API int TQXP11_FreeObject(TQXP11_OBJECT *object);
/* The value of a vendor record object, released with free(); none found
 * gives 0 and no buffer. */
TQ_API int TQXP11_HCAGetRecord(TQXP11_SESSION *session, const char *name, int unused, unsigned char **out,
                               CK_ULONG *outLength);

/* Writers: a label is used once per class and private flag (9101). DES key
 * bytes are set to odd parity in the caller's buffer. */
TQ_API int TQXP11_WriteObject(TQXP11_SESSION *session, TQXP11_OBJECT *object, int flags);
TQ_API int TQXP11_WriteSymmetricKeyObject(TQXP11_SESSION *session, TQXP11_OBJECT *object, int flags);
TQ_API int TQXP11_WriteSessionObject(TQXP11_SESSION *session, TQXP11_OBJECT *object, int flags);

/* Deletion and attribute changes */
TQ_API int TQXP11_DeletePrivateKeyObject(TQXP11_SESSION *session, TQXP11_OBJECT *object);
TQ_API int TQXP11_DeletePubKeyObject(TQXP11_SESSION *session, TQXP11_OBJECT *object);
TQ_API int TQXP11_DeleteCertObject(TQXP11_SESSION *session, TQXP11_OBJECT *object);
TQ_API int TQXP11_DeleteObject(TQXP11_SESSION *session, TQXP11_OBJECT *object);
TQ_API int TQXP11_DeleteObjectByID(TQXP11_SESSION *session, CK_OBJECT_HANDLE handle);
TQ_API int TQXP11_ChangeObjLabel(TQXP11_SESSION *session, TQXP11_OBJECT *object, const char *newLabel);
TQ_API int TQXP11_ChangeObjLabelEx(TQXP11_SESSION *session, TQXP11_OBJECT *object, const char *newLabel,
                                   const char *newId);
TQ_API int TQXP11_SetObjWrap(TQXP11_SESSION *session, TQXP11_OBJECT *object, int value);
TQ_API int TQXP11_SetObjUnWrap(TQXP11_SESSION *session, TQXP11_OBJECT *object, int value);
TQ_API int TQXP11_SetObjExtractable(TQXP11_SESSION *session, TQXP11_OBJECT *object, int value);

/* Listing: an array of records owned by the caller until released. */
TQ_API int TQXP11_GetObjectList(TQXP11_SESSION *session, TQXP11_OBJECT *filter, TQXP11_OBJECT **list,
                                CK_ULONG *count);
TQ_API int TQXP11_ReleaseObjectList(TQXP11_OBJECT *list, CK_ULONG count);

#ifdef __cplusplus
}
#endif

#endif

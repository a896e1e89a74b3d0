/* Crypto core: handles, blobs, the library allocator, start-up, text codecs
 * and object encoding by kind. Plain C. */
#ifndef TQXCRYPT_H
#define TQXCRYPT_H

#include <stddef.h>
#include <stdint.h>

#include "tq_api.h"
#include "tq_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* OpenSSL types, named without OpenSSL's headers. */
struct evp_md_st;
struct evp_cipher_st;
struct evp_cipher_ctx_st;
struct stack_st_EVP_PKEY;
struct stack_st_X509;

/* Object kinds; 10 and 11 each name two objects, told apart by asn1Method. */
enum {
    TQXCRYPT_KIND_CERTIFICATE = 1,
    TQXCRYPT_KIND_CERTREQUEST = 2,
    TQXCRYPT_KIND_CRL = 3,
    TQXCRYPT_KIND_PKCS7 = 4,
    TQXCRYPT_KIND_SIGNERINFO = 5,
    TQXCRYPT_KIND_PRIVATEKEY = 6,
    TQXCRYPT_KIND_PUBLICKEY = 7,
    TQXCRYPT_KIND_STORE = 8,
    TQXCRYPT_KIND_DIGEST = 9,
    TQXCRYPT_KIND_CIPHER = 10,
    TQXCRYPT_KIND_OCSPREQUEST = 10,
    TQXCRYPT_KIND_PKCS12 = 11,
    TQXCRYPT_KIND_OCSPRESPONSE = 11,
    TQXCRYPT_KIND_PKCS8 = 12,
    TQXCRYPT_KIND_PKCS8INFO = 13
};

/* Encoding flags. */
#define TQXCRYPT_ENCODE_TEXT 0x1000
#define TQXCRYPT_DECODE_TEXT 0x2000

typedef struct TQXCRYPT_BLOB {
    uint64_t length;
    unsigned char *data;
} TQXCRYPT_BLOB;

typedef struct TQXCRYPT_HANDLE TQXCRYPT_HANDLE;

typedef struct TQXCRYPT_ASN1_METHOD {
    int (*encode)(TQXCRYPT_HANDLE *handle, TQXCRYPT_BLOB *out, int flags, void *armour);
    int (*decode)(TQXCRYPT_HANDLE **out, const unsigned char *data, uint64_t length, int flags,
                  const char *password);
    int (*sign)(TQXCRYPT_HANDLE *handle, TQXCRYPT_HANDLE *privateKey, int flags);
    int (*verify)(TQXCRYPT_HANDLE *handle, TQXCRYPT_HANDLE *publicKey, int flags);
    void (*free)(TQXCRYPT_HANDLE *handle);
} TQXCRYPT_ASN1_METHOD;

typedef struct TQXCRYPT_KEY_METHOD {
    int (*encrypt)(TQXCRYPT_HANDLE *key, const unsigned char *in, uint64_t inLength, int flags,
                   TQXCRYPT_BLOB *out);
    int (*decrypt)(TQXCRYPT_HANDLE *key, const unsigned char *in, uint64_t inLength, int flags,
                   TQXCRYPT_BLOB *out);
    int (*sign)(TQXCRYPT_HANDLE *key, const unsigned char *data, uint64_t dataLength, int flags,
                TQXCRYPT_BLOB *signature);
    int (*verify)(TQXCRYPT_HANDLE *key, const unsigned char *signature, uint64_t signatureLength,
                  const unsigned char *data, uint64_t dataLength, int flags);
    int (*keySize)(TQXCRYPT_HANDLE *key);
    int (*keyType)(TQXCRYPT_HANDLE *key);
    int (*modulus)(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out);
    int (*exponent)(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out);
    int (*flags)(void);
} TQXCRYPT_KEY_METHOD;

struct TQXCRYPT_HANDLE {
    int32_t kind;
    void *object;
    const TQXCRYPT_ASN1_METHOD *asn1Method;
    void *extra;
    /* Written by tqxCryptCreateHandle from the record's own address: how the
     * library tells one of its handles from other memory passed in its place.
     * A record built any other way is no handle. */
    uint64_t seal;
};

/* Hooks of a token-backed cipher context; null for software keys. */
typedef struct TQXCRYPT_CIPHER_HOOKS {
    int (*init)(TQXCRYPT_HANDLE *cipher, int flags, int encrypt);
    int (*final)(TQXCRYPT_HANDLE *cipher, int flags, int encrypt);
} TQXCRYPT_CIPHER_HOOKS;

/* The object of a kind-10 cipher handle. OpenSSL 3.0's cipher context is
 * opaque, so the record owns a pointer to it. A context that has no cipher
 * yet gets the record's cipher at its first init, later inits keep the one
 * it has: application data set on a new context stays through all of them. */
typedef struct TQXCRYPT_CIPHER_CONTEXT {
    struct evp_cipher_ctx_st *ctx;
    const struct evp_cipher_st *cipher;
    unsigned char key[32];
    int32_t keyLength;
    unsigned char iv[16];
    int32_t ivLength;
    const TQXCRYPT_CIPHER_HOOKS *hooks;
    /* Kept by the init, update and final calls (zero in a new record): the
     * running direction (0 none, 1 encrypting, 2 decrypting) and the bytes of
     * an incomplete block fed since init, which OpenSSL 3.0 no longer shows. */
    int32_t operation;
    int32_t pending;
} TQXCRYPT_CIPHER_CONTEXT;

/* The unpacked content of a PKCS#12 handle (OpenSSL stacks). */
typedef struct TQXCRYPT_P12_CONTENTS {
    struct stack_st_EVP_PKEY *keys;
    struct stack_st_X509 *caCerts;
    struct stack_st_X509 *userCerts;
} TQXCRYPT_P12_CONTENTS;

/* Handles */
TQ_API int tqxCryptCreateHandle(TQXCRYPT_HANDLE **out, int kind, void *object,
                                const TQXCRYPT_ASN1_METHOD *asn1Method, void *extra);
TQ_API int tqxCryptGetHandle(void **object, TQXCRYPT_HANDLE *handle, int kind);
TQ_API int tqxCryptGetHandleEx(void **extra, TQXCRYPT_HANDLE *handle, int kind);
TQ_API void TQXCryptFreeHandle(TQXCRYPT_HANDLE *handle);

/* Blobs */
TQ_API void TQXCryptFreeBlob(TQXCRYPT_BLOB *blob);

/* Library allocator */
typedef void *(*TQ_ALLOC_FN)(size_t size);
typedef void *(*TQ_REALLOC_FN)(void *block, size_t size);
typedef void (*TQ_FREE_FN)(void *block);

TQ_API extern TQ_ALLOC_FN XMemAlloc;
TQ_API extern TQ_REALLOC_FN XMemRealloc;
TQ_API extern TQ_FREE_FN XMemFree;

TQ_API void *TQCryptMemAlloc(size_t size);
TQ_API void *TQCryptMemRealloc(void *block, size_t size);
TQ_API void TQCryptMemFree(void *block);
TQ_API void TQCryptSetMemCallBack(TQ_ALLOC_FN alloc, TQ_REALLOC_FN reallocate, TQ_FREE_FN release);
TQ_API void *XTQSecureMemAlloc(size_t size);
TQ_API void *XTQSecureMemRealloc(void *area, size_t size);
TQ_API void XTQSecureMemFree(void *area);

/* Start-up, switches, debug channel */
TQ_API void TQXCryptInitialize(void);
TQ_API void TQXCryptRelease(void);
TQ_API void TQXCryptAddDigest(const struct evp_md_st *digest);
TQ_API void TQXCryptAddCipher(const struct evp_cipher_st *cipher);
TQ_API int TQXCryptCheckKeyUsage(int on);
TQ_API int tqxCryptCheckKeyUsage(void);
TQ_API int TQXCryptShowDebugMessage(int on);
TQ_API void TQXCryptDebugMessage(const char *format, ...);

/* Object identifiers created at start-up. */
TQ_API extern int NID_ms_scard_logon;
TQ_API extern int NID_szOID_SUBJECT_DIR_ATTRS;
TQ_API extern int NID_szTailOfCitizenID;
TQ_API extern int NID_szSUBJECTTYPE;
TQ_API extern int NID_szORGANIZATIONID;
TQ_API extern int NID_szCardRank;
TQ_API extern int NID_szEntityOID;
TQ_API extern int NID_szEmail;
TQ_API extern int NID_szOID_SUBJECT_DIR_ATTRS_NA;

/* Text codecs */
TQ_API int TQXCrypt_Encode(const unsigned char *data, size_t length, TQXCRYPT_BLOB *text, const char *label);
TQ_API int TQXCrypt_EncodeEx(const unsigned char *data, int length, TQXCRYPT_BLOB *text);
TQ_API int TQXCrypt_Decode(const char *text, size_t length, TQXCRYPT_BLOB *data, const char *labels);
TQ_API int HexToInt(int character);
TQ_API int TQXCrypt_HexDecode(const char *hex, int length, unsigned char **data, int *dataLength);
TQ_API int TQXCrypt_HexEncode(const unsigned char *data, int length, char **hex, int *hexLength);

/* Object encoding by kind */
TQ_API int TQXCrypt_DecodeObject(TQXCRYPT_HANDLE **out, int kind, const unsigned char *data, size_t length,
                                 int flags, const char *password);
TQ_API int TQXCrypt_EncodeObject(TQXCRYPT_HANDLE *handle, int kind, TQXCRYPT_BLOB *out, int flags,
                                 void *armour);
TQ_API const TQXCRYPT_ASN1_METHOD *tqxCryptASN1CertificateMethod(void);
TQ_API const TQXCRYPT_ASN1_METHOD *tqxCryptASN1PrivateKeyMethod(void);
TQ_API const TQXCRYPT_ASN1_METHOD *tqxCryptASN1PublicKeyMethod(void);
TQ_API const TQXCRYPT_ASN1_METHOD *tqxCryptASN1PKCS7Method(void);
TQ_API const TQXCRYPT_ASN1_METHOD *tqxCryptASN1SignerInfoMethod(void);
TQ_API const TQXCRYPT_ASN1_METHOD *tqxCryptASN1OCSPRequestMethod(void);
TQ_API const TQXCRYPT_ASN1_METHOD *tqxCryptASN1OCSPResponseMethod(void);
TQ_API const TQXCRYPT_ASN1_METHOD *tqxCryptASN1CertRequestMethod(void);
TQ_API const TQXCRYPT_ASN1_METHOD *tqxCryptASN1CRLMethod(void);
TQ_API const TQXCRYPT_ASN1_METHOD *tqxCryptASN1PKCS12Method(void);
TQ_API const TQXCRYPT_ASN1_METHOD *tqxCryptASN1PKCS8Method(void);
TQ_API const TQXCRYPT_ASN1_METHOD *tqxCryptASN1PKCS8InfoMethod(void);

/* Key method tables and the accessors they need now. */
TQ_API const TQXCRYPT_KEY_METHOD *tqxCryptRSAPriMethod(void);
TQ_API const TQXCRYPT_KEY_METHOD *tqxCryptRSAPubMethod(void);
TQ_API int TQXCrypt_KeySize(TQXCRYPT_HANDLE *key);
TQ_API int TQXCrypt_KeyType(TQXCRYPT_HANDLE *key);
TQ_API int TQXCrypt_KeyFlags(void);

#ifdef __cplusplus
}
#endif

#endif

/* PKCS#11 token layer: key generation and the cryptography the token runs.
 * Plain C. */
#ifndef TQXP11CRYPTO_H
#define TQXP11CRYPTO_H

#include "tqxp11obj.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Token mode codes: the symmetric mechanism, with the key's kind. */
#define TQXP11_MODE_DES_ECB 0x210
#define TQXP11_MODE_DES_CBC 0x211
#define TQXP11_MODE_DES_CBC_PAD 0x212
#define TQXP11_MODE_DES3_ECB 0x220
#define TQXP11_MODE_DES3_CBC 0x221
#define TQXP11_MODE_DES3_CBC_PAD 0x222
#define TQXP11_MODE_AES_ECB 0x240
#define TQXP11_MODE_AES_CBC 0x241
#define TQXP11_MODE_AES_CBC_PAD 0x242

/* Token digest codes. */
#define TQXP11_DIGEST_MD5 0x100
#define TQXP11_DIGEST_SHA1 0x101
#define TQXP11_DIGEST_SHA224 0x102
#define TQXP11_DIGEST_SHA256 0x103
#define TQXP11_DIGEST_SHA384 0x104
#define TQXP11_DIGEST_SHA512 0x105

/* Key generation */
TQ_API int TQXP11_GenerateKeyPairObject(TQXP11_SESSION *session, TQXP11_OBJECT *publicKey,
                                        TQXP11_OBJECT *privateKey, int flags);
TQ_API int TQXP11_GenerateKeyObject(TQXP11_SESSION *session, TQXP11_OBJECT *key, int flags);

/* Digests */
TQ_API int TQXP11_DigestInit(TQXP11_SESSION *session, CK_ULONG digestCode);
TQ_API int TQXP11_DigestUpdate(TQXP11_SESSION *session, const unsigned char *data, CK_ULONG length);
TQ_API int TQXP11_DigestFinal(TQXP11_SESSION *session, unsigned char *digest, CK_ULONG *digestLength);

/* RSA PKCS#1 v1.5 with a token key: a private key signs, a public key
 * encrypts; the inverse decrypts or recovers. */
TQ_API int TQXP11_Encrypt(TQXP11_SESSION *session, TQXP11_OBJECT *key, const unsigned char *data,
                          CK_ULONG length, unsigned char *out, CK_ULONG *outLength);
TQ_API int TQXP11_Decrypt(TQXP11_SESSION *session, TQXP11_OBJECT *key, const unsigned char *data,
                          CK_ULONG length, unsigned char *out, CK_ULONG *outLength);

/* Wrapping keys */
TQ_API int TQXP11_Wrap(TQXP11_SESSION *session, TQXP11_OBJECT *wrappingKey, TQXP11_OBJECT *key,
                       unsigned char *out, CK_ULONG *outLength, CK_ULONG mode);
TQ_API int TQXP11_Unwrap(TQXP11_SESSION *session, TQXP11_OBJECT *unwrappingKey, const unsigned char *wrapped,
                         CK_ULONG wrappedLength, TQXP11_OBJECT *newKey, int flags, CK_ULONG mode);

/* Symmetric encryption in parts */
TQ_API int TQXP11_EncryptInit(TQXP11_SESSION *session, CK_ULONG mode, TQXP11_OBJECT *key);
TQ_API int TQXP11_EncryptUpdate(TQXP11_SESSION *session, const unsigned char *data, CK_ULONG length,
                                unsigned char *out, CK_ULONG *outLength);
TQ_API int TQXP11_EncryptFinal(TQXP11_SESSION *session, unsigned char *out, CK_ULONG *outLength);
TQ_API int TQXP11_DecryptInit(TQXP11_SESSION *session, CK_ULONG mode, TQXP11_OBJECT *key);
TQ_API int TQXP11_DecryptUpdate(TQXP11_SESSION *session, const unsigned char *data, CK_ULONG length,
                                unsigned char *out, CK_ULONG *outLength);
TQ_API int TQXP11_DecryptFinal(TQXP11_SESSION *session, unsigned char *out, CK_ULONG *outLength);

/* Random bytes */
TQ_API int TQXP11_GenRandomNumber(TQXP11_SESSION *session, unsigned char *buffer, int length);

#ifdef __cplusplus
}
#endif

#endif

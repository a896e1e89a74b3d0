/* Keys, raw RSA, digests, key construction and signatures over encoded
 * structures. Plain C. */
#ifndef TQXCRYPT_KEYS_H
#define TQXCRYPT_KEYS_H

#include <stddef.h>
#include <stdint.h>

#include "tqxcrypt.h"

#ifdef __cplusplus
extern "C" {
#endif

/* OpenSSL's records, as the library passes them through. */
struct evp_pkey_st;
struct X509_algor_st;
struct asn1_string_st;

/* Hash selector: the low four bits of a flag word. */
enum {
    TQXCRYPT_HASH_DEFAULT = 0,
    TQXCRYPT_HASH_MD5 = 1,
    TQXCRYPT_HASH_SHA1 = 2,
    TQXCRYPT_HASH_SHA224 = 3,
    TQXCRYPT_HASH_SHA256 = 4,
    TQXCRYPT_HASH_SHA384 = 5,
    TQXCRYPT_HASH_SHA512 = 6
};
#define TQXCRYPT_HASH_MASK 0xF

/* Bits of the flag word of TQXCrypt_PureSign and TQXCrypt_PureVerify. */
#define TQXCRYPT_PURE_HASH_DATA 0x10000 /* the input is the message, not its digest */
#define TQXCRYPT_PURE_RAW 0x20000       /* the bare digest, without a DigestInfo */

/* Raw RSA with PKCS#1 v1.5 padding; flags are ignored. */
TQ_API int TQXCrypt_PublicEncrypt(TQXCRYPT_HANDLE *key, const unsigned char *in, uint64_t inLength, int flags,
                                  TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_PublicDecrypt(TQXCRYPT_HANDLE *key, const unsigned char *in, uint64_t inLength, int flags,
                                  TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_PrivateEncrypt(TQXCRYPT_HANDLE *key, const unsigned char *in, uint64_t inLength,
                                   int flags, TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_PrivateDecrypt(TQXCRYPT_HANDLE *key, const unsigned char *in, uint64_t inLength,
                                   int flags, TQXCRYPT_BLOB *out);

/* RSA components, big-endian without leading zeros. A too-small caller
 * buffer gives 5003 with its length unchanged; a component the key does not
 * hold (the private numbers of a public or token key) gives 5050; a handle
 * that holds no key gives 5006. */
TQ_API int TQXCrypt_KeyModulus(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_PublicKeyGetModulus(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_KeyExponent(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_KeyD(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_KeyP(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_KeyQ(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_KeyDMP1(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_KeyDMQ1(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_KeyIQMP(TQXCRYPT_HANDLE *key, TQXCRYPT_BLOB *out);

/* Hash-and-sign through the key's method table. */
TQ_API int TQXCrypt_PureSign(TQXCRYPT_HANDLE *key, const unsigned char *data, uint64_t dataLength, int flags,
                             TQXCRYPT_BLOB *signature);
TQ_API int TQXCrypt_PureVerify(TQXCRYPT_HANDLE *key, const unsigned char *signature, uint64_t signatureLength,
                               const unsigned char *data, uint64_t dataLength, int flags);
/* The DER DigestInfo of a digest for the selector in flags; release *der
 * with OpenSSL's CRYPTO_free. */
TQ_API int tqxCrypt_Encode_X509_SIG(const unsigned char *digest, int digestLength, unsigned int flags,
                                    unsigned char **der, int *derLength);

/* Digest handles (kind 9). TQXCrypt_HashFinal frees the handle on success
 * only; a too-small buffer leaves it open for a retry. */
TQ_API int TQXCrypt_HashInit(TQXCRYPT_HANDLE **digest, unsigned int flags);
TQ_API int TQXCrypt_HashUpdate(TQXCRYPT_HANDLE *digest, const void *data, uint64_t length, int flags);
TQ_API int TQXCrypt_HashFinal(TQXCRYPT_HANDLE *digest, int flags, TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_CertGetDigest(TQXCRYPT_HANDLE *certificate, unsigned int flags, TQXCRYPT_BLOB *out);

/* Key construction and comparison. */
TQ_API int TQXCrypt_GenerateKeyPair(int bits, int flags, TQXCRYPT_HANDLE **key);
TQ_API int TQXCrypt_CreateRSAPublicKey(const unsigned char *modulus, uint64_t modulusLength,
                                       const unsigned char *exponent, uint64_t exponentLength, int flags,
                                       TQXCRYPT_HANDLE **key);
TQ_API int TQXCrypt_GetPublicKey(TQXCRYPT_HANDLE *privateKey, TQXCRYPT_HANDLE **publicKey);
/* A complete RSA private key from two primes and e; the caller frees *key
 * with EVP_PKEY_free, and reads it only after a 0 result. */
TQ_API int tqxCrypt_CreateRSAPrivateKey(const unsigned char *prime1, uint64_t prime1Length,
                                        const unsigned char *prime2, uint64_t prime2Length,
                                        const unsigned char *exponent, uint64_t exponentLength, int flags,
                                        struct evp_pkey_st **key);
TQ_API int TQXCrypt_CheckKeyPair(TQXCRYPT_HANDLE *key1, TQXCRYPT_HANDLE *key2);

/* Signatures over encoded structures, in OpenSSL's style: a length (or 1)
 * for success, 0 (or -1 for verify) for failure, reasons on the error queue.
 * The encoder is an i2d routine of the to-be-signed part. */
typedef int TQXCRYPT_I2D(const void *object, unsigned char **out);
TQ_API int tqxCrypt_ASN1_sign(TQXCRYPT_I2D *i2d, struct X509_algor_st *algorithm1,
                              struct X509_algor_st *algorithm2, struct asn1_string_st *signature, void *data,
                              TQXCRYPT_HANDLE *key, unsigned int selector);
TQ_API int tqxCrypt_ASN1_verify(TQXCRYPT_I2D *i2d, struct X509_algor_st *algorithm,
                                struct asn1_string_st *signature, void *data, TQXCRYPT_HANDLE *key);
TQ_API int tqxCrypt_ASN1_getHashValue(TQXCRYPT_I2D *i2d, struct X509_algor_st *algorithm1,
                                      struct X509_algor_st *algorithm2, struct asn1_string_st *signature,
                                      void *data, unsigned int selector, TQXCRYPT_BLOB *digest);
TQ_API int tqxCrypt_ASN1_setSignatureValue(struct asn1_string_st *signature, const unsigned char *bytes,
                                           int length);

#ifdef __cplusplus
}
#endif

#endif

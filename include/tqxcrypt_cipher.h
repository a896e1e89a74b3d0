/* Crypto core: symmetric cipher handles (kind 10), password-derived keys and
 * the one-shot DES call. Plain C. */
#ifndef TQXCRYPT_CIPHER_H
#define TQXCRYPT_CIPHER_H

#include <stddef.h>
#include <stdint.h>

#include "tqxcrypt.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Symmetric algorithm selector; id 3 is refused with 5004. */
enum {
    TQXCRYPT_ALG_DEFAULT = 0,
    TQXCRYPT_ALG_DES = 1,
    TQXCRYPT_ALG_DES3 = 2,
    TQXCRYPT_ALG_RC4 = 4,
    TQXCRYPT_ALG_AES128 = 5,
    TQXCRYPT_ALG_AES192 = 6,
    TQXCRYPT_ALG_AES256 = 7
};

/* Mode bits of a flag word (0x30 is refused, RC4 ignores them). */
#define TQXCRYPT_MODE_MASK 0x30
#define TQXCRYPT_MODE_CBC 0x20
#define TQXCRYPT_MODE_ECB 0x10

/* Key derivation of a flag word; PBKDF1 takes the hash selector of the low
 * four bits. */
#define TQXCRYPT_KDF_MASK 0xF00
#define TQXCRYPT_KDF_PBKDF1 0x100
#define TQXCRYPT_KDF_PBKDF2 0x200

/* Init and final flag: no block padding. */
#define TQXCRYPT_NO_PADDING 0x1

TQ_API int TQXCrypt_ByteToKey(const char *password, int passwordLength, const unsigned char *salt,
                              int saltLength, int iterations, int flags, unsigned char *key, int keyLength,
                              unsigned char *iv, int ivLength);
TQ_API int TQXCrypt_CreateKey(int algorithm, const unsigned char *key, int keyLength, const unsigned char *iv,
                              int ivLength, int flags, TQXCRYPT_HANDLE **cipher);
TQ_API int TQXCrypt_GenerateKey(int algorithm, const char *password, const unsigned char *salt,
                                int saltLength, int iterations, int flags, TQXCRYPT_HANDLE **cipher);

/* One operation: an init, any number of updates (output room: the input
 * plus one block), a final (at most one block). */
TQ_API int TQXCrypt_EncryptInit(TQXCRYPT_HANDLE *cipher, const unsigned char *iv, int flags);
TQ_API int TQXCrypt_DecryptInit(TQXCRYPT_HANDLE *cipher, const unsigned char *iv, int flags);
TQ_API int TQXCrypt_EncryptUpdate(TQXCRYPT_HANDLE *cipher, const unsigned char *input, size_t inputLength,
                                  unsigned char *output, int *outputLength);
TQ_API int TQXCrypt_DecryptUpdate(TQXCRYPT_HANDLE *cipher, const unsigned char *input, size_t inputLength,
                                  unsigned char *output, int *outputLength);
TQ_API int TQXCrypt_EncryptFinal(TQXCRYPT_HANDLE *cipher, unsigned char *output, int *outputLength,
                                 int flags);
TQ_API int TQXCrypt_DecryptFinal(TQXCRYPT_HANDLE *cipher, unsigned char *output, int *outputLength,
                                 int flags);

/* DES (8-byte key; cbc 0 for ECB) or triple-DES CBC (16-byte two-key or
 * 24-byte three-key) over a whole buffer; *output comes from the library
 * allocator. Decryption leaves the padding bytes in place. */
TQ_API int TQXCrypt_DESEncrypt(int cbc, const unsigned char *key, int keyLength, const unsigned char *iv,
                               int ivLength, const unsigned char *input, int inputLength,
                               unsigned char **output, int *outputLength, int encrypt);

#ifdef __cplusplus
}
#endif

#endif

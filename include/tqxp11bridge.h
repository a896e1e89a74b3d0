/* Token keys as crypto-core handles: an RSA key that stays on a token
 * becomes an ordinary key handle whose RSA object runs on the token, a
 * secret key a cipher handle whose cipher runs there. Plain C. */
#ifndef TQXP11BRIDGE_H
#define TQXP11BRIDGE_H

#include <stddef.h>

#include "tqxcrypt.h"
#include "tqxp11obj.h"

#ifdef __cplusplus
extern "C" {
#endif

/* In a flags word: the name argument is a CKA_ID written as hexadecimal text. */
#define TQXP11_BY_CKA_ID 0x1000000

/* The link from an OpenSSL object to a token key. The session is borrowed
 * (it must stay open while the handle lives); the object record and its
 * value record belong to the reference. Both come from the system allocator. */
typedef struct TQXP11_KEY_REFERENCE {
    TQXP11_SESSION *session;
    TQXP11_OBJECT *object;
} TQXP11_KEY_REFERENCE;

/* Token key handles: kind 6 for a private key, kind 7 for a public key.
 * Release them with TQXCryptFreeHandle; the token object and the session
 * stay. Labels are searched by their first 255 characters. */
TQ_API int TQXP11Crypt_GetPrivateKey(TQXP11_SESSION *session, const char *name, int flags,
                                     TQXCRYPT_HANDLE **key);
TQ_API int TQXP11Crypt_GetPrivateKeyWithCKALabel(TQXP11_SESSION *session, const char *label, int spare,
                                                 TQXCRYPT_HANDLE **key);
TQ_API int TQXP11Crypt_GetPrivateKeyWithCKAID(TQXP11_SESSION *session, const char *hexId, int spare,
                                              TQXCRYPT_HANDLE **key);
TQ_API int TQXP11Crypt_GetPublicKey(TQXP11_SESSION *session, const char *label, int spare,
                                    TQXCRYPT_HANDLE **key);
/* A private-key handle for an RSA private key record (kind 19) the caller
 * has read. Its value record passes to the function on the call, whatever
 * the result: the caller neither uses nor releases it afterwards. */
TQ_API int TQXP11Crypt_P11ToKeyHandle(TQXP11_SESSION *session, const TQXP11_OBJECT *key, int spare,
                                      TQXCRYPT_HANDLE **out);

/* Operations with a key given as a read record (object handle and value
 * record filled), left as it was. Texts are NUL-terminated, from
 * TQCryptMemAlloc (release with TQCryptMemFree). */
TQ_API int TQXP11Crypt_XPureSign(TQXP11_SESSION *session, const void *data, size_t length, int flags,
                                 TQXP11_OBJECT key, char **text);
TQ_API int TQXP11Crypt_XSignData(TQXP11_SESSION *session, TQXCRYPT_HANDLE *certificate, const void *data,
                                 size_t length, int options, int hashFlags, TQXP11_OBJECT key, char **text);
TQ_API int TQXP11Crypt_XDecrypt(TQXP11_SESSION *session, TQXCRYPT_HANDLE *certificate, const char *text,
                                size_t length, int flags, TQXP11_OBJECT key, TQXCRYPT_BLOB *plain);

/* Token DES, triple-DES and RC4 keys as cipher handles (kind 10) for the
 * crypto core's init, update and final calls. The algorithm is the
 * symmetric selector (0, 1 DES, 2 triple-DES, 4 RC4) with the mode bits in
 * flags; the label is searched as a private secret key by its first 255
 * characters. Release with TQXCryptFreeHandle; the session must stay open
 * until then. */
TQ_API int TQXP11Crypt_GetSymmetricKey(TQXP11_SESSION *session, const char *label, int algorithm, int flags,
                                       TQXCRYPT_HANDLE **cipher);
/* The token object behind a token cipher handle: its handle, or the object
 * destroyed on this session (the cipher handle stays the caller's). */
TQ_API int TQXP11Crypt_TransKeyToP11hKey(TQXCRYPT_HANDLE *cipher, CK_OBJECT_HANDLE *objectHandle);
TQ_API int TQXP11Crypt_DeleteKey(TQXP11_SESSION *session, TQXCRYPT_HANDLE *cipher);

/* Hexadecimal CKA_ID texts: any other character counts as 0, an odd last
 * character is dropped. The buffer (count + 1 zero-filled bytes, from
 * TQCryptMemAlloc) is the caller's. */
TQ_API int TQXP11Crypt_HexToInt(char c);
TQ_API int TQXP11Crypt_HexDecode(const char *text, int length, unsigned char **bytes, int *count);

#ifdef __cplusplus
}
#endif

#endif

/* Token secret keys, data objects, wrapping and one-call ciphers and MACs,
 * for callers who name token objects by label. Plain C. */
#ifndef TQP11SECRET_H
#define TQP11SECRET_H

#include "tqxp11crypto.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Objects named by label: the label's first 255 characters are its name. A
 * secret key generated, stored or unwrapped here carries its label as its
 * CKA_ID too. Values handed out come from the system allocator (free()). */
TQ_API int TQXP11_GenerateSymKey(TQXP11_SESSION *session, const char *label, int isPrivate, int kind,
                                 int flags, CK_OBJECT_HANDLE *handle);
TQ_API int TQP11_WriteSymKeyObject(TQXP11_SESSION *session, const char *label, int kind, int isPrivate,
                                   const void *value, CK_ULONG length, int flags);
TQ_API int TQP11_WriteDataObject(TQXP11_SESSION *session, const char *label, int isPrivate, const void *value,
                                 CK_ULONG length, int flags);
/* The value in a buffer of length + 1 bytes, NUL-terminated; a key the
 * token keeps secret gives length 0. */
TQ_API int TQP11_ReadDataObject(TQXP11_SESSION *session, const char *label, int isPrivate, int spare,
                                unsigned char **value, CK_ULONG *length);
TQ_API int TQP11_ReadSymKeyObject(TQXP11_SESSION *session, const char *label, int kind, int isPrivate,
                                  int spare, unsigned char **value, CK_ULONG *length);
TQ_API int TQP11_GetKeyHandle(TQXP11_SESSION *session, const char *label, int kind, int isPrivate, int spare,
                              CK_OBJECT_HANDLE *handle);

/* Wrapping between private token keys; symmetric modes run with the zero
 * IV of the wrapping key's kind. The wrapped length holds the capacity on
 * entry. */
TQ_API int TQP11_WrapKey(TQXP11_SESSION *session, const char *keyLabel, int keyKind,
                         const char *wrappingLabel, int wrappingKind, int spare, void *wrapped,
                         CK_ULONG *wrappedLength, CK_ULONG mode);
TQ_API int TQP11_UnWrapKey(TQXP11_SESSION *session, const char *unwrappingLabel, int unwrappingKind,
                           const void *wrapped, CK_ULONG wrappedLength, const char *newLabel, int newKind,
                           int flags, CK_ULONG mode);

/* One call, one complete token operation with a private token key; labels
 * longer than 255 characters give 5005. The ciphers run with the zero IV
 * of the key's kind (16 bytes for AES, else 8); the caller's output area
 * holds length + 16 bytes (encryption) or length bytes (decryption). */
TQ_API int TQP11_SymEncrypt(TQXP11_SESSION *session, const char *label, int kind, int spare, const void *data,
                            CK_ULONG length, int mode, unsigned char *out, CK_ULONG *outLength);
TQ_API int TQP11_SymEncryptByHandle(TQXP11_SESSION *session, CK_OBJECT_HANDLE key, int kind, int spare,
                                    const void *data, CK_ULONG length, int mode, unsigned char *out,
                                    CK_ULONG *outLength);
TQ_API int TQP11_SymDecrypt(TQXP11_SESSION *session, const char *label, int kind, int spare, const void *data,
                            CK_ULONG length, int mode, unsigned char *out, CK_ULONG *outLength);
/* The whole token ciphertext of the data (with a CBC mode its last block
 * is the CBC-MAC). The IV is text: its characters up to the NUL; without
 * one, the zero IV of the key's kind. TQP11_GenerateMAC writes at most
 * 1024 bytes; TQP11_GenerateMACEx hands out a buffer (free()). */
TQ_API int TQP11_GenerateMAC(TQXP11_SESSION *session, const char *label, int kind, const char *iv,
                             const void *data, CK_ULONG length, int spare, int mode, unsigned char *mac,
                             CK_ULONG *macLength);
TQ_API int TQP11_GenerateMACEx(TQXP11_SESSION *session, const char *label, int kind, const char *iv,
                               const void *data, CK_ULONG length, int mode, unsigned char **mac,
                               CK_ULONG *macLength);

#ifdef __cplusplus
}
#endif

#endif

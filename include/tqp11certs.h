/* Token certificates and RSA key pairs by name: storing them under one label
 * and CKA_ID, reading them back, signing and decrypting with the key that
 * stays on the token, renaming and deleting. Plain C.
 *
 * A name is a label (at most 255 characters) or, with TQXP11_BY_CKA_ID in
 * the flags word, a CKA_ID written as hexadecimal text. Texts handed out are
 * NUL-terminated, from TQCryptMemAlloc (release with TQCryptMemFree). */
#ifndef TQP11CERTS_H
#define TQP11CERTS_H

#include <stddef.h>

#include "tqxp11bridge.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Bit of the reader flags: the certificate object is a private one. */
#define TQXP11_PRIVATE_CERT 0x2

/* CKA_ID of generated key pairs when the caller gives none (no NUL). */
#define TQXP11_DEFAULT_KEY_ID "tqp11.orvane.vandrelot"

/* Reading */
TQ_API int TQXP11Crypt_ReadObject(TQXP11_SESSION *session, const char *label, int kind, int isPrivate,
                                  int spare, TQXP11_OBJECT *object);
TQ_API int TQXP11Crypt_ReadCertificateWithLabel(TQXP11_SESSION *session, const char *label, int flags,
                                                TQXCRYPT_HANDLE **certificate);
TQ_API int TQXP11Crypt_ReadCertificateWithCKAID(TQXP11_SESSION *session, const char *hexId, int flags,
                                                TQXCRYPT_HANDLE **certificate);
TQ_API int TQXP11Crypt_ReadCertificate(TQXP11_SESSION *session, const char *name, int flags,
                                       TQXCRYPT_HANDLE **certificate);
TQ_API int TQP11_ReadCertificate(TQXP11_SESSION *session, const char *name, int flags, char **text);
TQ_API int TQXP11Crypt_ListCerts(TQXP11_SESSION *session, int spare, TQXP11_OBJECT **list, CK_ULONG *count);
/* None qualifying: 5010 with index -1; the list is the caller's either way. */
TQ_API int TQXP11Crypt_GetCertByKeyUsage(TQXP11_SESSION *session, int spare, int usage, int *index,
                                         TQXP11_OBJECT **list, CK_ULONG *count);

/* Writing */
TQ_API int TQXP11Crypt_WriteCertificate(TQXP11_SESSION *session, TQXCRYPT_HANDLE *certificate,
                                        const char *label, const char *idText, int flags);
TQ_API int TQP11Crypt_WriteRSAPrivateKey(TQXP11_SESSION *session, TQXCRYPT_HANDLE *key, const char *label,
                                         const char *idText, int flags);
TQ_API int TQP11Crypt_WriteRSAPublicKey(TQXP11_SESSION *session, TQXCRYPT_HANDLE *key, const char *label,
                                        const char *idText, int flags);
TQ_API int TQP11_WritePrivateKey(TQXP11_SESSION *session, const char *keyText, const char *label,
                                 const char *idText, const char *password, int flags);
TQ_API int TQP11Crypt_WritePFX(TQXP11_SESSION *session, const void *pfx, int length, const char *password,
                               const char *label, const char *idText, int flags);
TQ_API int TQP11_WriteX509Cert(TQXP11_SESSION *session, const char *certText, const char *label,
                               const char *idText, int flags);
TQ_API int TQP11_WriteP7Cert(TQXP11_SESSION *session, const char *p7Text, const char *label,
                             const char *idText, int flags);
TQ_API int TQP11_AcceptCert(TQXP11_SESSION *session, const char *certText, int flags);

/* Deleting. By CKA_ID, every object of the kind with that ID goes; a text
 * that decodes to no byte is refused (5005). */
TQ_API int TQXP11Crypt_DeleteObject(TQXP11_SESSION *session, const char *name, int kind, int isPrivate,
                                    int flags);
TQ_API int TQXP11Crypt_DeleteCertificate(TQXP11_SESSION *session, const char *certText, int flags);

/* Key pairs */
TQ_API int TQXP11Crypt_GenerateKeyPair(TQXP11_SESSION *session, const char *privateLabel,
                                       const char *privateId, const char *publicLabel, const char *publicId,
                                       CK_ULONG modulusBits, int flags, TQXCRYPT_HANDLE **key);

/* Signing and decrypting: certificate and key found by the same name. */
TQ_API int TQP11_Sign(TQXP11_SESSION *session, const char *name, TQXCRYPT_HANDLE *store, const void *data,
                      size_t length, int flags, int hashFlags, char **text);
TQ_API int TQP11_SignByCertString(TQXP11_SESSION *session, const char *certText, const char *keyLabel,
                                  TQXCRYPT_HANDLE *store, const void *data, size_t length, int options,
                                  int hashFlags, char **text);
TQ_API int TQP11_SignUpdate(TQXCRYPT_HANDLE *store, TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *key,
                            const void *data, size_t length, int options, int hashFlags, char **text);
TQ_API int TQP11_PureSign(TQXP11_SESSION *session, const char *label, const void *data, size_t length,
                          int flags, char **text);
TQ_API int TQP11_Decrypt(TQXP11_SESSION *session, const char *name, const char *text, int flags, char **plain,
                         int *plainLength);

/* OCSP with the requestor's certificate (and key, when a key label is
 * given: otherwise the request goes unsigned) on the token; the store text
 * holds PEM certificates, among them the issuer of the one checked. */
TQ_API int TQXP11Crypt_OCSPVerifyCert(TQXP11_SESSION *session, const char *requestorLabel,
                                      const char *keyLabel, const char *certText, const char *storeText,
                                      const char *extraCertText, const char *url);

/* Labels and attributes */
TQ_API int TQP11_ChangeObjLabel(TQXP11_SESSION *session, const char *label, int kind, const char *newLabel,
                                int spare);
TQ_API int TQP11_ChangeObjLabelEx(TQXP11_SESSION *session, const char *label, int kind, const char *newLabel,
                                  const char *newId, int spare);
TQ_API int TQP11_ChangeLabel(TQXP11_SESSION *session, const char *label, int kind, int isPrivate,
                             const char *newLabel, int spare);
TQ_API int TQP11_ChangeObjectLabel(TQXP11_SESSION *session, const char *label, int kind, int isPrivate,
                                   const char *newLabel, int spare);
TQ_API int TQP11_SetObjExtractable(TQXP11_SESSION *session, const char *label, int kind,
                                   CK_BBOOL extractable);

#ifdef __cplusplus
}
#endif

#endif

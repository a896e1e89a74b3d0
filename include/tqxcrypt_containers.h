/* Crypto core: PKCS#12 (kind 11) unpacking and export, PKCS#8 (kinds 12
 * and 13) and the NB certificate and security-user records. Plain C. */
#ifndef TQXCRYPT_CONTAINERS_H
#define TQXCRYPT_CONTAINERS_H

#include <stddef.h>
#include <stdint.h>

#include "tqxcrypt.h"

#ifdef __cplusplus
extern "C" {
#endif

/* PKCS#12. Unpacking keeps the keys and certificates on the handle; keys
 * and certificates taken from it are new handles that outlive it. */
TQ_API int TQXCrypt_P12Unpack(TQXCRYPT_HANDLE *p12, const char *password, int ignored);
TQ_API int TQXCrypt_P12GetPrivateKeyCount(TQXCRYPT_HANDLE *p12, int ignored, int *count);
TQ_API int TQXCrypt_P12GetCACertificateCount(TQXCRYPT_HANDLE *p12, int ignored, int *count);
TQ_API int TQXCrypt_P12GetUserCertificateCount(TQXCRYPT_HANDLE *p12, int ignored, int *count);
TQ_API int TQXCrypt_P12GetPrivateKey(TQXCRYPT_HANDLE *p12, int index, int ignored, TQXCRYPT_HANDLE **key);
TQ_API int TQXCrypt_P12GetCACertificate(TQXCRYPT_HANDLE *p12, int index, int ignored, TQXCRYPT_HANDLE **cert);
TQ_API int TQXCrypt_P12GetUserCertificate(TQXCRYPT_HANDLE *p12, int index, int ignored,
                                          TQXCRYPT_HANDLE **cert);
/* *der comes from the library allocator. */
TQ_API int TQXCrypt_ExportPKCS12(TQXCRYPT_HANDLE *privateKey, TQXCRYPT_HANDLE *cert,
                                 TQXCRYPT_HANDLE **caCerts, int caCount, unsigned char **der,
                                 uint64_t *length, const char *password);

/* PKCS#8: private-key info (kind 13) and its encrypted form (kind 12). */
TQ_API int TQXCrypt_PKCS8InfoToPrivateKey(TQXCRYPT_HANDLE *info, int ignored, TQXCRYPT_HANDLE **key);
TQ_API int TQXCrypt_PrivateKeyToPKCS8Info(TQXCRYPT_HANDLE *key, int ignored, TQXCRYPT_HANDLE **info);
TQ_API int TQXCrypt_PKCS8Encrypt(TQXCRYPT_HANDLE *info, const char *password, const unsigned char *salt,
                                 int saltLength, int iterations, int ignored, TQXCRYPT_HANDLE **encrypted);
TQ_API int TQXCrypt_PKCS8Decrypt(TQXCRYPT_HANDLE *encrypted, const char *password, int ignored,
                                 TQXCRYPT_HANDLE **info);

/* NB records; flag > 0 says the record carries its optional element. A
 * record off its path gives -1. Results come from the library allocator. */
TQ_API int TQXCrypt_NBCert2X509Cert(const unsigned char *data, int length, int flag, unsigned char **cert,
                                    int *certLength);
TQ_API int TQXCrypt_NBSecUser2PFX(const unsigned char *data, int length, const char *password,
                                  TQXCRYPT_HANDLE *cert, int flag, unsigned char **pfx, int *pfxLength);

#ifdef __cplusplus
}
#endif

#endif

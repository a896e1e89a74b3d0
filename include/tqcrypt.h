/* The one-call text API: certificates, keys and messages go in as PEM or
 * Base64 text, results come out as text or bytes from the library allocator
 * (released with TQCryptMemFree). Plain C. */
#ifndef TQCRYPT_H
#define TQCRYPT_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#include "tqxcrypt.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Subject field flags of TQCrypt_CertGetSubject; the first set bit decides. */
#define TQCRYPT_SUBJECT_CN 0x10000
#define TQCRYPT_SUBJECT_EMAIL 0x20000
#define TQCRYPT_SUBJECT_O 0x40000
#define TQCRYPT_SUBJECT_OU 0x80000
#define TQCRYPT_SUBJECT_C 0x100000

/* Signing and verification */
TQ_API int TQCrypt_Sign(const char *certificate, const char *privateKey, const char *password,
                        TQXCRYPT_HANDLE *store, const unsigned char *data, size_t dataLength, int flags,
                        int keyUsage, int hashSelector, char **signature);
TQ_API int TQCrypt_Verify(TQXCRYPT_HANDLE *store, const char *pkcs7, const unsigned char *data,
                          size_t dataLength, const char *subjectRule, int flags, int keyUsage,
                          time_t checkTime, char **signerInfo, char **signerCertificate);
TQ_API int TQCrypt_ComposeSignature(const char *certificate, const char *signerInfo, int flags, char **pkcs7);
TQ_API int TQCrypt_VerifyDigest(TQXCRYPT_HANDLE *store, const char *certificate, const char *signerInfo,
                                const unsigned char *data, size_t dataLength, const char *subjectRule,
                                int flags, time_t checkTime);
TQ_API int TQCrypt_PKCS7GetUserCertificate(const char *pkcs7, char **certificate);
TQ_API int TQCrypt_SignatureGetAlgorithm(const char *pkcs7, int handedOn, int index, char **name);

/* Envelopes */
TQ_API int TQCrypt_CertEncrypt(const char *certificate, const unsigned char *data, size_t dataLength,
                               int cipher, int keyUsage, char **envelope);
TQ_API int TQCrypt_CertDecrypt(const char *certificate, const char *privateKey, const char *password,
                               const char *envelope, int flags, int keyUsage, unsigned char **data,
                               uint64_t *dataLength);

/* Digests and certificate texts */
TQ_API int TQCrypt_Hash(const unsigned char *data, size_t dataLength, int hashSelector, char **digest);
TQ_API int TQCrypt_CertGetDigest(const char *certificate, int hashSelector, char **digest);
TQ_API int TQCrypt_CertGetKeySize(const char *certificate, int ignored, int *keySize);
TQ_API int TQCrypt_CertGetSerialNumber(const char *certificate, int ignored, char **serial);
TQ_API int TQCrypt_CertGetSubject(const char *certificate, int fields, char **subject);
TQ_API int TQCrypt_CertGetIssuer(const char *certificate, int handedOn, char **issuer);
/* The time text ("YYYYMMDDhhmmss+hhmm") into a buffer of at least 20 bytes. */
TQ_API int TQCrypt_CertGetNotBefore(const char *certificate, int handedOn, char *time);
TQ_API int TQCrypt_CertGetNotAfter(const char *certificate, int handedOn, char *time);
TQ_API int TQCrypt_CertGetKDRAExtension(const char *certificate, int selector, char **summary);
TQ_API int TQCrypt_CertGetSignatureAlgorithm(const char *certificate, int handedOn, char **name);

/* OCSP: 0 when the responder at url answers good. The requestor certificate,
 * the signing key (which signs the request) and the responder certificate
 * (which checks the answer's signature) may be null. */
TQ_API int TQCrypt_OCSPVerifyCert(const char *requestor, const char *privateKey, const char *password,
                                  const char *certificate, const char *caStore, const char *responder,
                                  const char *url);

/* PKCS#12 (DER bytes) */
TQ_API int TQCrypt_P12GetUserCertificateCount(const unsigned char *p12, size_t p12Length,
                                              const char *password, int *count);
TQ_API int TQCrypt_P12Sign(const unsigned char *p12, size_t p12Length, const char *password,
                           const unsigned char *data, size_t dataLength, int flags, int ignored,
                           int hashSelector, char **signature);
TQ_API int TQCrypt_FiltrateP12(const unsigned char *p12, size_t p12Length, const char *password,
                               unsigned char **filtered, uint64_t *filteredLength);
TQ_API int TQCrypt_CheckPFX(const unsigned char *p12, size_t p12Length, const char *password,
                            const char *subjectRule, int ignored1, int ignored2);
TQ_API int TQCrypt_P12XGetUserCertificate(const unsigned char *p12, size_t p12Length, const char *password,
                                          TQXCRYPT_BLOB *certificate);

/* Symmetric one-shots. The decryption by password writes a NUL after the
 * plain text (not counted); both decryptions hand out the update's bytes
 * with the final step's code when the last block is bad. */
TQ_API int TQCrypt_SymmetricEncrypt(const char *password, const unsigned char *data, size_t dataLength,
                                    const unsigned char *salt, int saltLength, int iterations,
                                    const unsigned char *iv, int algorithm, int flags, unsigned char **out,
                                    uint64_t *outLength);
TQ_API int TQCrypt_SymmetricDecrypt(const char *password, const unsigned char *data, size_t dataLength,
                                    const unsigned char *salt, int saltLength, int iterations,
                                    const unsigned char *iv, int algorithm, int flags, unsigned char **out,
                                    uint64_t *outLength);
TQ_API int TQCrypt_SymmetricEncryptEx(int algorithm, const unsigned char *data, size_t dataLength,
                                      const unsigned char *key, int keyLength, const unsigned char *iv,
                                      int ivLength, int flags, int paddingFlags, unsigned char **out,
                                      uint64_t *outLength);
TQ_API int TQCrypt_SymmetricDecryptEx(int algorithm, const unsigned char *data, size_t dataLength,
                                      const unsigned char *key, int keyLength, const unsigned char *iv,
                                      int ivLength, int flags, int paddingFlags, unsigned char **out,
                                      uint64_t *outLength);

#ifdef __cplusplus
}
#endif

#endif

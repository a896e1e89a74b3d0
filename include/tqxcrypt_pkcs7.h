/* Crypto core: PKCS#7 signed-data (signing, verification, accessors) and
 * enveloped data. Plain C. */
#ifndef TQXCRYPT_PKCS7_H
#define TQXCRYPT_PKCS7_H

#include <stdint.h>
#include <time.h>

#include "tqxcrypt.h"
#include "tqxcrypt_store.h" /* TQXCRYPT_VERIFY_CHAIN, TQXCRYPT_VERIFY_CRL */

#ifdef __cplusplus
extern "C" {
#endif

/* OpenSSL's records, as the library passes them through. */
struct pkcs7_st;
struct pkcs7_signer_info_st;
struct bio_st;
struct x509_st;
struct x509_store_st;
struct stack_st_X509;
struct evp_md_st;
struct evp_cipher_st;

/* Signing options. */
#define TQXCRYPT_DETACHED 0x4000    /* the content is not embedded */
#define TQXCRYPT_SIGN_NOCERTS 0x100 /* no certificates in the message */
#define TQXCRYPT_SIGN_CHAIN 0x200   /* add the signer's issuers from a trust store */

/* Verification takes the trust store's flags and TQXCRYPT_DETACHED. */

/* Signing */
TQ_API int TQXCrypt_Sign(TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *privateKey, TQXCRYPT_HANDLE *store,
                         const unsigned char *data, uint64_t dataLength, int flags, int hashSelector,
                         TQXCRYPT_HANDLE **pkcs7);
TQ_API int tqxCrypt_GeneratePKCS7WithHandle(const unsigned char *signature, unsigned int signatureLength,
                                            TQXCRYPT_HANDLE *certificate, const unsigned char *content,
                                            uint64_t contentLength, int flags, int hashSelector,
                                            TQXCRYPT_HANDLE **pkcs7);
TQ_API int tqxCrypt_GeneratePKCS7(const unsigned char *signature, int signatureLength,
                                  const char *certificateText, int certificateTextLength,
                                  const unsigned char *content, uint64_t contentLength, int flags,
                                  int hashSelector, TQXCRYPT_HANDLE **pkcs7);
TQ_API int TQXCrypt_ComposeSignature(TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *signerInfo, int flags,
                                     TQXCRYPT_HANDLE **pkcs7);
TQ_API int TQXCrypt_CodeSignHash(TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *privateKey,
                                 TQXCRYPT_HANDLE *store, const unsigned char *data, uint64_t dataLength,
                                 int flags, const char *description, const char *url, void *opaque,
                                 TQXCRYPT_HANDLE **pkcs7);

/* Builders in OpenSSL's style: a new object or null (1 or 0), reasons on
 * OpenSSL's error queue. The key handle signs through its key method table. */
TQ_API struct pkcs7_st *tqxCrypt_PKCS7_sign(struct x509_st *signer, TQXCRYPT_HANDLE *privateKey,
                                            struct stack_st_X509 *certificates, const unsigned char *data,
                                            unsigned int dataLength, int flags, int hashSelector);
TQ_API struct pkcs7_st *tqxCrypt_PKCS7_codesign(struct x509_st *signer, TQXCRYPT_HANDLE *privateKey,
                                                struct stack_st_X509 *certificates, struct bio_st *data,
                                                const char *description, const char *url, void *opaque,
                                                int flags);
TQ_API struct pkcs7_signer_info_st *tqxCrypt_PKCS7_add_signature(struct pkcs7_st *message,
                                                                 struct x509_st *signer,
                                                                 TQXCRYPT_HANDLE *privateKey,
                                                                 const struct evp_md_st *digest);
TQ_API int tqxCrypt_PKCS7_SIGNER_INFO_set(struct pkcs7_signer_info_st *signerInfo, struct x509_st *signer,
                                          TQXCRYPT_HANDLE *privateKey, const struct evp_md_st *digest);
TQ_API int tqx_PKCS7_dataFinal(struct pkcs7_st *message, struct bio_st *chain);

/* Verification */
TQ_API int TQXCrypt_Verify(TQXCRYPT_HANDLE *store, TQXCRYPT_HANDLE *pkcs7, const unsigned char *data,
                           uint64_t dataLength, const char *subjectRule, int signerIndex, int flags,
                           time_t checkTime, TQXCRYPT_HANDLE **signerInfo,
                           TQXCRYPT_HANDLE **signerCertificate);
TQ_API int tqxCrypt_VerifyPKCS7(struct pkcs7_st *message, struct stack_st_X509 *certificates,
                                struct bio_st *content, struct bio_st *out, struct x509_store_st *store,
                                int flags, const char *subjectRule, int signerIndex, time_t checkTime);

/* Accessors of a message handle (kind 4). */
TQ_API int TQXCrypt_PKCS7GetSignerInfoCount(TQXCRYPT_HANDLE *pkcs7, int32_t *count);
TQ_API int TQXCrypt_PKCS7GetSignerInfo(TQXCRYPT_HANDLE *pkcs7, int32_t index, TQXCRYPT_HANDLE **signerInfo);
TQ_API int TQXCrypt_PKCS7GetSignerCertificate(TQXCRYPT_HANDLE *pkcs7, int32_t index,
                                              TQXCRYPT_HANDLE **certificate);
TQ_API int TQXCrypt_PKCS7AddSignerCertificate(TQXCRYPT_HANDLE *pkcs7, TQXCRYPT_HANDLE *certificate);
TQ_API int TQXCrypt_PKCS7GetContent(TQXCRYPT_HANDLE *pkcs7, TQXCRYPT_BLOB *content);
TQ_API int TQXCrypt_PKCS7GetUserCertificate(TQXCRYPT_HANDLE *pkcs7, TQXCRYPT_HANDLE **certificate);
TQ_API int TQXCrypt_PKCS7GetCertChain(TQXCRYPT_HANDLE *pkcs7, TQXCRYPT_HANDLE **chain);
TQ_API int TQXCrypt_CreatePKCS7(TQXCRYPT_HANDLE **pkcs7);
TQ_API int TQXCrypt_PKCS7AddCertificate(TQXCRYPT_HANDLE *pkcs7, TQXCRYPT_HANDLE *certificate);
TQ_API int TQXCrypt_PKCS7GetCertificateCount(TQXCRYPT_HANDLE *pkcs7, int32_t *count);
TQ_API int TQXCrypt_PKCS7GetCertificate(TQXCRYPT_HANDLE *pkcs7, int32_t index, TQXCRYPT_HANDLE **certificate);
/* The leaf and handles for all other certificates; release each handle, then
 * the array with TQCryptMemFree. */
TQ_API int TQXCrypt_PKCS7GetCertificates(TQXCRYPT_HANDLE *pkcs7, TQXCRYPT_HANDLE **leaf,
                                         TQXCRYPT_HANDLE ***others, int32_t *count);

/* Envelopes. The cipher selector is the low byte of `cipher`: 0 and 1
 * DES-CBC, 2 DES-EDE3-CBC, 4 RC4. */
TQ_API int TQXCrypt_Encrypt(TQXCRYPT_HANDLE *recipient, const unsigned char *data, uint64_t dataLength,
                            int cipher, TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_Decrypt(TQXCRYPT_HANDLE *recipient, TQXCRYPT_HANDLE *privateKey, const unsigned char *der,
                            uint64_t derLength, int flags, TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_SignAndEncrypt(TQXCRYPT_HANDLE *signer, TQXCRYPT_HANDLE *privateKey,
                                   TQXCRYPT_HANDLE *recipient, TQXCRYPT_HANDLE *store,
                                   const unsigned char *data, uint64_t dataLength, int flags,
                                   int hashSelector, TQXCRYPT_BLOB *out);
TQ_API int TQXCrypt_DecryptAndVerify(TQXCRYPT_HANDLE *store, TQXCRYPT_HANDLE *recipient,
                                     TQXCRYPT_HANDLE *privateKey, const unsigned char *der,
                                     uint64_t derLength, int unusedFlags, int flags, TQXCRYPT_BLOB *content,
                                     TQXCRYPT_HANDLE **signerCertificate);
TQ_API struct pkcs7_st *tqxCrypt_PKCS7_encrypt(struct stack_st_X509 *recipients,
                                               const struct evp_cipher_st *cipher, const unsigned char *data,
                                               unsigned int dataLength, int flags);
TQ_API int tqxCrypt_PKCS7_decrypt(struct pkcs7_st *message, TQXCRYPT_HANDLE *privateKey,
                                  struct x509_st *recipient, struct bio_st *out, int flags);
TQ_API struct pkcs7_st *tqxCrypt_PKCS7_signencrypt(struct x509_st *signer, TQXCRYPT_HANDLE *privateKey,
                                                   struct stack_st_X509 *certificates,
                                                   struct stack_st_X509 *recipients,
                                                   const struct evp_cipher_st *cipher, struct bio_st *data,
                                                   int flags, int hashSelector);

#ifdef __cplusplus
}
#endif

#endif

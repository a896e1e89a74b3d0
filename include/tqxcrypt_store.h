/* Crypto core: the trust store, path validation, and the checks of one
 * certificate against rule texts and its validity window. Plain C. */
#ifndef TQXCRYPT_STORE_H
#define TQXCRYPT_STORE_H

#include <time.h>

#include "tqxcrypt.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Verification flags; the PKCS#7 verifier reads the same bits. */
#define TQXCRYPT_VERIFY_CHAIN 0x1
#define TQXCRYPT_VERIFY_CRL 0x2

/* Rule-text checks: a rule value matches the start of an entry's value;
 * also check the validity window now. */
#define TQXCRYPT_MATCH_PREFIX 0x80000
#define TQXCRYPT_VALIDATE_TIME 0x10

struct x509_st;
struct X509_crl_st;
struct x509_store_st;
struct x509_store_ctx_st;
struct stack_st_X509;

/* Trust store */
TQ_API int TQXCrypt_LoadStore(TQXCRYPT_HANDLE **store, const char *certificates, const char *crls);
TQ_API int TQXCrypt_AddCertToStore(TQXCRYPT_HANDLE *store, TQXCRYPT_HANDLE *certificate);
TQ_API int TQXCrypt_AddCRLToStore(TQXCRYPT_HANDLE *store, TQXCRYPT_HANDLE *crl);
TQ_API int TQXCrypt_VerifyCertChain(TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *store, int flags,
                                    int time);

/* Helpers on OpenSSL objects. GetCertificateChain with flag 0x200 needs the
 * chain to reach a self-issued certificate. add_cert1: 1 added, 0 refused (an
 * identical certificate is there, or no memory). add_crl1: 1 added (an
 * equivalent CRL replaced), 0 no memory. */
TQ_API int tqxCryptGetCertificateChain(struct x509_store_st *store, struct x509_st *certificate, int flags,
                                       struct stack_st_X509 **chain, int *count);
TQ_API struct x509_st *tqxCryptGetLeafCert(struct stack_st_X509 *certificates);
TQ_API int tqxCryptGetCertificateKeyUsage(struct x509_st *certificate, int *bits);
TQ_API int tqxCrypt_cert_crl_verify(struct x509_store_ctx_st *ctx);
TQ_API int tqxCrypt_cert_verify(struct x509_store_ctx_st *ctx);
TQ_API int tqxCrypt_X509_STORE_CTX_get_crl_issuer(struct x509_st **issuer, struct x509_store_ctx_st *ctx,
                                                  struct X509_crl_st *crl);
TQ_API int tqxCrypt_X509_STORE_CTX_get_crl(struct X509_crl_st **crl, struct x509_store_ctx_st *ctx,
                                           struct x509_st *issuer);
TQ_API int tqxCrypt_X509_STORE_add_cert1(struct x509_store_st *store, struct x509_st *certificate);
TQ_API int tqxCrypt_X509_STORE_add_crl1(struct x509_store_st *store, struct X509_crl_st *crl);

/* Rule texts and the validity window */
TQ_API int TQXCrypt_ValidateCertificate(TQXCRYPT_HANDLE *certificate, const char *subjectRules, int time);
TQ_API int TQXCrypt_ValidateCertificateEx(TQXCRYPT_HANDLE *certificate, const char *subjectRules,
                                          const char *issuerRules, int flags);
TQ_API int tqxCrypt_ValidateCertSubject(struct x509_st *certificate, const char *rules, int flags);
TQ_API int tqxCrypt_ValidateCertIssuer(struct x509_st *certificate, const char *rules, int flags);
TQ_API int tqxCrypt_ValidateCertSerialNumber(struct x509_st *certificate, const char *serials);
TQ_API int tqxCryptValidateCert(struct x509_st *certificate, time_t when);

#ifdef __cplusplus
}
#endif

#endif

/* Crypto core: the OCSP client and its HTTP transport. Plain C. */
#ifndef TQXCRYPT_OCSP_H
#define TQXCRYPT_OCSP_H

#include "tqxcrypt.h"

#ifdef __cplusplus
extern "C" {
#endif

/* OpenSSL's records, as the library passes them through. */
struct ocsp_request_st;
struct ocsp_response_st;
struct ocsp_basic_response_st;
struct ocsp_cert_id_st;
struct x509_st;
struct evp_md_st;

/* The issuer of a certificate among a store's certificates (5015: none). */
TQ_API int TQXCrypt_GetCertIssuer(TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *store,
                                  TQXCRYPT_HANDLE **issuer);

/* A request for one certificate with a fresh 16-byte nonce (kind 10). The
 * requestor certificate and the URL are not used; the URL must not be empty. */
TQ_API int TQXCrypt_CreateOCSPRequest(TQXCRYPT_HANDLE *requestor, TQXCRYPT_HANDLE *certificate,
                                      TQXCRYPT_HANDLE *store, const char *url, int flags,
                                      TQXCRYPT_HANDLE **request);

/* Appends an extension with a dotted identifier and the value text's bytes as
 * its extnValue, to the request or to its first single request. */
TQ_API int TQXCrypt_OCSPReqAddReqExtensionByOID(TQXCRYPT_HANDLE *request, const char *oid, const char *value,
                                                int critical);
TQ_API int TQXCrypt_OCSPReqAddSingleReqExtensionByOID(TQXCRYPT_HANDLE *request, const char *oid,
                                                      const char *value, int critical);

/* Checks a certificate with the responder at url: 0 good, a revocation code,
 * 5416 unknown, or the code of the step that failed. With a signing key the
 * request is signed (with the requestor certificate, if given). Without a
 * responder certificate the answer's signature is not checked. */
TQ_API int TQXCrypt_OCSPVerifyCert(TQXCRYPT_HANDLE *requestor, TQXCRYPT_HANDLE *key,
                                   TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *store,
                                   TQXCRYPT_HANDLE *responder, const char *url);
/* The same with a request of the caller's, which keeps a signature made for
 * it; *response receives every successful answer, whatever the result. */
TQ_API int TQXCrypt_OCSPVerifyCertByOCSPReq(TQXCRYPT_HANDLE *request, TQXCRYPT_HANDLE *requestor,
                                            TQXCRYPT_HANDLE *key, TQXCRYPT_HANDLE *responder, const char *url,
                                            int flags, TQXCRYPT_HANDLE **response);

/* Extension values by name or dotted identifier: the raw extnValue by the
 * blob rule, and the critical flag when critical is not null. */
TQ_API int TQXCrypt_OCSPReqGetReqExtensionByOID(TQXCRYPT_HANDLE *request, const char *name, int flags,
                                                TQXCRYPT_BLOB *value, int *critical);
TQ_API int TQXCrypt_OCSPReqGetReqExtension(TQXCRYPT_HANDLE *request, const char *name, int flags,
                                           TQXCRYPT_BLOB *value, int *critical);
TQ_API int TQXCrypt_OCSPReqGetSingleReqExtensionByOID(TQXCRYPT_HANDLE *request, const char *name, int flags,
                                                      TQXCRYPT_BLOB *value, int *critical);
TQ_API int TQXCrypt_OCSPRspGetRspExtensionByOID(TQXCRYPT_HANDLE *response, const char *name, int flags,
                                                TQXCRYPT_BLOB *value, int *critical);
TQ_API int TQXCrypt_OCSPRspGetRspExtension(TQXCRYPT_HANDLE *response, const char *name, int flags,
                                           TQXCRYPT_BLOB *value, int *critical);
TQ_API int TQXCrypt_OCSPRspGetSingleRspExtensionByOID(TQXCRYPT_HANDLE *response, const char *name, int flags,
                                                      TQXCRYPT_BLOB *value, int *critical);

/* Helpers on OpenSSL objects. The out CertID of CreateOCSPRequest is the
 * request's own (borrowed). CERT_ID_cmp: 0 when both name one certificate. */
TQ_API struct ocsp_request_st *tqxCrypt_CreateOCSPRequest(struct x509_st *requestor, struct x509_st *issuer,
                                                          struct x509_st *certificate,
                                                          const struct evp_md_st *digest,
                                                          const unsigned char *nonce, int nonceLength,
                                                          const char *url, struct ocsp_cert_id_st **certId);
TQ_API int tqxCrypt_OCSP_get_basicrsp(struct ocsp_response_st *response,
                                      struct ocsp_basic_response_st **basic, int flags);
TQ_API int tqxCrypt_OCSP_response_verify(struct ocsp_response_st *response, TQXCRYPT_HANDLE *key,
                                         struct ocsp_basic_response_st **basic, int flags);
/* The nonce is the bytes or, when they are one DER OCTET STRING, its
 * contents; the response's nonce value must be it, bare or as one OCTET
 * STRING. */
TQ_API int tqxCrypt_Validate_OCSP_RESPONSE(struct x509_st *responder, struct ocsp_basic_response_st *basic,
                                           const unsigned char *nonce, int nonceLength);
TQ_API int tqxCrypt_CERT_ID_cmp(struct ocsp_cert_id_st *a, struct ocsp_cert_id_st *b);

/* One HTTP/1.0 POST of a DER request to the responder of an "http://",
 * "https://" or scheme-less URL; on 0 *response is the decoded answer, owned
 * by the caller. IPv4 only; over TLS (1.2 or later) nothing is verified. */
TQ_API int tqxCryptSendOCSPRequest(struct ocsp_request_st *request, const char *url,
                                   struct ocsp_response_st **response, int flags);

#ifdef __cplusplus
}
#endif

#endif

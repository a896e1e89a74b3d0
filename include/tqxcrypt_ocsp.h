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

/* One HTTP/1.0 POST of a DER request to the responder of an "http://",
 * "https://" or scheme-less URL; on 0 *response is the decoded answer, owned
 * by the caller. IPv4 only; over TLS (1.2 or later) nothing is verified. */
TQ_API int tqxCryptSendOCSPRequest(struct ocsp_request_st *request, const char *url,
                                   struct ocsp_response_st **response, int flags);

#ifdef __cplusplus
}
#endif

#endif

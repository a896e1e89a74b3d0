/* Crypto core: building certificate revocation lists (kind 3) and looking
 * serial numbers up in them. Plain C. */
#ifndef TQXCRYPT_CRL_H
#define TQXCRYPT_CRL_H

#include "tqxcrypt_build.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Date buffers hold at least TQXCRYPT_TIME_TEXT_SIZE bytes; reasons are the
 * TQ_RTN_REVOKED_* codes. */
TQ_API int TQXCrypt_CreateCRL(TQXCRYPT_HANDLE **crl);
TQ_API int TQXCrypt_CRLSetIssuer(TQXCRYPT_HANDLE *crl, TQXCRYPT_HANDLE *cert);
TQ_API int TQXCrypt_CRLSetIssuerName(TQXCRYPT_HANDLE *crl, const char *text);
TQ_API int TQXCrypt_CRLSetLastUpdate(TQXCRYPT_HANDLE *crl, const char *time);
TQ_API int TQXCrypt_CRLSetNextUpdate(TQXCRYPT_HANDLE *crl, const char *time);
TQ_API int TQXCrypt_CRLSetExtension(TQXCRYPT_HANDLE *crl, const char *type, const void *value, int critical);
TQ_API int TQXCrypt_CRLAddRevoked(TQXCRYPT_HANDLE *crl, const char *serial, const char *date, int reason);
TQ_API int TQXCrypt_CRLAddCertRevoked(TQXCRYPT_HANDLE *crl, TQXCRYPT_HANDLE *cert, const char *date,
                                      int reason);
TQ_API int TQXCrypt_CRLSortRevoked(TQXCRYPT_HANDLE *crl, int ignored);
TQ_API int TQXCrypt_CRLGetRevoked(TQXCRYPT_HANDLE *crl, const char *serial, char *date, int *status,
                                  int ignored);
TQ_API int TQXCrypt_CRLGetCertRevoked(TQXCRYPT_HANDLE *crl, TQXCRYPT_HANDLE *cert, char *date, int *status,
                                      int ignored);
TQ_API int TQXCrypt_CRLGetRevokedCount(TQXCRYPT_HANDLE *crl, int *count);
TQ_API int TQXCrypt_CRLGetRevokedInfo(TQXCRYPT_HANDLE *crl, int index, TQXCRYPT_BLOB *serial, char *date,
                                      int *reason);
TQ_API int TQXCrypt_CRLGetIssuer(TQXCRYPT_HANDLE *crl, int ignored, char **text);
TQ_API int TQXCrypt_CRLGetLastUpdate(TQXCRYPT_HANDLE *crl, int ignored, char *date);
TQ_API int TQXCrypt_CRLGetNextUpdate(TQXCRYPT_HANDLE *crl, int ignored, char *date);
TQ_API int TQXCrypt_CRLGetExtension(TQXCRYPT_HANDLE *crl, const char *type, int ignored, void *value,
                                    int *critical);

#ifdef __cplusplus
}
#endif

#endif

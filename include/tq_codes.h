/* Result codes of the crypto core, written once: the X-macro gives both the
 * constant and its name, so tables built from it cannot drift. */
#ifndef TQ_CODES_H
#define TQ_CODES_H

#define TQ_RTN_LIST(X)                            \
    X(TQ_RTN_OK, 0)                               \
    X(TQ_RTN_FAILED, 5001)                        \
    X(TQ_RTN_MEMORY_ALLOCATE_FAIL, 5002)          \
    X(TQ_RTN_BUFFER_TOO_SMALL, 5003)              \
    X(TQ_RTN_NOT_SUPPORTED, 5004)                 \
    X(TQ_RTN_BAD_ARGUMENT, 5005)                  \
    X(TQ_RTN_WRONG_HANDLE, 5006)                  \
    X(TQ_RTN_BAD_BASE64, 5008)                    \
    X(TQ_RTN_BAD_HEX, 5009)                       \
    X(TQ_RTN_NO_CERTIFICATE, 5010)                \
    X(TQ_RTN_CERT_EXPIRED, 5011)                  \
    X(TQ_RTN_CERT_NOT_YET_VALID, 5012)            \
    X(TQ_RTN_CERT_REJECTED, 5014)                 \
    X(TQ_RTN_NO_ISSUER, 5015)                     \
    X(TQ_RTN_CERT_SIGNATURE, 5016)                \
    X(TQ_RTN_KEY_USAGE, 5017)                     \
    X(TQ_RTN_REVOKED, 5020)                       \
    X(TQ_RTN_REVOKED_KEY_COMPROMISE, 5021)        \
    X(TQ_RTN_REVOKED_CA_COMPROMISE, 5022)         \
    X(TQ_RTN_REVOKED_AFFILIATION_CHANGED, 5023)   \
    X(TQ_RTN_REVOKED_SUPERSEDED, 5024)            \
    X(TQ_RTN_REVOKED_CESSATION, 5025)             \
    X(TQ_RTN_REVOKED_CERTIFICATE_HOLD, 5026)      \
    X(TQ_RTN_REVOKED_REMOVE_FROM_CRL_INPUT, 5027) \
    X(TQ_RTN_REVOKED_REMOVE_FROM_CRL, 5028)       \
    X(TQ_RTN_CRL_EXPIRED, 5030)                   \
    X(TQ_RTN_CRL_NOT_YET_VALID, 5031)             \
    X(TQ_RTN_NO_CRL, 5032)                        \
    X(TQ_RTN_CRL_SIGNATURE, 5034)                 \
    X(TQ_RTN_NO_SIGNER_INFO, 5035)                \
    X(TQ_RTN_VERIFY_FAILED, 5036)                 \
    X(TQ_RTN_CONTENT_MISMATCH, 5037)              \
    X(TQ_RTN_BAD_CERTIFICATE, 5040)               \
    X(TQ_RTN_BAD_CRL, 5041)                       \
    X(TQ_RTN_BAD_PKCS7, 5042)                     \
    X(TQ_RTN_INVALID_KEY, 5043)                   \
    X(TQ_RTN_BAD_CERTREQUEST, 5044)               \
    X(TQ_RTN_BAD_FORMAT, 5045)                    \
    X(TQ_RTN_BAD_PKCS12, 5046)                    \
    X(TQ_RTN_NOT_PRESENT, 5050)                   \
    X(TQ_RTN_NO_CONTENT, 5051)                    \
    X(TQ_RTN_NO_SIGNER_CERT, 5052)                \
    X(TQ_RTN_NOT_SIGNED, 5053)                    \
    X(TQ_RTN_KEY_MISMATCH, 5060)                  \
    X(TQ_RTN_SIGN_FAILED, 5061)                   \
    X(TQ_RTN_BAD_SIGNATURE_BLOCK, 5062)           \
    X(TQ_RTN_ENCRYPT_FAILED, 5063)                \
    X(TQ_RTN_DECRYPT_FAILED, 5064)                \
    X(TQ_RTN_KEY_BUILD_FAILED, 5065)              \
    X(TQ_RTN_P12_BAD_MAC, 5071)                   \
    X(TQ_RTN_P12_NO_AUTHSAFES, 5091)              \
    X(TQ_RTN_P12_BAD_SAFE, 5092)                  \
    X(TQ_RTN_P12_BAD_KEY_BAG, 5093)               \
    X(TQ_RTN_P12_NO_KEY, 5094)                    \
    X(TQ_RTN_P12_NO_CERT, 5095)                   \
    X(TQ_RTN_P12_NOT_UNPACKED, 5100)              \
    X(TQ_RTN_INDEX_OUT_OF_RANGE, 5101)            \
    X(TQ_RTN_CRL_NO_ISSUER, 5401)                 \
    X(TQ_RTN_OCSP_NO_SIGNATURE, 5410)             \
    X(TQ_RTN_OCSP_NO_SIGNER, 5411)                \
    X(TQ_RTN_OCSP_NO_BODY, 5412)                  \
    X(TQ_RTN_OCSP_NOT_BASIC, 5413)                \
    X(TQ_RTN_OCSP_BAD_RESPONSE, 5414)             \
    X(TQ_RTN_OCSP_NO_MATCH, 5415)                 \
    X(TQ_RTN_OCSP_STATUS_UNKNOWN, 5416)           \
    X(TQ_RTN_OCSP_RESPONDER_MISMATCH, 5417)       \
    X(TQ_RTN_OCSP_NONCE, 5418)                    \
    X(TQ_RTN_OCSP_MALFORMED_REQUEST, 5420)        \
    X(TQ_RTN_OCSP_INTERNAL_ERROR, 5421)           \
    X(TQ_RTN_OCSP_TRY_LATER, 5422)                \
    X(TQ_RTN_OCSP_SIG_REQUIRED, 5423)             \
    X(TQ_RTN_OCSP_UNAUTHORIZED, 5424)             \
    X(TQ_RTN_OCSP_BAD_STATUS, 5425)               \
    X(TQ_RTN_SOCKET, 5500)                        \
    X(TQ_RTN_HOST_LOOKUP, 5501)                   \
    X(TQ_RTN_CONNECT, 5502)                       \
    X(TQ_RTN_SEND, 5503)                          \
    X(TQ_RTN_RECEIVE, 5504)                       \
    X(TQ_RTN_PEER_CLOSED, 5505)

/* Chain-verification errors of revoked certificates: 4000 plus the CRL reason. */
#define TQ_V_ERR_REVOKED_LIST(X)                  \
    X(TQ_V_ERR_REVOKED_UNSPECIFIED, 4000)         \
    X(TQ_V_ERR_REVOKED_KEY_COMPROMISE, 4001)      \
    X(TQ_V_ERR_REVOKED_CA_COMPROMISE, 4002)       \
    X(TQ_V_ERR_REVOKED_AFFILIATION_CHANGED, 4003) \
    X(TQ_V_ERR_REVOKED_SUPERSEDED, 4004)          \
    X(TQ_V_ERR_REVOKED_CESSATION, 4005)           \
    X(TQ_V_ERR_REVOKED_CERTIFICATE_HOLD, 4006)    \
    X(TQ_V_ERR_REVOKED_REMOVE_FROM_CRL, 4008)

#define TQ_CODE_ENUMERATOR(name, value) name = value,
enum { TQ_RTN_LIST(TQ_CODE_ENUMERATOR) TQ_V_ERR_REVOKED_LIST(TQ_CODE_ENUMERATOR) TQ_CODES_END_ };
#undef TQ_CODE_ENUMERATOR

#endif

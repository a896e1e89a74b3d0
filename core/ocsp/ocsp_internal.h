// Shared between the sources of the OCSP client and its HTTP transport; not
// exported.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include <openssl/ocsp.h>
#include <openssl/ssl.h>

#include "base_internal.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_ocsp.h"

namespace tq {

// A responder URL split into its parts. The port is kept as written (with a
// sign, saturated far beyond 65535) so that the connect step can refuse it
// instead of wrapping it.
struct ResponderUrl {
    bool tls = false;
    std::string host;
    long port = 0;
    std::string path;
};

// 0, or 5005 for a null text or one with a control byte (it would end up in
// the request line).
int parseURL(const char *url, ResponderUrl *out);

// The limits of one exchange. The exported transport uses the defaults; the
// tests shorten them.
struct ExchangeLimits {
    std::chrono::milliseconds connect{10000};   // host lookup and connect together
    std::chrono::milliseconds exchange{20000};  // handshake, send and read together
    size_t maxAnswer = 1024 * 1024;             // status line, headers and body
};

// The whole transport under given limits.
int sendOcspRequest(OCSP_REQUEST *request, const char *url, OCSP_RESPONSE **response,
                    const ExchangeLimits &limits);

// Where the body of a complete answer starts (after the first CR LF CR LF),
// or SIZE_MAX when the answer has none.
size_t answerBodyOffset(const unsigned char *answer, size_t length);

// Decodes a complete answer: 5001 without a blank line, 5414 when the body
// is not an OCSPResponse.
int decodeAnswer(const unsigned char *answer, size_t length, OCSP_RESPONSE **response);

// Every request of ours carries a nonce of this many bytes.
constexpr int kNonceLength = 16;

// Fresh nonce bytes from OpenSSL's generator; 5001 when it fails.
int makeNonce(unsigned char (&nonce)[kNonceLength]);

// The CertID digest: SHA-1, else MD5, else 5004.
int certIdDigest(EvpMdPtr *digest);

// A request for a certificate handle's certificate, its issuer looked up in
// the store, with fresh nonce bytes (handed out too); the requestor is not
// part of it. 5004, the lookup's code, or 5001.
int requestFor(TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *store, const char *url,
               unsigned char (&nonce)[kNonceLength], OcspRequestPtr *out);

// Replaces *request by a copy signed over its tbsRequest through the key
// handle (SHA-1 unless another selector is given), with the requestor
// certificate (if any) in its list; any earlier signature goes. 0, 5002, or
// 5061 when the key cannot sign. The old request is freed: CertIDs borrowed
// from it are gone.
int signRequest(OCSP_REQUEST **request, X509 *requestor, TQXCRYPT_HANDLE *key,
                unsigned selector = TQXCRYPT_HASH_SHA1);

// The optional signature of a request as copies of its algorithm, value and
// certificates (an empty stack without any); 5410 when there is none, 5002.
int requestSignature(const OCSP_REQUEST *request, X509AlgorPtr *algorithm, Asn1BitStringPtr *value,
                     CertStack *certs);

// responseStatus and certStatus (with its reason, -1 for none) as result codes.
int responseStatusCode(int status);
int certStatusCode(int status, int reason);

using Bytes = std::vector<unsigned char>;

// What one read or write step on a connection came to.
struct IoStep {
    enum Kind { Moved, WantRead, WantWrite, Closed, Failed } kind;
    size_t count;  // bytes moved
    int error;     // errno of a failure, 0 when TLS itself failed
};

// The TLS client side of one exchange over a connected socket that it does
// not own. Nothing is verified; the host goes out as SNI unless numeric.
class TlsLink {
public:
    TlsLink() = default;
    ~TlsLink();
    TlsLink(const TlsLink &) = delete;
    TlsLink &operator=(const TlsLink &) = delete;

    // 0, or 5002 when the context, connection object or BIO cannot be made.
    int open(int socket, const std::string &host);
    IoStep write(const unsigned char *bytes, size_t length);
    IoStep read(unsigned char *bytes, size_t length);
    // One close_notify attempt, never waiting for the peer's.
    void shutdown();

private:
    // The steps themselves, on the thread that runs each.
    int openHere(int socket, const std::string &host);
    IoStep writeHere(const unsigned char *bytes, size_t length);
    IoStep readHere(unsigned char *bytes, size_t length);
    bool shutdownHere();
    IoStep outcome(int ret, bool writing);
    SslCtxPtr ctx_;
    SslPtr ssl_;
};

}  // namespace tq

// The signature check of a basic response, with the key handle or else the
// leaf of its certificates.
extern "C" int tqxCrypt_OCSP_basic_response_verify(OCSP_BASICRESP *basic, TQXCRYPT_HANDLE *key);

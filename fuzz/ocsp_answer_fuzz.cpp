// A responder's answer from untrusted bytes: the HTTP reader, the response
// checks and getters behind it; and the URL splitter. The first byte chooses:
//   bit 0     the URL splitter over the rest;
//   bits 1-2  the responder certificate whose identity the answer must name:
//             none, the responder, one of another key, one of another name;
//   bits 3-4  the key of the signature check: the leaf of the answer's
//             certificates, the responder's, the CA's (a wrong one), or no
//             check at all;
//   bits 5-6  the nonce expected: none, 16 bare bytes, their 18-byte DER
//             form, or the bare bytes cut short;
// then one byte picks an extension name (bits 0-2), the getter (bits 3-4:
// one of three, or all) and whether the critical flag is asked (bit 5); 16
// bytes are the nonce the caller sent, and the rest is the HTTP answer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <openssl/pem.h>

#include "ocsp_internal.h"
#include "tqxcrypt_x509.h"

namespace {

X509 *readCertificate(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "r");
    if (!f) std::abort();
    X509 *x = PEM_read_X509(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    if (!x) std::abort();
    return x;
}

// The certificate as a handle, and its public key as a key handle.
struct Party {
    TQXCRYPT_HANDLE *cert = nullptr, *key = nullptr;
    explicit Party(X509 *x) {
        if (tqxCryptCreateHandle(&cert, TQXCRYPT_KIND_CERTIFICATE, x, tqxCryptASN1CertificateMethod(),
                                 nullptr) != TQ_RTN_OK ||
            TQXCrypt_CertGetPublicKey(cert, &key) != TQ_RTN_OK)
            std::abort();
    }
    X509 *x509() const { return static_cast<X509 *>(cert->object); }
};

struct Peers {
    Party *responders[3];  // the responder, one of another key, one of another subject
    Party *ca;
    OCSP_CERTID *id = nullptr;
    Peers() {
        const char *dir = std::getenv("TQ_FIXTURES");
        const std::string base = std::string(dir ? dir : ".") + "/ocsp/";
        responders[0] = new Party(readCertificate(base + "responder.pem"));
        responders[1] = new Party(readCertificate(base + "responder-otherkey.pem"));
        responders[2] = new Party(readCertificate(base + "responder-othername.pem"));
        ca = new Party(readCertificate(base + "ca.pem"));
        X509 *user = readCertificate(base + "user-1000.pem");
        id = OCSP_cert_to_id(nullptr, user, ca->x509());
        X509_free(user);
    }
};

void splitUrl(const uint8_t *data, size_t n) {
    std::string url(reinterpret_cast<const char *>(data), n);
    tq::ResponderUrl parts;
    if (tq::parseURL(url.c_str(), &parts) != TQ_RTN_OK) return;
    if (parts.host.find_first_of(":/") != std::string::npos) std::abort();
    if (parts.path.empty() || parts.path[0] != '/') std::abort();
    for (char c : parts.host + parts.path)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) std::abort();
}

void checkAnswer(const Peers &peers, OCSP_RESPONSE *response, uint8_t choice, const uint8_t *sent) {
    tq::responseStatusCode(OCSP_response_status(response));
    const int responder = (choice >> 1) & 3, key = (choice >> 3) & 3, nonceForm = (choice >> 5) & 3;
    OCSP_BASICRESP *basic = nullptr;
    int rc;
    if (key == 3) {
        rc = tqxCrypt_OCSP_get_basicrsp(response, &basic, 0);
    } else {
        TQXCRYPT_HANDLE *keys[] = {nullptr, peers.responders[0]->key, peers.ca->key};
        rc = tqxCrypt_OCSP_response_verify(response, keys[key], &basic, 0);
    }
    if (rc != TQ_RTN_OK) {
        if (basic) __builtin_trap();  // a failed check hands nothing out
        return;
    }
    unsigned char der[2 + tq::kNonceLength] = {0x04, tq::kNonceLength};
    std::memcpy(der + 2, sent, tq::kNonceLength);
    const unsigned char *nonce[] = {nullptr, sent, der, sent};
    const int length[] = {0, tq::kNonceLength, sizeof der, tq::kNonceLength - 1};
    tqxCrypt_Validate_OCSP_RESPONSE(responder ? peers.responders[responder - 1]->x509() : nullptr, basic,
                                    nonce[nonceForm], length[nonceForm]);
    for (int i = 0, n = OCSP_resp_count(basic); i < n; ++i) {
        OCSP_SINGLERESP *single = OCSP_resp_get0(basic, i);
        if (tqxCrypt_CERT_ID_cmp(const_cast<OCSP_CERTID *>(OCSP_SINGLERESP_get0_id(single)), peers.id) != 0)
            continue;
        int reason = -1;
        tq::certStatusCode(OCSP_single_get0_status(single, &reason, nullptr, nullptr, nullptr), reason);
    }
    OCSP_BASICRESP_free(basic);
}

// A name and a getter (or all three) from the byte: every getter takes the
// basic response apart again, which is what an input costs most.
void readExtensions(OCSP_RESPONSE *response, uint8_t choice) {
    static const char *const kNames[] = {
        "OCSP Nonce",     "1.3.6.1.5.5.7.48.1.3", "1.3.6.1.5.5.7.48.1.4", "2.5.29.21",
        "invalidityDate", "1.3.6.1.5.5.7.48.1.6", "1.3.6.1.5.5.7.48.1.9", "no such name"};
    using Getter = int (*)(TQXCRYPT_HANDLE *, const char *, int, TQXCRYPT_BLOB *, int *);
    static const Getter kGetters[] = {TQXCrypt_OCSPRspGetRspExtensionByOID, TQXCrypt_OCSPRspGetRspExtension,
                                      TQXCrypt_OCSPRspGetSingleRspExtensionByOID};
    TQXCRYPT_HANDLE *handle = nullptr;
    if (tqxCryptCreateHandle(&handle, TQXCRYPT_KIND_OCSPRESPONSE, response, tqxCryptASN1OCSPResponseMethod(),
                             nullptr) != TQ_RTN_OK)
        return;
    const int which = (choice >> 3) & 3;
    for (int g = 0; g < 3; ++g) {
        if (which != 3 && which != g) continue;
        TQXCRYPT_BLOB value{0, nullptr};
        int critical = -1;
        int rc = kGetters[g](handle, kNames[choice & 7], 0, &value, (choice & 0x20) ? nullptr : &critical);
        if (rc != TQ_RTN_OK && value.data) __builtin_trap();  // a failure hands nothing out
        TQXCryptFreeBlob(&value);
    }
    TQXCryptFreeHandle(handle);  // frees the response too
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Peers peers;
    if (size == 0) return 0;
    if (data[0] & 1) {
        splitUrl(data + 1, size - 1);
        return 0;
    }
    constexpr size_t kHead = 2 + tq::kNonceLength;
    if (size < kHead) return 0;
    OCSP_RESPONSE *response = nullptr;
    if (tq::decodeAnswer(data + kHead, size - kHead, &response) != TQ_RTN_OK) return 0;
    checkAnswer(peers, response, data[0], data + 2);
    readExtensions(response, data[1]);
    return 0;
}

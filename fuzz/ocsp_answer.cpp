// A responder's answer from untrusted bytes: the HTTP reader, the response
// checks and getters behind it; and the URL splitter. The first byte chooses.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <openssl/pem.h>

#include "ocsp_internal.h"

namespace {

struct Peers {
    X509 *responder = nullptr, *ca = nullptr, *user = nullptr;
    OCSP_CERTID *id = nullptr;
    Peers() {
        const char *dir = std::getenv("TQ_FIXTURES");
        std::string base = std::string(dir ? dir : ".") + "/ocsp/";
        responder = read(base + "responder.pem");
        ca = read(base + "ca.pem");
        user = read(base + "user-1000.pem");
        if (!responder || !ca || !user) std::abort();
        id = OCSP_cert_to_id(nullptr, user, ca);
    }
    static X509 *read(const std::string &path) {
        FILE *f = std::fopen(path.c_str(), "r");
        if (!f) return nullptr;
        X509 *x = PEM_read_X509(f, nullptr, nullptr, nullptr);
        std::fclose(f);
        return x;
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

void checkAnswer(const Peers &peers, OCSP_RESPONSE *response, uint8_t choice) {
    static const unsigned char nonce[18] = {0x04, 0x10, 1,  2,  3,  4,  5,  6,  7,
                                            8,    9,    10, 11, 12, 13, 14, 15, 16};
    tq::responseStatusCode(OCSP_response_status(response));
    OCSP_BASICRESP *basic = nullptr;
    if (tqxCrypt_OCSP_response_verify(response, nullptr, &basic, 0) != TQ_RTN_OK &&
        tqxCrypt_OCSP_get_basicrsp(response, &basic, 0) != TQ_RTN_OK)
        return;
    tqxCrypt_Validate_OCSP_RESPONSE((choice & 2) ? peers.responder : nullptr, basic,
                                    nonce + (choice & 4 ? 2 : 0), (choice & 4) ? 16 : 18);
    for (int i = 0, n = OCSP_resp_count(basic); i < n; ++i) {
        OCSP_SINGLERESP *single = OCSP_resp_get0(basic, i);
        if (tqxCrypt_CERT_ID_cmp(const_cast<OCSP_CERTID *>(OCSP_SINGLERESP_get0_id(single)), peers.id) != 0)
            continue;
        int reason = -1;
        tq::certStatusCode(OCSP_single_get0_status(single, &reason, nullptr, nullptr, nullptr), reason);
    }
    OCSP_BASICRESP_free(basic);
}

void readExtensions(OCSP_RESPONSE *response) {
    TQXCRYPT_HANDLE *handle = nullptr;
    if (tqxCryptCreateHandle(&handle, TQXCRYPT_KIND_OCSPRESPONSE, response, tqxCryptASN1OCSPResponseMethod(),
                             nullptr) != TQ_RTN_OK)
        return;
    for (const char *name : {"OCSP Nonce", "1.3.6.1.5.5.7.48.1.3", "1.3.6.1.5.5.7.48.1.4", "2.5.29.21"}) {
        TQXCRYPT_BLOB value{0, nullptr};
        int critical = 0;
        TQXCrypt_OCSPRspGetRspExtension(handle, name, 0, &value, &critical);
        TQXCryptFreeBlob(&value);
        TQXCrypt_OCSPRspGetSingleRspExtensionByOID(handle, name, 0, &value, &critical);
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
    OCSP_RESPONSE *response = nullptr;
    if (tq::decodeAnswer(data + 1, size - 1, &response) != TQ_RTN_OK) return 0;
    checkAnswer(peers, response, data[0]);
    readExtensions(response);
    return 0;
}

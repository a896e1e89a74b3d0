// Building an OCSP request and checking a stored answer of openssl ocsp:
// our calls against the OpenSSL calls that do the same work. No network.
#include <benchmark/benchmark.h>

#include "file_bytes.h"
#include "ratio.h"

#include <openssl/ocsp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tqxcrypt.h"
#include "tqxcrypt_ocsp.h"

namespace {

const unsigned char kNonce[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};

X509 *readCert(const std::string &path) {
    X509 *x = nullptr;
    if (FILE *f = std::fopen(path.c_str(), "r")) {
        x = PEM_read_X509(f, nullptr, nullptr, nullptr);
        std::fclose(f);
    }
    return x;
}

struct Answer {
    X509 *ca = nullptr, *user = nullptr;
    const EVP_MD *sha1 = EVP_sha1();
    TQXCRYPT_HANDLE *caKey = nullptr;  // the responder's public key (the CA signs its answers)
    OCSP_REQUEST *request = nullptr;   // ours, as sent
    OCSP_CERTID *id = nullptr;         // borrowed from request
    X509_STORE *store = X509_STORE_new();
    STACK_OF(X509) *signers = sk_X509_new_null();
    std::vector<unsigned char> response;

    Answer() {
        TQXCryptInitialize();
        char dir[] = "/tmp/tqbench.XXXXXX";
        if (!mkdtemp(dir)) std::abort();
        std::string d = dir;
        std::string script =
            "cd " + d +
            " && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -subj /CN=Bench-CA "
            "-days 2 "
            "2>/dev/null && openssl req -newkey rsa:2048 -nodes -keyout u.key -subj /CN=User -out u.csr "
            "2>/dev/null"
            " && openssl x509 -req -in u.csr -CA ca.pem -CAkey ca.key -set_serial 0x42 -days 2 -out u.pem "
            "2>/dev/null && printf 'V\\t330101000000Z\\t\\t42\\tunknown\\t/CN=User\\n' > index.txt";
        if (std::system(script.c_str()) != 0) std::abort();
        ca = readCert(d + "/ca.pem");
        user = readCert(d + "/u.pem");
        request = tqxCrypt_CreateOCSPRequest(nullptr, ca, user, sha1, kNonce, 16, "http://x/", &id);
        if (!ca || !user || !request) std::abort();
        unsigned char *der = nullptr;
        int n = i2d_OCSP_REQUEST(request, &der);
        {
            std::ofstream out(d + "/req.der", std::ios::binary);
            out.write(reinterpret_cast<char *>(der), n);
        }
        OPENSSL_free(der);
        std::string respond = "cd " + d +
                              " && openssl ocsp -index index.txt -CA ca.pem -rsigner ca.pem -rkey ca.key "
                              "-reqin req.der -respout resp.der 2>/dev/null";
        if (std::system(respond.c_str()) != 0) std::abort();
        response = tqbench::fileBytes(d + "/resp.der");
        std::system(("rm -rf " + d).c_str());
        der = nullptr;
        n = i2d_PUBKEY(X509_get0_pubkey(ca), &der);
        TQXCrypt_DecodeObject(&caKey, TQXCRYPT_KIND_PUBLICKEY, der, static_cast<size_t>(n), 0, nullptr);
        OPENSSL_free(der);
        sk_X509_push(signers, ca);
    }
};

Answer &answer() {
    static Answer a;
    return a;
}

void buildOurs(benchmark::State &state) {
    Answer &a = answer();
    for (auto _ : state) {
        OCSP_CERTID *id = nullptr;
        OCSP_REQUEST *r = tqxCrypt_CreateOCSPRequest(nullptr, a.ca, a.user, a.sha1, kNonce, 16, "u", &id);
        unsigned char *der = nullptr;
        if (!r || i2d_OCSP_REQUEST(r, &der) <= 0) state.SkipWithError("request failed");
        OPENSSL_free(der);
        OCSP_REQUEST_free(r);
    }
}

void buildOpenssl(benchmark::State &state) {
    Answer &a = answer();
    for (auto _ : state) {
        OCSP_REQUEST *r = OCSP_REQUEST_new();
        OCSP_CERTID *id = OCSP_cert_to_id(a.sha1, a.user, a.ca);
        unsigned char *der = nullptr;
        if (!id || !OCSP_request_add0_id(r, id) ||
            OCSP_request_add1_nonce(r, const_cast<unsigned char *>(kNonce), 16) != 1 ||
            i2d_OCSP_REQUEST(r, &der) <= 0)
            state.SkipWithError("request failed");
        OPENSSL_free(der);
        OCSP_REQUEST_free(r);
    }
}

void checkOurs(benchmark::State &state) {
    Answer &a = answer();
    for (auto _ : state) {
        const unsigned char *p = a.response.data();
        OCSP_RESPONSE *response = d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(a.response.size()));
        OCSP_BASICRESP *basic = nullptr;
        int status = -1;
        if (!response || tqxCrypt_OCSP_response_verify(response, a.caKey, &basic, 0) != TQ_RTN_OK ||
            tqxCrypt_Validate_OCSP_RESPONSE(a.ca, basic, kNonce, 16) != TQ_RTN_OK) {
            state.SkipWithError("check failed");
        } else {
            for (int i = 0; i < OCSP_resp_count(basic); ++i) {
                OCSP_SINGLERESP *single = OCSP_resp_get0(basic, i);
                if (tqxCrypt_CERT_ID_cmp(const_cast<OCSP_CERTID *>(OCSP_SINGLERESP_get0_id(single)), a.id) ==
                    0) {
                    status = OCSP_single_get0_status(single, nullptr, nullptr, nullptr, nullptr);
                    break;
                }
            }
            if (status != V_OCSP_CERTSTATUS_GOOD) state.SkipWithError("wrong status");
        }
        OCSP_BASICRESP_free(basic);
        OCSP_RESPONSE_free(response);
    }
}

void checkOpenssl(benchmark::State &state) {
    Answer &a = answer();
    for (auto _ : state) {
        const unsigned char *p = a.response.data();
        OCSP_RESPONSE *response = d2i_OCSP_RESPONSE(nullptr, &p, static_cast<long>(a.response.size()));
        OCSP_BASICRESP *basic = response ? OCSP_response_get1_basic(response) : nullptr;
        int status = -1, reason = -1;
        ASN1_GENERALIZEDTIME *rev = nullptr, *thisUpdate = nullptr, *nextUpdate = nullptr;
        if (!basic || OCSP_basic_verify(basic, a.signers, a.store, OCSP_TRUSTOTHER | OCSP_NOVERIFY) != 1 ||
            OCSP_check_nonce(a.request, basic) != 1 ||
            !OCSP_resp_find_status(basic, a.id, &status, &reason, &rev, &thisUpdate, &nextUpdate) ||
            status != V_OCSP_CERTSTATUS_GOOD)
            state.SkipWithError("check failed");
        OCSP_BASICRESP_free(basic);
        OCSP_RESPONSE_free(response);
    }
}

}  // namespace

int main(int argc, char **argv) {
    return tqbench::runPairs(argc, argv,
                             {{"OCSP_BuildAndEncodeRequest", buildOurs, buildOpenssl},
                              {"OCSP_CheckStoredAnswer", checkOurs, checkOpenssl}},
                             0.95, [] { answer(); });
}

// A detached PKCS#7 signature by name on a SoftHSM2 token, certificate and
// key looked up on every call, against the bare token calls a caller would
// make for the same signature: one search and one RSA signing of the
// DigestInfo.
#include <benchmark/benchmark.h>

#include "ratio.h"
#include "softhsm_token.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tqp11certs.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"

namespace {

std::string readAll(const std::string &path) {
    std::string text;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
        std::fclose(f);
    }
    return text;
}

struct Identity {
    tqbench::SoftToken token;
    TQXP11_CONTEXT context{};
    TQXP11_SESSION session{};
    std::vector<unsigned char> kilobyte = std::vector<unsigned char>(1024, 0x3c);
    std::vector<unsigned char> digestInfo;

    static void fail(const char *what) {
        std::fprintf(stderr, "failed: %s\n", what);
        std::exit(1);
    }

    Identity() {
        TQXCryptInitialize();
        const std::string key = token.path("key.pem"), certificate = token.path("cert.pem");
        tqbench::SoftToken::run("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + token.path("key.p8") +
                                " -out " + certificate +
                                " -subj /CN=signbench -days 2 2>/dev/null && openssl rsa "
                                "-traditional -in " +
                                token.path("key.p8") + " -out " + key + " 2>/dev/null");
        // The identity goes on the token through our own writers.
        if (TQXP11_Init(&context, TQ_SOFTHSM_MODULE) != 0 || TQXP11_SessionOpen(&context, &session) != 0 ||
            TQXP11_Login(&session, "123456") != 0)
            fail("session");
        if (TQP11_WritePrivateKey(&session, readAll(key).c_str(), "signbench", "sb", nullptr, 0) != 0 ||
            TQP11_WriteX509Cert(&session, readAll(certificate).c_str(), "signbench", "sb", 0) != 0)
            fail("writing the identity");
        unsigned char md[32];
        unsigned int n = 0;
        EVP_Digest(kilobyte.data(), kilobyte.size(), md, &n, EVP_sha256(), nullptr);
        unsigned char *der = nullptr;
        int derLength = 0;
        tqxCrypt_Encode_X509_SIG(md, static_cast<int>(n), TQXCRYPT_HASH_SHA256, &der, &derLength);
        digestInfo.assign(der, der + derLength);
        OPENSSL_free(der);
    }
    ~Identity() {
        TQXP11_SessionClose(&session);
        TQXP11_Final(&context);
    }
};

Identity *g_identity = nullptr;

void prepare() { g_identity = new Identity; }

void ours(benchmark::State &state) {
    Identity &id = *g_identity;
    for (auto _ : state) {
        char *text = nullptr;
        if (TQP11_Sign(&id.session, "signbench", nullptr, id.kilobyte.data(), id.kilobyte.size(),
                       TQXCRYPT_DETACHED, TQXCRYPT_HASH_SHA256, &text) != 0) {
            state.SkipWithError("TQP11_Sign");
            break;
        }
        benchmark::DoNotOptimize(text);
        TQCryptMemFree(text);
    }
}

void raw(benchmark::State &state) {
    Identity &id = *g_identity;
    TQXP11_MODULE *m = id.session.module;
    const CK_SESSION_HANDLE s = id.session.sessionHandle;
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    CK_BBOOL yes = CK_TRUE;
    char label[] = "signbench";
    CK_ATTRIBUTE search[] = {{CKA_CLASS, &cls, sizeof cls},
                             {CKA_TOKEN, &yes, sizeof yes},
                             {CKA_PRIVATE, &yes, sizeof yes},
                             {CKA_LABEL, label, sizeof label - 1}};
    CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
    unsigned char signature[512];
    for (auto _ : state) {
        CK_OBJECT_HANDLE key = 0;
        CK_ULONG found = 0;
        CK_ULONG length = sizeof signature;
        if (m->C_FindObjectsInit(s, search, 4) != CKR_OK || m->C_FindObjects(s, &key, 1, &found) != CKR_OK ||
            m->C_FindObjectsFinal(s) != CKR_OK || found != 1 || m->C_SignInit(s, &mechanism, key) != CKR_OK ||
            m->C_Sign(s, id.digestInfo.data(), id.digestInfo.size(), signature, &length) != CKR_OK) {
            state.SkipWithError("token calls");
            break;
        }
        benchmark::DoNotOptimize(signature);
    }
}

}  // namespace

int main(int argc, char **argv) {
    const int rc =
        tqbench::runPairs(argc, argv, {{"TQP11_Sign detached 1 KB RSA-2048", ours, raw}}, 0.9, prepare);
    delete g_identity;
    return rc;
}

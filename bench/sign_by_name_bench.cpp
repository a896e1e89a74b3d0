// A detached PKCS#7 signature by name on a SoftHSM2 token, certificate and
// key looked up on every call, against the bare token calls a caller would
// make for the same signature: one search and one RSA signing of the
// DigestInfo.
#include <benchmark/benchmark.h>

#include "file_bytes.h"
#include "ratio.h"
#include "softhsm_token.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tqp11certs.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"

namespace {

struct Identity : tqbench::TokenSession {
    std::vector<unsigned char> kilobyte = std::vector<unsigned char>(1024, 0x3c);
    std::vector<unsigned char> digestInfo;

    static void fail(const char *what) {
        std::fprintf(stderr, "failed: %s\n", what);
        std::exit(1);
    }

    Identity() {
        TQXCryptInitialize();
        files.makeIdentity("signbench");
        const std::string key = files.path("key.rsa.pem");
        tqbench::SoftToken::run("openssl rsa -traditional -in " + files.path("key.pem") + " -out " + key +
                                " 2>/dev/null");
        // The identity goes on the token through our own writers.
        open();
        if (TQP11_WritePrivateKey(&session, tqbench::fileText(key).c_str(), "signbench", "sb", nullptr, 0) !=
                0 ||
            TQP11_WriteX509Cert(&session, tqbench::fileText(files.path("cert.pem")).c_str(), "signbench",
                                "sb", 0) != 0)
            fail("writing the identity");
        digestInfo = tqbench::sha256DigestInfo(kilobyte);
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

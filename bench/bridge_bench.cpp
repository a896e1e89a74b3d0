// A PKCS#7 signature with an RSA-2048 key and 64 KB of triple-DES-CBC with
// a triple-DES key, both on a SoftHSM2 token, each against the bare token
// calls that do its work: the cost of our layers.
#include <benchmark/benchmark.h>

#include "file_bytes.h"
#include "ratio.h"
#include "softhsm_token.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tqxcrypt_cipher.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxp11bridge.h"
#include "tqxp11crypto.h"

namespace {

struct Token : tqbench::TokenSession {
    TQXCRYPT_HANDLE *key = nullptr;
    TQXCRYPT_HANDLE *certificate = nullptr;
    TQXP11_OBJECT record{};
    std::vector<unsigned char> kilobyte = std::vector<unsigned char>(1024, 0x5a);
    std::vector<unsigned char> digestInfo;
    TQXCRYPT_HANDLE *cipher = nullptr;
    TQXP11_OBJECT des3{};
    std::vector<unsigned char> block64k = std::vector<unsigned char>(64 * 1024, 0xa5);
    unsigned char iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};

    Token() {
        TQXCryptInitialize();
        files.makeIdentity("bench");
        files.importKey("bench");
        open();
        if (TQXP11Crypt_GetPrivateKey(&session, "bench", 0, &key) != 0) std::exit(1);
        const std::vector<unsigned char> text = tqbench::fileBytes(files.path("cert.pem"));
        TQXCrypt_DecodeObject(&certificate, TQXCRYPT_KIND_CERTIFICATE, text.data(), text.size(),
                              TQXCRYPT_DECODE_TEXT, nullptr);
        std::snprintf(record.label, sizeof record.label, "bench");
        record.kind = TQXP11_KIND_RSA_PRIVATE;
        record.isPrivate = CK_TRUE;
        TQXP11_ReadObject(&session, &record);
        digestInfo = tqbench::sha256DigestInfo(kilobyte);

        unsigned char key[24];
        for (int i = 0; i < 24; ++i) key[i] = static_cast<unsigned char>(0x31 * i + 7);
        TQXP11_VALUE secret{};
        secret.secret.value = TQXP11_BYTES{key, sizeof key};
        std::snprintf(des3.label, sizeof des3.label, "bench des3");
        des3.kind = TQXP11_KIND_DES3;
        des3.isPrivate = CK_TRUE;
        des3.valueRecord = &secret;
        int rc = TQXP11_WriteSymmetricKeyObject(&session, &des3, 0);
        if (rc == 0) rc = TQXP11Crypt_GetSymmetricKey(&session, "bench des3", TQXCRYPT_ALG_DES3, 0, &cipher);
        if (rc == 0) rc = TQXP11Crypt_TransKeyToP11hKey(cipher, &des3.handle);
        if (rc != 0) {
            std::fprintf(stderr, "token triple-DES key: %d\n", rc);
            std::exit(1);
        }
        des3.valueRecord = nullptr;
    }
    ~Token() {
        TQXCryptFreeHandle(key);
        TQXCryptFreeHandle(certificate);
        TQXCryptFreeHandle(cipher);
        TQXP11_FreeObject(&record);
    }
};

Token &token() {
    static Token t;
    return t;
}

void signOurs(benchmark::State &state) {
    Token &t = token();
    for (auto _ : state) {
        TQXCRYPT_HANDLE *p7 = nullptr;
        if (TQXCrypt_Sign(t.certificate, t.key, nullptr, t.kilobyte.data(), t.kilobyte.size(),
                          TQXCRYPT_DETACHED, TQXCRYPT_HASH_SHA256, &p7) != 0)
            state.SkipWithError("TQXCrypt_Sign failed");
        TQXCryptFreeHandle(p7);
    }
}

void signToken(benchmark::State &state) {
    Token &t = token();
    TQXP11_MODULE *m = t.session.module;
    CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
    unsigned char signature[256];
    for (auto _ : state) {
        CK_ULONG length = sizeof signature;
        if (m->C_SignInit(t.session.sessionHandle, &mechanism, t.record.handle) != CKR_OK ||
            m->C_Sign(t.session.sessionHandle, t.digestInfo.data(), t.digestInfo.size(), signature,
                      &length) != CKR_OK)
            state.SkipWithError("C_Sign failed");
        benchmark::DoNotOptimize(signature);
    }
}

void des3Ours(benchmark::State &state) {
    Token &t = token();
    std::vector<unsigned char> out(t.block64k.size() + 8);
    for (auto _ : state) {
        int n = 0, last = 0;
        if (TQXCrypt_EncryptInit(t.cipher, t.iv, TQXCRYPT_NO_PADDING) != 0 ||
            TQXCrypt_EncryptUpdate(t.cipher, t.block64k.data(), t.block64k.size(), out.data(), &n) != 0 ||
            TQXCrypt_EncryptFinal(t.cipher, out.data() + n, &last, TQXCRYPT_NO_PADDING) != 0)
            state.SkipWithError("token cipher handle failed");
        benchmark::DoNotOptimize(out.data());
    }
}

void des3Token(benchmark::State &state) {
    Token &t = token();
    TQXP11_MODULE *m = t.session.module;
    CK_MECHANISM mechanism = {CKM_DES3_CBC, t.iv, sizeof t.iv};
    std::vector<unsigned char> out(t.block64k.size() + 8);
    for (auto _ : state) {
        CK_ULONG length = out.size();
        if (m->C_EncryptInit(t.session.sessionHandle, &mechanism, t.des3.handle) != CKR_OK ||
            m->C_Encrypt(t.session.sessionHandle, t.block64k.data(), t.block64k.size(), out.data(),
                         &length) != CKR_OK)
            state.SkipWithError("C_Encrypt failed");
        benchmark::DoNotOptimize(out.data());
    }
}

}  // namespace

int main(int argc, char **argv) {
    return tqbench::runPairs(argc, argv,
                             {{"TQXCrypt_Sign 1 KB detached SHA-256, token RSA-2048", signOurs, signToken},
                              {"64 KB triple-DES-CBC, token cipher handle", des3Ours, des3Token}},
                             0.9, [] { token(); });
}

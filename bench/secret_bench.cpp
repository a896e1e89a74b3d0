// One-call triple-DES encryption by label on a SoftHSM2 token, against the
// bare token calls that encrypt the same data: the cost of our layers.
#include <benchmark/benchmark.h>

#include "ratio.h"
#include "softhsm_token.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tqp11secret.h"
#include "tqxp11crypto.h"

namespace {

constexpr size_t kData = 64 * 1024;

struct Token : tqbench::TokenSession {
    CK_OBJECT_HANDLE key = 0;
    std::vector<unsigned char> data = std::vector<unsigned char>(kData, 0x5a);
    std::vector<unsigned char> out = std::vector<unsigned char>(kData + 16);

    Token() {
        open();
        if (TQXP11_GenerateSymKey(&session, "bench", 1, TQXP11_KIND_DES3, 0, &key) != 0) {
            std::fprintf(stderr, "token set-up failed\n");
            std::exit(1);
        }
    }
};

Token &token() {
    static Token t;
    return t;
}

void encryptOurs(benchmark::State &state) {
    Token &t = token();
    for (auto _ : state) {
        CK_ULONG length = 0;
        if (TQP11_SymEncrypt(&t.session, "bench", TQXP11_KIND_DES3, 0, t.data.data(), t.data.size(),
                             TQXP11_MODE_DES3_CBC_PAD, t.out.data(), &length) != 0)
            state.SkipWithError("TQP11_SymEncrypt failed");
        benchmark::DoNotOptimize(t.out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kData));
}

void encryptToken(benchmark::State &state) {
    Token &t = token();
    TQXP11_MODULE *m = t.session.module;
    unsigned char iv[8] = {};
    CK_MECHANISM mechanism = {CKM_DES3_CBC_PAD, iv, sizeof iv};
    for (auto _ : state) {
        CK_ULONG length = t.out.size();
        if (m->C_EncryptInit(t.session.sessionHandle, &mechanism, t.key) != CKR_OK ||
            m->C_Encrypt(t.session.sessionHandle, t.data.data(), t.data.size(), t.out.data(), &length) !=
                CKR_OK)
            state.SkipWithError("C_Encrypt failed");
        benchmark::DoNotOptimize(t.out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kData));
}

}  // namespace

int main(int argc, char **argv) {
    return tqbench::runPairs(
        argc, argv, {{"TQP11_SymEncrypt 64 KB triple-DES-CBC-PAD by label", encryptOurs, encryptToken}}, 0.9,
        [] { token(); });
}

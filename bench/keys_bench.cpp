// RSA-2048 signatures and SHA-256 digest handles: our calls against the
// direct OpenSSL calls that do the same work, with the throughput ratio.
#include <benchmark/benchmark.h>

#include "ratio.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tqxcrypt.h"
#include "tqxcrypt_keys.h"

namespace {

struct Keys {
    TQXCRYPT_HANDLE *priv = nullptr;
    TQXCRYPT_HANDLE *pub = nullptr;
    EVP_PKEY *pkey = nullptr;    // the object inside priv
    EVP_PKEY *pubkey = nullptr;  // the object inside pub
    std::vector<unsigned char> kilobyte = std::vector<unsigned char>(1024, 0x5a);
    std::vector<unsigned char> megabyte = std::vector<unsigned char>(1 << 20, 0xa5);
    std::vector<unsigned char> signature;

    Keys() {
        TQXCryptInitialize();
        EVP_PKEY *fresh = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048));
        unsigned char *der = nullptr;
        int n = i2d_PrivateKey(fresh, &der);
        TQXCrypt_DecodeObject(&priv, TQXCRYPT_KIND_PRIVATEKEY, der, static_cast<size_t>(n), 0, nullptr);
        OPENSSL_free(der);
        der = nullptr;
        n = i2d_PUBKEY(fresh, &der);
        TQXCrypt_DecodeObject(&pub, TQXCRYPT_KIND_PUBLICKEY, der, static_cast<size_t>(n), 0, nullptr);
        OPENSSL_free(der);
        EVP_PKEY_free(fresh);
        pkey = static_cast<EVP_PKEY *>(priv->object);
        pubkey = static_cast<EVP_PKEY *>(pub->object);
        TQXCRYPT_BLOB sig{0, nullptr};
        TQXCrypt_PureSign(priv, kilobyte.data(), kilobyte.size(),
                          TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA, &sig);
        signature.assign(sig.data, sig.data + sig.length);
        TQXCryptFreeBlob(&sig);
    }
    ~Keys() {
        TQXCryptFreeHandle(priv);
        TQXCryptFreeHandle(pub);
    }
};

Keys &keys() {
    static Keys k;
    return k;
}

void signOurs(benchmark::State &state) {
    Keys &k = keys();
    for (auto _ : state) {
        TQXCRYPT_BLOB sig{0, nullptr};
        if (TQXCrypt_PureSign(k.priv, k.kilobyte.data(), k.kilobyte.size(),
                              TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA, &sig) != TQ_RTN_OK)
            state.SkipWithError("PureSign failed");
        benchmark::DoNotOptimize(sig.data);
        TQXCryptFreeBlob(&sig);
    }
}

void signOpenssl(benchmark::State &state) {
    Keys &k = keys();
    unsigned char sig[256];
    for (auto _ : state) {
        EVP_MD_CTX *ctx = EVP_MD_CTX_new();
        size_t length = sizeof sig;
        if (EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, k.pkey) != 1 ||
            EVP_DigestSign(ctx, sig, &length, k.kilobyte.data(), k.kilobyte.size()) != 1)
            state.SkipWithError("EVP_DigestSign failed");
        benchmark::DoNotOptimize(sig);
        EVP_MD_CTX_free(ctx);
    }
}

void verifyOurs(benchmark::State &state) {
    Keys &k = keys();
    for (auto _ : state) {
        if (TQXCrypt_PureVerify(k.pub, k.signature.data(), k.signature.size(), k.kilobyte.data(),
                                k.kilobyte.size(),
                                TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA) != TQ_RTN_OK)
            state.SkipWithError("PureVerify failed");
    }
}

void verifyOpenssl(benchmark::State &state) {
    Keys &k = keys();
    for (auto _ : state) {
        EVP_MD_CTX *ctx = EVP_MD_CTX_new();
        if (EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, k.pubkey) != 1 ||
            EVP_DigestVerify(ctx, k.signature.data(), k.signature.size(), k.kilobyte.data(),
                             k.kilobyte.size()) != 1)
            state.SkipWithError("EVP_DigestVerify failed");
        EVP_MD_CTX_free(ctx);
    }
}

void digestOurs(benchmark::State &state) {
    Keys &k = keys();
    unsigned char md[32];
    for (auto _ : state) {
        TQXCRYPT_HANDLE *h = nullptr;
        TQXCRYPT_BLOB out{sizeof md, md};
        if (TQXCrypt_HashInit(&h, TQXCRYPT_HASH_SHA256) != TQ_RTN_OK ||
            TQXCrypt_HashUpdate(h, k.megabyte.data(), k.megabyte.size(), 0) != TQ_RTN_OK ||
            TQXCrypt_HashFinal(h, 0, &out) != TQ_RTN_OK)
            state.SkipWithError("digest handle failed");
        benchmark::DoNotOptimize(md);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1 << 20));
}

void digestOpenssl(benchmark::State &state) {
    Keys &k = keys();
    unsigned char md[32];
    for (auto _ : state) {
        unsigned int length = 0;
        if (EVP_Digest(k.megabyte.data(), k.megabyte.size(), md, &length, EVP_sha256(), nullptr) != 1)
            state.SkipWithError("EVP_Digest failed");
        benchmark::DoNotOptimize(md);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1 << 20));
}

}  // namespace

int main(int argc, char **argv) {
    return tqbench::runPairs(argc, argv,
                             {{"PureSign_RSA2048_SHA256_1KB", signOurs, signOpenssl},
                              {"PureVerify_RSA2048_SHA256_1KB", verifyOurs, verifyOpenssl},
                              {"HashHandles_SHA256_1MB", digestOurs, digestOpenssl}},
                             0.97, [] { keys(); });
}

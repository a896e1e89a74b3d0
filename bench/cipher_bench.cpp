// Cipher handles and password derivation: our calls against the direct
// OpenSSL calls with the same key, with the throughput ratio.
#include <benchmark/benchmark.h>

#include "ratio.h"

#include <openssl/evp.h>

#include <vector>

#include "tqxcrypt.h"
#include "tqxcrypt_cipher.h"

namespace {

constexpr size_t kMegabyte = 1 << 20;
constexpr size_t kChunk = 64 * 1024;  // one update

struct Setup {
    TQXCRYPT_HANDLE *des3 = nullptr;
    TQXCRYPT_HANDLE *aes = nullptr;
    EVP_CIPHER *des3Cipher = nullptr;
    EVP_CIPHER *aesCipher = nullptr;
    std::vector<unsigned char> input = std::vector<unsigned char>(kMegabyte, 0x3c);
    std::vector<unsigned char> output = std::vector<unsigned char>(kMegabyte + 64);
    const unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};

    Setup() {
        TQXCryptInitialize();
        unsigned char key[24], iv[8];
        for (int i = 0; i < 24; ++i) key[i] = static_cast<unsigned char>(i * 7 + 1);
        for (int i = 0; i < 8; ++i) iv[i] = static_cast<unsigned char>(i * 3);
        TQXCrypt_CreateKey(TQXCRYPT_ALG_DES3, key, 24, iv, 8, TQXCRYPT_MODE_CBC, &des3);
        TQXCrypt_GenerateKey(TQXCRYPT_ALG_AES256, "bench", salt, 8, 1000, 0, &aes);
        des3Cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr);
        aesCipher = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
    }
    ~Setup() {
        TQXCryptFreeHandle(des3);
        TQXCryptFreeHandle(aes);
        EVP_CIPHER_free(des3Cipher);
        EVP_CIPHER_free(aesCipher);
    }
};

Setup &setup() {
    static Setup s;
    return s;
}

void encryptOurs(benchmark::State &state, TQXCRYPT_HANDLE *h) {
    Setup &s = setup();
    for (auto _ : state) {
        int n = 0, total = 0;
        bool ok = TQXCrypt_EncryptInit(h, nullptr, 0) == TQ_RTN_OK;
        for (size_t at = 0; ok && at < kMegabyte; at += kChunk) {
            ok = TQXCrypt_EncryptUpdate(h, s.input.data() + at, kChunk, s.output.data() + total, &n) ==
                 TQ_RTN_OK;
            total += n;
        }
        ok = ok && TQXCrypt_EncryptFinal(h, s.output.data() + total, &n, 0) == TQ_RTN_OK;
        if (!ok) state.SkipWithError("cipher handle failed");
        benchmark::DoNotOptimize(s.output.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMegabyte);
}

void encryptOpenssl(benchmark::State &state, TQXCRYPT_HANDLE *h, const EVP_CIPHER *cipher) {
    Setup &s = setup();
    auto *record = static_cast<TQXCRYPT_CIPHER_CONTEXT *>(h->object);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    for (auto _ : state) {
        int n = 0, total = 0;
        bool ok = EVP_EncryptInit_ex(ctx, cipher, nullptr, record->key, record->iv) == 1;
        for (size_t at = 0; ok && at < kMegabyte; at += kChunk) {
            ok = EVP_EncryptUpdate(ctx, s.output.data() + total, &n, s.input.data() + at, kChunk) == 1;
            total += n;
        }
        ok = ok && EVP_EncryptFinal_ex(ctx, s.output.data() + total, &n) == 1;
        if (!ok) state.SkipWithError("EVP encryption failed");
        benchmark::DoNotOptimize(s.output.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kMegabyte);
}

void des3Ours(benchmark::State &state) { encryptOurs(state, setup().des3); }
void des3Openssl(benchmark::State &state) { encryptOpenssl(state, setup().des3, setup().des3Cipher); }
void aesOurs(benchmark::State &state) { encryptOurs(state, setup().aes); }
void aesOpenssl(benchmark::State &state) { encryptOpenssl(state, setup().aes, setup().aesCipher); }

void pbkdf2Ours(benchmark::State &state) {
    unsigned char key[32], iv[16];
    for (auto _ : state) {
        if (TQXCrypt_ByteToKey("bench password", -1, setup().salt, 8, 10000, TQXCRYPT_KDF_PBKDF2, key, 32, iv,
                               16) != TQ_RTN_OK)
            state.SkipWithError("TQXCrypt_ByteToKey failed");
        benchmark::DoNotOptimize(key);
    }
}

void pbkdf2Openssl(benchmark::State &state) {
    unsigned char out[48];
    for (auto _ : state) {
        if (PKCS5_PBKDF2_HMAC("bench password", 14, setup().salt, 8, 10000, EVP_sha1(), 48, out) != 1)
            state.SkipWithError("PKCS5_PBKDF2_HMAC failed");
        benchmark::DoNotOptimize(out);
    }
}

}  // namespace

int main(int argc, char **argv) {
    return tqbench::runPairs(argc, argv,
                             {{"CipherHandle_DES3_CBC_1MB", des3Ours, des3Openssl},
                              {"CipherHandle_AES256_CBC_1MB", aesOurs, aesOpenssl},
                              {"ByteToKey_PBKDF2_SHA1_48B_10000", pbkdf2Ours, pbkdf2Openssl}},
                             0.95, [] { setup(); });
}

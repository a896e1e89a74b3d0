// TQCrypt_Sign of 1 KB (PEM certificate, plain RSA-2048 key text, SHA-256,
// attached) against OpenSSL doing the same from the same texts: read both
// PEM texts, PKCS7_sign, i2d_PKCS7 and Base64 in 64-character lines.
#include <benchmark/benchmark.h>

#include "bench_signer.h"
#include "ratio.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "tqcrypt.h"

namespace {

constexpr int kSha256 = 4;

struct Texts {
    std::string cert, key;
    std::vector<unsigned char> kilobyte = std::vector<unsigned char>(1024, 0x5a);

    Texts() {
        TQXCryptInitialize();
        tqbench::SelfSigned made;
        EVP_PKEY *fresh = made.key;
        X509 *self = made.cert;
        cert = pem([&](BIO *b) { return PEM_write_bio_X509(b, self); });
        key = pem([&](BIO *b) {
            return PEM_write_bio_PrivateKey_traditional(b, fresh, nullptr, nullptr, 0, nullptr, nullptr);
        });
    }
    template <class Write>
    static std::string pem(Write write) {
        BIO *b = BIO_new(BIO_s_mem());
        write(b);
        char *p = nullptr;
        long n = BIO_get_mem_data(b, &p);
        std::string s(p, static_cast<size_t>(n));
        BIO_free(b);
        return s;
    }
};

Texts &texts() {
    static Texts t;
    return t;
}

void signOurs(benchmark::State &state) {
    Texts &t = texts();
    for (auto _ : state) {
        char *signature = nullptr;
        if (TQCrypt_Sign(t.cert.c_str(), t.key.c_str(), nullptr, nullptr, t.kilobyte.data(),
                         t.kilobyte.size(), 0, 0, kSha256, &signature) != TQ_RTN_OK)
            state.SkipWithError("TQCrypt_Sign failed");
        TQCryptMemFree(signature);
    }
}

void signOpenssl(benchmark::State &state) {
    Texts &t = texts();
    for (auto _ : state) {
        BIO *cb = BIO_new_mem_buf(t.cert.data(), static_cast<int>(t.cert.size()));
        BIO *kb = BIO_new_mem_buf(t.key.data(), static_cast<int>(t.key.size()));
        X509 *x = PEM_read_bio_X509(cb, nullptr, nullptr, nullptr);
        EVP_PKEY *k = PEM_read_bio_PrivateKey(kb, nullptr, nullptr, nullptr);
        BIO *in = BIO_new_mem_buf(t.kilobyte.data(), static_cast<int>(t.kilobyte.size()));
        PKCS7 *m = PKCS7_sign(x, k, nullptr, in, PKCS7_BINARY);
        unsigned char *der = nullptr;
        int n = m ? i2d_PKCS7(m, &der) : -1;
        if (n <= 0) state.SkipWithError("PKCS7_sign failed");
        std::string text;
        text.reserve(static_cast<size_t>(n) / 48 * 65 + 66);
        unsigned char line[65];
        for (int at = 0; at < n; at += 48) {
            int chunk = n - at < 48 ? n - at : 48;
            int written = EVP_EncodeBlock(line, der + at, chunk);
            text.append(reinterpret_cast<char *>(line), static_cast<size_t>(written));
            text.push_back('\n');
        }
        benchmark::DoNotOptimize(text.data());
        OPENSSL_free(der);
        PKCS7_free(m);
        BIO_free(in);
        EVP_PKEY_free(k);
        X509_free(x);
        BIO_free(kb);
        BIO_free(cb);
    }
}

}  // namespace

int main(int argc, char **argv) {
    return tqbench::runPairs(argc, argv,
                             {{"TQCrypt_Sign_Attached_PEM_RSA2048_SHA256_1KB", signOurs, signOpenssl}}, 0.95,
                             [] { texts(); });
}

// Detached PKCS#7 signatures of 1 KB with an RSA-2048 software key and
// SHA-256, and their verification: our calls against OpenSSL's PKCS7_sign
// and PKCS7_verify doing the same work, with the throughput ratio.
#include <benchmark/benchmark.h>

#include "ratio.h"

#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tqxcrypt.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_store.h"

namespace {

constexpr int kSha256 = 4;

struct Signer {
    TQXCRYPT_HANDLE *cert = nullptr;
    TQXCRYPT_HANDLE *key = nullptr;
    TQXCRYPT_HANDLE *store = nullptr;  // empty: only the signature is checked
    TQXCRYPT_HANDLE *ourMessage = nullptr;
    X509 *x509 = nullptr;  // the objects inside the handles
    EVP_PKEY *pkey = nullptr;
    X509_STORE *x509Store = nullptr;
    PKCS7 *theirMessage = nullptr;
    std::vector<unsigned char> kilobyte = std::vector<unsigned char>(1024, 0x5a);

    Signer() {
        TQXCryptInitialize();
        EVP_PKEY *fresh = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048));
        X509 *self = X509_new();
        X509_set_version(self, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(self), 1);
        X509_NAME *name = X509_get_subject_name(self);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char *>("Bench Signer"), -1, -1, 0);
        X509_set_issuer_name(self, name);
        X509_gmtime_adj(X509_getm_notBefore(self), 0);
        X509_gmtime_adj(X509_getm_notAfter(self), 86400);
        X509_set_pubkey(self, fresh);
        X509_sign(self, fresh, EVP_sha256());
        unsigned char *der = nullptr;
        int n = i2d_X509(self, &der);
        TQXCrypt_DecodeObject(&cert, TQXCRYPT_KIND_CERTIFICATE, der, static_cast<size_t>(n), 0, nullptr);
        OPENSSL_free(der);
        der = nullptr;
        n = i2d_PrivateKey(fresh, &der);
        TQXCrypt_DecodeObject(&key, TQXCRYPT_KIND_PRIVATEKEY, der, static_cast<size_t>(n), 0, nullptr);
        OPENSSL_free(der);
        X509_free(self);
        EVP_PKEY_free(fresh);
        TQXCrypt_LoadStore(&store, nullptr, nullptr);
        x509 = static_cast<X509 *>(cert->object);
        pkey = static_cast<EVP_PKEY *>(key->object);
        x509Store = static_cast<X509_STORE *>(store->object);
        TQXCrypt_Sign(cert, key, nullptr, kilobyte.data(), kilobyte.size(), TQXCRYPT_DETACHED, kSha256,
                      &ourMessage);
        BIO *in = BIO_new_mem_buf(kilobyte.data(), static_cast<int>(kilobyte.size()));
        theirMessage = PKCS7_sign(x509, pkey, nullptr, in, PKCS7_DETACHED | PKCS7_BINARY | PKCS7_NOATTR);
        BIO_free(in);
    }
    ~Signer() {
        PKCS7_free(theirMessage);
        TQXCryptFreeHandle(ourMessage);
        TQXCryptFreeHandle(store);
        TQXCryptFreeHandle(key);
        TQXCryptFreeHandle(cert);
    }
};

Signer &signer() {
    static Signer s;
    return s;
}

void signOurs(benchmark::State &state) {
    Signer &s = signer();
    for (auto _ : state) {
        TQXCRYPT_HANDLE *m = nullptr;
        if (TQXCrypt_Sign(s.cert, s.key, nullptr, s.kilobyte.data(), s.kilobyte.size(), TQXCRYPT_DETACHED,
                          kSha256, &m) != TQ_RTN_OK)
            state.SkipWithError("TQXCrypt_Sign failed");
        TQXCryptFreeHandle(m);
    }
}

void signOpenssl(benchmark::State &state) {
    Signer &s = signer();
    for (auto _ : state) {
        BIO *in = BIO_new_mem_buf(s.kilobyte.data(), static_cast<int>(s.kilobyte.size()));
        PKCS7 *m = PKCS7_sign(s.x509, s.pkey, nullptr, in, PKCS7_DETACHED | PKCS7_BINARY | PKCS7_NOATTR);
        if (!m) state.SkipWithError("PKCS7_sign failed");
        PKCS7_free(m);
        BIO_free(in);
    }
}

void verifyOurs(benchmark::State &state) {
    Signer &s = signer();
    for (auto _ : state) {
        if (TQXCrypt_Verify(s.store, s.ourMessage, s.kilobyte.data(), s.kilobyte.size(), nullptr, 0,
                            TQXCRYPT_DETACHED, 0, nullptr, nullptr) != TQ_RTN_OK)
            state.SkipWithError("TQXCrypt_Verify failed");
    }
}

void verifyOpenssl(benchmark::State &state) {
    Signer &s = signer();
    for (auto _ : state) {
        BIO *in = BIO_new_mem_buf(s.kilobyte.data(), static_cast<int>(s.kilobyte.size()));
        if (PKCS7_verify(s.theirMessage, nullptr, s.x509Store, in, nullptr, PKCS7_BINARY | PKCS7_NOVERIFY) !=
            1)
            state.SkipWithError("PKCS7_verify failed");
        BIO_free(in);
    }
}

}  // namespace

int main(int argc, char **argv) {
    return tqbench::runPairs(argc, argv,
                             {{"PKCS7_Sign_Detached_RSA2048_SHA256_1KB", signOurs, signOpenssl},
                              {"PKCS7_Verify_Detached_RSA2048_SHA256_1KB", verifyOurs, verifyOpenssl}},
                             0.95, [] { signer(); });
}

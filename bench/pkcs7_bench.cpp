// Detached PKCS#7 signatures of 1 KB with an RSA-2048 software key and
// SHA-256, and their verification: our calls against OpenSSL's PKCS7_sign
// and PKCS7_verify doing the same work, with the throughput ratio; signing
// also on 1 to 8 threads that share the key and the store.
#include <benchmark/benchmark.h>

#include "bench_signer.h"
#include "ratio.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
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
        tqbench::SelfSigned made;
        EVP_PKEY *fresh = made.key;
        X509 *self = made.cert;
        unsigned char *der = nullptr;
        int n = i2d_X509(self, &der);
        TQXCrypt_DecodeObject(&cert, TQXCRYPT_KIND_CERTIFICATE, der, static_cast<size_t>(n), 0, nullptr);
        OPENSSL_free(der);
        der = nullptr;
        n = i2d_PrivateKey(fresh, &der);
        TQXCrypt_DecodeObject(&key, TQXCRYPT_KIND_PRIVATEKEY, der, static_cast<size_t>(n), 0, nullptr);
        OPENSSL_free(der);
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

// Signers on several threads at once, sharing one key and one store that
// holds the signer's issuer: each message carries the signer and its issuer,
// ours found in the store on every call, OpenSSL's given as a list.
struct SharedSigner {
    TQXCRYPT_HANDLE *cert = nullptr;
    TQXCRYPT_HANDLE *key = nullptr;
    TQXCRYPT_HANDLE *store = nullptr;
    X509 *x509 = nullptr;  // the objects inside the handles
    EVP_PKEY *pkey = nullptr;
    STACK_OF(X509) *issuers = sk_X509_new_null();
    std::vector<unsigned char> kilobyte = std::vector<unsigned char>(1024, 0x3c);

    static X509 *issue(const char *cn, EVP_PKEY *subjectKey, X509 *issuer, EVP_PKEY *issuerKey) {
        X509 *x = X509_new();
        X509_set_version(x, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x), issuer ? 2 : 1);
        X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char *>(cn), -1, -1, 0);
        X509_set_issuer_name(x, X509_get_subject_name(issuer ? issuer : x));
        X509_gmtime_adj(X509_getm_notBefore(x), 0);
        X509_gmtime_adj(X509_getm_notAfter(x), 86400);
        X509_set_pubkey(x, subjectKey);
        X509V3_CTX v3;
        X509V3_set_ctx(&v3, issuer ? issuer : x, x, nullptr, nullptr, 0);
        X509_EXTENSION *bc = X509V3_EXT_conf_nid(nullptr, &v3, NID_basic_constraints,
                                                 issuer ? "CA:FALSE" : "critical,CA:TRUE");
        X509_add_ext(x, bc, -1);
        X509_EXTENSION_free(bc);
        X509_sign(x, issuerKey, EVP_sha256());
        return x;
    }
    template <class T, int (*Encode)(const T *, unsigned char **)>
    static TQXCRYPT_HANDLE *handle(int kind, T *object) {
        unsigned char *der = nullptr;
        int n = Encode(object, &der);
        TQXCRYPT_HANDLE *h = nullptr;
        TQXCrypt_DecodeObject(&h, kind, der, static_cast<size_t>(n), 0, nullptr);
        OPENSSL_free(der);
        return h;
    }

    SharedSigner() {
        TQXCryptInitialize();
        EVP_PKEY *caKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048));
        EVP_PKEY *signerKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048));
        X509 *ca = issue("Bench Issuer", caKey, nullptr, caKey);
        X509 *leaf = issue("Bench Shared Signer", signerKey, ca, caKey);
        cert = handle<X509, i2d_X509>(TQXCRYPT_KIND_CERTIFICATE, leaf);
        key = handle<EVP_PKEY, i2d_PrivateKey>(TQXCRYPT_KIND_PRIVATEKEY, signerKey);
        BIO *pem = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(pem, ca);
        BIO_write(pem, "", 1);
        char *text = nullptr;
        BIO_get_mem_data(pem, &text);
        TQXCrypt_LoadStore(&store, text, nullptr);
        BIO_free(pem);
        x509 = static_cast<X509 *>(cert->object);
        pkey = static_cast<EVP_PKEY *>(key->object);
        sk_X509_push(issuers, ca);
        X509_free(leaf);
        EVP_PKEY_free(signerKey);
        EVP_PKEY_free(caKey);
    }
    ~SharedSigner() {
        sk_X509_pop_free(issuers, X509_free);
        TQXCryptFreeHandle(store);
        TQXCryptFreeHandle(key);
        TQXCryptFreeHandle(cert);
    }
};

SharedSigner &shared() {
    static SharedSigner s;
    return s;
}

// One message of each side; null when signing failed.
TQXCRYPT_HANDLE *signSharedOnce(SharedSigner &s) {
    TQXCRYPT_HANDLE *m = nullptr;
    TQXCrypt_Sign(s.cert, s.key, s.store, s.kilobyte.data(), s.kilobyte.size(),
                  TQXCRYPT_DETACHED | TQXCRYPT_SIGN_CHAIN, kSha256, &m);
    return m;
}
PKCS7 *signSharedOnceOpenssl(SharedSigner &s) {
    BIO *in = BIO_new_mem_buf(s.kilobyte.data(), static_cast<int>(s.kilobyte.size()));
    PKCS7 *m = PKCS7_sign(s.x509, s.pkey, s.issuers, in, PKCS7_DETACHED | PKCS7_BINARY | PKCS7_NOATTR);
    BIO_free(in);
    return m;
}

void signSharedOurs(benchmark::State &state) {
    SharedSigner &s = shared();
    for (auto _ : state) {
        TQXCRYPT_HANDLE *m = signSharedOnce(s);
        if (!m) state.SkipWithError("TQXCrypt_Sign failed");
        TQXCryptFreeHandle(m);
    }
}

void signSharedOpenssl(benchmark::State &state) {
    SharedSigner &s = shared();
    for (auto _ : state) {
        PKCS7 *m = signSharedOnceOpenssl(s);
        if (!m) state.SkipWithError("PKCS7_sign failed");
        PKCS7_free(m);
    }
}

// Both sides must make the same message: signer and issuer, one signature.
bool sameShape() {
    SharedSigner &s = shared();
    TQXCRYPT_HANDLE *ours = signSharedOnce(s);
    PKCS7 *theirs = signSharedOnceOpenssl(s);
    bool same = ours && theirs && sk_X509_num(static_cast<PKCS7 *>(ours->object)->d.sign->cert) == 2 &&
                sk_X509_num(theirs->d.sign->cert) == 2 &&
                TQXCrypt_Verify(s.store, ours, s.kilobyte.data(), s.kilobyte.size(), nullptr, 0,
                                TQXCRYPT_DETACHED | TQXCRYPT_VERIFY_CHAIN, 0, nullptr, nullptr) == 0;
    PKCS7_free(theirs);
    TQXCryptFreeHandle(ours);
    return same;
}

}  // namespace

int main(int argc, char **argv) {
    return tqbench::runPairs(argc, argv,
                             {{"PKCS7_Sign_Detached_RSA2048_SHA256_1KB", signOurs, signOpenssl},
                              {"PKCS7_Verify_Detached_RSA2048_SHA256_1KB", verifyOurs, verifyOpenssl},
                              {"PKCS7_Sign_SharedStoreAndKey_RSA2048_SHA256_1KB",
                               signSharedOurs,
                               signSharedOpenssl,
                               {1, 2, 4, 8}}},
                             0.95, [] {
                                 signer();
                                 if (!sameShape()) {
                                     std::fprintf(stderr,
                                                  "the shared signers do not make the same message\n");
                                     std::exit(1);
                                 }
                             });
}

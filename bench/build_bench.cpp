// Building: a certificate built and signed (RSA-2048, SHA-256, five
// extensions), a 10,000-entry CRL from hexadecimal serials, date texts and
// reasons, sorted and signed, and its lookups by text and by certificate,
// each against the same work done with OpenSSL's calls directly; the sorted
// lookup also at 1,000 and 100,000 entries.
#include <benchmark/benchmark.h>

#include "ratio.h"

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tqxcrypt_crl.h"
#include "tqxcrypt_keys.h"

namespace {

struct Keys {
    TQXCRYPT_HANDLE *priv = nullptr, *pub = nullptr;
    EVP_PKEY *pkey = nullptr;
};

Keys &keys() {
    static Keys k = [] {
        Keys made;
        made.pkey = EVP_RSA_gen(2048);
        BIO *bio = BIO_new(BIO_s_mem());
        PEM_write_bio_PrivateKey_traditional(bio, made.pkey, nullptr, nullptr, 0, nullptr, nullptr);
        char *pem = nullptr;
        long n = BIO_get_mem_data(bio, &pem);
        TQXCrypt_DecodeObject(&made.priv, TQXCRYPT_KIND_PRIVATEKEY, reinterpret_cast<unsigned char *>(pem),
                              static_cast<size_t>(n), TQXCRYPT_DECODE_TEXT, nullptr);
        TQXCrypt_GetPublicKey(made.priv, &made.pub);
        BIO_free(bio);
        return made;
    }();
    return k;
}

const char kIssuer[] = "C=TW\nO=Orvane Bench\nCN=Bench Root";
const char kSubject[] = "C=TW\nO=Orvane Bench\nCN=bench.example.org";
const char kSan[] = "DNS=bench.example.org\tIP Address=10.0.0.1\tEmail=bench@example.org";

bool ourCert() {
    Keys &k = keys();
    TQXCRYPT_HANDLE *cert = nullptr;
    if (TQXCrypt_CreateCertificate(&cert) != 0) return false;
    const unsigned char usage[] = {0xA0}, keyId[] = {1, 2, 3, 4, 5, 6, 7, 8}, eku[] = {0x03};
    TQXCRYPT_BLOB u{1, const_cast<unsigned char *>(usage)}, id{8, const_cast<unsigned char *>(keyId)},
        e{1, const_cast<unsigned char *>(eku)};
    bool ok = TQXCrypt_CertSetSerialNumber(cert, "0102030405") == 0 &&
              TQXCrypt_CertSetIssuerName(cert, kIssuer) == 0 &&
              TQXCrypt_CertSetSubjectName(cert, kSubject) == 0 &&
              TQXCrypt_CertSetNotBefore(cert, "250101000000+0000") == 0 &&
              TQXCrypt_CertSetNotAfter(cert, "20350101000000+0000") == 0 &&
              TQXCrypt_CertSetPublicKey(cert, k.pub) == 0 &&
              TQXCrypt_CertSetExtension(cert, "basicConstraints", "CA:FALSE", 1) == 0 &&
              TQXCrypt_CertSetExtension(cert, "keyUsage", &u, 1) == 0 &&
              TQXCrypt_CertSetExtension(cert, "subjectKeyIdentifier", &id, 0) == 0 &&
              TQXCrypt_CertSetExtension(cert, "subjectAltName", kSan, 0) == 0 &&
              TQXCrypt_CertSetExtension(cert, "extendedKeyUsage", &e, 0) == 0 &&
              TQXCrypt_SignObject(cert, k.priv, 4) == 0;
    TQXCRYPT_BLOB out{0, nullptr};
    ok = ok && TQXCrypt_EncodeObject(cert, TQXCRYPT_KIND_CERTIFICATE, &out, 0, nullptr) == 0;
    TQXCryptFreeBlob(&out);
    TQXCryptFreeHandle(cert);
    return ok;
}

X509_NAME *nameOf(const char *text) {
    X509_NAME *name = X509_NAME_new();
    std::string all = text;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        std::string line = all.substr(start, end - start);
        size_t eq = line.find('=');
        X509_NAME_add_entry_by_txt(name, line.substr(0, eq).c_str(), MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char *>(line.c_str() + eq + 1), -1, -1, 0);
        start = end + 1;
    }
    return name;
}

bool addConf(X509 *cert, int nid, const char *value) {
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, nullptr, nid, value);
    bool ok = ext && X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

bool theirCert() {
    Keys &k = keys();
    X509 *cert = X509_new();
    BIGNUM *bn = nullptr;
    BN_hex2bn(&bn, "0102030405");
    ASN1_INTEGER *serial = BN_to_ASN1_INTEGER(bn, nullptr);
    X509_NAME *issuer = nameOf(kIssuer), *subject = nameOf(kSubject);
    ASN1_TIME *from = ASN1_TIME_new(), *to = ASN1_TIME_new();
    bool ok =
        X509_set_version(cert, 2) && X509_set_serialNumber(cert, serial) &&
        X509_set_issuer_name(cert, issuer) && X509_set_subject_name(cert, subject) &&
        ASN1_TIME_set_string(from, "250101000000Z") && ASN1_TIME_set_string(to, "20350101000000Z") &&
        X509_set1_notBefore(cert, from) && X509_set1_notAfter(cert, to) && X509_set_pubkey(cert, k.pkey) &&
        addConf(cert, NID_basic_constraints, "critical,CA:FALSE") &&
        addConf(cert, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
        addConf(cert, NID_subject_key_identifier, "01:02:03:04:05:06:07:08") &&
        addConf(cert, NID_subject_alt_name, "DNS:bench.example.org,IP:10.0.0.1,email:bench@example.org") &&
        addConf(cert, NID_ext_key_usage, "serverAuth,clientAuth") &&
        X509_sign(cert, k.pkey, EVP_sha256()) > 0;
    unsigned char *der = nullptr;
    ok = ok && i2d_X509(cert, &der) > 0;
    OPENSSL_free(der);
    ASN1_TIME_free(from);
    ASN1_TIME_free(to);
    X509_NAME_free(issuer);
    X509_NAME_free(subject);
    ASN1_INTEGER_free(serial);
    BN_free(bn);
    X509_free(cert);
    return ok;
}

// The entries of the CRLs: serials spread over lengths, dates and reasons.
struct Entry {
    std::string serial, date, tool;
    int reason;
};
const std::vector<Entry> &entries(size_t n) {
    static std::map<size_t, std::vector<Entry>> made;
    auto &list = made[n];
    if (list.empty()) {
        char serial[32], date[32];
        uint64_t x = 0x9E3779B97F4A7C15ull;
        for (size_t i = 0; i < n; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            std::snprintf(serial, sizeof serial, "%llX", static_cast<unsigned long long>(x >> (i % 24)));
            std::snprintf(date, sizeof date, "25%02zu%02zu120000", 1 + i % 12, 1 + i % 28);
            list.push_back(
                {serial, std::string(date) + "+0000", std::string(date) + "Z", static_cast<int>(i % 7)});
        }
    }
    return list;
}

TQXCRYPT_HANDLE *ourCrl(size_t n, bool sign) {
    TQXCRYPT_HANDLE *crl = nullptr;
    TQXCrypt_CreateCRL(&crl);
    TQXCrypt_CRLSetIssuerName(crl, kIssuer);
    TQXCrypt_CRLSetLastUpdate(crl, "250801000000+0000");
    TQXCrypt_CRLSetNextUpdate(crl, "250901000000+0000");
    for (const Entry &e : entries(n)) TQXCrypt_CRLAddRevoked(crl, e.serial.c_str(), e.date.c_str(), e.reason);
    TQXCrypt_CRLSortRevoked(crl, 0);
    if (sign) {
        TQXCrypt_SignObject(crl, keys().priv, 4);
        TQXCRYPT_BLOB out{0, nullptr};
        TQXCrypt_EncodeObject(crl, TQXCRYPT_KIND_CRL, &out, 0, nullptr);
        TQXCryptFreeBlob(&out);
    }
    return crl;
}

X509_CRL *theirCrl(size_t n, bool sign) {
    X509_CRL *crl = X509_CRL_new();
    X509_NAME *issuer = nameOf(kIssuer);
    X509_CRL_set_issuer_name(crl, issuer);
    X509_NAME_free(issuer);
    ASN1_TIME *t = ASN1_TIME_new();
    ASN1_TIME_set_string(t, "250801000000Z");
    X509_CRL_set1_lastUpdate(crl, t);
    ASN1_TIME_set_string(t, "250901000000Z");
    X509_CRL_set1_nextUpdate(crl, t);
    ASN1_TIME_free(t);
    for (const Entry &e : entries(n)) {
        X509_REVOKED *r = X509_REVOKED_new();
        BIGNUM *bn = nullptr;
        BN_hex2bn(&bn, e.serial.c_str());
        ASN1_INTEGER *serial = BN_to_ASN1_INTEGER(bn, nullptr);
        ASN1_TIME *date = ASN1_TIME_new();
        ASN1_TIME_set_string(date, e.tool.c_str());
        X509_REVOKED_set_serialNumber(r, serial);
        X509_REVOKED_set_revocationDate(r, date);
        if (e.reason) {
            ASN1_ENUMERATED *code = ASN1_ENUMERATED_new();
            ASN1_ENUMERATED_set(code, e.reason);
            X509_REVOKED_add1_ext_i2d(r, NID_crl_reason, code, 0, 0);
            ASN1_ENUMERATED_free(code);
            X509_CRL_set_version(crl, 1);
        }
        ASN1_TIME_free(date);
        ASN1_INTEGER_free(serial);
        BN_free(bn);
        X509_CRL_add0_revoked(crl, r);
    }
    X509_CRL_sort(crl);
    if (sign) {
        X509_CRL_sign(crl, keys().pkey, EVP_sha256());
        unsigned char *der = nullptr;
        i2d_X509_CRL(crl, &der);
        OPENSSL_free(der);
    }
    return crl;
}

void runOurCert(benchmark::State &state) {
    for (auto _ : state)
        if (!ourCert()) state.SkipWithError("building failed");
}
void runTheirCert(benchmark::State &state) {
    for (auto _ : state)
        if (!theirCert()) state.SkipWithError("building failed");
}
void runOurCrl(benchmark::State &state) {
    for (auto _ : state) TQXCryptFreeHandle(ourCrl(10000, true));
}
void runTheirCrl(benchmark::State &state) {
    for (auto _ : state) X509_CRL_free(theirCrl(10000, true));
}

// Sorted CRLs of each size, built once, and a certificate per probe.
template <size_t N>
TQXCRYPT_HANDLE *ourSorted() {
    static TQXCRYPT_HANDLE *crl = ourCrl(N, false);
    return crl;
}
template <size_t N>
X509_CRL *theirSorted() {
    static X509_CRL *crl = theirCrl(N, false);
    return crl;
}

int theirDateAndReason(X509_REVOKED *r, char *date) {
    struct tm tm;
    ASN1_TIME_to_tm(X509_REVOKED_get0_revocationDate(r), &tm);
    std::snprintf(date, 64, "%04d%02d%02d%02d%02d%02d+0000", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    ASN1_ENUMERATED *reason =
        static_cast<ASN1_ENUMERATED *>(X509_REVOKED_get_ext_d2i(r, NID_crl_reason, nullptr, nullptr));
    int code = reason ? 5020 + static_cast<int>(ASN1_ENUMERATED_get(reason)) : 5020;
    ASN1_ENUMERATED_free(reason);
    return code;
}

// One probe after another through the sorted list of N entries, by text.
template <size_t N, bool Ours>
void lookupText(benchmark::State &state) {
    const auto &list = entries(N);
    size_t i = 0;
    char date[64];
    for (auto _ : state) {
        const char *hex = list[i++ % list.size()].serial.c_str();
        bool found;
        if constexpr (Ours) {
            int status = 0;
            TQXCrypt_CRLGetRevoked(ourSorted<N>(), hex, date, &status, 0);
            found = status != 0;
        } else {
            BIGNUM *bn = nullptr;
            BN_hex2bn(&bn, hex);
            ASN1_INTEGER *serial = BN_to_ASN1_INTEGER(bn, nullptr);
            X509_REVOKED *r = nullptr;
            found = X509_CRL_get0_by_serial(theirSorted<N>(), &r, serial) == 1;
            if (found) benchmark::DoNotOptimize(theirDateAndReason(r, date));
            ASN1_INTEGER_free(serial);
            BN_free(bn);
        }
        if (!found) state.SkipWithError("not found");
    }
}

std::vector<TQXCRYPT_HANDLE *> &probes() {
    static std::vector<TQXCRYPT_HANDLE *> certs = [] {
        std::vector<TQXCRYPT_HANDLE *> made;
        for (size_t i = 0; i < 64; ++i) {
            TQXCRYPT_HANDLE *cert = nullptr;
            TQXCrypt_CreateCertificate(&cert);
            TQXCrypt_CertSetSerialNumber(cert, entries(10000)[i * 97].serial.c_str());
            TQXCrypt_CertSetIssuerName(cert, kIssuer);
            made.push_back(cert);
        }
        return made;
    }();
    return certs;
}

void ourLookupCert(benchmark::State &state) {
    TQXCRYPT_HANDLE *crl = ourSorted<10000>();
    size_t i = 0;
    char date[TQXCRYPT_TIME_TEXT_SIZE];
    int status = 0;
    for (auto _ : state) {
        TQXCrypt_CRLGetCertRevoked(crl, probes()[i++ % 64], date, &status, 0);
        if (status == 0) state.SkipWithError("not found");
    }
}

void theirLookupCert(benchmark::State &state) {
    X509_CRL *crl = theirSorted<10000>();
    size_t i = 0;
    char date[64];
    for (auto _ : state) {
        X509_REVOKED *r = nullptr;
        auto *cert = static_cast<X509 *>(probes()[i++ % 64]->object);
        if (X509_CRL_get0_by_serial(crl, &r, X509_get0_serialNumber(cert)) != 1)
            state.SkipWithError("not found");
        else
            benchmark::DoNotOptimize(theirDateAndReason(r, date));
    }
}

}  // namespace

int main(int argc, char **argv) {
    TQXCryptInitialize();
    return tqbench::runPairs(argc, argv,
                             {{"Cert_BuildSign_5ext", runOurCert, runTheirCert},
                              {"Crl_Build_10k_SortSign", runOurCrl, runTheirCrl},
                              {"Crl_LookupText_1k", lookupText<1000, true>, lookupText<1000, false>},
                              {"Crl_LookupText_10k", lookupText<10000, true>, lookupText<10000, false>},
                              {"Crl_LookupText_100k", lookupText<100000, true>, lookupText<100000, false>},
                              {"Crl_LookupCert_10k", ourLookupCert, theirLookupCert}},
                             0.95, [] {
                                 keys();
                                 ourSorted<1000>(), ourSorted<10000>(), ourSorted<100000>();
                                 theirSorted<1000>(), theirSorted<10000>(), theirSorted<100000>();
                                 probes();
                             });
}

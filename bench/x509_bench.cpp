// Reading a certificate with a dozen extensions: both names, both times,
// the serial and every extension, against OpenSSL's own rendering and
// decoding of the same fields (X509_NAME_print_ex into a memory BIO,
// ASN1_TIME_to_tm, X509V3_EXT_d2i), with the throughput ratio.
#include <benchmark/benchmark.h>

#include "ratio.h"

#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "tqxcrypt.h"
#include "tqxcrypt_x509.h"

namespace {

struct Extension {
    const char *name;
    const char *value;
    bool list;
};

// Eleven extensions of the decoder's table, by name, value and value form.
const Extension kExtensions[] = {
    {"basicConstraints", "critical,CA:TRUE,pathlen:0", true},
    {"keyUsage", "critical,digitalSignature,keyEncipherment,keyCertSign", false},
    {"extendedKeyUsage", "serverAuth,clientAuth,emailProtection", false},
    {"subjectKeyIdentifier", "hash", false},
    {"authorityKeyIdentifier", "keyid:always", true},
    {"subjectAltName",
     "email:bench@example.org,DNS:bench.example.org,URI:https://bench.example.org/,IP:10.0.0.1", true},
    {"issuerAltName", "email:issuer@example.org,URI:http://issuer.example.org/", true},
    {"crlDistributionPoints", "URI:http://crl.example.org/bench.crl", true},
    {"authorityInfoAccess", "OCSP;URI:http://ocsp.example.org/,caIssuers;URI:http://ca.example.org/ca.cer",
     true},
    {"certificatePolicies", "1.3.6.1.4.1.55555.1.1,2.5.29.32.0", true},
    {"nsCertType", "client,email", false},
};

struct Reader {
    TQXCRYPT_HANDLE *cert = nullptr;
    X509 *x509 = nullptr;
    std::vector<const Extension *> present;

    Reader() {
        TQXCryptInitialize();
        EVP_PKEY *key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048));
        X509 *self = X509_new();
        X509_set_version(self, 2);
        ASN1_INTEGER_set_int64(X509_get_serialNumber(self), 0x1234567890ABCDEFLL);
        X509_NAME *name = X509_get_subject_name(self);
        const char *entries[][2] = {{"C", "TW"},
                                    {"ST", "Taipei"},
                                    {"L", "Xinyi"},
                                    {"O", "Orvane"},
                                    {"OU", "Bench Unit"},
                                    {"CN", "Bench Certificate"},
                                    {"emailAddress", "bench@example.org"}};
        for (auto &e : entries)
            X509_NAME_add_entry_by_txt(name, e[0], MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char *>(e[1]), -1, -1, 0);
        X509_set_issuer_name(self, name);
        X509_gmtime_adj(X509_getm_notBefore(self), 0);
        X509_gmtime_adj(X509_getm_notAfter(self), 86400L * 365);
        X509_set_pubkey(self, key);
        X509V3_CTX ctx;
        X509V3_set_ctx(&ctx, self, self, nullptr, nullptr, 0);
        for (const Extension &e : kExtensions) {
            X509_EXTENSION *ext = X509V3_EXT_nconf(nullptr, &ctx, e.name, e.value);
            if (ext && X509_add_ext(self, ext, -1)) present.push_back(&e);
            X509_EXTENSION_free(ext);
        }
        X509_sign(self, key, EVP_sha256());
        unsigned char *der = nullptr;
        int n = i2d_X509(self, &der);
        TQXCrypt_DecodeObject(&cert, TQXCRYPT_KIND_CERTIFICATE, der, static_cast<size_t>(n), 0, nullptr);
        OPENSSL_free(der);
        X509_free(self);
        EVP_PKEY_free(key);
        x509 = static_cast<X509 *>(cert->object);
    }
    ~Reader() { TQXCryptFreeHandle(cert); }
};

Reader &reader() {
    static Reader r;
    return r;
}

bool ourNames(const Reader &r) {
    char *subject = nullptr, *issuer = nullptr;
    bool ok =
        TQXCrypt_CertGetSubject(r.cert, 0, &subject) == 0 && TQXCrypt_CertGetIssuer(r.cert, 0, &issuer) == 0;
    benchmark::DoNotOptimize(subject);
    TQCryptMemFree(subject);
    TQCryptMemFree(issuer);
    return ok;
}

bool theirNames(const Reader &r) {
    bool ok = true;
    for (X509_NAME *name : {X509_get_subject_name(r.x509), X509_get_issuer_name(r.x509)}) {
        BIO *bio = BIO_new(BIO_s_mem());
        ok = ok && X509_NAME_print_ex(bio, name, 0, XN_FLAG_SEP_MULTILINE) > 0;
        char *text = nullptr;
        benchmark::DoNotOptimize(BIO_get_mem_data(bio, &text));
        BIO_free(bio);
    }
    return ok;
}

bool ourTimes(const Reader &r) {
    char before[TQXCRYPT_TIME_TEXT_SIZE], after[TQXCRYPT_TIME_TEXT_SIZE];
    bool ok =
        TQXCrypt_CertGetNotBefore(r.cert, 0, before) == 0 && TQXCrypt_CertGetNotAfter(r.cert, 0, after) == 0;
    benchmark::DoNotOptimize(before);
    benchmark::DoNotOptimize(after);
    return ok;
}

bool theirTimes(const Reader &r) {
    struct tm before, after;
    bool ok = ASN1_TIME_to_tm(X509_get0_notBefore(r.x509), &before) == 1 &&
              ASN1_TIME_to_tm(X509_get0_notAfter(r.x509), &after) == 1;
    benchmark::DoNotOptimize(before);
    benchmark::DoNotOptimize(after);
    return ok;
}

bool ourSerial(const Reader &r) {
    unsigned char buffer[32];
    TQXCRYPT_BLOB serial{sizeof buffer, buffer};
    bool ok = TQXCrypt_CertGetSerialNumber(r.cert, 0, &serial) == 0;
    benchmark::DoNotOptimize(buffer);
    return ok;
}

bool theirSerial(const Reader &r) {
    unsigned char buffer[32];
    const ASN1_INTEGER *serial = X509_get0_serialNumber(r.x509);
    int n = ASN1_STRING_length(serial);
    if (n < 0 || n > static_cast<int>(sizeof buffer)) return false;
    std::memcpy(buffer, ASN1_STRING_get0_data(serial), static_cast<size_t>(n));
    benchmark::DoNotOptimize(buffer);
    return true;
}

bool ourExtensions(const Reader &r) {
    bool ok = true;
    for (const Extension *e : r.present) {
        TQXCRYPT_BLOB blob{0, nullptr};
        TQXCRYPT_ATTRIBUTES list{0, nullptr};
        ok = ok && TQXCrypt_CertGetExtension(r.cert, e->name, 0, e->list ? static_cast<void *>(&list) : &blob,
                                             nullptr) == 0;
        TQXCryptFreeAttributes(&list);
        TQXCryptFreeBlob(&blob);
    }
    return ok;
}

bool theirExtensions(const Reader &r) {
    bool ok = true;
    for (int i = 0; i < X509_get_ext_count(r.x509); ++i) {
        X509_EXTENSION *ext = X509_get_ext(r.x509, i);
        const X509V3_EXT_METHOD *method = X509V3_EXT_get(ext);
        void *value = X509V3_EXT_d2i(ext);
        ok = ok && method && value;
        if (value && method->it) ASN1_item_free(static_cast<ASN1_VALUE *>(value), ASN1_ITEM_ptr(method->it));
    }
    return ok;
}

// With hostEntries queued by the host before, as a host that never clears
// its error queue leaves them; they must stay through every call.
template <bool (*Read)(const Reader &), int hostEntries = 0>
void run(benchmark::State &state) {
    Reader &r = reader();
    tqbench::HostEntries host(hostEntries);
    for (auto _ : state)
        if (!Read(r)) state.SkipWithError("reading failed");
    if (!host.stayed()) state.SkipWithError("the host's error entries did not stay");
}

template <bool (*Names)(const Reader &), bool (*Times)(const Reader &), bool (*Serial)(const Reader &),
          bool (*Extensions)(const Reader &)>
bool everything(const Reader &r) {
    return Names(r) && Times(r) && Serial(r) && Extensions(r);
}

}  // namespace

int main(int argc, char **argv) {
    // Sixteen entries: a full queue, its oldest pushed out.
    constexpr int kQueued = 16;
    return tqbench::runPairs(
        argc, argv,
        {{"Cert_Names", run<ourNames>, run<theirNames>},
         {"Cert_Times", run<ourTimes>, run<theirTimes>},
         {"Cert_Serial", run<ourSerial>, run<theirSerial>},
         {"Cert_Extensions_11", run<ourExtensions>, run<theirExtensions>},
         {"Cert_ReadAll", run<everything<ourNames, ourTimes, ourSerial, ourExtensions>>,
          run<everything<theirNames, theirTimes, theirSerial, theirExtensions>>},
         {"Cert_Names_HostQueue16", run<ourNames, kQueued>, run<theirNames, kQueued>, {}, "Cert_Names"},
         {"Cert_Times_HostQueue16", run<ourTimes, kQueued>, run<theirTimes, kQueued>, {}, "Cert_Times"},
         {"Cert_Serial_HostQueue16", run<ourSerial, kQueued>, run<theirSerial, kQueued>, {}, "Cert_Serial"},
         {"Cert_Extensions_11_HostQueue16",
          run<ourExtensions, kQueued>,
          run<theirExtensions, kQueued>,
          {},
          "Cert_Extensions_11"},
         {"Cert_ReadAll_HostQueue16",
          run<everything<ourNames, ourTimes, ourSerial, ourExtensions>, kQueued>,
          run<everything<theirNames, theirTimes, theirSerial, theirExtensions>, kQueued>,
          {},
          "Cert_ReadAll"}},
        0.95, [] { reader(); });
}

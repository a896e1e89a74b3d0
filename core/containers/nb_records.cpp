// The NB certificate record and the NB security-user record: DER containers
// known only by the path that leads to their payload.
#include <openssl/crypto.h>

#include "containers_internal.h"
#include "keys_internal.h"

namespace tq {

namespace {

enum : int { kSequence = 16, kInteger = 2, kBitString = 3, kOctetString = 4, kEnumerated = 10 };
enum : int { kPrintable = 19, kGeneralizedTime = 24, kAnyTag = 160 };

struct Step {
    int tag;
    bool over;
    bool optional;  // present only when the caller's flag says so
};

// Walks steps from `at` to `end`; every step sees what is left of the input.
int walk(const unsigned char *&at, const unsigned char *end, const Step *steps, size_t count,
         bool withOptional) {
    for (size_t i = 0; i < count; ++i) {
        if (steps[i].optional && !withOptional) continue;
        int length = 0;
        if (checkNBFormat(&at, static_cast<int>(end - at), steps[i].tag, steps[i].over ? 1 : 0, &length) != 0)
            return -1;
    }
    return 0;
}

// Up to the certificate element, which the walk then takes whole.
constexpr Step kCertificatePath[] = {
    {kSequence, false, false}, {kPrintable, true, false}, {kEnumerated, true, false},
    {kSequence, true, false},  {kSequence, true, false},  {kSequence, false, false},
    {kSequence, true, true},   {kSequence, false, false}, {kSequence, true, false},
    {kBitString, true, false}, {kSequence, true, false},
};

// Up to the OCTET STRING of the encrypted key, into which the walk goes.
constexpr Step kSecurityUserPath[] = {
    {kSequence, false, false},       {kSequence, false, false},    {kPrintable, true, false},
    {kInteger, true, false},         {kSequence, true, false},     {kSequence, true, false},
    {kSequence, true, false},        {kEnumerated, true, false},   {kPrintable, true, false},
    {kSequence, true, false},        {kOctetString, true, false},  {kSequence, false, false},
    {kSequence, true, true},         {kSequence, false, false},    {kPrintable, false, false},
    {kGeneralizedTime, true, false}, {kEnumerated, true, false},   {kBitString, true, false},
    {kEnumerated, true, false},      {kAnyTag, false, false},      {kSequence, false, false},
    {kSequence, true, false},        {kOctetString, false, false},
};

// The plaintext key area; an encrypted key longer than this is refused.
constexpr size_t kKeyArea = 1024;

// The content of the next INTEGER, read after its real header.
int integerContent(const unsigned char *&at, const unsigned char *end, const unsigned char **content,
                   int *length) {
    if (checkNBFormat(&at, static_cast<int>(end - at), kInteger, 1, length) != 0) return -1;
    *content = at - *length;
    return 0;
}

// The RSA key of the decrypted plaintext: a SEQUENCE of INTEGERs whose third
// and fourth are p and q.
int keyFromPlaintext(const unsigned char *plain, size_t length, EvpPkeyPtr *key) {
    if (length == 0 || plain[0] != 0x30) return TQ_RTN_INVALID_KEY;
    const unsigned char *at = plain, *end = plain + length;
    const Step head[] = {{kSequence, false, false}, {kInteger, true, false}, {kInteger, true, false}};
    const unsigned char *p = nullptr, *q = nullptr;
    int pLength = 0, qLength = 0;
    if (walk(at, end, head, 3, false) != 0 || integerContent(at, end, &p, &pLength) != 0 ||
        integerContent(at, end, &q, &qLength) != 0)
        return -1;
    static const unsigned char kExponent[] = {0x01, 0x00, 0x01};
    EVP_PKEY *made = nullptr;
    if (tqxCrypt_CreateRSAPrivateKey(p, static_cast<uint64_t>(pLength), q, static_cast<uint64_t>(qLength),
                                     kExponent, sizeof kExponent, 0, &made) != TQ_RTN_OK)
        return TQ_RTN_INVALID_KEY;
    key->reset(made);
    return TQ_RTN_OK;
}

// The two DES keys and the IV from the SHA-1 digest of the password.
int keyMaterial(const char *password, unsigned char digest[tq::kMaxDigest]) {
    TQXCRYPT_BLOB out{tq::kMaxDigest, digest};
    int rc = tq::hashInto(TQXCRYPT_HASH_DEFAULT, password, std::strlen(password), &out);
    if (rc == TQ_RTN_OK && out.length != 20) rc = TQ_RTN_FAILED;
    return rc;
}

}  // namespace

}  // namespace tq

extern "C" {

int TQXCrypt_NBCert2X509Cert(const unsigned char *data, int length, int flag, unsigned char **cert,
                             int *certLength) try {
    tq::ErrorQueueScope scope;
    if (!data || length < 0 || !cert || !certLength) return TQ_RTN_BAD_ARGUMENT;
    const unsigned char *at = data, *end = data + length;
    if (tq::walk(at, end, tq::kCertificatePath, sizeof tq::kCertificatePath / sizeof tq::kCertificatePath[0],
                 flag > 0) != 0)
        return -1;
    // The certificate whole, with its header as it is written.
    const unsigned char *start = at;
    int content = 0;
    if (tq::checkNBFormat(&at, static_cast<int>(end - at), tq::kSequence, 1, &content) != 0) return -1;
    const size_t n = static_cast<size_t>(at - start);
    tq::TqMem copy = tq::tqAlloc(n);
    if (!copy) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    std::memcpy(copy.get(), start, n);
    *cert = copy.release();
    *certLength = static_cast<int>(n);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_NBSecUser2PFX(const unsigned char *data, int length, const char *password, TQXCRYPT_HANDLE *cert,
                           int flag, unsigned char **pfx, int *pfxLength) try {
    tq::ErrorQueueScope scope;
    if (!data || length < 0 || !password || !*password || !pfx || !pfxLength) return TQ_RTN_BAD_ARGUMENT;
    X509 *x509 = nullptr;
    if (tq::objectOf(cert, TQXCRYPT_KIND_CERTIFICATE, tqxCryptASN1CertificateMethod(), &x509) != TQ_RTN_OK)
        return TQ_RTN_BAD_ARGUMENT;
    TQXCryptInitialize();
    tq::SecureBytes digest(tq::kMaxDigest);
    int rc = tq::keyMaterial(password, digest.data());
    if (rc != TQ_RTN_OK) return rc;

    const unsigned char *at = data, *end = data + length;
    constexpr size_t steps = sizeof tq::kSecurityUserPath / sizeof tq::kSecurityUserPath[0];
    int sealedLength = 0;
    if (tq::walk(at, end, tq::kSecurityUserPath, steps - 1, flag > 0) != 0 ||
        tq::checkNBFormat(&at, static_cast<int>(end - at), tq::kOctetString, 0, &sealedLength) != 0)
        return -1;
    // Whole blocks that fit the key area, or nothing is decrypted.
    if (static_cast<size_t>(sealedLength) > tq::kKeyArea || sealedLength % 8) return -1;
    tq::SecureBytes plain(tq::kKeyArea);
    unsigned char *d = digest.data();
    unsigned char iv[8] = {d[16], d[17], d[18], d[19], d[16], d[17], d[18], d[19]};
    const int decrypted = tq::cbc_decrypt_2k(d, iv, plain.data(), at, sealedLength);
    tq::wipe(iv, sizeof iv);
    if (!decrypted) return TQ_RTN_INVALID_KEY;
    tq::EvpPkeyPtr key;
    rc = tq::keyFromPlaintext(plain.data(), static_cast<size_t>(sealedLength), &key);
    if (rc != TQ_RTN_OK) return rc;
    tq::Pkcs12Ptr p12;
    rc = tq::makePkcs12(password, key.get(), x509, nullptr, &p12);
    if (rc != TQ_RTN_OK) return rc;
    tq::TqMem der;
    size_t n = 0;
    rc = tq::pkcs12Der(p12.get(), &der, &n);
    if (rc != TQ_RTN_OK) return rc;
    if (!tq::fitsInt(n)) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    *pfx = der.release();
    *pfxLength = static_cast<int>(n);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

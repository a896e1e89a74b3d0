// The one-call text API over untrusted texts and bytes. The first byte
// chooses what the rest is (bits 0-2: a certificate, a PKCS#7 message, a
// signer info, an envelope, a private-key PEM, a PKCS#12 file, cipher text
// under a password, cipher text under raw key bytes); its bit 3 gives an
// object as the rest's own text (armour and Base64 of the fuzzer's making)
// instead of the Base64 of its bytes, a private key with its password, a
// PKCS#12 as the content of its authenticated safe with a MAC put around it.
// The second byte picks flags, selectors and which of the costlier calls
// runs.
#include <cstring>
#include <string>
#include <vector>

#include "fixture_files.h"
#include "pfx_wrap.h"
#include "tqcrypt.h"
#include "tqxcrypt.h"
#include "tqxcrypt_cipher.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_store.h"
#include "tqxcrypt_x509.h"

namespace {

using fuzz::Bytes;

// A text of the library's, copied and released.
std::string owned(char *text) {
    std::string out = text ? text : "";
    TQCryptMemFree(text);
    return out;
}

struct Peers {
    TQXCRYPT_HANDLE *store = nullptr;
    std::string caText, signer, signerKey, recipient, recipientKey, signerInfo, envelope;
    Bytes content;
    Peers() {
        caText = fuzz::fixtureText("objects/ca.pem") + fuzz::fixtureText("textapi/ca.pem");
        if (TQXCrypt_LoadStore(&store, caText.c_str(), nullptr) != TQ_RTN_OK) std::abort();
        signer = fuzz::fixtureText("objects/user.pem");
        signerKey = fuzz::fixtureText("objects/user.rsa.pem");
        recipient = fuzz::fixtureText("textapi/enc.pem");
        recipientKey = fuzz::fixtureText("textapi/enc.key.pem");
        content = fuzz::fixtureBytes("objects/content.txt");
        // The signer info of the signature openssl made over the content.
        char *info = nullptr, *envelopeText = nullptr;
        if (TQCrypt_Verify(store, fuzz::fixtureText("objects/signed.p7.pem").c_str(), nullptr, 0, nullptr, 0,
                           0, 0, &info, nullptr) != TQ_RTN_OK ||
            TQCrypt_CertEncrypt(recipient.c_str(), content.data(), content.size(), 2, 0, &envelopeText) !=
                TQ_RTN_OK)
            std::abort();
        signerInfo = owned(info);
        envelope = owned(envelopeText);
    }
};

const Peers &peers() {
    static Peers p;
    return p;
}

// Base64 text of the bytes, or the bytes themselves as text (up to a NUL).
std::string asText(const Bytes &body, bool raw) {
    if (raw) return std::string(body.begin(), body.end()).c_str();
    TQXCRYPT_BLOB text{0, nullptr};
    if (TQXCrypt_Encode(body.data(), body.size(), &text, nullptr) != TQ_RTN_OK) return std::string();
    std::string out(reinterpret_cast<const char *>(text.data), static_cast<size_t>(text.length));
    TQXCryptFreeBlob(&text);
    return out;
}

bool isUpperHex(const char *text) {
    size_t n = std::strlen(text);
    if (n % 2) return false;
    for (size_t i = 0; i < n; ++i)
        if (!std::strchr("0123456789ABCDEF", text[i])) return false;
    return true;
}

bool decodes(const char *text, int kind) {
    TQXCRYPT_HANDLE *h = nullptr;
    int rc = TQXCrypt_DecodeObject(&h, kind, reinterpret_cast<const unsigned char *>(text), std::strlen(text),
                                   TQXCRYPT_DECODE_TEXT, nullptr);
    TQXCryptFreeHandle(h);
    return rc == TQ_RTN_OK;
}

// A text result of one call: present exactly when the call succeeded.
void takeText(int rc, char *text, bool (*valid)(const char *) = nullptr) {
    if ((rc == TQ_RTN_OK) != (text != nullptr)) __builtin_trap();
    if (text && valid && !valid(text)) __builtin_trap();
    TQCryptMemFree(text);
}

void certificate(const Bytes &body, bool raw, int variant) {
    const Peers &p = peers();
    const std::string text = asText(body, raw);
    const char *c = text.c_str();
    for (int fields : {0, TQCRYPT_SUBJECT_CN, TQCRYPT_SUBJECT_EMAIL, TQCRYPT_SUBJECT_O, TQCRYPT_SUBJECT_OU,
                       TQCRYPT_SUBJECT_C, 0x200000}) {
        char *value = nullptr;
        takeText(TQCrypt_CertGetSubject(c, fields, &value), value);
    }
    for (int selector = 0; selector <= 9; ++selector) {
        char *summary = nullptr;
        takeText(TQCrypt_CertGetKDRAExtension(c, selector, &summary), summary);
    }
    char *out = nullptr;
    takeText(TQCrypt_CertGetIssuer(c, 0, &out), out);
    out = nullptr;
    takeText(TQCrypt_CertGetSignatureAlgorithm(c, 0, &out), out);
    out = nullptr;
    takeText(TQCrypt_CertGetSerialNumber(c, 0, &out), out, isUpperHex);
    // Exactly the 20 bytes a time text takes.
    std::vector<char> time(TQXCRYPT_TIME_TEXT_SIZE);
    for (auto reader : {TQCrypt_CertGetNotBefore, TQCrypt_CertGetNotAfter})
        if (reader(c, 0, time.data()) == TQ_RTN_OK && std::strlen(time.data()) != TQXCRYPT_TIME_TEXT_SIZE - 1)
            __builtin_trap();
    int size = 0;
    TQCrypt_CertGetKeySize(c, 0, &size);
    // The digest of the certificate text is the digest of the bytes it carries.
    const int selector = variant & 7;
    char *digest = nullptr, *hash = nullptr;
    int rc = TQCrypt_CertGetDigest(c, selector, &digest);
    if ((rc == TQ_RTN_OK) != (digest != nullptr) || (digest && !isUpperHex(digest))) __builtin_trap();
    static const unsigned char nothing = 0;
    if (rc == TQ_RTN_OK && !raw &&
        (TQCrypt_Hash(body.empty() ? &nothing : body.data(), body.size(), selector, &hash) != TQ_RTN_OK ||
         std::strcmp(hash, digest) != 0))
        __builtin_trap();
    TQCryptMemFree(hash);
    TQCryptMemFree(digest);
    // One of the calls that take the certificate together with other inputs.
    switch ((variant >> 3) & 3) {
    case 0:
        out = nullptr;
        takeText(TQCrypt_CertEncrypt(c, p.content.data(), p.content.size(), 2, 0, &out), out);
        break;
    case 1:
        out = nullptr;
        takeText(TQCrypt_ComposeSignature(c, p.signerInfo.c_str(), 0, &out), out);
        TQCrypt_VerifyDigest(p.store, c, p.signerInfo.c_str(), p.content.data(), p.content.size(), nullptr, 0,
                             0);
        break;
    case 2:
        out = nullptr;
        takeText(TQCrypt_Sign(c, p.signerKey.c_str(), nullptr, p.store, p.content.data(), p.content.size(), 0,
                              0, TQXCRYPT_HASH_SHA256, &out),
                 out);
        break;
    default: {
        unsigned char *plain = nullptr;
        uint64_t length = 0;
        if (TQCrypt_CertDecrypt(c, p.recipientKey.c_str(), nullptr, p.envelope.c_str(), 0, 0, &plain,
                                &length) == TQ_RTN_OK)
            TQCryptMemFree(plain);
        // The texts are decoded and the store loaded; an empty URL ends the call there.
        TQCrypt_OCSPVerifyCert(c, nullptr, nullptr, c, p.caText.c_str(), c, "");
    }
    }
}

void message(const Bytes &body, bool raw, int variant) {
    const Peers &p = peers();
    const std::string text = asText(body, raw);
    const bool detached = variant & 1, outputs = variant & 2;
    char *info = nullptr, *cert = nullptr;
    int rc = TQCrypt_Verify(
        p.store, text.c_str(), detached ? p.content.data() : nullptr, detached ? p.content.size() : 0,
        (variant & 0x10) ? "CN=User One" : nullptr, ((variant >> 2) & 3) | (detached ? TQXCRYPT_DETACHED : 0),
        (variant & 0x20) ? 0x80 : 0, 0, outputs ? &info : nullptr, outputs ? &cert : nullptr);
    if (rc == TQ_RTN_OK && outputs &&
        !(decodes(info, TQXCRYPT_KIND_SIGNERINFO) && decodes(cert, TQXCRYPT_KIND_CERTIFICATE)))
        __builtin_trap();
    if (rc != TQ_RTN_OK && (info || cert)) __builtin_trap();
    TQCryptMemFree(info);
    TQCryptMemFree(cert);
    cert = nullptr;
    rc = TQCrypt_PKCS7GetUserCertificate(text.c_str(), &cert);
    takeText(rc, cert, [](const char *t) { return decodes(t, TQXCRYPT_KIND_CERTIFICATE); });
    for (int index : {0, 1}) {
        char *name = nullptr;
        takeText(TQCrypt_SignatureGetAlgorithm(text.c_str(), 0, index, &name), name);
    }
}

void signerInfo(const Bytes &body, bool raw, int variant) {
    const Peers &p = peers();
    const std::string text = asText(body, raw);
    char *composed = nullptr;
    takeText(TQCrypt_ComposeSignature(p.signer.c_str(), text.c_str(), 0, &composed), composed,
             [](const char *t) { return decodes(t, TQXCRYPT_KIND_PKCS7); });
    TQCrypt_VerifyDigest(p.store, p.signer.c_str(), text.c_str(), p.content.data(), p.content.size(),
                         (variant & 1) ? "CN=User One" : nullptr, (variant >> 1) & 3, 0);
}

void envelope(const Bytes &body, bool raw, int variant) {
    const Peers &p = peers();
    const std::string text = asText(body, raw);
    unsigned char *plain = nullptr;
    uint64_t length = 0;
    int rc = TQCrypt_CertDecrypt(p.recipient.c_str(), p.recipientKey.c_str(), nullptr, text.c_str(), 0,
                                 (variant & 1) ? 0x30 : 0, &plain, &length);
    if ((rc == TQ_RTN_OK) != (plain != nullptr) || (rc == TQ_RTN_OK && length > body.size()))
        __builtin_trap();
    TQCryptMemFree(plain);
}

void privateKey(const Bytes &body, bool withPassword, int variant) {
    const Peers &p = peers();
    const std::string key(std::string(body.begin(), body.end()).c_str());
    const char *password = withPassword ? "secret" : nullptr;
    switch (variant % 3) {
    case 0: {
        char *signature = nullptr;
        takeText(
            TQCrypt_Sign(p.signer.c_str(), key.c_str(), password, p.store, p.content.data(), p.content.size(),
                         (variant & 8) ? 0x4000 : 0, 0, (variant >> 4) & 7, &signature),
            signature);
        break;
    }
    case 1: {
        unsigned char *plain = nullptr;
        uint64_t length = 0;
        if (TQCrypt_CertDecrypt(p.recipient.c_str(), key.c_str(), password, p.envelope.c_str(), 0, 0, &plain,
                                &length) == TQ_RTN_OK)
            TQCryptMemFree(plain);
        break;
    }
    default:
        TQCrypt_OCSPVerifyCert(p.signer.c_str(), key.c_str(), password, p.signer.c_str(), p.caText.c_str(),
                               nullptr, "");
    }
}

void pfx(const Bytes &body, bool wrap, int variant) {
    const Peers &p = peers();
    const char *password = "secret";
    const Bytes file = wrap ? fuzz::macedPfx(body.data(), body.size(), password) : body;
    switch (variant % 5) {
    case 0: {
        int count = -1;
        if (TQCrypt_P12GetUserCertificateCount(file.data(), file.size(), password, &count) == TQ_RTN_OK &&
            count < 0)
            __builtin_trap();
        break;
    }
    case 1: {
        char *signature = nullptr;
        takeText(TQCrypt_P12Sign(file.data(), file.size(), password, p.content.data(), p.content.size(),
                                 (variant & 8) ? 0x100 : 0, 0, TQXCRYPT_HASH_SHA256, &signature),
                 signature);
        break;
    }
    case 2: {
        // What comes out opens again, with its one user certificate.
        unsigned char *filtered = nullptr;
        uint64_t length = 0;
        if (TQCrypt_FiltrateP12(file.data(), file.size(), password, &filtered, &length) != TQ_RTN_OK) {
            if (filtered) __builtin_trap();
            break;
        }
        int count = 0;
        if (TQCrypt_P12GetUserCertificateCount(filtered, length, password, &count) != TQ_RTN_OK || count != 1)
            __builtin_trap();
        TQCryptMemFree(filtered);
        break;
    }
    case 3:
        TQCrypt_CheckPFX(file.data(), file.size(), password, (variant & 8) ? "CN=Text Signer" : nullptr, 0,
                         0);
        break;
    default: {
        TQXCRYPT_BLOB cert{0, nullptr};
        if (TQCrypt_P12XGetUserCertificate(file.data(), file.size(), password, &cert) == TQ_RTN_OK) {
            const std::string text(reinterpret_cast<const char *>(cert.data),
                                   static_cast<size_t>(cert.length));
            if (!decodes(text.c_str(), TQXCRYPT_KIND_CERTIFICATE)) __builtin_trap();
        }
        TQXCryptFreeBlob(&cert);
    }
    }
}

// An exact copy, so that a read past the length a call is given is caught.
Bytes exact(const unsigned char *bytes, size_t n) { return Bytes(bytes, bytes + n); }

const unsigned char kKeyBytes[32] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xFE, 0xDC, 0xBA,
                                     0x98, 0x76, 0x54, 0x32, 0x10, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23,
                                     0x45, 0x67, 0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78};
const unsigned char kIvBytes[16] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,
                                    0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE, 0xAF};

// Head: algorithm and mode (bit 7: an IV is given), derivation, hash and
// iterations, salt length; the password's decryption ends in a NUL.
struct PasswordCipher {
    static constexpr size_t kHead = 3;
    static constexpr bool kNul = true;
    int algorithm, flags, iterations;
    Bytes salt, iv;
    bool givenIv;
    explicit PasswordCipher(const Bytes &head)
        : algorithm(head[0] & 7),
          flags((head[0] & 0x30) | (head[1] & 0x0F) | ((head[1] & 0x30) << 4)),
          iterations(head[1] >> 6),
          salt(exact(kKeyBytes, head[2] % 17)),
          iv(exact(kIvBytes, 16)),
          givenIv(head[0] & 0x80) {}
    int run(bool encrypt, const Bytes &in, unsigned char **out, uint64_t *length) const {
        auto call = encrypt ? TQCrypt_SymmetricEncrypt : TQCrypt_SymmetricDecrypt;
        return call("secret", in.data(), in.size(), salt.data(), static_cast<int>(salt.size()), iterations,
                    givenIv ? iv.data() : nullptr, algorithm, flags, out, length);
    }
};

// Head: algorithm and mode, padding, key length, IV length.
struct KeyCipher {
    static constexpr size_t kHead = 4;
    static constexpr bool kNul = false;
    int algorithm, flags, padding;
    Bytes key, iv;
    explicit KeyCipher(const Bytes &head)
        : algorithm(head[0] & 7),
          flags(head[0] & 0x30),
          padding(head[1] & TQXCRYPT_NO_PADDING),
          key(exact(kKeyBytes, head[2] % 33)),
          iv(exact(kIvBytes, head[3] % 17)) {}
    int run(bool encrypt, const Bytes &in, unsigned char **out, uint64_t *length) const {
        auto call = encrypt ? TQCrypt_SymmetricEncryptEx : TQCrypt_SymmetricDecryptEx;
        return call(algorithm, in.data(), in.size(), key.data(), static_cast<int>(key.size()), iv.data(),
                    static_cast<int>(iv.size()), flags, padding, out, length);
    }
};

// The text decrypts to no more bytes than it has (a failed last block
// still hands out the rest); the text encrypts to what decrypts back to it.
template <class Cipher>
void cipherText(const Bytes &body) {
    if (body.size() < Cipher::kHead) return;
    const Cipher cipher(body);
    const Bytes text(body.begin() + Cipher::kHead, body.end());
    unsigned char *out = nullptr;
    uint64_t length = 0;
    int rc = cipher.run(false, text, &out, &length);
    if (out ? (length > text.size() || (Cipher::kNul && out[length] != 0)) : rc == TQ_RTN_OK)
        __builtin_trap();
    TQCryptMemFree(out);
    out = nullptr;
    rc = cipher.run(true, text, &out, &length);
    if ((rc == TQ_RTN_OK) != (out != nullptr)) __builtin_trap();
    if (!out) return;
    unsigned char *back = nullptr;
    uint64_t backLength = 0;
    if (cipher.run(false, Bytes(out, out + length), &back, &backLength) != TQ_RTN_OK ||
        backLength != text.size() || (backLength && std::memcmp(back, text.data(), text.size()) != 0))
        __builtin_trap();
    TQCryptMemFree(back);
    TQCryptMemFree(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size < 2 || size > 1 << 16) return 0;
    peers();
    const Bytes body(data + 2, data + size);
    const bool flag = data[0] & 8;
    const int variant = data[1];
    switch (data[0] & 7) {
    case 0:
        certificate(body, flag, variant);
        break;
    case 1:
        message(body, flag, variant);
        break;
    case 2:
        signerInfo(body, flag, variant);
        break;
    case 3:
        envelope(body, flag, variant);
        break;
    case 4:
        privateKey(body, flag, variant);
        break;
    case 5:
        pfx(body, flag, variant);
        break;
    case 6:
        cipherText<PasswordCipher>(body);
        break;
    default:
        cipherText<KeyCipher>(body);
    }
    return 0;
}

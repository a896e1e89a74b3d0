// Signing, verification and envelopes through texts, against the openssl tool.
#include <openssl/pkcs7.h>
#include <cstring>
#include <openssl/x509.h>

#include "textapi_support.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"

using namespace txtest;
using tqtest::TempDir;

namespace {

const Bytes kData = tqtest::randomBytes(1024, 7);

// The bare Base64 body of a PEM text.
std::string bareBase64(const std::string &pem) {
    std::string out;
    size_t start = pem.find('\n') + 1, end = pem.find("-----END");
    return pem.substr(start, end - start);
}

// Exactly Base64 in 64-character lines, each ended by LF, no armour.
void expectBase64Lines(const std::string &t) {
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.find('-'), std::string::npos);
    EXPECT_EQ(t.back(), '\n');
    size_t at = 0;
    while (at < t.size()) {
        size_t nl = t.find('\n', at);
        ASSERT_NE(nl, std::string::npos);
        size_t n = nl - at;
        if (nl + 1 < t.size())
            EXPECT_EQ(n, 64u) << "line at " << at;
        else
            EXPECT_LE(n, 64u);
        for (size_t i = at; i < nl; ++i)
            EXPECT_TRUE(std::isalnum((unsigned char)t[i]) || t[i] == '+' || t[i] == '/' || t[i] == '=');
        at = nl + 1;
    }
}

void expectCmsAccepts(const TempDir &dir, const std::string &signature, int flags, const std::string &cert) {
    tqtest::writeFile(dir.file("data"), kData);
    tqtest::writeFile(dir.file("m.der"), derOfBase64(dir, signature));
    std::string args = " -binary -inform DER -in " + dir.file("m.der") + " -CAfile " + fx("ca.pem");
    if (flags & TQXCRYPT_DETACHED) args += " -content " + dir.file("data");
    if (flags & TQXCRYPT_SIGN_NOCERTS) args += " -certfile " + fx(cert);
    sh("openssl cms -verify -purpose any" + args + " -out " + dir.file("out"));
    EXPECT_TRUE(tqtest::readFile(dir.file("out")) == kData);
}

// A message of the openssl tool signed with NAME's key; DER bytes.
Bytes opensslSigned(const TempDir &dir, const std::string &name, bool detached) {
    tqtest::writeFile(dir.file("data"), kData);
    return tqtest::shBytes("openssl smime -sign -binary -md sha256 -outform DER -in " + dir.file("data") +
                           " -signer " + fx(name + ".pem") + " -inkey " + fx(name + ".key.pem") +
                           (detached ? "" : " -nodetach"));
}

std::string base64Of(const Bytes &der) {
    TQXCRYPT_BLOB b{0, nullptr};
    EXPECT_EQ(TQXCrypt_Encode(der.data(), der.size(), &b, nullptr), TQ_RTN_OK);
    std::string s(reinterpret_cast<char *>(b.data), b.length);
    TQXCryptFreeBlob(&b);
    return s;
}

Bytes signerInfoDer(const Bytes &message) {
    const unsigned char *p = message.data();
    PKCS7 *m = d2i_PKCS7(nullptr, &p, (long)message.size());
    EXPECT_NE(m, nullptr);
    if (!m) return {};
    PKCS7_SIGNER_INFO *si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(m), 0);
    Bytes out = tqtest::derBytes<PKCS7_SIGNER_INFO>(si, i2d_PKCS7_SIGNER_INFO);
    PKCS7_free(m);
    return out;
}

Bytes certDer(const std::string &name) {
    return tqtest::shBytes("openssl x509 -outform DER -in " + fx(name));
}

TEST(TextSign, EveryCertificateAndKeyTextSignsWhatOpensslAccepts) {
    TempDir dir;
    const std::string pem = text("sign.pem");
    const std::string certs[] = {pem, bareBase64(pem)};
    const struct {
        const char *file, *password;
    } keys[] = {{"sign.key.pem", nullptr}, {"sign.enc.pem", "secret"}, {"sign.p8.pem", "secret"}};
    for (const auto &cert : certs) {
        for (const auto &k : keys) {
            SCOPED_TRACE(std::string(k.file) + (cert == pem ? " PEM" : " Base64"));
            OutText sig;
            ASSERT_EQ(TQCrypt_Sign(cert.c_str(), text(k.file).c_str(), k.password, nullptr, kData.data(),
                                   kData.size(), 0, 0x80, TQXCRYPT_HASH_SHA256, &sig),
                      TQ_RTN_OK);
            expectBase64Lines(sig.str());
            expectCmsAccepts(dir, sig.str(), 0, "sign.pem");
        }
    }
}

TEST(TextSign, FlagsAndHashSelectors) {
    TempDir dir;
    TQXCRYPT_HANDLE *store = rootStore();
    const int flags[] = {0, TQXCRYPT_DETACHED, TQXCRYPT_SIGN_NOCERTS,
                         TQXCRYPT_DETACHED | TQXCRYPT_SIGN_NOCERTS, TQXCRYPT_SIGN_CHAIN};
    for (int f : flags) {
        for (const auto &sel : tqtest::kSelectors) {
            SCOPED_TRACE(std::to_string(f) + " " + sel.md);
            OutText sig;
            ASSERT_EQ(TQCrypt_Sign(text("sign.pem").c_str(), text("sign.key.pem").c_str(), nullptr, store,
                                   kData.data(), kData.size(), f, 0, (int)sel.selector, &sig),
                      TQ_RTN_OK);
            expectCmsAccepts(dir, sig.str(), f, "sign.pem");
            tqtest::writeFile(dir.file("m.der"), derOfBase64(dir, sig.str()));
            std::string print = sh("openssl cms -cmsout -print -inform DER -in " + dir.file("m.der"));
            EXPECT_NE(
                print.find(std::string("algorithm: ") + (std::string(sel.md) == "sha1" ? "sha1" : sel.md)),
                std::string::npos);
        }
    }
    TQXCryptFreeHandle(store);
}

TEST(TextVerify, OpensslMessagesAsPemAndBase64) {
    TempDir dir;
    TQXCRYPT_HANDLE *store = rootStore();
    const Bytes signerCert = certDer("sign.pem");
    for (bool detached : {false, true}) {
        Bytes message = opensslSigned(dir, "sign", detached);
        tqtest::writeFile(dir.file("m.der"), message);
        std::string pem = sh("openssl pkcs7 -inform DER -in " + dir.file("m.der"));
        ASSERT_NE(pem.find("-----BEGIN PKCS7-----"), std::string::npos);
        const int flags = TQXCRYPT_VERIFY_CHAIN | (detached ? TQXCRYPT_DETACHED : 0);
        for (const std::string &t : {pem, base64Of(message)}) {
            SCOPED_TRACE(std::string(detached ? "detached " : "attached ") + (t == pem ? "PEM" : "Base64"));
            EXPECT_EQ(TQCrypt_Verify(store, t.c_str(), kData.data(), kData.size(), nullptr, flags, 0xC0, 0,
                                     nullptr, nullptr),
                      TQ_RTN_OK);
            OutText info, cert;
            ASSERT_EQ(TQCrypt_Verify(store, t.c_str(), kData.data(), kData.size(), "CN=Text Signer", flags, 0,
                                     0, &info, &cert),
                      TQ_RTN_OK);
            expectBase64Lines(info.str());
            EXPECT_TRUE(derOfBase64(dir, info.str()) == signerInfoDer(message));
            EXPECT_TRUE(derOfBase64(dir, cert.str()) == signerCert);
            // The texts decode again as their kinds.
            tqtest::HandleOwner again;
            EXPECT_EQ(
                TQXCrypt_DecodeObject(again.out(), TQXCRYPT_KIND_SIGNERINFO, (const unsigned char *)info.p,
                                      std::strlen(info.p), TQXCRYPT_DECODE_TEXT, nullptr),
                TQ_RTN_OK);
            // Other content, or a rule the signer does not meet, fails and hands out nothing.
            Bytes other = kData;
            other[0] ^= 1;
            char *untouched = nullptr;
            EXPECT_NE(TQCrypt_Verify(store, t.c_str(), other.data(), other.size(), nullptr, flags, 0, 0,
                                     &untouched, nullptr),
                      TQ_RTN_OK);
            EXPECT_EQ(TQCrypt_Verify(store, t.c_str(), kData.data(), kData.size(), "CN=Somebody Else", flags,
                                     0, 0, &untouched, nullptr),
                      TQ_RTN_CERT_REJECTED);
            EXPECT_EQ(untouched, nullptr);
        }
    }
    TQXCryptFreeHandle(store);
}

TEST(TextVerify, ComposeAndVerifyDigestWithAnOpensslSignerInfo) {
    TempDir dir;
    TQXCRYPT_HANDLE *store = rootStore();
    const std::string info = base64Of(signerInfoDer(opensslSigned(dir, "sign", true)));
    OutText composed;
    ASSERT_EQ(TQCrypt_ComposeSignature(text("sign.pem").c_str(), info.c_str(), 0, &composed), TQ_RTN_OK);
    expectBase64Lines(composed.str());
    expectCmsAccepts(dir, composed.str(), TQXCRYPT_DETACHED, "sign.pem");
    EXPECT_EQ(TQCrypt_VerifyDigest(store, text("sign.pem").c_str(), info.c_str(), kData.data(), kData.size(),
                                   "CN=Text Signer", TQXCRYPT_VERIFY_CHAIN, 0),
              TQ_RTN_OK);
    Bytes other = kData;
    other.back() ^= 0x80;
    EXPECT_NE(TQCrypt_VerifyDigest(store, text("sign.pem").c_str(), info.c_str(), other.data(), other.size(),
                                   nullptr, TQXCRYPT_VERIFY_CHAIN, 0),
              TQ_RTN_OK);
    // The wrong certificate for the signer info.
    EXPECT_NE(TQCrypt_VerifyDigest(store, text("enc.pem").c_str(), info.c_str(), kData.data(), kData.size(),
                                   nullptr, 0, 0),
              TQ_RTN_OK);
    TQXCryptFreeHandle(store);
}

// No store: the signature alone is checked; a chain cannot be built from
// nothing. Neither way leaves a block of the library allocator behind.
TEST(TextVerify, WithoutAStoreOnlyTheSignatureCounts) {
    TempDir dir;
    const Bytes signedData = opensslSigned(dir, "sign", false);
    const std::string message = base64Of(signedData), info = base64Of(signerInfoDer(signedData));
    Bytes other = kData;
    other[10] ^= 4;
    const struct Row {
        const char *name;
        const Bytes &data;
        int flags, verify, digest;
    } rows[] = {
        {"signature", kData, 0, TQ_RTN_OK, TQ_RTN_OK},
        {"chain", kData, TQXCRYPT_VERIFY_CHAIN, TQ_RTN_NO_ISSUER, TQ_RTN_NO_ISSUER},
        {"other data", other, 0, TQ_RTN_CONTENT_MISMATCH, TQ_RTN_VERIFY_FAILED},
    };
    BlockCount count;
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const long before = BlockCount::live();
        char *signerInfo = nullptr, *signer = nullptr;
        EXPECT_EQ(TQCrypt_Verify(nullptr, message.c_str(), r.data.data(), r.data.size(), "CN=Text Signer",
                                 r.flags, 0x80, 0, &signerInfo, &signer),
                  r.verify);
        EXPECT_EQ(signer != nullptr, r.verify == TQ_RTN_OK);
        if (signer) {
            EXPECT_TRUE(derOfBase64(dir, signer) == certDer("sign.pem"));
            EXPECT_EQ(std::string(signerInfo ? signerInfo : ""), info);
        }
        TQCryptMemFree(signerInfo);
        TQCryptMemFree(signer);
        EXPECT_EQ(TQCrypt_VerifyDigest(nullptr, text("sign.pem").c_str(), info.c_str(), r.data.data(),
                                       r.data.size(), "CN=Text Signer", r.flags, 0),
                  r.digest);
        EXPECT_EQ(BlockCount::live(), before);
    }
}

TEST(TextVerify, UserCertificateAndDigestAlgorithmOfAMessage) {
    TempDir dir;
    const std::string message = base64Of(opensslSigned(dir, "sign", false));
    OutText cert, name;
    ASSERT_EQ(TQCrypt_PKCS7GetUserCertificate(message.c_str(), &cert), TQ_RTN_OK);
    EXPECT_TRUE(derOfBase64(dir, cert.str()) == certDer("sign.pem"));
    ASSERT_EQ(TQCrypt_SignatureGetAlgorithm(message.c_str(), 0, 0, &name), TQ_RTN_OK);
    EXPECT_EQ(name.str(), "SHA256");
    EXPECT_EQ(TQCrypt_PKCS7GetUserCertificate("not base64 at all!", &cert), TQ_RTN_BAD_BASE64);
}

// The gate over its four functions: the certificate's bits against the
// required ones, whatever the process-wide switch holds.
TEST(TextKeyUsage, GateOverItsFourFunctions) {
    TempDir dir;
    TQXCRYPT_HANDLE *store = rootStore();
    const struct Row {
        const char *name;
        int required;
        int expected;
    } rows[] = {
        {"sign", 0xC0, TQ_RTN_OK},          {"sign", 0x80, TQ_RTN_OK},       {"sign", 0xA0, TQ_RTN_KEY_USAGE},
        {"sign", 0x8000, TQ_RTN_KEY_USAGE}, {"enc", 0x30, TQ_RTN_OK},        {"enc", 0x80, TQ_RTN_KEY_USAGE},
        {"noku", 0xFF, TQ_RTN_OK},          {"ku0", 0x80, TQ_RTN_KEY_USAGE}, {"ku0", 0, TQ_RTN_OK},
    };
    for (int switchOn : {1, 0}) {
        TQXCryptCheckKeyUsage(switchOn);
        for (const Row &r : rows) {
            SCOPED_TRACE(std::string(r.name) + " " + std::to_string(r.required) + " switch " +
                         std::to_string(switchOn));
            const std::string cert = text(std::string(r.name) + ".pem");
            const std::string key = text(std::string(r.name) + ".key.pem");
            char *sig = nullptr;
            EXPECT_EQ(TQCrypt_Sign(cert.c_str(), key.c_str(), nullptr, nullptr, kData.data(), kData.size(), 0,
                                   r.required, 4, &sig),
                      r.expected);
            EXPECT_EQ(sig != nullptr, r.expected == TQ_RTN_OK);
            TQCryptMemFree(sig);

            const std::string message = base64Of(opensslSigned(dir, r.name, false));
            char *info = nullptr, *signer = nullptr;
            EXPECT_EQ(
                TQCrypt_Verify(store, message.c_str(), nullptr, 0, nullptr, 0, r.required, 0, &info, &signer),
                r.expected);
            EXPECT_EQ(info != nullptr && signer != nullptr, r.expected == TQ_RTN_OK);
            EXPECT_EQ(info == nullptr && signer == nullptr, r.expected != TQ_RTN_OK);
            TQCryptMemFree(info);
            TQCryptMemFree(signer);

            char *env = nullptr;
            EXPECT_EQ(TQCrypt_CertEncrypt(cert.c_str(), kData.data(), kData.size(), 2, r.required, &env),
                      r.expected);
            EXPECT_EQ(env != nullptr, r.expected == TQ_RTN_OK);
            TQCryptMemFree(env);

            tqtest::writeFile(dir.file("data"), kData);
            const std::string envelope =
                base64Of(tqtest::shBytes("openssl smime -encrypt -des3 -binary -outform DER -in " +
                                         dir.file("data") + " " + fx(r.name) + ".pem"));
            unsigned char *plain = nullptr;
            uint64_t length = 0;
            EXPECT_EQ(TQCrypt_CertDecrypt(cert.c_str(), key.c_str(), nullptr, envelope.c_str(), 0, r.required,
                                          &plain, &length),
                      r.expected);
            EXPECT_EQ(plain != nullptr, r.expected == TQ_RTN_OK);
            if (plain) {
                EXPECT_TRUE(Bytes(plain, plain + length) == kData);
            }
            TQCryptMemFree(plain);
        }
    }
    TQXCryptCheckKeyUsage(1);
    TQXCryptFreeHandle(store);
}

TEST(TextEnvelope, BothWaysWithOpenssl) {
    TempDir dir;
    tqtest::writeFile(dir.file("data"), kData);
    for (int cipher : {1, 2}) {
        SCOPED_TRACE(cipher);
        OutText env;
        ASSERT_EQ(
            TQCrypt_CertEncrypt(text("enc.pem").c_str(), kData.data(), kData.size(), cipher, 0x20, &env),
            TQ_RTN_OK);
        expectBase64Lines(env.str());
        tqtest::writeFile(dir.file("env.der"), derOfBase64(dir, env.str()));
        EXPECT_TRUE(tqtest::shBytes(
                        "openssl smime -decrypt -provider legacy -provider default -binary -inform DER -in " +
                        dir.file("env.der") + " -recip " + fx("enc.pem") + " -inkey " + fx("enc.key.pem")) ==
                    kData);
    }
    const std::string envelope = base64Of(tqtest::shBytes(
        "openssl smime -encrypt -des3 -binary -outform DER -in " + dir.file("data") + " " + fx("enc.pem")));
    OutBytes plain;
    uint64_t length = 0;
    ASSERT_EQ(TQCrypt_CertDecrypt(text("enc.pem").c_str(), text("enc.key.pem").c_str(), nullptr,
                                  envelope.c_str(), 0, 0x20, &plain, &length),
              TQ_RTN_OK);
    EXPECT_TRUE(Bytes(plain.p, plain.p + length) == kData);
    // The length pointer is optional; the wrong key decrypts nothing.
    ASSERT_EQ(TQCrypt_CertDecrypt(text("enc.pem").c_str(), text("enc.key.pem").c_str(), nullptr,
                                  envelope.c_str(), 0, 0, &plain, nullptr),
              TQ_RTN_OK);
    unsigned char *none = nullptr;
    EXPECT_NE(TQCrypt_CertDecrypt(text("enc.pem").c_str(), text("sign.key.pem").c_str(), nullptr,
                                  envelope.c_str(), 0, 0, &none, &length),
              TQ_RTN_OK);
    EXPECT_EQ(none, nullptr);
}

}  // namespace

// PKCS#12 one-calls over openssl's files, and the symmetric one-shots
// against openssl enc and openssl kdf.
#include <cstring>

#include "textapi_support.h"
#include "tqxcrypt_cipher.h"
#include "tqxcrypt_containers.h"

using namespace txtest;
using tqtest::hexBytes;
using tqtest::TempDir;

namespace {

const char *kPassword = "secret";

std::string field(const std::string &text, const std::string &name) {
    size_t at = text.find("\n" + name);
    if (at == std::string::npos) return "";
    at = text.find('=', at) + 1;
    std::string v = text.substr(at, text.find('\n', at) - at);
    while (!v.empty() && v.back() == ' ') v.pop_back();
    return v;
}

std::string stripped(std::string s) {
    std::string out;
    for (char c : s)
        if (std::isxdigit((unsigned char)c)) out += c;
    return out;
}

TEST(TextP12, CountsOverOpensslFiles) {
    for (const char *name : {"full.p12", "nokey.p12", "expired.p12"}) {
        SCOPED_TRACE(name);
        Bytes p12 = bytes(name);
        int count = -1;
        ASSERT_EQ(TQCrypt_P12GetUserCertificateCount(p12.data(), p12.size(), kPassword, &count), TQ_RTN_OK);
        tqtest::HandleOwner h;
        ASSERT_EQ(TQXCrypt_DecodeObject(h.out(), TQXCRYPT_KIND_PKCS12, p12.data(), p12.size(), 0, nullptr),
                  0);
        ASSERT_EQ(TQXCrypt_P12Unpack(h.get(), kPassword, 0), TQ_RTN_OK);
        int direct = -2;
        ASSERT_EQ(TQXCrypt_P12GetUserCertificateCount(h.get(), 0, &direct), TQ_RTN_OK);
        EXPECT_EQ(count, direct);
    }
    Bytes p12 = bytes("full.p12");
    int count = -1;
    EXPECT_EQ(TQCrypt_P12GetUserCertificateCount(p12.data(), p12.size(), kPassword, &count), TQ_RTN_OK);
    EXPECT_EQ(count, 1);
    EXPECT_NE(TQCrypt_P12GetUserCertificateCount(p12.data(), p12.size(), "wrong", &count), TQ_RTN_OK);
}

TEST(TextP12, SignWithTheFileKey) {
    TempDir dir;
    const Bytes data = tqtest::randomBytes(300, 9);
    tqtest::writeFile(dir.file("data"), data);
    Bytes p12 = bytes("full.p12");
    OutText sig;
    ASSERT_EQ(TQCrypt_P12Sign(p12.data(), p12.size(), kPassword, data.data(), data.size(), 0, 0, 4, &sig),
              TQ_RTN_OK);
    tqtest::writeFile(dir.file("m.der"), derOfBase64(dir, sig.str()));
    sh("openssl cms -verify -purpose any -binary -inform DER -in " + dir.file("m.der") + " -CAfile " +
       fx("ca.pem") + " -out " + dir.file("out"));
    EXPECT_TRUE(tqtest::readFile(dir.file("out")) == data);
    // Without a key: the key reader's code, and nothing handed out.
    Bytes nokey = bytes("nokey.p12");
    tqtest::HandleOwner h, key;
    ASSERT_EQ(TQXCrypt_DecodeObject(h.out(), TQXCRYPT_KIND_PKCS12, nokey.data(), nokey.size(), 0, nullptr),
              0);
    ASSERT_EQ(TQXCrypt_P12Unpack(h.get(), kPassword, 0), TQ_RTN_OK);
    const int keyCode = TQXCrypt_P12GetPrivateKey(h.get(), 0, 0, key.out());
    ASSERT_NE(keyCode, TQ_RTN_OK);
    char *none = nullptr;
    EXPECT_EQ(
        TQCrypt_P12Sign(nokey.data(), nokey.size(), kPassword, data.data(), data.size(), 0, 0, 4, &none),
        keyCode);
    EXPECT_EQ(none, nullptr);
    TQXCRYPT_BLOB blob{0, nullptr};
    EXPECT_EQ(TQCrypt_P12XGetUserCertificate(nokey.data(), nokey.size(), kPassword, &blob), keyCode);
    EXPECT_EQ(blob.data, nullptr);
    unsigned char *der = nullptr;
    uint64_t length = 0;
    EXPECT_EQ(TQCrypt_FiltrateP12(nokey.data(), nokey.size(), kPassword, &der, &length), keyCode);
    EXPECT_EQ(der, nullptr);
}

TEST(TextP12, FiltrateKeepsTheKeyAndUserCertificate) {
    TempDir dir;
    Bytes p12 = bytes("full.p12");
    ASSERT_NE(sh("openssl pkcs12 -nokeys -passin pass:secret -in " + fx("full.p12"))
                  .find("subject=C = TW, O = Orvane Test, CN = Text Root"),
              std::string::npos);
    OutBytes out;
    uint64_t length = 0;
    ASSERT_EQ(TQCrypt_FiltrateP12(p12.data(), p12.size(), kPassword, &out, &length), TQ_RTN_OK);
    tqtest::writeFile(dir.file("f.p12"), out.p, (size_t)length);
    const std::string certs = sh("openssl pkcs12 -nokeys -passin pass:secret -in " + dir.file("f.p12"));
    EXPECT_NE(certs.find("CN = Text Signer"), std::string::npos);
    EXPECT_EQ(certs.find("subject=C = TW, O = Orvane Test, CN = Text Root"), std::string::npos);
    size_t n = 0;
    for (size_t at = certs.find("BEGIN CERTIFICATE"); at != std::string::npos;
         at = certs.find("BEGIN CERTIFICATE", at + 1))
        ++n;
    EXPECT_EQ(n, 1u);
    const std::string keys =
        sh("openssl pkcs12 -nocerts -nodes -passin pass:secret -in " + dir.file("f.p12"));
    tqtest::writeFile(dir.file("k.pem"), keys);
    EXPECT_EQ(sh("openssl pkey -pubout -in " + dir.file("k.pem")),
              sh("openssl x509 -noout -pubkey -in " + fx("sign.pem")));
}

TEST(TextP12, UserCertificateByTheBlobRule) {
    TempDir dir;
    Bytes p12 = bytes("full.p12");
    const Bytes signDer = tqtest::shBytes("openssl x509 -outform DER -in " + fx("sign.pem"));
    tqtest::BlobOwner mine;
    ASSERT_EQ(TQCrypt_P12XGetUserCertificate(p12.data(), p12.size(), kPassword, &mine), TQ_RTN_OK);
    const std::string b64 = mine.text();
    EXPECT_TRUE(derOfBase64(dir, b64) == signDer);
    EXPECT_EQ(b64.back(), '\n');
    // A caller's buffer: too small gives the needed length, large enough a copy.
    std::vector<unsigned char> room(b64.size() - 1);
    TQXCRYPT_BLOB small{room.size(), room.data()};
    EXPECT_EQ(TQCrypt_P12XGetUserCertificate(p12.data(), p12.size(), kPassword, &small),
              TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(small.length, b64.size());
    room.assign(b64.size() + 8, 0);
    TQXCRYPT_BLOB big{room.size(), room.data()};
    ASSERT_EQ(TQCrypt_P12XGetUserCertificate(p12.data(), p12.size(), kPassword, &big), TQ_RTN_OK);
    EXPECT_EQ(big.length, b64.size());
    EXPECT_EQ(std::string((char *)room.data(), b64.size()), b64);
}

TEST(TextP12, CheckPfxAppliesTheRuleOnly) {
    Bytes expired = bytes("expired.p12"), full = bytes("full.p12");
    ASSERT_NE(sh("openssl x509 -noout -checkend 0 -in " + fx("expired.pem"), 1).find("will expire"),
              std::string::npos);
    const tqtest::CodeCase cases[] = {
        {"expired, rule met",
         TQCrypt_CheckPFX(expired.data(), expired.size(), kPassword, "CN=Expired User", 0, 0), TQ_RTN_OK},
        {"rule not met", TQCrypt_CheckPFX(full.data(), full.size(), kPassword, "CN=Somebody", 0, 0),
         TQ_RTN_CERT_REJECTED},
        {"no rule", TQCrypt_CheckPFX(full.data(), full.size(), kPassword, nullptr, 0, 0), TQ_RTN_OK},
        {"wrong password", TQCrypt_CheckPFX(full.data(), full.size(), "nope", nullptr, 0, 0),
         TQ_RTN_P12_BAD_MAC},
    };
    tqtest::expectCodes(cases);
}

// openssl enc over a file with a raw key and IV.
Bytes opensslEnc(const TempDir &dir, const std::string &cipher, const Bytes &key, const Bytes &iv,
                 const Bytes &in, bool decrypt, bool nopad) {
    tqtest::writeFile(dir.file("in"), in);
    return tqtest::shBytes("openssl enc -" + cipher + " -provider legacy -provider default" +
                           (decrypt ? " -d" : "") + (nopad ? " -nopad" : "") + " -K " + tqtest::toHex(key) +
                           " -iv " + tqtest::toHex(iv) + " -in " + dir.file("in"));
}

struct PasswordCase {
    const char *what;
    int algorithm, flags;
    const char *peer;
    size_t keyLength, ivLength;
    bool pbkdf2;
};

TEST(TextSymmetric, PasswordOneShotsAgainstOpenssl) {
    TempDir dir;
    const char *password = "pass phrase";
    const Bytes salt = hexBytes("0102030405060708");
    const int iterations = 1000;
    const PasswordCase cases[] = {
        {"AES-128 PBKDF2", TQXCRYPT_ALG_AES128, TQXCRYPT_KDF_PBKDF2 | TQXCRYPT_MODE_CBC, "aes-128-cbc", 16,
         16, true},
        {"AES-256 PBKDF2", TQXCRYPT_ALG_AES256, TQXCRYPT_KDF_PBKDF2 | TQXCRYPT_MODE_CBC, "aes-256-cbc", 32,
         16, true},
        {"DES PBKDF1 SHA-1", TQXCRYPT_ALG_DES, TQXCRYPT_KDF_PBKDF1 | TQXCRYPT_MODE_CBC | 2, "des-cbc", 8, 8,
         false},
    };
    const Bytes plain = tqtest::randomBytes(32, 21);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes key, iv;
        if (c.pbkdf2) {
            std::string p = sh(std::string("openssl enc -") + c.peer + " -pbkdf2 -md sha1 -iter " +
                               std::to_string(iterations) + " -S " + tqtest::toHex(salt) +
                               " -pass 'pass:" + password + "' -P");
            key = hexBytes(field(p, "key"));
            iv = hexBytes(field(p, "iv"));
        } else {
            Bytes both = hexBytes(stripped(sh("openssl kdf -provider legacy -provider default -keylen " +
                                              std::to_string(c.keyLength + c.ivLength) +
                                              " -kdfopt digest:SHA1 -kdfopt 'pass:" + password +
                                              "' -kdfopt hexsalt:" + tqtest::toHex(salt) +
                                              " -kdfopt iter:" + std::to_string(iterations) + " PBKDF1")));
            key.assign(both.begin(), both.begin() + c.keyLength);
            iv.assign(both.begin() + c.keyLength, both.end());
        }
        ASSERT_EQ(key.size(), c.keyLength);
        OutBytes cipher;
        uint64_t length = 0;
        ASSERT_EQ(
            TQCrypt_SymmetricEncrypt(password, plain.data(), plain.size(), salt.data(), (int)salt.size(),
                                     iterations, nullptr, c.algorithm, c.flags, &cipher, &length),
            TQ_RTN_OK);
        const Bytes expected = opensslEnc(dir, c.peer, key, iv, plain, false, false);
        EXPECT_EQ(length, expected.size());
        EXPECT_TRUE(Bytes(cipher.p, cipher.p + length) == expected);
        OutBytes back;
        uint64_t backLength = 0;
        ASSERT_EQ(TQCrypt_SymmetricDecrypt(password, expected.data(), expected.size(), salt.data(),
                                           (int)salt.size(), iterations, nullptr, c.algorithm, c.flags, &back,
                                           &backLength),
                  TQ_RTN_OK);
        ASSERT_EQ(backLength, plain.size());
        EXPECT_TRUE(Bytes(back.p, back.p + backLength) == plain);
        EXPECT_EQ(back.p[backLength], 0);
        // A bad last block: the update's bytes (all but the last block) and 5064.
        Bytes broken = expected;
        broken.back() ^= 0x5A;
        const size_t block = c.ivLength;
        ASSERT_EQ(
            TQCrypt_SymmetricDecrypt(password, broken.data(), broken.size(), salt.data(), (int)salt.size(),
                                     iterations, nullptr, c.algorithm, c.flags, &back, &backLength),
            TQ_RTN_DECRYPT_FAILED);
        ASSERT_NE(back.p, nullptr);
        ASSERT_EQ(backLength, broken.size() - block);
        EXPECT_TRUE(Bytes(back.p, back.p + backLength) == Bytes(plain.begin(), plain.begin() + backLength));
        EXPECT_EQ(back.p[backLength], 0);
    }
}

TEST(TextSymmetric, RawKeyOneShotsWithAndWithoutPadding) {
    TempDir dir;
    const Bytes key = tqtest::randomBytes(24, 1), iv = tqtest::randomBytes(8, 2),
                plain = tqtest::randomBytes(64, 3);
    for (int padding : {0, TQXCRYPT_NO_PADDING}) {
        SCOPED_TRACE(padding);
        OutBytes cipher, back;
        uint64_t length = 0, backLength = 0;
        ASSERT_EQ(TQCrypt_SymmetricEncryptEx(TQXCRYPT_ALG_DES3, plain.data(), plain.size(), key.data(), 24,
                                             iv.data(), 8, TQXCRYPT_MODE_CBC, padding, &cipher, &length),
                  TQ_RTN_OK);
        const Bytes expected = opensslEnc(dir, "des-ede3-cbc", key, iv, plain, false, padding != 0);
        EXPECT_TRUE(Bytes(cipher.p, cipher.p + length) == expected);
        EXPECT_EQ(length, plain.size() + (padding ? 0 : 8));
        ASSERT_EQ(
            TQCrypt_SymmetricDecryptEx(TQXCRYPT_ALG_DES3, expected.data(), expected.size(), key.data(), 24,
                                       iv.data(), 8, TQXCRYPT_MODE_CBC, padding, &back, &backLength),
            TQ_RTN_OK);
        EXPECT_TRUE(Bytes(back.p, back.p + backLength) == plain);
    }
    // Without padding an incomplete block cannot be encrypted: nothing handed out.
    unsigned char *none = nullptr;
    uint64_t length = 7;
    EXPECT_NE(TQCrypt_SymmetricEncryptEx(TQXCRYPT_ALG_DES3, plain.data(), 33, key.data(), 24, iv.data(), 8,
                                         TQXCRYPT_MODE_CBC, TQXCRYPT_NO_PADDING, &none, &length),
              TQ_RTN_OK);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(length, 7u);
}

}  // namespace

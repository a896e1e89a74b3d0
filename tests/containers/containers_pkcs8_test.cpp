// PKCS#8: conversions equal openssl's, our encryption opens in openssl with
// the identifier, salt and count given, openssl's PBES1 and PBES2 open in
// ours, and every wrong password is 5064.
#include <gtest/gtest.h>

#include <openssl/x509.h>

#include "containers_testutil.h"
#include "tqxcrypt.h"

using namespace containertest;
using tqtest::encoded;
using tqtest::HandleOwner;

namespace {

HandleOwner &decoded(HandleOwner &h, int kind, const Bytes &der) {
    EXPECT_EQ(TQXCrypt_DecodeObject(h.out(), kind, der.data(), der.size(), 0, nullptr), TQ_RTN_OK);
    return h;
}

TEST(ContainersPkcs8, ConversionsEqualOpenssl) {
    HandleOwner key, info, back;
    decoded(key, TQXCRYPT_KIND_PRIVATEKEY, fxBytes("user.rsa.der"));
    ASSERT_EQ(TQXCrypt_PrivateKeyToPKCS8Info(key.get(), 0, info.out()), TQ_RTN_OK);
    EXPECT_EQ(info.get()->asn1Method, tqxCryptASN1PKCS8InfoMethod());
    EXPECT_EQ(encoded(info.get(), TQXCRYPT_KIND_PKCS8INFO), fxBytes("user.p8info.der"));

    HandleOwner opensslInfo;
    decoded(opensslInfo, TQXCRYPT_KIND_PKCS8INFO, fxBytes("user.p8info.der"));
    ASSERT_EQ(TQXCrypt_PKCS8InfoToPrivateKey(opensslInfo.get(), 0, back.out()), TQ_RTN_OK);
    EXPECT_EQ(back.get()->extra, tqxCryptRSAPriMethod());
    EXPECT_EQ(encoded(back.get(), TQXCRYPT_KIND_PRIVATEKEY), fxBytes("user.rsa.der"));
}

TEST(ContainersPkcs8, OurEncryptionOpensInOpenssl) {
    HandleOwner info, sealed;
    decoded(info, TQXCRYPT_KIND_PKCS8INFO, fxBytes("user.p8info.der"));
    const Bytes salt = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18};
    ASSERT_EQ(TQXCrypt_PKCS8Encrypt(info.get(), "pass word", salt.data(), 8, 1234, 0, sealed.out()),
              TQ_RTN_OK);
    EXPECT_EQ(sealed.get()->asn1Method, tqxCryptASN1PKCS8Method());
    tqtest::TempDir dir;
    tqtest::writeFile(dir.file("ours.p8"), encoded(sealed.get(), TQXCRYPT_KIND_PKCS8));
    std::string parsed = sh("openssl asn1parse -inform DER -in " + dir.file("ours.p8"));
    EXPECT_NE(parsed.find(":pbeWithSHA1AndDES-CBC"), std::string::npos) << parsed;
    EXPECT_NE(parsed.find("[HEX DUMP]:A1B2C3D4E5F60718"), std::string::npos) << parsed;
    EXPECT_NE(parsed.find("INTEGER           :04D2"), std::string::npos) << parsed;
    sh("openssl pkcs8 -provider legacy -provider default -inform DER -in " + dir.file("ours.p8") +
       " -passin 'pass:pass word' -traditional -outform DER -out " + dir.file("key.der"));
    EXPECT_EQ(tqtest::readFile(dir.file("key.der")), fxBytes("user.rsa.der"));

    // And in ours, with the same password.
    HandleOwner opened;
    ASSERT_EQ(TQXCrypt_PKCS8Decrypt(sealed.get(), "pass word", 0, opened.out()), TQ_RTN_OK);
    EXPECT_EQ(encoded(opened.get(), TQXCRYPT_KIND_PKCS8INFO), fxBytes("user.p8info.der"));
}

TEST(ContainersPkcs8, OpensslPbes1AndPbes2OpenInOurs) {
    for (const char *name :
         {"pbes1.3des.p8.der", "pbes1.des.p8.der", "pbes2.aes.p8.der", "pbes2.des3.p8.der"}) {
        SCOPED_TRACE(name);
        HandleOwner sealed, opened, key;
        decoded(sealed, TQXCRYPT_KIND_PKCS8, fxBytes(name));
        ASSERT_EQ(TQXCrypt_PKCS8Decrypt(sealed.get(), "secret", 0, opened.out()), TQ_RTN_OK);
        EXPECT_EQ(encoded(opened.get(), TQXCRYPT_KIND_PKCS8INFO), fxBytes("user.p8info.der"));
        EXPECT_EQ(TQXCrypt_PKCS8Decrypt(sealed.get(), "wrong", 0, opened.out()), TQ_RTN_DECRYPT_FAILED);
        EXPECT_EQ(opened.get(), nullptr);
    }
}

// Some wrong passwords decrypt to padding that looks valid and fail only as
// key info; every one of them is a wrong password all the same.
TEST(ContainersPkcs8, EveryWrongPasswordIs5064) {
    HandleOwner info, sealed;
    decoded(info, TQXCRYPT_KIND_PKCS8INFO, fxBytes("user.p8info.der"));
    const Bytes salt(8, 0x11);
    ASSERT_EQ(TQXCrypt_PKCS8Encrypt(info.get(), "right", salt.data(), 8, 1, 0, sealed.out()), TQ_RTN_OK);
    for (int i = 0; i < 1500; ++i) {
        HandleOwner opened;
        const std::string wrong = "wrong " + std::to_string(i);
        ASSERT_EQ(TQXCrypt_PKCS8Decrypt(sealed.get(), wrong.c_str(), 0, opened.out()), TQ_RTN_DECRYPT_FAILED)
            << wrong;
    }
}

TEST(ContainersPkcs8, Codes) {
    HandleOwner key, info, sealed, other, out;
    decoded(key, TQXCRYPT_KIND_PRIVATEKEY, fxBytes("user.rsa.der"));
    decoded(info, TQXCRYPT_KIND_PKCS8INFO, fxBytes("user.p8info.der"));
    decoded(sealed, TQXCRYPT_KIND_PKCS8, fxBytes("pbes2.aes.p8.der"));
    decoded(other, TQXCRYPT_KIND_CERTIFICATE, fxBytes("user.der"));
    const unsigned char salt[8] = {0};
    EXPECT_EQ(TQXCrypt_PKCS8InfoToPrivateKey(key.get(), 0, out.out()), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_PKCS8InfoToPrivateKey(nullptr, 0, out.out()), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_PKCS8InfoToPrivateKey(info.get(), 0, nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_PrivateKeyToPKCS8Info(info.get(), 0, out.out()), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_PrivateKeyToPKCS8Info(key.get(), 0, nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_PKCS8Encrypt(sealed.get(), "pw", salt, 8, 10, 0, out.out()), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_PKCS8Encrypt(info.get(), "pw", nullptr, 8, 10, 0, out.out()), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_PKCS8Encrypt(info.get(), "pw", salt, -1, 10, 0, out.out()), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_PKCS8Encrypt(info.get(), "pw", salt, 8, 10, 0, nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_PKCS8Decrypt(info.get(), "pw", 0, out.out()), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_PKCS8Decrypt(other.get(), "pw", 0, out.out()), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_PKCS8Decrypt(sealed.get(), "pw", 0, nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(out.get(), nullptr);
    // A key info that holds no key the library knows does not convert.
    Bytes bogus =
        der::seq({der::integer(Bytes{0}), der::seq({der::oid("1.2.3.4")}), der::tlv(0x04, Bytes(4, 1))});
    HandleOwner strange;
    decoded(strange, TQXCRYPT_KIND_PKCS8INFO, bogus);
    EXPECT_EQ(TQXCrypt_PKCS8InfoToPrivateKey(strange.get(), 0, out.out()), TQ_RTN_FAILED);
    // No salt given: the library chooses one; no password is the empty one.
    HandleOwner chosen, opened;
    ASSERT_EQ(TQXCrypt_PKCS8Encrypt(info.get(), nullptr, nullptr, 0, 0, 0, chosen.out()), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_PKCS8Decrypt(chosen.get(), "", 0, opened.out()), TQ_RTN_OK);
}

}  // namespace

// Key generation and the cryptography the token runs, checked against the
// openssl tool and pkcs11-tool. What SoftHSM2 lacks (RC4 and recovering with
// a public key) goes through the shim, which emulates those operations.
#include <gtest/gtest.h>

#include <string>

#include "shim_state.h"
#include "softtoken.h"
#include "tqxp11crypto.h"

namespace {

using p11test::bytesOf;
using p11test::describe;
using tqtest::Bytes;

const char *kOpenssl = "openssl";

Bytes bytes(const std::string &s) { return Bytes(s.begin(), s.end()); }

class p11Crypto : public p11test::LoggedIn {
protected:
    // A file of the test's own directory holding these bytes.
    std::string file(const std::string &name, const Bytes &content) {
        std::string path = token.file(name);
        tqtest::writeFile(path, content);
        return path;
    }
    Bytes openssl(const std::string &arguments) {
        int status = -1;
        std::string out = tqtest::run(std::string(kOpenssl) + " " + arguments, &status);
        EXPECT_EQ(status, 0) << arguments;
        return bytes(out);
    }
    void importUserKey(const std::string &label) {
        int status = -1;
        std::string log =
            token.util("--import '" + tqtest::fixture("objects/user.key.pem") + "' --token '" +
                           token.label() + "' --label '" + label + "' --id 01 --pin " + token.userPin(),
                       &status);
        ASSERT_EQ(status, 0) << log;
    }
    Bytes rsa(bool encrypt, TQXP11_OBJECT *key, const Bytes &in) {
        Bytes out(512);
        CK_ULONG length = out.size();
        int rc = encrypt ? TQXP11_Encrypt(&session, key, in.data(), in.size(), out.data(), &length)
                         : TQXP11_Decrypt(&session, key, in.data(), in.size(), out.data(), &length);
        EXPECT_EQ(rc, TQP11_RTN_OK);
        out.resize(rc == TQP11_RTN_OK ? length : 0);
        return out;
    }
    bool flag(CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_TYPE type) {
        CK_BBOOL v = 2;
        CK_ATTRIBUTE a = {type, &v, 1};
        EXPECT_EQ(context.module->C_GetAttributeValue(session.sessionHandle, handle, &a, 1), CKR_OK);
        return v == CK_TRUE;
    }
    // Runs a whole symmetric operation in two updates and the final step.
    Bytes cipher(bool encrypt, CK_ULONG mode, TQXP11_OBJECT *key, const Bytes &in,
                 int expected = TQP11_RTN_OK) {
        int rc = encrypt ? TQXP11_EncryptInit(&session, mode, key) : TQXP11_DecryptInit(&session, mode, key);
        EXPECT_EQ(rc, expected);
        if (rc != TQP11_RTN_OK) return {};
        Bytes out(in.size() + 32);
        size_t half = in.size() / 2, used = 0;
        for (auto part :
             {std::make_pair(in.data(), half), std::make_pair(in.data() + half, in.size() - half)}) {
            CK_ULONG n = out.size() - used;
            rc = encrypt ? TQXP11_EncryptUpdate(&session, part.first, part.second, out.data() + used, &n)
                         : TQXP11_DecryptUpdate(&session, part.first, part.second, out.data() + used, &n);
            EXPECT_EQ(rc, TQP11_RTN_OK);
            used += n;
        }
        CK_ULONG n = out.size() - used;
        rc = encrypt ? TQXP11_EncryptFinal(&session, out.data() + used, &n)
                     : TQXP11_DecryptFinal(&session, out.data() + used, &n);
        EXPECT_EQ(rc, TQP11_RTN_OK);
        out.resize(used + n);
        return out;
    }
};

class p11ShimCrypto : public p11Crypto {
protected:
    const char *module() const override { return TQ_SHIM_MODULE; }
};

TEST_F(p11Crypto, GeneratedKeyPairSignsForTheOpensslTool) {
    Bytes id = {0x4B};
    TQXP11_VALUE pubValue{}, priValue{};
    pubValue.rsaPublic.id = {id.data(), id.size()};
    pubValue.rsaPublic.modulusBits = 2048;
    priValue.rsaPrivate.id = {id.data(), id.size()};
    TQXP11_OBJECT pub = describe("pair", TQXP11_KIND_RSA_PUBLIC, false, &pubValue);
    TQXP11_OBJECT pri = describe("pair", TQXP11_KIND_RSA_PRIVATE, true, &priValue);
    ASSERT_EQ(
        TQXP11_GenerateKeyPairObject(&session, &pub, &pri, TQXP11_WRAP | TQXP11_UNWRAP | TQXP11_SENSITIVE),
        TQP11_RTN_OK);
    EXPECT_NE(pub.handle, 0u);
    EXPECT_NE(pri.handle, 0u);
    std::string listing = peer("-O");
    for (const char *expected :
         {"Public Key Object; RSA 2048 bits", "Usage:      encrypt, verify, wrap",
          "Usage:      decrypt, sign, unwrap", "Access:     sensitive", "ID:         4b"})
        EXPECT_NE(listing.find(expected), std::string::npos) << expected << "\n" << listing;
    Bytes exponent(3);
    CK_ATTRIBUTE e = {CKA_PUBLIC_EXPONENT, exponent.data(), exponent.size()};
    ASSERT_EQ(context.module->C_GetAttributeValue(session.sessionHandle, pub.handle, &e, 1), CKR_OK);
    EXPECT_EQ(exponent, Bytes({1, 0, 1}));

    // A SHA-256 DigestInfo signed on the token verifies with the public key pkcs11-tool reads.
    std::string pubDer = token.file("pub.der");
    peer("--read-object --type pubkey --label pair -o '" + pubDer + "'");
    std::string data = file("data.txt", bytes("signed on the token\n"));
    Bytes digestInfo = openssl("dgst -sha256 -binary '" + data + "'");
    const unsigned char prefix[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                    0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    digestInfo.insert(digestInfo.begin(), prefix, prefix + sizeof prefix);
    Bytes signature = rsa(true, &pri, digestInfo);
    ASSERT_EQ(signature.size(), 256u);
    std::string sig = file("sig.bin", signature);
    openssl("dgst -sha256 -keyform DER -verify '" + pubDer + "' -signature '" + sig + "' '" + data + "'");
    EXPECT_EQ(openssl("pkeyutl -verifyrecover -pubin -keyform DER -inkey '" + pubDer + "' -in '" + sig + "'"),
              digestInfo);

    // The labels are taken now: nothing is generated.
    TQXP11_OBJECT pub2 = describe("pair", TQXP11_KIND_RSA_PUBLIC, false, &pubValue);
    TQXP11_OBJECT pri2 = describe("other", TQXP11_KIND_RSA_PRIVATE, true, &priValue);
    EXPECT_EQ(TQXP11_GenerateKeyPairObject(&session, &pub2, &pri2, 0), TQP11_RTN_OBJECT_EXIST);
    EXPECT_EQ(TQXP11_GenerateKeyPairObject(&session, &pri2, &pub2, 0), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
}

TEST_F(p11ShimCrypto, KeyPairIsAskedOnceMoreAsANeverLeavingKey) {
    TQXP11_VALUE pubValue{};
    pubValue.rsaPublic.modulusBits = 1024;
    TQXP11_OBJECT pub = describe("retry", TQXP11_KIND_RSA_PUBLIC, false, &pubValue);
    TQXP11_OBJECT pri = describe("retry", TQXP11_KIND_RSA_PRIVATE, true);
    shim::state().injections["C_GenerateKeyPair"] = {CKR_ATTRIBUTE_VALUE_INVALID, 0, 1};
    ASSERT_EQ(
        TQXP11_GenerateKeyPairObject(&session, &pub, &pri, TQXP11_WRAP | TQXP11_UNWRAP | TQXP11_EXTRACTABLE),
        TQP11_RTN_OK);
    EXPECT_EQ(shim::calls("C_GenerateKeyPair"), 2);
    EXPECT_FALSE(flag(pub.handle, CKA_WRAP));
    EXPECT_FALSE(flag(pri.handle, CKA_UNWRAP));
    EXPECT_TRUE(flag(pri.handle, CKA_SENSITIVE));
    EXPECT_FALSE(flag(pri.handle, CKA_EXTRACTABLE));

    TQXP11_OBJECT pub2 = describe("twice", TQXP11_KIND_RSA_PUBLIC, false, &pubValue);
    TQXP11_OBJECT pri2 = describe("twice", TQXP11_KIND_RSA_PRIVATE, true);
    shim::state().injections["C_GenerateKeyPair"] = {CKR_ATTRIBUTE_VALUE_INVALID, 0, 2};
    EXPECT_EQ(TQXP11_GenerateKeyPairObject(&session, &pub2, &pri2, 0xF0000),
              TQP11_RTN_ATTRIBUTE_VALUE_INVALID);
    ASSERT_EQ(shim::state().keyPairTemplateSizes.size(), 4u);
    EXPECT_EQ(shim::state().keyPairTemplateSizes[0], std::make_pair(CK_ULONG(10), CK_ULONG(10)));
    EXPECT_EQ(shim::state().keyPairTemplateSizes[3], std::make_pair(CK_ULONG(9), CK_ULONG(7)));

    shim::state().calls.clear();
    EXPECT_EQ(TQXP11_GenerateKeyPairObject(&session, &pub, &pri, 0), TQP11_RTN_OBJECT_EXIST);
    EXPECT_EQ(shim::calls("C_GenerateKeyPair"), 0);
}

TEST_F(p11ShimCrypto, GenerationAndUnwrapTemplatesInTheirOrder) {
    using Types = std::vector<CK_ATTRIBUTE_TYPE>;
    Bytes id = {0x61};
    TQXP11_VALUE withId{};
    withId.first = {id.data(), id.size()};
    TQXP11_VALUE pubValue{};
    pubValue.rsaPublic.modulusBits = 1024;
    TQXP11_OBJECT pub = describe("pair order", TQXP11_KIND_RSA_PUBLIC, false, &pubValue);
    TQXP11_OBJECT pri = describe("pair order", TQXP11_KIND_RSA_PRIVATE, true, &withId);
    ASSERT_EQ(TQXP11_GenerateKeyPairObject(&session, &pub, &pri, TQXP11_WRAP | TQXP11_SENSITIVE),
              TQP11_RTN_OK);
    const shim::State::Template &pubT = shim::lastTemplate("C_GenerateKeyPair", 1);
    const shim::State::Template &priT = shim::lastTemplate("C_GenerateKeyPair");
    EXPECT_EQ(pubT.types, (Types{CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_ID, CKA_ENCRYPT, CKA_VERIFY,
                                 CKA_VERIFY_RECOVER, CKA_MODULUS_BITS, CKA_PUBLIC_EXPONENT, CKA_WRAP}));
    EXPECT_EQ(priT.types, (Types{CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_ID, CKA_DECRYPT, CKA_SIGN,
                                 CKA_SIGN_RECOVER, CKA_UNWRAP, CKA_SENSITIVE, CKA_EXTRACTABLE}));
    EXPECT_EQ(pubT.value(CKA_PUBLIC_EXPONENT), Bytes({1, 0, 1}));
    EXPECT_EQ(priT.value(CKA_ID), id);
    EXPECT_EQ(priT.value(CKA_SENSITIVE), Bytes({CK_TRUE}));
    EXPECT_EQ(priT.value(CKA_UNWRAP), Bytes({CK_FALSE}));

    const Types des = {CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_ID,     CKA_ENCRYPT,   CKA_DECRYPT,
                       CKA_WRAP,  CKA_UNWRAP,  CKA_SIGN,  CKA_VERIFY, CKA_SENSITIVE, CKA_EXTRACTABLE};
    Types rc4 = des;
    rc4.insert(rc4.begin() + 10, CKA_VALUE_LEN);
    const Types aes = {CKA_CLASS,    CKA_TOKEN,     CKA_PRIVATE, CKA_LABEL,       CKA_ID,
                       CKA_KEY_TYPE, CKA_SENSITIVE, CKA_ENCRYPT, CKA_DECRYPT,     CKA_SIGN,
                       CKA_VERIFY,   CKA_WRAP,      CKA_UNWRAP,  CKA_EXTRACTABLE, CKA_VALUE_LEN};
    const struct {
        const char *label;
        CK_ULONG kind;
        Types expected;
    } generated[] = {{"gen des", TQXP11_KIND_DES, des},
                     {"gen rc4", TQXP11_KIND_RC4, rc4},
                     {"gen aes", TQXP11_KIND_AES, aes}};
    for (const auto &g : generated) {
        SCOPED_TRACE(g.label);
        TQXP11_OBJECT key = describe(g.label, g.kind, false);
        ASSERT_EQ(TQXP11_GenerateKeyObject(&session, &key, TQXP11_WRAP | TQXP11_UNWRAP), TQP11_RTN_OK);
        EXPECT_EQ(shim::lastTemplate("C_GenerateKey").types, g.expected);
    }

    // The unwrap templates reach the module whatever it then makes of the data.
    TQXP11_OBJECT wrapper = describe("gen aes", TQXP11_KIND_AES, false);
    Bytes junk(32, 0x5A);
    TQXP11_OBJECT secret = describe("unwrapped secret", TQXP11_KIND_DES3, false, &withId);
    TQXP11_Unwrap(&session, &wrapper, junk.data(), junk.size(), &secret, TQXP11_SENSITIVE,
                  TQXP11_MODE_AES_ECB);
    const shim::State::Template &secretT = shim::lastTemplate("C_UnwrapKey");
    EXPECT_EQ(secretT.types,
              (Types{CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_KEY_TYPE, CKA_ID, CKA_ENCRYPT,
                     CKA_DECRYPT, CKA_SENSITIVE, CKA_EXTRACTABLE, CKA_UNWRAP, CKA_WRAP}));
    EXPECT_EQ(secretT.value(CKA_ID), id);
    EXPECT_EQ(secretT.value(CKA_EXTRACTABLE), Bytes({CK_TRUE}));
    TQXP11_OBJECT privateKey = describe("unwrapped private", TQXP11_KIND_RSA_PRIVATE, true, &withId);
    TQXP11_Unwrap(&session, &wrapper, junk.data(), junk.size(), &privateKey, 0, TQXP11_MODE_AES_ECB);
    const shim::State::Template &privateT = shim::lastTemplate("C_UnwrapKey");
    EXPECT_EQ(privateT.types,
              (Types{CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_LABEL, CKA_KEY_TYPE, CKA_ID, CKA_SENSITIVE,
                     CKA_EXTRACTABLE, CKA_DECRYPT, CKA_SIGN, CKA_UNWRAP, CKA_SIGN_RECOVER}));
    EXPECT_EQ(privateT.value(CKA_PRIVATE), Bytes({CK_TRUE}));
    EXPECT_EQ(privateT.value(CKA_EXTRACTABLE), Bytes({CK_FALSE}));
}

TEST_F(p11Crypto, SecretKeysAreGeneratedAndRunEveryMode) {
    struct Case {
        CK_ULONG kind;
        const char *listed;
        size_t length;
        size_t block;
        CK_ULONG ecb;
        const char *cipher;  // the openssl tool's name, without the mode
    } cases[] = {{TQXP11_KIND_DES, "DES", 8, 8, TQXP11_MODE_DES_ECB, "des"},
                 {TQXP11_KIND_DES2, "unknown key algorithm 20", 16, 8, TQXP11_MODE_DES3_ECB, "des-ede"},
                 {TQXP11_KIND_DES3, "DES3", 24, 8, TQXP11_MODE_DES3_ECB, "des-ede3"},
                 {TQXP11_KIND_AES, "AES length 32", 32, 16, TQXP11_MODE_AES_ECB, "aes-256"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.listed);
        Bytes iv = tqtest::randomBytes(c.block, 3);
        TQXP11_VALUE value{};
        value.secret.iv = {iv.data(), iv.size()};
        std::string label = std::string("gen ") + c.listed;
        TQXP11_OBJECT key = describe(label, c.kind, false, &value);
        ASSERT_EQ(TQXP11_GenerateKeyObject(&session, &key, TQXP11_EXTRACTABLE | TQXP11_WRAP), TQP11_RTN_OK);
        EXPECT_EQ(TQXP11_GenerateKeyObject(&session, &key, 0), TQP11_RTN_OBJECT_EXIST);
        std::string listing = peer("-O");
        EXPECT_NE(listing.find("Secret Key Object; " + std::string(c.listed) + "\n"), std::string::npos)
            << listing;

        TQXP11_OBJECT read = describe(label, c.kind, false);
        ASSERT_EQ(TQXP11_ReadObject(&session, &read), TQP11_RTN_OK);
        Bytes keyBytes = bytesOf(read.valueRecord->secret.value);
        TQXP11_FreeObject(&read);
        ASSERT_EQ(keyBytes.size(), c.length);

        const std::string legacy = c.kind == TQXP11_KIND_AES ? "" : "-provider legacy -provider default ";
        const std::string k = " -K " + tqtest::toHex(keyBytes);
        Bytes plain = tqtest::randomBytes(4 * c.block, 11);
        std::string in = file("plain.bin", plain);
        struct Mode {
            CK_ULONG mode;
            std::string options;
        } modes[] = {
            {c.ecb, "-" + std::string(c.cipher) + "-ecb -nopad" + k},
            {c.ecb + 1, "-" + std::string(c.cipher) + "-cbc -nopad" + k + " -iv " + tqtest::toHex(iv)},
            {c.ecb + 2, "-" + std::string(c.cipher) + "-cbc" + k + " -iv " + tqtest::toHex(iv)}};
        for (const Mode &m : modes) {
            SCOPED_TRACE(m.mode);
            Bytes expected = openssl("enc " + legacy + m.options + " -in '" + in + "'");
            Bytes encrypted = cipher(true, m.mode, &key, plain);
            EXPECT_EQ(encrypted, expected);
            EXPECT_EQ(cipher(false, m.mode, &key, encrypted), plain);
        }
        EXPECT_EQ(TQXP11_EncryptInit(&session, c.ecb ^ 0x70, &key), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(TQXP11_DecryptInit(&session, 0x999, &key), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    }
    TQXP11_OBJECT data = describe("data", TQXP11_KIND_DATA, false);
    EXPECT_EQ(TQXP11_GenerateKeyObject(&session, &data, 0), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
}

TEST_F(p11ShimCrypto, Rc4KeysThroughTheShim) {
    // RC4 generation takes the length given, or 16 bytes.
    Bytes five(5);
    TQXP11_VALUE value{};
    value.secret.value = {five.data(), five.size()};
    TQXP11_OBJECT sized = describe("rc4 five", TQXP11_KIND_RC4, false, &value);
    ASSERT_EQ(TQXP11_GenerateKeyObject(&session, &sized, TQXP11_EXTRACTABLE), TQP11_RTN_OK);
    TQXP11_OBJECT plain = describe("rc4 plain", TQXP11_KIND_RC4, false);
    ASSERT_EQ(TQXP11_GenerateKeyObject(&session, &plain, TQXP11_EXTRACTABLE), TQP11_RTN_OK);
    EXPECT_EQ(shim::state().rc4KeyLengths, (std::vector<CK_ULONG>{5, 16}));

    // A written RC4 key encrypts as the openssl tool does, whatever the mode code.
    Bytes keyBytes = tqtest::randomBytes(16, 21);
    TQXP11_VALUE written{};
    written.secret.value = {keyBytes.data(), keyBytes.size()};
    TQXP11_OBJECT key = describe("rc4 written", TQXP11_KIND_RC4, false, &written);
    ASSERT_EQ(TQXP11_WriteObject(&session, &key, TQXP11_EXTRACTABLE), TQP11_RTN_OK);
    Bytes data = tqtest::randomBytes(50, 22);
    Bytes expected = openssl("enc -provider legacy -provider default -rc4 -K " + tqtest::toHex(keyBytes) +
                             " -in '" + file("rc4.bin", data) + "'");
    Bytes encrypted = cipher(true, TQXP11_MODE_DES_ECB, &key, data);
    EXPECT_EQ(encrypted, expected);
    EXPECT_EQ(cipher(false, 0, &key, encrypted), data);
    TQXP11_OBJECT read = describe("rc4 written", TQXP11_KIND_RC4, false);
    ASSERT_EQ(TQXP11_ReadObject(&session, &read), TQP11_RTN_OK);
    EXPECT_EQ(bytesOf(read.valueRecord->secret.value), keyBytes);
    TQXP11_FreeObject(&read);
}

TEST_F(p11Crypto, DigestsAgreeWithTheOpensslTool) {
    Bytes data = tqtest::randomBytes(1000, 31);
    std::string in = file("digest.bin", data);
    struct Case {
        CK_ULONG code;
        const char *name;
    } cases[] = {{TQXP11_DIGEST_MD5, "md5"},       {TQXP11_DIGEST_SHA1, "sha1"},
                 {TQXP11_DIGEST_SHA224, "sha224"}, {TQXP11_DIGEST_SHA256, "sha256"},
                 {TQXP11_DIGEST_SHA384, "sha384"}, {TQXP11_DIGEST_SHA512, "sha512"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(TQXP11_DigestInit(&session, c.code), TQP11_RTN_OK);
        ASSERT_EQ(TQXP11_DigestUpdate(&session, data.data(), 300), TQP11_RTN_OK);
        ASSERT_EQ(TQXP11_DigestUpdate(&session, data.data() + 300, data.size() - 300), TQP11_RTN_OK);
        Bytes digest(64);
        CK_ULONG length = digest.size();
        ASSERT_EQ(TQXP11_DigestFinal(&session, digest.data(), &length), TQP11_RTN_OK);
        digest.resize(length);
        EXPECT_EQ(digest, openssl("dgst -" + std::string(c.name) + " -binary '" + in + "'"));
    }
    EXPECT_EQ(TQXP11_DigestInit(&session, 0x106), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(TQXP11_DigestInit(&session, 0xFF), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
}

TEST_F(p11Crypto, RsaRoundTripsWithTheOpensslTool) {
    importUserKey("user");
    TQXP11_OBJECT pub = describe("user", TQXP11_KIND_RSA_PUBLIC, false);
    TQXP11_OBJECT pri = describe("user", TQXP11_KIND_RSA_PRIVATE, true);
    Bytes message = bytes("a secret for the token");
    std::string key = tqtest::fixture("objects/user.key.pem");
    Bytes encrypted = rsa(true, &pub, message);
    EXPECT_EQ(openssl("pkeyutl -decrypt -inkey '" + key + "' -in '" + file("enc.bin", encrypted) + "'"),
              message);
    Bytes byTool = openssl("pkeyutl -encrypt -pubin -inkey '" + tqtest::fixture("objects/user.pub.pem") +
                           "' -in '" + file("msg.bin", message) + "'");
    EXPECT_EQ(rsa(false, &pri, byTool), message);

    // A private record needs a user logged in; nothing is searched before.
    ASSERT_EQ(TQXP11_Logout(&session), TQP11_RTN_OK);
    TQXP11_OBJECT fresh = describe("user", TQXP11_KIND_RSA_PRIVATE, true);
    Bytes out(256);
    CK_ULONG length = out.size();
    EXPECT_EQ(TQXP11_Encrypt(&session, &fresh, message.data(), message.size(), out.data(), &length),
              TQP11_RTN_USER_NOT_LOGGED_IN);
    EXPECT_EQ(fresh.handle, 0u);
    TQXP11_OBJECT data = describe("user", TQXP11_KIND_DATA, false);
    EXPECT_EQ(TQXP11_Encrypt(&session, &data, message.data(), message.size(), out.data(), &length),
              TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    TQXP11_OBJECT privateData = describe("user", TQXP11_KIND_DATA, true);
    EXPECT_EQ(TQXP11_Encrypt(&session, &privateData, message.data(), message.size(), out.data(), &length),
              TQP11_RTN_USER_NOT_LOGGED_IN);
}

TEST_F(p11ShimCrypto, PublicKeyRecoversWhatTheOpensslToolSigned) {
    importUserKey("user");
    Bytes message = bytes("recover me");
    Bytes signature = openssl("pkeyutl -sign -inkey '" + tqtest::fixture("objects/user.key.pem") + "' -in '" +
                              file("msg.bin", message) + "'");
    TQXP11_OBJECT pub = describe("user", TQXP11_KIND_RSA_PUBLIC, false);
    EXPECT_EQ(rsa(false, &pub, signature), message);
    EXPECT_EQ(shim::calls("C_VerifyRecover"), 1);
}

TEST_F(p11Crypto, WrapAndUnwrap) {
    // AES and triple-DES keys wrap an AES key in the modes SoftHSM2 offers for wrapping.
    Bytes iv = tqtest::randomBytes(16, 41);
    TQXP11_VALUE wrapperValue{};
    wrapperValue.secret.iv = {iv.data(), iv.size()};
    TQXP11_OBJECT aesWrapper = describe("aes wrapper", TQXP11_KIND_AES, false, &wrapperValue);
    ASSERT_EQ(TQXP11_GenerateKeyObject(&session, &aesWrapper, TQXP11_WRAP | TQXP11_UNWRAP), TQP11_RTN_OK);
    TQXP11_VALUE desIvValue{};
    desIvValue.secret.iv = {iv.data(), 8};
    TQXP11_OBJECT desWrapper = describe("des3 wrapper", TQXP11_KIND_DES3, false, &desIvValue);
    ASSERT_EQ(TQXP11_GenerateKeyObject(&session, &desWrapper, TQXP11_WRAP | TQXP11_UNWRAP), TQP11_RTN_OK);
    TQXP11_OBJECT secret = describe("to wrap", TQXP11_KIND_AES, false);
    ASSERT_EQ(TQXP11_GenerateKeyObject(&session, &secret, TQXP11_EXTRACTABLE), TQP11_RTN_OK);
    TQXP11_OBJECT original = describe("to wrap", TQXP11_KIND_AES, false);
    ASSERT_EQ(TQXP11_ReadObject(&session, &original), TQP11_RTN_OK);
    Bytes keyBytes = bytesOf(original.valueRecord->secret.value);
    TQXP11_FreeObject(&original);

    int wraps = 0;
    struct Case {
        TQXP11_OBJECT *wrapper;
        CK_ULONG mode;
    } cases[] = {{&aesWrapper, TQXP11_MODE_AES_ECB},     {&aesWrapper, TQXP11_MODE_AES_CBC},
                 {&aesWrapper, TQXP11_MODE_AES_CBC_PAD}, {&desWrapper, TQXP11_MODE_DES3_ECB},
                 {&desWrapper, TQXP11_MODE_DES3_CBC},    {&desWrapper, TQXP11_MODE_DES3_CBC_PAD}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        Bytes wrapped(256);
        CK_ULONG length = wrapped.size();
        int rc = TQXP11_Wrap(&session, c.wrapper, &secret, wrapped.data(), &length, c.mode);
        if (rc == TQP11_RTN_MECHANISM_INVALID) continue;  // not offered for wrapping
        ASSERT_EQ(rc, TQP11_RTN_OK);
        ++wraps;
        wrapped.resize(length);
        // The wrapped bytes are the key encrypted under the wrapper in that mode.
        EXPECT_EQ(cipher(false, c.mode, c.wrapper, wrapped), keyBytes);
        std::string label = "unwrapped " + std::to_string(c.mode);
        TQXP11_OBJECT fresh = describe(label, TQXP11_KIND_AES, false);
        rc = TQXP11_Unwrap(&session, c.wrapper, wrapped.data(), wrapped.size(), &fresh, 0, c.mode);
        if (rc == TQP11_RTN_MECHANISM_INVALID) continue;  // SoftHSM2 wraps in these modes only
        ASSERT_EQ(rc, TQP11_RTN_OK);
        TQXP11_OBJECT back = describe(label, TQXP11_KIND_AES, false);
        ASSERT_EQ(TQXP11_ReadObject(&session, &back), TQP11_RTN_OK);
        EXPECT_EQ(bytesOf(back.valueRecord->secret.value), keyBytes);
        TQXP11_FreeObject(&back);
        TQXP11_OBJECT taken = describe(label, TQXP11_KIND_AES, false);
        EXPECT_EQ(TQXP11_Unwrap(&session, c.wrapper, wrapped.data(), wrapped.size(), &taken, 0, c.mode),
                  TQP11_RTN_OBJECT_EXIST);
    }
    EXPECT_GE(wraps, 1);
    TQXP11_OBJECT &wrapper = aesWrapper;

    // RSA: the public key wraps, the private key of its label unwraps.
    importUserKey("rsa wrap");
    TQXP11_OBJECT rsaPublic = describe("rsa wrap", TQXP11_KIND_RSA_PUBLIC, false);
    Bytes wrapped(256);
    CK_ULONG length = wrapped.size();
    ASSERT_EQ(TQXP11_Wrap(&session, &rsaPublic, &secret, wrapped.data(), &length, 0), TQP11_RTN_OK);
    wrapped.resize(length);
    EXPECT_EQ(openssl("pkeyutl -decrypt -inkey '" + tqtest::fixture("objects/user.key.pem") + "' -in '" +
                      file("wrapped.bin", wrapped) + "'"),
              keyBytes);
    TQXP11_OBJECT unwrapper = describe("rsa wrap", TQXP11_KIND_RSA_PUBLIC, false);
    TQXP11_OBJECT fromRsa = describe("from rsa", TQXP11_KIND_AES, false);
    ASSERT_EQ(TQXP11_Unwrap(&session, &unwrapper, wrapped.data(), wrapped.size(), &fromRsa, 0, 0),
              TQP11_RTN_OK);
    TQXP11_OBJECT back = describe("from rsa", TQXP11_KIND_AES, false);
    ASSERT_EQ(TQXP11_ReadObject(&session, &back), TQP11_RTN_OK);
    EXPECT_EQ(bytesOf(back.valueRecord->secret.value), keyBytes);
    TQXP11_FreeObject(&back);

    TQXP11_OBJECT rc4 = describe("to wrap", TQXP11_KIND_RC4, false);
    EXPECT_EQ(TQXP11_Wrap(&session, &wrapper, &rc4, wrapped.data(), &length, TQXP11_MODE_AES_ECB),
              TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    TQXP11_OBJECT nowhere = describe("nowhere", TQXP11_KIND_AES, false);
    TQXP11_OBJECT again = describe("to wrap", TQXP11_KIND_AES, false);
    EXPECT_EQ(TQXP11_Wrap(&session, &nowhere, &again, wrapped.data(), &length, TQXP11_MODE_AES_ECB),
              TQP11_RTN_OBJECT_NOT_EXIST);
}

// Of the unwrapping mechanisms the mode codes name, SoftHSM2 has RSA PKCS#1;
// it takes an AES key's length from the data and refuses CKA_VALUE_LEN in the
// template whatever its value, so the template carries none.
TEST_F(p11Crypto, UnwrappedAesKeysTakeTheirLengthFromTheData) {
    importUserKey("rsa unwrap");
    TQXP11_OBJECT unwrapper = describe("rsa unwrap", TQXP11_KIND_RSA_PUBLIC, false);
    const Bytes plain = tqtest::randomBytes(48, 90);
    for (size_t length : {16, 24, 32}) {
        SCOPED_TRACE(length);
        const Bytes key = tqtest::randomBytes(length, static_cast<uint32_t>(length));
        const Bytes wrapped =
            openssl("pkeyutl -encrypt -certin -inkey '" + tqtest::fixture("objects/user.pem") + "' -in '" +
                    file("aes.bin", key) + "'");
        const std::string label = "unwrapped aes " + std::to_string(length);
        TQXP11_OBJECT fresh = describe(label, TQXP11_KIND_AES, false);
        ASSERT_EQ(TQXP11_Unwrap(&session, &unwrapper, wrapped.data(), wrapped.size(), &fresh, 0, 0),
                  TQP11_RTN_OK);
        TQXP11_OBJECT back = describe(label, TQXP11_KIND_AES, false);
        ASSERT_EQ(TQXP11_ReadObject(&session, &back), TQP11_RTN_OK);
        EXPECT_EQ(bytesOf(back.valueRecord->secret.value), key);
        TQXP11_FreeObject(&back);
        // The token ciphers with the key as the openssl tool does with its bytes.
        EXPECT_EQ(cipher(true, TQXP11_MODE_AES_ECB, &fresh, plain),
                  openssl("enc -aes-" + std::to_string(length * 8) + "-ecb -nopad -K " + tqtest::toHex(key) +
                          " -in '" + file("plain.bin", plain) + "'"));
    }
}

TEST_F(p11ShimCrypto, UnwrappedPrivateKeyGetsItsPublicKey) {
    // The openssl tool wraps under a key of known value; the shim unwraps in
    // the padded CBC mode, which SoftHSM2 offers only for encryption.
    Bytes kekBytes = tqtest::randomBytes(32, 51), iv = tqtest::randomBytes(16, 52);
    peer("--write-object '" + file("kek.bin", kekBytes) + "' --type secrkey --key-type AES:32 --label kek");
    TQXP11_VALUE kekValue{};
    kekValue.secret.iv = {iv.data(), iv.size()};
    TQXP11_OBJECT kek = describe("kek", TQXP11_KIND_AES, false, &kekValue);
    const std::string cipherOptions =
        "enc -aes-256-cbc -K " + tqtest::toHex(kekBytes) + " -iv " + tqtest::toHex(iv);
    Bytes wrappedKey = openssl(cipherOptions + " -in '" + tqtest::fixture("objects/user.p8info.der") + "'");

    Bytes id = {0x61};
    TQXP11_VALUE newValue{};
    newValue.first = {id.data(), id.size()};
    TQXP11_OBJECT fresh = describe("unwrapped rsa", TQXP11_KIND_RSA_PRIVATE, true, &newValue);
    ASSERT_EQ(TQXP11_Unwrap(&session, &kek, wrappedKey.data(), wrappedKey.size(), &fresh, TQXP11_SENSITIVE,
                            TQXP11_MODE_AES_CBC_PAD),
              TQP11_RTN_OK);
    EXPECT_EQ(shim::calls("unwrap emulated"), 1);
    EXPECT_TRUE(flag(fresh.handle, CKA_SENSITIVE));
    p11test::UserCredentials user;
    TQXP11_OBJECT pub = describe("unwrapped rsa", TQXP11_KIND_RSA_PUBLIC, false);
    ASSERT_EQ(TQXP11_ReadObject(&session, &pub), TQP11_RTN_OK);
    EXPECT_EQ(bytesOf(pub.valueRecord->rsaPublic.modulus), user.n);
    EXPECT_EQ(bytesOf(pub.valueRecord->rsaPublic.id), id);
    EXPECT_TRUE(flag(pub.handle, CKA_WRAP));
    TQXP11_FreeObject(&pub);
    std::string listing = peer("-O");
    EXPECT_NE(listing.find("Private Key Object; RSA \n  label:      unwrapped rsa"), std::string::npos)
        << listing;
    EXPECT_NE(listing.find("Public Key Object; RSA 2048 bits\n  label:      unwrapped rsa"),
              std::string::npos)
        << listing;
    TQXP11_OBJECT taken = describe("unwrapped rsa", TQXP11_KIND_RSA_PRIVATE, true, &newValue);
    EXPECT_EQ(TQXP11_Unwrap(&session, &kek, wrappedKey.data(), wrappedKey.size(), &taken, 0,
                            TQXP11_MODE_AES_CBC_PAD),
              TQP11_RTN_OBJECT_EXIST);

    // A secret key unwraps the same way, its length taken from the data.
    Bytes desKey = tqtest::randomBytes(24, 53);
    Bytes wrappedDes = openssl(cipherOptions + " -in '" + file("des.bin", desKey) + "'");
    TQXP11_OBJECT des = describe("unwrapped des3", TQXP11_KIND_DES3, false);
    ASSERT_EQ(
        TQXP11_Unwrap(&session, &kek, wrappedDes.data(), wrappedDes.size(), &des, 0, TQXP11_MODE_AES_CBC_PAD),
        TQP11_RTN_OK);
    TQXP11_OBJECT back = describe("unwrapped des3", TQXP11_KIND_DES3, false);
    ASSERT_EQ(TQXP11_ReadObject(&session, &back), TQP11_RTN_OK);
    EXPECT_EQ(bytesOf(back.valueRecord->secret.value), desKey);
    TQXP11_FreeObject(&back);
}

TEST_F(p11Crypto, RandomBytesInTheAskedLength) {
    Bytes buffer(40, 0xEE);
    ASSERT_EQ(TQXP11_GenRandomNumber(&session, buffer.data(), 32), TQP11_RTN_OK);
    EXPECT_NE(Bytes(buffer.begin(), buffer.begin() + 32), Bytes(32, 0xEE));
    EXPECT_EQ(Bytes(buffer.begin() + 32, buffer.end()), Bytes(8, 0xEE));
    EXPECT_EQ(TQXP11_GenRandomNumber(&session, buffer.data(), 0), TQP11_RTN_OK);
    Bytes untouched = buffer;
    EXPECT_EQ(TQXP11_GenRandomNumber(&session, buffer.data(), -1), TQP11_RTN_ARGUMENTS_BAD);
    EXPECT_EQ(buffer, untouched);
    TQXP11_SESSION closed{};
    EXPECT_EQ(TQXP11_GenRandomNumber(&closed, buffer.data(), 4), TQP11_RTN_LIBRARY_NOT_LOAD);
}

}  // namespace

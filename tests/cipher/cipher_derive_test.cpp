// Password-derived keys against `openssl enc -P` (PBKDF2 with HMAC-SHA1) and
// `openssl kdf` (PBKDF1), and handles made from them.
#include <gtest/gtest.h>

#include "cipher_testutil.h"
#include "tqxcrypt.h"

using namespace ciphertest;
using tqtest::HandleOwner;

namespace {

struct Algorithm {
    int id;
    const char *peer;
    size_t keyLength, ivLength;
};
const Algorithm kAlgorithms[] = {
    {TQXCRYPT_ALG_DEFAULT, "des-cbc", 8, 8},      {TQXCRYPT_ALG_DES, "des-cbc", 8, 8},
    {TQXCRYPT_ALG_DES3, "des-ede3-cbc", 24, 8},   {TQXCRYPT_ALG_RC4, "rc4", 16, 0},
    {TQXCRYPT_ALG_AES128, "aes-128-cbc", 16, 16}, {TQXCRYPT_ALG_AES192, "aes-192-cbc", 24, 16},
    {TQXCRYPT_ALG_AES256, "aes-256-cbc", 32, 16},
};

const char *kDigests[] = {"SHA1", "MD5", "SHA1", "SHA224", "SHA256", "SHA384", "SHA512"};
const size_t kDigestSizes[] = {20, 16, 20, 28, 32, 48, 64};

const Bytes kSalt = bytesOf("0102030405060708");
const char *kPassword = "pass phrase";

std::string line(const std::string &text, const std::string &name) {
    size_t at = text.find(name);
    if (at == std::string::npos) return "";
    at = text.find('=', at) + 1;
    return text.substr(at, text.find('\n', at) - at);
}

// openssl's PBKDF2 key and IV for a cipher.
void opensslPbkdf2(const Algorithm &a, int iterations, Bytes *key, Bytes *iv) {
    int status = -1;
    std::string out = tqtest::run(std::string("openssl enc -") + a.peer +
                                      " -provider legacy -provider default -pbkdf2 -md sha1 -iter " +
                                      std::to_string(iterations) + " -S " + tqtest::toHex(kSalt) +
                                      " -pass 'pass:" + kPassword + "' -P",
                                  &status);
    ASSERT_EQ(status, 0) << out;
    *key = bytesOf(line(out, "key"));
    *iv = bytesOf(line(out, "iv"));
}

Bytes opensslKdf(const std::string &kdf, const std::string &digest, size_t length, int iterations) {
    int status = -1;
    std::string out =
        tqtest::run("openssl kdf -provider legacy -provider default -keylen " + std::to_string(length) +
                        " -kdfopt digest:" + digest + " -kdfopt 'pass:" + kPassword + "' -kdfopt hexsalt:" +
                        tqtest::toHex(kSalt) + " -kdfopt iter:" + std::to_string(iterations) + " " + kdf,
                    &status);
    EXPECT_EQ(status, 0) << out;
    return bytesOf(out);
}

TQXCRYPT_CIPHER_CONTEXT *record(const HandleOwner &h) {
    return static_cast<TQXCRYPT_CIPHER_CONTEXT *>(h.get()->object);
}

// The handle's key and IV are openssl's, and it encrypts as openssl does.
void expectHandleHolds(const HandleOwner &h, const Algorithm &a, const Bytes &key, const Bytes &iv) {
    TQXCRYPT_CIPHER_CONTEXT *c = record(h);
    EXPECT_EQ(Bytes(c->key, c->key + a.keyLength), key);
    EXPECT_EQ(Bytes(c->iv, c->iv + a.ivLength), iv);
    EXPECT_EQ(c->keyLength, static_cast<int>(a.keyLength));
    EXPECT_EQ(c->ivLength, static_cast<int>(a.ivLength));
    Bytes plain = tqtest::randomBytes(37, 5), ours;
    ASSERT_EQ(runOperation(h.get(), true, nullptr, 0, plain, {11}, &ours), TQ_RTN_OK);
    EXPECT_EQ(ours, opensslEnc(a.peer, key, iv, plain, false, false));
}

TEST(CipherDerive, Pbkdf2HandlesHoldOpensslsKeyAndIv) {
    for (const Algorithm &a : kAlgorithms) {
        SCOPED_TRACE(a.peer);
        Bytes key, iv;
        opensslPbkdf2(a, 1000, &key, &iv);
        ASSERT_EQ(key.size(), a.keyLength);
        for (int flags : {0, TQXCRYPT_KDF_PBKDF2, TQXCRYPT_KDF_PBKDF2 | TQXCRYPT_MODE_CBC}) {
            HandleOwner h;
            ASSERT_EQ(TQXCrypt_GenerateKey(a.id, kPassword, kSalt.data(), static_cast<int>(kSalt.size()),
                                           1000, flags, h.out()),
                      TQ_RTN_OK);
            expectHandleHolds(h, a, key, iv);
        }
    }
}

TEST(CipherDerive, Pbkdf1HandlesForEveryHashSelector) {
    for (const Algorithm &a : kAlgorithms) {
        for (unsigned selector = 0; selector < 7; ++selector) {
            SCOPED_TRACE(std::string(a.peer) + " " + kDigests[selector]);
            HandleOwner h;
            int rc = TQXCrypt_GenerateKey(a.id, kPassword, kSalt.data(), static_cast<int>(kSalt.size()), 5,
                                          TQXCRYPT_KDF_PBKDF1 | static_cast<int>(selector), h.out());
            if (a.keyLength + a.ivLength > kDigestSizes[selector]) {
                EXPECT_EQ(rc, TQ_RTN_BAD_ARGUMENT);  // one digest cannot supply it
                continue;
            }
            ASSERT_EQ(rc, TQ_RTN_OK);
            Bytes both = opensslKdf("PBKDF1", kDigests[selector], a.keyLength + a.ivLength, 5);
            expectHandleHolds(h, a, Bytes(both.begin(), both.begin() + a.keyLength),
                              Bytes(both.begin() + a.keyLength, both.end()));
        }
    }
}

TEST(CipherDerive, ByteToKeySplitsOneDerivedString) {
    unsigned char key[32], iv[16];
    ASSERT_EQ(TQXCrypt_ByteToKey(kPassword, -1, kSalt.data(), 8, 1000, 0, key, 32, iv, 16), TQ_RTN_OK);
    Bytes both = opensslKdf("PBKDF2", "SHA1", 48, 1000);
    EXPECT_EQ(Bytes(key, key + 32), Bytes(both.begin(), both.begin() + 32));
    EXPECT_EQ(Bytes(iv, iv + 16), Bytes(both.begin() + 32, both.end()));
    // An explicit length takes only that much of the password.
    unsigned char shortKey[8];
    ASSERT_EQ(
        TQXCrypt_ByteToKey("pass phrase and more", 11, kSalt.data(), 8, 1000, 0, shortKey, 8, nullptr, 0),
        TQ_RTN_OK);
    EXPECT_EQ(Bytes(shortKey, shortKey + 8), Bytes(both.begin(), both.begin() + 8));
    // More than the 1,024-byte scratch area.
    std::vector<unsigned char> large(1500);
    ASSERT_EQ(TQXCrypt_ByteToKey(kPassword, -1, kSalt.data(), 8, 3, 0, large.data(), 1500, nullptr, 0),
              TQ_RTN_OK);
    EXPECT_EQ(large, opensslKdf("PBKDF2", "SHA1", 1500, 3));
}

TEST(CipherDerive, CountsBelowOneDeriveAsOne) {
    for (int kdf : {TQXCRYPT_KDF_PBKDF2, TQXCRYPT_KDF_PBKDF1}) {
        SCOPED_TRACE(kdf);
        unsigned char one[16], zero[16], negative[16];
        ASSERT_EQ(TQXCrypt_ByteToKey(kPassword, -1, kSalt.data(), 8, 1, kdf, one, 8, one + 8, 8), TQ_RTN_OK);
        ASSERT_EQ(TQXCrypt_ByteToKey(kPassword, -1, kSalt.data(), 8, 0, kdf, zero, 8, zero + 8, 8),
                  TQ_RTN_OK);
        ASSERT_EQ(TQXCrypt_ByteToKey(kPassword, -1, kSalt.data(), 8, -4, kdf, negative, 8, negative + 8, 8),
                  TQ_RTN_OK);
        EXPECT_EQ(Bytes(zero, zero + 16), Bytes(one, one + 16));
        EXPECT_EQ(Bytes(negative, negative + 16), Bytes(one, one + 16));
        EXPECT_EQ(Bytes(one, one + 16),
                  opensslKdf(kdf == TQXCRYPT_KDF_PBKDF1 ? "PBKDF1" : "PBKDF2", "SHA1", 16, 1));
    }
}

TEST(CipherDerive, Codes) {
    unsigned char key[64], iv[16];
    const unsigned char *salt = kSalt.data();
    struct Case {
        const char *label;
        const char *password;
        int passwordLength;
        const unsigned char *salt;
        int saltLength, flags;
        unsigned char *key;
        int keyLength;
        unsigned char *iv;
        int ivLength, expected;
    };
    const Case cases[] = {
        {"pbkdf2", "pw", -1, salt, 8, 0, key, 8, iv, 8, TQ_RTN_OK},
        {"null password counts as empty", nullptr, -1, salt, 8, 0, key, 8, iv, 8, TQ_RTN_OK},
        {"no salt", "pw", -1, nullptr, 0, 0, key, 8, iv, 8, TQ_RTN_OK},
        {"nothing asked", "pw", -1, salt, 8, 0, nullptr, 0, nullptr, 0, TQ_RTN_OK},
        {"password length -2", "pw", -2, salt, 8, 0, key, 8, iv, 8, TQ_RTN_BAD_ARGUMENT},
        {"null password with a length", nullptr, 4, salt, 8, 0, key, 8, iv, 8, TQ_RTN_BAD_ARGUMENT},
        {"null salt with a length", "pw", -1, nullptr, 8, 0, key, 8, iv, 8, TQ_RTN_BAD_ARGUMENT},
        {"negative salt length", "pw", -1, salt, -1, 0, key, 8, iv, 8, TQ_RTN_BAD_ARGUMENT},
        {"null key with a length", "pw", -1, salt, 8, 0, nullptr, 8, iv, 8, TQ_RTN_BAD_ARGUMENT},
        {"negative key length", "pw", -1, salt, 8, 0, key, -8, iv, 8, TQ_RTN_BAD_ARGUMENT},
        {"null iv with a length", "pw", -1, salt, 8, 0, key, 8, nullptr, 8, TQ_RTN_BAD_ARGUMENT},
        {"negative iv length", "pw", -1, salt, 8, 0, key, 8, iv, -1, TQ_RTN_BAD_ARGUMENT},
        {"derivation 0x300", "pw", -1, salt, 8, 0x300, key, 8, iv, 8, TQ_RTN_BAD_ARGUMENT},
        {"derivation 0x800", "pw", -1, salt, 8, 0x800, key, 8, iv, 8, TQ_RTN_BAD_ARGUMENT},
        {"pbkdf1 selector 7", "pw", -1, salt, 8, 0x107, key, 8, iv, 8, TQ_RTN_BAD_ARGUMENT},
        {"pbkdf1 sha-256 for 48 bytes", "pw", -1, salt, 8, 0x104, key, 32, iv, 16, TQ_RTN_BAD_ARGUMENT},
        {"pbkdf1 sha-512 for 48 bytes", "pw", -1, salt, 8, 0x106, key, 32, iv, 16, TQ_RTN_OK},
        {"pbkdf1 md5 for 16 bytes", "pw", -1, salt, 8, 0x101, key, 8, iv, 8, TQ_RTN_OK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(TQXCrypt_ByteToKey(c.password, c.passwordLength, c.salt, c.saltLength, 10, c.flags, c.key,
                                     c.keyLength, c.iv, c.ivLength),
                  c.expected);
    }
    TQXCRYPT_HANDLE *untouched = reinterpret_cast<TQXCRYPT_HANDLE *>(0x1), *out = untouched;
    EXPECT_EQ(TQXCrypt_GenerateKey(3, "pw", salt, 8, 10, 0, &out), TQ_RTN_NOT_SUPPORTED);
    EXPECT_EQ(TQXCrypt_GenerateKey(8, "pw", salt, 8, 10, 0, &out), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_GenerateKey(TQXCRYPT_ALG_AES256, "pw", salt, 8, 10, 0x104, &out), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_GenerateKey(TQXCRYPT_ALG_DES, "pw", salt, 8, 10, 0x30, &out), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_GenerateKey(TQXCRYPT_ALG_DES, "pw", nullptr, 8, 10, 0, &out), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(out, untouched);
    EXPECT_EQ(TQXCrypt_GenerateKey(TQXCRYPT_ALG_DES, "pw", salt, 8, 10, 0, nullptr), TQ_RTN_BAD_ARGUMENT);
    HandleOwner rc4;
    EXPECT_EQ(TQXCrypt_GenerateKey(TQXCRYPT_ALG_RC4, "pw", salt, 8, 10, 0x30, rc4.out()), TQ_RTN_OK);
}

}  // namespace

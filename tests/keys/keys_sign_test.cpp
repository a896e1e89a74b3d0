// Hash-and-sign and raw RSA against the openssl tool.
#include <gtest/gtest.h>

#include <openssl/crypto.h>

#include <climits>
#include <cstring>

#include "keys_testutil.h"

using namespace keystest;
using tqtest::BlobOwner;
using tqtest::HandleOwner;

namespace {

class KeysSign : public ::testing::Test {
protected:
    void SetUp() override {
        key.h = privateKey("user.key.pem");
        pub.h = publicKey("user.pub.pem");
        ASSERT_NE(key.get(), nullptr);
        ASSERT_NE(pub.get(), nullptr);
    }
    std::string keyFile = fx("user.key.pem");
    std::string pubFile = fx("user.pub.pem");
    tqtest::TempDir dir;
    HandleOwner key, pub;
};

Bytes flipped(Bytes b, size_t at) {
    b[at] ^= 0x01;
    return b;
}

}  // namespace

// Every selector: with the hashing flag, over a digest, raw, and the
// DigestInfo encoder, against the same operations of the openssl tool.
TEST_F(KeysSign, EverySelectorAgreesWithOpenssl) {
    const Bytes data = tqtest::randomBytes(1000, 7);
    const std::string dataFile = dir.file("data");
    tqtest::writeFile(dataFile, data);
    for (const Selector &s : kSelectors) {
        SCOPED_TRACE(s.md);
        const std::string md = s.md;
        const Bytes theirs = shBytes("openssl dgst -" + md + " -sign " + keyFile + " " + dataFile);
        const Bytes digest = shBytes("openssl dgst -" + md + " -binary " + dataFile);
        const std::string digestFile = dir.file("digest." + md);
        tqtest::writeFile(digestFile, digest);

        BlobOwner hashed;
        ASSERT_EQ(TQXCrypt_PureSign(key.get(), data.data(), data.size(),
                                    static_cast<int>(s.selector) | TQXCRYPT_PURE_HASH_DATA, &hashed),
                  0);
        EXPECT_EQ(hashed.bytes(), theirs);

        BlobOwner overDigest;
        ASSERT_EQ(TQXCrypt_PureSign(key.get(), digest.data(), digest.size(), static_cast<int>(s.selector),
                                    &overDigest),
                  0);
        EXPECT_EQ(overDigest.bytes(), theirs);

        BlobOwner raw;
        ASSERT_EQ(TQXCrypt_PureSign(key.get(), digest.data(), digest.size(),
                                    static_cast<int>(s.selector) | TQXCRYPT_PURE_RAW, &raw),
                  0);
        EXPECT_EQ(raw.bytes(), shBytes("openssl pkeyutl -sign -inkey " + keyFile +
                                       " -pkeyopt rsa_padding_mode:pkcs1 -in " + digestFile));

        // What their signature opens to is our DigestInfo.
        const std::string theirsFile = dir.file("sig." + md);
        tqtest::writeFile(theirsFile, theirs);
        const Bytes opened =
            shBytes("openssl pkeyutl -verifyrecover -pubin -inkey " + pubFile + " -in " + theirsFile);
        unsigned char *der = nullptr;
        int derLength = 0;
        ASSERT_EQ(tqxCrypt_Encode_X509_SIG(digest.data(), static_cast<int>(digest.size()), s.selector, &der,
                                           &derLength),
                  0);
        EXPECT_EQ(Bytes(der, der + derLength), opened);
        OPENSSL_free(der);

        EXPECT_EQ(TQXCrypt_PureVerify(pub.get(), theirs.data(), theirs.size(), data.data(), data.size(),
                                      static_cast<int>(s.selector) | TQXCRYPT_PURE_HASH_DATA),
                  0);
        EXPECT_EQ(TQXCrypt_PureVerify(pub.get(), theirs.data(), theirs.size(), digest.data(), digest.size(),
                                      static_cast<int>(s.selector)),
                  0);
        EXPECT_EQ(TQXCrypt_PureVerify(pub.get(), raw.b.data, raw.b.length, digest.data(), digest.size(),
                                      static_cast<int>(s.selector) | TQXCRYPT_PURE_RAW),
                  0);
        // A flipped bit of the signature breaks its padding; of the data, the digest.
        const Bytes badSig = flipped(theirs, 100);
        EXPECT_EQ(TQXCrypt_PureVerify(pub.get(), badSig.data(), badSig.size(), data.data(), data.size(),
                                      static_cast<int>(s.selector) | TQXCRYPT_PURE_HASH_DATA),
                  TQ_RTN_BAD_SIGNATURE_BLOCK);
        const Bytes badData = flipped(data, 10);
        EXPECT_EQ(TQXCrypt_PureVerify(pub.get(), theirs.data(), theirs.size(), badData.data(), badData.size(),
                                      static_cast<int>(s.selector) | TQXCRYPT_PURE_HASH_DATA),
                  TQ_RTN_VERIFY_FAILED);
    }
}

TEST_F(KeysSign, OurSignatureVerifiesWithOpenssl) {
    const Bytes data = tqtest::randomBytes(3000, 11);
    const std::string dataFile = dir.file("data");
    tqtest::writeFile(dataFile, data);
    BlobOwner sig;
    ASSERT_EQ(TQXCrypt_PureSign(key.get(), data.data(), data.size(),
                                TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA, &sig),
              0);
    EXPECT_EQ(sig.b.length, 256u);
    tqtest::writeFile(dir.file("sig"), sig.bytes());
    EXPECT_NE(
        sh("openssl dgst -sha256 -verify " + pubFile + " -signature " + dir.file("sig") + " " + dataFile)
            .find("Verified OK"),
        std::string::npos);
}

TEST_F(KeysSign, DigestLengthMustMatchTheSelector) {
    const Bytes twenty = tqtest::randomBytes(20, 3);
    for (unsigned selector : {0u, 2u}) {
        BlobOwner sig;
        EXPECT_EQ(TQXCrypt_PureSign(key.get(), twenty.data(), 20, static_cast<int>(selector), &sig), 0);
    }
    BlobOwner sig;
    EXPECT_EQ(TQXCrypt_PureSign(key.get(), twenty.data(), 20, TQXCRYPT_HASH_SHA256, &sig),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(sig.b.data, nullptr);
    // A length whose low 32 bits would match is still refused.
    EXPECT_EQ(TQXCrypt_PureSign(key.get(), twenty.data(), (1ull << 32) + 20, TQXCRYPT_HASH_SHA1, &sig),
              TQ_RTN_BAD_ARGUMENT);
}

TEST_F(KeysSign, RefusedArguments) {
    const Bytes digest = tqtest::randomBytes(20, 5);
    const Bytes sig(256, 1);
    BlobOwner out;
    const CodeCase cases[] = {
        {"sign, null key", TQXCrypt_PureSign(nullptr, digest.data(), 20, 0, &out), TQ_RTN_BAD_ARGUMENT},
        {"sign, public key", TQXCrypt_PureSign(pub.get(), digest.data(), 20, 0, &out), TQ_RTN_WRONG_HANDLE},
        {"sign, null output", TQXCrypt_PureSign(key.get(), digest.data(), 20, 0, nullptr),
         TQ_RTN_BAD_ARGUMENT},
        {"sign, selector 7", TQXCrypt_PureSign(key.get(), digest.data(), 20, 7, &out), TQ_RTN_BAD_ARGUMENT},
        {"sign, selector 15", TQXCrypt_PureSign(key.get(), digest.data(), 20, 15, &out), TQ_RTN_BAD_ARGUMENT},
        {"sign, null data", TQXCrypt_PureSign(key.get(), nullptr, 20, 0, &out), TQ_RTN_BAD_ARGUMENT},
        {"verify, private key", TQXCrypt_PureVerify(key.get(), sig.data(), 256, digest.data(), 20, 0),
         TQ_RTN_WRONG_HANDLE},
        {"verify, null key", TQXCrypt_PureVerify(nullptr, sig.data(), 256, digest.data(), 20, 0),
         TQ_RTN_BAD_ARGUMENT},
        {"verify, selector 7", TQXCrypt_PureVerify(pub.get(), sig.data(), 256, digest.data(), 20, 7),
         TQ_RTN_BAD_ARGUMENT},
        {"verify, key size + 1", TQXCrypt_PureVerify(pub.get(), sig.data(), 257, digest.data(), 20, 0),
         TQ_RTN_BAD_ARGUMENT},
        {"verify, 2^32 + key size",
         TQXCrypt_PureVerify(pub.get(), sig.data(), (1ull << 32) + 256, digest.data(), 20, 0),
         TQ_RTN_BAD_ARGUMENT},
        {"verify, null signature", TQXCrypt_PureVerify(pub.get(), nullptr, 256, digest.data(), 20, 0),
         TQ_RTN_BAD_ARGUMENT},
    };
    expectCodes(cases);
    EXPECT_EQ(out.b.data, nullptr);

    unsigned char *der = nullptr;
    int derLength = 0;
    EXPECT_EQ(tqxCrypt_Encode_X509_SIG(digest.data(), 20, 7, &der, &derLength), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(tqxCrypt_Encode_X509_SIG(digest.data(), -1, 0, &der, &derLength), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(der, nullptr);
}

// A signature whose first byte is zero still verifies without that byte.
TEST_F(KeysSign, SignatureOneByteShort) {
    Bytes data(8, 0);
    for (uint32_t i = 0;; ++i) {
        ASSERT_LT(i, 5000u);
        std::memcpy(data.data(), &i, sizeof i);
        BlobOwner sig;
        ASSERT_EQ(TQXCrypt_PureSign(key.get(), data.data(), data.size(),
                                    TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA, &sig),
                  0);
        if (sig.b.data[0] != 0) continue;
        EXPECT_EQ(TQXCrypt_PureVerify(pub.get(), sig.b.data + 1, 255, data.data(), data.size(),
                                      TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA),
                  0);
        break;
    }
}

TEST_F(KeysSign, SignatureOfAnotherKeyOrMessage) {
    HandleOwner other(privateKey("other.key.pem"));
    const Bytes data = tqtest::randomBytes(100, 9);
    BlobOwner foreign, otherMessage;
    ASSERT_EQ(TQXCrypt_PureSign(other.get(), data.data(), data.size(),
                                TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA, &foreign),
              0);
    EXPECT_EQ(TQXCrypt_PureVerify(pub.get(), foreign.b.data, foreign.b.length, data.data(), data.size(),
                                  TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA),
              TQ_RTN_BAD_SIGNATURE_BLOCK);
    ASSERT_EQ(TQXCrypt_PureSign(key.get(), data.data(), data.size() - 1,
                                TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA, &otherMessage),
              0);
    EXPECT_EQ(TQXCrypt_PureVerify(pub.get(), otherMessage.b.data, otherMessage.b.length, data.data(),
                                  data.size(), TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA),
              TQ_RTN_VERIFY_FAILED);
}

// The four raw operations against openssl pkeyutl, over several lengths.
TEST_F(KeysSign, RawOperationsAgreeWithPkeyutl) {
    for (size_t length : {1u, 32u, 64u, 200u, 245u}) {
        SCOPED_TRACE(length);
        const Bytes msg = tqtest::randomBytes(length, static_cast<uint32_t>(length));
        const std::string msgFile = dir.file("msg");
        tqtest::writeFile(msgFile, msg);

        BlobOwner signedBlock;
        ASSERT_EQ(TQXCrypt_PrivateEncrypt(key.get(), msg.data(), msg.size(), 0, &signedBlock), 0);
        // pkeyutl takes at most a digest's length; rsautl signs any block.
        const std::string peer = length <= 64 ? "openssl pkeyutl -sign -pkeyopt rsa_padding_mode:pkcs1"
                                              : "openssl rsautl -sign -pkcs";
        EXPECT_EQ(signedBlock.bytes(), shBytes(peer + " -inkey " + keyFile + " -in " + msgFile));
        BlobOwner recovered;
        ASSERT_EQ(TQXCrypt_PublicDecrypt(pub.get(), signedBlock.b.data, signedBlock.b.length, 0, &recovered),
                  0);
        EXPECT_EQ(recovered.bytes(), msg);

        BlobOwner encrypted;
        ASSERT_EQ(TQXCrypt_PublicEncrypt(pub.get(), msg.data(), msg.size(), 0, &encrypted), 0);
        EXPECT_EQ(encrypted.b.length, 256u);
        tqtest::writeFile(dir.file("enc"), encrypted.bytes());
        EXPECT_EQ(shBytes("openssl pkeyutl -decrypt -inkey " + keyFile + " -in " + dir.file("enc")), msg);

        const Bytes theirs = shBytes("openssl pkeyutl -encrypt -pubin -inkey " + pubFile + " -in " + msgFile);
        BlobOwner decrypted;
        ASSERT_EQ(TQXCrypt_PrivateDecrypt(key.get(), theirs.data(), theirs.size(), 0, &decrypted), 0);
        EXPECT_EQ(decrypted.bytes(), msg);
    }
    // One byte more than PKCS#1 padding leaves room for.
    const Bytes tooLong(246, 7);
    BlobOwner out;
    EXPECT_EQ(TQXCrypt_PrivateEncrypt(key.get(), tooLong.data(), tooLong.size(), 0, &out),
              TQ_RTN_ENCRYPT_FAILED);
    EXPECT_EQ(TQXCrypt_PublicEncrypt(pub.get(), tooLong.data(), tooLong.size(), 0, &out),
              TQ_RTN_ENCRYPT_FAILED);
    const Bytes garbage(256, 0x5a);
    EXPECT_EQ(TQXCrypt_PrivateDecrypt(key.get(), garbage.data(), garbage.size(), 0, &out),
              TQ_RTN_DECRYPT_FAILED);
    EXPECT_EQ(out.b.data, nullptr);
}

TEST_F(KeysSign, RawOutputByTheBlobRule) {
    const Bytes msg = tqtest::randomBytes(40, 1);
    BlobOwner encrypted;
    ASSERT_EQ(TQXCrypt_PublicEncrypt(pub.get(), msg.data(), msg.size(), 0, &encrypted), 0);

    unsigned char small[39];
    TQXCRYPT_BLOB caller{sizeof small, small};
    EXPECT_EQ(TQXCrypt_PrivateDecrypt(key.get(), encrypted.b.data, encrypted.b.length, 0, &caller),
              TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(caller.length, 40u);
    unsigned char fits[64];
    caller = {sizeof fits, fits};
    ASSERT_EQ(TQXCrypt_PrivateDecrypt(key.get(), encrypted.b.data, encrypted.b.length, 0, &caller), 0);
    EXPECT_EQ(Bytes(fits, fits + caller.length), msg);
}

TEST_F(KeysSign, RawArgumentChecks) {
    HandleOwner ec(tqtest::decodeFixture(TQXCRYPT_KIND_PRIVATEKEY, "keys/ec.key.der"));
    HandleOwner cert(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "keys/cert.sha256.der"));
    const Bytes msg(16, 1);
    BlobOwner out;
    const CodeCase cases[] = {
        {"null key", TQXCrypt_PrivateEncrypt(nullptr, msg.data(), 16, 0, &out), TQ_RTN_BAD_ARGUMENT},
        {"public key to a private operation", TQXCrypt_PrivateEncrypt(pub.get(), msg.data(), 16, 0, &out),
         TQ_RTN_WRONG_HANDLE},
        {"private key to a public operation", TQXCrypt_PublicEncrypt(key.get(), msg.data(), 16, 0, &out),
         TQ_RTN_WRONG_HANDLE},
        {"certificate handle", TQXCrypt_PublicDecrypt(cert.get(), msg.data(), 16, 0, &out),
         TQ_RTN_WRONG_HANDLE},
        {"null output", TQXCrypt_PrivateDecrypt(key.get(), msg.data(), 16, 0, nullptr), TQ_RTN_BAD_ARGUMENT},
        {"length above INT_MAX",
         TQXCrypt_PrivateEncrypt(key.get(), msg.data(), uint64_t(INT_MAX) + 1, 0, &out), TQ_RTN_BAD_ARGUMENT},
        {"length that is -1 as an int", TQXCrypt_PublicEncrypt(pub.get(), msg.data(), 0xFFFFFFFFu, 0, &out),
         TQ_RTN_BAD_ARGUMENT},
        {"2^32 + 16 bytes", TQXCrypt_PrivateEncrypt(key.get(), msg.data(), (1ull << 32) + 16, 0, &out),
         TQ_RTN_BAD_ARGUMENT},
        {"null input", TQXCrypt_PrivateEncrypt(key.get(), nullptr, 16, 0, &out), TQ_RTN_BAD_ARGUMENT},
        {"key that is not RSA", TQXCrypt_PrivateEncrypt(ec.get(), msg.data(), 16, 0, &out),
         TQ_RTN_INVALID_KEY},
        {"sign with a key that is not RSA",
         TQXCrypt_PureSign(ec.get(), msg.data(), 16, TQXCRYPT_PURE_HASH_DATA, &out), TQ_RTN_INVALID_KEY},
    };
    expectCodes(cases);
    EXPECT_EQ(out.b.data, nullptr);
}

// A key whose RSA method runs elsewhere, as a token key does: it holds only
// n and e, and its private operations are answered by the method. The crypto
// core must give byte-identical results through the same code.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "keys_testutil.h"

using namespace keystest;
using tqtest::BlobOwner;
using tqtest::HandleOwner;

namespace {

// The stand-in token: the software key behind the method, a call count, and
// how many bytes more than it wrote its private encryption claims.
RSA *g_tokenKey = nullptr;
int g_tokenCalls = 0;
int g_claimedExtra = 0;

// Every operation of the stand-in counts, the public ones too: a key that
// shares the stand-in's RSA object (instead of copying its numbers) shows.
using RsaOperation = int (*)(int length, const unsigned char *from, unsigned char *to, RSA *rsa, int padding);
template <RsaOperation Operation>
int onToken(int length, const unsigned char *from, unsigned char *to, RSA *, int padding) {
    ++g_tokenCalls;
    return Operation(length, from, to, g_tokenKey, padding);
}

int longOnToken(int length, const unsigned char *from, unsigned char *to, RSA *rsa, int padding) {
    const int n = onToken<RSA_private_encrypt>(length, from, to, rsa, padding);
    return n < 0 ? n : n + g_claimedExtra;
}

class KeysTokenPath : public ::testing::Test {
protected:
    void SetUp() override {
        software.h = privateKey("user.key.pem");
        pub.h = publicKey("user.pub.pem");
        g_tokenKey = EVP_PKEY_get1_RSA(static_cast<EVP_PKEY *>(software.get()->object));
        method = RSA_meth_dup(RSA_PKCS1_OpenSSL());
        RSA_meth_set1_name(method, "stand-in token");
        RSA_meth_set_priv_enc(method, longOnToken);
        RSA_meth_set_priv_dec(method, onToken<RSA_private_decrypt>);
        RSA_meth_set_pub_enc(method, onToken<RSA_public_encrypt>);
        RSA_meth_set_pub_dec(method, onToken<RSA_public_decrypt>);
        RSA *rsa = RSA_new();
        RSA_set_method(rsa, method);
        const BIGNUM *n = nullptr, *e = nullptr;
        RSA_get0_key(g_tokenKey, &n, &e, nullptr);
        RSA_set0_key(rsa, BN_dup(n), BN_dup(e), nullptr);
        EVP_PKEY *pkey = EVP_PKEY_new();
        EVP_PKEY_assign_RSA(pkey, rsa);
        ASSERT_EQ(
            tqxCryptCreateHandle(&token.h, TQXCRYPT_KIND_PRIVATEKEY, pkey, tqxCryptASN1PrivateKeyMethod(),
                                 const_cast<TQXCRYPT_KEY_METHOD *>(tqxCryptRSAPriMethod())),
            0);
        g_tokenCalls = 0;
        g_claimedExtra = 0;
    }
    void TearDown() override {
        TQXCryptFreeHandle(token.release());
        RSA_meth_free(method);
        RSA_free(g_tokenKey);
        g_tokenKey = nullptr;
    }
    HandleOwner software, pub, token;
    RSA_METHOD *method = nullptr;
};

}  // namespace

TEST_F(KeysTokenPath, SignaturesAreByteIdentical) {
    const Bytes data = tqtest::randomBytes(777, 3);
    for (const Selector &s : kSelectors) {
        SCOPED_TRACE(s.md);
        for (int extra : {TQXCRYPT_PURE_HASH_DATA, TQXCRYPT_PURE_HASH_DATA | TQXCRYPT_PURE_RAW}) {
            const int flags = static_cast<int>(s.selector) | extra;
            BlobOwner fromToken, fromSoftware;
            const int before = g_tokenCalls;
            ASSERT_EQ(TQXCrypt_PureSign(token.get(), data.data(), data.size(), flags, &fromToken), 0);
            EXPECT_EQ(g_tokenCalls, before + 1);
            ASSERT_EQ(TQXCrypt_PureSign(software.get(), data.data(), data.size(), flags, &fromSoftware), 0);
            EXPECT_EQ(fromToken.bytes(), fromSoftware.bytes());
            EXPECT_EQ(TQXCrypt_PureVerify(pub.get(), fromToken.b.data, fromToken.b.length, data.data(),
                                          data.size(), flags),
                      0);
        }
    }
}

TEST_F(KeysTokenPath, DecryptsAndSignsStructures) {
    tqtest::TempDir dir;
    const Bytes msg = tqtest::randomBytes(48, 6);
    tqtest::writeFile(dir.file("msg"), msg);
    const Bytes theirs =
        shBytes("openssl pkeyutl -encrypt -pubin -inkey " + fx("user.pub.pem") + " -in " + dir.file("msg"));
    BlobOwner plain;
    ASSERT_EQ(TQXCrypt_PrivateDecrypt(token.get(), theirs.data(), theirs.size(), 0, &plain), 0);
    EXPECT_EQ(plain.bytes(), msg);
    EXPECT_EQ(g_tokenCalls, 1);

    // A request signed on the stand-in token verifies with openssl.
    HandleOwner req(tqtest::decodeFixture(TQXCRYPT_KIND_CERTREQUEST, "keys/req.sha256.der"));
    const ASN1_BIT_STRING *sig = nullptr;
    const X509_ALGOR *alg = nullptr;
    X509_REQ_get0_signature(static_cast<X509_REQ *>(req.get()->object), &sig, &alg);
    EXPECT_EQ(tqxCrypt_ASN1_sign(
                  [](const void *o, unsigned char **p) { return i2d_re_X509_REQ_tbs((X509_REQ *)o, p); },
                  nullptr, const_cast<X509_ALGOR *>(alg), const_cast<ASN1_BIT_STRING *>(sig),
                  req.get()->object, token.get(), 5),
              256);
    EXPECT_EQ(g_tokenCalls, 2);
    BlobOwner der;
    ASSERT_EQ(TQXCrypt_EncodeObject(req.get(), TQXCRYPT_KIND_CERTREQUEST, &der, 0, nullptr), 0);
    tqtest::writeFile(dir.file("req.der"), der.bytes());
    EXPECT_NE(
        sh("openssl req -inform DER -in " + dir.file("req.der") + " -verify -noout 2>&1").find("verify OK"),
        std::string::npos);
}

// The numbers a token key holds, and those it does not.
TEST_F(KeysTokenPath, ComponentsAndDerivedPublicKey) {
    BlobOwner n, d;
    EXPECT_EQ(TQXCrypt_KeyModulus(token.get(), &n), 0);
    BlobOwner softwareN;
    EXPECT_EQ(TQXCrypt_KeyModulus(software.get(), &softwareN), 0);
    EXPECT_EQ(n.bytes(), softwareN.bytes());
    EXPECT_EQ(TQXCrypt_KeyD(token.get(), &d), TQ_RTN_NOT_PRESENT);
    EXPECT_EQ(TQXCrypt_KeyP(token.get(), &d), TQ_RTN_NOT_PRESENT);
    EXPECT_EQ(TQXCrypt_CheckKeyPair(token.get(), pub.get()), 0);

    // The derived public key computes in software: the stand-in sees nothing.
    HandleOwner derived;
    ASSERT_EQ(TQXCrypt_GetPublicKey(token.get(), derived.out()), 0);
    const Bytes msg(20, 9);
    BlobOwner enc;
    ASSERT_EQ(TQXCrypt_PublicEncrypt(derived.get(), msg.data(), msg.size(), 0, &enc), 0);
    BlobOwner opened;
    const Bytes signedBlock = [&] {
        BlobOwner sig;
        EXPECT_EQ(TQXCrypt_PrivateEncrypt(software.get(), msg.data(), msg.size(), 0, &sig), 0);
        return sig.bytes();
    }();
    ASSERT_EQ(TQXCrypt_PublicDecrypt(derived.get(), signedBlock.data(), signedBlock.size(), 0, &opened), 0);
    EXPECT_EQ(opened.bytes(), msg);
    EXPECT_EQ(g_tokenCalls, 0);
    BlobOwner back;
    ASSERT_EQ(TQXCrypt_PrivateDecrypt(token.get(), enc.b.data, enc.b.length, 0, &back), 0);
    EXPECT_EQ(back.bytes(), msg);
}

// A token that claims more bytes than the modulus holds: no result may
// carry them, whichever road reaches the token.
TEST_F(KeysTokenPath, AnswerLongerThanTheModulusIsRefused) {
    const Bytes data = tqtest::randomBytes(1024, 7);
    const Bytes digest(32, 5);
    for (int extra : {0, 1, 64}) {
        SCOPED_TRACE(extra);
        g_claimedExtra = extra;
        const int raw = extra ? TQ_RTN_ENCRYPT_FAILED : TQ_RTN_OK;
        BlobOwner pure, block;
        EXPECT_EQ(TQXCrypt_PureSign(token.get(), data.data(), data.size(),
                                    TQXCRYPT_PURE_HASH_DATA | TQXCRYPT_HASH_SHA256, &pure),
                  raw);
        EXPECT_EQ(TQXCrypt_PrivateEncrypt(token.get(), digest.data(), digest.size(), 0, &block), raw);
        if (raw == TQ_RTN_OK) {
            EXPECT_EQ(pure.b.length, 256u);
            EXPECT_EQ(block.b.length, 256u);
        }
        EXPECT_EQ(signedDataCode(token.get()), extra ? TQ_RTN_SIGN_FAILED : TQ_RTN_OK);
    }
}

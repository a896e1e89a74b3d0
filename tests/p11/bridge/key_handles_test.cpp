// Token RSA keys as key handles: what the builders find, what the handles
// hold and answer, what they refuse, and what freeing releases.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <cstdlib>
#include <cstring>

#include "bridge_token.h"
#include "tqxcrypt_x509.h"

namespace {

using namespace bridgetest;

// Modulus and exponent as `openssl pkey -text` prints them.
struct PrintedKey {
    Bytes modulus;
    unsigned long exponent = 0;
};
PrintedKey printed(const std::string &pem) {
    const std::string text = sh("openssl pkey -in '" + pem + "' -text -noout");
    const size_t from = text.find("modulus:"), to = text.find("publicExponent:");
    PrintedKey key;
    const size_t digits = text.find(':', from) + 1;
    key.modulus = tqtest::hexBytes(text.substr(digits, to - digits));
    while (key.modulus.size() > 1 && key.modulus[0] == 0) key.modulus.erase(key.modulus.begin());
    key.exponent = std::strtoul(text.c_str() + to + std::strlen("publicExponent:"), nullptr, 10);
    return key;
}

Bytes number(unsigned long value) {
    Bytes b;
    for (; value; value >>= 8) b.insert(b.begin(), static_cast<unsigned char>(value & 0xFF));
    return b;
}

const RSA *rsaOf(TQXCRYPT_HANDLE *h) { return EVP_PKEY_get0_RSA(static_cast<EVP_PKEY *>(h->object)); }

class BridgeKeyHandles : public TokenKeys {
protected:
    void SetUp() override {
        TokenKeys::SetUp();
        importPair(pkcs7File("signer.key.pem"), "signer", "0a1b");
    }
};

TEST_F(BridgeKeyHandles, PrivateKeysByLabelIdAndRecordHoldOnlyThePublicNumbers) {
    const PrintedKey expected = printed(pkcs7File("signer.key.pem"));
    ASSERT_EQ(expected.modulus.size(), 256u);

    TQXP11_OBJECT record = p11test::describe("signer", TQXP11_KIND_RSA_PRIVATE, true);
    ASSERT_EQ(TQXP11_ReadObject(&session, &record), 0);
    struct Way {
        const char *what;
        int rc;
        HandleOwner key;
    } ways[4] = {{"label", 0, {}},
                 {"CKA_ID text", 0, {}},
                 {"CKA_ID, lower and upper case", 0, {}},
                 {"caller's record", 0, {}}};
    ways[0].rc = TQXP11Crypt_GetPrivateKey(&session, "signer", 0, ways[0].key.out());
    ways[1].rc = TQXP11Crypt_GetPrivateKey(&session, "0a1b", TQXP11_BY_CKA_ID, ways[1].key.out());
    ways[2].rc = TQXP11Crypt_GetPrivateKeyWithCKAID(&session, "0A1b", 0, ways[2].key.out());
    ways[3].rc = TQXP11Crypt_P11ToKeyHandle(&session, &record, 0, ways[3].key.out());
    for (Way &w : ways) {
        SCOPED_TRACE(w.what);
        ASSERT_EQ(w.rc, 0);
        TQXCRYPT_HANDLE *h = w.key.get();
        EXPECT_EQ(h->kind, TQXCRYPT_KIND_PRIVATEKEY);
        EXPECT_EQ(h->extra, tqxCryptRSAPriMethod());
        // The software table's encoder and decoder, a free operation of its own.
        EXPECT_EQ(h->asn1Method->encode, tqxCryptASN1PrivateKeyMethod()->encode);
        EXPECT_EQ(h->asn1Method->decode, tqxCryptASN1PrivateKeyMethod()->decode);
        EXPECT_NE(h->asn1Method->free, tqxCryptASN1PrivateKeyMethod()->free);
        EXPECT_STREQ(RSA_meth_get0_name(RSA_get_method(rsaOf(h))), "Orvane PKCS#11 PKCS#1 RSA");
        EXPECT_EQ(TQXCrypt_KeySize(h), 256);
        EXPECT_EQ(TQXCrypt_KeyType(h), EVP_PKEY_RSA);
        BlobOwner n, e, secret;
        EXPECT_EQ(TQXCrypt_KeyModulus(h, &n), 0);
        EXPECT_EQ(n.bytes(), expected.modulus);
        EXPECT_EQ(TQXCrypt_KeyExponent(h, &e), 0);
        EXPECT_EQ(e.bytes(), number(expected.exponent));
        for (auto getter : {TQXCrypt_KeyD, TQXCrypt_KeyP, TQXCrypt_KeyQ, TQXCrypt_KeyDMP1, TQXCrypt_KeyIQMP})
            EXPECT_EQ(getter(h, &secret), TQ_RTN_NOT_PRESENT);
        // OpenSSL refuses to encode a key without private numbers: no bytes go out.
        BlobOwner der;
        EXPECT_NE(TQXCrypt_EncodeObject(h, TQXCRYPT_KIND_PRIVATEKEY, &der, 0, nullptr), 0);
        EXPECT_EQ(der.b.data, nullptr);
    }
    // The software default is what it was.
    EXPECT_EQ(RSA_get_default_method(), RSA_PKCS1_OpenSSL());
}

TEST_F(BridgeKeyHandles, PublicKeysEncodeAndRunEncryptAndRecoverOnTheToken) {
    HandleOwner pub, priv;
    ASSERT_EQ(TQXP11Crypt_GetPublicKey(&session, "signer", 0, pub.out()), 0);
    ASSERT_EQ(TQXP11Crypt_GetPrivateKey(&session, "signer", 0, priv.out()), 0);
    EXPECT_EQ(pub.get()->kind, TQXCRYPT_KIND_PUBLICKEY);
    EXPECT_EQ(pub.get()->extra, tqxCryptRSAPubMethod());
    EXPECT_EQ(pub.get()->asn1Method->encode, tqxCryptASN1PublicKeyMethod()->encode);
    EXPECT_NE(pub.get()->asn1Method->free, tqxCryptASN1PublicKeyMethod()->free);
    EXPECT_EQ(pub.get()->asn1Method->free, priv.get()->asn1Method->free);

    // SubjectPublicKeyInfo, as the openssl tool writes the key's public half.
    const Bytes spki = shBytes("openssl pkey -in '" + pkcs7File("signer.key.pem") + "' -pubout -outform DER");
    BlobOwner der;
    ASSERT_EQ(TQXCrypt_EncodeObject(pub.get(), TQXCRYPT_KIND_PUBLICKEY, &der, 0, nullptr), 0);
    EXPECT_EQ(der.bytes(), spki);

    // Encryption runs C_Encrypt; the openssl tool opens it with the PEM key.
    const Bytes message = tqtest::randomBytes(40, 7);
    BlobOwner sealed;
    ASSERT_EQ(TQXCrypt_PublicEncrypt(pub.get(), message.data(), message.size(), 0, &sealed), 0);
    EXPECT_EQ(tokenCalls("C_Encrypt"), 1);
    EXPECT_EQ(shBytes("openssl pkeyutl -decrypt -inkey '" + pkcs7File("signer.key.pem") + "' -in '" +
                      file("sealed", sealed.bytes()) + "'"),
              message);

    // Verification recovers on the token (the shim's C_VerifyRecover).
    HandleOwner software(softwarePrivateKey(pkcs7File("signer.key.pem")));
    const int flags = TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA;
    BlobOwner signature;
    ASSERT_EQ(TQXCrypt_PureSign(software.get(), message.data(), message.size(), flags, &signature), 0);
    EXPECT_EQ(TQXCrypt_PureVerify(pub.get(), signature.b.data, signature.b.length, message.data(),
                                  message.size(), flags),
              0);
    EXPECT_EQ(tokenCalls("C_VerifyRecover"), 1);
    signature.b.data[10] ^= 1;
    EXPECT_NE(TQXCrypt_PureVerify(pub.get(), signature.b.data, signature.b.length, message.data(),
                                  message.size(), flags),
              0);

    // The private side of a public key does not exist.
    BlobOwner none;
    EXPECT_EQ(TQXCrypt_PrivateEncrypt(pub.get(), message.data(), message.size(), 0, &none),
              TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_PureSign(pub.get(), message.data(), message.size(), flags, &none),
              TQ_RTN_WRONG_HANDLE);
}

// OpenSSL's own operations on a handle's key: the public side of a private
// key computes in memory, the private side of a public key fails, and no
// padding but PKCS#1 v1.5 reaches the token.
TEST_F(BridgeKeyHandles, OpensslOperationsOnHandleKeysRunWithTheRightKeyAndPadding) {
    HandleOwner pub, priv;
    ASSERT_EQ(TQXP11Crypt_GetPublicKey(&session, "signer", 0, pub.out()), 0);
    ASSERT_EQ(TQXP11Crypt_GetPrivateKey(&session, "signer", 0, priv.out()), 0);
    auto *privateKey = static_cast<EVP_PKEY *>(priv.get()->object);
    auto *publicKey = static_cast<EVP_PKEY *>(pub.get()->object);
    const Bytes message = tqtest::randomBytes(32, 11);
    auto calls = [&] {
        return tokenCalls("C_Sign") + tokenCalls("C_Decrypt") + tokenCalls("C_Encrypt") +
               tokenCalls("C_VerifyRecover");
    };
    using Ctx = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;
    auto context = [](EVP_PKEY *key) { return Ctx(EVP_PKEY_CTX_new(key, nullptr), EVP_PKEY_CTX_free); };

    // A private key's encryption: in memory, opened by the openssl tool.
    Ctx enc = context(privateKey);
    size_t length = 512;
    Bytes sealed(length);
    ASSERT_EQ(EVP_PKEY_encrypt_init(enc.get()), 1);
    ASSERT_EQ(EVP_PKEY_encrypt(enc.get(), sealed.data(), &length, message.data(), message.size()), 1);
    sealed.resize(length);
    EXPECT_EQ(shBytes("openssl pkeyutl -decrypt -inkey '" + pkcs7File("signer.key.pem") + "' -in '" +
                      file("sealed", sealed) + "'"),
              message);
    // ... and its verification of a software signature.
    HandleOwner software(softwarePrivateKey(pkcs7File("signer.key.pem")));
    BlobOwner signature;
    ASSERT_EQ(
        TQXCrypt_PureSign(software.get(), message.data(), message.size(), TQXCRYPT_HASH_SHA256, &signature),
        0);
    Ctx ver = context(privateKey);
    ASSERT_EQ(EVP_PKEY_verify_init(ver.get()), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_signature_md(ver.get(), EVP_sha256()), 1);
    EXPECT_EQ(
        EVP_PKEY_verify(ver.get(), signature.b.data, signature.b.length, message.data(), message.size()), 1);
    EXPECT_EQ(calls(), 0);

    // A public key signs and decrypts nothing.
    Ctx sign = context(publicKey);
    Bytes out(512);
    length = out.size();
    ASSERT_EQ(EVP_PKEY_sign_init(sign.get()), 1);
    EXPECT_LE(EVP_PKEY_sign(sign.get(), out.data(), &length, message.data(), message.size()), 0);
    Ctx dec = context(publicKey);
    length = out.size();
    ASSERT_EQ(EVP_PKEY_decrypt_init(dec.get()), 1);
    EXPECT_LE(EVP_PKEY_decrypt(dec.get(), out.data(), &length, sealed.data(), sealed.size()), 0);
    EXPECT_EQ(calls(), 0);

    // Paddings the token would answer with PKCS#1 v1.5 are refused.
    struct Padding {
        const char *what;
        bool decrypt;
        int padding;
    } const paddings[] = {{"sign, no padding", false, RSA_NO_PADDING},
                          {"sign, PSS", false, RSA_PKCS1_PSS_PADDING},
                          {"decrypt, OAEP", true, RSA_PKCS1_OAEP_PADDING},
                          {"decrypt, no padding", true, RSA_NO_PADDING}};
    for (const Padding &p : paddings) {
        SCOPED_TRACE(p.what);
        ERR_clear_error();
        Ctx c = context(privateKey);
        length = out.size();
        if (p.decrypt) {
            ASSERT_EQ(EVP_PKEY_decrypt_init(c.get()), 1);
            ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(c.get(), p.padding), 1);
            EXPECT_LE(EVP_PKEY_decrypt(c.get(), out.data(), &length, sealed.data(), sealed.size()), 0);
        } else {
            ASSERT_EQ(EVP_PKEY_sign_init(c.get()), 1);
            ASSERT_EQ(EVP_PKEY_CTX_set_rsa_padding(c.get(), p.padding), 1);
            if (p.padding == RSA_PKCS1_PSS_PADDING) {
                ASSERT_EQ(EVP_PKEY_CTX_set_signature_md(c.get(), EVP_sha256()), 1);
            }
            const Bytes input(p.padding == RSA_NO_PADDING ? 256 : 32, 0x42);
            EXPECT_LE(EVP_PKEY_sign(c.get(), out.data(), &length, input.data(), input.size()), 0);
        }
        EXPECT_EQ(ERR_GET_REASON(ERR_peek_last_error()), RSA_R_UNKNOWN_PADDING_TYPE);
        EXPECT_EQ(calls(), 0);
    }
    ERR_clear_error();

    // PKCS#1 v1.5 through OpenSSL's own signing runs on the token and verifies in software.
    Ctx good = context(privateKey);
    length = out.size();
    ASSERT_EQ(EVP_PKEY_sign_init(good.get()), 1);
    ASSERT_EQ(EVP_PKEY_CTX_set_signature_md(good.get(), EVP_sha256()), 1);
    ASSERT_EQ(EVP_PKEY_sign(good.get(), out.data(), &length, message.data(), message.size()), 1);
    EXPECT_EQ(tokenCalls("C_Sign"), 1);
    out.resize(length);
    EXPECT_EQ(Bytes(signature.b.data, signature.b.data + signature.b.length), out);
}

TEST_F(BridgeKeyHandles, RefusalsAndSearches) {
    writeOne(pkcs7File("recipient.key.pem"), "pubkey", "public only", "0c");
    writeOne(pkcs7File("other.key.pem"), "privkey", "private only", "0d");
    importPair(pkcs7File("recipient.key.pem"), "twice", "0e");
    importPair(pkcs7File("other.key.pem"), "twice", "0f");
    const std::string longLabel(255, 'L');
    importPair(bridgeFile("big.key.pem"), longLabel, "10");

    HandleOwner h;
    struct Case {
        const char *what;
        int rc;
        int expected;
    } const cases[] = {
        {"label, no session", TQXP11Crypt_GetPrivateKey(nullptr, "signer", 0, h.out()), TQ_RTN_BAD_ARGUMENT},
        {"ID, no session", TQXP11Crypt_GetPrivateKey(nullptr, "0a1b", TQXP11_BY_CKA_ID, h.out()),
         TQ_RTN_BAD_ARGUMENT},
        {"public, no session", TQXP11Crypt_GetPublicKey(nullptr, "signer", 0, h.out()), TQ_RTN_BAD_ARGUMENT},
        {"no label", TQXP11Crypt_GetPrivateKey(&session, nullptr, 0, h.out()), TQ_RTN_BAD_ARGUMENT},
        {"no ID text", TQXP11Crypt_GetPrivateKeyWithCKAID(&session, nullptr, 0, h.out()),
         TQ_RTN_BAD_ARGUMENT},
        {"empty ID text", TQXP11Crypt_GetPrivateKeyWithCKAID(&session, "", 0, h.out()), TQ_RTN_BAD_ARGUMENT},
        {"one-character ID text", TQXP11Crypt_GetPrivateKeyWithCKAID(&session, "0", 0, h.out()),
         TQ_RTN_BAD_ARGUMENT},
        {"odd ID text, last character dropped",
         TQXP11Crypt_GetPrivateKeyWithCKAID(&session, "0a1b7", 0, h.out()), 0},
        {"ID of no key", TQXP11Crypt_GetPrivateKeyWithCKAID(&session, "0a1c", 0, h.out()),
         TQP11_RTN_OBJECT_NOT_EXIST},
        {"ID of a public key only", TQXP11Crypt_GetPrivateKeyWithCKAID(&session, "0c", 0, h.out()),
         TQP11_RTN_OBJECT_NOT_EXIST},
        {"private key of a public-only label", TQXP11Crypt_GetPrivateKey(&session, "public only", 0, h.out()),
         TQP11_RTN_OBJECT_NOT_EXIST},
        {"public key of a private-only label", TQXP11Crypt_GetPublicKey(&session, "private only", 0, h.out()),
         TQP11_RTN_OBJECT_NOT_EXIST},
        {"public-only label", TQXP11Crypt_GetPublicKey(&session, "public only", 0, h.out()), 0},
        {"private-only label", TQXP11Crypt_GetPrivateKey(&session, "private only", 0, h.out()), 0},
        {"two private keys", TQXP11Crypt_GetPrivateKey(&session, "twice", 0, h.out()),
         TQP11_RTN_OBJECT_HAS_PROBLEM},
        {"two public keys", TQXP11Crypt_GetPublicKey(&session, "twice", 0, h.out()),
         TQP11_RTN_OBJECT_HAS_PROBLEM},
        {"label of 300 characters",
         TQXP11Crypt_GetPrivateKey(&session, (longLabel + std::string(45, 'X')).c_str(), 0, h.out()), 0},
    };
    for (const Case &c : cases) EXPECT_EQ(c.rc, c.expected) << c.what;

    // The 255 characters found the RSA-3072 key.
    ASSERT_EQ(TQXP11Crypt_GetPrivateKey(&session, (longLabel + "tail").c_str(), 0, h.out()), 0);
    EXPECT_EQ(TQXCrypt_KeySize(h.get()), 384);

    // Private keys need a login; public keys do not.
    ASSERT_EQ(TQXP11_Logout(&session), 0);
    EXPECT_EQ(TQXP11Crypt_GetPrivateKey(&session, "signer", 0, h.out()), TQP11_RTN_USER_NOT_LOGGED_IN);
    EXPECT_EQ(TQXP11Crypt_GetPrivateKey(&session, "0a1b", TQXP11_BY_CKA_ID, h.out()),
              TQP11_RTN_USER_NOT_LOGGED_IN);
    EXPECT_EQ(TQXP11Crypt_GetPublicKey(&session, "signer", 0, h.out()), 0);
}

// A record handed over belongs to the function: refused kinds release it
// (the leak check of the sanitizer build sees it).
TEST_F(BridgeKeyHandles, RecordsOfOtherKindsAreRefusedAndReleased) {
    HandleOwner h;
    for (CK_ULONG kind : {CK_ULONG(TQXP11_KIND_RSA_PUBLIC), CK_ULONG(TQXP11_KIND_CERTIFICATE)}) {
        SCOPED_TRACE(kind);
        TQXP11_OBJECT record = p11test::describe("signer", TQXP11_KIND_RSA_PUBLIC, false);
        ASSERT_EQ(TQXP11_ReadObject(&session, &record), 0);
        record.kind = kind;
        EXPECT_EQ(TQXP11Crypt_P11ToKeyHandle(&session, &record, 0, h.out()), TQ_RTN_BAD_ARGUMENT);
        EXPECT_EQ(h.get(), nullptr);
    }
    TQXP11_OBJECT record = p11test::describe("signer", TQXP11_KIND_RSA_PRIVATE, true);
    ASSERT_EQ(TQXP11_ReadObject(&session, &record), 0);
    EXPECT_EQ(TQXP11Crypt_P11ToKeyHandle(&session, &record, 0, nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXP11Crypt_P11ToKeyHandle(&session, nullptr, 0, h.out()), TQ_RTN_BAD_ARGUMENT);
    // No value record: nothing to build a key of.
    TQXP11_OBJECT empty = p11test::describe("signer", TQXP11_KIND_RSA_PRIVATE, true);
    empty.handle = 1;
    EXPECT_EQ(TQXP11Crypt_P11ToKeyHandle(&session, &empty, 0, h.out()), TQ_RTN_BAD_ARGUMENT);
}

TEST_F(BridgeKeyHandles, FreeingKeepsSessionAndObjectsAndFailedAllocationsGive5002) {
    const std::string before = peer("-O");
    for (int round = 0; round < 3; ++round) {
        HandleOwner priv, pub;
        ASSERT_EQ(TQXP11Crypt_GetPrivateKey(&session, "0a1b", TQXP11_BY_CKA_ID, priv.out()), 0);
        ASSERT_EQ(TQXP11Crypt_GetPublicKey(&session, "signer", 0, pub.out()), 0);
    }
    EXPECT_EQ(peer("-O"), before);
    CK_BBOOL loggedIn = CK_FALSE;
    EXPECT_EQ(TQXP11_GetSessionInfo(&session, &loggedIn), 0);
    EXPECT_EQ(loggedIn, CK_TRUE);

    // Every library allocation of each builder fails in turn.
    using Builder = int (*)(TQXP11_SESSION *, TQXCRYPT_HANDLE **);
    const Builder builders[] = {
        [](TQXP11_SESSION *s, TQXCRYPT_HANDLE **h) { return TQXP11Crypt_GetPrivateKey(s, "signer", 0, h); },
        [](TQXP11_SESSION *s, TQXCRYPT_HANDLE **h) {
            return TQXP11Crypt_GetPrivateKey(s, "0a1b", TQXP11_BY_CKA_ID, h);
        },
        [](TQXP11_SESSION *s, TQXCRYPT_HANDLE **h) { return TQXP11Crypt_GetPublicKey(s, "signer", 0, h); },
        [](TQXP11_SESSION *s, TQXCRYPT_HANDLE **h) {
            TQXP11_OBJECT record = p11test::describe("signer", TQXP11_KIND_RSA_PRIVATE, true);
            int rc = TQXP11_ReadObject(s, &record);
            return rc ? rc : TQXP11Crypt_P11ToKeyHandle(s, &record, 0, h);
        }};
    for (Builder build : builders) {
        for (int succeeding = 0;; ++succeeding) {
            TQXCRYPT_HANDLE *made = nullptr;
            int rc;
            bool failed;
            {
                FailingAllocator failing(succeeding);
                rc = build(&session, &made);
                failed = failing.failed();
            }
            HandleOwner owner(made);
            if (!failed) {
                EXPECT_EQ(rc, 0);
                EXPECT_GT(succeeding, 0);
                break;
            }
            EXPECT_EQ(rc, TQ_RTN_MEMORY_ALLOCATE_FAIL) << succeeding;
            EXPECT_EQ(made, nullptr);
        }
    }
    EXPECT_EQ(peer("-O"), before);
}

}  // namespace

// The token tables' release given a handle that holds no key leaves it
// alone: its object is not taken for a token key.
TEST_F(BridgeKeyHandles, ReleaseLeavesHandlesOfOtherKindsAlone) {
    HandleOwner key;
    ASSERT_EQ(TQXP11Crypt_GetPrivateKey(&session, "signer", 0, key.out()), 0);
    HandleOwner cert(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "objects/user.der"));
    ASSERT_NE(cert.get(), nullptr);
    key.get()->asn1Method->free(cert.get());
    char *subject = nullptr;
    EXPECT_EQ(TQXCrypt_CertGetSubject(cert.get(), 0, &subject), TQ_RTN_OK);
    TQCryptMemFree(subject);
}

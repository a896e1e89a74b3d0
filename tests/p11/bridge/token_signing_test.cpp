// The crypto core's own signing and decryption with a key that never
// leaves the token: byte for byte what the software key gives, judged by the
// openssl tool.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "bridge_token.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_store.h"

namespace {

using namespace bridgetest;

Bytes digestOf(const char *md, const Bytes &data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    std::unique_ptr<EVP_MD, decltype(&EVP_MD_free)> digest(EVP_MD_fetch(nullptr, md, nullptr), EVP_MD_free);
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), out, &n, digest.get(), nullptr), 1) << md;
    return Bytes(out, out + n);
}

class BridgeTokenSigning : public TokenKeys {
protected:
    void SetUp() override {
        TokenKeys::SetUp();
        importPair(pkcs7File("signer.key.pem"), "signer", "01");
        importPair(bridgeFile("big.key.pem"), "big", "02");
        importPair(pkcs7File("recipient.key.pem"), "recipient", "03");
    }
    TQXCRYPT_HANDLE *tokenKey(const char *label) {
        TQXCRYPT_HANDLE *h = nullptr;
        EXPECT_EQ(TQXP11Crypt_GetPrivateKey(&session, label, 0, &h), 0) << label;
        return h;
    }
    // Signs with the token key and the software key until both fall into
    // the same second of signing time; returns both messages' DER.
    std::pair<Bytes, Bytes> signBoth(TQXCRYPT_HANDLE *cert, TQXCRYPT_HANDLE *token, TQXCRYPT_HANDLE *software,
                                     TQXCRYPT_HANDLE *store, const Bytes &data, int flags) {
        std::pair<Bytes, Bytes> der;
        for (int attempt = 0; attempt < 5 && (der.first.empty() || der.first != der.second); ++attempt) {
            HandleOwner a, b;
            EXPECT_EQ(TQXCrypt_Sign(cert, token, store, data.data(), data.size(), flags, TQXCRYPT_HASH_SHA256,
                                    a.out()),
                      0);
            EXPECT_EQ(TQXCrypt_Sign(cert, software, store, data.data(), data.size(), flags,
                                    TQXCRYPT_HASH_SHA256, b.out()),
                      0);
            if (!a.get() || !b.get()) break;
            der = {encoded(a.get(), TQXCRYPT_KIND_PKCS7), encoded(b.get(), TQXCRYPT_KIND_PKCS7)};
        }
        return der;
    }
};

TEST_F(BridgeTokenSigning, PureSignEqualsTheSoftwareKeyForEverySelectorAndForm) {
    const Bytes data = tqtest::randomBytes(1000, 5);
    const std::string dataFile = file("data", data);
    for (const char *label : {"signer", "big"}) {
        SCOPED_TRACE(label);
        const std::string pem =
            std::string(label) == "big" ? bridgeFile("big.key.pem") : pkcs7File("signer.key.pem");
        HandleOwner token(tokenKey(label));
        HandleOwner software(softwarePrivateKey(pem));
        for (const Selector &s : kSelectors) {
            SCOPED_TRACE(s.md);
            const Bytes digest = digestOf(s.md, data);
            struct Form {
                const char *what;
                int flags;
                const Bytes &input;
            } const forms[] = {{"hashed", TQXCRYPT_PURE_HASH_DATA, data},
                               {"digest given", 0, digest},
                               {"without DigestInfo", TQXCRYPT_PURE_HASH_DATA | TQXCRYPT_PURE_RAW, data}};
            for (const Form &f : forms) {
                SCOPED_TRACE(f.what);
                const int before = tokenCalls("C_Sign");
                BlobOwner fromToken, fromSoftware;
                ASSERT_EQ(TQXCrypt_PureSign(token.get(), f.input.data(), f.input.size(), s.selector | f.flags,
                                            &fromToken),
                          0);
                EXPECT_EQ(tokenCalls("C_Sign"), before + 1);
                ASSERT_EQ(TQXCrypt_PureSign(software.get(), f.input.data(), f.input.size(),
                                            s.selector | f.flags, &fromSoftware),
                          0);
                EXPECT_EQ(fromToken.bytes(), fromSoftware.bytes());
                EXPECT_EQ(fromToken.b.length, static_cast<uint64_t>(TQXCrypt_KeySize(token.get())));
                if (f.flags != TQXCRYPT_PURE_HASH_DATA) continue;
                EXPECT_EQ(fromToken.bytes(), shBytes(std::string("openssl dgst -") + s.md + " -sign '" + pem +
                                                     "' '" + dataFile + "'"));
            }
        }
    }
}

TEST_F(BridgeTokenSigning, SignedDataIsTheSoftwareKeysAndVerifies) {
    HandleOwner cert(certificate(pkcs7File("signer.pem")));
    HandleOwner token(tokenKey("signer"));
    HandleOwner software(softwarePrivateKey(pkcs7File("signer.key.pem")));
    HandleOwner store;
    const std::string chain = tqtest::readText(pkcs7File("chain.pem"));
    ASSERT_EQ(TQXCrypt_LoadStore(store.out(), chain.c_str(), nullptr), 0);
    const Bytes data = tqtest::randomBytes(1024, 8);
    const std::string dataFile = file("content", data);
    struct Case {
        const char *what;
        int flags;
        bool withStore;
    } const cases[] = {{"attached", 0, false},
                       {"detached", TQXCRYPT_DETACHED, false},
                       {"without certificates", TQXCRYPT_SIGN_NOCERTS, false},
                       {"chain from a store", TQXCRYPT_SIGN_CHAIN | TQXCRYPT_DETACHED, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto der = signBoth(cert.get(), token.get(), software.get(), c.withStore ? store.get() : nullptr,
                            data, c.flags);
        ASSERT_FALSE(der.first.empty());
        EXPECT_EQ(der.first, der.second);
        const std::string p7 = file("signed.der", der.first);
        // The tools take no untrusted intermediates from the command line.
        std::string options = " -inform DER -in '" + p7 + "' -CAfile '" +
                              pkcs7File(c.withStore ? "root.pem" : "chain.pem") + "'";
        if (c.flags & TQXCRYPT_SIGN_NOCERTS) options += " -certfile '" + pkcs7File("signer.pem") + "'";
        if (c.flags & TQXCRYPT_DETACHED) options += " -content '" + dataFile + "'";
        for (const char *tool : {"cms", "smime"}) {
            SCOPED_TRACE(tool);
            EXPECT_EQ(shBytes(std::string("openssl ") + tool + " -verify -binary" + options + " 2>/dev/null"),
                      data);
        }
    }
}

TEST_F(BridgeTokenSigning, EnvelopesOpenAndRequestsAreSignedWithTheTokenKey) {
    const Bytes message = tqtest::randomBytes(300, 9);
    const std::string messageFile = file("message", message);
    HandleOwner recipientCert(certificate(pkcs7File("recipient.pem")));
    HandleOwner otherCert(certificate(pkcs7File("other.pem")));
    HandleOwner key(tokenKey("recipient"));
    for (const char *cipher : {"-des3", "-des -provider legacy -provider default"}) {
        SCOPED_TRACE(cipher);
        const Bytes envelope = shBytes(std::string("openssl smime -encrypt -binary -outform DER ") + cipher +
                                       " -in '" + messageFile + "' '" + pkcs7File("recipient.pem") + "'");
        BlobOwner plain;
        ASSERT_EQ(
            TQXCrypt_Decrypt(recipientCert.get(), key.get(), envelope.data(), envelope.size(), 0, &plain), 0);
        EXPECT_EQ(plain.bytes(), message);
        BlobOwner none;
        EXPECT_EQ(TQXCrypt_Decrypt(otherCert.get(), key.get(), envelope.data(), envelope.size(), 0, &none),
                  TQ_RTN_KEY_MISMATCH);
    }
    EXPECT_GE(tokenCalls("C_Decrypt"), 2);

    // A request re-signed by the token key (SHA-384) verifies.
    importPair(tqtest::fixture("keys/user.key.pem"), "user", "04");
    HandleOwner user(tokenKey("user"));
    HandleOwner req(tqtest::decodeFixture(TQXCRYPT_KIND_CERTREQUEST, "keys/req.sha256.der"));
    const ASN1_BIT_STRING *sig = nullptr;
    const X509_ALGOR *alg = nullptr;
    X509_REQ_get0_signature(static_cast<X509_REQ *>(req.get()->object), &sig, &alg);
    const int before = tokenCalls("C_Sign");
    EXPECT_EQ(tqxCrypt_ASN1_sign(
                  [](const void *o, unsigned char **p) { return i2d_re_X509_REQ_tbs((X509_REQ *)o, p); },
                  nullptr, const_cast<X509_ALGOR *>(alg), const_cast<ASN1_BIT_STRING *>(sig),
                  req.get()->object, user.get(), TQXCRYPT_HASH_SHA384),
              256);
    EXPECT_EQ(tokenCalls("C_Sign"), before + 1);
    const std::string reqFile = file("req.der", encoded(req.get(), TQXCRYPT_KIND_CERTREQUEST));
    const std::string text = sh("openssl req -inform DER -in '" + reqFile + "' -verify -noout -text 2>&1");
    EXPECT_NE(text.find("verify OK"), std::string::npos) << text;
    EXPECT_NE(text.find("sha384WithRSAEncryption"), std::string::npos) << text;
}

TEST_F(BridgeTokenSigning, ATokenThatFailsToSignIsReportedAndTheNextSignatureIsRight) {
    HandleOwner cert(certificate(pkcs7File("signer.pem")));
    HandleOwner token(tokenKey("signer"));
    HandleOwner software(softwarePrivateKey(pkcs7File("signer.key.pem")));
    const Bytes data(1024, 0x33);
    const int flags = TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA;
    for (const char *function : {"C_Sign", "C_SignInit"}) {
        SCOPED_TRACE(function);
        shim::state().injections[function] = {CKR_DEVICE_ERROR, 0, 1};
        BlobOwner signature;
        EXPECT_EQ(TQXCrypt_PureSign(token.get(), data.data(), data.size(), flags, &signature),
                  TQ_RTN_ENCRYPT_FAILED);
        EXPECT_EQ(signature.b.data, nullptr);
        shim::state().injections[function] = {CKR_DEVICE_ERROR, 0, 1};
        HandleOwner p7;
        EXPECT_NE(TQXCrypt_Sign(cert.get(), token.get(), nullptr, data.data(), data.size(), TQXCRYPT_DETACHED,
                                TQXCRYPT_HASH_SHA256, p7.out()),
                  0);
        EXPECT_EQ(p7.get(), nullptr);
        BlobOwner good, expected;
        ASSERT_EQ(TQXCrypt_PureSign(token.get(), data.data(), data.size(), flags, &good), 0);
        ASSERT_EQ(TQXCrypt_PureSign(software.get(), data.data(), data.size(), flags, &expected), 0);
        EXPECT_EQ(good.bytes(), expected.bytes());
    }
}

TEST_F(BridgeTokenSigning, SoftwareKeysAreUnaffected) {
    HandleOwner token(tokenKey("signer"));
    HandleOwner pub;
    ASSERT_EQ(TQXP11Crypt_GetPublicKey(&session, "signer", 0, pub.out()), 0);
    EXPECT_EQ(RSA_get_default_method(), RSA_PKCS1_OpenSSL());
    HandleOwner software(softwarePrivateKey(pkcs7File("signer.key.pem")));
    EXPECT_EQ(RSA_get_method(EVP_PKEY_get0_RSA(static_cast<EVP_PKEY *>(software.get()->object))),
              RSA_PKCS1_OpenSSL());
    HandleOwner cert(certificate(pkcs7File("signer.pem")));
    const Bytes data(64, 1);
    const int before = tokenCalls("C_Sign") + tokenCalls("C_SignInit") + tokenCalls("C_Decrypt");
    BlobOwner signature;
    ASSERT_EQ(TQXCrypt_PureSign(software.get(), data.data(), data.size(),
                                TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA, &signature),
              0);
    HandleOwner p7;
    ASSERT_EQ(TQXCrypt_Sign(cert.get(), software.get(), nullptr, data.data(), data.size(), 0,
                            TQXCRYPT_HASH_SHA1, p7.out()),
              0);
    // A fresh software RSA key signs in software too.
    EVP_PKEY *fresh = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024));
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(RSA_get_method(EVP_PKEY_get0_RSA(fresh)), RSA_PKCS1_OpenSSL());
    EVP_PKEY_free(fresh);
    EXPECT_EQ(tokenCalls("C_Sign") + tokenCalls("C_SignInit") + tokenCalls("C_Decrypt"), before);
}

}  // namespace

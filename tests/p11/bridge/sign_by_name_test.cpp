// Signing and decrypting with a token identity found by label or CKA_ID,
// judged by openssl cms and smime.
#include <gtest/gtest.h>

#include "bridge_token.h"
#include "tqp11certs.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_store.h"

namespace {

using namespace bridgetest;

class SignByName : public TokenKeys {
protected:
    void SetUp() override {
        TokenKeys::SetUp();
        importPair(pkcs7File("signer.key.pem"), "signer", "01");
        importPair(pkcs7File("recipient.key.pem"), "recipient", "03");
        for (const auto &c : {std::pair<const char *, const char *>{"signer", "01"}, {"recipient", "03"}})
            peer("--write-object '" + pkcs7File(std::string(c.first) + ".der") + "' --type cert --label " +
                 c.first + " --id " + c.second);
        // A certificate without a key: the name of the wrong identity.
        peer("--write-object '" + pkcs7File("other.der") + "' --type cert --label decoy --id 02");
        data = tqtest::randomBytes(1024, 11);
        dataFile = file("data", data);
    }
    // Checks the Base64 signed-data with openssl cms.
    void expectVerified(const std::string &base64, const std::string &options) {
        const std::string der = file("p7-" + std::to_string(++files), Bytes());
        tqtest::writeFile(der + ".b64", base64 + "\n");
        sh("openssl base64 -d -in '" + der + ".b64' -out '" + der +
           "' && openssl cms -verify -binary -inform DER -in '" + der + "' " + options +
           " -out /dev/null 2>&1");
    }
    Bytes data;
    std::string dataFile;
    int files = 0;
};

TEST_F(SignByName, SignsByLabelAndByIdInEveryForm) {
    HandleOwner store;
    ASSERT_EQ(TQXCrypt_LoadStore(store.out(), pem("chain.pem").c_str(), nullptr), 0);
    const std::string trusted = "-CAfile '" + pkcs7File("chain.pem") + "'";
    const std::string content = " -content '" + dataFile + "'";
    struct Form {
        const char *what;
        int options;
        std::string verify;
    } forms[] = {
        {"attached", 0, trusted},
        {"detached", TQXCRYPT_DETACHED, trusted + content},
        {"without certificates", TQXCRYPT_SIGN_NOCERTS,
         trusted + " -certfile '" + pkcs7File("signer.pem") + "'"},
        // Only the root is trusted: the intermediate must travel in the message.
        {"with the chain", TQXCRYPT_SIGN_CHAIN, "-CAfile '" + pkcs7File("root.pem") + "'"},
    };
    for (const auto &name : {std::pair<const char *, int>{"signer", 0}, {"01", TQXP11_BY_CKA_ID}}) {
        for (const Form &form : forms) {
            SCOPED_TRACE(std::string(name.first) + ", " + form.what);
            TextOwner text;
            ASSERT_EQ(TQP11_Sign(&session, name.first, store.get(), data.data(), data.size(),
                                 form.options | name.second, TQXCRYPT_HASH_SHA256, &text.text),
                      TQ_RTN_OK);
            expectVerified(text.text, form.verify);
        }
    }
}

TEST_F(SignByName, SignsWithACertificateTextAndWithHandles) {
    const std::string trusted = "-CAfile '" + pkcs7File("chain.pem") + "'";
    TextOwner byText;
    ASSERT_EQ(TQP11_SignByCertString(&session, pem("signer.pem").c_str(), "signer", nullptr, data.data(),
                                     data.size(), 0, TQXCRYPT_HASH_SHA384, &byText.text),
              TQ_RTN_OK);
    expectVerified(byText.text, trusted);

    HandleOwner certificate(bridgetest::certificate(pkcs7File("signer.pem")));
    HandleOwner key;
    ASSERT_EQ(TQXP11Crypt_GetPrivateKey(&session, "signer", 0, key.out()), TQ_RTN_OK);
    TextOwner byHandles;
    ASSERT_EQ(TQP11_SignUpdate(nullptr, certificate.get(), key.get(), data.data(), data.size(),
                               TQXCRYPT_DETACHED, TQXCRYPT_HASH_SHA1, &byHandles.text),
              TQ_RTN_OK);
    expectVerified(byHandles.text, trusted + " -content '" + dataFile + "'");

    TextOwner refused;
    const tqtest::CodeCase cases[] = {
        {"certificate without its key",
         TQP11_Sign(&session, "decoy", nullptr, data.data(), data.size(), 0, TQXCRYPT_HASH_SHA256,
                    &refused.text),
         TQP11_RTN_OBJECT_NOT_EXIST},
        {"unknown CKA_ID",
         TQP11_Sign(&session, "09", nullptr, data.data(), data.size(), TQXP11_BY_CKA_ID, TQXCRYPT_HASH_SHA256,
                    &refused.text),
         TQP11_RTN_OBJECT_NOT_EXIST},
        {"no certificate text",
         TQP11_SignByCertString(&session, "no certificate", "signer", nullptr, data.data(), data.size(), 0, 0,
                                &refused.text),
         TQ_RTN_BAD_BASE64},
        {"no output",
         TQP11_SignUpdate(nullptr, certificate.get(), key.get(), data.data(), data.size(), 0, 0, nullptr),
         TQ_RTN_BAD_ARGUMENT},
    };
    tqtest::expectCodes(cases);
    EXPECT_EQ(refused.text, nullptr);
}

TEST_F(SignByName, PureSignaturesAreBase64Lines) {
    TextOwner text;
    ASSERT_EQ(TQP11_PureSign(&session, "signer", data.data(), data.size(),
                             TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA, &text.text),
              TQ_RTN_OK);
    const std::string lines = text.text;
    EXPECT_EQ(lines.find('\n'), 64u);
    const std::string b64 = file("pure.b64", Bytes(lines.begin(), lines.end()));
    const std::string pub = token.file("signer.pub.pem");
    sh("openssl base64 -d -in '" + b64 + "' -out '" + b64 + ".sig' && openssl x509 -in '" +
       pkcs7File("signer.pem") + "' -pubkey -noout > '" + pub + "' && openssl dgst -sha256 -verify '" + pub +
       "' -signature '" + b64 + ".sig' '" + dataFile + "' | grep -q 'Verified OK'");
    EXPECT_EQ(TQP11_PureSign(nullptr, "signer", data.data(), data.size(), 0, &text.text),
              TQ_RTN_BAD_ARGUMENT);
}

TEST_F(SignByName, DecryptsEnvelopesByLabelAndById) {
    const std::string envelope = token.file("envelope.der");
    sh("openssl smime -encrypt -des3 -binary -outform DER -in '" + dataFile + "' -out '" + envelope + "' '" +
       pkcs7File("recipient.pem") + "'");
    const std::string text = sh("openssl base64 -in '" + envelope + "'");
    for (const auto &name : {std::pair<const char *, int>{"recipient", 0}, {"03", TQXP11_BY_CKA_ID}}) {
        SCOPED_TRACE(name.first);
        TextOwner plain;
        int length = -1;
        ASSERT_EQ(TQP11_Decrypt(&session, name.first, text.c_str(), name.second, &plain.text, &length),
                  TQ_RTN_OK);
        ASSERT_EQ(length, static_cast<int>(data.size()));
        EXPECT_EQ(Bytes(plain.text, plain.text + length), data);
    }
    TextOwner plain;
    const tqtest::CodeCase cases[] = {
        {"the wrong identity", TQP11_Decrypt(&session, "signer", text.c_str(), 0, &plain.text, nullptr),
         TQ_RTN_DECRYPT_FAILED},
        {"no envelope", TQP11_Decrypt(&session, "recipient", "bm90IGFuIGVudmVsb3Bl", 0, &plain.text, nullptr),
         TQ_RTN_BAD_PKCS7},
        {"null text", TQP11_Decrypt(&session, "recipient", nullptr, 0, &plain.text, nullptr),
         TQ_RTN_BAD_ARGUMENT},
    };
    tqtest::expectCodes(cases);
    EXPECT_EQ(plain.text, nullptr);
}

// A name costs one search per object, and each object is read for what its
// handle is made of: the certificate's DER, the key's modulus and exponent.
TEST_F(SignByName, SearchesOnceForEachObjectAndReadsWhatTheHandlesHold) {
    const std::string envelope = token.file("reads.der");
    sh("openssl smime -encrypt -des3 -binary -outform DER -in '" + dataFile + "' -out '" + envelope + "' '" +
       pkcs7File("recipient.pem") + "'");
    const std::string text = sh("openssl base64 -in '" + envelope + "'");
    const struct {
        const char *name;
        int byId;
        bool decrypting;
    } cases[] = {
        {"signer", 0, false},
        {"01", TQXP11_BY_CKA_ID, false},
        {"recipient", 0, true},
        {"03", TQXP11_BY_CKA_ID, true},
    };
    // Lengths first, then the values, for each object.
    using Types = std::vector<CK_ATTRIBUTE_TYPE>;
    const Types value{CKA_VALUE}, numbers{CKA_MODULUS, CKA_PUBLIC_EXPONENT};
    const std::vector<Types> expectedReads{value, value, numbers, numbers};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.decrypting ? "decrypting with " : "signing with ") + c.name);
        shim::reset();
        TextOwner out;
        ASSERT_EQ(c.decrypting ? TQP11_Decrypt(&session, c.name, text.c_str(), c.byId, &out.text, nullptr)
                               : TQP11_Sign(&session, c.name, nullptr, data.data(), data.size(),
                                            TQXCRYPT_DETACHED | c.byId, TQXCRYPT_HASH_SHA256, &out.text),
                  TQ_RTN_OK);
        EXPECT_EQ(tokenCalls("C_FindObjectsInit"), 2);
        EXPECT_EQ(tokenCalls(c.decrypting ? "C_Decrypt" : "C_Sign"), 1);
        std::vector<Types> reads;
        for (const shim::State::Template &t : shim::state().templates)
            if (t.function == "C_GetAttributeValue") reads.push_back(t.types);
        EXPECT_EQ(reads, expectedReads);
    }
}

}  // namespace

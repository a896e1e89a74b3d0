// OCSP checks with the requestor's certificate and key on the token,
// answered by openssl ocsp on 127.0.0.1; the request it kept shows the
// token's signature.
#include <gtest/gtest.h>

#include <openssl/ocsp.h>
#include <openssl/pem.h>

#include "bridge_token.h"
#include "ocsp_peers.h"
#include "owners.h"
#include "tqp11certs.h"

namespace {

using namespace bridgetest;

std::string ocspFile(const std::string &name) { return tqtest::fixture("ocsp/" + name); }

class OcspByName : public TokenKeys {
protected:
    void SetUp() override {
        TokenKeys::SetUp();
        importPair(ocspFile("user.key"), "requestor", "01");
        const std::string der = token.file("requestor.der");
        sh("openssl x509 -in '" + ocspFile("requestor.pem") + "' -outform DER -out '" + der + "'");
        peer("--write-object '" + der + "' --type cert --label requestor --id 01");
    }
    // One check answered by a responder that keeps the request.
    int check(const char *keyLabel, const std::string &user, const char *responderCert) {
        tqtest::OcspResponder responder(tqtest::fixture("ocsp"), 1, {"-reqout", requestFile()});
        const std::string responderText = responderCert ? tqtest::readText(ocspFile(responderCert)) : "";
        return TQXP11Crypt_OCSPVerifyCert(
            &session, "requestor", keyLabel, tqtest::readText(ocspFile(user)).c_str(),
            tqtest::readText(ocspFile("ca.pem")).c_str(), responderCert ? responderText.c_str() : nullptr,
            responder.url().c_str());
    }
    std::string requestFile() const { return token.file("request.der"); }
    // 1 when the kept request's signature verifies with the requestor's
    // public key over its tbsRequest; *isSigned says whether it has one.
    int keptRequestVerifies(bool *isSigned) {
        const Bytes der = tqtest::readFile(requestFile());
        const unsigned char *p = der.data(), *end = der.data() + der.size();
        long length = 0;
        int tag = 0, cls = 0;
        *isSigned = false;
        // OCSPRequest ::= SEQUENCE { tbsRequest, [0] EXPLICIT Signature OPTIONAL }
        if (ASN1_get_object(&p, &length, &tag, &cls, end - p) & 0x80) return -1;
        const unsigned char *tbs = p;
        if (ASN1_get_object(&p, &length, &tag, &cls, end - p) & 0x80) return -1;
        p += length;
        const long tbsLength = p - tbs;
        if (p >= end) return 0;
        *isSigned = true;
        if ((ASN1_get_object(&p, &length, &tag, &cls, end - p) & 0x80) ||
            (ASN1_get_object(&p, &length, &tag, &cls, end - p) & 0x80))
            return -1;
        tq::X509AlgorPtr algorithm(d2i_X509_ALGOR(nullptr, &p, end - p));
        tq::Asn1BitStringPtr signature(d2i_ASN1_BIT_STRING(nullptr, &p, end - p));
        int mdNid = 0, keyNid = 0;
        if (!algorithm || !signature ||
            !OBJ_find_sigid_algs(OBJ_obj2nid(algorithm->algorithm), &mdNid, &keyNid))
            return -1;
        FILE *f = std::fopen(ocspFile("requestor.pem").c_str(), "r");
        tq::X509Ptr requestor(PEM_read_X509(f, nullptr, nullptr, nullptr));
        std::fclose(f);
        tq::EvpMdCtxPtr ctx(EVP_MD_CTX_new());
        if (!requestor || EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_get_digestbynid(mdNid), nullptr,
                                               X509_get0_pubkey(requestor.get())) != 1)
            return -1;
        return EVP_DigestVerify(ctx.get(), signature->data, static_cast<size_t>(signature->length), tbs,
                                static_cast<size_t>(tbsLength));
    }
};

TEST_F(OcspByName, GoodAndRevokedWithTheTokensSignature) {
    struct Row {
        const char *user, *responder;
        int expected;
    } rows[] = {{"user-1000.pem", "responder.pem", TQ_RTN_OK},
                {"user-1001.pem", nullptr, TQ_RTN_REVOKED_KEY_COMPROMISE}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.user);
        EXPECT_EQ(check("requestor", row.user, row.responder), row.expected);
        bool isSigned = false;
        EXPECT_EQ(keptRequestVerifies(&isSigned), 1);
        EXPECT_TRUE(isSigned);
    }
}

TEST_F(OcspByName, WithoutAKeyLabelTheRequestGoesUnsigned) {
    EXPECT_EQ(check(nullptr, "user-1000.pem", nullptr), TQ_RTN_OK);
    bool isSigned = true;
    keptRequestVerifies(&isSigned);
    EXPECT_FALSE(isSigned);
}

TEST_F(OcspByName, FailingStepsGiveTheirCodes) {
    const std::string user = tqtest::readText(ocspFile("user-1000.pem"));
    const std::string ca = tqtest::readText(ocspFile("ca.pem"));
    const char *url = "http://127.0.0.1:9/";
    const tqtest::CodeCase cases[] = {
        {"no requestor",
         TQXP11Crypt_OCSPVerifyCert(&session, "nobody", nullptr, user.c_str(), ca.c_str(), nullptr, url),
         TQP11_RTN_OBJECT_NOT_EXIST},
        {"no key",
         TQXP11Crypt_OCSPVerifyCert(&session, "requestor", "nokey", user.c_str(), ca.c_str(), nullptr, url),
         TQP11_RTN_OBJECT_NOT_EXIST},
        {"no certificate text",
         TQXP11Crypt_OCSPVerifyCert(&session, "requestor", nullptr, "", ca.c_str(), nullptr, url),
         TQ_RTN_BAD_ARGUMENT},
        {"null session",
         TQXP11Crypt_OCSPVerifyCert(nullptr, "requestor", nullptr, user.c_str(), ca.c_str(), nullptr, url),
         TQ_RTN_BAD_ARGUMENT},
    };
    tqtest::expectCodes(cases);
}

}  // namespace

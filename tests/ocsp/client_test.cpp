// The OCSP client's requests, signatures, response checks and extension
// adders, proved against the openssl tool.
#include <gtest/gtest.h>

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "ocsp_internal.h"
#include "ocsp_testutil.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_store.h"

using namespace tqtest;

namespace {

std::string fx() { return ocspFixtures(); }

// The lines of openssl's text that describe a CertID.
std::string certIdLines(const std::string &text) {
    std::string out;
    for (const char *label :
         {"Hash Algorithm: ", "Issuer Name Hash: ", "Issuer Key Hash: ", "Serial Number: "}) {
        size_t at = text.find(label);
        if (at == std::string::npos) return "missing " + std::string(label);
        out += text.substr(at, text.find('\n', at) - at) + "\n";
    }
    return out;
}

tq::OcspRequestPtr ourRequest(const std::string &cert, const unsigned char *nonce,
                              OCSP_CERTID **id = nullptr) {
    tq::X509Ptr issuer = loadCert("ca.pem"), subject = loadCert(cert);
    tq::EvpMdPtr sha1(EVP_MD_fetch(nullptr, "SHA1", nullptr));
    return tq::OcspRequestPtr(
        tqxCrypt_CreateOCSPRequest(nullptr, issuer.get(), subject.get(), sha1.get(), nonce, 16, "x", id));
}

const unsigned char kNonce[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

}  // namespace

TEST(OcspRequest, MatchesOpensslsCertIdWithOneNonceAndNoRequestor) {
    HandleOwner cert(certHandle("user-1001.pem")), store(storeOf("ca.pem")), request;
    ASSERT_EQ(TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), store.get(), "http://x/", 0, request.out()),
              TQ_RTN_OK);
    EXPECT_EQ(request.get()->kind, TQXCRYPT_KIND_OCSPREQUEST);
    TempDir dir;
    std::string ours = requestText(encoded(request.get()), dir);
    sh("openssl ocsp -issuer " + fx() + "/ca.pem -cert " + fx() + "/user-1001.pem -reqout " +
       dir.file("o.der") + " 2>/dev/null");
    std::string theirs = sh("openssl ocsp -reqin " + dir.file("o.der") + " -req_text");
    EXPECT_EQ(certIdLines(ours), certIdLines(theirs));
    EXPECT_EQ(count(ours, "Certificate ID:"), 1u) << ours;
    EXPECT_EQ(ours.find("Requestor Name"), std::string::npos) << ours;
    EXPECT_EQ(ours.find("critical"), std::string::npos) << ours;
    // 04 10 and 16 nonce bytes: 36 hexadecimal digits.
    size_t at = ours.find("OCSP Nonce: \n");
    ASSERT_NE(at, std::string::npos) << ours;
    std::string value = ours.substr(at + 13);
    value = value.substr(value.find_first_not_of(' '));
    value = value.substr(0, value.find('\n'));
    EXPECT_EQ(value.size(), 36u) << value;
    EXPECT_EQ(value.compare(0, 4, "0410"), 0) << value;
    EXPECT_EQ(ours.find("Signature Algorithm"), std::string::npos);
}

TEST(OcspRequest, EveryRequestHasItsOwnNonce) {
    HandleOwner cert(certHandle("user-1000.pem")), store(storeOf("ca.pem"));
    std::string seen;
    TempDir dir;
    for (int i = 0; i < 4; ++i) {
        HandleOwner request;
        ASSERT_EQ(TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), store.get(), "u", 0, request.out()),
                  TQ_RTN_OK);
        std::string text = requestText(encoded(request.get()), dir);
        std::string nonce = text.substr(text.find("OCSP Nonce:"), 80);
        EXPECT_EQ(seen.find(nonce), std::string::npos) << "repeated " << nonce;
        seen += nonce;
    }
}

TEST(OcspRequest, ArgumentCodes) {
    HandleOwner cert(certHandle("user-1000.pem")), store(storeOf("ca.pem")), other(storeOf("responder.pem")),
        out;
    HandleOwner key(privateKey("user.key"));
    HandleOwner empty(tqtest::emptyHandle(TQXCRYPT_KIND_CERTIFICATE));
    const CodeCase cases[] = {
        {"null certificate", TQXCrypt_CreateOCSPRequest(nullptr, nullptr, store.get(), "u", 0, out.out()),
         TQ_RTN_BAD_ARGUMENT},
        {"certificate without object",
         TQXCrypt_CreateOCSPRequest(nullptr, empty.get(), store.get(), "u", 0, out.out()),
         TQ_RTN_BAD_ARGUMENT},
        {"key as certificate", TQXCrypt_CreateOCSPRequest(nullptr, key.get(), store.get(), "u", 0, out.out()),
         TQ_RTN_WRONG_HANDLE},
        {"null URL", TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), store.get(), nullptr, 0, out.out()),
         TQ_RTN_BAD_ARGUMENT},
        {"empty URL", TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), store.get(), "", 0, out.out()),
         TQ_RTN_BAD_ARGUMENT},
        {"null out", TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), store.get(), "u", 0, nullptr),
         TQ_RTN_BAD_ARGUMENT},
        {"null store", TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), nullptr, "u", 0, out.out()),
         TQ_RTN_BAD_ARGUMENT},
        {"certificate as store",
         TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), cert.get(), "u", 0, out.out()), TQ_RTN_WRONG_HANDLE},
        {"issuer absent", TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), other.get(), "u", 0, out.out()),
         TQ_RTN_NO_ISSUER},
    };
    expectCodes(cases);
    EXPECT_EQ(out.get(), nullptr);
}

TEST(OcspIssuer, FindsTheIssuerAmongTheStoresCertificates) {
    HandleOwner cert(certHandle("user-1000.pem")), store(storeOf("ca.pem")), other(storeOf("responder.pem")),
        issuer;
    ASSERT_EQ(TQXCrypt_GetCertIssuer(cert.get(), store.get(), issuer.out()), TQ_RTN_OK);
    HandleOwner ca(certHandle("ca.pem"));
    EXPECT_EQ(encoded(issuer.get()), encoded(ca.get()));
    const CodeCase cases[] = {
        {"not in the store", TQXCrypt_GetCertIssuer(cert.get(), other.get(), issuer.out()), TQ_RTN_NO_ISSUER},
        {"null out", TQXCrypt_GetCertIssuer(cert.get(), store.get(), nullptr), TQ_RTN_BAD_ARGUMENT},
        {"null certificate", TQXCrypt_GetCertIssuer(nullptr, store.get(), issuer.out()), TQ_RTN_BAD_ARGUMENT},
        {"store as certificate", TQXCrypt_GetCertIssuer(store.get(), store.get(), issuer.out()),
         TQ_RTN_WRONG_HANDLE},
        {"certificate as store", TQXCrypt_GetCertIssuer(cert.get(), cert.get(), issuer.out()),
         TQ_RTN_WRONG_HANDLE},
    };
    expectCodes(cases);
}

TEST(OcspSign, SignedRequestVerifiesWithOpensslAndIsAnswered) {
    HandleOwner key(privateKey("user.key"));
    tq::X509Ptr requestor = loadCert("requestor.pem");
    for (bool withCert : {true, false}) {
        SCOPED_TRACE(withCert ? "with requestor certificate" : "key only");
        OCSP_REQUEST *request = ourRequest("user-1004.pem", kNonce).release();
        ASSERT_EQ(tq::signRequest(&request, withCert ? requestor.get() : nullptr, key.get()), TQ_RTN_OK);
        tq::OcspRequestPtr owned(request);
        std::string der = tqtest::der(request);
        TempDir dir;
        std::string text = requestText(der, dir);
        EXPECT_NE(text.find("Signature Algorithm: sha1WithRSAEncryption"), std::string::npos) << text;
        EXPECT_EQ(text.find("Requestor Name"), std::string::npos) << text;
        EXPECT_EQ(text.find("Subject: C=TW, O=Orvane Test, CN=Requestor") != std::string::npos, withCert)
            << text;
        // The tbsRequest and the signature, cut out by asn1parse, verify with the requestor's key.
        std::string r = dir.file("req.der");
        sh("openssl asn1parse -inform DER -in " + r + " -strparse 4 -noout -out " + dir.file("tbs.der") +
           " 2>/dev/null");
        std::string parsed = sh("openssl asn1parse -inform DER -in " + r);
        size_t bit = parsed.find("BIT STRING");
        ASSERT_NE(bit, std::string::npos) << parsed;
        size_t lineStart = parsed.rfind('\n', bit) + 1;
        int offset = std::stoi(parsed.substr(lineStart, parsed.find(':', lineStart) - lineStart));
        sh("openssl asn1parse -inform DER -in " + r + " -strparse " + std::to_string(offset) +
           " -noout -out " + dir.file("sig.bin") + " 2>/dev/null; openssl x509 -in " + fx() +
           "/requestor.pem -pubkey -noout > " + dir.file("pub.pem"));
        EXPECT_NE(sh("openssl dgst -sha1 -verify " + dir.file("pub.pem") + " -signature " +
                     dir.file("sig.bin") + " " + dir.file("tbs.der"))
                      .find("Verified OK"),
                  std::string::npos);
        // openssl ocsp answers it for the right certificate.
        std::string answer = answerOf(der);
        tq::OcspBasicRespPtr basic = basicOf(answer);
        ASSERT_TRUE(basic);
        EXPECT_EQ(OCSP_resp_count(basic.get()), 1);
    }
}

TEST(OcspSign, KeyThatCannotSignGives5061) {
    HandleOwner publicKey(publicKeyOf("requestor.pem"));
    OCSP_REQUEST *request = ourRequest("user-1000.pem", kNonce).release();
    std::string before = der(request);
    EXPECT_EQ(tq::signRequest(&request, nullptr, publicKey.get()), TQ_RTN_SIGN_FAILED);
    tq::OcspRequestPtr owned(request);
    EXPECT_EQ(der(request), before);
}

TEST(OcspResponse, ResponderIdAndSignature) {
    tq::OcspRequestPtr request = ourRequest("user-1000.pem", kNonce);
    const std::string requestDer = der(request.get());
    struct Case {
        const char *name, *options, *signer, *signerKey, *responder;
        int validate;
        const char *verifyKeyOf;  // null: the leaf of the answer's certificates
        int verify;
    } cases[] = {
        {"by name", "", "responder.pem", "responder.key", "responder.pem", TQ_RTN_OK, "responder.pem",
         TQ_RTN_OK},
        {"by name, leaf key", "", "responder.pem", "responder.key", "responder.pem", TQ_RTN_OK, nullptr,
         TQ_RTN_OK},
        {"by name, other subject", "", "responder.pem", "responder.key", "responder-othername.pem",
         TQ_RTN_OCSP_RESPONDER_MISMATCH, "responder-othername.pem", TQ_RTN_OK},
        {"by key", "-resp_key_id", "responder.pem", "responder.key", "responder.pem", TQ_RTN_OK,
         "responder.pem", TQ_RTN_OK},
        {"by key, same key other subject", "-resp_key_id", "responder.pem", "responder.key",
         "responder-othername.pem", TQ_RTN_OK, "responder-othername.pem", TQ_RTN_OK},
        {"by key, other key", "-resp_key_id", "responder.pem", "responder.key", "responder-otherkey.pem",
         TQ_RTN_VERIFY_FAILED, "responder-otherkey.pem", TQ_RTN_SIGN_FAILED},
        {"signed by another key of the same name", "", "responder-otherkey.pem", "other.key", "responder.pem",
         TQ_RTN_OK, "responder.pem", TQ_RTN_SIGN_FAILED},
        {"no certificates", "-resp_no_certs", "responder.pem", "responder.key", "responder.pem", TQ_RTN_OK,
         nullptr, TQ_RTN_OCSP_NO_SIGNER},
        {"no certificates, key given", "-resp_no_certs", "responder.pem", "responder.key", "responder.pem",
         TQ_RTN_OK, "responder.pem", TQ_RTN_OK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string answer = answerOf(requestDer, c.options, c.signer, c.signerKey);
        tq::OcspBasicRespPtr basic = basicOf(answer);
        ASSERT_TRUE(basic);
        tq::X509Ptr responder = loadCert(c.responder);
        EXPECT_EQ(tqxCrypt_Validate_OCSP_RESPONSE(responder.get(), basic.get(), nullptr, 0), c.validate);
        // Without a responder certificate the responder id is not looked at.
        EXPECT_EQ(tqxCrypt_Validate_OCSP_RESPONSE(nullptr, basic.get(), nullptr, 0), TQ_RTN_OK);
        HandleOwner key(c.verifyKeyOf ? publicKeyOf(c.verifyKeyOf) : nullptr);
        tq::OcspResponsePtr response(fromDer(answer, d2i_OCSP_RESPONSE));
        OCSP_BASICRESP *verified = nullptr;
        EXPECT_EQ(tqxCrypt_OCSP_response_verify(response.get(), key.get(), &verified, 0), c.verify);
        tq::OcspBasicRespPtr owned(verified);
        EXPECT_EQ(verified != nullptr, c.verify == TQ_RTN_OK);
    }
}

TEST(OcspResponse, BasicResponseExtraction) {
    std::string goodBasic;
    {
        tq::OcspBasicRespPtr basic = basicOf(storedAnswer());
        goodBasic = derOf(static_cast<const OCSP_BASICRESP *>(basic.get()), i2d_OCSP_BASICRESP);
    }
    struct Case {
        const char *name;
        std::string der;
        int rc;
    } cases[] = {
        {"successful", derResponse(0, "1.3.6.1.5.5.7.48.1.1", goodBasic), TQ_RTN_OK},
        {"tryLater without body", derResponse(3, nullptr, ""), TQ_RTN_OCSP_NO_BODY},
        {"successful without body", derResponse(0, nullptr, ""), TQ_RTN_OCSP_NO_BODY},
        {"another type", derResponse(0, "1.3.6.1.5.5.7.48.1.3", goodBasic), TQ_RTN_OCSP_NOT_BASIC},
        {"undecodable", derResponse(0, "1.3.6.1.5.5.7.48.1.1", "\x30\x03\x02\x01"), TQ_RTN_OCSP_BAD_RESPONSE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        tq::OcspResponsePtr response(fromDer(c.der, d2i_OCSP_RESPONSE));
        ASSERT_TRUE(response);
        OCSP_BASICRESP *basic = nullptr;
        ERR_clear_error();
        EXPECT_EQ(tqxCrypt_OCSP_get_basicrsp(response.get(), &basic, 0), c.rc);
        EXPECT_EQ(ERR_peek_error(), 0u);
        OCSP_BASICRESP_free(basic);
        EXPECT_EQ(tqxCrypt_OCSP_response_verify(response.get(), nullptr, nullptr, 0),
                  c.rc == TQ_RTN_OK ? TQ_RTN_OK : c.rc);
    }
    OCSP_BASICRESP *basic = nullptr;
    EXPECT_EQ(tqxCrypt_OCSP_get_basicrsp(nullptr, &basic, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(tqxCrypt_OCSP_response_verify(nullptr, nullptr, &basic, 0), TQ_RTN_BAD_ARGUMENT);
}

TEST(OcspResponse, NonceAsRespondersEchoIt) {
    // openssl ocsp copies the request's extnValue, 04 10 and the nonce.
    tq::OcspRequestPtr request = ourRequest("user-1000.pem", kNonce);
    tq::OcspBasicRespPtr echoed = basicOf(answerOf(der(request.get())));
    ASSERT_TRUE(echoed);
    std::string bare(reinterpret_cast<const char *>(kNonce), 16);
    std::string wrapped = std::string("\x04\x10", 2) + bare;
    auto check = [](OCSP_BASICRESP *basic, const std::string &nonce) {
        return tqxCrypt_Validate_OCSP_RESPONSE(nullptr, basic,
                                               reinterpret_cast<const unsigned char *>(nonce.data()),
                                               static_cast<int>(nonce.size()));
    };
    EXPECT_EQ(check(echoed.get(), bare), TQ_RTN_OK);
    EXPECT_EQ(check(echoed.get(), wrapped), TQ_RTN_OK);
    std::string other = bare;
    other[15] ^= 1;
    EXPECT_EQ(check(echoed.get(), other), TQ_RTN_OCSP_NONCE);

    // Odd values no responder of ours sends.
    struct Case {
        const char *name;
        std::string value;  // the response's nonce extnValue; "-" for none
        int bareRc, wrappedRc;
    } cases[] = {
        {"bare bytes", bare, TQ_RTN_OK, TQ_RTN_OK},
        {"one OCTET STRING", wrapped, TQ_RTN_OK, TQ_RTN_OK},
        {"wrapped twice", std::string("\x04\x12", 2) + wrapped, TQ_RTN_OCSP_NONCE, TQ_RTN_OCSP_NONCE},
        {"other bytes", std::string("\x04\x10", 2) + other, TQ_RTN_OCSP_NONCE, TQ_RTN_OCSP_NONCE},
        {"cut short", wrapped.substr(0, 17), TQ_RTN_OCSP_NONCE, TQ_RTN_OCSP_NONCE},
        {"longer length byte", std::string("\x04\x81\x10", 3) + bare, TQ_RTN_OCSP_NONCE, TQ_RTN_OCSP_NONCE},
        {"empty", "", TQ_RTN_OCSP_NONCE, TQ_RTN_OCSP_NONCE},
        {"none", "-", TQ_RTN_OCSP_NONCE, TQ_RTN_OCSP_NONCE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        tq::OcspBasicRespPtr basic(OCSP_BASICRESP_new());
        if (c.value != "-") {
            tq::Asn1OctetStringPtr value(ASN1_OCTET_STRING_new());
            ASN1_OCTET_STRING_set(value.get(), reinterpret_cast<const unsigned char *>(c.value.data()),
                                  static_cast<int>(c.value.size()));
            tq::X509ExtensionPtr ext(
                X509_EXTENSION_create_by_NID(nullptr, NID_id_pkix_OCSP_Nonce, 0, value.get()));
            ASSERT_EQ(OCSP_BASICRESP_add_ext(basic.get(), ext.get(), -1), 1);
        }
        EXPECT_EQ(check(basic.get(), bare), c.bareRc);
        EXPECT_EQ(check(basic.get(), wrapped), c.wrappedRc);
        EXPECT_EQ(tqxCrypt_Validate_OCSP_RESPONSE(nullptr, basic.get(), nullptr, 0), TQ_RTN_OK);
    }
}

TEST(OcspResponse, CertIdComparison) {
    OCSP_CERTID *ours = nullptr;
    tq::OcspRequestPtr request = ourRequest("user-1003.pem", kNonce, &ours);
    ASSERT_TRUE(ours);
    tq::X509Ptr ca = loadCert("ca.pem"), twin = loadCert("twin.pem");
    tq::X509Ptr user = loadCert("user-1003.pem"), another = loadCert("user-1004.pem");
    tq::EvpMdPtr sha256(EVP_MD_fetch(nullptr, "SHA256", nullptr));
    tq::OcspCertIdPtr same(OCSP_cert_to_id(nullptr, user.get(), ca.get()));
    tq::OcspCertIdPtr otherSerial(OCSP_cert_to_id(nullptr, another.get(), ca.get()));
    tq::OcspCertIdPtr otherIssuerKey(OCSP_cert_to_id(nullptr, user.get(), twin.get()));
    tq::OcspCertIdPtr otherDigest(OCSP_cert_to_id(sha256.get(), user.get(), ca.get()));
    EXPECT_EQ(tqxCrypt_CERT_ID_cmp(ours, same.get()), 0);
    EXPECT_EQ(tqxCrypt_CERT_ID_cmp(same.get(), ours), 0);
    EXPECT_NE(tqxCrypt_CERT_ID_cmp(ours, otherSerial.get()), 0);
    EXPECT_NE(tqxCrypt_CERT_ID_cmp(ours, otherIssuerKey.get()), 0);
    EXPECT_NE(tqxCrypt_CERT_ID_cmp(ours, otherDigest.get()), 0);
    EXPECT_NE(tqxCrypt_CERT_ID_cmp(ours, nullptr), 0);
}

TEST(OcspExtensions, AddersAppendByDottedIdentifier) {
    HandleOwner cert(certHandle("user-1000.pem")), store(storeOf("ca.pem")), request;
    ASSERT_EQ(TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), store.get(), "u", 0, request.out()), TQ_RTN_OK);
    // The same identifier twice: 3.0 would refuse a second registration.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(TQXCrypt_OCSPReqAddReqExtensionByOID(request.get(), "1.2.3.4", "abc", 1), TQ_RTN_OK);
        EXPECT_EQ(TQXCrypt_OCSPReqAddSingleReqExtensionByOID(request.get(), "1.2.3.4.5", "xyz", 0),
                  TQ_RTN_OK);
    }
    TempDir dir;
    std::string text = requestText(encoded(request.get()), dir);
    EXPECT_EQ(count(text, "1.2.3.4: critical\n            abc"), 2u) << text;
    EXPECT_EQ(count(text, "1.2.3.4.5: \n                xyz"), 2u) << text;
    // After the single request's extensions come the request's own: nonce first, then ours.
    EXPECT_LT(text.find("1.2.3.4.5:"), text.find("OCSP Nonce"));
    EXPECT_LT(text.find("OCSP Nonce"), text.find("1.2.3.4: critical"));

    HandleOwner cipherLike;
    ASSERT_EQ(
        tqxCryptCreateHandle(cipherLike.out(), TQXCRYPT_KIND_CIPHER, cert.get()->object, nullptr, nullptr),
        TQ_RTN_OK);
    // An empty request (possible from DER) has no first single request.
    const std::string bareDer("\x30\x04\x30\x02\x30\x00", 6);
    HandleOwner empty;
    ASSERT_EQ(
        tqxCryptASN1OCSPRequestMethod()->decode(
            empty.out(), reinterpret_cast<const unsigned char *>(bareDer.data()), bareDer.size(), 0, nullptr),
        TQ_RTN_OK);
    const CodeCase cases[] = {
        {"not dotted", TQXCrypt_OCSPReqAddReqExtensionByOID(request.get(), "abc.def", "v", 0), TQ_RTN_FAILED},
        {"a name", TQXCrypt_OCSPReqAddReqExtensionByOID(request.get(), "basicConstraints", "v", 0),
         TQ_RTN_FAILED},
        {"null identifier", TQXCrypt_OCSPReqAddReqExtensionByOID(request.get(), nullptr, "v", 0),
         TQ_RTN_BAD_ARGUMENT},
        {"null value", TQXCrypt_OCSPReqAddSingleReqExtensionByOID(request.get(), "1.2.3", nullptr, 0),
         TQ_RTN_BAD_ARGUMENT},
        {"null handle", TQXCrypt_OCSPReqAddReqExtensionByOID(nullptr, "1.2.3", "v", 0), TQ_RTN_BAD_ARGUMENT},
        {"certificate handle", TQXCrypt_OCSPReqAddReqExtensionByOID(cert.get(), "1.2.3", "v", 0),
         TQ_RTN_WRONG_HANDLE},
        {"cipher-context handle of the same kind",
         TQXCrypt_OCSPReqAddSingleReqExtensionByOID(cipherLike.get(), "1.2.3", "v", 0), TQ_RTN_WRONG_HANDLE},
        {"no single request", TQXCrypt_OCSPReqAddSingleReqExtensionByOID(empty.get(), "1.2.3", "v", 0),
         TQ_RTN_FAILED},
        {"request extension on an empty request",
         TQXCrypt_OCSPReqAddReqExtensionByOID(empty.get(), "1.2.3", "v", 0), TQ_RTN_OK},
    };
    expectCodes(cases);
    TQCryptMemFree(cipherLike.release());  // its object is the certificate's
}

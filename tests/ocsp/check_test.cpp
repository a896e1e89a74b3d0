// Whole checks of a certificate against openssl ocsp and against canned
// answers built with OpenSSL, and the extension getters against openssl's
// text of requests and responses.
#include <gtest/gtest.h>

#include <openssl/pem.h>

#include "ocsp_internal.h"
#include "ocsp_peers.h"
#include "ocsp_testutil.h"
#include "tqxcrypt_store.h"

using namespace tqtest;

namespace {

std::string fx() { return ocspFixtures(); }

// A successful answer to the request inside an HTTP request, as a responder
// might build it, with the oddities a case asks for.
struct Canned {
    struct Single {
        const char *cert;
        int status, reason;
    };
    std::vector<Single> singles;
    enum Nonce { Echo, None, Bare, Twice } nonce = Echo;
    const char *signer = "responder.pem";
    const char *key = "responder.key";
};

std::string cannedAnswer(const std::string &httpRequest, const Canned &c) {
    size_t body = httpRequest.find("\r\n\r\n");
    tq::OcspRequestPtr request(fromDer(httpRequest.substr(body + 4), d2i_OCSP_REQUEST));
    EXPECT_TRUE(request);
    tq::OcspBasicRespPtr basic(OCSP_BASICRESP_new());
    tq::X509Ptr ca = loadCert("ca.pem");
    tq::Asn1TimePtr now(ASN1_TIME_set(nullptr, time(nullptr)));
    for (const Canned::Single &s : c.singles) {
        tq::X509Ptr cert = loadCert(s.cert);
        tq::OcspCertIdPtr id(OCSP_cert_to_id(nullptr, cert.get(), ca.get()));
        EXPECT_TRUE(OCSP_basic_add1_status(basic.get(), id.get(), s.status, s.reason,
                                           s.status == V_OCSP_CERTSTATUS_REVOKED ? now.get() : nullptr,
                                           now.get(), nullptr));
    }
    int at = request ? OCSP_REQUEST_get_ext_by_NID(request.get(), NID_id_pkix_OCSP_Nonce, -1) : -1;
    if (at >= 0 && c.nonce != Canned::None) {
        const ASN1_OCTET_STRING *v = X509_EXTENSION_get_data(OCSP_REQUEST_get_ext(request.get(), at));
        std::string value(reinterpret_cast<const char *>(ASN1_STRING_get0_data(v)),
                          static_cast<size_t>(ASN1_STRING_length(v)));
        if (c.nonce == Canned::Bare) value = value.substr(2);
        if (c.nonce == Canned::Twice)
            value = std::string(1, '\x04') + static_cast<char>(value.size()) + value;
        tq::Asn1OctetStringPtr os(ASN1_OCTET_STRING_new());
        ASN1_OCTET_STRING_set(os.get(), reinterpret_cast<const unsigned char *>(value.data()),
                              static_cast<int>(value.size()));
        tq::X509ExtensionPtr ext(X509_EXTENSION_create_by_NID(nullptr, NID_id_pkix_OCSP_Nonce, 0, os.get()));
        EXPECT_EQ(OCSP_BASICRESP_add_ext(basic.get(), ext.get(), -1), 1);
    }
    tq::X509Ptr signer = loadCert(c.signer);
    tq::EvpPkeyPtr key(pemPrivateKey(kOcspFixtures.path(c.key)));
    EXPECT_EQ(OCSP_basic_sign(basic.get(), signer.get(), key.get(), EVP_sha256(), nullptr, 0), 1);
    tq::OcspResponsePtr response(OCSP_response_create(OCSP_RESPONSE_STATUS_SUCCESSFUL, basic.get()));
    return der(response.get());
}

// Checks user-1000 both ways against one server answering with `answer`.
struct BothChecks {
    int verifyCert, byRequest;
    bool handedOut;
};

BothChecks checkBoth(const std::function<std::string(const std::string &)> &answer,
                     const char *responderCert = "responder.pem", const char *certName = "user-1000.pem") {
    HandleOwner cert(certHandle(certName)), store(storeOf("ca.pem"));
    HandleOwner responder(responderCert ? certHandle(responderCert) : nullptr);
    BothChecks out{};
    {
        CannedServer server([&](CannedPeer &p) { p.send(httpAnswer(answer(p.request))); });
        out.verifyCert = TQXCrypt_OCSPVerifyCert(nullptr, nullptr, cert.get(), store.get(), responder.get(),
                                                 server.url().c_str());
    }
    {
        HandleOwner request, response;
        EXPECT_EQ(TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), store.get(), "u", 0, request.out()),
                  TQ_RTN_OK);
        CannedServer server([&](CannedPeer &p) { p.send(httpAnswer(answer(p.request))); });
        out.byRequest = TQXCrypt_OCSPVerifyCertByOCSPReq(request.get(), nullptr, nullptr, responder.get(),
                                                         server.url().c_str(), 0, response.out());
        out.handedOut = response.get() != nullptr;
        if (response.get()) {
            EXPECT_EQ(response.get()->kind, TQXCRYPT_KIND_OCSPRESPONSE);
        }
    }
    return out;
}

std::string respText(TQXCRYPT_HANDLE *response) {
    TempDir dir;
    writeFile(dir.file("resp.der"), encoded(response));
    return sh("openssl ocsp -respin " + dir.file("resp.der") + " -resp_text -noverify 2>/dev/null");
}

}  // namespace

TEST(OcspCheck, StatusesFromOpensslOcsp) {
    struct Case {
        const char *cert, *text;
        int rc;
    } cases[] = {
        {"user-1000.pem", "Cert Status: good", TQ_RTN_OK},
        {"user-1001.pem", "Revocation Reason: keyCompromise", TQ_RTN_REVOKED_KEY_COMPROMISE},
        {"user-1002.pem", "Revocation Reason: cACompromise", TQ_RTN_REVOKED_CA_COMPROMISE},
        {"user-1003.pem", "Revocation Reason: affiliationChanged", TQ_RTN_REVOKED_AFFILIATION_CHANGED},
        {"user-1004.pem", "Revocation Reason: superseded", TQ_RTN_REVOKED_SUPERSEDED},
        {"user-1005.pem", "Revocation Reason: cessationOfOperation", TQ_RTN_REVOKED_CESSATION},
        {"user-1006.pem", "Revocation Reason: certificateHold", TQ_RTN_REVOKED_CERTIFICATE_HOLD},
        {"user-1007.pem", "Revocation Reason: removeFromCRL", TQ_RTN_REVOKED_REMOVE_FROM_CRL},
        {"user-1008.pem", "Revocation Reason: unspecified", TQ_RTN_REVOKED},
        {"user-1009.pem", "Cert Status: revoked", TQ_RTN_REVOKED},
        {"user-100A.pem", "Cert Status: unknown", TQ_RTN_OCSP_STATUS_UNKNOWN},
    };
    OcspResponder responder(fx(), 4 * static_cast<int>(sizeof cases / sizeof cases[0]));
    HandleOwner store(storeOf("ca.pem")), responderCert(certHandle("responder.pem"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.cert);
        HandleOwner cert(certHandle(c.cert));
        for (TQXCRYPT_HANDLE *rc : {responderCert.get(), static_cast<TQXCRYPT_HANDLE *>(nullptr)}) {
            SCOPED_TRACE(rc ? "with responder certificate" : "without");
            EXPECT_EQ(TQXCrypt_OCSPVerifyCert(nullptr, nullptr, cert.get(), store.get(), rc,
                                              responder.url("/ocsp").c_str()),
                      c.rc);
            HandleOwner request, response;
            ASSERT_EQ(TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), store.get(), "u", 0, request.out()),
                      TQ_RTN_OK);
            EXPECT_EQ(TQXCrypt_OCSPVerifyCertByOCSPReq(request.get(), nullptr, nullptr, rc,
                                                       responder.url().c_str(), 0, response.out()),
                      c.rc);
            ASSERT_NE(response.get(), nullptr);
            if (rc) {
                std::string text = respText(response.get());
                EXPECT_NE(text.find(c.text), std::string::npos) << text;
            }
        }
    }
}

TEST(OcspCheck, RequestsWrittenByOpensslOcsp) {
    OcspResponder responder(fx(), 1);
    TempDir dir;
    for (bool nonce : {true, false}) {
        SCOPED_TRACE(nonce ? "with nonce" : "without nonce");
        sh("openssl ocsp -issuer " + fx() + "/ca.pem -cert " + fx() + "/user-1001.pem " +
           (nonce ? "" : "-no_nonce ") + "-reqout " + dir.file("r.der") + " 2>/dev/null");
        Bytes der = readFile(dir.file("r.der"));
        HandleOwner request, response;
        ASSERT_EQ(tqxCryptASN1OCSPRequestMethod()->decode(request.out(), der.data(), der.size(), 0, nullptr),
                  TQ_RTN_OK);
        // Without any request extension there is nothing to read the nonce from.
        EXPECT_EQ(TQXCrypt_OCSPVerifyCertByOCSPReq(request.get(), nullptr, nullptr, nullptr,
                                                   responder.url().c_str(), 0, response.out()),
                  nonce ? TQ_RTN_REVOKED_KEY_COMPROMISE : TQ_RTN_FAILED);
    }
}

TEST(OcspCheck, ResponderCertificatesAndIds) {
    struct Case {
        const char *name;
        std::vector<std::string> options;
        const char *signer, *responder;
        int rc;
    } cases[] = {
        {"by name", {}, "responder", "responder.pem", TQ_RTN_OK},
        {"by key", {"-resp_key_id"}, "responder", "responder.pem", TQ_RTN_OK},
        {"without certificates", {"-resp_no_certs"}, "responder", "responder.pem", TQ_RTN_OK},
        {"without certificates, unchecked", {"-resp_no_certs"}, "responder", nullptr, TQ_RTN_OK},
        {"signed by another key", {}, "responder-otherkey", "responder.pem", TQ_RTN_SIGN_FAILED},
        {"signed by another key, unchecked", {}, "responder-otherkey", nullptr, TQ_RTN_OK},
        {"responder of another subject",
         {},
         "responder",
         "responder-othername.pem",
         TQ_RTN_OCSP_RESPONDER_MISMATCH},
        {"by key, responder of another subject",
         {"-resp_key_id"},
         "responder",
         "responder-othername.pem",
         TQ_RTN_OK},
        {"by key, responder of another key",
         {"-resp_key_id"},
         "responder",
         "responder-otherkey.pem",
         TQ_RTN_SIGN_FAILED},
    };
    HandleOwner cert(certHandle("user-1000.pem")), store(storeOf("ca.pem"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        OcspResponder responder(fx(), 1, c.options, c.signer);
        HandleOwner responderCert(c.responder ? certHandle(c.responder) : nullptr);
        EXPECT_EQ(TQXCrypt_OCSPVerifyCert(nullptr, nullptr, cert.get(), store.get(), responderCert.get(),
                                          responder.url().c_str()),
                  c.rc);
    }
}

TEST(OcspCheck, CannedAnswers) {
    using S = Canned::Single;
    const int revoked = V_OCSP_CERTSTATUS_REVOKED, good = V_OCSP_CERTSTATUS_GOOD;
    auto built = [](Canned c) {
        return [c](const std::string &request) { return cannedAnswer(request, c); };
    };
    auto fixed = [](std::string der) { return [der](const std::string &) { return der; }; };
    std::string goodBasic;
    {
        tq::OcspBasicRespPtr basic = basicOf(storedAnswer());
        goodBasic = derOf(static_cast<const OCSP_BASICRESP *>(basic.get()), i2d_OCSP_BASICRESP);
    }
    auto status = [](int s) {
        tq::OcspResponsePtr r(OCSP_response_create(s, nullptr));
        return der(r.get());
    };
    struct Case {
        const char *name;
        std::function<std::string(const std::string &)> answer;
        int rc;
        bool handedOut;
    } cases[] = {
        {"good", built({{S{"user-1000.pem", good, -1}}}), TQ_RTN_OK, true},
        {"malformedRequest", fixed(status(1)), TQ_RTN_OCSP_MALFORMED_REQUEST, false},
        {"internalError", fixed(status(2)), TQ_RTN_OCSP_INTERNAL_ERROR, false},
        {"tryLater", fixed(status(3)), TQ_RTN_OCSP_TRY_LATER, false},
        {"status 4", fixed(status(4)), TQ_RTN_OCSP_BAD_STATUS, false},
        {"sigRequired", fixed(status(5)), TQ_RTN_OCSP_SIG_REQUIRED, false},
        {"unauthorized", fixed(status(6)), TQ_RTN_OCSP_UNAUTHORIZED, false},
        {"status 7", fixed(status(7)), TQ_RTN_OCSP_BAD_STATUS, false},
        {"successful without body", fixed(derResponse(0, nullptr, "")), TQ_RTN_OCSP_NO_BODY, true},
        {"another type", fixed(derResponse(0, "1.3.6.1.5.5.7.48.1.3", goodBasic)), TQ_RTN_OCSP_NOT_BASIC,
         true},
        {"undecodable basic response", fixed(derResponse(0, "1.3.6.1.5.5.7.48.1.1", "\x30\x01\x05")),
         TQ_RTN_OCSP_BAD_RESPONSE, true},
        {"not an OCSP response", fixed("<html>busy</html>"), TQ_RTN_OCSP_BAD_RESPONSE, false},
        {"only other certificates", built({{S{"user-100B.pem", good, -1}, S{"user-1001.pem", revoked, 1}}}),
         TQ_RTN_OCSP_NO_MATCH, true},
        {"several: the first match decides",
         built(
             {{S{"user-100B.pem", good, -1}, S{"user-1000.pem", revoked, 1}, S{"user-1000.pem", good, -1}}}),
         TQ_RTN_REVOKED_KEY_COMPROMISE, true},
        {"revoked without reason", built({{S{"user-1000.pem", revoked, -1}}}), TQ_RTN_REVOKED, true},
        {"reason 7", built({{S{"user-1000.pem", revoked, 7}}}), TQ_RTN_REVOKED, true},
        {"unknown", built({{S{"user-1000.pem", V_OCSP_CERTSTATUS_UNKNOWN, -1}}}), TQ_RTN_OCSP_STATUS_UNKNOWN,
         true},
        {"no nonce", built({{S{"user-1000.pem", good, -1}}, Canned::None}), TQ_RTN_OCSP_NONCE, true},
        {"nonce as bare bytes", built({{S{"user-1000.pem", good, -1}}, Canned::Bare}), TQ_RTN_OK, true},
        {"nonce wrapped twice", built({{S{"user-1000.pem", good, -1}}, Canned::Twice}), TQ_RTN_OCSP_NONCE,
         true},
        {"signed by the CA, not the responder",
         built({{S{"user-1000.pem", good, -1}}, Canned::Echo, "ca.pem", "ca.key"}), TQ_RTN_SIGN_FAILED, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        BothChecks r = checkBoth(c.answer);
        EXPECT_EQ(r.verifyCert, c.rc);
        EXPECT_EQ(r.byRequest, c.rc);
        EXPECT_EQ(r.handedOut, c.handedOut);
    }
    // Without a responder certificate a foreign signature passes, as specified.
    BothChecks r =
        checkBoth(built({{S{"user-1000.pem", good, -1}}, Canned::Echo, "ca.pem", "ca.key"}), nullptr);
    EXPECT_EQ(r.verifyCert, TQ_RTN_OK);
    EXPECT_EQ(r.byRequest, TQ_RTN_OK);
}

TEST(OcspCheck, SignedRequests) {
    HandleOwner cert(certHandle("user-1000.pem")), store(storeOf("ca.pem")), key(privateKey("user.key"));
    HandleOwner requestor(certHandle("requestor.pem")), responderCert(certHandle("responder.pem"));
    for (bool withCert : {true, false}) {
        SCOPED_TRACE(withCert ? "with requestor certificate" : "key only");
        std::string sent;
        CannedServer server([&](CannedPeer &p) {
            sent = p.request.substr(p.request.find("\r\n\r\n") + 4);
            p.send(httpAnswer(cannedAnswer(p.request, {{{"user-1000.pem", V_OCSP_CERTSTATUS_GOOD, -1}}})));
        });
        EXPECT_EQ(TQXCrypt_OCSPVerifyCert(withCert ? requestor.get() : nullptr, key.get(), cert.get(),
                                          store.get(), responderCert.get(), server.url().c_str()),
                  TQ_RTN_OK);
        server.request();
        TempDir dir;
        std::string text = requestText(sent, dir);
        EXPECT_NE(text.find("Signature Algorithm: sha1WithRSAEncryption"), std::string::npos) << text;
        EXPECT_EQ(text.find("CN=Requestor") != std::string::npos, withCert) << text;
    }
    // openssl ocsp answers a signed request; the caller's handle keeps the signature.
    OcspResponder responder(fx(), 1);
    HandleOwner request, response;
    ASSERT_EQ(TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), store.get(), "u", 0, request.out()), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_OCSPVerifyCertByOCSPReq(request.get(), requestor.get(), key.get(), responderCert.get(),
                                               responder.url().c_str(), 0, response.out()),
              TQ_RTN_OK);
    TempDir dir;
    std::string text = requestText(encoded(request.get()), dir);
    EXPECT_NE(text.find("Signature Algorithm: sha1WithRSAEncryption"), std::string::npos) << text;
    EXPECT_NE(text.find("CN=Requestor"), std::string::npos) << text;
    // A public key cannot sign.
    HandleOwner publicKey(publicKeyOf("requestor.pem"));
    EXPECT_EQ(TQXCrypt_OCSPVerifyCert(nullptr, publicKey.get(), cert.get(), store.get(), nullptr,
                                      "http://127.0.0.1:1/"),
              TQ_RTN_WRONG_HANDLE);
}

TEST(OcspCheck, ArgumentCodes) {
    HandleOwner cert(certHandle("user-1000.pem")), store(storeOf("ca.pem")), other(storeOf("responder.pem"));
    HandleOwner request, response, empty;
    ASSERT_EQ(TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), store.get(), "u", 0, request.out()), TQ_RTN_OK);
    const std::string bareDer("\x30\x04\x30\x02\x30\x00", 6);
    ASSERT_EQ(
        tqxCryptASN1OCSPRequestMethod()->decode(
            empty.out(), reinterpret_cast<const unsigned char *>(bareDer.data()), bareDer.size(), 0, nullptr),
        TQ_RTN_OK);
    ASSERT_EQ(
        TQXCrypt_OCSPReqAddReqExtensionByOID(empty.get(), "1.3.6.1.5.5.7.48.1.2", "0123456789abcdef", 0),
        TQ_RTN_OK);
    HandleOwner cipherLike;
    ASSERT_EQ(
        tqxCryptCreateHandle(cipherLike.out(), TQXCRYPT_KIND_CIPHER, cert.get()->object, nullptr, nullptr),
        TQ_RTN_OK);
    const std::string closed = "http://127.0.0.1:" + std::to_string(freePort()) + "/";
    const char *url = closed.c_str();
    const CodeCase cases[] = {
        {"null certificate", TQXCrypt_OCSPVerifyCert(nullptr, nullptr, nullptr, store.get(), nullptr, url),
         TQ_RTN_BAD_ARGUMENT},
        {"store as certificate",
         TQXCrypt_OCSPVerifyCert(nullptr, nullptr, store.get(), store.get(), nullptr, url),
         TQ_RTN_WRONG_HANDLE},
        {"null URL", TQXCrypt_OCSPVerifyCert(nullptr, nullptr, cert.get(), store.get(), nullptr, nullptr),
         TQ_RTN_BAD_ARGUMENT},
        {"empty URL", TQXCrypt_OCSPVerifyCert(nullptr, nullptr, cert.get(), store.get(), nullptr, ""),
         TQ_RTN_BAD_ARGUMENT},
        {"store as responder",
         TQXCrypt_OCSPVerifyCert(nullptr, nullptr, cert.get(), store.get(), store.get(), url),
         TQ_RTN_WRONG_HANDLE},
        {"certificate as key",
         TQXCrypt_OCSPVerifyCert(nullptr, cert.get(), cert.get(), store.get(), nullptr, url),
         TQ_RTN_WRONG_HANDLE},
        {"null store", TQXCrypt_OCSPVerifyCert(nullptr, nullptr, cert.get(), nullptr, nullptr, url),
         TQ_RTN_BAD_ARGUMENT},
        {"issuer absent", TQXCrypt_OCSPVerifyCert(nullptr, nullptr, cert.get(), other.get(), nullptr, url),
         TQ_RTN_NO_ISSUER},
        {"closed port", TQXCrypt_OCSPVerifyCert(nullptr, nullptr, cert.get(), store.get(), nullptr, url),
         TQ_RTN_CONNECT},
        {"request: null",
         TQXCrypt_OCSPVerifyCertByOCSPReq(nullptr, nullptr, nullptr, nullptr, url, 0, response.out()),
         TQ_RTN_BAD_ARGUMENT},
        {"request: cipher-context handle",
         TQXCrypt_OCSPVerifyCertByOCSPReq(cipherLike.get(), nullptr, nullptr, nullptr, url, 0,
                                          response.out()),
         TQ_RTN_WRONG_HANDLE},
        {"request: null out",
         TQXCrypt_OCSPVerifyCertByOCSPReq(request.get(), nullptr, nullptr, nullptr, url, 0, nullptr),
         TQ_RTN_BAD_ARGUMENT},
        {"request: empty URL",
         TQXCrypt_OCSPVerifyCertByOCSPReq(request.get(), nullptr, nullptr, nullptr, "", 0, response.out()),
         TQ_RTN_BAD_ARGUMENT},
        {"request without single request",
         TQXCrypt_OCSPVerifyCertByOCSPReq(empty.get(), nullptr, nullptr, nullptr, url, 0, response.out()),
         TQ_RTN_FAILED},
        {"request: closed port",
         TQXCrypt_OCSPVerifyCertByOCSPReq(request.get(), nullptr, nullptr, nullptr, url, 0, response.out()),
         TQ_RTN_CONNECT},
    };
    expectCodes(cases);
    EXPECT_EQ(response.get(), nullptr);
    TQCryptMemFree(cipherLike.release());  // its object is the certificate's
}

TEST(OcspExtensionGetters, AgainstOpensslsText) {
    HandleOwner cert(certHandle("user-1000.pem")), store(storeOf("ca.pem")), request, response;
    ASSERT_EQ(TQXCrypt_CreateOCSPRequest(nullptr, cert.get(), store.get(), "u", 0, request.out()), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_OCSPReqAddReqExtensionByOID(request.get(), "1.2.3.4", "abc", 1), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_OCSPReqAddSingleReqExtensionByOID(request.get(), "1.2.3.4.5", "xyz", 0), TQ_RTN_OK);
    TempDir dir;
    std::string text = requestText(encoded(request.get()), dir);
    size_t at = text.find("OCSP Nonce: \n");
    ASSERT_NE(at, std::string::npos);
    std::string nonceHex = text.substr(text.find_first_not_of(' ', at + 13), 36);

    struct Read {
        int rc;
        std::string value;
        int critical;
    };
    using Getter = int (*)(TQXCRYPT_HANDLE *, const char *, int, TQXCRYPT_BLOB *, int *);
    auto read = [](Getter g, TQXCRYPT_HANDLE *h, const char *name) {
        BlobOwner blob;
        int critical = -1;
        int rc = g(h, name, 0, &blob, &critical);
        return Read{rc, blob.text(), critical};
    };
    auto hex = [](const std::string &s) { return toHex(Bytes(s.begin(), s.end())); };

    Read r = read(TQXCrypt_OCSPReqGetReqExtension, request.get(), "OCSP Nonce");
    EXPECT_EQ(r.rc, TQ_RTN_OK);
    EXPECT_EQ(hex(r.value), nonceHex);
    EXPECT_EQ(r.critical, 0);
    r = read(TQXCrypt_OCSPReqGetReqExtensionByOID, request.get(), "1.2.3.4");
    EXPECT_EQ(r.rc, TQ_RTN_OK);
    EXPECT_EQ(r.value, "abc");
    EXPECT_EQ(r.critical, 1);
    r = read(TQXCrypt_OCSPReqGetSingleReqExtensionByOID, request.get(), "1.2.3.4.5");
    EXPECT_EQ(r.rc, TQ_RTN_OK);
    EXPECT_EQ(r.value, "xyz");
    EXPECT_EQ(r.critical, 0);
    EXPECT_EQ(read(TQXCrypt_OCSPReqGetReqExtension, request.get(), "1.2.9").rc, TQ_RTN_OK);
    EXPECT_EQ(read(TQXCrypt_OCSPReqGetReqExtension, request.get(), "1.2.9").value, "");
    EXPECT_EQ(read(TQXCrypt_OCSPReqGetReqExtensionByOID, request.get(), "1.2.9").rc, TQ_RTN_NOT_PRESENT);
    EXPECT_EQ(read(TQXCrypt_OCSPReqGetSingleReqExtensionByOID, request.get(), "1.2.9").rc,
              TQ_RTN_NOT_PRESENT);
    EXPECT_EQ(read(TQXCrypt_OCSPReqGetReqExtension, request.get(), "no such name").rc, TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(read(TQXCrypt_OCSPReqGetReqExtension, request.get(), nullptr).rc, TQ_RTN_BAD_ARGUMENT);

    OcspResponder responder(fx(), 1);
    ASSERT_EQ(TQXCrypt_OCSPVerifyCertByOCSPReq(request.get(), nullptr, nullptr, nullptr,
                                               responder.url().c_str(), 0, response.out()),
              TQ_RTN_OK);
    std::string rtext = respText(response.get());
    at = rtext.find("OCSP Nonce: \n");
    ASSERT_NE(at, std::string::npos) << rtext;
    EXPECT_EQ(rtext.substr(rtext.find_first_not_of(' ', at + 13), 36), nonceHex);
    for (Getter g : {TQXCrypt_OCSPRspGetRspExtension, TQXCrypt_OCSPRspGetRspExtensionByOID}) {
        r = read(g, response.get(), "1.3.6.1.5.5.7.48.1.2");
        EXPECT_EQ(r.rc, TQ_RTN_OK);
        EXPECT_EQ(hex(r.value), nonceHex);
        EXPECT_EQ(read(g, response.get(), "1.2.9").rc, TQ_RTN_NOT_PRESENT);
    }
    // openssl ocsp writes no single extensions.
    r = read(TQXCrypt_OCSPRspGetSingleRspExtensionByOID, response.get(), "1.2.9");
    EXPECT_EQ(r.rc, TQ_RTN_OK);
    EXPECT_EQ(r.value, "");

    // Absent lists: a request read from openssl ocsp without nonce, and its answer.
    sh("openssl ocsp -issuer " + fx() + "/ca.pem -cert " + fx() + "/user-1000.pem -no_nonce -reqout " +
       dir.file("plain.der") + " 2>/dev/null");
    Bytes plainDer = readFile(dir.file("plain.der"));
    std::string answer = answerOf(std::string(plainDer.begin(), plainDer.end()));
    HandleOwner plain, plainResponse, pkcs12Like, empty;
    const std::string bareDer("\x30\x04\x30\x02\x30\x00", 6);
    ASSERT_EQ(
        tqxCryptASN1OCSPRequestMethod()->decode(
            empty.out(), reinterpret_cast<const unsigned char *>(bareDer.data()), bareDer.size(), 0, nullptr),
        TQ_RTN_OK);
    ASSERT_EQ(
        tqxCryptASN1OCSPRequestMethod()->decode(plain.out(), plainDer.data(), plainDer.size(), 0, nullptr),
        TQ_RTN_OK);
    ASSERT_EQ(tqxCryptASN1OCSPResponseMethod()->decode(plainResponse.out(),
                                                       reinterpret_cast<const unsigned char *>(answer.data()),
                                                       answer.size(), 0, nullptr),
              TQ_RTN_OK);
    const CodeCase cases[] = {
        {"ReqExtensionByOID, no list", read(TQXCrypt_OCSPReqGetReqExtensionByOID, plain.get(), "1.2.3").rc,
         TQ_RTN_FAILED},
        {"ReqExtensionByOID, no list, bad name",
         read(TQXCrypt_OCSPReqGetReqExtensionByOID, plain.get(), "?").rc, TQ_RTN_FAILED},
        {"ReqExtension, no list", read(TQXCrypt_OCSPReqGetReqExtension, plain.get(), "1.2.3").rc,
         TQ_RTN_FAILED},
        {"ReqExtension, no list, bad name", read(TQXCrypt_OCSPReqGetReqExtension, plain.get(), "?").rc,
         TQ_RTN_BAD_ARGUMENT},
        {"SingleReq, no list", read(TQXCrypt_OCSPReqGetSingleReqExtensionByOID, plain.get(), "1.2.3").rc,
         TQ_RTN_FAILED},
        {"RspExtension, no list", read(TQXCrypt_OCSPRspGetRspExtension, plainResponse.get(), "1.2.3").rc,
         TQ_RTN_OCSP_NONCE},
        {"RspExtensionByOID, no list",
         read(TQXCrypt_OCSPRspGetRspExtensionByOID, plainResponse.get(), "1.2.3").rc, TQ_RTN_OCSP_NONCE},
        {"RspExtension, no list, bad name",
         read(TQXCrypt_OCSPRspGetRspExtension, plainResponse.get(), "?").rc, TQ_RTN_BAD_ARGUMENT},
        {"response getter on a request", read(TQXCrypt_OCSPRspGetRspExtension, plain.get(), "1.2.3").rc,
         TQ_RTN_WRONG_HANDLE},
        {"request getter on a response",
         read(TQXCrypt_OCSPReqGetReqExtension, plainResponse.get(), "1.2.3").rc, TQ_RTN_WRONG_HANDLE},
        {"null blob", TQXCrypt_OCSPReqGetReqExtension(request.get(), "1.2.3", 0, nullptr, nullptr),
         TQ_RTN_BAD_ARGUMENT},
        {"SingleReq, no single request",
         read(TQXCrypt_OCSPReqGetSingleReqExtensionByOID, empty.get(), "1.2.3").rc, TQ_RTN_FAILED},
    };
    expectCodes(cases);
    // A PKCS#12 handle has the response's kind but not its table.
    ASSERT_EQ(tqxCryptCreateHandle(pkcs12Like.out(), TQXCRYPT_KIND_PKCS12, response.get()->object,
                                   tqxCryptASN1PKCS12Method(), nullptr),
              TQ_RTN_OK);
    EXPECT_EQ(read(TQXCrypt_OCSPRspGetRspExtension, pkcs12Like.get(), "1.2.3").rc, TQ_RTN_WRONG_HANDLE);
    TQCryptMemFree(pkcs12Like.release());
}

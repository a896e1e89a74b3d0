// A certificate's status from texts, asked of openssl ocsp on 127.0.0.1.
#include "ocsp_peers.h"
#include "textapi_support.h"

using namespace txtest;

namespace {

std::string ocspText(const std::string &name) { return tqtest::readText(tqtest::fixture("ocsp/" + name)); }

TEST(TextOcsp, GoodRevokedUnknownWithAndWithoutSigning) {
    const std::string ca = ocspText("ca.pem"), responder = ocspText("responder.pem"),
                      requestor = ocspText("requestor.pem");
    // The signing key as "RSA PRIVATE KEY" text, which needs no password.
    const std::string key =
        sh("openssl rsa -traditional -in " + tqtest::fixture("ocsp/user.key") + " 2>/dev/null");
    ASSERT_NE(key.find("BEGIN RSA PRIVATE KEY"), std::string::npos);
    const struct {
        const char *what, *cert;
        bool withResponder, signing, withRequestor;
        int expected;
    } cases[] = {
        {"good", "user-1000.pem", false, false, false, TQ_RTN_OK},
        {"good, responder certificate", "user-1000.pem", true, false, false, TQ_RTN_OK},
        {"revoked", "user-1001.pem", true, false, false, TQ_RTN_REVOKED_KEY_COMPROMISE},
        {"revoked, superseded", "user-1004.pem", false, false, false, TQ_RTN_REVOKED_SUPERSEDED},
        {"unknown", "user-100A.pem", true, false, false, TQ_RTN_OCSP_STATUS_UNKNOWN},
        {"signed with a key", "user-1000.pem", true, true, false, TQ_RTN_OK},
        {"signed, with the requestor", "user-1000.pem", true, true, true, TQ_RTN_OK},
    };
    tqtest::OcspResponder peer(tqtest::fixture("ocsp"), static_cast<int>(std::size(cases)));
    const std::string url = peer.url();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        BlockCount blocks;
        const long before = BlockCount::live();
        EXPECT_EQ(
            TQCrypt_OCSPVerifyCert(c.withRequestor ? requestor.c_str() : nullptr,
                                   c.signing ? key.c_str() : nullptr, nullptr, ocspText(c.cert).c_str(),
                                   ca.c_str(), c.withResponder ? responder.c_str() : nullptr, url.c_str()),
            c.expected);
        EXPECT_EQ(BlockCount::live(), before);
    }
    // A responder certificate of another key: the answer's signature fails.
    tqtest::OcspResponder second(tqtest::fixture("ocsp"), 1);
    EXPECT_NE(TQCrypt_OCSPVerifyCert(nullptr, nullptr, nullptr, ocspText("user-1000.pem").c_str(), ca.c_str(),
                                     ocspText("responder-otherkey.pem").c_str(), second.url().c_str()),
              TQ_RTN_OK);
    // Required texts, and a text that is no certificate; no responder is asked.
    const tqtest::CodeCase args[] = {
        {"no certificate",
         TQCrypt_OCSPVerifyCert(nullptr, nullptr, nullptr, nullptr, ca.c_str(), nullptr, "u"),
         TQ_RTN_BAD_ARGUMENT},
        {"no CA text", TQCrypt_OCSPVerifyCert(nullptr, nullptr, nullptr, ca.c_str(), nullptr, nullptr, "u"),
         TQ_RTN_BAD_ARGUMENT},
        {"no URL",
         TQCrypt_OCSPVerifyCert(nullptr, nullptr, nullptr, ca.c_str(), ca.c_str(), nullptr, nullptr),
         TQ_RTN_BAD_ARGUMENT},
        {"bad responder text",
         TQCrypt_OCSPVerifyCert(nullptr, nullptr, nullptr, ca.c_str(), ca.c_str(), "%%", "u"),
         TQ_RTN_BAD_BASE64},
    };
    tqtest::expectCodes(args);
}

}  // namespace

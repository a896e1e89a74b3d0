// Certificates and requests built field by field and signed through a key
// handle, against their twins made by `openssl ca` and `openssl req` from the
// same fields, and against the tool's verifiers, TLS and CMS.
#include <gtest/gtest.h>

#include <openssl/x509.h>

#include "build_support.h"
#include "tqxcrypt_keys.h"

using namespace buildtest;
using tqtest::BlobOwner;
using tqtest::sh;

namespace {

class Built : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        rootKey_ = privateKey("root.key.pem");
        root_ = buildRoot(rootKey_);
        leaf_ = buildLeaf(root_, rootKey_);
        dir_ = new tqtest::TempDir;
        rootPem_ = dir_->file("root.pem");
        leafPem_ = dir_->file("leaf.pem");
        saved(*dir_, "root.der", der(root_, TQXCRYPT_KIND_CERTIFICATE));
        saved(*dir_, "leaf.der", der(leaf_, TQXCRYPT_KIND_CERTIFICATE));
        sh("openssl x509 -inform DER -in '" + dir_->file("root.der") + "' -out '" + rootPem_ + "'");
        sh("openssl x509 -inform DER -in '" + dir_->file("leaf.der") + "' -out '" + leafPem_ + "'");
    }
    static void TearDownTestSuite() {
        TQXCryptFreeHandle(leaf_);
        TQXCryptFreeHandle(root_);
        TQXCryptFreeHandle(rootKey_);
        delete dir_;
    }
    static TQXCRYPT_HANDLE *rootKey_, *root_, *leaf_;
    static tqtest::TempDir *dir_;
    static std::string rootPem_, leafPem_;
};
TQXCRYPT_HANDLE *Built::rootKey_, *Built::root_, *Built::leaf_;
tqtest::TempDir *Built::dir_;
std::string Built::rootPem_, Built::leafPem_;

TEST_F(Built, RootAndLeafEqualTheirOpensslCaTwins) {
    ToolCa selfSigned(keyPath("root.key.pem"), keyPath("root.key.pem"));
    Bytes rootTwin = selfSigned.issue(keyPath("root.key.pem"), kRootSubj, "01", "250101000000Z",
                                      "20600101000000Z", kRootExtensions, true);
    EXPECT_TRUE(sameDer(der(root_, TQXCRYPT_KIND_CERTIFICATE), rootTwin));
    ToolCa ca(rootPem_, keyPath("root.key.pem"));
    Bytes leafTwin = ca.issue(keyPath("leaf.key.pem"), kLeafSubj, "0A0B0C", "250601120000Z",
                              "20550601120000Z", kLeafExtensions);
    EXPECT_TRUE(sameDer(der(leaf_, TQXCRYPT_KIND_CERTIFICATE), leafTwin));
    sh("openssl verify -CAfile '" + rootPem_ + "' '" + leafPem_ + "'");
    // A strict DER reader takes both as they are.
    sh("python3 -c \"import sys; from cryptography import x509; [x509.load_der_x509_certificate("
       "open(f,'rb').read()).extensions for f in sys.argv[1:]]\" '" +
       dir_->file("root.der") + "' '" + dir_->file("leaf.der") + "'");
}

TEST_F(Built, EachSelectorNamesItsDigestInBothAlgorithmFields) {
    for (const auto &s : tqtest::kSelectors) {
        SCOPED_TRACE(s.md);
        HandleOwner leaf(buildLeaf(root_, rootKey_, static_cast<int>(s.selector)));
        auto *cert = static_cast<X509 *>(leaf.get()->object);
        const X509_ALGOR *outer = nullptr;
        X509_get0_signature(nullptr, &outer, cert);
        int digest = NID_undef, key = NID_undef;
        ASSERT_EQ(OBJ_find_sigid_algs(X509_get_signature_nid(cert), &digest, &key), 1);
        EXPECT_STRCASEEQ(OBJ_nid2sn(digest), s.md);
        EXPECT_EQ(X509_ALGOR_cmp(outer, X509_get0_tbs_sigalg(cert)), 0);
        tqtest::TempDir dir;
        std::string pem = dir.file("leaf.pem");
        sh("openssl x509 -inform DER -out '" + pem + "' -in '" +
           saved(dir, "leaf.der", der(leaf.get(), TQXCRYPT_KIND_CERTIFICATE)) + "'");
        // The tool checks the signature itself (its security level refuses
        // the short digests as a chain, so no chain is asked for).
        std::string text = sh("openssl x509 -noout -text -in '" + pem + "' | grep 'Signature Algorithm'");
        EXPECT_EQ(text.find(OBJ_nid2ln(X509_get_signature_nid(cert))) != std::string::npos, true) << text;
        HandleOwner rootPub;
        ASSERT_EQ(TQXCrypt_GetPublicKey(rootKey_, rootPub.out()), TQ_RTN_OK);
        EXPECT_EQ(TQXCrypt_VerifyObject(leaf.get(), rootPub.get(), 0), TQ_RTN_OK);
    }
}

TEST_F(Built, LeafServesTlsVerifiedByHostNameAndAddress) {
    for (const char *check : {"-verify_hostname localhost", "-verify_ip 127.0.0.1", "-verify_ip ::1"}) {
        SCOPED_TRACE(check);
        static int round = 0;
        std::string log = dir_->file("server" + std::to_string(++round) + ".log");
        bool six = std::string(check).find("::1") != std::string::npos;
        std::string host = six ? "[::1]" : "127.0.0.1";
        int status = -1;
        std::string out = tqtest::run(
            "(timeout 20 openssl s_server -accept " + std::string(six ? "[::1]:0" : "127.0.0.1:0") +
                " -naccept 1 -www -cert '" + leafPem_ + "' -key '" + keyPath("leaf.key.pem") +
                "' < /dev/null > '" + log + "' 2>&1 &) ; for i in $(seq 100); do grep -q '^ACCEPT' '" + log +
                "' 2>/dev/null && break; sleep 0.1; done; port=$(sed -n 's/^ACCEPT .*:\\([0-9]*\\)$/\\1/p' "
                "'" +
                log + "'); [ -n \"$port\" ] || { cat '" + log +
                "'; exit 97; }; echo Q | timeout 20 openssl s_client -connect " + host + ":$port -CAfile '" +
                rootPem_ + "' -verify_return_error " + check + " 2>&1",
            &status);
        if (status == 97 && six && out.find("ddress") != std::string::npos)
            GTEST_SKIP() << "no IPv6 loopback";
        EXPECT_EQ(status, 0) << out << tqtest::readText(log);
        EXPECT_NE(out.find("Verify return code: 0 (ok)"), std::string::npos) << out;
    }
}

TEST_F(Built, LeafSignsCmsTheToolAccepts) {
    std::string data = dir_->file("data.txt"), signature = dir_->file("data.p7s");
    tqtest::writeFile(data, std::string("signed by a built leaf\n"));
    sh("openssl cms -sign -nodetach -binary -in '" + data + "' -signer '" + leafPem_ + "' -inkey '" +
       keyPath("leaf.key.pem") + "' -outform DER -out '" + signature + "'");
    sh("openssl cms -verify -binary -inform DER -in '" + signature + "' -CAfile '" + rootPem_ +
       "' -out /dev/null 2>&1");
}

TEST(Request, OneCallEqualsOpensslReq) {
    HandleOwner key(privateKey("leaf.key.pem")), pub(publicKey("leaf.pub.pem")), req;
    ASSERT_EQ(TQXCrypt_GenerateCertRequest(key.get(), nullptr, kLeafDn, 0, 4, req.out()), TQ_RTN_OK);
    ToolCa tool(keyPath("root.key.pem"), keyPath("root.key.pem"));
    Bytes twin = tqtest::shBytes("openssl req -new -config '" + tool.config() + "' -utf8 -sha256 -key '" +
                                 keyPath("leaf.key.pem") + "' -subj '" + kLeafSubj + "' -outform DER");
    EXPECT_TRUE(sameDer(der(req.get(), TQXCRYPT_KIND_CERTREQUEST), twin));
    // With the matching public key given: the same request.
    HandleOwner again;
    ASSERT_EQ(TQXCrypt_GenerateCertRequest(key.get(), pub.get(), kLeafDn, 0, 4, again.out()), TQ_RTN_OK);
    EXPECT_TRUE(sameDer(der(again.get(), TQXCRYPT_KIND_CERTREQUEST), twin));
    char *subject = nullptr;
    ASSERT_EQ(TQXCrypt_CertReqGetSubject(req.get(), 0, &subject), TQ_RTN_OK);
    EXPECT_NE(std::string(subject).find("CN=localhost\r\nEmail=leaf@example.org"), std::string::npos);
    TQCryptMemFree(subject);
}

TEST(Request, SignedOutsideTheLibraryPassesReqVerify) {
    HandleOwner pub(publicKey("leaf.pub.pem")), req;
    ASSERT_EQ(TQXCrypt_CreateCertReq(req.out()), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CertReqSetSubject(req.get(), kLeafDn), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CertReqSetPublicKey(req.get(), pub.get()), TQ_RTN_OK);
    // The blob rule: a short buffer learns the length it needs.
    unsigned char small[8];
    TQXCRYPT_BLOB shortBlob{sizeof small, small};
    EXPECT_EQ(TQXCrypt_CertReqGetHash(req.get(), 4, &shortBlob), TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(shortBlob.length, 32u);
    BlobOwner digest;
    ASSERT_EQ(TQXCrypt_CertReqGetHash(req.get(), 4, &digest), TQ_RTN_OK);
    ASSERT_EQ(digest.b.length, 32u);
    tqtest::TempDir dir;
    std::string in = saved(dir, "digest.bin", digest.bytes());
    Bytes signature = tqtest::shBytes("openssl pkeyutl -sign -inkey '" + keyPath("leaf.key.pem") +
                                      "' -pkeyopt digest:sha256 -in '" + in + "'");
    ASSERT_EQ(signature.size(), 256u);
    EXPECT_EQ(TQXCrypt_CertReqSetSignature(req.get(), signature.data(), 15, 4), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_CertReqSetSignature(req.get(), nullptr, 256, 4), TQ_RTN_BAD_ARGUMENT);
    ASSERT_EQ(
        TQXCrypt_CertReqSetSignature(req.get(), signature.data(), static_cast<int>(signature.size()), 4),
        TQ_RTN_OK);
    std::string file = saved(dir, "req.der", der(req.get(), TQXCRYPT_KIND_CERTREQUEST));
    EXPECT_NE(sh("openssl req -inform DER -in '" + file + "' -verify -noout 2>&1").find("verify OK"),
              std::string::npos);
    EXPECT_EQ(TQXCrypt_VerifyObject(req.get(), pub.get(), 0), TQ_RTN_OK);
    HandleOwner back;
    ASSERT_EQ(TQXCrypt_CertReqGetPublicKey(req.get(), back.out()), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_CheckKeyPair(back.get(), pub.get()), TQ_RTN_OK);
}

TEST(Request, KeysAreCheckedBeforeAnythingIsMade) {
    HandleOwner key(privateKey("leaf.key.pem")), pub(publicKey("leaf.pub.pem")),
        otherPub(publicKey("other.pub.pem"));
    HandleOwner cert;
    ASSERT_EQ(TQXCrypt_CreateCertificate(cert.out()), TQ_RTN_OK);
    TQXCRYPT_HANDLE *req = nullptr;
    const tqtest::CodeCase cases[] = {
        {"no private key", TQXCrypt_GenerateCertRequest(nullptr, pub.get(), "CN=x", 0, 4, &req),
         TQ_RTN_BAD_ARGUMENT},
        {"public as private", TQXCrypt_GenerateCertRequest(pub.get(), nullptr, "CN=x", 0, 4, &req),
         TQ_RTN_WRONG_HANDLE},
        {"no key at all",
         TQXCrypt_GenerateCertRequest(nullptr, nullptr, "CN=x", TQXCRYPT_CSR_NO_SIGN, 4, &req),
         TQ_RTN_BAD_ARGUMENT},
        {"certificate as public",
         TQXCrypt_GenerateCertRequest(nullptr, cert.get(), "CN=x", TQXCRYPT_CSR_NO_SIGN, 4, &req),
         TQ_RTN_WRONG_HANDLE},
        {"a pair that does not match",
         TQXCrypt_GenerateCertRequest(key.get(), otherPub.get(), "CN=x", 0, 4, &req), TQ_RTN_KEY_MISMATCH},
        {"unreadable subject", TQXCrypt_GenerateCertRequest(key.get(), nullptr, "CN", 0, 4, &req),
         TQ_RTN_BAD_FORMAT},
        {"selector 7", TQXCrypt_GenerateCertRequest(key.get(), nullptr, "CN=x", 0, 7, &req),
         TQ_RTN_SIGN_FAILED},
        {"null out", TQXCrypt_GenerateCertRequest(key.get(), nullptr, "CN=x", 0, 4, nullptr),
         TQ_RTN_BAD_ARGUMENT},
    };
    tqtest::expectCodes(cases);
    EXPECT_EQ(req, nullptr);
    TQXCryptFreeHandle(req);
    HandleOwner unsignedReq;
    ASSERT_EQ(
        TQXCrypt_GenerateCertRequest(nullptr, pub.get(), "", TQXCRYPT_CSR_NO_SIGN, 4, unsignedReq.out()),
        TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_VerifyObject(unsignedReq.get(), pub.get(), 0), TQ_RTN_VERIFY_FAILED);
}

}  // namespace

// CRLs built from texts and certificates, sorted and signed, against the
// twin `openssl ca -gencrl` makes from the same fields, and against the
// tool's revocation checks.
#include <gtest/gtest.h>

#include <openssl/x509.h>

#include "build_support.h"

using namespace buildtest;
using tqtest::sh;

namespace {

class CrlBuilt : public ::testing::Test {
protected:
    void SetUp() override {
        rootKey.h = privateKey("root.key.pem");
        root.h = buildRoot(rootKey.get());
        leaf.h = buildLeaf(root.get(), rootKey.get());
        rootPem = saved(dir, "root.der", der(root.get(), TQXCRYPT_KIND_CERTIFICATE)) + ".pem";
        leafPem = saved(dir, "leaf.der", der(leaf.get(), TQXCRYPT_KIND_CERTIFICATE)) + ".pem";
        sh("openssl x509 -inform DER -in '" + dir.file("root.der") + "' -out '" + rootPem + "'");
        sh("openssl x509 -inform DER -in '" + dir.file("leaf.der") + "' -out '" + leafPem + "'");
    }
    // Every input reason the tool can write, entered out of order.
    TQXCRYPT_HANDLE *ours() {
        HandleOwner crl;
        EXPECT_EQ(TQXCrypt_CreateCRL(crl.out()), TQ_RTN_OK);
        const unsigned char padded[] = {0x00, 0x00, 0x01};  // crlNumber 1, padded
        TQXCRYPT_BLOB number{sizeof padded, const_cast<unsigned char *>(padded)};
        TQXCRYPT_BLOB rootId{sizeof kRootKeyId, const_cast<unsigned char *>(kRootKeyId)};
        std::string issuer = std::string("DirName=") + kRootDn;
        TQXCRYPT_AUTHORITY_KEY_ID_VALUE akid{&rootId, issuer.c_str(), "01"};
        const tqtest::CodeCase steps[] = {
            {"issuer", TQXCrypt_CRLSetIssuer(crl.get(), root.get()), TQ_RTN_OK},
            {"lastUpdate", TQXCrypt_CRLSetLastUpdate(crl.get(), "250801000000+0000"), TQ_RTN_OK},
            {"nextUpdate", TQXCrypt_CRLSetNextUpdate(crl.get(), "20500101000000-0000"), TQ_RTN_OK},
            {"removeFromCRL", TQXCrypt_CRLAddRevoked(crl.get(), "0100", "250705000000+0000", 5027),
             TQ_RTN_OK},
            {"leaf, affiliation",
             TQXCrypt_CRLAddCertRevoked(crl.get(), leaf.get(), "250701000000+0000", 5023), TQ_RTN_OK},
            {"no reason", TQXCrypt_CRLAddRevoked(crl.get(), "05", "250702000000+0000", 0), TQ_RTN_OK},
            {"unspecified", TQXCrypt_CRLAddRevoked(crl.get(), "0003", "250703000000+0000", 5020), TQ_RTN_OK},
            {"raw superseded", TQXCrypt_CRLAddRevoked(crl.get(), "10", "250704000000+0000", 4), TQ_RTN_OK},
            {"cessation", TQXCrypt_CRLAddRevoked(crl.get(), "1ff", "250706000000+0000", 5025), TQ_RTN_OK},
            {"sort", TQXCrypt_CRLSortRevoked(crl.get(), 0), TQ_RTN_OK},
            {"AKID", TQXCrypt_CRLSetExtension(crl.get(), "authorityKeyIdentifier", &akid, 0), TQ_RTN_OK},
            {"crlNumber", TQXCrypt_CRLSetExtension(crl.get(), "crlNumber", &number, 0), TQ_RTN_OK},
            {"sign", TQXCrypt_SignObject(crl.get(), rootKey.get(), 4), TQ_RTN_OK},
        };
        tqtest::expectCodes(steps);
        return crl.release();
    }
    Bytes twin() {
        ToolCa ca(rootPem, keyPath("root.key.pem"));
        ca.revoked("0A0B0C", "250701000000Z", "affiliationChanged");
        ca.revoked("05", "250702000000Z", "");
        ca.revoked("03", "250703000000Z", "unspecified");
        ca.revoked("10", "250704000000Z", "superseded");
        ca.revoked("0100", "250705000000Z", "removeFromCRL");
        ca.revoked("01FF", "250706000000Z", "cessationOfOperation");
        return ca.crl("250801000000Z", "20500101000000Z",
                      "authorityKeyIdentifier = keyid:always, issuer:always\n");
    }
    tqtest::TempDir dir;
    HandleOwner rootKey, root, leaf;
    std::string rootPem, leafPem;
};

TEST_F(CrlBuilt, EqualsTheOpensslCaTwinAndRevokesForTheTool) {
    HandleOwner crl(ours());
    Bytes bytes = der(crl.get(), TQXCRYPT_KIND_CRL);
    EXPECT_TRUE(sameDer(bytes, twin()));
    std::string crlFile = saved(dir, "ours.crl", bytes);
    EXPECT_NE(sh("openssl crl -inform DER -in '" + crlFile + "' -CAfile '" + rootPem + "' -noout 2>&1")
                  .find("verify OK"),
              std::string::npos);
    sh("openssl crl -inform DER -in '" + crlFile + "' -out '" + crlFile + ".pem'");
    std::string refused = sh("openssl verify -crl_check -CAfile '" + rootPem + "' -CRLfile '" + crlFile +
                                 ".pem' '" + leafPem + "' 2>&1",
                             2);
    EXPECT_NE(refused.find("certificate revoked"), std::string::npos) << refused;
    // The leaf's signature under the CRL.
    std::string data = dir.file("data.txt"), p7 = dir.file("data.p7s");
    tqtest::writeFile(data, std::string("revoked signer\n"));
    sh("openssl cms -sign -nodetach -binary -in '" + data + "' -signer '" + leafPem + "' -inkey '" +
       keyPath("leaf.key.pem") + "' -outform DER -out '" + p7 + "'");
    sh("openssl cms -verify -binary -inform DER -in '" + p7 + "' -CAfile '" + rootPem +
       "' -out /dev/null 2>&1");
    // cms takes CRLs in with the trusted certificates.
    std::string bundle = dir.file("bundle.pem");
    sh("cat '" + rootPem + "' '" + crlFile + ".pem' > '" + bundle + "'");
    std::string cms = sh("openssl cms -verify -crl_check -binary -inform DER -in '" + p7 + "' -CAfile '" +
                             bundle + "' -out /dev/null 2>&1",
                         4);
    EXPECT_NE(cms.find("revoked"), std::string::npos) << cms;
    // A strict DER reader sees every entry and its reason.
    std::string reasons =
        sh("python3 -c \"import sys; from cryptography import x509; c = x509.load_der_x509_crl("
           "open(sys.argv[1],'rb').read()); print(c.extensions.get_extension_for_class("
           "x509.CRLNumber).value.crl_number, [(hex(r.serial_number), [e.value.reason.name for e in "
           "r.extensions]) for r in c])\" '" +
           crlFile + "'");
    EXPECT_EQ(
        reasons,
        "1 [('0x3', ['unspecified']), ('0x5', []), ('0x10', ['superseded']), ('0x100', ['remove_from_crl']), "
        "('0x1ff', ['cessation_of_operation']), ('0xa0b0c', ['affiliation_changed'])]\n");
}

TEST_F(CrlBuilt, ToolCrlChangedAndResigned) {
    Bytes twinDer = twin();
    HandleOwner crl(decode(TQXCRYPT_KIND_CRL, twinDer));
    // A change to the decoded CRL reaches its encoding before any signing.
    ASSERT_EQ(TQXCrypt_CRLSetIssuerName(crl.get(), "CN=Changed Issuer"), TQ_RTN_OK);
    Bytes changed = der(crl.get(), TQXCRYPT_KIND_CRL);
    EXPECT_NE(std::string(changed.begin(), changed.end()).find("Changed Issuer"), std::string::npos);
    ASSERT_EQ(TQXCrypt_CRLSetIssuer(crl.get(), root.get()), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLAddRevoked(crl.get(), "ABCDEF", "250710000000+0000", 5021), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLSetNextUpdate(crl.get(), "20510101000000+0000"), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLSortRevoked(crl.get(), 0), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_SignObject(crl.get(), rootKey.get(), 6), TQ_RTN_OK);
    std::string file = saved(dir, "resigned.crl", der(crl.get(), TQXCRYPT_KIND_CRL));
    std::string text = sh("openssl crl -inform DER -in '" + file + "' -CAfile '" + rootPem + "' -text 2>&1");
    EXPECT_NE(text.find("verify OK"), std::string::npos) << text;
    EXPECT_NE(text.find("ABCDEF"), std::string::npos);
    EXPECT_NE(text.find("Key Compromise"), std::string::npos);
    EXPECT_NE(text.find("Jan  1 00:00:00 2051 GMT"), std::string::npos);
    EXPECT_NE(text.find("sha512WithRSAEncryption"), std::string::npos);
}

}  // namespace

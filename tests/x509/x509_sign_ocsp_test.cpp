// The OCSP rows of signing and verifying by kind: a request made by the
// tool, signed twice through a key handle (one signature, no certificates,
// no requestor name, accepted by `openssl dgst -verify` over the
// tbsRequest), and a response made by `openssl ocsp -index`.
#include <gtest/gtest.h>

#include <openssl/asn1.h>

#include "build_support.h"
#include "tqxcrypt_keys.h"

using namespace buildtest;
using tqtest::sh;

namespace {

TQXCRYPT_HANDLE *decodeWith(const TQXCRYPT_ASN1_METHOD *table, const Bytes &der) {
    TQXCRYPT_HANDLE *h = nullptr;
    EXPECT_EQ(table->decode(&h, der.data(), der.size(), 0, nullptr), TQ_RTN_OK);
    return h;
}

Bytes encoded(TQXCRYPT_HANDLE *h) {
    tqtest::BlobOwner out;
    EXPECT_EQ(h->asn1Method->encode(h, &out, 0, nullptr), TQ_RTN_OK);
    return out.bytes();
}

// One TLV at p: its tag byte, header and content.
struct Tlv {
    int tag;
    const unsigned char *start, *content;
    long length;
    const unsigned char *end() const { return content + length; }
};
Tlv tlv(const unsigned char *p, long room) {
    Tlv t{*p, p, p, 0};
    int tag = 0, cls = 0;
    const unsigned char *q = p;
    EXPECT_EQ(ASN1_get_object(&q, &t.length, &tag, &cls, room) & 0x80, 0);
    t.content = q;
    return t;
}

class OcspRows : public ::testing::Test {
protected:
    void SetUp() override {
        key.h = privateKey("root.key.pem");
        pub.h = publicKey("root.pub.pem");
        other.h = publicKey("other.pub.pem");
        root.h = buildRoot(key.get());
        leaf.h = buildLeaf(root.get(), key.get());
        rootPem = dir.file("root.pem");
        leafPem = dir.file("leaf.pem");
        sh("openssl x509 -inform DER -out '" + rootPem + "' -in '" +
           saved(dir, "root.der", der(root.get(), TQXCRYPT_KIND_CERTIFICATE)) + "'");
        sh("openssl x509 -inform DER -out '" + leafPem + "' -in '" +
           saved(dir, "leaf.der", der(leaf.get(), TQXCRYPT_KIND_CERTIFICATE)) + "'");
        sh("openssl ocsp -issuer '" + rootPem + "' -cert '" + leafPem + "' -reqout '" + dir.file("req.der") +
           "'");
    }
    tqtest::TempDir dir;
    HandleOwner key, pub, other, root, leaf;
    std::string rootPem, leafPem;
};

TEST_F(OcspRows, RequestSignedTwiceHoldsOneSignatureTheToolAccepts) {
    HandleOwner req(decodeWith(tqxCryptASN1OCSPRequestMethod(), tqtest::readFile(dir.file("req.der"))));
    EXPECT_EQ(TQXCrypt_VerifyObject(req.get(), pub.get(), 0), TQ_RTN_OCSP_NO_SIGNATURE);
    EXPECT_EQ(TQXCrypt_VerifyObject(req.get(), other.get(), 0), TQ_RTN_OCSP_NO_SIGNATURE);
    ASSERT_EQ(TQXCrypt_SignObject(req.get(), key.get(), 2), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_SignObject(req.get(), key.get(), 4), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_VerifyObject(req.get(), pub.get(), 0), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_VerifyObject(req.get(), other.get(), 0), TQ_RTN_SIGN_FAILED);
    // No certificates inside: no signer to fall back on.
    EXPECT_EQ(req.get()->asn1Method->verify(req.get(), nullptr, 0), TQ_RTN_OCSP_NO_SIGNER);

    Bytes bytes = encoded(req.get());
    Tlv outer = tlv(bytes.data(), static_cast<long>(bytes.size()));
    Tlv tbs = tlv(outer.content, outer.end() - outer.content);
    ASSERT_LT(tbs.end(), outer.end());
    Tlv explicitSig = tlv(tbs.end(), outer.end() - tbs.end());
    EXPECT_EQ(explicitSig.tag, 0xA0);
    EXPECT_EQ(explicitSig.end(), outer.end());  // one signature, nothing after it
    Tlv signature = tlv(explicitSig.content, explicitSig.length);
    Tlv algorithm = tlv(signature.content, signature.length);
    Tlv value = tlv(algorithm.end(), signature.end() - algorithm.end());
    EXPECT_EQ(value.tag, 0x03);
    EXPECT_EQ(value.end(), signature.end());            // no certificates
    EXPECT_NE(tlv(tbs.content, tbs.length).tag, 0xA1);  // no requestorName
    std::string tbsFile = saved(dir, "tbs.der", Bytes(tbs.start, tbs.end()));
    std::string sigFile = saved(dir, "sig.bin", Bytes(value.content + 1, value.end()));
    EXPECT_NE(sh("openssl dgst -sha256 -verify '" + keyPath("root.pub.pem") + "' -signature '" + sigFile +
                 "' '" + tbsFile + "'")
                  .find("Verified OK"),
              std::string::npos);
    std::string text = sh("openssl ocsp -reqin '" + saved(dir, "signed.der", bytes) + "' -req_text");
    EXPECT_NE(text.find("sha256WithRSAEncryption"), std::string::npos) << text;

    // A changed body no longer verifies.
    size_t at = bytes.size();
    for (size_t i = 0; i + 2 < bytes.size(); ++i)
        if (bytes[i] == 0x02 && bytes[i + 1] == 0x03 && bytes[i + 2] == 0x0A)
            at = i + 4;  // the serial 0A0B0C
    ASSERT_LT(at, bytes.size());
    bytes[at] ^= 0x01;
    HandleOwner changed(decodeWith(tqxCryptASN1OCSPRequestMethod(), bytes));
    EXPECT_EQ(TQXCrypt_VerifyObject(changed.get(), pub.get(), 0), TQ_RTN_SIGN_FAILED);
}

TEST_F(OcspRows, ResponseVerifiesAndHasNoSignOperation) {
    ToolCa ca(rootPem, keyPath("root.key.pem"));
    sh("printf 'V\\t301231235959Z\\t\\t0A0B0C\\tunknown\\t/CN=localhost\\n' > '" +
       ca.dir().file("db/index.txt") + "'");
    sh("openssl ocsp -index '" + ca.dir().file("db/index.txt") + "' -rsigner '" + rootPem + "' -rkey '" +
       keyPath("root.key.pem") + "' -CA '" + rootPem + "' -reqin '" + dir.file("req.der") + "' -respout '" +
       dir.file("resp.der") + "' 2>&1");
    HandleOwner resp(decodeWith(tqxCryptASN1OCSPResponseMethod(), tqtest::readFile(dir.file("resp.der"))));
    EXPECT_EQ(TQXCrypt_VerifyObject(resp.get(), pub.get(), 0), TQ_RTN_OK);
    EXPECT_NE(TQXCrypt_VerifyObject(resp.get(), other.get(), 0), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_SignObject(resp.get(), key.get(), 4), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(tqxCrypt_ASN1_SignOCSPResponse(resp.get(), key.get(), 4), TQ_RTN_FAILED);
}

}  // namespace

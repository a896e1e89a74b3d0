// Signatures over certificates, requests and CRLs through key handles,
// checked by the openssl tool, and openssl's signatures checked by us.
#include <gtest/gtest.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstdio>

#include "keys_testutil.h"

using namespace keystest;
using tqtest::BlobOwner;
using tqtest::HandleOwner;

namespace {

// The to-be-signed part and the signature fields of each structure.
struct Signed {
    TQXCRYPT_I2D *tbs;
    X509_ALGOR *inner;
    X509_ALGOR *outer;
    ASN1_BIT_STRING *signature;
};

Signed certificateParts(TQXCRYPT_HANDLE *h) {
    auto *x = static_cast<X509 *>(h->object);
    const ASN1_BIT_STRING *sig = nullptr;
    const X509_ALGOR *alg = nullptr;
    X509_get0_signature(&sig, &alg, x);
    return {[](const void *o, unsigned char **p) { return i2d_re_X509_tbs((X509 *)o, p); },
            const_cast<X509_ALGOR *>(X509_get0_tbs_sigalg(x)), const_cast<X509_ALGOR *>(alg),
            const_cast<ASN1_BIT_STRING *>(sig)};
}

Signed requestParts(TQXCRYPT_HANDLE *h) {
    const ASN1_BIT_STRING *sig = nullptr;
    const X509_ALGOR *alg = nullptr;
    X509_REQ_get0_signature(static_cast<X509_REQ *>(h->object), &sig, &alg);
    return {[](const void *o, unsigned char **p) { return i2d_re_X509_REQ_tbs((X509_REQ *)o, p); }, nullptr,
            const_cast<X509_ALGOR *>(alg), const_cast<ASN1_BIT_STRING *>(sig)};
}

// 3.0 offers no accessor to a CRL's inner algorithm: callers here sign
// with the hash it already names.
Signed crlParts(TQXCRYPT_HANDLE *h) {
    const ASN1_BIT_STRING *sig = nullptr;
    const X509_ALGOR *alg = nullptr;
    X509_CRL_get0_signature(static_cast<X509_CRL *>(h->object), &sig, &alg);
    return {[](const void *o, unsigned char **p) { return i2d_re_X509_CRL_tbs((X509_CRL *)o, p); }, nullptr,
            const_cast<X509_ALGOR *>(alg), const_cast<ASN1_BIT_STRING *>(sig)};
}

int algorithmNid(const X509_ALGOR *alg) { return OBJ_obj2nid(alg->algorithm); }

std::string writeDer(TQXCRYPT_HANDLE *h, int kind, const tqtest::TempDir &dir, const std::string &name) {
    std::string path = dir.file(name);
    tqtest::writeFile(path, encoded(h, kind));
    return path;
}

bool certificateVerifies(const std::string &derFile) {
    int status = -1;
    std::string out = tqtest::run(
        "openssl x509 -inform DER -in " + derFile + " | openssl verify -CAfile " + fx("ca.pem") + " 2>&1",
        &status);
    return status == 0 && out.find("stdin: OK") != std::string::npos;
}

bool requestVerifies(const std::string &derFile) {
    int status = -1;
    std::string out = tqtest::run("openssl req -inform DER -in " + derFile + " -verify -noout 2>&1", &status);
    return status == 0 && out.find("verify OK") != std::string::npos;
}

bool crlVerifies(const std::string &derFile) {
    int status = -1;
    std::string out = tqtest::run(
        "openssl crl -inform DER -in " + derFile + " -CAfile " + fx("ca.pem") + " -noout 2>&1", &status);
    return status == 0 && out.find("verify OK") != std::string::npos;
}

class KeysAsn1Sign : public ::testing::Test {
protected:
    void SetUp() override {
        caKey.h = privateKey("ca.key.pem");
        caPub.h = publicKey("ca.pub.pem");
        userKey.h = privateKey("user.key.pem");
        userPub.h = publicKey("user.pub.pem");
    }
    TQXCRYPT_HANDLE *decode(int kind, const std::string &name) {
        return tqtest::decodeFixture(kind, "keys/" + name);
    }
    tqtest::TempDir dir;
    HandleOwner caKey, caPub, userKey, userPub;
};

}  // namespace

// A changed certificate re-signed with each hash: openssl sees the new
// body and the same algorithm inside and outside.
TEST_F(KeysAsn1Sign, CertificateResignedWithEachHash) {
    const struct {
        unsigned selector;
        int nid;
    } rows[] = {{2, NID_sha1WithRSAEncryption},   {3, NID_sha224WithRSAEncryption},
                {4, NID_sha256WithRSAEncryption}, {5, NID_sha384WithRSAEncryption},
                {6, NID_sha512WithRSAEncryption}, {0, NID_sha1WithRSAEncryption}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.selector);
        HandleOwner cert(decode(TQXCRYPT_KIND_CERTIFICATE, "cert.sha256.der"));
        auto *x = static_cast<X509 *>(cert.get()->object);
        ASSERT_EQ(ASN1_INTEGER_set(X509_get_serialNumber(x), 4242), 1);  // the body changes
        Signed parts = certificateParts(cert.get());
        EXPECT_EQ(tqxCrypt_ASN1_sign(parts.tbs, parts.inner, parts.outer, parts.signature, x, caKey.get(),
                                     row.selector),
                  256);
        EXPECT_EQ(algorithmNid(parts.inner), row.nid);
        EXPECT_EQ(algorithmNid(parts.outer), row.nid);
        const std::string file = writeDer(cert.get(), TQXCRYPT_KIND_CERTIFICATE, dir, "cert.der");
        EXPECT_TRUE(certificateVerifies(file));
        EXPECT_NE(sh("openssl x509 -inform DER -in " + file + " -noout -serial").find("serial=1092"),
                  std::string::npos);
        EXPECT_EQ(tqxCrypt_ASN1_verify(parts.tbs, parts.outer, parts.signature, x, caPub.get()), 1);
    }
}

// A request has only the outer algorithm.
TEST_F(KeysAsn1Sign, RequestSignedWithItsOnlyAlgorithm) {
    HandleOwner req(decode(TQXCRYPT_KIND_CERTREQUEST, "req.sha256.der"));
    auto *r = static_cast<X509_REQ *>(req.get()->object);
    X509_NAME *name = X509_NAME_new();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("Changed"),
                               -1, -1, 0);
    ASSERT_EQ(X509_REQ_set_subject_name(r, name), 1);
    X509_NAME_free(name);
    Signed parts = requestParts(req.get());
    EXPECT_EQ(tqxCrypt_ASN1_sign(parts.tbs, nullptr, parts.outer, parts.signature, r, userKey.get(), 6), 256);
    EXPECT_EQ(algorithmNid(parts.outer), NID_sha512WithRSAEncryption);
    const std::string file = writeDer(req.get(), TQXCRYPT_KIND_CERTREQUEST, dir, "req.der");
    EXPECT_TRUE(requestVerifies(file));
    EXPECT_NE(sh("openssl req -inform DER -in " + file + " -noout -subject").find("CN = Changed"),
              std::string::npos);
}

TEST_F(KeysAsn1Sign, CrlSigned) {
    HandleOwner crl(decode(TQXCRYPT_KIND_CRL, "crl.sha256.der"));
    auto *c = static_cast<X509_CRL *>(crl.get()->object);
    ASN1_TIME *when = ASN1_TIME_set(nullptr, 1700000000);
    ASSERT_EQ(X509_CRL_set1_lastUpdate(c, when), 1);  // the body changes
    ASN1_TIME_free(when);
    Signed parts = crlParts(crl.get());
    EXPECT_EQ(tqxCrypt_ASN1_sign(parts.tbs, nullptr, parts.outer, parts.signature, c, caKey.get(), 4), 256);
    const std::string file = writeDer(crl.get(), TQXCRYPT_KIND_CRL, dir, "crl.der");
    EXPECT_TRUE(crlVerifies(file));
    EXPECT_NE(sh("openssl crl -inform DER -in " + file + " -noout -lastupdate").find("Nov 14 22:13:20 2023"),
              std::string::npos);
}

// The digest goes out, openssl pkeyutl signs it, the signature comes back.
TEST_F(KeysAsn1Sign, OutsideSigner) {
    HandleOwner req(decode(TQXCRYPT_KIND_CERTREQUEST, "req.sha1.der"));
    auto *r = static_cast<X509_REQ *>(req.get()->object);
    Signed parts = requestParts(req.get());
    BlobOwner digest;
    ASSERT_EQ(tqxCrypt_ASN1_getHashValue(parts.tbs, nullptr, parts.outer, parts.signature, r, 4, &digest),
              32);
    EXPECT_EQ(algorithmNid(parts.outer), NID_sha256WithRSAEncryption);
    // It is the digest of the re-encoded request info.
    unsigned char *tbs = nullptr;
    int tbsLength = i2d_re_X509_REQ_tbs(r, &tbs);
    unsigned char expected[32];
    ASSERT_EQ(EVP_Digest(tbs, static_cast<size_t>(tbsLength), expected, nullptr, EVP_sha256(), nullptr), 1);
    OPENSSL_free(tbs);
    EXPECT_EQ(digest.bytes(), Bytes(expected, expected + 32));

    tqtest::writeFile(dir.file("digest"), digest.bytes());
    const Bytes sig = shBytes("openssl pkeyutl -sign -inkey " + fx("user.key.pem") +
                              " -pkeyopt digest:sha256 -in " + dir.file("digest"));
    EXPECT_EQ(tqxCrypt_ASN1_setSignatureValue(parts.signature, sig.data(), static_cast<int>(sig.size())),
              256);
    EXPECT_TRUE(requestVerifies(writeDer(req.get(), TQXCRYPT_KIND_CERTREQUEST, dir, "req.der")));

    // A certificate, both algorithms, through the CA key.
    HandleOwner cert(decode(TQXCRYPT_KIND_CERTIFICATE, "cert.sha1.der"));
    auto *x = static_cast<X509 *>(cert.get()->object);
    Signed cparts = certificateParts(cert.get());
    BlobOwner cdigest;
    ASSERT_EQ(
        tqxCrypt_ASN1_getHashValue(cparts.tbs, cparts.inner, cparts.outer, cparts.signature, x, 5, &cdigest),
        48);
    tqtest::writeFile(dir.file("cdigest"), cdigest.bytes());
    const Bytes csig = shBytes("openssl pkeyutl -sign -inkey " + fx("ca.key.pem") +
                               " -pkeyopt digest:sha384 -in " + dir.file("cdigest"));
    EXPECT_EQ(tqxCrypt_ASN1_setSignatureValue(cparts.signature, csig.data(), static_cast<int>(csig.size())),
              256);
    EXPECT_TRUE(certificateVerifies(writeDer(cert.get(), TQXCRYPT_KIND_CERTIFICATE, dir, "cert.der")));

    // The signature set again from its own bytes stays what it was.
    const Bytes own(cparts.signature->data, cparts.signature->data + cparts.signature->length);
    EXPECT_EQ(
        tqxCrypt_ASN1_setSignatureValue(cparts.signature, cparts.signature->data, cparts.signature->length),
        256);
    EXPECT_EQ(Bytes(cparts.signature->data, cparts.signature->data + cparts.signature->length), own);
    EXPECT_TRUE(certificateVerifies(writeDer(cert.get(), TQXCRYPT_KIND_CERTIFICATE, dir, "cert.der")));

    // Too small a buffer for the digest: failure, with the needed length.
    unsigned char small[20];
    TQXCRYPT_BLOB caller{sizeof small, small};
    EXPECT_EQ(tqxCrypt_ASN1_getHashValue(parts.tbs, nullptr, parts.outer, parts.signature, r, 4, &caller), 0);
    EXPECT_EQ(caller.length, 32u);
}

TEST_F(KeysAsn1Sign, VerifiesWhatOpensslSigned) {
    HandleOwner otherPub(publicKey("other.pub.pem"));
    for (const char *md : {"sha1", "sha256", "sha384", "sha512"}) {
        SCOPED_TRACE(md);
        const std::string m = md;
        HandleOwner cert(decode(TQXCRYPT_KIND_CERTIFICATE, "cert." + m + ".der"));
        HandleOwner req(decode(TQXCRYPT_KIND_CERTREQUEST, "req." + m + ".der"));
        HandleOwner crl(decode(TQXCRYPT_KIND_CRL, "crl." + m + ".der"));
        const struct {
            Signed parts;
            void *object;
            TQXCRYPT_HANDLE *signer;
        } rows[] = {{certificateParts(cert.get()), cert.get()->object, caPub.get()},
                    {requestParts(req.get()), req.get()->object, userPub.get()},
                    {crlParts(crl.get()), crl.get()->object, caPub.get()}};
        for (const auto &row : rows) {
            const Signed &p = row.parts;
            EXPECT_EQ(tqxCrypt_ASN1_verify(p.tbs, p.outer, p.signature, row.object, row.signer), 1);
            EXPECT_EQ(tqxCrypt_ASN1_verify(p.tbs, p.outer, p.signature, row.object, otherPub.get()), -1);
            // A private-key handle has no verify slot.
            EXPECT_EQ(tqxCrypt_ASN1_verify(p.tbs, p.outer, p.signature, row.object, caKey.get()), -1);
            p.signature->data[10] ^= 0x01;
            EXPECT_EQ(tqxCrypt_ASN1_verify(p.tbs, p.outer, p.signature, row.object, row.signer), -1);
            p.signature->data[10] ^= 0x01;
        }
    }
}

TEST_F(KeysAsn1Sign, Refusals) {
    HandleOwner cert(decode(TQXCRYPT_KIND_CERTIFICATE, "cert.sha256.der"));
    auto *x = static_cast<X509 *>(cert.get()->object);
    Signed parts = certificateParts(cert.get());
    const Bytes before(parts.signature->data, parts.signature->data + parts.signature->length);

    // Selector 7 changes nothing.
    EXPECT_EQ(tqxCrypt_ASN1_sign(parts.tbs, parts.inner, parts.outer, parts.signature, x, caKey.get(), 7), 0);
    BlobOwner digest;
    EXPECT_EQ(tqxCrypt_ASN1_getHashValue(parts.tbs, parts.inner, parts.outer, parts.signature, x, 7, &digest),
              0);
    EXPECT_EQ(algorithmNid(parts.inner), NID_sha256WithRSAEncryption);
    EXPECT_EQ(algorithmNid(parts.outer), NID_sha256WithRSAEncryption);

    // A public key cannot sign; with debug output on, the reason is printed.
    TQXCryptShowDebugMessage(1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(tqxCrypt_ASN1_sign(parts.tbs, parts.inner, parts.outer, parts.signature, x, caPub.get(), 4), 0);
    std::fflush(stdout);
    const std::string printed = testing::internal::GetCapturedStdout();
    TQXCryptShowDebugMessage(0);
    EXPECT_NE(printed.find("openssl_tqx.c:"), std::string::npos);
    EXPECT_NE(printed.find("\nNO Sign method"), std::string::npos);
    EXPECT_EQ(Bytes(parts.signature->data, parts.signature->data + parts.signature->length), before);

    // Handles that hold no key have no key method, whatever their extra pointer holds.
    HandleOwner p12(unpackedPkcs12());
    for (TQXCRYPT_HANDLE *notKey : {cert.get(), p12.get()}) {
        EXPECT_EQ(tqxCrypt_ASN1_sign(parts.tbs, parts.inner, parts.outer, parts.signature, x, notKey, 4), 0);
        EXPECT_EQ(tqxCrypt_ASN1_verify(parts.tbs, parts.outer, parts.signature, x, notKey), -1);
    }
    EXPECT_EQ(Bytes(parts.signature->data, parts.signature->data + parts.signature->length), before);

    // An algorithm that names no digest.
    HandleOwner cert2(decode(TQXCRYPT_KIND_CERTIFICATE, "cert.sha256.der"));
    Signed p2 = certificateParts(cert2.get());
    X509_ALGOR_set0(p2.outer, OBJ_nid2obj(NID_rsaEncryption), V_ASN1_NULL, nullptr);
    EXPECT_EQ(tqxCrypt_ASN1_verify(p2.tbs, p2.outer, p2.signature, cert2.get()->object, caPub.get()), -1);
    X509_ALGOR_set0(p2.outer, OBJ_nid2obj(NID_ecdsa_with_SHA256), V_ASN1_UNDEF, nullptr);
    EXPECT_EQ(tqxCrypt_ASN1_verify(p2.tbs, p2.outer, p2.signature, cert2.get()->object, caPub.get()), -1);

    EXPECT_EQ(tqxCrypt_ASN1_setSignatureValue(parts.signature, before.data(), -1), 0);
    EXPECT_EQ(tqxCrypt_ASN1_setSignatureValue(parts.signature, nullptr, 5), 0);
    EXPECT_EQ(tqxCrypt_ASN1_setSignatureValue(nullptr, before.data(), 5), 0);
    ERR_clear_error();
}

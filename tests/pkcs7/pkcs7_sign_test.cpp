// Signed-data made by the library, checked by the openssl tool.
#include <openssl/err.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "pkcs7_support.h"
#include "tqxcrypt_keys.h"

using namespace p7test;
using tqtest::BlobOwner;
using tqtest::TempDir;

namespace {

struct Shape {
    const char *what;
    int flags;
};
const Shape kShapes[] = {
    {"attached", 0},
    {"detached", TQXCRYPT_DETACHED},
    {"attached without certificates", TQXCRYPT_SIGN_NOCERTS},
    {"detached without certificates", TQXCRYPT_DETACHED | TQXCRYPT_SIGN_NOCERTS},
    {"attached with the chain", TQXCRYPT_SIGN_CHAIN},
    {"detached with the chain", TQXCRYPT_DETACHED | TQXCRYPT_SIGN_CHAIN},
};

// Both tools must accept the message and give back exactly the content.
// Neither tool takes untrusted intermediates from the command line: a message
// with its chain is checked against the root alone, any other against the
// root and the intermediate; a message without certificates gets the signer's.
void expectPeersAccept(const TempDir &dir, const Bytes &message, const Bytes &content, int flags,
                       const std::string &label) {
    SCOPED_TRACE(label);
    tqtest::writeFile(dir.file("m.der"), message);
    tqtest::writeFile(dir.file("data"), content);
    std::string args = " -binary -inform DER -in " + dir.file("m.der");
    if (flags & TQXCRYPT_DETACHED) args += " -content " + dir.file("data");
    args += " -CAfile " + fx((flags & TQXCRYPT_SIGN_CHAIN) ? "root.pem" : "chain.pem");
    if (flags & TQXCRYPT_SIGN_NOCERTS) args += " -certfile " + fx("signer.pem");
    sh("openssl cms -verify" + args + " -out " + dir.file("cms.out"));
    EXPECT_TRUE(tqtest::readFile(dir.file("cms.out")) == content) << "openssl cms";
    sh("openssl smime -verify" + args + " -out " + dir.file("smime.out"));
    EXPECT_TRUE(tqtest::readFile(dir.file("smime.out")) == content) << "openssl smime";
}

int signerInfoCount(const std::string &print) {
    int n = 0;
    for (size_t at = print.find("issuer_and_serial:"); at != std::string::npos;
         at = print.find("issuer_and_serial:", at + 1))
        ++n;
    return n;
}

PKCS7 *objectOf(TQXCRYPT_HANDLE *h) { return static_cast<PKCS7 *>(h->object); }

}  // namespace

TEST(Pkcs7Sign, EveryShapeAndSelectorVerifiesWithBothTools) {
    TempDir dir;
    HandleOwner signer(cert("signer")), k(key("signer")), s(store());
    Bytes content = tqtest::readFile(fx("data.bin"));
    for (const Selector &sel : kSelectors) {
        for (const Shape &shape : kShapes) {
            std::string label = std::string(shape.what) + ", " + sel.md;
            HandleOwner m;
            ASSERT_EQ(TQXCrypt_Sign(signer.get(), k.get(), s.get(), content.data(), content.size(),
                                    shape.flags, sel.selector, m.out()),
                      0)
                << label;
            Bytes der = p7test::der(m.get());
            expectPeersAccept(dir, der, content, shape.flags, label);
            std::string print = sh("openssl pkcs7 -inform DER -print -noout -in " + dir.file("m.der"));
            EXPECT_EQ(signerInfoCount(print), 1) << label;
            EXPECT_NE(print.find("auth_attr:\n          <ABSENT>"), std::string::npos) << label;
            EXPECT_NE(print.find(std::string("algorithm: ") + sel.md), std::string::npos) << label;

            // The certificates: none, the signer alone, or the signer and its issuers.
            int32_t count = 0;
            ASSERT_EQ(TQXCrypt_PKCS7GetCertificateCount(m.get(), &count), 0);
            int expected = (shape.flags & TQXCRYPT_SIGN_NOCERTS) ? -1
                           : (shape.flags & TQXCRYPT_SIGN_CHAIN) ? 3
                                                                 : 1;
            EXPECT_EQ(count, expected) << label;
            if (count > 0) {
                HandleOwner first;
                ASSERT_EQ(TQXCrypt_PKCS7GetCertificate(m.get(), 0, first.out()), 0);
                EXPECT_EQ(certDer(first.get()), certDer(signer.get())) << label;
            }
            // The embedded content is the data byte for byte.
            BlobOwner embedded;
            ASSERT_EQ(TQXCrypt_PKCS7GetContent(m.get(), &embedded), 0);
            EXPECT_EQ(embedded.bytes(), (shape.flags & TQXCRYPT_DETACHED) ? Bytes() : content) << label;
            // The key slot of the signer info is empty in what is handed out.
            PKCS7_SIGNER_INFO *si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(objectOf(m.get())), 0);
            EXPECT_EQ(si->pkey, nullptr) << label;
        }
    }
}

TEST(Pkcs7Sign, SignatureOpensToTheDigestInfoOfTheContent) {
    TempDir dir;
    HandleOwner signer(cert("signer")), k(key("signer")), m;
    const std::string content = "abc";
    ASSERT_EQ(
        TQXCrypt_Sign(signer.get(), k.get(), nullptr, reinterpret_cast<const unsigned char *>(content.data()),
                      content.size(), TQXCRYPT_DETACHED, 4, m.out()),
        0);
    PKCS7_SIGNER_INFO *si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(objectOf(m.get())), 0);
    tqtest::writeFile(dir.file("sig"), si->enc_digest->data, static_cast<size_t>(si->enc_digest->length));
    tqtest::writeFile(dir.file("data"), content);
    sh("openssl x509 -in " + fx("signer.pem") + " -pubkey -noout > " + dir.file("pub.pem"));
    sh("openssl dgst -sha256 -verify " + dir.file("pub.pem") + " -signature " + dir.file("sig") + " " +
       dir.file("data"));
}

TEST(Pkcs7Sign, ArgumentsKeysAndStoresGiveTheirCodes) {
    HandleOwner signer(cert("signer")), k(key("signer")), otherKey(key("other")), s(store());
    HandleOwner empty;
    ASSERT_EQ(TQXCrypt_LoadStore(empty.out(), nullptr, nullptr), 0);
    const unsigned char data[] = "data";
    TQXCRYPT_HANDLE *m2 = nullptr;
    const uint64_t tooLong = static_cast<uint64_t>(INT_MAX) + 1;
    CodeCase cases[] = {
        {"null certificate", TQXCrypt_Sign(nullptr, k.get(), nullptr, data, 4, 0, 4, &m2),
         TQ_RTN_BAD_ARGUMENT},
        {"key as certificate", TQXCrypt_Sign(k.get(), k.get(), nullptr, data, 4, 0, 4, &m2),
         TQ_RTN_WRONG_HANDLE},
        {"null key", TQXCrypt_Sign(signer.get(), nullptr, nullptr, data, 4, 0, 4, &m2), TQ_RTN_BAD_ARGUMENT},
        {"certificate as key", TQXCrypt_Sign(signer.get(), signer.get(), nullptr, data, 4, 0, 4, &m2),
         TQ_RTN_WRONG_HANDLE},
        {"null output", TQXCrypt_Sign(signer.get(), k.get(), nullptr, data, 4, 0, 4, nullptr),
         TQ_RTN_BAD_ARGUMENT},
        {"key of another certificate",
         TQXCrypt_Sign(signer.get(), otherKey.get(), nullptr, data, 4, 0, 4, &m2), TQ_RTN_KEY_MISMATCH},
        {"selector 9", TQXCrypt_Sign(signer.get(), k.get(), nullptr, data, 4, 0, 9, &m2), TQ_RTN_SIGN_FAILED},
        {"data over INT_MAX", TQXCrypt_Sign(signer.get(), k.get(), nullptr, data, tooLong, 0, 4, &m2),
         TQ_RTN_BAD_ARGUMENT},
        {"chain without a store",
         TQXCrypt_Sign(signer.get(), k.get(), nullptr, data, 4, TQXCRYPT_SIGN_CHAIN, 4, &m2),
         TQ_RTN_BAD_ARGUMENT},
        {"chain from a certificate handle",
         TQXCrypt_Sign(signer.get(), k.get(), signer.get(), data, 4, TQXCRYPT_SIGN_CHAIN, 4, &m2),
         TQ_RTN_WRONG_HANDLE},
        {"chain from an empty store",
         TQXCrypt_Sign(signer.get(), k.get(), empty.get(), data, 4, TQXCRYPT_SIGN_CHAIN, 4, &m2),
         TQ_RTN_NO_ISSUER},
    };
    expectCodes(cases);
    EXPECT_EQ(m2, nullptr);
    // Without certificates the store is not read at all.
    HandleOwner ok;
    EXPECT_EQ(TQXCrypt_Sign(signer.get(), k.get(), empty.get(), data, 4,
                            TQXCRYPT_SIGN_CHAIN | TQXCRYPT_SIGN_NOCERTS, 4, ok.out()),
              0);
}

// A key handle whose method table is not OpenSSL's: the builder must sign
// through it (as a token key would), and the key slot must be cleared on the
// failure path as well as on success.
namespace {
std::atomic<int> encryptCalls{0};
bool failEncrypt = false;
int countingEncrypt(TQXCRYPT_HANDLE *key, const unsigned char *in, uint64_t n, int flags,
                    TQXCRYPT_BLOB *out) {
    ++encryptCalls;
    if (failEncrypt) return TQ_RTN_ENCRYPT_FAILED;
    return TQXCrypt_PrivateEncrypt(key, in, n, flags, out);
}
void *roomyZeroed(size_t n) { return std::calloc(1, n < 512 ? 512 : n); }
}  // namespace

TEST(Pkcs7Sign, SignsThroughTheKeyMethodTableAndClearsTheKeySlot) {
    TempDir dir;
    HandleOwner signer(cert("signer")), k(key("signer"));
    TQXCRYPT_KEY_METHOD method = *tqxCryptRSAPriMethod();
    method.encrypt = countingEncrypt;
    // The key handle record sits in a larger zeroed block: were it left in
    // a signer info's key slot, OpenSSL would take it for a key whose last
    // reference goes and free the block, and our own free below would then
    // free it a second time, which the allocator reports.
    TQXCRYPT_HANDLE *token = nullptr;
    TQCryptSetMemCallBack(roomyZeroed, nullptr, nullptr);
    const int made =
        tqxCryptCreateHandle(&token, TQXCRYPT_KIND_PRIVATEKEY, k.get()->object, k.get()->asn1Method, &method);
    TQCryptSetMemCallBack(nullptr, nullptr, nullptr);
    ASSERT_EQ(made, TQ_RTN_OK);
    Bytes content = tqtest::readFile(fx("data.bin"));
    HandleOwner m;
    encryptCalls = 0;
    ASSERT_EQ(TQXCrypt_Sign(signer.get(), token, nullptr, content.data(), content.size(), 0, 4, m.out()), 0);
    EXPECT_EQ(encryptCalls.load(), 1);
    expectPeersAccept(dir, der(m.get()), content, 0, "through a method table of our own");

    // A failing key: TQ_RTN_SIGN_FAILED, no handle, and the message under construction is
    // freed with its key slot cleared.
    failEncrypt = true;
    HandleOwner failed;
    EXPECT_EQ(TQXCrypt_Sign(signer.get(), token, nullptr, content.data(), content.size(), 0, 4, failed.out()),
              TQ_RTN_SIGN_FAILED);
    EXPECT_EQ(failed.get(), nullptr);
    X509 *x = static_cast<X509 *>(signer.get()->object);
    PKCS7 *raw = tqxCrypt_PKCS7_sign(x, token, nullptr, content.data(), static_cast<unsigned>(content.size()),
                                     PKCS7_BINARY, 4);
    EXPECT_EQ(raw, nullptr);
    failEncrypt = false;
    // The builder itself hands out a message with an empty key slot.
    raw = tqxCrypt_PKCS7_sign(x, token, nullptr, content.data(), static_cast<unsigned>(content.size()),
                              PKCS7_BINARY, 4);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(raw), 0)->pkey, nullptr);
    PKCS7_free(raw);
    ERR_clear_error();
    TQCryptMemFree(token);
}

TEST(Pkcs7Sign, BuilderAttributesAreThoseOpenSslWrites) {
    // Without PKCS7_NOATTR: contentType, signingTime, messageDigest and the
    // S/MIME capabilities, signed as a sorted SET; both tools accept it.
    TempDir dir;
    HandleOwner signer(cert("signer")), k(key("signer"));
    Bytes content = tqtest::readFile(fx("data.bin"));
    X509 *x = static_cast<X509 *>(signer.get()->object);
    PKCS7 *raw = tqxCrypt_PKCS7_sign(x, k.get(), nullptr, content.data(),
                                     static_cast<unsigned>(content.size()), PKCS7_BINARY | PKCS7_DETACHED, 4);
    ASSERT_NE(raw, nullptr);
    HandleOwner m;
    ASSERT_EQ(tqxCryptCreateHandle(m.out(), TQXCRYPT_KIND_PKCS7, raw, tqxCryptASN1PKCS7Method(), nullptr), 0);
    expectPeersAccept(dir, der(m.get()), content, TQXCRYPT_DETACHED, "with attributes");
    std::string print = sh("openssl cms -cmsout -print -inform DER -in " + dir.file("m.der"));
    for (const char *attr : {"contentType", "signingTime", "messageDigest", "S/MIME Capabilities"})
        EXPECT_NE(print.find(attr), std::string::npos) << attr;
    // The capabilities in their order, RC2 with its key bits.
    PKCS7_SIGNER_INFO *si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(raw), 0);
    STACK_OF(X509_ALGOR) *caps = PKCS7_get_smimecap(si);
    ASSERT_NE(caps, nullptr);
    const int nids[] = {NID_des_ede3_cbc, NID_rc2_cbc, NID_rc2_cbc, NID_des_cbc, NID_rc2_cbc};
    const long bits[] = {0, 128, 64, 0, 40};
    ASSERT_EQ(sk_X509_ALGOR_num(caps), 5);
    for (int i = 0; i < 5; ++i) {
        X509_ALGOR *alg = sk_X509_ALGOR_value(caps, i);
        EXPECT_EQ(OBJ_obj2nid(alg->algorithm), nids[i]) << i;
        if (bits[i]) {
            ASSERT_NE(alg->parameter, nullptr);
            EXPECT_EQ(ASN1_INTEGER_get(alg->parameter->value.integer), bits[i]) << i;
        }
    }
    sk_X509_ALGOR_pop_free(caps, X509_ALGOR_free);
}

TEST(Pkcs7Sign, ForeignSignaturesWrapIntoVerifiableMessages) {
    TempDir dir;
    HandleOwner signer(cert("signer")), k(key("signer"));
    Bytes content = tqtest::readFile(fx("data.bin"));
    tqtest::writeFile(dir.file("content"), content);
    std::string pem = tqtest::readText(fx("signer.pem"));
    const int selectors[] = {1, 2, 4, 6};
    for (int selector : selectors) {
        const char *md = kSelectors[selector].md;
        for (int flags : {0, TQXCRYPT_DETACHED, TQXCRYPT_DETACHED | TQXCRYPT_SIGN_NOCERTS}) {
            std::string label = std::string(md) + " flags " + std::to_string(flags);
            // The signature comes from the openssl tool over the digest.
            sh(std::string("openssl dgst -") + md + " -binary -out " + dir.file("digest") + " " +
               dir.file("content"));
            sh("openssl pkeyutl -sign -inkey " + fx("signer.key.pem") + " -pkeyopt digest:" + md + " -in " +
               dir.file("digest") + " -out " + dir.file("sig"));
            Bytes sig = tqtest::readFile(dir.file("sig"));
            HandleOwner m;
            ASSERT_EQ(
                tqxCrypt_GeneratePKCS7WithHandle(sig.data(), static_cast<unsigned>(sig.size()), signer.get(),
                                                 content.data(), content.size(), flags, selector, m.out()),
                0)
                << label;
            expectPeersAccept(dir, der(m.get()), content, flags, label);
            // The same from certificate text.
            HandleOwner fromText;
            ASSERT_EQ(tqxCrypt_GeneratePKCS7(sig.data(), static_cast<int>(sig.size()), pem.c_str(),
                                             static_cast<int>(pem.size()), content.data(), content.size(),
                                             flags, selector, fromText.out()),
                      0);
            EXPECT_EQ(der(fromText.get()), der(m.get())) << label;
        }
    }
    // A signature of our own key method, checked by our own verifier.
    BlobOwner sig;
    ASSERT_EQ(TQXCrypt_PureSign(k.get(), content.data(), content.size(), 4 | TQXCRYPT_PURE_HASH_DATA, &sig),
              0);
    HandleOwner m;
    ASSERT_EQ(tqxCrypt_GeneratePKCS7WithHandle(sig.b.data, static_cast<unsigned>(sig.b.length), signer.get(),
                                               content.data(), content.size(), 0, 4, m.out()),
              0);
    EXPECT_EQ(
        TQXCrypt_Verify(nullptr, m.get(), content.data(), content.size(), nullptr, 0, 0, 0, nullptr, nullptr),
        0);

    TQXCRYPT_HANDLE *none = nullptr;
    CodeCase cases[] = {
        {"selector 9",
         tqxCrypt_GeneratePKCS7WithHandle(sig.b.data, 256, signer.get(), content.data(), content.size(), 0, 9,
                                          &none),
         TQ_RTN_SIGN_FAILED},
        {"signature length over INT_MAX",
         tqxCrypt_GeneratePKCS7WithHandle(sig.b.data, 0x80000000u, signer.get(), content.data(),
                                          content.size(), 0, 4, &none),
         TQ_RTN_BAD_ARGUMENT},
        {"content over INT_MAX",
         tqxCrypt_GeneratePKCS7WithHandle(sig.b.data, 256, signer.get(), content.data(),
                                          static_cast<uint64_t>(INT_MAX) + 1, 0, 4, &none),
         TQ_RTN_BAD_ARGUMENT},
        {"negative signature length",
         tqxCrypt_GeneratePKCS7(sig.b.data, -1, pem.c_str(), static_cast<int>(pem.size()), content.data(),
                                content.size(), 0, 4, &none),
         TQ_RTN_BAD_ARGUMENT},
        {"certificate text that is no certificate",
         tqxCrypt_GeneratePKCS7(sig.b.data, 256, "nonsense", 8, content.data(), content.size(), 0, 4, &none),
         TQ_RTN_BAD_CERTIFICATE},
        {"key as certificate",
         tqxCrypt_GeneratePKCS7WithHandle(sig.b.data, 256, k.get(), content.data(), content.size(), 0, 4,
                                          &none),
         TQ_RTN_WRONG_HANDLE},
        {"null output",
         tqxCrypt_GeneratePKCS7WithHandle(sig.b.data, 256, signer.get(), content.data(), content.size(), 0, 4,
                                          nullptr),
         TQ_RTN_BAD_ARGUMENT},
    };
    expectCodes(cases);
    EXPECT_EQ(none, nullptr);
}

TEST(Pkcs7Sign, ComposedSignatureKeepsTheSignerInfoAndVerifies) {
    TempDir dir;
    Bytes content = tqtest::readFile(fx("data.bin"));
    tqtest::writeFile(dir.file("content"), content);
    sh("openssl smime -sign -binary -noattr -md sha256 -in " + dir.file("content") + " -signer " +
       fx("signer.pem") + " -inkey " + fx("signer.key.pem") + " -outform DER -out " + dir.file("theirs.der"));
    HandleOwner theirs(message(tqtest::readFile(dir.file("theirs.der"))));
    HandleOwner si, signer(cert("signer")), composed;
    ASSERT_EQ(TQXCrypt_PKCS7GetSignerInfo(theirs.get(), 0, si.out()), 0);
    ASSERT_EQ(TQXCrypt_ComposeSignature(signer.get(), si.get(), 0, composed.out()), 0);
    expectPeersAccept(dir, der(composed.get()), content, TQXCRYPT_DETACHED, "composed");
    HandleOwner si2;
    ASSERT_EQ(TQXCrypt_PKCS7GetSignerInfo(composed.get(), 0, si2.out()), 0);
    auto siDer = [](TQXCRYPT_HANDLE *h) {
        unsigned char *p = nullptr;
        int n = i2d_PKCS7_SIGNER_INFO(static_cast<PKCS7_SIGNER_INFO *>(h->object), &p);
        Bytes b(p, p + (n > 0 ? n : 0));
        OPENSSL_free(p);
        return b;
    };
    EXPECT_EQ(siDer(si2.get()), siDer(si.get()));
    TQXCRYPT_HANDLE *none = nullptr;
    CodeCase cases[] = {
        {"null certificate", TQXCrypt_ComposeSignature(nullptr, si.get(), 0, &none), TQ_RTN_BAD_ARGUMENT},
        {"signer info as certificate", TQXCrypt_ComposeSignature(si.get(), si.get(), 0, &none),
         TQ_RTN_WRONG_HANDLE},
        {"null signer info", TQXCrypt_ComposeSignature(signer.get(), nullptr, 0, &none), TQ_RTN_BAD_ARGUMENT},
        {"certificate as signer info", TQXCrypt_ComposeSignature(signer.get(), signer.get(), 0, &none),
         TQ_RTN_WRONG_HANDLE},
        {"null output", TQXCrypt_ComposeSignature(signer.get(), si.get(), 0, nullptr), TQ_RTN_BAD_ARGUMENT},
    };
    expectCodes(cases);
}

TEST(Pkcs7Sign, CodeSigningFormVerifiesWithBothTools) {
    TempDir dir;
    HandleOwner signer(cert("signer")), k(key("signer")), s(store()), m;
    Bytes content = tqtest::readFile(fx("data.bin"));
    ASSERT_EQ(TQXCrypt_CodeSignHash(signer.get(), k.get(), s.get(), content.data(), content.size(), 0,
                                    "A program", "http://example.org/", nullptr, m.out()),
              0);
    expectPeersAccept(dir, der(m.get()), content, TQXCRYPT_DETACHED, "code signing");
    std::string print = sh("openssl cms -cmsout -print -inform DER -in " + dir.file("m.der"));
    for (const char *field : {"algorithm: md5", "1.3.6.1.4.1.311.2.1.4", "signingTime", "messageDigest"})
        EXPECT_NE(print.find(field), std::string::npos) << field;
    EXPECT_EQ(print.find("SMIMECapabilities"), std::string::npos);
    int32_t count = 0;
    ASSERT_EQ(TQXCrypt_PKCS7GetCertificateCount(m.get(), &count), 0);
    EXPECT_EQ(count, 3);
    TQXCRYPT_HANDLE *none = nullptr;
    CodeCase cases[] = {
        {"null store",
         TQXCrypt_CodeSignHash(signer.get(), k.get(), nullptr, content.data(), content.size(), 0, nullptr,
                               nullptr, nullptr, &none),
         TQ_RTN_BAD_ARGUMENT},
        {"certificate as store",
         TQXCrypt_CodeSignHash(signer.get(), k.get(), signer.get(), content.data(), content.size(), 0,
                               nullptr, nullptr, nullptr, &none),
         TQ_RTN_WRONG_HANDLE},
        {"other key",
         TQXCrypt_CodeSignHash(signer.get(), s.get(), s.get(), content.data(), content.size(), 0, nullptr,
                               nullptr, nullptr, &none),
         TQ_RTN_WRONG_HANDLE},
    };
    expectCodes(cases);
}

TEST(Pkcs7Sign, MessagesWithoutContentStillEncode) {
    // An empty signed-data, a certificate-only message and a composed
    // signature all carry a data content type, so they encode and the tool
    // reads them.
    TempDir dir;
    HandleOwner empty, signer(cert("signer")), inter(cert("inter"));
    ASSERT_EQ(TQXCrypt_CreatePKCS7(empty.out()), 0);
    tqtest::writeFile(dir.file("empty.der"), der(empty.get()));
    sh("openssl pkcs7 -inform DER -in " + dir.file("empty.der") + " -noout");
    ASSERT_EQ(TQXCrypt_PKCS7AddCertificate(empty.get(), signer.get()), 0);
    ASSERT_EQ(TQXCrypt_PKCS7AddCertificate(empty.get(), inter.get()), 0);
    tqtest::writeFile(dir.file("certs.der"), der(empty.get()));
    std::string certs = sh("openssl pkcs7 -inform DER -in " + dir.file("certs.der") + " -print_certs -noout");
    EXPECT_NE(certs.find("CN = Signer One"), std::string::npos);
    EXPECT_NE(certs.find("CN = PKCS7 Intermediate"), std::string::npos);
    HandleOwner chain;
    ASSERT_EQ(TQXCrypt_PKCS7GetCertChain(empty.get(), chain.out()), 0);
    tqtest::writeFile(dir.file("chain.der"), der(chain.get()));
    EXPECT_EQ(sh("openssl pkcs7 -inform DER -in " + dir.file("chain.der") + " -print_certs -noout"), certs);
}

TEST(Pkcs7Sign, FinalStepRefusesAMessageThatCarriesOnlyItsType) {
    // signed, signed-and-enveloped and enveloped data whose optional content
    // is absent, as a decoder hands them out.
    for (unsigned char type : {0x02, 0x03, 0x04}) {
        const unsigned char der[] = {0x30, 0x0B, 0x06, 0x09, 0x2A, 0x86, 0x48,
                                     0x86, 0xF7, 0x0D, 0x01, 0x07, type};
        const unsigned char *p = der;
        PKCS7 *p7 = d2i_PKCS7(nullptr, &p, sizeof der);
        ASSERT_NE(p7, nullptr) << "type " << int(type);
        ASSERT_EQ(p7->d.ptr, nullptr);
        BIO *chain = BIO_new(BIO_s_mem());
        EXPECT_EQ(tqx_PKCS7_dataFinal(p7, chain), 0) << "type " << int(type);
        ERR_clear_error();
        BIO_free(chain);
        PKCS7_free(p7);
    }
}

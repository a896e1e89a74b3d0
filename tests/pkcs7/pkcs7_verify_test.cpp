// Messages made by the openssl tool, verified and taken apart by the library.
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <climits>
#include <ctime>
#include <cstdlib>
#include <vector>

#include "pkcs7_support.h"

using namespace p7test;
using tqtest::BlobOwner;
using tqtest::TempDir;

namespace {

// openssl smime -sign with the given options over data.bin, as DER.
Bytes toolSigned(const TempDir &dir, const std::string &options, const std::string &signer = "signer",
                 const std::string &in = "") {
    std::string input = in.empty() ? fx("data.bin") : in;
    sh("openssl smime -sign -binary " + options + " -in " + input + " -signer " + fx(signer + ".pem") +
       " -inkey " + fx(signer + ".key.pem") + " -outform DER -out " + dir.file("tool.der"));
    return tqtest::readFile(dir.file("tool.der"));
}

X509 *x509Of(TQXCRYPT_HANDLE *h) { return static_cast<X509 *>(h->object); }

// The certificates that `openssl pkcs7 -print_certs` shows, in its order.
std::vector<X509 *> printedCerts(const std::string &derFile) {
    std::string pem = sh("openssl pkcs7 -inform DER -in " + derFile + " -print_certs");
    BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    std::vector<X509 *> certs;
    while (X509 *x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) certs.push_back(x);
    BIO_free(bio);
    ERR_clear_error();
    return certs;
}
void freeCerts(std::vector<X509 *> &certs) {
    for (X509 *x : certs) X509_free(x);
    certs.clear();
}

int verify(TQXCRYPT_HANDLE *store, TQXCRYPT_HANDLE *m, const Bytes *data, int flags,
           const char *rule = nullptr, int index = 0, TQXCRYPT_HANDLE **si = nullptr,
           TQXCRYPT_HANDLE **cert = nullptr) {
    return TQXCrypt_Verify(store, m, data ? data->data() : nullptr, data ? data->size() : 0, rule, index,
                           flags, 0, si, cert);
}

}  // namespace

TEST(Pkcs7Verify, ToolMessagesVerifyWithEveryCheckOnAndOff) {
    TempDir dir;
    HandleOwner s(store(true)), signer(cert("signer"));
    Bytes content = tqtest::readFile(fx("data.bin"));
    const char *mds[] = {"sha256", "sha1", "md5", "sha512"};
    for (const char *md : mds) {
        for (bool attached : {false, true}) {
            for (bool attrs : {false, true}) {
                std::string options =
                    std::string("-md ") + md + (attached ? " -nodetach" : "") + (attrs ? "" : " -noattr");
                HandleOwner m(message(toolSigned(dir, options)));
                // What the tool itself reads out of the message.
                sh("openssl cms -verify -binary -inform DER -in " + dir.file("tool.der") +
                   (attached ? "" : " -content " + fx("data.bin")) + " -CAfile " + fx("chain.pem") +
                   " -out " + dir.file("tool.out"));
                for (int checks : {0, TQXCRYPT_VERIFY_CHAIN, TQXCRYPT_VERIFY_CRL}) {
                    for (const char *rule : {static_cast<const char *>(nullptr), "CN=Signer One"}) {
                        std::string label =
                            options + " checks " + std::to_string(checks) + (rule ? " with rule" : "");
                        int flags = checks | (attached ? 0 : TQXCRYPT_DETACHED);
                        HandleOwner si, who;
                        EXPECT_EQ(verify(s.get(), m.get(), &content, flags, rule, 0, si.out(), who.out()), 0)
                            << label;
                        ASSERT_NE(who.get(), nullptr) << label;
                        EXPECT_EQ(certDer(who.get()), certDer(signer.get())) << label;
                        EXPECT_NE(si.get(), nullptr) << label;
                    }
                }
                // An embedded content verifies without data too, and reads as the tool shows it.
                if (attached) {
                    EXPECT_EQ(verify(s.get(), m.get(), nullptr, TQXCRYPT_VERIFY_CRL), 0) << options;
                }
                BlobOwner got;
                ASSERT_EQ(TQXCrypt_PKCS7GetContent(m.get(), &got), 0);
                EXPECT_TRUE(got.bytes() == (attached ? tqtest::readFile(dir.file("tool.out")) : Bytes()))
                    << options;
                if (got.b.data) {
                    EXPECT_EQ(got.b.data[got.b.length], 0);
                }
            }
        }
    }
}

TEST(Pkcs7Verify, EachFailureGivesItsCode) {
    TempDir dir;
    HandleOwner withCrl(store(true)), plain(store(false));
    Bytes content = tqtest::readFile(fx("data.bin"));
    Bytes other = content;
    other[3] ^= 1;

    HandleOwner attached(message(toolSigned(dir, "-nodetach -noattr")));
    HandleOwner detached(message(toolSigned(dir, "")));
    HandleOwner noCerts(message(toolSigned(dir, "-nodetach -nocerts")));
    HandleOwner revoked(message(toolSigned(dir, "-nodetach", "revoked")));
    // The signature is the last field of a message without attributes.
    Bytes broken = toolSigned(dir, "-nodetach -noattr");
    broken.back() ^= 0x01;
    HandleOwner badSignature(message(broken));
    sh("openssl crl2pkcs7 -nocrl -certfile " + fx("signer.pem") + " -outform DER -out " +
       dir.file("certs.der"));
    HandleOwner certsOnly(message(tqtest::readFile(dir.file("certs.der"))));
    HandleOwner signer(cert("signer"));

    const int chain = TQXCRYPT_VERIFY_CHAIN, crl = TQXCRYPT_VERIFY_CRL, det = TQXCRYPT_DETACHED;
    CodeCase cases[] = {
        {"bad signature", verify(plain.get(), badSignature.get(), nullptr, 0), TQ_RTN_VERIFY_FAILED},
        {"detached data that differ", verify(plain.get(), detached.get(), &other, det), TQ_RTN_VERIFY_FAILED},
        {"embedded content that differs", verify(plain.get(), attached.get(), &other, 0),
         TQ_RTN_CONTENT_MISMATCH},
        {"detached without data", verify(plain.get(), detached.get(), nullptr, det), TQ_RTN_NO_CONTENT},
        {"no signer certificate", verify(plain.get(), noCerts.get(), nullptr, 0), TQ_RTN_NO_SIGNER_CERT},
        {"detached message, no data", verify(plain.get(), detached.get(), nullptr, 0), TQ_RTN_NO_CONTENT},
        {"certificates only, no data", verify(plain.get(), certsOnly.get(), nullptr, 0), TQ_RTN_NO_CONTENT},
        {"certificates only, with data", verify(plain.get(), certsOnly.get(), &content, det),
         TQ_RTN_NOT_SIGNED},
        {"revoked signer, CRL checked", verify(withCrl.get(), revoked.get(), nullptr, crl),
         TQ_RTN_REVOKED_KEY_COMPROMISE},
        {"revoked signer, chain only", verify(withCrl.get(), revoked.get(), nullptr, chain), 0},
        {"no CRL for the issuer", verify(plain.get(), attached.get(), nullptr, crl), TQ_RTN_NO_CRL},
        {"chain without a store", verify(nullptr, attached.get(), nullptr, chain), TQ_RTN_NO_ISSUER},
        {"signature only without a store", verify(nullptr, attached.get(), nullptr, 0), 0},
        {"subject rule that fails", verify(plain.get(), attached.get(), nullptr, 0, "CN=Nobody"),
         TQ_RTN_CERT_REJECTED},
        {"second signer of one", verify(plain.get(), attached.get(), nullptr, 0, nullptr, 1),
         TQ_RTN_NO_SIGNER_INFO},
        {"negative signer index", verify(plain.get(), attached.get(), nullptr, 0, nullptr, -1),
         TQ_RTN_NO_SIGNER_INFO},
        {"null message", verify(plain.get(), nullptr, nullptr, 0), TQ_RTN_BAD_ARGUMENT},
        {"certificate as message", verify(plain.get(), signer.get(), nullptr, 0), TQ_RTN_WRONG_HANDLE},
        {"certificate as store", verify(signer.get(), attached.get(), nullptr, 0), TQ_RTN_WRONG_HANDLE},
        {"data over INT_MAX",
         TQXCrypt_Verify(plain.get(), attached.get(), content.data(), static_cast<uint64_t>(INT_MAX) + 1,
                         nullptr, 0, 0, 0, nullptr, nullptr),
         TQ_RTN_BAD_ARGUMENT},
    };
    expectCodes(cases);

    // A failure hands out no handles.
    TQXCRYPT_HANDLE *si = reinterpret_cast<TQXCRYPT_HANDLE *>(&si), *who = si;
    EXPECT_EQ(verify(plain.get(), attached.get(), nullptr, 0, "CN=Nobody", 0, &si, &who),
              TQ_RTN_CERT_REJECTED);
    EXPECT_EQ(si, nullptr);
    EXPECT_EQ(who, nullptr);
    si = who = reinterpret_cast<TQXCRYPT_HANDLE *>(&si);
    EXPECT_EQ(verify(plain.get(), attached.get(), &other, 0, nullptr, 0, &si, &who), TQ_RTN_CONTENT_MISMATCH);
    EXPECT_EQ(si, nullptr);
    EXPECT_EQ(who, nullptr);
}

TEST(Pkcs7Verify, AccessorsShowWhatTheToolShows) {
    TempDir dir;
    sh("cat " + fx("signer.pem") + " " + fx("inter.pem") + " " + fx("root.pem") + " > " +
       dir.file("all.pem"));
    // The leaf last: the accessors must find it, not take the first.
    sh("cat " + fx("root.pem") + " " + fx("inter.pem") + " " + fx("signer.pem") + " > " +
       dir.file("rev.pem"));
    sh("openssl crl2pkcs7 -nocrl -certfile " + dir.file("rev.pem") + " -outform DER -out " +
       dir.file("certs.der"));
    HandleOwner m(message(tqtest::readFile(dir.file("certs.der"))));
    std::vector<X509 *> printed = printedCerts(dir.file("certs.der"));
    ASSERT_EQ(printed.size(), 3u);

    int32_t count = 0;
    ASSERT_EQ(TQXCrypt_PKCS7GetCertificateCount(m.get(), &count), 0);
    ASSERT_EQ(count, 3);
    for (int i = 0; i < count; ++i) {
        HandleOwner c;
        ASSERT_EQ(TQXCrypt_PKCS7GetCertificate(m.get(), i, c.out()), 0);
        EXPECT_EQ(X509_cmp(x509Of(c.get()), printed[static_cast<size_t>(i)]), 0) << i;
    }
    HandleOwner user, signer(cert("signer"));
    ASSERT_EQ(TQXCrypt_PKCS7GetUserCertificate(m.get(), user.out()), 0);
    EXPECT_EQ(certDer(user.get()), certDer(signer.get()));

    TQXCRYPT_HANDLE *leaf = nullptr, **others = nullptr;
    int32_t n = -1;
    ASSERT_EQ(TQXCrypt_PKCS7GetCertificates(m.get(), &leaf, &others, &n), 0);
    HandleOwner leafOwner(leaf);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(certDer(leaf), certDer(signer.get()));
    EXPECT_EQ(X509_cmp(x509Of(others[0]), printed[0]), 0);
    EXPECT_EQ(X509_cmp(x509Of(others[1]), printed[1]), 0);
    for (int i = 0; i < n; ++i) TQXCryptFreeHandle(others[i]);
    TQCryptMemFree(others);

    HandleOwner chain;
    ASSERT_EQ(TQXCrypt_PKCS7GetCertChain(m.get(), chain.out()), 0);
    tqtest::writeFile(dir.file("chain.der"), der(chain.get()));
    std::vector<X509 *> again = printedCerts(dir.file("chain.der"));
    ASSERT_EQ(again.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(X509_cmp(again[i], printed[i]), 0) << i;
    freeCerts(again);
    freeCerts(printed);

    int32_t signers = 7;
    ASSERT_EQ(TQXCrypt_PKCS7GetSignerInfoCount(m.get(), &signers), 0);
    EXPECT_EQ(signers, 0);
    HandleOwner none;
    CodeCase cases[] = {
        {"certificate at the count", TQXCrypt_PKCS7GetCertificate(m.get(), 3, none.out()),
         TQ_RTN_BAD_ARGUMENT},
        {"signer info of none", TQXCrypt_PKCS7GetSignerInfo(m.get(), 0, none.out()), TQ_RTN_NO_SIGNER_INFO},
        {"signer certificate of none", TQXCrypt_PKCS7GetSignerCertificate(m.get(), 0, none.out()),
         TQ_RTN_BAD_PKCS7},
        {"certificate as message", TQXCrypt_PKCS7GetCertificateCount(signer.get(), &count),
         TQ_RTN_WRONG_HANDLE},
        {"null leaf output", TQXCrypt_PKCS7GetCertificates(m.get(), nullptr, &others, &n),
         TQ_RTN_BAD_ARGUMENT},
    };
    expectCodes(cases);

    // A signed message: one signer, its certificate, and only the signer in the list.
    Bytes signedDer = toolSigned(dir, "-nodetach -noattr");
    HandleOwner sm(message(signedDer));
    ASSERT_EQ(TQXCrypt_PKCS7GetSignerInfoCount(sm.get(), &signers), 0);
    EXPECT_EQ(signers, 1);
    HandleOwner who;
    ASSERT_EQ(TQXCrypt_PKCS7GetSignerCertificate(sm.get(), 0, who.out()), 0);
    EXPECT_EQ(certDer(who.get()), certDer(signer.get()));
    CodeCase signedCases[] = {
        {"signer info at the count", TQXCrypt_PKCS7GetSignerInfo(sm.get(), 1, none.out()),
         TQ_RTN_NO_SIGNER_INFO},
        {"signer certificate at the count", TQXCrypt_PKCS7GetSignerCertificate(sm.get(), 1, none.out()),
         TQ_RTN_BAD_PKCS7},
    };
    expectCodes(signedCases);
    leaf = nullptr;
    others = reinterpret_cast<TQXCRYPT_HANDLE **>(&leaf);
    ASSERT_EQ(TQXCrypt_PKCS7GetCertificates(sm.get(), &leaf, &others, &n), 0);
    HandleOwner onlyLeaf(leaf);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(others, nullptr);
    EXPECT_EQ(certDer(leaf), certDer(signer.get()));

    // An envelope has neither signers nor a certificate list.
    sh("openssl smime -encrypt -binary -des3 -outform DER -in " + fx("data.bin") + " -out " +
       dir.file("env.der") + " " + fx("recipient.pem"));
    HandleOwner env(message(tqtest::readFile(dir.file("env.der"))));
    ASSERT_EQ(TQXCrypt_PKCS7GetSignerInfoCount(env.get(), &signers), 0);
    EXPECT_EQ(signers, -1);
    BlobOwner content;
    CodeCase envCases[] = {
        {"content of an envelope", TQXCrypt_PKCS7GetContent(env.get(), &content), TQ_RTN_BAD_PKCS7},
        {"certificate count of an envelope", TQXCrypt_PKCS7GetCertificateCount(env.get(), &count),
         TQ_RTN_BAD_PKCS7},
        {"user certificate of an envelope", TQXCrypt_PKCS7GetUserCertificate(env.get(), none.out()),
         TQ_RTN_BAD_PKCS7},
        {"add to an envelope", TQXCrypt_PKCS7AddCertificate(env.get(), signer.get()), TQ_RTN_BAD_PKCS7},
    };
    expectCodes(envCases);
    EXPECT_EQ(count, 0);
}

namespace {
// An allocator that fails its n-th request from now on.
int allocationsLeft = -1;
void *failingAlloc(size_t n) {
    if (allocationsLeft == 0) return nullptr;
    if (allocationsLeft > 0) --allocationsLeft;
    return std::malloc(n);
}
void *plainRealloc(void *p, size_t n) { return std::realloc(p, n); }
void plainFree(void *p) { std::free(p); }
}  // namespace

TEST(Pkcs7Verify, CertificateListFailsWholeWhenOneHandleCannotBeMade) {
    TempDir dir;
    sh("cat " + fx("signer.pem") + " " + fx("inter.pem") + " " + fx("root.pem") + " > " +
       dir.file("all.pem"));
    sh("openssl crl2pkcs7 -nocrl -certfile " + dir.file("all.pem") + " -outform DER -out " +
       dir.file("certs.der"));
    HandleOwner m(message(tqtest::readFile(dir.file("certs.der"))));
    // The array, the first handle, then the failing one in the middle.
    for (int okBefore : {0, 1, 2, 3}) {
        TQXCRYPT_HANDLE *leaf = reinterpret_cast<TQXCRYPT_HANDLE *>(&leaf);
        TQXCRYPT_HANDLE **others = &leaf;
        int32_t n = 9;
        allocationsLeft = okBefore;
        TQCryptSetMemCallBack(failingAlloc, plainRealloc, plainFree);
        int rc = TQXCrypt_PKCS7GetCertificates(m.get(), &leaf, &others, &n);
        TQCryptSetMemCallBack(nullptr, nullptr, nullptr);
        allocationsLeft = -1;
        EXPECT_EQ(rc, TQ_RTN_MEMORY_ALLOCATE_FAIL) << okBefore;
        EXPECT_EQ(leaf, nullptr) << okBefore;
        EXPECT_EQ(others, nullptr) << okBefore;
        EXPECT_EQ(n, 0) << okBefore;
    }
}

TEST(Pkcs7Verify, OurDetachedMessagesNeedTheirDataBack) {
    HandleOwner signer(cert("signer")), k(key("signer")), s(store(true)), m;
    Bytes content = tqtest::readFile(fx("data.bin"));
    ASSERT_EQ(TQXCrypt_Sign(signer.get(), k.get(), nullptr, content.data(), content.size(), TQXCRYPT_DETACHED,
                            4, m.out()),
              0);
    EXPECT_EQ(verify(s.get(), m.get(), &content, TQXCRYPT_DETACHED | TQXCRYPT_VERIFY_CRL), 0);
    EXPECT_EQ(verify(s.get(), m.get(), nullptr, TQXCRYPT_DETACHED), TQ_RTN_NO_CONTENT);
    EXPECT_EQ(verify(s.get(), m.get(), nullptr, 0), TQ_RTN_NO_CONTENT);
}

TEST(Pkcs7Verify, AddedSignerCertificateLetsAMessageWithoutCertificatesVerify) {
    TempDir dir;
    HandleOwner m(message(toolSigned(dir, "-nodetach -nocerts"))), signer(cert("signer")), s(store());
    EXPECT_EQ(verify(s.get(), m.get(), nullptr, TQXCRYPT_VERIFY_CHAIN), TQ_RTN_NO_SIGNER_CERT);
    ASSERT_EQ(TQXCrypt_PKCS7AddSignerCertificate(m.get(), signer.get()), 0);
    EXPECT_EQ(verify(s.get(), m.get(), nullptr, TQXCRYPT_VERIFY_CHAIN), 0);
    CodeCase cases[] = {
        {"null message", TQXCrypt_PKCS7AddSignerCertificate(nullptr, signer.get()), TQ_RTN_BAD_ARGUMENT},
        {"certificate as message", TQXCrypt_PKCS7AddSignerCertificate(signer.get(), signer.get()),
         TQ_RTN_WRONG_HANDLE},
        {"message as certificate", TQXCrypt_PKCS7AddSignerCertificate(m.get(), m.get()), TQ_RTN_WRONG_HANDLE},
    };
    expectCodes(cases);
}

TEST(Pkcs7Verify, TextModeReadsTheBodyWithoutItsHeader) {
    // openssl smime -text wraps the content in a text/plain MIME part.
    TempDir dir;
    tqtest::writeFile(dir.file("text"), std::string("first line\nsecond line\n"));
    sh("openssl smime -sign -text -nodetach -in " + dir.file("text") + " -signer " + fx("signer.pem") +
       " -inkey " + fx("signer.key.pem") + " -outform DER -out " + dir.file("m.der"));
    HandleOwner m(message(tqtest::readFile(dir.file("m.der"))));
    BIO *out = BIO_new(BIO_s_mem());
    ASSERT_EQ(tqxCrypt_VerifyPKCS7(static_cast<PKCS7 *>(m.get()->object), nullptr, nullptr, out, nullptr,
                                   PKCS7_TEXT | PKCS7_NOVERIFY, nullptr, 0, 0),
              1)
        << ERR_error_string(ERR_peek_last_error(), nullptr);
    char *bytes = nullptr;
    long n = BIO_get_mem_data(out, &bytes);
    EXPECT_EQ(std::string(bytes, static_cast<size_t>(n)), "first line\r\nsecond line\r\n");
    BIO_free(out);
}

TEST(Pkcs7Verify, CheckTimeDecidesTheSignersValidity) {
    // The signer is valid from the fixtures' making for ten years. Each case
    // reads a message of its own: a verified certificate keeps its mark.
    TempDir dir;
    Bytes der = toolSigned(dir, "-nodetach");
    HandleOwner s(store());
    const time_t now = time(nullptr);
    struct {
        const char *what;
        time_t when;
        int expected;
    } cases[] = {
        {"now", 0, 0},
        {"a day from now", now + 86400, 0},
        {"ten days ago", now - 10 * 86400, TQ_RTN_CERT_NOT_YET_VALID},
        {"in twenty years", now + 20 * 365 * 86400L, TQ_RTN_CERT_EXPIRED},
    };
    for (const auto &c : cases) {
        HandleOwner m(message(der));
        EXPECT_EQ(TQXCrypt_Verify(s.get(), m.get(), nullptr, 0, nullptr, 0, TQXCRYPT_VERIFY_CHAIN, c.when,
                                  nullptr, nullptr),
                  c.expected)
            << c.what;
        // Without chain checks the time plays no part.
        EXPECT_EQ(TQXCrypt_Verify(s.get(), m.get(), nullptr, 0, nullptr, 0, 0, c.when, nullptr, nullptr), 0)
            << c.what;
    }
}

TEST(Pkcs7Verify, EmptyContentSignsAndVerifies) {
    TempDir dir;
    HandleOwner signer(cert("signer")), k(key("signer")), m;
    const unsigned char nothing = 0;
    ASSERT_EQ(TQXCrypt_Sign(signer.get(), k.get(), nullptr, &nothing, 0, 0, 4, m.out()), 0);
    tqtest::writeFile(dir.file("m.der"), der(m.get()));
    sh("openssl cms -verify -binary -inform DER -in " + dir.file("m.der") + " -CAfile " + fx("chain.pem") +
       " -out " + dir.file("out"));
    EXPECT_TRUE(tqtest::readFile(dir.file("out")).empty());
    EXPECT_EQ(TQXCrypt_Verify(nullptr, m.get(), &nothing, 0, nullptr, 0, 0, 0, nullptr, nullptr), 0);
    EXPECT_EQ(
        TQXCrypt_Verify(nullptr, m.get(), &nothing, 0, nullptr, 0, TQXCRYPT_DETACHED, 0, nullptr, nullptr),
        0);
}

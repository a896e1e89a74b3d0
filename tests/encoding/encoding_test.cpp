// Every kind decodes from DER, Base64 and PEM and encodes back to what the
// openssl tool wrote.
#include <gtest/gtest.h>

#include <cstring>

#include <openssl/evp.h>
#include <openssl/pkcs7.h>

#include "testutil.h"

using namespace tqtest;

namespace {

struct KindCase {
    const char *name;
    int kind;
    const char *der;         // fixture
    const char *opensslPem;  // openssl command printing the same object as PEM, run in the fixture dir
    int armour;              // armour value that asks for PEM
};

const KindCase kKinds[] = {
    {"certificate", 1, "objects/ca.der", "openssl x509 -inform DER -in ca.der", 1},
    {"request", 2, "objects/user.csr.der", "openssl req -inform DER -in user.csr.der", 1},
    {"crl", 3, "objects/crl.der", "openssl crl -inform DER -in crl.der", 1},
    {"pkcs7", 4, "objects/signed.p7.der", "openssl pkcs7 -inform DER -in signed.p7.der", 1},
    {"public key", 7, "objects/user.pub.der", "openssl pkey -pubin -inform DER -in user.pub.der", 1},
    {"private key", 6, "objects/user.rsa.der",
     "openssl rsa -traditional -inform DER -in user.rsa.der 2>/dev/null", 0},
    {"pkcs8 info", 13, "objects/user.p8info.der",
     "openssl pkcs8 -topk8 -nocrypt -inform DER -in user.p8info.der", 1},
    {"pkcs8", 12, "objects/user.p8.der", nullptr, 1},
    {"pkcs12", 11, "objects/user.p12", nullptr, 1},
};

std::string inFixtures(const std::string &command) {
    int status = -1;
    std::string out = run("cd '" + fixtureDir() + "/objects' && " + command, &status);
    EXPECT_EQ(status, 0) << command;
    return out;
}

int encode(TQXCRYPT_HANDLE *h, int kind, BlobOwner &out, int flags, void *armour) {
    return TQXCrypt_EncodeObject(h, kind, &out.b, flags, armour);
}

}  // namespace

TEST(Encoding, DerRoundTripsByteForByte) {
    for (const KindCase &k : kKinds) {
        Bytes der = readFile(fixture(k.der));
        HandleOwner h;
        ASSERT_EQ(TQXCrypt_DecodeObject(h.out(), k.kind, der.data(), der.size(), 0, nullptr), 0) << k.name;
        ASSERT_NE(h.get(), nullptr);
        EXPECT_EQ(h.get()->kind, k.kind);
        BlobOwner out;
        ASSERT_EQ(encode(h.get(), k.kind, out, 0, nullptr), 0) << k.name;
        EXPECT_EQ(out.bytes(), der) << k.name;
    }
}

TEST(Encoding, PemIsWhatOpensslPrintsAndDecodesAgain) {
    for (const KindCase &k : kKinds) {
        if (!k.opensslPem) continue;
        Bytes der = readFile(fixture(k.der));
        HandleOwner h;
        ASSERT_EQ(TQXCrypt_DecodeObject(h.out(), k.kind, der.data(), der.size(), 0, nullptr), 0) << k.name;
        BlobOwner pem;
        int armour = k.armour;
        // Private keys take a password text in place of the armour flag: empty means plain PEM.
        void *arg = k.kind == 6 ? static_cast<void *>(const_cast<char *>("")) : static_cast<void *>(&armour);
        ASSERT_EQ(encode(h.get(), k.kind, pem, TQXCRYPT_ENCODE_TEXT, arg), 0) << k.name;
        EXPECT_EQ(pem.text(), inFixtures(k.opensslPem)) << k.name;

        for (const std::string &text :
             {pem.text(), [&] {
                  BlobOwner bare;
                  EXPECT_EQ(encode(h.get(), k.kind, bare, TQXCRYPT_ENCODE_TEXT, nullptr), 0);
                  return bare.text();
              }()}) {
            HandleOwner again;
            ASSERT_EQ(TQXCrypt_DecodeObject(again.out(), k.kind,
                                            reinterpret_cast<const unsigned char *>(text.data()), text.size(),
                                            TQXCRYPT_DECODE_TEXT, nullptr),
                      0)
                << k.name << ": " << text.substr(0, 40);
            BlobOwner back;
            ASSERT_EQ(encode(again.get(), k.kind, back, 0, nullptr), 0);
            EXPECT_EQ(back.bytes(), der) << k.name;
        }
    }
}

TEST(Encoding, RequestArmourNamesAndPkcs12StaysDer) {
    HandleOwner req(decodeFixture(2, "objects/user.csr.der"));
    for (int armour : {1, 2}) {
        BlobOwner pem;
        ASSERT_EQ(TQXCrypt_EncodeObject(req.get(), 2, &pem.b, TQXCRYPT_ENCODE_TEXT, &armour), 0);
        std::string want = armour == 2 ? "-----BEGIN NEW CERTIFICATE REQUEST-----\n"
                                       : "-----BEGIN CERTIFICATE REQUEST-----\n";
        EXPECT_EQ(pem.text().substr(0, want.size()), want);
        HandleOwner again;
        EXPECT_EQ(
            TQXCrypt_DecodeObject(again.out(), 2, pem.b.data, pem.b.length, TQXCRYPT_DECODE_TEXT, nullptr),
            0);
    }
    // PKCS#12 ignores the text flags both ways.
    Bytes p12 = readFile(fixture("objects/user.p12"));
    HandleOwner h;
    ASSERT_EQ(TQXCrypt_DecodeObject(h.out(), 11, p12.data(), p12.size(), TQXCRYPT_DECODE_TEXT, nullptr), 0);
    int armour = 1;
    BlobOwner out;
    ASSERT_EQ(TQXCrypt_EncodeObject(h.get(), 11, &out.b, TQXCRYPT_ENCODE_TEXT, &armour), 0);
    EXPECT_EQ(out.bytes(), p12);
}

TEST(Encoding, PasswordProtectedPrivateKeysInteroperateWithOpenssl) {
    TempDir dir;
    HandleOwner key(decodeFixture(6, "objects/user.rsa.der"));
    BlobOwner pem;
    ASSERT_EQ(
        TQXCrypt_EncodeObject(key.get(), 6, &pem.b, TQXCRYPT_ENCODE_TEXT, const_cast<char *>("pw-1234")), 0);
    EXPECT_NE(pem.text().find("Proc-Type: 4,ENCRYPTED"), std::string::npos);
    EXPECT_NE(pem.text().find("DEK-Info: DES-EDE3-CBC"), std::string::npos);
    writeFile(dir.file("ours.pem"), pem.text());
    int status = -1;
    std::string modulus =
        run("openssl rsa -in '" + dir.file("ours.pem") + "' -passin pass:pw-1234 -noout -modulus", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(modulus, inFixtures("openssl rsa -in user.key.pem -noout -modulus"));

    // Ours with the right, a wrong and no password.
    HandleOwner back;
    EXPECT_EQ(TQXCrypt_DecodeObject(back.out(), 6, pem.b.data, pem.b.length, TQXCRYPT_DECODE_TEXT, "pw-1234"),
              0);
    EXPECT_EQ(TQXCrypt_DecodeObject(back.out(), 6, pem.b.data, pem.b.length, TQXCRYPT_DECODE_TEXT, "wrong"),
              TQ_RTN_INVALID_KEY);
    EXPECT_EQ(back.get(), nullptr);
    // Without one the armour's header lines end the body early: malformed armour of a key.
    EXPECT_EQ(TQXCrypt_DecodeObject(back.out(), 6, pem.b.data, pem.b.length, TQXCRYPT_DECODE_TEXT, nullptr),
              TQ_RTN_INVALID_KEY);
    EXPECT_EQ(back.get(), nullptr);

    // What openssl writes with a password: its traditional form (rsa -traditional
    // -des3) and encrypted PKCS#8; with a password any private-key PEM is read.
    for (const char *file : {"objects/user.rsa.des3.pem", "objects/user.p8.pem"}) {
        Bytes theirs = readFile(fixture(file));
        ASSERT_EQ(TQXCrypt_DecodeObject(back.out(), 6, theirs.data(), theirs.size(), TQXCRYPT_DECODE_TEXT,
                                        "secret"),
                  0)
            << file;
        BlobOwner der;
        ASSERT_EQ(TQXCrypt_EncodeObject(back.get(), 6, &der.b, 0, nullptr), 0);
        EXPECT_EQ(der.bytes(), readFile(fixture("objects/user.rsa.der"))) << file;
        EXPECT_EQ(
            TQXCrypt_DecodeObject(back.out(), 6, theirs.data(), theirs.size(), TQXCRYPT_DECODE_TEXT, "wrong"),
            TQ_RTN_INVALID_KEY)
            << file;
    }
}

TEST(Encoding, EncryptedPkcs8FromUsDecryptsWithOpenssl) {
    TempDir dir;
    Bytes pem = readFile(fixture("objects/user.p8.pem"));
    HandleOwner h;
    ASSERT_EQ(TQXCrypt_DecodeObject(h.out(), 12, pem.data(), pem.size(), TQXCRYPT_DECODE_TEXT, nullptr), 0);
    BlobOwner der;
    ASSERT_EQ(TQXCrypt_EncodeObject(h.get(), 12, &der.b, 0, nullptr), 0);
    writeFile(dir.file("ours.p8.der"), der.bytes());
    int status = -1;
    std::string modulus = run("openssl pkey -inform DER -in '" + dir.file("ours.p8.der") +
                                  "' -passin pass:secret | openssl rsa -noout -modulus",
                              &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(modulus, inFixtures("openssl rsa -in user.key.pem -noout -modulus"));
}

TEST(Encoding, SignerInfoAndOcspRoundTrip) {
    // A signer info as OpenSSL encodes it, out of openssl's signed message.
    Bytes p7der = readFile(fixture("objects/signed.p7.der"));
    const unsigned char *p = p7der.data();
    PKCS7 *p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(p7der.size()));
    ASSERT_NE(p7, nullptr);
    PKCS7_SIGNER_INFO *si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7), 0);
    unsigned char *siDer = nullptr;
    int siLength = i2d_PKCS7_SIGNER_INFO(si, &siDer);
    ASSERT_GT(siLength, 0);
    Bytes expected(siDer, siDer + siLength);
    OPENSSL_free(siDer);
    PKCS7_free(p7);

    HandleOwner h;
    ASSERT_EQ(TQXCrypt_DecodeObject(h.out(), 5, expected.data(), expected.size(), 0, nullptr), 0);
    BlobOwner text;
    int armour = 1;
    ASSERT_EQ(TQXCrypt_EncodeObject(h.get(), 5, &text.b, TQXCRYPT_ENCODE_TEXT, &armour), 0);
    EXPECT_EQ(text.text().find("-----"), std::string::npos);  // signer infos are never armoured
    HandleOwner again;
    ASSERT_EQ(
        TQXCrypt_DecodeObject(again.out(), 5, text.b.data, text.b.length, TQXCRYPT_DECODE_TEXT, nullptr), 0);
    BlobOwner back;
    ASSERT_EQ(TQXCrypt_EncodeObject(again.get(), 5, &back.b, 0, nullptr), 0);
    EXPECT_EQ(back.bytes(), expected);

    // OCSP objects decode through their own tables.
    struct {
        const TQXCRYPT_ASN1_METHOD *table;
        int kind;
        const char *file;
    } ocsp[] = {{tqxCryptASN1OCSPRequestMethod(), 10, "objects/ocsp.req.der"},
                {tqxCryptASN1OCSPResponseMethod(), 11, "objects/ocsp.resp.der"}};
    for (auto &o : ocsp) {
        Bytes der = readFile(fixture(o.file));
        HandleOwner oh;
        ASSERT_EQ(o.table->decode(oh.out(), der.data(), der.size(), 0, nullptr), 0) << o.file;
        EXPECT_EQ(oh.get()->asn1Method, o.table);
        BlobOwner out;
        ASSERT_EQ(TQXCrypt_EncodeObject(oh.get(), o.kind, &out.b, 0, nullptr), 0);
        EXPECT_EQ(out.bytes(), der);
        HandleOwner bad;
        EXPECT_EQ(o.table->decode(bad.out(), der.data(), der.size() / 2, 0, nullptr), TQ_RTN_BAD_FORMAT);
    }
}

TEST(Encoding, BadInputsGiveTheKindsCodes) {
    struct Case {
        const char *what;
        int kind;
        Bytes data;
        int flags;
        int rc;
        const char *password = nullptr;
    };
    Bytes cert = readFile(fixture("objects/ca.der"));
    Bytes crlPem = readFile(fixture("objects/crl.pem"));
    auto truncated = [](const char *file) {
        Bytes b = readFile(fixture(file));
        b.resize(b.size() / 2);
        return b;
    };
    auto text = [](const std::string &s) { return Bytes(s.begin(), s.end()); };
    std::vector<Case> cases = {
        {"truncated certificate", 1, truncated("objects/ca.der"), 0, TQ_RTN_BAD_CERTIFICATE},
        {"truncated request", 2, truncated("objects/user.csr.der"), 0, TQ_RTN_BAD_CERTREQUEST},
        {"truncated crl", 3, truncated("objects/crl.der"), 0, TQ_RTN_BAD_CRL},
        {"truncated pkcs7", 4, truncated("objects/signed.p7.der"), 0, TQ_RTN_BAD_PKCS7},
        {"garbage signer info", 5, text("garbage"), 0, TQ_RTN_BAD_FORMAT},
        {"truncated private key", 6, truncated("objects/user.rsa.der"), 0, TQ_RTN_INVALID_KEY},
        {"truncated public key", 7, truncated("objects/user.pub.der"), 0, TQ_RTN_INVALID_KEY},
        {"truncated pkcs12", 11, truncated("objects/user.p12"), 0, TQ_RTN_BAD_PKCS12},
        {"truncated pkcs8", 12, truncated("objects/user.p8.der"), 0, TQ_RTN_INVALID_KEY},
        {"truncated pkcs8 info", 13, truncated("objects/user.p8info.der"), 0, TQ_RTN_INVALID_KEY},
        {"crl given as certificate", 1, readFile(fixture("objects/crl.der")), 0, TQ_RTN_BAD_CERTIFICATE},
        {"crl pem as certificate text", 1, crlPem, TQXCRYPT_DECODE_TEXT, TQ_RTN_BAD_BASE64},
        {"garbage base64", 1, text("@@@@"), TQXCRYPT_DECODE_TEXT, TQ_RTN_BAD_BASE64},
        {"zero-length DER", 1, Bytes(), 0, TQ_RTN_BAD_CERTIFICATE},
        {"zero-length text", 1, Bytes(), TQXCRYPT_DECODE_TEXT, TQ_RTN_BAD_CERTIFICATE},
        // With a password the text goes to OpenSSL's PEM reader: no key, not a memory failure.
        {"zero-length key text with a password", 6, Bytes(), TQXCRYPT_DECODE_TEXT, TQ_RTN_INVALID_KEY,
         "secret"},
        {"garbage key text with a password", 6, text("@@@@"), TQXCRYPT_DECODE_TEXT, TQ_RTN_INVALID_KEY,
         "secret"},
        {"store kind", 8, cert, 0, TQ_RTN_BAD_ARGUMENT},
        {"digest kind", 9, cert, 0, TQ_RTN_BAD_ARGUMENT},
        {"kind 10", 10, cert, 0, TQ_RTN_BAD_ARGUMENT},
        {"kind 14", 14, cert, 0, TQ_RTN_BAD_ARGUMENT},
    };
    for (const Case &c : cases) {
        TQXCRYPT_HANDLE *h = reinterpret_cast<TQXCRYPT_HANDLE *>(0x1);  // must come back null
        std::vector<unsigned char> exact(c.data);  // exact size: reads past it are caught
        EXPECT_EQ(TQXCrypt_DecodeObject(&h, c.kind, exact.data(), exact.size(), c.flags, c.password), c.rc)
            << c.what;
        EXPECT_EQ(h, nullptr) << c.what;
    }
    EXPECT_EQ(TQXCrypt_DecodeObject(nullptr, 1, cert.data(), cert.size(), 0, nullptr), TQ_RTN_BAD_ARGUMENT);
}

TEST(Encoding, HandleChecksComeInTheirOrder) {
    HandleOwner cert(decodeFixture(1, "objects/ca.der"));
    BlobOwner out;
    EXPECT_EQ(TQXCrypt_EncodeObject(nullptr, 1, &out.b, 0, nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_EncodeObject(cert.get(), 3, &out.b, 0, nullptr), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_EncodeObject(cert.get(), 3, nullptr, 0, nullptr),
              TQ_RTN_WRONG_HANDLE);  // kind before output
    EXPECT_EQ(TQXCrypt_EncodeObject(cert.get(), 1, nullptr, 0, nullptr), TQ_RTN_BAD_ARGUMENT);
    HandleOwner empty(tqtest::emptyHandle(1, tqxCryptASN1CertificateMethod()));
    EXPECT_EQ(TQXCrypt_EncodeObject(empty.get(), 1, &out.b, 0, nullptr), TQ_RTN_BAD_ARGUMENT);

    // A cipher context shares kind 10 with OCSP requests but has no table.
    TQXCRYPT_HANDLE *cipher = nullptr;
    auto *ctx = static_cast<TQXCRYPT_CIPHER_CONTEXT *>(TQCryptMemAlloc(sizeof(TQXCRYPT_CIPHER_CONTEXT)));
    ASSERT_NE(ctx, nullptr);
    std::memset(ctx, 0, sizeof *ctx);
    ctx->ctx = EVP_CIPHER_CTX_new();
    ASSERT_EQ(tqxCryptCreateHandle(&cipher, 10, ctx, nullptr, nullptr), 0);
    EXPECT_EQ(TQXCrypt_EncodeObject(cipher, 10, &out.b, 0, nullptr), TQ_RTN_WRONG_HANDLE);
    TQXCryptFreeHandle(cipher);  // frees the OpenSSL context too: the leak checker would say otherwise

    // A caller buffer one byte short learns the length that then succeeds.
    Bytes der = readFile(fixture("objects/ca.der"));
    Bytes buffer(der.size(), 0);
    TQXCRYPT_BLOB blob{der.size() - 1, buffer.data()};
    EXPECT_EQ(TQXCrypt_EncodeObject(cert.get(), 1, &blob, 0, nullptr), TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(blob.length, der.size());
    ASSERT_EQ(TQXCrypt_EncodeObject(cert.get(), 1, &blob, 0, nullptr), 0);
    EXPECT_EQ(buffer, der);
}

// PKCS#12: files of openssl and keytool unpack to the right keys and
// certificates, the bag routing with files of chosen bags, every code, and
// our export as openssl and keytool read it.
#include <gtest/gtest.h>

#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include "containers_testutil.h"
#include "tqxcrypt.h"
#include "tqxcrypt_keys.h"

using namespace containertest;
using tqtest::HandleOwner;

namespace {

HandleOwner *decodeP12(HandleOwner &h, const Bytes &der) {
    EXPECT_EQ(TQXCrypt_DecodeObject(h.out(), TQXCRYPT_KIND_PKCS12, der.data(), der.size(), 0, nullptr),
              TQ_RTN_OK);
    return &h;
}

struct Counts {
    int keys = -1, ca = -1, user = -1;
    bool operator==(const Counts &o) const { return keys == o.keys && ca == o.ca && user == o.user; }
};
std::ostream &operator<<(std::ostream &os, const Counts &c) {
    return os << "{keys " << c.keys << ", ca " << c.ca << ", user " << c.user << "}";
}

Counts countsOf(TQXCRYPT_HANDLE *p12) {
    Counts c;
    EXPECT_EQ(TQXCrypt_P12GetPrivateKeyCount(p12, 0, &c.keys), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_P12GetCACertificateCount(p12, 0, &c.ca), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_P12GetUserCertificateCount(p12, 0, &c.user), TQ_RTN_OK);
    return c;
}

Bytes keyAt(TQXCRYPT_HANDLE *p12, int index) {
    HandleOwner key;
    EXPECT_EQ(TQXCrypt_P12GetPrivateKey(p12, index, 0, key.out()), TQ_RTN_OK);
    return key.get() ? keyDer(static_cast<EVP_PKEY *>(key.get()->object)) : Bytes();
}

Bytes certAt(TQXCRYPT_HANDLE *p12, int index, bool user) {
    HandleOwner cert;
    int rc = user ? TQXCrypt_P12GetUserCertificate(p12, index, 0, cert.out())
                  : TQXCrypt_P12GetCACertificate(p12, index, 0, cert.out());
    EXPECT_EQ(rc, TQ_RTN_OK);
    return cert.get() ? certDer(static_cast<X509 *>(cert.get()->object)) : Bytes();
}

TEST(ContainersPkcs12, OpensslFilesUnpackToTheirKeysAndCertificates) {
    const Bytes userKey = fxBytes("user.rsa.der"), userCert = fxBytes("user.der"), caCert = fxBytes("ca.der");
    struct File {
        const char *name;
        const char *password;
    };
    const File files[] = {{"aes.p12", "secret"},
                          {"legacy.p12", "secret"},
                          {"plain.p12", "secret"},
                          {"empty.p12", nullptr},
                          {"empty.p12", ""}};
    for (const File &f : files) {
        SCOPED_TRACE(std::string(f.name) + (f.password ? " with a password" : " without one"));
        HandleOwner h;
        decodeP12(h, fxBytes(f.name));
        ASSERT_EQ(TQXCrypt_P12Unpack(h.get(), f.password, 0), TQ_RTN_OK);
        EXPECT_EQ(countsOf(h.get()), (Counts{1, 1, 1}));
        EXPECT_EQ(keyAt(h.get(), 0), userKey);
        EXPECT_EQ(certAt(h.get(), 0, true), userCert);
        EXPECT_EQ(certAt(h.get(), 0, false), caCert);
    }
}

TEST(ContainersPkcs12, KeytoolFilesUnpack) {
    if (!tqtest::readFile(fx("keytool.p12")).size()) GTEST_SKIP() << "no keytool";
    HandleOwner h;
    decodeP12(h, fxBytes("keytool.p12"));
    ASSERT_EQ(TQXCrypt_P12Unpack(h.get(), "secret", 0), TQ_RTN_OK);
    EXPECT_EQ(countsOf(h.get()), (Counts{1, 0, 1}));
    HandleOwner key, cert;
    ASSERT_EQ(TQXCrypt_P12GetPrivateKey(h.get(), 0, 0, key.out()), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_P12GetUserCertificate(h.get(), 0, 0, cert.out()), TQ_RTN_OK);
    EXPECT_EQ(certDer(static_cast<X509 *>(cert.get()->object)), fxBytes("keytool.der"));
    EXPECT_EQ(X509_check_private_key(static_cast<X509 *>(cert.get()->object),
                                     static_cast<EVP_PKEY *>(key.get()->object)),
              1);
}

TEST(ContainersPkcs12, BagsAreRoutedByTypeAndLocalKeyId) {
    const Bytes userInfo = fxBytes("user.p8info.der"), otherShrouded = fxBytes("other.p8.der");
    const Bytes userCert = fxBytes("user.der"), caCert = fxBytes("ca.der"), otherCert = fxBytes("other.der");
    const Bytes garbage(40, 0x42);
    // Key info of an algorithm the library does not know: it does not convert.
    const Bytes unknownKey =
        der::seq({der::integer(Bytes{0}), der::seq({der::oid("1.2.3.4")}), der::tlv(0x04, Bytes(4, 1))});
    Bytes file = pfx(
        {
            {keyBag(userInfo, true), certBag(userCert, true), certBag(caCert, false), secretBag()},
            {safeContentsBag({certBag(otherCert, false), keyBag(fxBytes("other.p8info.der"), false),
                              safeContentsBag({certBag(garbage, true)})}),
             certBag(Bytes{'s', 'd', 's', 'i'}, true, "1.2.840.113549.1.9.22.2"),
             shroudedKeyBag(otherShrouded, false), keyBag(unknownKey, false), certBag(garbage, false)},
            // A nested bag that does not decrypt is passed over.
            {safeContentsBag({shroudedKeyBag(fxBytes("other.wrong.p8.der"), false)})},
        },
        "secret");
    HandleOwner h;
    decodeP12(h, file);
    ASSERT_EQ(TQXCrypt_P12Unpack(h.get(), "secret", 0), TQ_RTN_OK);
    EXPECT_EQ(countsOf(h.get()), (Counts{3, 3, 2}));
    EXPECT_EQ(keyAt(h.get(), 0), fxBytes("user.rsa.der"));
    EXPECT_EQ(keyAt(h.get(), 1), fxBytes("other.rsa.der"));  // nested key bag
    EXPECT_EQ(keyAt(h.get(), 2), fxBytes("other.rsa.der"));  // shrouded
    EXPECT_EQ(certAt(h.get(), 0, true), userCert);
    EXPECT_EQ(certAt(h.get(), 0, false), caCert);
    EXPECT_EQ(certAt(h.get(), 1, false), otherCert);
    // Undecodable certificates stay as empty entries.
    HandleOwner none;
    EXPECT_EQ(TQXCrypt_P12GetUserCertificate(h.get(), 1, 0, none.out()), TQ_RTN_P12_NO_CERT);
    EXPECT_EQ(TQXCrypt_P12GetCACertificate(h.get(), 2, 0, none.out()), TQ_RTN_P12_NO_CERT);
    EXPECT_EQ(none.get(), nullptr);
    // openssl reads the writer's files: one of the same bags that it can decode.
    Bytes clean = pfx({{keyBag(userInfo, true), certBag(userCert, true), certBag(caCert, false), secretBag()},
                       {safeContentsBag({certBag(otherCert, false)}), shroudedKeyBag(otherShrouded, false)}},
                      "secret");
    tqtest::TempDir dir;
    tqtest::writeFile(dir.file("chosen.p12"), clean);
    std::string info =
        sh("openssl pkcs12 -info -nodes -passin pass:secret -in " + dir.file("chosen.p12") + " 2>&1");
    EXPECT_NE(info.find("MAC: sha1"), std::string::npos) << info;
    EXPECT_NE(info.find("Safe Contents bag"), std::string::npos) << info;
    EXPECT_NE(info.find("Shrouded Keybag"), std::string::npos) << info;
    HandleOwner again;
    decodeP12(again, clean);
    ASSERT_EQ(TQXCrypt_P12Unpack(again.get(), "secret", 0), TQ_RTN_OK);
    EXPECT_EQ(countsOf(again.get()), (Counts{2, 2, 1}));
}

TEST(ContainersPkcs12, Codes) {
    HandleOwner h, aes;
    decodeP12(h, fxBytes("plain.p12"));
    decodeP12(aes, fxBytes("aes.p12"));
    int count = -1;
    HandleOwner out;
    // Not unpacked yet.
    EXPECT_EQ(TQXCrypt_P12GetPrivateKeyCount(h.get(), 0, &count), TQ_RTN_P12_NOT_UNPACKED);
    EXPECT_EQ(TQXCrypt_P12GetCACertificateCount(h.get(), 0, &count), TQ_RTN_P12_NOT_UNPACKED);
    EXPECT_EQ(TQXCrypt_P12GetUserCertificateCount(h.get(), 0, &count), TQ_RTN_P12_NOT_UNPACKED);
    EXPECT_EQ(TQXCrypt_P12GetPrivateKey(h.get(), 0, 0, out.out()), TQ_RTN_P12_NOT_UNPACKED);
    EXPECT_EQ(TQXCrypt_P12GetUserCertificate(h.get(), 0, 0, out.out()), TQ_RTN_P12_NOT_UNPACKED);
    ASSERT_EQ(TQXCrypt_P12Unpack(h.get(), "secret", 0), TQ_RTN_OK);
    void *contents = h.get()->extra;

    struct UnpackCase {
        const char *label;
        Bytes file;
        const char *password;
        int expected;
    };
    Bytes garbage(32, 0x42);
    const UnpackCase unpacks[] = {
        {"wrong password", fxBytes("plain.p12"), "wrong", TQ_RTN_P12_BAD_MAC},
        {"no password for a protected file", fxBytes("plain.p12"), nullptr, TQ_RTN_P12_BAD_MAC},
        {"no MAC", fxBytes("nomac.p12"), "secret", TQ_RTN_P12_BAD_MAC},
        {"authenticated safes that do not unpack", pfxOverAuthSafe(garbage, "secret"), "secret",
         TQ_RTN_P12_NO_AUTHSAFES},
        {"a safe that does not unpack", pfxOverAuthSafe(der::tlv(0x30, dataContentInfo(garbage)), "secret"),
         "secret", TQ_RTN_P12_BAD_SAFE},
        {"a shrouded key bag that does not decrypt",
         pfx({{shroudedKeyBag(fxBytes("other.wrong.p8.der"), false)}}, "secret"), "secret",
         TQ_RTN_P12_BAD_KEY_BAG},
    };
    for (const UnpackCase &u : unpacks) {
        SCOPED_TRACE(u.label);
        HandleOwner fresh;
        decodeP12(fresh, u.file);
        EXPECT_EQ(TQXCrypt_P12Unpack(fresh.get(), u.password, 0), u.expected);
        EXPECT_EQ(fresh.get()->extra, nullptr);
        // On the unpacked handle, the earlier contents stay in place.
        if (u.file == fxBytes("plain.p12")) {
            EXPECT_EQ(TQXCrypt_P12Unpack(h.get(), u.password, 0), u.expected);
            EXPECT_EQ(h.get()->extra, contents);
        }
    }
    EXPECT_EQ(countsOf(h.get()), (Counts{1, 1, 1}));
    // Unpacking again replaces the contents.
    ASSERT_EQ(TQXCrypt_P12Unpack(h.get(), "secret", 0), TQ_RTN_OK);
    EXPECT_EQ(countsOf(h.get()), (Counts{1, 1, 1}));

    // Indexes.
    EXPECT_EQ(TQXCrypt_P12GetPrivateKey(h.get(), 1, 0, out.out()), TQ_RTN_INDEX_OUT_OF_RANGE);
    EXPECT_EQ(TQXCrypt_P12GetUserCertificate(h.get(), 1, 0, out.out()), TQ_RTN_INDEX_OUT_OF_RANGE);
    EXPECT_EQ(TQXCrypt_P12GetCACertificate(h.get(), 1, 0, out.out()), TQ_RTN_INDEX_OUT_OF_RANGE);
    EXPECT_EQ(TQXCrypt_P12GetPrivateKey(h.get(), -1, 0, out.out()), TQ_RTN_P12_NO_KEY);
    EXPECT_EQ(TQXCrypt_P12GetUserCertificate(h.get(), -1, 0, out.out()), TQ_RTN_P12_NO_CERT);
    EXPECT_EQ(TQXCrypt_P12GetCACertificate(h.get(), -5, 0, out.out()), TQ_RTN_P12_NO_CERT);
    EXPECT_EQ(TQXCrypt_P12GetPrivateKey(h.get(), 0, 0, nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_P12GetPrivateKeyCount(h.get(), 0, nullptr), TQ_RTN_BAD_ARGUMENT);

    // Handles: none, a certificate, an OCSP response (kind 11 with another table).
    HandleOwner cert, response;
    Bytes certBytes = fxBytes("user.der");
    ASSERT_EQ(TQXCrypt_DecodeObject(cert.out(), 1, certBytes.data(), certBytes.size(), 0, nullptr),
              TQ_RTN_OK);
    Bytes resp = tqtest::readFile(tqtest::fixture("objects/ocsp.resp.der"));
    ASSERT_EQ(tqxCryptASN1OCSPResponseMethod()->decode(response.out(), resp.data(), resp.size(), 0, nullptr),
              TQ_RTN_OK);
    ASSERT_EQ(response.get()->kind, TQXCRYPT_KIND_PKCS12);
    for (const auto &[handle, code] : {std::pair<TQXCRYPT_HANDLE *, int>{nullptr, TQ_RTN_BAD_ARGUMENT},
                                       {cert.get(), TQ_RTN_WRONG_HANDLE},
                                       {response.get(), TQ_RTN_WRONG_HANDLE}}) {
        EXPECT_EQ(TQXCrypt_P12Unpack(handle, "secret", 0), code);
        EXPECT_EQ(TQXCrypt_P12GetPrivateKeyCount(handle, 0, &count), code);
        EXPECT_EQ(TQXCrypt_P12GetCACertificateCount(handle, 0, &count), code);
        EXPECT_EQ(TQXCrypt_P12GetUserCertificateCount(handle, 0, &count), code);
        EXPECT_EQ(TQXCrypt_P12GetPrivateKey(handle, 0, 0, out.out()), code);
        EXPECT_EQ(TQXCrypt_P12GetCACertificate(handle, 0, 0, out.out()), code);
        EXPECT_EQ(TQXCrypt_P12GetUserCertificate(handle, 0, 0, out.out()), code);
    }
}

TEST(ContainersPkcs12, KeysAndCertificatesOutliveTheHandle) {
    HandleOwner key, cert;
    {
        HandleOwner h;
        decodeP12(h, fxBytes("aes.p12"));
        ASSERT_EQ(TQXCrypt_P12Unpack(h.get(), "secret", 0), TQ_RTN_OK);
        ASSERT_EQ(TQXCrypt_P12GetPrivateKey(h.get(), 0, 0, key.out()), TQ_RTN_OK);
        ASSERT_EQ(TQXCrypt_P12GetUserCertificate(h.get(), 0, 0, cert.out()), TQ_RTN_OK);
    }
    EXPECT_EQ(key.get()->kind, TQXCRYPT_KIND_PRIVATEKEY);
    EXPECT_EQ(key.get()->asn1Method, tqxCryptASN1PrivateKeyMethod());
    EXPECT_EQ(key.get()->extra, tqxCryptRSAPriMethod());
    EXPECT_EQ(cert.get()->asn1Method, tqxCryptASN1CertificateMethod());
    unsigned char data[20] = {1, 2, 3};
    tqtest::BlobOwner signature;
    ASSERT_EQ(TQXCrypt_PureSign(key.get(), data, sizeof data, TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA,
                                &signature),
              TQ_RTN_OK);
    EXPECT_EQ(signature.b.length, 256u);
    EXPECT_EQ(keyDer(static_cast<EVP_PKEY *>(key.get()->object)), fxBytes("user.rsa.der"));
}

// Our export, read by openssl without the legacy provider and by keytool.
class ContainersExport : public ::testing::Test {
protected:
    void SetUp() override {
        key_.h = tqtest::decodeFixture(TQXCRYPT_KIND_PRIVATEKEY, "containers/user.rsa.der");
        cert_.h = tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "containers/user.der");
        ca_.h = tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "containers/ca.der");
        other_.h = tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "containers/other.der");
    }
    Bytes exportWith(TQXCRYPT_HANDLE *cert, const char *password, int *rc) {
        TQXCRYPT_HANDLE *cas[] = {ca_.get()};
        unsigned char *der = nullptr;
        uint64_t length = 0;
        *rc = TQXCrypt_ExportPKCS12(key_.get(), cert, cas, 1, &der, &length, password);
        Bytes out = der ? Bytes(der, der + length) : Bytes();
        TQCryptMemFree(der);
        return out;
    }
    HandleOwner key_, cert_, ca_, other_;
    tqtest::TempDir dir_;
};

TEST_F(ContainersExport, OpensslAndKeytoolReadIt) {
    int rc = -1;
    Bytes file = exportWith(cert_.get(), "secret", &rc);
    ASSERT_EQ(rc, TQ_RTN_OK);
    const std::string path = dir_.file("ours.p12");
    tqtest::writeFile(path, file);
    std::string info = sh("openssl pkcs12 -info -nodes -passin pass:secret -in " + path + " 2>&1");
    EXPECT_NE(info.find("MAC: sha1, Iteration 2048"), std::string::npos) << info;
    EXPECT_NE(info.find("Shrouded Keybag: pbeWithSHA1And3-KeyTripleDES-CBC, Iteration 2048"),
              std::string::npos);
    EXPECT_NE(info.find("PKCS7 Encrypted data: pbeWithSHA1And3-KeyTripleDES-CBC, Iteration 2048"),
              std::string::npos);
    auto pem = [&](const std::string &options, const std::string &out) {
        sh("openssl pkcs12 -passin pass:secret -in " + path + " " + options + " -out " + dir_.file(out) +
           " 2>&1");
    };
    pem("-nocerts -nodes", "key.pem");
    pem("-nokeys -clcerts", "user.pem");
    pem("-nokeys -cacerts", "ca.pem");
    EXPECT_EQ(sh("openssl rsa -traditional -outform DER -in " + dir_.file("key.pem") +
                 " 2>/dev/null | od -An -tx1"),
              sh("od -An -tx1 " + fx("user.rsa.der")));
    EXPECT_EQ(sh("openssl x509 -outform DER -in " + dir_.file("user.pem") + " | od -An -tx1"),
              sh("od -An -tx1 " + fx("user.der")));
    EXPECT_EQ(sh("openssl x509 -outform DER -in " + dir_.file("ca.pem") + " | od -An -tx1"),
              sh("od -An -tx1 " + fx("ca.der")));

    int status = -1;
    tqtest::run("command -v keytool", &status);
    if (status != 0) GTEST_SKIP() << "no keytool";
    std::string listing =
        sh("keytool -list -v -storetype PKCS12 -storepass secret -keystore " + path + " 2>&1");
    EXPECT_NE(listing.find("Your keystore contains 1 entry"), std::string::npos) << listing;
    EXPECT_NE(listing.find("Entry type: PrivateKeyEntry"), std::string::npos);
    EXPECT_NE(listing.find("Certificate chain length: 2"), std::string::npos);
    EXPECT_NE(listing.find("CN=Container user"), std::string::npos);
    EXPECT_NE(listing.find("CN=Container Root"), std::string::npos);
}

TEST_F(ContainersExport, OurUnpackReadsItBackAlsoWithAnEmptyPassword) {
    for (const char *password : {"secret", "", static_cast<const char *>(nullptr)}) {
        SCOPED_TRACE(password ? password : "(none)");
        int rc = -1;
        Bytes file = exportWith(cert_.get(), password, &rc);
        ASSERT_EQ(rc, TQ_RTN_OK);
        for (const char *reading : {password, password && *password ? password : ""}) {
            HandleOwner h;
            decodeP12(h, file);
            ASSERT_EQ(TQXCrypt_P12Unpack(h.get(), reading, 0), TQ_RTN_OK);
            EXPECT_EQ(countsOf(h.get()), (Counts{1, 1, 1}));
            EXPECT_EQ(keyAt(h.get(), 0), fxBytes("user.rsa.der"));
        }
        if (password && !*password) {
            const std::string path = dir_.file("empty.p12");
            tqtest::writeFile(path, file);
            sh("openssl pkcs12 -info -nokeys -passin pass: -in " + path + " 2>&1");
        }
    }
}

TEST_F(ContainersExport, Codes) {
    int rc = -1;
    exportWith(other_.get(), "secret", &rc);
    EXPECT_EQ(rc, TQ_RTN_INVALID_KEY);  // the key of another certificate
    unsigned char *der = nullptr;
    uint64_t length = 0;
    TQXCRYPT_HANDLE *cas[] = {ca_.get(), key_.get()};
    EXPECT_EQ(TQXCrypt_ExportPKCS12(key_.get(), cert_.get(), cas, 2, &der, &length, "pw"),
              TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_ExportPKCS12(key_.get(), cert_.get(), nullptr, 1, &der, &length, "pw"),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_ExportPKCS12(key_.get(), cert_.get(), cas, -1, &der, &length, "pw"),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_ExportPKCS12(key_.get(), cert_.get(), nullptr, 0, nullptr, &length, "pw"),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_ExportPKCS12(key_.get(), cert_.get(), nullptr, 0, &der, nullptr, "pw"),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_ExportPKCS12(cert_.get(), cert_.get(), nullptr, 0, &der, &length, "pw"),
              TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_ExportPKCS12(key_.get(), key_.get(), nullptr, 0, &der, &length, "pw"),
              TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_ExportPKCS12(nullptr, cert_.get(), nullptr, 0, &der, &length, "pw"),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(der, nullptr);
    ASSERT_EQ(TQXCrypt_ExportPKCS12(key_.get(), cert_.get(), nullptr, 0, &der, &length, "pw"), TQ_RTN_OK);
    HandleOwner h;
    decodeP12(h, Bytes(der, der + length));
    TQCryptMemFree(der);
    ASSERT_EQ(TQXCrypt_P12Unpack(h.get(), "pw", 0), TQ_RTN_OK);
    EXPECT_EQ(countsOf(h.get()), (Counts{1, 0, 1}));
}

}  // namespace

// NB records made by our writer: the certificate record with and without
// its optional element, the security-user record's PKCS#12 as openssl and
// keytool read it, and hostile records.
#include <gtest/gtest.h>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>

#include "containers_testutil.h"
#include "tqxcrypt.h"

using namespace containertest;
using tqtest::HandleOwner;

namespace {

int nbCert(const Bytes &record, int flag, Buffer *out) {
    return TQXCrypt_NBCert2X509Cert(record.data(), static_cast<int>(record.size()), flag, &out->data,
                                    &out->length);
}

TEST(ContainersNb, CertificateRecordWithAndWithoutTheOptionalElement) {
    const Bytes cert = fxBytes("ca.der");
    for (bool optional : {false, true}) {
        SCOPED_TRACE(optional);
        Bytes record = nbCertRecord(cert, optional);
        Buffer right, wrong;
        ASSERT_EQ(nbCert(record, optional ? 1 : 0, &right), TQ_RTN_OK);
        EXPECT_EQ(right.bytes(), cert);
        EXPECT_EQ(nbCert(record, optional ? 0 : 1, &wrong), -1);
        EXPECT_EQ(wrong.data, nullptr);
        // Any flag above 0 asks for the element.
        Buffer many;
        EXPECT_EQ(nbCert(record, optional ? 7 : -3, &many), TQ_RTN_OK);
    }
}

TEST(ContainersNb, TheCertificateElementIsCopiedWithItsRealHeader) {
    // Short and three-byte length forms: the copy is the element, never
    // its content plus four bytes.
    for (size_t content : {20, 100, 300, 70000}) {
        SCOPED_TRACE(content);
        Bytes element = der::tlv(0x30, Bytes(content, 0x5A));
        Buffer out;
        ASSERT_EQ(nbCert(nbCertRecord(element, false), 0, &out), TQ_RTN_OK);
        EXPECT_EQ(out.bytes(), element);
    }
}

struct NbKey {
    const char *name;
    Bytes plaintext;
    HandleOwner cert;
};

class ContainersNbUser : public ::testing::Test {
protected:
    int toPfx(const Bytes &record, const char *password, TQXCRYPT_HANDLE *cert, int flag, Buffer *out) {
        return TQXCrypt_NBSecUser2PFX(record.data(), static_cast<int>(record.size()), password, cert, flag,
                                      &out->data, &out->length);
    }
    Bytes plaintext(const std::string &name) {
        EVP_PKEY *key = readKey(fx(name + ".key.pem"));
        Bytes out = nbKeyPlaintext(key);
        EVP_PKEY_free(key);
        return out;
    }
    TQXCRYPT_HANDLE *cert(const std::string &name) { return kFixtures.certificate(name + ".der"); }
    tqtest::TempDir dir_;
};

TEST_F(ContainersNbUser, PfxOpensInOpensslAndKeytoolWithTheRecordsPrimes) {
    int status = -1;
    tqtest::run("command -v keytool", &status);
    const bool keytool = status == 0;
    for (const char *name : {"nb1024", "nb2048"}) {
        for (bool optional : {false, true}) {
            SCOPED_TRACE(std::string(name) + (optional ? " with the optional element" : ""));
            HandleOwner c(cert(name));
            Bytes record = nbSecUserRecord(plaintext(name), "user pass", optional);
            Buffer pfx;
            ASSERT_EQ(toPfx(record, "user pass", c.get(), optional ? 1 : 0, &pfx), TQ_RTN_OK);
            const std::string path = dir_.file(std::string(name) + ".p12");
            tqtest::writeFile(path, pfx.bytes());
            std::string info =
                sh("openssl pkcs12 -info -nodes -passin 'pass:user pass' -in " + path + " 2>&1");
            EXPECT_NE(info.find("MAC: sha1, Iteration 2048"), std::string::npos) << info;
            sh("openssl pkcs12 -nocerts -nodes -passin 'pass:user pass' -in " + path + " -out " +
               dir_.file("k.pem"));
            // The key of the record's primes: the modulus of the key they came from.
            EXPECT_EQ(sh("openssl rsa -noout -modulus -in " + dir_.file("k.pem")),
                      sh("openssl rsa -noout -modulus -in " + fx(std::string(name) + ".key.pem")));
            if (keytool) {
                std::string listing = sh(
                    "keytool -list -v -storetype PKCS12 -storepass 'user pass' -keystore " + path + " 2>&1");
                EXPECT_NE(listing.find("Entry type: PrivateKeyEntry"), std::string::npos) << listing;
            }
            // A mismatching flag walks off the path.
            Buffer wrong;
            EXPECT_EQ(toPfx(record, "user pass", c.get(), optional ? 0 : 1, &wrong), -1);
        }
    }
    if (!keytool) GTEST_SKIP() << "no keytool: openssl checked only";
}

TEST_F(ContainersNbUser, WrongPasswordsAndArguments) {
    HandleOwner c(cert("nb1024")),
        key(tqtest::decodeFixture(TQXCRYPT_KIND_PRIVATEKEY, "containers/user.rsa.der"));
    Bytes record = nbSecUserRecord(plaintext("nb1024"), "right", false);
    for (int i = 0; i < 40; ++i) {
        Buffer out;
        int rc = toPfx(record, ("wrong " + std::to_string(i)).c_str(), c.get(), 0, &out);
        EXPECT_TRUE(rc == TQ_RTN_INVALID_KEY || rc == -1) << rc;
        EXPECT_EQ(out.data, nullptr);
    }
    // The key of another certificate: the PKCS#12 cannot be made.
    HandleOwner other(cert("nb2048"));
    Buffer out;
    EXPECT_EQ(toPfx(record, "right", other.get(), 0, &out), TQ_RTN_INVALID_KEY);
    struct Case {
        const char *label;
        const unsigned char *data;
        int length;
        const char *password;
        TQXCRYPT_HANDLE *cert;
        int expected;
    };
    const Case cases[] = {
        {"null data", nullptr, 10, "right", c.get(), TQ_RTN_BAD_ARGUMENT},
        {"negative length", record.data(), -1, "right", c.get(), TQ_RTN_BAD_ARGUMENT},
        {"null password", record.data(), static_cast<int>(record.size()), nullptr, c.get(),
         TQ_RTN_BAD_ARGUMENT},
        {"empty password", record.data(), static_cast<int>(record.size()), "", c.get(), TQ_RTN_BAD_ARGUMENT},
        {"no certificate", record.data(), static_cast<int>(record.size()), "right", nullptr,
         TQ_RTN_BAD_ARGUMENT},
        {"a key handle", record.data(), static_cast<int>(record.size()), "right", key.get(),
         TQ_RTN_BAD_ARGUMENT},
        {"empty record", record.data(), 0, "right", c.get(), -1},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.label);
        Buffer b;
        EXPECT_EQ(TQXCrypt_NBSecUser2PFX(k.data, k.length, k.password, k.cert, 0, &b.data, &b.length),
                  k.expected);
    }
    Buffer b;
    EXPECT_EQ(TQXCrypt_NBSecUser2PFX(record.data(), static_cast<int>(record.size()), "right", c.get(), 0,
                                     nullptr, &b.length),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_NBCert2X509Cert(nullptr, 4, 0, &b.data, &b.length), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_NBCert2X509Cert(record.data(), -5, 0, &b.data, &b.length), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_NBCert2X509Cert(record.data(), 4, 0, nullptr, &b.length), TQ_RTN_BAD_ARGUMENT);
}

// Records that leave the path, each as the walk meets it.
TEST_F(ContainersNbUser, HostileRecords) {
    HandleOwner c(cert("nb1024"));
    const Bytes plain = plaintext("nb1024");
    const Bytes good = nbSecUserRecord(plain, "pw", false);
    using der::integer;
    using der::seq;
    using der::tlv;
    Bytes oddLength = nbSeal(plain, "pw");
    oddLength.pop_back();
    const Bytes tooLong = nbSeal(Bytes(1032, 0x30), "pw");
    const Bytes plainFit = nbSeal(Bytes(1024, 0x30), "pw");
    // Plaintexts whose walk fails: a prime declared longer than the bytes
    // decrypted, five length bytes, a first INTEGER that is no INTEGER.
    const Bytes primeTooLong = seq(
        {integer(Bytes{0}), integer(Bytes{1}), tlv(0x02, Bytes(20, 1)), Bytes{0x02, 0x82, 0x03, 0x00, 1, 2}});
    const Bytes fiveLengthBytes = seq({integer(Bytes{0}), Bytes{0x02, 0x85, 0, 0, 0, 0, 1, 7}});
    const Bytes notIntegers = seq({tlv(0x04, Bytes{1}), integer(Bytes{1})});
    const Bytes notSequence = tlv(0x31, plain);
    struct Case {
        const char *label;
        Bytes record;
        int expected;
    };
    const Case cases[] = {
        {"good", good, TQ_RTN_OK},
        {"encrypted key not whole blocks", nbSecUserRecord(plain, "pw", false, &oddLength), -1},
        {"encrypted key beyond the key area", nbSecUserRecord(plain, "pw", false, &tooLong), -1},
        {"a full key area of no key", nbSecUserRecord(plain, "pw", false, &plainFit), -1},
        {"prime longer than the plaintext", nbSecUserRecord(primeTooLong, "pw", false), -1},
        {"five length bytes in the plaintext", nbSecUserRecord(fiveLengthBytes, "pw", false), -1},
        {"no INTEGERs", nbSecUserRecord(notIntegers, "pw", false), -1},
        {"plaintext not a SEQUENCE", nbSecUserRecord(notSequence, "pw", false), TQ_RTN_INVALID_KEY},
        {"outer length beyond the input",
         der::cat({Bytes{0x30, 0x84, 0x7F, 0xFF, 0xFF, 0xFF}, Bytes(good.begin() + 4, good.end())}), -1},
        {"five length bytes", der::cat({Bytes{0x30, 0x85, 0, 0, 0, 0x01, 0x00}, Bytes(256, 0)}), -1},
        {"indefinite length", der::cat({Bytes{0x30, 0x80}, Bytes(good.begin() + 4, good.end()), Bytes{0, 0}}),
         -1},
        {"high tag number", der::cat({Bytes{0x3F, 0x81, 0x80, 0x80, 0x80, 0x00, 0x05}, Bytes(5, 0)}), -1},
        {"tag number overflowing", der::cat({Bytes{0x3F}, Bytes(8, 0xFF), Bytes{0x01, 0x00}}), -1},
        {"identifier only", Bytes{0x30}, -1},
        {"long form without content", Bytes{0x30, 0x81, 0x00}, -1},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.label);
        Buffer out;
        EXPECT_EQ(toPfx(k.record, "pw", c.get(), 0, &out), k.expected);
    }
    // Every prefix of good records leaves the path: nothing is read past
    // the given length.
    const Bytes cert = nbCertRecord(fxBytes("ca.der"), true);
    for (size_t n = 1; n < good.size(); ++n) {
        Bytes prefix(good.begin(), good.begin() + static_cast<long>(n));
        Buffer out;
        ASSERT_EQ(toPfx(prefix, "pw", c.get(), 0, &out), -1) << n;
    }
    for (size_t n = 1; n < cert.size(); ++n) {
        Bytes prefix(cert.begin(), cert.begin() + static_cast<long>(n));
        Buffer out;
        ASSERT_EQ(nbCert(prefix, 1, &out), -1) << n;
    }
}

}  // namespace

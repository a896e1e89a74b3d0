// Rule texts, serial lists and the validity window of one certificate.
#include <gtest/gtest.h>

#include <openssl/pem.h>

#include "store_support.h"

using namespace storetest;
using tqtest::HandleOwner;

namespace {

constexpr int kPrefix = TQXCRYPT_MATCH_PREFIX;

// alice: C=TW, O=Orvane Test, OU=Unit A, OU=Unit B, CN=Alice,
//        emailAddress=alice@example.org; serial 0x01AB
// aliceb: C=TW, O=Orvane Test, CN=Alice B; serial 0x0ABC
// bob: C=TW, O=Other Org, CN=Bob; serial 0x02CD
// All three are issued by CN=Chain Root.
const char *const kCerts[] = {"alice.pem", "aliceb.pem", "bob.pem"};

enum Over { Subject, Issuer };

struct RuleRow {
    std::string rules;
    int flags;
    Over over;
    int expected[3];  // alice, aliceb, bob
};

const std::string kLongValue(1020, 'x');

const RuleRow kRuleRows[] = {
    {"CN=Alice", 0, Subject, {0, 1, 1}},
    {"CN=Alice", kPrefix, Subject, {0, 0, 1}},
    {"CN=Ali", 0, Subject, {1, 1, 1}},
    {"CN=Ali", kPrefix, Subject, {0, 0, 1}},
    {"CN=", 0, Subject, {1, 1, 1}},
    {"CN=", kPrefix, Subject, {0, 0, 0}},
    {"OU=", kPrefix, Subject, {0, 1, 1}},
    // Rule values longer than the entry: never a match, never read past it.
    {"CN=Alice B", kPrefix, Subject, {1, 0, 1}},
    {"CN=Alice Bartholomew-Featherstonehaugh", kPrefix, Subject, {1, 1, 1}},
    {"CN=Bobby", kPrefix, Subject, {1, 1, 1}},
    {"CN=alice", 0, Subject, {1, 1, 1}},
    {"OU=Unit B", 0, Subject, {0, 1, 1}},
    {"OU=Unit A\nCN=Alice", 0, Subject, {0, 1, 1}},
    {"O=Orvane Test\nCN=Alice B", 0, Subject, {1, 0, 1}},
    {"CN=Alice\n", 0, Subject, {0, 1, 1}},
    {" \tCN =  Alice \r", 0, Subject, {0, 1, 1}},
    {"commonName=Bob", 0, Subject, {1, 1, 0}},
    {"2.5.4.3=Bob", 0, Subject, {1, 1, 0}},
    {"E=alice@example.org", 0, Subject, {0, 1, 1}},
    {"Email=alice@example.org", 0, Subject, {0, 1, 1}},
    {"emailAddress=alice@example.org", 0, Subject, {0, 1, 1}},
    {"", 0, Subject, {0, 0, 0}},
    // Malformed texts.
    // Rules are taken in order: a failing rule ends the check before a bad line.
    {"CN=Alice\n\nO=Orvane Test", 0, Subject, {-1, 1, 1}},
    {"C=TW\n\n", 0, Subject, {-1, -1, -1}},
    {"CN Alice", 0, Subject, {-1, -1, -1}},
    {"=Alice", 0, Subject, {-1, -1, -1}},
    {"Nonsense=1", 0, Subject, {-1, -1, -1}},
    {"e=alice@example.org", 0, Subject, {-1, -1, -1}},
    {"CN=Bob\nCN " + std::string(1020, 'x'), 0, Subject, {1, 1, -1}},
    {"CN=" + std::string(1021, 'x'), 0, Subject, {-1, -1, -1}},
    {"CN=" + kLongValue, 0, Subject, {1, 1, 1}},
    // Hostile texts.
    {"CN=Alice=B", 0, Subject, {1, 1, 1}},
    {"CN=Alice=", kPrefix, Subject, {1, 1, 1}},
    {" \t = Alice", 0, Subject, {-1, -1, -1}},
    {"\n", 0, Subject, {-1, -1, -1}},
    {"\r\n", 0, Subject, {-1, -1, -1}},
    {"\xC3\xA9=x", 0, Subject, {-1, -1, -1}},
    {"CN=Al\xC3\xA9", kPrefix, Subject, {1, 1, 1}},
    {"CN\v=Alice\r\n", 0, Subject, {0, 1, 1}},
    {"O=Orvane Test\n=\n", 0, Subject, {-1, -1, 1}},
    {"SN=0x01AB", 0, Subject, {1, 1, 1}},
    {"SN=;;;01AB;", 0, Subject, {0, 1, 1}},
    {"SN!=;", 0, Subject, {0, 0, 0}},
    {"SN!!=01AB", 0, Subject, {-1, -1, -1}},
    // Serial lists.
    {"SN=01AB", 0, Subject, {0, 1, 1}},
    {"SN=01AB;02CD", 0, Subject, {0, 1, 0}},
    {"SN= 01ab ; 02cd ", 0, Subject, {0, 1, 0}},
    {"SN=1AB", 0, Subject, {0, 1, 1}},
    {"SN=ABC", 0, Subject, {1, 0, 1}},
    {"SN=0ABC", 0, Subject, {1, 0, 1}},
    {"SN=00ABC", 0, Subject, {1, 1, 1}},
    {"SN=01 AB", 0, Subject, {1, 1, 1}},
    {"SN=01AG;;", 0, Subject, {1, 1, 1}},
    {"SN=", 0, Subject, {1, 1, 1}},
    {"SN!=01AB", 0, Subject, {1, 0, 0}},
    {"SN!=", 0, Subject, {0, 0, 0}},
    {"O=Orvane Test\nSN!=0ABC", 0, Subject, {0, 1, 1}},
    // Over the issuer name; the serial rule still reads the certificate's own serial.
    {"CN=Chain Root", 0, Issuer, {0, 0, 0}},
    {"CN=Alice", 0, Issuer, {1, 1, 1}},
    {"CN=Chain", kPrefix, Issuer, {0, 0, 0}},
    {"CN=Chain Root\nSN=02CD", 0, Issuer, {1, 1, 0}},
};

TEST(StoreRules, CertificatesTimesRules) {
    HandleOwner certs[3];
    for (int c = 0; c < 3; ++c) {
        certs[c].h = decodePem(TQXCRYPT_KIND_CERTIFICATE, kCerts[c]);
        ASSERT_NE(certs[c].get(), nullptr);
    }
    for (const RuleRow &row : kRuleRows) {
        for (int c = 0; c < 3; ++c) {
            SCOPED_TRACE(std::string(kCerts[c]) + " with rules \"" + row.rules.substr(0, 60) + "\"");
            X509 *x = certOf(certs[c]);
            int got = row.over == Subject ? tqxCrypt_ValidateCertSubject(x, row.rules.c_str(), row.flags)
                                          : tqxCrypt_ValidateCertIssuer(x, row.rules.c_str(), row.flags);
            EXPECT_EQ(got, row.expected[c]);
            // The exported checks: a failing or malformed text is a rejection.
            int code = row.expected[c] == 0 ? 0 : TQ_RTN_CERT_REJECTED;
            const char *subject = row.over == Subject ? row.rules.c_str() : nullptr;
            const char *issuer = row.over == Issuer ? row.rules.c_str() : nullptr;
            EXPECT_EQ(TQXCrypt_ValidateCertificateEx(certs[c].get(), subject, issuer, row.flags), code);
            if (row.over == Subject && row.flags == 0) {
                EXPECT_EQ(TQXCrypt_ValidateCertificate(certs[c].get(), subject, -1), code);
            }
        }
    }
}

TEST(StoreRules, SerialLists) {
    struct Row {
        const char *cert;
        std::string list;
        int expected;
    } rows[] = {
        {"high.pem", "FF", 0},
        {"high.pem", "ff", 0},
        {"high.pem", "00FF", 1},
        {"long.pem", "0102030405060708090A0B0C0D0E0F1011121314", 0},
        {"long.pem", "102030405060708090A0B0C0D0E0F1011121314", 0},
        {"long.pem", "0102030405060708090A0B0C0D0E0F10111213", 1},
        {"long.pem", "AA;BB;0102030405060708090A0B0C0D0E0F1011121314", 0},
        {"long.pem", std::string(2048, '0'), 1},
        {"long.pem", std::string(2049, '1'), 1},
        {"alice.pem", "AB", 1},
        {"alice.pem", "x01AB", 1},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.cert) + " " + row.list.substr(0, 50));
        X509 *x = readCert(row.cert);
        ASSERT_NE(x, nullptr);
        EXPECT_EQ(tqxCrypt_ValidateCertSerialNumber(x, row.list.c_str()), row.expected);
        X509_free(x);
    }
}

// The validity window; the expired leaf is valid from 2020-01-01 to 2021-01-01.
TEST(StoreRules, ValidityWindow) {
    struct Row {
        const char *cert;
        int time;
        int expected;
    } rows[] = {
        {"expired.leaf.pem", 0, TQ_RTN_CERT_EXPIRED},
        {"expired.leaf.pem", 1577836799, TQ_RTN_CERT_NOT_YET_VALID},
        {"expired.leaf.pem", 1577836800, 0},
        {"expired.leaf.pem", 1609459199, 0},
        {"expired.leaf.pem", 1609459200, TQ_RTN_CERT_EXPIRED},
        {"expired.leaf.pem", -1, 0},
        {"future.leaf.pem", 0, TQ_RTN_CERT_NOT_YET_VALID},
        {"good.leaf.pem", 0, 0},
        {"good.leaf.pem", 1685577600, TQ_RTN_CERT_NOT_YET_VALID},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.cert) + " at " + std::to_string(row.time));
        HandleOwner cert(decodePem(TQXCRYPT_KIND_CERTIFICATE, row.cert));
        EXPECT_EQ(TQXCrypt_ValidateCertificate(cert.get(), nullptr, row.time), row.expected);
        if (row.time >= 0) {
            EXPECT_EQ(tqxCryptValidateCert(certOf(cert), row.time), row.expected);
        }
        if (row.time == 0) {
            EXPECT_EQ(TQXCrypt_ValidateCertificateEx(cert.get(), nullptr, nullptr, TQXCRYPT_VALIDATE_TIME),
                      row.expected);
            EXPECT_EQ(TQXCrypt_ValidateCertificateEx(cert.get(), nullptr, nullptr, 0), 0);
        }
    }
    // The rule is checked before the window.
    HandleOwner expired(decodePem(TQXCRYPT_KIND_CERTIFICATE, "expired.leaf.pem"));
    EXPECT_EQ(TQXCrypt_ValidateCertificate(expired.get(), "CN=Someone Else", 0), TQ_RTN_CERT_REJECTED);
    EXPECT_EQ(TQXCrypt_ValidateCertificate(expired.get(), "CN=Expired Leaf", 0), TQ_RTN_CERT_EXPIRED);
}

// A date field that cannot be compared fails the window, never passes it.
TEST(StoreRules, UnreadableDatesFail) {
    X509 *model = readCert("good.leaf.pem");
    ASSERT_NE(model, nullptr);
    struct Row {
        bool notBefore;
        int expected;
    } rows[] = {{true, TQ_RTN_CERT_NOT_YET_VALID}, {false, TQ_RTN_CERT_EXPIRED}};
    for (const auto &row : rows) {
        X509 *x = X509_dup(model);
        ASN1_TIME *t = ASN1_TIME_new();
        ASN1_STRING_set(t, "20301399000000Z", 15);
        t->type = V_ASN1_GENERALIZEDTIME;
        row.notBefore ? X509_set1_notBefore(x, t) : X509_set1_notAfter(x, t);
        ASN1_TIME_free(t);
        EXPECT_EQ(tqxCryptValidateCert(x, 0), row.expected);
        X509_free(x);
    }
    X509_free(model);
}

TEST(StoreRules, HandleChecks) {
    HandleOwner crl(decodePem(TQXCRYPT_KIND_CRL, "crl.inter.pem"));
    EXPECT_EQ(TQXCrypt_ValidateCertificate(nullptr, nullptr, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_ValidateCertificate(crl.get(), nullptr, 0), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_ValidateCertificateEx(nullptr, nullptr, nullptr, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_ValidateCertificateEx(crl.get(), nullptr, nullptr, 0), TQ_RTN_WRONG_HANDLE);
}

}  // namespace

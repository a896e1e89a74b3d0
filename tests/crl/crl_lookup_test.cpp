// Revoked entries in and out: both reason tables, the order kept until a
// sort, lookups on sorted and unsorted lists (negative serials too), the
// getters with their blob rule, and bad input.
#include <gtest/gtest.h>

#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "build_support.h"

using namespace buildtest;
using tqtest::sh;

namespace {

TQXCRYPT_HANDLE *newCrl() {
    TQXCRYPT_HANDLE *h = nullptr;
    EXPECT_EQ(TQXCrypt_CreateCRL(&h), TQ_RTN_OK);
    return h;
}

struct Found {
    int rc, status;
    std::string date;
};
Found lookup(TQXCRYPT_HANDLE *crl, const char *serial) {
    char date[TQXCRYPT_TIME_TEXT_SIZE] = "unchanged";
    Found f{0, -1, ""};
    f.rc = TQXCrypt_CRLGetRevoked(crl, serial, date, &f.status, 0);
    f.date = date;
    return f;
}

std::string serialAt(TQXCRYPT_HANDLE *crl, int index) {
    tqtest::BlobOwner serial;
    char date[TQXCRYPT_TIME_TEXT_SIZE];
    int reason = 0;
    EXPECT_EQ(TQXCrypt_CRLGetRevokedInfo(crl, index, &serial, date, &reason), TQ_RTN_OK);
    return tqtest::toHex(serial.bytes());
}

TEST(CrlReasons, InputAndOutputTables) {
    const struct {
        int given;
        int rc;
        int reported;
    } rows[] = {
        {0, TQ_RTN_OK, TQ_RTN_REVOKED},
        {1, TQ_RTN_OK, TQ_RTN_REVOKED_KEY_COMPROMISE},
        {4, TQ_RTN_OK, TQ_RTN_REVOKED_SUPERSEDED},
        {6, TQ_RTN_OK, TQ_RTN_REVOKED_CERTIFICATE_HOLD},
        {8, TQ_RTN_OK, TQ_RTN_REVOKED_REMOVE_FROM_CRL},
        {TQ_RTN_REVOKED, TQ_RTN_OK, TQ_RTN_REVOKED},
        {TQ_RTN_REVOKED_KEY_COMPROMISE, TQ_RTN_OK, TQ_RTN_REVOKED_KEY_COMPROMISE},
        {TQ_RTN_REVOKED_CA_COMPROMISE, TQ_RTN_OK, TQ_RTN_REVOKED_CA_COMPROMISE},
        {TQ_RTN_REVOKED_AFFILIATION_CHANGED, TQ_RTN_OK, TQ_RTN_REVOKED_AFFILIATION_CHANGED},
        {TQ_RTN_REVOKED_CESSATION, TQ_RTN_OK, TQ_RTN_REVOKED_CESSATION},
        {TQ_RTN_REVOKED_CERTIFICATE_HOLD, TQ_RTN_OK, TQ_RTN_REVOKED_CERTIFICATE_HOLD},
        {TQ_RTN_REVOKED_REMOVE_FROM_CRL_INPUT, TQ_RTN_OK, TQ_RTN_REVOKED_REMOVE_FROM_CRL},
        {TQ_RTN_REVOKED_REMOVE_FROM_CRL, TQ_RTN_BAD_ARGUMENT, 0},
        {7, TQ_RTN_BAD_ARGUMENT, 0},
        {9, TQ_RTN_BAD_ARGUMENT, 0},
        {-1, TQ_RTN_BAD_ARGUMENT, 0},
        {5019, TQ_RTN_BAD_ARGUMENT, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.given);
        HandleOwner crl(newCrl());
        ASSERT_EQ(TQXCrypt_CRLAddRevoked(crl.get(), "01AB", "20250102030405+0000", row.given), row.rc);
        int count = -1;
        ASSERT_EQ(TQXCrypt_CRLGetRevokedCount(crl.get(), &count), TQ_RTN_OK);
        EXPECT_EQ(count, row.rc == TQ_RTN_OK ? 1 : 0);
        auto *x = static_cast<X509_CRL *>(crl.get()->object);
        // Version 2 only with a reason extension.
        EXPECT_EQ(X509_CRL_get_version(x), row.rc == TQ_RTN_OK && row.given != 0 ? 1 : 0);
        if (row.rc != TQ_RTN_OK) continue;
        Found f = lookup(crl.get(), "1ab");
        EXPECT_EQ(f.rc, TQ_RTN_OK);
        EXPECT_EQ(f.status, row.reported);
        EXPECT_EQ(f.date, "20250102030405+0000");
    }
    // Values our adders refuse, as other writers put them in: reported 5001.
    HandleOwner crl(newCrl());
    auto *x = static_cast<X509_CRL *>(crl.get()->object);
    for (long value : {7L, 9L, 10L}) {
        X509_REVOKED *entry = X509_REVOKED_new();
        ASN1_INTEGER *serial = ASN1_INTEGER_new();
        ASN1_INTEGER_set(serial, value);
        X509_REVOKED_set_serialNumber(entry, serial);
        ASN1_INTEGER_free(serial);
        ASN1_TIME *t = ASN1_TIME_set(nullptr, 1700000000);
        X509_REVOKED_set_revocationDate(entry, t);
        ASN1_TIME_free(t);
        ASN1_ENUMERATED *reason = ASN1_ENUMERATED_new();
        ASN1_ENUMERATED_set(reason, value);
        X509_REVOKED_add1_ext_i2d(entry, NID_crl_reason, reason, 0, 0);
        ASN1_ENUMERATED_free(reason);
        X509_CRL_add0_revoked(x, entry);
    }
    for (const char *serial : {"07", "09", "0A"}) EXPECT_EQ(lookup(crl.get(), serial).status, TQ_RTN_FAILED);
}

TEST(CrlOrder, KeptUntilSortedAndLookupsBothWays) {
    HandleOwner crl(newCrl());
    Found none = lookup(crl.get(), "01");
    EXPECT_EQ(none.rc, TQ_RTN_OK);
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.date, "");
    EXPECT_EQ(TQXCrypt_CRLSortRevoked(crl.get(), 0), TQ_RTN_OK);
    for (const char *serial : {"03", "01", "0200", "02"})
        ASSERT_EQ(TQXCrypt_CRLAddRevoked(crl.get(), serial, "250101000000+0000", 0), TQ_RTN_OK);
    // The same serial twice: found either way.
    ASSERT_EQ(TQXCrypt_CRLAddRevoked(crl.get(), "0001", "250202000000+0000", 5022), TQ_RTN_OK);
    const char *entered[] = {"03", "01", "0200", "02", "01"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(serialAt(crl.get(), i), entered[i]);
    // Unsorted: a scan, the first equal entry.
    EXPECT_EQ(lookup(crl.get(), "01").status, TQ_RTN_REVOKED);
    ASSERT_EQ(TQXCrypt_CRLSortRevoked(crl.get(), 7), TQ_RTN_OK);
    const char *sorted[] = {"01", "01", "02", "03", "0200"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(serialAt(crl.get(), i), sorted[i]);
    for (const char *serial : {"01", "02", "03", "0200"})
        EXPECT_NE(lookup(crl.get(), serial).status, 0) << serial;
    for (const char *serial : {"00", "04", "0100", "020000"})
        EXPECT_EQ(lookup(crl.get(), serial).status, 0) << serial;
    // An addition goes last and ends the sorted order.
    ASSERT_EQ(TQXCrypt_CRLAddRevoked(crl.get(), "00", "250101000000+0000", 0), TQ_RTN_OK);
    EXPECT_EQ(serialAt(crl.get(), 5), "00");
    EXPECT_EQ(lookup(crl.get(), "00").status, TQ_RTN_REVOKED);
}

// Negative serials keep their sign: the certificate itself is revoked, for
// the tool and for our lookups, sorted or not, and no entry hides another.
TEST(CrlOrder, NegativeSerialsKeepTheirSign) {
    tqtest::TempDir dir;
    std::string caKey = dir.file("ca.key.pem");
    sh("openssl rsa -traditional -in '" + tqtest::fixture("x509/ca.key.pem") + "' -out '" + caKey +
       "' 2>/dev/null");
    Bytes keyPem = tqtest::readFile(caKey);
    HandleOwner key,
        ca(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "x509/ca.pem", TQXCRYPT_DECODE_TEXT));
    ASSERT_EQ(TQXCrypt_DecodeObject(key.out(), TQXCRYPT_KIND_PRIVATEKEY, keyPem.data(), keyPem.size(),
                                    TQXCRYPT_DECODE_TEXT, nullptr),
              TQ_RTN_OK);
    HandleOwner minus1(
        tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "x509/serial.-1.pem", TQXCRYPT_DECODE_TEXT));
    HandleOwner minus256(
        tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "x509/serial.-256.pem", TQXCRYPT_DECODE_TEXT));
    HandleOwner plus1(
        tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "x509/serial.1.pem", TQXCRYPT_DECODE_TEXT));
    HandleOwner plus256(
        tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "x509/serial.256.pem", TQXCRYPT_DECODE_TEXT));
    HandleOwner crl(newCrl());
    ASSERT_EQ(TQXCrypt_CRLSetIssuer(crl.get(), ca.get()), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLSetLastUpdate(crl.get(), "250101000000+0000"), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLSetNextUpdate(crl.get(), "20990101000000+0000"), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLAddCertRevoked(crl.get(), minus1.get(), "250101000000+0000", 5021), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLAddCertRevoked(crl.get(), plus256.get(), "250101000000+0000", 5024), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLAddRevoked(crl.get(), "02", "250101000000+0000", 0), TQ_RTN_OK);
    for (bool sort : {false, true}) {
        SCOPED_TRACE(sort ? "sorted" : "unsorted");
        if (sort) {
            ASSERT_EQ(TQXCrypt_CRLSortRevoked(crl.get(), 0), TQ_RTN_OK);
        }
        const struct {
            TQXCRYPT_HANDLE *cert;
            int status;
        } rows[] = {{minus1.get(), TQ_RTN_REVOKED_KEY_COMPROMISE},
                    {plus1.get(), 0},
                    {minus256.get(), 0},
                    {plus256.get(), TQ_RTN_REVOKED_SUPERSEDED}};
        for (const auto &row : rows) {
            char date[TQXCRYPT_TIME_TEXT_SIZE];
            int status = -1;
            ASSERT_EQ(TQXCrypt_CRLGetCertRevoked(crl.get(), row.cert, date, &status, 0), TQ_RTN_OK);
            EXPECT_EQ(status, row.status);
        }
        EXPECT_EQ(lookup(crl.get(), "01").status, 0);
        EXPECT_EQ(lookup(crl.get(), "02").status, TQ_RTN_REVOKED);
        EXPECT_EQ(lookup(crl.get(), "0100").status, TQ_RTN_REVOKED_SUPERSEDED);
    }
    // A negative entry sorted among positive ones of its length: the search
    // compares as the sort ordered, so it hides no entry before it.
    HandleOwner mixed(newCrl());
    for (const char *s : {"0400", "02", "0300", "01"})
        ASSERT_EQ(TQXCrypt_CRLAddRevoked(mixed.get(), s, "250101000000+0000", 0), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLAddCertRevoked(mixed.get(), minus256.get(), "250101000000+0000", 5022), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLSortRevoked(mixed.get(), 0), TQ_RTN_OK);
    for (const char *s : {"01", "02", "0300", "0400"})
        EXPECT_EQ(lookup(mixed.get(), s).status, TQ_RTN_REVOKED) << s;
    EXPECT_EQ(lookup(mixed.get(), "0100").status, 0);
    char when[TQXCRYPT_TIME_TEXT_SIZE];
    int status = -1;
    ASSERT_EQ(TQXCrypt_CRLGetCertRevoked(mixed.get(), minus256.get(), when, &status, 0), TQ_RTN_OK);
    EXPECT_EQ(status, TQ_RTN_REVOKED_CA_COMPROMISE);

    ASSERT_EQ(TQXCrypt_SignObject(crl.get(), key.get(), 4), TQ_RTN_OK);
    std::string file = saved(dir, "neg.crl", der(crl.get(), TQXCRYPT_KIND_CRL));
    sh("openssl crl -inform DER -in '" + file + "' -out '" + file + ".pem'");
    std::string base = "openssl verify -crl_check -CAfile '" + tqtest::fixture("x509/ca.pem") +
                       "' -CRLfile '" + file + ".pem' '";
    EXPECT_NE(sh(base + tqtest::fixture("x509/serial.-1.pem") + "' 2>&1", 2).find("certificate revoked"),
              std::string::npos);
    sh(base + tqtest::fixture("x509/serial.1.pem") + "' 2>&1");
}

TEST(CrlGetters, FieldsExtensionsAndBlobRules) {
    HandleOwner crl(newCrl());
    char date[TQXCRYPT_TIME_TEXT_SIZE];
    EXPECT_EQ(TQXCrypt_CRLGetNextUpdate(crl.get(), 0, date), TQ_RTN_NOT_PRESENT);
    ASSERT_EQ(TQXCrypt_CRLSetIssuerName(crl.get(), "C=TW\nCN=Getter"), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLSetLastUpdate(crl.get(), "20250102030405+0800"), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLSetNextUpdate(crl.get(), "250203040506-0000"), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLAddRevoked(crl.get(), "ABCD", "250101000000+0000", 5021), TQ_RTN_OK);
    char *issuer = nullptr;
    ASSERT_EQ(TQXCrypt_CRLGetIssuer(crl.get(), 0, &issuer), TQ_RTN_OK);
    EXPECT_STREQ(issuer, "C=TW\r\nCN=Getter");
    TQCryptMemFree(issuer);
    ASSERT_EQ(TQXCrypt_CRLGetLastUpdate(crl.get(), 0, date), TQ_RTN_OK);
    EXPECT_STREQ(date, "20250102030405+0800");
    ASSERT_EQ(TQXCrypt_CRLGetNextUpdate(crl.get(), 0, date), TQ_RTN_OK);
    EXPECT_STREQ(date, "20250203040506+0000");
    // A refused name leaves the issuer as it was.
    EXPECT_EQ(TQXCrypt_CRLSetIssuerName(crl.get(), "CN"), TQ_RTN_BAD_FORMAT);
    ASSERT_EQ(TQXCrypt_CRLGetIssuer(crl.get(), 0, &issuer), TQ_RTN_OK);
    EXPECT_STREQ(issuer, "C=TW\r\nCN=Getter");
    TQCryptMemFree(issuer);

    // Serial blob: a short buffer keeps its length; none gets the exact size.
    unsigned char one[1] = {0};
    TQXCRYPT_BLOB small{1, one};
    int reason = 0;
    EXPECT_EQ(TQXCrypt_CRLGetRevokedInfo(crl.get(), 0, &small, date, &reason), TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(small.length, 1u);
    tqtest::BlobOwner serial;
    ASSERT_EQ(TQXCrypt_CRLGetRevokedInfo(crl.get(), 0, &serial, date, &reason), TQ_RTN_OK);
    EXPECT_EQ(tqtest::toHex(serial.bytes()), "ABCD");
    EXPECT_EQ(reason, TQ_RTN_REVOKED_KEY_COMPROMISE);
    EXPECT_STREQ(date, "20250101000000+0000");
    EXPECT_EQ(TQXCrypt_CRLGetRevokedInfo(crl.get(), 1, &serial, date, &reason), TQ_RTN_FAILED);
    EXPECT_EQ(TQXCrypt_CRLGetRevokedInfo(crl.get(), -1, &serial, date, &reason), TQ_RTN_FAILED);

    // crlNumber: padding dropped, one zero kept; the decoder reads it back.
    const unsigned char padded[] = {0x00, 0x00, 0x01, 0x00}, zeros[] = {0x00, 0x00};
    TQXCRYPT_BLOB number{sizeof padded, const_cast<unsigned char *>(padded)};
    TQXCRYPT_BLOB zero{sizeof zeros, const_cast<unsigned char *>(zeros)};
    auto *x = static_cast<X509_CRL *>(crl.get()->object);
    auto crlNumberDer = [&] {
        int at = X509_CRL_get_ext_by_NID(x, NID_crl_number, -1);
        const ASN1_OCTET_STRING *v = X509_EXTENSION_get_data(X509_CRL_get_ext(x, at));
        return tqtest::toHex(
            Bytes(ASN1_STRING_get0_data(v), ASN1_STRING_get0_data(v) + ASN1_STRING_length(v)));
    };
    ASSERT_EQ(TQXCrypt_CRLSetExtension(crl.get(), "crlNumber", &zero, 0), TQ_RTN_OK);
    EXPECT_EQ(crlNumberDer(), "020100");
    ASSERT_EQ(TQXCrypt_CRLSetExtension(crl.get(), "crlNumber", &number, 0), TQ_RTN_OK);
    EXPECT_EQ(crlNumberDer(), "02020100");
    EXPECT_EQ(X509_CRL_get_ext_count(x), 1);
    tqtest::BlobOwner value;
    int critical = -1;
    ASSERT_EQ(TQXCrypt_CRLGetExtension(crl.get(), "2.5.29.20", 0, &value, &critical), TQ_RTN_OK);
    EXPECT_EQ(critical, 0);
    EXPECT_EQ(TQXCrypt_CRLGetExtension(crl.get(), "authorityKeyIdentifier", 0, &value, nullptr),
              TQ_RTN_NOT_PRESENT);
    EXPECT_EQ(TQXCrypt_CRLGetExtension(crl.get(), "no such name", 0, &value, nullptr), TQ_RTN_BAD_ARGUMENT);
    // The version follows an extension too.
    HandleOwner plain(newCrl());
    ASSERT_EQ(TQXCrypt_CRLSetExtension(plain.get(), "crlNumber", &number, 0), TQ_RTN_OK);
    EXPECT_EQ(X509_CRL_get_version(static_cast<X509_CRL *>(plain.get()->object)), 1);
}

TEST(CrlBadInput, HandlesTextsAndBuffers) {
    HandleOwner crl(newCrl()), cert, key(privateKey("root.key.pem"));
    ASSERT_EQ(TQXCrypt_CreateCertificate(cert.out()), TQ_RTN_OK);  // no serial set
    ASSERT_EQ(TQXCrypt_CRLAddRevoked(crl.get(), "01", "250101000000+0000", 0), TQ_RTN_OK);
    char date[TQXCRYPT_TIME_TEXT_SIZE];
    int status = 0, count = 0;
    tqtest::BlobOwner serial;
    HandleOwner noObject(tqtest::emptyHandle(TQXCRYPT_KIND_CRL));
    const std::string longSerial(2049, 'A');
    const tqtest::CodeCase cases[] = {
        {"create: null", TQXCrypt_CreateCRL(nullptr), TQ_RTN_BAD_ARGUMENT},
        {"null CRL", TQXCrypt_CRLAddRevoked(nullptr, "01", "250101000000+0000", 0), TQ_RTN_BAD_ARGUMENT},
        {"CRL without object", TQXCrypt_CRLGetRevokedCount(noObject.get(), &count), TQ_RTN_BAD_ARGUMENT},
        {"certificate as CRL", TQXCrypt_CRLSortRevoked(cert.get(), 0), TQ_RTN_WRONG_HANDLE},
        {"key as certificate", TQXCrypt_CRLSetIssuer(crl.get(), key.get()), TQ_RTN_WRONG_HANDLE},
        {"null certificate", TQXCrypt_CRLAddCertRevoked(crl.get(), nullptr, "250101000000+0000", 0),
         TQ_RTN_BAD_ARGUMENT},
        {"no serial set: add", TQXCrypt_CRLAddCertRevoked(crl.get(), cert.get(), "250101000000+0000", 0),
         TQ_RTN_FAILED},
        {"no serial set: look up", TQXCrypt_CRLGetCertRevoked(crl.get(), cert.get(), date, &status, 0),
         TQ_RTN_FAILED},
        {"null serial text", TQXCrypt_CRLAddRevoked(crl.get(), nullptr, "250101000000+0000", 0),
         TQ_RTN_BAD_ARGUMENT},
        {"null date text", TQXCrypt_CRLAddRevoked(crl.get(), "01", nullptr, 0), TQ_RTN_BAD_ARGUMENT},
        {"18-character date", TQXCrypt_CRLAddRevoked(crl.get(), "01", "2501010000000+0000", 0),
         TQ_RTN_BAD_FORMAT},
        {"month 13", TQXCrypt_CRLAddRevoked(crl.get(), "01", "251301000000+0000", 0), TQ_RTN_BAD_FORMAT},
        {"not hexadecimal", TQXCrypt_CRLAddRevoked(crl.get(), "0G", "250101000000+0000", 0),
         TQ_RTN_BAD_FORMAT},
        {"serial too long", TQXCrypt_CRLAddRevoked(crl.get(), longSerial.c_str(), "250101000000+0000", 0),
         TQ_RTN_BUFFER_TOO_SMALL},
        {"look up: null date", TQXCrypt_CRLGetRevoked(crl.get(), "01", nullptr, &status, 0),
         TQ_RTN_BAD_ARGUMENT},
        {"look up: null status", TQXCrypt_CRLGetRevoked(crl.get(), "01", date, nullptr, 0),
         TQ_RTN_BAD_ARGUMENT},
        {"look up: null text", TQXCrypt_CRLGetRevoked(crl.get(), nullptr, date, &status, 0),
         TQ_RTN_BAD_ARGUMENT},
        {"look up: too long", TQXCrypt_CRLGetRevoked(crl.get(), longSerial.c_str(), date, &status, 0),
         TQ_RTN_BUFFER_TOO_SMALL},
        {"by cert: null date", TQXCrypt_CRLGetCertRevoked(crl.get(), cert.get(), nullptr, &status, 0),
         TQ_RTN_BAD_ARGUMENT},
        {"count: null", TQXCrypt_CRLGetRevokedCount(crl.get(), nullptr), TQ_RTN_BAD_ARGUMENT},
        {"info: null blob", TQXCrypt_CRLGetRevokedInfo(crl.get(), 0, nullptr, date, &status),
         TQ_RTN_BAD_ARGUMENT},
        {"info: null date", TQXCrypt_CRLGetRevokedInfo(crl.get(), 0, &serial, nullptr, &status),
         TQ_RTN_BAD_ARGUMENT},
        {"info: null reason", TQXCrypt_CRLGetRevokedInfo(crl.get(), 0, &serial, date, nullptr),
         TQ_RTN_BAD_ARGUMENT},
        {"issuer: null out", TQXCrypt_CRLGetIssuer(crl.get(), 0, nullptr), TQ_RTN_BAD_ARGUMENT},
        {"issuer name: null", TQXCrypt_CRLSetIssuerName(crl.get(), nullptr), TQ_RTN_BAD_ARGUMENT},
        {"lastUpdate: null buffer", TQXCrypt_CRLGetLastUpdate(crl.get(), 0, nullptr), TQ_RTN_BAD_ARGUMENT},
        {"lastUpdate: null text", TQXCrypt_CRLSetLastUpdate(crl.get(), nullptr), TQ_RTN_BAD_ARGUMENT},
        {"nextUpdate: 18 characters", TQXCrypt_CRLSetNextUpdate(crl.get(), "2501010000000+0000"),
         TQ_RTN_BAD_FORMAT},
        {"extension: null value", TQXCrypt_CRLGetExtension(crl.get(), "crlNumber", 0, nullptr, nullptr),
         TQ_RTN_BAD_ARGUMENT},
        {"extension: unsupported", TQXCrypt_CRLSetExtension(crl.get(), "deltaCRL", "01", 0),
         TQ_RTN_NOT_SUPPORTED},
    };
    tqtest::expectCodes(cases);
    ASSERT_EQ(TQXCrypt_CRLGetRevokedCount(crl.get(), &count), TQ_RTN_OK);
    EXPECT_EQ(count, 1);
}

}  // namespace

// Digests and certificate texts, against the openssl tool.
#include <openssl/objects.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <tuple>

#include "textapi_support.h"
#include "tqxcrypt_x509.h"

using namespace txtest;
using tqtest::TempDir;

namespace {

std::string upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return (char)std::toupper(c); });
    return s;
}

// The value after "=" on openssl's one line, without its line end.
std::string after(const std::string &line, char c = '=') {
    std::string v = line.substr(line.find(c) + 1);
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
    return v;
}

std::string stripColons(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), ':'), s.end());
    return s;
}

TEST(TextDigest, HashAndCertificateDigestForEverySelector) {
    TempDir dir;
    const Bytes data = tqtest::randomBytes(777, 3);
    tqtest::writeFile(dir.file("data"), data);
    const std::string pem = text("sign.pem");
    for (const auto &sel : tqtest::kSelectors) {
        SCOPED_TRACE(sel.md);
        OutText hash, digest;
        ASSERT_EQ(TQCrypt_Hash(data.data(), data.size(), (int)sel.selector, &hash), TQ_RTN_OK);
        std::string dgst = sh(std::string("openssl dgst -") + sel.md + " " + dir.file("data"));
        EXPECT_EQ(hash.str(), upper(after(dgst, ' ').substr(0)));
        ASSERT_EQ(TQCrypt_CertGetDigest(pem.c_str(), (int)sel.selector, &digest), TQ_RTN_OK);
        EXPECT_EQ(digest.str(), stripColons(after(sh(std::string("openssl x509 -noout -fingerprint -") +
                                                     sel.md + " -in " + fx("sign.pem")))));
    }
    OutText out;
    EXPECT_EQ(TQCrypt_Hash(data.data(), data.size(), 7, &out), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(out.p, nullptr);
}

TEST(TextDigest, CertificateDigestTakesTheBytesUnparsed) {
    TempDir dir;
    const std::string pem = text("sign.pem");
    std::string body = pem.substr(pem.find('\n') + 1);
    body = body.substr(0, body.find("-----END"));
    OutText fromPem, fromBase64, garbage;
    ASSERT_EQ(TQCrypt_CertGetDigest(pem.c_str(), 4, &fromPem), TQ_RTN_OK);
    ASSERT_EQ(TQCrypt_CertGetDigest(body.c_str(), 4, &fromBase64), TQ_RTN_OK);
    EXPECT_EQ(fromPem.str(), fromBase64.str());
    // Not a certificate at all: hashed as it is.
    tqtest::writeFile(dir.file("junk"), std::string("not a certificate"));
    std::string junk64 = sh("openssl base64 -in " + dir.file("junk"));
    ASSERT_EQ(TQCrypt_CertGetDigest(junk64.c_str(), 2, &garbage), TQ_RTN_OK);
    EXPECT_EQ(garbage.str(), upper(after(sh("openssl dgst -sha1 " + dir.file("junk")), ' ')));
    // Only "CERTIFICATE" armour is taken off.
    std::string x509 = "-----BEGIN X509 CERTIFICATE-----\n" + body + "-----END X509 CERTIFICATE-----\n";
    OutText none;
    EXPECT_EQ(TQCrypt_CertGetDigest(x509.c_str(), 4, &none), TQ_RTN_BAD_BASE64);
    EXPECT_EQ(none.p, nullptr);
}

TEST(TextCertificate, SerialKeySizeNamesAndAlgorithms) {
    for (const char *name : {"sign.pem", "noku.pem", "expired.pem"}) {
        SCOPED_TRACE(name);
        const std::string cert = text(name);
        OutText serial, subject, issuer, alg;
        ASSERT_EQ(TQCrypt_CertGetSerialNumber(cert.c_str(), 0, &serial), TQ_RTN_OK);
        std::string expected = after(sh(std::string("openssl x509 -noout -serial -in ") + fx(name)));
        if (expected.size() % 2) expected = "0" + expected;
        EXPECT_EQ(serial.str(), expected);
        int size = 0;
        ASSERT_EQ(TQCrypt_CertGetKeySize(cert.c_str(), 0, &size), TQ_RTN_OK);
        EXPECT_NE(sh(std::string("openssl x509 -noout -text -in ") + fx(name))
                      .find("Public-Key: (" + std::to_string(size * 8) + " bit)"),
                  std::string::npos);
        // Name texts: openssl's lines with short names, "Email" for the e-mail type, joined by CR LF.
        for (auto [flag, out, get] :
             {std::make_tuple("-subject", std::addressof(subject), TQCrypt_CertGetSubject),
              std::make_tuple("-issuer", std::addressof(issuer), TQCrypt_CertGetIssuer)}) {
            ASSERT_EQ(get(cert.c_str(), 0, &(*out)), TQ_RTN_OK);
            std::string lines = sh(std::string("openssl x509 -noout -nameopt sep_multiline,sname,utf8 ") +
                                   flag + " -in " + fx(name));
            std::string want;
            size_t at = lines.find('\n') + 1;
            while (at < lines.size()) {
                size_t nl = lines.find('\n', at);
                std::string l = lines.substr(at, nl - at);
                l = l.substr(l.find_first_not_of(' '));
                if (l.rfind("emailAddress=", 0) == 0) l = "Email=" + l.substr(13);
                want += (want.empty() ? "" : "\r\n") + l;
                at = nl + 1;
            }
            EXPECT_EQ(out->str(), want) << flag;
        }
        ASSERT_EQ(TQCrypt_CertGetSignatureAlgorithm(cert.c_str(), 0, &alg), TQ_RTN_OK);
        std::string longName = after(sh(std::string("openssl x509 -noout -text -in ") + fx(name) +
                                        " | grep -m1 'Signature Algorithm'"),
                                     ':');
        longName = longName.substr(longName.find_first_not_of(' '));
        EXPECT_EQ(alg.str(), OBJ_nid2sn(OBJ_ln2nid(longName.c_str())));
    }
}

// A field is an entry's name at the start of a line: "C=" is not the end of
// "DC=", and the first listed flag that is set decides.
TEST(TextCertificate, SubjectFields) {
    const std::string cert = text("sign.pem");
    const struct {
        int flags;
        const char *value;
    } cases[] = {
        {TQCRYPT_SUBJECT_CN, "Text Signer"},
        {TQCRYPT_SUBJECT_EMAIL, "signer@example.org"},
        {TQCRYPT_SUBJECT_O, "Orvane Test"},
        {TQCRYPT_SUBJECT_OU, "Text Unit"},
        {TQCRYPT_SUBJECT_C, "TW"},
        {TQCRYPT_SUBJECT_CN | TQCRYPT_SUBJECT_O, "Text Signer"},
        {TQCRYPT_SUBJECT_C | TQCRYPT_SUBJECT_OU, "Text Unit"},
        {TQCRYPT_SUBJECT_C | 0x1, "TW"},
        {0x200000, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.flags);
        OutText value;
        ASSERT_EQ(TQCrypt_CertGetSubject(cert.c_str(), c.flags, &value), TQ_RTN_OK);
        EXPECT_EQ(value.str(), c.value);
    }
    // A name without the asked field gives an empty text.
    OutText none;
    ASSERT_EQ(TQCrypt_CertGetSubject(text("noku.pem").c_str(), TQCRYPT_SUBJECT_EMAIL, &none), TQ_RTN_OK);
    EXPECT_EQ(none.str(), "");
}

// openssl's ISO 8601 time as the time text.
std::string isoToTimeText(std::string iso) {
    iso = after(iso);
    std::string digits;
    for (char c : iso)
        if (std::isdigit((unsigned char)c)) digits += c;
    return digits + "+0000";
}

TEST(TextCertificate, BothTimes) {
    for (const char *name : {"sign.pem", "expired.pem"}) {
        SCOPED_TRACE(name);
        char before[TQXCRYPT_TIME_TEXT_SIZE] = {0}, afterText[TQXCRYPT_TIME_TEXT_SIZE] = {0};
        ASSERT_EQ(TQCrypt_CertGetNotBefore(text(name).c_str(), 0, before), TQ_RTN_OK);
        ASSERT_EQ(TQCrypt_CertGetNotAfter(text(name).c_str(), 0, afterText), TQ_RTN_OK);
        EXPECT_EQ(std::string(before),
                  isoToTimeText(
                      sh(std::string("openssl x509 -noout -dateopt iso_8601 -startdate -in ") + fx(name))));
        EXPECT_EQ(
            std::string(afterText),
            isoToTimeText(sh(std::string("openssl x509 -noout -dateopt iso_8601 -enddate -in ") + fx(name))));
    }
}

TEST(TextCertificate, ExtensionSummaries) {
    const std::string cert = text("sign.pem");
    // Selector 8 is the last alternative name here; the handle function gives the first.
    std::string alt =
        after(sh("openssl x509 -noout -ext subjectAltName -in " + fx("sign.pem") + " | tail -1"), ':');
    ASSERT_NE(alt.find("first.example.org, email:second@example.org"), std::string::npos);
    OutText last, first, usage, none;
    ASSERT_EQ(TQCrypt_CertGetKDRAExtension(cert.c_str(), 8, &last), TQ_RTN_OK);
    EXPECT_EQ(last.str(), "second@example.org");
    tqtest::HandleOwner h(
        tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "textapi/sign.pem", TQXCRYPT_DECODE_TEXT));
    ASSERT_EQ(TQXCrypt_CertGetKDRAExtension(h.get(), 8, &first), TQ_RTN_OK);
    EXPECT_EQ(first.str(), "first.example.org");
    // Digital signature and non-repudiation, as openssl reads them.
    ASSERT_NE(sh("openssl x509 -noout -ext keyUsage -in " + fx("sign.pem"))
                  .find("Digital Signature, Non Repudiation"),
              std::string::npos);
    ASSERT_EQ(TQCrypt_CertGetKDRAExtension(cert.c_str(), 7, &usage), TQ_RTN_OK);
    EXPECT_EQ(usage.str(), "192");
    EXPECT_EQ(TQCrypt_CertGetKDRAExtension(cert.c_str(), 1, &none), TQ_RTN_NOT_PRESENT);
    // A directory name last: an element of the wrong kind, never read as bytes.
    ASSERT_NE(sh("openssl x509 -noout -ext subjectAltName -in " + fx("dirname.pem")).find("DirName:"),
              std::string::npos);
    EXPECT_EQ(TQCrypt_CertGetKDRAExtension(text("dirname.pem").c_str(), 8, &none), TQ_RTN_NOT_SUPPORTED);
    for (int selector : {0, 9, -1})
        EXPECT_EQ(TQCrypt_CertGetKDRAExtension(cert.c_str(), selector, &none), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(none.p, nullptr);
}

}  // namespace

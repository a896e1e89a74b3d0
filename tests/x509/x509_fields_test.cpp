// Certificate fields read back against the openssl tool: name texts, time
// texts, serials, algorithms, public keys, key usage and signer digests.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "tqxcrypt_keys.h"
#include "x509_support.h"

using namespace x509test;

namespace {

// The tool's multi-line name (one "label=value" line each, indented) as our
// name text: CR LF between lines, "Email" for the e-mail attribute.
std::string toolName(const std::string &name, const char *which) {
    std::vector<std::string> got =
        lines(x509Tool(name, std::string("-") + which + " -nameopt sep_multiline,sname,utf8"));
    EXPECT_FALSE(got.empty());
    std::string out;
    for (size_t i = 1; i < got.size(); ++i) {
        std::string line = got[i];
        if (line.rfind("emailAddress=", 0) == 0) line = "Email=" + line.substr(13);
        out += (i > 1 ? "\r\n" : "") + line;
    }
    return out;
}

std::string nameOf(TQXCRYPT_HANDLE *cert, bool subject, int *rc) {
    TextOwner text;
    *rc =
        subject ? TQXCrypt_CertGetSubject(cert, 0, &text.text) : TQXCrypt_CertGetIssuer(cert, 0, &text.text);
    return text.text ? std::string(text.text) : std::string();
}

TEST(NameText, EqualsTheToolsMultilineNames) {
    const struct {
        const char *file;
        bool subject;
    } rows[] = {
        {"names.pem", true},      // many types, UTF-8, repeats, Email, organizationIdentifier
        {"ca.pem", true},         // C, O, CN in that order
        {"serial.1.pem", false},  // the issuer
        {"ec.pem", false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file);
        HandleOwner c(cert(row.file));
        int rc = -1;
        std::string ours = nameOf(c.get(), row.subject, &rc);
        ASSERT_EQ(rc, TQ_RTN_OK);
        EXPECT_EQ(ours, toolName(row.file, row.subject ? "subject" : "issuer"));
    }
}

TEST(NameText, WideStringsAsUtf8AndEightBitStringsAsStored) {
    HandleOwner c(cert("wide.der"));
    int rc = -1;
    std::string ours = nameOf(c.get(), true, &rc);
    ASSERT_EQ(rc, TQ_RTN_OK);
    // The tool reads the T61 value as Latin-1; the text keeps its byte.
    std::string expected = toolName("wide.der", "subject");
    size_t at = expected.find("L=caf\xC3\xA9");
    ASSERT_NE(at, std::string::npos);
    expected.replace(at, 7, "L=caf\xE9");
    EXPECT_EQ(ours, expected);
    // The BMP value U+00E9 U+0041, and the lines after a universal string.
    EXPECT_NE(ours.find("\r\nCN=\xC3\xA9\x41\r\n"), std::string::npos);
    EXPECT_NE(ours.find("\r\nO=Zo\xC3\xAB \xF0\x9D\x84\x9E\r\nOU=after\r\n"), std::string::npos);
}

TEST(NameText, MultiValuedUnknownAndLongTypes) {
    HandleOwner c(cert("mv.der"));
    int rc = -1;
    EXPECT_EQ(
        nameOf(c.get(), true, &rc),
        "O=Orvane\r\nCN=Multi\r\nOU=Valued\r\n1.2.3.4=unknown\r\n"
        "1.2.840.113549.1.9.999999999.1234567890123456789012345678901234567890.5.6.7.8.9.10.11.12=long\r\n"
        "Email=e@example.org\r\norganizationIdentifier=VATTW-1");
    EXPECT_EQ(rc, TQ_RTN_OK);
}

TEST(NameText, ValuesThatDoNotConvertAreEmpty) {
    const struct {
        int type;
        Bytes value;
        std::string expected;
    } rows[] = {
        {V_ASN1_BMPSTRING, {0xD8, 0x00}, "CN=\r\nO=x"},                    // unpaired surrogate
        {V_ASN1_BMPSTRING, {0x00, 0x41, 0x00}, "CN=\r\nO=x"},              // odd length
        {V_ASN1_UNIVERSALSTRING, {0x00, 0x11, 0x00, 0x00}, "CN=\r\nO=x"},  // beyond U+10FFFF
        {V_ASN1_UNIVERSALSTRING, {0x00, 0x00, 0x00, 0x41}, "CN=A\r\nO=x"},
        {V_ASN1_BMPSTRING, {}, "CN=\r\nO=x"},
    };
    for (const auto &row : rows) {
        // Added valid, then given the bytes: adding checks BMP lengths.
        X509_NAME *name = X509_NAME_new();
        const unsigned char placeholder[4] = {0, 0, 0, 0x41};
        ASSERT_EQ(X509_NAME_add_entry_by_NID(name, NID_commonName, row.type, placeholder,
                                             row.type == V_ASN1_BMPSTRING ? 2 : 4, -1, 0),
                  1);
        ASN1_STRING *value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, 0));
        ASSERT_EQ(ASN1_STRING_set(value, row.value.data(), static_cast<int>(row.value.size())), 1);
        ASSERT_EQ(X509_NAME_add_entry_by_NID(name, NID_organizationName, MBSTRING_UTF8,
                                             reinterpret_cast<const unsigned char *>("x"), 1, -1, 0),
                  1);
        TextOwner text;
        EXPECT_EQ(tqxGetCertX509Name(name, 0, &text.text), TQ_RTN_OK);
        EXPECT_EQ(text.str(), row.expected);
        X509_NAME_free(name);
    }
    X509_NAME *empty = X509_NAME_new();
    char *text = reinterpret_cast<char *>(0x1);
    EXPECT_EQ(tqxGetCertX509Name(empty, 0, &text), TQ_RTN_FAILED);
    EXPECT_EQ(text, reinterpret_cast<char *>(0x1));
    X509_NAME_free(empty);
}

// A name as the list of a directory-name alternative name.
int GetX509NameThroughAltName(X509_NAME *name, ListOwner &out) {
    GENERAL_NAMES *names = GENERAL_NAMES_new();
    GENERAL_NAME *directory = GENERAL_NAME_new();
    GENERAL_NAME_set0_value(directory, GEN_DIRNAME, X509_NAME_dup(name));
    sk_GENERAL_NAME_push(names, directory);
    X509_EXTENSION *extension = X509V3_EXT_i2d(NID_subject_alt_name, 0, names);
    int rc = tqxCryptGetExtensionValue(extension, &out.list, nullptr);
    X509_EXTENSION_free(extension);
    GENERAL_NAMES_free(names);
    return rc;
}

// An identifier longer than any fixed label buffer is written whole, and the
// text is sized for what is written.
TEST(NameText, IdentifierLongerThanAnyBuffer) {
    std::string dotted = "1.2.3";
    while (dotted.size() < 400) dotted += ".1234567890";
    ASN1_OBJECT *type = OBJ_txt2obj(dotted.c_str(), 1);
    ASSERT_NE(type, nullptr);
    X509_NAME *name = X509_NAME_new();
    ASSERT_EQ(X509_NAME_add_entry_by_OBJ(name, type, MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char *>("v"), 1, -1, 0),
              1);
    ASSERT_EQ(X509_NAME_add_entry_by_NID(name, NID_commonName, MBSTRING_UTF8,
                                         reinterpret_cast<const unsigned char *>("after"), 5, -1, 0),
              1);
    TextOwner text;
    ASSERT_EQ(tqxGetCertX509Name(name, 0, &text.text), TQ_RTN_OK);
    EXPECT_EQ(text.str(), dotted + "=v\r\nCN=after");
    ListOwner list;
    ASSERT_EQ(GetX509NameThroughAltName(name, list), TQ_RTN_OK);
    ASSERT_EQ(list.list.count, 1);
    EXPECT_EQ(dump(list.list.items[0].value.list), dotted + "=v\nCN=after\n");
    X509_NAME_free(name);
    ASN1_OBJECT_free(type);
}

// "notBefore=1949-12-31 23:59:59Z" as a time text.
std::string toolTime(const std::string &line) {
    std::string t = line.substr(line.find('=') + 1);
    std::string digits;
    for (char c : t)
        if (c >= '0' && c <= '9') digits += c;
    EXPECT_EQ(digits.size(), 14u) << line;
    EXPECT_EQ(t.back(), 'Z') << line;
    return digits + "+0000";
}

TEST(TimeText, ValidityEqualsTheTool) {
    for (const char *file : {"wide.der", "utc.der", "names.pem", "ca.pem"}) {
        SCOPED_TRACE(file);
        HandleOwner c(cert(file));
        std::vector<std::string> dates = lines(x509Tool(file, "-dates -dateopt iso_8601"));
        ASSERT_EQ(dates.size(), 2u);
        char before[64], after[64];
        ASSERT_EQ(TQXCrypt_CertGetNotBefore(c.get(), 0, before), TQ_RTN_OK);
        ASSERT_EQ(TQXCrypt_CertGetNotAfter(c.get(), 0, after), TQ_RTN_OK);
        EXPECT_EQ(before, toolTime(dates[0]));
        EXPECT_EQ(after, toolTime(dates[1]));
    }
    HandleOwner wide(cert("wide.der"));
    char text[64];
    ASSERT_EQ(TQXCrypt_CertGetNotBefore(wide.get(), 0, text), TQ_RTN_OK);
    EXPECT_STREQ(text, "19491231235959+0000");
}

// Renders a stored time; "5045" for a refusal, which must leave the buffer
// as it was. Nothing is written past the 20 bytes.
std::string render(int type, const std::string &stored) {
    ASN1_STRING *time = ASN1_STRING_type_new(type);
    ASN1_STRING_set(time, stored.data(), static_cast<int>(stored.size()));
    unsigned char buffer[64];
    std::memset(buffer, 0xAA, sizeof buffer);
    int rc = tqxGetCertTimeFormat(time, 0, reinterpret_cast<char *>(buffer));
    ASN1_STRING_free(time);
    size_t untouchedFrom = rc == TQ_RTN_OK ? 20 : 0;
    for (size_t i = untouchedFrom; i < sizeof buffer; ++i)
        if (buffer[i] != 0xAA) ADD_FAILURE() << "byte " << i << " written for " << stored;
    if (rc != TQ_RTN_OK) return std::to_string(rc);
    EXPECT_EQ(buffer[19], 0);
    return std::string(reinterpret_cast<char *>(buffer));
}

TEST(TimeText, StoredForms) {
    const struct {
        int type;
        const char *stored;
        const char *expected;
    } rows[] = {
        {V_ASN1_UTCTIME, "991231235959Z", "19991231235959+0000"},
        {V_ASN1_UTCTIME, "491231235959Z", "20491231235959+0000"},
        {V_ASN1_UTCTIME, "500101000000Z", "19500101000000+0000"},
        {V_ASN1_UTCTIME, "0102030405Z", "20010203040500+0000"},
        {V_ASN1_UTCTIME, "010203040506", "20010203040506+0000"},
        {V_ASN1_UTCTIME, "010203040506-0130", "20010203040506-0130"},
        {V_ASN1_UTCTIME, "0102030405+1200", "20010203040500+1200"},
        {V_ASN1_GENERALIZEDTIME, "20500101000000Z", "20500101000000+0000"},
        {V_ASN1_GENERALIZEDTIME, "19491231235959Z", "19491231235959+0000"},
        {V_ASN1_GENERALIZEDTIME, "202001020304-0059", "20200102030400-0059"},
        {V_ASN1_GENERALIZEDTIME, "20100101000000.5Z", "5045"},  // fractional seconds
        {V_ASN1_UTCTIME, "011303040506Z", "5045"},              // month 13
        {V_ASN1_UTCTIME, "010003040506Z", "5045"},              // month 0
        {V_ASN1_UTCTIME, "010232040506Z", "5045"},              // day 32
        {V_ASN1_UTCTIME, "010203240506Z", "5045"},              // hour 24
        {V_ASN1_UTCTIME, "010203046006Z", "5045"},              // minute 60
        {V_ASN1_UTCTIME, "010203040560Z", "5045"},              // second 60
        {V_ASN1_UTCTIME, "010203040506+1300", "5045"},          // offset hours
        {V_ASN1_UTCTIME, "010203040506+0160", "5045"},          // offset minutes
        {V_ASN1_UTCTIME, "010203040506+013", "5045"},           // offset cut short
        {V_ASN1_UTCTIME, "010203040506Z0", "5045"},             // trailing byte
        {V_ASN1_UTCTIME, "01020304Z", "5045"},                  // zone where the minutes belong
        {V_ASN1_UTCTIME, "01020304+0100", "5045"},
        {V_ASN1_UTCTIME, "0102030405", "5045"},  // too short, no zone
        {V_ASN1_UTCTIME, "A10203040506Z", "5045"},
        {V_ASN1_UTCTIME, "0102030405 6Z", "5045"},
        {V_ASN1_GENERALIZEDTIME, "200102030405", "5045"},  // shorter than 13
        {V_ASN1_GENERALIZEDTIME, "2001020304Z", "5045"},
        {V_ASN1_OCTET_STRING, "010203040506Z", "5045"},
        {V_ASN1_UTCTIME, "", "5045"},
    };
    for (const auto &row : rows) EXPECT_EQ(render(row.type, row.stored), row.expected) << row.stored;
}

TEST(TimeText, CertificatesWithStoredForms) {
    // The forms the fixture set wrote by hand into notBefore.
    const char *expected[] = {"20010203040500+0000",
                              "20010203040506+0000",
                              "20010203040506-0130",
                              "20010203040506+1200",
                              "19991231235900+0000",
                              "5045",
                              "5045",
                              "5045",
                              "5045",
                              "5045"};
    for (int i = 0; i < 10; ++i) {
        HandleOwner c(cert("time." + std::to_string(i) + ".der"));
        char text[64];
        std::memset(text, 'x', sizeof text);
        int rc = TQXCrypt_CertGetNotBefore(c.get(), 0, text);
        EXPECT_EQ(rc == TQ_RTN_OK ? std::string(text) : std::to_string(rc), expected[i]) << i;
        if (rc != TQ_RTN_OK) {
            EXPECT_EQ(text[0], 'x');
        }
    }
}

TEST(Serial, EqualsTheToolAndHonoursTheBuffer) {
    for (const char *serial :
         {"0", "1", "127", "128", "255", "256", "0x7FFFFFFFFFFFFFFF", "0xFFFFFFFFFFFFFFFFFF",
          "0x7F0102030405060708090A0B0C0D0E0F10111213", "-1", "-256"}) {
        SCOPED_TRACE(serial);
        std::string file = std::string("serial.") + serial + ".pem";
        HandleOwner c(cert(file));
        std::string tool = lines(x509Tool(file, "-serial")).at(0).substr(7);
        if (tool[0] == '-') tool = tool.substr(1);  // a negative serial reads as its magnitude
        tqtest::BlobOwner blob;
        ASSERT_EQ(TQXCrypt_CertGetSerialNumber(c.get(), 0, &blob), TQ_RTN_OK);
        EXPECT_EQ(tqtest::toHex(blob.bytes()), tool);

        Bytes buffer(blob.b.length + 4, 0xEE);
        TQXCRYPT_BLOB small{blob.b.length - 1, buffer.data()};
        EXPECT_EQ(TQXCrypt_CertGetSerialNumber(c.get(), 0, &small), TQ_RTN_BUFFER_TOO_SMALL);
        EXPECT_EQ(small.length, blob.b.length - 1);
        EXPECT_EQ(buffer[0], 0xEE);
        TQXCRYPT_BLOB exact{blob.b.length, buffer.data()};
        ASSERT_EQ(TQXCrypt_CertGetSerialNumber(c.get(), 0, &exact), TQ_RTN_OK);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + exact.length), blob.bytes());
        EXPECT_EQ(buffer[exact.length], 0xEE);
    }
}

// The short name of the algorithm the tool's text names.
std::string toolAlgorithm(const std::string &file) {
    for (const std::string &line : lines(x509Tool(file, "-text")))
        if (line.rfind("Signature Algorithm: ", 0) == 0)
            return OBJ_nid2sn(OBJ_txt2nid(line.substr(21).c_str()));
    ADD_FAILURE() << "no algorithm in the text of " << file;
    return "";
}

TEST(SignatureAlgorithm, ShortNameOfTheSignedField) {
    for (const char *file : {"ca.pem", "ec.pem", "names.pem"}) {
        HandleOwner c(cert(file));
        TextOwner name;
        ASSERT_EQ(TQXCrypt_CertGetSignatureAlgorithm(c.get(), 0, &name.text), TQ_RTN_OK);
        EXPECT_EQ(name.str(), toolAlgorithm(file)) << file;
    }
}

// The DER of a fixture with one occurrence of an identifier's last byte
// changed: first (the signed field) or last (the outer algorithm).
Bytes tampered(const std::string &file, bool first, unsigned char lastByte) {
    HandleOwner c(cert(file));
    tqtest::BlobOwner der;
    EXPECT_EQ(TQXCrypt_EncodeObject(c.get(), TQXCRYPT_KIND_CERTIFICATE, &der, 0, nullptr), TQ_RTN_OK);
    Bytes bytes = der.bytes();
    const Bytes sha256Rsa = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x0B};
    std::vector<size_t> hits;
    for (size_t i = 0; i + sha256Rsa.size() <= bytes.size(); ++i)
        if (std::equal(sha256Rsa.begin(), sha256Rsa.end(), bytes.begin() + i)) hits.push_back(i);
    EXPECT_EQ(hits.size(), 2u);
    if (hits.size() == 2) bytes[(first ? hits.front() : hits.back()) + sha256Rsa.size() - 1] = lastByte;
    return bytes;
}

TEST(SignatureAlgorithm, TheSignedFieldDecidesAndUnknownHasNoName) {
    struct Row {
        bool first;
        unsigned char lastByte;
        int rc;
        const char *name;
    } rows[] = {
        {false, 0x0C, TQ_RTN_OK, "RSA-SHA256"},  // outer field says SHA-384
        {true, 0x0C, TQ_RTN_OK, "RSA-SHA384"},
        {true, 0x7F, TQ_RTN_FAILED, nullptr},  // 1.2.840.113549.1.1.127: no object number
    };
    for (const Row &row : rows) {
        Bytes der = tampered("ca.pem", row.first, row.lastByte);
        HandleOwner c;
        ASSERT_EQ(
            TQXCrypt_DecodeObject(c.out(), TQXCRYPT_KIND_CERTIFICATE, der.data(), der.size(), 0, nullptr),
            TQ_RTN_OK);
        char *name = reinterpret_cast<char *>(0x1);
        EXPECT_EQ(TQXCrypt_CertGetSignatureAlgorithm(c.get(), 0, &name), row.rc);
        if (row.name) {
            EXPECT_STREQ(name, row.name);
            TQCryptMemFree(name);
        } else {
            EXPECT_EQ(name, nullptr);
        }
    }
}

TEST(PublicKey, EncodesAsTheToolsKey) {
    for (const char *file : {"ca.pem", "ec.pem"}) {
        SCOPED_TRACE(file);
        tqtest::TempDir dir;
        int status = -1;
        tqtest::run("openssl x509 -noout -pubkey -in '" + path(file) +
                        "' | openssl pkey -pubin -outform DER -out '" + dir.file("key.der") + "'",
                    &status);
        ASSERT_EQ(status, 0);
        HandleOwner c(cert(file)), key;
        ASSERT_EQ(TQXCrypt_CertGetPublicKey(c.get(), key.out()), TQ_RTN_OK);
        EXPECT_EQ(key.get()->kind, TQXCRYPT_KIND_PUBLICKEY);
        EXPECT_EQ(key.get()->asn1Method, tqxCryptASN1PublicKeyMethod());
        EXPECT_EQ(key.get()->extra, tqxCryptRSAPubMethod());
        tqtest::BlobOwner der;
        ASSERT_EQ(TQXCrypt_EncodeObject(key.get(), TQXCRYPT_KIND_PUBLICKEY, &der, 0, nullptr), TQ_RTN_OK);
        EXPECT_EQ(der.bytes(), tqtest::readFile(dir.file("key.der")));
    }
}

// Bits of the tool's key-usage names.
int toolKeyUsage(const std::string &file) {
    std::vector<std::string> got = lines(x509Tool(file, "-ext keyUsage"));
    EXPECT_EQ(got.size(), 2u);
    int value = 0;
    std::string names = got.at(1) + ",";
    for (size_t at = 0, comma; (comma = names.find(',', at)) != std::string::npos; at = comma + 2) {
        bool known = false;
        for (const auto &bit : keyUsageNames())
            if (bit.second == names.substr(at, comma - at)) {
                value |= bit.first;
                known = true;
            }
        EXPECT_TRUE(known) << names;
    }
    return value;
}

TEST(KeyUsage, BitsEqualTheTool) {
    for (const char *file : {"ext.full.pem", "ext.kdra.pem", "ext.missing.pem"}) {
        HandleOwner c(cert(file));
        int bits = -1;
        ASSERT_EQ(TQXCrypt_CertGetKeyUsage(c.get(), &bits), TQ_RTN_OK) << file;
        EXPECT_EQ(bits, toolKeyUsage(file)) << file;
    }
    HandleOwner none(cert("names.pem"));
    int bits = -1;
    EXPECT_EQ(TQXCrypt_CertGetKeyUsage(none.get(), &bits), TQ_RTN_NOT_PRESENT);
}

// The digest of each signer info as the tool prints the message.
std::vector<std::string> toolDigests(const std::string &file) {
    int status = -1;
    std::vector<std::string> got =
        lines(tqtest::run("openssl pkcs7 -inform DER -print -noout -in '" + path(file) + "'", &status));
    EXPECT_EQ(status, 0);
    std::vector<std::string> out;
    for (size_t i = 0; i + 1 < got.size(); ++i)
        if (got[i] == "digest_alg:") {
            std::string name = got[i + 1].substr(11);  // "algorithm: sha384 (2.16...)"
            out.push_back(OBJ_nid2sn(OBJ_txt2nid(name.substr(0, name.find(' ')).c_str())));
        }
    return out;
}

TQXCRYPT_HANDLE *message(const std::string &file) {
    return tqtest::decodeFixture(TQXCRYPT_KIND_PKCS7, "x509/" + file);
}

TEST(SignerDigest, EqualsTheToolForEverySigner) {
    for (const char *file : {"signers.p7.der", "mixed.p7.der"}) {
        SCOPED_TRACE(file);
        HandleOwner p7(message(file));
        std::vector<std::string> expected = toolDigests(file);
        ASSERT_EQ(expected.size(), 2u);
        for (int i = 0; i < 2; ++i) {
            TextOwner name;
            ASSERT_EQ(TQXCrypt_SignatureGetAlgorithm(p7.get(), 0, i, &name.text), TQ_RTN_OK);
            EXPECT_EQ(name.str(), expected[i]);
        }
        for (int index : {-1, 2, 1 << 30}) {
            char *name = reinterpret_cast<char *>(0x1);
            EXPECT_EQ(TQXCrypt_SignatureGetAlgorithm(p7.get(), 0, index, &name), TQ_RTN_INDEX_OUT_OF_RANGE);
            EXPECT_EQ(name, reinterpret_cast<char *>(0x1));
        }
    }
    HandleOwner enveloped(message("enveloped.p7.der"));
    char *name = nullptr;
    EXPECT_EQ(TQXCrypt_SignatureGetAlgorithm(enveloped.get(), 0, 0, &name), TQ_RTN_NOT_SIGNED);
}

TEST(SignerDigest, SignedDataWithoutContent) {
    const Bytes der = {0x30, 0x0B, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
    HandleOwner p7;
    ASSERT_EQ(TQXCrypt_DecodeObject(p7.out(), TQXCRYPT_KIND_PKCS7, der.data(), der.size(), 0, nullptr),
              TQ_RTN_OK);
    char *name = reinterpret_cast<char *>(0x1);
    EXPECT_EQ(TQXCrypt_SignatureGetAlgorithm(p7.get(), 0, 0, &name), TQ_RTN_FAILED);
    EXPECT_EQ(name, nullptr);
}

// Every operation of a certificate handle, by the handle and the output it is given.
using Operation = std::function<int(TQXCRYPT_HANDLE *, bool nullOutput)>;

TEST(Arguments, HandleChecksComeFirstThenOutputs) {
    char buffer[64];
    char *text = nullptr;
    int bits = 0;
    TQXCRYPT_BLOB blob{0, nullptr};
    TQXCRYPT_ATTRIBUTES list{0, nullptr};
    TQXCRYPT_HANDLE *key = nullptr;
    const std::vector<std::pair<const char *, Operation>> operations = {
        {"SignatureAlgorithm",
         [&](TQXCRYPT_HANDLE *h, bool n) {
             return TQXCrypt_CertGetSignatureAlgorithm(h, 0, n ? nullptr : &text);
         }},
        {"Subject",
         [&](TQXCRYPT_HANDLE *h, bool n) { return TQXCrypt_CertGetSubject(h, 0, n ? nullptr : &text); }},
        {"Issuer",
         [&](TQXCRYPT_HANDLE *h, bool n) { return TQXCrypt_CertGetIssuer(h, 0, n ? nullptr : &text); }},
        {"NotBefore",
         [&](TQXCRYPT_HANDLE *h, bool n) { return TQXCrypt_CertGetNotBefore(h, 0, n ? nullptr : buffer); }},
        {"NotAfter",
         [&](TQXCRYPT_HANDLE *h, bool n) { return TQXCrypt_CertGetNotAfter(h, 0, n ? nullptr : buffer); }},
        {"Serial",
         [&](TQXCRYPT_HANDLE *h, bool n) { return TQXCrypt_CertGetSerialNumber(h, 0, n ? nullptr : &blob); }},
        {"KeyUsage",
         [&](TQXCRYPT_HANDLE *h, bool n) { return TQXCrypt_CertGetKeyUsage(h, n ? nullptr : &bits); }},
        {"PublicKey",
         [&](TQXCRYPT_HANDLE *h, bool n) { return TQXCrypt_CertGetPublicKey(h, n ? nullptr : &key); }},
        {"Extension",
         [&](TQXCRYPT_HANDLE *h, bool n) {
             return TQXCrypt_CertGetExtension(h, "keyUsage", 0, n ? nullptr : &blob, nullptr);
         }},
        {"ExtensionType",
         [&](TQXCRYPT_HANDLE *h, bool n) {
             return TQXCrypt_CertGetExtension(h, n ? nullptr : "keyUsage", 0, &list, nullptr);
         }},
        {"DirectoryAttrs",
         [&](TQXCRYPT_HANDLE *h, bool n) {
             return TQXCrypt_CertGetSubjectDirectoryAttrs(h, "2.16.886.1.100.2.1", 0, n ? nullptr : &blob);
         }},
        {"DirectoryAttribute",
         [&](TQXCRYPT_HANDLE *h, bool n) {
             return TQXCrypt_CertGetSubjectDirectoryAttrs(h, n ? nullptr : "2.16.886.1.100.2.1", 0, &blob);
         }},
        {"Summary", [&](TQXCRYPT_HANDLE *h,
                        bool n) { return TQXCrypt_CertGetKDRAExtension(h, 7, n ? nullptr : &text); }},
    };
    HandleOwner good(cert("ext.full.pem")), other(message("signers.p7.der"));
    HandleOwner empty(tqtest::emptyHandle(TQXCRYPT_KIND_CERTIFICATE));
    for (const auto &op : operations) {
        SCOPED_TRACE(op.first);
        EXPECT_EQ(op.second(nullptr, false), TQ_RTN_BAD_ARGUMENT);
        EXPECT_EQ(op.second(empty.get(), false), TQ_RTN_BAD_ARGUMENT);
        EXPECT_EQ(op.second(other.get(), false), TQ_RTN_WRONG_HANDLE);
        EXPECT_EQ(op.second(other.get(), true), TQ_RTN_WRONG_HANDLE);
        EXPECT_EQ(op.second(good.get(), true), TQ_RTN_BAD_ARGUMENT);
    }
    char *name = nullptr;
    EXPECT_EQ(TQXCrypt_SignatureGetAlgorithm(good.get(), 0, 0, &name), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_SignatureGetAlgorithm(nullptr, 0, 0, &name), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_SignatureGetAlgorithm(other.get(), 0, 0, nullptr), TQ_RTN_BAD_ARGUMENT);
    // A type text that names no identifier; selectors outside 1 to 8 before anything else.
    EXPECT_EQ(TQXCrypt_CertGetExtension(good.get(), "no such extension", 0, &list, nullptr),
              TQ_RTN_BAD_ARGUMENT);
    for (int selector : {0, 9, -1})
        EXPECT_EQ(TQXCrypt_CertGetKDRAExtension(nullptr, selector, nullptr), TQ_RTN_BAD_ARGUMENT);
    // Internal readers given no object.
    EXPECT_EQ(tqxGetCertX509Name(nullptr, 0, &text), TQ_RTN_FAILED);
    EXPECT_EQ(tqxGetCertTimeFormat(nullptr, 0, buffer), TQ_RTN_BAD_FORMAT);
    EXPECT_EQ(tqxCryptGetUnKnownOIDExtensionValue(nullptr, "1.2.3", &blob), TQ_RTN_FAILED);
    EXPECT_EQ(tqxCryptGetOCSPExtensionValue(nullptr, &blob, nullptr), TQ_RTN_FAILED);
    EXPECT_EQ(blob.data, nullptr);
    EXPECT_EQ(list.items, nullptr);
    EXPECT_EQ(key, nullptr);
}

}  // namespace

// The text readers of the builders (DN, general names, times, serials) and
// the extension values built from inputs: tables of cases each.
#include <gtest/gtest.h>

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>

#include "build_support.h"

using namespace buildtest;

namespace {

std::string hexOf(const unsigned char *p, int n) { return tqtest::toHex(Bytes(p, p + (n > 0 ? n : 0))); }

std::string nameText(X509_NAME *name) {
    char *text = nullptr;
    EXPECT_EQ(tqxGetCertX509Name(name, 0, &text), TQ_RTN_OK);
    std::string out = text ? text : "";
    TQCryptMemFree(text);
    return out;
}

TEST(DnText, ReadsTrimsAndRefuses) {
    const std::string longValue(1016, 'x');  // "street=" + 1016: a line of 1023 bytes
    const struct {
        std::string text;
        const char *expected;  // null: refused
        const char *types;     // string type of each entry: P printable, U UTF8, I IA5
    } rows[] = {
        {"CN=a\nE=b@example.org", "CN=a\r\nEmail=b@example.org", "UI"},
        {" CN \t\v\f= spaced value \t\r\nEmail = e@x.org", "CN=spaced value\r\nEmail=e@x.org", "UI"},
        {"2.5.4.3=dotted\nemailAddress=m@x.org", "CN=dotted\r\nEmail=m@x.org", "UI"},
        {"C=TW\nCN=Zoë\nserialNumber=A1", "C=TW\r\nCN=Zoë\r\nserialNumber=A1", "PUP"},
        {"CN=trailing LF\n", "CN=trailing LF", "U"},
        {"street=", "street=", "U"},
        {"", "", ""},
        {"street=" + longValue, nullptr, "U"},
        {"street=x" + longValue, nullptr, nullptr},  // 1024 bytes
        {"CN", nullptr, nullptr},
        {" = x", nullptr, nullptr},
        {"noSuchAttribute=x", nullptr, nullptr},
        {"CN=a\n\nCN=b", nullptr, nullptr},
        {"O=", nullptr, nullptr},
        {"emailAddress=", nullptr, nullptr},
        {"C=TWN", nullptr, nullptr},
        {"CN=\xff\xfe", nullptr, nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text.substr(0, 40));
        X509_NAME *name = tqxCrypt_GetX509Name(row.text.c_str());
        if (!row.expected && !row.types) {
            EXPECT_EQ(name, nullptr);
            X509_NAME_free(name);
            continue;
        }
        ASSERT_NE(name, nullptr);
        if (row.expected && *row.expected) {
            EXPECT_EQ(nameText(name), row.expected);
        }
        std::string types;
        for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
            const ASN1_STRING *v = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i));
            int t = ASN1_STRING_type(v);
            types += t == V_ASN1_PRINTABLESTRING ? 'P'
                     : t == V_ASN1_UTF8STRING    ? 'U'
                     : t == V_ASN1_IA5STRING     ? 'I'
                                                 : '?';
            // Each entry in a relative distinguished name of its own.
            EXPECT_EQ(X509_NAME_ENTRY_set(X509_NAME_get_entry(name, i)), i);
        }
        EXPECT_EQ(types, row.types);
        X509_NAME_free(name);
    }
    // The setters answer 5045 for what the reader refuses, 5005 for no text.
    HandleOwner cert;
    ASSERT_EQ(TQXCrypt_CreateCertificate(cert.out()), TQ_RTN_OK);
    const tqtest::CodeCase cases[] = {
        {"subject refused", TQXCrypt_CertSetSubjectName(cert.get(), "CN"), TQ_RTN_BAD_FORMAT},
        {"issuer refused", TQXCrypt_CertSetIssuerName(cert.get(), "O="), TQ_RTN_BAD_FORMAT},
        {"null subject", TQXCrypt_CertSetSubjectName(cert.get(), nullptr), TQ_RTN_BAD_ARGUMENT},
        {"null handle", TQXCrypt_CertSetSubjectName(nullptr, "CN=x"), TQ_RTN_BAD_ARGUMENT},
    };
    tqtest::expectCodes(cases);
    // An out-of-memory entry the host left behind is no reason of the reader's.
    ERR_clear_error();
    ERR_raise(ERR_LIB_CRYPTO, ERR_R_MALLOC_FAILURE);
    EXPECT_EQ(TQXCrypt_CertSetSubjectName(cert.get(), "CN"), TQ_RTN_BAD_FORMAT);
    EXPECT_EQ(ERR_GET_REASON(ERR_get_error()), ERR_GET_REASON(ERR_R_MALLOC_FAILURE));
    EXPECT_EQ(ERR_get_error(), 0u);
}

// Each general name as "type:content" with content in hexadecimal for
// addresses and other names.
std::string describe(GENERAL_NAMES *names) {
    std::string out;
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
        int type = 0;
        void *v = GENERAL_NAME_get0_value(sk_GENERAL_NAME_value(names, i), &type);
        if (i) out += "|";
        switch (type) {
        case GEN_URI:
        case GEN_DNS:
        case GEN_EMAIL: {
            auto *s = static_cast<ASN1_STRING *>(v);
            out +=
                std::string(type == GEN_URI   ? "URI:"
                            : type == GEN_DNS ? "DNS:"
                                              : "EMAIL:") +
                std::string(reinterpret_cast<const char *>(ASN1_STRING_get0_data(s)), ASN1_STRING_length(s));
            break;
        }
        case GEN_IPADD: {
            auto *s = static_cast<ASN1_STRING *>(v);
            out += "IP:" + hexOf(ASN1_STRING_get0_data(s), ASN1_STRING_length(s));
            break;
        }
        case GEN_RID: {
            char buf[80];
            OBJ_obj2txt(buf, sizeof buf, static_cast<ASN1_OBJECT *>(v), 1);
            out += std::string("RID:") + buf;
            break;
        }
        case GEN_DIRNAME:
            out += "DIR:" + nameText(static_cast<X509_NAME *>(v));
            break;
        case GEN_OTHERNAME: {
            auto *other = static_cast<OTHERNAME *>(v);
            char buf[80];
            OBJ_obj2txt(buf, sizeof buf, other->type_id, 1);
            ASN1_STRING *s = other->value->value.asn1_string;
            out += std::string("OTHER:") + buf + ":" + std::to_string(other->value->type) + ":" +
                   hexOf(ASN1_STRING_get0_data(s), ASN1_STRING_length(s));
            break;
        }
        default:
            out += "?";
        }
    }
    return out;
}

TEST(GeneralNameText, ReadsInOrderAndRefuses) {
    const struct {
        std::string text;
        const char *expected;  // null: refused
    } rows[] = {
        {"URI=http://a.example/\tDNS=b.example", "URI:http://a.example/|DNS:b.example"},
        {" DNS = trimmed \t E=x@y\tEmail=z@y", "DNS:trimmed|EMAIL:x@y|EMAIL:z@y"},
        {"IP Address=10.0.0.1", "IP:0A000001"},
        {"IP Address=::1", "IP:00000000000000000000000000000001"},
        {"Registered ID=1.2.3.4\tRegistered ID=serverAuth", "RID:1.2.3.4|RID:1.3.6.1.5.5.7.3.1"},
        {"msUPN=zoë@x", "OTHER:1.3.6.1.4.1.311.20.2.3:12:7A6FC3AB4078"},
        {"DirName=C=TW\nCN=Dir", "DIR:C=TW\r\nCN=Dir"},
        {"DNS=", "DNS:"},
        {"", ""},
        {"IP Address=10.0.0", nullptr},
        {"IP Address=host.example", nullptr},
        {"Registered ID=no such name", nullptr},
        {"msUPN=\xc3", nullptr},
        {"DirName=CN", nullptr},
        {"DNS=ok\tX400Name=x", nullptr},
        {"othername=x", nullptr},
        {"dns=lower case", nullptr},
        {"=x", nullptr},
        {"DNS", nullptr},
        {"DNS=" + std::string(1020, 'a'), nullptr},  // 1024 bytes
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text.substr(0, 40));
        GENERAL_NAMES *names = tqxCrypt_GetGeneralName(row.text.c_str());
        if (!row.expected) {
            EXPECT_EQ(names, nullptr);
        } else {
            ASSERT_NE(names, nullptr);
            EXPECT_EQ(describe(names), row.expected);
        }
        GENERAL_NAMES_free(names);
    }
    GENERAL_NAMES *longest = tqxCrypt_GetGeneralName(("DNS=" + std::string(1019, 'a')).c_str());
    EXPECT_NE(longest, nullptr);
    GENERAL_NAMES_free(longest);
}

TEST(TimeText, BothLengthsZeroOffsetAsZOffsetsKept) {
    const struct {
        const char *text;
        int rc;
        int type;
        const char *stored;
    } rows[] = {
        {"20101231235959+0000", TQ_RTN_OK, V_ASN1_GENERALIZEDTIME, "20101231235959Z"},
        {"20101231235959-0000", TQ_RTN_OK, V_ASN1_GENERALIZEDTIME, "20101231235959Z"},
        {"101231235959-0000", TQ_RTN_OK, V_ASN1_UTCTIME, "101231235959Z"},
        {"20101231235959+0900", TQ_RTN_OK, V_ASN1_GENERALIZEDTIME, "20101231235959+0900"},
        {"491231235959-0530", TQ_RTN_OK, V_ASN1_UTCTIME, "491231235959-0530"},
        {"2010123123595+0000", TQ_RTN_BAD_FORMAT, 0, nullptr},
        {"20101331235959+0000", TQ_RTN_BAD_FORMAT, 0, nullptr},
        {"20101232235959+0000", TQ_RTN_BAD_FORMAT, 0, nullptr},
        {"20101231245959+0000", TQ_RTN_BAD_FORMAT, 0, nullptr},
        {"20101231235959+1300", TQ_RTN_BAD_FORMAT, 0, nullptr},
        {"2010123123595X+0000", TQ_RTN_BAD_FORMAT, 0, nullptr},
        {"20101231235959*0100", TQ_RTN_BAD_FORMAT, 0, nullptr},
        // Fractional seconds in 19 characters: OpenSSL's setter takes them,
        // no reader of ours reads them back.
        {"20101231235959.123Z", TQ_RTN_BAD_FORMAT, 0, nullptr},
        {"", TQ_RTN_BAD_FORMAT, 0, nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        HandleOwner cert;
        ASSERT_EQ(TQXCrypt_CreateCertificate(cert.out()), TQ_RTN_OK);
        ASSERT_EQ(TQXCrypt_CertSetNotBefore(cert.get(), row.text), row.rc);
        EXPECT_EQ(TQXCrypt_CertSetNotAfter(cert.get(), row.text), row.rc);
        if (row.rc != TQ_RTN_OK) continue;
        const ASN1_TIME *t = X509_get0_notBefore(static_cast<X509 *>(cert.get()->object));
        EXPECT_EQ(ASN1_STRING_type(t), row.type);
        EXPECT_EQ(
            std::string(reinterpret_cast<const char *>(ASN1_STRING_get0_data(t)), ASN1_STRING_length(t)),
            row.stored);
        char back[TQXCRYPT_TIME_TEXT_SIZE];
        ASSERT_EQ(TQXCrypt_CertGetNotAfter(cert.get(), 0, back), TQ_RTN_OK);
        EXPECT_EQ(std::string(back).substr(14),
                  std::string(row.text).substr(std::strlen(row.text) - 5) == "-0000"
                      ? "+0000"
                      : std::string(row.text).substr(std::strlen(row.text) - 5));
    }
    // Each setter takes only its own length.
    ASN1_TIME *t = ASN1_TIME_new();
    EXPECT_EQ(tqxCryptSetGeneralTime(t, "101231235959+0000"), TQ_RTN_BAD_FORMAT);
    EXPECT_EQ(tqxCryptSetUTCTime(t, "20101231235959+0000"), TQ_RTN_BAD_FORMAT);
    EXPECT_EQ(tqxCryptSetUTCTime(t, nullptr), TQ_RTN_BAD_ARGUMENT);
    ASN1_TIME_free(t);
}

// The DER value of the certificate's extension of a type, in hexadecimal.
std::string valueOf(TQXCRYPT_HANDLE *cert, int nid, int *count = nullptr) {
    auto *x = static_cast<X509 *>(cert->object);
    if (count) {
        *count = 0;
        for (int at = -1; (at = X509_get_ext_by_NID(x, nid, at)) >= 0;) ++*count;
    }
    int at = X509_get_ext_by_NID(x, nid, -1);
    if (at < 0) return "absent";
    const ASN1_OCTET_STRING *v = X509_EXTENSION_get_data(X509_get_ext(x, at));
    return hexOf(ASN1_STRING_get0_data(v), ASN1_STRING_length(v));
}

TQXCRYPT_BLOB blob(std::initializer_list<unsigned char> bytes, std::vector<unsigned char> &keep) {
    keep.assign(bytes);
    return TQXCRYPT_BLOB{keep.size(), keep.empty() ? nullptr : keep.data()};
}

TEST(ExtensionValues, MasksBitsKeyIdentifiersAndRefusals) {
    std::vector<unsigned char> k;
    struct Row {
        const char *what;
        const char *type;
        int nid;
        TQXCRYPT_BLOB value;
        int rc;
        const char *der;
    };
    TQXCRYPT_BLOB eku1 = blob({0x03, 0x00}, k);
    std::vector<unsigned char> k2, k3, k4, k5, k6, k7, k8, k9, k10;
    TQXCRYPT_BLOB eku2 = blob({0x40}, k2), eku3 = blob({0x09, 0x00}, k3), eku4 = blob({}, k4),
                  eku5 = blob({0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF}, k5), eku6 = blob({0x00, 0x10}, k6);
    TQXCRYPT_BLOB ku1 = blob({0xA0, 0x00}, k7), ku2 = blob({0x80}, k8), ku3 = blob({0x01, 0x80}, k9),
                  ku4 = blob({0x00}, k10);
    TQXCRYPT_BLOB noBytes{5, nullptr};
    const Row rows[] = {
        {"EKU server, client", "extendedKeyUsage", NID_ext_key_usage, eku1, TQ_RTN_OK,
         "301406082B0601050507030106082B06010505070302"},
        {"EKU smart-card logon", "extendedKeyUsage", NID_ext_key_usage, eku2, TQ_RTN_OK,
         "300C060A2B0601040182371402 02"},
        {"EKU server, code signing", "extendedKeyUsage", NID_ext_key_usage, eku3, TQ_RTN_OK,
         "301406082B0601050507030106082B06010505070303"},
        {"EKU empty", "extendedKeyUsage", NID_ext_key_usage, eku4, TQ_RTN_OK, "3000"},
        {"EKU bytes past the fourth", "extendedKeyUsage", NID_ext_key_usage, eku5, TQ_RTN_OK,
         "300A06082B06010505070301"},
        {"EKU deltaCRL", "extendedKeyUsage", NID_ext_key_usage, eku6, TQ_RTN_OK, "30050603551D1B"},
        {"keyUsage A0 00", "keyUsage", NID_key_usage, ku1, TQ_RTN_OK, "030205A0"},
        {"keyUsage 80", "keyUsage", NID_key_usage, ku2, TQ_RTN_OK, "03020780"},
        {"keyUsage 01 80", "keyUsage", NID_key_usage, ku3, TQ_RTN_OK, "0303070180"},
        {"keyUsage 00", "keyUsage", NID_key_usage, ku4, TQ_RTN_OK, "030100"},
        {"nsCertType A0", "nsCertType", NID_netscape_cert_type, ku1, TQ_RTN_OK, "030205A0"},
        {"SKID", "subjectKeyIdentifier", NID_subject_key_identifier, ku3, TQ_RTN_OK, "04020180"},
        {"SKID length without bytes", "subjectKeyIdentifier", NID_subject_key_identifier, noBytes,
         TQ_RTN_BAD_ARGUMENT, "absent"},
        {"keyUsage length without bytes", "keyUsage", NID_key_usage, noBytes, TQ_RTN_BAD_ARGUMENT, "absent"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        HandleOwner cert;
        ASSERT_EQ(TQXCrypt_CreateCertificate(cert.out()), TQ_RTN_OK);
        EXPECT_EQ(TQXCrypt_CertSetExtension(cert.get(), row.type, &row.value, 0), row.rc);
        std::string expected = row.der;
        expected.erase(std::remove(expected.begin(), expected.end(), ' '), expected.end());
        EXPECT_EQ(valueOf(cert.get(), row.nid), expected);
    }
}

TEST(ExtensionValues, AuthorityKeyIdentifierParts) {
    std::vector<unsigned char> k;
    TQXCRYPT_BLOB id = blob({0xAB, 0xCD}, k), noBytes{2, nullptr};
    const struct {
        const char *what;
        TQXCRYPT_AUTHORITY_KEY_ID_VALUE value;
        int rc;
        const char *der;
    } rows[] = {
        {"serial only", {nullptr, nullptr, "0102"}, TQ_RTN_OK, "3004820201 02"},
        {"key id only", {&id, nullptr, nullptr}, TQ_RTN_OK, "30048002ABCD"},
        {"issuer only", {nullptr, "DNS=a", nullptr}, TQ_RTN_OK, "3005A103820161"},
        {"nothing", {nullptr, nullptr, nullptr}, TQ_RTN_OK, "3000"},
        {"serial not hexadecimal", {nullptr, nullptr, "01G2"}, TQ_RTN_BAD_FORMAT, "absent"},
        {"serial too long", {nullptr, nullptr, nullptr}, TQ_RTN_BUFFER_TOO_SMALL, "absent"},
        {"issuer refused", {nullptr, "X400Name=x", nullptr}, TQ_RTN_BAD_FORMAT, "absent"},
        {"key id without bytes", {&noBytes, nullptr, nullptr}, TQ_RTN_BAD_ARGUMENT, "absent"},
    };
    const std::string longSerial(2049, '1');
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        TQXCRYPT_AUTHORITY_KEY_ID_VALUE value = row.value;
        if (row.rc == TQ_RTN_BUFFER_TOO_SMALL) value.serial = longSerial.c_str();
        HandleOwner cert;
        ASSERT_EQ(TQXCrypt_CreateCertificate(cert.out()), TQ_RTN_OK);
        EXPECT_EQ(TQXCrypt_CertSetExtension(cert.get(), "authorityKeyIdentifier", &value, 0), row.rc);
        std::string expected = row.der;
        expected.erase(std::remove(expected.begin(), expected.end(), ' '), expected.end());
        EXPECT_EQ(valueOf(cert.get(), NID_authority_key_identifier), expected);
    }
}

TEST(Serial, HexadecimalTexts) {
    const struct {
        std::string hex;
        int rc;
        const char *content;
    } rows[] = {
        {"00FF", TQ_RTN_OK, "FF"},
        {"ABC", TQ_RTN_OK, "0ABC"},
        {"abc", TQ_RTN_OK, "0ABC"},
        {"0000", TQ_RTN_OK, "00"},
        {"7f01", TQ_RTN_OK, "7F01"},
        {"", TQ_RTN_BAD_FORMAT, nullptr},
        {"0x1", TQ_RTN_BAD_FORMAT, nullptr},
        {"12 34", TQ_RTN_BAD_FORMAT, nullptr},
        {std::string(2048, 'F'), TQ_RTN_OK, nullptr},
        {std::string(2049, 'F'), TQ_RTN_BUFFER_TOO_SMALL, nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.hex.substr(0, 12));
        HandleOwner cert;
        ASSERT_EQ(TQXCrypt_CreateCertificate(cert.out()), TQ_RTN_OK);
        ASSERT_EQ(TQXCrypt_CertSetSerialNumber(cert.get(), row.hex.c_str()), row.rc);
        if (!row.content) continue;
        tqtest::BlobOwner serial;
        ASSERT_EQ(TQXCrypt_CertGetSerialNumber(cert.get(), 0, &serial), TQ_RTN_OK);
        EXPECT_EQ(tqtest::toHex(serial.bytes()), row.content);
    }
    EXPECT_EQ(TQXCrypt_CertSetSerialNumber(nullptr, "01"), TQ_RTN_BAD_ARGUMENT);
}

TEST(ExtensionList, ByTypeReplacesByIdentifierAccumulatesVersionFollows) {
    HandleOwner cert;
    ASSERT_EQ(TQXCrypt_CreateCertificate(cert.out()), TQ_RTN_OK);
    auto *x = static_cast<X509 *>(cert.get()->object);
    EXPECT_EQ(X509_get_version(x), X509_VERSION_1);
    std::vector<unsigned char> k1, k2;
    TQXCRYPT_BLOB first = blob({0x80}, k1), second = blob({0x04}, k2), noBytes{1, nullptr};
    // A failing call before the first extension leaves version 1.
    EXPECT_EQ(TQXCrypt_CertSetExtension(cert.get(), "keyUsage", &noBytes, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(X509_get_version(x), X509_VERSION_1);
    ASSERT_EQ(TQXCrypt_CertSetExtension(cert.get(), "keyUsage", &first, 0), TQ_RTN_OK);
    EXPECT_EQ(X509_get_version(x), X509_VERSION_3);
    ASSERT_EQ(TQXCrypt_CertSetExtension(cert.get(), "basicConstraints", "CA:TRUE", 1), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CertSetExtension(cert.get(), "2.5.29.15", &second, 1), TQ_RTN_OK);
    int count = 0;
    EXPECT_EQ(valueOf(cert.get(), NID_key_usage, &count), "03020204");
    EXPECT_EQ(count, 1);
    // Built first, then replaced: a failing value keeps the old extension.
    const tqtest::CodeCase failing[] = {
        {"keyUsage without bytes", TQXCrypt_CertSetExtension(cert.get(), "keyUsage", &noBytes, 0),
         TQ_RTN_BAD_ARGUMENT},
        {"basicConstraints empty", TQXCrypt_CertSetExtension(cert.get(), "basicConstraints", "", 0),
         TQ_RTN_BAD_FORMAT},
        {"basicConstraints unreadable",
         TQXCrypt_CertSetExtension(cert.get(), "basicConstraints", "CA:maybe", 0), TQ_RTN_BAD_FORMAT},
        {"type without builder", TQXCrypt_CertSetExtension(cert.get(), "certificatePolicies", "1.2.3", 0),
         TQ_RTN_NOT_SUPPORTED},
        {"unknown type", TQXCrypt_CertSetExtension(cert.get(), "no such type", &first, 0),
         TQ_RTN_BAD_ARGUMENT},
        {"identifier without number", TQXCrypt_CertSetExtension(cert.get(), "1.2.3.4.5.6", &first, 0),
         TQ_RTN_BAD_ARGUMENT},
        {"SAN refused", TQXCrypt_CertSetExtension(cert.get(), "subjectAltName", "X400Name=x", 0),
         TQ_RTN_BAD_FORMAT},
        {"null value", TQXCrypt_CertSetExtension(cert.get(), "keyUsage", nullptr, 0), TQ_RTN_BAD_ARGUMENT},
    };
    tqtest::expectCodes(failing);
    EXPECT_EQ(valueOf(cert.get(), NID_key_usage), "03020204");
    EXPECT_EQ(valueOf(cert.get(), NID_basic_constraints), "30030101FF");
    // By identifier: any number of calls, each appended; known identifiers
    // keep their names and decoding.
    const tqtest::CodeCase byOid[] = {
        {"first", TQXCrypt_CertSetOIDExtension(cert.get(), "1.2.3.4", "04:02:AB:CD", 0), TQ_RTN_OK},
        {"second", TQXCrypt_CertSetOIDExtension(cert.get(), "1.2.3.4", "0500", 1), TQ_RTN_OK},
        {"a known one", TQXCrypt_CertSetOIDExtension(cert.get(), "2.5.29.15", "03020780", 0), TQ_RTN_OK},
        {"odd digits", TQXCrypt_CertSetOIDExtension(cert.get(), "1.2.3.4", "ABC", 0), TQ_RTN_FAILED},
        {"not dotted", TQXCrypt_CertSetOIDExtension(cert.get(), "keyUsage", "0500", 0), TQ_RTN_BAD_ARGUMENT},
        {"null value", TQXCrypt_CertSetOIDExtension(cert.get(), "1.2.3.4", nullptr, 0), TQ_RTN_BAD_ARGUMENT},
    };
    tqtest::expectCodes(byOid);
    EXPECT_EQ(X509_get_ext_count(x), 5);
    ASN1_OBJECT *custom = OBJ_txt2obj("1.2.3.4", 1);
    int at = X509_get_ext_by_OBJ(x, custom, -1);
    ASSERT_GE(at, 0);
    const ASN1_OCTET_STRING *v = X509_EXTENSION_get_data(X509_get_ext(x, at));
    EXPECT_EQ(hexOf(ASN1_STRING_get0_data(v), ASN1_STRING_length(v)), "0402ABCD");
    EXPECT_GE(X509_get_ext_by_OBJ(x, custom, at), 0);
    ASN1_OBJECT_free(custom);
    EXPECT_EQ(OBJ_txt2nid("2.5.29.15"), NID_key_usage);
    EXPECT_STREQ(OBJ_nid2sn(NID_key_usage), "keyUsage");
    EXPECT_EQ(OBJ_txt2nid("OID_example"), NID_undef);
    HandleOwner fresh;
    ASSERT_EQ(TQXCrypt_CreateCertificate(fresh.out()), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CertSetOIDExtension(fresh.get(), "2.5.29.15", "03020780", 1), TQ_RTN_OK);
    int bits = 0;
    EXPECT_EQ(TQXCrypt_CertGetKeyUsage(fresh.get(), &bits), TQ_RTN_OK);
    EXPECT_EQ(bits, 0x80);
}

}  // namespace

namespace {

TEST(BuilderBadInput, NullsWrongKindsAndEmptyBlobs) {
    HandleOwner cert, req, crl, key(privateKey("root.key.pem")), pub(publicKey("root.pub.pem"));
    ASSERT_EQ(TQXCrypt_CreateCertificate(cert.out()), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CreateCertReq(req.out()), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CreateCRL(crl.out()), TQ_RTN_OK);
    TQXCRYPT_BLOB noBytes{4, nullptr};
    TQXCRYPT_HANDLE *none = nullptr;
    char *text = nullptr;
    const tqtest::CodeCase cases[] = {
        {"create cert: null", TQXCrypt_CreateCertificate(nullptr), TQ_RTN_BAD_ARGUMENT},
        {"create req: null", TQXCrypt_CreateCertReq(nullptr), TQ_RTN_BAD_ARGUMENT},
        {"serial: null text", TQXCrypt_CertSetSerialNumber(cert.get(), nullptr), TQ_RTN_BAD_ARGUMENT},
        {"serial: request", TQXCrypt_CertSetSerialNumber(req.get(), "01"), TQ_RTN_WRONG_HANDLE},
        {"issuer: null issuer", TQXCrypt_CertSetIssuer(cert.get(), nullptr), TQ_RTN_BAD_ARGUMENT},
        {"issuer: CRL as issuer", TQXCrypt_CertSetIssuer(cert.get(), crl.get()), TQ_RTN_WRONG_HANDLE},
        {"notBefore: null", TQXCrypt_CertSetNotBefore(cert.get(), nullptr), TQ_RTN_BAD_ARGUMENT},
        {"notAfter: CRL", TQXCrypt_CertSetNotAfter(crl.get(), "250101000000+0000"), TQ_RTN_WRONG_HANDLE},
        {"key: private", TQXCrypt_CertSetPublicKey(cert.get(), key.get()), TQ_RTN_WRONG_HANDLE},
        {"key: null", TQXCrypt_CertSetPublicKey(cert.get(), nullptr), TQ_RTN_BAD_ARGUMENT},
        {"extension: null type", TQXCrypt_CertSetExtension(cert.get(), nullptr, "CA:TRUE", 0),
         TQ_RTN_BAD_ARGUMENT},
        {"extension: request", TQXCrypt_CertSetExtension(req.get(), "basicConstraints", "CA:TRUE", 0),
         TQ_RTN_WRONG_HANDLE},
        {"extension: blob without bytes",
         TQXCrypt_CertSetExtension(cert.get(), "extendedKeyUsage", &noBytes, 0), TQ_RTN_BAD_ARGUMENT},
        {"OID extension: null identifier", TQXCrypt_CertSetOIDExtension(cert.get(), nullptr, "0500", 0),
         TQ_RTN_BAD_ARGUMENT},
        {"req subject: certificate", TQXCrypt_CertReqSetSubject(cert.get(), "CN=x"), TQ_RTN_WRONG_HANDLE},
        {"req subject: refused", TQXCrypt_CertReqSetSubject(req.get(), "CN"), TQ_RTN_BAD_FORMAT},
        {"req key: private", TQXCrypt_CertReqSetPublicKey(req.get(), key.get()), TQ_RTN_WRONG_HANDLE},
        {"req hash: null blob", TQXCrypt_CertReqGetHash(req.get(), 4, nullptr), TQ_RTN_BAD_ARGUMENT},
        {"req hash: certificate", TQXCrypt_CertReqGetHash(cert.get(), 4, &noBytes), TQ_RTN_WRONG_HANDLE},
        {"req signature: null request", TQXCrypt_CertReqSetSignature(nullptr, nullptr, 0, 4),
         TQ_RTN_BAD_ARGUMENT},
        {"req key out: null", TQXCrypt_CertReqGetPublicKey(req.get(), nullptr), TQ_RTN_BAD_ARGUMENT},
        {"req key out: no key", TQXCrypt_CertReqGetPublicKey(req.get(), &none), TQ_RTN_FAILED},
        {"req subject out: null", TQXCrypt_CertReqGetSubject(req.get(), 0, nullptr), TQ_RTN_BAD_ARGUMENT},
        {"req subject out: CRL", TQXCrypt_CertReqGetSubject(crl.get(), 0, &text), TQ_RTN_WRONG_HANDLE},
        {"list: null", tqxCryptSetExtension(nullptr, "basicConstraints", "CA:TRUE", 0), TQ_RTN_BAD_ARGUMENT},
        {"list by OID: null", tqxCryptSetExtensionByOID(nullptr, "1.2.3", "0500", 0), TQ_RTN_BAD_ARGUMENT},
    };
    tqtest::expectCodes(cases);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(text, nullptr);
}

TEST(ExtensionList, OnABareListReplacesAndAccumulates) {
    STACK_OF(X509_EXTENSION) *list = sk_X509_EXTENSION_new_null();
    ASSERT_EQ(tqxCryptSetExtension(list, "basicConstraints", "CA:TRUE", 1), TQ_RTN_OK);
    ASSERT_EQ(tqxCryptSetExtension(list, "subjectAltName", "DNS=a", 0), TQ_RTN_OK);
    ASSERT_EQ(tqxCryptSetExtension(list, "basicConstraints", "CA:FALSE", 0), TQ_RTN_OK);
    EXPECT_EQ(tqxCryptSetExtension(list, "subjectAltName", "DNS", 0), TQ_RTN_BAD_FORMAT);
    ASSERT_EQ(tqxCryptSetExtensionByOID(list, "1.2.3.4", "0500", 0), TQ_RTN_OK);
    ASSERT_EQ(tqxCryptSetExtensionByOID(list, "1.2.3.4", "0500", 0), TQ_RTN_OK);
    ASSERT_EQ(sk_X509_EXTENSION_num(list), 4);
    // Replaced ones go to the end; the failing one stays.
    EXPECT_EQ(OBJ_obj2nid(X509_EXTENSION_get_object(sk_X509_EXTENSION_value(list, 0))), NID_subject_alt_name);
    EXPECT_EQ(OBJ_obj2nid(X509_EXTENSION_get_object(sk_X509_EXTENSION_value(list, 1))),
              NID_basic_constraints);
    EXPECT_EQ(X509_EXTENSION_get_critical(sk_X509_EXTENSION_value(list, 1)), 0);
    sk_X509_EXTENSION_pop_free(list, X509_EXTENSION_free);
}

}  // namespace

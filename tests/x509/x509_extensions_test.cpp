// Extension values against `openssl x509 -ext`, the special forms of the
// decoded lists, the national attributes, OCSP raw values and the summaries.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/ocsp.h>
#include <openssl/x509v3.h>

#include "x509_support.h"

using namespace x509test;

namespace {

std::string hexColons(const unsigned char *data, size_t n) {
    std::string out;
    char hex[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, "%02X", data[i]);
        out += (i ? ":" : "") + std::string(hex);
    }
    return out;
}

std::string decimal(const TQXCRYPT_BLOB &blob) {
    unsigned long long v = 0;
    for (uint64_t i = 0; i < blob.length; ++i) v = (v << 8) | blob.data[i];
    return std::to_string(v);
}

// The long name the tool prints for a label (a short name or dotted text).
std::string longName(const std::string &label) {
    int nid = OBJ_sn2nid(label.c_str());
    return nid == NID_undef ? label : OBJ_nid2ln(nid);
}

enum class DirStyle { Slashes, Commas };

std::string generalName(const TQXCRYPT_ATTRIBUTE &item, DirStyle style) {
    std::string label = item.name;
    if (label == "DirName") {
        std::string out = "DirName:";
        const TQXCRYPT_ATTRIBUTES &entries = item.value.list;
        for (int32_t i = 0; i < entries.count; ++i) {
            std::string entry = std::string(entries.items[i].name) +
                                (style == DirStyle::Slashes ? "=" : " = ") +
                                text(entries.items[i].value.blob);
            out += style == DirStyle::Slashes ? "/" + entry : (i ? ", " : "") + entry;
        }
        return out;
    }
    const TQXCRYPT_BLOB &value = item.value.blob;
    if (label == "Email") return "email:" + text(value);
    if (label == "IP Address" && value.length == 16) {
        std::string out = "IP Address:";
        for (int i = 0; i < 8; ++i) {
            char group[8];
            std::snprintf(group, sizeof group, "%X", value.data[2 * i] << 8 | value.data[2 * i + 1]);
            out += (i ? ":" : "") + std::string(group);
        }
        return out;
    }
    return label + ":" + text(value);
}

std::string joined(const std::vector<std::string> &parts) {
    std::string out;
    for (const std::string &p : parts) out += (out.empty() ? "" : ", ") + p;
    return out;
}

std::vector<std::string> generalNames(const TQXCRYPT_ATTRIBUTES &list, DirStyle style) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < list.count; ++i) out.push_back(generalName(list.items[i], style));
    return out;
}

std::string bitNames(const TQXCRYPT_BLOB &blob, const std::vector<std::pair<int, std::string>> &names) {
    int bits = (blob.length > 0 ? blob.data[0] : 0) | (blob.length > 1 ? blob.data[1] << 8 : 0);
    std::vector<std::string> out;
    for (const auto &n : names)
        if (bits & n.first) out.push_back(n.second);
    return joined(out);
}

// Our decoded value in the lines of the tool's printout.
using Render = std::function<std::vector<std::string>(void *value)>;

const TQXCRYPT_BLOB &blobOf(void *v) { return *static_cast<TQXCRYPT_BLOB *>(v); }
const TQXCRYPT_ATTRIBUTES &listOf(void *v) { return *static_cast<TQXCRYPT_ATTRIBUTES *>(v); }

std::vector<std::string> policyLines(const TQXCRYPT_ATTRIBUTES &policies) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < policies.count; ++i) {
        out.push_back("Policy: " + longName(policies.items[i].name));
        const TQXCRYPT_ATTRIBUTES &qualifiers = policies.items[i].value.list;
        for (int32_t q = 0; q < qualifiers.count; ++q) {
            const TQXCRYPT_ATTRIBUTE &qualifier = qualifiers.items[q];
            if (std::string(qualifier.name) == "CPS") {
                out.push_back("CPS: " + text(qualifier.value.blob));
                continue;
            }
            out.push_back("User Notice:");
            const TQXCRYPT_ATTRIBUTES &notice = qualifier.value.list;
            for (int32_t n = 0; n < notice.count; ++n) {
                if (std::string(notice.items[n].name) == "Notice Text") {
                    out.push_back("Explicit Text: " + text(notice.items[n].value.blob));
                    continue;
                }
                const TQXCRYPT_ATTRIBUTES &reference = notice.items[n].value.list;
                std::vector<std::string> numbers;
                for (int32_t r = 0; r < reference.count; ++r) {
                    if (std::string(reference.items[r].name) == "Organization")
                        out.push_back("Organization: " + text(reference.items[r].value.blob));
                    else
                        numbers.push_back(decimal(reference.items[r].value.blob));
                }
                out.push_back("Numbers: " + joined(numbers));
            }
        }
    }
    return out;
}

std::vector<std::string> distributionPointLines(const TQXCRYPT_ATTRIBUTES &points) {
    std::vector<std::string> out;
    for (int32_t i = 0; i < points.count; ++i) {
        const TQXCRYPT_ATTRIBUTE &item = points.items[i];
        out.push_back(std::string(item.name) == "fullname" ? "Full Name:" : "CRL Issuer:");
        for (const std::string &n : generalNames(item.value.list, DirStyle::Commas)) out.push_back(n);
    }
    return out;
}

const std::vector<std::pair<int, std::string>> kCertTypeNames = {
    {0x80, "SSL Client"}, {0x40, "SSL Server"}, {0x20, "S/MIME"},    {0x10, "Object Signing"},
    {0x08, "Unused"},     {0x04, "SSL CA"},     {0x02, "S/MIME CA"}, {0x01, "Object Signing CA"}};

const std::vector<std::pair<int, std::string>> kPurposeNames = {{0x1, "TLS Web Server Authentication"},
                                                                {0x2, "TLS Web Client Authentication"},
                                                                {0x4, "E-mail Protection"},
                                                                {0x8, "Code Signing"},
                                                                {0x10, "Microsoft Server Gated Crypto"},
                                                                {0x20, "Netscape Server Gated Crypto"}};

struct TypeRow {
    const char *name;
    const char *dotted;
    bool list;
    Render render;
};

const TypeRow kTypes[] = {
    {"nsCertType", "2.16.840.1.113730.1.1", false,
     [](void *v) { return std::vector<std::string>{bitNames(blobOf(v), kCertTypeNames)}; }},
    {"keyUsage", "2.5.29.15", false,
     [](void *v) { return std::vector<std::string>{bitNames(blobOf(v), keyUsageNames())}; }},
    {"subjectKeyIdentifier", "2.5.29.14", false,
     [](void *v) {
         return std::vector<std::string>{hexColons(blobOf(v).data, static_cast<size_t>(blobOf(v).length))};
     }},
    {"subjectAltName", "2.5.29.17", true,
     [](void *v) { return std::vector<std::string>{joined(generalNames(listOf(v), DirStyle::Slashes))}; }},
    {"issuerAltName", "2.5.29.18", true,
     [](void *v) { return std::vector<std::string>{joined(generalNames(listOf(v), DirStyle::Slashes))}; }},
    {"basicConstraints", "2.5.29.19", true,
     [](void *v) {
         const TQXCRYPT_ATTRIBUTES &bc = listOf(v);
         const TQXCRYPT_BLOB &ca = bc.items[0].value.blob;
         std::string line = ca.data[0] | ca.data[1] | ca.data[2] | ca.data[3] ? "CA:TRUE" : "CA:FALSE";
         if (bc.count > 1) line += ", pathlen:" + decimal(bc.items[1].value.blob);
         return std::vector<std::string>{line};
     }},
    {"certificatePolicies", "2.5.29.32", true, [](void *v) { return policyLines(listOf(v)); }},
    {"authorityKeyIdentifier", "2.5.29.35", true,
     [](void *v) {
         const TQXCRYPT_ATTRIBUTES &akid = listOf(v);
         std::vector<std::string> out;
         for (int32_t i = 0; i < akid.count; ++i) {
             const TQXCRYPT_ATTRIBUTE &item = akid.items[i];
             std::string label = item.name;
             if (label == "issuer") {
                 for (const std::string &n : generalNames(item.value.list, DirStyle::Slashes))
                     out.push_back(n);
                 continue;
             }
             std::string hex = hexColons(item.value.blob.data, static_cast<size_t>(item.value.blob.length));
             out.push_back(akid.count == 1 ? hex : label + ":" + hex);
         }
         return out;
     }},
    {"crlDistributionPoints", "2.5.29.31", true, [](void *v) { return distributionPointLines(listOf(v)); }},
    {"authorityInfoAccess", "1.3.6.1.5.5.7.1.1", true,
     [](void *v) {
         const TQXCRYPT_ATTRIBUTES &access = listOf(v);
         std::vector<std::string> out;
         for (int32_t i = 0; i < access.count; ++i)
             out.push_back(longName(access.items[i].name) + " - " +
                           generalName(access.items[i].value.list.items[0], DirStyle::Slashes));
         return out;
     }},
};

// The tool's printout of one extension without its heading; pieces that the
// tool runs together are split again.
std::vector<std::string> toolExtension(const std::string &file, const std::string &name) {
    std::vector<std::string> got = lines(x509Tool(file, "-ext " + name));
    std::vector<std::string> out;
    for (size_t i = 1; i < got.size(); ++i) {
        std::string line = got[i];
        size_t gap;
        while ((gap = line.find("  ")) != std::string::npos) {
            out.push_back(line.substr(0, gap));
            line = line.substr(line.find_first_not_of(' ', gap));
        }
        out.push_back(line);
    }
    return out;
}

// One value holder for either form of extension value.
struct Value {
    TQXCRYPT_BLOB blob{0, nullptr};
    TQXCRYPT_ATTRIBUTES list{0, nullptr};
    bool isList;
    explicit Value(bool l) : isList(l) {}
    ~Value() {
        TQXCryptFreeBlob(&blob);
        TQXCryptFreeAttributes(&list);
    }
    void *get() { return isList ? static_cast<void *>(&list) : static_cast<void *>(&blob); }
    std::string dumped() const { return isList ? dump(list) : escaped(blob.data, blob.length); }
};

TEST(ExtensionValue, EveryTypeEqualsTheToolByNameAndIdentifier) {
    for (const char *file : {"ext.full.pem", "ext.kdra.pem", "ext.missing.pem", "ext.wrongkind.pem"}) {
        HandleOwner c(cert(file));
        for (const TypeRow &type : kTypes) {
            SCOPED_TRACE(std::string(file) + " " + type.name);
            // A relative name is listed but not decoded: SpecialForms shows it.
            if (file == std::string("ext.missing.pem") && type.name == std::string("crlDistributionPoints"))
                continue;
            Value byName(type.list), byIdentifier(type.list);
            int critical = 7, criticalById = 7;
            int rc = TQXCrypt_CertGetExtension(c.get(), type.name, 0, byName.get(), &critical);
            EXPECT_EQ(TQXCrypt_CertGetExtension(c.get(), type.dotted, 0, byIdentifier.get(), &criticalById),
                      rc);
            if (rc == TQ_RTN_NOT_PRESENT) {
                EXPECT_EQ(critical, 7);
                continue;
            }
            ASSERT_EQ(rc, TQ_RTN_OK);
            EXPECT_EQ(byName.dumped(), byIdentifier.dumped());
            EXPECT_EQ(critical, criticalById);
            std::string heading = lines(x509Tool(file, std::string("-ext ") + type.name)).at(0);
            EXPECT_EQ(critical, heading.find("critical") != std::string::npos ? 1 : 0);
            std::vector<std::string> expected = toolExtension(file, type.name);
            EXPECT_EQ(type.render(byName.get()), expected);
        }
    }
}

TEST(ExtensionValue, PurposeMaskOfTheToolsPurposes) {
    const struct {
        const char *file;
        Bytes mask;
    } rows[] = {{"ext.full.pem", {0, 0, 0, 0x3F}}};
    for (const auto &row : rows) {
        HandleOwner c(cert(row.file));
        tqtest::BlobOwner mask;
        ASSERT_EQ(TQXCrypt_CertGetExtension(c.get(), "extendedKeyUsage", 0, &mask, nullptr), TQ_RTN_OK);
        EXPECT_EQ(mask.bytes(), row.mask);
        // The tool names every purpose; the mask keeps the six it has bits for.
        uint32_t fromTool = 0;
        std::string names = toolExtension(row.file, "extendedKeyUsage").at(0) + ",";
        for (size_t at = 0, comma; (comma = names.find(',', at)) != std::string::npos; at = comma + 2)
            for (const auto &p : kPurposeNames)
                if (p.second == names.substr(at, comma - at)) fromTool |= static_cast<uint32_t>(p.first);
        EXPECT_EQ(Bytes({0, 0, 0, static_cast<unsigned char>(fromTool)}), mask.bytes());
    }
}

// The extension by name as a dump, with its code.
std::string dumpOf(const std::string &file, const char *type, int *rc) {
    HandleOwner c(cert(file));
    ListOwner list;
    *rc = listOf(c.get(), type, list);
    return dump(list.list);
}

TEST(ExtensionValue, SpecialFormsAndEmptyLists) {
    const struct {
        const char *file;
        const char *type;
        const char *expected;
    } rows[] = {
        {"ext.special.pem", "subjectAltName", "othername=<UNSUPPORTED>\nEmail=x@example.org\n"},
        {"ext.special.pem", "crlDistributionPoints",
         "fullname:\n  URI=http://crl.example.org/r.crl\nreasons=<UNSUPPORTED>\nCRLIssuer:\n  DirName:\n"
         "    C=TW\n    O=Dir Org\n    CN=Dir Name\nRelativeName=<UNSUPPORTED>\n"},
        {"ext.full.pem", "subjectAltName",
         "Email=user@example.org\nDNS=www.example.org\nURI=https://www.example.org/x\nIP Address=10.0.0.1\n"
         "IP Address= \\x01\\x0D\\xB8\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x01\n"
         "Registered ID=1.2.3.4.5\nRegistered ID=TLS Web Server Authentication\n"
         "DirName:\n  C=TW\n  O=Dir Org\n  CN=Dir Name\n"},
        {"ext.full.pem", "basicConstraints", "CA=\\x00\\x00\\x00\\xFF\nPATHLEN=\\x00\n"},
        {"ext.bc_false.pem", "basicConstraints", "CA=\\x00\\x00\\x00\\x00\n"},
        {"ext.bc_ca.pem", "basicConstraints", "CA=\\x00\\x00\\x00\\xFF\n"},
        {"qualifier.der", "certificatePolicies",
         "1.3.6.1.4.1.55555.1.2:\n  1.3.6.1.4.1.55555.2.1=<none>\n  CPS=http://cps.example.org/second\n"},
        {"ext.noqual.pem", "certificatePolicies", "1.3.6.1.4.1.55555.1.5:\n"},
        {"ext.empty.pem", "subjectAltName", ""},
        {"ext.empty.pem", "crlDistributionPoints", ""},
        {"ext.empty.pem", "certificatePolicies", ""},
        {"ext.empty.pem", "authorityInfoAccess", ""},
        {"akid_empty.der", "authorityKeyIdentifier", ""},
        // The first copy of a repeated extension decides.
        {"dup.der", "subjectAltName", "DNS=first.example.org\n"},
    };
    for (const auto &row : rows) {
        int rc = -1;
        EXPECT_EQ(dumpOf(row.file, row.type, &rc), row.expected) << row.file << " " << row.type;
        EXPECT_EQ(rc, TQ_RTN_OK) << row.file << " " << row.type;
    }
}

TEST(ExtensionValue, BlobsOfTheBlobTypes) {
    HandleOwner dup(cert("dup.der"));
    tqtest::BlobOwner usage;
    int critical = 7;
    ASSERT_EQ(TQXCrypt_CertGetExtension(dup.get(), "keyUsage", 0, &usage, &critical), TQ_RTN_OK);
    EXPECT_EQ(usage.bytes(), Bytes({0x80}));  // the first copy, not the second (0x20)
    EXPECT_EQ(critical, 1);

    HandleOwner full(cert("ext.full.pem"));
    tqtest::BlobOwner usageFull, certType;
    ASSERT_EQ(TQXCrypt_CertGetExtension(full.get(), "keyUsage", 0, &usageFull, nullptr), TQ_RTN_OK);
    EXPECT_EQ(usageFull.bytes(), Bytes({0xA1, 0x80}));
    ASSERT_EQ(TQXCrypt_CertGetExtension(full.get(), "nsCertType", 0, &certType, nullptr), TQ_RTN_OK);
    EXPECT_EQ(certType.bytes(), Bytes({0xB0}));

    // A caller buffer: too small keeps its length, one that fits is filled.
    unsigned char buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    TQXCRYPT_BLOB small{1, buffer};
    EXPECT_EQ(TQXCrypt_CertGetExtension(full.get(), "keyUsage", 0, &small, nullptr), TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(small.length, 1u);
    EXPECT_EQ(buffer[0], 0xEE);
    TQXCRYPT_BLOB fits{4, buffer};
    ASSERT_EQ(TQXCrypt_CertGetExtension(full.get(), "keyUsage", 0, &fits, nullptr), TQ_RTN_OK);
    EXPECT_EQ(fits.length, 2u);
    EXPECT_EQ(Bytes(buffer, buffer + 3), Bytes({0xA1, 0x80, 0xEE}));

    // crlNumber, from a CRL the tool issued.
    HandleOwner crl(tqtest::decodeFixture(TQXCRYPT_KIND_CRL, "objects/crl.der"));
    auto *object = static_cast<X509_CRL *>(crl.get()->object);
    X509_EXTENSION *number = X509_CRL_get_ext(object, X509_CRL_get_ext_by_NID(object, NID_crl_number, -1));
    tqtest::BlobOwner value;
    ASSERT_EQ(tqxCryptGetExtensionValue(number, &value, nullptr), TQ_RTN_OK);
    int status = -1;
    std::string tool = tqtest::run(
        "openssl crl -noout -crlnumber -in '" + tqtest::fixture("objects/crl.pem") + "'", &status);
    EXPECT_EQ("crlNumber=0x" + tqtest::toHex(value.bytes()) + "\n", tool);
}

TEST(ExtensionValue, CodesAndTheCriticalFlag) {
    const struct {
        const char *file;
        const char *type;
        int rc;
        int critical;  // 7: left as it was
    } rows[] = {
        {"ext.full.pem", "nsComment", TQ_RTN_NOT_SUPPORTED, 0},
        {"ext.full.pem", "privateKeyUsagePeriod", TQ_RTN_NOT_SUPPORTED, 0},
        {"ext.full.pem", "freshestCRL", TQ_RTN_NOT_SUPPORTED, 0},
        {"ext.full.pem", "1.3.6.1.4.1.55555.9", TQ_RTN_FAILED, 7},  // no method
        {"ext.national.pem", "subjectDirectoryAttributes", TQ_RTN_FAILED, 7},
        {"ext.undecodable.pem", "keyUsage", TQ_RTN_BAD_FORMAT, 7},
        {"ext.undecodable.pem", "subjectAltName", TQ_RTN_BAD_FORMAT, 7},
        {"mv.der", "authorityKeyIdentifier", TQ_RTN_NOT_PRESENT, 7},
        {"mv.der", "2.5.29.35", TQ_RTN_NOT_PRESENT, 7},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.file) + " " + row.type);
        HandleOwner c(cert(row.file));
        TQXCRYPT_ATTRIBUTES value{0, nullptr};
        int critical = 7;
        EXPECT_EQ(TQXCrypt_CertGetExtension(c.get(), row.type, 0, &value, &critical), row.rc);
        EXPECT_EQ(critical, row.critical);
        EXPECT_EQ(value.count, 0);
        EXPECT_EQ(value.items, nullptr);
    }
}

TEST(NationalAttributes, EachRowAndEachRefusal) {
    HandleOwner national(cert("ext.national.pem")), bad(cert("ext.national_bad.pem")),
        broken(cert("ext.national_broken.pem")), none(cert("names.pem"));
    auto *object = static_cast<X509 *>(national.get()->object);
    const ASN1_OCTET_STRING *whole = X509_EXTENSION_get_data(
        X509_get_ext(object, X509_get_ext_by_NID(object, NID_subject_directory_attributes, -1)));
    auto identifier = [](const char *dotted) {
        Bytes b(128, 0);
        std::memcpy(b.data(), dotted, std::strlen(dotted));
        return b;
    };
    const struct {
        TQXCRYPT_HANDLE *cert;
        const char *attribute;
        int rc;
        Bytes value;
    } rows[] = {
        {national.get(), "2.16.886.1.100.2.51", TQ_RTN_OK, {'1', '2', '3', '4'}},
        {national.get(), "2.16.886.1.100.2.2", TQ_RTN_OK, {'A'}},
        {national.get(), "2.16.886.1.100.2.101", TQ_RTN_OK, {'O', 'R', 'G', '0', '1'}},
        {national.get(), "2.16.886.1.100.2.1", TQ_RTN_OK, identifier("1.2.3")},
        {national.get(), "2.16.886.1.100.2.102", TQ_RTN_OK, identifier("1.2.3.4.5")},
        {national.get(), "1.2.3.9", TQ_RTN_OK,
         Bytes(ASN1_STRING_get0_data(whole), ASN1_STRING_get0_data(whole) + ASN1_STRING_length(whole))},
        {national.get(), "1.2.3.10", TQ_RTN_NOT_PRESENT, {}},
        {national.get(), "not an identifier", TQ_RTN_FAILED, {}},
        {bad.get(), "2.16.886.1.100.2.51", TQ_RTN_FAILED, {}},   // an INTEGER
        {bad.get(), "2.16.886.1.100.2.2", TQ_RTN_FAILED, {}},    // no value
        {bad.get(), "2.16.886.1.100.2.101", TQ_RTN_FAILED, {}},  // an identifier
        {bad.get(), "2.16.886.1.100.2.1", TQ_RTN_FAILED, {}},    // a string
        {bad.get(), "2.16.886.1.100.2.102", TQ_RTN_FAILED, {}},  // a NULL
        {broken.get(), "2.16.886.1.100.2.51", TQ_RTN_FAILED, {}},
        {none.get(), "2.16.886.1.100.2.51", TQ_RTN_NOT_PRESENT, {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.attribute);
        tqtest::BlobOwner value;
        EXPECT_EQ(TQXCrypt_CertGetSubjectDirectoryAttrs(row.cert, row.attribute, 0, &value), row.rc);
        EXPECT_EQ(value.bytes(), row.value);
        if (row.rc != TQ_RTN_OK) {
            EXPECT_EQ(value.b.data, nullptr);
        }
    }
}

// The decoders a host calls with its own extensions: a value that does not
// decode or a type that names nothing leaves the host's queue as it was.
TEST(ExtensionDecoders, FailuresLeaveTheHostsErrorQueue) {
    HandleOwner undecodable(cert("ext.undecodable.pem")), broken(cert("ext.national_broken.pem")),
        national(cert("ext.national.pem"));
    auto extensionOf = [](TQXCRYPT_HANDLE *h, int nid) {
        auto *object = static_cast<X509 *>(h->object);
        return X509_get_ext(object, X509_get_ext_by_NID(object, nid, -1));
    };
    X509_EXTENSION *altName = extensionOf(undecodable.get(), NID_subject_alt_name);
    X509_EXTENSION *brokenAttrs = extensionOf(broken.get(), NID_subject_directory_attributes);
    X509_EXTENSION *attrs = extensionOf(national.get(), NID_subject_directory_attributes);
    ASSERT_TRUE(altName && brokenAttrs && attrs);
    const struct {
        const char *what;
        int rc;
        std::function<int(TQXCRYPT_BLOB *)> call;
    } rows[] = {
        {"undecodable alternative name", TQ_RTN_BAD_FORMAT,
         [&](TQXCRYPT_BLOB *) {
             ListOwner list;
             return tqxCryptGetExtensionValue(altName, &list.list, nullptr);
         }},
        {"attributes that are no SEQUENCE OF Attribute", TQ_RTN_FAILED,
         [&](TQXCRYPT_BLOB *out) {
             return tqxCryptGetUnKnownOIDExtensionValue(brokenAttrs, "2.16.886.1.100.2.51", out);
         }},
        {"attribute type that names nothing", TQ_RTN_FAILED,
         [&](TQXCRYPT_BLOB *out) {
             return tqxCryptGetUnKnownOIDExtensionValue(attrs, "not an identifier", out);
         }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        ERR_clear_error();
        ERR_raise_data(ERR_LIB_USER, 102, "host entry");
        tqtest::BlobOwner value;
        EXPECT_EQ(row.call(&value.b), row.rc);
        const unsigned long host = ERR_get_error();
        EXPECT_EQ(ERR_GET_LIB(host), ERR_LIB_USER);
        EXPECT_EQ(ERR_GET_REASON(host), 102);
        EXPECT_EQ(ERR_get_error(), 0u) << "entries were left behind";
        ERR_clear_error();
    }
}

// The reader that starts the library itself: the start-up, which drops what
// it queued, runs inside the call's scope and leaves the host's entry alone.
TEST(NationalAttributes, FirstCallAfterReleaseKeepsTheHostsErrorQueue) {
    HandleOwner national(cert("ext.national.pem"));
    TQXCryptRelease();
    ERR_clear_error();
    ERR_raise_data(ERR_LIB_USER, 102, "host entry");
    tqtest::BlobOwner value;
    EXPECT_EQ(TQXCrypt_CertGetSubjectDirectoryAttrs(national.get(), "2.16.886.1.100.2.51", 0, &value),
              TQ_RTN_OK);
    EXPECT_EQ(value.bytes(), Bytes({'1', '2', '3', '4'}));
    const unsigned long host = ERR_get_error();
    EXPECT_EQ(ERR_GET_LIB(host), ERR_LIB_USER);
    EXPECT_EQ(ERR_GET_REASON(host), 102);
    EXPECT_EQ(ERR_get_error(), 0u);
}

TEST(OcspExtension, NonceAsTheToolShowsItAndRefusedTypes) {
    Bytes der = tqtest::readFile(path("ocsp.nonce.der"));
    const unsigned char *p = der.data();
    OCSP_REQUEST *req = d2i_OCSP_REQUEST(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(req, nullptr);
    X509_EXTENSION *nonce =
        OCSP_REQUEST_get_ext(req, OCSP_REQUEST_get_ext_by_NID(req, NID_id_pkix_OCSP_Nonce, -1));
    tqtest::BlobOwner value;
    int critical = 7;
    ASSERT_EQ(tqxCryptGetOCSPExtensionValue(nonce, &value, &critical), TQ_RTN_OK);
    EXPECT_EQ(critical, 0);
    int status = -1;
    std::vector<std::string> text =
        lines(tqtest::run("openssl ocsp -req_text -reqin '" + path("ocsp.nonce.der") + "'", &status));
    std::string shown;
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == "OCSP Nonce:") shown = text[i + 1];
    EXPECT_EQ(tqtest::toHex(value.bytes()), shown);
    OCSP_REQUEST_free(req);

    for (int nid : {NID_id_pkix_OCSP_CrlID, NID_id_pkix_OCSP_acceptableResponses}) {
        ASN1_OCTET_STRING *data = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(data, reinterpret_cast<const unsigned char *>("\x30\x00"), 2);
        X509_EXTENSION *ext = X509_EXTENSION_create_by_NID(nullptr, nid, 1, data);
        tqtest::BlobOwner refused;
        int flag = 7;
        EXPECT_EQ(tqxCryptGetOCSPExtensionValue(ext, &refused, &flag), TQ_RTN_FAILED);
        EXPECT_EQ(flag, 1);
        EXPECT_EQ(refused.b.data, nullptr);
        X509_EXTENSION_free(ext);
        ASN1_OCTET_STRING_free(data);
    }
}

TEST(PolicyQualifiers, NoQualifiersGiveAnEmptyList) {
    TQXCRYPT_ATTRIBUTES list{3, nullptr};
    EXPECT_EQ(tqxCryptGetPolicyQualifyInfo(nullptr, &list), TQ_RTN_OK);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.items, nullptr);
}

TEST(Attributes, ReleasingTwiceOrAZeroedListIsHarmless) {
    HandleOwner c(cert("ext.full.pem"));
    TQXCRYPT_ATTRIBUTES list{0, nullptr};
    TQXCryptFreeAttributes(&list);
    TQXCryptFreeAttributes(nullptr);
    ASSERT_EQ(TQXCrypt_CertGetExtension(c.get(), "crlDistributionPoints", 0, &list, nullptr), TQ_RTN_OK);
    EXPECT_GT(list.count, 0);
    TQXCryptFreeAttributes(&list);
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.items, nullptr);
    TQXCryptFreeAttributes(&list);
}

// The summary, or its code as text.
std::string summary(const std::string &file, int selector) {
    HandleOwner c(cert(file));
    char *text = reinterpret_cast<char *>(0x1);
    int rc = TQXCrypt_CertGetKDRAExtension(c.get(), selector, &text);
    if (rc != TQ_RTN_OK) {
        EXPECT_EQ(text, reinterpret_cast<char *>(0x1)) << "text touched on " << rc;
        return std::to_string(rc);
    }
    std::string out = text;
    TQCryptMemFree(text);
    return out;
}

std::string firstHexBytes(const std::string &file, const char *type, size_t bytes) {
    std::string hex = toolExtension(file, type).at(0);
    std::string digits;
    for (char c : hex)
        if (c != ':') digits += c;
    return digits.substr(0, 2 * bytes);
}

TEST(Summary, ProfileEqualsTheTool) {
    const std::string file = "ext.kdra.pem";
    std::vector<std::string> policies = toolExtension(file, "certificatePolicies");
    ASSERT_EQ(policies.size(), 4u);  // Policy, User Notice, Explicit Text, CPS
    const std::string expected[8] = {
        toolExtension(file, "crlDistributionPoints").at(1).substr(4),
        policies[0].substr(8) + "\n" + policies[3].substr(5) + "\n" + policies[2].substr(15) + "\n",
        toolExtension(file, "authorityInfoAccess").at(0).substr(11),
        firstHexBytes(file, "authorityKeyIdentifier", 8),
        firstHexBytes(file, "subjectKeyIdentifier", 8),
        "0\n0\n",
        "192",  // Digital Signature, Non Repudiation
        toolExtension(file, "subjectAltName").at(0).substr(6, 16),
    };
    EXPECT_EQ(toolExtension(file, "keyUsage").at(0), "Digital Signature, Non Repudiation");
    for (int selector = 1; selector <= 8; ++selector)
        EXPECT_EQ(summary(file, selector), expected[selector - 1]) << selector;
}

TEST(Summary, PositionsThatAreMissingEmptyOrOfTheOtherKind) {
    const struct {
        const char *file;
        int selector;
        const char *expected;
    } rows[] = {
        {"ext.wrongkind.pem", 1, "5004"},  // the full name starts with a directory name
        {"ext.wrongkind.pem", 2, "5004"},  // the second qualifier is a user notice
        {"ext.wrongkind.pem", 3, "5004"},
        {"ext.wrongkind.pem", 8, "5004"},
        {"ext.wrongkind.pem", 6, "1\n100\n"},  // 01 00 00, each byte in %X
        {"ext.missing.pem", 1, "5050"},        // a relative name only
        {"ext.missing.pem", 2, "5050"},        // one qualifier
        {"ext.missing.pem", 3, "5050"},
        {"ext.missing.pem", 4, "5050"},  // no key identifier
        {"ext.missing.pem", 6, "1\n1000\n"},
        {"ext.missing.pem", 8, "5050"},
        {"ext.empty.pem", 1, "5045"},
        {"ext.empty.pem", 2, "5045"},
        {"ext.empty.pem", 3, "5045"},
        {"ext.empty.pem", 5, "010203"},  // shorter than eight bytes
        {"ext.empty.pem", 6, "1\n\n"},   // a five-byte path length
        {"ext.empty.pem", 8, "5045"},
        {"akid_empty.der", 4, "5045"},
        {"ext.noqual.pem", 2, "5045"},
        {"ext.noqual.pem", 6, "1\nA\n"},
        {"qualifier.der", 2, "5004"},  // the first qualifier has no elements
        {"qualifier2.der", 2, "1.3.6.1.4.1.55555.1.6\n\nText\n"},
        {"ext.special.pem", 1, "http://crl.example.org/r.crl"},
        {"ext.special.pem", 8, "<UNSUPPORTED>"},
        {"ext.bc_false.pem", 6, "0\n0\n"},
        {"ext.bc_ca.pem", 6, "1\n0\n"},
        {"ext.bc_256.pem", 6, "1\n10\n"},
        {"ext.full.pem", 6, "1\n0\n"},
        {"ext.full.pem", 7, "32929"},  // 0xA1 and the second byte 0x80
        {"names.pem", 7, "5050"},
        {"ext.undecodable.pem", 8, "5045"},
        {"ext.undecodable.pem", 7, "5050"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(summary(row.file, row.selector), row.expected) << row.file << " " << row.selector;
}

}  // namespace

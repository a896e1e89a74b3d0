// General-name text: TAB-separated entries of type '=' value.
#include "x509_internal.h"

namespace {

constexpr size_t kLongestEntry = 1023;

bool space(int c) { return tq::isSpace(c); }

std::string trimmed(tq::ByteCursor text) {
    while (!text.empty() && space(text.peek())) text.skip(1);
    text.trimEnd(space);
    return std::string(reinterpret_cast<const char *>(text.here()), text.remaining());
}

bool validUtf8(const std::string &text) {
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    long left = static_cast<long>(text.size());
    while (left > 0) {
        unsigned long c = 0;
        int n = UTF8_getc(p, static_cast<int>(left), &c);
        if (n <= 0) return false;
        p += n;
        left -= n;
    }
    return true;
}

tq::GeneralNamePtr ia5Name(int type, const std::string &value) {
    tq::GeneralNamePtr name(GENERAL_NAME_new());
    tq::Asn1StringPtr ia5(ASN1_IA5STRING_new());
    if (!name || !ia5 || ASN1_STRING_set(ia5.get(), value.data(), static_cast<int>(value.size())) != 1)
        return nullptr;
    GENERAL_NAME_set0_value(name.get(), type, ia5.release());
    return name;
}

// The UPN's UTF-8 as given: one byte per character would double every
// character outside ASCII.
tq::GeneralNamePtr upnName(const std::string &value) {
    if (!validUtf8(value)) return nullptr;
    tq::GeneralNamePtr name(GENERAL_NAME_new());
    tq::Asn1StringPtr utf8(ASN1_UTF8STRING_new());
    tq::Asn1TypePtr any(ASN1_TYPE_new());
    if (!name || !utf8 || !any ||
        ASN1_STRING_set(utf8.get(), value.data(), static_cast<int>(value.size())) != 1)
        return nullptr;
    ASN1_TYPE_set(any.get(), V_ASN1_UTF8STRING, utf8.release());
    ASN1_OBJECT *type = OBJ_nid2obj(NID_ms_upn);
    if (!type || GENERAL_NAME_set0_othername(name.get(), type, any.get()) != 1) return nullptr;
    any.release();
    return name;
}

tq::GeneralNamePtr readEntry(const std::string &type, const std::string &value) {
    if (type == "URI") return ia5Name(GEN_URI, value);
    if (type == "Email" || type == "E") return ia5Name(GEN_EMAIL, value);
    if (type == "DNS") return ia5Name(GEN_DNS, value);
    if (type == "msUPN") return upnName(value);
    tq::GeneralNamePtr name(GENERAL_NAME_new());
    if (!name) return nullptr;
    if (type == "DirName") {
        X509_NAME *dn = tqxCrypt_GetX509Name(value.c_str());
        if (!dn) return nullptr;
        GENERAL_NAME_set0_value(name.get(), GEN_DIRNAME, dn);
        return name;
    }
    if (type == "IP Address") {
        // Dotted IPv4 gives four octets, IPv6 text sixteen.
        ASN1_OCTET_STRING *address = a2i_IPADDRESS(value.c_str());
        if (!address) return nullptr;
        GENERAL_NAME_set0_value(name.get(), GEN_IPADD, address);
        return name;
    }
    if (type == "Registered ID") {
        ASN1_OBJECT *id = OBJ_txt2obj(value.c_str(), 0);
        if (!id) return nullptr;
        GENERAL_NAME_set0_value(name.get(), GEN_RID, id);
        return name;
    }
    return nullptr;
}

}  // namespace

extern "C" {

GENERAL_NAMES *tqxCrypt_GetGeneralName(const char *text) try {
    tq::GeneralNamesPtr names(GENERAL_NAMES_new());
    if (!names || !text) return names.release();
    tq::ByteCursor rest(reinterpret_cast<const unsigned char *>(text), std::strlen(text));
    while (!rest.empty()) {
        size_t end = rest.find('\t');
        tq::ByteCursor entry = rest.take(end);
        rest.skip(end == SIZE_MAX ? rest.remaining() : end + 1);
        if (entry.remaining() > kLongestEntry) return nullptr;
        size_t eq = entry.find('=');
        if (eq == SIZE_MAX) return nullptr;
        std::string type = trimmed(entry.take(eq));
        entry.skip(eq + 1);
        if (type.empty()) return nullptr;
        tq::GeneralNamePtr name = readEntry(type, trimmed(entry));
        if (!name || !sk_GENERAL_NAME_push(names.get(), name.get())) return nullptr;
        name.release();
    }
    return names.release();
}
TQ_CATCH_OPENSSL(nullptr)

}  // extern "C"

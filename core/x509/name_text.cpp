// Name text: an X.509 name as label=value lines joined by CR LF, and the
// same name as an attribute list.
#include "x509_internal.h"

namespace {

constexpr size_t kUnconvertible = SIZE_MAX;

// UTF-8 of a big-endian string of code units `width` bytes wide (2: BMP, 4:
// universal), written to out when it is set; its length, or kUnconvertible.
size_t wideToUtf8(const unsigned char *data, size_t n, size_t width, unsigned char *out) {
    if (n % width) return kUnconvertible;
    tq::ByteCursor in(data, n);
    size_t length = 0;
    while (!in.empty()) {
        uint32_t c = 0;
        for (size_t i = 0; i < width; ++i) c = (c << 8) | static_cast<uint32_t>(in.next());
        if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return kUnconvertible;
        unsigned char bytes[4];
        size_t k;
        if (c < 0x80) {
            bytes[0] = static_cast<unsigned char>(c);
            k = 1;
        } else if (c < 0x800) {
            bytes[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
            bytes[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            k = 2;
        } else if (c < 0x10000) {
            bytes[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            k = 3;
        } else {
            bytes[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            k = 4;
        }
        if (out) std::memcpy(out + length, bytes, k);
        length += k;
    }
    return length;
}

// The value bytes of an entry in the name text: wide strings as UTF-8 (empty
// when they do not convert), every other type as stored. Measures when out is
// null, so sizing and writing cannot disagree.
size_t renderValue(const ASN1_STRING *value, unsigned char *out) {
    const unsigned char *data = ASN1_STRING_get0_data(value);
    size_t n = static_cast<size_t>(ASN1_STRING_length(value));
    size_t width = 0;
    switch (ASN1_STRING_type(value)) {
    case V_ASN1_BMPSTRING:
        width = 2;
        break;
    case V_ASN1_UNIVERSALSTRING:
        width = 4;
        break;
    default:
        if (out && n) std::memcpy(out, data, n);
        return n;
    }
    if (wideToUtf8(data, n, width, nullptr) == kUnconvertible) return 0;
    return wideToUtf8(data, n, width, out);
}

}  // namespace

extern "C" {

int tqxGetCertX509Name(X509_NAME *name, int, char **text) try {
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    int entries = name ? X509_NAME_entry_count(name) : 0;
    if (entries <= 0) return TQ_RTN_FAILED;
    size_t total = 0;
    for (int i = 0; i < entries; ++i) {
        const X509_NAME_ENTRY *entry = X509_NAME_get_entry(name, i);
        tq::ObjectLabel label(X509_NAME_ENTRY_get_object(entry));
        if (!label.text()) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        total += (i ? 2 : 0) + label.size() + 1 + renderValue(X509_NAME_ENTRY_get_data(entry), nullptr);
    }
    char *out = tq::newText(total);
    if (!out) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    size_t at = 0;
    for (int i = 0; i < entries; ++i) {
        const X509_NAME_ENTRY *entry = X509_NAME_get_entry(name, i);
        tq::ObjectLabel label(X509_NAME_ENTRY_get_object(entry));
        if (!label.text()) {
            TQCryptMemFree(out);
            return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        }
        if (i) {
            out[at++] = '\r';
            out[at++] = '\n';
        }
        std::memcpy(out + at, label.text(), label.size());
        at += label.size();
        out[at++] = '=';
        at += renderValue(X509_NAME_ENTRY_get_data(entry), reinterpret_cast<unsigned char *>(out + at));
    }
    out[at] = '\0';
    *text = out;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int GetX509Name(X509_NAME *name, TQXCRYPT_ATTRIBUTES *list) try {
    if (!list) return TQ_RTN_BAD_ARGUMENT;
    *list = {0, nullptr};
    tq::AttrList built;
    int rc = tq::nameList(name, built);
    if (rc == TQ_RTN_OK) built.handOut(list);
    return rc;
}
TQ_CATCH_CODE

}  // extern "C"

namespace tq {

// Unlike the name text, the list keeps every value as stored.
int nameList(const X509_NAME *name, AttrList &out) {
    int entries = name ? X509_NAME_entry_count(name) : 0;
    int rc = out.reserve(entries > 0 ? static_cast<size_t>(entries) : 0);
    for (int i = 0; rc == TQ_RTN_OK && i < entries; ++i) {
        const X509_NAME_ENTRY *entry = X509_NAME_get_entry(name, i);
        ObjectLabel label(X509_NAME_ENTRY_get_object(entry));
        rc = label.text() ? out.addString(label.text(), X509_NAME_ENTRY_get_data(entry))
                          : TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    return rc;
}

}  // namespace tq

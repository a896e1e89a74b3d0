// Hexadecimal serial texts and the integers made of them.
#include "x509_internal.h"

namespace {

int hexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr int kSerialRoom = 1024;

}  // namespace

extern "C" {

int hex2bin(const char *text, int length, unsigned char *out, int capacity) try {
    if (!text || length < 0) return -2;
    int needed = (length + 1) / 2;
    if (capacity < needed) return -1;
    // Checked first: a refused text writes nothing.
    for (int i = 0; i < length; ++i)
        if (hexValue(static_cast<unsigned char>(text[i])) < 0) return -2;
    int at = 0, i = 0;
    // An odd count: the first digit alone is the first byte.
    if (length % 2) out[at++] = static_cast<unsigned char>(hexValue(static_cast<unsigned char>(text[i++])));
    for (; i < length; i += 2)
        out[at++] = static_cast<unsigned char>(hexValue(static_cast<unsigned char>(text[i])) << 4 |
                                               hexValue(static_cast<unsigned char>(text[i + 1])));
    return at;
}
TQ_CATCH_RETURN(-1)

int setASN1Integer(ASN1_INTEGER *integer, unsigned char *bytes, int length, int copy) try {
    if (!integer || length < 0 || (length > 0 && !bytes)) return TQ_RTN_BAD_ARGUMENT;
    while (length > 1 && bytes[0] == 0) {
        ++bytes;
        --length;
    }
    ASN1_STRING_set0(integer, nullptr, 0);
    integer->type = V_ASN1_INTEGER;
    if (copy) return ASN1_STRING_set(integer, bytes, length) == 1 ? TQ_RTN_OK : TQ_RTN_MEMORY_ALLOCATE_FAIL;
    ASN1_STRING_set0(integer, bytes, length);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int bin2hex(const unsigned char *bytes, unsigned int count, char *out, int capacity, char separator) try {
    static const char kDigits[] = "0123456789ABCDEF";
    if (!out || capacity < 1 || (count > 0 && !bytes)) return TQ_RTN_BAD_ARGUMENT;
    bool separate = static_cast<signed char>(separator) > 0;
    int at = 0;
    for (unsigned int i = 0; i < count; ++i) {
        if (capacity - at < (separate ? 5 : 4)) {
            out[at] = '\0';
            return TQ_RTN_BUFFER_TOO_SMALL;
        }
        if (separate && i > 0) out[at++] = separator;
        out[at++] = kDigits[bytes[i] >> 4];
        out[at++] = kDigits[bytes[i] & 0x0F];
    }
    out[at] = '\0';
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

namespace tq {

int serialFromHex(const char *hex, Asn1IntegerPtr &out) {
    if (!hex) return TQ_RTN_BAD_ARGUMENT;
    size_t n = std::strlen(hex);
    if (n == 0) return TQ_RTN_BAD_FORMAT;  // no digits name no serial
    if (n > static_cast<size_t>(2 * kSerialRoom)) return TQ_RTN_BUFFER_TOO_SMALL;
    unsigned char bytes[kSerialRoom];
    int written = hex2bin(hex, static_cast<int>(n), bytes, kSerialRoom);
    if (written == -1) return TQ_RTN_BUFFER_TOO_SMALL;
    if (written < 0) return TQ_RTN_BAD_FORMAT;
    Asn1IntegerPtr integer(ASN1_INTEGER_new());
    if (!integer) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    int rc = setASN1Integer(integer.get(), bytes, written, 1);
    if (rc != TQ_RTN_OK) return rc;
    out = std::move(integer);
    return TQ_RTN_OK;
}

}  // namespace tq

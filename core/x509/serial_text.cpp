// Hexadecimal serial texts and the integers made of them.
#include "hexdigits.h"
#include "x509_internal.h"

namespace {

constexpr int kSerialRoom = 1024;

}  // namespace

extern "C" {

int hex2bin(const char *text, int length, unsigned char *out, int capacity) try {
    if (!text || length < 0) return -2;
    int needed = (length + 1) / 2;
    if (capacity < needed) return -1;
    const tq::ByteCursor digits(text, static_cast<size_t>(length));
    // Checked first: a refused text writes nothing.
    for (tq::ByteCursor c = digits; !c.empty();)
        if (tq::hexValue(c.next()) < 0) return -2;
    size_t written = 0;
    tq::readHex(digits, out, &written);
    return static_cast<int>(written);
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
    if (!out || capacity < 1 || (count > 0 && !bytes)) return TQ_RTN_BAD_ARGUMENT;
    const bool separated = static_cast<signed char>(separator) > 0;
    const size_t fit = tq::hexBytesThatFit(count, static_cast<size_t>(capacity), separated);
    // A text cut short still ends with a NUL.
    *tq::writeHex(bytes, fit, out, separated ? separator : 0) = '\0';
    return fit == count ? TQ_RTN_OK : TQ_RTN_BUFFER_TOO_SMALL;
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

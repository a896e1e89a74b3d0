// Upper-case hexadecimal text.
#include <cstring>

#include "encoding_internal.h"

extern "C" {

int HexToInt(int character) try {
    int c = character & 0xFF;
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return TQ_RTN_BAD_HEX;
}
TQ_CATCH_CODE

int TQXCrypt_HexDecode(const char *hex, int length, unsigned char **data, int *dataLength) try {
    tq::ErrorQueueScope scope;
    if (!hex) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    // A negative length is refused whatever its parity.
    if (length < 0 || !data || !dataLength) return TQ_RTN_BAD_ARGUMENT;
    if (length % 2 != 0) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    size_t n = static_cast<size_t>(length) / 2;
    auto *out = static_cast<unsigned char *>(TQCryptMemAlloc(n + 1));
    if (!out) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    std::memset(out, 0, n + 1);
    *dataLength = static_cast<int>(n);
    *data = out;
    tq::ByteCursor c(hex, static_cast<size_t>(length));
    for (size_t i = 0; i < n; ++i) {
        int high = HexToInt(c.next());
        int low = HexToInt(c.next());
        // The buffer, filled up to the bad pair, stays with the caller.
        if (high == TQ_RTN_BAD_HEX || low == TQ_RTN_BAD_HEX) return TQ_RTN_BAD_HEX;
        out[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_HexEncode(const unsigned char *data, int length, char **hex, int *hexLength) try {
    tq::ErrorQueueScope scope;
    if (!data) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (length < 0 || length > INT_MAX / 2 || !hex || !hexLength) return TQ_RTN_BAD_ARGUMENT;
    static const char kDigits[] = "0123456789ABCDEF";
    size_t n = static_cast<size_t>(length);
    auto *out = static_cast<char *>(TQCryptMemAlloc(2 * n + 1));
    if (!out) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    for (size_t i = 0; i < n; ++i) {
        out[2 * i] = kDigits[data[i] >> 4];
        out[2 * i + 1] = kDigits[data[i] & 15];
    }
    out[2 * n] = 0;
    *hex = out;
    *hexLength = static_cast<int>(2 * n);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

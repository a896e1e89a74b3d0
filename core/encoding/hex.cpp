// Upper-case hexadecimal text.
#include <cstring>

#include "encoding_internal.h"
#include "hexdigits.h"

extern "C" {

int HexToInt(int character) try {
    const int value = tq::hexValue(character & 0xFF);
    return value < 0 ? TQ_RTN_BAD_HEX : value;
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
    // The buffer, filled up to the bad pair, stays with the caller.
    size_t written = 0;
    return tq::readHex(tq::ByteCursor(hex, static_cast<size_t>(length)), out, &written) ? TQ_RTN_OK
                                                                                        : TQ_RTN_BAD_HEX;
}
TQ_CATCH_CODE

int TQXCrypt_HexEncode(const unsigned char *data, int length, char **hex, int *hexLength) try {
    tq::ErrorQueueScope scope;
    if (!data) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (length < 0 || length > INT_MAX / 2 || !hex || !hexLength) return TQ_RTN_BAD_ARGUMENT;
    size_t n = static_cast<size_t>(length);
    char *out = tq::newText(2 * n);
    if (!out) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    tq::writeHex(data, n, out);
    *hex = out;
    *hexLength = static_cast<int>(2 * n);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

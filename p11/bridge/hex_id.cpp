// CKA_ID texts: lenient hexadecimal, as callers have always written them.
#include <climits>
#include <cstring>

#include "bridge_internal.h"
#include "hexdigits.h"

extern "C" {

TQ_API int TQXP11Crypt_HexToInt(char c) try {
    const int value = tq::hexValue(static_cast<unsigned char>(c));
    return value < 0 ? 0 : value;
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_HexDecode(const char *text, int length, unsigned char **bytes, int *count) try {
    if (!text) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    // A negative length would become a huge count.
    if (length < 0 || !bytes || !count) return TQ_RTN_BAD_ARGUMENT;
    const size_t n = static_cast<size_t>(length) / 2;
    auto *out = static_cast<unsigned char *>(TQCryptMemAlloc(n + 1));
    if (!out) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    std::memset(out, 0, n + 1);
    size_t written = 0;
    tq::readHex(tq::ByteCursor(text, 2 * n), out, &written, tq::NonDigit::AsZero);
    *bytes = out;
    *count = static_cast<int>(n);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_HexEncode(const unsigned char *bytes, int length, char **text, int *textLength) try {
    // The text length must fit the int it is reported in.
    if (length < 0 || length > (INT_MAX - 1) / 2 || (!bytes && length > 0) || !text || !textLength)
        return TQ_RTN_BAD_ARGUMENT;
    const size_t n = static_cast<size_t>(length);
    char *out = tq::newText(2 * n);
    if (!out) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    tq::writeHex(bytes, n, out);
    *text = out;
    *textLength = 2 * length;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

namespace tqbridge {

int decodeId(const char *hexId, HexDecoder decode, tq::TqMem &id, CK_ULONG *count) {
    if (!hexId) return TQ_RTN_BAD_ARGUMENT;
    const size_t textLength = std::strlen(hexId);
    if (!tq::fitsInt(textLength)) return TQ_RTN_BAD_ARGUMENT;
    unsigned char *decoded = nullptr;
    int n = 0;
    const int rc = decode(hexId, static_cast<int>(textLength), &decoded, &n);
    id.reset(decoded);
    if (rc != TQ_RTN_OK) return rc;
    if (n <= 0) return TQ_RTN_BAD_ARGUMENT;
    *count = static_cast<CK_ULONG>(n);
    return TQ_RTN_OK;
}

}  // namespace tqbridge

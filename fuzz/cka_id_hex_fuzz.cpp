// CKA_ID texts from callers: every input decodes, to exactly what the digit
// values say, in a buffer of count + 1 bytes that ends in a zero.
#include <climits>
#include <cstring>
#include <vector>

#include "tqxp11bridge.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size > INT_MAX) return 0;
    // A copy of exactly the input's length: a read past it is caught.
    std::vector<char> text(data, data + size);
    const char *input = size ? text.data() : "";
    unsigned char *bytes = nullptr;
    int count = -1;
    if (TQXP11Crypt_HexDecode(input, static_cast<int>(size), &bytes, &count) != TQ_RTN_OK || !bytes ||
        count != static_cast<int>(size / 2))
        __builtin_trap();
    for (int i = 0; i < count; ++i) {
        const int high = TQXP11Crypt_HexToInt(text[2 * i]), low = TQXP11Crypt_HexToInt(text[2 * i + 1]);
        if (high < 0 || high > 15 || low < 0 || low > 15 || bytes[i] != (high << 4 | low)) __builtin_trap();
    }
    if (bytes[count] != 0) __builtin_trap();
    TQCryptMemFree(bytes);
    return 0;
}

// Hexadecimal text.
#include <climits>
#include <cstring>
#include <vector>

#include "tqxcrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size > INT_MAX) return 0;
    std::vector<char> text(data, data + size);
    unsigned char *bytes = nullptr;
    int n = 0;
    int rc = TQXCrypt_HexDecode(text.data(), static_cast<int>(text.size()), &bytes, &n);
    if (rc == TQ_RTN_OK) {
        char *hex = nullptr;
        int hexLength = 0;
        if (TQXCrypt_HexEncode(bytes, n, &hex, &hexLength) != TQ_RTN_OK ||
            hexLength != static_cast<int>(size) || strncasecmp(hex, text.data(), size) != 0)
            __builtin_trap();
        TQCryptMemFree(hex);
    }
    TQCryptMemFree(bytes);
    return 0;
}

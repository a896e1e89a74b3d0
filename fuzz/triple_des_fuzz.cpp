// Passphrase decryption of Base64 text: any text, any algorithm selector.
#include <cstdlib>
#include <vector>

#include "tqjni.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size < 1) return 0;
    // The first byte: algorithm (low three bits) and mode bits.
    const int algorithm = data[0] & 0x07;
    const int flags = data[0] & 0x30;
    std::vector<char> text(data + 1, data + size);
    text.push_back('\0');
    unsigned char *out = nullptr;
    int length = -1;
    if (TripleDESDecrypt("passphrase", text.data(), algorithm, flags, &out, &length) == 0) {
        // The plain text is never longer than what followed the IV.
        if (!out || length < 0 || static_cast<size_t>(length) > size) __builtin_trap();
        std::free(out);
    } else if (out || length != -1) {
        __builtin_trap();
    }
    return 0;
}

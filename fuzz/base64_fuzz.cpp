// Bare Base64 text into allocated and caller buffers.
#include <cstring>
#include <vector>

#include "tqxcrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    std::vector<char> text(data, data + size);  // exact size: no terminator to lean on
    TQXCRYPT_BLOB out{0, nullptr};
    if (TQXCrypt_Decode(text.data(), text.size(), &out, nullptr) == TQ_RTN_OK) {
        // What decodes must encode and decode back to the same bytes.
        TQXCRYPT_BLOB again{0, nullptr}, back{0, nullptr};
        if (TQXCrypt_Encode(out.data, out.length, &again, nullptr) != TQ_RTN_OK) __builtin_trap();
        if (TQXCrypt_Decode(reinterpret_cast<char *>(again.data), again.length, &back, nullptr) !=
                TQ_RTN_OK ||
            back.length != out.length || (out.length && std::memcmp(back.data, out.data, out.length) != 0))
            __builtin_trap();
        TQXCryptFreeBlob(&again);
        TQXCryptFreeBlob(&back);
    }
    // A small caller buffer must never be written past its capacity.
    std::vector<unsigned char> small(size / 2 + 1);
    TQXCRYPT_BLOB fixed{small.size(), small.data()};
    TQXCrypt_Decode(text.data(), text.size(), &fixed, nullptr);
    TQXCryptFreeBlob(&out);
    return 0;
}

#include "text_convert.h"

#ifdef _WIN32
#include <windows.h>

std::u16string ReaderNameToUtf16(const std::string &name) {
    if (name.empty()) return std::u16string();
    const int n = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    if (n <= 0) return std::u16string();
    std::u16string wide(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()),
                        reinterpret_cast<wchar_t *>(&wide[0]), n);
    return wide;
}

#else

#include "byte_cursor.h"

std::u16string ReaderNameToUtf16(const std::string &name) {
    std::u16string wide;
    ByteCursor cursor(name.data(), name.size());
    while (!cursor.atEnd()) {
        const uint8_t lead = cursor.peek();
        cursor.skip(1);
        int extra = lead < 0x80           ? 0
                    : (lead >> 5) == 0x6  ? 1
                    : (lead >> 4) == 0xE  ? 2
                    : (lead >> 3) == 0x1E ? 3
                                          : -1;
        uint32_t cp = extra == 0   ? lead
                      : extra == 1 ? (lead & 0x1F)
                      : extra == 2 ? (lead & 0x0F)
                                   : (lead & 0x07);
        bool valid = extra >= 0;
        for (int i = 0; valid && i < extra; ++i) {
            const uint8_t next = cursor.peek();
            if (cursor.atEnd() || (next & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            cp = (cp << 6) | (next & 0x3F);
            cursor.skip(1);
        }
        // The shortest form only: an overlong C0 80 would smuggle a NUL into the name.
        static const uint32_t kShortest[] = {0, 0x80, 0x800, 0x10000};
        if (!valid || cp < kShortest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            wide.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            wide.push_back(static_cast<char16_t>(cp));
        }
    }
    return wide;
}

#endif

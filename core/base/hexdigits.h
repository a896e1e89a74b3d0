// The one hex writer and the one hex reader of the library. Header-only,
// so that every layer writing or reading hex text has them; each exported
// hex function keeps its own rules for lengths, errors and allocation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cursor.h"

namespace tq {

// The upper-case digit of the low four bits of a value.
constexpr char hexDigit(unsigned value) {
    value &= 0x0F;
    return static_cast<char>(value < 10 ? '0' + value : 'A' + value - 10);
}

// The value of a digit of either case, -1 for any other byte (and for -1,
// the end of a cursor).
constexpr int hexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The length of the text of `count` bytes, with a separator between bytes
// or without; SIZE_MAX, which no buffer holds, when it would not fit a size.
constexpr size_t hexLength(size_t count, bool separated) {
    if (count > (separated ? SIZE_MAX / 3 : SIZE_MAX / 2)) return SIZE_MAX;
    return count == 0 ? 0 : 2 * count + (separated ? count - 1 : 0);
}

// Writes each byte as two upper-case digits, `separator` between bytes
// unless it is 0, without a NUL; out holds hexLength(count, ...) chars.
// Answers the end of what it wrote.
inline char *writeHex(const unsigned char *bytes, size_t count, char *out, char separator = 0) {
    for (size_t i = 0; i < count; ++i) {
        if (separator && i) *out++ = separator;
        *out++ = hexDigit(bytes[i] >> 4);
        *out++ = hexDigit(bytes[i]);
    }
    return out;
}

// How many of `count` bytes a caller's buffer of `capacity` chars takes
// when a byte is written only while its two digits, a separator (asked for
// even before the first byte) and two chars more remain: room for the NUL
// and one char in reserve, as callers have always sized their buffers.
constexpr size_t hexBytesThatFit(size_t count, size_t capacity, bool separated) {
    const size_t room = separated ? 5 : 4;
    size_t n = 0;
    while (n < count && capacity >= room && hexLength(n, separated) <= capacity - room) ++n;
    return n;
}

// What a reader makes of a character that is not a digit.
enum class NonDigit { Refuse, AsZero };

// Reads the rest of `text` as digits into `out`, two to a byte, first digit
// high; an odd count of digits leads with its first digit alone. `out`
// holds (text.remaining() + 1) / 2 bytes; `written` receives the count
// written. With NonDigit::Refuse, false at the first byte holding a
// character that is not a digit, the bytes before it written.
inline bool readHex(ByteCursor text, unsigned char *out, size_t *written,
                    NonDigit nonDigit = NonDigit::Refuse) {
    size_t n = 0;
    bool alone = text.remaining() % 2 != 0;
    while (!text.empty()) {
        int high = alone ? 0 : hexValue(text.next());
        int low = hexValue(text.next());
        alone = false;
        if (high < 0 || low < 0) {
            if (nonDigit == NonDigit::Refuse) {
                *written = n;
                return false;
            }
            high = high < 0 ? 0 : high;
            low = low < 0 ? 0 : low;
        }
        out[n++] = static_cast<unsigned char>(high << 4 | low);
    }
    *written = n;
    return true;
}

}  // namespace tq

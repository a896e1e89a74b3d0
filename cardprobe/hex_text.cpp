#include <cstring>

#include "byte_cursor.h"
#include "card_access.h"

namespace {
int hexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
bool endsItem(uint8_t c) { return c == ':' || c == ' ' || c == '.'; }
}  // namespace

int ParseHexBytes(const char *text, uint8_t *out, size_t *count) {
    if (!text || !out || !count) {
        if (count) *count = 0;
        return TQ_RTN_BAD_ARGUMENT;
    }
    const size_t capacity = *count;
    size_t stored = 0;
    // The cursor ends at the terminating NUL, so a '.' at the very end cannot
    // skip past it.
    ByteCursor cursor(text, std::strlen(text));
    while (!cursor.atEnd()) {
        unsigned value = 0;
        if (cursor.peek() == '.') {
            // The '.' and the character after it.
            cursor.skip(2);
            value = 0xF0;
        }
        for (int digits = 0; digits < 2 && !cursor.atEnd() && !endsItem(cursor.peek()); ++digits) {
            const int digit = hexDigit(cursor.peek());
            if (digit < 0) {
                *count = stored;
                return TQ_RTN_BAD_ARGUMENT;
            }
            value = (value << 4) + static_cast<unsigned>(digit);
            cursor.skip(1);
        }
        cursor.skipIf(':');
        cursor.skipIf(' ');
        if (stored == capacity) {
            *count = stored;
            return TQ_RTN_BUFFER_TOO_SMALL;
        }
        out[stored++] = static_cast<uint8_t>(value & 0xFF);
    }
    *count = stored;
    return TQSC_RTN_SUCCESS;
}

// Base64 with 64-character lines and on a single line, and its decoder.
#include <cstring>

#include "encoding_internal.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';

// Built at compile time: no first-use race between threads.
struct ReverseTable {
    short value[256];
    constexpr ReverseTable() : value() {
        for (int i = 0; i < 256; ++i) value[i] = -1;
        for (int i = 0; i < 64; ++i) value[static_cast<unsigned char>(kAlphabet[i])] = static_cast<short>(i);
    }
};
constexpr ReverseTable kReverse;

size_t groupsLength(size_t n) { return (n + 2) / 3 * 4; }

size_t linedLength(size_t n) {
    size_t c = groupsLength(n);
    return c + (c + 63) / 64;
}

// Writes the groups of `data`; with `lines` a line feed after every 64
// characters and after the last one. Returns the characters written.
size_t writeGroups(const unsigned char *data, size_t n, char *out, bool lines) {
    size_t w = 0, column = 0, i = 0;
    auto put = [&](char c) {
        if (lines && column == 64) {
            out[w++] = '\n';
            column = 0;
        }
        out[w++] = c;
        ++column;
    };
    for (; i + 3 <= n; i += 3) {
        put(kAlphabet[data[i] >> 2]);
        put(kAlphabet[((data[i] & 3) << 4) | (data[i + 1] >> 4)]);
        put(kAlphabet[((data[i + 1] & 15) << 2) | (data[i + 2] >> 6)]);
        put(kAlphabet[data[i + 2] & 63]);
    }
    if (i < n) {
        unsigned b0 = data[i], b1 = i + 1 < n ? data[i + 1] : 0;
        put(kAlphabet[b0 >> 2]);
        put(kAlphabet[((b0 & 3) << 4) | (b1 >> 4)]);
        put(i + 1 < n ? kAlphabet[(b1 & 15) << 2] : kPad);
        put(kPad);
    }
    if (lines && w > 0) out[w++] = '\n';
    return w;
}

int encode(const unsigned char *data, int length, char **text, int *textLength, bool lines) {
    if (!text || !textLength || length < 0 || (length > 0 && !data)) return TQ_RTN_BAD_ARGUMENT;
    size_t n = static_cast<size_t>(length);
    size_t needed = lines ? linedLength(n) : groupsLength(n);
    if (needed > static_cast<size_t>(INT_MAX) - 1) return TQ_RTN_BAD_ARGUMENT;
    bool allocated = false;
    if (!*text) {
        *text = static_cast<char *>(TQCryptMemAlloc(needed + 1));
        if (!*text) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        std::memset(*text, 0, needed + 1);
        allocated = true;
    } else if (*textLength < 0 || static_cast<size_t>(*textLength) < needed) {
        *textLength = static_cast<int>(needed);
        return TQ_RTN_BUFFER_TOO_SMALL;
    }
    size_t written = writeGroups(data, n, *text, lines);
    // The single-line form ends with a NUL where the buffer has room for it.
    if (!lines && (allocated || static_cast<size_t>(*textLength) > written)) (*text)[written] = 0;
    *textLength = static_cast<int>(written);
    return TQ_RTN_OK;
}

bool isLineBreak(int c) { return c == '\n' || c == '\r'; }

}  // namespace

extern "C" {

int tqbase64_encode(const unsigned char *data, int length, char **text, int *textLength) try {
    return encode(data, length, text, textLength, true);
}
TQ_CATCH_CODE

int tqbase64_encode_ex(const unsigned char *data, int length, char **text, int *textLength) try {
    return encode(data, length, text, textLength, false);
}
TQ_CATCH_CODE

int tqbase64_decode(const char *text, int length, unsigned char **data, int *dataLength) try {
    if (!data || !dataLength || length < 0 || (length > 0 && !text)) return TQ_RTN_BAD_ARGUMENT;

    // Size the result: every character but CR and LF counts; at most two
    // '=' may close the text.
    tq::ByteCursor all(text, static_cast<size_t>(length));
    size_t counted = 0, pad = 0;
    for (tq::ByteCursor c = all; !c.empty();) {
        int ch = c.next();
        if (isLineBreak(ch)) continue;
        ++counted;
        pad = ch == kPad ? pad + 1 : 0;
    }
    if (counted % 4 != 0 || pad > 2) return TQ_RTN_BAD_BASE64;
    size_t needed = counted / 4 * 3 - (counted ? pad : 0);

    bool allocated = false;
    unsigned char *out = *data;
    if (!out) {
        out = static_cast<unsigned char *>(TQCryptMemAlloc(needed + 1));
        if (!out) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        std::memset(out, 0, needed + 1);
        allocated = true;
    } else if (*dataLength < 0 || static_cast<size_t>(*dataLength) < needed) {
        *dataLength = static_cast<int>(needed);
        return TQ_RTN_BUFFER_TOO_SMALL;
    }

    // Partial bits wait in `bits` until a byte is complete; nothing is
    // written beyond `needed`.
    size_t written = 0;
    unsigned bits = 0;
    int position = 0;
    bool endedAtPad = false, bad = false;
    for (tq::ByteCursor c = all; !c.empty();) {
        int ch = c.next();
        if (ch == 0) break;
        if (isLineBreak(ch)) continue;
        if (ch == kPad) {
            endedAtPad = true;
            break;
        }
        if (ch == ' ') ch = '+';
        int v = kReverse.value[ch];
        if (v < 0) {
            bad = true;
            break;
        }
        bits = (bits << 6) | static_cast<unsigned>(v);
        if (position > 0) {
            if (written >= needed) {
                bad = true;
                break;
            }
            out[written++] = static_cast<unsigned char>(bits >> (6 - 2 * position));
            bits &= (1u << (6 - 2 * position)) - 1;
        }
        position = (position + 1) % 4;
    }
    if (!bad) bad = endedAtPad ? (position != 2 && position != 3) : position != 0;
    if (bad) {
        if (allocated) TQCryptMemFree(out);
        return TQ_RTN_BAD_BASE64;
    }
    *data = out;
    *dataLength = static_cast<int>(written);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

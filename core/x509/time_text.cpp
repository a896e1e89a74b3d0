// Time text: an ASN.1 time as "YYYYMMDDhhmmss+hhmm", the offset as stored.
#include "x509_internal.h"

namespace {

// Ranges of year (two digits), month, day, hour, minute, second, offset
// hours and offset minutes.
constexpr int kLow[8] = {0, 1, 1, 0, 0, 0, 0, 0};
constexpr int kHigh[8] = {99, 12, 31, 23, 59, 59, 12, 59};

bool twoDigits(tq::ByteCursor &in, int field, int *value) {
    int a = in.next(), b = in.next();
    if (a < '0' || a > '9' || b < '0' || b > '9') return false;
    *value = (a - '0') * 10 + (b - '0');
    return *value >= kLow[field] && *value <= kHigh[field];
}

void put2(char *out, int value) {
    out[0] = static_cast<char>('0' + value / 10);
    out[1] = static_cast<char>('0' + value % 10);
}

bool isZone(int c) { return c == 'Z' || c == '+' || c == '-'; }

}  // namespace

extern "C" {

int tqxGetCertTimeFormat(ASN1_TIME *time, int, char *text) try {
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    if (!time) return TQ_RTN_BAD_FORMAT;
    const unsigned char *data = ASN1_STRING_get0_data(time);
    const size_t n = static_cast<size_t>(ASN1_STRING_length(time));
    tq::ByteCursor in(data, n);
    int century;
    auto digit = [&](size_t at) { return at < n && data[at] >= '0' && data[at] <= '9'; };
    switch (ASN1_STRING_type(time)) {
    case V_ASN1_UTCTIME:
        if (n < 11 || !digit(0) || !digit(1)) return TQ_RTN_BAD_FORMAT;
        century = (data[0] - '0') * 10 + (data[1] - '0') >= 50 ? 1900 : 2000;
        break;
    case V_ASN1_GENERALIZEDTIME:
        if (n < 13 || !digit(0) || !digit(1)) return TQ_RTN_BAD_FORMAT;
        century = ((data[0] - '0') * 10 + (data[1] - '0')) * 100;
        in.skip(2);
        break;
    default:
        return TQ_RTN_BAD_FORMAT;
    }
    int fields[8] = {0};
    for (int f = 0; f < 6; ++f) {
        // Only the seconds may be left out.
        if (f == 5 && isZone(in.peek())) break;
        if (!twoDigits(in, f, &fields[f])) return TQ_RTN_BAD_FORMAT;
    }
    char sign = '+';
    int c = in.peek();
    if (c == 'Z') {
        in.next();
    } else if (c == '+' || c == '-') {
        sign = static_cast<char>(in.next());
        if (in.remaining() < 4 || !twoDigits(in, 6, &fields[6]) || !twoDigits(in, 7, &fields[7]))
            return TQ_RTN_BAD_FORMAT;
    }
    if (!in.empty()) return TQ_RTN_BAD_FORMAT;
    // "%04d%02d%02d%02d%02d%02d%c%02d%02d", written only once the whole time
    // has been read, and never past its 20 bytes.
    char out[TQXCRYPT_TIME_TEXT_SIZE];
    int year = century + fields[0];
    put2(out, year / 100);
    put2(out + 2, year % 100);
    for (int f = 1; f < 6; ++f) put2(out + 2 * f + 2, fields[f]);
    out[14] = sign;
    put2(out + 15, fields[6]);
    put2(out + 17, fields[7]);
    out[19] = '\0';
    std::memcpy(text, out, sizeof out);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

// Time texts as input: 19 characters a GeneralizedTime, 17 a UTCTime, an
// offset of zero stored in the Z form, any other offset kept as written.
#include "x509_internal.h"

namespace {

int storeTime(ASN1_TIME *time, const char *text, size_t length, int (*set)(ASN1_STRING *, const char *)) {
    if (!time || !text) return TQ_RTN_BAD_ARGUMENT;
    if (std::strlen(text) != length) return TQ_RTN_BAD_FORMAT;
    // Digits, and the offset's sign before its four digits: the library's
    // setter alone would also take forms no reader reads back (fractional
    // seconds in as many characters).
    const size_t sign = length - 5;
    for (size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (i == sign ? c != '+' && c != '-' : c < '0' || c > '9') return TQ_RTN_BAD_FORMAT;
    }
    char copy[TQXCRYPT_TIME_TEXT_SIZE];
    std::memcpy(copy, text, length + 1);
    if (std::memcmp(copy + sign + 1, "0000", 4) == 0) {
        copy[sign] = 'Z';
        copy[sign + 1] = '\0';
    }
    // The library's setter checks the field ranges and the offset.
    return set(time, copy) == 1 ? TQ_RTN_OK : TQ_RTN_BAD_FORMAT;
}

int setGeneralized(ASN1_STRING *time, const char *text) {
    return ASN1_GENERALIZEDTIME_set_string(time, text);
}
int setUtc(ASN1_STRING *time, const char *text) { return ASN1_UTCTIME_set_string(time, text); }

}  // namespace

extern "C" {

int tqxCryptSetGeneralTime(ASN1_TIME *time, const char *text) try {
    return storeTime(time, text, 19, setGeneralized);
}
TQ_CATCH_CODE

int tqxCryptSetUTCTime(ASN1_TIME *time, const char *text) try { return storeTime(time, text, 17, setUtc); }
TQ_CATCH_CODE

}  // extern "C"

namespace tq {

int timeFromText(const char *text, Asn1TimePtr &out) {
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    size_t n = std::strlen(text);
    if (n != 19 && n != 17) return TQ_RTN_BAD_FORMAT;
    Asn1TimePtr time(ASN1_TIME_new());
    if (!time) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    int rc = n == 19 ? tqxCryptSetGeneralTime(time.get(), text) : tqxCryptSetUTCTime(time.get(), text);
    if (rc != TQ_RTN_OK) return rc;
    out = std::move(time);
    return TQ_RTN_OK;
}

}  // namespace tq

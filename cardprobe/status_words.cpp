#include "result_codes.h"

int MapStatusWord(uint8_t sw1, uint8_t sw2) {
    if (sw1 == 0x90 && sw2 == 0x00) return TQSC_RTN_SUCCESS;
    if (sw1 == 0x61) return TQSC_RTN_SW_MORE_DATA;
#define TQSC_SW_CASE(s1, s2, result) \
    if (sw1 == (s1) && sw2 == (s2)) return result;
    TQSC_STATUS_WORDS(TQSC_SW_CASE)
#undef TQSC_SW_CASE
    return TQSC_RTN_SW_UNKNOWN;
}

const char *TQSCResultName(int code) {
    switch (code) {
#define TQSC_NAME_CASE(name, number) \
    case number:                     \
        return #name;
        TQSC_RESULT_CODES(TQSC_NAME_CASE)
#undef TQSC_NAME_CASE
    }
    return nullptr;
}

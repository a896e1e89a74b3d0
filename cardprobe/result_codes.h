// Result codes of cardprobe and the status-word table, each written once.
#pragma once
#include <cstdint>

// name, number
#define TQSC_RESULT_CODES(X)                       \
    X(TQSC_RTN_SUCCESS, 0)                         \
    X(TQSC_RTN_CONTEXT_FAILED, 10)                 \
    X(TQSC_RTN_LIST_READERS_FAILED, 11)            \
    X(TQSC_RTN_CARD_FAILED, 14)                    \
    X(TQ_RTN_MEMORY_ALLOCATE_FAIL, 5002)           \
    X(TQ_RTN_BUFFER_TOO_SMALL, 5003)               \
    X(TQ_RTN_BAD_ARGUMENT, 5005)                   \
    X(TQSC_RTN_TRANSMIT_FAILED, 25014)             \
    X(TQSC_RTN_SW_INCORRECT_P1P2, 25005)           \
    X(TQSC_RTN_SW_UNKNOWN, 25021)                  \
    X(TQSC_RTN_SW_NOT_FOUND, 25022)                \
    X(TQSC_RTN_SW_MORE_DATA, 25023)                \
    X(TQSC_RTN_SW_INS_NOT_SUPPORTED, 25024)        \
    X(TQSC_RTN_SW_FUNCTION_NOT_SUPPORTED, 25025)   \
    X(TQSC_RTN_SW_6BB2, 25042)                     \
    X(TQSC_RTN_SW_6BB3, 25043)                     \
    X(TQSC_RTN_SW_6BB4, 25044)                     \
    X(TQSC_RTN_SW_6BB6, 25050)                     \
    X(TQSC_RTN_SW_6BA1, 25051)                     \
    X(TQSC_RTN_SW_9C01, 25053)                     \
    X(TQSC_RTN_SW_9C03, 25054)                     \
    X(TQSC_RTN_SW_VERIFY_FAILED, 26002)            \
    X(TQSC_RTN_SW_SECURITY_NOT_SATISFIED, 26003)   \
    X(TQSC_RTN_SW_CONDITIONS_NOT_SATISFIED, 26005) \
    X(TQSC_RTN_SW_WRONG_DATA, 26006)

enum TqscResult : int {
#define TQSC_ENUM_ENTRY(name, number) name = number,
    TQSC_RESULT_CODES(TQSC_ENUM_ENTRY)
#undef TQSC_ENUM_ENTRY
};

// SW1, SW2, result. 90 00 and 61 xx are decided before the table is read;
// every status word not listed is TQSC_RTN_SW_UNKNOWN.
#define TQSC_STATUS_WORDS(X)                            \
    X(0x63, 0x00, TQSC_RTN_SW_VERIFY_FAILED)            \
    X(0x69, 0x82, TQSC_RTN_SW_SECURITY_NOT_SATISFIED)   \
    X(0x69, 0x85, TQSC_RTN_SW_CONDITIONS_NOT_SATISFIED) \
    X(0x6A, 0x80, TQSC_RTN_SW_WRONG_DATA)               \
    X(0x6A, 0x81, TQSC_RTN_SW_FUNCTION_NOT_SUPPORTED)   \
    X(0x6A, 0x82, TQSC_RTN_SW_NOT_FOUND)                \
    X(0x6A, 0x86, TQSC_RTN_SW_INCORRECT_P1P2)           \
    X(0x6A, 0x88, TQSC_RTN_SW_NOT_FOUND)                \
    X(0x6B, 0xA1, TQSC_RTN_SW_6BA1)                     \
    X(0x6B, 0xB2, TQSC_RTN_SW_6BB2)                     \
    X(0x6B, 0xB3, TQSC_RTN_SW_6BB3)                     \
    X(0x6B, 0xB4, TQSC_RTN_SW_6BB4)                     \
    X(0x6B, 0xB6, TQSC_RTN_SW_6BB6)                     \
    X(0x6D, 0x00, TQSC_RTN_SW_INS_NOT_SUPPORTED)        \
    X(0x9C, 0x01, TQSC_RTN_SW_9C01)                     \
    X(0x9C, 0x03, TQSC_RTN_SW_9C03)

int MapStatusWord(uint8_t sw1, uint8_t sw2);

// The name of a result code, or null for a number that is none of ours
// (a raw PC/SC status, for instance).
const char *TQSCResultName(int code);

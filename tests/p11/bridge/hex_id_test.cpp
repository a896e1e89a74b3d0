// CKA_ID texts as callers write them: lenient hexadecimal.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testutil.h"
#include "tqxp11bridge.h"

namespace {

using tqtest::Bytes;

int g_allocations = 0;
bool g_fail = false;
void *countingAlloc(size_t n) {
    ++g_allocations;
    return g_fail ? nullptr : std::malloc(n);
}
void *plainRealloc(void *p, size_t n) { return std::realloc(p, n); }
struct CountedAllocations {
    explicit CountedAllocations(bool fail) {
        g_allocations = 0;
        g_fail = fail;
        TQCryptSetMemCallBack(countingAlloc, plainRealloc, std::free);
    }
    ~CountedAllocations() { TQCryptSetMemCallBack(nullptr, nullptr, nullptr); }
};

TEST(BridgeHexId, DigitValues) {
    const char *digits = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(TQXP11Crypt_HexToInt(digits[i]), i) << digits[i];
        EXPECT_EQ(TQXP11Crypt_HexToInt(static_cast<char>(std::toupper(digits[i]))), i) << digits[i];
    }
    for (char c : {'g', 'G', 'x', ' ', ':', '\0', '\xff', '/', '@', '`'})
        EXPECT_EQ(TQXP11Crypt_HexToInt(c), 0) << int(c);
}

TEST(BridgeHexId, DecodesLeniently) {
    struct Case {
        const char *text;
        int length;
        Bytes expected;
    } const cases[] = {
        {"0a1B", 4, {0x0a, 0x1b}},
        {"FFee00", 6, {0xff, 0xee, 0x00}},
        {"abc", 3, {0xab}},         // the odd last character is dropped
        {"zz12", 4, {0x00, 0x12}},  // not digits: 0, without an error
        {"1g", 2, {0x10}},
        {"0a1b", 2, {0x0a}},  // the given length, not the text's
        {"", 0, {}},
        {"7", 1, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        unsigned char *bytes = nullptr;
        int count = -1;
        ASSERT_EQ(TQXP11Crypt_HexDecode(c.text, c.length, &bytes, &count), 0);
        ASSERT_NE(bytes, nullptr);
        EXPECT_EQ(Bytes(bytes, bytes + count), c.expected);
        EXPECT_EQ(bytes[count], 0);  // one zero byte beyond the count
        TQCryptMemFree(bytes);
    }
}

TEST(BridgeHexId, RefusalsAllocateNothing) {
    unsigned char *bytes = nullptr;
    int count = 0;
    {
        CountedAllocations counted(false);
        EXPECT_EQ(TQXP11Crypt_HexDecode("0a", -1, &bytes, &count), TQ_RTN_BAD_ARGUMENT);
        EXPECT_EQ(TQXP11Crypt_HexDecode("0a", -2, &bytes, &count), TQ_RTN_BAD_ARGUMENT);
        EXPECT_EQ(TQXP11Crypt_HexDecode(nullptr, 2, &bytes, &count), TQ_RTN_MEMORY_ALLOCATE_FAIL);
        EXPECT_EQ(TQXP11Crypt_HexDecode("0a", 2, nullptr, &count), TQ_RTN_BAD_ARGUMENT);
        EXPECT_EQ(TQXP11Crypt_HexDecode("0a", 2, &bytes, nullptr), TQ_RTN_BAD_ARGUMENT);
        EXPECT_EQ(g_allocations, 0);
    }
    EXPECT_EQ(bytes, nullptr);
    {
        CountedAllocations failing(true);
        EXPECT_EQ(TQXP11Crypt_HexDecode("0a", 2, &bytes, &count), TQ_RTN_MEMORY_ALLOCATE_FAIL);
        EXPECT_EQ(g_allocations, 1);
    }
    EXPECT_EQ(bytes, nullptr);
}

TEST(BridgeHexId, EncodesUpperCaseAndRoundTrips) {
    const Bytes bytes = {0x00, 0xab, 0x7f, 0x10, 0xff};
    char *text = nullptr;
    int length = 0;
    ASSERT_EQ(TQXP11Crypt_HexEncode(bytes.data(), static_cast<int>(bytes.size()), &text, &length), TQ_RTN_OK);
    EXPECT_EQ(std::string(text), "00AB7F10FF");
    EXPECT_EQ(length, 10);
    unsigned char *back = nullptr;
    int count = 0;
    ASSERT_EQ(TQXP11Crypt_HexDecode(text, length, &back, &count), TQ_RTN_OK);
    EXPECT_EQ(Bytes(back, back + count), bytes);
    TQCryptMemFree(back);
    TQCryptMemFree(text);
    text = nullptr;
    EXPECT_EQ(TQXP11Crypt_HexEncode(bytes.data(), -1, &text, &length), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXP11Crypt_HexEncode(bytes.data(), 0x40000000, &text, &length), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(text, nullptr);
    {
        CountedAllocations failing(true);
        EXPECT_EQ(TQXP11Crypt_HexEncode(bytes.data(), 2, &text, &length), TQ_RTN_MEMORY_ALLOCATE_FAIL);
    }
    EXPECT_EQ(text, nullptr);
}

}  // namespace

// The parts of card access that need no PC/SC service.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "card_access.h"
#include "text_convert.h"

namespace {

struct HexCase {
    const char *text;
    size_t capacity;
    int code;
    std::vector<uint8_t> bytes;
};

TEST(CardprobeHexText, ParsesAidTexts) {
    const HexCase cases[] = {
        {"A0 00 00", 128, 0, {0xA0, 0x00, 0x00}},
        {"A0:00:00", 128, 0, {0xA0, 0x00, 0x00}},
        {"a00000", 128, 0, {0xA0, 0x00, 0x00}},
        {"A0: 00: 00", 128, 0, {0xA0, 0x00, 0x00}},
        {"A00", 128, 0, {0xA0, 0x00}},
        {"A0  00", 128, 0, {0xA0, 0x00, 0x00}},
        {"", 128, 0, {}},
        {"A0.12", 128, 0, {0xA0, 0x02}},
        {"A0.1", 128, 0, {0xA0, 0xF0}},
        {"..", 128, 0, {0xF0}},
        {"A0.", 128, 0, {0xA0, 0xF0}},
        {".", 128, 0, {0xF0}},
        {"A0G1", 128, TQ_RTN_BAD_ARGUMENT, {0xA0}},
        {"A0 0x", 128, TQ_RTN_BAD_ARGUMENT, {0xA0}},
        {"A0 00 00", 2, TQ_RTN_BUFFER_TOO_SMALL, {0xA0, 0x00}},
        {"A0", 0, TQ_RTN_BUFFER_TOO_SMALL, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("text \"") + c.text + "\"");
        // An exact-size heap copy, so reading past the NUL is caught.
        const size_t size = std::strlen(c.text) + 1;
        std::unique_ptr<char[]> text(new char[size]);
        std::memcpy(text.get(), c.text, size);
        std::vector<uint8_t> out(c.capacity + 1, 0xEE);
        size_t count = c.capacity;
        EXPECT_EQ(ParseHexBytes(text.get(), out.data(), &count), c.code);
        ASSERT_EQ(count, c.bytes.size());
        EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + count), c.bytes);
        EXPECT_EQ(out[c.capacity], 0xEE) << "wrote past the capacity";
    }
}

TEST(CardprobeHexText, LongAidStopsAtTheBuffer) {
    std::string text;
    for (int i = 0; i < 129; ++i) text += "A0";
    uint8_t out[kAidCapacity];
    size_t count = sizeof out;
    EXPECT_EQ(ParseHexBytes(text.c_str(), out, &count), TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 128u);
    count = sizeof out;
    EXPECT_EQ(ParseHexBytes(nullptr, out, &count), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(count, 0u);
}

TEST(CardprobeApdu, BuildsCaseOneAndCaseThree) {
    uint8_t out[16];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(BuildApdu(out, sizeof out, 0x00, 0xA4, 0x04, 0x00, nullptr, 0, 0x00), 4u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 5), (std::vector<uint8_t>{0x00, 0xA4, 0x04, 0x00, 0x00}));
    const uint8_t aid[] = {0xA0, 0x00, 0x00, 0x00, 0x03};
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(BuildApdu(out, sizeof out, 0x00, 0xA4, 0x04, 0x00, aid, sizeof aid, 0x00), 10u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 11),
              (std::vector<uint8_t>{0x00, 0xA4, 0x04, 0x00, 0x05, 0xA0, 0x00, 0x00, 0x00, 0x03, 0x00}));
    // Lc, data and the unsent Le must all fit.
    EXPECT_EQ(BuildApdu(out, 10, 0x00, 0xA4, 0x04, 0x00, aid, sizeof aid, 0x00), 0u);
}

TEST(CardprobeCardRecord, ClosingAMissingRecordIsHarmless) {
    // What the ATR path is left with when the record cannot be allocated.
    CloseCardRecord(nullptr);
    TQSC_CARD_RECORD record;
    std::memset(&record, 0xEE, sizeof record);
    InitCardRecord(&record);
    EXPECT_EQ(record.atrLength, 60u);
    EXPECT_EQ(record.readerNameLength, 256u);
    EXPECT_EQ(record.context, 0);
    EXPECT_EQ(record.card, 0);
    EXPECT_EQ(record.pci, nullptr);
}

TEST(CardprobeReaderNames, Utf8ToUtf16) {
    const struct {
        const char *utf8;
        std::u16string wide;
    } cases[] = {
        {"Virtual PCD 00 00", u"Virtual PCD 00 00"},
        {"Lecteur \xC3\xA9", u"Lecteur \u00E9"},
        {"\xE2\x82\xAC \xF0\x9F\x94\x91", u"\u20AC \U0001F511"},
        {"A\xC0\x80"
         "B",
         u"A\uFFFD"
         "B"},                            // overlong NUL
        {"\xE0\x80\xAF", u"\uFFFD"},      // overlong '/'
        {"\xED\xA0\x80", u"\uFFFD"},      // a surrogate
        {"\xC3", u"\uFFFD"},              // cut short
        {"\xF4\x90\x80\x80", u"\uFFFD"},  // past U+10FFFF
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(ReaderNameToUtf16(c.utf8), c.wide);
    }
}

TEST(CardprobeResultCodes, NamesFollowNumbers) {
    EXPECT_STREQ(TQSCResultName(25014), "TQSC_RTN_TRANSMIT_FAILED");
    EXPECT_STREQ(TQSCResultName(25022), "TQSC_RTN_SW_NOT_FOUND");
    EXPECT_EQ(TQSCResultName(static_cast<int>(0x8010001D)), nullptr);
}

}  // namespace

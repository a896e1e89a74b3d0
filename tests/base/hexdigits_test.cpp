// The shared hex reader where no exported caller reaches it: odd counts,
// characters that are not digits under either rule, and a cursor that ends
// before the text does.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "hexdigits.h"
#include "testutil.h"

using tqtest::Bytes;

namespace {

TEST(HexReader, Table) {
    struct Case {
        const char *text;
        size_t length;  // what the cursor sees of the text
        tq::NonDigit nonDigit;
        bool read;
        Bytes bytes;  // written, up to a refused byte
    } const cases[] = {
        {"0a1B", 4, tq::NonDigit::Refuse, true, {0x0a, 0x1b}},
        {"abc", 3, tq::NonDigit::Refuse, true, {0x0a, 0xbc}},  // the odd first digit stands alone
        {"7", 1, tq::NonDigit::Refuse, true, {0x07}},
        {"", 0, tq::NonDigit::Refuse, true, {}},
        {"0A1g22", 6, tq::NonDigit::Refuse, false, {0x0a}},
        {"g12", 3, tq::NonDigit::Refuse, false, {}},
        {"12 4", 4, tq::NonDigit::Refuse, false, {0x12}},
        {"\xff"
         "0",
         2,
         tq::NonDigit::Refuse,
         false,
         {}},
        {"zz12", 4, tq::NonDigit::AsZero, true, {0x00, 0x12}},
        {"g12", 3, tq::NonDigit::AsZero, true, {0x00, 0x12}},
        {"1:", 2, tq::NonDigit::AsZero, true, {0x10}},
        // The cursor's end, not the text's: nothing past it is read.
        {"12345678", 4, tq::NonDigit::Refuse, true, {0x12, 0x34}},
        {"123g", 3, tq::NonDigit::Refuse, true, {0x01, 0x23}},
        {"12\0"
         "34",
         4,
         tq::NonDigit::AsZero,
         true,
         {0x12, 0x03}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.text, c.length));
        unsigned char out[8];
        std::memset(out, 0xEE, sizeof out);
        size_t written = SIZE_MAX;
        EXPECT_EQ(tq::readHex(tq::ByteCursor(c.text, c.length), out, &written, c.nonDigit), c.read);
        ASSERT_EQ(written, c.bytes.size());
        EXPECT_EQ(Bytes(out, out + written), c.bytes);
        // The room the reader asks for, (digits + 1) / 2, is all it touches.
        for (size_t i = (c.length + 1) / 2; i < sizeof out; ++i) EXPECT_EQ(out[i], 0xEE) << i;
    }
}

TEST(HexWriter, LengthsThatNoBufferHoldsSaturate) {
    EXPECT_EQ(tq::hexLength(0, true), 0u);
    EXPECT_EQ(tq::hexLength(3, false), 6u);
    EXPECT_EQ(tq::hexLength(3, true), 8u);
    EXPECT_EQ(tq::hexLength(SIZE_MAX / 2, false), SIZE_MAX - 1);
    EXPECT_EQ(tq::hexLength(SIZE_MAX / 2 + 1, false), SIZE_MAX);
    EXPECT_EQ(tq::hexLength(SIZE_MAX / 3 + 1, true), SIZE_MAX);
}

}  // namespace

// The wiping owner: what it holds is wiped before the free function of its
// allocator sees it, and what it hands on is neither wiped nor freed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "wiping.h"

namespace {

constexpr size_t kBlock = 48;
constexpr unsigned char kSecret = 0xA5;

// What the test's own free function saw: each block, and whether every one
// of its bytes was already zero then.
struct Freed {
    void *block;
    bool wiped;
};
std::vector<Freed> freed;

void inspectingFree(void *block) {
    const auto *bytes = static_cast<const unsigned char *>(block);
    bool zero = true;
    for (size_t i = 0; i < kBlock; ++i) zero = zero && bytes[i] == 0;
    freed.push_back({block, zero});
    std::free(block);
}
using Owner = tq::Wiped<inspectingFree>;

void *secretBlock() {
    void *block = std::malloc(kBlock);
    if (block) std::memset(block, kSecret, kBlock);
    return block;
}

class Wiping : public ::testing::Test {
protected:
    void SetUp() override { freed.clear(); }
};

}  // namespace

TEST_F(Wiping, EveryWayTheBytesGoTheyAreWipedFirstAndFreedOnce) {
    void *a = secretBlock(), *b = secretBlock(), *c = secretBlock(), *d = secretBlock();
    ASSERT_TRUE(a && b && c && d);
    { Owner ended(a, kBlock); }
    {
        Owner replaced(b, kBlock);
        replaced.reset(c, kBlock);
        ASSERT_EQ(freed.size(), 2u);
    }
    {
        Owner from(d, kBlock);
        Owner to(std::move(from));
        Owner assigned;
        assigned = std::move(to);
    }
    ASSERT_EQ(freed.size(), 4u);
    const void *order[] = {a, b, c, d};
    for (size_t i = 0; i < freed.size(); ++i) {
        EXPECT_EQ(freed[i].block, order[i]) << "block " << i;
        EXPECT_TRUE(freed[i].wiped) << "block " << i;
    }
}

TEST_F(Wiping, ReleasedBytesLeaveAsTheyAre) {
    unsigned char *handed = nullptr;
    {
        Owner owner(secretBlock(), kBlock);
        ASSERT_TRUE(owner);
        handed = owner.release();
        EXPECT_FALSE(owner);
    }
    EXPECT_TRUE(freed.empty());
    ASSERT_NE(handed, nullptr);
    for (size_t i = 0; i < kBlock; ++i) ASSERT_EQ(handed[i], kSecret) << "byte " << i;
    std::free(handed);
}

TEST_F(Wiping, ALocalArrayIsWipedWhenItsScopeEnds) {
    unsigned char key[24];
    std::memset(key, kSecret, sizeof key);
    { const tq::Wiped<> wiped(key, sizeof key); }
    for (unsigned char byte : key) ASSERT_EQ(byte, 0);
}

// A module may refuse a null buffer even for no bytes.
TEST_F(Wiping, ScratchIsZeroFilledAndNeverNull) {
    for (size_t n : {size_t{0}, size_t{1}, size_t{4096}}) {
        const tq::Wiped<tq::systemFree> bytes = tq::scratch(n);
        ASSERT_TRUE(bytes) << n;
        EXPECT_EQ(bytes.size(), n);
        for (size_t i = 0; i < n; ++i) ASSERT_EQ(bytes.get()[i], 0) << n << " at " << i;
    }
}

// The NB walker's header reader and path step, and the two-key triple-DES.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include "containers_internal.h"
#include "containers_testutil.h"

using containertest::Bytes;

namespace {

struct HeaderCase {
    const char *label;
    Bytes bytes;
    long available;
    int result;  // 0x80: does not read
    long length;
    int tag;
    size_t headerLength;
};

TEST(ContainersWalker, HeaderReading) {
    const HeaderCase cases[] = {
        {"short", {0x30, 0x03, 1, 2, 3}, 5, 0x20, 3, 16, 2},
        {"primitive", {0x02, 0x01, 5}, 3, 0x00, 1, 2, 2},
        {"context class", {0xA0, 0x00}, 2, 0x20, 0, 0, 2},
        {"long form", {0x04, 0x82, 0x01, 0x00, 9}, 5, 0x00, 256, 4, 4},
        {"four length bytes", {0x04, 0x84, 0, 0, 1, 0, 9}, 7, 0x00, 256, 4, 6},
        {"five length bytes", {0x04, 0x85, 0, 0, 0, 1, 0, 9}, 8, 0x80, 0, 0, 0},
        {"indefinite", {0x30, 0x80, 0, 0}, 4, 0x21, 0, 16, 2},
        {"high tag", {0x1F, 0x81, 0x01, 0x01, 7}, 5, 0x00, 1, 129, 4},
        {"nothing", {}, 0, 0x80, 0, 0, 0},
        {"identifier only", {0x30}, 1, 0x80, 0, 0, 0},
        {"high tag cut short", {0x1F, 0x81}, 2, 0x80, 0, 0, 0},
        {"length bytes cut short", {0x04, 0x82, 0x01}, 3, 0x80, 0, 0, 0},
        {"long form with nothing after", {0x04, 0x81, 0x00}, 3, 0x80, 0, 0, 0},
        {"available below the bytes", {0x30, 0x82, 0x01, 0x00, 1}, 2, 0x80, 0, 0, 0},
    };
    for (const HeaderCase &c : cases) {
        SCOPED_TRACE(c.label);
        const unsigned char *start =
            c.bytes.empty() ? reinterpret_cast<const unsigned char *>("") : c.bytes.data();
        const unsigned char *at = start;
        long length = -1;
        int tag = -1, tagClass = -1;
        EXPECT_EQ(tq::tqxASN1_get_object(&at, &length, &tag, &tagClass, c.available), c.result);
        if (c.result & 0x80) {
            EXPECT_EQ(at, start);
            continue;
        }
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(tag, c.tag);
        EXPECT_EQ(static_cast<size_t>(at - start), c.headerLength);
    }
}

TEST(ContainersWalker, PathSteps) {
    const Bytes two = {0x30, 0x03, 0x02, 0x01, 0x07, 0x13, 0x00};
    int length = -1;
    const unsigned char *at = two.data();
    ASSERT_EQ(tq::checkNBFormat(&at, 7, 16, 0, &length), 0);  // into
    EXPECT_EQ(at, two.data() + 2);
    EXPECT_EQ(length, 3);
    ASSERT_EQ(tq::checkNBFormat(&at, 5, 2, 1, &length), 0);  // over
    EXPECT_EQ(at, two.data() + 5);
    EXPECT_EQ(tq::checkNBFormat(&at, 2, 16, 1, &length), -1);  // another tag
    EXPECT_EQ(at, two.data() + 5);
    ASSERT_EQ(tq::checkNBFormat(&at, 2, 160, 1, &length), 0);  // any tag
    // A declared length beyond what remains, into or over.
    for (int over : {0, 1}) {
        at = two.data();
        EXPECT_EQ(tq::checkNBFormat(&at, 4, 16, over, &length), -1);
        EXPECT_EQ(at, two.data());
    }
    EXPECT_EQ(tq::checkNBFormat(&at, -1, 16, 0, &length), -1);
}

TEST(ContainersWalker, TwoKeyTripleDesEqualsDesEde3WithK1K2K1) {
    const Bytes key = tqtest::randomBytes(16, 1), iv = tqtest::randomBytes(8, 2),
                sealed = tqtest::randomBytes(32, 3);
    Bytes full = key;
    full.insert(full.end(), key.begin(), key.begin() + 8);
    Bytes expected(40);
    int n = 0, m = 0;
    EVP_CIPHER *cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    ASSERT_EQ(EVP_DecryptInit_ex(ctx, cipher, nullptr, full.data(), iv.data()), 1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    ASSERT_EQ(EVP_DecryptUpdate(ctx, expected.data(), &n, sealed.data(), 32), 1);
    ASSERT_EQ(EVP_DecryptFinal_ex(ctx, expected.data() + n, &m), 1);
    expected.resize(32);
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    // In two steps: the IV carries the decryption on.
    Bytes out(32), running = iv;
    ASSERT_EQ(tq::cbc_decrypt_2k(key.data(), running.data(), out.data(), sealed.data(), 16), 1);
    EXPECT_EQ(running, Bytes(sealed.begin() + 8, sealed.begin() + 16));
    ASSERT_EQ(tq::cbc_decrypt_2k(key.data(), running.data(), out.data() + 16, sealed.data() + 16, 16), 1);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(tq::cbc_decrypt_2k(key.data(), running.data(), out.data(), sealed.data(), 12), 0);
}

}  // namespace

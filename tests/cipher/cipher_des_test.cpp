// The one-shot DES call against `openssl enc`, over many random inputs.
#include <gtest/gtest.h>

#include "cipher_testutil.h"
#include "tqxcrypt.h"

using namespace ciphertest;

namespace {

using Output = tqtest::BufferOwner;

int des(int cbc, const Bytes &key, const unsigned char *iv, int ivLength, const Bytes &in, bool encrypt,
        Output *out) {
    return TQXCrypt_DESEncrypt(cbc, key.data(), static_cast<int>(key.size()), iv, ivLength, in.data(),
                               static_cast<int>(in.size()), &out->data, &out->length, encrypt ? 1 : 0);
}

struct KeyForm {
    const char *label;
    size_t keyLength;
    int cbc;
    const char *peer;
};
const KeyForm kForms[] = {
    {"des cbc", 8, 1, "des-cbc"},
    {"des ecb", 8, 0, "des-ecb"},
    {"two-key triple-des", 16, 0, "des-ede3-cbc"},
    {"three-key triple-des", 24, 1, "des-ede3-cbc"},
    {"the first 24 of a longer key", 40, 1, "des-ede3-cbc"},
};

// The key openssl is given for a form.
Bytes peerKey(const Bytes &key) {
    if (key.size() == 8) return key;
    Bytes full(key.begin(), key.begin() + (key.size() == 16 ? 16 : 24));
    if (key.size() == 16) full.insert(full.end(), key.begin(), key.begin() + 8);
    return full;
}

TEST(CipherDes, BothWaysAgainstOpensslOverRandomInputs) {
    uint32_t seed = 100;
    for (const KeyForm &f : kForms) {
        SCOPED_TRACE(f.label);
        for (int i = 0; i < 12; ++i) {
            Bytes key = tqtest::randomBytes(f.keyLength, seed++);
            Bytes iv = tqtest::randomBytes(8, seed++);
            size_t length = tqtest::randomBytes(1, seed++)[0] % 70;
            Bytes plain = tqtest::randomBytes(length, seed++);
            SCOPED_TRACE(plain.size());
            const bool chained = f.keyLength != 8 || f.cbc;
            Bytes peerIv = chained ? iv : Bytes();
            Output sealed, opened;
            ASSERT_EQ(des(f.cbc, key, iv.data(), 8, plain, true, &sealed), TQ_RTN_OK);
            Bytes expected = opensslEnc(f.peer, peerKey(key), peerIv, plain, false, false);
            ASSERT_EQ(sealed.bytes(), expected);
            // Decryption keeps the padding in place.
            ASSERT_EQ(des(f.cbc, key, iv.data(), 8, expected, false, &opened), TQ_RTN_OK);
            EXPECT_EQ(opened.bytes(), opensslEnc(f.peer, peerKey(key), peerIv, expected, true, true));
            Bytes padded = plain;
            padded.resize(expected.size(), static_cast<unsigned char>(expected.size() - plain.size()));
            EXPECT_EQ(opened.bytes(), padded);
            // Any whole blocks decrypt, whatever their last byte.
            Bytes noise = tqtest::randomBytes(8 * (1 + i % 4), seed++);
            noise.back() = 0;
            Output raw;
            ASSERT_EQ(des(f.cbc, key, iv.data(), 8, noise, false, &raw), TQ_RTN_OK);
            EXPECT_EQ(raw.bytes(), opensslEnc(f.peer, peerKey(key), peerIv, noise, true, true));
        }
    }
}

TEST(CipherDes, IvAndKeyLengths) {
    Bytes key = tqtest::randomBytes(24, 1), iv = tqtest::randomBytes(16, 2),
          plain = tqtest::randomBytes(20, 3);
    Output a, b;
    // No IV: zeros; a longer IV: its first eight bytes.
    ASSERT_EQ(des(1, key, nullptr, 0, plain, true, &a), TQ_RTN_OK);
    EXPECT_EQ(a.bytes(), opensslEnc("des-ede3-cbc", key, Bytes(8, 0), plain, false, false));
    ASSERT_EQ(des(1, key, iv.data(), 16, plain, true, &b), TQ_RTN_OK);
    EXPECT_EQ(b.bytes(),
              opensslEnc("des-ede3-cbc", key, Bytes(iv.begin(), iv.begin() + 8), plain, false, false));
    Output c;
    ASSERT_EQ(des(1, key, iv.data(), 0, plain, true, &c), TQ_RTN_OK);
    EXPECT_EQ(c.bytes(), b.bytes());
    Output ecb;
    ASSERT_EQ(des(0, Bytes(key.begin(), key.begin() + 8), iv.data(), 3, plain, true, &ecb), TQ_RTN_OK);

    struct Case {
        const char *label;
        size_t keyLength;
        bool nullKey;
        int ivLength;
        bool nullIv;
        int inputLength;
        bool nullInput;
        int expected;
    };
    const Case cases[] = {
        {"7-byte key", 7, false, 8, false, 20, false, TQ_RTN_BAD_ARGUMENT},
        {"20-byte key", 20, false, 8, false, 20, false, TQ_RTN_BAD_ARGUMENT},
        {"null key", 8, true, 8, false, 20, false, TQ_RTN_BAD_ARGUMENT},
        {"iv of 4 bytes", 24, false, 4, false, 20, false, TQ_RTN_BAD_ARGUMENT},
        {"iv of 7 bytes", 16, false, 7, false, 20, false, TQ_RTN_BAD_ARGUMENT},
        {"null iv with a length", 24, false, 8, true, 20, false, TQ_RTN_BAD_ARGUMENT},
        {"negative iv length", 24, false, -1, false, 20, false, TQ_RTN_BAD_ARGUMENT},
        {"negative input length", 24, false, 8, false, -1, false, TQ_RTN_BAD_ARGUMENT},
        {"null input with a length", 24, false, 8, false, 20, true, TQ_RTN_BAD_ARGUMENT},
        {"empty input", 24, false, 8, false, 0, true, TQ_RTN_OK},
    };
    Bytes longKey = tqtest::randomBytes(24, 4);
    for (const Case &k : cases) {
        SCOPED_TRACE(k.label);
        Output out;
        int rc = TQXCrypt_DESEncrypt(1, k.nullKey ? nullptr : longKey.data(), static_cast<int>(k.keyLength),
                                     k.nullIv ? nullptr : iv.data(), k.ivLength,
                                     k.nullInput ? nullptr : plain.data(), k.inputLength, &out.data,
                                     &out.length, 1);
        EXPECT_EQ(rc, k.expected);
        if (rc == TQ_RTN_OK) {
            EXPECT_EQ(out.length, 8);
        }
    }
    int length = 0;
    unsigned char *data = nullptr;
    EXPECT_EQ(TQXCrypt_DESEncrypt(1, key.data(), 24, iv.data(), 8, plain.data(), 20, nullptr, &length, 1),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_DESEncrypt(1, key.data(), 24, iv.data(), 8, plain.data(), 20, &data, nullptr, 1),
              TQ_RTN_BAD_ARGUMENT);
    // Decrypting a partial block fails.
    Output partial;
    EXPECT_EQ(des(1, key, iv.data(), 8, plain, false, &partial), TQ_RTN_ENCRYPT_FAILED);
}

}  // namespace

// Raw-key cipher handles against `openssl enc`, and the codes of the handle
// calls.
#include <gtest/gtest.h>

#include <climits>

#include "cipher_testutil.h"
#include "tqxcrypt.h"
#include "tqxcrypt_keys.h"

using namespace ciphertest;
using tqtest::HandleOwner;

namespace {

struct RawCase {
    const char *label;
    int algorithm;
    int flags;  // mode bits
    size_t keyLength;
    const char *peer;  // openssl enc cipher
    size_t ivLength;
};

const RawCase kRawCases[] = {
    {"des default", TQXCRYPT_ALG_DEFAULT, 0, 8, "des-cbc", 8},
    {"des cbc", TQXCRYPT_ALG_DES, TQXCRYPT_MODE_CBC, 8, "des-cbc", 8},
    {"des ecb", TQXCRYPT_ALG_DES, TQXCRYPT_MODE_ECB, 8, "des-ecb", 8},
    {"des3 cbc", TQXCRYPT_ALG_DES3, 0, 24, "des-ede3-cbc", 8},
    {"des3 ecb", TQXCRYPT_ALG_DES3, TQXCRYPT_MODE_ECB, 24, "des-ede3", 8},
    {"des3 two-key cbc", TQXCRYPT_ALG_DES3, TQXCRYPT_MODE_CBC, 16, "des-ede3-cbc", 8},
    {"des3 two-key ecb", TQXCRYPT_ALG_DES3, TQXCRYPT_MODE_ECB, 16, "des-ede3", 8},
    {"rc4", TQXCRYPT_ALG_RC4, 0, 16, "rc4", 0},
    {"rc4 ignores mode 0x30", TQXCRYPT_ALG_RC4, TQXCRYPT_MODE_MASK, 16, "rc4", 0},
};

// The key openssl is given: a two-key key as k1 k2 k1.
Bytes peerKey(const Bytes &key) {
    if (key.size() != 16) return key;
    Bytes full = key;
    full.insert(full.end(), key.begin(), key.begin() + 8);
    return full;
}

TEST(CipherStreaming, RawKeysMatchOpensslEncOverSeveralUpdates) {
    uint32_t seed = 1;
    for (const RawCase &c : kRawCases) {
        SCOPED_TRACE(c.label);
        Bytes key = tqtest::randomBytes(c.keyLength, seed++);
        Bytes iv = tqtest::randomBytes(c.ivLength, seed++);
        Bytes otherIv = tqtest::randomBytes(c.ivLength, seed++);
        HandleOwner h;
        ASSERT_EQ(TQXCrypt_CreateKey(c.algorithm, key.data(), static_cast<int>(key.size()), iv.data(),
                                     static_cast<int>(iv.size()), c.flags, h.out()),
                  TQ_RTN_OK);
        const bool block = c.ivLength != 0;
        for (size_t length : {0, 1, 7, 8, 15, 16, 100}) {
            SCOPED_TRACE(length);
            Bytes plain = tqtest::randomBytes(length, seed++);
            for (bool noPadding : {false, true}) {
                if (noPadding && block && length % 8) continue;
                const int flags = noPadding ? TQXCRYPT_NO_PADDING : 0;
                // Default IV, then an init IV that replaces it.
                for (const Bytes *useIv : {&iv, &otherIv}) {
                    const unsigned char *given = useIv == &iv ? nullptr : useIv->data();
                    Bytes expected = opensslEnc(c.peer, peerKey(key), *useIv, plain, false, noPadding);
                    Bytes ours;
                    ASSERT_EQ(runOperation(h.get(), true, given, flags, plain, {3, 5, 1}, &ours), TQ_RTN_OK);
                    EXPECT_EQ(ours, expected);
                    Bytes back;
                    ASSERT_EQ(runOperation(h.get(), false, given, flags, expected, {9, 2}, &back), TQ_RTN_OK);
                    EXPECT_EQ(back, plain);
                }
            }
        }
    }
}

TEST(CipherStreaming, PaddingCountsAndIncompleteBlocks) {
    Bytes key = tqtest::randomBytes(8, 7), iv = tqtest::randomBytes(8, 8);
    HandleOwner h;
    ASSERT_EQ(TQXCrypt_CreateKey(TQXCRYPT_ALG_DES, key.data(), 8, iv.data(), 8, 0, h.out()), TQ_RTN_OK);
    Bytes plain = tqtest::randomBytes(16, 9), out;
    ASSERT_EQ(runOperation(h.get(), true, nullptr, 0, plain, {}, &out), TQ_RTN_OK);
    EXPECT_EQ(out.size(), 24u);
    ASSERT_EQ(runOperation(h.get(), true, nullptr, TQXCRYPT_NO_PADDING, plain, {}, &out), TQ_RTN_OK);
    EXPECT_EQ(out.size(), 16u);

    // A no-padding final with 15 bytes fed gives 5005 and leaves the
    // operation running: one more byte completes it.
    unsigned char buffer[64];
    int n = 0;
    ASSERT_EQ(TQXCrypt_EncryptInit(h.get(), nullptr, TQXCRYPT_NO_PADDING), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_EncryptUpdate(h.get(), plain.data(), 15, buffer, &n), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_EncryptFinal(h.get(), buffer + n, &n, TQXCRYPT_NO_PADDING), TQ_RTN_BAD_ARGUMENT);
    ASSERT_EQ(TQXCrypt_EncryptUpdate(h.get(), plain.data() + 15, 1, buffer, &n), TQ_RTN_OK);
    EXPECT_EQ(n, 8);
    EXPECT_EQ(TQXCrypt_EncryptFinal(h.get(), buffer, &n, TQXCRYPT_NO_PADDING), TQ_RTN_OK);
    EXPECT_EQ(n, 0);

    // An earlier no-padding init does not carry over: 3.0 keeps the flag.
    ASSERT_EQ(runOperation(h.get(), true, nullptr, 0, plain, {}, &out), TQ_RTN_OK);
    EXPECT_EQ(out.size(), 24u);

    // A last block without valid padding fails in the final step.
    Bytes random = tqtest::randomBytes(16, 10);
    random[15] = 0;  // never a padding byte
    Bytes bad = opensslEnc("des-cbc", key, iv, random, false, true);
    EXPECT_EQ(runOperation(h.get(), false, nullptr, 0, bad, {}, &out), TQ_RTN_DECRYPT_FAILED);
}

TEST(CipherStreaming, UpdatesAndFinalsNeedARunningOperationOfTheirDirection) {
    Bytes key = tqtest::randomBytes(24, 11), iv = tqtest::randomBytes(8, 12);
    HandleOwner h;
    ASSERT_EQ(TQXCrypt_CreateKey(TQXCRYPT_ALG_DES3, key.data(), 24, iv.data(), 8, 0, h.out()), TQ_RTN_OK);
    unsigned char in[16] = {0}, out[64];
    int n = 0;
    EXPECT_EQ(TQXCrypt_EncryptUpdate(h.get(), in, 16, out, &n), TQ_RTN_ENCRYPT_FAILED);
    EXPECT_EQ(TQXCrypt_DecryptUpdate(h.get(), in, 16, out, &n), TQ_RTN_DECRYPT_FAILED);
    EXPECT_EQ(TQXCrypt_EncryptFinal(h.get(), out, &n, 0), TQ_RTN_ENCRYPT_FAILED);
    EXPECT_EQ(TQXCrypt_DecryptFinal(h.get(), out, &n, 0), TQ_RTN_DECRYPT_FAILED);
    ASSERT_EQ(TQXCrypt_EncryptInit(h.get(), nullptr, 0), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_DecryptUpdate(h.get(), in, 16, out, &n), TQ_RTN_DECRYPT_FAILED);
    ASSERT_EQ(TQXCrypt_EncryptUpdate(h.get(), in, 16, out, &n), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_EncryptFinal(h.get(), out, &n, 0), TQ_RTN_OK);
    // A finished operation takes no more input until the next init.
    EXPECT_EQ(TQXCrypt_EncryptUpdate(h.get(), in, 16, out, &n), TQ_RTN_ENCRYPT_FAILED);
    EXPECT_EQ(TQXCrypt_EncryptFinal(h.get(), out, &n, 0), TQ_RTN_ENCRYPT_FAILED);
}

TEST(CipherStreaming, ArgumentAndHandleCodes) {
    Bytes key = tqtest::randomBytes(24, 13), iv = tqtest::randomBytes(16, 14);
    HandleOwner h;
    ASSERT_EQ(TQXCrypt_CreateKey(TQXCRYPT_ALG_DES3, key.data(), 24, iv.data(), 8, 0, h.out()), TQ_RTN_OK);
    TQXCRYPT_HANDLE *untouched = reinterpret_cast<TQXCRYPT_HANDLE *>(0x1);
    struct MakerCase {
        const char *label;
        int algorithm, keyLength, ivLength, flags;
        bool nullKey, nullIv;
        int expected;
    };
    const MakerCase makers[] = {
        {"id 3", 3, 8, 8, 0, false, false, TQ_RTN_NOT_SUPPORTED},
        {"aes by raw key", TQXCRYPT_ALG_AES128, 16, 16, 0, false, false, TQ_RTN_BAD_ARGUMENT},
        {"id 8", 8, 8, 8, 0, false, false, TQ_RTN_BAD_ARGUMENT},
        {"id -1", -1, 8, 8, 0, false, false, TQ_RTN_BAD_ARGUMENT},
        {"mode 0x30", TQXCRYPT_ALG_DES, 8, 8, 0x30, false, false, TQ_RTN_BAD_ARGUMENT},
        {"des3 20-byte key", TQXCRYPT_ALG_DES3, 20, 8, 0, false, false, TQ_RTN_BAD_ARGUMENT},
        {"des 16-byte key", TQXCRYPT_ALG_DES, 16, 8, 0, false, false, TQ_RTN_BAD_ARGUMENT},
        {"rc4 with an 8-byte iv", TQXCRYPT_ALG_RC4, 16, 8, 0, false, false, TQ_RTN_BAD_ARGUMENT},
        {"des without iv", TQXCRYPT_ALG_DES, 8, 0, 0, false, false, TQ_RTN_BAD_ARGUMENT},
        {"null key", TQXCRYPT_ALG_DES, 8, 8, 0, true, false, TQ_RTN_BAD_ARGUMENT},
        {"null iv with a length", TQXCRYPT_ALG_DES, 8, 8, 0, false, true, TQ_RTN_BAD_ARGUMENT},
        {"flags beyond the mode ignored", TQXCRYPT_ALG_DES, 8, 8, 0x7FFF0F, false, false, TQ_RTN_OK},
    };
    for (const MakerCase &m : makers) {
        SCOPED_TRACE(m.label);
        TQXCRYPT_HANDLE *out = untouched;
        int rc = TQXCrypt_CreateKey(m.algorithm, m.nullKey ? nullptr : key.data(), m.keyLength,
                                    m.nullIv ? nullptr : iv.data(), m.ivLength, m.flags, &out);
        EXPECT_EQ(rc, m.expected);
        if (rc == TQ_RTN_OK)
            TQXCryptFreeHandle(out);
        else
            EXPECT_EQ(out, untouched);
    }
    EXPECT_EQ(TQXCrypt_CreateKey(TQXCRYPT_ALG_DES, key.data(), 8, iv.data(), 8, 0, nullptr),
              TQ_RTN_BAD_ARGUMENT);

    // Handles: none, a digest, and an OCSP request (kind 10 with a table).
    HandleOwner digest, request;
    ASSERT_EQ(TQXCrypt_HashInit(digest.out(), 0), TQ_RTN_OK);
    Bytes der = tqtest::readFile(tqtest::fixture("objects/ocsp.req.der"));
    ASSERT_EQ(tqxCryptASN1OCSPRequestMethod()->decode(request.out(), der.data(), der.size(), 0, nullptr),
              TQ_RTN_OK);
    ASSERT_EQ(request.get()->kind, TQXCRYPT_KIND_CIPHER);
    unsigned char buffer[64] = {0};
    int n = 0;
    const std::pair<TQXCRYPT_HANDLE *, int> handles[] = {{nullptr, TQ_RTN_BAD_ARGUMENT},
                                                         {digest.get(), TQ_RTN_WRONG_HANDLE},
                                                         {request.get(), TQ_RTN_WRONG_HANDLE}};
    for (const auto &[handle, code] : handles) {
        EXPECT_EQ(TQXCrypt_EncryptInit(handle, nullptr, 0), code);
        EXPECT_EQ(TQXCrypt_DecryptInit(handle, nullptr, 0), code);
        EXPECT_EQ(TQXCrypt_EncryptUpdate(handle, buffer, 8, buffer, &n), code);
        EXPECT_EQ(TQXCrypt_DecryptUpdate(handle, buffer, 8, buffer, &n), code);
        EXPECT_EQ(TQXCrypt_EncryptFinal(handle, buffer, &n, 0), code);
        EXPECT_EQ(TQXCrypt_DecryptFinal(handle, buffer, &n, 0), code);
    }

    // Update arguments: a length no int holds is refused, never truncated.
    ASSERT_EQ(TQXCrypt_EncryptInit(h.get(), nullptr, 0), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_EncryptUpdate(h.get(), buffer, static_cast<size_t>(INT_MAX) + 9, buffer, &n),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_EncryptUpdate(h.get(), buffer, SIZE_MAX, buffer, &n), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_EncryptUpdate(h.get(), nullptr, 8, buffer, &n), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_EncryptUpdate(h.get(), buffer, 8, nullptr, &n), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_EncryptUpdate(h.get(), buffer, 8, buffer, nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_EncryptUpdate(h.get(), nullptr, 0, buffer, &n), TQ_RTN_OK);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(TQXCrypt_EncryptFinal(h.get(), nullptr, &n, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_EncryptFinal(h.get(), buffer, &n, 0), TQ_RTN_OK);
    EXPECT_EQ(n, 8);
}

TEST(CipherStreaming, OneHandleRunsOperationsInTurnInEitherDirection) {
    Bytes key = tqtest::randomBytes(8, 15), iv = tqtest::randomBytes(8, 16);
    HandleOwner h;
    ASSERT_EQ(TQXCrypt_CreateKey(TQXCRYPT_ALG_DES, key.data(), 8, iv.data(), 8, 0, h.out()), TQ_RTN_OK);
    Bytes plain = tqtest::randomBytes(50, 17), sealed, opened;
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(runOperation(h.get(), true, nullptr, 0, plain, {7}, &sealed), TQ_RTN_OK);
        ASSERT_EQ(runOperation(h.get(), false, nullptr, 0, sealed, {13}, &opened), TQ_RTN_OK);
        EXPECT_EQ(opened, plain);
    }
    // An operation abandoned halfway leaves no buffered bytes in the next.
    unsigned char out[64];
    int n = 0;
    ASSERT_EQ(TQXCrypt_EncryptInit(h.get(), nullptr, 0), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_EncryptUpdate(h.get(), plain.data(), 5, out, &n), TQ_RTN_OK);
    Bytes eight(plain.begin(), plain.begin() + 8);
    ASSERT_EQ(runOperation(h.get(), true, nullptr, 0, eight, {}, &sealed), TQ_RTN_OK);
    EXPECT_EQ(sealed, opensslEnc("des-cbc", key, iv, eight, false, false));
}

}  // namespace

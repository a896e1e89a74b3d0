// The binding's plain helpers called from C: hexadecimal text and the
// passphrase decryption, against the openssl tool.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "testutil.h"
#include "tq_codes.h"
#include "tqjni.h"
#include "tqxcrypt_cipher.h"

using namespace tqtest;

namespace {

struct HexCase {
    Bytes data;
    int size;
    char separator;
    int expected;
    const char *text;  // what the buffer holds on success
};

TEST(BinToHex, Table) {
    const HexCase cases[] = {
        {{0x0A, 0xFF}, 7, ':', TQ_RTN_OK, "0A:FF"},
        {{0x0A, 0xFF}, 6, ':', TQ_RTN_BUFFER_TOO_SMALL, nullptr},
        {{0x0A, 0xFF}, 6, 0, TQ_RTN_OK, "0AFF"},
        {{0x0A, 0xFF}, 5, 0, TQ_RTN_BUFFER_TOO_SMALL, nullptr},
        {{0x0A}, 3, 0, TQ_RTN_BUFFER_TOO_SMALL, nullptr},
        {{0x00}, 4, 0, TQ_RTN_OK, "00"},
        {{0xAB, 0xCD, 0xEF}, 16, '-', TQ_RTN_OK, "AB-CD-EF"},
        // A separator above 127 is no separator.
        {{0xAB, 0xCD}, 16, static_cast<char>(0x80), TQ_RTN_OK, "ABCD"},
        {{}, 1, ':', TQ_RTN_OK, ""},
        {{}, 0, ':', TQ_RTN_BUFFER_TOO_SMALL, nullptr},
        {{0x01}, -5, 0, TQ_RTN_BUFFER_TOO_SMALL, nullptr},
    };
    for (const HexCase &c : cases) {
        char buffer[32];
        std::memset(buffer, 'x', sizeof buffer);
        const int size = c.size;
        EXPECT_EQ(bin_to_hex(c.data.data(), static_cast<uint32_t>(c.data.size()), buffer, size, c.separator),
                  c.expected)
            << toHex(c.data) << " into " << size;
        if (c.text) {
            EXPECT_STREQ(buffer, c.text);
        }
        // Nothing is written at or past the size given.
        if (size >= 0 && size < static_cast<int>(sizeof buffer)) {
            EXPECT_EQ(buffer[size], 'x');
        }
    }
}

class TripleDes : public ::testing::Test {
protected:
    // The key and IV the core derives from a passphrase with no salt and one
    // iteration (PBKDF2 with HMAC-SHA1), here from OpenSSL itself.
    static void derive(const std::string &passphrase, unsigned char (&key)[24]) {
        unsigned char bytes[32];
        ASSERT_EQ(PKCS5_PBKDF2_HMAC_SHA1(passphrase.data(), static_cast<int>(passphrase.size()), nullptr, 0,
                                         1, sizeof bytes, bytes),
                  1);
        std::memcpy(key, bytes, sizeof key);
    }

    // Base64 of IV and cipher text, encrypted by the openssl tool.
    std::string encrypt(const std::string &passphrase, const Bytes &plain, const Bytes &iv) {
        unsigned char key[24];
        derive(passphrase, key);
        writeFile(dir_.file("plain"), plain);
        Bytes body = shBytes("openssl enc -des-ede3-cbc -K " + toHex(Bytes(key, key + 24)) + " -iv " +
                             toHex(iv) + " -in " + dir_.file("plain"));
        Bytes all = iv;
        all.insert(all.end(), body.begin(), body.end());
        writeFile(dir_.file("all"), all);
        return sh("openssl base64 -A -in " + dir_.file("all"));
    }

    TempDir dir_;
};

TEST_F(TripleDes, DecryptsWhatOpensslEncrypted) {
    const Bytes iv = {1, 2, 3, 4, 5, 6, 7, 8};
    // Past 1,024 bytes of plain text the old fixed buffer overflowed.
    for (size_t n : {0u, 1u, 8u, 100u, 1016u, 1024u, 1025u, 5000u}) {
        const Bytes plain = randomBytes(n, static_cast<uint32_t>(n) + 11);
        const std::string text = encrypt("passphrase", plain, iv);
        unsigned char *out = nullptr;
        int length = -1;
        ASSERT_EQ(TripleDESDecrypt("passphrase", text.c_str(), TQXCRYPT_ALG_DES3, 0, &out, &length),
                  TQ_RTN_OK)
            << n;
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(Bytes(out, out + length), plain) << n;
        std::free(out);
    }
}

TEST_F(TripleDes, RefusesWhatItCannotDecrypt) {
    const Bytes iv = {8, 7, 6, 5, 4, 3, 2, 1};
    const std::string good = encrypt("passphrase", randomBytes(40, 5), iv);
    struct Case {
        const char *what;
        std::string passphrase;
        std::string text;
    };
    const Case cases[] = {
        {"not Base64", "passphrase", "%%%% not base64 %%%%"},
        {"empty", "passphrase", ""},
        {"IV only", "passphrase", "AQIDBAUGBwg="},
        {"IV and half a block", "passphrase", "AQIDBAUGBwgBAgME"},
        {"short of the IV", "passphrase", "AQID"},
        {"wrong passphrase: padding fails", "other", good},
    };
    for (const Case &c : cases) {
        unsigned char *out = reinterpret_cast<unsigned char *>(&dir_);
        int length = -7;
        EXPECT_EQ(TripleDESDecrypt(c.passphrase.c_str(), c.text.c_str(), TQXCRYPT_ALG_DES3, 0, &out, &length),
                  TQ_RTN_DECRYPT_FAILED)
            << c.what;
        // No pointer is handed out on failure.
        EXPECT_EQ(out, reinterpret_cast<unsigned char *>(&dir_)) << c.what;
        EXPECT_EQ(length, -7) << c.what;
    }
}

}  // namespace

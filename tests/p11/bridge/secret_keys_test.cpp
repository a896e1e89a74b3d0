// Token secret keys named by label: generation and storage as pkcs11-tool
// reads them, the one-call ciphers and MACs against openssl enc, wrapping,
// and the codes at the edges of labels and buffers.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bridge_token.h"
#include "tqp11secret.h"

namespace {

using namespace bridgetest;

// The key bytes as DES parity leaves them.
Bytes oddParity(Bytes key) {
    for (unsigned char &b : key) {
        unsigned char high = b & 0xFE;
        b = static_cast<unsigned char>(high | (__builtin_popcount(high) % 2 == 0 ? 1 : 0));
    }
    return key;
}

std::string zeros(size_t bytes) { return std::string(2 * bytes, '0'); }

// A label's bytes as pkcs11-tool prints an ID.
std::string idText(const std::string &label) {
    std::string hex = tqtest::toHex(Bytes(label.begin(), label.end()));
    for (char &c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return "ID:         " + hex;
}

class SecretKeys : public TokenKeys {
protected:
    // openssl enc over the data; an empty IV text leaves -iv out.
    Bytes opensslEnc(const std::string &cipher, const Bytes &key, const std::string &ivHex, const Bytes &data,
                     bool pad, bool decrypt = false) {
        const std::string in = file("enc" + std::to_string(++runs_) + ".in", data);
        return shBytes("openssl enc -" + cipher + (decrypt ? " -d" : " -e") +
                       " -provider legacy -provider default -K " + tqtest::toHex(key) +
                       (ivHex.empty() ? "" : " -iv " + ivHex) + (pad ? "" : " -nopad") + " -in '" + in + "'");
    }
    Bytes readKey(const std::string &label, int kind, int isPrivate = 1) {
        unsigned char *value = nullptr;
        CK_ULONG length = 0;
        EXPECT_EQ(TQP11_ReadSymKeyObject(&session, label.c_str(), kind, isPrivate, 0, &value, &length), 0)
            << label;
        Bytes b = value ? Bytes(value, value + length) : Bytes();
        std::free(value);
        return b;
    }
    // The value pkcs11-tool reads from the token.
    Bytes peerValue(const std::string &label) {
        const std::string out = token.file("peer" + std::to_string(++runs_) + ".bin");
        peer("--read-object --type secrkey --label '" + label + "' -o '" + out + "'");
        return tqtest::readFile(out);
    }
    using OneCall = int (*)(TQXP11_SESSION *, const char *, int, int, const void *, CK_ULONG, int,
                            unsigned char *, CK_ULONG *);
    Bytes oneCall(OneCall call, const std::string &label, int kind, int mode, const Bytes &data,
                  int expected) {
        Bytes out(data.size() + 16);
        CK_ULONG length = 0;
        EXPECT_EQ(call(&session, label.c_str(), kind, 0, data.data(), data.size(), mode, out.data(), &length),
                  expected)
            << label << " mode " << std::hex << mode << " size " << std::dec << data.size();
        out.resize(expected == 0 ? length : 0);
        return out;
    }
    Bytes encrypt(const std::string &label, int kind, int mode, const Bytes &data, int expected = 0) {
        return oneCall(TQP11_SymEncrypt, label, kind, mode, data, expected);
    }
    Bytes decrypt(const std::string &label, int kind, int mode, const Bytes &data, int expected = 0) {
        return oneCall(TQP11_SymDecrypt, label, kind, mode, data, expected);
    }
    Bytes mac(const std::string &label, int kind, const char *iv, const Bytes &data, int mode,
              int expected = 0) {
        unsigned char out[1024];
        CK_ULONG length = 0;
        EXPECT_EQ(TQP11_GenerateMAC(&session, label.c_str(), kind, iv, data.data(), data.size(), 0, mode, out,
                                    &length),
                  expected);
        return expected == 0 ? Bytes(out, out + length) : Bytes();
    }

private:
    int runs_ = 0;
};

struct KindCase {
    int kind;
    const char *label;
    size_t length;
};
const KindCase kKinds[] = {{TQXP11_KIND_DES, "des key", 8},
                           {TQXP11_KIND_DES2, "des2 key", 16},
                           {TQXP11_KIND_DES3, "des3 key", 24},
                           {TQXP11_KIND_AES, "aes key", 32},
                           {TQXP11_KIND_RC4, "rc4 key", 16}};

TEST_F(SecretKeys, GeneratedKeysOfEveryKindCarryTheirLabelAsIdAndReadBack) {
    for (const KindCase &c : kKinds) {
        SCOPED_TRACE(c.label);
        CK_OBJECT_HANDLE handle = 0;
        ASSERT_EQ(TQXP11_GenerateSymKey(&session, c.label, 1, c.kind, TQXP11_EXTRACTABLE, &handle), 0);
        EXPECT_NE(handle, 0u);
        const Bytes value = readKey(c.label, c.kind);
        EXPECT_EQ(value.size(), c.length);
        EXPECT_EQ(peerValue(c.label), value);
        CK_OBJECT_HANDLE found = 0;
        EXPECT_EQ(TQP11_GetKeyHandle(&session, c.label, c.kind, 1, 0, &found), 0);
        EXPECT_EQ(found, handle);
        EXPECT_EQ(TQXP11_GenerateSymKey(&session, c.label, 1, c.kind, 0, &handle), TQP11_RTN_OBJECT_EXIST);
    }
    // RC4 keys take the token layer's default length.
    ASSERT_EQ(shim::state().rc4KeyLengths.size(), 1u);
    EXPECT_EQ(shim::state().rc4KeyLengths[0], 16u);
    const std::string listing = peer("-O --type secrkey");
    for (const KindCase &c : kKinds) {
        const size_t at = listing.find(std::string("label:      ") + c.label);
        ASSERT_NE(at, std::string::npos) << listing;
        EXPECT_NE(listing.find(idText(c.label), at), std::string::npos) << c.label << "\n" << listing;
    }
}

TEST_F(SecretKeys, SensitiveKeysReadEmptyAndMissingOnesGiveNothing) {
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(TQXP11_GenerateSymKey(&session, "secret", 0, TQXP11_KIND_DES3, TQXP11_SENSITIVE, &handle), 0);
    unsigned char *value = nullptr;
    CK_ULONG length = 99;
    ASSERT_EQ(TQP11_ReadSymKeyObject(&session, "secret", TQXP11_KIND_DES3, 0, 0, &value, &length), 0);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(value[0], 0);
    std::free(value);
    // The private flag is part of the name.
    value = reinterpret_cast<unsigned char *>(1);
    EXPECT_EQ(TQP11_ReadSymKeyObject(&session, "secret", TQXP11_KIND_DES3, 1, 0, &value, &length),
              TQP11_RTN_OBJECT_NOT_EXIST);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(TQP11_GetKeyHandle(&session, "secret", TQXP11_KIND_DES3, 1, 0, &handle),
              TQP11_RTN_OBJECT_NOT_EXIST);
    EXPECT_EQ(TQP11_ReadSymKeyObject(&session, "secret", TQXP11_KIND_CERTIFICATE, 0, 0, &value, &length),
              TQP11_RTN_FUNCTION_NOT_SUPPORTED);
}

TEST_F(SecretKeys, StoredKeysGetOddParityAndTheCallersBytesStay) {
    struct Case {
        int kind;
        const char *label;
        size_t length;
        bool parity;
    } cases[] = {{TQXP11_KIND_DES, "w des", 8, true},
                 {TQXP11_KIND_DES2, "w des2", 16, true},
                 {TQXP11_KIND_DES3, "w des3", 24, true},
                 {TQXP11_KIND_RC4, "w rc4", 11, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const Bytes given = tqtest::randomBytes(c.length, static_cast<uint32_t>(c.kind));
        const Bytes copy = given;
        ASSERT_EQ(TQP11_WriteSymKeyObject(&session, c.label, c.kind, 1, given.data(), given.size(),
                                          TQXP11_EXTRACTABLE),
                  0);
        EXPECT_EQ(given, copy);
        const Bytes expected = c.parity ? oddParity(given) : given;
        EXPECT_EQ(peerValue(c.label), expected);
        EXPECT_EQ(readKey(c.label, c.kind), expected);
        EXPECT_EQ(TQP11_WriteSymKeyObject(&session, c.label, c.kind, 1, given.data(), given.size(), 0),
                  TQP11_RTN_OBJECT_EXIST);
    }
    const Bytes aes(32, 7);
    EXPECT_EQ(TQP11_WriteSymKeyObject(&session, "w aes", TQXP11_KIND_AES, 1, aes.data(), aes.size(), 0),
              TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(TQP11_WriteSymKeyObject(&session, "w null", TQXP11_KIND_DES, 1, nullptr, 8, 0),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQP11_WriteSymKeyObject(nullptr, "w des", TQXP11_KIND_DES, 1, aes.data(), 8, 0),
              TQ_RTN_BAD_ARGUMENT);
}

// Every mode code against openssl enc with the zero IV of the kind.
struct ModeCase {
    int kind;
    const char *label;
    int mode;
    const char *cipher;  // of openssl enc
    size_t block;
    bool pad, iv;
};
const ModeCase kModes[] = {
    {TQXP11_KIND_DES, "m des", TQXP11_MODE_DES_ECB, "des-ecb", 8, false, false},
    {TQXP11_KIND_DES, "m des", TQXP11_MODE_DES_CBC, "des-cbc", 8, false, true},
    {TQXP11_KIND_DES, "m des", TQXP11_MODE_DES_CBC_PAD, "des-cbc", 8, true, true},
    {TQXP11_KIND_DES2, "m des2", TQXP11_MODE_DES3_ECB, "des-ede-ecb", 8, false, false},
    {TQXP11_KIND_DES2, "m des2", TQXP11_MODE_DES3_CBC, "des-ede-cbc", 8, false, true},
    {TQXP11_KIND_DES2, "m des2", TQXP11_MODE_DES3_CBC_PAD, "des-ede-cbc", 8, true, true},
    {TQXP11_KIND_DES3, "m des3", TQXP11_MODE_DES3_ECB, "des-ede3-ecb", 8, false, false},
    {TQXP11_KIND_DES3, "m des3", TQXP11_MODE_DES3_CBC, "des-ede3-cbc", 8, false, true},
    {TQXP11_KIND_DES3, "m des3", TQXP11_MODE_DES3_CBC_PAD, "des-ede3-cbc", 8, true, true},
    {TQXP11_KIND_AES, "m aes", TQXP11_MODE_AES_ECB, "aes-256-ecb", 16, false, false},
    {TQXP11_KIND_AES, "m aes", TQXP11_MODE_AES_CBC, "aes-256-cbc", 16, false, true},
    {TQXP11_KIND_AES, "m aes", TQXP11_MODE_AES_CBC_PAD, "aes-256-cbc", 16, true, true},
    {TQXP11_KIND_RC4, "m rc4", 0, "rc4", 1, false, false},
};

class OneCallCiphers : public SecretKeys {
protected:
    void SetUp() override {
        SecretKeys::SetUp();
        for (const ModeCase &m : kModes) {
            CK_OBJECT_HANDLE handle = 0;
            if (TQP11_GetKeyHandle(&session, m.label, m.kind, 1, 0, &handle) == 0) continue;
            ASSERT_EQ(TQXP11_GenerateSymKey(&session, m.label, 1, m.kind, TQXP11_EXTRACTABLE, &handle), 0);
        }
    }
};

TEST_F(OneCallCiphers, EveryModeByLabelAndHandleMatchesOpensslAndDecryptsBack) {
    for (const ModeCase &m : kModes) {
        const Bytes key = readKey(m.label, m.kind);
        CK_OBJECT_HANDLE handle = 0;
        ASSERT_EQ(TQP11_GetKeyHandle(&session, m.label, m.kind, 1, 0, &handle), 0);
        // Whole blocks for every mode; for the padded ones also empty data
        // and every tail of a block.
        std::vector<size_t> sizes = {3 * m.block};
        if (m.pad)
            for (size_t tail = 0; tail < m.block; ++tail) sizes.push_back(2 * m.block + tail);
        if (m.pad || m.block == 1) sizes.push_back(0);
        for (size_t size : sizes) {
            SCOPED_TRACE(std::string(m.cipher) + " size " + std::to_string(size));
            const Bytes plain = tqtest::randomBytes(size, static_cast<uint32_t>(size + m.mode));
            const Bytes ours = encrypt(m.label, m.kind, m.mode, plain);
            EXPECT_EQ(ours, opensslEnc(m.cipher, key, m.iv ? zeros(m.block) : "", plain, m.pad));
            Bytes byHandle(size + 16);
            CK_ULONG length = 0;
            EXPECT_EQ(TQP11_SymEncryptByHandle(&session, handle, m.kind, 0, plain.data(), plain.size(),
                                               m.mode, byHandle.data(), &length),
                      0);
            byHandle.resize(length);
            EXPECT_EQ(byHandle, ours);
            EXPECT_EQ(decrypt(m.label, m.kind, m.mode, ours), plain);
        }
    }
}

TEST_F(OneCallCiphers, FailingStepsEndTheTokenOperationAndGiveTheirCodes) {
    const Bytes seven(7, 1), block(8, 2);
    // A part block without padding, a wrong padding, a mode of another kind.
    encrypt("m des", TQXP11_KIND_DES, TQXP11_MODE_DES_CBC, seven, TQP11_RTN_DATA_LEN_RANGE);
    const Bytes garbage = encrypt("m des", TQXP11_KIND_DES, TQXP11_MODE_DES_ECB, block);
    Bytes plain = decrypt("m des", TQXP11_KIND_DES, TQXP11_MODE_DES_CBC_PAD, garbage);
    if (!plain.empty()) {
        EXPECT_NE(plain, block);
    }
    decrypt("m des", TQXP11_KIND_DES, TQXP11_MODE_DES_CBC_PAD, seven, TQP11_RTN_ENCRYPTED_DATA_LEN_RANGE);
    decrypt("m aes", TQXP11_KIND_AES, TQXP11_MODE_AES_CBC_PAD, Bytes(), TQP11_RTN_ENCRYPTED_DATA_LEN_RANGE);
    encrypt("m des", TQXP11_KIND_DES, TQXP11_MODE_AES_CBC, block, TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    encrypt("nobody", TQXP11_KIND_DES, TQXP11_MODE_DES_CBC, block, TQP11_RTN_OBJECT_NOT_EXIST);
    // Ciphertext beyond the MAC's 1024 bytes: in the update, then in the final.
    mac("m aes", TQXP11_KIND_AES, nullptr, Bytes(1040, 3), TQXP11_MODE_AES_CBC, TQP11_RTN_BUFFER_TOO_SMALL);
    mac("m aes", TQXP11_KIND_AES, nullptr, Bytes(1024, 3), TQXP11_MODE_AES_CBC_PAD,
        TQP11_RTN_BUFFER_TOO_SMALL);
    // The session is free for the next operation after each of them.
    EXPECT_EQ(decrypt("m des", TQXP11_KIND_DES, TQXP11_MODE_DES_CBC,
                      encrypt("m des", TQXP11_KIND_DES, TQXP11_MODE_DES_CBC, block)),
              block);
    // Exactly 1024 bytes of ciphertext fit.
    EXPECT_EQ(mac("m des", TQXP11_KIND_DES, nullptr, Bytes(1016, 4), TQXP11_MODE_DES_CBC_PAD).size(), 1024u);
    EXPECT_EQ(mac("m aes", TQXP11_KIND_AES, nullptr, Bytes(1024, 4), TQXP11_MODE_AES_ECB).size(), 1024u);
}

TEST_F(OneCallCiphers, LabelsBeyondTheFieldAreRefusedBeforeAnyTokenCall) {
    const std::string longLabel(256, 'k');
    const std::string fitting(255, 'k');
    const Bytes data(16, 1);
    unsigned char out[64];
    unsigned char *buffer = nullptr;
    CK_ULONG length = 0;
    const int searches = tokenCalls("C_FindObjectsInit");
    EXPECT_EQ(TQP11_SymEncrypt(&session, longLabel.c_str(), TQXP11_KIND_AES, 0, data.data(), data.size(),
                               TQXP11_MODE_AES_CBC, out, &length),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQP11_SymDecrypt(&session, longLabel.c_str(), TQXP11_KIND_AES, 0, data.data(), data.size(),
                               TQXP11_MODE_AES_CBC, out, &length),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQP11_GenerateMAC(&session, longLabel.c_str(), TQXP11_KIND_AES, nullptr, data.data(),
                                data.size(), 0, TQXP11_MODE_AES_CBC, out, &length),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQP11_GenerateMACEx(&session, longLabel.c_str(), TQXP11_KIND_AES, nullptr, data.data(),
                                  data.size(), TQXP11_MODE_AES_CBC, &buffer, &length),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(tokenCalls("C_FindObjectsInit"), searches);
    // A label that fills the field is searched for whole.
    EXPECT_EQ(TQP11_SymEncrypt(&session, fitting.c_str(), TQXP11_KIND_AES, 0, data.data(), data.size(),
                               TQXP11_MODE_AES_CBC, out, &length),
              TQP11_RTN_OBJECT_NOT_EXIST);
    EXPECT_EQ(shim::state().labelLengths.back(), 255u);

    struct Refusal {
        int code, expected;
    } refusals[] = {
        {TQP11_SymEncrypt(nullptr, "m aes", TQXP11_KIND_AES, 0, data.data(), 16, TQXP11_MODE_AES_CBC, out,
                          &length),
         TQ_RTN_BAD_ARGUMENT},
        {TQP11_SymEncrypt(&session, nullptr, TQXP11_KIND_AES, 0, data.data(), 16, TQXP11_MODE_AES_CBC, out,
                          &length),
         TQ_RTN_BAD_ARGUMENT},
        {TQP11_SymEncrypt(&session, "m aes", TQXP11_KIND_AES, 0, nullptr, 16, TQXP11_MODE_AES_CBC, out,
                          &length),
         TQ_RTN_BAD_ARGUMENT},
        {TQP11_SymEncryptByHandle(&session, 0, TQXP11_KIND_AES, 0, data.data(), 16, TQXP11_MODE_AES_CBC, out,
                                  &length),
         TQ_RTN_WRONG_HANDLE},
        {TQP11_SymEncryptByHandle(nullptr, 5, TQXP11_KIND_AES, 0, data.data(), 16, TQXP11_MODE_AES_CBC, out,
                                  &length),
         TQ_RTN_BAD_ARGUMENT},
        {TQP11_SymDecrypt(&session, "m aes", TQXP11_KIND_AES, 0, data.data(), 16, TQXP11_MODE_AES_CBC,
                          nullptr, &length),
         TQ_RTN_BAD_ARGUMENT},
        {TQP11_GenerateMACEx(&session, "m aes", TQXP11_KIND_AES, nullptr, data.data(), 16,
                             TQXP11_MODE_AES_CBC, nullptr, &length),
         TQ_RTN_BAD_ARGUMENT},
    };
    for (const Refusal &r : refusals) EXPECT_EQ(r.code, r.expected);
}

TEST_F(OneCallCiphers, MacsAreTheCbcCiphertextWithTheKindsZeroIvOrTheIvText) {
    const Bytes des = readKey("m des", TQXP11_KIND_DES);
    const Bytes aes = readKey("m aes", TQXP11_KIND_AES);
    const Bytes data24 = tqtest::randomBytes(24, 24);
    // Without an IV: 24 bytes, the last 8 the CBC-MAC.
    const Bytes desMac = mac("m des", TQXP11_KIND_DES, nullptr, data24, TQXP11_MODE_DES_CBC);
    EXPECT_EQ(desMac, opensslEnc("des-cbc", des, zeros(8), data24, false));
    // An AES key runs with 16 zero bytes.
    const Bytes data32 = tqtest::randomBytes(32, 32);
    EXPECT_EQ(mac("m aes", TQXP11_KIND_AES, nullptr, data32, TQXP11_MODE_AES_CBC),
              opensslEnc("aes-256-cbc", aes, zeros(16), data32, false));
    // The IV text's characters.
    const char *iv8 = "iv-8text";
    const Bytes withIv = mac("m des", TQXP11_KIND_DES, iv8, data24, TQXP11_MODE_DES_CBC);
    EXPECT_EQ(withIv, opensslEnc("des-cbc", des, tqtest::toHex(Bytes(iv8, iv8 + 8)), data24, false));
    EXPECT_NE(withIv, desMac);
    const char *iv16 = "sixteen-byte-iv!";
    EXPECT_EQ(mac("m aes", TQXP11_KIND_AES, iv16, data32, TQXP11_MODE_AES_CBC_PAD),
              opensslEnc("aes-256-cbc", aes, tqtest::toHex(Bytes(iv16, iv16 + 16)), data32, true));

    // The buffer of its own holds AES's padding block.
    for (size_t size : {size_t(0), size_t(15), size_t(32)}) {
        SCOPED_TRACE(size);
        const Bytes data = tqtest::randomBytes(size, static_cast<uint32_t>(size));
        unsigned char *out = nullptr;
        CK_ULONG length = 0;
        ASSERT_EQ(TQP11_GenerateMACEx(&session, "m aes", TQXP11_KIND_AES, nullptr, data.data(), data.size(),
                                      TQXP11_MODE_AES_CBC_PAD, &out, &length),
                  0);
        EXPECT_EQ(Bytes(out, out + length), opensslEnc("aes-256-cbc", aes, zeros(16), data, true));
        std::free(out);
    }
    unsigned char *out = reinterpret_cast<unsigned char *>(1);
    CK_ULONG length = 0;
    EXPECT_EQ(TQP11_GenerateMACEx(&session, "m des", TQXP11_KIND_DES, nullptr, data24.data(), 20,
                                  TQXP11_MODE_DES_CBC, &out, &length),
              TQP11_RTN_DATA_LEN_RANGE);
}

TEST_F(SecretKeys, WrapsUnderAesCbcWithTheZeroIvAndUnwrapsBack) {
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(TQXP11_GenerateSymKey(&session, "kek", 1, TQXP11_KIND_AES,
                                    TQXP11_WRAP | TQXP11_UNWRAP | TQXP11_EXTRACTABLE, &handle),
              0);
    ASSERT_EQ(TQXP11_GenerateSymKey(&session, "payload", 1, TQXP11_KIND_AES, TQXP11_EXTRACTABLE, &handle), 0);
    const Bytes kek = readKey("kek", TQXP11_KIND_AES), payload = readKey("payload", TQXP11_KIND_AES);
    unsigned char wrapped[64];
    CK_ULONG wrappedLength = sizeof wrapped;
    ASSERT_EQ(TQP11_WrapKey(&session, "payload", TQXP11_KIND_AES, "kek", TQXP11_KIND_AES, 0, wrapped,
                            &wrappedLength, TQXP11_MODE_AES_CBC),
              0);
    const Bytes wrappedBytes(wrapped, wrapped + wrappedLength);
    EXPECT_EQ(wrappedBytes, opensslEnc("aes-256-cbc", kek, zeros(16), payload, false));
    // The peer's padded wrapping unwraps into a new key named and identified
    // by its label.
    const Bytes other = tqtest::randomBytes(32, 77);
    const Bytes peerWrapped = opensslEnc("aes-256-cbc", kek, zeros(16), other, true);
    ASSERT_EQ(TQP11_UnWrapKey(&session, "kek", TQXP11_KIND_AES, peerWrapped.data(), peerWrapped.size(),
                              "unwrapped", TQXP11_KIND_AES, TQXP11_EXTRACTABLE, TQXP11_MODE_AES_CBC_PAD),
              0);
    EXPECT_EQ(readKey("unwrapped", TQXP11_KIND_AES), other);
    const std::string listing = peer("-O --type secrkey --label unwrapped");
    EXPECT_NE(listing.find(idText("unwrapped")), std::string::npos) << listing;
    // An RSA private key as PKCS#8, padded: the key and its public key carry the new label as ID.
    const Bytes pkcs8 = shBytes("openssl pkcs8 -topk8 -nocrypt -outform DER -in '" +
                                tqtest::fixture("objects/user.key.pem") + "'");
    const Bytes wrappedPkcs8 = opensslEnc("aes-256-cbc", kek, zeros(16), pkcs8, true);
    ASSERT_EQ(TQP11_UnWrapKey(&session, "kek", TQXP11_KIND_AES, wrappedPkcs8.data(), wrappedPkcs8.size(),
                              "unwrapped rsa", TQXP11_KIND_RSA_PRIVATE, 0, TQXP11_MODE_AES_CBC_PAD),
              0);
    for (const char *type : {"privkey", "pubkey"}) {
        const std::string object = peer(std::string("-O --type ") + type + " --label 'unwrapped rsa'");
        EXPECT_NE(object.find(idText("unwrapped rsa")), std::string::npos) << object;
    }
    // Both keys are searched as private objects.
    ASSERT_EQ(TQXP11_GenerateSymKey(&session, "public", 0, TQXP11_KIND_AES, TQXP11_EXTRACTABLE, &handle), 0);
    wrappedLength = sizeof wrapped;
    EXPECT_EQ(TQP11_WrapKey(&session, "public", TQXP11_KIND_AES, "kek", TQXP11_KIND_AES, 0, wrapped,
                            &wrappedLength, TQXP11_MODE_AES_CBC),
              TQP11_RTN_OBJECT_NOT_EXIST);
}

TEST_F(SecretKeys, UnwrapsWithTheRsaKeyOfALabel) {
    importPair(tqtest::fixture("objects/user.key.pem"), "rsa", "0102");
    const std::string pub = token.file("user.pub.pem");
    sh("openssl pkey -in '" + tqtest::fixture("objects/user.key.pem") + "' -pubout -out '" + pub + "'");
    struct Case {
        int kind;
        const char *label;
        size_t length;
    } cases[] = {{TQXP11_KIND_DES3, "from rsa des3", 24}, {TQXP11_KIND_AES, "from rsa aes", 32}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const Bytes secret = oddParity(tqtest::randomBytes(c.length, static_cast<uint32_t>(c.kind)));
        const std::string in = file(std::string(c.label) + ".key", secret);
        const Bytes wrapped =
            shBytes("openssl pkeyutl -encrypt -pubin -inkey '" + pub + "' -in '" + in + "'");
        ASSERT_EQ(wrapped.size(), 256u);
        ASSERT_EQ(TQP11_UnWrapKey(&session, "rsa", TQXP11_KIND_RSA_PUBLIC, wrapped.data(), wrapped.size(),
                                  c.label, c.kind, TQXP11_EXTRACTABLE, 0),
                  0);
        EXPECT_EQ(readKey(c.label, c.kind), secret);
    }
    EXPECT_EQ(TQP11_UnWrapKey(&session, "no rsa", TQXP11_KIND_RSA_PUBLIC, Bytes(256).data(), 256, "x",
                              TQXP11_KIND_AES, 0, 0),
              TQP11_RTN_OBJECT_NOT_EXIST);
}

}  // namespace

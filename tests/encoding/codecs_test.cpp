// Base64, PEM armour and hexadecimal against the openssl tool and coreutils.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "testutil.h"

using namespace tqtest;

namespace {

std::string encodeLined(const Bytes &b) {
    BlobOwner out;
    EXPECT_EQ(TQXCrypt_Encode(b.data(), b.size(), &out, nullptr), 0);
    return out.text();
}

std::string encodeSingle(const Bytes &b) {
    BlobOwner out;
    EXPECT_EQ(TQXCrypt_EncodeEx(b.data(), static_cast<int>(b.size()), &out), 0);
    return out.text();
}

int decode(const std::string &text, Bytes *out, const char *labels = nullptr) {
    BlobOwner blob;
    int rc = TQXCrypt_Decode(text.data(), text.size(), &blob, labels);
    if (rc == 0) *out = blob.bytes();
    return rc;
}

}  // namespace

TEST(Base64, AgreesWithOpensslForEveryLengthUpTo200) {
    TempDir dir;
    std::vector<Bytes> inputs;
    for (size_t n = 0; n <= 200; ++n) {
        inputs.push_back(randomBytes(n, static_cast<uint32_t>(n) * 7919u + 1));
        writeFile(dir.file(std::to_string(n) + ".bin"), inputs.back());
    }
    int status = -1;
    run("cd '" + dir.path() +
            "' && for f in *.bin; do openssl base64 -in $f -out $f.lines && "
            "openssl base64 -A -in $f -out $f.single || exit 1; done",
        &status);
    ASSERT_EQ(status, 0);
    for (size_t n = 0; n <= 200; ++n) {
        std::string base = dir.file(std::to_string(n) + ".bin");
        std::string lines = readText(base + ".lines"), single = readText(base + ".single");
        EXPECT_EQ(encodeLined(inputs[n]), lines) << "length " << n;
        EXPECT_EQ(encodeSingle(inputs[n]), single) << "length " << n;
        Bytes back;
        ASSERT_EQ(decode(lines, &back), 0) << "length " << n;
        EXPECT_EQ(back, inputs[n]) << "length " << n;
        ASSERT_EQ(decode(single, &back), 0) << "length " << n;
        EXPECT_EQ(back, inputs[n]) << "length " << n;
    }
}

TEST(Base64, LineLayout) {
    EXPECT_EQ(encodeLined(Bytes{'a', 'b', 'c'}), "YWJj\n");
    EXPECT_EQ(encodeLined(Bytes(48, 0)).size(), 65u);
    std::string t49 = encodeLined(Bytes(49, 0));
    ASSERT_EQ(t49.size(), 70u);
    EXPECT_EQ(t49.substr(64), "\nAA==\n");
    EXPECT_EQ(encodeLined(Bytes()), "");
}

TEST(Base64, DecodesWhatTheDecoderShouldAndRefusesTheRest) {
    struct Case {
        const char *text;
        int rc;
        const char *bytes;  // expected result when rc is 0
    } cases[] = {
        {"", 0, ""},
        {"QQ==", 0, "A"},
        {"QUI=", 0, "AB"},
        {"QUJD", 0, "ABC"},
        {"QU\r\nJD\n", 0, "ABC"},  // CR and LF anywhere are ignored
        {"QQ==QUJD", 0, "A"},      // decoding stops at the first '='
        {"+/+/", 0, "\xfb\xff\xbf"},
        {"+/ /", 0, "\xfb\xff\xbf"},                           // a space inside the text reads as '+'
        {"AAAAAAAAAAAA========", TQ_RTN_BAD_BASE64, nullptr},  // more than two '=' at the end
        {"Q===", TQ_RTN_BAD_BASE64, nullptr},
        {"Q=AA", TQ_RTN_BAD_BASE64, nullptr},  // one character and '=' make no byte
        {"QQ=", TQ_RTN_BAD_BASE64, nullptr},   // length not a multiple of four
        {"QU\tD", TQ_RTN_BAD_BASE64, nullptr},
        {"QU-D", TQ_RTN_BAD_BASE64, nullptr},
        {"QU\x80"
         "D",
         TQ_RTN_BAD_BASE64, nullptr},
        {"-----BEGIN X-----", TQ_RTN_BAD_BASE64, nullptr},
    };
    for (const Case &c : cases) {
        Bytes out;
        int rc = decode(c.text, &out);
        EXPECT_EQ(rc, c.rc) << "text '" << c.text << "'";
        if (rc == 0 && c.bytes) {
            EXPECT_EQ(std::string(out.begin(), out.end()), c.bytes) << c.text;
        }
    }
}

TEST(Base64, CallerBuffersGetExactlyTheirCapacity) {
    Bytes data = randomBytes(100, 5);
    std::string text = encodeLined(data);
    // One byte short: TQ_RTN_BUFFER_TOO_SMALL with the needed size, and not a byte written.
    Bytes buffer(data.size() + 8, 0xEE);
    TQXCRYPT_BLOB blob{data.size() - 1, buffer.data()};
    EXPECT_EQ(TQXCrypt_Decode(text.data(), text.size(), &blob, nullptr), TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(blob.length, data.size());
    EXPECT_EQ(buffer, Bytes(data.size() + 8, 0xEE));
    blob.length = data.size();
    ASSERT_EQ(TQXCrypt_Decode(text.data(), text.size(), &blob, nullptr), 0);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 100), data);
    EXPECT_EQ(Bytes(buffer.begin() + 100, buffer.end()), Bytes(8, 0xEE));

    // A padded last group keeps its partial bits aside, never in the byte
    // after the caller's buffer.
    Bytes two(3, 0xEE);
    TQXCRYPT_BLOB small{2, two.data()};
    ASSERT_EQ(TQXCrypt_Decode("//8=", 4, &small, nullptr), 0);
    EXPECT_EQ(small.length, 2u);
    EXPECT_EQ(two, (Bytes{0xFF, 0xFF, 0xEE}));
}

TEST(Pem, ArmourIsReadWithinTheGivenLengthOnly) {
    Bytes der = readFile(fixture("objects/ca.der"));
    std::string pem = readText(fixture("objects/ca.pem"));
    struct Case {
        std::string text;
        const char *labels;
        int rc;
    } cases[] = {
        {pem, "CERTIFICATE;X509 CERTIFICATE", 0},
        {"  \r\n" + pem + "trailing text", "CERTIFICATE", 0},
        {[&] {
             std::string t = pem;
             t.replace(t.find("BEGIN CERTIFICATE"), 17, "BEGIN X509 CERTIFICATE");
             t.replace(t.find("END CERTIFICATE"), 15, "END X509 CERTIFICATE");
             return t;
         }(),
         "CERTIFICATE;X509 CERTIFICATE", 0},
        {readText(fixture("objects/crl.pem")), "CERTIFICATE;X509 CERTIFICATE", TQ_RTN_BAD_BASE64},
        {pem.substr(0, pem.find("-----END")), "CERTIFICATE", TQ_RTN_BAD_FORMAT},      // no END line
        {pem.substr(0, pem.find("-----END") + 9), "CERTIFICATE", TQ_RTN_BAD_FORMAT},  // END line cut short
        {[&] {
             std::string t = pem;
             t.replace(t.find("END CERTIFICATE"), 15, "END X509 CRL");
             return t;
         }(),
         "CERTIFICATE", TQ_RTN_BAD_FORMAT},
        {"-----BEGIN CERTIFICATE-----\n", "CERTIFICATE", TQ_RTN_BAD_BASE64},  // too short for armour
        {pem, (std::string(111, 'L') + ";CERTIFICATE").c_str(),
         TQ_RTN_BAD_FORMAT},  // label over 110 characters
    };
    std::string longLabels = std::string(111, 'L') + ";CERTIFICATE";
    cases[8].labels = longLabels.c_str();
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        // An exact-size heap copy: the sanitizers catch any read past it.
        std::vector<char> exact(cases[i].text.begin(), cases[i].text.end());
        BlobOwner out;
        int rc = TQXCrypt_Decode(exact.data(), exact.size(), &out, cases[i].labels);
        EXPECT_EQ(rc, cases[i].rc) << "case " << i;
        if (rc == 0) {
            EXPECT_EQ(out.bytes(), der) << "case " << i;
        }
    }
}

TEST(Pem, EncodeWithLabelMatchesOpensslAndReportsTheNeededLength) {
    Bytes der = readFile(fixture("objects/signed.p7.der"));
    std::string expected = readText(fixture("objects/signed.p7.pem"));
    BlobOwner allocated;
    ASSERT_EQ(TQXCrypt_Encode(der.data(), der.size(), &allocated, "PKCS7"), 0);
    EXPECT_EQ(allocated.text(), expected);
    EXPECT_EQ(allocated.b.data[allocated.b.length], 0);  // allocated text is NUL-terminated

    for (const char *label : {"PKCS7", static_cast<const char *>(nullptr)}) {
        std::vector<unsigned char> buffer(expected.size() + 4, 0xEE);
        TQXCRYPT_BLOB blob{0, buffer.data()};
        ASSERT_EQ(TQXCrypt_Encode(der.data(), der.size(), &blob, label), TQ_RTN_BUFFER_TOO_SMALL);
        uint64_t needed = blob.length;
        blob.length = needed - 1;
        ASSERT_EQ(TQXCrypt_Encode(der.data(), der.size(), &blob, label), TQ_RTN_BUFFER_TOO_SMALL);
        EXPECT_EQ(blob.length, needed);
        blob.length = needed;
        ASSERT_EQ(TQXCrypt_Encode(der.data(), der.size(), &blob, label), 0);
        EXPECT_EQ(blob.length, needed);
        if (label) {
            EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + needed), expected);
        }
    }
}

TEST(Base64, SingleLineIntoCallerBuffers) {
    Bytes data{1, 2, 3, 4};
    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    TQXCRYPT_BLOB blob{7, reinterpret_cast<unsigned char *>(buffer)};
    EXPECT_EQ(TQXCrypt_EncodeEx(data.data(), 4, &blob), TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(blob.length, 8u);
    blob.length = 9;  // room for the NUL: it must be written
    ASSERT_EQ(TQXCrypt_EncodeEx(data.data(), 4, &blob), 0);
    EXPECT_EQ(blob.length, 8u);
    EXPECT_STREQ(buffer, "AQIDBA==");
}

TEST(Hex, AgreesWithOdAndRoundTrips) {
    TempDir dir;
    Bytes data = randomBytes(300, 11);
    writeFile(dir.file("data.bin"), data);
    int status = -1;
    std::string od =
        run("od -An -v -tx1 '" + dir.file("data.bin") + "' | tr -d ' \\n' | tr a-f A-F", &status);
    ASSERT_EQ(status, 0);
    char *hex = nullptr;
    int hexLength = 0;
    ASSERT_EQ(TQXCrypt_HexEncode(data.data(), static_cast<int>(data.size()), &hex, &hexLength), 0);
    EXPECT_EQ(std::string(hex, hexLength), od);
    EXPECT_EQ(hex[hexLength], 0);
    unsigned char *back = nullptr;
    int backLength = 0;
    std::string lower = od;
    for (char &c : lower) c = static_cast<char>(std::tolower(c));
    ASSERT_EQ(TQXCrypt_HexDecode(lower.data(), hexLength, &back, &backLength), 0);
    EXPECT_EQ(Bytes(back, back + backLength), data);
    TQCryptMemFree(hex);
    TQCryptMemFree(back);
}

TEST(Hex, Errors) {
    struct Case {
        const char *hex;
        int length;
        int rc;
    } cases[] = {{"0A0", 3, TQ_RTN_MEMORY_ALLOCATE_FAIL},
                 {nullptr, 2, TQ_RTN_MEMORY_ALLOCATE_FAIL},
                 {"0g", 2, TQ_RTN_BAD_HEX},
                 {"g0", 2, TQ_RTN_BAD_HEX},
                 {"-2", -2, TQ_RTN_BAD_ARGUMENT},
                 {"-3", -3, TQ_RTN_BAD_ARGUMENT}};
    for (const Case &c : cases) {
        unsigned char *out = nullptr;
        int n = 0;
        EXPECT_EQ(TQXCrypt_HexDecode(c.hex, c.length, &out, &n), c.rc) << (c.hex ? c.hex : "null");
        TQCryptMemFree(out);
    }
    EXPECT_EQ(HexToInt('a'), 10);
    EXPECT_EQ(HexToInt('F' | 0x100), 15);  // only the low eight bits count
    EXPECT_EQ(HexToInt('G'), TQ_RTN_BAD_HEX);
    char *hex = nullptr;
    int n = 0;
    EXPECT_EQ(TQXCrypt_HexEncode(nullptr, 1, &hex, &n), TQ_RTN_MEMORY_ALLOCATE_FAIL);
    const unsigned char two[] = {0x0A, 0xFF};
    ASSERT_EQ(TQXCrypt_HexEncode(two, 2, &hex, &n), 0);
    EXPECT_STREQ(hex, "0AFF");
    TQCryptMemFree(hex);
}

TEST(Codecs, LengthsOpensslCannotTakeAreRefused) {
    BlobOwner out;
    const unsigned char byte = 0;
    EXPECT_EQ(TQXCrypt_Encode(&byte, static_cast<size_t>(INT_MAX) + 1, &out, nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_Decode("QQ==", static_cast<size_t>(INT_MAX) + 1, &out, nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_EncodeEx(&byte, -1, &out), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_Encode(&byte, 1, nullptr, nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_Decode("QQ==", 4, nullptr, nullptr), TQ_RTN_BAD_ARGUMENT);
}

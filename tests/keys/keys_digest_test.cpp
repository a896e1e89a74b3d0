// Digest handles and certificate fingerprints against the openssl tool.
#include <gtest/gtest.h>

#include <algorithm>

#include "keys_testutil.h"

using namespace keystest;
using tqtest::BlobOwner;
using tqtest::HandleOwner;

namespace {

// Feeds data through a digest handle in pieces of growing size.
Bytes hashInPieces(unsigned selector, const Bytes &data, size_t firstPiece) {
    TQXCRYPT_HANDLE *h = nullptr;
    EXPECT_EQ(TQXCrypt_HashInit(&h, selector), 0);
    size_t at = 0, piece = firstPiece;
    while (at < data.size()) {
        size_t n = std::min(piece, data.size() - at);
        EXPECT_EQ(TQXCrypt_HashUpdate(h, data.data() + at, n, 0), 0);
        at += n;
        piece = piece * 3 + 1;
    }
    BlobOwner out;
    EXPECT_EQ(TQXCrypt_HashFinal(h, 0, &out), 0);  // frees the handle
    return out.bytes();
}

}  // namespace

TEST(KeysDigest, HandlesAgreeWithOpensslDgst) {
    tqtest::TempDir dir;
    for (size_t size : {0u, 1u, 55u, 64u, 1000u, 70001u}) {
        const Bytes data = tqtest::randomBytes(size, static_cast<uint32_t>(size) + 1);
        const std::string file = dir.file("data");
        tqtest::writeFile(file, data);
        for (const Selector &s : kSelectors) {
            SCOPED_TRACE(std::string(s.md) + " over " + std::to_string(size));
            const Bytes theirs = shBytes(std::string("openssl dgst -") + s.md + " -binary " + file);
            EXPECT_EQ(hashInPieces(s.selector, data, 1), theirs);
            EXPECT_EQ(hashInPieces(s.selector, data, 64), theirs);
        }
    }
}

// The capacity is checked before the context is finished: the caller can
// retry with the same handle.
TEST(KeysDigest, FinalIntoTooSmallBufferCanBeRetried) {
    const Bytes data = tqtest::randomBytes(500, 2);
    TQXCRYPT_HANDLE *h = nullptr;
    ASSERT_EQ(TQXCrypt_HashInit(&h, TQXCRYPT_HASH_SHA256), 0);
    ASSERT_EQ(TQXCrypt_HashUpdate(h, data.data(), data.size(), 0), 0);
    unsigned char buffer[32];
    TQXCRYPT_BLOB out{31, buffer};
    EXPECT_EQ(TQXCrypt_HashFinal(h, 0, &out), TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(out.length, 32u);
    ASSERT_EQ(TQXCrypt_HashFinal(h, 0, &out), 0);  // frees the handle
    EXPECT_EQ(Bytes(buffer, buffer + out.length), hashInPieces(TQXCRYPT_HASH_SHA256, data, 500));
}

TEST(KeysDigest, RefusedArguments) {
    TQXCRYPT_HANDLE *h = nullptr;
    EXPECT_EQ(TQXCrypt_HashInit(nullptr, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_HashInit(&h, 7), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_HashInit(&h, 15), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(h, nullptr);
    HandleOwner key(privateKey("user.key.pem"));
    BlobOwner out;
    EXPECT_EQ(TQXCrypt_HashUpdate(nullptr, "a", 1, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_HashUpdate(key.get(), "a", 1, 0), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_HashFinal(key.get(), 0, &out), TQ_RTN_WRONG_HANDLE);
    HandleOwner digest;
    ASSERT_EQ(TQXCrypt_HashInit(digest.out(), TQXCRYPT_HASH_MD5), 0);
    EXPECT_EQ(TQXCrypt_HashUpdate(digest.get(), nullptr, 5, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_HashFinal(digest.get(), 0, nullptr), TQ_RTN_BAD_ARGUMENT);
    // An unfinished handle is released by its owner (leaks show in the sanitizer build).
}

TEST(KeysDigest, CertificateFingerprintAgreesWithOpenssl) {
    HandleOwner cert(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "keys/cert.sha256.der"));
    ASSERT_NE(cert.get(), nullptr);
    for (const Selector &s : kSelectors) {
        SCOPED_TRACE(s.md);
        std::string text =
            sh("openssl x509 -inform DER -in " + fx("cert.sha256.der") + " -noout -fingerprint -" + s.md);
        text = text.substr(text.find('=') + 1);
        BlobOwner out;
        ASSERT_EQ(TQXCrypt_CertGetDigest(cert.get(), s.selector, &out), 0);
        EXPECT_EQ(out.bytes(), hexBytes(text));
    }
    HandleOwner key(privateKey("user.key.pem"));
    BlobOwner out;
    EXPECT_EQ(TQXCrypt_CertGetDigest(key.get(), 0, &out), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_CertGetDigest(nullptr, 0, &out), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_CertGetDigest(cert.get(), 0, nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_CertGetDigest(cert.get(), 9, &out), TQ_RTN_BAD_ARGUMENT);
}

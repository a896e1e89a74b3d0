// Helpers the library keeps to itself: the error-queue pop, the blob
// writers, the handle check that tells the two objects of kinds 10 and 11
// apart, and the byte-order helpers. Their sources are built into the test.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "base_internal.h"
#include "testutil.h"

using namespace tqtest;

TEST(ErrorQueue, NewestFirstAndTheRestKeepTheirOrder) {
    ERR_clear_error();
    EXPECT_EQ(ERR_get_last_error(), 0u);
    ERR_raise_data(ERR_LIB_EVP, EVP_R_BAD_DECRYPT, "oldest %d", 1);
    ERR_raise(ERR_LIB_X509, X509_R_CERT_ALREADY_IN_HASH_TABLE);
    ERR_raise(ERR_LIB_ASN1, ERR_R_MALLOC_FAILURE);

    unsigned long newest = ERR_get_last_error();
    EXPECT_EQ(ERR_GET_LIB(newest), ERR_LIB_ASN1);
    EXPECT_EQ(ERR_GET_REASON(newest), ERR_R_MALLOC_FAILURE);
    unsigned long middle = ERR_get_last_error();
    EXPECT_EQ(ERR_GET_LIB(middle), ERR_LIB_X509);
    EXPECT_EQ(ERR_GET_REASON(middle), X509_R_CERT_ALREADY_IN_HASH_TABLE);
    // The entry left behind still carries its text.
    const char *data = nullptr;
    int flags = 0;
    unsigned long oldest = ERR_peek_error_data(&data, &flags);
    EXPECT_EQ(ERR_GET_REASON(oldest), EVP_R_BAD_DECRYPT);
    ASSERT_NE(data, nullptr);
    EXPECT_STREQ(data, "oldest 1");
    EXPECT_EQ(ERR_get_last_error(), oldest);
    EXPECT_EQ(ERR_get_last_error(), 0u);

    // The queue stays usable for what OpenSSL records next.
    ERR_raise(ERR_LIB_PEM, PEM_R_NO_START_LINE);
    EXPECT_EQ(ERR_GET_REASON(ERR_get_error()), PEM_R_NO_START_LINE);
    EXPECT_EQ(ERR_get_error(), 0u);
}

TEST(ErrorQueue, AFullRingIsPoppedFromItsNewestEnd) {
    ERR_clear_error();
    // More entries than the ring holds: only the newest ones stay.
    for (int reason = 1; reason <= 40; ++reason) ERR_raise(ERR_LIB_USER, reason);
    EXPECT_EQ(ERR_GET_REASON(ERR_get_last_error()), 40);
    EXPECT_EQ(ERR_GET_REASON(ERR_get_last_error()), 39);
    unsigned long first = ERR_get_error();
    ASSERT_NE(first, 0u);
    int reason = ERR_GET_REASON(first);
    // The rest come out oldest first, without a gap, up to 38.
    for (unsigned long e; (e = ERR_get_error()) != 0;) EXPECT_EQ(ERR_GET_REASON(e), ++reason);
    EXPECT_EQ(reason, 38);
}

// An operation tells its own entries from the caller's by their slot, not
// by what they say: here both are raised at the same place.
TEST(ErrorQueue, ScopesTellTheOperationsEntriesFromTheCallers) {
    const auto raiseHere = [] { ERR_raise(ERR_LIB_USER, 7); };
    for (bool callerEntry : {false, true}) {
        SCOPED_TRACE(callerEntry ? "a caller's entry" : "an empty queue");
        ERR_clear_error();
        if (callerEntry) raiseHere();
        {
            tq::ErrorQueueScope outer;
            EXPECT_EQ(tq::newestError(), 0u);
            raiseHere();
            EXPECT_EQ(ERR_GET_REASON(tq::newestError()), 7);
            {
                // An exported call made by an operation: the outer's entry is
                // its caller's.
                tq::ErrorQueueScope inner;
                EXPECT_EQ(tq::newestError(), 0u);
                ERR_raise(ERR_LIB_USER, 8);
                EXPECT_EQ(ERR_GET_REASON(tq::newestError()), 8);
                tq::clearErrors();
                EXPECT_EQ(tq::newestError(), 0u);
                ERR_raise(ERR_LIB_USER, 9);
            }
            EXPECT_EQ(ERR_GET_REASON(tq::newestError()), 7);
            tq::clearErrors();
            EXPECT_EQ(tq::newestError(), 0u);
            raiseHere();
        }
        EXPECT_EQ(ERR_GET_REASON(ERR_get_error()), callerEntry ? 7 : 0);
        EXPECT_EQ(ERR_get_error(), 0u);
    }
    // Outside every operation (a host freeing a handle) the whole queue goes.
    raiseHere();
    tq::clearErrors();
    EXPECT_EQ(ERR_peek_error(), 0u);
}

// libssl empties the queue of the thread it runs on; the host's signals are
// not for that thread.
TEST(ErrorQueue, WorkApartLeavesTheCallersQueueAndSignals) {
    ERR_clear_error();
    ERR_raise(ERR_LIB_USER, 5);
    sigset_t before, after;
    pthread_sigmask(SIG_SETMASK, nullptr, &before);
    struct Seen {
        int ran = 0;
        bool blocked = false;
    } seen;
    ASSERT_TRUE(tq::onOwnErrorQueue(
        [](void *context) {
            auto &s = *static_cast<Seen *>(context);
            ERR_raise(ERR_LIB_USER, 6);
            ERR_clear_error();
            sigset_t mask;
            pthread_sigmask(SIG_SETMASK, nullptr, &mask);
            s.blocked = sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGPIPE) == 1 &&
                        sigismember(&mask, SIGTERM) == 1;
            ++s.ran;
        },
        &seen));
    EXPECT_EQ(seen.ran, 1);
    EXPECT_TRUE(seen.blocked);
    pthread_sigmask(SIG_SETMASK, nullptr, &after);
    for (int sig : {SIGINT, SIGPIPE, SIGTERM}) EXPECT_EQ(sigismember(&after, sig), sigismember(&before, sig));
    EXPECT_EQ(ERR_GET_REASON(ERR_get_error()), 5);
    EXPECT_EQ(ERR_get_error(), 0u);
}

TEST(Blobs, AssignFollowsItsOwnRule) {
    const unsigned char ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    TQXCRYPT_BLOB allocated{0, nullptr};
    ASSERT_EQ(tqxCryptAssignBlob(&allocated, ten, 10), 0);
    EXPECT_EQ(allocated.length, 10u);
    EXPECT_EQ(Bytes(allocated.data, allocated.data + 10), Bytes(ten, ten + 10));
    EXPECT_EQ(allocated.data[10], 0);
    TQXCryptFreeBlob(&allocated);

    unsigned char buffer[12];
    std::memset(buffer, 0xEE, sizeof buffer);
    TQXCRYPT_BLOB small{9, buffer};
    EXPECT_EQ(tqxCryptAssignBlob(&small, ten, 10), TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(small.length, 9u);  // left as it was
    EXPECT_EQ(buffer[0], 0xEE);
    TQXCRYPT_BLOB fits{sizeof buffer, buffer};
    ASSERT_EQ(tqxCryptAssignBlob(&fits, ten, 10), 0);
    EXPECT_EQ(fits.length, 10u);
    EXPECT_EQ(Bytes(buffer, buffer + 10), Bytes(ten, ten + 10));
    EXPECT_EQ(buffer[10], 0xEE);  // no terminator in a caller's buffer
    EXPECT_EQ(tqxCryptAssignBlob(&fits, ten, -1), TQ_RTN_BAD_ARGUMENT);
}

TEST(Blobs, PutWritesBackTheNeededLength) {
    const unsigned char five[5] = {5, 4, 3, 2, 1};
    unsigned char buffer[5];
    std::memset(buffer, 0xEE, sizeof buffer);
    TQXCRYPT_BLOB small{4, buffer};
    EXPECT_EQ(tq::putBlob(&small, five, 5), TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(small.length, 5u);
    EXPECT_EQ(buffer[0], 0xEE);
    ASSERT_EQ(tq::putBlob(&small, five, 5), 0);
    EXPECT_EQ(Bytes(buffer, buffer + 5), Bytes(five, five + 5));
    TQXCRYPT_BLOB allocated{0, nullptr};
    ASSERT_EQ(tq::putBlob(&allocated, five, 5), 0);
    EXPECT_EQ(allocated.length, 5u);
    EXPECT_EQ(allocated.data[5], 0);
    TQXCryptFreeBlob(&allocated);
    EXPECT_EQ(tq::putBlob(nullptr, five, 5), TQ_RTN_BAD_ARGUMENT);
}

TEST(Blobs, ASecretSourceIsWipedWhetherHandedOutOrRefused) {
    const Bytes secret = {9, 8, 7, 6, 5, 4};
    const Bytes zeros(secret.size(), 0);
    Bytes source = secret;
    TQXCRYPT_BLOB out{0, nullptr};
    ASSERT_EQ(tq::putBlob(&out, source.data(), source.size(), tq::Wipe::Source), 0);
    EXPECT_EQ(Bytes(out.data, out.data + out.length), secret);
    EXPECT_EQ(source, zeros);
    TQXCryptFreeBlob(&out);

    source = secret;
    unsigned char buffer[2];
    TQXCRYPT_BLOB small{sizeof buffer, buffer};
    EXPECT_EQ(tq::putBlob(&small, source.data(), source.size(), tq::Wipe::Source), TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(source, zeros);
    // The exception of the rule: the needed length is not written back.
    TQXCRYPT_BLOB kept{sizeof buffer, buffer};
    EXPECT_EQ(tq::putBlob(&kept, secret.data(), secret.size(), tq::Wipe::Keep, tq::Shortfall::KeepLength),
              TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(kept.length, sizeof buffer);
}

// Kinds 10 and 11 each name two objects: the method table tells them apart.
TEST(Handles, SharedKindsAreToldApartByTheirTable) {
    HandleOwner request, response, p12(decodeFixture(11, "objects/user.p12"));
    Bytes reqDer = readFile(fixture("objects/ocsp.req.der"));
    Bytes respDer = readFile(fixture("objects/ocsp.resp.der"));
    ASSERT_EQ(
        tqxCryptASN1OCSPRequestMethod()->decode(request.out(), reqDer.data(), reqDer.size(), 0, nullptr), 0);
    ASSERT_EQ(
        tqxCryptASN1OCSPResponseMethod()->decode(response.out(), respDer.data(), respDer.size(), 0, nullptr),
        0);

    auto *ctx = static_cast<TQXCRYPT_CIPHER_CONTEXT *>(TQCryptMemAlloc(sizeof(TQXCRYPT_CIPHER_CONTEXT)));
    ASSERT_NE(ctx, nullptr);
    std::memset(ctx, 0, sizeof *ctx);
    ctx->ctx = EVP_CIPHER_CTX_new();
    HandleOwner cipher;
    ASSERT_EQ(tqxCryptCreateHandle(cipher.out(), 10, ctx, nullptr, nullptr), 0);

    struct Case {
        const char *what;
        TQXCRYPT_HANDLE *handle;
        int kind;
        const TQXCRYPT_ASN1_METHOD *wanted;
        int rc;
    } cases[] = {
        {"cipher as cipher", cipher.get(), 10, nullptr, 0},
        {"OCSP request as cipher", request.get(), 10, nullptr, TQ_RTN_WRONG_HANDLE},
        {"cipher as OCSP request", cipher.get(), 10, tqxCryptASN1OCSPRequestMethod(), TQ_RTN_WRONG_HANDLE},
        {"OCSP request as OCSP request", request.get(), 10, tqxCryptASN1OCSPRequestMethod(), 0},
        {"PKCS#12 as PKCS#12", p12.get(), 11, tqxCryptASN1PKCS12Method(), 0},
        {"OCSP response as PKCS#12", response.get(), 11, tqxCryptASN1PKCS12Method(), TQ_RTN_WRONG_HANDLE},
        {"PKCS#12 as OCSP response", p12.get(), 11, tqxCryptASN1OCSPResponseMethod(), TQ_RTN_WRONG_HANDLE},
        {"OCSP response as OCSP response", response.get(), 11, tqxCryptASN1OCSPResponseMethod(), 0},
        {"OCSP response as kind 10", response.get(), 10, tqxCryptASN1OCSPRequestMethod(),
         TQ_RTN_WRONG_HANDLE},
        {"no handle", nullptr, 10, nullptr, TQ_RTN_BAD_ARGUMENT},
    };
    for (const Case &c : cases) {
        void *object = nullptr;
        EXPECT_EQ(tq::objectOf(c.handle, c.kind, c.wanted, &object), c.rc) << c.what;
        if (c.rc == 0) {
            EXPECT_EQ(object, c.handle->object) << c.what;
        }
    }
}

TEST(ByteOrder, FourBytesReversed) {
    EXPECT_EQ(tqxhtonl(0x01020304u), 0x04030201u);
    EXPECT_EQ(tqxntohl(0x04030201u), 0x01020304u);
    EXPECT_EQ(tqxntohl(tqxhtonl(0xDEADBEEFu)), 0xDEADBEEFu);
}

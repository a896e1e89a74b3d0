// The contract a token layer relies on, with a stand-in token cipher made as
// it will be (EVP_CIPHER_meth_new, its key reference in the context's
// application data, a final hook): the data survives every init, the
// clean-up runs once when the handle is freed, hooks see direction and flags
// and their code is the call's result.
// The method API is deprecated in 3.0 but is how a token cipher is made.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <cstring>
#include <vector>

#include "cipher_testutil.h"
#include "tqxcrypt.h"

using namespace ciphertest;

namespace {

// What the stand-in's callbacks find in the application data.
struct KeyReference {
    unsigned char mask = 0x5A;
    int initsSeen = 0;
    int initsWithoutReference = 0;
    int cleanups = 0;
    bool failInit = false;
    bool failUpdate = false;
    std::vector<int> initDirections;
};
KeyReference *g_lastCleaned = nullptr;
int g_cleanupsWithoutReference = 0;

KeyReference *referenceOf(EVP_CIPHER_CTX *ctx) {
    return static_cast<KeyReference *>(EVP_CIPHER_CTX_get_app_data(ctx));
}

int standInInit(EVP_CIPHER_CTX *ctx, const unsigned char *, const unsigned char *, int enc) {
    KeyReference *ref = referenceOf(ctx);
    if (!ref) {
        ++g_cleanupsWithoutReference;  // counted as a lost reference
        return 0;
    }
    ++ref->initsSeen;
    ref->initDirections.push_back(enc);
    return ref->failInit ? 0 : 1;
}

int standInCipher(EVP_CIPHER_CTX *ctx, unsigned char *out, const unsigned char *in, size_t length) {
    KeyReference *ref = referenceOf(ctx);
    if (!ref || ref->failUpdate) return 0;
    for (size_t i = 0; i < length; ++i) out[i] = in[i] ^ ref->mask;
    return 1;
}

int standInCleanup(EVP_CIPHER_CTX *ctx) {
    KeyReference *ref = referenceOf(ctx);
    if (!ref) {
        ++g_cleanupsWithoutReference;
        return 1;
    }
    ++ref->cleanups;
    g_lastCleaned = ref;
    return 1;
}

// As the token layer's ECB objects: block size 8, mode bits 0, init on
// every initialisation.
EVP_CIPHER *makeStandIn() {
    EVP_CIPHER *c = EVP_CIPHER_meth_new(NID_des_ecb, 8, 8);
    EVP_CIPHER_meth_set_iv_length(c, 8);
    EVP_CIPHER_meth_set_flags(c, EVP_CIPH_ALWAYS_CALL_INIT);
    EVP_CIPHER_meth_set_init(c, standInInit);
    EVP_CIPHER_meth_set_do_cipher(c, standInCipher);
    EVP_CIPHER_meth_set_cleanup(c, standInCleanup);
    return c;
}

struct HookCall {
    int flags;
    int encrypt;
};
struct HookLog {
    std::vector<HookCall> inits, finals;
    int initResult = 0, finalResult = 0;
};
HookLog g_hooks;

int recordInit(TQXCRYPT_HANDLE *, int flags, int encrypt) {
    g_hooks.inits.push_back({flags, encrypt});
    return g_hooks.initResult;
}
int recordFinal(TQXCRYPT_HANDLE *, int flags, int encrypt) {
    g_hooks.finals.push_back({flags, encrypt});
    return g_hooks.finalResult;
}
const TQXCRYPT_CIPHER_HOOKS kRecordingHooks = {recordInit, recordFinal};
const TQXCRYPT_CIPHER_HOOKS kFinalOnly = {nullptr, recordFinal};

class CipherHooks : public ::testing::Test {
protected:
    void SetUp() override {
        TQXCryptInitialize();
        g_hooks = HookLog();
        g_lastCleaned = nullptr;
        g_cleanupsWithoutReference = 0;
        standIn_ = makeStandIn();
    }
    void TearDown() override {
        if (handle_) TQXCryptFreeHandle(handle_);
        EVP_CIPHER_meth_free(standIn_);
    }
    // A token cipher handle as the token layer builds it: a zeroed record, a
    // fresh OpenSSL context carrying the reference, the cipher and the hooks.
    TQXCRYPT_HANDLE *tokenHandle(const TQXCRYPT_CIPHER_HOOKS *hooks) {
        auto *c = static_cast<TQXCRYPT_CIPHER_CONTEXT *>(TQCryptMemAlloc(sizeof(TQXCRYPT_CIPHER_CONTEXT)));
        std::memset(c, 0, sizeof *c);
        c->ctx = EVP_CIPHER_CTX_new();
        EVP_CIPHER_CTX_set_app_data(c->ctx, &ref_);
        c->cipher = standIn_;
        c->hooks = hooks;
        EXPECT_EQ(tqxCryptCreateHandle(&handle_, TQXCRYPT_KIND_CIPHER, c, nullptr, nullptr), TQ_RTN_OK);
        return handle_;
    }
    Bytes masked(const Bytes &in) {
        Bytes out = in;
        for (auto &b : out) b ^= ref_.mask;
        return out;
    }
    EVP_CIPHER *standIn_ = nullptr;
    KeyReference ref_;
    TQXCRYPT_HANDLE *handle_ = nullptr;
};

TEST_F(CipherHooks, ReferenceSurvivesEveryInitAndIsCleanedUpOnceAtFree) {
    TQXCRYPT_HANDLE *h = tokenHandle(&kRecordingHooks);
    Bytes plain = tqtest::randomBytes(40, 1), out;
    for (int round = 0; round < 4; ++round) {
        const bool encrypt = round % 2 == 0;
        ASSERT_EQ(runOperation(h, encrypt, nullptr, TQXCRYPT_NO_PADDING, plain, {8, 16}, &out), TQ_RTN_OK);
        EXPECT_EQ(out, masked(plain));
        // Padding by OpenSSL over the token's whole blocks.
        ASSERT_EQ(runOperation(h, true, nullptr, 0, plain, {3}, &out), TQ_RTN_OK);
        EXPECT_EQ(out.size(), 48u);
    }
    EXPECT_EQ(ref_.initsSeen, 8);
    EXPECT_EQ(g_cleanupsWithoutReference, 0);
    EXPECT_EQ(ref_.cleanups, 0);
    EXPECT_EQ(EVP_CIPHER_CTX_get_app_data(static_cast<TQXCRYPT_CIPHER_CONTEXT *>(h->object)->ctx), &ref_);
    TQXCryptFreeHandle(h);
    handle_ = nullptr;
    EXPECT_EQ(ref_.cleanups, 1);
    EXPECT_EQ(g_lastCleaned, &ref_);
    EXPECT_EQ(g_cleanupsWithoutReference, 0);
}

TEST_F(CipherHooks, HooksSeeDirectionAndFlagsAndFinalRunsOnlyAfterAGoodFinal) {
    TQXCRYPT_HANDLE *h = tokenHandle(&kRecordingHooks);
    Bytes plain = tqtest::randomBytes(16, 2), out;
    ASSERT_EQ(runOperation(h, true, nullptr, TQXCRYPT_NO_PADDING | 0x40, plain, {}, &out), TQ_RTN_OK);
    ASSERT_EQ(runOperation(h, false, nullptr, 0x80, masked(Bytes(24, 8)), {}, &out), TQ_RTN_OK);
    ASSERT_EQ(g_hooks.inits.size(), 2u);
    ASSERT_EQ(g_hooks.finals.size(), 2u);
    EXPECT_EQ(g_hooks.inits[0].flags, TQXCRYPT_NO_PADDING | 0x40);
    EXPECT_EQ(g_hooks.inits[0].encrypt, 1);
    EXPECT_EQ(g_hooks.finals[0].flags, TQXCRYPT_NO_PADDING | 0x40);
    EXPECT_EQ(g_hooks.finals[0].encrypt, 1);
    EXPECT_EQ(g_hooks.inits[1].flags, 0x80);
    EXPECT_EQ(g_hooks.inits[1].encrypt, 0);
    EXPECT_EQ(g_hooks.finals[1].encrypt, 0);
    EXPECT_EQ(ref_.initDirections, (std::vector<int>{1, 0}));

    // A bad padding block fails the final: no final hook.
    Bytes badPadding = masked(Bytes(16, 0));
    EXPECT_EQ(runOperation(h, false, nullptr, 0, badPadding, {}, &out), TQ_RTN_DECRYPT_FAILED);
    EXPECT_EQ(g_hooks.finals.size(), 2u);
    // A no-padding final with an incomplete block neither.
    EXPECT_EQ(runOperation(h, true, nullptr, TQXCRYPT_NO_PADDING, Bytes(5, 1), {}, &out),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(g_hooks.finals.size(), 2u);

    // The hooks' codes are the calls' results.
    g_hooks.finalResult = 9123;
    EXPECT_EQ(runOperation(h, true, nullptr, 0, plain, {}, &out), 9123);
    g_hooks.initResult = 9124;
    const size_t initsBefore = static_cast<size_t>(ref_.initsSeen);
    EXPECT_EQ(TQXCrypt_EncryptInit(h, nullptr, 0), 9124);
    EXPECT_EQ(static_cast<size_t>(ref_.initsSeen), initsBefore);  // OpenSSL's init did not run
}

TEST_F(CipherHooks, FailedInitsStopTheOldOperation) {
    TQXCRYPT_HANDLE *h = tokenHandle(&kFinalOnly);
    Bytes plain = tqtest::randomBytes(16, 3);
    unsigned char out[64];
    int n = 0;
    for (int encrypt : {1, 0}) {
        SCOPED_TRACE(encrypt);
        const int failed = encrypt ? TQ_RTN_ENCRYPT_FAILED : TQ_RTN_DECRYPT_FAILED;
        auto init = encrypt ? TQXCrypt_EncryptInit : TQXCrypt_DecryptInit;
        auto update = encrypt ? TQXCrypt_EncryptUpdate : TQXCrypt_DecryptUpdate;
        auto final = encrypt ? TQXCrypt_EncryptFinal : TQXCrypt_DecryptFinal;
        ASSERT_EQ(init(h, nullptr, TQXCRYPT_NO_PADDING), TQ_RTN_OK);
        ASSERT_EQ(update(h, plain.data(), 8, out, &n), TQ_RTN_OK);
        ref_.failInit = true;
        EXPECT_EQ(init(h, nullptr, TQXCRYPT_NO_PADDING), failed);
        EXPECT_EQ(update(h, plain.data(), 8, out, &n), failed);
        EXPECT_EQ(final(h, out, &n, TQXCRYPT_NO_PADDING), failed);
        ref_.failInit = false;
        ASSERT_EQ(init(h, nullptr, TQXCRYPT_NO_PADDING), TQ_RTN_OK);
        ASSERT_EQ(update(h, plain.data(), 16, out, &n), TQ_RTN_OK);
        EXPECT_EQ(Bytes(out, out + n), masked(plain));
        ASSERT_EQ(final(h, out, &n, TQXCRYPT_NO_PADDING), TQ_RTN_OK);
        // A failing update ends the operation too.
        ASSERT_EQ(init(h, nullptr, TQXCRYPT_NO_PADDING), TQ_RTN_OK);
        ref_.failUpdate = true;
        EXPECT_EQ(update(h, plain.data(), 8, out, &n), failed);
        ref_.failUpdate = false;
        EXPECT_EQ(update(h, plain.data(), 8, out, &n), failed);
        EXPECT_EQ(final(h, out, &n, TQXCRYPT_NO_PADDING), failed);
    }
    EXPECT_TRUE(g_hooks.inits.empty());
    EXPECT_EQ(g_hooks.finals.size(), 2u);
    EXPECT_EQ(ref_.cleanups, 0);
}

TEST_F(CipherHooks, AnAbandonedOperationLeavesNothingInTheNext) {
    TQXCRYPT_HANDLE *h = tokenHandle(nullptr);
    Bytes plain = tqtest::randomBytes(8, 4), out;
    unsigned char buffer[64];
    int n = 0;
    ASSERT_EQ(TQXCrypt_EncryptInit(h, nullptr, 0), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_EncryptUpdate(h, plain.data(), 5, buffer, &n), TQ_RTN_OK);
    EXPECT_EQ(n, 0);
    ASSERT_EQ(runOperation(h, true, nullptr, TQXCRYPT_NO_PADDING, plain, {}, &out), TQ_RTN_OK);
    EXPECT_EQ(out, masked(plain));
    ASSERT_EQ(TQXCrypt_DecryptInit(h, nullptr, TQXCRYPT_NO_PADDING), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_DecryptUpdate(h, plain.data(), 3, buffer, &n), TQ_RTN_OK);
    // The no-padding count starts again at the next init too.
    ASSERT_EQ(runOperation(h, false, nullptr, TQXCRYPT_NO_PADDING, plain, {}, &out), TQ_RTN_OK);
    EXPECT_EQ(out, masked(plain));
}

}  // namespace

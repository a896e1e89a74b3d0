// Token DES, triple-DES and RC4 keys as cipher handles, judged by the
// openssl tool with the key value the token holds; the shim counts what
// reached the token and answers what SoftHSM2 cannot (RC4, failures).
#include <openssl/evp.h>

#include <cstring>

#include "bridge_token.h"
#include "cipher_testutil.h"
#include "tqxcrypt_cipher.h"
#include "tqxp11crypto.h"

namespace {

using bridgetest::Bytes;
using bridgetest::HandleOwner;
using ciphertest::opensslEnc;
using ciphertest::runOperation;

const Bytes kRc4Key = tqtest::randomBytes(16, 401);

class TokenCiphers : public bridgetest::TokenKeys {
protected:
    void SetUp() override {
        TokenKeys::SetUp();
        if (HasFatalFailure()) return;
        writeDes3("des3");
        writeSecret("des", TQXP11_KIND_DES, tqtest::randomBytes(8, 402));
        writeSecret("rc4", TQXP11_KIND_RC4, kRc4Key);
        des3Key = valueOf("des3");
        desKey = valueOf("des");
        ASSERT_EQ(des3Key.size(), 24u);
        ASSERT_EQ(desKey.size(), 8u);
    }
    // A triple-DES key of known value, written by the peer tool.
    void writeDes3(const std::string &label) {
        const std::string path = file(label + ".key", tqtest::randomBytes(24, 403 + label.size()));
        peer("--write-object '" + path + "' --type secrkey --key-type DES3:24 --label '" + label +
             "' --private --extractable");
    }
    // The peer tool writes no single-DES or RC4 keys: our writer does.
    void writeSecret(const std::string &label, CK_ULONG kind, Bytes value) {
        TQXP11_VALUE record{};
        record.secret.value = TQXP11_BYTES{value.data(), value.size()};
        TQXP11_OBJECT object = p11test::describe(label, kind, true, &record);
        ASSERT_EQ(TQXP11_WriteSymmetricKeyObject(&session, &object, TQXP11_EXTRACTABLE), TQP11_RTN_OK);
    }
    // The key value as the token holds it (odd parity set by the writer).
    Bytes valueOf(const std::string &label) {
        const std::string out = token.file(label + ".read");
        peer("--read-object --type secrkey --label '" + label + "' -o '" + out + "'");
        return tqtest::readFile(out);
    }
    TQXCRYPT_CIPHER_CONTEXT *contextOf(TQXCRYPT_HANDLE *h) {
        return static_cast<TQXCRYPT_CIPHER_CONTEXT *>(h->object);
    }
    void clearCounts() { shim::state().calls.clear(); }

    Bytes des3Key, desKey;
};

TEST_F(TokenCiphers, HandlesCarryTheTokenCipherObjects) {
    struct Case {
        int algorithm, flags;
        const char *label;
        int nid, block, keyLength, ivLength;
        unsigned long flagBits;
    } cases[] = {
        {TQXCRYPT_ALG_DEFAULT, 0, "des", NID_des_cbc, 8, 8, 8, 0x22},
        {TQXCRYPT_ALG_DES, TQXCRYPT_MODE_CBC, "des", NID_des_cbc, 8, 8, 8, 0x22},
        {TQXCRYPT_ALG_DES, TQXCRYPT_MODE_ECB, "des", NID_des_ecb, 8, 8, 8, 0x20},
        {TQXCRYPT_ALG_DES3, 0, "des3", NID_des_ede3_cbc, 8, 24, 8, 0x22},
        {TQXCRYPT_ALG_DES3, TQXCRYPT_MODE_ECB, "des3", NID_des_ede3_ecb, 8, 24, 8, 0x20},
        {TQXCRYPT_ALG_RC4, 0, "rc4", NID_rc4, 1, 16, 0, 0x28},
        {TQXCRYPT_ALG_RC4, TQXCRYPT_MODE_MASK, "rc4", NID_rc4, 1, 16, 0, 0x28},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.label) + " flags " + std::to_string(c.flags));
        HandleOwner h;
        ASSERT_EQ(TQXP11Crypt_GetSymmetricKey(&session, c.label, c.algorithm, c.flags, h.out()), TQ_RTN_OK);
        EXPECT_EQ(h.get()->kind, TQXCRYPT_KIND_CIPHER);
        const TQXCRYPT_CIPHER_CONTEXT *ctx = contextOf(h.get());
        ASSERT_NE(ctx->cipher, nullptr);
        EXPECT_EQ(EVP_CIPHER_get_nid(ctx->cipher), c.nid);
        EXPECT_EQ(EVP_CIPHER_get_block_size(ctx->cipher), c.block);
        EXPECT_EQ(EVP_CIPHER_get_key_length(ctx->cipher), c.keyLength);
        EXPECT_EQ(EVP_CIPHER_get_iv_length(ctx->cipher), c.ivLength);
        EXPECT_EQ(EVP_CIPHER_get_flags(ctx->cipher) & 0xFFFF, c.flagBits);
        // The key stays on the token.
        EXPECT_EQ(Bytes(ctx->key, ctx->key + sizeof ctx->key), Bytes(sizeof ctx->key, 0));
        ASSERT_NE(ctx->hooks, nullptr);
        EXPECT_EQ(ctx->hooks->init, nullptr);
        EXPECT_NE(ctx->hooks->final, nullptr);
    }
}

TEST_F(TokenCiphers, EncryptAndDecryptOnTheTokenAsOpensslEnc) {
    const Bytes iv = tqtest::randomBytes(8, 404), zeroIv(8, 0);
    struct Case {
        const char *label, *enc;
        int algorithm, flags;
        bool givenIv;
        size_t length;
        std::vector<size_t> chunks;
    } cases[] = {
        {"des", "des-cbc", TQXCRYPT_ALG_DES, 0, true, 37, {3, 5, 13}},
        {"des", "des-cbc", TQXCRYPT_ALG_DEFAULT, 0, false, 16, {16}},
        {"des", "des-ecb", TQXCRYPT_ALG_DES, TQXCRYPT_MODE_ECB | TQXCRYPT_NO_PADDING, false, 40, {8, 9}},
        {"des3", "des-ede3-cbc", TQXCRYPT_ALG_DES3, 0, false, 33, {1, 7, 9}},
        {"des3", "des-ede3-cbc", TQXCRYPT_ALG_DES3, TQXCRYPT_NO_PADDING, true, 48, {24, 1}},
        {"des3", "des-ede3", TQXCRYPT_ALG_DES3, TQXCRYPT_MODE_ECB, true, 23, {}},
        {"rc4", "rc4", TQXCRYPT_ALG_RC4, 0, false, 45, {1, 2, 3, 5}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.enc) + " flags " + std::to_string(c.flags));
        const bool noPadding = (c.flags & TQXCRYPT_NO_PADDING) != 0;
        const bool rc4 = c.algorithm == TQXCRYPT_ALG_RC4;
        const bool ecb = (c.flags & TQXCRYPT_MODE_ECB) != 0;
        const Bytes &key = rc4 ? kRc4Key : c.algorithm == TQXCRYPT_ALG_DES3 ? des3Key : desKey;
        const Bytes peerIv = rc4 || ecb ? Bytes() : c.givenIv ? iv : zeroIv;
        const Bytes plain = tqtest::randomBytes(c.length, 405 + c.length);
        const Bytes expected = opensslEnc(c.enc, key, peerIv, plain, false, noPadding);
        ASSERT_FALSE(expected.empty());

        HandleOwner h;
        ASSERT_EQ(TQXP11Crypt_GetSymmetricKey(&session, c.label, c.algorithm, c.flags, h.out()), TQ_RTN_OK);
        const unsigned char *givenIv = c.givenIv ? iv.data() : nullptr;
        // One handle: encryption, decryption of the peer's text, again.
        for (int round = 0; round < 2; ++round) {
            clearCounts();
            Bytes out;
            ASSERT_EQ(runOperation(h.get(), true, givenIv, c.flags, plain, c.chunks, &out), TQ_RTN_OK);
            EXPECT_EQ(out, expected);
            EXPECT_EQ(tokenCalls("C_EncryptInit"), 1);
            EXPECT_GE(tokenCalls("C_EncryptUpdate"), 1);
            EXPECT_EQ(tokenCalls("C_EncryptFinal"), 1);
            ASSERT_EQ(runOperation(h.get(), false, givenIv, c.flags, expected, c.chunks, &out), TQ_RTN_OK);
            EXPECT_EQ(out, plain);
            EXPECT_EQ(tokenCalls("C_DecryptInit"), 1);
            EXPECT_EQ(tokenCalls("C_DecryptFinal"), 1);
        }
    }
}

// A key whose value the token never reveals works all the same.
TEST_F(TokenCiphers, ASensitiveKeyThatNeverLeavesTheToken) {
    const Bytes value = tqtest::randomBytes(24, 413);
    const std::string path = file("sealed.key", value);
    peer("--write-object '" + path +
         "' --type secrkey --key-type DES3:24 --label sealed --private --sensitive");
    int status = -1;
    token.tool("--read-object --type secrkey --label sealed -o '" + token.file("sealed.read") + "'", &status);
    ASSERT_NE(status, 0) << "the token revealed the key";

    HandleOwner h;
    ASSERT_EQ(TQXP11Crypt_GetSymmetricKey(&session, "sealed", TQXCRYPT_ALG_DES3, 0, h.out()), TQ_RTN_OK);
    const Bytes iv = tqtest::randomBytes(8, 414), plain = tqtest::randomBytes(29, 415);
    Bytes out;
    ASSERT_EQ(runOperation(h.get(), true, iv.data(), 0, plain, {11}, &out), TQ_RTN_OK);
    EXPECT_EQ(out, opensslEnc("des-ede3-cbc", value, iv, plain, false, false));
}

TEST_F(TokenCiphers, MakerRefusals) {
    HandleOwner h;
    struct Case {
        TQXP11_SESSION *session;
        const char *label;
        int algorithm, flags, code;
    } cases[] = {
        {nullptr, "des3", TQXCRYPT_ALG_DES3, 0, TQ_RTN_BAD_ARGUMENT},
        {&session, nullptr, TQXCRYPT_ALG_DES3, 0, TQ_RTN_BAD_ARGUMENT},
        {&session, "des3", 3, 0, TQ_RTN_BAD_ARGUMENT},
        {&session, "des3", TQXCRYPT_ALG_AES128, 0, TQ_RTN_BAD_ARGUMENT},
        {&session, "des3", TQXCRYPT_ALG_AES256, 0, TQ_RTN_BAD_ARGUMENT},
        {&session, "des3", -1, 0, TQ_RTN_BAD_ARGUMENT},
        {&session, "des", TQXCRYPT_ALG_DES, TQXCRYPT_MODE_MASK, TQ_RTN_BAD_ARGUMENT},
        {&session, "des3", TQXCRYPT_ALG_DES3, TQXCRYPT_MODE_MASK, TQ_RTN_BAD_ARGUMENT},
        {&session, "none", TQXCRYPT_ALG_DES3, 0, TQP11_RTN_OBJECT_NOT_EXIST},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.label ? c.label : "(null)") + " " + std::to_string(c.algorithm));
        EXPECT_EQ(TQXP11Crypt_GetSymmetricKey(c.session, c.label, c.algorithm, c.flags, h.out()), c.code);
        EXPECT_EQ(h.get(), nullptr);
    }
    writeDes3("twice");
    writeDes3("twice");
    EXPECT_EQ(TQXP11Crypt_GetSymmetricKey(&session, "twice", TQXCRYPT_ALG_DES3, 0, h.out()),
              TQP11_RTN_OBJECT_HAS_PROBLEM);
    // Labels are searched by their first 255 characters.
    const std::string longLabel(255, 'k');
    writeSecret(longLabel, TQXP11_KIND_DES3, tqtest::randomBytes(24, 406));
    ASSERT_EQ(
        TQXP11Crypt_GetSymmetricKey(&session, (longLabel + "tail").c_str(), TQXCRYPT_ALG_DES3, 0, h.out()),
        TQ_RTN_OK);
    h.out();
    ASSERT_EQ(TQXP11_Logout(&session), TQP11_RTN_OK);
    EXPECT_EQ(TQXP11Crypt_GetSymmetricKey(&session, "des3", TQXCRYPT_ALG_DES3, 0, h.out()),
              TQP11_RTN_USER_NOT_LOGGED_IN);
    EXPECT_EQ(h.get(), nullptr);
}

TEST_F(TokenCiphers, AllocationFailuresGiveTheirCodeAndLeaveNothing) {
    for (int allowed = 0;; ++allowed) {
        SCOPED_TRACE(allowed);
        HandleOwner h;
        int rc = 0;
        bool failed = false;
        {
            bridgetest::FailingAllocator allocator(allowed);
            rc = TQXP11Crypt_GetSymmetricKey(&session, "des3", TQXCRYPT_ALG_DES3, 0, h.out());
            failed = allocator.failed();
        }
        if (!failed) {
            ASSERT_EQ(rc, TQ_RTN_OK);
            Bytes out;
            EXPECT_EQ(runOperation(h.get(), true, nullptr, 0, Bytes(16, 1), {}, &out), TQ_RTN_OK);
            break;
        }
        EXPECT_EQ(rc, TQ_RTN_MEMORY_ALLOCATE_FAIL);
        EXPECT_EQ(h.get(), nullptr);
        ASSERT_LT(allowed, 10);
    }
}

TEST_F(TokenCiphers, TransKeyAndDeleteKeyReachExactlyTheHandlesObject) {
    writeDes3("doomed");
    HandleOwner doomed, kept, software, key;
    ASSERT_EQ(TQXP11Crypt_GetSymmetricKey(&session, "doomed", TQXCRYPT_ALG_DES3, 0, doomed.out()), TQ_RTN_OK);
    ASSERT_EQ(TQXP11Crypt_GetSymmetricKey(&session, "des3", TQXCRYPT_ALG_DES3, 0, kept.out()), TQ_RTN_OK);
    const Bytes raw = tqtest::randomBytes(24, 407), iv(8, 0);
    ASSERT_EQ(TQXCrypt_CreateKey(TQXCRYPT_ALG_DES3, raw.data(), 24, iv.data(), 8, 0, software.out()),
              TQ_RTN_OK);
    key.h = bridgetest::softwarePrivateKey(bridgetest::bridgeFile("big.key.pem"));

    TQXP11_OBJECT read = p11test::describe("doomed", TQXP11_KIND_DES3, true);
    ASSERT_EQ(TQXP11_ReadObject(&session, &read), TQP11_RTN_OK);
    CK_OBJECT_HANDLE object = 0;
    EXPECT_EQ(TQXP11Crypt_TransKeyToP11hKey(doomed.get(), &object), TQ_RTN_OK);
    EXPECT_EQ(object, read.handle);
    TQXP11_FreeObject(&read);

    for (TQXCRYPT_HANDLE *other : {software.get(), key.get()}) {
        EXPECT_EQ(TQXP11Crypt_TransKeyToP11hKey(other, &object), TQ_RTN_WRONG_HANDLE);
        EXPECT_EQ(TQXP11Crypt_DeleteKey(&session, other), TQ_RTN_WRONG_HANDLE);
    }
    EXPECT_EQ(TQXP11Crypt_TransKeyToP11hKey(nullptr, &object), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXP11Crypt_DeleteKey(&session, nullptr), TQ_RTN_BAD_ARGUMENT);

    ASSERT_EQ(TQXP11Crypt_DeleteKey(&session, doomed.get()), TQ_RTN_OK);
    const std::string listed = peer("-O --type secrkey");
    EXPECT_EQ(listed.find("doomed"), std::string::npos) << listed;
    EXPECT_NE(listed.find("des3"), std::string::npos) << listed;
    // Releasing the handle afterwards leaves the other keys alone too.
    doomed.out();
    kept.out();
    EXPECT_NE(peer("-O --type secrkey").find("des3"), std::string::npos);
}

// An operation that ends without the final hook is closed on the token by
// the next init or the release: the next one starts afresh, with its IV.
TEST_F(TokenCiphers, NoOperationOutlivesItsEndOnTheToken) {
    const Bytes iv = tqtest::randomBytes(8, 408);
    const Bytes plain = tqtest::randomBytes(32, 409);
    const Bytes expected = opensslEnc("des-ede3-cbc", des3Key, iv, plain, false, false);
    HandleOwner h;
    ASSERT_EQ(TQXP11Crypt_GetSymmetricKey(&session, "des3", TQXCRYPT_ALG_DES3, 0, h.out()), TQ_RTN_OK);
    unsigned char buffer[64];
    int n = 0;
    auto fresh = [&]() {
        Bytes out;
        EXPECT_EQ(runOperation(h.get(), true, iv.data(), 0, plain, {5}, &out), TQ_RTN_OK);
        EXPECT_EQ(out, expected);
    };

    // A decryption whose padding is refused.
    Bytes garbage = tqtest::randomBytes(16, 410), out;
    garbage.back() = 0x00;
    EXPECT_EQ(runOperation(h.get(), false, iv.data(), 0, garbage, {}, &out), TQ_RTN_DECRYPT_FAILED);
    clearCounts();
    fresh();
    EXPECT_EQ(tokenCalls("C_DecryptFinal"), 1);

    // A no-padding final refused over an incomplete block, then a new init.
    ASSERT_EQ(TQXCrypt_EncryptInit(h.get(), iv.data(), TQXCRYPT_NO_PADDING), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_EncryptUpdate(h.get(), plain.data(), 12, buffer, &n), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_EncryptFinal(h.get(), buffer, &n, TQXCRYPT_NO_PADDING), TQ_RTN_BAD_ARGUMENT);
    fresh();

    // A new init over a running operation, in either direction.
    for (bool encrypt : {true, false}) {
        ASSERT_EQ(encrypt ? TQXCrypt_EncryptInit(h.get(), iv.data(), 0)
                          : TQXCrypt_DecryptInit(h.get(), iv.data(), 0),
                  TQ_RTN_OK);
        ASSERT_EQ(encrypt ? TQXCrypt_EncryptUpdate(h.get(), plain.data(), 16, buffer, &n)
                          : TQXCrypt_DecryptUpdate(h.get(), expected.data(), 16, buffer, &n),
                  TQ_RTN_OK);
        fresh();
    }

    // A handle released mid-operation leaves the session free.
    ASSERT_EQ(TQXCrypt_EncryptInit(h.get(), iv.data(), 0), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_EncryptUpdate(h.get(), plain.data(), 16, buffer, &n), TQ_RTN_OK);
    clearCounts();
    h.out();
    EXPECT_EQ(tokenCalls("C_EncryptFinal"), 1);
    ASSERT_EQ(TQXP11Crypt_GetSymmetricKey(&session, "des3", TQXCRYPT_ALG_DES3, 0, h.out()), TQ_RTN_OK);
    fresh();
}

TEST_F(TokenCiphers, TokenFailuresFailTheCallAndTheNextOperationIsRight) {
    const Bytes plain = tqtest::randomBytes(24, 411);
    const Bytes expected = opensslEnc("des-cbc", desKey, Bytes(8, 0), plain, false, false);
    HandleOwner h;
    ASSERT_EQ(TQXP11Crypt_GetSymmetricKey(&session, "des", TQXCRYPT_ALG_DES, 0, h.out()), TQ_RTN_OK);
    struct Case {
        const char *function;
        bool encrypt;
        int code;
    } cases[] = {
        {"C_EncryptInit", true, TQ_RTN_ENCRYPT_FAILED},
        {"C_DecryptInit", false, TQ_RTN_DECRYPT_FAILED},
        {"C_EncryptUpdate", true, TQ_RTN_ENCRYPT_FAILED},
        {"C_DecryptUpdate", false, TQ_RTN_DECRYPT_FAILED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function);
        shim::state().injections[c.function] = shim::Injection{CKR_DEVICE_ERROR};
        Bytes out;
        EXPECT_EQ(runOperation(h.get(), c.encrypt, nullptr, 0, c.encrypt ? plain : expected, {}, &out),
                  c.code);
        ASSERT_EQ(runOperation(h.get(), true, nullptr, 0, plain, {}, &out), TQ_RTN_OK);
        EXPECT_EQ(out, expected);
    }

    // Another operation already running on the session refuses the init.
    TQXP11_OBJECT other = p11test::describe("des3", TQXP11_KIND_DES3, true);
    ASSERT_EQ(TQXP11_EncryptInit(&session, TQXP11_MODE_DES3_ECB, &other), TQP11_RTN_OK);
    EXPECT_EQ(TQXCrypt_EncryptInit(h.get(), nullptr, 0), TQ_RTN_ENCRYPT_FAILED);
    unsigned char scratch[16];
    CK_ULONG length = sizeof scratch;
    ASSERT_EQ(TQXP11_EncryptFinal(&session, scratch, &length), TQP11_RTN_OK);
    TQXP11_FreeObject(&other);

    // What the token answers to the final hook changes nothing produced.
    shim::state().injections["C_EncryptFinal"] = shim::Injection{CKR_DEVICE_ERROR};
    Bytes out;
    EXPECT_EQ(runOperation(h.get(), true, nullptr, 0, plain, {}, &out), TQ_RTN_OK);
    EXPECT_EQ(out, expected);
    ASSERT_EQ(runOperation(h.get(), true, nullptr, 0, plain, {}, &out), TQ_RTN_OK);
    EXPECT_EQ(out, expected);
}

// The reference stays through every init and goes once with the handle,
// also for a handle that never ran (ASan sees a leak or a double free).
TEST_F(TokenCiphers, TheReferenceLivesAsLongAsTheHandle) {
    HandleOwner unused;
    ASSERT_EQ(TQXP11Crypt_GetSymmetricKey(&session, "rc4", TQXCRYPT_ALG_RC4, 0, unused.out()), TQ_RTN_OK);
    clearCounts();
    unused.out();
    EXPECT_EQ(tokenCalls("C_EncryptFinal") + tokenCalls("C_DecryptFinal"), 0);

    HandleOwner h;
    ASSERT_EQ(TQXP11Crypt_GetSymmetricKey(&session, "des3", TQXCRYPT_ALG_DES3, TQXCRYPT_MODE_ECB, h.out()),
              TQ_RTN_OK);
    void *reference = EVP_CIPHER_CTX_get_app_data(contextOf(h.get())->ctx);
    ASSERT_NE(reference, nullptr);
    const Bytes plain = tqtest::randomBytes(16, 412);
    Bytes out;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(runOperation(h.get(), i % 2 == 0, nullptr, TQXCRYPT_NO_PADDING, plain, {}, &out),
                  TQ_RTN_OK);
        EXPECT_EQ(EVP_CIPHER_CTX_get_app_data(contextOf(h.get())->ctx), reference);
    }
    CK_OBJECT_HANDLE object = 0;
    EXPECT_EQ(TQXP11Crypt_TransKeyToP11hKey(h.get(), &object), TQ_RTN_OK);
    EXPECT_NE(object, 0u);
    h.out();
    // The token object stays.
    EXPECT_NE(peer("-O --type secrkey").find("des3"), std::string::npos);
}

}  // namespace

// The stream cipher's init natives in a JVM with a handle made from raw key
// bytes, which records no IV length: an IV array shorter than the cipher
// reads is refused, a whole one is the IV the cipher runs with.
#include <gtest/gtest.h>
#include <jni.h>
#include <openssl/evp.h>

#include <vector>

#include "com_vandrelot_crypto_WKP11Crypt.h"
#include "jni_jvm.h"
#include "testutil.h"
#include "tq_codes.h"
#include "tqjni.h"
#include "tqxcrypt_cipher.h"

namespace {

JNIEnv *env_ = nullptr;
const auto *const jvm_ = ::testing::AddGlobalTestEnvironment(new tqtest::JvmEnvironment(&env_));

jbyteArray javaBytes(const std::vector<unsigned char> &bytes) {
    jbyteArray array = env_->NewByteArray(static_cast<jsize>(bytes.size()));
    env_->SetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()),
                             reinterpret_cast<const jbyte *>(bytes.data()));
    return array;
}

TEST(JniCipherInit, IvArrayAgainstTheCipherOfARawKey) {
    ASSERT_NE(env_, nullptr);
    jclass cls = env_->FindClass("com/vandrelot/crypto/WKP11Crypt");
    ASSERT_NE(cls, nullptr);
    jobject self = env_->AllocObject(cls);
    const struct {
        int algorithm;
        int mode;
        size_t keyLength;
        size_t ivLength;  // what the maker takes
        size_t given;
        int expected;
    } cases[] = {
        {TQXCRYPT_ALG_DES3, TQXCRYPT_MODE_CBC, 24, 8, 7, TQ_RTN_BAD_ARGUMENT},
        {TQXCRYPT_ALG_DES3, TQXCRYPT_MODE_CBC, 24, 8, 0, TQ_RTN_BAD_ARGUMENT},
        {TQXCRYPT_ALG_DES3, TQXCRYPT_MODE_CBC, 24, 8, 8, TQ_RTN_OK},
        {TQXCRYPT_ALG_DES, TQXCRYPT_MODE_CBC, 8, 8, 4, TQ_RTN_BAD_ARGUMENT},
        {TQXCRYPT_ALG_DES3, TQXCRYPT_MODE_ECB, 24, 8, 0, TQ_RTN_OK},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "algorithm " << c.algorithm << ", IV of " << c.given);
        std::vector<unsigned char> key(c.keyLength);
        for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<unsigned char>(7 * i + 1);
        const std::vector<unsigned char> madeWith(8, 0x11);
        tqtest::HandleOwner cipher;
        // The handle's own IV differs from the array's, so the output shows which one ran.
        ASSERT_EQ(TQXCrypt_CreateKey(c.algorithm, key.data(), static_cast<int>(key.size()), madeWith.data(),
                                     static_cast<int>(c.ivLength), c.mode, cipher.out()),
                  TQ_RTN_OK);
        std::vector<unsigned char> iv(c.given);
        for (size_t i = 0; i < iv.size(); ++i) iv[i] = static_cast<unsigned char>(0xa0 + i);
        jbyteArray ivArray = javaBytes(iv);
        const jlong handle = reinterpret_cast<jlong>(cipher.get());
        EXPECT_EQ(Java_com_vandrelot_crypto_WKP11Crypt_XEncryptInitX(env_, self, handle, ivArray),
                  c.expected);
        EXPECT_EQ(Java_com_vandrelot_crypto_WKP11Crypt_XDecryptInitX(env_, self, handle, ivArray),
                  c.expected);
        const bool started = c.expected == TQ_RTN_OK && Java_com_vandrelot_crypto_WKP11Crypt_XEncryptInitX(
                                                            env_, self, handle, ivArray) == TQ_RTN_OK;
        env_->DeleteLocalRef(ivArray);
        if (c.expected != TQ_RTN_OK) continue;
        ASSERT_TRUE(started);

        // One block through the core against OpenSSL with the array's IV.
        const std::vector<unsigned char> plain(16, 0x42);
        unsigned char ours[64];
        int count = 0, tail = 0;
        ASSERT_EQ(TQXCrypt_EncryptUpdate(cipher.get(), plain.data(), plain.size(), ours, &count), TQ_RTN_OK);
        ASSERT_EQ(TQXCrypt_EncryptFinal(cipher.get(), ours + count, &tail, 0), TQ_RTN_OK);
        const EVP_CIPHER *evp = c.mode == TQXCRYPT_MODE_CBC ? EVP_des_ede3_cbc() : EVP_des_ede3_ecb();
        EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
        unsigned char theirs[64];
        int n = 0, m = 0;
        ASSERT_EQ(EVP_EncryptInit_ex(ctx, evp, nullptr, key.data(),
                                     c.mode == TQXCRYPT_MODE_CBC ? iv.data() : nullptr),
                  1);
        ASSERT_EQ(EVP_EncryptUpdate(ctx, theirs, &n, plain.data(), static_cast<int>(plain.size())), 1);
        ASSERT_EQ(EVP_EncryptFinal_ex(ctx, theirs + n, &m), 1);
        EVP_CIPHER_CTX_free(ctx);
        EXPECT_EQ(tqtest::Bytes(ours, ours + count + tail), tqtest::Bytes(theirs, theirs + n + m));
    }
}

}  // namespace

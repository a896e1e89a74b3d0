// Out of memory, natives in a JVM (started with its JNI checks) store 5002 in
// ErrorCode and answer null, with nothing kept and no Java exception left
// behind: each allocation the library makes in turn fails, through the
// library allocator and operator new (the binding's own text conversions).
#include <gtest/gtest.h>
#include <jni.h>

#include <string>

#include "allocation_failure.h"
#include "com_vandrelot_crypto_WKP11Crypt.h"
#include "jni_jvm.h"
#include "testutil.h"
#include "tq_codes.h"
#include "tqjni.h"

namespace {

using tqtest::AllocationFailure;
using tqtest::sweepAllocations;

JNIEnv *env_ = nullptr;
const auto *const jvm_ = ::testing::AddGlobalTestEnvironment(new tqtest::JvmEnvironment(&env_));

class JniOutOfMemory : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(env_, nullptr);
        ASSERT_TRUE(AllocationFailure::watch("libtokencrypt.so"));
        ASSERT_EQ(env_->PushLocalFrame(64), 0);
        jclass cls = env_->FindClass("com/vandrelot/crypto/WKP11Crypt");
        ASSERT_NE(cls, nullptr);
        self = env_->AllocObject(cls);
        ASSERT_NE(self, nullptr);
    }
    void TearDown() override { env_->PopLocalFrame(nullptr); }

    // The code the native stored; the field is reset for the next call.
    int errorCode() {
        const int code = GetInteger(env_, self, "ErrorCode");
        SetInteger(env_, self, "ErrorCode", -1);
        return code;
    }
    // Checks a native's result after the code it stored and lets it go.
    void settle(int code, jobject result) {
        EXPECT_FALSE(env_->ExceptionCheck());
        EXPECT_EQ(result == nullptr, code != 0) << code;
        if (result) env_->DeleteLocalRef(result);
    }
    std::string text(jstring s) {
        const char *chars = env_->GetStringUTFChars(s, nullptr);
        std::string out(chars ? chars : "");
        if (chars) env_->ReleaseStringUTFChars(s, chars);
        return out;
    }

    jobject self = nullptr;
};

// A name text of the core handed on as a String: the binding converts it
// to the JVM's form in a string of its own.
TEST_F(JniOutOfMemory, CertificateSubject) {
    tqtest::HandleOwner cert(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "pkcs7/signer.pem", 0x2000));
    const jlong handle = reinterpret_cast<jlong>(cert.get());
    jstring subject = nullptr;
    std::string expected;
    sweepAllocations(
        [&] {
            subject = Java_com_vandrelot_crypto_WKP11Crypt_XCertGetSubjectX(env_, self, handle, 0);
            return errorCode();
        },
        [&](int code) {
            if (code == 0) {
                if (expected.empty()) expected = text(subject);
                EXPECT_EQ(text(subject), expected);
            }
            settle(code, subject);
        },
        {TQ_RTN_MEMORY_ALLOCATE_FAIL});
}

// A certificate encoded as Base64 text (the body of its PEM) into a byte array.
TEST_F(JniOutOfMemory, Base64Encoding) {
    tqtest::HandleOwner cert(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "pkcs7/signer.pem", 0x2000));
    const std::string pemText = tqtest::readText(tqtest::fixture("pkcs7/signer.pem"));
    std::string expected;
    const jlong handle = reinterpret_cast<jlong>(cert.get());
    jbyteArray pem = nullptr;
    sweepAllocations(
        [&] {
            pem = Java_com_vandrelot_crypto_WKP11Crypt_XEncodeObjectX__JII(env_, self, handle,
                                                                           TQXCRYPT_KIND_CERTIFICATE, 0x1000);
            return errorCode();
        },
        [&](int code) {
            if (code == 0) {
                jbyte *bytes = env_->GetByteArrayElements(pem, nullptr);
                const std::string base64(reinterpret_cast<char *>(bytes), env_->GetArrayLength(pem));
                env_->ReleaseByteArrayElements(pem, bytes, JNI_ABORT);
                if (expected.empty()) {
                    expected = base64;
                    EXPECT_NE(pemText.find("-----\n" + base64 + "-----END"), std::string::npos);
                }
                EXPECT_EQ(base64, expected);
            }
            settle(code, pem);
        },
        {TQ_RTN_MEMORY_ALLOCATE_FAIL});
}

}  // namespace

// Out of memory, the natives of the Linux build answer 5002 in ErrorCode and
// null, with nothing kept and no Java exception left behind: a JVM of the
// program's own (with its JNI checks) calls them against pcscd with vpcd
// readers and a virtual card, while each allocation the natives make in
// turn fails (the reader names and the ATR text they build).
#include <gtest/gtest.h>
#include <jni.h>

#include <string>
#include <vector>

#include "allocation_failure.h"
#include "jni_jvm.h"
#include "pcsc_stack.h"
#include "result_codes.h"

extern "C" {
JNIEXPORT jobjectArray JNICALL Java_com_quelmara_smartcard_SCUtils_ListReaders(JNIEnv *, jobject);
JNIEXPORT jstring JNICALL Java_com_quelmara_smartcard_SCUtils_GetATR(JNIEnv *, jobject, jstring);
}

namespace {

using tqtest::AllocationFailure;
using tqtest::sweepAllocations;

JNIEnv *env_ = nullptr;
const auto *const jvm_ = ::testing::AddGlobalTestEnvironment(new tqtest::JvmEnvironment(&env_));

const char *const kReader = "Virtual PCD 00 00";
constexpr int kSlot = 0;
// Historical bytes make an ATR text longer than a string holds in place.
const char *const kAtr = "3B8F8001804F0CA000000306030001000000006A";

class CardprobeOutOfMemory : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        missing_ = MissingPcscPackage();
        if (!missing_.empty()) return;
        stack_ = new PcscStack(std::string(CARDPROBE_TEST_WORK_DIR) + "/out-of-memory");
        problem_ = stack_->startDaemon(true);
        if (problem_.empty()) problem_ = stack_->insertCard({kAtr, {}}, kSlot);
    }
    static void TearDownTestSuite() {
        delete stack_;
        stack_ = nullptr;
    }
    void SetUp() override {
        if (!missing_.empty()) GTEST_SKIP() << missing_;
        ASSERT_EQ(problem_, "");
        ASSERT_NE(env_, nullptr);
        ASSERT_TRUE(AllocationFailure::watch("libcardprobe.so"));
        ASSERT_EQ(env_->PushLocalFrame(64), 0);
        jclass cls = env_->FindClass("com/quelmara/smartcard/SCUtils");
        ASSERT_NE(cls, nullptr);
        self = env_->AllocObject(cls);
        field = env_->GetFieldID(cls, "ErrorCode", "I");
        ASSERT_NE(field, nullptr);
    }
    void TearDown() override {
        if (env_) env_->PopLocalFrame(nullptr);
    }
    // The code the native stored; the field is reset for the next call.
    int errorCode() {
        const int code = env_->GetIntField(self, field);
        env_->SetIntField(self, field, -1);
        return code;
    }
    std::string text(jobject s) {
        const char *chars = env_->GetStringUTFChars(static_cast<jstring>(s), nullptr);
        std::string out(chars ? chars : "");
        if (chars) env_->ReleaseStringUTFChars(static_cast<jstring>(s), chars);
        return out;
    }
    void settle(int code, jobject result) {
        EXPECT_FALSE(env_->ExceptionCheck());
        EXPECT_EQ(result == nullptr, code != 0) << code;
        if (result) env_->DeleteLocalRef(result);
    }

    jobject self = nullptr;
    jfieldID field = nullptr;
    static PcscStack *stack_;
    static std::string missing_, problem_;
};
PcscStack *CardprobeOutOfMemory::stack_ = nullptr;
std::string CardprobeOutOfMemory::missing_;
std::string CardprobeOutOfMemory::problem_;

TEST_F(CardprobeOutOfMemory, ListReaders) {
    jobjectArray names = nullptr;
    sweepAllocations(
        [&] {
            names = Java_com_quelmara_smartcard_SCUtils_ListReaders(env_, self);
            return errorCode();
        },
        [&](int code) {
            if (code == 0) {
                std::vector<std::string> got;
                for (jsize i = 0; i < env_->GetArrayLength(names); ++i) {
                    jobject name = env_->GetObjectArrayElement(names, i);
                    got.push_back(text(name));
                    env_->DeleteLocalRef(name);
                }
                EXPECT_EQ(got, (std::vector<std::string>{kReader, "Virtual PCD 00 01"}));
            }
            settle(code, names);
        },
        {TQ_RTN_MEMORY_ALLOCATE_FAIL});
}

TEST_F(CardprobeOutOfMemory, AtrText) {
    jstring reader = env_->NewStringUTF(kReader);
    jstring atr = nullptr;
    sweepAllocations(
        [&] {
            atr = Java_com_quelmara_smartcard_SCUtils_GetATR(env_, self, reader);
            return errorCode();
        },
        [&](int code) {
            if (code == 0) {
                EXPECT_EQ(text(atr), kAtr);
            }
            settle(code, atr);
        },
        {TQ_RTN_MEMORY_ALLOCATE_FAIL});
}

}  // namespace

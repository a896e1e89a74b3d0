// Out of memory, natives in a JVM (started with its JNI checks) store 5002 in
// ErrorCode and answer null, with nothing kept and no Java exception left
// behind: each allocation the library makes in turn fails, through the
// library allocator and operator new (the binding's own text conversions
// between standard and modified UTF-8). The binding's copy of a password
// is wiped before it goes back.
#include <gtest/gtest.h>
#include <jni.h>

#include <functional>
#include <string>

#include "allocation_failure.h"
#include "com_vandrelot_crypto_WKP11Crypt.h"
#include "jni_jvm.h"
#include "testutil.h"
#include "tq_codes.h"
#include "tqcrypt.h"
#include "tqjni.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_cipher.h"
#include "tqxcrypt_store.h"

// The library exports the long name of the key derivation (javac declares the short one).
extern "C" JNIEXPORT jlong JNICALL
Java_com_vandrelot_crypto_WKP11Crypt_XGenerateKeyX__ILjava_lang_String_2_3BII(JNIEnv *, jobject, jint,
                                                                              jstring, jbyteArray, jint,
                                                                              jint);

namespace {

using tqtest::AllocationFailure;
using tqtest::HandleOwner;
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
    // What a result holds, for comparing runs: texts, bytes and, through
    // reflection, the public fields of result objects, so a part missing
    // from an object shows.
    std::string describe(jobject o) {
        if (!o) return "null";
        if (isA(o, "java/lang/String")) {
            const char *chars = env_->GetStringUTFChars(static_cast<jstring>(o), nullptr);
            std::string out = std::string("\"") + chars + "\"";
            env_->ReleaseStringUTFChars(static_cast<jstring>(o), chars);
            return out;
        }
        if (isA(o, "[B")) {
            auto array = static_cast<jbyteArray>(o);
            std::string out(static_cast<size_t>(env_->GetArrayLength(array)), '\0');
            env_->GetByteArrayRegion(array, 0, env_->GetArrayLength(array),
                                     reinterpret_cast<jbyte *>(&out[0]));
            return tqtest::toHex(tqtest::Bytes(out.begin(), out.end()));
        }
        if (isA(o, "java/lang/Number") || isA(o, "java/lang/Boolean")) {
            jclass objectClass = env_->FindClass("java/lang/Object");
            jobject text = invoke(o, env_->GetMethodID(objectClass, "toString", "()Ljava/lang/String;"));
            const std::string out = describe(text);
            env_->DeleteLocalRef(text);
            env_->DeleteLocalRef(objectClass);
            return out;
        }
        if (isA(o, "[Ljava/lang/Object;")) {
            auto array = static_cast<jobjectArray>(o);
            std::string out = "[";
            for (jsize i = 0; i < env_->GetArrayLength(array); ++i) {
                jobject item = env_->GetObjectArrayElement(array, i);
                out += describe(item) + ",";
                env_->DeleteLocalRef(item);
            }
            return out + "]";
        }
        jclass cls = env_->GetObjectClass(o);
        jclass classClass = env_->FindClass("java/lang/Class");
        jclass fieldClass = env_->FindClass("java/lang/reflect/Field");
        auto fields = static_cast<jobjectArray>(
            invoke(cls, env_->GetMethodID(classClass, "getFields", "()[Ljava/lang/reflect/Field;")));
        const jmethodID get = env_->GetMethodID(fieldClass, "get", "(Ljava/lang/Object;)Ljava/lang/Object;");
        const jmethodID name = env_->GetMethodID(fieldClass, "getName", "()Ljava/lang/String;");
        std::string out = "{";
        for (jsize i = 0; i < env_->GetArrayLength(fields); ++i) {
            jobject field = env_->GetObjectArrayElement(fields, i);
            jobject fieldName = invoke(field, name);
            jobject value = invoke(field, get, o);
            out += describe(fieldName) + "=" + describe(value) + ",";
            env_->DeleteLocalRef(value);
            env_->DeleteLocalRef(fieldName);
            env_->DeleteLocalRef(field);
        }
        env_->DeleteLocalRef(fields);
        env_->DeleteLocalRef(fieldClass);
        env_->DeleteLocalRef(classClass);
        env_->DeleteLocalRef(cls);
        return out + "}";
    }
    // A method call whose failure fails the test, checked as the JVM wants.
    template <class... Args>
    jobject invoke(jobject o, jmethodID method, Args... args) {
        jobject out = env_->CallObjectMethod(o, method, args...);
        EXPECT_FALSE(env_->ExceptionCheck());
        return out;
    }
    bool isA(jobject o, const char *className) {
        jclass cls = env_->FindClass(className);
        const bool yes = env_->IsInstanceOf(o, cls);
        env_->DeleteLocalRef(cls);
        return yes;
    }

    jobject self = nullptr;
};

TEST_F(JniOutOfMemory, EveryKindOfConversion) {
    HandleOwner cert(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "pkcs7/signer.pem", 0x2000));
    HandleOwner leaf(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "extensions/leaf.der"));
    HandleOwner crl(tqtest::decodeFixture(TQXCRYPT_KIND_CRL, "revocations/crl.pem", 0x2000));
    const auto handle = [](const HandleOwner &h) { return reinterpret_cast<jlong>(h.get()); };
    const tqtest::Bytes der = tqtest::readFile(tqtest::fixture("pkcs7/signer.der"));
    jbyteArray derArray = env_->NewByteArray(static_cast<jsize>(der.size()));
    env_->SetByteArrayRegion(derArray, 0, static_cast<jsize>(der.size()),
                             reinterpret_cast<const jbyte *>(der.data()));
    jstring label = env_->NewStringUTF("CERTIFICATE");
    // A Base64 signature by the text API, the trusted chain and the data.
    const tqtest::Bytes data = tqtest::readFile(tqtest::fixture("pkcs7/data.bin"));
    jbyteArray dataArray = env_->NewByteArray(static_cast<jsize>(data.size()));
    env_->SetByteArrayRegion(dataArray, 0, static_cast<jsize>(data.size()),
                             reinterpret_cast<const jbyte *>(data.data()));
    HandleOwner store;
    ASSERT_EQ(TQXCrypt_LoadStore(store.out(), tqtest::readText(tqtest::fixture("pkcs7/chain.pem")).c_str(),
                                 nullptr),
              0);
    char *text = nullptr;
    ASSERT_EQ(TQCrypt_Sign(tqtest::readText(tqtest::fixture("pkcs7/signer.pem")).c_str(),
                           tqtest::readText(tqtest::fixture("pkcs7/signer.key.pem")).c_str(), nullptr,
                           nullptr, data.data(), data.size(), 0, 0, TQXCRYPT_HASH_SHA256, &text),
              0);
    jstring signature = env_->NewStringUTF(text);
    TQCryptMemFree(text);
    // A subject beyond the Basic Multilingual Plane: its modified UTF-8 is
    // converted to standard UTF-8 for the core.
    const std::u16string wide = u"CN=Signer with a face \U0001F600";
    jstring subject =
        env_->NewString(reinterpret_cast<const jchar *>(wide.data()), static_cast<jsize>(wide.size()));

    const struct Row {
        const char *what;
        bool answersObject;  // else the native answers its code
        std::function<jobject()> call;
    } rows[] = {
        {"subject text", true,
         [&] { return Java_com_vandrelot_crypto_WKP11Crypt_XCertGetSubjectX(env_, self, handle(cert), 0); }},
        {"Base64 of an object", true,
         [&] {
             return Java_com_vandrelot_crypto_WKP11Crypt_XEncodeObjectX__JII(
                 env_, self, handle(cert), TQXCRYPT_KIND_CERTIFICATE, 0x1000);
         }},
        {"PEM text of bytes", true,
         [&] {
             return Java_com_vandrelot_crypto_WKP11Crypt_Encode___3BLjava_lang_String_2(env_, self, derArray,
                                                                                        label);
         }},
        {"authority key identifier with its general names", true,
         [&] {
             return Java_com_vandrelot_crypto_WKP11Crypt_XCertGetAuthorityKeyIdentifierX(env_, self,
                                                                                         handle(leaf));
         }},
        {"distribution points", true,
         [&] {
             return Java_com_vandrelot_crypto_WKP11Crypt_XCertGetCRLDistributionPointsX(env_, self,
                                                                                        handle(leaf));
         }},
        {"revoked entry with its date", true,
         [&] {
             return Java_com_vandrelot_crypto_WKP11Crypt_XCRLGetRevokedInfoX(env_, self, handle(crl), 0);
         }},
        {"text signature verified, the signer's texts kept", false,
         [&] {
             Java_com_vandrelot_crypto_WKP11Crypt_PKCS7VerifyX(env_, self, handle(store), signature,
                                                               dataArray, nullptr, 0, 0, 0);
             return jobject(nullptr);
         }},
        {"subject set from a String", false,
         [&] {
             Java_com_vandrelot_crypto_WKP11Crypt_XCertSetSubjectX(env_, self, handle(cert), subject);
             return jobject(nullptr);
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        jobject result = nullptr;
        std::string expected;
        sweepAllocations(
            [&] {
                result = row.call();
                return errorCode();
            },
            [&](int code) {
                EXPECT_FALSE(env_->ExceptionCheck());
                if (row.answersObject) {
                    EXPECT_EQ(result == nullptr, code != 0) << code;
                }
                // The signer fields only the text verification sets.
                jobject info = GetString(env_, self, "strSignerInfo");
                jobject signerCert = GetString(env_, self, "strSignerCert");
                const std::string got = describe(result) + describe(info) + describe(signerCert);
                if (code != 0) {
                    EXPECT_EQ(got, "nullnullnull");
                } else {
                    if (expected.empty()) expected = got;
                    EXPECT_EQ(got, expected);
                }
                SetString(env_, self, "strSignerInfo", nullptr);
                SetString(env_, self, "strSignerCert", nullptr);
                for (jobject o : {result, info, signerCert})
                    if (o) env_->DeleteLocalRef(o);
            },
            {TQ_RTN_MEMORY_ALLOCATE_FAIL});
    }
}

// A password beyond the Basic Multilingual Plane is converted to standard
// UTF-8 for the core, in a copy of the binding's own (long enough to live on
// the heap): no block goes back holding it.
TEST_F(JniOutOfMemory, PasswordCopyIsWipedBeforeItIsFreed) {
    const std::u16string wide = u"a passphrase long enough for the heap \U0001F511";
    const std::string standard = "a passphrase long enough for the heap \xF0\x9F\x94\x91";
    jstring password =
        env_->NewString(reinterpret_cast<const jchar *>(wide.data()), static_cast<jsize>(wide.size()));
    const unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    jbyteArray saltArray = env_->NewByteArray(sizeof salt);
    env_->SetByteArrayRegion(saltArray, 0, sizeof salt, reinterpret_cast<const jbyte *>(salt));
    AllocationFailure::watchForSecret(standard);
    const jlong key = Java_com_vandrelot_crypto_WKP11Crypt_XGenerateKeyX__ILjava_lang_String_2_3BII(
        env_, self, TQXCRYPT_ALG_AES256, password, saltArray, 10, 0);
    const long unwiped = AllocationFailure::stopWatchingForSecret();
    ASSERT_EQ(errorCode(), 0);
    TQXCryptFreeHandle(reinterpret_cast<TQXCRYPT_HANDLE *>(key));
    EXPECT_EQ(unwiped, 0) << "blocks freed with the password in them";
}

}  // namespace

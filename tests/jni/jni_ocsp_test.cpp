// The OCSP native in a JVM against openssl ocsp on 127.0.0.1: the store has
// no native of its own here, so the test makes it through the core.
#include <gtest/gtest.h>
#include <jni.h>

#include <string>

#include "com_vandrelot_crypto_WKP11Crypt.h"
#include "jni_jvm.h"
#include "ocsp_peers.h"
#include "testutil.h"
#include "tq_codes.h"
#include "tqjni.h"
#include "tqxcrypt_store.h"

namespace {

JNIEnv *env_ = nullptr;
const auto *const jvm_ = ::testing::AddGlobalTestEnvironment(new tqtest::JvmEnvironment(&env_));

std::string fx() { return tqtest::fixture("ocsp"); }

TEST(JniOcsp, GoodRevokedUnknownAgainstOpensslOcsp) {
    ASSERT_NE(env_, nullptr);
    tqtest::HandleOwner store;
    ASSERT_EQ(TQXCrypt_LoadStore(store.out(), tqtest::readText(fx() + "/ca.pem").c_str(), nullptr),
              TQ_RTN_OK);
    tqtest::HandleOwner responder(tqtest::decodeFixture(1, "ocsp/responder.pem", 0x2000));
    jclass cls = env_->FindClass("com/vandrelot/crypto/WKP11Crypt");
    ASSERT_NE(cls, nullptr);
    jobject self = env_->AllocObject(cls);
    const struct {
        const char *cert;
        int expected;
    } cases[] = {
        {"ocsp/user-1000.pem", TQ_RTN_OK},
        {"ocsp/user-1001.pem", TQ_RTN_REVOKED_KEY_COMPROMISE},
        {"ocsp/user-100A.pem", TQ_RTN_OCSP_STATUS_UNKNOWN},
    };
    tqtest::OcspResponder server(fx(), 3);
    for (const auto &c : cases) {
        tqtest::HandleOwner cert(tqtest::decodeFixture(1, c.cert, 0x2000));
        jstring url = env_->NewStringUTF(server.url().c_str());
        SetInteger(env_, self, "ErrorCode", -1);
        const jint code = Java_com_vandrelot_crypto_WKP11Crypt_XOCSPVerifyCertX(
            env_, self, 0, 0, reinterpret_cast<jlong>(cert.get()), reinterpret_cast<jlong>(store.get()),
            reinterpret_cast<jlong>(responder.get()), url);
        EXPECT_EQ(code, c.expected) << c.cert;
        EXPECT_EQ(GetInteger(env_, self, "ErrorCode"), c.expected) << c.cert;
        env_->DeleteLocalRef(url);
    }
    // No URL reaches the core as null.
    tqtest::HandleOwner cert(tqtest::decodeFixture(1, "ocsp/user-1000.pem", 0x2000));
    EXPECT_NE(Java_com_vandrelot_crypto_WKP11Crypt_XOCSPVerifyCertX(
                  env_, self, 0, 0, reinterpret_cast<jlong>(cert.get()), reinterpret_cast<jlong>(store.get()),
                  0, nullptr),
              TQ_RTN_OK);
    EXPECT_FALSE(env_->ExceptionCheck());
}

}  // namespace

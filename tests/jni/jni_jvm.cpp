#include "jni_jvm.h"

#include "jvm_start.h"

namespace tqtest {

void JvmEnvironment::SetUp() {
    static JNIEnv *started = nullptr;
    if (!started) {
        started = jvmstart::startJvm(TQ_JNI_CLASSES, true);
        ASSERT_NE(started, nullptr) << "the JVM does not start";
    }
    *env_ = started;
}

}  // namespace tqtest

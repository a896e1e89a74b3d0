// What a Java test sets for the shim module and reads back from it: the
// state library is shared with the shim the token layer loads in the JVM.
#include <jni.h>

#include <string>

#include "shim_state.h"

namespace {

std::string textOf(JNIEnv *env, jstring s) {
    if (!s) return std::string();
    const char *chars = env->GetStringUTFChars(s, nullptr);
    if (!chars) return std::string();
    std::string text(chars);
    env->ReleaseStringUTFChars(s, chars);
    return text;
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_tq_jnitest_ShimControl_reset(JNIEnv *, jclass) { shim::reset(); }

JNIEXPORT void JNICALL Java_tq_jnitest_ShimControl_setLoginParts(JNIEnv *, jclass, jlong parts) {
    shim::state().loginParts = static_cast<CK_ULONG>(parts);
}

JNIEXPORT void JNICALL Java_tq_jnitest_ShimControl_inject(JNIEnv *env, jclass, jstring function, jlong rv) {
    shim::state().injections[textOf(env, function)] = {static_cast<CK_RV>(rv), 0, 1};
}

JNIEXPORT jint JNICALL Java_tq_jnitest_ShimControl_calls(JNIEnv *env, jclass, jstring function) {
    return shim::calls(textOf(env, function));
}

}  // extern "C"

// A JVM in this process through the invocation API, its class path given;
// the test programs add the JVM's JNI checks, the benches measure without
// them. Header only: the benches have none of the test support library.
#pragma once

#include <jni.h>

#include <string>

namespace jvmstart {

// Null when the JVM does not start.
inline JNIEnv *startJvm(const std::string &classPath, bool jniChecks) {
    std::string path = "-Djava.class.path=" + classPath;
    JavaVMOption options[2];
    options[0].optionString = const_cast<char *>(path.c_str());
    options[1].optionString = const_cast<char *>("-Xcheck:jni");
    JavaVMInitArgs args{JNI_VERSION_1_8, jniChecks ? 2 : 1, options, JNI_FALSE};
    JavaVM *vm = nullptr;
    JNIEnv *env = nullptr;
    return JNI_CreateJavaVM(&vm, reinterpret_cast<void **>(&env), &args) == JNI_OK ? env : nullptr;
}

}  // namespace jvmstart

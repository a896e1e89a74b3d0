// A JVM inside a benchmark program, with the bench's Java class loaded and
// the library under test loaded by that class.
#pragma once

#include <jni.h>

#include <string>

namespace tqbench {

// The class's static `load(String)` loads the library; null when any step fails.
inline jclass startJvm(const char *classes, const char *className, const char *library, JNIEnv **env) {
    std::string classPath = std::string("-Djava.class.path=") + classes;
    JavaVMOption options[1];
    options[0].optionString = const_cast<char *>(classPath.c_str());
    JavaVMInitArgs args{JNI_VERSION_1_8, 1, options, JNI_FALSE};
    JavaVM *vm = nullptr;
    if (JNI_CreateJavaVM(&vm, reinterpret_cast<void **>(env), &args) != JNI_OK) return nullptr;
    jclass bench = (*env)->FindClass(className);
    if (!bench) return nullptr;
    (*env)->CallStaticVoidMethod(bench, (*env)->GetStaticMethodID(bench, "load", "(Ljava/lang/String;)V"),
                                 (*env)->NewStringUTF(library));
    return (*env)->ExceptionCheck() ? nullptr : bench;
}

}  // namespace tqbench

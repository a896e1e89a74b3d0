// A JVM inside a benchmark program, with the bench's Java class loaded and
// the library under test loaded by that class.
#pragma once

#include <jni.h>

#include "jvm_start.h"

namespace tqbench {

// The class's static `load(String)` loads the library; null when any step fails.
inline jclass startJvm(const char *classes, const char *className, const char *library, JNIEnv **env) {
    *env = jvmstart::startJvm(classes, false);
    if (!*env) return nullptr;
    jclass bench = (*env)->FindClass(className);
    if (!bench) return nullptr;
    (*env)->CallStaticVoidMethod(bench, (*env)->GetStaticMethodID(bench, "load", "(Ljava/lang/String;)V"),
                                 (*env)->NewStringUTF(library));
    return (*env)->ExceptionCheck() ? nullptr : bench;
}

}  // namespace tqbench

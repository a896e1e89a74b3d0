// The result classes of com/tq/pki and the builders of names from attribute lists.
#include <cstdarg>
#include <cstring>
#include <string>

#include "jni_internal.h"

namespace {

const char kAttribute[] = "com/tq/pki/X509Attribute";
const char kListSignature[] = "([Lcom/tq/pki/X509Attribute;)V";

// The constructor of a class; a failure stays pending for the caller.
bool constructorOf(JNIEnv *env, const char *className, const char *signature, jclass &cls, jmethodID &id) {
    if (!className || !signature) return false;
    cls = env->FindClass(className);
    if (!cls) return false;
    id = env->GetMethodID(cls, "<init>", signature);
    if (!id) {
        env->DeleteLocalRef(cls);
        return false;
    }
    return true;
}

jstring textOf(JNIEnv *env, tqjni::HeldException &failure, const char *standardUtf8) {
    if (!standardUtf8) return nullptr;
    const std::string modified = tqjni::toModifiedUtf8(standardUtf8, std::strlen(standardUtf8));
    jstring s = env->NewStringUTF(modified.c_str());
    if (!s) failure.take();
    return s;
}

jobject newName(JNIEnv *env, const TQXCRYPT_ATTRIBUTES *list, const char *resultClass, bool general);

// One attribute of the list, or null where the item has no Java form.
jobject attributeOf(JNIEnv *env, tqjni::HeldException &failure, jclass cls, jmethodID init,
                    const TQXCRYPT_ATTRIBUTE &item, bool general) {
    jobject value = nullptr;
    if (item.isList == 0) {
        value = textOf(env, failure, reinterpret_cast<const char *>(item.value.blob.data));
    } else if (general && item.isList == 1 && item.name && std::strcmp(item.name, "DirName") == 0) {
        value = newName(env, &item.value.list, "com/tq/pki/X509Name", false);
        failure.take();  // what the nested build raised
    } else {
        return nullptr;
    }
    jstring name = textOf(env, failure, item.name);
    jobject attribute = env->NewObject(cls, init, name, value);
    if (!attribute) failure.take();
    if (name) env->DeleteLocalRef(name);
    if (value) env->DeleteLocalRef(value);
    return attribute;
}

jobject newName(JNIEnv *env, const TQXCRYPT_ATTRIBUTES *list, const char *resultClass, bool general) {
    tqjni::HeldException failure(env);
    jclass cls;
    jmethodID init;
    if (!constructorOf(env, kAttribute, "(Ljava/lang/String;Ljava/lang/Object;)V", cls, init)) {
        failure.take();
        return nullptr;
    }
    const jsize count = list && list->count > 0 ? list->count : 0;
    jobjectArray array = env->NewObjectArray(count, cls, nullptr);
    jobject result = nullptr;
    if (!array) {
        failure.take();
    } else {
        for (jsize i = 0; i < count; ++i) {
            jobject attribute = attributeOf(env, failure, cls, init, list->items[i], general);
            if (!attribute) continue;
            env->SetObjectArrayElement(array, i, attribute);
            env->DeleteLocalRef(attribute);  // the array holds it; the JVM keeps only 16 for us
        }
        jclass resultCls;
        jmethodID resultInit;
        if (constructorOf(env, resultClass, kListSignature, resultCls, resultInit)) {
            result = env->NewObject(resultCls, resultInit, array);
            env->DeleteLocalRef(resultCls);
        }
        failure.take();
        env->DeleteLocalRef(array);
    }
    env->DeleteLocalRef(cls);
    return result;
}

}  // namespace

jobject tqjni::newGeneralName(JNIEnv *env, const TQXCRYPT_ATTRIBUTES *list) {
    return newName(env, list, "com/tq/pki/X509GeneralName", true);
}

extern "C" {

TQ_API jobject NewObject(JNIEnv *env, const char *className, const char *signature, ...) try {
    jclass cls;
    jmethodID init;
    if (!constructorOf(env, className, signature, cls, init)) return nullptr;
    va_list args;
    va_start(args, signature);
    jobject object = env->NewObjectV(cls, init, args);
    va_end(args);
    env->DeleteLocalRef(cls);
    return object;
}
TQ_CATCH_EMPTY

TQ_API jobject NewObject1(JNIEnv *env, const char *className, const char *signature, jobject argument,
                          jboolean flag) try {
    jclass cls;
    jmethodID init;
    if (!constructorOf(env, className, signature, cls, init)) return nullptr;
    jobject object = env->NewObject(cls, init, argument, flag);
    env->DeleteLocalRef(cls);
    return object;
}
TQ_CATCH_EMPTY

TQ_API jobject NewX509Name(JNIEnv *env, const TQXCRYPT_ATTRIBUTES *list) try {
    return newName(env, list, "com/tq/pki/X509Name", false);
}
TQ_CATCH_EMPTY

TQ_API jobject NewX509GeneralName(JNIEnv *env, const TQXCRYPT_ATTRIBUTES *list) try {
    return tqjni::newGeneralName(env, list);
}
TQ_CATCH_EMPTY

}  // extern "C"

// The result classes of com/tq/pki and the builders of names from attribute lists.
#include <cstdarg>
#include <cstring>
#include <string>

#include "jni_internal.h"

using tqjni::LocalRef;

namespace {

const char kAttribute[] = "com/tq/pki/X509Attribute";
const char kListSignature[] = "([Lcom/tq/pki/X509Attribute;)V";

// The constructor of a class; a failure stays pending for the caller.
bool constructorOf(JNIEnv *env, const char *className, const char *signature, LocalRef<jclass> &cls,
                   jmethodID &id) {
    if (!className || !signature) return false;
    cls.reset(env->FindClass(className));
    if (!cls.get()) return false;
    id = env->GetMethodID(cls.get(), "<init>", signature);
    return id != nullptr;
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
    LocalRef value(env, nullptr);
    if (item.isList == 0) {
        value.reset(textOf(env, failure, reinterpret_cast<const char *>(item.value.blob.data)));
    } else if (general && item.isList == 1 && item.name && std::strcmp(item.name, "DirName") == 0) {
        value.reset(newName(env, &item.value.list, "com/tq/pki/X509Name", false));
        failure.take();  // what the nested build raised
    } else {
        return nullptr;
    }
    const LocalRef name(env, textOf(env, failure, item.name));
    jobject attribute = env->NewObject(cls, init, name.get(), value.get());
    if (!attribute) failure.take();
    return attribute;
}

jobject newName(JNIEnv *env, const TQXCRYPT_ATTRIBUTES *list, const char *resultClass, bool general) {
    tqjni::HeldException failure(env);
    LocalRef<jclass> cls(env, nullptr);
    jmethodID init;
    if (!constructorOf(env, kAttribute, "(Ljava/lang/String;Ljava/lang/Object;)V", cls, init)) {
        failure.take();
        return nullptr;
    }
    const jsize count = list && list->count > 0 ? list->count : 0;
    const LocalRef array(env, env->NewObjectArray(count, cls.get(), nullptr));
    jobject result = nullptr;
    if (!array.get()) {
        failure.take();
    } else {
        for (jsize i = 0; i < count; ++i) {
            // The array holds each attribute; the JVM keeps only 16 for us.
            const LocalRef attribute(env,
                                     attributeOf(env, failure, cls.get(), init, list->items[i], general));
            if (!attribute.get()) continue;
            env->SetObjectArrayElement(array.get(), i, attribute.get());
        }
        LocalRef<jclass> resultCls(env, nullptr);
        jmethodID resultInit;
        if (constructorOf(env, resultClass, kListSignature, resultCls, resultInit))
            result = env->NewObject(resultCls.get(), resultInit, array.get());
        failure.take();
    }
    return result;
}

}  // namespace

jobject tqjni::newGeneralName(JNIEnv *env, const TQXCRYPT_ATTRIBUTES *list) {
    return newName(env, list, "com/tq/pki/X509GeneralName", true);
}

extern "C" {

TQ_API jobject NewObject(JNIEnv *env, const char *className, const char *signature, ...) try {
    LocalRef<jclass> cls(env, nullptr);
    jmethodID init;
    if (!constructorOf(env, className, signature, cls, init)) return nullptr;
    va_list args;
    va_start(args, signature);
    jobject object = env->NewObjectV(cls.get(), init, args);
    va_end(args);
    return object;
}
TQ_CATCH_EMPTY

TQ_API jobject NewObject1(JNIEnv *env, const char *className, const char *signature, jobject argument,
                          jboolean flag) try {
    LocalRef<jclass> cls(env, nullptr);
    jmethodID init;
    if (!constructorOf(env, className, signature, cls, init)) return nullptr;
    return env->NewObject(cls.get(), init, argument, flag);
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

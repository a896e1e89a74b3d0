// The natives of com/quelmara/smartcard/SCUtils.
#include <jni.h>

#include <string>
#include <vector>

#include "boundary.h"
#include "probe.h"
#include "result_codes.h"
#include "text_convert.h"

#ifdef _WIN32
#include <windows.h>

HINSTANCE gModuleHandle = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) try {
    if (reason == DLL_PROCESS_ATTACH) gModuleHandle = instance;
    return TRUE;
}
TQ_CATCH_RETURN(FALSE)
#endif

namespace {

// Stores `value` in the int field `name`; -1 when the object has no such field.
int SetErrorCodeField(JNIEnv *env, jobject object, const char *name, jint value) {
    // A JNI call that failed before (out of memory) left its exception; the
    // code says what happened, and no further JNI call is allowed while it is pending.
    if (env->ExceptionCheck()) env->ExceptionClear();
    jclass cls = env->GetObjectClass(object);
    jfieldID field = cls ? env->GetFieldID(cls, name, "I") : nullptr;
    if (cls) env->DeleteLocalRef(cls);
    if (!field) {
        // A missing field must not turn into an exception in the caller.
        if (env->ExceptionCheck()) env->ExceptionClear();
        return -1;
    }
    env->SetIntField(object, field, value);
    return 0;
}

// A native whose work threw: 5002 in ErrorCode, as for any failed allocation,
// and the code or no result.
jint RefusedCode(JNIEnv *env, jobject self) {
    SetErrorCodeField(env, self, "ErrorCode", TQ_RTN_MEMORY_ALLOCATE_FAIL);
    return TQ_RTN_MEMORY_ALLOCATE_FAIL;
}
tqboundary::Empty Refused(JNIEnv *env, jobject self) {
    RefusedCode(env, self);
    return {};
}

// The UTF-8 characters of a Java string for the length of a native call.
class StringChars {
public:
    StringChars(JNIEnv *env, jstring s)
        : env_(env), string_(s), chars_(s ? env->GetStringUTFChars(s, nullptr) : nullptr) {}
    ~StringChars() {
        if (chars_) env_->ReleaseStringUTFChars(string_, chars_);
    }
    StringChars(const StringChars &) = delete;
    StringChars &operator=(const StringChars &) = delete;
    const char *get() const { return chars_; }

private:
    JNIEnv *env_;
    jstring string_;
    const char *chars_;
};

}  // namespace

extern "C" {

JNIEXPORT jstring JNICALL Java_com_quelmara_smartcard_SCUtils_GetNativeVersion(JNIEnv *env, jobject) try {
    const std::string version = ProbeNativeVersion();
    if (version.empty()) return nullptr;
    return env->NewStringUTF(version.c_str());
}
TQ_CATCH_EMPTY

JNIEXPORT jobjectArray JNICALL Java_com_quelmara_smartcard_SCUtils_ListReaders(JNIEnv *env,
                                                                               jobject self) try {
    std::vector<std::string> names;
    int rc = ProbeReaderNames(&names);
    jobjectArray array = nullptr;
    if (rc == TQSC_RTN_SUCCESS) {
        jclass stringClass = env->FindClass("java/lang/String");
        array = stringClass ? env->NewObjectArray(static_cast<jsize>(names.size()), stringClass, nullptr)
                            : nullptr;
        if (stringClass) env->DeleteLocalRef(stringClass);
        if (!array) rc = TQ_RTN_MEMORY_ALLOCATE_FAIL;
        for (size_t i = 0; array && i < names.size(); ++i) {
            const std::u16string wide = ReaderNameToUtf16(names[i]);
            jstring name =
                env->NewString(reinterpret_cast<const jchar *>(wide.data()), static_cast<jsize>(wide.size()));
            if (!name) {
                rc = TQ_RTN_MEMORY_ALLOCATE_FAIL;
                array = nullptr;
                break;
            }
            env->SetObjectArrayElement(array, static_cast<jsize>(i), name);
            // The array holds it now; a JVM owes a native only 16 local references.
            env->DeleteLocalRef(name);
        }
    }
    SetErrorCodeField(env, self, "ErrorCode", rc);
    return rc == TQSC_RTN_SUCCESS ? array : nullptr;
}
TQ_CATCH_RETURN(Refused(env, self))

JNIEXPORT jstring JNICALL Java_com_quelmara_smartcard_SCUtils_GetATR(JNIEnv *env, jobject self,
                                                                     jstring reader) try {
    StringChars readerName(env, reader);
    std::string text;
    int rc = ProbeAtrText(readerName.get(), &text);
    jstring result = nullptr;
    if (rc == TQSC_RTN_SUCCESS) {
        result = env->NewStringUTF(text.c_str());
        if (!result) rc = TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    SetErrorCodeField(env, self, "ErrorCode", rc);
    return rc == TQSC_RTN_SUCCESS ? result : nullptr;
}
TQ_CATCH_RETURN(Refused(env, self))

JNIEXPORT jint JNICALL Java_com_quelmara_smartcard_SCUtils_SelectApplet(JNIEnv *env, jobject self,
                                                                        jstring reader, jstring aid) try {
    StringChars aidText(env, aid);
    StringChars readerName(env, reader);
    const int rc = ProbeSelectApplet(readerName.get(), aidText.get());
    SetErrorCodeField(env, self, "ErrorCode", rc);
    return rc;
}
TQ_CATCH_RETURN(RefusedCode(env, self))

}  // extern "C"

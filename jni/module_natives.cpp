// Natives of the library version and the PKCS#11 module's lifecycle.
#include <cstdlib>
#include <cstring>

#include "jni_internal.h"
#include "tqxp11.h"

using tqjni::Call;
using tqjni::contextOf;
using tqjni::Text;

namespace {

jlong addressOf(const void *p) { return static_cast<jlong>(reinterpret_cast<intptr_t>(p)); }

// The context record is Java's only while the module is loaded: a failed
// initialisation frees it here, so Java never holds a half-made context.
template <typename Init>
jlong initialise(Call &call, jstring path, Init init) {
    // Token DES and RC4 keys run in our own OpenSSL and need its legacy
    // provider, whether or not Java decoded anything before.
    TQXCryptInitialize();
    Text modulePath(call, path);
    auto *context = static_cast<TQXP11_CONTEXT *>(std::calloc(1, sizeof(TQXP11_CONTEXT)));
    int code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (context && !modulePath.failed()) code = init(context, modulePath.get());
    if (code == 0) {
        tqjni::tag(context, tqjni::Tag::Context);
    } else {
        std::free(context);
        context = nullptr;
    }
    call.store(code);
    return addressOf(context);
}

}  // namespace

// The module loaded in one of the layer's ways.
#define TQ_MODULE_INIT(name, init)                                                    \
    TQ_ADAPTED(jlong, TQ_JNI_CATCH, name, (JNIEnv * env, jobject self, jstring path), \
               initialise(call, path, init))

extern "C" {

JNIEXPORT jstring JNICALL TQ_NATIVE(GetNativeVersion)(JNIEnv *env, jobject self) try {
    Call call(env, self);
    return tqjni::newString(call, "2,5,13,202");
}
TQ_CATCH_EMPTY

JNIEXPORT jlong JNICALL TQ_NATIVE(XP11SyncCriticalSectionX)(JNIEnv *, jobject) try {
    return addressOf(TQXP11_SyncCriticalSection());
}
TQ_CATCH_EMPTY

JNIEXPORT jlong JNICALL TQ_NATIVE(XP11SyncMutexX)(JNIEnv *, jobject) try {
    return addressOf(TQXP11_SyncMutex());
}
TQ_CATCH_EMPTY

TQ_MODULE_INIT(XP11InitX, TQXP11_Init)

JNIEXPORT jlong JNICALL TQ_NATIVE(XP11InitExX)(JNIEnv *env, jobject self, jstring path, jlong arguments) try {
    // The one block the binding hands out is the only one Java can hold:
    // anything else would reach the module as its mutex functions.
    Call call(env, self);
    const CK_C_INITIALIZE_ARGS *block = arguments == 0 ? nullptr : TQXP11_SyncMutex();
    if (arguments != addressOf(block)) {
        call.store(TQ_RTN_BAD_ARGUMENT);
        return 0;
    }
    return initialise(call, path,
                      [block](TQXP11_CONTEXT *c, const char *p) { return TQXP11_InitEx(c, p, block); });
}
TQ_JNI_CATCH

TQ_MODULE_INIT(XP11MTInitX, TQXP11_MTInit)

JNIEXPORT jint JNICALL TQ_NATIVE(XP11FinalX)(JNIEnv *env, jobject self, jlong context) try {
    Call call(env, self);
    TQXP11_CONTEXT *record = contextOf(context);
    const int code = record ? TQXP11_Final(record) : TQ_RTN_BAD_ARGUMENT;
    if (code == 0) tqjni::release(record);
    call.store(code);
    return code;
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XP11SetCurrentSlotX)(JNIEnv *env, jobject self, jlong context,
                                                      jint index) try {
    Call call(env, self);
    // A negative index would become a huge unsigned one: the layer's bound refuses it.
    TQXP11_CONTEXT *record = contextOf(context);
    const int code =
        record ? TQXP11_SetCurrentSlot(record, static_cast<CK_ULONG>(index)) : TQ_RTN_BAD_ARGUMENT;
    call.store(code);
    return code;
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XSetCurrentSlotX)(JNIEnv *env, jobject self, jlong context, jint index) try {
    return TQ_NATIVE(XP11SetCurrentSlotX)(env, self, context, index);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jstring JNICALL TQ_NATIVE(XP11GetTokenSNX)(JNIEnv *env, jobject self, jlong context) try {
    Call call(env, self);
    int code = TQ_RTN_BAD_ARGUMENT;
    jstring result = nullptr;
    if (TQXP11_CONTEXT *record = contextOf(context)) {
        CK_TOKEN_INFO info = {};
        code = TQXP11_GetTokenInfo(record, &info);
        if (code == 0) {
            char serial[sizeof info.serialNumber + 1] = {};
            std::memcpy(serial, info.serialNumber, sizeof info.serialNumber);
            result = tqjni::newString(call, serial);
        }
    }
    call.store(code);
    return result;
}
TQ_JNI_CATCH

}  // extern "C"

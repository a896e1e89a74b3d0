// Natives of sessions and logins on the current slot of a context.
#include <cstdlib>

#include "jni_internal.h"
#include "tqxp11.h"

using tqjni::Call;
using tqjni::sessionOf;
using tqjni::Text;

namespace {

jint bySession(JNIEnv *env, jobject self, jlong session, int (*operation)(TQXP11_SESSION *)) {
    Call call(env, self);
    TQXP11_SESSION *const s = sessionOf(session);
    const int code = s ? operation(s) : TQ_RTN_BAD_ARGUMENT;
    call.store(code);
    return code;
}

jint withPin(JNIEnv *env, jobject self, jlong session, jstring pin,
             int (*login)(TQXP11_SESSION *, const char *)) {
    Call call(env, self);
    int code = TQ_RTN_BAD_ARGUMENT;
    if (TQXP11_SESSION *s = sessionOf(session)) {
        Text text(call, pin);
        code = text.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL : login(s, text.get());
    }
    call.store(code);
    return code;
}

// The parts still required go to Java only with a step that succeeded.
jint loginStep(Call &call, int code, CK_ULONG required) {
    if (code == 0) SetInteger(call.env, call.self, "iLoginRequired", static_cast<jint>(required));
    return tqjni::codeResult(call, code);
}

jint loginInit(JNIEnv *env, jobject self, jlong session) {
    Call call(env, self);
    TQXP11_SESSION *const s = sessionOf(session);
    if (!s) return tqjni::codeResult(call, TQ_RTN_BAD_ARGUMENT);
    CK_ULONG required = 0, second = 0;
    const int code = TQXP11_LoginInit(s, &required, &second);
    return loginStep(call, code, required);
}

jint loginUpdate(JNIEnv *env, jobject self, jlong session, jstring part) {
    Call call(env, self);
    TQXP11_SESSION *const s = sessionOf(session);
    if (!s) return tqjni::codeResult(call, TQ_RTN_BAD_ARGUMENT);
    Text text(call, part);
    if (text.failed()) return tqjni::codeResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL);
    CK_ULONG required = 0;
    const int code = TQXP11_LoginUpdate(s, text.get(), &required);
    return loginStep(call, code, required);
}

}  // namespace

extern "C" {

// The session record is Java's only while the session is open.
JNIEXPORT jlong JNICALL TQ_NATIVE(XP11OpenSessionX)(JNIEnv *env, jobject self, jlong context) try {
    Call call(env, self);
    int code = TQ_RTN_BAD_ARGUMENT;
    TQXP11_SESSION *session = nullptr;
    if (TQXP11_CONTEXT *record = tqjni::contextOf(context)) {
        session = static_cast<TQXP11_SESSION *>(std::calloc(1, sizeof(TQXP11_SESSION)));
        code = session ? TQXP11_SessionOpen(record, session) : TQ_RTN_MEMORY_ALLOCATE_FAIL;
        if (code == 0) {
            tqjni::tag(session, tqjni::Tag::Session);
        } else {
            std::free(session);
            session = nullptr;
        }
    }
    call.store(code);
    return static_cast<jlong>(reinterpret_cast<intptr_t>(session));
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XP11CloseSessionX)(JNIEnv *env, jobject self, jlong session) try {
    TQXP11_SESSION *const record = sessionOf(session);
    const jint code = bySession(env, self, session, TQXP11_SessionClose);
    if (code == 0) tqjni::release(record);
    return code;
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XP11LoginX)(JNIEnv *env, jobject self, jlong session, jstring pin) try {
    return withPin(env, self, session, pin, TQXP11_Login);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(LoginX)(JNIEnv *env, jobject self, jlong session, jstring pin) try {
    return withPin(env, self, session, pin, TQXP11_Login);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XP11Login_1SOX)(JNIEnv *env, jobject self, jlong session, jstring pin) try {
    return withPin(env, self, session, pin, TQXP11_SOLogin);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XP11LogoutX)(JNIEnv *env, jobject self, jlong session) try {
    return bySession(env, self, session, TQXP11_Logout);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(LogoutX)(JNIEnv *env, jobject self, jlong session) try {
    return bySession(env, self, session, TQXP11_Logout);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(P11ChangePINX)(JNIEnv *env, jobject self, jlong session, jstring oldPin,
                                                jstring newPin, jint) try {
    Call call(env, self);
    int code = TQ_RTN_BAD_ARGUMENT;
    if (TQXP11_SESSION *s = sessionOf(session)) {
        Text before(call, oldPin);
        Text after(call, newPin);
        code = before.failed() || after.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                                                 : TQXP11_ChangePin(s, before.get(), after.get());
    }
    call.store(code);
    return code;
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XP11LoginInitX)(JNIEnv *env, jobject self, jlong session) try {
    return loginInit(env, self, session);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(LoginInitX)(JNIEnv *env, jobject self, jlong session) try {
    return loginInit(env, self, session);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XP11LoginUpdateX)(JNIEnv *env, jobject self, jlong session,
                                                   jstring part) try {
    return loginUpdate(env, self, session, part);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(LoginUpdateX)(JNIEnv *env, jobject self, jlong session, jstring part) try {
    return loginUpdate(env, self, session, part);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XP11LoginFinalX)(JNIEnv *env, jobject self, jlong session) try {
    return bySession(env, self, session, TQXP11_LoginFinal);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(LoginFinalX)(JNIEnv *env, jobject self, jlong session) try {
    return bySession(env, self, session, TQXP11_LoginFinal);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XP11BankLoginX)(JNIEnv *env, jobject self, jlong session, jstring path,
                                                 jstring first, jstring second) try {
    Call call(env, self);
    TQXP11_SESSION *const s = sessionOf(session);
    if (!s) return tqjni::codeResult(call, TQ_RTN_BAD_ARGUMENT);
    Text library(call, path);
    Text one(call, first);
    Text two(call, second);
    if (library.failed() || one.failed() || two.failed())
        return tqjni::codeResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL);
    int code = TQXP11_BankLogin(s, library.get(), one.get(), two.get());
    // The host's library logs the module's session in past the token layer:
    // the record learns the new state, or the natives that need the user
    // would go on refusing the session.
    if (code == 0) {
        CK_BBOOL loggedIn = 0;
        code = TQXP11_GetSessionInfo(s, &loggedIn);
    }
    return tqjni::codeResult(call, code);
}
TQ_JNI_CATCH_CODE

}  // extern "C"

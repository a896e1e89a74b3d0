// Natives of sessions and logins on the current slot of a context.
#include <cstdlib>

#include "jni_internal.h"
#include "tqxp11.h"

using tqjni::Call;
using tqjni::sessionOf;
using tqjni::Text;

namespace {

jint bySession(Call &call, jlong session, int (*operation)(TQXP11_SESSION *)) {
    TQXP11_SESSION *const s = sessionOf(session);
    const int code = s ? operation(s) : TQ_RTN_BAD_ARGUMENT;
    call.store(code);
    return code;
}

jint withPin(Call &call, jlong session, jstring pin, int (*login)(TQXP11_SESSION *, const char *)) {
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

jint loginInit(Call &call, jlong session) {
    TQXP11_SESSION *const s = sessionOf(session);
    if (!s) return tqjni::codeResult(call, TQ_RTN_BAD_ARGUMENT);
    CK_ULONG required = 0, second = 0;
    const int code = TQXP11_LoginInit(s, &required, &second);
    return loginStep(call, code, required);
}

jint loginUpdate(Call &call, jlong session, jstring part) {
    TQXP11_SESSION *const s = sessionOf(session);
    if (!s) return tqjni::codeResult(call, TQ_RTN_BAD_ARGUMENT);
    Text text(call, part);
    if (text.failed()) return tqjni::codeResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL);
    CK_ULONG required = 0;
    const int code = TQXP11_LoginUpdate(s, text.get(), &required);
    return loginStep(call, code, required);
}

}  // namespace

// A step on the session alone, and a login with a PIN.
#define TQ_SESSION_STEP(name, step)                                                        \
    TQ_ADAPTED(jint, TQ_JNI_CATCH_CODE, name, (JNIEnv * env, jobject self, jlong session), \
               bySession(call, session, step))
#define TQ_PIN_LOGIN(name, login)                                                                       \
    TQ_ADAPTED(jint, TQ_JNI_CATCH_CODE, name, (JNIEnv * env, jobject self, jlong session, jstring pin), \
               withPin(call, session, pin, login))
// The steps of a login in parts, each under two names.
#define TQ_LOGIN_INIT(name)                                                                \
    TQ_ADAPTED(jint, TQ_JNI_CATCH_CODE, name, (JNIEnv * env, jobject self, jlong session), \
               loginInit(call, session))
#define TQ_LOGIN_UPDATE(name)                                                                            \
    TQ_ADAPTED(jint, TQ_JNI_CATCH_CODE, name, (JNIEnv * env, jobject self, jlong session, jstring part), \
               loginUpdate(call, session, part))

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
    Call call(env, self);
    TQXP11_SESSION *const record = sessionOf(session);
    const jint code = bySession(call, session, TQXP11_SessionClose);
    if (code == 0) tqjni::release(record);
    return code;
}
TQ_JNI_CATCH_CODE

TQ_PIN_LOGIN(XP11LoginX, TQXP11_Login)
TQ_PIN_LOGIN(LoginX, TQXP11_Login)
TQ_PIN_LOGIN(XP11Login_1SOX, TQXP11_SOLogin)
TQ_SESSION_STEP(XP11LogoutX, TQXP11_Logout)
TQ_SESSION_STEP(LogoutX, TQXP11_Logout)

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

TQ_LOGIN_INIT(XP11LoginInitX)
TQ_LOGIN_INIT(LoginInitX)
TQ_LOGIN_UPDATE(XP11LoginUpdateX)
TQ_LOGIN_UPDATE(LoginUpdateX)
TQ_SESSION_STEP(XP11LoginFinalX, TQXP11_LoginFinal)
TQ_SESSION_STEP(LoginFinalX, TQXP11_LoginFinal)

JNIEXPORT jint JNICALL TQ_NATIVE(XP11BankLoginX)(JNIEnv *env, jobject self, jlong session, jstring path,
                                                 jstring first, jstring second) try {
    Call call(env, self);
    return tqjni::codeResult(call, tqjni::onSession(session, [&](TQXP11_SESSION *s) -> int {
                                 Text library(call, path);
                                 Text one(call, first);
                                 Text two(call, second);
                                 if (tqjni::anyFailed(library, one, two)) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
                                 const int code = TQXP11_BankLogin(s, library.get(), one.get(), two.get());
                                 // The host's library logs the module's session in past the token
                                 // layer: the record learns the new state, or the natives that need
                                 // the user would go on refusing the session.
                                 CK_BBOOL loggedIn = 0;
                                 return code == 0 ? TQXP11_GetSessionInfo(s, &loggedIn) : code;
                             }));
}
TQ_JNI_CATCH_CODE

}  // extern "C"

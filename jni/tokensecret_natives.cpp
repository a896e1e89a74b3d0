// Natives of the token's secret keys named by label: generation, wrapping,
// MACs, the one-call ciphers and the extractable attribute.
#include <cstdlib>
#include <cstring>

#include "jni_internal.h"
#include "tqp11certs.h"
#include "tqp11secret.h"

using tqjni::Bytes;
using tqjni::Call;
using tqjni::sessionOf;
using tqjni::Text;

namespace {

// Wrapped keys come back in a buffer of this size on the stack.
constexpr CK_ULONG kWrapCapacity = 2048;

// The code stored; the bytes go to Java only when it is 0.
jbyteArray bytesResult(Call &call, int code, const unsigned char *data, CK_ULONG length) {
    call.store(code);
    return code == 0 ? tqjni::newBytes(call, data, length) : nullptr;
}

// A token that reports more than the room it was given has overrun it.
int withinCapacity(int code, CK_ULONG length, size_t capacity) {
    return code == 0 && length > capacity ? TQP11_RTN_BUFFER_TOO_SMALL : code;
}

// The arguments of a one-call token operation on data: the key's label,
// the IV array, the data, and an output area of the data's length and room.
struct OneCall {
    OneCall(Call &call, jstring label, jbyteArray ivArray, jbyteArray data, size_t room)
        : name(call, label),
          iv(call, ivArray),
          input(call, data),
          out(tq::scratch(static_cast<size_t>(input.size()) + room)) {}
    bool ready() const { return !tqjni::anyFailed(name, iv, input) && out.get(); }
    CK_ULONG size() const { return static_cast<CK_ULONG>(input.size()); }
    jbyteArray result(Call &call, int code) const {
        return bytesResult(call, withinCapacity(code, length, out.size()), out.get(), length);
    }
    Text name;
    Bytes iv;
    Bytes input;
    // It may hold plaintext.
    tq::Wiped<tq::systemFree> out;
    CK_ULONG length = 0;
};

// A one-call token operation: 5005 for no session, 5002 when an argument
// could not be taken, else what `work` answers with the session and the
// arguments; the output within its room goes to Java.
template <class Work>
jbyteArray oneCall(Call &call, TQXP11_SESSION *s, jstring label, jbyteArray iv, jbyteArray data, size_t room,
                   Work work) {
    if (!s) return bytesResult(call, TQ_RTN_BAD_ARGUMENT, nullptr, 0);
    OneCall op(call, label, iv, data, room);
    return op.result(call, op.ready() ? work(s, op) : TQ_RTN_MEMORY_ALLOCATE_FAIL);
}

// The session with its state refreshed for the layer's login checks, before
// anything is taken from Java; the refresh's own answer is not ours.
TQXP11_SESSION *refreshed(TQXP11_SESSION *s) {
    CK_BBOOL loggedIn = CK_FALSE;
    if (s) TQXP11_GetSessionInfo(s, &loggedIn);
    return s;
}

}  // namespace

extern "C" {

// The handle on success; on failure the code itself, told apart only by ErrorCode.
JNIEXPORT jlong JNICALL TQ_NATIVE(P11GenerateSymKeyX)(JNIEnv *env, jobject self, jlong session, jstring label,
                                                      jint kind, jint flags) try {
    Call call(env, self);
    int code = TQ_RTN_BAD_ARGUMENT;
    CK_OBJECT_HANDLE handle = 0;
    if (TQXP11_SESSION *s = sessionOf(session)) {
        Text name(call, label);
        code = name.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                             : TQXP11_GenerateSymKey(s, name.get(), 1, kind, flags, &handle);
    }
    call.store(code);
    return code == 0 ? static_cast<jlong>(handle) : code;
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(P11WrapKeyX)(JNIEnv *env, jobject self, jlong session,
                                                    jstring keyLabel, jint keyKind, jstring wrappingLabel,
                                                    jint wrappingKind, jint spare, jlong mode) try {
    Call call(env, self);
    TQXP11_SESSION *const s = sessionOf(session);
    if (!s) return bytesResult(call, TQ_RTN_BAD_ARGUMENT, nullptr, 0);
    Text key(call, keyLabel);
    Text wrapping(call, wrappingLabel);
    unsigned char wrapped[kWrapCapacity] = {};
    CK_ULONG length = sizeof wrapped;
    int code = tqjni::anyFailed(key, wrapping) ? TQ_RTN_MEMORY_ALLOCATE_FAIL : 0;
    if (code == 0)
        code = TQP11_WrapKey(s, key.get(), keyKind, wrapping.get(), wrappingKind, spare, wrapped, &length,
                             static_cast<CK_ULONG>(mode));
    return bytesResult(call, withinCapacity(code, length, sizeof wrapped), wrapped, length);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(P11UnWrapKeyX)(JNIEnv *env, jobject self, jlong session,
                                                jstring unwrappingLabel, jint unwrappingKind,
                                                jbyteArray wrapped, jstring newLabel, jint newKind,
                                                jint flags, jlong mode) try {
    Call call(env, self);
    return tqjni::codeResult(call, tqjni::onSession(session, [&](TQXP11_SESSION *s) -> int {
                                 Text unwrapping(call, unwrappingLabel);
                                 Bytes bytes(call, wrapped);
                                 Text name(call, newLabel);
                                 if (tqjni::anyFailed(unwrapping, bytes, name))
                                     return TQ_RTN_MEMORY_ALLOCATE_FAIL;
                                 return TQP11_UnWrapKey(s, unwrapping.get(), unwrappingKind, bytes.data(),
                                                        static_cast<CK_ULONG>(bytes.size()), name.get(),
                                                        newKind, flags, static_cast<CK_ULONG>(mode));
                             }));
}
TQ_JNI_CATCH_CODE

// The whole ciphertext goes to Java; the caller takes the last block as the MAC.
TQ_ADAPTED(
    jbyteArray, TQ_JNI_CATCH, P11GenerateMACX,
    (JNIEnv * env, jobject self, jlong session, jstring label, jint kind, jbyteArray iv, jbyteArray data,
     jint spare, jint mode),
    oneCall(call, sessionOf(session), label, iv, data, 1024, [&](TQXP11_SESSION *s, OneCall &op) -> int {
        // The token layer reads the IV as text.
        const tq::Wiped<tq::systemFree> ivText = tq::scratch(static_cast<size_t>(op.iv.size()) + 1);
        if (!ivText) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        if (op.iv.data()) std::memcpy(ivText.get(), op.iv.data(), static_cast<size_t>(op.iv.size()));
        return TQP11_GenerateMAC(s, op.name.get(), kind,
                                 op.iv.data() ? reinterpret_cast<const char *>(ivText.get()) : nullptr,
                                 op.input.data(), op.size(), spare, mode, op.out.get(), &op.length);
    }))

// The IV array is taken but not used: the token decrypts with the zero IV.
TQ_ADAPTED(jbyteArray, TQ_JNI_CATCH, P11SymDecryptX,
           (JNIEnv * env, jobject self, jlong session, jstring label, jint kind, jbyteArray iv,
            jbyteArray data, jint mode),
           oneCall(call, refreshed(sessionOf(session)), label, iv, data, 0,
                   [&](TQXP11_SESSION *s, OneCall &op) -> int {
                       return TQP11_SymDecrypt(s, op.name.get(), kind, 0, op.input.data(), op.size(), mode,
                                               op.out.get(), &op.length);
                   }))

// By handle first; a handle that no longer names a key falls back to the
// label. Modules answer a destroyed key's handle as a key or as an object.
// The IV array is taken but not used: the token encrypts with the zero IV.
TQ_ADAPTED(jbyteArray, TQ_JNI_CATCH, P11SymEncryptExX,
           (JNIEnv * env, jobject self, jlong session, jstring label, jlong keyHandle, jint kind,
            jbyteArray iv, jbyteArray data, jint mode),
           oneCall(call, sessionOf(session), label, iv, data, 16, [&](TQXP11_SESSION *s, OneCall &op) -> int {
               const int code =
                   TQP11_SymEncryptByHandle(s, static_cast<CK_OBJECT_HANDLE>(keyHandle), kind, 0,
                                            op.input.data(), op.size(), mode, op.out.get(), &op.length);
               if (code != TQP11_RTN_KEY_HANDLE_INVALID && code != TQP11_RTN_OBJECT_HANDLE_INVALID)
                   return code;
               return TQP11_SymEncrypt(s, op.name.get(), kind, 0, op.input.data(), op.size(), mode,
                                       op.out.get(), &op.length);
           }))

JNIEXPORT jint JNICALL TQ_NATIVE(P11SetObjExtractableX)(JNIEnv *env, jobject self, jlong session,
                                                        jstring label, jint kind, jboolean extractable) try {
    Call call(env, self);
    return tqjni::codeResult(call, tqjni::onSession(session, [&](TQXP11_SESSION *s) -> int {
                                 Text name(call, label);
                                 return name.failed()
                                            ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                                            : TQP11_SetObjExtractable(s, name.get(), kind,
                                                                      extractable ? CK_TRUE : CK_FALSE);
                             }));
}
TQ_JNI_CATCH_CODE

}  // extern "C"

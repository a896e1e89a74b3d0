// Natives that sign, decrypt, store and read with objects that stay on the
// token: PKCS#7 by name, data objects, secret-key values, random bytes,
// relabelling and the vendor records.
#include <cstdlib>

#include "jni_internal.h"
#include "tqp11certs.h"
#include "tqp11secret.h"
#include "tqxcrypt.h"
#include "tqxp11crypto.h"
#include "tqxp11obj.h"

using tqjni::anyFailed;
using tqjni::Bytes;
using tqjni::Call;
using tqjni::freedResult;
using tqjni::onSession;
using tqjni::Text;
using tqjni::textResult;

namespace {

// The signers' road: the data taken; `sign` takes the names it needs.
template <class Sign>
jstring signData(Call &call, jlong session, jbyteArray data, Sign sign) {
    char *text = nullptr;
    const int code = onSession(session, [&](TQXP11_SESSION *s) -> int {
        Bytes d(call, data);
        return d.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                          : sign(call, s, d.data(), static_cast<size_t>(d.size()), &text);
    });
    return textResult(call, code, text);
}

jstring signByName(Call &call, jlong session, jstring name, jlong store, jbyteArray data, jint flags,
                   jint hashFlags) {
    return signData(call, session, data,
                    [&](Call &call, TQXP11_SESSION *s, const unsigned char *d, size_t n, char **text) -> int {
                        Text t(call, name);
                        return t.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                                          : TQP11_Sign(s, t.get(), tqjni::handleOf(store), d, n, flags,
                                                       hashFlags, text);
                    });
}

// The common end of a plaintext from the library allocator.
jbyteArray plainResult(Call &call, int code, char *plain, int length) {
    return freedResult<TQCryptMemFree>(call, code, plain, length > 0 ? static_cast<size_t>(length) : 0);
}

// The envelope's text, a String or an array holding the Base64 text without
// a terminator of its own, handed to the decryption while it is held.
template <class Decrypt>
int withEnvelope(Call &call, jstring text, Decrypt decrypt) {
    Text t(call, text);
    return t.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL : decrypt(t.get());
}
template <class Decrypt>
int withEnvelope(Call &call, jbyteArray text, Decrypt decrypt) {
    Bytes t(call, text);
    const tqjni::Password terminated(t);
    return anyFailed(t, terminated) ? TQ_RTN_MEMORY_ALLOCATE_FAIL : decrypt(terminated.get());
}

template <class Envelope>
jbyteArray decryptByName(Call &call, jlong session, jstring name, Envelope text, jint flags) {
    char *plain = nullptr;
    int length = 0;
    const int code = onSession(session, [&](TQXP11_SESSION *s) -> int {
        Text n(call, name);
        if (n.failed()) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        return withEnvelope(
            call, text, [&](const char *t) { return TQP11_Decrypt(s, n.get(), t, flags, &plain, &length); });
    });
    return plainResult(call, code, plain, length);
}

// The readers' road: a value the token layer reads by label into a buffer of
// the system allocator (it may hold key bytes, so whoever takes it wipes it).
template <class Read>
int readByLabel(Call &call, jlong session, jstring label, unsigned char **value, CK_ULONG *length,
                Read read) {
    return onSession(session, [&](TQXP11_SESSION *s) -> int {
        Text l(call, label);
        return l.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL : read(s, l.get(), value, length);
    });
}

jbyteArray readSymKey(Call &call, jlong session, jstring label, jint kind, jint isPrivate, jint spare) {
    unsigned char *value = nullptr;
    CK_ULONG length = 0;
    const int code = readByLabel(call, session, label, &value, &length,
                                 [&](TQXP11_SESSION *s, const char *l, unsigned char **v, CK_ULONG *n) {
                                     return TQP11_ReadSymKeyObject(s, l, kind, isPrivate, spare, v, n);
                                 });
    return freedResult(call, code, value, length);
}

// The writers' road: a label and a value array taken, the code returned.
template <class Write>
jint writeByLabel(JNIEnv *env, jobject self, jlong session, jstring label, jbyteArray value, Write write) {
    Call call(env, self);
    const int code = onSession(session, [&](TQXP11_SESSION *s) -> int {
        Text l(call, label);
        Bytes v(call, value);
        if (anyFailed(l, v)) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        return write(s, l.get(), v.data(), static_cast<CK_ULONG>(v.size()));
    });
    return tqjni::codeResult(call, code);
}

}  // namespace

// PKCS#7 signed by the key of a name, under two names.
#define TQ_SIGN_BY_NAME(native)                                                                        \
    TQ_ADAPTED(jstring, TQ_JNI_CATCH, native,                                                          \
               (JNIEnv * env, jobject self, jlong session, jstring name, jlong store, jbyteArray data, \
                jint flags, jint hashFlags),                                                           \
               signByName(call, session, name, store, data, flags, hashFlags))

// A plaintext decrypted by the key of a name from an envelope's Base64 text.
#define TQ_DECRYPT_BY_NAME(native, Envelope)                                                         \
    TQ_ADAPTED(jbyteArray, TQ_JNI_CATCH, native,                                                     \
               (JNIEnv * env, jobject self, jlong session, jstring name, Envelope text, jint flags), \
               decryptByName(call, session, name, text, flags))

extern "C" {

TQ_SIGN_BY_NAME(WKP11SignX)

TQ_SIGN_BY_NAME(P11SignX)

// This native has no digest argument: it signs with SHA-1.
JNIEXPORT jstring JNICALL TQ_NATIVE(P11SignByCertStringX)(JNIEnv *env, jobject self, jlong session,
                                                          jstring certText, jstring keyLabel, jlong store,
                                                          jbyteArray data, jint options) try {
    Call call(env, self);
    return signData(call, session, data,
                    [&](Call &call, TQXP11_SESSION *s, const unsigned char *d, size_t n, char **text) -> int {
                        Text cert(call, certText);
                        Text key(call, keyLabel);
                        return anyFailed(cert, key)
                                   ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                                   : TQP11_SignByCertString(s, cert.get(), key.get(), tqjni::handleOf(store),
                                                            d, n, options, 0, text);
                    });
}
TQ_JNI_CATCH

TQ_DECRYPT_BY_NAME(P11DecryptX, jstring)

// The array holds the Base64 text without a terminator of its own.
TQ_DECRYPT_BY_NAME(WKP11DecryptX, jbyteArray)

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(P11ReadDataObjectX)(JNIEnv *env, jobject self, jlong session,
                                                           jstring label, jint isPrivate, jint flags) try {
    Call call(env, self);
    unsigned char *value = nullptr;
    CK_ULONG length = 0;
    int code = readByLabel(call, session, label, &value, &length,
                           [&](TQXP11_SESSION *s, const char *l, unsigned char **v, CK_ULONG *n) {
                               return TQP11_ReadDataObject(s, l, isPrivate, flags, v, n);
                           });
    if (code != 0 || !(flags & TQXCRYPT_ENCODE_TEXT)) return freedResult(call, code, value, length);
    const tq::Wiped<tq::systemFree> owned(value, length);
    TQXCRYPT_BLOB text{0, nullptr};
    code = TQXCrypt_Encode(value, length, &text, nullptr);
    return tqjni::blobResult(call, code, text);
}
TQ_JNI_CATCH

// With TQXCRYPT_ENCODE_TEXT the array is the Base64 text of the value.
JNIEXPORT jint JNICALL TQ_NATIVE(P11WriteDataObjectX)(JNIEnv *env, jobject self, jlong session, jstring label,
                                                      jint isPrivate, jbyteArray value, jint flags) try {
    return writeByLabel(
        env, self, session, label, value,
        [&](TQXP11_SESSION *s, const char *l, const unsigned char *v, CK_ULONG n) -> int {
            if (!(flags & TQXCRYPT_ENCODE_TEXT)) return TQP11_WriteDataObject(s, l, isPrivate, v, n, flags);
            TQXCRYPT_BLOB decoded{0, nullptr};
            int code = TQXCrypt_Decode(reinterpret_cast<const char *>(v), n, &decoded, nullptr);
            if (code == 0) code = TQP11_WriteDataObject(s, l, isPrivate, decoded.data, decoded.length, flags);
            TQXCryptFreeBlob(&decoded);
            return code;
        });
}
TQ_JNI_CATCH_CODE

// DES kinds come back to Java in their odd-parity form.
JNIEXPORT jint JNICALL TQ_NATIVE(P11WriteSymKeyObjectX)(JNIEnv *env, jobject self, jlong session,
                                                        jstring label, jint kind, jbyteArray value,
                                                        jint flags) try {
    return writeByLabel(env, self, session, label, value,
                        [&](TQXP11_SESSION *s, const char *l, unsigned char *v, CK_ULONG n) -> int {
                            return TQP11_WriteSymKeyObject(s, l, kind, 1, v, n, flags);
                        });
}
TQ_JNI_CATCH_CODE

TQ_ADAPTED(jbyteArray, TQ_JNI_CATCH, P11ReadSymKeyObjectX,
           (JNIEnv * env, jobject self, jlong session, jstring label, jint kind, jint spare),
           readSymKey(call, session, label, kind, 1, spare))

TQ_ADAPTED(jbyteArray, TQ_JNI_CATCH, P11ReadSymKeyObjectExX,
           (JNIEnv * env, jobject self, jlong session, jstring label, jint kind, jint isPrivate, jint spare),
           readSymKey(call, session, label, kind, isPrivate, spare))

// A negative length sizes nothing: it is refused before any allocation. The
// Java array comes first: a length the JVM cannot hold fails there, with
// the JVM's own error, before any buffer or token call.
JNIEXPORT jbyteArray JNICALL TQ_NATIVE(P11GetRandomNumberX)(JNIEnv *env, jobject self, jlong session,
                                                            jint length) try {
    Call call(env, self);
    jbyteArray result = nullptr;
    tq::Wiped<tq::systemFree> buffer;
    const int code = onSession(session, [&](TQXP11_SESSION *s) -> int {
        if (length < 0) return TQ_RTN_BAD_ARGUMENT;
        result = env->NewByteArray(length);
        if (!result) {
            call.failure.take();
            return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        }
        buffer = tq::scratch(static_cast<size_t>(length));
        if (!buffer) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        const int rc = TQXP11_GenRandomNumber(s, buffer.get(), length);
        if (rc == 0 && length > 0)
            env->SetByteArrayRegion(result, 0, length, reinterpret_cast<jbyte *>(buffer.get()));
        return rc;
    });
    call.store(code);
    return code == 0 ? result : nullptr;
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(P11ChangeObjLabelX)(JNIEnv *env, jobject self, jlong session, jstring label,
                                                     jint kind, jstring newLabel, jint spare) try {
    Call call(env, self);
    const int code = onSession(session, [&](TQXP11_SESSION *s) -> int {
        Text from(call, label);
        Text to(call, newLabel);
        if (anyFailed(from, to)) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        return TQP11_ChangeObjLabel(s, from.get(), kind, to.get(), spare);
    });
    return tqjni::codeResult(call, code);
}
TQ_JNI_CATCH_CODE

// A record the token does not hold is an empty array.
JNIEXPORT jbyteArray JNICALL TQ_NATIVE(P11HCAGetBasicDataX)(JNIEnv *env, jobject self, jlong session,
                                                            jint selector) try {
    Call call(env, self);
    unsigned char *value = nullptr;
    CK_ULONG length = 0;
    const int code = onSession(session, [&](TQXP11_SESSION *s) -> int {
        return TQXP11_HCAGetRecord(s, selector < 1 ? "HCA_BASIC" : "HCA_HOP_BASIC1", 0, &value, &length);
    });
    return freedResult(call, code, value, length);
}
TQ_JNI_CATCH

}  // extern "C"

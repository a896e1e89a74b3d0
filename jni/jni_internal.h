// What every native shares: taking Java arguments, handing results back,
// and keeping a JVM failure aside until the native has finished its work.
#ifndef TQ_JNI_INTERNAL_H
#define TQ_JNI_INTERNAL_H

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "boundary.h"
#include "com_vandrelot_crypto_WKP11Crypt.h"
#include "tqjni.h"
#include "tqxcrypt.h"
#include "tqxp11.h"
#include "wiping.h"

// The exported name of a native: the JNI name of the Java method.
#define TQ_NATIVE(name) Java_com_vandrelot_crypto_WKP11Crypt_##name

// The handlers that end the natives (boundary.h): 5002 goes to ErrorCode and
// the native answers null or 0, the code, or nothing. The natives that store
// no code end in the plain handlers.
#define TQ_JNI_CATCH TQ_CATCH_RETURN(::tqjni::refused(env, self))
#define TQ_JNI_CATCH_CODE TQ_CATCH_RETURN(::tqjni::refusedCode(env, self))
#define TQ_JNI_CATCH_VOID TQ_CATCH_RETURN(void(::tqjni::refused(env, self)))

namespace tqjni {

// A local reference released when its scope ends, so that the natives hold
// no more than the few the JVM grants them.
template <class Ref = jobject>
class LocalRef {
public:
    LocalRef(JNIEnv *env, Ref ref) : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_) env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef &) = delete;
    LocalRef &operator=(const LocalRef &) = delete;
    Ref get() const { return ref_; }
    void reset(Ref ref) {
        if (ref_) env_->DeleteLocalRef(ref_);
        ref_ = ref;
    }
    // The reference handed on: no longer released here.
    Ref release() {
        const Ref ref = ref_;
        ref_ = nullptr;
        return ref;
    }

private:
    JNIEnv *env_;
    Ref ref_;
};
LocalRef(JNIEnv *, std::nullptr_t)->LocalRef<jobject>;

// A JVM failure taken off the thread so that further JNI calls are allowed;
// raised again when the holder ends. The first failure wins.
class HeldException {
public:
    explicit HeldException(JNIEnv *env) : env_(env), held_(env, nullptr) {}
    ~HeldException();
    HeldException(const HeldException &) = delete;
    HeldException &operator=(const HeldException &) = delete;
    // True when a failure was pending (and is now held).
    bool take();

private:
    JNIEnv *env_;
    LocalRef<jthrowable> held_;
};

// One native call: the receiver, the held failure, and the result code that
// goes to ErrorCode.
class Call {
public:
    Call(JNIEnv *env, jobject self) : env(env), self(self), failure(env) {}
    void store(int code) { SetInteger(env, self, "ErrorCode", code); }
    JNIEnv *const env;
    const jobject self;
    HeldException failure;
};

// A String argument as standard UTF-8; null stays null.
class Text {
public:
    Text(Call &call, jstring s);
    ~Text();
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;
    const char *get() const { return standard_ ? converted_.c_str() : chars_; }
    size_t size() const {
        return standard_ ? converted_.size() : chars_ ? std::char_traits<char>::length(chars_) : 0;
    }
    bool failed() const { return failed_; }

private:
    JNIEnv *env_;
    jstring string_;
    const char *chars_ = nullptr;
    bool standard_ = false;  // true: converted_ holds the text
    std::string converted_;  // wiped when the text ends
    bool failed_ = false;
};

// A byte[] argument: its elements (no copy asked for) and its length.
class Bytes {
public:
    Bytes(Call &call, jbyteArray array);
    ~Bytes();
    Bytes(const Bytes &) = delete;
    Bytes &operator=(const Bytes &) = delete;
    unsigned char *data() const { return reinterpret_cast<unsigned char *>(elements_); }
    jsize size() const { return length_; }
    bool failed() const { return failed_; }

private:
    JNIEnv *env_;
    jbyteArray array_;
    jbyte *elements_ = nullptr;
    jsize length_ = 0;
    bool failed_ = false;
};

// The NUL-terminated copy of a password array: on the stack up to 255 bytes.
// The encoder reads the argument of non-key kinds as an int, so the bytes up
// to sizeof(int) past the text are always set.
class Password {
public:
    explicit Password(const Bytes &bytes);
    ~Password();
    Password(const Password &) = delete;
    Password &operator=(const Password &) = delete;
    char *get() const { return text_; }
    bool failed() const { return failed_; }

private:
    char stack_[256 + sizeof(int)];
    tq::Wiped<tq::systemFree> heap_;
    char *text_ = nullptr;
    size_t size_ = 0;
    bool failed_ = false;
};

// A native whose work threw: 5002 stored as for any failed allocation of its
// own, a pending JVM failure held meanwhile and raised again.
tqboundary::Empty refused(JNIEnv *env, jobject self) noexcept;
jint refusedCode(JNIEnv *env, jobject self) noexcept;

// Releases what the core handed out (a blob, a list, a text) when the
// native's scope ends, on every path: also when a conversion to Java runs
// out of memory before the native would release it.
class Release {
public:
    explicit Release(TQXCRYPT_BLOB &blob) : blob_(&blob) {}
    explicit Release(TQXCRYPT_ATTRIBUTES &list) : list_(&list) {}
    explicit Release(char *&text) : text_(&text) {}
    ~Release() {
        if (blob_) TQXCryptFreeBlob(blob_);
        if (list_) TQXCryptFreeAttributes(list_);
        if (text_) {
            TQCryptMemFree(*text_);
            *text_ = nullptr;
        }
    }
    Release(const Release &) = delete;
    Release &operator=(const Release &) = delete;

private:
    TQXCRYPT_BLOB *blob_ = nullptr;
    TQXCRYPT_ATTRIBUTES *list_ = nullptr;
    char **text_ = nullptr;
};

// SetString for a text in the JVM's form already: it allocates nothing.
int setModifiedString(JNIEnv *env, jobject object, const char *field, const char *modified);
// NewX509GeneralName for the natives: out of memory it throws, so that the
// native answers 5002, where the exported helper answers as for a JVM failure.
jobject newGeneralName(JNIEnv *env, const TQXCRYPT_ATTRIBUTES *list);

// Results. Each takes a JVM failure into the call's holder.
jbyteArray newBytes(Call &call, const void *data, size_t length);
jstring newString(Call &call, const char *standardUtf8);
// The blob as a new array, then the blob released.
jbyteArray takeBlob(Call &call, TQXCRYPT_BLOB &blob);
// The common ends of a native: the code stored, the result only when it is 0.
jbyteArray blobResult(Call &call, int code, TQXCRYPT_BLOB &blob);
jlong handleResult(Call &call, int code, TQXCRYPT_HANDLE *handle);
// A text of the core as a String, the text released whatever happens.
jstring textResult(Call &call, int code, char *text);
// The code stored and returned, for natives whose result is their code.
inline jint codeResult(Call &call, int code) {
    call.store(code);
    return code;
}
// A setter of one text on a handle: the text taken, the code stored and
// returned.
using TextSetter = int (*)(TQXCRYPT_HANDLE *, const char *);
jint setText(Call &call, TextSetter setter, jlong handle, jstring value);
// A time text the getter writes into a stack buffer (the core writes at most
// 20 bytes).
using TimeGetter = int (*)(TQXCRYPT_HANDLE *, int, char *);
jstring timeResult(Call &call, TimeGetter getter, jlong handle, jint format);

// The ends of a core call that answers through its last argument: `work` is
// given where the core writes and answers the core's code.
template <class Work>
jlong handleOut(Call &call, Work &&work) {
    TQXCRYPT_HANDLE *handle = nullptr;
    const int code = work(&handle);
    return handleResult(call, code, handle);
}
template <class Work>
jstring textOut(Call &call, Work &&work) {
    char *text = nullptr;
    const int code = work(&text);
    return textResult(call, code, text);
}
template <class Work>
jbyteArray blobOut(Call &call, Work &&work) {
    TQXCRYPT_BLOB blob = {0, nullptr};
    const int code = work(&blob);
    return blobResult(call, code, blob);
}
template <class Work>
jint countOut(Call &call, Work &&work) {
    int count = 0;
    const int code = work(&count);
    call.store(code);
    return code == 0 ? count : 0;
}

// A native whose body is one call of the adapter it shares with the natives
// of its shape, so that each of them is one line. It keeps its own
// function-try-block and handler; `params` name the JNIEnv `env` and the
// receiver `self`, and the adapter works on the native's Call, `call`.
#define TQ_ADAPTED(type, handler, name, params, ...) \
    JNIEXPORT type JNICALL TQ_NATIVE(name)           \
    params try {                                     \
        ::tqjni::Call call(env, self);               \
        return __VA_ARGS__;                          \
    }                                                \
    handler

// The shapes that natives of several families share.
// A new empty object.
#define TQ_CREATOR(name, create) \
    TQ_ADAPTED(jlong, TQ_JNI_CATCH, name, (JNIEnv * env, jobject self), ::tqjni::handleOut(call, create))
// A handle read from another, or from another at an index.
#define TQ_HANDLE_READER(name, read)                                                  \
    TQ_ADAPTED(jlong, TQ_JNI_CATCH, name, (JNIEnv * env, jobject self, jlong object), \
               ::tqjni::handleOut(                                                    \
                   call, [&](TQXCRYPT_HANDLE **out) { return read(::tqjni::handleOf(object), out); }))
#define TQ_INDEXED_HANDLE_READER(name, read)                                                      \
    TQ_ADAPTED(jlong, TQ_JNI_CATCH, name, (JNIEnv * env, jobject self, jlong object, jint index), \
               ::tqjni::handleOut(call, [&](TQXCRYPT_HANDLE **out) {                              \
                   return read(::tqjni::handleOf(object), index, out);                            \
               }))
// A text read in a format (a name) or by a selector (an extension).
#define TQ_TEXT_READER(name, read)                                                            \
    TQ_ADAPTED(                                                                               \
        jstring, TQ_JNI_CATCH, name, (JNIEnv * env, jobject self, jlong object, jint format), \
        ::tqjni::textOut(call, [&](char **out) { return read(::tqjni::handleOf(object), format, out); }))
#define TQ_TIME_READER(name, read)                                                                   \
    TQ_ADAPTED(jstring, TQ_JNI_CATCH, name, (JNIEnv * env, jobject self, jlong object, jint format), \
               ::tqjni::timeResult(call, read, object, format))
// Bytes read, or read in a format.
#define TQ_BLOB_READER(name, read)                                                  \
    TQ_ADAPTED(                                                                     \
        jbyteArray, TQ_JNI_CATCH, name, (JNIEnv * env, jobject self, jlong object), \
        ::tqjni::blobOut(call, [&](TQXCRYPT_BLOB *out) { return read(::tqjni::handleOf(object), out); }))
#define TQ_FORMATTED_BLOB_READER(name, read)                                                            \
    TQ_ADAPTED(jbyteArray, TQ_JNI_CATCH, name, (JNIEnv * env, jobject self, jlong object, jint format), \
               ::tqjni::blobOut(                                                                        \
                   call, [&](TQXCRYPT_BLOB *out) { return read(::tqjni::handleOf(object), format, out); }))
// A number read (a count, usage bits).
#define TQ_COUNT_READER(name, read)                                                  \
    TQ_ADAPTED(jint, TQ_JNI_CATCH, name, (JNIEnv * env, jobject self, jlong object), \
               ::tqjni::countOut(call, [&](int *out) { return read(::tqjni::handleOf(object), out); }))
// A text set.
#define TQ_TEXT_SETTER(name, set)                                                                        \
    TQ_ADAPTED(jint, TQ_JNI_CATCH_CODE, name, (JNIEnv * env, jobject self, jlong object, jstring value), \
               ::tqjni::setText(call, set, object, value))
// A call on two handles that answers only its code: an issuer or a key set,
// an object added, a pair checked.
#define TQ_TWO_HANDLES(name, work)                                                                     \
    TQ_ADAPTED(jint, TQ_JNI_CATCH_CODE, name, (JNIEnv * env, jobject self, jlong object, jlong other), \
               ::tqjni::codeResult(call, work(::tqjni::handleOf(object), ::tqjni::handleOf(other))))

// Standard UTF-8 into the JVM's modified form: surrogate pairs for 4-byte
// sequences, U+FFFD for each byte that starts no valid sequence, C0 80 for NUL.
std::string toModifiedUtf8(const char *text, size_t length);
// The JVM's modified form into standard UTF-8 when it differs; false when
// the text is standard already (nothing written). `out` is sized once, so
// that all it ever held is in its one buffer.
bool toStandardUtf8(const char *modified, std::string &out);

inline TQXCRYPT_HANDLE *handleOf(jlong value) {
    return reinterpret_cast<TQXCRYPT_HANDLE *>(static_cast<intptr_t>(value));
}
inline jlong valueOf(TQXCRYPT_HANDLE *handle) {
    return static_cast<jlong>(reinterpret_cast<intptr_t>(handle));
}
// The token records the binding allocates and hands to Java carry a tag of
// their kind in their first word, `spare`, which the token layer clears and
// leaves unused. Every record the binding hands out has that word (a
// crypto-core handle, the smallest, included), so reading it never leaves the
// record Java gave. Bound to the address, as the core's seal is.
enum class Tag : uint64_t { Context = 0x2f1c6a93d58e47b1u, Session = 0x6b0e9d27c34a51f8u };

template <class Record>
uint64_t tagOf(const Record *record, Tag kind) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(record)) ^ static_cast<uint64_t>(kind);
}

// Set once the token layer has filled the record.
template <class Record>
void tag(Record *record, Tag kind) {
    record->spare = tagOf(record, kind);
}

// The record a Java value holds; null for 0, for a value no record can have
// and for a record of another kind, which each native then answers as it
// answers 0.
template <class Record>
Record *tagged(jlong value, Tag kind) {
    auto *record = reinterpret_cast<Record *>(static_cast<intptr_t>(value));
    if (value < TQ_LOWEST_RECORD_ADDRESS || value % alignof(Record) != 0 ||
        record->spare != tagOf(record, kind))
        return nullptr;
    return record;
}

inline TQXP11_CONTEXT *contextOf(jlong value) { return tagged<TQXP11_CONTEXT>(value, Tag::Context); }
inline TQXP11_SESSION *sessionOf(jlong value) { return tagged<TQXP11_SESSION>(value, Tag::Session); }

// A record Java no longer holds goes back without its tag.
template <class Record>
void release(Record *record) {
    if (record) record->spare = 0;
    std::free(record);
}

// A token native works only on a session Java was handed: anything else
// gives 5005 before anything is taken from Java.
template <class Work>
int onSession(jlong session, Work &&work) {
    TQXP11_SESSION *s = sessionOf(session);
    return s ? work(s) : TQ_RTN_BAD_ARGUMENT;
}

// A Java argument the JVM could not hand out is our allocation failure.
template <class... Args>
bool anyFailed(const Args &...args) {
    return (args.failed() || ...);
}

// The common end of a buffer from the system allocator (the token layer's or
// the native's own), or from the one whose free function is named: its bytes
// as a new array when the code is 0; wiped, as it may hold key bytes, and
// freed in every case; the code stored.
template <void (*Free)(void *) = tq::systemFree>
jbyteArray freedResult(Call &call, int code, void *buffer, size_t length) {
    const tq::Wiped<Free> owned(buffer, length);
    jbyteArray result = code == 0 ? newBytes(call, owned.get(), length) : nullptr;
    call.store(code);
    return result;
}

}  // namespace tqjni

#endif

// Arguments, fields and results at the boundary between Java and the core.
#include <cstdlib>
#include <cstring>
#include <new>

#include "hexdigits.h"
#include "jni_internal.h"

namespace tqjni {

HeldException::~HeldException() {
    if (held_.get()) env_->Throw(held_.get());
}

bool HeldException::take() {
    if (!env_->ExceptionCheck()) return false;
    LocalRef<jthrowable> pending(env_, env_->ExceptionOccurred());
    env_->ExceptionClear();
    if (!held_.get()) held_.reset(pending.release());
    return true;
}

Text::Text(Call &call, jstring s) : env_(call.env), string_(s) {
    if (!s) return;
    chars_ = env_->GetStringUTFChars(s, nullptr);
    if (!chars_) {
        call.failure.take();
        failed_ = true;
        return;
    }
    // Out of memory the conversion throws: the characters go back first.
    try {
        standard_ = toStandardUtf8(chars_, converted_);
    } catch (...) {
        env_->ReleaseStringUTFChars(string_, chars_);
        throw;
    }
}

Text::~Text() {
    // Passwords, PINs and key texts come this way: our copy of one is wiped.
    tq::wipe(&converted_[0], converted_.size());
    if (chars_) env_->ReleaseStringUTFChars(string_, chars_);
}

Bytes::Bytes(Call &call, jbyteArray array) : env_(call.env), array_(array) {
    if (!array) return;
    length_ = env_->GetArrayLength(array);
    elements_ = env_->GetByteArrayElements(array, nullptr);
    if (!elements_) {
        call.failure.take();
        failed_ = true;
        length_ = 0;
    }
}

Bytes::~Bytes() {
    if (elements_) env_->ReleaseByteArrayElements(array_, elements_, 0);
}

Password::Password(const Bytes &bytes) {
    if (!bytes.data()) return;
    const size_t n = static_cast<size_t>(bytes.size());
    size_ = n + 1 + sizeof(int);
    if (n <= 255) {
        text_ = stack_;
    } else {
        heap_ = tq::scratch(size_);
        if (!heap_) {
            failed_ = true;
            return;
        }
        text_ = reinterpret_cast<char *>(heap_.get());
    }
    std::memcpy(text_, bytes.data(), n);
    std::memset(text_ + n, 0, 1 + sizeof(int));
}

Password::~Password() {
    // A copy on the heap wipes itself.
    if (text_ == stack_) tq::wipe(stack_, size_);
}

tqboundary::Empty refused(JNIEnv *env, jobject self) noexcept {
    Call call(env, self);
    call.failure.take();
    call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
    return {};
}

jint refusedCode(JNIEnv *env, jobject self) noexcept {
    refused(env, self);
    return TQ_RTN_MEMORY_ALLOCATE_FAIL;
}

jbyteArray newBytes(Call &call, const void *data, size_t length) {
    if (length > static_cast<size_t>(INT32_MAX)) return nullptr;
    jbyteArray array = call.env->NewByteArray(static_cast<jsize>(length));
    if (!array) {
        call.failure.take();
        return nullptr;
    }
    if (length)
        call.env->SetByteArrayRegion(array, 0, static_cast<jsize>(length), static_cast<const jbyte *>(data));
    return array;
}

jstring newString(Call &call, const char *standardUtf8) {
    if (!standardUtf8) return nullptr;
    const std::string modified = toModifiedUtf8(standardUtf8, std::strlen(standardUtf8));
    jstring s = call.env->NewStringUTF(modified.c_str());
    if (!s) call.failure.take();
    return s;
}

jbyteArray takeBlob(Call &call, TQXCRYPT_BLOB &blob) {
    jbyteArray array = newBytes(call, blob.data, static_cast<size_t>(blob.length));
    TQXCryptFreeBlob(&blob);
    return array;
}

jbyteArray blobResult(Call &call, int code, TQXCRYPT_BLOB &blob) {
    jbyteArray result = code == 0 ? takeBlob(call, blob) : nullptr;
    TQXCryptFreeBlob(&blob);
    call.store(code);
    return result;
}

jlong handleResult(Call &call, int code, TQXCRYPT_HANDLE *handle) {
    call.store(code);
    return code == 0 ? valueOf(handle) : 0;
}

jstring textResult(Call &call, int code, char *text) {
    const Release release(text);
    jstring result = code == 0 && text ? newString(call, text) : nullptr;
    call.store(code);
    return result;
}

jint setText(Call &call, TextSetter setter, jlong handle, jstring value) {
    Text text(call, value);
    if (text.failed()) return codeResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL);
    return codeResult(call, setter(handleOf(handle), text.get()));
}

jstring timeResult(Call &call, TimeGetter getter, jlong handle, jint format) {
    char buffer[64] = {0};
    const int code = getter(handleOf(handle), format, buffer);
    jstring result = code == 0 ? newString(call, buffer) : nullptr;
    call.store(code);
    return result;
}

namespace {

// Length of the valid standard UTF-8 sequence at p (at most `left` bytes), 0 if none.
size_t sequenceLength(const unsigned char *p, size_t left, uint32_t &cp) {
    const unsigned char b = p[0];
    size_t n;
    uint32_t min;
    if (b < 0x80) {
        cp = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        n = 2, cp = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3, cp = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (left < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

void putThreeBytes(std::string &out, uint32_t unit) {
    out += static_cast<char>(0xE0 | (unit >> 12));
    out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (unit & 0x3F));
}

}  // namespace

std::string toModifiedUtf8(const char *text, size_t length) {
    std::string out;
    out.reserve(length + 8);
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    for (size_t i = 0; i < length;) {
        uint32_t cp = 0;
        const size_t n = sequenceLength(p + i, length - i, cp);
        if (n == 0) {
            putThreeBytes(out, 0xFFFD);
            i += 1;
        } else if (cp == 0) {
            out += "\xC0\x80";
            i += 1;
        } else if (n == 4) {
            cp -= 0x10000;
            putThreeBytes(out, 0xD800 | (cp >> 10));
            putThreeBytes(out, 0xDC00 | (cp & 0x3FF));
            i += 4;
        } else {
            out.append(text + i, n);
            i += n;
        }
    }
    return out;
}

bool toStandardUtf8(const char *modified, std::string &out) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(modified);
    // The forms differ only in NUL (C0 80) and in surrogates (ED A0..BF).
    const unsigned char *q = p;
    for (; *q; ++q) {
        if ((q[0] == 0xC0 && q[1] == 0x80) || (q[0] == 0xED && q[1] >= 0xA0 && q[1] <= 0xBF)) break;
    }
    if (!*q) return false;
    // Room for the whole text at once: the standard form is never longer, so
    // no shorter copy is left behind in memory freed on the way.
    out.reserve(static_cast<size_t>(q - p) + std::strlen(reinterpret_cast<const char *>(q)));
    out.assign(modified, static_cast<size_t>(q - p));
    while (*q) {
        if (q[0] == 0xC0 && q[1] == 0x80) {
            // The core takes NUL-terminated text: an embedded NUL ends it.
            break;
        }
        if (q[0] == 0xED && q[1] >= 0xA0 && q[1] <= 0xAF && q[2] && q[3] == 0xED && q[4] >= 0xB0 &&
            q[4] <= 0xBF && q[5]) {
            const uint32_t high = ((q[1] & 0x0F) << 6) | (q[2] & 0x3F);
            const uint32_t low = ((q[4] & 0x0F) << 6) | (q[5] & 0x3F);
            const uint32_t cp = 0x10000 + ((high << 10) | low);
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
            q += 6;
        } else if (q[0] == 0xED && q[1] >= 0xA0 && q[1] <= 0xBF && q[2]) {
            putThreeBytes(out, 0xFFFD);  // a lone surrogate has no standard form
            q += 3;
        } else {
            out += static_cast<char>(*q++);
        }
    }
    return true;
}

}  // namespace tqjni

using tqjni::HeldException;

namespace {

// The field of that name and type on the object's class; a missing one is
// no failure of the caller's, so its NoSuchFieldError is cleared.
jfieldID fieldOf(JNIEnv *env, jobject object, const char *name, const char *type) {
    if (!object || !name) return nullptr;
    const tqjni::LocalRef<jclass> cls(env, env->GetObjectClass(object));
    jfieldID id = env->GetFieldID(cls.get(), name, type);
    if (!id) env->ExceptionClear();
    return id;
}

// The number fields: their type and the JVM's accessors for it.
template <class Number>
struct NumberField;
template <>
struct NumberField<jint> {
    static constexpr const char *type = "I";
    static constexpr auto get = &JNIEnv::GetIntField;
    static constexpr auto set = &JNIEnv::SetIntField;
};
template <>
struct NumberField<jlong> {
    static constexpr const char *type = "J";
    static constexpr auto get = &JNIEnv::GetLongField;
    static constexpr auto set = &JNIEnv::SetLongField;
};

// A field the object lacks reads as 0 and cannot be set (-1).
template <class Number>
Number getNumber(JNIEnv *env, jobject object, const char *field) {
    jfieldID id = fieldOf(env, object, field, NumberField<Number>::type);
    return id ? (env->*NumberField<Number>::get)(object, id) : 0;
}

template <class Number>
int setNumber(JNIEnv *env, jobject object, const char *field, Number value) {
    jfieldID id = fieldOf(env, object, field, NumberField<Number>::type);
    if (!id) return -1;
    (env->*NumberField<Number>::set)(object, id, value);
    return 0;
}

}  // namespace

namespace tqjni {

int setModifiedString(JNIEnv *env, jobject object, const char *field, const char *modified) {
    jfieldID id = fieldOf(env, object, field, "Ljava/lang/String;");
    if (!id) return -1;
    LocalRef<jstring> value(env, nullptr);
    if (modified) {
        value.reset(env->NewStringUTF(modified));
        if (!value.get()) return -1;  // the JVM's failure stays pending for the caller
    }
    env->SetObjectField(object, id, value.get());
    return 0;
}

}  // namespace tqjni

extern "C" {

TQ_API jstring GetString(JNIEnv *env, jobject object, const char *field) try {
    jfieldID id = fieldOf(env, object, field, "Ljava/lang/String;");
    return id ? static_cast<jstring>(env->GetObjectField(object, id)) : nullptr;
}
TQ_CATCH_EMPTY

TQ_API int SetString(JNIEnv *env, jobject object, const char *field, const char *text) try {
    if (!text) return tqjni::setModifiedString(env, object, field, nullptr);
    const std::string modified = tqjni::toModifiedUtf8(text, std::strlen(text));
    return tqjni::setModifiedString(env, object, field, modified.c_str());
}
TQ_CATCH_RETURN(-1)

TQ_API jint GetInteger(JNIEnv *env, jobject object, const char *field) try {
    return getNumber<jint>(env, object, field);
}
TQ_CATCH_EMPTY

TQ_API int SetInteger(JNIEnv *env, jobject object, const char *field, jint value) try {
    return setNumber<jint>(env, object, field, value);
}
TQ_CATCH_RETURN(-1)

TQ_API jlong GetLong(JNIEnv *env, jobject object, const char *field) try {
    return getNumber<jlong>(env, object, field);
}
TQ_CATCH_EMPTY

TQ_API int64_t SetLong(JNIEnv *env, jobject object, const char *field, jlong value) try {
    return setNumber<jlong>(env, object, field, value);
}
TQ_CATCH_RETURN(-1)

TQ_API int bin_to_hex(const unsigned char *data, uint32_t length, char *out, int outSize,
                      char separator) try {
    if (!out || outSize < 1) return TQ_RTN_BUFFER_TOO_SMALL;
    if (length && !data) return TQ_RTN_BAD_ARGUMENT;
    const bool separated = static_cast<signed char>(separator) > 0;
    const size_t fit = tq::hexBytesThatFit(length, static_cast<size_t>(outSize), separated);
    char *const end = tq::writeHex(data, fit, out, separated ? separator : 0);
    // A text cut short is left without its NUL.
    if (fit < length) return TQ_RTN_BUFFER_TOO_SMALL;
    *end = '\0';
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

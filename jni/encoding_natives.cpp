// Natives of object encoding, the text codecs and handle release.
#include "jni_internal.h"

using tqjni::Bytes;
using tqjni::Call;
using tqjni::handleOf;
using tqjni::Password;
using tqjni::Text;

namespace {

jbyteArray encodeObject(Call &call, jlong handle, jint kind, jint flags, jbyteArray password) {
    Bytes bytes(call, password);
    Password copy(bytes);
    if (bytes.failed() || copy.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return nullptr;
    }
    return tqjni::blobOut(call, [&](TQXCRYPT_BLOB *blob) {
        return TQXCrypt_EncodeObject(handleOf(handle), kind, blob, flags, copy.get());
    });
}

jlong decodeObject(Call &call, jint kind, jbyteArray data, jint flags, jbyteArray password) {
    Bytes input(call, data);
    Bytes bytes(call, password);
    Password copy(bytes);
    if (input.failed() || bytes.failed() || copy.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return 0;
    }
    return tqjni::handleOut(call, [&](TQXCRYPT_HANDLE **h) {
        return TQXCrypt_DecodeObject(h, kind, input.data(), static_cast<size_t>(input.size()), flags,
                                     copy.get());
    });
}

jstring encodeText(Call &call, const unsigned char *data, size_t length, jstring label) {
    Text name(call, label);
    if (name.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return nullptr;
    }
    TQXCRYPT_BLOB blob = {0, nullptr};
    const tqjni::Release release(blob);
    const int code = TQXCrypt_Encode(data, length, &blob, name.get());
    jstring result = nullptr;
    if (code == 0) {
        // The core's text is NUL-terminated past its length.
        result = tqjni::newString(call, blob.data ? reinterpret_cast<const char *>(blob.data) : "");
    }
    call.store(code);
    return result;
}

}  // namespace

extern "C" {

// Each with and without a password.
TQ_ADAPTED(jbyteArray, TQ_JNI_CATCH, XEncodeObjectX__JII,
           (JNIEnv * env, jobject self, jlong handle, jint kind, jint flags),
           encodeObject(call, handle, kind, flags, nullptr))
TQ_ADAPTED(jbyteArray, TQ_JNI_CATCH, XEncodeObjectX__JII_3B,
           (JNIEnv * env, jobject self, jlong handle, jint kind, jint flags, jbyteArray password),
           encodeObject(call, handle, kind, flags, password))
TQ_ADAPTED(jlong, TQ_JNI_CATCH, XDecodeObjectX__I_3BI,
           (JNIEnv * env, jobject self, jint kind, jbyteArray data, jint flags),
           decodeObject(call, kind, data, flags, nullptr))
TQ_ADAPTED(jlong, TQ_JNI_CATCH, XDecodeObjectX__I_3BI_3B,
           (JNIEnv * env, jobject self, jint kind, jbyteArray data, jint flags, jbyteArray password),
           decodeObject(call, kind, data, flags, password))

JNIEXPORT jstring JNICALL TQ_NATIVE(Encode___3BLjava_lang_String_2)(JNIEnv *env, jobject self,
                                                                    jbyteArray data, jstring label) try {
    Call call(env, self);
    Bytes input(call, data);
    if (input.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return nullptr;
    }
    return encodeText(call, input.data(), static_cast<size_t>(input.size()), label);
}
TQ_JNI_CATCH

JNIEXPORT jstring JNICALL TQ_NATIVE(Encode__Ljava_lang_String_2Ljava_lang_String_2)(JNIEnv *env, jobject self,
                                                                                    jstring data,
                                                                                    jstring label) try {
    Call call(env, self);
    Text input(call, data);
    if (input.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return nullptr;
    }
    return encodeText(call, reinterpret_cast<const unsigned char *>(input.get()), input.size(), label);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(Decode)(JNIEnv *env, jobject self, jstring text, jstring labels) try {
    Call call(env, self);
    Text input(call, text);
    Text names(call, labels);
    if (input.failed() || names.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return nullptr;
    }
    TQXCRYPT_BLOB blob = {0, nullptr};
    const int code = TQXCrypt_Decode(input.get(), input.size(), &blob, names.get());
    jbyteArray result = code == 0 ? tqjni::takeBlob(call, blob) : nullptr;
    TQXCryptFreeBlob(&blob);
    call.store(code);
    return result;
}
TQ_JNI_CATCH

JNIEXPORT void JNICALL TQ_NATIVE(XFreeHandleX)(JNIEnv *env, jobject self, jlong handle) try {
    if (!handle) return;
    // The next verification releases what these fields hold: a handle
    // released here must not be released there again.
    if (GetLong(env, self, "hSignerCert") == handle) SetLong(env, self, "hSignerCert", 0);
    if (GetLong(env, self, "hSignerInfo") == handle) SetLong(env, self, "hSignerInfo", 0);
    TQXCryptFreeHandle(handleOf(handle));
}
TQ_CATCH_VOID

}  // extern "C"

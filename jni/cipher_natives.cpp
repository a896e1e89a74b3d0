// Natives of password-derived keys and streaming ciphers, and the
// passphrase decryption helper.
#include <openssl/evp.h>

#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "jni_internal.h"
#include "tqxcrypt_cipher.h"

using tqjni::Bytes;
using tqjni::Call;
using tqjni::handleOf;
using tqjni::Text;

namespace {

// The bytes of IV the key's cipher reads; -1 when the handle is no cipher
// context (the core then answers for it).
int ivLengthOf(jlong key) {
    void *object = nullptr;
    if (tqxCryptGetHandle(&object, handleOf(key), TQXCRYPT_KIND_CIPHER) != TQ_RTN_OK) return -1;
    return static_cast<const TQXCRYPT_CIPHER_CONTEXT *>(object)->ivLength;
}

jint init(JNIEnv *env, jobject self, jlong key, jbyteArray iv, bool encrypt) {
    Call call(env, self);
    Bytes vector(call, iv);
    int code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (!vector.failed()) {
        const int needed = vector.data() ? ivLengthOf(key) : -1;
        if (needed > vector.size()) {
            code = TQ_RTN_BAD_ARGUMENT;  // the core would read past the array
        } else {
            code = encrypt ? TQXCrypt_EncryptInit(handleOf(key), vector.data(), 0)
                           : TQXCrypt_DecryptInit(handleOf(key), vector.data(), 0);
        }
    }
    call.store(code);
    return code;
}

// The output range of a Java array: outOffset within it.
bool outputFits(JNIEnv *env, jbyteArray out, jint outOffset) {
    return out && outOffset >= 0 && outOffset <= env->GetArrayLength(out);
}

// Copies count bytes of the native buffer into out at outOffset: 5003 when
// they do not fit.
int deliver(JNIEnv *env, jbyteArray out, jint outOffset, const unsigned char *buffer, int count) {
    if (count > env->GetArrayLength(out) - outOffset) return TQ_RTN_BUFFER_TOO_SMALL;
    if (count > 0) env->SetByteArrayRegion(out, outOffset, count, reinterpret_cast<const jbyte *>(buffer));
    return TQ_RTN_OK;
}

jint update(JNIEnv *env, jobject self, jlong key, jbyteArray in, jint inOffset, jint inLength, jbyteArray out,
            jint outOffset, bool encrypt) {
    Call call(env, self);
    if (!in || inOffset < 0 || inLength < 0 || inOffset > env->GetArrayLength(in) - inLength ||
        !outputFits(env, out, outOffset)) {
        call.store(TQ_RTN_BAD_ARGUMENT);
        return 0;
    }
    const tq::Wiped<tq::systemFree> buffer = tq::scratch(static_cast<size_t>(inLength) + 32);
    if (!buffer) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return 0;
    }
    int count = 0;
    int code;
    {
        Bytes input(call, in);
        if (input.failed()) {
            code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
        } else {
            const unsigned char *from = input.data() + inOffset;
            code = encrypt ? TQXCrypt_EncryptUpdate(handleOf(key), from, static_cast<size_t>(inLength),
                                                    buffer.get(), &count)
                           : TQXCrypt_DecryptUpdate(handleOf(key), from, static_cast<size_t>(inLength),
                                                    buffer.get(), &count);
        }
    }
    if (code == 0) code = deliver(env, out, outOffset, buffer.get(), count);
    call.store(code);
    return code == 0 ? count : 0;
}

jint final(JNIEnv *env, jobject self, jlong key, jbyteArray out, jint outOffset, bool encrypt) {
    Call call(env, self);
    if (!outputFits(env, out, outOffset)) {
        call.store(TQ_RTN_BAD_ARGUMENT);
        return 0;
    }
    unsigned char buffer[32];
    int count = 0;
    int code = encrypt ? TQXCrypt_EncryptFinal(handleOf(key), buffer, &count, 0)
                       : TQXCrypt_DecryptFinal(handleOf(key), buffer, &count, 0);
    if (code == 0) code = deliver(env, out, outOffset, buffer, count);
    tq::wipe(buffer, sizeof buffer);
    call.store(code);
    return code == 0 ? count : 0;
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL TQ_NATIVE(XGenerateKeyX__ILjava_lang_String_2_3BII)(JNIEnv *env, jobject self,
                                                                            jint algorithm, jstring password,
                                                                            jbyteArray salt, jint iterations,
                                                                            jint flags) try {
    Call call(env, self);
    Text secret(call, password);
    Bytes bytes(call, salt);
    int code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
    TQXCRYPT_HANDLE *h = nullptr;
    if (!secret.failed() && !bytes.failed()) {
        code =
            TQXCrypt_GenerateKey(algorithm, secret.get(), bytes.data(), bytes.size(), iterations, flags, &h);
    }
    call.store(code);
    // Callers tell the code from a handle by ErrorCode.
    return code == 0 ? tqjni::valueOf(h) : static_cast<jlong>(code);
}
TQ_JNI_CATCH

// javac declares the short name of a method declared once; the library
// exports the long one, which the JVM finds as well.
static_assert(std::is_same<decltype(TQ_NATIVE(XGenerateKeyX)),
                           decltype(TQ_NATIVE(XGenerateKeyX__ILjava_lang_String_2_3BII))>::value,
              "XGenerateKeyX differs from the Java declaration");

JNIEXPORT jint JNICALL TQ_NATIVE(XEncryptInitX)(JNIEnv *env, jobject self, jlong key, jbyteArray iv) try {
    return init(env, self, key, iv, true);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XDecryptInitX)(JNIEnv *env, jobject self, jlong key, jbyteArray iv) try {
    return init(env, self, key, iv, false);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XEncryptUpdateX)(JNIEnv *env, jobject self, jlong key, jbyteArray in,
                                                  jint inOffset, jint inLength, jbyteArray out,
                                                  jint outOffset) try {
    return update(env, self, key, in, inOffset, inLength, out, outOffset, true);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XDecryptUpdateX)(JNIEnv *env, jobject self, jlong key, jbyteArray in,
                                                  jint inOffset, jint inLength, jbyteArray out,
                                                  jint outOffset) try {
    return update(env, self, key, in, inOffset, inLength, out, outOffset, false);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XEncryptFinalX)(JNIEnv *env, jobject self, jlong key, jbyteArray out,
                                                 jint outOffset) try {
    return final(env, self, key, out, outOffset, true);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XDecryptFinalX)(JNIEnv *env, jobject self, jlong key, jbyteArray out,
                                                 jint outOffset) try {
    return final(env, self, key, out, outOffset, false);
}
TQ_JNI_CATCH

TQ_API int TripleDESDecrypt(const char *passphrase, const char *cipherText, int algorithm, int flags,
                            unsigned char **out, int *outLength) try {
    if (!cipherText || !out || !outLength) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_BLOB decoded = {0, nullptr};
    if (TQXCrypt_Decode(cipherText, std::strlen(cipherText), &decoded, nullptr) != 0)
        return TQ_RTN_DECRYPT_FAILED;
    TQXCRYPT_HANDLE *key = nullptr;
    int code = TQXCrypt_GenerateKey(algorithm, passphrase, nullptr, 0, 1, flags, &key);
    tq::Wiped<tq::systemFree> buffer;
    if (code == 0) {
        // The core has just made this cipher handle.
        const auto *context = static_cast<const TQXCRYPT_CIPHER_CONTEXT *>(key->object);
        const int block = context && context->cipher ? EVP_CIPHER_get_block_size(context->cipher) : 8;
        // The IV travels in front; without a whole block after it there is nothing to decrypt.
        if (decoded.length < 8 + static_cast<uint64_t>(block > 0 ? block : 1) || decoded.length > INT32_MAX) {
            code = TQ_RTN_DECRYPT_FAILED;
        } else {
            buffer = tq::scratch(static_cast<size_t>(decoded.length - 8) + 32);
            if (!buffer) code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
        }
    }
    int n = 0;
    int m = 0;
    if (code == 0) code = TQXCrypt_DecryptInit(key, decoded.data, 0);
    if (code == 0)
        code = TQXCrypt_DecryptUpdate(key, decoded.data + 8, static_cast<size_t>(decoded.length - 8),
                                      buffer.get(), &n);
    if (code == 0) code = TQXCrypt_DecryptFinal(key, buffer.get() + n, &m, 0);
    if (code == 0) {
        *out = buffer.release();
        *outLength = n + m;
    }
    if (key) TQXCryptFreeHandle(key);
    TQXCryptFreeBlob(&decoded);
    return code;
}
TQ_CATCH_CODE

}  // extern "C"

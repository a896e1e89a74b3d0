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
// context (the core then answers for it). The cipher says, not the record:
// only a derived key records its IV length.
int ivLengthOf(jlong key) {
    void *object = nullptr;
    if (tqxCryptGetHandle(&object, handleOf(key), TQXCRYPT_KIND_CIPHER) != TQ_RTN_OK) return -1;
    const auto *context = static_cast<const TQXCRYPT_CIPHER_CONTEXT *>(object);
    const int recorded = context->ivLength;
    const int read = context->cipher ? EVP_CIPHER_get_iv_length(context->cipher) : 0;
    return read > recorded ? read : recorded;
}

// Each step of a stream, its encrypting and its decrypting form alike.
using Init = int (*)(TQXCRYPT_HANDLE *, const unsigned char *, int);
using Update = int (*)(TQXCRYPT_HANDLE *, const unsigned char *, size_t, unsigned char *, int *);
using Final = int (*)(TQXCRYPT_HANDLE *, unsigned char *, int *, int);

jint init(Call &call, jlong key, jbyteArray iv, Init start) {
    Bytes vector(call, iv);
    int code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (!vector.failed()) {
        const int needed = vector.data() ? ivLengthOf(key) : -1;
        if (needed > vector.size()) {
            code = TQ_RTN_BAD_ARGUMENT;  // the core would read past the array
        } else {
            code = start(handleOf(key), vector.data(), 0);
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

jint update(Call &call, jlong key, jbyteArray in, jint inOffset, jint inLength, jbyteArray out,
            jint outOffset, Update step) {
    JNIEnv *const env = call.env;
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
            code = step(handleOf(key), from, static_cast<size_t>(inLength), buffer.get(), &count);
        }
    }
    if (code == 0) code = deliver(env, out, outOffset, buffer.get(), count);
    call.store(code);
    return code == 0 ? count : 0;
}

jint final(Call &call, jlong key, jbyteArray out, jint outOffset, Final finish) {
    JNIEnv *const env = call.env;
    if (!outputFits(env, out, outOffset)) {
        call.store(TQ_RTN_BAD_ARGUMENT);
        return 0;
    }
    unsigned char buffer[32];
    int count = 0;
    int code = finish(handleOf(key), buffer, &count, 0);
    if (code == 0) code = deliver(env, out, outOffset, buffer, count);
    tq::wipe(buffer, sizeof buffer);
    call.store(code);
    return code == 0 ? count : 0;
}

}  // namespace

// The steps of a stream, each in its encrypting and its decrypting form.
#define TQ_CIPHER_INIT(name, start)                                                                   \
    TQ_ADAPTED(jint, TQ_JNI_CATCH_CODE, name, (JNIEnv * env, jobject self, jlong key, jbyteArray iv), \
               init(call, key, iv, start))
#define TQ_CIPHER_UPDATE(name, step)                                                                \
    TQ_ADAPTED(jint, TQ_JNI_CATCH, name,                                                            \
               (JNIEnv * env, jobject self, jlong key, jbyteArray in, jint inOffset, jint inLength, \
                jbyteArray out, jint outOffset),                                                    \
               update(call, key, in, inOffset, inLength, out, outOffset, step))
#define TQ_CIPHER_FINAL(name, finish)                                                   \
    TQ_ADAPTED(jint, TQ_JNI_CATCH, name,                                                \
               (JNIEnv * env, jobject self, jlong key, jbyteArray out, jint outOffset), \
               final(call, key, out, outOffset, finish))

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

TQ_CIPHER_INIT(XEncryptInitX, TQXCrypt_EncryptInit)
TQ_CIPHER_INIT(XDecryptInitX, TQXCrypt_DecryptInit)
TQ_CIPHER_UPDATE(XEncryptUpdateX, TQXCrypt_EncryptUpdate)
TQ_CIPHER_UPDATE(XDecryptUpdateX, TQXCrypt_DecryptUpdate)
TQ_CIPHER_FINAL(XEncryptFinalX, TQXCrypt_EncryptFinal)
TQ_CIPHER_FINAL(XDecryptFinalX, TQXCrypt_DecryptFinal)

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

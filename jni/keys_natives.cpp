// Natives of keys, raw RSA operations and digests.
#include "jni_internal.h"
#include "tqxcrypt_keys.h"

using tqjni::blobResult;
using tqjni::Bytes;
using tqjni::Call;
using tqjni::handleOf;
using tqjni::valueOf;

namespace {

typedef int RawOperation(TQXCRYPT_HANDLE *, const unsigned char *, uint64_t, int, TQXCRYPT_BLOB *);
typedef int Component(TQXCRYPT_HANDLE *, TQXCRYPT_BLOB *);

jbyteArray raw(JNIEnv *env, jobject self, RawOperation *operation, jlong key, jbyteArray data, jint flags) {
    Call call(env, self);
    Bytes input(call, data);
    if (input.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return nullptr;
    }
    TQXCRYPT_BLOB blob = {0, nullptr};
    const int code =
        operation(handleOf(key), input.data(), static_cast<uint64_t>(input.size()), flags, &blob);
    return blobResult(call, code, blob);
}

jbyteArray component(JNIEnv *env, jobject self, Component *read, jlong key) {
    Call call(env, self);
    TQXCRYPT_BLOB blob = {0, nullptr};
    const int code = read(handleOf(key), &blob);
    return blobResult(call, code, blob);
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL TQ_NATIVE(XCheckKeyUsage)(JNIEnv *, jobject, jint on) try {
    return TQXCryptCheckKeyUsage(on);
}
TQ_CATCH_EMPTY

JNIEXPORT jlong JNICALL TQ_NATIVE(XPrivateKeyGetPublicKeyX)(JNIEnv *env, jobject self, jlong key) try {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_GetPublicKey(handleOf(key), &h);
    call.store(code);
    return code == 0 ? valueOf(h) : 0;
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XCheckKeyPairX)(JNIEnv *env, jobject self, jlong key1, jlong key2) try {
    Call call(env, self);
    const int code = TQXCrypt_CheckKeyPair(handleOf(key1), handleOf(key2));
    call.store(code);
    return code;
}
TQ_JNI_CATCH_CODE

JNIEXPORT jlong JNICALL TQ_NATIVE(XCreateRSAPublicKeyX)(JNIEnv *env, jobject self, jbyteArray modulus,
                                                        jbyteArray exponent, jint flags) try {
    Call call(env, self);
    Bytes n(call, modulus);
    Bytes e(call, exponent);
    int code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
    TQXCRYPT_HANDLE *h = nullptr;
    if (!n.failed() && !e.failed()) {
        code = TQXCrypt_CreateRSAPublicKey(n.data(), static_cast<uint64_t>(n.size()), e.data(),
                                           static_cast<uint64_t>(e.size()), flags, &h);
    }
    call.store(code);
    // Callers tell the code from a handle by ErrorCode.
    return code == 0 ? valueOf(h) : static_cast<jlong>(code);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XRSAKeyGetModulusX)(JNIEnv *env, jobject self, jlong key) try {
    return component(env, self, TQXCrypt_KeyModulus, key);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XRSAKeyGetExponentX)(JNIEnv *env, jobject self, jlong key) try {
    return component(env, self, TQXCrypt_KeyExponent, key);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XPureSignX)(JNIEnv *env, jobject self, jlong key, jbyteArray data,
                                                   jint flags) try {
    return raw(env, self, TQXCrypt_PureSign, key, data, flags);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XPureVerifyX)(JNIEnv *env, jobject self, jlong key, jbyteArray data,
                                               jbyteArray signature, jint flags) try {
    Call call(env, self);
    Bytes input(call, data);
    Bytes sig(call, signature);
    int code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (!input.failed() && !sig.failed()) {
        code = TQXCrypt_PureVerify(handleOf(key), sig.data(), static_cast<uint64_t>(sig.size()), input.data(),
                                   static_cast<uint64_t>(input.size()), flags);
    }
    call.store(code);
    return code;
}
TQ_JNI_CATCH_CODE

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XPrivateEncryptX)(JNIEnv *env, jobject self, jlong key,
                                                         jbyteArray data, jint flags) try {
    return raw(env, self, TQXCrypt_PrivateEncrypt, key, data, flags);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XPublicDecryptX)(JNIEnv *env, jobject self, jlong key, jbyteArray data,
                                                        jint flags) try {
    return raw(env, self, TQXCrypt_PublicDecrypt, key, data, flags);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XPrivateDecryptX)(JNIEnv *env, jobject self, jlong key,
                                                         jbyteArray data, jint flags) try {
    return raw(env, self, TQXCrypt_PrivateDecrypt, key, data, flags);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XPublicEncryptX)(JNIEnv *env, jobject self, jlong key, jbyteArray data,
                                                        jint flags) try {
    return raw(env, self, TQXCrypt_PublicEncrypt, key, data, flags);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XPublicKeyHashedX)(JNIEnv *env, jobject self, jlong key) try {
    Call call(env, self);
    TQXCRYPT_BLOB der = {0, nullptr};
    int code = TQXCrypt_EncodeObject(handleOf(key), TQXCRYPT_KIND_PUBLICKEY, &der, 0, nullptr);
    unsigned char digest[128];
    TQXCRYPT_BLOB out = {sizeof digest, digest};
    if (code == 0) {
        TQXCRYPT_HANDLE *hash = nullptr;
        code = TQXCrypt_HashInit(&hash, TQXCRYPT_HASH_SHA1);
        if (code == 0) code = TQXCrypt_HashUpdate(hash, der.data, der.length, 0);
        if (code == 0) code = TQXCrypt_HashFinal(hash, 0, &out);
        // The final step releases the digest on success only.
        if (code != 0 && hash) TQXCryptFreeHandle(hash);
    }
    TQXCryptFreeBlob(&der);
    jbyteArray result =
        code == 0 ? tqjni::newBytes(call, out.data, static_cast<size_t>(out.length)) : nullptr;
    call.store(code);
    return result;
}
TQ_JNI_CATCH

}  // extern "C"

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

jbyteArray raw(Call &call, RawOperation *operation, jlong key, jbyteArray data, jint flags) {
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

}  // namespace

// Raw RSA on the bytes given, the result as bytes.
#define TQ_RAW_OPERATION(name, operation)                                            \
    TQ_ADAPTED(jbyteArray, TQ_JNI_CATCH, name,                                       \
               (JNIEnv * env, jobject self, jlong key, jbyteArray data, jint flags), \
               raw(call, operation, key, data, flags))

extern "C" {

JNIEXPORT jint JNICALL TQ_NATIVE(XCheckKeyUsage)(JNIEnv *, jobject, jint on) try {
    return TQXCryptCheckKeyUsage(on);
}
TQ_CATCH_EMPTY

TQ_HANDLE_READER(XPrivateKeyGetPublicKeyX, TQXCrypt_GetPublicKey)
TQ_TWO_HANDLES(XCheckKeyPairX, TQXCrypt_CheckKeyPair)

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

TQ_BLOB_READER(XRSAKeyGetModulusX, TQXCrypt_KeyModulus)
TQ_BLOB_READER(XRSAKeyGetExponentX, TQXCrypt_KeyExponent)
TQ_RAW_OPERATION(XPureSignX, TQXCrypt_PureSign)

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

TQ_RAW_OPERATION(XPrivateEncryptX, TQXCrypt_PrivateEncrypt)
TQ_RAW_OPERATION(XPublicDecryptX, TQXCrypt_PublicDecrypt)
TQ_RAW_OPERATION(XPrivateDecryptX, TQXCrypt_PrivateDecrypt)
TQ_RAW_OPERATION(XPublicEncryptX, TQXCrypt_PublicEncrypt)

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

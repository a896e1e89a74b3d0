// Natives of PKCS#7 messages: building, signing, verifying, enveloping, reading.
#include "jni_internal.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"

using tqjni::blobResult;
using tqjni::Bytes;
using tqjni::Call;
using tqjni::handleOf;
using tqjni::handleResult;
using tqjni::Text;
using tqjni::valueOf;

namespace {

jint countResult(Call &call, int code, int32_t count) {
    call.store(code);
    return code == 0 ? count : 0;
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL TQ_NATIVE(XPKCS7CreateX)(JNIEnv *env, jobject self) try {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_CreatePKCS7(&h);
    return handleResult(call, code, h);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XPKCS7AddCertificateX)(JNIEnv *env, jobject self, jlong p7, jlong cert) try {
    Call call(env, self);
    const int code = TQXCrypt_PKCS7AddCertificate(handleOf(p7), handleOf(cert));
    call.store(code);
    return code;
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XPKCS7GetCertCountX)(JNIEnv *env, jobject self, jlong p7) try {
    Call call(env, self);
    int32_t count = 0;
    const int code = TQXCrypt_PKCS7GetCertificateCount(handleOf(p7), &count);
    return countResult(call, code, count);
}
TQ_JNI_CATCH

JNIEXPORT jlong JNICALL TQ_NATIVE(XPKCS7GetCertX)(JNIEnv *env, jobject self, jlong p7, jint index) try {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_PKCS7GetCertificate(handleOf(p7), index, &h);
    return handleResult(call, code, h);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XPKCS7GetSignerInfoCountX)(JNIEnv *env, jobject self, jlong p7) try {
    Call call(env, self);
    int32_t count = 0;
    const int code = TQXCrypt_PKCS7GetSignerInfoCount(handleOf(p7), &count);
    return countResult(call, code, count);
}
TQ_JNI_CATCH

JNIEXPORT jlong JNICALL TQ_NATIVE(XPKCS7GetSignerInfoX)(JNIEnv *env, jobject self, jlong p7, jint index) try {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_PKCS7GetSignerInfo(handleOf(p7), index, &h);
    return handleResult(call, code, h);
}
TQ_JNI_CATCH

JNIEXPORT jlong JNICALL TQ_NATIVE(XPKCS7GetSignerCertificateX)(JNIEnv *env, jobject self, jlong p7,
                                                               jint index) try {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_PKCS7GetSignerCertificate(handleOf(p7), index, &h);
    return handleResult(call, code, h);
}
TQ_JNI_CATCH

JNIEXPORT jlong JNICALL TQ_NATIVE(XPKCS7GetUserCertificateX)(JNIEnv *env, jobject self, jlong p7) try {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_PKCS7GetUserCertificate(handleOf(p7), &h);
    return handleResult(call, code, h);
}
TQ_JNI_CATCH

JNIEXPORT jlong JNICALL TQ_NATIVE(XPKCS7GetCertChainX)(JNIEnv *env, jobject self, jlong p7) try {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_PKCS7GetCertChain(handleOf(p7), &h);
    return handleResult(call, code, h);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XPKCS7GetContentX)(JNIEnv *env, jobject self, jlong p7) try {
    Call call(env, self);
    TQXCRYPT_BLOB blob = {0, nullptr};
    const int code = TQXCrypt_PKCS7GetContent(handleOf(p7), &blob);
    return blobResult(call, code, blob);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XPKCS7EncryptX)(JNIEnv *env, jobject self, jlong cert, jbyteArray data,
                                                       jint cipher) try {
    Call call(env, self);
    Bytes input(call, data);
    TQXCRYPT_BLOB blob = {0, nullptr};
    const int code = input.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                                    : TQXCrypt_Encrypt(handleOf(cert), input.data(),
                                                       static_cast<uint64_t>(input.size()), cipher, &blob);
    return blobResult(call, code, blob);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XPKCS7DecryptX)(JNIEnv *env, jobject self, jlong cert, jlong key,
                                                       jbyteArray envelope, jint flags) try {
    Call call(env, self);
    Bytes input(call, envelope);
    TQXCRYPT_BLOB blob = {0, nullptr};
    const int code = input.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                                    : TQXCrypt_Decrypt(handleOf(cert), handleOf(key), input.data(),
                                                       static_cast<uint64_t>(input.size()), flags, &blob);
    return blobResult(call, code, blob);
}
TQ_JNI_CATCH

JNIEXPORT jlong JNICALL TQ_NATIVE(XPKCS7SignX)(JNIEnv *env, jobject self, jlong cert, jlong key, jlong,
                                               jbyteArray data, jint options, jint hash) try {
    Call call(env, self);
    Bytes input(call, data);
    if (input.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return 0;
    }
    TQXCRYPT_BLOB signature = {0, nullptr};
    int code = TQXCrypt_PureSign(handleOf(key), input.data(), static_cast<uint64_t>(input.size()),
                                 hash | TQXCRYPT_PURE_HASH_DATA, &signature);
    TQXCRYPT_HANDLE *h = nullptr;
    if (code == 0) {
        code = signature.length > UINT32_MAX
                   ? TQ_RTN_BAD_ARGUMENT
                   : tqxCrypt_GeneratePKCS7WithHandle(
                         signature.data, static_cast<unsigned int>(signature.length), handleOf(cert),
                         input.data(), static_cast<uint64_t>(input.size()), options, hash, &h);
    }
    TQXCryptFreeBlob(&signature);
    return handleResult(call, code, h);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XPKCS7VerifyX)(JNIEnv *env, jobject self, jlong store, jlong p7,
                                                jbyteArray data, jstring subject, jint signerIndex,
                                                jint flags, jint checkTime) try {
    Call call(env, self);
    Bytes input(call, data);
    Text rule(call, subject);
    const jlong previous[] = {GetLong(env, self, "hSignerCert"), GetLong(env, self, "hSignerInfo")};
    for (jlong h : previous) {
        if (h) TQXCryptFreeHandle(handleOf(h));
    }
    TQXCRYPT_HANDLE *signerInfo = nullptr;
    TQXCRYPT_HANDLE *signerCert = nullptr;
    int code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (!input.failed() && !rule.failed()) {
        code = TQXCrypt_Verify(handleOf(store), handleOf(p7), input.data(),
                               static_cast<uint64_t>(input.size()), rule.get(), signerIndex, flags,
                               static_cast<time_t>(checkTime), &signerInfo, &signerCert);
    }
    if (code != 0) {
        if (signerInfo) TQXCryptFreeHandle(signerInfo);
        if (signerCert) TQXCryptFreeHandle(signerCert);
        signerInfo = signerCert = nullptr;
    }
    // Crossed on purpose: callers read the signer info from hSignerCert and
    // the certificate from hSignerInfo.
    SetLong(env, self, "hSignerCert", valueOf(signerInfo));
    SetLong(env, self, "hSignerInfo", valueOf(signerCert));
    call.store(code);
    return code;
}
TQ_JNI_CATCH_CODE

}  // extern "C"

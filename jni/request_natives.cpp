// Natives of certificate requests: made in one call from a key and a subject,
// or created empty and filled by setters.
#include "jni_internal.h"
#include "tqxcrypt_build.h"

using tqjni::Call;
using tqjni::codeResult;
using tqjni::handleOf;
using tqjni::Text;

namespace {

// The road the four one-call natives share: the two older names pass SHA-1.
jlong generate(JNIEnv *env, jobject self, jlong privateKey, jlong publicKey, jstring subject, jint flags,
               jint hash) {
    Call call(env, self);
    Text name(call, subject);
    if (name.failed()) return tqjni::handleResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL, nullptr);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code =
        TQXCrypt_GenerateCertRequest(handleOf(privateKey), handleOf(publicKey), name.get(), flags, hash, &h);
    return tqjni::handleResult(call, code, h);
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL TQ_NATIVE(XCryptGenerateCertRequestX)(JNIEnv *env, jobject self, jlong privateKey,
                                                              jlong publicKey, jstring subject,
                                                              jint flags) try {
    return generate(env, self, privateKey, publicKey, subject, flags, 0);
}
TQ_JNI_CATCH

JNIEXPORT jlong JNICALL TQ_NATIVE(XCryptGenerateCertRequest2X)(JNIEnv *env, jobject self, jlong privateKey,
                                                               jlong publicKey, jstring subject, jint flags,
                                                               jint hash) try {
    return generate(env, self, privateKey, publicKey, subject, flags, hash);
}
TQ_JNI_CATCH

JNIEXPORT jlong JNICALL TQ_NATIVE(WKXCryptGenerateCertRequestX)(JNIEnv *env, jobject self, jlong privateKey,
                                                                jlong publicKey, jstring subject,
                                                                jint flags) try {
    return generate(env, self, privateKey, publicKey, subject, flags, 0);
}
TQ_JNI_CATCH

JNIEXPORT jlong JNICALL TQ_NATIVE(WKXCryptGenerateCertRequest2X)(JNIEnv *env, jobject self, jlong privateKey,
                                                                 jlong publicKey, jstring subject, jint flags,
                                                                 jint hash) try {
    return generate(env, self, privateKey, publicKey, subject, flags, hash);
}
TQ_JNI_CATCH

JNIEXPORT jlong JNICALL TQ_NATIVE(XCertReqCreateX)(JNIEnv *env, jobject self) try {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_CreateCertReq(&h);
    return tqjni::handleResult(call, code, h);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XCertReqSetSubjectX)(JNIEnv *env, jobject self, jlong request,
                                                      jstring subject) try {
    Call call(env, self);
    return tqjni::setText(call, TQXCrypt_CertReqSetSubject, request, subject);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XCertReqSetPublicKeyX)(JNIEnv *env, jobject self, jlong request,
                                                        jlong publicKey) try {
    Call call(env, self);
    return codeResult(call, TQXCrypt_CertReqSetPublicKey(handleOf(request), handleOf(publicKey)));
}
TQ_JNI_CATCH_CODE

JNIEXPORT jlong JNICALL TQ_NATIVE(XCertReqGetPublicKeyX)(JNIEnv *env, jobject self, jlong request) try {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_CertReqGetPublicKey(handleOf(request), &h);
    return tqjni::handleResult(call, code, h);
}
TQ_JNI_CATCH

JNIEXPORT jstring JNICALL TQ_NATIVE(XCertReqGetSubjectX)(JNIEnv *env, jobject self, jlong request,
                                                         jint format) try {
    Call call(env, self);
    char *text = nullptr;
    const int code = TQXCrypt_CertReqGetSubject(handleOf(request), format, &text);
    return tqjni::textResult(call, code, text);
}
TQ_JNI_CATCH

}  // extern "C"

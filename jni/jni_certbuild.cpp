// Natives building a certificate field by field, and signing and verifying
// an encoded object (certificate, request or CRL).
#include "jni_internal.h"
#include "tqxcrypt_build.h"

using tqjni::Call;
using tqjni::codeResult;
using tqjni::handleOf;

extern "C" {

JNIEXPORT jlong JNICALL TQ_NATIVE(XCertficiateCreateX)(JNIEnv *env, jobject self) {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_CreateCertificate(&h);
    return tqjni::handleResult(call, code, h);
}

JNIEXPORT jint JNICALL TQ_NATIVE(XSignObjectX)(JNIEnv *env, jobject self, jlong object, jlong privateKey,
                                               jint flags) {
    Call call(env, self);
    return codeResult(call, TQXCrypt_SignObject(handleOf(object), handleOf(privateKey), flags));
}

JNIEXPORT jint JNICALL TQ_NATIVE(XVerifyObjectX)(JNIEnv *env, jobject self, jlong object, jlong publicKey,
                                                 jint flags) {
    Call call(env, self);
    return codeResult(call, TQXCrypt_VerifyObject(handleOf(object), handleOf(publicKey), flags));
}

}  // extern "C"

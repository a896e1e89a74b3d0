// Natives reading a certificate: names, validity, serial, fingerprints, public
// key and key usage.
#include "jni_internal.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_x509.h"

using tqjni::blobResult;
using tqjni::Call;
using tqjni::handleOf;
using tqjni::handleResult;
using tqjni::textResult;
using tqjni::timeResult;

extern "C" {

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XCertGetSerialNumberX)(JNIEnv *env, jobject self, jlong cert,
                                                              jint format) try {
    Call call(env, self);
    TQXCRYPT_BLOB blob = {0, nullptr};
    const int code = TQXCrypt_CertGetSerialNumber(handleOf(cert), format, &blob);
    return blobResult(call, code, blob);
}
TQ_JNI_CATCH

JNIEXPORT jstring JNICALL TQ_NATIVE(XCertGetSubjectX)(JNIEnv *env, jobject self, jlong cert,
                                                      jint format) try {
    Call call(env, self);
    char *text = nullptr;
    const int code = TQXCrypt_CertGetSubject(handleOf(cert), format, &text);
    return textResult(call, code, text);
}
TQ_JNI_CATCH

JNIEXPORT jstring JNICALL TQ_NATIVE(XCertGetIssuerX)(JNIEnv *env, jobject self, jlong cert, jint format) try {
    Call call(env, self);
    char *text = nullptr;
    const int code = TQXCrypt_CertGetIssuer(handleOf(cert), format, &text);
    return textResult(call, code, text);
}
TQ_JNI_CATCH

JNIEXPORT jstring JNICALL TQ_NATIVE(XCertGetNotBeforeX)(JNIEnv *env, jobject self, jlong cert,
                                                        jint format) try {
    Call call(env, self);
    return timeResult(call, TQXCrypt_CertGetNotBefore, cert, format);
}
TQ_JNI_CATCH

JNIEXPORT jstring JNICALL TQ_NATIVE(XCertGetNotAfterX)(JNIEnv *env, jobject self, jlong cert,
                                                       jint format) try {
    Call call(env, self);
    return timeResult(call, TQXCrypt_CertGetNotAfter, cert, format);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XCertGetDigestX)(JNIEnv *env, jobject self, jlong cert,
                                                        jint flags) try {
    Call call(env, self);
    TQXCRYPT_BLOB blob = {0, nullptr};
    const int code = TQXCrypt_CertGetDigest(handleOf(cert), static_cast<unsigned int>(flags), &blob);
    return blobResult(call, code, blob);
}
TQ_JNI_CATCH

JNIEXPORT jlong JNICALL TQ_NATIVE(XCertGetPublicKeyX)(JNIEnv *env, jobject self, jlong cert) try {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_CertGetPublicKey(handleOf(cert), &h);
    return handleResult(call, code, h);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XCertGetKeyUsagesX)(JNIEnv *env, jobject self, jlong cert) try {
    Call call(env, self);
    int bits = 0;
    const int code = TQXCrypt_CertGetKeyUsage(handleOf(cert), &bits);
    call.store(code);
    return code == 0 ? bits : 0;
}
TQ_JNI_CATCH

JNIEXPORT jstring JNICALL TQ_NATIVE(XCertGetExtensionX)(JNIEnv *env, jobject self, jlong cert,
                                                        jint selector) try {
    Call call(env, self);
    char *text = nullptr;
    const int code = TQXCrypt_CertGetKDRAExtension(handleOf(cert), selector, &text);
    return textResult(call, code, text);
}
TQ_JNI_CATCH

}  // extern "C"

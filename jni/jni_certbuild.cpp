// Natives building a certificate field by field, and signing and verifying
// an encoded object (certificate, request or CRL).
#include "jni_internal.h"
#include "tqxcrypt_build.h"

using tqjni::Call;
using tqjni::codeResult;
using tqjni::handleOf;
using tqjni::setText;

extern "C" {

JNIEXPORT jlong JNICALL TQ_NATIVE(XCertficiateCreateX)(JNIEnv *env, jobject self) {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_CreateCertificate(&h);
    return tqjni::handleResult(call, code, h);
}

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetSerialNumberX)(JNIEnv *env, jobject self, jlong cert,
                                                        jstring hexSerial) {
    Call call(env, self);
    return setText(call, TQXCrypt_CertSetSerialNumber, cert, hexSerial);
}

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetIssuerX__JJ)(JNIEnv *env, jobject self, jlong cert,
                                                      jlong issuerCert) {
    Call call(env, self);
    return codeResult(call, TQXCrypt_CertSetIssuer(handleOf(cert), handleOf(issuerCert)));
}

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetIssuerX__JLjava_lang_String_2)(JNIEnv *env, jobject self, jlong cert,
                                                                        jstring issuer) {
    Call call(env, self);
    return setText(call, TQXCrypt_CertSetIssuerName, cert, issuer);
}

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetSubjectX)(JNIEnv *env, jobject self, jlong cert, jstring subject) {
    Call call(env, self);
    return setText(call, TQXCrypt_CertSetSubjectName, cert, subject);
}

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetNotBeforeX)(JNIEnv *env, jobject self, jlong cert, jstring time) {
    Call call(env, self);
    return setText(call, TQXCrypt_CertSetNotBefore, cert, time);
}

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetNotAfterX)(JNIEnv *env, jobject self, jlong cert, jstring time) {
    Call call(env, self);
    return setText(call, TQXCrypt_CertSetNotAfter, cert, time);
}

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetPubliccKeyX)(JNIEnv *env, jobject self, jlong cert,
                                                      jlong publicKey) {
    Call call(env, self);
    return codeResult(call, TQXCrypt_CertSetPublicKey(handleOf(cert), handleOf(publicKey)));
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

// Natives building a certificate field by field, and signing and verifying
// an encoded object (certificate, request or CRL).
#include "jni_internal.h"
#include "tqxcrypt_build.h"

using tqjni::Call;
using tqjni::codeResult;
using tqjni::handleOf;
using tqjni::setText;

extern "C" {

JNIEXPORT jlong JNICALL TQ_NATIVE(XCertficiateCreateX)(JNIEnv *env, jobject self) try {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_CreateCertificate(&h);
    return tqjni::handleResult(call, code, h);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetSerialNumberX)(JNIEnv *env, jobject self, jlong cert,
                                                        jstring hexSerial) try {
    Call call(env, self);
    return setText(call, TQXCrypt_CertSetSerialNumber, cert, hexSerial);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetIssuerX__JJ)(JNIEnv *env, jobject self, jlong cert,
                                                      jlong issuerCert) try {
    Call call(env, self);
    return codeResult(call, TQXCrypt_CertSetIssuer(handleOf(cert), handleOf(issuerCert)));
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetIssuerX__JLjava_lang_String_2)(JNIEnv *env, jobject self, jlong cert,
                                                                        jstring issuer) try {
    Call call(env, self);
    return setText(call, TQXCrypt_CertSetIssuerName, cert, issuer);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetSubjectX)(JNIEnv *env, jobject self, jlong cert,
                                                   jstring subject) try {
    Call call(env, self);
    return setText(call, TQXCrypt_CertSetSubjectName, cert, subject);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetNotBeforeX)(JNIEnv *env, jobject self, jlong cert,
                                                     jstring time) try {
    Call call(env, self);
    return setText(call, TQXCrypt_CertSetNotBefore, cert, time);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetNotAfterX)(JNIEnv *env, jobject self, jlong cert, jstring time) try {
    Call call(env, self);
    return setText(call, TQXCrypt_CertSetNotAfter, cert, time);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetPubliccKeyX)(JNIEnv *env, jobject self, jlong cert,
                                                      jlong publicKey) try {
    Call call(env, self);
    return codeResult(call, TQXCrypt_CertSetPublicKey(handleOf(cert), handleOf(publicKey)));
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XSignObjectX)(JNIEnv *env, jobject self, jlong object, jlong privateKey,
                                               jint flags) try {
    Call call(env, self);
    return codeResult(call, TQXCrypt_SignObject(handleOf(object), handleOf(privateKey), flags));
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XVerifyObjectX)(JNIEnv *env, jobject self, jlong object, jlong publicKey,
                                                 jint flags) try {
    Call call(env, self);
    return codeResult(call, TQXCrypt_VerifyObject(handleOf(object), handleOf(publicKey), flags));
}
TQ_JNI_CATCH_CODE

}  // extern "C"

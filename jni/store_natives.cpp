// Natives of trust stores: loading from PEM lists, adding objects, chain
// verification and the rule checks of one certificate.
#include "jni_internal.h"
#include "tqxcrypt_store.h"

using tqjni::Call;
using tqjni::codeResult;
using tqjni::handleOf;
using tqjni::Text;

extern "C" {

JNIEXPORT jlong JNICALL TQ_NATIVE(XLoadStoreX)(JNIEnv *env, jobject self, jstring certificates,
                                               jstring crls) try {
    Call call(env, self);
    Text certs(call, certificates);
    Text revocations(call, crls);
    if (certs.failed() || revocations.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return 0;
    }
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_LoadStore(&h, certs.get(), revocations.get());
    return tqjni::handleResult(call, code, h);
}
TQ_JNI_CATCH

TQ_TWO_HANDLES(XAddCertToStoreX, TQXCrypt_AddCertToStore)
TQ_TWO_HANDLES(XAddCRLToStoreX, TQXCrypt_AddCRLToStore)

JNIEXPORT jint JNICALL TQ_NATIVE(XVerifyCertChainX)(JNIEnv *env, jobject self, jlong cert, jlong store,
                                                    jint flags, jint time) try {
    Call call(env, self);
    return codeResult(call, TQXCrypt_VerifyCertChain(handleOf(cert), handleOf(store), flags, time));
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XValidateCertificateX)(JNIEnv *env, jobject self, jlong cert, jstring rules,
                                                        jint time) try {
    Call call(env, self);
    Text text(call, rules);
    if (text.failed()) return codeResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL);
    return codeResult(call, TQXCrypt_ValidateCertificate(handleOf(cert), text.get(), time));
}
TQ_JNI_CATCH_CODE

}  // extern "C"

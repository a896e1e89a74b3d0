// Natives of CRLs: building, reading and the revoked entries.
#include "jni_internal.h"
#include "tqxcrypt_crl.h"

using tqjni::Call;

extern "C" {

JNIEXPORT jlong JNICALL TQ_NATIVE(XCRLCreateX)(JNIEnv *env, jobject self) {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code = TQXCrypt_CreateCRL(&h);
    return tqjni::handleResult(call, code, h);
}

}  // extern "C"

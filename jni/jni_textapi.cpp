// Natives over the one-call text API, the OCSP check and PFX files.
#include "jni_internal.h"
#include "tqxcrypt_containers.h"
#include "tqxcrypt_ocsp.h"

using tqjni::Bytes;
using tqjni::Call;
using tqjni::Text;

namespace {

typedef int P12Item(TQXCRYPT_HANDLE *, int, int, TQXCRYPT_HANDLE **);

jlong fromPfx(JNIEnv *env, jobject self, jbyteArray pfx, jstring password, jint index, P12Item *take) {
    Call call(env, self);
    TQXCRYPT_HANDLE *h = nullptr;
    int code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
    {
        Bytes bytes(call, pfx);
        Text secret(call, password);
        if (!bytes.failed() && !secret.failed()) {
            TQXCRYPT_HANDLE *p12 = nullptr;
            code = TQXCrypt_DecodeObject(&p12, TQXCRYPT_KIND_PKCS12, bytes.data(),
                                         static_cast<size_t>(bytes.size()), 0, nullptr);
            if (code == 0) code = TQXCrypt_P12Unpack(p12, secret.get(), 0);
            if (code == 0) code = take(p12, index, 0, &h);
            if (p12) TQXCryptFreeHandle(p12);
        }
    }
    call.store(code);
    return code == 0 ? tqjni::valueOf(h) : 0;
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL TQ_NATIVE(PFX_1XGetPrivateKeyX)(JNIEnv *env, jobject self, jbyteArray pfx,
                                                        jstring password, jint index, jint) {
    return fromPfx(env, self, pfx, password, index, TQXCrypt_P12GetPrivateKey);
}

JNIEXPORT jlong JNICALL TQ_NATIVE(PFX_1XGetCertificateX)(JNIEnv *env, jobject self, jbyteArray pfx,
                                                         jstring password, jint index, jint) {
    return fromPfx(env, self, pfx, password, index, TQXCrypt_P12GetUserCertificate);
}

JNIEXPORT jint JNICALL TQ_NATIVE(XOCSPVerifyCertX)(JNIEnv *env, jobject self, jlong requestor, jlong key,
                                                   jlong cert, jlong store, jlong responder, jstring url) {
    Call call(env, self);
    Text where(call, url);
    const int code =
        where.failed()
            ? TQ_RTN_MEMORY_ALLOCATE_FAIL
            : TQXCrypt_OCSPVerifyCert(tqjni::handleOf(requestor), tqjni::handleOf(key), tqjni::handleOf(cert),
                                      tqjni::handleOf(store), tqjni::handleOf(responder), where.get());
    call.store(code);
    return code;
}

JNIEXPORT jint JNICALL TQ_NATIVE(TrySocketConnect)(JNIEnv *env, jobject self, jstring, jint, jint) {
    // Kept for callers that probe before connecting; it opens nothing.
    SetInteger(env, self, "ErrorCode", 0);
    return 0;
}

}  // extern "C"

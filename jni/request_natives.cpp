// Natives of certificate requests: made in one call from a key and a subject,
// or created empty and filled by setters.
#include "jni_internal.h"
#include "tqxcrypt_build.h"

using tqjni::Call;
using tqjni::handleOf;
using tqjni::Text;

namespace {

// The road the four one-call natives share: the two older names pass SHA-1.
jlong generate(Call &call, jlong privateKey, jlong publicKey, jstring subject, jint flags, jint hash) {
    Text name(call, subject);
    if (name.failed()) return tqjni::handleResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL, nullptr);
    TQXCRYPT_HANDLE *h = nullptr;
    const int code =
        TQXCrypt_GenerateCertRequest(handleOf(privateKey), handleOf(publicKey), name.get(), flags, hash, &h);
    return tqjni::handleResult(call, code, h);
}

}  // namespace

#define TQ_REQUEST(name)                                                                                    \
    TQ_ADAPTED(jlong, TQ_JNI_CATCH, name,                                                                   \
               (JNIEnv * env, jobject self, jlong privateKey, jlong publicKey, jstring subject, jint flags, \
                jint hash),                                                                                 \
               generate(call, privateKey, publicKey, subject, flags, hash))
#define TQ_SHA1_REQUEST(name)                                                                                \
    TQ_ADAPTED(jlong, TQ_JNI_CATCH, name,                                                                    \
               (JNIEnv * env, jobject self, jlong privateKey, jlong publicKey, jstring subject, jint flags), \
               generate(call, privateKey, publicKey, subject, flags, 0))

extern "C" {

TQ_SHA1_REQUEST(XCryptGenerateCertRequestX)
TQ_REQUEST(XCryptGenerateCertRequest2X)
TQ_SHA1_REQUEST(WKXCryptGenerateCertRequestX)
TQ_REQUEST(WKXCryptGenerateCertRequest2X)
TQ_CREATOR(XCertReqCreateX, TQXCrypt_CreateCertReq)
TQ_TEXT_SETTER(XCertReqSetSubjectX, TQXCrypt_CertReqSetSubject)
TQ_TWO_HANDLES(XCertReqSetPublicKeyX, TQXCrypt_CertReqSetPublicKey)
TQ_HANDLE_READER(XCertReqGetPublicKeyX, TQXCrypt_CertReqGetPublicKey)
TQ_TEXT_READER(XCertReqGetSubjectX, TQXCrypt_CertReqGetSubject)

}  // extern "C"

// Natives building a certificate field by field, and signing and verifying
// an encoded object (certificate, request or CRL).
#include "jni_internal.h"
#include "tqxcrypt_build.h"

// A signature made or checked over an object with a key.
#define TQ_SIGNATURE_STEP(name, step)                                             \
    TQ_ADAPTED(jint, TQ_JNI_CATCH_CODE, name,                                     \
               (JNIEnv * env, jobject self, jlong object, jlong key, jint flags), \
               ::tqjni::codeResult(call, step(::tqjni::handleOf(object), ::tqjni::handleOf(key), flags)))

extern "C" {

TQ_CREATOR(XCertficiateCreateX, TQXCrypt_CreateCertificate)
TQ_TEXT_SETTER(XCertSetSerialNumberX, TQXCrypt_CertSetSerialNumber)
TQ_TWO_HANDLES(XCertSetIssuerX__JJ, TQXCrypt_CertSetIssuer)
TQ_TEXT_SETTER(XCertSetIssuerX__JLjava_lang_String_2, TQXCrypt_CertSetIssuerName)
TQ_TEXT_SETTER(XCertSetSubjectX, TQXCrypt_CertSetSubjectName)
TQ_TEXT_SETTER(XCertSetNotBeforeX, TQXCrypt_CertSetNotBefore)
TQ_TEXT_SETTER(XCertSetNotAfterX, TQXCrypt_CertSetNotAfter)
TQ_TWO_HANDLES(XCertSetPubliccKeyX, TQXCrypt_CertSetPublicKey)
TQ_SIGNATURE_STEP(XSignObjectX, TQXCrypt_SignObject)
TQ_SIGNATURE_STEP(XVerifyObjectX, TQXCrypt_VerifyObject)

}  // extern "C"

// Natives that store keys and certificates on the token and generate key pairs there.
#include "jni_internal.h"
#include "tqp11certs.h"

using tqjni::Bytes;
using tqjni::Call;
using tqjni::sessionOf;
using tqjni::Text;

namespace {

typedef int HandleWriter(TQXP11_SESSION *, TQXCRYPT_HANDLE *, const char *, const char *, int);
typedef int TextWriter(TQXP11_SESSION *, const char *, const char *, const char *, int);

// A key or certificate handle stored under a label and an ID text.
int writeHandle(Call &call, jlong session, jlong handle, jstring label, jstring id, jint flags,
                HandleWriter *write) {
    TQXP11_SESSION *const s = sessionOf(session);
    if (!s) return TQ_RTN_BAD_ARGUMENT;
    Text labelText(call, label);
    Text idText(call, id);
    if (labelText.failed() || idText.failed()) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    return write(s, tqjni::handleOf(handle), labelText.get(), idText.get(), flags);
}

// The token layer answers a session of 0 (or anything that is no session)
// here, after decoding the text.
jint writeText(Call &call, jlong session, jstring object, jstring label, jstring id, jint flags,
               TextWriter *write) {
    Text objectText(call, object);
    Text labelText(call, label);
    Text idText(call, id);
    const int code = objectText.failed() || labelText.failed() || idText.failed()
                         ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                         : write(sessionOf(session), objectText.get(), labelText.get(), idText.get(), flags);
    return tqjni::codeResult(call, code);
}

jlong generateKeyPair(Call &call, jlong session, jstring privateLabel, jstring privateId, jstring publicLabel,
                      jstring publicId, jlong modulusBits, jint flags) {
    int code = TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *key = nullptr;
    // A negative size would reach the token as a huge unsigned one.
    TQXP11_SESSION *const s = sessionOf(session);
    if (s && modulusBits >= 0) {
        Text privateLabelText(call, privateLabel);
        Text privateIdText(call, privateId);
        Text publicLabelText(call, publicLabel);
        Text publicIdText(call, publicId);
        code = privateLabelText.failed() || privateIdText.failed() || publicLabelText.failed() ||
                       publicIdText.failed()
                   ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                   : TQXP11Crypt_GenerateKeyPair(s, privateLabelText.get(), privateIdText.get(),
                                                 publicLabelText.get(), publicIdText.get(),
                                                 static_cast<CK_ULONG>(modulusBits), flags, &key);
    }
    return tqjni::handleResult(call, code, key);
}

}  // namespace

// A certificate handle stored; the code goes to ErrorCode only.
#define TQ_CERTIFICATE_WRITER(name)                                                               \
    TQ_ADAPTED(                                                                                   \
        void, TQ_JNI_CATCH_VOID, name,                                                            \
        (JNIEnv * env, jobject self, jlong session, jlong certificate, jstring label, jstring id, \
         jint flags),                                                                             \
        call.store(writeHandle(call, session, certificate, label, id, flags, TQXP11Crypt_WriteCertificate)))
// A certificate or a PKCS#7 chain stored from its text.
#define TQ_TEXT_WRITER(name, write)                                                                         \
    TQ_ADAPTED(                                                                                             \
        jint, TQ_JNI_CATCH_CODE, name,                                                                      \
        (JNIEnv * env, jobject self, jlong session, jstring object, jstring label, jstring id, jint flags), \
        writeText(call, session, object, label, id, flags, write))
#define TQ_KEY_PAIR_GENERATOR(name)                                                          \
    TQ_ADAPTED(                                                                              \
        jlong, TQ_JNI_CATCH, name,                                                           \
        (JNIEnv * env, jobject self, jlong session, jstring privateLabel, jstring privateId, \
         jstring publicLabel, jstring publicId, jlong modulusBits, jint flags),              \
        generateKeyPair(call, session, privateLabel, privateId, publicLabel, publicId, modulusBits, flags))

extern "C" {

JNIEXPORT jint JNICALL TQ_NATIVE(XP11CryptWritePrivateKeyX)(JNIEnv *env, jobject self, jlong session,
                                                            jlong key, jstring label, jstring id,
                                                            jint flags) try {
    Call call(env, self);
    return tqjni::codeResult(
        call, writeHandle(call, session, key, label, id, flags, TQP11Crypt_WriteRSAPrivateKey));
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XP11CryptWritePublicKeyX)(JNIEnv *env, jobject self, jlong session,
                                                           jlong key, jstring label, jstring id,
                                                           jint flags) try {
    Call call(env, self);
    const int code = key == 0
                         ? TQ_RTN_BAD_ARGUMENT
                         : writeHandle(call, session, key, label, id, flags, TQP11Crypt_WriteRSAPublicKey);
    return tqjni::codeResult(call, code);
}
TQ_JNI_CATCH_CODE

TQ_CERTIFICATE_WRITER(XP11CryptWriteCertificateX)
TQ_CERTIFICATE_WRITER(XWriteCertificateX)
TQ_TEXT_WRITER(P11WriteX509CertX, TQP11_WriteX509Cert)
TQ_TEXT_WRITER(P11WriteP7CertX, TQP11_WriteP7Cert)

JNIEXPORT jint JNICALL TQ_NATIVE(P11Crypt_1WritePFXX)(JNIEnv *env, jobject self, jlong session,
                                                      jbyteArray pfx, jstring password, jstring label,
                                                      jstring id, jint flags) try {
    Call call(env, self);
    Bytes file(call, pfx);
    Text passwordText(call, password);
    Text labelText(call, label);
    Text idText(call, id);
    const int code = file.failed() || passwordText.failed() || labelText.failed() || idText.failed()
                         ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                         : TQP11Crypt_WritePFX(sessionOf(session), file.data(), file.size(),
                                               passwordText.get(), labelText.get(), idText.get(), flags);
    return tqjni::codeResult(call, code);
}
TQ_JNI_CATCH_CODE

TQ_KEY_PAIR_GENERATOR(XP11CryptGenerateKeyPairX)
TQ_KEY_PAIR_GENERATOR(XGenerateKeyPairX)

}  // extern "C"

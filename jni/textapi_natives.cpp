// Natives over the one-call text API, the OCSP check and PFX files.
#include <openssl/crypto.h>

#include <cstdlib>
#include <cstring>

#include "jni_internal.h"
#include "tqcrypt.h"
#include "tqxcrypt_containers.h"
#include "tqxcrypt_ocsp.h"

using tqjni::Bytes;
using tqjni::Call;
using tqjni::Text;

namespace {

typedef int P12Item(TQXCRYPT_HANDLE *, int, int, TQXCRYPT_HANDLE **);

jlong fromPfx(Call &call, jbyteArray pfx, jstring password, jint index, P12Item *take) {
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

// A text of the core as a String, the text then released.
jstring takeText(Call &call, int code, char *text) { return tqjni::textResult(call, code, text); }

jstring encryptText(Call &call, jstring certificate, const unsigned char *data, size_t length, jint cipher,
                    jint keyUsage) {
    Text cert(call, certificate);
    if (cert.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return nullptr;
    }
    char *envelope = nullptr;
    const int code = TQCrypt_CertEncrypt(cert.get(), data, length, cipher, keyUsage, &envelope);
    return takeText(call, code, envelope);
}

}  // namespace

// The key or the user certificate of a PFX file.
#define TQ_PFX_ITEM(name, take)                                                                  \
    TQ_ADAPTED(jlong, TQ_JNI_CATCH, name,                                                        \
               (JNIEnv * env, jobject self, jbyteArray pfx, jstring password, jint index, jint), \
               fromPfx(call, pfx, password, index, take))

extern "C" {

JNIEXPORT jstring JNICALL TQ_NATIVE(PKCS7SignX)(JNIEnv *env, jobject self, jstring certificate, jstring key,
                                                jstring password, jlong store, jbyteArray data, jint flags,
                                                jint keyUsage, jint hash) try {
    Call call(env, self);
    Text cert(call, certificate);
    Text pem(call, key);
    Text secret(call, password);
    Bytes input(call, data);
    if (cert.failed() || pem.failed() || secret.failed() || input.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return nullptr;
    }
    char *signature = nullptr;
    const int code = TQCrypt_Sign(cert.get(), pem.get(), secret.get(), tqjni::handleOf(store), input.data(),
                                  static_cast<size_t>(input.size()), flags, keyUsage, hash, &signature);
    return takeText(call, code, signature);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(PKCS7VerifyX)(JNIEnv *env, jobject self, jlong store, jstring p7,
                                               jbyteArray data, jstring subject, jint flags, jint keyUsage,
                                               jint checkTime) try {
    Call call(env, self);
    Text message(call, p7);
    Text rule(call, subject);
    Bytes input(call, data);
    int code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
    char *info = nullptr;
    char *signer = nullptr;
    const tqjni::Release releaseInfo(info), releaseSigner(signer);
    if (!message.failed() && !rule.failed() && !input.failed()) {
        code = TQCrypt_Verify(tqjni::handleOf(store), message.get(), input.data(),
                              static_cast<size_t>(input.size()), rule.get(), flags, keyUsage,
                              static_cast<time_t>(checkTime), &info, &signer);
    }
    // A failed check leaves what the last good one stored; both texts are
    // converted before either field is set, so running out of memory does too.
    if (code == 0) {
        const std::string infoText = info ? tqjni::toModifiedUtf8(info, std::strlen(info)) : std::string();
        const std::string signerText =
            signer ? tqjni::toModifiedUtf8(signer, std::strlen(signer)) : std::string();
        tqjni::setModifiedString(env, self, "strSignerInfo", info ? infoText.c_str() : nullptr);
        call.failure.take();
        tqjni::setModifiedString(env, self, "strSignerCert", signer ? signerText.c_str() : nullptr);
        call.failure.take();
    }
    call.store(code);
    return code;
}
TQ_JNI_CATCH_CODE

JNIEXPORT jstring JNICALL TQ_NATIVE(PKCS7Encrypt__Ljava_lang_String_2_3BII)(JNIEnv *env, jobject self,
                                                                            jstring certificate,
                                                                            jbyteArray data, jint cipher,
                                                                            jint keyUsage) try {
    Call call(env, self);
    Bytes input(call, data);
    if (input.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return nullptr;
    }
    return encryptText(call, certificate, input.data(), static_cast<size_t>(input.size()), cipher, keyUsage);
}
TQ_JNI_CATCH

JNIEXPORT jstring JNICALL TQ_NATIVE(PKCS7Encrypt__Ljava_lang_String_2Ljava_lang_String_2II)(
    JNIEnv *env, jobject self, jstring certificate, jstring data, jint cipher, jint keyUsage) try {
    Call call(env, self);
    Text input(call, data);
    if (input.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return nullptr;
    }
    return encryptText(call, certificate, reinterpret_cast<const unsigned char *>(input.get()), input.size(),
                       cipher, keyUsage);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(PKCS7Decrypt)(JNIEnv *env, jobject self, jstring certificate,
                                                     jstring key, jstring password, jstring envelope,
                                                     jint flags, jint keyUsage) try {
    Call call(env, self);
    Text cert(call, certificate);
    Text pem(call, key);
    Text secret(call, password);
    Text message(call, envelope);
    int code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
    unsigned char *plain = nullptr;
    uint64_t length = 0;
    if (!cert.failed() && !pem.failed() && !secret.failed() && !message.failed()) {
        code = TQCrypt_CertDecrypt(cert.get(), pem.get(), secret.get(), message.get(), flags, keyUsage,
                                   &plain, &length);
    }
    return tqjni::freedResult<TQCryptMemFree>(call, code, plain, static_cast<size_t>(length));
}
TQ_JNI_CATCH

JNIEXPORT jstring JNICALL TQ_NATIVE(ComposeSignature)(JNIEnv *env, jobject self, jstring certificate,
                                                      jstring signerInfo, jint flags) try {
    Call call(env, self);
    Text cert(call, certificate);
    Text info(call, signerInfo);
    if (cert.failed() || info.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return nullptr;
    }
    char *p7 = nullptr;
    const int code = TQCrypt_ComposeSignature(cert.get(), info.get(), flags, &p7);
    return takeText(call, code, p7);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(OCSPVerifyCert)(JNIEnv *env, jobject self, jstring s1, jstring s2,
                                                 jstring s3, jstring s4, jstring s5, jstring s6,
                                                 jstring s7) try {
    Call call(env, self);
    Text requestor(call, s1), key(call, s2), password(call, s3), cert(call, s4), cas(call, s5),
        responder(call, s6), url(call, s7);
    int code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (!requestor.failed() && !key.failed() && !password.failed() && !cert.failed() && !cas.failed() &&
        !responder.failed() && !url.failed()) {
        code = TQCrypt_OCSPVerifyCert(requestor.get(), key.get(), password.get(), cert.get(), cas.get(),
                                      responder.get(), url.get());
    }
    call.store(code);
    return code;
}
TQ_JNI_CATCH_CODE

TQ_PFX_ITEM(PFX_1XGetPrivateKeyX, TQXCrypt_P12GetPrivateKey)

TQ_PFX_ITEM(PFX_1XGetCertificateX, TQXCrypt_P12GetUserCertificate)

JNIEXPORT jint JNICALL TQ_NATIVE(XOCSPVerifyCertX)(JNIEnv *env, jobject self, jlong requestor, jlong key,
                                                   jlong cert, jlong store, jlong responder,
                                                   jstring url) try {
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
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(TrySocketConnect)(JNIEnv *env, jobject self, jstring, jint, jint) try {
    // Kept for callers that probe before connecting; it opens nothing.
    SetInteger(env, self, "ErrorCode", 0);
    return 0;
}
TQ_JNI_CATCH_CODE

}  // extern "C"

// Natives over the one-call text API, the OCSP check and PFX files.
#include <openssl/crypto.h>

#include <cstdlib>
#include <cstring>

#include "jni_internal.h"
#include "tqcrypt.h"
#include "tqxcrypt_containers.h"
#include "tqxcrypt_ocsp.h"

using tqjni::anyFailed;
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
        if (!anyFailed(bytes, secret)) {
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

// The data to encrypt, from an array or from a String's text.
template <class Use>
int withData(Call &call, jbyteArray data, Use use) {
    Bytes input(call, data);
    return input.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                          : use(input.data(), static_cast<size_t>(input.size()));
}
template <class Use>
int withData(Call &call, jstring data, Use use) {
    Text input(call, data);
    return input.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                          : use(reinterpret_cast<const unsigned char *>(input.get()), input.size());
}

template <class Data>
jstring encryptText(Call &call, jstring certificate, Data data, jint cipher, jint keyUsage) {
    return tqjni::textOut(call, [&](char **envelope) {
        return withData(call, data, [&](const unsigned char *d, size_t n) {
            Text cert(call, certificate);
            return cert.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                                 : TQCrypt_CertEncrypt(cert.get(), d, n, cipher, keyUsage, envelope);
        });
    });
}

}  // namespace

// The key or the user certificate of a PFX file.
#define TQ_PFX_ITEM(name, take)                                                                  \
    TQ_ADAPTED(jlong, TQ_JNI_CATCH, name,                                                        \
               (JNIEnv * env, jobject self, jbyteArray pfx, jstring password, jint index, jint), \
               fromPfx(call, pfx, password, index, take))
// An envelope for a certificate, of an array's bytes or a String's text.
#define TQ_ENCRYPT_TEXT(name, Data)                                                                      \
    TQ_ADAPTED(jstring, TQ_JNI_CATCH, name,                                                              \
               (JNIEnv * env, jobject self, jstring certificate, Data data, jint cipher, jint keyUsage), \
               encryptText(call, certificate, data, cipher, keyUsage))

extern "C" {

JNIEXPORT jstring JNICALL TQ_NATIVE(PKCS7SignX)(JNIEnv *env, jobject self, jstring certificate, jstring key,
                                                jstring password, jlong store, jbyteArray data, jint flags,
                                                jint keyUsage, jint hash) try {
    Call call(env, self);
    return tqjni::textOut(call, [&](char **signature) {
        Text cert(call, certificate);
        Text pem(call, key);
        Text secret(call, password);
        Bytes input(call, data);
        return anyFailed(cert, pem, secret, input)
                   ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                   : TQCrypt_Sign(cert.get(), pem.get(), secret.get(), tqjni::handleOf(store), input.data(),
                                  static_cast<size_t>(input.size()), flags, keyUsage, hash, signature);
    });
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
    if (!anyFailed(message, rule, input)) {
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

TQ_ENCRYPT_TEXT(PKCS7Encrypt__Ljava_lang_String_2_3BII, jbyteArray)

TQ_ENCRYPT_TEXT(PKCS7Encrypt__Ljava_lang_String_2Ljava_lang_String_2II, jstring)

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
    if (!anyFailed(cert, pem, secret, message)) {
        code = TQCrypt_CertDecrypt(cert.get(), pem.get(), secret.get(), message.get(), flags, keyUsage,
                                   &plain, &length);
    }
    return tqjni::freedResult<TQCryptMemFree>(call, code, plain, static_cast<size_t>(length));
}
TQ_JNI_CATCH

JNIEXPORT jstring JNICALL TQ_NATIVE(ComposeSignature)(JNIEnv *env, jobject self, jstring certificate,
                                                      jstring signerInfo, jint flags) try {
    Call call(env, self);
    return tqjni::textOut(call, [&](char **p7) {
        Text cert(call, certificate);
        Text info(call, signerInfo);
        return anyFailed(cert, info) ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                                     : TQCrypt_ComposeSignature(cert.get(), info.get(), flags, p7);
    });
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(OCSPVerifyCert)(JNIEnv *env, jobject self, jstring s1, jstring s2,
                                                 jstring s3, jstring s4, jstring s5, jstring s6,
                                                 jstring s7) try {
    Call call(env, self);
    Text requestor(call, s1), key(call, s2), password(call, s3), cert(call, s4), cas(call, s5),
        responder(call, s6), url(call, s7);
    return tqjni::codeResult(
        call, anyFailed(requestor, key, password, cert, cas, responder, url)
                  ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                  : TQCrypt_OCSPVerifyCert(requestor.get(), key.get(), password.get(), cert.get(), cas.get(),
                                           responder.get(), url.get()));
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
    return tqjni::codeResult(call, code);
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(TrySocketConnect)(JNIEnv *env, jobject self, jstring, jint, jint) try {
    // Kept for callers that probe before connecting; it opens nothing.
    SetInteger(env, self, "ErrorCode", 0);
    return 0;
}
TQ_JNI_CATCH_CODE

}  // extern "C"

// Natives of PKCS#7 messages: building, signing, verifying, enveloping, reading.
#include "jni_internal.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"

using tqjni::blobResult;
using tqjni::Bytes;
using tqjni::Call;
using tqjni::handleOf;
using tqjni::handleResult;
using tqjni::Text;
using tqjni::valueOf;

extern "C" {

TQ_CREATOR(XPKCS7CreateX, TQXCrypt_CreatePKCS7)
TQ_TWO_HANDLES(XPKCS7AddCertificateX, TQXCrypt_PKCS7AddCertificate)
TQ_COUNT_READER(XPKCS7GetCertCountX, TQXCrypt_PKCS7GetCertificateCount)
TQ_INDEXED_HANDLE_READER(XPKCS7GetCertX, TQXCrypt_PKCS7GetCertificate)
TQ_COUNT_READER(XPKCS7GetSignerInfoCountX, TQXCrypt_PKCS7GetSignerInfoCount)
TQ_INDEXED_HANDLE_READER(XPKCS7GetSignerInfoX, TQXCrypt_PKCS7GetSignerInfo)
TQ_INDEXED_HANDLE_READER(XPKCS7GetSignerCertificateX, TQXCrypt_PKCS7GetSignerCertificate)
TQ_HANDLE_READER(XPKCS7GetUserCertificateX, TQXCrypt_PKCS7GetUserCertificate)
TQ_HANDLE_READER(XPKCS7GetCertChainX, TQXCrypt_PKCS7GetCertChain)
TQ_BLOB_READER(XPKCS7GetContentX, TQXCrypt_PKCS7GetContent)

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XPKCS7EncryptX)(JNIEnv *env, jobject self, jlong cert, jbyteArray data,
                                                       jint cipher) try {
    Call call(env, self);
    Bytes input(call, data);
    TQXCRYPT_BLOB blob = {0, nullptr};
    const int code = input.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                                    : TQXCrypt_Encrypt(handleOf(cert), input.data(),
                                                       static_cast<uint64_t>(input.size()), cipher, &blob);
    return blobResult(call, code, blob);
}
TQ_JNI_CATCH

JNIEXPORT jbyteArray JNICALL TQ_NATIVE(XPKCS7DecryptX)(JNIEnv *env, jobject self, jlong cert, jlong key,
                                                       jbyteArray envelope, jint flags) try {
    Call call(env, self);
    Bytes input(call, envelope);
    TQXCRYPT_BLOB blob = {0, nullptr};
    const int code = input.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                                    : TQXCrypt_Decrypt(handleOf(cert), handleOf(key), input.data(),
                                                       static_cast<uint64_t>(input.size()), flags, &blob);
    return blobResult(call, code, blob);
}
TQ_JNI_CATCH

JNIEXPORT jlong JNICALL TQ_NATIVE(XPKCS7SignX)(JNIEnv *env, jobject self, jlong cert, jlong key, jlong,
                                               jbyteArray data, jint options, jint hash) try {
    Call call(env, self);
    Bytes input(call, data);
    if (input.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return 0;
    }
    TQXCRYPT_BLOB signature = {0, nullptr};
    int code = TQXCrypt_PureSign(handleOf(key), input.data(), static_cast<uint64_t>(input.size()),
                                 hash | TQXCRYPT_PURE_HASH_DATA, &signature);
    TQXCRYPT_HANDLE *h = nullptr;
    if (code == 0) {
        code = signature.length > UINT32_MAX
                   ? TQ_RTN_BAD_ARGUMENT
                   : tqxCrypt_GeneratePKCS7WithHandle(
                         signature.data, static_cast<unsigned int>(signature.length), handleOf(cert),
                         input.data(), static_cast<uint64_t>(input.size()), options, hash, &h);
    }
    TQXCryptFreeBlob(&signature);
    return handleResult(call, code, h);
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XPKCS7VerifyX)(JNIEnv *env, jobject self, jlong store, jlong p7,
                                                jbyteArray data, jstring subject, jint signerIndex,
                                                jint flags, jint checkTime) try {
    Call call(env, self);
    Bytes input(call, data);
    Text rule(call, subject);
    const jlong previous[] = {GetLong(env, self, "hSignerCert"), GetLong(env, self, "hSignerInfo")};
    for (jlong h : previous) {
        if (h) TQXCryptFreeHandle(handleOf(h));
    }
    TQXCRYPT_HANDLE *signerInfo = nullptr;
    TQXCRYPT_HANDLE *signerCert = nullptr;
    int code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (!input.failed() && !rule.failed()) {
        code = TQXCrypt_Verify(handleOf(store), handleOf(p7), input.data(),
                               static_cast<uint64_t>(input.size()), rule.get(), signerIndex, flags,
                               static_cast<time_t>(checkTime), &signerInfo, &signerCert);
    }
    if (code != 0) {
        if (signerInfo) TQXCryptFreeHandle(signerInfo);
        if (signerCert) TQXCryptFreeHandle(signerCert);
        signerInfo = signerCert = nullptr;
    }
    // Crossed on purpose: callers read the signer info from hSignerCert and
    // the certificate from hSignerInfo.
    SetLong(env, self, "hSignerCert", valueOf(signerInfo));
    SetLong(env, self, "hSignerInfo", valueOf(signerCert));
    call.store(code);
    return code;
}
TQ_JNI_CATCH_CODE

}  // extern "C"

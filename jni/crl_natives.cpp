// Natives of CRLs: building, reading and the revoked entries.
#include "jni_internal.h"
#include "tqxcrypt_crl.h"

using tqjni::Call;
using tqjni::codeResult;
using tqjni::handleOf;
using tqjni::LocalRef;
using tqjni::Text;

namespace {

// Revocation dates come back in a buffer of this size (the core writes 20).
constexpr size_t kDateRoom = 32;

// An entry as Java sees it; null when the JVM could not make a part of it
// (its failure is held by the call).
jobject revokedOf(Call &call, const unsigned char *serial, uint64_t length, const char *date, int reason) {
    const LocalRef bytes(call.env, tqjni::newBytes(call, serial, static_cast<size_t>(length)));
    const LocalRef text(call.env, tqjni::newString(call, date));
    jobject entry = nullptr;
    if (bytes.get() && text.get()) {
        entry = NewObject(call.env, "com/tq/pki/X509Revoked", "([BLjava/lang/String;I)V", bytes.get(),
                          text.get(), static_cast<jint>(reason));
        call.failure.take();
    }
    return entry;
}

// The bytes the core makes of a serial text. The binding sees only the
// exported interface, so the text goes through a scratch certificate's
// serial setter and getter: the one reading the lookup uses too.
int serialOfText(const char *hex, TQXCRYPT_BLOB &out) {
    TQXCRYPT_HANDLE *scratch = nullptr;
    int code = TQXCrypt_CreateCertificate(&scratch);
    if (code == 0) code = TQXCrypt_CertSetSerialNumber(scratch, hex);
    if (code == 0) code = TQXCrypt_CertGetSerialNumber(scratch, 0, &out);
    if (scratch) TQXCryptFreeHandle(scratch);
    return code;
}

// The common end of the entry natives: the code stored.
jobject entryResult(Call &call, int code, jobject entry) {
    call.store(code);
    return code == 0 ? entry : nullptr;
}

}  // namespace

extern "C" {

TQ_CREATOR(XCRLCreateX, TQXCrypt_CreateCRL)
TQ_TEXT_READER(XCRLGetIssuerX, TQXCrypt_CRLGetIssuer)
TQ_TIME_READER(XCRLGetLastUpdateX, TQXCrypt_CRLGetLastUpdate)
TQ_TIME_READER(XCRLGetNextUpdateX, TQXCrypt_CRLGetNextUpdate)
TQ_TEXT_SETTER(XCRLSetLastUpdateX, TQXCrypt_CRLSetLastUpdate)
TQ_TEXT_SETTER(XCRLSetNextUpdateX, TQXCrypt_CRLSetNextUpdate)
TQ_TWO_HANDLES(XCRLSetIssuerX__JJ, TQXCrypt_CRLSetIssuer)
TQ_TEXT_SETTER(XCRLSetIssuerX__JLjava_lang_String_2, TQXCrypt_CRLSetIssuerName)

JNIEXPORT jint JNICALL TQ_NATIVE(XCRLSortRevoked)(JNIEnv *env, jobject self, jlong crl, jint flags) try {
    Call call(env, self);
    return codeResult(call, TQXCrypt_CRLSortRevoked(handleOf(crl), flags));
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XCRLAddRevokedX__JLjava_lang_String_2Ljava_lang_String_2I)(
    JNIEnv *env, jobject self, jlong crl, jstring hexSerial, jstring date, jint reason) try {
    Call call(env, self);
    Text serial(call, hexSerial);
    Text when(call, date);
    if (serial.failed() || when.failed()) return codeResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL);
    return codeResult(call, TQXCrypt_CRLAddRevoked(handleOf(crl), serial.get(), when.get(), reason));
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XCRLAddRevokedX__JJLjava_lang_String_2I)(JNIEnv *env, jobject self,
                                                                          jlong crl, jlong cert, jstring date,
                                                                          jint reason) try {
    Call call(env, self);
    Text when(call, date);
    if (when.failed()) return codeResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL);
    return codeResult(call, TQXCrypt_CRLAddCertRevoked(handleOf(crl), handleOf(cert), when.get(), reason));
}
TQ_JNI_CATCH_CODE

TQ_COUNT_READER(XCRLRevokedCountX, TQXCrypt_CRLGetRevokedCount)

JNIEXPORT jobject JNICALL TQ_NATIVE(XCRLGetRevokedInfoX)(JNIEnv *env, jobject self, jlong crl,
                                                         jint index) try {
    Call call(env, self);
    TQXCRYPT_BLOB serial = {0, nullptr};
    const tqjni::Release release(serial);
    char date[kDateRoom] = {0};
    int reason = 0;
    const int code = TQXCrypt_CRLGetRevokedInfo(handleOf(crl), index, &serial, date, &reason);
    jobject entry = code == 0 ? revokedOf(call, serial.data, serial.length, date, reason) : nullptr;
    return entryResult(call, code, entry);
}
TQ_JNI_CATCH

JNIEXPORT jobject JNICALL TQ_NATIVE(XCRLRevokedX__JLjava_lang_String_2)(JNIEnv *env, jobject self, jlong crl,
                                                                        jstring hexSerial) try {
    Call call(env, self);
    Text hex(call, hexSerial);
    if (hex.failed()) {
        call.store(TQ_RTN_MEMORY_ALLOCATE_FAIL);
        return nullptr;
    }
    TQXCRYPT_BLOB serial = {0, nullptr};
    const tqjni::Release release(serial);
    char date[kDateRoom] = {0};
    int reason = 0;
    int code = TQXCrypt_CRLGetRevoked(handleOf(crl), hex.get(), date, &reason, 0);
    jobject entry = nullptr;
    if (code == 0 && reason != 0) {
        code = serialOfText(hex.get(), serial);
        if (code == 0) entry = revokedOf(call, serial.data, serial.length, date, reason);
    }
    return entryResult(call, code, entry);
}
TQ_JNI_CATCH

JNIEXPORT jobject JNICALL TQ_NATIVE(XCRLRevokedX__JJ)(JNIEnv *env, jobject self, jlong crl, jlong cert) try {
    Call call(env, self);
    TQXCRYPT_BLOB serial = {0, nullptr};
    const tqjni::Release release(serial);
    char date[kDateRoom] = {0};
    int reason = 0;
    int code = TQXCrypt_CRLGetCertRevoked(handleOf(crl), handleOf(cert), date, &reason, 0);
    jobject entry = nullptr;
    if (code == 0 && reason != 0) {
        code = TQXCrypt_CertGetSerialNumber(handleOf(cert), 0, &serial);
        if (code == 0) entry = revokedOf(call, serial.data, serial.length, date, reason);
    }
    return entryResult(call, code, entry);
}
TQ_JNI_CATCH

}  // extern "C"

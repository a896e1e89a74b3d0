// Natives reading and writing the common extensions of certificates and CRLs
// as com/tq/pki objects or plain values.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include <openssl/objects.h>

#include "hexdigits.h"
#include "jni_internal.h"
#include "tqxcrypt_build.h"
#include "tqxcrypt_crl.h"

using tqjni::Bytes;
using tqjni::Call;
using tqjni::codeResult;
using tqjni::handleOf;
using tqjni::LocalRef;
using tqjni::Text;

namespace {

using Getter = int (*)(TQXCRYPT_HANDLE *, const char *, int, void *, int *);
using Setter = int (*)(TQXCRYPT_HANDLE *, const char *, const void *, int);

// A result object; the JVM's failure, if any, is held for the caller.
template <class... Args>
jobject newResult(Call &call, const char *className, const char *signature, Args... args) {
    jobject object = NewObject(call.env, className, signature, args...);
    call.failure.take();
    return object;
}

jobject generalNameOf(Call &call, const TQXCRYPT_ATTRIBUTES &list) {
    jobject name = tqjni::newGeneralName(call.env, &list);
    call.failure.take();
    return name;
}

bool named(const TQXCRYPT_ATTRIBUTE &item, int isList, const char *name) {
    return item.isList == isList && item.name && std::strcmp(item.name, name) == 0;
}

// The value bytes folded into 32 bits, most significant first; longer values keep their last four.
uint32_t folded(const TQXCRYPT_BLOB &value) {
    uint32_t n = 0;
    for (uint64_t i = 0; i < value.length; ++i) n = (n << 8) + value.data[i];
    return n;
}

// The byte-valued extensions: the value as byte[] and the critical flag.
jobject bytesExtension(Call &call, Getter get, jlong handle, const char *type, const char *className) {
    TQXCRYPT_BLOB blob = {0, nullptr};
    int critical = 0;
    const int code = get(handleOf(handle), type, 0, &blob, &critical);
    jobject result = nullptr;
    if (code == 0) {
        const LocalRef value(call.env, tqjni::takeBlob(call, blob));
        result = newResult(call, className, "([BZ)V", value.get(), static_cast<jboolean>(critical != 0));
    }
    TQXCryptFreeBlob(&blob);
    call.store(code);
    return result;
}

// The list-valued extensions: `build` makes the result object of the list
// and the critical flag when the extension was read; the code stored.
template <class Build>
jobject listExtension(Call &call, Getter get, jlong handle, const char *type, Build build) {
    TQXCRYPT_ATTRIBUTES list = {0, nullptr};
    const tqjni::Release release(list);
    int critical = 0;
    const int code = get(handleOf(handle), type, 0, &list, &critical);
    jobject result = code == 0 ? build(list, static_cast<jboolean>(critical != 0)) : nullptr;
    call.store(code);
    return result;
}

jobject authorityKeyId(Call &call, Getter get, jlong handle) {
    return listExtension(
        call, get, handle, "authorityKeyIdentifier", [&](const TQXCRYPT_ATTRIBUTES &list, jboolean critical) {
            LocalRef keyId(call.env, nullptr), issuer(call.env, nullptr), serial(call.env, nullptr);
            for (int32_t i = 0; i < list.count; ++i) {
                const TQXCRYPT_ATTRIBUTE &item = list.items[i];
                if (named(item, 0, "keyid")) {
                    keyId.reset(tqjni::newBytes(call, item.value.blob.data,
                                                static_cast<size_t>(item.value.blob.length)));
                } else if (named(item, 0, "serial")) {
                    // Upper-case hex; a text the heap refuses ends the native with 5002.
                    const TQXCRYPT_BLOB &value = item.value.blob;
                    std::string text(tq::hexLength(static_cast<size_t>(value.length), false), '\0');
                    tq::writeHex(value.data, static_cast<size_t>(value.length), &text[0]);
                    serial.reset(tqjni::newString(call, text.c_str()));
                } else if (named(item, 1, "issuer")) {
                    issuer.reset(generalNameOf(call, item.value.list));
                }
            }
            return newResult(call, "com/tq/pki/X509AuthorityKeyIdentifier",
                             "([BLcom/tq/pki/X509GeneralName;Ljava/lang/String;Z)V", keyId.get(),
                             issuer.get(), serial.get(), critical);
        });
}

int setBytes(Call &call, Setter set, jlong handle, const char *type, jbyteArray value, jboolean critical) {
    Bytes bytes(call, value);
    if (bytes.failed()) return codeResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL);
    TQXCRYPT_BLOB blob = {static_cast<uint64_t>(bytes.size()), bytes.data()};
    return codeResult(call, set(handleOf(handle), type, &blob, critical ? 1 : 0));
}

int setText(Call &call, Setter set, jlong handle, const char *type, jstring value, jboolean critical) {
    Text text(call, value);
    if (text.failed()) return codeResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL);
    return codeResult(call, set(handleOf(handle), type, text.get(), critical ? 1 : 0));
}

// The first three elements of the array, each null or of its expected class
// (byte[], then two Strings); false when one is of another class.
bool akidElements(Call &call, jobjectArray array, LocalRef<> (&elements)[3]) {
    const jsize n = array ? call.env->GetArrayLength(array) : 0;
    static const char *const kClasses[3] = {"[B", "java/lang/String", "java/lang/String"};
    for (jsize i = 0; i < n && i < 3; ++i) {
        elements[i].reset(call.env->GetObjectArrayElement(array, i));
        if (!elements[i].get()) continue;
        const LocalRef cls(call.env, call.env->FindClass(kClasses[i]));
        if (!cls.get() || !call.env->IsInstanceOf(elements[i].get(), cls.get())) {
            call.failure.take();
            return false;
        }
    }
    return true;
}

int setAuthorityKeyId(Call &call, Setter set, jlong handle, jobjectArray array, jboolean critical) {
    LocalRef<> elements[3] = {{call.env, nullptr}, {call.env, nullptr}, {call.env, nullptr}};
    if (!akidElements(call, array, elements)) return codeResult(call, TQ_RTN_BAD_ARGUMENT);
    Bytes keyBytes(call, static_cast<jbyteArray>(elements[0].get()));
    Text issuer(call, static_cast<jstring>(elements[1].get()));
    Text serial(call, static_cast<jstring>(elements[2].get()));
    if (keyBytes.failed() || issuer.failed() || serial.failed())
        return codeResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL);
    TQXCRYPT_BLOB keyId = {static_cast<uint64_t>(keyBytes.size()), keyBytes.data()};
    TQXCRYPT_AUTHORITY_KEY_ID_VALUE value = {elements[0].get() ? &keyId : nullptr, issuer.get(),
                                             serial.get()};
    return codeResult(call, set(handleOf(handle), "authorityKeyIdentifier", &value, critical ? 1 : 0));
}

// The types whose builder value is a record or a blob, not text: a Java
// text given for them would be read as one.
bool takesRecord(const char *type) {
    static constexpr int kRecordTypes[] = {
        NID_key_usage,  NID_netscape_cert_type, NID_subject_key_identifier,
        NID_crl_number, NID_ext_key_usage,      NID_authority_key_identifier};
    const int nid = OBJ_txt2nid(type);
    for (int record : kRecordTypes)
        if (nid == record) return true;
    return false;
}

// A text set under a name: `set` takes both once they are held.
template <class Set>
jint setNamed(Call &call, jstring name, jstring value, Set set) {
    Text type(call, name);
    Text text(call, value);
    if (tqjni::anyFailed(type, text)) return codeResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL);
    return codeResult(call, set(type.get(), text.get()));
}

}  // namespace

// The byte-valued extensions, read and set.
#define TQ_BYTES_EXTENSION(name, get, type, className)                                  \
    TQ_ADAPTED(jobject, TQ_JNI_CATCH, name, (JNIEnv * env, jobject self, jlong object), \
               bytesExtension(call, get, object, type, className))
#define TQ_BYTES_EXTENSION_SETTER(name, set, type)                                              \
    TQ_ADAPTED(jint, TQ_JNI_CATCH_CODE, name,                                                   \
               (JNIEnv * env, jobject self, jlong object, jbyteArray value, jboolean critical), \
               setBytes(call, set, object, type, value, critical))
// The authority key identifier of a certificate or a CRL.
#define TQ_AUTHORITY_KEY_ID(name, get)                                                  \
    TQ_ADAPTED(jobject, TQ_JNI_CATCH, name, (JNIEnv * env, jobject self, jlong object), \
               authorityKeyId(call, get, object))
#define TQ_AUTHORITY_KEY_ID_SETTER(name, set)                                                     \
    TQ_ADAPTED(jint, TQ_JNI_CATCH_CODE, name,                                                     \
               (JNIEnv * env, jobject self, jlong object, jobjectArray value, jboolean critical), \
               setAuthorityKeyId(call, set, object, value, critical))

extern "C" {

JNIEXPORT jobject JNICALL TQ_NATIVE(XCertGetBasicConstraintsX)(JNIEnv *env, jobject self, jlong cert) try {
    Call call(env, self);
    return listExtension(call, TQXCrypt_CertGetExtension, cert, "basicConstraints",
                         [&](const TQXCRYPT_ATTRIBUTES &list, jboolean critical) {
                             bool ca = false;
                             uint32_t pathLength = UINT32_MAX;
                             for (int32_t i = 0; i < list.count; ++i) {
                                 const TQXCRYPT_ATTRIBUTE &item = list.items[i];
                                 if (named(item, 0, "CA")) ca = folded(item.value.blob) != 0;
                                 if (named(item, 0, "PATHLEN")) pathLength = folded(item.value.blob);
                             }
                             const auto signedLength = static_cast<jint>(pathLength);
                             return signedLength >= 0
                                        ? newResult(call, "com/tq/pki/X509BasicConstraints", "(ZIZ)V",
                                                    static_cast<jboolean>(ca), signedLength, critical)
                                        : newResult(call, "com/tq/pki/X509BasicConstraints", "(ZZ)V",
                                                    static_cast<jboolean>(ca), critical);
                         });
}
TQ_JNI_CATCH

TQ_BYTES_EXTENSION(XCertGetKeyUsageX, TQXCrypt_CertGetExtension, "keyUsage", "com/tq/pki/X509KeyUsage")

TQ_BYTES_EXTENSION(XCertGetExtendedKeyUsageX, TQXCrypt_CertGetExtension, "extendedKeyUsage",
                   "com/tq/pki/X509ExtendedKeyUsage")

TQ_BYTES_EXTENSION(XCertGetSubjectKeyIdentifierX, TQXCrypt_CertGetExtension, "subjectKeyIdentifier",
                   "com/tq/pki/X509SubjectKeyIdentifier")

TQ_AUTHORITY_KEY_ID(XCertGetAuthorityKeyIdentifierX, TQXCrypt_CertGetExtension)

JNIEXPORT jobject JNICALL TQ_NATIVE(XCertGetCRLDistributionPointsX)(JNIEnv *env, jobject self,
                                                                    jlong cert) try {
    Call call(env, self);
    return listExtension(call, TQXCrypt_CertGetExtension, cert, "crlDistributionPoints",
                         [&](const TQXCRYPT_ATTRIBUTES &list, jboolean critical) {
                             LocalRef fullName(env, nullptr);
                             for (int32_t i = 0; i < list.count; ++i) {
                                 if (!named(list.items[i], 1, "fullname")) continue;
                                 fullName.reset(generalNameOf(call, list.items[i].value.list));
                                 break;
                             }
                             return newResult(call, "com/tq/pki/X509CRLDistributionPoints",
                                              "(Lcom/tq/pki/X509GeneralName;Z)V", fullName.get(), critical);
                         });
}
TQ_JNI_CATCH

TQ_BYTES_EXTENSION(XCRLGetCRLNumberX, TQXCrypt_CRLGetExtension, "crlNumber", "com/tq/pki/X509CRLNumber")
TQ_AUTHORITY_KEY_ID(XCRLGetAuthorityKeyIdentifierX, TQXCrypt_CRLGetExtension)

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetBasicConstraintsX)(JNIEnv *env, jobject self, jlong cert,
                                                            jboolean ca, jint pathLength,
                                                            jboolean critical) try {
    Call call(env, self);
    char text[256];
    if (!ca)
        std::snprintf(text, sizeof text, "CA:FALSE");
    else if (pathLength < 0)
        std::snprintf(text, sizeof text, "CA:TRUE");
    else
        std::snprintf(text, sizeof text, "CA:TRUE,pathlen:%d", static_cast<int>(pathLength));
    return codeResult(call,
                      TQXCrypt_CertSetExtension(handleOf(cert), "basicConstraints", text, critical ? 1 : 0));
}
TQ_JNI_CATCH_CODE

TQ_BYTES_EXTENSION_SETTER(XCertSetKeyUsageX, TQXCrypt_CertSetExtension, "keyUsage")
TQ_BYTES_EXTENSION_SETTER(XCertSetExtendedKeyUsageX, TQXCrypt_CertSetExtension, "extendedKeyUsage")
TQ_BYTES_EXTENSION_SETTER(XCertSetSubjectKeyIdentifierX, TQXCrypt_CertSetExtension, "subjectKeyIdentifier")
TQ_BYTES_EXTENSION_SETTER(XCertSetNetscapeCertTypeX, TQXCrypt_CertSetExtension, "nsCertType")
TQ_AUTHORITY_KEY_ID_SETTER(XCertSetAuthorityKeyIdentifierX, TQXCrypt_CertSetExtension)

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetCRLDistributionPointsX)(JNIEnv *env, jobject self, jlong cert,
                                                                 jstring value, jboolean critical) try {
    Call call(env, self);
    return setText(call, TQXCrypt_CertSetExtension, cert, "crlDistributionPoints", value, critical);
}
TQ_JNI_CATCH_CODE

// An extension named by its type or by its OID, set from its text.
JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetExtensionX)(JNIEnv *env, jobject self, jlong cert, jstring name,
                                                     jstring value, jboolean critical) try {
    Call call(env, self);
    return setNamed(call, name, value, [&](const char *type, const char *text) -> int {
        if (type && takesRecord(type)) return TQ_RTN_BAD_ARGUMENT;
        return TQXCrypt_CertSetExtension(handleOf(cert), type, text, critical ? 1 : 0);
    });
}
TQ_JNI_CATCH_CODE

JNIEXPORT jint JNICALL TQ_NATIVE(XCertSetExtensionByOIDX)(JNIEnv *env, jobject self, jlong cert, jstring oid,
                                                          jstring value, jboolean critical) try {
    Call call(env, self);
    return setNamed(call, oid, value, [&](const char *identifier, const char *text) {
        return TQXCrypt_CertSetOIDExtension(handleOf(cert), identifier, text, critical ? 1 : 0);
    });
}
TQ_JNI_CATCH_CODE

TQ_BYTES_EXTENSION_SETTER(XCRLSetCRLNumberX, TQXCrypt_CRLSetExtension, "crlNumber")
TQ_AUTHORITY_KEY_ID_SETTER(XCRLSetAuthorityKeyIdentifierX, TQXCrypt_CRLSetExtension)

}  // extern "C"

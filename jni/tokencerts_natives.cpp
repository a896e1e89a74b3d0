// Natives that choose a token certificate and its key by key usage, find a
// token secret key's object handle, and delete token objects.
#include <cstdlib>
#include <cstring>

#include "jni_internal.h"
#include "tqp11certs.h"
#include "tqp11secret.h"

using tqjni::Call;
using tqjni::sessionOf;
using tqjni::Text;

namespace {

// digitalSignature in the key-usage bits of a certificate.
constexpr jint kDigitalSignature = 0x80;

// The token certificates a selection looked at and the one it chose.
struct Candidates {
    TQXP11_OBJECT *list = nullptr;
    CK_ULONG count = 0;
    int index = -1;
    Candidates() = default;
    Candidates(const Candidates &) = delete;
    Candidates &operator=(const Candidates &) = delete;
    ~Candidates() {
        if (list) TQXP11_ReleaseObjectList(list, count);
    }
    const TQXP11_CERTIFICATE_VALUE &chosen() const { return list[index].valueRecord->certificate; }
};

// Signing certificates: the one labelled "cert1" comes first, whatever its
// own bits; otherwise the latest to expire that has every wanted bit.
int selectCertificate(TQXP11_SESSION *session, jint usage, Candidates &c) {
    int code = TQ_RTN_NO_CERTIFICATE;
    if (usage & kDigitalSignature) {
        TQXP11_OBJECT first{};
        if (TQXP11Crypt_ReadObject(session, "cert1", TQXP11_KIND_CERTIFICATE, 0, 0, &first) == 0) {
            c.list = static_cast<TQXP11_OBJECT *>(std::malloc(sizeof first));
            if (c.list) {
                *c.list = first;
                c.count = 1;
                c.index = 0;
                code = 0;
            } else {
                TQXP11_FreeObject(&first);
                code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
            }
        } else {
            TQXP11_FreeObject(&first);
        }
    }
    if (code != 0) code = TQXP11Crypt_GetCertByKeyUsage(session, 0, usage, &c.index, &c.list, &c.count);
    // Only a chosen entry that holds its values is a choice.
    if (code == 0 &&
        (c.index < 0 || !c.list || static_cast<CK_ULONG>(c.index) >= c.count || !c.list[c.index].valueRecord))
        code = TQ_RTN_NO_CERTIFICATE;
    return code;
}

// The private key that carries the certificate's CKA_ID, as a key handle.
int keyOfCertificate(TQXP11_SESSION *session, const TQXP11_CERTIFICATE_VALUE &certificate,
                     TQXCRYPT_HANDLE **key) {
    // The search record is released as the token layer releases a record.
    TQXP11_OBJECT search{};
    search.kind = TQXP11_KIND_RSA_PRIVATE;
    search.valueRecord = static_cast<TQXP11_VALUE *>(std::calloc(1, sizeof(TQXP11_VALUE)));
    const CK_ULONG length = certificate.id.length;
    unsigned char *id = static_cast<unsigned char *>(std::malloc(length ? length : 1));
    if (!search.valueRecord || !id) {
        std::free(id);
        TQXP11_FreeObject(&search);
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    if (length) std::memcpy(id, certificate.id.data, length);
    search.valueRecord->rsaPrivate.id = TQXP11_BYTES{id, length};

    TQXP11_OBJECT object{};
    object.kind = TQXP11_KIND_RSA_PRIVATE;
    object.isPrivate = CK_TRUE;
    object.valueRecord = search.valueRecord;
    int code = TQXP11_ReadRSAPrivateKeyObjectWithCKAID(session, &object);
    if (object.valueRecord == search.valueRecord) object.valueRecord = nullptr;
    TQXP11_FreeObject(&search);
    if (code != 0) {
        TQXP11_FreeObject(&object);
        return code;
    }
    // The read value record passes to the handle maker, whatever it answers.
    return TQXP11Crypt_P11ToKeyHandle(session, &object, 0, key);
}

int certificateHandle(TQXP11_SESSION *, const TQXP11_CERTIFICATE_VALUE &certificate,
                      TQXCRYPT_HANDLE **handle) {
    return TQXCrypt_DecodeObject(handle, TQXCRYPT_KIND_CERTIFICATE, certificate.value.data,
                                 certificate.value.length, 0, nullptr);
}

typedef int FromCertificate(TQXP11_SESSION *, const TQXP11_CERTIFICATE_VALUE &, TQXCRYPT_HANDLE **);

jlong byKeyUsage(Call &call, jlong session, jint usage, FromCertificate *make) {
    TQXP11_SESSION *const s = sessionOf(session);
    if (!s) return tqjni::handleResult(call, TQ_RTN_BAD_ARGUMENT, nullptr);
    Candidates candidates;
    TQXCRYPT_HANDLE *handle = nullptr;
    int code = selectCertificate(s, usage, candidates);
    if (code == 0) code = make(s, candidates.chosen(), &handle);
    return tqjni::handleResult(call, code, handle);
}

// Crypto-core symmetric algorithm ids and the token kinds of their keys.
constexpr struct {
    jint cipherId;
    int kind;
} kSecretKinds[] = {{0, TQXP11_KIND_DES},
                    {1, TQXP11_KIND_DES},
                    {2, TQXP11_KIND_DES3},
                    {4, TQXP11_KIND_RC4},
                    {7, TQXP11_KIND_AES}};

// 0 for an id without a token key kind.
int secretKindOf(jint cipherId) {
    for (const auto &row : kSecretKinds)
        if (row.cipherId == cipherId) return row.kind;
    return 0;
}

jint deleteKey(Call &call, jlong session, jlong handle) {
    TQXP11_SESSION *const s = sessionOf(session);
    if (!s) return tqjni::codeResult(call, TQ_RTN_BAD_ARGUMENT);
    return tqjni::codeResult(call, TQXP11Crypt_DeleteKey(s, tqjni::handleOf(handle)));
}

}  // namespace

// The key or the certificate of the certificate chosen by key usage.
#define TQ_BY_KEY_USAGE(name, make)                                                                      \
    TQ_ADAPTED(jlong, TQ_JNI_CATCH, name, (JNIEnv * env, jobject self, jlong session, jint usage, jint), \
               byKeyUsage(call, session, usage, make))
// Any handle goes on: the bridge tells a token cipher from the rest.
#define TQ_DELETE_KEY(name)                                                                              \
    TQ_ADAPTED(jint, TQ_JNI_CATCH_CODE, name, (JNIEnv * env, jobject self, jlong session, jlong handle), \
               deleteKey(call, session, handle))

extern "C" {

TQ_BY_KEY_USAGE(GPKI_1XGetPrivateKeyX, keyOfCertificate)
TQ_BY_KEY_USAGE(GPKI_1XGetCertificateX, certificateHandle)

JNIEXPORT jlong JNICALL TQ_NATIVE(XP11CryptGetSymmetricKeyX)(JNIEnv *env, jobject self, jlong session,
                                                             jstring label, jint cipherId,
                                                             jint isPrivate) try {
    Call call(env, self);
    int code = TQ_RTN_BAD_ARGUMENT;
    CK_OBJECT_HANDLE object = 0;
    if (TQXP11_SESSION *s = sessionOf(session)) {
        Text name(call, label);
        const int kind = secretKindOf(cipherId);
        if (name.failed())
            code = TQ_RTN_MEMORY_ALLOCATE_FAIL;
        else if (kind != 0)
            code = TQP11_GetKeyHandle(s, name.get(), kind, isPrivate, 0, &object);
    }
    call.store(code);
    return code == 0 ? static_cast<jlong>(object) : 0;
}
TQ_JNI_CATCH

TQ_DELETE_KEY(XP11CryptDeleteKeyX)
TQ_DELETE_KEY(XDeleteKeyX)

// The bridge checks the session itself.
JNIEXPORT jint JNICALL TQ_NATIVE(P11DeleteObjectX)(JNIEnv *env, jobject self, jlong session, jstring name,
                                                   jint kind, jint isPrivate, jint flags) try {
    Call call(env, self);
    Text text(call, name);
    if (text.failed()) return tqjni::codeResult(call, TQ_RTN_MEMORY_ALLOCATE_FAIL);
    return tqjni::codeResult(
        call, TQXP11Crypt_DeleteObject(sessionOf(session), text.get(), kind, isPrivate, flags));
}
TQ_JNI_CATCH_CODE

}  // extern "C"

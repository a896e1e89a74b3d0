// Natives that take a token key or certificate as a crypto-core handle.
#include "jni_internal.h"
#include "tqp11certs.h"

using tqjni::Call;
using tqjni::sessionOf;
using tqjni::Text;

namespace {

typedef int KeyReader(TQXP11_SESSION *, const char *, int, TQXCRYPT_HANDLE **);

jlong readKey(Call &call, jlong session, jstring name, jint flags, KeyReader *read) {
    int code = TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *key = nullptr;
    if (TQXP11_SESSION *s = sessionOf(session)) {
        Text text(call, name);
        code = text.failed() ? TQ_RTN_MEMORY_ALLOCATE_FAIL : read(s, text.get(), flags, &key);
    }
    call.store(code);
    return code == 0 ? tqjni::valueOf(key) : 0;
}

}  // namespace

// Each reader is exported under its name and under the name's short alias.
#define TQ_KEY_READER_NAMED(name, reader)                                             \
    TQ_ADAPTED(jlong, TQ_JNI_CATCH, name,                                             \
               (JNIEnv * env, jobject self, jlong session, jstring text, jint flags), \
               readKey(call, session, text, flags, reader))
#define TQ_KEY_READER(name, alias, reader) \
    TQ_KEY_READER_NAMED(name, reader)      \
    TQ_KEY_READER_NAMED(alias, reader)

extern "C" {

TQ_KEY_READER(XP11CryptGetPrivateKeyX, XGetPrivateKeyX, TQXP11Crypt_GetPrivateKey)
TQ_KEY_READER(XP11CryptGetPublicKeyX, XGetPublicKeyX, TQXP11Crypt_GetPublicKey)
TQ_KEY_READER(XP11CryptGetCertificateX, XGetCertificateX, TQXP11Crypt_ReadCertificate)

}  // extern "C"

// Token RSA keys as key handles (kinds 6 and 7): the builders, the two
// method tables and the free operation they share.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bridge_internal.h"
#include "token_access.h"

namespace {

// The software key tables with the free slot replaced: encoding and
// decoding are the software encoder's (a token private key holds no private
// numbers, so it refuses to encode it).
TQXCRYPT_ASN1_METHOD tokenTable(const TQXCRYPT_ASN1_METHOD *software) {
    return TQXCRYPT_ASN1_METHOD{software->encode, software->decode, nullptr, nullptr,
                                tqxCrypt_ASN1_FreeP11PrivateKey};
}

struct Flavour {
    int kind;  // of the handle
    const TQXCRYPT_ASN1_METHOD *(*table)();
    const TQXCRYPT_KEY_METHOD *(*keyMethod)();
};
const Flavour kPrivate{TQXCRYPT_KIND_PRIVATEKEY, tqxCryptASN1P11PrivateKeyMethod, tqxCryptRSAPriMethod};
const Flavour kPublic{TQXCRYPT_KIND_PUBLICKEY, tqxCryptASN1P11PublicKeyMethod, tqxCryptRSAPubMethod};

// A reference with an object record of its own, both zero-filled.
int newReference(TQXP11_SESSION *session, tqbridge::ReferencePtr &reference) {
    reference.reset(static_cast<TQXP11_KEY_REFERENCE *>(std::calloc(1, sizeof(TQXP11_KEY_REFERENCE))));
    if (!reference) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    reference->session = session;
    reference->object = static_cast<TQXP11_OBJECT *>(std::calloc(1, sizeof(TQXP11_OBJECT)));
    return reference->object ? TQ_RTN_OK : TQ_RTN_MEMORY_ALLOCATE_FAIL;
}

// The common end of every builder: the handle takes the key, and with it
// the reference, only when all of it exists.
int finish(tqbridge::ReferencePtr &reference, const Flavour &flavour, TQXCRYPT_HANDLE **out) {
    tq::EvpPkeyPtr key;
    int rc = tqbridge::tokenKey(reference.get(), key);
    if (rc != TQ_RTN_OK) return rc;
    TQXCRYPT_HANDLE *handle = nullptr;
    rc = tqxCryptCreateHandle(&handle, flavour.kind, key.get(), flavour.table(),
                              const_cast<TQXCRYPT_KEY_METHOD *>(flavour.keyMethod()));
    if (rc != TQ_RTN_OK) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    key.release();
    reference.release();
    *out = handle;
    return TQ_RTN_OK;
}

// A key found by label in its own class: private keys kind 19 and private,
// public keys kind 18 and public.
int byLabel(TQXP11_SESSION *session, const char *label, CK_ULONG tokenKind, const Flavour &flavour,
            TQXCRYPT_HANDLE **key) {
    if (!session || !label || !key) return TQ_RTN_BAD_ARGUMENT;
    tqbridge::ReferencePtr reference;
    int rc = newReference(session, reference);
    if (rc != TQ_RTN_OK) return rc;
    TQXP11_OBJECT *object = reference->object;
    std::snprintf(object->label, sizeof object->label, "%.255s", label);
    object->kind = tokenKind;
    object->isPrivate = tokenKind == TQXP11_KIND_RSA_PRIVATE ? CK_TRUE : CK_FALSE;
    rc = TQXP11_ErrorCode(tqaccess::readRsaKeyNumbers(session, object));
    if (rc != TQ_RTN_OK) return rc;
    return finish(reference, flavour, key);
}

}  // namespace

extern "C" {

const TQXCRYPT_ASN1_METHOD *tqxCryptASN1P11PrivateKeyMethod(void) try {
    static const TQXCRYPT_ASN1_METHOD table = tokenTable(tqxCryptASN1PrivateKeyMethod());
    return &table;
}
TQ_CATCH_EMPTY

const TQXCRYPT_ASN1_METHOD *tqxCryptASN1P11PublicKeyMethod(void) try {
    static const TQXCRYPT_ASN1_METHOD table = tokenTable(tqxCryptASN1PublicKeyMethod());
    return &table;
}
TQ_CATCH_EMPTY

void tqxCrypt_ASN1_FreeP11PrivateKey(TQXCRYPT_HANDLE *handle) try {
    EVP_PKEY *key = nullptr;
    if (!handle || tq::objectOf(handle, tq::kEitherKey, &key, tq::Presence::Optional) != TQ_RTN_OK) return;
    if (key) {
        tqbridge::releaseReference(tqbridge::referenceOf(key));
        EVP_PKEY_free(key);
    }
    TQCryptMemFree(handle);
}
TQ_CATCH_VOID

TQ_API int TQXP11Crypt_GetPrivateKey(TQXP11_SESSION *session, const char *name, int flags,
                                     TQXCRYPT_HANDLE **key) try {
    if (flags & TQXP11_BY_CKA_ID) return TQXP11Crypt_GetPrivateKeyWithCKAID(session, name, 0, key);
    return TQXP11Crypt_GetPrivateKeyWithCKALabel(session, name, 0, key);
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_GetPrivateKeyWithCKALabel(TQXP11_SESSION *session, const char *label, int,
                                                 TQXCRYPT_HANDLE **key) try {
    tq::ErrorQueueScope scope;
    return byLabel(session, label, TQXP11_KIND_RSA_PRIVATE, kPrivate, key);
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_GetPublicKey(TQXP11_SESSION *session, const char *label, int,
                                    TQXCRYPT_HANDLE **key) try {
    tq::ErrorQueueScope scope;
    return byLabel(session, label, TQXP11_KIND_RSA_PUBLIC, kPublic, key);
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_GetPrivateKeyWithCKAID(TQXP11_SESSION *session, const char *hexId, int,
                                              TQXCRYPT_HANDLE **key) try {
    tq::ErrorQueueScope scope;
    if (!session || !key) return TQ_RTN_BAD_ARGUMENT;
    tq::TqMem id;
    CK_ULONG count = 0;
    int rc = tqbridge::decodeId(hexId, TQXP11Crypt_HexDecode, id, &count);
    if (rc != TQ_RTN_OK) return rc;

    tqbridge::ReferencePtr reference;
    if ((rc = newReference(session, reference)) != TQ_RTN_OK) return rc;
    std::unique_ptr<TQXP11_VALUE, void (*)(void *)> search(
        static_cast<TQXP11_VALUE *>(std::calloc(1, sizeof(TQXP11_VALUE))), std::free);
    if (!search) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    search->rsaPrivate.id = TQXP11_BYTES{id.get(), count};
    TQXP11_OBJECT *object = reference->object;
    object->kind = TQXP11_KIND_RSA_PRIVATE;
    object->isPrivate = CK_TRUE;
    object->valueRecord = search.get();
    rc = TQXP11_ReadRSAPrivateKeyObjectWithCKAID(session, object);
    // The search record is the builder's own, whatever the reader left.
    if (object->valueRecord == search.get()) object->valueRecord = nullptr;
    if (rc != TQ_RTN_OK) return rc;
    return finish(reference, kPrivate, key);
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_P11ToKeyHandle(TQXP11_SESSION *session, const TQXP11_OBJECT *key, int,
                                      TQXCRYPT_HANDLE **out) try {
    tq::ErrorQueueScope scope;
    if (!key) return TQ_RTN_BAD_ARGUMENT;
    // The value record is the function's from here: a refusal releases it.
    TQXP11_OBJECT given = *key;
    tqbridge::ReferencePtr reference;
    int rc = newReference(session, reference);
    // A public key record would have the token encrypt where a signature is asked for.
    if (rc == TQ_RTN_OK && (given.kind != TQXP11_KIND_RSA_PRIVATE || !out)) rc = TQ_RTN_BAD_ARGUMENT;
    if (rc != TQ_RTN_OK) {
        TQXP11_FreeObject(&given);
        // A record of a kind the reader does not know goes as a block.
        std::free(given.valueRecord);
        return rc;
    }
    TQXP11_OBJECT *object = reference->object;
    object->kind = given.kind;
    object->isPrivate = given.isPrivate;
    object->handle = given.handle;
    object->valueRecord = given.valueRecord;
    return finish(reference, kPrivate, out);
}
TQ_CATCH_CODE

}  // extern "C"

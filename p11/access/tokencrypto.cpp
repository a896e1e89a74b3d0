// Cryptography the token runs: digests, RSA PKCS#1 with a token key, key
// wrapping and unwrapping, symmetric encryption in parts, random bytes.
#include "tqxp11crypto.h"
#include "access_internal.h"

namespace {

using tqp11::Result;

struct ModeRow {
    CK_ULONG mode;
    CK_ULONG kinds[2];
    CK_MECHANISM_TYPE mechanism;
    bool withIv;
};

const ModeRow kModes[] = {
    {TQXP11_MODE_DES_ECB, {TQXP11_KIND_DES, TQXP11_KIND_DES}, CKM_DES_ECB, false},
    {TQXP11_MODE_DES_CBC, {TQXP11_KIND_DES, TQXP11_KIND_DES}, CKM_DES_CBC, true},
    {TQXP11_MODE_DES_CBC_PAD, {TQXP11_KIND_DES, TQXP11_KIND_DES}, CKM_DES_CBC_PAD, true},
    {TQXP11_MODE_DES3_ECB, {TQXP11_KIND_DES2, TQXP11_KIND_DES3}, CKM_DES3_ECB, false},
    {TQXP11_MODE_DES3_CBC, {TQXP11_KIND_DES2, TQXP11_KIND_DES3}, CKM_DES3_CBC, true},
    {TQXP11_MODE_DES3_CBC_PAD, {TQXP11_KIND_DES2, TQXP11_KIND_DES3}, CKM_DES3_CBC_PAD, true},
    {TQXP11_MODE_AES_ECB, {TQXP11_KIND_AES, TQXP11_KIND_AES}, CKM_AES_ECB, false},
    {TQXP11_MODE_AES_CBC, {TQXP11_KIND_AES, TQXP11_KIND_AES}, CKM_AES_CBC, true},
    {TQXP11_MODE_AES_CBC_PAD, {TQXP11_KIND_AES, TQXP11_KIND_AES}, CKM_AES_CBC_PAD, true},
};

// The symmetric mechanism of a key and mode; the IV is the key's own.
bool symmetricMechanism(const TQXP11_OBJECT *key, CK_ULONG mode, CK_MECHANISM *mechanism) {
    for (const ModeRow &row : kModes) {
        if (row.mode != mode || (row.kinds[0] != key->kind && row.kinds[1] != key->kind)) continue;
        *mechanism = CK_MECHANISM{row.mechanism, nullptr, 0};
        if (row.withIv && key->valueRecord) {
            mechanism->pParameter = key->valueRecord->secret.iv.data;
            mechanism->ulParameterLen = key->valueRecord->secret.iv.length;
        }
        return true;
    }
    return false;
}

// RSA public keys take CKM_RSA_PKCS whatever the mode.
bool wrapMechanism(const TQXP11_OBJECT *key, CK_ULONG mode, CK_MECHANISM *mechanism) {
    if (key->kind == TQXP11_KIND_RSA_PUBLIC) {
        *mechanism = CK_MECHANISM{CKM_RSA_PKCS, nullptr, 0};
        return true;
    }
    return symmetricMechanism(key, mode, mechanism);
}

bool needsReadWriteUser(const TQXP11_SESSION *session, const TQXP11_OBJECT *key) {
    return key->isPrivate == CK_TRUE && session->sessionInfo.state != CKS_RW_USER_FUNCTIONS;
}

Result found(TQXP11_SESSION *session, TQXP11_OBJECT *key, CK_OBJECT_CLASS cls) {
    return key->handle != 0 ? CKR_OK : tqp11::findByLabel(session, key, cls);
}

Result digestInit(TQXP11_SESSION *session, CK_ULONG code) {
    static const CK_MECHANISM_TYPE kDigests[] = {CKM_MD5,    CKM_SHA_1,  CKM_SHA224,
                                                 CKM_SHA256, CKM_SHA384, CKM_SHA512};
    if (!session) return CKR_ARGUMENTS_BAD;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    if (code < TQXP11_DIGEST_MD5 || code > TQXP11_DIGEST_SHA512) return CKR_FUNCTION_NOT_SUPPORTED;
    CK_MECHANISM mechanism = {kDigests[code - TQXP11_DIGEST_MD5], nullptr, 0};
    return session->module->C_DigestInit(session->sessionHandle, &mechanism);
}

Result rsa(TQXP11_SESSION *session, TQXP11_OBJECT *key, const unsigned char *data, CK_ULONG length,
           unsigned char *out, CK_ULONG *outLength, bool encrypt) {
    if (!session || !key) return CKR_ARGUMENTS_BAD;
    TQXP11_MODULE *module = session->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    bool rsaKind = key->kind == TQXP11_KIND_RSA_PUBLIC || key->kind == TQXP11_KIND_RSA_PRIVATE;
    // A missing login outranks a wrong kind.
    if (key->isPrivate == CK_TRUE && !tqp11::userLoggedIn(session)) return CKR_USER_NOT_LOGGED_IN;
    if (!rsaKind) return CKR_FUNCTION_NOT_SUPPORTED;
    bool privateKey = key->kind == TQXP11_KIND_RSA_PRIVATE;
    Result rv = found(session, key, privateKey ? CKO_PRIVATE_KEY : CKO_PUBLIC_KEY);
    if (rv != CKR_OK) return rv;
    CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
    CK_SESSION_HANDLE h = session->sessionHandle;
    auto in = const_cast<unsigned char *>(data);
    if (encrypt && privateKey) {
        if ((rv = module->C_SignInit(h, &mechanism, key->handle)) != CKR_OK) return rv;
        return module->C_Sign(h, in, length, out, outLength);
    }
    if (encrypt) {
        if ((rv = module->C_EncryptInit(h, &mechanism, key->handle)) != CKR_OK) return rv;
        return module->C_Encrypt(h, in, length, out, outLength);
    }
    if (!privateKey) {
        if ((rv = module->C_VerifyRecoverInit(h, &mechanism, key->handle)) != CKR_OK) return rv;
        return module->C_VerifyRecover(h, in, length, out, outLength);
    }
    if ((rv = module->C_DecryptInit(h, &mechanism, key->handle)) != CKR_OK) return rv;
    return module->C_Decrypt(h, in, length, out, outLength);
}

Result wrap(TQXP11_SESSION *session, TQXP11_OBJECT *wrappingKey, TQXP11_OBJECT *key, unsigned char *out,
            CK_ULONG *outLength, CK_ULONG mode) {
    if (!session || !wrappingKey || !key) return CKR_ARGUMENTS_BAD;
    TQXP11_MODULE *module = session->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    CK_MECHANISM mechanism;
    if (!wrapMechanism(wrappingKey, mode, &mechanism)) return CKR_FUNCTION_NOT_SUPPORTED;
    CK_OBJECT_CLASS wrappedClass = 0;
    if (key->kind == TQXP11_KIND_RC4 || !tqaccess::classOfKind(key->kind, &wrappedClass) ||
        (wrappedClass != CKO_PRIVATE_KEY && wrappedClass != CKO_SECRET_KEY))
        return CKR_FUNCTION_NOT_SUPPORTED;
    if (needsReadWriteUser(session, wrappingKey) || needsReadWriteUser(session, key))
        return CKR_USER_NOT_LOGGED_IN;
    CK_OBJECT_CLASS wrappingClass =
        wrappingKey->kind == TQXP11_KIND_RSA_PUBLIC ? CKO_PUBLIC_KEY : CKO_SECRET_KEY;
    Result rv = found(session, wrappingKey, wrappingClass);
    if (rv == CKR_OK) rv = found(session, key, wrappedClass);
    if (rv != CKR_OK) return rv;
    return module->C_WrapKey(session->sessionHandle, &mechanism, wrappingKey->handle, key->handle, out,
                             outLength);
}

// The private key that unwraps for an RSA record: a public key cannot.
Result findUnwrappingKey(TQXP11_SESSION *session, TQXP11_OBJECT *key) {
    if (key->handle != 0) return CKR_OK;
    if (key->kind != TQXP11_KIND_RSA_PUBLIC) return tqp11::findByLabel(session, key, CKO_SECRET_KEY);
    tqp11::AttributeList<3> search;
    search.addUlong(CKA_CLASS, CKO_PRIVATE_KEY);
    search.addBool(CKA_TOKEN, true);
    search.addText(CKA_LABEL, key->label, tqp11::labelLength(session, key));
    return tqp11::findOne(session, search, &key->handle);
}

Result unwrap(TQXP11_SESSION *session, TQXP11_OBJECT *unwrappingKey, const unsigned char *wrapped,
              CK_ULONG wrappedLength, TQXP11_OBJECT *newKey, int flags, CK_ULONG mode) {
    if (!session || !unwrappingKey || !newKey) return CKR_ARGUMENTS_BAD;
    TQXP11_MODULE *module = session->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    CK_MECHANISM mechanism;
    if (!wrapMechanism(unwrappingKey, mode, &mechanism)) return CKR_FUNCTION_NOT_SUPPORTED;
    CK_OBJECT_CLASS newClass = 0;
    if (newKey->kind == TQXP11_KIND_RC4 || !tqaccess::classOfKind(newKey->kind, &newClass) ||
        (newClass != CKO_PRIVATE_KEY && newClass != CKO_SECRET_KEY))
        return CKR_FUNCTION_NOT_SUPPORTED;
    if (needsReadWriteUser(session, unwrappingKey) || needsReadWriteUser(session, newKey))
        return CKR_USER_NOT_LOGGED_IN;
    Result rv = findUnwrappingKey(session, unwrappingKey);
    if (rv != CKR_OK) return rv;
    if (newKey->handle == 0 && (rv = tqp11::labelFree(session, newKey, newClass)) != CKR_OK) return rv;

    CK_KEY_TYPE keyType = CKK_RSA;
    tqp11::keyTypeOfKind(newKey->kind, &keyType);
    const TQXP11_BYTES none = {nullptr, 0};
    tqp11::AttributeList<12> t;
    tqp11::addLabelKey(t, session, newKey, newClass);
    t.addUlong(CKA_KEY_TYPE, keyType);
    t.addBytes(CKA_ID, newKey->valueRecord ? newKey->valueRecord->first : none);
    // The key length comes from the unwrapped data, as the mechanism knows it:
    // SoftHSM2 refuses CKA_VALUE_LEN in an unwrap template, whatever its value.
    if (newClass == CKO_SECRET_KEY) {
        t.addBool(CKA_ENCRYPT, true);
        t.addBool(CKA_DECRYPT, true);
        t.addFlag(CKA_SENSITIVE, flags, TQXP11_SENSITIVE);
        t.addBool(CKA_EXTRACTABLE, true);
        t.addFlag(CKA_UNWRAP, flags, TQXP11_UNWRAP);
        t.addFlag(CKA_WRAP, flags, TQXP11_WRAP);
    } else {
        bool tripleDes = unwrappingKey->kind == TQXP11_KIND_DES2 || unwrappingKey->kind == TQXP11_KIND_DES3;
        t.addFlag(CKA_SENSITIVE, flags, TQXP11_SENSITIVE);
        t.addBool(CKA_EXTRACTABLE, tripleDes || (flags & TQXP11_EXTRACTABLE));
        t.addBool(CKA_DECRYPT, true);
        t.addBool(CKA_SIGN, true);
        t.addFlag(CKA_UNWRAP, flags, TQXP11_UNWRAP);
        t.addBool(CKA_SIGN_RECOVER, true);
    }
    rv = t.pass([&](CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
        return module->C_UnwrapKey(session->sessionHandle, &mechanism, unwrappingKey->handle,
                                   const_cast<unsigned char *>(wrapped), wrappedLength, attributes, count,
                                   &newKey->handle);
    });
    if (rv == CKR_OK && newClass == CKO_PRIVATE_KEY) tqp11::writePublicKeyOfPrivateKey(session, newKey);
    return rv;
}

Result cipherInit(TQXP11_SESSION *session, CK_ULONG mode, TQXP11_OBJECT *key, bool encrypt) {
    if (!session || !key) return CKR_ARGUMENTS_BAD;
    CK_MECHANISM mechanism = {CKM_RC4, nullptr, 0};
    bool known = key->kind == TQXP11_KIND_RC4 || symmetricMechanism(key, mode, &mechanism);
    TQXP11_MODULE *module = session->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    if (!known) return CKR_FUNCTION_NOT_SUPPORTED;
    Result rv = found(session, key, CKO_SECRET_KEY);
    if (rv != CKR_OK) return rv;
    return encrypt ? module->C_EncryptInit(session->sessionHandle, &mechanism, key->handle)
                   : module->C_DecryptInit(session->sessionHandle, &mechanism, key->handle);
}

// The steps that only pass their arguments on to the session's module.
template <typename Call>
int passOn(TQXP11_SESSION *session, Call call) {
    if (!session) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    if (!session->module) return TQXP11_ErrorCode(TQP11_RTN_LIBRARY_NOT_LOAD);
    return TQXP11_ErrorCode(call(session->module, session->sessionHandle));
}

CK_BYTE_PTR in(const unsigned char *data) { return const_cast<CK_BYTE_PTR>(data); }

}  // namespace

extern "C" {

TQ_API int TQXP11_DigestInit(TQXP11_SESSION *session, CK_ULONG digestCode) try {
    return TQXP11_ErrorCode(digestInit(session, digestCode));
}
TQ_CATCH_CODE

TQ_API int TQXP11_DigestUpdate(TQXP11_SESSION *session, const unsigned char *data, CK_ULONG length) try {
    return passOn(session, [&](TQXP11_MODULE *m, CK_SESSION_HANDLE h) {
        return m->C_DigestUpdate(h, in(data), length);
    });
}
TQ_CATCH_CODE

TQ_API int TQXP11_DigestFinal(TQXP11_SESSION *session, unsigned char *digest, CK_ULONG *digestLength) try {
    return passOn(session, [&](TQXP11_MODULE *m, CK_SESSION_HANDLE h) {
        return m->C_DigestFinal(h, digest, digestLength);
    });
}
TQ_CATCH_CODE

TQ_API int TQXP11_Encrypt(TQXP11_SESSION *session, TQXP11_OBJECT *key, const unsigned char *data,
                          CK_ULONG length, unsigned char *out, CK_ULONG *outLength) try {
    return TQXP11_ErrorCode(rsa(session, key, data, length, out, outLength, true));
}
TQ_CATCH_CODE

TQ_API int TQXP11_Decrypt(TQXP11_SESSION *session, TQXP11_OBJECT *key, const unsigned char *data,
                          CK_ULONG length, unsigned char *out, CK_ULONG *outLength) try {
    return TQXP11_ErrorCode(rsa(session, key, data, length, out, outLength, false));
}
TQ_CATCH_CODE

TQ_API int TQXP11_Wrap(TQXP11_SESSION *session, TQXP11_OBJECT *wrappingKey, TQXP11_OBJECT *key,
                       unsigned char *out, CK_ULONG *outLength, CK_ULONG mode) try {
    return TQXP11_ErrorCode(wrap(session, wrappingKey, key, out, outLength, mode));
}
TQ_CATCH_CODE

TQ_API int TQXP11_Unwrap(TQXP11_SESSION *session, TQXP11_OBJECT *unwrappingKey, const unsigned char *wrapped,
                         CK_ULONG wrappedLength, TQXP11_OBJECT *newKey, int flags, CK_ULONG mode) try {
    return TQXP11_ErrorCode(unwrap(session, unwrappingKey, wrapped, wrappedLength, newKey, flags, mode));
}
TQ_CATCH_CODE

TQ_API int TQXP11_EncryptInit(TQXP11_SESSION *session, CK_ULONG mode, TQXP11_OBJECT *key) try {
    return TQXP11_ErrorCode(cipherInit(session, mode, key, true));
}
TQ_CATCH_CODE

TQ_API int TQXP11_EncryptUpdate(TQXP11_SESSION *session, const unsigned char *data, CK_ULONG length,
                                unsigned char *out, CK_ULONG *outLength) try {
    return passOn(session, [&](TQXP11_MODULE *m, CK_SESSION_HANDLE h) {
        return m->C_EncryptUpdate(h, in(data), length, out, outLength);
    });
}
TQ_CATCH_CODE

TQ_API int TQXP11_EncryptFinal(TQXP11_SESSION *session, unsigned char *out, CK_ULONG *outLength) try {
    return passOn(
        session, [&](TQXP11_MODULE *m, CK_SESSION_HANDLE h) { return m->C_EncryptFinal(h, out, outLength); });
}
TQ_CATCH_CODE

TQ_API int TQXP11_DecryptInit(TQXP11_SESSION *session, CK_ULONG mode, TQXP11_OBJECT *key) try {
    return TQXP11_ErrorCode(cipherInit(session, mode, key, false));
}
TQ_CATCH_CODE

TQ_API int TQXP11_DecryptUpdate(TQXP11_SESSION *session, const unsigned char *data, CK_ULONG length,
                                unsigned char *out, CK_ULONG *outLength) try {
    return passOn(session, [&](TQXP11_MODULE *m, CK_SESSION_HANDLE h) {
        return m->C_DecryptUpdate(h, in(data), length, out, outLength);
    });
}
TQ_CATCH_CODE

TQ_API int TQXP11_DecryptFinal(TQXP11_SESSION *session, unsigned char *out, CK_ULONG *outLength) try {
    return passOn(
        session, [&](TQXP11_MODULE *m, CK_SESSION_HANDLE h) { return m->C_DecryptFinal(h, out, outLength); });
}
TQ_CATCH_CODE

TQ_API int TQXP11_GenRandomNumber(TQXP11_SESSION *session, unsigned char *buffer, int length) try {
    return passOn(session, [&](TQXP11_MODULE *m, CK_SESSION_HANDLE h) -> Result {
        // A negative length would become a huge one.
        if (length < 0 || (length > 0 && !buffer)) return CKR_ARGUMENTS_BAD;
        return m->C_GenerateRandom(h, buffer, static_cast<CK_ULONG>(length));
    });
}
TQ_CATCH_CODE

}  // extern "C"

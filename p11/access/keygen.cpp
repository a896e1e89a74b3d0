// Generating RSA key pairs and secret keys on the token.
#include "tqxp11crypto.h"
#include "access_internal.h"

namespace {

using tqp11::Result;

constexpr CK_ULONG kAesKeyLength = 32;
constexpr CK_ULONG kDefaultRc4KeyLength = 16;

// A generation template; the longest, of an AES key, has 15 attributes.
struct Template : tqp11::AttributeList<16> {
    void addLabel(TQXP11_SESSION *session, TQXP11_OBJECT *object) {
        addText(CKA_LABEL, object->label, tqp11::labelLength(session, object));
    }
};

const TQXP11_BYTES kNoBytes = {nullptr, 0};

const TQXP11_BYTES &idOf(const TQXP11_OBJECT *object) {
    return object->valueRecord ? object->valueRecord->first : kNoBytes;
}

Result generateKeyPair(TQXP11_SESSION *session, TQXP11_OBJECT *publicKey, TQXP11_OBJECT *privateKey,
                       int flags) {
    static const CK_BYTE kExponent[] = {0x01, 0x00, 0x01};
    CK_ULONG modulusBits = publicKey->valueRecord ? publicKey->valueRecord->rsaPublic.modulusBits : 0;
    Template pub;
    pub.addBool(CKA_TOKEN, true);
    pub.addByte(CKA_PRIVATE, publicKey->isPrivate);
    pub.addLabel(session, publicKey);
    pub.addBytes(CKA_ID, idOf(publicKey));
    pub.addBool(CKA_ENCRYPT, true);
    pub.addBool(CKA_VERIFY, true);
    pub.addBool(CKA_VERIFY_RECOVER, true);
    pub.addUlong(CKA_MODULUS_BITS, modulusBits);
    pub.addBytes(CKA_PUBLIC_EXPONENT, kExponent, sizeof kExponent);
    if (!(flags & TQXP11_OMIT_WRAP)) pub.addFlag(CKA_WRAP, flags, TQXP11_WRAP);
    Template pri;
    pri.addBool(CKA_TOKEN, true);
    pri.addByte(CKA_PRIVATE, privateKey->isPrivate);
    pri.addLabel(session, privateKey);
    pri.addBytes(CKA_ID, idOf(privateKey));
    pri.addBool(CKA_DECRYPT, true);
    pri.addBool(CKA_SIGN, true);
    pri.addBool(CKA_SIGN_RECOVER, true);
    if (!(flags & TQXP11_OMIT_UNWRAP)) pri.addFlag(CKA_UNWRAP, flags, TQXP11_UNWRAP);
    if (!(flags & TQXP11_OMIT_SENSITIVE)) pri.addFlag(CKA_SENSITIVE, flags, TQXP11_SENSITIVE);
    if (!(flags & TQXP11_OMIT_EXTRACTABLE)) pri.addFlag(CKA_EXTRACTABLE, flags, TQXP11_EXTRACTABLE);

    TQXP11_MODULE *module = session->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    Result publicTaken = tqp11::labelFree(session, publicKey, CKO_PUBLIC_KEY);
    Result privateTaken = tqp11::labelFree(session, privateKey, CKO_PRIVATE_KEY);
    if (publicTaken != CKR_OK) return publicTaken;
    if (privateTaken != CKR_OK) return privateTaken;

    CK_MECHANISM mechanism = {CKM_RSA_PKCS_KEY_PAIR_GEN, nullptr, 0};
    auto generate = [&] {
        return pub.pass([&](CK_ATTRIBUTE_PTR publicTemplate, CK_ULONG publicCount) {
            return pri.pass([&](CK_ATTRIBUTE_PTR privateTemplate, CK_ULONG privateCount) {
                return module->C_GenerateKeyPair(session->sessionHandle, &mechanism, publicTemplate,
                                                 publicCount, privateTemplate, privateCount,
                                                 &publicKey->handle, &privateKey->handle);
            });
        });
    };
    Result rv = generate();
    if (rv != CKR_ATTRIBUTE_VALUE_INVALID) return rv;
    // Some tokens accept only keys that never leave them: ask once more so.
    pub.setBool(CKA_WRAP, false);
    pri.setBool(CKA_UNWRAP, false);
    pri.setBool(CKA_SENSITIVE, true);
    pri.setBool(CKA_EXTRACTABLE, false);
    return generate();
}

Result generateSecretKey(TQXP11_SESSION *session, TQXP11_OBJECT *key, int flags) {
    CK_MECHANISM mechanism = {0, nullptr, 0};
    switch (key->kind) {
    case TQXP11_KIND_DES:
        mechanism.mechanism = CKM_DES_KEY_GEN;
        break;
    case TQXP11_KIND_DES2:
        mechanism.mechanism = CKM_DES2_KEY_GEN;
        break;
    case TQXP11_KIND_DES3:
        mechanism.mechanism = CKM_DES3_KEY_GEN;
        break;
    case TQXP11_KIND_RC4:
        mechanism.mechanism = CKM_RC4_KEY_GEN;
        break;
    case TQXP11_KIND_AES:
        mechanism.mechanism = CKM_AES_KEY_GEN;
        break;
    default:
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
    Template t;
    if (key->kind == TQXP11_KIND_AES) {
        t.addUlong(CKA_CLASS, CKO_SECRET_KEY);
        t.addBool(CKA_TOKEN, true);
        t.addByte(CKA_PRIVATE, key->isPrivate);
        t.addLabel(session, key);
        t.addBytes(CKA_ID, idOf(key));
        t.addUlong(CKA_KEY_TYPE, CKK_AES);
        t.addFlag(CKA_SENSITIVE, flags, TQXP11_SENSITIVE);
        t.addBool(CKA_ENCRYPT, true);
        t.addBool(CKA_DECRYPT, true);
        t.addBool(CKA_SIGN, false);
        t.addBool(CKA_VERIFY, false);
        t.addFlag(CKA_WRAP, flags, TQXP11_WRAP);
        t.addFlag(CKA_UNWRAP, flags, TQXP11_UNWRAP);
        t.addFlag(CKA_EXTRACTABLE, flags, TQXP11_EXTRACTABLE);
        t.addUlong(CKA_VALUE_LEN, kAesKeyLength);
    } else {
        t.addBool(CKA_TOKEN, true);
        t.addByte(CKA_PRIVATE, key->isPrivate);
        t.addLabel(session, key);
        t.addBytes(CKA_ID, idOf(key));
        t.addBool(CKA_ENCRYPT, true);
        t.addBool(CKA_DECRYPT, true);
        t.addFlag(CKA_WRAP, flags, TQXP11_WRAP);
        t.addFlag(CKA_UNWRAP, flags, TQXP11_UNWRAP);
        t.addBool(CKA_SIGN, true);
        t.addBool(CKA_VERIFY, true);
        if (key->kind == TQXP11_KIND_RC4) {
            // The key length the caller gives in the value record, else 16 bytes.
            CK_ULONG valueLength = key->valueRecord ? key->valueRecord->secret.value.length : 0;
            t.addUlong(CKA_VALUE_LEN, valueLength ? valueLength : kDefaultRc4KeyLength);
        }
        t.addFlag(CKA_SENSITIVE, flags, TQXP11_SENSITIVE);
        t.addFlag(CKA_EXTRACTABLE, flags, TQXP11_EXTRACTABLE);
    }
    TQXP11_MODULE *module = session->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    Result rv = tqp11::labelFree(session, key, CKO_SECRET_KEY);
    if (rv != CKR_OK) return rv;
    return t.pass([&](CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
        return module->C_GenerateKey(session->sessionHandle, &mechanism, attributes, count, &key->handle);
    });
}

}  // namespace

extern "C" {

TQ_API int TQXP11_GenerateKeyPairObject(TQXP11_SESSION *session, TQXP11_OBJECT *publicKey,
                                        TQXP11_OBJECT *privateKey, int flags) try {
    if (!session || !publicKey || !privateKey) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    if (publicKey->kind != TQXP11_KIND_RSA_PUBLIC || privateKey->kind != TQXP11_KIND_RSA_PRIVATE)
        return TQXP11_ErrorCode(CKR_FUNCTION_NOT_SUPPORTED);
    return TQXP11_ErrorCode(generateKeyPair(session, publicKey, privateKey, flags));
}
TQ_CATCH_CODE

TQ_API int TQXP11_GenerateKeyObject(TQXP11_SESSION *session, TQXP11_OBJECT *key, int flags) try {
    if (!session || !key) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    return TQXP11_ErrorCode(generateSecretKey(session, key, flags));
}
TQ_CATCH_CODE

}  // extern "C"

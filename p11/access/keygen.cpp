// Generating RSA key pairs and secret keys on the token.
#include "tqxp11crypto.h"
#include "tokenlayer.h"

namespace {

using tqp11::Result;

constexpr CK_BBOOL kTrue = CK_TRUE;
constexpr CK_BBOOL kFalse = CK_FALSE;
constexpr CK_ULONG kAesKeyLength = 32;
constexpr CK_ULONG kDefaultRc4KeyLength = 16;

// A generation template whose boolean attributes can be changed afterwards.
class Template {
public:
    void add(CK_ATTRIBUTE_TYPE type, const void *data, CK_ULONG length) {
        attributes_[count_++] = CK_ATTRIBUTE{type, const_cast<void *>(data), length};
    }
    void add(CK_ATTRIBUTE_TYPE type, const TQXP11_BYTES &bytes) { add(type, bytes.data, bytes.length); }
    void addBool(CK_ATTRIBUTE_TYPE type, bool on) { add(type, on ? &kTrue : &kFalse, 1); }
    void addFlag(CK_ATTRIBUTE_TYPE type, int flags, int on) { addBool(type, (flags & on) != 0); }
    void addUlong(CK_ATTRIBUTE_TYPE type, const CK_ULONG *value) { add(type, value, sizeof *value); }
    void addLabel(TQXP11_SESSION *session, TQXP11_OBJECT *object) {
        add(CKA_LABEL, object->label, tqp11::labelLength(session, object));
    }
    // Sets a boolean attribute where the template holds it.
    void set(CK_ATTRIBUTE_TYPE type, bool on) {
        for (CK_ULONG i = 0; i < count_; ++i)
            if (attributes_[i].type == type)
                attributes_[i].pValue = const_cast<CK_BBOOL *>(on ? &kTrue : &kFalse);
    }
    CK_ATTRIBUTE *attributes() { return attributes_; }
    CK_ULONG size() const { return count_; }

private:
    CK_ATTRIBUTE attributes_[16];
    CK_ULONG count_ = 0;
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
    pub.add(CKA_PRIVATE, &publicKey->isPrivate, 1);
    pub.addLabel(session, publicKey);
    pub.add(CKA_ID, idOf(publicKey));
    pub.addBool(CKA_ENCRYPT, true);
    pub.addBool(CKA_VERIFY, true);
    pub.addBool(CKA_VERIFY_RECOVER, true);
    pub.addUlong(CKA_MODULUS_BITS, &modulusBits);
    pub.add(CKA_PUBLIC_EXPONENT, kExponent, sizeof kExponent);
    if (!(flags & TQXP11_OMIT_WRAP)) pub.addFlag(CKA_WRAP, flags, TQXP11_WRAP);
    Template pri;
    pri.addBool(CKA_TOKEN, true);
    pri.add(CKA_PRIVATE, &privateKey->isPrivate, 1);
    pri.addLabel(session, privateKey);
    pri.add(CKA_ID, idOf(privateKey));
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
        return module->C_GenerateKeyPair(session->sessionHandle, &mechanism, pub.attributes(), pub.size(),
                                         pri.attributes(), pri.size(), &publicKey->handle,
                                         &privateKey->handle);
    };
    Result rv = generate();
    if (rv != CKR_ATTRIBUTE_VALUE_INVALID) return rv;
    // Some tokens accept only keys that never leave them: ask once more so.
    pub.set(CKA_WRAP, false);
    pri.set(CKA_UNWRAP, false);
    pri.set(CKA_SENSITIVE, true);
    pri.set(CKA_EXTRACTABLE, false);
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
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE aesType = CKK_AES;
    CK_ULONG valueLength = kAesKeyLength;
    if (key->kind == TQXP11_KIND_AES) {
        t.addUlong(CKA_CLASS, &secretClass);
        t.addBool(CKA_TOKEN, true);
        t.add(CKA_PRIVATE, &key->isPrivate, 1);
        t.addLabel(session, key);
        t.add(CKA_ID, idOf(key));
        t.addUlong(CKA_KEY_TYPE, &aesType);
        t.addFlag(CKA_SENSITIVE, flags, TQXP11_SENSITIVE);
        t.addBool(CKA_ENCRYPT, true);
        t.addBool(CKA_DECRYPT, true);
        t.addBool(CKA_SIGN, false);
        t.addBool(CKA_VERIFY, false);
        t.addFlag(CKA_WRAP, flags, TQXP11_WRAP);
        t.addFlag(CKA_UNWRAP, flags, TQXP11_UNWRAP);
        t.addFlag(CKA_EXTRACTABLE, flags, TQXP11_EXTRACTABLE);
        t.addUlong(CKA_VALUE_LEN, &valueLength);
    } else {
        t.addBool(CKA_TOKEN, true);
        t.add(CKA_PRIVATE, &key->isPrivate, 1);
        t.addLabel(session, key);
        t.add(CKA_ID, idOf(key));
        t.addBool(CKA_ENCRYPT, true);
        t.addBool(CKA_DECRYPT, true);
        t.addFlag(CKA_WRAP, flags, TQXP11_WRAP);
        t.addFlag(CKA_UNWRAP, flags, TQXP11_UNWRAP);
        t.addBool(CKA_SIGN, true);
        t.addBool(CKA_VERIFY, true);
        if (key->kind == TQXP11_KIND_RC4) {
            // The key length the caller gives in the value record, else 16 bytes.
            valueLength = key->valueRecord ? key->valueRecord->secret.value.length : 0;
            if (valueLength == 0) valueLength = kDefaultRc4KeyLength;
            t.addUlong(CKA_VALUE_LEN, &valueLength);
        }
        t.addFlag(CKA_SENSITIVE, flags, TQXP11_SENSITIVE);
        t.addFlag(CKA_EXTRACTABLE, flags, TQXP11_EXTRACTABLE);
    }
    TQXP11_MODULE *module = session->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    Result rv = tqp11::labelFree(session, key, CKO_SECRET_KEY);
    if (rv != CKR_OK) return rv;
    return module->C_GenerateKey(session->sessionHandle, &mechanism, t.attributes(), t.size(), &key->handle);
}

}  // namespace

extern "C" {

TQ_API int TQXP11_GenerateKeyPairObject(TQXP11_SESSION *session, TQXP11_OBJECT *publicKey,
                                        TQXP11_OBJECT *privateKey, int flags) {
    if (!session || !publicKey || !privateKey) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    if (publicKey->kind != TQXP11_KIND_RSA_PUBLIC || privateKey->kind != TQXP11_KIND_RSA_PRIVATE)
        return TQXP11_ErrorCode(CKR_FUNCTION_NOT_SUPPORTED);
    return TQXP11_ErrorCode(generateKeyPair(session, publicKey, privateKey, flags));
}

TQ_API int TQXP11_GenerateKeyObject(TQXP11_SESSION *session, TQXP11_OBJECT *key, int flags) {
    if (!session || !key) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    return TQXP11_ErrorCode(generateSecretKey(session, key, flags));
}

}  // extern "C"

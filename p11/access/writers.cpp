// Object writers: the template of each writable kind, the label check that
// keeps labels unique per class, and the DES key parity.
#include "access_internal.h"

namespace {

using tqp11::Result;

constexpr char kApplication[] = "Orvane-P11";  // written with its NUL

// Every template of this file fits: the longest, an RSA private key, has 19.
constexpr CK_ULONG kTemplateMax = 20;
// The class, token flag, private flag and label that open each template are
// also the search for an object that already carries the label.
constexpr CK_ULONG kLabelKeyLength = 4;

// A creation template, opened by the record's label key.
struct Template : tqp11::AttributeList<kTemplateMax> {
    Template(TQXP11_SESSION *session, TQXP11_OBJECT *object, CK_OBJECT_CLASS cls, bool token) {
        tqp11::addLabelKey(*this, session, object, cls, token);
    }
};

// Refuses a label already carried in the class, then creates the object.
Result create(TQXP11_SESSION *session, TQXP11_OBJECT *object, Template &t) {
    CK_OBJECT_HANDLE handles[tqp11::kSearchMax];
    CK_ULONG found = 0;
    Result rv = tqp11::findObjects(session, handles, t, &found, kLabelKeyLength);
    if (rv != CKR_OK) return rv;
    if (found == 1) return TQP11_RTN_OBJECT_EXIST;
    if (found > 1) return TQP11_RTN_OBJECT_HAS_PROBLEM;
    return t.pass([&](CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
        return session->module->C_CreateObject(session->sessionHandle, attributes, count, &object->handle);
    });
}

Result writeData(TQXP11_SESSION *session, TQXP11_OBJECT *object) {
    Template t(session, object, CKO_DATA, true);
    t.addText(CKA_APPLICATION, kApplication, sizeof kApplication);
    t.addBytes(CKA_VALUE, object->valueRecord->data.value);
    return create(session, object, t);
}

Result writeCertificate(TQXP11_SESSION *session, TQXP11_OBJECT *object) {
    const TQXP11_CERTIFICATE_VALUE &v = object->valueRecord->certificate;
    Template t(session, object, CKO_CERTIFICATE, true);
    t.addBytes(CKA_SUBJECT, v.subject);
    t.addBytes(CKA_VALUE, v.value);
    t.addUlong(CKA_CERTIFICATE_TYPE, CKC_X_509);
    if (v.issuer.data) t.addBytes(CKA_ISSUER, v.issuer);
    if (v.serialNumber.data) t.addBytes(CKA_SERIAL_NUMBER, v.serialNumber);
    if (v.id.data) t.addBytes(CKA_ID, v.id);
    return create(session, object, t);
}

}  // namespace

Result tqp11::writeRsaPublicKey(TQXP11_SESSION *session, TQXP11_OBJECT *object, int flags) {
    const TQXP11_RSA_PUBLIC_VALUE &v = object->valueRecord->rsaPublic;
    Template t(session, object, CKO_PUBLIC_KEY, true);
    t.addUlong(CKA_KEY_TYPE, CKK_RSA);
    t.addBytes(CKA_ID, v.id);
    t.addBool(CKA_ENCRYPT, true);
    t.addBool(CKA_VERIFY, true);
    t.addFlag(CKA_WRAP, flags, TQXP11_WRAP);
    t.addBool(CKA_VERIFY_RECOVER, true);
    t.addBytes(CKA_MODULUS, v.modulus);
    t.addBytes(CKA_PUBLIC_EXPONENT, v.publicExponent);
    return create(session, object, t);
}

void tqp11::writePublicKeyOfPrivateKey(TQXP11_SESSION *session, const TQXP11_OBJECT *privateKey) {
    TQXP11_OBJECT stored{};
    std::memcpy(stored.label, privateKey->label, sizeof stored.label);
    stored.kind = TQXP11_KIND_RSA_PRIVATE;
    stored.isPrivate = CK_TRUE;
    if (readRsaPrivateKey(session, &stored) != CKR_OK) return;
    // The public key gets copies of its own; the private key's record goes.
    const TQXP11_RSA_PRIVATE_VALUE &read = stored.valueRecord->rsaPrivate;
    auto copy = [](const TQXP11_BYTES &bytes) {
        SystemPtr<unsigned char> c(static_cast<unsigned char *>(std::malloc(bytes.length + 1)));
        if (c && bytes.length) std::memcpy(c.get(), bytes.data, bytes.length);
        return c;
    };
    SystemPtr<unsigned char> id = copy(read.id), modulus = copy(read.modulus),
                             exponent = copy(read.publicExponent);
    if (id && modulus && exponent) {
        TQXP11_VALUE value{};
        value.rsaPublic = {{id.get(), read.id.length},
                           {modulus.get(), read.modulus.length},
                           {exponent.get(), read.publicExponent.length},
                           0};
        TQXP11_OBJECT publicKey{};
        std::memcpy(publicKey.label, privateKey->label, sizeof publicKey.label);
        publicKey.kind = TQXP11_KIND_RSA_PUBLIC;
        publicKey.isPrivate = CK_FALSE;
        publicKey.valueRecord = &value;
        writeRsaPublicKey(session, &publicKey, TQXP11_WRAP);
    }
    TQXP11_FreeObject(&stored);
}

namespace {

Result writeRsaPrivateKey(TQXP11_SESSION *session, TQXP11_OBJECT *object, int flags) {
    const TQXP11_RSA_PRIVATE_VALUE &v = object->valueRecord->rsaPrivate;
    Template t(session, object, CKO_PRIVATE_KEY, true);
    t.addUlong(CKA_KEY_TYPE, CKK_RSA);
    t.addBytes(CKA_ID, v.id);
    t.addFlag(CKA_SENSITIVE, flags, TQXP11_SENSITIVE);
    t.addBool(CKA_DECRYPT, true);
    t.addBool(CKA_SIGN, true);
    t.addBool(CKA_SIGN_RECOVER, true);
    t.addFlag(CKA_UNWRAP, flags, TQXP11_UNWRAP);
    t.addBytes(CKA_MODULUS, v.modulus);
    t.addBytes(CKA_PUBLIC_EXPONENT, v.publicExponent);
    t.addBytes(CKA_PRIVATE_EXPONENT, v.privateExponent);
    t.addBytes(CKA_PRIME_1, v.prime1);
    t.addBytes(CKA_PRIME_2, v.prime2);
    t.addBytes(CKA_EXPONENT_1, v.exponent1);
    t.addBytes(CKA_EXPONENT_2, v.exponent2);
    t.addBytes(CKA_COEFFICIENT, v.coefficient);
    if (object->isPrivate == CK_TRUE && session->sessionInfo.state != CKS_RW_USER_FUNCTIONS)
        return CKR_USER_NOT_LOGGED_IN;
    return create(session, object, t);
}

CK_KEY_TYPE secretKeyType(CK_ULONG kind) {
    CK_KEY_TYPE keyType = CKK_RC4;
    tqp11::keyTypeOfKind(kind, &keyType);
    return keyType;
}

Result writeTokenSecretKey(TQXP11_SESSION *session, TQXP11_OBJECT *object, int flags) {
    const TQXP11_SECRET_VALUE &v = object->valueRecord->secret;
    Template t(session, object, CKO_SECRET_KEY, true);
    t.addUlong(CKA_KEY_TYPE, secretKeyType(object->kind));
    t.addBytes(CKA_ID, v.id);
    t.addBool(CKA_ENCRYPT, true);
    t.addBool(CKA_DECRYPT, true);
    t.addBool(CKA_SIGN, true);
    t.addBool(CKA_VERIFY, true);
    t.addBytes(CKA_VALUE, v.value);
    if (object->kind == TQXP11_KIND_RC4) t.addUlong(CKA_VALUE_LEN, v.value.length);
    if (!(flags & TQXP11_OMIT_WRAP)) t.addFlag(CKA_WRAP, flags, TQXP11_WRAP);
    if (!(flags & TQXP11_OMIT_UNWRAP)) t.addFlag(CKA_UNWRAP, flags, TQXP11_UNWRAP);
    if (!(flags & TQXP11_OMIT_SENSITIVE)) t.addFlag(CKA_SENSITIVE, flags, TQXP11_SENSITIVE);
    if (!(flags & TQXP11_OMIT_EXTRACTABLE)) t.addFlag(CKA_EXTRACTABLE, flags, TQXP11_EXTRACTABLE);
    return create(session, object, t);
}

Result writeSessionSecretKey(TQXP11_SESSION *session, TQXP11_OBJECT *object, int flags) {
    const TQXP11_SECRET_VALUE &v = object->valueRecord->secret;
    Template t(session, object, CKO_SECRET_KEY, false);
    t.addUlong(CKA_KEY_TYPE, secretKeyType(object->kind));
    t.addBytes(CKA_ID, v.id);
    t.addBool(CKA_ENCRYPT, true);
    t.addBool(CKA_DECRYPT, true);
    t.addFlag(CKA_WRAP, flags, TQXP11_WRAP);
    t.addFlag(CKA_UNWRAP, flags, TQXP11_UNWRAP);
    t.addFlag(CKA_SENSITIVE, flags, TQXP11_SENSITIVE);
    t.addFlag(CKA_EXTRACTABLE, flags, TQXP11_EXTRACTABLE);
    t.addBool(CKA_SIGN, true);
    t.addBool(CKA_VERIFY, true);
    t.addBytes(CKA_VALUE, v.value);
    if (object->kind == TQXP11_KIND_RC4) t.addUlong(CKA_VALUE_LEN, v.value.length);
    return create(session, object, t);
}

bool isDes(CK_ULONG kind) {
    return kind == TQXP11_KIND_DES || kind == TQXP11_KIND_DES2 || kind == TQXP11_KIND_DES3;
}

// Each key byte gets the low bit that gives it an odd number of one bits.
void setOddParity(TQXP11_OBJECT *object) {
    TQXP11_BYTES &key = object->valueRecord->secret.value;
    for (CK_ULONG i = 0; i < key.length; ++i) {
        unsigned char high = key.data[i] & 0xFE;
        int ones = __builtin_popcount(high);
        key.data[i] = static_cast<unsigned char>(high | ((ones % 2 == 0) ? 1 : 0));
    }
}

Result checkWritable(TQXP11_SESSION *session, TQXP11_OBJECT *object) {
    if (!session || !object || !object->valueRecord) return CKR_ARGUMENTS_BAD;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    return CKR_OK;
}

Result writeObject(TQXP11_SESSION *session, TQXP11_OBJECT *object, int flags, bool secretOnly) {
    if (!object) return CKR_ARGUMENTS_BAD;
    CK_ULONG kind = object->kind;
    bool secret = isDes(kind) || kind == TQXP11_KIND_RC4;
    bool other = kind == TQXP11_KIND_DATA || kind == TQXP11_KIND_CERTIFICATE ||
                 kind == TQXP11_KIND_RSA_PUBLIC || kind == TQXP11_KIND_RSA_PRIVATE;
    if (!secret && (secretOnly || !other)) return CKR_FUNCTION_NOT_SUPPORTED;
    // Key bytes counted but not given cannot be adjusted nor written.
    if (secret && object->valueRecord && !object->valueRecord->secret.value.data &&
        object->valueRecord->secret.value.length)
        return CKR_ARGUMENTS_BAD;
    if (isDes(kind) && object->valueRecord) setOddParity(object);
    Result rv = checkWritable(session, object);
    if (rv != CKR_OK) return rv;
    switch (kind) {
    case TQXP11_KIND_DATA:
        return writeData(session, object);
    case TQXP11_KIND_CERTIFICATE:
        return writeCertificate(session, object);
    case TQXP11_KIND_RSA_PUBLIC:
        return tqp11::writeRsaPublicKey(session, object, flags);
    case TQXP11_KIND_RSA_PRIVATE:
        return writeRsaPrivateKey(session, object, flags);
    default:
        return writeTokenSecretKey(session, object, flags);
    }
}

Result writeSessionObject(TQXP11_SESSION *session, TQXP11_OBJECT *object, int flags) {
    if (!object) return CKR_ARGUMENTS_BAD;
    CK_ULONG kind = object->kind;
    if (kind != TQXP11_KIND_DES && kind != TQXP11_KIND_DES3 && kind != TQXP11_KIND_RC4)
        return CKR_FUNCTION_NOT_SUPPORTED;
    Result rv = checkWritable(session, object);
    if (rv != CKR_OK) return rv;
    if (!object->valueRecord->secret.value.data && object->valueRecord->secret.value.length)
        return CKR_ARGUMENTS_BAD;
    return writeSessionSecretKey(session, object, flags);
}

}  // namespace

extern "C" {

TQ_API int TQXP11_WriteObject(TQXP11_SESSION *session, TQXP11_OBJECT *object, int flags) try {
    return TQXP11_ErrorCode(writeObject(session, object, flags, false));
}
TQ_CATCH_CODE

TQ_API int TQXP11_WriteSymmetricKeyObject(TQXP11_SESSION *session, TQXP11_OBJECT *object, int flags) try {
    return TQXP11_ErrorCode(writeObject(session, object, flags, true));
}
TQ_CATCH_CODE

TQ_API int TQXP11_WriteSessionObject(TQXP11_SESSION *session, TQXP11_OBJECT *object, int flags) try {
    return TQXP11_ErrorCode(writeSessionObject(session, object, flags));
}
TQ_CATCH_CODE

}  // extern "C"

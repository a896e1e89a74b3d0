#include "shim_emulation.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <map>
#include <memory>
#include <vector>

#include "shim_state.h"

namespace shim {
namespace {

CK_FUNCTION_LIST next;  // the forwarding entries

// RC4 keys live on SoftHSM2 as generic secrets; the shim keeps their bytes.
std::map<CK_OBJECT_HANDLE, std::vector<unsigned char>> rc4Keys;

struct CipherDeleter {
    void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); }
};
struct KeyDeleter {
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
};
std::map<CK_SESSION_HANDLE, std::unique_ptr<EVP_CIPHER_CTX, CipherDeleter>>
    rc4Operations[2];  // decrypt, encrypt
std::map<CK_SESSION_HANDLE, std::unique_ptr<EVP_PKEY, KeyDeleter>> recoverKeys;

const CK_ATTRIBUTE *find(const CK_ATTRIBUTE *attributes, CK_ULONG count, CK_ATTRIBUTE_TYPE type) {
    for (CK_ULONG i = 0; i < count; ++i)
        if (attributes[i].type == type) return &attributes[i];
    return nullptr;
}

bool isRc4Template(const CK_ATTRIBUTE *attributes, CK_ULONG count) {
    const CK_ATTRIBUTE *type = find(attributes, count, CKA_KEY_TYPE);
    return type && type->ulValueLen == sizeof(CK_KEY_TYPE) &&
           *static_cast<CK_KEY_TYPE *>(type->pValue) == CKK_RC4;
}

const CK_OBJECT_CLASS kSecret = CKO_SECRET_KEY;
const CK_KEY_TYPE kGeneric = CKK_GENERIC_SECRET;

// The template as SoftHSM2 takes it: a generic secret with the key bytes.
std::vector<CK_ATTRIBUTE> asGenericSecret(const CK_ATTRIBUTE *attributes, CK_ULONG count,
                                          const std::vector<unsigned char> &value) {
    std::vector<CK_ATTRIBUTE> t;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE_TYPE type = attributes[i].type;
        if (type != CKA_CLASS && type != CKA_KEY_TYPE && type != CKA_VALUE && type != CKA_VALUE_LEN)
            t.push_back(attributes[i]);
    }
    t.push_back({CKA_CLASS, const_cast<CK_OBJECT_CLASS *>(&kSecret), sizeof kSecret});
    t.push_back({CKA_KEY_TYPE, const_cast<CK_KEY_TYPE *>(&kGeneric), sizeof kGeneric});
    t.push_back({CKA_VALUE, const_cast<unsigned char *>(value.data()), value.size()});
    return t;
}

CK_RV createRc4(CK_SESSION_HANDLE session, const CK_ATTRIBUTE *attributes, CK_ULONG count,
                std::vector<unsigned char> value, CK_OBJECT_HANDLE_PTR object) {
    std::vector<CK_ATTRIBUTE> t = asGenericSecret(attributes, count, value);
    CK_RV rv = next.C_CreateObject(session, t.data(), t.size(), object);
    if (rv == CKR_OK) rc4Keys[*object] = std::move(value);
    return rv;
}

CK_RV generateKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR attributes,
                  CK_ULONG count, CK_OBJECT_HANDLE_PTR key) {
    recordTemplate("C_GenerateKey", attributes, count);
    if (CK_RV injected = enter("C_GenerateKey")) return injected;
    if (mechanism->mechanism != CKM_RC4_KEY_GEN)
        return next.C_GenerateKey(session, mechanism, attributes, count, key);
    const CK_ATTRIBUTE *length = find(attributes, count, CKA_VALUE_LEN);
    if (!length || length->ulValueLen != sizeof(CK_ULONG)) return CKR_TEMPLATE_INCOMPLETE;
    CK_ULONG bytes = *static_cast<CK_ULONG *>(length->pValue);
    if (bytes == 0 || bytes > 256) return CKR_KEY_SIZE_RANGE;
    state().rc4KeyLengths.push_back(bytes);
    std::vector<unsigned char> value(bytes);
    RAND_bytes(value.data(), static_cast<int>(value.size()));
    return createRc4(session, attributes, count, std::move(value), key);
}

CK_RV createObject(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR attributes, CK_ULONG count,
                   CK_OBJECT_HANDLE_PTR object) {
    recordTemplate("C_CreateObject", attributes, count);
    if (!isRc4Template(attributes, count)) return next.C_CreateObject(session, attributes, count, object);
    const CK_ATTRIBUTE *value = find(attributes, count, CKA_VALUE);
    if (!value) return CKR_TEMPLATE_INCOMPLETE;
    const auto *bytes = static_cast<const unsigned char *>(value->pValue);
    return createRc4(session, attributes, count, std::vector<unsigned char>(bytes, bytes + value->ulValueLen),
                     object);
}

CK_RV getAttributeValue(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_PTR attributes,
                        CK_ULONG count) {
    CK_RV rv = next.C_GetAttributeValue(session, object, attributes, count);
    if (rc4Keys.count(object)) {
        for (CK_ULONG i = 0; i < count; ++i)
            if (attributes[i].type == CKA_KEY_TYPE && attributes[i].pValue &&
                attributes[i].ulValueLen == sizeof(CK_KEY_TYPE))
                *static_cast<CK_KEY_TYPE *>(attributes[i].pValue) = CKK_RC4;
    }
    return rv;
}

CK_RV findObjectsInit(CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
    if (!isRc4Template(attributes, count)) return next.C_FindObjectsInit(session, attributes, count);
    std::vector<CK_ATTRIBUTE> t(attributes, attributes + count);
    for (CK_ATTRIBUTE &a : t)
        if (a.type == CKA_KEY_TYPE) a.pValue = const_cast<CK_KEY_TYPE *>(&kGeneric);
    return next.C_FindObjectsInit(session, t.data(), t.size());
}

CK_RV rc4Init(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key, bool encrypt) {
    auto it = rc4Keys.find(key);
    if (it == rc4Keys.end()) return CKR_KEY_TYPE_INCONSISTENT;
    if (mechanism->pParameter) return CKR_MECHANISM_PARAM_INVALID;
    std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> rc4(EVP_CIPHER_fetch(nullptr, "RC4", nullptr),
                                                                EVP_CIPHER_free);
    std::unique_ptr<EVP_CIPHER_CTX, CipherDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!rc4 || !ctx || !EVP_CipherInit_ex2(ctx.get(), rc4.get(), nullptr, nullptr, encrypt ? 1 : 0, nullptr))
        return CKR_FUNCTION_FAILED;
    int length = static_cast<int>(it->second.size());
    OSSL_PARAM params[] = {OSSL_PARAM_construct_int(OSSL_CIPHER_PARAM_KEYLEN, &length),
                           OSSL_PARAM_construct_end()};
    if (!EVP_CIPHER_CTX_set_params(ctx.get(), params) ||
        !EVP_CipherInit_ex2(ctx.get(), nullptr, it->second.data(), nullptr, -1, nullptr))
        return CKR_FUNCTION_FAILED;
    rc4Operations[encrypt][session] = std::move(ctx);
    return CKR_OK;
}

CK_RV rc4Update(CK_SESSION_HANDLE session, CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out,
                CK_ULONG_PTR outLength, bool encrypt) {
    auto it = rc4Operations[encrypt].find(session);
    if (!out) {
        *outLength = inLength;
        return CKR_OK;
    }
    if (*outLength < inLength) {
        *outLength = inLength;
        return CKR_BUFFER_TOO_SMALL;
    }
    int written = 0;
    if (!EVP_CipherUpdate(it->second.get(), out, &written, in, static_cast<int>(inLength)))
        return CKR_FUNCTION_FAILED;
    *outLength = static_cast<CK_ULONG>(written);
    return CKR_OK;
}

// The multi-part cipher calls are counted and take injected answers. An
// injected failure of an update or final still ends the module's
// operation, as PKCS#11 says a failed call does.
template <bool Encrypt>
CK_RV realFinal(CK_SESSION_HANDLE session, CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
    auto it = rc4Operations[Encrypt].find(session);
    if (it == rc4Operations[Encrypt].end())
        return Encrypt ? next.C_EncryptFinal(session, out, outLength)
                       : next.C_DecryptFinal(session, out, outLength);
    *outLength = 0;
    if (out) rc4Operations[Encrypt].erase(it);
    return CKR_OK;
}

template <bool Encrypt>
void endOperation(CK_SESSION_HANDLE session) {
    unsigned char scratch[256];
    CK_ULONG length = sizeof scratch;
    realFinal<Encrypt>(session, scratch, &length);
    OPENSSL_cleanse(scratch, sizeof scratch);
}

template <bool Encrypt>
CK_RV cipherInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    if (CK_RV injected = enter(Encrypt ? "C_EncryptInit" : "C_DecryptInit")) return injected;
    if (mechanism->mechanism == CKM_RC4) return rc4Init(session, mechanism, key, Encrypt);
    return Encrypt ? next.C_EncryptInit(session, mechanism, key)
                   : next.C_DecryptInit(session, mechanism, key);
}

template <bool Encrypt>
CK_RV cipherUpdate(CK_SESSION_HANDLE session, CK_BYTE_PTR in, CK_ULONG inLength, CK_BYTE_PTR out,
                   CK_ULONG_PTR outLength) {
    if (CK_RV injected = enter(Encrypt ? "C_EncryptUpdate" : "C_DecryptUpdate")) {
        endOperation<Encrypt>(session);
        return injected;
    }
    if (rc4Operations[Encrypt].count(session))
        return rc4Update(session, in, inLength, out, outLength, Encrypt);
    return Encrypt ? next.C_EncryptUpdate(session, in, inLength, out, outLength)
                   : next.C_DecryptUpdate(session, in, inLength, out, outLength);
}

template <bool Encrypt>
CK_RV cipherFinal(CK_SESSION_HANDLE session, CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
    if (CK_RV injected = enter(Encrypt ? "C_EncryptFinal" : "C_DecryptFinal")) {
        endOperation<Encrypt>(session);
        return injected;
    }
    return realFinal<Encrypt>(session, out, outLength);
}

CK_RV verifyRecoverInit(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE key) {
    if (CK_RV injected = enter("C_VerifyRecoverInit")) return injected;
    if (mechanism->mechanism != CKM_RSA_PKCS) return CKR_MECHANISM_INVALID;
    unsigned char n[1024], e[16];
    CK_ATTRIBUTE parts[2] = {{CKA_MODULUS, n, sizeof n}, {CKA_PUBLIC_EXPONENT, e, sizeof e}};
    CK_RV rv = next.C_GetAttributeValue(session, key, parts, 2);
    if (rv != CKR_OK) return rv;
    using Number = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> make(
        EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr), EVP_PKEY_CTX_free);
    // OpenSSL parameters take native-endian integers; build them from the bytes.
    Number bn(BN_bin2bn(n, static_cast<int>(parts[0].ulValueLen), nullptr), BN_free);
    Number be(BN_bin2bn(e, static_cast<int>(parts[1].ulValueLen), nullptr), BN_free);
    std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)> build(OSSL_PARAM_BLD_new(),
                                                                          OSSL_PARAM_BLD_free);
    if (!make || !bn || !be || !build ||
        !OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, bn.get()) ||
        !OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, be.get()))
        return CKR_FUNCTION_FAILED;
    std::unique_ptr<OSSL_PARAM, decltype(&OSSL_PARAM_free)> params(OSSL_PARAM_BLD_to_param(build.get()),
                                                                   OSSL_PARAM_free);
    EVP_PKEY *pkey = nullptr;
    if (!params || EVP_PKEY_fromdata_init(make.get()) <= 0 ||
        EVP_PKEY_fromdata(make.get(), &pkey, EVP_PKEY_PUBLIC_KEY, params.get()) <= 0)
        return CKR_FUNCTION_FAILED;
    recoverKeys[session].reset(pkey);
    return CKR_OK;
}

CK_RV verifyRecover(CK_SESSION_HANDLE session, CK_BYTE_PTR signature, CK_ULONG signatureLength,
                    CK_BYTE_PTR out, CK_ULONG_PTR outLength) {
    if (CK_RV injected = enter("C_VerifyRecover")) return injected;
    auto it = recoverKeys.find(session);
    if (it == recoverKeys.end()) return CKR_OPERATION_NOT_INITIALIZED;
    if (!out) {
        *outLength = static_cast<CK_ULONG>(EVP_PKEY_get_size(it->second.get()));
        return CKR_OK;
    }
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
        EVP_PKEY_CTX_new(it->second.get(), nullptr), EVP_PKEY_CTX_free);
    size_t length = *outLength;
    CK_RV rv = CKR_OK;
    if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_verify_recover(ctx.get(), out, &length, signature, signatureLength) <= 0)
        rv = CKR_SIGNATURE_INVALID;
    else
        *outLength = length;
    recoverKeys.erase(it);
    return rv;
}

CK_RV generateKeyPair(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_ATTRIBUTE_PTR publicTemplate,
                      CK_ULONG publicCount, CK_ATTRIBUTE_PTR privateTemplate, CK_ULONG privateCount,
                      CK_OBJECT_HANDLE_PTR publicKey, CK_OBJECT_HANDLE_PTR privateKey) {
    state().keyPairTemplateSizes.push_back({publicCount, privateCount});
    recordTemplate("C_GenerateKeyPair", publicTemplate, publicCount);
    recordTemplate("C_GenerateKeyPair", privateTemplate, privateCount);
    if (CK_RV injected = enter("C_GenerateKeyPair")) return injected;
    return next.C_GenerateKeyPair(session, mechanism, publicTemplate, publicCount, privateTemplate,
                                  privateCount, publicKey, privateKey);
}

// The components of a PKCS#8 RSA key as PKCS#11 attributes' bytes.
bool rsaComponents(const std::vector<unsigned char> &der, std::vector<std::vector<unsigned char>> &parts) {
    const unsigned char *p = der.data();
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> info(
        d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size())), PKCS8_PRIV_KEY_INFO_free);
    if (!info) return false;
    std::unique_ptr<EVP_PKEY, KeyDeleter> key(EVP_PKCS82PKEY(info.get()));
    if (!key) return false;
    for (const char *name :
         {OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_E, OSSL_PKEY_PARAM_RSA_D, OSSL_PKEY_PARAM_RSA_FACTOR1,
          OSSL_PKEY_PARAM_RSA_FACTOR2, OSSL_PKEY_PARAM_RSA_EXPONENT1, OSSL_PKEY_PARAM_RSA_EXPONENT2,
          OSSL_PKEY_PARAM_RSA_COEFFICIENT1}) {
        BIGNUM *bn = nullptr;
        if (!EVP_PKEY_get_bn_param(key.get(), name, &bn)) return false;
        std::vector<unsigned char> bytes(BN_num_bytes(bn));
        BN_bn2bin(bn, bytes.data());
        BN_free(bn);
        parts.push_back(std::move(bytes));
    }
    return true;
}

CK_RV unwrapKey(CK_SESSION_HANDLE session, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE unwrappingKey,
                CK_BYTE_PTR wrapped, CK_ULONG wrappedLength, CK_ATTRIBUTE_PTR attributes, CK_ULONG count,
                CK_OBJECT_HANDLE_PTR key) {
    recordTemplate("C_UnwrapKey", attributes, count);
    if (CK_RV injected = enter("C_UnwrapKey")) return injected;
    CK_RV rv =
        next.C_UnwrapKey(session, mechanism, unwrappingKey, wrapped, wrappedLength, attributes, count, key);
    if (rv != CKR_MECHANISM_INVALID ||
        (mechanism->mechanism != CKM_AES_CBC_PAD && mechanism->mechanism != CKM_DES3_CBC_PAD))
        return rv;
    ++state().calls["unwrap emulated"];
    std::vector<unsigned char> plain(wrappedLength);
    CK_ULONG plainLength = plain.size();
    if ((rv = next.C_DecryptInit(session, mechanism, unwrappingKey)) != CKR_OK ||
        (rv = next.C_Decrypt(session, wrapped, wrappedLength, plain.data(), &plainLength)) != CKR_OK)
        return rv;
    plain.resize(plainLength);
    std::vector<CK_ATTRIBUTE> t(attributes, attributes + count);
    const CK_ATTRIBUTE *cls = find(attributes, count, CKA_CLASS);
    std::vector<std::vector<unsigned char>> parts;
    if (cls && *static_cast<CK_OBJECT_CLASS *>(cls->pValue) == CKO_PRIVATE_KEY) {
        if (!rsaComponents(plain, parts)) return CKR_WRAPPED_KEY_INVALID;
        const CK_ATTRIBUTE_TYPE types[] = {CKA_MODULUS,    CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT,
                                           CKA_PRIME_1,    CKA_PRIME_2,         CKA_EXPONENT_1,
                                           CKA_EXPONENT_2, CKA_COEFFICIENT};
        for (size_t i = 0; i < parts.size(); ++i) t.push_back({types[i], parts[i].data(), parts[i].size()});
    } else {
        t.push_back({CKA_VALUE, plain.data(), plain.size()});
    }
    rv = next.C_CreateObject(session, t.data(), t.size(), key);
    OPENSSL_cleanse(plain.data(), plain.size());
    return rv;
}

}  // namespace

void installEmulation(CK_FUNCTION_LIST &list) {
    next = list;
    list.C_GenerateKey = generateKey;
    list.C_GenerateKeyPair = generateKeyPair;
    list.C_CreateObject = createObject;
    list.C_GetAttributeValue = getAttributeValue;
    list.C_FindObjectsInit = findObjectsInit;
    list.C_EncryptInit = cipherInit<true>;
    list.C_EncryptUpdate = cipherUpdate<true>;
    list.C_EncryptFinal = cipherFinal<true>;
    list.C_DecryptInit = cipherInit<false>;
    list.C_DecryptUpdate = cipherUpdate<false>;
    list.C_DecryptFinal = cipherFinal<false>;
    list.C_VerifyRecoverInit = verifyRecoverInit;
    list.C_VerifyRecover = verifyRecover;
    list.C_UnwrapKey = unwrapKey;
}

void resetEmulation() {
    rc4Keys.clear();
    rc4Operations[0].clear();
    rc4Operations[1].clear();
    recoverKeys.clear();
}

}  // namespace shim

// RSA key handles from numbers or at random, and whether two keys belong
// together. New keys are built through the providers; the numbers of an
// existing key are read from its RSA object, which also serves token keys.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <utility>

#include "keys_internal.h"

namespace {

tq::BnPtr secureNumber(const unsigned char *bytes, uint64_t length) {
    tq::BnPtr n(BN_secure_new());
    if (n && BN_bin2bn(bytes, static_cast<int>(length), n.get()) == nullptr) n.reset();
    return n;
}

// An RSA key from named numbers; selection says public key or key pair.
tq::EvpPkeyPtr keyFromNumbers(const std::pair<const char *, const BIGNUM *> *numbers, size_t count,
                              int selection) {
    tq::OsslParamBldPtr builder(OSSL_PARAM_BLD_new());
    if (!builder) return nullptr;
    for (size_t i = 0; i < count; ++i)
        if (OSSL_PARAM_BLD_push_BN(builder.get(), numbers[i].first, numbers[i].second) != 1) return nullptr;
    tq::OsslParamPtr params(OSSL_PARAM_BLD_to_param(builder.get()));
    tq::EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY *made = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &made, selection, params.get()) != 1)
        return nullptr;
    return tq::EvpPkeyPtr(made);
}

tq::EvpPkeyPtr publicKey(const BIGNUM *n, const BIGNUM *e) {
    const std::pair<const char *, const BIGNUM *> numbers[] = {{OSSL_PKEY_PARAM_RSA_N, n},
                                                               {OSSL_PKEY_PARAM_RSA_E, e}};
    return keyFromNumbers(numbers, 2, EVP_PKEY_PUBLIC_KEY);
}

int wrapKey(tq::EvpPkeyPtr &pkey, int kind, TQXCRYPT_HANDLE **out) {
    const bool priv = kind == TQXCRYPT_KIND_PRIVATEKEY;
    const TQXCRYPT_ASN1_METHOD *asn1 = priv ? tqxCryptASN1PrivateKeyMethod() : tqxCryptASN1PublicKeyMethod();
    const TQXCRYPT_KEY_METHOD *method = priv ? tqxCryptRSAPriMethod() : tqxCryptRSAPubMethod();
    TQXCRYPT_HANDLE *handle = nullptr;
    int rc = tqxCryptCreateHandle(&handle, kind, pkey.get(), asn1, const_cast<TQXCRYPT_KEY_METHOD *>(method));
    if (rc != TQ_RTN_OK) return rc;
    pkey.release();
    *out = handle;
    return TQ_RTN_OK;
}

// 0 when both keys carry the same RSA modulus and public exponent.
int samePublicKey(const EVP_PKEY *a, const EVP_PKEY *b) {
    const RSA *ra = EVP_PKEY_get0_RSA(a);
    const RSA *rb = EVP_PKEY_get0_RSA(b);
    if (ra == nullptr || rb == nullptr) return TQ_RTN_KEY_MISMATCH;
    const BIGNUM *na = RSA_get0_n(ra), *ea = RSA_get0_e(ra);
    const BIGNUM *nb = RSA_get0_n(rb), *eb = RSA_get0_e(rb);
    if (!na || !ea || !nb || !eb || BN_cmp(na, nb) != 0 || BN_cmp(ea, eb) != 0) return TQ_RTN_KEY_MISMATCH;
    return TQ_RTN_OK;
}

}  // namespace

extern "C" {

TQ_API int TQXCrypt_GenerateKeyPair(int bits, int, TQXCRYPT_HANDLE **key) try {
    tq::ErrorQueueScope scope;
    if (key == nullptr) return TQ_RTN_BAD_ARGUMENT;
    TQXCryptInitialize();
    // OpenSSL refuses every operation with a larger modulus; generating one
    // would only cost the caller hours.
    if (bits > OPENSSL_RSA_MAX_MODULUS_BITS) return TQ_RTN_KEY_BUILD_FAILED;
    tq::EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    if (!ctx) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    EVP_PKEY *made = nullptr;
    // The providers' default public exponent is 65537.
    if (EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) != 1 ||
        EVP_PKEY_generate(ctx.get(), &made) != 1)
        return TQ_RTN_KEY_BUILD_FAILED;
    tq::EvpPkeyPtr pkey(made);
    return wrapKey(pkey, TQXCRYPT_KIND_PRIVATEKEY, key);
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_CreateRSAPublicKey(const unsigned char *modulus, uint64_t modulusLength,
                                       const unsigned char *exponent, uint64_t exponentLength, int,
                                       TQXCRYPT_HANDLE **key) try {
    tq::ErrorQueueScope scope;
    if (key == nullptr) return TQ_RTN_BAD_ARGUMENT;
    TQXCryptInitialize();
    if (modulus == nullptr || exponent == nullptr || !tq::fitsInt(modulusLength) ||
        !tq::fitsInt(exponentLength))
        return TQ_RTN_BAD_ARGUMENT;
    tq::BnPtr n(BN_bin2bn(modulus, static_cast<int>(modulusLength), nullptr));
    tq::BnPtr e(BN_bin2bn(exponent, static_cast<int>(exponentLength), nullptr));
    if (!n || !e) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    tq::EvpPkeyPtr pkey = publicKey(n.get(), e.get());
    if (!pkey) return TQ_RTN_KEY_BUILD_FAILED;
    return wrapKey(pkey, TQXCRYPT_KIND_PUBLICKEY, key);
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_GetPublicKey(TQXCRYPT_HANDLE *privateKey, TQXCRYPT_HANDLE **publicKeyOut) try {
    tq::ErrorQueueScope scope;
    EVP_PKEY *pkey = nullptr;
    int rc = tq::objectOf(privateKey, TQXCRYPT_KIND_PRIVATEKEY, &pkey);
    if (rc != TQ_RTN_OK) return rc;
    if (publicKeyOut == nullptr) return TQ_RTN_BAD_ARGUMENT;
    if (EVP_PKEY_get_base_id(pkey) != EVP_PKEY_RSA) return TQ_RTN_INVALID_KEY;
    const RSA *rsa = EVP_PKEY_get0_RSA(pkey);
    if (rsa == nullptr || RSA_get0_n(rsa) == nullptr || RSA_get0_e(rsa) == nullptr) return TQ_RTN_INVALID_KEY;
    // A copy of the numbers only: the derived key always computes in
    // software, also when the private key runs on a token.
    tq::EvpPkeyPtr derived = publicKey(RSA_get0_n(rsa), RSA_get0_e(rsa));
    if (!derived) return TQ_RTN_KEY_BUILD_FAILED;
    return wrapKey(derived, TQXCRYPT_KIND_PUBLICKEY, publicKeyOut);
}
TQ_CATCH_CODE

TQ_API int tqxCrypt_CreateRSAPrivateKey(const unsigned char *prime1, uint64_t prime1Length,
                                        const unsigned char *prime2, uint64_t prime2Length,
                                        const unsigned char *exponent, uint64_t exponentLength, int,
                                        EVP_PKEY **key) try {
    tq::ErrorQueueScope scope;
    TQXCryptInitialize();
    if (prime1 == nullptr || prime2 == nullptr || key == nullptr || !tq::fitsInt(prime1Length) ||
        !tq::fitsInt(prime2Length) || !tq::fitsInt(exponentLength))
        return TQ_RTN_BAD_ARGUMENT;
    // No exponent has no inverse.
    if (exponent == nullptr || exponentLength == 0) return TQ_RTN_KEY_BUILD_FAILED;
    tq::BnCtxPtr ctx(BN_CTX_secure_new());
    tq::BnPtr p = secureNumber(prime1, prime1Length);
    tq::BnPtr q = secureNumber(prime2, prime2Length);
    tq::BnPtr e = secureNumber(exponent, exponentLength);
    tq::BnPtr n(BN_new()), p1(BN_secure_new()), q1(BN_secure_new()), phi(BN_secure_new());
    tq::BnPtr d(BN_secure_new()), dmp1(BN_secure_new()), dmq1(BN_secure_new()), iqmp(BN_secure_new());
    if (!ctx || !p || !q || !e || !n || !p1 || !q1 || !phi || !d || !dmp1 || !dmq1 || !iqmp)
        return TQ_RTN_KEY_BUILD_FAILED;
    if (BN_cmp(p.get(), q.get()) < 0) std::swap(p, q);
    if (BN_mul(n.get(), p.get(), q.get(), ctx.get()) != 1 || BN_sub(p1.get(), p.get(), BN_value_one()) != 1 ||
        BN_sub(q1.get(), q.get(), BN_value_one()) != 1 ||
        BN_mul(phi.get(), p1.get(), q1.get(), ctx.get()) != 1 ||
        BN_mod_inverse(d.get(), e.get(), phi.get(), ctx.get()) == nullptr ||
        BN_mod(dmp1.get(), d.get(), p1.get(), ctx.get()) != 1 ||
        BN_mod(dmq1.get(), d.get(), q1.get(), ctx.get()) != 1 ||
        BN_mod_inverse(iqmp.get(), q.get(), p.get(), ctx.get()) == nullptr)
        return TQ_RTN_KEY_BUILD_FAILED;
    const std::pair<const char *, const BIGNUM *> numbers[] = {
        {OSSL_PKEY_PARAM_RSA_N, n.get()},
        {OSSL_PKEY_PARAM_RSA_E, e.get()},
        {OSSL_PKEY_PARAM_RSA_D, d.get()},
        {OSSL_PKEY_PARAM_RSA_FACTOR1, p.get()},
        {OSSL_PKEY_PARAM_RSA_FACTOR2, q.get()},
        {OSSL_PKEY_PARAM_RSA_EXPONENT1, dmp1.get()},
        {OSSL_PKEY_PARAM_RSA_EXPONENT2, dmq1.get()},
        {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, iqmp.get()}};
    tq::EvpPkeyPtr pkey = keyFromNumbers(numbers, sizeof numbers / sizeof numbers[0], EVP_PKEY_KEYPAIR);
    if (!pkey) return TQ_RTN_KEY_BUILD_FAILED;
    *key = pkey.release();
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_CheckKeyPair(TQXCRYPT_HANDLE *key1, TQXCRYPT_HANDLE *key2) try {
    tq::ErrorQueueScope scope;
    EVP_PKEY *a = nullptr, *b = nullptr;
    int rc = tq::objectOf(key1, tq::kEitherKey, &a);
    if (rc == TQ_RTN_OK) rc = tq::objectOf(key2, tq::kEitherKey, &b);
    if (rc != TQ_RTN_OK) return rc;
    if (EVP_PKEY_get_base_id(a) != EVP_PKEY_get_base_id(b)) return TQ_RTN_KEY_MISMATCH;
    if (EVP_PKEY_get_base_id(a) != EVP_PKEY_RSA) return TQ_RTN_FAILED;
    return samePublicKey(a, b);
}
TQ_CATCH_CODE

int tqxCheckKeyPair(TQXCRYPT_HANDLE *key, EVP_PKEY *publicKeyToMatch) try {
    // Any other handle's object is no key to compare.
    const EVP_PKEY *own = tq::keyOf(key);
    if (own == nullptr || publicKeyToMatch == nullptr) return TQ_RTN_BAD_ARGUMENT;
    if (EVP_PKEY_get_base_id(own) != EVP_PKEY_get_base_id(publicKeyToMatch)) return TQ_RTN_KEY_MISMATCH;
    return samePublicKey(own, publicKeyToMatch);
}
TQ_CATCH_CODE

}  // extern "C"

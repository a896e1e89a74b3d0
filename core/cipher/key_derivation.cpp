// Keys and IVs derived from a password: PBKDF2 with HMAC-SHA1, or PBKDF1
// with the digest of the hash selector.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "cipher_internal.h"
#include "keys_internal.h"

namespace tq {

namespace {

const unsigned char kNothing[1] = {0};

// Splits one derived byte string into key and IV.
void splitKeyIv(const unsigned char *derived, unsigned char *key, int keyLength, unsigned char *iv,
                int ivLength) {
    if (keyLength > 0) std::memcpy(key, derived, static_cast<size_t>(keyLength));
    if (ivLength > 0) std::memcpy(iv, derived + keyLength, static_cast<size_t>(ivLength));
}

}  // namespace

int PKCS5_PBKDF2_gen_keyiv(const char *password, int passwordLength, const unsigned char *salt,
                           int saltLength, int iterations, unsigned char *key, int keyLength,
                           unsigned char *iv, int ivLength) {
    const int64_t total = int64_t{keyLength} + ivLength;
    if (!fitsInt(static_cast<uint64_t>(total))) return TQ_RTN_BAD_ARGUMENT;
    if (total == 0) return TQ_RTN_OK;
    const size_t n = static_cast<size_t>(total);
    unsigned char local[1024];
    TqMem heap;
    unsigned char *buffer = local;
    if (n > sizeof local) {
        heap = tqAlloc(n);
        if (!heap) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        buffer = heap.get();
    }
    // 3.0 refuses a count below 1; the old generation derived one round for
    // 0, and data stored that way must still decrypt.
    int ok = PKCS5_PBKDF2_HMAC_SHA1(password ? password : reinterpret_cast<const char *>(kNothing),
                                    passwordLength, salt ? salt : kNothing, saltLength,
                                    iterations < 1 ? 1 : iterations, static_cast<int>(n), buffer);
    if (ok == 1) splitKeyIv(buffer, key, keyLength, iv, ivLength);
    tq::wipe(buffer, n);
    return ok == 1 ? TQ_RTN_OK : TQ_RTN_FAILED;
}

int PKCS5_PBKDF1_gen_keyiv(const char *password, int passwordLength, const unsigned char *salt,
                           int saltLength, int iterations, unsigned hashSelector, unsigned char *key,
                           int keyLength, unsigned char *iv, int ivLength) {
    const tq::HashRow *row = tq::hashRow(hashSelector);
    if (!row) return TQ_RTN_BAD_ARGUMENT;
    if (int64_t{keyLength} + ivLength > row->size) return TQ_RTN_BAD_ARGUMENT;
    EvpMdPtr md = tq::fetchDigest(*row);
    if (!md) return TQ_RTN_NOT_SUPPORTED;
    EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    unsigned char t[tq::kMaxDigest];
    unsigned int tLength = 0;
    bool ok = EVP_DigestInit_ex(ctx.get(), md.get(), nullptr) == 1 &&
              (passwordLength == 0 ||
               EVP_DigestUpdate(ctx.get(), password, static_cast<size_t>(passwordLength)) == 1) &&
              (saltLength == 0 || EVP_DigestUpdate(ctx.get(), salt, static_cast<size_t>(saltLength)) == 1) &&
              EVP_DigestFinal_ex(ctx.get(), t, &tLength) == 1;
    for (int round = 1; ok && round < iterations; ++round)
        ok = EVP_DigestInit_ex(ctx.get(), md.get(), nullptr) == 1 &&
             EVP_DigestUpdate(ctx.get(), t, tLength) == 1 && EVP_DigestFinal_ex(ctx.get(), t, &tLength) == 1;
    if (ok) splitKeyIv(t, key, keyLength, iv, ivLength);
    tq::wipe(t, sizeof t);
    return ok ? TQ_RTN_OK : TQ_RTN_FAILED;
}

}  // namespace tq

extern "C" {

int TQXCrypt_ByteToKey(const char *password, int passwordLength, const unsigned char *salt, int saltLength,
                       int iterations, int flags, unsigned char *key, int keyLength, unsigned char *iv,
                       int ivLength) try {
    tq::ErrorQueueScope scope;
    if (passwordLength < -1 || saltLength < 0 || keyLength < 0 || ivLength < 0) return TQ_RTN_BAD_ARGUMENT;
    if ((!password && passwordLength > 0) || (!salt && saltLength > 0) || (!key && keyLength > 0) ||
        (!iv && ivLength > 0))
        return TQ_RTN_BAD_ARGUMENT;
    size_t length = passwordLength >= 0 ? static_cast<size_t>(passwordLength)
                    : password          ? std::strlen(password)
                                        : 0;
    if (!tq::fitsInt(length)) return TQ_RTN_BAD_ARGUMENT;
    const int n = static_cast<int>(length);
    switch (flags & TQXCRYPT_KDF_MASK) {
    case 0:
    case TQXCRYPT_KDF_PBKDF2:
        return tq::PKCS5_PBKDF2_gen_keyiv(password, n, salt, saltLength, iterations, key, keyLength, iv,
                                          ivLength);
    case TQXCRYPT_KDF_PBKDF1:
        return tq::PKCS5_PBKDF1_gen_keyiv(password, n, salt, saltLength, iterations,
                                          static_cast<unsigned>(flags) & TQXCRYPT_HASH_MASK, key, keyLength,
                                          iv, ivLength);
    default:
        return TQ_RTN_BAD_ARGUMENT;
    }
}
TQ_CATCH_CODE

}  // extern "C"

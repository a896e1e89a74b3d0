// DES or triple-DES over a whole buffer, without a handle.
#include <cstdio>

#include <openssl/evp.h>

#include "cipher_internal.h"

extern "C" int TQXCrypt_DESEncrypt(int cbc, const unsigned char *key, int keyLength, const unsigned char *iv,
                                   int ivLength, const unsigned char *input, int inputLength,
                                   unsigned char **output, int *outputLength, int encrypt) try {
    tq::ErrorQueueScope scope;
    TQXCryptInitialize();
    if (!key || !output || !outputLength || inputLength < 0 || (!input && inputLength > 0) || ivLength < 0 ||
        (!iv && ivLength > 0))
        return TQ_RTN_BAD_ARGUMENT;
    // Two-key triple-DES is k1 k2 k1, as the cipher handles store it; a key
    // too short for its form is refused, never read past.
    unsigned char fullKey[24];
    const char *name = nullptr;
    if (keyLength == 8) {
        name = cbc ? "DES-CBC" : "DES-ECB";
        std::memcpy(fullKey, key, 8);
    } else if (keyLength == 16) {
        name = "DES-EDE3-CBC";
        std::memcpy(fullKey, key, 16);
        std::memcpy(fullKey + 16, key, 8);
    } else if (keyLength >= 24) {
        name = "DES-EDE3-CBC";
        std::memcpy(fullKey, key, 24);
    } else {
        return TQ_RTN_BAD_ARGUMENT;
    }
    const tq::Wiped<> wiped(fullKey, sizeof fullKey);
    const bool chained = keyLength != 8 || cbc;
    // A CBC IV is eight bytes; a shorter one would be read past its end.
    unsigned char ivBlock[8] = {0};
    if (chained && iv) {
        if (ivLength >= 1 && ivLength <= 7) return TQ_RTN_BAD_ARGUMENT;
        std::memcpy(ivBlock, iv, 8);
    }
    tq::EvpCipherPtr cipher(EVP_CIPHER_fetch(nullptr, name, nullptr));
    if (!cipher) return TQ_RTN_NOT_SUPPORTED;
    tq::EvpCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    const int enc = encrypt ? 1 : 0;
    if (EVP_CipherInit_ex(ctx.get(), cipher.get(), nullptr, fullKey, ivBlock, enc) != 1) {
        std::printf("EVP_CipherInit error\n");
        return TQ_RTN_ENCRYPT_FAILED;
    }
    // Decryption hands the padding back in place, unchecked.
    if (!enc && EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1) return TQ_RTN_ENCRYPT_FAILED;
    auto *out = static_cast<unsigned char *>(TQCryptMemAlloc(static_cast<size_t>(inputLength) + 8));
    if (!out) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    *output = out;
    static const unsigned char nothing = 0;
    int produced = 0, last = 0;
    if (EVP_CipherUpdate(ctx.get(), out, &produced, input ? input : &nothing, inputLength) != 1 ||
        EVP_CipherFinal_ex(ctx.get(), out + produced, &last) != 1)
        return TQ_RTN_ENCRYPT_FAILED;
    *outputLength = produced + last;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

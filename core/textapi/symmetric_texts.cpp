// Symmetric encryption and decryption of one buffer in one call.
#include "textapi_internal.h"

#include "tqxcrypt_cipher.h"

namespace {

// One init, one update over the whole input, the final step into the room
// after it. Encryption hands out only on success; decryption also after a
// failed final step (a bad last block), with the update's bytes.
int oneShot(TQXCRYPT_HANDLE *cipher, const unsigned char *iv, int paddingFlags, const unsigned char *data,
            size_t dataLength, bool encrypt, bool trailingNul, unsigned char **out, uint64_t *outLength) {
    int rc = encrypt ? TQXCrypt_EncryptInit(cipher, iv, paddingFlags)
                     : TQXCrypt_DecryptInit(cipher, iv, paddingFlags);
    if (rc != TQ_RTN_OK) return rc;
    auto *context = static_cast<TQXCRYPT_CIPHER_CONTEXT *>(cipher->object);
    const int block = EVP_CIPHER_CTX_get_block_size(context->ctx);
    const size_t extra = encrypt ? static_cast<size_t>(block > 0 ? block : 1) : 1;
    if (dataLength > static_cast<size_t>(INT_MAX - EVP_MAX_BLOCK_LENGTH)) return TQ_RTN_BAD_ARGUMENT;
    const size_t room = dataLength + extra;
    // The plain text is wiped from a buffer that is not handed out.
    tq::SecretMem buffer = tq::secretAlloc(room);
    if (!buffer) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    std::memset(buffer.get(), 0, room);
    int updated = 0, finished = 0;
    rc = encrypt ? TQXCrypt_EncryptUpdate(cipher, data, dataLength, buffer.get(), &updated)
                 : TQXCrypt_DecryptUpdate(cipher, data, dataLength, buffer.get(), &updated);
    if (rc != TQ_RTN_OK) return rc;
    rc = encrypt ? TQXCrypt_EncryptFinal(cipher, buffer.get() + updated, &finished, paddingFlags)
                 : TQXCrypt_DecryptFinal(cipher, buffer.get() + updated, &finished, paddingFlags);
    if (rc != TQ_RTN_OK) {
        if (encrypt) return rc;
        finished = 0;
    }
    const size_t total = static_cast<size_t>(updated) + static_cast<size_t>(finished);
    if (trailingNul) buffer.get()[total] = 0;
    *out = buffer.release();
    *outLength = total;
    return rc;
}

bool argumentsGiven(const unsigned char *data, size_t dataLength, unsigned char **out, uint64_t *outLength) {
    return (data || dataLength == 0) && out && outLength;
}

// A cipher derived from the password, run once; decrypted text ends in a NUL
// after its bytes.
int withPassword(bool encrypt, const char *password, const unsigned char *data, size_t dataLength,
                 const unsigned char *salt, int saltLength, int iterations, const unsigned char *iv,
                 int algorithm, int flags, unsigned char **out, uint64_t *outLength) {
    if (!password || !argumentsGiven(data, dataLength, out, outLength)) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXCrypt_GenerateKey(algorithm, password, salt, saltLength, iterations, flags, &made);
    if (rc != TQ_RTN_OK) return rc;
    tq::HandlePtr cipher(made);
    return oneShot(cipher.get(), iv, 0, data, dataLength, encrypt, !encrypt, out, outLength);
}

// A cipher from raw key bytes, run once.
int withKey(bool encrypt, int algorithm, const unsigned char *data, size_t dataLength,
            const unsigned char *key, int keyLength, const unsigned char *iv, int ivLength, int flags,
            int paddingFlags, unsigned char **out, uint64_t *outLength) {
    if (!key || !argumentsGiven(data, dataLength, out, outLength)) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXCrypt_CreateKey(algorithm, key, keyLength, iv, ivLength, flags, &made);
    if (rc != TQ_RTN_OK) return rc;
    tq::HandlePtr cipher(made);
    return oneShot(cipher.get(), iv, paddingFlags, data, dataLength, encrypt, false, out, outLength);
}

}  // namespace

extern "C" {

int TQCrypt_SymmetricEncrypt(const char *password, const unsigned char *data, size_t dataLength,
                             const unsigned char *salt, int saltLength, int iterations,
                             const unsigned char *iv, int algorithm, int flags, unsigned char **out,
                             uint64_t *outLength) try {
    tq::ErrorQueueScope scope;
    return withPassword(true, password, data, dataLength, salt, saltLength, iterations, iv, algorithm, flags,
                        out, outLength);
}
TQ_CATCH_CODE

int TQCrypt_SymmetricDecrypt(const char *password, const unsigned char *data, size_t dataLength,
                             const unsigned char *salt, int saltLength, int iterations,
                             const unsigned char *iv, int algorithm, int flags, unsigned char **out,
                             uint64_t *outLength) try {
    tq::ErrorQueueScope scope;
    return withPassword(false, password, data, dataLength, salt, saltLength, iterations, iv, algorithm, flags,
                        out, outLength);
}
TQ_CATCH_CODE

int TQCrypt_SymmetricEncryptEx(int algorithm, const unsigned char *data, size_t dataLength,
                               const unsigned char *key, int keyLength, const unsigned char *iv, int ivLength,
                               int flags, int paddingFlags, unsigned char **out, uint64_t *outLength) try {
    tq::ErrorQueueScope scope;
    return withKey(true, algorithm, data, dataLength, key, keyLength, iv, ivLength, flags, paddingFlags, out,
                   outLength);
}
TQ_CATCH_CODE

int TQCrypt_SymmetricDecryptEx(int algorithm, const unsigned char *data, size_t dataLength,
                               const unsigned char *key, int keyLength, const unsigned char *iv, int ivLength,
                               int flags, int paddingFlags, unsigned char **out, uint64_t *outLength) try {
    tq::ErrorQueueScope scope;
    return withKey(false, algorithm, data, dataLength, key, keyLength, iv, ivLength, flags, paddingFlags, out,
                   outLength);
}
TQ_CATCH_CODE

}  // extern "C"

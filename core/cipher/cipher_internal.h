// Shared between the cipher-handle, key-derivation and one-shot DES sources;
// not exported.
#pragma once

#include "base_internal.h"
#include "tqxcrypt_cipher.h"

namespace tq {

// One row of the symmetric algorithm selector.
struct CipherRow {
    int id;
    const char *cbc;  // provider names
    const char *ecb;
    int keyBytes;
    int ivBytes;
    bool fromRawKey;  // TQXCrypt_CreateKey takes it
};

// The row of an id; null for ids out of range (3 included).
const CipherRow *cipherRow(int id);

// The derivations behind TQXCrypt_ByteToKey: keyLength key bytes, then
// ivLength IV bytes, from one derived byte string. Arguments are checked by
// the caller; the password is given with its length.
int PKCS5_PBKDF2_gen_keyiv(const char *password, int passwordLength, const unsigned char *salt,
                           int saltLength, int iterations, unsigned char *key, int keyLength,
                           unsigned char *iv, int ivLength);
int PKCS5_PBKDF1_gen_keyiv(const char *password, int passwordLength, const unsigned char *salt,
                           int saltLength, int iterations, unsigned hashSelector, unsigned char *key,
                           int keyLength, unsigned char *iv, int ivLength);

}  // namespace tq

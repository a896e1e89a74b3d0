// Cipher tests: the openssl tool as the peer, and one operation through a
// cipher handle.
#pragma once

#include <string>
#include <vector>

#include "testutil.h"
#include "tqxcrypt_cipher.h"

namespace ciphertest {

using tqtest::Bytes;

// `openssl enc` of data with a raw key and IV (empty: none given).
Bytes opensslEnc(const std::string &cipher, const Bytes &key, const Bytes &iv, const Bytes &data,
                 bool decrypt, bool noPadding);

// One init, updates of the given sizes (the rest in a last one), one final.
// Returns the first non-zero code; out holds what was produced until then.
int runOperation(TQXCRYPT_HANDLE *cipher, bool encrypt, const unsigned char *iv, int flags, const Bytes &data,
                 const std::vector<size_t> &chunks, Bytes *out);

inline Bytes bytesOf(const std::string &hex) { return tqtest::hexBytes(hex); }

}  // namespace ciphertest

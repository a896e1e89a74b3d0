// RSA public keys from untrusted numbers: the first two bytes give the
// modulus length (big-endian), the modulus follows, the rest is the public
// exponent. A key that is made gives its numbers back without leading zero
// bytes, and goes through the size, raw RSA, signature check and key-pair
// comparison.
#include <cstring>
#include <vector>

#include "fixture_files.h"
#include "tqxcrypt.h"
#include "tqxcrypt_keys.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes withoutLeadingZeros(const unsigned char *bytes, size_t n) {
    while (n && *bytes == 0) ++bytes, --n;
    return Bytes(bytes, bytes + n);
}

void sameNumber(int (*read)(TQXCRYPT_HANDLE *, TQXCRYPT_BLOB *), TQXCRYPT_HANDLE *key,
                const Bytes &expected) {
    TQXCRYPT_BLOB out{0, nullptr};
    if (read(key, &out) == TQ_RTN_OK &&
        (out.length != expected.size() ||
         (out.length && std::memcmp(out.data, expected.data(), expected.size()) != 0)))
        __builtin_trap();
    TQXCryptFreeBlob(&out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    static TQXCRYPT_HANDLE *const fixture =
        fuzz::fixtureObject(TQXCRYPT_KIND_PUBLICKEY, "objects/user.pub.der");
    if (size < 2) return 0;
    const size_t modulusLength = static_cast<size_t>(data[0] << 8 | data[1]);
    if (modulusLength > size - 2) return 0;
    // Exact copies: a read past either number is caught.
    const Bytes modulus(data + 2, data + 2 + modulusLength), exponent(data + 2 + modulusLength, data + size);
    TQXCRYPT_HANDLE *key = nullptr;
    if (TQXCrypt_CreateRSAPublicKey(modulus.data(), modulus.size(), exponent.data(), exponent.size(), 0,
                                    &key) != TQ_RTN_OK) {
        if (key) __builtin_trap();
        return 0;
    }
    sameNumber(TQXCrypt_PublicKeyGetModulus, key, withoutLeadingZeros(modulus.data(), modulus.size()));
    sameNumber(TQXCrypt_KeyModulus, key, withoutLeadingZeros(modulus.data(), modulus.size()));
    sameNumber(TQXCrypt_KeyExponent, key, withoutLeadingZeros(exponent.data(), exponent.size()));
    const int bytes = TQXCrypt_KeySize(key);
    static const unsigned char message[] = "a short message";
    TQXCRYPT_BLOB out{0, nullptr};
    if (TQXCrypt_PublicEncrypt(key, message, sizeof message, 0, &out) == TQ_RTN_OK &&
        static_cast<int>(out.length) != bytes)
        __builtin_trap();
    TQXCryptFreeBlob(&out);
    if (bytes > 0 && bytes <= 1024) {
        const Bytes signature(static_cast<size_t>(bytes), 0x5A);
        TQXCrypt_PublicDecrypt(key, signature.data(), signature.size(), 0, &out);
        TQXCryptFreeBlob(&out);
        TQXCrypt_PureVerify(key, signature.data(), signature.size(), message, sizeof message,
                            TQXCRYPT_PURE_HASH_DATA | TQXCRYPT_HASH_SHA256);
    }
    TQXCrypt_CheckKeyPair(key, fixture);
    TQXCryptFreeHandle(key);
    return 0;
}

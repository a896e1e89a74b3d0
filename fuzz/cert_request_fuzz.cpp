// Certificate requests from untrusted bytes. The first byte chooses the text
// flag (bit 0) and the hash selector (bits 1-4). A request that decodes goes
// through the readers and a check with its own key; then it is signed both
// ways, by the library and outside it (its digest signed apart and the
// signature put back), and each time it must verify with the signer's key.
#include <vector>

#include "fixture_files.h"
#include "tqxcrypt.h"
#include "tqxcrypt_build.h"
#include "tqxcrypt_keys.h"

namespace {

struct Signer {
    TQXCRYPT_HANDLE *key = fuzz::fixtureObject(TQXCRYPT_KIND_PRIVATEKEY, "objects/user.rsa.der");
    TQXCRYPT_HANDLE *publicKey = fuzz::fixtureObject(TQXCRYPT_KIND_PUBLICKEY, "objects/user.pub.der");
};

void read(TQXCRYPT_HANDLE *request, int selector) {
    char *subject = nullptr;
    if (TQXCrypt_CertReqGetSubject(request, 0, &subject) == TQ_RTN_OK) TQCryptMemFree(subject);
    TQXCRYPT_HANDLE *key = nullptr;
    if (TQXCrypt_CertReqGetPublicKey(request, &key) == TQ_RTN_OK) {
        TQXCrypt_KeySize(key);
        TQXCrypt_VerifyObject(request, key, 0);
        TQXCryptFreeHandle(key);
    }
    // A caller's buffer too small for any digest learns the size it needs,
    // and one of that size takes the digest.
    unsigned char small[8];
    TQXCRYPT_BLOB fixed{sizeof small, small};
    const int rc = TQXCrypt_CertReqGetHash(request, selector, &fixed);
    if (rc == TQ_RTN_OK) __builtin_trap();
    if (rc != TQ_RTN_BUFFER_TOO_SMALL) return;
    std::vector<unsigned char> room(fixed.length);
    TQXCRYPT_BLOB exact{room.size(), room.data()};
    if (TQXCrypt_CertReqGetHash(request, selector, &exact) != TQ_RTN_OK || exact.length != room.size())
        __builtin_trap();
}

void signOutside(const Signer &signer, TQXCRYPT_HANDLE *request, int selector) {
    TQXCRYPT_BLOB digest{0, nullptr}, signature{0, nullptr};
    if (TQXCrypt_CertReqGetHash(request, selector, &digest) == TQ_RTN_OK &&
        TQXCrypt_PureSign(signer.key, digest.data, digest.length, selector, &signature) == TQ_RTN_OK) {
        if (TQXCrypt_CertReqSetSignature(request, signature.data, static_cast<int>(signature.length),
                                         selector) != TQ_RTN_OK ||
            TQXCrypt_VerifyObject(request, signer.publicKey, 0) != TQ_RTN_OK)
            __builtin_trap();
    }
    TQXCryptFreeBlob(&digest);
    TQXCryptFreeBlob(&signature);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    static const Signer signer;
    if (size < 1) return 0;
    const int flags = (data[0] & 1) ? TQXCRYPT_DECODE_TEXT : 0;
    const int selector = (data[0] >> 1) & TQXCRYPT_HASH_MASK;
    const std::vector<unsigned char> body(data + 1, data + size);
    TQXCRYPT_HANDLE *request = nullptr;
    if (TQXCrypt_DecodeObject(&request, TQXCRYPT_KIND_CERTREQUEST, body.data(), body.size(), flags,
                              nullptr) != TQ_RTN_OK)
        return 0;
    read(request, selector);
    if (TQXCrypt_SignObject(request, signer.key, selector) == TQ_RTN_OK &&
        TQXCrypt_VerifyObject(request, signer.publicKey, 0) != TQ_RTN_OK)
        __builtin_trap();
    signOutside(signer, request, selector);
    TQXCryptFreeHandle(request);
    return 0;
}

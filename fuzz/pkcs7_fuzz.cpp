// PKCS#7 messages from untrusted bytes: the accessors, signature verification
// against a store and envelope decryption. The first byte chooses the flags.
#include <vector>

#include "fixture_files.h"
#include "tqxcrypt.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_store.h"

namespace {

struct Peers {
    TQXCRYPT_HANDLE *store = nullptr, *recipient = nullptr, *key = nullptr;
    Peers() {
        if (TQXCrypt_LoadStore(&store, fuzz::fixtureText("objects/ca.pem").c_str(), nullptr) != TQ_RTN_OK)
            std::abort();
        recipient = fuzz::fixtureObject(TQXCRYPT_KIND_CERTIFICATE, "objects/user.der");
        key = fuzz::fixtureObject(TQXCRYPT_KIND_PRIVATEKEY, "objects/user.rsa.der");
    }
};

const Peers &peers() {
    static Peers p;
    return p;
}

void release(TQXCRYPT_HANDLE *&h) {
    TQXCryptFreeHandle(h);
    h = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size < 1) return 0;
    const Peers &p = peers();
    int flags = data[0] & (TQXCRYPT_VERIFY_CHAIN | TQXCRYPT_VERIFY_CRL);
    std::vector<unsigned char> der(data + 1, data + size);

    TQXCRYPT_BLOB plain{0, nullptr};
    TQXCrypt_Decrypt(p.recipient, p.key, der.data(), der.size(), 0, &plain);
    TQXCryptFreeBlob(&plain);

    TQXCRYPT_HANDLE *message = nullptr;
    if (TQXCrypt_DecodeObject(&message, TQXCRYPT_KIND_PKCS7, der.data(), der.size(), 0, nullptr) != TQ_RTN_OK)
        return 0;
    int32_t count = 0;
    TQXCRYPT_HANDLE *h = nullptr;
    if (TQXCrypt_PKCS7GetSignerInfoCount(message, &count) == TQ_RTN_OK)
        for (int32_t i = 0; i < count && i < 4; ++i) {
            if (TQXCrypt_PKCS7GetSignerInfo(message, i, &h) == TQ_RTN_OK) release(h);
            if (TQXCrypt_PKCS7GetSignerCertificate(message, i, &h) == TQ_RTN_OK) release(h);
        }
    if (TQXCrypt_PKCS7GetCertificateCount(message, &count) == TQ_RTN_OK)
        for (int32_t i = 0; i < count && i < 4; ++i)
            if (TQXCrypt_PKCS7GetCertificate(message, i, &h) == TQ_RTN_OK) release(h);
    TQXCRYPT_HANDLE *leaf = nullptr, **others = nullptr;
    if (TQXCrypt_PKCS7GetCertificates(message, &leaf, &others, &count) == TQ_RTN_OK) {
        release(leaf);
        for (int32_t i = 0; i < count; ++i) TQXCryptFreeHandle(others[i]);
        TQCryptMemFree(others);
    }
    if (TQXCrypt_PKCS7GetUserCertificate(message, &h) == TQ_RTN_OK) release(h);
    if (TQXCrypt_PKCS7GetCertChain(message, &h) == TQ_RTN_OK) release(h);
    TQXCRYPT_BLOB content{0, nullptr};
    TQXCrypt_PKCS7GetContent(message, &content);
    TQXCryptFreeBlob(&content);

    TQXCRYPT_HANDLE *signerInfo = nullptr, *signer = nullptr;
    TQXCrypt_Verify(p.store, message, nullptr, 0, nullptr, 0, flags, 0, &signerInfo, &signer);
    TQXCryptFreeHandle(signerInfo);
    TQXCryptFreeHandle(signer);
    TQXCryptFreeHandle(message);
    return 0;
}

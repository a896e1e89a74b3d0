// PKCS#12 from untrusted bytes: decoding, unpacking with a password the first
// byte chooses (bits 0-1), and every key and certificate taken out. With bit
// 2 the rest is the content of the authenticated safe, put into a file with
// a MAC under that password, so that mutations reach the safes and the bag
// routing; without it the rest is the whole file, MAC and all.
#include "pfx_wrap.h"
#include "tqxcrypt.h"
#include "tqxcrypt_containers.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size < 1) return 0;
    static const char *const kPasswords[] = {nullptr, "", "secret", "wrong"};
    const char *password = kPasswords[data[0] & 3];
    const fuzz::Bytes body =
        (data[0] & 4) ? fuzz::macedPfx(data + 1, size - 1, password) : fuzz::Bytes(data + 1, data + size);
    TQXCRYPT_HANDLE *p12 = nullptr;
    if (TQXCrypt_DecodeObject(&p12, TQXCRYPT_KIND_PKCS12, body.data(), body.size(), 0, nullptr) != 0)
        return 0;
    // Twice: unpacking again replaces the contents.
    for (int round = 0; round < 2; ++round) {
        if (TQXCrypt_P12Unpack(p12, password, 0) != 0) break;
        int keys = 0, ca = 0, user = 0;
        if (TQXCrypt_P12GetPrivateKeyCount(p12, 0, &keys) != 0 ||
            TQXCrypt_P12GetCACertificateCount(p12, 0, &ca) != 0 ||
            TQXCrypt_P12GetUserCertificateCount(p12, 0, &user) != 0)
            __builtin_trap();
        for (int i = -1; i <= keys; ++i) {
            TQXCRYPT_HANDLE *key = nullptr;
            if (TQXCrypt_P12GetPrivateKey(p12, i, 0, &key) == 0) {
                TQXCrypt_KeySize(key);
                TQXCryptFreeHandle(key);
            }
        }
        for (int i = -1; i <= ca || i <= user; ++i) {
            TQXCRYPT_HANDLE *cert = nullptr;
            if (TQXCrypt_P12GetCACertificate(p12, i, 0, &cert) == 0) TQXCryptFreeHandle(cert);
            cert = nullptr;
            if (TQXCrypt_P12GetUserCertificate(p12, i, 0, &cert) == 0) TQXCryptFreeHandle(cert);
        }
    }
    TQXCryptFreeHandle(p12);
    return 0;
}

// PKCS#8 from untrusted bytes: bit 0 of the first byte chooses encrypted
// (decrypted with the password of bit 1) or plain key info; what opens is
// converted to a key and back.
#include <vector>

#include "tqxcrypt.h"
#include "tqxcrypt_containers.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size < 1) return 0;
    const bool encrypted = data[0] & 1;
    const char *password = (data[0] & 2) ? "secret" : "wrong";
    std::vector<unsigned char> body(data + 1, data + size);
    TQXCRYPT_HANDLE *in = nullptr, *info = nullptr, *key = nullptr, *again = nullptr;
    if (TQXCrypt_DecodeObject(&in, encrypted ? TQXCRYPT_KIND_PKCS8 : TQXCRYPT_KIND_PKCS8INFO, body.data(),
                              body.size(), 0, nullptr) != 0)
        return 0;
    if (encrypted) {
        if (TQXCrypt_PKCS8Decrypt(in, password, 0, &info) != 0) info = nullptr;
    } else {
        info = in;
        in = nullptr;
    }
    if (info && TQXCrypt_PKCS8InfoToPrivateKey(info, 0, &key) == 0) {
        if (TQXCrypt_PrivateKeyToPKCS8Info(key, 0, &again) == 0) TQXCryptFreeHandle(again);
        TQXCryptFreeHandle(key);
    }
    TQXCryptFreeHandle(info);
    TQXCryptFreeHandle(in);
    return 0;
}

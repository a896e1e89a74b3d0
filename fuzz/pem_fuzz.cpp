// PEM armour with label lists.
#include <vector>

#include "tqxcrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    std::vector<char> text(data, data + size);
    for (const char *labels : {"CERTIFICATE;X509 CERTIFICATE", "X509 CRL", "PKCS7;RSA PRIVATE KEY;"}) {
        TQXCRYPT_BLOB out{0, nullptr};
        TQXCrypt_Decode(text.data(), text.size(), &out, labels);
        TQXCryptFreeBlob(&out);
        std::vector<unsigned char> small(64);
        TQXCRYPT_BLOB fixed{small.size(), small.data()};
        TQXCrypt_Decode(text.data(), text.size(), &fixed, labels);
    }
    return 0;
}

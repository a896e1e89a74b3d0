// Subject and issuer rule texts against a fixed certificate.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tqxcrypt.h"
#include "tqxcrypt_store.h"

namespace {

TQXCRYPT_HANDLE *certificate() {
    static TQXCRYPT_HANDLE *cert = [] {
        const char *dir = std::getenv("TQ_FIXTURES");
        std::string path = std::string(dir ? dir : ".") + "/objects/user.der";
        std::vector<unsigned char> der;
        if (FILE *f = std::fopen(path.c_str(), "rb")) {
            int c;
            while ((c = std::fgetc(f)) != EOF) der.push_back(static_cast<unsigned char>(c));
            std::fclose(f);
        }
        TQXCRYPT_HANDLE *h = nullptr;
        if (TQXCrypt_DecodeObject(&h, TQXCRYPT_KIND_CERTIFICATE, der.data(), der.size(), 0, nullptr) !=
            TQ_RTN_OK)
            std::abort();
        return h;
    }();
    return cert;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    size_t split = text.find('\0');
    std::string subject = text.substr(0, split);
    std::string issuer = split == std::string::npos ? std::string() : text.substr(split + 1);
    for (int flags : {0, TQXCRYPT_MATCH_PREFIX | TQXCRYPT_VALIDATE_TIME})
        TQXCrypt_ValidateCertificateEx(certificate(), subject.c_str(),
                                       issuer.empty() ? nullptr : issuer.c_str(), flags);
    TQXCrypt_ValidateCertificate(certificate(), subject.c_str(), 0);
    return 0;
}

// Subject and issuer rule texts against a fixed certificate.
#include <string>

#include "fixture_files.h"
#include "tqxcrypt.h"
#include "tqxcrypt_store.h"

namespace {

TQXCRYPT_HANDLE *certificate() {
    static TQXCRYPT_HANDLE *const cert = fuzz::fixtureObject(TQXCRYPT_KIND_CERTIFICATE, "objects/user.der");
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

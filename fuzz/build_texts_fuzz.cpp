// Untrusted texts through the builders' readers. The first byte chooses: 0
// DN text, 1 general-name text, 2 time text (as notBefore), 3 a whole
// extension by the type the second byte picks.
#include <cstring>
#include <string>

#include <openssl/x509v3.h>

#include "tqxcrypt_build.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    static bool started = (TQXCryptInitialize(), true);
    (void)started;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    text = text.c_str();  // a C string ends at its first NUL
    switch (data[0] % 4) {
    case 0:
        X509_NAME_free(tqxCrypt_GetX509Name(text.c_str()));
        break;
    case 1:
        GENERAL_NAMES_free(tqxCrypt_GetGeneralName(text.c_str()));
        break;
    case 2: {
        TQXCRYPT_HANDLE *cert = nullptr;
        if (TQXCrypt_CreateCertificate(&cert) != 0) return 0;
        TQXCrypt_CertSetNotBefore(cert, text.c_str());
        TQXCrypt_CertSetSerialNumber(cert, text.c_str());
        TQXCryptFreeHandle(cert);
        break;
    }
    default: {
        static const char *const kTextTypes[] = {"subjectAltName", "issuerAltName", "basicConstraints",
                                                 "crlDistributionPoints"};
        if (text.empty()) return 0;
        TQXCRYPT_HANDLE *cert = nullptr;
        if (TQXCrypt_CreateCertificate(&cert) != 0) return 0;
        const char *type = kTextTypes[static_cast<unsigned char>(text[0]) % 4];
        TQXCrypt_CertSetExtension(cert, type, text.c_str() + 1, text[0] & 0x10);
        TQXCRYPT_AUTHORITY_KEY_ID_VALUE akid{nullptr, text.c_str() + 1, text.c_str() + 1};
        TQXCrypt_CertSetExtension(cert, "authorityKeyIdentifier", &akid, 0);
        TQXCrypt_CertSetOIDExtension(cert, "1.2.3.4", text.c_str() + 1, 0);
        TQXCryptFreeHandle(cert);
    }
    }
    return 0;
}

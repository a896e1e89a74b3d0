// PEM lists of certificates and CRLs into a trust store.
#include <string>

#include "tqxcrypt.h"
#include "tqxcrypt_store.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    // A zero byte splits the input into the certificate and the CRL text.
    std::string text(reinterpret_cast<const char *>(data), size);
    size_t split = text.find('\0');
    std::string certificates = text.substr(0, split);
    std::string crls = split == std::string::npos ? std::string() : text.substr(split + 1);
    TQXCRYPT_HANDLE *store = nullptr;
    int rc = TQXCrypt_LoadStore(&store, certificates.c_str(), crls.empty() ? nullptr : crls.c_str());
    if (rc != TQ_RTN_OK && store) __builtin_trap();  // a failed load leaves nothing behind
    TQXCryptFreeHandle(store);
    return 0;
}

// A serial number text and a hostile DER CRL, split at the first NUL: the
// CRL through sorting, both lookups, every entry by index and the extension
// reader.
#include <cstring>
#include <string>

#include "tqxcrypt_crl.h"

namespace {

// The lookup by text and the lookup by a certificate of the serial the text
// sets answer alike, in a CRL as decoded and as sorted.
void lookUp(TQXCRYPT_HANDLE *crl, const char *serial) {
    TQXCRYPT_HANDLE *cert = nullptr;
    if (TQXCrypt_CreateCertificate(&cert) != TQ_RTN_OK) return;
    const bool set = TQXCrypt_CertSetSerialNumber(cert, serial) == TQ_RTN_OK;
    char byText[TQXCRYPT_TIME_TEXT_SIZE], byCert[TQXCRYPT_TIME_TEXT_SIZE];
    int textStatus = -1, certStatus = -1;
    const int textRc = TQXCrypt_CRLGetRevoked(crl, serial, byText, &textStatus, 0);
    if (set) {
        const int certRc = TQXCrypt_CRLGetCertRevoked(crl, cert, byCert, &certStatus, 0);
        if (certRc != textRc || certStatus != textStatus ||
            (textRc == TQ_RTN_OK && std::strcmp(byText, byCert) != 0))
            __builtin_trap();
    }
    TQXCryptFreeHandle(cert);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool started = (TQXCryptInitialize(), true);
    (void)started;
    const uint8_t *end = static_cast<const uint8_t *>(std::memchr(data, 0, size));
    if (!end) return 0;
    const std::string serial(reinterpret_cast<const char *>(data), static_cast<size_t>(end - data));
    TQXCRYPT_HANDLE *crl = nullptr;
    if (TQXCrypt_DecodeObject(&crl, TQXCRYPT_KIND_CRL, end + 1, size - static_cast<size_t>(end + 1 - data), 0,
                              nullptr) != 0)
        return 0;
    char date[TQXCRYPT_TIME_TEXT_SIZE];
    int count = 0;
    for (int pass = 0; pass < 2; ++pass) {
        lookUp(crl, serial.c_str());
        TQXCrypt_CRLSortRevoked(crl, 0);
    }
    TQXCrypt_CRLGetRevokedCount(crl, &count);
    for (int i = -1; i <= count; ++i) {
        TQXCRYPT_BLOB serial{0, nullptr};
        unsigned char small[2];
        TQXCRYPT_BLOB shortBlob{sizeof small, small};
        int reason = 0;
        if (TQXCrypt_CRLGetRevokedInfo(crl, i, &serial, date, &reason) == 0) TQXCryptFreeBlob(&serial);
        TQXCrypt_CRLGetRevokedInfo(crl, i, &shortBlob, date, &reason);
    }
    // The value record each decoder fills: a list or a blob.
    const struct {
        const char *type;
        bool list;
    } kinds[] = {{"crlNumber", false}, {"authorityKeyIdentifier", true}, {"issuerAltName", true},
                 {"deltaCRL", false},  {"freshestCRL", false},           {"2.5.29.46", false}};
    for (const auto &k : kinds) {
        TQXCRYPT_ATTRIBUTES list{0, nullptr};
        TQXCRYPT_BLOB blob{0, nullptr};
        int critical = 0;
        TQXCrypt_CRLGetExtension(crl, k.type, 0, k.list ? static_cast<void *>(&list) : &blob, &critical);
        TQXCryptFreeAttributes(&list);
        TQXCryptFreeBlob(&blob);
    }
    char *issuer = nullptr;
    if (TQXCrypt_CRLGetIssuer(crl, 0, &issuer) == 0) TQCryptMemFree(issuer);
    TQXCrypt_CRLGetLastUpdate(crl, 0, date);
    TQXCrypt_CRLGetNextUpdate(crl, 0, date);
    TQXCryptFreeHandle(crl);
    return 0;
}

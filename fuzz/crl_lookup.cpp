// A hostile DER CRL through sorting, both lookups, every entry by index and
// the extension reader.
#include <cstring>

#include "tqxcrypt_crl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool started = (TQXCryptInitialize(), true);
    (void)started;
    static TQXCRYPT_HANDLE *cert = [] {
        TQXCRYPT_HANDLE *h = nullptr;
        TQXCrypt_CreateCertificate(&h);
        TQXCrypt_CertSetSerialNumber(h, "0102");
        return h;
    }();
    TQXCRYPT_HANDLE *crl = nullptr;
    if (TQXCrypt_DecodeObject(&crl, TQXCRYPT_KIND_CRL, data, size, 0, nullptr) != 0) return 0;
    char date[TQXCRYPT_TIME_TEXT_SIZE];
    int status = 0, count = 0;
    for (int pass = 0; pass < 2; ++pass) {
        TQXCrypt_CRLGetRevoked(crl, "01", date, &status, 0);
        TQXCrypt_CRLGetCertRevoked(crl, cert, date, &status, 0);
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

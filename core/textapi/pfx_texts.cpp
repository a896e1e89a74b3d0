// One-call operations on a PKCS#12 file given as DER bytes.
#include "textapi_internal.h"

#include "tqxcrypt_containers.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_store.h"

namespace {

// What several calls take out of an unpacked file. Where the key is taken,
// a file without one fails even when the key is not used afterwards.
struct P12Parts {
    tq::HandlePtr p12, key, store, cert;

    int open(const unsigned char *der, size_t length, const char *password, bool withKey, bool withStore) {
        int rc = tq::unpackP12(der, length, password, p12);
        TQXCRYPT_HANDLE *made = nullptr;
        if (rc == TQ_RTN_OK && withKey) {
            rc = TQXCrypt_P12GetPrivateKey(p12.get(), 0, 0, &made);
            key.reset(made);
        }
        if (rc == TQ_RTN_OK && withStore) {
            made = nullptr;
            rc = TQXCrypt_LoadStore(&made, nullptr, nullptr);
            store.reset(made);
        }
        if (rc == TQ_RTN_OK) {
            made = nullptr;
            rc = TQXCrypt_P12GetUserCertificate(p12.get(), 0, 0, &made);
            cert.reset(made);
        }
        return rc;
    }
};

}  // namespace

extern "C" {

int TQCrypt_P12GetUserCertificateCount(const unsigned char *p12, size_t p12Length, const char *password,
                                       int *count) try {
    tq::ErrorQueueScope scope;
    if (!p12 || !count) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr file;
    int rc = tq::unpackP12(p12, p12Length, password, file);
    int found = 0;
    if (rc == TQ_RTN_OK) rc = TQXCrypt_P12GetUserCertificateCount(file.get(), 0, &found);
    if (rc == TQ_RTN_OK) *count = found;
    return rc;
}
TQ_CATCH_CODE

int TQCrypt_P12Sign(const unsigned char *p12, size_t p12Length, const char *password,
                    const unsigned char *data, size_t dataLength, int flags, int, int hashSelector,
                    char **signature) try {
    tq::ErrorQueueScope scope;
    if (!p12 || !data || !signature) return TQ_RTN_BAD_ARGUMENT;
    P12Parts parts;
    int rc = parts.open(p12, p12Length, password, true, true);
    TQXCRYPT_HANDLE *made = nullptr;
    if (rc == TQ_RTN_OK)
        rc = TQXCrypt_Sign(parts.cert.get(), parts.key.get(), parts.store.get(), data, dataLength, flags,
                           hashSelector, &made);
    tq::HandlePtr pkcs7(made);
    if (rc == TQ_RTN_OK) rc = tq::handOutBase64(pkcs7.get(), TQXCRYPT_KIND_PKCS7, signature);
    return rc;
}
TQ_CATCH_CODE

int TQCrypt_FiltrateP12(const unsigned char *p12, size_t p12Length, const char *password,
                        unsigned char **filtered, uint64_t *filteredLength) try {
    tq::ErrorQueueScope scope;
    if (!p12 || !filtered || !filteredLength) return TQ_RTN_BAD_ARGUMENT;
    P12Parts parts;
    int rc = parts.open(p12, p12Length, password, true, false);
    unsigned char *der = nullptr;
    uint64_t length = 0;
    if (rc == TQ_RTN_OK)
        rc = TQXCrypt_ExportPKCS12(parts.key.get(), parts.cert.get(), nullptr, 0, &der, &length, password);
    if (rc != TQ_RTN_OK) {
        TQCryptMemFree(der);
        return rc;
    }
    *filtered = der;
    *filteredLength = length;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

// The subject rule only: an expired certificate still passes.
int TQCrypt_CheckPFX(const unsigned char *p12, size_t p12Length, const char *password,
                     const char *subjectRule, int, int) try {
    tq::ErrorQueueScope scope;
    if (!p12) return TQ_RTN_BAD_ARGUMENT;
    P12Parts parts;
    int rc = parts.open(p12, p12Length, password, false, false);
    if (rc == TQ_RTN_OK) rc = TQXCrypt_ValidateCertificate(parts.cert.get(), subjectRule, -1);
    return rc;
}
TQ_CATCH_CODE

int TQCrypt_P12XGetUserCertificate(const unsigned char *p12, size_t p12Length, const char *password,
                                   TQXCRYPT_BLOB *certificate) try {
    tq::ErrorQueueScope scope;
    if (!p12 || !certificate) return TQ_RTN_BAD_ARGUMENT;
    P12Parts parts;
    int rc = parts.open(p12, p12Length, password, true, true);
    if (rc == TQ_RTN_OK)
        rc = TQXCrypt_EncodeObject(parts.cert.get(), TQXCRYPT_KIND_CERTIFICATE, certificate,
                                   TQXCRYPT_ENCODE_TEXT, nullptr);
    return rc;
}
TQ_CATCH_CODE

}  // extern "C"

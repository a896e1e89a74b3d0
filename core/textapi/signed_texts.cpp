// Signing and verifying PKCS#7 signed data given as texts.
#include "textapi_internal.h"

#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_x509.h"

namespace {

// The detached signed-data of a certificate text and a signer-info text.
int composed(const char *certificate, const char *signerInfo, int flags, tq::HandlePtr &message) {
    tq::HandlePtr cert, info;
    int rc = tq::decodeText(certificate, TQXCRYPT_KIND_CERTIFICATE, nullptr, cert);
    if (rc == TQ_RTN_OK) rc = tq::decodeText(signerInfo, TQXCRYPT_KIND_SIGNERINFO, nullptr, info);
    TQXCRYPT_HANDLE *made = nullptr;
    if (rc == TQ_RTN_OK) rc = TQXCrypt_ComposeSignature(cert.get(), info.get(), flags, &made);
    message.reset(made);
    return rc;
}

}  // namespace

extern "C" {

int TQCrypt_Sign(const char *certificate, const char *privateKey, const char *password,
                 TQXCRYPT_HANDLE *store, const unsigned char *data, size_t dataLength, int flags,
                 int keyUsage, int hashSelector, char **signature) try {
    tq::ErrorQueueScope scope;
    if (!certificate || !privateKey || !data || !signature) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr cert, key, pkcs7;
    int rc = tq::decodeText(certificate, TQXCRYPT_KIND_CERTIFICATE, nullptr, cert);
    if (rc == TQ_RTN_OK) rc = tq::keyUsageGate(cert.get(), keyUsage);
    if (rc == TQ_RTN_OK) rc = tq::decodeText(privateKey, TQXCRYPT_KIND_PRIVATEKEY, password, key);
    TQXCRYPT_HANDLE *made = nullptr;
    if (rc == TQ_RTN_OK)
        rc = TQXCrypt_Sign(cert.get(), key.get(), store, data, dataLength, flags, hashSelector, &made);
    pkcs7.reset(made);
    if (rc == TQ_RTN_OK) rc = tq::handOutBase64(pkcs7.get(), TQXCRYPT_KIND_PKCS7, signature);
    return rc;
}
TQ_CATCH_CODE

int TQCrypt_Verify(TQXCRYPT_HANDLE *store, const char *pkcs7, const unsigned char *data, size_t dataLength,
                   const char *subjectRule, int flags, int keyUsage, time_t checkTime, char **signerInfo,
                   char **signerCertificate) try {
    tq::ErrorQueueScope scope;
    // No store: the signature alone is checked, as the handle API does.
    if (!pkcs7) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr message, info, cert;
    int rc = tq::decodeText(pkcs7, TQXCRYPT_KIND_PKCS7, nullptr, message);
    TQXCRYPT_HANDLE *madeInfo = nullptr, *madeCert = nullptr;
    // The signer certificate is always taken: the gate reads it.
    if (rc == TQ_RTN_OK)
        rc = TQXCrypt_Verify(store, message.get(), data, dataLength, subjectRule, 0, flags, checkTime,
                             signerInfo ? &madeInfo : nullptr, &madeCert);
    info.reset(madeInfo);
    cert.reset(madeCert);
    if (rc == TQ_RTN_OK) rc = tq::keyUsageGate(cert.get(), keyUsage);
    char *infoText = nullptr, *certText = nullptr;
    if (rc == TQ_RTN_OK && signerInfo)
        rc = tq::handOutBase64(info.get(), TQXCRYPT_KIND_SIGNERINFO, &infoText);
    if (rc == TQ_RTN_OK && signerCertificate)
        rc = tq::handOutBase64(cert.get(), TQXCRYPT_KIND_CERTIFICATE, &certText);
    if (rc != TQ_RTN_OK) {
        TQCryptMemFree(infoText);
        return rc;
    }
    if (signerInfo) *signerInfo = infoText;
    if (signerCertificate) *signerCertificate = certText;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQCrypt_ComposeSignature(const char *certificate, const char *signerInfo, int flags, char **pkcs7) try {
    tq::ErrorQueueScope scope;
    if (!certificate || !signerInfo || !pkcs7) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr message;
    int rc = composed(certificate, signerInfo, flags, message);
    if (rc == TQ_RTN_OK) rc = tq::handOutBase64(message.get(), TQXCRYPT_KIND_PKCS7, pkcs7);
    return rc;
}
TQ_CATCH_CODE

int TQCrypt_VerifyDigest(TQXCRYPT_HANDLE *store, const char *certificate, const char *signerInfo,
                         const unsigned char *data, size_t dataLength, const char *subjectRule, int flags,
                         time_t checkTime) try {
    tq::ErrorQueueScope scope;
    if (!certificate || !signerInfo || !data) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr message;
    int rc = composed(certificate, signerInfo, flags, message);
    if (rc == TQ_RTN_OK)
        rc = TQXCrypt_Verify(store, message.get(), data, dataLength, subjectRule, 0,
                             flags | TQXCRYPT_DETACHED, checkTime, nullptr, nullptr);
    return rc;
}
TQ_CATCH_CODE

int TQCrypt_PKCS7GetUserCertificate(const char *pkcs7, char **certificate) try {
    tq::ErrorQueueScope scope;
    if (!pkcs7 || !certificate) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr message, cert;
    int rc = tq::decodeText(pkcs7, TQXCRYPT_KIND_PKCS7, nullptr, message);
    TQXCRYPT_HANDLE *made = nullptr;
    if (rc == TQ_RTN_OK) rc = TQXCrypt_PKCS7GetUserCertificate(message.get(), &made);
    cert.reset(made);
    if (rc == TQ_RTN_OK) rc = tq::handOutBase64(cert.get(), TQXCRYPT_KIND_CERTIFICATE, certificate);
    return rc;
}
TQ_CATCH_CODE

int TQCrypt_SignatureGetAlgorithm(const char *pkcs7, int handedOn, int index, char **name) try {
    tq::ErrorQueueScope scope;
    if (!pkcs7 || !name) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr message;
    int rc = tq::decodeText(pkcs7, TQXCRYPT_KIND_PKCS7, nullptr, message);
    char *made = nullptr;
    if (rc == TQ_RTN_OK) rc = TQXCrypt_SignatureGetAlgorithm(message.get(), handedOn, index, &made);
    if (rc != TQ_RTN_OK) {
        TQCryptMemFree(made);
        return rc;
    }
    *name = made;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

// PKCS#7 enveloped data to and from texts.
#include "textapi_internal.h"

#include "tqxcrypt_pkcs7.h"

extern "C" {

int TQCrypt_CertEncrypt(const char *certificate, const unsigned char *data, size_t dataLength, int cipher,
                        int keyUsage, char **envelope) try {
    tq::ErrorQueueScope scope;
    if (!certificate || !data || !envelope) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr cert;
    tq::OwnedBlob der;
    int rc = tq::decodeText(certificate, TQXCRYPT_KIND_CERTIFICATE, nullptr, cert);
    if (rc == TQ_RTN_OK) rc = tq::keyUsageGate(cert.get(), keyUsage);
    if (rc == TQ_RTN_OK) rc = TQXCrypt_Encrypt(cert.get(), data, dataLength, cipher, der.get());
    if (rc == TQ_RTN_OK) rc = tq::handOutBase64(der.data(), der.size(), envelope);
    return rc;
}
TQ_CATCH_CODE

int TQCrypt_CertDecrypt(const char *certificate, const char *privateKey, const char *password,
                        const char *envelope, int flags, int keyUsage, unsigned char **data,
                        uint64_t *dataLength) try {
    tq::ErrorQueueScope scope;
    if (!certificate || !privateKey || !envelope || !data) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr cert, key;
    tq::OwnedBlob der;
    int rc = tq::decodeText(certificate, TQXCRYPT_KIND_CERTIFICATE, nullptr, cert);
    if (rc == TQ_RTN_OK) rc = tq::decodeText(privateKey, TQXCRYPT_KIND_PRIVATEKEY, password, key);
    if (rc == TQ_RTN_OK) rc = TQXCrypt_Decode(envelope, std::strlen(envelope), der.get(), nullptr);
    if (rc == TQ_RTN_OK) rc = tq::keyUsageGate(cert.get(), keyUsage);
    tq::SecretBlob plain;
    if (rc == TQ_RTN_OK)
        rc = TQXCrypt_Decrypt(cert.get(), key.get(), der.data(), der.size(), flags, plain.get());
    if (rc != TQ_RTN_OK) return rc;
    if (dataLength) *dataLength = plain.size();
    *data = plain.release();
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

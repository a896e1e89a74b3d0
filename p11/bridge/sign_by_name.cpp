// Signing and decrypting with a token key found by name: the certificate
// and the private key are looked up by the same label or the same CKA_ID,
// and the crypto core does the rest through the token RSA method.
#include <cstring>

#include "bridge_internal.h"
#include "tqp11certs.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"

namespace {

// Signed-data as Base64 text of its DER.
int signToText(TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *key, TQXCRYPT_HANDLE *store, const void *data,
               size_t length, int options, int hashFlags, char **text) {
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXCrypt_Sign(certificate, key, store, static_cast<const unsigned char *>(data), length, options,
                           hashFlags, &made);
    tq::HandlePtr pkcs7(made);
    if (rc != TQ_RTN_OK) return rc;
    tq::OwnedBlob encoded;
    rc =
        TQXCrypt_EncodeObject(pkcs7.get(), TQXCRYPT_KIND_PKCS7, encoded.get(), TQXCRYPT_ENCODE_TEXT, nullptr);
    if (rc != TQ_RTN_OK) return rc;
    return tqbridge::handOver(encoded.get(), text);
}

// The certificate and the private key of one name.
int identity(TQXP11_SESSION *session, const char *name, int flags, tq::HandlePtr &certificate,
             tq::HandlePtr &key) {
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXP11Crypt_ReadCertificate(session, name, flags, &made);
    certificate.reset(made);
    if (rc != TQ_RTN_OK) return rc;
    made = nullptr;
    rc = TQXP11Crypt_GetPrivateKey(session, name, flags, &made);
    key.reset(made);
    return rc;
}

}  // namespace

extern "C" {

TQ_API int TQP11_Sign(TQXP11_SESSION *session, const char *name, TQXCRYPT_HANDLE *store, const void *data,
                      size_t length, int flags, int hashFlags, char **text) try {
    tq::ErrorQueueScope scope;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr certificate, key;
    int rc = identity(session, name, flags, certificate, key);
    if (rc != TQ_RTN_OK) return rc;
    return signToText(certificate.get(), key.get(), store, data, length, flags, hashFlags, text);
}
TQ_CATCH_CODE

TQ_API int TQP11_SignByCertString(TQXP11_SESSION *session, const char *certText, const char *keyLabel,
                                  TQXCRYPT_HANDLE *store, const void *data, size_t length, int options,
                                  int hashFlags, char **text) try {
    tq::ErrorQueueScope scope;
    if (!certText || !*certText || !text) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXCrypt_DecodeObject(&made, TQXCRYPT_KIND_CERTIFICATE,
                                   reinterpret_cast<const unsigned char *>(certText), std::strlen(certText),
                                   TQXCRYPT_DECODE_TEXT, nullptr);
    tq::HandlePtr certificate(made);
    if (rc != TQ_RTN_OK) return rc;
    made = nullptr;
    rc = TQXP11Crypt_GetPrivateKeyWithCKALabel(session, keyLabel, 0, &made);
    tq::HandlePtr key(made);
    if (rc != TQ_RTN_OK) return rc;
    return signToText(certificate.get(), key.get(), store, data, length, options, hashFlags, text);
}
TQ_CATCH_CODE

TQ_API int TQP11_SignUpdate(TQXCRYPT_HANDLE *store, TQXCRYPT_HANDLE *certificate, TQXCRYPT_HANDLE *key,
                            const void *data, size_t length, int options, int hashFlags, char **text) try {
    tq::ErrorQueueScope scope;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    return signToText(certificate, key, store, data, length, options, hashFlags, text);
}
TQ_CATCH_CODE

TQ_API int TQP11_PureSign(TQXP11_SESSION *session, const char *label, const void *data, size_t length,
                          int flags, char **text) try {
    tq::ErrorQueueScope scope;
    if (!session || !text) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXP11Crypt_GetPrivateKeyWithCKALabel(session, label, 0, &made);
    tq::HandlePtr key(made);
    if (rc != TQ_RTN_OK) return rc;
    tq::OwnedBlob signature, encoded;
    rc = TQXCrypt_PureSign(key.get(), static_cast<const unsigned char *>(data), length, flags,
                           signature.get());
    if (rc != TQ_RTN_OK) return rc;
    rc = TQXCrypt_Encode(signature.data(), signature.size(), encoded.get(), nullptr);
    if (rc != TQ_RTN_OK) return rc;
    return tqbridge::handOver(encoded.get(), text);
}
TQ_CATCH_CODE

TQ_API int TQP11_Decrypt(TQXP11_SESSION *session, const char *name, const char *text, int flags, char **plain,
                         int *plainLength) try {
    tq::ErrorQueueScope scope;
    if (!text || !plain) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr certificate, key;
    int rc = identity(session, name, flags, certificate, key);
    if (rc != TQ_RTN_OK) return rc;
    tq::OwnedBlob der;
    rc = TQXCrypt_Decode(text, std::strlen(text), der.get(), nullptr);
    if (rc != TQ_RTN_OK) return rc;
    tq::SecretBlob content;
    rc = TQXCrypt_Decrypt(certificate.get(), key.get(), der.data(), der.size(), flags, content.get());
    if (rc != TQ_RTN_OK) return rc;
    if (!tq::fitsInt(content.size())) return TQ_RTN_BAD_ARGUMENT;
    if (plainLength) *plainLength = static_cast<int>(content.size());
    return tqbridge::handOver(content.get(), plain);
}
TQ_CATCH_CODE

}  // extern "C"

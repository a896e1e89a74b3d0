// A PFX file written to the token: its private key with the public key, then
// its certificate, under one label and CKA_ID.
#include "bridge_internal.h"
#include "tqp11certs.h"
#include "tqxcrypt_containers.h"

extern "C" {

TQ_API int TQP11Crypt_WritePFX(TQXP11_SESSION *session, const void *pfx, int length, const char *password,
                               const char *label, const char *idText, int flags) try {
    tq::ErrorQueueScope scope;
    if (!pfx || length <= 0) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXCrypt_DecodeObject(&made, TQXCRYPT_KIND_PKCS12, static_cast<const unsigned char *>(pfx),
                                   static_cast<size_t>(length), 0, nullptr);
    tq::HandlePtr p12(made);
    if (rc == TQ_RTN_OK) rc = TQXCrypt_P12Unpack(p12.get(), password, 0);
    if (rc != TQ_RTN_OK) return rc;
    tq::HandlePtr key, certificate;
    made = nullptr;
    rc = TQXCrypt_P12GetPrivateKey(p12.get(), 0, 0, &made);
    key.reset(made);
    if (rc != TQ_RTN_OK) return rc;
    made = nullptr;
    rc = TQXCrypt_P12GetUserCertificate(p12.get(), 0, 0, &made);
    certificate.reset(made);
    if (rc != TQ_RTN_OK) return rc;
    if ((rc = tqbridge::writeRsaKey(session, key.get(), label, idText, flags, true)) != TQ_RTN_OK) return rc;
    return tqbridge::writeCertificate(session, certificate.get(), label, tqbridge::textBytes(idText), 0);
}
TQ_CATCH_CODE

}  // extern "C"

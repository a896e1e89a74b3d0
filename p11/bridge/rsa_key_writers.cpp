// RSA keys written to the token by name from key handles and key texts: the
// private key with its public key, or the public key alone.
#include <cstdio>
#include <cstring>

#include "bridge_internal.h"
#include "tqp11certs.h"
#include "tqxcrypt_containers.h"
#include "tqxcrypt_keys.h"

namespace tqbridge {

int writeRsaKey(TQXP11_SESSION *session, TQXCRYPT_HANDLE *key, const char *label, const char *idText,
                int flags, bool withPrivate) {
    if (!session) return TQ_RTN_BAD_ARGUMENT;
    TQXP11_OBJECT privateRecord{}, publicRecord{};
    int rc = tqbridge::namedRecord(label, TQXP11_KIND_RSA_PUBLIC, 0, &publicRecord);
    if (rc == TQ_RTN_OK && withPrivate)
        rc = tqbridge::namedRecord(label, TQXP11_KIND_RSA_PRIVATE, 1, &privateRecord);
    if (rc != TQ_RTN_OK) return rc;
    tq::OwnedBlob n, e;
    if ((rc = TQXCrypt_KeyModulus(key, n.get())) != TQ_RTN_OK ||
        (rc = TQXCrypt_KeyExponent(key, e.get())) != TQ_RTN_OK)
        return rc;
    const TQXP11_BYTES id = tqbridge::textBytes(idText);
    if (withPrivate) {
        tq::SecretBlob d, p, q, dp, dq, qinv;
        using Getter = int (*)(TQXCRYPT_HANDLE *, TQXCRYPT_BLOB *);
        const struct {
            Getter get;
            tq::SecretBlob *blob;
        } parts[] = {{TQXCrypt_KeyD, &d},     {TQXCrypt_KeyP, &p},     {TQXCrypt_KeyQ, &q},
                     {TQXCrypt_KeyDMP1, &dp}, {TQXCrypt_KeyDMQ1, &dq}, {TQXCrypt_KeyIQMP, &qinv}};
        for (const auto &part : parts)
            if ((rc = part.get(key, part.blob->get())) != TQ_RTN_OK) return rc;
        TQXP11_VALUE values{};
        TQXP11_RSA_PRIVATE_VALUE &v = values.rsaPrivate;
        v.id = id;
        v.modulus = tqbridge::bytesOf(n.data(), n.size());
        v.publicExponent = tqbridge::bytesOf(e.data(), e.size());
        v.privateExponent = tqbridge::bytesOf(d.data(), d.size());
        v.prime1 = tqbridge::bytesOf(p.data(), p.size());
        v.prime2 = tqbridge::bytesOf(q.data(), q.size());
        v.exponent1 = tqbridge::bytesOf(dp.data(), dp.size());
        v.exponent2 = tqbridge::bytesOf(dq.data(), dq.size());
        v.coefficient = tqbridge::bytesOf(qinv.data(), qinv.size());
        privateRecord.valueRecord = &values;
        if ((rc = TQXP11_WriteObject(session, &privateRecord, flags)) != TQ_RTN_OK) return rc;
    }
    TQXP11_VALUE values{};
    values.rsaPublic.id = id;
    values.rsaPublic.modulus = tqbridge::bytesOf(n.data(), n.size());
    values.rsaPublic.publicExponent = tqbridge::bytesOf(e.data(), e.size());
    publicRecord.valueRecord = &values;
    return TQXP11_WriteObject(session, &publicRecord, flags);
}

}  // namespace tqbridge

extern "C" {

TQ_API int TQP11Crypt_WriteRSAPrivateKey(TQXP11_SESSION *session, TQXCRYPT_HANDLE *key, const char *label,
                                         const char *idText, int flags) try {
    tq::ErrorQueueScope scope;
    return tqbridge::writeRsaKey(session, key, label, idText, flags, true);
}
TQ_CATCH_CODE

TQ_API int TQP11Crypt_WriteRSAPublicKey(TQXP11_SESSION *session, TQXCRYPT_HANDLE *key, const char *label,
                                        const char *idText, int flags) try {
    tq::ErrorQueueScope scope;
    return tqbridge::writeRsaKey(session, key, label, idText, flags, false);
}
TQ_CATCH_CODE

TQ_API int TQP11_WritePrivateKey(TQXP11_SESSION *session, const char *keyText, const char *label,
                                 const char *idText, const char *password, int flags) try {
    tq::ErrorQueueScope scope;
    if (!keyText || !*keyText) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXCrypt_DecodeObject(&made, TQXCRYPT_KIND_PRIVATEKEY,
                                   reinterpret_cast<const unsigned char *>(keyText), std::strlen(keyText),
                                   TQXCRYPT_DECODE_TEXT, password);
    tq::HandlePtr key(made);
    if (rc == TQ_RTN_INVALID_KEY) {
        std::puts("TQ_RTN_INVALID_KEY");
        std::fflush(stdout);
    }
    if (rc != TQ_RTN_OK) return rc;
    return tqbridge::writeRsaKey(session, key.get(), label, idText, flags, true);
}
TQ_CATCH_CODE

}  // extern "C"

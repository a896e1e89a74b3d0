// RSA key pairs generated on the token, handed back as key handles.
#include "bridge_internal.h"
#include "tqp11certs.h"

extern "C" {

TQ_API int TQXP11Crypt_GenerateKeyPair(TQXP11_SESSION *session, const char *privateLabel,
                                       const char *privateId, const char *publicLabel, const char *publicId,
                                       CK_ULONG modulusBits, int flags, TQXCRYPT_HANDLE **key) try {
    tq::ErrorQueueScope scope;
    if (!session || !privateLabel || !publicLabel || !key) return TQ_RTN_BAD_ARGUMENT;
    auto idOrDefault = [](const char *id) {
        return tqbridge::textBytes(id && *id ? id : TQXP11_DEFAULT_KEY_ID);
    };
    TQXP11_VALUE privateValue{}, publicValue{};
    privateValue.rsaPrivate.id = idOrDefault(privateId);
    publicValue.rsaPublic.id = idOrDefault(publicId);
    publicValue.rsaPublic.modulusBits = modulusBits;
    TQXP11_OBJECT privateRecord = tqbridge::searchRecord(privateLabel, TQXP11_KIND_RSA_PRIVATE, true);
    TQXP11_OBJECT publicRecord = tqbridge::searchRecord(publicLabel, TQXP11_KIND_RSA_PUBLIC, false);
    privateRecord.valueRecord = &privateValue;
    publicRecord.valueRecord = &publicValue;
    int rc = TQXP11_GenerateKeyPairObject(session, &publicRecord, &privateRecord, flags);
    if (rc != TQ_RTN_OK) return rc;
    return TQXP11Crypt_GetPrivateKey(session, privateLabel, 0, key);
}
TQ_CATCH_CODE

}  // extern "C"

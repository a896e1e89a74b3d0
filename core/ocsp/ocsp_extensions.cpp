// Extensions of requests by dotted identifier: adding them to the request or
// to its first single request.
#include "ocsp_internal.h"

namespace tq {

namespace {

// One extension with the identifier, the value text's bytes as extnValue
// and the critical flag. The identifier is looked up, never registered: 3.0
// refuses a second creation, and the table would grow without a lock.
int otherExtensionByOid(const char *oid, const char *value, int critical, X509ExtensionPtr *out) {
    Asn1ObjectPtr object(OBJ_txt2obj(oid, 1));
    if (!object) return TQ_RTN_FAILED;
    size_t length = std::strlen(value);
    if (!fitsInt(length)) return TQ_RTN_BAD_ARGUMENT;
    Asn1OctetStringPtr data(ASN1_OCTET_STRING_new());
    if (!data || ASN1_OCTET_STRING_set(data.get(), reinterpret_cast<const unsigned char *>(value),
                                       static_cast<int>(length)) != 1)
        return TQ_RTN_FAILED;
    out->reset(X509_EXTENSION_create_by_OBJ(nullptr, object.get(), critical ? 1 : 0, data.get()));
    return *out ? TQ_RTN_OK : TQ_RTN_FAILED;
}

enum class Target { Request, FirstSingleRequest };

int addExtension(TQXCRYPT_HANDLE *handle, const char *oid, const char *value, int critical, Target target) {
    ErrorQueueScope scope;
    OCSP_REQUEST *request = nullptr;
    int rc = objectOf(handle, TQXCRYPT_KIND_OCSPREQUEST, tqxCryptASN1OCSPRequestMethod(), &request);
    if (rc != TQ_RTN_OK) return rc;
    if (!oid || !value) return TQ_RTN_BAD_ARGUMENT;
    OCSP_ONEREQ *single = nullptr;
    if (target == Target::FirstSingleRequest) {
        if (OCSP_request_onereq_count(request) < 1) return TQ_RTN_FAILED;
        single = OCSP_request_onereq_get0(request, 0);
    }
    X509ExtensionPtr extension;
    rc = otherExtensionByOid(oid, value, critical, &extension);
    if (rc != TQ_RTN_OK) return rc;
    int added = single ? OCSP_ONEREQ_add_ext(single, extension.get(), -1)
                       : OCSP_REQUEST_add_ext(request, extension.get(), -1);
    return added == 1 ? TQ_RTN_OK : TQ_RTN_FAILED;
}

}  // namespace

}  // namespace tq

extern "C" {

TQ_API int TQXCrypt_OCSPReqAddReqExtensionByOID(TQXCRYPT_HANDLE *request, const char *oid, const char *value,
                                                int critical) {
    return tq::addExtension(request, oid, value, critical, tq::Target::Request);
}

TQ_API int TQXCrypt_OCSPReqAddSingleReqExtensionByOID(TQXCRYPT_HANDLE *request, const char *oid,
                                                      const char *value, int critical) {
    return tq::addExtension(request, oid, value, critical, tq::Target::FirstSingleRequest);
}

}  // extern "C"

// Extensions of requests and responses: adding them by dotted identifier to
// a request or its first single request, and reading them back by name.
#include <openssl/objects.h>

#include "ocsp_internal.h"
#include "tqxcrypt_x509.h"

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
                                                int critical) try {
    return tq::addExtension(request, oid, value, critical, tq::Target::Request);
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_OCSPReqAddSingleReqExtensionByOID(TQXCRYPT_HANDLE *request, const char *oid,
                                                      const char *value, int critical) try {
    return tq::addExtension(request, oid, value, critical, tq::Target::FirstSingleRequest);
}
TQ_CATCH_CODE

}  // extern "C"

namespace tq {

namespace {

// A name or a dotted identifier, as OpenSSL resolves it.
Asn1ObjectPtr resolveName(const char *name) {
    if (!name) return nullptr;
    Asn1ObjectPtr object(OBJ_txt2obj(name, 0));
    if (!object) object.reset(OBJ_txt2obj(name, 1));
    return object;
}

// Where a getter looks, and what it answers when the list is absent (an
// empty list counts as absent) or the extension is not in it.
struct Getter {
    bool absentBeforeName;  // the ByOID getters report an absent list before the name
    int absent;
    int notFound;
};

template <class Holder>
int getFromList(Holder *holder, int (*count)(Holder *), X509_EXTENSION *(*get)(Holder *, int),
                int (*find)(Holder *, const ASN1_OBJECT *, int), const char *name, TQXCRYPT_BLOB *value,
                int *critical, const Getter &getter) {
    bool listAbsent = count(holder) <= 0;
    if (listAbsent && getter.absentBeforeName) return getter.absent;
    Asn1ObjectPtr object = resolveName(name);
    if (!object) return TQ_RTN_BAD_ARGUMENT;
    if (listAbsent) return getter.absent;
    int at = find(holder, object.get(), -1);
    if (at < 0) return getter.notFound;
    return tqxCryptGetOCSPExtensionValue(get(holder, at), value, critical);
}

int reqCount(OCSP_REQUEST *r) { return OCSP_REQUEST_get_ext_count(r); }
X509_EXTENSION *reqGet(OCSP_REQUEST *r, int i) { return OCSP_REQUEST_get_ext(r, i); }
int reqFind(OCSP_REQUEST *r, const ASN1_OBJECT *o, int last) {
    return OCSP_REQUEST_get_ext_by_OBJ(r, o, last);
}
int oneCount(OCSP_ONEREQ *r) { return OCSP_ONEREQ_get_ext_count(r); }
X509_EXTENSION *oneGet(OCSP_ONEREQ *r, int i) { return OCSP_ONEREQ_get_ext(r, i); }
int oneFind(OCSP_ONEREQ *r, const ASN1_OBJECT *o, int last) { return OCSP_ONEREQ_get_ext_by_OBJ(r, o, last); }
int basicCount(OCSP_BASICRESP *r) { return OCSP_BASICRESP_get_ext_count(r); }
X509_EXTENSION *basicGet(OCSP_BASICRESP *r, int i) { return OCSP_BASICRESP_get_ext(r, i); }
int basicFind(OCSP_BASICRESP *r, const ASN1_OBJECT *o, int last) {
    return OCSP_BASICRESP_get_ext_by_OBJ(r, o, last);
}

enum class ReqList { Request, FirstSingleRequest };

int getRequestExtension(TQXCRYPT_HANDLE *handle, const char *name, TQXCRYPT_BLOB *value, int *critical,
                        ReqList where, const Getter &getter) {
    ErrorQueueScope scope;
    OCSP_REQUEST *request = nullptr;
    int rc = objectOf(handle, TQXCRYPT_KIND_OCSPREQUEST, tqxCryptASN1OCSPRequestMethod(), &request);
    if (rc != TQ_RTN_OK) return rc;
    if (!value) return TQ_RTN_BAD_ARGUMENT;
    if (where == ReqList::Request)
        return getFromList(request, reqCount, reqGet, reqFind, name, value, critical, getter);
    if (OCSP_request_onereq_count(request) < 1) return TQ_RTN_FAILED;
    return getFromList(OCSP_request_onereq_get0(request, 0), oneCount, oneGet, oneFind, name, value, critical,
                       getter);
}

int basicOfHandle(TQXCRYPT_HANDLE *handle, TQXCRYPT_BLOB *value, OcspBasicRespPtr *basic) {
    OCSP_RESPONSE *response = nullptr;
    int rc = objectOf(handle, TQXCRYPT_KIND_OCSPRESPONSE, tqxCryptASN1OCSPResponseMethod(), &response);
    if (rc != TQ_RTN_OK) return rc;
    if (!value) return TQ_RTN_BAD_ARGUMENT;
    OCSP_BASICRESP *decoded = nullptr;
    rc = tqxCrypt_OCSP_get_basicrsp(response, &decoded, 0);
    basic->reset(decoded);
    return rc;
}

int getResponseExtension(TQXCRYPT_HANDLE *handle, const char *name, TQXCRYPT_BLOB *value, int *critical,
                         const Getter &getter) {
    ErrorQueueScope scope;
    OcspBasicRespPtr basic;
    int rc = basicOfHandle(handle, value, &basic);
    if (rc != TQ_RTN_OK) return rc;
    return getFromList(basic.get(), basicCount, basicGet, basicFind, name, value, critical, getter);
}

}  // namespace

}  // namespace tq

extern "C" {

TQ_API int TQXCrypt_OCSPReqGetReqExtensionByOID(TQXCRYPT_HANDLE *request, const char *name, int,
                                                TQXCRYPT_BLOB *value, int *critical) try {
    return tq::getRequestExtension(request, name, value, critical, tq::ReqList::Request,
                                   {true, TQ_RTN_FAILED, TQ_RTN_NOT_PRESENT});
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_OCSPReqGetReqExtension(TQXCRYPT_HANDLE *request, const char *name, int,
                                           TQXCRYPT_BLOB *value, int *critical) try {
    return tq::getRequestExtension(request, name, value, critical, tq::ReqList::Request,
                                   {false, TQ_RTN_FAILED, TQ_RTN_OK});
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_OCSPReqGetSingleReqExtensionByOID(TQXCRYPT_HANDLE *request, const char *name, int,
                                                      TQXCRYPT_BLOB *value, int *critical) try {
    return tq::getRequestExtension(request, name, value, critical, tq::ReqList::FirstSingleRequest,
                                   {true, TQ_RTN_FAILED, TQ_RTN_NOT_PRESENT});
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_OCSPRspGetRspExtensionByOID(TQXCRYPT_HANDLE *response, const char *name, int,
                                                TQXCRYPT_BLOB *value, int *critical) try {
    return tq::getResponseExtension(response, name, value, critical,
                                    {true, TQ_RTN_OCSP_NONCE, TQ_RTN_NOT_PRESENT});
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_OCSPRspGetRspExtension(TQXCRYPT_HANDLE *response, const char *name, int,
                                           TQXCRYPT_BLOB *value, int *critical) try {
    return tq::getResponseExtension(response, name, value, critical,
                                    {false, TQ_RTN_OCSP_NONCE, TQ_RTN_NOT_PRESENT});
}
TQ_CATCH_CODE

TQ_API int TQXCrypt_OCSPRspGetSingleRspExtensionByOID(TQXCRYPT_HANDLE *response, const char *name, int,
                                                      TQXCRYPT_BLOB *value, int *critical) try {
    tq::ErrorQueueScope scope;
    tq::OcspBasicRespPtr basic;
    int rc = tq::basicOfHandle(response, value, &basic);
    if (rc != TQ_RTN_OK) return rc;
    tq::Asn1ObjectPtr object = tq::resolveName(name);
    bool anyList = false;
    for (int i = 0, n = OCSP_resp_count(basic.get()); i < n; ++i) {
        OCSP_SINGLERESP *single = OCSP_resp_get0(basic.get(), i);
        if (OCSP_SINGLERESP_get_ext_count(single) <= 0) continue;
        anyList = true;
        int at = object ? OCSP_SINGLERESP_get_ext_by_OBJ(single, object.get(), -1) : -1;
        // One that cannot be copied does not stop the walk.
        if (at >= 0 &&
            tqxCryptGetOCSPExtensionValue(OCSP_SINGLERESP_get_ext(single, at), value, critical) == TQ_RTN_OK)
            return TQ_RTN_OK;
    }
    return anyList ? TQ_RTN_NOT_PRESENT : TQ_RTN_OK;
}
TQ_CATCH_CODE

// The raw value of an OCSP extension, still DER.
int tqxCryptGetOCSPExtensionValue(X509_EXTENSION *extension, TQXCRYPT_BLOB *value, int *critical) try {
    if (!extension) return TQ_RTN_FAILED;
    if (critical) *critical = X509_EXTENSION_get_critical(extension) ? 1 : 0;
    int nid = OBJ_obj2nid(X509_EXTENSION_get_object(extension));
    if (nid == NID_id_pkix_OCSP_CrlID || nid == NID_id_pkix_OCSP_acceptableResponses) return TQ_RTN_FAILED;
    if (!value) return TQ_RTN_BAD_ARGUMENT;
    const ASN1_OCTET_STRING *der = X509_EXTENSION_get_data(extension);
    return tqxCryptAssignBlob(value, ASN1_STRING_get0_data(der), ASN1_STRING_length(der));
}
TQ_CATCH_CODE

}  // extern "C"

// A CRL built field by field: issuer, update times, extensions and revoked
// entries, sorted on request.
#include "crl_internal.h"

namespace {

// The CRL reason value of an input reason; -1 for none, -2 refused.
int reasonValue(int reason) {
    if (reason == 0) return -1;
    if ((reason >= 1 && reason <= 6) || reason == 8) return reason;
    if (reason == TQ_RTN_REVOKED) return 0;
    if (reason >= TQ_RTN_REVOKED_KEY_COMPROMISE && reason <= TQ_RTN_REVOKED_CERTIFICATE_HOLD)
        return reason - TQ_RTN_REVOKED;
    if (reason == TQ_RTN_REVOKED_REMOVE_FROM_CRL_INPUT) return 8;
    return -2;
}

template <int (*Set)(X509_CRL *, const ASN1_TIME *)>
int setTime(TQXCRYPT_HANDLE *handle, const char *text) {
    tq::ErrorQueueScope scope;
    X509_CRL *crl = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc != TQ_RTN_OK) return rc;
    tq::Asn1TimePtr time;
    rc = tq::timeFromText(text, time);
    if (rc != TQ_RTN_OK) return rc;
    if (Set(crl, time.get()) != 1) return TQ_RTN_FAILED;
    tq::markChanged(crl);
    return TQ_RTN_OK;
}

int setIssuer(X509_CRL *crl, const X509_NAME *name) {
    // The library copies the name before it lets the old one go: a failed
    // copy keeps the old issuer.
    if (X509_CRL_set_issuer_name(crl, name) != 1) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    tq::markChanged(crl);
    return TQ_RTN_OK;
}

}  // namespace

namespace tq {

void markChanged(X509_CRL *crl) { (void)i2d_re_X509_CRL_tbs(crl, nullptr); }

int makeVersion2(X509_CRL *crl) {
    if (X509_CRL_get_version(crl) == X509_CRL_VERSION_2) return TQ_RTN_OK;
    if (X509_CRL_set_version(crl, X509_CRL_VERSION_2) != 1) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    markChanged(crl);
    return TQ_RTN_OK;
}

}  // namespace tq

extern "C" {

int tqxCrypt_CRLAddRevoked(X509_CRL *crl, const ASN1_INTEGER *serial, const char *date, int reason) try {
    int value = reasonValue(reason);
    if (value == -2 || !crl || !serial) return TQ_RTN_BAD_ARGUMENT;
    tq::X509RevokedPtr entry(X509_REVOKED_new());
    if (!entry) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    tq::Asn1TimePtr time;
    int rc = tq::timeFromText(date, time);
    if (rc != TQ_RTN_OK) return rc;
    // The serial as it is, sign included: a negative serial entered as its
    // magnitude would revoke another certificate.
    if (X509_REVOKED_set_serialNumber(entry.get(), const_cast<ASN1_INTEGER *>(serial)) != 1 ||
        X509_REVOKED_set_revocationDate(entry.get(), time.get()) != 1)
        return TQ_RTN_FAILED;
    if (value >= 0) {
        tq::Asn1EnumeratedPtr code(ASN1_ENUMERATED_new());
        if (!code || ASN1_ENUMERATED_set(code.get(), value) != 1) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        if (X509_REVOKED_add1_ext_i2d(entry.get(), NID_crl_reason, code.get(), 0, 0) != 1)
            return TQ_RTN_FAILED;
        rc = tq::makeVersion2(crl);
        if (rc != TQ_RTN_OK) return rc;
    }
    if (X509_CRL_add0_revoked(crl, entry.get()) != 1) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    entry.release();
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_CreateCRL(TQXCRYPT_HANDLE **out) try {
    tq::ErrorQueueScope scope;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    X509_CRL *crl = X509_CRL_new();
    if (!crl) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    return tq::wrapNew<X509_CRL, X509_CRL_free>(crl, TQXCRYPT_KIND_CRL, tqxCryptASN1CRLMethod(), out);
}
TQ_CATCH_CODE

int TQXCrypt_CRLSetIssuer(TQXCRYPT_HANDLE *handle, TQXCRYPT_HANDLE *certHandle) try {
    tq::ErrorQueueScope scope;
    X509_CRL *crl = nullptr;
    X509 *cert = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc == TQ_RTN_OK) rc = tq::objectOf(certHandle, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc != TQ_RTN_OK) return rc;
    return setIssuer(crl, X509_get_subject_name(cert));
}
TQ_CATCH_CODE

int TQXCrypt_CRLSetIssuerName(TQXCRYPT_HANDLE *handle, const char *text) try {
    tq::ErrorQueueScope scope;
    X509_CRL *crl = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc != TQ_RTN_OK) return rc;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    tq::X509NamePtr name(tqxCrypt_GetX509Name(text));
    if (!name) return tq::unreadText();
    return setIssuer(crl, name.get());
}
TQ_CATCH_CODE

int TQXCrypt_CRLSetLastUpdate(TQXCRYPT_HANDLE *handle, const char *time) try {
    return setTime<X509_CRL_set1_lastUpdate>(handle, time);
}
TQ_CATCH_CODE

int TQXCrypt_CRLSetNextUpdate(TQXCRYPT_HANDLE *handle, const char *time) try {
    return setTime<X509_CRL_set1_nextUpdate>(handle, time);
}
TQ_CATCH_CODE

int TQXCrypt_CRLSetExtension(TQXCRYPT_HANDLE *handle, const char *type, const void *value, int critical) try {
    tq::ErrorQueueScope scope;
    TQXCryptInitialize();
    X509_CRL *crl = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc != TQ_RTN_OK) return rc;
    tq::X509ExtensionPtr extension;
    rc = tq::buildExtension(type, value, critical, extension);
    if (rc != TQ_RTN_OK) return rc;
    rc = tq::replaceExtension<X509_CRL, X509_CRL_get_ext_by_OBJ, X509_CRL_delete_ext, X509_CRL_add_ext>(
        crl, extension);
    if (rc != TQ_RTN_OK) return rc;
    tq::markChanged(crl);
    return tq::makeVersion2(crl);
}
TQ_CATCH_CODE

int TQXCrypt_CRLAddRevoked(TQXCRYPT_HANDLE *handle, const char *serial, const char *date, int reason) try {
    tq::ErrorQueueScope scope;
    X509_CRL *crl = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc != TQ_RTN_OK) return rc;
    tq::Asn1IntegerPtr number;
    rc = tq::serialFromHex(serial, number);
    if (rc != TQ_RTN_OK) return rc;
    return tqxCrypt_CRLAddRevoked(crl, number.get(), date, reason);
}
TQ_CATCH_CODE

int TQXCrypt_CRLAddCertRevoked(TQXCRYPT_HANDLE *handle, TQXCRYPT_HANDLE *certHandle, const char *date,
                               int reason) try {
    tq::ErrorQueueScope scope;
    X509_CRL *crl = nullptr;
    X509 *cert = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc == TQ_RTN_OK) rc = tq::objectOf(certHandle, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc != TQ_RTN_OK) return rc;
    const ASN1_INTEGER *serial = X509_get0_serialNumber(cert);
    if (!serial || ASN1_STRING_length(serial) <= 0) return TQ_RTN_FAILED;
    return tqxCrypt_CRLAddRevoked(crl, serial, date, reason);
}
TQ_CATCH_CODE

// The library's sort orders as the lookup compares (length, bytes, sign),
// renumbers the entries and leaves the list marked sorted.
int TQXCrypt_CRLSortRevoked(TQXCRYPT_HANDLE *handle, int) try {
    tq::ErrorQueueScope scope;
    X509_CRL *crl = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc != TQ_RTN_OK) return rc;
    if (X509_CRL_get_REVOKED(crl)) X509_CRL_sort(crl);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

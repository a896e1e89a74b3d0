// Questions a CRL answers: whether a serial is revoked, its entries by
// index, its issuer, update times and extensions.
#include "crl_internal.h"

namespace {

const ASN1_INTEGER *serialOf(const X509_REVOKED *entry) { return X509_REVOKED_get0_serialNumber(entry); }

// The sort's order (length, bytes, then sign), so a sorted list is searched
// in the order it was sorted in.
int compare(const X509_REVOKED *entry, const ASN1_INTEGER *serial) {
    return ASN1_STRING_cmp(serialOf(entry), serial);
}

const X509_REVOKED *find(const STACK_OF(X509_REVOKED) *list, const ASN1_INTEGER *serial) {
    int count = sk_X509_REVOKED_num(list);
    if (count <= 0) return nullptr;
    if (sk_X509_REVOKED_is_sorted(list)) {
        int lo = 0, hi = count;
        while (lo < hi) {
            int mid = lo + (hi - lo) / 2;
            const X509_REVOKED *entry = sk_X509_REVOKED_value(list, mid);
            int order = compare(entry, serial);
            if (order == 0) return entry;
            if (order > 0)
                hi = mid;
            else
                lo = mid + 1;
        }
        return nullptr;
    }
    for (int i = 0; i < count; ++i) {
        const X509_REVOKED *entry = sk_X509_REVOKED_value(list, i);
        if (compare(entry, serial) == 0) return entry;
    }
    return nullptr;
}

template <const ASN1_TIME *(*Get)(const X509_CRL *)>
int timeText(TQXCRYPT_HANDLE *handle, char *date) {
    tq::ErrorQueueScope scope;
    X509_CRL *crl = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc != TQ_RTN_OK) return rc;
    if (!date) return TQ_RTN_BAD_ARGUMENT;
    const ASN1_TIME *time = Get(crl);
    if (!time) return TQ_RTN_NOT_PRESENT;
    return tqxGetCertTimeFormat(const_cast<ASN1_TIME *>(time), 0, date);
}

}  // namespace

namespace tq {

int reasonCode(const X509_REVOKED *entry) {
    int critical = 0;
    Asn1EnumeratedPtr reason(static_cast<ASN1_ENUMERATED *>(
        X509_REVOKED_get_ext_d2i(const_cast<X509_REVOKED *>(entry), NID_crl_reason, &critical, nullptr)));
    if (!reason) return critical == -1 ? TQ_RTN_REVOKED : TQ_RTN_FAILED;
    long value = ASN1_ENUMERATED_get(reason.get());
    if (value >= 0 && value <= 6) return TQ_RTN_REVOKED + static_cast<int>(value);
    if (value == 8) return TQ_RTN_REVOKED_REMOVE_FROM_CRL;
    return TQ_RTN_FAILED;
}

}  // namespace tq

extern "C" {

int tqxcrypt_CRLRevoked(X509_CRL *crl, const ASN1_INTEGER *serial, char *date, int *status) try {
    *status = 0;
    const X509_REVOKED *entry = find(X509_CRL_get_REVOKED(crl), serial);
    if (!entry) {
        date[0] = '\0';
        return TQ_RTN_OK;
    }
    int rc = tqxGetCertTimeFormat(const_cast<ASN1_TIME *>(X509_REVOKED_get0_revocationDate(entry)), 0, date);
    if (rc != TQ_RTN_OK) return rc;
    *status = tq::reasonCode(entry);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_CRLGetRevoked(TQXCRYPT_HANDLE *handle, const char *serial, char *date, int *status, int) try {
    tq::ErrorQueueScope scope;
    X509_CRL *crl = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc != TQ_RTN_OK) return rc;
    if (!serial || !date || !status) return TQ_RTN_BAD_ARGUMENT;
    tq::Asn1IntegerPtr number;
    rc = tq::serialFromHex(serial, number);
    if (rc != TQ_RTN_OK) return rc;
    return tqxcrypt_CRLRevoked(crl, number.get(), date, status);
}
TQ_CATCH_CODE

int TQXCrypt_CRLGetCertRevoked(TQXCRYPT_HANDLE *handle, TQXCRYPT_HANDLE *certHandle, char *date, int *status,
                               int) try {
    tq::ErrorQueueScope scope;
    X509_CRL *crl = nullptr;
    X509 *cert = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc == TQ_RTN_OK) rc = tq::objectOf(certHandle, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!date || !status) return TQ_RTN_BAD_ARGUMENT;
    const ASN1_INTEGER *serial = X509_get0_serialNumber(cert);
    if (!serial || ASN1_STRING_length(serial) <= 0) return TQ_RTN_FAILED;
    return tqxcrypt_CRLRevoked(crl, serial, date, status);
}
TQ_CATCH_CODE

int TQXCrypt_CRLGetRevokedCount(TQXCRYPT_HANDLE *handle, int *count) try {
    tq::ErrorQueueScope scope;
    X509_CRL *crl = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc != TQ_RTN_OK) return rc;
    if (!count) return TQ_RTN_BAD_ARGUMENT;
    int n = sk_X509_REVOKED_num(X509_CRL_get_REVOKED(crl));
    *count = n > 0 ? n : 0;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_CRLGetRevokedInfo(TQXCRYPT_HANDLE *handle, int index, TQXCRYPT_BLOB *serial, char *date,
                               int *reason) try {
    tq::ErrorQueueScope scope;
    X509_CRL *crl = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc != TQ_RTN_OK) return rc;
    if (!serial || !date || !reason) return TQ_RTN_BAD_ARGUMENT;
    STACK_OF(X509_REVOKED) *list = X509_CRL_get_REVOKED(crl);
    if (index < 0 || index >= sk_X509_REVOKED_num(list)) return TQ_RTN_FAILED;
    const X509_REVOKED *entry = sk_X509_REVOKED_value(list, index);
    // Formatted aside first: a malformed date writes nothing at all.
    char text[TQXCRYPT_TIME_TEXT_SIZE];
    rc = tqxGetCertTimeFormat(const_cast<ASN1_TIME *>(X509_REVOKED_get0_revocationDate(entry)), 0, text);
    if (rc != TQ_RTN_OK) return rc;
    const ASN1_INTEGER *number = serialOf(entry);
    rc = tqxCryptAssignBlob(serial, ASN1_STRING_get0_data(number), ASN1_STRING_length(number));
    if (rc != TQ_RTN_OK) return rc;
    std::memcpy(date, text, sizeof text);
    *reason = tq::reasonCode(entry);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_CRLGetIssuer(TQXCRYPT_HANDLE *handle, int, char **text) try {
    tq::ErrorQueueScope scope;
    X509_CRL *crl = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc != TQ_RTN_OK) return rc;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    return tqxGetCertX509Name(X509_CRL_get_issuer(crl), 0, text);
}
TQ_CATCH_CODE

int TQXCrypt_CRLGetLastUpdate(TQXCRYPT_HANDLE *handle, int, char *date) try {
    return timeText<X509_CRL_get0_lastUpdate>(handle, date);
}
TQ_CATCH_CODE

int TQXCrypt_CRLGetNextUpdate(TQXCRYPT_HANDLE *handle, int, char *date) try {
    return timeText<X509_CRL_get0_nextUpdate>(handle, date);
}
TQ_CATCH_CODE

int TQXCrypt_CRLGetExtension(TQXCRYPT_HANDLE *handle, const char *type, int, void *value, int *critical) try {
    tq::ErrorQueueScope scope;
    X509_CRL *crl = nullptr;
    int rc = tq::crlOf(handle, &crl);
    if (rc != TQ_RTN_OK) return rc;
    if (!value) return TQ_RTN_BAD_ARGUMENT;
    X509_EXTENSION *extension = nullptr;
    rc = tq::findExtension(X509_CRL_get0_extensions(crl), type, &extension);
    return rc == TQ_RTN_OK ? tqxCryptGetExtensionValue(extension, value, critical) : rc;
}
TQ_CATCH_CODE

}  // extern "C"

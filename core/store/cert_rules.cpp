// One certificate on its own: its subject and issuer names against rule
// texts ("key=value" lines), its serial number against serial lists, and
// its validity window at a given time.
#include <ctime>
#include <string>

#include <openssl/objects.h>

#include "hexdigits.h"
#include "store_internal.h"

namespace {

constexpr size_t kMaxLine = 1024;
constexpr size_t kMaxSerialBytes = 1024;

tq::ByteCursor trimmed(tq::ByteCursor c) {
    while (tq::isSpace(c.peek())) c.skip(1);
    c.trimEnd(tq::isSpace);
    return c;
}

bool equals(const tq::ByteCursor &c, const char *text) {
    size_t n = std::strlen(text);
    return c.remaining() == n && c.startsWith(text, n);
}

// One piece of a serial list as bytes; false when it can match nothing
// (empty, too long, or a character that is not a hexadecimal digit).
bool getHexValue(tq::ByteCursor piece, unsigned char *out, size_t capacity, size_t *count) {
    size_t digits = piece.remaining();
    if (digits == 0 || (digits + 1) / 2 > capacity) return false;
    return tq::readHex(piece, out, count);
}

bool serialInList(X509 *cert, tq::ByteCursor list) {
    const ASN1_INTEGER *serial = X509_get0_serialNumber(cert);
    if (!serial) return false;
    const unsigned char *content = ASN1_STRING_get0_data(serial);
    size_t contentLength = static_cast<size_t>(ASN1_STRING_length(serial));
    unsigned char bytes[kMaxSerialBytes];
    for (;;) {
        size_t semicolon = list.find(';');
        tq::ByteCursor piece = trimmed(list.take(semicolon));
        size_t count = 0;
        if (getHexValue(piece, bytes, sizeof bytes, &count) && count == contentLength &&
            std::memcmp(bytes, content, count) == 0)
            return true;
        if (semicolon == SIZE_MAX) return false;
        list.skip(semicolon + 1);
    }
}

// Exact match, or with `prefix` the entry begins with the rule's value; the
// comparison never reaches past the shorter of the two.
bool valueMatches(const ASN1_STRING *entry, const tq::ByteCursor &value, bool prefix) {
    size_t length = static_cast<size_t>(ASN1_STRING_length(entry));
    size_t wanted = value.remaining();
    if (prefix ? wanted > length : wanted != length) return false;
    return wanted == 0 || std::memcmp(ASN1_STRING_get0_data(entry), value.here(), wanted) == 0;
}

int attributeNid(const tq::ByteCursor &key) {
    // The old short name of the e-mail attribute, which 3.0 no longer knows.
    if (equals(key, "Email")) return NID_pkcs9_emailAddress;
    // On the stack, so that matching never runs out of memory; no name or
    // identifier the library knows is longer.
    char name[256];
    if (key.remaining() >= sizeof name) return NID_undef;
    std::memcpy(name, key.here(), key.remaining());
    name[key.remaining()] = '\0';
    return OBJ_txt2nid(name);
}

bool nameHas(const X509_NAME *name, int nid, const tq::ByteCursor &value, bool prefix) {
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY *entry = X509_NAME_get_entry(name, i);
        if (OBJ_obj2nid(X509_NAME_ENTRY_get_object(entry)) != nid) continue;
        if (valueMatches(X509_NAME_ENTRY_get_data(entry), value, prefix)) return true;
    }
    return false;
}

// 0 every rule holds, 1 one fails, -1 the text is malformed.
int matchRules(X509 *cert, const X509_NAME *name, const char *rules, int flags) {
    bool prefix = (flags & TQXCRYPT_MATCH_PREFIX) != 0;
    tq::ByteCursor text(rules, std::strlen(rules));
    while (!text.empty()) {
        size_t lf = text.find('\n');
        size_t lineLength = lf == SIZE_MAX ? text.remaining() : lf;
        if (lineLength >= kMaxLine) return -1;
        tq::ByteCursor line = text.take(lineLength);
        text.skip(lf == SIZE_MAX ? lineLength : lineLength + 1);

        size_t eq = line.find('=');
        if (eq == SIZE_MAX) return -1;
        tq::ByteCursor key = trimmed(line.take(eq));
        line.skip(eq + 1);
        tq::ByteCursor value = trimmed(line);
        if (key.empty()) return -1;

        if (equals(key, "SN")) {
            if (!serialInList(cert, value)) return 1;
        } else if (equals(key, "SN!")) {
            if (serialInList(cert, value)) return 1;
        } else {
            int nid = equals(key, "E") ? NID_pkcs9_emailAddress : attributeNid(key);
            if (nid == NID_undef) return -1;
            if (!nameHas(name, nid, value, prefix)) return 1;
        }
    }
    return 0;
}

int certificateOf(X509 **cert, TQXCRYPT_HANDLE *handle) {
    return tq::objectOf(handle, TQXCRYPT_KIND_CERTIFICATE, tqxCryptASN1CertificateMethod(), cert);
}

}  // namespace

extern "C" {

int tqxCrypt_ValidateCertSubject(X509 *certificate, const char *rules, int flags) try {
    return matchRules(certificate, X509_get_subject_name(certificate), rules, flags);
}
TQ_CATCH_RETURN(-1)

int tqxCrypt_ValidateCertIssuer(X509 *certificate, const char *rules, int flags) try {
    return matchRules(certificate, X509_get_issuer_name(certificate), rules, flags);
}
TQ_CATCH_RETURN(-1)

int tqxCrypt_ValidateCertSerialNumber(X509 *certificate, const char *serials) try {
    return serialInList(certificate, tq::ByteCursor(serials, std::strlen(serials))) ? 0 : 1;
}
TQ_CATCH_RETURN(-1)

int tqxCryptValidateCert(X509 *certificate, time_t when) try {
    tq::ErrorQueueScope scope;
    time_t at = when ? when : std::time(nullptr);
    // A field that cannot be compared (0) fails like a date outside the window.
    if (X509_cmp_time(X509_get0_notBefore(certificate), &at) >= 0) return TQ_RTN_CERT_NOT_YET_VALID;
    if (X509_cmp_time(X509_get0_notAfter(certificate), &at) <= 0) return TQ_RTN_CERT_EXPIRED;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_ValidateCertificate(TQXCRYPT_HANDLE *handle, const char *subjectRules, int time) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = certificateOf(&cert, handle);
    if (rc != TQ_RTN_OK) return rc;
    if (subjectRules && tqxCrypt_ValidateCertSubject(cert, subjectRules, 0) != 0) return TQ_RTN_CERT_REJECTED;
    if (time < 0) return TQ_RTN_OK;
    return tqxCryptValidateCert(cert, static_cast<time_t>(time));
}
TQ_CATCH_CODE

int TQXCrypt_ValidateCertificateEx(TQXCRYPT_HANDLE *handle, const char *subjectRules, const char *issuerRules,
                                   int flags) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = certificateOf(&cert, handle);
    if (rc != TQ_RTN_OK) return rc;
    if (subjectRules && tqxCrypt_ValidateCertSubject(cert, subjectRules, flags) != 0)
        return TQ_RTN_CERT_REJECTED;
    if (issuerRules && tqxCrypt_ValidateCertIssuer(cert, issuerRules, flags) != 0)
        return TQ_RTN_CERT_REJECTED;
    if (flags & TQXCRYPT_VALIDATE_TIME) return tqxCryptValidateCert(cert, 0);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

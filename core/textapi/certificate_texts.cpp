// Digests, and the fields and extension summaries of a certificate text.
#include "textapi_internal.h"

#include "keys_internal.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_x509.h"

namespace {

constexpr size_t kDigestRoom = 128;

int hexDigest(const unsigned char *data, size_t length, int selector, char **digest) {
    unsigned char room[kDigestRoom];
    TQXCRYPT_BLOB out{sizeof room, room};
    int rc = tq::hashInto(static_cast<unsigned>(selector), data, length, &out);
    if (rc != TQ_RTN_OK) return rc;
    return tq::handOutHex(room, static_cast<size_t>(out.length), digest);
}

// The field texts of the subject flags, in the order that decides.
constexpr struct {
    int flag;
    const char *field;
} kSubjectFields[] = {
    {TQCRYPT_SUBJECT_CN, "CN="}, {TQCRYPT_SUBJECT_EMAIL, "Email="}, {TQCRYPT_SUBJECT_O, "O="},
    {TQCRYPT_SUBJECT_OU, "OU="}, {TQCRYPT_SUBJECT_C, "C="},
};

// The value of the first line of a name text that starts with `field`: a
// match inside a value or at the end of a longer short name is no entry.
std::pair<const char *, size_t> fieldValue(const char *name, const char *field) {
    const size_t fieldLength = std::strlen(field);
    for (const char *line = name; *line;) {
        const char *end = std::strstr(line, "\r\n");
        const size_t lineLength = end ? static_cast<size_t>(end - line) : std::strlen(line);
        if (lineLength >= fieldLength && std::memcmp(line, field, fieldLength) == 0)
            return {line + fieldLength, lineLength - fieldLength};
        if (!end) break;
        line = end + 2;
    }
    return {"", 0};
}

// The last general name's bytes; a nested list (a directory name) is an
// element of the wrong kind, as the summaries answer it.
int lastAltName(TQXCRYPT_HANDLE *cert, char **summary) {
    TQXCRYPT_ATTRIBUTES names{0, nullptr};
    int rc = TQXCrypt_CertGetExtension(cert, "subjectAltName", 0, &names, nullptr);
    if (rc == TQ_RTN_OK && (names.count <= 0 || !names.items)) rc = TQ_RTN_BAD_FORMAT;
    if (rc == TQ_RTN_OK) {
        const TQXCRYPT_ATTRIBUTE &last = names.items[names.count - 1];
        if (last.isList) {
            rc = TQ_RTN_NOT_SUPPORTED;
        } else {
            const TQXCRYPT_BLOB &value = last.value.blob;
            rc = tq::putText(value.data ? reinterpret_cast<const char *>(value.data) : "",
                             value.data ? static_cast<size_t>(value.length) : 0, summary);
        }
    }
    TQXCryptFreeAttributes(&names);
    return rc;
}

// A text made by a certificate reader, handed on as it is.
using TextReader = int (*)(TQXCRYPT_HANDLE *, int, char **);
int readText(const char *certificate, int argument, char **out, TextReader read) {
    if (!certificate || !out) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr cert;
    int rc = tq::decodeText(certificate, TQXCRYPT_KIND_CERTIFICATE, nullptr, cert);
    char *made = nullptr;
    if (rc == TQ_RTN_OK) rc = read(cert.get(), argument, &made);
    if (rc != TQ_RTN_OK) {
        TQCryptMemFree(made);
        return rc;
    }
    *out = made;
    return TQ_RTN_OK;
}

using TimeReader = int (*)(TQXCRYPT_HANDLE *, int, char *);
int readTime(const char *certificate, int handedOn, char *time, TimeReader read) {
    if (!certificate || !time) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr cert;
    int rc = tq::decodeText(certificate, TQXCRYPT_KIND_CERTIFICATE, nullptr, cert);
    if (rc == TQ_RTN_OK) rc = read(cert.get(), handedOn, time);
    return rc;
}

}  // namespace

extern "C" {

int TQCrypt_Hash(const unsigned char *data, size_t dataLength, int hashSelector, char **digest) try {
    tq::ErrorQueueScope scope;
    if (!data || !digest) return TQ_RTN_BAD_ARGUMENT;
    return hexDigest(data, dataLength, hashSelector, digest);
}
TQ_CATCH_CODE

// The DER is hashed as it stands: it is never parsed as a certificate.
int TQCrypt_CertGetDigest(const char *certificate, int hashSelector, char **digest) try {
    tq::ErrorQueueScope scope;
    if (!certificate || !digest) return TQ_RTN_BAD_ARGUMENT;
    tq::OwnedBlob der;
    int rc = TQXCrypt_Decode(certificate, std::strlen(certificate), der.get(), "CERTIFICATE");
    if (rc != TQ_RTN_OK) return rc;
    return hexDigest(der.data(), der.size(), hashSelector, digest);
}
TQ_CATCH_CODE

int TQCrypt_CertGetKeySize(const char *certificate, int, int *keySize) try {
    tq::ErrorQueueScope scope;
    if (!certificate || !keySize) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr cert, key;
    int rc = tq::decodeText(certificate, TQXCRYPT_KIND_CERTIFICATE, nullptr, cert);
    TQXCRYPT_HANDLE *made = nullptr;
    if (rc == TQ_RTN_OK) rc = TQXCrypt_CertGetPublicKey(cert.get(), &made);
    key.reset(made);
    if (rc != TQ_RTN_OK) return rc;
    int size = TQXCrypt_KeySize(key.get());
    if (size <= 0) return TQ_RTN_INVALID_KEY;
    *keySize = size;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQCrypt_CertGetSerialNumber(const char *certificate, int ignored, char **serial) try {
    tq::ErrorQueueScope scope;
    if (!certificate || !serial) return TQ_RTN_BAD_ARGUMENT;
    tq::HandlePtr cert;
    tq::OwnedBlob bytes;
    int rc = tq::decodeText(certificate, TQXCRYPT_KIND_CERTIFICATE, nullptr, cert);
    if (rc == TQ_RTN_OK) rc = TQXCrypt_CertGetSerialNumber(cert.get(), ignored, bytes.get());
    if (rc == TQ_RTN_OK) rc = tq::handOutHex(bytes.data(), bytes.size(), serial);
    return rc;
}
TQ_CATCH_CODE

int TQCrypt_CertGetSubject(const char *certificate, int fields, char **subject) try {
    tq::ErrorQueueScope scope;
    if (!certificate || !subject) return TQ_RTN_BAD_ARGUMENT;
    char *name = nullptr;
    int rc = readText(certificate, 0, &name, TQXCrypt_CertGetSubject);
    if (rc != TQ_RTN_OK || fields == 0) {
        if (rc == TQ_RTN_OK) *subject = name;
        return rc;
    }
    std::pair<const char *, size_t> value{"", 0};
    for (const auto &row : kSubjectFields) {
        if (!(fields & row.flag)) continue;
        value = fieldValue(name, row.field);
        break;
    }
    rc = tq::putText(value.first, value.second, subject);
    TQCryptMemFree(name);
    return rc;
}
TQ_CATCH_CODE

int TQCrypt_CertGetIssuer(const char *certificate, int handedOn, char **issuer) try {
    tq::ErrorQueueScope scope;
    return readText(certificate, handedOn, issuer, TQXCrypt_CertGetIssuer);
}
TQ_CATCH_CODE

int TQCrypt_CertGetSignatureAlgorithm(const char *certificate, int handedOn, char **name) try {
    tq::ErrorQueueScope scope;
    return readText(certificate, handedOn, name, TQXCrypt_CertGetSignatureAlgorithm);
}
TQ_CATCH_CODE

int TQCrypt_CertGetNotBefore(const char *certificate, int handedOn, char *time) try {
    tq::ErrorQueueScope scope;
    return readTime(certificate, handedOn, time, TQXCrypt_CertGetNotBefore);
}
TQ_CATCH_CODE

int TQCrypt_CertGetNotAfter(const char *certificate, int handedOn, char *time) try {
    tq::ErrorQueueScope scope;
    return readTime(certificate, handedOn, time, TQXCrypt_CertGetNotAfter);
}
TQ_CATCH_CODE

int TQCrypt_CertGetKDRAExtension(const char *certificate, int selector, char **summary) try {
    tq::ErrorQueueScope scope;
    if (!certificate || !summary) return TQ_RTN_BAD_ARGUMENT;
    if (selector < TQXCRYPT_SUMMARY_CRL_DISTRIBUTION_POINT || selector > TQXCRYPT_SUMMARY_SUBJECT_ALT_NAME)
        return TQ_RTN_BAD_ARGUMENT;
    return readText(certificate, selector, summary, [](TQXCRYPT_HANDLE *cert, int which, char **text) {
        return which == TQXCRYPT_SUMMARY_SUBJECT_ALT_NAME ? lastAltName(cert, text)
                                                          : TQXCrypt_CertGetKDRAExtension(cert, which, text);
    });
}
TQ_CATCH_CODE

}  // extern "C"

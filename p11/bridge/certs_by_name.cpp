// Certificates on the token by name: written from handles and texts with
// the label and CKA_ID of their key pair, read back as handles or text,
// paired and chosen.
#include <cstring>

#include <openssl/x509.h>

#include "bridge_internal.h"
#include "token_access.h"
#include "tqp11certs.h"
#include "tqxcrypt_containers.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_x509.h"

namespace {

// Decodes the VALUE of a read certificate record and releases the record.
int certificateOfRecord(TQXP11_OBJECT &record, TQXCRYPT_HANDLE **certificate) {
    const TQXP11_BYTES &value = record.valueRecord->certificate.value;
    int rc =
        TQXCrypt_DecodeObject(certificate, TQXCRYPT_KIND_CERTIFICATE, value.data, value.length, 0, nullptr);
    TQXP11_FreeObject(&record);
    return rc;
}

int readByLabel(TQXP11_SESSION *session, const char *label, int flags, TQXCRYPT_HANDLE **certificate) {
    if (!session || !label || !certificate) return TQ_RTN_BAD_ARGUMENT;
    TQXP11_OBJECT record =
        tqbridge::searchRecord(label, TQXP11_KIND_CERTIFICATE, flags & TQXP11_PRIVATE_CERT);
    int rc = TQXP11_ErrorCode(tqaccess::readCertificateValue(session, &record, false));
    if (rc != TQ_RTN_OK) return rc;
    return certificateOfRecord(record, certificate);
}

int readById(TQXP11_SESSION *session, const char *hexId, int flags, TQXCRYPT_HANDLE **certificate) {
    if (!session || !certificate) return TQ_RTN_BAD_ARGUMENT;
    tq::TqMem id;
    CK_ULONG count = 0;
    int rc = tqbridge::decodeId(hexId, TQXP11Crypt_HexDecode, id, &count);
    if (rc != TQ_RTN_OK) return rc;
    // The token layer searches with the record's first byte string, which
    // for a certificate record is not its ID pair: the ID goes where it is read.
    TQXP11_VALUE search{};
    search.first = TQXP11_BYTES{id.get(), count};
    TQXP11_OBJECT record = tqbridge::searchRecord("", TQXP11_KIND_CERTIFICATE, flags & TQXP11_PRIVATE_CERT);
    record.valueRecord = &search;
    rc = TQXP11_ErrorCode(tqaccess::readCertificateValue(session, &record, true));
    if (record.valueRecord == &search) record.valueRecord = nullptr;
    if (rc != TQ_RTN_OK) {
        TQXP11_FreeObject(&record);
        return rc;
    }
    return certificateOfRecord(record, certificate);
}

int decodeText(int kind, const char *text, TQXCRYPT_HANDLE **out) {
    if (!text || !*text) return TQ_RTN_BAD_ARGUMENT;
    return TQXCrypt_DecodeObject(out, kind, reinterpret_cast<const unsigned char *>(text), std::strlen(text),
                                 TQXCRYPT_DECODE_TEXT, nullptr);
}

// A certificate given as X.509 text or as a PKCS#7 text carrying it, with
// its public key.
int certificateAndKey(const char *text, tq::HandlePtr &certificate, tq::HandlePtr &key) {
    if (!text || !*text) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = decodeText(TQXCRYPT_KIND_CERTIFICATE, text, &made);
    if (rc != TQ_RTN_OK) {
        tq::HandlePtr pkcs7;
        rc = decodeText(TQXCRYPT_KIND_PKCS7, text, &made);
        pkcs7.reset(made);
        made = nullptr;
        if (rc == TQ_RTN_OK) rc = TQXCrypt_PKCS7GetUserCertificate(pkcs7.get(), &made);
    }
    certificate.reset(made);
    if (rc != TQ_RTN_OK) return rc;
    made = nullptr;
    rc = TQXCrypt_CertGetPublicKey(certificate.get(), &made);
    key.reset(made);
    return rc;
}

template <typename T, typename Encoder>
int derOf(const T *object, Encoder encode, tq::OsslBytes &out, int *length) {
    unsigned char *der = nullptr;
    *length = encode(object, &der);
    out.reset(der);
    return *length > 0 ? TQ_RTN_OK : TQ_RTN_BAD_CERTIFICATE;
}

int listCertificates(TQXP11_SESSION *session, TQXP11_OBJECT **list, CK_ULONG *count) {
    if (!session || !list || !count) return TQ_RTN_BAD_ARGUMENT;
    *list = nullptr;
    *count = 0;
    TQXP11_OBJECT filter = tqbridge::searchRecord("", TQXP11_KIND_CERTIFICATE, false);
    return TQXP11_GetObjectList(session, &filter, list, count);
}

// A listed object's certificate or key, built from the values the listing read.
int listedCertificate(const TQXP11_OBJECT &entry, tq::HandlePtr &certificate) {
    if (!entry.valueRecord) return TQ_RTN_NOT_PRESENT;
    const TQXP11_BYTES &value = entry.valueRecord->certificate.value;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXCrypt_DecodeObject(&made, TQXCRYPT_KIND_CERTIFICATE, value.data, value.length, 0, nullptr);
    certificate.reset(made);
    return rc;
}

int listedPublicKey(const TQXP11_OBJECT &entry, tq::HandlePtr &key) {
    if (!entry.valueRecord) return TQ_RTN_NOT_PRESENT;
    const TQXP11_RSA_PUBLIC_VALUE &v = entry.valueRecord->rsaPublic;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXCrypt_CreateRSAPublicKey(v.modulus.data, v.modulus.length, v.publicExponent.data,
                                         v.publicExponent.length, 0, &made);
    key.reset(made);
    return rc;
}

struct ListOwner {
    TQXP11_OBJECT *list = nullptr;
    CK_ULONG count = 0;
    ~ListOwner() { TQXP11_ReleaseObjectList(list, count); }
};

}  // namespace

namespace tqbridge {

int writeCertificate(TQXP11_SESSION *session, TQXCRYPT_HANDLE *certificate, const char *label,
                     const TQXP11_BYTES &id, int flags) {
    if (!session) return TQ_RTN_BAD_ARGUMENT;
    X509 *x509 = nullptr;
    int rc = tq::objectOf(certificate, TQXCRYPT_KIND_CERTIFICATE, &x509);
    if (rc != TQ_RTN_OK) return rc;
    TQXP11_OBJECT record{};
    if ((rc = tqbridge::namedRecord(label, TQXP11_KIND_CERTIFICATE, 0, &record)) != TQ_RTN_OK) return rc;
    tq::OsslBytes subject, issuer, serial;
    int subjectLength = 0, issuerLength = 0, serialLength = 0;
    if ((rc = derOf(X509_get_subject_name(x509), i2d_X509_NAME, subject, &subjectLength)) != TQ_RTN_OK ||
        (rc = derOf(X509_get_issuer_name(x509), i2d_X509_NAME, issuer, &issuerLength)) != TQ_RTN_OK ||
        (rc = derOf(X509_get0_serialNumber(x509), i2d_ASN1_INTEGER, serial, &serialLength)) != TQ_RTN_OK)
        return rc;
    tq::OwnedBlob value;
    rc = TQXCrypt_EncodeObject(certificate, TQXCRYPT_KIND_CERTIFICATE, value.get(), 0, nullptr);
    if (rc != TQ_RTN_OK) return rc;
    TQXP11_VALUE values{};
    values.certificate.subject = tqbridge::bytesOf(subject.get(), static_cast<size_t>(subjectLength));
    values.certificate.id = id;
    values.certificate.issuer = tqbridge::bytesOf(issuer.get(), static_cast<size_t>(issuerLength));
    values.certificate.serialNumber = tqbridge::bytesOf(serial.get(), static_cast<size_t>(serialLength));
    values.certificate.value = tqbridge::bytesOf(value.data(), value.size());
    record.valueRecord = &values;
    return TQXP11_WriteObject(session, &record, flags);
}

}  // namespace tqbridge

extern "C" {

TQ_API int TQXP11Crypt_ReadCertificateWithLabel(TQXP11_SESSION *session, const char *label, int flags,
                                                TQXCRYPT_HANDLE **certificate) try {
    tq::ErrorQueueScope scope;
    return readByLabel(session, label, flags, certificate);
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_ReadCertificateWithCKAID(TQXP11_SESSION *session, const char *hexId, int flags,
                                                TQXCRYPT_HANDLE **certificate) try {
    tq::ErrorQueueScope scope;
    return readById(session, hexId, flags, certificate);
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_ReadCertificate(TQXP11_SESSION *session, const char *name, int flags,
                                       TQXCRYPT_HANDLE **certificate) try {
    tq::ErrorQueueScope scope;
    return (flags & TQXP11_BY_CKA_ID) ? readById(session, name, 0, certificate)
                                      : readByLabel(session, name, 0, certificate);
}
TQ_CATCH_CODE

TQ_API int TQP11_ReadCertificate(TQXP11_SESSION *session, const char *name, int flags, char **text) try {
    tq::ErrorQueueScope scope;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXP11Crypt_ReadCertificate(session, name, flags, &made);
    tq::HandlePtr certificate(made);
    if (rc != TQ_RTN_OK) return rc;
    tq::OwnedBlob encoded;
    rc = TQXCrypt_EncodeObject(certificate.get(), TQXCRYPT_KIND_CERTIFICATE, encoded.get(),
                               TQXCRYPT_ENCODE_TEXT, nullptr);
    if (rc != TQ_RTN_OK) return rc;
    return tqbridge::handOver(encoded.get(), text);
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_ListCerts(TQXP11_SESSION *session, int, TQXP11_OBJECT **list, CK_ULONG *count) try {
    return listCertificates(session, list, count);
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_GetCertByKeyUsage(TQXP11_SESSION *session, int, int usage, int *index,
                                         TQXP11_OBJECT **list, CK_ULONG *count) try {
    tq::ErrorQueueScope scope;
    if (!index) return TQ_RTN_BAD_ARGUMENT;
    *index = -1;
    int rc = listCertificates(session, list, count);
    if (rc != TQ_RTN_OK) return rc;
    if (*count == 0) return TQ_RTN_NO_CERTIFICATE;
    char best[64] = "";
    for (CK_ULONG i = 0; i < *count; ++i) {
        tq::HandlePtr certificate;
        int bits = 0;
        if (listedCertificate((*list)[i], certificate) != TQ_RTN_OK ||
            TQXCrypt_CertGetKeyUsage(certificate.get(), &bits) != TQ_RTN_OK || (bits & usage) != usage)
            continue;
        char notAfter[64] = "";
        if (TQXCrypt_CertGetNotAfter(certificate.get(), 0, notAfter) != TQ_RTN_OK) continue;
        if (std::strcmp(notAfter, best) > 0) {
            std::memcpy(best, notAfter, sizeof best);
            *index = static_cast<int>(i);
        }
    }
    // Callers that look only at the code must not take no choice for one.
    return *index >= 0 ? TQ_RTN_OK : TQ_RTN_NO_CERTIFICATE;
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_WriteCertificate(TQXP11_SESSION *session, TQXCRYPT_HANDLE *certificate,
                                        const char *label, const char *idText, int flags) try {
    tq::ErrorQueueScope scope;
    return tqbridge::writeCertificate(session, certificate, label, tqbridge::textBytes(idText), flags);
}
TQ_CATCH_CODE

TQ_API int TQP11_WriteX509Cert(TQXP11_SESSION *session, const char *certText, const char *label,
                               const char *idText, int flags) try {
    tq::ErrorQueueScope scope;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = decodeText(TQXCRYPT_KIND_CERTIFICATE, certText, &made);
    tq::HandlePtr certificate(made);
    if (rc != TQ_RTN_OK) return rc;
    made = nullptr;
    rc = TQXCrypt_CertGetPublicKey(certificate.get(), &made);
    tq::HandlePtr key(made);
    if (rc != TQ_RTN_OK) return rc;
    return tqbridge::writeCertificate(session, certificate.get(), label, tqbridge::textBytes(idText), flags);
}
TQ_CATCH_CODE

TQ_API int TQP11_WriteP7Cert(TQXP11_SESSION *session, const char *p7Text, const char *label,
                             const char *idText, int flags) try {
    tq::ErrorQueueScope scope;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = decodeText(TQXCRYPT_KIND_PKCS7, p7Text, &made);
    tq::HandlePtr pkcs7(made);
    if (rc != TQ_RTN_OK) return rc;
    made = nullptr;
    rc = TQXCrypt_PKCS7GetUserCertificate(pkcs7.get(), &made);
    tq::HandlePtr certificate(made);
    if (rc != TQ_RTN_OK) return rc;
    tq::OwnedBlob text;
    rc = TQXCrypt_EncodeObject(certificate.get(), TQXCRYPT_KIND_CERTIFICATE, text.get(), TQXCRYPT_ENCODE_TEXT,
                               nullptr);
    if (rc != TQ_RTN_OK) return rc;
    return TQP11_WriteX509Cert(session, reinterpret_cast<const char *>(text.data()), label, idText, flags);
}
TQ_CATCH_CODE

TQ_API int TQP11_AcceptCert(TQXP11_SESSION *session, const char *certText, int flags) try {
    tq::ErrorQueueScope scope;
    tq::HandlePtr certificate, certificateKey;
    int rc = certificateAndKey(certText, certificate, certificateKey);
    if (rc != TQ_RTN_OK) return rc;
    if (!session) return TQ_RTN_BAD_ARGUMENT;
    ListOwner keys;
    TQXP11_OBJECT filter = tqbridge::searchRecord("", TQXP11_KIND_RSA_PUBLIC, false);
    rc = TQXP11_GetObjectList(session, &filter, &keys.list, &keys.count);
    if (rc == TQP11_RTN_OBJECT_NOT_EXIST || (rc == TQ_RTN_OK && keys.count == 0))
        return TQP11_RTN_OBJECT_NOT_EXIST;
    if (rc != TQ_RTN_OK) return rc;
    // Each listed key is compared by the values the listing read: a label
    // that several keys share still names the key that matched.
    for (CK_ULONG i = 0; i < keys.count; ++i) {
        tq::HandlePtr listed;
        rc = listedPublicKey(keys.list[i], listed);
        if (rc == TQ_RTN_OK) rc = TQXCrypt_CheckKeyPair(listed.get(), certificateKey.get());
        if (rc != TQ_RTN_OK) continue;
        const TQXP11_OBJECT &key = keys.list[i];
        // The ID goes whole, zero bytes and all: it is what pairs the objects.
        return tqbridge::writeCertificate(session, certificate.get(), key.label,
                                          key.valueRecord->rsaPublic.id, flags);
    }
    return rc;
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_DeleteCertificate(TQXP11_SESSION *session, const char *certText, int flags) try {
    tq::ErrorQueueScope scope;
    tq::HandlePtr given, givenKey;
    int rc = certificateAndKey(certText, given, givenKey);
    if (rc != TQ_RTN_OK) return rc;
    ListOwner certificates;
    if ((rc = listCertificates(session, &certificates.list, &certificates.count)) != TQ_RTN_OK) return rc;
    if (certificates.count == 0) return TQP11_RTN_OBJECT_NOT_EXIST;
    const TQXP11_OBJECT *match = nullptr;
    for (CK_ULONG i = 0; i < certificates.count && !match; ++i) {
        tq::HandlePtr listed, listedKey;
        TQXCRYPT_HANDLE *made = nullptr;
        rc = listedCertificate(certificates.list[i], listed);
        if (rc == TQ_RTN_OK) rc = TQXCrypt_CertGetPublicKey(listed.get(), &made);
        listedKey.reset(made);
        if (rc == TQ_RTN_OK) rc = TQXCrypt_CheckKeyPair(listedKey.get(), givenKey.get());
        if (rc == TQ_RTN_OK) match = &certificates.list[i];
    }
    if (!match) return rc;
    // The name is a label here whatever the flags say.
    const int byLabel = flags & ~TQXP11_BY_CKA_ID;
    const int privateKey =
        TQXP11Crypt_DeleteObject(session, match->label, TQXP11_KIND_RSA_PRIVATE, 1, byLabel);
    const int publicKey = TQXP11Crypt_DeleteObject(session, match->label, TQXP11_KIND_RSA_PUBLIC, 0, byLabel);
    rc = TQXP11Crypt_DeleteObject(session, match->label, TQXP11_KIND_CERTIFICATE, 0, byLabel);
    if (rc != TQ_RTN_OK) return rc;
    // A key that was never there is no failure; one that stayed is.
    for (int keyResult : {privateKey, publicKey})
        if (keyResult != TQ_RTN_OK && keyResult != TQP11_RTN_OBJECT_NOT_EXIST) return keyResult;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

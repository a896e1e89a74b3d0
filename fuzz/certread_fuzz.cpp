// Untrusted certificates through every reader, and untrusted bytes through
// the time renderer. The first byte chooses: 0 a DER certificate, 1 a
// UTCTime, 2 a GeneralizedTime.
#include <cstring>
#include <string>

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include "tqxcrypt.h"
#include "tqxcrypt_x509.h"

namespace {

const char *const kTypes[] = {"nsCertType",
                              "nsComment",
                              "subjectKeyIdentifier",
                              "keyUsage",
                              "privateKeyUsagePeriod",
                              "subjectAltName",
                              "issuerAltName",
                              "basicConstraints",
                              "crlNumber",
                              "certificatePolicies",
                              "authorityKeyIdentifier",
                              "crlDistributionPoints",
                              "extendedKeyUsage",
                              "CRLReason",
                              "authorityInfoAccess",
                              "freshestCRL",
                              "subjectDirectoryAttributes"};
const char *const kAttributes[] = {"2.16.886.1.100.2.51", "2.16.886.1.100.2.2",   "2.16.886.1.100.2.101",
                                   "2.16.886.1.100.2.1",  "2.16.886.1.100.2.102", "1.2.3.9"};

bool listValued(const X509_EXTENSION *extension) {
    const X509V3_EXT_METHOD *method = X509V3_EXT_get(const_cast<X509_EXTENSION *>(extension));
    if (!method) return false;
    switch (method->ext_nid) {
    case NID_subject_alt_name:
    case NID_issuer_alt_name:
    case NID_basic_constraints:
    case NID_certificate_policies:
    case NID_authority_key_identifier:
    case NID_crl_distribution_points:
    case NID_info_access:
        return true;
    default:
        return false;
    }
}

// One lookup into storage of either form, released by the form of the type.
void readExtension(TQXCRYPT_HANDLE *cert, const char *type, bool list) {
    TQXCRYPT_BLOB blob{0, nullptr};
    TQXCRYPT_ATTRIBUTES attributes{0, nullptr};
    int critical = 0;
    TQXCrypt_CertGetExtension(cert, type, 0, list ? static_cast<void *>(&attributes) : &blob, &critical);
    TQXCryptFreeAttributes(&attributes);
    TQXCryptFreeBlob(&blob);
}

void readCertificate(const unsigned char *data, size_t size) {
    TQXCRYPT_HANDLE *cert = nullptr;
    if (TQXCrypt_DecodeObject(&cert, TQXCRYPT_KIND_CERTIFICATE, data, size, 0, nullptr) != 0) return;
    char *text = nullptr;
    for (auto reader :
         {TQXCrypt_CertGetSubject, TQXCrypt_CertGetIssuer, TQXCrypt_CertGetSignatureAlgorithm}) {
        text = nullptr;
        if (reader(cert, 0, &text) == 0) TQCryptMemFree(text);
    }
    char time[64];
    TQXCrypt_CertGetNotBefore(cert, 0, time);
    TQXCrypt_CertGetNotAfter(cert, 0, time);
    TQXCRYPT_BLOB serial{0, nullptr};
    TQXCrypt_CertGetSerialNumber(cert, 0, &serial);
    TQXCryptFreeBlob(&serial);
    int bits = 0;
    TQXCrypt_CertGetKeyUsage(cert, &bits);
    TQXCRYPT_HANDLE *key = nullptr;
    if (TQXCrypt_CertGetPublicKey(cert, &key) == 0) TQXCryptFreeHandle(key);

    auto *x509 = static_cast<X509 *>(cert->object);
    for (const char *type : kTypes) {
        ASN1_OBJECT *object = OBJ_txt2obj(type, 0);
        int at = object ? X509_get_ext_by_OBJ(x509, object, -1) : -1;
        ASN1_OBJECT_free(object);
        readExtension(cert, type, at >= 0 && listValued(X509_get_ext(x509, at)));
    }
    for (int i = 0; i < X509_get_ext_count(x509); ++i) {
        X509_EXTENSION *extension = X509_get_ext(x509, i);
        char dotted[256];
        if (OBJ_obj2txt(dotted, sizeof dotted, X509_EXTENSION_get_object(extension), 1) <= 0) continue;
        readExtension(cert, dotted, listValued(extension));
        TQXCRYPT_BLOB raw{0, nullptr};
        tqxCryptGetOCSPExtensionValue(extension, &raw, nullptr);
        TQXCryptFreeBlob(&raw);
    }
    for (const char *attribute : kAttributes) {
        TQXCRYPT_BLOB value{0, nullptr};
        TQXCrypt_CertGetSubjectDirectoryAttrs(cert, attribute, 0, &value);
        TQXCryptFreeBlob(&value);
    }
    for (int selector = 1; selector <= 8; ++selector) {
        text = nullptr;
        if (TQXCrypt_CertGetKDRAExtension(cert, selector, &text) == 0) TQCryptMemFree(text);
    }
    TQXCryptFreeHandle(cert);
}

void renderTime(int type, const unsigned char *data, size_t size) {
    ASN1_STRING *time = ASN1_STRING_type_new(type);
    if (!time || !ASN1_STRING_set(time, data, static_cast<int>(size))) {
        ASN1_STRING_free(time);
        return;
    }
    // Bytes beyond the 20 of the text stay as they were.
    char text[TQXCRYPT_TIME_TEXT_SIZE + 8];
    std::memset(text, 0x5A, sizeof text);
    if (tqxGetCertTimeFormat(time, 0, text) == 0 && (text[19] != 0 || text[20] != 0x5A)) __builtin_trap();
    ASN1_STRING_free(time);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size < 1 || size > 1 << 20) return 0;
    switch (data[0] % 3) {
    case 0:
        readCertificate(data + 1, size - 1);
        break;
    case 1:
        renderTime(V_ASN1_UTCTIME, data + 1, size - 1);
        break;
    default:
        renderTime(V_ASN1_GENERALIZEDTIME, data + 1, size - 1);
        break;
    }
    return 0;
}

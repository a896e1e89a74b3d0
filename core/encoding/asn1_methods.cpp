// The per-kind method tables (encode, decode, sign, verify, free) and the
// two entry points that dispatch through them.
#include <openssl/pem.h>

#include "encoding_internal.h"

namespace {

template <class T, int (*F)(const T *, unsigned char **)>
int i2dOf(const void *object, unsigned char **out) {
    return F(static_cast<const T *>(object), out);
}
template <class T, T *(*F)(T **, const unsigned char **, long)>
void *d2iOf(void **, const unsigned char **in, long length) {
    return F(nullptr, in, length);
}
template <class T, void (*F)(T *)>
void freeOf(void *object) {
    F(static_cast<T *>(object));
}

// How the armour argument of encode chooses a label.
enum class Armour {
    IntFlag,      // a non-null pointer to a non-zero int asks for armour
    RequestFlag,  // as IntFlag; the value 2 names a new certificate request
    AnyPointer,   // any non-null pointer asks for armour
    Never,        // bare Base64 only
    DerOnly,      // the text flags are ignored
};

struct KindInfo {
    int kind;
    tq::I2d i2d;
    tq::D2i d2i;
    void (*freeObject)(void *);
    const char *label;
    const char *labelsRead;
    int badData;
    Armour armour;
    const TQXCRYPT_ASN1_METHOD *(*table)();
    const TQXCRYPT_KEY_METHOD *(*keyMethod)();
};

const char *labelFor(const KindInfo &k, const void *armour) {
    switch (k.armour) {
    case Armour::IntFlag:
        return armour && *static_cast<const int *>(armour) ? k.label : nullptr;
    case Armour::RequestFlag:
        if (!armour || !*static_cast<const int *>(armour)) return nullptr;
        return *static_cast<const int *>(armour) == 2 ? "NEW CERTIFICATE REQUEST" : k.label;
    case Armour::AnyPointer:
        return armour ? k.label : nullptr;
    case Armour::Never:
    case Armour::DerOnly:
        return nullptr;
    }
    return nullptr;
}

// Key handles by kind alone: the token key tables share these operations.
// Any other handle by its table too, so that a kind number two objects
// share (a cipher context's and an OCSP request's) takes neither for the other.
int encodeWith(const KindInfo &k, TQXCRYPT_HANDLE *handle, TQXCRYPT_BLOB *out, int flags, void *armour) {
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    void *object = nullptr;
    int rc = k.keyMethod ? tq::objectOf(handle, k.kind, &object)
                         : tq::objectOf(handle, k.kind, k.table(), &object);
    if (rc != TQ_RTN_OK) return rc;
    int text = k.armour != Armour::DerOnly && (flags & TQXCRYPT_ENCODE_TEXT);
    return tqxCrypt_ASN1_Encode(object, k.i2d, text, text ? labelFor(k, armour) : nullptr, out);
}

// Wraps a parsed object into a handle of its kind; the object is freed when
// the handle cannot be made.
int wrap(const KindInfo &k, void *object, TQXCRYPT_HANDLE **out) {
    void *extra = k.keyMethod ? const_cast<TQXCRYPT_KEY_METHOD *>(k.keyMethod()) : nullptr;
    int rc = tqxCryptCreateHandle(out, k.kind, object, k.table(), extra);
    if (rc != TQ_RTN_OK) k.freeObject(object);
    return rc;
}

int decodeWith(const KindInfo &k, TQXCRYPT_HANDLE **out, const unsigned char *data, uint64_t length,
               int flags, const char *) {
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    *out = nullptr;
    if (!tq::fitsInt(length)) return TQ_RTN_BAD_ARGUMENT;
    int text = k.armour != Armour::DerOnly && (flags & TQXCRYPT_DECODE_TEXT);
    void *object = nullptr;
    int rc = tqxCrypt_ASN1_Decode(&object, data, static_cast<size_t>(length), k.d2i, text,
                                  k.armour == Armour::Never ? nullptr : k.labelsRead);
    if (rc == TQ_RTN_BAD_FORMAT) return k.badData;
    if (rc != TQ_RTN_OK) return rc;
    return wrap(k, object, out);
}

// Only a handle of the table's own: another's object would be freed as
// what it is not.
void freeWith(const KindInfo &k, TQXCRYPT_HANDLE *handle) {
    void *object = nullptr;
    if (!handle || tq::objectOf(handle, k.kind, k.table(), &object, tq::Presence::Optional) != TQ_RTN_OK)
        return;
    if (object) k.freeObject(object);
    TQCryptMemFree(handle);
}

template <const KindInfo *K>
int encodeOp(TQXCRYPT_HANDLE *h, TQXCRYPT_BLOB *out, int flags, void *armour) {
    tq::ErrorQueueScope scope;
    return encodeWith(*K, h, out, flags, armour);
}
template <const KindInfo *K>
int decodeOp(TQXCRYPT_HANDLE **out, const unsigned char *data, uint64_t length, int flags, const char *pw) {
    tq::ErrorQueueScope scope;
    return decodeWith(*K, out, data, length, flags, pw);
}
template <const KindInfo *K>
void freeOp(TQXCRYPT_HANDLE *h) {
    freeWith(*K, h);
}

int i2dPrivateKey(const void *key, unsigned char **out) {
    return i2d_PrivateKey(static_cast<const EVP_PKEY *>(key), out);
}
void *d2iPrivateKey(void **, const unsigned char **in, long length) {
    return d2i_AutoPrivateKey(nullptr, in, length);
}

extern const KindInfo kCertificate, kCertRequest, kCrl, kPkcs7, kSignerInfo, kPrivateKey, kPublicKey,
    kOcspRequest, kOcspResponse, kPkcs12, kPkcs8, kPkcs8Info;

constexpr KindInfo kCertificate{TQXCRYPT_KIND_CERTIFICATE,
                                i2dOf<X509, i2d_X509>,
                                d2iOf<X509, d2i_X509>,
                                freeOf<X509, X509_free>,
                                "CERTIFICATE",
                                "CERTIFICATE;X509 CERTIFICATE",
                                TQ_RTN_BAD_CERTIFICATE,
                                Armour::IntFlag,
                                tqxCryptASN1CertificateMethod,
                                nullptr};
constexpr KindInfo kCertRequest{TQXCRYPT_KIND_CERTREQUEST,     i2dOf<X509_REQ, i2d_X509_REQ>,
                                d2iOf<X509_REQ, d2i_X509_REQ>, freeOf<X509_REQ, X509_REQ_free>,
                                "CERTIFICATE REQUEST",         "CERTIFICATE REQUEST;NEW CERTIFICATE REQUEST",
                                TQ_RTN_BAD_CERTREQUEST,        Armour::RequestFlag,
                                tqxCryptASN1CertRequestMethod, nullptr};
constexpr KindInfo kCrl{TQXCRYPT_KIND_CRL,
                        i2dOf<X509_CRL, i2d_X509_CRL>,
                        d2iOf<X509_CRL, d2i_X509_CRL>,
                        freeOf<X509_CRL, X509_CRL_free>,
                        "X509 CRL",
                        "X509 CRL",
                        TQ_RTN_BAD_CRL,
                        Armour::IntFlag,
                        tqxCryptASN1CRLMethod,
                        nullptr};
constexpr KindInfo kPkcs7{TQXCRYPT_KIND_PKCS7,
                          i2dOf<PKCS7, i2d_PKCS7>,
                          d2iOf<PKCS7, d2i_PKCS7>,
                          freeOf<PKCS7, PKCS7_free>,
                          "PKCS7",
                          "PKCS7",
                          TQ_RTN_BAD_PKCS7,
                          Armour::IntFlag,
                          tqxCryptASN1PKCS7Method,
                          nullptr};
constexpr KindInfo kSignerInfo{TQXCRYPT_KIND_SIGNERINFO,
                               i2dOf<PKCS7_SIGNER_INFO, i2d_PKCS7_SIGNER_INFO>,
                               d2iOf<PKCS7_SIGNER_INFO, d2i_PKCS7_SIGNER_INFO>,
                               freeOf<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>,
                               nullptr,
                               nullptr,
                               TQ_RTN_BAD_FORMAT,
                               Armour::Never,
                               tqxCryptASN1SignerInfoMethod,
                               nullptr};
constexpr KindInfo kPrivateKey{TQXCRYPT_KIND_PRIVATEKEY,
                               i2dPrivateKey,
                               d2iPrivateKey,
                               freeOf<EVP_PKEY, EVP_PKEY_free>,
                               "RSA PRIVATE KEY",
                               "RSA PRIVATE KEY;DSA PRIVATE KEY",
                               TQ_RTN_INVALID_KEY,
                               Armour::IntFlag,
                               tqxCryptASN1PrivateKeyMethod,
                               tqxCryptRSAPriMethod};
constexpr KindInfo kPublicKey{TQXCRYPT_KIND_PUBLICKEY,
                              i2dOf<EVP_PKEY, i2d_PUBKEY>,
                              d2iOf<EVP_PKEY, d2i_PUBKEY>,
                              freeOf<EVP_PKEY, EVP_PKEY_free>,
                              "PUBLIC KEY",
                              "PUBLIC KEY;RSA PUBLIC KEY;DSA PUBLIC KEY",
                              TQ_RTN_INVALID_KEY,
                              Armour::IntFlag,
                              tqxCryptASN1PublicKeyMethod,
                              tqxCryptRSAPubMethod};
constexpr KindInfo kOcspRequest{TQXCRYPT_KIND_OCSPREQUEST,
                                i2dOf<OCSP_REQUEST, i2d_OCSP_REQUEST>,
                                d2iOf<OCSP_REQUEST, d2i_OCSP_REQUEST>,
                                freeOf<OCSP_REQUEST, OCSP_REQUEST_free>,
                                "OCSP REQUEST",
                                "OCSP REQUEST",
                                TQ_RTN_BAD_FORMAT,
                                Armour::IntFlag,
                                tqxCryptASN1OCSPRequestMethod,
                                nullptr};
constexpr KindInfo kOcspResponse{TQXCRYPT_KIND_OCSPRESPONSE,
                                 i2dOf<OCSP_RESPONSE, i2d_OCSP_RESPONSE>,
                                 d2iOf<OCSP_RESPONSE, d2i_OCSP_RESPONSE>,
                                 freeOf<OCSP_RESPONSE, OCSP_RESPONSE_free>,
                                 "OCSP RESPONSE",
                                 "OCSP RESPONSE",
                                 TQ_RTN_BAD_FORMAT,
                                 Armour::IntFlag,
                                 tqxCryptASN1OCSPResponseMethod,
                                 nullptr};
constexpr KindInfo kPkcs12{TQXCRYPT_KIND_PKCS12,
                           i2dOf<PKCS12, i2d_PKCS12>,
                           d2iOf<PKCS12, d2i_PKCS12>,
                           freeOf<PKCS12, PKCS12_free>,
                           nullptr,
                           nullptr,
                           TQ_RTN_BAD_PKCS12,
                           Armour::DerOnly,
                           tqxCryptASN1PKCS12Method,
                           nullptr};
constexpr KindInfo kPkcs8{TQXCRYPT_KIND_PKCS8,
                          i2dOf<X509_SIG, i2d_X509_SIG>,
                          d2iOf<X509_SIG, d2i_X509_SIG>,
                          freeOf<X509_SIG, X509_SIG_free>,
                          "ENCRYPTED PRIVATE KEY",
                          "ENCRYPTED PRIVATE KEY",
                          TQ_RTN_INVALID_KEY,
                          Armour::AnyPointer,
                          tqxCryptASN1PKCS8Method,
                          nullptr};
constexpr KindInfo kPkcs8Info{TQXCRYPT_KIND_PKCS8INFO,
                              i2dOf<PKCS8_PRIV_KEY_INFO, i2d_PKCS8_PRIV_KEY_INFO>,
                              d2iOf<PKCS8_PRIV_KEY_INFO, d2i_PKCS8_PRIV_KEY_INFO>,
                              freeOf<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>,
                              "PRIVATE KEY",
                              "PRIVATE KEY",
                              TQ_RTN_INVALID_KEY,
                              Armour::AnyPointer,
                              tqxCryptASN1PKCS8InfoMethod,
                              nullptr};

// Private keys: `armour` is a password text; with one, OpenSSL's traditional
// password-encrypted PEM.
int encodePrivateKey(TQXCRYPT_HANDLE *handle, TQXCRYPT_BLOB *out, int flags, void *armour) {
    tq::ErrorQueueScope scope;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    EVP_PKEY *key = nullptr;
    int rc = tq::objectOf(handle, TQXCRYPT_KIND_PRIVATEKEY, &key);
    if (rc != TQ_RTN_OK) return rc;
    const char *password = static_cast<const char *>(armour);
    if (!(flags & TQXCRYPT_ENCODE_TEXT)) return tqxCrypt_ASN1_Encode(key, i2dPrivateKey, 0, nullptr, out);
    if (!password) return tqxCrypt_ASN1_Encode(key, i2dPrivateKey, 1, nullptr, out);
    if (!*password) {
        auto *methods = static_cast<const TQXCRYPT_KEY_METHOD *>(handle->extra);
        int type = methods && methods->keyType ? methods->keyType(handle) : 0;
        return tqxCrypt_ASN1_Encode(key, i2dPrivateKey, 1,
                                    type == EVP_PKEY_DSA ? "DSA PRIVATE KEY" : "RSA PRIVATE KEY", out);
    }
    size_t passwordLength = std::strlen(password);
    if (!tq::fitsInt(passwordLength)) return TQ_RTN_BAD_ARGUMENT;
    tq::EvpCipherPtr cipher(EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr));
    if (!cipher) cipher.reset(EVP_CIPHER_fetch(nullptr, "DES-CBC", nullptr));
    if (!cipher) return TQ_RTN_NOT_SUPPORTED;
    tq::BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (!PEM_write_bio_PrivateKey_traditional(bio.get(), key, cipher.get(),
                                              reinterpret_cast<const unsigned char *>(password),
                                              static_cast<int>(passwordLength), nullptr, nullptr))
        return TQ_RTN_BAD_FORMAT;
    char *pem = nullptr;
    long n = BIO_get_mem_data(bio.get(), &pem);
    if (n < 0) return TQ_RTN_BAD_FORMAT;
    return tq::putBlob(out, pem, static_cast<size_t>(n));
}

int decodePrivateKey(TQXCRYPT_HANDLE **out, const unsigned char *data, uint64_t length, int flags,
                     const char *password) {
    tq::ErrorQueueScope scope;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    *out = nullptr;
    if (!(flags & TQXCRYPT_DECODE_TEXT) || !password || !*password)
        return decodeWith(kPrivateKey, out, data, length, flags, password);
    if (!tq::fitsInt(length) || (length > 0 && !data)) return TQ_RTN_BAD_ARGUMENT;
    // No text holds no key; a memory BIO over no buffer would fail as if
    // memory had run out.
    if (length == 0) return TQ_RTN_INVALID_KEY;
    tq::BioPtr bio(BIO_new_mem_buf(data, static_cast<int>(length)));
    if (!bio) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    EVP_PKEY *key =
        PEM_read_bio_PrivateKey(bio.get(), nullptr, tqcrypt_passwd_cb, const_cast<char *>(password));
    if (!key) return TQ_RTN_INVALID_KEY;
    return wrap(kPrivateKey, key, out);
}

// A sign or verify operation takes only an object of its own table; the key
// is the operation's to check.
template <const KindInfo *K, int (*Operation)(TQXCRYPT_HANDLE *, TQXCRYPT_HANDLE *, int)>
int signOp(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags) {
    void *held = nullptr;
    int rc = tq::objectOf(object, K->kind, K->table(), &held);
    return rc == TQ_RTN_OK ? Operation(object, key, flags) : rc;
}

#define TQ_TABLE(name, info) \
    const TQXCRYPT_ASN1_METHOD name = {encodeOp<&info>, decodeOp<&info>, nullptr, nullptr, freeOp<&info>};
#define TQ_SIGNED_TABLE(name, info, sign, verify)                                             \
    const TQXCRYPT_ASN1_METHOD name = {encodeOp<&info>, decodeOp<&info>, signOp<&info, sign>, \
                                       signOp<&info, verify>, freeOp<&info>};

TQ_SIGNED_TABLE(tqASN1CertificateMethod, kCertificate, tq::signCertificate, tq::verifyCertificate)
TQ_SIGNED_TABLE(tqASN1CertRequestMethod, kCertRequest, tq::signCertRequest, tq::verifyCertRequest)
TQ_SIGNED_TABLE(tqASN1CRLMethod, kCrl, tq::signCrl, tq::verifyCrl)
TQ_TABLE(tqASN1PKCS7Method, kPkcs7)
TQ_TABLE(tqASN1SignerInfoMethod, kSignerInfo)
TQ_TABLE(tqASN1PublicKeyMethod, kPublicKey)
TQ_SIGNED_TABLE(tqASN1OCSPRequestMethod, kOcspRequest, tq::signOcspRequest, tq::verifyOcspRequest)
const TQXCRYPT_ASN1_METHOD tqASN1OCSPResponseMethod = {
    encodeOp<&kOcspResponse>, decodeOp<&kOcspResponse>, nullptr,
    signOp<&kOcspResponse, tq::verifyOcspResponse>, freeOp<&kOcspResponse>};
TQ_TABLE(tqASN1PKCS8Method, kPkcs8)
TQ_TABLE(tqASN1PKCS8InfoMethod, kPkcs8Info)
#undef TQ_TABLE
#undef TQ_SIGNED_TABLE

const TQXCRYPT_ASN1_METHOD tqASN1PrivateKeyMethod = {encodePrivateKey, decodePrivateKey, nullptr, nullptr,
                                                     freeOp<&kPrivateKey>};

void freePkcs12(TQXCRYPT_HANDLE *handle) {
    PKCS12 *p12 = nullptr;
    if (!handle ||
        tq::objectOf(handle, kPkcs12.kind, kPkcs12.table(), &p12, tq::Presence::Optional) != TQ_RTN_OK)
        return;
    tqxCryptFreeP12List(static_cast<TQXCRYPT_P12_CONTENTS *>(handle->extra));
    freeWith(kPkcs12, handle);
}
const TQXCRYPT_ASN1_METHOD tqASN1PKCS12Method = {encodeOp<&kPkcs12>, decodeOp<&kPkcs12>, nullptr, nullptr,
                                                 freePkcs12};

}  // namespace

extern "C" {

const TQXCRYPT_ASN1_METHOD *tqxCryptASN1CertificateMethod(void) try { return &tqASN1CertificateMethod; }
TQ_CATCH_EMPTY
const TQXCRYPT_ASN1_METHOD *tqxCryptASN1PrivateKeyMethod(void) try { return &tqASN1PrivateKeyMethod; }
TQ_CATCH_EMPTY
const TQXCRYPT_ASN1_METHOD *tqxCryptASN1PublicKeyMethod(void) try { return &tqASN1PublicKeyMethod; }
TQ_CATCH_EMPTY
const TQXCRYPT_ASN1_METHOD *tqxCryptASN1PKCS7Method(void) try { return &tqASN1PKCS7Method; }
TQ_CATCH_EMPTY
const TQXCRYPT_ASN1_METHOD *tqxCryptASN1SignerInfoMethod(void) try { return &tqASN1SignerInfoMethod; }
TQ_CATCH_EMPTY
const TQXCRYPT_ASN1_METHOD *tqxCryptASN1OCSPRequestMethod(void) try { return &tqASN1OCSPRequestMethod; }
TQ_CATCH_EMPTY
const TQXCRYPT_ASN1_METHOD *tqxCryptASN1OCSPResponseMethod(void) try { return &tqASN1OCSPResponseMethod; }
TQ_CATCH_EMPTY
const TQXCRYPT_ASN1_METHOD *tqxCryptASN1CertRequestMethod(void) try { return &tqASN1CertRequestMethod; }
TQ_CATCH_EMPTY
const TQXCRYPT_ASN1_METHOD *tqxCryptASN1CRLMethod(void) try { return &tqASN1CRLMethod; }
TQ_CATCH_EMPTY
const TQXCRYPT_ASN1_METHOD *tqxCryptASN1PKCS12Method(void) try { return &tqASN1PKCS12Method; }
TQ_CATCH_EMPTY
const TQXCRYPT_ASN1_METHOD *tqxCryptASN1PKCS8Method(void) try { return &tqASN1PKCS8Method; }
TQ_CATCH_EMPTY
const TQXCRYPT_ASN1_METHOD *tqxCryptASN1PKCS8InfoMethod(void) try { return &tqASN1PKCS8InfoMethod; }
TQ_CATCH_EMPTY

int tqcrypt_passwd_cb(char *buffer, int size, int, void *password) try {
    if (!password || !buffer || size < 0) return -1;
    size_t n = std::strlen(static_cast<const char *>(password));
    if (n > static_cast<size_t>(size)) n = static_cast<size_t>(size);
    std::memcpy(buffer, password, n);
    return static_cast<int>(n);
}
TQ_CATCH_RETURN(-1)

int TQXCrypt_DecodeObject(TQXCRYPT_HANDLE **out, int kind, const unsigned char *data, size_t length,
                          int flags, const char *password) try {
    tq::ErrorQueueScope scope;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    TQXCryptInitialize();
    *out = nullptr;
    const TQXCRYPT_ASN1_METHOD *table = nullptr;
    switch (kind) {
    case TQXCRYPT_KIND_CERTIFICATE:
        table = &tqASN1CertificateMethod;
        break;
    case TQXCRYPT_KIND_CERTREQUEST:
        table = &tqASN1CertRequestMethod;
        break;
    case TQXCRYPT_KIND_CRL:
        table = &tqASN1CRLMethod;
        break;
    case TQXCRYPT_KIND_PKCS7:
        table = &tqASN1PKCS7Method;
        break;
    case TQXCRYPT_KIND_SIGNERINFO:
        table = &tqASN1SignerInfoMethod;
        break;
    case TQXCRYPT_KIND_PRIVATEKEY:
        table = &tqASN1PrivateKeyMethod;
        break;
    case TQXCRYPT_KIND_PUBLICKEY:
        table = &tqASN1PublicKeyMethod;
        break;
    case TQXCRYPT_KIND_PKCS12:
        table = &tqASN1PKCS12Method;
        break;
    case TQXCRYPT_KIND_PKCS8:
        table = &tqASN1PKCS8Method;
        break;
    case TQXCRYPT_KIND_PKCS8INFO:
        table = &tqASN1PKCS8InfoMethod;
        break;
    default:
        return TQ_RTN_BAD_ARGUMENT;
    }
    return table->decode(out, data, length, flags, password);
}
TQ_CATCH_CODE

int TQXCrypt_EncodeObject(TQXCRYPT_HANDLE *handle, int kind, TQXCRYPT_BLOB *out, int flags,
                          void *armour) try {
    tq::ErrorQueueScope scope;
    void *object = nullptr;
    int rc = tq::objectOf(handle, kind, &object);
    if (rc != TQ_RTN_OK) return rc;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    if (!handle->asn1Method) return TQ_RTN_WRONG_HANDLE;
    if (!handle->asn1Method->encode) return TQ_RTN_NOT_SUPPORTED;
    return handle->asn1Method->encode(handle, out, flags, armour);
}
TQ_CATCH_CODE

}  // extern "C"

// PKCS#12 export of a private key, its certificate and CA certificates.
#include <openssl/pkcs12.h>

#include "containers_internal.h"

namespace tq {

int makePkcs12(const char *password, EVP_PKEY *key, X509 *cert, STACK_OF(X509) *ca, Pkcs12Ptr *out) {
    const int pbe = NID_pbe_WithSHA1And3_Key_TripleDES_CBC;
    const int iterations = 2048;
    // No MAC from PKCS12_create (its digest would be 3.0's SHA-256): one with
    // SHA-1 follows.
    Pkcs12Ptr p12(PKCS12_create(password, nullptr, key, cert, ca, pbe, pbe, iterations, -1, 0));
    if (!p12 || PKCS12_set_mac(p12.get(), password, -1, nullptr, 0, iterations, EVP_sha1()) != 1)
        return TQ_RTN_INVALID_KEY;
    *out = std::move(p12);
    return TQ_RTN_OK;
}

int pkcs12Der(PKCS12 *p12, TqMem *der, size_t *length) {
    unsigned char *encoded = nullptr;
    int n = i2d_PKCS12(p12, &encoded);
    OsslBytes owner(encoded);
    if (n <= 0) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    TqMem copy = tqAlloc(static_cast<size_t>(n));
    if (!copy) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    std::memcpy(copy.get(), encoded, static_cast<size_t>(n));
    *der = std::move(copy);
    *length = static_cast<size_t>(n);
    return TQ_RTN_OK;
}

}  // namespace tq

extern "C" int TQXCrypt_ExportPKCS12(TQXCRYPT_HANDLE *privateKey, TQXCRYPT_HANDLE *cert,
                                     TQXCRYPT_HANDLE **caCerts, int caCount, unsigned char **der,
                                     uint64_t *length, const char *password) try {
    tq::ErrorQueueScope scope;
    TQXCryptInitialize();
    EVP_PKEY *key = nullptr;
    X509 *x509 = nullptr;
    int rc = tq::objectOf(privateKey, TQXCRYPT_KIND_PRIVATEKEY, &key);
    if (rc == TQ_RTN_OK) rc = tq::objectOf(cert, TQXCRYPT_KIND_CERTIFICATE, &x509);
    if (rc != TQ_RTN_OK) return rc;
    if (caCount < 0 || (caCount > 0 && !caCerts) || !der || !length) return TQ_RTN_BAD_ARGUMENT;
    tq::CertList ca(sk_X509_new_null());
    if (!ca) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    for (int i = 0; i < caCount; ++i) {
        X509 *one = nullptr;
        rc = tq::objectOf(caCerts[i], TQXCRYPT_KIND_CERTIFICATE, &one);
        if (rc != TQ_RTN_OK) return rc;
        if (!sk_X509_push(ca.get(), one)) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    tq::Pkcs12Ptr p12;
    rc = tq::makePkcs12(password, key, x509, ca.get(), &p12);
    if (rc != TQ_RTN_OK) return rc;
    tq::TqMem encoded;
    size_t n = 0;
    rc = tq::pkcs12Der(p12.get(), &encoded, &n);
    if (rc != TQ_RTN_OK) return rc;
    *der = encoded.release();
    *length = n;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

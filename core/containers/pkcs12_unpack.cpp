// PKCS#12 handles (kind 11): unpacking with a password into the handle's
// contents, and taking keys and certificates from them by index.
#include <openssl/err.h>
#include <openssl/pkcs12.h>

#include "containers_internal.h"
#include "encoding_internal.h"

namespace tq {

namespace {

// The password as the MAC verified it.
struct Password {
    const char *text = nullptr;
    int length = 0;
};

// An empty password is written two ways: as none (our own and openssl's
// `-passout pass:` in older releases) or as "" (openssl's today, and our
// export with ""). The one the MAC verifies decrypts.
int verifyMac(PKCS12 *p12, const char *password, Password *verified) {
    if (password && *password) {
        size_t n = std::strlen(password);
        if (!fitsInt(n)) return TQ_RTN_BAD_ARGUMENT;
        if (PKCS12_verify_mac(p12, password, static_cast<int>(n)) != 1) return TQ_RTN_P12_BAD_MAC;
        *verified = {password, static_cast<int>(n)};
        return TQ_RTN_OK;
    }
    if (PKCS12_verify_mac(p12, nullptr, 0) == 1) {
        *verified = {nullptr, 0};
        return TQ_RTN_OK;
    }
    if (PKCS12_verify_mac(p12, "", 0) == 1) {
        *verified = {"", 0};
        return TQ_RTN_OK;
    }
    return TQ_RTN_P12_BAD_MAC;
}

struct Lists {
    KeyStack keys{sk_EVP_PKEY_new_null()};
    CertStack caCerts{sk_X509_new_null()};
    CertStack userCerts{sk_X509_new_null()};
};

int addKey(Lists &lists, const PKCS8_PRIV_KEY_INFO *info) {
    EvpPkeyPtr key(EVP_PKCS82PKEY(info));
    if (!key) return TQ_RTN_OK;  // a key that does not convert is left out
    if (!sk_EVP_PKEY_push(lists.keys.get(), key.get())) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    key.release();
    return TQ_RTN_OK;
}

// Routes the bags of one safe contents; nested safe contents are routed the
// same way, their failures unreported.
int route(const STACK_OF(PKCS12_SAFEBAG) *bags, const Password &password, Lists &lists, bool outermost) {
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG *bag = sk_PKCS12_SAFEBAG_value(bags, i);
        int rc = TQ_RTN_OK;
        switch (PKCS12_SAFEBAG_get_nid(bag)) {
        case NID_keyBag:
            rc = addKey(lists, PKCS12_SAFEBAG_get0_p8inf(bag));
            break;
        case NID_pkcs8ShroudedKeyBag: {
            Pkcs8InfoPtr info(PKCS12_decrypt_skey(bag, password.text, password.length));
            if (!info) return outermost ? TQ_RTN_P12_BAD_KEY_BAG : TQ_RTN_OK;
            rc = addKey(lists, info.get());
            break;
        }
        case NID_certBag: {
            if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate) break;
            // A certificate that does not decode stays as an empty entry.
            X509Ptr cert(PKCS12_SAFEBAG_get1_cert(bag));
            STACK_OF(X509) *list =
                PKCS12_SAFEBAG_get0_attr(bag, NID_localKeyID) ? lists.userCerts.get() : lists.caCerts.get();
            if (!sk_X509_push(list, cert.get())) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
            cert.release();
            break;
        }
        case NID_safeContentsBag:
            rc = route(PKCS12_SAFEBAG_get0_safes(bag), password, lists, false);
            if (rc == TQ_RTN_MEMORY_ALLOCATE_FAIL) return rc;
            rc = TQ_RTN_OK;
            break;
        default:
            break;
        }
        if (rc != TQ_RTN_OK) return rc;
    }
    return TQ_RTN_OK;
}

int unpack(PKCS12 *p12, const Password &password, Lists &lists) {
    Pkcs7Stack safes(PKCS12_unpack_authsafes(p12));
    if (!safes) return TQ_RTN_P12_NO_AUTHSAFES;
    if (!lists.keys || !lists.caCerts || !lists.userCerts) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7 *safe = sk_PKCS7_value(safes.get(), i);
        SafeBagStack bags;
        switch (OBJ_obj2nid(safe->type)) {
        case NID_pkcs7_data:
            bags.reset(PKCS12_unpack_p7data(safe));
            break;
        case NID_pkcs7_encrypted:
            bags.reset(PKCS12_unpack_p7encdata(safe, password.text, password.length));
            break;
        default:
            continue;
        }
        if (!bags) return TQ_RTN_P12_BAD_SAFE;
        int rc = route(bags.get(), password, lists, true);
        if (rc != TQ_RTN_OK) return rc;
    }
    return TQ_RTN_OK;
}

// The unpacked contents of a PKCS#12 handle (kind 11 with the PKCS#12 table:
// an OCSP response is kind 11 too).
int contentsOf(TQXCRYPT_HANDLE *p12, TQXCRYPT_P12_CONTENTS **contents) {
    PKCS12 *object = nullptr;
    int rc = objectOf(p12, TQXCRYPT_KIND_PKCS12, tqxCryptASN1PKCS12Method(), &object);
    if (rc != TQ_RTN_OK) return rc;
    if (!p12->extra) return TQ_RTN_P12_NOT_UNPACKED;
    *contents = static_cast<TQXCRYPT_P12_CONTENTS *>(p12->extra);
    return TQ_RTN_OK;
}

int countOf(TQXCRYPT_HANDLE *p12, int *count, int (*number)(const TQXCRYPT_P12_CONTENTS &)) {
    ErrorQueueScope scope;
    TQXCRYPT_P12_CONTENTS *contents = nullptr;
    int rc = contentsOf(p12, &contents);
    if (rc != TQ_RTN_OK) return rc;
    if (!count) return TQ_RTN_BAD_ARGUMENT;
    *count = number(*contents);
    return TQ_RTN_OK;
}

int certificateAt(TQXCRYPT_HANDLE *p12, int index, TQXCRYPT_HANDLE **cert, bool user) {
    ErrorQueueScope scope;
    TQXCRYPT_P12_CONTENTS *contents = nullptr;
    int rc = contentsOf(p12, &contents);
    if (rc != TQ_RTN_OK) return rc;
    if (!cert) return TQ_RTN_BAD_ARGUMENT;
    const STACK_OF(X509) *list = user ? contents->userCerts : contents->caCerts;
    if (index >= sk_X509_num(list)) return TQ_RTN_INDEX_OUT_OF_RANGE;
    X509 *entry = index < 0 ? nullptr : sk_X509_value(list, index);
    if (!entry) return TQ_RTN_P12_NO_CERT;
    return certificateHandle(entry, cert);
}

}  // namespace

int keyHandle(EVP_PKEY *key, TQXCRYPT_HANDLE **out) {
    if (EVP_PKEY_up_ref(key) != 1) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    int rc = tqxCryptCreateHandle(out, TQXCRYPT_KIND_PRIVATEKEY, key, tqxCryptASN1PrivateKeyMethod(),
                                  const_cast<TQXCRYPT_KEY_METHOD *>(tqxCryptRSAPriMethod()));
    if (rc != TQ_RTN_OK) EVP_PKEY_free(key);
    return rc;
}

int certificateHandle(X509 *cert, TQXCRYPT_HANDLE **out) {
    if (X509_up_ref(cert) != 1) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    int rc =
        tqxCryptCreateHandle(out, TQXCRYPT_KIND_CERTIFICATE, cert, tqxCryptASN1CertificateMethod(), nullptr);
    if (rc != TQ_RTN_OK) X509_free(cert);
    return rc;
}

}  // namespace tq

extern "C" {

int TQXCrypt_P12Unpack(TQXCRYPT_HANDLE *p12, const char *password, int) try {
    tq::ErrorQueueScope scope;
    PKCS12 *object = nullptr;
    int rc = tq::objectOf(p12, TQXCRYPT_KIND_PKCS12, tqxCryptASN1PKCS12Method(), &object);
    if (rc != TQ_RTN_OK) return rc;
    TQXCryptInitialize();
    tq::Password verified;
    rc = tq::verifyMac(object, password, &verified);
    if (rc != TQ_RTN_OK) return rc;
    tq::Lists lists;
    rc = tq::unpack(object, verified, lists);
    if (rc != TQ_RTN_OK) return rc;
    auto *contents = static_cast<TQXCRYPT_P12_CONTENTS *>(TQCryptMemAlloc(sizeof(TQXCRYPT_P12_CONTENTS)));
    if (!contents) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    contents->keys = lists.keys.release();
    contents->caCerts = lists.caCerts.release();
    contents->userCerts = lists.userCerts.release();
    tqxCryptFreeP12List(static_cast<TQXCRYPT_P12_CONTENTS *>(p12->extra));
    p12->extra = contents;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_P12GetPrivateKeyCount(TQXCRYPT_HANDLE *p12, int, int *count) try {
    return tq::countOf(p12, count, [](const TQXCRYPT_P12_CONTENTS &c) { return sk_EVP_PKEY_num(c.keys); });
}
TQ_CATCH_CODE

int TQXCrypt_P12GetCACertificateCount(TQXCRYPT_HANDLE *p12, int, int *count) try {
    return tq::countOf(p12, count, [](const TQXCRYPT_P12_CONTENTS &c) { return sk_X509_num(c.caCerts); });
}
TQ_CATCH_CODE

int TQXCrypt_P12GetUserCertificateCount(TQXCRYPT_HANDLE *p12, int, int *count) try {
    return tq::countOf(p12, count, [](const TQXCRYPT_P12_CONTENTS &c) { return sk_X509_num(c.userCerts); });
}
TQ_CATCH_CODE

int TQXCrypt_P12GetPrivateKey(TQXCRYPT_HANDLE *p12, int index, int, TQXCRYPT_HANDLE **key) try {
    tq::ErrorQueueScope scope;
    TQXCRYPT_P12_CONTENTS *contents = nullptr;
    int rc = tq::contentsOf(p12, &contents);
    if (rc != TQ_RTN_OK) return rc;
    if (!key) return TQ_RTN_BAD_ARGUMENT;
    if (index >= sk_EVP_PKEY_num(contents->keys)) return TQ_RTN_INDEX_OUT_OF_RANGE;
    EVP_PKEY *entry = index < 0 ? nullptr : sk_EVP_PKEY_value(contents->keys, index);
    if (!entry) return TQ_RTN_P12_NO_KEY;
    return tq::keyHandle(entry, key);
}
TQ_CATCH_CODE

int TQXCrypt_P12GetCACertificate(TQXCRYPT_HANDLE *p12, int index, int, TQXCRYPT_HANDLE **cert) try {
    return tq::certificateAt(p12, index, cert, false);
}
TQ_CATCH_CODE

int TQXCrypt_P12GetUserCertificate(TQXCRYPT_HANDLE *p12, int index, int, TQXCRYPT_HANDLE **cert) try {
    return tq::certificateAt(p12, index, cert, true);
}
TQ_CATCH_CODE

}  // extern "C"

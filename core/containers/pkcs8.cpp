// PKCS#8: private keys to and from private-key info (kind 13), and its
// password encryption (kind 12).
#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include "containers_internal.h"

namespace {

// A wrong password ends on a failed final cipher step, or, when the
// decrypted padding happens to look valid (about one password in 250), on
// the key info that does not decode.
bool wrongPassword(unsigned long reason) {
    return ERR_GET_LIB(reason) == ERR_LIB_PKCS12 &&
           (ERR_GET_REASON(reason) == PKCS12_R_PKCS12_CIPHERFINAL_ERROR ||
            ERR_GET_REASON(reason) == PKCS12_R_DECODE_ERROR);
}

}  // namespace

extern "C" {

int TQXCrypt_PKCS8InfoToPrivateKey(TQXCRYPT_HANDLE *info, int, TQXCRYPT_HANDLE **key) try {
    tq::ErrorQueueScope scope;
    PKCS8_PRIV_KEY_INFO *p8 = nullptr;
    int rc = tq::objectOf(info, TQXCRYPT_KIND_PKCS8INFO, &p8);
    if (rc != TQ_RTN_OK) return rc;
    if (!key) return TQ_RTN_BAD_ARGUMENT;
    tq::EvpPkeyPtr pkey(EVP_PKCS82PKEY(p8));
    if (!pkey) return TQ_RTN_FAILED;
    return tq::keyHandle(pkey.get(), key);
}
TQ_CATCH_CODE

int TQXCrypt_PrivateKeyToPKCS8Info(TQXCRYPT_HANDLE *key, int, TQXCRYPT_HANDLE **info) try {
    tq::ErrorQueueScope scope;
    EVP_PKEY *pkey = nullptr;
    int rc = tq::objectOf(key, TQXCRYPT_KIND_PRIVATEKEY, &pkey);
    if (rc != TQ_RTN_OK) return rc;
    if (!info) return TQ_RTN_BAD_ARGUMENT;
    tq::Pkcs8InfoPtr p8(EVP_PKEY2PKCS8(pkey));
    if (!p8) return TQ_RTN_FAILED;
    rc =
        tqxCryptCreateHandle(info, TQXCRYPT_KIND_PKCS8INFO, p8.get(), tqxCryptASN1PKCS8InfoMethod(), nullptr);
    if (rc == TQ_RTN_OK) p8.release();
    return rc;
}
TQ_CATCH_CODE

int TQXCrypt_PKCS8Encrypt(TQXCRYPT_HANDLE *info, const char *password, const unsigned char *salt,
                          int saltLength, int iterations, int, TQXCRYPT_HANDLE **encrypted) try {
    tq::ErrorQueueScope scope;
    PKCS8_PRIV_KEY_INFO *p8 = nullptr;
    int rc = tq::objectOf(info, TQXCRYPT_KIND_PKCS8INFO, &p8);
    if (rc != TQ_RTN_OK) return rc;
    if (!encrypted || saltLength < 0 || (!salt && saltLength > 0)) return TQ_RTN_BAD_ARGUMENT;
    TQXCryptInitialize();
    tq::X509SigPtr sig(PKCS8_encrypt(NID_pbeWithSHA1AndDES_CBC, nullptr, password, -1,
                                     const_cast<unsigned char *>(salt), saltLength, iterations, p8));
    if (!sig) return TQ_RTN_FAILED;
    rc = tqxCryptCreateHandle(encrypted, TQXCRYPT_KIND_PKCS8, sig.get(), tqxCryptASN1PKCS8Method(), nullptr);
    if (rc == TQ_RTN_OK) sig.release();
    return rc;
}
TQ_CATCH_CODE

int TQXCrypt_PKCS8Decrypt(TQXCRYPT_HANDLE *encrypted, const char *password, int, TQXCRYPT_HANDLE **info) try {
    tq::ErrorQueueScope scope;
    X509_SIG *sig = nullptr;
    int rc = tq::objectOf(encrypted, TQXCRYPT_KIND_PKCS8, &sig);
    if (rc != TQ_RTN_OK) return rc;
    if (!info) return TQ_RTN_BAD_ARGUMENT;
    TQXCryptInitialize();
    tq::Pkcs8InfoPtr p8(PKCS8_decrypt(sig, password, -1));
    if (!p8) return wrongPassword(tq::newestError()) ? TQ_RTN_DECRYPT_FAILED : TQ_RTN_FAILED;
    rc =
        tqxCryptCreateHandle(info, TQXCRYPT_KIND_PKCS8INFO, p8.get(), tqxCryptASN1PKCS8InfoMethod(), nullptr);
    if (rc == TQ_RTN_OK) p8.release();
    return rc;
}
TQ_CATCH_CODE

}  // extern "C"

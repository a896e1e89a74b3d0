// A fresh RSA-2048 key and a self-signed certificate for it, made once per
// benchmark program: the signers of both sides of a pair use the same two.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace tqbench {

struct SelfSigned {
    EVP_PKEY *key = nullptr;
    X509 *cert = nullptr;

    SelfSigned() {
        key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(2048));
        cert = X509_new();
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_NAME *name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char *>("Bench Signer"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
        X509_set_pubkey(cert, key);
        X509_sign(cert, key, EVP_sha256());
    }
    ~SelfSigned() {
        X509_free(cert);
        EVP_PKEY_free(key);
    }
    SelfSigned(const SelfSigned &) = delete;
    SelfSigned &operator=(const SelfSigned &) = delete;
};

}  // namespace tqbench

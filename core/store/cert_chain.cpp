// Certificate relations that signing and reading need: the issuer chain of a
// certificate in a store, the leaf of a certificate list, key-usage bits.
#include <openssl/x509v3.h>

#include "store_internal.h"

namespace {

constexpr int kNeedWholeChain = 0x200;
// Certificates in a store that issue each other in a ring would walk forever.
constexpr int kMaxChain = 100;

int handOut(tq::CertStack chain, STACK_OF(X509) **out, int *count) {
    if (count) *count = sk_X509_num(chain.get());
    *out = chain.release();
    return TQ_RTN_OK;
}

}  // namespace

extern "C" {

int tqxCryptGetCertificateChain(X509_STORE *store, X509 *certificate, int flags, STACK_OF(X509) **out,
                                int *count) try {
    tq::ErrorQueueScope scope;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    tq::CertStack chain(sk_X509_new_null());
    if (!chain || !X509_up_ref(certificate)) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (sk_X509_push(chain.get(), certificate) <= 0) {
        X509_free(certificate);
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    // A self-issued certificate is its own chain: its issuer is itself.
    if (tq::issued(certificate, certificate)) return handOut(std::move(chain), out, count);
    X509 *current = certificate;
    while (sk_X509_num(chain.get()) < kMaxChain) {
        X509 *issuer = tq::findIssuer(store, current);
        if (!issuer) break;
        if (sk_X509_push(chain.get(), issuer) <= 0) {
            X509_free(issuer);
            return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        }
        if (tq::issued(issuer, issuer)) return handOut(std::move(chain), out, count);
        current = issuer;
    }
    if (flags & kNeedWholeChain) return TQ_RTN_NO_ISSUER;
    return handOut(std::move(chain), out, count);
}
TQ_CATCH_CODE

X509 *tqxCryptGetLeafCert(STACK_OF(X509) *certificates) try {
    int n = sk_X509_num(certificates);
    if (n == 1) return sk_X509_value(certificates, 0);
    for (int i = 0; i < n; ++i) {
        X509 *candidate = sk_X509_value(certificates, i);
        if (!candidate) continue;
        bool issuedNone = true;
        for (int j = 0; j < n && issuedNone; ++j) {
            X509 *other = sk_X509_value(certificates, j);
            if (other && X509_check_issued(candidate, other) == X509_V_OK) issuedNone = false;
        }
        if (issuedNone) return candidate;
    }
    return nullptr;
}
TQ_CATCH_EMPTY

int tqxCryptGetCertificateKeyUsage(X509 *certificate, int *bits) try {
    tq::ErrorQueueScope scope;
    if (bits) *bits = 0;
    tq::Asn1BitStringPtr usage(
        static_cast<ASN1_BIT_STRING *>(X509_get_ext_d2i(certificate, NID_key_usage, nullptr, nullptr)));
    if (!usage) return TQ_RTN_NOT_PRESENT;
    int value = 0;
    int length = ASN1_STRING_length(usage.get());
    const unsigned char *data = ASN1_STRING_get0_data(usage.get());
    if (length > 0) value = data[0];
    if (length > 1) value |= data[1] << 8;
    if (bits) *bits = value;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

// Our mark on a certificate object whose signature a chain walk has verified.
// It lives in the certificate's ex_data and names, by SHA-256 fingerprints,
// the issuer certificate whose key verified it and the certificate as it was
// then, so the signature check is skipped only when the same issuer comes
// round again and the certificate was not re-signed or changed meanwhile.
#include <cstring>
#include <mutex>

#include <openssl/crypto.h>
#include <openssl/sha.h>

#include "store_internal.h"

namespace {

struct VerifiedMark {
    unsigned char issuer[SHA256_DIGEST_LENGTH];
    unsigned char subject[SHA256_DIGEST_LENGTH];
};

void freeMark(void *, void *mark, CRYPTO_EX_DATA *, int, long, void *) { OPENSSL_free(mark); }

int markIndex() {
    static const int index = X509_get_ex_new_index(0, nullptr, nullptr, nullptr, freeMark);
    return index;
}

// Marks are written by whichever thread verifies; the lock keeps two of them
// from replacing one mark at once.
std::mutex g_markLock;

bool fingerprint(X509 *cert, unsigned char out[SHA256_DIGEST_LENGTH]) {
    unsigned int length = 0;
    return X509_digest(cert, EVP_sha256(), out, &length) == 1 && length == SHA256_DIGEST_LENGTH;
}

}  // namespace

bool tq::hasVerifiedMark(X509 *subject, X509 *issuer) {
    int index = markIndex();
    if (index < 0) return false;
    VerifiedMark now;
    if (!fingerprint(issuer, now.issuer) || !fingerprint(subject, now.subject)) return false;
    std::lock_guard<std::mutex> guard(g_markLock);
    auto *mark = static_cast<const VerifiedMark *>(X509_get_ex_data(subject, index));
    return mark && CRYPTO_memcmp(mark, &now, sizeof now) == 0;
}

void tq::setVerifiedMark(X509 *subject, X509 *issuer) {
    int index = markIndex();
    if (index < 0) return;
    VerifiedMark now;
    if (!fingerprint(issuer, now.issuer) || !fingerprint(subject, now.subject)) return;
    std::lock_guard<std::mutex> guard(g_markLock);
    auto *mark = static_cast<VerifiedMark *>(X509_get_ex_data(subject, index));
    if (!mark) {
        // Without memory the certificate simply stays unmarked.
        mark = static_cast<VerifiedMark *>(OPENSSL_malloc(sizeof(VerifiedMark)));
        if (!mark) return;
        if (!X509_set_ex_data(subject, index, mark)) {
            OPENSSL_free(mark);
            return;
        }
    }
    *mark = now;
}

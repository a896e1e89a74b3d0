// Path validation over a trust store. The chain is built and walked by our
// own procedures: OpenSSL 3.0's X509_verify_cert would add checks of its own
// (CA flags and path length of trusted certificates, key levels) and change
// which chains pass. The store's certificates are taken as they are; only the
// untrusted part of a chain is checked for extensions and purpose.
#include <ctime>

#include <openssl/x509v3.h>

#include "store_internal.h"

namespace {

using VerifyCb = X509_STORE_CTX_verify_cb;

constexpr int kDefaultDepth = 100;

int null_callback(int ok, X509_STORE_CTX *) { return ok; }

VerifyCb callbackOf(X509_STORE_CTX *ctx) {
    VerifyCb cb = X509_STORE_CTX_get_verify_cb(ctx);
    return cb ? cb : null_callback;
}

// Records `error` for `cert` and asks the callback whether to go on.
int report(X509_STORE_CTX *ctx, VerifyCb cb, int error, X509 *cert) {
    X509_STORE_CTX_set_error(ctx, error);
    X509_STORE_CTX_set_current_cert(ctx, cert);
    return cb(0, ctx);
}

int reportAt(X509_STORE_CTX *ctx, VerifyCb cb, int error, X509 *cert, int depth) {
    X509_STORE_CTX_set_error_depth(ctx, depth);
    return report(ctx, cb, error, cert);
}

bool selfIssued(X509 *x) { return tq::issued(x, x); }

// The CRL checks of S, issued by I, at the walk's position. 1 go on, 0 stop.
int checkRevocation(X509_STORE_CTX *ctx, VerifyCb cb, X509 *s, X509 *i, int n, bool haveCheckTime,
                    time_t checkTime) {
    X509_CRL *found = nullptr;
    int lookup = tqxCrypt_X509_STORE_CTX_get_crl(&found, ctx, i);
    // A lookup that failed is no answer: it must not pass for "no CRL".
    if (lookup < 0) return report(ctx, cb, X509_V_ERR_OUT_OF_MEM, s);
    if (lookup == 0) {
        // Only the leaf needs its issuer's CRL.
        return n == 0 ? report(ctx, cb, X509_V_ERR_UNABLE_TO_GET_CRL, s) : 1;
    }
    tq::X509CrlPtr crl(found);
    // CRL dates always count against the current time.
    int c = X509_cmp_time(X509_CRL_get0_lastUpdate(crl.get()), nullptr);
    if (c == 0 && !report(ctx, cb, X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD, s)) return 0;
    if (c > 0 && !report(ctx, cb, X509_V_ERR_CRL_NOT_YET_VALID, s)) return 0;
    if (const ASN1_TIME *next = X509_CRL_get0_nextUpdate(crl.get())) {
        c = X509_cmp_time(next, nullptr);
        if (c == 0 && !report(ctx, cb, X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD, s)) return 0;
        if (c < 0 && !report(ctx, cb, X509_V_ERR_CRL_HAS_EXPIRED, s)) return 0;
    }
    const ASN1_TIME *revokedAt = nullptr;
    int revoked = X509_revoked(crl.get(), s, &revokedAt);
    // Revoked only after the check time: not revoked at that time.
    if (revoked != 0 && (!haveCheckTime || X509_cmp_time(revokedAt, &checkTime) <= 0))
        return report(ctx, cb, revoked, s);
    return 1;
}

int walk(X509_STORE_CTX *ctx, bool withCrl) {
    VerifyCb cb = callbackOf(ctx);
    STACK_OF(X509) *chain = X509_STORE_CTX_get0_chain(ctx);
    int n = sk_X509_num(chain) - 1;
    if (n < 0) return 0;
    const X509_VERIFY_PARAM *param = X509_STORE_CTX_get0_param(ctx);
    bool haveCheckTime = (X509_VERIFY_PARAM_get_flags(param) & X509_V_FLAG_USE_CHECK_TIME) != 0;
    time_t checkTime = haveCheckTime ? X509_VERIFY_PARAM_get_time(param) : std::time(nullptr);

    X509_STORE_CTX_set_error_depth(ctx, n);
    X509 *i = sk_X509_value(chain, n);
    X509 *s;
    if (selfIssued(i)) {
        s = i;
    } else {
        if (n == 0) return report(ctx, cb, X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, i);
        --n;
        X509_STORE_CTX_set_error_depth(ctx, n);
        s = sk_X509_value(chain, n);
    }
    while (n >= 0) {
        X509_STORE_CTX_set_error_depth(ctx, n);
        if (!tq::hasVerifiedMark(s, i)) {
            EVP_PKEY *key = X509_get0_pubkey(i);
            if (!key) {
                if (!report(ctx, cb, X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY, i)) return 0;
            } else if (X509_verify(s, key) <= 0) {
                if (!report(ctx, cb, X509_V_ERR_CERT_SIGNATURE_FAILURE, s)) return 0;
            } else {
                tq::setVerifiedMark(s, i);
            }
        }
        // The mark spares the signature only: the dates are compared each time.
        int c = X509_cmp_time(X509_get0_notBefore(s), &checkTime);
        if (c == 0 && !report(ctx, cb, X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD, s)) return 0;
        if (c > 0 && !report(ctx, cb, X509_V_ERR_CERT_NOT_YET_VALID, s)) return 0;
        c = X509_cmp_time(X509_get0_notAfter(s), &checkTime);
        if (c == 0 && !report(ctx, cb, X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD, s)) return 0;
        if (c < 0 && !report(ctx, cb, X509_V_ERR_CERT_HAS_EXPIRED, s)) return 0;
        if (withCrl && !checkRevocation(ctx, cb, s, i, n, haveCheckTime, checkTime)) return 0;
        X509_STORE_CTX_set_current_cert(ctx, s);
        if (!cb(1, ctx)) return 0;
        --n;
        if (n >= 0) {
            i = s;
            s = sk_X509_value(chain, n);
        }
    }
    return 1;
}

bool pushRef(STACK_OF(X509) *chain, X509 *x) {
    if (!X509_up_ref(x)) return false;
    if (sk_X509_push(chain, x) > 0) return true;
    X509_free(x);
    return false;
}

int outOfMemory(X509_STORE_CTX *ctx) {
    X509_STORE_CTX_set_error(ctx, X509_V_ERR_OUT_OF_MEM);
    return -1;
}

// The checks that chain building makes of the untrusted certificates: the
// leaf and the intermediates the caller brought along.
int checkUntrusted(X509_STORE_CTX *ctx, VerifyCb cb, STACK_OF(X509) *chain, int untrusted, int purpose) {
    unsigned long flags = X509_VERIFY_PARAM_get_flags(X509_STORE_CTX_get0_param(ctx));
    int pathLength = 0;
    for (int k = 0; k < untrusted && k < sk_X509_num(chain); ++k) {
        X509 *x = sk_X509_value(chain, k);
        uint32_t exFlags = X509_get_extension_flags(x);
        if (!(flags & X509_V_FLAG_IGNORE_CRITICAL) && (exFlags & EXFLAG_CRITICAL) &&
            !reportAt(ctx, cb, X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION, x, k))
            return 0;
        if (k > 0 && X509_check_ca(x) == 0 && !reportAt(ctx, cb, X509_V_ERR_INVALID_CA, x, k)) return 0;
        if (purpose > 0 && X509_check_purpose(x, purpose, k > 0) == 0 &&
            !reportAt(ctx, cb, X509_V_ERR_INVALID_PURPOSE, x, k))
            return 0;
        long limit = X509_get_pathlen(x);
        if (k > 1 && !(exFlags & EXFLAG_SI) && limit != -1 && pathLength > limit + 1 &&
            !reportAt(ctx, cb, X509_V_ERR_PATH_LENGTH_EXCEEDED, x, k))
            return 0;
        if (!(exFlags & EXFLAG_SI)) ++pathLength;
    }
    return 1;
}

// The trust setting of the chain's top for the purpose's trust id.
int checkTrust(X509_STORE_CTX *ctx, VerifyCb cb, STACK_OF(X509) *chain, int purpose) {
    int index = X509_PURPOSE_get_by_id(purpose);
    if (index < 0) return 1;
    int trust = X509_PURPOSE_get_trust(X509_PURPOSE_get0(index));
    if (trust <= 0) return 1;
    int top = sk_X509_num(chain) - 1;
    X509 *x = sk_X509_value(chain, top);
    int answer = X509_check_trust(x, trust, 0);
    if (answer == X509_TRUST_TRUSTED) return 1;
    return reportAt(ctx, cb,
                    answer == X509_TRUST_REJECTED ? X509_V_ERR_CERT_REJECTED : X509_V_ERR_CERT_UNTRUSTED, x,
                    top);
}

#define TQ_VERIFY_ERROR_MAP(X)                                                  \
    X(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, TQ_RTN_NO_ISSUER)                   \
    X(X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, TQ_RTN_NO_ISSUER)           \
    X(X509_V_ERR_UNABLE_TO_GET_CRL, TQ_RTN_NO_CRL)                              \
    X(X509_V_ERR_CERT_SIGNATURE_FAILURE, TQ_RTN_CERT_SIGNATURE)                 \
    X(X509_V_ERR_CERT_NOT_YET_VALID, TQ_RTN_CERT_NOT_YET_VALID)                 \
    X(X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD, TQ_RTN_CERT_NOT_YET_VALID)     \
    X(X509_V_ERR_CERT_HAS_EXPIRED, TQ_RTN_CERT_EXPIRED)                         \
    X(X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD, TQ_RTN_CERT_EXPIRED)            \
    X(X509_V_ERR_CRL_NOT_YET_VALID, TQ_RTN_CRL_NOT_YET_VALID)                   \
    X(X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD, TQ_RTN_CRL_NOT_YET_VALID)      \
    X(X509_V_ERR_CRL_HAS_EXPIRED, TQ_RTN_CRL_EXPIRED)                           \
    X(X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD, TQ_RTN_CRL_EXPIRED)            \
    X(X509_V_ERR_CERT_REVOKED, TQ_RTN_REVOKED)                                  \
    X(TQ_V_ERR_REVOKED_UNSPECIFIED, TQ_RTN_REVOKED)                             \
    X(X509_V_ERR_CERT_UNTRUSTED, TQ_RTN_CERT_REJECTED)                          \
    X(X509_V_ERR_CERT_REJECTED, TQ_RTN_CERT_REJECTED)                           \
    X(X509_V_ERR_KEYUSAGE_NO_CERTSIGN, TQ_RTN_KEY_USAGE)                        \
    X(X509_V_ERR_OUT_OF_MEM, TQ_RTN_MEMORY_ALLOCATE_FAIL)                       \
    X(TQ_V_ERR_REVOKED_KEY_COMPROMISE, TQ_RTN_REVOKED_KEY_COMPROMISE)           \
    X(TQ_V_ERR_REVOKED_CA_COMPROMISE, TQ_RTN_REVOKED_CA_COMPROMISE)             \
    X(TQ_V_ERR_REVOKED_AFFILIATION_CHANGED, TQ_RTN_REVOKED_AFFILIATION_CHANGED) \
    X(TQ_V_ERR_REVOKED_SUPERSEDED, TQ_RTN_REVOKED_SUPERSEDED)                   \
    X(TQ_V_ERR_REVOKED_CESSATION, TQ_RTN_REVOKED_CESSATION)                     \
    X(TQ_V_ERR_REVOKED_CERTIFICATE_HOLD, TQ_RTN_REVOKED_CERTIFICATE_HOLD)       \
    X(TQ_V_ERR_REVOKED_REMOVE_FROM_CRL, TQ_RTN_REVOKED_REMOVE_FROM_CRL)

struct ErrorCode {
    int error;
    int code;
};
#define TQ_ERROR_ROW(error, code) {error, code},
constexpr ErrorCode kErrorCodes[] = {TQ_VERIFY_ERROR_MAP(TQ_ERROR_ROW)};
#undef TQ_ERROR_ROW

}  // namespace

bool tq::issued(X509 *issuer, X509 *subject) { return X509_check_issued(issuer, subject) == X509_V_OK; }

X509 *tq::findIssuer(X509_STORE *store, X509 *subject) {
    const X509_NAME *name = X509_get_issuer_name(subject);
    if (!X509_STORE_lock(store)) return nullptr;
    STACK_OF(X509_OBJECT) *list = X509_STORE_get0_objects(store);
    X509 *found = nullptr;
    int first = X509_OBJECT_idx_by_subject(list, X509_LU_X509, name);
    for (int k = first; first >= 0 && k < sk_X509_OBJECT_num(list); ++k) {
        X509_OBJECT *entry = sk_X509_OBJECT_value(list, k);
        if (X509_OBJECT_get_type(entry) != X509_LU_X509) break;
        X509 *candidate = X509_OBJECT_get0_X509(entry);
        if (X509_NAME_cmp(X509_get_subject_name(candidate), name) != 0) break;
        if (tq::issued(candidate, subject) && X509_up_ref(candidate)) {
            found = candidate;
            break;
        }
    }
    X509_STORE_unlock(store);
    return found;
}

int tq::verifyErrorCode(int error) {
    for (const ErrorCode &row : kErrorCodes)
        if (row.error == error) return row.code;
    return TQ_RTN_FAILED;
}

int tq::verifyContext(X509_STORE_CTX *ctx, int purpose) {
    X509 *leaf = X509_STORE_CTX_get0_cert(ctx);
    X509_STORE *store = X509_STORE_CTX_get0_store(ctx);
    if (!leaf || !store) {
        X509_STORE_CTX_set_error(ctx, X509_V_ERR_INVALID_CALL);
        return -1;
    }
    VerifyCb cb = callbackOf(ctx);
    int depth = X509_VERIFY_PARAM_get_depth(X509_STORE_CTX_get0_param(ctx));
    if (depth < 0) depth = kDefaultDepth;

    STACK_OF(X509) *chain = sk_X509_new_null();
    if (!chain) return outOfMemory(ctx);
    X509_STORE_CTX_set0_verified_chain(ctx, chain);
    if (!pushRef(chain, leaf)) return outOfMemory(ctx);
    int untrusted = 1;

    // Intermediates the caller brought along, each used once.
    tq::CertList pool;
    if (STACK_OF(X509) *given = X509_STORE_CTX_get0_untrusted(ctx)) {
        pool.reset(sk_X509_dup(given));
        if (!pool) return outOfMemory(ctx);
    }
    X509 *x = leaf;
    while (pool && sk_X509_num(chain) <= depth && !selfIssued(x)) {
        X509 *next = nullptr;
        for (int k = 0; k < sk_X509_num(pool.get()); ++k) {
            if (tq::issued(sk_X509_value(pool.get(), k), x)) {
                next = sk_X509_delete(pool.get(), k);
                break;
            }
        }
        if (!next) break;
        if (!pushRef(chain, next)) return outOfMemory(ctx);
        ++untrusted;
        x = next;
    }

    // A self-issued top that came from the caller must itself be in the store.
    tq::X509Ptr untrustedTop;
    if (selfIssued(x)) {
        if (sk_X509_num(chain) == 1) {
            tq::X509Ptr copy(tq::findIssuer(store, x));
            if (!copy || X509_cmp(copy.get(), x) != 0) {
                if (!reportAt(ctx, cb, X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, x, 0)) return 0;
            } else {
                X509_free(sk_X509_value(chain, 0));
                sk_X509_set(chain, 0, copy.release());
                untrusted = 0;
            }
        } else {
            untrustedTop.reset(sk_X509_pop(chain));
            --untrusted;
        }
    }

    for (;;) {
        if (sk_X509_num(chain) > depth) break;
        x = sk_X509_value(chain, sk_X509_num(chain) - 1);
        if (selfIssued(x)) break;
        X509 *issuer = tq::findIssuer(store, x);
        if (!issuer) break;
        if (sk_X509_push(chain, issuer) <= 0) {
            X509_free(issuer);
            return outOfMemory(ctx);
        }
    }

    x = sk_X509_value(chain, sk_X509_num(chain) - 1);
    if (!selfIssued(x)) {
        int count = sk_X509_num(chain);
        int ok;
        if (!untrustedTop || !tq::issued(untrustedTop.get(), x)) {
            int error = untrusted >= count ? X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY
                                           : X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT;
            ok = reportAt(ctx, cb, error, x, count - 1);
        } else {
            X509 *top = untrustedTop.get();
            if (sk_X509_push(chain, top) <= 0) return outOfMemory(ctx);
            untrustedTop.release();
            untrusted = count + 1;
            ok = reportAt(ctx, cb, X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, top, count);
        }
        if (!ok) return 0;
    }

    if (!checkUntrusted(ctx, cb, chain, untrusted, purpose)) return 0;
    if (purpose > 0 && !checkTrust(ctx, cb, chain, purpose)) return 0;

    X509_STORE_CTX_verify_fn verify = X509_STORE_CTX_get_verify(ctx);
    return verify ? verify(ctx) : tqxCrypt_cert_verify(ctx);
}

namespace tq {

X509_STORE_CTX_verify_fn procedureFor(int flags) {
    return (flags & TQXCRYPT_VERIFY_CRL) ? tqxCrypt_cert_crl_verify : tqxCrypt_cert_verify;
}

void noteProcedure(X509_STORE *store, X509_STORE_CTX_verify_fn procedure) {
    // Under the store's lock, and only when it changes: threads that agree
    // leave the store untouched.
    if (!X509_STORE_lock(store)) return;
    if (X509_STORE_get_verify(store) != procedure) X509_STORE_set_verify(store, procedure);
    X509_STORE_unlock(store);
}

int initVerification(X509_STORE_CTX *ctx, X509_STORE *store, X509 *cert, STACK_OF(X509) *untrusted,
                     X509_STORE_CTX_verify_fn procedure, time_t checkTime) {
    if (!X509_STORE_CTX_init(ctx, store, cert, untrusted)) return 0;
    if (procedure) X509_STORE_CTX_set_verify(ctx, procedure);
    if (checkTime > 0) X509_STORE_CTX_set_time(ctx, 0, checkTime);
    return 1;
}

}  // namespace tq

extern "C" {

int tqxCrypt_cert_crl_verify(X509_STORE_CTX *ctx) try { return walk(ctx, true); }
TQ_CATCH_OPENSSL(0)

int tqxCrypt_cert_verify(X509_STORE_CTX *ctx) try { return walk(ctx, false); }
TQ_CATCH_OPENSSL(0)

int TQXCrypt_VerifyCertChain(TQXCRYPT_HANDLE *certHandle, TQXCRYPT_HANDLE *storeHandle, int flags,
                             int time) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    X509_STORE *store = nullptr;
    int rc = tq::objectOf(certHandle, TQXCRYPT_KIND_CERTIFICATE, tqxCryptASN1CertificateMethod(), &cert);
    if (rc != TQ_RTN_OK) return rc;
    rc = tq::objectOf(storeHandle, TQXCRYPT_KIND_STORE, nullptr, &store);
    if (rc != TQ_RTN_OK) return rc;
    X509_STORE_CTX_verify_fn procedure = tq::procedureFor(flags);
    tq::noteProcedure(store, procedure);
    tq::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx || !tq::initVerification(ctx.get(), store, cert, nullptr, procedure, static_cast<time_t>(time)))
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (tq::verifyContext(ctx.get(), 0) > 0) return TQ_RTN_OK;
    return tq::verifyErrorCode(X509_STORE_CTX_get_error(ctx.get()));
}
TQ_CATCH_CODE

}  // extern "C"

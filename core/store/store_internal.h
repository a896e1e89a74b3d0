// Shared between the trust store, the chain walks and the verifiers that run
// them (PKCS#7 included); not exported.
#pragma once

#include <cctype>
#include <ctime>

#include <openssl/err.h>
#include <openssl/x509_vfy.h>

#include "base_internal.h"
#include "tqxcrypt_store.h"

namespace tq {

// Runs a verification on a context initialised on a store: builds the chain
// from the context's certificate, its untrusted certificates and the store,
// applies the checks that belong to chain building (critical extensions and
// CA flags of untrusted certificates; with a purpose id > 0 also their
// purpose and the trust of the top) and then the context's verification
// procedure. OpenSSL's own policy of X509_verify_cert is not applied.
// 1 passed, 0 failed (error, depth and current certificate in the context),
// -1 internal failure.
int verifyContext(X509_STORE_CTX *ctx, int purpose);

// Initialises one call's context on a store that other threads may share:
// the call's procedure (with or without CRL checks; null: what the context
// took from the store) and check time (when above 0) go on the context.
// 1 or 0 (OpenSSL's failure queued).
int initVerification(X509_STORE_CTX *ctx, X509_STORE *store, X509 *cert, STACK_OF(X509) *untrusted,
                     X509_STORE_CTX_verify_fn procedure, time_t checkTime);

// Leaves the last procedure a call chose in the store's slot, for callers
// that read it back; no verification of ours reads it.
void noteProcedure(X509_STORE *store, X509_STORE_CTX_verify_fn procedure);

// The procedure a call's flags choose.
X509_STORE_CTX_verify_fn procedureFor(int flags);

// The result code of a chain-verification error number.
int verifyErrorCode(int error);

// issuer issued subject: names, authority key identifier and key usage.
bool issued(X509 *issuer, X509 *subject);

// The first certificate of the store that issued `subject` (a new reference),
// or null.
X509 *findIssuer(X509_STORE *store, X509 *subject);

// Our mark of a certificate whose signature was verified, bound to the
// issuer certificate that verified it and to the certificate's encoding then.
bool hasVerifiedMark(X509 *subject, X509 *issuer);
void setVerifiedMark(X509 *subject, X509 *issuer);

}  // namespace tq

extern "C" {
// Issuer test of a CRL against a certificate, with or without the name test.
int X509_CRL_issuer_by(X509_CRL *crl, X509 *certificate, int nameTest);
// Revocation lookup: a verification error number (0 not revoked); *date is
// the entry's revocation date, borrowed from the CRL.
int X509_revoked(X509_CRL *crl, X509 *certificate, const ASN1_TIME **date);
// 0 when the two CRLs are equivalent (one replaces the other in a store).
int X509_CRL_cmp1(const X509_CRL *a, const X509_CRL *b);
X509_OBJECT *X509_OBJECT_retrieve_match1(STACK_OF(X509_OBJECT) *list, X509_OBJECT *object);
}

// Shared by the PKCS#7 builders, the verifier, the accessors and the
// envelopes; not exported.
#pragma once

#include <openssl/err.h>
#include <openssl/pkcs7.h>

#include "base_internal.h"
#include "tqxcrypt_pkcs7.h"

extern "C" {
// The decoding chain of a message (digest BIOs, the cipher BIO with the
// content key recovered through the key handle, the input); null on failure.
BIO *tqx_PKCS7_dataDecode(PKCS7 *message, TQXCRYPT_HANDLE *privateKey, BIO *in, X509 *recipient);
}

namespace tq {

// The key slot of a signer info carries one of our key handles, not an
// EVP_PKEY, while a message is built: OpenSSL must never see it there.
inline void parkKey(PKCS7_SIGNER_INFO *si, TQXCRYPT_HANDLE *key) {
    si->pkey = reinterpret_cast<EVP_PKEY *>(key);
}
inline TQXCRYPT_HANDLE *parkedKey(const PKCS7_SIGNER_INFO *si) {
    return reinterpret_cast<TQXCRYPT_HANDLE *>(si->pkey);
}
// Clears the key slot of every signer info of a signed or
// signed-and-enveloped message.
void clearParkedKeys(PKCS7 *message);

// A message under construction: its key slots are cleared before it is
// freed, whatever path leaves the builder.
struct Pkcs7BuildDeleter {
    void operator()(PKCS7 *p7) const {
        clearParkedKeys(p7);
        PKCS7_free(p7);
    }
};
using Pkcs7Building = std::unique_ptr<PKCS7, Pkcs7BuildDeleter>;

// A signer info that is not yet part of a message.
struct SignerInfoDeleter {
    void operator()(PKCS7_SIGNER_INFO *si) const {
        si->pkey = nullptr;
        PKCS7_SIGNER_INFO_free(si);
    }
};
using SignerInfoPtr = std::unique_ptr<PKCS7_SIGNER_INFO, SignerInfoDeleter>;

// The API option bits as the builders' OpenSSL flags.
int pkcs7BuilderFlags(int apiFlags);

// The digest of a hash selector (0..6), fetched; null for 7..15 or a digest
// no provider offers.
EvpMdPtr pkcs7Digest(int selector);

// The result code of a failed build, from the newest queued reason.
int pkcs7SignFailure();

// The result code of a failed verification, from the newest queued reason.
int pkcs7VerifyFailure();

// The type of a message; NID_undef for none or a message without a type.
inline int pkcs7Type(const PKCS7 *p7) { return p7 && p7->type ? OBJ_obj2nid(p7->type) : NID_undef; }
// The certificate list of a signed or signed-and-enveloped message; null
// for other types (and sets *typed to false).
STACK_OF(X509) **pkcs7CertList(PKCS7 *p7, bool *typed);

// A kind-4 handle over a message; the message is freed when the handle
// cannot be made.
int pkcs7Handle(PKCS7 *message, TQXCRYPT_HANDLE **out);
// A copy of a signer info through its DER: 0, 5045 when it does not encode or
// decode again, 5002.
int copySignerInfo(const PKCS7_SIGNER_INFO *si, SignerInfoPtr &copy);
// A kind-1 handle holding a new reference to the certificate.
int certHandle(X509 *cert, TQXCRYPT_HANDLE **out);

// Steps shared by the builders.
// An algorithm identifier with an explicit NULL parameter.
bool pkcs7SetAlgorithm(X509_ALGOR *alg, int nid);
// The certificate's issuer and a copy of its serial number.
bool pkcs7SetIssuerAndSerial(PKCS7_SIGNER_INFO *si, X509 *cert);
// A new message of `type` (signed data gets an empty data content) after
// checking that the key handle belongs to the certificate; null with a
// queued reason.
Pkcs7Building pkcs7StartSigned(X509 *signer, TQXCRYPT_HANDLE *key, int type);
// The signer first, then the extra certificates in order, unless PKCS7_NOCERTS.
bool pkcs7AddCertificates(PKCS7 *p7, X509 *signer, STACK_OF(X509) *extra, int flags);
// contentType data and the S/MIME capabilities, unless PKCS7_NOATTR /
// PKCS7_NOSMIMECAP.
bool pkcs7AddStandardAttributes(PKCS7_SIGNER_INFO *si, int flags);
// The signer info for the selector's digest, added to the message with the
// key handle in its key slot; null with a queued reason.
PKCS7_SIGNER_INFO *pkcs7AddSigner(PKCS7 *p7, X509 *signer, TQXCRYPT_HANDLE *key, int selector);
// PKCS7_dataInit of a message under construction; null with a queued reason.
BIO *pkcs7OpenChain(PKCS7 *p7);
// The end of every builder: marks the message detached when asked, signs
// through the parked key handles and clears their slots; null with a queued
// reason.
PKCS7 *pkcs7Finish(Pkcs7Building &p7, BIO *chain, int flags);

}  // namespace tq

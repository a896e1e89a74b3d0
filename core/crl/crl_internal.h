// Helpers shared by the CRL sources; not exported.
#pragma once

#include <openssl/x509.h>

#include "tqxcrypt_crl.h"
#include "x509_internal.h"

extern "C" {
// Enters one revoked entry: 0, 5005 (reason), 5045 (date), 5001, 5002.
int tqxCrypt_CRLAddRevoked(X509_CRL *crl, const ASN1_INTEGER *serial, const char *date, int reason);
// Looks one serial up: 0 (status 0 and an empty date when absent), or the
// date formatter's code.
int tqxcrypt_CRLRevoked(X509_CRL *crl, const ASN1_INTEGER *serial, char *date, int *status);
}

namespace tq {

inline int crlOf(TQXCRYPT_HANDLE *handle, X509_CRL **crl) { return objectOf(handle, TQXCRYPT_KIND_CRL, crl); }

// The reported code of an entry's reason (5020 without one).
int reasonCode(const X509_REVOKED *entry);

// A change made through a setter that does not mark the to-be-signed part
// as modified: the next encoding and signature are made from the fields, not
// from the bytes a decoded CRL was read from.
void markChanged(X509_CRL *crl);

// Version 2, needed by entry and CRL extensions: 0 or 5002.
int makeVersion2(X509_CRL *crl);

}  // namespace tq

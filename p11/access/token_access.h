// What token access offers the bridge beside its exported calls. Results are
// raw (PKCS#11 values or the layer's own codes); TQXP11_ErrorCode maps them.
// The bridge sees this header alone of token access, and the layer check
// lets it call nothing of token access outside this namespace and the
// exported names.
#pragma once

#include "tqxp11obj.h"

namespace tqaccess {

// The object class of a token kind; false for a kind outside the table.
bool classOfKind(CK_ULONG kind, CK_OBJECT_CLASS *cls);

// The readers of handles, which keep only these values: a certificate's
// VALUE, found by label or, with its ID in the record's first byte string, by
// CKA_ID (that record stays the caller's); an RSA key's modulus and public
// exponent, found by label in the class of its kind. Checks and searches as
// the full readers make them.
CK_RV readCertificateValue(TQXP11_SESSION *session, TQXP11_OBJECT *object, bool byId);
CK_RV readRsaKeyNumbers(TQXP11_SESSION *session, TQXP11_OBJECT *object);

// Destroys every token object of the kind's class with the private flag
// whose CKA_ID is these bytes, checked as the deleter by label checks.
CK_RV deleteById(TQXP11_SESSION *session, CK_ULONG kind, CK_BBOOL isPrivate, const unsigned char *id,
                 CK_ULONG length);

}  // namespace tqaccess

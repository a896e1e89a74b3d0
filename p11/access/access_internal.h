// Shared pieces of the token layer: slot and session helpers, the object
// search and the readers and writers the exported operations build on.
#pragma once

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "attributelist.h"
#include "boundary.h"
#include "token_access.h"
#include "tqxp11obj.h"

namespace tqp11 {

// Steps hand raw results (PKCS#11 values or the layer's own codes) to each
// other; each exported operation maps its result once.
using Result = CK_RV;

// A length the module reported that no reader hands out: the unavailable
// mark, or more than an int holds.
inline bool unusableLength(CK_ULONG length) { return length > static_cast<CK_ULONG>(INT_MAX); }

inline CK_ULONG textLength(const char *text) { return text ? std::strlen(text) : 0; }
inline CK_UTF8CHAR_PTR utf8(const char *text) {
    return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char *>(text));
}

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T>
using SystemPtr = std::unique_ptr<T, FreeDeleter>;

// The slot that slot-level operations use; 9112 when the index is stale.
Result currentSlot(const TQXP11_CONTEXT *context, CK_SLOT_ID *slot);

bool userLoggedIn(const TQXP11_SESSION *session);
// Reads the session information into the record.
Result refreshSessionInfo(TQXP11_SESSION *session);

// Reads the list's attributes of the object in one module call.
Result readAttributes(TQXP11_SESSION *session, CK_OBJECT_HANDLE handle, Attributes &read);

constexpr CK_ULONG kSearchMax = 128;
constexpr CK_ULONG kAllAttributes = ~CK_ULONG(0);
// Searches with the list, or with its first `leading` attributes.
Result findObjects(TQXP11_SESSION *session, CK_OBJECT_HANDLE (&handles)[kSearchMax], Attributes &search,
                   CK_ULONG *found, CK_ULONG leading = kAllAttributes);
// Length of the record's label as given to the module.
CK_ULONG labelLength(const TQXP11_SESSION *session, const TQXP11_OBJECT *object);

// CKA_CLASS, CKA_TOKEN, CKA_PRIVATE and CKA_LABEL, in this order: how an
// object is known by its label, in searches and at the head of templates.
void addLabelKey(Attributes &list, CK_OBJECT_CLASS cls, bool token, CK_BBOOL isPrivate, const char *label,
                 CK_ULONG labelLength);
// The same with the record's private flag and label.
void addLabelKey(Attributes &list, const TQXP11_SESSION *session, const TQXP11_OBJECT *object,
                 CK_OBJECT_CLASS cls, bool token = true);

// Finds the one object that matches: 9100 for none, 9102 for several.
Result findOne(TQXP11_SESSION *session, Attributes &search, CK_OBJECT_HANDLE *handle);

// The key type of a token kind; false for a kind without one.
bool keyTypeOfKind(CK_ULONG kind, CK_KEY_TYPE *keyType);

// Finds the one object of the class with the record's token flag, private
// flag and label, and stores its handle in the record.
Result findByLabel(TQXP11_SESSION *session, TQXP11_OBJECT *object, CK_OBJECT_CLASS cls);

// 9101 when an object of the class already carries the record's label,
// 9102 when several do.
Result labelFree(TQXP11_SESSION *session, TQXP11_OBJECT *object, CK_OBJECT_CLASS cls);

// Reads ID, modulus and public exponent of the RSA private key of the label.
Result readRsaPrivateKey(TQXP11_SESSION *session, TQXP11_OBJECT *object);
Result writeRsaPublicKey(TQXP11_SESSION *session, TQXP11_OBJECT *object, int flags);
// Writes the public key of the stored private key that carries the label.
void writePublicKeyOfPrivateKey(TQXP11_SESSION *session, const TQXP11_OBJECT *object);

// Reads what the readers read for the object's kind (data value; certificate
// values; RSA ID, modulus and exponent; secret ID and value) into a new value
// record of the object. Leaves the handle as it is.
Result readKindValues(TQXP11_SESSION *session, TQXP11_OBJECT *object);

// Frees the byte strings a reader fills for the kind, then the record.
void freeValueRecord(CK_ULONG kind, TQXP11_VALUE *record);

}  // namespace tqp11

// Helpers shared by the certificate-reading sources; not exported.
#pragma once

#include <cstddef>

#include <openssl/x509v3.h>

#include "base_internal.h"
#include "tqxcrypt_build.h"
#include "tqxcrypt_x509.h"

extern "C" {
// The general names, and an X.509 name, as attribute lists (filled whole or
// left empty).
int GetGeneralName(GENERAL_NAMES *names, TQXCRYPT_ATTRIBUTES *list);
int GetX509Name(X509_NAME *name, TQXCRYPT_ATTRIBUTES *list);

// Hexadecimal text and integers of the builders.
int hex2bin(const char *text, int length, unsigned char *out, int capacity);
int setASN1Integer(ASN1_INTEGER *integer, unsigned char *bytes, int length, int copy);
int bin2hex(const unsigned char *bytes, unsigned int count, char *out, int capacity, char separator);
X509_EXTENSION *CreateX509Extension(ASN1_OBJECT *type, unsigned char *der, long length, int critical);
}

namespace tq {

// The label of an attribute type, as name texts and lists print it: "Email"
// for the e-mail attribute, else the short name, else the whole dotted
// identifier. Both passes of a writer use the same label.
class ObjectLabel {
public:
    explicit ObjectLabel(const ASN1_OBJECT *object) { set(object, false); }
    // longName: a long name is preferred over the short one.
    ObjectLabel(const ASN1_OBJECT *object, bool longName) { set(object, longName); }
    ObjectLabel(const ObjectLabel &) = delete;
    ObjectLabel &operator=(const ObjectLabel &) = delete;
    // Null only when the dotted form could not be produced.
    const char *text() const { return text_; }
    size_t size() const { return size_; }

private:
    void set(const ASN1_OBJECT *object, bool longName);
    const char *text_ = nullptr;
    size_t size_ = 0;
    char inline_[64];
    OsslText owned_;
};

// An attribute list under construction: the array is sized once for the
// items the source holds, and only complete items count, so whatever path
// leaves, the owner releases exactly what was built.
class AttrList {
public:
    AttrList() = default;
    ~AttrList() { TQXCryptFreeAttributes(&list_); }
    AttrList(const AttrList &) = delete;
    AttrList &operator=(const AttrList &) = delete;

    // Room for n items; none is allocated for n = 0.
    int reserve(size_t n);
    int addBlob(const char *label, const void *bytes, size_t n);
    int addText(const char *label, const char *text) { return addBlob(label, text, std::strlen(text)); }
    // The content bytes of a string, bit string or integer.
    int addString(const char *label, const ASN1_STRING *value) {
        return addBlob(label, ASN1_STRING_get0_data(value), static_cast<size_t>(ASN1_STRING_length(value)));
    }
    // An item without data (length 0, data null).
    int addEmpty(const char *label);
    // Takes the nested list over, also when adding fails.
    int addList(const char *label, AttrList &nested);
    // Hands the finished list to the caller, who then owns it.
    void handOut(TQXCRYPT_ATTRIBUTES *out) {
        *out = list_;
        list_ = {0, nullptr};
        capacity_ = 0;
    }

private:
    TQXCRYPT_ATTRIBUTE *slot(const char *label);
    TQXCRYPT_ATTRIBUTES list_{0, nullptr};
    size_t capacity_ = 0;
};

// One general name appended to a list under construction.
int addGeneralName(AttrList &list, const GENERAL_NAME *name);
// An X.509 name, and general names, filled into an empty list.
int nameList(const X509_NAME *name, AttrList &out);
int generalNameList(const GENERAL_NAMES *names, AttrList &out);
// The qualifiers of one policy filled into an empty list (none: empty).
int qualifierList(const STACK_OF(POLICYQUALINFO) *qualifiers, AttrList &out);

// The first extension of the type named by `type` (a name, or a dotted
// identifier): 0, 5005 when the text names no identifier, 5050 when none is
// there. The first match decides: a repeated extension is never read twice.
int findExtension(const STACK_OF(X509_EXTENSION) *extensions, const char *type, X509_EXTENSION **found);

// A certificate's or request's key as a new public-key handle; 5001 without
// a key.
int publicKeyHandle(EvpPkeyPtr key, TQXCRYPT_HANDLE **out);

// Wraps a new object into a handle of its kind and table; the object is
// freed when the handle cannot be made.
template <class T, void (*Free)(T *)>
int wrapNew(T *object, int kind, const TQXCRYPT_ASN1_METHOD *table, TQXCRYPT_HANDLE **out) {
    int rc = tqxCryptCreateHandle(out, kind, object, table, nullptr);
    if (rc != TQ_RTN_OK) Free(object);
    return rc;
}

// A hexadecimal serial text (at most 1024 bytes) as a non-negative INTEGER
// without leading zero bytes: 0, 5003, 5045, 5002.
int serialFromHex(const char *hex, Asn1IntegerPtr &out);

// A time text of 19 (GeneralizedTime) or 17 (UTCTime) characters, checked by
// the library: 0 or 5045 (5002 when no time can be made).
int timeFromText(const char *text, Asn1TimePtr &out);

// Builds the extension of a type of the builder's table from its value.
// Nothing else is touched, so a caller replaces an old extension only once
// the new one exists.
int buildExtension(const char *type, const void *value, int critical, X509ExtensionPtr &out);
// An extension under a dotted identifier with the DER value given in
// hexadecimal: 0, 5005, 5001.
int buildOidExtension(const char *oid, const char *hexValue, int critical, X509ExtensionPtr &out);

// Puts a built extension into a list held by an object (certificate, CRL):
// the first of its type is removed only once the new one is in, at the end.
template <class Object, int (*Find)(const Object *, const ASN1_OBJECT *, int),
          X509_EXTENSION *(*Delete)(Object *, int), int (*Add)(Object *, X509_EXTENSION *, int)>
int replaceExtension(Object *object, X509ExtensionPtr &extension) {
    const ASN1_OBJECT *type = X509_EXTENSION_get_object(extension.get());
    int old = Find(object, type, -1);
    if (Add(object, extension.get(), -1) != 1) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    extension.reset();
    if (old >= 0) X509_EXTENSION_free(Delete(object, old));
    return TQ_RTN_OK;
}

// The value of the choices and fields that are listed but not decoded.
constexpr const char kUnsupported[] = "<UNSUPPORTED>";

}  // namespace tq

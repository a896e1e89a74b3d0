// Helpers shared by the certificate-reading sources; not exported.
#pragma once

#include <cstddef>

#include <openssl/x509v3.h>

#include "internal.h"
#include "tqxcrypt_x509.h"

extern "C" {
// The general names, and an X.509 name, as attribute lists (filled whole or
// left empty).
int GetGeneralName(GENERAL_NAMES *names, TQXCRYPT_ATTRIBUTES *list);
int GetX509Name(X509_NAME *name, TQXCRYPT_ATTRIBUTES *list);
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

// The value of the choices and fields that are listed but not decoded.
constexpr const char kUnsupported[] = "<UNSUPPORTED>";

}  // namespace tq

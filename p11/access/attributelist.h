// The one way the token layer fills PKCS#11 attribute arrays: templates for
// creation, generation, unwrapping and search, changes, and read requests.
#pragma once

#include "tqxp11obj.h"

namespace tqp11 {

// An attribute array of a fixed capacity. Numbers and flag bytes are copied
// into the list, so they live as long as it does; byte strings and read
// buffers are pointed at and must outlive it. An attribute beyond the
// capacity is not taken: the list is then spoilt. The array reaches a module
// call only through `pass`, which refuses a spoilt list instead of handing
// the module a cut template.
class Attributes {
public:
    Attributes(const Attributes &) = delete;
    Attributes &operator=(const Attributes &) = delete;

    void addBool(CK_ATTRIBUTE_TYPE type, bool on);
    // The flag byte as the record holds it, whatever its value.
    void addByte(CK_ATTRIBUTE_TYPE type, CK_BBOOL value);
    void addFlag(CK_ATTRIBUTE_TYPE type, int flags, int bit) { addBool(type, (flags & bit) != 0); }
    void addUlong(CK_ATTRIBUTE_TYPE type, CK_ULONG value);
    void addBytes(CK_ATTRIBUTE_TYPE type, const void *data, CK_ULONG length);
    void addBytes(CK_ATTRIBUTE_TYPE type, const TQXP11_BYTES &bytes) {
        addBytes(type, bytes.data, bytes.length);
    }
    // Text of the given length (a label with or without its NUL).
    void addText(CK_ATTRIBUTE_TYPE type, const char *text, CK_ULONG length) { addBytes(type, text, length); }
    // A read into the caller's buffer; without one, the read learns the length.
    void addBuffer(CK_ATTRIBUTE_TYPE type, void *buffer, CK_ULONG capacity);
    void addQuery(CK_ATTRIBUTE_TYPE type) { addBuffer(type, nullptr, 0); }
    // Sets a boolean attribute wherever the list holds it.
    void setBool(CK_ATTRIBUTE_TYPE type, bool on);
    // Points the i-th attribute at a buffer of the capacity (none, to learn
    // a length again); an index the list does not hold is ignored.
    void setBuffer(CK_ULONG i, void *buffer, CK_ULONG capacity);

    // CKR_OK, or the layer's failure for a list that was given too much.
    CK_RV ready() const;
    // The answer of `call(array, count)` with the list's array, or the
    // failure of `ready()` without calling.
    template <typename Call>
    CK_RV pass(Call &&call) {
        CK_RV rv = ready();
        return rv == CKR_OK ? call(attributes_, count_) : rv;
    }
    CK_ULONG size() const { return count_; }
    CK_ULONG capacity() const { return capacity_; }
    // What the module answered for the i-th attribute.
    const CK_ATTRIBUTE &operator[](CK_ULONG i) const { return attributes_[i]; }

protected:
    union Value {
        CK_ULONG number;
        CK_BBOOL byte;
    };
    Attributes(CK_ATTRIBUTE *attributes, Value *values, CK_ULONG capacity)
        : attributes_(attributes), values_(values), capacity_(capacity) {}
    ~Attributes() = default;

private:
    // False, and the list spoilt, when no slot is left.
    bool room();
    void add(CK_ATTRIBUTE_TYPE type, void *value, CK_ULONG length);

    CK_ATTRIBUTE *attributes_;
    Value *values_;
    CK_ULONG capacity_;
    CK_ULONG count_ = 0;
    bool overfilled_ = false;
};

template <CK_ULONG Capacity>
class AttributeList : public Attributes {
public:
    AttributeList() : Attributes(storage_, values_, Capacity) {}

private:
    CK_ATTRIBUTE storage_[Capacity];
    Value values_[Capacity];
};

}  // namespace tqp11

// Bounded attribute arrays for the module calls of the token layer.
#include "attributelist.h"

namespace tqp11 {

namespace {

const CK_BBOOL kTrue = CK_TRUE;
const CK_BBOOL kFalse = CK_FALSE;

void *flagByte(bool on) { return const_cast<CK_BBOOL *>(on ? &kTrue : &kFalse); }

}  // namespace

void Attributes::add(CK_ATTRIBUTE_TYPE type, void *value, CK_ULONG length) {
    attributes_[count_++] = CK_ATTRIBUTE{type, value, length};
}

bool Attributes::room() {
    if (count_ < capacity_) return true;
    overfilled_ = true;
    return false;
}

void Attributes::addBool(CK_ATTRIBUTE_TYPE type, bool on) {
    if (room()) add(type, flagByte(on), sizeof(CK_BBOOL));
}

void Attributes::addByte(CK_ATTRIBUTE_TYPE type, CK_BBOOL value) {
    if (!room()) return;
    values_[count_].byte = value;
    add(type, &values_[count_].byte, sizeof(CK_BBOOL));
}

void Attributes::addUlong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
    if (!room()) return;
    values_[count_].number = value;
    add(type, &values_[count_].number, sizeof(CK_ULONG));
}

void Attributes::addBytes(CK_ATTRIBUTE_TYPE type, const void *data, CK_ULONG length) {
    if (room()) add(type, const_cast<void *>(data), length);
}

void Attributes::addBuffer(CK_ATTRIBUTE_TYPE type, void *buffer, CK_ULONG capacity) {
    if (room()) add(type, buffer, capacity);
}

void Attributes::setBool(CK_ATTRIBUTE_TYPE type, bool on) {
    for (CK_ULONG i = 0; i < count_; ++i)
        if (attributes_[i].type == type) attributes_[i].pValue = flagByte(on);
}

void Attributes::setBuffer(CK_ULONG i, void *buffer, CK_ULONG capacity) {
    if (i >= count_) return;
    attributes_[i].pValue = buffer;
    attributes_[i].ulValueLen = capacity;
}

// A template cut short would ask the module for something else than meant;
// no caller's argument can cause it, so it is the call's own failure.
CK_RV Attributes::ready() const { return overfilled_ ? CKR_FUNCTION_FAILED : CKR_OK; }

}  // namespace tqp11

// Object records built from a caller's label, and values handed out of them.
#include <cstdlib>
#include <cstring>

#include "bridge_internal.h"

namespace tqbridge {

bool labelFits(const char *label) { return strnlen(label, kLabelMax + 1) <= kLabelMax; }

TQXP11_OBJECT labelRecord(const char *label, CK_ULONG kind, int isPrivate) {
    TQXP11_OBJECT record{};
    std::memcpy(record.label, label, strnlen(label, kLabelMax));
    record.kind = kind;
    record.isPrivate = static_cast<CK_BBOOL>(isPrivate & 0xFF);
    return record;
}

int namedRecord(const char *label, CK_ULONG kind, int isPrivate, TQXP11_OBJECT *record) {
    *record = TQXP11_OBJECT{};
    if (!label || !labelFits(label)) return TQ_RTN_BAD_ARGUMENT;
    *record = labelRecord(label, kind, isPrivate);
    // The deleter matches by the stored length.
    record->labelLength = std::strlen(record->label);
    return TQ_RTN_OK;
}

TQXP11_BYTES labelBytes(TQXP11_OBJECT &record) {
    return TQXP11_BYTES{reinterpret_cast<unsigned char *>(record.label), std::strlen(record.label)};
}

TQXP11_BYTES zeroIv(CK_ULONG kind) {
    // The token only reads a mechanism parameter.
    static unsigned char zeros[16];
    return TQXP11_BYTES{zeros, kind == TQXP11_KIND_AES ? CK_ULONG(16) : CK_ULONG(8)};
}

int handOut(const TQXP11_BYTES &value, unsigned char **out, CK_ULONG *length) {
    auto *copy = static_cast<unsigned char *>(std::calloc(1, value.length + 1));
    if (!copy) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (value.length) std::memcpy(copy, value.data, value.length);
    *out = copy;
    *length = value.length;
    return TQ_RTN_OK;
}

int handOver(TQXCRYPT_BLOB *blob, char **out) {
    *out = reinterpret_cast<char *>(blob->data);
    *blob = TQXCRYPT_BLOB{0, nullptr};
    return TQ_RTN_OK;
}

TQXP11_BYTES bytesOf(const void *data, size_t length) {
    return TQXP11_BYTES{static_cast<unsigned char *>(const_cast<void *>(data)),
                        static_cast<CK_ULONG>(length)};
}

TQXP11_BYTES textBytes(const char *text) {
    return text ? bytesOf(text, std::strlen(text)) : TQXP11_BYTES{nullptr, 0};
}

TQXP11_OBJECT searchRecord(const char *label, CK_ULONG kind, bool isPrivate) {
    return labelRecord(label, kind, isPrivate ? 1 : 0);
}

}  // namespace tqbridge

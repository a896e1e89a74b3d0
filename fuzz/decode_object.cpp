// Decoding of every kind: the first byte selects the kind (low four bits)
// and the text flag (0x10); what decodes is encoded again both ways.
#include <vector>

#include "tqxcrypt.h"

namespace {

struct Target {
    int kind;
    const TQXCRYPT_ASN1_METHOD *(*table)();  // null: through TQXCrypt_DecodeObject
};

const Target kTargets[] = {
    {1, nullptr},
    {2, nullptr},
    {3, nullptr},
    {4, nullptr},
    {5, nullptr},
    {6, nullptr},
    {7, nullptr},
    {11, nullptr},
    {12, nullptr},
    {13, nullptr},
    {10, tqxCryptASN1OCSPRequestMethod},
    {11, tqxCryptASN1OCSPResponseMethod},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size < 1) return 0;
    const Target &t = kTargets[(data[0] & 0x0F) % (sizeof kTargets / sizeof kTargets[0])];
    int flags = (data[0] & 0x10) ? TQXCRYPT_DECODE_TEXT : 0;
    const char *password = (data[0] & 0x20) ? "secret" : nullptr;
    std::vector<unsigned char> body(data + 1, data + size);
    TQXCRYPT_HANDLE *h = nullptr;
    int rc = t.table ? t.table()->decode(&h, body.data(), body.size(), flags, password)
                     : TQXCrypt_DecodeObject(&h, t.kind, body.data(), body.size(), flags, password);
    if (rc != TQ_RTN_OK) {
        if (h) __builtin_trap();  // a failed decode leaves no handle
        return 0;
    }
    int armour = 1;
    TQXCRYPT_BLOB der{0, nullptr}, text{0, nullptr};
    TQXCrypt_EncodeObject(h, t.kind, &der, 0, nullptr);
    TQXCrypt_EncodeObject(h, t.kind, &text, TQXCRYPT_ENCODE_TEXT, t.kind == 6 ? nullptr : &armour);
    TQXCryptFreeBlob(&der);
    TQXCryptFreeBlob(&text);
    TQXCryptFreeHandle(h);
    return 0;
}

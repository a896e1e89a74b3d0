// The common DER/text encoder and decoder behind the method tables.
#include "encoding_internal.h"

namespace {
constexpr int kStagingSize = 10240;
}

int tqxCrypt_ASN1_Encode(const void *object, tq::I2d i2d, int text, const char *label, TQXCRYPT_BLOB *out) {
    if (!object || !i2d || !out) return TQ_RTN_BAD_ARGUMENT;
    int n = i2d(object, nullptr);
    if (n < 0) return TQ_RTN_BAD_FORMAT;
    // Small objects are staged on the stack; only larger ones take the heap.
    unsigned char fixed[kStagingSize];
    tq::TqMem heap;
    unsigned char *staging = fixed;
    if (n >= kStagingSize) {
        heap = tq::tqAlloc(static_cast<size_t>(n) + 1);
        if (!heap) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        staging = heap.get();
    }
    // The staged DER may be a private key: it is wiped either way.
    const tq::Wiped<> wiped(staging, static_cast<size_t>(n));
    unsigned char *p = staging;
    if (i2d(object, &p) != n) return TQ_RTN_BAD_FORMAT;
    if (!text) return tq::putBlob(out, staging, static_cast<size_t>(n));
    return TQXCrypt_Encode(staging, static_cast<size_t>(n), out, label);
}

int tqxCrypt_ASN1_Decode(void **object, const unsigned char *data, size_t length, tq::D2i d2i, int text,
                         const char *labels) {
    if (!object || !d2i || (length > 0 && !data)) return TQ_RTN_BAD_ARGUMENT;
    if (!tq::fitsInt(length)) return TQ_RTN_BAD_ARGUMENT;
    tq::SecretBlob der;
    const unsigned char *p = data;
    long n = static_cast<long>(length);
    if (text) {
        int rc = TQXCrypt_Decode(reinterpret_cast<const char *>(data), length, der.get(), labels);
        if (rc != TQ_RTN_OK) return rc;
        p = der.data();
        n = static_cast<long>(der.size());
    }
    void *parsed = n > 0 ? d2i(nullptr, &p, n) : nullptr;
    if (!parsed) return TQ_RTN_BAD_FORMAT;
    *object = parsed;
    return TQ_RTN_OK;
}

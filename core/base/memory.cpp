// The library allocator with the host's hooks, and self-describing blocks.
#include <cstdlib>
#include <cstring>

#include "base_internal.h"

extern "C" {

TQ_ALLOC_FN XMemAlloc = nullptr;
TQ_REALLOC_FN XMemRealloc = nullptr;
TQ_FREE_FN XMemFree = nullptr;

void *TQCryptMemAlloc(size_t size) try {
    // A hook pointing back at us would recurse forever.
    if (XMemAlloc && XMemAlloc != &TQCryptMemAlloc) return XMemAlloc(size);
    return std::malloc(size);
}
TQ_CATCH_EMPTY

void *TQCryptMemRealloc(void *block, size_t size) try {
    if (XMemRealloc && XMemRealloc != &TQCryptMemRealloc) return XMemRealloc(block, size);
    return std::realloc(block, size);
}
TQ_CATCH_EMPTY

void TQCryptMemFree(void *block) try {
    if (!block) return;
    if (XMemFree && XMemFree != &TQCryptMemFree) {
        XMemFree(block);
        return;
    }
    std::free(block);
}
TQ_CATCH_VOID

void TQCryptSetMemCallBack(TQ_ALLOC_FN alloc, TQ_REALLOC_FN reallocate, TQ_FREE_FN release) try {
    XMemAlloc = alloc;
    XMemRealloc = reallocate;
    XMemFree = release;
}
TQ_CATCH_VOID

}  // extern "C"

namespace {

// Header ahead of the caller's area: the routines the block was made with.
struct SecureHeader {
    void *(*alloc)(size_t);
    void *(*reallocate)(void *, size_t);
    void (*release)(void *);
};
// Keeps the caller's area aligned as malloc's own.
constexpr size_t kHeaderSize = (sizeof(SecureHeader) + alignof(std::max_align_t) - 1) /
                               alignof(std::max_align_t) * alignof(std::max_align_t);

SecureHeader *headerOf(void *area) {
    return reinterpret_cast<SecureHeader *>(static_cast<unsigned char *>(area) - kHeaderSize);
}

}  // namespace

extern "C" {

void *XTQSecureMemAlloc(size_t size) try {
    if (size > SIZE_MAX - kHeaderSize) return nullptr;
    auto *block = static_cast<unsigned char *>(std::malloc(size + kHeaderSize));
    if (!block) return nullptr;
    auto *header = reinterpret_cast<SecureHeader *>(block);
    header->alloc = std::malloc;
    header->reallocate = std::realloc;
    header->release = std::free;
    return block + kHeaderSize;
}
TQ_CATCH_EMPTY

void *XTQSecureMemRealloc(void *area, size_t size) try {
    if (!area) return XTQSecureMemAlloc(size);
    if (size > SIZE_MAX - kHeaderSize) return nullptr;
    SecureHeader *header = headerOf(area);
    auto *block = static_cast<unsigned char *>(header->reallocate(header, size + kHeaderSize));
    return block ? block + kHeaderSize : nullptr;
}
TQ_CATCH_EMPTY

void XTQSecureMemFree(void *area) try {
    if (!area) return;
    SecureHeader *header = headerOf(area);
    header->release(header);
}
TQ_CATCH_VOID

char *tqxstrdup(const char *text) try {
    char *copy = nullptr;
    if (text) tq::putText(text, std::strlen(text), &copy);
    return copy;
}
TQ_CATCH_EMPTY

}  // extern "C"

namespace tq {

char *newText(size_t length) noexcept {
    if (length == SIZE_MAX) return nullptr;
    auto *text = static_cast<char *>(TQCryptMemAlloc(length + 1));
    if (text) text[length] = '\0';
    return text;
}

int putText(const char *bytes, size_t length, char **out) noexcept {
    char *text = newText(length);
    if (!text) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (length) std::memcpy(text, bytes, length);
    *out = text;
    return TQ_RTN_OK;
}

}  // namespace tq

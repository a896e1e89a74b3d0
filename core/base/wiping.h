// Key material, PINs and plaintext leave no copy behind in memory that is
// freed or goes out of scope. This is the one place the library clears
// memory; it needs nothing of ours, so every layer may include it.
#pragma once

#include <cstddef>
#include <cstdlib>

#include <openssl/crypto.h>

namespace tq {

// Clears bytes the compiler would otherwise be free to leave (a local array
// that dies next, a caller's buffer that is to be cleared).
inline void wipe(void *data, size_t size) noexcept {
    if (data && size) OPENSSL_cleanse(data, size);
}

inline void systemFree(void *data) noexcept { std::free(data); }
// For bytes that are not the owner's to free (a local array).
inline void keepAllocated(void *) noexcept {}

// Bytes that may hold a secret, wiped whichever way the scope ends and then
// given to `Free`, the free function of the allocator they came from (the
// system's, the library's, the one the module or host that made them
// names). By default they are only wiped.
template <void (*Free)(void *) = keepAllocated>
class Wiped {
public:
    Wiped() noexcept = default;
    Wiped(void *data, size_t size) noexcept : data_(static_cast<unsigned char *>(data)), size_(size) {}
    Wiped(Wiped &&other) noexcept : data_(other.data_), size_(other.size_) { other.forget(); }
    Wiped &operator=(Wiped &&other) noexcept {
        if (this != &other) {
            reset(other.data_, other.size_);
            other.forget();
        }
        return *this;
    }
    Wiped(const Wiped &) = delete;
    Wiped &operator=(const Wiped &) = delete;
    ~Wiped() { clear(); }

    unsigned char *get() const noexcept { return data_; }
    size_t size() const noexcept { return size_; }
    explicit operator bool() const noexcept { return data_ != nullptr; }

    // The bytes held go (wiped, freed); these are held instead.
    void reset(void *data = nullptr, size_t size = 0) noexcept {
        clear();
        data_ = static_cast<unsigned char *>(data);
        size_ = size;
    }
    // Hands the bytes on as they are, to an owner who wipes them in turn.
    unsigned char *release() noexcept {
        unsigned char *data = data_;
        forget();
        return data;
    }

private:
    void clear() noexcept {
        wipe(data_, size_);
        if (data_) Free(data_);
    }
    void forget() noexcept {
        data_ = nullptr;
        size_ = 0;
    }
    unsigned char *data_ = nullptr;
    size_t size_ = 0;
};

// Zero-filled scratch bytes of the system allocator, never a null pointer
// for no bytes; empty when the allocator refused them, which the caller
// checks (nothing here throws).
inline Wiped<systemFree> scratch(size_t size) noexcept {
    return Wiped<systemFree>(std::calloc(size ? size : 1, 1), size);
}

}  // namespace tq

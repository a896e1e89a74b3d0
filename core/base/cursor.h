// The bounded cursor, header-only so that every layer with a parser has it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tq {

// Reads bytes in order and cannot step past its end: every hand-written
// parser of the core goes through it.
class ByteCursor {
public:
    ByteCursor() = default;
    ByteCursor(const void *data, size_t length)
        : p_(static_cast<const unsigned char *>(data)), n_(data ? length : 0) {}

    size_t remaining() const { return n_ - pos_; }
    bool empty() const { return pos_ >= n_; }
    size_t position() const { return pos_; }
    const unsigned char *here() const { return p_ + pos_; }

    // The next byte, or -1 at the end.
    int peek() const { return empty() ? -1 : p_[pos_]; }
    int next() { return empty() ? -1 : p_[pos_++]; }
    bool skip(size_t n) {
        if (n > remaining()) return false;
        pos_ += n;
        return true;
    }
    bool startsWith(const void *text, size_t length) const {
        return length <= remaining() && std::memcmp(here(), text, length) == 0;
    }
    // Offset of the next occurrence of c from here, or SIZE_MAX.
    size_t find(unsigned char c) const {
        if (empty()) return SIZE_MAX;
        const void *hit = std::memchr(here(), c, remaining());
        return hit ? static_cast<size_t>(static_cast<const unsigned char *>(hit) - here()) : SIZE_MAX;
    }
    // The first n bytes from here as a cursor of their own.
    ByteCursor take(size_t n) const { return ByteCursor(here(), n < remaining() ? n : remaining()); }
    // Drops bytes at the end while pred holds.
    template <class Pred>
    void trimEnd(Pred pred) {
        while (n_ > pos_ && pred(p_[n_ - 1])) --n_;
    }
    int last() const { return empty() ? -1 : p_[n_ - 1]; }

private:
    const unsigned char *p_ = nullptr;
    size_t n_ = 0;
    size_t pos_ = 0;
};

}  // namespace tq

// A read cursor over a bounded byte range: every read is checked against the
// end, so parsers built on it cannot step past their input.
#pragma once
#include <cstddef>
#include <cstdint>

class ByteCursor {
public:
    ByteCursor(const void *data, size_t size)
        : pos_(static_cast<const uint8_t *>(data)), end_(pos_ + (data ? size : 0)) {}

    bool atEnd() const { return pos_ == end_; }
    size_t remaining() const { return static_cast<size_t>(end_ - pos_); }
    // The next byte, or 0 at the end.
    uint8_t peek() const { return atEnd() ? 0 : *pos_; }
    // Steps over up to n bytes; never past the end.
    void skip(size_t n) { pos_ += n < remaining() ? n : remaining(); }
    bool skipIf(uint8_t b) {
        if (atEnd() || *pos_ != b) return false;
        ++pos_;
        return true;
    }
    // Takes the bytes up to the next `stop` byte (or the end) and steps over
    // the stop byte.
    size_t takeUntil(uint8_t stop, const uint8_t **start) {
        *start = pos_;
        const uint8_t *p = pos_;
        while (p != end_ && *p != stop) ++p;
        size_t n = static_cast<size_t>(p - pos_);
        pos_ = p;
        skipIf(stop);
        return n;
    }
    // Takes exactly n bytes; false (and nothing taken) when fewer remain.
    bool take(size_t n, const uint8_t **start) {
        if (n > remaining()) return false;
        *start = pos_;
        pos_ += n;
        return true;
    }
    bool readByte(uint8_t *b) {
        if (atEnd()) return false;
        *b = *pos_++;
        return true;
    }

private:
    const uint8_t *pos_;
    const uint8_t *end_;
};

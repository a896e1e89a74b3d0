// One DER element from its identifier and content, for the tests and fuzz
// targets that put structures together byte by byte. Header only: the fuzz
// build has none of the test support library.
#pragma once

#include <vector>

namespace derelement {

inline std::vector<unsigned char> tlv(unsigned identifier, const std::vector<unsigned char> &content) {
    std::vector<unsigned char> out{static_cast<unsigned char>(identifier)};
    const size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else {
        std::vector<unsigned char> length;
        for (size_t v = n; v; v >>= 8) length.insert(length.begin(), static_cast<unsigned char>(v & 0xFF));
        out.push_back(static_cast<unsigned char>(0x80 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

}  // namespace derelement

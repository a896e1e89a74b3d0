// The fixture files a target reads once: from the folder the run names in
// TQ_FIXTURES. A missing or unreadable fixture stops the target at once.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tqxcrypt.h"

namespace fuzz {

inline std::vector<unsigned char> fixtureBytes(const std::string &name) {
    const char *dir = std::getenv("TQ_FIXTURES");
    const std::string path = std::string(dir ? dir : ".") + "/" + name;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::fprintf(stderr, "no fixture %s\n", path.c_str());
        std::abort();
    }
    std::vector<unsigned char> bytes;
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<unsigned char>(c));
    std::fclose(f);
    return bytes;
}

inline std::string fixtureText(const std::string &name) {
    const std::vector<unsigned char> bytes = fixtureBytes(name);
    return std::string(bytes.begin(), bytes.end());
}

// A fixture decoded as an object of the kind (DER, or text with the flag).
inline TQXCRYPT_HANDLE *fixtureObject(int kind, const std::string &name, int flags = 0,
                                      const char *password = nullptr) {
    const std::vector<unsigned char> bytes = fixtureBytes(name);
    TQXCRYPT_HANDLE *h = nullptr;
    if (TQXCrypt_DecodeObject(&h, kind, bytes.data(), bytes.size(), flags, password) != TQ_RTN_OK) {
        std::fprintf(stderr, "fixture %s does not decode\n", name.c_str());
        std::abort();
    }
    return h;
}

}  // namespace fuzz

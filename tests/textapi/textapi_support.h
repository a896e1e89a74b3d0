// Shared pieces of the one-call text tests: the fixture set, owners for what
// the functions hand out, and a count of the library allocator's blocks.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "testutil.h"
#include "tqcrypt.h"
#include "tqxcrypt_store.h"

namespace txtest {

using tqtest::Bytes;
using tqtest::sh;

inline const tqtest::FixtureSet kFixtures("textapi");
inline std::string fx(const std::string &name) { return kFixtures.path(name); }
inline std::string text(const std::string &name) { return kFixtures.text(name); }
inline Bytes bytes(const std::string &name) { return kFixtures.bytes(name); }

// A text or buffer from the library allocator.
template <class T>
struct Out {
    T *p = nullptr;
    ~Out() { TQCryptMemFree(p); }
    Out() = default;
    Out(const Out &) = delete;
    Out &operator=(const Out &) = delete;
    T **operator&() {
        TQCryptMemFree(p);
        p = nullptr;
        return &p;
    }
    std::string str() const { return p ? std::string(reinterpret_cast<const char *>(p)) : std::string(); }
};
using OutText = Out<char>;
using OutBytes = Out<unsigned char>;

// The DER of a PEM or Base64 text, through the openssl tool.
inline Bytes derOfBase64(const tqtest::TempDir &dir, const std::string &base64) {
    tqtest::writeFile(dir.file("b64"), base64);
    return tqtest::shBytes("openssl base64 -d -in " + dir.file("b64"));
}

// Blocks of the library allocator that are live, while an instance exists.
class BlockCount {
public:
    BlockCount() { TQCryptSetMemCallBack(alloc, reallocate, release); }
    ~BlockCount() { TQCryptSetMemCallBack(nullptr, nullptr, nullptr); }
    BlockCount(const BlockCount &) = delete;
    BlockCount &operator=(const BlockCount &) = delete;
    static long live() { return live_.load(); }

private:
    static void *alloc(size_t n) {
        void *p = std::malloc(n ? n : 1);
        if (p) ++live_;
        return p;
    }
    static void *reallocate(void *p, size_t n) {
        void *q = std::realloc(p, n ? n : 1);
        if (q && !p) ++live_;
        return q;
    }
    static void release(void *p) {
        if (p) --live_;
        std::free(p);
    }
    static inline std::atomic<long> live_{0};
};

// A store of the set's root, and one of root plus the pkcs7 set's chain.
inline TQXCRYPT_HANDLE *rootStore() { return tqtest::storeOfTexts(text("ca.pem")); }

}  // namespace txtest

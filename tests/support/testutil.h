// Shared helpers of the test programs: fixtures made by the openssl tool,
// files, and running peer commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <openssl/crypto.h>
#include <openssl/types.h>

#include "tqxcrypt.h"

namespace tqtest {

using Bytes = std::vector<unsigned char>;

// Directory of the fixtures made by tests/fixtures/make_fixtures.sh.
std::string fixtureDir();
std::string fixture(const std::string &name);

Bytes readFile(const std::string &path);
std::string readText(const std::string &path);
void writeFile(const std::string &path, const void *data, size_t length);
inline void writeFile(const std::string &path, const Bytes &b) { writeFile(path, b.data(), b.size()); }
inline void writeFile(const std::string &path, const std::string &s) { writeFile(path, s.data(), s.size()); }

// Runs a shell command; returns its standard output, stores its exit status.
std::string run(const std::string &command, int *status = nullptr);

// Runs a shell command (the openssl tool, mostly); the current test fails,
// showing the command and its error output, when its exit status differs.
// Returns its standard output.
std::string sh(const std::string &command, int expectedStatus = 0);
Bytes shBytes(const std::string &command);

// One row of a table of calls and the result code each must give.
struct CodeCase {
    const char *what;
    int rc;
    int expected;
};
void expectCodes(const CodeCase *begin, const CodeCase *end);
template <size_t N>
void expectCodes(const CodeCase (&cases)[N]) {
    expectCodes(cases, cases + N);
}

// The hash selectors and the openssl tool's names of their digests.
struct Selector {
    unsigned selector;
    const char *md;
};
extern const Selector kSelectors[7];

Bytes randomBytes(size_t n, uint32_t seed);
std::string toHex(const Bytes &b);
// The DER of an OpenSSL object by its i2d function; empty when it does not
// encode.
template <class T>
Bytes derBytes(const T *object, int (*i2d)(const T *, unsigned char **)) {
    unsigned char *out = nullptr;
    const int n = i2d(object, &out);
    Bytes der(out, out + (n > 0 ? n : 0));
    OPENSSL_free(out);
    return der;
}
// The DER of an OBJECT IDENTIFIER in dotted form.
Bytes oidDer(const char *dotted);

// A PEM file as OpenSSL reads it, for a peer's side of a test; null when it
// does not read. The caller frees it.
X509 *pemCertificate(const std::string &path);
EVP_PKEY *pemPrivateKey(const std::string &path);
// A number of a key by its parameter name (OSSL_PKEY_PARAM_RSA_N...),
// big-endian; the current test fails when the key has none.
Bytes keyNumber(const EVP_PKEY *key, const char *name);

// Hexadecimal text as bytes: either case, anything but digits (colons, white
// space, a label) passed over; an odd count of digits reads as if a 0 led.
Bytes hexBytes(const std::string &text);

// A directory that is removed with everything in it when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Owners for what the library hands out.
struct HandleOwner {
    TQXCRYPT_HANDLE *h = nullptr;
    HandleOwner() = default;
    explicit HandleOwner(TQXCRYPT_HANDLE *handle) : h(handle) {}
    ~HandleOwner() { TQXCryptFreeHandle(h); }
    HandleOwner(const HandleOwner &) = delete;
    HandleOwner &operator=(const HandleOwner &) = delete;
    TQXCRYPT_HANDLE **out() {
        TQXCryptFreeHandle(h);
        h = nullptr;
        return &h;
    }
    TQXCRYPT_HANDLE *get() const { return h; }
    TQXCRYPT_HANDLE *release() {
        TQXCRYPT_HANDLE *r = h;
        h = nullptr;
        return r;
    }
};

struct BlobOwner {
    TQXCRYPT_BLOB b{0, nullptr};
    ~BlobOwner() { TQXCryptFreeBlob(&b); }
    BlobOwner() = default;
    BlobOwner(const BlobOwner &) = delete;
    BlobOwner &operator=(const BlobOwner &) = delete;
    TQXCRYPT_BLOB *operator&() { return &b; }
    Bytes bytes() const { return b.data ? Bytes(b.data, b.data + b.length) : Bytes(); }
    std::string text() const { return b.data ? std::string((const char *)b.data, b.length) : std::string(); }
};

// A text of the library allocator; "<null>" where none came.
struct TextOwner {
    char *text = nullptr;
    TextOwner() = default;
    TextOwner(const TextOwner &) = delete;
    TextOwner &operator=(const TextOwner &) = delete;
    ~TextOwner() { TQCryptMemFree(text); }
    std::string str() const { return text ? text : "<null>"; }
};

// Bytes of the library allocator with their length.
struct BufferOwner {
    unsigned char *data = nullptr;
    int length = -1;
    BufferOwner() = default;
    BufferOwner(const BufferOwner &) = delete;
    BufferOwner &operator=(const BufferOwner &) = delete;
    ~BufferOwner() { TQCryptMemFree(data); }
    Bytes bytes() const { return data ? Bytes(data, data + length) : Bytes(); }
};

// A handle without an object, made by the library's constructor: a record
// built any other way is no handle to the library.
TQXCRYPT_HANDLE *emptyHandle(int kind, const TQXCRYPT_ASN1_METHOD *method = nullptr);

// What a host may have left on the calling thread's OpenSSL error queue when
// it calls us: nothing, or three entries of its own, each with its text and
// with a mark of the host's set after it.
enum class HostQueue { Empty, Marked };
inline constexpr HostQueue kHostQueues[] = {HostQueue::Empty, HostQueue::Marked};
const char *nameOf(HostQueue queue);
void pushHostQueue(HostQueue queue);
// The current test fails unless the queue holds exactly what pushHostQueue
// left, marks included; `what` names the call. The queue is empty after.
void expectHostQueue(HostQueue queue, const std::string &what);

// A handle's object as the kind (DER, or what the library writes for it);
// the current test fails when it does not encode.
Bytes encoded(TQXCRYPT_HANDLE *handle, int kind);
// DER as a handle of the kind; the current test fails when it does not decode.
TQXCRYPT_HANDLE *decoded(int kind, const Bytes &der);

// A store of PEM texts, CRLs when not null; the current test fails when it
// does not load.
TQXCRYPT_HANDLE *storeOfTexts(const std::string &certificates, const char *crls = nullptr);

// Decodes a fixture file into a handle; fails the current test on error.
TQXCRYPT_HANDLE *decodeFixture(int kind, const std::string &name, int flags = 0,
                               const char *password = nullptr);

// A certificate, key or CRL file as a handle of the kind: text unless the
// name ends in ".der". The current test fails when it does not decode.
TQXCRYPT_HANDLE *decodeFile(int kind, const std::string &path);

// One fixture set, a folder of the fixture directory: its files, and its
// certificates and keys as handles (decodeFile). A name that starts with '/'
// is a path of its own.
class FixtureSet {
public:
    explicit FixtureSet(const char *folder) : folder_(folder) {}
    std::string path(const std::string &name) const;
    Bytes bytes(const std::string &name) const { return readFile(path(name)); }
    std::string text(const std::string &name) const { return readText(path(name)); }
    TQXCRYPT_HANDLE *certificate(const std::string &name) const;
    TQXCRYPT_HANDLE *privateKey(const std::string &name) const;
    TQXCRYPT_HANDLE *publicKey(const std::string &name) const;
    TQXCRYPT_HANDLE *crl(const std::string &name) const;

private:
    const char *folder_;
};

}  // namespace tqtest

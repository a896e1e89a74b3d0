// Helpers of the certificate-reading tests: the fixtures of the x509 set,
// the openssl tool on them, and owners and a checking dump of what the
// library hands out.
#pragma once

#include <string>
#include <vector>

#include "testutil.h"
#include "tqxcrypt_x509.h"

namespace x509test {

using tqtest::Bytes;
using tqtest::HandleOwner;

inline const tqtest::FixtureSet kFixtures("x509");
inline std::string path(const std::string &name) { return kFixtures.path(name); }
// A certificate of the set, PEM or DER by its file name.
inline TQXCRYPT_HANDLE *cert(const std::string &name) { return kFixtures.certificate(name); }
// `openssl x509 -noout <args>` on a certificate of the set: its output.
std::string x509Tool(const std::string &name, const std::string &args);
// The output's lines, each without its indentation; blank lines dropped.
std::vector<std::string> lines(const std::string &text);

struct ListOwner {
    TQXCRYPT_ATTRIBUTES list{0, nullptr};
    ListOwner() = default;
    ListOwner(const ListOwner &) = delete;
    ListOwner &operator=(const ListOwner &) = delete;
    ~ListOwner() { TQXCryptFreeAttributes(&list); }
};

using tqtest::TextOwner;

// The list as indented lines "label=value" and "label:" before a nested
// list; bytes outside printable ASCII as \xHH. Fails the test where the list
// breaks a rule of the records: an unnamed item, isList other than 0 or 1,
// a blob without its NUL, items set exactly when the count is not 0.
std::string dump(const TQXCRYPT_ATTRIBUTES &list, int indent = 0);
std::string escaped(const unsigned char *data, size_t length);
std::string text(const TQXCRYPT_BLOB &blob);

// The key-usage bits by the names the tool prints them with.
const std::vector<std::pair<int, std::string>> &keyUsageNames();

// The extension of the certificate by name, into a list or a blob.
int listOf(TQXCRYPT_HANDLE *cert, const char *type, ListOwner &out, int *critical = nullptr);

}  // namespace x509test

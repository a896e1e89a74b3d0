// Helpers of the building tests: the keys of the build set, the fields of a
// root and a leaf built by the library, and the openssl tool's twins of
// them made from the same fields.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "testutil.h"
#include "tqxcrypt_crl.h"

namespace buildtest {

using tqtest::Bytes;
using tqtest::HandleOwner;

// The keys of the build set.
inline const tqtest::FixtureSet kFixtures("build");
inline std::string keyPath(const std::string &name) { return kFixtures.path(name); }
inline TQXCRYPT_HANDLE *privateKey(const std::string &name) { return kFixtures.privateKey(name); }
inline TQXCRYPT_HANDLE *publicKey(const std::string &name) { return kFixtures.publicKey(name); }

// The DER of an object by its kind; empty (and a failure) when it does not encode.
inline Bytes der(TQXCRYPT_HANDLE *object, int kind) { return tqtest::encoded(object, kind); }
inline TQXCRYPT_HANDLE *decode(int kind, const Bytes &der) { return tqtest::decoded(kind, der); }

// The fields both the library and the tool are given.
extern const char kRootDn[];    // DN text
extern const char kRootSubj[];  // the same for -subj
extern const char kLeafDn[];
extern const char kLeafSubj[];
extern const unsigned char kRootKeyId[20];
extern const char kRootKeyIdHex[];  // colon-separated, for the tool
extern const unsigned char kLeafKeyId[20];
extern const char kLeafKeyIdHex[];

// Built and signed (selector 4, SHA-256) by the library.
TQXCRYPT_HANDLE *buildRoot(TQXCRYPT_HANDLE *rootKey);
TQXCRYPT_HANDLE *buildLeaf(TQXCRYPT_HANDLE *root, TQXCRYPT_HANDLE *rootKey, int selector = 4);

// An `openssl ca` database in a folder of its own, its CA being a
// certificate and key given as files.
class ToolCa {
public:
    ToolCa(const std::string &certPem, const std::string &keyPem);
    const tqtest::TempDir &dir() const { return dir_; }
    std::string config() const { return dir_.file("ca.cnf"); }
    // `openssl ca` over a request for `subj` signed by `key`; extensions
    // from the text (one section); serial as hexadecimal; DER out.
    Bytes issue(const std::string &requestKey, const std::string &subj, const std::string &serial,
                const std::string &start, const std::string &end, const std::string &extensions,
                bool selfSign = false);
    // A revoked entry of the database: serial as even-length upper-case
    // hexadecimal, date as YYMMDDHHMMSSZ, reason a name of the tool or empty.
    void revoked(const std::string &serial, const std::string &date, const std::string &reason);
    // `openssl ca -gencrl` with the given update times, the CRL extensions of
    // the section text, and crlNumber 1; DER out.
    Bytes crl(const std::string &lastUpdate, const std::string &nextUpdate, const std::string &extensions);

private:
    tqtest::TempDir dir_;
    std::string base_;
};

}  // namespace buildtest

namespace buildtest {
// Whole-DER equality; on a difference the failure shows the two asn1parse
// dumps side by side (diff).
::testing::AssertionResult sameDer(const Bytes &ours, const Bytes &twin);
// A file in the directory holding the bytes, for the tool.
std::string saved(const tqtest::TempDir &dir, const std::string &name, const Bytes &bytes);
extern const char kRootExtensions[];
extern const char kLeafExtensions[];
}  // namespace buildtest

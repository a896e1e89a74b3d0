// Helpers of the store tests: the "chains" fixture set, stores built from
// its files, and the openssl tool's answer for the same chain.
#pragma once

#include <string>
#include <vector>

#include <openssl/x509.h>

#include "testutil.h"
#include "tqxcrypt_store.h"

namespace storetest {

using Files = std::vector<std::string>;

// A file of the chains set; a path that starts with '/' is taken as it is.
inline const tqtest::FixtureSet kFixtures("chains");
inline std::string chainFile(const std::string &name) { return kFixtures.path(name); }

inline std::string pemList(const Files &files) {
    std::string text;
    for (const auto &f : files) text += kFixtures.text(f);
    return text;
}

// Decodes a PEM certificate or CRL file into a handle.
inline TQXCRYPT_HANDLE *decodePem(int kind, const std::string &file) {
    return tqtest::decodeFile(kind, chainFile(file));
}

// A certificate of a PEM file as OpenSSL reads it (the caller frees it).
X509 *readCert(const std::string &file);

inline int loadStore(tqtest::HandleOwner &store, const Files &certs, const Files &crls) {
    std::string c = pemList(certs), r = pemList(crls);
    return TQXCrypt_LoadStore(store.out(), certs.empty() ? nullptr : c.c_str(),
                              crls.empty() ? nullptr : r.c_str());
}

inline X509_STORE *storeOf(const tqtest::HandleOwner &h) {
    return static_cast<X509_STORE *>(h.get()->object);
}
inline X509 *certOf(const tqtest::HandleOwner &h) { return static_cast<X509 *>(h.get()->object); }

// Objects of one type in a store.
inline int countObjects(X509_STORE *store, X509_LOOKUP_TYPE type) {
    int n = 0;
    STACK_OF(X509_OBJECT) *objects = X509_STORE_get0_objects(store);
    for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i)
        if (X509_OBJECT_get_type(sk_X509_OBJECT_value(objects, i)) == type) ++n;
    return n;
}

// `openssl verify`: self-signed certificates of `certs` as -CAfile, the
// others as -untrusted. Returns whether it accepted the chain; `output` gets
// what it printed.
bool opensslVerify(const tqtest::TempDir &dir, const std::string &leaf, const Files &certs, const Files &crls,
                   const std::string &crlOption, long long attime, std::string *output);

}  // namespace storetest

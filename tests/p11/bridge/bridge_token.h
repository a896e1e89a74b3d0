// A SoftHSM2 token, reached through the shim, holding RSA keys that also
// exist in software as the openssl tool made them.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "shim_state.h"
#include "softtoken.h"
#include "tqxcrypt_keys.h"
#include "tqxp11bridge.h"

namespace bridgetest {

using tqtest::BlobOwner;
using tqtest::Bytes;
using tqtest::encoded;
using tqtest::HandleOwner;
using tqtest::kSelectors;
using tqtest::Selector;
using tqtest::sh;
using tqtest::shBytes;
using tqtest::TextOwner;

// Fixture paths: the PKCS#7 set (signer with its chain, recipient, other)
// and the bridge set (an RSA-3072 key).
inline const tqtest::FixtureSet kPkcs7Fixtures("pkcs7"), kBridgeFixtures("bridge");
inline std::string pkcs7File(const std::string &name) { return kPkcs7Fixtures.path(name); }
inline std::string bridgeFile(const std::string &name) { return kBridgeFixtures.path(name); }
// The text of a file of the PKCS#7 set.
inline std::string pem(const std::string &name) { return kPkcs7Fixtures.text(name); }

// Software handles of PEM files.
inline TQXCRYPT_HANDLE *softwarePrivateKey(const std::string &path) {
    return tqtest::decodeFile(TQXCRYPT_KIND_PRIVATEKEY, path);
}
inline TQXCRYPT_HANDLE *certificate(const std::string &path) {
    return tqtest::decodeFile(TQXCRYPT_KIND_CERTIFICATE, path);
}

// Library allocations that fail once `succeeding` of them were made, while
// the object lives; counts what was asked for.
class FailingAllocator {
public:
    explicit FailingAllocator(int succeeding);
    ~FailingAllocator();
    FailingAllocator(const FailingAllocator &) = delete;
    FailingAllocator &operator=(const FailingAllocator &) = delete;
    // Whether the operation asked for more than was allowed.
    bool failed() const;
};

class TokenKeys : public p11test::LoggedIn {
protected:
    const char *module() const override { return TQ_SHIM_MODULE; }
    // Puts the key pair of a PEM key on the token (private and public object).
    void importPair(const std::string &pem, const std::string &label, const std::string &idHex);
    // Writes only one object of the PEM key: type "privkey" or "pubkey".
    void writeOne(const std::string &pem, const std::string &type, const std::string &label,
                  const std::string &idHex);
    // A file in the token's directory holding these bytes.
    std::string file(const std::string &name, const Bytes &content);
    int tokenCalls(const char *function) const { return shim::calls(function); }

private:
    int files_ = 0;
};

}  // namespace bridgetest

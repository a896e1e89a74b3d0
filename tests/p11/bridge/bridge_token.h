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
using tqtest::HandleOwner;

// Fixture paths: the PKCS#7 set (signer with its chain, recipient, other)
// and the bridge set (an RSA-3072 key).
std::string pkcs7File(const std::string &name);
std::string bridgeFile(const std::string &name);

// Runs a shell command; the test fails when it exits non-zero.
std::string sh(const std::string &command);
Bytes shBytes(const std::string &command);

// Software handles of PEM files.
TQXCRYPT_HANDLE *softwarePrivateKey(const std::string &path);
TQXCRYPT_HANDLE *certificate(const std::string &path);

// The hash selectors and the openssl tool's digest names.
struct Selector {
    int selector;
    const char *md;
};
extern const Selector kSelectors[7];

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

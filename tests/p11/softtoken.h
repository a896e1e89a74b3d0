// A SoftHSM2 token of a test's own in a temporary directory, the peer
// tools that reach it, and a context loaded on it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "testutil.h"
#include "tqxp11obj.h"

namespace p11test {

// Loads the OpenSSL providers SoftHSM2's single DES needs in this process.
void loadProviders();

class SoftToken {
public:
    explicit SoftToken(const std::string &label = "tq-token", const std::string &soPin = "87654321",
                       const std::string &userPin = "123456");
    ~SoftToken();
    SoftToken(const SoftToken &) = delete;
    SoftToken &operator=(const SoftToken &) = delete;

    const std::string &label() const { return label_; }
    const std::string &soPin() const { return soPin_; }
    const std::string &userPin() const { return userPin_; }
    std::string file(const std::string &name) const { return dir_.file(name); }

    // Runs pkcs11-tool on this token (logged in as the user); returns its output.
    std::string tool(const std::string &arguments, int *status = nullptr) const;
    // Runs pkcs11-tool on the module with this token's configuration only.
    std::string moduleTool(const std::string &arguments, int *status = nullptr) const;
    // Runs softhsm2-util with this token's configuration.
    std::string util(const std::string &arguments, int *status = nullptr) const;

private:
    tqtest::TempDir dir_;
    std::string label_, soPin_, userPin_, config_;
};

// Initialises the context on the module and makes the slot of the token
// with this label current; returns the first failing code.
int loadOn(TQXP11_CONTEXT *context, const std::string &module, const std::string &tokenLabel,
           const CK_C_INITIALIZE_ARGS *initArgs = nullptr);

// The label of a token as the module reports it, blanks removed.
std::string trimmedLabel(const unsigned char (&label)[32]);

tqtest::Bytes bytesOf(const TQXP11_BYTES &b);

// The fixture user's certificate and key, as the openssl tool made them.
struct UserCredentials {
    tqtest::Bytes certificate, subject, issuer, serial;
    tqtest::Bytes n, e, d, p, q, dp, dq, qinv;
    UserCredentials();
};

// A described object record: label, kind, private flag and value record.
TQXP11_OBJECT describe(const std::string &label, CK_ULONG kind, bool isPrivate,
                       TQXP11_VALUE *value = nullptr);

// A read-write session on a fresh token with the user logged in.
class LoggedIn : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    virtual const char *module() const { return TQ_SOFTHSM_MODULE; }
    // Runs pkcs11-tool on the token and fails the test when it fails.
    std::string peer(const std::string &arguments);

    SoftToken token;
    TQXP11_CONTEXT context{};
    TQXP11_SESSION session{};
};

}  // namespace p11test

// Out of memory, the token layer's calls on SoftHSM2 answer 5002 and keep
// nothing: each allocation the library makes in turn fails (the library
// allocator and operator new); the module's own allocations go on, and the
// token is left as it was.
#include <gtest/gtest.h>

#include <string>

#include "allocation_failure.h"
#include "bridge_token.h"
#include "tqp11certs.h"

namespace {

using namespace bridgetest;
using tqtest::AllocationFailure;
using tqtest::sweepAllocations;

class TokenOutOfMemory : public TokenKeys {
protected:
    // SoftHSM2 itself: no vendor entry is needed here.
    const char *module() const override { return TQ_SOFTHSM_MODULE; }
    void SetUp() override {
        TokenKeys::SetUp();
        ASSERT_TRUE(AllocationFailure::watch("libtokencrypt.so"));
        importPair(pkcs7File("signer.key.pem"), "signer", "01");
        peer("--write-object '" + pkcs7File("signer.der") + "' --type cert --label signer --id 01");
        objects = peer("-O");
    }
    void TearDown() override {
        EXPECT_EQ(peer("-O"), objects);
        TokenKeys::TearDown();
    }
    std::string objects;
};

// A certificate read from the token and handed out as Base64 text.
TEST_F(TokenOutOfMemory, CertificateRead) {
    const std::string expected = sh("openssl base64 -in '" + pkcs7File("signer.der") + "'");
    char *text = nullptr;
    sweepAllocations([&] { return TQP11_ReadCertificate(&session, "signer", 0, &text); },
                     [&](int code) {
                         if (code == 0) {
                             EXPECT_EQ(std::string(text), expected);
                         } else {
                             EXPECT_EQ(text, nullptr);
                         }
                         TQCryptMemFree(text);
                         text = nullptr;
                     },
                     {TQ_RTN_MEMORY_ALLOCATE_FAIL});
}

// The identity found by label, the signature made on the token, the PKCS#7
// built around it. A failure inside the signature step is a signing
// failure (5061), as it is for software keys.
TEST_F(TokenOutOfMemory, SignatureByLabel) {
    const Bytes data = tqtest::randomBytes(512, 5);
    char *text = nullptr;
    std::string expected;
    sweepAllocations(
        [&] {
            return TQP11_Sign(&session, "signer", nullptr, data.data(), data.size(), 0, TQXCRYPT_HASH_SHA256,
                              &text);
        },
        [&](int code) {
            if (code == 0) {
                if (expected.empty()) expected = text;
                EXPECT_EQ(std::string(text), expected);
            } else {
                EXPECT_EQ(text, nullptr);
            }
            TQCryptMemFree(text);
            text = nullptr;
        },
        {TQ_RTN_MEMORY_ALLOCATE_FAIL, TQ_RTN_SIGN_FAILED});
}

}  // namespace

// Signing and decrypting with a key given as a read object record: the
// caller's record stays as it was, a second call works, and a failed
// allocation anywhere gives 5002.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "bridge_token.h"
#include "tqxcrypt_pkcs7.h"

namespace {

using namespace bridgetest;

// What a record holds, to see that nothing of it changed.
struct Snapshot {
    TQXP11_OBJECT record;
    TQXP11_VALUE value;
    Bytes id, modulus, exponent;
    explicit Snapshot(const TQXP11_OBJECT &r)
        : record(r),
          value(*r.valueRecord),
          id(p11test::bytesOf(r.valueRecord->rsaPrivate.id)),
          modulus(p11test::bytesOf(r.valueRecord->rsaPrivate.modulus)),
          exponent(p11test::bytesOf(r.valueRecord->rsaPrivate.publicExponent)) {}
    void expectSame(const TQXP11_OBJECT &r) const {
        EXPECT_EQ(std::memcmp(&record, &r, sizeof record), 0);
        EXPECT_EQ(std::memcmp(&value, r.valueRecord, sizeof value), 0);
        EXPECT_EQ(p11test::bytesOf(r.valueRecord->rsaPrivate.id), id);
        EXPECT_EQ(p11test::bytesOf(r.valueRecord->rsaPrivate.modulus), modulus);
        EXPECT_EQ(p11test::bytesOf(r.valueRecord->rsaPrivate.publicExponent), exponent);
    }
};

struct Text {
    char *p = nullptr;
    ~Text() { TQCryptMemFree(p); }
    std::string str() const { return p ? std::string(p) : std::string(); }
};

class BridgeSignByRecord : public TokenKeys {
protected:
    void SetUp() override {
        TokenKeys::SetUp();
        importPair(pkcs7File("signer.key.pem"), "signer", "01");
        importPair(pkcs7File("recipient.key.pem"), "recipient", "02");
        signer = p11test::describe("signer", TQXP11_KIND_RSA_PRIVATE, true);
        recipient = p11test::describe("recipient", TQXP11_KIND_RSA_PRIVATE, true);
        ASSERT_EQ(TQXP11_ReadObject(&session, &signer), 0);
        ASSERT_EQ(TQXP11_ReadObject(&session, &recipient), 0);
    }
    void TearDown() override {
        TQXP11_FreeObject(&signer);
        TQXP11_FreeObject(&recipient);
        TokenKeys::TearDown();
    }
    TQXP11_OBJECT signer{}, recipient{};
    const Bytes data = tqtest::randomBytes(1024, 21);
};

TEST_F(BridgeSignByRecord, RawSignatureAsBase64Lines) {
    const Snapshot before(signer);
    HandleOwner software(softwarePrivateKey(pkcs7File("signer.key.pem")));
    const int flags = TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA;
    BlobOwner expected;
    ASSERT_EQ(TQXCrypt_PureSign(software.get(), data.data(), data.size(), flags, &expected), 0);
    for (int call = 0; call < 2; ++call) {
        SCOPED_TRACE(call);
        Text text;
        ASSERT_EQ(TQXP11Crypt_XPureSign(&session, data.data(), data.size(), flags, signer, &text.p), 0);
        const std::string base64 = text.str();
        // 256 bytes: five full lines of 64 characters and one of 24.
        size_t lines = 0;
        for (size_t at = 0, next; (next = base64.find('\n', at)) != std::string::npos; at = next + 1, ++lines)
            EXPECT_LE(next - at, 64u);
        EXPECT_EQ(lines, 6u);
        EXPECT_EQ(
            shBytes("openssl base64 -d -in '" + file("sig.b64", Bytes(base64.begin(), base64.end())) + "'"),
            expected.bytes());
        before.expectSame(signer);
    }
}

TEST_F(BridgeSignByRecord, SignedDataAsBase64VerifiesWithTheTools) {
    const Snapshot before(signer);
    HandleOwner cert(certificate(pkcs7File("signer.pem")));
    const std::string content = file("content", data);
    for (int options : {0, TQXCRYPT_DETACHED, TQXCRYPT_DETACHED | TQXCRYPT_SIGN_NOCERTS}) {
        SCOPED_TRACE(options);
        Text text;
        ASSERT_EQ(TQXP11Crypt_XSignData(&session, cert.get(), data.data(), data.size(), options,
                                        TQXCRYPT_HASH_SHA256, signer, &text.p),
                  0);
        const std::string base64 = text.str();
        EXPECT_EQ(base64.find("-----"), std::string::npos);
        const std::string p7 = token.file("signed.der");
        sh("openssl base64 -d -out '" + p7 + "' -in '" +
           file("signed.b64", Bytes(base64.begin(), base64.end())) + "'");
        std::string args =
            " -verify -binary -inform DER -in '" + p7 + "' -CAfile '" + pkcs7File("chain.pem") + "'";
        if (options & TQXCRYPT_DETACHED) args += " -content '" + content + "'";
        if (options & TQXCRYPT_SIGN_NOCERTS) args += " -certfile '" + pkcs7File("signer.pem") + "'";
        EXPECT_EQ(shBytes("openssl cms" + args + " 2>/dev/null"), data);
        before.expectSame(signer);
    }
}

TEST_F(BridgeSignByRecord, EnvelopeAsBase64Opens) {
    const Snapshot before(recipient);
    HandleOwner cert(certificate(pkcs7File("recipient.pem")));
    const std::string base64 =
        sh("openssl smime -encrypt -binary -des3 -outform DER -in '" + file("m", data) + "' '" +
           pkcs7File("recipient.pem") + "' | openssl base64");
    for (int call = 0; call < 2; ++call) {
        SCOPED_TRACE(call);
        BlobOwner plain;
        ASSERT_EQ(
            TQXP11Crypt_XDecrypt(&session, cert.get(), base64.data(), base64.size(), 0, recipient, &plain),
            0);
        EXPECT_EQ(plain.bytes(), data);
        before.expectSame(recipient);
    }
}

TEST_F(BridgeSignByRecord, RecordsWithoutAKeyAreRefused) {
    TQXP11_OBJECT unread = p11test::describe("signer", TQXP11_KIND_RSA_PRIVATE, true);
    TQXP11_OBJECT noValues = signer;
    noValues.valueRecord = nullptr;
    TQXP11_OBJECT publicKind = signer;
    publicKind.kind = TQXP11_KIND_RSA_PUBLIC;
    HandleOwner cert(certificate(pkcs7File("signer.pem")));
    Text text;
    BlobOwner plain;
    struct Case {
        const char *what;
        int rc;
    } const cases[] = {
        {"object handle 0", TQXP11Crypt_XPureSign(&session, data.data(), data.size(), 4, unread, &text.p)},
        {"no value record", TQXP11Crypt_XPureSign(&session, data.data(), data.size(), 4, noValues, &text.p)},
        {"a public key record",
         TQXP11Crypt_XPureSign(&session, data.data(), data.size(), 4, publicKind, &text.p)},
        {"no session", TQXP11Crypt_XPureSign(nullptr, data.data(), data.size(), 4, signer, &text.p)},
        {"no output", TQXP11Crypt_XPureSign(&session, data.data(), data.size(), 4, signer, nullptr)},
        {"sign, no session",
         TQXP11Crypt_XSignData(nullptr, cert.get(), data.data(), data.size(), 0, 4, signer, &text.p)},
        {"sign, object handle 0",
         TQXP11Crypt_XSignData(&session, cert.get(), data.data(), data.size(), 0, 4, unread, &text.p)},
        {"decrypt, no value record",
         TQXP11Crypt_XDecrypt(&session, cert.get(), "MA==", 4, 0, noValues, &plain)},
        {"decrypt, no output", TQXP11Crypt_XDecrypt(&session, cert.get(), "MA==", 4, 0, recipient, nullptr)},
    };
    for (const Case &c : cases) EXPECT_EQ(c.rc, TQ_RTN_BAD_ARGUMENT) << c.what;
    EXPECT_EQ(text.p, nullptr);
    EXPECT_EQ(tokenCalls("C_Sign"), 0);
}

// Every library allocation of each operation fails in turn: 5002 and no
// output, then success once the operation has all it asks for.
TEST_F(BridgeSignByRecord, FailedAllocationsGive5002) {
    HandleOwner signerCert(certificate(pkcs7File("signer.pem")));
    HandleOwner recipientCert(certificate(pkcs7File("recipient.pem")));
    const std::string envelope =
        sh("openssl smime -encrypt -binary -des3 -outform DER -in '" + file("m", data) + "' '" +
           pkcs7File("recipient.pem") + "' | openssl base64");
    const std::function<int(Text &, BlobOwner &)> operations[] = {
        [&](Text &t, BlobOwner &) {
            return TQXP11Crypt_XPureSign(&session, data.data(), data.size(),
                                         TQXCRYPT_HASH_SHA1 | TQXCRYPT_PURE_HASH_DATA, signer, &t.p);
        },
        [&](Text &t, BlobOwner &) {
            return TQXP11Crypt_XSignData(&session, signerCert.get(), data.data(), data.size(),
                                         TQXCRYPT_DETACHED, TQXCRYPT_HASH_SHA256, signer, &t.p);
        },
        [&](Text &, BlobOwner &b) {
            return TQXP11Crypt_XDecrypt(&session, recipientCert.get(), envelope.data(), envelope.size(), 0,
                                        recipient, &b);
        }};
    for (size_t op = 0; op < std::size(operations); ++op) {
        SCOPED_TRACE(op);
        for (int succeeding = 0;; ++succeeding) {
            Text text;
            BlobOwner plain;
            int rc;
            bool failed;
            {
                FailingAllocator failing(succeeding);
                rc = operations[op](text, plain);
                failed = failing.failed();
            }
            if (!failed) {
                EXPECT_EQ(rc, 0);
                break;
            }
            EXPECT_EQ(rc, TQ_RTN_MEMORY_ALLOCATE_FAIL) << succeeding;
            EXPECT_EQ(text.p, nullptr);
            EXPECT_EQ(plain.b.data, nullptr);
        }
    }
}

}  // namespace

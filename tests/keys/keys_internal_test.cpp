// The RSA_sign counterpart and the key check that the library uses inside.
#include <gtest/gtest.h>

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>

#include "keys_internal.h"
#include "keys_testutil.h"

using namespace keystest;
using tqtest::HandleOwner;

namespace {

class KeysInternal : public ::testing::Test {
protected:
    void SetUp() override {
        key.h = privateKey("user.key.pem");
        ERR_clear_error();
    }
    void TearDown() override { ERR_clear_error(); }
    // Signs and returns the newest queued reason on failure.
    int sign(int nid, const Bytes &digest, Bytes &signature) {
        signature.assign(256, 0);
        unsigned int length = 0;
        int ok = tqxCrypt_RSA_sign(nid, digest.data(), static_cast<unsigned>(digest.size()), signature.data(),
                                   &length, key.get());
        signature.resize(length);
        return ok;
    }
    tqtest::TempDir dir;
    HandleOwner key;
};

// A key method that answers with more bytes than its key holds, as a token
// may: the real result and then what it added.
size_t g_addedBytes = 0;
int longEncrypt(TQXCRYPT_HANDLE *key, const unsigned char *in, uint64_t length, int flags,
                TQXCRYPT_BLOB *out) {
    tqtest::BlobOwner real;
    const int rc = TQXCrypt_PrivateEncrypt(key, in, length, flags, &real);
    if (rc != TQ_RTN_OK) return rc;
    out->length = real.b.length + g_addedBytes;
    out->data = static_cast<unsigned char *>(TQCryptMemAlloc(static_cast<size_t>(out->length)));
    if (out->data == nullptr) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    std::memcpy(out->data, real.b.data, static_cast<size_t>(real.b.length));
    std::memset(out->data + real.b.length, 0xA5, g_addedBytes);
    return TQ_RTN_OK;
}

}  // namespace

TEST_F(KeysInternal, RsaSignAgreesWithPkeyutl) {
    for (const Selector &s : kSelectors) {
        SCOPED_TRACE(s.md);
        const Bytes digest =
            tqtest::randomBytes(static_cast<size_t>(EVP_MD_get_size(EVP_get_digestbyname(s.md))), 3);
        tqtest::writeFile(dir.file("digest"), digest);
        Bytes ours;
        ASSERT_EQ(sign(EVP_MD_get_type(EVP_get_digestbyname(s.md)), digest, ours), 1);
        EXPECT_EQ(ours, shBytes("openssl pkeyutl -sign -inkey " + fx("user.key.pem") +
                                " -pkeyopt digest:" + s.md + " -in " + dir.file("digest")));
    }
    // The 36 bytes of MD5 and SHA-1 together are signed bare.
    const Bytes both = tqtest::randomBytes(36, 4);
    tqtest::writeFile(dir.file("both"), both);
    Bytes ours;
    ASSERT_EQ(sign(NID_md5_sha1, both, ours), 1);
    EXPECT_EQ(ours, shBytes("openssl pkeyutl -sign -inkey " + fx("user.key.pem") +
                            " -pkeyopt rsa_padding_mode:pkcs1 -in " + dir.file("both")));
}

TEST_F(KeysInternal, RsaSignFailuresQueueTheirReason) {
    const struct {
        const char *what;
        int nid;
        size_t length;
        int reason;
    } rows[] = {
        {"35 bytes for MD5 and SHA-1", NID_md5_sha1, 35, RSA_R_INVALID_MESSAGE_LENGTH},
        {"no such object", 99999, 32, RSA_R_UNKNOWN_ALGORITHM_TYPE},
        {"an object without an identifier", NID_undef, 32,
         RSA_R_THE_ASN1_OBJECT_IDENTIFIER_IS_NOT_KNOWN_FOR_THIS_MD},
        {"a digest larger than the key", NID_sha256, 300, RSA_R_DIGEST_TOO_BIG_FOR_RSA_KEY},
    };
    for (const auto &row : rows) {
        Bytes sig;
        EXPECT_EQ(sign(row.nid, Bytes(row.length, 1), sig), 0) << row.what;
        const unsigned long error = ERR_peek_last_error();
        EXPECT_EQ(ERR_GET_LIB(error), ERR_LIB_RSA) << row.what;
        EXPECT_EQ(ERR_GET_REASON(error), row.reason) << row.what;
        EXPECT_TRUE(sig.empty());
        ERR_clear_error();
    }
}

TEST_F(KeysInternal, RsaSignRefusesHandlesThatHoldNoKey) {
    HandleOwner p12(unpackedPkcs12());
    HandleOwner cert(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "keys/cert.sha256.der"));
    const Bytes digest(32, 1);
    for (TQXCRYPT_HANDLE *notKey : {p12.get(), cert.get()}) {
        unsigned char signature[256];
        unsigned int length = 0;
        EXPECT_EQ(tqxCrypt_RSA_sign(NID_sha256, digest.data(), 32, signature, &length, notKey), 0);
        EXPECT_EQ(length, 0u);
        EXPECT_NE(ERR_peek_last_error(), 0u);
        ERR_clear_error();
    }
}

// The signature buffer holds as many bytes as the key: a longer answer of
// the key method must be refused, not copied.
TEST_F(KeysInternal, RsaSignRefusesAnAnswerLongerThanTheKey) {
    TQXCRYPT_KEY_METHOD method = *tqxCryptRSAPriMethod();
    method.encrypt = longEncrypt;
    EVP_PKEY *pkey = static_cast<EVP_PKEY *>(key.get()->object);
    ASSERT_EQ(EVP_PKEY_up_ref(pkey), 1);
    HandleOwner talkative;
    ASSERT_EQ(tqxCryptCreateHandle(&talkative.h, TQXCRYPT_KIND_PRIVATEKEY, pkey,
                                   tqxCryptASN1PrivateKeyMethod(), &method),
              0);
    const Bytes digest = tqtest::randomBytes(32, 8);
    for (size_t added : {0, 1, 300}) {
        SCOPED_TRACE(added);
        g_addedBytes = added;
        Bytes signature(static_cast<size_t>(TQXCrypt_KeySize(talkative.get())));
        unsigned int length = 0;
        const int ok =
            tqxCrypt_RSA_sign(NID_sha256, digest.data(), 32, signature.data(), &length, talkative.get());
        EXPECT_EQ(ok, added ? 0 : 1);
        EXPECT_EQ(length, added ? 0u : signature.size());
        if (added) {
            EXPECT_EQ(ERR_GET_LIB(ERR_peek_last_error()), ERR_LIB_RSA);
            EXPECT_EQ(ERR_GET_REASON(ERR_peek_last_error()), RSA_R_WRONG_SIGNATURE_LENGTH);
        } else {
            Bytes expected;
            ASSERT_EQ(sign(NID_sha256, digest, expected), 1);
            EXPECT_EQ(signature, expected);
        }
        ERR_clear_error();
        EXPECT_EQ(signedDataCode(talkative.get()), added ? TQ_RTN_SIGN_FAILED : TQ_RTN_OK);
    }
}

TEST_F(KeysInternal, KeyCheckAgainstAnOpensslKey) {
    HandleOwner cert(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "keys/cert.sha256.der"));
    HandleOwner other(privateKey("other.key.pem"));
    HandleOwner ec(tqtest::decodeFixture(TQXCRYPT_KIND_PRIVATEKEY, "keys/ec.key.der"));
    EVP_PKEY *certKey = X509_get_pubkey(static_cast<X509 *>(cert.get()->object));
    EXPECT_EQ(tqxCheckKeyPair(key.get(), certKey), 0);
    EXPECT_EQ(tqxCheckKeyPair(other.get(), certKey), TQ_RTN_KEY_MISMATCH);
    EXPECT_EQ(tqxCheckKeyPair(ec.get(), certKey), TQ_RTN_KEY_MISMATCH);
    // A handle whose object is no key is not read as one.
    EXPECT_EQ(tqxCheckKeyPair(cert.get(), certKey), TQ_RTN_BAD_ARGUMENT);
    EVP_PKEY_free(certKey);
}

// Out of memory, a call of each family of the crypto core answers 5002 and
// keeps nothing: each of its allocations in turn fails, through the library
// allocator and through operator new (the standard containers inside it).
// The sanitizer build adds the leak checker's word for OpenSSL's objects.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/x509_vfy.h>

#include <functional>
#include <set>
#include <string>

#include "allocation_failure.h"
#include "containers_testutil.h"
#include "testutil.h"
#include "tqcrypt.h"
#include "tqxcrypt_build.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_store.h"

namespace {

using tqtest::AllocationFailure;
using tqtest::BlobOwner;
using tqtest::Bytes;
using tqtest::encoded;
using tqtest::HandleOwner;
using tqtest::sweepAllocations;

class OutOfMemory : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(AllocationFailure::watch("libtokencrypt.so")); }
};

TQXCRYPT_HANDLE *pem(int kind, const std::string &name) {
    return tqtest::decodeFixture(kind, name, TQXCRYPT_DECODE_TEXT);
}

TEST_F(OutOfMemory, PemArmour) {
    const Bytes der = tqtest::readFile(tqtest::fixture("pkcs7/signer.der"));
    const std::string expected = tqtest::readText(tqtest::fixture("pkcs7/signer.pem"));
    TQXCRYPT_BLOB text{0, nullptr};
    sweepAllocations([&] { return TQXCrypt_Encode(der.data(), der.size(), &text, "CERTIFICATE"); },
                     [&](int code) {
                         if (code == 0) {
                             EXPECT_EQ(std::string(reinterpret_cast<char *>(text.data), text.length),
                                       expected);
                         } else {
                             EXPECT_EQ(text.data, nullptr);
                         }
                         TQXCryptFreeBlob(&text);
                     },
                     {TQ_RTN_MEMORY_ALLOCATE_FAIL});
}

// The signature over a certificate's to-be-signed part, through the key
// handle; a fresh certificate for every run. The structure signers answer
// every failure of their signature, out of memory too, with 5061.
TEST_F(OutOfMemory, StructureSignature) {
    HandleOwner key(pem(TQXCRYPT_KIND_PRIVATEKEY, "pkcs7/root.key.pem"));
    HandleOwner publicKey;
    ASSERT_EQ(TQXCrypt_GetPublicKey(key.get(), publicKey.out()), 0);
    HandleOwner cert(pem(TQXCRYPT_KIND_CERTIFICATE, "pkcs7/inter.pem"));
    const Bytes original = encoded(cert.get(), TQXCRYPT_KIND_CERTIFICATE);
    Bytes expected;
    sweepAllocations([&] { return TQXCrypt_SignObject(cert.get(), key.get(), TQXCRYPT_HASH_SHA256); },
                     [&](int code) {
                         if (code == 0) {
                             EXPECT_EQ(TQXCrypt_VerifyObject(cert.get(), publicKey.get(), 0), 0);
                             const Bytes der = encoded(cert.get(), TQXCRYPT_KIND_CERTIFICATE);
                             if (expected.empty()) expected = der;
                             EXPECT_EQ(der, expected);
                         }
                         HandleOwner fresh(pem(TQXCRYPT_KIND_CERTIFICATE, "pkcs7/inter.pem"));
                         std::swap(cert.h, fresh.h);
                         EXPECT_EQ(encoded(cert.get(), TQXCRYPT_KIND_CERTIFICATE), original);
                     },
                     {TQ_RTN_SIGN_FAILED});
}

// The NB security-user record turned into a PKCS#12: decryption, the key
// built from its primes and the PFX written.
TEST_F(OutOfMemory, NbRecordToPfx) {
    EVP_PKEY *key = containertest::readKey(containertest::fx("nb1024.key.pem"));
    ASSERT_NE(key, nullptr);
    const Bytes record = containertest::nbSecUserRecord(containertest::nbKeyPlaintext(key), "secret", false);
    EVP_PKEY_free(key);
    HandleOwner cert(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "containers/nb1024.der"));
    unsigned char *pfx = nullptr;
    int pfxLength = -1;
    sweepAllocations(
        [&] {
            return TQXCrypt_NBSecUser2PFX(record.data(), static_cast<int>(record.size()), "secret",
                                          cert.get(), 0, &pfx, &pfxLength);
        },
        [&](int code) {
            if (code == 0) {
                HandleOwner p12;
                EXPECT_EQ(
                    TQXCrypt_DecodeObject(p12.out(), TQXCRYPT_KIND_PKCS12, pfx,
                                          static_cast<size_t>(pfxLength), 0, const_cast<char *>("secret")),
                    0);
            } else {
                EXPECT_EQ(pfx, nullptr);
            }
            TQCryptMemFree(pfx);
            pfx = nullptr;
        },
        {TQ_RTN_MEMORY_ALLOCATE_FAIL});
}

// A failure inside the signature step is a signing failure (5061); the
// message's own allocations answer 5002.
TEST_F(OutOfMemory, Pkcs7Signature) {
    HandleOwner signer(pem(TQXCRYPT_KIND_CERTIFICATE, "pkcs7/signer.pem"));
    HandleOwner key(pem(TQXCRYPT_KIND_PRIVATEKEY, "pkcs7/signer.key.pem"));
    const Bytes data = tqtest::readFile(tqtest::fixture("pkcs7/data.bin"));
    TQXCRYPT_HANDLE *message = nullptr;
    Bytes expected;
    sweepAllocations(
        [&] {
            return TQXCrypt_Sign(signer.get(), key.get(), nullptr, data.data(), data.size(), 0,
                                 TQXCRYPT_HASH_SHA256, &message);
        },
        [&](int code) {
            HandleOwner owner(message);
            message = nullptr;
            if (code != 0) {
                EXPECT_EQ(owner.get(), nullptr);
                return;
            }
            const Bytes der = encoded(owner.get(), TQXCRYPT_KIND_PKCS7);
            if (expected.empty()) expected = der;
            EXPECT_EQ(der, expected);
        },
        {TQ_RTN_MEMORY_ALLOCATE_FAIL, TQ_RTN_SIGN_FAILED});
}

// The one-call text API: PEM certificate and key in, Base64 PKCS#7 out; the
// signature step answers as in the PKCS#7 signature above.
TEST_F(OutOfMemory, TextSignature) {
    const std::string cert = tqtest::readText(tqtest::fixture("pkcs7/signer.pem"));
    const std::string key = tqtest::readText(tqtest::fixture("pkcs7/signer.key.pem"));
    const Bytes data = tqtest::readFile(tqtest::fixture("pkcs7/data.bin"));
    char *signature = nullptr;
    std::string expected;
    sweepAllocations(
        [&] {
            return TQCrypt_Sign(cert.c_str(), key.c_str(), nullptr, nullptr, data.data(), data.size(), 0, 0,
                                TQXCRYPT_HASH_SHA256, &signature);
        },
        [&](int code) {
            if (code == 0) {
                if (expected.empty()) expected = signature;
                EXPECT_EQ(signature, expected);
            } else {
                EXPECT_EQ(signature, nullptr);
            }
            TQCryptMemFree(signature);
            signature = nullptr;
        },
        {TQ_RTN_MEMORY_ALLOCATE_FAIL, TQ_RTN_SIGN_FAILED});
}

// The other places of the core that allocate through a standard container
// or the secret-bytes owner, each swept on its own: what a run hands out is
// compared with what the first run handed out, and released.
TEST_F(OutOfMemory, EveryContainerSite) {
    HandleOwner key(pem(TQXCRYPT_KIND_PRIVATEKEY, "pkcs7/signer.key.pem"));
    HandleOwner signer(pem(TQXCRYPT_KIND_CERTIFICATE, "pkcs7/signer.pem"));
    HandleOwner recipient(pem(TQXCRYPT_KIND_CERTIFICATE, "pkcs7/recipient.pem"));
    HandleOwner recipientKey(pem(TQXCRYPT_KIND_PRIVATEKEY, "pkcs7/recipient.key.pem"));
    HandleOwner cert(pem(TQXCRYPT_KIND_CERTIFICATE, "pkcs7/inter.pem"));
    const std::string chain = tqtest::readText(tqtest::fixture("pkcs7/chain.pem"));
    const std::string signerPem = tqtest::readText(tqtest::fixture("pkcs7/signer.pem"));
    const Bytes data = tqtest::readFile(tqtest::fixture("pkcs7/data.bin"));
    HandleOwner store, message;
    ASSERT_EQ(TQXCrypt_LoadStore(store.out(), chain.c_str(), nullptr), 0);
    ASSERT_EQ(TQXCrypt_Sign(signer.get(), key.get(), nullptr, data.data(), data.size(), 0,
                            TQXCRYPT_HASH_SHA256, message.out()),
              0);
    BlobOwner envelope;
    ASSERT_EQ(TQXCrypt_Encrypt(recipient.get(), data.data(), data.size(), 2, &envelope), 0);

    // Each row's call leaves what it hands out in `blob` or `handle`; a
    // handle's DER stands for it, a store's count of objects.
    TQXCRYPT_BLOB blob{0, nullptr};
    TQXCRYPT_HANDLE *handle = nullptr;
    const struct Row {
        const char *what;
        std::function<int()> call;
        std::set<int> refusals;
    } rows[] = {
        {"PEM text read by a list of labels",
         [&] {
             return TQXCrypt_Decode(signerPem.data(), signerPem.size(), &blob,
                                    "X509 CERTIFICATE;CERTIFICATE");
         },
         {TQ_RTN_MEMORY_ALLOCATE_FAIL}},
        {"store loaded from PEM text",
         [&] { return TQXCrypt_LoadStore(&handle, chain.c_str(), nullptr); },
         {TQ_RTN_MEMORY_ALLOCATE_FAIL}},
        {"subject from DN text",
         [&] {
             return TQXCrypt_CertSetSubjectName(cert.get(),
                                                "countryName=TW\norganizationName=Orvane Test\n"
                                                "commonName=Renamed Signer");
         },
         {TQ_RTN_MEMORY_ALLOCATE_FAIL}},
        {"alternative names from general-name text",
         [&] {
             return TQXCrypt_CertSetExtension(
                 cert.get(), "subjectAltName",
                 "DNS=localhost\tEmail=leaf@example.org\tURI=http://leaf.example.org/", 0);
         },
         {TQ_RTN_MEMORY_ALLOCATE_FAIL}},
        {"hash-and-sign",
         [&] {
             return TQXCrypt_PureSign(key.get(), data.data(), data.size(),
                                      TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA, &blob);
         },
         {TQ_RTN_MEMORY_ALLOCATE_FAIL}},
        {"modulus", [&] { return TQXCrypt_KeyModulus(key.get(), &blob); }, {TQ_RTN_MEMORY_ALLOCATE_FAIL}},
        {"PKCS#7 verification",
         [&] {
             return TQXCrypt_Verify(store.get(), message.get(), data.data(), data.size(), nullptr, 0,
                                    TQXCRYPT_VERIFY_CHAIN, 0, nullptr, nullptr);
         },
         {TQ_RTN_MEMORY_ALLOCATE_FAIL}},
        {"envelope opened",
         [&] {
             return TQXCrypt_Decrypt(recipient.get(), recipientKey.get(), envelope.b.data, envelope.b.length,
                                     0, &blob);
         },
         {TQ_RTN_MEMORY_ALLOCATE_FAIL}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Bytes expected;
        bool first = true;
        sweepAllocations(
            row.call,
            [&](int code) {
                Bytes got = blob.data ? Bytes(blob.data, blob.data + blob.length) : Bytes();
                if (handle && handle->kind == TQXCRYPT_KIND_STORE) {
                    auto *s = static_cast<X509_STORE *>(handle->object);
                    got = Bytes{static_cast<unsigned char>(sk_X509_OBJECT_num(X509_STORE_get0_objects(s)))};
                } else if (handle) {
                    got = encoded(handle, handle->kind);
                }
                if (code != 0) {
                    EXPECT_TRUE(got.empty());
                } else if (first) {
                    expected = got;
                    first = false;
                } else {
                    EXPECT_EQ(got, expected);
                }
                TQXCryptFreeBlob(&blob);
                TQXCryptFreeHandle(handle);
                handle = nullptr;
            },
            row.refusals);
    }
}

}  // namespace

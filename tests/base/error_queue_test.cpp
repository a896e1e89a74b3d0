// Every operation that answers with a result code leaves the calling
// thread's OpenSSL error queue as it found it: a host's own entries stay, in
// their order and with the host's own marks, and nothing of ours is left
// behind for it to read.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include <openssl/err.h>
#include <openssl/ocsp.h>
#include <openssl/x509.h>

#include "testutil.h"
#include "tqxcrypt_containers.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_ocsp.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_store.h"
#include "tqxcrypt_x509.h"

using namespace tqtest;

namespace {

std::string pem(const std::string &name) { return readText(fixture(name)); }

const Bytes kGarbage = {0x30, 0x82, 0x01, 0x00, 0x02, 0x01, 0x05};

class ErrorQueue : public ::testing::Test {
protected:
    void SetUp() override {
        signerCert.h = decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "pkcs7/signer.pem", TQXCRYPT_DECODE_TEXT);
        signerKey.h = decodeFixture(TQXCRYPT_KIND_PRIVATEKEY, "pkcs7/signer.key.pem", TQXCRYPT_DECODE_TEXT);
        otherCert.h = decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "pkcs7/other.pem", TQXCRYPT_DECODE_TEXT);
        otherKey.h = decodeFixture(TQXCRYPT_KIND_PRIVATEKEY, "pkcs7/other.key.pem", TQXCRYPT_DECODE_TEXT);
        recipientCert.h =
            decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "pkcs7/recipient.pem", TQXCRYPT_DECODE_TEXT);
        recipientKey.h =
            decodeFixture(TQXCRYPT_KIND_PRIVATEKEY, "pkcs7/recipient.key.pem", TQXCRYPT_DECODE_TEXT);
        userPub.h = decodeFixture(TQXCRYPT_KIND_PUBLICKEY, "objects/user.pub.der");
        userKey.h = decodeFixture(TQXCRYPT_KIND_PRIVATEKEY, "objects/user.rsa.pem", TQXCRYPT_DECODE_TEXT);
        crl.h = decodeFixture(TQXCRYPT_KIND_CRL, "objects/crl.der");
        ASSERT_EQ(TQXCrypt_LoadStore(emptyStore.out(), nullptr, nullptr), 0);
        ASSERT_EQ(TQXCrypt_LoadStore(rootStore.out(), pem("pkcs7/root.pem").c_str(), nullptr), 0);

        // An object that no encoder can write.
        X509 *blank = X509_new();
        ASSERT_EQ(tqxCryptCreateHandle(blankCert.out(), TQXCRYPT_KIND_CERTIFICATE, blank,
                                       tqxCryptASN1CertificateMethod(), nullptr),
                  0);

        ASSERT_EQ(TQXCrypt_Sign(signerCert.get(), signerKey.get(), nullptr, content.data(), content.size(),
                                TQXCRYPT_DETACHED, 4, detached.out()),
                  0);
        ASSERT_EQ(TQXCrypt_Sign(signerCert.get(), signerKey.get(), nullptr, content.data(), content.size(),
                                TQXCRYPT_SIGN_NOCERTS, 4, withoutCerts.out()),
                  0);
        ASSERT_EQ(TQXCrypt_Encrypt(recipientCert.get(), content.data(), content.size(), 2, &envelope), 0);
        ASSERT_EQ(TQXCrypt_HashInit(digest.out(), 4), 0);
        HandleOwner info;
        info.h = decodeFixture(TQXCRYPT_KIND_PKCS8INFO, "objects/user.p8info.der");
        const unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        ASSERT_EQ(TQXCrypt_PKCS8Encrypt(info.get(), "right", salt, 8, 1, 0, sealedKey.out()), 0);
        ERR_clear_error();
    }

    // A rule the signer's certificate meets: its whole subject.
    std::string signerSubject() const {
        char *subject = nullptr;
        EXPECT_EQ(TQXCrypt_CertGetSubject(signerCert.get(), 0, &subject), 0);
        std::string s = subject ? subject : "";
        TQCryptMemFree(subject);
        return s;
    }

    // Each call runs on each kind of host queue.
    struct Row {
        const char *what;
        int expected;
        std::function<int()> call;
    };
    template <size_t N>
    void expectRows(const Row (&rows)[N]) {
        for (HostQueue queue : kHostQueues)
            for (const Row &row : rows) {
                pushHostQueue(queue);
                EXPECT_EQ(row.call(), row.expected) << row.what << " (" << nameOf(queue) << ")";
                expectHostQueue(queue, row.what);
            }
    }

    const Bytes content = randomBytes(100, 11);
    HandleOwner signerCert, signerKey, otherCert, otherKey, recipientCert, recipientKey, userPub, userKey,
        crl, emptyStore, rootStore, blankCert, detached, withoutCerts, digest, sealedKey;
    BlobOwner envelope;
};

}  // namespace

TEST_F(ErrorQueue, FailingCallsLeaveTheHostsEntriesAndNothingElse) {
    const Bytes block(256, 0x01);
    const Bytes tooLong(300, 0x02);
    const std::string badCertPem = "-----BEGIN CERTIFICATE-----\nMAMCAQU=\n-----END CERTIFICATE-----\n";
    const std::string desKey = pem("objects/user.rsa.des3.pem");
    const Bytes tampered = [&] {
        Bytes b = content;
        b[0] ^= 1;
        return b;
    }();
    const unsigned char four = 4, two = 2;
    const std::string subjectRule = signerSubject();

    const Row rows[] = {
        // Decoding and encoding by kind.
        {"DER that is no certificate", TQ_RTN_BAD_CERTIFICATE,
         [&] {
             HandleOwner h;
             return TQXCrypt_DecodeObject(h.out(), TQXCRYPT_KIND_CERTIFICATE, kGarbage.data(),
                                          kGarbage.size(), 0, nullptr);
         }},
        {"DER that is no CRL", TQ_RTN_BAD_CRL,
         [&] {
             HandleOwner h;
             return TQXCrypt_DecodeObject(h.out(), TQXCRYPT_KIND_CRL, kGarbage.data(), kGarbage.size(), 0,
                                          nullptr);
         }},
        {"PEM whose body is no certificate", TQ_RTN_BAD_CERTIFICATE,
         [&] {
             HandleOwner h;
             return TQXCrypt_DecodeObject(h.out(), TQXCRYPT_KIND_CERTIFICATE,
                                          reinterpret_cast<const unsigned char *>(badCertPem.data()),
                                          badCertPem.size(), TQXCRYPT_DECODE_TEXT, nullptr);
         }},
        {"encrypted key under a wrong password", TQ_RTN_INVALID_KEY,
         [&] {
             HandleOwner h;
             return TQXCrypt_DecodeObject(h.out(), TQXCRYPT_KIND_PRIVATEKEY,
                                          reinterpret_cast<const unsigned char *>(desKey.data()),
                                          desKey.size(), TQXCRYPT_DECODE_TEXT, "wrong");
         }},
        {"a certificate no encoder can write", TQ_RTN_BAD_FORMAT,
         [&] {
             BlobOwner out;
             return TQXCrypt_EncodeObject(blankCert.get(), TQXCRYPT_KIND_CERTIFICATE, &out, 0, nullptr);
         }},
        // Keys.
        {"a key of 100 bits", TQ_RTN_KEY_BUILD_FAILED,
         [&] {
             HandleOwner h;
             return TQXCrypt_GenerateKeyPair(100, 0, h.out());
         }},
        {"primes without an inverse of the exponent", TQ_RTN_KEY_BUILD_FAILED,
         [&] {
             EVP_PKEY *key = nullptr;
             int rc = tqxCrypt_CreateRSAPrivateKey(&four, 1, &four, 1, &two, 1, 0, &key);
             EVP_PKEY_free(key);
             return rc;
         }},
        // Raw RSA and signatures through the key methods.
        {"public decryption of no signature", TQ_RTN_DECRYPT_FAILED,
         [&] {
             BlobOwner out;
             return TQXCrypt_PublicDecrypt(userPub.get(), block.data(), block.size(), 0, &out);
         }},
        {"private decryption of no envelope", TQ_RTN_DECRYPT_FAILED,
         [&] {
             BlobOwner out;
             return TQXCrypt_PrivateDecrypt(userKey.get(), block.data(), block.size(), 0, &out);
         }},
        {"private encryption of more than the key holds", TQ_RTN_ENCRYPT_FAILED,
         [&] {
             BlobOwner out;
             return TQXCrypt_PrivateEncrypt(userKey.get(), tooLong.data(), tooLong.size(), 0, &out);
         }},
        {"a signature block that is none", TQ_RTN_BAD_SIGNATURE_BLOCK,
         [&] {
             return TQXCrypt_PureVerify(userPub.get(), block.data(), block.size(), content.data(),
                                        content.size(), 4 | TQXCRYPT_PURE_HASH_DATA);
         }},
        // Digests.
        {"a digest into a buffer too small", TQ_RTN_BUFFER_TOO_SMALL,
         [&] {
             unsigned char small[8];
             TQXCRYPT_BLOB out{sizeof small, small};
             TQXCrypt_HashUpdate(digest.get(), content.data(), content.size(), 0);
             return TQXCrypt_HashFinal(digest.get(), 0, &out);
         }},
        {"a fingerprint of an unwritable certificate", TQ_RTN_BAD_FORMAT,
         [&] {
             BlobOwner out;
             return TQXCrypt_CertGetDigest(blankCert.get(), 4, &out);
         }},
        // Trust store and rule texts.
        {"a store from a PEM list that holds no certificate", TQ_RTN_BAD_CERTIFICATE,
         [&] {
             HandleOwner h;
             return TQXCrypt_LoadStore(h.out(), badCertPem.c_str(), nullptr);
         }},
        {"a CRL whose issuer is not in the store", TQ_RTN_CRL_NO_ISSUER,
         [&] { return TQXCrypt_AddCRLToStore(emptyStore.get(), crl.get()); }},
        {"a chain without its issuers", TQ_RTN_NO_ISSUER,
         [&] { return TQXCrypt_VerifyCertChain(signerCert.get(), emptyStore.get(), 0, 0); }},
        {"a subject rule naming no attribute", TQ_RTN_CERT_REJECTED,
         [&] { return TQXCrypt_ValidateCertificateEx(signerCert.get(), "NoSuchAttribute=x", nullptr, 0); }},
        // PKCS#7 signing, verification, accessors and envelopes.
        {"signing with a key of another certificate", TQ_RTN_KEY_MISMATCH,
         [&] {
             HandleOwner h;
             return TQXCrypt_Sign(signerCert.get(), otherKey.get(), nullptr, content.data(), content.size(),
                                  0, 4, h.out());
         }},
        {"a message around a certificate text that is none", TQ_RTN_BAD_CERTIFICATE,
         [&] {
             HandleOwner h;
             return tqxCrypt_GeneratePKCS7(block.data(), static_cast<int>(block.size()), badCertPem.c_str(),
                                           static_cast<int>(badCertPem.size()), content.data(),
                                           content.size(), 0, 4, h.out());
         }},
        {"verifying changed content", TQ_RTN_VERIFY_FAILED,
         [&] {
             return TQXCrypt_Verify(rootStore.get(), detached.get(), tampered.data(), tampered.size(),
                                    nullptr, 0, TQXCRYPT_DETACHED, 0, nullptr, nullptr);
         }},
        // The rule takes the signer's certificate and checks it through two
        // exported calls of their own, and frees it, before the check fails.
        {"verifying changed content under a subject rule", TQ_RTN_VERIFY_FAILED,
         [&] {
             return TQXCrypt_Verify(rootStore.get(), detached.get(), tampered.data(), tampered.size(),
                                    subjectRule.c_str(), 0, TQXCRYPT_DETACHED, 0, nullptr, nullptr);
         }},
        {"verifying against a store without the root", TQ_RTN_NO_ISSUER,
         [&] {
             return TQXCrypt_Verify(emptyStore.get(), detached.get(), content.data(), content.size(), nullptr,
                                    0, TQXCRYPT_DETACHED | TQXCRYPT_VERIFY_CHAIN, 0, nullptr, nullptr);
         }},
        {"the signer certificate of a message without certificates", TQ_RTN_BAD_PKCS7,
         [&] {
             HandleOwner h;
             return TQXCrypt_PKCS7GetSignerCertificate(withoutCerts.get(), 0, h.out());
         }},
        {"decrypting DER that is no message", TQ_RTN_BAD_PKCS7,
         [&] {
             BlobOwner out;
             return TQXCrypt_Decrypt(signerCert.get(), signerKey.get(), kGarbage.data(), kGarbage.size(), 0,
                                     &out);
         }},
        {"decrypting an envelope for someone else", TQ_RTN_DECRYPT_FAILED,
         [&] {
             BlobOwner out;
             return TQXCrypt_Decrypt(otherCert.get(), otherKey.get(), envelope.b.data, envelope.b.length, 0,
                                     &out);
         }},
        // Containers and OCSP answers, each mapped from its newest reason.
        {"a PKCS#8 key under a wrong password", TQ_RTN_DECRYPT_FAILED,
         [&] {
             HandleOwner h;
             return TQXCrypt_PKCS8Decrypt(sealedKey.get(), "wrong", 0, h.out());
         }},
        {"the basic response of an answer without one", TQ_RTN_OCSP_NO_BODY,
         [&] {
             OCSP_RESPONSE *later = OCSP_response_create(OCSP_RESPONSE_STATUS_TRYLATER, nullptr);
             OCSP_BASICRESP *basic = nullptr;
             int rc = tqxCrypt_OCSP_get_basicrsp(later, &basic, 0);
             OCSP_BASICRESP_free(basic);
             OCSP_RESPONSE_free(later);
             return rc;
         }},
    };
    expectRows(rows);
}

// Calls that queue nothing of their own take the quick way; those made of
// other exported calls open a scope in a scope.
TEST_F(ErrorQueue, SucceedingCallsLeaveTheHostsQueue) {
    const std::string subjectRule = signerSubject();
    const Row rows[] = {
        {"the serial of a certificate", TQ_RTN_OK,
         [&] {
             unsigned char buffer[32];
             TQXCRYPT_BLOB serial{sizeof buffer, buffer};
             return TQXCrypt_CertGetSerialNumber(signerCert.get(), 0, &serial);
         }},
        {"the subject of a certificate", TQ_RTN_OK,
         [&] {
             char *subject = nullptr;
             int rc = TQXCrypt_CertGetSubject(signerCert.get(), 0, &subject);
             TQCryptMemFree(subject);
             return rc;
         }},
        {"verifying a signature under a subject rule", TQ_RTN_OK,
         [&] {
             return TQXCrypt_Verify(rootStore.get(), detached.get(), content.data(), content.size(),
                                    subjectRule.c_str(), 0, TQXCRYPT_DETACHED, 0, nullptr, nullptr);
         }},
        {"a fingerprint", TQ_RTN_OK,
         [&] {
             BlobOwner out;
             return TQXCrypt_CertGetDigest(signerCert.get(), 4, &out);
         }},
        {"decrypting an envelope", TQ_RTN_OK,
         [&] {
             BlobOwner out;
             return TQXCrypt_Decrypt(recipientCert.get(), recipientKey.get(), envelope.b.data,
                                     envelope.b.length, 0, &out);
         }},
    };
    expectRows(rows);
}

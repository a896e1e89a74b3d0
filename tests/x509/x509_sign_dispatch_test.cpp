// Signing and verifying through the object's table: the handle checks of
// the two dispatchers, a changed body, and a key whose RSA runs through an
// RSA method of the test, as a token key's does.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/ocsp.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "build_support.h"
#include "tqxcrypt_keys.h"

using namespace buildtest;

namespace {

// A handle of a kind over a new empty object of the table's type.
template <class T, T *(*New)()>
TQXCRYPT_HANDLE *handleOf(int kind, const TQXCRYPT_ASN1_METHOD *table) {
    TQXCRYPT_HANDLE *h = nullptr;
    EXPECT_EQ(tqxCryptCreateHandle(&h, kind, New(), table, nullptr), TQ_RTN_OK);
    return h;
}

TEST(Dispatch, HandleChecksOfBothDispatchers) {
    HandleOwner key(privateKey("root.key.pem")), pub(publicKey("root.pub.pem")), cert;
    ASSERT_EQ(TQXCrypt_CreateCertificate(cert.out()), TQ_RTN_OK);
    HandleOwner pkcs7(handleOf<PKCS7, PKCS7_new>(TQXCRYPT_KIND_PKCS7, tqxCryptASN1PKCS7Method()));
    HandleOwner response(handleOf<OCSP_RESPONSE, OCSP_RESPONSE_new>(TQXCRYPT_KIND_OCSPRESPONSE,
                                                                    tqxCryptASN1OCSPResponseMethod()));
    HandleOwner bare;
    ASSERT_EQ(tqxCryptCreateHandle(bare.out(), TQXCRYPT_KIND_CERTIFICATE, X509_new(), nullptr, nullptr),
              TQ_RTN_OK);
    HandleOwner emptyKey(tqtest::emptyHandle(TQXCRYPT_KIND_PRIVATEKEY));
    HandleOwner emptyObject(tqtest::emptyHandle(TQXCRYPT_KIND_CERTIFICATE, tqxCryptASN1CertificateMethod()));
    const tqtest::CodeCase cases[] = {
        {"sign: null key", TQXCrypt_SignObject(cert.get(), nullptr, 4), TQ_RTN_BAD_ARGUMENT},
        {"sign: key without object", TQXCrypt_SignObject(cert.get(), emptyKey.get(), 4), TQ_RTN_BAD_ARGUMENT},
        {"sign: public key", TQXCrypt_SignObject(cert.get(), pub.get(), 4), TQ_RTN_WRONG_HANDLE},
        {"sign: null object", TQXCrypt_SignObject(nullptr, key.get(), 4), TQ_RTN_BAD_ARGUMENT},
        {"sign: object without object", TQXCrypt_SignObject(emptyObject.get(), key.get(), 4),
         TQ_RTN_BAD_ARGUMENT},
        {"sign: no table", TQXCrypt_SignObject(bare.get(), key.get(), 4), TQ_RTN_WRONG_HANDLE},
        {"sign: PKCS#7", TQXCrypt_SignObject(pkcs7.get(), key.get(), 4), TQ_RTN_WRONG_HANDLE},
        {"sign: a key", TQXCrypt_SignObject(key.get(), key.get(), 4), TQ_RTN_WRONG_HANDLE},
        {"sign: OCSP response", TQXCrypt_SignObject(response.get(), key.get(), 4), TQ_RTN_WRONG_HANDLE},
        {"sign: selector 7", TQXCrypt_SignObject(cert.get(), key.get(), 7), TQ_RTN_SIGN_FAILED},
        {"verify: private key", TQXCrypt_VerifyObject(cert.get(), key.get(), 0), TQ_RTN_WRONG_HANDLE},
        {"verify: null key", TQXCrypt_VerifyObject(cert.get(), nullptr, 0), TQ_RTN_BAD_ARGUMENT},
        {"verify: null object", TQXCrypt_VerifyObject(nullptr, pub.get(), 0), TQ_RTN_BAD_ARGUMENT},
        {"verify: PKCS#7", TQXCrypt_VerifyObject(pkcs7.get(), pub.get(), 0), TQ_RTN_WRONG_HANDLE},
        {"verify: unsigned", TQXCrypt_VerifyObject(cert.get(), pub.get(), 0), TQ_RTN_VERIFY_FAILED},
        {"OCSP response signing", tqxCrypt_ASN1_SignOCSPResponse(response.get(), key.get(), 4),
         TQ_RTN_FAILED},
    };
    tqtest::expectCodes(cases);
    // Without a table the handle cannot free its object.
    X509_free(static_cast<X509 *>(bare.get()->object));
}

// Certificate, request and CRL: signed, verified, then one byte of the body
// changed (a letter of a name) and verified again.
TEST(Dispatch, ChangedBodyGives5036ForEveryKind) {
    HandleOwner key(privateKey("root.key.pem")), pub(publicKey("root.pub.pem"));
    HandleOwner cert(buildRoot(key.get())), req, crl;
    ASSERT_EQ(TQXCrypt_GenerateCertRequest(key.get(), nullptr, kRootDn, 0, 4, req.out()), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CreateCRL(crl.out()), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLSetIssuer(crl.get(), cert.get()), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_CRLSetLastUpdate(crl.get(), "250101000000+0000"), TQ_RTN_OK);
    ASSERT_EQ(TQXCrypt_SignObject(crl.get(), key.get(), 4), TQ_RTN_OK);
    const struct {
        int kind;
        TQXCRYPT_HANDLE *object;
    } rows[] = {{TQXCRYPT_KIND_CERTIFICATE, cert.get()},
                {TQXCRYPT_KIND_CERTREQUEST, req.get()},
                {TQXCRYPT_KIND_CRL, crl.get()}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.kind);
        EXPECT_EQ(TQXCrypt_VerifyObject(row.object, pub.get(), 0), TQ_RTN_OK);
        Bytes bytes = der(row.object, row.kind);
        HandleOwner decoded(decode(row.kind, bytes));
        EXPECT_EQ(TQXCrypt_VerifyObject(decoded.get(), pub.get(), 0), TQ_RTN_OK);
        std::string text(bytes.begin(), bytes.end());
        size_t at = text.find("Build Root");
        ASSERT_NE(at, std::string::npos);
        bytes[at] = 'G';
        HandleOwner changed(decode(row.kind, bytes));
        EXPECT_EQ(TQXCrypt_VerifyObject(changed.get(), pub.get(), 0), TQ_RTN_VERIFY_FAILED);
    }
}

// The stand-in token: a software key behind an RSA method, counting calls.
RSA *g_behind = nullptr;
int g_calls = 0;
int privateEncrypt(int length, const unsigned char *from, unsigned char *to, RSA *, int padding) {
    ++g_calls;
    return RSA_private_encrypt(length, from, to, g_behind, padding);
}

TEST(Dispatch, KeyBehindAnRsaMethodSignsByteIdentically) {
    HandleOwner software(privateKey("root.key.pem"));
    g_behind = EVP_PKEY_get1_RSA(static_cast<EVP_PKEY *>(software.get()->object));
    RSA_METHOD *method = RSA_meth_dup(RSA_PKCS1_OpenSSL());
    RSA_meth_set1_name(method, "stand-in token");
    RSA_meth_set_priv_enc(method, privateEncrypt);
    RSA *rsa = RSA_new();
    RSA_set_method(rsa, method);
    const BIGNUM *n = nullptr, *e = nullptr;
    RSA_get0_key(g_behind, &n, &e, nullptr);
    RSA_set0_key(rsa, BN_dup(n), BN_dup(e), nullptr);
    EVP_PKEY *pkey = EVP_PKEY_new();
    EVP_PKEY_assign_RSA(pkey, rsa);
    HandleOwner token;
    ASSERT_EQ(
        tqxCryptCreateHandle(token.out(), TQXCRYPT_KIND_PRIVATEKEY, pkey, tqxCryptASN1PrivateKeyMethod(),
                             const_cast<TQXCRYPT_KEY_METHOD *>(tqxCryptRSAPriMethod())),
        TQ_RTN_OK);
    const int kinds[] = {TQXCRYPT_KIND_CERTIFICATE, TQXCRYPT_KIND_CERTREQUEST, TQXCRYPT_KIND_CRL};
    for (int kind : kinds) {
        SCOPED_TRACE(kind);
        Bytes results[2];
        for (int i = 0; i < 2; ++i) {
            TQXCRYPT_HANDLE *signer = i ? token.get() : software.get();
            HandleOwner object;
            if (kind == TQXCRYPT_KIND_CERTIFICATE) {
                object.h = buildRoot(software.get());
                ASSERT_EQ(TQXCrypt_SignObject(object.get(), signer, 4), TQ_RTN_OK);
            } else if (kind == TQXCRYPT_KIND_CERTREQUEST) {
                ASSERT_EQ(TQXCrypt_GenerateCertRequest(signer, nullptr, kRootDn, 0, 5, object.out()),
                          TQ_RTN_OK);
            } else {
                ASSERT_EQ(TQXCrypt_CreateCRL(object.out()), TQ_RTN_OK);
                ASSERT_EQ(TQXCrypt_CRLSetIssuerName(object.get(), kRootDn), TQ_RTN_OK);
                ASSERT_EQ(TQXCrypt_CRLSetLastUpdate(object.get(), "250101000000+0000"), TQ_RTN_OK);
                ASSERT_EQ(TQXCrypt_CRLAddRevoked(object.get(), "0102", "250101000000+0000", 5021), TQ_RTN_OK);
                ASSERT_EQ(TQXCrypt_SignObject(object.get(), signer, 6), TQ_RTN_OK);
            }
            results[i] = der(object.get(), kind);
        }
        EXPECT_FALSE(results[0].empty());
        EXPECT_EQ(results[0], results[1]);
    }
    EXPECT_GE(g_calls, 3);
    RSA_free(g_behind);
    g_behind = nullptr;
    token.out();
    RSA_meth_free(method);
}

}  // namespace

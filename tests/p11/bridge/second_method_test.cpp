// The second token RSA method, which the library installs nowhere: its
// private side is the first's, its public side answers nothing.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "bridge_token.h"

extern "C" const RSA_METHOD *TQX_RSA_PKCS1_PKCS11(void);
extern "C" const RSA_METHOD *TQX_RSA_PKCS1_PKCS11_2(void);

namespace {

using namespace bridgetest;

class BridgeSecondMethod : public TokenKeys {};

TEST_F(BridgeSecondMethod, RefusesThePublicSideAndSignsOnTheToken) {
    const RSA_METHOD *second = TQX_RSA_PKCS1_PKCS11_2();
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(RSA_meth_get0_name(second), "Orvane PKCS#11 PKCS#1 RSA 2");
    EXPECT_EQ(TQX_RSA_PKCS1_PKCS11_2(), second);  // made once
    EXPECT_NE(TQX_RSA_PKCS1_PKCS11(), second);
    EXPECT_EQ(RSA_meth_get_priv_enc(second), RSA_meth_get_priv_enc(TQX_RSA_PKCS1_PKCS11()));
    EXPECT_EQ(RSA_meth_get_priv_dec(second), RSA_meth_get_priv_dec(TQX_RSA_PKCS1_PKCS11()));

    importPair(pkcs7File("signer.key.pem"), "signer", "01");
    HandleOwner key;
    ASSERT_EQ(TQXP11Crypt_GetPrivateKey(&session, "signer", 0, key.out()), 0);
    RSA *rsa = const_cast<RSA *>(EVP_PKEY_get0_RSA(static_cast<EVP_PKEY *>(key.get()->object)));
    ASSERT_EQ(RSA_set_method(rsa, second), 1);
    const Bytes block(35, 0x17);
    Bytes out(256);
    EXPECT_EQ(
        RSA_public_encrypt(static_cast<int>(block.size()), block.data(), out.data(), rsa, RSA_PKCS1_PADDING),
        -1);
    EXPECT_EQ(RSA_public_decrypt(256, out.data(), out.data(), rsa, RSA_PKCS1_PADDING), -1);
    EXPECT_EQ(tokenCalls("C_Sign") + tokenCalls("C_Encrypt") + tokenCalls("C_VerifyRecover"), 0);
    EXPECT_EQ(
        RSA_private_encrypt(static_cast<int>(block.size()), block.data(), out.data(), rsa, RSA_PKCS1_PADDING),
        256);
    EXPECT_EQ(tokenCalls("C_Sign"), 1);
}

}  // namespace

#include "softtoken.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <memory>

#include <cstdio>
#include <cstdlib>

#include "shim_state.h"

namespace p11test {

namespace {

struct Providers {
    OSSL_PROVIDER *legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER *standard = OSSL_PROVIDER_load(nullptr, "default");
    ~Providers() {
        if (legacy) OSSL_PROVIDER_unload(legacy);
        if (standard) OSSL_PROVIDER_unload(standard);
    }
};

}  // namespace

void loadProviders() { static Providers providers; }

SoftToken::SoftToken(const std::string &label, const std::string &soPin, const std::string &userPin)
    : label_(label), soPin_(soPin), userPin_(userPin), config_(dir_.file("softhsm2.conf")) {
    loadProviders();
    tqtest::run("mkdir -p '" + dir_.file("tokens") + "'");
    tqtest::writeFile(config_,
                      "directories.tokendir = " + dir_.file("tokens") +
                          "\nobjectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n");
    setenv("SOFTHSM2_CONF", config_.c_str(), 1);
    int status = -1;
    std::string out = util(
        "--init-token --free --label '" + label_ + "' --so-pin '" + soPin_ + "' --pin '" + userPin_ + "'",
        &status);
    EXPECT_EQ(status, 0) << out;
}

SoftToken::~SoftToken() { unsetenv("SOFTHSM2_CONF"); }

std::string SoftToken::tool(const std::string &arguments, int *status) const {
    return tqtest::run("SOFTHSM2_CONF='" + config_ +
                           "' " TQ_PKCS11_TOOL " --module " TQ_SOFTHSM_MODULE " --token-label '" + label_ +
                           "' --login --pin '" + userPin_ + "' " + arguments + " 2>&1",
                       status);
}

std::string SoftToken::moduleTool(const std::string &arguments, int *status) const {
    return tqtest::run("SOFTHSM2_CONF='" + config_ + "' " TQ_PKCS11_TOOL " --module " TQ_SOFTHSM_MODULE " " +
                           arguments + " 2>&1",
                       status);
}

std::string SoftToken::util(const std::string &arguments, int *status) const {
    return tqtest::run("SOFTHSM2_CONF='" + config_ + "' " TQ_SOFTHSM_UTIL " " + arguments + " 2>&1", status);
}

std::string trimmedLabel(const unsigned char (&label)[32]) {
    std::string text(reinterpret_cast<const char *>(label), sizeof label);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

int loadOn(TQXP11_CONTEXT *context, const std::string &module, const std::string &tokenLabel,
           const CK_C_INITIALIZE_ARGS *initArgs) {
    int rc =
        initArgs ? TQXP11_InitEx(context, module.c_str(), initArgs) : TQXP11_Init(context, module.c_str());
    if (rc != TQP11_RTN_OK) return rc;
    for (CK_ULONG i = 0; i < context->slotCount; ++i) {
        if ((rc = TQXP11_SetCurrentSlot(context, i)) != TQP11_RTN_OK) return rc;
        CK_TOKEN_INFO info;
        if ((rc = TQXP11_GetTokenInfo(context, &info)) != TQP11_RTN_OK) return rc;
        if (trimmedLabel(info.label) == tokenLabel) return TQP11_RTN_OK;
    }
    return TQP11_RTN_SLOT_NOT_FOUND;
}

UserCredentials::UserCredentials() {
    certificate = tqtest::readFile(tqtest::fixture("objects/user.der"));
    const unsigned char *in = certificate.data();
    std::unique_ptr<X509, decltype(&X509_free)> x509(d2i_X509(nullptr, &in, certificate.size()), X509_free);
    subject = tqtest::derBytes(X509_get_subject_name(x509.get()), i2d_X509_NAME);
    issuer = tqtest::derBytes(X509_get_issuer_name(x509.get()), i2d_X509_NAME);
    serial = tqtest::derBytes(X509_get0_serialNumber(x509.get()), i2d_ASN1_INTEGER);

    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        tqtest::pemPrivateKey(tqtest::fixture("objects/user.key.pem")), EVP_PKEY_free);
    n = tqtest::keyNumber(key.get(), OSSL_PKEY_PARAM_RSA_N);
    e = tqtest::keyNumber(key.get(), OSSL_PKEY_PARAM_RSA_E);
    d = tqtest::keyNumber(key.get(), OSSL_PKEY_PARAM_RSA_D);
    p = tqtest::keyNumber(key.get(), OSSL_PKEY_PARAM_RSA_FACTOR1);
    q = tqtest::keyNumber(key.get(), OSSL_PKEY_PARAM_RSA_FACTOR2);
    dp = tqtest::keyNumber(key.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1);
    dq = tqtest::keyNumber(key.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2);
    qinv = tqtest::keyNumber(key.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
}

TQXP11_OBJECT describe(const std::string &label, CK_ULONG kind, bool isPrivate, TQXP11_VALUE *value) {
    TQXP11_OBJECT object{};
    std::snprintf(object.label, sizeof object.label, "%s", label.c_str());
    object.kind = kind;
    object.isPrivate = isPrivate ? CK_TRUE : CK_FALSE;
    object.valueRecord = value;
    return object;
}

void LoggedIn::SetUp() {
    shim::reset();
    ASSERT_EQ(loadOn(&context, module(), token.label()), TQP11_RTN_OK);
    ASSERT_EQ(TQXP11_SessionOpen(&context, &session), TQP11_RTN_OK);
    ASSERT_EQ(TQXP11_Login(&session, token.userPin().c_str()), TQP11_RTN_OK);
}

void LoggedIn::TearDown() {
    if (session.module) TQXP11_SessionClose(&session);
    if (context.module) TQXP11_Final(&context);
}

std::string LoggedIn::peer(const std::string &arguments) {
    int status = -1;
    std::string out = token.tool(arguments, &status);
    EXPECT_EQ(status, 0) << arguments << "\n" << out;
    return out;
}

tqtest::Bytes bytesOf(const TQXP11_BYTES &b) {
    return b.data ? tqtest::Bytes(b.data, b.data + b.length) : tqtest::Bytes();
}

}  // namespace p11test

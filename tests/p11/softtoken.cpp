#include "softtoken.h"

#include <gtest/gtest.h>
#include <openssl/provider.h>

#include <cstdlib>

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
    tqtest::writeFile(config_, "directories.tokendir = " + dir_.file("tokens") +
                                   "\nobjectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n");
    setenv("SOFTHSM2_CONF", config_.c_str(), 1);
    int status = -1;
    std::string out = util("--init-token --free --label '" + label_ + "' --so-pin '" + soPin_ + "' --pin '" +
                               userPin_ + "'",
                           &status);
    EXPECT_EQ(status, 0) << out;
}

SoftToken::~SoftToken() { unsetenv("SOFTHSM2_CONF"); }

std::string SoftToken::tool(const std::string &arguments, int *status) const {
    return tqtest::run("SOFTHSM2_CONF='" + config_ + "' " TQ_PKCS11_TOOL " --module " TQ_SOFTHSM_MODULE
                       " --token-label '" + label_ + "' --login --pin '" + userPin_ + "' " + arguments + " 2>&1",
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
    int rc = initArgs ? TQXP11_InitEx(context, module.c_str(), initArgs) : TQXP11_Init(context, module.c_str());
    if (rc != 0) return rc;
    for (CK_ULONG i = 0; i < context->slotCount; ++i) {
        if ((rc = TQXP11_SetCurrentSlot(context, i)) != 0) return rc;
        CK_TOKEN_INFO info;
        if ((rc = TQXP11_GetTokenInfo(context, &info)) != 0) return rc;
        if (trimmedLabel(info.label) == tokenLabel) return 0;
    }
    return TQP11_RTN_SLOT_NOT_FOUND;
}

tqtest::Bytes bytesOf(const TQXP11_BYTES &b) {
    return b.data ? tqtest::Bytes(b.data, b.data + b.length) : tqtest::Bytes();
}

}  // namespace p11test

#include "keys_testutil.h"

#include <gtest/gtest.h>

#include <openssl/safestack.h>

#include "tqxcrypt_pkcs7.h"

namespace keystest {

int signedDataCode(TQXCRYPT_HANDLE *key) {
    tqtest::HandleOwner cert(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "keys/cert.sha256.der"));
    const Bytes data = tqtest::randomBytes(1024, 7);
    tqtest::HandleOwner message;
    const int rc = TQXCrypt_Sign(cert.get(), key, nullptr, data.data(), data.size(), TQXCRYPT_DETACHED,
                                 TQXCRYPT_HASH_SHA256, message.out());
    EXPECT_EQ(message.get() != nullptr, rc == TQ_RTN_OK) << rc;
    return rc;
}

TQXCRYPT_HANDLE *unpackedPkcs12() {
    TQXCRYPT_HANDLE *h = tqtest::decodeFixture(TQXCRYPT_KIND_PKCS12, "objects/user.p12");
    auto *contents = static_cast<TQXCRYPT_P12_CONTENTS *>(TQCryptMemAlloc(sizeof(TQXCRYPT_P12_CONTENTS)));
    if (h == nullptr || contents == nullptr) {
        ADD_FAILURE() << "no PKCS#12 handle";
        TQCryptMemFree(contents);
        return h;
    }
    contents->keys = reinterpret_cast<struct stack_st_EVP_PKEY *>(OPENSSL_sk_new_null());
    contents->caCerts = reinterpret_cast<struct stack_st_X509 *>(OPENSSL_sk_new_null());
    contents->userCerts = reinterpret_cast<struct stack_st_X509 *>(OPENSSL_sk_new_null());
    h->extra = contents;  // released with the handle
    return h;
}

Bytes hexNumber(const std::string &text) {
    Bytes out = hexBytes(text);
    size_t lead = 0;
    while (lead + 1 < out.size() && out[lead] == 0) ++lead;
    return Bytes(out.begin() + static_cast<long>(lead), out.end());
}

}  // namespace keystest

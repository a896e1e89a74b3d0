#include "pkcs7_support.h"

namespace p7test {

TQXCRYPT_HANDLE *store(bool withCrl) {
    std::string certs = tqtest::readText(fx("chain.pem"));
    std::string crl = withCrl ? tqtest::readText(fx("inter.crl.pem")) : std::string();
    TQXCRYPT_HANDLE *s = nullptr;
    EXPECT_EQ(TQXCrypt_LoadStore(&s, certs.c_str(), withCrl ? crl.c_str() : nullptr), 0);
    return s;
}

Bytes der(TQXCRYPT_HANDLE *message) {
    tqtest::BlobOwner out;
    EXPECT_EQ(TQXCrypt_EncodeObject(message, TQXCRYPT_KIND_PKCS7, &out, 0, nullptr), 0);
    return out.bytes();
}

TQXCRYPT_HANDLE *message(const Bytes &der) {
    TQXCRYPT_HANDLE *h = nullptr;
    EXPECT_EQ(TQXCrypt_DecodeObject(&h, TQXCRYPT_KIND_PKCS7, der.data(), der.size(), 0, nullptr), 0);
    return h;
}

Bytes certDer(TQXCRYPT_HANDLE *cert) {
    tqtest::BlobOwner out;
    EXPECT_EQ(TQXCrypt_EncodeObject(cert, TQXCRYPT_KIND_CERTIFICATE, &out, 0, nullptr), 0);
    return out.bytes();
}

}  // namespace p7test

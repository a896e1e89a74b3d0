#include "pkcs7_support.h"

namespace p7test {

TQXCRYPT_HANDLE *store(bool withCrl) {
    const std::string crl = withCrl ? kFixtures.text("inter.crl.pem") : std::string();
    return tqtest::storeOfTexts(kFixtures.text("chain.pem"), withCrl ? crl.c_str() : nullptr);
}

}  // namespace p7test

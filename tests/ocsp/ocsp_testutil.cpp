#include "ocsp_testutil.h"

#include <gtest/gtest.h>

namespace tqtest {

std::string ocspFixtures() { return fixture("ocsp"); }

tq::X509Ptr loadCert(const std::string &name) {
    tq::BioPtr bio(BIO_new_file((ocspFixtures() + "/" + name).c_str(), "r"));
    return tq::X509Ptr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

tq::OcspRequestPtr opensslRequest(const std::string &cert) {
    tq::X509Ptr issuer = loadCert("ca.pem"), subject = loadCert(cert);
    tq::OcspRequestPtr request(OCSP_REQUEST_new());
    OCSP_CERTID *id = OCSP_cert_to_id(nullptr, subject.get(), issuer.get());
    EXPECT_TRUE(id && OCSP_request_add0_id(request.get(), id));
    EXPECT_EQ(OCSP_request_add1_nonce(request.get(), nullptr, 16), 1);
    return request;
}

std::string storedAnswer() {
    Bytes b = readFile(ocspFixtures() + "/good.resp.der");
    return std::string(b.begin(), b.end());
}

}  // namespace tqtest

#include "ocsp_testutil.h"

#include <gtest/gtest.h>

#include <openssl/err.h>

#include "der_element.h"
#include "tqxcrypt_ocsp.h"
#include "tqxcrypt_store.h"

namespace tqtest {

std::string ocspFixtures() { return fixture("ocsp"); }

tq::X509Ptr loadCert(const std::string &name) {
    return tq::X509Ptr(pemCertificate(kOcspFixtures.path(name)));
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

TQXCRYPT_HANDLE *storeOf(const std::string &name) { return storeOfTexts(kOcspFixtures.text(name)); }

namespace {
TQXCRYPT_HANDLE *keyHandle(int kind, const std::string &command) {
    Bytes der = shBytes(command);
    TQXCRYPT_HANDLE *key = nullptr;
    EXPECT_EQ(TQXCrypt_DecodeObject(&key, kind, der.data(), der.size(), 0, nullptr), TQ_RTN_OK);
    return key;
}
}  // namespace

TQXCRYPT_HANDLE *privateKey(const std::string &file) {
    return keyHandle(TQXCRYPT_KIND_PRIVATEKEY,
                     "openssl pkey -in " + ocspFixtures() + "/" + file + " -outform DER");
}
TQXCRYPT_HANDLE *publicKeyOf(const std::string &cert) {
    return keyHandle(TQXCRYPT_KIND_PUBLICKEY, "openssl x509 -in " + ocspFixtures() + "/" + cert +
                                                  " -pubkey -noout | openssl pkey -pubin -outform DER");
}

std::string encoded(TQXCRYPT_HANDLE *handle) {
    const Bytes out = encoded(handle, handle->kind);
    return std::string(out.begin(), out.end());
}

// openssl's text of a request.
std::string requestText(const std::string &requestDer, TempDir &dir) {
    writeFile(dir.file("req.der"), requestDer);
    return sh("openssl ocsp -reqin " + dir.file("req.der") + " -req_text");
}

// openssl ocsp's answer to a request, offline.
std::string answerOf(const std::string &requestDer, const std::string &options, const std::string &signer,
                     const std::string &key) {
    TempDir dir;
    writeFile(dir.file("req.der"), requestDer);
    sh("openssl ocsp -index " + ocspFixtures() + "/index.txt -CA " + ocspFixtures() + "/ca.pem -rsigner " +
       ocspFixtures() + "/" + signer + " -rkey " + ocspFixtures() + "/" + key + " -reqin " +
       dir.file("req.der") + " -respout " + dir.file("resp.der") + " " + options + " 2>/dev/null");
    Bytes b = readFile(dir.file("resp.der"));
    return std::string(b.begin(), b.end());
}

tq::OcspBasicRespPtr basicOf(const std::string &responseDer) {
    tq::OcspResponsePtr response(fromDer(responseDer, d2i_OCSP_RESPONSE));
    OCSP_BASICRESP *basic = nullptr;
    EXPECT_EQ(tqxCrypt_OCSP_get_basicrsp(response.get(), &basic, 0), TQ_RTN_OK);
    return tq::OcspBasicRespPtr(basic);
}

size_t count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// DER of an OCSPResponse from its parts, for answers no responder sends.
std::string derResponse(int status, const char *typeOid, const std::string &bytes) {
    auto tlv = [](unsigned char tag, const std::string &v) {
        const Bytes out = derelement::tlv(tag, Bytes(v.begin(), v.end()));
        return std::string(out.begin(), out.end());
    };
    std::string body = tlv(0x0a, std::string(1, static_cast<char>(status)));
    if (typeOid) {
        const Bytes oid = oidDer(typeOid);
        body += tlv(0xa0, tlv(0x30, std::string(oid.begin(), oid.end()) + tlv(0x04, bytes)));
    }
    return tlv(0x30, body);
}

}  // namespace tqtest

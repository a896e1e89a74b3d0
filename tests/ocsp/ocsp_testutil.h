// Shared by the OCSP tests: the fixtures of the OCSP set as OpenSSL objects
// and DER.
#pragma once

#include <string>

#include "owners.h"
#include "testutil.h"

namespace tqtest {

std::string ocspFixtures();
tq::X509Ptr loadCert(const std::string &name);
// A request for one certificate of the set, made by OpenSSL itself.
tq::OcspRequestPtr opensslRequest(const std::string &cert = "user-1000.pem");
// The stored answer of openssl ocsp for user-1000.
std::string storedAnswer();

template <class T>
std::string derOf(const T *object, int (*i2d)(const T *, unsigned char **)) {
    unsigned char *out = nullptr;
    int n = i2d(object, &out);
    std::string s(reinterpret_cast<char *>(out), static_cast<size_t>(n > 0 ? n : 0));
    OPENSSL_free(out);
    return s;
}
inline std::string der(const OCSP_REQUEST *request) { return derOf(request, i2d_OCSP_REQUEST); }
inline std::string der(const OCSP_RESPONSE *response) { return derOf(response, i2d_OCSP_RESPONSE); }

template <class T>
T *fromDer(const std::string &bytes, T *(*d2i)(T **, const unsigned char **, long)) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes.data());
    return d2i(nullptr, &p, static_cast<long>(bytes.size()));
}

}  // namespace tqtest

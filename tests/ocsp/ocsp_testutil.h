// Shared by the OCSP tests: the fixtures of the OCSP set as OpenSSL objects
// and DER.
#pragma once

#include <string>

#include "owners.h"
#include "testutil.h"

namespace tqtest {

inline const FixtureSet kOcspFixtures("ocsp");
std::string ocspFixtures();
tq::X509Ptr loadCert(const std::string &name);
// A request for one certificate of the set, made by OpenSSL itself.
tq::OcspRequestPtr opensslRequest(const std::string &cert = "user-1000.pem");
// The stored answer of openssl ocsp for user-1000.
std::string storedAnswer();

// Handles of the set's files.
inline TQXCRYPT_HANDLE *certHandle(const std::string &name) { return kOcspFixtures.certificate(name); }
TQXCRYPT_HANDLE *storeOf(const std::string &name);
// The set's keys are PKCS#8 text; they reach the library as DER, through
// the tool.
TQXCRYPT_HANDLE *privateKey(const std::string &file);
TQXCRYPT_HANDLE *publicKeyOf(const std::string &cert);
// DER (or text) of a handle by its own kind.
std::string encoded(TQXCRYPT_HANDLE *handle);

// openssl's text of a request; the DER stays in dir as req.der.
std::string requestText(const std::string &requestDer, TempDir &dir);
// openssl ocsp's answer to a request, offline.
std::string answerOf(const std::string &requestDer, const std::string &options = "",
                     const std::string &signer = "responder.pem", const std::string &key = "responder.key");
tq::OcspBasicRespPtr basicOf(const std::string &responseDer);
size_t count(const std::string &text, const std::string &what);
// DER of an OCSPResponse from its parts (no responseBytes when typeOid is
// null), for answers no responder sends.
std::string derResponse(int status, const char *typeOid, const std::string &bytes);

template <class T>
std::string derOf(const T *object, int (*i2d)(const T *, unsigned char **)) {
    const Bytes der = derBytes(object, i2d);
    return std::string(der.begin(), der.end());
}
inline std::string der(const OCSP_REQUEST *request) { return derOf(request, i2d_OCSP_REQUEST); }
inline std::string der(const OCSP_RESPONSE *response) { return derOf(response, i2d_OCSP_RESPONSE); }

template <class T>
T *fromDer(const std::string &bytes, T *(*d2i)(T **, const unsigned char **, long)) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes.data());
    return d2i(nullptr, &p, static_cast<long>(bytes.size()));
}

}  // namespace tqtest

#include "store_support.h"

#include <openssl/x509v3.h>

namespace storetest {

X509 *readCert(const std::string &file) { return tqtest::pemCertificate(chainFile(file)); }

namespace {

bool selfIssuedFile(const std::string &file) {
    X509 *x = readCert(file);
    bool self = x && X509_check_issued(x, x) == X509_V_OK;
    X509_free(x);
    return self;
}

}  // namespace

bool opensslVerify(const tqtest::TempDir &dir, const std::string &leaf, const Files &certs, const Files &crls,
                   const std::string &crlOption, long long attime, std::string *output) {
    Files trusted, untrusted;
    for (const auto &f : certs) (selfIssuedFile(f) ? trusted : untrusted).push_back(f);
    if (trusted.empty()) trusted.swap(untrusted);
    std::string cmd = "openssl verify -no-CApath -no-CAstore";
    if (!trusted.empty()) {
        tqtest::writeFile(dir.file("trusted.pem"), pemList(trusted));
        cmd += " -CAfile " + dir.file("trusted.pem");
    } else {
        cmd += " -no-CAfile";
    }
    if (!untrusted.empty()) {
        tqtest::writeFile(dir.file("untrusted.pem"), pemList(untrusted));
        cmd += " -untrusted " + dir.file("untrusted.pem");
    }
    if (!crlOption.empty()) {
        cmd += " " + crlOption;
        if (!crls.empty()) {
            tqtest::writeFile(dir.file("crls.pem"), pemList(crls));
            cmd += " -CRLfile " + dir.file("crls.pem");
        }
    }
    if (attime > 0) cmd += " -attime " + std::to_string(attime);
    cmd += " " + chainFile(leaf) + " 2>&1";
    int status = -1;
    std::string out = tqtest::run(cmd, &status);
    if (output) *output = cmd + "\n" + out;
    return status == 0;
}

}  // namespace storetest

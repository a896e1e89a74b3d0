// A SoftHSM2 token of a benchmark's own ("bench", user PIN 123456) in a
// temporary directory that goes with the object, a key and certificate for
// it, a logged-in session on it, and the DigestInfo a bare token signature
// signs.
#pragma once

#include <stdlib.h>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tqxcrypt.h"
#include "tqxcrypt_keys.h"
#include "tqxp11.h"

namespace tqbench {

class SoftToken {
public:
    SoftToken() {
        if (!mkdtemp(dir_)) std::exit(1);
        const std::string conf = path("softhsm2.conf");
        FILE *f = std::fopen(conf.c_str(), "w");
        if (!f) std::exit(1);
        std::fprintf(f, "directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n",
                     dir_);
        std::fclose(f);
        setenv("SOFTHSM2_CONF", conf.c_str(), 1);
        run("mkdir -p " + path("tokens") +
            " && " TQ_SOFTHSM_UTIL
            " --init-token --free --label bench --so-pin 87654321 --pin 123456 >/dev/null");
    }
    ~SoftToken() { std::system((std::string("rm -rf ") + dir_).c_str()); }
    SoftToken(const SoftToken &) = delete;
    SoftToken &operator=(const SoftToken &) = delete;

    std::string dir() const { return dir_; }
    std::string path(const std::string &name) const { return dir() + "/" + name; }
    // A fresh RSA-2048 key (key.pem, PKCS#8) and a self-signed certificate
    // for it (cert.pem) in the directory.
    void makeIdentity(const std::string &commonName) const {
        run("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + path("key.pem") + " -out " +
            path("cert.pem") + " -subj /CN=" + commonName + " -days 2 2>/dev/null");
    }
    // That key on the token by the token's own tool, with id 01.
    void importKey(const std::string &label) const {
        run("openssl pkcs8 -topk8 -nocrypt -in " + path("key.pem") + " -out " + path("key.p8") +
            " && " TQ_SOFTHSM_UTIL " --import " + path("key.p8") + " --token bench --label '" + label +
            "' --id 01 --pin 123456 >/dev/null");
    }
    // Runs a shell command; the bench ends when it fails.
    static void run(const std::string &command) {
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            std::exit(1);
        }
    }

private:
    char dir_[32] = "/tmp/tqbench.XXXXXX";
};

// The token and, once open() is called, a session on it logged in as the
// user: what is on the token before (the token's own tool writes it) is seen.
class TokenSession {
public:
    TokenSession() = default;
    ~TokenSession() {
        if (!opened_) return;
        TQXP11_SessionClose(&session);
        TQXP11_Final(&context);
    }
    TokenSession(const TokenSession &) = delete;
    TokenSession &operator=(const TokenSession &) = delete;
    // The bench ends when the session does not open.
    void open() {
        if (TQXP11_Init(&context, TQ_SOFTHSM_MODULE) != 0 || TQXP11_SessionOpen(&context, &session) != 0 ||
            TQXP11_Login(&session, "123456") != 0) {
            std::fprintf(stderr, "failed: token session\n");
            std::exit(1);
        }
        opened_ = true;
    }

    SoftToken files;
    TQXP11_CONTEXT context{};
    TQXP11_SESSION session{};

private:
    bool opened_ = false;
};

// The DER DigestInfo of the SHA-256 of the data: what the bare token call
// signs for a SHA-256 RSA signature.
inline std::vector<unsigned char> sha256DigestInfo(const std::vector<unsigned char> &data) {
    unsigned char md[32];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), md, &n, EVP_sha256(), nullptr);
    unsigned char *der = nullptr;
    int derLength = 0;
    tqxCrypt_Encode_X509_SIG(md, static_cast<int>(n), TQXCRYPT_HASH_SHA256, &der, &derLength);
    std::vector<unsigned char> info(der, der + derLength);
    OPENSSL_free(der);
    return info;
}

}  // namespace tqbench

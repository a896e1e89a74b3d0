// The main road as far as it is built: objects made by the openssl tool are
// decoded, encoded again, and compared byte for byte with what openssl prints.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tqxcrypt.h"
#include "tqxcrypt_pkcs7.h"

namespace {

using Bytes = std::vector<unsigned char>;

bool sh(const std::string &command) { return std::system(command.c_str()) == 0; }

Bytes readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Kind {
    const char *what;
    int kind;
    const char *file;
    const char *pemCommand;  // openssl's own PEM of the same object
};

// The signing road: a software key from the PKCS#7 fixture set signs a
// message through its key handle, and the openssl tool verifies it.
int signWithFixtureKey(const std::string &dir) {
    std::string source = __FILE__;
    std::string script = source.substr(0, source.rfind('/')) + "/../tests/fixtures/sets/pkcs7.sh";
    std::string fx = dir + "/pkcs7-fixtures";
    std::printf("\nmaking the PKCS#7 fixtures in %s\n", fx.c_str());
    if (!sh("rm -rf '" + fx + "' && mkdir -p '" + fx + "' && cd '" + fx + "' && bash -euo pipefail '" +
            script + "'"))
        return 1;
    Bytes certText = readFile(fx + "/signer.pem"), keyText = readFile(fx + "/signer.key.pem");
    TQXCRYPT_HANDLE *cert = nullptr, *key = nullptr, *p7 = nullptr;
    const std::string data = "Signed through a key handle by tokencrypt.\n";
    int rc = TQXCrypt_DecodeObject(&cert, TQXCRYPT_KIND_CERTIFICATE, certText.data(), certText.size(),
                                   TQXCRYPT_DECODE_TEXT, nullptr);
    if (rc == TQ_RTN_OK)
        rc = TQXCrypt_DecodeObject(&key, TQXCRYPT_KIND_PRIVATEKEY, keyText.data(), keyText.size(),
                                   TQXCRYPT_DECODE_TEXT, nullptr);
    if (rc == TQ_RTN_OK)
        rc = TQXCrypt_Sign(cert, key, nullptr, reinterpret_cast<const unsigned char *>(data.data()),
                           data.size(), 0, 4, &p7);
    TQXCRYPT_BLOB der{0, nullptr};
    if (rc == TQ_RTN_OK) rc = TQXCrypt_EncodeObject(p7, TQXCRYPT_KIND_PKCS7, &der, 0, nullptr);
    if (rc == TQ_RTN_OK) {
        std::FILE *f = std::fopen((dir + "/signed.p7.der").c_str(), "wb");
        if (f) {
            std::fwrite(der.data, 1, der.length, f);
            std::fclose(f);
        }
    }
    TQXCryptFreeBlob(&der);
    TQXCryptFreeHandle(p7);
    TQXCryptFreeHandle(key);
    TQXCryptFreeHandle(cert);
    if (rc != TQ_RTN_OK) {
        std::printf("signing with signer.key.pem failed: %d\n", rc);
        return 1;
    }
    std::printf("signed %zu bytes with signer.key.pem (SHA-256, certificate included) into signed.p7.der\n",
                data.size());
    std::string verify = "openssl cms -verify -binary -inform DER -in '" + dir + "/signed.p7.der' -CAfile '" +
                         fx + "/chain.pem' -out '" + dir + "/verified.txt'";
    std::printf("$ %s\n", verify.c_str());
    std::fflush(stdout);
    bool accepted = sh(verify + " 2>&1");
    Bytes back = readFile(dir + "/verified.txt");
    bool same = std::string(back.begin(), back.end()) == data;
    std::printf(accepted && same ? "openssl cms accepts the signature and gives back the content\n"
                                 : "openssl cms REFUSED the signature\n");
    return accepted && same ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    std::string dir = argc > 1 ? argv[1] : "demo-work";
    if (!sh("mkdir -p '" + dir + "'")) return 1;
    std::string q = "cd '" + dir + "' && ";
    std::printf("making objects with the openssl tool in %s\n", dir.c_str());
    bool made = sh(q +
                   "openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -subj '/CN=Demo Root' -days 30 "
                   "-outform DER -out cert.der 2>/dev/null") &&
                sh(q + "openssl req -new -key key.pem -subj '/CN=Demo Request' -outform DER -out req.der") &&
                sh(q + "openssl rsa -in key.pem -traditional -outform DER -out key.der 2>/dev/null") &&
                sh(q + "openssl rsa -in key.pem -pubout -outform DER -out pub.der 2>/dev/null") &&
                sh(q + "openssl x509 -inform DER -in cert.der -out cert.pem") &&
                sh(q + "openssl crl2pkcs7 -nocrl -certfile cert.pem -outform DER -out p7.der");
    if (!made) {
        std::printf("the openssl tool failed\n");
        return 1;
    }
    const Kind kinds[] = {
        {"certificate", TQXCRYPT_KIND_CERTIFICATE, "cert.der", "openssl x509 -inform DER -in cert.der"},
        {"certificate request", TQXCRYPT_KIND_CERTREQUEST, "req.der", "openssl req -inform DER -in req.der"},
        {"public key", TQXCRYPT_KIND_PUBLICKEY, "pub.der", "openssl pkey -pubin -inform DER -in pub.der"},
        {"PKCS#7 (certificates only)", TQXCRYPT_KIND_PKCS7, "p7.der", "openssl pkcs7 -inform DER -in p7.der"},
        {"RSA private key", TQXCRYPT_KIND_PRIVATEKEY, "key.der", nullptr},
    };
    int failures = 0;
    for (const Kind &k : kinds) {
        Bytes der = readFile(dir + "/" + k.file);
        TQXCRYPT_HANDLE *h = nullptr;
        int rc = TQXCrypt_DecodeObject(&h, k.kind, der.data(), der.size(), 0, nullptr);
        if (rc != TQ_RTN_OK) {
            std::printf("%-28s decode failed: %d\n", k.what, rc);
            ++failures;
            continue;
        }
        TQXCRYPT_BLOB out{0, nullptr};
        rc = TQXCrypt_EncodeObject(h, k.kind, &out, 0, nullptr);
        bool same =
            rc == TQ_RTN_OK && out.length == der.size() && Bytes(out.data, out.data + out.length) == der;
        TQXCryptFreeBlob(&out);
        std::string pemVerdict = "";
        if (k.pemCommand) {
            int armour = 1;
            TQXCRYPT_BLOB pem{0, nullptr};
            rc = TQXCrypt_EncodeObject(h, k.kind, &pem, TQXCRYPT_ENCODE_TEXT, &armour);
            std::string ours =
                rc == TQ_RTN_OK ? std::string(reinterpret_cast<char *>(pem.data), pem.length) : "";
            TQXCryptFreeBlob(&pem);
            std::string theirs;
            if (FILE *p = popen((q + k.pemCommand).c_str(), "r")) {
                char buf[4096];
                size_t n;
                while ((n = fread(buf, 1, sizeof buf, p)) > 0) theirs.append(buf, n);
                pclose(p);
            }
            pemVerdict = ours == theirs && !ours.empty() ? ", PEM identical to openssl's" : ", PEM DIFFERS";
            if (ours != theirs) ++failures;
        }
        std::printf("%-28s %zu bytes: DER %s%s\n", k.what, der.size(), same ? "identical" : "DIFFERS",
                    pemVerdict.c_str());
        if (!same) ++failures;
        TQXCryptFreeHandle(h);
    }
    std::printf(failures ? "demo: %d differences\n" : "demo: every object round-trips\n", failures);
    failures += signWithFixtureKey(dir);
    return failures ? 1 : 0;
}

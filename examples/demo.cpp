// The main road as far as it is built: objects made by the openssl tool are
// decoded, encoded again, and compared byte for byte with what openssl prints;
// a software fixture key signs a PKCS#7 message that openssl cms verifies;
// then the same key, imported into a SoftHSM2 token of the demo's own, signs
// through the token layer and a token key handle, and its message verifies
// and equals the software key's byte for byte.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tqxcrypt.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxp11bridge.h"

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

std::string quoted(const std::string &path) { return "'" + path + "'"; }

bool writeFile(const std::string &path, const Bytes &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

TQXCRYPT_HANDLE *decodePem(int kind, const std::string &path) {
    Bytes text = readFile(path);
    TQXCRYPT_HANDLE *h = nullptr;
    int rc = TQXCrypt_DecodeObject(&h, kind, text.data(), text.size(), TQXCRYPT_DECODE_TEXT, nullptr);
    if (rc != TQ_RTN_OK) std::printf("decoding %s failed: %d\n", path.c_str(), rc);
    return h;
}

// A PKCS#7 signed-data message (SHA-256, the signer's certificate included)
// as DER; empty when signing or encoding fails.
Bytes signedMessage(TQXCRYPT_HANDLE *cert, TQXCRYPT_HANDLE *key, const std::string &data, int flags) {
    TQXCRYPT_HANDLE *p7 = nullptr;
    int rc = TQXCrypt_Sign(cert, key, nullptr, reinterpret_cast<const unsigned char *>(data.data()),
                           data.size(), flags, TQXCRYPT_HASH_SHA256, &p7);
    TQXCRYPT_BLOB der{0, nullptr};
    if (rc == TQ_RTN_OK) rc = TQXCrypt_EncodeObject(p7, TQXCRYPT_KIND_PKCS7, &der, 0, nullptr);
    Bytes out = rc == TQ_RTN_OK ? Bytes(der.data, der.data + der.length) : Bytes();
    if (rc != TQ_RTN_OK) std::printf("signing failed: %d\n", rc);
    TQXCryptFreeBlob(&der);
    TQXCryptFreeHandle(p7);
    return out;
}

// The openssl tool verifies the message against the fixture chain and must
// give back exactly the content.
bool opensslAccepts(const std::string &dir, const std::string &fx, const std::string &message,
                    const std::string &detachedContent, const std::string &data) {
    std::string verify = "openssl cms -verify -binary -inform DER -in " + quoted(dir + "/" + message) +
                         (detachedContent.empty() ? "" : " -content " + quoted(dir + "/" + detachedContent)) +
                         " -CAfile " + quoted(fx + "/chain.pem") + " -out " + quoted(dir + "/verified.txt");
    std::remove((dir + "/verified.txt").c_str());
    std::printf("$ %s\n", verify.c_str());
    std::fflush(stdout);
    bool accepted = sh(verify + " 2>&1");
    Bytes back = readFile(dir + "/verified.txt");
    bool same = std::string(back.begin(), back.end()) == data;
    std::printf(accepted && same ? "openssl cms accepts the signature and gives back the content\n"
                                 : "openssl cms REFUSED the signature\n");
    return accepted && same;
}

std::string makePkcs7Fixtures(const std::string &dir) {
    std::string source = __FILE__;
    std::string script = source.substr(0, source.rfind('/')) + "/../tests/fixtures/sets/pkcs7.sh";
    std::string fx = dir + "/pkcs7-fixtures";
    std::printf("\nmaking the PKCS#7 fixtures in %s\n", fx.c_str());
    if (!sh("rm -rf " + quoted(fx) + " && mkdir -p " + quoted(fx) + " && cd " + quoted(fx) +
            " && bash -euo pipefail " + quoted(script)))
        return "";
    return fx;
}

// The signing road: a software key from the PKCS#7 fixture set signs a
// message through its key handle, and the openssl tool verifies it.
int signWithFixtureKey(const std::string &dir, const std::string &fx) {
    const std::string data = "Signed through a key handle by tokencrypt.\n";
    TQXCRYPT_HANDLE *cert = decodePem(TQXCRYPT_KIND_CERTIFICATE, fx + "/signer.pem");
    TQXCRYPT_HANDLE *key = decodePem(TQXCRYPT_KIND_PRIVATEKEY, fx + "/signer.key.pem");
    Bytes der = cert && key ? signedMessage(cert, key, data, 0) : Bytes();
    TQXCryptFreeHandle(key);
    TQXCryptFreeHandle(cert);
    if (der.empty() || !writeFile(dir + "/signed.p7.der", der)) return 1;
    std::printf("signed %zu bytes with signer.key.pem (SHA-256, certificate included) into signed.p7.der\n",
                data.size());
    return opensslAccepts(dir, fx, "signed.p7.der", "", data) ? 0 : 1;
}

const char *const kTokenLabel = "tq-demo";
const char *const kSoPin = "87654321";
const char *const kUserPin = "123456";

// A SoftHSM2 token of the demo's own, its configuration and objects under
// the work dir, holding the fixture signer's key; false when a tool fails.
bool makeToken(const std::string &dir, const std::string &fx) {
    std::string home = dir + "/softhsm";
    std::string config = home + "/softhsm2.conf";
    std::printf("\nmaking a SoftHSM2 token in %s\n", home.c_str());
    // Last run's token would carry the same label.
    if (!sh("rm -rf " + quoted(home) + " && mkdir -p " + quoted(home + "/tokens"))) return false;
    std::ofstream(config) << "directories.tokendir = " << home << "/tokens\n"
                          << "objectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n";
    // The module in this process and the tool both read it.
    setenv("SOFTHSM2_CONF", config.c_str(), 1);
    std::string util = TQ_SOFTHSM_UTIL;
    if (!sh(util + " --init-token --free --label " + kTokenLabel + " --so-pin " + kSoPin + " --pin " +
            kUserPin + " >/dev/null")) {
        std::printf("softhsm2-util could not initialise the token\n");
        return false;
    }
    std::printf("initialised token %s (user PIN %s)\n", kTokenLabel, kUserPin);
    std::string pkcs8 = home + "/signer.p8.pem";
    if (!sh("openssl pkcs8 -topk8 -nocrypt -in " + quoted(fx + "/signer.key.pem") + " -out " +
            quoted(pkcs8)) ||
        !sh(util + " --import " + quoted(pkcs8) + " --token " + kTokenLabel +
            " --label signer --id 01 --pin " + kUserPin + " >/dev/null")) {
        std::printf("softhsm2-util could not import signer.key.pem\n");
        return false;
    }
    std::remove(pkcs8.c_str());
    std::printf("imported signer.key.pem as the token's private key \"signer\"\n");
    return true;
}

// Prints what a token-layer call did, or why it failed.
bool p11Step(int rc, const char *call, const char *done = nullptr) {
    if (rc != TQP11_RTN_OK)
        std::printf("%s failed: %s\n", call, TQXP11_ErrorMessage(rc));
    else if (done)
        std::printf("%s\n", done);
    return rc == TQP11_RTN_OK;
}

std::string tokenLabelOf(const CK_TOKEN_INFO &info) {
    std::string label(reinterpret_cast<const char *>(info.label), sizeof info.label);
    label.erase(label.find_last_not_of(' ') + 1);
    return label;
}

// The main road on a real token: the key never leaves SoftHSM2, the crypto
// core signs through its key handle, and the message is the software key's.
int signOnToken(const std::string &dir, const std::string &fx) {
    if (!makeToken(dir, fx)) return 1;
    TQXP11_CONTEXT context{};
    if (!p11Step(TQXP11_Init(&context, TQ_SOFTHSM_MODULE), "TQXP11_Init")) return 1;
    std::printf("TQXP11_Init loaded %s: %lu slots\n", TQ_SOFTHSM_MODULE,
                static_cast<unsigned long>(context.slotCount));
    bool found = false;
    for (CK_ULONG i = 0; i < context.slotCount && !found; ++i) {
        CK_TOKEN_INFO info;
        found = p11Step(TQXP11_SetCurrentSlot(&context, i), "TQXP11_SetCurrentSlot") &&
                p11Step(TQXP11_GetTokenInfo(&context, &info), "TQXP11_GetTokenInfo") &&
                tokenLabelOf(info) == kTokenLabel;
        if (found)
            std::printf("token %s is in slot %lu (index %lu)\n", kTokenLabel,
                        static_cast<unsigned long>(context.slotList[i]), static_cast<unsigned long>(i));
    }
    int failures = found ? 0 : 1;
    if (!found) std::printf("no slot holds token %s\n", kTokenLabel);

    TQXP11_SESSION session{};
    bool open = found && p11Step(TQXP11_SessionOpen(&context, &session), "TQXP11_SessionOpen",
                                 "TQXP11_SessionOpen opened a session");
    bool loggedIn =
        open && p11Step(TQXP11_Login(&session, kUserPin), "TQXP11_Login", "TQXP11_Login logged the user in");
    if (open && !loggedIn) ++failures;

    TQXCRYPT_HANDLE *tokenKey = nullptr;
    if (loggedIn) {
        int rc = TQXP11Crypt_GetPrivateKey(&session, "signer", 0, &tokenKey);
        if (rc == TQ_RTN_OK)
            std::printf("TQXP11Crypt_GetPrivateKey: \"signer\" is a %d-bit RSA key handle on the token\n",
                        8 * TQXCrypt_KeySize(tokenKey));
        else {
            std::printf("TQXP11Crypt_GetPrivateKey found no usable \"signer\": code %d\n", rc);
            ++failures;
        }
    }
    if (tokenKey) {
        const std::string data = "Signed on a SoftHSM2 token by tokencrypt.\n";
        TQXCRYPT_HANDLE *cert = decodePem(TQXCRYPT_KIND_CERTIFICATE, fx + "/signer.pem");
        TQXCRYPT_HANDLE *software = decodePem(TQXCRYPT_KIND_PRIVATEKEY, fx + "/signer.key.pem");
        // The signing time is signed too, to the second: both messages must
        // fall into the same second to be comparable byte for byte.
        Bytes fromToken, fromSoftware;
        for (int attempt = 0; cert && software && attempt < 3; ++attempt) {
            fromToken = signedMessage(cert, tokenKey, data, TQXCRYPT_DETACHED);
            fromSoftware = signedMessage(cert, software, data, TQXCRYPT_DETACHED);
            if (fromToken.empty() || fromToken == fromSoftware) break;
        }
        TQXCryptFreeHandle(software);
        TQXCryptFreeHandle(cert);
        bool written = !fromToken.empty() && writeFile(dir + "/token-signed.p7.der", fromToken) &&
                       writeFile(dir + "/token-content.txt", Bytes(data.begin(), data.end()));
        if (written) {
            std::printf("TQXCrypt_Sign with the token key: %zu bytes, detached, into token-signed.p7.der\n",
                        fromToken.size());
            if (!opensslAccepts(dir, fx, "token-signed.p7.der", "token-content.txt", data)) ++failures;
            bool same = fromToken == fromSoftware;
            std::printf(
                same ? "the token's message equals signer.key.pem's, byte for byte (signature included)\n"
                     : "the token's message DIFFERS from signer.key.pem's\n");
            if (!same) ++failures;
        } else {
            ++failures;
        }
    }
    if (tokenKey) std::printf("released the token key handle (the key stays on the token)\n");
    TQXCryptFreeHandle(tokenKey);
    if (loggedIn) failures += !p11Step(TQXP11_Logout(&session), "TQXP11_Logout", "TQXP11_Logout logged out");
    if (open)
        failures += !p11Step(TQXP11_SessionClose(&session), "TQXP11_SessionClose",
                             "TQXP11_SessionClose closed the session");
    failures += !p11Step(TQXP11_Final(&context), "TQXP11_Final", "TQXP11_Final released the module");
    return failures ? 1 : 0;
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
    std::string fx = makePkcs7Fixtures(dir);
    if (fx.empty()) return 1;
    failures += signWithFixtureKey(dir, fx);
    failures += signOnToken(dir, fx);
    return failures ? 1 : 0;
}

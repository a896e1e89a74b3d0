#include "testutil.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

#include <openssl/err.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>

#include "tqxcrypt_store.h"

namespace tqtest {

std::string fixtureDir() {
    const char *env = std::getenv("TQ_FIXTURES");
    return env && *env ? env : TQ_FIXTURE_DIR;
}

std::string fixture(const std::string &name) { return fixtureDir() + "/" + name; }

Bytes readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string readText(const std::string &path) {
    Bytes b = readFile(path);
    return std::string(b.begin(), b.end());
}

void writeFile(const std::string &path, const void *data, size_t length) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path);
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(length));
}

std::string run(const std::string &command, int *status) {
    std::string output;
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + command);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    int rc = pclose(pipe);
    int exitStatus = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    if (status) *status = exitStatus;
    return output;
}

std::string sh(const std::string &command, int expectedStatus) {
    char errors[] = "/tmp/tqtest-errors.XXXXXX";
    int fd = mkstemp(errors);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    int status = -1;
    std::string out = run("(" + command + ") 2>'" + errors + "'", &status);
    if (status != expectedStatus) {
        ADD_FAILURE() << command << "\nexit status " << status << ", expected " << expectedStatus << "\n"
                      << out << readText(errors);
    }
    unlink(errors);
    return out;
}

Bytes shBytes(const std::string &command) {
    std::string out = sh(command);
    return Bytes(out.begin(), out.end());
}

void expectCodes(const CodeCase *begin, const CodeCase *end) {
    for (const CodeCase *c = begin; c != end; ++c) EXPECT_EQ(c->rc, c->expected) << c->what;
}

const Selector kSelectors[7] = {{0, "sha1"},   {1, "md5"},    {2, "sha1"},  {3, "sha224"},
                                {4, "sha256"}, {5, "sha384"}, {6, "sha512"}};

Bytes randomBytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes b(n);
    for (auto &c : b) c = static_cast<unsigned char>(gen());
    return b;
}

std::string toHex(const Bytes &b) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (unsigned char c : b) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

Bytes oidDer(const char *dotted) {
    ASN1_OBJECT *oid = OBJ_txt2obj(dotted, 1);
    EXPECT_NE(oid, nullptr) << dotted;
    Bytes der = derBytes(static_cast<const ASN1_OBJECT *>(oid), i2d_ASN1_OBJECT);
    ASN1_OBJECT_free(oid);
    return der;
}

X509 *pemCertificate(const std::string &path) {
    BIO *bio = BIO_new_file(path.c_str(), "r");
    X509 *x = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    return x;
}

EVP_PKEY *pemPrivateKey(const std::string &path) {
    BIO *bio = BIO_new_file(path.c_str(), "r");
    EVP_PKEY *key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(bio);
    return key;
}

Bytes keyNumber(const EVP_PKEY *key, const char *name) {
    BIGNUM *bn = nullptr;
    EXPECT_EQ(EVP_PKEY_get_bn_param(key, name, &bn), 1) << name;
    Bytes out(static_cast<size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    BN_clear_free(bn);
    return out;
}

Bytes hexBytes(const std::string &text) {
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    if (digits.size() % 2) digits.insert(digits.begin(), '0');
    Bytes out;
    for (size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/tqtest.XXXXXX";
    char *p = mkdtemp(pattern);
    if (!p) throw std::runtime_error("mkdtemp failed");
    path_ = p;
}

TempDir::~TempDir() {
    std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) {
        // nothing more to do in a destructor
    }
}

TQXCRYPT_HANDLE *emptyHandle(int kind, const TQXCRYPT_ASN1_METHOD *method) {
    TQXCRYPT_HANDLE *h = nullptr;
    EXPECT_EQ(tqxCryptCreateHandle(&h, kind, nullptr, method, nullptr), TQ_RTN_OK);
    return h;
}

namespace {

constexpr int kHostReasons[] = {101, 102, 103};

// The newest entry is the host's entry i, with its text.
void expectNewestHostEntry(int i, const std::string &what) {
    const char *data = nullptr;
    int flags = 0;
    const unsigned long e = ERR_peek_last_error_data(&data, &flags);
    const std::string text = "host entry " + std::to_string(i);
    EXPECT_EQ(ERR_GET_LIB(e), ERR_LIB_USER) << what << ": entry " << i;
    EXPECT_EQ(ERR_GET_REASON(e), kHostReasons[i]) << what << ": entry " << i;
    EXPECT_STREQ((flags & ERR_TXT_STRING) && data ? data : "", text.c_str()) << what;
}

}  // namespace

const char *nameOf(HostQueue queue) { return queue == HostQueue::Empty ? "empty queue" : "marked queue"; }

void pushHostQueue(HostQueue queue) {
    ERR_clear_error();
    if (queue == HostQueue::Empty) return;
    for (int i = 0; i < 3; ++i) {
        ERR_raise_data(ERR_LIB_USER, kHostReasons[i], "host entry %d", i);
        ERR_set_mark();
    }
}

void expectHostQueue(HostQueue queue, const std::string &what) {
    const std::string where = what + " (" + nameOf(queue) + ")";
    if (queue == HostQueue::Marked) {
        // Popping to a mark stops at the newest marked entry: first the mark
        // on the newest goes, then each entry down to the mark before it.
        expectNewestHostEntry(2, where);
        EXPECT_EQ(ERR_pop_to_mark(), 1) << where << ": the host's mark on its newest entry is gone";
        for (int i = 2; i > 0; --i) {
            expectNewestHostEntry(i, where);
            EXPECT_EQ(ERR_pop_to_mark(), 1) << where << ": a mark of the host's is gone";
        }
        expectNewestHostEntry(0, where);
        EXPECT_EQ(ERR_GET_REASON(ERR_get_error()), kHostReasons[0]) << where;
    }
    EXPECT_EQ(ERR_peek_error(), 0u) << where << ": entries that are not the host's";
    ERR_clear_error();
}

Bytes encoded(TQXCRYPT_HANDLE *handle, int kind) {
    BlobOwner out;
    EXPECT_EQ(TQXCrypt_EncodeObject(handle, kind, &out, 0, nullptr), TQ_RTN_OK)
        << "encoding as kind " << kind;
    return out.bytes();
}

namespace {

TQXCRYPT_HANDLE *decodeBytes(int kind, const Bytes &data, int flags, const char *password,
                             const std::string &what) {
    TQXCRYPT_HANDLE *h = nullptr;
    int rc = TQXCrypt_DecodeObject(&h, kind, data.data(), data.size(), flags, password);
    EXPECT_EQ(rc, 0) << "decoding " << what;
    return h;
}

bool endsWith(const std::string &s, const char *tail) {
    const size_t n = std::char_traits<char>::length(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

TQXCRYPT_HANDLE *decoded(int kind, const Bytes &der) {
    return decodeBytes(kind, der, 0, nullptr, "DER of kind " + std::to_string(kind));
}

TQXCRYPT_HANDLE *storeOfTexts(const std::string &certificates, const char *crls) {
    TQXCRYPT_HANDLE *store = nullptr;
    EXPECT_EQ(TQXCrypt_LoadStore(&store, certificates.c_str(), crls), TQ_RTN_OK) << "loading a store";
    return store;
}

TQXCRYPT_HANDLE *decodeFixture(int kind, const std::string &name, int flags, const char *password) {
    return decodeBytes(kind, readFile(fixture(name)), flags, password, "fixture " + name);
}

TQXCRYPT_HANDLE *decodeFile(int kind, const std::string &path) {
    return decodeBytes(kind, readFile(path), endsWith(path, ".der") ? 0 : TQXCRYPT_DECODE_TEXT, nullptr,
                       path);
}

std::string FixtureSet::path(const std::string &name) const {
    return name.rfind('/', 0) == 0 ? name : fixture(std::string(folder_) + "/" + name);
}

TQXCRYPT_HANDLE *FixtureSet::certificate(const std::string &name) const {
    return decodeFile(TQXCRYPT_KIND_CERTIFICATE, path(name));
}
TQXCRYPT_HANDLE *FixtureSet::privateKey(const std::string &name) const {
    return decodeFile(TQXCRYPT_KIND_PRIVATEKEY, path(name));
}
TQXCRYPT_HANDLE *FixtureSet::publicKey(const std::string &name) const {
    return decodeFile(TQXCRYPT_KIND_PUBLICKEY, path(name));
}
TQXCRYPT_HANDLE *FixtureSet::crl(const std::string &name) const {
    return decodeFile(TQXCRYPT_KIND_CRL, path(name));
}

}  // namespace tqtest

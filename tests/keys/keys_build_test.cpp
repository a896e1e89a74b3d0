// Key components, generation, keys from numbers and key-pair checks,
// against the openssl tool.
#include <gtest/gtest.h>

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <climits>
#include <map>
#include <sstream>

#include "keys_testutil.h"

using namespace keystest;
using tqtest::BlobOwner;
using tqtest::HandleOwner;

namespace {

// The numbers of `openssl rsa -text`, by their names there.
std::map<std::string, Bytes> rsaText(const std::string &command) {
    std::map<std::string, Bytes> numbers;
    std::istringstream in(sh(command));
    std::string line, name, hex;
    auto flush = [&] {
        if (!name.empty() && !hex.empty()) numbers[name] = hexNumber(hex);
        hex.clear();
    };
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        if (line[0] == ' ') {
            hex += line;
            continue;
        }
        flush();
        name = line.substr(0, line.find(':'));
        size_t open = line.find("(0x");
        if (open != std::string::npos) hex = line.substr(open + 3, line.find(')') - open - 3);
    }
    flush();
    return numbers;
}

using Getter = int (*)(TQXCRYPT_HANDLE *, TQXCRYPT_BLOB *);
struct Component {
    const char *name;  // as openssl rsa -text prints it
    Getter get;
};
const Component kComponents[] = {
    {"modulus", TQXCrypt_KeyModulus},   {"publicExponent", TQXCrypt_KeyExponent},
    {"privateExponent", TQXCrypt_KeyD}, {"prime1", TQXCrypt_KeyP},
    {"prime2", TQXCrypt_KeyQ},          {"exponent1", TQXCrypt_KeyDMP1},
    {"exponent2", TQXCrypt_KeyDMQ1},    {"coefficient", TQXCrypt_KeyIQMP},
};

Bytes component(Getter get, TQXCRYPT_HANDLE *key) {
    BlobOwner out;
    EXPECT_EQ(get(key, &out), 0);
    return out.bytes();
}

using BnPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
BnPtr bn(const Bytes &b) { return BnPtr(BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr), BN_free); }

// A handle over an OpenSSL key made outside the handle constructors.
TQXCRYPT_HANDLE *privateHandle(EVP_PKEY *pkey) {
    TQXCRYPT_HANDLE *h = nullptr;
    EXPECT_EQ(tqxCryptCreateHandle(&h, TQXCRYPT_KIND_PRIVATEKEY, pkey, tqxCryptASN1PrivateKeyMethod(),
                                   const_cast<TQXCRYPT_KEY_METHOD *>(tqxCryptRSAPriMethod())),
              0);
    return h;
}

bool opensslVerifies(TQXCRYPT_HANDLE *key, const std::string &pubFile, tqtest::TempDir &dir) {
    const Bytes data = tqtest::randomBytes(300, 4);
    BlobOwner sig;
    EXPECT_EQ(TQXCrypt_PureSign(key, data.data(), data.size(), TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA,
                                &sig),
              0);
    tqtest::writeFile(dir.file("data"), data);
    tqtest::writeFile(dir.file("sig"), sig.bytes());
    return sh("openssl dgst -sha256 -verify " + pubFile + " -signature " + dir.file("sig") + " " +
              dir.file("data"))
               .find("Verified OK") != std::string::npos;
}

}  // namespace

TEST(KeysBuild, ComponentsAgreeWithOpensslRsaText) {
    HandleOwner key(privateKey("user.key.pem"));
    HandleOwner pub(publicKey("user.pub.pem"));
    auto theirs = rsaText("openssl rsa -noout -text -in " + fx("user.key.pem"));
    ASSERT_EQ(theirs.size(), 8u);
    for (const Component &c : kComponents) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(component(c.get, key.get()), theirs.at(c.name));
    }
    std::string modulus = sh("openssl rsa -noout -modulus -in " + fx("user.key.pem"));
    modulus = modulus.substr(modulus.find('=') + 1);
    EXPECT_EQ(component(TQXCrypt_PublicKeyGetModulus, key.get()), hexNumber(modulus));
    EXPECT_EQ(component(TQXCrypt_KeyModulus, pub.get()), hexNumber(modulus));
    EXPECT_EQ(component(TQXCrypt_KeyExponent, pub.get()), Bytes({1, 0, 1}));
    EXPECT_EQ(TQXCrypt_KeySize(key.get()), 256);
    EXPECT_EQ(TQXCrypt_KeyType(pub.get()), EVP_PKEY_RSA);
    EXPECT_EQ(TQXCrypt_KeyFlags(), -1);
}

TEST(KeysBuild, ComponentEdgeCases) {
    HandleOwner pub(publicKey("user.pub.pem"));
    HandleOwner ec(tqtest::decodeFixture(TQXCRYPT_KIND_PRIVATEKEY, "keys/ec.key.der"));
    // A public key holds no private numbers.
    for (const Component &c : kComponents) {
        if (c.get == TQXCrypt_KeyModulus || c.get == TQXCrypt_KeyExponent) continue;
        BlobOwner out;
        EXPECT_EQ(c.get(pub.get(), &out), TQ_RTN_NOT_PRESENT) << c.name;
        EXPECT_EQ(out.b.data, nullptr);
        EXPECT_EQ(c.get(ec.get(), &out), TQ_RTN_INVALID_KEY) << c.name;
        EXPECT_EQ(c.get(nullptr, &out), TQ_RTN_BAD_ARGUMENT) << c.name;
        EXPECT_EQ(c.get(pub.get(), nullptr), TQ_RTN_BAD_ARGUMENT) << c.name;
    }
    // Too small a caller buffer: TQ_RTN_BUFFER_TOO_SMALL with the length left as it was.
    unsigned char small[255];
    TQXCRYPT_BLOB caller{sizeof small, small};
    EXPECT_EQ(TQXCrypt_KeyModulus(pub.get(), &caller), TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(caller.length, 255u);
    unsigned char fits[300];
    caller = {sizeof fits, fits};
    EXPECT_EQ(TQXCrypt_KeyModulus(pub.get(), &caller), 0);
    EXPECT_EQ(caller.length, 256u);
}

// Handles whose object is no key: the accessors refuse them instead of
// reading a certificate or a PKCS#12 as a key.
TEST(KeysBuild, AccessorsRefuseHandlesThatHoldNoKey) {
    HandleOwner cert(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "keys/cert.sha256.der"));
    HandleOwner p12(unpackedPkcs12());
    for (TQXCRYPT_HANDLE *h : {cert.get(), p12.get()}) {
        SCOPED_TRACE(h->kind);
        EXPECT_EQ(TQXCrypt_KeySize(h), 0);
        EXPECT_EQ(TQXCrypt_KeyType(h), 0);
        for (const Component &c : kComponents) {
            BlobOwner out;
            EXPECT_EQ(c.get(h, &out), TQ_RTN_WRONG_HANDLE) << c.name;
            EXPECT_EQ(out.b.data, nullptr);
        }
        BlobOwner out;
        EXPECT_EQ(TQXCrypt_PublicKeyGetModulus(h, &out), TQ_RTN_WRONG_HANDLE);
    }
}

TEST(KeysBuild, GeneratedKeyPassesOpensslCheck) {
    tqtest::TempDir dir;
    HandleOwner key;
    ASSERT_EQ(TQXCrypt_GenerateKeyPair(2048, 0, key.out()), 0);
    EXPECT_EQ(key.get()->kind, TQXCRYPT_KIND_PRIVATEKEY);
    EXPECT_EQ(TQXCrypt_KeySize(key.get()), 256);
    EXPECT_EQ(component(TQXCrypt_KeyExponent, key.get()), Bytes({1, 0, 1}));
    tqtest::writeFile(dir.file("key.der"), encoded(key.get(), TQXCRYPT_KIND_PRIVATEKEY));
    EXPECT_NE(sh("openssl rsa -check -noout -inform DER -in " + dir.file("key.der")).find("RSA key ok"),
              std::string::npos);
    sh("openssl rsa -inform DER -in " + dir.file("key.der") + " -pubout -out " + dir.file("pub.pem") +
       " 2>/dev/null");
    EXPECT_TRUE(opensslVerifies(key.get(), dir.file("pub.pem"), dir));

    HandleOwner small;
    for (int bits : {256, -1, 16385, INT_MAX}) {
        EXPECT_EQ(TQXCrypt_GenerateKeyPair(bits, 0, small.out()), TQ_RTN_KEY_BUILD_FAILED) << bits;
        EXPECT_EQ(small.get(), nullptr);
    }
    EXPECT_EQ(TQXCrypt_GenerateKeyPair(2048, 0, nullptr), TQ_RTN_BAD_ARGUMENT);
}

TEST(KeysBuild, PublicKeyFromNumbersAndFromPrivateKey) {
    HandleOwner key(privateKey("user.key.pem"));
    const Bytes n = component(TQXCrypt_KeyModulus, key.get());
    const Bytes e = component(TQXCrypt_KeyExponent, key.get());
    const Bytes spki = tqtest::readFile(fx("user.pub.der"));

    HandleOwner made;
    ASSERT_EQ(TQXCrypt_CreateRSAPublicKey(n.data(), n.size(), e.data(), e.size(), 0, made.out()), 0);
    EXPECT_EQ(made.get()->kind, TQXCRYPT_KIND_PUBLICKEY);
    EXPECT_EQ(TQXCrypt_CheckKeyPair(key.get(), made.get()), 0);
    EXPECT_EQ(encoded(made.get(), TQXCRYPT_KIND_PUBLICKEY), spki);

    HandleOwner derived;
    ASSERT_EQ(TQXCrypt_GetPublicKey(key.get(), derived.out()), 0);
    EXPECT_EQ(encoded(derived.get(), TQXCRYPT_KIND_PUBLICKEY), spki);
    // It verifies what the private key signs.
    const Bytes data = tqtest::randomBytes(64, 8);
    BlobOwner sig;
    ASSERT_EQ(TQXCrypt_PureSign(key.get(), data.data(), data.size(), 4 | TQXCRYPT_PURE_HASH_DATA, &sig), 0);
    EXPECT_EQ(TQXCrypt_PureVerify(derived.get(), sig.b.data, sig.b.length, data.data(), data.size(),
                                  4 | TQXCRYPT_PURE_HASH_DATA),
              0);

    HandleOwner none;
    EXPECT_EQ(TQXCrypt_GetPublicKey(derived.get(), none.out()), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_GetPublicKey(nullptr, none.out()), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_GetPublicKey(key.get(), nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_CreateRSAPublicKey(nullptr, 10, e.data(), e.size(), 0, none.out()),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_CreateRSAPublicKey(n.data(), n.size(), nullptr, 3, 0, none.out()),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_CreateRSAPublicKey(n.data(), uint64_t(INT_MAX) + 1, e.data(), e.size(), 0, none.out()),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_CreateRSAPublicKey(n.data(), n.size(), e.data(), e.size(), 0, nullptr),
              TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(none.get(), nullptr);
}

// OpenSSL computes d modulo lambda(n): compare what the key does, not d's bytes.
TEST(KeysBuild, PrivateKeyFromPrimes) {
    tqtest::TempDir dir;
    HandleOwner original(privateKey("user.key.pem"));
    const Bytes p = component(TQXCrypt_KeyP, original.get());
    const Bytes q = component(TQXCrypt_KeyQ, original.get());
    const Bytes e = component(TQXCrypt_KeyExponent, original.get());
    const Bytes &larger = BN_cmp(bn(p).get(), bn(q).get()) > 0 ? p : q;
    Bytes firstD;
    for (bool swapped : {false, true}) {
        SCOPED_TRACE(swapped ? "q, p" : "p, q");
        const Bytes &a = swapped ? q : p;
        const Bytes &b = swapped ? p : q;
        EVP_PKEY *pkey = nullptr;
        ASSERT_EQ(tqxCrypt_CreateRSAPrivateKey(a.data(), a.size(), b.data(), b.size(), e.data(), e.size(), 0,
                                               &pkey),
                  0);
        HandleOwner key(privateHandle(pkey));
        EXPECT_EQ(TQXCrypt_CheckKeyPair(key.get(), original.get()), 0);
        EXPECT_EQ(component(TQXCrypt_KeyP, key.get()), larger);
        const Bytes d = component(TQXCrypt_KeyD, key.get());
        if (firstD.empty()) firstD = d;
        EXPECT_EQ(d, firstD);
        // d * e = 1 modulo lcm(p-1, q-1)
        BN_CTX *ctx = BN_CTX_new();
        BnPtr p1 = bn(p), q1 = bn(q), g(BN_new(), BN_free), l(BN_new(), BN_free), de(BN_new(), BN_free);
        BN_sub_word(p1.get(), 1);
        BN_sub_word(q1.get(), 1);
        BN_gcd(g.get(), p1.get(), q1.get(), ctx);
        BN_mul(l.get(), p1.get(), q1.get(), ctx);
        BN_div(l.get(), nullptr, l.get(), g.get(), ctx);
        BN_mod_mul(de.get(), bn(d).get(), bn(e).get(), l.get(), ctx);
        EXPECT_TRUE(BN_is_one(de.get()));
        BN_CTX_free(ctx);
        EXPECT_TRUE(opensslVerifies(key.get(), fx("user.pub.pem"), dir));
        tqtest::writeFile(dir.file("key.der"), encoded(key.get(), TQXCRYPT_KIND_PRIVATEKEY));
        EXPECT_NE(sh("openssl rsa -check -noout -inform DER -in " + dir.file("key.der")).find("RSA key ok"),
                  std::string::npos);
    }
}

TEST(KeysBuild, PrivateKeyFromPrimesRefusals) {
    HandleOwner original(privateKey("user.key.pem"));
    const Bytes p = component(TQXCrypt_KeyP, original.get());
    const Bytes q = component(TQXCrypt_KeyQ, original.get());
    const Bytes e = {1, 0, 1};
    // Primes with 65537 dividing p - 1: e has no inverse.
    BnPtr add(BN_new(), BN_free), rem(BN_new(), BN_free), prime(BN_new(), BN_free);
    BN_set_word(add.get(), 65537);
    BN_set_word(rem.get(), 1);
    ASSERT_EQ(BN_generate_prime_ex(prime.get(), 512, 0, add.get(), rem.get(), nullptr), 1);
    Bytes bad(static_cast<size_t>(BN_num_bytes(prime.get())));
    BN_bn2bin(prime.get(), bad.data());

    EVP_PKEY *pkey = nullptr;
    const CodeCase cases[] = {
        {"65537 divides p - 1",
         tqxCrypt_CreateRSAPrivateKey(bad.data(), bad.size(), q.data(), q.size(), e.data(), 3, 0, &pkey),
         TQ_RTN_KEY_BUILD_FAILED},
        {"null exponent with a length",
         tqxCrypt_CreateRSAPrivateKey(p.data(), p.size(), q.data(), q.size(), nullptr, 3, 0, &pkey),
         TQ_RTN_KEY_BUILD_FAILED},
        {"empty exponent",
         tqxCrypt_CreateRSAPrivateKey(p.data(), p.size(), q.data(), q.size(), e.data(), 0, 0, &pkey),
         TQ_RTN_KEY_BUILD_FAILED},
        {"p equal to q",
         tqxCrypt_CreateRSAPrivateKey(p.data(), p.size(), p.data(), p.size(), e.data(), 3, 0, &pkey),
         TQ_RTN_KEY_BUILD_FAILED},
        {"null prime", tqxCrypt_CreateRSAPrivateKey(nullptr, 10, q.data(), q.size(), e.data(), 3, 0, &pkey),
         TQ_RTN_BAD_ARGUMENT},
        {"prime length above INT_MAX",
         tqxCrypt_CreateRSAPrivateKey(p.data(), uint64_t(INT_MAX) + 1, q.data(), q.size(), e.data(), 3, 0,
                                      &pkey),
         TQ_RTN_BAD_ARGUMENT},
        {"exponent length 2^32 + 3",
         tqxCrypt_CreateRSAPrivateKey(p.data(), p.size(), q.data(), q.size(), e.data(), (1ull << 32) + 3, 0,
                                      &pkey),
         TQ_RTN_BAD_ARGUMENT},
    };
    expectCodes(cases);
    EXPECT_EQ(pkey, nullptr);
}

TEST(KeysBuild, CheckKeyPair) {
    HandleOwner key(privateKey("user.key.pem")), pub(publicKey("user.pub.pem"));
    HandleOwner other(privateKey("other.key.pem")), otherPub(publicKey("other.pub.pem"));
    HandleOwner ec(tqtest::decodeFixture(TQXCRYPT_KIND_PRIVATEKEY, "keys/ec.key.der"));
    HandleOwner ec2(tqtest::decodeFixture(TQXCRYPT_KIND_PRIVATEKEY, "keys/ec.key.der"));
    HandleOwner cert(tqtest::decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "keys/cert.sha256.der"));
    struct Case {
        const char *what;
        TQXCRYPT_HANDLE *a, *b;
        int expected;
    } cases[] = {
        {"private and its public", key.get(), pub.get(), 0},
        {"public and its private", pub.get(), key.get(), 0},
        {"the same private twice", key.get(), key.get(), 0},
        {"another key", key.get(), other.get(), TQ_RTN_KEY_MISMATCH},
        {"another public key", pub.get(), otherPub.get(), TQ_RTN_KEY_MISMATCH},
        {"RSA and EC", key.get(), ec.get(), TQ_RTN_KEY_MISMATCH},
        {"two keys that are not RSA", ec.get(), ec2.get(), TQ_RTN_FAILED},
        {"certificate handle", key.get(), cert.get(), TQ_RTN_WRONG_HANDLE},
        {"null first", nullptr, key.get(), TQ_RTN_BAD_ARGUMENT},
        {"null second", key.get(), nullptr, TQ_RTN_BAD_ARGUMENT},
    };
    for (const Case &c : cases) EXPECT_EQ(TQXCrypt_CheckKeyPair(c.a, c.b), c.expected) << c.what;
}

#include "containers_testutil.h"

#include <gtest/gtest.h>

#include <openssl/core_names.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdio>

#include "der_element.h"

namespace containertest {

namespace der {

Bytes tlv(unsigned identifier, const Bytes &content) { return derelement::tlv(identifier, content); }

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes seq(std::initializer_list<Bytes> parts) { return tlv(0x30, cat(parts)); }

Bytes oid(const char *dotted) { return tqtest::oidDer(dotted); }

Bytes text(unsigned identifier, const std::string &s) { return tlv(identifier, Bytes(s.begin(), s.end())); }

Bytes integer(const Bytes &magnitude) {
    Bytes content = magnitude;
    if (content.empty() || (content[0] & 0x80)) content.insert(content.begin(), 0);
    return tlv(0x02, content);
}

}  // namespace der

using namespace der;

namespace {

Bytes attributes(bool localKeyId) {
    if (!localKeyId) return {};
    return tlv(0x31, seq({oid("1.2.840.113549.1.9.21"), tlv(0x31, tlv(0x04, Bytes{1, 2, 3, 4}))}));
}

Bytes bag(const char *type, const Bytes &value, bool localKeyId) {
    return seq({oid(type), tlv(0xA0, value), attributes(localKeyId)});
}

Bytes withMac(const Bytes &unsignedPfx, const char *password) {
    const unsigned char *p = unsignedPfx.data();
    PKCS12 *p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(unsignedPfx.size()));
    EXPECT_NE(p12, nullptr);
    if (!p12) return {};
    EXPECT_EQ(PKCS12_set_mac(p12, password, -1, nullptr, 0, 2048, EVP_sha1()), 1);
    Bytes out = tqtest::derBytes<PKCS12>(p12, i2d_PKCS12);
    PKCS12_free(p12);
    return out;
}

}  // namespace

Bytes keyBag(const Bytes &keyInfo, bool localKeyId) {
    return bag("1.2.840.113549.1.12.10.1.1", keyInfo, localKeyId);
}
Bytes shroudedKeyBag(const Bytes &encryptedKeyInfo, bool localKeyId) {
    return bag("1.2.840.113549.1.12.10.1.2", encryptedKeyInfo, localKeyId);
}
Bytes certBag(const Bytes &cert, bool localKeyId, const char *certType) {
    const unsigned identifier = std::string(certType) == "1.2.840.113549.1.9.22.2" ? 0x16 : 0x04;
    return bag("1.2.840.113549.1.12.10.1.3", seq({oid(certType), tlv(0xA0, tlv(identifier, cert))}),
               localKeyId);
}
Bytes safeContentsBag(const std::vector<Bytes> &bags) {
    Bytes all;
    for (const Bytes &b : bags) all.insert(all.end(), b.begin(), b.end());
    return bag("1.2.840.113549.1.12.10.1.6", tlv(0x30, all), false);
}
Bytes secretBag() {
    return bag("1.2.840.113549.1.12.10.1.5",
               seq({oid("1.2.840.113549.1.7.1"), tlv(0xA0, tlv(0x04, Bytes(8, 7)))}), false);
}

Bytes dataContentInfo(const Bytes &content) {
    return seq({oid("1.2.840.113549.1.7.1"), tlv(0xA0, tlv(0x04, content))});
}

Bytes pfxOverAuthSafe(const Bytes &authSafe, const char *password) {
    return withMac(seq({integer(Bytes{3}), dataContentInfo(authSafe)}), password);
}

Bytes pfx(const std::vector<std::vector<Bytes>> &safes, const char *password) {
    Bytes infos;
    for (const auto &bags : safes) {
        Bytes contents;
        for (const Bytes &b : bags) contents.insert(contents.end(), b.begin(), b.end());
        Bytes info = dataContentInfo(tlv(0x30, contents));
        infos.insert(infos.end(), info.begin(), info.end());
    }
    return pfxOverAuthSafe(tlv(0x30, infos), password);
}

Bytes nbCertRecord(const Bytes &certElement, bool optional) {
    Bytes inner =
        seq({seq({oid("1.2.840.113549.1.1.11")}), tlv(0x03, Bytes{0x00, 0x5A}), seq({}), certElement});
    Bytes six = tlv(0x30, cat({optional ? seq({integer(Bytes{1})}) : Bytes(), inner}));
    return seq({text(0x13, "NB CERT"), tlv(0x0A, Bytes{1}), seq({}), seq({integer(Bytes{2})}), six});
}

Bytes nbKeyPlaintext(EVP_PKEY *key) {
    auto number = [key](const char *name) { return tqtest::keyNumber(key, name); };
    return seq({integer(Bytes{0}), integer(number(OSSL_PKEY_PARAM_RSA_N)),
                integer(number(OSSL_PKEY_PARAM_RSA_FACTOR1)), integer(number(OSSL_PKEY_PARAM_RSA_FACTOR2))});
}

Bytes nbSeal(const Bytes &plaintext, const std::string &password) {
    unsigned char d[20];
    EVP_Digest(password.data(), password.size(), d, nullptr, EVP_sha1(), nullptr);
    unsigned char iv[8] = {d[16], d[17], d[18], d[19], d[16], d[17], d[18], d[19]};
    Bytes padded = plaintext;
    padded.resize((padded.size() + 7) / 8 * 8, 0);
    Bytes out(padded.size() + 8);
    EVP_CIPHER *cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE-CBC", nullptr);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    int n = 0, m = 0;
    EXPECT_EQ(EVP_EncryptInit_ex(ctx, cipher, nullptr, d, iv), 1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EXPECT_EQ(EVP_EncryptUpdate(ctx, out.data(), &n, padded.data(), static_cast<int>(padded.size())), 1);
    EXPECT_EQ(EVP_EncryptFinal_ex(ctx, out.data() + n, &m), 1);
    out.resize(static_cast<size_t>(n + m));
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    return out;
}

Bytes nbSecUserRecord(const Bytes &plaintext, const std::string &password, bool optional,
                      const Bytes *sealed) {
    Bytes key = sealed ? *sealed : nbSeal(plaintext, password);
    Bytes twentyOne = seq({seq({oid("1.2.840.113549.3.7")}), tlv(0x04, key)});
    Bytes fourteen = seq({text(0x13, ""), text(0x18, "20260101000000Z"), tlv(0x0A, Bytes{0}),
                          tlv(0x03, Bytes{0x00}), tlv(0x0A, Bytes{1}), tlv(0xA0, twentyOne)});
    Bytes twelve = tlv(0x30, cat({optional ? seq({integer(Bytes{5})}) : Bytes(), fourteen}));
    return seq({seq({text(0x13, "NB USER"), integer(Bytes{1}), seq({}), seq({}), seq({}), tlv(0x0A, Bytes{2}),
                     text(0x13, "x"), seq({}), tlv(0x04, Bytes{1, 2}), twelve})});
}

EVP_PKEY *readKey(const std::string &pemPath) {
    EVP_PKEY *key = tqtest::pemPrivateKey(pemPath);
    EXPECT_NE(key, nullptr) << pemPath;
    return key;
}

Bytes keyDer(const EVP_PKEY *key) { return tqtest::derBytes(key, i2d_PrivateKey); }
Bytes certDer(const X509 *cert) { return tqtest::derBytes(cert, i2d_X509); }

}  // namespace containertest

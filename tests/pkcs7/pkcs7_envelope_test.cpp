// Enveloped data between the library and the openssl tool, both ways, and
// the sign-then-encrypt road.
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>

#include <climits>

#include "pkcs7_support.h"
#include "tqxcrypt_keys.h"

using namespace p7test;
using tqtest::BlobOwner;
using tqtest::TempDir;

namespace {

// Single DES and RC4 live in the legacy provider.
const std::string kProviders = " -provider legacy -provider default";

struct Cipher {
    int selector;
    const char *tool;  // the openssl tool's option
    const char *name;  // as asn1parse prints the content-encryption algorithm
};
const Cipher kCiphers[] = {
    {0, "-des", "des-cbc"},           {1, "-des", "des-cbc"}, {2, "-des3", "des-ede3-cbc"},
    {0x102, "-des3", "des-ede3-cbc"}, {4, "-rc4", "rc4"},
};

std::string toolDecrypt(const TempDir &dir, const Bytes &der, const std::string &who) {
    tqtest::writeFile(dir.file("env.der"), der);
    sh("openssl smime -decrypt" + kProviders + " -binary -inform DER -in " + dir.file("env.der") +
       " -recip " + fx(who + ".pem") + " -inkey " + fx(who + ".key.pem") + " -out " + dir.file("plain"));
    return tqtest::readText(dir.file("plain"));
}

Bytes toolEncrypt(const TempDir &dir, const std::string &option, const std::string &in,
                  const std::string &recipients) {
    sh("openssl smime -encrypt" + kProviders + " -binary " + option + " -outform DER -in " + in + " -out " +
       dir.file("tool.der") + " " + recipients);
    return tqtest::readFile(dir.file("tool.der"));
}

std::string text(const Bytes &b) { return std::string(b.begin(), b.end()); }

// The envelope decoded by OpenSSL, changed in place, and encoded again.
template <class Change>
Bytes reencoded(const TQXCRYPT_BLOB &envelope, Change change) {
    const unsigned char *p = envelope.data;
    PKCS7 *p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(envelope.length));
    if (!p7) {
        ADD_FAILURE() << "openssl cannot decode the envelope";
        return Bytes();
    }
    change(p7);
    Bytes b = tqtest::derBytes<PKCS7>(p7, i2d_PKCS7);
    PKCS7_free(p7);
    return b;
}

int decrypt(TQXCRYPT_HANDLE *cert, TQXCRYPT_HANDLE *key, const Bytes &der, BlobOwner &out) {
    return TQXCrypt_Decrypt(cert, key, der.data(), der.size(), 0, &out);
}

}  // namespace

TEST(Pkcs7Envelope, OursDecryptWithTheToolAndTheToolsWithOurs) {
    TempDir dir;
    HandleOwner rcpt(cert("recipient")), k(key("recipient"));
    Bytes content = tqtest::readFile(fx("data.bin"));
    for (const Cipher &c : kCiphers) {
        SCOPED_TRACE(c.name + std::string(" selector ") + std::to_string(c.selector));
        BlobOwner env;
        ASSERT_EQ(TQXCrypt_Encrypt(rcpt.get(), content.data(), content.size(), c.selector, &env), 0);
        EXPECT_EQ(toolDecrypt(dir, env.bytes(), "recipient"), text(content));
        std::string parsed = sh("openssl asn1parse -inform DER -in " + dir.file("env.der"));
        EXPECT_NE(parsed.find(std::string(":") + c.name + "\n"), std::string::npos) << parsed;

        Bytes theirs = toolEncrypt(dir, c.tool, fx("data.bin"), fx("recipient.pem"));
        BlobOwner plain;
        ASSERT_EQ(decrypt(rcpt.get(), k.get(), theirs, plain), 0);
        EXPECT_TRUE(plain.bytes() == content);
        EXPECT_EQ(plain.b.data[plain.b.length], 0);
    }
    // Three bytes, into a caller buffer that is too small and then one that fits.
    BlobOwner env;
    ASSERT_EQ(TQXCrypt_Encrypt(rcpt.get(), reinterpret_cast<const unsigned char *>("abc"), 3, 2, &env), 0);
    unsigned char buffer[3];
    TQXCRYPT_BLOB small{2, buffer};
    EXPECT_EQ(TQXCrypt_Decrypt(rcpt.get(), k.get(), env.b.data, env.b.length, 0, &small),
              TQ_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(small.length, 3u);
    TQXCRYPT_BLOB fits{3, buffer};
    ASSERT_EQ(TQXCrypt_Decrypt(rcpt.get(), k.get(), env.b.data, env.b.length, 0, &fits), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 3), "abc");
}

TEST(Pkcs7Envelope, EitherOfTwoRecipientsDecrypts) {
    TempDir dir;
    Bytes theirs = toolEncrypt(dir, "-des3", fx("data.bin"), fx("recipient.pem") + " " + fx("signer.pem"));
    Bytes content = tqtest::readFile(fx("data.bin"));
    for (const char *who : {"recipient", "signer"}) {
        HandleOwner c(cert(who)), k(key(who));
        BlobOwner plain;
        ASSERT_EQ(decrypt(c.get(), k.get(), theirs, plain), 0) << who;
        EXPECT_TRUE(plain.bytes() == content) << who;
    }
}

TEST(Pkcs7Envelope, RefusalsGiveTheirCodes) {
    TempDir dir;
    HandleOwner rcpt(cert("recipient")), k(key("recipient")), otherKey(key("other")),
        signerCert(cert("signer"));
    Bytes content = tqtest::readFile(fx("data.bin"));
    Bytes theirs = toolEncrypt(dir, "-des3", fx("data.bin"), fx("recipient.pem"));
    sh("openssl smime -sign -binary -nodetach -in " + fx("data.bin") + " -signer " + fx("signer.pem") +
       " -inkey " + fx("signer.key.pem") + " -outform DER -out " + dir.file("signed.der"));
    Bytes signedDer = tqtest::readFile(dir.file("signed.der"));
    Bytes notDer = {'n', 'o', 't', ' ', 'D', 'E', 'R'};
    // The signer's key fits its certificate, but the message is not for it.
    HandleOwner signerKey(key("signer"));
    BlobOwner o1, o2, o3, o4, o5, o6, o7, o8, o9, o10;
    const uint64_t tooLong = static_cast<uint64_t>(INT_MAX) + 1;
    CodeCase cases[] = {
        {"cipher 3", TQXCrypt_Encrypt(rcpt.get(), content.data(), content.size(), 3, &o1),
         TQ_RTN_BAD_ARGUMENT},
        {"cipher 5", TQXCrypt_Encrypt(rcpt.get(), content.data(), content.size(), 5, &o2),
         TQ_RTN_BAD_ARGUMENT},
        {"key as recipient", TQXCrypt_Encrypt(k.get(), content.data(), content.size(), 2, &o3),
         TQ_RTN_WRONG_HANDLE},
        {"data over INT_MAX", TQXCrypt_Encrypt(rcpt.get(), content.data(), tooLong, 2, &o3),
         TQ_RTN_BAD_ARGUMENT},
        {"null output", TQXCrypt_Encrypt(rcpt.get(), content.data(), content.size(), 2, nullptr),
         TQ_RTN_BAD_ARGUMENT},
        {"key of another certificate", decrypt(rcpt.get(), otherKey.get(), theirs, o4), TQ_RTN_KEY_MISMATCH},
        {"not DER", decrypt(rcpt.get(), k.get(), notDer, o5), TQ_RTN_BAD_PKCS7},
        {"signed-data", decrypt(signerCert.get(), signerKey.get(), signedDer, o6), TQ_RTN_BAD_PKCS7},
        {"not a recipient", decrypt(signerCert.get(), signerKey.get(), theirs, o7), TQ_RTN_DECRYPT_FAILED},
        {"certificate as key", decrypt(rcpt.get(), rcpt.get(), theirs, o8), TQ_RTN_WRONG_HANDLE},
        {"key as certificate", decrypt(k.get(), k.get(), theirs, o9), TQ_RTN_WRONG_HANDLE},
        {"message over INT_MAX", TQXCrypt_Decrypt(rcpt.get(), k.get(), theirs.data(), tooLong, 0, &o10),
         TQ_RTN_BAD_ARGUMENT},
    };
    expectCodes(cases);
    for (TQXCRYPT_BLOB *o : {&o1, &o2, &o3, &o4, &o5, &o6, &o7, &o8, &o9, &o10}) EXPECT_EQ(o->data, nullptr);
}

TEST(Pkcs7Envelope, MessageThatNamesOnlyItsTypeIsRefused) {
    // A ContentInfo whose optional content is absent: enveloped, then
    // signed-and-enveloped data with nothing inside.
    HandleOwner rcpt(cert("recipient")), k(key("recipient"));
    for (unsigned char type : {0x03, 0x04}) {
        const Bytes der = {0x30, 0x0B, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, type};
        BlobOwner out;
        EXPECT_EQ(decrypt(rcpt.get(), k.get(), der, out), TQ_RTN_BAD_PKCS7) << "type " << int(type);
        EXPECT_EQ(out.b.data, nullptr);
    }
}

TEST(Pkcs7Envelope, DamagedFinalBlockIsADecryptionFailure) {
    // Sixteen bytes of 'A' under triple-DES: two data blocks and one block of
    // padding (eight times 0x08). A truncated envelope ends on a data block,
    // whose last byte 'A' is no valid padding; a changed byte in the second
    // ciphertext block changes the padding byte it chains into. Neither may
    // pass for the content.
    HandleOwner rcpt(cert("recipient")), k(key("recipient"));
    const std::string content(16, 'A');
    BlobOwner env;
    ASSERT_EQ(TQXCrypt_Encrypt(rcpt.get(), reinterpret_cast<const unsigned char *>(content.data()),
                               content.size(), 2, &env),
              0);
    auto body = [](PKCS7 *p7) {
        ASN1_OCTET_STRING *b = p7->d.enveloped->enc_data->enc_data;
        EXPECT_EQ(b->length, 24);
        return b;
    };
    Bytes truncated = reencoded(env.b, [&](PKCS7 *p7) { body(p7)->length = 16; });
    Bytes flipped = reencoded(env.b, [&](PKCS7 *p7) { body(p7)->data[15] ^= 0x07; });
    for (const Bytes *b : {&truncated, &flipped}) {
        BlobOwner plain;
        EXPECT_EQ(decrypt(rcpt.get(), k.get(), *b, plain), TQ_RTN_DECRYPT_FAILED);
        EXPECT_EQ(plain.b.data, nullptr);
    }
    BlobOwner plain;
    ASSERT_EQ(TQXCrypt_Decrypt(rcpt.get(), k.get(), env.b.data, env.b.length, 0, &plain), 0);
    EXPECT_EQ(plain.text(), content);
}

TEST(Pkcs7Envelope, SignThenEncryptAndDecryptThenVerifyWithTheTool) {
    TempDir dir;
    HandleOwner signer(cert("signer")), sk(key("signer")), rcpt(cert("recipient")), rk(key("recipient")),
        s(store(true));
    Bytes content = tqtest::readFile(fx("data.bin"));
    // Ours, taken apart by the tool: decrypt, then verify the signed-data inside.
    // Detached and no-certificates are not for this road and are dropped.
    BlobOwner env;
    ASSERT_EQ(TQXCrypt_SignAndEncrypt(signer.get(), sk.get(), rcpt.get(), s.get(), content.data(),
                                      content.size(), TQXCRYPT_DETACHED | TQXCRYPT_SIGN_NOCERTS | 2, 4, &env),
              0);
    tqtest::writeFile(dir.file("env.der"), env.bytes());
    sh("openssl smime -decrypt -binary -inform DER -in " + dir.file("env.der") + " -recip " +
       fx("recipient.pem") + " -inkey " + fx("recipient.key.pem") + " -out " + dir.file("signed.der"));
    sh("openssl cms -verify -binary -inform DER -in " + dir.file("signed.der") + " -CAfile " +
       fx("chain.pem") + " -out " + dir.file("out"));
    EXPECT_TRUE(tqtest::readFile(dir.file("out")) == content);

    // The tool's, taken apart by us.
    sh("openssl smime -sign -binary -nodetach -in " + fx("data.bin") + " -signer " + fx("signer.pem") +
       " -inkey " + fx("signer.key.pem") + " -outform DER -out " + dir.file("tool.signed.der"));
    Bytes theirs = toolEncrypt(dir, "-des3", dir.file("tool.signed.der"), fx("recipient.pem"));
    for (int flags : {0, TQXCRYPT_VERIFY_CHAIN, TQXCRYPT_VERIFY_CRL}) {
        BlobOwner got;
        HandleOwner who;
        ASSERT_EQ(TQXCrypt_DecryptAndVerify(s.get(), rcpt.get(), rk.get(), theirs.data(), theirs.size(), 0,
                                            flags, &got, who.out()),
                  0)
            << flags;
        EXPECT_TRUE(got.bytes() == content) << flags;
        EXPECT_EQ(certDer(who.get()), certDer(signer.get())) << flags;
    }
    // Our own pair of calls, with the detached flag asked for in the first.
    BlobOwner got;
    HandleOwner who;
    ASSERT_EQ(TQXCrypt_DecryptAndVerify(s.get(), rcpt.get(), rk.get(), env.b.data, env.b.length, 0,
                                        TQXCRYPT_VERIFY_CRL, &got, who.out()),
              0);
    EXPECT_TRUE(got.bytes() == content);
    // A revoked signer inside the envelope: the verification code comes through.
    sh("openssl smime -sign -binary -nodetach -in " + fx("data.bin") + " -signer " + fx("revoked.pem") +
       " -inkey " + fx("revoked.key.pem") + " -outform DER -out " + dir.file("rev.signed.der"));
    Bytes revoked = toolEncrypt(dir, "-des3", dir.file("rev.signed.der"), fx("recipient.pem"));
    BlobOwner none;
    HandleOwner nobody;
    EXPECT_EQ(TQXCrypt_DecryptAndVerify(s.get(), rcpt.get(), rk.get(), revoked.data(), revoked.size(), 0,
                                        TQXCRYPT_VERIFY_CRL, &none, nobody.out()),
              TQ_RTN_REVOKED_KEY_COMPROMISE);
    EXPECT_EQ(nobody.get(), nullptr);
}

TEST(Pkcs7Envelope, SignedAndEnvelopedOpensWithOpenSslsOwnDecoder) {
    // No tool command reads signed-and-enveloped data; OpenSSL's library does.
    HandleOwner signer(cert("signer")), sk(key("signer")), rcpt(cert("recipient"));
    Bytes content = tqtest::readFile(fx("data.bin"));
    STACK_OF(X509) *recipients = sk_X509_new_null();
    sk_X509_push(recipients, static_cast<X509 *>(rcpt.get()->object));
    EVP_CIPHER *des3 = EVP_CIPHER_fetch(nullptr, "DES-EDE3-CBC", nullptr);
    BIO *in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
    PKCS7 *p7 = tqxCrypt_PKCS7_signencrypt(static_cast<X509 *>(signer.get()->object), sk.get(), nullptr,
                                           recipients, des3, in, PKCS7_BINARY, 4);
    BIO_free(in);
    ASSERT_NE(p7, nullptr);
    // Encoded and read back, as a peer would get it.
    unsigned char *der = nullptr;
    int n = i2d_PKCS7(p7, &der);
    PKCS7_free(p7);
    const unsigned char *p = der;
    p7 = d2i_PKCS7(nullptr, &p, n);
    OPENSSL_free(der);
    ASSERT_NE(p7, nullptr);
    BIO *keyBio = BIO_new_file(fx("recipient.key.pem").c_str(), "r");
    EVP_PKEY *pkey = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
    BIO_free(keyBio);
    BIO *chain = PKCS7_dataDecode(p7, pkey, nullptr, static_cast<X509 *>(rcpt.get()->object));
    ASSERT_NE(chain, nullptr);
    Bytes plain(content.size() + 64);
    int total = 0, got;
    while ((got = BIO_read(chain, plain.data() + total, static_cast<int>(plain.size()) - total)) > 0)
        total += got;
    plain.resize(static_cast<size_t>(total));
    EXPECT_TRUE(plain == content);
    PKCS7_SIGNER_INFO *si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7), 0);
    EXPECT_EQ(PKCS7_signatureVerify(chain, p7, si, static_cast<X509 *>(signer.get()->object)), 1);
    BIO_free_all(chain);
    EVP_PKEY_free(pkey);
    PKCS7_free(p7);
    EVP_CIPHER_free(des3);
    sk_X509_free(recipients);
    ERR_clear_error();
}

TEST(Pkcs7Envelope, TextModeDecryptsTheBodyWithoutItsHeader) {
    TempDir dir;
    tqtest::writeFile(dir.file("text"), std::string("first line\nsecond line\n"));
    sh("openssl smime -encrypt -text -des3 -outform DER -in " + dir.file("text") + " -out " +
       dir.file("env.der") + " " + fx("recipient.pem"));
    Bytes der = tqtest::readFile(dir.file("env.der"));
    const unsigned char *p = der.data();
    PKCS7 *p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(p7, nullptr);
    HandleOwner rcpt(cert("recipient")), k(key("recipient"));
    BIO *out = BIO_new(BIO_s_mem());
    EXPECT_EQ(tqxCrypt_PKCS7_decrypt(p7, k.get(), static_cast<X509 *>(rcpt.get()->object), out, PKCS7_TEXT),
              1);
    char *bytes = nullptr;
    long n = BIO_get_mem_data(out, &bytes);
    EXPECT_EQ(std::string(bytes, static_cast<size_t>(n)), "first line\r\nsecond line\r\n");
    BIO_free(out);
    PKCS7_free(p7);
}

namespace {
int decryptCalls = 0;
int countingDecrypt(TQXCRYPT_HANDLE *key, const unsigned char *in, uint64_t n, int flags,
                    TQXCRYPT_BLOB *out) {
    ++decryptCalls;
    return TQXCrypt_PrivateDecrypt(key, in, n, flags, out);
}
int failingDecrypt(TQXCRYPT_HANDLE *, const unsigned char *, uint64_t, int, TQXCRYPT_BLOB *) {
    ++decryptCalls;
    return TQ_RTN_DECRYPT_FAILED;
}
}  // namespace

TEST(Pkcs7Envelope, ContentKeyComesThroughTheKeyMethodTable) {
    // As a token key would: the content key is recovered by the handle's own
    // decrypt slot, and its failure is a decryption failure.
    TempDir dir;
    HandleOwner rcpt(cert("recipient")), k(key("recipient"));
    Bytes theirs = toolEncrypt(dir, "-des3", fx("data.bin"), fx("recipient.pem"));
    TQXCRYPT_KEY_METHOD method = *tqxCryptRSAPriMethod();
    void *original = k.get()->extra;
    k.get()->extra = &method;
    method.decrypt = countingDecrypt;
    decryptCalls = 0;
    BlobOwner plain;
    EXPECT_EQ(decrypt(rcpt.get(), k.get(), theirs, plain), 0);
    EXPECT_EQ(decryptCalls, 1);
    EXPECT_TRUE(plain.bytes() == tqtest::readFile(fx("data.bin")));
    method.decrypt = failingDecrypt;
    BlobOwner none;
    EXPECT_EQ(decrypt(rcpt.get(), k.get(), theirs, none), TQ_RTN_DECRYPT_FAILED);
    EXPECT_EQ(decryptCalls, 2);
    EXPECT_EQ(none.b.data, nullptr);
    k.get()->extra = original;
}

TEST(Pkcs7Envelope, EmptyContentKeyIsRefused) {
    // Anyone holding the recipient's certificate can wrap an empty content
    // key; RC4 takes keys of any length, so only the decoder can stop it.
    TempDir dir;
    HandleOwner rcpt(cert("recipient")), k(key("recipient"));
    BlobOwner env;
    ASSERT_EQ(TQXCrypt_Encrypt(rcpt.get(), reinterpret_cast<const unsigned char *>("abc"), 3, 4, &env), 0);
    tqtest::writeFile(dir.file("empty"), Bytes{});
    sh("openssl pkeyutl -encrypt -certin -inkey " + fx("recipient.pem") + " -in " + dir.file("empty") +
       " -out " + dir.file("key.bin"));
    const Bytes wrapped = tqtest::readFile(dir.file("key.bin"));
    Bytes damaged = reencoded(env.b, [&](PKCS7 *p7) {
        PKCS7_RECIP_INFO *ri = sk_PKCS7_RECIP_INFO_value(p7->d.enveloped->recipientinfo, 0);
        EXPECT_EQ(ASN1_STRING_length(ri->enc_key), static_cast<int>(wrapped.size()));
        EXPECT_EQ(ASN1_OCTET_STRING_set(ri->enc_key, wrapped.data(), static_cast<int>(wrapped.size())), 1);
    });
    BlobOwner plain;
    EXPECT_EQ(decrypt(rcpt.get(), k.get(), damaged, plain), TQ_RTN_DECRYPT_FAILED);
    EXPECT_EQ(plain.b.data, nullptr);
}

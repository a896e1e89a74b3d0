// Every function: a null required input or output gives 5005, and no call
// leaves a block of the library allocator behind, on success or failure.
#include <functional>

#include "textapi_support.h"
#include "tqxcrypt_cipher.h"
#include "tqxcrypt_x509.h"

using namespace txtest;

namespace {

struct Inputs {
    std::string sign = text("sign.pem"), key = text("sign.key.pem"), enc = text("enc.pem"),
                encKey = text("enc.key.pem");
    Bytes p12 = bytes("full.p12"), nokey = bytes("nokey.p12");
    Bytes data = tqtest::randomBytes(100, 4);
    Bytes salt = Bytes(8, 1), desKey = tqtest::randomBytes(24, 5), iv = Bytes(8, 2);
    std::string message, envelope, signerInfo, dirname = text("dirname.pem");
    TQXCRYPT_HANDLE *store = rootStore();
    Inputs() {
        char *t = nullptr;
        EXPECT_EQ(
            TQCrypt_Sign(sign.c_str(), key.c_str(), nullptr, nullptr, data.data(), data.size(), 0, 0, 4, &t),
            0);
        message = t ? t : "";
        TQCryptMemFree(t);
        t = nullptr;
        EXPECT_EQ(TQCrypt_CertEncrypt(enc.c_str(), data.data(), data.size(), 2, 0, &t), 0);
        envelope = t ? t : "";
        TQCryptMemFree(t);
        t = nullptr;
        EXPECT_EQ(TQCrypt_Verify(store, message.c_str(), nullptr, 0, nullptr, 0, 0, 0, &t, nullptr), 0);
        signerInfo = t ? t : "";
        TQCryptMemFree(t);
    }
    ~Inputs() { TQXCryptFreeHandle(store); }
};

// One call with chosen arguments replaced by null; every text or buffer it
// hands out is released again.
struct Call {
    const char *name;
    // Runs the call; `nulls` names the argument (1-based among the pointers
    // the call requires) given as null, 0 for none.
    std::function<int(Inputs &, int nulls)> run;
    int required;  // how many required pointers the call has
};

template <class T>
T *pick(T *p, int nulls, int which) {
    return nulls == which ? nullptr : p;
}

const Call kCalls[] = {
    {"Sign",
     [](Inputs &in, int n) {
         char *out = nullptr;
         int rc = TQCrypt_Sign(pick(in.sign.c_str(), n, 1), pick(in.key.c_str(), n, 2), nullptr, nullptr,
                               pick(in.data.data(), n, 3), in.data.size(), 0, 0, 4, pick(&out, n, 4));
         TQCryptMemFree(out);
         return rc;
     },
     4},
    {"Verify",
     [](Inputs &in, int n) {
         char *info = nullptr, *cert = nullptr;
         int rc = TQCrypt_Verify(in.store, pick(in.message.c_str(), n, 1), nullptr, 0, nullptr, 0, 0, 0,
                                 &info, &cert);
         TQCryptMemFree(info);
         TQCryptMemFree(cert);
         return rc;
     },
     1},
    {"ComposeSignature",
     [](Inputs &in, int n) {
         char *out = nullptr;
         int rc = TQCrypt_ComposeSignature(pick(in.sign.c_str(), n, 1), pick(in.signerInfo.c_str(), n, 2), 0,
                                           pick(&out, n, 3));
         TQCryptMemFree(out);
         return rc;
     },
     3},
    {"VerifyDigest",
     [](Inputs &in, int n) {
         return TQCrypt_VerifyDigest(in.store, pick(in.sign.c_str(), n, 1), pick(in.signerInfo.c_str(), n, 2),
                                     pick(in.data.data(), n, 3), in.data.size(), nullptr, 0, 0);
     },
     3},
    {"PKCS7GetUserCertificate",
     [](Inputs &in, int n) {
         char *out = nullptr;
         int rc = TQCrypt_PKCS7GetUserCertificate(pick(in.message.c_str(), n, 1), pick(&out, n, 2));
         TQCryptMemFree(out);
         return rc;
     },
     2},
    {"SignatureGetAlgorithm",
     [](Inputs &in, int n) {
         char *out = nullptr;
         int rc = TQCrypt_SignatureGetAlgorithm(pick(in.message.c_str(), n, 1), 0, 0, pick(&out, n, 2));
         TQCryptMemFree(out);
         return rc;
     },
     2},
    {"CertEncrypt",
     [](Inputs &in, int n) {
         char *out = nullptr;
         int rc = TQCrypt_CertEncrypt(pick(in.enc.c_str(), n, 1), pick(in.data.data(), n, 2), in.data.size(),
                                      2, 0, pick(&out, n, 3));
         TQCryptMemFree(out);
         return rc;
     },
     3},
    {"CertDecrypt",
     [](Inputs &in, int n) {
         unsigned char *out = nullptr;
         uint64_t length = 0;
         int rc = TQCrypt_CertDecrypt(pick(in.enc.c_str(), n, 1), pick(in.encKey.c_str(), n, 2), nullptr,
                                      pick(in.envelope.c_str(), n, 3), 0, 0, pick(&out, n, 4), &length);
         TQCryptMemFree(out);
         return rc;
     },
     4},
    {"Hash",
     [](Inputs &in, int n) {
         char *out = nullptr;
         int rc = TQCrypt_Hash(pick(in.data.data(), n, 1), in.data.size(), 4, pick(&out, n, 2));
         TQCryptMemFree(out);
         return rc;
     },
     2},
    {"CertGetDigest",
     [](Inputs &in, int n) {
         char *out = nullptr;
         int rc = TQCrypt_CertGetDigest(pick(in.sign.c_str(), n, 1), 4, pick(&out, n, 2));
         TQCryptMemFree(out);
         return rc;
     },
     2},
    {"CertGetKeySize",
     [](Inputs &in, int n) {
         int size = 0;
         return TQCrypt_CertGetKeySize(pick(in.sign.c_str(), n, 1), 0, pick(&size, n, 2));
     },
     2},
    {"CertGetSerialNumber",
     [](Inputs &in, int n) {
         char *out = nullptr;
         int rc = TQCrypt_CertGetSerialNumber(pick(in.sign.c_str(), n, 1), 0, pick(&out, n, 2));
         TQCryptMemFree(out);
         return rc;
     },
     2},
    {"CertGetSubject",
     [](Inputs &in, int n) {
         char *out = nullptr;
         int rc = TQCrypt_CertGetSubject(pick(in.sign.c_str(), n, 1), TQCRYPT_SUBJECT_C, pick(&out, n, 2));
         TQCryptMemFree(out);
         return rc;
     },
     2},
    {"CertGetIssuer",
     [](Inputs &in, int n) {
         char *out = nullptr;
         int rc = TQCrypt_CertGetIssuer(pick(in.sign.c_str(), n, 1), 0, pick(&out, n, 2));
         TQCryptMemFree(out);
         return rc;
     },
     2},
    {"CertGetNotBefore",
     [](Inputs &in, int n) {
         char when[TQXCRYPT_TIME_TEXT_SIZE];
         return TQCrypt_CertGetNotBefore(pick(in.sign.c_str(), n, 1), 0, pick(when, n, 2));
     },
     2},
    {"CertGetNotAfter",
     [](Inputs &in, int n) {
         char when[TQXCRYPT_TIME_TEXT_SIZE];
         return TQCrypt_CertGetNotAfter(pick(in.sign.c_str(), n, 1), 0, pick(when, n, 2));
     },
     2},
    {"CertGetKDRAExtension",
     [](Inputs &in, int n) {
         char *out = nullptr;
         int rc = TQCrypt_CertGetKDRAExtension(pick(in.sign.c_str(), n, 1), 8, pick(&out, n, 2));
         TQCryptMemFree(out);
         return rc;
     },
     2},
    {"CertGetSignatureAlgorithm",
     [](Inputs &in, int n) {
         char *out = nullptr;
         int rc = TQCrypt_CertGetSignatureAlgorithm(pick(in.sign.c_str(), n, 1), 0, pick(&out, n, 2));
         TQCryptMemFree(out);
         return rc;
     },
     2},
    {"P12GetUserCertificateCount",
     [](Inputs &in, int n) {
         int count = 0;
         return TQCrypt_P12GetUserCertificateCount(pick(in.p12.data(), n, 1), in.p12.size(), "secret",
                                                   pick(&count, n, 2));
     },
     2},
    {"P12Sign",
     [](Inputs &in, int n) {
         char *out = nullptr;
         int rc = TQCrypt_P12Sign(pick(in.p12.data(), n, 1), in.p12.size(), "secret",
                                  pick(in.data.data(), n, 2), in.data.size(), 0, 0, 4, pick(&out, n, 3));
         TQCryptMemFree(out);
         return rc;
     },
     3},
    {"FiltrateP12",
     [](Inputs &in, int n) {
         unsigned char *out = nullptr;
         uint64_t length = 0;
         int rc = TQCrypt_FiltrateP12(pick(in.p12.data(), n, 1), in.p12.size(), "secret", pick(&out, n, 2),
                                      pick(&length, n, 3));
         TQCryptMemFree(out);
         return rc;
     },
     3},
    {"CheckPFX",
     [](Inputs &in, int n) {
         return TQCrypt_CheckPFX(pick(in.p12.data(), n, 1), in.p12.size(), "secret", "CN=Text Signer", 0, 0);
     },
     1},
    {"P12XGetUserCertificate",
     [](Inputs &in, int n) {
         TQXCRYPT_BLOB blob{0, nullptr};
         int rc = TQCrypt_P12XGetUserCertificate(pick(in.p12.data(), n, 1), in.p12.size(), "secret",
                                                 pick(&blob, n, 2));
         TQXCryptFreeBlob(&blob);
         return rc;
     },
     2},
    {"SymmetricEncrypt",
     [](Inputs &in, int n) {
         unsigned char *out = nullptr;
         uint64_t length = 0;
         int rc = TQCrypt_SymmetricEncrypt(pick("pw", n, 1), pick(in.data.data(), n, 2), in.data.size(),
                                           in.salt.data(), 8, 10, nullptr, TQXCRYPT_ALG_AES128,
                                           TQXCRYPT_KDF_PBKDF2 | TQXCRYPT_MODE_CBC, pick(&out, n, 3),
                                           pick(&length, n, 4));
         TQCryptMemFree(out);
         return rc;
     },
     4},
    {"SymmetricDecrypt",
     [](Inputs &in, int n) {
         unsigned char *out = nullptr;
         uint64_t length = 0;
         // Not cipher text: the final step fails, and the bytes still come out.
         int rc =
             TQCrypt_SymmetricDecrypt(pick("pw", n, 1), pick(in.data.data(), n, 2), 96, in.salt.data(), 8, 10,
                                      nullptr, TQXCRYPT_ALG_AES128, TQXCRYPT_KDF_PBKDF2 | TQXCRYPT_MODE_CBC,
                                      pick(&out, n, 3), pick(&length, n, 4));
         TQCryptMemFree(out);
         return rc;
     },
     4},
    {"SymmetricEncryptEx",
     [](Inputs &in, int n) {
         unsigned char *out = nullptr;
         uint64_t length = 0;
         int rc = TQCrypt_SymmetricEncryptEx(TQXCRYPT_ALG_DES3, pick(in.data.data(), n, 1), in.data.size(),
                                             pick(in.desKey.data(), n, 2), 24, in.iv.data(), 8,
                                             TQXCRYPT_MODE_CBC, 0, pick(&out, n, 3), pick(&length, n, 4));
         TQCryptMemFree(out);
         return rc;
     },
     4},
    {"SymmetricDecryptEx",
     [](Inputs &in, int n) {
         unsigned char *out = nullptr;
         uint64_t length = 0;
         int rc = TQCrypt_SymmetricDecryptEx(TQXCRYPT_ALG_DES3, pick(in.data.data(), n, 1), 96,
                                             pick(in.desKey.data(), n, 2), 24, in.iv.data(), 8,
                                             TQXCRYPT_MODE_CBC, 0, pick(&out, n, 3), pick(&length, n, 4));
         TQCryptMemFree(out);
         return rc;
     },
     4},
};

TEST(TextBoundary, ANullRequiredPointerGivesBadArgument) {
    Inputs in;
    for (const Call &c : kCalls) {
        for (int which = 1; which <= c.required; ++which)
            EXPECT_EQ(c.run(in, which), TQ_RTN_BAD_ARGUMENT)
                << c.name << " with pointer " << which << " null";
    }
}

// Around each call, successful or not, the live blocks of the library
// allocator come back to where they were: no handle, text or buffer stays.
TEST(TextBoundary, NoBlockOutlivesACall) {
    Inputs in;
    BlockCount count;
    for (const Call &c : kCalls) {
        for (int which = 0; which <= c.required; ++which) {
            const long before = BlockCount::live();
            c.run(in, which);
            EXPECT_EQ(BlockCount::live(), before) << c.name << " with pointer " << which << " null";
        }
    }
    // Failures deeper down: the wrong password, wrong key, a key usage not held,
    // a PKCS#12 without a key, a directory name as the last alternative name.
    const long before = BlockCount::live();
    char *t = nullptr;
    unsigned char *b = nullptr;
    uint64_t n = 0;
    EXPECT_NE(TQCrypt_Sign(in.sign.c_str(), text("sign.enc.pem").c_str(), "wrong", nullptr, in.data.data(),
                           in.data.size(), 0, 0, 4, &t),
              0);
    EXPECT_EQ(TQCrypt_Sign(in.sign.c_str(), in.key.c_str(), nullptr, nullptr, in.data.data(), in.data.size(),
                           0, 0x20, 4, &t),
              TQ_RTN_KEY_USAGE);
    EXPECT_EQ(TQCrypt_Verify(in.store, in.message.c_str(), nullptr, 0, nullptr, 0, 0x20, 0, &t, &t),
              TQ_RTN_KEY_USAGE);
    EXPECT_NE(TQCrypt_CertDecrypt(in.enc.c_str(), in.key.c_str(), nullptr, in.envelope.c_str(), 0, 0, &b, &n),
              0);
    EXPECT_NE(TQCrypt_P12Sign(in.nokey.data(), in.nokey.size(), "secret", in.data.data(), in.data.size(), 0,
                              0, 4, &t),
              0);
    EXPECT_EQ(TQCrypt_CertGetKDRAExtension(in.dirname.c_str(), 8, &t), TQ_RTN_NOT_SUPPORTED);
    EXPECT_NE(TQCrypt_FiltrateP12(in.p12.data(), in.p12.size(), "wrong", &b, &n), 0);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(b, nullptr);
    EXPECT_EQ(BlockCount::live(), before);
}

}  // namespace

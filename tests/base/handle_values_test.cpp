// Values that are no handle of the library, given where one is wanted: small
// numbers (a result code returned in place of a handle, a count, a token
// object handle) and records of other kinds. One entry of each family answers
// 5005 without reading them; the release ignores them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "testutil.h"
#include "tqxcrypt_build.h"
#include "tqxcrypt_cipher.h"
#include "tqxcrypt_containers.h"
#include "tqxcrypt_crl.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_ocsp.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_store.h"
#include "tqxcrypt_x509.h"
#include "tqxp11bridge.h"
#include "tqxp11obj.h"

using namespace tqtest;

namespace {

// Live handles the entries take beside the one under test, so that the
// value under test is what each entry answers for.
struct Live {
    HandleOwner cert{decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "objects/user.der")};
    HandleOwner key{decodeFixture(TQXCRYPT_KIND_PRIVATEKEY, "objects/user.rsa.der")};
    HandleOwner pub{decodeFixture(TQXCRYPT_KIND_PUBLICKEY, "objects/user.pub.der")};
    HandleOwner p7{decodeFixture(TQXCRYPT_KIND_PKCS7, "objects/signed.p7.der")};
    Bytes content = readFile(fixture("objects/content.txt"));
};

struct Entry {
    const char *name;
    int kind;  // the kind the entry takes in that place
    std::function<int(TQXCRYPT_HANDLE *)> call;
};

std::vector<Entry> entries(Live &live) {
    static const unsigned char data[20] = {1, 2, 3};
    static const unsigned char iv[16] = {};
    return {
        {"tqxCryptGetHandle", TQXCRYPT_KIND_CERTIFICATE,
         [](TQXCRYPT_HANDLE *h) {
             void *object = nullptr;
             return tqxCryptGetHandle(&object, h, TQXCRYPT_KIND_CERTIFICATE);
         }},
        {"tqxCryptGetHandleEx", TQXCRYPT_KIND_PRIVATEKEY,
         [](TQXCRYPT_HANDLE *h) {
             void *extra = nullptr;
             return tqxCryptGetHandleEx(&extra, h, TQXCRYPT_KIND_PRIVATEKEY);
         }},
        {"TQXCrypt_EncodeObject", TQXCRYPT_KIND_CERTIFICATE,
         [](TQXCRYPT_HANDLE *h) {
             BlobOwner out;
             return TQXCrypt_EncodeObject(h, TQXCRYPT_KIND_CERTIFICATE, &out, 0, nullptr);
         }},
        {"a method table's encode", TQXCRYPT_KIND_CERTIFICATE,
         [](TQXCRYPT_HANDLE *h) {
             BlobOwner out;
             return tqxCryptASN1CertificateMethod()->encode(h, &out, 0, nullptr);
         }},
        {"a method table's sign", TQXCRYPT_KIND_CERTIFICATE,
         [&](TQXCRYPT_HANDLE *h) { return tqxCryptASN1CertificateMethod()->sign(h, live.key.get(), 4); }},
        {"a method table's verify", TQXCRYPT_KIND_CRL,
         [&](TQXCRYPT_HANDLE *h) { return tqxCryptASN1CRLMethod()->verify(h, live.pub.get(), 0); }},
        {"TQXCrypt_SignObject: object", TQXCRYPT_KIND_CERTIFICATE,
         [&](TQXCRYPT_HANDLE *h) { return TQXCrypt_SignObject(h, live.key.get(), 4); }},
        {"TQXCrypt_VerifyObject: key", TQXCRYPT_KIND_PUBLICKEY,
         [&](TQXCRYPT_HANDLE *h) { return TQXCrypt_VerifyObject(live.cert.get(), h, 4); }},
        {"TQXCrypt_PureSign", TQXCRYPT_KIND_PRIVATEKEY,
         [](TQXCRYPT_HANDLE *h) {
             BlobOwner out;
             return TQXCrypt_PureSign(h, data, sizeof data, 4, &out);
         }},
        {"TQXCrypt_KeyModulus", TQXCRYPT_KIND_PUBLICKEY,
         [](TQXCRYPT_HANDLE *h) {
             BlobOwner out;
             return TQXCrypt_KeyModulus(h, &out);
         }},
        {"TQXCrypt_CheckKeyPair", TQXCRYPT_KIND_PRIVATEKEY,
         [&](TQXCRYPT_HANDLE *h) { return TQXCrypt_CheckKeyPair(h, live.pub.get()); }},
        {"TQXCrypt_HashUpdate", TQXCRYPT_KIND_DIGEST,
         [](TQXCRYPT_HANDLE *h) { return TQXCrypt_HashUpdate(h, data, sizeof data, 0); }},
        {"TQXCrypt_EncryptInit", TQXCRYPT_KIND_CIPHER,
         [](TQXCRYPT_HANDLE *h) { return TQXCrypt_EncryptInit(h, iv, 0); }},
        {"TQXCrypt_VerifyCertChain: store", TQXCRYPT_KIND_STORE,
         [&](TQXCRYPT_HANDLE *h) { return TQXCrypt_VerifyCertChain(live.cert.get(), h, 0, 0); }},
        // A store that may be left out: only null and a handle without an object are none.
        {"TQXCrypt_Verify: optional store", TQXCRYPT_KIND_STORE,
         [&](TQXCRYPT_HANDLE *h) {
             return TQXCrypt_Verify(h, live.p7.get(), live.content.data(), live.content.size(), nullptr, 0, 0,
                                    0, nullptr, nullptr);
         }},
        {"TQXCrypt_PKCS7GetCertificateCount", TQXCRYPT_KIND_PKCS7,
         [](TQXCRYPT_HANDLE *h) {
             int32_t count = 0;
             return TQXCrypt_PKCS7GetCertificateCount(h, &count);
         }},
        {"TQXCrypt_CertGetSubject", TQXCRYPT_KIND_CERTIFICATE,
         [](TQXCRYPT_HANDLE *h) {
             char *text = nullptr;
             int rc = TQXCrypt_CertGetSubject(h, 0, &text);
             TQCryptMemFree(text);
             return rc;
         }},
        {"TQXCrypt_CertSetSubjectName", TQXCRYPT_KIND_CERTIFICATE,
         [](TQXCRYPT_HANDLE *h) { return TQXCrypt_CertSetSubjectName(h, "CN=x"); }},
        {"TQXCrypt_CertReqSetSubject", TQXCRYPT_KIND_CERTREQUEST,
         [](TQXCRYPT_HANDLE *h) { return TQXCrypt_CertReqSetSubject(h, "CN=x"); }},
        {"TQXCrypt_CRLGetRevokedCount", TQXCRYPT_KIND_CRL,
         [](TQXCRYPT_HANDLE *h) {
             int count = 0;
             return TQXCrypt_CRLGetRevokedCount(h, &count);
         }},
        {"TQXCrypt_OCSPReqGetReqExtension", TQXCRYPT_KIND_OCSPREQUEST,
         [](TQXCRYPT_HANDLE *h) {
             BlobOwner value;
             return TQXCrypt_OCSPReqGetReqExtension(h, "OCSP Nonce", 0, &value, nullptr);
         }},
        {"TQXCrypt_P12GetPrivateKeyCount", TQXCRYPT_KIND_PKCS12,
         [](TQXCRYPT_HANDLE *h) {
             int count = 0;
             return TQXCrypt_P12GetPrivateKeyCount(h, 0, &count);
         }},
        {"TQXCrypt_PKCS8InfoToPrivateKey", TQXCRYPT_KIND_PKCS8INFO,
         [](TQXCRYPT_HANDLE *h) {
             HandleOwner key;
             return TQXCrypt_PKCS8InfoToPrivateKey(h, 0, key.out());
         }},
        {"TQXP11Crypt_TransKeyToP11hKey", TQXCRYPT_KIND_CIPHER,
         [](TQXCRYPT_HANDLE *h) {
             CK_OBJECT_HANDLE object = 0;
             return TQXP11Crypt_TransKeyToP11hKey(h, &object);
         }},
    };
}

// Codes and counts, and -1 (the kernel's half of the address space).
const uintptr_t kNoAddresses[] = {1, 3, TQ_LOWEST_RECORD_ADDRESS - 1, UINTPTR_MAX};

TQXCRYPT_HANDLE *asHandle(uintptr_t value) { return reinterpret_cast<TQXCRYPT_HANDLE *>(value); }

// Records of other kinds, each on the heap so that a sanitizer sees every
// byte read past it. `kind` is the kind the entry takes: where a record has
// a word in the handle's kind field, it holds that kind.
struct Foreign {
    std::string what;
    std::shared_ptr<void> record;
    size_t size;
};

std::vector<Foreign> foreignRecords(int kind, const TQXCRYPT_HANDLE *live) {
    auto heap = [](size_t size) { return std::shared_ptr<void>(std::calloc(1, size), std::free); };
    std::vector<Foreign> out;
    // A token session as a native caller fills it.
    out.push_back({"a token session", heap(sizeof(TQXP11_SESSION)), sizeof(TQXP11_SESSION)});
    auto *session = static_cast<TQXP11_SESSION *>(out.back().record.get());
    session->spare = static_cast<uint64_t>(kind);
    session->sessionHandle = 1;
    // An object list whose first token object handle is a kind number and
    // whose label fills the words after it.
    out.push_back({"a token object list", heap(2 * sizeof(TQXP11_OBJECT)), 2 * sizeof(TQXP11_OBJECT)});
    auto *list = static_cast<TQXP11_OBJECT *>(out.back().record.get());
    list[0].handle = static_cast<CK_OBJECT_HANDLE>(kind);
    std::memset(list[0].label, 'L', sizeof list[0].label);
    // A live handle's bytes copied elsewhere: the object is live, the record is no handle.
    out.push_back({"a copy of a handle", heap(sizeof(TQXCRYPT_HANDLE)), sizeof(TQXCRYPT_HANDLE)});
    std::memcpy(out.back().record.get(), live, sizeof *live);
    static_cast<TQXCRYPT_HANDLE *>(out.back().record.get())->kind = kind;
    return out;
}

}  // namespace

TEST(HandleValues, SmallValuesAndOtherRecordsGive5005) {
    Live live;
    ASSERT_NE(live.cert.get(), nullptr);
    ASSERT_NE(live.p7.get(), nullptr);
    for (const Entry &entry : entries(live)) {
        SCOPED_TRACE(entry.name);
        for (uintptr_t value : kNoAddresses) {
            SCOPED_TRACE(value);
            EXPECT_EQ(entry.call(asHandle(value)), TQ_RTN_BAD_ARGUMENT);
        }
        for (const Foreign &f : foreignRecords(entry.kind, live.cert.get())) {
            SCOPED_TRACE(f.what);
            const std::vector<unsigned char> before(static_cast<unsigned char *>(f.record.get()),
                                                    static_cast<unsigned char *>(f.record.get()) + f.size);
            EXPECT_EQ(entry.call(static_cast<TQXCRYPT_HANDLE *>(f.record.get())), TQ_RTN_BAD_ARGUMENT);
            EXPECT_EQ(std::memcmp(before.data(), f.record.get(), f.size), 0) << "the record was written";
        }
    }
    // The entries still work on the live handles they were given beside.
    EXPECT_EQ(TQXCrypt_CheckKeyPair(live.key.get(), live.pub.get()), TQ_RTN_OK);
}

TEST(HandleValues, ReleaseIgnoresWhatIsNoHandle) {
    for (uintptr_t value : kNoAddresses) TQXCryptFreeHandle(asHandle(value));
    HandleOwner cert(decodeFixture(TQXCRYPT_KIND_CERTIFICATE, "objects/user.der"));
    for (int kind : {TQXCRYPT_KIND_CERTIFICATE, TQXCRYPT_KIND_STORE, TQXCRYPT_KIND_CIPHER}) {
        for (const Foreign &f : foreignRecords(kind, cert.get())) {
            SCOPED_TRACE(f.what + " as kind " + std::to_string(kind));
            const std::vector<unsigned char> before(static_cast<unsigned char *>(f.record.get()),
                                                    static_cast<unsigned char *>(f.record.get()) + f.size);
            // Freed or written, the allocator or the comparison would tell.
            TQXCryptFreeHandle(static_cast<TQXCRYPT_HANDLE *>(f.record.get()));
            EXPECT_EQ(std::memcmp(before.data(), f.record.get(), f.size), 0);
        }
    }
    // The certificate the copies pointed at is still whole.
    char *subject = nullptr;
    EXPECT_EQ(TQXCrypt_CertGetSubject(cert.get(), 0, &subject), TQ_RTN_OK);
    EXPECT_NE(subject, nullptr);
    TQCryptMemFree(subject);
}

// A table's operations given a live handle of another kind: the object is
// not read as what it is not. Encoding, signing and verifying refuse it
// (5006); the release leaves it alone, to be released through its own table.
TEST(HandleValues, TableOperationsTakeOnlyTheirOwnKind) {
    Live live;
    ASSERT_NE(live.key.get(), nullptr);
    ASSERT_NE(live.pub.get(), nullptr);
    // Kind 10 is also the OCSP request's.
    const unsigned char raw[8] = {1, 2, 3, 4, 5, 6, 7, 8}, iv[8] = {};
    HandleOwner cipher;
    ASSERT_EQ(TQXCrypt_CreateKey(TQXCRYPT_ALG_DES, raw, 8, iv, 8, 0, cipher.out()), TQ_RTN_OK);
    const struct {
        const char *name;
        const TQXCRYPT_ASN1_METHOD *table;
        TQXCRYPT_HANDLE *other;
    } cases[] = {
        {"certificate table, private key", tqxCryptASN1CertificateMethod(), live.key.get()},
        {"certificate table, PKCS#7", tqxCryptASN1CertificateMethod(), live.p7.get()},
        {"private-key table, public key", tqxCryptASN1PrivateKeyMethod(), live.pub.get()},
        {"public-key table, certificate", tqxCryptASN1PublicKeyMethod(), live.cert.get()},
        {"PKCS#7 table, certificate", tqxCryptASN1PKCS7Method(), live.cert.get()},
        {"PKCS#12 table, PKCS#7", tqxCryptASN1PKCS12Method(), live.p7.get()},
        {"request table, certificate", tqxCryptASN1CertRequestMethod(), live.cert.get()},
        {"CRL table, certificate", tqxCryptASN1CRLMethod(), live.cert.get()},
        {"OCSP request table, PKCS#7", tqxCryptASN1OCSPRequestMethod(), live.p7.get()},
        {"OCSP request table, cipher context", tqxCryptASN1OCSPRequestMethod(), cipher.get()},
        {"OCSP response table, certificate", tqxCryptASN1OCSPResponseMethod(), live.cert.get()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        BlobOwner out;
        EXPECT_EQ(c.table->encode(c.other, &out, 0, nullptr), TQ_RTN_WRONG_HANDLE);
        EXPECT_EQ(out.b.data, nullptr);
        if (c.table->sign) {
            EXPECT_EQ(c.table->sign(c.other, live.key.get(), 4), TQ_RTN_WRONG_HANDLE);
        }
        if (c.table->verify) {
            EXPECT_EQ(c.table->verify(c.other, live.pub.get(), 0), TQ_RTN_WRONG_HANDLE);
        }
        c.table->free(c.other);
    }
    // Each handle is whole after all: it still works, and its owner frees it once.
    EXPECT_EQ(TQXCrypt_CheckKeyPair(live.key.get(), live.pub.get()), TQ_RTN_OK);
    EXPECT_EQ(TQXCrypt_EncryptInit(cipher.get(), iv, 0), TQ_RTN_OK);
    int32_t count = 0;
    EXPECT_EQ(TQXCrypt_PKCS7GetCertificateCount(live.p7.get(), &count), TQ_RTN_OK);
    char *subject = nullptr;
    EXPECT_EQ(TQXCrypt_CertGetSubject(live.cert.get(), 0, &subject), TQ_RTN_OK);
    TQCryptMemFree(subject);
}

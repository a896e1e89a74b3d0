// The library allocator and its hooks, start-up and the identifiers it
// creates, the switches and the debug channel, handle release.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <openssl/objects.h>
#include <openssl/x509_vfy.h>

#include "testutil.h"

using namespace tqtest;

namespace {

std::atomic<int> g_allocs{0}, g_reallocs{0}, g_frees{0};
void *countingAlloc(size_t n) { ++g_allocs; return std::malloc(n); }
void *countingRealloc(void *p, size_t n) { ++g_reallocs; return std::realloc(p, n); }
void countingFree(void *p) { ++g_frees; std::free(p); }

struct HooksInstalled {
    HooksInstalled() {
        g_allocs = g_reallocs = g_frees = 0;
        TQCryptSetMemCallBack(countingAlloc, countingRealloc, countingFree);
    }
    ~HooksInstalled() { TQCryptSetMemCallBack(nullptr, nullptr, nullptr); }
};

std::string dotted(int nid) {
    char text[128] = {0};
    const ASN1_OBJECT *obj = OBJ_nid2obj(nid);
    if (!obj) return "";
    OBJ_obj2txt(text, sizeof text, obj, 1);
    return text;
}

}  // namespace

TEST(Allocator, EverythingHandedOutGoesThroughTheHooksAndComesBack) {
    Bytes der = readFile(fixture("objects/ca.der"));
    {
        HooksInstalled hooks;
        TQXCRYPT_HANDLE *cert = nullptr;
        ASSERT_EQ(TQXCrypt_DecodeObject(&cert, 1, der.data(), der.size(), 0, nullptr), 0);
        int armour = 1;
        TQXCRYPT_BLOB pem{0, nullptr}, back{0, nullptr};
        ASSERT_EQ(TQXCrypt_EncodeObject(cert, 1, &pem, TQXCRYPT_ENCODE_TEXT, &armour), 0);
        ASSERT_EQ(TQXCrypt_Decode(reinterpret_cast<char *>(pem.data), pem.length, &back, "CERTIFICATE"), 0);
        EXPECT_EQ(Bytes(back.data, back.data + back.length), der);
        char *hex = nullptr;
        int hexLength = 0;
        ASSERT_EQ(TQXCrypt_HexEncode(der.data(), 8, &hex, &hexLength), 0);
        EXPECT_GE(g_allocs.load(), 4);  // handle, PEM text, decoded bytes, hex text (and staging)
        TQCryptMemFree(hex);
        TQXCryptFreeBlob(&pem);
        TQXCryptFreeBlob(&back);
        TQXCryptFreeHandle(cert);
        EXPECT_EQ(g_allocs.load(), g_frees.load());
    }
}

TEST(Allocator, HooksThatPointBackFallBackToTheSystem) {
    TQCryptSetMemCallBack(TQCryptMemAlloc, TQCryptMemRealloc, TQCryptMemFree);
    void *p = TQCryptMemAlloc(32);
    ASSERT_NE(p, nullptr);
    p = TQCryptMemRealloc(p, 64);
    ASSERT_NE(p, nullptr);
    TQCryptMemFree(p);
    TQCryptMemFree(nullptr);
    TQCryptSetMemCallBack(nullptr, nullptr, nullptr);
}

TEST(Allocator, SecureBlocksKeepTheirContentAndTheirOwnRoutines) {
    HooksInstalled hooks;  // the library hooks must not be used by these blocks
    auto *p = static_cast<unsigned char *>(XTQSecureMemAlloc(10));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 10; ++i) p[i] = static_cast<unsigned char>(i + 1);
    p = static_cast<unsigned char *>(XTQSecureMemRealloc(p, 100));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(p[i], i + 1);
    std::memset(p, 0, 100);  // the whole new size is usable
    XTQSecureMemFree(p);
    XTQSecureMemFree(nullptr);
    void *fresh = XTQSecureMemRealloc(nullptr, 5);
    ASSERT_NE(fresh, nullptr);
    XTQSecureMemFree(fresh);
    EXPECT_EQ(g_allocs.load() + g_reallocs.load() + g_frees.load(), 0);
}

TEST(Startup, ConcurrentAndRepeatedInitialisationNamesTheIdentifiers) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 16; ++i)
        threads.emplace_back([] {
            for (int j = 0; j < 50; ++j) TQXCryptInitialize();
        });
    for (auto &t : threads) t.join();
    struct {
        const int *nid;
        const char *dotted;
    } objects[] = {
        {&NID_ms_scard_logon, "1.3.6.1.4.1.311.20.2.2"}, {&NID_szOID_SUBJECT_DIR_ATTRS, "2.5.29.9"},
        {&NID_szTailOfCitizenID, "2.16.886.1.100.2.51"}, {&NID_szSUBJECTTYPE, "2.16.886.1.100.2.1"},
        {&NID_szORGANIZATIONID, "2.16.886.1.100.2.101"}, {&NID_szCardRank, "2.16.886.1.100.2.2"},
        {&NID_szEntityOID, "2.16.886.1.100.2.102"},      {&NID_szEmail, "1.2.840.113549.1.9.1"},
    };
    for (int round = 0; round < 2; ++round) {
        for (auto &o : objects) {
            EXPECT_NE(*o.nid, 0) << o.dotted;
            EXPECT_EQ(dotted(*o.nid), o.dotted);
        }
        EXPECT_EQ(NID_szOID_SUBJECT_DIR_ATTRS_NA, 0);
        TQXCryptRelease();
        TQXCryptRelease();  // a second release does nothing
        TQXCryptInitialize();
    }
    // Single DES lives in the legacy provider, which start-up loads.
    EVP_CIPHER *des = EVP_CIPHER_fetch(nullptr, "DES-CBC", nullptr);
    EXPECT_NE(des, nullptr);
    EVP_CIPHER_free(des);
}

TEST(Switches, KeyUsageAndDebugOutput) {
    EXPECT_EQ(tqxCryptCheckKeyUsage(), 1);
    EXPECT_EQ(TQXCryptCheckKeyUsage(0), 0);
    EXPECT_EQ(tqxCryptCheckKeyUsage(), 0);
    TQXCryptCheckKeyUsage(1);

    testing::internal::CaptureStdout();
    TQXCryptDebugMessage("%s:%d\n%s", "source.cpp", 1141, "ERR_R_MALLOC_FAILURE");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(TQXCryptShowDebugMessage(1), 1);
    testing::internal::CaptureStdout();
    TQXCryptDebugMessage("%s:%d\n%s", "source.cpp", 1141, "ERR_R_MALLOC_FAILURE");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "source.cpp:1141\nERR_R_MALLOC_FAILURE");
    TQXCryptShowDebugMessage(0);
}

TEST(Handles, ChecksAndRelease) {
    TQXCryptFreeHandle(nullptr);
    HandleOwner cert(decodeFixture(1, "objects/ca.der"));
    void *object = nullptr;
    EXPECT_EQ(tqxCryptGetHandle(&object, nullptr, 1), 5005);
    EXPECT_EQ(tqxCryptGetHandle(nullptr, cert.get(), 1), 5005);
    EXPECT_EQ(tqxCryptGetHandle(&object, cert.get(), 3), 5006);
    ASSERT_EQ(tqxCryptGetHandle(&object, cert.get(), 1), 0);
    EXPECT_EQ(object, cert.get()->object);
    TQXCRYPT_HANDLE empty{3, nullptr, nullptr, nullptr};
    EXPECT_EQ(tqxCryptGetHandle(&object, &empty, 1), 5005);  // no object: 5005 whatever the kind
    void *extra = nullptr;
    EXPECT_EQ(tqxCryptGetHandleEx(&extra, cert.get(), 1), 5005);  // a certificate has no extra
    HandleOwner key(decodeFixture(6, "objects/user.rsa.der"));
    ASSERT_EQ(tqxCryptGetHandleEx(&extra, key.get(), 6), 0);
    EXPECT_EQ(extra, tqxCryptRSAPriMethod());
    EXPECT_EQ(tqxCryptGetHandleEx(&extra, key.get(), 7), 5006);

    // Handles without a table release their objects themselves.
    TQXCRYPT_HANDLE *store = nullptr;
    ASSERT_EQ(tqxCryptCreateHandle(&store, 8, X509_STORE_new(), nullptr, nullptr), 0);
    TQXCryptFreeHandle(store);
    TQXCRYPT_HANDLE *digest = nullptr;
    ASSERT_EQ(tqxCryptCreateHandle(&digest, 9, EVP_MD_CTX_new(), nullptr, nullptr), 0);
    TQXCryptFreeHandle(digest);
}

TEST(Keys, SizeTypeAndFlagsThroughTheMethodTables) {
    HandleOwner pri(decodeFixture(6, "objects/user.rsa.der"));
    HandleOwner pub(decodeFixture(7, "objects/user.pub.der"));
    for (TQXCRYPT_HANDLE *h : {pri.get(), pub.get()}) {
        auto *methods = static_cast<const TQXCRYPT_KEY_METHOD *>(h->extra);
        ASSERT_NE(methods, nullptr);
        EXPECT_EQ(methods->keySize(h), 256);
        EXPECT_EQ(methods->keyType(h), 6);
        EXPECT_EQ(methods->flags(), -1);
    }
    EXPECT_EQ(pub.get()->extra, tqxCryptRSAPubMethod());
    EXPECT_EQ(TQXCrypt_KeyType(nullptr), 0);
    EXPECT_EQ(TQXCrypt_KeySize(nullptr), 0);
}

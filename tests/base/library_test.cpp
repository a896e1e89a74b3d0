// The library allocator and its hooks, start-up and the identifiers it
// creates, the switches and the debug channel, handle release.
#define OPENSSL_SUPPRESS_DEPRECATED  // the method digest of the alias test
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509_vfy.h>

#include "testutil.h"

using namespace tqtest;

namespace {

std::atomic<int> g_allocs{0}, g_reallocs{0}, g_frees{0};
// Blocks the hooks handed out and have not taken back.
std::mutex g_liveLock;
std::set<void *> g_live;
void *countingAlloc(size_t n) {
    ++g_allocs;
    void *p = std::malloc(n);
    std::lock_guard<std::mutex> lock(g_liveLock);
    if (p) g_live.insert(p);
    return p;
}
void *countingRealloc(void *p, size_t n) {
    ++g_reallocs;
    void *q = std::realloc(p, n);
    std::lock_guard<std::mutex> lock(g_liveLock);
    if (q) {
        g_live.erase(p);
        g_live.insert(q);
    }
    return q;
}
void countingFree(void *p) {
    ++g_frees;
    {
        std::lock_guard<std::mutex> lock(g_liveLock);
        // A block the hooks never made must not come back through them.
        EXPECT_EQ(g_live.erase(p), 1u);
    }
    std::free(p);
}
bool fromHooks(const void *p) {
    std::lock_guard<std::mutex> lock(g_liveLock);
    return g_live.count(const_cast<void *>(p)) == 1;
}

struct HooksInstalled {
    HooksInstalled() {
        g_allocs = g_reallocs = g_frees = 0;
        g_live.clear();
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
        for (const void *p : {static_cast<const void *>(cert), static_cast<const void *>(pem.data),
                              static_cast<const void *>(back.data), static_cast<const void *>(hex)})
            EXPECT_TRUE(fromHooks(p));
        TQCryptMemFree(hex);
        TQXCryptFreeBlob(&pem);
        TQXCryptFreeBlob(&back);
        TQXCryptFreeHandle(cert);
        EXPECT_EQ(g_allocs.load(), g_frees.load());
        std::lock_guard<std::mutex> lock(g_liveLock);
        EXPECT_TRUE(g_live.empty());
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

// OpenSSL itself names MD5, SHA-1, RIPEMD-160 and the ciphers by these
// aliases already; only the DSA-with-SHA-1 digest needs ours.
TEST(Startup, AddedDigestGetsItsAliases) {
    TQXCryptInitialize();
    // Registered names outlive the test: the digest stays for the process.
    static EVP_MD *dss = EVP_MD_meth_new(NID_dsa, NID_dsaWithSHA1);
    ASSERT_NE(dss, nullptr);
    TQXCryptAddDigest(dss);
    for (const char *alias : {"DSA-SHA1-old", "DSS1", "dss1"})
        EXPECT_EQ(OBJ_NAME_get(alias, OBJ_NAME_TYPE_MD_METH), reinterpret_cast<const char *>(dss)) << alias;
    TQXCryptAddDigest(nullptr);
    TQXCryptAddCipher(nullptr);
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
    EXPECT_EQ(tqxCryptGetHandle(&object, nullptr, 1), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(tqxCryptGetHandle(nullptr, cert.get(), 1), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(tqxCryptGetHandle(&object, cert.get(), 3), TQ_RTN_WRONG_HANDLE);
    ASSERT_EQ(tqxCryptGetHandle(&object, cert.get(), 1), 0);
    EXPECT_EQ(object, cert.get()->object);
    HandleOwner empty(tqtest::emptyHandle(3));
    EXPECT_EQ(tqxCryptGetHandle(&object, empty.get(), 1),
              TQ_RTN_BAD_ARGUMENT);  // no object: TQ_RTN_BAD_ARGUMENT whatever the kind
    void *extra = nullptr;
    EXPECT_EQ(tqxCryptGetHandleEx(&extra, cert.get(), 1), TQ_RTN_BAD_ARGUMENT);  // a certificate has no extra
    HandleOwner key(decodeFixture(6, "objects/user.rsa.der"));
    ASSERT_EQ(tqxCryptGetHandleEx(&extra, key.get(), 6), 0);
    EXPECT_EQ(extra, tqxCryptRSAPriMethod());
    EXPECT_EQ(tqxCryptGetHandleEx(&extra, key.get(), 7), TQ_RTN_WRONG_HANDLE);

    // Handles without a table release their objects themselves.
    TQXCRYPT_HANDLE *store = nullptr;
    ASSERT_EQ(tqxCryptCreateHandle(&store, 8, X509_STORE_new(), nullptr, nullptr), 0);
    TQXCryptFreeHandle(store);
    TQXCRYPT_HANDLE *digest = nullptr;
    ASSERT_EQ(tqxCryptCreateHandle(&digest, 9, EVP_MD_CTX_new(), nullptr, nullptr), 0);
    TQXCryptFreeHandle(digest);

    // Releasing through a method table clears the thread's error queue.
    ERR_clear_error();
    ERR_raise(ERR_LIB_X509, X509_R_CERT_ALREADY_IN_HASH_TABLE);
    TQXCryptFreeHandle(cert.release());
    EXPECT_EQ(ERR_peek_error(), 0u);
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

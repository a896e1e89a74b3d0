// Allocation failures inside the store operations: each allocation in turn
// fails once. A failed call leaves its handles and the store as they were
// and says so; a successful call has done all of its work. The sanitizer
// build proves that no path leaks.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include <openssl/crypto.h>

#include "store_support.h"

using namespace storetest;
using tqtest::HandleOwner;

namespace {

// Allocations to let through before one fails; -1: none fails.
std::atomic<long> g_countdown{-1};

bool failNow() {
    long c = g_countdown.load();
    if (c < 0) return false;
    if (c == 0) {
        g_countdown = -1;
        return true;
    }
    g_countdown = c - 1;
    return false;
}

void *failingMalloc(size_t n, const char *, int) { return failNow() ? nullptr : std::malloc(n); }
void *failingRealloc(void *p, size_t n, const char *, int) {
    return failNow() ? nullptr : std::realloc(p, n);
}
void plainFree(void *p, const char *, int) { std::free(p); }
void *failingAlloc(size_t n) { return failNow() ? nullptr : std::malloc(n); }
void *failingRealloc2(void *p, size_t n) { return failNow() ? nullptr : std::realloc(p, n); }

// Runs op with allocation k failing; tells whether the failure was reached.
template <class Op>
int withFailure(long k, bool *reached, Op op) {
    g_countdown = k;
    int rc = op();
    *reached = g_countdown.load() < 0;
    g_countdown = -1;
    return rc;
}

// Calls test(k, &reached) for k = 0, 1, ... until a run reaches no failure.
template <class Test>
void eachAllocationFails(Test test) {
    for (long k = 0; k < 20000; ++k) {
        bool reached = false;
        test(k, &reached);
        if (!reached) return;
    }
    ADD_FAILURE() << "the operation kept allocating";
}

const Files kStore = {"root.pem", "inter.pem"};

TEST(StoreMemory, AddCertificate) {
    bool sawFailure = false;
    eachAllocationFails([&](long k, bool *reached) {
        SCOPED_TRACE(k);
        HandleOwner store, cert(decodePem(TQXCRYPT_KIND_CERTIFICATE, "inter.pem"));
        ASSERT_EQ(loadStore(store, {"root.pem"}, {}), 0);
        void *object = cert.get()->object;
        int rc = withFailure(k, reached, [&] { return TQXCrypt_AddCertToStore(store.get(), cert.get()); });
        if (!*reached) {
            EXPECT_EQ(rc, 0);
        }
        if (rc == 0) {
            EXPECT_EQ(cert.get()->object, nullptr);
            EXPECT_EQ(countObjects(storeOf(store), X509_LU_X509), 2);
        } else {
            sawFailure = true;
            EXPECT_EQ(rc, TQ_RTN_MEMORY_ALLOCATE_FAIL);
            EXPECT_EQ(cert.get()->object, object);
            EXPECT_EQ(countObjects(storeOf(store), X509_LU_X509), 1);
        }
    });
    EXPECT_TRUE(sawFailure);
}

// The helper answers 1 or 0 only, as its callers test it: a refusal for want
// of memory is a refusal.
TEST(StoreMemory, AddCertHelper) {
    bool sawRefusal = false;
    eachAllocationFails([&](long k, bool *reached) {
        SCOPED_TRACE(k);
        HandleOwner store, cert(decodePem(TQXCRYPT_KIND_CERTIFICATE, "inter.pem"));
        ASSERT_EQ(loadStore(store, {"root.pem"}, {}), 0);
        int rc = withFailure(k, reached,
                             [&] { return tqxCrypt_X509_STORE_add_cert1(storeOf(store), certOf(cert)); });
        EXPECT_TRUE(rc == 0 || rc == 1) << rc;
        if (rc == 0) sawRefusal = true;
        EXPECT_EQ(countObjects(storeOf(store), X509_LU_X509), rc == 1 ? 2 : 1);
    });
    EXPECT_TRUE(sawRefusal);
}

TEST(StoreMemory, AddCrl) {
    bool sawMemoryCode = false;
    eachAllocationFails([&](long k, bool *reached) {
        SCOPED_TRACE(k);
        HandleOwner store, crl(decodePem(TQXCRYPT_KIND_CRL, "crl.inter.pem"));
        ASSERT_EQ(loadStore(store, kStore, {}), 0);
        void *object = crl.get()->object;
        int rc = withFailure(k, reached, [&] { return TQXCrypt_AddCRLToStore(store.get(), crl.get()); });
        if (!*reached) {
            EXPECT_EQ(rc, 0);
        }
        if (rc == 0) {
            EXPECT_EQ(crl.get()->object, nullptr);
            EXPECT_EQ(countObjects(storeOf(store), X509_LU_CRL), 1);
        } else {
            // Admission may fail on the way too; never with the CRL half taken.
            if (rc == TQ_RTN_MEMORY_ALLOCATE_FAIL) sawMemoryCode = true;
            EXPECT_EQ(crl.get()->object, object);
            EXPECT_EQ(countObjects(storeOf(store), X509_LU_CRL), 0);
        }
    });
    EXPECT_TRUE(sawMemoryCode);
}

TEST(StoreMemory, LoadStore) {
    const std::string certs = pemList(kStore), crls = pemList({"crl.inter.pem"});
    int failures = 0;
    eachAllocationFails([&](long k, bool *reached) {
        SCOPED_TRACE(k);
        TQXCRYPT_HANDLE *out = nullptr;
        int rc =
            withFailure(k, reached, [&] { return TQXCrypt_LoadStore(&out, certs.c_str(), crls.c_str()); });
        HandleOwner store(out);
        if (!*reached) {
            EXPECT_EQ(rc, 0);
        }
        if (rc == 0) {
            // Success means everything is in: nothing silently missing.
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(countObjects(storeOf(store), X509_LU_X509), 2);
            EXPECT_EQ(countObjects(storeOf(store), X509_LU_CRL), 1);
        } else {
            ++failures;
            EXPECT_EQ(out, nullptr);
        }
    });
    EXPECT_GT(failures, 0);
}

// A failure may show as another verification error, never as a pass: here
// a revoked leaf, and a leaf under a revoked intermediate.
TEST(StoreMemory, VerifyCertChain) {
    struct Row {
        const char *leaf;
        Files certs, crls;
        int expected;
    } rows[] = {
        {"rev-keyCompromise.leaf.pem", kStore, {"crl.inter.pem"}, TQ_RTN_REVOKED_KEY_COMPROMISE},
        {"revinter.leaf.pem",
         {"root.pem", "revinter.pem"},
         {"crl.root.pem", "crl.revinter.pem"},
         TQ_RTN_REVOKED_CA_COMPROMISE},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.leaf);
        HandleOwner store;
        ASSERT_EQ(loadStore(store, row.certs, row.crls), 0);
        eachAllocationFails([&](long k, bool *reached) {
            SCOPED_TRACE(k);
            HandleOwner leaf(decodePem(TQXCRYPT_KIND_CERTIFICATE, row.leaf));
            int rc = withFailure(k, reached, [&] {
                return TQXCrypt_VerifyCertChain(leaf.get(), store.get(), TQXCRYPT_VERIFY_CRL, 0);
            });
            EXPECT_NE(rc, 0);
            if (!*reached) {
                EXPECT_EQ(rc, row.expected);
            }
        });
    }
}

}  // namespace

int main(int argc, char **argv) {
    // Before OpenSSL's first allocation: afterwards it refuses new routines.
    if (!CRYPTO_set_mem_functions(failingMalloc, failingRealloc, plainFree)) {
        std::fprintf(stderr, "cannot install the allocation routines\n");
        return 1;
    }
    TQCryptSetMemCallBack(failingAlloc, failingRealloc2, std::free);
    ::testing::InitGoogleTest(&argc, argv);
    // Start-up work that happens once per process is done before any failure.
    {
        HandleOwner store;
        if (loadStore(store, kStore, {"crl.inter.pem"}) != 0) return 1;
        HandleOwner leaf(decodePem(TQXCRYPT_KIND_CERTIFICATE, "good.leaf.pem"));
        if (TQXCrypt_VerifyCertChain(leaf.get(), store.get(), TQXCRYPT_VERIFY_CRL, 0) != 0) return 1;
    }
    return RUN_ALL_TESTS();
}

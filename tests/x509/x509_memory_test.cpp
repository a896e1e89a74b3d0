// Allocation through the host's hooks: every string, blob, list and handle
// the readers hand out is seen allocated and freed; failing each allocation
// in turn gives 5002 with the output untouched (a list left empty) and
// nothing left behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <set>

#include "x509_support.h"

using namespace x509test;

namespace {

std::set<void *> g_live;
long g_allocations = 0;
long g_failAt = -1;  // the allocation that fails; -1: none
long g_strayFrees = 0;

void *countingAlloc(size_t n) {
    if (g_allocations++ == g_failAt) return nullptr;
    void *p = std::malloc(n ? n : 1);
    if (p) g_live.insert(p);
    return p;
}

void *countingRealloc(void *p, size_t n) {
    if (g_allocations++ == g_failAt) return nullptr;
    if (p) g_live.erase(p);
    void *q = std::realloc(p, n ? n : 1);
    if (q) g_live.insert(q);
    return q;
}

void countingFree(void *p) {
    if (!p) return;
    if (!g_live.erase(p)) ++g_strayFrees;
    std::free(p);
}

// What an operation hands out, and how it is released and checked.
struct Output {
    char *text = reinterpret_cast<char *>(0x1);
    TQXCRYPT_BLOB blob{0, nullptr};
    TQXCRYPT_ATTRIBUTES list{0, nullptr};
    TQXCRYPT_HANDLE *handle = nullptr;
    bool untouched() const {
        return text == reinterpret_cast<char *>(0x1) && !blob.data && blob.length == 0 && !list.items &&
               list.count == 0 && !handle;
    }
    void release() {
        if (text != reinterpret_cast<char *>(0x1)) TQCryptMemFree(text);
        text = reinterpret_cast<char *>(0x1);
        TQXCryptFreeBlob(&blob);
        TQXCryptFreeAttributes(&list);
        TQXCryptFreeAttributes(&list);  // a second release is harmless
        TQXCryptFreeHandle(handle);
        handle = nullptr;
    }
};

using Operation = std::function<int(TQXCRYPT_HANDLE *cert, Output &out)>;

struct Case {
    std::string name;
    const char *file;
    Operation run;
    bool summary = false;  // the text is the last allocation, and its failure leaves null
};

std::vector<Case> cases() {
    std::vector<Case> all = {
        {"subject", "names.pem",
         [](TQXCRYPT_HANDLE *c, Output &o) { return TQXCrypt_CertGetSubject(c, 0, &o.text); }},
        {"issuer", "mv.der",
         [](TQXCRYPT_HANDLE *c, Output &o) { return TQXCrypt_CertGetIssuer(c, 0, &o.text); }},
        {"algorithm", "ca.pem",
         [](TQXCRYPT_HANDLE *c, Output &o) { return TQXCrypt_CertGetSignatureAlgorithm(c, 0, &o.text); }},
        {"serial", "serial.0x7FFFFFFFFFFFFFFF.pem",
         [](TQXCRYPT_HANDLE *c, Output &o) { return TQXCrypt_CertGetSerialNumber(c, 0, &o.blob); }},
        {"public key", "ec.pem",
         [](TQXCRYPT_HANDLE *c, Output &o) { return TQXCrypt_CertGetPublicKey(c, &o.handle); }},
        {"national", "ext.national.pem",
         [](TQXCRYPT_HANDLE *c, Output &o) {
             return TQXCrypt_CertGetSubjectDirectoryAttrs(c, "2.16.886.1.100.2.1", 0, &o.blob);
         }},
    };
    const struct {
        const char *file;
        const char *type;
        bool list;
    } extensions[] = {
        {"ext.full.pem", "subjectAltName", true},
        {"ext.full.pem", "issuerAltName", true},
        {"ext.full.pem", "basicConstraints", true},
        {"ext.full.pem", "certificatePolicies", true},
        {"ext.full.pem", "authorityKeyIdentifier", true},
        {"ext.full.pem", "crlDistributionPoints", true},
        {"ext.full.pem", "authorityInfoAccess", true},
        {"ext.special.pem", "crlDistributionPoints", true},
        {"ext.special.pem", "subjectAltName", true},
        {"qualifier.der", "certificatePolicies", true},
        {"ext.full.pem", "keyUsage", false},
        {"ext.full.pem", "extendedKeyUsage", false},
        {"ext.full.pem", "subjectKeyIdentifier", false},
        {"ext.full.pem", "nsCertType", false},
    };
    for (const auto &e : extensions) {
        std::string type = e.type;
        bool list = e.list;
        all.push_back({std::string(e.file) + " " + type, e.file, [type, list](TQXCRYPT_HANDLE *c, Output &o) {
                           return TQXCrypt_CertGetExtension(
                               c, type.c_str(), 0, list ? static_cast<void *>(&o.list) : &o.blob, nullptr);
                       }});
    }
    for (int selector = 1; selector <= 8; ++selector)
        all.push_back({"summary " + std::to_string(selector), "ext.kdra.pem",
                       [selector](TQXCRYPT_HANDLE *c, Output &o) {
                           return TQXCrypt_CertGetKDRAExtension(c, selector, &o.text);
                       },
                       true});
    return all;
}

TEST(Allocation, HooksSeeEverythingAllocatedAndFreed) {
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.name);
        HandleOwner cert(x509test::cert(c.file));
        size_t before = g_live.size();
        long allocations = g_allocations;
        Output out;
        ASSERT_EQ(c.run(cert.get(), out), TQ_RTN_OK);
        EXPECT_GT(g_allocations, allocations);
        EXPECT_GT(g_live.size(), before);
        out.release();
        EXPECT_EQ(g_live.size(), before);
    }
    EXPECT_EQ(g_strayFrees, 0);
}

// An empty list is no allocation: nothing to fail, nothing to release.
TEST(Allocation, EmptyListsAllocateNothing) {
    const struct {
        const char *file, *type;
    } rows[] = {{"ext.empty.pem", "subjectAltName"},
                {"ext.empty.pem", "crlDistributionPoints"},
                {"ext.empty.pem", "certificatePolicies"},
                {"ext.empty.pem", "authorityInfoAccess"},
                {"akid_empty.der", "authorityKeyIdentifier"}};
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.file) + " " + row.type);
        HandleOwner cert(x509test::cert(row.file));
        TQXCRYPT_ATTRIBUTES list{0, nullptr};
        long allocations = g_allocations;
        EXPECT_EQ(TQXCrypt_CertGetExtension(cert.get(), row.type, 0, &list, nullptr), TQ_RTN_OK);
        EXPECT_EQ(g_allocations, allocations);
        EXPECT_EQ(list.items, nullptr);
        EXPECT_EQ(list.count, 0);
    }
}

TEST(Allocation, EachFailureGivesTheMemoryCodeAndLeavesNothing) {
    long failures = 0;
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.name);
        HandleOwner cert(x509test::cert(c.file));
        // How many allocations a successful call makes.
        long start = g_allocations;
        Output reference;
        ASSERT_EQ(c.run(cert.get(), reference), TQ_RTN_OK);
        long needed = g_allocations - start;
        reference.release();
        for (long k = 0; k < needed; ++k) {
            SCOPED_TRACE(k);
            size_t before = g_live.size();
            g_failAt = g_allocations + k;
            Output out;
            int rc = c.run(cert.get(), out);
            g_failAt = -1;
            ++failures;
            EXPECT_EQ(rc, TQ_RTN_MEMORY_ALLOCATE_FAIL);
            if (c.summary && k == needed - 1) {
                EXPECT_EQ(out.text, nullptr);  // the text itself failed
                out.text = reinterpret_cast<char *>(0x1);
            }
            EXPECT_TRUE(out.untouched());
            EXPECT_EQ(g_live.size(), before) << "left allocated";
            out.release();
        }
    }
    EXPECT_GT(failures, 100);
    EXPECT_EQ(g_strayFrees, 0);
}

}  // namespace

int main(int argc, char **argv) {
    // Before any allocation of the library, so every block passes the hooks.
    TQCryptSetMemCallBack(countingAlloc, countingRealloc, countingFree);
    TQXCryptInitialize();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

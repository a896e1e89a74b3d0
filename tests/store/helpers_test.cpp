// The issuer chain of a certificate, the leaf of a list and key-usage bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include <openssl/pem.h>

#include "store_support.h"

using namespace storetest;
using tqtest::HandleOwner;

namespace {

constexpr int kWholeChain = 0x200;

std::string subjectLine(X509 *x) {
    BIO *bio = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(bio, X509_get_subject_name(x), 0, XN_FLAG_ONELINE);
    char *data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string s(data, static_cast<size_t>(n));
    BIO_free(bio);
    return s;
}

// The subjects of the chain that `openssl verify -show_chain` builds, leaf first.
std::vector<std::string> opensslChain(const std::string &leaf, const Files &trusted, const Files &untrusted) {
    tqtest::TempDir dir;
    tqtest::writeFile(dir.file("t.pem"), pemList(trusted));
    std::string cmd = "openssl verify -show_chain -no-CApath -no-CAstore -CAfile " + dir.file("t.pem");
    if (!untrusted.empty()) {
        tqtest::writeFile(dir.file("u.pem"), pemList(untrusted));
        cmd += " -untrusted " + dir.file("u.pem");
    }
    std::istringstream out(tqtest::run(cmd + " " + chainFile(leaf) + " 2>&1"));
    std::vector<std::string> subjects;
    for (std::string line; std::getline(out, line);) {
        if (line.rfind("depth=", 0) != 0) continue;
        std::string subject = line.substr(line.find(": ") + 2);
        size_t mark = subject.find(" (untrusted)");
        if (mark != std::string::npos) subject.erase(mark);
        subjects.push_back(subject);
    }
    return subjects;
}

struct Chain {
    int rc = -1;
    int count = -1;
    STACK_OF(X509) *certs = nullptr;
    ~Chain() { sk_X509_pop_free(certs, X509_free); }
    std::vector<std::string> subjects() const {
        std::vector<std::string> s;
        for (int i = 0; i < sk_X509_num(certs); ++i) s.push_back(subjectLine(sk_X509_value(certs, i)));
        return s;
    }
};

void buildChain(Chain &chain, const Files &storeCerts, const std::string &leaf, int flags) {
    HandleOwner store;
    ASSERT_EQ(loadStore(store, storeCerts, {}), 0);
    X509 *x = readCert(leaf);
    chain.rc = tqxCryptGetCertificateChain(storeOf(store), x, flags, &chain.certs, &chain.count);
    X509_free(x);
}

TEST(StoreIssuerChain, MatchesOpensslChain) {
    struct Row {
        const char *leaf;
        Files store;
        Files opensslTrusted, opensslUntrusted;
    } rows[] = {
        {"good.leaf.pem", {"root.pem", "inter.pem"}, {"root.pem"}, {"inter.pem"}},
        {"inter2.leaf.pem",
         {"root.pem", "inter.pem", "inter2.pem"},
         {"root.pem"},
         {"inter.pem", "inter2.pem"}},
        {"root-leaf.leaf.pem", {"root.pem"}, {"root.pem"}, {}},
        {"inter.pem", {"root.pem"}, {"root.pem"}, {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.leaf);
        Chain chain;
        buildChain(chain, row.store, row.leaf, kWholeChain);
        ASSERT_EQ(chain.rc, 0);
        std::vector<std::string> theirs = opensslChain(row.leaf, row.opensslTrusted, row.opensslUntrusted);
        EXPECT_EQ(chain.subjects(), theirs);
        EXPECT_EQ(chain.count, static_cast<int>(theirs.size()));
    }
    // Of two issuers with one name, the one whose key signed.
    Chain chain;
    buildChain(chain, {"root.pem", "inter.pem", "inter2.pem"}, "inter2.leaf.pem", kWholeChain);
    X509 *inter2 = readCert("inter2.pem");
    ASSERT_EQ(chain.count, 3);
    EXPECT_EQ(X509_cmp(sk_X509_value(chain.certs, 1), inter2), 0);
    X509_free(inter2);
}

// A self-issued certificate is its chain on its own, in the store or not.
TEST(StoreIssuerChain, SelfIssuedOnce) {
    for (const Files &store : {Files{"root.pem"}, Files{}}) {
        Chain chain;
        buildChain(chain, store, "root.pem", kWholeChain);
        EXPECT_EQ(chain.rc, 0);
        EXPECT_EQ(chain.count, 1);
        EXPECT_EQ(sk_X509_num(chain.certs), 1);
    }
}

TEST(StoreIssuerChain, IncompleteChain) {
    Chain whole;
    buildChain(whole, {"inter.pem"}, "good.leaf.pem", kWholeChain);
    EXPECT_EQ(whole.rc, TQ_RTN_NO_ISSUER);
    EXPECT_EQ(whole.certs, nullptr);
    Chain partial;
    buildChain(partial, {"inter.pem"}, "good.leaf.pem", 0);
    EXPECT_EQ(partial.rc, 0);
    EXPECT_EQ(partial.count, 2);
    EXPECT_EQ(partial.subjects(), (std::vector<std::string>{"CN = Good Leaf", "CN = Chain Intermediate"}));
    Chain none;
    buildChain(none, {}, "good.leaf.pem", 0);
    EXPECT_EQ(none.count, 1);
    // Issuers in a ring: the walk stops at a bound.
    Chain ring;
    buildChain(ring, {"ring.x.pem", "ring.y.pem"}, "ring.leaf.pem", kWholeChain);
    EXPECT_EQ(ring.rc, TQ_RTN_NO_ISSUER);
    Chain ringPartial;
    buildChain(ringPartial, {"ring.x.pem", "ring.y.pem"}, "ring.leaf.pem", 0);
    EXPECT_EQ(ringPartial.rc, 0);
    EXPECT_EQ(ringPartial.count, 100);

    HandleOwner store;
    ASSERT_EQ(loadStore(store, {"root.pem"}, {}), 0);
    X509 *x = readCert("inter.pem");
    EXPECT_EQ(tqxCryptGetCertificateChain(storeOf(store), x, 0, nullptr, nullptr), TQ_RTN_BAD_ARGUMENT);
    STACK_OF(X509) *out = nullptr;
    EXPECT_EQ(tqxCryptGetCertificateChain(storeOf(store), x, 0, &out, nullptr), 0);
    EXPECT_EQ(sk_X509_num(out), 2);
    sk_X509_pop_free(out, X509_free);
    X509_free(x);
}

TEST(StoreLeaf, OfEveryOrder) {
    std::vector<std::string> files = {"root.pem", "inter.pem", "good.leaf.pem"};
    std::sort(files.begin(), files.end());
    do {
        STACK_OF(X509) *list = sk_X509_new_null();
        for (const auto &f : files) sk_X509_push(list, readCert(f));
        X509 *leaf = tqxCryptGetLeafCert(list);
        ASSERT_NE(leaf, nullptr);
        EXPECT_EQ(subjectLine(leaf), "CN = Good Leaf");
        sk_X509_pop_free(list, X509_free);
    } while (std::next_permutation(files.begin(), files.end()));

    struct Row {
        Files list;
        const char *leaf;  // null: none
    } rows[] = {
        {{"lone.pem"}, "C = TW, O = Orvane Test, CN = Lone"},
        {{"root.pem"}, "CN = Chain Root"},
        {{"root.pem", "foreign.pem"}, nullptr},
        {{"inter.pem", "root.pem"}, "CN = Chain Intermediate"},
    };
    for (const auto &row : rows) {
        STACK_OF(X509) *list = sk_X509_new_null();
        for (const auto &f : row.list) sk_X509_push(list, readCert(f));
        X509 *leaf = tqxCryptGetLeafCert(list);
        if (row.leaf) {
            ASSERT_NE(leaf, nullptr);
            EXPECT_EQ(subjectLine(leaf), row.leaf);
        } else {
            EXPECT_EQ(leaf, nullptr);
        }
        sk_X509_pop_free(list, X509_free);
    }
}

TEST(StoreKeyUsage, Bits) {
    struct Row {
        const char *cert;
        int rc, bits;
    } rows[] = {
        {"good.leaf.pem", 0, 0xC0},
        {"root.pem", 0, 0x06},
        {"alice.pem", TQ_RTN_NOT_PRESENT, 0},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.cert);
        X509 *x = readCert(row.cert);
        int bits = -1;
        EXPECT_EQ(tqxCryptGetCertificateKeyUsage(x, &bits), row.rc);
        EXPECT_EQ(bits, row.bits);
        X509_free(x);
    }
}

}  // namespace

// Building and growing a store: PEM lists, certificate and CRL admission,
// the replacement of equivalent CRLs and the two CRL lookups.
#include <gtest/gtest.h>

#include <functional>

#include <openssl/err.h>

#include "store_support.h"

using namespace storetest;
using tqtest::HandleOwner;

namespace {

const Files kStore = {"root.pem", "inter.pem"};

int certCount(const HandleOwner &store) { return countObjects(storeOf(store), X509_LU_X509); }
int crlCount(const HandleOwner &store) { return countObjects(storeOf(store), X509_LU_CRL); }

int verify(const HandleOwner &store, const char *leaf, int flags = TQXCRYPT_VERIFY_CRL) {
    HandleOwner cert(decodePem(TQXCRYPT_KIND_CERTIFICATE, leaf));
    return TQXCrypt_VerifyCertChain(cert.get(), store.get(), flags, 0);
}

int addCrl(HandleOwner &store, const char *file) {
    HandleOwner crl(decodePem(TQXCRYPT_KIND_CRL, file));
    return TQXCrypt_AddCRLToStore(store.get(), crl.get());
}

TEST(StoreLoad, ListsAndTheirFaults) {
    HandleOwner store;
    EXPECT_EQ(TQXCrypt_LoadStore(nullptr, nullptr, nullptr), TQ_RTN_BAD_ARGUMENT);

    EXPECT_EQ(TQXCrypt_LoadStore(store.out(), nullptr, nullptr), 0);
    ASSERT_NE(store.get(), nullptr);
    EXPECT_EQ(store.get()->kind, TQXCRYPT_KIND_STORE);
    EXPECT_EQ(certCount(store), 0);
    EXPECT_EQ(TQXCrypt_LoadStore(store.out(), "", ""), 0);
    EXPECT_EQ(certCount(store), 0);

    EXPECT_EQ(TQXCrypt_LoadStore(store.out(), "no PEM block here", nullptr), TQ_RTN_BAD_CERTIFICATE);
    EXPECT_EQ(store.get(), nullptr);
    std::string certs = pemList(kStore);
    EXPECT_EQ(TQXCrypt_LoadStore(store.out(), certs.c_str(), "not a CRL"), TQ_RTN_BAD_CRL);
    EXPECT_EQ(store.get(), nullptr);

    // Reading stops quietly at a damaged block and keeps what came before.
    std::string root = tqtest::readText(chainFile("root.pem"));
    std::string damaged = tqtest::readText(chainFile("inter.pem"));
    damaged.replace(damaged.find('\n') + 10, 4, "!!!!");
    std::string list = root + damaged + tqtest::readText(chainFile("good.leaf.pem"));
    ASSERT_EQ(TQXCrypt_LoadStore(store.out(), list.c_str(), nullptr), 0);
    EXPECT_EQ(certCount(store), 1);

    // Text between blocks ends the list too.
    list = root + "garbage\n" + tqtest::readText(chainFile("inter.pem"));
    ASSERT_EQ(TQXCrypt_LoadStore(store.out(), list.c_str(), nullptr), 0);
    EXPECT_EQ(certCount(store), 1);

    // The same certificate twice is kept once, without an error.
    list = root + "\r\n  \n" + root + tqtest::readText(chainFile("inter.pem"));
    ASSERT_EQ(TQXCrypt_LoadStore(store.out(), list.c_str(), nullptr), 0);
    EXPECT_EQ(certCount(store), 2);
    EXPECT_EQ(verify(store, "good.leaf.pem", 0), 0);

    // Lines ended by CR LF.
    list = tqtest::readText(chainFile("root.pem")) + tqtest::readText(chainFile("inter.pem"));
    for (size_t at = list.find('\n'); at != std::string::npos; at = list.find('\n', at + 2))
        list.insert(at, "\r");
    ASSERT_EQ(TQXCrypt_LoadStore(store.out(), list.c_str(), nullptr), 0);
    EXPECT_EQ(certCount(store), 2);
}

TEST(StoreLoad, CrlAdmission) {
    struct Row {
        const char *crl;
        int expected;
    } rows[] = {
        {"crl.inter.pem", 0},
        {"crl.foreign.pem", TQ_RTN_CRL_NO_ISSUER},
        {"crl.inter.badsig.pem", TQ_RTN_CRL_SIGNATURE},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.crl);
        HandleOwner loaded;
        EXPECT_EQ(loadStore(loaded, kStore, {row.crl}), row.expected);
        EXPECT_EQ(loaded.get() != nullptr, row.expected == 0);

        HandleOwner store;
        ASSERT_EQ(loadStore(store, kStore, {}), 0);
        HandleOwner crl(decodePem(TQXCRYPT_KIND_CRL, row.crl));
        ASSERT_NE(crl.get(), nullptr);
        void *object = crl.get()->object;
        EXPECT_EQ(TQXCrypt_AddCRLToStore(store.get(), crl.get()), row.expected);
        // Taken into the store, or left in the handle as it was.
        EXPECT_EQ(crl.get()->object, row.expected == 0 ? nullptr : object);
        EXPECT_EQ(crlCount(store), row.expected == 0 ? 1 : 0);
    }
}

TEST(StoreLoad, AddCertificate) {
    HandleOwner store;
    ASSERT_EQ(loadStore(store, {"root.pem"}, {}), 0);
    EXPECT_EQ(verify(store, "good.leaf.pem", 0), TQ_RTN_NO_ISSUER);
    HandleOwner inter(decodePem(TQXCRYPT_KIND_CERTIFICATE, "inter.pem"));
    ASSERT_EQ(TQXCrypt_AddCertToStore(store.get(), inter.get()), 0);
    EXPECT_EQ(inter.get()->object, nullptr);
    EXPECT_EQ(verify(store, "good.leaf.pem", 0), 0);
    // An identical certificate: success, the store keeps the one it had.
    HandleOwner again(decodePem(TQXCRYPT_KIND_CERTIFICATE, "inter.pem"));
    ASSERT_EQ(TQXCrypt_AddCertToStore(store.get(), again.get()), 0);
    EXPECT_EQ(again.get()->object, nullptr);
    EXPECT_EQ(certCount(store), 2);

    // The helpers underneath: 1 taken, 0 an identical certificate is there.
    X509 *leaf = readCert("good.leaf.pem");
    EXPECT_EQ(tqxCrypt_X509_STORE_add_cert1(storeOf(store), leaf), 1);
    EXPECT_EQ(tqxCrypt_X509_STORE_add_cert1(storeOf(store), leaf), 0);
    X509_free(leaf);
    EXPECT_EQ(certCount(store), 3);
}

TEST(StoreLoad, HandleChecks) {
    HandleOwner store, cert(decodePem(TQXCRYPT_KIND_CERTIFICATE, "inter.pem"));
    HandleOwner crl(decodePem(TQXCRYPT_KIND_CRL, "crl.inter.pem"));
    ASSERT_EQ(loadStore(store, {"root.pem"}, {}), 0);
    EXPECT_EQ(TQXCrypt_AddCertToStore(nullptr, cert.get()), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_AddCertToStore(store.get(), nullptr), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_AddCertToStore(cert.get(), cert.get()), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_AddCertToStore(store.get(), crl.get()), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_AddCRLToStore(store.get(), cert.get()), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_AddCRLToStore(crl.get(), crl.get()), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_VerifyCertChain(store.get(), store.get(), 0, 0), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_VerifyCertChain(cert.get(), cert.get(), 0, 0), TQ_RTN_WRONG_HANDLE);
    EXPECT_EQ(TQXCrypt_VerifyCertChain(nullptr, store.get(), 0, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQXCrypt_VerifyCertChain(cert.get(), nullptr, 0, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(certCount(store), 1);
    EXPECT_NE(cert.get()->object, nullptr);
}

// The newest arrival replaces an equivalent CRL, whatever the two CRLs' dates.
TEST(StoreCrls, EquivalentCrlIsReplaced) {
    HandleOwner store;
    ASSERT_EQ(loadStore(store, kStore, {"crl.inter.early.pem"}), 0);
    EXPECT_EQ(verify(store, "early.leaf.pem"), TQ_RTN_REVOKED_SUPERSEDED);
    EXPECT_EQ(verify(store, "rev-keyCompromise.leaf.pem"), 0);

    ASSERT_EQ(addCrl(store, "crl.inter.pem"), 0);
    EXPECT_EQ(crlCount(store), 1);
    EXPECT_EQ(verify(store, "rev-keyCompromise.leaf.pem"), TQ_RTN_REVOKED_KEY_COMPROMISE);

    ASSERT_EQ(addCrl(store, "crl.inter.early.pem"), 0);
    EXPECT_EQ(crlCount(store), 1);
    EXPECT_EQ(verify(store, "rev-keyCompromise.leaf.pem"), 0);

    // Loading both keeps the later one of the list.
    ASSERT_EQ(loadStore(store, kStore, {"crl.inter.pem", "crl.inter.early.pem"}), 0);
    EXPECT_EQ(crlCount(store), 1);
    EXPECT_EQ(verify(store, "rev-keyCompromise.leaf.pem"), 0);

    // Neither of two CRLs of one issuer name carries an authority key id.
    ASSERT_EQ(loadStore(store, kStore, {"crl.inter.noakid.pem", "crl.inter.v1.pem"}), 0);
    EXPECT_EQ(crlCount(store), 1);
    EXPECT_EQ(verify(store, "v1.leaf.pem"), TQ_RTN_REVOKED);
}

TEST(StoreCrls, DistinctCrlsOfOneIssuerNameAreKept) {
    HandleOwner store;
    // A version 1 CRL and a version 2 CRL of one issuer name.
    ASSERT_EQ(loadStore(store, kStore, {"crl.inter.v1.pem", "crl.inter.pem"}), 0);
    EXPECT_EQ(crlCount(store), 2);
    // Two keys of one issuer name, each with its own CRL.
    ASSERT_EQ(loadStore(store, {"root.pem", "inter.pem", "inter2.pem"}, {"crl.inter.pem", "crl.inter2.pem"}),
              0);
    EXPECT_EQ(crlCount(store), 2);
    EXPECT_EQ(verify(store, "inter2.leaf.pem"), TQ_RTN_REVOKED_KEY_COMPROMISE);
    EXPECT_EQ(verify(store, "good.leaf.pem"), 0);
    EXPECT_EQ(verify(store, "rev-cessationOfOperation.leaf.pem"), TQ_RTN_REVOKED_CESSATION);
}

// Without authority key identifier a version 2 CRL matches no issuer with a
// subject key identifier: admitted by name while the store has no CRL.
TEST(StoreCrls, CrlWithoutKeyIdentifier) {
    HandleOwner store;
    ASSERT_EQ(loadStore(store, kStore, {}), 0);
    EXPECT_EQ(addCrl(store, "crl.inter.noakid.pem"), 0);
    ASSERT_EQ(loadStore(store, kStore, {"crl.inter.pem"}), 0);
    EXPECT_EQ(addCrl(store, "crl.inter.noakid.pem"), TQ_RTN_CRL_NO_ISSUER);
}

// Both lookups tell two issuers of one name apart by key identifier.
TEST(StoreCrls, LookupsFindTheRightObject) {
    HandleOwner store;
    ASSERT_EQ(loadStore(store, {"root.pem", "inter.pem", "inter2.pem"}, {"crl.inter.pem", "crl.inter2.pem"}),
              0);
    X509_STORE_CTX *ctx = X509_STORE_CTX_new();
    ASSERT_TRUE(X509_STORE_CTX_init(ctx, storeOf(store), nullptr, nullptr));
    const char *pairs[][2] = {{"inter.pem", "crl.inter.pem"}, {"inter2.pem", "crl.inter2.pem"}};
    for (auto &pair : pairs) {
        SCOPED_TRACE(pair[0]);
        HandleOwner issuer(decodePem(TQXCRYPT_KIND_CERTIFICATE, pair[0]));
        HandleOwner crl(decodePem(TQXCRYPT_KIND_CRL, pair[1]));
        X509_CRL *foundCrl = nullptr;
        ASSERT_EQ(tqxCrypt_X509_STORE_CTX_get_crl(&foundCrl, ctx, certOf(issuer)), 1);
        EXPECT_EQ(X509_CRL_cmp(foundCrl, static_cast<X509_CRL *>(crl.get()->object)), 0);
        EXPECT_EQ(X509_CRL_match(foundCrl, static_cast<X509_CRL *>(crl.get()->object)), 0);
        X509_CRL_free(foundCrl);
        X509 *foundIssuer = nullptr;
        ASSERT_EQ(tqxCrypt_X509_STORE_CTX_get_crl_issuer(&foundIssuer, ctx,
                                                         static_cast<X509_CRL *>(crl.get()->object)),
                  1);
        EXPECT_EQ(X509_cmp(foundIssuer, certOf(issuer)), 0);
        X509_free(foundIssuer);
    }
    // Nothing for an issuer without CRL, nor for a CRL whose issuer is absent.
    HandleOwner root(decodePem(TQXCRYPT_KIND_CERTIFICATE, "root.pem"));
    X509_CRL *none = nullptr;
    EXPECT_EQ(tqxCrypt_X509_STORE_CTX_get_crl(&none, ctx, certOf(root)), 0);
    HandleOwner foreign(decodePem(TQXCRYPT_KIND_CRL, "crl.foreign.pem"));
    X509 *noIssuer = nullptr;
    EXPECT_EQ(tqxCrypt_X509_STORE_CTX_get_crl_issuer(&noIssuer, ctx,
                                                     static_cast<X509_CRL *>(foreign.get()->object)),
              0);
    X509_STORE_CTX_free(ctx);
}

// A mark left by one verification never spares the signature check under
// another issuer: here a store whose intermediate has the same name but
// another key (the leaf carries no authority key identifier).
TEST(StoreVerifiedMark, BoundToTheIssuer) {
    HandleOwner genuine, rogue;
    ASSERT_EQ(loadStore(genuine, {"root.pem", "inter.pem"}, {}), 0);
    ASSERT_EQ(loadStore(rogue, {"root.pem", "inter2.pem"}, {}), 0);
    HandleOwner leaf(decodePem(TQXCRYPT_KIND_CERTIFICATE, "noakid.leaf.pem"));
    EXPECT_EQ(TQXCrypt_VerifyCertChain(leaf.get(), rogue.get(), 0, 0), TQ_RTN_CERT_SIGNATURE);
    EXPECT_EQ(TQXCrypt_VerifyCertChain(leaf.get(), genuine.get(), 0, 0), 0);
    EXPECT_EQ(TQXCrypt_VerifyCertChain(leaf.get(), rogue.get(), 0, 0), TQ_RTN_CERT_SIGNATURE);
    EXPECT_EQ(TQXCrypt_VerifyCertChain(leaf.get(), genuine.get(), 0, 0), 0);
}

// Nor does it survive a change of the certificate object's own signature:
// a certificate re-signed in place after it verified is checked again.
TEST(StoreVerifiedMark, BoundToTheCertificate) {
    HandleOwner store;
    ASSERT_EQ(loadStore(store, kStore, {}), 0);
    HandleOwner leaf(decodePem(TQXCRYPT_KIND_CERTIFICATE, "good.leaf.pem"));
    ASSERT_EQ(TQXCrypt_VerifyCertChain(leaf.get(), store.get(), 0, 0), 0);
    const ASN1_BIT_STRING *signature = nullptr;
    X509_get0_signature(&signature, nullptr, certOf(leaf));
    auto *bits = const_cast<ASN1_BIT_STRING *>(signature);
    ASSERT_GT(ASN1_STRING_length(bits), 0);
    auto *last = const_cast<unsigned char *>(ASN1_STRING_get0_data(bits)) + ASN1_STRING_length(bits) - 1;
    *last ^= 1;
    EXPECT_EQ(TQXCrypt_VerifyCertChain(leaf.get(), store.get(), 0, 0), TQ_RTN_CERT_SIGNATURE);
    *last ^= 1;
    EXPECT_EQ(TQXCrypt_VerifyCertChain(leaf.get(), store.get(), 0, 0), 0);
}

// The mark spares the signature only: every verification compares the dates
// with its own check time.
TEST(StoreVerifiedMark, DatesAreAlwaysChecked) {
    HandleOwner store;
    ASSERT_EQ(loadStore(store, kStore, {}), 0);
    HandleOwner leaf(decodePem(TQXCRYPT_KIND_CERTIFICATE, "good.leaf.pem"));
    EXPECT_EQ(TQXCrypt_VerifyCertChain(leaf.get(), store.get(), 0, 0), 0);
    EXPECT_EQ(TQXCrypt_VerifyCertChain(leaf.get(), store.get(), 0, 1685577600), TQ_RTN_CERT_NOT_YET_VALID);
    EXPECT_EQ(TQXCrypt_VerifyCertChain(leaf.get(), store.get(), 0, 1748736000), 0);
}

// The store keeps the last procedure written: CRL checking or not.
TEST(StoreProcedure, FlagChoosesTheWalk) {
    HandleOwner store;
    ASSERT_EQ(loadStore(store, kStore, {"crl.inter.pem"}), 0);
    EXPECT_EQ(X509_STORE_get_verify(storeOf(store)), tqxCrypt_cert_crl_verify);
    EXPECT_EQ(verify(store, "rev-superseded.leaf.pem", 0), 0);
    EXPECT_EQ(X509_STORE_get_verify(storeOf(store)), tqxCrypt_cert_verify);
    EXPECT_EQ(verify(store, "rev-superseded.leaf.pem", TQXCRYPT_VERIFY_CHAIN), 0);
    EXPECT_EQ(verify(store, "rev-superseded.leaf.pem", TQXCRYPT_VERIFY_CRL), TQ_RTN_REVOKED_SUPERSEDED);
    EXPECT_EQ(X509_STORE_get_verify(storeOf(store)), tqxCrypt_cert_crl_verify);
}

// The procedures also serve as the verification slot that OpenSSL's own
// X509_verify_cert calls once it has built a chain; its policy checks, which
// our verification leaves out, then come first.
TEST(StoreProcedure, RunsUnderX509VerifyCert) {
    constexpr int kCrl = TQXCRYPT_VERIFY_CRL;
    struct Row {
        const char *leaf;
        Files certs, crls;
        int flags;
        int ours;
        int x509VerifyCertError;
    } rows[] = {
        {"rev-keyCompromise.leaf.pem",
         kStore,
         {"crl.inter.pem"},
         kCrl,
         TQ_RTN_REVOKED_KEY_COMPROMISE,
         TQ_V_ERR_REVOKED_KEY_COMPROMISE},
        {"rev-removeFromCRL.leaf.pem",
         kStore,
         {"crl.inter.pem"},
         kCrl,
         TQ_RTN_REVOKED_REMOVE_FROM_CRL,
         TQ_V_ERR_REVOKED_REMOVE_FROM_CRL},
        {"good.leaf.pem", kStore, {"crl.inter.pem"}, kCrl, 0, X509_V_OK},
        {"plain.leaf.pem", {"root.pem", "plain.pem"}, {}, 0, 0, X509_V_ERR_INVALID_CA},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.leaf);
        HandleOwner store;
        ASSERT_EQ(loadStore(store, row.certs, row.crls), 0);
        // Ours first: it also writes the store's verification slot.
        EXPECT_EQ(verify(store, row.leaf, row.flags), row.ours);
        HandleOwner leaf(decodePem(TQXCRYPT_KIND_CERTIFICATE, row.leaf));
        X509_STORE_CTX *ctx = X509_STORE_CTX_new();
        ASSERT_TRUE(X509_STORE_CTX_init(ctx, storeOf(store), certOf(leaf), nullptr));
        EXPECT_EQ(X509_verify_cert(ctx) > 0, row.x509VerifyCertError == X509_V_OK);
        EXPECT_EQ(X509_STORE_CTX_get_error(ctx), row.x509VerifyCertError);
        X509_STORE_CTX_free(ctx);
    }
}

// The reasons OpenSSL queues while we read a damaged block, check a signature
// that fails or look up an unknown attribute are answered by our codes; they
// must not stay behind for the host, whose own entries stay as they were.
// (The handles are decoded beforehand: decoding starts on a clean queue.)
TEST(StoreErrors, QueueLeftAsFound) {
    const std::string certs = pemList(kStore);
    // Base64 that decodes, but not to a certificate.
    const std::string notACert =
        certs + "-----BEGIN CERTIFICATE-----\naGVsbG8gd29ybGQ=\n-----END CERTIFICATE-----\n";
    const std::string badCrl = pemList({"crl.inter.badsig.pem"});
    HandleOwner store, crl(decodePem(TQXCRYPT_KIND_CRL, "crl.inter.badsig.pem"));
    HandleOwner badsig(decodePem(TQXCRYPT_KIND_CERTIFICATE, "badsig.leaf.pem"));
    HandleOwner good(decodePem(TQXCRYPT_KIND_CERTIFICATE, "good.leaf.pem"));
    ASSERT_EQ(loadStore(store, kStore, {}), 0);
    ASSERT_TRUE(crl.get() && badsig.get() && good.get());
    struct Row {
        const char *name;
        int expected;
        std::function<int()> op;
    } rows[] = {
        {"load, unreadable second block", 0,
         [&] {
             HandleOwner s;
             int rc = TQXCrypt_LoadStore(s.out(), notACert.c_str(), nullptr);
             return rc == 0 && certCount(s) == 2 ? 0 : -1;
         }},
        {"load, CRL signature", TQ_RTN_CRL_SIGNATURE,
         [&] {
             HandleOwner s;
             return TQXCrypt_LoadStore(s.out(), certs.c_str(), badCrl.c_str());
         }},
        {"add CRL, signature", TQ_RTN_CRL_SIGNATURE,
         [&] { return TQXCrypt_AddCRLToStore(store.get(), crl.get()); }},
        {"verify, bad signature", TQ_RTN_CERT_SIGNATURE,
         [&] { return TQXCrypt_VerifyCertChain(badsig.get(), store.get(), 0, 0); }},
        {"rule text, unknown attribute", TQ_RTN_CERT_REJECTED,
         [&] { return TQXCrypt_ValidateCertificate(good.get(), "Nonsense=1", -1); }},
        {"rule text, unknown attribute (Ex)", TQ_RTN_CERT_REJECTED,
         [&] { return TQXCrypt_ValidateCertificateEx(good.get(), nullptr, "no such name=1", 0); }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        for (bool hostEntry : {false, true}) {
            ERR_clear_error();
            if (hostEntry) ERR_raise(ERR_LIB_USER, 42);
            EXPECT_EQ(row.op(), row.expected);
            if (hostEntry) {
                unsigned long e = ERR_get_error();
                EXPECT_EQ(ERR_GET_LIB(e), ERR_LIB_USER);
                EXPECT_EQ(ERR_GET_REASON(e), 42);
            }
            EXPECT_EQ(ERR_peek_error(), 0UL) << ERR_error_string(ERR_peek_error(), nullptr);
        }
    }
    ERR_clear_error();
}

// Hostile PEM lists: markers cut off, mislabelled or nested, and blocks that
// decode to something else. Reading ends at the first block it cannot take.
TEST(StoreLoad, HostileLists) {
    const std::string root = tqtest::readText(chainFile("root.pem"));
    const std::string crl = tqtest::readText(chainFile("crl.inter.pem"));
    const std::string body = root.substr(root.find('\n') + 1, root.find("-----END") - root.find('\n') - 1);
    const std::string begin = "-----BEGIN CERTIFICATE-----\n", end = "-----END CERTIFICATE-----\n";
    struct Row {
        const char *name;
        std::string certs;
        int expected, count;
        int asCrlList;  // the same text as a CRL list, its labels turned into CRL labels
    } rows[] = {
        {"BEGIN without END", begin + body, TQ_RTN_BAD_CERTIFICATE, 0, TQ_RTN_BAD_CRL},
        {"END of another label", begin + body + "-----END X509 CRL-----\n", TQ_RTN_BAD_CERTIFICATE, 0,
         TQ_RTN_BAD_CRL},
        {"empty body", begin + end, TQ_RTN_BAD_CERTIFICATE, 0, TQ_RTN_BAD_CRL},
        {"END cut short", begin + body + "-----END CERTIFICATE----", TQ_RTN_BAD_CERTIFICATE, 0,
         TQ_RTN_BAD_CRL},
        {"label in lower case", "-----BEGIN certificate-----\n" + body + "-----END certificate-----\n",
         TQ_RTN_BAD_CERTIFICATE, 0, TQ_RTN_BAD_CRL},
        {"longer label",
         "-----BEGIN CERTIFICATE REQUEST-----\n" + body + "-----END CERTIFICATE REQUEST-----\n",
         TQ_RTN_BAD_CERTIFICATE, 0, TQ_RTN_BAD_CRL},
        {"a CRL in the certificate list", crl, TQ_RTN_BAD_CERTIFICATE, 0, 0},
        {"CRL body under a certificate label",
         begin + crl.substr(crl.find('\n') + 1, crl.find("-----END") - crl.find('\n') - 1) + end,
         TQ_RTN_BAD_CERTIFICATE, 0, 0},
        {"nested BEGIN", begin + begin + body + end, TQ_RTN_BAD_CERTIFICATE, 0, TQ_RTN_BAD_CRL},
        {"dashes only", std::string(5000, '-'), TQ_RTN_BAD_CERTIFICATE, 0, TQ_RTN_BAD_CRL},
        {"good block, then BEGIN without END", root + begin + body, 0, 1, TQ_RTN_BAD_CRL},
        {"good block, then dashes", root + std::string(3000, '-'), 0, 1, TQ_RTN_BAD_CRL},
        {"white space of every kind around blocks", " \t\r\n\v\f" + root + "\n\n\t " + root, 0, 1,
         TQ_RTN_BAD_CRL},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        HandleOwner store;
        EXPECT_EQ(TQXCrypt_LoadStore(store.out(), row.certs.c_str(), nullptr), row.expected);
        EXPECT_EQ(store.get() != nullptr, row.expected == 0);
        if (store.get()) {
            EXPECT_EQ(certCount(store), row.count);
        }
        HandleOwner withCrls;
        std::string certs = pemList(kStore);
        std::string asCrls = row.certs;
        for (size_t at; (at = asCrls.find("CERTIFICATE-----")) != std::string::npos;)
            asCrls.replace(at, 16, "X509 CRL-----");
        EXPECT_EQ(TQXCrypt_LoadStore(withCrls.out(), certs.c_str(), asCrls.c_str()), row.asCrlList);
    }
}

}  // namespace

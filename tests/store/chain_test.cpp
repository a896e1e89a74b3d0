// Path validation against the openssl tool: each chain is verified by
// TQXCrypt_VerifyCertChain and by `openssl verify`; the two agree on pass or
// fail unless the row says why not, and our code is the one for the fault.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include "store_support.h"

using namespace storetest;
using tqtest::HandleOwner;

namespace {

constexpr int kCrl = TQXCRYPT_VERIFY_CRL;
constexpr int k2023 = 1685577600;  // 2023-06-01, before the leaves' notBefore
constexpr int k2025 = 1748736000;  // 2025-06-01, inside the leaves' window, before any revocation

const Files kStore = {"root.pem", "inter.pem"};
const Files kCrls = {"crl.inter.pem"};

struct ChainRow {
    const char *name;
    const char *leaf;
    Files certs;
    Files crls;
    int flags;
    int time;
    int expected;           // ours: from loading the store, else from the verification
    const char *crlOption;  // openssl's CRL checking for the same row
    bool opensslAccepts;
    const char *why;  // set where the answers differ on purpose
};

// The leaves' notAfter (2055) and the future leaf's notBefore (2051) are
// GeneralizedTime; so is the lastUpdate of the future CRL.
const ChainRow kRows[] = {
    {"good", "good.leaf.pem", kStore, {}, 0, 0, 0, "", true, nullptr},
    {"good, CRL checked", "good.leaf.pem", kStore, kCrls, kCrl, 0, 0, "-crl_check", true, nullptr},
    {"issued by the root", "root-leaf.leaf.pem", {"root.pem"}, {}, 0, 0, 0, "", true, nullptr},
    {"the root itself", "root.pem", kStore, {}, 0, 0, 0, "", true, nullptr},
    {"expired", "expired.leaf.pem", kStore, {}, 0, 0, TQ_RTN_CERT_EXPIRED, "", false, nullptr},
    {"notBefore in 2051", "future.leaf.pem", kStore, {}, 0, 0, TQ_RTN_CERT_NOT_YET_VALID, "", false, nullptr},
    {"checked before notBefore",
     "good.leaf.pem",
     kStore,
     {},
     0,
     k2023,
     TQ_RTN_CERT_NOT_YET_VALID,
     "",
     false,
     nullptr},
    {"intermediate missing", "good.leaf.pem", {"root.pem"}, {}, 0, 0, TQ_RTN_NO_ISSUER, "", false, nullptr},
    {"issuer not in the store", "orphan.leaf.pem", kStore, {}, 0, 0, TQ_RTN_NO_ISSUER, "", false, nullptr},
    {"root missing", "good.leaf.pem", {"inter.pem"}, {}, 0, 0, TQ_RTN_NO_ISSUER, "", false, nullptr},
    {"issuers in a ring, none self-issued",
     "ring.leaf.pem",
     {"ring.x.pem", "ring.y.pem"},
     {},
     0,
     0,
     TQ_RTN_NO_ISSUER,
     "",
     false,
     nullptr},
    {"bad signature", "badsig.leaf.pem", kStore, {}, 0, 0, TQ_RTN_CERT_SIGNATURE, "", false, nullptr},
    {"lone self-signed", "lone.pem", kStore, {}, 0, 0, TQ_RTN_FAILED, "", false, nullptr},
    {"unknown critical extension", "crit.leaf.pem", kStore, {}, 0, 0, TQ_RTN_FAILED, "", false, nullptr},
    {"revoked, not CRL checked", "rev-keyCompromise.leaf.pem", kStore, kCrls, 0, 0, 0, "", true, nullptr},
    {"revoked, no reason", "rev-noreason.leaf.pem", kStore, kCrls, kCrl, 0, TQ_RTN_REVOKED, "-crl_check",
     false, nullptr},
    {"revoked, unspecified", "rev-unspecified.leaf.pem", kStore, kCrls, kCrl, 0, TQ_RTN_REVOKED, "-crl_check",
     false, nullptr},
    {"revoked, keyCompromise", "rev-keyCompromise.leaf.pem", kStore, kCrls, kCrl, 0,
     TQ_RTN_REVOKED_KEY_COMPROMISE, "-crl_check", false, nullptr},
    {"revoked, CACompromise", "rev-CACompromise.leaf.pem", kStore, kCrls, kCrl, 0,
     TQ_RTN_REVOKED_CA_COMPROMISE, "-crl_check", false, nullptr},
    {"revoked, affiliationChanged", "rev-affiliationChanged.leaf.pem", kStore, kCrls, kCrl, 0,
     TQ_RTN_REVOKED_AFFILIATION_CHANGED, "-crl_check", false, nullptr},
    {"revoked, superseded", "rev-superseded.leaf.pem", kStore, kCrls, kCrl, 0, TQ_RTN_REVOKED_SUPERSEDED,
     "-crl_check", false, nullptr},
    {"revoked, cessationOfOperation", "rev-cessationOfOperation.leaf.pem", kStore, kCrls, kCrl, 0,
     TQ_RTN_REVOKED_CESSATION, "-crl_check", false, nullptr},
    {"revoked, certificateHold", "rev-certificateHold.leaf.pem", kStore, kCrls, kCrl, 0,
     TQ_RTN_REVOKED_CERTIFICATE_HOLD, "-crl_check", false, nullptr},
    {"revoked, removeFromCRL", "rev-removeFromCRL.leaf.pem", kStore, kCrls, kCrl, 0,
     TQ_RTN_REVOKED_REMOVE_FROM_CRL, "-crl_check", true,
     "an entry with reason removeFromCRL counts as revoked here; openssl skips such entries (they only "
     "undo a hold in a delta CRL)"},
    {"revoked after the check time", "rev-keyCompromise.leaf.pem", kStore, kCrls, kCrl, k2025, 0,
     "-crl_check", false,
     "CRL dates are compared with the current time and only the revocation date with the check time; "
     "openssl compares the CRL's lastUpdate with -attime too and finds the CRL not yet valid"},
    {"CRL expired",
     "good.leaf.pem",
     kStore,
     {"crl.inter.expired.pem"},
     kCrl,
     0,
     TQ_RTN_CRL_EXPIRED,
     "-crl_check",
     false,
     nullptr},
    {"CRL expired, any check time",
     "good.leaf.pem",
     kStore,
     {"crl.inter.expired.pem"},
     kCrl,
     k2025,
     TQ_RTN_CRL_EXPIRED,
     "-crl_check",
     false,
     nullptr},
    {"CRL not yet valid (2051)",
     "good.leaf.pem",
     kStore,
     {"crl.inter.future.pem"},
     kCrl,
     0,
     TQ_RTN_CRL_NOT_YET_VALID,
     "-crl_check",
     false,
     nullptr},
    {"CRL missing", "good.leaf.pem", kStore, {}, kCrl, 0, TQ_RTN_NO_CRL, "-crl_check", false, nullptr},
    {"CRL bad signature",
     "good.leaf.pem",
     kStore,
     {"crl.inter.badsig.pem"},
     kCrl,
     0,
     TQ_RTN_CRL_SIGNATURE,
     "-crl_check",
     false,
     nullptr},
    {"CRL from an issuer not in the store",
     "good.leaf.pem",
     kStore,
     {"crl.foreign.pem"},
     kCrl,
     0,
     TQ_RTN_CRL_NO_ISSUER,
     "-crl_check",
     false,
     nullptr},
    {"version 1 CRL, listed",
     "v1.leaf.pem",
     kStore,
     {"crl.inter.v1.pem"},
     kCrl,
     0,
     TQ_RTN_REVOKED,
     "-crl_check",
     false,
     nullptr},
    {"version 1 CRL, not listed",
     "good.leaf.pem",
     kStore,
     {"crl.inter.v1.pem"},
     kCrl,
     0,
     0,
     "-crl_check",
     true,
     nullptr},
    {"version 2 CRL without authority key id",
     "good.leaf.pem",
     kStore,
     {"crl.inter.noakid.pem"},
     kCrl,
     0,
     TQ_RTN_NO_CRL,
     "-crl_check",
     true,
     "a version 2 CRL without authority key identifier never covers an issuer that has a subject key "
     "identifier; openssl takes it by name"},
    {"intermediate revoked by the root",
     "revinter.leaf.pem",
     {"root.pem", "revinter.pem"},
     {"crl.root.pem", "crl.revinter.pem"},
     kCrl,
     0,
     TQ_RTN_REVOKED_CA_COMPROMISE,
     "-crl_check_all",
     false,
     nullptr},
    {"intermediate without its issuer's CRL",
     "revinter.leaf.pem",
     {"root.pem", "revinter.pem"},
     {"crl.revinter.pem"},
     kCrl,
     0,
     0,
     "-crl_check",
     true,
     nullptr},
    {"second key of one issuer name, revoked",
     "inter2.leaf.pem",
     {"root.pem", "inter.pem", "inter2.pem"},
     {"crl.inter.pem", "crl.inter2.pem"},
     kCrl,
     0,
     TQ_RTN_REVOKED_KEY_COMPROMISE,
     "-crl_check",
     false,
     nullptr},
    {"first key of one issuer name, not revoked",
     "good.leaf.pem",
     {"root.pem", "inter.pem", "inter2.pem"},
     {"crl.inter.pem", "crl.inter2.pem"},
     kCrl,
     0,
     0,
     "-crl_check",
     true,
     nullptr},
    {"non-CA certificate in the store as issuer",
     "plain.leaf.pem",
     {"root.pem", "plain.pem"},
     {},
     0,
     0,
     0,
     "",
     false,
     "certificates of the store are trusted as they are, without CA or path-length checks; openssl 3.0 "
     "requires a CA certificate"},
};

void verifyRows(const ChainRow *rows, size_t count) {
    tqtest::TempDir dir;
    for (size_t i = 0; i < count; ++i) {
        const ChainRow &row = rows[i];
        SCOPED_TRACE(row.name);
        HandleOwner store;
        int ours = loadStore(store, row.certs, row.crls);
        if (ours == 0) {
            HandleOwner cert(decodePem(TQXCRYPT_KIND_CERTIFICATE, row.leaf));
            ASSERT_NE(cert.get(), nullptr);
            ours = TQXCrypt_VerifyCertChain(cert.get(), store.get(), row.flags, row.time);
        }
        EXPECT_EQ(ours, row.expected);
        std::string output;
        bool accepted = opensslVerify(dir, row.leaf, row.certs, row.crls, row.crlOption, row.time, &output);
        EXPECT_EQ(accepted, row.opensslAccepts) << output;
        if (!row.why)
            EXPECT_EQ(accepted, ours == 0) << output;
        else
            EXPECT_NE(accepted, ours == 0) << "the row says the answers differ: " << row.why;
    }
}

TEST(StoreChain, AgreesWithOpensslVerify) {
    // The rows rely on dates after 2049, which only GeneralizedTime holds.
    X509 *good = readCert("good.leaf.pem"), *future = readCert("future.leaf.pem");
    ASSERT_TRUE(good && future);
    EXPECT_EQ(ASN1_STRING_type(X509_get0_notAfter(good)), V_ASN1_GENERALIZEDTIME);
    EXPECT_EQ(ASN1_STRING_type(X509_get0_notBefore(future)), V_ASN1_GENERALIZEDTIME);
    X509_free(good);
    X509_free(future);
    verifyRows(kRows, sizeof kRows / sizeof kRows[0]);
}

// Objects the openssl tool will not make, signed by the intermediate so that
// only the one field is odd: date fields that cannot be read, and CRL reason
// codes outside the named ones.
class StoreGeneratedObjects : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new tqtest::TempDir;
        EVP_PKEY *key = readKey("inter.key.pem");
        X509 *issuer = readCert("inter.pem");
        X509 *model = readCert("good.leaf.pem");
        writeCert("badafter.pem", model, issuer, key, nullptr, "20551301000000Z");
        writeCert("badbefore.pem", model, issuer, key, "20241301000000Z", nullptr);
        writeCrl("crl.badnext.pem", issuer, key, nullptr, "20991399000000Z");
        writeCrl("crl.badlast.pem", issuer, key, "20201399000000Z", nullptr);
        X509 *unusedReason = readCert("rev-noreason.leaf.pem"),
             *aaCompromise = readCert("rev-unspecified.leaf.pem");
        writeCrl("crl.oddreasons.pem", issuer, key, nullptr, nullptr,
                 {{unusedReason, 7}, {aaCompromise, 10}});
        X509_free(unusedReason);
        X509_free(aaCompromise);
        X509_free(model);
        X509_free(issuer);
        EVP_PKEY_free(key);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string file(const char *name) { return dir_->file(name); }

    static EVP_PKEY *readKey(const char *name) {
        std::string text = tqtest::readText(chainFile(name));
        BIO *bio = BIO_new_mem_buf(text.data(), static_cast<int>(text.size()));
        EVP_PKEY *k = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        return k;
    }
    // A GeneralizedTime whose text no reader accepts (month 13).
    static ASN1_TIME *badTime(const char *text) {
        ASN1_TIME *t = ASN1_TIME_new();
        ASN1_STRING_set(t, text, static_cast<int>(strlen(text)));
        t->type = V_ASN1_GENERALIZEDTIME;
        return t;
    }
    static void writeCert(const char *name, X509 *model, X509 *issuer, EVP_PKEY *key, const char *notBefore,
                          const char *notAfter) {
        X509 *x = X509_dup(model);
        for (auto [text, set] :
             {std::pair{notBefore, X509_set1_notBefore}, std::pair{notAfter, X509_set1_notAfter}}) {
            if (!text) continue;
            ASN1_TIME *t = badTime(text);
            set(x, t);
            ASN1_TIME_free(t);
        }
        X509_set_issuer_name(x, X509_get_subject_name(issuer));
        ASSERT_GT(X509_sign(x, key, EVP_sha256()), 0);
        BIO *bio = BIO_new_file(file(name).c_str(), "w");
        PEM_write_bio_X509(bio, x);
        BIO_free(bio);
        X509_free(x);
    }
    static void writeCrl(const char *name, X509 *issuer, EVP_PKEY *key, const char *lastUpdate,
                         const char *nextUpdate, std::vector<std::pair<X509 *, int>> revoked = {}) {
        X509_CRL *crl = X509_CRL_new();
        X509_CRL_set_version(crl, 1);
        X509_CRL_set_issuer_name(crl, X509_get_subject_name(issuer));
        ASN1_TIME *last = lastUpdate ? badTime(lastUpdate) : ASN1_TIME_set(nullptr, time(nullptr) - 3600);
        ASN1_TIME *next = nextUpdate ? badTime(nextUpdate) : ASN1_TIME_set(nullptr, time(nullptr) + 86400);
        X509_CRL_set1_lastUpdate(crl, last);
        X509_CRL_set1_nextUpdate(crl, next);
        ASN1_TIME_free(last);
        ASN1_TIME_free(next);
        X509V3_CTX v3;
        X509V3_set_ctx(&v3, issuer, nullptr, nullptr, crl, 0);
        X509_EXTENSION *akid =
            X509V3_EXT_conf_nid(nullptr, &v3, NID_authority_key_identifier, "keyid:always");
        X509_CRL_add_ext(crl, akid, -1);
        X509_EXTENSION_free(akid);
        for (auto [cert, reason] : revoked) {
            X509_REVOKED *entry = X509_REVOKED_new();
            X509_REVOKED_set_serialNumber(entry, const_cast<ASN1_INTEGER *>(X509_get0_serialNumber(cert)));
            ASN1_TIME *when = ASN1_TIME_set(nullptr, time(nullptr) - 60);
            X509_REVOKED_set_revocationDate(entry, when);
            ASN1_TIME_free(when);
            ASN1_ENUMERATED *code = ASN1_ENUMERATED_new();
            ASN1_ENUMERATED_set(code, reason);
            X509_REVOKED_add1_ext_i2d(entry, NID_crl_reason, code, 0, 0);
            ASN1_ENUMERATED_free(code);
            X509_CRL_add0_revoked(crl, entry);
        }
        ASSERT_GT(X509_CRL_sign(crl, key, EVP_sha256()), 0);
        BIO *bio = BIO_new_file(file(name).c_str(), "w");
        PEM_write_bio_X509_CRL(bio, crl);
        BIO_free(bio);
        X509_CRL_free(crl);
    }

    static tqtest::TempDir *dir_;
};

tqtest::TempDir *StoreGeneratedObjects::dir_ = nullptr;

TEST_F(StoreGeneratedObjects, AgreeWithOpensslVerify) {
    const std::string afterFile = file("badafter.pem"), beforeFile = file("badbefore.pem");
    const std::string nextFile = file("crl.badnext.pem"), lastFile = file("crl.badlast.pem");
    const std::string reasonsFile = file("crl.oddreasons.pem");
    const ChainRow rows[] = {
        {"notAfter unreadable", afterFile.c_str(), kStore, {}, 0, 0, TQ_RTN_CERT_EXPIRED, "", false, nullptr},
        {"notBefore unreadable",
         beforeFile.c_str(),
         kStore,
         {},
         0,
         0,
         TQ_RTN_CERT_NOT_YET_VALID,
         "",
         false,
         nullptr},
        {"CRL nextUpdate unreadable",
         "good.leaf.pem",
         kStore,
         {nextFile},
         kCrl,
         0,
         TQ_RTN_CRL_EXPIRED,
         "-crl_check",
         false,
         nullptr},
        {"CRL lastUpdate unreadable",
         "good.leaf.pem",
         kStore,
         {lastFile},
         kCrl,
         0,
         TQ_RTN_CRL_NOT_YET_VALID,
         "-crl_check",
         false,
         nullptr},
        {"revoked, reason 7 (unused)",
         "rev-noreason.leaf.pem",
         kStore,
         {reasonsFile},
         kCrl,
         0,
         TQ_RTN_REVOKED,
         "-crl_check",
         false,
         nullptr},
        {"revoked, reason 10 (aACompromise)",
         "rev-unspecified.leaf.pem",
         kStore,
         {reasonsFile},
         kCrl,
         0,
         TQ_RTN_REVOKED,
         "-crl_check",
         false,
         nullptr},
        {"not on that CRL", "good.leaf.pem", kStore, {reasonsFile}, kCrl, 0, 0, "-crl_check", true, nullptr},
    };
    verifyRows(rows, sizeof rows / sizeof rows[0]);
}

}  // namespace

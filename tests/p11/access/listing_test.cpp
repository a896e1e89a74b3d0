// Listing token objects by filter, compared with what pkcs11-tool shows.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "shim_state.h"
#include "softtoken.h"

namespace {

using p11test::bytesOf;
using p11test::describe;
using tqtest::Bytes;

// An object list that is released with the test.
struct List {
    TQXP11_OBJECT *entries = nullptr;
    CK_ULONG count = 0;
    ~List() { TQXP11_ReleaseObjectList(entries, count); }
    std::map<std::string, const TQXP11_OBJECT *> byLabel() const {
        std::map<std::string, const TQXP11_OBJECT *> m;
        for (CK_ULONG i = 0; i < count; ++i) m[entries[i].label] = &entries[i];
        return m;
    }
};

class p11Listing : public p11test::LoggedIn {
protected:
    // One object of every kind: the peer tools write most, our writers the DES keys.
    void fill() {
        peer("--write-object '" + tqtest::fixture("objects/user.der") + "' --type cert --label cert --id A1");
        std::string data = token.file("data.bin");
        tqtest::writeFile(data, std::string("listed data"));
        peer("--write-object '" + data + "' --type data --label data");
        int status = -1;
        std::string log = token.util("--import '" + tqtest::fixture("objects/user.key.pem") + "' --token '" +
                                         token.label() + "' --label rsa --id B2 --pin " + token.userPin(),
                                     &status);
        ASSERT_EQ(status, 0) << log;
        std::string aes = token.file("aes.bin");
        tqtest::writeFile(aes, tqtest::randomBytes(32, 9));
        peer("--write-object '" + aes + "' --type secrkey --key-type AES:32 --label aes");
        // pkcs11-tool keeps this one unextractable: its value is sensitive.
        peer("--write-object '" + aes + "' --type secrkey --key-type DES3:24 --label 'secret des3'");
        struct Key {
            const char *label;
            CK_ULONG kind;
            size_t length;
        } keys[] = {{"des", TQXP11_KIND_DES, 8}, {"des2", TQXP11_KIND_DES2, 16}};
        for (const Key &k : keys) {
            Bytes value(k.length, 0x01);
            TQXP11_VALUE record{};
            record.secret.value = {value.data(), value.size()};
            TQXP11_OBJECT object = describe(k.label, k.kind, false, &record);
            ASSERT_EQ(TQXP11_WriteObject(&session, &object, TQXP11_EXTRACTABLE), TQP11_RTN_OK);
        }
    }
    std::set<std::string> peerLabels() {
        std::set<std::string> labels;
        std::string out = peer("-O");
        for (size_t at = out.find("label:"); at != std::string::npos; at = out.find("label:", at + 1)) {
            size_t start = out.find_first_not_of(' ', at + 6), end = out.find('\n', start);
            std::string label = out.substr(start, end - start);
            if (label.size() >= 2 && label.front() == '\'') label = label.substr(1, label.size() - 2);
            labels.insert(label);
        }
        return labels;
    }
};

class p11ShimListing : public p11Listing {
protected:
    const char *module() const override { return TQ_SHIM_MODULE; }
};

TEST_F(p11Listing, EveryObjectWithItsKindAndValues) {
    fill();
    List list;
    ASSERT_EQ(TQXP11_GetObjectList(&session, nullptr, &list.entries, &list.count), TQP11_RTN_OK);
    ASSERT_EQ(list.count, 8u);
    std::set<std::string> labels;
    for (CK_ULONG i = 0; i < list.count; ++i) labels.insert(list.entries[i].label);
    EXPECT_EQ(labels, peerLabels());

    auto entries = list.byLabel();
    struct Expected {
        const char *label;
        CK_ULONG kind;
        bool values;
    } expected[] = {{"cert", TQXP11_KIND_CERTIFICATE, true},  {"data", TQXP11_KIND_DATA, true},
                    {"des", TQXP11_KIND_DES, true},           {"des2", TQXP11_KIND_DES2, true},
                    {"secret des3", TQXP11_KIND_DES3, false}, {"aes", 0, false}};
    for (const Expected &e : expected) {
        SCOPED_TRACE(e.label);
        ASSERT_EQ(entries.count(e.label), 1u);
        const TQXP11_OBJECT *entry = entries[e.label];
        EXPECT_EQ(entry->kind, e.kind);
        EXPECT_EQ(entry->labelLength, std::string(e.label).size());
        EXPECT_EQ(entry->valueRecord != nullptr, e.values);
    }
    Bytes der = tqtest::readFile(tqtest::fixture("objects/user.der"));
    EXPECT_EQ(bytesOf(entries["cert"]->valueRecord->certificate.value), der);
    EXPECT_EQ(bytesOf(entries["cert"]->valueRecord->certificate.id), Bytes{0xA1});
    const std::string listed = "listed data";
    EXPECT_EQ(bytesOf(entries["data"]->valueRecord->data.value), Bytes(listed.begin(), listed.end()));
    EXPECT_EQ(bytesOf(entries["des"]->valueRecord->secret.value), Bytes(8, 0x01));
    // The two keys of the pair share a label: both are listed.
    size_t rsa = 0;
    p11test::UserCredentials user;
    for (CK_ULONG i = 0; i < list.count; ++i) {
        const TQXP11_OBJECT &e = list.entries[i];
        if (std::string(e.label) != "rsa") continue;
        ++rsa;
        EXPECT_TRUE(e.kind == TQXP11_KIND_RSA_PUBLIC || e.kind == TQXP11_KIND_RSA_PRIVATE);
        EXPECT_EQ(e.isPrivate, e.kind == TQXP11_KIND_RSA_PRIVATE ? CK_TRUE : CK_FALSE);
        EXPECT_EQ(bytesOf(e.valueRecord->rsaPublic.modulus), user.n);
        EXPECT_EQ(bytesOf(e.valueRecord->rsaPublic.id), Bytes{0xB2});
    }
    EXPECT_EQ(rsa, 2u);
}

TEST_F(p11Listing, Filters) {
    fill();
    {
        List certs;
        TQXP11_OBJECT filter = describe("", TQXP11_KIND_CERTIFICATE, false);
        ASSERT_EQ(TQXP11_GetObjectList(&session, &filter, &certs.entries, &certs.count), TQP11_RTN_OK);
        ASSERT_EQ(certs.count, 1u);
        EXPECT_STREQ(certs.entries[0].label, "cert");
        EXPECT_EQ(certs.entries[0].valueRecord->certificate.serialNumber.length, 4u);
    }
    {
        List keys;
        TQXP11_OBJECT filter = describe("rsa", TQXP11_KIND_RSA_PRIVATE, false);
        ASSERT_EQ(TQXP11_GetObjectList(&session, &filter, &keys.entries, &keys.count), TQP11_RTN_OK);
        EXPECT_EQ(filter.isPrivate, CK_TRUE);
        ASSERT_EQ(keys.count, 1u);
        EXPECT_EQ(keys.entries[0].kind, TQXP11_KIND_RSA_PRIVATE);
    }
    {
        List secret;
        TQXP11_OBJECT filter = describe("", TQXP11_KIND_DES2, false);
        ASSERT_EQ(TQXP11_GetObjectList(&session, &filter, &secret.entries, &secret.count), TQP11_RTN_OK);
        ASSERT_EQ(secret.count, 1u);
        EXPECT_STREQ(secret.entries[0].label, "des2");
    }
    {
        List none;
        TQXP11_OBJECT filter = describe("nothing", TQXP11_KIND_DATA, false);
        ASSERT_EQ(TQXP11_GetObjectList(&session, &filter, &none.entries, &none.count), TQP11_RTN_OK);
        EXPECT_EQ(none.count, 0u);
        EXPECT_EQ(none.entries, nullptr);
    }
    List refused;
    TQXP11_OBJECT kindless = describe("cert", 0, true);
    EXPECT_EQ(TQXP11_GetObjectList(&session, &kindless, &refused.entries, &refused.count),
              TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    ASSERT_EQ(TQXP11_Logout(&session), TQP11_RTN_OK);
    TQXP11_OBJECT privateKeys = describe("", TQXP11_KIND_RSA_PRIVATE, true);
    EXPECT_EQ(TQXP11_GetObjectList(&session, &privateKeys, &refused.entries, &refused.count),
              TQP11_RTN_USER_NOT_LOGGED_IN);
    EXPECT_EQ(refused.entries, nullptr);
}

TEST_F(p11Listing, BoundsAndLongLabels) {
    List empty;
    ASSERT_EQ(TQXP11_GetObjectList(&session, nullptr, &empty.entries, &empty.count), TQP11_RTN_OK);
    EXPECT_EQ(empty.count, 0u);
    EXPECT_EQ(empty.entries, nullptr);
    EXPECT_EQ(TQXP11_ReleaseObjectList(nullptr, 0), TQP11_RTN_OK);

    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    std::string label(256, 'W');
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                        {CKA_TOKEN, &yes, 1},
                        {CKA_PRIVATE, &no, 1},
                        {CKA_LABEL, &label[0], label.size()}};
    CK_OBJECT_HANDLE h = 0;
    ASSERT_EQ(context.module->C_CreateObject(session.sessionHandle, t, 4, &h), CKR_OK);
    List wide;
    ASSERT_EQ(TQXP11_GetObjectList(&session, nullptr, &wide.entries, &wide.count), TQP11_RTN_OK);
    ASSERT_EQ(wide.count, 1u);
    EXPECT_EQ(std::string(wide.entries[0].label), std::string(255, 'W'));
    EXPECT_EQ(wide.entries[0].labelLength, 255u);

    t[3].ulValueLen = 4;
    for (int i = 0; i < 130; ++i)
        ASSERT_EQ(context.module->C_CreateObject(session.sessionHandle, t, 4, &h), CKR_OK);
    List many;
    ASSERT_EQ(TQXP11_GetObjectList(&session, nullptr, &many.entries, &many.count), TQP11_RTN_OK);
    EXPECT_EQ(many.count, 128u);
}

TEST_F(p11ShimListing, AFailedReadFailsTheListing) {
    fill();
    // A read in the middle of the listing fails: no list lacking that
    // entry is handed out.
    shim::state().injections["C_GetAttributeValue"] = {CKR_DEVICE_ERROR, 6, 1};
    List list;
    EXPECT_EQ(TQXP11_GetObjectList(&session, nullptr, &list.entries, &list.count), TQP11_RTN_DEVICE_ERROR);
    EXPECT_EQ(list.entries, nullptr);
    EXPECT_EQ(list.count, 0u);
}

TEST_F(p11ShimListing, SensitiveLastEntryStillLists) {
    fill();
    TQXP11_OBJECT filter = describe("secret des3", TQXP11_KIND_DES3, false);
    List list;
    ASSERT_EQ(TQXP11_GetObjectList(&session, &filter, &list.entries, &list.count), TQP11_RTN_OK);
    ASSERT_EQ(list.count, 1u);
    EXPECT_EQ(list.entries[0].kind, TQXP11_KIND_DES3);
    EXPECT_EQ(list.entries[0].valueRecord, nullptr);
}

TEST_F(p11ShimListing, Rc4KeysAreListedWithTheirKind) {
    // SoftHSM2 has no RC4: the shim keeps the key for it.
    Bytes value = tqtest::randomBytes(16, 61);
    TQXP11_VALUE record{};
    record.secret.value = {value.data(), value.size()};
    TQXP11_OBJECT rc4 = describe("rc4", TQXP11_KIND_RC4, false, &record);
    ASSERT_EQ(TQXP11_WriteObject(&session, &rc4, TQXP11_EXTRACTABLE), TQP11_RTN_OK);
    TQXP11_OBJECT filter = describe("", TQXP11_KIND_RC4, false);
    List list;
    ASSERT_EQ(TQXP11_GetObjectList(&session, &filter, &list.entries, &list.count), TQP11_RTN_OK);
    ASSERT_EQ(list.count, 1u);
    EXPECT_EQ(list.entries[0].kind, TQXP11_KIND_RC4);
    EXPECT_EQ(bytesOf(list.entries[0].valueRecord->secret.value), value);
}

TEST_F(p11ShimListing, AVendorRecordEndsTheListing) {
    fill();
    shim::State &s = shim::state();
    s.records["HCA_BASIC"] = tqtest::randomBytes(64, 71);
    // First, among the others, last of the token's eight objects.
    for (CK_ULONG after : {0, 3, 8}) {
        SCOPED_TRACE(after);
        s.recordsAfter = after;
        s.calls.clear();
        List list;
        EXPECT_EQ(TQXP11_GetObjectList(&session, nullptr, &list.entries, &list.count),
                  TQP11_RTN_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(list.entries, nullptr);
        EXPECT_EQ(list.count, 0u);
        EXPECT_FALSE(s.recordSearchOpen);
        // Nothing is read past the record.
        if (after == 0) {
            EXPECT_EQ(shim::calls("C_GetAttributeValue"), 1);
        }
    }
    // A filter names a class, and the record is not among what it finds.
    TQXP11_OBJECT filter = describe("", TQXP11_KIND_CERTIFICATE, false);
    List certs;
    ASSERT_EQ(TQXP11_GetObjectList(&session, &filter, &certs.entries, &certs.count), TQP11_RTN_OK);
    ASSERT_EQ(certs.count, 1u);
    EXPECT_STREQ(certs.entries[0].label, "cert");
    // Without the record the same token lists in full.
    s.records.clear();
    List all;
    ASSERT_EQ(TQXP11_GetObjectList(&session, nullptr, &all.entries, &all.count), TQP11_RTN_OK);
    EXPECT_EQ(all.count, 8u);
}

TEST_F(p11ShimListing, HandlesBeyondTheSearchBoundAreNotRead) {
    fill();
    // The module claims far more handles than the 128 it was asked for.
    shim::state().extraFound = 1000;
    List list;
    EXPECT_NE(TQXP11_GetObjectList(&session, nullptr, &list.entries, &list.count), TQP11_RTN_OK);
    EXPECT_EQ(list.entries, nullptr);
    EXPECT_EQ(list.count, 0u);
}

}  // namespace

// Deleting objects, relabelling them and changing their key-use flags,
// each checked with pkcs11-tool.
#include <gtest/gtest.h>

#include <string>

#include "shim_state.h"
#include "softtoken.h"

namespace {

using p11test::describe;
using tqtest::Bytes;

size_t occurrences(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class p11Maintenance : public p11test::LoggedIn {
protected:
    void writeCert(const std::string &fixture, const std::string &label, const std::string &id = "01") {
        peer("--write-object '" + tqtest::fixture(fixture) + "' --type cert --label '" + label + "' --id " +
             id);
    }
    void importKey(const std::string &label, const std::string &id) {
        int status = -1;
        std::string log = token.util("--import '" + tqtest::fixture("objects/user.key.pem") + "' --token '" +
                                         token.label() + "' --label '" + label + "' --id " + id + " --pin " +
                                         token.userPin(),
                                     &status);
        ASSERT_EQ(status, 0) << log;
    }
    void writeSecret(const std::string &label, const std::string &keyType, size_t length) {
        std::string file = token.file("secret.bin");
        tqtest::writeFile(file, tqtest::randomBytes(length, 5));
        peer("--write-object '" + file + "' --type secrkey --key-type " + keyType + " --label '" + label +
             "'");
    }
    std::string listing() { return peer("-O"); }
    size_t labelled(const std::string &label) {
        return occurrences(listing(), "label:      " + label + "\n");
    }
};

class p11ShimMaintenance : public p11Maintenance {
protected:
    const char *module() const override { return TQ_SHIM_MODULE; }
};

TEST_F(p11Maintenance, DeleteByKindAndLabelRemovesEveryMatch) {
    for (int i = 0; i < 3; ++i) writeCert("objects/user.der", "triple");
    writeCert("objects/ca.der", "other");
    ASSERT_EQ(labelled("triple"), 3u);
    TQXP11_OBJECT certs = describe("triple", TQXP11_KIND_CERTIFICATE, false);
    certs.labelLength = 6;
    ASSERT_EQ(TQXP11_DeleteObject(&session, &certs), TQP11_RTN_OK);
    EXPECT_NE(certs.handle, 0u);
    EXPECT_EQ(labelled("triple"), 0u);
    EXPECT_EQ(labelled("other"), 1u);
    certs.handle = 0;
    EXPECT_EQ(TQXP11_DeleteObject(&session, &certs), TQP11_RTN_OBJECT_NOT_EXIST);

    writeSecret("aes one", "AES:32", 32);
    TQXP11_OBJECT aes = describe("aes one", TQXP11_KIND_AES, false);
    aes.labelLength = 7;
    ASSERT_EQ(TQXP11_DeleteObject(&session, &aes), TQP11_RTN_OK);
    EXPECT_EQ(labelled("aes one"), 0u);
    TQXP11_OBJECT odd = describe("other", 5, false);
    EXPECT_EQ(TQXP11_DeleteObject(&session, &odd), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
}

TEST_F(p11ShimMaintenance, DeleteByKindStopsAtTheFirstFailure) {
    for (int i = 0; i < 3; ++i) writeCert("objects/user.der", "triple");
    shim::state().injections["C_DestroyObject"] = {CKR_DEVICE_ERROR, 1, 1};
    TQXP11_OBJECT certs = describe("triple", TQXP11_KIND_CERTIFICATE, false);
    certs.labelLength = 6;
    EXPECT_EQ(TQXP11_DeleteObject(&session, &certs), TQP11_RTN_DEVICE_ERROR);
    EXPECT_EQ(shim::calls("C_DestroyObject"), 2);
    EXPECT_EQ(labelled("triple"), 2u);
}

TEST_F(p11Maintenance, DeleteOneObjectByHandle) {
    writeCert("objects/user.der", "twin");
    writeCert("objects/ca.der", "twin");
    TQXP11_OBJECT one = describe("twin", TQXP11_KIND_CERTIFICATE, false);
    ASSERT_EQ(TQXP11_ReadObject(&session, &one), TQP11_RTN_OBJECT_HAS_PROBLEM);
    // Find one of the two through the listing, then delete exactly it.
    TQXP11_OBJECT *list = nullptr;
    CK_ULONG count = 0;
    TQXP11_OBJECT filter = describe("twin", TQXP11_KIND_CERTIFICATE, false);
    ASSERT_EQ(TQXP11_GetObjectList(&session, &filter, &list, &count), TQP11_RTN_OK);
    ASSERT_EQ(count, 2u);
    TQXP11_OBJECT target = describe("twin", TQXP11_KIND_CERTIFICATE, false);
    target.handle = list[0].handle;
    ASSERT_EQ(TQXP11_DeleteObject(&session, &target), TQP11_RTN_OK);
    EXPECT_EQ(labelled("twin"), 1u);
    ASSERT_EQ(TQXP11_DeleteObjectByID(&session, list[1].handle), TQP11_RTN_OK);
    EXPECT_EQ(labelled("twin"), 0u);
    EXPECT_EQ(TQXP11_DeleteObjectByID(&session, list[1].handle), TQP11_RTN_OBJECT_HANDLE_INVALID);
    TQXP11_ReleaseObjectList(list, count);
}

TEST_F(p11Maintenance, DeleteKeysByIdAndCertificatesBySerial) {
    importKey("pair", "C3D4");
    writeCert("objects/user.der", "pair cert");
    writeCert("objects/ca.der", "pair cert");
    p11test::UserCredentials user;

    TQXP11_OBJECT noValues = describe("pair", TQXP11_KIND_RSA_PRIVATE, true);
    EXPECT_EQ(TQXP11_DeletePrivateKeyObject(&session, &noValues), TQP11_RTN_ARGUMENTS_BAD);
    EXPECT_EQ(TQXP11_DeleteCertObject(&session, &noValues), TQP11_RTN_ARGUMENTS_BAD);

    Bytes wrongId = {0xC3}, id = {0xC3, 0xD4};
    TQXP11_VALUE value{};
    value.first = {wrongId.data(), wrongId.size()};
    TQXP11_OBJECT key = describe("pair", TQXP11_KIND_RSA_PRIVATE, true, &value);
    EXPECT_EQ(TQXP11_DeletePrivateKeyObject(&session, &key), TQP11_RTN_OBJECT_NOT_EXIST);
    value.first = {id.data(), id.size()};
    ASSERT_EQ(TQXP11_DeletePrivateKeyObject(&session, &key), TQP11_RTN_OK);
    std::string after = listing();
    EXPECT_EQ(after.find("Private Key Object"), std::string::npos) << after;
    EXPECT_NE(after.find("Public Key Object"), std::string::npos) << after;
    TQXP11_OBJECT pub = describe("pair", TQXP11_KIND_RSA_PUBLIC, false, &value);
    ASSERT_EQ(TQXP11_DeletePubKeyObject(&session, &pub), TQP11_RTN_OK);
    EXPECT_EQ(labelled("pair"), 0u);

    TQXP11_VALUE certValue{};
    certValue.certificate.serialNumber = {user.serial.data(), user.serial.size()};
    TQXP11_OBJECT cert = describe("pair cert", TQXP11_KIND_CERTIFICATE, false, &certValue);
    ASSERT_EQ(TQXP11_DeleteCertObject(&session, &cert), TQP11_RTN_OK);
    after = listing();
    EXPECT_EQ(after.find("serial:     1001"), std::string::npos) << after;
    EXPECT_EQ(labelled("pair cert"), 1u);
    cert.handle = 0;
    EXPECT_EQ(TQXP11_DeleteCertObject(&session, &cert), TQP11_RTN_OBJECT_NOT_EXIST);
}

TEST_F(p11Maintenance, ReadOnlySessionsAndLoginStates) {
    importKey("ro key", "01");
    writeCert("objects/user.der", "ro cert");
    TQXP11_SESSION readOnly{};
    ASSERT_EQ(TQXP11_SessionOpenEx(&context, &readOnly, 0), TQP11_RTN_OK);
    ASSERT_EQ(readOnly.sessionInfo.state, CKS_RO_USER_FUNCTIONS);
    Bytes id = {0x01};
    TQXP11_VALUE value{};
    value.first = {id.data(), id.size()};
    TQXP11_OBJECT key = describe("ro key", TQXP11_KIND_RSA_PRIVATE, true, &value);
    EXPECT_EQ(TQXP11_DeletePrivateKeyObject(&readOnly, &key), TQP11_RTN_USER_NOT_LOGGED_IN);
    EXPECT_EQ(TQXP11_DeleteObject(&readOnly, &key), TQP11_RTN_USER_NOT_LOGGED_IN);
    TQXP11_OBJECT oddKind = describe("ro key", 5, true);
    EXPECT_EQ(TQXP11_DeleteObject(&readOnly, &oddKind), TQP11_RTN_USER_NOT_LOGGED_IN);
    // A public object: the read-only session is refused by the module.
    TQXP11_OBJECT cert = describe("ro cert", TQXP11_KIND_CERTIFICATE, false);
    cert.labelLength = 7;
    EXPECT_EQ(TQXP11_DeleteObject(&readOnly, &cert), TQP11_RTN_SESSION_READ_ONLY);
    EXPECT_EQ(TQXP11_ChangeObjLabel(&readOnly, &cert, "renamed"), TQP11_RTN_SESSION_READ_ONLY);
    EXPECT_EQ(TQXP11_SessionClose(&readOnly), TQP11_RTN_OK);
    EXPECT_EQ(labelled("ro cert"), 1u);
}

TEST_F(p11Maintenance, RelabelAfterTheClashCheck) {
    writeCert("objects/user.der", "first");
    writeCert("objects/ca.der", "second");
    TQXP11_OBJECT cert = describe("first", TQXP11_KIND_CERTIFICATE, false);
    EXPECT_EQ(TQXP11_ChangeObjLabel(&session, &cert, "first"), TQP11_RTN_OBJECT_EXIST);
    EXPECT_EQ(TQXP11_ChangeObjLabel(&session, &cert, "second"), TQP11_RTN_OBJECT_EXIST);
    ASSERT_EQ(TQXP11_ChangeObjLabel(&session, &cert, "renamed"), TQP11_RTN_OK);
    EXPECT_EQ(labelled("first"), 0u);
    EXPECT_EQ(labelled("renamed"), 1u);
    ASSERT_EQ(TQXP11_ChangeObjLabelEx(&session, &cert, "again", "AB"), TQP11_RTN_OK);
    std::string after = listing();
    EXPECT_NE(after.find("label:      again\n  subject:    DN: C=TW, O=Orvane Test, CN=User One"),
              std::string::npos)
        << after;
    EXPECT_NE(after.find("ID:         4142"), std::string::npos) << after;
    TQXP11_OBJECT missing = describe("nobody", TQXP11_KIND_CERTIFICATE, false);
    EXPECT_EQ(TQXP11_ChangeObjLabel(&session, &missing, "x"), TQP11_RTN_OBJECT_NOT_EXIST);
    TQXP11_OBJECT odd = describe("again", 37, false);
    EXPECT_EQ(TQXP11_ChangeObjLabel(&session, &odd, "x"), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
}

TEST_F(p11Maintenance, KeyUseFlags) {
    importKey("flags", "02");
    TQXP11_OBJECT pub = describe("flags", TQXP11_KIND_RSA_PUBLIC, false);
    TQXP11_OBJECT pri = describe("flags", TQXP11_KIND_RSA_PRIVATE, true);
    EXPECT_EQ(TQXP11_SetObjWrap(&session, &pri, 1), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(TQXP11_SetObjExtractable(&session, &pub, 1), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(TQXP11_SetObjExtractable(&session, &pri, 2), TQP11_RTN_ARGUMENTS_BAD);
    ASSERT_EQ(TQXP11_SetObjWrap(&session, &pub, 0), TQP11_RTN_OK);
    ASSERT_EQ(TQXP11_SetObjUnWrap(&session, &pri, 0x100), TQP11_RTN_OK);  // the low byte: false
    std::string after = listing();
    EXPECT_NE(after.find("Usage:      encrypt, verify\n"), std::string::npos) << after;
    EXPECT_NE(after.find("Usage:      decrypt, sign\n"), std::string::npos) << after;

    std::string file = token.file("des.bin");
    tqtest::writeFile(file, Bytes(24, 0x01));
    peer("--write-object '" + file + "' --type secrkey --key-type DES3:24 --label flagged --extractable");
    TQXP11_OBJECT des = describe("flagged", TQXP11_KIND_DES3, false);
    ASSERT_EQ(TQXP11_SetObjWrap(&session, &des, 0), TQP11_RTN_OK);
    ASSERT_EQ(TQXP11_SetObjUnWrap(&session, &des, 0), TQP11_RTN_OK);
    EXPECT_NE(listing().find("Usage:      encrypt, decrypt, verify\n"), std::string::npos);
    // A key may become unextractable, never extractable again.
    ASSERT_EQ(TQXP11_SetObjExtractable(&session, &des, 0), TQP11_RTN_OK);
    EXPECT_EQ(TQXP11_SetObjExtractable(&session, &des, 1), TQP11_RTN_ATTRIBUTE_READ_ONLY);
}

}  // namespace

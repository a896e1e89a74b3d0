// Token objects: our writers read back by pkcs11-tool, objects that
// pkcs11-tool and softhsm2-util wrote read by our readers, the search bound,
// sensitive values, long labels, and the vendor records through the shim.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "shim_state.h"
#include "softtoken.h"

namespace {

using p11test::bytesOf;
using p11test::describe;
using p11test::SoftToken;
using p11test::UserCredentials;
using tqtest::Bytes;

TQXP11_BYTES bytes(Bytes &b) { return TQXP11_BYTES{b.empty() ? nullptr : b.data(), b.size()}; }

// An object record that releases what a reader filled, never a value
// record the test itself gave it to search by.
struct ReadObject {
    TQXP11_OBJECT object;
    TQXP11_VALUE *wanted = nullptr;
    ReadObject(const std::string &label, CK_ULONG kind, bool isPrivate)
        : object(describe(label, kind, isPrivate)) {}
    ~ReadObject() {
        if (object.valueRecord == wanted) object.valueRecord = nullptr;
        TQXP11_FreeObject(&object);
    }
    void searchFor(TQXP11_VALUE *id) { object.valueRecord = wanted = id; }
    TQXP11_VALUE &value() { return *object.valueRecord; }
};

class p11Objects : public p11test::LoggedIn {
protected:
    std::string peerRead(const std::string &type, const std::string &label) {
        std::string out = token.file("read.out");
        int status = -1;
        std::string log =
            token.tool("--read-object --type " + type + " --label '" + label + "' -o '" + out + "'", &status);
        EXPECT_EQ(status, 0) << log;
        return status == 0 ? tqtest::readText(out) : std::string();
    }
    // Creates a data object directly on the module, as any other program may.
    void createData(const std::string &label) {
        CK_OBJECT_CLASS cls = CKO_DATA;
        CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                            {CKA_TOKEN, &yes, 1},
                            {CKA_PRIVATE, &no, 1},
                            {CKA_LABEL, const_cast<char *>(label.data()), label.size()}};
        CK_OBJECT_HANDLE h = 0;
        ASSERT_EQ(context.module->C_CreateObject(session.sessionHandle, t, 4, &h), CKR_OK);
    }
    bool boolAttribute(CK_OBJECT_HANDLE handle, CK_ATTRIBUTE_TYPE type) {
        CK_BBOOL v = 2;
        CK_ATTRIBUTE a = {type, &v, 1};
        EXPECT_EQ(context.module->C_GetAttributeValue(session.sessionHandle, handle, &a, 1), CKR_OK);
        return v == CK_TRUE;
    }

    // A private RSA key whose components may be read.
    TQXP11_OBJECT createOpenKey() {
        // Our writer leaves CKA_EXTRACTABLE to the module, which keeps primes in;
        // another program stores this one extractable.
        CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
        CK_KEY_TYPE type = CKK_RSA;
        CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
        char label[] = "open key";
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},
                            {CKA_KEY_TYPE, &type, sizeof type},
                            {CKA_TOKEN, &yes, 1},
                            {CKA_PRIVATE, &yes, 1},
                            {CKA_SENSITIVE, &no, 1},
                            {CKA_EXTRACTABLE, &yes, 1},
                            {CKA_LABEL, label, sizeof label - 1},
                            {CKA_MODULUS, user.n.data(), user.n.size()},
                            {CKA_PUBLIC_EXPONENT, user.e.data(), user.e.size()},
                            {CKA_PRIVATE_EXPONENT, user.d.data(), user.d.size()},
                            {CKA_PRIME_1, user.p.data(), user.p.size()},
                            {CKA_PRIME_2, user.q.data(), user.q.size()},
                            {CKA_EXPONENT_1, user.dp.data(), user.dp.size()},
                            {CKA_EXPONENT_2, user.dq.data(), user.dq.size()},
                            {CKA_COEFFICIENT, user.qinv.data(), user.qinv.size()}};
        TQXP11_OBJECT object = describe(label, TQXP11_KIND_RSA_PRIVATE, true);
        EXPECT_EQ(
            context.module->C_CreateObject(session.sessionHandle, t, sizeof t / sizeof t[0], &object.handle),
            CKR_OK);
        return object;
    }

    UserCredentials user;
};

class p11ShimObjects : public p11Objects {
protected:
    const char *module() const override { return TQ_SHIM_MODULE; }
    // Stores the fixture user's key as a private RSA key with this ID.
    void storeUserKey(const std::string &label, Bytes &keyId) {
        TQXP11_VALUE pri{};
        pri.rsaPrivate = {bytes(keyId),  bytes(user.n),  bytes(user.e),  bytes(user.d),   bytes(user.p),
                          bytes(user.q), bytes(user.dp), bytes(user.dq), bytes(user.qinv)};
        TQXP11_OBJECT object = describe(label, TQXP11_KIND_RSA_PRIVATE, true, &pri);
        ASSERT_EQ(TQXP11_WriteObject(&session, &object, TQXP11_SENSITIVE), TQP11_RTN_OK);
    }
};

TEST_F(p11Objects, WrittenObjectsAreReadBackByThePeerTool) {
    Bytes note = {'o', 'n', 'e', ' ', 'n', 'o', 't', 'e'};
    TQXP11_VALUE data{};
    data.data.value = bytes(note);
    TQXP11_OBJECT dataObject = describe("notes", TQXP11_KIND_DATA, false, &data);
    ASSERT_EQ(TQXP11_WriteObject(&session, &dataObject, 0), TQP11_RTN_OK);
    EXPECT_NE(dataObject.handle, 0u);

    Bytes id = {0x01, 0x02};
    TQXP11_VALUE cert{};
    cert.certificate = {bytes(user.subject), bytes(id), bytes(user.issuer), bytes(user.serial),
                        bytes(user.certificate)};
    TQXP11_OBJECT certObject = describe("user cert", TQXP11_KIND_CERTIFICATE, false, &cert);
    ASSERT_EQ(TQXP11_WriteObject(&session, &certObject, 0), TQP11_RTN_OK);

    TQXP11_VALUE pub{};
    pub.rsaPublic = {bytes(id), bytes(user.n), bytes(user.e), 0};
    TQXP11_OBJECT pubObject = describe("user key", TQXP11_KIND_RSA_PUBLIC, false, &pub);
    ASSERT_EQ(TQXP11_WriteObject(&session, &pubObject, TQXP11_WRAP), TQP11_RTN_OK);

    TQXP11_VALUE pri{};
    pri.rsaPrivate = {bytes(id),     bytes(user.n),  bytes(user.e),  bytes(user.d),   bytes(user.p),
                      bytes(user.q), bytes(user.dp), bytes(user.dq), bytes(user.qinv)};
    TQXP11_OBJECT priObject = describe("user key", TQXP11_KIND_RSA_PRIVATE, true, &pri);
    ASSERT_EQ(TQXP11_WriteObject(&session, &priObject, TQXP11_SENSITIVE | TQXP11_UNWRAP), TQP11_RTN_OK);

    std::string listing = token.tool("-O");
    for (const char *expected :
         {"Data object", "label:          'notes'", "application:    'Orvane-P11'",
          "Certificate Object; type = X.509 cert", "label:      user cert", "serial:     1001",
          "ID:         0102", "Public Key Object; RSA 2048 bits", "Usage:      encrypt, verify, wrap",
          "Private Key Object; RSA", "Usage:      decrypt, sign, unwrap", "Access:     sensitive"})
        EXPECT_NE(listing.find(expected), std::string::npos) << expected << "\n" << listing;

    EXPECT_EQ(peerRead("data", "notes"), "one note");
    EXPECT_EQ(peerRead("cert", "user cert"), std::string(user.certificate.begin(), user.certificate.end()));
    Bytes spki = tqtest::readFile(tqtest::fixture("objects/user.pub.der"));
    EXPECT_EQ(peerRead("pubkey", "user key"), std::string(spki.begin(), spki.end()));
    CK_ULONG applicationLength = 0;
    CK_ATTRIBUTE application = {CKA_APPLICATION, nullptr, 0};
    ASSERT_EQ(context.module->C_GetAttributeValue(session.sessionHandle, dataObject.handle, &application, 1),
              CKR_OK);
    applicationLength = application.ulValueLen;
    EXPECT_EQ(applicationLength, 11u);

    // A label is used once per class and private flag.
    TQXP11_OBJECT again = describe("notes", TQXP11_KIND_DATA, false, &data);
    EXPECT_EQ(TQXP11_WriteObject(&session, &again, 0), TQP11_RTN_OBJECT_EXIST);
    TQXP11_OBJECT sameLabelCert = describe("notes", TQXP11_KIND_CERTIFICATE, false, &cert);
    EXPECT_EQ(TQXP11_WriteObject(&session, &sameLabelCert, 0), TQP11_RTN_OK);
}

TEST_F(p11Objects, SecretKeysGetOddParityAndTheirFlags) {
    struct Case {
        CK_ULONG kind;
        size_t length;
        int flags;
        const char *listed;  // key kind as pkcs11-tool names it
    } cases[] = {{TQXP11_KIND_DES, 8, TQXP11_EXTRACTABLE | TQXP11_WRAP, "DES"},
                 {TQXP11_KIND_DES2, 16, TQXP11_EXTRACTABLE, "unknown key algorithm 20"},
                 {TQXP11_KIND_DES3, 24, TQXP11_EXTRACTABLE | TQXP11_UNWRAP, "DES3"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.listed);
        Bytes key(c.length, 0x00);
        key[1] = 0x01;
        key[2] = 0xFE;
        Bytes keyId = {0x0D, static_cast<unsigned char>(c.kind)};
        TQXP11_VALUE value{};
        value.secret = {bytes(keyId), bytes(key), {nullptr, 0}};
        std::string label = std::string("key ") + c.listed;
        TQXP11_OBJECT object = describe(label, c.kind, true, &value);
        ASSERT_EQ(TQXP11_WriteSymmetricKeyObject(&session, &object, c.flags), TQP11_RTN_OK);
        Bytes odd(c.length, 0x01);
        odd[1] = 0x01;
        odd[2] = 0xFE;
        EXPECT_EQ(key, odd);  // the caller's buffer holds the stored bytes

        ReadObject read(label, c.kind, true);
        ASSERT_EQ(TQXP11_ReadObject(&session, &read.object), TQP11_RTN_OK);
        EXPECT_EQ(bytesOf(read.value().secret.id), keyId);
        EXPECT_EQ(bytesOf(read.value().secret.value), odd);
        EXPECT_EQ(boolAttribute(read.object.handle, CKA_WRAP), (c.flags & TQXP11_WRAP) != 0);
        EXPECT_EQ(boolAttribute(read.object.handle, CKA_UNWRAP), (c.flags & TQXP11_UNWRAP) != 0);
        EXPECT_FALSE(boolAttribute(read.object.handle, CKA_SENSITIVE));
        std::string listing = token.tool("-O");
        EXPECT_NE(listing.find("Secret Key Object; " + std::string(c.listed) + "\n"), std::string::npos)
            << listing;
        EXPECT_NE(listing.find("label:      " + label + "\n"), std::string::npos) << listing;
    }

    // Sensitive and not extractable: the reader gives the ID alone.
    Bytes key(8, 0x40), keyId = {0x5E};
    TQXP11_VALUE value{};
    value.secret = {bytes(keyId), bytes(key), {nullptr, 0}};
    TQXP11_OBJECT object = describe("sensitive des", TQXP11_KIND_DES, false, &value);
    ASSERT_EQ(TQXP11_WriteObject(&session, &object, TQXP11_SENSITIVE | TQXP11_WRAP), TQP11_RTN_OK);
    EXPECT_TRUE(boolAttribute(object.handle, CKA_SENSITIVE));
    EXPECT_FALSE(boolAttribute(object.handle, CKA_EXTRACTABLE));
    EXPECT_TRUE(boolAttribute(object.handle, CKA_WRAP));
    EXPECT_FALSE(boolAttribute(object.handle, CKA_UNWRAP));
    ReadObject read("sensitive des", TQXP11_KIND_DES, false);
    ASSERT_EQ(TQXP11_ReadObject(&session, &read.object), TQP11_RTN_OK);
    EXPECT_EQ(bytesOf(read.value().secret.id), keyId);
    EXPECT_EQ(read.value().secret.value.data, nullptr);
    EXPECT_EQ(read.value().secret.value.length, 0u);

    // Left-out attributes take the module's defaults (SoftHSM2: wrap and
    // unwrap allowed), where a clear flag would have written false.
    TQXP11_OBJECT defaults = describe("default des", TQXP11_KIND_DES, false, &value);
    ASSERT_EQ(TQXP11_WriteObject(&session, &defaults, 0xF0000), TQP11_RTN_OK);
    EXPECT_TRUE(boolAttribute(defaults.handle, CKA_WRAP));
    EXPECT_TRUE(boolAttribute(defaults.handle, CKA_UNWRAP));
}

TEST_F(p11Objects, SessionObjectsAndRefusedKinds) {
    Bytes key(24, 0x23), keyId = {0x51};
    TQXP11_VALUE value{};
    value.secret = {bytes(keyId), bytes(key), {nullptr, 0}};
    TQXP11_OBJECT object = describe("session des3", TQXP11_KIND_DES3, false, &value);
    ASSERT_EQ(TQXP11_WriteSessionObject(&session, &object, TQXP11_EXTRACTABLE), TQP11_RTN_OK);
    EXPECT_FALSE(boolAttribute(object.handle, CKA_TOKEN));
    EXPECT_EQ(key, Bytes(24, 0x23));  // no parity for session keys
    TQXP11_OBJECT again = describe("session des3", TQXP11_KIND_DES3, false, &value);
    EXPECT_EQ(TQXP11_WriteSessionObject(&session, &again, 0), TQP11_RTN_OBJECT_EXIST);
    // Token and session objects do not share labels.
    EXPECT_EQ(TQXP11_WriteObject(&session, &again, TQXP11_EXTRACTABLE), TQP11_RTN_OK);
    EXPECT_TRUE(boolAttribute(again.handle, CKA_TOKEN));

    TQXP11_OBJECT aes = describe("aes", TQXP11_KIND_AES, false, &value);
    EXPECT_EQ(TQXP11_WriteObject(&session, &aes, 0), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    TQXP11_OBJECT des2 = describe("des2", TQXP11_KIND_DES2, false, &value);
    EXPECT_EQ(TQXP11_WriteSessionObject(&session, &des2, 0), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    TQXP11_OBJECT dataKind = describe("data", TQXP11_KIND_DATA, false, &value);
    EXPECT_EQ(TQXP11_WriteSymmetricKeyObject(&session, &dataKind, 0), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    // SoftHSM2 has no RC4: the module's refusal comes back.
    TQXP11_OBJECT rc4 = describe("rc4", TQXP11_KIND_RC4, false, &value);
    int rc = TQXP11_WriteObject(&session, &rc4, 0);
    EXPECT_NE(rc, TQP11_RTN_OK);
    EXPECT_NE(rc, TQP11_RTN_UNKNOW_ERROR);

    // A private RSA key needs the read-write user state.
    TQXP11_SESSION readOnly{};
    ASSERT_EQ(TQXP11_SessionOpenEx(&context, &readOnly, 0), TQP11_RTN_OK);
    EXPECT_EQ(readOnly.sessionInfo.state, CKS_RO_USER_FUNCTIONS);
    TQXP11_VALUE pri{};
    pri.rsaPrivate = {bytes(keyId),  bytes(user.n),  bytes(user.e),  bytes(user.d),   bytes(user.p),
                      bytes(user.q), bytes(user.dp), bytes(user.dq), bytes(user.qinv)};
    TQXP11_OBJECT priObject = describe("ro key", TQXP11_KIND_RSA_PRIVATE, true, &pri);
    EXPECT_EQ(TQXP11_WriteObject(&readOnly, &priObject, 0), TQP11_RTN_USER_NOT_LOGGED_IN);
    EXPECT_EQ(TQXP11_SessionClose(&readOnly), TQP11_RTN_OK);

    // Key bytes counted but not given.
    TQXP11_VALUE missing{};
    missing.secret.value = {nullptr, 8};
    for (CK_ULONG kind : {CK_ULONG(TQXP11_KIND_DES), CK_ULONG(TQXP11_KIND_RC4)}) {
        TQXP11_OBJECT noBytes = describe("no bytes", kind, false, &missing);
        EXPECT_EQ(TQXP11_WriteObject(&session, &noBytes, 0), TQP11_RTN_ARGUMENTS_BAD) << kind;
        EXPECT_EQ(TQXP11_WriteSessionObject(&session, &noBytes, 0), TQP11_RTN_ARGUMENTS_BAD) << kind;
    }
}

TEST_F(p11Objects, PeerWrittenObjectsAreReadByLabelAndId) {
    std::string data = token.file("peer.bin");
    tqtest::writeFile(data, std::string("peer data bytes"));
    int status = -1;
    std::string log = token.tool("--write-object '" + data + "' --type data --label 'peer data'", &status);
    ASSERT_EQ(status, 0) << log;
    log = token.tool("--write-object '" + tqtest::fixture("objects/user.der") +
                         "' --type cert --label 'peer cert' --id A1B2",
                     &status);
    ASSERT_EQ(status, 0) << log;
    log = token.util("--import '" + tqtest::fixture("objects/user.key.pem") + "' --token '" + token.label() +
                         "' --label 'peer key' --id C3D4 --pin " + token.userPin(),
                     &status);
    ASSERT_EQ(status, 0) << log;
    std::string aes = token.file("aes.bin");
    Bytes aesKey = tqtest::randomBytes(32, 7);
    tqtest::writeFile(aes, aesKey);
    log = token.tool(
        "--write-object '" + aes + "' --type secrkey --key-type AES:32 --label 'peer aes' --id E5", &status);
    ASSERT_EQ(status, 0) << log;

    ReadObject dataRead("peer data", TQXP11_KIND_DATA, false);
    ASSERT_EQ(TQXP11_ReadObject(&session, &dataRead.object), TQP11_RTN_OK);
    EXPECT_EQ(bytesOf(dataRead.value().data.value),
              Bytes({'p', 'e', 'e', 'r', ' ', 'd', 'a', 't', 'a', ' ', 'b', 'y', 't', 'e', 's'}));

    // The certificate reads back to the DER the openssl tool prints.
    std::string der =
        tqtest::run("openssl x509 -in '" + tqtest::fixture("objects/user.pem") + "' -outform DER");
    ReadObject certRead("peer cert", TQXP11_KIND_CERTIFICATE, false);
    ASSERT_EQ(TQXP11_ReadObject(&session, &certRead.object), TQP11_RTN_OK);
    EXPECT_EQ(bytesOf(certRead.value().certificate.value), Bytes(der.begin(), der.end()));
    EXPECT_EQ(bytesOf(certRead.value().certificate.subject), user.subject);
    EXPECT_EQ(bytesOf(certRead.value().certificate.id), Bytes({0xA1, 0xB2}));

    Bytes certId = {0xA1, 0xB2};
    TQXP11_VALUE wanted{};
    wanted.first = bytes(certId);
    ReadObject certById("", TQXP11_KIND_CERTIFICATE, false);
    certById.searchFor(&wanted);
    ASSERT_EQ(TQXP11_ReadCertificateObjectWithCKAID(&session, &certById.object), TQP11_RTN_OK);
    EXPECT_NE(certById.object.valueRecord, &wanted);
    EXPECT_EQ(bytesOf(certById.value().certificate.value), Bytes(der.begin(), der.end()));
    EXPECT_EQ(bytesOf(certById.value().certificate.issuer), user.issuer);
    EXPECT_EQ(bytesOf(certById.value().certificate.serialNumber), user.serial);

    ReadObject keyRead("peer key", TQXP11_KIND_RSA_PRIVATE, true);
    ASSERT_EQ(TQXP11_ReadObject(&session, &keyRead.object), TQP11_RTN_OK);
    EXPECT_EQ(bytesOf(keyRead.value().rsaPrivate.modulus), user.n);
    EXPECT_EQ(bytesOf(keyRead.value().rsaPrivate.publicExponent), user.e);
    EXPECT_EQ(bytesOf(keyRead.value().rsaPrivate.id), Bytes({0xC3, 0xD4}));
    ReadObject pubRead("peer key", TQXP11_KIND_RSA_PUBLIC, false);
    ASSERT_EQ(TQXP11_ReadObject(&session, &pubRead.object), TQP11_RTN_OK);
    EXPECT_EQ(bytesOf(pubRead.value().rsaPublic.modulus), user.n);

    Bytes keyId = {0xC3, 0xD4};
    wanted.first = bytes(keyId);
    ReadObject keyById("", TQXP11_KIND_RSA_PRIVATE, true);
    keyById.searchFor(&wanted);
    ASSERT_EQ(TQXP11_ReadRSAPrivateKeyObjectWithCKAID(&session, &keyById.object), TQP11_RTN_OK);
    EXPECT_EQ(bytesOf(keyById.value().rsaPrivate.modulus), user.n);
    EXPECT_EQ(bytesOf(keyById.value().rsaPrivate.publicExponent), user.e);
    EXPECT_EQ(keyById.value().rsaPrivate.id.data, nullptr);

    // softhsm2-util stores the key sensitive: its primes stay on the token.
    unsigned char *parts[7] = {};
    int lengths[7] = {};
    EXPECT_EQ(TQXP11_RSAKEY_AttrValue(&session, &keyRead.object, &parts[0], &lengths[0], &parts[1],
                                      &lengths[1], &parts[2], &lengths[2], &parts[3], &lengths[3], &parts[4],
                                      &lengths[4], &parts[5], &lengths[5], &parts[6], &lengths[6]),
              TQP11_RTN_ATTRIBUTE_SENSITIVE);
    for (unsigned char *p : parts) EXPECT_EQ(p, nullptr);

    // pkcs11-tool's secret key is not extractable: the ID alone comes back,
    // also through the RC4 reader, which finds any secret key of the label.
    for (CK_ULONG kind : {CK_ULONG(TQXP11_KIND_AES), CK_ULONG(TQXP11_KIND_RC4)}) {
        ReadObject aesRead("peer aes", kind, false);
        ASSERT_EQ(TQXP11_ReadObject(&session, &aesRead.object), TQP11_RTN_OK);
        EXPECT_EQ(bytesOf(aesRead.value().secret.id), Bytes({0xE5}));
        EXPECT_EQ(aesRead.value().secret.value.length, 0u);
    }
}

TEST_F(p11Objects, RsaComponentsOfAnExtractableKey) {
    TQXP11_OBJECT object = createOpenKey();
    ASSERT_NE(object.handle, 0u);
    unsigned char *parts[7] = {};
    int lengths[7] = {};
    ASSERT_EQ(TQXP11_RSAKEY_AttrValue(&session, &object, &parts[0], &lengths[0], &parts[1], &lengths[1],
                                      &parts[2], &lengths[2], &parts[3], &lengths[3], &parts[4], &lengths[4],
                                      &parts[5], &lengths[5], &parts[6], &lengths[6]),
              TQP11_RTN_OK);
    const Bytes *expected[7] = {&user.n, &user.e, &user.p, &user.q, &user.dp, &user.dq, &user.qinv};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(Bytes(parts[i], parts[i] + lengths[i]), *expected[i]) << i;
        std::free(parts[i]);
    }
    TQXP11_OBJECT unfound = describe("open key", TQXP11_KIND_RSA_PRIVATE, true);
    EXPECT_EQ(TQXP11_RSAKEY_AttrValue(&session, &unfound, &parts[0], &lengths[0], &parts[1], &lengths[1],
                                      &parts[2], &lengths[2], &parts[3], &lengths[3], &parts[4], &lengths[4],
                                      &parts[5], &lengths[5], &parts[6], &lengths[6]),
              TQP11_RTN_KEY_HANDLE_INVALID);
}

TEST_F(p11Objects, SearchBoundDuplicatesAndKinds) {
    for (int i = 0; i < 130; ++i) createData("many");
    ReadObject many("many", TQXP11_KIND_DATA, false);
    EXPECT_EQ(TQXP11_ReadObject(&session, &many.object), TQP11_RTN_OBJECT_HAS_PROBLEM);
    EXPECT_EQ(many.object.handle, 0u);
    Bytes v = {1};
    TQXP11_VALUE value{};
    value.data.value = bytes(v);
    TQXP11_OBJECT write = describe("many", TQXP11_KIND_DATA, false, &value);
    EXPECT_EQ(TQXP11_WriteObject(&session, &write, 0), TQP11_RTN_OBJECT_HAS_PROBLEM);

    ReadObject missing("nobody", TQXP11_KIND_CERTIFICATE, false);
    EXPECT_EQ(TQXP11_ReadObject(&session, &missing.object), TQP11_RTN_OBJECT_NOT_EXIST);

    TQXP11_OBJECT odd = describe("many", 37, false);
    odd.handle = 5;
    EXPECT_EQ(TQXP11_ReadObject(&session, &odd), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(TQXP11_FreeObject(&odd), TQP11_RTN_OK);
    EXPECT_EQ(odd.handle, 0u);
}

TEST_F(p11Objects, LongLabels) {
    const std::string longest(255, 'L');
    createData(longest);
    ReadObject exact(longest, TQXP11_KIND_DATA, false);
    ASSERT_EQ(TQXP11_ReadObject(&session, &exact.object), TQP11_RTN_OK);
    TQXP11_FreeObject(&exact.object);

    // Counting the NUL makes the label one byte longer than the token's.
    session.options = TQXP11_OPTION_COUNT_NUL;
    EXPECT_EQ(TQXP11_ReadObject(&session, &exact.object), TQP11_RTN_OBJECT_NOT_EXIST);
    session.options = 0;

    // A record filled to the last byte without a NUL: the label ends with the buffer.
    ReadObject full(longest, TQXP11_KIND_DATA, false);
    full.object.label[255] = 'L';
    full.object.labelLength = 0x4C4C;
    ASSERT_EQ(TQXP11_ReadObject(&session, &full.object), TQP11_RTN_OK);
}

TEST_F(p11ShimObjects, SearchLengthsFollowTheSessionOption) {
    Bytes keyId = {0xAB, 0xCD};
    TQXP11_VALUE wanted{};
    wanted.first = bytes(keyId);
    ReadObject byId("", TQXP11_KIND_RSA_PRIVATE, true);
    byId.searchFor(&wanted);
    session.options = TQXP11_OPTION_COUNT_NUL;
    EXPECT_EQ(TQXP11_ReadRSAPrivateKeyObjectWithCKAID(&session, &byId.object), TQP11_RTN_OBJECT_NOT_EXIST);
    ASSERT_EQ(shim::state().idLengths.size(), 1u);
    EXPECT_EQ(shim::state().idLengths[0], 3u);
    EXPECT_EQ(shim::state().keyTypeLengths.at(0), 8u);
    // An ID record without bytes is searched as an empty ID, never as one
    // byte read from nowhere.
    TQXP11_VALUE none{};
    ReadObject byNoId("", TQXP11_KIND_CERTIFICATE, false);
    byNoId.searchFor(&none);
    EXPECT_EQ(TQXP11_ReadCertificateObjectWithCKAID(&session, &byNoId.object), TQP11_RTN_OBJECT_NOT_EXIST);
    ASSERT_EQ(shim::state().idLengths.size(), 2u);
    EXPECT_EQ(shim::state().idLengths[1], 0u);
    ReadObject byLabel(std::string(255, 'x'), TQXP11_KIND_DATA, false);
    EXPECT_EQ(TQXP11_ReadObject(&session, &byLabel.object), TQP11_RTN_OBJECT_NOT_EXIST);
    EXPECT_EQ(shim::state().labelLengths.back(), 256u);
}

Bytes ulongBytes(CK_ULONG v) {
    const auto *p = reinterpret_cast<const unsigned char *>(&v);
    return Bytes(p, p + sizeof v);
}

TEST_F(p11ShimObjects, WriterTemplatesInTheirOrder) {
    using Types = std::vector<CK_ATTRIBUTE_TYPE>;
    const Types head = {CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_LABEL};
    auto with = [&](Types tail) {
        Types t = head;
        t.insert(t.end(), tail.begin(), tail.end());
        return t;
    };
    const Types secretTail = {CKA_KEY_TYPE, CKA_ID,     CKA_ENCRYPT, CKA_DECRYPT,
                              CKA_SIGN,     CKA_VERIFY, CKA_VALUE};
    const Types flagTail = {CKA_WRAP, CKA_UNWRAP, CKA_SENSITIVE, CKA_EXTRACTABLE};
    auto secret = [&](bool rc4, bool flags) {
        Types t = with(secretTail);
        if (rc4) t.push_back(CKA_VALUE_LEN);
        if (flags) t.insert(t.end(), flagTail.begin(), flagTail.end());
        return t;
    };
    const Types sessionTail = {CKA_KEY_TYPE,  CKA_ID,          CKA_ENCRYPT, CKA_DECRYPT, CKA_WRAP, CKA_UNWRAP,
                               CKA_SENSITIVE, CKA_EXTRACTABLE, CKA_SIGN,    CKA_VERIFY,  CKA_VALUE};

    Bytes id = {0x7E}, note = {'n'}, des(8, 0x10), rc4(5, 0x33), none;
    TQXP11_VALUE data{}, bareCert{}, fullCert{}, pub{}, pri{}, desKey{}, rc4Key{};
    data.data.value = bytes(note);
    bareCert.certificate = {bytes(user.subject), bytes(none), bytes(none), bytes(none),
                            bytes(user.certificate)};
    fullCert.certificate = {bytes(user.subject), bytes(id), bytes(user.issuer), bytes(user.serial),
                            bytes(user.certificate)};
    pub.rsaPublic = {bytes(id), bytes(user.n), bytes(user.e), 0};
    pri.rsaPrivate = {bytes(id),     bytes(user.n),  bytes(user.e),  bytes(user.d),   bytes(user.p),
                      bytes(user.q), bytes(user.dp), bytes(user.dq), bytes(user.qinv)};
    desKey.secret = {bytes(id), bytes(des), {nullptr, 0}};
    rc4Key.secret = {bytes(id), bytes(rc4), {nullptr, 0}};
    enum class Writer { token, session };
    struct Case {
        const char *label;
        CK_ULONG kind;
        TQXP11_VALUE *value;
        bool isPrivate;
        Writer writer;
        int flags;
        Types expected;
    } cases[] = {
        {"data", TQXP11_KIND_DATA, &data, false, Writer::token, 0, with({CKA_APPLICATION, CKA_VALUE})},
        {"bare cert", TQXP11_KIND_CERTIFICATE, &bareCert, false, Writer::token, 0,
         with({CKA_SUBJECT, CKA_VALUE, CKA_CERTIFICATE_TYPE})},
        {"full cert", TQXP11_KIND_CERTIFICATE, &fullCert, false, Writer::token, 0,
         with({CKA_SUBJECT, CKA_VALUE, CKA_CERTIFICATE_TYPE, CKA_ISSUER, CKA_SERIAL_NUMBER, CKA_ID})},
        {"public", TQXP11_KIND_RSA_PUBLIC, &pub, false, Writer::token, 0,
         with({CKA_KEY_TYPE, CKA_ID, CKA_ENCRYPT, CKA_VERIFY, CKA_WRAP, CKA_VERIFY_RECOVER, CKA_MODULUS,
               CKA_PUBLIC_EXPONENT})},
        {"private", TQXP11_KIND_RSA_PRIVATE, &pri, true, Writer::token, 0xFF000,
         with({CKA_KEY_TYPE, CKA_ID, CKA_SENSITIVE, CKA_DECRYPT, CKA_SIGN, CKA_SIGN_RECOVER, CKA_UNWRAP,
               CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1, CKA_PRIME_2,
               CKA_EXPONENT_1, CKA_EXPONENT_2, CKA_COEFFICIENT})},
        {"des", TQXP11_KIND_DES, &desKey, false, Writer::token, TQXP11_WRAP | TQXP11_SENSITIVE,
         secret(false, true)},
        {"des omitting", TQXP11_KIND_DES, &desKey, false, Writer::token, 0xF0000, secret(false, false)},
        {"rc4", TQXP11_KIND_RC4, &rc4Key, false, Writer::token, TQXP11_WRAP | TQXP11_SENSITIVE,
         secret(true, true)},
        {"session des", TQXP11_KIND_DES, &desKey, false, Writer::session, TQXP11_WRAP | TQXP11_SENSITIVE,
         with(sessionTail)},
        {"session rc4", TQXP11_KIND_RC4, &rc4Key, false, Writer::session, 0xF0000 | TQXP11_WRAP,
         [&] {
             Types t = with(sessionTail);
             t.push_back(CKA_VALUE_LEN);
             return t;
         }()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        TQXP11_OBJECT object = describe(c.label, c.kind, c.isPrivate, c.value);
        int rc = c.writer == Writer::token ? TQXP11_WriteObject(&session, &object, c.flags)
                                           : TQXP11_WriteSessionObject(&session, &object, c.flags);
        ASSERT_EQ(rc, TQP11_RTN_OK);
        const shim::State::Template &t = shim::lastTemplate("C_CreateObject");
        EXPECT_EQ(t.types, c.expected);
        EXPECT_EQ(t.value(CKA_LABEL), Bytes(c.label, c.label + std::strlen(c.label)));
        EXPECT_EQ(t.value(CKA_PRIVATE), Bytes({static_cast<unsigned char>(c.isPrivate)}));
        EXPECT_EQ(t.value(CKA_TOKEN), Bytes({static_cast<unsigned char>(c.writer == Writer::token)}));
        // Flags: only those the kind reads, each true or false.
        const struct {
            CK_ATTRIBUTE_TYPE type;
            int bit;
        } flags[] = {{CKA_WRAP, TQXP11_WRAP},
                     {CKA_UNWRAP, TQXP11_UNWRAP},
                     {CKA_SENSITIVE, TQXP11_SENSITIVE},
                     {CKA_EXTRACTABLE, TQXP11_EXTRACTABLE}};
        for (const auto &f : flags) {
            if (std::find(t.types.begin(), t.types.end(), f.type) == t.types.end()) continue;
            EXPECT_EQ(t.value(f.type), Bytes({static_cast<unsigned char>((c.flags & f.bit) != 0)})) << f.type;
        }
    }
    const char application[] = "Orvane-P11";
    TQXP11_OBJECT dataAgain = describe("data two", TQXP11_KIND_DATA, false, &data);
    ASSERT_EQ(TQXP11_WriteObject(&session, &dataAgain, 0), TQP11_RTN_OK);
    EXPECT_EQ(shim::lastTemplate("C_CreateObject").value(CKA_APPLICATION),
              Bytes(application, application + sizeof application));
    EXPECT_EQ(shim::lastTemplate("C_CreateObject").value(CKA_CLASS), ulongBytes(CKO_DATA));
    TQXP11_OBJECT rc4Again = describe("rc4 two", TQXP11_KIND_RC4, false, &rc4Key);
    ASSERT_EQ(TQXP11_WriteObject(&session, &rc4Again, 0), TQP11_RTN_OK);
    EXPECT_EQ(shim::lastTemplate("C_CreateObject").value(CKA_VALUE_LEN), ulongBytes(rc4.size()));
    EXPECT_EQ(shim::lastTemplate("C_CreateObject").value(CKA_KEY_TYPE), ulongBytes(CKK_RC4));
}

TEST_F(p11ShimObjects, PrivateObjectWithoutLoginAsksTheModuleNothing) {
    ASSERT_EQ(TQXP11_Logout(&session), TQP11_RTN_OK);
    shim::state().calls.clear();
    ReadObject cert("any", TQXP11_KIND_CERTIFICATE, true);
    EXPECT_EQ(TQXP11_ReadObject(&session, &cert.object), TQP11_RTN_USER_NOT_LOGGED_IN);
    EXPECT_TRUE(shim::state().calls.empty());
}

TEST_F(p11ShimObjects, ZeroModulusIsReadAgainAfterAPause) {
    Bytes keyId = {0x99};
    storeUserKey("fresh key", keyId);

    for (int zeroReads : {1, 2}) {
        SCOPED_TRACE(zeroReads);
        shim::state().zeroModulusReads = zeroReads;
        TQXP11_VALUE wanted{};
        wanted.first = bytes(keyId);
        ReadObject byId("", TQXP11_KIND_RSA_PRIVATE, true);
        byId.searchFor(&wanted);
        auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(TQXP11_ReadRSAPrivateKeyObjectWithCKAID(&session, &byId.object), TQP11_RTN_OK);
        // This host has no Sleep of its own: the pause is the layer's.
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
        Bytes modulus = bytesOf(byId.value().rsaPrivate.modulus);
        EXPECT_EQ(modulus, zeroReads == 1 ? user.n : Bytes(user.n.size(), 0));
        EXPECT_EQ(bytesOf(byId.value().rsaPrivate.publicExponent), user.e);
    }
}

TEST_F(p11ShimObjects, VendorRecordsUpToTheirCap) {
    shim::State &s = shim::state();
    s.records["HCA_BASIC"] = tqtest::randomBytes(1024, 1);
    s.records["HCA_HOP_BASIC1"] = tqtest::randomBytes(1025, 2);
    s.records["big"] = tqtest::randomBytes(1500, 3);
    s.records["empty"] = {};
    s.records["short"] = {0x42};
    struct Case {
        const char *name;
        int code;
        size_t length;
    } cases[] = {{"HCA_BASIC", 0, 1024},
                 {"short", 0, 1},
                 {"HCA_HOP_BASIC1", TQP11_RTN_BUFFER_TOO_SMALL, 0},
                 {"big", TQP11_RTN_BUFFER_TOO_SMALL, 0},
                 {"empty", 0, 0},
                 {"missing", 0, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        unsigned char *out = reinterpret_cast<unsigned char *>(&s);
        CK_ULONG length = 77;
        EXPECT_EQ(TQXP11_HCAGetRecord(&session, c.name, 0, &out, &length), c.code);
        EXPECT_EQ(length, c.length);
        EXPECT_FALSE(s.recordSearchOpen);
        if (c.length == 0) {
            EXPECT_EQ(out, nullptr);
            continue;
        }
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(Bytes(out, out + length), s.records[c.name]);
        std::free(out);
    }
}

TEST_F(p11ShimObjects, LengthsTheModuleMisreportsAreNotTrusted) {
    // A value said to be longer than the buffer it was read into.
    Bytes v = {1, 2, 3};
    TQXP11_VALUE value{};
    value.data.value = bytes(v);
    TQXP11_OBJECT write = describe("told", TQXP11_KIND_DATA, false, &value);
    ASSERT_EQ(TQXP11_WriteObject(&session, &write, 0), TQP11_RTN_OK);
    shim::state().overstatedReads[CKA_VALUE] = 100;
    ReadObject told("told", TQXP11_KIND_DATA, false);
    EXPECT_EQ(TQXP11_ReadObject(&session, &told.object), TQP11_RTN_BUFFER_TOO_SMALL);
    EXPECT_EQ(told.object.valueRecord, nullptr);
    EXPECT_EQ(told.object.handle, 0u);
    shim::state().overstatedReads.clear();

    // RSA components: a length the module cannot give, or one no int holds
    // (also one that a cut to 32 bits would make small), fails the read
    // before any buffer is offered; a read said to be longer than its buffer
    // fails after it.
    TQXP11_OBJECT key = createOpenKey();
    ASSERT_NE(key.handle, 0u);
    const CK_ULONG aboveInt = static_cast<CK_ULONG>(INT_MAX) + 1;
    struct Case {
        const char *name;
        CK_ULONG queried, overstated;
        int reads;
    } cases[] = {{"unavailable", CK_UNAVAILABLE_INFORMATION, 0, 1},
                 {"above INT_MAX", aboveInt, 0, 1},
                 {"cut to 32 bits", (CK_ULONG(1) << 32) + 16, 0, 1},
                 {"overstated read", 0, 1000, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.queried) shim::state().queryAnswers[CKA_PRIME_2] = {c.queried, 1};
        if (c.overstated) shim::state().overstatedReads[CKA_PRIME_1] = c.overstated;
        shim::state().calls.clear();
        unsigned char *parts[7] = {};
        int lengths[7] = {};
        EXPECT_EQ(TQXP11_RSAKEY_AttrValue(&session, &key, &parts[0], &lengths[0], &parts[1], &lengths[1],
                                          &parts[2], &lengths[2], &parts[3], &lengths[3], &parts[4],
                                          &lengths[4], &parts[5], &lengths[5], &parts[6], &lengths[6]),
                  TQP11_RTN_BUFFER_TOO_SMALL);
        EXPECT_EQ(shim::calls("C_GetAttributeValue"), c.reads);
        for (int i = 0; i < 7; ++i) {
            EXPECT_EQ(parts[i], nullptr) << i;
            EXPECT_EQ(lengths[i], 0) << i;
        }
        shim::state().queryAnswers.clear();
        shim::state().overstatedReads.clear();
    }

    // The readers: the same lengths fail the read of the record, which
    // then holds no value record and searches again next time.
    Bytes keyId = {0x97};
    storeUserKey("misreported key", keyId);
    for (CK_ULONG queried : {CK_UNAVAILABLE_INFORMATION, aboveInt}) {
        SCOPED_TRACE(queried);
        shim::state().queryAnswers[CKA_VALUE] = {queried, 1};
        ReadObject data("told", TQXP11_KIND_DATA, false);
        EXPECT_EQ(TQXP11_ReadObject(&session, &data.object), TQP11_RTN_BUFFER_TOO_SMALL);
        EXPECT_EQ(data.object.valueRecord, nullptr);
        EXPECT_EQ(data.object.handle, 0u);

        shim::state().queryAnswers[CKA_MODULUS] = {queried, 1};
        ReadObject byLabel("misreported key", TQXP11_KIND_RSA_PRIVATE, true);
        EXPECT_EQ(TQXP11_ReadObject(&session, &byLabel.object), TQP11_RTN_BUFFER_TOO_SMALL);
        EXPECT_EQ(byLabel.object.valueRecord, nullptr);
        EXPECT_EQ(byLabel.object.handle, 0u);

        shim::state().queryAnswers[CKA_PUBLIC_EXPONENT] = {queried, 1};
        TQXP11_VALUE wanted{};
        wanted.first = bytes(keyId);
        ReadObject byId("", TQXP11_KIND_RSA_PRIVATE, true);
        byId.searchFor(&wanted);
        EXPECT_EQ(TQXP11_ReadRSAPrivateKeyObjectWithCKAID(&session, &byId.object),
                  TQP11_RTN_BUFFER_TOO_SMALL);
        EXPECT_EQ(byId.object.valueRecord, nullptr);
        EXPECT_EQ(byId.object.handle, 0u);
        shim::state().queryAnswers.clear();

        // Told right, the same reads succeed.
        ASSERT_EQ(TQXP11_ReadObject(&session, &data.object), TQP11_RTN_OK);
        EXPECT_EQ(bytesOf(data.value().data.value), v);
        ASSERT_EQ(TQXP11_ReadObject(&session, &byLabel.object), TQP11_RTN_OK);
        EXPECT_EQ(bytesOf(byLabel.value().rsaPrivate.modulus), user.n);
    }
}

TEST_F(p11ShimObjects, EmptyFirstModulusIsNotGivenALengthWithoutBytes) {
    Bytes keyId = {0x98};
    storeUserKey("empty modulus", keyId);
    // Both reads before the pause report no modulus; the read after it,
    // into no buffer, only learns its length.
    shim::state().queryAnswers[CKA_MODULUS] = {0, 2};
    TQXP11_VALUE wanted{};
    wanted.first = bytes(keyId);
    ReadObject byId("", TQXP11_KIND_RSA_PRIVATE, true);
    byId.searchFor(&wanted);
    ASSERT_EQ(TQXP11_ReadRSAPrivateKeyObjectWithCKAID(&session, &byId.object), TQP11_RTN_OK);
    EXPECT_EQ(byId.value().rsaPrivate.modulus.data, nullptr);
    EXPECT_EQ(byId.value().rsaPrivate.modulus.length, 0u);
    EXPECT_EQ(bytesOf(byId.value().rsaPrivate.publicExponent), user.e);
}

}  // namespace

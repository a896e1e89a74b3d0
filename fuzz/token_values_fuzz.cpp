// The token readers over values a module hands out. The test module of our
// own forwards to a SoftHSM2 token the run prepared (a certificate and its
// key pair under "fuzz" with CKA_ID 01, a data object, secret keys) and
// answers attribute reads as the input says. The first byte chooses the
// reader; then come entries of an attribute (one byte, an index into
// kTypes), what the module does with it (one byte, kModes), a length (two
// bytes, little-endian) and, for a value, that many bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fixture_files.h"
#include "shim_state.h"
#include "tqp11certs.h"
#include "tqp11secret.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_x509.h"
#include "tqxp11bridge.h"
#include "tqxp11obj.h"

namespace {

using Bytes = std::vector<unsigned char>;

const CK_ATTRIBUTE_TYPE kTypes[] = {
    CKA_CLASS,           CKA_LABEL,     CKA_PRIVATE,      CKA_KEY_TYPE,      CKA_ID,
    CKA_VALUE,           CKA_SUBJECT,   CKA_ISSUER,       CKA_SERIAL_NUMBER, CKA_MODULUS,
    CKA_PUBLIC_EXPONENT, CKA_PRIME_1,   CKA_PRIME_2,      CKA_EXPONENT_1,    CKA_EXPONENT_2,
    CKA_COEFFICIENT,     CKA_VALUE_LEN, CKA_MODULUS_BITS, CKA_TOKEN,         CKA_CERTIFICATE_TYPE};

// What the module does with an attribute: hands out the entry's bytes; says
// it is unavailable (three answers of the call, the last one CKR_OK); lies
// about its length to a length query or after a read; or, for the vendor
// record, holds the bytes as the record's value.
enum Mode { kValue, kInvalid, kSensitive, kSilent, kQueryLength, kOverstated, kRecord, kModes };

const char kRecordName[] = "fuzz-record";

struct Token {
    TQXP11_CONTEXT context{};
    TQXP11_SESSION session{};
    std::string caText = fuzz::fixtureText("objects/ca.pem");
    Token() {
        int rc = TQXP11_Init(&context, TQ_SHIM_MODULE);
        for (CK_ULONG i = 0; rc == TQP11_RTN_OK && i < context.slotCount; ++i) {
            CK_TOKEN_INFO info;
            if (TQXP11_SetCurrentSlot(&context, i) != TQP11_RTN_OK ||
                TQXP11_GetTokenInfo(&context, &info) != 0)
                continue;
            if (std::memcmp(info.label, "fuzz ", 5) != 0) continue;
            if (TQXP11_SessionOpen(&context, &session) == TQP11_RTN_OK &&
                TQXP11_Login(&session, "123456") == TQP11_RTN_OK)
                return;
        }
        std::fprintf(stderr, "no token labelled fuzz on %s\n", TQ_SHIM_MODULE);
        std::abort();
    }
    // The private key's object handle, found once.
    CK_OBJECT_HANDLE privateKey() {
        static const CK_OBJECT_HANDLE handle = [this] {
            TQXP11_OBJECT found{};
            std::snprintf(found.label, sizeof found.label, "fuzz");
            found.kind = TQXP11_KIND_RSA_PRIVATE;
            found.isPrivate = CK_TRUE;
            if (TQXP11_ReadObject(&session, &found) != TQP11_RTN_OK) std::abort();
            CK_OBJECT_HANDLE h = found.handle;
            TQXP11_FreeObject(&found);
            return h;
        }();
        return handle;
    }
};

// The entries of the input, put into the module's state.
void substitute(const unsigned char *data, size_t size) {
    shim::State &s = shim::state();
    while (size >= 4) {
        const CK_ATTRIBUTE_TYPE type = kTypes[data[0] % (sizeof kTypes / sizeof kTypes[0])];
        const int mode = data[1] % kModes;
        size_t length = static_cast<size_t>(data[2] | data[3] << 8);
        data += 4, size -= 4;
        const bool bytes = mode == kValue || mode == kRecord;
        if (bytes && length > size) length = size;
        switch (mode) {
        case kValue:
            s.substitutes[type] = Bytes(data, data + length);
            break;
        case kInvalid:
            s.unavailable[type] = CKR_ATTRIBUTE_TYPE_INVALID;
            break;
        case kSensitive:
            s.unavailable[type] = CKR_ATTRIBUTE_SENSITIVE;
            break;
        case kSilent:
            s.unavailable[type] = CKR_OK;
            break;
        case kQueryLength:
            s.queryAnswers[type] = {length, 1};
            break;
        case kOverstated:
            s.overstatedReads[type] = length;
            break;
        default:
            s.records[kRecordName] = Bytes(data, data + length);
        }
        if (bytes) data += length, size -= length;
    }
}

// A byte string a reader handed out: the substituted value when there is
// one and the read went through. An entry that also makes the attribute
// unavailable outranks the value in the module, and what a reader does
// then is its own rule (a sensitive secret key's value is left out).
void same(CK_ATTRIBUTE_TYPE type, const unsigned char *bytes, CK_ULONG length) {
    const shim::State &s = shim::state();
    if (s.unavailable.count(type)) return;
    const auto &substitutes = s.substitutes;
    auto it = substitutes.find(type);
    if (it == substitutes.end()) return;
    if (length != it->second.size() || (length && std::memcmp(bytes, it->second.data(), length) != 0))
        __builtin_trap();
}
void same(CK_ATTRIBUTE_TYPE type, const TQXP11_BYTES &bytes) { same(type, bytes.data, bytes.length); }

TQXP11_OBJECT record(const char *label, CK_ULONG kind, bool isPrivate) {
    TQXP11_OBJECT object{};
    std::snprintf(object.label, sizeof object.label, "%s", label);
    object.kind = kind;
    object.isPrivate = isPrivate ? CK_TRUE : CK_FALSE;
    return object;
}

void readObject(TQXP11_SESSION *session, const char *label, CK_ULONG kind, bool isPrivate) {
    TQXP11_OBJECT object = record(label, kind, isPrivate);
    if (TQXP11_ReadObject(session, &object) == TQP11_RTN_OK) {
        const TQXP11_VALUE &v = *object.valueRecord;
        switch (kind) {
        case TQXP11_KIND_CERTIFICATE:
            same(CKA_SUBJECT, v.certificate.subject);
            same(CKA_ID, v.certificate.id);
            same(CKA_ISSUER, v.certificate.issuer);
            same(CKA_SERIAL_NUMBER, v.certificate.serialNumber);
            same(CKA_VALUE, v.certificate.value);
            break;
        case TQXP11_KIND_RSA_PUBLIC:
            same(CKA_ID, v.rsaPublic.id);
            same(CKA_MODULUS, v.rsaPublic.modulus);
            same(CKA_PUBLIC_EXPONENT, v.rsaPublic.publicExponent);
            break;
        case TQXP11_KIND_RSA_PRIVATE:
            same(CKA_ID, v.rsaPrivate.id);
            same(CKA_MODULUS, v.rsaPrivate.modulus);
            same(CKA_PUBLIC_EXPONENT, v.rsaPrivate.publicExponent);
            break;
        case TQXP11_KIND_DATA:
            same(CKA_VALUE, v.data.value);
            break;
        default:
            same(CKA_ID, v.secret.id);
        }
    }
    TQXP11_FreeObject(&object);
}

void readById(TQXP11_SESSION *session, bool key) {
    unsigned char id[] = {0x01};
    TQXP11_VALUE search{};
    search.first = TQXP11_BYTES{id, sizeof id};
    TQXP11_OBJECT object = record("", key ? TQXP11_KIND_RSA_PRIVATE : TQXP11_KIND_CERTIFICATE, key);
    object.valueRecord = &search;
    // Some tokens answer a zero modulus at first, and the reader waits a
    // second for them; such a modulus would only slow the run.
    auto &substitutes = shim::state().substitutes;
    auto modulus = substitutes.find(CKA_MODULUS);
    if (key && modulus != substitutes.end()) {
        bool zero = true;
        for (unsigned char b : modulus->second) zero = zero && b == 0;
        if (zero) substitutes.erase(modulus);
    }
    int rc = key ? TQXP11_ReadRSAPrivateKeyObjectWithCKAID(session, &object)
                 : TQXP11_ReadCertificateObjectWithCKAID(session, &object);
    if (object.valueRecord == &search) object.valueRecord = nullptr;
    if (rc == TQP11_RTN_OK && !key) same(CKA_VALUE, object.valueRecord->certificate.value);
    TQXP11_FreeObject(&object);
}

void components(TQXP11_SESSION *session, CK_OBJECT_HANDLE key) {
    TQXP11_OBJECT object = record("fuzz", TQXP11_KIND_RSA_PRIVATE, true);
    object.handle = key;
    unsigned char *parts[7] = {};
    int lengths[7] = {};
    if (TQXP11_RSAKEY_AttrValue(session, &object, &parts[0], &lengths[0], &parts[1], &lengths[1], &parts[2],
                                &lengths[2], &parts[3], &lengths[3], &parts[4], &lengths[4], &parts[5],
                                &lengths[5], &parts[6], &lengths[6]) == TQP11_RTN_OK) {
        same(CKA_MODULUS, parts[0], static_cast<CK_ULONG>(lengths[0]));
        same(CKA_PRIME_1, parts[2], static_cast<CK_ULONG>(lengths[2]));
    }
    for (unsigned char *part : parts) std::free(part);
}

void list(TQXP11_SESSION *session, CK_ULONG kind) {
    TQXP11_OBJECT filter = record("", kind, false);
    TQXP11_OBJECT *entries = nullptr;
    CK_ULONG count = 0;
    // Every label stays text within its field.
    if (TQXP11_GetObjectList(session, kind ? &filter : nullptr, &entries, &count) == TQP11_RTN_OK)
        for (CK_ULONG i = 0; i < count; ++i)
            if (entries[i].labelLength >= TQXP11_LABEL_SIZE || entries[i].label[entries[i].labelLength] != 0)
                __builtin_trap();
    TQXP11_ReleaseObjectList(entries, count);
}

void hcaRecord(TQXP11_SESSION *session) {
    unsigned char *value = nullptr;
    CK_ULONG length = 0;
    if (TQXP11_HCAGetRecord(session, kRecordName, 0, &value, &length) == TQP11_RTN_OK && value) {
        const auto &records = shim::state().records;
        auto it = records.find(kRecordName);
        if (it != records.end() && !shim::state().substitutes.count(CKA_VALUE) &&
            (length != it->second.size() || std::memcmp(value, it->second.data(), length) != 0))
            __builtin_trap();
    }
    std::free(value);
}

void certificate(TQXP11_SESSION *session, int way) {
    TQXCRYPT_HANDLE *cert = nullptr;
    int rc = way == 0 ? TQXP11Crypt_ReadCertificate(session, "fuzz", 0, &cert)
                      : TQXP11Crypt_ReadCertificateWithCKAID(session, "01", 0, &cert);
    if (rc == TQ_RTN_OK) {
        char *subject = nullptr;
        if (TQXCrypt_CertGetSubject(cert, 0, &subject) == TQ_RTN_OK) TQCryptMemFree(subject);
    }
    TQXCryptFreeHandle(cert);
}

void certificateText(TQXP11_SESSION *session) {
    char *text = nullptr;
    if (TQP11_ReadCertificate(session, "fuzz", 0, &text) == TQ_RTN_OK) TQCryptMemFree(text);
}

void byKeyUsage(TQXP11_SESSION *session) {
    TQXP11_OBJECT *entries = nullptr;
    CK_ULONG count = 0;
    int index = -1;
    int rc = TQXP11Crypt_GetCertByKeyUsage(session, 0, 0x80, &index, &entries, &count);
    if (rc == TQ_RTN_OK && (index < 0 || static_cast<CK_ULONG>(index) >= count)) __builtin_trap();
    TQXP11_ReleaseObjectList(entries, count);
}

void keys(TQXP11_SESSION *session, bool isPrivate) {
    TQXCRYPT_HANDLE *key = nullptr;
    int rc = isPrivate ? TQXP11Crypt_GetPrivateKey(session, "fuzz", 0, &key)
                       : TQXP11Crypt_GetPublicKey(session, "fuzz", 0, &key);
    if (rc == TQ_RTN_OK) {
        TQXCrypt_KeySize(key);
        TQXCRYPT_BLOB modulus{0, nullptr};
        TQXCrypt_KeyModulus(key, &modulus);
        TQXCryptFreeBlob(&modulus);
    }
    TQXCryptFreeHandle(key);
}

void handedOut(TQXP11_SESSION *session, bool data) {
    unsigned char *value = nullptr;
    CK_ULONG length = 0;
    int rc = data ? TQP11_ReadDataObject(session, "fuzz-data", 0, 0, &value, &length)
                  : TQP11_ReadSymKeyObject(session, "fuzz-des3", TQXP11_KIND_DES3, 0, 0, &value, &length);
    if (rc == TQ_RTN_OK) {
        // Length bytes and a NUL after them.
        if (!value || value[length] != 0) __builtin_trap();
        same(CKA_VALUE, value, length);
    }
    std::free(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    static Token token;
    static const CK_OBJECT_HANDLE privateKey = token.privateKey();
    if (size < 1) return 0;
    shim::reset();
    substitute(data + 1, size - 1);
    TQXP11_SESSION *session = &token.session;
    switch (data[0] % 21) {
    case 0:
        readObject(session, "fuzz", TQXP11_KIND_CERTIFICATE, false);
        break;
    case 1:
        readObject(session, "fuzz", TQXP11_KIND_RSA_PUBLIC, false);
        break;
    case 2:
        readObject(session, "fuzz", TQXP11_KIND_RSA_PRIVATE, true);
        break;
    case 3:
        readObject(session, "fuzz-data", TQXP11_KIND_DATA, false);
        break;
    case 4:
        readObject(session, "fuzz-des3", TQXP11_KIND_DES3, false);
        break;
    case 5:
        readObject(session, "fuzz-aes", TQXP11_KIND_AES, false);
        break;
    case 6:
        readById(session, false);
        break;
    case 7:
        readById(session, true);
        break;
    case 8:
        components(session, privateKey);
        break;
    case 9:
        list(session, 0);
        break;
    case 10:
        list(session, TQXP11_KIND_CERTIFICATE);
        break;
    case 11:
        hcaRecord(session);
        break;
    case 12:
        certificate(session, 0);
        break;
    case 13:
        certificate(session, 1);
        break;
    case 14:
        certificateText(session);
        break;
    case 15:
        byKeyUsage(session);
        break;
    case 16:
        // Compares the listed public keys with the CA's: none on the token matches.
        TQP11_AcceptCert(session, token.caText.c_str(), 0);
        break;
    case 17:
        keys(session, true);
        break;
    case 18:
        keys(session, false);
        break;
    case 19:
        handedOut(session, true);
        break;
    default:
        handedOut(session, false);
    }
    shim::reset();
    return 0;
}

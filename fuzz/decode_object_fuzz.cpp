// Decoding of every kind: the first byte selects the kind (low four bits)
// and the text flag (0x10); what decodes is encoded again both ways, read by
// the readers of its kind and checked by TQXCrypt_VerifyObject.
#include <vector>

#include "fixture_files.h"
#include "tqxcrypt.h"
#include "tqxcrypt_build.h"
#include "tqxcrypt_containers.h"
#include "tqxcrypt_crl.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_store.h"

namespace {

struct Target {
    int kind;
    const TQXCRYPT_ASN1_METHOD *(*table)();  // null: through TQXCrypt_DecodeObject
};

const Target kTargets[] = {
    {1, nullptr},
    {2, nullptr},
    {3, nullptr},
    {4, nullptr},
    {5, nullptr},
    {6, nullptr},
    {7, nullptr},
    {11, nullptr},
    {12, nullptr},
    {13, nullptr},
    {10, tqxCryptASN1OCSPRequestMethod},
    {11, tqxCryptASN1OCSPResponseMethod},
};

struct Peers {
    // The CA of the objects, its key, and the signer of the signed message.
    TQXCRYPT_HANDLE *ca = fuzz::fixtureObject(TQXCRYPT_KIND_CERTIFICATE, "objects/ca.der");
    TQXCRYPT_HANDLE *caKey = nullptr;
    TQXCRYPT_HANDLE *signer = fuzz::fixtureObject(TQXCRYPT_KIND_CERTIFICATE, "objects/user.der");
    TQXCRYPT_HANDLE *store = nullptr;
    std::vector<unsigned char> content = fuzz::fixtureBytes("objects/content.txt");
    Peers() {
        if (TQXCrypt_CertGetPublicKey(ca, &caKey) != TQ_RTN_OK ||
            TQXCrypt_LoadStore(&store, fuzz::fixtureText("objects/ca.pem").c_str(), nullptr) != TQ_RTN_OK)
            std::abort();
    }
};

const Peers &peers() {
    static Peers p;
    return p;
}

void freeText(char *text) { TQCryptMemFree(text); }

// Verification by the object's own public key, when the reader hands one out.
void verifyWithOwnKey(TQXCRYPT_HANDLE *h, int rc, TQXCRYPT_HANDLE *key) {
    if (rc != TQ_RTN_OK) return;
    TQXCrypt_VerifyObject(h, key, 0);
    TQXCryptFreeHandle(key);
}

// The kinds without a verify operation answer 5006 to a usable key.
void noVerifyOperation(TQXCRYPT_HANDLE *h) {
    if (TQXCrypt_VerifyObject(h, peers().caKey, 0) != TQ_RTN_WRONG_HANDLE) __builtin_trap();
}

void read(const Target &t, TQXCRYPT_HANDLE *h) {
    const Peers &p = peers();
    char *text = nullptr;
    TQXCRYPT_HANDLE *other = nullptr;
    switch (t.kind) {
    case TQXCRYPT_KIND_CERTIFICATE:
        if (TQXCrypt_CertGetSubject(h, 0, &text) == TQ_RTN_OK) freeText(text);
        verifyWithOwnKey(h, TQXCrypt_CertGetPublicKey(h, &other), other);
        TQXCrypt_VerifyObject(h, p.caKey, 0);
        break;
    case TQXCRYPT_KIND_CERTREQUEST:
        if (TQXCrypt_CertReqGetSubject(h, 0, &text) == TQ_RTN_OK) freeText(text);
        verifyWithOwnKey(h, TQXCrypt_CertReqGetPublicKey(h, &other), other);
        break;
    case TQXCRYPT_KIND_CRL: {
        int count = 0;
        if (TQXCrypt_CRLGetIssuer(h, 0, &text) == TQ_RTN_OK) freeText(text);
        TQXCrypt_CRLGetRevokedCount(h, &count);
        TQXCrypt_VerifyObject(h, p.caKey, 0);
        break;
    }
    case TQXCRYPT_KIND_PKCS7: {
        int32_t count = 0;
        TQXCrypt_PKCS7GetSignerInfoCount(h, &count);
        TQXCrypt_PKCS7GetCertificateCount(h, &count);
        noVerifyOperation(h);
        break;
    }
    case TQXCRYPT_KIND_SIGNERINFO:
        // The signer's certificate and this signer info, over the content.
        if (TQXCrypt_ComposeSignature(p.signer, h, 0, &other) == TQ_RTN_OK) {
            TQXCrypt_Verify(p.store, other, p.content.data(), p.content.size(), nullptr, 0, TQXCRYPT_DETACHED,
                            0, nullptr, nullptr);
            TQXCryptFreeHandle(other);
        }
        noVerifyOperation(h);
        break;
    case TQXCRYPT_KIND_PRIVATEKEY:
        TQXCrypt_KeySize(h);
        TQXCrypt_KeyType(h);
        if (TQXCrypt_GetPublicKey(h, &other) == TQ_RTN_OK) {
            TQXCrypt_CheckKeyPair(h, other);
            TQXCryptFreeHandle(other);
        }
        // A private key is no key to verify with.
        if (TQXCrypt_VerifyObject(p.ca, h, 0) != TQ_RTN_WRONG_HANDLE) __builtin_trap();
        break;
    case TQXCRYPT_KIND_PUBLICKEY:
        TQXCrypt_KeySize(h);
        TQXCrypt_VerifyObject(p.ca, h, 0);
        break;
    case TQXCRYPT_KIND_OCSPREQUEST:
        TQXCrypt_VerifyObject(h, nullptr, 0);  // the leaf of its signature's certificates
        TQXCrypt_VerifyObject(h, p.caKey, 0);
        break;
    case TQXCRYPT_KIND_PKCS8INFO:
        if (TQXCrypt_PKCS8InfoToPrivateKey(h, 0, &other) == TQ_RTN_OK) TQXCryptFreeHandle(other);
        noVerifyOperation(h);
        break;
    default:
        if (t.table == tqxCryptASN1OCSPResponseMethod) {
            TQXCrypt_VerifyObject(h, nullptr, 0);
            TQXCrypt_VerifyObject(h, p.caKey, 0);
        } else {
            noVerifyOperation(h);  // PKCS#12, encrypted PKCS#8
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size < 1) return 0;
    peers();
    const Target &t = kTargets[(data[0] & 0x0F) % (sizeof kTargets / sizeof kTargets[0])];
    int flags = (data[0] & 0x10) ? TQXCRYPT_DECODE_TEXT : 0;
    const char *password = (data[0] & 0x20) ? "secret" : nullptr;
    std::vector<unsigned char> body(data + 1, data + size);
    TQXCRYPT_HANDLE *h = nullptr;
    int rc = t.table ? t.table()->decode(&h, body.data(), body.size(), flags, password)
                     : TQXCrypt_DecodeObject(&h, t.kind, body.data(), body.size(), flags, password);
    if (rc != TQ_RTN_OK) {
        if (h) __builtin_trap();  // a failed decode leaves no handle
        return 0;
    }
    int armour = 1;
    TQXCRYPT_BLOB der{0, nullptr}, text{0, nullptr};
    TQXCrypt_EncodeObject(h, t.kind, &der, 0, nullptr);
    TQXCrypt_EncodeObject(h, t.kind, &text, TQXCRYPT_ENCODE_TEXT, t.kind == 6 ? nullptr : &armour);
    TQXCryptFreeBlob(&der);
    TQXCryptFreeBlob(&text);
    read(t, h);
    TQXCryptFreeHandle(h);
    return 0;
}

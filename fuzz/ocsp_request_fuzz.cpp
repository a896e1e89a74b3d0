// OCSP requests from untrusted DER: the extension getters, extensions added
// and read back, and the request's signature checked before and after the
// library signs it. The first byte chooses two extension names (bits 0-2,
// 3-5) and the critical flag of the added ones (bit 6); the second is the
// length of the value text that follows; the rest is the request.
#include <cstring>
#include <string>

#include "fixture_files.h"
#include "tqxcrypt.h"
#include "tqxcrypt_build.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_ocsp.h"

namespace {

struct Signer {
    TQXCRYPT_HANDLE *key = fuzz::fixtureObject(TQXCRYPT_KIND_PRIVATEKEY, "objects/user.rsa.der");
    TQXCRYPT_HANDLE *publicKey = fuzz::fixtureObject(TQXCRYPT_KIND_PUBLICKEY, "objects/user.pub.der");
};

using Getter = int (*)(TQXCRYPT_HANDLE *, const char *, int, TQXCRYPT_BLOB *, int *);
using Adder = int (*)(TQXCRYPT_HANDLE *, const char *, const char *, int);

void get(TQXCRYPT_HANDLE *request, const char *name) {
    for (Getter getter : {TQXCrypt_OCSPReqGetReqExtensionByOID, TQXCrypt_OCSPReqGetReqExtension,
                          TQXCrypt_OCSPReqGetSingleReqExtensionByOID}) {
        TQXCRYPT_BLOB value{0, nullptr};
        int critical = -1;
        if (getter(request, name, 0, &value, &critical) != TQ_RTN_OK && value.data) __builtin_trap();
        TQXCryptFreeBlob(&value);
    }
}

// An extension the request did not carry reads back as added: the first of
// its identifier, with the value text's bytes and the flag.
void addAndRead(TQXCRYPT_HANDLE *request, Adder add, Getter read, const std::string &value, int critical) {
    static const char kOid[] = "1.2.3.4.5.6.7";
    TQXCRYPT_BLOB before{0, nullptr};
    const bool absent = read(request, kOid, 0, &before, nullptr) != TQ_RTN_OK;
    TQXCryptFreeBlob(&before);
    if (add(request, kOid, value.c_str(), critical) != TQ_RTN_OK || !absent) return;
    TQXCRYPT_BLOB after{0, nullptr};
    int flag = -1;
    if (read(request, kOid, 0, &after, &flag) != TQ_RTN_OK || after.length != value.size() ||
        (value.size() && std::memcmp(after.data, value.data(), value.size()) != 0) ||
        flag != (critical ? 1 : 0))
        __builtin_trap();
    TQXCryptFreeBlob(&after);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    static const Signer signer;
    static const char *const kNames[] = {
        "OCSP Nonce", "1.3.6.1.5.5.7.48.1.2", "1.3.6.1.5.5.7.48.1.4", "1.3.6.1.5.5.7.48.1.7", "1.2.3.4.5.6.7",
        "2.5.29.21",  "basicConstraints",     "no such name"};
    if (size < 2 || static_cast<size_t>(data[1]) > size - 2) return 0;
    const std::string value(std::string(reinterpret_cast<const char *>(data + 2), data[1]).c_str());
    const unsigned char *der = data + 2 + data[1];
    const size_t length = size - 2 - data[1];
    TQXCRYPT_HANDLE *request = nullptr;
    if (tqxCryptASN1OCSPRequestMethod()->decode(&request, der, length, 0, nullptr) != TQ_RTN_OK) return 0;
    get(request, kNames[data[0] & 7]);
    get(request, kNames[(data[0] >> 3) & 7]);
    // The signer is the leaf of the signature's certificates, or the given key.
    TQXCrypt_VerifyObject(request, nullptr, 0);
    TQXCrypt_VerifyObject(request, signer.publicKey, 0);
    const int critical = data[0] & 0x40;
    addAndRead(request, TQXCrypt_OCSPReqAddReqExtensionByOID, TQXCrypt_OCSPReqGetReqExtensionByOID, value,
               critical);
    addAndRead(request, TQXCrypt_OCSPReqAddSingleReqExtensionByOID,
               TQXCrypt_OCSPReqGetSingleReqExtensionByOID, value, critical);
    // Signed by the library, the request verifies with the signer's key.
    if (TQXCrypt_SignObject(request, signer.key, TQXCRYPT_HASH_SHA256) == TQ_RTN_OK &&
        TQXCrypt_VerifyObject(request, signer.publicKey, 0) != TQ_RTN_OK)
        __builtin_trap();
    TQXCryptFreeHandle(request);
    return 0;
}

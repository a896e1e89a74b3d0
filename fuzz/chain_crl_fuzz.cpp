// Path validation against a hostile CRL: a store of the chain fixtures' CAs
// takes the CRL from the untrusted DER (and, when the first byte asks, the
// root's and the intermediate's own CRLs before or after it), then checks a
// leaf with revocation checking. The first byte chooses the leaf (bits 0-2),
// the CRLs of the CAs (bits 3-4), their order (bit 5) and whether the chain
// is checked without revocation as well (bit 6). Every object is made anew
// for each input: a verification leaves marks on the objects it checked.
#include <string>
#include <vector>

#include "fixture_files.h"
#include "tqxcrypt.h"
#include "tqxcrypt_store.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Chain {
    std::string authorities = fuzz::fixtureText("chains/root.pem") + fuzz::fixtureText("chains/inter.pem") +
                              fuzz::fixtureText("chains/inter2.pem") +
                              fuzz::fixtureText("chains/revinter.pem");
    Bytes rootCrl = fuzz::fixtureBytes("chains/crl.root.der");
    Bytes interCrl = fuzz::fixtureBytes("chains/crl.inter.der");
    Bytes leaves[8];
    Chain() {
        const char *const names[] = {"good",
                                     "rev-keyCompromise",
                                     "rev-certificateHold",
                                     "rev-removeFromCRL",
                                     "early",
                                     "v1",
                                     "revinter",
                                     "inter2"};
        for (int i = 0; i < 8; ++i)
            leaves[i] = fuzz::fixtureBytes(std::string("chains/") + names[i] + ".leaf.der");
    }
};

// Owns the handles decoded for one input.
struct Decoded {
    TQXCRYPT_HANDLE *handle = nullptr;
    Decoded(int kind, const unsigned char *der, size_t length) {
        if (TQXCrypt_DecodeObject(&handle, kind, der, length, 0, nullptr) != TQ_RTN_OK) handle = nullptr;
    }
    Decoded(int kind, const Bytes &der) : Decoded(kind, der.data(), der.size()) {}
    ~Decoded() { TQXCryptFreeHandle(handle); }
    Decoded(const Decoded &) = delete;
    Decoded &operator=(const Decoded &) = delete;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    static const Chain chain;
    if (size < 1) return 0;
    const int choice = data[0];
    Decoded crl(TQXCRYPT_KIND_CRL, data + 1, size - 1);
    if (!crl.handle) return 0;
    Decoded rootCrl(TQXCRYPT_KIND_CRL, chain.rootCrl), interCrl(TQXCRYPT_KIND_CRL, chain.interCrl),
        leaf(TQXCRYPT_KIND_CERTIFICATE, chain.leaves[choice & 7]);
    TQXCRYPT_HANDLE *store = nullptr;
    if (TQXCrypt_LoadStore(&store, chain.authorities.c_str(), nullptr) != TQ_RTN_OK) std::abort();
    const bool hostileFirst = !(choice & 0x20);
    if (hostileFirst) TQXCrypt_AddCRLToStore(store, crl.handle);
    if (choice & 0x08) TQXCrypt_AddCRLToStore(store, rootCrl.handle);
    if (choice & 0x10) TQXCrypt_AddCRLToStore(store, interCrl.handle);
    if (!hostileFirst) TQXCrypt_AddCRLToStore(store, crl.handle);
    TQXCrypt_VerifyCertChain(leaf.handle, store, TQXCRYPT_VERIFY_CHAIN | TQXCRYPT_VERIFY_CRL, 0);
    if (choice & 0x40) TQXCrypt_VerifyCertChain(leaf.handle, store, TQXCRYPT_VERIFY_CHAIN, 0);
    TQXCryptFreeHandle(store);
    return 0;
}

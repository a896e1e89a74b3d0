// The hash selector of flag words: one table for the whole library.
#include <openssl/obj_mac.h>
#include <openssl/crypto.h>

#include "keys_internal.h"

namespace tq {

// selector, provider name, object number, digest size
#define TQ_HASH_SELECTOR_LIST(X)   \
    X(0, "SHA1", NID_sha1, 20)     \
    X(1, "MD5", NID_md5, 16)       \
    X(2, "SHA1", NID_sha1, 20)     \
    X(3, "SHA224", NID_sha224, 28) \
    X(4, "SHA256", NID_sha256, 32) \
    X(5, "SHA384", NID_sha384, 48) \
    X(6, "SHA512", NID_sha512, 64)

namespace {
#define TQ_HASH_ROW(selector, name, nid, size) {selector, name, nid, size},
constexpr HashRow kRows[] = {TQ_HASH_SELECTOR_LIST(TQ_HASH_ROW)};
#undef TQ_HASH_ROW
constexpr unsigned kRowCount = sizeof kRows / sizeof kRows[0];
}  // namespace

const HashRow *hashRow(unsigned selector) { return selector < kRowCount ? &kRows[selector] : nullptr; }

const HashRow *hashRowByNid(int nid) {
    // SHA-1 answers with its explicit selector 2, not the default 0.
    for (unsigned i = 1; i < kRowCount; ++i)
        if (kRows[i].nid == nid) return &kRows[i];
    return nullptr;
}

tq::EvpMdPtr fetchDigest(const HashRow &row) {
    return tq::EvpMdPtr(EVP_MD_fetch(nullptr, row.name, nullptr));
}

}  // namespace tq

// Short display texts of eight certificate extensions, read from fixed
// positions of their decoded values.
#include <algorithm>
#include <cstdio>

#include "hexdigits.h"
#include "x509_internal.h"

namespace {

// Reading a position: an empty list 5045, a missing element 5050, an element
// of the other kind 5004.
int itemAt(const TQXCRYPT_ATTRIBUTES &list, int32_t index, const TQXCRYPT_ATTRIBUTE **item) {
    if (list.count <= 0 || !list.items) return TQ_RTN_BAD_FORMAT;
    if (index >= list.count) return TQ_RTN_NOT_PRESENT;
    *item = &list.items[index];
    return TQ_RTN_OK;
}

int listAt(const TQXCRYPT_ATTRIBUTES &list, int32_t index, const TQXCRYPT_ATTRIBUTE **item) {
    int rc = itemAt(list, index, item);
    return rc == TQ_RTN_OK && !(*item)->isList ? TQ_RTN_NOT_SUPPORTED : rc;
}

int blobAt(const TQXCRYPT_ATTRIBUTES &list, int32_t index, const TQXCRYPT_BLOB **blob) {
    const TQXCRYPT_ATTRIBUTE *item = nullptr;
    int rc = itemAt(list, index, &item);
    if (rc != TQ_RTN_OK) return rc;
    if (item->isList) return TQ_RTN_NOT_SUPPORTED;
    *blob = &item->value.blob;
    return TQ_RTN_OK;
}

// An item of a given label at a position: absent when another one is there.
int namedAt(const TQXCRYPT_ATTRIBUTES &list, int32_t index, const char *label,
            const TQXCRYPT_ATTRIBUTE **item) {
    int rc = itemAt(list, index, item);
    if (rc == TQ_RTN_OK && std::strcmp((*item)->name, label) != 0) return TQ_RTN_NOT_PRESENT;
    return rc;
}

// The pieces of a summary; with `lines`, each piece ends in a newline.
struct Summary {
    struct Piece {
        const char *bytes;
        size_t length;
    } pieces[3];
    int count = 0;
    bool lines = false;
    char scratch[2][24];

    void add(const char *bytes, size_t length) { pieces[count++] = {bytes, length}; }
    // A value read as text: up to its first NUL; a value without data is empty.
    void addText(const TQXCRYPT_BLOB &blob) {
        const char *text = reinterpret_cast<const char *>(blob.data);
        add(text ? text : "", text ? strnlen(text, static_cast<size_t>(blob.length)) : 0);
    }
    void addBytes(const TQXCRYPT_BLOB &blob) {
        add(blob.data ? reinterpret_cast<const char *>(blob.data) : "",
            blob.data ? static_cast<size_t>(blob.length) : 0);
    }
    // At most the first eight bytes of a key identifier, in hexadecimal.
    void addKeyId(const TQXCRYPT_BLOB &blob) {
        size_t n = blob.data ? std::min<size_t>(static_cast<size_t>(blob.length), 8) : 0;
        add(scratch[0], static_cast<size_t>(tq::writeHex(blob.data, n, scratch[0]) - scratch[0]));
    }

    int handOut(char **text) const {
        size_t total = 0;
        for (int i = 0; i < count; ++i) total += pieces[i].length + (lines ? 1 : 0);
        char *out = tq::newText(total);
        *text = out;
        if (!out) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        size_t at = 0;
        for (int i = 0; i < count; ++i) {
            if (pieces[i].length) std::memcpy(out + at, pieces[i].bytes, pieces[i].length);
            at += pieces[i].length;
            if (lines) out[at++] = '\n';
        }
        return TQ_RTN_OK;
    }
};

int distributionPoint(const TQXCRYPT_ATTRIBUTES &points, Summary &s) {
    const TQXCRYPT_ATTRIBUTE *full = nullptr;
    const TQXCRYPT_BLOB *name = nullptr;
    int rc = namedAt(points, 0, "fullname", &full);
    if (rc == TQ_RTN_OK && !full->isList) rc = TQ_RTN_NOT_SUPPORTED;
    if (rc == TQ_RTN_OK) rc = blobAt(full->value.list, 0, &name);
    if (rc == TQ_RTN_OK) s.addText(*name);
    return rc;
}

int policy(const TQXCRYPT_ATTRIBUTES &policies, Summary &s) {
    const TQXCRYPT_ATTRIBUTE *first = nullptr, *qualifier = nullptr;
    const TQXCRYPT_BLOB *second = nullptr, *element = nullptr;
    int rc = listAt(policies, 0, &first);
    if (rc == TQ_RTN_OK) rc = blobAt(first->value.list, 1, &second);
    if (rc == TQ_RTN_OK) rc = listAt(first->value.list, 0, &qualifier);
    if (rc == TQ_RTN_OK) rc = blobAt(qualifier->value.list, 0, &element);
    if (rc != TQ_RTN_OK) return rc;
    s.lines = true;
    s.add(first->name, std::strlen(first->name));
    s.addText(*second);
    s.addText(*element);
    return TQ_RTN_OK;
}

int accessLocation(const TQXCRYPT_ATTRIBUTES &access, Summary &s) {
    const TQXCRYPT_ATTRIBUTE *first = nullptr;
    const TQXCRYPT_BLOB *location = nullptr;
    int rc = listAt(access, 0, &first);
    if (rc == TQ_RTN_OK) rc = blobAt(first->value.list, 0, &location);
    if (rc == TQ_RTN_OK) s.addText(*location);
    return rc;
}

int authorityKeyId(const TQXCRYPT_ATTRIBUTES &akid, Summary &s) {
    const TQXCRYPT_ATTRIBUTE *keyid = nullptr;
    int rc = namedAt(akid, 0, "keyid", &keyid);
    if (rc == TQ_RTN_OK && keyid->isList) rc = TQ_RTN_NOT_SUPPORTED;
    if (rc == TQ_RTN_OK) s.addKeyId(keyid->value.blob);
    return rc;
}

int basicConstraints(const TQXCRYPT_ATTRIBUTES &bc, Summary &s) {
    const TQXCRYPT_BLOB *ca = nullptr, *pathlen = nullptr;
    int rc = blobAt(bc, 0, &ca);
    if (rc == TQ_RTN_OK && bc.count > 1) rc = blobAt(bc, 1, &pathlen);
    if (rc != TQ_RTN_OK) return rc;
    bool set = false;
    for (uint64_t i = 0; ca->data && i < ca->length; ++i) set = set || ca->data[i] != 0;
    s.lines = true;
    s.add(set ? "1" : "0", 1);
    // Each byte of a path length of one to four bytes in "%X"; none is 0.
    char *path = s.scratch[1];
    size_t at = 0;
    if (!pathlen) {
        path[at++] = '0';
    } else if (pathlen->data && pathlen->length >= 1 && pathlen->length <= 4) {
        for (uint64_t i = 0; i < pathlen->length; ++i) {
            const unsigned char byte = pathlen->data[i];
            if (byte > 0x0F) path[at++] = tq::hexDigit(byte >> 4);
            path[at++] = tq::hexDigit(byte);
        }
    }
    s.add(path, at);
    return TQ_RTN_OK;
}

int altName(const TQXCRYPT_ATTRIBUTES &names, Summary &s) {
    const TQXCRYPT_BLOB *first = nullptr;
    int rc = blobAt(names, 0, &first);
    if (rc == TQ_RTN_OK) s.addBytes(*first);
    return rc;
}

using ListSummary = int (*)(const TQXCRYPT_ATTRIBUTES &, Summary &);

// The list-valued extensions of the selectors, by selector.
constexpr struct {
    int selector;
    const char *extension;
    ListSummary read;
} kListSelectors[] = {
    {TQXCRYPT_SUMMARY_CRL_DISTRIBUTION_POINT, "crlDistributionPoints", distributionPoint},
    {TQXCRYPT_SUMMARY_CERTIFICATE_POLICY, "certificatePolicies", policy},
    {TQXCRYPT_SUMMARY_AUTHORITY_INFO_ACCESS, "authorityInfoAccess", accessLocation},
    {TQXCRYPT_SUMMARY_AUTHORITY_KEY_ID, "authorityKeyIdentifier", authorityKeyId},
    {TQXCRYPT_SUMMARY_BASIC_CONSTRAINTS, "basicConstraints", basicConstraints},
    {TQXCRYPT_SUMMARY_SUBJECT_ALT_NAME, "subjectAltName", altName},
};

}  // namespace

extern "C" int TQXCrypt_CertGetKDRAExtension(TQXCRYPT_HANDLE *cert, int selector, char **text) try {
    if (selector < TQXCRYPT_SUMMARY_CRL_DISTRIBUTION_POINT || selector > TQXCRYPT_SUMMARY_SUBJECT_ALT_NAME)
        return TQ_RTN_BAD_ARGUMENT;
    tq::ErrorQueueScope scope;
    X509 *object = nullptr;
    int rc = tq::objectOf(cert, TQXCRYPT_KIND_CERTIFICATE, &object);
    if (rc != TQ_RTN_OK) return rc;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    Summary s;
    if (selector == TQXCRYPT_SUMMARY_KEY_USAGE) {
        int bits = 0;
        rc = TQXCrypt_CertGetKeyUsage(cert, &bits);
        if (rc != TQ_RTN_OK) return rc;
        int n = std::snprintf(s.scratch[0], sizeof s.scratch[0], "%i", bits);
        s.add(s.scratch[0], static_cast<size_t>(n));
        return s.handOut(text);
    }
    if (selector == TQXCRYPT_SUMMARY_SUBJECT_KEY_ID) {
        tq::OwnedBlob id;
        rc = TQXCrypt_CertGetExtension(cert, "subjectKeyIdentifier", 0, id.get(), nullptr);
        if (rc != TQ_RTN_OK) return rc;
        s.addKeyId(*id.get());
        return s.handOut(text);
    }
    for (const auto &row : kListSelectors) {
        if (row.selector != selector) continue;
        TQXCRYPT_ATTRIBUTES list{0, nullptr};
        rc = TQXCrypt_CertGetExtension(cert, row.extension, 0, &list, nullptr);
        if (rc == TQ_RTN_OK) rc = row.read(list, s);
        if (rc == TQ_RTN_OK) rc = s.handOut(text);
        TQXCryptFreeAttributes(&list);
        return rc;
    }
    return TQ_RTN_BAD_ARGUMENT;
}
TQ_CATCH_CODE

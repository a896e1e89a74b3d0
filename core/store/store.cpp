// The trust store: built from PEM lists, grown one certificate or CRL at a
// time. A CRL is admitted only from an issuer in the store whose key verifies
// it; an equivalent CRL already there is replaced by the newer arrival.
#include <cstring>
#include <string>

#include <openssl/x509v3.h>

#include "store_internal.h"

namespace {

void skipSpace(tq::ByteCursor &c) {
    while (tq::isSpace(c.peek())) c.skip(1);
}

// One "-----BEGIN label-----" ... "-----END label-----" block at the cursor
// (white space before it allowed), decoded into DER: 0, or -1 when the list
// ends. Out of memory is no end of the list but 5002, so a store is never
// made from part of it.
int getDERfromPEM(tq::ByteCursor &cursor, const char *label, tq::TqMem *der, size_t *length) {
    const std::string begin = std::string("-----BEGIN ") + label + "-----";
    const std::string end = std::string("-----END ") + label + "-----";
    tq::ByteCursor c = cursor;
    skipSpace(c);
    if (!c.startsWith(begin.data(), begin.size())) return -1;
    c.skip(begin.size());
    skipSpace(c);
    tq::ByteCursor scan = c;
    for (;;) {
        size_t dash = scan.find('-');
        if (dash == SIZE_MAX) return -1;
        scan.skip(dash);
        if (scan.startsWith(end.data(), end.size())) break;
        scan.skip(1);
    }
    size_t bodyLength = scan.position() - c.position();
    tq::ByteCursor body = c.take(bodyLength);
    TQXCRYPT_BLOB blob{0, nullptr};
    const int rc =
        TQXCrypt_Decode(reinterpret_cast<const char *>(body.here()), body.remaining(), &blob, nullptr);
    if (rc != TQ_RTN_OK) {
        TQXCryptFreeBlob(&blob);
        return rc == TQ_RTN_MEMORY_ALLOCATE_FAIL ? rc : -1;
    }
    der->reset(blob.data);
    *length = static_cast<size_t>(blob.length);
    c.skip(bodyLength + end.size());
    cursor = c;
    return TQ_RTN_OK;
}

template <class T, T *(*D2i)(T **, const unsigned char **, long)>
T *decodeDer(const tq::TqMem &der, size_t length) {
    if (!tq::fitsInt(length)) return nullptr;
    const unsigned char *p = der.get();
    return D2i(nullptr, &p, static_cast<long>(length));
}

// The type and name an object is sorted by in the store's list.
const X509_NAME *objectName(const X509_OBJECT *o) {
    switch (X509_OBJECT_get_type(o)) {
    case X509_LU_X509:
        return X509_get_subject_name(X509_OBJECT_get0_X509(o));
    case X509_LU_CRL:
        return X509_CRL_get_issuer(X509_OBJECT_get0_X509_CRL(const_cast<X509_OBJECT *>(o)));
    default:
        return nullptr;
    }
}

bool hasAkid(const X509_CRL *crl) {
    return X509_CRL_get_ext_by_NID(crl, NID_authority_key_identifier, -1) >= 0;
}

tq::AkidPtr akidOf(const X509_CRL *crl) {
    return tq::AkidPtr(static_cast<AUTHORITY_KEYID *>(
        X509_CRL_get_ext_d2i(crl, NID_authority_key_identifier, nullptr, nullptr)));
}

// Admission of a CRL: its issuer is in the store and its key verifies the CRL.
int admitCrl(X509_STORE *store, X509_CRL *crl) {
    tq::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx || !X509_STORE_CTX_init(ctx.get(), store, nullptr, nullptr)) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    X509 *found = nullptr;
    if (tqxCrypt_X509_STORE_CTX_get_crl_issuer(&found, ctx.get(), crl) != 1) return TQ_RTN_CRL_NO_ISSUER;
    tq::X509Ptr issuer(found);
    tq::EvpPkeyPtr key(X509_get_pubkey(issuer.get()));
    if (!key) return TQ_RTN_FAILED;
    if (X509_CRL_verify(crl, key.get()) <= 0) return TQ_RTN_CRL_SIGNATURE;
    return TQ_RTN_OK;
}

int storeOf(X509_STORE **store, TQXCRYPT_HANDLE *handle) {
    return tq::objectOf(handle, TQXCRYPT_KIND_STORE, nullptr, store);
}

// 1 added, 0 an identical certificate is there, -1 no memory: the exported
// helper answers 0 for both refusals, our own callers tell them apart.
int addCertEntry(X509_STORE *store, X509 *certificate) {
    tq::X509ObjectPtr entry(X509_OBJECT_new());
    if (!entry || !X509_OBJECT_set1_X509(entry.get(), certificate)) return -1;
    if (!X509_STORE_lock(store)) return -1;
    STACK_OF(X509_OBJECT) *list = X509_STORE_get0_objects(store);
    int rc;
    if (X509_OBJECT_retrieve_match1(list, entry.get())) {
        rc = 0;
    } else if (sk_X509_OBJECT_push(list, entry.get()) > 0) {
        entry.release();
        rc = 1;
    } else {
        rc = -1;
    }
    X509_STORE_unlock(store);
    return rc;
}

int loadCertificates(X509_STORE *store, const char *text) {
    tq::ByteCursor c(text, std::strlen(text));
    int rc = TQ_RTN_BAD_CERTIFICATE;
    tq::TqMem der;
    size_t length = 0;
    int block;
    while ((block = getDERfromPEM(c, "CERTIFICATE", &der, &length)) == TQ_RTN_OK) {
        tq::X509Ptr cert(decodeDer<X509, d2i_X509>(der, length));
        if (!cert) break;
        if (addCertEntry(store, cert.get()) < 0) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        rc = TQ_RTN_OK;
    }
    return block == TQ_RTN_MEMORY_ALLOCATE_FAIL ? block : rc;
}

int loadCrls(X509_STORE *store, const char *text) {
    tq::ByteCursor c(text, std::strlen(text));
    int rc = TQ_RTN_BAD_CRL;
    tq::TqMem der;
    size_t length = 0;
    int block;
    while ((block = getDERfromPEM(c, "X509 CRL", &der, &length)) == TQ_RTN_OK) {
        tq::X509CrlPtr crl(decodeDer<X509_CRL, d2i_X509_CRL>(der, length));
        if (!crl) break;
        int admitted = admitCrl(store, crl.get());
        if (admitted != TQ_RTN_OK) return admitted;
        if (!tqxCrypt_X509_STORE_add_crl1(store, crl.get())) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        rc = TQ_RTN_OK;
    }
    return block == TQ_RTN_MEMORY_ALLOCATE_FAIL ? block : rc;
}

}  // namespace

extern "C" {

int X509_CRL_cmp1(const X509_CRL *a, const X509_CRL *b) try {
    int byName = X509_NAME_cmp(X509_CRL_get_issuer(a), X509_CRL_get_issuer(b));
    if (byName != 0) return byName;
    bool hasA = hasAkid(a), hasB = hasAkid(b);
    if (!hasA && !hasB) return 0;
    if (hasA != hasB) return 1;
    tq::AkidPtr akA = akidOf(a), akB = akidOf(b);
    if (!akA || !akB) return 1;
    if (akA->keyid && akB->keyid && ASN1_OCTET_STRING_cmp(akA->keyid, akB->keyid) != 0) return 1;
    if (akA->serial && akB->serial && ASN1_INTEGER_cmp(akA->serial, akB->serial) != 0) return 1;
    return 0;
}
TQ_CATCH_RETURN(1)

X509_OBJECT *X509_OBJECT_retrieve_match1(STACK_OF(X509_OBJECT) *list, X509_OBJECT *object) try {
    X509_LOOKUP_TYPE type = X509_OBJECT_get_type(object);
    const X509_NAME *name = objectName(object);
    if (!name) return nullptr;
    int first = X509_OBJECT_idx_by_subject(list, type, name);
    if (first < 0) return nullptr;
    for (int i = first; i < sk_X509_OBJECT_num(list); ++i) {
        X509_OBJECT *entry = sk_X509_OBJECT_value(list, i);
        if (X509_OBJECT_get_type(entry) != type) continue;
        if (type == X509_LU_X509) {
            if (X509_cmp(X509_OBJECT_get0_X509(entry), X509_OBJECT_get0_X509(object)) == 0) return entry;
        } else if (X509_CRL_cmp1(X509_OBJECT_get0_X509_CRL(entry), X509_OBJECT_get0_X509_CRL(object)) == 0) {
            return entry;
        }
    }
    return nullptr;
}
TQ_CATCH_EMPTY

int tqxCrypt_X509_STORE_add_cert1(X509_STORE *store, X509 *certificate) try {
    return addCertEntry(store, certificate) > 0 ? 1 : 0;
}
TQ_CATCH_OPENSSL(0)

int tqxCrypt_X509_STORE_add_crl1(X509_STORE *store, X509_CRL *crl) try {
    tq::X509ObjectPtr entry(X509_OBJECT_new());
    if (!entry || !X509_OBJECT_set1_X509_CRL(entry.get(), crl)) return 0;
    if (!X509_STORE_lock(store)) return 0;
    STACK_OF(X509_OBJECT) *list = X509_STORE_get0_objects(store);
    X509_OBJECT *equivalent = X509_OBJECT_retrieve_match1(list, entry.get());
    // Append first: when that fails the store keeps the CRL it had.
    bool added = sk_X509_OBJECT_push(list, entry.get()) > 0;
    tq::X509ObjectPtr replaced;
    if (added) {
        entry.release();
        if (equivalent) replaced.reset(sk_X509_OBJECT_delete_ptr(list, equivalent));
    }
    X509_STORE_unlock(store);
    return added ? 1 : 0;
}
TQ_CATCH_OPENSSL(0)

int TQXCrypt_LoadStore(TQXCRYPT_HANDLE **out, const char *certificates, const char *crls) try {
    tq::ErrorQueueScope scope;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    TQXCryptInitialize();
    *out = nullptr;
    tq::X509StorePtr store(X509_STORE_new());
    if (!store) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    X509_STORE_set_verify(store.get(), tqxCrypt_cert_crl_verify);
    if (certificates && *certificates) {
        int rc = loadCertificates(store.get(), certificates);
        if (rc != TQ_RTN_OK) return rc;
    }
    if (crls && *crls) {
        int rc = loadCrls(store.get(), crls);
        if (rc != TQ_RTN_OK) return rc;
    }
    int rc = tqxCryptCreateHandle(out, TQXCRYPT_KIND_STORE, store.get(), nullptr, nullptr);
    if (rc == TQ_RTN_OK) store.release();
    return rc;
}
TQ_CATCH_CODE

int TQXCrypt_AddCertToStore(TQXCRYPT_HANDLE *storeHandle, TQXCRYPT_HANDLE *certHandle) try {
    tq::ErrorQueueScope scope;
    X509_STORE *store = nullptr;
    X509 *cert = nullptr;
    int rc = storeOf(&store, storeHandle);
    if (rc != TQ_RTN_OK) return rc;
    rc = tq::objectOf(certHandle, TQXCRYPT_KIND_CERTIFICATE, tqxCryptASN1CertificateMethod(), &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (addCertEntry(store, cert) < 0) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    // The store holds its own reference (or an identical certificate).
    X509_free(cert);
    certHandle->object = nullptr;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_AddCRLToStore(TQXCRYPT_HANDLE *storeHandle, TQXCRYPT_HANDLE *crlHandle) try {
    tq::ErrorQueueScope scope;
    X509_STORE *store = nullptr;
    X509_CRL *crl = nullptr;
    int rc = storeOf(&store, storeHandle);
    if (rc != TQ_RTN_OK) return rc;
    rc = tq::objectOf(crlHandle, TQXCRYPT_KIND_CRL, tqxCryptASN1CRLMethod(), &crl);
    if (rc != TQ_RTN_OK) return rc;
    rc = admitCrl(store, crl);
    if (rc != TQ_RTN_OK) return rc;
    if (!tqxCrypt_X509_STORE_add_crl1(store, crl)) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    X509_CRL_free(crl);
    crlHandle->object = nullptr;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

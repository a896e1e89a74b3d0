// Which certificate of a store issued a CRL, which CRL of a store covers the
// certificates of an issuer, and whether a certificate is on a CRL.
#include <openssl/x509v3.h>

#include "store_internal.h"

namespace {

const X509_NAME *firstDirName(const GENERAL_NAMES *names) {
    for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
        const GENERAL_NAME *name = sk_GENERAL_NAME_value(names, i);
        if (name->type == GEN_DIRNAME) return name->d.directoryName;
    }
    return nullptr;
}

void *objectOf(X509_OBJECT *o, X509_LOOKUP_TYPE type) {
    return type == X509_LU_X509 ? static_cast<void *>(X509_OBJECT_get0_X509(o))
                                : static_cast<void *>(X509_OBJECT_get0_X509_CRL(o));
}

// A new reference for the caller.
void *takeRef(void *object, X509_LOOKUP_TYPE type) {
    if (type == X509_LU_X509)
        X509_up_ref(static_cast<X509 *>(object));
    else
        X509_CRL_up_ref(static_cast<X509_CRL *>(object));
    return object;
}

// Looks the first object of `type` up by name, then walks the store's list
// from the first entry of that name while `accept` turns the walk's entries
// down. The callers decide what the end of the walk means.
template <class Accept, class AtEnd>
int lookUp(X509_STORE_CTX *ctx, X509_LOOKUP_TYPE type, const X509_NAME *name, Accept accept, AtEnd atEnd,
           void **out) {
    tq::X509ObjectPtr first(X509_OBJECT_new());
    if (!first) return -1;
    int found = X509_STORE_CTX_get_by_subject(ctx, type, name, first.get());
    if (found == 0) return 0;
    if (found < 0) return -1;
    void *object = objectOf(first.get(), type);
    if (accept(object, false)) {
        *out = takeRef(object, type);
        return 1;
    }
    X509_STORE *store = X509_STORE_CTX_get0_store(ctx);
    if (!store || !X509_STORE_lock(store)) return -1;
    STACK_OF(X509_OBJECT) *list = X509_STORE_get0_objects(store);
    int result = 0;
    bool walkedToEnd = true;
    int start = X509_OBJECT_idx_by_subject(list, type, name);
    for (int i = start < 0 ? sk_X509_OBJECT_num(list) : start; i < sk_X509_OBJECT_num(list); ++i) {
        X509_OBJECT *entry = sk_X509_OBJECT_value(list, i);
        if (X509_OBJECT_get_type(entry) != type) {
            walkedToEnd = false;
            break;
        }
        void *candidate = objectOf(entry, type);
        if (accept(candidate, true)) {
            *out = takeRef(candidate, type);
            result = 1;
            walkedToEnd = false;
            break;
        }
    }
    X509_STORE_unlock(store);
    if (result == 0 && walkedToEnd && atEnd()) {
        *out = takeRef(object, type);
        result = 1;
    }
    return result;
}

}  // namespace

extern "C" {

int X509_CRL_issuer_by(X509_CRL *crl, X509 *certificate, int nameTest) try {
    if (nameTest && X509_NAME_cmp(X509_CRL_get_issuer(crl), X509_get_subject_name(certificate)) != 0)
        return 0;
    if (X509_CRL_get_version(crl) == 0) return 1;
    X509_check_purpose(certificate, -1, 0);
    const ASN1_OCTET_STRING *skid = X509_get0_subject_key_id(certificate);
    if (!skid) return 1;
    tq::AkidPtr akid(static_cast<AUTHORITY_KEYID *>(
        X509_CRL_get_ext_d2i(crl, NID_authority_key_identifier, nullptr, nullptr)));
    if (!akid) return 0;
    if (akid->keyid && ASN1_OCTET_STRING_cmp(akid->keyid, skid) != 0) return 0;
    if (akid->serial && ASN1_INTEGER_cmp(akid->serial, X509_get0_serialNumber(certificate)) != 0) return 0;
    if (akid->issuer) {
        const X509_NAME *dirName = firstDirName(akid->issuer);
        if (dirName && X509_NAME_cmp(dirName, X509_get_issuer_name(certificate)) != 0) return 0;
    }
    return 1;
}
TQ_CATCH_EMPTY

int tqxCrypt_X509_STORE_CTX_get_crl_issuer(X509 **issuer, X509_STORE_CTX *ctx, X509_CRL *crl) try {
    void *found = nullptr;
    auto accept = [crl](void *cert, bool nameTest) {
        return X509_CRL_issuer_by(crl, static_cast<X509 *>(cert), nameTest) != 0;
    };
    // A store without any CRL takes the issuer by name alone.
    int rc = lookUp(
        ctx, X509_LU_X509, X509_CRL_get_issuer(crl), accept, [] { return true; }, &found);
    if (rc == 1) *issuer = static_cast<X509 *>(found);
    return rc;
}
TQ_CATCH_RETURN(-1)

int tqxCrypt_X509_STORE_CTX_get_crl(X509_CRL **crl, X509_STORE_CTX *ctx, X509 *issuer) try {
    void *found = nullptr;
    auto accept = [issuer](void *candidate, bool nameTest) {
        return X509_CRL_issuer_by(static_cast<X509_CRL *>(candidate), issuer, nameTest) != 0;
    };
    int rc = lookUp(
        ctx, X509_LU_CRL, X509_get_subject_name(issuer), accept, [] { return false; }, &found);
    if (rc == 1) *crl = static_cast<X509_CRL *>(found);
    return rc;
}
TQ_CATCH_RETURN(-1)

int X509_revoked(X509_CRL *crl, X509 *certificate, const ASN1_TIME **date) try {
    const ASN1_INTEGER *serial = X509_get0_serialNumber(certificate);
    if (!serial) return 0;
    STACK_OF(X509_REVOKED) *entries = X509_CRL_get_REVOKED(crl);
    for (int i = 0; i < sk_X509_REVOKED_num(entries); ++i) {
        X509_REVOKED *entry = sk_X509_REVOKED_value(entries, i);
        if (ASN1_INTEGER_cmp(X509_REVOKED_get0_serialNumber(entry), serial) != 0) continue;
        if (date) *date = X509_REVOKED_get0_revocationDate(entry);
        tq::Asn1EnumeratedPtr reason(static_cast<ASN1_ENUMERATED *>(
            X509_REVOKED_get_ext_d2i(entry, NID_crl_reason, nullptr, nullptr)));
        if (!reason) return X509_V_ERR_CERT_REVOKED;
        long code = ASN1_ENUMERATED_get(reason.get());
        if ((code >= 0 && code <= 6) || code == 8)
            return TQ_V_ERR_REVOKED_UNSPECIFIED + static_cast<int>(code);
        return X509_V_ERR_CERT_REVOKED;
    }
    return 0;
}
TQ_CATCH_RETURN(X509_V_ERR_OUT_OF_MEM)

}  // extern "C"

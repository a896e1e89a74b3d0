// The parts of a message (signer infos, signer certificates, content, the
// certificate list) and certificate-only messages.
#include "pkcs7_internal.h"

#include "tqxcrypt_store.h"

namespace {

// A new signed-data without signers or content. Its content info is still
// of type data: a content info without a type cannot be encoded.
int emptySigned(tq::Pkcs7Ptr &p7) {
    p7.reset(PKCS7_new());
    if (!p7) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (!PKCS7_set_type(p7.get(), NID_pkcs7_signed) || !PKCS7_content_new(p7.get(), NID_pkcs7_data))
        return TQ_RTN_FAILED;
    PKCS7_set_detached(p7.get(), 1);
    return TQ_RTN_OK;
}

// The certificate list of a signed or signed-and-enveloped message.
int certListOf(TQXCRYPT_HANDLE *h, PKCS7 **p7, STACK_OF(X509) ***list) {
    int rc = tq::objectOf(h, TQXCRYPT_KIND_PKCS7, p7);
    if (rc != TQ_RTN_OK) return rc;
    bool typed = false;
    *list = tq::pkcs7CertList(*p7, &typed);
    return typed ? TQ_RTN_OK : TQ_RTN_BAD_PKCS7;
}

int leafOf(STACK_OF(X509) *certs, X509 **leaf) {
    if (sk_X509_num(certs) <= 0) return TQ_RTN_BAD_PKCS7;
    *leaf = tqxCryptGetLeafCert(certs);
    return *leaf ? TQ_RTN_OK : TQ_RTN_BAD_PKCS7;
}

// The signer infos of a signed or signed-and-enveloped message, else null.
STACK_OF(PKCS7_SIGNER_INFO) *signerInfosOf(PKCS7 *p7) {
    int type = tq::pkcs7Type(p7);
    if (type != NID_pkcs7_signed && type != NID_pkcs7_signedAndEnveloped) return nullptr;
    return PKCS7_get_signer_info(p7);
}

// The handles made so far, released together unless handed out.
struct HandleArray {
    TQXCRYPT_HANDLE **items = nullptr;
    size_t count = 0;
    ~HandleArray() {
        if (!items) return;
        for (size_t i = 0; i < count; ++i) TQXCryptFreeHandle(items[i]);
        TQCryptMemFree(items);
    }
};

}  // namespace

extern "C" {

int TQXCrypt_PKCS7GetSignerInfoCount(TQXCRYPT_HANDLE *pkcs7, int32_t *count) try {
    tq::ErrorQueueScope scope;
    PKCS7 *p7 = nullptr;
    int rc = tq::objectOf(pkcs7, TQXCRYPT_KIND_PKCS7, &p7);
    if (rc != TQ_RTN_OK) return rc;
    if (!count) return TQ_RTN_BAD_ARGUMENT;
    STACK_OF(PKCS7_SIGNER_INFO) *infos = signerInfosOf(p7);
    *count = infos ? sk_PKCS7_SIGNER_INFO_num(infos) : -1;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_PKCS7GetSignerInfo(TQXCRYPT_HANDLE *pkcs7, int32_t index, TQXCRYPT_HANDLE **out) try {
    tq::ErrorQueueScope scope;
    PKCS7 *p7 = nullptr;
    int rc = tq::objectOf(pkcs7, TQXCRYPT_KIND_PKCS7, &p7);
    if (rc != TQ_RTN_OK) return rc;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    *out = nullptr;
    STACK_OF(PKCS7_SIGNER_INFO) *infos = signerInfosOf(p7);
    if (index < 0 || index >= sk_PKCS7_SIGNER_INFO_num(infos)) return TQ_RTN_NO_SIGNER_INFO;
    tq::SignerInfoPtr copy;
    if ((rc = tq::copySignerInfo(sk_PKCS7_SIGNER_INFO_value(infos, index), copy)) != TQ_RTN_OK) return rc;
    rc = tqxCryptCreateHandle(out, TQXCRYPT_KIND_SIGNERINFO, copy.get(), tqxCryptASN1SignerInfoMethod(),
                              nullptr);
    if (rc == TQ_RTN_OK) copy.release();
    return rc;
}
TQ_CATCH_CODE

int TQXCrypt_PKCS7GetSignerCertificate(TQXCRYPT_HANDLE *pkcs7, int32_t index, TQXCRYPT_HANDLE **out) try {
    tq::ErrorQueueScope scope;
    PKCS7 *p7 = nullptr;
    int rc = tq::objectOf(pkcs7, TQXCRYPT_KIND_PKCS7, &p7);
    if (rc != TQ_RTN_OK) return rc;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    *out = nullptr;
    if (tq::pkcs7Type(p7) != NID_pkcs7_signed) return TQ_RTN_BAD_PKCS7;
    tq::CertList signers(PKCS7_get0_signers(p7, nullptr, 0));
    if (!signers || index < 0 || index >= sk_X509_num(signers.get())) return TQ_RTN_BAD_PKCS7;
    return tq::certHandle(sk_X509_value(signers.get(), index), out);
}
TQ_CATCH_CODE

int TQXCrypt_PKCS7AddSignerCertificate(TQXCRYPT_HANDLE *pkcs7, TQXCRYPT_HANDLE *certificate) try {
    tq::ErrorQueueScope scope;
    PKCS7 *p7 = nullptr;
    int rc = tq::objectOf(pkcs7, TQXCRYPT_KIND_PKCS7, &p7);
    if (rc != TQ_RTN_OK) return rc;
    X509 *cert = nullptr;
    if ((rc = tq::objectOf(certificate, TQXCRYPT_KIND_CERTIFICATE, &cert)) != TQ_RTN_OK) return rc;
    (void)PKCS7_add_certificate(p7, cert);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_PKCS7GetContent(TQXCRYPT_HANDLE *pkcs7, TQXCRYPT_BLOB *content) try {
    tq::ErrorQueueScope scope;
    PKCS7 *p7 = nullptr;
    int rc = tq::objectOf(pkcs7, TQXCRYPT_KIND_PKCS7, &p7);
    if (rc != TQ_RTN_OK) return rc;
    if (!content) return TQ_RTN_BAD_ARGUMENT;
    if (tq::pkcs7Type(p7) != NID_pkcs7_signed || !p7->d.sign ||
        tq::pkcs7Type(p7->d.sign->contents) != NID_pkcs7_data)
        return TQ_RTN_BAD_PKCS7;
    ASN1_OCTET_STRING *os = p7->d.sign->contents->d.data;
    // Detached: only the length says so, nothing is allocated (unlike an
    // empty content, which the blob writer hands out as an empty text).
    if (!os) {
        content->length = 0;
        return TQ_RTN_OK;
    }
    return tq::putBlob(content, ASN1_STRING_get0_data(os), static_cast<size_t>(ASN1_STRING_length(os)));
}
TQ_CATCH_CODE

int TQXCrypt_PKCS7GetUserCertificate(TQXCRYPT_HANDLE *pkcs7, TQXCRYPT_HANDLE **out) try {
    tq::ErrorQueueScope scope;
    PKCS7 *p7 = nullptr;
    STACK_OF(X509) **list = nullptr;
    int rc = certListOf(pkcs7, &p7, &list);
    if (rc != TQ_RTN_OK) return rc;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    *out = nullptr;
    X509 *leaf = nullptr;
    if ((rc = leafOf(*list, &leaf)) != TQ_RTN_OK) return rc;
    return tq::certHandle(leaf, out);
}
TQ_CATCH_CODE

int TQXCrypt_PKCS7GetCertChain(TQXCRYPT_HANDLE *pkcs7, TQXCRYPT_HANDLE **out) try {
    tq::ErrorQueueScope scope;
    PKCS7 *p7 = nullptr;
    STACK_OF(X509) **list = nullptr;
    int rc = certListOf(pkcs7, &p7, &list);
    if (rc != TQ_RTN_OK) return rc;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    *out = nullptr;
    if (sk_X509_num(*list) <= 0) return TQ_RTN_BAD_PKCS7;
    tq::Pkcs7Ptr chain;
    if ((rc = emptySigned(chain)) != TQ_RTN_OK) return rc;
    STACK_OF(X509) *copy = X509_chain_up_ref(*list);
    if (!copy) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    chain->d.sign->cert = copy;
    return tq::pkcs7Handle(chain.release(), out);
}
TQ_CATCH_CODE

int TQXCrypt_CreatePKCS7(TQXCRYPT_HANDLE **out) try {
    tq::ErrorQueueScope scope;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    *out = nullptr;
    tq::Pkcs7Ptr p7;
    int rc = emptySigned(p7);
    if (rc != TQ_RTN_OK) return rc;
    return tq::pkcs7Handle(p7.release(), out);
}
TQ_CATCH_CODE

int TQXCrypt_PKCS7AddCertificate(TQXCRYPT_HANDLE *pkcs7, TQXCRYPT_HANDLE *certificate) try {
    tq::ErrorQueueScope scope;
    PKCS7 *p7 = nullptr;
    STACK_OF(X509) **list = nullptr;
    int rc = certListOf(pkcs7, &p7, &list);
    if (rc != TQ_RTN_OK) return rc;
    X509 *cert = nullptr;
    if ((rc = tq::objectOf(certificate, TQXCRYPT_KIND_CERTIFICATE, &cert)) != TQ_RTN_OK) return rc;
    if (!*list && !(*list = sk_X509_new_null())) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    if (!sk_X509_push(*list, cert)) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    X509_up_ref(cert);
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_PKCS7GetCertificateCount(TQXCRYPT_HANDLE *pkcs7, int32_t *count) try {
    tq::ErrorQueueScope scope;
    PKCS7 *p7 = nullptr;
    int rc = tq::objectOf(pkcs7, TQXCRYPT_KIND_PKCS7, &p7);
    if (rc != TQ_RTN_OK) return rc;
    if (!count) return TQ_RTN_BAD_ARGUMENT;
    *count = 0;
    bool typed = false;
    STACK_OF(X509) **list = tq::pkcs7CertList(p7, &typed);
    if (!typed) return TQ_RTN_BAD_PKCS7;
    *count = *list ? sk_X509_num(*list) : -1;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

int TQXCrypt_PKCS7GetCertificate(TQXCRYPT_HANDLE *pkcs7, int32_t index, TQXCRYPT_HANDLE **out) try {
    tq::ErrorQueueScope scope;
    PKCS7 *p7 = nullptr;
    STACK_OF(X509) **list = nullptr;
    int rc = certListOf(pkcs7, &p7, &list);
    if (rc != TQ_RTN_OK) return rc;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    *out = nullptr;
    if (index < 0 || index >= sk_X509_num(*list)) return TQ_RTN_BAD_ARGUMENT;
    return tq::certHandle(sk_X509_value(*list, index), out);
}
TQ_CATCH_CODE

int TQXCrypt_PKCS7GetCertificates(TQXCRYPT_HANDLE *pkcs7, TQXCRYPT_HANDLE **leaf, TQXCRYPT_HANDLE ***others,
                                  int32_t *count) try {
    tq::ErrorQueueScope scope;
    if (!leaf || !others || !count) return TQ_RTN_BAD_ARGUMENT;
    *leaf = nullptr;
    *others = nullptr;
    *count = 0;
    PKCS7 *p7 = nullptr;
    STACK_OF(X509) **list = nullptr;
    int rc = certListOf(pkcs7, &p7, &list);
    if (rc != TQ_RTN_OK) return rc;
    int total = sk_X509_num(*list);
    if (total <= 0) return TQ_RTN_BAD_ARGUMENT;
    X509 *leafCert = nullptr;
    if ((rc = leafOf(*list, &leafCert)) != TQ_RTN_OK) return rc;
    HandleArray array;
    const size_t n = static_cast<size_t>(total - 1);
    if (n > 0) {
        array.items = static_cast<TQXCRYPT_HANDLE **>(TQCryptMemAlloc(n * sizeof(TQXCRYPT_HANDLE *)));
        if (!array.items) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        std::memset(array.items, 0, n * sizeof(TQXCRYPT_HANDLE *));
    }
    // Every handle must be made: a failure anywhere fails the whole call.
    bool leafSeen = false;
    for (int i = 0; i < total; ++i) {
        X509 *cert = sk_X509_value(*list, i);
        if (cert == leafCert && !leafSeen) {
            leafSeen = true;
            continue;
        }
        if (array.count == n) return TQ_RTN_FAILED;
        if ((rc = tq::certHandle(cert, &array.items[array.count])) != TQ_RTN_OK) return rc;
        ++array.count;
    }
    tq::HandlePtr leafHandle;
    {
        TQXCRYPT_HANDLE *h = nullptr;
        if ((rc = tq::certHandle(leafCert, &h)) != TQ_RTN_OK) return rc;
        leafHandle.reset(h);
    }
    *leaf = leafHandle.release();
    *others = array.items;
    *count = static_cast<int32_t>(n);
    array.items = nullptr;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

// Verification of one signer of a signed-data message against a trust
// store, with the chain procedure the call chooses and an optional subject rule.
#include "pkcs7_internal.h"

#include <vector>

#include <openssl/x509_vfy.h>

#include "store_internal.h"

namespace {

// Frees the chain that PKCS7_dataInit made, leaving the caller's BIO at its
// end to the caller.
struct DataChain {
    BIO *chain = nullptr;
    BIO *callers = nullptr;
    ~DataChain() {
        if (!chain) return;
        if (callers) {
            if (chain == callers) return;
            BIO_pop(callers);
        }
        BIO_free_all(chain);
    }
};

// Runs the procedure over the signer certificate; null: the one the
// context takes from the store.
bool verifySignerChain(X509_STORE *store, X509 *signer, STACK_OF(X509) *untrusted, int flags,
                       time_t checkTime, X509_STORE_CTX_verify_fn procedure) {
    tq::X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
        return false;
    }
    bool chain = !(flags & PKCS7_NOCHAIN);
    if (!tq::initVerification(ctx.get(), store, signer, chain ? untrusted : nullptr, procedure, checkTime)) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_X509_LIB);
        return false;
    }
    if (tq::verifyContext(ctx.get(), chain ? X509_PURPOSE_SMIME_SIGN : 0) > 0) return true;
    int error = X509_STORE_CTX_get_error(ctx.get());
    if (error == X509_V_OK) error = X509_V_ERR_UNSPECIFIED;
    ERR_raise_data(ERR_LIB_PKCS7, error, "Verify error:%s", X509_verify_cert_error_string(error));
    return false;
}

int verifySigner(PKCS7 *p7, STACK_OF(X509) *certificates, BIO *content, BIO *out, X509_STORE *store,
                 int flags, const char *subjectRule, int signerIndex, time_t checkTime,
                 X509_STORE_CTX_verify_fn procedure) {
    if (!p7) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_INVALID_NULL_POINTER);
        return 0;
    }
    if (tq::pkcs7Type(p7) != NID_pkcs7_signed || !p7->d.sign) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_WRONG_CONTENT_TYPE);
        return 0;
    }
    if (PKCS7_get_detached(p7) && !content) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_NO_CONTENT);
        return 0;
    }
    STACK_OF(PKCS7_SIGNER_INFO) *infos = PKCS7_get_signer_info(p7);
    if (sk_PKCS7_SIGNER_INFO_num(infos) <= 0 || signerIndex < 0 ||
        signerIndex >= sk_PKCS7_SIGNER_INFO_num(infos)) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_NO_SIGNATURES_ON_DATA);
        return 0;
    }
    tq::CertList signers(PKCS7_get0_signers(p7, certificates, flags));
    if (!signers || signerIndex >= sk_X509_num(signers.get())) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_UNABLE_TO_FIND_CERTIFICATE);
        return 0;
    }
    X509 *signer = sk_X509_value(signers.get(), signerIndex);
    if (subjectRule && *subjectRule && tqxCrypt_ValidateCertSubject(signer, subjectRule, 0) != 0) {
        ERR_raise(ERR_LIB_PKCS7, X509_V_ERR_CERT_UNTRUSTED);
        return 0;
    }
    if (!(flags & PKCS7_NOVERIFY) &&
        !verifySignerChain(store, signer, p7->d.sign->cert, flags, checkTime, procedure))
        return 0;

    DataChain data;
    data.callers = content;
    data.chain = PKCS7_dataInit(p7, content);
    if (!data.chain) return 0;
    tq::BioPtr text;
    BIO *target = out;
    if (flags & PKCS7_TEXT) {
        text.reset(BIO_new(BIO_s_mem()));
        if (!text) {
            ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
            return 0;
        }
        // SMIME_text reads it to the end: an empty buffer must say so.
        BIO_set_mem_eof_return(text.get(), 0);
        target = text.get();
    }
    std::vector<unsigned char> block(4096);
    for (;;) {
        int n = BIO_read(data.chain, block.data(), static_cast<int>(block.size()));
        if (n <= 0) break;
        if (target && BIO_write(target, block.data(), n) != n) {
            ERR_raise(ERR_LIB_PKCS7, ERR_R_BIO_LIB);
            return 0;
        }
    }
    if ((flags & PKCS7_TEXT) && !SMIME_text(text.get(), out)) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_SMIME_TEXT_ERROR);
        return 0;
    }
    if (!(flags & PKCS7_NOSIGS) &&
        PKCS7_signatureVerify(data.chain, p7, sk_PKCS7_SIGNER_INFO_value(infos, signerIndex), signer) <= 0) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_SIGNATURE_FAILURE);
        return 0;
    }
    return 1;
}

// The store of a call: the caller's, or an empty one owned here.
int storeOf(TQXCRYPT_HANDLE *handle, tq::X509StorePtr &own, X509_STORE **store) {
    int rc = tq::objectOf(handle, TQXCRYPT_KIND_STORE, store, tq::Presence::Optional);
    if (rc != TQ_RTN_OK || *store) return rc;
    own.reset(X509_STORE_new());
    if (!own) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    *store = own.get();
    return TQ_RTN_OK;
}

int verifyHandle(TQXCRYPT_HANDLE *storeHandle, TQXCRYPT_HANDLE *pkcs7, const unsigned char *data,
                 uint64_t dataLength, const char *subjectRule, int signerIndex, int flags, time_t checkTime,
                 TQXCRYPT_HANDLE **signerInfo, bool wantCert, tq::HandlePtr &signerCert) {
    PKCS7 *p7 = nullptr;
    int rc = tq::objectOf(pkcs7, TQXCRYPT_KIND_PKCS7, &p7);
    if (rc != TQ_RTN_OK) return rc;
    if (!tq::fitsInt(dataLength) || (!data && dataLength)) return TQ_RTN_BAD_ARGUMENT;
    // A signer that is not there answers as the signer-info accessor does; a
    // message without any signer is "not signed".
    if (tq::pkcs7Type(p7) == NID_pkcs7_signed) {
        int signers = sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(p7));
        if (signers > 0 && (signerIndex < 0 || signerIndex >= signers)) return TQ_RTN_NO_SIGNER_INFO;
    }
    tq::X509StorePtr ownStore;
    X509_STORE *store = nullptr;
    if ((rc = storeOf(storeHandle, ownStore, &store)) != TQ_RTN_OK) return rc;

    int osslFlags = PKCS7_BINARY;
    tq::BioPtr content, received;
    // Detached without data is a message without content, not empty content.
    if ((flags & TQXCRYPT_DETACHED) && data) {
        content.reset(BIO_new_mem_buf(data, static_cast<int>(dataLength)));
        if (!content) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        osslFlags |= PKCS7_DETACHED;
    } else if (data && !(flags & TQXCRYPT_DETACHED)) {
        received.reset(BIO_new(BIO_s_mem()));
        if (!received) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    if (!(flags & (TQXCRYPT_VERIFY_CHAIN | TQXCRYPT_VERIFY_CRL))) osslFlags |= PKCS7_NOVERIFY;
    X509_STORE_CTX_verify_fn procedure = tq::procedureFor(flags);
    tq::noteProcedure(store, procedure);
    if (subjectRule) {
        TQXCRYPT_HANDLE *cert = nullptr;
        if ((rc = TQXCrypt_PKCS7GetSignerCertificate(pkcs7, signerIndex, &cert)) != TQ_RTN_OK) return rc;
        signerCert.reset(cert);
        if ((rc = TQXCrypt_ValidateCertificate(cert, subjectRule, -1)) != TQ_RTN_OK) return rc;
    }
    tq::clearErrors();
    if (!verifySigner(p7, nullptr, content.get(), received.get(), store, osslFlags, subjectRule, signerIndex,
                      checkTime, procedure))
        return tq::pkcs7VerifyFailure();
    if (received) {
        char *bytes = nullptr;
        long n = BIO_get_mem_data(received.get(), &bytes);
        if (n < 0) return TQ_RTN_FAILED;
        if (static_cast<uint64_t>(n) != dataLength ||
            (n > 0 && std::memcmp(bytes, data, static_cast<size_t>(n)) != 0))
            return TQ_RTN_CONTENT_MISMATCH;
    }
    if (signerInfo && (rc = TQXCrypt_PKCS7GetSignerInfo(pkcs7, signerIndex, signerInfo)) != TQ_RTN_OK)
        return rc;
    if (wantCert && !signerCert) {
        TQXCRYPT_HANDLE *cert = nullptr;
        if ((rc = TQXCrypt_PKCS7GetSignerCertificate(pkcs7, signerIndex, &cert)) != TQ_RTN_OK) return rc;
        signerCert.reset(cert);
    }
    return TQ_RTN_OK;
}

}  // namespace

extern "C" {

// OpenSSL's own way: the procedure comes with the store.
int tqxCrypt_VerifyPKCS7(PKCS7 *p7, STACK_OF(X509) *certificates, BIO *content, BIO *out, X509_STORE *store,
                         int flags, const char *subjectRule, int signerIndex, time_t checkTime) try {
    return verifySigner(p7, certificates, content, out, store, flags, subjectRule, signerIndex, checkTime,
                        nullptr);
}
TQ_CATCH_OPENSSL(0)

int TQXCrypt_Verify(TQXCRYPT_HANDLE *store, TQXCRYPT_HANDLE *pkcs7, const unsigned char *data,
                    uint64_t dataLength, const char *subjectRule, int signerIndex, int flags,
                    time_t checkTime, TQXCRYPT_HANDLE **signerInfo, TQXCRYPT_HANDLE **signerCertificate) try {
    tq::ErrorQueueScope scope;
    if (signerInfo) *signerInfo = nullptr;
    if (signerCertificate) *signerCertificate = nullptr;
    tq::HandlePtr cert;
    int rc = verifyHandle(store, pkcs7, data, dataLength, subjectRule, signerIndex, flags, checkTime,
                          signerInfo, signerCertificate != nullptr, cert);
    if (rc != TQ_RTN_OK) {
        if (signerInfo) {
            TQXCryptFreeHandle(*signerInfo);
            *signerInfo = nullptr;
        }
        return rc;
    }
    if (signerCertificate) *signerCertificate = cert.release();
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

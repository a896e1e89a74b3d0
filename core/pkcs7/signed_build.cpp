// Signed-data builders that carry a key handle instead of an EVP_PKEY, so a
// token key signs exactly as a software key does.
#include "pkcs7_internal.h"

#include "keys_internal.h"

namespace {

constexpr const char *kIndirectData = "1.3.6.1.4.1.311.2.1.4";

// The S/MIME capabilities a signer announces, in this order (RC2 with its
// key bits; -1: no parameter).
struct Capability {
    int nid;
    int bits;
};
constexpr Capability kCapabilities[] = {
    {NID_des_ede3_cbc, -1}, {NID_rc2_cbc, 128}, {NID_rc2_cbc, 64}, {NID_des_cbc, -1}, {NID_rc2_cbc, 40},
};

}  // namespace

bool tq::pkcs7SetAlgorithm(X509_ALGOR *alg, int nid) {
    ASN1_OBJECT *obj = OBJ_nid2obj(nid);
    return obj && X509_ALGOR_set0(alg, obj, V_ASN1_NULL, nullptr) == 1;
}

bool tq::pkcs7SetIssuerAndSerial(PKCS7_SIGNER_INFO *si, X509 *cert) {
    if (!X509_NAME_set(&si->issuer_and_serial->issuer, X509_get_issuer_name(cert))) return false;
    ASN1_INTEGER *serial = ASN1_INTEGER_dup(X509_get0_serialNumber(cert));
    if (!serial) return false;
    ASN1_INTEGER_free(si->issuer_and_serial->serial);
    si->issuer_and_serial->serial = serial;
    return true;
}

tq::Pkcs7Building tq::pkcs7StartSigned(X509 *signer, TQXCRYPT_HANDLE *key, int type) {
    EVP_PKEY *certKey = X509_get0_pubkey(signer);
    if (!certKey) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_UNABLE_TO_FIND_CERTIFICATE);
        return nullptr;
    }
    int rc = tqxCheckKeyPair(key, certKey);
    if (rc != TQ_RTN_OK) {
        ERR_raise(ERR_LIB_PKCS7, rc == TQ_RTN_KEY_MISMATCH ? PKCS7_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE
                                                           : PKCS7_R_SIGNING_NOT_SUPPORTED_FOR_THIS_KEY_TYPE);
        return nullptr;
    }
    tq::Pkcs7Building p7(PKCS7_new());
    if (!p7 || !PKCS7_set_type(p7.get(), type) ||
        (type == NID_pkcs7_signed && !PKCS7_content_new(p7.get(), NID_pkcs7_data))) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
        return nullptr;
    }
    return p7;
}

bool tq::pkcs7AddCertificates(PKCS7 *p7, X509 *signer, STACK_OF(X509) *extra, int flags) {
    if (flags & PKCS7_NOCERTS) return true;
    if (!PKCS7_add_certificate(p7, signer)) return false;
    for (int i = 0; i < sk_X509_num(extra); ++i)
        if (!PKCS7_add_certificate(p7, sk_X509_value(extra, i))) return false;
    return true;
}

// contentType data and, unless asked not to, the S/MIME capabilities.
bool tq::pkcs7AddStandardAttributes(PKCS7_SIGNER_INFO *si, int flags) {
    if (flags & PKCS7_NOATTR) return true;
    // Replaces a content type set before (code signing's indirect data).
    if (!PKCS7_add_signed_attribute(si, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data)))
        return false;
    if (flags & PKCS7_NOSMIMECAP) return true;
    tq::AlgorStack caps(sk_X509_ALGOR_new_null());
    bool made = caps != nullptr;
    for (const Capability &c : kCapabilities) made = made && PKCS7_simple_smimecap(caps.get(), c.nid, c.bits);
    if (!made) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
        return false;
    }
    return PKCS7_add_attrib_smimecap(si, caps.get()) == 1;
}

PKCS7_SIGNER_INFO *tq::pkcs7AddSigner(PKCS7 *p7, X509 *signer, TQXCRYPT_HANDLE *key, int selector) {
    tq::EvpMdPtr md = tq::pkcs7Digest(selector);
    if (!md) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_UNKNOWN_DIGEST_TYPE);
        return nullptr;
    }
    PKCS7_SIGNER_INFO *si = tqxCrypt_PKCS7_add_signature(p7, signer, key, md.get());
    if (!si) ERR_raise(ERR_LIB_PKCS7, PKCS7_R_PKCS7_ADD_SIGNATURE_ERROR);
    return si;
}

BIO *tq::pkcs7OpenChain(PKCS7 *p7) {
    BIO *chain = PKCS7_dataInit(p7, nullptr);
    if (!chain) ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
    return chain;
}

namespace {

bool writeAll(BIO *chain, const unsigned char *data, size_t length) {
    tq::ByteCursor c(data, length);
    while (!c.empty()) {
        int n = static_cast<int>(c.remaining() < (1u << 30) ? c.remaining() : (1u << 30));
        int written = BIO_write(chain, c.here(), n);
        if (written <= 0) return false;
        c.skip(static_cast<size_t>(written));
    }
    return BIO_flush(chain) > 0;
}

}  // namespace

// The end of every builder: mark detached when asked, then sign.
PKCS7 *tq::pkcs7Finish(tq::Pkcs7Building &p7, BIO *chain, int flags) {
    if (flags & PKCS7_DETACHED) PKCS7_set_detached(p7.get(), 1);
    if (!tqx_PKCS7_dataFinal(p7.get(), chain)) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_PKCS7_DATASIGN);
        return nullptr;
    }
    tq::clearParkedKeys(p7.get());
    return p7.release();
}

extern "C" {

int tqxCrypt_PKCS7_SIGNER_INFO_set(PKCS7_SIGNER_INFO *si, X509 *signer, TQXCRYPT_HANDLE *key,
                                   const EVP_MD *digest) try {
    if (!si || !signer || !tq::keyMethod(key) || !digest) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_INVALID_NULL_POINTER);
        return 0;
    }
    const TQXCRYPT_KEY_METHOD *method = tq::keyMethod(key);
    int keyType = method->keyType ? method->keyType(key) : EVP_PKEY_NONE;
    if (!ASN1_INTEGER_set(si->version, 1) || !tq::pkcs7SetIssuerAndSerial(si, signer)) return 0;
    int digestNid = keyType == EVP_PKEY_DSA ? NID_sha1 : EVP_MD_get_type(digest);
    if (!tq::pkcs7SetAlgorithm(si->digest_alg, digestNid)) return 0;
    int baseType = EVP_PKEY_type(keyType);
    bool set = baseType == EVP_PKEY_DSA
                   ? X509_ALGOR_set0(si->digest_enc_alg, OBJ_nid2obj(baseType), V_ASN1_UNDEF, nullptr) == 1
                   : tq::pkcs7SetAlgorithm(si->digest_enc_alg, baseType);
    if (!set) return 0;
    // Parked only once nothing can fail: a caller's signer info that this
    // call refused must never reach OpenSSL with our handle in its key slot.
    tq::parkKey(si, key);
    return 1;
}
TQ_CATCH_OPENSSL(0)

PKCS7_SIGNER_INFO *tqxCrypt_PKCS7_add_signature(PKCS7 *p7, X509 *signer, TQXCRYPT_HANDLE *key,
                                                const EVP_MD *digest) try {
    tq::SignerInfoPtr si(PKCS7_SIGNER_INFO_new());
    if (!si || !tqxCrypt_PKCS7_SIGNER_INFO_set(si.get(), signer, key, digest)) return nullptr;
    // The key slot stays set: the message now owns the signer info and its
    // builder clears the slot before freeing it.
    if (!PKCS7_add_signer(p7, si.get())) return nullptr;
    return si.release();
}
TQ_CATCH_OPENSSL(nullptr)

PKCS7 *tqxCrypt_PKCS7_sign(X509 *signer, TQXCRYPT_HANDLE *key, STACK_OF(X509) *certificates,
                           const unsigned char *data, unsigned int dataLength, int flags,
                           int hashSelector) try {
    if (!signer || !key || (!data && dataLength)) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_INVALID_NULL_POINTER);
        return nullptr;
    }
    tq::Pkcs7Building p7 = tq::pkcs7StartSigned(signer, key, NID_pkcs7_signed);
    if (!p7) return nullptr;
    PKCS7_SIGNER_INFO *si = tq::pkcs7AddSigner(p7.get(), signer, key, hashSelector);
    if (!si || !tq::pkcs7AddCertificates(p7.get(), signer, certificates, flags)) return nullptr;
    tq::BioPtr chain(tq::pkcs7OpenChain(p7.get()));
    if (!chain || !writeAll(chain.get(), data, dataLength) || !tq::pkcs7AddStandardAttributes(si, flags))
        return nullptr;
    return tq::pkcs7Finish(p7, chain.get(), flags);
}
TQ_CATCH_OPENSSL(nullptr)

PKCS7 *tqxCrypt_PKCS7_codesign(X509 *signer, TQXCRYPT_HANDLE *key, STACK_OF(X509) *certificates, BIO *data,
                               const char *, const char *, void *, int flags) try {
    if (!signer || !key || !data) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_INVALID_NULL_POINTER);
        return nullptr;
    }
    tq::Pkcs7Building p7 = tq::pkcs7StartSigned(signer, key, NID_pkcs7_signed);
    if (!p7) return nullptr;
    PKCS7_SIGNER_INFO *si = tq::pkcs7AddSigner(p7.get(), signer, key, 1);
    if (!si) return nullptr;
    ASN1_OBJECT *indirect = OBJ_txt2obj(kIndirectData, 1);
    if (!indirect || !PKCS7_add_signed_attribute(si, NID_pkcs9_contentType, V_ASN1_OBJECT, indirect)) {
        ASN1_OBJECT_free(indirect);
        ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
        return nullptr;
    }
    if (!tq::pkcs7AddCertificates(p7.get(), signer, certificates, flags)) return nullptr;
    tq::BioPtr chain(tq::pkcs7OpenChain(p7.get()));
    if (!chain || !SMIME_crlf_copy(data, chain.get(), flags)) return nullptr;
    (void)BIO_flush(chain.get());
    if (!tq::pkcs7AddStandardAttributes(si, flags)) return nullptr;
    return tq::pkcs7Finish(p7, chain.get(), flags);
}
TQ_CATCH_OPENSSL(nullptr)

}  // extern "C"

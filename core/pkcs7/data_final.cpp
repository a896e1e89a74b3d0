// The final step of a message built through PKCS7_dataInit: every signer
// info with a key handle in its key slot is signed through the handle's key
// method table, and the content written into the chain is embedded.
#include "pkcs7_internal.h"

#include <openssl/x509.h>

#include "keys_internal.h"

namespace {

// The digest BIO of the chain that computes `nid`, or null (reason queued).
EVP_MD_CTX *findDigest(BIO *chain, int nid) {
    for (BIO *b = chain;; b = BIO_next(b)) {
        b = BIO_find_type(b, BIO_TYPE_MD);
        if (!b) {
            ERR_raise(ERR_LIB_PKCS7, PKCS7_R_UNABLE_TO_FIND_MESSAGE_DIGEST);
            return nullptr;
        }
        EVP_MD_CTX *ctx = nullptr;
        BIO_get_md_ctx(b, &ctx);
        if (!ctx) {
            ERR_raise(ERR_LIB_PKCS7, PKCS7_R_CIPHER_NOT_INITIALIZED);
            return nullptr;
        }
        const EVP_MD *md = EVP_MD_CTX_get0_md(ctx);
        if (md && EVP_MD_get_type(md) == nid) return ctx;
    }
}

bool signOne(PKCS7_SIGNER_INFO *si, BIO *chain) {
    TQXCRYPT_HANDLE *key = tq::parkedKey(si);
    int nid = OBJ_obj2nid(si->digest_alg->algorithm);
    if (nid == NID_undef) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_UNKNOWN_DIGEST_TYPE);
        return false;
    }
    EVP_MD_CTX *source = findDigest(chain, nid);
    if (!source) return false;
    // The BIO's own context stays intact for any further signer.
    tq::EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || !EVP_MD_CTX_copy_ex(ctx.get(), source)) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_EVP_LIB);
        return false;
    }
    const TQXCRYPT_KEY_METHOD *method = tq::keyMethod(key);
    int keySize = method && method->keySize ? method->keySize(key) : 0;
    if (keySize <= 0) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_SIGNING_NOT_SUPPORTED_FOR_THIS_KEY_TYPE);
        return false;
    }
    tq::OsslBytes signature(static_cast<unsigned char *>(OPENSSL_malloc(static_cast<size_t>(keySize))));
    if (!signature) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
        return false;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (sk_X509_ATTRIBUTE_num(si->auth_attr) > 0) {
        if (!PKCS7_get_signed_attribute(si, NID_pkcs9_signingTime) &&
            !PKCS7_add0_attrib_signing_time(si, nullptr))
            return false;
        if (!EVP_DigestFinal_ex(ctx.get(), digest, &digestLength) ||
            !PKCS7_add1_attrib_digest(si, digest, static_cast<int>(digestLength)))
            return false;
        unsigned char *der = nullptr;
        // Encoded as a sorted SET, as the verifier re-encodes it.
        int derLength = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE *>(si->auth_attr), &der,
                                      ASN1_ITEM_rptr(PKCS7_ATTR_SIGN));
        tq::OsslBytes owner(der);
        if (derLength <= 0 || !EVP_DigestInit_ex(ctx.get(), EVP_MD_CTX_get0_md(ctx.get()), nullptr) ||
            !EVP_DigestUpdate(ctx.get(), der, static_cast<size_t>(derLength)))
            return false;
    }
    if (!EVP_DigestFinal_ex(ctx.get(), digest, &digestLength)) return false;
    unsigned int signatureLength = 0;
    if (!tqxCrypt_RSA_sign(EVP_MD_get_type(EVP_MD_CTX_get0_md(ctx.get())), digest, digestLength,
                           signature.get(), &signatureLength, key))
        return false;
    ASN1_STRING_set0(si->enc_digest, signature.release(), static_cast<int>(signatureLength));
    return true;
}

// The octet string that takes the encrypted content, made when missing.
ASN1_OCTET_STRING *encryptedContent(PKCS7_ENC_CONTENT *enc) {
    if (!enc->enc_data && !(enc->enc_data = ASN1_OCTET_STRING_new()))
        ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
    return enc->enc_data;
}

}  // namespace

extern "C" int tqx_PKCS7_dataFinal(PKCS7 *p7, BIO *chain) try {
    if (!p7 || !chain) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_INVALID_NULL_POINTER);
        return 0;
    }
    // A decoded message may carry only its type.
    if (!p7->d.ptr) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_NO_CONTENT);
        return 0;
    }
    p7->state = PKCS7_S_HEADER;
    STACK_OF(PKCS7_SIGNER_INFO) *infos = nullptr;
    ASN1_OCTET_STRING *os = nullptr;
    switch (tq::pkcs7Type(p7)) {
    case NID_pkcs7_signed: {
        infos = p7->d.sign->signer_info;
        PKCS7 *contents = p7->d.sign->contents;
        if (contents && tq::pkcs7Type(contents) == NID_pkcs7_data) {
            os = contents->d.data;
            if (p7->detached) {
                ASN1_OCTET_STRING_free(os);
                os = nullptr;
                contents->d.data = nullptr;
            }
        }
        break;
    }
    case NID_pkcs7_signedAndEnveloped:
        infos = p7->d.signed_and_enveloped->signer_info;
        if (!(os = encryptedContent(p7->d.signed_and_enveloped->enc_data))) return 0;
        break;
    case NID_pkcs7_enveloped:
        if (!(os = encryptedContent(p7->d.enveloped->enc_data))) return 0;
        break;
    default:
        break;
    }
    for (int i = 0; i < sk_PKCS7_SIGNER_INFO_num(infos); ++i) {
        PKCS7_SIGNER_INFO *si = sk_PKCS7_SIGNER_INFO_value(infos, i);
        if (tq::parkedKey(si) && !signOne(si, chain)) return 0;
    }
    // Only a signed-data can be detached (asking OpenSSL about any other type
    // would queue a spurious reason).
    bool detached =
        tq::pkcs7Type(p7) == NID_pkcs7_signed && (!p7->d.sign->contents || !p7->d.sign->contents->d.ptr);
    if (!detached) {
        if (!os) {
            ERR_raise(ERR_LIB_PKCS7, PKCS7_R_NO_CONTENT);
            return 0;
        }
        BIO *mem = BIO_find_type(chain, BIO_TYPE_MEM);
        if (!mem) {
            ERR_raise(ERR_LIB_PKCS7, PKCS7_R_UNABLE_TO_FIND_MEM_BIO);
            return 0;
        }
        char *bytes = nullptr;
        long length = BIO_get_mem_data(mem, &bytes);
        // The octet string takes the BIO's buffer; a read-only BIO leaves it
        // alone when the chain is freed.
        BIO_set_flags(mem, BIO_FLAGS_MEM_RDONLY);
        BIO_set_mem_eof_return(mem, 0);
        ASN1_STRING_set0(os, reinterpret_cast<unsigned char *>(bytes), static_cast<int>(length));
    }
    return 1;
}
TQ_CATCH_OPENSSL(0)

// Enveloped data: encryption for recipient certificates with OpenSSL's own
// routines; decryption that recovers the content key through the key
// handle's method table, so a token key decrypts as a software key does.
#include "pkcs7_internal.h"

#include <vector>

#include <openssl/rand.h>

#include "keys_internal.h"

namespace {

// The envelope cipher selector (low byte of the cipher argument).
struct EnvelopeCipher {
    int selector;
    const char *name;
};
constexpr EnvelopeCipher kEnvelopeCiphers[] = {
    {0, "DES-CBC"},
    {1, "DES-CBC"},
    {2, "DES-EDE3-CBC"},
    {4, "RC4"},
};

const char *envelopeCipherName(int cipher) {
    for (const EnvelopeCipher &c : kEnvelopeCiphers)
        if (c.selector == (cipher & 0xFF)) return c.name;
    return nullptr;
}

PKCS7_RECIP_INFO *recipientInfoFor(STACK_OF(PKCS7_RECIP_INFO) *infos, X509 *cert) {
    for (int i = 0; i < sk_PKCS7_RECIP_INFO_num(infos); ++i) {
        PKCS7_RECIP_INFO *ri = sk_PKCS7_RECIP_INFO_value(infos, i);
        if (X509_NAME_cmp(ri->issuer_and_serial->issuer, X509_get_issuer_name(cert)) == 0 &&
            ASN1_INTEGER_cmp(ri->issuer_and_serial->serial, X509_get0_serialNumber(cert)) == 0)
            return ri;
    }
    return nullptr;
}

// A BIO chain in the making: appended BIOs are freed together on failure.
struct ChainBuilder {
    BIO *head = nullptr;
    ~ChainBuilder() { BIO_free_all(head); }
    void append(BIO *b) { head = head ? (BIO_push(head, b), head) : b; }
    BIO *release() {
        BIO *h = head;
        head = nullptr;
        return h;
    }
};

int decryptFailure() {
    unsigned long e = tq::newestError();
    int reason = e ? ERR_GET_REASON(e) : 0;
    if (reason == PKCS7_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE) return TQ_RTN_BAD_CERTIFICATE;
    if (reason == PKCS7_R_WRONG_CONTENT_TYPE || reason == PKCS7_R_NO_CONTENT) return TQ_RTN_BAD_PKCS7;
    if (reason == ERR_GET_REASON(ERR_R_MALLOC_FAILURE)) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    return TQ_RTN_DECRYPT_FAILED;
}

bool setCipherAndRecipients(PKCS7 *p7, const EVP_CIPHER *cipher, STACK_OF(X509) *recipients) {
    if (!PKCS7_set_cipher(p7, cipher)) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_ERROR_SETTING_CIPHER);
        return false;
    }
    for (int i = 0; i < sk_X509_num(recipients); ++i) {
        if (!PKCS7_add_recipient(p7, sk_X509_value(recipients, i))) {
            ERR_raise(ERR_LIB_PKCS7, PKCS7_R_ERROR_ADDING_RECIPIENT);
            return false;
        }
    }
    return true;
}

// A cipher whose final block failed its padding check marks its BIO.
bool cipherFinished(BIO *chain) {
    BIO *b = BIO_find_type(chain, BIO_TYPE_CIPHER);
    return !b || BIO_get_cipher_status(b) > 0;
}

}  // namespace

extern "C" {

BIO *tqx_PKCS7_dataDecode(PKCS7 *p7, TQXCRYPT_HANDLE *key, BIO *in, X509 *recipient) try {
    if (!p7) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_INVALID_NULL_POINTER);
        return nullptr;
    }
    // The content of a ContentInfo is optional: a message may carry only its type.
    if (!p7->d.ptr) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_NO_CONTENT);
        return nullptr;
    }
    p7->state = PKCS7_S_HEADER;
    STACK_OF(X509_ALGOR) *mdAlgs = nullptr;
    STACK_OF(PKCS7_RECIP_INFO) *recipients = nullptr;
    X509_ALGOR *encAlg = nullptr;
    ASN1_OCTET_STRING *body = nullptr;
    bool detached = false;
    switch (tq::pkcs7Type(p7)) {
    case NID_pkcs7_enveloped:
        recipients = p7->d.enveloped->recipientinfo;
        encAlg = p7->d.enveloped->enc_data->algorithm;
        body = p7->d.enveloped->enc_data->enc_data;
        break;
    case NID_pkcs7_signedAndEnveloped:
        mdAlgs = p7->d.signed_and_enveloped->md_algs;
        recipients = p7->d.signed_and_enveloped->recipientinfo;
        encAlg = p7->d.signed_and_enveloped->enc_data->algorithm;
        body = p7->d.signed_and_enveloped->enc_data->enc_data;
        break;
    case NID_pkcs7_signed:
        mdAlgs = p7->d.sign->md_algs;
        body = PKCS7_get_octet_string(p7->d.sign->contents);
        detached = PKCS7_get_detached(p7) != 0;
        break;
    default:
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_UNSUPPORTED_CONTENT_TYPE);
        return nullptr;
    }
    tq::EvpCipherPtr cipher;
    if (encAlg) {
        cipher.reset(EVP_CIPHER_fetch(nullptr, OBJ_nid2sn(OBJ_obj2nid(encAlg->algorithm)), nullptr));
        if (!cipher) {
            ERR_raise(ERR_LIB_PKCS7, PKCS7_R_UNSUPPORTED_CIPHER_TYPE);
            return nullptr;
        }
    }
    ChainBuilder chain;
    for (int i = 0; i < sk_X509_ALGOR_num(mdAlgs); ++i) {
        X509_ALGOR *alg = sk_X509_ALGOR_value(mdAlgs, i);
        BIO *md = BIO_new(BIO_f_md());
        if (!md) {
            ERR_raise(ERR_LIB_PKCS7, ERR_R_BIO_LIB);
            return nullptr;
        }
        chain.append(md);
        tq::EvpMdPtr digest(EVP_MD_fetch(nullptr, OBJ_nid2sn(OBJ_obj2nid(alg->algorithm)), nullptr));
        if (!digest || BIO_set_md(md, digest.get()) <= 0) {
            ERR_raise(ERR_LIB_PKCS7, PKCS7_R_UNKNOWN_DIGEST_TYPE);
            return nullptr;
        }
    }
    if (cipher) {
        BIO *cbio = BIO_new(BIO_f_cipher());
        if (!cbio) {
            ERR_raise(ERR_LIB_PKCS7, ERR_R_BIO_LIB);
            return nullptr;
        }
        tq::BioPtr cipherOwner(cbio);
        PKCS7_RECIP_INFO *ri = recipient ? recipientInfoFor(recipients, recipient) : nullptr;
        if (!ri) {
            ERR_raise(ERR_LIB_PKCS7, PKCS7_R_NO_RECIPIENT_MATCHES_CERTIFICATE);
            return nullptr;
        }
        const TQXCRYPT_KEY_METHOD *method = key ? tq::keyMethod(key) : nullptr;
        // An empty key would reach a cipher of variable key length (RC4)
        // as a key of length zero.
        tq::SecretBlob contentKey;
        const int keyRc =
            method && method->decrypt
                ? method->decrypt(key, ASN1_STRING_get0_data(ri->enc_key),
                                  static_cast<uint64_t>(ASN1_STRING_length(ri->enc_key)), 0, contentKey.get())
                : TQ_RTN_FAILED;
        if (keyRc != TQ_RTN_OK || contentKey.size() == 0) {
            // Running out of memory is no wrong key.
            ERR_raise(ERR_LIB_PKCS7,
                      keyRc == TQ_RTN_MEMORY_ALLOCATE_FAIL ? ERR_R_MALLOC_FAILURE : ERR_R_EVP_LIB);
            return nullptr;
        }
        EVP_CIPHER_CTX *ctx = nullptr;
        BIO_get_cipher_ctx(cbio, &ctx);
        if (!ctx || EVP_CipherInit_ex(ctx, cipher.get(), nullptr, nullptr, nullptr, 0) <= 0 ||
            EVP_CIPHER_asn1_to_param(ctx, encAlg->parameter) <= 0)
            return nullptr;
        if (contentKey.size() != static_cast<uint64_t>(EVP_CIPHER_CTX_get_key_length(ctx)) &&
            (contentKey.size() > INT_MAX ||
             EVP_CIPHER_CTX_set_key_length(ctx, static_cast<int>(contentKey.size())) <= 0)) {
            ERR_raise(ERR_LIB_PKCS7, ERR_R_EVP_LIB);
            return nullptr;
        }
        if (EVP_CipherInit_ex(ctx, nullptr, nullptr, contentKey.data(), nullptr, 0) <= 0) return nullptr;
        chain.append(cipherOwner.release());
    }
    BIO *input = nullptr;
    if (detached || in) {
        input = in;
    } else if (body && body->length > 0) {
        input = BIO_new_mem_buf(body->data, body->length);
    } else {
        input = BIO_new(BIO_s_mem());
        if (input) BIO_set_mem_eof_return(input, 0);
    }
    if (!input) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_NO_CONTENT);
        return nullptr;
    }
    chain.append(input);
    return chain.release();
}
TQ_CATCH_OPENSSL(nullptr)

int tqxCrypt_PKCS7_decrypt(PKCS7 *p7, TQXCRYPT_HANDLE *key, X509 *recipient, BIO *out, int flags) try {
    if (!p7) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_INVALID_NULL_POINTER);
        return 0;
    }
    if (tq::pkcs7Type(p7) != NID_pkcs7_enveloped) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_WRONG_CONTENT_TYPE);
        return 0;
    }
    if (!p7->d.ptr) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_NO_CONTENT);
        return 0;
    }
    tq::BioPtr chain(tqx_PKCS7_dataDecode(p7, key, nullptr, recipient));
    if (!chain) {
        // A memory failure stays the newest reason.
        if (ERR_GET_REASON(tq::newestError()) != ERR_GET_REASON(ERR_R_MALLOC_FAILURE))
            ERR_raise(ERR_LIB_PKCS7, PKCS7_R_DECRYPT_ERROR);
        return 0;
    }
    if (flags & PKCS7_TEXT) {
        BIO *buffer = BIO_new(BIO_f_buffer());
        if (!buffer) {
            ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
            return 0;
        }
        BIO *top = BIO_push(buffer, chain.release());
        chain.reset(top);
        int ok = SMIME_text(top, out);
        if (ok && !cipherFinished(top)) {
            ERR_raise(ERR_LIB_PKCS7, PKCS7_R_DECRYPT_ERROR);
            return 0;
        }
        return ok;
    }
    std::vector<unsigned char> block(4096);
    for (;;) {
        int n = BIO_read(chain.get(), block.data(), static_cast<int>(block.size()));
        if (n <= 0) break;
        if (BIO_write(out, block.data(), n) != n) {
            ERR_raise(ERR_LIB_PKCS7, ERR_R_BIO_LIB);
            return 0;
        }
    }
    // A final block that fails its check means a damaged or truncated
    // envelope: what was written must not pass for the content.
    if (!cipherFinished(chain.get())) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_DECRYPT_ERROR);
        return 0;
    }
    return 1;
}
TQ_CATCH_OPENSSL(0)

PKCS7 *tqxCrypt_PKCS7_encrypt(STACK_OF(X509) *recipients, const EVP_CIPHER *cipher, const unsigned char *data,
                              unsigned int dataLength, int) try {
    if (!recipients || !cipher || (!data && dataLength) || dataLength > INT_MAX) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_INVALID_NULL_POINTER);
        return nullptr;
    }
    tq::Pkcs7Ptr p7(PKCS7_new());
    if (!p7) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
        return nullptr;
    }
    if (!PKCS7_set_type(p7.get(), NID_pkcs7_enveloped)) return nullptr;
    if (!setCipherAndRecipients(p7.get(), cipher, recipients)) return nullptr;
    tq::BioPtr chain(PKCS7_dataInit(p7.get(), nullptr));
    if (!chain) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_MALLOC_FAILURE);
        return nullptr;
    }
    if ((dataLength > 0 &&
         BIO_write(chain.get(), data, static_cast<int>(dataLength)) != static_cast<int>(dataLength)) ||
        BIO_flush(chain.get()) <= 0 || !PKCS7_dataFinal(p7.get(), chain.get())) {
        ERR_raise(ERR_LIB_PKCS7, ERR_R_INTERNAL_ERROR);
        return nullptr;
    }
    return p7.release();
}
TQ_CATCH_OPENSSL(nullptr)

PKCS7 *tqxCrypt_PKCS7_signencrypt(X509 *signer, TQXCRYPT_HANDLE *key, STACK_OF(X509) *certificates,
                                  STACK_OF(X509) *recipients, const EVP_CIPHER *cipher, BIO *data, int flags,
                                  int hashSelector) try {
    if (!signer || !key || !recipients || !cipher || !data) {
        ERR_raise(ERR_LIB_PKCS7, PKCS7_R_INVALID_NULL_POINTER);
        return nullptr;
    }
    tq::Pkcs7Building p7 = tq::pkcs7StartSigned(signer, key, NID_pkcs7_signedAndEnveloped);
    if (!p7) return nullptr;
    PKCS7_SIGNER_INFO *si = tq::pkcs7AddSigner(p7.get(), signer, key, hashSelector);
    if (!si || !tq::pkcs7AddCertificates(p7.get(), signer, certificates, flags) ||
        !setCipherAndRecipients(p7.get(), cipher, recipients))
        return nullptr;
    tq::BioPtr chain(tq::pkcs7OpenChain(p7.get()));
    if (!chain) return nullptr;
    if (!SMIME_crlf_copy(data, chain.get(), flags)) return nullptr;
    (void)BIO_flush(chain.get());
    if (!tq::pkcs7AddStandardAttributes(si, flags)) return nullptr;
    return tq::pkcs7Finish(p7, chain.get(), flags & ~PKCS7_DETACHED);
}
TQ_CATCH_OPENSSL(nullptr)

int TQXCrypt_Encrypt(TQXCRYPT_HANDLE *recipient, const unsigned char *data, uint64_t dataLength, int cipher,
                     TQXCRYPT_BLOB *out) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = tq::objectOf(recipient, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc != TQ_RTN_OK) return rc;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    TQXCryptInitialize();
    const char *name = envelopeCipherName(cipher);
    if (!name) return TQ_RTN_BAD_ARGUMENT;
    tq::EvpCipherPtr evp(EVP_CIPHER_fetch(nullptr, name, nullptr));
    if (!evp) return TQ_RTN_NOT_SUPPORTED;
    if (!tq::fitsInt(dataLength) || (!data && dataLength)) return TQ_RTN_BAD_ARGUMENT;
    tq::CertList list(sk_X509_new_null());
    if (!list || !sk_X509_push(list.get(), cert)) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    tq::Pkcs7Ptr p7(tqxCrypt_PKCS7_encrypt(list.get(), evp.get(), data, static_cast<unsigned int>(dataLength),
                                           PKCS7_BINARY));
    if (!p7) return TQ_RTN_ENCRYPT_FAILED;
    unsigned char *der = nullptr;
    int length = i2d_PKCS7(p7.get(), &der);
    tq::OsslBytes owner(der);
    if (length < 0) return TQ_RTN_BAD_FORMAT;
    return tq::putBlob(out, der, static_cast<size_t>(length));
}
TQ_CATCH_CODE

int TQXCrypt_Decrypt(TQXCRYPT_HANDLE *recipient, TQXCRYPT_HANDLE *privateKey, const unsigned char *der,
                     uint64_t derLength, int, TQXCRYPT_BLOB *out) try {
    tq::ErrorQueueScope scope;
    X509 *cert = nullptr;
    int rc = tq::objectOf(recipient, TQXCRYPT_KIND_CERTIFICATE, &cert);
    if (rc != TQ_RTN_OK) return rc;
    EVP_PKEY *keyObject = nullptr;
    if ((rc = tq::objectOf(privateKey, TQXCRYPT_KIND_PRIVATEKEY, &keyObject)) != TQ_RTN_OK) return rc;
    if (!out) return TQ_RTN_BAD_ARGUMENT;
    if (!tq::fitsInt(derLength) || (!der && derLength)) return TQ_RTN_BAD_ARGUMENT;
    TQXCryptInitialize();
    const unsigned char *p = der;
    tq::Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, static_cast<long>(derLength)));
    if (!p7) return TQ_RTN_BAD_PKCS7;
    EVP_PKEY *certKey = X509_get0_pubkey(cert);
    if (!certKey) return TQ_RTN_FAILED;
    if ((rc = tqxCheckKeyPair(privateKey, certKey)) != TQ_RTN_OK) return rc;
    tq::BioPtr plain(BIO_new(BIO_s_mem()));
    if (!plain) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    tq::clearErrors();
    if (!tqxCrypt_PKCS7_decrypt(p7.get(), privateKey, cert, plain.get(), PKCS7_BINARY))
        return decryptFailure();
    char *bytes = nullptr;
    long n = BIO_get_mem_data(plain.get(), &bytes);
    return tq::putBlob(out, bytes, n > 0 ? static_cast<size_t>(n) : 0, tq::Wipe::Source);
}
TQ_CATCH_CODE

int TQXCrypt_SignAndEncrypt(TQXCRYPT_HANDLE *signer, TQXCRYPT_HANDLE *privateKey, TQXCRYPT_HANDLE *recipient,
                            TQXCRYPT_HANDLE *store, const unsigned char *data, uint64_t dataLength, int flags,
                            int hashSelector, TQXCRYPT_BLOB *out) try {
    tq::ErrorQueueScope scope;
    TQXCRYPT_HANDLE *signedHandle = nullptr;
    int rc = TQXCrypt_Sign(signer, privateKey, store, data, dataLength,
                           flags & ~(TQXCRYPT_DETACHED | TQXCRYPT_SIGN_NOCERTS), hashSelector, &signedHandle);
    if (rc != TQ_RTN_OK) return rc;
    tq::HandlePtr message(signedHandle);
    tq::OwnedBlob encoded;
    rc = TQXCrypt_EncodeObject(signedHandle, TQXCRYPT_KIND_PKCS7, encoded.get(), 0, nullptr);
    if (rc != TQ_RTN_OK) return rc;
    return TQXCrypt_Encrypt(recipient, encoded.data(), encoded.size(), flags, out);
}
TQ_CATCH_CODE

int TQXCrypt_DecryptAndVerify(TQXCRYPT_HANDLE *store, TQXCRYPT_HANDLE *recipient, TQXCRYPT_HANDLE *privateKey,
                              const unsigned char *der, uint64_t derLength, int, int flags,
                              TQXCRYPT_BLOB *content, TQXCRYPT_HANDLE **signerCertificate) try {
    tq::ErrorQueueScope scope;
    tq::SecretBlob decrypted;
    int rc = TQXCrypt_Decrypt(recipient, privateKey, der, derLength, 0, decrypted.get());
    if (rc != TQ_RTN_OK) return rc;
    TQXCRYPT_HANDLE *message = nullptr;
    rc = TQXCrypt_DecodeObject(&message, TQXCRYPT_KIND_PKCS7, decrypted.data(), decrypted.size(), 0, nullptr);
    if (rc != TQ_RTN_OK) return rc;
    tq::HandlePtr owner(message);
    rc = TQXCrypt_Verify(store, message, nullptr, 0, nullptr, 0, flags, 0, nullptr, signerCertificate);
    if (rc != TQ_RTN_OK) return rc;
    rc = TQXCrypt_PKCS7GetContent(message, content);
    if (rc != TQ_RTN_OK && signerCertificate) {
        TQXCryptFreeHandle(*signerCertificate);
        *signerCertificate = nullptr;
    }
    return rc;
}
TQ_CATCH_CODE

}  // extern "C"

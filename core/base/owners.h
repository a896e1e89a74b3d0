// The one owner of each OpenSSL object, stack and buffer the crypto core
// holds: whatever path leaves a function, what it owns is released once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/param_build.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include "tqxcrypt.h"
#include "wiping.h"

// OpenSSL declares no stack of keys; PKCS#12 contents keep one.
DEFINE_STACK_OF(EVP_PKEY)

namespace tq {

template <auto FreeFn>
struct OsslDeleter {
    template <class T>
    void operator()(T *p) const {
        FreeFn(p);
    }
};
template <class T, auto FreeFn>
using OsslPtr = std::unique_ptr<T, OsslDeleter<FreeFn>>;

// Objects.
using AkidPtr = OsslPtr<AUTHORITY_KEYID, AUTHORITY_KEYID_free>;
using BasicConstraintsPtr = OsslPtr<BASIC_CONSTRAINTS, BASIC_CONSTRAINTS_free>;
using CrlDistPointsPtr = OsslPtr<CRL_DIST_POINTS, CRL_DIST_POINTS_free>;
using Asn1BitStringPtr = OsslPtr<ASN1_BIT_STRING, ASN1_BIT_STRING_free>;
using Asn1EnumeratedPtr = OsslPtr<ASN1_ENUMERATED, ASN1_ENUMERATED_free>;
using Asn1IntegerPtr = OsslPtr<ASN1_INTEGER, ASN1_INTEGER_free>;
using Asn1ObjectPtr = OsslPtr<ASN1_OBJECT, ASN1_OBJECT_free>;
using Asn1OctetStringPtr = OsslPtr<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>;
using Asn1StringPtr = OsslPtr<ASN1_STRING, ASN1_STRING_free>;
using Asn1TimePtr = OsslPtr<ASN1_TIME, ASN1_TIME_free>;
using Asn1TypePtr = OsslPtr<ASN1_TYPE, ASN1_TYPE_free>;
using BioPtr = OsslPtr<BIO, BIO_free_all>;
using BnCtxPtr = OsslPtr<BN_CTX, BN_CTX_free>;
using BnPtr = OsslPtr<BIGNUM, BN_clear_free>;  // may hold a secret
using EvpCipherCtxPtr = OsslPtr<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;
using EvpCipherPtr = OsslPtr<EVP_CIPHER, EVP_CIPHER_free>;
using EvpMdCtxPtr = OsslPtr<EVP_MD_CTX, EVP_MD_CTX_free>;
using EvpMdPtr = OsslPtr<EVP_MD, EVP_MD_free>;
using EvpPkeyCtxPtr = OsslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using EvpPkeyPtr = OsslPtr<EVP_PKEY, EVP_PKEY_free>;
using GeneralNamePtr = OsslPtr<GENERAL_NAME, GENERAL_NAME_free>;
using GeneralNamesPtr = OsslPtr<GENERAL_NAMES, GENERAL_NAMES_free>;
using OcspBasicRespPtr = OsslPtr<OCSP_BASICRESP, OCSP_BASICRESP_free>;
using OcspCertIdPtr = OsslPtr<OCSP_CERTID, OCSP_CERTID_free>;
using OcspRequestPtr = OsslPtr<OCSP_REQUEST, OCSP_REQUEST_free>;
using OcspResponsePtr = OsslPtr<OCSP_RESPONSE, OCSP_RESPONSE_free>;
using OsslParamBldPtr = OsslPtr<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>;
using OsslParamPtr = OsslPtr<OSSL_PARAM, OSSL_PARAM_free>;
using Pkcs12Ptr = OsslPtr<PKCS12, PKCS12_free>;
using Pkcs7Ptr = OsslPtr<PKCS7, PKCS7_free>;
using Pkcs8InfoPtr = OsslPtr<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>;
using SslCtxPtr = OsslPtr<SSL_CTX, SSL_CTX_free>;
using SslPtr = OsslPtr<SSL, SSL_free>;
using X509AlgorPtr = OsslPtr<X509_ALGOR, X509_ALGOR_free>;
using X509CrlPtr = OsslPtr<X509_CRL, X509_CRL_free>;
using X509ExtensionPtr = OsslPtr<X509_EXTENSION, X509_EXTENSION_free>;
using X509NamePtr = OsslPtr<X509_NAME, X509_NAME_free>;
using X509ObjectPtr = OsslPtr<X509_OBJECT, X509_OBJECT_free>;
using X509Ptr = OsslPtr<X509, X509_free>;
using X509ReqPtr = OsslPtr<X509_REQ, X509_REQ_free>;
using X509RevokedPtr = OsslPtr<X509_REVOKED, X509_REVOKED_free>;
using X509SigPtr = OsslPtr<X509_SIG, X509_SIG_free>;
using X509StoreCtxPtr = OsslPtr<X509_STORE_CTX, X509_STORE_CTX_free>;
using X509StorePtr = OsslPtr<X509_STORE, X509_STORE_free>;

#ifdef OPENSSL_SUPPRESS_DEPRECATED
// Only the sources that work on RSA objects themselves (key methods) see it.
using RsaPtr = OsslPtr<RSA, RSA_free>;
#endif

// Stacks of certificates: one that owns its certificates, one that only
// borrows them.
struct CertStackFree {
    void operator()(STACK_OF(X509) *s) const { sk_X509_pop_free(s, X509_free); }
};
struct CertListFree {
    void operator()(STACK_OF(X509) *s) const { sk_X509_free(s); }
};
using CertStack = std::unique_ptr<STACK_OF(X509), CertStackFree>;
using CertList = std::unique_ptr<STACK_OF(X509), CertListFree>;

// A stack of algorithm identifiers that owns them (S/MIME capabilities).
struct AlgorStackFree {
    void operator()(STACK_OF(X509_ALGOR) *s) const { sk_X509_ALGOR_pop_free(s, X509_ALGOR_free); }
};
using AlgorStack = std::unique_ptr<STACK_OF(X509_ALGOR), AlgorStackFree>;

// Owning stacks of object identifiers (purpose lists) and of the name:value
// pairs of the library's list reader.
struct ObjectStackFree {
    void operator()(STACK_OF(ASN1_OBJECT) *s) const { sk_ASN1_OBJECT_pop_free(s, ASN1_OBJECT_free); }
};
struct ConfValueStackFree {
    void operator()(STACK_OF(CONF_VALUE) *s) const { sk_CONF_VALUE_pop_free(s, X509V3_conf_free); }
};
using ObjectStack = std::unique_ptr<STACK_OF(ASN1_OBJECT), ObjectStackFree>;
using ConfValueStack = std::unique_ptr<STACK_OF(CONF_VALUE), ConfValueStackFree>;

// Owning stacks of keys, PKCS#7 contents and PKCS#12 safe bags.
struct KeyStackFree {
    void operator()(STACK_OF(EVP_PKEY) *s) const { sk_EVP_PKEY_pop_free(s, EVP_PKEY_free); }
};
struct Pkcs7StackFree {
    void operator()(STACK_OF(PKCS7) *s) const { sk_PKCS7_pop_free(s, PKCS7_free); }
};
struct SafeBagStackFree {
    void operator()(STACK_OF(PKCS12_SAFEBAG) *s) const { sk_PKCS12_SAFEBAG_pop_free(s, PKCS12_SAFEBAG_free); }
};
using KeyStack = std::unique_ptr<STACK_OF(EVP_PKEY), KeyStackFree>;
using Pkcs7Stack = std::unique_ptr<STACK_OF(PKCS7), Pkcs7StackFree>;
using SafeBagStack = std::unique_ptr<STACK_OF(PKCS12_SAFEBAG), SafeBagStackFree>;

// Memory that OpenSSL allocated for us (i2d output, texts).
struct OsslFree {
    void operator()(void *p) const { OPENSSL_free(p); }
};
using OsslBytes = std::unique_ptr<unsigned char, OsslFree>;
using OsslText = std::unique_ptr<char, OsslFree>;

// A buffer from the library allocator.
struct TqMemFree {
    void operator()(void *p) const { TQCryptMemFree(p); }
};
using TqMem = std::unique_ptr<unsigned char[], TqMemFree>;
inline TqMem tqAlloc(size_t n) { return TqMem(static_cast<unsigned char *>(TQCryptMemAlloc(n))); }
// The same for bytes that may hold a secret: wiped before they are freed.
using SecretMem = Wiped<TQCryptMemFree>;
inline SecretMem secretAlloc(size_t n) noexcept { return SecretMem(TQCryptMemAlloc(n), n); }

// The library allocator for standard containers, so that the host's hooks
// see what they hold; out of memory it throws, as the default one does, and
// the exported call's handler answers 5002.
template <class T>
struct LibraryAllocator {
    using value_type = T;
    LibraryAllocator() = default;
    template <class U>
    LibraryAllocator(const LibraryAllocator<U> &) noexcept {}
    T *allocate(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
        // Never zero bytes: a hook may answer those with null.
        void *p = TQCryptMemAlloc(n ? n * sizeof(T) : 1);
        if (!p) throw std::bad_alloc();
        return static_cast<T *>(p);
    }
    void deallocate(T *p, size_t) noexcept { TQCryptMemFree(p); }
    template <class U>
    bool operator==(const LibraryAllocator<U> &) const noexcept {
        return true;
    }
    template <class U>
    bool operator!=(const LibraryAllocator<U> &) const noexcept {
        return false;
    }
};

// Bytes that may hold key material or a PIN: wiped before they are released.
class SecureBytes {
public:
    SecureBytes() = default;
    explicit SecureBytes(size_t n) : bytes_(n) {}
    SecureBytes(const void *data, size_t n)
        : bytes_(static_cast<const unsigned char *>(data), static_cast<const unsigned char *>(data) + n) {}
    SecureBytes(const SecureBytes &) = delete;
    SecureBytes &operator=(const SecureBytes &) = delete;
    SecureBytes(SecureBytes &&other) noexcept : bytes_(std::move(other.bytes_)) {}
    ~SecureBytes() { wipeAll(); }

    unsigned char *data() { return bytes_.data(); }
    const unsigned char *data() const { return bytes_.data(); }
    size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    // Resizing never leaves a copy behind: the old bytes are wiped first.
    void resize(size_t n) {
        if (n <= bytes_.capacity()) {
            if (n < bytes_.size()) wipe(bytes_.data() + n, bytes_.size() - n);
            bytes_.resize(n);
            return;
        }
        Storage bigger(n);
        if (!bytes_.empty()) std::memcpy(bigger.data(), bytes_.data(), bytes_.size());
        wipeAll();
        bytes_.swap(bigger);
    }
    void assign(const void *data, size_t n) {
        resize(0);
        resize(n);
        if (n) std::memcpy(bytes_.data(), data, n);
    }

private:
    using Storage = std::vector<unsigned char, LibraryAllocator<unsigned char>>;
    void wipeAll() noexcept { wipe(bytes_.data(), bytes_.size()); }
    Storage bytes_;
};

// A handle owned until it is handed to the caller.
struct HandleFree {
    void operator()(TQXCRYPT_HANDLE *h) const { TQXCryptFreeHandle(h); }
};
using HandlePtr = std::unique_ptr<TQXCRYPT_HANDLE, HandleFree>;

// A blob the library allocated for us, released with its owner.
class OwnedBlob {
public:
    OwnedBlob() = default;
    OwnedBlob(const OwnedBlob &) = delete;
    OwnedBlob &operator=(const OwnedBlob &) = delete;
    ~OwnedBlob() { TQXCryptFreeBlob(&blob_); }
    TQXCRYPT_BLOB *get() { return &blob_; }
    const unsigned char *data() const { return blob_.data; }
    size_t size() const { return static_cast<size_t>(blob_.length); }
    // Hands the bytes to the caller, who frees them.
    unsigned char *release() {
        unsigned char *data = blob_.data;
        blob_ = TQXCRYPT_BLOB{0, nullptr};
        return data;
    }

private:
    TQXCRYPT_BLOB blob_{0, nullptr};
};

// The same for a blob that holds a secret (a content key, decrypted data):
// its bytes are wiped before it is released.
class SecretBlob : public OwnedBlob {
public:
    SecretBlob() = default;
    ~SecretBlob() { wipe(get()->data, size()); }
};

}  // namespace tq

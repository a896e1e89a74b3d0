// Helpers shared between the sources of the crypto core; not exported.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "tqxcrypt.h"

// OpenSSL declares no stack of keys; PKCS#12 contents keep one.
DEFINE_STACK_OF(EVP_PKEY)

// One RAII owner per OpenSSL object: unique_ptr with the object's free routine.
template <auto FreeFn>
struct OsslDeleter {
    template <class T>
    void operator()(T *p) const {
        FreeFn(p);
    }
};
template <class T, auto FreeFn>
using OsslPtr = std::unique_ptr<T, OsslDeleter<FreeFn>>;

using BioPtr = OsslPtr<BIO, BIO_free_all>;
using X509Ptr = OsslPtr<X509, X509_free>;
using X509ReqPtr = OsslPtr<X509_REQ, X509_REQ_free>;
using X509CrlPtr = OsslPtr<X509_CRL, X509_CRL_free>;
using EvpPkeyPtr = OsslPtr<EVP_PKEY, EVP_PKEY_free>;
using Pkcs7Ptr = OsslPtr<PKCS7, PKCS7_free>;
using EvpCipherPtr = OsslPtr<EVP_CIPHER, EVP_CIPHER_free>;
using EvpMdPtr = OsslPtr<EVP_MD, EVP_MD_free>;
using EvpMdCtxPtr = OsslPtr<EVP_MD_CTX, EVP_MD_CTX_free>;

// A buffer from the library allocator.
struct TqMemDeleter {
    void operator()(void *p) const { TQCryptMemFree(p); }
};
using TqMem = std::unique_ptr<unsigned char[], TqMemDeleter>;
inline TqMem tqAlloc(size_t n) { return TqMem(static_cast<unsigned char *>(TQCryptMemAlloc(n))); }

// A handle owned until it is handed to the caller.
struct TqHandleDeleter {
    void operator()(TQXCRYPT_HANDLE *h) const { TQXCryptFreeHandle(h); }
};
using TqHandlePtr = std::unique_ptr<TQXCRYPT_HANDLE, TqHandleDeleter>;

// Reads bytes in order and cannot step past its end: every hand-written
// parser of the core goes through it.
class ByteCursor {
public:
    ByteCursor() = default;
    ByteCursor(const void *data, size_t length)
        : p_(static_cast<const unsigned char *>(data)), n_(data ? length : 0) {}

    size_t remaining() const { return n_ - pos_; }
    bool empty() const { return pos_ >= n_; }
    size_t position() const { return pos_; }
    const unsigned char *here() const { return p_ + pos_; }

    // The next byte, or -1 at the end.
    int peek() const { return empty() ? -1 : p_[pos_]; }
    int next() { return empty() ? -1 : p_[pos_++]; }
    bool skip(size_t n) {
        if (n > remaining()) return false;
        pos_ += n;
        return true;
    }
    bool startsWith(const void *text, size_t length) const {
        return length <= remaining() && std::memcmp(here(), text, length) == 0;
    }
    // Offset of the next occurrence of c from here, or SIZE_MAX.
    size_t find(unsigned char c) const {
        if (empty()) return SIZE_MAX;
        const void *hit = std::memchr(here(), c, remaining());
        return hit ? static_cast<size_t>(static_cast<const unsigned char *>(hit) - here()) : SIZE_MAX;
    }
    // The first n bytes from here as a cursor of their own.
    ByteCursor take(size_t n) const { return ByteCursor(here(), n < remaining() ? n : remaining()); }
    // Drops bytes at the end while pred holds.
    template <class Pred>
    void trimEnd(Pred pred) {
        while (n_ > pos_ && pred(p_[n_ - 1])) --n_;
    }
    int last() const { return empty() ? -1 : p_[n_ - 1]; }

private:
    const unsigned char *p_ = nullptr;
    size_t n_ = 0;
    size_t pos_ = 0;
};

// OpenSSL takes int lengths: anything else is refused, never truncated.
inline bool tqFitsInt(uint64_t length) { return length <= static_cast<uint64_t>(INT_MAX); }

extern "C" {
int tqxCryptAssignBlob(TQXCRYPT_BLOB *blob, const void *bytes, int count);
char *tqxstrdup(const char *text);
uint32_t tqxhtonl(uint32_t value);
uint32_t tqxntohl(uint32_t value);
unsigned long ERR_get_last_error(void);

int tqbase64_encode(const unsigned char *data, int length, char **text, int *textLength);
int tqbase64_encode_ex(const unsigned char *data, int length, char **text, int *textLength);
int tqbase64_decode(const char *text, int length, unsigned char **data, int *dataLength);

int tqcrypt_passwd_cb(char *buffer, int size, int rwflag, void *password);
void tqxCryptFreeP12List(TQXCRYPT_P12_CONTENTS *contents);
}

// Hands a finished result out by the blob rule: allocated (with a NUL after
// it) when the blob has no buffer, else copied when it fits; 5003 with the
// needed length otherwise.
int tqxCryptPutBlob(TQXCRYPT_BLOB *out, const void *bytes, size_t count);

// The object of a handle of `kind` whose method table is `method` (null: the
// handle must have none). Kinds 10 and 11 each name two objects; this check
// keeps one from being taken for the other.
int tqxCryptGetHandleOf(void **object, TQXCRYPT_HANDLE *handle, int kind, const TQXCRYPT_ASN1_METHOD *method);

using tqI2d = int (*)(const void *object, unsigned char **out);
using tqD2i = void *(*)(void **object, const unsigned char **in, long length);

// Common DER/text encoder and decoder behind the method tables.
int tqxCrypt_ASN1_Encode(const void *object, tqI2d i2d, int text, const char *label, TQXCRYPT_BLOB *out);
int tqxCrypt_ASN1_Decode(void **object, const unsigned char *data, size_t length, tqD2i d2i, int text,
                         const char *labels);

// Helpers shared between the sources of the crypto core; not exported.
#pragma once

#include <pthread.h>

#include <cctype>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ocsp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "tqxcrypt.h"

#include "boundary.h"
#include "cursor.h"
#include "owners.h"

extern "C" {
int tqxCryptAssignBlob(TQXCRYPT_BLOB *blob, const void *bytes, int count);
char *tqxstrdup(const char *text);
uint32_t tqxhtonl(uint32_t value);
uint32_t tqxntohl(uint32_t value);
unsigned long ERR_get_last_error(void);
}

namespace tq {

// A routine in OpenSSL's style (1 or 0, a pointer or null, reasons queued)
// that runs out of memory queues OpenSSL's reason for it, which the callers
// that map reasons turn into 5002.
inline void queueOutOfMemory() noexcept { ERR_raise(ERR_LIB_CRYPTO, ERR_R_MALLOC_FAILURE); }

// The one text writer: a text handed to a caller, `length` chars and a NUL
// after them, from the library allocator. newText leaves the chars to its
// caller to fill (null when the allocator refuses); putText copies them
// into `*out`, or answers 5002 and leaves it as it was.
char *newText(size_t length) noexcept;
int putText(const char *bytes, size_t length, char **out) noexcept;

}  // namespace tq

// The handler of such a routine (boundary.h), answering `failure`.
#define TQ_CATCH_OPENSSL(failure) TQ_CATCH_RETURN((::tq::queueOutOfMemory(), failure))

namespace tq {

// White space as isspace classifies it; -1 (the end of a cursor) is none.
inline bool isSpace(int c) { return c >= 0 && std::isspace(c); }

// What the blob writer does with the bytes it was given once it has copied
// them (or refused to): a secret's source is wiped.
enum class Wipe { Keep, Source };

// What a caller's buffer that is too small learns: the needed length, or (the
// exceptions of the blob rule: RSA key components, tqxCryptAssignBlob and
// what fills through it) nothing, its length stays as the caller set it.
enum class Shortfall { ReportNeeded, KeepLength };

// The one blob writer: hands a finished result out by the blob rule. A blob
// without a buffer gets one from the library allocator, with a NUL after the
// bytes; a buffer that holds them gets a copy; a smaller one 5003 with the
// needed length. With Wipe::Source the (writable) source is cleansed after.
int putBlob(TQXCRYPT_BLOB *out, const void *bytes, size_t count, Wipe wipe = Wipe::Keep,
            Shortfall shortfall = Shortfall::ReportNeeded);

// Whether a value can be a live handle: not below the lowest address of a
// record (null included) and sealed by the constructor, so that a code or a
// record of another kind (a token session, an object list) is never read as
// a handle. Every read of a handle goes through it or the access below.
bool isHandle(const TQXCRYPT_HANDLE *handle);

// The kinds a place takes: one, either of two (a key of either kind), or
// any kind (where the handle's table decides).
class Kinds {
public:
    constexpr Kinds(int kind) : first_(kind), second_(kind) {}
    constexpr Kinds(int first, int second) : first_(first), second_(second) {}
    static constexpr Kinds any() { return Kinds(); }
    constexpr bool has(int kind) const { return any_ || kind == first_ || kind == second_; }

private:
    constexpr Kinds() : first_(0), second_(0), any_(true) {}
    int first_, second_;
    bool any_ = false;
};

// Kinds 6 and 7: the only handles whose object is a key.
constexpr Kinds kEitherKey{TQXCRYPT_KIND_PRIVATEKEY, TQXCRYPT_KIND_PUBLICKEY};

// Whether a place may be left without a handle: null or a handle without an
// object is then none (a null object, 0); any other value is checked.
enum class Presence { Required, Optional };

// Typed handle access, in the order every operation answers: a value that is
// no handle (isHandle) or a handle without an object 5005, a handle of
// another kind 5006. Kinds 10 and 11 each name two objects: the form with a
// method table also requires that table (null: none), so one object is never
// taken for the other.
int handleObject(const TQXCRYPT_HANDLE *handle, Kinds kinds, Presence presence, void **object);
int handleObject(const TQXCRYPT_HANDLE *handle, int kind, const TQXCRYPT_ASN1_METHOD *method,
                 Presence presence, void **object);
template <class T>
int objectOf(const TQXCRYPT_HANDLE *handle, Kinds kinds, T **object, Presence presence = Presence::Required) {
    void *raw = nullptr;
    int rc = handleObject(handle, kinds, presence, &raw);
    if (rc == TQ_RTN_OK) *object = static_cast<T *>(raw);
    return rc;
}
template <class T>
int objectOf(const TQXCRYPT_HANDLE *handle, int kind, const TQXCRYPT_ASN1_METHOD *method, T **object,
             Presence presence = Presence::Required) {
    void *raw = nullptr;
    int rc = handleObject(handle, kind, method, presence, &raw);
    if (rc == TQ_RTN_OK) *object = static_cast<T *>(raw);
    return rc;
}

// Opened at the top of an exported operation that answers with a result
// code: whatever OpenSSL queues beneath it (reasons the operation has turned
// into its code) is taken off again when it ends, so the calling thread finds
// its error queue as it left it, its own marks included. The caller's entries
// stay in place beneath a mark on its newest one; scopes nest, one for each
// exported operation an operation calls. Read the reason before it ends.
class ErrorQueueScope {
public:
    ErrorQueueScope();
    ~ErrorQueueScope();
    ErrorQueueScope(const ErrorQueueScope &) = delete;
    ErrorQueueScope &operator=(const ErrorQueueScope &) = delete;

private:
    friend unsigned long newestError();
    friend void clearErrors();
    // Where an entry stands in the queue, as far as OpenSSL lets it be seen.
    struct Entry {
        unsigned long code = 0;
        const char *file = nullptr, *func = nullptr, *data = nullptr;
        int line = 0, flags = 0;
        bool operator==(const Entry &o) const;
    };
    static Entry newestEntry();
    ErrorQueueScope *outer_;
    bool marked_;  // false when the queue was empty
    Entry callersNewest_;
};

// The newest entry the running operation queued (beneath the innermost
// scope), 0 when it queued none: the reason it turns into its result code.
unsigned long newestError();

// What a caller answers when a reader of DN or general-name text gives null:
// 5002 when it ran out of memory (the operation's newest reason says so, not
// one the caller left), else 5045.
inline int unreadText() {
    return ERR_GET_REASON(newestError()) == ERR_GET_REASON(ERR_R_MALLOC_FAILURE) ? TQ_RTN_MEMORY_ALLOCATE_FAIL
                                                                                 : TQ_RTN_BAD_FORMAT;
}

// Takes off what the running operation has queued so far, leaving the
// caller's entries; outside every operation (a host freeing a handle), the
// whole queue.
void clearErrors();

// Every signal stays blocked in the calling thread while it lives, and so in
// the threads started meanwhile: the host's signals are not for a thread of
// ours, and one such a thread's work raises (SIGPIPE) ends with it.
class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous_);
    }
    ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalsBlocked(const SignalsBlocked &) = delete;
    SignalsBlocked &operator=(const SignalsBlocked &) = delete;

private:
    sigset_t previous_;
};

// Runs work on a thread of its own, with an error queue of its own, for
// OpenSSL code that empties the calling thread's queue (libssl does at every
// handshake and record step). The thread blocks every signal. False when
// no thread could be started.
bool onOwnErrorQueue(void (*work)(void *), void *context);

// OpenSSL takes int lengths: anything else is refused, never truncated.
inline bool fitsInt(uint64_t length) { return length <= static_cast<uint64_t>(INT_MAX); }

}  // namespace tq

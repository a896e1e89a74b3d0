// Token secret keys named by label: generating, storing and reading them,
// wrapping and unwrapping, and the one-call ciphers and MACs.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "bridge_internal.h"
#include "token_access.h"
#include "tqp11secret.h"

namespace {

// A secret-key record whose value record lives with it.
struct KeyRecord {
    TQXP11_OBJECT object;
    TQXP11_VALUE value{};
    KeyRecord(const char *label, CK_ULONG kind, int isPrivate)
        : object(tqbridge::labelRecord(label, kind, isPrivate)) {
        object.valueRecord = &value;
    }
    KeyRecord(const KeyRecord &) = delete;
    KeyRecord &operator=(const KeyRecord &) = delete;
    // The label as CKA_ID, as for every key made here.
    void identifyByLabel() { value.first = tqbridge::labelBytes(object); }
};

bool secretKind(CK_ULONG kind) {
    CK_OBJECT_CLASS cls = 0;
    return tqaccess::classOfKind(kind, &cls) && cls == CKO_SECRET_KEY;
}

// A read secret record's key bytes are wiped before the record goes.
void releaseSecret(TQXP11_OBJECT &record) {
    if (record.valueRecord && secretKind(record.kind)) {
        TQXP11_BYTES &key = record.valueRecord->secret.value;
        tq::wipe(key.data, key.length);
    }
    TQXP11_FreeObject(&record);
}

// A key read by label: the record the reader filled, released with the call.
struct ReadKey {
    TQXP11_OBJECT object;
    ReadKey(const char *label, int kind, int isPrivate)
        : object(tqbridge::labelRecord(label, static_cast<CK_ULONG>(kind), isPrivate)) {}
    ~ReadKey() { releaseSecret(object); }
    ReadKey(const ReadKey &) = delete;
    ReadKey &operator=(const ReadKey &) = delete;
};

CK_ULONG modeCode(int mode) { return static_cast<CK_ULONG>(static_cast<long>(mode)); }

bool paddedMode(CK_ULONG kind, CK_ULONG mode) {
    return kind != TQXP11_KIND_RC4 && (mode == TQXP11_MODE_DES_CBC_PAD || mode == TQXP11_MODE_DES3_CBC_PAD ||
                                       mode == TQXP11_MODE_AES_CBC_PAD);
}

CK_ULONG blockOf(CK_ULONG kind) { return kind == TQXP11_KIND_AES ? 16 : 8; }

// Output the module claims beyond the room it was given is not believed.
constexpr int kOverrun = TQP11_RTN_BUFFER_TOO_SMALL;

struct Direction {
    int (*init)(TQXP11_SESSION *, CK_ULONG, TQXP11_OBJECT *);
    int (*update)(TQXP11_SESSION *, const unsigned char *, CK_ULONG, unsigned char *, CK_ULONG *);
    int (*final)(TQXP11_SESSION *, unsigned char *, CK_ULONG *);
};
const Direction kEncrypt{TQXP11_EncryptInit, TQXP11_EncryptUpdate, TQXP11_EncryptFinal};
const Direction kDecrypt{TQXP11_DecryptInit, TQXP11_DecryptUpdate, TQXP11_DecryptFinal};

// An update or final that failed may leave the operation running (a
// too-small buffer does); a final into room of our own ends it, so the next
// operation on the session can start.
void endOperation(TQXP11_SESSION *session, const Direction &d) {
    unsigned char scratch[64];
    CK_ULONG room = sizeof scratch;
    int rc = d.final(session, scratch, &room);
    tq::wipe(scratch, sizeof scratch);
    constexpr CK_ULONG kLargest = 1 << 20;
    if (rc != TQP11_RTN_BUFFER_TOO_SMALL || room <= sizeof scratch || room > kLargest) return;
    // The token said how much it still holds.
    const tq::Wiped<tq::systemFree> more = tq::scratch(room);
    if (more) d.final(session, more.get(), &room);
}

// One complete token operation into `buffer` of `size` bytes: the update
// gets `updateRoom` of them, the final the room the update left.
int runOnce(TQXP11_SESSION *session, const Direction &d, CK_ULONG mode, TQXP11_OBJECT *key, const void *data,
            CK_ULONG length, unsigned char *buffer, CK_ULONG updateRoom, CK_ULONG size, CK_ULONG *total) {
    int rc = d.init(session, mode, key);
    if (rc != TQ_RTN_OK) return rc;
    // Empty data is still data: a module may refuse a null pointer.
    static const unsigned char kNothing = 0;
    const auto *in = length ? static_cast<const unsigned char *>(data) : &kNothing;
    CK_ULONG updated = updateRoom;
    rc = d.update(session, in, length, buffer, &updated);
    if (rc == TQ_RTN_OK && updated > updateRoom) rc = kOverrun;
    CK_ULONG finished = 0;
    if (rc == TQ_RTN_OK) {
        finished = size - updated;
        CK_ULONG room = finished;
        rc = d.final(session, buffer + updated, &finished);
        if (rc == TQ_RTN_OK && finished > room) rc = kOverrun;
    }
    if (rc != TQ_RTN_OK) {
        endOperation(session, d);
        return rc;
    }
    *total = updated + finished;
    return TQ_RTN_OK;
}

bool dataGiven(const void *data, CK_ULONG length) { return data || !length; }

// The caller's area holds length + 16 bytes.
int encryptInto(TQXP11_SESSION *session, KeyRecord &key, const void *data, CK_ULONG length, int mode,
                unsigned char *out, CK_ULONG *outLength) {
    constexpr CK_ULONG kTail = 16;
    if (!dataGiven(data, length) || !out || !outLength || length > ULONG_MAX - kTail)
        return TQ_RTN_BAD_ARGUMENT;
    key.value.secret.iv = tqbridge::zeroIv(key.object.kind);
    CK_ULONG total = 0;
    int rc = runOnce(session, kEncrypt, modeCode(mode), &key.object, data, length, out, length,
                     length + kTail, &total);
    if (rc == TQ_RTN_OK) *outLength = total;
    return rc;
}

// The MAC's key record: the IV text's characters, or the kind's zero IV.
void macIv(KeyRecord &key, const char *iv) {
    key.value.secret.iv =
        iv ? TQXP11_BYTES{reinterpret_cast<unsigned char *>(const_cast<char *>(iv)), std::strlen(iv)}
           : tqbridge::zeroIv(key.object.kind);
}

bool namedKeyArguments(TQXP11_SESSION *session, const char *label) {
    return session && label && tqbridge::labelFits(label);
}

}  // namespace

extern "C" {

TQ_API int TQXP11_GenerateSymKey(TQXP11_SESSION *session, const char *label, int isPrivate, int kind,
                                 int flags, CK_OBJECT_HANDLE *handle) try {
    if (!session || !label || !handle) return TQ_RTN_BAD_ARGUMENT;
    // An RC4 key gets the token layer's default length: no value is given.
    KeyRecord key(label, static_cast<CK_ULONG>(kind), isPrivate);
    key.identifyByLabel();
    int rc = TQXP11_GenerateKeyObject(session, &key.object, flags);
    if (rc == TQ_RTN_OK) *handle = key.object.handle;
    return rc;
}
TQ_CATCH_CODE

TQ_API int TQP11_WriteSymKeyObject(TQXP11_SESSION *session, const char *label, int kind, int isPrivate,
                                   const void *value, CK_ULONG length, int flags) try {
    if (!session || !label || !dataGiven(value, length)) return TQ_RTN_BAD_ARGUMENT;
    // The writer sets DES parity in the bytes it is given: a copy of ours.
    tq::SecureBytes bytes(value, length);
    KeyRecord key(label, static_cast<CK_ULONG>(kind), isPrivate);
    key.identifyByLabel();
    key.value.secret.value = TQXP11_BYTES{bytes.data(), length};
    return TQXP11_WriteSymmetricKeyObject(session, &key.object, flags);
}
TQ_CATCH_CODE

TQ_API int TQP11_ReadSymKeyObject(TQXP11_SESSION *session, const char *label, int kind, int isPrivate, int,
                                  unsigned char **value, CK_ULONG *length) try {
    if (!session || !label || !value || !length) return TQ_RTN_BAD_ARGUMENT;
    *value = nullptr;
    *length = 0;
    ReadKey key(label, kind, isPrivate);
    // Another kind's value record holds no key value to hand out.
    if (!secretKind(key.object.kind)) return TQP11_RTN_FUNCTION_NOT_SUPPORTED;
    int rc = TQXP11_ReadObject(session, &key.object);
    if (rc != TQ_RTN_OK) return rc;
    // A sensitive key's value was not read: it hands out nothing but the NUL.
    return tqbridge::handOut(key.object.valueRecord->secret.value, value, length);
}
TQ_CATCH_CODE

TQ_API int TQP11_GetKeyHandle(TQXP11_SESSION *session, const char *label, int kind, int isPrivate, int,
                              CK_OBJECT_HANDLE *handle) try {
    if (!session || !label || !handle) return TQ_RTN_BAD_ARGUMENT;
    ReadKey key(label, kind, isPrivate);
    int rc = TQXP11_ReadObject(session, &key.object);
    if (rc == TQ_RTN_OK) *handle = key.object.handle;
    return rc;
}
TQ_CATCH_CODE

TQ_API int TQP11_WrapKey(TQXP11_SESSION *session, const char *keyLabel, int keyKind,
                         const char *wrappingLabel, int wrappingKind, int, void *wrapped,
                         CK_ULONG *wrappedLength, CK_ULONG mode) try {
    if (!session || !keyLabel || !wrappingLabel || !wrappedLength) return TQ_RTN_BAD_ARGUMENT;
    KeyRecord wrapping(wrappingLabel, static_cast<CK_ULONG>(wrappingKind), 1);
    wrapping.value.secret.iv = tqbridge::zeroIv(wrapping.object.kind);
    TQXP11_OBJECT key = tqbridge::labelRecord(keyLabel, static_cast<CK_ULONG>(keyKind), 1);
    return TQXP11_Wrap(session, &wrapping.object, &key, static_cast<unsigned char *>(wrapped), wrappedLength,
                       mode);
}
TQ_CATCH_CODE

TQ_API int TQP11_UnWrapKey(TQXP11_SESSION *session, const char *unwrappingLabel, int unwrappingKind,
                           const void *wrapped, CK_ULONG wrappedLength, const char *newLabel, int newKind,
                           int flags, CK_ULONG mode) try {
    if (!session || !unwrappingLabel || !newLabel || !dataGiven(wrapped, wrappedLength))
        return TQ_RTN_BAD_ARGUMENT;
    KeyRecord unwrapping(unwrappingLabel, static_cast<CK_ULONG>(unwrappingKind), 1);
    unwrapping.value.secret.iv = tqbridge::zeroIv(unwrapping.object.kind);
    // The ID leads the value record of an RSA private key as of a secret key.
    KeyRecord key(newLabel, static_cast<CK_ULONG>(newKind), 1);
    key.identifyByLabel();
    return TQXP11_Unwrap(session, &unwrapping.object, static_cast<const unsigned char *>(wrapped),
                         wrappedLength, &key.object, flags, mode);
}
TQ_CATCH_CODE

TQ_API int TQP11_SymEncrypt(TQXP11_SESSION *session, const char *label, int kind, int, const void *data,
                            CK_ULONG length, int mode, unsigned char *out, CK_ULONG *outLength) try {
    if (!namedKeyArguments(session, label)) return TQ_RTN_BAD_ARGUMENT;
    KeyRecord key(label, static_cast<CK_ULONG>(kind), 1);
    return encryptInto(session, key, data, length, mode, out, outLength);
}
TQ_CATCH_CODE

TQ_API int TQP11_SymEncryptByHandle(TQXP11_SESSION *session, CK_OBJECT_HANDLE handle, int kind, int,
                                    const void *data, CK_ULONG length, int mode, unsigned char *out,
                                    CK_ULONG *outLength) try {
    if (!session) return TQ_RTN_BAD_ARGUMENT;
    if (handle == 0) return TQ_RTN_WRONG_HANDLE;
    // The handle spares the search; the label is only a placeholder.
    KeyRecord key("?", static_cast<CK_ULONG>(kind), 1);
    key.object.handle = handle;
    return encryptInto(session, key, data, length, mode, out, outLength);
}
TQ_CATCH_CODE

TQ_API int TQP11_SymDecrypt(TQXP11_SESSION *session, const char *label, int kind, int, const void *data,
                            CK_ULONG length, int mode, unsigned char *out, CK_ULONG *outLength) try {
    if (!namedKeyArguments(session, label) || !dataGiven(data, length) || !out || !outLength ||
        length == ULONG_MAX)
        return TQ_RTN_BAD_ARGUMENT;
    KeyRecord key(label, static_cast<CK_ULONG>(kind), 1);
    // A padded ciphertext holds a block at least. Some tokens ask a final
    // without one for more room than exists, and the operation would stay.
    if (length == 0 && paddedMode(key.object.kind, modeCode(mode))) return TQP11_RTN_ENCRYPTED_DATA_LEN_RANGE;
    key.value.secret.iv = tqbridge::zeroIv(key.object.kind);
    // Plaintext never outgrows the ciphertext; one byte more keeps empty data addressable.
    const tq::Wiped<tq::systemFree> plain = tq::scratch(length + 1);
    if (!plain) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    CK_ULONG total = 0;
    int rc = runOnce(session, kDecrypt, modeCode(mode), &key.object, data, length, plain.get(), length,
                     length, &total);
    if (rc == TQ_RTN_OK) {
        if (total) std::memcpy(out, plain.get(), total);
        *outLength = total;
    }
    return rc;
}
TQ_CATCH_CODE

TQ_API int TQP11_GenerateMAC(TQXP11_SESSION *session, const char *label, int kind, const char *iv,
                             const void *data, CK_ULONG length, int, int mode, unsigned char *mac,
                             CK_ULONG *macLength) try {
    if (!namedKeyArguments(session, label) || !dataGiven(data, length) || !mac || !macLength)
        return TQ_RTN_BAD_ARGUMENT;
    KeyRecord key(label, static_cast<CK_ULONG>(kind), 1);
    macIv(key, iv);
    unsigned char buffer[1024] = {};
    CK_ULONG total = 0;
    int rc = runOnce(session, kEncrypt, modeCode(mode), &key.object, data, length, buffer, sizeof buffer,
                     sizeof buffer, &total);
    if (rc == TQ_RTN_OK) {
        std::memcpy(mac, buffer, total);
        *macLength = total;
    }
    return rc;
}
TQ_CATCH_CODE

TQ_API int TQP11_GenerateMACEx(TQXP11_SESSION *session, const char *label, int kind, const char *iv,
                               const void *data, CK_ULONG length, int mode, unsigned char **mac,
                               CK_ULONG *macLength) try {
    if (!namedKeyArguments(session, label) || !dataGiven(data, length) || !mac || !macLength)
        return TQ_RTN_BAD_ARGUMENT;
    KeyRecord key(label, static_cast<CK_ULONG>(kind), 1);
    macIv(key, iv);
    // Room for the padding block of the key's kind.
    const CK_ULONG block = blockOf(key.object.kind);
    if (length > ULONG_MAX - block) return TQ_RTN_BAD_ARGUMENT;
    const CK_ULONG size = length + block;
    auto *buffer = static_cast<unsigned char *>(std::calloc(1, size));
    if (!buffer) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    CK_ULONG total = 0;
    int rc =
        runOnce(session, kEncrypt, modeCode(mode), &key.object, data, length, buffer, size, size, &total);
    if (rc != TQ_RTN_OK) {
        std::free(buffer);
        return rc;
    }
    *mac = buffer;
    *macLength = total;
    return TQ_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

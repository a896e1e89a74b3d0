// Reading, deleting and renaming token objects by name. A name is taken whole or
// refused: a shortened one could select another object.
#include <cstring>

#include "bridge_internal.h"
#include "token_access.h"
#include "tqp11certs.h"

namespace {

// Private flag 1 for RSA private keys, whatever the caller said.
int privateForKind(int kind, int isPrivate) { return kind == TQXP11_KIND_RSA_PRIVATE ? 1 : isPrivate; }

int relabel(TQXP11_SESSION *session, const char *label, int kind, int isPrivate, const char *newLabel,
            const char *newId, bool withId) {
    if (!session || !newLabel || (withId && !newId)) return TQ_RTN_BAD_ARGUMENT;
    // The new label must be readable back by the same rule.
    if (strnlen(newLabel, TQXP11_LABEL_SIZE) >= TQXP11_LABEL_SIZE) return TQ_RTN_BAD_ARGUMENT;
    TQXP11_OBJECT record{};
    int rc = tqbridge::namedRecord(label, static_cast<CK_ULONG>(kind), isPrivate, &record);
    if (rc != TQ_RTN_OK) return rc;
    return withId ? TQXP11_ChangeObjLabelEx(session, &record, newLabel, newId)
                  : TQXP11_ChangeObjLabel(session, &record, newLabel);
}

}  // namespace

extern "C" {

TQ_API int TQXP11Crypt_ReadObject(TQXP11_SESSION *session, const char *label, int kind, int isPrivate, int,
                                  TQXP11_OBJECT *object) try {
    if (!session || !label || !object) return TQ_RTN_BAD_ARGUMENT;
    *object = tqbridge::labelRecord(label, static_cast<CK_ULONG>(kind), isPrivate);
    return TQXP11_ReadObject(session, object);
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_DeleteObject(TQXP11_SESSION *session, const char *name, int kind, int isPrivate,
                                    int flags) try {
    tq::ErrorQueueScope scope;
    if (!session || !name) return TQ_RTN_BAD_ARGUMENT;
    const CK_BBOOL privateByte = static_cast<CK_BBOOL>(isPrivate & 0xFF);
    if (flags & TQXP11_BY_CKA_ID) {
        tq::TqMem id;
        CK_ULONG count = 0;
        int rc = tqbridge::decodeId(name, TQXCrypt_HexDecode, id, &count);
        // No bytes at all is no ID: it is not a decoding failure.
        if (rc != TQ_RTN_OK) return rc == TQ_RTN_BAD_ARGUMENT ? rc : TQ_RTN_BAD_HEX;
        return TQXP11_ErrorCode(
            tqaccess::deleteById(session, static_cast<CK_ULONG>(kind), privateByte, id.get(), count));
    }
    TQXP11_OBJECT record{};
    int rc = tqbridge::namedRecord(name, static_cast<CK_ULONG>(kind), isPrivate, &record);
    if (rc != TQ_RTN_OK) return rc;
    return TQXP11_DeleteObject(session, &record);
}
TQ_CATCH_CODE

TQ_API int TQP11_ChangeObjLabel(TQXP11_SESSION *session, const char *label, int kind, const char *newLabel,
                                int) try {
    tq::ErrorQueueScope scope;
    return relabel(session, label, kind, privateForKind(kind, 0), newLabel, nullptr, false);
}
TQ_CATCH_CODE

TQ_API int TQP11_ChangeObjLabelEx(TQXP11_SESSION *session, const char *label, int kind, const char *newLabel,
                                  const char *newId, int) try {
    tq::ErrorQueueScope scope;
    return relabel(session, label, kind, privateForKind(kind, 0), newLabel, newId, true);
}
TQ_CATCH_CODE

TQ_API int TQP11_ChangeLabel(TQXP11_SESSION *session, const char *label, int kind, int isPrivate,
                             const char *newLabel, int) try {
    tq::ErrorQueueScope scope;
    return relabel(session, label, kind, privateForKind(kind, isPrivate), newLabel, nullptr, false);
}
TQ_CATCH_CODE

TQ_API int TQP11_ChangeObjectLabel(TQXP11_SESSION *session, const char *label, int kind, int isPrivate,
                                   const char *newLabel, int) try {
    tq::ErrorQueueScope scope;
    return relabel(session, label, kind, isPrivate, newLabel, nullptr, false);
}
TQ_CATCH_CODE

TQ_API int TQP11_SetObjExtractable(TQXP11_SESSION *session, const char *label, int kind,
                                   CK_BBOOL extractable) try {
    tq::ErrorQueueScope scope;
    if (!session) return TQ_RTN_BAD_ARGUMENT;
    TQXP11_OBJECT record{};
    int rc = tqbridge::namedRecord(label, static_cast<CK_ULONG>(kind), 1, &record);
    if (rc != TQ_RTN_OK) return rc;
    return TQXP11_SetObjExtractable(session, &record, extractable);
}
TQ_CATCH_CODE

}  // extern "C"

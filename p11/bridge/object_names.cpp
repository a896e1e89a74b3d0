// Reading, deleting and renaming token objects by name. A name is taken whole or
// refused: a shortened one could select another object.
#include <cstring>

#include "bridge_internal.h"
#include "access_internal.h"
#include "tqp11certs.h"

namespace {

// Every object of the kind's class, token flag and private flag whose CKA_ID
// is these bytes.
tqp11::Result deleteById(TQXP11_SESSION *session, const unsigned char *id, CK_ULONG length, CK_ULONG kind,
                         CK_BBOOL isPrivate) {
    CK_OBJECT_CLASS cls = 0;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    // As the deleter by label: a missing login outranks an unknown kind.
    if (isPrivate == CK_TRUE && session->sessionInfo.state != CKS_RW_USER_FUNCTIONS)
        return CKR_USER_NOT_LOGGED_IN;
    if (!tqp11::classOfKind(kind, &cls)) return CKR_FUNCTION_NOT_SUPPORTED;
    tqp11::AttributeList<4> search;
    search.addUlong(CKA_CLASS, cls);
    search.addBool(CKA_TOKEN, true);
    search.addByte(CKA_PRIVATE, isPrivate);
    search.addBytes(CKA_ID, id, length);
    CK_OBJECT_HANDLE handles[tqp11::kSearchMax];
    CK_ULONG found = 0;
    tqp11::Result rv = tqp11::findObjects(session, handles, search, &found);
    if (rv != CKR_OK) return rv;
    if (found == 0) return TQP11_RTN_OBJECT_NOT_EXIST;
    for (CK_ULONG i = 0; i < found && rv == CKR_OK; ++i)
        rv = session->module->C_DestroyObject(session->sessionHandle, handles[i]);
    return rv;
}

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
            deleteById(session, id.get(), count, static_cast<CK_ULONG>(kind), privateByte));
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

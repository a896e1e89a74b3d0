// Removing token objects.
#include <algorithm>

#include "access_internal.h"

namespace {

using tqp11::Result;

bool needsLogin(const TQXP11_SESSION *session, CK_BBOOL isPrivate) {
    return isPrivate == CK_TRUE && session->sessionInfo.state != CKS_RW_USER_FUNCTIONS;
}

// Deletes the key or certificate with the record's label and one more
// attribute: the ID for keys, the serial number for certificates.
Result deleteMatching(TQXP11_SESSION *session, TQXP11_OBJECT *object, CK_ULONG classMask,
                      CK_ATTRIBUTE_TYPE second) {
    if (!session || !object) return CKR_ARGUMENTS_BAD;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    if (needsLogin(session, object->isPrivate)) return CKR_USER_NOT_LOGGED_IN;
    if (object->handle == 0) {
        if (!object->valueRecord) return CKR_ARGUMENTS_BAD;
        const TQXP11_BYTES &value = second == CKA_SERIAL_NUMBER
                                        ? object->valueRecord->certificate.serialNumber
                                        : object->valueRecord->first;
        tqp11::AttributeList<5> search;
        tqp11::addLabelKey(search, session, object, object->kind & classMask);
        search.addBytes(second, value);
        Result rv = tqp11::findOne(session, search, &object->handle);
        if (rv != CKR_OK) return rv;
    }
    return session->module->C_DestroyObject(session->sessionHandle, object->handle);
}

// The checks of a deletion by kind, in this order: a missing login outranks
// an unknown kind.
Result deletable(const TQXP11_SESSION *session, CK_ULONG kind, CK_BBOOL isPrivate, CK_OBJECT_CLASS *cls) {
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    if (needsLogin(session, isPrivate)) return CKR_USER_NOT_LOGGED_IN;
    return tqaccess::classOfKind(kind, cls) ? CKR_OK : CKR_FUNCTION_NOT_SUPPORTED;
}

// Destroys every token object of the class with the private flag whose
// attribute `key` (the label or the ID) is these bytes. Destroying stops at
// the first refusal; `last` is left at the last object found.
Result destroyAll(TQXP11_SESSION *session, CK_OBJECT_CLASS cls, CK_BBOOL isPrivate, CK_ATTRIBUTE_TYPE key,
                  const void *bytes, CK_ULONG length, CK_OBJECT_HANDLE *last) {
    tqp11::AttributeList<4> search;
    search.addUlong(CKA_CLASS, cls);
    search.addBool(CKA_TOKEN, true);
    search.addByte(CKA_PRIVATE, isPrivate);
    search.addBytes(key, bytes, length);
    CK_OBJECT_HANDLE handles[tqp11::kSearchMax];
    CK_ULONG found = 0;
    Result rv = tqp11::findObjects(session, handles, search, &found);
    if (rv != CKR_OK) return rv;
    if (found == 0) return TQP11_RTN_OBJECT_NOT_EXIST;
    for (CK_ULONG i = 0; i < found; ++i) {
        *last = handles[i];
        if (rv == CKR_OK) rv = session->module->C_DestroyObject(session->sessionHandle, handles[i]);
    }
    return rv;
}

Result deleteByKind(TQXP11_SESSION *session, TQXP11_OBJECT *object) {
    if (!session || !object) return CKR_ARGUMENTS_BAD;
    CK_OBJECT_CLASS cls = 0;
    Result rv = deletable(session, object->kind, object->isPrivate, &cls);
    if (rv != CKR_OK) return rv;
    if (object->handle != 0) return session->module->C_DestroyObject(session->sessionHandle, object->handle);
    // The label may hold bytes that are not text: its stored length counts,
    // kept within the label field.
    CK_ULONG length = object->labelLength + ((session->options & TQXP11_OPTION_COUNT_NUL) ? 1 : 0);
    length = std::min<CK_ULONG>(length, TQXP11_LABEL_SIZE);
    return destroyAll(session, cls, object->isPrivate, CKA_LABEL, object->label, length, &object->handle);
}

}  // namespace

CK_RV tqaccess::deleteById(TQXP11_SESSION *session, CK_ULONG kind, CK_BBOOL isPrivate,
                           const unsigned char *id, CK_ULONG length) {
    if (!session) return CKR_ARGUMENTS_BAD;
    CK_OBJECT_CLASS cls = 0;
    Result rv = deletable(session, kind, isPrivate, &cls);
    if (rv != CKR_OK) return rv;
    CK_OBJECT_HANDLE last = 0;
    return destroyAll(session, cls, isPrivate, CKA_ID, id, length, &last);
}

extern "C" {

TQ_API int TQXP11_DeletePrivateKeyObject(TQXP11_SESSION *session, TQXP11_OBJECT *object) try {
    return TQXP11_ErrorCode(deleteMatching(session, object, 3, CKA_ID));
}
TQ_CATCH_CODE

TQ_API int TQXP11_DeletePubKeyObject(TQXP11_SESSION *session, TQXP11_OBJECT *object) try {
    return TQXP11_ErrorCode(deleteMatching(session, object, 2, CKA_ID));
}
TQ_CATCH_CODE

TQ_API int TQXP11_DeleteCertObject(TQXP11_SESSION *session, TQXP11_OBJECT *object) try {
    return TQXP11_ErrorCode(deleteMatching(session, object, 1, CKA_SERIAL_NUMBER));
}
TQ_CATCH_CODE

TQ_API int TQXP11_DeleteObject(TQXP11_SESSION *session, TQXP11_OBJECT *object) try {
    return TQXP11_ErrorCode(deleteByKind(session, object));
}
TQ_CATCH_CODE

TQ_API int TQXP11_DeleteObjectByID(TQXP11_SESSION *session, CK_OBJECT_HANDLE handle) try {
    if (!session) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    if (!session->module) return TQXP11_ErrorCode(TQP11_RTN_LIBRARY_NOT_LOAD);
    return TQXP11_ErrorCode(session->module->C_DestroyObject(session->sessionHandle, handle));
}
TQ_CATCH_CODE

}  // extern "C"

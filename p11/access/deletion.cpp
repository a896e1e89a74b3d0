// Removing token objects.
#include <algorithm>

#include "access_internal.h"

namespace {

using tqp11::Result;

bool privateNeedsLogin(const TQXP11_SESSION *session, const TQXP11_OBJECT *object) {
    return object->isPrivate == CK_TRUE && session->sessionInfo.state != CKS_RW_USER_FUNCTIONS;
}

// Deletes the key or certificate with the record's label and one more
// attribute: the ID for keys, the serial number for certificates.
Result deleteMatching(TQXP11_SESSION *session, TQXP11_OBJECT *object, CK_ULONG classMask,
                      CK_ATTRIBUTE_TYPE second) {
    if (!session || !object) return CKR_ARGUMENTS_BAD;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    if (privateNeedsLogin(session, object)) return CKR_USER_NOT_LOGGED_IN;
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

Result deleteByKind(TQXP11_SESSION *session, TQXP11_OBJECT *object) {
    if (!session || !object) return CKR_ARGUMENTS_BAD;
    CK_OBJECT_CLASS cls = 0;
    bool known = tqp11::classOfKind(object->kind, &cls);
    TQXP11_MODULE *module = session->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    // A missing login outranks an unknown kind.
    if (privateNeedsLogin(session, object)) return CKR_USER_NOT_LOGGED_IN;
    if (!known) return CKR_FUNCTION_NOT_SUPPORTED;
    if (object->handle != 0) return module->C_DestroyObject(session->sessionHandle, object->handle);

    // The label may hold bytes that are not text: its stored length counts,
    // kept within the label field.
    CK_ULONG length = object->labelLength + ((session->options & TQXP11_OPTION_COUNT_NUL) ? 1 : 0);
    length = std::min<CK_ULONG>(length, TQXP11_LABEL_SIZE);
    tqp11::AttributeList<4> search;
    tqp11::addLabelKey(search, cls, true, object->isPrivate, object->label, length);
    CK_OBJECT_HANDLE handles[tqp11::kSearchMax];
    CK_ULONG found = 0;
    Result rv = tqp11::findObjects(session, handles, search, &found);
    if (rv != CKR_OK) return rv;
    if (found == 0) return TQP11_RTN_OBJECT_NOT_EXIST;
    for (CK_ULONG i = 0; i < found; ++i) {
        object->handle = handles[i];
        if (rv == CKR_OK) rv = module->C_DestroyObject(session->sessionHandle, handles[i]);
    }
    return rv;
}

}  // namespace

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

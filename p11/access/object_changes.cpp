// Changing the labels, IDs and key-use flags of token objects.
#include <cstring>

#include "access_internal.h"

namespace {

using tqp11::Result;

Result relabel(TQXP11_SESSION *session, TQXP11_OBJECT *object, const char *newLabel, const char *newId,
               bool withId) {
    if (!session || !object) return CKR_ARGUMENTS_BAD;
    CK_OBJECT_CLASS cls = 0;
    if (!tqaccess::classOfKind(object->kind, &cls)) return CKR_FUNCTION_NOT_SUPPORTED;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    if (!newLabel || (withId && !newId)) return CKR_ARGUMENTS_BAD;
    Result rv = CKR_OK;
    if (object->handle == 0 && (rv = tqp11::findByLabel(session, object, cls)) != CKR_OK) return rv;

    CK_ULONG newLength = std::strlen(newLabel) + ((session->options & TQXP11_OPTION_COUNT_NUL) ? 1 : 0);
    tqp11::AttributeList<4> clash;
    tqp11::addLabelKey(clash, cls, true, object->isPrivate, newLabel, newLength);
    CK_OBJECT_HANDLE handles[tqp11::kSearchMax];
    CK_ULONG found = 0;
    rv = tqp11::findObjects(session, handles, clash, &found);
    if (rv != CKR_OK) return rv;
    if (found > 0) return TQP11_RTN_OBJECT_EXIST;

    tqp11::AttributeList<2> change;
    change.addText(CKA_LABEL, newLabel, newLength);
    if (withId) change.addText(CKA_ID, newId, tqp11::textLength(newId));
    return change.pass([&](CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
        return session->module->C_SetAttributeValue(session->sessionHandle, object->handle, attributes,
                                                    count);
    });
}

enum class Flag { wrap, unwrap, extractable };

Result setFlag(TQXP11_SESSION *session, TQXP11_OBJECT *object, int value, Flag flag) {
    if (!session || !object) return CKR_ARGUMENTS_BAD;
    CK_BBOOL byte = static_cast<CK_BBOOL>(value & 0xFF);
    if (byte != CK_TRUE && byte != CK_FALSE) return CKR_ARGUMENTS_BAD;
    CK_OBJECT_CLASS cls = 0;
    CK_ULONG keyKind = flag == Flag::wrap ? TQXP11_KIND_RSA_PUBLIC : TQXP11_KIND_RSA_PRIVATE;
    if (!tqaccess::classOfKind(object->kind, &cls) || (cls != CKO_SECRET_KEY && object->kind != keyKind))
        return CKR_FUNCTION_NOT_SUPPORTED;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    Result rv = CKR_OK;
    if (object->handle == 0 && (rv = tqp11::findByLabel(session, object, cls)) != CKR_OK) return rv;
    CK_ATTRIBUTE_TYPE type = flag == Flag::wrap     ? CKA_WRAP
                             : flag == Flag::unwrap ? CKA_UNWRAP
                                                    : CKA_EXTRACTABLE;
    tqp11::AttributeList<1> change;
    change.addByte(type, byte);
    return change.pass([&](CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
        return session->module->C_SetAttributeValue(session->sessionHandle, object->handle, attributes,
                                                    count);
    });
}

}  // namespace

extern "C" {

TQ_API int TQXP11_ChangeObjLabel(TQXP11_SESSION *session, TQXP11_OBJECT *object, const char *newLabel) try {
    return TQXP11_ErrorCode(relabel(session, object, newLabel, nullptr, false));
}
TQ_CATCH_CODE

TQ_API int TQXP11_ChangeObjLabelEx(TQXP11_SESSION *session, TQXP11_OBJECT *object, const char *newLabel,
                                   const char *newId) try {
    return TQXP11_ErrorCode(relabel(session, object, newLabel, newId, true));
}
TQ_CATCH_CODE

TQ_API int TQXP11_SetObjWrap(TQXP11_SESSION *session, TQXP11_OBJECT *object, int value) try {
    return TQXP11_ErrorCode(setFlag(session, object, value, Flag::wrap));
}
TQ_CATCH_CODE

TQ_API int TQXP11_SetObjUnWrap(TQXP11_SESSION *session, TQXP11_OBJECT *object, int value) try {
    return TQXP11_ErrorCode(setFlag(session, object, value, Flag::unwrap));
}
TQ_CATCH_CODE

TQ_API int TQXP11_SetObjExtractable(TQXP11_SESSION *session, TQXP11_OBJECT *object, int value) try {
    return TQXP11_ErrorCode(setFlag(session, object, value, Flag::extractable));
}
TQ_CATCH_CODE

}  // extern "C"

// The slots of a loaded module: choosing the current one, slot and token
// information, and the vendor PIN flag of a slot.
#include "access_internal.h"

namespace tqp11 {

Result currentSlot(const TQXP11_CONTEXT *context, CK_SLOT_ID *slot) {
    if (!context->slotList || context->currentSlot >= context->slotCount) return TQP11_RTN_SLOT_NOT_FOUND;
    *slot = context->slotList[context->currentSlot];
    return CKR_OK;
}

}  // namespace tqp11

namespace {

using tqp11::Result;

Result loadedSlot(const TQXP11_CONTEXT *context, CK_SLOT_ID *slot) {
    if (!context) return CKR_ARGUMENTS_BAD;
    if (!context->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    return tqp11::currentSlot(context, slot);
}

Result slotInfos(TQXP11_CONTEXT *context, CK_SLOT_INFO **infos) {
    if (!context || !infos) return CKR_ARGUMENTS_BAD;
    if (!context->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    *infos = nullptr;
    tqp11::SystemPtr<CK_SLOT_INFO> array(static_cast<CK_SLOT_INFO *>(
        std::calloc(context->slotCount ? context->slotCount : 1, sizeof(CK_SLOT_INFO))));
    if (!array) return TQP11_RTN_MEMORY_ALLOCATE_FAIL;
    // Every slot is asked; the first failure is the one reported.
    Result first = CKR_OK;
    for (CK_ULONG i = 0; i < context->slotCount; ++i) {
        Result rv = context->module->C_GetSlotInfo(context->slotList[i], &array.get()[i]);
        if (first == CKR_OK) first = rv;
    }
    if (first != CKR_OK) return first;
    *infos = array.release();
    return CKR_OK;
}

Result setPinFlag(TQXP11_CONTEXT *context, CK_BYTE flag) {
    CK_SLOT_ID slot = 0;
    Result rv = loadedSlot(context, &slot);
    if (rv != CKR_OK) return rv;
    return context->module->C_GEM_SetSpecificParam(slot, TQXP11_PARAM_PIN_FLAG, 1, &flag);
}

Result getPinFlag(TQXP11_CONTEXT *context, int *flag) {
    CK_SLOT_ID slot = 0;
    Result rv = loadedSlot(context, &slot);
    if (rv != CKR_OK) return rv;
    if (!flag) return CKR_ARGUMENTS_BAD;
    CK_BYTE byte = 0;
    CK_ULONG length = sizeof byte;
    rv = context->module->C_GEM_GetSpecificParam(slot, TQXP11_PARAM_PIN_FLAG, &length, &byte);
    if (rv == CKR_OK && byte != 0) *flag = 1;
    return rv;
}

}  // namespace

extern "C" {

TQ_API int TQXP11_SetCurrentSlot(TQXP11_CONTEXT *context, CK_ULONG index) try {
    if (!context) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    if (context->slotCount == 0 || index >= context->slotCount)
        return TQXP11_ErrorCode(TQP11_RTN_SLOT_NOT_FOUND);
    context->currentSlot = index;
    return TQP11_RTN_OK;
}
TQ_CATCH_CODE

TQ_API int TQXP11_SetFlag(TQXP11_CONTEXT *context, CK_ULONG flag) try {
    if (!context) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    context->flags = flag;
    return TQP11_RTN_OK;
}
TQ_CATCH_CODE

TQ_API int TQXP11_GetSlotList(TQXP11_CONTEXT *context, CK_BBOOL tokenPresent, CK_SLOT_ID_PTR slots,
                              CK_ULONG_PTR number) try {
    if (!context) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    if (!context->module) return TQXP11_ErrorCode(TQP11_RTN_LIBRARY_NOT_LOAD);
    Result rv = context->module->C_GetSlotList(tokenPresent, slots, number);
    if (rv == CKR_OK && tokenPresent == CK_TRUE && number && *number == 0) rv = CKR_TOKEN_NOT_PRESENT;
    return TQXP11_ErrorCode(rv);
}
TQ_CATCH_CODE

TQ_API int TQXP11_GetSlotInfo(TQXP11_CONTEXT *context, CK_SLOT_INFO **infos) try {
    return TQXP11_ErrorCode(slotInfos(context, infos));
}
TQ_CATCH_CODE

TQ_API int TQXP11_GetTokenInfo(TQXP11_CONTEXT *context, CK_TOKEN_INFO *info) try {
    CK_SLOT_ID slot = 0;
    Result rv = loadedSlot(context, &slot);
    if (rv == CKR_OK && !info) rv = CKR_ARGUMENTS_BAD;
    if (rv != CKR_OK) return TQXP11_ErrorCode(rv);
    *info = CK_TOKEN_INFO{};
    return TQXP11_ErrorCode(context->module->C_GetTokenInfo(slot, info));
}
TQ_CATCH_CODE

TQ_API int TQXP11_SetGEMPinFlag(TQXP11_CONTEXT *context, CK_BYTE flag) try {
    return TQXP11_ErrorCode(setPinFlag(context, flag));
}
TQ_CATCH_CODE

TQ_API int TQXP11_GetGEMPinFlag(TQXP11_CONTEXT *context, int *flag) try {
    return TQXP11_ErrorCode(getPinFlag(context, flag));
}
TQ_CATCH_CODE

}  // extern "C"

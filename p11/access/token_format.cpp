// Formatting the token of the current slot: its label, the security
// officer's PIN and the user's PIN set anew.
#include <cstring>

#include "access_internal.h"

namespace {

using tqp11::Result;
using tqp11::textLength;
using tqp11::utf8;

constexpr char kDefaultLabel[] = "Net-Orvane";
constexpr size_t kTokenLabelSize = 32;

Result formatToken(TQXP11_CONTEXT *context, const char *soPin, const char *userPin, const char *label) {
    if (!context) return CKR_ARGUMENTS_BAD;
    TQXP11_MODULE *module = context->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    if (!soPin || !userPin || !label) return CKR_ARGUMENTS_BAD;
    CK_SLOT_ID slot = 0;
    Result rv = tqp11::currentSlot(context, &slot);
    if (rv != CKR_OK) return rv;

    CK_UTF8CHAR tokenLabel[kTokenLabelSize];
    std::memset(tokenLabel, ' ', sizeof tokenLabel);
    std::memcpy(tokenLabel, label, strnlen(label, kTokenLabelSize));

    rv = module->C_InitToken(slot, utf8(soPin), textLength(soPin), tokenLabel);
    if (rv != CKR_OK) return rv;
    CK_SESSION_HANDLE handle = 0;
    rv = module->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &handle);
    if (rv != CKR_OK) return rv;
    rv = module->C_Login(handle, CKU_SO, utf8(soPin), textLength(soPin));
    if (rv == CKR_OK) {
        rv = module->C_InitPIN(handle, utf8(userPin), textLength(userPin));
        module->C_Logout(handle);
    }
    module->C_CloseSession(handle);
    return rv;
}

}  // namespace

extern "C" {

TQ_API int TQXP11_TokenFormat(TQXP11_CONTEXT *context, const char *soPin, const char *userPin) try {
    return TQXP11_ErrorCode(formatToken(context, soPin, userPin, kDefaultLabel));
}
TQ_CATCH_CODE

TQ_API int TQXP11_TokenFormatEx(TQXP11_CONTEXT *context, const char *soPin, const char *userPin,
                                const char *label) try {
    return TQXP11_ErrorCode(formatToken(context, soPin, userPin, label));
}
TQ_CATCH_CODE

}  // extern "C"

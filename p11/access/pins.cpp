// PINs: changing the user's and the security officer's, initialising the
// user's, and formatting the token of the current slot.
#include <algorithm>

#include "access_internal.h"

namespace {

using tqp11::Result;
using tqp11::textLength;
using tqp11::utf8;

constexpr char kDefaultLabel[] = "Net-Orvane";
constexpr size_t kTokenLabelSize = 32;

Result changePin(TQXP11_SESSION *session, const char *oldPin, const char *newPin) {
    if (!session) return CKR_ARGUMENTS_BAD;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    return session->module->C_SetPIN(session->sessionHandle, utf8(oldPin), textLength(oldPin), utf8(newPin),
                                     textLength(newPin));
}

// Logs the security officer in for one task and out again after it.
template <typename Task>
Result asSecurityOfficer(TQXP11_SESSION *session, const char *soPin, Task task) {
    if (!session) return CKR_ARGUMENTS_BAD;
    TQXP11_MODULE *module = session->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    Result rv = module->C_Login(session->sessionHandle, CKU_SO, utf8(soPin), textLength(soPin));
    if (rv != CKR_OK) return rv;
    rv = task(module);
    module->C_Logout(session->sessionHandle);
    return rv;
}

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

TQ_API int TQXP11_ChangePin(TQXP11_SESSION *session, const char *oldPin, const char *newPin) try {
    return TQXP11_ErrorCode(changePin(session, oldPin, newPin));
}
TQ_CATCH_CODE

TQ_API int TQXP11_ChangeSoPin(TQXP11_SESSION *session, const char *soPin, const char *newSoPin) try {
    return TQXP11_ErrorCode(asSecurityOfficer(session, soPin, [&](TQXP11_MODULE *module) {
        return module->C_SetPIN(session->sessionHandle, utf8(soPin), textLength(soPin), utf8(newSoPin),
                                textLength(newSoPin));
    }));
}
TQ_CATCH_CODE

TQ_API int TQXP11_InitPIN(TQXP11_SESSION *session, const char *soPin, const char *userPin) try {
    return TQXP11_ErrorCode(asSecurityOfficer(session, soPin, [&](TQXP11_MODULE *module) {
        return module->C_InitPIN(session->sessionHandle, utf8(userPin), textLength(userPin));
    }));
}
TQ_CATCH_CODE

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

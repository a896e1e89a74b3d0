// PINs: changing the user's and the security officer's, and initialising
// the user's.
#include <algorithm>

#include "access_internal.h"

namespace {

using tqp11::Result;
using tqp11::textLength;
using tqp11::utf8;

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

}  // extern "C"

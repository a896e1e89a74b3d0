// Sessions on the current slot: opening, closing, the session information
// the record mirrors, and the PIN retry counters the module reports in it.
#include "access_internal.h"

namespace tqp11 {

bool userLoggedIn(const TQXP11_SESSION *session) {
    return session->sessionInfo.state == CKS_RO_USER_FUNCTIONS ||
           session->sessionInfo.state == CKS_RW_USER_FUNCTIONS;
}

Result refreshSessionInfo(TQXP11_SESSION *session) {
    return session->module->C_GetSessionInfo(session->sessionHandle, &session->sessionInfo);
}

}  // namespace tqp11

namespace {

using tqp11::Result;

Result openSession(TQXP11_CONTEXT *context, TQXP11_SESSION *session, int readWrite) {
    if (!context || !session) return CKR_ARGUMENTS_BAD;
    TQXP11_MODULE *module = context->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    *session = TQXP11_SESSION{};
    session->appData = context->appData;
    CK_SLOT_ID slot = 0;
    Result rv = tqp11::currentSlot(context, &slot);
    if (rv != CKR_OK) return rv;
    CK_FLAGS flags = CKF_SERIAL_SESSION | (readWrite ? CKF_RW_SESSION : 0);
    rv = module->C_OpenSession(slot, flags, nullptr, nullptr, &session->sessionHandle);
    if (rv != CKR_OK) return rv;
    rv = module->C_GetSessionInfo(session->sessionHandle, &session->sessionInfo);
    if (rv != CKR_OK) {
        module->C_CloseSession(session->sessionHandle);
        return rv;
    }
    session->module = module;
    return CKR_OK;
}

Result sessionInfo(TQXP11_SESSION *session, CK_BBOOL *loggedIn) {
    if (!session || !loggedIn) return CKR_ARGUMENTS_BAD;
    *loggedIn = CK_FALSE;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    Result rv = tqp11::refreshSessionInfo(session);
    if (rv == CKR_OK && tqp11::userLoggedIn(session)) *loggedIn = CK_TRUE;
    return rv;
}

}  // namespace

extern "C" {

TQ_API int TQXP11_SessionOpenEx(TQXP11_CONTEXT *context, TQXP11_SESSION *session, int readWrite) try {
    return TQXP11_ErrorCode(openSession(context, session, readWrite));
}
TQ_CATCH_CODE

TQ_API int TQXP11_SessionOpen(TQXP11_CONTEXT *context, TQXP11_SESSION *session) try {
    return TQXP11_SessionOpenEx(context, session, 1);
}
TQ_CATCH_CODE

TQ_API int TQXP11_SessionClose(TQXP11_SESSION *session) try {
    if (!session) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    if (!session->module) return TQXP11_ErrorCode(TQP11_RTN_LIBRARY_NOT_LOAD);
    Result rv = session->module->C_CloseSession(session->sessionHandle);
    session->module = nullptr;
    session->appData = 0;
    return TQXP11_ErrorCode(rv);
}
TQ_CATCH_CODE

TQ_API int TQXP11_GetSessionInfo(TQXP11_SESSION *session, CK_BBOOL *loggedIn) try {
    return TQXP11_ErrorCode(sessionInfo(session, loggedIn));
}
TQ_CATCH_CODE

TQ_API int TQXP11_GetRetryCounter(TQXP11_SESSION *session, int kind, int *counter) try {
    if (!counter) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    *counter = 0;
    CK_BBOOL loggedIn = CK_FALSE;
    int code = TQXP11_GetSessionInfo(session, &loggedIn);
    if (code != TQP11_RTN_OK) return code;
    CK_ULONG deviceError = session->sessionInfo.ulDeviceError;
    if (kind == TQXP11_LOGIN_SO) *counter = static_cast<int>((deviceError >> 24) & 0xFF);
    if (kind == TQXP11_LOGIN_USER) *counter = static_cast<int>(deviceError & 0x0F);
    return TQP11_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

// Logins: by user kind, the vendor login in several steps, logout, and the
// login through a function of a second library.
#include <dlfcn.h>

#include "access_internal.h"

extern "C" {
TQ_API TQXP11_BANK_LOGIN_FN X_BankLogin = nullptr;
}

namespace {

using tqp11::Result;

// The entry name as bank-login libraries export it, quotes included.
constexpr char kBankLoginEntry[] = "\"TQ_EraCOM_BankLogin\"";

Result logIn(TQXP11_SESSION *session, CK_USER_TYPE user, const char *pin) {
    if (!session) return CKR_ARGUMENTS_BAD;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    Result rv =
        session->module->C_Login(session->sessionHandle, user, tqp11::utf8(pin), tqp11::textLength(pin));
    if (rv == CKR_OK) return tqp11::refreshSessionInfo(session);
    // Another session logged the token in: the record must see that state,
    // or its private-object calls would be refused.
    if (rv == CKR_USER_ALREADY_LOGGED_IN) tqp11::refreshSessionInfo(session);
    return rv;
}

Result loginBegin(TQXP11_SESSION *session, CK_ULONG_PTR partsRequired, CK_ULONG_PTR second) {
    if (!session) return CKR_ARGUMENTS_BAD;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    return session->module->C_LoginBegin(session->sessionHandle, CKU_USER, partsRequired, second);
}

Result loginNext(TQXP11_SESSION *session, const char *part, CK_ULONG_PTR partsRequired) {
    if (!session) return CKR_ARGUMENTS_BAD;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    if (!part) return CKR_ARGUMENTS_BAD;
    return session->module->C_LoginNext(session->sessionHandle, CKU_USER, tqp11::utf8(part),
                                        tqp11::textLength(part), partsRequired);
}

Result loginEnd(TQXP11_SESSION *session) {
    if (!session) return CKR_ARGUMENTS_BAD;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    Result rv = session->module->C_LoginEnd(session->sessionHandle, CKU_USER);
    if (rv != CKR_OK) return rv;
    return tqp11::refreshSessionInfo(session);
}

Result logOut(TQXP11_SESSION *session) {
    if (!session) return CKR_ARGUMENTS_BAD;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    Result rv = session->module->C_Logout(session->sessionHandle);
    if (rv != CKR_OK) return rv;
    return tqp11::refreshSessionInfo(session);
}

Result bankLogin(TQXP11_SESSION *session, const char *libraryPath, const char *first, const char *second) {
    if (!session) return CKR_ARGUMENTS_BAD;
    if (!libraryPath) return TQP11_RTN_LOAD_LIBRARY_FAIL;
    void *library = dlopen(libraryPath, RTLD_LAZY);
    if (!library) return TQP11_RTN_LOAD_LIBRARY_FAIL;
    X_BankLogin = reinterpret_cast<TQXP11_BANK_LOGIN_FN>(dlsym(library, kBankLoginEntry));
    Result rv = TQP11_RTN_LOAD_LIBRARY_FAIL;
    if (X_BankLogin) {
        int answer = X_BankLogin(first, second, static_cast<int>(session->sessionHandle));
        rv = static_cast<CK_RV>(static_cast<long>(answer));
    }
    dlclose(library);
    // The address is gone with the library; no caller may call it now.
    X_BankLogin = nullptr;
    return rv;
}

}  // namespace

extern "C" {

TQ_API int TQXP11_Login(TQXP11_SESSION *session, const char *pin) try {
    return TQXP11_ErrorCode(logIn(session, CKU_USER, pin));
}
TQ_CATCH_CODE

TQ_API int TQXP11_SOLogin(TQXP11_SESSION *session, const char *pin) try {
    return TQXP11_ErrorCode(logIn(session, CKU_SO, pin));
}
TQ_CATCH_CODE

TQ_API int TQXP11Login(TQXP11_SESSION *session, int kind, const char *pin) try {
    if (kind == TQXP11_LOGIN_SO) return TQXP11_SOLogin(session, pin);
    if (kind == TQXP11_LOGIN_USER) return TQXP11_Login(session, pin);
    return TQXP11_ErrorCode(CKR_USER_TYPE_INVALID);
}
TQ_CATCH_CODE

TQ_API int TQXP11_LoginInit(TQXP11_SESSION *session, CK_ULONG_PTR partsRequired, CK_ULONG_PTR second) try {
    return TQXP11_ErrorCode(loginBegin(session, partsRequired, second));
}
TQ_CATCH_CODE

TQ_API int TQXP11_LoginUpdate(TQXP11_SESSION *session, const char *part, CK_ULONG_PTR partsRequired) try {
    return TQXP11_ErrorCode(loginNext(session, part, partsRequired));
}
TQ_CATCH_CODE

TQ_API int TQXP11_LoginFinal(TQXP11_SESSION *session) try { return TQXP11_ErrorCode(loginEnd(session)); }
TQ_CATCH_CODE

TQ_API int TQXP11_Logout(TQXP11_SESSION *session) try { return TQXP11_ErrorCode(logOut(session)); }
TQ_CATCH_CODE

TQ_API int TQXP11_BankLogin(TQXP11_SESSION *session, const char *libraryPath, const char *first,
                            const char *second) try {
    return TQXP11_ErrorCode(bankLogin(session, libraryPath, first, second));
}
TQ_CATCH_CODE

}  // extern "C"

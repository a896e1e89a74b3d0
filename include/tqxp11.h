/* PKCS#11 token layer: one loaded module, its slots, sessions, logins and
 * PINs, and the TQP11_RTN_* result codes. Plain C. */
#ifndef TQXP11_H
#define TQXP11_H

#include <stdint.h>

#include <p11-kit/pkcs11.h>

#include "tq_api.h"
#include "tq_codes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes, written once: name, the PKCS#11 value it maps from, code.
 * The text of each code is its name. */
#define TQP11_RTN_MAPPED_LIST(X)                              \
    X(TQP11_RTN_OK, 0x0, 0)                                   \
    X(TQP11_RTN_CANCEL, 0x1, 9001)                            \
    X(TQP11_RTN_HOST_MEMORY, 0x2, 9002)                       \
    X(TQP11_RTN_SLOT_ID_INVALID, 0x3, 9003)                   \
    X(TQP11_RTN_GENERAL_ERROR, 0x5, 9004)                     \
    X(TQP11_RTN_FUNCTION_FAILED, 0x6, 9005)                   \
    X(TQP11_RTN_ARGUMENTS_BAD, 0x7, 9006)                     \
    X(TQP11_RTN_NO_EVENT, 0x8, 9007)                          \
    X(TQP11_RTN_NEED_TO_CREATE_THREADS, 0x9, 9008)            \
    X(TQP11_RTN_CANT_LOCK, 0xA, 9009)                         \
    X(TQP11_RTN_ATTRIBUTE_READ_ONLY, 0x10, 9010)              \
    X(TQP11_RTN_ATTRIBUTE_SENSITIVE, 0x11, 9011)              \
    X(TQP11_RTN_ATTRIBUTE_TYPE_INVALID, 0x12, 9012)           \
    X(TQP11_RTN_ATTRIBUTE_VALUE_INVALID, 0x13, 9013)          \
    X(TQP11_RTN_DATA_INVALID, 0x20, 9014)                     \
    X(TQP11_RTN_DATA_LEN_RANGE, 0x21, 9015)                   \
    X(TQP11_RTN_DEVICE_ERROR, 0x30, 9016)                     \
    X(TQP11_RTN_DEVICE_MEMORY, 0x31, 9017)                    \
    X(TQP11_RTN_DEVICE_REMOVED, 0x32, 9018)                   \
    X(TQP11_RTN_ENCRYPTED_DATA_INVALID, 0x40, 9019)           \
    X(TQP11_RTN_ENCRYPTED_DATA_LEN_RANGE, 0x41, 9020)         \
    X(TQP11_RTN_FUNCTION_CANCELED, 0x50, 9021)                \
    X(TQP11_RTN_FUNCTION_NOT_PARALLEL, 0x51, 9022)            \
    X(TQP11_RTN_FUNCTION_NOT_SUPPORTED, 0x54, 9023)           \
    X(TQP11_RTN_KEY_HANDLE_INVALID, 0x60, 9024)               \
    X(TQP11_RTN_KEY_SIZE_RANGE, 0x62, 9025)                   \
    X(TQP11_RTN_KEY_TYPE_INCONSISTENT, 0x63, 9026)            \
    X(TQP11_RTN_KEY_NOT_NEEDED, 0x64, 9027)                   \
    X(TQP11_RTN_KEY_CHANGED, 0x65, 9028)                      \
    X(TQP11_RTN_KEY_NEEDED, 0x66, 9029)                       \
    X(TQP11_RTN_KEY_INDIGESTIBLE, 0x67, 9030)                 \
    X(TQP11_RTN_KEY_FUNCTION_NOT_PERMITTED, 0x68, 9031)       \
    X(TQP11_RTN_KEY_NOT_WRAPPABLE, 0x69, 9032)                \
    X(TQP11_RTN_KEY_UNEXTRACTABLE, 0x6A, 9033)                \
    X(TQP11_RTN_MECHANISM_INVALID, 0x70, 9034)                \
    X(TQP11_RTN_MECHANISM_PARAM_INVALID, 0x71, 9035)          \
    X(TQP11_RTN_OBJECT_HANDLE_INVALID, 0x82, 9036)            \
    X(TQP11_RTN_OPERATION_ACTIVE, 0x90, 9037)                 \
    X(TQP11_RTN_OPERATION_NOT_INITIALIZED, 0x91, 9038)        \
    X(TQP11_RTN_PIN_INCORRECT, 0xA0, 9039)                    \
    X(TQP11_RTN_PIN_INVALID, 0xA1, 9040)                      \
    X(TQP11_RTN_PIN_LEN_RANGE, 0xA2, 9041)                    \
    X(TQP11_RTN_PIN_EXPIRED, 0xA3, 9042)                      \
    X(TQP11_RTN_PIN_LOCKED, 0xA4, 9043)                       \
    X(TQP11_RTN_SESSION_CLOSED, 0xB0, 9044)                   \
    X(TQP11_RTN_SESSION_COUNT, 0xB1, 9045)                    \
    X(TQP11_RTN_SESSION_HANDLE_INVALID, 0xB3, 9046)           \
    X(TQP11_RTN_SESSION_PARALLEL_NOT_SUPPORTED, 0xB4, 9047)   \
    X(TQP11_RTN_SESSION_READ_ONLY, 0xB5, 9048)                \
    X(TQP11_RTN_SESSION_EXISTS, 0xB6, 9049)                   \
    X(TQP11_RTN_SESSION_READ_ONLY_EXISTS, 0xB7, 9050)         \
    X(TQP11_RTN_SESSION_READ_WRITE_SO_EXISTS, 0xB8, 9051)     \
    X(TQP11_RTN_SIGNATURE_INVALID, 0xC0, 9052)                \
    X(TQP11_RTN_SIGNATURE_LEN_RANGE, 0xC1, 9053)              \
    X(TQP11_RTN_TEMPLATE_INCOMPLETE, 0xD0, 9054)              \
    X(TQP11_RTN_TEMPLATE_INCONSISTENT, 0xD1, 9055)            \
    X(TQP11_RTN_TOKEN_NOT_PRESENT, 0xE0, 9056)                \
    X(TQP11_RTN_TOKEN_NOT_RECOGNIZED, 0xE1, 9057)             \
    X(TQP11_RTN_TOKEN_WRITE_PROTECTED, 0xE2, 9058)            \
    X(TQP11_RTN_UNWRAPPING_KEY_HANDLE_INVALID, 0xF0, 9059)    \
    X(TQP11_RTN_UNWRAPPING_KEY_SIZE_RANGE, 0xF1, 9060)        \
    X(TQP11_RTN_UNWRAPPING_KEY_TYPE_INCONSISTENT, 0xF2, 9061) \
    X(TQP11_RTN_USER_ALREADY_LOGGED_IN, 0x100, 9062)          \
    X(TQP11_RTN_USER_NOT_LOGGED_IN, 0x101, 9063)              \
    X(TQP11_RTN_USER_PIN_NOT_INITIALIZED, 0x102, 9064)        \
    X(TQP11_RTN_USER_TYPE_INVALID, 0x103, 9065)               \
    X(TQP11_RTN_USER_ANOTHER_ALREADY_LOGGED_IN, 0x104, 9066)  \
    X(TQP11_RTN_USER_TOO_MANY_TYPES, 0x105, 9067)             \
    X(TQP11_RTN_WRAPPED_KEY_INVALID, 0x110, 9068)             \
    X(TQP11_RTN_WRAPPED_KEY_LEN_RANGE, 0x112, 9069)           \
    X(TQP11_RTN_WRAPPING_KEY_HANDLE_INVALID, 0x113, 9070)     \
    X(TQP11_RTN_WRAPPING_KEY_SIZE_RANGE, 0x114, 9071)         \
    X(TQP11_RTN_WRAPPING_KEY_TYPE_INCONSISTENT, 0x115, 9072)  \
    X(TQP11_RTN_RANDOM_SEED_NOT_SUPPORTED, 0x120, 9073)       \
    X(TQP11_RTN_RANDOM_NO_RNG, 0x121, 9074)                   \
    X(TQP11_RTN_BUFFER_TOO_SMALL, 0x150, 9075)                \
    X(TQP11_RTN_SAVED_STATE_INVALID, 0x160, 9076)             \
    X(TQP11_RTN_INFORMATION_SENSITIVE, 0x170, 9077)           \
    X(TQP11_RTN_STATE_UNSAVEABLE, 0x180, 9078)                \
    X(TQP11_RTN_CRYPTOKI_NOT_INITIALIZED, 0x190, 9079)        \
    X(TQP11_RTN_CRYPTOKI_ALREADY_INITIALIZED, 0x191, 9080)    \
    X(TQP11_RTN_MUTEX_BAD, 0x1A0, 9081)                       \
    X(TQP11_RTN_MUTEX_NOT_LOCKED, 0x1A1, 9082)                \
    X(TQP11_RTN_VENDOR_DEFINED, 0x80000000, 9083)

/* The layer's own codes: passed through unchanged. */
#define TQP11_RTN_OWN_LIST(X)                                      \
    X(TQP11_RTN_MEMORY_ALLOCATE_FAIL, TQ_RTN_MEMORY_ALLOCATE_FAIL) \
    X(TQP11_RTN_OBJECT_NOT_EXIST, 9100)                            \
    X(TQP11_RTN_OBJECT_EXIST, 9101)                                \
    X(TQP11_RTN_OBJECT_HAS_PROBLEM, 9102)                          \
    X(TQP11_RTN_LOAD_LIBRARY_FAIL, 9110)                           \
    X(TQP11_RTN_LIBRARY_NOT_LOAD, 9111)                            \
    X(TQP11_RTN_SLOT_NOT_FOUND, 9112)

#define TQP11_MAPPED_ENUMERATOR(name, rv, code) name = code,
#define TQP11_OWN_ENUMERATOR(name, code) name = code,
enum {
    TQP11_RTN_MAPPED_LIST(TQP11_MAPPED_ENUMERATOR) TQP11_RTN_OWN_LIST(TQP11_OWN_ENUMERATOR)
        TQP11_RTN_UNKNOW_ERROR = 9999
};
#undef TQP11_MAPPED_ENUMERATOR
#undef TQP11_OWN_ENUMERATOR

/* Vendor functions some modules offer beside the standard list. */
typedef CK_RV (*TQXP11_C_LoginBegin)(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_ULONG_PTR partsRequired,
                                     CK_ULONG_PTR second);
typedef CK_RV (*TQXP11_C_LoginNext)(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR part,
                                    CK_ULONG partLength, CK_ULONG_PTR partsRequired);
typedef CK_RV (*TQXP11_C_LoginEnd)(CK_SESSION_HANDLE session, CK_USER_TYPE user);
typedef CK_RV (*TQXP11_C_Ext_SetUserInfo)(CK_SLOT_ID slot, CK_VOID_PTR info, CK_ULONG length);
typedef CK_RV (*TQXP11_C_GEM_GetSpecificParam)(CK_SLOT_ID slot, CK_ULONG parameter_number,
                                               CK_ULONG_PTR length, CK_BYTE_PTR data);
typedef CK_RV (*TQXP11_C_GEM_SetSpecificParam)(CK_SLOT_ID slot, CK_ULONG parameter_number, CK_ULONG length,
                                               CK_BYTE_PTR data);

#define TQXP11_PATH_SIZE 1024

/* One bound module. */
typedef struct TQXP11_MODULE {
    void *library;
    char path[TQXP11_PATH_SIZE];
    CK_C_Initialize C_Initialize;
    CK_C_GetSlotList C_GetSlotList;
    CK_C_Finalize C_Finalize;
    CK_C_GetSlotInfo C_GetSlotInfo;
    CK_C_GetTokenInfo C_GetTokenInfo;
    CK_C_InitToken C_InitToken;
    CK_C_OpenSession C_OpenSession;
    CK_C_Login C_Login;
    CK_C_InitPIN C_InitPIN;
    CK_C_Logout C_Logout;
    CK_C_CloseSession C_CloseSession;
    CK_C_GetSessionInfo C_GetSessionInfo;
    CK_C_SetPIN C_SetPIN;
    CK_C_FindObjectsInit C_FindObjectsInit;
    CK_C_FindObjects C_FindObjects;
    CK_C_FindObjectsFinal C_FindObjectsFinal;
    CK_C_CreateObject C_CreateObject;
    CK_C_GetAttributeValue C_GetAttributeValue;
    CK_C_DestroyObject C_DestroyObject;
    CK_C_DigestInit C_DigestInit;
    CK_C_Digest C_Digest;
    CK_C_DigestUpdate C_DigestUpdate;
    CK_C_DigestFinal C_DigestFinal;
    CK_C_GenerateKey C_GenerateKey;
    CK_C_GenerateKeyPair C_GenerateKeyPair;
    CK_C_EncryptInit C_EncryptInit;
    CK_C_Encrypt C_Encrypt;
    CK_C_DecryptInit C_DecryptInit;
    CK_C_Decrypt C_Decrypt;
    CK_C_SignInit C_SignInit;
    CK_C_Sign C_Sign;
    CK_C_VerifyInit C_VerifyInit;
    CK_C_Verify C_Verify;
    CK_C_EncryptUpdate C_EncryptUpdate;
    CK_C_EncryptFinal C_EncryptFinal;
    CK_C_DecryptUpdate C_DecryptUpdate;
    CK_C_DecryptFinal C_DecryptFinal;
    CK_C_SignUpdate C_SignUpdate;
    CK_C_SignFinal C_SignFinal;
    CK_C_VerifyUpdate C_VerifyUpdate;
    CK_C_VerifyFinal C_VerifyFinal;
    CK_C_VerifyRecoverInit C_VerifyRecoverInit;
    CK_C_VerifyRecover C_VerifyRecover;
    CK_C_SetAttributeValue C_SetAttributeValue;
    CK_C_WrapKey C_WrapKey;
    CK_C_UnwrapKey C_UnwrapKey;
    CK_C_GenerateRandom C_GenerateRandom;
    TQXP11_C_LoginBegin C_LoginBegin;
    TQXP11_C_LoginNext C_LoginNext;
    TQXP11_C_LoginEnd C_LoginEnd;
    TQXP11_C_Ext_SetUserInfo C_Ext_SetUserInfo;
    TQXP11_C_GEM_GetSpecificParam C_GEM_GetSpecificParam;
    TQXP11_C_GEM_SetSpecificParam C_GEM_SetSpecificParam;
    /* The module may keep the address of its initialisation arguments, so
     * their copy lives as long as the module stays loaded. */
    CK_C_INITIALIZE_ARGS initArgs;
} TQXP11_MODULE;

/* One loaded module and the slots that held a token at initialisation. */
typedef struct TQXP11_CONTEXT {
    uint64_t spare;
    uint64_t appData;
    CK_ULONG slotCount;
    CK_ULONG currentSlot;
    CK_SLOT_ID *slotList;
    CK_ULONG flags;
    TQXP11_MODULE *module;
} TQXP11_CONTEXT;

/* Label and CKA_ID lengths given to the module count the terminating NUL. */
#define TQXP11_OPTION_COUNT_NUL 0x1

/* One open session on the current slot of a context. */
typedef struct TQXP11_SESSION {
    uint64_t spare;
    uint64_t appData;
    CK_SESSION_HANDLE sessionHandle;
    CK_SESSION_INFO sessionInfo;
    CK_ULONG options;
    TQXP11_MODULE *module;
} TQXP11_SESSION;

/* Login kinds. */
#define TQXP11_LOGIN_SO 0x10000
#define TQXP11_LOGIN_USER 0x20000

/* Slot parameter of the vendor PIN flag. */
#define TQXP11_PARAM_PIN_FLAG 5

/* The login function of a bank-login library. */
typedef int (*TQXP11_BANK_LOGIN_FN)(const char *first, const char *second, int sessionHandle);
TQ_API extern TQXP11_BANK_LOGIN_FN X_BankLogin;

/* Result codes */
TQ_API int TQXP11_ErrorCode(CK_RV rv);
TQ_API const char *TQXP11_ErrorMessage(int64_t code);

/* Module lifecycle. Close every session of a context before its final. */
TQ_API int TQXP11_InitEx(TQXP11_CONTEXT *context, const char *path, const CK_C_INITIALIZE_ARGS *initArgs);
TQ_API int TQXP11_Init(TQXP11_CONTEXT *context, const char *path);
TQ_API int TQXP11_MTInit(TQXP11_CONTEXT *context, const char *path);
TQ_API int TQXP11_Final(TQXP11_CONTEXT *context);
TQ_API const CK_C_INITIALIZE_ARGS *TQXP11_SyncMutex(void);
TQ_API const CK_C_INITIALIZE_ARGS *TQXP11_SyncCriticalSection(void);
TQ_API CK_RV TQXP11_CreateMutex(CK_VOID_PTR_PTR mutex);
TQ_API CK_RV TQXP11_DestroyMutex(CK_VOID_PTR mutex);
TQ_API CK_RV TQXP11_LockMutex(CK_VOID_PTR mutex);
TQ_API CK_RV TQXP11_UnlockMutex(CK_VOID_PTR mutex);

/* Slots and tokens */
TQ_API int TQXP11_SetCurrentSlot(TQXP11_CONTEXT *context, CK_ULONG index);
TQ_API int TQXP11_SetFlag(TQXP11_CONTEXT *context, CK_ULONG flag);
TQ_API int TQXP11_GetSlotList(TQXP11_CONTEXT *context, CK_BBOOL tokenPresent, CK_SLOT_ID_PTR slots,
                              CK_ULONG_PTR number);
/* One record per listed slot; the caller releases the array with free(). */
TQ_API int TQXP11_GetSlotInfo(TQXP11_CONTEXT *context, CK_SLOT_INFO **infos);
TQ_API int TQXP11_GetTokenInfo(TQXP11_CONTEXT *context, CK_TOKEN_INFO *info);
TQ_API int TQXP11_TokenFormat(TQXP11_CONTEXT *context, const char *soPin, const char *userPin);
TQ_API int TQXP11_TokenFormatEx(TQXP11_CONTEXT *context, const char *soPin, const char *userPin,
                                const char *label);
TQ_API int TQXP11_SetGEMPinFlag(TQXP11_CONTEXT *context, CK_BYTE flag);
TQ_API int TQXP11_GetGEMPinFlag(TQXP11_CONTEXT *context, int *flag);

/* Sessions */
TQ_API int TQXP11_SessionOpenEx(TQXP11_CONTEXT *context, TQXP11_SESSION *session, int readWrite);
TQ_API int TQXP11_SessionOpen(TQXP11_CONTEXT *context, TQXP11_SESSION *session);
TQ_API int TQXP11_SessionClose(TQXP11_SESSION *session);
TQ_API int TQXP11_GetSessionInfo(TQXP11_SESSION *session, CK_BBOOL *loggedIn);
TQ_API int TQXP11_GetRetryCounter(TQXP11_SESSION *session, int kind, int *counter);

/* Logins. A null PIN goes to the module as none (length 0), as for a
 * protected authentication path. */
TQ_API int TQXP11_Login(TQXP11_SESSION *session, const char *pin);
TQ_API int TQXP11_SOLogin(TQXP11_SESSION *session, const char *pin);
TQ_API int TQXP11Login(TQXP11_SESSION *session, int kind, const char *pin);
TQ_API int TQXP11_LoginInit(TQXP11_SESSION *session, CK_ULONG_PTR partsRequired, CK_ULONG_PTR second);
TQ_API int TQXP11_LoginUpdate(TQXP11_SESSION *session, const char *part, CK_ULONG_PTR partsRequired);
TQ_API int TQXP11_LoginFinal(TQXP11_SESSION *session);
TQ_API int TQXP11_Logout(TQXP11_SESSION *session);
TQ_API int TQXP11_BankLogin(TQXP11_SESSION *session, const char *libraryPath, const char *first,
                            const char *second);

/* PINs */
TQ_API int TQXP11_ChangePin(TQXP11_SESSION *session, const char *oldPin, const char *newPin);
TQ_API int TQXP11_ChangeSoPin(TQXP11_SESSION *session, const char *soPin, const char *newSoPin);
TQ_API int TQXP11_InitPIN(TQXP11_SESSION *session, const char *soPin, const char *userPin);

#ifdef __cplusplus
}
#endif

#endif

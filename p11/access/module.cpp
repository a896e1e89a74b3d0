// Loading one PKCS#11 module, binding its functions, its initialisation and
// finalisation.
#include <dlfcn.h>

#include <cstdio>

#include "access_internal.h"

namespace {

using tqp11::Result;

struct LibraryCloser {
    void operator()(void *library) const { dlclose(library); }
};
using LibraryPtr = std::unique_ptr<void, LibraryCloser>;

// Answers for the vendor functions a module lacks. Each has the exact type
// of the slot it fills: calling through a mismatched type is undefined.
CK_RV unsupportedLoginBegin(CK_SESSION_HANDLE, CK_USER_TYPE, CK_ULONG_PTR, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV unsupportedLoginNext(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR, CK_ULONG, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV unsupportedLoginEnd(CK_SESSION_HANDLE, CK_USER_TYPE) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV unsupportedSetUserInfo(CK_SLOT_ID, CK_VOID_PTR, CK_ULONG) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV unsupportedGetSpecificParam(CK_SLOT_ID, CK_ULONG, CK_ULONG_PTR, CK_BYTE_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV unsupportedSetSpecificParam(CK_SLOT_ID, CK_ULONG, CK_ULONG, CK_BYTE_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}

// A module with the slot-parameter extension places its two functions right
// after the standard list.
struct ExtendedFunctionList {
    CK_FUNCTION_LIST standard;
    TQXP11_C_GEM_GetSpecificParam getSpecificParam;
    TQXP11_C_GEM_SetSpecificParam setSpecificParam;
};

template <typename Fn>
Fn lookUp(void *library, const char *name, Fn fallback) {
    void *address = dlsym(library, name);
    return address ? reinterpret_cast<Fn>(address) : fallback;
}

Result bindFunctionList(void *library, TQXP11_MODULE *module) {
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    if (!getFunctionList) return CKR_FUNCTION_NOT_SUPPORTED;
    CK_FUNCTION_LIST_PTR list = nullptr;
    if (getFunctionList(&list) != CKR_OK || !list) return CKR_FUNCTION_FAILED;

#define TQP11_BIND(name) module->name = list->name;
    TQP11_BIND(C_Initialize)
    TQP11_BIND(C_GetSlotList) TQP11_BIND(C_Finalize) TQP11_BIND(C_GetSlotInfo) TQP11_BIND(C_GetTokenInfo)
        TQP11_BIND(C_InitToken) TQP11_BIND(C_OpenSession) TQP11_BIND(C_Login) TQP11_BIND(C_InitPIN)
            TQP11_BIND(C_Logout) TQP11_BIND(C_CloseSession) TQP11_BIND(C_GetSessionInfo) TQP11_BIND(C_SetPIN)
                TQP11_BIND(C_FindObjectsInit) TQP11_BIND(C_FindObjects) TQP11_BIND(C_FindObjectsFinal)
                    TQP11_BIND(C_CreateObject) TQP11_BIND(C_GetAttributeValue) TQP11_BIND(C_DestroyObject)
                        TQP11_BIND(C_DigestInit) TQP11_BIND(C_Digest) TQP11_BIND(C_DigestUpdate)
                            TQP11_BIND(C_DigestFinal) TQP11_BIND(C_GenerateKey) TQP11_BIND(C_GenerateKeyPair)
                                TQP11_BIND(C_EncryptInit) TQP11_BIND(C_Encrypt) TQP11_BIND(C_DecryptInit)
                                    TQP11_BIND(C_Decrypt) TQP11_BIND(C_SignInit) TQP11_BIND(C_Sign)
                                        TQP11_BIND(C_VerifyInit) TQP11_BIND(C_Verify)
                                            TQP11_BIND(C_EncryptUpdate) TQP11_BIND(C_EncryptFinal)
                                                TQP11_BIND(C_DecryptUpdate) TQP11_BIND(C_DecryptFinal)
                                                    TQP11_BIND(C_SignUpdate) TQP11_BIND(C_SignFinal)
                                                        TQP11_BIND(C_VerifyUpdate) TQP11_BIND(C_VerifyFinal)
                                                            TQP11_BIND(C_VerifyRecoverInit)
                                                                TQP11_BIND(C_VerifyRecover)
                                                                    TQP11_BIND(C_SetAttributeValue)
                                                                        TQP11_BIND(C_WrapKey)
                                                                            TQP11_BIND(C_UnwrapKey)
                                                                                TQP11_BIND(C_GenerateRandom)
#undef TQP11_BIND

        // Only a module that exports the extension's names has the two entries
        // after its list; reading them from any other would run past its end.
        module->C_GEM_GetSpecificParam = unsupportedGetSpecificParam;
    module->C_GEM_SetSpecificParam = unsupportedSetSpecificParam;
    if (dlsym(library, "C_GEM_GetSpecificParam") && dlsym(library, "C_GEM_SetSpecificParam")) {
        const auto *extended = reinterpret_cast<const ExtendedFunctionList *>(list);
        if (extended->getSpecificParam) module->C_GEM_GetSpecificParam = extended->getSpecificParam;
        if (extended->setSpecificParam) module->C_GEM_SetSpecificParam = extended->setSpecificParam;
    }

    module->C_LoginBegin = lookUp<TQXP11_C_LoginBegin>(library, "C_LoginBegin", unsupportedLoginBegin);
    module->C_LoginNext = lookUp<TQXP11_C_LoginNext>(library, "C_LoginNext", unsupportedLoginNext);
    module->C_LoginEnd = lookUp<TQXP11_C_LoginEnd>(library, "C_LoginEnd", unsupportedLoginEnd);
    module->C_Ext_SetUserInfo =
        lookUp<TQXP11_C_Ext_SetUserInfo>(library, "C_Ext_SetUserInfo", unsupportedSetUserInfo);
    return CKR_OK;
}

// Reads the slots that hold a token into the context.
Result readSlots(TQXP11_CONTEXT *context, TQXP11_MODULE *module) {
    CK_ULONG slotCount = 0;
    Result rv = module->C_GetSlotList(CK_TRUE, nullptr, &slotCount);
    if (rv != CKR_OK) return rv;
    if (slotCount == 0) return CKR_TOKEN_NOT_PRESENT;
    tqp11::SystemPtr<CK_SLOT_ID> slots(static_cast<CK_SLOT_ID *>(std::calloc(slotCount, sizeof(CK_SLOT_ID))));
    if (!slots) return TQP11_RTN_MEMORY_ALLOCATE_FAIL;
    const CK_ULONG capacity = slotCount;
    rv = module->C_GetSlotList(CK_TRUE, slots.get(), &slotCount);
    if (rv != CKR_OK) return rv;
    // Only the IDs that fit were written, whatever count comes back.
    if (slotCount > capacity) slotCount = capacity;
    if (slotCount == 0) return CKR_TOKEN_NOT_PRESENT;
    context->slotList = slots.release();
    context->slotCount = slotCount;
    return CKR_OK;
}

Result initialise(TQXP11_CONTEXT *context, const char *path, const CK_C_INITIALIZE_ARGS *initArgs) {
    if (!context) return CKR_ARGUMENTS_BAD;
    CK_C_INITIALIZE_ARGS argsCopy{};
    if (initArgs) argsCopy = *initArgs;
    *context = TQXP11_CONTEXT{};

    tqp11::SystemPtr<TQXP11_MODULE> module(
        static_cast<TQXP11_MODULE *>(std::calloc(1, sizeof(TQXP11_MODULE))));
    if (!module) return TQP11_RTN_MEMORY_ALLOCATE_FAIL;
    if (!path) return TQP11_RTN_LOAD_LIBRARY_FAIL;
    LibraryPtr library(dlopen(path, RTLD_LAZY));
    if (!library) return TQP11_RTN_LOAD_LIBRARY_FAIL;
    Result rv = bindFunctionList(library.get(), module.get());
    if (rv != CKR_OK) return rv;
    module->library = library.get();
    std::snprintf(module->path, sizeof module->path, "%s", path);

    CK_VOID_PTR moduleArgs = nullptr;
    if (initArgs) {
        module->initArgs = argsCopy;
        moduleArgs = &module->initArgs;
    }
    rv = module->C_Initialize(moduleArgs);
    if (rv != CKR_OK) return rv;
    rv = readSlots(context, module.get());
    if (rv != CKR_OK) {
        module->C_Finalize(nullptr);
        return rv;
    }
    context->module = module.release();
    library.release();
    return CKR_OK;
}

}  // namespace

extern "C" {

TQ_API int TQXP11_InitEx(TQXP11_CONTEXT *context, const char *path,
                         const CK_C_INITIALIZE_ARGS *initArgs) try {
    return TQXP11_ErrorCode(initialise(context, path, initArgs));
}
TQ_CATCH_CODE

TQ_API int TQXP11_Init(TQXP11_CONTEXT *context, const char *path) try {
    return TQXP11_InitEx(context, path, nullptr);
}
TQ_CATCH_CODE

TQ_API int TQXP11_MTInit(TQXP11_CONTEXT *context, const char *path) try {
    return TQXP11_InitEx(context, path, nullptr);
}
TQ_CATCH_CODE

TQ_API int TQXP11_Final(TQXP11_CONTEXT *context) try {
    if (!context) return TQXP11_ErrorCode(CKR_ARGUMENTS_BAD);
    Result rv = TQP11_RTN_LIBRARY_NOT_LOAD;
    if (TQXP11_MODULE *module = context->module) {
        rv = module->C_Finalize(nullptr);
        dlclose(module->library);
        std::free(module);
        context->module = nullptr;
    }
    std::free(context->slotList);
    context->slotList = nullptr;
    context->slotCount = 0;
    context->currentSlot = 0;
    return TQXP11_ErrorCode(rv);
}
TQ_CATCH_CODE

}  // extern "C"

// Loading a module, its initialisation and finalisation, the mutex
// callbacks, and the result-code table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "shim_state.h"
#include "softtoken.h"

namespace {

using p11test::SoftToken;

bool stillLoaded(const char *path) {
    void *handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return false;
    dlclose(handle);
    return true;
}

// The PKCS#11 values the layer maps, in ascending order: the n-th becomes 9000 + n.
#define TQ_ROW(rv) \
    { rv, #rv }
struct MappedValue {
    CK_RV rv;
    const char *pkcs11Name;
};
const MappedValue kMapped[] = {TQ_ROW(CKR_CANCEL),
                               TQ_ROW(CKR_HOST_MEMORY),
                               TQ_ROW(CKR_SLOT_ID_INVALID),
                               TQ_ROW(CKR_GENERAL_ERROR),
                               TQ_ROW(CKR_FUNCTION_FAILED),
                               TQ_ROW(CKR_ARGUMENTS_BAD),
                               TQ_ROW(CKR_NO_EVENT),
                               TQ_ROW(CKR_NEED_TO_CREATE_THREADS),
                               TQ_ROW(CKR_CANT_LOCK),
                               TQ_ROW(CKR_ATTRIBUTE_READ_ONLY),
                               TQ_ROW(CKR_ATTRIBUTE_SENSITIVE),
                               TQ_ROW(CKR_ATTRIBUTE_TYPE_INVALID),
                               TQ_ROW(CKR_ATTRIBUTE_VALUE_INVALID),
                               TQ_ROW(CKR_DATA_INVALID),
                               TQ_ROW(CKR_DATA_LEN_RANGE),
                               TQ_ROW(CKR_DEVICE_ERROR),
                               TQ_ROW(CKR_DEVICE_MEMORY),
                               TQ_ROW(CKR_DEVICE_REMOVED),
                               TQ_ROW(CKR_ENCRYPTED_DATA_INVALID),
                               TQ_ROW(CKR_ENCRYPTED_DATA_LEN_RANGE),
                               TQ_ROW(CKR_FUNCTION_CANCELED),
                               TQ_ROW(CKR_FUNCTION_NOT_PARALLEL),
                               TQ_ROW(CKR_FUNCTION_NOT_SUPPORTED),
                               TQ_ROW(CKR_KEY_HANDLE_INVALID),
                               TQ_ROW(CKR_KEY_SIZE_RANGE),
                               TQ_ROW(CKR_KEY_TYPE_INCONSISTENT),
                               TQ_ROW(CKR_KEY_NOT_NEEDED),
                               TQ_ROW(CKR_KEY_CHANGED),
                               TQ_ROW(CKR_KEY_NEEDED),
                               TQ_ROW(CKR_KEY_INDIGESTIBLE),
                               TQ_ROW(CKR_KEY_FUNCTION_NOT_PERMITTED),
                               TQ_ROW(CKR_KEY_NOT_WRAPPABLE),
                               TQ_ROW(CKR_KEY_UNEXTRACTABLE),
                               TQ_ROW(CKR_MECHANISM_INVALID),
                               TQ_ROW(CKR_MECHANISM_PARAM_INVALID),
                               TQ_ROW(CKR_OBJECT_HANDLE_INVALID),
                               TQ_ROW(CKR_OPERATION_ACTIVE),
                               TQ_ROW(CKR_OPERATION_NOT_INITIALIZED),
                               TQ_ROW(CKR_PIN_INCORRECT),
                               TQ_ROW(CKR_PIN_INVALID),
                               TQ_ROW(CKR_PIN_LEN_RANGE),
                               TQ_ROW(CKR_PIN_EXPIRED),
                               TQ_ROW(CKR_PIN_LOCKED),
                               TQ_ROW(CKR_SESSION_CLOSED),
                               TQ_ROW(CKR_SESSION_COUNT),
                               TQ_ROW(CKR_SESSION_HANDLE_INVALID),
                               TQ_ROW(CKR_SESSION_PARALLEL_NOT_SUPPORTED),
                               TQ_ROW(CKR_SESSION_READ_ONLY),
                               TQ_ROW(CKR_SESSION_EXISTS),
                               TQ_ROW(CKR_SESSION_READ_ONLY_EXISTS),
                               TQ_ROW(CKR_SESSION_READ_WRITE_SO_EXISTS),
                               TQ_ROW(CKR_SIGNATURE_INVALID),
                               TQ_ROW(CKR_SIGNATURE_LEN_RANGE),
                               TQ_ROW(CKR_TEMPLATE_INCOMPLETE),
                               TQ_ROW(CKR_TEMPLATE_INCONSISTENT),
                               TQ_ROW(CKR_TOKEN_NOT_PRESENT),
                               TQ_ROW(CKR_TOKEN_NOT_RECOGNIZED),
                               TQ_ROW(CKR_TOKEN_WRITE_PROTECTED),
                               TQ_ROW(CKR_UNWRAPPING_KEY_HANDLE_INVALID),
                               TQ_ROW(CKR_UNWRAPPING_KEY_SIZE_RANGE),
                               TQ_ROW(CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT),
                               TQ_ROW(CKR_USER_ALREADY_LOGGED_IN),
                               TQ_ROW(CKR_USER_NOT_LOGGED_IN),
                               TQ_ROW(CKR_USER_PIN_NOT_INITIALIZED),
                               TQ_ROW(CKR_USER_TYPE_INVALID),
                               TQ_ROW(CKR_USER_ANOTHER_ALREADY_LOGGED_IN),
                               TQ_ROW(CKR_USER_TOO_MANY_TYPES),
                               TQ_ROW(CKR_WRAPPED_KEY_INVALID),
                               TQ_ROW(CKR_WRAPPED_KEY_LEN_RANGE),
                               TQ_ROW(CKR_WRAPPING_KEY_HANDLE_INVALID),
                               TQ_ROW(CKR_WRAPPING_KEY_SIZE_RANGE),
                               TQ_ROW(CKR_WRAPPING_KEY_TYPE_INCONSISTENT),
                               TQ_ROW(CKR_RANDOM_SEED_NOT_SUPPORTED),
                               TQ_ROW(CKR_RANDOM_NO_RNG),
                               TQ_ROW(CKR_BUFFER_TOO_SMALL),
                               TQ_ROW(CKR_SAVED_STATE_INVALID),
                               TQ_ROW(CKR_INFORMATION_SENSITIVE),
                               TQ_ROW(CKR_STATE_UNSAVEABLE),
                               TQ_ROW(CKR_CRYPTOKI_NOT_INITIALIZED),
                               TQ_ROW(CKR_CRYPTOKI_ALREADY_INITIALIZED),
                               TQ_ROW(CKR_MUTEX_BAD),
                               TQ_ROW(CKR_MUTEX_NOT_LOCKED),
                               TQ_ROW(CKR_VENDOR_DEFINED)};
#undef TQ_ROW

TEST(p11Codes, EveryMappedValueHasItsCodeAndName) {
    ASSERT_EQ(sizeof kMapped / sizeof kMapped[0], 83u);
    CK_RV previous = 0;
    int code = 9000;
    for (const MappedValue &m : kMapped) {
        ++code;
        SCOPED_TRACE(m.pkcs11Name);
        EXPECT_GT(m.rv, previous);
        previous = m.rv;
        EXPECT_EQ(TQXP11_ErrorCode(m.rv), code);
        EXPECT_STREQ(TQXP11_ErrorMessage(code), (std::string("TQP11_RTN_") + (m.pkcs11Name + 4)).c_str());
    }
    EXPECT_EQ(TQXP11_ErrorCode(CKR_OK), TQP11_RTN_OK);
    EXPECT_STREQ(TQXP11_ErrorMessage(TQP11_RTN_OK), "TQP11_RTN_OK");
}

TEST(p11Codes, OwnCodesPassThroughAndTheRestIsUnknown) {
    // Each own code by its name, with the value callers were given for it.
#define TQ_OWN(name, value) \
    { name, value, #name }
    struct Own {
        int code, value;
        const char *name;
    } own[] = {TQ_OWN(TQP11_RTN_MEMORY_ALLOCATE_FAIL, 5002), TQ_OWN(TQP11_RTN_OBJECT_NOT_EXIST, 9100),
               TQ_OWN(TQP11_RTN_OBJECT_EXIST, 9101),         TQ_OWN(TQP11_RTN_OBJECT_HAS_PROBLEM, 9102),
               TQ_OWN(TQP11_RTN_LOAD_LIBRARY_FAIL, 9110),    TQ_OWN(TQP11_RTN_LIBRARY_NOT_LOAD, 9111),
               TQ_OWN(TQP11_RTN_SLOT_NOT_FOUND, 9112)};
#undef TQ_OWN
    for (const Own &o : own) {
        SCOPED_TRACE(o.name);
        EXPECT_EQ(o.code, o.value);
        EXPECT_EQ(TQXP11_ErrorCode(o.code), o.code);
        EXPECT_STREQ(TQXP11_ErrorMessage(o.code), o.name);
    }
    EXPECT_EQ(TQP11_RTN_MEMORY_ALLOCATE_FAIL, TQ_RTN_MEMORY_ALLOCATE_FAIL);
    EXPECT_EQ(TQP11_RTN_UNKNOW_ERROR, 9999);
    // Values outside the table, among them codes the layer gives but does not
    // take back, and codes of the crypto core.
    for (CK_RV rv :
         {CK_RV(0x4), CK_RV(CKR_DOMAIN_PARAMS_INVALID), CK_RV(CKR_FUNCTION_REJECTED),
          CK_RV(CKR_VENDOR_DEFINED + 1), CK_RV(TQ_RTN_BUFFER_TOO_SMALL), CK_RV(TQP11_RTN_UNKNOW_ERROR),
          CK_RV(TQP11_RTN_VENDOR_DEFINED), CK_RV(0xFFFFFFFFFFFFFFFF)})
        EXPECT_EQ(TQXP11_ErrorCode(rv), TQP11_RTN_UNKNOW_ERROR) << std::hex << rv;
    // Only codes have names: a raw PKCS#11 value has none.
    for (int64_t code : {int64_t(TQP11_RTN_UNKNOW_ERROR), int64_t(1234), int64_t(CKR_ARGUMENTS_BAD),
                         int64_t(-1), int64_t(TQP11_RTN_VENDOR_DEFINED + 1)})
        EXPECT_STREQ(TQXP11_ErrorMessage(code), "TQP11_RTN_UNKNOW_ERROR") << code;
}

TEST(p11Mutex, CallbacksLockAndRefuseNull) {
    EXPECT_EQ(TQXP11_CreateMutex(nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(TQXP11_LockMutex(nullptr), CKR_MUTEX_BAD);
    EXPECT_EQ(TQXP11_UnlockMutex(nullptr), CKR_MUTEX_BAD);
    EXPECT_EQ(TQXP11_DestroyMutex(nullptr), CKR_MUTEX_BAD);
    void *mutex = nullptr;
    ASSERT_EQ(TQXP11_CreateMutex(&mutex), CKR_OK);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(TQXP11_LockMutex(mutex), CKR_OK);
    EXPECT_EQ(TQXP11_UnlockMutex(mutex), CKR_OK);
    EXPECT_EQ(TQXP11_DestroyMutex(mutex), CKR_OK);

    const CK_C_INITIALIZE_ARGS *block = TQXP11_SyncMutex();
    EXPECT_EQ(block, TQXP11_SyncCriticalSection());
    EXPECT_EQ(block->CreateMutex, &TQXP11_CreateMutex);
    EXPECT_EQ(block->DestroyMutex, &TQXP11_DestroyMutex);
    EXPECT_EQ(block->LockMutex, &TQXP11_LockMutex);
    EXPECT_EQ(block->UnlockMutex, &TQXP11_UnlockMutex);
    EXPECT_EQ(block->flags, 0u);
    EXPECT_EQ(block->pReserved, nullptr);
}

class p11Lifecycle : public ::testing::Test {
protected:
    void SetUp() override { shim::reset(); }
    void TearDown() override {
        if (context.module) TQXP11_Final(&context);
        std::free(context.slotList);
    }
    SoftToken token;
    TQXP11_CONTEXT context{};
};

TEST_F(p11Lifecycle, InitListsTheTokenAndFinalUnloads) {
    ASSERT_EQ(p11test::loadOn(&context, TQ_SOFTHSM_MODULE, token.label()), TQP11_RTN_OK);
    EXPECT_GE(context.slotCount, 1u);
    ASSERT_NE(context.module, nullptr);
    EXPECT_STREQ(context.module->path, TQ_SOFTHSM_MODULE);
    EXPECT_EQ(context.spare, 0u);
    EXPECT_EQ(TQXP11_Final(&context), TQP11_RTN_OK);
    EXPECT_EQ(context.module, nullptr);
    EXPECT_EQ(context.slotList, nullptr);
    EXPECT_EQ(TQXP11_Final(&context), TQP11_RTN_LIBRARY_NOT_LOAD);
}

TEST_F(p11Lifecycle, ModuleGetsTheMutexBlockForAsLongAsItIsLoaded) {
    ASSERT_EQ(p11test::loadOn(&context, TQ_SHIM_MODULE, token.label(), TQXP11_SyncMutex()), TQP11_RTN_OK);
    const shim::State &seen = shim::state();
    ASSERT_TRUE(seen.initArgsGiven);
    // A copy of the caller's block, still intact after the call returned.
    EXPECT_NE(seen.initArgs, TQXP11_SyncMutex());
    for (const CK_C_INITIALIZE_ARGS *args : {&seen.initArgsCopy, seen.initArgs}) {
        EXPECT_EQ(args->CreateMutex, &TQXP11_CreateMutex);
        EXPECT_EQ(args->DestroyMutex, &TQXP11_DestroyMutex);
        EXPECT_EQ(args->LockMutex, &TQXP11_LockMutex);
        EXPECT_EQ(args->UnlockMutex, &TQXP11_UnlockMutex);
        EXPECT_EQ(args->flags, 0u);
    }
    // SoftHSM2 locks through the callbacks; a login works through them.
    TQXP11_SESSION session{};
    ASSERT_EQ(TQXP11_SessionOpen(&context, &session), TQP11_RTN_OK);
    EXPECT_EQ(TQXP11_Login(&session, token.userPin().c_str()), TQP11_RTN_OK);
    EXPECT_EQ(TQXP11_SessionClose(&session), TQP11_RTN_OK);
    EXPECT_EQ(TQXP11_Final(&context), TQP11_RTN_OK);
}

TEST_F(p11Lifecycle, InitAndMTInitPassNoArguments) {
    ASSERT_EQ(p11test::loadOn(&context, TQ_SHIM_MODULE, token.label()), TQP11_RTN_OK);
    EXPECT_FALSE(shim::state().initArgsGiven);
    ASSERT_EQ(TQXP11_Final(&context), TQP11_RTN_OK);
    shim::reset();
    ASSERT_EQ(TQXP11_MTInit(&context, TQ_SHIM_MODULE), TQP11_RTN_OK);
    EXPECT_EQ(shim::calls("C_Initialize"), 1);
    EXPECT_FALSE(shim::state().initArgsGiven);
}

TEST_F(p11Lifecycle, LoadFailures) {
    EXPECT_EQ(TQXP11_Init(&context, nullptr), TQP11_RTN_LOAD_LIBRARY_FAIL);
    EXPECT_EQ(TQXP11_Init(&context, token.file("no-such-module.so").c_str()), TQP11_RTN_LOAD_LIBRARY_FAIL);
    EXPECT_EQ(TQXP11_Init(&context, TQ_SHIM_NOLIST_MODULE), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    EXPECT_FALSE(stillLoaded(TQ_SHIM_NOLIST_MODULE));
    shim::state().failGetFunctionList = true;
    EXPECT_EQ(TQXP11_Init(&context, TQ_SHIM_MODULE), TQP11_RTN_FUNCTION_FAILED);
    EXPECT_EQ(context.module, nullptr);
    EXPECT_FALSE(stillLoaded(TQ_SHIM_MODULE));
}

TEST_F(p11Lifecycle, FailingInitializeIsReported) {
    setenv("SOFTHSM2_CONF", token.file("missing.conf").c_str(), 1);
    EXPECT_EQ(TQXP11_Init(&context, TQ_SOFTHSM_MODULE), TQP11_RTN_GENERAL_ERROR);
    EXPECT_EQ(context.module, nullptr);
    EXPECT_EQ(TQXP11_Init(&context, TQ_SHIM_MODULE), TQP11_RTN_GENERAL_ERROR);
    EXPECT_EQ(shim::calls("C_Finalize"), 0);
    EXPECT_EQ(context.module, nullptr);
    EXPECT_FALSE(stillLoaded(TQ_SHIM_MODULE));
}

TEST_F(p11Lifecycle, NoTokenFinalisesAndCloses) {
    shim::state().emptyTokenList = true;
    EXPECT_EQ(TQXP11_Init(&context, TQ_SHIM_MODULE), TQP11_RTN_TOKEN_NOT_PRESENT);
    EXPECT_EQ(shim::calls("C_Finalize"), 1);
    EXPECT_EQ(context.module, nullptr);
    EXPECT_EQ(context.slotList, nullptr);
    EXPECT_EQ(context.slotCount, 0u);
    EXPECT_FALSE(stillLoaded(TQ_SHIM_MODULE));
}

TEST_F(p11Lifecycle, FailingSecondSlotListFailsTheInit) {
    shim::state().injections["C_GetSlotList"] = {CKR_DEVICE_ERROR, 1, 1};
    EXPECT_EQ(TQXP11_Init(&context, TQ_SHIM_MODULE), TQP11_RTN_DEVICE_ERROR);
    EXPECT_EQ(shim::calls("C_GetSlotList"), 2);
    EXPECT_EQ(shim::calls("C_Finalize"), 1);
    EXPECT_EQ(context.module, nullptr);
    EXPECT_EQ(context.slotList, nullptr);
    EXPECT_FALSE(stillLoaded(TQ_SHIM_MODULE));
}

TEST_F(p11Lifecycle, SlotCountBeyondTheListIsNotBelieved) {
    CK_ULONG real = 0;
    ASSERT_EQ(p11test::loadOn(&context, TQ_SHIM_MODULE, token.label()), TQP11_RTN_OK);
    real = context.slotCount;
    ASSERT_EQ(TQXP11_Final(&context), TQP11_RTN_OK);
    shim::state().extraSlots = 5;
    ASSERT_EQ(TQXP11_Init(&context, TQ_SHIM_MODULE), TQP11_RTN_OK);
    EXPECT_EQ(context.slotCount, real);
    CK_SLOT_INFO *infos = nullptr;
    EXPECT_EQ(TQXP11_GetSlotInfo(&context, &infos), TQP11_RTN_OK);
    std::free(infos);
}

TEST_F(p11Lifecycle, FailingFinalizeStillUnloads) {
    ASSERT_EQ(TQXP11_Init(&context, TQ_SHIM_MODULE), TQP11_RTN_OK);
    shim::state().injections["C_Finalize"] = {CKR_FUNCTION_FAILED, 0, 1};
    EXPECT_EQ(TQXP11_Final(&context), TQP11_RTN_FUNCTION_FAILED);
    EXPECT_EQ(context.module, nullptr);
    EXPECT_EQ(context.slotList, nullptr);
    EXPECT_FALSE(stillLoaded(TQ_SHIM_MODULE));
}

TEST_F(p11Lifecycle, LongPathLoadsAndKeepsItsFirst1023Characters) {
    const std::string module = TQ_SOFTHSM_MODULE;
    const size_t cut = module.rfind('/') + 1;
    std::string padding;
    while (module.size() + padding.size() < 1500) padding += "./";
    const std::string path = module.substr(0, cut) + padding + module.substr(cut);
    ASSERT_GE(path.size(), 1500u);
    ASSERT_EQ(TQXP11_Init(&context, path.c_str()), TQP11_RTN_OK);
    EXPECT_EQ(std::string(context.module->path), path.substr(0, 1023));
}

TEST_F(p11Lifecycle, StandardListOnlyModuleAnswersVendorCallsAsUnsupported) {
    ASSERT_EQ(p11test::loadOn(&context, TQ_SHIM_STANDARD_MODULE, token.label()), TQP11_RTN_OK);
    EXPECT_EQ(TQXP11_SetGEMPinFlag(&context, 1), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    int flag = 0;
    EXPECT_EQ(TQXP11_GetGEMPinFlag(&context, &flag), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    TQXP11_SESSION session{};
    ASSERT_EQ(TQXP11_SessionOpen(&context, &session), TQP11_RTN_OK);
    CK_ULONG parts = 0, second = 0;
    EXPECT_EQ(TQXP11_LoginInit(&session, &parts, &second), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(TQXP11_LoginUpdate(&session, "12", &parts), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(TQXP11_LoginFinal(&session), TQP11_RTN_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(context.module->C_Ext_SetUserInfo(0, nullptr, 0), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(TQXP11_SessionClose(&session), TQP11_RTN_OK);
}

}  // namespace

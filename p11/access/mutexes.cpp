// The mutex callbacks a caller may hand to the module at initialisation.
#include <pthread.h>

#include <cstdlib>

#include "access_internal.h"

namespace {

const CK_C_INITIALIZE_ARGS syncMutex = {
    TQXP11_CreateMutex, TQXP11_DestroyMutex, TQXP11_LockMutex, TQXP11_UnlockMutex, 0, nullptr};

}  // namespace

extern "C" {

TQ_API const CK_C_INITIALIZE_ARGS *TQXP11_SyncMutex(void) try { return &syncMutex; }
TQ_CATCH_EMPTY
TQ_API const CK_C_INITIALIZE_ARGS *TQXP11_SyncCriticalSection(void) try { return &syncMutex; }
TQ_CATCH_EMPTY

TQ_API CK_RV TQXP11_CreateMutex(CK_VOID_PTR_PTR mutex) try {
    if (!mutex) return CKR_ARGUMENTS_BAD;
    auto *created = static_cast<pthread_mutex_t *>(std::malloc(sizeof(pthread_mutex_t)));
    if (!created) return CKR_FUNCTION_NOT_SUPPORTED;
    if (pthread_mutex_init(created, nullptr) != 0) {
        std::free(created);
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
    *mutex = created;
    return CKR_OK;
}
TQ_CATCH_RETURN(CKR_FUNCTION_NOT_SUPPORTED)

TQ_API CK_RV TQXP11_DestroyMutex(CK_VOID_PTR mutex) try {
    if (!mutex || pthread_mutex_destroy(static_cast<pthread_mutex_t *>(mutex)) != 0) return CKR_MUTEX_BAD;
    std::free(mutex);
    return CKR_OK;
}
TQ_CATCH_RETURN(CKR_GENERAL_ERROR)

TQ_API CK_RV TQXP11_LockMutex(CK_VOID_PTR mutex) try {
    if (!mutex || pthread_mutex_lock(static_cast<pthread_mutex_t *>(mutex)) != 0) return CKR_MUTEX_BAD;
    return CKR_OK;
}
TQ_CATCH_RETURN(CKR_GENERAL_ERROR)

TQ_API CK_RV TQXP11_UnlockMutex(CK_VOID_PTR mutex) try {
    if (!mutex || pthread_mutex_unlock(static_cast<pthread_mutex_t *>(mutex)) != 0) return CKR_MUTEX_BAD;
    return CKR_OK;
}
TQ_CATCH_RETURN(CKR_GENERAL_ERROR)

}  // extern "C"

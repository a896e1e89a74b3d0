// A module library that exports PKCS#11 functions by name only, without
// C_GetFunctionList.
#include <p11-kit/pkcs11.h>

extern "C" CK_RV C_Initialize(CK_VOID_PTR) { return CKR_OK; }
extern "C" CK_RV C_Finalize(CK_VOID_PTR) { return CKR_OK; }

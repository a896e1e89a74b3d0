// Vendor record objects: named values of at most 1024 bytes in a class of
// the vendor's own.
#include "tokenlayer.h"

namespace {

using tqp11::Result;

Result readRecord(TQXP11_SESSION *session, const char *name, unsigned char **out, CK_ULONG *outLength) {
    if (!session || !out || !outLength) return CKR_ARGUMENTS_BAD;
    TQXP11_MODULE *module = session->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    *out = nullptr;
    *outLength = 0;
    if (!name) return CKR_ARGUMENTS_BAD;

    CK_OBJECT_CLASS recordClass = TQXP11_CLASS_RECORD;
    CK_BBOOL token = CK_TRUE;
    CK_ATTRIBUTE search[3] = {{CKA_CLASS, &recordClass, sizeof recordClass},
                              {CKA_TOKEN, &token, sizeof token},
                              {CKA_LABEL, const_cast<char *>(name), std::strlen(name)}};
    Result rv = module->C_FindObjectsInit(session->sessionHandle, search, 3);
    if (rv != CKR_OK) return rv;
    CK_OBJECT_HANDLE handle = 0;
    CK_ULONG found = 0;
    rv = module->C_FindObjects(session->sessionHandle, &handle, 1, &found);
    module->C_FindObjectsFinal(session->sessionHandle);
    if (rv != CKR_OK || found == 0) return rv;

    unsigned char value[TQXP11_RECORD_MAX];
    CK_ATTRIBUTE read = {CKA_VALUE, value, sizeof value};
    rv = module->C_GetAttributeValue(session->sessionHandle, handle, &read, 1);
    if (rv != CKR_OK) return rv;
    if (read.ulValueLen > sizeof value) return CKR_BUFFER_TOO_SMALL;
    if (read.ulValueLen == 0) return CKR_OK;
    auto *copy = static_cast<unsigned char *>(std::malloc(read.ulValueLen));
    if (!copy) return TQP11_RTN_MEMORY_ALLOCATE_FAIL;
    std::memcpy(copy, value, read.ulValueLen);
    *out = copy;
    *outLength = read.ulValueLen;
    return CKR_OK;
}

}  // namespace

extern "C" {

TQ_API int TQXP11_HCAGetRecord(TQXP11_SESSION *session, const char *name, int, unsigned char **out,
                               CK_ULONG *outLength) {
    return TQXP11_ErrorCode(readRecord(session, name, out, outLength));
}

}  // extern "C"

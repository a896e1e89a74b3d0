// Vendor record objects: named values of at most 1024 bytes in a class of
// the vendor's own.
#include "access_internal.h"

namespace {

using tqp11::Result;

Result readRecord(TQXP11_SESSION *session, const char *name, unsigned char **out, CK_ULONG *outLength) {
    if (!session || !out || !outLength) return CKR_ARGUMENTS_BAD;
    TQXP11_MODULE *module = session->module;
    if (!module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    *out = nullptr;
    *outLength = 0;
    if (!name) return CKR_ARGUMENTS_BAD;

    tqp11::AttributeList<3> search;
    search.addUlong(CKA_CLASS, TQXP11_CLASS_RECORD);
    search.addBool(CKA_TOKEN, true);
    search.addText(CKA_LABEL, name, std::strlen(name));
    Result rv = search.pass([&](CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
        return module->C_FindObjectsInit(session->sessionHandle, attributes, count);
    });
    if (rv != CKR_OK) return rv;
    CK_OBJECT_HANDLE handle = 0;
    CK_ULONG found = 0;
    rv = module->C_FindObjects(session->sessionHandle, &handle, 1, &found);
    module->C_FindObjectsFinal(session->sessionHandle);
    if (rv != CKR_OK || found == 0) return rv;

    unsigned char value[TQXP11_RECORD_MAX];
    tqp11::AttributeList<1> read;
    read.addBuffer(CKA_VALUE, value, sizeof value);
    rv = tqp11::readAttributes(session, handle, read);
    if (rv != CKR_OK) return rv;
    // Also the unavailable mark: a value that did not fit.
    CK_ULONG length = read[0].ulValueLen;
    if (length > sizeof value) return CKR_BUFFER_TOO_SMALL;
    if (length == 0) return CKR_OK;
    auto *copy = static_cast<unsigned char *>(std::malloc(length));
    if (!copy) return TQP11_RTN_MEMORY_ALLOCATE_FAIL;
    std::memcpy(copy, value, length);
    *out = copy;
    *outLength = length;
    return CKR_OK;
}

}  // namespace

extern "C" {

TQ_API int TQXP11_HCAGetRecord(TQXP11_SESSION *session, const char *name, int, unsigned char **out,
                               CK_ULONG *outLength) try {
    return TQXP11_ErrorCode(readRecord(session, name, out, outLength));
}
TQ_CATCH_CODE

}  // extern "C"

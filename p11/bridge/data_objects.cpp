// Data objects named by label: the value stored and read back whole.
#include "bridge_internal.h"
#include "tqp11secret.h"

extern "C" {

TQ_API int TQP11_WriteDataObject(TQXP11_SESSION *session, const char *label, int isPrivate, const void *value,
                                 CK_ULONG length, int flags) try {
    if (!session || !label || (!value && length)) return TQ_RTN_BAD_ARGUMENT;
    TQXP11_OBJECT record = tqbridge::labelRecord(label, TQXP11_KIND_DATA, isPrivate);
    TQXP11_VALUE data{};
    data.data.value = TQXP11_BYTES{static_cast<unsigned char *>(const_cast<void *>(value)), length};
    record.valueRecord = &data;
    return TQXP11_WriteObject(session, &record, flags);
}
TQ_CATCH_CODE

TQ_API int TQP11_ReadDataObject(TQXP11_SESSION *session, const char *label, int isPrivate, int,
                                unsigned char **value, CK_ULONG *length) try {
    if (!session || !label || !value || !length) return TQ_RTN_BAD_ARGUMENT;
    *value = nullptr;
    *length = 0;
    TQXP11_OBJECT record = tqbridge::labelRecord(label, TQXP11_KIND_DATA, isPrivate);
    int rc = TQXP11_ReadObject(session, &record);
    if (rc == TQ_RTN_OK) rc = tqbridge::handOut(record.valueRecord->data.value, value, length);
    TQXP11_FreeObject(&record);
    return rc;
}
TQ_CATCH_CODE

}  // extern "C"

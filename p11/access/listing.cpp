// Listing token objects into an array of object records, by an optional
// filter of kind, label and private flag.
#include <algorithm>

#include "access_internal.h"

namespace {

using tqp11::Result;

struct KindRow {
    CK_ULONG kind;
    CK_OBJECT_CLASS cls;
    CK_KEY_TYPE keyType;  // CK_UNAVAILABLE_INFORMATION: none in the search
    bool listed;          // an entry of this class and key type gets the kind
};

const KindRow kKinds[] = {
    {TQXP11_KIND_DATA, CKO_DATA, CK_UNAVAILABLE_INFORMATION, true},
    {TQXP11_KIND_CERTIFICATE, CKO_CERTIFICATE, CK_UNAVAILABLE_INFORMATION, true},
    {TQXP11_KIND_RSA_PUBLIC, CKO_PUBLIC_KEY, CKK_RSA, true},
    {TQXP11_KIND_RSA_PRIVATE, CKO_PRIVATE_KEY, CKK_RSA, true},
    {TQXP11_KIND_DES, CKO_SECRET_KEY, CKK_DES, true},
    {TQXP11_KIND_DES2, CKO_SECRET_KEY, CKK_DES2, true},
    {TQXP11_KIND_DES3, CKO_SECRET_KEY, CKK_DES3, true},
    {TQXP11_KIND_AES, CKO_SECRET_KEY, CKK_AES, false},
    {TQXP11_KIND_RC4, CKO_SECRET_KEY, CKK_RC4, true},
};

const KindRow *rowOfKind(CK_ULONG kind) {
    for (const KindRow &row : kKinds)
        if (row.kind == kind) return &row;
    return nullptr;
}

// The kind an entry of this class and key type gets; 0 for none.
CK_ULONG kindOf(CK_OBJECT_CLASS cls, CK_KEY_TYPE keyType) {
    for (const KindRow &row : kKinds)
        if (row.listed && row.cls == cls &&
            (row.keyType == CK_UNAVAILABLE_INFORMATION || row.keyType == keyType))
            return row.kind;
    return 0;
}

bool sensitive(Result rv) { return rv == CKR_ATTRIBUTE_SENSITIVE || rv == CKR_INFORMATION_SENSITIVE; }

Result readKeyType(TQXP11_SESSION *session, CK_OBJECT_HANDLE handle, CK_KEY_TYPE *keyType) {
    tqp11::AttributeList<1> read;
    read.addBuffer(CKA_KEY_TYPE, keyType, sizeof *keyType);
    return tqp11::readAttributes(session, handle, read);
}

// Fills one entry. A value the token keeps secret leaves the entry without a
// value record; every other failure is the listing's failure.
Result readEntry(TQXP11_SESSION *session, TQXP11_OBJECT *entry) {
    CK_OBJECT_CLASS cls = 0;
    char label[TQXP11_LABEL_SIZE] = {};
    tqp11::AttributeList<3> head;
    head.addBuffer(CKA_CLASS, &cls, sizeof cls);
    head.addBuffer(CKA_LABEL, label, sizeof label);
    head.addBuffer(CKA_PRIVATE, &entry->isPrivate, sizeof entry->isPrivate);
    Result rv = tqp11::readAttributes(session, entry->handle, head);
    if (rv != CKR_OK) return rv;
    // A label that fills the field is cut by one byte so that it stays text.
    CK_ULONG labelLength = std::min<CK_ULONG>(head[1].ulValueLen, TQXP11_LABEL_SIZE - 1);
    std::memcpy(entry->label, label, labelLength);
    entry->label[labelLength] = '\0';
    entry->labelLength = labelLength;

    CK_KEY_TYPE keyType = CK_UNAVAILABLE_INFORMATION;
    switch (cls) {
    case CKO_DATA:
    case CKO_CERTIFICATE:
        break;
    case CKO_PUBLIC_KEY:
    case CKO_PRIVATE_KEY:
    case CKO_SECRET_KEY:
        if ((rv = readKeyType(session, entry->handle, &keyType)) != CKR_OK) return rv;
        break;
    default:
        return CKR_FUNCTION_NOT_SUPPORTED;
    }
    entry->kind = kindOf(cls, keyType);

    if (entry->kind == 0) return CKR_OK;
    rv = tqp11::readKindValues(session, entry);
    return sensitive(rv) ? CKR_OK : rv;
}

void releaseList(TQXP11_OBJECT *list, CK_ULONG count) {
    if (!list) return;
    for (CK_ULONG i = 0; i < count; ++i)
        if (list[i].valueRecord) tqp11::freeValueRecord(list[i].kind, list[i].valueRecord);
    std::free(list);
}

Result listObjects(TQXP11_SESSION *session, TQXP11_OBJECT *filter, TQXP11_OBJECT **list, CK_ULONG *count) {
    if (!session || !list || !count) return CKR_ARGUMENTS_BAD;
    if (!session->module) return TQP11_RTN_LIBRARY_NOT_LOAD;
    *list = nullptr;
    *count = 0;

    tqp11::AttributeList<5> search;
    search.addBool(CKA_TOKEN, true);
    if (filter) {
        const KindRow *row = filter->kind ? rowOfKind(filter->kind) : nullptr;
        if (row) {
            search.addUlong(CKA_CLASS, row->cls);
            if (row->kind == TQXP11_KIND_RSA_PRIVATE) filter->isPrivate = CK_TRUE;
        }
        size_t labelLength = strnlen(filter->label, TQXP11_LABEL_SIZE - 1);
        if (labelLength > 0) search.addText(CKA_LABEL, filter->label, tqp11::labelLength(session, filter));
        if (!row) return CKR_FUNCTION_NOT_SUPPORTED;
        if (filter->isPrivate == CK_TRUE && session->sessionInfo.state != CKS_RW_USER_FUNCTIONS)
            return CKR_USER_NOT_LOGGED_IN;
        search.addBool(CKA_PRIVATE, filter->isPrivate == CK_TRUE);
        if (row->keyType != CK_UNAVAILABLE_INFORMATION) search.addUlong(CKA_KEY_TYPE, row->keyType);
    }

    CK_OBJECT_HANDLE handles[tqp11::kSearchMax];
    CK_ULONG found = 0;
    Result rv = tqp11::findObjects(session, handles, search, &found);
    if (rv != CKR_OK || found == 0) return rv;
    auto *entries = static_cast<TQXP11_OBJECT *>(std::calloc(found, sizeof(TQXP11_OBJECT)));
    if (!entries) return TQP11_RTN_MEMORY_ALLOCATE_FAIL;
    for (CK_ULONG i = 0; i < found; ++i) entries[i].handle = handles[i];
    for (CK_ULONG i = 0; i < found && rv == CKR_OK; ++i) rv = readEntry(session, &entries[i]);
    if (rv != CKR_OK) {
        releaseList(entries, found);
        return rv;
    }
    *list = entries;
    *count = found;
    return CKR_OK;
}

}  // namespace

extern "C" {

TQ_API int TQXP11_GetObjectList(TQXP11_SESSION *session, TQXP11_OBJECT *filter, TQXP11_OBJECT **list,
                                CK_ULONG *count) try {
    return TQXP11_ErrorCode(listObjects(session, filter, list, count));
}
TQ_CATCH_CODE

TQ_API int TQXP11_ReleaseObjectList(TQXP11_OBJECT *list, CK_ULONG count) try {
    releaseList(list, count);
    return TQP11_RTN_OK;
}
TQ_CATCH_CODE

}  // extern "C"

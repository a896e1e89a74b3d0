// Attribute lists: their release and their construction.
#include <new>

#include <openssl/objects.h>

#include "x509_internal.h"

extern "C" {

void TQXCryptFreeAttributes(TQXCRYPT_ATTRIBUTES *list) try {
    if (!list || !list->items) return;
    for (int32_t i = 0; i < list->count; ++i) {
        TQXCRYPT_ATTRIBUTE &item = list->items[i];
        TQCryptMemFree(item.name);
        if (item.isList)
            TQXCryptFreeAttributes(&item.value.list);
        else
            TQXCryptFreeBlob(&item.value.blob);
    }
    TQCryptMemFree(list->items);
    list->items = nullptr;
    list->count = 0;
}
TQ_CATCH_VOID

}  // extern "C"

namespace tq {

void ObjectLabel::set(const ASN1_OBJECT *object, bool longName) {
    int nid = OBJ_obj2nid(object);
    const char *name = nullptr;
    if (nid == NID_pkcs9_emailAddress && !longName)
        name = "Email";
    else if (nid != NID_undef)
        name = longName ? OBJ_nid2ln(nid) : OBJ_nid2sn(nid);
    if (name) {
        text_ = name;
        size_ = std::strlen(name);
        return;
    }
    // The whole dotted identifier, however long: a cut one names another type.
    int needed = OBJ_obj2txt(inline_, sizeof inline_, object, 1);
    if (needed < 0) return;
    if (static_cast<size_t>(needed) < sizeof inline_) {
        text_ = inline_;
        size_ = static_cast<size_t>(needed);
        return;
    }
    owned_.reset(static_cast<char *>(OPENSSL_malloc(static_cast<size_t>(needed) + 1)));
    if (!owned_ || OBJ_obj2txt(owned_.get(), needed + 1, object, 1) != needed) return;
    text_ = owned_.get();
    size_ = static_cast<size_t>(needed);
}

int AttrList::reserve(size_t n) {
    TQXCryptFreeAttributes(&list_);
    capacity_ = 0;
    if (n == 0) return TQ_RTN_OK;
    if (n > static_cast<size_t>(INT32_MAX) || n > SIZE_MAX / sizeof(TQXCRYPT_ATTRIBUTE))
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    auto *items = static_cast<TQXCRYPT_ATTRIBUTE *>(TQCryptMemAlloc(n * sizeof(TQXCRYPT_ATTRIBUTE)));
    if (!items) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    std::memset(items, 0, n * sizeof(TQXCRYPT_ATTRIBUTE));
    list_.items = items;
    capacity_ = n;
    return TQ_RTN_OK;
}

TQXCRYPT_ATTRIBUTE *AttrList::slot(const char *label) {
    if (static_cast<size_t>(list_.count) >= capacity_ || !label) return nullptr;
    TQXCRYPT_ATTRIBUTE *item = &list_.items[list_.count];
    item->name = tqxstrdup(label);
    return item->name ? item : nullptr;
}

int AttrList::addBlob(const char *label, const void *bytes, size_t n) {
    if (!fitsInt(n)) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_ATTRIBUTE *item = slot(label);
    if (!item) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    item->isList = 0;
    item->value.blob = {0, nullptr};
    int rc = tqxCryptAssignBlob(&item->value.blob, bytes, static_cast<int>(n));
    if (rc != TQ_RTN_OK) {
        TQCryptMemFree(item->name);
        *item = TQXCRYPT_ATTRIBUTE{};
        return rc;
    }
    ++list_.count;
    return TQ_RTN_OK;
}

int AttrList::addEmpty(const char *label) {
    TQXCRYPT_ATTRIBUTE *item = slot(label);
    if (!item) return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    item->isList = 0;
    item->value.blob = {0, nullptr};
    ++list_.count;
    return TQ_RTN_OK;
}

int AttrList::addList(const char *label, AttrList &nested) {
    TQXCRYPT_ATTRIBUTE *item = slot(label);
    if (!item) {
        TQXCryptFreeAttributes(&nested.list_);
        nested.capacity_ = 0;
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    item->isList = 1;
    nested.handOut(&item->value.list);
    ++list_.count;
    return TQ_RTN_OK;
}

}  // namespace tq

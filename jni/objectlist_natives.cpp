// The token's object list, held between calls in two fields of the calling object.
#include <algorithm>
#include <cstring>
#include <string>

#include "jni_internal.h"
#include "tqxp11obj.h"

using tqjni::Call;

namespace {

const char kCountField[] = "ObjectListCount";
const char kListField[] = "pObjectListArray";

TQXP11_OBJECT *listOf(jlong value) { return reinterpret_cast<TQXP11_OBJECT *>(static_cast<intptr_t>(value)); }

jlong heldList(const Call &call) { return GetLong(call.env, call.self, kListField); }
jint heldCount(const Call &call) { return GetInteger(call.env, call.self, kCountField); }

void holdList(const Call &call, TQXP11_OBJECT *list, CK_ULONG count) {
    SetLong(call.env, call.self, kListField, static_cast<jlong>(reinterpret_cast<intptr_t>(list)));
    SetInteger(call.env, call.self, kCountField, static_cast<jint>(count));
}

// The entry the index names. The index is Java's: it must lie within the
// count the calling object holds, or the read would leave the array. That
// count belongs to the list the object holds, so that list is the only one a
// value can name: any other (a handle, a session, a list released before) is
// no list, as 0 is none.
int entryOf(const Call &call, jlong list, jint index, const TQXP11_OBJECT **entry) {
    if (list == 0) return TQP11_RTN_OBJECT_NOT_EXIST;
    if (index < 0 || index >= heldCount(call)) return TQ_RTN_BAD_ARGUMENT;
    if (list != heldList(call)) return TQP11_RTN_OBJECT_NOT_EXIST;
    *entry = listOf(list) + index;
    return TQ_RTN_OK;
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL TQ_NATIVE(P11GetObjectListX)(JNIEnv *env, jobject self, jlong session, jint) try {
    Call call(env, self);
    TQXP11_SESSION *const s = tqjni::sessionOf(session);
    if (!s) {
        call.store(TQ_RTN_BAD_ARGUMENT);
        return 0;
    }
    const jint count = heldCount(call);
    const jlong held = heldList(call);
    if (held != 0 && count > 0) TQXP11_ReleaseObjectList(listOf(held), static_cast<CK_ULONG>(count));
    holdList(call, nullptr, 0);
    TQXP11_OBJECT *list = nullptr;
    CK_ULONG listed = 0;
    const int code = TQXP11_GetObjectList(s, nullptr, &list, &listed);
    if (code == TQ_RTN_OK) holdList(call, list, listed);
    call.store(code);
    return code == TQ_RTN_OK ? static_cast<jlong>(listed) : 0;
}
TQ_JNI_CATCH

JNIEXPORT jstring JNICALL TQ_NATIVE(XP11GetObjectListLabelX)(JNIEnv *env, jobject self, jlong, jlong list,
                                                             jint index) try {
    Call call(env, self);
    const TQXP11_OBJECT *entry = nullptr;
    const int code = entryOf(call, list, index, &entry);
    call.store(code);
    if (code != TQ_RTN_OK) return nullptr;
    // The reported length bounds the text; a label written with its NUL ends there.
    const size_t bound = static_cast<size_t>(std::min<CK_ULONG>(entry->labelLength, TQXP11_LABEL_SIZE));
    const std::string label(entry->label, strnlen(entry->label, bound));
    return tqjni::newString(call, label.c_str());
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XP11GetObjectListObjectTypeX)(JNIEnv *env, jobject self, jlong, jlong list,
                                                               jint index) try {
    Call call(env, self);
    const TQXP11_OBJECT *entry = nullptr;
    int code = entryOf(call, list, index, &entry);
    if (code == TQ_RTN_OK && entry->kind == 0) code = TQP11_RTN_OBJECT_NOT_EXIST;
    call.store(code);
    return code == TQ_RTN_OK ? static_cast<jint>(entry->kind) : 0;
}
TQ_JNI_CATCH

JNIEXPORT jint JNICALL TQ_NATIVE(XP11ReleaseObjectListX)(JNIEnv *env, jobject self, jlong list,
                                                         jint count) try {
    Call call(env, self);
    int code = TQ_RTN_OK;
    if (list != 0 && list == heldList(call)) {
        // The held list goes with the count it was made with, whatever Java passes.
        const jint held = heldCount(call);
        code = TQXP11_ReleaseObjectList(listOf(list), static_cast<CK_ULONG>(std::max<jint>(held, 0)));
    } else if (count < 0) {
        code = TQ_RTN_BAD_ARGUMENT;
    } else {
        // Any other value names no list of the binding's (see entryOf): released as none is.
        code = TQXP11_ReleaseObjectList(nullptr, static_cast<CK_ULONG>(count));
    }
    holdList(call, nullptr, 0);
    return tqjni::codeResult(call, code);
}
TQ_JNI_CATCH_CODE

}  // extern "C"

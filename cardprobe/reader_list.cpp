#include "card_access.h"

namespace {
struct ContextGuard {
    SCARDCONTEXT context = 0;
    bool established = false;
    ~ContextGuard() {
        if (established) pcsc::releaseContext(context);
    }
};
}  // namespace

int TQSCListReaders(const char *groups, char **list, uint32_t *length) {
    DebugMessage(6, "TQSCListReaders called");
    if (!list) return TQ_RTN_BAD_ARGUMENT;
    *list = nullptr;
    if (length) *length = 0;

    ContextGuard guard;
    LONG rv = pcsc::establishUserContext(&guard.context);
    if (rv != SCARD_S_SUCCESS) {
        DebugMessage(2, "[%s:%d] SCardEstablishContext fail: %X", __FILE__, __LINE__,
                     static_cast<unsigned>(rv));
        return TQSC_RTN_CONTEXT_FAILED;
    }
    guard.established = true;

    DWORD size = 0;
    rv = pcsc::listReaders(guard.context, groups, nullptr, &size);
    if (rv == static_cast<LONG>(SCARD_E_NO_READERS_AVAILABLE)) {
        // No reader is no error: an empty multi-string.
        char *empty = static_cast<char *>(TQSCMalloc(1));
        if (!empty) {
            DebugMessage(2, "[%s:%d] TQSCMalloc(%d) fail: %X", __FILE__, __LINE__, 1,
                         static_cast<unsigned>(TQ_RTN_MEMORY_ALLOCATE_FAIL));
            return TQ_RTN_MEMORY_ALLOCATE_FAIL;
        }
        empty[0] = '\0';
        *list = empty;
        if (length) *length = 1;
        return TQSC_RTN_SUCCESS;
    }
    if (rv != SCARD_S_SUCCESS) {
        DebugMessage(2, "[%s:%d] SCardListReaders fail: %X", __FILE__, __LINE__, static_cast<unsigned>(rv));
        return TQSC_RTN_LIST_READERS_FAILED;
    }
    char *buffer = static_cast<char *>(TQSCMalloc(size));
    if (!buffer) {
        DebugMessage(2, "[%s:%d] TQSCMalloc(%d) fail: %X", __FILE__, __LINE__, static_cast<int>(size),
                     static_cast<unsigned>(TQ_RTN_MEMORY_ALLOCATE_FAIL));
        return TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    DWORD filled = size;
    rv = pcsc::listReaders(guard.context, groups, buffer, &filled);
    // A list must end with its empty name; anything else is not a list we can walk.
    if (rv != SCARD_S_SUCCESS || filled == 0 || filled > size || buffer[filled - 1] != '\0') {
        TQSCFree(buffer);
        DebugMessage(2, "[%s:%d] SCardListReaders fail: %X", __FILE__, __LINE__, static_cast<unsigned>(rv));
        return TQSC_RTN_LIST_READERS_FAILED;
    }
    *list = buffer;
    if (length) *length = static_cast<uint32_t>(filled);
    DebugMessage(6, "TQSCListReaders success");
    return TQSC_RTN_SUCCESS;
}

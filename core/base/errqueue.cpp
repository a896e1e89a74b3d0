// Taking the newest entry off the calling thread's OpenSSL error queue, and
// setting the caller's entries aside for the length of an operation.
#include <new>

#include <openssl/err.h>

#include "internal.h"

namespace {

// 3.0's error state is opaque: the queue is read by draining it.
std::vector<tq::QueuedError> drainQueue() noexcept {
    std::vector<tq::QueuedError> queue;
    for (;;) {
        const char *file = nullptr, *func = nullptr, *data = nullptr;
        int line = 0, flags = 0;
        unsigned long code = ERR_get_error_all(&file, &line, &func, &data, &flags);
        if (code == 0) break;
        const bool hasText = data && (flags & ERR_TXT_STRING);
        // Out of memory, an entry is dropped: no exception may leave an exported call.
        try {
            queue.push_back({code, file ? file : "", func ? func : "", hasText ? data : "", line, hasText});
        } catch (const std::bad_alloc &) {
        }
    }
    return queue;
}

// Raises the entries again, oldest first, as they were.
void raiseAgain(const std::vector<tq::QueuedError> &queue) {
    for (const tq::QueuedError &e : queue) {
        ERR_new();
        ERR_set_debug(e.file.c_str(), e.line, e.func.c_str());
        if (e.hasText)
            ERR_set_error(ERR_GET_LIB(e.code), ERR_GET_REASON(e.code), "%s", e.data.c_str());
        else
            ERR_set_error(ERR_GET_LIB(e.code), ERR_GET_REASON(e.code), nullptr);
    }
}

}  // namespace

extern "C" unsigned long ERR_get_last_error(void) try {
    // Keep the newest entry and raise the older ones again in their order.
    std::vector<tq::QueuedError> queue = drainQueue();
    if (queue.empty()) return 0;
    unsigned long newest = queue.back().code;
    queue.pop_back();
    raiseAgain(queue);
    return newest;
}
TQ_CATCH_EMPTY

namespace tq {

// Most calls find the queue empty and leave it so: a look at it is cheaper
// than draining or clearing it.
ErrorQueueScope::ErrorQueueScope() {
    if (ERR_peek_error() != 0) callers_ = drainQueue();
}

ErrorQueueScope::~ErrorQueueScope() {
    if (ERR_peek_error() != 0) ERR_clear_error();
    raiseAgain(callers_);
}

}  // namespace tq

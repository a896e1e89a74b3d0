// Taking the newest entry off the calling thread's OpenSSL error queue, and
// keeping the caller's entries in place for the length of an operation.
#include <exception>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <openssl/err.h>

#include "base_internal.h"

namespace {

// One entry of the queue, taken off it.
struct QueuedError {
    unsigned long code;
    // Copies: the queue frees its own as soon as a slot is cleared or reused.
    std::string file, func, data;
    int line;
    bool hasText;
};

// 3.0's error state is opaque: the queue is read by draining it.
std::vector<QueuedError> drainQueue() noexcept {
    std::vector<QueuedError> queue;
    for (;;) {
        const char *file = nullptr, *func = nullptr, *data = nullptr;
        int line = 0, flags = 0;
        unsigned long code = ERR_get_error_all(&file, &line, &func, &data, &flags);
        if (code == 0) break;
        const bool hasText = data && (flags & ERR_TXT_STRING);
        // Out of memory, an entry is dropped: no exception may leave an exported call.
        try {
            queue.push_back({code, file ? file : "", func ? func : "", hasText ? data : "", line, hasText});
        } catch (const std::bad_alloc &) {}
    }
    return queue;
}

// Raises the entries again, oldest first, as they were.
void raiseAgain(const std::vector<QueuedError> &queue) {
    for (const QueuedError &e : queue) {
        ERR_new();
        ERR_set_debug(e.file.c_str(), e.line, e.func.c_str());
        if (e.hasText)
            ERR_set_error(ERR_GET_LIB(e.code), ERR_GET_REASON(e.code), "%s", e.data.c_str());
        else
            ERR_set_error(ERR_GET_LIB(e.code), ERR_GET_REASON(e.code), nullptr);
    }
}

thread_local tq::ErrorQueueScope *t_innermost = nullptr;

}  // namespace

extern "C" unsigned long ERR_get_last_error(void) try {
    // Keep the newest entry and raise the older ones again in their order;
    // marks do not survive this, there is no other way to take one entry off
    // the newest end.
    std::vector<QueuedError> queue = drainQueue();
    if (queue.empty()) return 0;
    unsigned long newest = queue.back().code;
    queue.pop_back();
    raiseAgain(queue);
    return newest;
}
TQ_CATCH_EMPTY

namespace tq {

ErrorQueueScope::Entry ErrorQueueScope::newestEntry() {
    Entry e;
    e.code = ERR_peek_last_error_all(&e.file, &e.line, &e.func, &e.data, &e.flags);
    return e;
}

bool ErrorQueueScope::Entry::operator==(const Entry &o) const {
    return code == o.code && file == o.file && line == o.line && func == o.func && data == o.data &&
           flags == o.flags;
}

// Most calls find the queue empty and leave it so: then there is nothing to
// mark (OpenSSL marks an entry), and nothing to clear unless we queued some.
ErrorQueueScope::ErrorQueueScope() : outer_(t_innermost), marked_(ERR_set_mark() == 1) {
    if (marked_) callersNewest_ = newestEntry();
    t_innermost = this;
}

ErrorQueueScope::~ErrorQueueScope() {
    t_innermost = outer_;
    if (marked_)
        ERR_pop_to_mark();
    else if (ERR_peek_error() != 0)
        ERR_clear_error();
}

unsigned long newestError() {
    const ErrorQueueScope *scope = t_innermost;
    const ErrorQueueScope::Entry top = ErrorQueueScope::newestEntry();
    // Each slot owns its copy of the file name: an entry of ours is never
    // taken for the caller's newest, not even one raised at the same place.
    if (scope && scope->marked_ && top == scope->callersNewest_) return 0;
    return top.code;
}

void clearErrors() {
    ErrorQueueScope *scope = t_innermost;
    if (!scope || !scope->marked_) {
        if (ERR_peek_error() != 0) ERR_clear_error();
        return;
    }
    // Popping takes the mark too: the caller's newest entry gets it again.
    ERR_pop_to_mark();
    scope->marked_ = ERR_set_mark() == 1;
}

bool onOwnErrorQueue(void (*work)(void *), void *context) {
    // An exception must not end the worker, which would end the process.
    bool finished = false;
    std::thread worker;
    {
        SignalsBlocked quiet;
        try {
            worker = std::thread([&] {
                try {
                    work(context);
                    finished = true;
                } catch (...) {}
            });
        } catch (const std::exception &) {
            return false;
        }
    }
    worker.join();
    return finished;
}

}  // namespace tq

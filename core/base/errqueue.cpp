// Taking the newest entry off the calling thread's OpenSSL error queue.
#include <string>
#include <vector>

#include <openssl/err.h>

#include "internal.h"

namespace {

struct QueuedError {
    unsigned long code;
    // OpenSSL keeps file and function names as pointers to static text.
    const char *file, *func;
    std::string data;
    int line;
    bool hasText;
};

}  // namespace

extern "C" unsigned long ERR_get_last_error(void) {
    // 3.0's error state is opaque: drain the queue, keep the newest entry and
    // raise the older ones again in their order.
    std::vector<QueuedError> queue;
    for (;;) {
        const char *file = nullptr, *func = nullptr, *data = nullptr;
        int line = 0, flags = 0;
        unsigned long code = ERR_get_error_all(&file, &line, &func, &data, &flags);
        if (code == 0) break;
        queue.push_back({code, file, func, (data && (flags & ERR_TXT_STRING)) ? data : "", line,
                         data && (flags & ERR_TXT_STRING)});
    }
    if (queue.empty()) return 0;
    unsigned long newest = queue.back().code;
    queue.pop_back();
    for (const QueuedError &e : queue) {
        ERR_new();
        ERR_set_debug(e.file, e.line, e.func);
        if (e.hasText)
            ERR_set_error(ERR_GET_LIB(e.code), ERR_GET_REASON(e.code), "%s", e.data.c_str());
        else
            ERR_set_error(ERR_GET_LIB(e.code), ERR_GET_REASON(e.code), nullptr);
    }
    return newest;
}

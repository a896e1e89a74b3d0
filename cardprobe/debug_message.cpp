#include <cstdarg>
#include <cstdio>

#include "card_access.h"

namespace {
// Not settable: the messages are kept for a developer who raises it locally.
constexpr int kDebugLevel = 0;
constexpr size_t kDebugTextSize = 4096;
}  // namespace

void DebugMessage(int level, const char *format, ...) {
    if (level > kDebugLevel) return;
    char text[kDebugTextSize] = {0};
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
#ifdef _WIN32
    HWND active = GetActiveWindow();
    HWND owner = active ? GetLastActivePopup(active) : nullptr;
    MessageBoxA(owner, text, "Debug Message", MB_OK);
#else
    std::fprintf(stderr, "Debug Message: %s\n", text);
#endif
}

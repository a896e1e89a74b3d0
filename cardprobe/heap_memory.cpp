#include "card_access.h"

#ifndef _WIN32
#include <cstdlib>
#endif

void *TQSCMalloc(size_t size) {
#ifdef _WIN32
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
#else
    return std::malloc(size ? size : 1);
#endif
}

void TQSCFree(void *pointer) {
    if (!pointer) return;
#ifdef _WIN32
    HeapFree(GetProcessHeap(), 0, pointer);
#else
    std::free(pointer);
#endif
}

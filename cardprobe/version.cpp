#include <cstdio>

#include "probe.h"

#ifdef _WIN32
#include <windows.h>

extern HINSTANCE gModuleHandle;

namespace {
struct GlobalBlock {
    HGLOBAL handle = nullptr;
    ~GlobalBlock() {
        if (handle) GlobalFree(handle);
    }
};

// The whole version resource of a file, or null.
HGLOBAL LoadVersionInfo(const char *path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    if (size == 0) return nullptr;
    HGLOBAL block = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size);
    if (!block) return nullptr;
    if (!GetFileVersionInfoA(path, 0, size, block)) {
        GlobalFree(block);
        return nullptr;
    }
    return block;
}
}  // namespace

std::string ProbeNativeVersion() {
    char path[MAX_PATH] = {0};
    if (GetModuleFileNameA(gModuleHandle, path, MAX_PATH) == 0) return std::string();
    GlobalBlock block;
    block.handle = LoadVersionInfo(path);
    if (!block.handle) return std::string();
    void *value = nullptr;
    UINT valueLength = 0;
    if (!VerQueryValueA(block.handle, "\\", &value, &valueLength)) return std::string();
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation *translations = nullptr;
    if (!VerQueryValueA(block.handle, "\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translations),
                        &valueLength) ||
        valueLength < sizeof(Translation))
        return std::string();
    char subBlock[64];
    std::snprintf(subBlock, sizeof subBlock, "\\StringFileInfo\\%04x%04x\\%s", translations[0].language,
                  translations[0].codePage, "FileVersion");
    char *text = nullptr;
    if (!VerQueryValueA(block.handle, subBlock, reinterpret_cast<void **>(&text), &valueLength) || !text ||
        valueLength == 0)
        return std::string();
    // The string's length includes its NUL; keep the copy bounded by it.
    return CompactVersionText(std::string(text, strnlen(text, valueLength)).c_str());
}

#else

std::string ProbeNativeVersion() { return CompactVersionText(CARDPROBE_FILE_VERSION); }

#endif

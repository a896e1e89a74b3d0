#include "allocation_failure.h"

#include <dlfcn.h>
#include <link.h>
#include <malloc.h>
#include <unwind.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <gtest/gtest.h>

namespace {

// Address ranges of the loaded objects that matter for attribution.
struct Range {
    uintptr_t begin = 0, end = 0;
    bool holds(uintptr_t a) const { return a >= begin && a < end; }
};
constexpr int kMaxRanges = 8;
struct Objects {
    Range library;
    // The program, the standard library, the unwinder and the sanitizer
    // runtimes: an allocation is the library's when the innermost frame
    // outside these is the library's.
    Range passThrough[kMaxRanges];
    int passThroughCount = 0;
};
Objects g_objects;
std::string g_libraryName;

bool nameHas(const char *path, const char *part) { return path && std::strstr(path, part); }

int noteObject(dl_phdr_info *info, size_t, void *) {
    Range range{UINTPTR_MAX, 0};
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr) &h = info->dlpi_phdr[i];
        if (h.p_type != PT_LOAD) continue;
        uintptr_t begin = info->dlpi_addr + h.p_vaddr;
        if (begin < range.begin) range.begin = begin;
        if (begin + h.p_memsz > range.end) range.end = begin + h.p_memsz;
    }
    if (range.end == 0) return 0;
    const char *name = info->dlpi_name;
    const bool program = !name || !*name;
    if (!program && nameHas(name, g_libraryName.c_str())) {
        g_objects.library = range;
    } else if ((program || nameHas(name, "libstdc++") || nameHas(name, "libgcc_s") ||
                nameHas(name, "libasan") || nameHas(name, "libubsan")) &&
               g_objects.passThroughCount < kMaxRanges) {
        g_objects.passThrough[g_objects.passThroughCount++] = range;
    }
    return 0;
}

bool passesThrough(uintptr_t address) {
    for (int i = 0; i < g_objects.passThroughCount; ++i)
        if (g_objects.passThrough[i].holds(address)) return true;
    return false;
}

struct Walk {
    bool library = false;
};

_Unwind_Reason_Code visitFrame(_Unwind_Context *context, void *arg) {
    auto *walk = static_cast<Walk *>(arg);
    const uintptr_t ip = _Unwind_GetIP(context);
    if (ip == 0) return _URC_END_OF_STACK;
    if (passesThrough(ip)) return _URC_NO_REASON;
    walk->library = g_objects.library.holds(ip);
    return _URC_END_OF_STACK;
}

// Whether the library asked for this allocation, itself or through the
// standard library.
bool askedByLibrary() {
    Walk walk;
    _Unwind_Backtrace(visitFrame, &walk);
    return walk.library;
}

// The blocks taken while armed, stored disguised so that the leak checker
// does not take this table for a reference that keeps them alive.
constexpr size_t kSlots = 1 << 16;
constexpr uintptr_t kDisguise = 0xA5A5A5A5A5A5A5A5u;
constexpr uintptr_t kFree = 0, kGone = 1;
uintptr_t g_slots[kSlots];
std::atomic_flag g_slotLock = ATOMIC_FLAG_INIT;
long g_outstanding = 0;
bool g_overflow = false;

struct SlotLock {
    SlotLock() {
        while (g_slotLock.test_and_set(std::memory_order_acquire)) {}
    }
    ~SlotLock() { g_slotLock.clear(std::memory_order_release); }
};

size_t slotOf(uintptr_t key) { return (key * 0x9E3779B97F4A7C15u) >> 48; }

uintptr_t addressOf(void *p) { return reinterpret_cast<uintptr_t>(p); }

void track(uintptr_t address) {
    if (!address) return;
    const uintptr_t key = address ^ kDisguise;
    SlotLock lock;
    for (size_t i = slotOf(key), n = 0; n < kSlots; i = (i + 1) % kSlots, ++n) {
        if (g_slots[i] == kFree || g_slots[i] == kGone) {
            g_slots[i] = key;
            ++g_outstanding;
            return;
        }
    }
    g_overflow = true;
}

bool untrack(uintptr_t address) {
    if (!address || g_outstanding == 0) return false;
    const uintptr_t key = address ^ kDisguise;
    SlotLock lock;
    for (size_t i = slotOf(key), n = 0; n < kSlots && g_slots[i] != kFree; i = (i + 1) % kSlots, ++n) {
        if (g_slots[i] == key) {
            g_slots[i] = kGone;
            --g_outstanding;
            return true;
        }
    }
    return false;
}

// The armed thread's countdown; other threads never see it armed.
thread_local bool t_armed = false;
long g_failAt = 0;
long g_count = 0;
bool g_fired = false;

// True when this allocation is to fail.
bool failsNow() {
    ++g_count;
    if (g_count != g_failAt) return false;
    g_fired = true;
    return true;
}

// The secret watched for on this thread, and the blocks that went back
// holding it.
thread_local const std::string *t_secret = nullptr;
long g_unwiped = 0;

bool holdsSecret(const void *p) {
    if (!p || t_secret->empty()) return false;
    return memmem(p, malloc_usable_size(const_cast<void *>(p)), t_secret->data(), t_secret->size()) !=
           nullptr;
}

void noteFreed(void *p, bool byLibrary) {
    if (t_secret && (byLibrary || askedByLibrary()) && holdsSecret(p)) ++g_unwiped;
}

void *libraryAlloc(size_t n) {
    if (!t_armed) return std::malloc(n);
    if (failsNow()) return nullptr;
    void *p = std::malloc(n);
    track(addressOf(p));
    return p;
}

void *libraryRealloc(void *p, size_t n) {
    if (t_armed && failsNow()) return nullptr;
    const uintptr_t old = addressOf(p);
    const bool tracked = untrack(old);
    void *q = std::realloc(p, n);
    if (!q) {
        if (tracked) track(old);
    } else if (tracked || t_armed) {
        track(addressOf(q));
    }
    return q;
}

void libraryFree(void *p) {
    noteFreed(p, true);
    untrack(addressOf(p));
    std::free(p);
}

void *newBlock(size_t n, size_t alignment) {
    if (n == 0) n = 1;
    const bool counted = t_armed && askedByLibrary();
    if (counted && failsNow()) return nullptr;
    void *p = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
        p = std::malloc(n);
    } else if (posix_memalign(&p, alignment, n) != 0) {
        p = nullptr;
    }
    if (counted) track(addressOf(p));
    return p;
}

void deleteBlock(void *p) {
    noteFreed(p, false);
    untrack(addressOf(p));
    std::free(p);
}

void *newOrThrow(size_t n, size_t alignment) {
    void *p = newBlock(n, alignment);
    if (!p) throw std::bad_alloc();
    return p;
}

}  // namespace

void *operator new(size_t n) { return newOrThrow(n, 0); }
void *operator new[](size_t n) { return newOrThrow(n, 0); }
void *operator new(size_t n, const std::nothrow_t &) noexcept { return newBlock(n, 0); }
void *operator new[](size_t n, const std::nothrow_t &) noexcept { return newBlock(n, 0); }
void *operator new(size_t n, std::align_val_t a) { return newOrThrow(n, static_cast<size_t>(a)); }
void *operator new[](size_t n, std::align_val_t a) { return newOrThrow(n, static_cast<size_t>(a)); }
void *operator new(size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
    return newBlock(n, static_cast<size_t>(a));
}
void *operator new[](size_t n, std::align_val_t a, const std::nothrow_t &) noexcept {
    return newBlock(n, static_cast<size_t>(a));
}
void operator delete(void *p) noexcept { deleteBlock(p); }
void operator delete[](void *p) noexcept { deleteBlock(p); }
void operator delete(void *p, size_t) noexcept { deleteBlock(p); }
void operator delete[](void *p, size_t) noexcept { deleteBlock(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { deleteBlock(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { deleteBlock(p); }
void operator delete(void *p, std::align_val_t) noexcept { deleteBlock(p); }
void operator delete[](void *p, std::align_val_t) noexcept { deleteBlock(p); }
void operator delete(void *p, size_t, std::align_val_t) noexcept { deleteBlock(p); }
void operator delete[](void *p, size_t, std::align_val_t) noexcept { deleteBlock(p); }
void operator delete(void *p, std::align_val_t, const std::nothrow_t &) noexcept { deleteBlock(p); }
void operator delete[](void *p, std::align_val_t, const std::nothrow_t &) noexcept { deleteBlock(p); }

namespace tqtest {

bool AllocationFailure::watch(const std::string &library) {
    g_libraryName = library;
    g_objects = Objects();
    dl_iterate_phdr(noteObject, nullptr);
    if (g_objects.library.end == 0) return false;
    using SetHooks = void (*)(void *(*)(size_t), void *(*)(void *, size_t), void (*)(void *));
    if (auto set = reinterpret_cast<SetHooks>(dlsym(RTLD_DEFAULT, "TQCryptSetMemCallBack")))
        set(libraryAlloc, libraryRealloc, libraryFree);
    return true;
}

void AllocationFailure::arm(long n) {
    g_failAt = n;
    g_count = 0;
    g_fired = false;
    t_armed = true;
}

void AllocationFailure::disarm() { t_armed = false; }
bool AllocationFailure::fired() { return g_fired; }
long AllocationFailure::count() { return g_count; }

long AllocationFailure::outstanding() {
    SlotLock lock;
    return g_overflow ? -1 : g_outstanding;
}

void AllocationFailure::watchForSecret(const std::string &secret) {
    static thread_local std::string watched;
    watched = secret;
    g_unwiped = 0;
    t_secret = &watched;
}

long AllocationFailure::stopWatchingForSecret() {
    t_secret = nullptr;
    return g_unwiped;
}

void sweepAllocations(const std::function<int()> &call, const std::function<void(int)> &settle,
                      const std::set<int> &refusals) {
    const int first = call();
    settle(first);
    ASSERT_EQ(first, 0) << "the call fails with nothing failing";
    const long before = AllocationFailure::outstanding();
    std::set<int> answered;
    for (long n = 1;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        AllocationFailure::arm(n);
        const int code = call();
        AllocationFailure::disarm();
        const bool reached = AllocationFailure::fired();
        settle(code);
        EXPECT_EQ(AllocationFailure::outstanding(), before) << "blocks kept";
        if (!reached) {
            EXPECT_EQ(code, 0);
            // A sweep that met no allocation at all proves nothing.
            EXPECT_GT(n, 1) << "the call makes no allocation that can fail";
            EXPECT_EQ(answered, refusals) << "the failures were not answered as expected";
            std::printf("%ld allocations swept\n", n - 1);
            return;
        }
        if (code != 0) {
            EXPECT_EQ(refusals.count(code), 1u) << "answered " << code;
            answered.insert(code);
        }
        if (::testing::Test::HasFatalFailure() || n > 100000) {
            ADD_FAILURE() << "sweep stopped";
            return;
        }
    }
}

}  // namespace tqtest

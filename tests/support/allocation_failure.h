// Out of memory on demand: one allocation that a library under test makes
// fails, whether it asks the library allocator (through the host's hooks) or
// the program's operator new (itself or through the standard library), and
// every block it takes meanwhile is tracked, so a run can be shown to leak
// nothing. A program that links this replaces the global operator new; what
// other code in the process allocates (a PKCS#11 module, the JVM, the test
// itself) passes through untouched.
#pragma once

#include <functional>
#include <set>
#include <string>

namespace tqtest {

class AllocationFailure {
public:
    // Watches the loaded library whose file name contains `library`; where it
    // is the crypto core, installs the allocator hooks. False when no such
    // library is loaded.
    static bool watch(const std::string &library);

    // From now on, on this thread: the nth allocation of the library fails
    // (n >= 1; 0 fails none but counts and tracks all the same).
    static void arm(long n);
    static void disarm();
    // Whether the armed failure was reached, and how many allocations the
    // library made since it was armed.
    static bool fired();
    static long count();
    // Blocks the library took while armed and has not given back.
    static long outstanding();

    // From now on, on this thread: each block the library gives back (to its
    // allocator or to operator delete) is searched for `secret`, which a
    // wiping owner would have cleared first. Stopping answers how many still
    // held it.
    static void watchForSecret(const std::string &secret);
    static long stopWatchingForSecret();
};

// Sweeps one call over its allocations: runs `call` with its first, second,
// third... allocation failing until a run reaches no failure. After each run
// `settle(code)` checks and releases what the call handed out (it runs with
// nothing failing). A run whose failure was reached must answer one of
// `refusals` (or 0, where the call absorbed the failure), each of them must
// be answered at least once, and no run may keep a block. The call runs once
// before the sweep, with nothing failing, and must succeed, so that what the
// library makes once per process is made.
void sweepAllocations(const std::function<int()> &call, const std::function<void(int code)> &settle,
                      const std::set<int> &refusals);

}  // namespace tqtest

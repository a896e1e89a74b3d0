// Where C++ ends: no exception leaves a function with C linkage (an exported
// call, a JNI native, a routine that OpenSSL or a module calls back). Each
// such function is a function-try-block that ends in one of these handlers:
//
//     int TQXCrypt_Something(...) try {
//         ...
//     }
//     TQ_CATCH_CODE
//
// An exception there is an allocation that failed (std::bad_alloc, or
// std::length_error for a size no container can hold), so the function
// answers as it does when the library allocator fails. The handler leaves a
// marker in the object file that the build looks for in every function with
// C linkage, so none can go without one.
#pragma once

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

namespace tqboundary {

// The answer of a function without a result code: null, 0 or false.
struct Empty {
    template <class T>
    constexpr operator T() const noexcept {
        return T();
    }
};

}  // namespace tqboundary

#if defined(__GLIBCXX__)
// A thread being cancelled unwinds as an exception that must go on.
#define TQ_BOUNDARY_FORCED_UNWIND    \
    catch (abi::__forced_unwind &) { \
        throw;                       \
    }
#else
#define TQ_BOUNDARY_FORCED_UNWIND
#endif

// The handler that answers `answer` (an expression of the function's result
// type; void() for a function without one).
#define TQ_CATCH_RETURN(answer)                                                             \
    TQ_BOUNDARY_FORCED_UNWIND                                                               \
    catch (...) {                                                                           \
        [[maybe_unused]] static const char tq_exception_boundary __attribute__((used)) = 0; \
        return answer;                                                                      \
    }

// The allocation code, 5002, shared by the crypto core, the token layer and
// cardprobe (each family names it TQ_RTN_MEMORY_ALLOCATE_FAIL).
#define TQ_CATCH_CODE TQ_CATCH_RETURN(TQ_RTN_MEMORY_ALLOCATE_FAIL)
// Functions that answer a value, a pointer or nothing.
#define TQ_CATCH_EMPTY TQ_CATCH_RETURN(::tqboundary::Empty())
#define TQ_CATCH_VOID TQ_CATCH_RETURN(void())

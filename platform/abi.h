// Which C++ ABI the module is compiled for. The product is built for the
// Microsoft ABI (__thiscall members, deleting destructors taking a flag);
// the host test build uses the Itanium ABI of its native compiler.
#ifndef TOLVAN_PLATFORM_ABI_H
#define TOLVAN_PLATFORM_ABI_H

#if defined(_MSC_VER)
#define TOLVAN_MICROSOFT_CXX_ABI 1
#else
#define TOLVAN_MICROSOFT_CXX_ABI 0
#endif

// For code that is worth something only as part of its caller: the fast path
// of a facade must be the facade itself, not a call away from it.
#if defined(_MSC_VER)
#define TOLVAN_ALWAYS_INLINE __forceinline
#else
#define TOLVAN_ALWAYS_INLINE inline __attribute__((always_inline))
#endif

// For code shared by callers that differ only in a value they pass: kept
// apart, it is there once rather than once in each of them.
#if defined(_MSC_VER) && !defined(__clang__)
#define TOLVAN_NEVER_INLINE __declspec(noinline)
#else
#define TOLVAN_NEVER_INLINE __attribute__((noinline))
#endif

// A condition that is almost never true: its branch is laid out away from the
// straight path.
#if defined(__GNUC__) || defined(__clang__)
#define TOLVAN_UNLIKELY(condition) __builtin_expect(!!(condition), 0)
#else
#define TOLVAN_UNLIKELY(condition) (condition)
#endif

#endif

// The handful of C runtime string functions the module uses. The cross build
// compiles without the C runtime's headers, so they are declared here; every
// other build takes them from the system header.
#ifndef TOLVAN_PLATFORM_CRT_H
#define TOLVAN_PLATFORM_CRT_H

#include <stddef.h>

#if defined(__has_include)
#if __has_include(<string.h>)
#define TOLVAN_HAVE_STRING_H 1
#endif
#elif defined(_MSC_VER)
#define TOLVAN_HAVE_STRING_H 1
#endif

#if defined(TOLVAN_HAVE_STRING_H)
#include <string.h>
#else
extern "C" {
void* __cdecl memcpy(void* destination, void const* source, size_t count);
void* __cdecl memset(void* destination, int value, size_t count);
size_t __cdecl strlen(char const* text);
}
#endif

// Placement new, for constructing an object in storage the caller provides.
#if defined(__has_include)
#if __has_include(<new>)
#include <new>
#define TOLVAN_HAVE_NEW 1
#endif
#elif defined(_MSC_VER)
#include <new>
#define TOLVAN_HAVE_NEW 1
#endif
#if !defined(TOLVAN_HAVE_NEW)
inline void* operator new(size_t, void* place) noexcept { return place; }
inline void operator delete(void*, void*) noexcept {}
#endif

#endif

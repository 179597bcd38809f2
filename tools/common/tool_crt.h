// The C runtime string functions the tools use. The Windows build of the
// tools has no C runtime headers, so there they are declared here and taken
// from the system msvcrt.dll; the host build uses the system header.
#ifndef TOLVAN_TOOLS_COMMON_TOOL_CRT_H
#define TOLVAN_TOOLS_COMMON_TOOL_CRT_H

#include <stddef.h>
#include <stdint.h>

#include "platform/crt.h"

#if !defined(TOLVAN_HAVE_STRING_H)
extern "C" {
int __cdecl memcmp(void const* left, void const* right, size_t count);
void const* __cdecl memchr(void const* data, int value, size_t count);
int __cdecl strcmp(char const* left, char const* right);
}
#endif

#endif

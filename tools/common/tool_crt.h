// Kept only while older sources still include it: the C string functions
// come from the standard headers now.
#ifndef TOLVAN_TOOLS_COMMON_TOOL_CRT_H
#define TOLVAN_TOOLS_COMMON_TOOL_CRT_H

#include <cstdint>
#include <cstring>

#endif

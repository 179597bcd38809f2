// What every end-to-end image needs from the start-up code it does not link.
#include "tests/e2e/common/runtime.h"

// Floating-point code refers to this marker of the C runtime's start-up code.
extern "C" int _fltused = 0x9875;

// Thrown types are described by type descriptors that point at type_info's
// virtual table. Nothing here asks for type information at run time; the
// runtime matches thrown and caught types by their descriptors' names, so a
// local table serves.
extern "C" void const* const e2eTypeInfoTable[1] __asm__("??_7type_info@@6B@") = {nullptr};

// The module's entry point. The system msvcrt.dll initialises itself before
// the module is attached and shuts down after it is detached, so no run-time
// start-up code of our own is linked.
#include "core/module_state.h"
#include "platform/platform.h"

// Floating-point code needs this marker of the C runtime's start-up code.
extern "C" int _fltused = 0x9875;

namespace {
unsigned long const kProcessDetach = 0;
unsigned long const kProcessAttach = 1;
unsigned long const kThreadDetach = 3;

void* g_ownLibrary;  // this module's handle, as the loader gave it
}  // namespace

namespace tolvan {
void* PlatformOwnLibrary() { return g_ownLibrary; }
}  // namespace tolvan

extern "C" int __stdcall DllMain(void* instance, unsigned long reason, void* /*reserved*/) {
  if (reason == kProcessAttach) {
    g_ownLibrary = instance;
    return tolvan::ModuleAttach();
  }
  if (reason == kProcessDetach) tolvan::ModuleDetach();
  if (reason == kThreadDetach) tolvan::ModuleThreadDetach();
  return 1;
}

// Binding to the engine library: loaded by the first facade call, each entry
// looked up by its decorated name on first use and kept for good.
#ifndef TOLVAN_CORE_ENGINE_BINDING_H
#define TOLVAN_CORE_ENGINE_BINDING_H

#include "module_state.h"
#include "operations.h"

namespace tolvan {

extern char const kEngineLibraryName[];  // "Tolvan33.dll"

// Loads the library if it is not loaded yet (#001 on failure) and fills the
// operation's slot if it is empty (#002 when the entry stays unknown).
// Returns the slot's content: the entry, or null.
void* ResolveEntry(OperationId op);

// The per-call path: no work once library and slot are known.
inline void* EngineEntry(OperationId op) {
  if (g_module.engineLibrary && g_module.entrySlots[op]) return g_module.entrySlots[op];
  return ResolveEntry(op);
}

}  // namespace tolvan

#endif

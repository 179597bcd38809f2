#include "engine_binding.h"

#include "error_reporter.h"
#include "platform/platform.h"

namespace tolvan {

char const kEngineLibraryName[] = "Tolvan33.dll";

namespace {

// A copy of the module installed under the engine's name is given its own
// handle when it loads the engine: forwarding to itself would recurse until
// the stack overflows. It counts as no engine at all.
void* LoadEngineLibrary() {
  void* const library = PlatformLoadLibrary(kEngineLibraryName);
  if (library && library == PlatformOwnLibrary()) {
    PlatformReleaseLibrary(library);
    return nullptr;
  }
  return library;
}

}  // namespace

void* ResolveEntry(OperationId op) {
  if (!g_module.engineLibrary) {
    g_module.engineLibrary = LoadEngineLibrary();
    if (!g_module.engineLibrary) {
      char const* const pieces[] = {kError001Begin, kEngineLibraryName, kError001End};
      ReportMessage(pieces, 3);
    }
  }
  void*& slot = g_module.entrySlots[op];
  // Without the engine there is nothing to look in; asking the loader with no
  // module would search the host's own program instead.
  if (!slot && g_module.engineLibrary) slot = PlatformFindEntry(g_module.engineLibrary, DecoratedName(op));
  if (!slot) ReportError(kError002);
  if (!g_module.tracing) g_module.untracedEntries[op] = slot;
  return slot;
}

}  // namespace tolvan

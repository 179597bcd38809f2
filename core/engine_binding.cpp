#include "engine_binding.h"

#include "error_reporter.h"
#include "platform/platform.h"
#include "trace_log.h"
#include "version_resource.h"

namespace tolvan {

char const kEngineLibraryName[] = "Tolvan33.dll";

namespace {

// A copy of the module installed under the engine's name, of any version and
// with or without a guard of its own, would forward into itself (until the
// stack overflows) or run the module's policies on its own zero results. It
// is recognised by its version resource as soon as it is loaded, before any
// call reaches it, given back and counted as no engine at all. The test build of such a copy leaves
// the guard out.
void* LoadEngineLibrary() {
  void* const library = PlatformLoadLibrary(kEngineLibraryName);
#if !defined(TOLVAN_WITHOUT_ENGINE_GUARD)
  if (library && LibraryIsModule(library)) {
    PlatformReleaseLibrary(library);
    return nullptr;
  }
#endif
  return library;
}

}  // namespace

void* ResolveEntry(OperationId op) {
  if (!g_module.engineLibrary) {
    void* const library = LoadEngineLibrary();
    g_module.engineLibrary = library;
    if (library) {
      TraceEngineLine(library);
    } else {
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

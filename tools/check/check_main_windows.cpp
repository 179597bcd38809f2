// tolvan32-check: loads an engine library, the value-types library and the
// module beside it, and reports which exported entries each of them has.
// Libraries are only loaded and searched by name; no entry is ever called.
#include "core/operations.h"
#include "tools/check/engine_check.h"
#include "tools/common/tool_crt.h"
#include "tools/common/tool_platform.h"
#include "tools/common/windows_api.h"

namespace tolvan {
namespace tools {

namespace {

enum { kPathSize = 1024, kVersionResourceType = 16, kVersionResourceName = 1 };

struct LoadedLibrary {
  char requested[kPathSize];
  char loaded[kPathSize];
  void* handle;
  unsigned long error;
};

bool HasEntry(void* context, char const* name) {
  return GetProcAddress(static_cast<LoadedLibrary*>(context)->handle, name) != nullptr;
}

bool HasDirectory(char const* path) {
  for (char const* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') return true;
  }
  return false;
}

// The folder part of a path, with its final separator; "" when there is none.
size_t FolderLength(char const* path) {
  size_t length = 0;
  for (size_t i = 0; path[i]; ++i) {
    if (path[i] == '\\' || path[i] == '/' || path[i] == ':') length = i + 1;
  }
  return length;
}

void CopyText(char* target, size_t size, char const* first, size_t firstLength, char const* second) {
  size_t used = 0;
  for (size_t i = 0; i < firstLength && used + 1 < size; ++i) target[used++] = first[i];
  for (size_t i = 0; second[i] && used + 1 < size; ++i) target[used++] = second[i];
  target[used] = '\0';
}

void Load(LoadedLibrary& library, char const* path) {
  CopyText(library.requested, sizeof library.requested, path, strlen(path), "");
  // With a folder in the path, the libraries it needs are looked for beside
  // it first, as they are when the host loads it from its own folder.
  library.handle = LoadLibraryExA(path, nullptr, HasDirectory(path) ? kLoadWithAlteredSearchPath : 0);
  library.error = library.handle ? 0 : GetLastError();
  library.loaded[0] = '\0';
  if (library.handle && !GetModuleFileNameA(library.handle, library.loaded, sizeof library.loaded)) {
    CopyText(library.loaded, sizeof library.loaded, path, strlen(path), "");
  }
}

VersionIdentity Identify(void* module) {
  void* const resource = FindResourceA(module, reinterpret_cast<char const*>(kVersionResourceName),
                                       reinterpret_cast<char const*>(kVersionResourceType));
  if (!resource) return kVersionUnknown;
  void* const loaded = LoadResource(module, resource);
  void const* const bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return kVersionUnknown;
  return NamesProxyModule(bytes, SizeofResource(module, resource)) ? kVersionProxyModule : kVersionOther;
}

LibraryProbe Probe(char const* title, LoadedLibrary& library) {
  LibraryProbe probe = {};
  probe.title = title;
  probe.requestedPath = library.requested;
  probe.loadedPath = library.handle ? library.loaded : nullptr;
  probe.loadError = library.error;
  probe.identity = library.handle ? Identify(library.handle) : kVersionUnknown;
  probe.context = &library;
  probe.hasEntry = &HasEntry;
  return probe;
}

LoadedLibrary g_engine;
LoadedLibrary g_valueTypes;
LoadedLibrary g_module;
char const* g_operationNames[kOperationCount];
char const* g_operationTexts[kOperationCount];

void Usage(Output& out) {
  Put(out,
      "usage: tolvan32-check [--all] [ENGINE]\n"
      "  Loads ENGINE (default .\\Tolvan33.dll), the value-types library Ravix32.dll and the module\n"
      "  Tolvan32.dll from the same folder, and lists the exported entries each of them lacks.\n"
      "  --all  list every entry, present or missing\n"
      "  Exit status: 0 when everything is present, 1 when something is missing, 2 on a usage error.\n");
}

}  // namespace

int ToolMain(int argc, char** argv) {
  Output& out = StandardOutput();
  bool listAll = false;
  char const* enginePath = nullptr;
  for (int i = 1; i < argc; ++i) {
    char const* argument = argv[i];
    if (strcmp(argument, "--all") == 0) {
      listAll = true;
    } else if (strcmp(argument, "--help") == 0 || strcmp(argument, "/?") == 0) {
      Usage(out);
      return 0;
    } else if (argument[0] == '-' || enginePath) {
      Usage(StandardError());
      return 2;
    } else {
      enginePath = argument;
    }
  }
  char defaultEngine[32];
  CopyText(defaultEngine, sizeof defaultEngine, ".\\", 2, kEngineFileName);
  if (!enginePath) enginePath = defaultEngine;

  // A missing library is reported here, not in a system dialog.
  SetErrorMode(kFailCriticalErrors | kNoOpenFileErrorBox);

  char path[kPathSize];
  size_t const folder = FolderLength(enginePath);
  Load(g_engine, enginePath);
  CopyText(path, sizeof path, folder ? enginePath : ".\\", folder ? folder : 2, kValueTypesFileName);
  Load(g_valueTypes, path);
  // Not beside the engine: wherever the system finds it for the host.
  if (!g_valueTypes.handle) Load(g_valueTypes, kValueTypesFileName);
  CopyText(path, sizeof path, folder ? enginePath : ".\\", folder ? folder : 2, kModuleFileName);
  Load(g_module, path);

  for (int op = 0; op < kOperationCount; ++op) {
    g_operationNames[op] = DecoratedName(static_cast<OperationId>(op));
    g_operationTexts[op] = SignatureText(static_cast<OperationId>(op));
  }
  EntryList const operations = {g_operationNames, g_operationTexts, kOperationCount};
  EntryList const valueTypes = {kValueTypesEntries, nullptr, 2};

  bool good = ReportLibrary(out, Probe("Engine library", g_engine), operations, kMustNotBeProxy, listAll);
  good = ReportLibrary(out, Probe("Value-types library", g_valueTypes), valueTypes, kAnyIdentity, listAll) && good;
  good = ReportLibrary(out, Probe("Module", g_module), operations, kMustBeProxy, listAll) && good;
  Put(out, good ? "Result: complete\n" : "Result: INCOMPLETE\n");
  return good ? 0 : 1;
}

}  // namespace tools
}  // namespace tolvan

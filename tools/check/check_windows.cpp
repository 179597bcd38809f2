// The check of tolvan32-setup: loads an engine library, the value-types
// library and the module beside it, and reports which exported entries each
// of them has. Libraries are only loaded and searched by name; no entry is
// ever called.
#include "tools/check/check_windows.h"

#include "core/operations.h"
#include "tools/check/engine_check.h"
#include "tools/common/tool_crt.h"
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

// The check's libraries are given back, so that the files can be renamed or
// removed afterwards (tolvan32-setup undoes an installation the check found
// incomplete).
void Release(LoadedLibrary& library) {
  if (library.handle) FreeLibrary(library.handle);
  library.handle = nullptr;
}

LibraryProbe Probe(char const* title, LoadedLibrary& library) {
  LibraryProbe probe = {};
  probe.title = title;
  probe.requestedPath = library.requested;
  probe.loadedPath = library.handle ? library.loaded : nullptr;
  probe.loadError = library.error;
  probe.identity = library.handle ? IdentifyLibrary(library.handle, nullptr) : kVersionUnknown;
  probe.context = &library;
  probe.hasEntry = &HasEntry;
  return probe;
}

LoadedLibrary g_engine;
LoadedLibrary g_valueTypes;
LoadedLibrary g_module;
char const* g_operationNames[kOperationCount];
char const* g_operationTexts[kOperationCount];

}  // namespace

bool HasDirectory(char const* path) {
  for (char const* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') return true;
  }
  return false;
}

VersionIdentity IdentifyLibrary(void* library, FileVersion* version) {
  void* const resource = FindResourceA(library, reinterpret_cast<char const*>(kVersionResourceName),
                                       reinterpret_cast<char const*>(kVersionResourceType));
  if (!resource) return kVersionUnknown;
  void* const loaded = LoadResource(library, resource);
  void const* const bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return kVersionUnknown;
  unsigned long const size = SizeofResource(library, resource);
  if (version && !ReadFileVersion(bytes, size, version)) *version = FileVersion();
  return NamesProxyModule(bytes, size) ? kVersionProxyModule : kVersionOther;
}

int RunCheck(Output& out, char const* enginePath, bool listAll) {
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
  // The module imports the value-types library: it goes first.
  Release(g_module);
  Release(g_valueTypes);
  Release(g_engine);
  return good ? 0 : 1;
}

}  // namespace tools
}  // namespace tolvan

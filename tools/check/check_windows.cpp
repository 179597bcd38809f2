// The check of tolvan32-setup: loads an engine library, the value-types
// library and the module beside it, and reports which exported entries each
// of them has. Libraries are only loaded and searched by name; no entry is
// ever called. They are looked for as the host looks for them from its own
// folder, never in this program's folder or the folder it was started in.
#include "tools/check/check_windows.h"

#include "core/version_info.h"

#include "tools/common/wide_text.h"

namespace tolvan {
namespace tools {

namespace {

unsigned long const kModuleNotFound = 126;

// A library loaded for the check, given back when it ends, so that the
// files can be renamed or removed afterwards (tolvan32-setup undoes an
// installation the check found incomplete).
class LoadedLibrary {
 public:
  // `path` is the full path to load (none: not found where the host looks).
  // Its own imports are looked for beside it first, as they are when the
  // host loads it from its own folder.
  LoadedLibrary(std::string requested, std::string const& path) : requested_(std::move(requested)) {
    handle_ = path.empty() ? nullptr : LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    error_ = handle_ ? 0 : path.empty() ? kModuleNotFound : GetLastError();
    if (handle_) loaded_ = ModuleFileName(handle_);
    if (handle_ && loaded_.empty()) loaded_ = path;
  }
  ~LoadedLibrary() {
    if (handle_) FreeLibrary(handle_);
  }
  LoadedLibrary(LoadedLibrary const&) = delete;
  LoadedLibrary& operator=(LoadedLibrary const&) = delete;

  LibraryProbe Probe(std::string title) const {
    HMODULE const handle = handle_;
    FileVersion version = {};
    VersionIdentity const identity = handle ? IdentifyLibrary(handle, &version) : kVersionUnknown;
    return {std::move(title),
            requested_,
            loaded_,
            error_,
            identity,
            [handle](std::string const& name) { return GetProcAddress(handle, name.c_str()) != nullptr; },
            version};
  }

 private:
  std::string requested_;
  std::string loaded_;
  HMODULE handle_;
  unsigned long error_;
};

// The host's folder as the current folder while the check runs, so that
// the system's search, which looks in the current folder too, looks there.
class CurrentFolder {
 public:
  explicit CurrentFolder(std::string const& folder) {
    DWORD const length = GetCurrentDirectoryW(0, nullptr);
    previous_.resize(length);
    previous_.resize(GetCurrentDirectoryW(length, &previous_[0]));
    SetCurrentDirectoryW(Wide(folder).c_str());
  }
  ~CurrentFolder() { SetCurrentDirectoryW(previous_.c_str()); }
  CurrentFolder(CurrentFolder const&) = delete;
  CurrentFolder& operator=(CurrentFolder const&) = delete;

 private:
  std::wstring previous_;
};

std::wstring SystemFolder(UINT (WINAPI* get)(LPWSTR, UINT)) {
  wchar_t path[MAX_PATH] = {};
  UINT const length = get(path, MAX_PATH);
  return length && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

}  // namespace

bool HasDirectory(std::string_view path) { return path.find_first_of("\\/:") != std::string_view::npos; }

std::string ModuleFileName(HMODULE module) {
  // The system cuts a name that does not fit and says so only by filling
  // the buffer: try again with a larger one.
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    DWORD const length = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return Utf8(path);
    }
    path.resize(path.size() * 2);
  }
}

void PutSystemErrorText(Output& out, unsigned long error) {
  wchar_t* text = nullptr;
  DWORD const length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                          FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length ? Utf8(std::wstring(text, length)) : std::string();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' || message.back() == ' ')) {
    message.pop_back();
  }
  // Some texts name the file as an insert ("%1 is not a valid Win32
  // application"); the file is named before the text.
  for (size_t insert; (insert = message.find("%1")) != std::string::npos;) message.replace(insert, 2, "the file");
  if (!message.empty()) {
    Put(out, message);
    Put(out, " ");
  }
  Put(out, "(error ");
  PutNumber(out, error);
  Put(out, ")");
}

std::string FullPath(std::string const& path) {
  std::wstring const wide = Wide(path.empty() ? "." : path);
  DWORD const length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (!length) return path;
  std::wstring full(length, L'\0');
  full.resize(GetFullPathNameW(wide.c_str(), length, &full[0], nullptr));
  return Utf8(full);
}

std::string FindAsHost(std::string const& hostFolder, char const* name) {
  // The host's folder, the system's folders, the Windows folder, then PATH;
  // the current folder is the host's own while the host runs from it.
  std::wstring const windows = SystemFolder(&GetWindowsDirectoryW);
  std::wstring folders = Wide(FullPath(hostFolder)) + L";" + SystemFolder(&GetSystemDirectoryW) + L";" + windows +
                         L"\\System;" + windows;
  DWORD const pathLength = GetEnvironmentVariableW(L"PATH", nullptr, 0);
  if (pathLength) {
    std::wstring path(pathLength, L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", &path[0], pathLength));
    folders += L";" + path;
  }
  std::wstring found(MAX_PATH, L'\0');
  DWORD const length = SearchPathW(folders.c_str(), Wide(name).c_str(), nullptr, MAX_PATH, &found[0], nullptr);
  if (!length || length >= MAX_PATH) return std::string();
  found.resize(length);
  return Utf8(found);
}

VersionIdentity IdentifyLibrary(HMODULE library, FileVersion* version) {
  HRSRC const resource = FindResourceW(library, MAKEINTRESOURCEW(VS_VERSION_INFO), MAKEINTRESOURCEW(16));
  if (!resource) return kVersionUnknown;
  HGLOBAL const loaded = LoadResource(library, resource);
  void const* const bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return kVersionUnknown;
  DWORD const size = SizeofResource(library, resource);
  if (version && !ReadFileVersion(bytes, size, version)) *version = FileVersion();
  return VersionNamesModule(bytes, size) ? kVersionProxyModule : kVersionOther;
}

int RunCheck(Output& out, std::string const& enginePath, bool listAll) {
  // A missing library is reported here, not in a system dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  size_t const separator = enginePath.find_last_of("\\/:");
  std::string const folder = separator == std::string::npos ? ".\\" : enginePath.substr(0, separator + 1);
  std::string const hostFolder = FullPath(folder);
  std::string const fullEngine = FullPath(enginePath);
  CurrentFolder const asTheHost(hostFolder);
  LoadedLibrary const engine(enginePath, fullEngine);
  // Where the host finds it: its folder, the system's folders, PATH.
  auto const valueTypes = std::make_unique<LoadedLibrary>(folder + kValueTypesFileName,
                                                          FindAsHost(hostFolder, kValueTypesFileName));
  // The module imports the value-types library: it is given back first.
  LoadedLibrary const module(folder + kModuleFileName, *JoinPath(hostFolder, kModuleFileName, 1u << 15));

  EntryList const operations = OperationEntries();
  LibraryProbe const engineProbe = engine.Probe("Engine library");
  bool const engineGood = ReportLibrary(out, engineProbe, operations, kMustNotBeProxy, listAll);
  bool const valueTypesGood =
      ReportLibrary(out, valueTypes->Probe("Value-types library"), ValueTypesEntries(), kAnyIdentity, listAll);
  bool const moduleGood = ReportLibrary(out, module.Probe("Module"), operations, kMustBeProxy, listAll);
  bool const good = engineGood && valueTypesGood && moduleGood;
  Put(out, good ? "Result: complete\n" : "Result: INCOMPLETE\n");
  if (good) return kLibrariesComplete;
  // Loaded, the right file, only entries missing: the host works but for those.
  bool const onlyEntries = valueTypesGood && moduleGood && !engineProbe.loadedPath.empty() &&
                           engineProbe.identity != kVersionProxyModule;
  return onlyEntries ? kEngineEntriesMissing : kLibrariesFailing;
}

}  // namespace tools
}  // namespace tolvan

// The check of tolvan32-setup: loads an engine library, the value-types
// library and the module beside it, and reports which exported entries each
// of them has. Libraries are only loaded and searched by name; no entry is
// ever called.
#include "tools/check/check_windows.h"

namespace tolvan {
namespace tools {

namespace {

// A library loaded for the check, given back when it ends, so that the
// files can be renamed or removed afterwards (tolvan32-setup undoes an
// installation the check found incomplete).
class LoadedLibrary {
 public:
  explicit LoadedLibrary(std::string const& path) : requested_(path) {
    // With a folder in the path, the libraries it needs are looked for beside
    // it first, as they are when the host loads it from its own folder.
    handle_ = LoadLibraryExA(path.c_str(), nullptr, HasDirectory(path) ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
    error_ = handle_ ? 0 : GetLastError();
    if (handle_) loaded_ = ModuleFileName(handle_);
    if (handle_ && loaded_.empty()) loaded_ = path;
  }
  ~LoadedLibrary() {
    if (handle_) FreeLibrary(handle_);
  }
  LoadedLibrary(LoadedLibrary const&) = delete;
  LoadedLibrary& operator=(LoadedLibrary const&) = delete;

  bool Loaded() const { return handle_ != nullptr; }

  LibraryProbe Probe(std::string title) const {
    HMODULE const handle = handle_;
    return {std::move(title),
            requested_,
            loaded_,
            error_,
            handle ? IdentifyLibrary(handle, nullptr) : kVersionUnknown,
            [handle](std::string const& name) { return GetProcAddress(handle, name.c_str()) != nullptr; }};
  }

 private:
  std::string requested_;
  std::string loaded_;
  HMODULE handle_;
  unsigned long error_;
};

}  // namespace

bool HasDirectory(std::string_view path) { return path.find_first_of("\\/:") != std::string_view::npos; }

std::string ModuleFileName(HMODULE module) {
  // The system cuts a name that does not fit and says so only by filling
  // the buffer: try again with a larger one.
  std::string path(MAX_PATH, '\0');
  while (true) {
    DWORD const length = GetModuleFileNameA(module, &path[0], static_cast<DWORD>(path.size()));
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void PutSystemErrorText(Output& out, unsigned long error) {
  char* text = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  while (length && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) --length;
  if (length) {
    PutBytes(out, text, length);
    Put(out, " ");
  }
  if (text) LocalFree(text);
  Put(out, "(error ");
  PutNumber(out, error);
  Put(out, ")");
}

VersionIdentity IdentifyLibrary(HMODULE library, FileVersion* version) {
  HRSRC const resource = FindResourceA(library, MAKEINTRESOURCEA(VS_VERSION_INFO), MAKEINTRESOURCEA(16));
  if (!resource) return kVersionUnknown;
  HGLOBAL const loaded = LoadResource(library, resource);
  void const* const bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return kVersionUnknown;
  DWORD const size = SizeofResource(library, resource);
  if (version && !ReadFileVersion(bytes, size, version)) *version = FileVersion();
  return NamesProxyModule(bytes, size) ? kVersionProxyModule : kVersionOther;
}

int RunCheck(Output& out, std::string const& enginePath, bool listAll) {
  // A missing library is reported here, not in a system dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  size_t const separator = enginePath.find_last_of("\\/:");
  std::string const folder = separator == std::string::npos ? ".\\" : enginePath.substr(0, separator + 1);
  LoadedLibrary const engine(enginePath);
  // Not beside the engine: wherever the system finds it for the host.
  auto valueTypes = std::make_unique<LoadedLibrary>(folder + kValueTypesFileName);
  if (!valueTypes->Loaded()) valueTypes = std::make_unique<LoadedLibrary>(kValueTypesFileName);
  // The module imports the value-types library: it is given back first.
  LoadedLibrary const module(folder + kModuleFileName);

  EntryList const operations = OperationEntries();
  bool good = ReportLibrary(out, engine.Probe("Engine library"), operations, kMustNotBeProxy, listAll);
  good = ReportLibrary(out, valueTypes->Probe("Value-types library"), ValueTypesEntries(), kAnyIdentity, listAll) &&
         good;
  good = ReportLibrary(out, module.Probe("Module"), operations, kMustBeProxy, listAll) && good;
  Put(out, good ? "Result: complete\n" : "Result: INCOMPLETE\n");
  return good ? 0 : 1;
}

}  // namespace tools
}  // namespace tolvan

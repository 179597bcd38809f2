// The engine check: which of the exported operations an engine library, the
// value-types library and the installed module offer. The report is built
// here from what the Windows front end found by loading each library; no
// entry of any library is ever called.
#ifndef TOLVAN_TOOLS_CHECK_ENGINE_CHECK_H
#define TOLVAN_TOOLS_CHECK_ENGINE_CHECK_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/common/tool_output.h"

namespace tolvan {
namespace tools {

// What a library's version resource says about it.
enum VersionIdentity {
  kVersionUnknown,      // no version resource, or not looked at
  kVersionOther,        // a version resource that does not name the module
  kVersionProxyModule,  // the version resource names the proxy module
};

// How the library found on disk is expected to identify itself.
enum IdentityRule {
  kAnyIdentity,
  kMustNotBeProxy,  // the engine: a copy of the module under its name would call itself
  kMustBeProxy,     // Tolvan32.dll: the module itself, not the engine left in place
};

// The fixed file version of a version resource: 8.0.0.7 is {0x00080000, 7}.
struct FileVersion {
  uint32_t high;
  uint32_t low;
};

struct LibraryProbe {
  std::string title;          // "Engine library"
  std::string requestedPath;  // what was asked for
  std::string loadedPath;     // the file the system loaded; empty when the load failed
  unsigned long loadError;    // the system's error number when the load failed
  VersionIdentity identity;
  std::function<bool(std::string const& name)> hasEntry;
  FileVersion version = {};  // from its version resource; zero when it has none
};

// An exported entry, looked up exactly as spelled; `readable` is shown
// beside it when it is missing (none when empty).
struct Entry {
  std::string name;
  std::string readable;
};
typedef std::vector<Entry> EntryList;

// The module's operations, and the two entries of the value-types library
// that the module imports.
EntryList OperationEntries();
EntryList ValueTypesEntries();

// Prints the library's section of the report: where it was loaded from, how
// many entries it has, each missing one (every entry with `listAll`), and
// whether it is the library it should be. Returns true when nothing is amiss.
bool ReportLibrary(Output& out, LibraryProbe const& probe, EntryList const& entries, IdentityRule rule,
                   bool listAll);

// Reads it from the resource's bytes; false when they hold none.
bool ReadFileVersion(void const* versionResource, size_t size, FileVersion* version);
// Negative, zero or positive as `a` is older than, the same as or newer than `b`.
int CompareFileVersions(FileVersion a, FileVersion b);
// "8.0.0.7"
std::string FileVersionText(FileVersion version);
void PutFileVersion(Output& out, FileVersion version);

// What a library file's bytes say, read without loading it: whether it is a
// 32-bit Windows library, and how many of the module's operations it exports.
struct ImageFacts {
  bool library32;           // a whole PE32 image for the x86 (a DLL)
  size_t operationsMissing; // of OperationEntries(), not exported
  size_t operationsTotal;
};
ImageFacts ReadImageFacts(std::string_view bytes);

// A 64-bit FNV-1a hash of a file's bytes: enough to tell two versions of a
// file apart, which is all it is used for.
uint64_t ContentHash(std::string_view bytes);
// The same hash of bytes that come in pieces: each piece continues the hash
// of those before it, the first one kContentHashStart.
uint64_t const kContentHashStart = 0xcbf29ce484222325ull;
uint64_t ContinueContentHash(uint64_t hash, std::string_view bytes);
// Sixteen hexadecimal digits.
void PutHash(Output& out, uint64_t hash);

// A short explanation of a load failure's system error number.
char const* LoadErrorText(unsigned long error);

// The module's own file name, the engine's and the value-types library's.
constexpr char kModuleFileName[] = "Tolvan32.dll";
constexpr char kEngineFileName[] = "Tolvan33.dll";
constexpr char kValueTypesFileName[] = "Ravix32.dll";

}  // namespace tools
}  // namespace tolvan

#endif

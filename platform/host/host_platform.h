// Controls of the host test build's platform layer: an in-process engine
// library, recorded message boxes, a heap that fails on demand and log files
// that refuse to open on demand.
#ifndef TOLVAN_PLATFORM_HOST_HOST_PLATFORM_H
#define TOLVAN_PLATFORM_HOST_HOST_PLATFORM_H

#include <stddef.h>

#include <functional>
#include <string>
#include <vector>

namespace tolvan {
namespace host {

// Environment values that do not fit the caller's buffer: with `fill`, the
// buffer receives as much of the value as it holds (which Windows is free to
// do) instead of being left alone.
void FillBufferWithTooLongValues(bool fill);

struct LibraryExport {
  char const* name;
  void* address;
};

// The library that loading "Tolvan33.dll" gives; null makes the load fail.
// Restarts the counts of loads and releases.
void SetEngineLibrary(LibraryExport const* exports, size_t count);
// From now on loading "Tolvan33.dll" gives the module's own handle, as it
// does inside a copy of the module installed under the engine's name.
void LoadModuleItselfAsEngine();
// How often a library was given back, and whether each was the module's own.
int LibraryReleaseCount();
bool OnlyOwnLibraryReleased();
// An export that the library then lacks (empty: none).
void HideEngineExport(std::string const& name);
int EngineLoadCount();

struct MessageBoxRecord {
  std::string text;
  std::string caption;
};
std::vector<MessageBoxRecord>& MessageBoxes();
// Runs while each box is shown, after it is recorded, as the box's own
// message loop would run the host's code (empty: nothing).
void SetWhileMessageBoxShown(std::function<void()> action);

// Allocation number n (1 = the next one) and, with `persistent`, every later
// one fail; 0 turns failures off.
void FailAllocation(long n, bool persistent = false);
long AllocationCount();
// Bytes the module holds on its heap right now.
long long LiveHeapBytes();

// Log files: where they go ("" = the current directory), and which letters
// ("b", "a", "ba") refuse to open.
void SetLogDirectory(std::string const& directory);
void SetUnopenableLogs(std::string const& letters);
// From the nth log file open on (1 = the next one), files of these letters
// refuse to open; 0 turns it off. Counts every open from this call on.
void FailLogOpensFrom(long n, std::string const& letters);
long LogOpenCount();

// The module's working storage (the trace lines being collected) refuses to
// grow while `fail` is set.
void FailWorkStorage(bool fail);
// Bytes of working storage the module holds right now.
long long LiveWorkBytes();
// The host program's path that the run line names.
char const* HostProgramPath();
// The computer and the user the run line names.
char const* ComputerName();
char const* UserName();

}  // namespace host
}  // namespace tolvan

#endif

#include "tools/check/engine_check.h"

#include <cstring>
#include <string_view>

#include "core/operations.h"

namespace tolvan {
namespace tools {

namespace {

// The module's ProductName; the engine's version resource cannot carry it.
char const kProxyProductName[] = "Tolvan32 Share";

void PutLabel(Output& out, char const* label) {
  Put(out, "  ");
  Put(out, label);
  PutSpaces(out, 11 - static_cast<int>(std::strlen(label)));
}

void PutLine(Output& out, char const* label, std::string_view text) {
  PutLabel(out, label);
  Put(out, text);
  Put(out, "\n");
}

}  // namespace

EntryList OperationEntries() {
  EntryList entries;
  for (int op = 0; op < kOperationCount; ++op) {
    entries.push_back({DecoratedName(static_cast<OperationId>(op)), SignatureText(static_cast<OperationId>(op))});
  }
  return entries;
}

EntryList ValueTypesEntries() { return {{"JDateToString", ""}, {"?GetDouble@CNumeric@@QBEOXZ", ""}}; }

bool NamesProxyModule(void const* versionResource, size_t size) {
  if (!versionResource) return false;
  std::string name;
  for (char c : std::string_view(kProxyProductName)) name += {c, '\0'};
  return std::string_view(static_cast<char const*>(versionResource), size).find(name) != std::string_view::npos;
}

bool ReadFileVersion(void const* versionResource, size_t size, FileVersion* version) {
  // The root block: three 16-bit words, the key "VS_VERSION_INFO" in UTF-16
  // with its terminating zero, padding to 32 bits, then the fixed part:
  // signature, structure version, file version (most, least significant).
  enum { kFixedPart = 40, kFixedSize = 52 };
  uint32_t const kSignature = 0xfeef04bdu;
  unsigned char const* const bytes = static_cast<unsigned char const*>(versionResource);
  if (!bytes || size < kFixedPart + kFixedSize) return false;
  auto const word = [bytes](size_t offset) {
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 | static_cast<uint32_t>(bytes[offset + 3]) << 24;
  };
  uint32_t const valueLength = word(0) >> 16;
  if (valueLength < kFixedSize || word(kFixedPart) != kSignature) return false;
  version->high = word(kFixedPart + 8);
  version->low = word(kFixedPart + 12);
  return true;
}

int CompareFileVersions(FileVersion a, FileVersion b) {
  if (a.high != b.high) return a.high < b.high ? -1 : 1;
  if (a.low != b.low) return a.low < b.low ? -1 : 1;
  return 0;
}

void PutFileVersion(Output& out, FileVersion version) {
  PutNumber(out, version.high >> 16);
  PutChar(out, '.');
  PutNumber(out, version.high & 0xffff);
  PutChar(out, '.');
  PutNumber(out, version.low >> 16);
  PutChar(out, '.');
  PutNumber(out, version.low & 0xffff);
}

char const* LoadErrorText(unsigned long error) {
  switch (error) {
    case 2:
    case 3:
      return "the file was not found";
    case 5:
      return "access denied";
    case 126:
      return "the file, or a library it needs, was not found";
    case 193:
      return "not a 32-bit Windows library";
    case 1114:
      return "the library refused to start (its initialisation failed)";
    default:
      return "the system refused to load it";
  }
}

bool ReportLibrary(Output& out, LibraryProbe const& probe, EntryList const& entries, IdentityRule rule,
                   bool listAll) {
  Put(out, probe.title);
  Put(out, "\n");
  PutLine(out, "requested", probe.requestedPath);
  if (probe.loadedPath.empty()) {
    PutLabel(out, "NOT LOADED");
    Put(out, LoadErrorText(probe.loadError));
    Put(out, " (error ");
    PutNumber(out, probe.loadError);
    Put(out, ")\n");
    return false;
  }
  PutLine(out, "loaded", probe.loadedPath);

  bool good = true;
  if (rule == kMustNotBeProxy && probe.identity == kVersionProxyModule) {
    PutLabel(out, "WRONG FILE");
    Put(out, "this is the proxy module itself; the engine must be the original library renamed to ");
    Put(out, kEngineFileName);
    Put(out, "\n");
    good = false;
  } else if (rule == kMustBeProxy && probe.identity != kVersionProxyModule) {
    PutLabel(out, "WRONG FILE");
    Put(out, "its version resource does not name the proxy module (\"");
    Put(out, kProxyProductName);
    Put(out, "\"): is the original engine still in its place?\n");
    good = false;
  } else if (probe.identity == kVersionProxyModule) {
    PutLine(out, "version", kProxyProductName);
  }

  size_t present = 0;
  for (Entry const& entry : entries) {
    bool const found = probe.hasEntry(entry.name);
    if (found) ++present;
    if (found && !listAll) continue;
    PutLine(out, found ? "present" : "MISSING", entry.readable.empty() ? entry.name : entry.name + "  " + entry.readable);
  }
  PutLabel(out, "entries");
  PutNumber(out, present);
  Put(out, " of ");
  PutNumber(out, entries.size());
  Put(out, present == entries.size() ? " present\n" : " present, INCOMPLETE\n");
  return good && present == entries.size();
}

}  // namespace tools
}  // namespace tolvan

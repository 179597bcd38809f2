#include "tools/check/engine_check.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "core/operations.h"
#include "core/version_info.h"

namespace tolvan {
namespace tools {

namespace {

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

bool ReadFileVersion(void const* versionResource, size_t size, FileVersion* version) {
  unsigned long high = 0;
  unsigned long low = 0;
  if (!VersionFileNumbers(versionResource, size, &high, &low)) return false;
  version->high = static_cast<uint32_t>(high);
  version->low = static_cast<uint32_t>(low);
  return true;
}

int CompareFileVersions(FileVersion a, FileVersion b) {
  if (a.high != b.high) return a.high < b.high ? -1 : 1;
  if (a.low != b.low) return a.low < b.low ? -1 : 1;
  return 0;
}

std::string FileVersionText(FileVersion version) {
  return std::to_string(version.high >> 16) + "." + std::to_string(version.high & 0xffff) + "." +
         std::to_string(version.low >> 16) + "." + std::to_string(version.low & 0xffff);
}

void PutFileVersion(Output& out, FileVersion version) { Put(out, FileVersionText(version)); }

namespace {

// Little-endian words of a file's bytes; zero beyond its end.
uint32_t Word32(std::string_view bytes, size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < 4) return 0;
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}
uint32_t Word16(std::string_view bytes, size_t offset) { return Word32(bytes, offset) & 0xffff; }

// Where a relative virtual address lies in the file, or 0.
size_t FileOffsetOf(std::string_view bytes, size_t sections, size_t count, uint32_t address) {
  for (size_t i = 0; i < count; ++i) {
    size_t const section = sections + 40 * i;
    uint32_t const start = Word32(bytes, section + 12);
    uint32_t const size = std::max(Word32(bytes, section + 8), Word32(bytes, section + 16));
    if (address >= start && address - start < size) return Word32(bytes, section + 20) + (address - start);
  }
  return 0;
}

}  // namespace

ImageFacts ReadImageFacts(std::string_view bytes) {
  EntryList const operations = OperationEntries();
  ImageFacts facts = {false, operations.size(), operations.size()};
  enum { kMachineI386 = 0x14c, kPe32Magic = 0x10b, kDllFlag = 0x2000 };
  if (Word16(bytes, 0) != 0x5a4d) return facts;  // "MZ"
  size_t const header = Word32(bytes, 0x3c);
  if (Word32(bytes, header) != 0x4550) return facts;  // "PE\0\0"
  size_t const optional = header + 24;
  facts.library32 = Word16(bytes, header + 4) == kMachineI386 && Word16(bytes, optional) == kPe32Magic &&
                    (Word16(bytes, header + 22) & kDllFlag);
  size_t const sections = optional + Word16(bytes, header + 20);
  size_t const sectionCount = Word16(bytes, header + 6);
  // A copy cut short (a full disk) lacks the end of its last section.
  for (size_t i = 0; i < sectionCount; ++i) {
    size_t const section = sections + 40 * i;
    if (uint64_t{Word32(bytes, section + 20)} + Word32(bytes, section + 16) > bytes.size()) facts.library32 = false;
  }
  if (!facts.library32) return facts;
  size_t const exports = FileOffsetOf(bytes, sections, sectionCount, Word32(bytes, optional + 96));
  if (!exports) return facts;
  std::vector<std::string_view> names;
  size_t const nameTable = FileOffsetOf(bytes, sections, sectionCount, Word32(bytes, exports + 32));
  for (uint32_t i = 0, count = Word32(bytes, exports + 24); nameTable && i < count && i < 65536; ++i) {
    size_t const name = FileOffsetOf(bytes, sections, sectionCount, Word32(bytes, nameTable + 4 * i));
    if (!name || name >= bytes.size()) continue;
    std::string_view const rest = bytes.substr(name);
    names.push_back(rest.substr(0, rest.find('\0')));
  }
  std::sort(names.begin(), names.end());
  for (Entry const& entry : operations) {
    if (std::binary_search(names.begin(), names.end(), std::string_view(entry.name))) --facts.operationsMissing;
  }
  return facts;
}

uint64_t ContentHash(std::string_view bytes) { return ContinueContentHash(kContentHashStart, bytes); }

uint64_t ContinueContentHash(uint64_t hash, std::string_view bytes) {
  for (char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
  return hash;
}

void PutHash(Output& out, uint64_t hash) {
  char text[17];
  for (int i = 15; i >= 0; --i, hash >>= 4) text[i] = "0123456789abcdef"[hash & 15];
  PutBytes(out, text, 16);
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
    Put(out, kModuleProductName);
    Put(out, "\"): is the original engine still in its place?\n");
    good = false;
  }
  PutLabel(out, "version");
  if (probe.version.high || probe.version.low) {
    PutFileVersion(out, probe.version);
  } else {
    Put(out, "none (no file version in its version resource)");
  }
  if (probe.identity == kVersionProxyModule) {
    Put(out, " (");
    Put(out, kModuleProductName);
    Put(out, ")");
  }
  Put(out, "\n");

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

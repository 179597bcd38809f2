#include "tools/check/engine_check.h"

#include "tools/common/tool_crt.h"

namespace tolvan {
namespace tools {

char const kModuleFileName[] = "Tolvan32.dll";
char const kEngineFileName[] = "Tolvan33.dll";
char const kValueTypesFileName[] = "Ravix32.dll";
char const* const kValueTypesEntries[2] = {"JDateToString", "?GetDouble@CNumeric@@QBEOXZ"};

namespace {

// The module's ProductName; the engine's version resource cannot carry it.
char const kProxyProductName[] = "Tolvan32 Share";

void PutLabel(Output& out, char const* label) {
  Put(out, "  ");
  Put(out, label);
  PutSpaces(out, 11 - static_cast<int>(strlen(label)));
}

}  // namespace

bool NamesProxyModule(void const* versionResource, size_t size) {
  unsigned char const* bytes = static_cast<unsigned char const*>(versionResource);
  size_t const length = sizeof kProxyProductName - 1;
  if (!bytes || size < 2 * length) return false;
  for (size_t start = 0; start + 2 * length <= size; ++start) {
    size_t i = 0;
    while (i < length && bytes[start + 2 * i] == static_cast<unsigned char>(kProxyProductName[i]) &&
           bytes[start + 2 * i + 1] == 0) {
      ++i;
    }
    if (i == length) return true;
  }
  return false;
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
  PutLabel(out, "requested");
  Put(out, probe.requestedPath);
  Put(out, "\n");
  if (!probe.loadedPath) {
    PutLabel(out, "NOT LOADED");
    Put(out, LoadErrorText(probe.loadError));
    Put(out, " (error ");
    PutNumber(out, probe.loadError);
    Put(out, ")\n");
    return false;
  }
  PutLabel(out, "loaded");
  Put(out, probe.loadedPath);
  Put(out, "\n");

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
    PutLabel(out, "version");
    Put(out, kProxyProductName);
    Put(out, "\n");
  }

  int present = 0;
  for (int i = 0; i < entries.count; ++i) {
    bool const found = probe.hasEntry(probe.context, entries.names[i]);
    if (found) ++present;
    if (found && !listAll) continue;
    PutLabel(out, found ? "present" : "MISSING");
    Put(out, entries.names[i]);
    if (entries.readable) {
      Put(out, "  ");
      Put(out, entries.readable[i]);
    }
    Put(out, "\n");
  }
  PutLabel(out, "entries");
  PutNumber(out, static_cast<uint64_t>(present));
  Put(out, " of ");
  PutNumber(out, static_cast<uint64_t>(entries.count));
  Put(out, present == entries.count ? " present\n" : " present, INCOMPLETE\n");
  return good && present == entries.count;
}

}  // namespace tools
}  // namespace tolvan

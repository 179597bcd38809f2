#include "tools/common/tool_output.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "resources/version.h"
#include "tools/common/tool_platform.h"

namespace tolvan {
namespace tools {

namespace {

void WriteToStandardOutput(void*, char const* data, size_t length) { WriteStandard(kStandardOutput, data, length); }
void WriteToStandardError(void*, char const* data, size_t length) { WriteStandard(kStandardError, data, length); }

Output g_standardOutput = {&WriteToStandardOutput, nullptr, 0, {}};
Output g_standardError = {&WriteToStandardError, nullptr, 0, {}};

}  // namespace

Output& StandardOutput() { return g_standardOutput; }
Output& StandardError() { return g_standardError; }

// Each piece goes out at once, so that what a tool writes to its standard
// output and its standard error keeps its order when both go to one file.
void WriteStandard(StandardHandle handle, char const* data, size_t length) {
  FILE* const stream = handle == kStandardError ? stderr : stdout;
  std::fwrite(data, 1, length, stream);
  std::fflush(stream);
}

void Flush(Output& out) {
  if (out.used) out.sink(out.context, out.buffer, out.used);
  out.used = 0;
}

void PutBytes(Output& out, char const* data, size_t length) {
  while (length) {
    if (out.used == sizeof out.buffer) Flush(out);
    size_t const part = std::min(length, sizeof out.buffer - out.used);
    std::memcpy(out.buffer + out.used, data, part);
    out.used += part;
    data += part;
    length -= part;
  }
}

void Put(Output& out, char const* text) { PutBytes(out, text, std::strlen(text)); }

void Put(Output& out, std::string_view text) { PutBytes(out, text.data(), text.size()); }

void PutChar(Output& out, char c) { PutBytes(out, &c, 1); }

void PutSpaces(Output& out, int count) {
  for (int i = 0; i < count; ++i) PutChar(out, ' ');
}

int FormatUnsigned(uint64_t value, char* text) {
  char* const end = std::to_chars(text, text + 20, value).ptr;
  *end = '\0';
  return static_cast<int>(end - text);
}

void PutNumber(Output& out, uint64_t value) { PutNumberPadded(out, value, 0); }

void PutNumberPadded(Output& out, uint64_t value, int width) {
  char text[24];
  int const length = FormatUnsigned(value, text);
  PutSpaces(out, width - length);
  PutBytes(out, text, static_cast<size_t>(length));
}

bool IsVersionRequest(std::string_view argument) { return argument == "--version"; }

void PutVersionLine(Output& out, char const* tool) {
  static unsigned const kNumbers[] = {TOLVAN32_VERSION_NUMBERS};
  Put(out, tool);
  for (size_t i = 0; i < sizeof kNumbers / sizeof kNumbers[0]; ++i) {
    PutChar(out, i ? '.' : ' ');
    PutNumber(out, kNumbers[i]);
  }
  PutChar(out, '\n');
}

}  // namespace tools
}  // namespace tolvan

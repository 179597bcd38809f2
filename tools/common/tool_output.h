// Buffered text output for the tools. Everything is written through a sink,
// so that the same printing code writes to the console and, in the tests, to
// memory.
#ifndef TOLVAN_TOOLS_COMMON_TOOL_OUTPUT_H
#define TOLVAN_TOOLS_COMMON_TOOL_OUTPUT_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tolvan {
namespace tools {

typedef void (*OutputSink)(void* context, char const* data, size_t length);

enum { kOutputBufferSize = 1 << 15 };

struct Output {
  OutputSink sink;
  void* context;
  size_t used;
  char buffer[kOutputBufferSize];
};

// The process's standard output and standard error (flushed by Flush or when
// their buffers fill).
Output& StandardOutput();
Output& StandardError();

void Put(Output& out, char const* text);
void Put(Output& out, std::string_view text);
void PutBytes(Output& out, char const* data, size_t length);
void PutChar(Output& out, char c);
void PutNumber(Output& out, uint64_t value);
// Right-aligned in a field of `width` characters.
void PutNumberPadded(Output& out, uint64_t value, int width);
void PutSpaces(Output& out, int count);
void Flush(Output& out);

// "--version", which every tool answers with PutVersionLine: the tool's
// name and the module's version it was built with, "tolvan32-trace 8.0.0.7".
bool IsVersionRequest(std::string_view argument);
void PutVersionLine(Output& out, char const* tool);

// Writes the decimal digits of `value` into `text` (at least 21 bytes),
// zero-terminated; returns the number of digits.
int FormatUnsigned(uint64_t value, char* text);

}  // namespace tools
}  // namespace tolvan

#endif

// Reads a trace log from start to end in fixed-size pieces and hands each
// line to the assembler: one pass, the same memory for any length of log.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_INPUT_H
#define TOLVAN_TOOLS_TRACE_TRACE_INPUT_H

#include <stddef.h>
#include <stdint.h>

#include "tools/trace/trace_records.h"

namespace tolvan {
namespace tools {

enum { kReadSize = 1 << 20, kMaxLineLength = 1 << 16 };

struct LineReader {
  uint64_t lines;
  uint64_t bytes;
  size_t carryLength;
  bool carryOverlong;
  char carry[kMaxLineLength];
  char chunk[kReadSize];
};

// Feeds every line of the open input to the assembler (without finishing
// it). Returns false when reading failed.
bool ReadTrace(int handle, LineReader& reader, Assembler& assembler);

// The same for a log already in memory (the tests use it).
void ReadTraceText(char const* text, size_t length, LineReader& reader, Assembler& assembler);

}  // namespace tools
}  // namespace tolvan

#endif

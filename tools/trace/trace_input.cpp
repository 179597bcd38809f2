#include "tools/trace/trace_input.h"

#include "tools/common/tool_crt.h"
#include "tools/common/tool_platform.h"

namespace tolvan {
namespace tools {

namespace {

void Deliver(LineReader& reader, Assembler& assembler, char const* text, size_t length, LineEnding ending) {
  ++reader.lines;
  if (ending == kWholeLine && length && text[length - 1] == '\r') --length;
  if (length > kMaxLineLength) {
    length = kMaxLineLength;
    ending = kOverlongLine;
  }
  AddLine(assembler, reader.lines, text, length, ending);
}

void Carry(LineReader& reader, char const* data, size_t length) {
  size_t const room = sizeof reader.carry - reader.carryLength;
  if (length > room) {
    length = room;
    reader.carryOverlong = true;
  }
  memcpy(reader.carry + reader.carryLength, data, length);
  reader.carryLength += length;
}

void DeliverCarry(LineReader& reader, Assembler& assembler, LineEnding ending) {
  if (reader.carryOverlong && ending == kWholeLine) ending = kOverlongLine;
  Deliver(reader, assembler, reader.carry, reader.carryLength, ending);
  reader.carryLength = 0;
  reader.carryOverlong = false;
}

void ReadPiece(LineReader& reader, Assembler& assembler, char const* p, char const* end) {
  reader.bytes += static_cast<uint64_t>(end - p);
  while (p < end) {
    char const* newline = static_cast<char const*>(memchr(p, '\n', static_cast<size_t>(end - p)));
    if (!newline) {
      Carry(reader, p, static_cast<size_t>(end - p));
      return;
    }
    if (reader.carryLength || reader.carryOverlong) {
      Carry(reader, p, static_cast<size_t>(newline - p));
      DeliverCarry(reader, assembler, kWholeLine);
    } else {
      Deliver(reader, assembler, p, static_cast<size_t>(newline - p), kWholeLine);
    }
    p = newline + 1;
  }
}

void ReadEnd(LineReader& reader, Assembler& assembler) {
  if (reader.carryLength || reader.carryOverlong) DeliverCarry(reader, assembler, kCutLine);
}

void StartReading(LineReader& reader) {
  reader.lines = 0;
  reader.bytes = 0;
  reader.carryLength = 0;
  reader.carryOverlong = false;
}

}  // namespace

bool ReadTrace(int handle, LineReader& reader, Assembler& assembler) {
  StartReading(reader);
  while (true) {
    long const count = ReadInput(handle, reader.chunk, sizeof reader.chunk);
    if (count < 0) return false;
    if (count == 0) break;
    ReadPiece(reader, assembler, reader.chunk, reader.chunk + count);
  }
  ReadEnd(reader, assembler);
  return true;
}

void ReadTraceText(char const* text, size_t length, LineReader& reader, Assembler& assembler) {
  StartReading(reader);
  ReadPiece(reader, assembler, text, text + length);
  ReadEnd(reader, assembler);
}

}  // namespace tools
}  // namespace tolvan

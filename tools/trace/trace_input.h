// Reads a trace log from start to end in pieces and hands on each line: one
// pass, memory bounded by kMaxLineBytes, whatever the log.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_INPUT_H
#define TOLVAN_TOOLS_TRACE_TRACE_INPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/trace/trace_records.h"
#include "tools/trace/trace_source.h"

namespace tolvan {
namespace tools {

// Where the lines go. The text comes as a pointer and a size, which stay
// in registers: a view passed on is stored and loaded again on every line.
class LineSink {
 public:
  virtual void Line(uint64_t number, char const* text, size_t size, LineEnding ending) = 0;

 protected:
  ~LineSink() = default;
};

class LineReader {
 public:
  // Each line without its line end (CR LF or LF), numbered on from
  // `linesBefore` + 1 (the lines of the logs read before this one).
  explicit LineReader(LineSink& sink, uint64_t linesBefore = 0) : sink_(sink), lines_(linesBefore) {}

  // The log piece by piece: the lines each piece ends, then at the end of
  // the log the line it left unfinished.
  void ReadPiece(std::string_view piece);
  void ReadEnd();

  uint64_t lines() const { return lines_; }
  uint64_t bytes() const { return bytes_; }

 private:
  void Deliver(std::string_view text, LineEnding ending);

  LineSink& sink_;
  uint64_t lines_ = 0;
  uint64_t bytes_ = 0;
  void Carry(std::string_view part);

  std::string carry_;     // the start of a line that the next piece ends, up to kMaxLineBytes
  uint64_t carried_ = 0;  // bytes of that line so far
};

}  // namespace tools
}  // namespace tolvan

#endif

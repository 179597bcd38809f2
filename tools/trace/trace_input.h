// Reads a trace log from start to end in pieces and hands on each line: one
// pass, memory bounded by kMaxLineBytes, whatever the log.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_INPUT_H
#define TOLVAN_TOOLS_TRACE_TRACE_INPUT_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "tools/trace/trace_records.h"
#include "tools/trace/trace_source.h"

namespace tolvan {
namespace tools {

class LineReader {
 public:
  // Each line without its line end (CR LF or LF), numbered on from
  // `linesBefore` + 1 (the lines of the logs read before this one).
  using LineSink = std::function<void(uint64_t number, std::string_view text, LineEnding ending)>;
  explicit LineReader(LineSink sink, uint64_t linesBefore = 0) : sink_(std::move(sink)), lines_(linesBefore) {}

  // Every line of the log. Returns false when reading failed.
  bool ReadAll(ChunkSource& source);
  // The same for a log already in memory (the tests use it).
  void ReadText(std::string_view text);

  uint64_t lines() const { return lines_; }
  uint64_t bytes() const { return bytes_; }

 private:
  void Deliver(std::string_view text, LineEnding ending);
  void ReadPiece(std::string_view piece);
  void ReadEnd();

  LineSink sink_;
  uint64_t lines_ = 0;
  uint64_t bytes_ = 0;
  void Carry(std::string_view part);

  std::string carry_;     // the start of a line that the next piece ends, up to kMaxLineBytes
  uint64_t carried_ = 0;  // bytes of that line so far
};

}  // namespace tools
}  // namespace tolvan

#endif

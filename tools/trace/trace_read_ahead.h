// Reads a log a few batches of lines ahead of the one who assembles them:
// the reading, the splitting into lines and the taking apart of each line
// (its ids, its time, its kind and operation) run on a second thread, while
// the caller's thread handles the lines of the batch before. Handing on a
// batch at a time keeps the two threads' meetings to a few thousand per
// GiB; a fixed number of batches keeps memory bounded.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_READ_AHEAD_H
#define TOLVAN_TOOLS_TRACE_TRACE_READ_AHEAD_H

#include <cstdint>
#include <functional>
#include <string_view>

#include "tools/trace/operation_forms.h"
#include "tools/trace/trace_line.h"
#include "tools/trace/trace_records.h"
#include "tools/trace/trace_source.h"

namespace tolvan {
namespace tools {

// A line taken apart as far as its own text tells. Its views stay valid
// until the handler returns.
struct ReadLine {
  uint64_t number = 0;
  std::string_view text;  // after the ids and time items
  LineEnding ending = kWholeLine;
  LineIds ids;
  LineTime time;
  TraceLine line;  // of a whole line only: a cut one is not classified
};

struct LineCounts {
  uint64_t lines = 0;  // numbered on from the lines before
  uint64_t bytes = 0;
};

// Every line of `source`, in order, to `handle` on the caller's thread,
// numbered on after `linesBefore`. Where no second thread can be started,
// batch after batch on the caller's thread alone. An exception of either
// thread (memory running out) ends both and is thrown here. False when
// reading failed; the lines before the failure were handled.
bool ReadAhead(ChunkSource& source, OperationForms const& forms, uint64_t linesBefore,
               std::function<void(ReadLine const&)> const& handle, LineCounts& counts);

}  // namespace tools
}  // namespace tolvan

#endif

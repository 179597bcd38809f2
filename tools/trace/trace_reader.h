// Reads a whole trace log into records. Lines with ids go to their own
// thread's assembler, so each thread's calls pair with its own results; a run
// line starts its process afresh, so an address reused in another run is
// another object. Lines without ids all go to one assembler, which watches
// for signs that several threads or processes wrote them at once.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_READER_H
#define TOLVAN_TOOLS_TRACE_TRACE_READER_H

#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "tools/trace/trace_records.h"
#include "tools/trace/trace_summary.h"

namespace tolvan {
namespace tools {

class TraceReader {
 public:
  // Each finished record goes to `handler`; the runs, the first sign of
  // mixing and the line and byte counts go into `summary`.
  TraceReader(OperationForms const& forms, Summary& summary, RecordAssembler::Handler handler);

  // Every line of the open input. Returns false when reading failed.
  bool ReadAll(int handle);
  // The same for a log already in memory.
  void ReadText(std::string_view text);

 private:
  void AddLine(uint64_t number, std::string_view text, LineEnding ending);
  void StartRun(uint64_t number, LineIds const& ids, RunLine const& line);
  void AddRun(uint64_t number, LineIds const& ids, RunLine const& line);
  void NoteEngine(uint64_t number, LineIds const& ids, EngineLine const& line);
  RecordAssembler& StreamOf(LineIds const& ids);
  void HandOn(Record const& record);
  void Finish();

  OperationForms const& forms_;
  Summary& summary_;
  RecordAssembler::Handler handler_;
  RecordAssembler withoutIds_;
  std::map<std::pair<uint32_t, uint32_t>, std::unique_ptr<RecordAssembler>> threads_;
  std::unordered_map<uint32_t, int> runOfProcess_;
};

}  // namespace tools
}  // namespace tolvan

#endif

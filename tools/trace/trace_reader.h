// Reads a whole trace log into records. Lines with ids go to their own
// thread's assembler, so each thread's calls pair with its own results; a run
// line starts its process afresh, so an address reused in another run is
// another object. Lines without ids all go to one assembler, which watches
// for signs that several threads or processes wrote them at once.
//
// Memory stays bounded whatever the log: at most kMaxStreams threads are
// assembled at once (the one idle longest is finished to make room: a
// thread that ended leaves no sign of it), and at most kMaxProcesses
// processes are remembered with their runs.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_READER_H
#define TOLVAN_TOOLS_TRACE_TRACE_READER_H

#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "tools/trace/trace_read_ahead.h"
#include "tools/trace/trace_records.h"
#include "tools/trace/trace_source.h"
#include "tools/trace/trace_summary.h"

namespace tolvan {
namespace tools {

size_t const kMaxStreams = 256;
size_t const kMaxProcesses = 4096;
uint32_t const kMaxContinued = 64;
size_t const kMaxReordered = 4096;

class TraceReader {
 public:
  // Each finished record goes to `handler`; the runs, the first sign of
  // mixing and the line and byte counts go into `summary`.
  TraceReader(OperationForms const& forms, Summary& summary, RecordAssembler::Handler handler);

  // Records are handed on in the order of their first lines, as far as
  // kMaxReordered records waiting allow (threads and processes interleave:
  // a record is finished only with its last line).
  void KeepLineOrder() { inLineOrder_ = true; }

  // Every line of the log, numbered on after the lines `summary` counted
  // already (those of the logs read before it). Returns false when reading
  // failed.
  bool ReadAll(ChunkSource& source);
  // The same for a log already in memory.
  void ReadText(std::string_view text);

 private:
  void AddLine(ReadLine const& read);
  void AddPhysicalLine(ReadLine const& read);
  bool Continue(LineIds const& ids, std::string_view text, TraceLine const& line);
  void HandOnHeld();
  void StartRun(uint64_t number, LineIds const& ids, RunLine const& line);
  void AddRun(uint64_t number, LineIds const& ids, RunLine const& line);
  void NoteEngine(uint64_t number, LineIds const& ids, EngineLine const& line);
  void FinishProcess(uint32_t process);
  void AddMark(uint64_t number, LineIds const& ids, LineTime const& time, RecorderMark const& mark);
  void EndBlock(uint32_t process);
  void CountBlockLine(LineIds const& ids);
  // A thread writes many lines in a row: its entry is kept at hand, asked
  // inline.
  RecordAssembler& StreamOf(uint64_t number, LineIds const& ids) {
    if (ids.present && last_ && last_->first.first == ids.process && last_->first.second == ids.thread) {
      last_->second.lastLine = number;
      return *last_->second.assembler;
    }
    return FindStream(number, ids);
  }
  RecordAssembler& FindStream(uint64_t number, LineIds const& ids);
  void MakeRoomForStream();
  void HandOn(Record const& record);
  void Release(uint64_t number, bool all);
  uint64_t OpenLine(Record const* besides = nullptr) const;
  void Finish();

  OperationForms const& forms_;
  Summary& summary_;
  RecordAssembler::Handler handler_;
  RecordAssembler withoutIds_;
  struct Thread {
    std::unique_ptr<RecordAssembler> assembler;
    uint64_t lastLine = 0;
  };
  std::map<std::pair<uint32_t, uint32_t>, Thread> threads_;
  std::pair<std::pair<uint32_t, uint32_t> const, Thread>* last_ = nullptr;  // the thread of the last line
  std::unordered_map<uint32_t, int> runOfProcess_;
  // Each process's recorder block still open: its index among those kept.
  std::unordered_map<uint32_t, size_t> openBlocks_;
  uint32_t lastProcess_ = 0;  // of the last line with ids: a line without them goes on it
  // A call line whose text item goes on on the next lines, joined with the
  // line feeds the module wrote, up to kMaxContinued lines.
  struct Held {
    bool active = false;
    uint64_t number = 0;
    LineIds ids;
    LineTime time;
    std::string text;
    uint32_t continued = 0;
  };
  Held held_;
  bool inLineOrder_ = false;
  struct Waiting {
    uint64_t line;
    uint64_t order;
    Record record;
    bool operator>(Waiting const& other) const {
      return line != other.line ? line > other.line : order > other.order;
    }
  };
  std::vector<Waiting> waiting_;  // a heap, the first line at its top
  uint64_t handedOn_ = 0;
  uint64_t openLine_ = 0;  // no record still open begins before it
};

}  // namespace tools
}  // namespace tolvan

#endif

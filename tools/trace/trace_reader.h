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

#include "tools/trace/trace_records.h"
#include "tools/trace/trace_summary.h"

namespace tolvan {
namespace tools {

size_t const kMaxStreams = 256;
size_t const kMaxProcesses = 4096;
uint32_t const kMaxContinued = 64;

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
  bool Continue(LineIds const& ids, std::string_view text, TraceLine const& line);
  void HandOnHeld();
  void StartRun(uint64_t number, LineIds const& ids, RunLine const& line);
  void AddRun(uint64_t number, LineIds const& ids, RunLine const& line);
  void NoteEngine(uint64_t number, LineIds const& ids, EngineLine const& line);
  RecordAssembler& StreamOf(uint64_t number, LineIds const& ids);
  void MakeRoomForStream();
  void HandOn(Record const& record);
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
  std::unordered_map<uint32_t, int> runOfProcess_;
  // A call line whose text item goes on on the next lines, joined with the
  // line feeds the module wrote, up to kMaxContinued lines.
  struct Held {
    bool active = false;
    uint64_t number = 0;
    LineIds ids;
    std::string text;
    uint32_t continued = 0;
  };
  Held held_;
};

}  // namespace tools
}  // namespace tolvan

#endif

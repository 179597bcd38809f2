// The figures of a whole trace log, gathered record by record as the log is
// read: calls per operation and per table object, what the share-mode policy
// did, the module's error lines, and the lines that could not be read. The
// printers (text and JSON) only read these figures.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_SUMMARY_H
#define TOLVAN_TOOLS_TRACE_TRACE_SUMMARY_H

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tools/trace/trace_outcome.h"
#include "tools/trace/trace_records.h"
#include "tools/trace/trace_timing.h"

namespace tolvan {
namespace tools {

class JsonObject;

// What the figures remember of a log whatever its length: everything is
// counted, but line numbers, runs and table objects are kept only for the
// first of each kind, and the outputs say how many more there were.
size_t const kKeptLines = 1000;   // line numbers of each kind of problem, of each error number
size_t const kKeptTables = 10000;
size_t const kKeptRuns = 1000;

struct LineNote {
  uint64_t line;
  std::string_view what;  // a static text, or an operation's signature text
};

// A call left without its result line.
struct OpenCall {
  uint64_t line = 0;
  int op = -1;
  std::string object;
  LineIds ids;
  int run = -1;
  int64_t time = -1;
  bool endedWithLog = false;  // no later line of its thread: still running; else left by an exception
};

// What the share-mode policy did on one table object, from the records
// before any sign of mixing (like PairingFigures' `paired`).
struct TablePolicy {
  uint64_t opensAsked = 0;    // OpenAccess calls of the host
  uint64_t opensGranted = 0;  // of them, with a result other than 0
  uint64_t reopenedShared = 0;
  uint64_t reopenFailed = 0;  // the forced close, or the shared reopen, failed
  uint64_t escalated = 0;     // Pack, ReIndex and Clear together
  uint64_t escalationRefused = 0;  // the engine refused the exclusive open
  uint64_t sequencesLocked = 0;
  uint64_t sequencesSkippedOrUnlocked = 0;
  uint64_t sequencesUnlocked = 0;
};

struct TableTally {
  int run = -1;  // the run whose object it is (-1: a log without run lines)
  std::string address;
  KeptText name;  // learnt from GetTable or AddTable
  uint64_t calls = 0;
  TablePolicy policy;
  TableHolds holds;
};

struct ErrorTally {
  int number = 0;
  uint64_t count = 0;
  std::vector<uint64_t> lines;  // the first kKeptLines
  KeptText text;  // of the first line with this number
};

// A run line's data (a log written with Tolvan32_TraceIds=1).
struct RunInfo {
  uint64_t line = 0;  // 0: the log began after the run line
  uint32_t process = 0;
  uint32_t thread = 0;
  uint64_t log = 0;  // the number of its log among several, from 1
  KeptText date;
  KeptText time;
  KeptText version;
  std::vector<KeptText> options;  // the first kKeptOptions
  uint64_t optionCount = 0;
  KeptText computer;  // with Tolvan32_TraceTime=1
  KeptText user;
  KeptText host;
  uint64_t engineLine = 0;  // 0: no engine line
  KeptText engineVersion;
  KeptText enginePath;
};

// One of the logs read, when several are: their lines are numbered on
// through them in the order given, so that a line number names one line.
struct LogInfo {
  std::string name;
  char const* kind = "";  // "gzip" or "zip" when it was read compressed
  uint64_t firstLine = 1;
  uint64_t lines = 0;
  uint64_t bytes = 0;  // as the module wrote them, after decompression
};

// The first sign that a log without ids mixes the lines of several threads
// or processes.
struct MixingSign {
  uint64_t line = 0;  // 0: none
  std::string sign;
};

// A block the flight recorder wrote (Tolvan32_Recorder=N): from its start
// mark to its end mark, the next start mark or run line of its process, or
// the end of the log.
struct RecorderBlock {
  KeptText trigger;
  uint64_t line = 0;  // of the start mark
  uint32_t process = 0;
  uint32_t thread = 0;
  uint64_t recorded = 0;  // the N of the start mark
  uint64_t lines = 0;     // the block's lines in the log, between the marks
  bool ended = false;     // its end mark came
};

size_t const kKeptTriggers = 16;  // trigger words counted apart; later ones count as "other"
struct RecorderFigures {
  uint64_t blocks = 0;
  std::vector<RecorderBlock> kept;  // the first kKeptLines
  std::vector<std::pair<KeptText, uint64_t>> byTrigger;  // in the order first seen
  uint64_t otherTriggers = 0;
};

// The figures that rest on pairing calls with their results and nesting the
// module's own calls in the host's.
struct PairingFigures {
  uint64_t callsByModule = 0;
  std::vector<uint64_t> operationCallsByModule = std::vector<uint64_t>(kOperationCount);
  uint64_t withoutResult = 0;
  uint64_t notPerformed = 0;
  std::vector<OpenCall> openCalls;  // the first kKeptLines calls without result

  // The host's own opens asking for other than shared use, each with its
  // outcome: the five below add up to the first.
  uint64_t hostOpensNotShared = 0;
  uint64_t reopenedShared = 0;
  uint64_t reopenFailed = 0;
  uint64_t closeFailed = 0;
  uint64_t leftAsAsked = 0;
  uint64_t refusedByEngine = 0;
  // The module's own opens (the restore after Pack, ReIndex or Clear) that
  // share forcing reopened in turn, and those of them that failed.
  uint64_t moduleOpensForced = 0;
  uint64_t moduleOpensForcedFailed = 0;
  uint64_t escalated[3] = {};  // Pack, ReIndex, Clear
  uint64_t exclusiveRefused[3] = {};
  uint64_t alreadyExclusive[3] = {};
  uint64_t sequencesLocked = 0;
  uint64_t sequencesSkippedOrUnlocked = 0;
  uint64_t sequencesUnlocked = 0;
};

struct Summary {
  std::string table;  // --table: the figures of calls are this table's alone
  uint64_t lines = 0;
  uint64_t bytes = 0;
  uint64_t calls = 0;
  uint64_t exchangeLines = 0;
  uint64_t errorLines = 0;
  uint64_t badLines = 0;
  std::vector<uint64_t> operationCalls = std::vector<uint64_t>(kOperationCount);

  // Of the records before the first sign of mixing (all of them when there
  // is none), and of those after it.
  PairingFigures paired;
  PairingFigures unreliable;
  MixingSign mixing;

  std::vector<TableTally> tables;  // in the order first seen, the first kKeptTables
  std::unordered_map<std::string, size_t> tableIndex;
  uint64_t callsOnOtherTables = 0;  // on table objects seen after those
  // The object of the last table call: calls come in runs on one table.
  struct {
    bool valid = false;
    int run = -1;
    std::string address;
    size_t index = 0;
  } lastTable;
  bool sawAddresses = false;
  bool sawMaskedAddresses = false;

  std::vector<ErrorTally> errors;  // in the order first seen
  std::vector<LineNote> badNotes;  // the first kKeptLines
  // Result lines of calls made before the log's first line: the log begins
  // in the middle of a run (deleted while a host ran).
  uint64_t resultsBeforeStart = 0;
  uint64_t firstResultBeforeStart = 0;  // its line
  std::vector<RunInfo> runs;       // the first kKeptRuns
  uint64_t runCount = 0;
  RecorderFigures recorder;  // a log holding blocks is a recorder log
  std::vector<LogInfo> logs;  // the first kKeptRuns logs read
  uint64_t logCount = 0;
  TimingFigures timing;
};

// What a view that places events along the log (the report's timeline) is
// told as each is counted, so that it never judges a record a second time.
enum CountedEvent {
  kErrorEvent,
  kEscalationEvent,
  kRefusedEscalationEvent,
  kReopenEvent,
  kFailedReopenEvent,
  kCountedEventKinds,
};

class CountedEvents {
 public:
  virtual ~CountedEvents() = default;
  virtual void Counted(CountedEvent event, uint64_t line, Record const& record) = 0;
};

// Counts a record; with `calls` false only its error and unreadable lines
// (a record that --table leaves out).
void CountRecord(Summary& summary, OperationForms const& forms, Record const& record, bool calls = true,
                 CountedEvents* events = nullptr);

// The time figures of a call (in trace_timing.cpp): `table` is its table
// object's tally, null when it has none.
void CountTiming(Summary& summary, OperationForms const& forms, Record const& record, int index,
                 PolicyOutcome outcome, TableTally* table);
void PrintTiming(std::string& out, Summary const& summary, OperationForms const& forms);
void PutLatencyJson(JsonObject& operation, Summary const& summary, int op);
void PutHoldsJson(JsonObject& table, Summary const& summary, TableTally const& tally);
void PutTimingJson(JsonObject& json, Summary const& summary, OperationForms const& forms);
// The date of a run's run line, empty when not known.
std::string_view RunDate(Summary const& summary, int run);

// Table objects, most calls first (the order of the JSON "tables").
std::vector<size_t> TablesByCalls(Summary const& summary);
// Operations called, most calls first; ties in the operation table's order.
std::vector<size_t> OperationsByCalls(Summary const& summary);
std::string ErrorNumberText(int number);

// `source` names the log in the heading.
void PrintSummary(std::string& out, Summary const& summary, OperationForms const& forms, std::string_view source);
void PrintSummaryJson(std::string& out, Summary const& summary, OperationForms const& forms, std::string_view source);

// The table object entry of an address (as the log writes it) in a run, or null.
TableTally const* FindTable(Summary const& summary, std::string_view address, int run = -1);
// The key of an object in a run: an address reused in another run is another object.
std::string ObjectKey(int run, std::string_view address);

// Several logs (trace_logs.cpp): each begun with StartLog before its first
// line and ended with EndLog after its last.
void StartLog(Summary& summary, std::string_view name, char const* kind);
void EndLog(Summary& summary);
// The computer a run's calls are compared on: its run line's Computer, or,
// where no run line names it, the log's own.
std::string ComputerKey(Summary const& summary, int run);
// The logs, the computers and why their clocks are not compared: nothing
// for one log.
void PrintLogs(std::string& out, Summary const& summary);
void PutLogsJson(JsonObject& json, Summary const& summary);
std::string ComputersNote(Summary const& summary);

// The warning about a log that mixes threads or processes, for every printer.
std::string MixingWarning(MixingSign const& mixing);
// What the log's first lines say about where it begins; empty when it begins with a call.
std::string MidRunNote(Summary const& summary);
// What a recorder log's figures mean; empty for another log.
std::string RecorderNote(Summary const& summary);

}  // namespace tools
}  // namespace tolvan

#endif

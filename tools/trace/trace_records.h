// Assembles the lines of a trace log into records: each call line with its
// result line, and the calls that the module's share-mode policy made on the
// host's behalf as children of the call that made them:
//   OpenAccess         -> CloseAccess(1)                     (share forcing)
//   Pack/ReIndex/Clear -> CloseAccess, OpenAccess, ...       (exclusive use)
//   BeginReadSequence  -> PutTLock                           (table lock)
//   GetRecAddr         -> copy constructor, destructor       (after its result)
// Error lines stand before the call whose entry was missing; lines that
// cannot be read are kept as records of their own, with their line numbers.
//
// A log may begin in the middle of a record (the logs deleted while a host
// ran): the result lines of calls made before its first line are records of
// their own, and the module's calls just before them (the nested closes and
// opens of a Pack, say) are their children, never the host's.
//
// Lines are fed one at a time and each finished top-level record is handed
// on at once, so memory is bounded by one record, not by the log: the policy
// nests three deep at most, and a record that damaged lines would swell
// beyond kMaxNodes is handed on as it stands.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_RECORDS_H
#define TOLVAN_TOOLS_TRACE_TRACE_RECORDS_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/trace/trace_line.h"

namespace tolvan {
namespace tools {

enum NodeKind : uint8_t {
  kCallNode,         // a call line, with its result line when there is one
  kErrorNode,        // a numbered error line of the module
  kBadNode,          // a line that could not be read
  kBeforeStartNode,  // the result line of a call made before the log's first line
  kMarkNode,         // a flight recorder's start or end mark: a record of its own
};

enum CallStatus : uint8_t {
  kAwaitingResult,  // only while the record is being assembled
  kCompleted,       // call line and result line
  kSingleLine,      // an operation whose record is the call line alone
  kWithoutResult,   // the result line never came (the process ended, the log was cut)
  kNotPerformed,    // the engine entry was missing: the module wrote no result
};

enum GetRecAddrPhase : uint8_t {
  kPhaseResult,   // waiting for the node's own result line
  kPhaseCopy,     // GetRecAddr: waiting for the copy constructor
  kPhaseCopying,  // GetRecAddr: the copy constructor is under way
  kPhaseDestroy,  // GetRecAddr: waiting for the destructor of the working copy
  kPhaseDone,
};

int const kMaxNodes = 64;        // of one record: more only when damaged lines pile up in it
int const kMaxPending = 4;       // error lines waiting for the call they stand before
size_t const kMaxStartRecords = 8;  // the module's calls before a result line of a call before the log
size_t const kMaxKeptText = 240;  // of a bad or error line

// Every output shows at most this many bytes of a text from the log, then
// how long the whole text was: one long name must not make a long page.
size_t const kShownText = 200;

// A text from the log kept for the figures: its first kShownText bytes and
// its whole length.
struct KeptText {
  std::string text;
  uint64_t size = 0;
  KeptText() = default;
  explicit KeptText(std::string_view whole) : text(whole.substr(0, kShownText)), size(whole.size()) {}
  bool empty() const { return size == 0; }
  bool cut() const { return size > text.size(); }
};

// A piece of a record's text. A record holds at most kMaxNodes lines of at
// most kMaxLineBytes each, so 32 bits hold any offset: small nodes, as one
// is made for every line.
struct TextRef {
  uint32_t offset = 0;
  uint32_t length = 0;
};

struct Node {
  NodeKind kind = kCallNode;
  CallStatus status = kAwaitingResult;
  GetRecAddrPhase phase = kPhaseResult;
  bool entryMissing = false;  // an error #002 line stood just before the call
  int op = -1;
  int parent = -1;
  int firstChild = -1;
  int nextSibling = -1;
  uint64_t line = 0;
  uint64_t resultLine = 0;
  uint32_t continuedLines = 0;  // lines after `line` that a text item with line feeds took
  uint32_t recordedLines = 0;   // a recorder start mark: the lines it says were recorded (its N)
  bool endedWithLog = false;  // without result: no later line of its thread came
  // A timed log's (Tolvan32_TraceTime=1): microseconds of the day; -1: none.
  int64_t time = -1;        // of the call line
  int64_t resultTime = -1;  // of the result line
  int64_t duration = -1;    // what the engine took, from the result line (or a field exchange's own)
  TextRef object;
  TextRef arguments;
  TextRef firstArgument;  // when the arguments are told apart
  TextRef result;  // the result line's items
  TextRef resultItem;  // of them, the result item (empty for a record without one)
  TextRef text;    // error and bad lines; a recorder start mark's trigger (empty: the end mark)
  int errorNumber = 0;
  char const* problem = "";
};

// Where a record's lines came from: with ids, one thread of one run.
struct Stream {
  LineIds ids;
  int run = -1;  // index of its process's run line; -1 without one
};

// One top-level record: nodes[0] and its descendants, their texts in `text`.
struct Record {
  std::vector<Node> nodes;
  std::string text;
  Stream stream;
  // Assembled after a sign that the log, written without ids, mixes the
  // lines of several threads or processes: its pairing cannot be trusted.
  bool unreliable = false;
  std::string_view TextOf(TextRef ref) const { return std::string_view(text).substr(ref.offset, ref.length); }
};

enum LineEnding {
  kWholeLine,  // ended by a line feed
  kCutLine,    // the end of the file came before the line feed
  kLongLine,   // longer than kMaxLineBytes: only its start is given
};

// The longest line the reader takes whole: memory is bounded by it.
size_t const kMaxLineBytes = 4 << 20;

class RecordAssembler {
 public:
  using Handler = std::function<void(Record const&)>;
  // `watchForMixing`: the lines carry no ids, so look for signs of mixing.
  RecordAssembler(OperationForms const& forms, Handler handler, Stream stream = Stream(), bool watchForMixing = false)
      : forms_(forms), handler_(std::move(handler)), watchForMixing_(watchForMixing) {
    record_.stream = stream;
  }

  // `text` without its line end (CR LF or LF).
  void AddLine(uint64_t number, std::string_view text, LineEnding ending);
  // The same, classified already; `continued`: lines after `number` that the
  // line took (a text item with line feeds in it).
  void AddClassified(uint64_t number, std::string_view text, LineEnding ending, TraceLine const& line,
                     uint32_t continued = 0, LineTime const& time = LineTime());
  // Hands on whatever is still open, as calls without a result.
  void Finish();

  // The first line of what is still being assembled (UINT64_MAX: nothing),
  // `besides` a record being handed on from here just now.
  uint64_t OpenLine(Record const* besides = nullptr) const;

  // The first sign of mixing: its line (0: none seen) and what it was.
  uint64_t signLine() const { return signLine_; }
  char const* sign() const { return sign_; }

 private:
  struct PendingError {
    uint64_t line;
    int number;
    std::string text;
    int64_t time;
  };
  TextRef Keep(std::string_view text);
  bool AcceptsChild(int parentIndex, int op, std::string_view object, ArgumentItems const& arguments) const;
  int ChildrenWithOp(int parent, int op) const;
  int Top() const { return stack_.empty() ? -1 : stack_.back(); }
  int NewNode(int parent, NodeKind kind, uint64_t line);
  void Emit();
  void HandOn();
  void EndStart();
  bool ModuleCallAtStart() const;
  void AddBeforeStart(uint64_t number, std::string_view body, LineTime const& time);
  void Pop();
  void NoteSign(uint64_t number, char const* what);
  void CloseAll();
  bool Waiting(int index) const;
  void AddErrorNode(int parent, PendingError const& error);
  // Asked before every call and result line: inline while nothing waits.
  void FlushPending() {
    if (!pending_.empty()) PlacePending();
  }
  void PlacePending();
  // `sign`: a sign of mixing when the log has no ids.
  void AddBadLine(uint64_t number, std::string_view text, char const* problem, bool sign = true,
                  uint32_t continued = 0, int64_t time = -1);
  void AddCall(uint64_t number, TraceLine const& line, ArgumentItems const& arguments, uint32_t continued,
               LineTime const& time);
  void AddResult(uint64_t number, TraceLine const& line, std::string_view text, LineTime const& time);

  OperationForms const& forms_;
  Handler handler_;
  std::vector<int> stack_;
  std::vector<PendingError> pending_;
  Record record_;
  ArgumentItems arguments_;  // kept to spare an allocation per line
  ResultItems resultItems_;  // and a clearing
  bool watchForMixing_;
  // Until the stream's first record that no call before the log's start can
  // explain, the module's own calls wait here for a result line that may
  // turn out to be their caller's.
  bool starting_ = true;
  bool finishing_ = false;  // what is still open now ends with its thread's lines
  bool startDamaged_ = false;  // the first line: the rest of one begun before the log
  std::vector<Record> startRecords_;
  uint64_t signLine_ = 0;
  char const* sign_ = "";
};

}  // namespace tools
}  // namespace tolvan

#endif

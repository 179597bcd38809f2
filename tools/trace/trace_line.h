// One line of a trace log, taken apart. Every item in the log is a space and
// its text, and every record line ends with the space before its line end:
//   call line    " <pointer> <signature text> <argument items> "
//   result line  " " + 14 spaces + " " + "<result item> <state items> "
//   error line   " *** Error *** #NNN (...)"
// Signature texts contain spaces, so the signature is found by matching the
// operation table's texts; text items may contain spaces too, so the items
// of a line are split by the kinds its operation declares.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_LINE_H
#define TOLVAN_TOOLS_TRACE_TRACE_LINE_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/trace/operation_forms.h"

namespace tolvan {
namespace tools {

enum LineKind {
  kCallLine,    // a call record, or a whole field-exchange line
  kResultLine,  // a result record: which call it belongs to is decided later
  kErrorLine,   // one of the module's numbered error messages
  kBadLine,     // none of these
};

// With Tolvan32_TraceIds=1 every line starts with the item "[PID:TID]", the
// writer's process and thread ids; the rest of the line is as without it.
struct LineIds {
  bool present = false;
  uint32_t process = 0;
  uint32_t thread = 0;
};

// With Tolvan32_TraceTime=1 every line has the item "@HH:MM:SS.ffffff", the
// local time at which it was begun, after the ids item (first without ids);
// a result line and a field-exchange line of direction 0 then have "+Nus",
// the microseconds the engine took. The rest is as without them.
struct LineTime {
  bool present = false;
  int64_t micros = 0;     // of the day
  int64_t duration = -1;  // microseconds; -1: none on the line
};
// The ids and time items at the front of the line at `bytes`, into `ids`
// and `time` (default made): the number of bytes they took. Every line
// asks, so the answer for a line without them stays inline; the text is
// given in registers rather than as a view in memory, whose copies would
// wait on the stores of its parts.
size_t TakeLineItemsAt(char const* bytes, size_t size, LineIds& ids, LineTime& time);
inline size_t TakeLineItems(char const* bytes, size_t size, LineIds& ids, LineTime& time) {
  if (size < 2 || bytes[0] != ' ' || (bytes[1] != '[' && bytes[1] != '@')) return 0;
  return TakeLineItemsAt(bytes, size, ids, time);
}
// "HH:MM:SS.ffffff".
void AppendTimeOfDay(std::string& out, int64_t micros);
size_t const kTimeOfDayBytes = 15;
void PutTimeOfDay(char* out, int64_t micros);  // kTimeOfDayBytes at `out`

// What a run line (the first line a process writes, with ids) and an engine
// line (once the engine library is loaded) say:
//   "*** Run *** DATE TIME Tolvan32 VERSION NAME=value ... [Computer NAME
//    User DOMAIN\NAME] Host PATH"
//   "*** Engine *** VERSION PATH"
size_t const kKeptOptions = 16;
struct RunLine {
  std::string_view date;
  std::string_view time;
  std::string_view version;
  std::vector<std::string_view> options;  // "Tolvan32_Debug=1", ...: the first kKeptOptions
  size_t optionCount = 0;
  std::string_view computer;  // with Tolvan32_TraceTime=1
  std::string_view user;
  std::string_view host;
};
struct EngineLine {
  std::string_view version;  // "-" when the library has no version resource
  std::string_view path;
};
// `text` after the ids item; false when it is no such line.
bool ReadRunLine(std::string_view text, RunLine& run);
bool ReadEngineLine(std::string_view text, EngineLine& engine);

// The marks around a block of the flight recorder (Tolvan32_Recorder=N):
//   "*** Recorder *** TRIGGER N"  (N: the recorded lines written right after it)
//   "*** Recorder end ***"
struct RecorderMark {
  bool end = false;
  std::string_view trigger;  // error, policy, exception, slow, snapshot
  uint32_t lines = 0;
};
// `text` after the ids and time items; false when it is no such line.
bool ReadRecorderMark(std::string_view text, RecorderMark& mark);
// One of the module's own trigger words (a redacted output shows no other).
bool IsRecorderTrigger(std::string_view word);

struct TraceLine {
  LineKind kind = kBadLine;
  int op = -1;                 // call lines
  std::string_view object;     // call lines: the pointer item
  std::string_view arguments;  // call lines: the argument items as written, without the separators around them
  std::string_view body;       // result lines: the items after the 16 spaces, without the closing separator
  int errorNumber = 0;         // error lines
  std::string_view text;       // error lines: the message
  char const* problem = "";    // bad lines: why
};

TraceLine ClassifyLine(OperationForms const& forms, std::string_view text);
// The same into `line`, default made.
void ClassifyLineInto(OperationForms const& forms, std::string_view text, TraceLine& line);
// A call line without its closing separator: a text item with a line feed
// in it (a memo field's value) goes on on the next line.
bool MayContinue(TraceLine const& line);

// The argument items of a call line, split by the operation's item kinds.
// `split` is false when several text items could not be told apart (texts
// with spaces in them); the items are then not given one by one.
struct ArgumentItems {
  std::vector<std::string_view> items;
  bool split = true;
};
// False when the arguments do not fit the operation.
bool SplitArguments(OperationForm const& form, std::string_view arguments, ArgumentItems& items);

struct ResultItems {
  std::string_view result;  // empty for a record without a result item
  std::string_view state[3];
  int stateCount = 0;
  std::string_view fieldName;  // CTable::GetField at trace level 2
  std::string_view fieldWords[2];
  bool nullField = false;
};
// False when the result line does not fit the operation's result record.
bool SplitResult(OperationForm const& form, std::string_view body, ResultItems& items);

bool IsPointerItem(std::string_view item);
// Inline: asked of nearly every item.
inline bool IsMaskedPointer(std::string_view item) { return item == "........"; }
inline bool IsIntegerItem(std::string_view item) {
  size_t const start = (!item.empty() && item[0] == '-') ? 1 : 0;
  size_t const digits = item.size() - start;
  if (digits == 0 || digits > 10) return false;
  if (item[start] == '0' && (digits > 1 || start)) return false;  // "%d" writes no leading zero, no "-0"
  for (size_t i = start; i < item.size(); ++i) {
    if (item[i] < '0' || item[i] > '9') return false;
  }
  if (digits < 10) return true;
  return item.substr(start) <= (start ? "2147483648" : "2147483647");
}

}  // namespace tools
}  // namespace tolvan

#endif

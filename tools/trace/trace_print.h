// Printing records: as an indented tree for people, or as JSON lines for
// other tools, with the filters of the "show" command. Everything is
// appended to a string that the caller writes out.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_PRINT_H
#define TOLVAN_TOOLS_TRACE_TRACE_PRINT_H

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "tools/trace/trace_records.h"

namespace tolvan {
namespace tools {

size_t const kKeptTableObjects = 10000;  // of the --table table, at once

struct RecordFilter {
  std::vector<bool> operations = std::vector<bool>(kOperationCount);  // wanted operations
  bool anyOperation = false;                                          // false: no --op given
  std::string object;                                                 // wanted object address ("" for any)
  bool problemsOnly = false;                                          // --errors
  std::string table;                                                  // --table: its name ("" for any)
  bool byProcess = false;                                             // --pid
  uint32_t process = 0;
  bool byThread = false;                                              // --tid
  uint32_t thread = 0;
  std::unordered_set<std::string> tableObjects;  // its objects so far, by ObjectKey
};

// Adds the operations that `name` names; false when it names none.
bool AddOperationFilter(RecordFilter& filter, OperationForms const& forms, std::string_view name);
// Sets the wanted object from "00a41230", "a41230" or "0x00A41230"; false when it is no address.
bool SetObjectFilter(RecordFilter& filter, std::string_view address);

// With --table: learns from GetTable and AddTable which object (in which
// run) is the table now. Called for each record before the two below.
void LearnTableObjects(RecordFilter& filter, OperationForms const& forms, Record const& record);
// Whether a record concerns the --table table (always, without --table).
bool TableWanted(RecordFilter const& filter, Record const& record);
// Whether a record (anywhere in its tree) passes the filter.
bool RecordWanted(RecordFilter const& filter, Record const& record);

// Whether the tree of a record shows state items, and what they are.
bool ShowsStateItems(OperationForms const& forms, Record const& record);
extern char const kStateLegend[];

// A call's status as JSON names it: "completed", "single_line", "without_result", "not_performed".
char const* StatusKey(CallStatus status);

void PrintRecordTree(std::string& out, OperationForms const& forms, Record const& record);
void PrintRecordJson(std::string& out, OperationForms const& forms, Record const& record);

void AppendNumber(std::string& out, uint64_t value);
// "    ... and N WHAT" on a line of its own, for lists cut at their bound; nothing when none were left out.
void PutMore(std::string& out, uint64_t more, char const* what);
// Right-aligned in a field of `width` characters.
void AppendPadded(std::string& out, uint64_t value, size_t width);
// A JSON string of the bytes: quotes, backslashes and control characters
// escaped; bytes above 127 (the host's code page) as \u0080 to \u00ff, the
// byte values themselves. A text from the log is cut after `limit` bytes,
// with "\u2026 (N bytes)"; the tool's own texts pass kWholeText.
size_t const kWholeText = static_cast<size_t>(-1);
void AppendJsonString(std::string& out, std::string_view text, size_t limit = kShownText);
void AppendJsonString(std::string& out, KeptText const& text);
// The bytes for a console: control characters as \xNN; cut like the above,
// with "â¦ (N bytes)".
void AppendVisible(std::string& out, std::string_view text, size_t limit = kShownText);
void AppendVisible(std::string& out, KeptText const& text);
// " (N bytes)" after the ellipsis of a text cut short.
void AppendCutSize(std::string& out, uint64_t size);

// The members of one JSON object, with the commas between them.
class JsonObject {
 public:
  explicit JsonObject(std::string& out) : out_(out) { out_ += '{'; }
  ~JsonObject() { out_ += '}'; }
  std::string& Key(char const* key) {
    if (!first_) out_ += ',';
    first_ = false;
    out_ += '"';
    out_ += key;
    out_ += "\":";
    return out_;
  }
  void Number(char const* key, uint64_t value) { AppendNumber(Key(key), value); }
  void String(char const* key, std::string_view value) { AppendJsonString(Key(key), value); }
  void String(char const* key, KeptText const& value) { AppendJsonString(Key(key), value); }

 private:
  std::string& out_;
  bool first_ = true;
};

// A JSON array: `put` writes each item.
template <typename Items, typename Put>
void PutJsonArray(std::string& out, Items const& items, Put put) {
  out += '[';
  bool first = true;
  for (auto const& item : items) {
    if (!first) out += ',';
    first = false;
    put(item);
  }
  out += ']';
}

}  // namespace tools
}  // namespace tolvan

#endif

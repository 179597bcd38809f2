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
bool IsMaskedPointer(std::string_view item);
bool IsIntegerItem(std::string_view item);

}  // namespace tools
}  // namespace tolvan

#endif

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

#include <stddef.h>

#include "tools/trace/operation_forms.h"

namespace tolvan {
namespace tools {

struct Span {
  char const* data;
  size_t length;
};

enum LineKind {
  kCallLine,    // a call record, or a whole field-exchange line
  kResultLine,  // a result record: which call it belongs to is decided later
  kErrorLine,   // one of the module's numbered error messages
  kBadLine,     // none of these
};

struct TraceLine {
  LineKind kind;
  int op;          // call lines
  Span object;     // call lines: the pointer item
  Span arguments;  // call lines: the argument items as written, without the separators around them
  Span body;       // result lines: the items after the 16 spaces, without the closing separator
  int errorNumber; // error lines
  Span text;       // error lines: the message
  char const* problem;  // bad lines: why
};

void ClassifyLine(OperationForms const& forms, char const* text, size_t length, TraceLine& line);

// The argument items of a call line, split by the operation's item kinds.
// `split` is false when several text items could not be told apart (texts
// with spaces in them); the items are then not given one by one.
struct ArgumentItems {
  Span items[kMaxArguments];
  int count;
  bool split;
};
// False when the arguments do not fit the operation.
bool SplitArguments(OperationForm const& form, Span arguments, ArgumentItems& items);

struct ResultItems {
  Span result;  // empty for a record without a result item
  Span state[3];
  int stateCount;
  Span fieldName;  // CTable::GetField at trace level 2
  Span fieldWords[2];
  bool nullField;
};
// False when the result line does not fit the operation's result record.
bool SplitResult(OperationForm const& form, Span body, ResultItems& items);

bool IsPointerItem(Span item);
bool IsMaskedPointer(Span item);
bool IsIntegerItem(Span item);
// The value of an integer item (which IsIntegerItem has accepted).
long IntegerValue(Span item);
bool SpanEquals(Span span, char const* text);

}  // namespace tools
}  // namespace tolvan

#endif

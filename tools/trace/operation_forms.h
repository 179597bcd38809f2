// How each operation's records look in the trace, derived from the module's
// own operation table: the argument items from the parameter list of the
// readable signature text, the result item from the return type that the
// decorated name encodes, and the state items from the class.
#ifndef TOLVAN_TOOLS_TRACE_OPERATION_FORMS_H
#define TOLVAN_TOOLS_TRACE_OPERATION_FORMS_H

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/operations.h"

namespace tolvan {
namespace tools {

enum ItemKind : uint8_t {
  kIntegerItem,  // "%d"
  kPointerItem,  // eight or more hexadecimal digits, or "........"
  kTextItem,     // any bytes; "NULL" and "EMPTY" included
  kRealItem,     // "%g"
  kCharItem,     // one byte, or "EMPTY"
};

enum ResultForm : uint8_t {
  kNoResultRecord,  // void operations, destructors, field exchange
  kIntegerResult,
  kPointerResult,
  kTextResult,
  kStateOnlyResult,  // a result record without a result item
  kFieldResult,      // "[" name word word "]", or "[" NULL "]"
};

enum StateForm : uint8_t {
  kNoState,
  kTableState,       // "(" word ")"
  kStoreFirstWord,   // "(" word ")"
  kStoreThreeWords,  // "(" word ":" word ":" word ")"
};

struct OperationForm {
  std::string_view signature;  // the readable signature text
  std::string_view key;        // the signature up to and including the first ")"
  std::string_view decorated;
  std::string_view className;  // "CTable" in "CTable::OpenAccess(...)"
  std::string_view method;     // "OpenAccess"
  std::vector<ItemKind> arguments;
  ResultForm result = kNoResultRecord;
  StateForm state = kNoState;
  bool exchange = false;  // a field-exchange line: one line, values after the selector
  bool table = false;     // an operation of CTable
  bool valid = false;     // the texts could be read
};

struct OperationForms {
  std::vector<OperationForm> forms;  // indexed by OperationId
  // The operations by key, open addressing: every call line looks one up,
  // so a few bytes of the key choose the slot (-1: empty).
  static constexpr size_t kSlots = 1024;
  std::vector<int> slots;
};

// Fills `forms` from the operation table. Returns false if an operation's
// texts could not be read (which a test guards against).
bool BuildOperationForms(OperationForms& forms);

// The operation whose signature text stands at the start of `text`, followed
// by a space or the end of the text; -1 when none does.
int FindSignature(OperationForms const& forms, std::string_view text);

// Whether `name` names this operation, in any letter case: its signature
// text, its decorated name, "Class::Method" or "Method".
bool OperationNamed(OperationForm const& form, std::string_view name);

bool SameIgnoringCase(std::string_view left, std::string_view right);

}  // namespace tools
}  // namespace tolvan

#endif

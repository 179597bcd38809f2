// How each operation's records look in the trace, derived from the module's
// own operation table: the argument items from the parameter list of the
// readable signature text, the result item from the return type that the
// decorated name encodes, and the state items from the class.
#ifndef TOLVAN_TOOLS_TRACE_OPERATION_FORMS_H
#define TOLVAN_TOOLS_TRACE_OPERATION_FORMS_H

#include <stddef.h>
#include <stdint.h>

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

enum { kMaxArguments = 8 };

struct OperationForm {
  char const* signature;  // the readable signature text
  size_t signatureLength;
  size_t keyLength;  // up to and including the first ")"
  char const* decorated;
  size_t classLength;   // "CTable" in "CTable::OpenAccess(...)"
  size_t methodStart;   // offset of "OpenAccess"
  size_t methodLength;
  ItemKind arguments[kMaxArguments];
  int argumentCount;
  ResultForm result;
  StateForm state;
  bool exchange;  // a field-exchange line: one line, values after the selector
  bool valid;     // the texts could be read
};

struct OperationForms {
  OperationForm forms[kOperationCount];
  // Look-up of a signature text by its beginning up to the first ")".
  int16_t slots[512];
};

// Fills `forms` from the operation table. Returns false if an operation's
// texts could not be read (which a test guards against).
bool BuildOperationForms(OperationForms& forms);

// The operation whose signature text stands at `text`, followed by a space
// or the end of the text; -1 when none does.
int FindSignature(OperationForms const& forms, char const* text, size_t length);

// Whether `name` names this operation: its signature text, its decorated
// name, "Class::Method" or "Method".
bool OperationNamed(OperationForm const& form, char const* name);

}  // namespace tools
}  // namespace tolvan

#endif

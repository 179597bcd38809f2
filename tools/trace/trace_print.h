// Printing records: as an indented tree for people, or as JSON lines for
// other tools, with the filters of the "show" command.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_PRINT_H
#define TOLVAN_TOOLS_TRACE_TRACE_PRINT_H

#include "tools/common/tool_output.h"
#include "tools/trace/trace_records.h"

namespace tolvan {
namespace tools {

struct RecordFilter {
  bool operations[kOperationCount];  // wanted operations
  bool anyOperation;                 // false: no --op given
  char object[17];                   // wanted object address ("" for any)
  bool problemsOnly;                 // --errors
};

void ClearFilter(RecordFilter& filter);
// Adds the operations that `name` names; false when it names none.
bool AddOperationFilter(RecordFilter& filter, OperationForms const& forms, char const* name);
// Sets the wanted object from "00a41230", "a41230" or "0x00A41230"; false when it is no address.
bool SetObjectFilter(RecordFilter& filter, char const* address);

// Whether a record (anywhere in its tree) passes the filter.
bool RecordWanted(RecordFilter const& filter, Record const& record);

void PrintRecordTree(Output& out, OperationForms const& forms, Record const& record);
void PrintRecordJson(Output& out, OperationForms const& forms, Record const& record);

// A JSON string of the bytes: quotes, backslashes and control characters
// escaped; bytes above 127 (the host's code page) as \u0080 to \u00ff, the
// byte values themselves.
void PutJsonString(Output& out, Span text);
// The bytes for a console: control characters as \xNN.
void PutVisible(Output& out, Span text);

}  // namespace tools
}  // namespace tolvan

#endif

// The figures of a whole trace log, gathered record by record as the log is
// read: calls per operation and per table object, what the share-mode policy
// did, the module's error lines, and the lines that could not be read.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_SUMMARY_H
#define TOLVAN_TOOLS_TRACE_TRACE_SUMMARY_H

#include <stdint.h>

#include "tools/common/tool_output.h"
#include "tools/trace/trace_records.h"

namespace tolvan {
namespace tools {

enum {
  kKeptNotes = 20,       // line numbers kept for each kind of problem
  kTableSlots = 4096,    // table objects told apart (a hash table, three quarters used at most)
  kMaxTables = 3072,
  kErrorKinds = 8,
  kErrorLinesKept = 5,
};
size_t const kTableNameLength = 40;
size_t const kErrorTextLength = 80;

struct LineNote {
  uint64_t line;
  char const* what;  // a static text, or an operation's signature text
};

struct TableTally {
  uint64_t calls;
  uint8_t addressLength;  // 0: free slot
  uint8_t nameLength;
  char address[17];
  char name[kTableNameLength];
};

struct ErrorTally {
  int number;
  uint64_t count;
  int linesKept;
  uint64_t lines[kErrorLinesKept];
  int textLength;
  char text[kErrorTextLength];
};

struct Summary {
  uint64_t lines;
  uint64_t bytes;
  uint64_t calls;
  uint64_t callsByModule;
  uint64_t exchangeLines;
  uint64_t errorLines;
  uint64_t badLines;
  uint64_t withoutResult;
  uint64_t notPerformed;
  uint64_t recordsWithCutText;
  uint64_t operationCalls[kOperationCount];
  uint64_t operationCallsByModule[kOperationCount];

  int tableCount;
  uint64_t callsOnUncountedTables;
  bool sawAddresses;
  bool sawMaskedAddresses;
  TableTally tables[kTableSlots];

  uint64_t hostOpensNotShared;
  uint64_t reopenedShared;
  uint64_t closeFailed;
  uint64_t leftAsAsked;
  uint64_t refusedByEngine;
  uint64_t escalated[3];  // Pack, ReIndex, Clear
  uint64_t alreadyExclusive[3];
  uint64_t sequencesLocked;
  uint64_t sequencesSkippedOrUnlocked;
  uint64_t sequencesUnlocked;

  int errorKinds;
  uint64_t otherErrors;
  ErrorTally errors[kErrorKinds];

  int badNoteCount;
  LineNote badNotes[kKeptNotes];
  int openNoteCount;
  LineNote openNotes[kKeptNotes];
};

void ResetSummary(Summary& summary);
void CountRecord(Summary& summary, OperationForms const& forms, Record const& record);

// `source` names the log in the heading.
void PrintSummary(Output& out, Summary const& summary, OperationForms const& forms, char const* source);
void PrintSummaryJson(Output& out, Summary const& summary, OperationForms const& forms, char const* source);

// The table object entry of an address (as the log writes it), or null.
TableTally const* FindTable(Summary const& summary, Span address);

}  // namespace tools
}  // namespace tolvan

#endif

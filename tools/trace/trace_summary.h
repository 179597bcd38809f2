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

#include "tools/trace/trace_records.h"

namespace tolvan {
namespace tools {

struct LineNote {
  uint64_t line;
  std::string_view what;  // a static text, or an operation's signature text
};

struct TableTally {
  std::string address;
  std::string name;  // learnt from GetTable or AddTable
  uint64_t calls = 0;
};

struct ErrorTally {
  int number = 0;
  uint64_t count = 0;
  std::vector<uint64_t> lines;
  std::string text;  // of the first line with this number
};

struct Summary {
  uint64_t lines = 0;
  uint64_t bytes = 0;
  uint64_t calls = 0;
  uint64_t callsByModule = 0;
  uint64_t exchangeLines = 0;
  uint64_t errorLines = 0;
  uint64_t badLines = 0;
  uint64_t withoutResult = 0;
  uint64_t notPerformed = 0;
  std::vector<uint64_t> operationCalls = std::vector<uint64_t>(kOperationCount);
  std::vector<uint64_t> operationCallsByModule = std::vector<uint64_t>(kOperationCount);

  std::vector<TableTally> tables;  // in the order first seen
  std::unordered_map<std::string, size_t> tableIndex;
  bool sawAddresses = false;
  bool sawMaskedAddresses = false;

  uint64_t hostOpensNotShared = 0;
  uint64_t reopenedShared = 0;
  uint64_t closeFailed = 0;
  uint64_t leftAsAsked = 0;
  uint64_t refusedByEngine = 0;
  uint64_t escalated[3] = {};  // Pack, ReIndex, Clear
  uint64_t alreadyExclusive[3] = {};
  uint64_t sequencesLocked = 0;
  uint64_t sequencesSkippedOrUnlocked = 0;
  uint64_t sequencesUnlocked = 0;

  std::vector<ErrorTally> errors;  // in the order first seen
  std::vector<LineNote> badNotes;
  std::vector<LineNote> openNotes;
};

void CountRecord(Summary& summary, OperationForms const& forms, Record const& record);

// `source` names the log in the heading.
void PrintSummary(std::string& out, Summary const& summary, OperationForms const& forms, std::string_view source);
void PrintSummaryJson(std::string& out, Summary const& summary, OperationForms const& forms, std::string_view source);

// The table object entry of an address (as the log writes it), or null.
TableTally const* FindTable(Summary const& summary, std::string_view address);

}  // namespace tools
}  // namespace tolvan

#endif

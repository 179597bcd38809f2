// Helpers of the trace reader tests: a log read into plain trees that the
// tests can compare, and the figures of a log.
#ifndef TOLVAN_TOOLS_TESTS_TRACE_TEST_SUPPORT_H
#define TOLVAN_TOOLS_TESTS_TRACE_TEST_SUPPORT_H

#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/trace/trace_outcome.h"
#include "tools/trace/trace_records.h"
#include "tools/trace/trace_summary.h"

namespace tolvan {
namespace tools {

struct TestNode {
  NodeKind kind;
  int op;
  CallStatus status;
  bool entryMissing;
  uint64_t line;
  uint64_t resultLine;
  uint32_t continuedLines;
  std::string object;
  std::string arguments;
  std::string result;
  std::string text;
  std::string problem;
  int errorNumber;
  PolicyOutcome outcome;
  std::vector<TestNode> children;
};

OperationForms const& Forms();

// Every top-level record of the log, in order.
std::vector<TestNode> ReadRecords(std::string const& log);
// The figures of the log.
std::unique_ptr<Summary> Summarise(std::string const& log);
// Runs `handle` on each record of the log.
void ForEachRecord(std::string const& log, std::function<void(Record const&)> const& handle);

// The log with every CR LF turned into LF.
std::string WithoutCarriageReturns(std::string const& log);
// The log's lines (without their line ends), and the log made of lines.
std::vector<std::string> LinesOf(std::string const& log);
std::string JoinLines(std::vector<std::string> const& lines);

}  // namespace tools
}  // namespace tolvan

#endif

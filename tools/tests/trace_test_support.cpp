#include "tools/tests/trace_test_support.h"

#include "tools/trace/trace_reader.h"

namespace tolvan {
namespace tools {

namespace {

TestNode Convert(Record const& record, int index) {
  Node const& node = record.nodes[index];
  TestNode out{};
  out.kind = node.kind;
  out.op = node.op;
  out.status = node.status;
  out.entryMissing = node.entryMissing;
  out.line = node.line;
  out.resultLine = node.resultLine;
  out.continuedLines = node.continuedLines;
  auto text = [&](TextRef ref) { return std::string(record.TextOf(ref)); };
  out.object = text(node.object);
  out.arguments = text(node.arguments);
  out.result = text(node.result);
  out.text = text(node.text);
  out.problem = node.problem;
  out.errorNumber = node.errorNumber;
  out.outcome = OutcomeOf(Forms(), record, index);
  for (int child = node.firstChild; child >= 0; child = record.nodes[child].nextSibling) {
    out.children.push_back(Convert(record, child));
  }
  return out;
}

}  // namespace

OperationForms const& Forms() {
  static OperationForms const* forms = [] {
    auto* built = new OperationForms();
    BuildOperationForms(*built);
    return built;
  }();
  return *forms;
}

void ForEachRecord(std::string const& log, std::function<void(Record const&)> const& handle) {
  Summary summary;
  TraceReader(Forms(), summary, handle).ReadText(log);
}

std::vector<TestNode> ReadRecords(std::string const& log) {
  std::vector<TestNode> records;
  ForEachRecord(log, [&](Record const& record) { records.push_back(Convert(record, 0)); });
  return records;
}

std::unique_ptr<Summary> Summarise(std::string const& log) {
  auto summary = std::make_unique<Summary>();
  TraceReader(Forms(), *summary, [&](Record const& record) { CountRecord(*summary, Forms(), record); }).ReadText(log);
  return summary;
}

std::string WithoutCarriageReturns(std::string const& log) {
  std::string out;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i] == '\r' && i + 1 < log.size() && log[i + 1] == '\n') continue;
    out += log[i];
  }
  return out;
}

std::vector<std::string> LinesOf(std::string const& log) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string line = log.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string JoinLines(std::vector<std::string> const& lines) {
  std::string log;
  for (std::string const& line : lines) log += line + "\r\n";
  return log;
}

}  // namespace tools
}  // namespace tolvan

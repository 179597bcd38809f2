#include "tools/tests/trace_test_support.h"

#include "tools/trace/trace_input.h"

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
  auto text = [&](TextRef ref) {
    Span const span = TextOf(record, ref);
    return std::string(span.data, span.length);
  };
  out.object = text(node.object);
  out.arguments = text(node.arguments);
  out.result = text(node.result);
  out.text = text(node.text);
  out.problem = node.problem ? node.problem : "";
  out.errorNumber = node.errorNumber;
  out.outcome = OutcomeOf(Forms(), record, index);
  for (int child = node.firstChild; child >= 0; child = record.nodes[child].nextSibling) {
    out.children.push_back(Convert(record, child));
  }
  return out;
}

void Collect(void* context, Record const& record) {
  static_cast<std::vector<TestNode>*>(context)->push_back(Convert(record, 0));
}

struct SummaryContext {
  Summary* summary;
};

void Count(void* context, Record const& record) {
  CountRecord(*static_cast<SummaryContext*>(context)->summary, Forms(), record);
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

void ForEachRecord(std::string const& log, void (*handle)(void* context, Record const& record), void* context) {
  auto assembler = std::make_unique<Assembler>();
  auto reader = std::make_unique<LineReader>();
  StartAssembly(*assembler, Forms(), handle, context);
  ReadTraceText(log.data(), log.size(), *reader, *assembler);
  FinishAssembly(*assembler);
}

std::vector<TestNode> ReadRecords(std::string const& log) {
  std::vector<TestNode> records;
  ForEachRecord(log, &Collect, &records);
  return records;
}

std::unique_ptr<Summary> Summarise(std::string const& log) {
  auto summary = std::make_unique<Summary>();
  ResetSummary(*summary);
  SummaryContext context{summary.get()};
  ForEachRecord(log, &Count, &context);
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

// Several logs read as one: the logs of several workstations, or a bundle's.
// Their lines are numbered on through them; each log's run lines start its
// own runs, so a process id seen in two logs is two processes; and holds and
// contention are compared only within one computer, as no two computers'
// clocks agree closely enough to order their calls.
#include <algorithm>
#include <set>

#include "tools/trace/trace_print.h"
#include "tools/trace/trace_summary.h"

namespace tolvan {
namespace tools {

namespace {

std::set<std::string> Computers(Summary const& summary) {
  std::set<std::string> computers;
  for (RunInfo const& run : summary.runs) {
    if (!run.computer.empty()) computers.insert(run.computer.text);
  }
  return computers;
}

}  // namespace

void StartLog(Summary& summary, std::string_view name, char const* kind) {
  ++summary.logCount;
  if (summary.logs.size() < kKeptRuns) {
    LogInfo log;
    log.name = std::string(name);
    log.kind = kind;
    log.firstLine = summary.lines + 1;
    summary.logs.push_back(std::move(log));
  }
  // The table objects of a log without run lines are known by their
  // addresses alone: the next log's objects at the same addresses are others.
  for (auto entry = summary.tableIndex.begin(); entry != summary.tableIndex.end();) {
    entry = entry->first.find(' ') == std::string::npos ? summary.tableIndex.erase(entry) : std::next(entry);
  }
  summary.lastTable.valid = false;
  // The calls just before a slow one are those of its own log.
  TimingFigures& timing = summary.timing;
  std::fill(timing.recent.begin(), timing.recent.end(), CallBrief());
  timing.recentNext = 0;
}

void EndLog(Summary& summary) {
  if (summary.logs.size() != summary.logCount) return;
  LogInfo& log = summary.logs.back();
  log.lines = summary.lines - (log.firstLine - 1);
  uint64_t before = 0;
  for (size_t i = 0; i + 1 < summary.logs.size(); ++i) before += summary.logs[i].bytes;
  log.bytes = summary.bytes - before;
}

std::string ComputerKey(Summary const& summary, int run) {
  if (run >= 0 && static_cast<size_t>(run) < summary.runs.size() && !summary.runs[run].computer.empty()) {
    return summary.runs[run].computer.text;
  }
  // A log is written on one computer: calls of it whose run line is not in
  // it are compared with those of the same log alone.
  uint64_t const log = run >= 0 && static_cast<size_t>(run) < summary.runs.size() && summary.runs[run].log
                           ? summary.runs[run].log
                           : summary.logCount;
  std::string key = "\nlog ";
  AppendNumber(key, log);
  return key;
}

std::string ComputersNote(Summary const& summary) {
  if (summary.logCount < 2) return std::string();
  std::set<std::string> const computers = Computers(summary);
  std::string text = "These ";
  AppendNumber(text, summary.logCount);
  text += " logs come from ";
  if (computers.empty()) {
    text += "computers their run lines do not name";
  } else {
    AppendNumber(text, computers.size());
    text += computers.size() == 1 ? " computer (" : " computers (";
    bool first = true;
    for (std::string const& computer : computers) {
      if (!first) text += ", ";
      first = false;
      AppendVisible(text, computer);
    }
    text += ')';
  }
  text += ". Holds and contention are computed within one computer: the clocks of different computers are not "
          "compared, so a hold on one is never set against an open on another. Line numbers run on through the "
          "logs in the order given.";
  return text;
}

void PrintLogs(std::string& out, Summary const& summary) {
  if (summary.logCount < 2) return;
  out += "  ";
  AppendNumber(out, summary.logCount);
  out += " logs, their lines numbered on through them:\n";
  for (size_t i = 0; i < summary.logs.size(); ++i) {
    LogInfo const& log = summary.logs[i];
    AppendPadded(out, i + 1, 10);
    out += "  lines ";
    AppendNumber(out, log.firstLine);
    out += '-';
    AppendNumber(out, log.firstLine + log.lines - (log.lines ? 1 : 0));
    out += "  ";
    AppendVisible(out, log.name);
    if (*log.kind) {
      out += " (";
      out += log.kind;
      out += ')';
    }
    out += '\n';
  }
  PutMore(out, summary.logCount - summary.logs.size(), "more logs");
  out += "  ";
  out += ComputersNote(summary);
  out += '\n';
}

void PutLogsJson(JsonObject& json, Summary const& summary) {
  std::string& out = json.Key("logs");
  PutJsonArray(out, summary.logs, [&](LogInfo const& log) {
    JsonObject entry(out);
    entry.String("log", log.name);
    entry.String("compressed", log.kind);
    entry.Number("first_line", log.firstLine);
    entry.Number("lines", log.lines);
    entry.Number("bytes", log.bytes);
  });
  json.Number("logs_more", summary.logCount - summary.logs.size());
  std::string& computers = json.Key("computers");
  PutJsonArray(computers, Computers(summary), [&](std::string const& name) { AppendJsonString(computers, name); });
  if (summary.logCount > 1) json.String("clocks", ComputersNote(summary));
}

}  // namespace tools
}  // namespace tolvan

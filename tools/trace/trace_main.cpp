// tolvan32-trace: reads a trace log of the module and prints its figures
// ("summary") or its records ("show"), for people or, with --json, for other
// tools, or writes one HTML page of both ("report"). The log is read once from start to end; memory is bounded by what
// the figures must remember, not by the length of the log.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <string>
#include <string_view>

#include "tools/common/nearest_word.h"
#include "tools/common/tool_output.h"
#include "tools/common/tool_platform.h"
#include "tools/trace/trace_print.h"
#include "tools/trace/trace_reader.h"
#include "tools/trace/trace_records_jsonl.h"
#include "tools/trace/trace_report_html.h"
#include "tools/trace/trace_summary.h"

namespace tolvan {
namespace tools {

namespace {

size_t const kOutputPiece = 1 << 16;

enum Command { kSummary, kShow, kReport, kRecords };

struct Options {
  Command command = kSummary;
  bool json = false;
  bool redact = false;
  std::string html;  // report: the page's file, "-" for standard output
  std::string path;
  RecordFilter filter;
  uint32_t slowMs = kDefaultSlowMicros / 1000;
  RecordsRequest records;  // records: its further logs and its times
};

void Write(StandardHandle handle, std::string& text) {
  if (!text.empty()) WriteStandard(handle, text.data(), text.size());
  text.clear();
}

void WriteError(std::string text) { Write(kStandardError, text); }

char const kUsage[] =
    "usage: tolvan32-trace [summary|show|report|records] [options] LOG...\n"
    "  summary           the figures of the whole log (the default)\n"
    "  show              the records as an indented tree: each call with its result,\n"
    "                    and the calls the module made for it beneath it\n"
    "  --op NAME         show only records with this operation: Method, Class::Method,\n"
    "                    the signature text or the decorated name, in any letter case (may be repeated)\n"
    "  --table NAME      show and summary: only the records on this table, its objects found\n"
    "                    from GetTable's results (the plain log; the masked log hides them)\n"
    "  --object ADDRESS  show only records on this object (the plain log's addresses)\n"
    "  --errors          show only module errors, unreadable lines and calls without result\n"
    "  --pid N, --tid N  show only records of this process, of this thread (logs with ids)\n"
    "  --json            summary: one JSON object; show: one JSON object per record and line\n"
    "  report            one HTML page to attach to a ticket: errors with the records before\n"
    "                    them, the policy per table, charts and a timeline\n"
    "  --html FILE       report: the page's file (default: the first log's name and .html in the\n"
    "                    current folder; - for standard output)\n"
    "  records           every call, error line and damaged line of the logs as one JSON object\n"
    "                    per line (JSON Lines), in log order; --op, --table, --object, --pid,\n"
    "                    --tid and --errors select them\n"
    "  --from TIME, --to TIME  records: only lines from, to this time of day (HH:MM[:SS[.ffffff]])\n"
    "  --redact          report and records: mask addresses, field values, texts and paths\n"
    "  --slow MS         summary and report: an open of another process taking longer than this\n"
    "                    inside a hold waited for it (default 100)\n"
    "  LOG               C:\\Tolvan32_a.log (plain), C:\\Tolvan32_b.log (masked), or - for input;\n"
    "                    also compressed by gzip (.gz), or the .zip of tolvan32-setup trace collect,\n"
    "                    of which every *.log entry but the masked Tolvan32_b*.log is read (told by\n"
    "                    their first bytes, whatever the name)\n"
    "  LOG...            several logs, of several computers say, are read in turn as one: their\n"
    "                    lines numbered on through them, each log's runs its own; holds and\n"
    "                    contention within one computer (clocks of two are not compared)\n"
    "Exit status: 0 the whole log was read, 1 some lines could not be read, 2 usage or file error\n"
    "(a file missing, damaged compressed data), 3 out of memory.\n";

// A decimal id as the log's ids item writes it.
bool ReadId(std::string_view text, uint32_t& id) {
  uint64_t value = 0;
  for (char const c : text) {
    if (c < '0' || c > '9' || (value = value * 10 + static_cast<uint64_t>(c - '0')) > 0xffffffffu) return false;
  }
  id = static_cast<uint32_t>(value);
  return !text.empty();
}

// A first log that is no file but near a command's name: "sumary LOG" is
// a command misspelt, not two logs.
bool MisspeltCommand(std::string const& path) {
  if (NearestWord(path, {"summary", "show", "report", "records"}).empty()) return false;
  int const handle = OpenInput(path.c_str());
  if (handle < 0) return true;
  CloseInput(handle);
  return false;
}

bool ParseOptions(int argc, char** argv, OperationForms const& forms, Options& options) {
  int first = 1;
  if (first < argc && std::string_view(argv[first]) == "summary") {
    ++first;
  } else if (first < argc && std::string_view(argv[first]) == "show") {
    options.command = kShow;
    ++first;
  } else if (first < argc && std::string_view(argv[first]) == "report") {
    options.command = kReport;
    ++first;
  } else if (first < argc && std::string_view(argv[first]) == "records") {
    options.command = kRecords;
    ++first;
  }
  bool reportOption = false;
  bool filtered = false;
  bool havePath = false;
  for (int i = first; i < argc; ++i) {
    std::string_view const argument = argv[i];
    bool const hasValue = i + 1 < argc;
    if (argument == "--json") {
      options.json = true;
    } else if (argument == "--redact") {
      options.redact = reportOption = true;
    } else if (argument == "--html" && hasValue) {
      options.html = argv[++i];
      reportOption = true;
    } else if (argument == "--errors") {
      options.filter.problemsOnly = true;
      filtered = true;
    } else if (argument == "--op" && hasValue) {
      if (!AddOperationFilter(options.filter, forms, argv[++i])) {
        WriteError(std::string("tolvan32-trace: no operation is named ") + argv[i] + "\n");
        return false;
      }
      filtered = true;
    } else if ((argument == "--pid" || argument == "--tid") && hasValue) {
      uint32_t& id = argument == "--pid" ? options.filter.process : options.filter.thread;
      (argument == "--pid" ? options.filter.byProcess : options.filter.byThread) = true;
      if (!ReadId(argv[++i], id)) {
        WriteError(std::string("tolvan32-trace: not a process or thread id: ") + argv[i] + "\n");
        return false;
      }
      filtered = true;
    } else if (argument == "--slow" && hasValue) {
      if (!ReadId(argv[++i], options.slowMs) || options.slowMs > 86400000) {
        WriteError(std::string("tolvan32-trace: not a number of milliseconds: ") + argv[i] + "\n");
        return false;
      }
    } else if (argument == "--table" && hasValue) {
      options.filter.table = argv[++i];
    } else if (argument == "--object" && hasValue) {
      if (!SetObjectFilter(options.filter, argv[++i])) {
        WriteError(std::string("tolvan32-trace: not an address: ") + argv[i] + "\n");
        return false;
      }
      filtered = true;
    } else if ((argument == "--from" || argument == "--to") && hasValue && options.command == kRecords) {
      bool const from = argument == "--from";
      (from ? options.records.fromGiven : options.records.toGiven) = true;
      if (!ReadTimeOfDay(argv[++i], from ? options.records.from : options.records.to)) {
        WriteError(std::string("tolvan32-trace: not a time of day (HH:MM[:SS[.ffffff]]): ") + argv[i] + "\n");
        return false;
      }
    } else if ((argument.size() > 1 && argument[0] == '-') || (havePath && MisspeltCommand(options.path))) {
      ArgumentWords const words = {"tolvan32-trace", "", {"--json", "--redact", "--html", "--errors", "--op",
                                   "--table", "--object", "--pid", "--tid", "--slow", "--from", "--to", "--help",
                                   "--version"}, "log", {"summary", "show", "report", "records"}};
      WriteError(UnexpectedArgumentMessage(words, argument, havePath ? options.path : "") +
                 std::string(kUsage, std::strchr(kUsage, '\n') + 1 - kUsage) + "tolvan32-trace --help lists every option.\n");
      return false;
    } else {
      if (!havePath) options.path = std::string(argument);
      options.records.paths.emplace_back(argument);
      havePath = true;
    }
  }
  if (!havePath) {
    WriteError(kUsage);
    return false;
  }
  if (options.command == kRecords) {
    if (options.html.empty()) return true;
    WriteError("tolvan32-trace: --html is for 'report'\n");
    return false;
  }
  if (filtered && options.command != kShow) {
    WriteError("tolvan32-trace: --op, --object, --pid, --tid and --errors select records for 'show'\n");
    return false;
  }
  if (!options.filter.table.empty() && options.command == kReport) {
    WriteError("tolvan32-trace: --table selects records for 'show' and 'summary'; the report is of the whole log\n");
    return false;
  }
  if ((reportOption && options.command != kReport) || (options.json && options.command == kReport)) {
    WriteError("tolvan32-trace: --html and --redact are for 'report', which writes no JSON\n");
    return false;
  }
  if (options.command == kReport && options.html.empty()) {
    std::string_view name = options.path;
    name.remove_prefix(std::min(name.size(), name.find_last_of("\\/:") + 1));
    options.html = name == "-" || name.empty() ? "-" : std::string(name) + ".html";
  }
  return true;
}

// After "show": what the reader of the tree should know about the log.
void ShowFooter(Summary const& summary, Options const& options) {
  std::string text;
  if (summary.badLines) {
    AppendNumber(text, summary.badLines);
    text += " line(s) could not be read, the first at line ";
    AppendNumber(text, summary.badNotes[0].line);
    text += " (\"tolvan32-trace summary\" lists them)\n";
  }
  if ((!options.filter.object.empty() || !options.filter.table.empty()) && !summary.sawAddresses &&
      summary.sawMaskedAddresses) {
    text += "the masked log writes addresses as dots: --object and --table need the plain log C:\\Tolvan32_a.log\n";
  }
  Write(kStandardError, text);
}

bool WriteReport(HtmlReport const& report, Summary const& summary, Options const& options, std::string const& source) {
  std::string page;
  report.Write(page, summary, source);
  if (options.html == "-") {
    Write(kStandardOutput, page);
    return true;
  }
  // stdio rather than a file stream: iostreams would triple the tool's size.
  std::FILE* const file = std::fopen(options.html.c_str(), "wb");
  bool const written = file && std::fwrite(page.data(), 1, page.size(), file) == page.size();
  if (!(file && std::fclose(file) == 0 && written)) {
    WriteError("tolvan32-trace: cannot write " + options.html + ": " + std::strerror(errno) + "\n");
    return false;
  }
  WriteError("report written to " + options.html + "\n");
  return true;
}

}  // namespace

namespace {

int ReadTrace(int argc, char** argv) {
  OperationForms forms;
  if (!BuildOperationForms(forms)) {
    WriteError("tolvan32-trace: the operation table could not be read\n");
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    std::string_view const argument = argv[i];
    if (argument == "--help" || argument == "-h" || argument == "/?") {
      std::string usage = kUsage;
      Write(kStandardOutput, usage);
      return 0;
    }
    if (IsVersionRequest(argument)) {
      PutVersionLine(StandardOutput(), "tolvan32-trace");
      return 0;
    }
  }
  Options options;
  if (!ParseOptions(argc, argv, forms, options)) return 2;
  if (options.command == kRecords) {
    options.records.filter = std::move(options.filter);
    options.records.redact = options.redact;
    return WriteRecords(forms, options.records);
  }

  Summary summary;
  summary.table = options.filter.table;
  summary.timing.slowMicros = uint64_t{options.slowMs} * 1000;
  std::string out;
  bool warned = false;
  bool explained = false;
  HtmlReport report(forms, options.redact);
  CountedEvents* const events = options.command == kReport ? &report : nullptr;
  auto handle = [&](Record const& record) {
    LearnTableObjects(options.filter, forms, record);
    CountRecord(summary, forms, record, TableWanted(options.filter, record), events);
    if (events) report.AddRecord(record);
    if (options.command != kShow || !RecordWanted(options.filter, record)) return;
    if (record.unreliable && !warned) {
      // Once, where the records that cannot be trusted begin.
      std::string const warning = MixingWarning(summary.mixing);
      if (options.json) {
        out += "{\"line\":";
        AppendNumber(out, summary.mixing.line);
        out += ",\"type\":\"mixed\",\"sign\":";
        AppendJsonString(out, summary.mixing.sign);
        out += ",\"text\":";
        AppendJsonString(out, warning);
        out += "}\n";
      } else {
        out += "-------- " + warning;
      }
      warned = true;
    }
    if (options.json) {
      PrintRecordJson(out, forms, record);
    } else {
      if (!explained && ShowsStateItems(forms, record)) {
        out += kStateLegend;
        explained = true;
      }
      PrintRecordTree(out, forms, record);
    }
    if (out.size() >= kOutputPiece) Write(kStandardOutput, out);
  };
  // Each log in turn, each in one pass: a zip's plain logs one after another.
  int failure = 0;
  std::string source;
  for (std::string const& path : options.records.paths) {
    LogFile file;
    if (!file.Open(path)) {
      WriteError("tolvan32-trace: cannot open " + path + ": " + std::strerror(errno) + "\n");
      failure = 2;
      continue;
    }
    std::string name;
    uint64_t logs = 0;
    while (file.NextLog(name)) {
      ++logs;
      StartLog(summary, name, file.Kind());
      // As in the figures: a log without run lines names its objects by address alone.
      for (auto key = options.filter.tableObjects.begin(); key != options.filter.tableObjects.end();) {
        key = key->find(' ') == std::string::npos ? options.filter.tableObjects.erase(key) : std::next(key);
      }
      source += (source.empty() ? "" : " + ") + name;
      if (options.command == kShow && (options.records.paths.size() > 1 || std::strcmp(file.Kind(), "zip") == 0)) {
        if (options.json) {
          out += "{\"type\":\"log\",\"log\":";
          AppendJsonString(out, name);
          out += ",\"first_line\":";
          AppendNumber(out, summary.lines + 1);
          out += "}\n";
        } else {
          out += "======== " + name + ", its lines numbered from ";
          AppendNumber(out, summary.lines + 1);
          out += '\n';
        }
      }
      TraceReader reader(forms, summary, handle);
      if (options.command == kShow) reader.KeepLineOrder();
      bool const read = reader.ReadAll(file.Log());
      EndLog(summary);
      if (!read) break;
    }
    if (!file.Error().empty()) {
      std::string text = "tolvan32-trace: " + file.Error() + "; read up to line ";
      AppendNumber(text, summary.lines);
      WriteError(text + "\n");
      failure = 2;
    } else if (logs == 0) {
      // A zip without a plain log: a --redact bundle holds the report alone.
      std::string text = "tolvan32-trace: " + path + " holds no log to read (the plain logs, *.log but Tolvan32_b*.log)";
      if (!file.Skipped().empty()) {
        text += "; its entries:";
        for (std::string const& entry : file.Skipped()) text += " " + entry;
      }
      WriteError(text + "\n");
      failure = 2;
    }
  }
  if (summary.logCount == 0) return 2;

  if (options.command == kSummary) {
    if (options.json) {
      PrintSummaryJson(out, summary, forms, source);
    } else {
      PrintSummary(out, summary, forms, source);
    }
  }
  if (options.command == kReport && !WriteReport(report, summary, options, source)) return 2;
  Write(kStandardOutput, out);
  if (options.command == kShow) ShowFooter(summary, options);
  if (failure) return failure;
  return summary.badLines ? 1 : 0;
}

}  // namespace

// The reader's memory is bounded by a constant, but a machine may still
// have less to give.
int ToolMain(int argc, char** argv) {
  try {
    return ReadTrace(argc, argv);
  } catch (std::bad_alloc const&) {
    WriteError("tolvan32-trace: out of memory; nothing more was read or written\n");
    return 3;
  }
}

}  // namespace tools
}  // namespace tolvan

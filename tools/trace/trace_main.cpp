// tolvan32-trace: reads a trace log of the module and prints its figures
// ("summary") or its records ("show"), for people or, with --json, for other
// tools. The log is read once from start to end; memory is bounded by what
// the figures must remember, not by the length of the log.
#include <string>
#include <string_view>

#include "tools/common/tool_output.h"
#include "tools/common/tool_platform.h"
#include "tools/trace/trace_input.h"
#include "tools/trace/trace_print.h"
#include "tools/trace/trace_summary.h"

namespace tolvan {
namespace tools {

namespace {

size_t const kOutputPiece = 1 << 16;

enum Command { kSummary, kShow };

struct Options {
  Command command = kSummary;
  bool json = false;
  std::string path;
  RecordFilter filter;
};

void Write(StandardHandle handle, std::string& text) {
  if (!text.empty()) WriteStandard(handle, text.data(), text.size());
  text.clear();
}

void WriteError(std::string text) { Write(kStandardError, text); }

char const kUsage[] =
    "usage: tolvan32-trace [summary|show] [options] LOG\n"
    "  summary           the figures of the whole log (the default)\n"
    "  show              the records as an indented tree: each call with its result,\n"
    "                    and the calls the module made for it beneath it\n"
    "  --op NAME         show only records with this operation: Method, Class::Method,\n"
    "                    the signature text or the decorated name (may be repeated)\n"
    "  --object ADDRESS  show only records on this object (the plain log's addresses)\n"
    "  --errors          show only module errors, unreadable lines and calls without result\n"
    "  --json            summary: one JSON object; show: one JSON object per record and line\n"
    "  LOG               C:\\Tolvan32_a.log (plain), C:\\Tolvan32_b.log (masked), or - for input\n"
    "Exit status: 0 the whole log was read, 1 some lines could not be read, 2 usage or file error.\n";

bool ParseOptions(int argc, char** argv, OperationForms const& forms, Options& options) {
  int first = 1;
  if (first < argc && std::string_view(argv[first]) == "summary") {
    ++first;
  } else if (first < argc && std::string_view(argv[first]) == "show") {
    options.command = kShow;
    ++first;
  }
  bool filtered = false;
  bool havePath = false;
  for (int i = first; i < argc; ++i) {
    std::string_view const argument = argv[i];
    bool const hasValue = i + 1 < argc;
    if (argument == "--json") {
      options.json = true;
    } else if (argument == "--errors") {
      options.filter.problemsOnly = true;
      filtered = true;
    } else if (argument == "--op" && hasValue) {
      if (!AddOperationFilter(options.filter, forms, argv[++i])) {
        WriteError(std::string("tolvan32-trace: no operation is named ") + argv[i] + "\n");
        return false;
      }
      filtered = true;
    } else if (argument == "--object" && hasValue) {
      if (!SetObjectFilter(options.filter, argv[++i])) {
        WriteError(std::string("tolvan32-trace: not an address: ") + argv[i] + "\n");
        return false;
      }
      filtered = true;
    } else if ((argument.size() > 1 && argument[0] == '-') || havePath) {
      WriteError(kUsage);
      return false;
    } else {
      options.path = std::string(argument);
      havePath = true;
    }
  }
  if (!havePath) {
    WriteError(kUsage);
    return false;
  }
  if (filtered && options.command != kShow) {
    WriteError("tolvan32-trace: --op, --object and --errors select records for 'show'\n");
    return false;
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
  if (!options.filter.object.empty() && !summary.sawAddresses && summary.sawMaskedAddresses) {
    text += "the masked log writes addresses as dots: --object needs the plain log C:\\Tolvan32_a.log\n";
  }
  Write(kStandardError, text);
}

}  // namespace

int ToolMain(int argc, char** argv) {
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

  int const handle = OpenInput(options.path.c_str());
  if (handle < 0) {
    WriteError("tolvan32-trace: cannot open " + options.path + "\n");
    return 2;
  }
  Summary summary;
  std::string out;
  RecordAssembler assembler(forms, [&](Record const& record) {
    CountRecord(summary, forms, record);
    if (options.command != kShow || !RecordWanted(options.filter, record)) return;
    if (options.json) {
      PrintRecordJson(out, forms, record);
    } else {
      PrintRecordTree(out, forms, record);
    }
    if (out.size() >= kOutputPiece) Write(kStandardOutput, out);
  });
  LineReader reader(
      [&](uint64_t number, std::string_view text, LineEnding ending) { assembler.AddLine(number, text, ending); });
  bool const read = reader.ReadAll(handle);
  assembler.Finish();
  CloseInput(handle);
  summary.lines = reader.lines();
  summary.bytes = reader.bytes();

  if (options.command == kSummary) {
    if (options.json) {
      PrintSummaryJson(out, summary, forms, options.path);
    } else {
      PrintSummary(out, summary, forms, options.path);
    }
  }
  Write(kStandardOutput, out);
  if (options.command == kShow) ShowFooter(summary, options);
  if (!read) {
    std::string text = "tolvan32-trace: reading " + options.path + " failed after line ";
    AppendNumber(text, reader.lines());
    WriteError(text + "\n");
    return 2;
  }
  return summary.badLines ? 1 : 0;
}

}  // namespace tools
}  // namespace tolvan

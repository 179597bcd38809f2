// tolvan32-trace: reads a trace log of the module and prints its figures
// ("summary") or its records ("show"), for people or, with --json, for other
// tools. The log is read once from start to end, in constant memory.
#include "tools/common/tool_crt.h"
#include "tools/common/tool_output.h"
#include "tools/common/tool_platform.h"
#include "tools/trace/trace_input.h"
#include "tools/trace/trace_print.h"
#include "tools/trace/trace_summary.h"

namespace tolvan {
namespace tools {

namespace {

enum Command { kSummary, kShow };

struct Options {
  Command command;
  bool json;
  char const* path;
  RecordFilter filter;
};

// Large, and needed once: kept out of the stack.
OperationForms g_forms;
Assembler g_assembler;
LineReader g_reader;
Summary g_summary;
Options g_options;

void Usage(Output& out) {
  Put(out,
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
      "Exit status: 0 the whole log was read, 1 some lines could not be read, 2 usage or file error.\n");
}

bool ParseOptions(int argc, char** argv, Options& options) {
  Output& err = StandardError();
  ClearFilter(options.filter);
  options.command = kSummary;
  int first = 1;
  if (first < argc && strcmp(argv[first], "summary") == 0) {
    ++first;
  } else if (first < argc && strcmp(argv[first], "show") == 0) {
    options.command = kShow;
    ++first;
  }
  bool filtered = false;
  for (int i = first; i < argc; ++i) {
    char const* argument = argv[i];
    bool const hasValue = i + 1 < argc;
    if (strcmp(argument, "--json") == 0) {
      options.json = true;
    } else if (strcmp(argument, "--errors") == 0) {
      options.filter.problemsOnly = true;
      filtered = true;
    } else if (strcmp(argument, "--op") == 0 && hasValue) {
      if (!AddOperationFilter(options.filter, g_forms, argv[++i])) {
        Put(err, "tolvan32-trace: no operation is named ");
        Put(err, argv[i]);
        Put(err, "\n");
        return false;
      }
      filtered = true;
    } else if (strcmp(argument, "--object") == 0 && hasValue) {
      if (!SetObjectFilter(options.filter, argv[++i])) {
        Put(err, "tolvan32-trace: not an address: ");
        Put(err, argv[i]);
        Put(err, "\n");
        return false;
      }
      filtered = true;
    } else if ((argument[0] == '-' && argument[1] != '\0') || options.path) {
      Usage(err);
      return false;
    } else {
      options.path = argument;
    }
  }
  if (!options.path) {
    Usage(err);
    return false;
  }
  if (filtered && options.command != kShow) {
    Put(err, "tolvan32-trace: --op, --object and --errors select records for 'show'\n");
    return false;
  }
  return true;
}

void HandleRecord(void*, Record const& record) {
  CountRecord(g_summary, g_forms, record);
  if (g_options.command != kShow || !RecordWanted(g_options.filter, record)) return;
  if (g_options.json) {
    PrintRecordJson(StandardOutput(), g_forms, record);
  } else {
    PrintRecordTree(StandardOutput(), g_forms, record);
  }
}

// After "show": what the reader of the tree should know about the log.
void ShowFooter(Output& err) {
  if (g_summary.badLines) {
    PutNumber(err, g_summary.badLines);
    Put(err, " line(s) could not be read, the first at line ");
    PutNumber(err, g_summary.badNotes[0].line);
    Put(err, " (\"tolvan32-trace summary\" lists them)\n");
  }
  if (g_options.filter.object[0] && !g_summary.sawAddresses && g_summary.sawMaskedAddresses) {
    Put(err, "the masked log writes addresses as dots: --object needs the plain log C:\\Tolvan32_a.log\n");
  }
}

}  // namespace

int ToolMain(int argc, char** argv) {
  Output& err = StandardError();
  if (!BuildOperationForms(g_forms)) {
    Put(err, "tolvan32-trace: the operation table could not be read\n");
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "/?") == 0) {
      Usage(StandardOutput());
      return 0;
    }
  }
  if (!ParseOptions(argc, argv, g_options)) return 2;

  int const handle = OpenInput(g_options.path);
  if (handle < 0) {
    Put(err, "tolvan32-trace: cannot open ");
    Put(err, g_options.path);
    Put(err, "\n");
    return 2;
  }
  ResetSummary(g_summary);
  StartAssembly(g_assembler, g_forms, &HandleRecord, nullptr);
  bool const read = ReadTrace(handle, g_reader, g_assembler);
  FinishAssembly(g_assembler);
  CloseInput(handle);
  g_summary.lines = g_reader.lines;
  g_summary.bytes = g_reader.bytes;

  if (g_options.command == kSummary) {
    if (g_options.json) {
      PrintSummaryJson(StandardOutput(), g_summary, g_forms, g_options.path);
    } else {
      PrintSummary(StandardOutput(), g_summary, g_forms, g_options.path);
    }
  } else {
    Flush(StandardOutput());
    ShowFooter(err);
  }
  if (!read) {
    Put(err, "tolvan32-trace: reading ");
    Put(err, g_options.path);
    Put(err, " failed after line ");
    PutNumber(err, g_reader.lines);
    Put(err, "\n");
    return 2;
  }
  return g_summary.badLines ? 1 : 0;
}

}  // namespace tools
}  // namespace tolvan

#include "tools/trace/trace_report_html.h"

#include <algorithm>

#include "tools/trace/trace_line.h"
#include "tools/trace/trace_outcome.h"
#include "tools/trace/trace_print.h"

namespace tolvan {
namespace tools {

namespace {

size_t const kShownErrors = 50;         // with the records before them; the rest by line number
size_t const kListedErrorLines = 200;   // line numbers after those
size_t const kListedBadLines = 20;
size_t const kListedRuns = 10;
uint64_t const kListedOpenCalls = 50;
size_t const kPolicyTables = 40;        // rows of the policy table
size_t const kMaxHoldMarks = 2000;      // bands and ticks on the timeline
size_t const kChartBars = 20;           // then one bar for the rest
int const kChartWidth = 960;
int const kBarHeight = 18;
int const kLaneHeight = 34;
int const kLaneLabel = 150;

// Every figure on the page carries the path of the same figure in
// "summary --json": members by name, array elements by index or by
// member=value, separated by "/".
void Figure(std::string& out, std::string_view key, uint64_t value) {
  out += "<span class=\"n\" data-key=\"";
  out += key;
  out += "\">";
  AppendNumber(out, value);
  out += "</span>";
}

std::string Number(uint64_t value) {
  std::string text;
  AppendNumber(text, value);
  return text;
}

using PairingFigure = uint64_t (*)(PairingFigures const&);

// A figure with its label, in a list of terms. A figure that rests on
// pairing is read from the records before any sign of mixing; those after it
// follow, marked unreliable, as in summary --json.
struct Fact {
  char const* label;
  std::string key;
  uint64_t value;
  PairingFigure pairing = nullptr;
};

template <size_t N>
void PutFacts(std::string& out, Fact const (&facts)[N], Summary const& summary) {
  for (Fact const& fact : facts) {
    out += "<dt>";
    out += fact.label;
    out += "</dt><dd>";
    Figure(out, fact.key, fact.pairing ? fact.pairing(summary.paired) : fact.value);
    if (fact.pairing && summary.mixing.line) {
      out += " <span class=\"unrel\">[+";
      Figure(out, "unreliable_after_mixing/" + fact.key, fact.pairing(summary.unreliable));
      out += " unreliable after line " + Number(summary.mixing.line) + "]</span>";
    }
    out += "</dd>";
  }
}

std::string Key(std::string_view a, std::string_view b = {}, std::string_view c = {}) {
  std::string key(a);
  for (std::string_view part : {b, c}) {
    if (part.empty()) continue;
    key += '/';
    key += part;
  }
  return key;
}

// The length of the UTF-8 sequence at the start of `text`, 0 if none is.
size_t Utf8Sequence(std::string_view text) {
  unsigned char const lead = static_cast<unsigned char>(text[0]);
  size_t const length = lead >= 0xf0 && lead <= 0xf4 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 && lead < 0xe0 ? 2 : 0;
  if (length == 0 || lead > 0xf4 || text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xc0) != 0x80) return 0;
  }
  return length;
}

// Bytes of the host's code page taken as Latin-1, control characters shown;
// cut after `limit` bytes. With `utf8`, valid UTF-8 sequences stay as they
// are (a path given on this machine's command line).
void AppendHtml(std::string& out, std::string_view text, size_t limit = kShownText, bool utf8 = false) {
  std::string_view const shown = text.substr(0, limit);
  for (size_t i = 0; i < shown.size(); ++i) {
    char const byte = shown[i];
    size_t const sequence = utf8 && static_cast<unsigned char>(byte) >= 0x80 ? Utf8Sequence(shown.substr(i)) : 0;
    if (sequence) {
      out.append(shown.substr(i, sequence));
      i += sequence - 1;
      continue;
    }
    unsigned char const c = static_cast<unsigned char>(byte);
    switch (byte) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += "\\x";
          out += "0123456789abcdef"[c >> 4];
          out += "0123456789abcdef"[c & 15];
        } else if (c >= 0x80) {
          out += "&#";
          AppendNumber(out, c);
          out += ';';
        } else {
          out += byte;
        }
    }
  }
  if (text.size() > limit) {
    out += "&hellip;";
    AppendCutSize(out, text.size());
  }
}

void AppendHtml(std::string& out, KeptText const& text) {
  AppendHtml(out, text.text, kWholeText);
  if (!text.cut()) return;
  out += "&hellip;";
  AppendCutSize(out, text.size);
}

// The program's own text: whole, its lines run together.
void AppendHtmlParagraph(std::string& out, std::string_view text) {
  while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  for (size_t start = 0; start <= text.size();) {
    size_t const end = std::min(text.find('\n', start), text.size());
    if (start) out += ' ';
    AppendHtml(out, text.substr(start, end - start), kWholeText);
    start = end + 1;
  }
}

// The module's own texts of its numbered errors: the page shows these, not
// the log's bytes, when it is redacted.
char const* KnownErrorText(int number) {
  switch (number) {
    case 1: return "(Library \" Tolvan33.dll \" not found)";
    case 2: return "(Entry in library not found)";
    case 3: return "(Memory alloc was failed)";
    case 65: return "(Insufficient memory available)";
    default: return "(?)";
  }
}

// The error line as the log has it, or as the module writes it when redacted.
template <typename Text>
void AppendErrorText(std::string& out, int number, Text const& text, bool redact) {
  if (!redact) return AppendHtml(out, text);
  out += "*** Error *** #" + ErrorNumberText(number) + ' ' + KnownErrorText(number);
}

// A result a redacted page may show: a small status number, never a value.
bool IsStatusResult(OperationForm const& form, std::string_view result) {
  if (form.result != kIntegerResult) return false;
  if (result.size() == 2 && result[0] == '-') result.remove_prefix(1);
  return result.size() == 1 && result[0] >= '0' && result[0] <= '9';
}

char const* const kEventNames[kCountedEventKinds] = {
    "module error", "escalation", "refused escalation", "forced shared reopen", "failed reopen"};
char const* const kEventClasses[kCountedEventKinds] = {"e-err", "e-esc", "e-ref", "e-reo", "e-fail"};

// A bar of `value`; its first `module` of them (the module's own calls)
// drawn lighter, their figure after the whole.
void Bar(std::string& out, int row, std::string_view label, std::string_view title, uint64_t value,
         uint64_t most, std::string_view key, uint64_t module = 0, std::string_view moduleKey = {}) {
  int const labelWidth = 330;
  int const y = row * (kBarHeight + 4);
  int const width = most ? static_cast<int>((kChartWidth - labelWidth - 160) * value / most) : 0;
  int const moduleWidth = value ? static_cast<int>(static_cast<uint64_t>(width) * module / value) : 0;
  out += "<g><title>";
  AppendHtml(out, title);
  out += "</title><text x=\"" + Number(labelWidth - 6) + "\" y=\"" + Number(y + 13) + "\" class=\"lab\">";
  AppendHtml(out, label);
  out += "</text><rect x=\"" + Number(labelWidth) + "\" y=\"" + Number(y) + "\" width=\"" + Number(std::max(width, 1)) +
         "\" height=\"" + Number(kBarHeight) + "\" class=\"bar\"/>";
  if (moduleWidth) {
    out += "<rect x=\"" + Number(labelWidth + width - moduleWidth) + "\" y=\"" + Number(y) + "\" width=\"" +
           Number(moduleWidth) + "\" height=\"" + Number(kBarHeight) + "\" class=\"mod\"/>";
  }
  out += "<text x=\"" + Number(labelWidth + width + 6) + "\" y=\"" + Number(y + 13) + "\"";
  if (!key.empty()) {
    out += " data-key=\"";
    out += key;
    out += '"';
  }
  out += '>';
  AppendNumber(out, value);
  out += "</text>";
  if (!moduleKey.empty()) {
    out += "<text x=\"" + Number(labelWidth + width + 70) + "\" y=\"" + Number(y + 13) + "\" class=\"note\">(module <tspan data-key=\"";
    out += moduleKey;
    out += "\">";
    AppendNumber(out, module);
    out += "</tspan>)</text>";
  }
  out += "</g>";
}

void OpenChart(std::string& out, char const* heading, size_t bars) {
  out += "<h3>";
  out += heading;
  out += "</h3><svg class=\"chart\" viewBox=\"0 0 " + Number(kChartWidth) + " " + Number(bars * (kBarHeight + 4)) +
         "\" width=\"" + Number(kChartWidth) + "\" role=\"img\">";
}

char const kStyle[] =
    "body{font:14px/1.4 system-ui,sans-serif;color:#222;margin:24px auto;max-width:1000px;padding:0 12px}"
    "h1{font-size:22px;margin:0 0 4px}h2{font-size:18px;border-bottom:2px solid #ccd;margin:28px 0 8px}"
    "h3{font-size:15px;margin:16px 0 6px}.src{color:#555;margin:0 0 12px}"
    "dl.facts{display:grid;grid-template-columns:max-content 1fr;gap:2px 16px;margin:0}"
    "dt{color:#555}dd{margin:0}.n{font-variant-numeric:tabular-nums}"
    ".warn{background:#fff3cd;border:1px solid #e0b000;padding:8px 12px;margin:12px 0}"
    ".ok{color:#2a7a2a}.bad{color:#b00020;font-weight:600}"
    "table{border-collapse:collapse;font-variant-numeric:tabular-nums}"
    "th,td{border:1px solid #ccd;padding:3px 8px;text-align:right}th{background:#eef;cursor:pointer}"
    "td:first-child,th:first-child{text-align:left}"
    ".err{border-left:4px solid #b00020;margin:10px 0;padding:2px 8px;break-inside:avoid}"
    ".err h3{margin:4px 0}pre{margin:0;font:12px/1.35 ui-monospace,monospace;white-space:pre-wrap;"
    "word-break:break-all}pre .hit{background:#fde2e4;font-weight:600}pre .ctx{color:#666}"
    "svg text{font:11px system-ui,sans-serif;fill:#222}svg .lab{text-anchor:end}.bar{fill:#4a6fa5}.mod{fill:#a9bedf}"
    ".act{fill:#4a6fa5;background:#4a6fa5}.e-err{fill:#b00020;background:#b00020}"
    ".e-esc{fill:#1f77b4;background:#1f77b4}.e-ref{fill:#9400d3;background:#9400d3}"
    ".e-reo{fill:#ff7f0e;background:#ff7f0e}.e-fail{fill:#000;background:#000}.unrel{color:#b06000;font-size:12px}.legend span{display:inline-block;margin-right:14px}.legend i{display:inline-block;"
    "width:10px;height:10px;margin-right:4px}.note{color:#555;font-size:12px}"
    ".hold{fill:#888;background:#888;opacity:.35}.contended{fill:#d00000;background:#d00000}"
    "@media print{body{margin:0;max-width:none;font-size:11px}h2{break-after:avoid}"
    "svg{max-width:100%;height:auto}*{-webkit-print-color-adjust:exact;print-color-adjust:exact}}";

// Sorts the policy table by a clicked heading, and tells a checker that the
// script ran (and which error, if one stopped it).
char const kScript[] =
    "(function(){var d=document.documentElement;"
    "window.addEventListener('error',function(e){d.setAttribute('data-script-error',String(e.message))});"
    "var t=document.getElementById('policy-table');"
    "if(t){var hs=t.tHead.rows[0].cells;for(var i=0;i<hs.length;i++){hs[i].addEventListener('click',"
    "(function(c){return function(){var b=t.tBodies[0],r=[].slice.call(b.rows);r.sort(function(x,y){"
    "var p=x.cells[c].textContent,q=y.cells[c].textContent;return c?(+q)-(+p):p.localeCompare(q)});"
    "r.forEach(function(x){b.appendChild(x)})}})(i))}}"
    "d.setAttribute('data-script','ran')})();";

}  // namespace

HtmlReport::HtmlReport(OperationForms const& forms, bool redact) : forms_(forms), redact_(redact) {}

// One lane per process and thread; a log without ids has the one lane "".
HtmlReport::Lane& HtmlReport::LaneOf(Record const& record) {
  LineIds const& ids = record.stream.ids;
  std::string const writer = ids.present ? Number(ids.process) + ":" + Number(ids.thread) : std::string();
  for (Lane& lane : lanes_) {
    if (lane.writer == writer) return lane;
  }
  if (lanes_.size() == kMaxLanes) {
    lanes_.back().shared = true;  // the last lane takes all further writers
    return lanes_.back();
  }
  lanes_.emplace_back();
  lanes_.back().writer = std::string(writer);
  lanes_.back().run = record.stream.run;
  lanes_.back().process = ids.process;
  return lanes_.back();
}

// Along the timeline: the time in a timed log, from its first record's (a
// record without one stays where the last was); the line number otherwise.
void HtmlReport::Place(uint64_t line, Record const& record, size_t slot) {
  int64_t const time = record.nodes.empty() ? -1 : record.nodes[0].time;
  if (!decided_) {
    decided_ = true;
    timed_ = time >= 0;
    origin_ = std::max<int64_t>(time, 0);
  }
  uint64_t const position = !timed_ ? line : time < 0 ? lastPosition_ : static_cast<uint64_t>(std::max<int64_t>(time - origin_, 0));
  lastPosition_ = std::max(lastPosition_, position);
  while (position >= binWidth_ * kBins) {
    for (Lane& lane : lanes_) {
      for (size_t i = 0; i < kBins; ++i) {
        Bin folded = {};
        for (size_t k = 0; k < folded.size(); ++k) {
          folded[k] = i * 2 < kBins ? lane.bins[i * 2][k] + lane.bins[i * 2 + 1][k] : 0;
        }
        lane.bins[i] = folded;
      }
    }
    binWidth_ *= 2;
  }
  ++LaneOf(record).bins[position / binWidth_][slot];
}

void HtmlReport::Counted(CountedEvent event, uint64_t line, Record const& record) {
  Place(line, record, event);
  if (event != kErrorEvent) return;
  if (shownErrors_ == kShownErrors || record.nodes.empty()) return;
  ++shownErrors_;
  Record const* const oldest =
      recentCount_ ? &recent_[(recentNext_ + kContextRecords - recentCount_) % kContextRecords] : &record;
  if (errorBlocks_.empty() || errorBlocks_.back().lastRecord < oldest->nodes[0].line) {
    errorBlocks_.push_back({line, line, 0, {}});
  }
  ErrorBlock& block = errorBlocks_.back();
  block.lastError = line;
  if (block.lastRecord == record.nodes[0].line) return;  // a second error of a record already shown
  for (size_t i = 0; i < recentCount_; ++i) {
    Record const& recent = recent_[(recentNext_ + kContextRecords - recentCount_ + i) % kContextRecords];
    if (recent.nodes[0].line > block.lastRecord) RenderRecord(block.html, recent, false);
  }
  RenderRecord(block.html, record, true);
  block.lastRecord = record.nodes[0].line;
}

void HtmlReport::AddRecord(Record const& record) {
  if (record.nodes.empty()) return;
  Place(record.nodes[0].line, record, kCountedEventKinds);
  Record& slot = recent_[recentNext_];
  slot.nodes.assign(record.nodes.begin(), record.nodes.end());
  slot.text.assign(record.text);
  recentNext_ = (recentNext_ + 1) % kContextRecords;
  recentCount_ = std::min(recentCount_ + 1, kContextRecords);
}

// One line per node, as "show" nests them; the error's own line marked.
void HtmlReport::RenderRecord(std::string& out, Record const& record, bool withError) const {
  for (size_t i = 0; i < record.nodes.size(); ++i) {
    Node const& node = record.nodes[i];
    int depth = 0;
    for (int p = node.parent; p >= 0; p = record.nodes[p].parent) ++depth;
    out += !withError ? "<span class=\"ctx\">" : node.kind == kErrorNode ? "<span class=\"hit\">" : "<span>";
    AppendPadded(out, node.line, 8);
    out.append(2 + 2 * depth, ' ');
    if (node.kind == kErrorNode) {
      AppendErrorText(out, node.errorNumber, record.TextOf(node.text), redact_);
    } else if (node.kind == kBeforeStartNode) {
      out += "(a call made before the log's first line)  => ";
      AppendHtml(out, redact_ ? std::string_view("[value]") : record.TextOf(node.result));
      out += "  [result line " + Number(node.resultLine) + "]";
    } else if (node.kind == kMarkNode) {
      std::string_view const trigger = record.TextOf(node.text);
      if (trigger.empty()) {
        out += "*** Recorder end ***";
      } else {
        out += "*** Recorder *** ";
        AppendHtml(out, redact_ && !IsRecorderTrigger(trigger) ? std::string_view("[trigger]") : trigger);
        out += ' ' + Number(node.recordedLines);
      }
    } else if (node.kind == kBadNode) {
      out += "(a line that could not be read: ";
      AppendHtml(out, node.problem);
      out += ')';
      if (!redact_) {
        out += ' ';
        AppendHtml(out, record.TextOf(node.text));
      }
    } else {
      OperationForm const& form = forms_.forms[node.op];
      std::string_view const object = record.TextOf(node.object);
      std::string_view const arguments = record.TextOf(node.arguments);
      AppendHtml(out, redact_ && !IsMaskedPointer(object) ? std::string_view("[object]") : object);
      out += ' ';
      AppendHtml(out, form.signature);
      if (!arguments.empty()) {
        out += ' ';
        AppendHtml(out, redact_ ? std::string_view("[values]") : arguments);
      }
      if (node.status == kCompleted) {
        std::string_view const result = redact_ ? ResultItemOf(forms_, record, node) : record.TextOf(node.result);
        out += "  => ";
        AppendHtml(out, !redact_ || IsStatusResult(form, result) ? result : std::string_view("[value]"));
      } else if (node.status == kWithoutResult) {
        out += "  => (no result line)";
      } else if (node.status == kNotPerformed) {
        out += "  (not performed: entry missing)";
      }
      char const* const note = OutcomeNote(OutcomeOf(forms_, record, static_cast<int>(i)));
      if (*note) {
        out += "  [";
        out += note;
        out += ']';
      }
    }
    out += "</span>\n";
  }
}

void HtmlReport::WriteHeader(std::string& out, Summary const& summary, std::string_view source) const {
  out += "<header><h1>Tolvan32 trace report</h1><p class=\"src\">";
  if (redact_) {
    size_t const slash = source.find_last_of("\\/:");
    AppendHtml(out, slash == std::string_view::npos ? source : source.substr(slash + 1), kWholeText, true);
    out += " &mdash; <b>redacted</b>: field values, texts, paths and addresses are masked";
  } else {
    AppendHtml(out, source, kWholeText, true);
  }
  out += "</p>";
  WriteLogs(out, summary);
  out += "<dl class=\"facts\">";
  WriteRuns(out, summary);
  Fact const facts[] = {
      {"Size (bytes)", "bytes", summary.bytes},
      {"Lines", "lines", summary.lines},
      {"Calls", "calls", summary.calls},
      {"&nbsp;&nbsp;made by the module's policy", "calls_by_module", 0,
       [](PairingFigures const& f) { return f.callsByModule; }},
      {"Module error lines", "error_lines", summary.errorLines},
      {"Unreadable lines", "bad_lines", summary.badLines},
      {"Calls without result line", "calls_without_result", 0, [](PairingFigures const& f) { return f.withoutResult; }},
      {"Calls not performed (entry missing)", "calls_not_performed", 0,
       [](PairingFigures const& f) { return f.notPerformed; }},
  };
  PutFacts(out, facts, summary);
  out += "</dl>";
  if (summary.resultsBeforeStart) {
    out += summary.recorder.blocks ? "<div class=\"warn\"><b>Calls begun before a block.</b> "
                                   : "<div class=\"warn\"><b>Begins mid-run.</b> ";
    AppendHtmlParagraph(out, MidRunNote(summary));
    out += "</div>";
  }
  if (summary.mixing.line) {
    out += "<div class=\"warn\"><b>Several writers.</b> ";
    AppendHtmlParagraph(out, MixingWarning(summary.mixing));
    out += "</div>";
  }
  out += "</header>";
}

// Several logs: which lines are whose, and why holds and contention stay
// within one computer. A redacted page names the logs by their file names
// and no computer.
void HtmlReport::WriteLogs(std::string& out, Summary const& summary) const {
  if (summary.logCount < 2) return;
  out += "<div class=\"warn\" id=\"logs\"><b>" + Number(summary.logCount) +
         " logs</b>, their lines numbered on through them:<ol>";
  for (LogInfo const& log : summary.logs) {
    out += "<li>lines " + Number(log.firstLine) + "&ndash;" + Number(log.firstLine + log.lines - (log.lines ? 1 : 0)) +
           ": ";
    std::string_view name = log.name;
    if (redact_) name.remove_prefix(std::min(name.size(), name.find_last_of("\\/") + 1));
    AppendHtml(out, name, kWholeText, true);
    if (*log.kind) out += std::string(" (") + log.kind + ")";
    out += "</li>";
  }
  out += "</ol>";
  AppendHtmlParagraph(out, redact_ ? std::string("Holds and contention are computed within one computer: the clocks of "
                                                 "different computers are not compared.")
                                   : ComputersNote(summary));
  out += "</div>";
}

// The runs as their run lines name them; a redacted page leaves out the
// host's and the engine's paths.
// host's and the engine's paths, the process ids and the dates: a run is
// "run N" there.
void HtmlReport::WriteRuns(std::string& out, Summary const& summary) const {
  out += "<dt>Runs</dt><dd>";
  if (summary.runs.empty()) out += "the log has no run lines (Tolvan32_TraceIds=1 writes them)";
  out += "</dd>";
  for (size_t i = 0; i < summary.runs.size() && i < kListedRuns; ++i) {
    RunInfo const& run = summary.runs[i];
    out += "<dt>&nbsp;&nbsp;run " + Number(i + 1) + "</dt><dd>";
    if (!redact_) {
      AppendHtml(out, run.date);
      out += ' ';
      AppendHtml(out, run.time);
      out += ", process " + Number(run.process) + ", ";
    }
    out += "Tolvan32 ";
    AppendHtml(out, run.version);
    out += run.line ? ", line " + Number(run.line) : std::string(", before the log's first line");
    out += "<br><span class=\"note\">";
    for (KeptText const& option : run.options) {
      AppendHtml(out, option);
      out += ' ';
    }
    if (run.optionCount > run.options.size()) out += "&hellip; ";
    if (!redact_ && !run.computer.empty()) {
      out += "Computer ";
      AppendHtml(out, run.computer);
      out += " User ";
      AppendHtml(out, run.user);
      out += ' ';
    }
    if (!redact_) {
      out += "Host ";
      AppendHtml(out, run.host);
    }
    out += "<br>";
    if (run.engineLine) {
      out += "engine ";
      AppendHtml(out, run.engineVersion);
      if (!redact_) {
        out += ' ';
        AppendHtml(out, run.enginePath);
      }
    } else {
      out += "no engine loaded";
    }
    out += "</span></dd>";
  }
  if (summary.runCount > kListedRuns) {
    out += "<dt></dt><dd>... and " + Number(summary.runCount - kListedRuns) + " more runs</dd>";
  }
  if (!summary.runs.empty() && !redact_) {
    RunInfo const& first = summary.runs.front();
    RunInfo const& last = summary.runs.back();
    out += "<dt>Time span</dt><dd>runs started from ";
    AppendHtml(out, first.date);
    out += ' ';
    AppendHtml(out, first.time);
    out += " to ";
    AppendHtml(out, last.date);
    out += ' ';
    AppendHtml(out, last.time);
    out += "</dd>";
  }
}

// The calls left without result: an engine exception passed on to the
// host, a process that ended, or the log cut.
void HtmlReport::WriteWithoutResult(std::string& out, Summary const& summary) const {
  PairingFigures const& paired = summary.paired;
  if (!paired.withoutResult) return;
  out += "<h3>Calls without their result line: ";
  Figure(out, "calls_without_result", paired.withoutResult);
  out += "</h3><table id=\"without-result\"><thead><tr><th>Line</th><th>Time</th><th>Operation</th><th>Object</th>"
         "<th>Writer</th><th>Why without result</th></tr></thead><tbody>";
  for (size_t i = 0; i < paired.openCalls.size() && i < kListedOpenCalls; ++i) {
    OpenCall const& call = paired.openCalls[i];
    out += "<tr><td>";
    Figure(out, Key("without_result", Number(i), "line"), call.line);
    out += "</td><td>";
    if (call.time >= 0) AppendHtml(out, TimeText(call.time, {}));
    out += "</td><td>";
    AppendHtml(out, forms_.forms[call.op].signature);
    out += "</td><td>";
    AppendHtml(out, redact_ && !IsMaskedPointer(call.object) ? std::string_view("[object]") : call.object);
    out += "</td><td>";
    if (call.run >= 0) out += "run " + Number(static_cast<uint64_t>(call.run) + 1);
    if (call.ids.present && !redact_) {
      out += (call.run >= 0 ? ", process " : "process ") + Number(call.ids.process) + " thread " +
             Number(call.ids.thread);
    }
    out += !call.endedWithLog          ? "</td><td>left by an exception (its thread went on)</td></tr>"
           : summary.recorder.blocks
               ? "</td><td>no result line in its recorder block (still running, or left by an engine exception)</td></tr>"
                                     : "</td><td>still running when the log ends (no later line of its thread)</td></tr>";
  }
  out += "</tbody></table>";
  if (paired.withoutResult > kListedOpenCalls) {
    out += "<p class=\"note\">... and " + Number(paired.withoutResult - std::min(paired.withoutResult, kListedOpenCalls)) +
           " more (summary lists them).</p>";
  }
}

// Which run (and, unredacted, which process) a table object belongs to.
void HtmlReport::WriteTableOrigin(std::string& out, Summary const& summary, TableTally const& table) const {
  if (table.run < 0) return;
  out += ", run " + Number(static_cast<uint64_t>(table.run) + 1);
  if (!redact_ && static_cast<size_t>(table.run) < summary.runs.size()) {
    out += ", process " + Number(summary.runs[table.run].process);
  }
}

// Like the errors: each block with its trigger, the first ones by line.
void HtmlReport::WriteRecorder(std::string& out, Summary const& summary) const {
  RecorderFigures const& recorder = summary.recorder;
  if (!recorder.blocks) return;
  out += "<section id=\"recorder\"><h2>Recorder blocks</h2><div class=\"warn\"><b>Recorder log.</b> ";
  AppendHtmlParagraph(out, RecorderNote(summary));
  out += "</div>";
  auto shown = [&](KeptText const& trigger) {
    return redact_ && !IsRecorderTrigger(trigger.text) ? std::string_view("[trigger]") : std::string_view(trigger.text);
  };
  for (size_t i = 0; i < recorder.byTrigger.size(); ++i) {
    out += "<p class=\"bad\">";
    Figure(out, Key("recorder_triggers", Number(i), "blocks"), recorder.byTrigger[i].second);
    out += " &times; ";
    AppendHtml(out, shown(recorder.byTrigger[i].first));
    out += "</p>";
  }
  out += "<table><tr><th>Line</th><th>Trigger</th><th>Process</th><th>Recorded</th><th>Lines in the log</th>"
         "<th>End mark</th></tr>";
  size_t const listed = std::min(recorder.kept.size(), kShownErrors);
  for (size_t i = 0; i < listed; ++i) {
    RecorderBlock const& block = recorder.kept[i];
    std::string const row = Key("recorder_blocks", Number(i));
    out += "<tr><td>";
    Figure(out, Key(row, "line"), block.line);
    out += "</td><td>";
    AppendHtml(out, shown(block.trigger));
    out += "</td><td>";
    if (redact_) {
      out += "a process";
    } else {
      Figure(out, Key(row, "pid"), block.process);
    }
    out += "</td><td>";
    Figure(out, Key(row, "recorded"), block.recorded);
    out += "</td><td>";
    Figure(out, Key(row, "lines"), block.lines);
    out += block.ended ? "</td><td>yes</td></tr>" : "</td><td>none: the process ended, or the log was cut</td></tr>";
  }
  out += "</table>";
  if (recorder.blocks > listed) {
    out += "<p>and " + Number(recorder.blocks - listed) + " more blocks (summary --json lists the first " +
           Number(kKeptLines) + ").</p>";
  }
  out += "</section>";
}

void HtmlReport::WriteErrors(std::string& out, Summary const& summary) const {
  out += "<section id=\"errors\"><h2>Errors</h2>";
  if (summary.errors.empty()) out += "<p class=\"ok\">No module errors in this log.</p>";
  for (ErrorTally const& e : summary.errors) {
    std::string const number = ErrorNumberText(e.number);
    out += "<p class=\"bad\">";
    Figure(out, Key("errors", "number=" + number, "count"), e.count);
    out += " &times; ";
    AppendErrorText(out, e.number, e.text, redact_);
    out += "</p>";
  }
  for (ErrorBlock const& block : errorBlocks_) {
    out += "<div class=\"err\"><h3>Line" + (block.firstError == block.lastError ? " " : "s " + Number(block.firstError) + "&ndash;") +
           Number(block.lastError) + "</h3><pre>" + block.html + "</pre></div>";
  }
  if (summary.errorLines > shownErrors_) {
    out += "<p>" + Number(summary.errorLines - shownErrors_) + " more error lines";
    std::vector<uint64_t> later;
    for (ErrorTally const& e : summary.errors) {
      for (uint64_t line : e.lines) {
        if (line > (errorBlocks_.empty() ? 0 : errorBlocks_.back().lastError)) later.push_back(line);
      }
    }
    std::sort(later.begin(), later.end());
    for (size_t i = 0; i < later.size() && i < kListedErrorLines; ++i) out += (i ? ", " : ", at lines ") + Number(later[i]);
    if (later.size() > kListedErrorLines || summary.errorLines - shownErrors_ > later.size()) {
      out += ", ... (summary --json lists the first " + Number(kKeptLines) + " of each error number)";
    }
    out += ".</p>";
  }
  WriteWithoutResult(out, summary);
  if (summary.badLines) {
    out += "<p>Lines that could not be read:";
    for (size_t i = 0; i < summary.badNotes.size() && i < kListedBadLines; ++i) {
      out += (i ? ", " : " ") + Number(summary.badNotes[i].line) + " (";
      AppendHtml(out, summary.badNotes[i].what);
      out += ')';
    }
    if (summary.badLines > kListedBadLines) out += ", ... (" + Number(summary.badLines - kListedBadLines) + " more)";
    out += "</p>";
  }
  out += "</section>";
}

void HtmlReport::WritePolicy(std::string& out, Summary const& summary) const {
  out += "<section id=\"policy\"><h2>Share-mode policy per table</h2>";
  if (summary.sawMaskedAddresses && !summary.sawAddresses) {
    out += "<p class=\"note\">The masked log writes every address as dots: the plain log C:\\Tolvan32_a.log "
           "tells the tables apart.</p>";
  }
  out += "<table id=\"policy-table\"><thead><tr><th>Table</th><th>Calls</th><th>Opens asked</th><th>granted</th>"
         "<th>Forced shared reopens</th><th>failed</th><th>Escalations</th><th>refused</th>"
         "<th>Sequences locked</th><th>result 1 unlocked</th><th>other unlocked</th></tr></thead><tbody>";
  std::vector<size_t> const tables = TablesByCalls(summary);
  for (size_t i = 0; i < tables.size() && i < kPolicyTables; ++i) {
    TableTally const& t = summary.tables[tables[i]];
    std::string const row = Key("tables", Number(i));
    out += "<tr><td>";
    if (redact_) {
      out += "table " + Number(i + 1);
    } else if (t.name.empty()) {
      AppendHtml(out, t.address);
    } else {
      AppendHtml(out, t.name);
      out += " (" + t.address + ")";
    }
    WriteTableOrigin(out, summary, t);
    out += "</td>";
    struct Cell {
      char const* key;
      uint64_t value;
    } const cells[] = {
        {"calls", t.calls},
        {"policy/opens_asked", t.policy.opensAsked},
        {"policy/opens_granted", t.policy.opensGranted},
        {"policy/reopened_shared", t.policy.reopenedShared},
        {"policy/reopen_failed", t.policy.reopenFailed},
        {"policy/escalated", t.policy.escalated},
        {"policy/escalation_refused", t.policy.escalationRefused},
        {"policy/sequences_locked", t.policy.sequencesLocked},
        {"policy/sequences_skipped_or_unlocked", t.policy.sequencesSkippedOrUnlocked},
        {"policy/sequences_unlocked", t.policy.sequencesUnlocked},
    };
    for (Cell const& cell : cells) {
      out += "<td>";
      Figure(out, Key(row, cell.key), cell.value);
      out += "</td>";
    }
    out += "</tr>";
  }
  out += "</tbody></table>";
  if (tables.size() > kPolicyTables) {
    out += "<p class=\"note\">... and " + Number(tables.size() - kPolicyTables) + " more table objects.</p>";
  }
  if (summary.mixing.line) {
    out += "<p class=\"note\">The policy per table counts the records before line " + Number(summary.mixing.line) +
           " only: after it the log looks written by several writers at once.</p>";
  }
  out += "<h3>Whole log</h3><dl class=\"facts\">";
  Fact const facts[] = {
      {"Host opens asking for other than shared use (the five below add up to it)",
       "share_forcing/host_opens_not_shared", 0,
       [](PairingFigures const& f) { return f.hostOpensNotShared; }},
      {"Reopened shared", "share_forcing/reopened_shared", 0, [](PairingFigures const& f) { return f.reopenedShared; }},
      {"Shared reopen failed (table left closed)", "share_forcing/reopen_failed", 0,
       [](PairingFigures const& f) { return f.reopenFailed; }},
      {"Forced close failed (table left closed)", "share_forcing/close_failed", 0,
       [](PairingFigures const& f) { return f.closeFailed; }},
      {"Left as asked (an exemption held)", "share_forcing/left_as_asked", 0,
       [](PairingFigures const& f) { return f.leftAsAsked; }},
      {"Refused by the engine", "share_forcing/refused_by_engine", 0,
       [](PairingFigures const& f) { return f.refusedByEngine; }},
      {"The module's own opens (restoring after Pack, ReIndex, Clear) forced shared in turn",
       "share_forcing/module_opens_forced", 0, [](PairingFigures const& f) { return f.moduleOpensForced; }},
      {"&nbsp;&nbsp;of them failed (table left closed)", "share_forcing/module_opens_forced_failed", 0,
       [](PairingFigures const& f) { return f.moduleOpensForcedFailed; }},
      {"Pack escalated", "exclusive_use/Pack/escalated", 0, [](PairingFigures const& f) { return f.escalated[0]; }},
      {"Pack: exclusive open refused", "exclusive_use/Pack/exclusive_refused", 0,
       [](PairingFigures const& f) { return f.exclusiveRefused[0]; }},
      {"ReIndex escalated", "exclusive_use/ReIndex/escalated", 0,
       [](PairingFigures const& f) { return f.escalated[1]; }},
      {"ReIndex: exclusive open refused", "exclusive_use/ReIndex/exclusive_refused", 0,
       [](PairingFigures const& f) { return f.exclusiveRefused[1]; }},
      {"Clear escalated", "exclusive_use/Clear/escalated", 0, [](PairingFigures const& f) { return f.escalated[2]; }},
      {"Clear: exclusive open refused", "exclusive_use/Clear/exclusive_refused", 0,
       [](PairingFigures const& f) { return f.exclusiveRefused[2]; }},
      {"Read sequences locked", "read_sequences/locked", 0, [](PairingFigures const& f) { return f.sequencesLocked; }},
      {"Read sequences with result 1, unlocked (skipped, or passed on under Tolvan32_NoSEQ)",
       "read_sequences/skipped_or_unlocked", 0, [](PairingFigures const& f) { return f.sequencesSkippedOrUnlocked; }},
      {"Read sequences passed on unlocked (Tolvan32_NoSEQ)", "read_sequences/unlocked", 0,
       [](PairingFigures const& f) { return f.sequencesUnlocked; }},
  };
  PutFacts(out, facts, summary);
  out += "</dl></section>";
}

// The host's calls by how long the engine took, and the slowest of them
// with the calls just before them.
void HtmlReport::WriteTiming(std::string& out, Summary const& summary) const {
  TimingFigures const& timing = summary.timing;
  out += "<section id=\"time\"><h2>Time</h2>";
  if (!timing.timed) {
    out += "<p class=\"note\">The log has no times (Tolvan32_TraceTime=1 writes them): no latency, no slowest "
           "calls, and no contention between processes.</p></section>";
    return;
  }
  out += "<h3>Latency per operation (the host's calls, microseconds; percentiles within 1%)</h3>"
         "<table id=\"latency\"><thead><tr><th>Operation</th><th>Calls</th><th>Total</th><th>Median</th>"
         "<th>95th percentile</th><th>Maximum</th></tr></thead><tbody>";
  for (size_t const op : OperationsByCalls(summary)) {
    if (timing.latency.empty() || !timing.latency[op]) continue;
    LatencyHistogram const& latency = *timing.latency[op];
    std::string const row = Key("operations", "operation=" + std::string(forms_.forms[op].signature), "latency_us");
    out += "<tr><td>";
    AppendHtml(out, forms_.forms[op].signature);
    out += "</td>";
    struct Cell {
      char const* key;
      uint64_t value;
    } const cells[] = {{"count", latency.count},
                       {"total", latency.total},
                       {"p50", latency.Percentile(50)},
                       {"p95", latency.Percentile(95)},
                       {"max", latency.max}};
    for (Cell const& cell : cells) {
      out += "<td>";
      Figure(out, Key(row, cell.key), cell.value);
      out += "</td>";
    }
    out += "</tr>";
  }
  out += "</tbody></table><h3>The slowest calls</h3><table id=\"slowest\"><thead><tr><th>Line</th><th>Time</th>"
         "<th>Writer</th><th>Operation</th><th>Table</th><th>Duration (us)</th><th>Just before it</th></tr>"
         "</thead><tbody>";
  for (size_t i = 0; i < timing.slowest.size(); ++i) {
    SlowCall const& call = timing.slowest[i];
    std::string const row = Key("slowest", Number(i));
    out += "<tr><td>";
    Figure(out, Key(row, "line"), call.call.line);
    out += "</td><td>";
    AppendHtml(out, TimeText(call.call.time, {}));
    out += "</td><td>" + WriterText(call.run, call.call.ids) + "</td><td>";
    AppendHtml(out, forms_.forms[call.call.op].signature);
    out += "</td><td>";
    if (!redact_) AppendHtml(out, call.table);
    out += "</td><td>";
    Figure(out, Key(row, "duration_us"), static_cast<uint64_t>(call.call.duration));
    out += "</td><td class=\"note\">";
    for (CallBrief const& before : call.before) {
      out += "line " + Number(before.line) + " ";
      AppendHtml(out, forms_.forms[before.op].method);
      if (before.duration >= 0) out += " (" + Number(static_cast<uint64_t>(before.duration)) + " us)";
      out += "<br>";
    }
    out += "</td></tr>";
  }
  out += "</tbody></table></section>";
}

// Who held each table exclusively, and the other processes' opens that met
// such a hold.
void HtmlReport::WriteHolds(std::string& out, Summary const& summary) const {
  TimingFigures const& timing = summary.timing;
  out += "<section id=\"holds\"><h2>Who held each table</h2>";
  std::vector<size_t> const tables = TablesByCalls(summary);
  bool any = false;
  for (size_t i = 0; i < tables.size() && i < kPolicyTables; ++i) {
    TableTally const& t = summary.tables[tables[i]];
    if (!t.holds.count) continue;
    if (!any) {
      out += "<table id=\"holds-table\"><thead><tr><th>Table</th><th>Held by</th><th>How</th><th>From</th>"
             "<th>To</th><th>Lines</th></tr></thead><tbody>";
    }
    any = true;
    for (size_t j = 0; j < t.holds.kept.size(); ++j) {
      Hold const& hold = t.holds.kept[j];
      std::string const row = Key("tables", Number(i), "holds/" + Number(j));
      out += "<tr><td>";
      if (redact_) {
        out += "table " + Number(i + 1);
      } else {
        AppendHtml(out, t.name.empty() ? KeptText(t.address) : t.name);
      }
      LineIds ids;
      ids.present = true;
      ids.process = hold.pid;
      std::string writer = WriterText(hold.run, ids);
      writer.erase(std::min(writer.size(), writer.find(" thread")));
      out += "</td><td>" + writer + "</td><td>" + hold.kind + "</td><td>";
      if (hold.start >= 0) AppendHtml(out, TimeText(hold.start, {}));
      out += "</td><td>";
      if (hold.endLine && hold.end >= 0) AppendHtml(out, TimeText(hold.end, {}));
      if (!hold.endLine) out += "still held when the log ends";
      out += "</td><td>";
      Figure(out, Key(row, "start_line"), hold.startLine);
      if (hold.endLine) {
        out += "&ndash;";
        Figure(out, Key(row, "end_line"), hold.endLine);
      }
      out += "</td></tr>";
    }
    if (t.holds.count > t.holds.kept.size()) {
      out += "<tr><td colspan=\"6\" class=\"note\">... and " + Number(t.holds.count - t.holds.kept.size()) +
             " more holds</td></tr>";
    }
  }
  out += any ? "</tbody></table>" : "<p class=\"ok\">No table was held exclusively in this log.</p>";
  out += "<h3>Contention</h3>";
  if (!timing.timed) {
    out += "<p class=\"note\">Left out: the log has no times, and lines of different processes cannot be ordered in "
           "time without them.</p></section>";
    return;
  }
  out += "<p class=\"note\">Every open or escalation of another process that failed, was refused, or took longer than " +
         Number(timing.slowMicros / 1000) +
         " ms (--slow) while a table of the same name was held on the same computer. The clocks of different "
         "computers are not compared.</p>";
  if (!timing.contentionCount) {
    out += "<p class=\"ok\">None.</p></section>";
    return;
  }
  out += "<table id=\"contention\"><thead><tr><th>Table</th><th>Holder</th><th>held from line</th><th>Other process"
         "</th><th>its line</th><th>At</th><th>Outcome</th></tr></thead><tbody>";
  for (size_t i = 0; i < timing.contention.size(); ++i) {
    Contention const& c = timing.contention[i];
    std::string const row = Key("contention", Number(i));
    out += "<tr class=\"contention\"><td>";
    if (!redact_) AppendHtml(out, c.table);
    out += "</td><td>" + (redact_ ? std::string("a process") : "process " + Number(c.holderPid)) + "</td><td>";
    Figure(out, Key(row, "holder_line"), c.holderLine);
    out += "</td><td>" + (redact_ ? std::string("another") : "process " + Number(c.waiterPid)) + "</td><td>";
    Figure(out, Key(row, "waiter_line"), c.waiterLine);
    out += "</td><td>";
    AppendHtml(out, TimeText(c.time, {}));
    out += "</td><td class=\"bad\">";
    out += ContentionOutcomeName(c.outcome);
    out += "</td></tr>";
  }
  out += "</tbody></table>";
  if (timing.contentionCount > timing.contention.size()) {
    out += "<p class=\"note\">... and " + Number(timing.contentionCount - timing.contention.size()) + " more.</p>";
  }
  out += "</section>";
}

// "run N", and unredacted the process and thread.
std::string HtmlReport::WriterText(int run, LineIds const& ids) const {
  std::string text = run >= 0 ? "run " + Number(static_cast<uint64_t>(run) + 1) : std::string();
  if (ids.present && !redact_) {
    text += (text.empty() ? "process " : ", process ") + Number(ids.process) + " thread " + Number(ids.thread);
  }
  return text;
}

void HtmlReport::WriteCharts(std::string& out, Summary const& summary) const {
  out += "<section id=\"charts\"><h2>Calls</h2>";
  std::vector<size_t> const ops = OperationsByCalls(summary);
  size_t const opBars = std::min(ops.size(), kChartBars);
  OpenChart(out, "Calls per operation (lighter: the module's own calls)", opBars + (ops.size() > opBars));
  uint64_t const most = ops.empty() ? 0 : summary.operationCalls[ops[0]];
  uint64_t rest = 0;
  for (size_t i = 0; i < ops.size(); ++i) {
    OperationForm const& form = forms_.forms[ops[i]];
    if (i >= opBars) {
      rest += summary.operationCalls[ops[i]];
      continue;
    }
    std::string const label = std::string(form.className) + "::" + std::string(form.method);
    std::string const row = Key("operations", "operation=" + std::string(form.signature));
    Bar(out, static_cast<int>(i), label, form.signature, summary.operationCalls[ops[i]], most, Key(row, "calls"),
        summary.paired.operationCallsByModule[ops[i]], Key(row, "by_module"));
  }
  if (ops.size() > opBars) {
    Bar(out, static_cast<int>(opBars), "other (" + Number(ops.size() - opBars) + " operations)", "", rest, most, "");
  }
  out += "</svg>";

  std::vector<size_t> const tables = TablesByCalls(summary);
  size_t const tableBars = std::min(tables.size(), kChartBars);
  OpenChart(out, "Calls per table", tableBars + (tables.size() > tableBars));
  uint64_t const mostTable = tables.empty() ? 0 : summary.tables[tables[0]].calls;
  rest = 0;
  for (size_t i = 0; i < tables.size(); ++i) {
    TableTally const& t = summary.tables[tables[i]];
    if (i >= tableBars) {
      rest += t.calls;
      continue;
    }
    std::string const label = redact_ ? "table " + Number(i + 1) : t.name.empty() ? t.address : t.name.text;
    Bar(out, static_cast<int>(i), label, redact_ ? label : t.address, t.calls, mostTable,
        Key("tables", Number(i), "calls"));
  }
  if (tables.size() > tableBars) {
    Bar(out, static_cast<int>(tableBars), "other (" + Number(tables.size() - tableBars) + " tables)", "", rest,
        mostTable, "");
  }
  out += "</svg></section>";
}

std::string HtmlReport::AxisText(uint64_t position) const {
  if (!timed_) return "line " + Number(position);
  return TimeText(origin_ + static_cast<int64_t>(position), {});
}

// The holds of a timed log as bands in the lanes of their process, and the
// other processes' opens that met them as ticks in their own lanes.
void HtmlReport::WriteHoldMarks(std::string& out, Summary const& summary, size_t used) const {
  if (!timed_) return;
  int const plot = kChartWidth - kLaneLabel - 10;
  uint64_t const span = used * binWidth_;
  auto const x = [&](int64_t time) {
    uint64_t const at = static_cast<uint64_t>(std::max<int64_t>(time - origin_, 0));
    return kLaneLabel + static_cast<int>(static_cast<uint64_t>(plot) * std::min(at, span) / span);
  };
  auto const laneOf = [&](uint32_t process) {
    for (size_t l = 0; l < lanes_.size(); ++l) {
      if (lanes_[l].process == process && !lanes_[l].writer.empty()) return static_cast<int>(l);
    }
    return -1;
  };
  int64_t const last = origin_ + static_cast<int64_t>(lastPosition_);
  size_t drawn = 0;
  std::vector<size_t> const tables = TablesByCalls(summary);
  for (size_t i = 0; i < tables.size() && i < kPolicyTables; ++i) {
    TableTally const& t = summary.tables[tables[i]];
    for (Hold const& hold : t.holds.kept) {
      int const lane = laneOf(hold.pid);
      if (lane < 0 || hold.start < 0 || drawn++ == kMaxHoldMarks) continue;
      int const left = x(hold.start);
      int const right = std::max(left + 2, x(hold.endLine ? hold.end : last));
      out += "<rect class=\"hold\" x=\"" + Number(left) + "\" y=\"" + Number(lane * kLaneHeight + 2) + "\" width=\"" +
             Number(right - left) + "\" height=\"" + Number(kLaneHeight - 4) + "\"><title>";
      if (redact_) {
        out += "table " + Number(i + 1);
      } else {
        AppendHtml(out, t.name.empty() ? KeptText(t.address) : t.name);
      }
      out += " held (" + std::string(hold.kind) + ") from " + TimeText(hold.start, {}) + " to " +
             (hold.endLine ? TimeText(hold.end, {}) : std::string("the log's end")) + "</title></rect>";
    }
  }
  for (Contention const& c : summary.timing.contention) {
    int const lane = laneOf(c.waiterPid);
    if (lane < 0 || drawn++ == kMaxHoldMarks) continue;
    out += "<rect class=\"contended\" x=\"" + Number(x(c.time)) + "\" y=\"" + Number(lane * kLaneHeight + 2) +
           "\" width=\"3\" height=\"" + Number(kLaneHeight - 4) + "\"><title>line " + Number(c.waiterLine) + ": open " +
           ContentionOutcomeName(c.outcome) + " while line " + Number(c.holderLine) + " held it</title></rect>";
  }
}

void HtmlReport::WriteTimeline(std::string& out, Summary const& summary) const {
  out += "<section id=\"timeline\"><h2>Timeline</h2><p class=\"legend\">";
  for (int k = 0; k < kCountedEventKinds; ++k) {
    out += "<span><i class=\"" + std::string(kEventClasses[k]) + "\"></i>" + kEventNames[k] + "</span>";
  }
  out += "<span><i class=\"act\"></i>calls (darker: more)</span>";
  if (timed_) out += "<span><i class=\"hold\"></i>table held exclusively</span><span><i class=\"contended\"></i>open that met a hold</span>";
  out += "</p>";
  int const plot = kChartWidth - kLaneLabel - 10;
  size_t const used = std::min<uint64_t>(kBins, lastPosition_ / binWidth_ + 1);
  int const height = static_cast<int>(lanes_.size()) * kLaneHeight + 24;
  out += "<svg viewBox=\"0 0 " + Number(kChartWidth) + " " + Number(height) + "\" width=\"" + Number(kChartWidth) +
         "\" role=\"img\">";
  // Whole numbers only, so that every build draws the same page.
  auto const x = [&](size_t bin) { return Number(kLaneLabel + plot * bin / used); };
  std::string const width = Number(std::max<uint64_t>(1, (plot + used / 2) / used));
  for (size_t l = 0; l < lanes_.size(); ++l) {
    Lane const& lane = lanes_[l];
    int const top = static_cast<int>(l) * kLaneHeight;
    out += "<text x=\"" + Number(kLaneLabel - 6) + "\" y=\"" + Number(top + 20) + "\" class=\"lab\">";
    if (lane.shared) {
      out += "writers " + Number(l + 1) + " and on";
    } else {
      std::string computer;
      if (!redact_ && lane.run >= 0 && static_cast<size_t>(lane.run) < summary.runs.size()) {
        AppendHtml(computer, summary.runs[lane.run].computer.text, 24);
        if (!computer.empty()) computer += ' ';
      }
      out += lane.writer.empty() ? "all writers (no ids)" : redact_ ? "writer " + Number(l + 1) : computer + lane.writer;
    }
    out += "</text><rect x=\"" + Number(kLaneLabel) + "\" y=\"" + Number(top + 2) + "\" width=\"" + Number(plot) +
           "\" height=\"" + Number(kLaneHeight - 4) + "\" fill=\"#f4f5fa\"/>";
    uint32_t busiest = 1;
    for (Bin const& bin : lane.bins) busiest = std::max(busiest, bin[kCountedEventKinds]);
    for (size_t b = 0; b < used; ++b) {
      Bin const& bin = lane.bins[b];
      std::string const range = timed_ ? AxisText(b * binWidth_) + "-" + AxisText((b + 1) * binWidth_ - 1)
                                       : "lines " + Number(b * binWidth_ + (b ? 0 : 1)) + "-" + Number((b + 1) * binWidth_ - 1);
      if (bin[kCountedEventKinds]) {
        out += "<rect class=\"act\" x=\"" + x(b) + "\" y=\"" + Number(top + 12) + "\" width=\"" + width +
               "\" height=\"10\" opacity=\"" +
               Number(15 + 85 * static_cast<uint64_t>(bin[kCountedEventKinds]) / busiest) + "%\"><title>" + range +
               ": " + Number(bin[kCountedEventKinds]) + " records</title></rect>";
      }
      for (int k = 0; k < kCountedEventKinds; ++k) {
        if (!bin[k]) continue;
        // Errors span the lane; the policy's marks stand above and below the calls.
        int const y = k == kErrorEvent ? top + 2 : k == kEscalationEvent || k == kRefusedEscalationEvent ? top + 2 : top + 22;
        int const h = k == kErrorEvent ? kLaneHeight - 4 : 10;
        out += "<rect class=\"" + std::string(kEventClasses[k]) + "\" x=\"" + x(b) + "\" y=\"" + Number(y) +
               "\" width=\"" + (k == kErrorEvent ? std::string("3") : width) + "\" height=\"" + Number(h) +
               "\"><title>" + range + ": " + Number(bin[k]) + " " + kEventNames[k] + "(s)</title></rect>";
      }
    }
  }
  int const axis = static_cast<int>(lanes_.size()) * kLaneHeight + 14;
  // Each run's start, with the time its run line gives; one mark per bin, so
  // that a log of many thousand runs still gives a page of bounded size.
  WriteHoldMarks(out, summary, used);
  for (size_t i = 0; i < summary.runs.size() && !timed_;) {
    if (!summary.runs[i].line) {  // a run line before the log's first line has no place on it
      ++i;
      continue;
    }
    RunInfo const& run = summary.runs[i];
    uint64_t const bin = std::min<uint64_t>(run.line / binWidth_, used - 1);
    size_t next = i + 1;
    while (next < summary.runs.size() && std::min<uint64_t>(summary.runs[next].line / binWidth_, used - 1) == bin) ++next;
    size_t const more = next - i - 1;
    i = next;
    std::string const at = x(bin);
    out += "<line x1=\"" + at + "\" x2=\"" + at + "\" y1=\"0\" y2=\"" + Number(axis - 10) +
           "\" stroke=\"#555\" stroke-dasharray=\"3 2\"><title>";
    out += "line " + Number(run.line) + ": run " + Number(i - more) + " started";
    if (!redact_) {
      out += ", process " + Number(run.process) + ", at ";
      AppendHtml(out, run.date);
      out += ' ';
      AppendHtml(out, run.time);
    }
    if (more) out += " (and " + Number(more) + " more runs up to the next mark)";
    out += "</title></line>";
  }
  for (int tick = 0; tick <= 4; ++tick) {
    uint64_t const line = std::max<uint64_t>(timed_ ? 0 : 1, used * binWidth_ * tick / 4);
    out += "<text x=\"" + Number(static_cast<uint64_t>(kLaneLabel + plot * tick / 4)) + "\" y=\"" + Number(axis) +
           "\" text-anchor=\"" + (tick == 0 ? "start" : tick == 4 ? "end" : "middle") + "\">" + AxisText(line) +
           "</text>";
  }
  out += timed_ ? "</svg><p class=\"note\">Along the lane: the time of day of each record's call; one lane per "
                  "computer, process and thread. A grey band is a table held exclusively, a red tick inside another "
                  "process's lane an open that failed, was refused or waited while it was held. The clocks of "
                  "different computers are not compared.</p></section>"
                : "</svg><p class=\"note\">Along the lane: the line number in the log (the log has no times: "
                  "Tolvan32_TraceTime=1 writes them); a dashed line marks where a run "
                  "began (its time in the tooltip). One lane per process and thread when the "
                  "log has ids (Tolvan32_TraceIds=1).</p></section>";
}

void HtmlReport::Write(std::string& out, Summary const& summary, std::string_view source) const {
  out += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width\"><title>Tolvan32 trace report</title><style>";
  out += kStyle;
  out += "</style></head><body>";
  WriteHeader(out, summary, source);
  WriteRecorder(out, summary);
  WriteErrors(out, summary);
  WriteTiming(out, summary);
  WritePolicy(out, summary);
  WriteHolds(out, summary);
  WriteCharts(out, summary);
  WriteTimeline(out, summary);
  out += "<footer class=\"note\"><p>Made by tolvan32-trace report. Every figure is the same as "
         "&quot;tolvan32-trace summary --json&quot; gives for this log.";
  if (redact_) {
    out += " Redacted: addresses, argument values, texts, result values and paths are masked; the page still "
           "shows operation names, counts, line numbers, error numbers, small status results, the policy's "
           "notes and table numbers in order of calls.";
  }
  out += "</p></footer><script>";
  out += kScript;
  out += "</script></body></html>\n";
}

}  // namespace tools
}  // namespace tolvan

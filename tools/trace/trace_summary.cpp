#include "tools/trace/trace_summary.h"

#include <algorithm>
#include <functional>
#include <numeric>

#include "tools/trace/trace_outcome.h"
#include "tools/trace/trace_print.h"

namespace tolvan {
namespace tools {

namespace {

size_t const kListedNotes = 20;      // line numbers listed in the text for each kind of problem
size_t const kListedErrorLines = 5;  // line numbers listed in the text for each error number
size_t const kListedTables = 20;

// A new table object at an address, while there is room for one more.
TableTally* NewTable(Summary& summary, std::string key, int run, std::string_view address) {
  if (summary.tables.size() == kKeptTables) return nullptr;
  summary.tableIndex[std::move(key)] = summary.tables.size();
  summary.tables.emplace_back();
  summary.tables.back().run = run;
  summary.tables.back().address = std::string(address);
  return &summary.tables.back();
}

// The table object at an address now (null: one of those not kept).
TableTally* TableOf(Summary& summary, int run, std::string_view address) {
  auto& last = summary.lastTable;
  if (last.valid && last.run == run && last.address == address) return &summary.tables[last.index];
  std::string key = ObjectKey(run, address);
  auto const found = summary.tableIndex.find(key);
  TableTally* const table =
      found != summary.tableIndex.end() ? &summary.tables[found->second] : NewTable(summary, std::move(key), run, address);
  if (table) {
    last.valid = true;
    last.run = run;
    last.address.assign(address);
    last.index = static_cast<size_t>(table - summary.tables.data());
  }
  return table;
}

void CountError(Summary& summary, Record const& record, Node const& node) {
  ++summary.errorLines;
  auto tally = std::find_if(summary.errors.begin(), summary.errors.end(),
                            [&](ErrorTally const& e) { return e.number == node.errorNumber; });
  if (tally == summary.errors.end()) {
    summary.errors.emplace_back();
    tally = summary.errors.end() - 1;
    tally->number = node.errorNumber;
    tally->text = KeptText(record.TextOf(node.text));
  }
  ++tally->count;
  if (tally->lines.size() < kKeptLines) tally->lines.push_back(node.line);
}

// GetTable and AddTable by name tell which table object has which name. A
// result naming another table at an address starts a new object there: the
// engine, or a later process of a log without run lines, reused the address.
void LearnTableName(Summary& summary, OperationForms const& forms, Record const& record, Node const& node) {
  if (node.status != kCompleted) return;
  std::string_view const address = ResultItemOf(forms, record, node);
  if (address.empty() || IsMaskedPointer(address) || address.find_first_not_of('0') == std::string_view::npos) return;
  KeptText name(record.TextOf(node.arguments));
  summary.lastTable.valid = false;
  std::string key = ObjectKey(record.stream.run, address);
  auto const found = summary.tableIndex.find(key);
  if (found != summary.tableIndex.end()) {
    TableTally& known = summary.tables[found->second];
    bool const same = known.name.size == name.size && known.name.text == name.text;
    if (same || (known.name.empty() && known.calls == 0)) {
      known.name = std::move(name);
      return;
    }
    summary.tableIndex.erase(found);
  }
  if (TableTally* const table = NewTable(summary, std::move(key), record.stream.run, address)) {
    table->name = std::move(name);
  }
}

// The figure, the table's own (null: not counted per table) and the event of one outcome.
void CountOutcome(PairingFigures& summary, TablePolicy* table, PolicyOutcome outcome, int op, CountedEvent* event) {
  TablePolicy unused;
  TablePolicy& policy = table ? *table : unused;
  int const escalation = op == kTable_Pack ? 0 : op == kTable_ReIndex ? 1 : op == kTable_Clear ? 2 : -1;
  switch (outcome) {
    case kReopenedShared:
      ++summary.reopenedShared;
      ++policy.reopenedShared;
      *event = kReopenEvent;
      break;
    case kCloseFailed:
      ++summary.closeFailed;
      ++policy.reopenFailed;
      *event = kFailedReopenEvent;
      break;
    case kReopenFailed:
      ++summary.reopenFailed;
      ++policy.reopenFailed;
      *event = kFailedReopenEvent;
      break;
    case kLeftAsAsked:
      ++summary.leftAsAsked;
      break;
    case kRefusedByEngine:
      ++summary.refusedByEngine;
      break;
    case kEscalated:
      ++summary.escalated[escalation];
      ++policy.escalated;
      *event = kEscalationEvent;
      break;
    case kExclusiveRefused:
      ++summary.exclusiveRefused[escalation];
      ++policy.escalationRefused;
      *event = kRefusedEscalationEvent;
      break;
    case kAlreadyExclusive:
      ++summary.alreadyExclusive[escalation];
      break;
    case kSequenceLocked:
      ++summary.sequencesLocked;
      ++policy.sequencesLocked;
      break;
    case kSequenceSkippedOrUnlocked:
      ++summary.sequencesSkippedOrUnlocked;
      ++policy.sequencesSkippedOrUnlocked;
      break;
    case kSequenceUnlocked:
      ++summary.sequencesUnlocked;
      ++policy.sequencesUnlocked;
      break;
    case kNoOutcome:
      break;
  }
}

void CountCall(Summary& summary, OperationForms const& forms, Record const& record, int index,
               CountedEvents* events) {
  Node const& node = record.nodes[index];
  OperationForm const& form = forms.forms[node.op];
  PairingFigures& paired = record.unreliable ? summary.unreliable : summary.paired;
  ++summary.calls;
  ++summary.operationCalls[node.op];
  if (node.parent >= 0) {
    ++paired.callsByModule;
    ++paired.operationCallsByModule[node.op];
  }
  if (form.exchange) ++summary.exchangeLines;
  if (node.status == kWithoutResult) {
    ++paired.withoutResult;
    if (paired.openCalls.size() < kKeptLines) {
      paired.openCalls.push_back({node.line, node.op, std::string(record.TextOf(node.object)), record.stream.ids,
                                  record.stream.run, node.time, node.endedWithLog});
    }
  } else if (node.status == kNotPerformed) {
    ++paired.notPerformed;
  }

  std::string_view const object = record.TextOf(node.object);
  if (IsMaskedPointer(object)) {
    summary.sawMaskedAddresses = true;
  } else {
    summary.sawAddresses = true;
  }
  TableTally* const table = form.table ? TableOf(summary, record.stream.run, object) : nullptr;
  if (table) {
    ++table->calls;
  } else if (form.table) {
    ++summary.callsOnOtherTables;
  }
  // The policy per table, like the other pairing figures, only where pairing holds.
  TablePolicy* const policy = table && !record.unreliable ? &table->policy : nullptr;
  if (node.op == kDataDictionary_GetTable_ByName || node.op == kDataDictionary_AddTable) {
    LearnTableName(summary, forms, record, node);
  }

  PolicyOutcome const outcome = OutcomeOf(forms, record, index);
  if (!record.unreliable) CountTiming(summary, forms, record, index, outcome, table);
  bool const forced = outcome == kReopenedShared || outcome == kCloseFailed || outcome == kReopenFailed;
  if (node.op == kTable_OpenAccess && node.parent >= 0) {
    // The module's own open: never one of the host's figures.
    if (forced) ++paired.moduleOpensForced;
    if (forced && outcome != kReopenedShared) ++paired.moduleOpensForcedFailed;
    return;
  }
  if (node.op == kTable_OpenAccess && node.status == kCompleted) {
    if (forced || outcome == kLeftAsAsked || outcome == kRefusedByEngine) ++paired.hostOpensNotShared;
    if (policy) {
      ++policy->opensAsked;
      if (ResultItemOf(forms, record, node) != "0") ++policy->opensGranted;
    }
  }
  CountedEvent event = kCountedEventKinds;
  CountOutcome(paired, policy, outcome, node.op, &event);
  if (events && event != kCountedEventKinds) events->Counted(event, node.line, record);
}

// Indices of `values` by value, most first, ties in the order given.
template <typename Value>
std::vector<size_t> BusiestFirst(std::vector<Value> const& values, uint64_t (*calls)(Value const&)) {
  std::vector<size_t> order(values.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t left, size_t right) { return calls(values[left]) > calls(values[right]); });
  return order;
}

// A figure and what it counts; the label is indented under its heading.
void PutLine(std::string& out, int indent, char const* label, uint64_t value) {
  AppendPadded(out, value, 10);
  out.append(2 + indent, ' ');
  out += label;
  out += '\n';
}

// The first notes; `count` of them in all.
void PutNotes(std::string& out, std::vector<LineNote> const& notes, uint64_t count) {
  size_t const listed = std::min(notes.size(), kListedNotes);
  for (size_t i = 0; i < listed; ++i) {
    out += "    line ";
    AppendNumber(out, notes[i].line);
    out += ": ";
    out += notes[i].what;
    out += '\n';
  }
  PutMore(out, count - listed, "more");
}

void PutOpenCalls(std::string& out, OperationForms const& forms, std::vector<OpenCall> const& calls, uint64_t count) {
  size_t const listed = std::min(calls.size(), kListedNotes);
  for (size_t i = 0; i < listed; ++i) {
    OpenCall const& call = calls[i];
    out += "    line ";
    AppendNumber(out, call.line);
    out += ": ";
    AppendVisible(out, call.object);
    out += ' ';
    out += forms.forms[call.op].signature;
    if (call.ids.present) {
      out += "  process ";
      AppendNumber(out, call.ids.process);
      out += " thread ";
      AppendNumber(out, call.ids.thread);
    }
    out += '\n';
  }
  PutMore(out, count - listed, "more");
}

char const* const kEscalationNames[3] = {"Pack", "ReIndex", "Clear"};

void PutRecorderBlocks(std::string& out, RecorderFigures const& recorder) {
  out += "\nRecorder blocks (by trigger)\n";
  for (auto const& entry : recorder.byTrigger) {
    AppendPadded(out, entry.second, 10);
    out += "  ";
    AppendVisible(out, entry.first);
    out += '\n';
  }
  if (recorder.otherTriggers) PutLine(out, 0, "other triggers", recorder.otherTriggers);
  size_t const listed = std::min(recorder.kept.size(), kListedNotes);
  for (size_t i = 0; i < listed; ++i) {
    RecorderBlock const& block = recorder.kept[i];
    out += "    line ";
    AppendNumber(out, block.line);
    out += ": ";
    AppendVisible(out, block.trigger);
    out += "  process ";
    AppendNumber(out, block.process);
    out += " thread ";
    AppendNumber(out, block.thread);
    out += ", ";
    AppendNumber(out, block.recorded);
    out += " recorded, ";
    AppendNumber(out, block.lines);
    out += block.lines == 1 ? " line" : " lines";
    out += block.ended ? " in the log\n" : " in the log, no end mark (the process ended, or the log was cut)\n";
  }
  PutMore(out, recorder.blocks - listed, "more blocks (summary --json lists the first 1000)");
}

// The notes kept, and how many more there were under "<key>_more".
void PutJsonNotes(JsonObject& json, char const* key, std::vector<LineNote> const& notes, uint64_t count) {
  std::string& out = json.Key(key);
  PutJsonArray(out, notes, [&](LineNote const& note) {
    JsonObject entry(out);
    entry.Number("line", note.line);
    entry.String("what", note.what);
  });
  json.Number((std::string(key) + "_more").c_str(), count - notes.size());
}

void PutJsonOpenCalls(JsonObject& json, OperationForms const& forms, std::vector<OpenCall> const& calls,
                      uint64_t count) {
  std::string& out = json.Key("without_result_notes");
  PutJsonArray(out, calls, [&](OpenCall const& call) {
    JsonObject entry(out);
    entry.Number("line", call.line);
    entry.String("what", forms.forms[call.op].signature);
    entry.String("object", call.object);
    if (call.ids.present) {
      entry.Number("process", call.ids.process);
      entry.Number("thread", call.ids.thread);
    }
    if (call.run >= 0) entry.Number("run", static_cast<uint64_t>(call.run) + 1);
  });
  json.Number("without_result_notes_more", count - calls.size());
}


}  // namespace

std::vector<size_t> TablesByCalls(Summary const& summary) {
  return BusiestFirst<TableTally>(summary.tables, [](TableTally const& t) { return t.calls; });
}

std::vector<size_t> OperationsByCalls(Summary const& summary) {
  std::vector<size_t> order =
      BusiestFirst<uint64_t>(summary.operationCalls, [](uint64_t const& calls) { return calls; });
  order.erase(std::find_if(order.begin(), order.end(), [&](size_t op) { return !summary.operationCalls[op]; }),
              order.end());
  return order;
}

std::string ErrorNumberText(int number) {
  return {static_cast<char>('0' + number / 100 % 10), static_cast<char>('0' + number / 10 % 10),
          static_cast<char>('0' + number % 10)};
}

std::string ObjectKey(int run, std::string_view address) {
  std::string key(address);
  if (run >= 0) {
    key += ' ';
    AppendNumber(key, static_cast<uint64_t>(run));
  }
  return key;
}

TableTally const* FindTable(Summary const& summary, std::string_view address, int run) {
  auto const found = summary.tableIndex.find(ObjectKey(run, address));
  return found == summary.tableIndex.end() ? nullptr : &summary.tables[found->second];
}

std::string MixingWarning(MixingSign const& mixing) {
  std::string text = "From line ";
  AppendNumber(text, mixing.line);
  text += " this log looks written by several threads or processes at once (";
  text += mixing.sign;
  text +=
      ").\n"
      "Which result belongs to which call cannot be proved from there on: figures that rest on it are\n"
      "marked unreliable. Set Tolvan32_TraceIds=1 for the host (then restart it) for a trace that can be read.\n";
  return text;
}

std::string RecorderNote(Summary const& summary) {
  if (!summary.recorder.blocks) return {};
  return "This is a recorder log (Tolvan32_Recorder): it holds only the blocks the flight recorder wrote\n"
         "when something went wrong, each the last lines of its process before the trigger. The calls\n"
         "between blocks are not in it: a result line at a block's start belongs to a call made before\n"
         "the block, and calls without their result line at a block's end were still under way; neither\n"
         "is a sign of several writers or of lines mixed. The lines inside the blocks are counted as a\n"
         "trace's.\n";
}

std::string MidRunNote(Summary const& summary) {
  if (!summary.resultsBeforeStart) return {};
  if (summary.recorder.blocks) {
    std::string text = "Line ";
    AppendNumber(text, summary.firstResultBeforeStart);
    text += " is the result of a call made before its recorder block";
    if (summary.resultsBeforeStart > 1) {
      text += " (";
      AppendNumber(text, summary.resultsBeforeStart);
      text += " such result lines in the blocks)";
    }
    return text + ": those calls themselves are not counted.\n";
  }
  std::string text = "This log begins in the middle of a run: line ";
  AppendNumber(text, summary.firstResultBeforeStart);
  text += " is the result of a call made before its first line";
  if (summary.resultsBeforeStart > 1) {
    text += " (";
    AppendNumber(text, summary.resultsBeforeStart);
    text += " such result lines, one per thread or nesting level)";
  }
  text +=
      ".\nThe calls that the module made inside those calls are counted as the module's; the calls\n"
      "themselves are not counted.\n";
  return text;
}

void CountRecord(Summary& summary, OperationForms const& forms, Record const& record, bool calls,
                 CountedEvents* events) {
  for (size_t i = 0; i < record.nodes.size(); ++i) {
    Node const& node = record.nodes[i];
    switch (node.kind) {
      case kCallNode:
        if (calls) CountCall(summary, forms, record, static_cast<int>(i), events);
        break;
      case kErrorNode:
        CountError(summary, record, node);
        if (events) events->Counted(kErrorEvent, node.line, record);
        break;
      case kBeforeStartNode:
        if (!summary.resultsBeforeStart++) summary.firstResultBeforeStart = node.resultLine;
        break;
      case kBadNode:
        ++summary.badLines;
        if (summary.badNotes.size() < kKeptLines) summary.badNotes.push_back({node.line, node.problem});
        break;
      case kMarkNode:  // the reader counts the blocks, from their lines
        break;
    }
  }
}

void PrintSummary(std::string& out, Summary const& summary, OperationForms const& forms, std::string_view source) {
  bool const mixed = summary.mixing.line != 0;
  PairingFigures const& paired = summary.paired;
  PairingFigures const& later = summary.unreliable;
  // A figure that rests on pairing: after a sign of mixing, what came after
  // it is never given as a plain fact.
  auto pairedLine = [&](int indent, char const* label, auto figure) {
    AppendPadded(out, std::invoke(figure, paired), 10);
    out.append(2 + indent, ' ');
    out += label;
    if (mixed) {
      out += "  [+";
      AppendNumber(out, std::invoke(figure, later));
      out += " unreliable after line ";
      AppendNumber(out, summary.mixing.line);
      out += ']';
    }
    out += '\n';
  };

  out += "Trace ";
  out += source;
  out += '\n';
  PrintLogs(out, summary);
  if (!summary.table.empty()) {
    out += "  the calls on table ";
    AppendVisible(out, summary.table);
    out += " alone (its objects learnt from GetTable)\n";
  }
  PutLine(out, 0, "lines", summary.lines);
  PutLine(out, 0, "bytes", summary.bytes);
  PutLine(out, 0, "calls", summary.calls);
  pairedLine(2, "made by the module's policy (nested in a host call)", &PairingFigures::callsByModule);
  PutLine(out, 2, "field-exchange lines", summary.exchangeLines);
  PutLine(out, 0, "numbered error lines of the module", summary.errorLines);
  PutLine(out, 0, "lines that could not be read", summary.badLines);
  if (summary.recorder.blocks) {
    PutLine(out, 0, "recorder blocks", summary.recorder.blocks);
    out += '\n';
    out += RecorderNote(summary);
  }
  if (summary.resultsBeforeStart) {
    out += '\n';
    out += MidRunNote(summary);
  }
  if (mixed) {
    out += "\nWARNING: ";
    out += MixingWarning(summary.mixing);
  }

  if (!summary.runs.empty()) {
    out += "\nRuns (their run lines)\n";
    size_t const listed = std::min(summary.runs.size(), kListedTables);
    for (size_t i = 0; i < listed; ++i) {
      RunInfo const& run = summary.runs[i];
      AppendPadded(out, i + 1, 10);
      out += "  process ";
      AppendNumber(out, run.process);
      if (run.line) {
        out += ", line ";
        AppendNumber(out, run.line);
        out += ": ";
        AppendVisible(out, run.date);
        out += ' ';
        AppendVisible(out, run.time);
        out += "  Tolvan32 ";
        AppendVisible(out, run.version);
        for (KeptText const& option : run.options) {
          out += ' ';
          AppendVisible(out, option);
        }
        if (run.optionCount > run.options.size()) {
          out += " ... and ";
          AppendNumber(out, run.optionCount - run.options.size());
          out += " more";
        }
        if (!run.computer.empty()) {
          out += "\n                computer ";
          AppendVisible(out, run.computer);
          out += " user ";
          AppendVisible(out, run.user);
        }
        out += "\n                host ";
        AppendVisible(out, run.host);
      } else {
        out += ": its run line is not in this log";
      }
      out += "\n                engine ";
      if (run.engineLine) {
        AppendVisible(out, run.engineVersion);
        out += ' ';
        AppendVisible(out, run.enginePath);
      } else {
        out += "not loaded";
      }
      out += '\n';
    }
    PutMore(out, summary.runCount - listed, "more runs (summary --json lists the first 1000)");
  }

  out += "\nCalls per operation (of them made by the module)\n";
  for (size_t const op : OperationsByCalls(summary)) {
    AppendPadded(out, summary.operationCalls[op], 10);
    if (paired.operationCallsByModule[op] || (mixed && later.operationCallsByModule[op])) {
      out += " (";
      AppendNumber(out, paired.operationCallsByModule[op]);
      if (mixed) {
        out += ", +";
        AppendNumber(out, later.operationCallsByModule[op]);
        out += " unreliable";
      }
      out += ')';
    }
    out += "  ";
    out += forms.forms[op].signature;
    out += '\n';
  }

  out += "\nCalls per table object\n";
  if (summary.sawMaskedAddresses && !summary.sawAddresses) {
    out += "  (the masked log writes every address as dots: read C:\\Tolvan32_a.log to tell tables apart)\n";
  }
  std::vector<size_t> const tables = TablesByCalls(summary);
  size_t const listed = std::min(tables.size(), kListedTables);
  for (size_t i = 0; i < listed; ++i) {
    TableTally const& t = summary.tables[tables[i]];
    AppendPadded(out, t.calls, 10);
    out += "  ";
    out += t.address;
    if (!t.name.empty()) {
      out += "  ";
      AppendVisible(out, t.name);
    }
    if (t.run >= 0) {
      out += "  (run ";
      AppendNumber(out, static_cast<uint64_t>(t.run) + 1);
      if (static_cast<size_t>(t.run) < summary.runs.size()) {
        out += ", process ";
        AppendNumber(out, summary.runs[t.run].process);
      }
      out += ')';
    }
    out += '\n';
  }
  PutMore(out, tables.size() - listed, "more table objects");
  if (summary.callsOnOtherTables) {
    out += "    ... and ";
    AppendNumber(out, summary.callsOnOtherTables);
    out += " calls on table objects beyond the first ";
    AppendNumber(out, kKeptTables);
    out += ", not told apart\n";
  }

  out += "\nShare forcing (CTable::OpenAccess)\n";
  pairedLine(2, "host opens asking for other than shared use: the five below add up to it",
             &PairingFigures::hostOpensNotShared);
  pairedLine(2, "reopened shared: nested CloseAccess(1), then the engine's shared reopen", &PairingFigures::reopenedShared);
  pairedLine(2, "shared reopen failed (result 0): closed, then the engine refused the reopen: table left closed",
             &PairingFigures::reopenFailed);
  pairedLine(2, "forced close failed: table left closed, result 0", &PairingFigures::closeFailed);
  pairedLine(2, "left as asked: ZKUSERS, a dictionary opened empty, restructuring or Tolvan32_NoShare",
             &PairingFigures::leftAsAsked);
  pairedLine(2, "refused by the engine (result 0): nothing to force", &PairingFigures::refusedByEngine);
  pairedLine(0, "the module's own opens (restoring after Pack, ReIndex, Clear) forced shared in turn",
             &PairingFigures::moduleOpensForced);
  pairedLine(2, "of them failed: table left closed", &PairingFigures::moduleOpensForcedFailed);

  out += "\nExclusive use for Pack, ReIndex and Clear\n";
  for (int i = 0; i < 3; ++i) {
    AppendPadded(out, paired.escalated[i], 10);
    out += "    ";
    out += kEscalationNames[i];
    out += " escalated (closed, reopened exclusive, restored), ";
    AppendNumber(out, paired.alreadyExclusive[i]);
    out += " on a table already exclusive";
    if (mixed) {
      out += "  [+";
      AppendNumber(out, later.escalated[i]);
      out += ", +";
      AppendNumber(out, later.alreadyExclusive[i]);
      out += " unreliable after line ";
      AppendNumber(out, summary.mixing.line);
      out += ']';
    }
    out += '\n';
    std::string const refused = std::string("  ") + kEscalationNames[i] +
                                ": exclusive open refused by the engine (result 0), ran without exclusive use";
    pairedLine(2, refused.c_str(), [i](PairingFigures const& figures) { return figures.exclusiveRefused[i]; });
  }

  out += "\nRead sequences (CTable::BeginReadSequence)\n";
  pairedLine(2, "table locked first (nested PutTLock)", &PairingFigures::sequencesLocked);
  pairedLine(2, "result 1 without PutTLock: skipped, or passed on unlocked under Tolvan32_NoSEQ",
             &PairingFigures::sequencesSkippedOrUnlocked);
  pairedLine(2, "other result without PutTLock: passed on unlocked (Tolvan32_NoSEQ)", &PairingFigures::sequencesUnlocked);
  if (paired.sequencesSkippedOrUnlocked) {
    out +=
        "  A skipped sequence and one passed on under Tolvan32_NoSEQ both show result 1 and no\n"
        "  PutTLock; the log cannot tell them apart. A run that also shows locked sequences had\n"
        "  Tolvan32_NoSEQ off, so its sequences with result 1 and no PutTLock were skipped.\n";
  }

  out += "\nModule errors\n";
  if (summary.errors.empty()) out += "                none\n";
  for (ErrorTally const& e : summary.errors) {
    AppendPadded(out, e.count, 10);
    out += "    ";
    AppendVisible(out, e.text);
    out += "\n                lines";
    size_t const listedLines = std::min(e.lines.size(), kListedErrorLines);
    for (size_t j = 0; j < listedLines; ++j) {
      out += j ? ", " : " ";
      AppendNumber(out, e.lines[j]);
    }
    if (e.count > listedLines) out += ", ...";
    out += '\n';
  }

  if (summary.recorder.blocks) PutRecorderBlocks(out, summary.recorder);
  if (summary.badLines) {
    out += "\nLines that could not be read\n";
    PutNotes(out, summary.badNotes, summary.badLines);
  }
  if (paired.withoutResult) {
    out += "\nCalls without their result line (an engine exception passed through, the process ended, or the log was cut)\n";
    PutOpenCalls(out, forms, paired.openCalls, paired.withoutResult);
  }
  if (mixed && later.withoutResult) {
    out += "\nCalls after line ";
    AppendNumber(out, summary.mixing.line);
    out += " without a result line found for them (unreliable: the log mixes threads or processes)\n";
    PutOpenCalls(out, forms, later.openCalls, later.withoutResult);
  }
  if (paired.notPerformed || (mixed && later.notPerformed)) {
    pairedLine(0, "calls not performed: the engine entry was missing (error #002)", &PairingFigures::notPerformed);
  }
  PrintTiming(out, summary, forms);
}

namespace {

void PutPairingJson(JsonObject& json, PairingFigures const& figures) {
  std::string& out = json.Key("share_forcing");
  {
    JsonObject share(out);
    share.Number("host_opens_not_shared", figures.hostOpensNotShared);
    share.Number("reopened_shared", figures.reopenedShared);
    share.Number("reopen_failed", figures.reopenFailed);
    share.Number("close_failed", figures.closeFailed);
    share.Number("left_as_asked", figures.leftAsAsked);
    share.Number("refused_by_engine", figures.refusedByEngine);
    share.Number("module_opens_forced", figures.moduleOpensForced);
    share.Number("module_opens_forced_failed", figures.moduleOpensForcedFailed);
  }
  json.Key("exclusive_use");
  {
    JsonObject exclusive(out);
    for (int i = 0; i < 3; ++i) {
      exclusive.Key(kEscalationNames[i]);
      JsonObject operation(out);
      operation.Number("escalated", figures.escalated[i]);
      operation.Number("already_exclusive", figures.alreadyExclusive[i]);
      operation.Number("exclusive_refused", figures.exclusiveRefused[i]);
    }
  }
  json.Key("read_sequences");
  {
    JsonObject sequences(out);
    sequences.Number("locked", figures.sequencesLocked);
    sequences.Number("skipped_or_unlocked", figures.sequencesSkippedOrUnlocked);
    sequences.Number("unlocked", figures.sequencesUnlocked);
  }
}

void PutRunsJson(JsonObject& json, std::vector<RunInfo> const& runs) {
  std::string& out = json.Key("runs");
  uint64_t number = 0;
  PutJsonArray(out, runs, [&](RunInfo const& run) {
    JsonObject entry(out);
    entry.Number("run", ++number);
    entry.Number("line", run.line);
    entry.Number("process", run.process);
    entry.Number("thread", run.thread);
    entry.Number("log", run.log);
    entry.String("date", run.date);
    entry.String("time", run.time);
    entry.String("version", run.version);
    PutJsonArray(entry.Key("options"), run.options, [&](KeptText const& option) { AppendJsonString(out, option); });
    entry.Number("options_more", run.optionCount - run.options.size());
    if (!run.computer.empty()) {
      entry.String("computer", run.computer);
      entry.String("user", run.user);
    }
    entry.String("host", run.host);
    if (run.engineLine) {
      entry.Number("engine_line", run.engineLine);
      entry.String("engine_version", run.engineVersion);
      entry.String("engine_path", run.enginePath);
    }
  });
}

}  // namespace

void PrintSummaryJson(std::string& out, Summary const& summary, OperationForms const& forms,
                      std::string_view source) {
  PairingFigures const& paired = summary.paired;
  {
    JsonObject json(out);
    json.String("source", source);
    if (!summary.table.empty()) json.String("table", summary.table);
    json.Number("lines", summary.lines);
    json.Number("bytes", summary.bytes);
    json.Number("calls", summary.calls);
    json.Number("calls_by_module", paired.callsByModule);
    json.Number("exchange_lines", summary.exchangeLines);
    json.Number("error_lines", summary.errorLines);
    json.Number("bad_lines", summary.badLines);
    json.Number("calls_without_result", paired.withoutResult);
    json.Number("calls_not_performed", paired.notPerformed);
    if (summary.resultsBeforeStart) {
      json.Key("begins_mid_run");
      JsonObject begins(out);
      begins.Number("line", summary.firstResultBeforeStart);
      begins.Number("results_before_start", summary.resultsBeforeStart);
    } else {
      json.Key("begins_mid_run") += "null";
    }

    std::vector<int> called;
    for (int op = 0; op < kOperationCount; ++op) {
      if (summary.operationCalls[op]) called.push_back(op);
    }
    PutJsonArray(json.Key("operations"), called, [&](int op) {
      JsonObject operation(out);
      operation.String("operation", forms.forms[op].signature);
      operation.Number("calls", summary.operationCalls[op]);
      operation.Number("by_module", paired.operationCallsByModule[op]);
      PutLatencyJson(operation, summary, op);
    });

    PutJsonArray(json.Key("tables"), TablesByCalls(summary), [&](size_t index) {
      TableTally const& t = summary.tables[index];
      JsonObject table(out);
      table.String("object", t.address);
      if (!t.name.empty()) table.String("name", t.name);
      if (t.run >= 0) table.Number("run", static_cast<uint64_t>(t.run) + 1);
      table.Number("calls", t.calls);
      table.Key("policy");
      {
      JsonObject policy(out);
      policy.Number("opens_asked", t.policy.opensAsked);
      policy.Number("opens_granted", t.policy.opensGranted);
      policy.Number("reopened_shared", t.policy.reopenedShared);
      policy.Number("reopen_failed", t.policy.reopenFailed);
      policy.Number("escalated", t.policy.escalated);
      policy.Number("escalation_refused", t.policy.escalationRefused);
      policy.Number("sequences_locked", t.policy.sequencesLocked);
      policy.Number("sequences_skipped_or_unlocked", t.policy.sequencesSkippedOrUnlocked);
      policy.Number("sequences_unlocked", t.policy.sequencesUnlocked);
      }
      PutHoldsJson(table, summary, t);
    });
    // Table objects beyond the first kKeptTables are counted together; every
    // error number is counted, and "other_errors" stays at 0 for the readers
    // of this JSON.
    json.Number("calls_on_uncounted_tables", summary.callsOnOtherTables);
    PutPairingJson(json, paired);

    PutJsonArray(json.Key("errors"), summary.errors, [&](ErrorTally const& e) {
      JsonObject error(out);
      error.String("number", ErrorNumberText(e.number));
      error.Number("count", e.count);
      error.String("text", e.text);
      PutJsonArray(error.Key("lines"), e.lines, [&](uint64_t line) { AppendNumber(out, line); });
      error.Number("lines_more", e.count - e.lines.size());
    });
    json.Number("other_errors", 0);

    RecorderFigures const& recorder = summary.recorder;
    json.Key("recorder_log") += recorder.blocks ? "true" : "false";
    PutJsonArray(json.Key("recorder_blocks"), recorder.kept, [&](RecorderBlock const& block) {
      JsonObject entry(out);
      entry.String("trigger", block.trigger);
      entry.Number("line", block.line);
      entry.Number("pid", block.process);
      entry.Number("tid", block.thread);
      entry.Number("recorded", block.recorded);
      entry.Number("lines", block.lines);
      entry.Key("end_mark") += block.ended ? "true" : "false";
    });
    json.Number("recorder_blocks_more", recorder.blocks - recorder.kept.size());
    // A trigger word comes from the log: a value, never a member's name.
    PutJsonArray(json.Key("recorder_triggers"), recorder.byTrigger, [&](auto const& entry) {
      JsonObject trigger(out);
      trigger.String("trigger", entry.first);
      trigger.Number("blocks", entry.second);
    });
    json.Number("recorder_other_triggers", recorder.otherTriggers);

    PutJsonNotes(json, "bad_line_notes", summary.badNotes, summary.badLines);
    PutJsonOpenCalls(json, forms, paired.openCalls, paired.withoutResult);
    PutTimingJson(json, summary, forms);
    PutLogsJson(json, summary);
    PutRunsJson(json, summary.runs);
    json.Number("runs_more", summary.runCount - summary.runs.size());

    // With a sign of mixing, the figures above that rest on pairing count
    // only the records before its line; those after it stand apart.
    if (summary.mixing.line) {
      json.Key("mixed");
      {
        JsonObject mixing(out);
        mixing.Number("line", summary.mixing.line);
        mixing.String("sign", summary.mixing.sign);
      }
      json.Key("unreliable_after_mixing");
      JsonObject later(out);
      later.Number("calls_by_module", summary.unreliable.callsByModule);
      later.Number("calls_without_result", summary.unreliable.withoutResult);
      later.Number("calls_not_performed", summary.unreliable.notPerformed);
      PutPairingJson(later, summary.unreliable);
      PutJsonOpenCalls(later, forms, summary.unreliable.openCalls, summary.unreliable.withoutResult);
    } else {
      json.Key("mixed") += "null";
    }
  }
  out += '\n';
}

}  // namespace tools
}  // namespace tolvan

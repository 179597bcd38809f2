#include "tools/trace/trace_summary.h"

#include <algorithm>
#include <numeric>

#include "tools/trace/trace_outcome.h"
#include "tools/trace/trace_print.h"

namespace tolvan {
namespace tools {

namespace {

size_t const kListedNotes = 20;      // line numbers listed in the text for each kind of problem
size_t const kListedErrorLines = 5;  // line numbers listed in the text for each error number
size_t const kListedTables = 20;

TableTally& TableOf(Summary& summary, std::string_view address) {
  auto const inserted = summary.tableIndex.emplace(std::string(address), summary.tables.size());
  if (inserted.second) {
    summary.tables.emplace_back();
    summary.tables.back().address = std::string(address);
  }
  return summary.tables[inserted.first->second];
}

void CountError(Summary& summary, Record const& record, Node const& node) {
  ++summary.errorLines;
  auto tally = std::find_if(summary.errors.begin(), summary.errors.end(),
                            [&](ErrorTally const& e) { return e.number == node.errorNumber; });
  if (tally == summary.errors.end()) {
    summary.errors.emplace_back();
    tally = summary.errors.end() - 1;
    tally->number = node.errorNumber;
    tally->text = std::string(record.TextOf(node.text));
  }
  ++tally->count;
  tally->lines.push_back(node.line);
}

// GetTable and AddTable by name tell which table object has which name.
void LearnTableName(Summary& summary, OperationForms const& forms, Record const& record, Node const& node) {
  if (node.status != kCompleted) return;
  std::string_view const address = ResultItemOf(forms, record, node);
  if (address.empty() || IsMaskedPointer(address) || address.find_first_not_of('0') == std::string_view::npos) return;
  TableOf(summary, address).name = std::string(record.TextOf(node.arguments));
}

// The global figure, the table's own and the event of one outcome.
void CountOutcome(Summary& summary, TablePolicy* table, PolicyOutcome outcome, int op, CountedEvent* event) {
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
  // HOOK(issue 17): a refused exclusive open inside Pack, ReIndex or Clear
  // counts policy.escalationRefused and is a kRefusedEscalationEvent; a failed
  // shared reopen counts policy.reopenFailed and is a kFailedReopenEvent.
}

void CountCall(Summary& summary, OperationForms const& forms, Record const& record, int index,
               CountedEvents* events) {
  Node const& node = record.nodes[index];
  OperationForm const& form = forms.forms[node.op];
  ++summary.calls;
  ++summary.operationCalls[node.op];
  if (node.parent >= 0) {
    ++summary.callsByModule;
    ++summary.operationCallsByModule[node.op];
  }
  if (form.exchange) ++summary.exchangeLines;
  if (node.status == kWithoutResult) {
    ++summary.withoutResult;
    summary.openNotes.push_back({node.line, form.signature});
  } else if (node.status == kNotPerformed) {
    ++summary.notPerformed;
  }

  std::string_view const object = record.TextOf(node.object);
  if (IsMaskedPointer(object)) {
    summary.sawMaskedAddresses = true;
  } else {
    summary.sawAddresses = true;
  }
  TableTally* const table = form.className == "CTable" ? &TableOf(summary, object) : nullptr;
  if (table) ++table->calls;
  if (node.op == kDataDictionary_GetTable_ByName || node.op == kDataDictionary_AddTable) {
    LearnTableName(summary, forms, record, node);
  }

  if (node.op == kTable_OpenAccess && node.parent < 0 && node.status == kCompleted) {
    if (FirstArgumentOf(forms, record, node) != "1") ++summary.hostOpensNotShared;
    ++table->policy.opensAsked;
    if (ResultItemOf(forms, record, node) != "0") ++table->policy.opensGranted;
  }
  CountedEvent event = kCountedEventKinds;
  CountOutcome(summary, table ? &table->policy : nullptr, OutcomeOf(forms, record, index), node.op, &event);
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

void PutNotes(std::string& out, std::vector<LineNote> const& notes) {
  size_t const listed = std::min(notes.size(), kListedNotes);
  for (size_t i = 0; i < listed; ++i) {
    out += "    line ";
    AppendNumber(out, notes[i].line);
    out += ": ";
    out += notes[i].what;
    out += '\n';
  }
  if (notes.size() > listed) {
    out += "    ... and ";
    AppendNumber(out, notes.size() - listed);
    out += " more\n";
  }
}

char const* const kEscalationNames[3] = {"Pack", "ReIndex", "Clear"};

// The members of one JSON object, with the commas between them.
class JsonObject {
 public:
  explicit JsonObject(std::string& out) : out_(out) { out_ += '{'; }
  ~JsonObject() { out_ += '}'; }
  std::string& Key(char const* key) {
    if (!first_) out_ += ',';
    first_ = false;
    out_ += '"';
    out_ += key;
    out_ += "\":";
    return out_;
  }
  void Number(char const* key, uint64_t value) { AppendNumber(Key(key), value); }
  void String(char const* key, std::string_view value) { AppendJsonString(Key(key), value); }

 private:
  std::string& out_;
  bool first_ = true;
};

void PutJsonNotes(JsonObject& json, char const* key, std::vector<LineNote> const& notes) {
  std::string& out = json.Key(key);
  out += '[';
  for (size_t i = 0; i < notes.size(); ++i) {
    if (i) out += ',';
    JsonObject note(out);
    note.Number("line", notes[i].line);
    note.String("what", notes[i].what);
  }
  out += ']';
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

TableTally const* FindTable(Summary const& summary, std::string_view address) {
  auto const found = summary.tableIndex.find(std::string(address));
  return found == summary.tableIndex.end() ? nullptr : &summary.tables[found->second];
}

void CountRecord(Summary& summary, OperationForms const& forms, Record const& record, CountedEvents* events) {
  for (size_t i = 0; i < record.nodes.size(); ++i) {
    Node const& node = record.nodes[i];
    switch (node.kind) {
      case kCallNode:
        CountCall(summary, forms, record, static_cast<int>(i), events);
        break;
      case kErrorNode:
        CountError(summary, record, node);
        if (events) events->Counted(kErrorEvent, node.line, record);
        break;
      case kBadNode:
        ++summary.badLines;
        summary.badNotes.push_back({node.line, node.problem});
        break;
    }
  }
}

void PrintSummary(std::string& out, Summary const& summary, OperationForms const& forms, std::string_view source) {
  out += "Trace ";
  out += source;
  out += '\n';
  PutLine(out, 0, "lines", summary.lines);
  PutLine(out, 0, "bytes", summary.bytes);
  PutLine(out, 0, "calls", summary.calls);
  PutLine(out, 2, "made by the module's policy (nested in a host call)", summary.callsByModule);
  PutLine(out, 2, "field-exchange lines", summary.exchangeLines);
  PutLine(out, 0, "numbered error lines of the module", summary.errorLines);
  PutLine(out, 0, "lines that could not be read", summary.badLines);

  out += "\nCalls per operation (of them made by the module)\n";
  for (size_t const op : OperationsByCalls(summary)) {
    AppendPadded(out, summary.operationCalls[op], 10);
    if (summary.operationCallsByModule[op]) {
      out += " (";
      AppendNumber(out, summary.operationCallsByModule[op]);
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
    out += '\n';
  }
  if (tables.size() > listed) {
    out += "    ... and ";
    AppendNumber(out, tables.size() - listed);
    out += " more table objects\n";
  }

  out += "\nShare forcing (CTable::OpenAccess)\n";
  PutLine(out, 2, "host opens asking for other than shared use", summary.hostOpensNotShared);
  PutLine(out, 2, "reopened shared: nested CloseAccess(1), then the engine's shared reopen", summary.reopenedShared);
  PutLine(out, 2, "forced close failed: table left closed, result 0", summary.closeFailed);
  PutLine(out, 2, "left as asked: ZKUSERS, a dictionary opened empty, restructuring or Tolvan32_NoShare",
          summary.leftAsAsked);
  PutLine(out, 2, "refused by the engine (result 0): nothing to force", summary.refusedByEngine);

  out += "\nExclusive use for Pack, ReIndex and Clear\n";
  for (int i = 0; i < 3; ++i) {
    AppendPadded(out, summary.escalated[i], 10);
    out += "    ";
    out += kEscalationNames[i];
    out += " escalated (closed, reopened exclusive, restored), ";
    AppendNumber(out, summary.alreadyExclusive[i]);
    out += " on a table already exclusive\n";
  }

  out += "\nRead sequences (CTable::BeginReadSequence)\n";
  PutLine(out, 2, "table locked first (nested PutTLock)", summary.sequencesLocked);
  PutLine(out, 2, "result 1 without PutTLock: skipped, or passed on unlocked under Tolvan32_NoSEQ",
          summary.sequencesSkippedOrUnlocked);
  PutLine(out, 2, "other result without PutTLock: passed on unlocked (Tolvan32_NoSEQ)", summary.sequencesUnlocked);
  if (summary.sequencesSkippedOrUnlocked) {
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
    if (e.lines.size() > listedLines) out += ", ...";
    out += '\n';
  }

  if (summary.badLines) {
    out += "\nLines that could not be read\n";
    PutNotes(out, summary.badNotes);
  }
  if (summary.withoutResult) {
    out += "\nCalls without their result line (an engine exception passed through, the process ended, or the log was cut)\n";
    PutNotes(out, summary.openNotes);
  }
  if (summary.notPerformed) {
    PutLine(out, 0, "calls not performed: the engine entry was missing (error #002)", summary.notPerformed);
  }
}

void PrintSummaryJson(std::string& out, Summary const& summary, OperationForms const& forms,
                      std::string_view source) {
  {
    JsonObject json(out);
    json.String("source", source);
    json.Number("lines", summary.lines);
    json.Number("bytes", summary.bytes);
    json.Number("calls", summary.calls);
    json.Number("calls_by_module", summary.callsByModule);
    json.Number("exchange_lines", summary.exchangeLines);
    json.Number("error_lines", summary.errorLines);
    json.Number("bad_lines", summary.badLines);
    json.Number("calls_without_result", summary.withoutResult);
    json.Number("calls_not_performed", summary.notPerformed);

    json.Key("operations") += '[';
    bool firstOperation = true;
    for (int op = 0; op < kOperationCount; ++op) {
      if (!summary.operationCalls[op]) continue;
      if (!firstOperation) out += ',';
      firstOperation = false;
      JsonObject operation(out);
      operation.String("operation", forms.forms[op].signature);
      operation.Number("calls", summary.operationCalls[op]);
      operation.Number("by_module", summary.operationCallsByModule[op]);
    }
    out += ']';

    json.Key("tables") += '[';
    std::vector<size_t> const tables = TablesByCalls(summary);
    for (size_t i = 0; i < tables.size(); ++i) {
      TableTally const& t = summary.tables[tables[i]];
      if (i) out += ',';
      JsonObject table(out);
      table.String("object", t.address);
      if (!t.name.empty()) table.String("name", t.name);
      table.Number("calls", t.calls);
      table.Key("policy");
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
    out += ']';
    // Every table object and every error number is counted now; the two keys
    // that told how many were not stay, at 0, for the readers of this JSON.
    json.Number("calls_on_uncounted_tables", 0);

    {
      json.Key("share_forcing");
      JsonObject share(out);
      share.Number("host_opens_not_shared", summary.hostOpensNotShared);
      share.Number("reopened_shared", summary.reopenedShared);
      share.Number("close_failed", summary.closeFailed);
      share.Number("left_as_asked", summary.leftAsAsked);
      share.Number("refused_by_engine", summary.refusedByEngine);
    }
    {
      json.Key("exclusive_use");
      JsonObject exclusive(out);
      for (int i = 0; i < 3; ++i) {
        exclusive.Key(kEscalationNames[i]);
        JsonObject operation(out);
        operation.Number("escalated", summary.escalated[i]);
        operation.Number("already_exclusive", summary.alreadyExclusive[i]);
      }
    }
    {
      json.Key("read_sequences");
      JsonObject sequences(out);
      sequences.Number("locked", summary.sequencesLocked);
      sequences.Number("skipped_or_unlocked", summary.sequencesSkippedOrUnlocked);
      sequences.Number("unlocked", summary.sequencesUnlocked);
    }

    json.Key("errors") += '[';
    for (size_t i = 0; i < summary.errors.size(); ++i) {
      ErrorTally const& e = summary.errors[i];
      if (i) out += ',';
      JsonObject error(out);
      error.String("number", ErrorNumberText(e.number));
      error.Number("count", e.count);
      error.String("text", e.text);
      error.Key("lines") += '[';
      for (size_t j = 0; j < e.lines.size(); ++j) {
        if (j) out += ',';
        AppendNumber(out, e.lines[j]);
      }
      out += ']';
    }
    out += ']';
    json.Number("other_errors", 0);

    PutJsonNotes(json, "bad_line_notes", summary.badNotes);
    PutJsonNotes(json, "without_result_notes", summary.openNotes);
  }
  out += '\n';
}

}  // namespace tools
}  // namespace tolvan

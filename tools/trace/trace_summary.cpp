#include "tools/trace/trace_summary.h"

#include "tools/common/tool_crt.h"
#include "tools/trace/trace_outcome.h"
#include "tools/trace/trace_print.h"

namespace tolvan {
namespace tools {

namespace {

uint32_t HashAddress(Span address) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < address.length; ++i) hash = (hash ^ static_cast<unsigned char>(address.data[i])) * 16777619u;
  return hash;
}

// The slot of an address; with `add`, a new slot when it has none and there
// is room. Null when the address has no slot.
TableTally* TableSlot(Summary& summary, Span address, bool add) {
  if (address.length == 0 || address.length > 16) return nullptr;
  uint32_t slot = HashAddress(address) % kTableSlots;
  while (summary.tables[slot].addressLength) {
    TableTally& tally = summary.tables[slot];
    if (tally.addressLength == address.length && memcmp(tally.address, address.data, address.length) == 0) {
      return &tally;
    }
    slot = (slot + 1) % kTableSlots;
  }
  if (!add || summary.tableCount == kMaxTables) return nullptr;
  TableTally& tally = summary.tables[slot];
  tally.addressLength = static_cast<uint8_t>(address.length);
  memcpy(tally.address, address.data, address.length);
  ++summary.tableCount;
  return &tally;
}

void Note(LineNote* notes, int& count, uint64_t line, char const* what) {
  if (count == kKeptNotes) return;
  notes[count].line = line;
  notes[count].what = what;
  ++count;
}

void CountError(Summary& summary, Record const& record, Node const& node) {
  ++summary.errorLines;
  ErrorTally* tally = nullptr;
  for (int i = 0; i < summary.errorKinds; ++i) {
    if (summary.errors[i].number == node.errorNumber) tally = &summary.errors[i];
  }
  if (!tally) {
    if (summary.errorKinds == kErrorKinds) {
      ++summary.otherErrors;
      return;
    }
    tally = &summary.errors[summary.errorKinds++];
    tally->number = node.errorNumber;
    Span const text = TextOf(record, node.text);
    tally->textLength = static_cast<int>(text.length < kErrorTextLength ? text.length : kErrorTextLength);
    memcpy(tally->text, text.data, static_cast<size_t>(tally->textLength));
  }
  ++tally->count;
  if (tally->linesKept < kErrorLinesKept) tally->lines[tally->linesKept++] = node.line;
}

// GetTable and AddTable by name tell which table object has which name.
void LearnTableName(Summary& summary, OperationForms const& forms, Record const& record, Node const& node) {
  if (node.status != kCompleted) return;
  Span const address = ResultItemOf(forms, record, node);
  if (IsMaskedPointer(address)) return;
  bool null = true;
  for (size_t i = 0; i < address.length; ++i) null = null && address.data[i] == '0';
  if (null) return;
  TableTally* tally = TableSlot(summary, address, true);
  if (!tally) return;
  Span const name = TextOf(record, node.arguments);
  tally->nameLength = static_cast<uint8_t>(name.length < kTableNameLength ? name.length : kTableNameLength);
  memcpy(tally->name, name.data, tally->nameLength);
}

void CountCall(Summary& summary, OperationForms const& forms, Record const& record, int index) {
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
    Note(summary.openNotes, summary.openNoteCount, node.line, form.signature);
  } else if (node.status == kNotPerformed) {
    ++summary.notPerformed;
  }

  Span const object = TextOf(record, node.object);
  if (IsMaskedPointer(object)) {
    summary.sawMaskedAddresses = true;
  } else {
    summary.sawAddresses = true;
  }
  if (form.classLength == 6 && memcmp(form.signature, "CTable", 6) == 0) {
    TableTally* tally = TableSlot(summary, object, true);
    if (tally) {
      ++tally->calls;
    } else {
      ++summary.callsOnUncountedTables;
    }
  }
  if (node.op == kDataDictionary_GetTable_ByName || node.op == kDataDictionary_AddTable) {
    LearnTableName(summary, forms, record, node);
  }

  if (node.op == kTable_OpenAccess && node.parent < 0 && node.status == kCompleted &&
      !SpanEquals(FirstArgumentOf(forms, record, node), "1")) {
    ++summary.hostOpensNotShared;
  }
  int const escalation = node.op == kTable_Pack ? 0 : node.op == kTable_ReIndex ? 1 : node.op == kTable_Clear ? 2 : -1;
  switch (OutcomeOf(forms, record, index)) {
    case kReopenedShared:
      ++summary.reopenedShared;
      break;
    case kCloseFailed:
      ++summary.closeFailed;
      break;
    case kLeftAsAsked:
      ++summary.leftAsAsked;
      break;
    case kRefusedByEngine:
      ++summary.refusedByEngine;
      break;
    case kEscalated:
      ++summary.escalated[escalation];
      break;
    case kAlreadyExclusive:
      ++summary.alreadyExclusive[escalation];
      break;
    case kSequenceLocked:
      ++summary.sequencesLocked;
      break;
    case kSequenceSkippedOrUnlocked:
      ++summary.sequencesSkippedOrUnlocked;
      break;
    case kSequenceUnlocked:
      ++summary.sequencesUnlocked;
      break;
    case kNoOutcome:
      break;
  }
}

// Table objects by calls, most first: the index of the next one after
// (calls, slot) in that order, or -1.
int NextBusiestTable(Summary const& summary, uint64_t calls, int slot) {
  int best = -1;
  for (int i = 0; i < kTableSlots; ++i) {
    TableTally const& t = summary.tables[i];
    if (!t.addressLength) continue;
    bool const after = t.calls < calls || (t.calls == calls && i > slot);
    if (!after) continue;
    if (best < 0 || t.calls > summary.tables[best].calls) best = i;
  }
  return best;
}

// Operations by calls, most first, ties in table order.
int NextBusiestOperation(Summary const& summary, uint64_t calls, int op) {
  int best = -1;
  for (int i = 0; i < kOperationCount; ++i) {
    uint64_t const c = summary.operationCalls[i];
    if (!c) continue;
    bool const after = c < calls || (c == calls && i > op);
    if (!after) continue;
    if (best < 0 || c > summary.operationCalls[best]) best = i;
  }
  return best;
}

// A figure and what it counts; the label is indented under its heading.
void PutLine(Output& out, int indent, char const* label, uint64_t value) {
  PutNumberPadded(out, value, 10);
  PutSpaces(out, 2 + indent);
  Put(out, label);
  Put(out, "\n");
}

void PutNotes(Output& out, LineNote const* notes, int count, uint64_t total) {
  for (int i = 0; i < count; ++i) {
    Put(out, "    line ");
    PutNumber(out, notes[i].line);
    Put(out, ": ");
    Put(out, notes[i].what);
    Put(out, "\n");
  }
  if (total > static_cast<uint64_t>(count)) {
    Put(out, "    ... and ");
    PutNumber(out, total - static_cast<uint64_t>(count));
    Put(out, " more\n");
  }
}

char const* const kEscalationNames[3] = {"Pack", "ReIndex", "Clear"};

void PutJsonKey(Output& out, char const* key, bool& first) {
  if (!first) PutChar(out, ',');
  first = false;
  PutChar(out, '"');
  Put(out, key);
  Put(out, "\":");
}

void PutJsonNumber(Output& out, char const* key, uint64_t value, bool& first) {
  PutJsonKey(out, key, first);
  PutNumber(out, value);
}

void PutJsonNotes(Output& out, char const* key, LineNote const* notes, int count, bool& first) {
  PutJsonKey(out, key, first);
  PutChar(out, '[');
  for (int i = 0; i < count; ++i) {
    if (i) PutChar(out, ',');
    Put(out, "{\"line\":");
    PutNumber(out, notes[i].line);
    Put(out, ",\"what\":");
    PutJsonString(out, Span{notes[i].what, strlen(notes[i].what)});
    PutChar(out, '}');
  }
  PutChar(out, ']');
}

void PutErrorNumber(Output& out, int number) {
  PutChar(out, static_cast<char>('0' + number / 100 % 10));
  PutChar(out, static_cast<char>('0' + number / 10 % 10));
  PutChar(out, static_cast<char>('0' + number % 10));
}

}  // namespace

void ResetSummary(Summary& summary) { memset(&summary, 0, sizeof summary); }

TableTally const* FindTable(Summary const& summary, Span address) {
  return TableSlot(const_cast<Summary&>(summary), address, false);
}

void CountRecord(Summary& summary, OperationForms const& forms, Record const& record) {
  if (record.textCut) ++summary.recordsWithCutText;
  for (int i = 0; i < record.nodeCount; ++i) {
    Node const& node = record.nodes[i];
    switch (node.kind) {
      case kCallNode:
        CountCall(summary, forms, record, i);
        break;
      case kErrorNode:
        CountError(summary, record, node);
        break;
      case kBadNode:
        ++summary.badLines;
        Note(summary.badNotes, summary.badNoteCount, node.line, node.problem);
        break;
    }
  }
}

void PrintSummary(Output& out, Summary const& summary, OperationForms const& forms, char const* source) {
  Put(out, "Trace ");
  Put(out, source);
  Put(out, "\n");
  PutLine(out, 0, "lines", summary.lines);
  PutLine(out, 0, "bytes", summary.bytes);
  PutLine(out, 0, "calls", summary.calls);
  PutLine(out, 2, "made by the module's policy (nested in a host call)", summary.callsByModule);
  PutLine(out, 2, "field-exchange lines", summary.exchangeLines);
  PutLine(out, 0, "numbered error lines of the module", summary.errorLines);
  PutLine(out, 0, "lines that could not be read", summary.badLines);

  Put(out, "\nCalls per operation (of them made by the module)\n");
  for (int op = NextBusiestOperation(summary, ~0ull, -1); op >= 0;
       op = NextBusiestOperation(summary, summary.operationCalls[op], op)) {
    PutNumberPadded(out, summary.operationCalls[op], 10);
    if (summary.operationCallsByModule[op]) {
      Put(out, " (");
      PutNumber(out, summary.operationCallsByModule[op]);
      Put(out, ")");
    }
    Put(out, "  ");
    Put(out, forms.forms[op].signature);
    Put(out, "\n");
  }

  Put(out, "\nCalls per table object\n");
  if (summary.sawMaskedAddresses && !summary.sawAddresses) {
    Put(out, "  (the masked log writes every address as dots: read C:\\Tolvan32_a.log to tell tables apart)\n");
  }
  int shown = 0;
  for (int slot = NextBusiestTable(summary, ~0ull, -1); slot >= 0 && shown < 20;
       slot = NextBusiestTable(summary, summary.tables[slot].calls, slot), ++shown) {
    TableTally const& t = summary.tables[slot];
    PutNumberPadded(out, t.calls, 10);
    Put(out, "  ");
    PutBytes(out, t.address, t.addressLength);
    if (t.nameLength) {
      Put(out, "  ");
      PutVisible(out, Span{t.name, t.nameLength});
    }
    Put(out, "\n");
  }
  if (summary.tableCount > shown) {
    Put(out, "    ... and ");
    PutNumber(out, static_cast<uint64_t>(summary.tableCount - shown));
    Put(out, " more table objects\n");
  }
  if (summary.callsOnUncountedTables) PutLine(out, 2, "calls on table objects beyond those counted", summary.callsOnUncountedTables);

  Put(out, "\nShare forcing (CTable::OpenAccess)\n");
  PutLine(out, 2, "host opens asking for other than shared use", summary.hostOpensNotShared);
  PutLine(out, 2, "reopened shared: nested CloseAccess(1), then the engine's shared reopen", summary.reopenedShared);
  PutLine(out, 2, "forced close failed: table left closed, result 0", summary.closeFailed);
  PutLine(out, 2, "left as asked: ZKUSERS, a dictionary opened empty, restructuring or Tolvan32_NoShare",
          summary.leftAsAsked);
  PutLine(out, 2, "refused by the engine (result 0): nothing to force", summary.refusedByEngine);

  Put(out, "\nExclusive use for Pack, ReIndex and Clear\n");
  for (int i = 0; i < 3; ++i) {
    PutNumberPadded(out, summary.escalated[i], 10);
    Put(out, "    ");
    Put(out, kEscalationNames[i]);
    Put(out, " escalated (closed, reopened exclusive, restored), ");
    PutNumber(out, summary.alreadyExclusive[i]);
    Put(out, " on a table already exclusive\n");
  }

  Put(out, "\nRead sequences (CTable::BeginReadSequence)\n");
  PutLine(out, 2, "table locked first (nested PutTLock)", summary.sequencesLocked);
  PutLine(out, 2, "result 1 without PutTLock: skipped, or passed on unlocked under Tolvan32_NoSEQ", summary.sequencesSkippedOrUnlocked);
  PutLine(out, 2, "other result without PutTLock: passed on unlocked (Tolvan32_NoSEQ)", summary.sequencesUnlocked);
  if (summary.sequencesSkippedOrUnlocked) {
    Put(out,
        "  A skipped sequence and one passed on under Tolvan32_NoSEQ both show result 1 and no\n"
        "  PutTLock; the log cannot tell them apart. A run that also shows locked sequences had\n"
        "  Tolvan32_NoSEQ off, so its sequences with result 1 and no PutTLock were skipped.\n");
  }

  Put(out, "\nModule errors\n");
  if (!summary.errorKinds) Put(out, "                none\n");
  for (int i = 0; i < summary.errorKinds; ++i) {
    ErrorTally const& e = summary.errors[i];
    PutNumberPadded(out, e.count, 10);
    Put(out, "    ");
    PutVisible(out, Span{e.text, static_cast<size_t>(e.textLength)});
    Put(out, "\n                lines");
    for (int j = 0; j < e.linesKept; ++j) {
      Put(out, j ? ", " : " ");
      PutNumber(out, e.lines[j]);
    }
    if (e.count > static_cast<uint64_t>(e.linesKept)) Put(out, ", ...");
    Put(out, "\n");
  }
  if (summary.otherErrors) PutLine(out, 2, "further error lines of other numbers", summary.otherErrors);

  if (summary.badLines) {
    Put(out, "\nLines that could not be read\n");
    PutNotes(out, summary.badNotes, summary.badNoteCount, summary.badLines);
  }
  if (summary.withoutResult) {
    Put(out, "\nCalls without their result line (an engine exception passed through, the process ended, or the log was cut)\n");
    PutNotes(out, summary.openNotes, summary.openNoteCount, summary.withoutResult);
  }
  if (summary.notPerformed) {
    PutLine(out, 0, "calls not performed: the engine entry was missing (error #002)", summary.notPerformed);
  }
  if (summary.recordsWithCutText) {
    PutLine(out, 0, "records too long to keep whole (their text is shortened in 'show')", summary.recordsWithCutText);
  }
}

void PrintSummaryJson(Output& out, Summary const& summary, OperationForms const& forms, char const* source) {
  bool first = true;
  PutChar(out, '{');
  PutJsonKey(out, "source", first);
  PutJsonString(out, Span{source, strlen(source)});
  PutJsonNumber(out, "lines", summary.lines, first);
  PutJsonNumber(out, "bytes", summary.bytes, first);
  PutJsonNumber(out, "calls", summary.calls, first);
  PutJsonNumber(out, "calls_by_module", summary.callsByModule, first);
  PutJsonNumber(out, "exchange_lines", summary.exchangeLines, first);
  PutJsonNumber(out, "error_lines", summary.errorLines, first);
  PutJsonNumber(out, "bad_lines", summary.badLines, first);
  PutJsonNumber(out, "calls_without_result", summary.withoutResult, first);
  PutJsonNumber(out, "calls_not_performed", summary.notPerformed, first);

  PutJsonKey(out, "operations", first);
  PutChar(out, '[');
  bool firstOperation = true;
  for (int op = 0; op < kOperationCount; ++op) {
    if (!summary.operationCalls[op]) continue;
    if (!firstOperation) PutChar(out, ',');
    firstOperation = false;
    bool firstField = true;
    PutChar(out, '{');
    PutJsonKey(out, "operation", firstField);
    PutJsonString(out, Span{forms.forms[op].signature, forms.forms[op].signatureLength});
    PutJsonNumber(out, "calls", summary.operationCalls[op], firstField);
    PutJsonNumber(out, "by_module", summary.operationCallsByModule[op], firstField);
    PutChar(out, '}');
  }
  PutChar(out, ']');

  PutJsonKey(out, "tables", first);
  PutChar(out, '[');
  bool firstTable = true;
  for (int slot = NextBusiestTable(summary, ~0ull, -1); slot >= 0;
       slot = NextBusiestTable(summary, summary.tables[slot].calls, slot)) {
    TableTally const& t = summary.tables[slot];
    if (!firstTable) PutChar(out, ',');
    firstTable = false;
    bool firstField = true;
    PutChar(out, '{');
    PutJsonKey(out, "object", firstField);
    PutJsonString(out, Span{t.address, t.addressLength});
    if (t.nameLength) {
      PutJsonKey(out, "name", firstField);
      PutJsonString(out, Span{t.name, t.nameLength});
    }
    PutJsonNumber(out, "calls", t.calls, firstField);
    PutChar(out, '}');
  }
  PutChar(out, ']');
  PutJsonNumber(out, "calls_on_uncounted_tables", summary.callsOnUncountedTables, first);

  PutJsonKey(out, "share_forcing", first);
  bool firstField = true;
  PutChar(out, '{');
  PutJsonNumber(out, "host_opens_not_shared", summary.hostOpensNotShared, firstField);
  PutJsonNumber(out, "reopened_shared", summary.reopenedShared, firstField);
  PutJsonNumber(out, "close_failed", summary.closeFailed, firstField);
  PutJsonNumber(out, "left_as_asked", summary.leftAsAsked, firstField);
  PutJsonNumber(out, "refused_by_engine", summary.refusedByEngine, firstField);
  PutChar(out, '}');

  PutJsonKey(out, "exclusive_use", first);
  PutChar(out, '{');
  firstField = true;
  for (int i = 0; i < 3; ++i) {
    PutJsonKey(out, kEscalationNames[i], firstField);
    bool firstPart = true;
    PutChar(out, '{');
    PutJsonNumber(out, "escalated", summary.escalated[i], firstPart);
    PutJsonNumber(out, "already_exclusive", summary.alreadyExclusive[i], firstPart);
    PutChar(out, '}');
  }
  PutChar(out, '}');

  PutJsonKey(out, "read_sequences", first);
  PutChar(out, '{');
  firstField = true;
  PutJsonNumber(out, "locked", summary.sequencesLocked, firstField);
  PutJsonNumber(out, "skipped_or_unlocked", summary.sequencesSkippedOrUnlocked, firstField);
  PutJsonNumber(out, "unlocked", summary.sequencesUnlocked, firstField);
  PutChar(out, '}');

  PutJsonKey(out, "errors", first);
  PutChar(out, '[');
  for (int i = 0; i < summary.errorKinds; ++i) {
    ErrorTally const& e = summary.errors[i];
    if (i) PutChar(out, ',');
    bool firstPart = true;
    PutChar(out, '{');
    PutJsonKey(out, "number", firstPart);
    PutChar(out, '"');
    PutErrorNumber(out, e.number);
    PutChar(out, '"');
    PutJsonNumber(out, "count", e.count, firstPart);
    PutJsonKey(out, "text", firstPart);
    PutJsonString(out, Span{e.text, static_cast<size_t>(e.textLength)});
    PutJsonKey(out, "lines", firstPart);
    PutChar(out, '[');
    for (int j = 0; j < e.linesKept; ++j) {
      if (j) PutChar(out, ',');
      PutNumber(out, e.lines[j]);
    }
    Put(out, "]}");
  }
  PutChar(out, ']');
  PutJsonNumber(out, "other_errors", summary.otherErrors, first);

  PutJsonNotes(out, "bad_line_notes", summary.badNotes, summary.badNoteCount, first);
  PutJsonNotes(out, "without_result_notes", summary.openNotes, summary.openNoteCount, first);
  Put(out, "}\n");
}

}  // namespace tools
}  // namespace tolvan

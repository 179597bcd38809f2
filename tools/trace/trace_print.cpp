#include "tools/trace/trace_print.h"

#include <charconv>

#include "tools/trace/trace_outcome.h"
#include "tools/trace/trace_summary.h"

namespace tolvan {
namespace tools {

namespace {

char const kHexDigits[] = "0123456789abcdef";

}  // namespace

char const* StatusKey(CallStatus status) {
  switch (status) {
    case kAwaitingResult:
    case kWithoutResult:
      return "without_result";
    case kCompleted:
      return "completed";
    case kSingleLine:
      return "single_line";
    case kNotPerformed:
      return "not_performed";
  }
  return "";
}

namespace {

// What the engine took, in a timed log.
void AppendDuration(std::string& out, Node const& node) {
  if (node.duration < 0) return;
  out += "  (";
  AppendNumber(out, static_cast<uint64_t>(node.duration));
  out += " us)";
}

void PutJsonTimes(std::string& out, Node const& node) {
  for (auto const& [key, micros] : {std::pair<char const*, int64_t>{"time", node.time}, {"result_time", node.resultTime}}) {
    if (micros < 0) continue;
    out += ",\"";
    out += key;
    out += "\":\"";
    AppendTimeOfDay(out, micros);
    out += '"';
  }
  if (node.duration >= 0) {
    out += ",\"duration_us\":";
    AppendNumber(out, static_cast<uint64_t>(node.duration));
  }
}

bool IsProblem(Node const& node) {
  return (node.kind != kCallNode && node.kind != kMarkNode) || node.status == kWithoutResult ||
         node.status == kNotPerformed || node.entryMissing;
}

void PutTreeNode(std::string& out, OperationForms const& forms, Record const& record, int index, int depth) {
  Node const& node = record.nodes[index];
  AppendPadded(out, node.line, 8);
  if (node.time >= 0) {
    out += "  ";
    AppendTimeOfDay(out, node.time);
  }
  out.append(2 + 2 * depth, ' ');
  if (depth == 0 && record.stream.ids.present) {
    out += '[';
    AppendNumber(out, record.stream.ids.process);
    out += ':';
    AppendNumber(out, record.stream.ids.thread);
    out += "] ";
  }
  switch (node.kind) {
    case kErrorNode:
      AppendVisible(out, record.TextOf(node.text));
      break;
    case kBadNode:
      out += "?? ";
      out += node.problem;
      out += ": ";
      AppendVisible(out, record.TextOf(node.text));
      break;
    case kBeforeStartNode:
      out += "(a call made before the log's first line)  => ";
      AppendVisible(out, record.TextOf(node.result));
      out += "  [result line ";
      AppendNumber(out, node.resultLine);
      out += ']';
      AppendDuration(out, node);
      break;
    case kMarkNode:
      if (node.text.length) {
        out += "*** Recorder *** ";
        AppendVisible(out, record.TextOf(node.text));
        out += ' ';
        AppendNumber(out, node.recordedLines);
      } else {
        out += "*** Recorder end ***";
      }
      break;
    case kCallNode: {
      OperationForm const& form = forms.forms[node.op];
      AppendVisible(out, record.TextOf(node.object));
      out += ' ';
      out += form.signature;
      std::string_view const arguments = record.TextOf(node.arguments);
      if (!arguments.empty()) {
        out += ' ';
        AppendVisible(out, arguments);
      }
      if (node.status == kCompleted) {
        out += "  => ";
        AppendVisible(out, record.TextOf(node.result));
      }
      AppendDuration(out, node);
      char const* note = OutcomeNote(OutcomeOf(forms, record, index));
      if (node.status == kWithoutResult) note = "no result line";
      if (node.status == kNotPerformed || (node.status == kSingleLine && node.entryMissing)) {
        note = "not performed: engine entry missing";
      }
      if (record.unreliable) {
        // After a sign of mixing neither the pairing nor what it tells is proved.
        out += *note ? "  [unreliable: " : "  [unreliable pairing";
        out += note;
        out += ']';
      } else if (*note) {
        out += "  [";
        out += note;
        out += ']';
      }
      break;
    }
  }
  out += '\n';
  for (int child = node.firstChild; child >= 0; child = record.nodes[child].nextSibling) {
    PutTreeNode(out, forms, record, child, depth + 1);
  }
}

void PutKey(std::string& out, char const* key) {
  out += ",\"";
  out += key;
  out += "\":";
}

// An item as a JSON value: integers as numbers, everything else as strings.
void PutJsonItem(std::string& out, std::string_view item, bool integer) {
  if (integer && IsIntegerItem(item)) {
    out += item;
  } else {
    AppendJsonString(out, item);
  }
}

void PutJsonNode(std::string& out, OperationForms const& forms, Record const& record, int index) {
  Node const& node = record.nodes[index];
  out += "{\"line\":";
  AppendNumber(out, node.line);
  PutJsonTimes(out, node);
  if (index == 0 && record.stream.ids.present) {
    PutKey(out, "process");
    AppendNumber(out, record.stream.ids.process);
    PutKey(out, "thread");
    AppendNumber(out, record.stream.ids.thread);
    if (record.stream.run >= 0) {
      PutKey(out, "run");
      AppendNumber(out, static_cast<uint64_t>(record.stream.run) + 1);
    }
  }
  switch (node.kind) {
    case kErrorNode:
      out += ",\"type\":\"error\",\"number\":";
      AppendNumber(out, static_cast<uint64_t>(node.errorNumber));
      PutKey(out, "text");
      AppendJsonString(out, record.TextOf(node.text));
      break;
    case kBadNode:
      out += ",\"type\":\"unreadable\"";
      PutKey(out, "problem");
      AppendJsonString(out, node.problem);
      PutKey(out, "text");
      AppendJsonString(out, record.TextOf(node.text));
      break;
    case kBeforeStartNode:
      out += ",\"type\":\"before_start\"";
      PutKey(out, "result_line");
      AppendNumber(out, node.resultLine);
      PutKey(out, "result_text");
      AppendJsonString(out, record.TextOf(node.result));
      break;
    case kMarkNode:
      if (node.text.length) {
        out += ",\"type\":\"recorder\"";
        PutKey(out, "trigger");
        AppendJsonString(out, record.TextOf(node.text));
        PutKey(out, "recorded");
        AppendNumber(out, node.recordedLines);
      } else {
        out += ",\"type\":\"recorder_end\"";
      }
      break;
    case kCallNode: {
      OperationForm const& form = forms.forms[node.op];
      out += form.exchange ? ",\"type\":\"exchange\"" : ",\"type\":\"call\"";
      PutKey(out, "object");
      AppendJsonString(out, record.TextOf(node.object));
      PutKey(out, "operation");
      AppendJsonString(out, form.signature);
      std::string_view const argumentText = record.TextOf(node.arguments);
      PutKey(out, "arguments_text");
      AppendJsonString(out, argumentText);
      ArgumentItems arguments;
      if (SplitArguments(form, argumentText, arguments) && arguments.split) {
        PutKey(out, "arguments");
        out += '[';
        for (size_t i = 0; i < arguments.items.size(); ++i) {
          if (i) out += ',';
          PutJsonItem(out, arguments.items[i], form.arguments[i] == kIntegerItem);
        }
        out += ']';
      }
      PutKey(out, "status");
      out += '"';
      out += StatusKey(node.status);
      out += '"';
      if (node.entryMissing || node.status == kNotPerformed) out += ",\"entry_missing\":true";
      ResultItems items;
      if (node.status == kCompleted && SplitResult(form, record.TextOf(node.result), items)) {
        PutKey(out, "result_line");
        AppendNumber(out, node.resultLine);
        if (form.result == kFieldResult) {
          PutKey(out, "field");
          if (items.nullField) {
            out += "null";
          } else {
            out += "{\"name\":";
            AppendJsonString(out, items.fieldName);
            out += ",\"words\":[";
            PutJsonItem(out, items.fieldWords[0], true);
            out += ',';
            PutJsonItem(out, items.fieldWords[1], true);
            out += "]}";
          }
        } else if (!items.result.empty()) {
          PutKey(out, "result");
          PutJsonItem(out, items.result, form.result == kIntegerResult);
        }
        if (items.stateCount) {
          PutKey(out, "state");
          out += '[';
          for (int i = 0; i < items.stateCount; ++i) {
            if (i) out += ',';
            PutJsonItem(out, items.state[i], true);
          }
          out += ']';
        }
      }
      char const* policy = OutcomeKey(OutcomeOf(forms, record, index));
      if (*policy) {
        PutKey(out, "policy");
        out += '"';
        out += policy;
        out += '"';
      }
      if (record.unreliable) out += ",\"pairing\":\"unreliable\"";
      break;
    }
  }
  if (node.firstChild >= 0) {
    PutKey(out, "children");
    out += '[';
    for (int child = node.firstChild; child >= 0; child = record.nodes[child].nextSibling) {
      if (child != node.firstChild) out += ',';
      PutJsonNode(out, forms, record, child);
    }
    out += ']';
  }
  out += '}';
}

}  // namespace

bool AddOperationFilter(RecordFilter& filter, OperationForms const& forms, std::string_view name) {
  bool found = false;
  for (int op = 0; op < kOperationCount; ++op) {
    if (OperationNamed(forms.forms[op], name)) {
      filter.operations[op] = true;
      found = true;
    }
  }
  filter.anyOperation = filter.anyOperation || found;
  return found;
}

bool SetObjectFilter(RecordFilter& filter, std::string_view address) {
  if (address.substr(0, 2) == "0x" || address.substr(0, 2) == "0X") address.remove_prefix(2);
  if (address.empty() || address.size() > 16) return false;
  std::string object(address.size() < 8 ? 8 - address.size() : 0, '0');
  for (char c : address) {
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    object += c;
  }
  filter.object = object;
  return true;
}

namespace {

bool NamesTable(RecordFilter const& filter, Record const& record, Node const& node) {
  return (node.op == kDataDictionary_GetTable_ByName || node.op == kDataDictionary_AddTable) &&
         SameIgnoringCase(record.TextOf(node.arguments), filter.table);
}

}  // namespace

void LearnTableObjects(RecordFilter& filter, OperationForms const& forms, Record const& record) {
  if (filter.table.empty()) return;
  for (Node const& node : record.nodes) {
    if (node.kind != kCallNode || node.status != kCompleted ||
        (node.op != kDataDictionary_GetTable_ByName && node.op != kDataDictionary_AddTable)) {
      continue;
    }
    std::string_view const object = ResultItemOf(forms, record, node);
    if (IsMaskedPointer(object)) continue;  // the masked log cannot follow an object
    std::string const key = ObjectKey(record.stream.run, object);
    if (NamesTable(filter, record, node)) {
      if (filter.tableObjects.size() < kKeptTableObjects) filter.tableObjects.insert(key);
    } else {
      filter.tableObjects.erase(key);  // the address is another table's now
    }
  }
}

bool TableWanted(RecordFilter const& filter, Record const& record) {
  if (filter.table.empty()) return true;
  for (Node const& node : record.nodes) {
    if (node.kind != kCallNode) continue;
    std::string_view const object = record.TextOf(node.object);
    if (NamesTable(filter, record, node)) return true;
    if (!IsMaskedPointer(object) && filter.tableObjects.count(ObjectKey(record.stream.run, object))) return true;
  }
  return false;
}

bool ShowsStateItems(OperationForms const& forms, Record const& record) {
  for (Node const& node : record.nodes) {
    if (node.kind == kCallNode && node.status == kCompleted && forms.forms[node.op].state != kNoState) return true;
  }
  return false;
}

char const kStateLegend[] =
    "State items after a result, read from the engine's object once the call and the module's own steps are done:\n"
    "  ( n )          CTable results: the table's trace word\n"
    "  ( a : b : c )  CStoreObj results: the record object's first, second and third store trace words\n"
    "  ( a )          CStoreObj GetObjType, GetRecAddr, Get/SetRelPosition, SetSourceTable: the first word only\n";

bool RecordWanted(RecordFilter const& filter, Record const& record) {
  LineIds const& ids = record.stream.ids;
  if (filter.byProcess && !(ids.present && ids.process == filter.process)) return false;
  if (filter.byThread && !(ids.present && ids.thread == filter.thread)) return false;
  if (!TableWanted(filter, record)) return false;
  bool operationFound = !filter.anyOperation;
  bool objectFound = filter.object.empty();
  bool problemFound = !filter.problemsOnly;
  for (Node const& node : record.nodes) {
    if (IsProblem(node)) problemFound = true;
    if (node.kind != kCallNode) continue;
    if (filter.anyOperation && filter.operations[node.op]) operationFound = true;
    if (!objectFound && record.TextOf(node.object) == filter.object) objectFound = true;
  }
  return operationFound && objectFound && problemFound;
}

void PrintRecordTree(std::string& out, OperationForms const& forms, Record const& record) {
  if (!record.nodes.empty()) PutTreeNode(out, forms, record, 0, 0);
}

void PrintRecordJson(std::string& out, OperationForms const& forms, Record const& record) {
  if (record.nodes.empty()) return;
  PutJsonNode(out, forms, record, 0);
  out += '\n';
}

void AppendNumber(std::string& out, uint64_t value) {
  char digits[24];
  char* const end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

void PutMore(std::string& out, uint64_t more, char const* what) {
  if (!more) return;
  out += "    ... and ";
  AppendNumber(out, more);
  out += ' ';
  out += what;
  out += '\n';
}

void AppendPadded(std::string& out, uint64_t value, size_t width) {
  char digits[24];
  size_t const length = static_cast<size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
  if (length < width) out.append(width - length, ' ');
  out.append(digits, length);
}

void AppendCutSize(std::string& out, uint64_t size) {
  out += " (";
  AppendNumber(out, size);
  out += " bytes)";
}

void AppendJsonString(std::string& out, std::string_view text, size_t limit) {
  out += '"';
  for (char const byte : text.substr(0, limit)) {
    unsigned char const c = static_cast<unsigned char>(byte);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += byte;
    } else if (c < 0x20 || c >= 0x7f) {
      out += "\\u00";
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 15];
    } else {
      out += byte;
    }
  }
  if (text.size() > limit) {
    out += "\\u2026";
    AppendCutSize(out, text.size());
  }
  out += '"';
}

void AppendJsonString(std::string& out, KeptText const& text) {
  AppendJsonString(out, text.text, kWholeText);
  if (!text.cut()) return;
  out.pop_back();
  out += "\\u2026";
  AppendCutSize(out, text.size);
  out += '"';
}

void AppendVisible(std::string& out, std::string_view text, size_t limit) {
  for (char const byte : text.substr(0, limit)) {
    unsigned char const c = static_cast<unsigned char>(byte);
    if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 15];
    } else {
      out += byte;
    }
  }
  if (text.size() > limit) {
    out += "\xe2\x80\xa6";
    AppendCutSize(out, text.size());
  }
}

void AppendVisible(std::string& out, KeptText const& text) {
  AppendVisible(out, text.text, kWholeText);
  if (!text.cut()) return;
  out += "\xe2\x80\xa6";
  AppendCutSize(out, text.size);
}

}  // namespace tools
}  // namespace tolvan

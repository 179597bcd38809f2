#include "tools/trace/trace_print.h"

#include "tools/common/tool_crt.h"
#include "tools/trace/trace_outcome.h"

namespace tolvan {
namespace tools {

namespace {

char const kHexDigits[] = "0123456789abcdef";

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

bool IsProblem(Node const& node) {
  return node.kind != kCallNode || node.status == kWithoutResult || node.status == kNotPerformed ||
         node.entryMissing;
}

void PutTreeNode(Output& out, OperationForms const& forms, Record const& record, int index, int depth) {
  Node const& node = record.nodes[index];
  PutNumberPadded(out, node.line, 8);
  PutSpaces(out, 2 + 2 * depth);
  switch (node.kind) {
    case kErrorNode:
      PutVisible(out, TextOf(record, node.text));
      break;
    case kBadNode:
      Put(out, "?? ");
      Put(out, node.problem);
      Put(out, ": ");
      PutVisible(out, TextOf(record, node.text));
      break;
    case kCallNode: {
      OperationForm const& form = forms.forms[node.op];
      PutVisible(out, TextOf(record, node.object));
      PutChar(out, ' ');
      Put(out, form.signature);
      Span const arguments = TextOf(record, node.arguments);
      if (arguments.length) {
        PutChar(out, ' ');
        PutVisible(out, arguments);
      }
      if (node.status == kCompleted) {
        Put(out, "  => ");
        PutVisible(out, TextOf(record, node.result));
      }
      char const* note = OutcomeNote(OutcomeOf(forms, record, index));
      if (node.status == kWithoutResult) note = "no result line";
      if (node.status == kNotPerformed || (node.status == kSingleLine && node.entryMissing)) {
        note = "not performed: engine entry missing";
      }
      if (*note) {
        Put(out, "  [");
        Put(out, note);
        PutChar(out, ']');
      }
      break;
    }
  }
  PutChar(out, '\n');
  for (int child = node.firstChild; child >= 0; child = record.nodes[child].nextSibling) {
    PutTreeNode(out, forms, record, child, depth + 1);
  }
}

void PutKey(Output& out, char const* key) {
  Put(out, ",\"");
  Put(out, key);
  Put(out, "\":");
}

// An item as a JSON value: integers as numbers, everything else as strings.
void PutJsonItem(Output& out, Span item, bool integer) {
  if (integer && IsIntegerItem(item)) {
    PutBytes(out, item.data, item.length);
  } else {
    PutJsonString(out, item);
  }
}

void PutJsonNode(Output& out, OperationForms const& forms, Record const& record, int index) {
  Node const& node = record.nodes[index];
  Put(out, "{\"line\":");
  PutNumber(out, node.line);
  switch (node.kind) {
    case kErrorNode: {
      Put(out, ",\"type\":\"error\",\"number\":");
      PutNumber(out, static_cast<uint64_t>(node.errorNumber));
      PutKey(out, "text");
      PutJsonString(out, TextOf(record, node.text));
      break;
    }
    case kBadNode:
      Put(out, ",\"type\":\"unreadable\"");
      PutKey(out, "problem");
      PutJsonString(out, Span{node.problem, strlen(node.problem)});
      PutKey(out, "text");
      PutJsonString(out, TextOf(record, node.text));
      break;
    case kCallNode: {
      OperationForm const& form = forms.forms[node.op];
      Put(out, form.exchange ? ",\"type\":\"exchange\"" : ",\"type\":\"call\"");
      PutKey(out, "object");
      PutJsonString(out, TextOf(record, node.object));
      PutKey(out, "operation");
      PutJsonString(out, Span{form.signature, form.signatureLength});
      Span const argumentText = TextOf(record, node.arguments);
      PutKey(out, "arguments_text");
      PutJsonString(out, argumentText);
      ArgumentItems arguments;
      if (SplitArguments(form, argumentText, arguments) && arguments.split) {
        PutKey(out, "arguments");
        PutChar(out, '[');
        for (int i = 0; i < arguments.count; ++i) {
          if (i) PutChar(out, ',');
          PutJsonItem(out, arguments.items[i], form.arguments[i] == kIntegerItem);
        }
        PutChar(out, ']');
      }
      PutKey(out, "status");
      Put(out, "\"");
      Put(out, StatusKey(node.status));
      Put(out, "\"");
      if (node.entryMissing || node.status == kNotPerformed) Put(out, ",\"entry_missing\":true");
      ResultItems items;
      if (node.status == kCompleted && SplitResult(form, TextOf(record, node.result), items)) {
        PutKey(out, "result_line");
        PutNumber(out, node.resultLine);
        if (form.result == kFieldResult) {
          PutKey(out, "field");
          if (items.nullField) {
            Put(out, "null");
          } else {
            Put(out, "{\"name\":");
            PutJsonString(out, items.fieldName);
            Put(out, ",\"words\":[");
            PutJsonItem(out, items.fieldWords[0], true);
            PutChar(out, ',');
            PutJsonItem(out, items.fieldWords[1], true);
            Put(out, "]}");
          }
        } else if (items.result.length) {
          PutKey(out, "result");
          PutJsonItem(out, items.result, form.result == kIntegerResult);
        }
        if (items.stateCount) {
          PutKey(out, "state");
          PutChar(out, '[');
          for (int i = 0; i < items.stateCount; ++i) {
            if (i) PutChar(out, ',');
            PutJsonItem(out, items.state[i], true);
          }
          PutChar(out, ']');
        }
      }
      char const* policy = OutcomeKey(OutcomeOf(forms, record, index));
      if (*policy) {
        PutKey(out, "policy");
        Put(out, "\"");
        Put(out, policy);
        Put(out, "\"");
      }
      break;
    }
  }
  if (node.firstChild >= 0) {
    PutKey(out, "children");
    PutChar(out, '[');
    for (int child = node.firstChild; child >= 0; child = record.nodes[child].nextSibling) {
      if (child != node.firstChild) PutChar(out, ',');
      PutJsonNode(out, forms, record, child);
    }
    PutChar(out, ']');
  }
  PutChar(out, '}');
}

}  // namespace

void ClearFilter(RecordFilter& filter) { memset(&filter, 0, sizeof filter); }

bool AddOperationFilter(RecordFilter& filter, OperationForms const& forms, char const* name) {
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

bool SetObjectFilter(RecordFilter& filter, char const* address) {
  if (address[0] == '0' && (address[1] == 'x' || address[1] == 'X')) address += 2;
  size_t const length = strlen(address);
  if (length == 0 || length > 16) return false;
  size_t const padding = length < 8 ? 8 - length : 0;
  for (size_t i = 0; i < padding; ++i) filter.object[i] = '0';
  for (size_t i = 0; i < length; ++i) {
    char c = address[i];
    if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    filter.object[padding + i] = c;
  }
  filter.object[padding + length] = '\0';
  return true;
}

bool RecordWanted(RecordFilter const& filter, Record const& record) {
  bool operationFound = !filter.anyOperation;
  bool objectFound = filter.object[0] == '\0';
  bool problemFound = !filter.problemsOnly;
  for (int i = 0; i < record.nodeCount; ++i) {
    Node const& node = record.nodes[i];
    if (IsProblem(node)) problemFound = true;
    if (node.kind != kCallNode) continue;
    if (filter.anyOperation && filter.operations[node.op]) operationFound = true;
    if (!objectFound && SpanEquals(TextOf(record, node.object), filter.object)) objectFound = true;
  }
  return operationFound && objectFound && problemFound;
}

void PrintRecordTree(Output& out, OperationForms const& forms, Record const& record) {
  if (record.nodeCount) PutTreeNode(out, forms, record, 0, 0);
}

void PrintRecordJson(Output& out, OperationForms const& forms, Record const& record) {
  if (!record.nodeCount) return;
  PutJsonNode(out, forms, record, 0);
  PutChar(out, '\n');
}

void PutJsonString(Output& out, Span text) {
  PutChar(out, '"');
  for (size_t i = 0; i < text.length; ++i) {
    unsigned char const c = static_cast<unsigned char>(text.data[i]);
    if (c == '"' || c == '\\') {
      PutChar(out, '\\');
      PutChar(out, static_cast<char>(c));
    } else if (c < 0x20 || c >= 0x7f) {
      Put(out, "\\u00");
      PutChar(out, kHexDigits[c >> 4]);
      PutChar(out, kHexDigits[c & 15]);
    } else {
      PutChar(out, static_cast<char>(c));
    }
  }
  PutChar(out, '"');
}

void PutVisible(Output& out, Span text) {
  for (size_t i = 0; i < text.length; ++i) {
    unsigned char const c = static_cast<unsigned char>(text.data[i]);
    if (c < 0x20 || c == 0x7f) {
      Put(out, "\\x");
      PutChar(out, kHexDigits[c >> 4]);
      PutChar(out, kHexDigits[c & 15]);
    } else {
      PutChar(out, static_cast<char>(c));
    }
  }
}

}  // namespace tools
}  // namespace tolvan

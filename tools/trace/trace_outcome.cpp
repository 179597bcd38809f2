#include "tools/trace/trace_outcome.h"

namespace tolvan {
namespace tools {

namespace {

int FirstChildWithOp(Record const& record, int node, int op) {
  for (int child = record.nodes[node].firstChild; child >= 0; child = record.nodes[child].nextSibling) {
    if (record.nodes[child].kind == kCallNode && record.nodes[child].op == op) return child;
  }
  return -1;
}

bool HasCallChildren(Record const& record, int node) {
  for (int child = record.nodes[node].firstChild; child >= 0; child = record.nodes[child].nextSibling) {
    if (record.nodes[child].kind == kCallNode) return true;
  }
  return false;
}

// The module's exclusive open inside Pack, ReIndex or Clear, refused by the engine.
bool ExclusiveOpenRefused(OperationForms const& forms, Record const& record, int node) {
  for (int child = record.nodes[node].firstChild; child >= 0; child = record.nodes[child].nextSibling) {
    Node const& open = record.nodes[child];
    if (open.kind == kCallNode && open.op == kTable_OpenAccess && open.status == kCompleted &&
        ResultItemOf(forms, record, open) == "0" && FirstArgumentOf(forms, record, open) == "2") {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string_view ResultItemOf(OperationForms const&, Record const& record, Node const& node) {
  if (node.kind != kCallNode || node.status != kCompleted) return {};
  return record.TextOf(node.resultItem);
}

std::string_view FirstArgumentOf(OperationForms const&, Record const& record, Node const& node) {
  if (node.kind != kCallNode) return {};
  return record.TextOf(node.firstArgument);
}

PolicyOutcome OutcomeOf(OperationForms const& forms, Record const& record, int index) {
  Node const& node = record.nodes[index];
  if (node.kind != kCallNode || node.status != kCompleted) return kNoOutcome;
  std::string_view const result = ResultItemOf(forms, record, node);
  switch (node.op) {
    case kTable_OpenAccess: {
      int const close = FirstChildWithOp(record, index, kTable_CloseAccess);
      if (close >= 0) {
        // A close that returned 0, or never ran (its entry missing), ends
        // the forcing with the table closed.
        Node const& closeNode = record.nodes[close];
        bool const closed = closeNode.status == kCompleted &&
                            ResultItemOf(forms, record, closeNode) != "0";
        if (!closed) return kCloseFailed;
        return result == "0" ? kReopenFailed : kReopenedShared;
      }
      // Only the host's own opens say anything about exemptions: the module's
      // exclusive open inside Pack is never forced.
      if (node.parent >= 0 || FirstArgumentOf(forms, record, node) == "1") return kNoOutcome;
      return result == "0" ? kRefusedByEngine : kLeftAsAsked;
    }
    case kTable_Pack:
    case kTable_ReIndex:
    case kTable_Clear:
      if (!HasCallChildren(record, index)) return kAlreadyExclusive;
      return ExclusiveOpenRefused(forms, record, index) ? kExclusiveRefused : kEscalated;
    case kTable_BeginReadSequence:
      if (FirstChildWithOp(record, index, kTable_PutTLock) >= 0) return kSequenceLocked;
      return result == "1" ? kSequenceSkippedOrUnlocked : kSequenceUnlocked;
    default:
      return kNoOutcome;
  }
}

char const* OutcomeNote(PolicyOutcome outcome) {
  switch (outcome) {
    case kNoOutcome:
      return "";
    case kReopenedShared:
      return "reopened shared";
    case kCloseFailed:
      return "forced close failed: table left closed";
    case kReopenFailed:
      return "shared reopen failed: table left closed";
    case kLeftAsAsked:
      return "left as asked: exempt from share forcing";
    case kRefusedByEngine:
      return "refused by the engine";
    case kEscalated:
      return "exclusive for the operation, then restored";
    case kExclusiveRefused:
      return "exclusive open refused by the engine: ran without exclusive use";
    case kAlreadyExclusive:
      return "table already exclusive";
    case kSequenceLocked:
      return "table locked first";
    case kSequenceSkippedOrUnlocked:
      return "skipped, or passed on unlocked under Tolvan32_NoSEQ";
    case kSequenceUnlocked:
      return "passed on unlocked (Tolvan32_NoSEQ)";
  }
  return "";
}

char const* OutcomeKey(PolicyOutcome outcome) {
  switch (outcome) {
    case kNoOutcome:
      return "";
    case kReopenedShared:
      return "reopened_shared";
    case kCloseFailed:
      return "close_failed";
    case kReopenFailed:
      return "reopen_failed";
    case kLeftAsAsked:
      return "left_as_asked";
    case kRefusedByEngine:
      return "refused_by_engine";
    case kEscalated:
      return "escalated";
    case kExclusiveRefused:
      return "exclusive_refused";
    case kAlreadyExclusive:
      return "already_exclusive";
    case kSequenceLocked:
      return "locked";
    case kSequenceSkippedOrUnlocked:
      return "skipped_or_unlocked";
    case kSequenceUnlocked:
      return "unlocked";
  }
  return "";
}

}  // namespace tools
}  // namespace tolvan

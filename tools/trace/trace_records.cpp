#include "tools/trace/trace_records.h"

#include "tools/common/tool_crt.h"

namespace tolvan {
namespace tools {

namespace {

int const kMissingEntryError = 2;

TextRef Keep(Record& record, char const* data, size_t length) {
  size_t const room = sizeof record.arena - record.arenaUsed;
  if (length > room) {
    length = room;
    record.textCut = true;
  }
  TextRef const ref = {record.arenaUsed, static_cast<uint32_t>(length)};
  memcpy(record.arena + record.arenaUsed, data, length);
  record.arenaUsed += static_cast<uint32_t>(length);
  return ref;
}

TextRef Keep(Record& record, Span span) { return Keep(record, span.data, span.length); }

bool SameObject(Span left, Span right) {
  // The masked log hides every address: there any object may be the same.
  if (IsMaskedPointer(left) || IsMaskedPointer(right)) return true;
  return left.length == right.length && memcmp(left.data, right.data, left.length) == 0;
}

bool IsNullPointer(Span item) {
  if (IsMaskedPointer(item)) return true;
  for (size_t i = 0; i < item.length; ++i) {
    if (item.data[i] != '0') return false;
  }
  return item.length > 0;
}

// The first item of a result line: GetRecAddr's working record address.
Span FirstItem(Span body) {
  size_t length = 0;
  while (length < body.length && body.data[length] != ' ') ++length;
  return Span{body.data, length};
}

Node* NodeAt(Assembler& a, int index) { return &a.record.nodes[index]; }

int ChildrenWithOp(Record const& record, int parent, int op) {
  int count = 0;
  for (int child = record.nodes[parent].firstChild; child >= 0; child = record.nodes[child].nextSibling) {
    if (record.nodes[child].kind == kCallNode && record.nodes[child].op == op) ++count;
  }
  return count;
}

bool RoomForNode(Assembler& a) { return a.record.nodeCount < kMaxNodes; }

// Links a new node under `parent` (-1: the record's root).
int NewNode(Assembler& a, int parent, NodeKind kind, uint64_t line) {
  int const index = a.record.nodeCount++;
  Node& node = a.record.nodes[index];
  node = Node();
  node.kind = kind;
  node.op = -1;
  node.parent = static_cast<int16_t>(parent);
  node.firstChild = -1;
  node.nextSibling = -1;
  node.line = line;
  if (parent >= 0) {
    Node& p = a.record.nodes[parent];
    if (p.firstChild < 0) {
      p.firstChild = static_cast<int16_t>(index);
    } else {
      int last = p.firstChild;
      while (a.record.nodes[last].nextSibling >= 0) last = a.record.nodes[last].nextSibling;
      a.record.nodes[last].nextSibling = static_cast<int16_t>(index);
    }
  }
  return index;
}

void Emit(Assembler& a) {
  if (a.record.nodeCount) a.handler(a.context, a.record);
  a.record.nodeCount = 0;
  a.record.arenaUsed = 0;
  a.record.textCut = false;
}

// Takes the top node off the stack; a call that never got its result line is
// marked as such.
void Pop(Assembler& a) {
  Node& node = *NodeAt(a, a.stack[--a.depth]);
  if (node.phase == kPhaseResult) {
    node.status = node.entryMissing ? kNotPerformed : kWithoutResult;
  }
  node.phase = kPhaseDone;
  if (a.depth > 0) {
    Node& parent = *NodeAt(a, a.stack[a.depth - 1]);
    if (parent.phase == kPhaseCopying) parent.phase = kPhaseDestroy;
  }
  if (a.depth == 0) Emit(a);
}

void CloseAll(Assembler& a) {
  while (a.depth > 0) Pop(a);
}

bool AcceptsChild(Assembler& a, int parentIndex, int op, Span object, ArgumentItems const& arguments) {
  Record const& record = a.record;
  Node const& parent = record.nodes[parentIndex];
  Span const parentObject = TextOf(record, parent.object);
  switch (parent.phase) {
    case kPhaseCopy:
      return op == kRecAddr_Construct_Copy &&
             SameObject(arguments.items[0], FirstItem(TextOf(record, parent.result)));
    case kPhaseDestroy:
      return op == kRecAddr_Destroy && SameObject(object, FirstItem(TextOf(record, parent.result)));
    case kPhaseResult:
      break;
    default:
      return false;
  }
  if (parent.entryMissing) {
    // GetRecAddr without its engine entry still hands the host an empty
    // record address, built from a null one.
    return parent.op == kStoreObj_GetRecAddr && op == kRecAddr_Construct_FromPointer &&
           IsNullPointer(arguments.items[0]) && parent.firstChild < 0;
  }
  if (!SameObject(object, parentObject)) return false;
  switch (parent.op) {
    case kTable_OpenAccess:
      return op == kTable_CloseAccess && SpanEquals(arguments.items[0], "1") &&
             ChildrenWithOp(record, parentIndex, kTable_CloseAccess) == 0;
    case kTable_Pack:
    case kTable_ReIndex:
    case kTable_Clear:
      return (op == kTable_CloseAccess || op == kTable_OpenAccess) && ChildrenWithOp(record, parentIndex, op) < 2;
    case kTable_BeginReadSequence:
      return op == kTable_PutTLock && ChildrenWithOp(record, parentIndex, kTable_PutTLock) == 0;
    default:
      return false;
  }
}

int Top(Assembler const& a) { return a.depth ? a.stack[a.depth - 1] : -1; }

// A line that is not a call goes under the open record, or stands alone.
int PlaceLooseNode(Assembler& a, NodeKind kind, uint64_t line) {
  if (!RoomForNode(a)) CloseAll(a);
  return NewNode(a, Top(a), kind, line);
}

void FinishLooseNode(Assembler& a) {
  if (a.depth == 0) Emit(a);
}

void AddErrorNode(Assembler& a, int parent, PendingError const& error) {
  if (!RoomForNode(a)) {
    CloseAll(a);
    parent = -1;
  }
  int const index = NewNode(a, parent, kErrorNode, error.line);
  Node& node = *NodeAt(a, index);
  node.errorNumber = error.number;
  node.text = Keep(a.record, error.text, error.length);
  if (parent < 0) Emit(a);
}

void FlushPending(Assembler& a, int parent) {
  for (int i = 0; i < a.pendingCount; ++i) AddErrorNode(a, parent, a.pending[i]);
  a.pendingCount = 0;
}

void AddBadLine(Assembler& a, uint64_t number, char const* text, size_t length, char const* problem) {
  FlushPending(a, Top(a));
  int const index = PlaceLooseNode(a, kBadNode, number);
  Node& node = *NodeAt(a, index);
  node.problem = problem;
  node.text = Keep(a.record, text, length < kMaxKeptText ? length : kMaxKeptText);
  FinishLooseNode(a);
}

void AddCall(Assembler& a, uint64_t number, TraceLine const& line, ArgumentItems const& arguments) {
  OperationForm const& form = a.forms->forms[line.op];
  while (a.depth > 0 && !AcceptsChild(a, Top(a), line.op, line.object, arguments)) Pop(a);

  bool entryMissing = false;
  for (int i = 0; i < a.pendingCount; ++i) entryMissing = entryMissing || a.pending[i].number == kMissingEntryError;
  FlushPending(a, Top(a));
  // The policy nests three deep at most; a record that fills up regardless
  // is handed on as it stands.
  if (!RoomForNode(a) || a.depth == kMaxDepth) CloseAll(a);

  int const parent = Top(a);
  int const index = NewNode(a, parent, kCallNode, number);
  Node& node = *NodeAt(a, index);
  node.op = static_cast<int16_t>(line.op);
  node.entryMissing = entryMissing;
  node.object = Keep(a.record, line.object);
  node.arguments = Keep(a.record, line.arguments);

  if (form.result == kNoResultRecord) {
    node.status = kSingleLine;
    node.phase = kPhaseDone;
    if (parent >= 0 && NodeAt(a, parent)->phase == kPhaseDestroy) {
      NodeAt(a, parent)->phase = kPhaseDone;  // GetRecAddr's last line
      Pop(a);
    } else if (parent < 0) {
      Emit(a);
    }
    return;
  }
  node.status = kAwaitingResult;
  node.phase = kPhaseResult;
  if (parent >= 0 && NodeAt(a, parent)->phase == kPhaseCopy) NodeAt(a, parent)->phase = kPhaseCopying;
  a.stack[a.depth++] = static_cast<int16_t>(index);
}

void AddResult(Assembler& a, uint64_t number, TraceLine const& line, char const* text, size_t length) {
  FlushPending(a, Top(a));
  int target = -1;
  int flagged = -1;
  for (int i = a.depth - 1; i >= 0 && target < 0; --i) {
    Node const& node = *NodeAt(a, a.stack[i]);
    ResultItems items;
    if (node.phase != kPhaseResult || !SplitResult(a.forms->forms[node.op], line.body, items)) continue;
    // A call after a missing-entry error gets no result line from the module;
    // it takes one only if no other open call can.
    if (!node.entryMissing) {
      target = i;
    } else if (flagged < 0) {
      flagged = i;
    }
  }
  if (target < 0) target = flagged;
  if (target < 0) {
    AddBadLine(a, number, text, length, "result line without a call waiting for it");
    return;
  }
  while (a.depth - 1 > target) Pop(a);
  Node& node = *NodeAt(a, a.stack[target]);
  node.status = kCompleted;
  node.entryMissing = false;
  node.resultLine = number;
  node.result = Keep(a.record, line.body);
  if (node.op == kStoreObj_GetRecAddr) {
    node.phase = kPhaseCopy;
    return;
  }
  node.phase = kPhaseDone;
  Pop(a);
}

}  // namespace

Span TextOf(Record const& record, TextRef ref) { return Span{record.arena + ref.offset, ref.length}; }

void StartAssembly(Assembler& assembler, OperationForms const& forms, RecordHandler handler, void* context) {
  assembler.forms = &forms;
  assembler.handler = handler;
  assembler.context = context;
  assembler.depth = 0;
  assembler.pendingCount = 0;
  assembler.record.nodeCount = 0;
  assembler.record.arenaUsed = 0;
  assembler.record.textCut = false;
}

void AddLine(Assembler& a, uint64_t number, char const* text, size_t length, LineEnding ending) {
  if (ending == kCutLine) {
    AddBadLine(a, number, text, length, "cut off: the log ends inside this line");
    return;
  }
  if (ending == kOverlongLine) {
    AddBadLine(a, number, text, length, "line too long");
    return;
  }
  TraceLine line;
  ClassifyLine(*a.forms, text, length, line);
  switch (line.kind) {
    case kErrorLine: {
      if (a.pendingCount == kMaxPending) FlushPending(a, Top(a));
      PendingError& error = a.pending[a.pendingCount++];
      error.line = number;
      error.number = line.errorNumber;
      error.length = line.text.length < kMaxKeptText ? line.text.length : kMaxKeptText;
      memcpy(error.text, line.text.data, error.length);
      return;
    }
    case kResultLine:
      AddResult(a, number, line, text, length);
      return;
    case kCallLine: {
      ArgumentItems arguments;
      if (!SplitArguments(a.forms->forms[line.op], line.arguments, arguments)) {
        AddBadLine(a, number, text, length, "arguments do not fit the operation");
        return;
      }
      AddCall(a, number, line, arguments);
      return;
    }
    case kBadLine:
      AddBadLine(a, number, text, length, line.problem);
      return;
  }
}

void FinishAssembly(Assembler& a) {
  FlushPending(a, Top(a));
  CloseAll(a);
  Emit(a);
}

}  // namespace tools
}  // namespace tolvan

#include "tools/trace/trace_records.h"

#include <algorithm>

namespace tolvan {
namespace tools {

namespace {

int const kMissingEntryError = 2;
size_t const kKeptCapacity = 1 << 16;

bool SameObject(std::string_view left, std::string_view right) {
  // The masked log hides every address: there any object may be the same.
  return IsMaskedPointer(left) || IsMaskedPointer(right) || left == right;
}

bool IsNullPointer(std::string_view item) {
  return IsMaskedPointer(item) || (!item.empty() && item.find_first_not_of('0') == std::string_view::npos);
}

// The first item of a result line: GetRecAddr's working record address.
std::string_view FirstItem(std::string_view body) { return body.substr(0, body.find(' ')); }

}  // namespace

TextRef RecordAssembler::Keep(std::string_view text) {
  TextRef const ref = {static_cast<uint32_t>(record_.text.size()), static_cast<uint32_t>(text.size())};
  record_.text.append(text);
  return ref;
}

int RecordAssembler::ChildrenWithOp(int parent, int op) const {
  int count = 0;
  std::vector<Node> const& nodes = record_.nodes;
  for (int child = nodes[parent].firstChild; child >= 0; child = nodes[child].nextSibling) {
    if (nodes[child].kind == kCallNode && nodes[child].op == op) ++count;
  }
  return count;
}

// Links a new node under `parent` (-1: the record's root).
int RecordAssembler::NewNode(int parent, NodeKind kind, uint64_t line) {
  std::vector<Node>& nodes = record_.nodes;
  int const index = static_cast<int>(nodes.size());
  // A copy of a blank node: value-initialising one costs a string store
  // instruction that is slow to start, and a node is made for every line.
  static constexpr Node kBlank{};
  nodes.push_back(kBlank);
  Node& node = nodes.back();
  node.kind = kind;
  node.parent = parent;
  node.line = line;
  if (parent >= 0) {
    int* link = &nodes[parent].firstChild;
    while (*link >= 0) link = &nodes[*link].nextSibling;
    *link = index;
  }
  return index;
}

// Hands on the record just assembled; at the stream's start the module's
// own calls wait (see AddBeforeStart), and damage (the rest of a line begun
// before the log) does not end the start.
void RecordAssembler::Emit() {
  record_.unreliable = signLine_ != 0;
  if (!record_.nodes.empty()) {
    if (starting_ && startRecords_.size() < kMaxStartRecords && ModuleCallAtStart()) {
      startRecords_.push_back(record_);
    } else if (starting_ && startRecords_.empty() && !startDamaged_ && record_.nodes.size() == 1 &&
               record_.nodes[0].kind == kBadNode) {
      startDamaged_ = true;
      handler_(record_);
    } else {
      EndStart();
      handler_(record_);
    }
  }
  record_.nodes.clear();
  record_.text.clear();
  // A long line once must not keep its room in every thread's record.
  if (record_.text.capacity() > kKeptCapacity) std::string().swap(record_.text);
}

uint64_t RecordAssembler::OpenLine(Record const* besides) const {
  uint64_t line = UINT64_MAX;
  if (!startRecords_.empty() && &startRecords_[0] != besides) line = startRecords_[0].nodes[0].line;
  if (!record_.nodes.empty() && &record_ != besides) line = std::min(line, record_.nodes[0].line);
  if (!pending_.empty()) line = std::min(line, pending_[0].line);
  return line;
}

void RecordAssembler::EndStart() {
  if (!starting_) return;
  starting_ = false;
  for (Record const& record : startRecords_) handler_(record);
  startRecords_.clear();
}

// A completed call that the module makes inside a host's call, on the same
// object as those waiting before it.
bool RecordAssembler::ModuleCallAtStart() const {
  Node const& node = record_.nodes[0];
  if (node.kind != kCallNode || node.status != kCompleted) return false;
  for (Node const& part : record_.nodes) {
    if (part.kind != kCallNode) return false;
  }
  if (node.op != kTable_CloseAccess && node.op != kTable_OpenAccess && node.op != kTable_PutTLock) return false;
  if (startRecords_.empty()) return true;
  Record const& first = startRecords_[0];
  return SameObject(record_.TextOf(node.object), first.TextOf(first.nodes[0].object));
}

// A result line before any call of the stream that could take it: the call
// was made before the log's first line. The module's calls waiting at the
// start were made inside it, and become its children.
void RecordAssembler::AddBeforeStart(uint64_t number, std::string_view body, LineTime const& time) {
  uint64_t const first = startRecords_.empty() ? number : startRecords_[0].nodes[0].line;
  int const root = NewNode(-1, kBeforeStartNode, first);
  record_.nodes[root].status = kCompleted;
  record_.nodes[root].phase = kPhaseDone;
  record_.nodes[root].resultLine = number;
  record_.nodes[root].result = Keep(body);
  if (time.present) record_.nodes[root].resultTime = time.micros;
  record_.nodes[root].duration = time.duration;
  int last = -1;
  for (Record const& start : startRecords_) {
    int const offset = static_cast<int>(record_.nodes.size());
    uint32_t const textOffset = static_cast<uint32_t>(record_.text.size());
    record_.text += start.text;
    for (Node node : start.nodes) {
      node.parent = node.parent < 0 ? root : node.parent + offset;
      if (node.firstChild >= 0) node.firstChild += offset;
      if (node.nextSibling >= 0) node.nextSibling += offset;
      for (TextRef* ref : {&node.object, &node.arguments, &node.firstArgument, &node.result, &node.resultItem, &node.text}) {
        ref->offset += textOffset;
      }
      record_.nodes.push_back(node);
    }
    if (last < 0) {
      record_.nodes[root].firstChild = offset;
    } else {
      record_.nodes[last].nextSibling = offset;
    }
    last = offset;
  }
  startRecords_.clear();
  record_.unreliable = signLine_ != 0;
  handler_(record_);
  record_.nodes.clear();
  record_.text.clear();
}

// Takes the top node off the stack; a call that never got its result line is
// marked as such.
void RecordAssembler::Pop() {
  Node& node = record_.nodes[stack_.back()];
  stack_.pop_back();
  if (node.phase == kPhaseResult) node.status = node.entryMissing ? kNotPerformed : kWithoutResult;
  node.endedWithLog = finishing_;
  node.phase = kPhaseDone;
  if (!stack_.empty()) {
    Node& parent = record_.nodes[stack_.back()];
    if (parent.phase == kPhaseCopying) parent.phase = kPhaseDestroy;
  } else {
    Emit();
  }
}

void RecordAssembler::CloseAll() {
  while (!stack_.empty()) Pop();
}

// A call still waiting for its own result line; one whose engine entry was
// missing never gets one.
bool RecordAssembler::Waiting(int index) const {
  return record_.nodes[index].phase == kPhaseResult && !record_.nodes[index].entryMissing;
}

void RecordAssembler::NoteSign(uint64_t number, char const* what) {
  if (watchForMixing_ && !signLine_) {
    signLine_ = number;
    sign_ = what;
  }
}

bool RecordAssembler::AcceptsChild(int parentIndex, int op, std::string_view object,
                                   ArgumentItems const& arguments) const {
  Node const& parent = record_.nodes[parentIndex];
  switch (parent.phase) {
    case kPhaseCopy:
      return op == kRecAddr_Construct_Copy &&
             SameObject(arguments.items[0], FirstItem(record_.TextOf(parent.result)));
    case kPhaseDestroy:
      return op == kRecAddr_Destroy && SameObject(object, FirstItem(record_.TextOf(parent.result)));
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
  if (!SameObject(object, record_.TextOf(parent.object))) return false;
  switch (parent.op) {
    case kTable_OpenAccess:
      return op == kTable_CloseAccess && arguments.items[0] == "1" &&
             ChildrenWithOp(parentIndex, kTable_CloseAccess) == 0;
    case kTable_Pack:
    case kTable_ReIndex:
    case kTable_Clear:
      return (op == kTable_CloseAccess || op == kTable_OpenAccess) && ChildrenWithOp(parentIndex, op) < 2;
    case kTable_BeginReadSequence:
      return op == kTable_PutTLock && ChildrenWithOp(parentIndex, kTable_PutTLock) == 0;
    default:
      return false;
  }
}

void RecordAssembler::AddErrorNode(int parent, PendingError const& error) {
  if (static_cast<int>(record_.nodes.size()) >= kMaxNodes) {
    CloseAll();
    parent = -1;
  }
  int const index = NewNode(parent, kErrorNode, error.line);
  record_.nodes[index].errorNumber = error.number;
  record_.nodes[index].time = error.time;
  record_.nodes[index].text = Keep(error.text);
  if (parent < 0) Emit();
}

// Each error goes under whatever is open when it is placed: one that meets
// the record's bound closes the record, and the next must not use the parent
// index of a record already handed on.
void RecordAssembler::PlacePending() {
  for (PendingError const& error : pending_) AddErrorNode(Top(), error);
  pending_.clear();
}

// A line that is not a call goes under the open record, or stands alone.
void RecordAssembler::AddBadLine(uint64_t number, std::string_view text, char const* problem, bool sign,
                                 uint32_t continued, int64_t time) {
  if (sign) NoteSign(number, problem);
  FlushPending();
  if (static_cast<int>(record_.nodes.size()) >= kMaxNodes) CloseAll();
  int const index = NewNode(Top(), kBadNode, number);
  record_.nodes[index].problem = problem;
  record_.nodes[index].continuedLines = continued;
  record_.nodes[index].time = time;
  record_.nodes[index].text = Keep(text.substr(0, kMaxKeptText));
  if (stack_.empty()) Emit();
}

void RecordAssembler::AddCall(uint64_t number, TraceLine const& line, ArgumentItems const& arguments,
                              uint32_t continued, LineTime const& time) {
  OperationForm const& form = forms_.forms[line.op];
  // The module's own calls nest; any other call comes after the result. A
  // call still waiting then is no sign of mixing: an engine exception passed
  // on to the host leaves just that.
  while (!stack_.empty() && !AcceptsChild(Top(), line.op, line.object, arguments)) Pop();

  bool entryMissing = false;
  for (PendingError const& error : pending_) entryMissing = entryMissing || error.number == kMissingEntryError;
  FlushPending();
  if (static_cast<int>(record_.nodes.size()) >= kMaxNodes) CloseAll();

  int const parent = Top();
  int const index = NewNode(parent, kCallNode, number);
  Node& node = record_.nodes[index];
  node.op = line.op;
  node.entryMissing = entryMissing;
  node.continuedLines = continued;
  if (time.present) node.time = time.micros;
  node.duration = time.duration;  // a field exchange of direction 0 carries its own
  node.object = Keep(line.object);
  node.arguments = Keep(line.arguments);
  if (arguments.split && !arguments.items.empty()) {
    node.firstArgument = {
        node.arguments.offset + static_cast<uint32_t>(arguments.items[0].data() - line.arguments.data()),
        static_cast<uint32_t>(arguments.items[0].size())};
  }

  if (form.result == kNoResultRecord) {
    node.status = kSingleLine;
    node.phase = kPhaseDone;
    if (parent >= 0 && record_.nodes[parent].phase == kPhaseDestroy) {
      record_.nodes[parent].phase = kPhaseDone;  // GetRecAddr's last line
      Pop();
    } else if (parent < 0) {
      Emit();
    }
    return;
  }
  node.status = kAwaitingResult;
  node.phase = kPhaseResult;
  if (parent >= 0 && record_.nodes[parent].phase == kPhaseCopy) record_.nodes[parent].phase = kPhaseCopying;
  stack_.push_back(index);
}

void RecordAssembler::AddResult(uint64_t number, TraceLine const& line, std::string_view text, LineTime const& time) {
  FlushPending();
  int target = -1;
  int flagged = -1;
  ResultItems& items = resultItems_;
  for (int i = static_cast<int>(stack_.size()) - 1; i >= 0 && target < 0; --i) {
    Node const& node = record_.nodes[stack_[i]];
    if (node.phase != kPhaseResult || !SplitResult(forms_.forms[node.op], line.body, items)) continue;
    // A call after a missing-entry error gets no result line from the module;
    // it takes one only if no other open call can.
    if (!node.entryMissing) {
      target = i;
    } else if (flagged < 0) {
      flagged = i;
    }
  }
  if (target < 0 && flagged >= 0) {
    target = flagged;
    SplitResult(forms_.forms[record_.nodes[stack_[target]].op], line.body, items);
  }
  if (target < 0 && starting_ && stack_.empty()) {
    AddBeforeStart(number, line.body, time);
    return;
  }
  if (target < 0) {
    AddBadLine(number, text, "result line without a call waiting for it", true, 0, time.present ? time.micros : -1);
    return;
  }
  while (static_cast<int>(stack_.size()) - 1 > target) {
    if (Waiting(Top())) NoteSign(number, "a result line for a call before one still waiting for its own");
    Pop();
  }
  Node& node = record_.nodes[stack_[target]];
  node.status = kCompleted;
  node.entryMissing = false;
  node.resultLine = number;
  node.result = Keep(line.body);
  if (time.present) node.resultTime = time.micros;
  node.duration = time.duration;
  // The result item, split once here for every figure that reads it.
  node.resultItem = {node.result.offset + static_cast<uint32_t>(items.result.data() - line.body.data()),
                     static_cast<uint32_t>(items.result.size())};
  if (node.op == kStoreObj_GetRecAddr) {
    node.phase = kPhaseCopy;
    return;
  }
  node.phase = kPhaseDone;
  Pop();
}

void RecordAssembler::AddLine(uint64_t number, std::string_view text, LineEnding ending) {
  if (ending == kCutLine) {
    AddBadLine(number, text, "cut off: the log ends inside this line", false);  // the log's end: no sign of mixing
    return;
  }
  if (ending == kLongLine) {
    AddBadLine(number, text, "longer than the 4 MiB the reader takes of a line", false);
    return;
  }
  AddClassified(number, text, ending, ClassifyLine(forms_, text));
}

void RecordAssembler::AddClassified(uint64_t number, std::string_view text, LineEnding ending, TraceLine const& line,
                                    uint32_t continued, LineTime const& time) {
  if (ending != kWholeLine) return AddLine(number, text, ending);
  switch (line.kind) {
    case kErrorLine:
      if (static_cast<int>(pending_.size()) == kMaxPending) FlushPending();
      pending_.push_back({number, line.errorNumber, std::string(line.text.substr(0, kMaxKeptText)),
                          time.present ? time.micros : -1});
      return;
    case kResultLine:
      AddResult(number, line, text, time);
      return;
    case kCallLine:
      if (!SplitArguments(forms_.forms[line.op], line.arguments, arguments_)) {
        AddBadLine(number, text, "arguments do not fit the operation", true, continued,
                   time.present ? time.micros : -1);
        return;
      }
      AddCall(number, line, arguments_, continued, time);
      return;
    case kBadLine:
      AddBadLine(number, text, line.problem, true, continued, time.present ? time.micros : -1);
      return;
  }
}

void RecordAssembler::Finish() {
  FlushPending();
  finishing_ = true;
  CloseAll();
  finishing_ = false;
  Emit();
  EndStart();
}

}  // namespace tools
}  // namespace tolvan

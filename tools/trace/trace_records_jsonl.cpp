#include "tools/trace/trace_records_jsonl.h"

#include <algorithm>
#include <charconv>

#include "tools/common/tool_platform.h"
#include "tools/trace/trace_outcome.h"
#include "tools/trace/trace_reader.h"

namespace tolvan {
namespace tools {

namespace {

size_t const kOutputPiece = 1 << 20;  // written at once: a few system calls per GiB of records
size_t const kKeptWriters = 4096;
size_t const kMaxHeld = 4 * kMaxReordered;  // lines waiting for other threads' records
size_t const kMaxHeldBytes = 16 << 20;
size_t const kKeptRoom = 4 << 20;  // of a JsonText emptied: more than an output piece
char const kHexDigits[] = "0123456789abcdef";

// The policy's labels, by PolicyOutcome: what the report's marks call them.
char const* const kPolicyLabels[] = {
    "",
    "forced shared reopen",
    "failed reopen: the forced close failed, table left closed",
    "failed reopen: the shared reopen failed, table left closed",
    "left as asked: exempt from share forcing",
    "refused by the engine",
    "escalation: exclusive for the operation, then restored",
    "refused escalation: ran without exclusive use",
    "table already exclusive",
    "read sequence: table locked first",
    "read sequence skipped, or passed on unlocked under Tolvan32_NoSEQ",
    "read sequence passed on unlocked (Tolvan32_NoSEQ)",
};
static_assert(sizeof kPolicyLabels / sizeof kPolicyLabels[0] == kSequenceUnlocked + 1, "a label per outcome");

// The bytes a JSON string holds as they are.
struct PlainBytes {
  bool plain[256] = {};
  constexpr PlainBytes() {
    for (int c = 0x20; c < 0x7f; ++c) plain[c] = c != '"' && c != '\\';
  }
  constexpr bool operator[](unsigned char c) const { return plain[c]; }
};
constexpr PlainBytes kPlainByte;

// Whether all eight bytes of a word are plain, tested at once: none at or
// above 0x7f, none below 0x20, no quote and no backslash.
bool PlainWord(uint64_t word) {
  uint64_t const kOnes = 0x0101010101010101ull;
  uint64_t const kHigh = 0x8080808080808080ull;
  auto anyZero = [&](uint64_t value) { return ((value - kOnes) & ~value & kHigh) != 0; };
  if (word & kHigh) return false;
  if ((word - kOnes * 0x20) & ~word & kHigh) return false;
  return !anyZero(word ^ (kOnes * 0x7f)) && !anyZero(word ^ (kOnes * '"')) && !anyZero(word ^ (kOnes * '\\'));
}

// The length of the valid UTF-8 sequence at the start of `text` (0: none):
// no overlong forms, no surrogates, nothing above U+10FFFF.
size_t Utf8Length(unsigned char const* text, size_t size) {
  unsigned char const lead = text[0];
  auto continues = [&](size_t i, unsigned char low = 0x80, unsigned char high = 0xbf) {
    return i < size && text[i] >= low && text[i] <= high;
  };
  if (lead >= 0xc2 && lead <= 0xdf) return continues(1) ? 2 : 0;
  if (lead >= 0xe0 && lead <= 0xef) {
    unsigned char const low = lead == 0xe0 ? 0xa0 : 0x80;
    unsigned char const high = lead == 0xed ? 0x9f : 0xbf;
    return continues(1, low, high) && continues(2) ? 3 : 0;
  }
  if (lead >= 0xf0 && lead <= 0xf4) {
    unsigned char const low = lead == 0xf0 ? 0x90 : 0x80;
    unsigned char const high = lead == 0xf4 ? 0x8f : 0xbf;
    return continues(1, low, high) && continues(2) && continues(3) ? 4 : 0;
  }
  return 0;
}

// A member's key, appended at once: `MEMBER_KEY` names it without its quotes.
#define MEMBER_KEY(name) ",\"" name "\":"
void AppendNumber(JsonText& out, uint64_t value) {
  char* const at = out.Room(20);
  out.Advance(static_cast<size_t>(std::to_chars(at, at + 20, value).ptr - at));
}

template <size_t N>
void PutKey(JsonText& out, char const (&key)[N]) {
  out.Append(key, N - 1);
}

template <size_t N>
void PutNumber(JsonText& out, char const (&key)[N], uint64_t value) {
  out.Append(key, N - 1);
  AppendNumber(out, value);
}

template <size_t N>
void PutString(JsonText& out, char const (&key)[N], std::string_view value) {
  out.Append(key, N - 1);
  AppendJsonBytes(out, value);
}

template <size_t N>
void PutKept(JsonText& out, char const (&key)[N], KeptText const& text) {
  out.Append(key, N - 1);
  AppendJsonBytes(out, text.text);
  if (!text.cut()) return;
  out.pop_back();
  std::string more = "\\u2026";
  AppendCutSize(more, text.size);
  more += '"';
  out += more;
}

// A result a redacted record may show, as the redacted report does: a small
// status number, never a value.
bool IsStatusResult(OperationForm const& form, std::string_view result) {
  if (form.result != kIntegerResult) return false;
  if (result.size() == 2 && result[0] == '-') result.remove_prefix(1);
  return result.size() == 1 && result[0] >= '0' && result[0] <= '9';
}

// The line of the log a node stands for: a call made before the log began
// is known by its result line.
uint64_t LineOf(Node const& node) { return node.kind == kBeforeStartNode ? node.resultLine : node.line; }

// The time of the line a node stands for (-1: the log has none there).
int64_t TimeOf(Node const& node) { return node.kind == kBeforeStartNode ? node.resultTime : node.time; }

std::string_view BaseName(std::string_view path) {
  size_t const slash = path.find_last_of("\\/:");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool ReadTimeOfDay(std::string_view text, uint64_t& microseconds) {
  auto number = [&](size_t start, size_t digits, uint64_t limit, uint64_t& value) {
    value = 0;
    if (text.size() < start + digits) return false;
    for (size_t i = start; i < start + digits; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
      value = value * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    return value < limit;
  };
  uint64_t hours = 0, minutes = 0, seconds = 0, fraction = 0;
  if (!number(0, 2, 24, hours) || text.size() < 5 || text[2] != ':' || !number(3, 2, 60, minutes)) return false;
  if (text.size() > 5 && (text[5] != ':' || !number(6, 2, 60, seconds))) return false;
  if (text.size() > 8) {
    size_t const digits = text.size() - 9;
    if (text[8] != '.' || digits == 0 || digits > 6 || !number(9, digits, 1000000, fraction)) return false;
    for (size_t i = digits; i < 6; ++i) fraction *= 10;
  }
  if (text.size() != 5 && text.size() != 8 && text.size() < 10) return false;
  microseconds = ((hours * 60 + minutes) * 60 + seconds) * 1000000 + fraction;
  return true;
}

void JsonText::Grow(size_t size) { bytes_.resize(std::max(2 * bytes_.size(), size_ + size)); }

void JsonText::clear() {
  size_ = 0;
  if (bytes_.size() > kKeptRoom) std::vector<char>().swap(bytes_);
}

void AppendJsonBytes(JsonText& out, std::string_view text) {
  auto const* const bytes = reinterpret_cast<unsigned char const*>(text.data());
  size_t const size = text.size();
  out += '"';
  // Room for the worst case of a piece, six bytes for each ("\u00ff") and a
  // UTF-8 sequence that runs past its end, so that its bytes are written one
  // by one without a check each; pieces, so that a long item takes no more
  // room than it needs.
  size_t const kPiece = 1 << 16;
  for (size_t i = 0; i < size;) {
    size_t const pieceEnd = std::min(size, i + kPiece);
    char* const start = out.Room(6 * (pieceEnd - i) + 8);
    char* at = start;
    while (i < pieceEnd) {
      if (i + 8 <= pieceEnd) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        if (PlainWord(word)) {
          std::memcpy(at, &word, 8);
          at += 8;
          i += 8;
          continue;
        }
      }
      unsigned char const c = bytes[i];
      if (kPlainByte[c]) {
        *at++ = static_cast<char>(c);
        ++i;
        continue;
      }
      size_t const sequence = c >= 0x80 ? Utf8Length(bytes + i, size - i) : 0;
      if (sequence) {
        std::memcpy(at, bytes + i, sequence);
        at += sequence;
        i += sequence;
        continue;
      }
      *at++ = '\\';
      if (c == '"' || c == '\\') {
        *at++ = static_cast<char>(c);
      } else if (c == '\n') {
        *at++ = 'n';
      } else if (c == '\r') {
        *at++ = 'r';
      } else if (c == '\t') {
        *at++ = 't';
      } else {
        std::memcpy(at, "u00", 3);
        at[3] = kHexDigits[c >> 4];
        at[4] = kHexDigits[c & 15];
        at += 5;
      }
      ++i;
    }
    out.Advance(static_cast<size_t>(at - start));
  }
  out += '"';
}

void AppendJsonBytes(std::string& out, std::string_view text) {
  JsonText json;
  AppendJsonBytes(json, text);
  out.append(json.data(), json.size());
}

JsonLinesWriter::JsonLinesWriter(OperationForms const& forms, Summary const& summary, RecordsRequest const& request,
                                 std::string_view file)
    : forms_(forms), summary_(summary), request_(request) {
  file_ = "{\"file\":";
  AppendJsonBytes(file_, request.redact ? BaseName(file) : file);
  file_ += ",\"line\":";
  // What each call's object spells the same: its operation, the signature
  // text where Class::Method names several operations, and its status.
  auto nameOf = [](OperationForm const& form) {
    return form.signature.substr(0, form.className.size() + 2 + form.method.size());
  };
  for (OperationForm const& form : forms.forms) {
    names_.emplace_back();
    names_.back() += MEMBER_KEY("operation");
    AppendJsonBytes(names_.back(), nameOf(form));
    bool const overloaded = std::count_if(forms.forms.begin(), forms.forms.end(), [&](OperationForm const& other) {
                              return nameOf(other) == nameOf(form);
                            }) > 1;
    if (overloaded) {
      names_.back() += MEMBER_KEY("signature");
      AppendJsonBytes(names_.back(), form.signature);
    }
  }
  for (CallStatus status : {kAwaitingResult, kCompleted, kSingleLine, kWithoutResult, kNotPerformed}) {
    statuses_.resize(std::max<size_t>(statuses_.size(), status + 1));
    statuses_[status] = std::string(",\"status\":\"") + StatusKey(status) + '"';
  }
}

void JsonLinesWriter::PutItem(JsonText& out, std::string_view item, bool integer) const {
  if (request_.redact) {
    out += "\"[value]\"";
  } else if (integer && IsIntegerItem(item)) {
    out += item;
  } else {
    AppendJsonBytes(out, item);
  }
}

// The members that tell a record's writer, the same for each line of a
// thread: kept for the thread of the last record.
std::string_view JsonLinesWriter::StreamText(Stream const& stream) {
  LineIds const& ids = stream.ids;
  if (streamKnown_ && streamIds_.present == ids.present && streamIds_.process == ids.process &&
      streamIds_.thread == ids.thread && streamRun_ == stream.run) {
    return streamText_.view();
  }
  JsonText& out = streamText_;
  out.clear();
  if (ids.present && request_.redact) {
    // As the redacted report's lanes: writer N, never the ids.
    auto const key = std::make_pair(ids.process, ids.thread);
    auto found = writers_.find(key);
    if (found == writers_.end() && writers_.size() < kKeptWriters) {
      found = writers_.emplace(key, writers_.size() + 1).first;
    }
    if (found != writers_.end()) PutNumber(out, MEMBER_KEY("writer"), found->second);
  } else if (ids.present) {
    PutNumber(out, MEMBER_KEY("pid"), ids.process);
    PutNumber(out, MEMBER_KEY("tid"), ids.thread);
  }
  int const run = stream.run;
  if (run >= 0) PutNumber(out, MEMBER_KEY("run"), static_cast<uint64_t>(run) + 1);
  if (run >= 0 && static_cast<size_t>(run) < summary_.runs.size() && !summary_.runs[run].computer.empty() &&
      !request_.redact) {
    PutKept(out, MEMBER_KEY("computer"), summary_.runs[run].computer);
  }
  streamKnown_ = true;
  streamIds_ = ids;
  streamRun_ = stream.run;
  return streamText_.view();
}

void JsonLinesWriter::PutHead(JsonText& out, Record const& record, Node const& node) {
  out += file_;
  AppendNumber(out, LineOf(node));
  if (node.continuedLines) PutNumber(out, MEMBER_KEY("continued_lines"), node.continuedLines);
  if (record.stream.ids.present || record.stream.run >= 0) out += StreamText(record.stream);
  int64_t const time = TimeOf(node);
  if (time >= 0) {
    PutKey(out, MEMBER_KEY("time"));
    char* const at = out.Room(kTimeOfDayBytes + 2);
    at[0] = '"';
    PutTimeOfDay(at + 1, time);
    at[kTimeOfDayBytes + 1] = '"';
    out.Advance(kTimeOfDayBytes + 2);
  }
  if (node.duration >= 0) PutNumber(out, MEMBER_KEY("duration_us"), static_cast<uint64_t>(node.duration));
}

// The table a call is on, where the reader knows it: a table object's name
// from GetTable or AddTable, the name a call gives, or the table a record
// object was built over.
JsonLinesWriter::TableRef JsonLinesWriter::TableOfCall(Record const& record, Node const& node,
                                                       ArgumentItems const& arguments) const {
  TableRef table;
  OperationForm const& form = forms_.forms[node.op];
  int const run = record.stream.run;
  std::string_view const object = record.TextOf(node.object);
  std::string_view const first = arguments.items.empty() ? std::string_view() : arguments.items[0];
  auto find = [&](std::string_view address) -> TableTally const* {
    if (IsMaskedPointer(address) || address.empty()) return nullptr;
    // Calls come in runs on one table: the summary has just counted this one.
    auto const& last = summary_.lastTable;
    TableTally const* const tally = last.valid && last.run == run && last.address == address
                                        ? &summary_.tables[last.index]
                                        : FindTable(summary_, address, run);
    return tally && !tally->name.empty() ? tally : nullptr;
  };
  switch (node.op) {
    case kDataDictionary_GetTable_ByName:
    case kDataDictionary_AddTable:
      table.name = first;
      table.tally = find(ResultItemOf(forms_, record, node));
      if (table.tally && !SameIgnoringCase(table.tally->name.text, first)) table.tally = nullptr;
      return table;
    case kDataDictionary_DeleteTable_ByName:
      table.name = first;
      return table;
    case kDataDictionary_DeleteTable_ByObject:
    case kStoreObj_Construct:
    case kStoreObj_SetSourceTable:
      table.tally = find(first);
      return table;
    default:
      break;
  }
  if (form.className == "CTable") {
    table.tally = find(object);
  } else if (form.className == "CStoreObj" && !storeTables_.empty() && !IsMaskedPointer(object)) {
    auto const found = storeTables_.find(ObjectKey(run, object));
    if (found != storeTables_.end()) table.tally = find(found->second);
  }
  return table;
}

void JsonLinesWriter::LearnStoreObject(Record const& record, Node const& node, ArgumentItems const& arguments) {
  std::string_view const object = record.TextOf(node.object);
  if (IsMaskedPointer(object)) return;
  if (node.op == kStoreObj_Destroy) {
    storeTables_.erase(ObjectKey(record.stream.run, object));
  } else if ((node.op == kStoreObj_Construct || node.op == kStoreObj_SetSourceTable) && !arguments.items.empty() &&
             (storeTables_.size() < kKeptTables || storeTables_.count(ObjectKey(record.stream.run, object)))) {
    storeTables_[ObjectKey(record.stream.run, object)] = std::string(arguments.items[0]);
  }
}

bool JsonLinesWriter::Wanted(Record const& record, Node const& node, TableRef const& table) const {
  RecordFilter const& filter = request_.filter;
  LineIds const& ids = record.stream.ids;
  if (filter.byProcess && !(ids.present && ids.process == filter.process)) return false;
  if (filter.byThread && !(ids.present && ids.thread == filter.thread)) return false;
  if (request_.fromGiven || request_.toGiven) {
    // A line without a time lies between no two times.
    int64_t const time = TimeOf(node);
    if (time < 0) return false;
    if (request_.fromGiven && static_cast<uint64_t>(time) < request_.from) return false;
    if (request_.toGiven && static_cast<uint64_t>(time) > request_.to) return false;
  }
  if (node.kind != kCallNode) return !filter.anyOperation && filter.object.empty() && filter.table.empty();
  if (filter.problemsOnly && (node.status == kCompleted || node.status == kSingleLine) && !node.entryMissing) {
    return false;
  }
  if (filter.anyOperation && !filter.operations[node.op]) return false;
  if (!filter.object.empty() && record.TextOf(node.object) != filter.object) return false;
  if (!filter.table.empty()) {
    std::string_view const name = table.tally ? std::string_view(table.tally->name.text) : table.name;
    if (name.empty() || !SameIgnoringCase(name, filter.table)) return false;
  }
  return true;
}

void JsonLinesWriter::PutCall(JsonText& out, Record const& record, int index) {
  Node const& node = record.nodes[index];
  OperationForm const& form = forms_.forms[node.op];
  std::string_view const argumentText = record.TextOf(node.arguments);
  bool const split = SplitArguments(form, argumentText, arguments_) && arguments_.split;
  if (!split) arguments_.items.clear();
  LearnStoreObject(record, node, arguments_);
  TableRef const table = TableOfCall(record, node, arguments_);
  if (!Wanted(record, node, table)) return;

  bool const redact = request_.redact;
  PutHead(out, record, node);
  std::string_view const object = record.TextOf(node.object);
  PutString(out, MEMBER_KEY("object"), redact && !IsMaskedPointer(object) ? std::string_view("[object]") : object);
  out += names_[node.op];
  if (split) {
    PutKey(out, MEMBER_KEY("args"));
    out += '[';
    for (size_t i = 0; i < arguments_.items.size(); ++i) {
      if (i) out += ',';
      PutItem(out, arguments_.items[i], form.arguments[i] == kIntegerItem);
    }
    out += ']';
    if (form.exchange && arguments_.items.size() >= 3) {
      // selector, value (buffer forms: text and length), direction
      std::vector<std::string_view> const& items = arguments_.items;
      PutKey(out, MEMBER_KEY("field"));
      PutItem(out, items[0], form.arguments[0] == kIntegerItem);
      PutKey(out, MEMBER_KEY("value"));
      PutItem(out, items[1], form.arguments[1] == kIntegerItem);
      if (items.size() == 4) {
        PutKey(out, MEMBER_KEY("length"));
        PutItem(out, items[2], true);
      }
      PutKey(out, MEMBER_KEY("direction"));
      PutItem(out, items.back(), true);
    }
  } else {
    // Several text items with spaces in them: the items as one text.
    PutString(out, MEMBER_KEY("args_text"), redact ? std::string_view("[values]") : argumentText);
  }
  out += statuses_[node.status];
  if (node.entryMissing || node.status == kNotPerformed) out += ",\"entry_missing\":true";
  if (node.status == kCompleted) {
    std::string_view const resultText = record.TextOf(node.result);
    ResultItems& items = resultItems_;
    if (!SplitResult(form, resultText, items)) {
      PutString(out, MEMBER_KEY("result_text"), redact ? std::string_view("[value]") : resultText);
    } else if (form.result == kFieldResult) {
      PutString(out, MEMBER_KEY("result"), redact ? std::string_view("[value]") : resultText);
    } else if (form.result != kStateOnlyResult) {
      PutKey(out, MEMBER_KEY("result"));
      if (redact && IsStatusResult(form, items.result)) {
        out += items.result;
      } else {
        PutItem(out, items.result, form.result == kIntegerResult);
      }
    }
    if (items.stateCount && !redact) {
      PutKey(out, MEMBER_KEY("state"));
      out += '[';
      for (int i = 0; i < items.stateCount; ++i) {
        if (i) out += ',';
        PutItem(out, items.state[i], true);
      }
      out += ']';
    }
    PutNumber(out, MEMBER_KEY("result_line"), node.resultLine);
  }
  if (table.tally && redact) {
    // The redacted report's "table N", numbered here in the order first seen.
    PutKey(out, MEMBER_KEY("table"));
    out += "\"table ";
    AppendNumber(out, static_cast<uint64_t>(table.tally - summary_.tables.data()) + 1);
    out += '"';
  } else if (table.tally) {
    PutKept(out, MEMBER_KEY("table"), table.tally->name);
  } else if (!table.name.empty() && !redact) {
    PutString(out, MEMBER_KEY("table"), table.name);
  }
  int depth = 0;
  for (int parent = node.parent; parent >= 0; parent = record.nodes[parent].parent) ++depth;
  if (node.parent >= 0) {
    PutNumber(out, ",\"by_module\":true,\"depth\":", static_cast<uint64_t>(depth));
  } else {
    out += ",\"by_module\":false,\"depth\":0";
  }
  PolicyOutcome const outcome = OutcomeOf(forms_, record, index);
  if (outcome != kNoOutcome) {
    PutString(out, MEMBER_KEY("note"), kPolicyLabels[outcome]);
    PutString(out, MEMBER_KEY("policy"), OutcomeKey(outcome));
  }
  if (record.unreliable) out += ",\"pairing\":\"unreliable\"";
  out += "}\n";
  ++written_;
}

// Records come in the order of their first lines; the calls the module
// made inside one may come after the first lines of other threads' records,
// and wait for them. A log without ids has one writer: nothing waits.
void JsonLinesWriter::Write(JsonText& out, Record const& record) {
  // Nodes stand in the order of their first lines, but for a call made
  // before the log began, which its children's lines precede.
  std::vector<int>& order = order_;
  order.resize(record.nodes.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  if (record.nodes[0].kind == kBeforeStartNode) {
    std::stable_sort(order.begin(), order.end(),
                     [&](int left, int right) { return LineOf(record.nodes[left]) < LineOf(record.nodes[right]); });
  }
  Release(out, LineOf(record.nodes[order[0]]));
  bool const direct = !record.stream.ids.present && held_.size() == heldStart_;
  for (int const index : order) {
    if (direct || index == order[0]) {
      WriteNode(out, record, index);
      continue;
    }
    // Its own piece of the text of lines waiting, in line order.
    size_t const offset = heldText_.size();
    WriteNode(heldText_, record, index);
    if (heldText_.size() == offset) continue;
    Held const held = {LineOf(record.nodes[index]), offset, heldText_.size() - offset};
    auto place = held_.end();
    while (place - held_.begin() > static_cast<std::ptrdiff_t>(heldStart_) && (place - 1)->line > held.line) --place;
    held_.insert(place, held);
    while (held_.size() - heldStart_ > kMaxHeld || heldText_.size() - releasedBytes_ > kMaxHeldBytes) {
      Release(out, held_[heldStart_].line + 1);
    }
  }
}

void JsonLinesWriter::Release(JsonText& out, uint64_t before) {
  while (heldStart_ < held_.size() && held_[heldStart_].line < before) {
    Held const& held = held_[heldStart_++];
    out.Append(heldText_.data() + held.offset, held.length);
    releasedBytes_ += held.length;
  }
  if (heldStart_ == held_.size()) {
    held_.clear();
    heldText_.clear();
    heldStart_ = releasedBytes_ = 0;
  } else if (releasedBytes_ > kMaxHeldBytes / 2) {
    JsonText text;
    for (size_t i = heldStart_; i < held_.size(); ++i) {
      size_t const offset = text.size();
      text.Append(heldText_.data() + held_[i].offset, held_[i].length);
      held_[i].offset = offset;
    }
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(heldStart_));
    heldText_.swap(text);
    heldStart_ = releasedBytes_ = 0;
  }
}

void JsonLinesWriter::Write(std::string& out, Record const& record) {
  JsonText text;
  Write(text, record);
  out.append(text.data(), text.size());
}

void JsonLinesWriter::Finish(JsonText& out) { Release(out, UINT64_MAX); }

void JsonLinesWriter::WriteNode(JsonText& out, Record const& record, int index) {
  bool const redact = request_.redact;
  Node const& node = record.nodes[index];
  sawTimes_ = sawTimes_ || TimeOf(node) >= 0;
  if (node.kind == kCallNode) {
    PutCall(out, record, index);
    return;
  }
  if (!Wanted(record, node, TableRef())) return;
  PutHead(out, record, node);
  std::string_view const text = record.TextOf(node.text);
  switch (node.kind) {
    case kErrorNode:
      out += ",\"error\":{\"number\":";
      AppendNumber(out, static_cast<uint64_t>(node.errorNumber));
      PutKey(out, MEMBER_KEY("text"));
      if (redact) {
        // The module's own words are no secret; whatever else the line holds may be.
        AppendJsonBytes(out, "*** Error *** #" + ErrorNumberText(node.errorNumber));
      } else {
        AppendJsonBytes(out, text);
      }
      out += '}';
      break;
    case kBadNode:
      out += ",\"damaged\":{\"problem\":";
      AppendJsonBytes(out, node.problem);
      if (!redact) PutString(out, MEMBER_KEY("text"), text);
      if (text.size() >= kMaxKeptText) PutString(out, MEMBER_KEY("kept"), "the first bytes of the line");
      out += '}';
      break;
    case kBeforeStartNode:
      out += ",\"before_start\":{\"result\":";
      AppendJsonBytes(out, redact ? std::string_view("[value]") : record.TextOf(node.result));
      out += '}';
      if (record.unreliable) out += ",\"pairing\":\"unreliable\"";
      break;
    case kMarkNode:
      // The module's own trigger words are no secret.
      if (node.text.length) {
        bool const masked = redact && !IsRecorderTrigger(text);
        PutString(out, MEMBER_KEY("recorder"), masked ? std::string_view("[trigger]") : text);
        PutNumber(out, MEMBER_KEY("lines"), node.recordedLines);
      } else {
        out += ",\"recorder_end\":true";
      }
      break;
    case kCallNode:
      break;
  }
  out += ",\"depth\":0}\n";
  ++written_;
}

int WriteRecords(OperationForms const& forms, RecordsRequest const& request) {
  int status = 0;
  bool timed = false;
  JsonText out;
  auto flush = [&]() {
    if (!out.empty()) WriteStandard(kStandardOutput, out.data(), out.size());
    out.clear();
  };
  auto complain = [&](std::string text) {
    flush();
    WriteStandard(kStandardError, text.data(), text.size());
  };
  for (std::string const& path : request.paths) {
    LogFile file;
    if (!file.Open(path)) {
      complain("tolvan32-trace: cannot open " + path + "\n");
      status = 2;
      continue;
    }
    std::string name;
    uint64_t logs = 0;
    while (file.NextLog(name)) {
      ++logs;
      Summary summary;
      JsonLinesWriter writer(forms, summary, request, name);
      TraceReader reader(forms, summary, [&](Record const& record) {
        CountRecord(summary, forms, record);
        writer.Write(out, record);
        if (out.size() >= kOutputPiece) flush();
      });
      reader.KeepLineOrder();
      bool const read = reader.ReadAll(file.Log());
      writer.Finish(out);
      timed = timed || writer.sawTimes();
      if (!read) break;
      if (summary.badLines && status == 0) status = 1;
    }
    if (!file.Error().empty()) {
      complain("tolvan32-trace: " + file.Error() + "\n");
      status = 2;
    } else if (logs == 0) {
      complain("tolvan32-trace: " + path + " holds no log to read (the plain logs, *.log but Tolvan32_b*.log)\n");
      status = 2;
    }
  }
  flush();
  if ((request.fromGiven || request.toGiven) && !timed) {
    complain("tolvan32-trace: these logs carry no times (Tolvan32_TraceTime=1 writes them): --from and --to "
             "selected nothing\n");
  }
  return status;
}

}  // namespace tools
}  // namespace tolvan

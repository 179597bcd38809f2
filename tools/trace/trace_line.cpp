#include "tools/trace/trace_line.h"

#include <cstring>

namespace tolvan {
namespace tools {

namespace {

constexpr std::string_view kErrorPrefix = " *** Error *** #";
char const kWithoutClosingSeparator[] = "call line without its closing separator";
constexpr std::string_view kResultIndent = "                ";  // separator, the 14-space item, separator
size_t const kMaxPointerDigits = 16;
static_assert(kErrorPrefix.size() == 16 && kResultIndent.size() == 16, "compared as two words");

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The digits of a pointer item, as "%p" writes them: lower case.
struct HexDigitTable {
  bool digit[256] = {};
  constexpr HexDigitTable() {
    for (int c = '0'; c <= '9'; ++c) digit[c] = true;
    for (int c = 'a'; c <= 'f'; ++c) digit[c] = true;
  }
  constexpr bool operator[](unsigned char c) const { return digit[c]; }
};
constexpr HexDigitTable kHexDigit;

bool IsRealItem(std::string_view item) {
  if (item.empty()) return false;
  bool digit = false;
  for (char const c : item) {
    if (IsDigit(c)) {
      digit = true;
    } else if (!(c == '.' || c == '-' || c == '+' || c == 'e' || c == 'i' || c == 'n' || c == 'f' || c == 'a')) {
      return false;
    }
  }
  // "inf", "-inf" and "nan" are the only forms without a digit.
  return digit || item == "inf" || item == "-inf" || item == "nan";
}

bool ValidItem(ItemKind kind, std::string_view item) {
  switch (kind) {
    case kIntegerItem:
      return IsIntegerItem(item);
    case kPointerItem:
      return IsPointerItem(item);
    case kRealItem:
      return IsRealItem(item);
    case kCharItem:
      return item.size() == 1 || item == "EMPTY";
    case kTextItem:
      return !item.empty();
  }
  return false;
}

std::string_view Sub(std::string_view text, size_t start, size_t end) { return text.substr(start, end - start); }

// Where the next space is from `start` (the size when none is): items are a
// few bytes long, shorter than the library's search takes to start.
size_t SpaceFrom(std::string_view text, size_t start) {
  while (start < text.size() && text[start] != ' ') ++start;
  return start;
}

// The length of the item of this kind that starts at `position` (for a
// character item: one byte, or "EMPTY" for the zero character).
size_t ItemLengthFrom(ItemKind kind, std::string_view text, size_t position) {
  std::string_view const rest = text.substr(position);
  if (kind == kCharItem) {
    bool const empty = rest.substr(0, 5) == "EMPTY" && (rest.size() == 5 || rest[5] == ' ');
    return empty ? 5 : (rest.empty() ? 0 : 1);
  }
  return SpaceFrom(rest, 0);
}

// The length of the item of this kind that ends at `end`.
size_t ItemLengthTo(ItemKind kind, std::string_view text, size_t end) {
  std::string_view const before = text.substr(0, end);
  if (kind == kCharItem) {
    bool const empty = end >= 5 && before.substr(end - 5) == "EMPTY" && (end == 5 || before[end - 6] == ' ');
    return empty ? 5 : (end ? 1 : 0);
  }
  size_t const space = before.rfind(' ');
  return space == std::string_view::npos ? end : end - space - 1;
}

// Takes "( w )" or "( w : w : w )" from the end of `body`; `rest` is what
// stands before it, without its separator.
bool TakeState(std::string_view body, int words, std::string_view* state, std::string_view& rest) {
  size_t end = body.size();
  // Every result line's state: the token back from `end` to a space is
  // found by hand, without the views that ItemLengthTo cuts.
  char const* const text = body.data();
  auto takeToken = [&](std::string_view& token) {
    size_t start = end;
    while (start > 0 && text[start - 1] != ' ') --start;
    if (start == end) return false;
    token = std::string_view(text + start, end - start);
    end = start;
    return true;
  };
  auto takeSeparator = [&]() {
    if (end == 0 || body[end - 1] != ' ') return false;
    --end;
    return true;
  };
  // Nearly every state is "( d )" of one digit: taken without the tokens.
  if (words == 1 && end >= 5 && text[end - 1] == ')' && text[end - 2] == ' ' && IsDigit(text[end - 3]) &&
      text[end - 4] == ' ' && text[end - 5] == '(' && (end == 5 || text[end - 6] == ' ')) {
    state[0] = std::string_view(text + end - 3, 1);
    rest = body.substr(0, end == 5 ? 0 : end - 6);
    return true;
  }
  std::string_view token;
  if (!takeToken(token) || token != ")") return false;
  for (int i = words - 1; i >= 0; --i) {
    if (!takeSeparator() || !takeToken(state[i]) || !IsIntegerItem(state[i])) return false;
    if (i > 0 && !(takeSeparator() && takeToken(token) && token == ":")) return false;
  }
  if (!takeSeparator() || !takeToken(token) || token != "(") return false;
  if (end > 0 && !takeSeparator()) return false;
  rest = body.substr(0, end);
  return true;
}

bool TakeField(std::string_view rest, ResultItems& items) {
  if (rest == "[ NULL ]") {
    items.nullField = true;
    return true;
  }
  if (rest.size() < 9 || rest.substr(0, 2) != "[ " || rest.substr(rest.size() - 2) != " ]") return false;
  std::string_view const inner = Sub(rest, 2, rest.size() - 2);
  size_t end = inner.size();
  for (int i = 1; i >= 0; --i) {
    size_t const length = ItemLengthTo(kIntegerItem, inner, end);
    items.fieldWords[i] = Sub(inner, end - length, end);
    if (!IsIntegerItem(items.fieldWords[i]) || end - length < 2 || inner[end - length - 1] != ' ') return false;
    end -= length + 1;
  }
  items.fieldName = inner.substr(0, end);
  return end > 0;
}

// Whether `text` begins with `prefix`, 16 bytes: an error line's marker and
// a result line's indent, asked of every line, compared as two words.
bool StartsWith16(std::string_view text, std::string_view prefix) {
  if (text.size() < 16) return false;
  uint64_t words[4];
  std::memcpy(words, text.data(), 16);
  std::memcpy(words + 2, prefix.data(), 16);
  return words[0] == words[2] && words[1] == words[3];
}

// The next item of `text` (which starts at an item's separator), taken off it.
std::string_view TakeItem(std::string_view& text) {
  if (text.empty() || text[0] != ' ') return {};
  text.remove_prefix(1);
  size_t const length = std::min(text.find(' '), text.size());
  std::string_view const item = text.substr(0, length);
  text.remove_prefix(length);
  return item;
}

// A digit's value; above 9 for any other byte.
unsigned DigitValue(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; }

// Eight bytes from `bytes` as one word, the first byte lowest.
uint64_t LoadWord(char const* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, 8);
  return word;
}

// `word` (the first byte lowest) with each digit made its value: the number
// of digits before the first other byte, 8 when all are digits. A carry
// from a byte far from a digit spoils only the bytes above it.
unsigned LeadingDigits(uint64_t& word) {
  word ^= 0x3030303030303030ull;  // only '0'..'9' become 0..9
  uint64_t const others = ((word + 0x7676767676767676ull) | word) & 0x8080808080808080ull;
  return others ? static_cast<unsigned>(__builtin_ctzll(others)) / 8 : 8;
}

// The number of the first `count` (1 to 8) digit values of `word`.
uint64_t NumberOfDigits(uint64_t word, unsigned count) {
  word <<= 8 * (8 - count);  // leading zeros in place of the bytes after them
  word = (word * 10) + (word >> 8);
  word = ((word & 0x000000ff000000ffull) * (100 + (1000000ull << 32)) +
          ((word >> 16) & 0x000000ff000000ffull) * (1 + (10000ull << 32))) >>
         32;
  return word;
}

// The number at `at` that `stop` ends: where the byte after `stop` is, or
// nullptr. Pointers rather than a view: the reader asks it twice a line.
char const* NumberEndedBy(char const* at, char const* end, char stop, uint32_t& value) {
  size_t const size = static_cast<size_t>(end - at);
  if (size >= 8) {
    // Ids of up to seven digits, as nearly all are, at once.
    uint64_t word = LoadWord(at);
    unsigned const count = LeadingDigits(word);
    if (count < 8) {
      if (count == 0 || at[count] != stop) return nullptr;
      value = static_cast<uint32_t>(NumberOfDigits(word, count));
      return at + count + 1;
    }
  }
  size_t const most = std::min<size_t>(size, 10);
  size_t digits = 0;
  uint64_t number = 0;
  for (unsigned digit; digits < most && (digit = DigitValue(at[digits])) <= 9; ++digits) number = number * 10 + digit;
  if (digits == 0 || digits == size || at[digits] != stop || number > 0xffffffffu) return nullptr;
  value = static_cast<uint32_t>(number);
  return at + digits + 1;
}

// The rest of a line after its marker, up to the closing separator.
bool TakeMarked(std::string_view text, std::string_view marker, std::string_view& rest) {
  if (text.substr(0, marker.size()) != marker || text.size() < marker.size() + 2 || text.back() != ' ') return false;
  rest = text.substr(marker.size(), text.size() - marker.size() - 1);
  return true;
}

// The ids and time items at `at`: where the rest of the line begins (`at`
// when the items are not there). Their fields are set one by one into the
// caller's: a struct made here and returned is stored in parts and loaded
// whole, and such a load waits for the stores. Every line of a log with
// them asks.
char const* ReadIds(char const* at, char const* end, LineIds& ids) {
  uint32_t process;
  uint32_t thread;
  char const* const colon = NumberEndedBy(at + 2, end, ':', process);
  char const* const rest = colon ? NumberEndedBy(colon, end, ']', thread) : nullptr;
  if (!rest) return at;
  ids.present = true;
  ids.process = process;
  ids.thread = thread;
  return rest;
}

// " @HH:MM:SS.ffffff", then a separator: every line of a timed log has it.
char const* ReadTime(char const* const bytes, char const* last, LineTime& time) {
  if (bytes[4] != ':' || bytes[7] != ':' || bytes[10] != '.' || (last - bytes > 17 && bytes[17] != ' ')) return bytes;
  // "HH:MM:SS" and "S.ffffff" as two words, each byte checked for a digit
  // at once (the separators made digits first).
  uint64_t clock;
  uint64_t fraction;
  std::memcpy(&clock, bytes + 2, 8);
  std::memcpy(&fraction, bytes + 9, 8);
  uint64_t const kZeros = 0x3030303030303030ull;
  clock = (clock & ~0x0000ff0000ff0000ull) | (kZeros & 0x0000ff0000ff0000ull);
  fraction = (fraction & ~0xffffull) | (kZeros & 0xffffull);
  auto digitsOnly = [](uint64_t word) {
    uint64_t const kHigh = 0xf0f0f0f0f0f0f0f0ull;
    return (word & kHigh) == kZeros && ((word + 0x0606060606060606ull) & kHigh) == kZeros;
  };
  if (!digitsOnly(clock) || !digitsOnly(fraction)) return bytes;
  clock -= kZeros;
  fraction -= kZeros;
  auto byte = [](uint64_t word, int at) { return static_cast<int64_t>((word >> (8 * at)) & 0xff); };
  int64_t const hours = byte(clock, 0) * 10 + byte(clock, 1);
  int64_t const minutes = byte(clock, 3) * 10 + byte(clock, 4);
  int64_t const seconds = byte(clock, 6) * 10 + byte(clock, 7);
  int64_t const micros = static_cast<int64_t>(NumberOfDigits(fraction >> 16, 6));
  if (hours >= 24 || minutes >= 60 || seconds >= 61) return bytes;
  time.present = true;
  time.micros = ((hours * 60 + minutes) * 60 + seconds) * 1000000 + micros;
  // " +Nus"
  char const* const rest = bytes + 17;
  size_t const size = static_cast<size_t>(last - rest);
  if (size > 4 && rest[0] == ' ' && rest[1] == '+' && DigitValue(rest[2]) <= 9) {
    size_t end = 2;
    int64_t duration = 0;
    uint64_t word = 0;
    unsigned const count = size >= 10 ? LeadingDigits(word = LoadWord(rest + 2)) : 8;
    if (count < 8) {
      // Up to seven digits at once: "us" follows them within the word.
      duration = static_cast<int64_t>(NumberOfDigits(word, count));
      end += count;
    } else {
      for (unsigned digit; end < size && end < 20 && (digit = DigitValue(rest[end])) <= 9; ++end) {
        duration = duration * 10 + digit;
      }
    }
    if (end + 2 <= size && rest[end] == 'u' && rest[end + 1] == 's' && (end + 2 == size || rest[end + 2] == ' ')) {
      time.duration = duration;
      return rest + end + 2;
    }
  }
  return rest;
}

}  // namespace

size_t TakeLineItemsAt(char const* bytes, size_t size, LineIds& ids, LineTime& time) {
  char const* at = bytes;
  char const* const end = bytes + size;
  if (end - at >= 2 && at[1] == '[' && at[0] == ' ') at = ReadIds(at, end, ids);
  if (end - at >= 17 && at[1] == '@' && at[0] == ' ') at = ReadTime(at, end, time);
  return static_cast<size_t>(at - bytes);
}

void PutTimeOfDay(char* digits, int64_t micros) {
  // Seconds and their fraction apart first: one division by a large
  // number instead of one for each part.
  uint64_t const seconds = static_cast<uint64_t>(micros) / 1000000;
  uint64_t fraction = static_cast<uint64_t>(micros) % 1000000;
  uint64_t const parts[] = {seconds / 3600, seconds / 60 % 60, seconds % 60};
  for (int i = 0; i < 3; ++i) {
    digits[i * 3] = static_cast<char>('0' + parts[i] / 10 % 10);
    digits[i * 3 + 1] = static_cast<char>('0' + parts[i] % 10);
    digits[i * 3 + 2] = i < 2 ? ':' : '.';
  }
  for (int i = 5; i >= 0; --i, fraction /= 10) digits[9 + i] = static_cast<char>('0' + fraction % 10);
}

void AppendTimeOfDay(std::string& out, int64_t micros) {
  char digits[kTimeOfDayBytes];
  PutTimeOfDay(digits, micros);
  out.append(digits, kTimeOfDayBytes);
}

bool ReadRunLine(std::string_view text, RunLine& run) {
  std::string_view rest;
  if (!TakeMarked(text, " *** Run ***", rest)) return false;
  run = RunLine();
  run.date = TakeItem(rest);
  run.time = TakeItem(rest);
  if (TakeItem(rest) != "Tolvan32") return false;
  run.version = TakeItem(rest);
  std::string_view item = TakeItem(rest);
  for (; !item.empty() && item != "Host" && item != "Computer"; item = TakeItem(rest)) {
    if (item.find('=') == std::string_view::npos) return false;
    if (run.options.size() < kKeptOptions) run.options.push_back(item);
    ++run.optionCount;
  }
  if (item == "Computer") {
    // "Computer NAME User DOMAIN\NAME": a user name may hold spaces, so it
    // runs to the "Host" item.
    run.computer = TakeItem(rest);
    if (run.computer.empty() || TakeItem(rest) != "User") return false;
    size_t const host = rest.find(" Host ");
    if (host == std::string_view::npos || host == 0) return false;
    run.user = rest.substr(1, host - 1);
    rest.remove_prefix(host + 5);
  }
  if (rest.empty()) return false;
  run.host = rest.substr(1);
  return run.date.size() == 10 && run.time.size() == 8 && !run.version.empty();
}

bool ReadEngineLine(std::string_view text, EngineLine& engine) {
  std::string_view rest;
  if (!TakeMarked(text, " *** Engine ***", rest)) return false;
  engine.version = TakeItem(rest);
  if (engine.version.empty() || rest.empty()) return false;
  engine.path = rest.substr(1);
  return true;
}

bool ReadRecorderMark(std::string_view text, RecorderMark& mark) {
  while (text.size() > 1 && text.back() == ' ') text.remove_suffix(1);
  mark = RecorderMark();
  if (text == " *** Recorder end ***") {
    mark.end = true;
    return true;
  }
  std::string_view const marker = " *** Recorder ***";
  if (text.substr(0, marker.size()) != marker) return false;
  std::string_view rest = text.substr(marker.size());
  mark.trigger = TakeItem(rest);
  std::string_view const count = TakeItem(rest);
  if (mark.trigger.empty() || count.empty() || !rest.empty()) return false;
  uint64_t value = 0;
  for (char const c : count) {
    if (!IsDigit(c) || count.size() > 9) return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  mark.lines = static_cast<uint32_t>(value);
  return true;
}

bool IsRecorderTrigger(std::string_view word) {
  for (char const* known : {"error", "policy", "exception", "slow", "snapshot"}) {
    if (word == known) return true;
  }
  return false;
}


bool IsPointerItem(std::string_view item) {
  // Eight digits on the module's platform; more where pointers are wider.
  if (item.size() < 8 || item.size() > kMaxPointerDigits) return false;
  if (item[0] == '.') return IsMaskedPointer(item);
  // Every call line has one: its digits are checked without a branch each.
  bool hex = true;
  for (size_t i = 0; i < item.size(); ++i) hex &= kHexDigit[static_cast<unsigned char>(item[i])];
  return hex;
}

bool MayContinue(TraceLine const& line) { return line.problem == kWithoutClosingSeparator; }

// Fills a line as it stands, default made: the reader's own lines are
// taken apart where they are kept, without a copy.
void ClassifyLineInto(OperationForms const& forms, std::string_view text, TraceLine& line) {
  auto bad = [&line](char const* problem) { line.problem = problem; };
  if (text.size() >= kErrorPrefix.size() + 5 && StartsWith16(text, kErrorPrefix)) {
    std::string_view const number = text.substr(kErrorPrefix.size());
    if (!(IsDigit(number[0]) && IsDigit(number[1]) && IsDigit(number[2]) && number[3] == ' ' && number[4] == '(')) {
      return bad("error line without its number");
    }
    line.kind = kErrorLine;
    line.errorNumber = (number[0] - '0') * 100 + (number[1] - '0') * 10 + (number[2] - '0');
    line.text = text.substr(1);
    return;
  }
  if (text.empty()) return bad("empty line");
  if (StartsWith16(text, kResultIndent)) {
    if (text.size() == kResultIndent.size() || text.back() != ' ') {
      return bad("result line without its items or its closing separator");
    }
    line.kind = kResultLine;
    line.body = Sub(text, kResultIndent.size(), text.size() - 1);
    return;
  }
  if (text[0] != ' ') return bad("not a trace line");
  // Pointers have eight digits on the module's platform; wider ones, or a
  // space among the eight, are looked for (the object is no pointer then).
  size_t const pointerEnd = text.size() > 9 && text[9] == ' ' ? 9 : SpaceFrom(text.substr(0, kMaxPointerDigits + 2), 1);
  std::string_view const object = Sub(text, 1, pointerEnd);
  if (pointerEnd >= text.size() || !IsPointerItem(object)) return bad("not a trace line");
  size_t const signatureStart = pointerEnd + 1;
  int const op = FindSignature(forms, text.substr(signatureStart));
  if (op < 0) return bad("unknown operation text");
  size_t const restStart = signatureStart + forms.forms[op].signature.size();
  // The rest: the separator of each argument item, then the line end's.
  if (restStart == text.size() || text.back() != ' ') return bad(kWithoutClosingSeparator);
  line.kind = kCallLine;
  line.op = op;
  line.object = object;
  line.arguments = restStart + 1 == text.size() ? text.substr(text.size()) : Sub(text, restStart + 1, text.size() - 1);
}

TraceLine ClassifyLine(OperationForms const& forms, std::string_view text) {
  TraceLine line;
  ClassifyLineInto(forms, text, line);
  return line;
}

bool SplitArguments(OperationForm const& form, std::string_view arguments, ArgumentItems& result) {
  std::vector<std::string_view>& items = result.items;
  int const count = static_cast<int>(form.arguments.size());
  items.resize(form.arguments.size());  // every item is set below when the arguments fit
  result.split = true;
  if (count == 0) return arguments.empty();

  // Items of fixed kinds from the left up to the first text item...
  size_t left = 0;
  int first = 0;
  for (; first < count && form.arguments[first] != kTextItem; ++first) {
    if (first > 0) {
      if (left >= arguments.size() || arguments[left] != ' ') return false;
      ++left;
    }
    size_t const length = ItemLengthFrom(form.arguments[first], arguments, left);
    items[first] = arguments.substr(left, length);
    if (!ValidItem(form.arguments[first], items[first])) return false;
    left += length;
  }
  if (first == count) return left == arguments.size();
  if (first > 0) {
    if (left >= arguments.size() || arguments[left] != ' ') return false;
    ++left;
  }

  // ...then from the right down to the last text item...
  size_t right = arguments.size();
  int last = count - 1;
  for (; last > first && form.arguments[last] != kTextItem; --last) {
    size_t const length = ItemLengthTo(form.arguments[last], arguments, right);
    items[last] = Sub(arguments, right - length, right);
    if (!ValidItem(form.arguments[last], items[last])) return false;
    right -= length;
    if (right <= left || arguments[right - 1] != ' ') return false;
    --right;
  }
  if (right < left) return false;

  // ...and the text items in between. Texts may hold spaces: one text takes
  // all of it; several are split at spaces when that gives exactly as many.
  std::string_view const middle = Sub(arguments, left, right);
  int const texts = last - first + 1;
  if (texts == 1) {
    items[first] = middle;
    return !middle.empty();
  }
  int const pieces = 1 + static_cast<int>(std::count(middle.begin(), middle.end(), ' '));
  if (pieces < texts) return false;
  size_t start = 0;
  for (int i = first; i <= last; ++i) {
    // With more pieces than texts, a field-exchange line gives the field name
    // its first piece and the value all the rest.
    size_t const end = i < last ? std::min(middle.find(' ', start), middle.size()) : middle.size();
    items[i] = Sub(middle, start, end);
    if (items[i].empty()) return false;
    start = end + 1;
  }
  if (pieces > texts && !(form.exchange && texts == 2)) result.split = false;
  return true;
}

bool SplitResult(OperationForm const& form, std::string_view body, ResultItems& items) {
  // Only what each form reads: this runs for every result line.
  items.result = {};
  items.stateCount = 0;
  items.fieldName = {};
  items.nullField = false;
  std::string_view rest = body;
  switch (form.state) {
    case kNoState:
      break;
    case kTableState:
    case kStoreFirstWord:
      if (!TakeState(body, 1, items.state, rest)) return false;
      items.stateCount = 1;
      break;
    case kStoreThreeWords:
      if (!TakeState(body, 3, items.state, rest)) return false;
      items.stateCount = 3;
      break;
  }
  items.result = rest;
  switch (form.result) {
    case kNoResultRecord:
      return false;
    case kIntegerResult:
      return IsIntegerItem(rest);
    case kPointerResult:
      return IsPointerItem(rest);
    case kTextResult:
      return !rest.empty();
    case kStateOnlyResult:
      return rest.empty() && items.stateCount > 0;
    case kFieldResult:
      items.result = rest.substr(0, 0);
      return TakeField(rest, items);
  }
  return false;
}

}  // namespace tools
}  // namespace tolvan

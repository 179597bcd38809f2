#include "tools/trace/trace_line.h"

#include "tools/common/tool_crt.h"

namespace tolvan {
namespace tools {

namespace {

char const kErrorPrefix[] = " *** Error *** #";
size_t const kResultIndent = 16;  // separator, the 14-space item, separator
size_t const kMaxPointerDigits = 16;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsRealItem(Span item) {
  if (item.length == 0) return false;
  bool digit = false;
  for (size_t i = 0; i < item.length; ++i) {
    char const c = item.data[i];
    if (IsDigit(c)) {
      digit = true;
    } else if (!(c == '.' || c == '-' || c == '+' || c == 'e' || c == 'i' || c == 'n' || c == 'f' || c == 'a')) {
      return false;
    }
  }
  // "inf", "-inf" and "nan" are the only forms without a digit.
  return digit || SpanEquals(item, "inf") || SpanEquals(item, "-inf") || SpanEquals(item, "nan");
}

bool ValidItem(ItemKind kind, Span item) {
  switch (kind) {
    case kIntegerItem:
      return IsIntegerItem(item);
    case kPointerItem:
      return IsPointerItem(item);
    case kRealItem:
      return IsRealItem(item);
    case kCharItem:
      return item.length == 1 || SpanEquals(item, "EMPTY");
    case kTextItem:
      return item.length > 0;
  }
  return false;
}

Span Sub(Span span, size_t start, size_t end) { return Span{span.data + start, end - start}; }

// The length of the item of this kind that starts at `position` (for a
// character item: one byte, or "EMPTY" for the zero character).
size_t ItemLengthFrom(ItemKind kind, Span text, size_t position) {
  size_t const rest = text.length - position;
  if (kind == kCharItem) {
    bool const empty = rest >= 5 && memcmp(text.data + position, "EMPTY", 5) == 0 &&
                       (rest == 5 || text.data[position + 5] == ' ');
    return empty ? 5 : (rest ? 1 : 0);
  }
  size_t length = 0;
  while (length < rest && text.data[position + length] != ' ') ++length;
  return length;
}

// The length of the item of this kind that ends at `end`.
size_t ItemLengthTo(ItemKind kind, Span text, size_t end) {
  if (kind == kCharItem) {
    bool const empty = end >= 5 && memcmp(text.data + end - 5, "EMPTY", 5) == 0 &&
                       (end == 5 || text.data[end - 6] == ' ');
    return empty ? 5 : (end ? 1 : 0);
  }
  size_t length = 0;
  while (length < end && text.data[end - 1 - length] != ' ') ++length;
  return length;
}

// Takes "( w )" or "( w : w : w )" from the end of `body`; `rest` is what
// stands before it, without its separator.
bool TakeState(Span body, int words, Span* state, Span& rest) {
  size_t end = body.length;
  auto takeToken = [&](Span& token) {
    size_t length = 0;
    while (length < end && body.data[end - 1 - length] != ' ') ++length;
    if (length == 0) return false;
    token = Sub(body, end - length, end);
    end -= length;
    return true;
  };
  auto takeSeparator = [&]() {
    if (end == 0 || body.data[end - 1] != ' ') return false;
    --end;
    return true;
  };
  Span token;
  if (!takeToken(token) || !SpanEquals(token, ")")) return false;
  for (int i = words - 1; i >= 0; --i) {
    if (!takeSeparator() || !takeToken(state[i]) || !IsIntegerItem(state[i])) return false;
    if (i > 0 && !(takeSeparator() && takeToken(token) && SpanEquals(token, ":"))) return false;
  }
  if (!takeSeparator() || !takeToken(token) || !SpanEquals(token, "(")) return false;
  if (end > 0 && !takeSeparator()) return false;
  rest = Sub(body, 0, end);
  return true;
}

bool TakeField(Span rest, ResultItems& items) {
  if (SpanEquals(rest, "[ NULL ]")) {
    items.nullField = true;
    return true;
  }
  if (rest.length < 9 || memcmp(rest.data, "[ ", 2) != 0 || memcmp(rest.data + rest.length - 2, " ]", 2) != 0) {
    return false;
  }
  Span inner = Sub(rest, 2, rest.length - 2);
  size_t end = inner.length;
  for (int i = 1; i >= 0; --i) {
    size_t const length = ItemLengthTo(kIntegerItem, inner, end);
    items.fieldWords[i] = Sub(inner, end - length, end);
    if (!IsIntegerItem(items.fieldWords[i]) || end - length < 2 || inner.data[end - length - 1] != ' ') return false;
    end -= length + 1;
  }
  items.fieldName = Sub(inner, 0, end);
  return end > 0;
}

}  // namespace

bool SpanEquals(Span span, char const* text) {
  size_t const length = strlen(text);
  return span.length == length && memcmp(span.data, text, length) == 0;
}

bool IsMaskedPointer(Span item) { return SpanEquals(item, "........"); }

bool IsPointerItem(Span item) {
  if (IsMaskedPointer(item)) return true;
  // Eight digits on the module's platform; more where pointers are wider.
  if (item.length < 8 || item.length > kMaxPointerDigits) return false;
  for (size_t i = 0; i < item.length; ++i) {
    char const c = item.data[i];
    if (!(IsDigit(c) || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool IsIntegerItem(Span item) {
  size_t start = (item.length && item.data[0] == '-') ? 1 : 0;
  size_t const digits = item.length - start;
  if (digits == 0 || digits > 10) return false;
  if (item.data[start] == '0' && (digits > 1 || start)) return false;  // "%d" writes no leading zero, no "-0"
  for (size_t i = start; i < item.length; ++i) {
    if (!IsDigit(item.data[i])) return false;
  }
  if (digits < 10) return true;
  char const* limit = start ? "2147483648" : "2147483647";
  return memcmp(item.data + start, limit, 10) <= 0;
}

long IntegerValue(Span item) {
  bool const negative = item.length && item.data[0] == '-';
  unsigned long magnitude = 0;
  for (size_t i = negative ? 1 : 0; i < item.length; ++i) {
    magnitude = magnitude * 10 + static_cast<unsigned long>(item.data[i] - '0');
  }
  return negative ? static_cast<long>(0ul - magnitude) : static_cast<long>(magnitude);
}

void ClassifyLine(OperationForms const& forms, char const* text, size_t length, TraceLine& line) {
  line = TraceLine();
  line.kind = kBadLine;
  line.op = -1;
  Span const all = {text, length};
  size_t const prefixLength = sizeof kErrorPrefix - 1;
  if (length >= prefixLength + 5 && memcmp(text, kErrorPrefix, prefixLength) == 0) {
    char const* number = text + prefixLength;
    if (IsDigit(number[0]) && IsDigit(number[1]) && IsDigit(number[2]) && number[3] == ' ' && number[4] == '(') {
      line.kind = kErrorLine;
      line.errorNumber = (number[0] - '0') * 100 + (number[1] - '0') * 10 + (number[2] - '0');
      line.text = Sub(all, 1, length);
      return;
    }
    line.problem = "error line without its number";
    return;
  }
  if (length == 0) {
    line.problem = "empty line";
    return;
  }
  if (length >= kResultIndent && memcmp(text, "                ", kResultIndent) == 0) {
    if (length == kResultIndent || text[length - 1] != ' ') {
      line.problem = "result line without its items or its closing separator";
      return;
    }
    line.kind = kResultLine;
    line.body = Sub(all, kResultIndent, length - 1);
    return;
  }
  if (text[0] != ' ') {
    line.problem = "not a trace line";
    return;
  }
  size_t pointerEnd = 1;
  while (pointerEnd < length && text[pointerEnd] != ' ' && pointerEnd <= kMaxPointerDigits + 1) ++pointerEnd;
  line.object = Sub(all, 1, pointerEnd);
  if (pointerEnd >= length || !IsPointerItem(line.object)) {
    line.problem = "not a trace line";
    return;
  }
  size_t const signatureStart = pointerEnd + 1;
  int const op = FindSignature(forms, text + signatureStart, length - signatureStart);
  if (op < 0) {
    line.problem = "unknown operation text";
    return;
  }
  size_t const restStart = signatureStart + forms.forms[op].signatureLength;
  // The rest: the separator of each argument item, then the line end's.
  if (restStart == length || text[length - 1] != ' ') {
    line.problem = "call line without its closing separator";
    return;
  }
  line.kind = kCallLine;
  line.op = op;
  line.arguments = restStart + 1 == length ? Sub(all, length, length) : Sub(all, restStart + 1, length - 1);
}

bool SplitArguments(OperationForm const& form, Span arguments, ArgumentItems& items) {
  items = ArgumentItems();
  items.count = form.argumentCount;
  items.split = true;
  if (form.argumentCount == 0) return arguments.length == 0;

  // Items of fixed kinds from the left up to the first text item...
  size_t left = 0;
  int first = 0;
  for (; first < form.argumentCount && form.arguments[first] != kTextItem; ++first) {
    if (first > 0) {
      if (left >= arguments.length || arguments.data[left] != ' ') return false;
      ++left;
    }
    size_t const length = ItemLengthFrom(form.arguments[first], arguments, left);
    items.items[first] = Sub(arguments, left, left + length);
    if (!ValidItem(form.arguments[first], items.items[first])) return false;
    left += length;
  }
  if (first == form.argumentCount) return left == arguments.length;
  if (first > 0) {
    if (left >= arguments.length || arguments.data[left] != ' ') return false;
    ++left;
  }

  // ...then from the right down to the last text item...
  size_t right = arguments.length;
  int last = form.argumentCount - 1;
  for (; last > first && form.arguments[last] != kTextItem; --last) {
    size_t const length = ItemLengthTo(form.arguments[last], arguments, right);
    items.items[last] = Sub(arguments, right - length, right);
    if (!ValidItem(form.arguments[last], items.items[last])) return false;
    right -= length;
    if (right <= left || arguments.data[right - 1] != ' ') return false;
    --right;
  }
  if (right < left) return false;

  // ...and the text items in between. Texts may hold spaces: one text takes
  // all of it; several are split at spaces when that gives exactly as many.
  Span const middle = Sub(arguments, left, right);
  int const texts = last - first + 1;
  if (texts == 1) {
    items.items[first] = middle;
    return middle.length > 0;
  }
  int pieces = 1;
  for (size_t i = 0; i < middle.length; ++i) pieces += middle.data[i] == ' ';
  if (pieces < texts) return false;
  size_t start = 0;
  for (int i = first; i <= last; ++i) {
    size_t end = start;
    // With more pieces than texts, a field-exchange line gives the field name
    // its first piece and the value all the rest.
    if (i < last) {
      while (end < middle.length && middle.data[end] != ' ') ++end;
    } else {
      end = middle.length;
    }
    items.items[i] = Sub(middle, start, end);
    if (items.items[i].length == 0) return false;
    start = end + 1;
  }
  if (pieces > texts && !(form.exchange && texts == 2)) items.split = false;
  return true;
}

bool SplitResult(OperationForm const& form, Span body, ResultItems& items) {
  items = ResultItems();
  Span rest = body;
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
      return rest.length > 0;
    case kStateOnlyResult:
      return rest.length == 0 && items.stateCount > 0;
    case kFieldResult:
      items.result = Span{rest.data, 0};
      return TakeField(rest, items);
  }
  return false;
}

}  // namespace tools
}  // namespace tolvan

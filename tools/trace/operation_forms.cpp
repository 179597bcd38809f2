#include "tools/trace/operation_forms.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace tolvan {
namespace tools {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool ParameterKind(std::string_view text, ItemKind& kind) {
  // Field-exchange values: the value the reference holds is written.
  if (text == "char &") {
    kind = kCharItem;
  } else if (text == "int" || text == "long" || text == "int &" || text == "long &" || StartsWith(text, "enum ")) {
    kind = kIntegerItem;
  } else if (text == "double" || text == "double &" || text == "long double &" || text == "class CNumeric &") {
    kind = kRealItem;
  } else if (text == "char const *" || text == "unsigned char *" || text == "char *" || text == "class CDate &" ||
             text == "class CString &") {
    kind = kTextItem;
  } else if (StartsWith(text, "class ")) {
    kind = kPointerItem;  // engine objects, by pointer or reference
  } else {
    return false;
  }
  return true;
}

bool ReadParameters(OperationForm& form) {
  size_t const open = form.signature.find('(');
  size_t const close = form.signature.find(')', open);
  if (open == std::string_view::npos || close == std::string_view::npos) return false;
  form.key = form.signature.substr(0, close + 1);
  std::string_view list = form.signature.substr(open + 1, close - open - 1);
  if (list == "void") return true;
  while (true) {
    size_t const comma = list.find(',');
    ItemKind kind;
    if (!ParameterKind(list.substr(0, comma), kind)) return false;
    form.arguments.push_back(kind);
    if (comma == std::string_view::npos) return true;
    list.remove_prefix(comma + 1);
  }
}

// The return type as Microsoft's decoration spells it after the qualified name
// and the access code.
bool ReadResult(OperationForm& form) {
  std::string_view const name = form.decorated;
  if (StartsWith(name, "??0")) {
    form.result = kPointerResult;  // a constructor's record holds the object
    return true;
  }
  if (StartsWith(name, "??1")) {
    form.result = kNoResultRecord;
    return true;
  }
  size_t const qualified = name.find("@@", 1);
  if (qualified == std::string_view::npos) return false;
  std::string_view type = name.substr(qualified + 2);
  // "SA" static; "QAE", "QBE", "UAE", "UBE", "MAE" members
  type.remove_prefix(std::min<size_t>(type.size(), StartsWith(type, "S") ? 2 : 3));
  if (StartsWith(type, "X")) {
    form.result = kNoResultRecord;
  } else if (StartsWith(type, "H") || StartsWith(type, "J") || StartsWith(type, "?AW4")) {
    form.result = kIntegerResult;
  } else if (StartsWith(type, "N")) {
    form.result = kStateOnlyResult;  // a double result is not written
  } else if (StartsWith(type, "PAV") || StartsWith(type, "?AV")) {
    form.result = kPointerResult;  // a record address by value: the working copy's address
  } else if (StartsWith(type, "PBD")) {
    form.result = kTextResult;
  } else {
    return false;
  }
  return true;
}

void ReadState(OperationForm& form) {
  if (form.result == kNoResultRecord) return;
  if (form.className == "CTable") {
    form.state = kTableState;
    if (form.method == "GetField") form.result = kFieldResult;
  } else if (form.className == "CStoreObj" && form.method != "CStoreObj") {
    bool const firstWordOnly = form.method == "GetObjType" || form.method == "GetRecAddr" ||
                               form.method == "GetRelPosition" || form.method == "SetRelPosition" ||
                               form.method == "SetSourceTable";
    form.state = firstWordOnly ? kStoreFirstWord : kStoreThreeWords;
  }
}

bool ReadForm(OperationForm& form) {
  size_t const colons = form.signature.find("::");
  size_t const open = form.signature.find('(');
  if (colons == std::string_view::npos || open == std::string_view::npos || open < colons) return false;
  form.className = form.signature.substr(0, colons);
  form.method = form.signature.substr(colons + 2, open - colons - 2);
  if (!ReadParameters(form) || !ReadResult(form)) return false;
  ReadState(form);
  form.exchange = form.className == "CStoreObj" && (StartsWith(form.method, "FX_") || form.method == "FieldExchange");
  form.table = form.className == "CTable";
  return true;
}

// The keys differ in their lengths, their ends and their middles.
// Every key is longer than 16 bytes ("CTable::IsOpen(void)"); a shorter
// text matches none, whatever its slot.
size_t SlotOf(std::string_view key) {
  if (key.size() < 16) return 0;
  uint64_t end;
  uint64_t middle;
  std::memcpy(&end, key.data() + key.size() - 8, 8);
  std::memcpy(&middle, key.data() + key.size() / 2 - 4, 8);
  uint64_t const mixed = (end * 0x9e3779b97f4a7c15ull) ^ (middle * 0xc2b2ae3d27d4eb4full) ^ key.size();
  return static_cast<size_t>(mixed >> 40) & (OperationForms::kSlots - 1);
}

// Equal bytes, compared a word at a time: every call line compares its key
// (16 bytes or more, see SlotOf), and a call of the library's memcmp costs
// more than the comparison itself.
bool SameBytes(char const* left, char const* right, size_t size) {
  auto word = [](char const* at) {
    uint64_t value;
    std::memcpy(&value, at, 8);
    return value;
  };
  if (size < 8) return std::memcmp(left, right, size) == 0;
  for (size_t i = 0; i + 8 <= size; i += 8) {
    if (word(left + i) != word(right + i)) return false;
  }
  return word(left + size - 8) == word(right + size - 8);
}

}  // namespace

bool BuildOperationForms(OperationForms& forms) {
  bool allValid = true;
  forms.forms.assign(kOperationCount, OperationForm());
  forms.slots.assign(OperationForms::kSlots, -1);
  for (int op = 0; op < kOperationCount; ++op) {
    OperationForm& form = forms.forms[op];
    form.signature = SignatureText(static_cast<OperationId>(op));
    form.decorated = DecoratedName(static_cast<OperationId>(op));
    form.valid = ReadForm(form);
    if (form.valid) {
      size_t slot = SlotOf(form.key);
      while (forms.slots[slot] >= 0) slot = (slot + 1) & (OperationForms::kSlots - 1);
      forms.slots[slot] = op;
    } else {
      allValid = false;
    }
  }
  return allValid;
}

int FindSignature(OperationForms const& forms, std::string_view text) {
  void const* const close = std::memchr(text.data(), ')', text.size());
  if (!close) return -1;
  size_t const keySize = static_cast<char const*>(close) - text.data() + 1;
  std::string_view const key = text.substr(0, keySize);
  int op = -1;
  for (size_t slot = SlotOf(key); forms.slots[slot] >= 0; slot = (slot + 1) & (OperationForms::kSlots - 1)) {
    std::string_view const known = forms.forms[forms.slots[slot]].key;
    if (known.size() == keySize && SameBytes(known.data(), key.data(), keySize)) {
      op = forms.slots[slot];
      break;
    }
  }
  if (op < 0) return -1;
  // The key matched: what follows it in the signature (" const", say) must too.
  std::string_view const signature = forms.forms[op].signature;
  if (text.size() < signature.size() ||
      text.substr(keySize, signature.size() - keySize) != signature.substr(keySize)) {
    return -1;
  }
  if (signature.size() < text.size() && text[signature.size()] != ' ') return -1;
  return op;
}

bool SameIgnoringCase(std::string_view left, std::string_view right) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return left.size() == right.size() &&
         std::equal(left.begin(), left.end(), right.begin(), [&](char l, char r) { return lower(l) == lower(r); });
}

bool OperationNamed(OperationForm const& form, std::string_view name) {
  size_t const classAndMethod = form.className.size() + 2 + form.method.size();
  for (std::string_view const known :
       {form.signature, form.decorated, form.method, form.signature.substr(0, classAndMethod)}) {
    if (SameIgnoringCase(name, known)) return true;
  }
  return false;
}

}  // namespace tools
}  // namespace tolvan

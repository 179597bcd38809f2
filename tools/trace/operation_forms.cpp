#include "tools/trace/operation_forms.h"

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
  return true;
}

}  // namespace

bool BuildOperationForms(OperationForms& forms) {
  bool allValid = true;
  forms.forms.assign(kOperationCount, OperationForm());
  forms.byKey.clear();
  for (int op = 0; op < kOperationCount; ++op) {
    OperationForm& form = forms.forms[op];
    form.signature = SignatureText(static_cast<OperationId>(op));
    form.decorated = DecoratedName(static_cast<OperationId>(op));
    form.valid = ReadForm(form);
    if (form.valid) {
      forms.byKey.emplace(form.key, op);
    } else {
      allValid = false;
    }
  }
  return allValid;
}

int FindSignature(OperationForms const& forms, std::string_view text) {
  size_t const close = text.find(')');
  if (close == std::string_view::npos) return -1;
  auto const found = forms.byKey.find(text.substr(0, close + 1));
  if (found == forms.byKey.end()) return -1;
  std::string_view const signature = forms.forms[found->second].signature;
  if (!StartsWith(text, signature)) return -1;
  if (signature.size() < text.size() && text[signature.size()] != ' ') return -1;
  return found->second;
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

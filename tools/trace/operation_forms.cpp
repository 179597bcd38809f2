#include "tools/trace/operation_forms.h"

#include "tools/common/tool_crt.h"

namespace tolvan {
namespace tools {

namespace {

bool StartsWith(char const* text, size_t length, char const* prefix) {
  size_t const prefixLength = strlen(prefix);
  return length >= prefixLength && memcmp(text, prefix, prefixLength) == 0;
}

bool Equals(char const* text, size_t length, char const* other) {
  return strlen(other) == length && memcmp(text, other, length) == 0;
}

bool ParameterKind(char const* text, size_t length, ItemKind& kind) {
  // Field-exchange values: the value the reference holds is written.
  if (Equals(text, length, "char &")) {
    kind = kCharItem;
  } else if (Equals(text, length, "int") || Equals(text, length, "long") || Equals(text, length, "int &") ||
             Equals(text, length, "long &") || StartsWith(text, length, "enum ")) {
    kind = kIntegerItem;
  } else if (Equals(text, length, "double") || Equals(text, length, "double &") ||
             Equals(text, length, "long double &") || Equals(text, length, "class CNumeric &")) {
    kind = kRealItem;
  } else if (Equals(text, length, "char const *") || Equals(text, length, "unsigned char *") ||
             Equals(text, length, "char *") || Equals(text, length, "class CDate &") ||
             Equals(text, length, "class CString &")) {
    kind = kTextItem;
  } else if (StartsWith(text, length, "class ")) {
    kind = kPointerItem;  // engine objects, by pointer or reference
  } else {
    return false;
  }
  return true;
}

bool ReadParameters(OperationForm& form) {
  char const* open = static_cast<char const*>(memchr(form.signature, '(', form.signatureLength));
  if (!open) return false;
  char const* const end = form.signature + form.signatureLength;
  char const* close = static_cast<char const*>(memchr(open, ')', static_cast<size_t>(end - open)));
  if (!close) return false;
  form.keyLength = static_cast<size_t>(close - form.signature) + 1;
  char const* p = open + 1;
  if (Equals(p, static_cast<size_t>(close - p), "void")) return true;
  while (p < close) {
    char const* comma = static_cast<char const*>(memchr(p, ',', static_cast<size_t>(close - p)));
    char const* const parameterEnd = comma ? comma : close;
    if (form.argumentCount == kMaxArguments) return false;
    if (!ParameterKind(p, static_cast<size_t>(parameterEnd - p), form.arguments[form.argumentCount++])) return false;
    p = parameterEnd + 1;
  }
  return true;
}

// The return type as Microsoft's decoration spells it after the qualified name
// and the access code.
bool ReadResult(OperationForm& form) {
  char const* const name = form.decorated;
  if (StartsWith(name, strlen(name), "??0")) {
    form.result = kPointerResult;  // a constructor's record holds the object
    return true;
  }
  if (StartsWith(name, strlen(name), "??1")) {
    form.result = kNoResultRecord;
    return true;
  }
  char const* p = name + 1;
  while (*p && !(p[0] == '@' && p[1] == '@')) ++p;
  if (!*p) return false;
  p += 2;
  p += (*p == 'S') ? 2 : 3;  // "SA" static; "QAE", "QBE", "UAE", "UBE", "MAE" members
  size_t const length = strlen(p);
  if (StartsWith(p, length, "X")) {
    form.result = kNoResultRecord;
  } else if (StartsWith(p, length, "H") || StartsWith(p, length, "J") || StartsWith(p, length, "?AW4")) {
    form.result = kIntegerResult;
  } else if (StartsWith(p, length, "N")) {
    form.result = kStateOnlyResult;  // a double result is not written
  } else if (StartsWith(p, length, "PAV") || StartsWith(p, length, "?AV")) {
    form.result = kPointerResult;  // a record address by value: the working copy's address
  } else if (StartsWith(p, length, "PBD")) {
    form.result = kTextResult;
  } else {
    return false;
  }
  return true;
}

bool MethodIs(OperationForm const& form, char const* method) {
  return Equals(form.signature + form.methodStart, form.methodLength, method);
}

bool ClassIs(OperationForm const& form, char const* className) {
  return Equals(form.signature, form.classLength, className);
}

void ReadState(OperationForm& form) {
  if (form.result == kNoResultRecord) return;
  if (ClassIs(form, "CTable")) {
    form.state = kTableState;
    if (MethodIs(form, "GetField")) form.result = kFieldResult;
  } else if (ClassIs(form, "CStoreObj") && !MethodIs(form, "CStoreObj")) {
    bool const firstWordOnly = MethodIs(form, "GetObjType") || MethodIs(form, "GetRecAddr") ||
                               MethodIs(form, "GetRelPosition") || MethodIs(form, "SetRelPosition") ||
                               MethodIs(form, "SetSourceTable");
    form.state = firstWordOnly ? kStoreFirstWord : kStoreThreeWords;
  }
}

uint32_t Hash(char const* text, size_t length) {
  uint32_t hash = 2166136261u;
  for (size_t i = 0; i < length; ++i) hash = (hash ^ static_cast<unsigned char>(text[i])) * 16777619u;
  return hash;
}

enum { kSlotCount = sizeof(OperationForms::slots) / sizeof(OperationForms::slots[0]) };

}  // namespace

bool BuildOperationForms(OperationForms& forms) {
  bool allValid = true;
  for (int i = 0; i < kSlotCount; ++i) forms.slots[i] = 0;
  for (int op = 0; op < kOperationCount; ++op) {
    OperationForm& form = forms.forms[op];
    form = OperationForm();
    form.signature = SignatureText(static_cast<OperationId>(op));
    form.signatureLength = strlen(form.signature);
    form.decorated = DecoratedName(static_cast<OperationId>(op));
    char const* colons = form.signature;
    while (*colons && !(colons[0] == ':' && colons[1] == ':')) ++colons;
    form.classLength = static_cast<size_t>(colons - form.signature);
    form.methodStart = *colons ? form.classLength + 2 : form.classLength;
    char const* const open = static_cast<char const*>(memchr(form.signature, '(', form.signatureLength));
    form.methodLength = open ? static_cast<size_t>(open - form.signature) - form.methodStart : 0;
    form.valid = *colons && open && ReadParameters(form) && ReadResult(form);
    if (!form.valid) {
      allValid = false;
      continue;
    }
    ReadState(form);
    form.exchange = ClassIs(form, "CStoreObj") &&
                    (StartsWith(form.signature + form.methodStart, form.methodLength, "FX_") ||
                     MethodIs(form, "FieldExchange"));
    uint32_t slot = Hash(form.signature, form.keyLength) % kSlotCount;
    while (forms.slots[slot]) slot = (slot + 1) % kSlotCount;
    forms.slots[slot] = static_cast<int16_t>(op + 1);
  }
  return allValid;
}

int FindSignature(OperationForms const& forms, char const* text, size_t length) {
  char const* close = static_cast<char const*>(memchr(text, ')', length));
  if (!close) return -1;
  size_t const keyLength = static_cast<size_t>(close - text) + 1;
  uint32_t slot = Hash(text, keyLength) % kSlotCount;
  for (; forms.slots[slot]; slot = (slot + 1) % kSlotCount) {
    OperationForm const& form = forms.forms[forms.slots[slot] - 1];
    if (form.keyLength != keyLength || memcmp(form.signature, text, keyLength) != 0) continue;
    if (form.signatureLength > length || memcmp(form.signature, text, form.signatureLength) != 0) return -1;
    if (form.signatureLength < length && text[form.signatureLength] != ' ') return -1;
    return forms.slots[slot] - 1;
  }
  return -1;
}

bool OperationNamed(OperationForm const& form, char const* name) {
  size_t const length = strlen(name);
  if (Equals(form.signature, form.signatureLength, name) || strcmp(form.decorated, name) == 0) return true;
  if (Equals(form.signature + form.methodStart, form.methodLength, name)) return true;
  return length == form.methodStart + form.methodLength && memcmp(form.signature, name, length) == 0;
}

}  // namespace tools
}  // namespace tolvan

// CStoreObj field exchange: each call becomes one trace line that also shows
// the value crossing between host and engine, read from the host's variable
// before the engine call (nonzero direction) or after it (zero direction).
#include "facades/field_exchange.h"

#include "facades/forwarding.h"
#include "facades/value_types.h"

namespace tolvan {

int DateText(int dayNumber, char* text) {
  if (dayNumber == 0) {
    text[0] = '\0';
    return 0;
  }
  char const kFirstDay[] = "00010101";
  if (dayNumber == 1) {
    memcpy(text, kFirstDay, sizeof kFirstDay);
    return static_cast<int>(sizeof kFirstDay - 1);
  }
  // The library is given far more room than a date text needs, and whatever
  // it writes is cut to the 15 characters a date text may have.
  char rendered[kDateRenderRoom];
  memset(rendered, 0, sizeof rendered);
  JDateToString(rendered, dayNumber);
  rendered[sizeof rendered - 1] = '\0';
  int length = 0;
  while (length < kDateTextMax && rendered[length]) {
    text[length] = rendered[length];
    ++length;
  }
  text[length] = '\0';
  return length;
}

void TraceBuffer(char const* buffer, long length) {
  if (!buffer) {
    TraceText(nullptr);
  } else {
    // The text ends at its first zero byte, but never beyond the length the
    // host gave for the buffer.
    long used = 0;
    while (used < length && buffer[used]) ++used;
    WriteTraceItem(buffer, static_cast<int>(used));
  }
  TraceInt(static_cast<int>(length));
}

namespace {

// The host's variable of an exchange: what kind of value it holds, its
// address, and for a buffer its length.
struct ExchangedValue {
  enum Kind { kChar, kInt, kLong, kDouble, kLongDouble, kNumeric, kString, kDate, kBuffer } kind;
  void const* variable;
  long length;
};

ExchangedValue ExchangedOf(char const* value) { return {ExchangedValue::kChar, value, 0}; }
ExchangedValue ExchangedOf(int const* value) { return {ExchangedValue::kInt, value, 0}; }
ExchangedValue ExchangedOf(long const* value) { return {ExchangedValue::kLong, value, 0}; }
ExchangedValue ExchangedOf(double const* value) { return {ExchangedValue::kDouble, value, 0}; }
ExchangedValue ExchangedOf(long double const* value) { return {ExchangedValue::kLongDouble, value, 0}; }
ExchangedValue ExchangedOf(CNumeric const* value) { return {ExchangedValue::kNumeric, value, 0}; }
ExchangedValue ExchangedOf(CString const* value) { return {ExchangedValue::kString, value, 0}; }
ExchangedValue ExchangedOf(CDate const* value) { return {ExchangedValue::kDate, value, 0}; }
ExchangedValue ExchangedOf(char const* buffer, long length) { return {ExchangedValue::kBuffer, buffer, length}; }

void TraceExchanged(ExchangedValue const& exchanged) {
  void const* const variable = exchanged.variable;
  switch (exchanged.kind) {
    case ExchangedValue::kChar:
      TraceChar(*static_cast<char const*>(variable));
      break;
    case ExchangedValue::kInt:
      TraceInt(*static_cast<int const*>(variable));
      break;
    case ExchangedValue::kLong:
      TraceInt(static_cast<int>(*static_cast<long const*>(variable)));
      break;
    case ExchangedValue::kDouble:
      TraceReal(*static_cast<double const*>(variable));
      break;
    case ExchangedValue::kLongDouble:
      TraceReal(static_cast<double>(*static_cast<long double const*>(variable)));
      break;
    case ExchangedValue::kNumeric:
      TraceReal(static_cast<double>(static_cast<CNumeric const*>(variable)->GetDouble()));
      break;
    case ExchangedValue::kString:
      TraceText(StringText(static_cast<CString const*>(variable)));
      break;
    case ExchangedValue::kDate: {
      char text[kDateTextMax + 1];
      DateText(DateDayNumber(static_cast<CDate const*>(variable)), text);
      TraceText(text);
      break;
    }
    case ExchangedValue::kBuffer:
      TraceBuffer(static_cast<char const*>(variable), exchanged.length);
      break;
  }
}

// The exchanged arguments are the variable's address, or the buffer and its
// length: on every supported ABI the address of any variable is passed as
// the same pointer, so one body per selector form serves every value kind.
// An exchange whose entry cannot be resolved still finishes its trace line,
// so that the log stays line by line.
template <class Selector>
TOLVAN_NEVER_INLINE void ExchangeField(OperationId op, CStoreObj* store, Selector selector, int direction,
                                       ExchangedValue exchanged) {
  void* const address = EngineEntry(op);
  auto const engineCall = [&] {
    if (!address) return;
    void* const variable = const_cast<void*>(exchanged.variable);
    if (exchanged.kind == ExchangedValue::kBuffer) {
      CallEntry<void>(address, store, selector, static_cast<char*>(variable), exchanged.length, direction);
    } else {
      CallEntry<void>(address, store, selector, variable, direction);
    }
  };
  if (!g_module.tracing) {
    engineCall();
    return;
  }
  TraceLine([&] {
    TracePointer(store);
    TraceText(SignatureText(op));
    TraceValue(selector);
    auto const traceValue = [&] {
      TraceExchanged(exchanged);
      TraceInt(direction);
      TraceLineEnd();
    };
    // Reading into the host's variable, the line waits for the engine, and
    // with time it shows how long the engine took.
    if (direction) traceValue();
    long long const begun = CallClock();
    engineCall();
    long long const took = CallClock() - begun;
    if (!direction) {
      TraceDuration(took);
      traceValue();
    }
  });
}

// An exchange's full path, called as its engine entry is: the facade's own
// arguments, in the facade's order.
template <OperationId op, class Selector, class... Exchanged>
struct FullExchange : CStoreObj {
  void Run(Selector selector, Exchanged... exchanged, int direction) {
    ExchangeField(op, this, selector, direction, ExchangedOf(exchanged...));
  }
};

// Untraced, an exchange only passes the call on: the engine entry, or the
// full path, by one jump (see EntryOrFullPath).
template <OperationId op, class Selector, class Variable>
TOLVAN_ALWAYS_INLINE void Exchange(CStoreObj* store, Selector selector, Variable* variable, int direction) {
  EntryOrFullPath<op, FullExchange<op, Selector, Variable*>, void>(store, selector, variable, direction);
}

template <OperationId op, class Selector>
TOLVAN_ALWAYS_INLINE void Exchange(CStoreObj* store, Selector selector, char* buffer, long length, int direction) {
  EntryOrFullPath<op, FullExchange<op, Selector, char*, long>, void>(store, selector, buffer, length, direction);
}

}  // namespace

}  // namespace tolvan

using namespace tolvan;

// One line per value kind: the three selector forms share the helper.
#define TOLVAN_FX_BY_REFERENCE(Name, Type)                                                   \
  void CStoreObj::Name(int field, Type& value, int direction) {                              \
    Exchange<k##StoreObj_##Name##_ByNumber>(this, field, &value, direction);                 \
  }                                                                                          \
  void CStoreObj::Name(CField* field, Type& value, int direction) {                          \
    Exchange<k##StoreObj_##Name##_ByField>(this, field, &value, direction);                  \
  }                                                                                          \
  void CStoreObj::Name(char const* field, Type& value, int direction) {                      \
    Exchange<k##StoreObj_##Name##_ByName>(this, field, &value, direction);                   \
  }

TOLVAN_FX_BY_REFERENCE(FX_Char, char)
TOLVAN_FX_BY_REFERENCE(FX_Int, int)
TOLVAN_FX_BY_REFERENCE(FX_Long, long)
TOLVAN_FX_BY_REFERENCE(FX_Double, double)
TOLVAN_FX_BY_REFERENCE(FX_LongDouble, long double)
TOLVAN_FX_BY_REFERENCE(FX_CNumeric, CNumeric)
TOLVAN_FX_BY_REFERENCE(FX_Date, CDate)
TOLVAN_FX_BY_REFERENCE(FX_String, CString)

#undef TOLVAN_FX_BY_REFERENCE

void CStoreObj::FX_String(int field, char* buffer, long length, int direction) {
  Exchange<kStoreObj_FX_StringBuffer_ByNumber>(this, field, buffer, length, direction);
}

void CStoreObj::FX_String(CField* field, char* buffer, long length, int direction) {
  Exchange<kStoreObj_FX_StringBuffer_ByField>(this, field, buffer, length, direction);
}

void CStoreObj::FX_String(char const* field, char* buffer, long length, int direction) {
  Exchange<kStoreObj_FX_StringBuffer_ByName>(this, field, buffer, length, direction);
}

void CStoreObj::FieldExchange(int direction) { Forward<kStoreObj_FieldExchange, void>(this, direction); }

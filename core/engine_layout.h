// Where the module finds the few engine object fields it reads. The engine's
// objects are laid out for 32-bit Windows; the structs below spell those
// offsets once, and the readers take every field from here. On the 32-bit
// target the offsets are checked; a 64-bit test build keeps the same field
// order with its own pointer size.
#ifndef TOLVAN_CORE_ENGINE_LAYOUT_H
#define TOLVAN_CORE_ENGINE_LAYOUT_H

#include <stddef.h>
#include <stdint.h>

#include "platform/crt.h"

class CDataDictionary;
class CTable;
class CStoreObj;
class CRecAddr;
class CField;
class CString;
class CDate;

namespace tolvan {

struct TableLayout {
  void const* virtualTable;
  char const* name;              // compared with the users table, shown by StopSEQ
  CDataDictionary* dictionary;   // owning dictionary
  int32_t traceWord;             // table state item
  int32_t unused16;
  int32_t unused20;
  int32_t shareMode;             // current ShareModeCtl
};

struct DictionaryLayout {
  void const* virtualTable;
  int32_t unused[17];
  int32_t sequenceSwitch;        // read sequences: 0 skip, nonzero lock first
};

struct StoreLayout {
  void const* virtualTable;
  int32_t secondTraceWord;
  int32_t unused8;
  int32_t unused12;
  int32_t unused16;
  int32_t thirdTraceWord;
  int32_t unused24;
  int32_t firstTraceWord;
};

struct RecAddrLayout {
  void const* virtualTable;
  int32_t value;                 // the record address's long
};

struct FieldLayout {
  void const* virtualTable;
  char const* name;
  int32_t unused8;
  int32_t firstWord;
  int32_t secondWord;
};

struct StringLayout {
  char const* text;
};

struct DateLayout {
  int32_t dayNumber;
};

#if (defined(_M_IX86) || defined(__i386__)) && defined(_WIN32)
static_assert(offsetof(TableLayout, name) == 4, "CTable name");
static_assert(offsetof(TableLayout, dictionary) == 8, "CTable dictionary");
static_assert(offsetof(TableLayout, traceWord) == 12, "CTable trace word");
static_assert(offsetof(TableLayout, shareMode) == 24, "CTable share mode");
static_assert(offsetof(DictionaryLayout, sequenceSwitch) == 72, "CDataDictionary sequence switch");
static_assert(offsetof(StoreLayout, firstTraceWord) == 28, "CStoreObj first trace word");
static_assert(offsetof(StoreLayout, secondTraceWord) == 4, "CStoreObj second trace word");
static_assert(offsetof(StoreLayout, thirdTraceWord) == 20, "CStoreObj third trace word");
static_assert(offsetof(RecAddrLayout, value) == 4, "CRecAddr value");
static_assert(offsetof(FieldLayout, name) == 4, "CField name");
static_assert(offsetof(FieldLayout, firstWord) == 12, "CField first word");
static_assert(offsetof(FieldLayout, secondWord) == 16, "CField second word");
static_assert(offsetof(StringLayout, text) == 0, "CString text");
static_assert(offsetof(DateLayout, dayNumber) == 0, "CDate day number");
#endif

// Reads one field of an engine object without pretending the object is of the
// layout struct's type.
template <class T>
T ReadEngineField(void const* object, size_t offset) {
  T value;
  memcpy(&value, static_cast<char const*>(object) + offset, sizeof value);
  return value;
}

#define TOLVAN_READ_FIELD(object, Layout, field) \
  ::tolvan::ReadEngineField<decltype(Layout::field)>((object), offsetof(Layout, field))

// The one field the module writes: the value of a record address it hands
// out without the engine, so that it names no record.
inline void ClearRecAddrValue(CRecAddr* r) {
  int32_t const zero = 0;
  memcpy(reinterpret_cast<char*>(r) + offsetof(RecAddrLayout, value), &zero, sizeof zero);
}

inline char const* TableName(CTable const* t) { return TOLVAN_READ_FIELD(t, TableLayout, name); }
inline CDataDictionary* TableDictionary(CTable const* t) { return TOLVAN_READ_FIELD(t, TableLayout, dictionary); }
inline int TableTraceWord(CTable const* t) { return TOLVAN_READ_FIELD(t, TableLayout, traceWord); }
inline int TableShareMode(CTable const* t) { return TOLVAN_READ_FIELD(t, TableLayout, shareMode); }
inline int SequenceSwitch(CDataDictionary const* d) { return TOLVAN_READ_FIELD(d, DictionaryLayout, sequenceSwitch); }
inline int StoreFirstTraceWord(CStoreObj const* s) { return TOLVAN_READ_FIELD(s, StoreLayout, firstTraceWord); }
inline int StoreSecondTraceWord(CStoreObj const* s) { return TOLVAN_READ_FIELD(s, StoreLayout, secondTraceWord); }
inline int StoreThirdTraceWord(CStoreObj const* s) { return TOLVAN_READ_FIELD(s, StoreLayout, thirdTraceWord); }
inline char const* FieldName(CField const* f) { return TOLVAN_READ_FIELD(f, FieldLayout, name); }
inline int FieldFirstWord(CField const* f) { return TOLVAN_READ_FIELD(f, FieldLayout, firstWord); }
inline int FieldSecondWord(CField const* f) { return TOLVAN_READ_FIELD(f, FieldLayout, secondWord); }
inline char const* StringText(CString const* s) { return TOLVAN_READ_FIELD(s, StringLayout, text); }
inline int DateDayNumber(CDate const* d) { return TOLVAN_READ_FIELD(d, DateLayout, dayNumber); }

}  // namespace tolvan

#endif

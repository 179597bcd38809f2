// A second stand-in engine for tests that call the module from many threads
// at once, or that measure it: a handful of entries that record nothing and
// allocate nothing. Each entry keeps its state in the engine object it is
// called on, so threads working on objects of their own share no engine
// state, and the cost of an entry is a few instructions.
//
// Only the operations below are exported; any other is missing from this
// library (resolving it reports #002).
#ifndef TOLVAN_TESTS_SUPPORT_LEAN_ENGINE_H
#define TOLVAN_TESTS_SUPPORT_LEAN_ENGINE_H

#include <string.h>

#include "core/engine_layout.h"
#include "core/operations.h"
#include "platform/host/host_platform.h"

namespace tolvan {
namespace lean {

// What the engine keeps in the objects it is handed; the words the module
// reads keep their meaning.
//   dictionary: unused[0] counts BeginTransaction calls.
//   table: traceWord is the result of the opens and of IsOpen; unused16 is
//          the share mode the table had when Pack reached the engine.
//   store: firstTraceWord is the position that Goto moves.
//   record address: value.
struct RecAddrObject {
  void const* virtualTable;
  long value;
};

inline void const* VirtualTable() {
  static void const* const table[4] = {};
  return table;
}

inline int BeginTransaction(DictionaryLayout* self) { return ++self->unused[0]; }

inline int SetSysFilePath(DictionaryLayout* self, char const* path) {
  return static_cast<int>(strlen(path)) + self->unused[0];
}

inline int OpenAccess(TableLayout* self, int mode, int /*safety*/) {
  self->shareMode = mode;
  return self->traceWord;
}

inline int CloseAccess(TableLayout* self, int /*safety*/) {
  self->shareMode = 0;
  return 1;
}

inline int IsOpen(TableLayout const* self) { return self->traceWord; }

inline int Pack(TableLayout* self) {
  self->unused16 = self->shareMode;
  return self->traceWord + 1;
}

inline int GotoByNavigation(StoreLayout* self, int /*direction*/, int count) {
  self->firstTraceWord += count;
  return self->firstTraceWord;
}

inline void ExchangeInt(StoreLayout* /*self*/, int field, int* value, int direction) {
  if (direction == 0) *value = 2 * field;
}

inline int SetRelPosition(StoreLayout* self, double position, int flags) {
  return static_cast<int>(position * 1000) + flags + self->firstTraceWord;
}

// A class returned by value: the result's storage comes first, then the object.
inline void* GetRecAddr(void* result, StoreLayout const* self) {
  RecAddrObject* const address = static_cast<RecAddrObject*>(result);
  address->virtualTable = VirtualTable();
  address->value = self->firstTraceWord;
  return result;
}

inline void CopyRecAddr(RecAddrObject* self, RecAddrObject const* source) {
  self->virtualTable = VirtualTable();
  self->value = source->value;
}

inline void DestroyRecAddr(RecAddrObject* self) { self->value = -1; }

inline long GetLongVal(RecAddrObject const* self) { return self->value; }

template <class F>
void* Address(F* function) {
  return reinterpret_cast<void*>(function);
}

// Makes this engine the library that loading "Tolvan33.dll" gives.
inline void Install() {
  struct Entry {
    OperationId op;
    void* address;
  };
  static Entry const kEntries[] = {
      {kDataDictionary_BeginTransaction, Address(&BeginTransaction)},
      {kDataDictionary_SetSysFilePath, Address(&SetSysFilePath)},
      {kTable_OpenAccess, Address(&OpenAccess)},
      {kTable_CloseAccess, Address(&CloseAccess)},
      {kTable_IsOpen, Address(&IsOpen)},
      {kTable_Pack, Address(&Pack)},
      {kStoreObj_Goto_ByNavigation, Address(&GotoByNavigation)},
      {kStoreObj_FX_Int_ByNumber, Address(&ExchangeInt)},
      {kStoreObj_SetRelPosition, Address(&SetRelPosition)},
      {kStoreObj_GetRecAddr, Address(&GetRecAddr)},
      {kRecAddr_Construct_Copy, Address(&CopyRecAddr)},
      {kRecAddr_Destroy, Address(&DestroyRecAddr)},
      {kRecAddr_GetLongVal, Address(&GetLongVal)},
  };
  size_t const count = sizeof kEntries / sizeof kEntries[0];
  static host::LibraryExport exports[sizeof kEntries / sizeof kEntries[0]];
  for (size_t i = 0; i < count; ++i) exports[i] = {DecoratedName(kEntries[i].op), kEntries[i].address};
  host::SetEngineLibrary(exports, count);
}

}  // namespace lean
}  // namespace tolvan

#endif

#include "facades/module_tables.h"

#if TOLVAN_MICROSOFT_CXX_ABI

#include "platform/crt.h"
#include "platform/entry_call.h"

namespace tolvan {

namespace {

// The slot functions are members, so that they are __thiscall exactly as the
// host's compiler calls virtual members. Each reaches the facade by a
// qualified call, never through a table.
template <class Facade>
struct Slots : Facade {
  void* DeletingDestructor(unsigned flags) {
    this->Facade::~Facade();
    if (flags & 1) ::operator delete(static_cast<void*>(this));
    return this;
  }
  ObjectType ObjectTypeSlot() const { return this->Facade::GetObjType(); }
};

struct StoreSlots : Slots<CStoreObj> {
  void FieldExchangeSlot(int direction) { this->CStoreObj::FieldExchange(direction); }
};

struct KeySlots : Slots<CKeyObj> {
  void ReservedSlot() { this->CKeyObj::Reserved(); }
};

// Filled on first use rather than by a global constructor; two threads
// filling a table at once write the same values.
void const* g_dictionaryTable[2];
void const* g_recAddrTable[2];
void const* g_keyTable[3];
void const* g_storeTable[3];

template <class Facade>
void FillCommonSlots(void const** table) {
  table[0] = CodeAddress(&Slots<Facade>::DeletingDestructor);
  table[1] = CodeAddress(&Slots<Facade>::ObjectTypeSlot);
}

void Store(void* object, void const* const* table) { memcpy(object, &table, sizeof table); }

}  // namespace

void StoreModuleTable(CDataDictionary* object) {
  if (!g_dictionaryTable[0]) FillCommonSlots<CDataDictionary>(g_dictionaryTable);
  Store(object, g_dictionaryTable);
}

void StoreModuleTable(CRecAddr* object) {
  if (!g_recAddrTable[0]) FillCommonSlots<CRecAddr>(g_recAddrTable);
  Store(object, g_recAddrTable);
}

void StoreModuleTable(CKeyObj* object) {
  if (!g_keyTable[0]) {
    g_keyTable[2] = CodeAddress(&KeySlots::ReservedSlot);
    FillCommonSlots<CKeyObj>(g_keyTable);
  }
  Store(object, g_keyTable);
}

void StoreModuleTable(CStoreObj* object) {
  if (!g_storeTable[0]) {
    g_storeTable[2] = CodeAddress(&StoreSlots::FieldExchangeSlot);
    FillCommonSlots<CStoreObj>(g_storeTable);
  }
  Store(object, g_storeTable);
}

}  // namespace tolvan

#endif

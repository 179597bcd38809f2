// CStoreObj: navigation and record operations, with the store trace words as
// state items, and the by-value record address of GetRecAddr.
#include "facades/forwarding.h"
#include "platform/unwind.h"

namespace tolvan {

// GetRelPosition's full path, called as its engine entry is (see
// EntryOrFullPath); its result record is of its own form.
struct FullRelPosition : CStoreObj {
  double Run();
};

}  // namespace tolvan

using namespace tolvan;

CStoreObj::CStoreObj(CTable* table, CIndex* index) { ForwardConstructor(kStoreObj_Construct, this, table, index); }

CStoreObj::~CStoreObj() noexcept(false) { ForwardDestructor(kStoreObj_Destroy, this); }

ObjectType CStoreObj::GetObjType() const { return Forward<kStoreObj_GetObjType, ObjectType, StoreFirstWord>(this); }

int CStoreObj::Compare(CKeyObj* key, CompCtl control) {
  return Forward<kStoreObj_Compare, int, StoreThreeWords>(this, key, control);
}

int CStoreObj::Delete() { return Forward<kStoreObj_Delete, int, StoreThreeWords>(this); }

namespace tolvan {

struct RecordAddressOf {
  CStoreObj const* store;
  void* entry;  // the engine's GetRecAddr, or null when it cannot be called
};

namespace {

// Storage for the engine's own record address. The engine's CRecAddr is a
// virtual-table pointer and a long (8 bytes); the storage is many times that,
// so that an engine adding members of its own still fits.
struct WorkingRecAddr {
  alignas(8) unsigned char storage[256];
  CRecAddr* Get() { return reinterpret_cast<CRecAddr*>(storage); }
  // Through the facade destructor (a qualified call, so the engine's
  // virtual table is not used).
  void Destroy() { Get()->CRecAddr::~CRecAddr(); }
};

}  // namespace

}  // namespace tolvan

// The record address is built here, in the host's storage: the engine's own
// is built first in working storage, then copied by the facade copy
// constructor, so the trace shows both. An exception from the engine on the
// way destroys what the module built before it goes on to the host.
CRecAddr::CRecAddr(RecordAddressOf const& source) {
  // Without an engine entry the host receives a record address that it can
  // destroy and that nothing has been asked of: the module's table and an
  // empty value, so that a later Goto cannot land on a record by chance.
  StoreModuleTable(this);
  if (!source.entry) {
    ClearRecAddrValue(this);
    return;
  }
  WorkingRecAddr working;
  // The engine constructs its result directly in the working storage.
  long long const begun = CallClock();
  ::new (working.storage) CRecAddr(CallEntry<CRecAddr>(source.entry, source.store));
  long long const took = CallClock() - begun;
  CallWithUnwindStep(
      [&] {
        if (g_module.tracing) {
          TraceLine([&] {
            TraceDuration(took);
            TraceText(kResultIndent);
            TracePointer(working.Get());
            StoreFirstWord::Trace(source.store);
            TraceLineEnd();
          });
        }
        ::new (this) CRecAddr(*working.Get());
      },
      [&] { working.Destroy(); });
  CallWithUnwindStep([&] { working.Destroy(); }, [&] { this->CRecAddr::~CRecAddr(); });
}

CRecAddr CStoreObj::GetRecAddr() const {
  void* const address = EngineEntry(kStoreObj_GetRecAddr);
  TraceCallRecord(kStoreObj_GetRecAddr, this);
  // A prvalue: constructed in the host's storage itself.
  return CRecAddr(RecordAddressOf{this, address});
}

double FullRelPosition::Run() {
  void* const address = EngineEntry(kStoreObj_GetRelPosition);
  TraceCallRecord(kStoreObj_GetRelPosition, this);
  if (!address) return 0.0;
  long long const begun = CallClock();
  double const position = CallEntry<double>(address, this);
  long long const took = CallClock() - begun;
  // The position itself is not written, only the first trace word.
  if (g_module.tracing) {
    TraceLine([&] {
      TraceDuration(took);
      TraceText(kResultIndent);
      StoreFirstWord::Trace(this);
      TraceLineEnd();
    });
  }
  return position;
}

int CStoreObj::Goto(CRecAddr const& address, int flags) {
  return Forward<kStoreObj_Goto_ByRecAddr, int, StoreThreeWords>(this, &address, flags);
}

int CStoreObj::Goto(CKeyObj* key, CompCtl control, int flags) {
  return Forward<kStoreObj_Goto_ByKey, int, StoreThreeWords>(this, key, control, flags);
}

int CStoreObj::Goto(NavCtrl direction, int count) {
  return Forward<kStoreObj_Goto_ByNavigation, int, StoreThreeWords>(this, direction, count);
}

int CStoreObj::Locking(LockCtrl control) { return Forward<kStoreObj_Locking, int, StoreThreeWords>(this, control); }

int CStoreObj::New() { return Forward<kStoreObj_New, int, StoreThreeWords>(this); }

int CStoreObj::ReRead() { return Forward<kStoreObj_ReRead, int, StoreThreeWords>(this); }

void CStoreObj::SetOrderIndex(CIndex* index) { Forward<kStoreObj_SetOrderIndex, void>(this, index); }

int CStoreObj::SetRelPosition(double position, int flags) {
  return Forward<kStoreObj_SetRelPosition, int, StoreFirstWord>(this, position, flags);
}

int CStoreObj::SetSourceTable(CTable* table) {
  return Forward<kStoreObj_SetSourceTable, int, StoreFirstWord>(this, table);
}

int CStoreObj::Update() { return Forward<kStoreObj_Update, int, StoreThreeWords>(this); }

double CStoreObj::GetRelPosition() {
  return EntryOrFullPath<kStoreObj_GetRelPosition, FullRelPosition, double>(this);
}

// CStoreObj: navigation and record operations, with the store trace words as
// state items, and the by-value record address of GetRecAddr.
#include "facades/forwarding.h"

using namespace tolvan;

CStoreObj::CStoreObj(CTable* table, CIndex* index) { ForwardConstructor(kStoreObj_Construct, this, table, index); }

CStoreObj::~CStoreObj() noexcept(false) { ForwardDestructor(kStoreObj_Destroy, this); }

ObjectType CStoreObj::GetObjType() const { return Forward<ObjectType, StoreFirstWord>(kStoreObj_GetObjType, this); }

int CStoreObj::Compare(CKeyObj* key, CompCtl control) {
  return Forward<int, StoreThreeWords>(kStoreObj_Compare, this, key, control);
}

int CStoreObj::Delete() { return Forward<int, StoreThreeWords>(kStoreObj_Delete, this); }

namespace tolvan {

// The engine's record address is built here first, then copied into the
// host's storage by the facade copy constructor, so the trace shows both.
// The engine's CRecAddr is a virtual-table pointer and a long (8 bytes); the
// storage is many times that, so that an engine adding members of its own
// still fits.
class WorkingRecAddr {
 public:
  WorkingRecAddr() = default;
  WorkingRecAddr(WorkingRecAddr const&) = delete;
  WorkingRecAddr& operator=(WorkingRecAddr const&) = delete;

  void* Storage() { return storage_; }
  void Adopt() { alive_ = true; }
  CRecAddr* Get() { return reinterpret_cast<CRecAddr*>(storage_); }

  // Destroyed through the facade destructor (a qualified call, so the engine's
  // virtual table is not used), also when an exception from the engine passes
  // through on its way to the host.
  ~WorkingRecAddr() noexcept(false) { Destroy(); }

  void Destroy() {
    if (!alive_) return;
    alive_ = false;
    Get()->CRecAddr::~CRecAddr();
  }

 private:
  alignas(8) unsigned char storage_[256];
  bool alive_ = false;
};

}  // namespace tolvan

CRecAddr CStoreObj::GetRecAddr() const {
  void* const address = EngineEntry(kStoreObj_GetRecAddr);
  TraceCallRecord(kStoreObj_GetRecAddr, this);
  WorkingRecAddr working;
  if (address) {
    // The engine constructs its result directly in the working storage.
    ::new (working.Storage()) CRecAddr(CallEntry<CRecAddr>(address, this));
    working.Adopt();
    if (g_module.tracing) {
      TraceText(kResultIndent);
      TracePointer(working.Get());
      StoreFirstWord::Trace(this);
      TraceLineEnd();
    }
  }
  // The one named result is built in the host's storage (the named return
  // value optimisation), so that should destroying the working record
  // address throw, the result is destroyed as the exception leaves, like any
  // local. Without an engine entry the host still receives a record address
  // it can destroy: an empty one, built through the facade.
  CRecAddr result = address ? CRecAddr(*working.Get()) : CRecAddr(static_cast<CRecAddr const*>(nullptr));
  working.Destroy();
  return result;
}

double CStoreObj::GetRelPosition() {
  void* const address = EngineEntry(kStoreObj_GetRelPosition);
  TraceCallRecord(kStoreObj_GetRelPosition, this);
  if (!address) return 0.0;
  double const position = CallEntry<double>(address, this);
  // The position itself is not written, only the first trace word.
  if (g_module.tracing) {
    TraceText(kResultIndent);
    StoreFirstWord::Trace(this);
    TraceLineEnd();
  }
  return position;
}

int CStoreObj::Goto(CRecAddr const& address, int flags) {
  return Forward<int, StoreThreeWords>(kStoreObj_Goto_ByRecAddr, this, &address, flags);
}

int CStoreObj::Goto(CKeyObj* key, CompCtl control, int flags) {
  return Forward<int, StoreThreeWords>(kStoreObj_Goto_ByKey, this, key, control, flags);
}

int CStoreObj::Goto(NavCtrl direction, int count) {
  return Forward<int, StoreThreeWords>(kStoreObj_Goto_ByNavigation, this, direction, count);
}

int CStoreObj::Locking(LockCtrl control) { return Forward<int, StoreThreeWords>(kStoreObj_Locking, this, control); }

int CStoreObj::New() { return Forward<int, StoreThreeWords>(kStoreObj_New, this); }

int CStoreObj::ReRead() { return Forward<int, StoreThreeWords>(kStoreObj_ReRead, this); }

void CStoreObj::SetOrderIndex(CIndex* index) { ForwardVoid(kStoreObj_SetOrderIndex, this, index); }

int CStoreObj::SetRelPosition(double position, int flags) {
  return Forward<int, StoreFirstWord>(kStoreObj_SetRelPosition, this, position, flags);
}

int CStoreObj::SetSourceTable(CTable* table) {
  return Forward<int, StoreFirstWord>(kStoreObj_SetSourceTable, this, table);
}

int CStoreObj::Update() { return Forward<int, StoreThreeWords>(kStoreObj_Update, this); }

// CTable: the share-mode policy (share forcing, exclusive escalation, the
// read-sequence policy) and the structure and status operations.
#include "core/error_reporter.h"
#include "core/flight_recorder.h"
#include "facades/data_dictionary.h"
#include "facades/forwarding.h"
#include "facades/table_policy.h"
#include "platform/atomic.h"
#include "platform/unwind.h"

namespace tolvan {

namespace {

char const kUsersTable[] = "ZKUSERS";

}  // namespace

bool IsUsersTable(char const* name) {
  if (!name) return false;
  size_t const length = sizeof kUsersTable - 1;
  return strlen(name) == length && EqualIgnoringAsciiCase(name, kUsersTable, length);
}

bool ShareForcingApplies(CTable const* table, ShareModeCtl mode, int openResult) {
  return openResult != 0 && PlatformLoad(&g_module.escalationsInProgress) == 0 && !g_module.noShare && mode != kShareModeShared &&
         !IsUsersTable(TableName(table)) && !IsRegisteredDictionary(TableDictionary(table));
}

}  // namespace tolvan

using namespace tolvan;

int CTable::OpenAccess(ShareModeCtl mode, SafetyCtl safety) {
  return ForwardWith<int, TableState>(kTable_OpenAccess, this, [&](auto engineCall) {
    int result = engineCall();
    if (!ShareForcingApplies(this, mode, result)) return result;
    result = CloseAccess(kSafetyNormal);
    // The reopen goes straight to the engine, without records of its own.
    if (result) result = CallEntry<int>(g_module.entrySlots[kTable_OpenAccess], this, kShareModeShared, kSafetyNormal);
    if (!result) NotePolicyFailure();
    return result;
  }, mode, safety);
}

int CTable::CloseAccess(SafetyCtl safety) { return Forward<kTable_CloseAccess, int, TableState>(this, safety); }

namespace tolvan {

// Pack, ReIndex and Clear take exclusive use of the table for the engine
// operation and then give its previous mode back. The nested results are not
// examined: the operation runs even if the exclusive open failed, and the
// restore runs even if the operation failed.
struct ExclusiveEscalation {
  CTable* table;

  template <class EngineCall>
  int operator()(EngineCall engineCall) const {
    ShareModeCtl const previous = static_cast<ShareModeCtl>(TableShareMode(table));
    if (previous == kShareModeExclusive) return engineCall();
    table->CloseAccess(kSafetyBeforeExclusive);
    int result = 0;
    // From the exclusive open to the close before the restore, share forcing
    // is suspended; an exception from the engine on the way lifts exactly
    // this escalation's part of it and goes on to the host.
    PlatformAdd(&g_module.escalationsInProgress, 1);
    CallWithUnwindStep(
        [&] {
          if (!table->OpenAccess(kShareModeExclusive, kSafetyNormal)) NotePolicyFailure();
          result = engineCall();
          table->CloseAccess(kSafetyNormal);
        },
        [] { PlatformAdd(&g_module.escalationsInProgress, -1); });
    PlatformAdd(&g_module.escalationsInProgress, -1);
    // Share forcing applies to the restore as to any host call.
    table->OpenAccess(previous, kSafetyNormal);
    return result;
  }
};

TOLVAN_NEVER_INLINE int ForwardEscalated(OperationId op, CTable* table) {
  return ForwardWith<int, TableState>(op, table, ExclusiveEscalation{table});
}

}  // namespace tolvan

int CTable::Pack() { return ForwardEscalated(kTable_Pack, this); }

int CTable::ReIndex() { return ForwardEscalated(kTable_ReIndex, this); }

int CTable::Clear() { return ForwardEscalated(kTable_Clear, this); }

int CTable::BeginReadSequence() {
  return ForwardWith<int, TableState>(kTable_BeginReadSequence, this, [this](auto engineCall) {
    auto const forward = [&] {
      int const result = engineCall();
      if (g_module.stopSeq) ShowMessage(TableName(this));
      return result;
    };
    CDataDictionary const* const dictionary = TableDictionary(this);
    // A table without a dictionary has no switch to read: its sequence goes
    // to the engine, as every sequence does under NoSEQ, rather than being
    // reported as done without the engine.
    if (!dictionary) return forward();
    if (SequenceSwitch(dictionary)) {
      if (!g_module.noSeq) PutTLock(kTLockModeRead);
      return forward();
    }
    // A dictionary without the switch: the sequence is skipped and reported
    // as done, unless every sequence is to reach the engine.
    return g_module.noSeq ? forward() : 1;
  });
}

void CTable::EndReadSequence() { Forward<kTable_EndReadSequence, void>(this); }

int CTable::PutTLock(TLockModeCtl mode) { return Forward<kTable_PutTLock, int, TableState>(this, mode); }

// --- Structure and status ---------------------------------------------------

CField* CTable::AddField(char const* name) { return Forward<kTable_AddField, CField*, TableState>(this, name); }

CIndex* CTable::AddIndex(char const* name) { return Forward<kTable_AddIndex, CIndex*, TableState>(this, name); }

int CTable::DeleteField(int number) { return Forward<kTable_DeleteField_ByNumber, int, TableState>(this, number); }

int CTable::DeleteField(CField* field) { return Forward<kTable_DeleteField_ByField, int, TableState>(this, field); }

int CTable::DeleteField(char const* name) { return Forward<kTable_DeleteField_ByName, int, TableState>(this, name); }

int CTable::DeleteIndex(int number) { return Forward<kTable_DeleteIndex_ByNumber, int, TableState>(this, number); }

int CTable::DeleteIndex(CIndex* index) { return Forward<kTable_DeleteIndex_ByObject, int, TableState>(this, index); }

int CTable::DeleteIndex(char const* name) { return Forward<kTable_DeleteIndex_ByName, int, TableState>(this, name); }

int CTable::EnableIndexing(int enable) { return Forward<kTable_EnableIndexing, int, TableState>(this, enable); }

namespace tolvan {

// The field look-ups are traced at level 2 only, and their result record shows
// the field's name and two words instead of its address.
template <class Selector>
CField* LookUpField(OperationId op, CTable* table, Selector selector) {
  void* const address = EngineEntry(op);
  if (g_module.tracing && g_module.traceLevel2) TraceCallRecord(op, table, selector);
  if (!address) return nullptr;
  long long const begun = CallClock();
  CField* const field = CallEntry<CField*>(address, table, selector);
  long long const took = CallClock() - begun;
  if (g_module.tracing && g_module.traceLevel2) {
    TraceLine([&] {
      TraceDuration(took);
      TraceText(kResultIndent);
      TraceText("[");
      if (field) {
        TraceText(FieldName(field));
        TraceInt(FieldFirstWord(field));
        TraceInt(FieldSecondWord(field));
      } else {
        // No field to read: the record names the null field instead of reading
        // through it.
        TraceText(nullptr);
      }
      TraceText("]");
      TableState::Trace(table);
      TraceLineEnd();
    });
  }
  return field;
}

}  // namespace tolvan

CField* CTable::GetField(int number) { return LookUpField(kTable_GetField_ByNumber, this, number); }

CField* CTable::GetField(char const* name) { return LookUpField(kTable_GetField_ByName, this, name); }

CIndex* CTable::GetIndex(int number) { return Forward<kTable_GetIndex_ByNumber, CIndex*, TableState>(this, number); }

CIndex* CTable::GetIndex(char const* name) { return Forward<kTable_GetIndex_ByName, CIndex*, TableState>(this, name); }

ObjectType CTable::GetObjType() const { return Forward<kTable_GetObjType, ObjectType, TableState>(this); }

TLockModeCtl CTable::GetTLockMode() const { return Forward<kTable_GetTLockMode, TLockModeCtl, TableState>(this); }

int CTable::IsBufDirty() const { return Forward<kTable_IsBufDirty, int, TableState>(this); }

int CTable::IsOpen() const { return Forward<kTable_IsOpen, int, TableState>(this); }

int CTable::IsRecLocked(CRecAddr& address) const {
  return Forward<kTable_IsRecLocked, int, TableState>(this, &address);
}

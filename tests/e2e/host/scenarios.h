// The scenarios of the test host. Each runs in a process of its own, with the
// environment and the engine library that its table entry names (main.cpp),
// because the module reads its options once, when it is loaded.
#ifndef TOLVAN_TESTS_E2E_HOST_SCENARIOS_H
#define TOLVAN_TESTS_E2E_HOST_SCENARIOS_H

#include "tests/e2e/host/harness.h"

namespace e2e {

// What the options of the running scenario should have switched on.
struct ExpectedOptions {
  int traceLevel;  // 0, 1 or 2
  int noShare;
  int noSeq;
  int stopSeq;
  int traceIds;
};
ExpectedOptions const& Options();

// Both the engine's calls and, when tracing is on, the trace of one step.
void ExpectStep(char const* what, Calls const& calls, Trace const& trace);

void TypicalRoad();
void UntracedRoad();
void DictionaryFamily();
void ShareForcing();
void ExclusiveEscalation();
void ReadSequences();
void TableFamily();
void TableFieldLookUps();
void StoreFamily();
void FieldExchange();
void KeysRecordAddressesIndexes();
void VirtualTables();
void DeletingDestructorFlagBits();
void EngineExceptions();
void ExceptionFromWorkingRecAddrDestructor();
void EngineMissing();
void EngineMissingTraced();
void EngineMissingThreads();
void EngineIsModuleCopy();
void EntryMissing();
void OptionProbe();
void ThreadNotifications();
void ConcurrentTracing();
void ConcurrentEscalations();
void BinaryModeHost();
void UnreadableHostText();
void TraceLockHeldElsewhere();
void TimedTrace();
void TimedTraceTwoProcesses();
void TimedContention();
void RecorderQuiet();
void RecorderAfterError();
void RecorderAfterRefusedEscalation();
void RecorderAfterException();
void RecorderAfterSlowCall();
void RecorderSnapshot();
int RecorderPeerProcess();
// The second processes of ConcurrentTracing and TraceLockHeldElsewhere;
// each returns its exit status.
int TraceWriterProcess(char const* tableName);
int HoldTraceLockProcess();
int TimedWriterProcess();
int ContendingOpenerProcess();

}  // namespace e2e

#endif

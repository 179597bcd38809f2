// Tables: share forcing and its exemptions, exclusive escalation, the
// read-sequence policy, and the structure and status operations.
//
// The stand-in engine counts every call on a table in the table's trace
// word; the tests keep the same count (`word`) to know the state items.
#include "core/engine_layout.h"
#include "tests/e2e/host/scenarios.h"

namespace e2e {

namespace {

CDataDictionary* NewDictionary(void* storage) {
  CDataDictionary* const dictionary = ::new (storage) CDataDictionary("S", "A", "U", "F");
  ExpectStep("dictionary constructed",
             Calls().Call(kDataDictionary_Construct, dictionary, "S", "A", "U", "F").Done(),
             Trace().Call(dictionary, kDataDictionary_Construct, "S", "A", "U", "F").ResultPointer(dictionary));
  return dictionary;
}

CTable* TableOf(CDataDictionary* dictionary, char const* name) {
  CTable* const table = dictionary->GetTable(name);
  ExpectStep("table got", Calls().Call(kDataDictionary_GetTable_ByName, dictionary, name).Returns(table),
             Trace().Call(dictionary, kDataDictionary_GetTable_ByName, name).ResultPointer(table));
  return table;
}

int OpenDictionary(CDataDictionary* dictionary, char const* path, int engineResult) {
  QueueResult(kDataDictionary_Open, engineResult);
  int const result = dictionary->Open(path);
  Expect(result == engineResult, "Open(%s) returns the engine's %d (got %d)", path, engineResult, result);
  ExpectStep(path, Calls().Call(kDataDictionary_Open, dictionary, path).Returns(engineResult),
             Trace().Call(dictionary, kDataDictionary_Open, path).ResultInt(engineResult));
  return result;
}

// OpenAccess(mode, safety) that the engine accepts and the module leaves as
// asked: one engine call.
void ExpectLeftAsAsked(char const* what, CTable* table, int mode, int safety, int* word) {
  int const result = table->OpenAccess(static_cast<ShareModeCtl>(mode), static_cast<SafetyCtl>(safety));
  Expect(result == 1, "%s: OpenAccess returns 1 (got %d)", what, result);
  *word += 1;
  ExpectStep(what, Calls().Call(kTable_OpenAccess, table, mode, safety).Returns(1),
             Trace().Call(table, kTable_OpenAccess, mode, safety).TableResult(1, *word));
}

// OpenAccess(mode, safety) forced to shared: the module's CloseAccess(1),
// then the engine's OpenAccess(1, 1) without records of its own.
void ExpectForcedShared(char const* what, CTable* table, int mode, int safety, int* word) {
  int const result = table->OpenAccess(static_cast<ShareModeCtl>(mode), static_cast<SafetyCtl>(safety));
  Expect(result == 1, "%s: OpenAccess returns the reopen's 1 (got %d)", what, result);
  ExpectStep(what,
             Calls()
                 .Call(kTable_OpenAccess, table, mode, safety)
                 .Returns(1)
                 .Call(kTable_CloseAccess, table, 1)
                 .Returns(1)
                 .Call(kTable_OpenAccess, table, 1, 1)
                 .Returns(1),
             Trace()
                 .Call(table, kTable_OpenAccess, mode, safety)
                 .Call(table, kTable_CloseAccess, 1)
                 .TableResult(1, *word + 2)
                 .TableResult(1, *word + 3));
  *word += 3;
}

}  // namespace

namespace {

unsigned long __stdcall AskWhetherOpen(void* table) {
  static_cast<CTable*>(table)->IsOpen();
  return 0;
}

}  // namespace

// Threads the host starts and ends change nothing in the module: a call on
// such a thread is traced like any other, and the options and the registry
// are still in force afterwards.
void ThreadNotifications() {
  RecordModuleImports();
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = NewDictionary(storage.get());
  Expect(dictionary->OpenEmpty() == 1, "OpenEmpty returns the engine's result");
  ExpectStep("dictionary opened empty", Calls().Call(kDataDictionary_OpenEmpty, dictionary).Returns(1),
             Trace().Call(dictionary, kDataDictionary_OpenEmpty).ResultInt(1));
  CTable* const table = TableOf(dictionary, "T");
  int word = 0;

  RunOnThread(&AskWhetherOpen, table);
  word += 1;
  // The table is not open yet: the engine answers 0.
  ExpectStep("a call made on a thread of its own", Calls().Call(kTable_IsOpen, table).Returns(0),
             Trace().Call(table, kTable_IsOpen).TableResult(0, word));
  RunOnThread(&AskWhetherOpen, table);
  word += 1;
  ExpectStep("and on another one", Calls().Call(kTable_IsOpen, table).Returns(0),
             Trace().Call(table, kTable_IsOpen).TableResult(0, word));

  ExpectLeftAsAsked("the registry outlives the threads", table, 2, 1, &word);
  Expect(MessageBoxCount() == 0, "no message box");
}

void ShareForcing() {
  RecordModuleImports();
  Storage<kDictionaryObjectSize> mainStorage;
  CDataDictionary* const dictionary = NewDictionary(mainStorage.get());
  CTable* const table = TableOf(dictionary, "KUNDEN");
  int word = 0;

  ExpectLeftAsAsked("shared use asked for", table, 1, 2, &word);
  ExpectForcedShared("exclusive use asked for (the caller's safety is not reused)", table, 2, 2, &word);
  ExpectForcedShared("mode 0 asked for", table, 0, 1, &word);
  ExpectForcedShared("mode 5 asked for", table, 5, 1, &word);

  QueueResult(kTable_OpenAccess, 0);
  Expect(table->OpenAccess(kShareModeExclusive, kSafetyNormal) == 0, "a failed open returns 0");
  word += 1;
  ExpectStep("the engine refuses the open: nothing is forced", Calls().Call(kTable_OpenAccess, table, 2, 1).Returns(0),
             Trace().Call(table, kTable_OpenAccess, 2, 1).TableResult(0, word));

  QueueResult(kTable_CloseAccess, 0);
  Expect(table->OpenAccess(kShareModeExclusive, kSafetyNormal) == 0, "a failed close returns 0");
  word += 2;
  ExpectStep("the close of share forcing fails: no reopen",
             Calls().Call(kTable_OpenAccess, table, 2, 1).Returns(1).Call(kTable_CloseAccess, table, 1).Returns(0),
             Trace()
                 .Call(table, kTable_OpenAccess, 2, 1)
                 .Call(table, kTable_CloseAccess, 1)
                 .TableResult(0, word)
                 .TableResult(0, word));

  QueueResult(kTable_OpenAccess, 1);
  QueueResult(kTable_OpenAccess, 0);
  Expect(table->OpenAccess(kShareModeExclusive, kSafetyNormal) == 0, "a failed reopen returns 0");
  ExpectStep("the reopen fails: its result is returned",
             Calls()
                 .Call(kTable_OpenAccess, table, 2, 1)
                 .Returns(1)
                 .Call(kTable_CloseAccess, table, 1)
                 .Returns(1)
                 .Call(kTable_OpenAccess, table, 1, 1)
                 .Returns(0),
             Trace()
                 .Call(table, kTable_OpenAccess, 2, 1)
                 .Call(table, kTable_CloseAccess, 1)
                 .TableResult(1, word + 2)
                 .TableResult(0, word + 3));
  word += 3;

  // The users table, in any letter case, is never forced.
  int usersWord = 0;
  ExpectLeftAsAsked("ZKUSERS", TableOf(dictionary, "ZKUSERS"), 2, 1, &usersWord);
  usersWord = 0;
  ExpectLeftAsAsked("zkUsers", TableOf(dictionary, "zkUsers"), 2, 1, &usersWord);
  usersWord = 0;
  ExpectForcedShared("ZKUSERS2 is another table", TableOf(dictionary, "ZKUSERS2"), 2, 1, &usersWord);
  usersWord = 0;
  ExpectForcedShared("ZKUSER is another table", TableOf(dictionary, "ZKUSER"), 2, 1, &usersWord);

  // Tables of a dictionary opened empty are never forced, until it is closed.
  Storage<kDictionaryObjectSize> emptyStorage;
  CDataDictionary* const empty = NewDictionary(emptyStorage.get());
  CTable* const emptyTable = TableOf(empty, "LEER");
  int emptyWord = 0;
  for (int i = 0; i < 2; ++i) {
    Expect(empty->OpenEmpty() == 1, "OpenEmpty returns the engine's result");
    ExpectStep("dictionary opened empty", Calls().Call(kDataDictionary_OpenEmpty, empty).Returns(1),
               Trace().Call(empty, kDataDictionary_OpenEmpty).ResultInt(1));
  }
  ExpectLeftAsAsked("table of a dictionary opened empty", emptyTable, 2, 1, &emptyWord);
  empty->Close();
  ExpectStep("dictionary opened empty twice, closed once", Calls().Call(kDataDictionary_Close, empty).Done(),
             Trace().Call(empty, kDataDictionary_Close));
  ExpectForcedShared("table of the closed dictionary", emptyTable, 2, 1, &emptyWord);

  Storage<kDictionaryObjectSize> failedStorage;
  CDataDictionary* const failed = NewDictionary(failedStorage.get());
  QueueResult(kDataDictionary_OpenEmpty, 0);
  Expect(failed->OpenEmpty() == 0, "a failed OpenEmpty returns 0");
  ExpectStep("OpenEmpty fails", Calls().Call(kDataDictionary_OpenEmpty, failed).Returns(0),
             Trace().Call(failed, kDataDictionary_OpenEmpty).ResultInt(0));
  int failedWord = 0;
  ExpectForcedShared("table of a dictionary whose OpenEmpty failed", TableOf(failed, "T"), 2, 1, &failedWord);

  // A table without an owning dictionary keeps the mode asked for.
  TableLayout orphanLayout = {};
  orphanLayout.name = "OHNE";
  int orphanWord = 0;
  ExpectLeftAsAsked("a table without a dictionary", reinterpret_cast<CTable*>(&orphanLayout), 2, 1, &orphanWord);

  // Opening the restructure dictionary switches forcing off for good; paths
  // that only resemble it do not.
  char const* const resembling[] = {"C:/APP/NEW_STRU/Pallo7.DD", "C:\\APP\\XNEW_STRU\\Pallo7.DD",
                                    "C:\\APP\\NEW_STRU\\Pallo7.DD.BAK", "NEW_STRU\\Pallo7.DD"};
  for (char const* path : resembling) {
    OpenDictionary(dictionary, path, 1);
    ExpectForcedShared(path, table, 2, 1, &word);
  }
  OpenDictionary(dictionary, "C:\\APP\\NEW_STRU\\PALLO7.DD", 0);
  ExpectForcedShared("after the restructure dictionary failed to open", table, 2, 1, &word);
  OpenDictionary(dictionary, "c:\\app\\new_stru\\pallo7.dd", 1);
  ExpectLeftAsAsked("after the restructure dictionary opened", table, 2, 1, &word);
  Storage<kDictionaryObjectSize> otherStorage;
  CDataDictionary* const other = NewDictionary(otherStorage.get());
  OpenDictionary(other, "C:\\OTHER.DD", 1);
  other->Close();
  ExpectStep("another dictionary closed", Calls().Call(kDataDictionary_Close, other).Done(),
             Trace().Call(other, kDataDictionary_Close));
  ExpectLeftAsAsked("forcing stays off", table, 0, 1, &word);
}

void ExclusiveEscalation() {
  RecordModuleImports();
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = NewDictionary(storage.get());

  // Shared: closed, opened exclusively, operated, closed, reopened shared.
  CTable* const table = TableOf(dictionary, "KUNDEN");
  int word = 0;
  ExpectLeftAsAsked("opened shared", table, 1, 1, &word);
  OperationId const operations[] = {kTable_Pack, kTable_ReIndex, kTable_Clear};
  for (OperationId op : operations) {
    QueueResult(op, 7);
    int result = 0;
    if (op == kTable_Pack) result = table->Pack();
    if (op == kTable_ReIndex) result = table->ReIndex();
    if (op == kTable_Clear) result = table->Clear();
    Expect(result == 7, "%s returns the engine operation's result (got %d)", kOperationNames[op], result);
    ExpectStep(kOperationNames[op],
               Calls()
                   .Call(kTable_CloseAccess, table, 2)
                   .Returns(1)
                   .Call(kTable_OpenAccess, table, 2, 1)
                   .Returns(1)
                   .Call(op, table)
                   .Returns(7)
                   .Call(kTable_CloseAccess, table, 1)
                   .Returns(1)
                   .Call(kTable_OpenAccess, table, 1, 1)
                   .Returns(1),
               Trace()
                   .Call(table, op)
                   .Call(table, kTable_CloseAccess, 2)
                   .TableResult(1, word + 1)
                   .Call(table, kTable_OpenAccess, 2, 1)
                   .TableResult(1, word + 2)
                   .Call(table, kTable_CloseAccess, 1)
                   .TableResult(1, word + 4)
                   .Call(table, kTable_OpenAccess, 1, 1)
                   .TableResult(1, word + 5)
                   .TableResult(7, word + 5));
    word += 5;
  }

  // Failures inside the escalation are not examined, and the internal reopen
  // flag is cleared even when the operation fails: share forcing works again.
  QueueResult(kTable_CloseAccess, 0);
  QueueResult(kTable_OpenAccess, 0);
  QueueResult(kTable_Pack, 0);
  Expect(table->Pack() == 0, "a failed Pack returns 0");
  ExpectStep("Pack with failing steps",
             Calls()
                 .Call(kTable_CloseAccess, table, 2)
                 .Returns(0)
                 .Call(kTable_OpenAccess, table, 2, 1)
                 .Returns(0)
                 .Call(kTable_Pack, table)
                 .Returns(0)
                 .Call(kTable_CloseAccess, table, 1)
                 .Returns(1)
                 .Call(kTable_OpenAccess, table, 1, 1)
                 .Returns(1),
             Trace()
                 .Call(table, kTable_Pack)
                 .Call(table, kTable_CloseAccess, 2)
                 .TableResult(0, word + 1)
                 .Call(table, kTable_OpenAccess, 2, 1)
                 .TableResult(0, word + 2)
                 .Call(table, kTable_CloseAccess, 1)
                 .TableResult(1, word + 4)
                 .Call(table, kTable_OpenAccess, 1, 1)
                 .TableResult(1, word + 5)
                 .TableResult(0, word + 5));
  word += 5;
  ExpectForcedShared("forcing applies again after Pack", table, 2, 1, &word);

  // Held exclusively already: one engine call, no nesting.
  CTable* const users = TableOf(dictionary, "ZKUSERS");
  int usersWord = 0;
  ExpectLeftAsAsked("users table opened exclusively", users, 2, 1, &usersWord);
  Expect(users->ReIndex() == 1, "ReIndex returns the engine's result");
  ExpectStep("ReIndex of an exclusive table", Calls().Call(kTable_ReIndex, users).Returns(1),
             Trace().Call(users, kTable_ReIndex).TableResult(1, usersWord + 1));

  // Closed (mode 0): the restoring open passes through share forcing.
  CTable* const closed = TableOf(dictionary, "GESCHLOSSEN");
  Expect(closed->Clear() == 1, "Clear returns the engine's result");
  ExpectStep("Clear of a closed table ends shared",
             Calls()
                 .Call(kTable_CloseAccess, closed, 2)
                 .Returns(1)
                 .Call(kTable_OpenAccess, closed, 2, 1)
                 .Returns(1)
                 .Call(kTable_Clear, closed)
                 .Returns(1)
                 .Call(kTable_CloseAccess, closed, 1)
                 .Returns(1)
                 .Call(kTable_OpenAccess, closed, 0, 1)
                 .Returns(1)
                 .Call(kTable_CloseAccess, closed, 1)
                 .Returns(1)
                 .Call(kTable_OpenAccess, closed, 1, 1)
                 .Returns(1),
             Trace()
                 .Call(closed, kTable_Clear)
                 .Call(closed, kTable_CloseAccess, 2)
                 .TableResult(1, 1)
                 .Call(closed, kTable_OpenAccess, 2, 1)
                 .TableResult(1, 2)
                 .Call(closed, kTable_CloseAccess, 1)
                 .TableResult(1, 4)
                 .Call(closed, kTable_OpenAccess, 0, 1)
                 .Call(closed, kTable_CloseAccess, 1)
                 .TableResult(1, 6)
                 .TableResult(1, 7)
                 .TableResult(1, 7));

  // The engine throws from each of the five calls of an escalation in turn:
  // the host catches what the engine threw, and share forcing works again.
  struct Thrower {
    OperationId op;
    int passing;
    char const* table;
  } const throwers[] = {{kTable_CloseAccess, 0, "WIRFT1"}, {kTable_OpenAccess, 0, "WIRFT2"}, {kTable_Pack, 0, "WIRFT3"},
                        {kTable_CloseAccess, 1, "WIRFT4"}, {kTable_OpenAccess, 1, "WIRFT5"}};
  for (Thrower const& thrower : throwers) {
    CTable* const thrown = TableOf(dictionary, thrower.table);
    int thrownWord = 0;
    ExpectLeftAsAsked("a table opened shared", thrown, 1, 1, &thrownWord);
    ThrowOnNextCall(thrower.op, thrower.passing);
    int caught = -1;
    try {
      thrown->Pack();
    } catch (EngineFailure const& failure) {
      caught = failure.operation;
    }
    Expect(caught == thrower.op, "the exception of %s (call %d) reaches the host (got %d)", kOperationNames[thrower.op],
           thrower.passing + 1, caught);
    ForgetCalls();
    SkipTrace();
    ExpectForcedShared("share forcing after an engine exception in an escalation", table, 2, 1, &word);
  }
}

// Runs under three option sets; the expectations follow Options().
void ReadSequences() {
  RecordModuleImports();
  ExpectedOptions const& options = Options();
  bool const lock = !options.noSeq;

  Engine().sequenceSwitch = 1;
  Storage<kDictionaryObjectSize> lockingStorage;
  CDataDictionary* const locking = NewDictionary(lockingStorage.get());
  Engine().sequenceSwitch = 0;
  Storage<kDictionaryObjectSize> skippingStorage;
  CDataDictionary* const skipping = NewDictionary(skippingStorage.get());
  CTable* const alpha = TableOf(locking, "ALPHA");
  CTable* const beta = TableOf(skipping, "BETA");
  int alphaWord = 0;
  int betaWord = 0;
  int boxes = 0;

  // Switch on: a table lock first (unless NoSEQ), then the engine.
  for (int round = 0; round < 2; ++round) {
    if (round == 1) QueueResult(kTable_PutTLock, 0);  // its result is not examined
    QueueResult(kTable_BeginReadSequence, 5);
    size_t const logBefore = MaskedLogSize();
    int const result = alpha->BeginReadSequence();
    Expect(result == 5, "BeginReadSequence returns the engine's result (got %d)", result);
    Calls calls;
    Trace beforeResult;
    beforeResult.Call(alpha, kTable_BeginReadSequence);
    if (lock) {
      calls.Call(kTable_PutTLock, alpha, 2).Returns(round == 1 ? 0 : 1);
      beforeResult.Call(alpha, kTable_PutTLock, 2).TableResult(round == 1 ? 0 : 1, ++alphaWord);
    }
    calls.Call(kTable_BeginReadSequence, alpha).Returns(5);
    Trace trace;
    trace.Raw(beforeResult.masked.c_str(), beforeResult.plain.c_str()).TableResult(5, ++alphaWord);
    ExpectStep("read sequence of a dictionary with the switch on", calls, trace);
    if (options.stopSeq) {
      Expect(MessageBoxCount() == boxes + 1, "StopSEQ shows a message box after the forwarded sequence");
      if (MessageBoxCount() == boxes + 1) {
        MessageBoxSeen const& box = MessageBoxAt(boxes);
        Expect(strcmp(box.text, "ALPHA") == 0, "the box names the table (got [%s])", box.text);
        Expect(strcmp(box.caption, "Tolvan32 Share") == 0, "the box's caption (got [%s])", box.caption);
        Expect(box.owner == ActiveWindowGiven() && box.style == 0, "the box is owned by the active window, MB_OK");
        size_t const expectedSize = options.traceLevel ? logBefore + beforeResult.masked.size() : 0;
        Expect(box.maskedLogSize == expectedSize, "the box shows before the result record (log at %u, expected %u)",
               static_cast<unsigned>(box.maskedLogSize), static_cast<unsigned>(expectedSize));
      }
      ++boxes;
    }
  }

  // Switch off: skipped and reported done, unless NoSEQ passes it on.
  QueueResult(kTable_BeginReadSequence, 6);
  int const skipped = beta->BeginReadSequence();
  if (options.noSeq) {
    Expect(skipped == 6, "with NoSEQ the sequence reaches the engine (got %d)", skipped);
    ExpectStep("read sequence of a dictionary with the switch off, NoSEQ",
               Calls().Call(kTable_BeginReadSequence, beta).Returns(6),
               Trace().Call(beta, kTable_BeginReadSequence).TableResult(6, ++betaWord));
    if (options.stopSeq) {
      Expect(MessageBoxCount() == boxes + 1 && strcmp(MessageBoxAt(boxes).text, "BETA") == 0,
             "StopSEQ shows the table BETA");
      ++boxes;
    }
  } else {
    Expect(skipped == 1, "a skipped sequence returns 1 (got %d)", skipped);
    ExpectStep("read sequence of a dictionary with the switch off: skipped", Calls(),
               Trace().Call(beta, kTable_BeginReadSequence).TableResult(1, betaWord));
    Engine().queuedCount[kTable_BeginReadSequence] = 0;  // the engine was not asked
  }
  Expect(MessageBoxCount() == boxes, "%d message boxes (got %d)", boxes, MessageBoxCount());

  beta->EndReadSequence();
  alpha->EndReadSequence();
  ExpectStep("EndReadSequence is always forwarded",
             Calls().Call(kTable_EndReadSequence, beta).Done().Call(kTable_EndReadSequence, alpha).Done(),
             Trace().Call(beta, kTable_EndReadSequence).Call(alpha, kTable_EndReadSequence));
  if (!options.traceLevel) ExpectNoLogFiles("tracing off");
}

void TableFamily() {
  RecordModuleImports();
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = NewDictionary(storage.get());
  CTable* const table = TableOf(dictionary, "T");
  int word = 0;

  CField* const field = table->AddField("NAME");
  QueuePointer(kTable_AddField, nullptr);
  CField* const noField = table->AddField("LEER");
  Expect(field != nullptr && noField == nullptr, "AddField returns the engine's fields, null included");
  ExpectStep("AddField",
             Calls()
                 .Call(kTable_AddField, table, "NAME")
                 .Returns(field)
                 .Call(kTable_AddField, table, "LEER")
                 .Returns(noField),
             Trace()
                 .Call(table, kTable_AddField, "NAME")
                 .TablePointerResult(field, word + 1)
                 .Call(table, kTable_AddField, "LEER")
                 .Raw("                ........ ( 2 ) \r\n", "                00000000 ( 2 ) \r\n"));
  word += 2;

  CIndex* const index = table->AddIndex("IX");
  ExpectStep("AddIndex", Calls().Call(kTable_AddIndex, table, "IX").Returns(index),
             Trace().Call(table, kTable_AddIndex, "IX").TablePointerResult(index, ++word));

  QueueResult(kTable_DeleteField_ByNumber, -1);
  Expect(table->DeleteField(3) == -1, "DeleteField(int) returns the engine's result");
  Expect(table->DeleteField(field) == 1, "DeleteField(CField *) returns the engine's result");
  QueueResult(kTable_DeleteField_ByName, 0);
  Expect(table->DeleteField("NAME") == 0, "DeleteField(char const *) returns the engine's result");
  Expect(table->DeleteIndex(2) == 1, "DeleteIndex(int) returns the engine's result");
  Expect(table->DeleteIndex(index) == 1, "DeleteIndex(CIndex *) returns the engine's result");
  Expect(table->DeleteIndex("IX") == 1, "DeleteIndex(char const *) returns the engine's result");
  QueueResult(kTable_EnableIndexing, 3);
  Expect(table->EnableIndexing(0) == 3, "EnableIndexing returns the engine's result");
  ExpectStep("DeleteField, DeleteIndex, EnableIndexing",
             Calls()
                 .Call(kTable_DeleteField_ByNumber, table, 3)
                 .Returns(-1)
                 .Call(kTable_DeleteField_ByField, table, field)
                 .Returns(1)
                 .Call(kTable_DeleteField_ByName, table, "NAME")
                 .Returns(0)
                 .Call(kTable_DeleteIndex_ByNumber, table, 2)
                 .Returns(1)
                 .Call(kTable_DeleteIndex_ByObject, table, index)
                 .Returns(1)
                 .Call(kTable_DeleteIndex_ByName, table, "IX")
                 .Returns(1)
                 .Call(kTable_EnableIndexing, table, 0)
                 .Returns(3),
             Trace()
                 .Call(table, kTable_DeleteField_ByNumber, 3)
                 .TableResult(-1, word + 1)
                 .Call(table, kTable_DeleteField_ByField, field)
                 .TableResult(1, word + 2)
                 .Call(table, kTable_DeleteField_ByName, "NAME")
                 .TableResult(0, word + 3)
                 .Call(table, kTable_DeleteIndex_ByNumber, 2)
                 .TableResult(1, word + 4)
                 .Call(table, kTable_DeleteIndex_ByObject, index)
                 .TableResult(1, word + 5)
                 .Call(table, kTable_DeleteIndex_ByName, "IX")
                 .TableResult(1, word + 6)
                 .Call(table, kTable_EnableIndexing, 0)
                 .TableResult(3, word + 7));
  word += 7;

  // Field look-ups are traced at level 2 only.
  CField* const third = table->GetField(3);
  CField* const named = table->GetField("NAME");
  Expect(third && named, "GetField returns the engine's fields");
  ExpectStep("GetField at level 1: not traced",
             Calls().Call(kTable_GetField_ByNumber, table, 3).Returns(third).Call(kTable_GetField_ByName, table,
                                                                                   "NAME").Returns(named),
             Trace());
  word += 2;

  CIndex* const first = table->GetIndex(1);
  CIndex* const again = table->GetIndex("IX");
  Expect(first != nullptr && again == index, "GetIndex returns the engine's indexes");
  ExpectStep("GetIndex",
             Calls().Call(kTable_GetIndex_ByNumber, table, 1).Returns(first).Call(kTable_GetIndex_ByName, table,
                                                                                  "IX").Returns(again),
             Trace()
                 .Call(table, kTable_GetIndex_ByNumber, 1)
                 .TablePointerResult(first, word + 1)
                 .Call(table, kTable_GetIndex_ByName, "IX")
                 .TablePointerResult(again, word + 2));
  word += 2;

  Expect(table->CTable::GetObjType() == kTableType, "CTable::GetObjType returns the engine's type");
  Expect(table->PutTLock(kTLockModeRead) == 1, "PutTLock returns the engine's result");
  Expect(table->GetTLockMode() == kTLockModeRead, "GetTLockMode returns the engine's mode");
  QueueResult(kTable_IsBufDirty, 1);
  Expect(table->IsBufDirty() == 1, "IsBufDirty returns the engine's result");
  Expect(table->IsOpen() == 0, "IsOpen returns the engine's 0 for a closed table");
  ExpectStep("status queries",
             Calls()
                 .Call(kTable_GetObjType, table)
                 .Returns(kTableType)
                 .Call(kTable_PutTLock, table, 2)
                 .Returns(1)
                 .Call(kTable_GetTLockMode, table)
                 .Returns(2)
                 .Call(kTable_IsBufDirty, table)
                 .Returns(1)
                 .Call(kTable_IsOpen, table)
                 .Returns(0),
             Trace()
                 .Call(table, kTable_GetObjType)
                 .TableResult(kTableType, word + 1)
                 .Call(table, kTable_PutTLock, 2)
                 .TableResult(1, word + 2)
                 .Call(table, kTable_GetTLockMode)
                 .TableResult(2, word + 3)
                 .Call(table, kTable_IsBufDirty)
                 .TableResult(1, word + 4)
                 .Call(table, kTable_IsOpen)
                 .TableResult(0, word + 5));
  word += 5;

  // IsRecLocked traces the address of the record address it is given.
  Storage<kRecAddrObjectSize> addressStorage;
  CRecAddr* const address = ::new (addressStorage.get()) CRecAddr(static_cast<CRecAddr const*>(nullptr));
  ForgetCalls();
  SkipTrace();
  QueueResult(kTable_IsRecLocked, 1);
  Expect(table->IsRecLocked(*address) == 1, "IsRecLocked returns the engine's result");
  ExpectStep("IsRecLocked", Calls().Call(kTable_IsRecLocked, table, address).Returns(1),
             Trace().Call(table, kTable_IsRecLocked, address).TableResult(1, ++word));
}

// Trace level 2: the field look-ups write their records, with the field's
// name and two words in place of its address.
void TableFieldLookUps() {
  RecordModuleImports();
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = NewDictionary(storage.get());
  CTable* const table = TableOf(dictionary, "T");

  table->CTable::GetObjType();
  table->IsOpen();
  table->IsBufDirty();
  table->GetTLockMode();
  ForgetCalls();
  SkipTrace();

  CField* const named = table->GetField("NAME");
  char address[9];
  _snprintf(address, 9, "%08x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(table)));
  address[8] = '\0';
  Text plain;
  plain.Format(" %s CTable::GetField(char const *) NAME \r\n                [ NAME 3 10 ] ( 5 ) \r\n", address);
  ExpectStep("GetField by name, literal lines", Calls().Call(kTable_GetField_ByName, table, "NAME").Returns(named),
             Trace().Raw(" ........ CTable::GetField(char const *) NAME \r\n                [ NAME 3 10 ] ( 5 ) \r\n",
                         plain.c_str()));

  CField* const third = table->GetField(3);
  Engine().fieldFirstWord = -1;
  Engine().fieldSecondWord = 0;
  CField* const odd = table->GetField("X");
  ExpectStep("GetField by number, and negative words",
             Calls().Call(kTable_GetField_ByNumber, table, 3).Returns(third).Call(kTable_GetField_ByName, table,
                                                                                   "X").Returns(odd),
             Trace()
                 .Call(table, kTable_GetField_ByNumber, 3)
                 .Result()
                 .Item("[")
                 .Item("F3")
                 .Int(3)
                 .Int(30)
                 .Item("]")
                 .TableState(6)
                 .End()
                 .Call(table, kTable_GetField_ByName, "X")
                 .Result()
                 .Item("[")
                 .Item("X")
                 .Int(-1)
                 .Int(0)
                 .Item("]")
                 .TableState(7)
                 .End());

  // A null field: the call record is written and the host gets null; what
  // the result record holds is the module's own choice.
  QueuePointer(kTable_GetField_ByNumber, nullptr);
  CField* const none = table->GetField(4);
  Expect(none == nullptr, "GetField returns the engine's null");
  ExpectCalls("GetField returning null", Calls().Call(kTable_GetField_ByNumber, table, 4).Returns(none));
  SkipTrace();

  Expect(table->CloseAccess(kSafetyNormal) == 1, "CloseAccess returns the engine's result");
  ExpectStep("other operations are traced at level 2 too", Calls().Call(kTable_CloseAccess, table, 1).Returns(1),
             Trace().Call(table, kTable_CloseAccess, 1).TableResult(1, 9));
}

}  // namespace e2e

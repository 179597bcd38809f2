// The module's own failures: the engine library missing (#001 and #002), or
// a copy of the module in its place (the same), an engine entry missing
// (#002); and the options read at load.
#include "tests/e2e/host/scenarios.h"

namespace e2e {

namespace {

char const kError001Box[] = "*** Error *** #001 (Library \" Tolvan33.dll \" not found)\n ";
char const kError002Box[] = "*** Error *** #002 (Entry in library not found)\n ";
char const kError001Line[] = " *** Error *** #001 (Library \" Tolvan33.dll \" not found)\r\n";
char const kError002Line[] = " *** Error *** #002 (Entry in library not found)\r\n";

void ExpectBox(int index, char const* text) {
  if (!Expect(MessageBoxCount() > index, "message box %d is shown", index + 1)) return;
  MessageBoxSeen const& box = MessageBoxAt(index);
  Text actual;
  actual.Append(box.text);
  Text expected;
  expected.Append(text);
  Text what;
  what.Format("text of message box %d", index + 1);
  ExpectText(what.c_str(), actual, expected);
  Expect(strcmp(box.caption, "Tolvan32 Share") == 0, "message box %d's caption (got [%s])", index + 1, box.caption);
  Expect(box.owner == ActiveWindowGiven(), "message box %d is owned by the active window", index + 1);
  Expect(box.style == 0, "message box %d has one OK button and no icon (style %u)", index + 1, box.style);
}

// Both logs receive the same error lines: they hold no pointers.
Trace& ErrorLines(Trace& trace, bool libraryMissing) {
  if (libraryMissing) trace.Raw(kError001Line, kError001Line);
  return trace.Raw(kError002Line, kError002Line);
}

unsigned long __stdcall CallFromAnotherThread(void*) {
  Storage<kDictionaryObjectSize> storage;
  reinterpret_cast<CDataDictionary*>(storage.get())->BeginTransaction();
  return 0;
}

unsigned long __stdcall CallOneHundredTimes(void*) {
  Storage<kDictionaryObjectSize> storage;
  for (int call = 0; call < 100; ++call) reinterpret_cast<CDataDictionary*>(storage.get())->BeginTransaction();
  return 0;
}

void CallAgainFromTheBox() {
  CallFromAnotherThread(nullptr);
  RunOnThread(&CallFromAnotherThread, nullptr);
}

}  // namespace

// Tracing off: the errors reach both logs all the same, and tracing is off
// again afterwards. Once the library can be found, the next call loads it.
void EngineMissing() {
  RecordModuleImports();
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = ::new (storage.get()) CDataDictionary("S", "A", "U", "F");
  Expect(MessageBoxCount() == 2, "two message boxes for the first call (got %d)", MessageBoxCount());
  ExpectBox(0, kError001Box);
  ExpectBox(1, kError002Box);
  Trace errors;
  ExpectTrace("#001 and #002 with tracing off", ErrorLines(errors, true));

  dictionary->BeginTransaction();
  Expect(MessageBoxCount() == 4, "two more message boxes for the next call (got %d)", MessageBoxCount());
  ExpectBox(2, kError001Box);
  ExpectBox(3, kError002Box);
  Trace moreErrors;
  ExpectTrace("every call tries the library again", ErrorLines(moreErrors, true));
  Expect(!GetModuleHandleA("Tolvan33.dll"), "no engine library is loaded");

  char directory[512];
  EnvironmentValue("E2E_ENGINE_DIR", directory, sizeof directory);
  Expect(directory[0] && SetDllDirectoryA(directory), "the engine's directory [%s] is added to the search", directory);
  Storage<kDictionaryObjectSize> laterStorage;
  CDataDictionary* const later = ::new (laterStorage.get()) CDataDictionary("S", "A", "U", "F");
  Expect(GetModuleHandleA("Tolvan33.dll") != nullptr, "the next call loads the library once it can be found");
  Expect(MessageBoxCount() == 4, "no message box once the library is found (got %d)", MessageBoxCount());
  Expect(later->BeginTransaction() == 1, "the engine answers");
  ExpectCalls("after the library was found",
              Calls()
                  .Call(kDataDictionary_Construct, later, "S", "A", "U", "F")
                  .Done()
                  .Call(kDataDictionary_BeginTransaction, later)
                  .Returns(1));
  ExpectTrace("tracing stays off", Trace());
}

// Tracing on: the error lines stand before the call record; without the
// engine there is no result record.
void EngineMissingTraced() {
  RecordModuleImports();
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = ::new (storage.get()) CDataDictionary("S", "A", "U", "F");
  Trace expected;
  ErrorLines(expected, true).Call(dictionary, kDataDictionary_Construct, "S", "A", "U", "F");
  ExpectTrace("the constructor without the engine", expected);

  dictionary->BeginTransaction();
  Trace again;
  ErrorLines(again, true).Call(dictionary, kDataDictionary_BeginTransaction);
  ExpectTrace("BeginTransaction without the engine", again);
  Expect(MessageBoxCount() == 4, "two message boxes per call (got %d)", MessageBoxCount());
  ExpectBox(2, kError001Box);
  ExpectBox(3, kError002Box);

  // GetRecAddr shows the boxes of one call and calls nothing more; the host
  // destroys what it received.
  Storage<kStoreObjectSize> storeStorage;
  CStoreObj* const store = reinterpret_cast<CStoreObj*>(storeStorage.get());
  Storage<kRecAddrObjectSize> addressStorage;
  CRecAddr* const address = ::new (addressStorage.get()) CRecAddr(store->GetRecAddr());
  Expect(MessageBoxCount() == 6, "two message boxes for GetRecAddr (got %d)", MessageBoxCount());
  ExpectBox(4, kError001Box);
  ExpectBox(5, kError002Box);
  Trace recAddr;
  ErrorLines(recAddr, true).Call(store, kStoreObj_GetRecAddr);
  ExpectTrace("GetRecAddr without the engine", recAddr);
  address->~CRecAddr();
  Trace destroyed;
  ErrorLines(destroyed, true).Call(address, kRecAddr_Destroy);
  ExpectTrace("the host destroys the record address", destroyed);
  Expect(MessageBoxCount() == 8, "two message boxes for the destructor (got %d)", MessageBoxCount());

  // A report made while another report's box is open, from the box's own
  // message loop and from another thread, shows its whole text.
  WhileNextMessageBoxShown(&CallAgainFromTheBox);
  dictionary->BeginTransaction();
  Expect(MessageBoxCount() == 14, "boxes of the call, of the call from the box and of the thread (got %d)",
         MessageBoxCount());
  char const* const boxes[] = {kError001Box, kError001Box, kError002Box, kError001Box,
                                  kError002Box, kError002Box};
  for (int i = 0; i < 6; ++i) ExpectBox(8 + i, boxes[i]);
}

// Four threads report the missing library at once, 100 calls each: every
// box holds one whole message.
void EngineMissingThreads() {
  RecordModuleImports();
  char const* const whole[] = {kError001Box, kError002Box};
  TallyMessageBoxes(whole, 2);
  void* const arguments[4] = {};
  RunOnThreads(&CallOneHundredTimes, arguments, 4);
  Expect(MessageBoxTally(0) == 400 && MessageBoxTally(1) == 400,
         "400 whole #001 boxes and 400 whole #002 boxes (got %ld and %ld)", MessageBoxTally(0), MessageBoxTally(1));
  Expect(MessageBoxTally(2) == 0, "no other box (got %ld, the first [%s])", MessageBoxTally(2),
         MessageBoxTally(2) ? MessageBoxAt(0).text : "");
}

// The engine lacks CDataBaseStaticObj::GetDescription and
// CStoreObj::GetRecAddr: only those operations report #002, once per call;
// the others work.
void EntryMissing() {
  RecordModuleImports();
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = ::new (storage.get()) CDataDictionary("S", "A", "U", "F");
  Expect(MessageBoxCount() == 0, "no message box for an entry that exists (got %d)", MessageBoxCount());
  ExpectStep("constructor", Calls().Call(kDataDictionary_Construct, dictionary, "S", "A", "U", "F").Done(),
             Trace().Call(dictionary, kDataDictionary_Construct, "S", "A", "U", "F").ResultPointer(dictionary));

  Storage<kStaticObjectSize> staticStorage;
  CDataBaseStaticObj* const statics = reinterpret_cast<CDataBaseStaticObj*>(staticStorage.get());
  for (int call = 0; call < 2; ++call) {
    statics->GetDescription();
    Expect(MessageBoxCount() == call + 1, "one message box per call of the missing entry (got %d)", MessageBoxCount());
    ExpectBox(call, kError002Box);
    Trace expected;
    ErrorLines(expected, false).Call(statics, kDataBaseStaticObj_GetDescription);
    ExpectStep("the missing entry", Calls(), expected);
  }

  Expect(dictionary->BeginTransaction() == 1, "other operations still work");
  ExpectStep("another operation", Calls().Call(kDataDictionary_BeginTransaction, dictionary).Returns(1),
             Trace().Call(dictionary, kDataDictionary_BeginTransaction).ResultInt(1));
  Expect(MessageBoxCount() == 2, "no further message box (got %d)", MessageBoxCount());

  // GetRecAddr is missing too: one #002 box, no engine constructor called,
  // an empty record address (its long is 0); the host then destroys the
  // record address through the engine.
  Storage<kStoreObjectSize> storeStorage;
  CStoreObj* const store = reinterpret_cast<CStoreObj*>(storeStorage.get());
  Storage<kRecAddrObjectSize> addressStorage;
  memset(addressStorage.get(), 0x5a, sizeof addressStorage.bytes);
  CRecAddr* const address = ::new (addressStorage.get()) CRecAddr(store->GetRecAddr());
  uint32_t value;
  memcpy(&value, addressStorage.bytes + 4, sizeof value);
  Expect(value == 0, "the record address's second word is 0 (got %08x)", value);
  Expect(MessageBoxCount() == 3, "one message box for GetRecAddr (got %d)", MessageBoxCount());
  ExpectBox(2, kError002Box);
  Trace expected;
  ErrorLines(expected, false).Call(store, kStoreObj_GetRecAddr);
  ExpectStep("GetRecAddr without its entry", Calls(), expected);
  address->~CRecAddr();
  ExpectStep("the host destroys it", Calls().Call(kRecAddr_Destroy, address).Done(),
             Trace().Call(address, kRecAddr_Destroy));
}

// Tolvan33.dll is a build of the module without the guard against a copy of
// itself as the engine, as an older copy would be. The module recognises it
// by its version resource as soon as it has loaded it, gives it back and
// reports the engine as not found: the host gets the boxes of #001 and #002
// and zero results, and no call reaches the copy (which would trace records
// of its own and forward into itself until the stack overflows).
void EngineIsModuleCopy() {
  RecordModuleImports();
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = ::new (storage.get()) CDataDictionary("S", "A", "U", "F");
  Expect(dictionary->BeginTransaction() == 0, "BeginTransaction returns 0");
  Expect(dictionary->GetTable("T") == nullptr, "GetTable returns null");
  Expect(!GetModuleHandleA("Tolvan33.dll"), "the copy is given back after each load");
  Trace calls;
  ErrorLines(calls, true).Call(dictionary, kDataDictionary_Construct, "S", "A", "U", "F");
  ErrorLines(calls, true).Call(dictionary, kDataDictionary_BeginTransaction);
  ErrorLines(calls, true).Call(dictionary, kDataDictionary_GetTable_ByName, "T");
  ExpectTrace("only the module's own lines", calls);
  Expect(MessageBoxCount() == 6, "two message boxes per call (got %d)", MessageBoxCount());
  for (int box = 0; box < MessageBoxCount(); ++box) ExpectBox(box, box % 2 ? kError002Box : kError001Box);
}

// What the options switched on, seen from outside: the trace level by the
// records written, NoShare by share forcing, NoSEQ and StopSEQ by the read
// sequences and their message boxes.
void OptionProbe() {
  RecordModuleImports();
  ExpectedOptions const& options = Options();

  Engine().sequenceSwitch = 1;
  Storage<kDictionaryObjectSize> lockingStorage;
  CDataDictionary* const locking = ::new (lockingStorage.get()) CDataDictionary("S", "A", "U", "F");
  Engine().sequenceSwitch = 0;
  Storage<kDictionaryObjectSize> skippingStorage;
  CDataDictionary* const skipping = ::new (skippingStorage.get()) CDataDictionary("S", "A", "U", "F");
  CTable* const alpha = locking->GetTable("ALPHA");
  CTable* const beta = skipping->GetTable("BETA");
  ExpectStep("set-up",
             Calls()
                 .Call(kDataDictionary_Construct, locking, "S", "A", "U", "F")
                 .Done()
                 .Call(kDataDictionary_Construct, skipping, "S", "A", "U", "F")
                 .Done()
                 .Call(kDataDictionary_GetTable_ByName, locking, "ALPHA")
                 .Returns(alpha)
                 .Call(kDataDictionary_GetTable_ByName, skipping, "BETA")
                 .Returns(beta),
             Trace()
                 .Call(locking, kDataDictionary_Construct, "S", "A", "U", "F")
                 .ResultPointer(locking)
                 .Call(skipping, kDataDictionary_Construct, "S", "A", "U", "F")
                 .ResultPointer(skipping)
                 .Call(locking, kDataDictionary_GetTable_ByName, "ALPHA")
                 .ResultPointer(alpha)
                 .Call(skipping, kDataDictionary_GetTable_ByName, "BETA")
                 .ResultPointer(beta));

  CField* const field = alpha->GetField(2);
  Trace lookUp;
  if (options.traceLevel == 2) {
    lookUp.Call(alpha, kTable_GetField_ByNumber, 2).Result().Item("[").Item("F2").Int(2).Int(20).Item("]");
    lookUp.TableState(1).End();
  }
  ExpectStep("GetField: traced at level 2 only", Calls().Call(kTable_GetField_ByNumber, alpha, 2).Returns(field),
             lookUp);

  Calls open;
  Trace openTrace;
  open.Call(kTable_OpenAccess, alpha, 2, 1).Returns(1);
  openTrace.Call(alpha, kTable_OpenAccess, 2, 1);
  if (options.noShare) {
    openTrace.TableResult(1, 2);
  } else {
    open.Call(kTable_CloseAccess, alpha, 1).Returns(1).Call(kTable_OpenAccess, alpha, 1, 1).Returns(1);
    openTrace.Call(alpha, kTable_CloseAccess, 1).TableResult(1, 3).TableResult(1, 4);
  }
  alpha->OpenAccess(kShareModeExclusive, kSafetyNormal);
  ExpectStep(options.noShare ? "NoShare: exclusive use is left as asked" : "exclusive use is forced to shared", open,
             openTrace);
  int alphaWord = options.noShare ? 2 : 4;

  alpha->BeginReadSequence();
  Calls sequence;
  Trace sequenceTrace;
  sequenceTrace.Call(alpha, kTable_BeginReadSequence);
  if (!options.noSeq) {
    sequence.Call(kTable_PutTLock, alpha, 2).Returns(1);
    sequenceTrace.Call(alpha, kTable_PutTLock, 2).TableResult(1, ++alphaWord);
  }
  sequence.Call(kTable_BeginReadSequence, alpha).Returns(1);
  sequenceTrace.TableResult(1, ++alphaWord);
  ExpectStep(options.noSeq ? "NoSEQ: no table lock" : "a table lock before the read sequence", sequence,
             sequenceTrace);

  beta->BeginReadSequence();
  Calls skipped;
  if (options.noSeq) skipped.Call(kTable_BeginReadSequence, beta).Returns(1);
  ExpectStep(options.noSeq ? "NoSEQ: the sequence reaches the engine" : "the sequence is skipped", skipped,
             Trace().Call(beta, kTable_BeginReadSequence).TableResult(1, options.noSeq ? 1 : 0));

  int const boxes = options.stopSeq ? (options.noSeq ? 2 : 1) : 0;
  Expect(MessageBoxCount() == boxes, "%s: %d message boxes (got %d)", options.stopSeq ? "StopSEQ" : "no StopSEQ", boxes,
         MessageBoxCount());
  if (!options.traceLevel) ExpectNoLogFiles("tracing off");
}

}  // namespace e2e

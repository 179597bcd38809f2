// The typical road of a host: open a dictionary, get a table and open it for
// exclusive use (the module makes it shared), move a record object and
// exchange fields, pack the table (exclusive for the duration), close and
// destroy. Run traced and untraced.
#include "tests/e2e/host/scenarios.h"

namespace e2e {

namespace {

char const kSysPath[] = "C:\\PALLO\\SYS";
char const kAdmPath[] = "C:\\PALLO\\ADM";
char const kUserPath[] = "C:\\PALLO\\USER";
char const kFilePath[] = "C:\\PALLO\\DATA";
char const kDictionaryPath[] = "C:\\PALLO\\DATA\\Pallo7.DD";

// The x87 status word, and a clean start for it.
unsigned X87Status() {
  unsigned short status;
  __asm__ volatile("fnstsw %0" : "=m"(status));
  return status;
}
void ClearX87Exceptions() { __asm__ volatile("fnclex"); }

// SetRelPosition called with its double as the eight bytes the host pushes,
// so that the host's own code never loads it.
typedef int (CStoreObj::*SetRelPositionWords)(RealWords, int);
SetRelPositionWords ExportedSetRelPosition() {
  void* const address = GetProcAddress(GetModuleHandleA("Tolvan32.dll"), "?SetRelPosition@CStoreObj@@QAEHNH@Z");
  SetRelPositionWords member = nullptr;
  if (Expect(address != nullptr, "SetRelPosition is exported")) memcpy(&member, &address, sizeof address);
  return member;
}

void RunRoad() {
  RecordModuleImports();
  Expect(!GetModuleHandleA("Tolvan33.dll"), "the engine library is not loaded before the first call");

  Storage<kDictionaryObjectSize> dictionaryStorage;
  CDataDictionary* const dictionary =
      ::new (dictionaryStorage.get()) CDataDictionary(kSysPath, kAdmPath, kUserPath, kFilePath);
  Expect(GetModuleHandleA("Tolvan33.dll") != nullptr, "the first call loaded the engine library");
  ExpectStep("dictionary constructed",
             Calls().Call(kDataDictionary_Construct, dictionary, kSysPath, kAdmPath, kUserPath, kFilePath).Done(),
             Trace()
                 .Call(dictionary, kDataDictionary_Construct, kSysPath, kAdmPath, kUserPath, kFilePath)
                 .ResultPointer(dictionary));
  void const* const dictionaryTable = FirstWordSeen(kDataDictionary_Construct, dictionary);
  Expect(InsideModule(dictionaryTable), "the module stored its own virtual table before the engine constructor");

  int const opened = dictionary->Open(kDictionaryPath);
  Expect(opened == 1, "Open returns the engine's result (got %d)", opened);
  ExpectStep("dictionary opened", Calls().Call(kDataDictionary_Open, dictionary, kDictionaryPath).Returns(1),
             Trace().Call(dictionary, kDataDictionary_Open, kDictionaryPath).ResultInt(1));

  CTable* const table = dictionary->GetTable("KUNDEN");
  Expect(table != nullptr, "GetTable returns the engine's table");
  ExpectStep("table got", Calls().Call(kDataDictionary_GetTable_ByName, dictionary, "KUNDEN").Returns(table),
             Trace().Call(dictionary, kDataDictionary_GetTable_ByName, "KUNDEN").ResultPointer(table));

  // Exclusive use asked for, shared use given: the module closes the table
  // through its own CloseAccess and reopens it straight in the engine.
  int const access = table->OpenAccess(kShareModeExclusive, kSafetyNormal);
  Expect(access == 1, "OpenAccess returns the reopen's result (got %d)", access);
  ExpectStep("table opened, forced to shared",
             Calls()
                 .Call(kTable_OpenAccess, table, 2, 1)
                 .Returns(1)
                 .Call(kTable_CloseAccess, table, 1)
                 .Returns(1)
                 .Call(kTable_OpenAccess, table, 1, 1)
                 .Returns(1),
             Trace()
                 .Call(table, kTable_OpenAccess, 2, 1)
                 .Call(table, kTable_CloseAccess, 1)
                 .TableResult(1, 2)
                 .TableResult(1, 3));

  CIndex* const index = table->GetIndex("KUNDEN_NR");
  ExpectStep("index got", Calls().Call(kTable_GetIndex_ByName, table, "KUNDEN_NR").Returns(index),
             Trace().Call(table, kTable_GetIndex_ByName, "KUNDEN_NR").TablePointerResult(index, 4));

  Storage<kStoreObjectSize> storeStorage;
  CStoreObj* const store = ::new (storeStorage.get()) CStoreObj(table, index);
  ExpectStep("store object constructed", Calls().Call(kStoreObj_Construct, store, table, index).Done(),
             Trace().Call(store, kStoreObj_Construct, table, index).ResultPointer(store));

  int const moved = store->Goto(static_cast<NavCtrl>(1), 5);
  Expect(moved == 1, "Goto returns the engine's result (got %d)", moved);
  ExpectStep("store object moved", Calls().Call(kStoreObj_Goto_ByNavigation, store, 1, 5).Returns(1),
             Trace().Call(store, kStoreObj_Goto_ByNavigation, 1, 5).StoreResult(1, 2, 5, 0));

  long number = 0;
  store->FX_Long("NUMMER", number, 0);
  Expect(number == -123456, "FX_Long leaves the engine's value in the host's variable (got %ld)", number);
  ExpectStep("field read into a long", Calls().Call(kStoreObj_FX_Long_ByName, store, "NUMMER", &number, 0L, 0).Done(),
             Trace().Call(store, kStoreObj_FX_Long_ByName, "NUMMER", -123456L, 0));

  char name[16] = "alt";
  store->FX_String("NAME", name, static_cast<long>(sizeof name), 0);
  Expect(strcmp(name, "engine buf") == 0, "FX_String fills the host's buffer (got [%s])", name);
  ExpectStep("field read into a buffer",
             Calls()
                 .Call(kStoreObj_FX_StringBuffer_ByName, store, "NAME", static_cast<void const*>(name), 16L, 0)
                 .Done(),
             Trace().Call(store, kStoreObj_FX_StringBuffer_ByName, "NAME", "engine buf", 16L, 0));

  int count = 3;
  store->FX_Int("ANZAHL", count, 1);
  ExpectStep("field written from an int", Calls().Call(kStoreObj_FX_Int_ByName, store, "ANZAHL", &count, 3, 1).Done(),
             Trace().Call(store, kStoreObj_FX_Int_ByName, "ANZAHL", 3, 1));

  int const updated = store->Update();
  Expect(updated == 1, "Update returns the engine's result (got %d)", updated);
  ExpectStep("record updated", Calls().Call(kStoreObj_Update, store).Returns(1),
             Trace().Call(store, kStoreObj_Update).StoreResult(1, 6, 5, 0));

  // The table is shared: Pack closes it, takes it exclusively, packs, and
  // gives the shared mode back.
  int const packed = table->Pack();
  Expect(packed == 1, "Pack returns the engine's result (got %d)", packed);
  ExpectStep("table packed with exclusive use",
             Calls()
                 .Call(kTable_CloseAccess, table, 2)
                 .Returns(1)
                 .Call(kTable_OpenAccess, table, 2, 1)
                 .Returns(1)
                 .Call(kTable_Pack, table)
                 .Returns(1)
                 .Call(kTable_CloseAccess, table, 1)
                 .Returns(1)
                 .Call(kTable_OpenAccess, table, 1, 1)
                 .Returns(1),
             Trace()
                 .Call(table, kTable_Pack)
                 .Call(table, kTable_CloseAccess, 2)
                 .TableResult(1, 5)
                 .Call(table, kTable_OpenAccess, 2, 1)
                 .TableResult(1, 6)
                 .Call(table, kTable_CloseAccess, 1)
                 .TableResult(1, 8)
                 .Call(table, kTable_OpenAccess, 1, 1)
                 .TableResult(1, 9)
                 .TableResult(1, 9));

  store->CStoreObj::~CStoreObj();
  ExpectStep("store object destroyed", Calls().Call(kStoreObj_Destroy, store).Done(),
             Trace().Call(store, kStoreObj_Destroy));
  void const* const storeTable = FirstWordSeen(kStoreObj_Construct, store);
  Expect(InsideModule(storeTable) && FirstWordSeen(kStoreObj_Destroy, store) == storeTable,
         "the module stored its store virtual table before the engine constructor and destructor");

  int const closed = table->CloseAccess(kSafetyNormal);
  Expect(closed == 1, "CloseAccess returns the engine's result (got %d)", closed);
  ExpectStep("table closed", Calls().Call(kTable_CloseAccess, table, 1).Returns(1),
             Trace().Call(table, kTable_CloseAccess, 1).TableResult(1, 10));

  dictionary->Close();
  dictionary->CDataDictionary::~CDataDictionary();
  ExpectStep("dictionary closed and destroyed",
             Calls().Call(kDataDictionary_Close, dictionary).Done().Call(kDataDictionary_Destroy, dictionary).Done(),
             Trace().Call(dictionary, kDataDictionary_Close).Call(dictionary, kDataDictionary_Destroy));
  Expect(FirstWordSeen(kDataDictionary_Destroy, dictionary) == dictionaryTable,
         "the module stored its dictionary virtual table before the engine destructor");
  Expect(MessageBoxCount() == 0, "no message box on the road (got %d)", MessageBoxCount());
}

}  // namespace

void TypicalRoad() { RunRoad(); }

// Tracing off: the engine sees exactly the host's calls and the policy's,
// no log file appears, and the value-types library is never called for the
// trace. Options are read once, at load: setting one later changes nothing.
void UntracedRoad() {
  SetEnvironmentVariableA("Tolvan32_Debug", "1");
  RunRoad();

  Storage<kDictionaryObjectSize> dictionaryStorage;
  CDataDictionary* const dictionary = ::new (dictionaryStorage.get()) CDataDictionary("S", "A", "U", "F");
  CTable* const table = dictionary->GetTable("T");
  Storage<kStoreObjectSize> storeStorage;
  CStoreObj* const store = ::new (storeStorage.get()) CStoreObj(table, nullptr);
  ForgetCalls();

  NumericValue numeric = {0.25};
  store->FX_CNumeric(1, numeric.get(), 1);
  store->FX_CNumeric("N", numeric.get(), 0);
  DateValue date = {730001};
  store->FX_Date(2, date.get(), 1);
  store->FX_Date("D", date.get(), 0);
  Expect(numeric.value == 1234567.0 && date.day == 730000, "the engine's values reach the host's variables");
  Expect(ValueTypes().getDouble == 0, "CNumeric::GetDouble is not called with tracing off (called %d times)",
         ValueTypes().getDouble);
  Expect(ValueTypes().dateToString == 0, "JDateToString is not called with tracing off (called %d times)",
         ValueTypes().dateToString);

  Engine().relativePosition = 0.30000000000000004;
  double const position = store->GetRelPosition();
  Expect(memcmp(&position, &Engine().relativePosition, sizeof position) == 0,
         "GetRelPosition returns the engine's double unchanged");
  ForgetCalls();

  // Operations of several signatures twice each: the first call resolves the
  // entry, the second leaves the module by its jump to the entry. Both must
  // bring the host's object and arguments to the engine and its result back
  // (and the stack back as the host expects it, or nothing after would run).
  Calls twice;
  Storage<16> recAddrStorage;
  CRecAddr& address = *reinterpret_cast<CRecAddr*>(recAddrStorage.get());
  SetRelPositionWords const setRelPosition = ExportedSetRelPosition();
  RealWords const signalling = {0x00000001u, 0x7ff00000u};
  for (int round = 0; round < 2; ++round) {
    // A signalling NaN: the engine receives its eight bytes, and the x87
    // status word is as it was (a load would have raised invalid-operation).
    if (!setRelPosition) break;
    ClearX87Exceptions();
    unsigned const statusBefore = X87Status();
    int const nanPlaced = (store->*setRelPosition)(signalling, round);
    unsigned const statusAfter = X87Status();
    Expect(nanPlaced == 1 && statusAfter == statusBefore,
           "round %d: SetRelPosition with a signalling NaN returns 1 (%d), x87 status %04x before, %04x after", round,
           nanPlaced, statusBefore, statusAfter);
    twice.Call(kStoreObj_SetRelPosition, store, signalling, round).Returns(1);
    QueueResult(kTable_IsOpen, 50 + round);
    QueueResult(kTable_IsRecLocked, 60 + round);
    QueueResult(kStoreObj_Goto_ByKey, 70 + round);
    QueueResult(kStoreObj_SetRelPosition, 80 + round);
    int const open = table->IsOpen();
    int const locked = table->IsRecLocked(address);
    int const found = store->Goto(static_cast<CKeyObj*>(nullptr), static_cast<CompCtl>(3), 7 + round);
    int const placed = store->SetRelPosition(0.5 + round, -round);
    Expect(open == 50 + round && locked == 60 + round && found == 70 + round && placed == 80 + round,
           "round %d: the engine's results reach the host (%d %d %d %d)", round, open, locked, found, placed);
    long value = 9;
    store->FX_Long(3, value, 0);
    Expect(value == -123456, "round %d: FX_Long leaves the engine's value in the host's variable", round);
    char const* const expectedPath = round ? "X:\\DATA\\3" : "X:\\DATA\\2";
    char const* const path = dictionary->GetFilePath(static_cast<TableType>(2 + round));
    Expect(path && strcmp(path, expectedPath) == 0, "round %d: GetFilePath returns the engine's text", round);
    double const again = store->GetRelPosition();
    Expect(memcmp(&again, &Engine().relativePosition, sizeof again) == 0,
           "round %d: GetRelPosition returns the engine's double unchanged", round);
    twice.Call(kTable_IsOpen, table)
        .Returns(50 + round)
        .Call(kTable_IsRecLocked, table, &address)
        .Returns(60 + round)
        .Call(kStoreObj_Goto_ByKey, store, static_cast<CKeyObj*>(nullptr), 3, 7 + round)
        .Returns(70 + round)
        .Call(kStoreObj_SetRelPosition, store, 0.5 + round, -round)
        .Returns(80 + round)
        .Call(kStoreObj_FX_Long_ByNumber, store, 3, &value, 9L, 0)
        .Done()
        .Call(kDataDictionary_GetFilePath, dictionary, 2 + round)
        .Returns(expectedPath)
        .Call(kStoreObj_GetRelPosition, store)
        .Returns(Engine().relativePosition);
  }
  ExpectCalls("the first and the second call of each operation", twice);
  ExpectNoLogFiles("tracing off");
}

}  // namespace e2e

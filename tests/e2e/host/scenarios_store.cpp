// Store objects, field exchange, keys, record addresses, indexes, the
// module's own virtual tables, and engine exceptions passing through.
//
// The stand-in engine counts every call on a store object in its first trace
// word; the second is the current record, the third the last lock control.
#include "tests/e2e/host/scenarios.h"

namespace e2e {

namespace {

struct Setting {
  Storage<kDictionaryObjectSize> dictionaryStorage;
  CDataDictionary* dictionary;
  CTable* table;
  CIndex* index;
};

// A dictionary, a table and an index, checked elsewhere: here only set up.
void SetUp(Setting& setting) {
  RecordModuleImports();
  setting.dictionary = ::new (setting.dictionaryStorage.get()) CDataDictionary("S", "A", "U", "F");
  setting.table = setting.dictionary->GetTable("T");
  setting.index = setting.table->GetIndex("IX");
  ForgetCalls();
  SkipTrace();
}

void Hex(char* text, void const* address) {
  _snprintf(text, 9, "%08x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(address)));
  text[8] = '\0';
}

}  // namespace

void StoreFamily() {
  Setting setting;
  SetUp(setting);
  CTable* const table = setting.table;
  CIndex* const index = setting.index;

  Storage<kStoreObjectSize> storeStorage;
  CStoreObj* const store = ::new (storeStorage.get()) CStoreObj(table, index);
  char storeHex[9], tableHex[9], indexHex[9];
  Hex(storeHex, store);
  Hex(tableHex, table);
  Hex(indexHex, index);
  Text plain;
  plain.Format(" %s CStoreObj::CStoreObj(class CTable *,class CIndex *)) %s %s \r\n                %s \r\n", storeHex,
               tableHex, indexHex, storeHex);
  ExpectStep("constructor, literal lines", Calls().Call(kStoreObj_Construct, store, table, index).Done(),
             Trace().Raw(" ........ CStoreObj::CStoreObj(class CTable *,class CIndex *)) ........ ........ \r\n"
                         "                ........ \r\n",
                         plain.c_str()));
  Expect(InsideModule(FirstWordSeen(kStoreObj_Construct, store)),
         "the engine constructor found the module's virtual table in the first word");

  Storage<kStoreObjectSize> bareStorage;
  CStoreObj* const bare = ::new (bareStorage.get()) CStoreObj(nullptr, nullptr);
  ExpectStep("constructor with null table and index",
             Calls().Call(kStoreObj_Construct, bare, static_cast<CTable*>(nullptr), static_cast<CIndex*>(nullptr)).Done(),
             Trace()
                 .Call(bare, kStoreObj_Construct, static_cast<CTable*>(nullptr), static_cast<CIndex*>(nullptr))
                 .ResultPointer(bare));

  Expect(store->CStoreObj::GetObjType() == kStoreType, "GetObjType returns the engine's type");
  ExpectStep("GetObjType shows the first word only", Calls().Call(kStoreObj_GetObjType, store).Returns(kStoreType),
             Trace().Call(store, kStoreObj_GetObjType).StoreResult(kStoreType, 2));

  Storage<kKeyObjectSize> keyStorage;
  CKeyObj* const key = ::new (keyStorage.get()) CKeyObj(index, 42, 0);
  ForgetCalls();
  SkipTrace();

  QueueResult(kStoreObj_Compare, -1);
  Expect(store->Compare(key, static_cast<CompCtl>(1)) == -1, "Compare returns the engine's result");
  Expect(store->Compare(nullptr, static_cast<CompCtl>(0)) == 0, "Compare with a null key returns the engine's result");
  Expect(store->Goto(key, static_cast<CompCtl>(2), 0) == 1, "Goto(key) returns the engine's result");
  Expect(store->Goto(static_cast<NavCtrl>(1), -2) == 1, "Goto(direction) returns the engine's result");
  Expect(store->Locking(static_cast<LockCtrl>(3)) == 1, "Locking returns the engine's result");
  ExpectStep("Compare, Goto, Locking: three words",
             Calls()
                 .Call(kStoreObj_Compare, store, key, 1)
                 .Returns(-1)
                 .Call(kStoreObj_Compare, store, static_cast<CKeyObj*>(nullptr), 0)
                 .Returns(0)
                 .Call(kStoreObj_Goto_ByKey, store, key, 2, 0)
                 .Returns(1)
                 .Call(kStoreObj_Goto_ByNavigation, store, 1, -2)
                 .Returns(1)
                 .Call(kStoreObj_Locking, store, 3)
                 .Returns(1),
             Trace()
                 .Call(store, kStoreObj_Compare, key, 1)
                 .StoreResult(-1, 3, 0, 0)
                 .Call(store, kStoreObj_Compare, static_cast<CKeyObj*>(nullptr), 0)
                 .StoreResult(0, 4, 0, 0)
                 .Call(store, kStoreObj_Goto_ByKey, key, 2, 0)
                 .StoreResult(1, 5, 42, 0)
                 .Call(store, kStoreObj_Goto_ByNavigation, 1, -2)
                 .StoreResult(1, 6, 40, 0)
                 .Call(store, kStoreObj_Locking, 3)
                 .StoreResult(1, 7, 40, 3));

  // GetRecAddr: the engine builds its record address in the module's working
  // storage; the copy constructor copies it into the host's; the working one
  // is destroyed. Five lines.
  Storage<kRecAddrObjectSize> addressStorage;
  CRecAddr* const address = ::new (addressStorage.get()) CRecAddr(store->GetRecAddr());
  void const* const working = Engine().builtRecAddr;
  Expect(working != nullptr && working != address, "the engine built the record address in other storage");
  ExpectStep("GetRecAddr",
             Calls()
                 .Call(kStoreObj_GetRecAddr, store)
                 .Returns(40L)
                 .Call(kRecAddr_Construct_Copy, address, working)
                 .Done()
                 .Call(kRecAddr_Destroy, working)
                 .Done(),
             Trace()
                 .Call(store, kStoreObj_GetRecAddr)
                 .Result()
                 .Pointer(working)
                 .FirstWord(8)
                 .End()
                 .Call(address, kRecAddr_Construct_Copy, working)
                 .ResultPointer(address)
                 .Call(working, kRecAddr_Destroy));
  void const* const recAddrTable = FirstWordSeen(kRecAddr_Construct_Copy, address);
  Expect(InsideModule(recAddrTable) && FirstWordSeen(kRecAddr_Destroy, working) == recAddrTable,
         "the module's record address table stood in the first word at the copy and at the destruction");
  Expect(address->GetLongVal() == 40, "the returned record address holds the engine's value");
  ForgetCalls();
  SkipTrace();

  Expect(store->Goto(*address, 1) == 1, "Goto(record address) returns the engine's result");
  Expect(store->New() == 1, "New returns the engine's result");
  Expect(store->ReRead() == 1, "ReRead returns the engine's result");
  QueueResult(kStoreObj_Update, 0);
  Expect(store->Update() == 0, "Update returns the engine's result");
  Expect(store->Delete() == 1, "Delete returns the engine's result");
  ExpectStep("Goto(record address), New, ReRead, Update, Delete",
             Calls()
                 .Call(kStoreObj_Goto_ByRecAddr, store, address, 1)
                 .Returns(1)
                 .Call(kStoreObj_New, store)
                 .Returns(1)
                 .Call(kStoreObj_ReRead, store)
                 .Returns(1)
                 .Call(kStoreObj_Update, store)
                 .Returns(0)
                 .Call(kStoreObj_Delete, store)
                 .Returns(1),
             Trace()
                 .Call(store, kStoreObj_Goto_ByRecAddr, address, 1)
                 .StoreResult(1, 9, 40, 3)
                 .Call(store, kStoreObj_New)
                 .StoreResult(1, 10, 900, 3)
                 .Call(store, kStoreObj_ReRead)
                 .StoreResult(1, 11, 900, 3)
                 .Call(store, kStoreObj_Update)
                 .StoreResult(0, 12, 900, 3)
                 .Call(store, kStoreObj_Delete)
                 .StoreResult(1, 13, 0, 3));

  store->SetOrderIndex(index);
  store->SetOrderIndex(nullptr);
  ExpectStep("SetOrderIndex: call lines only",
             Calls()
                 .Call(kStoreObj_SetOrderIndex, store, index)
                 .Done()
                 .Call(kStoreObj_SetOrderIndex, store, static_cast<CIndex*>(nullptr))
                 .Done(),
             Trace()
                 .Call(store, kStoreObj_SetOrderIndex, index)
                 .Call(store, kStoreObj_SetOrderIndex, static_cast<CIndex*>(nullptr)));

  // Positions: real items in the "%g" form with three exponent digits; the
  // engine receives the very double.
  Expect(store->SetRelPosition(0.5, 1) == 1, "SetRelPosition returns the engine's result");
  Expect(store->SetRelPosition(0.00001, 0) == 1, "SetRelPosition returns the engine's result");
  Expect(store->SetRelPosition(1234567.0, -3) == 1, "SetRelPosition returns the engine's result");
  ExpectStep("SetRelPosition",
             Calls()
                 .Call(kStoreObj_SetRelPosition, store, 0.5, 1)
                 .Returns(1)
                 .Call(kStoreObj_SetRelPosition, store, 0.00001, 0)
                 .Returns(1)
                 .Call(kStoreObj_SetRelPosition, store, 1234567.0, -3)
                 .Returns(1),
             Trace()
                 .Call(store, kStoreObj_SetRelPosition, Real{"0.5"}, 1)
                 .StoreResult(1, 16)
                 .Call(store, kStoreObj_SetRelPosition, Real{"1e-005"}, 0)
                 .StoreResult(1, 17)
                 .Call(store, kStoreObj_SetRelPosition, Real{"1.23457e+006"}, -3)
                 .StoreResult(1, 18));

  Expect(store->SetSourceTable(table) == 1, "SetSourceTable returns the engine's result");
  QueueResult(kStoreObj_SetSourceTable, 0);
  Expect(store->SetSourceTable(nullptr) == 0, "SetSourceTable returns the engine's result");
  ExpectStep("SetSourceTable",
             Calls()
                 .Call(kStoreObj_SetSourceTable, store, table)
                 .Returns(1)
                 .Call(kStoreObj_SetSourceTable, store, static_cast<CTable*>(nullptr))
                 .Returns(0),
             Trace()
                 .Call(store, kStoreObj_SetSourceTable, table)
                 .StoreResult(1, 19)
                 .Call(store, kStoreObj_SetSourceTable, static_cast<CTable*>(nullptr))
                 .StoreResult(0, 20));

  // GetRelPosition: the double reaches the host unchanged; the result line
  // holds the first word only.
  Engine().relativePosition = 0.1 + 0.2;
  double const position = store->GetRelPosition();
  Expect(memcmp(&position, &Engine().relativePosition, sizeof position) == 0,
         "GetRelPosition returns the engine's double unchanged");
  ExpectStep("GetRelPosition", Calls().Call(kStoreObj_GetRelPosition, store).Returns(0.1 + 0.2),
             Trace().Call(store, kStoreObj_GetRelPosition).Raw("                ( 21 ) \r\n",
                                                                "                ( 21 ) \r\n"));

  address->CRecAddr::~CRecAddr();
  key->CKeyObj::~CKeyObj();
  ForgetCalls();
  SkipTrace();
  store->CStoreObj::~CStoreObj();
  bare->CStoreObj::~CStoreObj();
  ExpectStep("destructors: call lines only",
             Calls().Call(kStoreObj_Destroy, store).Done().Call(kStoreObj_Destroy, bare).Done(),
             Trace().Call(store, kStoreObj_Destroy).Call(bare, kStoreObj_Destroy));
}

// Runs traced and untraced; with tracing off the value-types library is not
// called and no log file appears.
void FieldExchange() {
  Setting setting;
  SetUp(setting);
  bool const traced = Options().traceLevel != 0;
  Storage<kStoreObjectSize> storeStorage;
  CStoreObj* const store = ::new (storeStorage.get()) CStoreObj(setting.table, setting.index);
  CField* const field = setting.table->GetField(1);
  ForgetCalls();
  SkipTrace();
  CField* const noField = nullptr;
  char const* const noName = nullptr;

  // Direction nonzero: the value is read before the engine call; zero: after.
  // The engine writes its own value whatever the direction.
  char c = 'h';
  store->FX_Char(1, c, 1);
  Expect(c == 'e', "FX_Char leaves the engine's value");
  c = 'x';
  store->FX_Char(field, c, 0);
  c = '\0';
  store->FX_Char("NAME", c, 2);
  ExpectStep("FX_Char",
             Calls()
                 .Call(kStoreObj_FX_Char_ByNumber, store, 1, &c, static_cast<int>('h'), 1)
                 .Done()
                 .Call(kStoreObj_FX_Char_ByField, store, field, &c, static_cast<int>('x'), 0)
                 .Done()
                 .Call(kStoreObj_FX_Char_ByName, store, "NAME", &c, 0, 2)
                 .Done(),
             Trace()
                 .Call(store, kStoreObj_FX_Char_ByNumber, 1, "h", 1)
                 .Call(store, kStoreObj_FX_Char_ByField, field, "e", 0)
                 .Call(store, kStoreObj_FX_Char_ByName, "NAME", "EMPTY", 2));

  int i = -9;
  store->FX_Int(2, i, 0);
  Expect(i == 4711, "FX_Int leaves the engine's value (got %d)", i);
  i = 5;
  store->FX_Int(field, i, 1);
  i = 6;
  store->FX_Int(noName, i, -1);
  i = 7;
  store->FX_Int("", i, 1);
  ExpectStep("FX_Int, with a null and an empty field name",
             Calls()
                 .Call(kStoreObj_FX_Int_ByNumber, store, 2, &i, -9, 0)
                 .Done()
                 .Call(kStoreObj_FX_Int_ByField, store, field, &i, 5, 1)
                 .Done()
                 .Call(kStoreObj_FX_Int_ByName, store, noName, &i, 6, -1)
                 .Done()
                 .Call(kStoreObj_FX_Int_ByName, store, "", &i, 7, 1)
                 .Done(),
             Trace()
                 .Call(store, kStoreObj_FX_Int_ByNumber, 2, 4711, 0)
                 .Call(store, kStoreObj_FX_Int_ByField, field, 5, 1)
                 .Call(store, kStoreObj_FX_Int_ByName, "NULL", 6, -1)
                 .Call(store, kStoreObj_FX_Int_ByName, "EMPTY", 7, 1));

  long l = 1;
  store->FX_Long(3, l, 1);
  store->FX_Long(field, l, 0);
  l = -5;
  store->FX_Long("L", l, 1);
  ExpectStep("FX_Long",
             Calls()
                 .Call(kStoreObj_FX_Long_ByNumber, store, 3, &l, 1L, 1)
                 .Done()
                 .Call(kStoreObj_FX_Long_ByField, store, field, &l, -123456L, 0)
                 .Done()
                 .Call(kStoreObj_FX_Long_ByName, store, "L", &l, -5L, 1)
                 .Done(),
             Trace()
                 .Call(store, kStoreObj_FX_Long_ByNumber, 3, 1L, 1)
                 .Call(store, kStoreObj_FX_Long_ByField, field, -123456L, 0)
                 .Call(store, kStoreObj_FX_Long_ByName, "L", -5L, 1));

  double d = 0.1;
  store->FX_Double(4, d, 1);
  store->FX_Double(field, d, 0);
  Expect(d == 2.5, "FX_Double leaves the engine's value");
  d = 100.0;
  store->FX_Double("D", d, 1);
  ExpectStep("FX_Double",
             Calls()
                 .Call(kStoreObj_FX_Double_ByNumber, store, 4, &d, 0.1, 1)
                 .Done()
                 .Call(kStoreObj_FX_Double_ByField, store, field, &d, 2.5, 0)
                 .Done()
                 .Call(kStoreObj_FX_Double_ByName, store, "D", &d, 100.0, 1)
                 .Done(),
             Trace()
                 .Call(store, kStoreObj_FX_Double_ByNumber, 4, Real{"0.1"}, 1)
                 .Call(store, kStoreObj_FX_Double_ByField, field, Real{"2.5"}, 0)
                 .Call(store, kStoreObj_FX_Double_ByName, "D", Real{"100"}, 1));

  long double ld = 0.0001L;
  store->FX_LongDouble(5, ld, 1);
  store->FX_LongDouble(field, ld, 0);
  Expect(ld == 0.00001L, "FX_LongDouble leaves the engine's value");
  ld = 123456.7L;
  store->FX_LongDouble("LD", ld, 1);
  ExpectStep("FX_LongDouble",
             Calls()
                 .Call(kStoreObj_FX_LongDouble_ByNumber, store, 5, &ld, 0.0001, 1)
                 .Done()
                 .Call(kStoreObj_FX_LongDouble_ByField, store, field, &ld, 0.00001, 0)
                 .Done()
                 .Call(kStoreObj_FX_LongDouble_ByName, store, "LD", &ld, 123456.7, 1)
                 .Done(),
             Trace()
                 .Call(store, kStoreObj_FX_LongDouble_ByNumber, 5, Real{"0.0001"}, 1)
                 .Call(store, kStoreObj_FX_LongDouble_ByField, field, Real{"1e-005"}, 0)
                 .Call(store, kStoreObj_FX_LongDouble_ByName, "LD", Real{"123457"}, 1));

  // CNumeric values come from CNumeric::GetDouble, called only for the trace.
  int const getDoubleBefore = ValueTypes().getDouble;
  NumericValue numeric = {0.25};
  store->FX_CNumeric(6, numeric.get(), 1);
  store->FX_CNumeric(field, numeric.get(), 0);
  Expect(numeric.value == 1234567.0, "FX_CNumeric leaves the engine's value");
  numeric.value = 0.0;
  store->FX_CNumeric("N", numeric.get(), 2);
  Expect(ValueTypes().getDouble - getDoubleBefore == (traced ? 3 : 0), "CNumeric::GetDouble called %d times",
         ValueTypes().getDouble - getDoubleBefore);
  ExpectStep("FX_CNumeric",
             Calls()
                 .Call(kStoreObj_FX_CNumeric_ByNumber, store, 6, &numeric, 0.25, 1)
                 .Done()
                 .Call(kStoreObj_FX_CNumeric_ByField, store, field, &numeric, 1234567.0, 0)
                 .Done()
                 .Call(kStoreObj_FX_CNumeric_ByName, store, "N", &numeric, 0.0, 2)
                 .Done(),
             Trace()
                 .Call(store, kStoreObj_FX_CNumeric_ByNumber, 6, Real{"0.25"}, 1)
                 .Call(store, kStoreObj_FX_CNumeric_ByField, field, Real{"1.23457e+006"}, 0)
                 .Call(store, kStoreObj_FX_CNumeric_ByName, "N", Real{"0"}, 2));

  // Dates: 0 is empty, 1 is written by the module, others by JDateToString.
  int const dateToStringBefore = ValueTypes().dateToString;
  DateValue date = {0};
  store->FX_Date(7, date.get(), 1);
  date.day = 1;
  store->FX_Date(field, date.get(), 1);
  date.day = 42;
  store->FX_Date("D", date.get(), 1);
  store->FX_Date("D", date.get(), 0);
  Expect(date.day == 730000, "FX_Date leaves the engine's value");
  Expect(ValueTypes().dateToString - dateToStringBefore == (traced ? 2 : 0), "JDateToString called %d times",
         ValueTypes().dateToString - dateToStringBefore);
  ExpectStep("FX_Date",
             Calls()
                 .Call(kStoreObj_FX_Date_ByNumber, store, 7, &date, 0, 1)
                 .Done()
                 .Call(kStoreObj_FX_Date_ByField, store, field, &date, 1, 1)
                 .Done()
                 .Call(kStoreObj_FX_Date_ByName, store, "D", &date, 42, 1)
                 .Done()
                 .Call(kStoreObj_FX_Date_ByName, store, "D", &date, 730000, 0)
                 .Done(),
             Trace()
                 .Call(store, kStoreObj_FX_Date_ByNumber, 7, "EMPTY", 1)
                 .Call(store, kStoreObj_FX_Date_ByField, field, "00010101", 1)
                 .Call(store, kStoreObj_FX_Date_ByName, "D", "D42", 1)
                 .Call(store, kStoreObj_FX_Date_ByName, "D", "D730000", 0));

  Engine().exchange.day = 1;
  store->FX_Date("DAY", date.get(), 0);
  char storeHex[9];
  Hex(storeHex, store);
  Text plain;
  plain.Format(" %s CStoreObj::FX_Date(char const *,class CDate &,int) DAY 00010101 0 \r\n", storeHex);
  ExpectStep("FX_Date, literal line",
             Calls().Call(kStoreObj_FX_Date_ByName, store, "DAY", &date, 730000, 0).Done(),
             Trace().Raw(" ........ CStoreObj::FX_Date(char const *,class CDate &,int) DAY 00010101 0 \r\n",
                         plain.c_str()));

  StringValue text = {""};
  store->FX_String(8, text.get(), 1);
  store->FX_String(field, text.get(), 1);
  store->FX_String("S", text.get(), 0);
  Expect(text.text == Engine().exchange.text, "FX_String leaves the engine's text");
  ExpectStep("FX_String, CString",
             Calls()
                 .Call(kStoreObj_FX_String_ByNumber, store, 8, &text, "", 1)
                 .Done()
                 .Call(kStoreObj_FX_String_ByField, store, field, &text, "engine text", 1)
                 .Done()
                 .Call(kStoreObj_FX_String_ByName, store, "S", &text, "engine text", 0)
                 .Done(),
             Trace()
                 .Call(store, kStoreObj_FX_String_ByNumber, 8, "EMPTY", 1)
                 .Call(store, kStoreObj_FX_String_ByField, field, "engine text", 1)
                 .Call(store, kStoreObj_FX_String_ByName, "S", "engine text", 0));

  text.text = nullptr;
  store->FX_String(noField, text.get(), 1);
  ExpectStep("FX_String, a null text and a null field",
             Calls().Call(kStoreObj_FX_String_ByField, store, noField, &text, static_cast<char const*>(nullptr), 1).Done(),
             Trace().Call(store, kStoreObj_FX_String_ByField, noField, "NULL", 1));

  char buffer[16] = "abc";
  store->FX_String(9, buffer, 16, 1);
  char* const noBuffer = nullptr;
  store->FX_String(field, noBuffer, 8, 1);
  memcpy(buffer, "xyz", 4);
  store->FX_String("B", buffer, 16, 0);
  Expect(strcmp(buffer, "engine buf") == 0, "FX_String fills the host's buffer");
  ExpectStep("FX_String, buffers",
             Calls()
                 .Call(kStoreObj_FX_StringBuffer_ByNumber, store, 9, static_cast<void const*>(buffer), 16L, 1)
                 .Done()
                 .Call(kStoreObj_FX_StringBuffer_ByField, store, field, static_cast<void const*>(nullptr), 8L, 1)
                 .Done()
                 .Call(kStoreObj_FX_StringBuffer_ByName, store, "B", static_cast<void const*>(buffer), 16L, 0)
                 .Done(),
             Trace()
                 .Call(store, kStoreObj_FX_StringBuffer_ByNumber, 9, "abc", 16L, 1)
                 .Call(store, kStoreObj_FX_StringBuffer_ByField, field, "NULL", 8L, 1)
                 .Call(store, kStoreObj_FX_StringBuffer_ByName, "B", "engine buf", 16L, 0));

  CallFieldExchange(store, 3);
  ExpectStep("FieldExchange", Calls().Call(kStoreObj_FieldExchange, store, 3).Done(),
             Trace().Call(store, kStoreObj_FieldExchange, 3));
  if (!traced) ExpectNoLogFiles("tracing off");
}

void KeysRecordAddressesIndexes() {
  Setting setting;
  SetUp(setting);
  CIndex* const index = setting.index;

  Storage<kKeyObjectSize> keyStorage;
  CKeyObj* const key = ::new (keyStorage.get()) CKeyObj(index, 3, 4);
  Expect(key->CKeyObj::GetObjType() == kKeyType, "CKeyObj::GetObjType returns the engine's type");
  key->SetKeyLength(5, -6);
  key->CKeyObj::~CKeyObj();
  ExpectStep("CKeyObj",
             Calls()
                 .Call(kKeyObj_Construct, key, index, 3, 4)
                 .Done()
                 .Call(kKeyObj_GetObjType, key)
                 .Returns(kKeyType)
                 .Call(kKeyObj_SetKeyLength, key, 5, -6)
                 .Done()
                 .Call(kKeyObj_Destroy, key)
                 .Done(),
             Trace()
                 .Call(key, kKeyObj_Construct, index, 3, 4)
                 .ResultPointer(key)
                 .Call(key, kKeyObj_GetObjType)
                 .ResultInt(kKeyType)
                 .Call(key, kKeyObj_SetKeyLength, 5, -6)
                 .Call(key, kKeyObj_Destroy));
  void const* const keyTable = FirstWordSeen(kKeyObj_Construct, key);
  Expect(InsideModule(keyTable) && FirstWordSeen(kKeyObj_Destroy, key) == keyTable,
         "the module's key table stood in the first word at construction and destruction");

  Storage<kRecAddrObjectSize> firstStorage, copyStorage, fromPointerStorage;
  CRecAddr const* const noSource = nullptr;
  CRecAddr* const first = ::new (firstStorage.get()) CRecAddr(noSource);
  first->SetLongVal(-42);
  CRecAddr* const copy = ::new (copyStorage.get()) CRecAddr(*first);
  long const value = copy->GetLongVal();
  int const same = (*first == *copy);
  CRecAddr* const fromPointer = ::new (fromPointerStorage.get()) CRecAddr(first);
  fromPointer->SetLongVal(7);
  int const different = (*first == *fromPointer);
  Expect(value == -42 && same == 1 && different == 0, "record addresses keep and compare the engine's values");
  Expect(first->CRecAddr::GetObjType() == kRecAddrType, "CRecAddr::GetObjType returns the engine's type");
  ExpectStep("CRecAddr",
             Calls()
                 .Call(kRecAddr_Construct_FromPointer, first, noSource)
                 .Done()
                 .Call(kRecAddr_SetLongVal, first, -42L)
                 .Done()
                 .Call(kRecAddr_Construct_Copy, copy, first)
                 .Done()
                 .Call(kRecAddr_GetLongVal, copy)
                 .Returns(-42L)
                 .Call(kRecAddr_Equals, first, copy)
                 .Returns(1)
                 .Call(kRecAddr_Construct_FromPointer, fromPointer, first)
                 .Done()
                 .Call(kRecAddr_SetLongVal, fromPointer, 7L)
                 .Done()
                 .Call(kRecAddr_Equals, first, fromPointer)
                 .Returns(0)
                 .Call(kRecAddr_GetObjType, first)
                 .Returns(kRecAddrType),
             Trace()
                 .Call(first, kRecAddr_Construct_FromPointer, noSource)
                 .ResultPointer(first)
                 .Call(first, kRecAddr_SetLongVal, -42L)
                 .Call(copy, kRecAddr_Construct_Copy, first)
                 .ResultPointer(copy)
                 .Call(copy, kRecAddr_GetLongVal)
                 .ResultInt(-42)
                 .Call(first, kRecAddr_Equals, copy)
                 .ResultInt(1)
                 .Call(fromPointer, kRecAddr_Construct_FromPointer, first)
                 .ResultPointer(fromPointer)
                 .Call(fromPointer, kRecAddr_SetLongVal, 7L)
                 .Call(first, kRecAddr_Equals, fromPointer)
                 .ResultInt(0)
                 .Call(first, kRecAddr_GetObjType)
                 .ResultInt(kRecAddrType));
  first->CRecAddr::~CRecAddr();
  copy->CRecAddr::~CRecAddr();
  fromPointer->CRecAddr::~CRecAddr();
  ExpectStep("CRecAddr destructors",
             Calls()
                 .Call(kRecAddr_Destroy, first)
                 .Done()
                 .Call(kRecAddr_Destroy, copy)
                 .Done()
                 .Call(kRecAddr_Destroy, fromPointer)
                 .Done(),
             Trace().Call(first, kRecAddr_Destroy).Call(copy, kRecAddr_Destroy).Call(fromPointer, kRecAddr_Destroy));

  Expect(index->CIndex::GetObjType() == kIndexType, "CIndex::GetObjType returns the engine's type");
  CField* const field = index->GetField(2);
  QueuePointer(kIndex_GetField, nullptr);
  CField* const noField = index->GetField(3);
  Expect(field != nullptr && noField == nullptr, "CIndex::GetField returns the engine's fields, null included");
  ExpectStep("CIndex",
             Calls()
                 .Call(kIndex_GetObjType, index)
                 .Returns(kIndexType)
                 .Call(kIndex_GetField, index, 2)
                 .Returns(field)
                 .Call(kIndex_GetField, index, 3)
                 .Returns(noField),
             Trace()
                 .Call(index, kIndex_GetObjType)
                 .ResultInt(kIndexType)
                 .Call(index, kIndex_GetField, 2)
                 .ResultPointer(field)
                 .Call(index, kIndex_GetField, 3)
                 .ResultPointer(noField));

  Storage<kStaticObjectSize> staticStorage;
  CDataBaseStaticObj* const statics = reinterpret_cast<CDataBaseStaticObj*>(staticStorage.get());
  char const* const description = statics->GetDescription();
  QueuePointer(kDataBaseStaticObj_GetDescription, nullptr);
  char const* const none = statics->GetDescription();
  static char const kEmpty[] = "";
  QueuePointer(kDataBaseStaticObj_GetDescription, kEmpty);
  char const* const empty = statics->GetDescription();
  Expect(description == Engine().description && none == nullptr && empty == kEmpty,
         "GetDescription returns the engine's pointers unchanged");
  ExpectStep("CDataBaseStaticObj",
             Calls()
                 .Call(kDataBaseStaticObj_GetDescription, statics)
                 .Returns("Stand-in engine")
                 .Call(kDataBaseStaticObj_GetDescription, statics)
                 .Returns(none)
                 .Call(kDataBaseStaticObj_GetDescription, statics)
                 .Returns(""),
             Trace()
                 .Call(statics, kDataBaseStaticObj_GetDescription)
                 .ResultText("Stand-in engine")
                 .Call(statics, kDataBaseStaticObj_GetDescription)
                 .ResultText("NULL")
                 .Call(statics, kDataBaseStaticObj_GetDescription)
                 .ResultText("EMPTY"));
}

namespace {

typedef void*(__thiscall* DeletingDestructor)(void* self, unsigned flags);
typedef int(__thiscall* ObjectTypeSlot)(void const* self);
typedef void(__thiscall* ExchangeSlot)(void* self, int direction);
typedef void(__thiscall* ReservedSlot)(void* self);

// Builds an object through the module in memory from the runtime's heap, and
// returns the virtual table the module stored in it first.
template <class Construct>
void* const* Build(void*& object, size_t size, OperationId constructor, Construct construct) {
  object = ::operator new(size);
  construct(object);
  return static_cast<void* const*>(FirstWordSeen(constructor, object));
}

// The deleting destructor (first slot) with flag 0 and 1: the destructor
// facade runs either way; only flag 1 frees the memory.
void ExpectDeletingDestructor(char const* what, void* const* table, void* kept, void* freed, OperationId destructor) {
  DeletingDestructor const destroy = reinterpret_cast<DeletingDestructor>(table[0]);
  Expect(destroy(kept, 0) == kept, "%s: the deleting destructor returns the object (flag 0)", what);
  Expect(destroy(freed, 1) == freed, "%s: the deleting destructor returns the object (flag 1)", what);
  Expect(DeletedCount(kept) == 0, "%s: flag 0 leaves the memory alone", what);
  Expect(DeletedCount(freed) == 1, "%s: flag 1 frees the memory once (freed %d times)", what, DeletedCount(freed));
  Expect(FirstWordSeen(destructor, kept) == table && FirstWordSeen(destructor, freed) == table,
         "%s: the module's table stood in the first word at destruction", what);
  ExpectStep(what, Calls().Call(destructor, kept).Done().Call(destructor, freed).Done(),
             Trace().Call(kept, destructor).Call(freed, destructor));
  ::operator delete(kept);
}

}  // namespace

// The module's own virtual tables: the engine's constructor finds them in
// the first word; the host calls their slots as the engine's code would.
void VirtualTables() {
  Setting setting;
  SetUp(setting);
  CTable* const table = setting.table;
  CIndex* const index = setting.index;

  void *dictionary, *otherDictionary;
  auto const buildDictionary = [](void* at) { ::new (at) CDataDictionary("S", "A", "U", "F"); };
  void* const* const dictionaryTable =
      Build(dictionary, kDictionaryObjectSize, kDataDictionary_Construct, buildDictionary);
  Build(otherDictionary, kDictionaryObjectSize, kDataDictionary_Construct, buildDictionary);
  void *key, *otherKey;
  auto const buildKey = [index](void* at) { ::new (at) CKeyObj(index, 1, 2); };
  void* const* const keyTable = Build(key, kKeyObjectSize, kKeyObj_Construct, buildKey);
  Build(otherKey, kKeyObjectSize, kKeyObj_Construct, buildKey);
  void *address, *otherAddress;
  auto const buildAddress = [](void* at) { ::new (at) CRecAddr(static_cast<CRecAddr const*>(nullptr)); };
  void* const* const addressTable = Build(address, kRecAddrObjectSize, kRecAddr_Construct_FromPointer, buildAddress);
  Build(otherAddress, kRecAddrObjectSize, kRecAddr_Construct_FromPointer, buildAddress);
  void *store, *otherStore;
  auto const buildStore = [table, index](void* at) { ::new (at) CStoreObj(table, index); };
  void* const* const storeTable = Build(store, kStoreObjectSize, kStoreObj_Construct, buildStore);
  Build(otherStore, kStoreObjectSize, kStoreObj_Construct, buildStore);
  ForgetCalls();
  SkipTrace();

  void* const* const tables[] = {dictionaryTable, keyTable, addressTable, storeTable};
  for (int i = 0; i < 4; ++i) {
    Expect(InsideModule(tables[i]), "virtual table %d is the module's own", i);
    for (int j = 0; j < i; ++j) Expect(tables[i] != tables[j], "virtual tables %d and %d differ", j, i);
  }
  Expect(FirstWordSeen(kDataDictionary_Construct, otherDictionary) == dictionaryTable &&
             FirstWordSeen(kKeyObj_Construct, otherKey) == keyTable &&
             FirstWordSeen(kRecAddr_Construct_FromPointer, otherAddress) == addressTable &&
             FirstWordSeen(kStoreObj_Construct, otherStore) == storeTable,
         "every object of a class gets the same table");

  // Second slots: GetObjType through the module's facade.
  int const types[] = {reinterpret_cast<ObjectTypeSlot>(dictionaryTable[1])(dictionary),
                       reinterpret_cast<ObjectTypeSlot>(keyTable[1])(key),
                       reinterpret_cast<ObjectTypeSlot>(addressTable[1])(address),
                       reinterpret_cast<ObjectTypeSlot>(storeTable[1])(store)};
  Expect(types[0] == kDictionaryType && types[1] == kKeyType && types[2] == kRecAddrType && types[3] == kStoreType,
         "the second slots are GetObjType (%d %d %d %d)", types[0], types[1], types[2], types[3]);
  ExpectStep("second slots: GetObjType",
             Calls()
                 .Call(kDataDictionary_GetObjType, dictionary)
                 .Returns(kDictionaryType)
                 .Call(kKeyObj_GetObjType, key)
                 .Returns(kKeyType)
                 .Call(kRecAddr_GetObjType, address)
                 .Returns(kRecAddrType)
                 .Call(kStoreObj_GetObjType, store)
                 .Returns(kStoreType),
             Trace()
                 .Call(dictionary, kDataDictionary_GetObjType)
                 .ResultInt(kDictionaryType)
                 .Call(key, kKeyObj_GetObjType)
                 .ResultInt(kKeyType)
                 .Call(address, kRecAddr_GetObjType)
                 .ResultInt(kRecAddrType)
                 .Call(store, kStoreObj_GetObjType)
                 .StoreResult(kStoreType, 2));

  // Third slots: the store's FieldExchange; the key's does nothing at all.
  reinterpret_cast<ExchangeSlot>(storeTable[2])(store, 4);
  ExpectStep("the store table's third slot is FieldExchange", Calls().Call(kStoreObj_FieldExchange, store, 4).Done(),
             Trace().Call(store, kStoreObj_FieldExchange, 4));
  unsigned char keyBefore[kKeyObjectSize];
  memcpy(keyBefore, key, sizeof keyBefore);
  reinterpret_cast<ReservedSlot>(keyTable[2])(key);
  Expect(memcmp(keyBefore, key, sizeof keyBefore) == 0, "the key table's third slot leaves the object alone");
  ExpectStep("the key table's third slot does nothing", Calls(), Trace());

  ExpectDeletingDestructor("dictionary", dictionaryTable, dictionary, otherDictionary, kDataDictionary_Destroy);
  ExpectDeletingDestructor("key", keyTable, key, otherKey, kKeyObj_Destroy);
  ExpectDeletingDestructor("record address", addressTable, address, otherAddress, kRecAddr_Destroy);
  ExpectDeletingDestructor("store object", storeTable, store, otherStore, kStoreObj_Destroy);
}

// Only bit 0 of the deleting destructor's flag frees the memory; the other
// bits are ignored.
void DeletingDestructorFlagBits() {
  Setting setting;
  SetUp(setting);
  OperationId const constructor = kRecAddr_Construct_FromPointer;
  auto const buildAddress = [](void* at) { ::new (at) CRecAddr(static_cast<CRecAddr const*>(nullptr)); };
  void* kept = nullptr;
  void* freed = nullptr;
  void* const* const table = Build(kept, kRecAddrObjectSize, constructor, buildAddress);
  Build(freed, kRecAddrObjectSize, constructor, buildAddress);
  ForgetCalls();
  SkipTrace();
  DeletingDestructor const destroy = reinterpret_cast<DeletingDestructor>(table[0]);
  Expect(destroy(kept, 2) == kept && destroy(freed, 3) == freed, "the deleting destructor returns the object");
  Expect(DeletedCount(kept) == 0, "flag 2 leaves the memory alone (freed %d times)", DeletedCount(kept));
  Expect(DeletedCount(freed) == 1, "flag 3 frees the memory once (freed %d times)", DeletedCount(freed));
  ExpectStep("both destructor facades ran", Calls().Call(kRecAddr_Destroy, kept).Done().Call(kRecAddr_Destroy, freed).Done(),
             Trace().Call(kept, kRecAddr_Destroy).Call(freed, kRecAddr_Destroy));
  if (DeletedCount(kept) == 0) ::operator delete(kept);
}

// An exception thrown by the engine passes through the module to the host;
// GetRecAddr destroys the record address it holds on the way.
void EngineExceptions() {
  Setting setting;
  SetUp(setting);
  Storage<kStoreObjectSize> storeStorage;
  CStoreObj* const store = ::new (storeStorage.get()) CStoreObj(setting.table, setting.index);
  ForgetCalls();
  SkipTrace();
  int word = 1;

  // Thrown by the copy into the host's storage: the working record address
  // is destroyed.
  Storage<kRecAddrObjectSize> firstStorage;
  int thrownBy = -1;
  ThrowOnNextCall(kRecAddr_Construct_Copy);
  try {
    ::new (firstStorage.get()) CRecAddr(store->GetRecAddr());
  } catch (EngineFailure const& failure) {
    thrownBy = failure.operation;
  }
  Expect(thrownBy == kRecAddr_Construct_Copy, "the copy constructor's exception reaches the host (got %d)", thrownBy);
  void const* working = Engine().builtRecAddr;
  ExpectStep("exception from the copy constructor",
             Calls()
                 .Call(kStoreObj_GetRecAddr, store)
                 .Returns(0L)
                 .Call(kRecAddr_Construct_Copy, firstStorage.get(), working)
                 .Throws()
                 .Call(kRecAddr_Destroy, working)
                 .Done(),
             Trace()
                 .Call(store, kStoreObj_GetRecAddr)
                 .Result()
                 .Pointer(working)
                 .FirstWord(++word)
                 .End()
                 .Call(firstStorage.get(), kRecAddr_Construct_Copy, working)
                 .Call(working, kRecAddr_Destroy));

  // Thrown by the engine's GetRecAddr itself: nothing was built.
  Storage<kRecAddrObjectSize> thirdStorage;
  thrownBy = -1;
  ThrowOnNextCall(kStoreObj_GetRecAddr);
  try {
    ::new (thirdStorage.get()) CRecAddr(store->GetRecAddr());
  } catch (EngineFailure const& failure) {
    thrownBy = failure.operation;
  }
  ++word;
  Expect(thrownBy == kStoreObj_GetRecAddr, "GetRecAddr's exception reaches the host (got %d)", thrownBy);
  ExpectStep("exception from GetRecAddr", Calls().Call(kStoreObj_GetRecAddr, store).Throws(),
             Trace().Call(store, kStoreObj_GetRecAddr));

  // Any operation: the call record is written, the exception passes.
  thrownBy = -1;
  ThrowOnNextCall(kTable_IsOpen);
  try {
    setting.table->IsOpen();
  } catch (EngineFailure const& failure) {
    thrownBy = failure.operation;
  }
  Expect(thrownBy == kTable_IsOpen, "IsOpen's exception reaches the host (got %d)", thrownBy);
  ExpectStep("exception from a plain operation", Calls().Call(kTable_IsOpen, setting.table).Throws(),
             Trace().Call(setting.table, kTable_IsOpen));

  // The module works on afterwards.
  Expect(store->Update() == 1, "Update after the exceptions returns the engine's result");
  ExpectStep("after the exceptions", Calls().Call(kStoreObj_Update, store).Returns(1),
             Trace().Call(store, kStoreObj_Update).StoreResult(1, ++word, 0, 0));
}

// An exception from the destructor of the working record address, after the
// returned object was built in the host's storage: that object is destroyed
// on the exception's way to the host.
void ExceptionFromWorkingRecAddrDestructor() {
  Setting setting;
  SetUp(setting);
  Storage<kStoreObjectSize> storeStorage;
  CStoreObj* const store = ::new (storeStorage.get()) CStoreObj(setting.table, setting.index);
  ForgetCalls();
  SkipTrace();

  // Thrown by the working record address's destructor: the returned object
  // is destroyed.
  Storage<kRecAddrObjectSize> secondStorage;
  int thrownBy = -1;
  ThrowOnNextCall(kRecAddr_Destroy);
  try {
    ::new (secondStorage.get()) CRecAddr(store->GetRecAddr());
  } catch (EngineFailure const& failure) {
    thrownBy = failure.operation;
  }
  Expect(thrownBy == kRecAddr_Destroy, "the destructor's exception reaches the host (got %d)", thrownBy);
  void const* const working = Engine().builtRecAddr;
  ExpectStep("exception from the working record address's destructor",
             Calls()
                 .Call(kStoreObj_GetRecAddr, store)
                 .Returns(0L)
                 .Call(kRecAddr_Construct_Copy, secondStorage.get(), working)
                 .Done()
                 .Call(kRecAddr_Destroy, working)
                 .Throws()
                 .Call(kRecAddr_Destroy, secondStorage.get())
                 .Done(),
             Trace()
                 .Call(store, kStoreObj_GetRecAddr)
                 .Result()
                 .Pointer(working)
                 .FirstWord(2)
                 .End()
                 .Call(secondStorage.get(), kRecAddr_Construct_Copy, working)
                 .ResultPointer(secondStorage.get())
                 .Call(working, kRecAddr_Destroy)
                 .Call(secondStorage.get(), kRecAddr_Destroy));
}

}  // namespace e2e

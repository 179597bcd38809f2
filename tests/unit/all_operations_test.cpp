// Every exported operation reaches its own engine entry with the host's object
// and arguments, and its call record names it with its own signature text.
#include <algorithm>
#include <functional>
#include <set>

#include "facades/value_types.h"
#include "tests/support/test_fixture.h"

namespace tolvan {
namespace testing {
namespace {

struct Objects {
  DictionaryLayout dictionaryStorage{};
  TableLayout tableStorage{};
  StoreLayout storeStorage{};
  alignas(8) unsigned char keyStorage[64] = {};
  alignas(8) unsigned char recAddrStorage[64] = {};
  alignas(8) unsigned char otherRecAddrStorage[64] = {};
  alignas(8) unsigned char constructed[64] = {};
  CDataDictionary* dictionary = reinterpret_cast<CDataDictionary*>(&dictionaryStorage);
  CTable* table = reinterpret_cast<CTable*>(&tableStorage);
  CStoreObj* store = reinterpret_cast<CStoreObj*>(&storeStorage);
  CKeyObj* key = reinterpret_cast<CKeyObj*>(keyStorage);
  CRecAddr* recAddr = reinterpret_cast<CRecAddr*>(recAddrStorage);
  CRecAddr* otherRecAddr = reinterpret_cast<CRecAddr*>(otherRecAddrStorage);
  CIndex* index = reinterpret_cast<CIndex*>(0x1100);
  CField* field = reinterpret_cast<CField*>(0x2200);
  CDataBaseStaticObj* staticObj = reinterpret_cast<CDataBaseStaticObj*>(0x3300);
  Objects() {
    tableStorage.name = "ORDERS";
    tableStorage.dictionary = dictionary;
    tableStorage.shareMode = 1;  // shared: no policy step adds calls
    dictionaryStorage.sequenceSwitch = 1;
  }
};

struct Case {
  OperationId op;
  std::function<void(Objects&)> call;
  std::function<void const*(Objects&)> object;  // the object the engine must see
  std::string arguments;                        // as the stand-in engine renders them
};

std::string H(void const* p) { return Hex(p); }
std::string H(uintptr_t p) { return Hex(reinterpret_cast<void const*>(p)); }

std::vector<Case> AllCases(Objects& o) {
  auto dict = [](Objects& x) -> void const* { return x.dictionary; };
  auto table = [](Objects& x) -> void const* { return x.table; };
  auto store = [](Objects& x) -> void const* { return x.store; };
  auto key = [](Objects& x) -> void const* { return x.key; };
  auto rec = [](Objects& x) -> void const* { return x.recAddr; };
  auto built = [](Objects& x) -> void const* { return x.constructed; };
  static char c = 'c';
  static int i = 3;
  static long l = 4;
  static double d = 5.5;
  static long double ld = 6.5;
  static NumericObject numeric{7.5};
  static int32_t date = 1;
  static char const* text = "s";
  static char buffer[8] = "buf";
  CNumeric& n = *reinterpret_cast<CNumeric*>(&numeric);
  CDate& dt = *reinterpret_cast<CDate*>(&date);
  CString& st = *reinterpret_cast<CString*>(&text);
  std::string const V = [] { return std::string(); }();
  auto fx = [&](void const* variable, std::string selector, int direction) {
    return selector + "," + H(variable) + "," + std::to_string(direction);
  };
  std::string const F = H(o.field);
  return {
      {kDataDictionary_Construct, [](Objects& x) { new (x.constructed) CDataDictionary("a", "b", "c", "d"); }, built, "\"a\",\"b\",\"c\",\"d\""},
      {kKeyObj_Construct, [](Objects& x) { new (x.constructed) CKeyObj(x.index, 8, 9); }, built, H(o.index) + ",8,9"},
      {kRecAddr_Construct_Copy, [](Objects& x) { new (x.constructed) CRecAddr(*x.otherRecAddr); }, built, H(o.otherRecAddr)},
      {kRecAddr_Construct_FromPointer, [](Objects& x) { new (x.constructed) CRecAddr(static_cast<CRecAddr const*>(x.otherRecAddr)); }, built, H(o.otherRecAddr)},
      {kStoreObj_Construct, [](Objects& x) { new (x.constructed) CStoreObj(x.table, x.index); }, built, H(o.table) + "," + H(o.index)},
      {kDataDictionary_Destroy, [](Objects& x) { x.dictionary->CDataDictionary::~CDataDictionary(); }, dict, ""},
      {kKeyObj_Destroy, [](Objects& x) { x.key->CKeyObj::~CKeyObj(); }, key, ""},
      {kRecAddr_Destroy, [](Objects& x) { x.recAddr->CRecAddr::~CRecAddr(); }, rec, ""},
      {kStoreObj_Destroy, [](Objects& x) { x.store->CStoreObj::~CStoreObj(); }, store, ""},
      {kRecAddr_Equals, [](Objects& x) { (void)(*x.recAddr == *x.otherRecAddr); }, rec, H(o.otherRecAddr)},
      {kTable_AddField, [](Objects& x) { x.table->AddField("F1"); }, table, "\"F1\""},
      {kTable_AddIndex, [](Objects& x) { x.table->AddIndex("I1"); }, table, "\"I1\""},
      {kDataDictionary_AddTable, [](Objects& x) { x.dictionary->AddTable("T1"); }, dict, "\"T1\""},
      {kTable_BeginReadSequence, [](Objects& x) { x.table->BeginReadSequence(); }, table, ""},
      {kDataDictionary_BeginTransaction, [](Objects& x) { x.dictionary->BeginTransaction(); }, dict, ""},
      {kTable_Clear, [](Objects& x) { x.tableStorage.shareMode = 2; x.table->Clear(); }, table, ""},
      {kDataDictionary_Close, [](Objects& x) { x.dictionary->Close(); }, dict, ""},
      {kTable_CloseAccess, [](Objects& x) { x.table->CloseAccess(SafetyCtl(2)); }, table, "2"},
      {kStoreObj_Compare, [](Objects& x) { x.store->Compare(x.key, CompCtl(3)); }, store, H(o.key) + ",3"},
      {kStoreObj_Delete, [](Objects& x) { x.store->Delete(); }, store, ""},
      {kTable_DeleteField_ByNumber, [](Objects& x) { x.table->DeleteField(11); }, table, "11"},
      {kTable_DeleteField_ByField, [](Objects& x) { x.table->DeleteField(x.field); }, table, F},
      {kTable_DeleteField_ByName, [](Objects& x) { x.table->DeleteField("F2"); }, table, "\"F2\""},
      {kTable_DeleteIndex_ByNumber, [](Objects& x) { x.table->DeleteIndex(12); }, table, "12"},
      {kTable_DeleteIndex_ByObject, [](Objects& x) { x.table->DeleteIndex(x.index); }, table, H(o.index)},
      {kTable_DeleteIndex_ByName, [](Objects& x) { x.table->DeleteIndex("I2"); }, table, "\"I2\""},
      {kDataDictionary_DeleteTable_ByNumber, [](Objects& x) { x.dictionary->DeleteTable(13); }, dict, "13"},
      {kDataDictionary_DeleteTable_ByObject, [](Objects& x) { x.dictionary->DeleteTable(x.table); }, dict, H(o.table)},
      {kDataDictionary_DeleteTable_ByName, [](Objects& x) { x.dictionary->DeleteTable("T2"); }, dict, "\"T2\""},
      {kTable_EnableIndexing, [](Objects& x) { x.table->EnableIndexing(14); }, table, "14"},
      {kTable_EndReadSequence, [](Objects& x) { x.table->EndReadSequence(); }, table, ""},
      {kDataDictionary_EndTransaction, [](Objects& x) { x.dictionary->EndTransaction(TransactionCtl(15)); }, dict, "15"},
      {kStoreObj_FX_CNumeric_ByNumber, [&n](Objects& x) { x.store->FX_CNumeric(1, n, 1); }, store, fx(&numeric, "1", 1)},
      {kStoreObj_FX_CNumeric_ByField, [&n](Objects& x) { x.store->FX_CNumeric(x.field, n, 1); }, store, fx(&numeric, F, 1)},
      {kStoreObj_FX_CNumeric_ByName, [&n](Objects& x) { x.store->FX_CNumeric("N", n, 1); }, store, fx(&numeric, "\"N\"", 1)},
      {kStoreObj_FX_Char_ByNumber, [](Objects& x) { x.store->FX_Char(2, c, 1); }, store, fx(&c, "2", 1)},
      {kStoreObj_FX_Char_ByField, [](Objects& x) { x.store->FX_Char(x.field, c, 1); }, store, fx(&c, F, 1)},
      {kStoreObj_FX_Char_ByName, [](Objects& x) { x.store->FX_Char("C", c, 1); }, store, fx(&c, "\"C\"", 1)},
      {kStoreObj_FX_Date_ByNumber, [&dt](Objects& x) { x.store->FX_Date(3, dt, 1); }, store, fx(&date, "3", 1)},
      {kStoreObj_FX_Date_ByField, [&dt](Objects& x) { x.store->FX_Date(x.field, dt, 1); }, store, fx(&date, F, 1)},
      {kStoreObj_FX_Date_ByName, [&dt](Objects& x) { x.store->FX_Date("D", dt, 1); }, store, fx(&date, "\"D\"", 1)},
      {kStoreObj_FX_Double_ByNumber, [](Objects& x) { x.store->FX_Double(4, d, 1); }, store, fx(&d, "4", 1)},
      {kStoreObj_FX_Double_ByField, [](Objects& x) { x.store->FX_Double(x.field, d, 1); }, store, fx(&d, F, 1)},
      {kStoreObj_FX_Double_ByName, [](Objects& x) { x.store->FX_Double("E", d, 1); }, store, fx(&d, "\"E\"", 1)},
      {kStoreObj_FX_Int_ByNumber, [](Objects& x) { x.store->FX_Int(5, i, 1); }, store, fx(&i, "5", 1)},
      {kStoreObj_FX_Int_ByField, [](Objects& x) { x.store->FX_Int(x.field, i, 1); }, store, fx(&i, F, 1)},
      {kStoreObj_FX_Int_ByName, [](Objects& x) { x.store->FX_Int("I", i, 1); }, store, fx(&i, "\"I\"", 1)},
      {kStoreObj_FX_Long_ByNumber, [](Objects& x) { x.store->FX_Long(6, l, 1); }, store, fx(&l, "6", 1)},
      {kStoreObj_FX_Long_ByField, [](Objects& x) { x.store->FX_Long(x.field, l, 1); }, store, fx(&l, F, 1)},
      {kStoreObj_FX_Long_ByName, [](Objects& x) { x.store->FX_Long("L", l, 1); }, store, fx(&l, "\"L\"", 1)},
      {kStoreObj_FX_LongDouble_ByNumber, [](Objects& x) { x.store->FX_LongDouble(7, ld, 1); }, store, fx(&ld, "7", 1)},
      {kStoreObj_FX_LongDouble_ByField, [](Objects& x) { x.store->FX_LongDouble(x.field, ld, 1); }, store, fx(&ld, F, 1)},
      {kStoreObj_FX_LongDouble_ByName, [](Objects& x) { x.store->FX_LongDouble("G", ld, 1); }, store, fx(&ld, "\"G\"", 1)},
      {kStoreObj_FX_String_ByNumber, [&st](Objects& x) { x.store->FX_String(8, st, 1); }, store, fx(&text, "8", 1)},
      {kStoreObj_FX_StringBuffer_ByNumber, [](Objects& x) { x.store->FX_String(9, buffer, 8L, 1); }, store, "9," + H(buffer) + ",8,1"},
      {kStoreObj_FX_String_ByField, [&st](Objects& x) { x.store->FX_String(x.field, st, 1); }, store, fx(&text, F, 1)},
      {kStoreObj_FX_StringBuffer_ByField, [](Objects& x) { x.store->FX_String(x.field, buffer, 8L, 1); }, store, F + "," + H(buffer) + ",8,1"},
      {kStoreObj_FX_String_ByName, [&st](Objects& x) { x.store->FX_String("S", st, 1); }, store, fx(&text, "\"S\"", 1)},
      {kStoreObj_FX_StringBuffer_ByName, [](Objects& x) { x.store->FX_String("B", buffer, 8L, 1); }, store, "\"B\"," + H(buffer) + ",8,1"},
      {kStoreObj_FieldExchange, [](Objects& x) { struct Open : CStoreObj { void Exchange(int d) { CStoreObj::FieldExchange(d); } }; static_cast<Open*>(x.store)->Exchange(16); }, store, "16"},
      {kDataBaseStaticObj_GetDescription, [](Objects& x) { x.staticObj->GetDescription(); }, [](Objects& x) -> void const* { return x.staticObj; }, ""},
      {kIndex_GetField, [](Objects& x) { x.index->GetField(17); }, [](Objects& x) -> void const* { return x.index; }, "17"},
      {kTable_GetField_ByNumber, [](Objects& x) { x.table->GetField(18); }, table, "18"},
      {kTable_GetField_ByName, [](Objects& x) { x.table->GetField("F3"); }, table, "\"F3\""},
      {kDataDictionary_GetFilePath, [](Objects& x) { x.dictionary->GetFilePath(TableType(19)); }, dict, "19"},
      {kTable_GetIndex_ByNumber, [](Objects& x) { x.table->GetIndex(20); }, table, "20"},
      {kTable_GetIndex_ByName, [](Objects& x) { x.table->GetIndex("I3"); }, table, "\"I3\""},
      {kRecAddr_GetLongVal, [](Objects& x) { x.recAddr->GetLongVal(); }, rec, ""},
      {kDataDictionary_GetObjType, [](Objects& x) { x.dictionary->CDataDictionary::GetObjType(); }, dict, ""},
      {kIndex_GetObjType, [](Objects& x) { x.index->CIndex::GetObjType(); }, [](Objects& x) -> void const* { return x.index; }, ""},
      {kKeyObj_GetObjType, [](Objects& x) { x.key->CKeyObj::GetObjType(); }, key, ""},
      {kRecAddr_GetObjType, [](Objects& x) { x.recAddr->CRecAddr::GetObjType(); }, rec, ""},
      {kStoreObj_GetObjType, [](Objects& x) { x.store->CStoreObj::GetObjType(); }, store, ""},
      {kTable_GetObjType, [](Objects& x) { x.table->CTable::GetObjType(); }, table, ""},
      {kStoreObj_GetRecAddr, [](Objects& x) { new (x.constructed) CRecAddr(x.store->GetRecAddr()); }, store, ""},
      {kStoreObj_GetRelPosition, [](Objects& x) { x.store->GetRelPosition(); }, store, ""},
      {kTable_GetTLockMode, [](Objects& x) { x.table->GetTLockMode(); }, table, ""},
      {kDataDictionary_GetTable_ByNumber, [](Objects& x) { x.dictionary->GetTable(21); }, dict, "21"},
      {kDataDictionary_GetTable_ByName, [](Objects& x) { x.dictionary->GetTable("T3"); }, dict, "\"T3\""},
      {kStoreObj_Goto_ByRecAddr, [](Objects& x) { x.store->Goto(*x.recAddr, 22); }, store, H(o.recAddr) + ",22"},
      {kStoreObj_Goto_ByKey, [](Objects& x) { x.store->Goto(x.key, CompCtl(23), 24); }, store, H(o.key) + ",23,24"},
      {kStoreObj_Goto_ByNavigation, [](Objects& x) { x.store->Goto(NavCtrl(25), 26); }, store, "25,26"},
      {kTable_IsBufDirty, [](Objects& x) { x.table->IsBufDirty(); }, table, ""},
      {kTable_IsOpen, [](Objects& x) { x.table->IsOpen(); }, table, ""},
      {kTable_IsRecLocked, [](Objects& x) { x.table->IsRecLocked(*x.recAddr); }, table, H(o.recAddr)},
      {kStoreObj_Locking, [](Objects& x) { x.store->Locking(LockCtrl(27)); }, store, "27"},
      {kStoreObj_New, [](Objects& x) { x.store->New(); }, store, ""},
      {kDataDictionary_Open, [](Objects& x) { x.dictionary->Open("P"); }, dict, "\"P\""},
      {kTable_OpenAccess, [](Objects& x) { x.table->OpenAccess(ShareModeCtl(1), SafetyCtl(28)); }, table, "1,28"},
      {kDataDictionary_OpenEmpty, [](Objects& x) { x.dictionary->OpenEmpty(); }, dict, ""},
      {kTable_Pack, [](Objects& x) { x.tableStorage.shareMode = 2; x.table->Pack(); }, table, ""},
      {kTable_PutTLock, [](Objects& x) { x.table->PutTLock(TLockModeCtl(29)); }, table, "29"},
      {kTable_ReIndex, [](Objects& x) { x.tableStorage.shareMode = 2; x.table->ReIndex(); }, table, ""},
      {kStoreObj_ReRead, [](Objects& x) { x.store->ReRead(); }, store, ""},
      {kDataDictionary_SetAdmFilePath, [](Objects& x) { x.dictionary->SetAdmFilePath("adm"); }, dict, "\"adm\""},
      {kKeyObj_SetKeyLength, [](Objects& x) { x.key->SetKeyLength(30, 31); }, key, "30,31"},
      {kDataDictionary_SetLocale, [](Objects&) { static unsigned char up[] = "UP", low[] = "lo"; CDataDictionary::SetLocale(32, up, low); }, [](Objects&) -> void const* { return nullptr; }, "32,\"UP\",\"lo\""},
      {kRecAddr_SetLongVal, [](Objects& x) { x.recAddr->SetLongVal(-33); }, rec, "-33"},
      {kStoreObj_SetOrderIndex, [](Objects& x) { x.store->SetOrderIndex(x.index); }, store, H(o.index)},
      {kStoreObj_SetRelPosition, [](Objects& x) { x.store->SetRelPosition(0.25, 34); }, store, "0.25,34"},
      {kStoreObj_SetSourceTable, [](Objects& x) { x.store->SetSourceTable(x.table); }, store, H(o.table)},
      {kDataDictionary_SetSysFilePath, [](Objects& x) { x.dictionary->SetSysFilePath("sys"); }, dict, "\"sys\""},
      {kDataDictionary_SetUserFilePath, [](Objects& x) { x.dictionary->SetUserFilePath("usr"); }, dict, "\"usr\""},
      {kStoreObj_Update, [](Objects& x) { x.store->Update(); }, store, ""},
  };
}

class AllOperationsTest : public ModuleTest {};

TEST_F(AllOperationsTest, EachOperationReachesItsOwnEntryWithTheHostsArguments) {
  AttachTracing(2);
  Objects objects;
  std::vector<Case> const cases = AllCases(objects);
  std::set<int> covered;
  for (Case const& c : cases) covered.insert(c.op);
  ASSERT_EQ(covered.size(), static_cast<size_t>(kOperationCount)) << "every operation has a case";

  for (Case const& c : cases) {
    engine.calls.clear();
    ClearLogs();
    c.call(objects);
    // Policy steps and GetRecAddr's copy add calls of other entries around it.
    ASSERT_EQ(engine.CallCount(c.op), 1) << SignatureText(c.op);
    EngineCall const& first =
        *std::find_if(engine.calls.begin(), engine.calls.end(), [&](EngineCall const& e) { return e.op == c.op; });
    EXPECT_EQ(first.object, c.object(objects)) << SignatureText(c.op);
    std::string name = SignatureText(c.op);
    name = name.substr(0, name.find('('));
    EXPECT_EQ(first.text, name + "(" + c.arguments + ")");
    // The call record carries this operation's own signature text.
    std::string const plain = PlainLog();
    EXPECT_NE(plain.find(std::string(" ") + SignatureText(c.op) + " "), std::string::npos) << plain;
  }
  EXPECT_TRUE(host::MessageBoxes().empty());
}

// Untraced, the first call of an operation resolves its entry and the second
// goes to the entry straight from the facade; both reach the operation's own
// entry with the host's object and arguments.
TEST_F(AllOperationsTest, UntracedFirstAndLaterCallsReachTheOperationsOwnEntry) {
  Attach();
  Objects objects;
  for (Case const& c : AllCases(objects)) {
    engine.calls.clear();
    c.call(objects);
    c.call(objects);
    ASSERT_EQ(engine.CallCount(c.op), 2) << SignatureText(c.op);
    std::string name = SignatureText(c.op);
    name = name.substr(0, name.find('('));
    for (EngineCall const& e : engine.calls) {
      if (e.op != c.op) continue;
      EXPECT_EQ(e.object, c.object(objects)) << SignatureText(c.op);
      EXPECT_EQ(e.text, name + "(" + c.arguments + ")");
    }
  }
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_FALSE(LogExists('a') || LogExists('b'));
}

}  // namespace
}  // namespace testing
}  // namespace tolvan

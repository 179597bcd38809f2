// Store objects (state items, relative position, record addresses by value)
// and the small classes: keys, record addresses, indexes, descriptions.
#include "tests/support/engine_objects.h"
#include "tests/support/test_fixture.h"

namespace tolvan {
namespace testing {
namespace {

class StoreTest : public ModuleTest {
 public:
  StoreTest() {
    storeStorage.firstTraceWord = 11;
    storeStorage.secondTraceWord = 22;
    storeStorage.thirdTraceWord = 33;
  }
  Line ThreeWords(Item result) { return {kIndent, result, "(", 11, ":", 22, ":", 33, ")"}; }
  Line FirstWord(Item result) { return {kIndent, result, "(", 11, ")"}; }

  StoreLayout storeStorage{};
  CStoreObj* store = reinterpret_cast<CStoreObj*>(&storeStorage);
  TableOfDictionary objects;
  CIndex* index = reinterpret_cast<CIndex*>(0x1200);
};

TEST_F(StoreTest, ConstructorLineEndsWithTheDoubleParenthesis) {
  AttachTracing();
  alignas(8) unsigned char memory[64];
  auto* built = new (memory) CStoreObj(objects.table, index);
  ExpectTrace({
      {P(memory), "CStoreObj::CStoreObj(class CTable *,class CIndex *))", P(objects.table), P(index)},
      {kIndent, P(memory)},
  });
  EXPECT_EQ(PlainLog().find(" ( "), std::string::npos) << "no state items after a constructor";
  ClearLogs();
  built->CStoreObj::~CStoreObj();
  built->SetOrderIndex(nullptr);
  ExpectTrace({{P(memory), "CStoreObj::~CStoreObj(void)"},
               {P(memory), "CStoreObj::SetOrderIndex(class CIndex *)", P(nullptr)}});
}

TEST_F(StoreTest, ThreeWordResultLineByteForByte) {
  AttachTracing();
  engine.SetResult(kStoreObj_Update, 1);
  store->Update();
  std::string const plain = PlainLog();
  EXPECT_EQ(plain.substr(plain.find("\r\n") + 2), "                1 ( 11 : 22 : 33 ) \r\n");
}

TEST_F(StoreTest, WhichOperationsShowOneWordAndWhichThree) {
  AttachTracing();
  CKeyObj* key = nullptr;
  alignas(8) unsigned char recAddr[16] = {};
  store->Compare(key, CompCtl(2));
  store->Delete();
  store->CStoreObj::GetObjType();
  store->Goto(*reinterpret_cast<CRecAddr*>(recAddr), 1);
  store->Goto(key, CompCtl(3), 4);
  store->Goto(NavCtrl(5), -6);
  store->Locking(LockCtrl(7));
  store->New();
  store->ReRead();
  store->SetRelPosition(0.5, 8);
  store->SetRelPosition(0.00001, 9);
  store->SetSourceTable(objects.table);
  ExpectTrace({
      {P(store), "CStoreObj::Compare(class CKeyObj *,enum CompCtl)", P(nullptr), 2}, ThreeWords(1),
      {P(store), "CStoreObj::Delete(void)"}, ThreeWords(1),
      {P(store), "CStoreObj::GetObjType(void)"}, FirstWord(1),
      {P(store), "CStoreObj::Goto(class CRecAddr const &,int)", P(recAddr), 1}, ThreeWords(1),
      {P(store), "CStoreObj::Goto(class CKeyObj *,enum CompCtl,int)", P(nullptr), 3, 4}, ThreeWords(1),
      {P(store), "CStoreObj::Goto(enum NavCtrl,int)", 5, -6}, ThreeWords(1),
      {P(store), "CStoreObj::Locking(enum LockCtrl)", 7}, ThreeWords(1),
      {P(store), "CStoreObj::New(void)"}, ThreeWords(1),
      {P(store), "CStoreObj::ReRead(void)"}, ThreeWords(1),
      {P(store), "CStoreObj::SetRelPosition(double,int)", "0.5", 8}, FirstWord(1),
      {P(store), "CStoreObj::SetRelPosition(double,int)", "1e-005", 9}, FirstWord(1),
      {P(store), "CStoreObj::SetSourceTable(class CTable *)", P(objects.table)}, FirstWord(1),
  });
  EXPECT_EQ(engine.calls.at(9).text, "CStoreObj::SetRelPosition(0.5,8)") << "the engine gets the double itself";
}

TEST_F(StoreTest, RelativePositionPassesThroughWithoutAResultItem) {
  engine.relativePosition = 0.123456789012345;
  Attach();
  EXPECT_EQ(store->GetRelPosition(), 0.123456789012345);
  EXPECT_EQ(store->GetRelPosition(), 0.123456789012345) << "the entry resolved, from the facade";
  AttachTracing();
  EXPECT_EQ(store->GetRelPosition(), 0.123456789012345);
  ExpectTrace({{P(store), "CStoreObj::GetRelPosition(void)"}, {kIndent, "(", 11, ")"}});
}

TEST_F(StoreTest, RecordAddressByValueThroughAWorkingAddress) {
  AttachTracing();
  engine.recAddrValue = 4711;
  {
    // The host keeps engine-sized record addresses; the result is built in
    // its storage directly.
    alignas(8) unsigned char storage[64];
    CRecAddr& returned = *new (storage) CRecAddr(store->GetRecAddr());
    auto const* object = reinterpret_cast<RecAddrObject const*>(&returned);
    EXPECT_EQ(object->value, 4711) << "the host's copy holds the engine's value";
    EXPECT_EQ(object->virtualTable, kEngineVirtualTable);

    ASSERT_EQ(engine.calls.size(), 3u);
    EXPECT_EQ(engine.calls[0].text, "CStoreObj::GetRecAddr()");
    EXPECT_EQ(engine.calls[1].op, kRecAddr_Construct_Copy);
    EXPECT_EQ(engine.calls[1].object, &returned);
    EXPECT_EQ(engine.calls[2].op, kRecAddr_Destroy);
    void const* const workingAddress = engine.calls[2].object;
    EXPECT_EQ(engine.calls[1].text, "CRecAddr::CRecAddr(" + Hex(workingAddress) + ")")
        << "the copy is made from the working address";
    EXPECT_NE(workingAddress, static_cast<void const*>(&returned));

    ExpectTrace({
        {P(store), "CStoreObj::GetRecAddr(void)"},
        {kIndent, P(workingAddress), "(", 11, ")"},
        {P(&returned), "CRecAddr::CRecAddr(class CRecAddr const &)", P(workingAddress)},
        {kIndent, P(&returned)},
        {P(workingAddress), "CRecAddr::~CRecAddr(void)"},
    });
    // The working address was met by the module's table when it was destroyed.
    EXPECT_NE(engine.firstWordsAtDestruction.at(0), kEngineVirtualTable);
    engine.calls.clear();
    returned.CRecAddr::~CRecAddr();
  }
  EXPECT_EQ(engine.CallCount(kRecAddr_Destroy), 1) << "the host destroys its own copy";
}

TEST_F(StoreTest, EngineExceptionsPassThroughGetRecAddrAndLeaveNothingBehind) {
  Attach();
  engine.throwOn = kStoreObj_GetRecAddr;
  EXPECT_THROW(store->GetRecAddr(), int);
  EXPECT_EQ(engine.CallCount(kRecAddr_Destroy), 0) << "nothing was built, nothing is destroyed";

  alignas(8) unsigned char host[64];
  engine.calls.clear();
  engine.throwOn = kRecAddr_Construct_Copy;
  EXPECT_THROW(new (host) CRecAddr(store->GetRecAddr()), int);
  ASSERT_EQ(engine.CallTexts().back(), "CRecAddr::~CRecAddr()") << "the working address is destroyed";
  EXPECT_NE(engine.calls.back().object, static_cast<void*>(host));

  engine.calls.clear();
  engine.throwOn = kRecAddr_Destroy;
  EXPECT_THROW(new (host) CRecAddr(store->GetRecAddr()), int);
  // Copy made, then the working address's destruction threw: the copy
  // already built for the host is destroyed as well.
  ASSERT_EQ(engine.CallCount(kRecAddr_Destroy), 2);
  EXPECT_EQ(engine.calls.back().object, static_cast<void*>(host));
}

TEST_F(StoreTest, DeletingDestructorHonoursOnlyBitZero) {
  Attach();
  void* memory = ::operator new(64);
  auto* built = new (memory) CStoreObj(objects.table, index);
  void const* moduleTable = engine.firstWordsAtConstruction.at(0);
  memcpy(memory, &moduleTable, sizeof moduleTable);
  built->~CStoreObj();  // through the module's table, without freeing
  EXPECT_EQ(engine.CallCount(kStoreObj_Destroy), 1);
  memcpy(memory, &moduleTable, sizeof moduleTable);
  delete built;  // through the module's table, freeing the memory
  EXPECT_EQ(engine.CallCount(kStoreObj_Destroy), 2);
}

// --- Keys, record addresses, indexes and descriptions ------------------------

using SmallClassesTest = ModuleTest;

TEST_F(SmallClassesTest, RecordAddressConstructorsAndValues) {
  AttachTracing();
  alignas(8) unsigned char source[16] = {}, copy[16], empty[16];
  auto* copied = new (copy) CRecAddr(*reinterpret_cast<CRecAddr*>(source));
  new (empty) CRecAddr(static_cast<CRecAddr const*>(nullptr));
  engine.SetResult(kRecAddr_GetLongVal, -123456);
  EXPECT_EQ(copied->GetLongVal(), -123456);
  copied->SetLongVal(-5);
  EXPECT_EQ(engine.CallTexts().back(), "CRecAddr::SetLongVal(-5)");
  ExpectTrace({
      {P(copy), "CRecAddr::CRecAddr(class CRecAddr const &)", P(source)},
      {kIndent, P(copy)},
      {P(empty), "CRecAddr::CRecAddr(class CRecAddr const *)", P(nullptr)},
      {kIndent, P(empty)},
      {P(copy), "CRecAddr::GetLongVal(void)"},
      {kIndent, -123456},
      {P(copy), "CRecAddr::SetLongVal(long)", -5},
  });
}

TEST_F(SmallClassesTest, KeyObjectAndItsDoNothingThirdSlot) {
  AttachTracing();
  alignas(8) unsigned char memory[64];
  auto* key = new (memory) CKeyObj(reinterpret_cast<CIndex*>(0x99), 4, -1);
  key->SetKeyLength(2, 3);
  size_t const calls = engine.calls.size();
  std::string const log = PlainLog();
  key->CKeyObj::Reserved();
  EXPECT_EQ(engine.calls.size(), calls);
  EXPECT_EQ(PlainLog(), log);
  key->CKeyObj::GetObjType();
  key->CKeyObj::~CKeyObj();
  ExpectTrace({
      {P(memory), "CKeyObj::CKeyObj(class CIndex *,int,int)", P(reinterpret_cast<void*>(0x99)), 4, -1},
      {kIndent, P(memory)},
      {P(memory), "CKeyObj::SetKeyLength(int,int)", 2, 3},
      {P(memory), "CKeyObj::GetObjType(void)"},
      {kIndent, 1},
      {P(memory), "CKeyObj::~CKeyObj(void)"},
  });
}

TEST_F(SmallClassesTest, DescriptionsAndIndexFieldsPassTheEnginesPointers) {
  AttachTracing();
  auto* description = reinterpret_cast<CDataBaseStaticObj*>(0x10);
  auto* index = reinterpret_cast<CIndex*>(0x20);
  engine.textResult = nullptr;
  EXPECT_EQ(description->GetDescription(), nullptr);
  static char const kEmpty[] = "";
  engine.textResult = kEmpty;
  EXPECT_EQ(description->GetDescription(), kEmpty);
  EXPECT_EQ(index->GetField(3), nullptr);
  ExpectTrace({
      {P(description), "CDataBaseStaticObj::GetDescription(void)"},
      {kIndent, "NULL"},
      {P(description), "CDataBaseStaticObj::GetDescription(void)"},
      {kIndent, "EMPTY"},
      {P(index), "CIndex::GetField(int)", 3},
      {kIndent, P(nullptr)},
  });
}

}  // namespace
}  // namespace testing
}  // namespace tolvan

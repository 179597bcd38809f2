// The dictionary facade: its records, the registry of dictionaries opened
// empty, and the restructure dictionary that ends share forcing.
#include "facades/data_dictionary.h"
#include "tests/support/test_fixture.h"

namespace tolvan {
namespace testing {
namespace {

int RegisteredSlots(CDataDictionary const* dictionary) {
  int count = 0;
  for (CDataDictionary* slot : g_module.registry) count += slot == dictionary;
  return count;
}

class DictionaryTest : public ModuleTest {
 protected:
  DictionaryLayout storage{};
  DictionaryLayout otherStorage{};
  CDataDictionary* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  CDataDictionary* other = reinterpret_cast<CDataDictionary*>(&otherStorage);
};

TEST_F(DictionaryTest, ConstructorAndDestructorRecordsAndTheModulesVirtualTable) {
  AttachTracing();
  void* memory = ::operator new(128);
  memset(memory, 0xcd, 128);
  auto* built = new (memory) CDataDictionary("sys", nullptr, "", "file");
  built->CDataDictionary::~CDataDictionary();
  ::operator delete(memory);
  ExpectTrace({
      {P(memory), "CDataDictionary::CDataDictionary(char const *,char const *,char const *,char const *)", "sys",
       "NULL", "EMPTY", "file"},
      {kIndent, P(memory)},
      {P(memory), "CDataDictionary::~CDataDictionary(void)"},
  });
  EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CDataDictionary::CDataDictionary(\"sys\",null,\"\",\"file\")",
                                                          "CDataDictionary::~CDataDictionary()"}));
  // The module's table stood in the first word when each engine entry began.
  ASSERT_EQ(engine.firstWordsAtConstruction.size(), 1u);
  ASSERT_EQ(engine.firstWordsAtDestruction.size(), 1u);
  void const* moduleTable = engine.firstWordsAtConstruction[0];
  EXPECT_NE(moduleTable, kEngineVirtualTable);
  EXPECT_NE(reinterpret_cast<uintptr_t>(moduleTable), 0xcdcdcdcdcdcdcdcdu);
  EXPECT_EQ(engine.firstWordsAtDestruction[0], moduleTable) << "the destructor stores it again";
}

TEST_F(DictionaryTest, DeletingDestructorThroughTheModulesTable) {
  Attach();
  void* memory = ::operator new(128);
  auto* built = new (memory) CDataDictionary("a", "b", "c", "d");
  void const* moduleTable = engine.firstWordsAtConstruction.at(0);
  memcpy(memory, &moduleTable, sizeof moduleTable);  // as before the engine replaced it
  delete built;  // the module's deleting destructor: facade destructor, then the memory
  EXPECT_EQ(engine.CallCount(kDataDictionary_Destroy), 1);
}

TEST_F(DictionaryTest, VoidAndStaticOperationsWriteNoResultRecord) {
  AttachTracing();
  unsigned char upper[] = "ABC";
  dictionary->Close();
  CDataDictionary::SetLocale(7, upper, nullptr);
  EXPECT_EQ(dictionary->GetFilePath(TableType(3)), engine.textResult);
  ExpectTrace({
      {P(dictionary), "CDataDictionary::Close(void)"},
      {P(nullptr), "CDataDictionary::SetLocale(int,unsigned char *,unsigned char *)", 7, "ABC", "NULL"},
      {P(dictionary), "CDataDictionary::GetFilePath(enum TableType)", 3},
      {kIndent, "engine text"},
  });
  EXPECT_EQ(engine.calls.at(1).object, nullptr);
}

TEST_F(DictionaryTest, ResultsPassThroughUnchanged) {
  AttachTracing();
  engine.SetResult(kDataDictionary_AddTable, 0x5150);
  engine.SetResult(kDataDictionary_DeleteTable_ByObject, -3);
  engine.textResult = "";
  EXPECT_EQ(dictionary->AddTable(nullptr), reinterpret_cast<CTable*>(0x5150));
  EXPECT_EQ(dictionary->DeleteTable(reinterpret_cast<CTable*>(0x77)), -3);
  EXPECT_STREQ(dictionary->GetFilePath(TableType(0)), "");
  ExpectTrace({
      {P(dictionary), "CDataDictionary::AddTable(char const *)", "NULL"},
      {kIndent, P(reinterpret_cast<void*>(0x5150))},
      {P(dictionary), "CDataDictionary::DeleteTable(class CTable *)", P(reinterpret_cast<void*>(0x77))},
      {kIndent, -3},
      {P(dictionary), "CDataDictionary::GetFilePath(enum TableType)", 0},
      {kIndent, "EMPTY"},
  });
}

TEST_F(DictionaryTest, OpenEmptyRegistersOnSuccessInTheFirstFreeSlots) {
  Attach();
  engine.QueueResult(kDataDictionary_OpenEmpty, 0);
  EXPECT_EQ(dictionary->OpenEmpty(), 0);
  EXPECT_EQ(RegisteredSlots(dictionary), 0) << "a failed open registers nothing";
  EXPECT_EQ(dictionary->OpenEmpty(), 1);
  EXPECT_EQ(dictionary->OpenEmpty(), 1);
  EXPECT_EQ(RegisteredSlots(dictionary), 2) << "a second success takes a second slot";
  EXPECT_EQ(g_module.registry[0], dictionary);
  EXPECT_EQ(g_module.registry[1], dictionary);
  other->Close();
  EXPECT_EQ(RegisteredSlots(dictionary), 2) << "closing another dictionary leaves the slots alone";
  // Close resolves and records first, then frees the slots, then forwards:
  // the engine's Close finds the dictionary unregistered already.
  int slotsSeenByEngine = -1;
  engine.onCall = [&](OperationId op, void*) {
    if (op == kDataDictionary_Close) slotsSeenByEngine = RegisteredSlots(dictionary);
  };
  dictionary->Close();
  EXPECT_EQ(slotsSeenByEngine, 0);
  EXPECT_EQ(RegisteredSlots(dictionary), 0) << "one close frees both";
  EXPECT_EQ(engine.CallCount(kDataDictionary_Close), 2) << "both closes are forwarded";
}

TEST_F(DictionaryTest, CloseWithoutItsEntryReportsBeforeFreeingTheSlots) {
  host::HideEngineExport(DecoratedName(kDataDictionary_Close));
  Attach();
  dictionary->OpenEmpty();
  int slotsWhileReported = -1;
  host::SetWhileMessageBoxShown([&] { slotsWhileReported = RegisteredSlots(dictionary); });
  dictionary->Close();
  EXPECT_EQ(slotsWhileReported, 1) << "resolved before the registry is touched";
  EXPECT_EQ(RegisteredSlots(dictionary), 0) << "and freed all the same";
}

TEST_F(DictionaryTest, FullRegistryLeavesFurtherDictionariesUnregistered) {
  Attach();
  for (int i = 0; i < kRegistrySlots; ++i) ASSERT_EQ(dictionary->OpenEmpty(), 1);
  engine.SetResult(kDataDictionary_OpenEmpty, 9);
  EXPECT_EQ(other->OpenEmpty(), 9);
  EXPECT_EQ(RegisteredSlots(other), 0);
  EXPECT_TRUE(host::MessageBoxes().empty());
  dictionary->CDataDictionary::~CDataDictionary();
  EXPECT_EQ(RegisteredSlots(dictionary), 0) << "the destructor clears every slot of it";
  EXPECT_EQ(other->OpenEmpty(), 9);
  EXPECT_EQ(g_module.registry[0], other) << "the first free slot is taken";
}

TEST(RestructurePathTest, OnlyTheExactSuffixInAnyLetterCase) {
  EXPECT_TRUE(IsRestructurePath("C:\\Data\\NEW_STRU\\Pallo7.DD"));
  EXPECT_TRUE(IsRestructurePath("c:\\data\\new_stru\\pallo7.dd"));
  EXPECT_TRUE(IsRestructurePath("\\NEW_STRU\\Pallo7.DD"));
  EXPECT_FALSE(IsRestructurePath("NEW_STRU\\Pallo7.DD")) << "shorter than the suffix";
  EXPECT_FALSE(IsRestructurePath("C:\\Data\\NEW_STRU\\Pallo7.DD.bak")) << "goes on after it";
  EXPECT_FALSE(IsRestructurePath("C:/Data/NEW_STRU/Pallo7.DD")) << "slashes are not backslashes";
  EXPECT_FALSE(IsRestructurePath("C:\\Data\\XNEW_STRU\\Pallo7.DD")) << "another character before NEW_STRU";
  EXPECT_FALSE(IsRestructurePath("C:\\Data\\NEW-STRU\\Pallo7.DD"));
  EXPECT_FALSE(IsRestructurePath(""));
  EXPECT_FALSE(IsRestructurePath(nullptr));
  // Only ASCII letters fold: bytes above 127 must match exactly.
  EXPECT_FALSE(IsRestructurePath("C:\\NEW_STRU\\Pall\xcf" "7.DD"));
}

TEST_F(DictionaryTest, OpeningTheRestructureDictionaryEndsShareForcingForGood) {
  AttachTracing();
  engine.QueueResult(kDataDictionary_Open, 0);
  EXPECT_EQ(dictionary->Open("C:\\DB\\new_stru\\pallo7.dd"), 0);
  EXPECT_EQ(g_module.noShare, 0) << "a failed open changes nothing";
  EXPECT_EQ(dictionary->Open("C:\\DB\\new_stru\\pallo7.dd"), 1);
  EXPECT_EQ(g_module.noShare, 1);
  other->Open("C:\\DB\\main.dd");
  other->Close();
  EXPECT_EQ(g_module.noShare, 1) << "nothing switches it back";
  EXPECT_EQ(engine.calls.at(1).text, "CDataDictionary::Open(\"C:\\DB\\new_stru\\pallo7.dd\")");
  std::string const plain = PlainLog();
  EXPECT_EQ(plain.substr(0, plain.find("\r\n") + 2),
            " " + Hex(dictionary) + " CDataDictionary::Open(char const *) C:\\DB\\new_stru\\pallo7.dd \r\n");
}

}  // namespace
}  // namespace testing
}  // namespace tolvan

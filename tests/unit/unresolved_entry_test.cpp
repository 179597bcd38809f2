// An operation whose engine entry cannot be resolved is reported, then
// returns a defined value without calling anything.
#include "tests/support/engine_objects.h"
#include "tests/support/test_fixture.h"

namespace tolvan {
namespace testing {
namespace {

class UnresolvedEntryTest : public ModuleTest {
 public:
  void SetUp() override {
    ModuleTest::SetUp();
    host::SetEngineLibrary(nullptr, 0);
    AttachTracing();
  }
  std::string LogWithoutErrors() {
    std::string log = PlainLog(), kept;
    size_t start = 0;
    while (start < log.size()) {
      size_t const end = log.find("\r\n", start) + 2;
      std::string const line = log.substr(start, end - start);
      if (line.find("*** Error ***") == std::string::npos) kept += line;
      start = end;
    }
    return kept;
  }
  TableOfDictionary objects{"CUSTOMERS", 1};
  StoreLayout storeStorage{};
  CStoreObj* store = reinterpret_cast<CStoreObj*>(&storeStorage);
};

TEST_F(UnresolvedEntryTest, ResultsAreZeroAndNoPolicyRuns) {
  EXPECT_EQ(objects.table->OpenAccess(ShareModeCtl(2), SafetyCtl(1)), 0);
  EXPECT_EQ(objects.table->Pack(), 0);
  EXPECT_EQ(objects.table->BeginReadSequence(), 0);
  EXPECT_EQ(objects.dictionary->GetTable("T"), nullptr);
  EXPECT_EQ(objects.dictionary->GetFilePath(TableType(1)), nullptr);
  EXPECT_EQ(store->GetRelPosition(), 0.0);
  EXPECT_EQ(objects.dictionary->OpenEmpty(), 0);
  EXPECT_EQ(g_module.registry[0], nullptr);
  // Only the operations the host called were tried: no policy step ran.
  EXPECT_EQ(host::MessageBoxes().size(), 2u * 7u);
  EXPECT_EQ(g_module.escalationsInProgress, 0);
  std::string const log = LogWithoutErrors();
  EXPECT_EQ(log.find("CloseAccess"), std::string::npos);
  EXPECT_EQ(log.find("              "), std::string::npos) << "no result records";
}

TEST_F(UnresolvedEntryTest, ExchangeLinesStayWhole) {
  int value = 5;
  store->FX_Int(1, value, 1);
  store->FX_Int(1, value, 0);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(LogWithoutErrors(), Render({{P(store), "CStoreObj::FX_Int(int,int &,int)", 1, 5, 1},
                                        {P(store), "CStoreObj::FX_Int(int,int &,int)", 1, 5, 0}},
                                       false));
}

TEST_F(UnresolvedEntryTest, ConstructorsLeaveTheModulesTableAndRecordAddressesStayDestructible) {
  alignas(8) unsigned char memory[64] = {};
  new (memory) CKeyObj(nullptr, 1, 2);
  void const* firstWord;
  memcpy(&firstWord, memory, sizeof firstWord);
  EXPECT_NE(firstWord, nullptr) << "the module's own table, which the host can still call";
  // GetRecAddr shows the boxes of one unresolved call and builds nothing
  // through the engine's constructors: the host's record address is one the
  // module's own table stands behind.
  host::MessageBoxes().clear();
  auto* returned = new (memory) CRecAddr(store->GetRecAddr());
  ASSERT_EQ(host::MessageBoxes().size(), 2u);
  EXPECT_NE(host::MessageBoxes()[0].text.find("#001 (Library \" Tolvan33.dll \" not found)"), std::string::npos);
  EXPECT_NE(host::MessageBoxes()[1].text.find("#002"), std::string::npos);
  returned->CRecAddr::~CRecAddr();
  EXPECT_TRUE(engine.calls.empty());
  EXPECT_EQ(LogWithoutErrors(),
            Render({{P(memory), "CKeyObj::CKeyObj(class CIndex *,int,int)", P(nullptr), 1, 2},
                    {P(store), "CStoreObj::GetRecAddr(void)"},
                    {P(memory), "CRecAddr::~CRecAddr(void)"}},
                   false));
}

TEST_F(ModuleTest, GetRecAddrWithoutItsEntryCallsNoOtherEntry) {
  host::HideEngineExport(DecoratedName(kStoreObj_GetRecAddr));
  Attach();
  StoreLayout storeStorage{};
  alignas(8) unsigned char memory[64];
  memset(memory, 0x5a, sizeof memory);
  auto* returned = new (memory) CRecAddr(reinterpret_cast<CStoreObj*>(&storeStorage)->GetRecAddr());
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"*** Error *** #002 (Entry in library not found)\n "}));
  EXPECT_EQ(TOLVAN_READ_FIELD(memory, RecAddrLayout, value), 0) << "an empty record address";
  EXPECT_TRUE(engine.calls.empty()) << "no constructor the host did not call";
  returned->CRecAddr::~CRecAddr();
  EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CRecAddr::~CRecAddr()"})) << "the host's own destruction";
}

}  // namespace
}  // namespace testing
}  // namespace tolvan

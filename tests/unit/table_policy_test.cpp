// The share-mode policy: share forcing, exclusive escalation and the
// read-sequence policy, with the engine calls and records behind each.
#include "tests/support/engine_objects.h"
#include "tests/support/test_fixture.h"

namespace tolvan {
namespace testing {
namespace {

char const kOpen[] = "CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl)";
char const kClose[] = "CTable::CloseAccess(enum SafetyCtl)";

class TablePolicyTest : public ModuleTest {
 public:
  Line State(int result, int traceWord = 5) { return {kIndent, result, "(", traceWord, ")"}; }
  TableOfDictionary objects;
  CTable* table = objects.table;
};

TEST_F(TablePolicyTest, ShareForcingClosesAndReopensShared) {
  AttachTracing();
  engine.QueueResult(kTable_OpenAccess, 1);
  engine.QueueResult(kTable_OpenAccess, 7);  // the reopen's result reaches the host
  EXPECT_EQ(table->OpenAccess(ShareModeCtl(2), SafetyCtl(2)), 7);
  EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::OpenAccess(2,2)", "CTable::CloseAccess(1)",
                                                          "CTable::OpenAccess(1,1)"}));
  ExpectTrace({{P(table), kOpen, 2, 2}, {P(table), kClose, 1}, State(1), State(7)});
  EXPECT_EQ(objects.tableStorage.shareMode, 1);
}

TEST_F(TablePolicyTest, AnyModeButSharedIsForced) {
  Attach();
  for (int mode : {0, 2, 3, -1}) {
    engine.calls.clear();
    EXPECT_EQ(table->OpenAccess(ShareModeCtl(mode), SafetyCtl(2)), 1);
    EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::OpenAccess(" + std::to_string(mode) + ",2)",
                                                            "CTable::CloseAccess(1)", "CTable::OpenAccess(1,1)"}))
        << "mode " << mode;
  }
  engine.calls.clear();
  EXPECT_EQ(table->OpenAccess(ShareModeCtl(1), SafetyCtl(2)), 1);
  EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::OpenAccess(1,2)"})) << "shared is left alone";
}

TEST_F(TablePolicyTest, ExemptionsLeaveTheTableExclusive) {
  struct Exemption {
    char const* name;
    std::function<void(TablePolicyTest&)> arrange;
  };
  std::vector<Exemption> const exemptions = {
      {"users table", [](TablePolicyTest& t) { t.objects.tableStorage.name = "ZKUSERS"; }},
      {"users table, any case", [](TablePolicyTest& t) { t.objects.tableStorage.name = "zkUsers"; }},
      {"dictionary opened empty", [](TablePolicyTest& t) { t.objects.dictionary->OpenEmpty(); }},
      {"NoShare option", [](TablePolicyTest& t) { t.Attach({{"Tolvan32_NoShare", "1"}, {"Tolvan32_Debug", "1"}}); }},
      {"restructure dictionary opened",
       [](TablePolicyTest& t) {
         DictionaryLayout restructure{};
         reinterpret_cast<CDataDictionary*>(&restructure)->Open("D:\\NEW_STRU\\PALLO7.DD");
       }},
  };
  for (Exemption const& exemption : exemptions) {
    AttachTracing();
    objects.tableStorage.name = "CUSTOMERS";
    exemption.arrange(*this);
    engine.calls.clear();
    ClearLogs();
    EXPECT_EQ(table->OpenAccess(ShareModeCtl(2), SafetyCtl(1)), 1) << exemption.name;
    EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::OpenAccess(2,1)"})) << exemption.name;
    ExpectTrace({{P(table), kOpen, 2, 1}, State(1)});
  }
}

TEST_F(TablePolicyTest, NearMissesOfTheExemptionsAreForced) {
  struct NearMiss {
    char const* name;
    std::function<void(TablePolicyTest&)> arrange;
  };
  std::vector<NearMiss> const misses = {
      {"longer users name", [](TablePolicyTest& t) { t.objects.tableStorage.name = "ZKUSERS2"; }},
      {"shorter users name", [](TablePolicyTest& t) { t.objects.tableStorage.name = "ZKUSER"; }},
      {"null table name", [](TablePolicyTest& t) { t.objects.tableStorage.name = nullptr; }},
      {"another dictionary opened empty",
       [](TablePolicyTest&) {
         static DictionaryLayout another{};
         reinterpret_cast<CDataDictionary*>(&another)->OpenEmpty();
       }},
      {"dictionary opened empty, then closed", [](TablePolicyTest& t) {
         t.objects.dictionary->OpenEmpty();
         t.objects.dictionary->Close();
       }},
      {"restructure open failed",
       [](TablePolicyTest& t) {
         t.engine.QueueResult(kDataDictionary_Open, 0);
         t.objects.dictionary->Open("C:\\NEW_STRU\\Pallo7.DD");
       }},
      {"path only nearly the restructure dictionary",
       [](TablePolicyTest& t) { t.objects.dictionary->Open("C:\\NEW_STRU\\Pallo7.DD1"); }},
  };
  for (NearMiss const& miss : misses) {
    Attach();
    objects.tableStorage.name = "CUSTOMERS";
    miss.arrange(*this);
    engine.calls.clear();
    table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
    EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::OpenAccess(2,1)", "CTable::CloseAccess(1)",
                                                            "CTable::OpenAccess(1,1)"}))
        << miss.name;
  }
}

TEST_F(TablePolicyTest, FailuresOfTheOpenTheCloseAndTheReopen) {
  AttachTracing();
  engine.QueueResult(kTable_OpenAccess, 0);
  EXPECT_EQ(table->OpenAccess(ShareModeCtl(2), SafetyCtl(1)), 0) << "a failed open is not forced";
  EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::OpenAccess(2,1)"}));

  engine.calls.clear();
  engine.QueueResult(kTable_CloseAccess, 0);
  EXPECT_EQ(table->OpenAccess(ShareModeCtl(2), SafetyCtl(1)), 0) << "a failed close is returned";
  EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::OpenAccess(2,1)", "CTable::CloseAccess(1)"}));

  engine.calls.clear();
  engine.QueueResult(kTable_OpenAccess, 1);
  engine.QueueResult(kTable_OpenAccess, 0);
  EXPECT_EQ(table->OpenAccess(ShareModeCtl(2), SafetyCtl(1)), 0) << "a failed reopen is returned, not retried";
  EXPECT_EQ(engine.CallCount(kTable_OpenAccess), 2);
}

TEST_F(TablePolicyTest, EscalationFromSharedTakesExclusiveUseAndGivesItBack) {
  AttachTracing();
  objects.tableStorage.shareMode = 1;
  engine.SetResult(kTable_Pack, 3);
  EXPECT_EQ(table->Pack(), 3);
  EXPECT_EQ(engine.CallTexts(),
            (std::vector<std::string>{"CTable::CloseAccess(2)", "CTable::OpenAccess(2,1)", "CTable::Pack()",
                                      "CTable::CloseAccess(1)", "CTable::OpenAccess(1,1)"}));
  ExpectTrace({
      {P(table), "CTable::Pack(void)"},
      {P(table), kClose, 2}, State(1),
      {P(table), kOpen, 2, 1}, State(1),
      {P(table), kClose, 1}, State(1),
      {P(table), kOpen, 1, 1}, State(1),
      State(3),
  });
  EXPECT_EQ(objects.tableStorage.shareMode, 1);
  EXPECT_EQ(g_module.escalationsInProgress, 0);
}

TEST_F(TablePolicyTest, EscalationOfAnExclusiveTableIsOneCall) {
  AttachTracing();
  objects.tableStorage.shareMode = 2;
  EXPECT_EQ(table->ReIndex(), 1);
  EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::ReIndex()"}));
  ExpectTrace({{P(table), "CTable::ReIndex(void)"}, State(1)});
}

TEST_F(TablePolicyTest, EscalationFromAnotherModeEndsSharedThroughShareForcing) {
  AttachTracing();
  objects.tableStorage.shareMode = 0;
  EXPECT_EQ(table->Clear(), 1);
  EXPECT_EQ(engine.CallTexts(),
            (std::vector<std::string>{"CTable::CloseAccess(2)", "CTable::OpenAccess(2,1)", "CTable::Clear()",
                                      "CTable::CloseAccess(1)", "CTable::OpenAccess(0,1)", "CTable::CloseAccess(1)",
                                      "CTable::OpenAccess(1,1)"}));
  ExpectTrace({
      {P(table), "CTable::Clear(void)"},
      {P(table), kClose, 2}, State(1),
      {P(table), kOpen, 2, 1}, State(1),
      {P(table), kClose, 1}, State(1),
      {P(table), kOpen, 0, 1},
      {P(table), kClose, 1}, State(1),
      State(1),
      State(1),
  });
  EXPECT_EQ(objects.tableStorage.shareMode, 1);
}

TEST_F(TablePolicyTest, EscalationIgnoresNestedFailuresAndAlwaysClearsTheFlag) {
  Attach();
  objects.tableStorage.shareMode = 1;
  engine.SetResult(kTable_CloseAccess, 0);
  engine.SetResult(kTable_OpenAccess, 0);
  engine.SetResult(kTable_Pack, 0);
  int flagDuringEngineCall = -1;
  engine.onCall = [&](OperationId op, void*) {
    if (op == kTable_Pack) flagDuringEngineCall = g_module.escalationsInProgress;
  };
  EXPECT_EQ(table->Pack(), 0);
  EXPECT_EQ(flagDuringEngineCall, 1);
  EXPECT_EQ(g_module.escalationsInProgress, 0);
  EXPECT_EQ(engine.CallCount(kTable_CloseAccess), 2);
  EXPECT_EQ(engine.CallCount(kTable_OpenAccess), 2);
}

TEST_F(TablePolicyTest, AnEngineExceptionInAnEscalationLeavesShareForcingWorking) {
  Attach();
  TableOfDictionary other("OTHER");
  // The five engine calls of an escalation: close, exclusive open, Pack,
  // close, restoring open. Each in turn throws; the host gets the exception
  // as the engine threw it, and share forcing is in force again after.
  for (int thrower = 1; thrower <= 5; ++thrower) {
    objects.tableStorage.shareMode = 1;
    int calls = 0;
    engine.onCall = [&](OperationId, void* object) {
      if (object == table && ++calls == thrower) throw thrower * 100;
    };
    int caught = 0;
    try {
      table->Pack();
    } catch (int thrown) {
      caught = thrown;
    }
    engine.onCall = nullptr;
    EXPECT_EQ(caught, thrower * 100) << "engine call " << thrower;
    EXPECT_EQ(g_module.escalationsInProgress, 0) << "engine call " << thrower;
    engine.calls.clear();
    other.table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
    EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::OpenAccess(2,1)", "CTable::CloseAccess(1)",
                                                            "CTable::OpenAccess(1,1)"}))
        << "after an exception from engine call " << thrower;
    engine.calls.clear();
  }
}

TEST_F(TablePolicyTest, EscalationSuspendsShareForcingForEveryTableMeanwhile) {
  Attach();
  TableOfDictionary other("OTHER", 1);
  objects.tableStorage.shareMode = 1;
  engine.onCall = [&](OperationId op, void*) {
    if (op == kTable_Pack) other.table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
  };
  table->Pack();
  EXPECT_EQ(engine.CallCount(kTable_OpenAccess), 3) << "the other table's exclusive open stays exclusive";
}

TEST_F(TablePolicyTest, ReadSequenceLockedWhenTheSwitchIsSet) {
  AttachTracing();
  objects.dictionaryStorage.sequenceSwitch = 4;
  EXPECT_EQ(table->BeginReadSequence(), 1);
  EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::PutTLock(2)", "CTable::BeginReadSequence()"}));
  ExpectTrace({{P(table), "CTable::BeginReadSequence(void)"},
               {P(table), "CTable::PutTLock(enum TLockModeCtl)", 2},
               State(1),
               State(1)});
  EXPECT_TRUE(host::MessageBoxes().empty());
}

TEST_F(TablePolicyTest, ReadSequenceSkippedWhenTheSwitchIsClear) {
  Attach({{"Tolvan32_Debug", "1"}, {"Tolvan32_StopSEQ", "1"}});
  engine.SetResult(kTable_BeginReadSequence, 0);
  EXPECT_EQ(table->BeginReadSequence(), 1);
  EXPECT_TRUE(engine.calls.empty());
  EXPECT_TRUE(host::MessageBoxes().empty());
  ExpectTrace({{P(table), "CTable::BeginReadSequence(void)"}, State(1)});
  table->EndReadSequence();
  EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::EndReadSequence()"}))
      << "the end is forwarded even after a skipped sequence";
}

TEST_F(TablePolicyTest, NoSeqForwardsEverySequenceWithoutALock) {
  for (int sequenceSwitch : {0, 1}) {
    Attach({{"Tolvan32_NoSEQ", "1"}});
    objects.dictionaryStorage.sequenceSwitch = sequenceSwitch;
    engine.calls.clear();
    engine.SetResult(kTable_BeginReadSequence, 6);
    EXPECT_EQ(table->BeginReadSequence(), 6);
    EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::BeginReadSequence()"}));
  }
}

TEST_F(TablePolicyTest, StopSeqNamesTheTableAfterEachForwardedSequence) {
  Attach({{"Tolvan32_StopSEQ", "1"}, {"Tolvan32_Debug", "1"}});
  objects.dictionaryStorage.sequenceSwitch = 1;
  size_t logSizeAtBox = 0;
  engine.onCall = [&](OperationId op, void*) {
    if (op == kTable_BeginReadSequence) logSizeAtBox = PlainLog().size();
  };
  table->BeginReadSequence();
  table->BeginReadSequence();
  ASSERT_EQ(host::MessageBoxes().size(), 2u);
  EXPECT_EQ(host::MessageBoxes()[0].text, "CUSTOMERS");
  EXPECT_EQ(host::MessageBoxes()[0].caption, "Tolvan32 Share");
  EXPECT_EQ(PlainLog().find("(", logSizeAtBox) != std::string::npos, true);
  // Neither the notice nor its text goes into the trace.
  EXPECT_EQ(PlainLog().find("CUSTOMERS"), std::string::npos);
}

TEST_F(TablePolicyTest, ATableWithoutDictionaryKeepsItsModeAndIsNotSkipped) {
  Attach({{"Tolvan32_Debug", "1"}, {"Tolvan32_StopSEQ", "1"}});
  objects.tableStorage.dictionary = nullptr;
  objects.tableStorage.name = nullptr;
  table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
  EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::OpenAccess(2,1)"}))
      << "a missing dictionary stands where the registry has a free slot";
  ExpectTrace({{P(table), "CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl)", 2, 1}, State(1)});
  // With every slot taken, the missing dictionary stands nowhere.
  TableOfDictionary others[kRegistrySlots];
  for (TableOfDictionary& other : others) other.dictionary->OpenEmpty();
  engine.calls.clear();
  table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
  EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::OpenAccess(2,1)", "CTable::CloseAccess(1)",
                                                          "CTable::OpenAccess(1,1)"}));
  engine.calls.clear();
  engine.SetResult(kTable_BeginReadSequence, 0);
  EXPECT_EQ(table->BeginReadSequence(), 0) << "the engine's answer, not a skipped sequence's 1";
  EXPECT_EQ(engine.CallTexts(), (std::vector<std::string>{"CTable::BeginReadSequence()"}));
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{""})) << "a table without a name is shown as an empty text";
}

TEST_F(TablePolicyTest, StateItemsShowTheTraceWordAfterTheEngineCall) {
  AttachTracing();
  engine.onCall = [&](OperationId, void* object) {
    if (object == table) objects.tableStorage.traceWord = 42;
  };
  table->PutTLock(TLockModeCtl(2));
  ExpectTrace({{P(table), "CTable::PutTLock(enum TLockModeCtl)", 2}, State(1, 42)});
}

}  // namespace
}  // namespace testing
}  // namespace tolvan

// The trace reader on traces that the module itself writes: each kind of
// record, and the nested calls of the share-mode policy under their callers,
// read back from both logs.
#include <gtest/gtest.h>

#include <new>

#include "tests/support/engine_objects.h"
#include "tests/support/test_fixture.h"
#include "tools/tests/trace_test_support.h"

namespace tolvan {
namespace tools {
namespace {

using testing::TableOfDictionary;

class ModuleTraceTest : public testing::ModuleTest {
 protected:
  // Both logs must read alike: the masked one only hides the addresses.
  std::vector<TestNode> Records() {
    std::vector<TestNode> plain = ReadRecords(PlainLog());
    std::vector<TestNode> masked = ReadRecords(MaskedLog());
    EXPECT_EQ(Shape(plain), Shape(masked)) << "masked and plain logs read differently";
    return plain;
  }
  // One text per node: operation, status, line numbers and depth.
  static std::string Shape(std::vector<TestNode> const& records) {
    std::string shape;
    for (TestNode const& record : records) AddShape(record, 0, shape);
    return shape;
  }
  static void AddShape(TestNode const& node, int depth, std::string& shape) {
    shape += std::string(2 * depth, ' ') + std::to_string(node.line) + ":" + std::to_string(node.resultLine) + " " +
             (node.kind == kCallNode ? SignatureText(static_cast<OperationId>(node.op))
                                     : node.kind == kErrorNode ? "error" : "bad") +
             " status " + std::to_string(node.status) + " outcome " + std::to_string(node.outcome) + "\n";
    for (TestNode const& child : node.children) AddShape(child, depth + 1, shape);
  }
  static std::string Hex(void const* address) { return testing::Hex(address); }

  TableOfDictionary objects;
  CTable* table = objects.table;
};

TEST_F(ModuleTraceTest, ShareForcingNestsTheCloseUnderTheHostsOpen) {
  AttachTracing();
  engine.QueueResult(kTable_OpenAccess, 1);
  engine.QueueResult(kTable_OpenAccess, 7);
  table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
  table->OpenAccess(ShareModeCtl(1), SafetyCtl(1));

  std::vector<TestNode> records = Records();
  ASSERT_EQ(records.size(), 2u);
  TestNode const& forced = records[0];
  EXPECT_EQ(forced.op, kTable_OpenAccess);
  EXPECT_EQ(forced.object, Hex(table));
  EXPECT_EQ(forced.arguments, "2 1");
  EXPECT_EQ(forced.status, kCompleted);
  EXPECT_EQ(forced.result, "7 ( 5 )");
  EXPECT_EQ(forced.line, 1u);
  EXPECT_EQ(forced.resultLine, 4u);
  EXPECT_EQ(forced.outcome, kReopenedShared);
  ASSERT_EQ(forced.children.size(), 1u);
  EXPECT_EQ(forced.children[0].op, kTable_CloseAccess);
  EXPECT_EQ(forced.children[0].arguments, "1");
  EXPECT_EQ(forced.children[0].resultLine, 3u);

  EXPECT_EQ(records[1].op, kTable_OpenAccess);
  EXPECT_TRUE(records[1].children.empty());
  EXPECT_EQ(records[1].outcome, kNoOutcome) << "a shared open is no case for the policy";
}

TEST_F(ModuleTraceTest, ExemptAndRefusedOpensAreToldApart) {
  AttachTracing();
  objects.tableStorage.name = "ZKUSERS";
  table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
  objects.tableStorage.name = "CUSTOMERS";
  engine.QueueResult(kTable_OpenAccess, 0);
  table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
  engine.QueueResult(kTable_OpenAccess, 1);
  engine.QueueResult(kTable_CloseAccess, 0);
  table->OpenAccess(ShareModeCtl(0), SafetyCtl(1));

  std::vector<TestNode> records = Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].outcome, kLeftAsAsked);
  EXPECT_EQ(records[1].outcome, kRefusedByEngine);
  EXPECT_EQ(records[2].outcome, kCloseFailed);
  EXPECT_EQ(records[2].result, "0 ( 5 )");
}

TEST_F(ModuleTraceTest, ExclusiveEscalationNestsItsFourCalls) {
  AttachTracing();
  objects.tableStorage.shareMode = 1;
  table->Pack();
  objects.tableStorage.shareMode = 2;
  table->ReIndex();

  std::vector<TestNode> records = Records();
  ASSERT_EQ(records.size(), 2u);
  TestNode const& pack = records[0];
  EXPECT_EQ(pack.op, kTable_Pack);
  EXPECT_EQ(pack.outcome, kEscalated);
  ASSERT_EQ(pack.children.size(), 4u);
  int const ops[] = {kTable_CloseAccess, kTable_OpenAccess, kTable_CloseAccess, kTable_OpenAccess};
  char const* arguments[] = {"2", "2 1", "1", "1 1"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(pack.children[i].op, ops[i]) << i;
    EXPECT_EQ(pack.children[i].arguments, arguments[i]) << i;
    EXPECT_EQ(pack.children[i].status, kCompleted) << i;
    EXPECT_TRUE(pack.children[i].children.empty()) << i;
  }
  EXPECT_EQ(pack.resultLine, 10u);

  EXPECT_EQ(records[1].op, kTable_ReIndex);
  EXPECT_EQ(records[1].outcome, kAlreadyExclusive);
  EXPECT_TRUE(records[1].children.empty());
}

TEST_F(ModuleTraceTest, TheRestoringOpenOfAnEscalationIsForcedInTurn) {
  AttachTracing();
  objects.tableStorage.shareMode = 0;  // neither shared nor exclusive
  table->Clear();

  std::vector<TestNode> records = Records();
  ASSERT_EQ(records.size(), 1u);
  ASSERT_EQ(records[0].children.size(), 4u);
  TestNode const& restore = records[0].children[3];
  EXPECT_EQ(restore.arguments, "0 1");
  EXPECT_EQ(restore.outcome, kReopenedShared);
  ASSERT_EQ(restore.children.size(), 1u) << "three levels deep";
  EXPECT_EQ(restore.children[0].op, kTable_CloseAccess);
  EXPECT_EQ(records[0].children[1].outcome, kNoOutcome) << "the exclusive open is never forced";
}

TEST_F(ModuleTraceTest, ReadSequencesLockedSkippedAndPassedOn) {
  AttachTracing();
  objects.dictionaryStorage.sequenceSwitch = 1;
  table->BeginReadSequence();
  table->EndReadSequence();
  objects.dictionaryStorage.sequenceSwitch = 0;
  table->BeginReadSequence();

  std::vector<TestNode> records = Records();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].outcome, kSequenceLocked);
  ASSERT_EQ(records[0].children.size(), 1u);
  EXPECT_EQ(records[0].children[0].op, kTable_PutTLock);
  EXPECT_EQ(records[0].children[0].arguments, "2");
  EXPECT_EQ(records[1].op, kTable_EndReadSequence);
  EXPECT_EQ(records[1].status, kSingleLine);
  EXPECT_EQ(records[2].outcome, kSequenceSkippedOrUnlocked);
  EXPECT_EQ(records[2].result, "1 ( 5 )");

  // Under NoSEQ the engine's own result shows; anything but 1 proves it ran.
  Attach({{"Tolvan32_Debug", "1"}, {"Tolvan32_NoSEQ", "1"}});
  ClearLogs();
  engine.QueueResult(kTable_BeginReadSequence, 0);
  table->BeginReadSequence();
  records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].outcome, kSequenceUnlocked);
}

TEST_F(ModuleTraceTest, GetRecAddrOwnsTheCopyAndTheDestructionOfItsWorkingAddress) {
  AttachTracing();
  StoreLayout storeStorage{};
  storeStorage.firstTraceWord = 3;
  auto* store = reinterpret_cast<CStoreObj*>(&storeStorage);
  // The host keeps record addresses of the engine's size.
  alignas(8) unsigned char storage[64];
  CRecAddr& address = *new (storage) CRecAddr(store->GetRecAddr());
  store->New();

  std::vector<TestNode> records = Records();
  // The module's copy goes straight into the host's storage, unless the
  // host's compiler copies the returned object once more, at host level.
  ASSERT_GE(records.size(), 2u) << Shape(records);
  TestNode const& get = records[0];
  EXPECT_EQ(get.op, kStoreObj_GetRecAddr);
  ASSERT_EQ(get.children.size(), 2u);
  TestNode const& copy = get.children[0];
  TestNode const& destroy = get.children[1];
  EXPECT_EQ(copy.op, kRecAddr_Construct_Copy);
  EXPECT_EQ(copy.arguments + " ( 3 )", get.result) << "the copy is made from the working address";
  EXPECT_EQ(copy.status, kCompleted);
  EXPECT_EQ(copy.result, copy.object);
  EXPECT_EQ(destroy.op, kRecAddr_Destroy);
  EXPECT_EQ(destroy.object, copy.arguments);
  if (records.size() == 2) EXPECT_EQ(copy.object, Hex(&address));
  EXPECT_EQ(records.back().op, kStoreObj_New);
  EXPECT_EQ(records.back().result, "1 ( 3 : 0 : 0 )");
}

TEST_F(ModuleTraceTest, SingleLineRecordsStandAlone) {
  AttachTracing();
  StoreLayout storeStorage{};
  auto* store = reinterpret_cast<CStoreObj*>(&storeStorage);
  StringLayout name{"Ivan Petrov"};
  store->FX_String("NAME", *reinterpret_cast<CString*>(&name), 1);
  char buffer[] = "two words";
  store->FX_String(2, buffer, 20, 1);
  char blank = ' ';
  store->FX_Char(3, blank, 1);
  unsigned char upper[] = "AB";
  unsigned char lower[] = "ab";
  CDataDictionary::SetLocale(1, upper, lower);
  objects.dictionary->Close();

  std::vector<TestNode> records = Records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ(records[0].op, kStoreObj_FX_String_ByName);
  EXPECT_EQ(records[0].arguments, "NAME Ivan Petrov 1");
  EXPECT_EQ(records[1].arguments, "2 two words 20 1");
  EXPECT_EQ(records[2].arguments, "3   1");
  EXPECT_EQ(records[3].op, kDataDictionary_SetLocale);
  EXPECT_EQ(records[3].object, Hex(nullptr));
  EXPECT_EQ(records[4].op, kDataDictionary_Close);
  for (TestNode const& record : records) EXPECT_EQ(record.status, kSingleLine);

  ArgumentItems items;
  std::string const exchange = records[0].arguments;
  ASSERT_TRUE(SplitArguments(Forms().forms[kStoreObj_FX_String_ByName], exchange, items));
  EXPECT_EQ(std::string(items.items[0]), "NAME");
  EXPECT_EQ(std::string(items.items[1]), "Ivan Petrov");
  std::string const character = records[2].arguments;
  ASSERT_TRUE(SplitArguments(Forms().forms[kStoreObj_FX_Char_ByNumber], character, items));
  EXPECT_EQ(std::string(items.items[1]), " ");
}

TEST_F(ModuleTraceTest, FieldLookUpsAtTraceLevelTwo) {
  AttachTracing(2);
  FieldLayout field{};
  field.name = "CODE";
  field.firstWord = 3;
  field.secondWord = 10;
  engine.QueueResult(kTable_GetField_ByName, reinterpret_cast<intptr_t>(&field));
  table->GetField("CODE");
  engine.QueueResult(kTable_GetField_ByNumber, 0);
  table->GetField(9);

  std::vector<TestNode> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].result, "[ CODE 3 10 ] ( 5 )");
  EXPECT_EQ(records[0].status, kCompleted);
  EXPECT_EQ(records[1].result, "[ NULL ] ( 5 )");
  EXPECT_EQ(records[1].status, kCompleted);
}

TEST_F(ModuleTraceTest, AMissingEntryLeavesItsCallUnperformed) {
  AttachTracing();
  host::HideEngineExport(DecoratedName(kTable_CloseAccess));
  table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
  table->IsOpen();

  std::vector<TestNode> records = Records();
  ASSERT_EQ(records.size(), 2u) << Shape(records);
  TestNode const& open = records[0];
  EXPECT_EQ(open.result, "0 ( 5 )");
  EXPECT_EQ(open.outcome, kCloseFailed);
  ASSERT_EQ(open.children.size(), 2u);
  EXPECT_EQ(open.children[0].kind, kErrorNode);
  EXPECT_EQ(open.children[0].errorNumber, 2);
  EXPECT_EQ(open.children[1].op, kTable_CloseAccess);
  EXPECT_EQ(open.children[1].status, kNotPerformed);
  EXPECT_EQ(records[1].op, kTable_IsOpen);
  EXPECT_EQ(records[1].status, kCompleted);
}

TEST_F(ModuleTraceTest, AMissingLibraryShowsBothErrorsBeforeEveryCall) {
  host::SetEngineLibrary(nullptr, 0);
  AttachTracing();
  table->Pack();
  objects.dictionary->Close();
  StoreLayout storeStorage{};
  alignas(8) unsigned char storage[64];
  CRecAddr* address = new (storage) CRecAddr(reinterpret_cast<CStoreObj*>(&storeStorage)->GetRecAddr());
  address->~CRecAddr();

  std::vector<TestNode> records = Records();
  // #001 and #002 before each call; GetRecAddr hands the host a record
  // address without calling anything more, and the host destroys it.
  ASSERT_EQ(records.size(), 12u) << Shape(records);
  EXPECT_EQ(records[0].errorNumber, 1);
  EXPECT_NE(records[0].text.find(" Tolvan33.dll "), std::string::npos);
  EXPECT_EQ(records[1].errorNumber, 2);
  EXPECT_EQ(records[2].op, kTable_Pack);
  EXPECT_EQ(records[2].status, kNotPerformed);
  EXPECT_TRUE(records[2].children.empty());
  EXPECT_EQ(records[5].op, kDataDictionary_Close);
  EXPECT_EQ(records[5].status, kSingleLine);
  EXPECT_TRUE(records[5].entryMissing);
  EXPECT_EQ(records[8].op, kStoreObj_GetRecAddr);
  EXPECT_EQ(records[8].status, kNotPerformed);
  EXPECT_TRUE(records[8].children.empty()) << Shape(records);
  EXPECT_EQ(records[11].op, kRecAddr_Destroy);
}

TEST_F(ModuleTraceTest, ErrorsReportedWithTracingOffStandAlone) {
  host::SetEngineLibrary(nullptr, 0);
  Attach();
  objects.dictionary->BeginTransaction();
  std::vector<TestNode> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].kind, kErrorNode);
  EXPECT_EQ(records[1].kind, kErrorNode);
}

// What the module and the field really write: a text item with a line feed
// in it, a log that begins inside a Pack, an address that later names
// another table, and a call an engine exception left without its result.
TEST_F(ModuleTraceTest, WhatTheModuleWritesIsReadAsItWasWritten) {
  Attach({{"Tolvan32_Debug", "1"}, {"Tolvan32_TraceIds", "1"}});
  StoreLayout storeStorage{};
  char const* memo = "first line\nsecond line";
  reinterpret_cast<CStoreObj*>(&storeStorage)->FX_String(8, *reinterpret_cast<CString*>(&memo), 1);
  objects.tableStorage.shareMode = 1;
  table->Pack();
  std::string const withIds = PlainLog();
  std::vector<std::string> lines = LinesOf(withIds);
  ASSERT_NE(withIds.find("first line\r\nsecond line"), std::string::npos) << withIds;
  for (std::string const& log : {withIds, PlainLog().substr(PlainLog().find('\n') + 1)}) {
    std::unique_ptr<Summary> s = Summarise(log);
    EXPECT_EQ(s->badLines, 0u);
    EXPECT_EQ(s->mixing.line, 0u);
    EXPECT_EQ(s->exchangeLines, 1u);
    EXPECT_EQ(s->paired.escalated[0], 1u);
  }
  std::string fieldValue;
  ForEachRecord(withIds, [&](Record const& record) {
    if (record.nodes[0].op == kStoreObj_FX_String_ByNumber) fieldValue = std::string(record.TextOf(record.nodes[0].arguments));
  });
  EXPECT_NE(fieldValue.find("8 first line\nsecond line 1"), std::string::npos) << "the host's own text" << fieldValue;

  // The logs deleted inside the Pack: its nested calls are the module's, and
  // the summary says where the log begins.
  ClearLogs();
  AttachTracing();
  objects.tableStorage.shareMode = 1;
  table->Pack();
  table->IsOpen();
  lines = LinesOf(PlainLog());
  std::string const midRun = JoinLines({lines.begin() + 1, lines.end()});
  std::unique_ptr<Summary> s = Summarise(midRun);
  EXPECT_EQ(s->mixing.line, 0u);
  EXPECT_EQ(s->badLines, 0u);
  EXPECT_EQ(s->paired.hostOpensNotShared, 0u) << "the Pack's exclusive open is the module's";
  EXPECT_EQ(s->paired.callsByModule, 4u);
  EXPECT_EQ(s->resultsBeforeStart, 1u);
  EXPECT_EQ(s->firstResultBeforeStart, 9u);
  std::string text;
  PrintSummary(text, *s, Forms(), "a");
  EXPECT_NE(text.find("This log begins in the middle of a run: line 9 is the result of a call made before"),
            std::string::npos)
      << text;

  // One address, four tables in turn; and an engine exception.
  std::string const result = std::string(16, ' ') + "1 ( 5 ) ";
  std::vector<std::string> reused;
  for (char const* name : {"KUNDEN", "ALPHA", "KUNDEN", "ZKUSERS"}) {
    reused.push_back(std::string(" 00a40000 CDataDictionary::GetTable(char const *) ") + name + " ");
    reused.push_back(std::string(16, ' ') + "00a41230 ");
    reused.push_back(" 00a41230 CTable::IsOpen(void) ");
  }
  reused.push_back(result);
  s = Summarise(JoinLines(reused));
  ASSERT_EQ(s->tables.size(), 4u);
  EXPECT_EQ(s->tables[0].name.text, "KUNDEN");
  EXPECT_EQ(s->tables[1].name.text, "ALPHA");
  EXPECT_EQ(s->tables[2].name.text, "KUNDEN");
  EXPECT_EQ(s->tables[3].name.text, "ZKUSERS");
  for (TableTally const& tally : s->tables) EXPECT_EQ(tally.calls, 1u);
  EXPECT_EQ(s->paired.withoutResult, 3u) << "three calls left by engine exceptions";
  EXPECT_EQ(s->mixing.line, 0u) << "a call left without result is no sign of several writers";
}

TEST_F(ModuleTraceTest, LineFeedOnlyLogsReadTheSame) {
  AttachTracing();
  objects.tableStorage.shareMode = 1;
  table->Pack();
  table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
  std::string const log = PlainLog();
  EXPECT_EQ(Shape(ReadRecords(WithoutCarriageReturns(log))), Shape(ReadRecords(log)));
  EXPECT_EQ(ReadRecords(WithoutCarriageReturns(log))[1].result, "1 ( 5 )");
}

}  // namespace
}  // namespace tools
}  // namespace tolvan

// Damaged logs: cut in the middle of a line, lines corrupted or lost, runs
// that ended without their results. Nothing may be dropped silently, and
// the records around the damage must still be read.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/support/engine_objects.h"
#include "tests/support/test_fixture.h"
#include "tools/tests/trace_test_support.h"
#include "tools/trace/trace_print.h"

namespace tolvan {
namespace tools {
namespace {

class DamagedTraceTest : public testing::ModuleTest {
 protected:
  // A plain log written by the module: a forced open (lines 1-4), a Pack
  // (lines 5-14), a field exchange (line 15) and an IsOpen (lines 16-17).
  std::string ModuleLog() {
    AttachTracing();
    objects.tableStorage.shareMode = 1;
    table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
    objects.tableStorage.shareMode = 1;
    table->Pack();
    StoreLayout storeStorage{};
    int value = 7;
    reinterpret_cast<CStoreObj*>(&storeStorage)->FX_Int(1, value, 1);
    table->IsOpen();
    std::string log = PlainLog();
    EXPECT_EQ(LinesOf(log).size(), 17u);
    return log;
  }
  static std::vector<uint64_t> BadLines(std::vector<TestNode> const& records) {
    std::vector<uint64_t> lines;
    for (TestNode const& record : records) AddBadLines(record, lines);
    return lines;
  }
  static void AddBadLines(TestNode const& node, std::vector<uint64_t>& lines) {
    if (node.kind == kBadNode) lines.push_back(node.line);
    for (TestNode const& child : node.children) AddBadLines(child, lines);
  }
  testing::TableOfDictionary objects;
  CTable* table = objects.table;
};

TEST_F(DamagedTraceTest, ALogCutInsideAResultLine) {
  std::string log = ModuleLog();
  // Cut inside the Pack's last nested result line (line 13).
  std::vector<std::string> lines = LinesOf(log);
  std::string cut = JoinLines({lines.begin(), lines.begin() + 12}) + lines[12].substr(0, 20);
  std::vector<TestNode> records = ReadRecords(cut);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].status, kCompleted);
  TestNode const& pack = records[1];
  EXPECT_EQ(pack.status, kWithoutResult);
  ASSERT_EQ(pack.children.size(), 4u);
  TestNode const& restore = pack.children[3];
  EXPECT_EQ(restore.op, kTable_OpenAccess);
  EXPECT_EQ(restore.status, kWithoutResult);
  ASSERT_EQ(restore.children.size(), 1u) << "the cut line stays in the record it interrupted";
  EXPECT_EQ(restore.children[0].kind, kBadNode);
  EXPECT_EQ(restore.children[0].line, 13u);
  EXPECT_EQ(restore.children[0].problem, "cut off: the log ends inside this line");

  std::unique_ptr<Summary> summary = Summarise(cut);
  EXPECT_EQ(summary->badLines, 1u);
  EXPECT_EQ(summary->paired.withoutResult, 2u);
  EXPECT_EQ(summary->badNotes[0].line, 13u);
}

TEST_F(DamagedTraceTest, ALogCutRightAfterACarriageReturn) {
  std::string log = ModuleLog();
  std::string cut = log.substr(0, log.size() - 1);  // the last line's LF is lost
  std::vector<uint64_t> bad = BadLines(ReadRecords(cut));
  EXPECT_EQ(bad, std::vector<uint64_t>{17u});
}

TEST_F(DamagedTraceTest, CorruptedLinesAreReportedAndTheRestIsPaired) {
  std::vector<std::string> lines = LinesOf(ModuleLog());
  lines[1][5] = '#';  // line 2, the forced close's call: its pointer spoiled
  lines[7].replace(lines[7].find("OpenAccess"), 4, "Oven");  // line 8, the Pack's exclusive open
  lines[14] += "x";   // line 15, the exchange line, loses its closing separator
  lines.insert(lines.begin() + 15, "\x01\x02 binary");  // line 16
  std::vector<TestNode> records = ReadRecords(JoinLines(lines));

  // A lost nested call's result pairs with the caller, whose own result is
  // then left over: both damaged and left-over lines are reported.
  EXPECT_EQ(BadLines(records), (std::vector<uint64_t>{2, 4, 8, 14, 15, 16}));
  ASSERT_EQ(records.size(), 9u);
  EXPECT_EQ(records[0].op, kTable_OpenAccess);
  EXPECT_EQ(records[0].resultLine, 3u);
  EXPECT_EQ(records[2].op, kTable_Pack);
  EXPECT_EQ(records[2].resultLine, 9u);
  ASSERT_EQ(records[2].children.size(), 2u);
  EXPECT_EQ(records[2].children[0].op, kTable_CloseAccess);
  EXPECT_EQ(records[2].children[0].status, kCompleted);
  EXPECT_EQ(records[3].op, kTable_CloseAccess);
  EXPECT_EQ(records[3].line, 10u);
  EXPECT_EQ(records[4].op, kTable_OpenAccess);
  EXPECT_EQ(records[4].resultLine, 13u);
  // After the damage, reading is back in step.
  EXPECT_EQ(records[8].op, kTable_IsOpen);
  EXPECT_EQ(records[8].line, 17u);
  EXPECT_EQ(records[8].resultLine, 18u);
  EXPECT_EQ(Summarise(JoinLines(lines))->badLines, 6u);
}

TEST_F(DamagedTraceTest, ItemsThatDoNotFitTheOperationAreRefused) {
  std::string const table = " 00a41230 CTable::";
  std::vector<std::string> lines = {
      table + "OpenAccess(enum ShareModeCtl,enum SafetyCtl) 2 ",        // an argument missing
      table + "OpenAccess(enum ShareModeCtl,enum SafetyCtl) 2 1 1 ",    // one too many
      table + "OpenAccess(enum ShareModeCtl,enum SafetyCtl) 02 1 ",     // "%d" writes no leading zero
      table + "OpenAccess(enum ShareModeCtl,enum SafetyCtl) 2 99999999999 ",  // beyond 32 bits
      table + "Pack(void) extra ",
      " 00a4123 CTable::Pack(void) ",                                   // seven digits
      " 00A41230 CTable::Pack(void) ",                                  // upper case
      table + "Pack(void)",                                             // no closing separator
      " ........ CStoreObj::FX_Double(int,double &,int) 1 2.5x 0 ",     // not a "%g" number
      " ........ CStoreObj::FX_Char(int,char &,int) 1 ab 0 ",          // two characters
      std::string(16, ' ') + "1 ( 5 ) ",                               // a result with no call
      " *** Error *** #0x1 (bad)",
  };
  std::vector<TestNode> records = ReadRecords(JoinLines(lines));
  ASSERT_EQ(records.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(records[i].kind, kBadNode) << lines[i];
    EXPECT_EQ(records[i].line, i + 1) << lines[i];
  }
  EXPECT_EQ(records[10].problem, "result line without a call waiting for it");
}

TEST_F(DamagedTraceTest, ResultsThatDoNotFitTheirCallAreNotPairedWithIt) {
  std::string const open = " 00a41230 CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl) 1 1 ";
  std::string const indent(16, ' ');
  std::vector<TestNode> records = ReadRecords(JoinLines({
      open, indent + "1 ",                    // table state items missing
      open, indent + "1 ( 5 : 6 : 7 ) ",      // a store object's state
      open, indent + "00a41230 ( 5 ) ",       // a pointer where an integer belongs
      open, indent + "1 ( 5 ) ",
  }));
  ASSERT_EQ(records.size(), 4u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(records[i].status, kWithoutResult) << i;
    ASSERT_EQ(records[i].children.size(), 1u) << i;
    EXPECT_EQ(records[i].children[0].kind, kBadNode) << i;
  }
  EXPECT_EQ(records[3].status, kCompleted);
}

TEST_F(DamagedTraceTest, ARunThatEndedMidCallIsFollowedByTheNextRun) {
  AttachTracing();
  engine.QueueResult(kTable_OpenAccess, 1);
  table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
  std::vector<std::string> lines = LinesOf(PlainLog());
  ASSERT_EQ(lines.size(), 4u);
  // The first run stopped after the nested close's call line; the second
  // appended a whole forced open after it.
  std::vector<std::string> log = {lines[0], lines[1]};
  log.insert(log.end(), lines.begin(), lines.end());
  std::vector<TestNode> records = ReadRecords(JoinLines(log));
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].status, kWithoutResult);
  ASSERT_EQ(records[0].children.size(), 1u);
  EXPECT_EQ(records[0].children[0].status, kWithoutResult);
  EXPECT_EQ(records[1].status, kCompleted);
  EXPECT_EQ(records[1].line, 3u);
  EXPECT_EQ(records[1].outcome, kReopenedShared);
}

TEST_F(DamagedTraceTest, LongLinesAreReadWholeAndUnreadableOnesKeptShort) {
  std::string const longText(200000, 'x');
  std::string log = " 00a41230 CDataDictionary::Open(char const *) " + longText + " \r\n" +
                    std::string(16, ' ') + "1 \r\n" + longText + "\r\n" +
                    " 00a41230 CDataDictionary::OpenEmpty(void) \r\n" + std::string(16, ' ') + "1 \r\n";
  std::vector<TestNode> records = ReadRecords(log);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].op, kDataDictionary_Open);
  EXPECT_EQ(records[0].status, kCompleted);
  EXPECT_EQ(records[0].arguments, longText);
  EXPECT_EQ(records[1].kind, kBadNode);
  EXPECT_EQ(records[1].line, 3u);
  EXPECT_EQ(records[1].text.size(), kMaxKeptText);
  EXPECT_EQ(records[2].op, kDataDictionary_OpenEmpty);
  EXPECT_EQ(records[2].status, kCompleted);
}

TEST_F(DamagedTraceTest, ARecordFullOfJunkIsHandedOnAndReadingGoesOn) {
  std::vector<std::string> lines = {" 00a41230 CTable::Pack(void) "};
  for (int i = 0; i < 3 * kMaxNodes; ++i) lines.push_back("junk");
  lines.push_back(std::string(16, ' ') + "1 ( 5 ) ");
  lines.push_back(" 00a41230 CTable::IsOpen(void) ");
  lines.push_back(std::string(16, ' ') + "0 ( 5 ) ");
  std::vector<TestNode> records = ReadRecords(JoinLines(lines));
  size_t bad = 0;
  for (TestNode const& record : records) {
    bad += record.kind == kBadNode;
    for (TestNode const& child : record.children) bad += child.kind == kBadNode;
  }
  EXPECT_EQ(bad, 3u * kMaxNodes + 1) << "every junk line, and the result whose call was handed on";
  EXPECT_EQ(records.back().op, kTable_IsOpen);
  EXPECT_EQ(records.back().status, kCompleted);
}

// A record at its bound with error lines waiting: the first error closes
// the record, and the next ones go to a record of their own. The module
// writes error lines even with tracing off, so long runs of them are real.
TEST_F(DamagedTraceTest, ErrorsWaitingAtTheRecordsBoundStartNewRecords) {
  std::string const call = " 00a41230 CTable::Pack(void) ";
  std::string const missing = " *** Error *** #002 (Entry in library not found)";
  std::vector<std::string> damaged = {call};
  for (int i = 1; i < kMaxNodes; ++i) damaged.push_back("junk");
  damaged.push_back(" *** Error *** #001 (Library \" Tolvan33.dll \" not found)");
  damaged.push_back(missing);
  std::vector<std::string> errors = {call, "junk"};
  for (int i = 0; i < 70; ++i) errors.push_back(missing);
  for (std::vector<std::string> const& lines : {damaged, errors}) {
    std::string const log = JoinLines(lines);
    size_t nodes = 0;
    std::string tree;
    std::string json;
    ForEachRecord(log, [&](Record const& record) {
      for (Node const& node : record.nodes) {
        ASSERT_LT(node.parent, static_cast<int>(record.nodes.size()));
        ASSERT_LT(node.firstChild, static_cast<int>(record.nodes.size()));
        ASSERT_LT(node.nextSibling, static_cast<int>(record.nodes.size()));
      }
      nodes += record.nodes.size();
      PrintRecordTree(tree, Forms(), record);
      PrintRecordJson(json, Forms(), record);
    });
    EXPECT_EQ(nodes, lines.size()) << "one node per line";
    EXPECT_EQ(LinesOf(tree).size(), lines.size());
    std::unique_ptr<Summary> summary = Summarise(log);
    EXPECT_EQ(summary->errorLines, lines.size() - (lines == damaged ? kMaxNodes : 2));
    EXPECT_EQ(summary->paired.withoutResult + summary->unreliable.withoutResult, 1u);
  }
}

// Whatever the damage, every line of the log ends up in exactly one place:
// a call, the result of a call, an error, or a line that could not be read.
TEST_F(DamagedTraceTest, EveryLineIsAccountedForWhateverTheDamage) {
  std::string const log = ModuleLog();
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xffffff; };
  for (int round = 0; round < 300; ++round) {
    std::string damaged = log + log;
    for (int edit = 0, edits = 1 + next() % 6; edit < edits; ++edit) {
      size_t const at = next() % damaged.size();
      switch (next() % 4) {
        case 0: damaged[at] = static_cast<char>(next()); break;                 // a byte changed
        case 1: damaged.erase(at, 1 + next() % 40); break;                      // bytes lost
        case 2: damaged.insert(at, damaged.substr(next() % damaged.size(), 30)); break;  // bytes repeated
        case 3: damaged.resize(at); break;                                       // the log cut
      }
      if (damaged.empty()) damaged = log;
    }
    uint64_t lines = static_cast<uint64_t>(std::count(damaged.begin(), damaged.end(), '\n'));
    if (damaged.back() != '\n') ++lines;
    uint64_t placed = 0;
    std::function<void(TestNode const&)> count = [&](TestNode const& node) {
      placed += 1 + node.continuedLines +
                (node.kind == kCallNode && node.status == kCompleted && Forms().forms[node.op].result != kNoResultRecord);
      for (TestNode const& child : node.children) count(child);
    };
    for (TestNode const& record : ReadRecords(damaged)) count(record);
    ASSERT_EQ(placed, lines) << "round " << round;
  }
}

}  // namespace
}  // namespace tools
}  // namespace tolvan

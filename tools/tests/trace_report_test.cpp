// What the trace reader tells its users: the figures of a log, the record
// tree, the JSON lines, the filters of "show", and the program's exit status.
#include <gtest/gtest.h>
#include <zlib.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <fstream>
#include <new>
#include <regex>

#include "tests/support/engine_objects.h"
#include "tests/support/test_fixture.h"
#include "tools/setup/zip_writer.h"
#include "tools/tests/trace_test_support.h"
#include "tools/trace/trace_print.h"
#include "tools/trace/trace_reader.h"
#include "tools/trace/trace_report_html.h"

namespace tolvan {
namespace tools {
namespace {

// A strict reader of one JSON value: true when `text` is exactly that.
class JsonChecker {
 public:
  explicit JsonChecker(std::string const& text) : s_(text) {}
  bool Valid() {
    pos_ = 0;
    return Value() && (Space(), pos_ == s_.size());
  }

 private:
  void Space() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\n')) ++pos_;
  }
  bool Take(char c) {
    Space();
    if (pos_ < s_.size() && s_[pos_] == c) return ++pos_, true;
    return false;
  }
  bool String() {
    if (!Take('"')) return false;
    while (pos_ < s_.size() && s_[pos_] != '"') {
      unsigned char const c = static_cast<unsigned char>(s_[pos_]);
      if (c < 0x20 || c >= 0x80) return false;
      if (c == '\\') {
        ++pos_;
        if (pos_ >= s_.size()) return false;
        if (s_[pos_] == 'u') {
          for (int i = 1; i <= 4; ++i) {
            if (pos_ + i >= s_.size() || !isxdigit(static_cast<unsigned char>(s_[pos_ + i]))) return false;
          }
          pos_ += 4;
        } else if (std::string("\"\\/bfnrt").find(s_[pos_]) == std::string::npos) {
          return false;
        }
      }
      ++pos_;
    }
    return Take('"');
  }
  bool Number() {
    size_t const start = pos_;
    if (pos_ < s_.size() && s_[pos_] == '-') ++pos_;
    if (pos_ >= s_.size() || !isdigit(static_cast<unsigned char>(s_[pos_]))) return false;
    if (s_[pos_] == '0' && pos_ + 1 < s_.size() && isdigit(static_cast<unsigned char>(s_[pos_ + 1]))) return false;
    while (pos_ < s_.size() && isdigit(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    return pos_ > start;
  }
  bool Value() {
    Space();
    if (pos_ >= s_.size()) return false;
    char const c = s_[pos_];
    if (c == '"') return String();
    if (c == '{') return Members('}', true);
    if (c == '[') return Members(']', false);
    if (s_.compare(pos_, 4, "null") == 0 || s_.compare(pos_, 4, "true") == 0) return pos_ += 4, true;
    if (s_.compare(pos_, 5, "false") == 0) return pos_ += 5, true;
    return Number();
  }
  bool Members(char close, bool object) {
    ++pos_;
    if (Take(close)) return true;
    do {
      if (object && !(String() && Take(':'))) return false;
      if (!Value()) return false;
    } while (Take(','));
    return Take(close);
  }
  std::string const& s_;
  size_t pos_ = 0;
};

class TraceReportTest : public testing::ModuleTest {
 protected:
  // A plain log with one of each policy case, and a missing entry.
  std::string ScenarioLog() {
    AttachTracing();
    engine.SetResult(kDataDictionary_GetTable_ByName, reinterpret_cast<intptr_t>(table));
    objects.dictionary->GetTable("CUSTOMERS");
    table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));  // reopened shared
    users.tableStorage.name = "ZKUSERS";
    users.table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));  // left as asked
    engine.QueueResult(kTable_OpenAccess, 0);
    table->OpenAccess(ShareModeCtl(0), SafetyCtl(1));  // refused
    objects.tableStorage.shareMode = 1;
    table->Pack();  // escalated
    objects.tableStorage.shareMode = 2;
    table->Clear();  // already exclusive
    objects.dictionaryStorage.sequenceSwitch = 1;
    table->BeginReadSequence();  // locked
    table->BeginReadSequence();
    objects.dictionaryStorage.sequenceSwitch = 0;
    table->BeginReadSequence();  // skipped
    host::HideEngineExport(DecoratedName(kTable_IsOpen));
    table->IsOpen();
    table->IsOpen();
    return PlainLog();
  }
  std::string Tree(std::string const& log, RecordFilter const* filter = nullptr) {
    std::string out;
    ForEachRecord(log, [&](Record const& record) {
      if (!filter || RecordWanted(*filter, record)) PrintRecordTree(out, Forms(), record);
    });
    return out;
  }
  testing::TableOfDictionary objects;
  testing::TableOfDictionary users{"ZKUSERS"};
  CTable* table = objects.table;
};

TEST_F(TraceReportTest, TheFiguresOfALog) {
  std::unique_ptr<Summary> s = Summarise(ScenarioLog());
  EXPECT_EQ(s->paired.hostOpensNotShared, 3u);
  EXPECT_EQ(s->paired.reopenedShared, 1u) << "the Pack's restore to shared use is not forced";
  EXPECT_EQ(s->paired.leftAsAsked, 1u);
  EXPECT_EQ(s->paired.refusedByEngine, 1u);
  EXPECT_EQ(s->paired.escalated[0], 1u);
  EXPECT_EQ(s->paired.alreadyExclusive[2], 1u);
  EXPECT_EQ(s->paired.sequencesLocked, 2u);
  EXPECT_EQ(s->paired.sequencesSkippedOrUnlocked, 1u);
  EXPECT_EQ(s->paired.sequencesUnlocked, 0u);
  EXPECT_EQ(s->operationCalls[kTable_CloseAccess], 3u);
  EXPECT_EQ(s->paired.operationCallsByModule[kTable_CloseAccess], 3u);
  EXPECT_EQ(s->operationCalls[kTable_PutTLock], 2u);
  EXPECT_EQ(s->paired.notPerformed, 2u);
  EXPECT_EQ(s->badLines, 0u);
  ASSERT_EQ(s->errors.size(), 1u);
  EXPECT_EQ(s->errors[0].number, 2);
  EXPECT_EQ(s->errors[0].count, 2u);

  std::string const address = testing::Hex(table);
  TableTally const* customers = FindTable(*s, address);
  ASSERT_NE(customers, nullptr);
  EXPECT_EQ(customers->name.text, "CUSTOMERS");
  // Host calls and the module's nested calls on the table, all counted.
  EXPECT_EQ(customers->calls, 2u + 1u + 5u + 1u + 2u * 2u + 1u + 2u);
}

// The host's opens asking for other than shared use are exactly those
// reopened, left as asked and failed; the module's own restoring open inside
// Clear, forced in turn, is the module's figure.
TEST_F(TraceReportTest, TheFiguresOfShareForcingAddUp) {
  ScenarioLog();
  objects.tableStorage.shareMode = 0;
  table->Clear();
  engine.QueueResult(kTable_OpenAccess, 1);
  engine.QueueResult(kTable_CloseAccess, 0);
  table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));  // the forced close fails
  std::unique_ptr<Summary> s = Summarise(PlainLog());
  PairingFigures const& f = s->paired;
  EXPECT_EQ(f.hostOpensNotShared, 4u);
  EXPECT_EQ(f.hostOpensNotShared, f.reopenedShared + f.leftAsAsked + f.reopenFailed + f.closeFailed + f.refusedByEngine);
  EXPECT_EQ(f.reopenedShared, 1u);
  EXPECT_EQ(f.closeFailed, 1u);
  EXPECT_EQ(f.moduleOpensForced, 1u);
  EXPECT_EQ(f.moduleOpensForcedFailed, 0u);
  EXPECT_EQ(FindTable(*s, testing::Hex(table))->policy.reopenedShared, 1u);
  std::string json;
  PrintSummaryJson(json, *s, Forms(), "a");
  EXPECT_NE(json.find("\"host_opens_not_shared\":4,\"reopened_shared\":1,\"reopen_failed\":0,\"close_failed\":1,"
                      "\"left_as_asked\":1,\"refused_by_engine\":1,\"module_opens_forced\":1,"),
            std::string::npos)
      << json;
}

TEST_F(TraceReportTest, ErrorLinesAreListedWithTheirLineNumbers) {
  std::string log = ScenarioLog();
  std::vector<std::string> lines = LinesOf(log);
  std::unique_ptr<Summary> s = Summarise(log);
  ASSERT_EQ(s->errors[0].lines.size(), 2u);
  for (int i = 0; i < 2; ++i) {
    EXPECT_NE(lines[s->errors[0].lines[i] - 1].find("*** Error *** #002"), std::string::npos);
  }
  std::string text;
  PrintSummary(text, *s, Forms(), "C:\\Tolvan32_a.log");
  EXPECT_NE(text.find("*** Error *** #002 (Entry in library not found)\n                lines " +
                      std::to_string(s->errors[0].lines[0]) + ", " + std::to_string(s->errors[0].lines[1])),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("CUSTOMERS"), std::string::npos);
  EXPECT_NE(text.find("cannot tell them apart"), std::string::npos);
}

TEST_F(TraceReportTest, TheMaskedLogCannotTellTablesApart) {
  ScenarioLog();
  std::unique_ptr<Summary> s = Summarise(MaskedLog());
  EXPECT_EQ(s->tables.size(), 1u) << "every table is \"........\"";
  EXPECT_TRUE(s->sawMaskedAddresses);
  EXPECT_FALSE(s->sawAddresses);
  std::string text;
  PrintSummary(text, *s, Forms(), "b");
  EXPECT_NE(text.find("read C:\\Tolvan32_a.log to tell tables apart"), std::string::npos);
}

TEST_F(TraceReportTest, TheRecordTreeIndentsNestedCalls) {
  AttachTracing();
  table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
  objects.tableStorage.name = "T";
  std::string const t = testing::Hex(table);
  EXPECT_EQ(Tree(PlainLog()),
            "       1  " + t + " CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl) 2 1  => 1 ( 5 )  [reopened shared]\n"
            "       2    " + t + " CTable::CloseAccess(enum SafetyCtl) 1  => 1 ( 5 )\n");
}

TEST_F(TraceReportTest, FiltersSelectWholeRecords) {
  std::string const log = ScenarioLog();
  auto filter = std::make_unique<RecordFilter>();
  ASSERT_TRUE(AddOperationFilter(*filter, Forms(), "CloseAccess"));
  std::string tree = Tree(log, filter.get());
  // The nested closes are found inside the records that made them.
  EXPECT_NE(tree.find("CTable::Pack(void)"), std::string::npos);
  EXPECT_EQ(tree.find("CTable::Clear(void)"), std::string::npos);
  EXPECT_EQ(tree.find("GetTable"), std::string::npos);

  *filter = RecordFilter();
  filter->problemsOnly = true;
  tree = Tree(log, filter.get());
  EXPECT_EQ(LinesOf(tree).size(), 4u) << tree;  // two errors, two calls not performed
  EXPECT_NE(tree.find("[not performed: engine entry missing]"), std::string::npos);

  *filter = RecordFilter();
  ASSERT_TRUE(SetObjectFilter(*filter, "0x" + testing::Hex(users.table)));
  tree = Tree(log, filter.get());
  EXPECT_EQ(LinesOf(tree).size(), 1u) << tree;
  EXPECT_NE(tree.find("left as asked"), std::string::npos);

  EXPECT_FALSE(AddOperationFilter(*filter, Forms(), "Packing"));
  EXPECT_FALSE(SetObjectFilter(*filter, "0xg0"));
  ASSERT_TRUE(SetObjectFilter(*filter, "A41230"));
  EXPECT_EQ(filter->object, "00a41230");
}

TEST_F(TraceReportTest, JsonLinesAreValidJsonWithTheRecordsItems) {
  std::string log = ScenarioLog();
  // Bytes of the host's code page and a control character in a text item.
  log += " 00a41230 CDataDictionary::Open(char const *) C:\\\xc4\xe0\xed\xed\xfb\\\"q\"\x01.dd \r\n" +
         std::string(16, ' ') + "1 \r\n" + "junk\r\n";
  std::string out;
  ForEachRecord(log, [&](Record const& record) { PrintRecordJson(out, Forms(), record); });
  std::vector<std::string> lines = LinesOf(out);
  ASSERT_GT(lines.size(), 10u);
  for (std::string const& line : lines) EXPECT_TRUE(JsonChecker(line).Valid()) << line;
  EXPECT_NE(lines[1].find("\"operation\":\"CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl)\""), std::string::npos);
  EXPECT_NE(lines[1].find("\"arguments\":[2,1]"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"result\":1,\"state\":[5],\"policy\":\"reopened_shared\""), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"children\":[{\"line\":4,"), std::string::npos) << lines[1];
  std::string const& open = lines[lines.size() - 2];
  EXPECT_NE(open.find("C:\\\\\\u00c4\\u00e0\\u00ed\\u00ed\\u00fb\\\\\\\"q\\\"\\u0001.dd"), std::string::npos) << open;
  EXPECT_NE(lines.back().find("\"type\":\"unreadable\""), std::string::npos);

  std::string text;
  PrintSummaryJson(text, *Summarise(log), Forms(), "C:\\Tolvan32_a.log");
  EXPECT_TRUE(JsonChecker(text).Valid()) << text;
  EXPECT_NE(text.find("\"reopened_shared\":1"), std::string::npos);
  EXPECT_NE(text.find("{\"number\":\"002\",\"count\":2"), std::string::npos);
}

// Two failures of the policy, each with its own label: the engine refuses
// the exclusive open inside Pack, and the shared reopen of a forced open.
TEST_F(TraceReportTest, RefusedOpensAreFailuresNotSuccesses) {
  AttachTracing();
  objects.tableStorage.shareMode = 1;
  engine.QueueResult(kTable_OpenAccess, 0);  // the exclusive open inside Pack
  table->Pack();
  engine.QueueResult(kTable_OpenAccess, 1);  // the host's open...
  engine.QueueResult(kTable_OpenAccess, 0);  // ...and the forced shared reopen
  table->OpenAccess(ShareModeCtl(2), SafetyCtl(1));
  std::string const log = PlainLog();
  std::unique_ptr<Summary> s = Summarise(log);
  EXPECT_EQ(s->paired.exclusiveRefused[0], 1u);
  EXPECT_EQ(s->paired.escalated[0], 0u);
  EXPECT_EQ(s->paired.reopenFailed, 1u);
  EXPECT_EQ(s->paired.reopenedShared, 0u);
  EXPECT_EQ(s->mixing.line, 0u);
  std::string text;
  PrintSummary(text, *s, Forms(), "a");
  EXPECT_NE(text.find("         1      Pack: exclusive open refused by the engine"), std::string::npos) << text;
  EXPECT_NE(text.find("         1    shared reopen failed"), std::string::npos) << text;
  std::string const tree = Tree(log);
  EXPECT_NE(tree.find("CTable::Pack(void)  => 1 ( 5 )  [exclusive open refused by the engine"), std::string::npos)
      << tree;
  EXPECT_NE(tree.find("=> 0 ( 5 )  [shared reopen failed: table left closed]"), std::string::npos) << tree;
}

// A log with every kind of line the module writes, and two damaged ones at
// its end. With TOLVAN_TRACE_SAMPLE set it is also written there, so that
// the Windows build of the reader can be run on it.
TEST_F(TraceReportTest, ASampleLogWithEveryKindOfLine) {
  std::string log = ScenarioLog();
  StoreLayout storeStorage{};
  auto* store = reinterpret_cast<CStoreObj*>(&storeStorage);
  alignas(8) unsigned char storage[64];
  CRecAddr& address = *new (storage) CRecAddr(store->GetRecAddr());
  store->Goto(address, 0);
  double position = 0.5;
  store->FX_Double("PRICE", position, 1);
  store->GetRelPosition();
  AttachTracing(2);
  FieldLayout field{};
  field.name = "CODE";
  engine.QueueResult(kTable_GetField_ByName, reinterpret_cast<intptr_t>(&field));
  table->GetField("CODE");
  log = PlainLog() + "junk\r\n" + " 00a41230 CTable::IsOp";

  std::unique_ptr<Summary> s = Summarise(log);
  EXPECT_EQ(s->badLines, 2u);
  EXPECT_EQ(s->badNotes[0].line, LinesOf(log).size() - 1);
  EXPECT_EQ(s->errorLines, 2u);
  EXPECT_EQ(s->exchangeLines, 1u);
  // The module's copy of the working address is nested in GetRecAddr's
  // record; how the host's compiler hands the result on is its own affair.
  EXPECT_EQ(s->paired.operationCallsByModule[kRecAddr_Construct_Copy], 1u);
  EXPECT_EQ(s->operationCalls[kTable_GetField_ByName], 1u);
  EXPECT_EQ(s->paired.withoutResult, 0u);
  if (char const* path = getenv("TOLVAN_TRACE_SAMPLE")) {
    std::ofstream(path, std::ios::binary) << log;
  }
}

// Everything is counted, but only the first of each kind is kept, and every
// output says how many more there were; long texts are cut when shown.
TEST_F(TraceReportTest, TheFiguresKeepTheirBoundsWhateverTheLog) {
  std::string const result = std::string(16, ' ') + "1 ( 5 ) \r\n";
  std::string const name(300, 'N');
  std::string log = std::string(kMaxLineBytes + 10, 'x') + "\r\n" + std::string(3000, '\n');
  log += " 00a40000 CDataDictionary::GetTable(char const *) " + name + " \r\n" + std::string(16, ' ') + "10000000 \r\n";
  char address[32];
  for (size_t i = 0; i < kKeptTables + 5; ++i) {
    snprintf(address, sizeof address, " %08zx", 0x10000000 + i * 16);
    log += address + std::string(" CTable::IsOpen(void) \r\n") + result;
  }
  std::unique_ptr<Summary> s = Summarise(log);
  EXPECT_EQ(s->badLines, 3001u);
  EXPECT_EQ(s->badNotes.size(), kKeptLines);
  EXPECT_EQ(s->badNotes.back().line, kKeptLines);
  EXPECT_EQ(s->tables.size(), kKeptTables);
  EXPECT_EQ(s->callsOnOtherTables, 5u);
  EXPECT_EQ(s->tables[0].name.size, 300u);
  std::string text;
  PrintSummary(text, *s, Forms(), "a");
  EXPECT_NE(text.find("    ... and 2981 more\n"), std::string::npos) << text;
  EXPECT_NE(text.find("... and 5 calls on table objects beyond the first 10000"), std::string::npos);
  EXPECT_NE(text.find(name.substr(0, kShownText) + "\xe2\x80\xa6 (300 bytes)"), std::string::npos);
  EXPECT_EQ(text.find(name.substr(0, kShownText + 1)), std::string::npos);
  EXPECT_NE(text.find("longer than the 4 MiB the reader takes of a line"), std::string::npos);
  std::string json;
  PrintSummaryJson(json, *s, Forms(), "a");
  EXPECT_TRUE(JsonChecker(json).Valid());
  EXPECT_NE(json.find("\"bad_line_notes_more\":2001"), std::string::npos);
  EXPECT_NE(json.find("\"calls_on_uncounted_tables\":5"), std::string::npos);
  EXPECT_NE(json.find("\\u2026 (300 bytes)\""), std::string::npos);

  // Runs and threads beyond the bounds: counted, and no call lost.
  std::string runs;
  for (size_t i = 0; i < kKeptRuns + 3; ++i) {
    std::string const ids = " [" + std::to_string(100 + i) + ":1]";
    runs += ids + " *** Run *** 2026-12-09 10:22:31 Tolvan32 1.0.0.0 Tolvan32_TraceIds=1 Host C:\\h.exe \r\n";
  }
  for (size_t i = 0; i < kMaxStreams + 100; ++i) {
    std::string const ids = " [7:" + std::to_string(i) + "]";
    runs += ids + " 00a41230 CTable::IsOpen(void) \r\n";
    if (i) runs += " [7:" + std::to_string(i - 1) + "]" + result;
  }
  runs += " [7:" + std::to_string(kMaxStreams + 99) + "]" + result;
  s = Summarise(runs);
  EXPECT_EQ(s->runs.size(), kKeptRuns);
  EXPECT_EQ(s->runCount, kKeptRuns + 3);
  EXPECT_EQ(s->calls, kMaxStreams + 100);
  EXPECT_EQ(s->paired.withoutResult, 0u) << "only threads idle longest make room";
  text.clear();
  PrintSummary(text, *s, Forms(), "a");
  EXPECT_NE(text.find("... and 983 more runs"), std::string::npos);
}

class TraceProgramTest : public TraceReportTest {
 protected:
  int Run(std::string const& arguments, std::string& output, std::string const& program = TOLVAN_TRACE_TOOL) {
    std::string const command = program + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    size_t count;
    output.clear();
    while ((count = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, count);
    int const status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Write(std::string const& name, std::string const& content) {
    std::string const path = logDirectory_ + name;
    std::ofstream(path, std::ios::binary) << content;
    written_.push_back(path);
    return path;
  }
  void TearDown() override {
    for (std::string const& path : written_) unlink(path.c_str());
    TraceReportTest::TearDown();
  }
  std::vector<std::string> written_;
};

// A recorder log: the marks are neither calls nor damage, each block ends
// at its end mark, the next start or run line of its process, or the log's
// end, and every output lists the blocks with their trigger, bounded.
TEST_F(TraceProgramTest, RecorderBlocksAreListedWithTheirTriggers) {
  std::string const result = " +5us" + std::string(16, ' ') + "1 ( 5 ) \r\n";
  std::string log =
      " [7:8] @10:00:00.000001 *** Run *** 2026-12-09 10:00:00 Tolvan32 1.0.0.0 Tolvan32_Debug=0 "
      "Tolvan32_Recorder=200 Host C:\\h.exe \r\n"
      " [7:8] @10:00:01.000000 *** Recorder *** error 3 \r\n"
      " [7:8] @10:00:00.500000" + result +  // of a call made before the block
      " [7:8] @10:00:00.600000 00a41230 CTable::IsOpen(void) \r\n"
      " [9:1] @10:00:00.700000 *** Recorder *** snapshot 1 \r\n"
      " [7:8] @10:00:00.700000" + result +
      " [7:9] @10:00:00.800000 00a41240 CTable::IsOpen(void) \r\n"
      " [7:8] @10:00:01.100000 *** Recorder end *** \r\n"
      " [9:1] @10:00:00.900000 00a41250 CTable::IsOpen(void) \r\n"
      " [9:1] @10:00:01.000000 *** Run *** 2026-12-09 10:00:01 Tolvan32 1.0.0.0 Tolvan32_Debug=0 "
      "Tolvan32_Recorder=200 Host C:\\h.exe \r\n";
  for (int i = 0; i < 22; ++i) log += " [7:8] @10:00:02.000000 *** Recorder *** slow 0 \r\n";
  std::unique_ptr<Summary> s = Summarise(log);
  EXPECT_EQ(s->badLines, 0u);
  EXPECT_EQ(s->calls, 3u);
  EXPECT_EQ(s->resultsBeforeStart, 1u);
  ASSERT_EQ(s->recorder.blocks, 24u);
  ASSERT_EQ(s->recorder.kept.size(), 24u);
  RecorderBlock const& error = s->recorder.kept[0];
  EXPECT_EQ(error.trigger.text, "error");
  EXPECT_EQ(error.line, 2u);
  EXPECT_EQ(error.recorded, 3u);
  EXPECT_EQ(error.lines, 4u) << "its process's lines between the marks, not the other process's";
  EXPECT_TRUE(error.ended);
  RecorderBlock const& snapshot = s->recorder.kept[1];
  EXPECT_EQ(snapshot.process, 9u);
  EXPECT_EQ(snapshot.lines, 1u) << "ended by its process's run line";
  EXPECT_FALSE(snapshot.ended);
  ASSERT_EQ(s->recorder.byTrigger.size(), 3u);
  EXPECT_EQ(s->recorder.byTrigger[2].first.text, "slow");
  EXPECT_EQ(s->recorder.byTrigger[2].second, 22u);

  std::string const path = Write("recorder.txt", log);
  std::string output;
  ASSERT_EQ(Run("summary " + path, output), 0) << output;
  EXPECT_NE(output.find("This is a recorder log"), std::string::npos);
  EXPECT_NE(output.find("    line 2: error  process 7 thread 8, 3 recorded, 4 lines in the log\n"), std::string::npos)
      << output;
  EXPECT_NE(output.find("    ... and 4 more blocks"), std::string::npos) << output;
  ASSERT_EQ(Run("summary --json " + path, output), 0);
  EXPECT_TRUE(JsonChecker(output).Valid()) << output;
  EXPECT_NE(output.find("\"recorder_log\":true,\"recorder_blocks\":[{\"trigger\":\"error\",\"line\":2,\"pid\":7,"
                        "\"tid\":8,\"recorded\":3,\"lines\":4,\"end_mark\":true}"),
            std::string::npos)
      << output;
  ASSERT_EQ(Run("records " + path, output), 0);
  EXPECT_NE(output.find("\"line\":2,\"pid\":7,\"tid\":8,\"run\":1,\"time\":\"10:00:01.000000\",\"recorder\":\"error\","
                        "\"lines\":3,"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("\"line\":8,\"pid\":7,\"tid\":8,\"run\":1,\"time\":\"10:00:01.100000\",\"recorder_end\":true"),
            std::string::npos);
  ASSERT_EQ(Run("report --html - " + path, output), 0);
  EXPECT_NE(output.find("<span class=\"n\" data-key=\"recorder_blocks/0/lines\">4</span>"), std::string::npos);
  EXPECT_NE(output.find("data-key=\"recorder_triggers/2/blocks\">22</span> &times; slow"), std::string::npos);
}

TEST_F(TraceProgramTest, ExitStatusTellsWhetherTheWholeLogWasRead) {
  std::string const good = Write("good.txt", ScenarioLog());
  std::string const cut = Write("cut.txt", PlainLog().substr(0, PlainLog().size() - 5));
  std::string output;
  EXPECT_EQ(Run(good, output), 0) << output;
  EXPECT_NE(output.find("reopened shared"), std::string::npos);
  EXPECT_EQ(Run("summary " + cut, output), 1) << output;
  EXPECT_NE(output.find("cut off: the log ends inside this line"), std::string::npos);
  EXPECT_EQ(Run("show " + logDirectory_ + "absent.log", output), 2);
  EXPECT_NE(output.find("cannot open " + logDirectory_ + "absent.log: No such file or directory"), std::string::npos) << output;
  EXPECT_EQ(Run("show --op NoSuchOperation " + good, output), 2);
  EXPECT_EQ(Run("summary --errors " + good, output), 2) << "filters belong to show";
  EXPECT_EQ(Run("", output), 2);
}

// The log is read in batches on a second thread, a plain file straight
// into them: read from a file, from a pipe (pieces of its own sizes) and
// from memory, a log of 3 MiB whose lines fall across every boundary, one
// of them longer than a batch, gives every line and byte and the same figures.
TEST_F(TraceProgramTest, ALogIsReadWholeWhateverPiecesItComesIn) {
  std::string const result = std::string(16, ' ') + "1 ( 5 ) \r\n";
  std::string log;
  uint64_t calls = 0;
  for (int i = 0; log.size() < (3u << 20); ++i) {
    log += " 00a41230 CTable::IsOpen(void) \r\n" + result;
    log += " 00a41230 CTable::AddField(char const *) F" + std::string(i % 53, 'y') + " \r\n" +
           std::string(16, ' ') + "00a41240 ( 5 ) \r\n";
    calls += 2;
    if (i == 9000) {
      log += " 00a41230 CDataDictionary::Open(char const *) " + std::string(300000, 'x') + " \r\n" +
             std::string(16, ' ') + "1 \r\n";
      ++calls;
    }
  }
  std::string const path = Write("pieces.log", log);
  std::string fromFile;
  std::string fromPipe;
  ASSERT_EQ(Run("summary --json " + path, fromFile), 0) << fromFile.substr(0, 300);
  ASSERT_EQ(Run("-c 'cat " + path + " | " + std::string(TOLVAN_TRACE_TOOL) + " summary --json -'", fromPipe, "sh"), 0);
  std::string const counts = "\"lines\":" + std::to_string(std::count(log.begin(), log.end(), '\n')) +
                             ",\"bytes\":" + std::to_string(log.size()) + ",\"calls\":" + std::to_string(calls) +
                             ",";
  EXPECT_NE(fromFile.find(counts), std::string::npos) << fromFile.substr(0, 300);
  EXPECT_NE(fromFile.find("\"bad_lines\":0,"), std::string::npos);
  auto figures = [](std::string const& json) {  // all but the log's name
    size_t const start = json.find("\"lines\"");
    return json.substr(start, json.find("\"logs\":") - start);
  };
  EXPECT_EQ(figures(fromPipe), figures(fromFile));
  std::unique_ptr<Summary> const inMemory = Summarise(log);
  EXPECT_EQ(inMemory->calls, calls);
  EXPECT_EQ(inMemory->bytes, log.size());
  EXPECT_EQ(inMemory->badLines, 0u);
}

// Bounded memory on a log of damage and many objects (a note per damaged
// line took 24 bytes before: 3 M of them, more than 64 MB); and a machine
// without that much says so with its own exit status. Sanitizers reserve
// memory of their own, so their builds leave this out.
TEST_F(TraceProgramTest, EveryCommandRunsInBoundedMemory) {
#if !defined(__SANITIZE_ADDRESS__)
  std::string log(3 << 20, '\n');
  char line[96];
  for (int i = 0; i < 20000; ++i) {
    snprintf(line, sizeof line, " %08x CTable::IsOpen(void) \r\n                1 ( 5 ) \r\n", 0x10000000 + i * 16);
    log += line;
  }
  std::string const path = Write("large.txt", log);
  std::string output;
  for (char const* command : {"summary --json", "report --html /dev/null"}) {
    EXPECT_EQ(Run(std::string(command) + " " + path + " >/dev/null", output), 1) << command << output;
    struct rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    EXPECT_LT(usage.ru_maxrss, 64 * 1024) << command;  // kilobytes
  }
  std::string const longLine = Write("long.txt", std::string(kMaxLineBytes + 1, 'x') + "\r\n");
  EXPECT_EQ(Run("summary --json " + longLine + " >/dev/null", output), 1);
  EXPECT_EQ(Run("-c 'ulimit -v 9000; exec " + std::string(TOLVAN_TRACE_TOOL) + " summary " + longLine + "'", output, "sh"),
            3);
  EXPECT_NE(output.find("tolvan32-trace: out of memory"), std::string::npos) << output;
#endif
}

// Two processes interleaved: records in the order of their first lines,
// and a process or a thread of its own.
TEST_F(TraceProgramTest, ShowKeepsLineOrderAndSelectsProcessesAndThreads) {
  std::string const result = std::string(16, ' ') + "1 ( 5 ) \r\n";
  std::string const log = " [10:1] 00a41230 CTable::Pack(void) \r\n"
                          " [20:2] 00b41230 CTable::IsOpen(void) \r\n"
                          " [20:2]" + result +
                          " [10:1] 00a41230 CTable::CloseAccess(enum SafetyCtl) 2 \r\n"
                          " [20:3] 00b41230 CTable::IsOpen(void) \r\n"
                          " [10:1]" + result +
                          " [20:3]" + result +
                          " [10:1]" + result;
  std::string const path = Write("order.txt", log);
  std::string output;
  ASSERT_EQ(Run("show " + path, output), 0) << output;
  std::vector<std::string> lines;
  for (std::string const& line : LinesOf(output)) {
    if (line.find(" 00a41230 ") != std::string::npos || line.find(" 00b41230 ") != std::string::npos) lines.push_back(line);
  }
  ASSERT_EQ(lines.size(), 4u) << output;
  EXPECT_EQ(lines[0].rfind("       1  [10:1] 00a41230 CTable::Pack(void)", 0), 0u) << output;
  EXPECT_EQ(lines[1].rfind("       4    00a41230 CTable::CloseAccess", 0), 0u) << output;
  EXPECT_EQ(lines[2].rfind("       2  [20:2] ", 0), 0u) << output;
  EXPECT_EQ(lines[3].rfind("       5  [20:3] ", 0), 0u) << output;
  ASSERT_EQ(Run("show --json --pid 20 " + path, output), 0) << output;
  ASSERT_EQ(LinesOf(output).size(), 2u) << output;
  EXPECT_NE(LinesOf(output)[1].find("\"process\":20,\"thread\":3"), std::string::npos) << output;
  ASSERT_EQ(Run("show --tid 1 " + path, output), 0) << output;
  EXPECT_EQ(output.find("[20:"), std::string::npos) << output;
  EXPECT_NE(output.find("[10:1]"), std::string::npos) << output;
  EXPECT_EQ(Run("show --pid x " + path, output), 2);
  EXPECT_EQ(Run("summary --pid 10 " + path, output), 2);
}

// What the page gives beside the figures: the calls left without result,
// each table row's run and process, host and module calls apart, every
// writer's lane told apart; and what a redacted page leaves out.
TEST_F(TraceProgramTest, TheReportNamesRunsWritersAndCallsWithoutResult) {
  std::string const result = std::string(16, ' ') + "1 ( 5 ) \r\n";
  std::string log;
  for (char const* pid : {"10", "20"}) {
    std::string const ids = std::string(" [") + pid + ":1]";
    log += ids + " *** Run *** 2026-12-09 10:22:31 Tolvan32 1.0.0.0 Tolvan32_TraceIds=1 Host C:\\h\x1b[31m.exe \r\n";
    log += ids + " 00a40000 CDataDictionary::GetTable(char const *) KUNDEN \r\n" + ids + std::string(16, ' ') +
           "00a41230 \r\n";
    log += ids + " 00a41230 CTable::Pack(void) \r\n" + ids + " 00a41230 CTable::CloseAccess(enum SafetyCtl) 2 \r\n" +
           ids + result + ids + result;
  }
  log += " [20:1] 00a41230 CTable::IsOpen(void) \r\n";  // left by an exception
  for (int thread = 100; thread < 117; ++thread) {
    std::string const ids = " [30:" + std::to_string(thread) + "]";
    log += ids + " 00a41230 CTable::IsOpen(void) \r\n" + ids + result;
  }
  std::string const path = Write("log-\xc3\xb6.txt", log);
  std::string page;
  ASSERT_EQ(Run("report --html - " + path, page), 0) << page;
  EXPECT_NE(page.find("log-\xc3\xb6.txt"), std::string::npos) << "the path as UTF-8";
  EXPECT_NE(page.find("KUNDEN (00a41230), run 1, process 10</td>"), std::string::npos) << page;
  EXPECT_NE(page.find("KUNDEN (00a41230), run 2, process 20</td>"), std::string::npos);
  size_t const missing = page.find("<table id=\"without-result\">");
  ASSERT_NE(missing, std::string::npos);
  EXPECT_NE(page.find("data-key=\"without_result/0/line\">15</span></td><td></td><td>CTable::IsOpen(void)</td><td>00a41230</td><td>run 2, process 20 thread 1</td><td>still running",
                      missing),
            std::string::npos)
      << page.substr(missing, 600);
  EXPECT_NE(page.find("data-key=\"operations/operation=CTable::CloseAccess(enum SafetyCtl)/by_module\">2<"),
            std::string::npos);
  EXPECT_NE(page.find(">writers 16 and on</text>"), std::string::npos);
  EXPECT_NE(page.find("C:\\h\\x1b[31m.exe"), std::string::npos) << "control characters shown, not passed on";

  ASSERT_EQ(Run("report --redact --html - " + path, page), 0) << page;
  for (char const* secret : {"process 10", "process 20", "2026-12-09", "10:22:31", "KUNDEN", "00a41230"}) {
    EXPECT_EQ(page.find(secret), std::string::npos) << secret;
  }
  EXPECT_NE(page.find("run 2"), std::string::npos);
  EXPECT_NE(page.find("<td>table 2, run 2</td>"), std::string::npos);
  EXPECT_EQ(Run("report --table KUNDEN --html - " + path, page), 2) << "the page counts the whole log";

  std::string text;
  EXPECT_EQ(Run("summary " + path, text), 0);
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << "no terminal escape from the log reaches the terminal";

  std::vector<std::string> const one = LinesOf(ScenarioLog());
  std::vector<std::string> merged;
  for (std::string const& line : one) merged.insert(merged.end(), {line, line});
  ASSERT_EQ(Run("report --html - " + Write("merged.txt", JoinLines(merged)), page), 1);
  size_t const box = page.find("<b>Several writers.</b>");
  ASSERT_NE(box, std::string::npos);
  EXPECT_EQ(page.substr(box, page.find("</div>", box) - box).find("\\x0a"), std::string::npos);
}

// A timed log (Tolvan32_TraceTime=1) gives the figures of the same log
// without time, in every output; show gives each call's time and duration;
// the run line names the clock, the computer and the user.
TEST_F(TraceProgramTest, ATimedLogGivesTheFiguresOfTheSameLogWithoutTime) {
  std::string const plain = ScenarioLog();
  std::string timed;
  int64_t micros = 123456;
  for (std::string line : LinesOf(plain)) {
    std::string items = " @10:22:31." + std::to_string(micros++);
    bool const exchange = line.find("::FX_") != std::string::npos && line.size() > 3 && line.substr(line.size() - 3) == " 0 ";
    if (line.rfind(std::string(16, ' '), 0) == 0 || exchange) items += " +" + std::to_string(micros % 1000) + "us";
    timed += items + line + "\r\n";
  }
  std::string const path = logDirectory_ + "timed.txt";
  std::string plainPage;
  std::string timedPage;
  std::string plainJson;
  std::string timedJson;
  Write("timed.txt", plain);
  ASSERT_EQ(Run("report --html - " + path, plainPage), 0);
  ASSERT_EQ(Run("summary --json " + path, plainJson), 0);
  Write("timed.txt", timed);
  ASSERT_EQ(Run("report --html - " + path, timedPage), 0);
  ASSERT_EQ(Run("summary --json " + path, timedJson), 0) << timedJson;
  // The same but for the size in bytes and what only times can tell.
  auto withoutBytes = [&](std::string text, char const* before, char const* after) {
    size_t const at = text.find(before) + strlen(before);
    return text.erase(at, text.find(after, at) - at);
  };
  auto withoutTime = [](std::string const& text) {
    std::string untimed = std::regex_replace(text, std::regex("\"latency_us\":\\{[^}]*\\}"), "\"latency_us\":null");
    untimed = std::regex_replace(untimed, std::regex("\"start\":\"[^\"]*\",\"end\":(\"[^\"]*\"|null)"),
                                 "\"start\":null,\"end\":null");
    untimed = std::regex_replace(untimed, std::regex("<section id=\"(time|holds|timeline)\">.*?</section>"), "");
    return std::regex_replace(untimed, std::regex("\"timed\":.*,\"runs\":"), "\"runs\":");
  };
  EXPECT_EQ(withoutTime(withoutBytes(timedJson, "\"bytes\":", ",")), withoutTime(withoutBytes(plainJson, "\"bytes\":", ",")));
  EXPECT_EQ(withoutTime(withoutBytes(timedPage, "data-key=\"bytes\">", "<")),
            withoutTime(withoutBytes(plainPage, "data-key=\"bytes\">", "<")));
  std::string text;
  ASSERT_EQ(Run("show " + path, text), 0);
  EXPECT_NE(text.find("       3  10:22:31.123458  " + testing::Hex(table) +
                      " CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl) 2 1  => 1 ( 5 )  (462 us)  [reopened shared]"),
            std::string::npos)
      << text;
  ASSERT_EQ(Run("show --json " + path, text), 0);
  EXPECT_NE(text.find("{\"line\":1,\"time\":\"10:22:31.123456\",\"result_time\":\"10:22:31.123457\",\"duration_us\":458,"),
            std::string::npos)
      << text;

  std::string const run =
      " [7:8] @10:22:31.000001 *** Run *** 2026-12-09 10:22:31 Tolvan32 1.0.0.0 Tolvan32_TraceIds=1 "
      "Tolvan32_TraceTime=1 Clock=calibrated Computer WS7 User DOM\\Ann Lee Host C:\\Host App\\h.exe \r\n"
      " [7:8] @10:22:31.000002 00a41230 CTable::IsOpen(void) \r\n"
      " [7:8] @10:22:31.000009 +7us" + std::string(16, ' ') + "1 ( 5 ) \r\n";
  std::unique_ptr<Summary> s = Summarise(run);
  ASSERT_EQ(s->runs.size(), 1u);
  EXPECT_EQ(s->badLines, 0u);
  EXPECT_EQ(s->runs[0].computer.text, "WS7");
  EXPECT_EQ(s->runs[0].user.text, "DOM\\Ann Lee");
  EXPECT_EQ(s->runs[0].host.text, "C:\\Host App\\h.exe");
  EXPECT_EQ(s->runs[0].optionCount, 3u);
  Write("timed.txt", run);
  ASSERT_EQ(Run("report --redact --html - " + path, text), 0);
  EXPECT_EQ(text.find("WS7"), std::string::npos);
  EXPECT_EQ(text.find("Ann Lee"), std::string::npos);
}

TEST_F(TraceProgramTest, AMistakeOnTheCommandLineIsNamedWithTheNearestWord) {
  std::string const good = Write("good.txt", ScenarioLog());
  struct Case {
    std::string arguments;
    std::string message;
  } const cases[] = {
      {"show --eror " + good, "tolvan32-trace: unknown option --eror; did you mean --errors?\n"},
      {"sumary " + good, "tolvan32-trace: unknown command sumary; did you mean summary?\n"},
      {"show " + good + " --op", "tolvan32-trace: --op needs a value after it\n"},
  };
  for (Case const& c : cases) {
    std::string output;
    EXPECT_EQ(Run(c.arguments, output), 2) << c.arguments;
    EXPECT_EQ(output.find(c.message), 0u) << c.arguments << "\n" << output;
    EXPECT_NE(output.find("\nusage: tolvan32-trace [summary|show|report|records] [options] LOG...\n"), std::string::npos);
    EXPECT_NE(output.find("tolvan32-trace --help lists every option.\n"), std::string::npos);
    EXPECT_EQ(output.find("--object ADDRESS"), std::string::npos) << "the short usage, not the whole";
  }
}

TEST_F(TraceProgramTest, ShowPrintsTheSelectedRecords) {
  std::string const good = Write("good.txt", ScenarioLog());
  std::string output;
  ASSERT_EQ(Run("show --op Pack " + good, output), 0) << output;
  std::vector<std::string> lines = LinesOf(output);
  ASSERT_EQ(lines.size(), 9u) << output;
  EXPECT_EQ(output.find(kStateLegend), 0u) << "the state items explained once, at the top";
  EXPECT_NE(lines[4].find("CTable::Pack(void)  => 1 ( 5 )  [exclusive for the operation, then restored]"),
            std::string::npos);
  ASSERT_EQ(Run("show --json --errors - < " + good, output), 0) << output;
  EXPECT_EQ(LinesOf(output).size(), 4u) << output;
}

// Two single-thread traces merged line by line, as two processes without
// ids write them: said once, with the first line that one writer cannot
// have written (line 2, a call while one waits, an engine exception leaves
// too; line 4, a result with no call waiting, it cannot), and no figure
// that rests on pairing given as a plain fact after it.
TEST_F(TraceProgramTest, AMergedLogWithoutIdsIsFlaggedAndItsPairingMarked) {
  std::vector<std::string> const one = LinesOf(ScenarioLog());
  std::vector<std::string> merged;
  for (size_t i = 0; i < one.size(); ++i) merged.insert(merged.end(), {one[i], one[i]});
  std::string const path = Write("merged.txt", JoinLines(merged));
  std::string output;
  Run("summary " + path, output);
  size_t const warning = output.find("WARNING: From line 4 this log looks written by several threads or processes");
  ASSERT_NE(warning, std::string::npos) << output;
  EXPECT_NE(output.find("Tolvan32_TraceIds=1", warning), std::string::npos);
  size_t figures = 0;
  bool policySection = false;
  for (std::string const& line : LinesOf(output)) {
    if (!line.empty() && line[0] != ' ') {
      policySection = line.rfind("Share forcing", 0) == 0 || line.rfind("Exclusive use", 0) == 0 ||
                      line.rfind("Read sequences", 0) == 0;
    }
    size_t const first = line.find_first_not_of(' ');
    bool const figure = first != std::string::npos && first > 0 && isdigit(static_cast<unsigned char>(line[first]));
    if (!figure || !(policySection || line.find("module's policy") != std::string::npos)) continue;
    ++figures;
    EXPECT_NE(line.find("unreliable after line 4]"), std::string::npos) << line;
  }
  EXPECT_EQ(figures, 1u + 8u + 6u + 3u);
  Run("summary --json " + path, output);
  EXPECT_NE(output.find("\"mixed\":{\"line\":4,"), std::string::npos) << output;
  EXPECT_NE(output.find("\"unreliable_after_mixing\":{"), std::string::npos);
  Run("show " + path, output);
  size_t const marker = output.find("-------- From line 4 ");
  ASSERT_NE(marker, std::string::npos) << output;
  EXPECT_EQ(output.find("From line", marker + 20), std::string::npos) << "said once";
  for (std::string const& line : LinesOf(output.substr(marker))) {
    if (line.find(" => ") != std::string::npos) EXPECT_NE(line.find("[unreliable"), std::string::npos) << line;
  }
}

TEST_F(TraceProgramTest, TheReportIsOnePageOfTheSummarysFigures) {
  std::string const log = ScenarioLog();
  std::string const good = Write("good.txt", log);
  std::unique_ptr<Summary> s = Summarise(log);
  TablePolicy const& customers = FindTable(*s, testing::Hex(table))->policy;
  EXPECT_EQ(customers.opensAsked, 2u);
  EXPECT_EQ(customers.opensGranted, 1u) << "the engine refused the exclusive open";
  EXPECT_EQ(customers.reopenedShared, 1u);
  EXPECT_EQ(customers.escalated, 1u);
  EXPECT_EQ(customers.sequencesLocked, 2u);
  EXPECT_EQ(customers.sequencesSkippedOrUnlocked, 1u);

  std::string page;
  ASSERT_EQ(Run("report --html - " + good, page), 0) << page;
  EXPECT_NE(page.find("<td><span class=\"n\" data-key=\"tables/0/policy/reopened_shared\">1</span></td>"),
            std::string::npos);
  // The first error with the records just before it: the skipped sequence.
  uint64_t const errorLine = s->errors[0].lines[0];
  size_t const block = page.find("<h3>Lines " + std::to_string(errorLine) + "&ndash;");
  ASSERT_NE(block, std::string::npos) << page;
  std::string const before = std::to_string(errorLine - 2);  // its call line, then its result line
  EXPECT_LT(page.find(before + "  " + testing::Hex(table) + " CTable::BeginReadSequence", block),
            page.find("</div>", block));
  EXPECT_NE(page.find("CUSTOMERS"), std::string::npos);

  ASSERT_EQ(Run("report --redact --html - " + good, page), 0) << page;
  for (std::string const secret : {std::string("CUSTOMERS"), std::string("ZKUSERS"), testing::Hex(table),
                                   testing::Hex(objects.dictionary)}) {
    EXPECT_EQ(page.find(secret), std::string::npos) << secret;
  }
  EXPECT_NE(page.find("*** Error *** #002 (Entry in library not found)"), std::string::npos);
  EXPECT_EQ(Run("summary --redact " + good, page), 2) << "--redact belongs to report";
}

// A line of a timed log with ids: `micros` of the day, a duration on result lines.
std::string Timed(char const* ids, int64_t micros, std::string const& body, int64_t duration = -1) {
  std::string line = std::string(" [") + ids + "] @";
  AppendTimeOfDay(line, micros);
  if (duration >= 0) line += " +" + std::to_string(duration) + "us";
  return line + body + "\r\n";
}
std::string const kResult(16, ' ');
std::string const kOpen = " 00a41230 CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl) ";
std::string const kRunLine =
    " *** Run *** 2026-12-09 10:22:30 Tolvan32 1.0.0.0 Tolvan32_TraceIds=1 Tolvan32_TraceTime=1 Clock=precise "
    "Computer WS7 User D\\A Host C:\\h.exe ";

TEST(TraceTimeTest, LatencyPerOperationComesFromABoundedHistogramWithin1Percent) {
  LatencyHistogram histogram;
  uint64_t total = 0;
  for (uint64_t d = 1; d <= 100000; ++d) {
    uint64_t const value = d * 37 % 1000003;  // spread over six decades
    histogram.Add(value);
    total += value;
  }
  EXPECT_EQ(histogram.count, 100000u);
  EXPECT_EQ(histogram.total, total);
  std::vector<uint64_t> all;
  for (uint64_t d = 1; d <= 100000; ++d) all.push_back(d * 37 % 1000003);
  std::sort(all.begin(), all.end());
  EXPECT_EQ(histogram.max, all.back());
  for (unsigned percent : {50u, 95u, 99u}) {
    double const exact = static_cast<double>(all[(all.size() * percent + 99) / 100 - 1]);
    EXPECT_NEAR(static_cast<double>(histogram.Percentile(percent)), exact, exact / 100) << percent;
  }
  LatencyHistogram small;
  for (uint64_t value : {3u, 3u, 5u, 90u}) small.Add(value);
  EXPECT_EQ(small.Percentile(50), 3u);
  EXPECT_EQ(small.Percentile(95), 90u);

  // Only the host's calls with a duration: a Pack's nested calls are the module's.
  std::string log = Timed("7:8", 1000, kRunLine);
  for (int i = 0; i < 3; ++i) {
    log += Timed("7:8", 2000 + i * 10, " 00a41230 CTable::IsOpen(void) ");
    log += Timed("7:8", 2005 + i * 10, kResult + "1 ( 5 ) ", 100 * (i + 1));
  }
  log += Timed("7:8", 3000, " 00a41230 CTable::Pack(void) ");
  log += Timed("7:8", 3001, " 00a41230 CTable::CloseAccess(enum SafetyCtl) 2 ");
  log += Timed("7:8", 3002, kResult + "1 ( 5 ) ", 1);
  log += Timed("7:8", 3003, kOpen + "2 1 ");
  log += Timed("7:8", 3004, kResult + "1 ( 5 ) ", 1);
  log += Timed("7:8", 3005, " 00a41230 CTable::CloseAccess(enum SafetyCtl) 1 ");
  log += Timed("7:8", 3006, kResult + "1 ( 5 ) ", 1);
  log += Timed("7:8", 3007, kOpen + "1 1 ");
  log += Timed("7:8", 3008, kResult + "1 ( 5 ) ", 1);
  log += Timed("7:8", 900000, kResult + "1 ( 5 ) ", 897000);
  std::unique_ptr<Summary> s = Summarise(log);
  ASSERT_TRUE(s->timing.timed);
  LatencyHistogram const& isOpen = *s->timing.latency[kTable_IsOpen];
  EXPECT_EQ(isOpen.count, 3u);
  EXPECT_EQ(isOpen.total, 600u);
  EXPECT_NEAR(static_cast<double>(isOpen.Percentile(50)), 200, 2);
  EXPECT_EQ(isOpen.max, 300u);
  EXPECT_EQ(s->timing.latency[kTable_Pack]->max, 897000u);
  EXPECT_FALSE(s->timing.latency[kTable_OpenAccess]) << "the module's opens inside Pack are not the host's";
  std::unique_ptr<Summary> untimed = Summarise(" 00a41230 CTable::IsOpen(void) \r\n" + kResult + "1 ( 5 ) \r\n");
  EXPECT_FALSE(untimed->timing.timed);
  EXPECT_TRUE(untimed->timing.latency.empty());
}

TEST(TraceTimeTest, TheTwentySlowestCallsWithTheCallsBeforeThem) {
  std::string log = Timed("7:8", 1000, kRunLine) + Timed("7:8", 1001, " 00a41000 CDataDictionary::GetTable(char const *) CUSTOMERS ") +
                    Timed("7:8", 1002, kResult + "00a41230 ", 1);
  for (int i = 0; i < 30; ++i) {
    int64_t const at = 2000 + i * 1000;
    log += Timed(i % 2 ? "7:9" : "7:8", at, " 00a41230 CTable::IsOpen(void) ");
    log += Timed(i % 2 ? "7:9" : "7:8", at + 500, kResult + "1 ( 5 ) ", i == 17 ? 200000 : 10 + i);
  }
  std::unique_ptr<Summary> s = Summarise(log);
  std::vector<SlowCall> const& slowest = s->timing.slowest;
  ASSERT_EQ(slowest.size(), kSlowestKept);
  EXPECT_EQ(slowest[0].call.duration, 200000);
  EXPECT_EQ(slowest[0].call.line, 4u + 2 * 17);
  EXPECT_EQ(slowest[0].call.ids.thread, 9u);
  EXPECT_EQ(slowest[0].table.text, "CUSTOMERS");
  ASSERT_EQ(slowest[0].before.size(), kContextCalls);
  EXPECT_EQ(slowest[0].before[0].line, 4u + 2 * 14);
  EXPECT_EQ(slowest[0].before[2].line, 4u + 2 * 16);
  for (size_t i = 1; i < slowest.size(); ++i) EXPECT_EQ(slowest[i].call.duration, 40 - static_cast<int64_t>(i) - (i >= 13));
  EXPECT_EQ(slowest.back().call.duration, 10 + 10);  // the ten fastest left out
}

TEST(TraceTimeTest, CallsWithoutResultSayWhenAndWhy) {
  std::string const log = Timed("7:8", 1000, kRunLine) + Timed("7:8", 2000, " 00a41230 CTable::Pack(void) ") +
                          Timed("7:8", 3000, " 00a41230 CTable::IsOpen(void) ") +
                          Timed("7:8", 3001, kResult + "1 ( 5 ) ", 1) +
                          Timed("7:9", 4000, " 00a41230 CTable::IsOpen(void) ");
  std::unique_ptr<Summary> s = Summarise(log);
  std::vector<OpenCall> const& calls = s->paired.openCalls;
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].line, 2u);
  EXPECT_EQ(calls[0].time, 2000);
  EXPECT_FALSE(calls[0].endedWithLog) << "its thread went on: left by an exception";
  EXPECT_EQ(calls[1].line, 5u);
  EXPECT_EQ(calls[1].ids.thread, 9u);
  EXPECT_TRUE(calls[1].endedWithLog) << "no later line of its thread";
  std::string text;
  PrintSummary(text, *s, Forms(), "log");
  EXPECT_NE(text.find("line 2 2026-12-09 00:00:00.002000  CTable::Pack(void)  process 7 thread 8  left by an exception"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("line 5 2026-12-09 00:00:00.004000  CTable::IsOpen(void)  process 7 thread 9  still running"),
            std::string::npos);
}

// Two processes of one computer and one of another, contending for CUSTOMERS.
std::string ContendedLog() {
  auto run = [](char const* ids, char const* computer) {
    std::string line = kRunLine;
    return Timed(ids, 1000, line.replace(line.find("WS7"), 3, computer));
  };
  auto getTable = [](char const* ids, char const* table) {
    return Timed(ids, 2000, std::string(" 00a41000 CDataDictionary::GetTable(char const *) CUSTOMERS ")) +
           Timed(ids, 2001, kResult + table + " ", 1);
  };
  std::string const open = " 00a41230 CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl) ";
  // Process 9 packs CUSTOMERS from 1 s to 2 s; process 7's open fails inside it, and its next one waits;
  // process 11 on another computer fails too, but its clock is not this one's.
  std::string log = run("9:1", "WS7") + run("7:1", "WS7") + run("11:1", "WS8") + getTable("9:1", "00a41230") +
                    getTable("7:1", "00b41230") + getTable("11:1", "00c41230");
  log += Timed("9:1", 1000000, " 00a41230 CTable::Pack(void) ");
  log += Timed("9:1", 1000001, " 00a41230 CTable::CloseAccess(enum SafetyCtl) 2 ") + Timed("9:1", 1000002, kResult + "1 ( 5 ) ", 1);
  log += Timed("9:1", 1000003, open + "2 1 ") + Timed("9:1", 1000004, kResult + "1 ( 5 ) ", 1);
  log += Timed("7:1", 1500000, " 00b41230" + open.substr(9) + "1 1 ") + Timed("7:1", 1500100, kResult + "0 ( 5 ) ", 100);
  log += Timed("11:1", 1500000, " 00c41230" + open.substr(9) + "1 1 ") + Timed("11:1", 1500100, kResult + "0 ( 5 ) ", 100);
  log += Timed("7:1", 1600000, " 00b41230" + open.substr(9) + "1 1 ");
  log += Timed("9:1", 1999998, " 00a41230 CTable::CloseAccess(enum SafetyCtl) 1 ") + Timed("9:1", 1999999, kResult + "1 ( 5 ) ", 1);
  log += Timed("9:1", 2000000, open + "1 1 ") + Timed("9:1", 2000001, kResult + "1 ( 5 ) ", 1);
  log += Timed("9:1", 2000002, kResult + "1 ( 5 ) ", 1000002);
  log += Timed("7:1", 2000100, kResult + "1 ( 5 ) ", 400100);
  // Then process 7 holds it by an exclusive open left as asked, until its close; its own Pack is no contention.
  log += Timed("7:1", 3000000, " 00b41230" + open.substr(9) + "0 1 ") + Timed("7:1", 3000001, kResult + "1 ( 5 ) ", 1);
  log += Timed("7:1", 3100000, " 00b41230 CTable::IsOpen(void) ") + Timed("7:1", 3100001, kResult + "1 ( 5 ) ", 1);
  log += Timed("9:1", 3200000, open + "1 1 ") + Timed("9:1", 3200001, kResult + "0 ( 5 ) ", 1);
  log += Timed("7:1", 4000000, " 00b41230 CTable::CloseAccess(enum SafetyCtl) 1 ") + Timed("7:1", 4000001, kResult + "1 ( 5 ) ", 1);
  log += Timed("9:1", 4500000, open + "1 1 ") + Timed("9:1", 4500001, kResult + "0 ( 5 ) ", 1);
  return log;
}

TEST(TraceTimeTest, WhoHeldEachTableAndWhoseOpensMetTheHold) {
  std::string const log = ContendedLog();
  std::unique_ptr<Summary> s = Summarise(log);
  ASSERT_EQ(s->badLines, 0u);
  TableTally const* const packed = FindTable(*s, "00a41230", 0);
  ASSERT_NE(packed, nullptr);
  ASSERT_EQ(packed->holds.kept.size(), 1u);
  Hold const& pack = packed->holds.kept[0];
  EXPECT_STREQ(pack.kind, "Pack");
  EXPECT_EQ(pack.pid, 9u);
  EXPECT_EQ(pack.start, 1000000);
  EXPECT_EQ(pack.end, 2000002);
  EXPECT_EQ(pack.startLine, 10u);
  EXPECT_EQ(pack.endLine, 24u);
  TableTally const* const opened = FindTable(*s, "00b41230", 1);
  ASSERT_EQ(opened->holds.kept.size(), 1u);
  EXPECT_STREQ(opened->holds.kept[0].kind, "open");
  EXPECT_EQ(opened->holds.kept[0].startLine, 26u);
  EXPECT_EQ(opened->holds.kept[0].endLine, 32u);
  EXPECT_EQ(opened->holds.kept[0].end, 4000001);

  std::vector<Contention> const& contention = s->timing.contention;
  ASSERT_EQ(contention.size(), 3u);
  EXPECT_EQ(contention[0].outcome, kContentionFailed);
  EXPECT_EQ(contention[0].waiterPid, 7u);
  EXPECT_EQ(contention[0].waiterLine, 15u);
  EXPECT_EQ(contention[0].holderPid, 9u);
  EXPECT_EQ(contention[0].holderLine, 10u);
  EXPECT_EQ(contention[0].table.text, "CUSTOMERS");
  EXPECT_EQ(contention[1].outcome, kContentionWaited);
  EXPECT_EQ(contention[1].waiterLine, 19u);
  EXPECT_EQ(contention[2].outcome, kContentionFailed);
  EXPECT_EQ(contention[2].waiterPid, 9u);
  EXPECT_EQ(contention[2].holderLine, 26u);
  Summary slower;
  slower.timing.slowMicros = 500000;
  TraceReader reader(Forms(), slower, [&](Record const& record) { CountRecord(slower, Forms(), record); });
  reader.ReadText(log);
  EXPECT_EQ(slower.timing.contentionCount, 2u) << "400 ms is no wait with --slow 500";

  // Without times: the holds in line numbers, contention left out and said so.
  std::string untimed;
  for (std::string const& line : LinesOf(log)) {
    LineIds ids;
    LineTime time;
    size_t const taken = TakeLineItems(line.data(), line.size(), ids, time);
    untimed += line.substr(0, line.find(']') + 1) + line.substr(taken) + "\r\n";
  }
  s = Summarise(untimed);
  EXPECT_EQ(FindTable(*s, "00a41230", 0)->holds.kept[0].endLine, 24u);
  EXPECT_EQ(FindTable(*s, "00a41230", 0)->holds.kept[0].start, -1);
  EXPECT_EQ(s->timing.contentionCount, 0u);
  std::string text;
  PrintSummary(text, *s, Forms(), "log");
  EXPECT_NE(text.find("contention across processes is left out"), std::string::npos);
}

TEST(TraceTimeTest, TheTimelineRunsAlongTimeWithTheHoldsDrawnOnIt) {
  auto page = [](std::string const& log) {
    Summary summary;
    HtmlReport report(Forms(), false);
    TraceReader reader(Forms(), summary, [&](Record const& record) {
      CountRecord(summary, Forms(), record, true, &report);
      report.AddRecord(record);
    });
    reader.ReadText(log);
    std::string out;
    report.Write(out, summary, "log");
    return out.substr(out.find("<section id=\"timeline\">"));
  };
  std::string const timed = page(ContendedLog());
  EXPECT_NE(timed.find(">WS7 9:1</text>"), std::string::npos) << "a lane per computer, process and thread";
  EXPECT_NE(timed.find(">WS8 11:1</text>"), std::string::npos);
  EXPECT_NE(timed.find("text-anchor=\"start\">00:00:00.002000</text>"), std::string::npos) << timed;
  // The Pack from 1 s to 2 s over a span of about 4.5 s, in process 9's lane (the first).
  size_t const band = timed.find("<rect class=\"hold\" x=\"");
  ASSERT_NE(band, std::string::npos);
  int const left = std::stoi(timed.substr(band + 22));
  EXPECT_NEAR(left, 150 + 800 * 1.0 / 4.5, 12);
  EXPECT_NE(timed.find("CUSTOMERS held (Pack) from 00:00:01.000000 to 00:00:02.000002"), std::string::npos);
  EXPECT_NE(timed.find("<rect class=\"contended\""), std::string::npos);
  EXPECT_EQ(timed.find("text-anchor=\"end\">line "), std::string::npos);
  std::string const untimed = page(" 00a41230 CTable::IsOpen(void) \r\n" + kResult + "1 ( 5 ) \r\n");
  EXPECT_NE(untimed.find(">line 1</text>"), std::string::npos);
  EXPECT_EQ(untimed.find("class=\"hold\""), std::string::npos);
}

TEST_F(TraceProgramTest, TimeFiguresHaveTheirJsonNamesAndThePageShowsThem) {
  std::string log = Timed("7:8", 1000, kRunLine) + Timed("7:8", 1001, " 00a41000 CDataDictionary::GetTable(char const *) CUSTOMERS ") +
                    Timed("7:8", 1002, kResult + "00a41230 ", 4);
  log += Timed("7:8", 5000, " 00a41230 CTable::IsOpen(void) ") + Timed("7:8", 250000, kResult + "1 ( 5 ) ", 245000);
  log += Timed("7:8", 260000, " 00a41230 CTable::IsOpen(void) ");
  std::string const path = Write("timed.txt", log);
  std::string json;
  ASSERT_EQ(Run("summary --json " + path, json), 0) << json;
  EXPECT_TRUE(JsonChecker(json).Valid()) << json;
  for (char const* expected :
       {"\"operation\":\"CTable::IsOpen(void)\",\"calls\":2,\"by_module\":0,\"latency_us\":{\"count\":1,\"total\":245000,"
        "\"p50\":245000,\"p95\":245000,\"max\":245000}",
        "\"slowest\":[{\"line\":4,\"time\":\"2026-12-09 00:00:00.005000\",\"pid\":7,\"tid\":8,\"operation\":"
        "\"CTable::IsOpen(void)\",\"object\":\"00a41230\",\"table\":\"CUSTOMERS\",\"duration_us\":245000,",
        "\"without_result\":[{\"line\":6,\"time\":\"2026-12-09 00:00:00.260000\",\"pid\":7,\"tid\":8,\"operation\":"
        "\"CTable::IsOpen(void)\",\"reason\":\"still running\"}]",
        "\"holds\":[],\"holds_more\":0", "\"contention\":[]"}) {
    EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
  }
  std::string page;
  ASSERT_EQ(Run("report --html - " + path, page), 0);
  EXPECT_NE(page.find("data-key=\"slowest/0/duration_us\">245000<"), std::string::npos);
  EXPECT_NE(page.find("data-key=\"operations/operation=CTable::IsOpen(void)/latency_us/p95\">245000<"),
            std::string::npos);
  EXPECT_NE(page.find("still running when the log ends"), std::string::npos);
}

// The logs of several computers read as one: each log's runs its own, a
// process id seen again on another computer another process, and contention
// found across the logs of one computer only.
TEST_F(TraceProgramTest, SeveralLogsAreReadAsOneAndOnlyOneComputersClocksAreCompared) {
  std::string logs[3];  // process 9 and process 7 of WS7, and WS8's, given process id 9 too
  for (std::string const& line : LinesOf(ContendedLog())) {
    int const which = line.rfind(" [9:", 0) == 0 ? 0 : line.rfind(" [7:", 0) == 0 ? 1 : 2;
    logs[which] += (which == 2 ? " [9:" + line.substr(line.find(':') + 1) : line) + "\r\n";
  }
  std::string const a = Write("ws7-a.log", logs[0]), b = Write("ws7-b.log", logs[1]), c = Write("ws8.log", logs[2]);
  std::string json;
  ASSERT_EQ(Run("summary --json " + a + " " + b + " " + c, json), 0) << json;
  EXPECT_TRUE(JsonChecker(json).Valid()) << json;
  size_t const first = LinesOf(logs[0]).size();
  for (std::string const& expected :
       {"\"source\":\"" + a + " + " + b + " + " + c + "\"",
        "{\"log\":\"" + b + "\",\"compressed\":\"\",\"first_line\":" + std::to_string(first + 1),
        std::string("\"computers\":[\"WS7\",\"WS8\"],\"clocks\":\"These 3 logs come from 2 computers (WS7, WS8)"),
        std::string("\"run\":3,\"line\":") + std::to_string(first + LinesOf(logs[1]).size() + 1) + ",\"process\":9"}) {
    EXPECT_NE(json.find(expected), std::string::npos) << expected << "\n" << json;
  }
  // The same three contentions as in the one log: WS8's failed open inside WS7's Pack is none.
  EXPECT_EQ(std::regex_search(json, std::regex("\"outcome\":\"failed\"")), true);
  std::string const contention = json.substr(json.find("\"contention\":["));
  EXPECT_EQ(std::count(contention.begin(), contention.begin() + contention.find(']'), '{'), 3) << contention;
  EXPECT_NE(contention.find("\"holder_pid\":9,\"holder_line\":"), std::string::npos);
  EXPECT_EQ(contention.find("\"waiter_line\":" + std::to_string(first + LinesOf(logs[1]).size() + 4)),
            std::string::npos) << "WS8's open, the fourth line of its log";

  std::string text;
  ASSERT_EQ(Run("summary " + a + " " + c, text), 0) << text;
  EXPECT_NE(text.find("  2 logs, their lines numbered on through them:\n"), std::string::npos) << text;
  EXPECT_NE(text.find("the clocks of different computers are not compared"), std::string::npos);
  std::string page;
  ASSERT_EQ(Run("report --html - " + a + " " + b + " " + c, page), 0);
  EXPECT_NE(page.find("<div class=\"warn\" id=\"logs\"><b>3 logs</b>"), std::string::npos);
  EXPECT_NE(page.find("the clocks of different computers are not compared"), std::string::npos);
  ASSERT_EQ(Run("show " + a + " " + b, text), 0);
  EXPECT_NE(text.find("======== " + b + ", its lines numbered from " + std::to_string(first + 1)), std::string::npos);
  EXPECT_LT(text.find("======== " + a), text.find("======== " + b));
}

// gzip and the collect bundle's zip, told by their first bytes; damaged
// compressed data named, with exit status 2; memory bounded all the same.
TEST_F(TraceProgramTest, CompressedLogsAndBundlesAreReadDirectly) {
  auto gzip = [&](std::string const& name, std::string const& text) {
    std::string const path = Write(name, "");
    gzFile file = gzopen(path.c_str(), "wb");
    gzwrite(file, text.data(), static_cast<unsigned>(text.size()));
    gzclose(file);
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  std::string const plainLog = ScenarioLog();
  std::string const packed = gzip("packed.bin", plainLog);
  std::string plain, read;
  ASSERT_EQ(Run("summary --json " + Write("plain.log", plainLog), plain), 0);
  ASSERT_EQ(Run("summary --json " + logDirectory_ + "packed.bin", read), 0) << read;
  EXPECT_NE(read.find("\"compressed\":\"gzip\""), std::string::npos);
  EXPECT_EQ(read.substr(read.find("\"lines\":36,\"bytes\""), 900), plain.substr(plain.find("\"lines\":36,\"bytes\""), 900));

  std::string bundle;
  ZipWriter zip([&](char const* data, size_t size) { return bundle.append(data, size), true; }, 0, 0);
  zip.AddEntry("Tolvan32_a-20261208-101500.log", plainLog);
  zip.AddEntry("Tolvan32_a.log", plainLog);
  zip.AddEntry("Tolvan32_b.log", "masked: not read");
  zip.AddEntry("check.txt", "not a log");
  ASSERT_TRUE(zip.Finish());
  ASSERT_EQ(Run("summary " + Write("bundle", bundle), read), 0) << read;
  EXPECT_NE(read.find("2  lines 37-72  " + logDirectory_ + "bundle:Tolvan32_a.log (zip)\n"), std::string::npos) << read;
  EXPECT_NE(read.find("\n        72  lines\n"), std::string::npos);
  // A stored entry, its sizes before its data.
  std::string stored = "PK\3\4" + std::string(10, '\0');
  uint32_t const crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<Bytef const*>(plainLog.data()), plainLog.size()));
  for (uint32_t value : {crc, uint32_t(plainLog.size()), uint32_t(plainLog.size())}) {
    for (int i = 0; i < 4; ++i) stored += static_cast<char>(value >> 8 * i);
  }
  stored += std::string("\x0e\0\0\0", 4) + "logs/trace.log" + plainLog + "PK\5\6" + std::string(18, '\0');
  ASSERT_EQ(Run("records " + Write("stored.zip", stored), read), 0) << read;
  EXPECT_NE(read.find("{\"file\":\"" + logDirectory_ + "stored.zip:logs/trace.log\",\"line\":36,"), std::string::npos);

  std::string reportOnly;  // a bundle of --redact
  ZipWriter redacted([&](char const* data, size_t size) { return reportOnly.append(data, size), true; }, 0, 0);
  ASSERT_TRUE(redacted.AddEntry("Tolvan32-report.html", "<html>") && redacted.Finish());
  std::string damaged = packed;
  for (size_t i = 20; i < 40; ++i) damaged[i] = static_cast<char>(~damaged[i]);
  for (auto const& bad : {std::make_pair(damaged, "the compressed data is damaged near byte "),
                          std::make_pair(packed.substr(0, packed.size() / 2), "the compressed data is cut short"),
                          std::make_pair(bundle.substr(0, bundle.size() - 300), "cut short"),
                          std::make_pair(stored.replace(60, 1, "#"), "logs/trace.log is damaged: its bytes do not match"),
                          std::make_pair(reportOnly, "holds no log to read (the plain logs, *.log but Tolvan32_b*.log); its entries: "
                                                     "Tolvan32-report.html")}) {
    EXPECT_EQ(Run("summary " + Write("bad.zip", bad.first), read), 2) << bad.second;
    EXPECT_NE(read.find(bad.second), std::string::npos) << read;
  }
#if !defined(__SANITIZE_ADDRESS__)
  std::string large;
  for (int i = 0; i < 200; ++i) large += plainLog;
  std::string const big = logDirectory_ + "big.gz";
  std::string const many = gzip("big.gz", large) + gzip("more.gz", large);  // two members, as cat of two .gz
  Write("big.gz", many);
  EXPECT_EQ(Run("summary " + big + " " + big + " " + big, read), 0) << read;
  EXPECT_NE(read.find(std::to_string(36 * 400 * 3) + "  lines"), std::string::npos) << read;
  struct rusage usage;
  getrusage(RUSAGE_CHILDREN, &usage);
  EXPECT_LT(usage.ru_maxrss, 64 * 1024);
#endif
}

}  // namespace
}  // namespace tools
}  // namespace tolvan

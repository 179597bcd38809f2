// What the trace reader tells its users: the figures of a log, the record
// tree, the JSON lines, the filters of "show", and the program's exit status.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <new>

#include "tests/support/engine_objects.h"
#include "tests/support/test_fixture.h"
#include "tools/tests/trace_test_support.h"
#include "tools/trace/trace_print.h"

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
  EXPECT_EQ(customers->name, "CUSTOMERS");
  // Host calls and the module's nested calls on the table, all counted.
  EXPECT_EQ(customers->calls, 2u + 1u + 5u + 1u + 2u * 2u + 1u + 2u);
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

class TraceProgramTest : public TraceReportTest {
 protected:
  int Run(std::string const& arguments, std::string& output) {
    std::string const command = std::string(TOLVAN_TRACE_TOOL) + " " + arguments + " 2>&1";
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

TEST_F(TraceProgramTest, ExitStatusTellsWhetherTheWholeLogWasRead) {
  std::string const good = Write("good.txt", ScenarioLog());
  std::string const cut = Write("cut.txt", PlainLog().substr(0, PlainLog().size() - 5));
  std::string output;
  EXPECT_EQ(Run(good, output), 0) << output;
  EXPECT_NE(output.find("reopened shared"), std::string::npos);
  EXPECT_EQ(Run("summary " + cut, output), 1) << output;
  EXPECT_NE(output.find("cut off: the log ends inside this line"), std::string::npos);
  EXPECT_EQ(Run("show " + logDirectory_ + "absent.log", output), 2);
  EXPECT_EQ(Run("show --op NoSuchOperation " + good, output), 2);
  EXPECT_EQ(Run("summary --errors " + good, output), 2) << "filters belong to show";
  EXPECT_EQ(Run("", output), 2);
}

TEST_F(TraceProgramTest, AMistakeOnTheCommandLineIsNamedWithTheNearestWord) {
  std::string const good = Write("good.txt", ScenarioLog());
  struct Case {
    std::string arguments;
    std::string message;
  } const cases[] = {
      {"show --eror " + good, "tolvan32-trace: unknown option --eror; did you mean --errors?\n"},
      {"sumary " + good, "tolvan32-trace: unknown command sumary; did you mean summary?\n"},
      {"summary " + good + " " + good, "tolvan32-trace: one log only, and " + good + " and " + good +
                                           " were both given\n"},
      {"show " + good + " --op", "tolvan32-trace: --op needs a value after it\n"},
  };
  for (Case const& c : cases) {
    std::string output;
    EXPECT_EQ(Run(c.arguments, output), 2) << c.arguments;
    EXPECT_EQ(output.find(c.message), 0u) << c.arguments << "\n" << output;
    EXPECT_NE(output.find("\nusage: tolvan32-trace [summary|show|report] [options] LOG\n"), std::string::npos);
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
// ids write them: said once, with the first line that shows it, and no
// figure that rests on pairing given as a plain fact after it.
TEST_F(TraceProgramTest, AMergedLogWithoutIdsIsFlaggedAndItsPairingMarked) {
  std::vector<std::string> const one = LinesOf(ScenarioLog());
  std::vector<std::string> merged;
  for (size_t i = 0; i < one.size(); ++i) merged.insert(merged.end(), {one[i], one[i]});
  std::string const path = Write("merged.txt", JoinLines(merged));
  std::string output;
  Run("summary " + path, output);
  size_t const warning = output.find("WARNING: From line 2 this log looks written by several threads or processes");
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
    EXPECT_NE(line.find("unreliable after line 2]"), std::string::npos) << line;
  }
  EXPECT_EQ(figures, 1u + 6u + 6u + 3u);
  Run("summary --json " + path, output);
  EXPECT_NE(output.find("\"mixed\":{\"line\":2,"), std::string::npos) << output;
  EXPECT_NE(output.find("\"unreliable_after_mixing\":{"), std::string::npos);
  Run("show " + path, output);
  size_t const marker = output.find("-------- From line 2 ");
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

}  // namespace
}  // namespace tools
}  // namespace tolvan

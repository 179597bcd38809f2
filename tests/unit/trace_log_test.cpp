// The trace items, byte for byte in both files.
#include <limits.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <regex>
#include <sstream>

#include "core/flight_recorder.h"
#include "core/trace_log.h"
#include "tests/support/engine_objects.h"
#include "tests/support/test_fixture.h"

namespace tolvan {
namespace testing {
namespace {

std::string Real(double value) {
  char text[kItemBufferSize] = {};
  int const length = FormatReal(value, text);
  EXPECT_EQ(static_cast<size_t>(length), strlen(text));
  EXPECT_LT(length, kItemBufferSize);
  return text;
}

TEST(FormatRealTest, WritesTheWindowsGForm) {
  EXPECT_EQ(Real(2.5), "2.5");
  EXPECT_EQ(Real(100.0), "100");
  EXPECT_EQ(Real(0.0), "0");
  EXPECT_EQ(Real(0.0001), "0.0001");
  EXPECT_EQ(Real(123456.7), "123457");
  EXPECT_EQ(Real(1234567.0), "1.23457e+006");
  EXPECT_EQ(Real(0.00001234), "1.234e-005");
  EXPECT_EQ(Real(1000000.0), "1e+006");
  EXPECT_EQ(Real(0.1), "0.1");
  EXPECT_EQ(Real(0.00001), "1e-005");
  EXPECT_EQ(Real(-2.5), "-2.5");
  EXPECT_EQ(Real(999999.5), "1e+006") << "rounding carries into the exponent";
  EXPECT_EQ(Real(99999.95), "99999.9") << "stays plain below the limit";
  EXPECT_EQ(Real(0.000099999), "9.9999e-005");
  EXPECT_EQ(Real(1e300), "1e+300");
  EXPECT_EQ(Real(-1.7976931348623157e308), "-1.79769e+308");
  EXPECT_EQ(Real(4.9406564584124654e-324), "4.94066e-324");
}

TEST(FormatRealTest, NonFiniteValuesHaveShortNames) {
  EXPECT_EQ(Real(1.0 / 0.0), "inf");
  EXPECT_EQ(Real(-1.0 / 0.0), "-inf");
  EXPECT_EQ(Real(0.0 / 0.0), "nan");
}

TEST(FormatRealTest, AgreesWithTheCRuntimeApartFromTheExponentWidth) {
  // glibc writes two exponent digits where Windows writes three.
  double const values[] = {1.5, 12.25, 3.14159265, 271828.18, 0.000314, 6.02e23, 1.6e-19, 65536.0, 0.5e-4};
  for (double value : values) {
    char reference[64];
    snprintf(reference, sizeof reference, "%g", value);
    std::string expected = reference;
    size_t const e = expected.find('e');
    if (e != std::string::npos && expected.size() - e == 4) expected.insert(e + 2, "0");
    EXPECT_EQ(Real(value), expected) << value;
  }
}

TEST(FormatIntTest, ExtremesAndSigns) {
  char text[kItemBufferSize];
  FormatInt(INT_MIN, text);
  EXPECT_STREQ(text, "-2147483648");
  FormatInt(INT_MAX, text);
  EXPECT_STREQ(text, "2147483647");
  FormatInt(-1, text);
  EXPECT_STREQ(text, "-1");
  FormatInt(0, text);
  EXPECT_STREQ(text, "0");
}

TEST(FormatPointerTest, EightLowercaseDigitsAtLeast) {
  char text[32];
  FormatPointer(nullptr, text);
  EXPECT_STREQ(text, "00000000");
  FormatPointer(reinterpret_cast<void const*>(0x00a41230), text);
  EXPECT_STREQ(text, "00a41230");
  FormatPointer(reinterpret_cast<void const*>(0xdeadbeef), text);
  EXPECT_STREQ(text, "deadbeef");
}

class TraceItemTest : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    AttachTracing();
  }
};

TEST_F(TraceItemTest, EveryItemKindInBothFiles) {
  TraceText("text");
  TraceText(nullptr);
  TraceText("");
  TraceInt(-1);
  TraceInt(INT_MIN);
  TracePointer(nullptr);
  TracePointer(reinterpret_cast<void const*>(0x00a41230));
  TraceReal(1000000.0);
  TraceReal(0.1);
  TraceChar('Q');
  TraceChar('\0');
  TraceText("in\nthe middle");
  TraceLineEnd();
  EXPECT_EQ(MaskedLog(),
            " text NULL EMPTY -1 -2147483648 ........ ........ 1e+006 0.1 Q EMPTY in\r\nthe middle \r\n");
  EXPECT_EQ(PlainLog(),
            " text NULL EMPTY -1 -2147483648 00000000 00a41230 1e+006 0.1 Q EMPTY in\r\nthe middle \r\n");
}

TEST_F(TraceItemTest, TheBeginTransactionExampleByteForByte) {
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  EXPECT_EQ(dictionary->BeginTransaction(), 1);
  std::string const call = " CDataDictionary::BeginTransaction(void) \r\n";
  std::string const result = std::string(16, ' ') + "1 \r\n";
  EXPECT_EQ(MaskedLog(), " ........" + call + result);
  EXPECT_EQ(PlainLog(), " " + Hex(dictionary) + call + result);
}

TEST_F(TraceItemTest, ExplicitLengthsAreHonoured) {
  WriteTraceItem("abcdef", 3);
  WriteTraceItem("abcdef", 0);
  WriteTraceItem("abcdef", -4);
  WriteTraceItem(nullptr, 9);
  TraceLineEnd();
  EXPECT_EQ(PlainLog(), " abc EMPTY EMPTY NULL \r\n");
  EXPECT_EQ(MaskedLog(), PlainLog());
}

TEST_F(TraceItemTest, NothingIsWrittenWhileTracingIsOff) {
  g_module.tracing = 0;
  TraceText("lost");
  TracePointer(this);
  TraceLineEnd();
  EXPECT_FALSE(LogExists('b'));
  EXPECT_FALSE(LogExists('a'));
}

TEST_F(TraceItemTest, UnopenableMaskedLogStopsTheWholeLine) {
  TraceText("before");
  TraceLineEnd();
  host::SetUnopenableLogs("b");
  TraceText("lost");
  TracePointer(this);
  TraceLineEnd();
  host::SetUnopenableLogs("");
  TraceText("after");
  TraceLineEnd();
  EXPECT_EQ(MaskedLog(), " before \r\n after \r\n");
  EXPECT_EQ(PlainLog(), " before \r\n after \r\n");
}

TEST_F(TraceItemTest, UnopenablePlainLogLosesOnlyItsOwnCopy) {
  host::SetUnopenableLogs("a");
  TraceText("masked only");
  TracePointer(reinterpret_cast<void const*>(0x1234));
  TraceLineEnd();
  host::SetUnopenableLogs("");
  EXPECT_EQ(MaskedLog(), " masked only ........ \r\n");
  EXPECT_EQ(PlainLog(), "");
}

TEST_F(TraceItemTest, FilesAreAppendedAcrossRuns) {
  TraceText("first");
  TraceLineEnd();
  Attach({{"Tolvan32_Debug", "1"}});
  TraceText("second");
  TraceLineEnd();
  EXPECT_EQ(PlainLog(), " first \r\n second \r\n");
}

// A line reaches the files at its end, in one open of each; a line that
// cannot be collected goes out item by item, in the same order.
TEST_F(TraceItemTest, LinesAreWrittenWholeOrItemByItemWithoutMemory) {
  TraceText("collected");
  TracePointer(reinterpret_cast<void const*>(0x1234));
  EXPECT_EQ(PlainLog(), "") << "nothing before the line end";
  host::FailLogOpensFrom(0, "");
  TraceLineEnd();
  EXPECT_EQ(host::LogOpenCount(), 2);
  TraceText("begun");
  host::FailWorkStorage(true);
  TraceText("alone");
  TraceLineEnd();
  host::FailWorkStorage(false);
  EXPECT_EQ(MaskedLog(), " collected ........ \r\n begun alone \r\n");
  EXPECT_EQ(PlainLog(), " collected 00001234 \r\n begun alone \r\n");
}

// With Tolvan32_TraceIds=1 every line begins with the writer's ids, the
// process's first line is its run line, and the engine line follows the load.
TEST_F(TraceItemTest, IdsRunLineAndEngineLine) {
  Attach({{"Tolvan32_Debug", "2"}, {"Tolvan32_TraceIds", "1"}, {"Tolvan32_NoSEQ", "1"}});
  DictionaryLayout storage{};
  reinterpret_cast<CDataDictionary*>(&storage)->BeginTransaction();
  char ids[64];
  snprintf(ids, sizeof ids, " [%d:%ld] ", static_cast<int>(getpid()), static_cast<long>(syscall(SYS_gettid)));
  std::string const log = PlainLog();
  std::string const run = std::string(ids) + "*** Run *** ";
  ASSERT_EQ(log.compare(0, run.size(), run), 0) << log;
  std::string const runEnd =
      " Tolvan32 8.0.0.7 Tolvan32_Debug=2 Tolvan32_NoSEQ=1 Tolvan32_NoShare=0 Tolvan32_StopSEQ=0 "
      "Tolvan32_TraceIds=1 Host " + std::string(host::HostProgramPath()) + " \r\n";
  size_t const firstEnd = log.find("\r\n") + 2;
  EXPECT_EQ(log.substr(firstEnd - runEnd.size(), runEnd.size()), runEnd);
  EXPECT_EQ(firstEnd - runEnd.size(), run.size() + 19) << "date and time: " << log;
  EXPECT_EQ(log.substr(firstEnd), std::string(ids) + "*** Engine *** - /opt/host/Tolvan33.dll \r\n" + ids +
                                      Hex(&storage) + " CDataDictionary::BeginTransaction(void) \r\n" + ids +
                                      std::string(14, ' ') + " 1 \r\n");
  EXPECT_EQ(MaskedLog().substr(firstEnd), std::string(ids) + "*** Engine *** - /opt/host/Tolvan33.dll \r\n" + ids +
                                              "........ CDataDictionary::BeginTransaction(void) \r\n" + ids +
                                              std::string(14, ' ') + " 1 \r\n");
}

// A writer that claimed the run line and died before marking it written
// (its thread ended, or an exception left it) costs the next line one bounded
// wait, after which the run line is written by that line's writer; no line
// waits again.
TEST_F(TraceItemTest, ARunLineClaimerThatDiesStopsNobody) {
  Attach({{"Tolvan32_Debug", "1"}, {"Tolvan32_TraceIds", "1"}});
  g_module.runLineState[0] = g_module.runLineState[1] = 1;  // claimed, never marked
  auto const started = std::chrono::steady_clock::now();
  TraceText("first");
  TraceLineEnd();
  auto const taken = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) {
    TraceInt(i);
    TraceLineEnd();
  }
  auto const ended = std::chrono::steady_clock::now();
  EXPECT_LT(taken - started, std::chrono::milliseconds(3000)) << "one bounded wait";
  // A wait is 2 s: twenty lines well within it did not wait, even under valgrind.
  EXPECT_LT(ended - taken, std::chrono::milliseconds(1900)) << "20 lines without a wait";
  for (std::string const& log : {PlainLog(), MaskedLog()}) {
    size_t runLines = 0, lines = 0;
    for (size_t at = 0; (at = log.find("*** Run ***", at)) != std::string::npos; ++at) ++runLines;
    for (size_t at = 0; (at = log.find("\r\n", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(runLines, 1u) << "written by the writer that took it over";
    EXPECT_EQ(lines, 22u);
    EXPECT_NE(log.find(" 19 \r\n"), std::string::npos);
  }
}

// With Tolvan32_TraceTime every line is stamped with the local time at which
// it was begun, right after the ids (first without them); a result record,
// and a field exchange of direction 0, also carry the call's duration. The
// rest of each line is as without time.
std::string WithoutTimes(std::string const& log) {
  std::string const times = std::regex_replace(log, std::regex("@[0-2][0-9]:[0-5][0-9]:[0-5][0-9]\\.[0-9]{6}"), "@T");
  return std::regex_replace(times, std::regex(" \\+[0-9]+us "), " +Dus ");
}

// The local time of day as microseconds, from an item "@HH:MM:SS.ffffff".
long long Microseconds(std::string const& item) {
  return ((std::stoll(item.substr(1, 2)) * 60 + std::stoll(item.substr(4, 2))) * 60 + std::stoll(item.substr(7, 2))) *
             1000000 +
         std::stoll(item.substr(10, 6));
}

TEST_F(TraceItemTest, TimedLinesOfEveryKind) {
  host::HideEngineExport(DecoratedName(kDataDictionary_Close));
  Attach({{"Tolvan32_Debug", "1"}, {"Tolvan32_TraceIds", "1"}, {"Tolvan32_TraceTime", "1"}});
  engine.onCall = [](OperationId op, void*) {
    if (op == kDataDictionary_BeginTransaction) usleep(30000);
  };
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  StoreLayout storeStorage{};
  auto* store = reinterpret_cast<CStoreObj*>(&storeStorage);
  time_t const before = time(nullptr);
  dictionary->BeginTransaction();
  int value = 5;
  engine.exchange.i = 4711;
  store->FX_Int(3, value, 1);
  store->FX_Int(3, value, 0);
  dictionary->Close();
  std::string const plain = PlainLog();
  char ids[64];
  snprintf(ids, sizeof ids, " [%d:%ld]", static_cast<int>(getpid()), static_cast<long>(syscall(SYS_gettid)));
  std::string const id = ids;
  std::string const runEnd =
      " Tolvan32 8.0.0.7 Tolvan32_Debug=1 Tolvan32_NoSEQ=0 Tolvan32_NoShare=0 Tolvan32_StopSEQ=0 "
      "Tolvan32_TraceIds=1 Tolvan32_TraceTime=1 Clock=precise Computer BUILDHOST User OFFICE\\host user Host " +
      std::string(host::HostProgramPath()) + " \r\n";
  size_t const runLength = plain.find("\r\n") + 2;
  std::string const run = WithoutTimes(plain.substr(0, runLength));
  EXPECT_EQ(run.substr(0, id.size() + 16), id + " @T *** Run *** ") << run;
  EXPECT_EQ(run.substr(run.size() - runEnd.size()), runEnd) << run;
  std::string const fx = " CStoreObj::FX_Int(int,int &,int) 3 ";
  std::string const rest = id + " @T *** Engine *** - /opt/host/Tolvan33.dll \r\n" + id + " @T " + Hex(&storage) +
                           " CDataDictionary::BeginTransaction(void) \r\n" + id + " @T +Dus " + kIndent + " 1 \r\n" +
                           id + " @T " + Hex(store) + fx + "5 1 \r\n" + id + " @T +Dus " + Hex(store) + fx +
                           "4711 0 \r\n" + id + " @T *** Error *** #002 (Entry in library not found)\r\n" + id + " @T " +
                           Hex(&storage) + " CDataDictionary::Close(void) \r\n";
  EXPECT_EQ(WithoutTimes(plain.substr(runLength)), rest);
  EXPECT_EQ(WithoutTimes(MaskedLog().substr(runLength)), std::regex_replace(rest, std::regex("[0-9a-f]{8,} C"), "........ C"));

  // The times are the local time of day, in the order the lines were begun;
  // the engine's 30 ms lie between the call's time and its result's, and in
  // its duration.
  std::smatch found;
  std::vector<long long> times;
  for (auto at = plain.cbegin(); std::regex_search(at, plain.cend(), found, std::regex("@[0-9:.]{15}")); at = found[0].second) {
    times.push_back(Microseconds(found[0].str()));
  }
  ASSERT_EQ(times.size(), 8u);
  EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
  tm local = {};
  localtime_r(&before, &local);
  long long const now = ((local.tm_hour * 60LL + local.tm_min) * 60 + local.tm_sec) * 1000000;
  EXPECT_LT(std::llabs(times[0] - now), 3000000) << "the local time of day";
  EXPECT_GE(times[3] - times[2], 30000) << "the call line's time lies before the result's";
  ASSERT_TRUE(std::regex_search(plain, found, std::regex("\\+([0-9]+)us")));
  EXPECT_GE(std::stoll(found[1].str()), 30000);
  EXPECT_LT(std::stoll(found[1].str()), 30000 + 100000);
}

TEST_F(TraceItemTest, TimedLinesWithoutIdsBeginWithTheTime) {
  Attach({{"Tolvan32_Debug", "1"}, {"Tolvan32_TraceTime", "1"}});
  DictionaryLayout storage{};
  reinterpret_cast<CDataDictionary*>(&storage)->BeginTransaction();
  TraceText("partial");
  FlushPartialLine();
  EXPECT_EQ(WithoutTimes(PlainLog()), " @T " + Hex(&storage) + " CDataDictionary::BeginTransaction(void) \r\n @T +Dus " +
                                          kIndent + " 1 \r\n @T partial");
  // Off, the bytes are those of a log without the option.
  Attach({{"Tolvan32_Debug", "1"}, {"Tolvan32_TraceTime", "0"}});
  ClearLogs();
  reinterpret_cast<CDataDictionary*>(&storage)->BeginTransaction();
  EXPECT_EQ(PlainLog(), " " + Hex(&storage) + " CDataDictionary::BeginTransaction(void) \r\n" +
                            std::string(16, ' ') + "1 \r\n");
}


// The flight recorder's blocks as the plain log holds them: the run line
// first, then per block its trigger, the count of its start mark and its
// lines (without the marks).
struct RecorderBlock {
  std::string trigger;
  int count;
  std::vector<std::string> lines;
  bool ended;
};
std::vector<RecorderBlock> RecorderBlocks(std::string const& log) {
  std::vector<RecorderBlock> blocks;
  std::istringstream in(log);
  std::smatch found;
  for (std::string line; std::getline(in, line);) {
    if (std::regex_search(line, found, std::regex(R"(^ \[\d+:\d+\] @[0-9:.]{15} \*\*\* Recorder \*\*\* (\w+) (\d+) \r$)"))) {
      blocks.push_back({found[1].str(), std::stoi(found[2].str()), {}, false});
    } else if (std::regex_search(line, std::regex(R"(^ \[\d+:\d+\] @[0-9:.]{15} \*\*\* Recorder end \*\*\* \r$)"))) {
      EXPECT_FALSE(blocks.empty() || blocks.back().ended) << "an end mark without its block";
      if (!blocks.empty()) blocks.back().ended = true;
    } else if (!blocks.empty() && !blocks.back().ended) {
      blocks.back().lines.push_back(line);
    } else {
      EXPECT_NE(line.find("*** Run ***"), std::string::npos) << "only the run line stands outside a block: " << line;
    }
  }
  return blocks;
}

TEST_F(TraceItemTest, RecorderOptionsAndItsRingWithoutATrigger) {
  // Outside 100 to 100000, or with the full trace on, the recorder is off.
  for (char const* off : {"99", "100001", "on", "0"}) {
    Attach({{"Tolvan32_Recorder", off}});
    EXPECT_EQ(g_module.recorder, 0) << off;
    EXPECT_EQ(g_module.tracing, 0) << off;
  }
  Attach({{"Tolvan32_Recorder", "200"}, {"Tolvan32_Debug", "1"}});
  EXPECT_EQ(g_module.recorder, 0);
  Attach({{"Tolvan32_Recorder", "100000"}});
  EXPECT_EQ(g_module.recorder, 100000);

  // A process whose ring never triggers writes nothing; the heap stays as
  // it was once the thread's line storage is made.
  Attach({{"Tolvan32_Recorder", "200"}});
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  dictionary->BeginTransaction();
  long long const heap = host::LiveHeapBytes();
  for (int i = 0; i < 20000; ++i) dictionary->BeginTransaction();
  EXPECT_EQ(host::LiveHeapBytes(), heap);
  ModuleDetach();
  attached_ = false;
  EXPECT_FALSE(LogExists('a'));
  EXPECT_FALSE(LogExists('b'));
}

// Each trigger writes one block: the ring's last lines oldest first, whole
// and once, the triggering call's line last, in both logs alike but for
// the masked pointers.
TEST_F(TraceItemTest, RecorderBlocksOfEveryTrigger) {
  TableOfDictionary objects("CUSTOMERS", 1);
  CTable* const table = objects.table;
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  struct Case {
    char const* trigger;
    std::function<void()> fault;
    std::string lastLine;  // the block's last line, without its prefix
  };
  std::string const tableHex = Hex(table);
  std::vector<Case> const cases = {
      {"error", [&] {
         // A line over the ring's line bound is kept cut, its pointer masked.
         dictionary->SetSysFilePath(std::string(300, 'x').c_str());
         host::HideEngineExport(DecoratedName(kDataDictionary_Close));
         dictionary->Close();
       },
       Hex(&storage) + " CDataDictionary::Close(void)"},
      {"policy", [&] {
         engine.QueueResult(kTable_CloseAccess, 1);
         engine.QueueResult(kTable_OpenAccess, 0);
         table->Pack();
       }, std::string("+Dus ") + kIndent + " 1 ( 5 )"},
      {"exception", [&] {
         engine.onCall = [](OperationId op, void*) { if (op == kDataDictionary_EndTransaction) throw 7; };
         EXPECT_THROW(dictionary->EndTransaction(TransactionCtl(1)), int);
       }, Hex(&storage) + " CDataDictionary::EndTransaction(enum TransactionCtl) 1"},
      {"slow", [&] {
         engine.onCall = [](OperationId op, void*) { if (op == kDataDictionary_EndTransaction) usleep(30000); };
         dictionary->EndTransaction(TransactionCtl(2));
       }, std::string("+Dus ") + kIndent + " 1"},
      {"snapshot", [&] {
         usleep(1100000);
         FILE* request = fopen((logDirectory_ + "Tolvan32_snapshot.req").c_str(), "a");
         fputs("asked\n", request);
         fclose(request);
         dictionary->EndTransaction(TransactionCtl(3));
       }, std::string("+Dus ") + kIndent + " 1"},
  };
  for (Case const& c : cases) {
    ClearLogs();
    unlink((logDirectory_ + "Tolvan32_snapshot.req").c_str());
    engine.onCall = nullptr;
    Attach({{"Tolvan32_Recorder", "100"}, {"Tolvan32_RecorderSlowMs", "20"}});
    for (int i = 0; i < 300; ++i) dictionary->BeginTransaction();
    c.fault();
    ModuleDetach();
    attached_ = false;
    std::string const plain = PlainLog();
    std::vector<RecorderBlock> const blocks = RecorderBlocks(plain);
    ASSERT_EQ(blocks.size(), 1u) << c.trigger << "\n" << plain.substr(0, 2000);
    RecorderBlock const& block = blocks[0];
    EXPECT_EQ(block.trigger, c.trigger);
    EXPECT_TRUE(block.ended) << c.trigger;
    EXPECT_EQ(block.count, 100) << c.trigger << ": the ring was full";
    ASSERT_GE(block.lines.size(), 100u) << c.trigger;
    for (std::string const& line : block.lines) {
      EXPECT_TRUE(std::regex_search(line, std::regex(R"(^ \[\d+:\d+\] @[0-9:.]{15} .*\r$)"))) << c.trigger << ": " << line;
    }
    std::string const last = WithoutTimes(block.lines.back());
    EXPECT_EQ(last.substr(last.find("@T ") + 3), c.lastLine + " \r") << c.trigger;
    EXPECT_EQ(std::regex_replace(plain, std::regex("[0-9a-f]{8,} C"), "........ C"), MaskedLog()) << c.trigger;
    if (c.trigger == std::string("error")) {
      auto const cut = std::find_if(block.lines.begin(), block.lines.end(),
                                    [](std::string const& line) { return line.find("xxx ... \r") != std::string::npos; });
      ASSERT_NE(cut, block.lines.end()) << "the long line, cut";
      EXPECT_LE(cut->size(), 241u);
    }
  }
  unlink((logDirectory_ + "Tolvan32_snapshot.req").c_str());
}

// Faults within a second of a trigger join its block; one a second later
// starts the next, which holds only lines no block has written yet.
TEST_F(TraceItemTest, RecorderJoinsLinesWithinASecondAndNeverWritesALineTwice) {
  host::HideEngineExport(DecoratedName(kDataDictionary_Close));
  Attach({{"Tolvan32_Recorder", "100"}});
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  for (int i = 0; i < 10; ++i) dictionary->EndTransaction(TransactionCtl(i));
  dictionary->Close();
  for (int i = 10; i < 15; ++i) dictionary->EndTransaction(TransactionCtl(i));
  dictionary->Close();
  usleep(1100000);
  for (int i = 15; i < 20; ++i) dictionary->EndTransaction(TransactionCtl(i));
  dictionary->Close();
  ModuleDetach();
  attached_ = false;
  std::vector<RecorderBlock> const blocks = RecorderBlocks(PlainLog());
  ASSERT_EQ(blocks.size(), 2u);
  // The engine line, 10 calls and their results, Close's error; then,
  // joined, Close's call, 5 calls, the second Close's error and call.
  EXPECT_EQ(blocks[0].count, 22);
  EXPECT_EQ(blocks[0].lines.size(), 22u + 13u);
  EXPECT_EQ(blocks[1].count, 11) << "only the lines after the first block";
  EXPECT_EQ(blocks[1].lines.size(), 12u);
  std::string const log = PlainLog();
  for (int i = 0; i < 20; ++i) {
    std::string const call = "EndTransaction(enum TransactionCtl) " + std::to_string(i) + " \r\n";
    size_t const at = log.find(call);
    ASSERT_NE(at, std::string::npos) << i;
    EXPECT_EQ(log.find(call, at + 1), std::string::npos) << i << " written twice";
  }
}

}  // namespace
}  // namespace testing
}  // namespace tolvan

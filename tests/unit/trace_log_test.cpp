// The trace items, byte for byte in both files.
#include <limits.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

#include "core/trace_log.h"
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
  EXPECT_LT(ended - taken, std::chrono::milliseconds(300)) << "20 lines without a wait";
  for (std::string const& log : {PlainLog(), MaskedLog()}) {
    size_t runLines = 0, lines = 0;
    for (size_t at = 0; (at = log.find("*** Run ***", at)) != std::string::npos; ++at) ++runLines;
    for (size_t at = 0; (at = log.find("\r\n", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(runLines, 1u) << "written by the writer that took it over";
    EXPECT_EQ(lines, 22u);
    EXPECT_NE(log.find(" 19 \r\n"), std::string::npos);
  }
}

}  // namespace
}  // namespace testing
}  // namespace tolvan

// The trace items, byte for byte in both files.
#include <limits.h>
#include <stdio.h>

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
  EXPECT_EQ(PlainLog(), " abc EMPTY EMPTY NULL");
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

TEST_F(TraceItemTest, UnopenableMaskedLogStopsTheWholeItem) {
  TraceText("before");
  host::SetUnopenableLogs("b");
  TraceText("lost");
  TracePointer(this);
  host::SetUnopenableLogs("");
  TraceText("after");
  EXPECT_EQ(MaskedLog(), " before after");
  EXPECT_EQ(PlainLog(), " before after");
}

TEST_F(TraceItemTest, UnopenablePlainLogLosesOnlyItsOwnCopy) {
  host::SetUnopenableLogs("a");
  TraceText("masked only");
  TracePointer(reinterpret_cast<void const*>(0x1234));
  host::SetUnopenableLogs("");
  EXPECT_EQ(MaskedLog(), " masked only ........");
  EXPECT_EQ(PlainLog(), "");
}

TEST_F(TraceItemTest, FilesAreAppendedAcrossRuns) {
  TraceText("first");
  Attach({{"Tolvan32_Debug", "1"}});
  TraceText("second");
  EXPECT_EQ(PlainLog(), " first second");
}

}  // namespace
}  // namespace testing
}  // namespace tolvan

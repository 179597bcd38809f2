// Options are read once at attach from four environment variables.
#include "core/error_reporter.h"
#include "tests/support/test_fixture.h"

namespace tolvan {
namespace testing {
namespace {

TEST(OptionNumberTest, ReadsDecimalAsAtolDoes) {
  EXPECT_EQ(OptionNumber("2"), 2);
  EXPECT_EQ(OptionNumber(" 2"), 2);
  EXPECT_EQ(OptionNumber("\t\n\v\f\r 1"), 1);
  EXPECT_EQ(OptionNumber("+2"), 2);
  EXPECT_EQ(OptionNumber("02"), 2);
  EXPECT_EQ(OptionNumber("2abc"), 2);
  EXPECT_EQ(OptionNumber("1 "), 1);
  EXPECT_EQ(OptionNumber("-1"), -1);
  EXPECT_EQ(OptionNumber("0x1"), 0);
  EXPECT_EQ(OptionNumber("on"), 0);
  EXPECT_EQ(OptionNumber(""), 0);
  EXPECT_EQ(OptionNumber("+"), 0);
  EXPECT_EQ(OptionNumber("- 1"), 0);
}

TEST(OptionNumberTest, HugeNumbersNeverWrapToAnOptionValue) {
  // 2^32 + 1 would read as 1 in a 32-bit accumulator that wraps.
  EXPECT_NE(OptionNumber("4294967297"), 1);
  EXPECT_NE(OptionNumber("18446744073709551617"), 1);
  EXPECT_NE(OptionNumber("99999999999999999999999999999999999999999999"), 1);
}

using OptionsTest = ModuleTest;

struct FlagState {
  int tracing, level2, noSeq, noShare, stopSeq;
  bool operator==(FlagState const& o) const {
    return tracing == o.tracing && level2 == o.level2 && noSeq == o.noSeq && noShare == o.noShare &&
           stopSeq == o.stopSeq;
  }
};
std::ostream& operator<<(std::ostream& out, FlagState const& f) {
  return out << "{tracing " << f.tracing << ", level2 " << f.level2 << ", noSeq " << f.noSeq << ", noShare "
             << f.noShare << ", stopSeq " << f.stopSeq << "}";
}
FlagState Flags() {
  return {g_module.tracing, g_module.traceLevel2, g_module.noSeq, g_module.noShare, g_module.stopSeq};
}

TEST_F(OptionsTest, DebugLevelsAndValuesThatSwitchNothing) {
  struct Case {
    char const* value;
    int tracing, level2;
  } const cases[] = {
      {"2", 1, 1},  {"1", 1, 0},  {" 2", 1, 1}, {"+2", 1, 1}, {"02", 1, 1}, {"2xyz", 1, 1},
      {"3", 0, 0},  {"0", 0, 0},  {"-1", 0, 0}, {"", 0, 0},   {"on", 0, 0}, {"0x1", 0, 0},
  };
  for (Case const& c : cases) {
    ASSERT_EQ(Attach({{"Tolvan32_Debug", c.value}}), 1);
    EXPECT_EQ(Flags(), (FlagState{c.tracing, c.level2, 0, 0, 0})) << "Tolvan32_Debug=\"" << c.value << "\"";
  }
}

TEST_F(OptionsTest, PolicySwitchesCountOnlyForOne) {
  Attach({{"Tolvan32_NoShare", "2"}, {"Tolvan32_NoSEQ", "1"}, {"Tolvan32_StopSEQ", "0x1"}});
  EXPECT_EQ(Flags(), (FlagState{0, 0, 1, 0, 0}));
  Attach({{"Tolvan32_NoShare", "1 "}, {"Tolvan32_StopSEQ", "+1"}});
  EXPECT_EQ(Flags(), (FlagState{0, 0, 0, 1, 1}));
}

TEST_F(OptionsTest, FifteenCharacterValueDoesNotFitAndStaysOff) {
  Attach({{"Tolvan32_Debug", "000000000000001"}, {"Tolvan32_NoShare", "00000000000001"}});
  EXPECT_EQ(g_module.tracing, 0) << "15 characters do not fit the option buffer";
  EXPECT_EQ(g_module.noShare, 1) << "14 characters still fit";

  // A system that fills the buffer with the start of a value too long for it
  // must not switch anything on: "1" followed by more characters reads as 1.
  host::FillBufferWithTooLongValues(true);
  Attach({{"Tolvan32_Debug", "1xxxxxxxxxxxxxx"},
          {"Tolvan32_NoShare", "000000000000001"},
          {"Tolvan32_NoSEQ", "1 and a long explanation"},
          {"Tolvan32_StopSEQ", "00000000000001"}});
  host::FillBufferWithTooLongValues(false);
  EXPECT_EQ(Flags(), (FlagState{0, 0, 0, 0, 1})) << "only the 14-character value counts";
}

TEST_F(OptionsTest, NoOptionsLeaveEverythingOffAndWriteNothing) {
  ASSERT_EQ(Attach(), 1);
  EXPECT_EQ(Flags(), (FlagState{0, 0, 0, 0, 0}));
  for (CDataDictionary* slot : g_module.registry) EXPECT_EQ(slot, nullptr);
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  for (int i = 0; i < 5; ++i) dictionary->BeginTransaction();
  EXPECT_FALSE(LogExists('b'));
  EXPECT_FALSE(LogExists('a'));
  EXPECT_EQ(engine.CallCount(kDataDictionary_BeginTransaction), 5);
}

TEST_F(OptionsTest, AttachTakesTheScratchBufferAndDetachGivesBothBuffersBack) {
  ASSERT_EQ(Attach(), 1);
  ASSERT_NE(g_module.scratchBuffer, nullptr);
  EXPECT_GE(host::LiveHeapBytes(), kScratchStep);
  ReportError("collected without a line feed");
  EXPECT_NE(g_module.messageBuffer, nullptr);
  ModuleDetach();
  attached_ = false;
  EXPECT_EQ(g_module.messageBuffer, nullptr);
  EXPECT_EQ(g_module.scratchBuffer, nullptr);
  EXPECT_EQ(host::LiveHeapBytes(), 0);
  EXPECT_TRUE(host::MessageBoxes().empty()) << "dropped text is never shown";
}

TEST_F(OptionsTest, OptionsAreReadOnlyAtAttach) {
  Attach();
  setenv("Tolvan32_Debug", "1", 1);
  DictionaryLayout storage{};
  reinterpret_cast<CDataDictionary*>(&storage)->BeginTransaction();
  EXPECT_EQ(g_module.tracing, 0);
  EXPECT_FALSE(LogExists('a'));
}

}  // namespace
}  // namespace testing
}  // namespace tolvan

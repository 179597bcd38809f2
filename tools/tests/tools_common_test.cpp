// The pieces the two tools share: number formatting without 64-bit division,
// the Windows command line, the engine check's report, and what both tools
// say of a word they do not know.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "core/operations.h"
#include "core/version_info.h"
#include "tools/check/engine_check.h"
#include "tools/common/command_line.h"
#include "tools/common/nearest_word.h"
#include "tools/common/tool_output.h"

namespace tolvan {
namespace tools {
namespace {

TEST(FormatUnsignedTest, MatchesTheLibrarysDecimalFormOverTheWholeRange) {
  char text[24];
  for (uint64_t value : {0ull, 9ull, 10ull, 65535ull, 65536ull, 655359ull, 4294967295ull, 4294967296ull,
                         42949672950ull, 1000000000000000000ull, 18446744073709551615ull}) {
    EXPECT_EQ(FormatUnsigned(value, text), static_cast<int>(std::to_string(value).size()));
    EXPECT_EQ(std::string(text), std::to_string(value));
  }
  uint64_t value = 1;
  for (int i = 0; i < 200; ++i, value = value * 3 + 7) {
    FormatUnsigned(value, text);
    EXPECT_EQ(std::string(text), std::to_string(value));
  }
}

TEST(CommandLineTest, SplitsAsTheCRuntimeDoes) {
  using Args = std::vector<std::string>;
  EXPECT_EQ(SplitCommandLine("tool.exe a  b\tc"), (Args{"tool.exe", "a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\tool.exe\" \"D:\\My Logs\\a.log\""),
            (Args{"C:\\Program Files\\tool.exe", "D:\\My Logs\\a.log"}));
  EXPECT_EQ(SplitCommandLine("t C:\\dir\\ x"), (Args{"t", "C:\\dir\\", "x"})) << "backslashes are literal";
  EXPECT_EQ(SplitCommandLine("t \"C:\\dir\\\\\" x"), (Args{"t", "C:\\dir\\", "x"})) << "2n backslashes before a quote";
  EXPECT_EQ(SplitCommandLine("t a\\\"b"), (Args{"t", "a\"b"})) << "2n+1 backslashes: a literal quote";
  EXPECT_EQ(SplitCommandLine("t \"a\"\"b\""), (Args{"t", "a\"b"}));
  EXPECT_EQ(SplitCommandLine("t \"\""), (Args{"t", ""}));
  EXPECT_EQ(SplitCommandLine("  "), Args{});
  EXPECT_EQ(SplitCommandLine(nullptr), Args{});
}

TEST(CommandLineTest, TakesEveryArgumentWhole) {
  std::vector<std::string> args = SplitCommandLine("tool abcdefgh ijk");
  ASSERT_EQ(args.size(), 3u);
  EXPECT_EQ(args[0], "tool");
  EXPECT_EQ(args[1], "abcdefgh");
  EXPECT_EQ(args[2], "ijk");
  EXPECT_EQ(SplitCommandLine("a b c d").size(), 4u);
  std::string line = "tool";
  for (int i = 0; i < 100; ++i) line += " \"" + std::string(100, 'a') + " b\"";
  args = SplitCommandLine(line.c_str());
  ASSERT_EQ(args.size(), 101u) << "no limit on their number or length";
  EXPECT_EQ(args[100], std::string(100, 'a') + " b");
}

class EngineReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    out.sink = [](void* context, char const* data, size_t length) {
      static_cast<std::string*>(context)->append(data, length);
    };
    out.context = &text;
    out.used = 0;
  }
  bool Report(IdentityRule rule, VersionIdentity identity, bool listAll = false, char const* loaded = "Z:\\x\\Tolvan33.dll") {
    LibraryProbe const probe = {"Engine library", ".\\Tolvan33.dll", loaded, 126, identity,
                                [this](std::string const& name) { return absent.count(name) == 0; }};
    bool const good = ReportLibrary(out, probe, OperationEntries(), rule, listAll);
    Flush(out);
    return good;
  }
  Output out;
  std::string text;
  std::set<std::string> absent;
};

TEST_F(EngineReportTest, ACompleteLibraryPasses) {
  EXPECT_TRUE(Report(kMustNotBeProxy, kVersionOther));
  EXPECT_NE(text.find("entries    104 of 104 present\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("MISSING"), std::string::npos);
}

TEST_F(EngineReportTest, EachMissingEntryIsNamed) {
  absent = {DecoratedName(kTable_PutTLock), DecoratedName(kStoreObj_Update)};
  EXPECT_FALSE(Report(kMustNotBeProxy, kVersionUnknown));
  EXPECT_NE(text.find("MISSING    ?PutTLock@CTable@@QAEHW4TLockModeCtl@@@Z  CTable::PutTLock(enum TLockModeCtl)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("MISSING    ?Update@CStoreObj@@QAEHXZ"), std::string::npos);
  EXPECT_NE(text.find("102 of 104 present, INCOMPLETE"), std::string::npos);
  EXPECT_EQ(text.find("present    "), std::string::npos) << "present entries only with --all";
}

TEST_F(EngineReportTest, ListAllNamesEveryEntry) {
  absent = {DecoratedName(kTable_Pack)};
  Report(kAnyIdentity, kVersionUnknown, true);
  size_t present = 0, missing = 0;
  for (size_t at = text.find("present    "); at != std::string::npos; at = text.find("present    ", at + 1)) ++present;
  for (size_t at = text.find("MISSING    "); at != std::string::npos; at = text.find("MISSING    ", at + 1)) ++missing;
  EXPECT_EQ(present, 103u);
  EXPECT_EQ(missing, 1u);
}

TEST_F(EngineReportTest, TheWrongLibraryUnderTheRightNameFails) {
  EXPECT_FALSE(Report(kMustNotBeProxy, kVersionProxyModule)) << "the module copied over the engine";
  EXPECT_NE(text.find("WRONG FILE"), std::string::npos);
  text.clear();
  EXPECT_FALSE(Report(kMustBeProxy, kVersionOther)) << "the engine still in the module's place";
  EXPECT_NE(text.find("is the original engine still in its place?"), std::string::npos);
  text.clear();
  EXPECT_TRUE(Report(kMustBeProxy, kVersionProxyModule));
}

TEST_F(EngineReportTest, ALibraryThatDoesNotLoadFails) {
  EXPECT_FALSE(Report(kAnyIdentity, kVersionUnknown, false, ""));
  EXPECT_NE(text.find("NOT LOADED the file, or a library it needs, was not found (error 126)"), std::string::npos)
      << text;
  EXPECT_EQ(text.find("entries"), std::string::npos);
}

TEST(ProxyVersionTest, TheProductNameIsFoundAsUtf16Only) {
  auto utf16 = [](std::string const& text) {
    std::string bytes;
    for (char c : text) bytes += std::string{c, '\0'};
    return bytes;
  };
  std::string const resource = utf16("ProductName") + std::string(2, '\0') + utf16("Tolvan32 Share") + std::string(2, '\0');
  EXPECT_TRUE(VersionNamesModule(resource.data(), resource.size()));
  EXPECT_TRUE(VersionNamesModule(resource.data() + 1, resource.size() - 1)) << "at any byte offset";
  std::string const ascii = "ProductName Tolvan32 Share";
  EXPECT_FALSE(VersionNamesModule(ascii.data(), ascii.size()));
  std::string const other = utf16("Tolvan32 Shar");
  EXPECT_FALSE(VersionNamesModule(other.data(), other.size()));
  EXPECT_FALSE(VersionNamesModule(nullptr, 0));
}

TEST(NearestWordTest, TheTyposOfTheSupportLoopFindTheirWord) {
  std::vector<std::string_view> const verbs = {"check", "install", "uninstall", "repair", "trace"};
  EXPECT_EQ(NearestWord("instal", verbs), "install");
  EXPECT_EQ(NearestWord("INSTALL", verbs), "install") << "verbs are lower case";
  EXPECT_EQ(NearestWord("uninstal", verbs), "uninstall");
  EXPECT_EQ(NearestWord("chekc", verbs), "check") << "two letters swapped are one edit";
  EXPECT_EQ(NearestWord("frobnicate", verbs), "");
  EXPECT_EQ(NearestWord("of", {"on", "off", "status", "collect"}), "off") << "of is a beginning of off";
  EXPECT_EQ(NearestWord("x", {"on", "off"}), "") << "one letter is too short to guess from";
  EXPECT_EQ(NearestWord("--id", {"--level", "--plain", "--ids", "--machine"}), "--ids");
  EXPECT_EQ(NearestWord("--dryrun", {"--module", "--dry-run", "--allow-missing"}), "--dry-run");
  EXPECT_EQ(NearestWord("--eror", {"--json", "--errors", "--op", "--object"}), "--errors");
  EXPECT_EQ(NearestWord("sumary", {"summary", "show", "report"}), "summary");
  EXPECT_EQ(EditDistance("kitten", "sitting"), 3u);
  EXPECT_EQ(EditDistance("", "abc"), 3u);
}

TEST(NearestWordTest, TheMessageNamesTheWordAndWhatWasMeant) {
  ArgumentWords const words = {"tool", "show ", {"--json", "--op"}, "log", {"summary", "show"}};
  EXPECT_EQ(UnexpectedArgumentMessage(words, "--jsn", ""), "tool: unknown show option --jsn; did you mean --json?\n");
  EXPECT_EQ(UnexpectedArgumentMessage(words, "--zzzzz", ""), "tool: unknown show option --zzzzz\n");
  EXPECT_EQ(UnexpectedArgumentMessage(words, "--op", ""), "tool: --op needs a value after it\n");
  EXPECT_EQ(UnexpectedArgumentMessage(words, "b.log", "a.log"),
            "tool: one log only, and a.log and b.log were both given\n");
  EXPECT_EQ(UnexpectedArgumentMessage(words, "a.log", "sumary"), "tool: unknown command sumary; did you mean summary?\n");
}

TEST_F(EngineReportTest, TheVersionIsShownAsNumbers) {
  LibraryProbe probe = {"Module", ".\\Tolvan32.dll", "Z:\\x\\Tolvan32.dll", 0, kVersionProxyModule,
                        [](std::string const&) { return true; }, {0x00080000, 7}};
  ReportLibrary(out, probe, OperationEntries(), kMustBeProxy, false);
  probe.identity = kVersionOther;
  probe.version = {};
  ReportLibrary(out, probe, OperationEntries(), kAnyIdentity, false);
  Flush(out);
  EXPECT_NE(text.find("  version    8.0.0.7 (Tolvan32 Share)\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  version    none (no file version in its version resource)\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace tools
}  // namespace tolvan

// The module's own failures: message boxes, their texts, and the trace.
#include <map>
#include <thread>

#include "core/error_reporter.h"
#include "platform/platform.h"
#include "tests/support/test_fixture.h"

namespace tolvan {
namespace testing {
namespace {

std::string const k001Box = "*** Error *** #001 (Library \" Tolvan33.dll \" not found)\n ";
std::string const k002Box = "*** Error *** #002 (Entry in library not found)\n ";
std::string const k003Box = "*** Error *** #003 (Memory alloc was failed)\n ";
std::string const k065Box = "*** Error *** #065 (Insufficient memory available)\n ";

using ErrorReporterTest = ModuleTest;

// Each thread calls BeginTransaction `calls` times on a dictionary of its own.
void CallFromThreads(int count, int calls) {
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([calls] {
      DictionaryLayout storage{};
      for (int i = 0; i < calls; ++i) reinterpret_cast<CDataDictionary*>(&storage)->BeginTransaction();
    });
  }
  for (std::thread& thread : threads) thread.join();
}

TEST_F(ErrorReporterTest, PiecesAreCollectedUntilALineFeed) {
  Attach();
  ReportError("");
  EXPECT_FALSE(LogExists('b')) << "an empty piece does nothing at all";
  ReportError("first");
  EXPECT_TRUE(host::MessageBoxes().empty());
  ReportError("second\n");
  ReportError("a line\nfeed in the middle");
  ReportError("next\n");
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"first second\n ", "a line\nfeed in the middle ", "next\n "}));
  for (auto const& box : host::MessageBoxes()) EXPECT_EQ(box.caption, "Tolvan32 Share");
  EXPECT_EQ(MaskedLog(), " first second\r\n a line\r\nfeed in the middle next\r\n");
  EXPECT_EQ(PlainLog(), MaskedLog());
  EXPECT_EQ(g_module.messageBuffer, nullptr);
  EXPECT_EQ(g_module.tracing, 0) << "tracing is off again after each echo";
}

TEST_F(ErrorReporterTest, MissingEngineReportsLibraryThenEntryOnEveryCall) {
  host::SetEngineLibrary(nullptr, 0);
  AttachTracing();
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  EXPECT_EQ(dictionary->BeginTransaction(), 0);
  EXPECT_EQ(dictionary->BeginTransaction(), 0);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{k001Box, k002Box, k001Box, k002Box}));
  // The errors stand before the call record; no result record follows. An
  // error piece carries its own line feed, so no separator precedes it.
  std::string const errors =
      " *** Error *** #001 (Library \" Tolvan33.dll \" not found)\r\n *** Error *** #002 (Entry in library not "
      "found)\r\n";
  std::string const call = "CDataDictionary::BeginTransaction(void) \r\n";
  EXPECT_EQ(MaskedLog(), errors + " ........ " + call + errors + " ........ " + call);
  EXPECT_EQ(PlainLog(), errors + " " + Hex(dictionary) + " " + call + errors + " " + Hex(dictionary) + " " + call);

  // The library becomes available: the next call loads it silently.
  engine.Install();
  host::MessageBoxes().clear();
  EXPECT_EQ(dictionary->BeginTransaction(), 1);
  dictionary->BeginTransaction();
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_EQ(host::EngineLoadCount(), 1);
  EXPECT_EQ(engine.CallCount(kDataDictionary_BeginTransaction), 2);
}

// Inside a copy of the module installed as Tolvan33.dll, loading the engine
// gives the module itself: it must count as missing, never be called.
TEST_F(ErrorReporterTest, ModuleLoadedAsItsOwnEngineCountsAsMissing) {
  host::LoadModuleItselfAsEngine();
  AttachTracing();
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  EXPECT_EQ(dictionary->BeginTransaction(), 0);
  EXPECT_EQ(dictionary->GetTable("T"), nullptr);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{k001Box, k002Box, k001Box, k002Box}));
  EXPECT_EQ(g_module.engineLibrary, nullptr);
  EXPECT_EQ(g_module.entrySlots[kDataDictionary_BeginTransaction], nullptr);
  EXPECT_EQ(host::EngineLoadCount(), 2) << "each call is one load attempt";
  EXPECT_EQ(host::LibraryReleaseCount(), 2) << "every reference the load took is given back";
  EXPECT_TRUE(host::OnlyOwnLibraryReleased());
  std::string const errors =
      " *** Error *** #001 (Library \" Tolvan33.dll \" not found)\r\n *** Error *** #002 (Entry in library not "
      "found)\r\n";
  EXPECT_EQ(MaskedLog(), errors + " ........ CDataDictionary::BeginTransaction(void) \r\n" + errors +
                             " ........ CDataDictionary::GetTable(char const *) T \r\n");

  // A real engine put in place later is loaded and kept, and nothing is
  // given back any more.
  engine.Install();
  EXPECT_EQ(dictionary->BeginTransaction(), 1);
  EXPECT_EQ(engine.CallCount(kDataDictionary_BeginTransaction), 1);
  EXPECT_EQ(host::LibraryReleaseCount(), 0);
}

TEST_F(ErrorReporterTest, ErrorsReachTheLogsWithTracingOff) {
  host::SetEngineLibrary(nullptr, 0);
  Attach();
  DictionaryLayout storage{};
  reinterpret_cast<CDataDictionary*>(&storage)->Close();
  std::string const expected =
      " *** Error *** #001 (Library \" Tolvan33.dll \" not found)\r\n *** Error *** #002 (Entry in library not "
      "found)\r\n";
  EXPECT_EQ(MaskedLog(), expected);
  EXPECT_EQ(PlainLog(), expected);
  EXPECT_EQ(g_module.tracing, 0);
}

TEST_F(ErrorReporterTest, MissingEntryReportsOncePerCallOfThatOperationOnly) {
  host::HideEngineExport(DecoratedName(kDataDictionary_BeginTransaction));
  Attach();
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  EXPECT_EQ(dictionary->BeginTransaction(), 0);
  EXPECT_EQ(dictionary->OpenEmpty(), 1);
  EXPECT_EQ(dictionary->BeginTransaction(), 0);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{k002Box, k002Box}));
  EXPECT_EQ(engine.CallCount(kDataDictionary_BeginTransaction), 0);
  EXPECT_EQ(engine.CallCount(kDataDictionary_OpenEmpty), 1);
  EXPECT_EQ(host::EngineLoadCount(), 1) << "the library is loaded once";
}

TEST_F(ErrorReporterTest, RefusedAttachReportsInsufficientMemory) {
  host::FailAllocation(1, true);
  EXPECT_EQ(Attach({{"Tolvan32_Debug", "1"}}), 0);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{k065Box}));
  EXPECT_EQ(g_module.tracing, 0) << "no option is read after the refusal";
  EXPECT_EQ(PlainLog(), " *** Error *** #065 (Insufficient memory available)\r\n");
  host::FailAllocation(0);
  EXPECT_EQ(host::LiveHeapBytes(), 0) << "a refused attach keeps nothing";
}

TEST_F(ErrorReporterTest, FailedGrowthReportsMemoryErrorOnceAndKeepsTheMessage) {
  Attach();
  host::FailAllocation(1, true);  // the heap stays exhausted
  ReportError(kError002);
  host::FailAllocation(0);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{k003Box, k002Box}));
  EXPECT_EQ(PlainLog(),
            " *** Error *** #002 (Entry in library not found)\r\n *** Error *** #003 (Memory alloc was "
            "failed)\r\n");
  EXPECT_EQ(g_module.messageBuffer, nullptr);
}

TEST_F(ErrorReporterTest, OneFailedGrowthDropsTheCollectedText) {
  Attach();
  ReportError("collected");
  host::FailAllocation(1);  // only the next allocation fails
  ReportError("more\n");
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{k003Box, "more\n "}));
  ReportError("later\n");
  EXPECT_EQ(MessageTexts().back(), "later\n ") << "the reporter works again";
}

TEST_F(ErrorReporterTest, MessagesGrowBeyondTheScratchBuffer) {
  Attach();
  std::string const piece(20000, 'x');
  ReportError(piece.c_str());
  ReportError(piece.c_str());
  ReportError(piece.c_str());  // the buffer's block now exceeds the first scratch size
  ReportError("end\n");
  ASSERT_EQ(MessageTexts().size(), 1u);
  EXPECT_EQ(MessageTexts()[0], piece + " " + piece + " " + piece + " end\n ");
  EXPECT_GE(PlatformUsableSize(g_module.scratchBuffer), 3u * 20000u) << "the scratch buffer grew with it";
}

TEST_F(ErrorReporterTest, ReportsFromManyThreadsAreEachShownAndLeaveTracingAlone) {
  host::HideEngineExport(DecoratedName(kDataDictionary_BeginTransaction));
  Attach();
  enum { kThreads = 8, kCalls = 200 };
  CallFromThreads(kThreads, kCalls);
  std::vector<std::string> const boxes = MessageTexts();
  EXPECT_EQ(boxes.size(), static_cast<size_t>(kThreads * kCalls)) << "no report lost or doubled";
  for (std::string const& box : boxes) EXPECT_EQ(box, k002Box);
  EXPECT_EQ(g_module.tracing, 0);
  EXPECT_EQ(g_module.reporterBusy, 0);
  EXPECT_EQ(g_module.messageBuffer, nullptr);
}

// Several threads reporting the missing library at once: every box holds
// one whole message, and every piece reaches the trace log.
TEST_F(ErrorReporterTest, MultiPieceReportsFromManyThreadsStayWhole) {
  host::SetEngineLibrary(nullptr, 0);
  Attach();
  enum { kThreads = 4, kCalls = 100 };
  CallFromThreads(kThreads, kCalls);
  std::map<std::string, int> seen;
  for (std::string const& box : MessageTexts()) ++seen[box];
  EXPECT_EQ(seen, (std::map<std::string, int>{{k001Box, kThreads * kCalls}, {k002Box, kThreads * kCalls}}));
  std::string const log = PlainLog();
  // Each piece, its line feed stored as CR LF.
  for (char const* piece : {" *** Error *** #001 (Library \"", " Tolvan33.dll", " \" not found)\r\n",
                            " *** Error *** #002 (Entry in library not found)\r\n"}) {
    int count = 0;
    for (size_t at = log.find(piece); at != std::string::npos; at = log.find(piece, at + 1)) ++count;
    EXPECT_EQ(count, kThreads * kCalls) << piece;
  }
}

// The #003 box is shown with the reporter free: a report made from inside it
// (the host's window procedure, once memory is back) shows its whole text.
TEST_F(ErrorReporterTest, ReportMadeFromTheMemoryBoxIsWhole) {
  host::SetEngineLibrary(nullptr, 0);
  Attach();
  host::FailAllocation(1, true);
  host::SetWhileMessageBoxShown([] {
    host::SetWhileMessageBoxShown(nullptr);
    host::FailAllocation(0);
    DictionaryLayout storage{};
    reinterpret_cast<CDataDictionary*>(&storage)->BeginTransaction();
  });
  DictionaryLayout storage{};
  reinterpret_cast<CDataDictionary*>(&storage)->BeginTransaction();
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{k003Box, k001Box, k002Box, k001Box, k002Box}));
}

TEST_F(ErrorReporterTest, ReportsMadeWhileABoxIsOpenShowTheirWholeText) {
  host::SetEngineLibrary(nullptr, 0);
  Attach();
  auto const call = [] {
    DictionaryLayout storage{};
    reinterpret_cast<CDataDictionary*>(&storage)->BeginTransaction();
  };
  // While the first box is open, the host's window procedure calls the
  // module, and another thread calls it and is waited for.
  host::SetWhileMessageBoxShown([&] {
    host::SetWhileMessageBoxShown(nullptr);
    call();
    std::thread(call).join();
  });
  call();
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{k001Box, k001Box, k002Box, k001Box, k002Box, k002Box}));
  EXPECT_EQ(g_module.messageBuffer, nullptr);
}

TEST_F(ErrorReporterTest, WithoutScratchSpaceMessagesOfBoundedLengthStayWhole) {
  host::SetEngineLibrary(nullptr, 0);
  Attach();
  // A message larger than the scratch buffer, then a growth whose new scratch
  // buffer cannot be had: the scratch buffer is lost for good.
  ReportError(std::string(kScratchStep + 10, 'x').c_str());
  host::FailAllocation(1, true);
  ReportError("more\n");
  host::FailAllocation(0);
  ASSERT_EQ(g_module.scratchBuffer, nullptr);
  ClearLogs();
  host::MessageBoxes().clear();
  DictionaryLayout storage{};
  reinterpret_cast<CDataDictionary*>(&storage)->BeginTransaction();
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{k001Box, k002Box}));
  EXPECT_EQ(PlainLog(),
            " *** Error *** #001 (Library \" Tolvan33.dll \" not found)\r\n"
            " *** Error *** #002 (Entry in library not found)\r\n");
  ModuleDetach();
  attached_ = false;
  EXPECT_EQ(host::LiveHeapBytes(), 0);
}

}  // namespace
}  // namespace testing
}  // namespace tolvan

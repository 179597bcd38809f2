// Many host threads calling the module at once, each on engine objects of its
// own, as a multi-threaded host does. The module takes no locks; what must
// still hold is that no call crashes or returns anything but its engine's
// result, that every trace item reaches the files whole, and that the masked
// log never shows a pointer.
#include <string.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/trace_log.h"
#include "tests/support/lean_engine.h"
#include "tests/support/test_fixture.h"

namespace tolvan {
namespace testing {
namespace {

enum { kThreads = 8 };
// Ten host calls per round: 10^4 rounds give 10^5 calls per thread.
enum { kCallsPerRound = 10, kUntracedRounds = 10000 };
// With tracing on, every item opens and closes both files, and one round
// writes over a hundred items: 120 rounds per thread keep the test to a few
// seconds. The traced rounds leave Pack out: while one thread's Pack holds
// the module-wide reopen flag, another thread's open is not forced shared and
// writes fewer records, so the items of a round would not be fixed.
enum { kTracedRounds = 120 };

// One thread's engine objects. Heap-allocated, so that no two threads' objects
// share an address with anything on a stack.
struct ThreadObjects {
  explicit ThreadObjects(int number) : path("path-" + std::to_string(number)) {
    table.traceWord = 100 + number;
    table.name = "T";
    table.dictionary = reinterpret_cast<CDataDictionary*>(&dictionary);
  }
  CDataDictionary* Dictionary() { return reinterpret_cast<CDataDictionary*>(&dictionary); }
  CTable* Table() { return reinterpret_cast<CTable*>(&table); }
  CStoreObj* Store() { return reinterpret_cast<CStoreObj*>(&store); }
  CRecAddr* RecAddr() { return reinterpret_cast<CRecAddr*>(recAddr); }

  DictionaryLayout dictionary{};
  TableLayout table{};
  StoreLayout store{};
  // A record address of the engine's size, which is larger than the facade's.
  alignas(16) unsigned char recAddr[64] = {};
  std::string path;
};

// What a round saw beyond the results: the effects of the flag that one
// thread's Pack raises for the whole module.
struct Observations {
  long wrongResults = 0;
  long opensLeftExclusive = 0;  // another thread's Pack was under way
  long packsNotExclusive = 0;   // a Pack that reached the engine on a shared table
};

// Ten host calls (nine without Pack); every result is checked against what
// the lean engine answers for this thread's objects.
void RunRound(ThreadObjects& objects, int round, bool pack, Observations& seen) {
  int const expectedCount = round + 1;
  auto check = [&seen](bool ok) { seen.wrongResults += ok ? 0 : 1; };

  CDataDictionary* const dictionary = objects.Dictionary();
  check(dictionary->BeginTransaction() == expectedCount);
  check(dictionary->SetSysFilePath(objects.path.c_str()) == static_cast<int>(objects.path.size()) + expectedCount);

  CTable* const table = objects.Table();
  check(table->OpenAccess(kShareModeExclusive, kSafetyNormal) == objects.table.traceWord);
  if (objects.table.shareMode != kShareModeShared) ++seen.opensLeftExclusive;
  if (pack) {
    check(table->Pack() == objects.table.traceWord + 1);
    if (objects.table.unused16 != kShareModeExclusive) ++seen.packsNotExclusive;
  }

  CStoreObj* const store = objects.Store();
  check(store->Goto(kNavCtrlNone, 1) == expectedCount);
  int value = -1;
  store->FX_Int(21, value, 0);
  check(value == 42);
  ::new (objects.recAddr) CRecAddr(store->GetRecAddr());
  check(objects.RecAddr()->GetLongVal() == expectedCount);
  objects.RecAddr()->CRecAddr::~CRecAddr();
  check(store->SetRelPosition(0.5, 3) == 503 + expectedCount);
}

Observations RunThreads(std::vector<std::unique_ptr<ThreadObjects>>& objects, int rounds, bool pack) {
  std::vector<Observations> seen(objects.size());
  std::vector<std::thread> threads;
  std::atomic<bool> go{false};
  for (size_t t = 0; t < objects.size(); ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int round = 0; round < rounds; ++round) RunRound(*objects[t], round, pack, seen[t]);
    });
  }
  go = true;
  for (std::thread& thread : threads) thread.join();
  Observations total;
  for (Observations const& s : seen) {
    total.wrongResults += s.wrongResults;
    total.opensLeftExclusive += s.opensLeftExclusive;
    total.packsNotExclusive += s.packsNotExclusive;
  }
  return total;
}

std::vector<std::unique_ptr<ThreadObjects>> MakeObjects(int count, int firstNumber = 0) {
  std::vector<std::unique_ptr<ThreadObjects>> objects;
  for (int i = 0; i < count; ++i) objects.push_back(std::make_unique<ThreadObjects>(firstNumber + i));
  return objects;
}

// --- Reading a log back into its items ------------------------------------

// Items that contain spaces can't be told apart by splitting at spaces: they
// are recognised by their whole text. Everything else runs to the next space.
std::vector<std::string> SplitItems(std::string const& log, std::vector<std::string> const& spacedTexts) {
  std::vector<std::string> items;
  size_t at = 0;
  while (at < log.size()) {
    if (log[at] != ' ') {
      items.push_back("<no separator at " + std::to_string(at) + ">");
      break;
    }
    ++at;
    std::string const* spaced = nullptr;
    for (std::string const& text : spacedTexts) {
      if (log.compare(at, text.size(), text) == 0 && (at + text.size() == log.size() || log[at + text.size()] == ' ')) {
        spaced = &text;
        break;
      }
    }
    size_t const end = spaced ? at + spaced->size() : std::min(log.find(' ', at), log.size());
    items.push_back(log.substr(at, end - at));
    at = end;
  }
  return items;
}

bool IsDecimal(std::string const& item) {
  size_t const digits = item.size() - (item[0] == '-' ? 1 : 0);
  return !item.empty() && digits > 0 && digits < 8 &&
         item.find_first_not_of("0123456789", item[0] == '-' ? 1 : 0) == std::string::npos;
}

bool IsPointer(std::string const& item) {
  return item.size() >= 8 && item.size() <= 16 && item.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// Items by kind: every pointer counts as "<pointer>", every number as
// "<number>", every thread's path as "<path>", every other text as itself.
std::map<std::string, long> ItemCensus(std::vector<std::string> const& items) {
  std::map<std::string, long> census;
  for (std::string const& item : items) {
    if (IsPointer(item)) {
      ++census["<pointer>"];
    } else if (IsDecimal(item)) {
      ++census["<number>"];
    } else if (item.compare(0, 5, "path-") == 0) {
      ++census["<path>"];
    } else {
      ++census[item];
    }
  }
  return census;
}

std::vector<std::string> SpacedTexts() {
  std::vector<std::string> texts = {kIndent};
  for (int op = 0; op < kOperationCount; ++op) {
    std::string const text = SignatureText(static_cast<OperationId>(op));
    if (text.find(' ') != std::string::npos) texts.push_back(text);
  }
  // Longest first, so that no text is taken for the beginning of a longer one.
  std::sort(texts.begin(), texts.end(), [](std::string const& a, std::string const& b) { return a.size() > b.size(); });
  return texts;
}

class ThreadsTest : public ModuleTest {
 protected:
  void AttachLean(int traceLevel) {
    if (traceLevel) {
      AttachTracing(traceLevel);
    } else {
      Attach();
    }
    lean::Install();
  }
};

TEST_F(ThreadsTest, UntracedCallsFromEightThreadsReturnTheirEnginesResults) {
  AttachLean(0);
  long long const heapBefore = host::LiveHeapBytes();
  auto objects = MakeObjects(kThreads);
  Observations const seen = RunThreads(objects, kUntracedRounds, true);

  EXPECT_EQ(seen.wrongResults, 0);
  for (auto const& thread : objects) {
    EXPECT_EQ(thread->dictionary.unused[0], kUntracedRounds) << "every call reached the engine once";
    EXPECT_EQ(thread->store.firstTraceWord, kUntracedRounds);
  }
  EXPECT_EQ(g_module.escalationsInProgress, 0) << "every Pack ended its escalation";
  EXPECT_EQ(seen.packsNotExclusive, 0) << "one Pack ending never lifts another's suspension of share forcing";
  EXPECT_EQ(host::LiveHeapBytes(), heapBefore) << "the call path allocates nothing";
  EXPECT_TRUE(host::MessageBoxes().empty());
  EXPECT_FALSE(LogExists('b'));
  EXPECT_FALSE(LogExists('a'));
  // Not a failure: while any thread's Pack is under way, share forcing is
  // off for every table.
  RecordProperty("opens_left_exclusive", static_cast<int>(seen.opensLeftExclusive));
  static_assert(kCallsPerRound * kUntracedRounds == 100000, "10^5 calls per thread");
}

// The names that identify a thread's items: its objects' addresses and its path.
std::vector<std::string> Names(ThreadObjects& objects) {
  return {Hex(&objects.dictionary), Hex(&objects.table), Hex(&objects.store), Hex(objects.recAddr), objects.path};
}

// The items of `items` that are one of `names`, as positions in `names`.
std::vector<size_t> NamedSequence(std::vector<std::string> const& items, std::vector<std::string> const& names) {
  std::vector<size_t> sequence;
  for (std::string const& item : items) {
    auto const found = std::find(names.begin(), names.end(), item);
    if (found != names.end()) sequence.push_back(static_cast<size_t>(found - names.begin()));
  }
  return sequence;
}

TEST_F(ThreadsTest, TracedCallsFromEightThreadsWriteEveryItemWhole) {
  // One round written by one thread alone, on objects of its own: the items a
  // round writes, and the order in which it names its objects.
  AttachLean(1);
  auto reference = MakeObjects(1, kThreads);
  RunThreads(reference, 1, false);
  std::vector<std::string> const spaced = SpacedTexts();
  std::vector<std::string> const referenceItems = SplitItems(PlainLog(), spaced);
  std::map<std::string, long> const oneRound = ItemCensus(referenceItems);
  std::vector<size_t> const oneRoundNames = NamedSequence(referenceItems, Names(*reference[0]));
  ASSERT_GT(oneRound.at("<pointer>"), 0);
  ASSERT_FALSE(oneRoundNames.empty());
  ClearLogs();

  auto objects = MakeObjects(kThreads);
  Observations const seen = RunThreads(objects, kTracedRounds, false);
  EXPECT_EQ(seen.wrongResults, 0);

  std::vector<std::string> const plain = SplitItems(PlainLog(), spaced);
  std::vector<std::string> const masked = SplitItems(MaskedLog(), spaced);

  // Every item is one the module writes, none is torn, none lost or doubled.
  std::map<std::string, long> expected;
  for (auto const& kind : oneRound) expected[kind.first] = kind.second * kThreads * kTracedRounds;
  EXPECT_EQ(ItemCensus(plain), expected);
  // The masked log: dots wherever the plain log has a pointer, and not one
  // address of any thread's object.
  expected["........"] = expected["<pointer>"];
  expected.erase("<pointer>");
  EXPECT_EQ(ItemCensus(masked), expected);

  // Each thread's items stand in the order the thread wrote them, however
  // the threads' items interleave.
  for (auto const& thread : objects) {
    std::vector<size_t> expectedNames;
    for (int round = 0; round < kTracedRounds; ++round) {
      expectedNames.insert(expectedNames.end(), oneRoundNames.begin(), oneRoundNames.end());
    }
    EXPECT_EQ(NamedSequence(plain, Names(*thread)), expectedNames) << thread->path;
  }

  // Lines are another matter: a line is several items, and items of other
  // threads may come between them. Counted for the record, not a failure.
  std::map<std::string, int> owner;
  for (size_t t = 0; t < objects.size(); ++t) {
    for (std::string const& name : Names(*objects[t])) owner[name] = static_cast<int>(t);
  }
  int mixedLines = 0;
  int lineOwner = -1;
  bool mixed = false;
  for (std::string const& item : plain) {
    auto const found = owner.find(item);
    if (found != owner.end()) {
      if (lineOwner >= 0 && lineOwner != found->second) mixed = true;
      lineOwner = found->second;
    }
    if (item == "\r\n") {
      mixedLines += mixed ? 1 : 0;
      mixed = false;
      lineOwner = -1;
    }
  }
  RecordProperty("lines_with_items_of_two_threads", mixedLines);
  RecordProperty("lines", static_cast<int>(std::count(plain.begin(), plain.end(), "\r\n")));
  RecordProperty("items_per_round", static_cast<int>(referenceItems.size()));
}

// A host that loads and unloads the library again and again while its
// threads live on: the threads never see the module's thread detach, so the
// process detach gives back their line storage, and writes the line each
// left unfinished, ended.
TEST_F(ThreadsTest, LoadAndUnloadCyclesWithLiveThreadsLeaveTheHeapAsItWas) {
  enum { kCycles = 200 };
  long long const workBefore = host::LiveWorkBytes();
  std::atomic<int> cycle{-1};
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int c = 0; c < kCycles; ++c) {
        while (cycle.load() < c) std::this_thread::yield();
        TraceText("whole");
        TraceInt(t);
        TraceLineEnd();
        TraceText("unfinished");
        ++done;
      }
      // Alive until the last unload, whose detach is the one to write the line.
      while (cycle.load() < kCycles) std::this_thread::yield();
    });
  }
  for (int c = 0; c < kCycles; ++c) {
    AttachTracing();
    cycle = c;
    while (done.load() < kThreads * (c + 1)) std::this_thread::yield();
    ModuleDetach();
    attached_ = false;
    EXPECT_EQ(host::LiveWorkBytes(), workBefore) << "after cycle " << c;
  }
  cycle = kCycles;
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(host::LiveWorkBytes(), workBefore);
  for (std::string const& log : {PlainLog(), MaskedLog()}) {
    size_t wholeLines = 0, unfinishedLines = 0, lines = 0;
    for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2, ++lines) {
      std::string const line = log.substr(at, end - at);
      if (line.compare(0, 7, " whole ") == 0 && line.size() <= 10) ++wholeLines;
      if (line == " unfinished ") ++unfinishedLines;
    }
    EXPECT_EQ(wholeLines, static_cast<size_t>(kCycles * kThreads));
    EXPECT_EQ(unfinishedLines, static_cast<size_t>(kCycles * kThreads)) << "each left line written, and ended";
    EXPECT_EQ(lines, static_cast<size_t>(2 * kCycles * kThreads));
  }
}

// Threads that have no line storage (no memory for it, or no slot at all)
// write item by item, and each keeps its own line: with ids, every line has
// one prefix, also where an allocation succeeds again in the middle of it.
TEST_F(ThreadsTest, ThreadsWithoutLineStorageGiveEveryLineOnePrefix) {
  enum { kLines = 200 };
  Attach({{"Tolvan32_Debug", "1"}, {"Tolvan32_TraceIds", "1"}});
  unsigned long const slot = g_module.lineSlot;
  auto const twoThreads = [] {
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
      threads.emplace_back([t] {
        for (int i = 0; i < kLines; ++i) {
          TraceText("first");
          TraceInt(t);
          TraceText("second");
          TraceLineEnd();
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
  };
  host::FailWorkStorage(true);
  twoThreads();
  host::FailWorkStorage(false);
  g_module.lineSlot = 0;
  twoThreads();
  g_module.lineSlot = slot;
  std::thread([] {
    host::FailWorkStorage(true);
    TraceText("begun without storage");
    host::FailWorkStorage(false);
    TraceText("ended with it");
    TraceLineEnd();
    TraceText("next");
    TraceLineEnd();
  }).join();

  // Items written one by one may stand between another thread's items; what
  // counts is that each thread's lines have one prefix each.
  for (std::string const& log : {PlainLog(), MaskedLog()}) {
    size_t lines = 0;
    std::map<std::string, size_t> prefixes;
    for (size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos; at = end + 2) {
      std::string const line = log.substr(at, end - at);
      if (line.find("*** Run ***") != std::string::npos) continue;
      ++lines;
      for (size_t open = 0; (open = line.find(" [", open)) != std::string::npos; ++open) {
        ++prefixes[line.substr(open, line.find(']', open) - open + 1)];
      }
    }
    EXPECT_EQ(lines, static_cast<size_t>(4 * kLines + 2));
    ASSERT_EQ(prefixes.size(), 5u) << "four tracing threads and the last one";
    size_t total = 0;
    for (auto const& thread : prefixes) {
      EXPECT_TRUE(thread.second == static_cast<size_t>(kLines) || thread.second == 2u) << thread.first;
      total += thread.second;
    }
    EXPECT_EQ(total, lines);
    EXPECT_NE(log.find(" begun without storage ended with it \r\n"), std::string::npos);
  }
  EXPECT_EQ(g_module.linesWithoutStorage[0], 0) << "no line is left begun";
}


// Eight threads recording at once, faults among them: every line a block
// holds is whole, with one prefix, written once, and masked in the masked
// log; no thread waited for a lock of the recorder's.
TEST_F(ThreadsTest, RecordingFromEightThreadsKeepsEveryLineWholeAndOnce) {
  Attach({{"Tolvan32_Recorder", "100000"}});
  lean::Install();  // without Close: #002
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      DictionaryLayout storage{};
      auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
      for (int i = 0; i < 2000; ++i) {
        dictionary->SetSysFilePath(("C:\\" + std::to_string(t * 100000 + i)).c_str());
        if (i % 500 == 499) dictionary->Close();  // #002: a trigger
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ModuleDetach();
  attached_ = false;
  // Lines of threads joining a block at once may reach the two files in
  // different orders: the masked log holds the same lines, masked.
  auto const linesOf = [](std::string const& log) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  };
  std::vector<std::string> plain = linesOf(PlainLog());
  std::vector<std::string> masked = linesOf(MaskedLog());
  std::map<std::string, int> calls;
  int marks = 0;
  for (std::string& line : plain) {
    bool const whole = line.size() > 30 && line.compare(0, 2, " [") == 0 && line.back() == '\r' &&
                       line.find("] @") != std::string::npos && line.find(" [", 2) == std::string::npos;
    EXPECT_TRUE(whole) << line;
    if (line.find("*** Recorder") != std::string::npos) ++marks;
    size_t const at = line.find("SetSysFilePath(char const *) ");
    if (at != std::string::npos) ++calls[line.substr(at)];
    size_t const pointer = line.find(" CDataDictionary::");
    if (pointer != std::string::npos) line.replace(line.rfind(' ', pointer - 1) + 1, pointer - line.rfind(' ', pointer - 1) - 1, "........");
  }
  EXPECT_GT(marks, 1);
  EXPECT_GT(calls.size(), 1000u);
  for (auto const& call : calls) EXPECT_EQ(call.second, 1) << call.first << " written twice";
  std::sort(plain.begin(), plain.end());
  std::sort(masked.begin(), masked.end());
  EXPECT_TRUE(plain == masked);
}

}  // namespace
}  // namespace testing
}  // namespace tolvan

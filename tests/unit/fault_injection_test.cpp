// The module under failing resources: a heap that refuses the Nth allocation
// (once, or from then on) and trace files that can't be opened from some
// point of a call on. Whatever fails, the host's calls must return what the
// engine returned, the module must neither crash nor recurse without end, and
// everything it allocated must be given back at detach.
#include <string.h>

#include <functional>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "core/error_reporter.h"
#include "tests/support/test_fixture.h"

namespace tolvan {
namespace testing {
namespace {

// --- An engine whose entries mark the points where failures are switched on --

// Called at every engine entry, between the module's records of a call.
std::function<void()> g_atEngineCall;

void AtEngineCall() {
  if (g_atEngineCall) g_atEngineCall();
}

FieldLayout g_field{nullptr, "NAME", 0, 3, 10};

struct RecAddrObject {
  void const* virtualTable;
  long value;
};

int BeginTransaction(void*) {
  AtEngineCall();
  return 7;
}

int OpenAccess(TableLayout* self, int mode, int) {
  AtEngineCall();
  self->shareMode = mode;
  return 1;
}

int CloseAccess(TableLayout* self, int) {
  AtEngineCall();
  self->shareMode = 0;
  return 1;
}

void ExchangeDate(void*, int, int32_t* dayNumber, int direction) {
  AtEngineCall();
  if (direction == 0) *dayNumber = 730000;
}

int SetRelPosition(void*, double position, int flags) {
  AtEngineCall();
  return static_cast<int>(position * 100) + flags;
}

void* GetRecAddr(void* result, void*) {
  AtEngineCall();
  *static_cast<RecAddrObject*>(result) = {&g_field, 4711};
  return result;
}

void CopyRecAddr(RecAddrObject* self, RecAddrObject const* source) {
  AtEngineCall();
  *self = *source;
}

void DestroyRecAddr(RecAddrObject*) { AtEngineCall(); }

void* GetField(void*, char const*) {
  AtEngineCall();
  return &g_field;
}

template <class F>
host::LibraryExport Export(OperationId op, F* function) {
  return {DecoratedName(op), reinterpret_cast<void*>(function)};
}

host::LibraryExport const g_exports[] = {
    Export(kDataDictionary_BeginTransaction, &BeginTransaction),
    Export(kTable_OpenAccess, &OpenAccess),
    Export(kTable_CloseAccess, &CloseAccess),
    Export(kStoreObj_FX_Date_ByNumber, &ExchangeDate),
    Export(kStoreObj_SetRelPosition, &SetRelPosition),
    Export(kStoreObj_GetRecAddr, &GetRecAddr),
    Export(kRecAddr_Construct_Copy, &CopyRecAddr),
    Export(kRecAddr_Destroy, &DestroyRecAddr),
    Export(kTable_GetField_ByName, &GetField),
};

void InstallEngine() { host::SetEngineLibrary(g_exports, sizeof g_exports / sizeof g_exports[0]); }

// --- The scenario --------------------------------------------------------------

// Every kind of error, every kind of trace item, and a message that outgrows
// the scratch buffer, as steps; the failures are switched between steps and
// inside engine calls.
struct Objects {
  DictionaryLayout dictionary{};
  TableLayout table{nullptr, "TABLE", nullptr, 5, 0, 0, 0};
  StoreLayout store{};
  alignas(16) unsigned char recAddr[64] = {};
  DateLayout date{};
};

std::string const kLongPiece(20000, 'x');  // three of them exceed 32768 bytes

std::vector<std::function<long()>> ScenarioSteps(Objects& o) {
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&o.dictionary);
  auto* table = reinterpret_cast<CTable*>(&o.table);
  auto* store = reinterpret_cast<CStoreObj*>(&o.store);
  return {
      [=] {
        host::SetEngineLibrary(nullptr, 0);  // #001 and #002
        return dictionary->BeginTransaction();
      },
      [=] {
        InstallEngine();
        host::HideEngineExport(DecoratedName(kDataDictionary_BeginTransaction));  // #002
        return dictionary->BeginTransaction();
      },
      [=] {
        host::HideEngineExport("");
        return dictionary->BeginTransaction();
      },
      [=] { return table->OpenAccess(kShareModeExclusive, kSafetyNormal); },  // forced shared
      [=, &o] {
        store->FX_Date(2, *reinterpret_cast<CDate*>(&o.date), 0);
        return static_cast<long>(o.date.dayNumber);
      },
      [=] { return store->SetRelPosition(0.25, 1); },
      [=, &o] {
        ::new (o.recAddr) CRecAddr(store->GetRecAddr());
        long const value = reinterpret_cast<RecAddrObject*>(o.recAddr)->value;
        reinterpret_cast<CRecAddr*>(o.recAddr)->CRecAddr::~CRecAddr();
        return value;
      },
      [=] { return table->GetField("NAME") == reinterpret_cast<CField*>(&g_field) ? 1L : 0L; },
      [] {
        ReportError(kLongPiece.c_str());
        return 0L;
      },
      [] {
        ReportError(kLongPiece.c_str());
        return 0L;
      },
      [] {
        ReportError(kLongPiece.c_str());
        return 0L;
      },
      [] {
        ReportError("end\n");
        return 0L;
      },
      [=] { return dictionary->BeginTransaction(); },
  };
}

// What one run of the scenario left behind.
struct Outcome {
  bool attached = false;
  std::vector<long> results;
  std::vector<std::string> boxes;
  std::string maskedLog;
  std::string plainLog;  // pointers replaced, see WithoutAddresses
  long long heapLeft = 0;  // after detach
  long allocations = 0;    // the module's, from the attach on
  int switchPoints = 0;    // step boundaries and engine calls
  std::vector<std::string> maskedAt;  // the logs at each switch point
  std::vector<std::string> plainAt;
};

std::string const k003Box = std::string(kError003) + " ";
std::string const k003Item = " *** Error *** #003 (Memory alloc was failed)\r\n";

// Addresses of the module's own stack storage (and, under the sanitizers, of
// every local) differ from run to run: logs are compared with each pointer
// item replaced by "<pointer>".
std::string WithoutAddresses(std::string const& log) {
  std::string result;
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find(' ', at);
    if (end == std::string::npos) end = log.size();
    std::string const item = log.substr(at, end - at);
    bool const pointer = item.size() >= 8 && item.find_first_not_of("0123456789abcdef") == std::string::npos;
    result += pointer ? "<pointer>" : item;
    if (end < log.size()) result += ' ';
    at = end + 1;
  }
  return result;
}

// Logs run to many kilobytes: a difference is shown around its first byte.
::testing::AssertionResult SameLog(std::string const& actual, std::string const& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  size_t const from = at < 40 ? 0 : at - 40;
  return ::testing::AssertionFailure() << "logs differ at byte " << at << " of " << actual.size() << " (expected "
                                       << expected.size() << "): \"" << actual.substr(from, 100) << "\" instead of \""
                                       << expected.substr(from, 100) << "\"";
}

std::string WithoutItem(std::string log, std::string const& item) {
  for (size_t at; (at = log.find(item)) != std::string::npos;) log.erase(at, item.size());
  return log;
}

class FaultInjectionTest : public ModuleTest {
 protected:
  // Runs the scenario once; `atSwitchPoint` sees the number of each point.
  // The heap fails as FailAllocation(failAt, persistent) says from the
  // attach on (0: not at all).
  Outcome Run(int traceLevel, std::function<void(int)> const& atSwitchPoint = nullptr, long failAt = 0,
              bool persistent = false) {
    Outcome outcome;
    ClearLogs();
    host::MessageBoxes().clear();
    host::HideEngineExport("");
    host::SetUnopenableLogs("");
    InstallEngine();
    long long const heapBefore = host::LiveHeapBytes();

    auto const mark = [&] {
      outcome.maskedAt.push_back(MaskedLog());
      outcome.plainAt.push_back(WithoutAddresses(PlainLog()));
      if (atSwitchPoint) atSwitchPoint(outcome.switchPoints);
      ++outcome.switchPoints;
    };
    g_atEngineCall = mark;

    std::map<std::string, std::string> options;
    if (traceLevel) options["Tolvan32_Debug"] = std::to_string(traceLevel);
    host::FailAllocation(failAt, persistent);
    outcome.attached = Attach(options) != 0;
    if (outcome.attached) {
      Objects objects;
      for (auto const& step : ScenarioSteps(objects)) {
        mark();
        outcome.results.push_back(step());
      }
      mark();
      EXPECT_EQ(g_module.messageBuffer, nullptr) << "the last message was shown";
      EXPECT_EQ(g_module.tracing, traceLevel ? 1 : 0) << "the reporter gave the tracing flag back";
      ModuleDetach();
      attached_ = false;
    }
    g_atEngineCall = nullptr;
    outcome.allocations = host::AllocationCount();
    host::FailAllocation(0);
    host::SetUnopenableLogs("");
    outcome.heapLeft = host::LiveHeapBytes() - heapBefore;
    outcome.boxes = MessageTexts();
    outcome.maskedLog = MaskedLog();
    outcome.plainLog = WithoutAddresses(PlainLog());
    return outcome;
  }
};

// A message reported with some pieces lost shows the pieces after the loss.
bool IsTailOf(std::string const& shown, std::string const& whole) {
  return shown.size() <= whole.size() && whole.compare(whole.size() - shown.size(), shown.size(), shown) == 0;
}

TEST_F(FaultInjectionTest, EveryAllocationFailingOnceOrForGood) {
  for (int traceLevel : {0, 2}) {
    Outcome const clean = Run(traceLevel);
    long const allocations = clean.allocations;
    ASSERT_TRUE(clean.attached);
    ASSERT_GT(allocations, 5) << "the scenario exercises the heap";
    RecordProperty("allocations_at_trace_level_" + std::to_string(traceLevel), static_cast<int>(allocations));
    ASSERT_EQ(clean.results, (std::vector<long>{0, 0, 7, 1, 730000, 26, 4711, 1, 0, 0, 0, 0, 7}));
    ASSERT_EQ(clean.boxes.size(), 4u);
    EXPECT_EQ(clean.heapLeft, 0);

    for (long n = 1; n <= allocations + 1; ++n) {
      for (bool persistent : {false, true}) {
        SCOPED_TRACE("trace level " + std::to_string(traceLevel) + ", allocation " + std::to_string(n) +
                     (persistent ? " and every later one" : " alone") + " fails");
        Outcome const failed = Run(traceLevel, nullptr, n, persistent);
        EXPECT_EQ(failed.heapLeft, 0);
        if (n == 1) {
          // The scratch buffer is the first allocation: the load is refused.
          EXPECT_FALSE(failed.attached);
          EXPECT_EQ(failed.boxes, (std::vector<std::string>{std::string(kError065) + " "}));
          continue;
        }
        ASSERT_TRUE(failed.attached);
        EXPECT_EQ(failed.results, clean.results) << "the host still receives the engine's results";

        // Every message still appears, perhaps without the pieces collected
        // before a failure; #003 boxes come between, never more than one per
        // reported piece.
        std::vector<std::string> messages;
        int memoryBoxes = 0;
        for (std::string const& box : failed.boxes) {
          if (box == k003Box) {
            ++memoryBoxes;
          } else {
            messages.push_back(box);
          }
        }
        ASSERT_EQ(messages.size(), clean.boxes.size());
        for (size_t i = 0; i < messages.size(); ++i) {
          EXPECT_TRUE(IsTailOf(messages[i], clean.boxes[i])) << messages[i].substr(0, 80);
        }
        if (n <= allocations) {
          EXPECT_GE(memoryBoxes, 1) << "a failed growth is reported";
        } else {
          EXPECT_EQ(memoryBoxes, 0);
        }
        EXPECT_LE(memoryBoxes, 9) << "one report per reported piece at most";

        // The logs hold the clean run's items, with the #003 echoes between.
        EXPECT_TRUE(SameLog(WithoutItem(failed.maskedLog, k003Item), clean.maskedLog));
        EXPECT_TRUE(SameLog(WithoutItem(failed.plainLog, k003Item), clean.plainLog));
      }
    }
  }
}

TEST_F(FaultInjectionTest, TraceFilesLostAtEveryPointOfTheScenario) {
  Outcome const clean = Run(2);
  ASSERT_TRUE(clean.attached);
  ASSERT_GT(clean.switchPoints, 20) << "engine calls split the calls' records";
  RecordProperty("switch_points", clean.switchPoints);
  EXPECT_NE(clean.plainLog.find(" D730000 0 \r\n"), std::string::npos) << "the date text was traced";

  for (std::string letters : {"b", "a", "ba"}) {
    for (int from = 0; from < clean.switchPoints; ++from) {
      SCOPED_TRACE("logs \"" + letters + "\" unopenable from point " + std::to_string(from));
      Outcome const failed = Run(2, [&](int point) {
        if (point == from) host::SetUnopenableLogs(letters);
      });
      ASSERT_TRUE(failed.attached);
      EXPECT_EQ(failed.results, clean.results);
      EXPECT_EQ(failed.boxes, clean.boxes) << "a lost log changes no message";
      EXPECT_EQ(failed.heapLeft, 0);
      std::string const& maskedUpTo = clean.maskedAt[from];
      std::string const& plainUpTo = clean.plainAt[from];
      // A masked log that can't be opened stops the whole item; a plain log
      // that can't be opened loses only its own copy.
      EXPECT_TRUE(SameLog(failed.maskedLog, letters == "a" ? clean.maskedLog : maskedUpTo));
      EXPECT_TRUE(SameLog(failed.plainLog, plainUpTo));
    }
  }
}

// From every file open of the scenario on, one log or both refuse to open:
// each log then stops at the end of a whole line.
TEST_F(FaultInjectionTest, TraceFilesLostFromEveryOpenOn) {
  long opens = 0;
  Outcome const clean = Run(2, [&](int point) {
    if (point == 0) host::FailLogOpensFrom(0, "");
  });
  opens = host::LogOpenCount();
  ASSERT_GT(opens, 40);
  auto const isLinePrefix = [](std::string const& part, std::string const& whole) {
    return whole.compare(0, part.size(), part) == 0 && (part.empty() || part.back() == '\n');
  };
  for (std::string letters : {"b", "a", "ba"}) {
    for (long from = 1; from <= opens; ++from) {
      SCOPED_TRACE("logs \"" + letters + "\" refused from open " + std::to_string(from));
      Outcome const failed = Run(2, [&](int point) {
        if (point == 0) host::FailLogOpensFrom(from, letters);
      });
      ASSERT_EQ(failed.results, clean.results);
      ASSERT_EQ(failed.boxes, clean.boxes);
      ASSERT_EQ(failed.heapLeft, 0);
      if (letters == "a") {
        ASSERT_EQ(failed.maskedLog, clean.maskedLog) << "a lost plain log leaves the masked one whole";
      } else {
        ASSERT_TRUE(isLinePrefix(failed.maskedLog, clean.maskedLog)) << "the masked log stops at a line";
      }
      ASSERT_TRUE(isLinePrefix(failed.plainLog, clean.plainLog)) << "the plain log stops at a line";
    }
  }
  host::FailLogOpensFrom(0, "");
}

}  // namespace
}  // namespace testing
}  // namespace tolvan

// What a timed log (Tolvan32_TraceTime=1) tells about time: how long each
// operation takes, the slowest calls, and which process held a table
// exclusively while another's open failed or waited. Everything here is
// bounded by a constant: percentiles come from a histogram, not from a list
// of every call.
#ifndef TOLVAN_TOOLS_TRACE_TRACE_TIMING_H
#define TOLVAN_TOOLS_TRACE_TRACE_TIMING_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/trace/trace_records.h"

namespace tolvan {
namespace tools {

size_t const kSlowestKept = 20;
size_t const kContextCalls = 3;    // the calls just before a slow one
size_t const kKeptHolds = 50;      // of each table object
size_t const kKeptContention = 1000;
size_t const kRecentHolds = 256;   // compared with each open of another process
size_t const kRecentAttempts = 256;
uint64_t const kDefaultSlowMicros = 100000;

// Durations in microseconds: exact below 128, above that 64 buckets to each
// power of two, so any figure read from it is within 1/128 of the true one.
class LatencyHistogram {
 public:
  void Add(uint64_t micros);
  // The smallest duration that `percent` of the calls do not exceed.
  uint64_t Percentile(unsigned percent) const;
  uint64_t count = 0;
  uint64_t total = 0;
  uint64_t max = 0;
  uint64_t min = 0;

 private:
  std::vector<uint32_t> buckets_;
};

// A call in brief, as the slowest calls' context gives it.
struct CallBrief {
  uint64_t line = 0;
  int op = -1;
  LineIds ids;
  int64_t time = -1;
  int64_t duration = -1;
};

struct SlowCall {
  CallBrief call;
  int run = -1;
  std::string object;
  KeptText table;  // its name, where GetTable or AddTable told it
  std::vector<CallBrief> before;  // the calls just before it in the log, oldest first
};

// A stretch in which one process held a table object exclusively.
struct Hold {
  uint32_t pid = 0;
  int run = -1;
  char const* kind = "";  // "open", "Pack", "ReIndex", "Clear"
  int64_t start = -1;     // microseconds of the day; -1: the log has no times
  int64_t end = -1;       // -1 with end_line 0: still held when the log ends
  uint64_t startLine = 0;
  uint64_t endLine = 0;
};

struct TableHolds {
  std::vector<Hold> kept;  // the first kKeptHolds
  uint64_t count = 0;
  uint64_t openHold = 0;  // the serial of the open hold awaiting its close (0: none)
};

enum ContentionOutcome { kContentionFailed, kContentionRefused, kContentionWaited };

struct Contention {
  KeptText table;
  uint32_t holderPid = 0;
  uint64_t holderLine = 0;
  uint32_t waiterPid = 0;
  uint64_t waiterLine = 0;
  int waiterRun = -1;
  int64_t time = -1;
  int64_t duration = -1;
  ContentionOutcome outcome = kContentionFailed;
};

struct TimingFigures {
  uint64_t slowMicros = kDefaultSlowMicros;  // --slow: an open longer than this waited
  bool timed = false;  // some line of the log had a time item
  bool untimedCalls = false;
  std::vector<std::unique_ptr<LatencyHistogram>> latency;  // per operation, of the host's calls
  std::vector<SlowCall> slowest;  // slowest first
  std::vector<CallBrief> recent = std::vector<CallBrief>(2 * kContextCalls);  // a ring of the last host calls
  size_t recentNext = 0;
  std::vector<Contention> contention;  // the first kKeptContention
  uint64_t contentionCount = 0;

  // The holds and the failed, refused or slow opens seen last, to be paired
  // whichever of the two is handed on first.
  struct RecentHold {
    uint64_t serial = 0;
    KeptText table;
    std::string computer;
    Hold hold;
    uint64_t attemptsBefore = 0;  // the attempt serial when it began
    bool pairedWithEarlier = false;
  };
  struct Attempt {
    uint64_t serial = 0;
    KeptText table;
    std::string computer;
    uint32_t pid = 0;
    int run = -1;
    uint64_t line = 0;
    int64_t time = -1;
    int64_t duration = -1;
    ContentionOutcome outcome = kContentionFailed;
  };
  std::vector<RecentHold> recentHolds;  // a ring of kRecentHolds
  std::vector<Attempt> recentAttempts;  // a ring of kRecentAttempts
  uint64_t holdSerial = 0;
  uint64_t attemptSerial = 0;
};

// At the end of a log: the holds still open there are paired with the
// attempts handed on before them (an open hold is paired so only once its
// end is known, lest an attempt after its close, in a log read earlier,
// be taken for one inside it).
void PairHoldsLeftOpen(TimingFigures& timing);

char const* ContentionOutcomeName(ContentionOutcome outcome);
// "HH:MM:SS.ffffff", after "DATE " when the date is known.
std::string TimeText(int64_t micros, std::string_view date);

}  // namespace tools
}  // namespace tolvan

#endif

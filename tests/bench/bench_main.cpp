// What the module costs the host, each measurement beside its baseline in the
// same run: scripts/bench.sh turns the pairs into ratios.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <unistd.h>

#include <string>

#include "core/error_reporter.h"
#include "core/trace_log.h"
#include "tests/bench/bench_setup.h"

namespace tolvan {
namespace bench {
namespace {

// --- A forwarded call with tracing off, against the engine function itself.

void DirectEngineCall(benchmark::State& state) {
  DictionaryLayout dictionary{};
  for (auto _ : state) benchmark::DoNotOptimize(g_directEntry(&dictionary));
}
BENCHMARK(DirectEngineCall);

void ForwardedCallTracingOff(benchmark::State& state) {
  AttachModule(false);
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  dictionary->BeginTransaction();  // resolves the entry
  for (auto _ : state) benchmark::DoNotOptimize(dictionary->BeginTransaction());
  if (storage.unused[0] != static_cast<int>(state.iterations()) + 1) state.SkipWithError("calls lost");
}
BENCHMARK(ForwardedCallTracingOff);

// --- One trace item, against the file work the log format itself demands:
// open both files for appending, write the separator and the text, close.

std::string LogDirectory() {
  static std::string const directory = [] {
    char pattern[] = "/tmp/tolvan-bench-XXXXXX";
    if (!mkdtemp(pattern)) abort();
    return std::string(pattern) + "/";
  }();
  return directory;
}

char const kItemText[] = "CDataDictionary::BeginTransaction(void)";

void BareFileWorkOfOneItem(benchmark::State& state) {
  std::string const masked = LogDirectory() + "bare_b.log";
  std::string const plain = LogDirectory() + "bare_a.log";
  for (auto _ : state) {
    for (std::string const* path : {&masked, &plain}) {
      FILE* file = fopen(path->c_str(), "ab");
      fwrite(" ", 1, 1, file);
      fwrite(kItemText, 1, sizeof kItemText - 1, file);
      fclose(file);
    }
  }
  unlink(masked.c_str());
  unlink(plain.c_str());
}
BENCHMARK(BareFileWorkOfOneItem);

void OneTraceItem(benchmark::State& state) {
  AttachModule(true, LogDirectory());
  for (auto _ : state) WriteTraceItem(kItemText, sizeof kItemText - 1);
  g_module.tracing = 0;
  unlink((LogDirectory() + "Tolvan32_b.log").c_str());
  unlink((LogDirectory() + "Tolvan32_a.log").c_str());
}
BENCHMARK(OneTraceItem);

// --- The worked example of the trace: BeginTransaction traced, its call
// record and its result record, with the file opens it takes.

void TracedCallWorkedExample(benchmark::State& state) {
  AttachModule(true, LogDirectory());
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  dictionary->BeginTransaction();  // resolves the entry
  long const opensBefore = host::LogOpenCount();
  for (auto _ : state) benchmark::DoNotOptimize(dictionary->BeginTransaction());
  state.counters["opens_per_call"] =
      static_cast<double>(host::LogOpenCount() - opensBefore) / static_cast<double>(state.iterations());
  ModuleDetach();
  unlink((LogDirectory() + "Tolvan32_b.log").c_str());
  unlink((LogDirectory() + "Tolvan32_a.log").c_str());
}
BENCHMARK(TracedCallWorkedExample);

// --- What the time items add to a line, file work excluded: the worked
// example with both logs refusing to open, so that each line is made (ids
// and items collected, and with time its time item, and the result's
// duration) but never reaches a file. Two lines per call.

void CallWithoutFileWork(benchmark::State& state, bool timed) {
  if (timed) setenv("Tolvan32_TraceTime", "1", 1);
  AttachModule(true, LogDirectory());
  unsetenv("Tolvan32_TraceTime");
  host::SetUnopenableLogs("ba");
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  dictionary->BeginTransaction();  // resolves the entry
  for (auto _ : state) benchmark::DoNotOptimize(dictionary->BeginTransaction());
  host::SetUnopenableLogs("");
  ModuleDetach();
  g_module = ModuleState();
}
void TracedCallWithoutFileWork(benchmark::State& state) { CallWithoutFileWork(state, false); }
void TimedTracedCallWithoutFileWork(benchmark::State& state) { CallWithoutFileWork(state, true); }
BENCHMARK(TracedCallWithoutFileWork);
BENCHMARK(TimedTracedCallWithoutFileWork);

// --- The flight recorder: the worked example's call with its two lines
// kept in the ring, never written (no trigger comes).

void RecordedCallWorkedExample(benchmark::State& state) {
  setenv("Tolvan32_Recorder", "1000", 1);
  AttachModule(false, LogDirectory());
  unsetenv("Tolvan32_Recorder");
  DictionaryLayout storage{};
  auto* dictionary = reinterpret_cast<CDataDictionary*>(&storage);
  dictionary->BeginTransaction();  // resolves the entry
  long const opensBefore = host::LogOpenCount();
  long long const heapBefore = host::LiveHeapBytes();
  for (auto _ : state) benchmark::DoNotOptimize(dictionary->BeginTransaction());
  if (host::LogOpenCount() != opensBefore) state.SkipWithError("a recorded call opened a log");
  if (host::LiveHeapBytes() != heapBefore) state.SkipWithError("the heap grew while recording");
  ModuleDetach();
  g_module = ModuleState();
}
BENCHMARK(RecordedCallWorkedExample);

// --- The module's own heap over 10^6 calls: a mix of forwarded calls, and
// every thousandth one to an entry the engine lacks, which reports #002
// through the message buffer.

void HeapOverAMillionCalls(benchmark::State& state) {
  for (auto _ : state) {
    AttachModule(false, LogDirectory());
    DictionaryLayout dictionaryStorage{};
    TableLayout tableStorage{};
    tableStorage.name = "T";
    tableStorage.traceWord = 1;
    auto* dictionary = reinterpret_cast<CDataDictionary*>(&dictionaryStorage);
    auto* table = reinterpret_cast<CTable*>(&tableStorage);
    dictionary->BeginTransaction();
    long long const before = host::LiveHeapBytes();
    long long highest = before;
    for (int call = 0; call < 1000000; ++call) {
      if (call % 1000 == 999) {
        dictionary->Close();  // not in the lean engine: #002
      } else if (call % 2) {
        table->OpenAccess(kShareModeExclusive, kSafetyNormal);
      } else {
        dictionary->SetSysFilePath("C:\\DATA");
      }
      long long const live = host::LiveHeapBytes();
      if (live > highest) highest = live;
    }
    state.counters["heap_before"] = static_cast<double>(before);
    state.counters["heap_after"] = static_cast<double>(host::LiveHeapBytes());
    state.counters["heap_highest"] = static_cast<double>(highest);
    host::MessageBoxes().clear();
    ModuleDetach();
    state.counters["heap_after_detach"] = static_cast<double>(host::LiveHeapBytes());
    unlink((LogDirectory() + "Tolvan32_b.log").c_str());
    unlink((LogDirectory() + "Tolvan32_a.log").c_str());
  }
}
BENCHMARK(HeapOverAMillionCalls)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace bench
}  // namespace tolvan

BENCHMARK_MAIN();

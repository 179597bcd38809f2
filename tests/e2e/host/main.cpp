// The test host: a 32-bit Windows program that binds to Tolvan32.dll through
// its import library, as the real host does, and runs one scenario per
// process against the stand-in engine.
//
//   tolvan_e2e_host --list        one line per scenario: name, engine variant
//                                 ("engine", "engine-missing-entry",
//                                 "engine-is-module-copy", "none")
//                                 and the environment, separated by tabs
//   tolvan_e2e_host --operations  the names of all operations
//   tolvan_e2e_host NAME          runs the scenario; ends with
//                                 "result NAME: passed|failed (...)"
//   tolvan_e2e_host --trace-writer TABLE  the second process of concurrent-tracing
//   tolvan_e2e_host --hold-trace-lock     the second process of trace-lock-held-elsewhere
//   tolvan_e2e_host --timed-writer        the second process of timed-trace-two-processes
//   tolvan_e2e_host --contending-opener   the second process of timed-contention
//   tolvan_e2e_host --recorder-peer       the second process of recorder-snapshot
//   tolvan_e2e_host --hold FILE   a running host for tolvan32-setup: keeps
//                                 the Tolvan32.dll it loaded until FILE exists
#include "tests/e2e/host/scenarios.h"

namespace e2e {

namespace {

enum { kMaxEnvironment = 6 };

struct Scenario {
  char const* name;
  char const* engine;
  void (*run)();
  ExpectedOptions options;
  char const* environment[kMaxEnvironment];
};

char const kEngine[] = "engine";
char const kEngineMissingEntry[] = "engine-missing-entry";
char const kNoEngine[] = "none";
char const kEngineIsModuleCopy[] = "engine-is-module-copy";

ExpectedOptions const kNoOptions = {0, 0, 0, 0, 0};
ExpectedOptions const kTraced = {1, 0, 0, 0, 0};
ExpectedOptions const kTracedLevel2 = {2, 0, 0, 0, 0};
ExpectedOptions const kRecorded = {0, 0, 0, 0, 1};

Scenario const kScenarios[] = {
    {"typical-road", kEngine, TypicalRoad, kTraced, {"Tolvan32_Debug=1"}},
    {"untraced-road", kEngine, UntracedRoad, kNoOptions, {}},
    {"dictionary-family", kEngine, DictionaryFamily, kTraced, {"Tolvan32_Debug=1"}},
    {"share-forcing", kEngine, ShareForcing, kTraced, {"Tolvan32_Debug=1"}},
    {"exclusive-escalation", kEngine, ExclusiveEscalation, kTraced, {"Tolvan32_Debug=1"}},
    {"read-sequences", kEngine, ReadSequences, kTraced, {"Tolvan32_Debug=1"}},
    {"read-sequences-noseq-stopseq", kEngine, ReadSequences, {1, 0, 1, 1, 0},
     {"Tolvan32_Debug=1", "Tolvan32_NoSEQ=1", "Tolvan32_StopSEQ=1"}},
    {"read-sequences-stopseq-untraced", kEngine, ReadSequences, {0, 0, 0, 1, 0}, {"Tolvan32_StopSEQ=1"}},
    {"table-family", kEngine, TableFamily, kTraced, {"Tolvan32_Debug=1"}},
    {"table-field-lookups-level2", kEngine, TableFieldLookUps, kTracedLevel2, {"Tolvan32_Debug=2"}},
    {"store-family", kEngine, StoreFamily, kTraced, {"Tolvan32_Debug=1"}},
    {"field-exchange", kEngine, FieldExchange, kTraced, {"Tolvan32_Debug=1"}},
    {"field-exchange-untraced", kEngine, FieldExchange, kNoOptions, {}},
    {"keys-recaddrs-indexes", kEngine, KeysRecordAddressesIndexes, kTraced, {"Tolvan32_Debug=1"}},
    {"virtual-tables", kEngine, VirtualTables, kTraced, {"Tolvan32_Debug=1"}},
    {"deleting-destructor-flag-bits", kEngine, DeletingDestructorFlagBits, kTraced, {"Tolvan32_Debug=1"}},
    {"engine-exceptions", kEngine, EngineExceptions, kTraced, {"Tolvan32_Debug=1"}},
    {"exception-from-working-recaddr-destructor", kEngine, ExceptionFromWorkingRecAddrDestructor, kTraced,
     {"Tolvan32_Debug=1"}},
    {"engine-missing", kNoEngine, EngineMissing, kNoOptions, {}},
    {"engine-missing-traced", kNoEngine, EngineMissingTraced, kTraced, {"Tolvan32_Debug=1"}},
    {"engine-missing-threads", kNoEngine, EngineMissingThreads, kNoOptions, {}},
    {"entry-missing", kEngineMissingEntry, EntryMissing, kTraced, {"Tolvan32_Debug=1"}},
    {"engine-is-module-copy", kEngineIsModuleCopy, EngineIsModuleCopy, kTraced, {"Tolvan32_Debug=1"}},
    {"thread-notifications", kEngine, ThreadNotifications, kTraced, {"Tolvan32_Debug=1"}},
    {"concurrent-tracing", kEngine, ConcurrentTracing, kTraced, {"Tolvan32_Debug=1"}},
    {"concurrent-tracing-ids", kEngine, ConcurrentTracing, {1, 0, 0, 0, 1}, {"Tolvan32_Debug=1", "Tolvan32_TraceIds=1"}},
    {"unreadable-host-text", kEngine, UnreadableHostText, kTraced, {"Tolvan32_Debug=1"}},
    {"trace-lock-held-elsewhere", kEngine, TraceLockHeldElsewhere, kTraced, {"Tolvan32_Debug=1"}},
    {"timed-trace", kEngine, TimedTrace, {1, 0, 0, 0, 1},
     {"Tolvan32_Debug=1", "Tolvan32_TraceIds=1", "Tolvan32_TraceTime=1", "STANDIN_SLOW_OP=Pack", "STANDIN_SLOW_MS=200"}},
    {"timed-trace-two-processes", kEngine, TimedTraceTwoProcesses, {1, 0, 0, 0, 1},
     {"Tolvan32_Debug=1", "Tolvan32_TraceIds=1", "Tolvan32_TraceTime=1"}},
    {"timed-contention", kEngine, TimedContention, {1, 0, 0, 0, 1},
     {"Tolvan32_Debug=1", "Tolvan32_TraceIds=1", "Tolvan32_TraceTime=1", "STANDIN_SLOW_OP=Pack", "STANDIN_SLOW_MS=1000"}},
    // The flight recorder, with the full trace off: lines with ids and time,
    // written only as blocks.
    {"recorder-quiet", kEngine, RecorderQuiet, kRecorded, {"Tolvan32_Recorder=200"}},
    {"recorder-error", kEngineMissingEntry, RecorderAfterError, kRecorded, {"Tolvan32_Recorder=200"}},
    {"recorder-refused-escalation", kEngine, RecorderAfterRefusedEscalation, kRecorded, {"Tolvan32_Recorder=200"}},
    {"recorder-exception", kEngine, RecorderAfterException, kRecorded, {"Tolvan32_Recorder=200"}},
    {"recorder-slow-call", kEngine, RecorderAfterSlowCall, kRecorded,
     {"Tolvan32_Recorder=200", "Tolvan32_RecorderSlowMs=100", "STANDIN_SLOW_OP=Pack", "STANDIN_SLOW_MS=300"}},
    {"recorder-snapshot", kEngine, RecorderSnapshot, kRecorded, {"Tolvan32_Recorder=200"}},
    {"concurrent-escalations", kEngine, ConcurrentEscalations, kNoOptions, {}},
    {"binary-mode-host", kEngine, BinaryModeHost, kTraced, {"Tolvan32_Debug=1"}},
    // Option values: only an exact 1 (or 2 for the trace level) counts, read
    // as atol reads it from at most 14 characters.
    {"options-all-on", kEngine, OptionProbe, {2, 1, 1, 1, 0},
     {"Tolvan32_Debug=2", "Tolvan32_NoShare=1", "Tolvan32_NoSEQ=1", "Tolvan32_StopSEQ=1"}},
    {"options-spelled-loosely", kEngine, OptionProbe, {2, 1, 1, 1, 0},
     {"Tolvan32_Debug= 2", "Tolvan32_NoShare=1 ", "Tolvan32_NoSEQ=+1", "Tolvan32_StopSEQ=01"}},
    {"options-trailing-text", kEngine, OptionProbe, {2, 1, 0, 0, 0},
     {"Tolvan32_Debug=2x", "Tolvan32_NoShare=00000000000001", "Tolvan32_NoSEQ=-1", "Tolvan32_StopSEQ=on"}},
    {"options-not-counted", kEngine, OptionProbe, {0, 0, 0, 0, 0},
     {"Tolvan32_Debug=3", "Tolvan32_NoShare=2", "Tolvan32_NoSEQ=000000000000001", "Tolvan32_StopSEQ=0x1"}},
    {"options-level1", kEngine, OptionProbe, {1, 0, 0, 0, 0}, {"Tolvan32_Debug=+1", "Tolvan32_NoShare=0"}},
    {"options-debug-zero", kEngine, OptionProbe, {0, 0, 0, 0, 0}, {"Tolvan32_Debug=0"}},
    {"options-debug-negative", kEngine, OptionProbe, {0, 0, 0, 0, 0}, {"Tolvan32_Debug=-1"}},
    {"options-debug-word", kEngine, OptionProbe, {0, 0, 0, 0, 0}, {"Tolvan32_Debug=on"}},
    {"options-debug-leading-zero", kEngine, OptionProbe, {2, 0, 0, 0, 0}, {"Tolvan32_Debug=02"}},
};

Scenario const* g_current;

int RunScenario(Scenario const& scenario) {
  g_current = &scenario;
  printf("scenario %s\n", scenario.name);
  // The scenario's environment must have reached this process as written.
  for (char const* assignment : scenario.environment) {
    if (!assignment) break;
    char name[64] = {};
    char const* equals = assignment;
    while (*equals && *equals != '=') ++equals;
    memcpy(name, assignment, static_cast<size_t>(equals - assignment));
    char value[64];
    EnvironmentValue(name, value, sizeof value);
    Expect(strcmp(value, *equals ? equals + 1 : "") == 0, "environment %s is [%s], the scenario sets [%s]", name,
           value, equals + 1);
  }
  scenario.run();
  PrintCoveredOperations();
  bool const passed = ChecksFailed() == 0;
  printf("result %s: %s (%d checks, %d failed)\n", scenario.name, passed ? "passed" : "failed",
         ChecksPassed() + ChecksFailed(), ChecksFailed());
  return passed ? 0 : 1;
}

int Run(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "--list") == 0) {
    for (Scenario const& scenario : kScenarios) {
      printf("%s\t%s", scenario.name, scenario.engine);
      for (char const* assignment : scenario.environment) {
        if (assignment) printf("\t%s", assignment);
      }
      printf("\n");
    }
    return 0;
  }
  if (argc == 3 && strcmp(argv[1], "--trace-writer") == 0) return TraceWriterProcess(argv[2]);
  if (argc == 2 && strcmp(argv[1], "--hold-trace-lock") == 0) return HoldTraceLockProcess();
  if (argc == 2 && strcmp(argv[1], "--timed-writer") == 0) return TimedWriterProcess();
  if (argc == 2 && strcmp(argv[1], "--contending-opener") == 0) return ContendingOpenerProcess();
  if (argc == 2 && strcmp(argv[1], "--recorder-peer") == 0) return RecorderPeerProcess();
  if (argc == 2 && strcmp(argv[1], "--operations") == 0) {
    for (char const* name : kOperationNames) printf("%s\n", name);
    return 0;
  }
  if (argc == 3 && strcmp(argv[1], "--hold") == 0) {
    printf("holding\n");
    fflush(nullptr);
    _iobuf* file;
    while (!(file = fopen(argv[2], "rb"))) Sleep(100);
    fclose(file);
    return 0;
  }
  if (argc == 2) {
    for (Scenario const& scenario : kScenarios) {
      if (strcmp(scenario.name, argv[1]) == 0) return RunScenario(scenario);
    }
  }
  printf("usage: tolvan_e2e_host --list | --operations | SCENARIO | --hold FILE\n");
  return 2;
}

}  // namespace

ExpectedOptions const& Options() { return g_current->options; }

void ExpectStep(char const* what, Calls const& calls, Trace const& trace) {
  ExpectCalls(what, calls);
  if (Options().traceLevel) ExpectTrace(what, trace);
}

}  // namespace e2e

// The program's entry point: no C runtime start-up code is linked, the system
// msvcrt.dll has initialised itself before this runs.
extern "C" void mainCRTStartup() {
  int argc = 0;
  char** argv = nullptr;
  char** environment = nullptr;
  int startInfo = 0;
  __getmainargs(&argc, &argv, &environment, 0, &startInfo);
  int const status = e2e::Run(argc, argv);
  fflush(nullptr);
  exit(status);
}

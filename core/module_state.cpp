#include "module_state.h"

#include "error_reporter.h"
#include "flight_recorder.h"
#include "trace_log.h"
#include "trace_time.h"
#include "platform/platform.h"

namespace tolvan {

ModuleState g_module;

namespace {

bool IsOptionSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

long OptionNumber(char const* text) {
  while (IsOptionSpace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = (*text++ == '-');
  // An option only counts for an exact 1 or 2: once the number is out of the
  // range of a long it stops growing, so no digit string can overflow it.
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value <= 0x80000000LL) value = value * 10 + (*text - '0');
  }
  if (negative) value = -value;
  if (value > 0x7fffffffLL || value < -0x7fffffffLL - 1) return 0;
  return static_cast<long>(value);
}

long ReadOption(char const* name) {
  // The 16th byte stays zero: the variable is fetched with room for 15.
  char value[16] = {};
  // A value that does not fit leaves the buffer's contents undefined: such a
  // value is judged by the length the system returns, never by the buffer.
  unsigned long const length = PlatformGetEnvironment(name, value, sizeof value - 1);
  if (length >= sizeof value - 1) return 0;
  return OptionNumber(value);
}

namespace {

// The recorder builds its lines as a trace with ids and time builds them, so
// it turns those on, with the tracing flag that every facade tests; its
// lines then go to the ring instead of the files. Without memory for the
// ring it stays off, and nothing changes.
void StartRecorderIfAsked() {
  long const lines = ReadOption("Tolvan32_Recorder");
  if (lines < kRecorderFewestLines || lines > kRecorderMostLines) return;
  long slowMs = ReadOption("Tolvan32_RecorderSlowMs");
  if (slowMs < 1) slowMs = 0;
  if (!g_module.traceTime) StartTraceClock();
  if (!StartRecorder(lines, slowMs)) return;
  g_module.recorder = lines;
  g_module.recorderSlowMs = slowMs;
  g_module.traceIds = 1;
  g_module.traceTime = 1;
  g_module.tracing = 1;
}

}  // namespace

int ModuleAttach() {
  g_module.scratchBuffer = static_cast<char*>(PlatformResize(g_module.scratchBuffer, kScratchStep));
  if (!g_module.scratchBuffer) {
    ReportError(kError065);
    // A refused attach is never followed by a detach: give back whatever the
    // report itself may have collected.
    ReleaseBuffer(&g_module.messageBuffer);
    g_module.fallbackMessage[0] = '\0';
    return 0;
  }
  for (int i = 0; i < kRegistrySlots; ++i) g_module.registry[i] = nullptr;

  long debug = ReadOption("Tolvan32_Debug");
  if (debug == 1) {
    g_module.tracing = 1;
    g_module.traceLevel2 = 0;
  } else if (debug == 2) {
    g_module.tracing = 1;
    g_module.traceLevel2 = 1;
  }
  if (ReadOption("Tolvan32_NoSEQ") == 1) g_module.noSeq = 1;
  if (ReadOption("Tolvan32_NoShare") == 1) g_module.noShare = 1;
  if (ReadOption("Tolvan32_StopSEQ") == 1) g_module.stopSeq = 1;
  if (ReadOption("Tolvan32_TraceIds") == 1) g_module.traceIds = 1;
  if (ReadOption("Tolvan32_TraceTime") == 1) {
    g_module.traceTime = 1;
    StartTraceClock();
  }
  if (!g_module.tracing) StartRecorderIfAsked();
  if (g_module.traceIds) PrepareRunLine();
  // Without a slot, lines are written item by item.
  g_module.lineSlot = PlatformThreadSlotCreate();
  return 1;
}

void ModuleDetach() {
  // Text collected without its closing line feed is dropped unseen.
  ReleaseBuffer(&g_module.messageBuffer);
  g_module.fallbackMessage[0] = '\0';
  ReleaseBuffer(&g_module.scratchBuffer);
  ReleaseAllThreadLines();
  StopRecorder();
  if (g_module.lineSlot) PlatformThreadSlotDelete(g_module.lineSlot);
  g_module.lineSlot = 0;
}

void ModuleThreadDetach() { ReleaseThreadLine(); }

}  // namespace tolvan

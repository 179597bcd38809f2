#include "trace_time.h"

#include "module_state.h"
#include "platform/atomic.h"
#include "platform/crt.h"
#include "platform/platform.h"
#include "trace_log.h"

namespace tolvan {

namespace {

enum : unsigned { kTicksPerSecond = 10000000u, kTicksPerMinute = 60u * kTicksPerSecond };

double g_microsecondsPerCount;

// The local minute of the latest time item: a line costs the clock's reading,
// a subtraction and divisions of small numbers, and the system's local time
// is asked once a minute. The sequence number is odd while a thread replaces
// the minute; a reader that sees it change, or odd, works the minute out for
// itself.
struct MinuteCache {
  long sequence;
  long long start;       // the wall clock reading at which the minute began
  char hourMinute[6];    // "HH:MM:"
};
MinuteCache g_minute;

}  // namespace

void StartTraceClock() {
  g_module.clockPrecise = PlatformClockStart() ? 1 : 0;
  double const frequency = PlatformCounterFrequency();
  g_microsecondsPerCount = frequency > 0 ? 1e6 / frequency : 0.0;
}

int FormatTimeItem(char* buffer) {
  long long const now = PlatformClockTicks();
  long const seen = PlatformLoad(&g_minute.sequence);
  long long start = 0;
  char hourMinute[6];
  bool known = false;
  if (!(seen & 1)) {
    start = g_minute.start;
    memcpy(hourMinute, g_minute.hourMinute, sizeof hourMinute);
    PlatformLoadFence();
    known = PlatformLoad(&g_minute.sequence) == seen && seen != 0 &&
            static_cast<unsigned long long>(now - start) < kTicksPerMinute;
  }
  if (!known) {
    int hour = 0, minute = 0;
    PlatformLocalMinute(now, &hour, &minute, &start);
    PutDigits(hourMinute, 2, hour);
    hourMinute[2] = ':';
    PutDigits(hourMinute + 3, 2, minute);
    hourMinute[5] = ':';
    if (!(seen & 1) && PlatformCompareExchange(&g_minute.sequence, seen + 1, seen) == seen) {
      g_minute.start = start;
      memcpy(g_minute.hourMinute, hourMinute, sizeof hourMinute);
      PlatformStore(&g_minute.sequence, seen + 2);
    }
  }
  unsigned const within = static_cast<unsigned>(now - start);
  unsigned const second = within / kTicksPerSecond;
  buffer[0] = '@';
  memcpy(buffer + 1, hourMinute, sizeof hourMinute);
  PutDigits(buffer + 7, 2, static_cast<int>(second));
  buffer[9] = '.';
  PutDigits(buffer + 10, 6, static_cast<int>((within - second * kTicksPerSecond) / 10));
  buffer[16] = '\0';
  return 16;
}

long long CallClock() { return g_module.traceTime ? PlatformCounter() : 0; }

int FormatDurationItem(long long counts, char* buffer) {
  double const microseconds = counts > 0 ? static_cast<double>(counts) * g_microsecondsPerCount : 0.0;
  // In two parts that each fit an int, so that no 64-bit division is needed.
  int const high = static_cast<int>(microseconds / 1e9);
  int const low = static_cast<int>(microseconds - high * 1e9);
  int length = 0;
  buffer[length++] = '+';
  if (high) {
    length += FormatInt(high, buffer + length);
    PutDigits(buffer + length, 9, low);
    length += 9;
  } else {
    length += FormatInt(low, buffer + length);
  }
  buffer[length++] = 'u';
  buffer[length++] = 's';
  buffer[length] = '\0';
  return length;
}

}  // namespace tolvan

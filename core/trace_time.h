// The time items of the trace lines (with Tolvan32_TraceTime): when each line
// was begun, read from one clock for the machine, and how long each engine
// call took, on a monotonic counter.
#ifndef TOLVAN_CORE_TRACE_TIME_H
#define TOLVAN_CORE_TRACE_TIME_H

namespace tolvan {

// At attach: the clock is chosen (precise, or the counter calibrated against
// the system time) and the counter's rate read.
void StartTraceClock();

// "@HH:MM:SS.ffffff", the local time of day now, zero-terminated; returns
// its length (16). Room for kTimeItemSize bytes.
enum { kTimeItemSize = 17 };
int FormatTimeItem(char* buffer);

// The counter, read just before an engine call is made and just after it
// returns; 0 while lines carry no time.
long long CallClock();

// "+Nus": the whole microseconds of `counts` of the counter, zero-terminated;
// returns the length. Room for kDurationItemSize bytes.
enum { kDurationItemSize = 24 };
int FormatDurationItem(long long counts, char* buffer);

}  // namespace tolvan

#endif

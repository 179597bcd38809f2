// The flight recorder (Tolvan32_Recorder): with the full trace off, every
// line is built as a trace with ids and time would build it, but kept in a
// ring of the process's last lines instead of being written. The ring goes
// to both logs, as one block, only when something goes wrong (a trigger), so
// that the calls before an intermittent fault are there without a trace
// that runs for days.
//
// A block: a start mark naming its trigger and the number of lines written
// with it, the recorded lines oldest first, the lines completed within a
// second after the trigger (they join the block rather than starting
// another), and an end mark. A line is never written twice.
#ifndef TOLVAN_CORE_FLIGHT_RECORDER_H
#define TOLVAN_CORE_FLIGHT_RECORDER_H

#include <stddef.h>

namespace tolvan {

enum { kRecorderFewestLines = 100, kRecorderMostLines = 100000 };

enum RecorderTrigger { kTriggerError, kTriggerPolicy, kTriggerException, kTriggerSlow, kTriggerSnapshot };

// At attach: the ring of `lines` lines is allocated once; false when it
// cannot be had (the recorder then stays off). `slowMs` above 0 makes a call
// that takes longer a trigger.
bool StartRecorder(long lines, long slowMs);
// At detach: an open block is ended, the ring given back.
void StopRecorder();

// One finished line of the calling thread: `prefix` (ids, time, a result's
// duration) then `text`, the plain log's bytes, whose pointer items start at
// `pointerAt` with `pointerLength` bytes (dots in the masked log). A line
// longer than the ring's line bound is kept cut, marked " ...".
struct RecordedPointers {
  int count;
  unsigned short at[8];
  unsigned char length[8];
};
void RecordLine(char const* prefix, size_t prefixLength, char const* text, size_t length,
                RecordedPointers const& pointers);

// Writes the block of the ring's lines up to the newest (or lets the line
// join the block under way).
void TriggerRecorder(RecorderTrigger trigger);
// A policy failure and a slow call: triggers when the recorder is on.
void NotePolicyFailure();
bool IsSlowCall(long long counts);
// At each call: whether a snapshot was asked for, looked at no more than
// once a second; a request writes the block.
void CheckSnapshotRequest();

}  // namespace tolvan

#endif

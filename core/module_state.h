// Module-global state: one instance per process, zero until attach. Plain
// words without locks, as the host's threads share the module unsynchronised.
#ifndef TOLVAN_CORE_MODULE_STATE_H
#define TOLVAN_CORE_MODULE_STATE_H

#include "operations.h"

class CDataDictionary;

namespace tolvan {

enum { kRegistrySlots = 10 };
enum { kScratchStep = 32768 };

struct ModuleState {
  int tracing;         // Tolvan32_Debug 1 or 2; fixed from attach on
  int traceLevel2;     // Tolvan32_Debug 2: also CTable::GetField
  int noSeq;           // read sequences pass to the engine without a table lock
  int noShare;         // tables are never forced into shared access
  int stopSeq;         // a message box follows each forwarded read sequence
  int traceIds;        // Tolvan32_TraceIds: lines name their process and thread
  int traceTime;       // Tolvan32_TraceTime: lines carry their time, results their duration
  // Tolvan32_Recorder: the lines the flight recorder keeps (0: off), and
  // Tolvan32_RecorderSlowMs.
  long recorder;
  long recorderSlowMs;
  int clockPrecise;    // with traceTime: the system's precise clock (else the calibrated counter)
  // Pack/ReIndex/Clear between their exclusive open and their restore: share
  // forcing is off while any is. A count, changed atomically, so that one
  // escalation ending does not lift the suspension for another under way.
  long escalationsInProgress;
  CDataDictionary* registry[kRegistrySlots];  // dictionaries opened empty
  char* messageBuffer;   // error text being collected, or null
  char* scratchBuffer;   // copy space while the message buffer grows
  long reporterBusy;     // a report is working on the message buffer
  // Where a message is collected while the heap cannot take it (no scratch
  // buffer, or a failed growth): messages of bounded length stay whole.
  char fallbackMessage[512];
  void* engineLibrary;             // loaded once, never released
  // Trace lines: the per-thread slot of the line being collected (0: none),
  // and, with ids, whether the run line went to each file (0 not yet, 1 on
  // its way, 2 written, 3 taken over from a claimer that died) and whether
  // the engine line was written.
  unsigned long lineSlot;
  void* lines;  // every thread's line storage made so far, a list
  // The numbers of the threads whose line is begun without storage.
  long linesWithoutStorage[16];
  // Per log file: its append lock was not had in time, so appends try it
  // once without waiting until it is had again.
  long appendLockStuck[2];
  long runLineState[2];
  long engineLineWritten;
  // The run line's items after the ids (and the time), from attach: those
  // before the user, and from the host program on.
  char runLine[512];
  char runLineHost[300];
  void* entrySlots[kOperationCount];
  // The same entries, filled only while tracing is off: a facade that finds
  // its entry here has nothing to add to the host's call.
  void* untracedEntries[kOperationCount];
};

extern ModuleState g_module;

// The loader's notifications. Attach returns nonzero to accept the load.
int ModuleAttach();
void ModuleDetach();
// A thread of the host ends: the trace line storage it had is given back.
void ModuleThreadDetach();

// The number an option's value stands for, read as atol reads it: leading
// white space, an optional sign, decimal digits up to the first other
// character; no digits gives 0.
long OptionNumber(char const* text);

// Fetches an environment variable into a 15-character buffer, as the option
// reader does, and returns its number (0 when absent or too long).
long ReadOption(char const* name);

}  // namespace tolvan

#endif

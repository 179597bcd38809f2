// The trace log: two append-only text files receiving the same items, the
// masked log (letter "b", pointers as dots) and the plain log (letter "a").
//
// Each thread collects the items of its line until the line ends, and then
// appends the whole line to each file at once, so that the lines of threads
// and processes tracing at once never mix. A line is a call record, a result
// record or a message of the error reporter.
#ifndef TOLVAN_CORE_TRACE_LOG_H
#define TOLVAN_CORE_TRACE_LOG_H

#include <stddef.h>

namespace tolvan {

// How an item is written to the masked log. The choice travels with the item
// rather than through shared state, so threads tracing at once cannot leak a
// pointer into the masked log or mask another thread's number.
enum ItemMasking { kShowItem, kMaskPointer };

// Adds one item (a space and the bytes) to the thread's line. Nothing happens
// while tracing is off. A null text is written as "NULL", a length of 0 or
// less as "EMPTY". The line goes to the masked log, then to the plain log; a
// masked log that cannot be opened stops the whole line. An item that cannot
// be collected (no memory) is written on its own, after what the line held.
void WriteTraceItem(char const* text, int length, ItemMasking masking = kShowItem);

void TraceText(char const* text);
// A text item written whether tracing is on or not: the echo of an error. A
// piece that holds a line feed ends its line.
void TraceTextAlways(char const* text);
void TraceInt(int value);
void TracePointer(void const* address);
void TraceReal(double value);
void TraceChar(char c);
void TraceLineEnd();
// With Tolvan32_TraceTime, a result's duration item "+Nus" (the call took
// `counts` of CallClock's counter), placed right after the line's time item.
void TraceDuration(long long counts);

// Writes what the thread's line holds so far, as it is, and starts a new
// line: the line was cut short by an exception.
void FlushPartialLine();
// The thread ends (or the module is detached on it): what its line holds is
// written and its storage given back.
void ReleaseThreadLine();

// Runs `body(context)`, which writes the items of one line (a field exchange
// calls the engine between them). Should an exception leave it, the line
// reaches the files as far as it got, and the exception goes on. One guard
// for every line: a guard made per line kind would be code of its own for
// each of them.
void TraceGuardedLine(void (*body)(void const* context), void const* context);

template <class Body>
void TraceLine(Body const& body) {
  TraceGuardedLine([](void const* context) { (*static_cast<Body const*>(context))(); }, &body);
}
// Runs `body(context)`, the engine's part of a traced call. With the
// recorder, an exception that leaves it writes the recorder's block on its
// way through (the call's own line the last of the block).
void WatchedEngineCall(void (*body)(void const* context), void const* context);

template <class Body>
void WatchEngineCall(Body const& body) {
  WatchedEngineCall([](void const* context) { (*static_cast<Body const*>(context))(); }, &body);
}
// Process detach: what the lines of every thread still alive hold is written,
// and their storage given back (those threads never see their own detach).
void ReleaseAllThreadLines();

// With Tolvan32_TraceIds: the run line's items after the ids, made at attach
// (date and time, version, options; with time the clock and the computer;
// the host program), and the engine line,
// written once, when the engine library has been loaded.
void PrepareRunLine();
void TraceEngineLine(void* library);
// "[PID:TID]" of the calling thread; returns the length.
int FormatIds(char* buffer);

// The recorder's way to the files: bytes for the masked log and for the
// plain log, appended as a line is (the run line before them when due).
void AppendToLogs(char const* masked, size_t maskedLength, char const* plain, size_t plainLength);
// The items a line begins with (ids, time); returns the length.
enum { kLinePrefixRoom = 96, kLogPathSize = 260 };
int MakeLinePrefix(char* prefix);
// "<log directory><name>", cut to kLogPathSize.
void FormatLogFileName(char const* name, char* path);

// The last `count` decimal digits of `value` (not negative), with leading
// zeros, not terminated.
void PutDigits(char* at, int count, int value);

// The item texts, zero-terminated into a 16-byte buffer; each returns the length.
int FormatInt(int value, char* buffer);
int FormatPointer(void const* address, char* buffer);
// "%g" as the Windows C runtime writes it: six significant digits, a three
// digit exponent ("1e+006"). Infinities and not-a-number values are written
// "inf", "-inf" and "nan".
int FormatReal(double value, char* buffer);

enum { kItemBufferSize = 16, kRunLineSize = 512 };

}  // namespace tolvan

#endif

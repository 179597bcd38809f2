// The few services the module needs from its platform. The Windows build
// implements them with the system calls and the system C runtime; the host
// test build implements them natively and lets tests steer them.
#ifndef TOLVAN_PLATFORM_PLATFORM_H
#define TOLVAN_PLATFORM_PLATFORM_H

#include <stddef.h>

namespace tolvan {

// Environment: GetEnvironmentVariableA's contract. Copies the value with its
// terminating zero only when it fits (value length < size) and then returns
// the value's length; otherwise leaves the buffer untouched and returns the
// size needed, or 0 for an absent variable.
unsigned long PlatformGetEnvironment(char const* name, char* buffer, unsigned long size);

// Library loading: LoadLibraryA / GetProcAddress / FreeLibrary.
void* PlatformLoadLibrary(char const* fileName);
void* PlatformFindEntry(void* library, char const* exportName);
void PlatformReleaseLibrary(void* library);
// The module's own library handle (the loader's instance handle at attach).
void* PlatformOwnLibrary();

// A modal message box owned by the thread's active window, with one OK button.
void PlatformShowMessageBox(char const* text, char const* caption);

// Heap of the C runtime shared with the host (realloc, free, usable size).
void* PlatformResize(void* block, size_t size);
void PlatformFree(void* block);
size_t PlatformUsableSize(void* block);

// Append-only text files, opened for appending alone and shared with every
// other writer (and with deletion): the file is created when absent.
struct PlatformFile;
PlatformFile* PlatformOpenAppend(char const* path);
// Stores `head` followed by `bytes` at the end of the file in one write, so
// that the appends of other threads and processes neither overwrite it nor
// fall inside it; every line feed is stored as CR LF. Errors are ignored.
// `lockStuck` is the file's own memory, shared by every thread, that the turn
// to append could not be had in time: while it is set, the turn is tried
// once without a wait.
void PlatformAppend(PlatformFile* file, long* lockStuck, char const* head, size_t headLength, char const* bytes,
                    size_t length);
void PlatformClose(PlatformFile* file);

// Storage for the module's own working buffers (the trace lines being
// collected), apart from the buffers of the error reporter.
void* PlatformWorkResize(void* block, size_t size);
void PlatformWorkFree(void* block);

// Per-thread storage as every Windows from XP SP3 on gives a library loaded
// at run time (TlsAlloc, not compiler-made thread-local data). A slot is a
// nonzero number; 0 means none could be had.
unsigned long PlatformThreadSlotCreate();
void PlatformThreadSlotDelete(unsigned long slot);
void* PlatformThreadSlotGet(unsigned long slot);
void PlatformThreadSlotSet(unsigned long slot, void* value);

unsigned long PlatformProcessId();
unsigned long PlatformThreadId();
// Gives way to other threads for a moment; `round` counts the waits so far.
void PlatformPause(unsigned long round);
// Milliseconds from some fixed moment, wrapping around.
unsigned long PlatformTicks();

// The trace's clocks. The wall clock counts 100 ns units since 1601 in UTC,
// as the system's file times do: where the system has a precise wall clock
// it is read directly (one clock for every process of the machine); elsewhere
// the performance counter, calibrated once against the system time when the
// clock is started, stands in for it. PlatformClockStart returns whether the
// precise clock is used.
bool PlatformClockStart();
long long PlatformClockTicks();
// The local hour and minute of a wall clock reading, and the reading at
// which that local minute began.
void PlatformLocalMinute(long long ticks, int* hour, int* minute, long long* minuteStart);
// The monotonic counter that times engine calls, and its counts per second.
long long PlatformCounter();
double PlatformCounterFrequency();

// The computer's name and the user's "DOMAIN\NAME", zero-terminated and cut
// to the buffer; empty when the system does not say.
void PlatformComputerName(char* buffer, size_t size);
void PlatformUserName(char* buffer, size_t size);

struct PlatformDateTime {
  int year, month, day, hour, minute, second;
};
PlatformDateTime PlatformLocalTime();

// The full path of a loaded library (null: the host's program), zero-
// terminated and cut to the buffer.
void PlatformLibraryPath(void* library, char* buffer, size_t size);
// The bytes of a loaded library's version resource, read from its image;
// null when it has none.
void const* PlatformVersionResource(void* library, size_t* size);

// A file's last write, in the wall clock's units (100 ns since 1601, UTC);
// 0 when it has none or cannot be asked.
long long PlatformFileWriteTime(char const* path);

// Directory part of the two trace file names ("C:\" on Windows).
char const* PlatformLogDirectory();

// The C runtime's "%.5e" rendering of a finite value, zero-terminated.
void PlatformFormatExponent(double value, char* buffer, size_t size);

}  // namespace tolvan

#endif

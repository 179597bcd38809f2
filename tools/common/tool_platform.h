// What the tools need from the operating system: writing to the standard
// handles, reading a file from start to end in binary mode, and a second
// thread with the semaphores that hand work to it and back. One
// implementation for the host build, one for the Windows build.
#ifndef TOLVAN_TOOLS_COMMON_TOOL_PLATFORM_H
#define TOLVAN_TOOLS_COMMON_TOOL_PLATFORM_H

#include <cstddef>

namespace tolvan {
namespace tools {

enum StandardHandle { kStandardOutput = 1, kStandardError = 2 };
void WriteStandard(StandardHandle handle, char const* data, size_t length);

// Opens a file for reading in binary mode; "-" is standard input. Returns a
// handle >= 0, or -1 when the file cannot be opened.
int OpenInput(char const* path);
// Reads up to `capacity` bytes: the count read, 0 at the end, -1 on an error.
long ReadInput(int handle, char* buffer, size_t capacity);
void CloseInput(int handle);

// A thread that runs `work(context)`; nullptr when none could be started.
// JoinThread waits for it to end and frees it.
struct ToolThread;
ToolThread* StartThread(void (*work)(void* context), void* context);
void JoinThread(ToolThread* thread);

// A counting semaphore: Wait takes one count, waiting while there is none;
// Post gives one back. Each is a full barrier between the threads.
// nullptr when none could be made.
struct ToolSemaphore;
ToolSemaphore* NewSemaphore(long count);
void WaitSemaphore(ToolSemaphore* semaphore);
void PostSemaphore(ToolSemaphore* semaphore);
void FreeSemaphore(ToolSemaphore* semaphore);

// Each tool's own entry, called by main with the command line split into
// arguments.
int ToolMain(int argc, char** argv);

}  // namespace tools
}  // namespace tolvan

#endif

// The C runtime and Windows functions the end-to-end programs call. Like the
// module, they are built without system headers and bind to the system
// msvcrt.dll and kernel32.dll through the import definitions beside this file.
#ifndef TOLVAN_TESTS_E2E_COMMON_RUNTIME_H
#define TOLVAN_TESTS_E2E_COMMON_RUNTIME_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#include "platform/crt.h"  // memcpy, memset, strlen, placement new

extern "C" {

struct _iobuf;

int __cdecl printf(char const* format, ...);
int __cdecl _snprintf(char* buffer, size_t size, char const* format, ...);
int __cdecl _vsnprintf(char* buffer, size_t size, char const* format, va_list arguments);
int __cdecl fflush(_iobuf* file);
void* __cdecl malloc(size_t size);
void* __cdecl realloc(void* block, size_t size);
void __cdecl free(void* block);
int __cdecl memcmp(void const* a, void const* b, size_t count);
int __cdecl strcmp(char const* a, char const* b);
char* __cdecl strstr(char const* text, char const* part);
int __cdecl strncmp(char const* a, char const* b, size_t count);
size_t __cdecl strspn(char const* text, char const* set);
size_t __cdecl strcspn(char const* text, char const* set);
unsigned long __cdecl strtoul(char const* text, char** end, int base);
long __cdecl strtol(char const* text, char** end, int base);
_iobuf* __cdecl fopen(char const* path, char const* mode);
size_t __cdecl fread(void* data, size_t size, size_t count, _iobuf* file);
int __cdecl fclose(_iobuf* file);
int __cdecl fputs(char const* text, _iobuf* file);
__declspec(noreturn) void __cdecl exit(int status);
int __cdecl __getmainargs(int* argc, char*** argv, char*** environment, int expandWildcards, int* startInfo);
int* __cdecl __p__fmode(void);  // the C runtime's default file mode

void* __stdcall LoadLibraryA(char const* fileName);
void* __stdcall GetModuleHandleA(char const* moduleName);
void* __stdcall GetProcAddress(void* module, char const* name);
int __stdcall VirtualProtect(void* address, size_t size, unsigned long protection, unsigned long* oldProtection);
int __stdcall SetDllDirectoryA(char const* path);
int __stdcall SetEnvironmentVariableA(char const* name, char const* value);
unsigned long __stdcall GetEnvironmentVariableA(char const* name, char* buffer, unsigned long size);
void* __stdcall CreateThread(void* security, size_t stackSize, unsigned long(__stdcall* start)(void*), void* argument,
                             unsigned long flags, unsigned long* threadId);
unsigned long __stdcall WaitForSingleObject(void* handle, unsigned long milliseconds);
int __stdcall CloseHandle(void* handle);
void* __stdcall CreateEventA(void* security, int manualReset, int initialState, char const* name);
int __stdcall SetEvent(void* event);
unsigned long __stdcall GetModuleFileNameA(void* module, char* path, unsigned long size);
int __stdcall GetExitCodeProcess(void* process, unsigned long* exitCode);
unsigned long __stdcall GetCurrentProcessId(void);
int __stdcall GetComputerNameA(char* buffer, unsigned long* size);

struct StartupInfoA {  // STARTUPINFOA
  unsigned long size;
  char* reserved;
  char* desktop;
  char* title;
  unsigned long x, y, width, height, columns, rows, fillAttribute, flags;
  unsigned short showWindow, reserved2;
  void* reserved3;
  void* standardInput;
  void* standardOutput;
  void* standardError;
};
struct ProcessInformation {  // PROCESS_INFORMATION
  void* process;
  void* thread;
  unsigned long processId;
  unsigned long threadId;
};
int __stdcall CreateProcessA(char const* application, char* commandLine, void* processSecurity, void* threadSecurity,
                             int inheritHandles, unsigned long flags, void* environment, char const* directory,
                             StartupInfoA* startup, ProcessInformation* information);
void __stdcall Sleep(unsigned long milliseconds);
unsigned long __stdcall GetTickCount(void);
int __stdcall CopyFileA(char const* from, char const* to, int failIfExists);
void* __stdcall CreateFileA(char const* path, unsigned long access, unsigned long share, void* security,
                            unsigned long disposition, unsigned long attributes, void* templateFile);
struct Overlapped {  // OVERLAPPED, as LockFileEx takes it
  unsigned long internal;
  unsigned long internalHigh;
  unsigned long offset;
  unsigned long offsetHigh;
  void* event;
};
int __stdcall LockFileEx(void* file, unsigned long flags, unsigned long reserved, unsigned long lengthLow,
                         unsigned long lengthHigh, Overlapped* place);
int __stdcall TerminateProcess(void* process, unsigned int exitCode);

}  // extern "C"

#endif

// The Windows and C runtime functions the module calls, declared here so that
// the cross build needs no system headers. Each matches the system's own
// declaration; nothing else of those headers is used.
#ifndef TOLVAN_PLATFORM_WINDOWS_WINDOWS_API_H
#define TOLVAN_PLATFORM_WINDOWS_WINDOWS_API_H

#include <stddef.h>

extern "C" {

__declspec(dllimport) unsigned long __stdcall GetEnvironmentVariableA(char const* name, char* buffer,
                                                                      unsigned long size);
__declspec(dllimport) void* __stdcall LoadLibraryA(char const* fileName);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, char const* name);
__declspec(dllimport) int __stdcall FreeLibrary(void* module);
__declspec(dllimport) void* __stdcall CreateFileA(char const* path, unsigned long access, unsigned long share,
                                                 void* security, unsigned long disposition,
                                                 unsigned long attributes, void* templateFile);
__declspec(dllimport) int __stdcall WriteFile(void* file, void const* data, unsigned long length,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) int __stdcall CloseHandle(void* handle);

struct Overlapped {  // OVERLAPPED, as LockFileEx takes it: where the range starts
  unsigned long internal;
  unsigned long internalHigh;
  unsigned long offset;
  unsigned long offsetHigh;
  void* event;
};
__declspec(dllimport) int __stdcall LockFileEx(void* file, unsigned long flags, unsigned long reserved,
                                               unsigned long lengthLow, unsigned long lengthHigh,
                                               Overlapped* place);
__declspec(dllimport) int __stdcall UnlockFileEx(void* file, unsigned long reserved, unsigned long lengthLow,
                                                 unsigned long lengthHigh, Overlapped* place);
__declspec(dllimport) unsigned long __stdcall GetLastError(void);
__declspec(dllimport) unsigned long __stdcall TlsAlloc(void);
__declspec(dllimport) int __stdcall TlsFree(unsigned long slot);
__declspec(dllimport) void* __stdcall TlsGetValue(unsigned long slot);
__declspec(dllimport) int __stdcall TlsSetValue(unsigned long slot, void* value);
__declspec(dllimport) unsigned long __stdcall GetCurrentProcessId(void);
__declspec(dllimport) unsigned long __stdcall GetCurrentThreadId(void);
__declspec(dllimport) void __stdcall Sleep(unsigned long milliseconds);
__declspec(dllimport) unsigned long __stdcall GetTickCount(void);
struct SystemTime {  // SYSTEMTIME
  unsigned short year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};
__declspec(dllimport) void __stdcall GetLocalTime(SystemTime* time);
struct FileTime {  // FILETIME
  unsigned long low, high;
};
__declspec(dllimport) void __stdcall GetSystemTimeAsFileTime(FileTime* time);
struct FileAttributeData {  // WIN32_FILE_ATTRIBUTE_DATA
  unsigned long attributes;
  FileTime created, accessed, written;
  unsigned long sizeHigh, sizeLow;
};
__declspec(dllimport) int __stdcall GetFileAttributesExA(char const* path, int level, FileAttributeData* data);
__declspec(dllimport) int __stdcall FileTimeToLocalFileTime(FileTime const* utc, FileTime* local);
__declspec(dllimport) int __stdcall FileTimeToSystemTime(FileTime const* time, SystemTime* parts);
__declspec(dllimport) int __stdcall SystemTimeToFileTime(SystemTime const* parts, FileTime* time);
__declspec(dllimport) int __stdcall QueryPerformanceCounter(long long* count);
__declspec(dllimport) int __stdcall QueryPerformanceFrequency(long long* frequency);
__declspec(dllimport) int __stdcall GetComputerNameA(char* buffer, unsigned long* size);
__declspec(dllimport) void* __stdcall GetModuleHandleA(char const* name);
__declspec(dllimport) unsigned long __stdcall GetModuleFileNameA(void* module, char* buffer, unsigned long size);
__declspec(dllimport) void* __stdcall FindResourceA(void* module, char const* name, char const* type);
__declspec(dllimport) void* __stdcall LoadResource(void* module, void* resource);
__declspec(dllimport) void* __stdcall LockResource(void* loaded);
__declspec(dllimport) unsigned long __stdcall SizeofResource(void* module, void* resource);
__declspec(dllimport) void* __stdcall GetActiveWindow(void);
__declspec(dllimport) int __stdcall MessageBoxA(void* owner, char const* text, char const* caption,
                                                unsigned type);

__declspec(dllimport) void* __cdecl malloc(size_t size);
__declspec(dllimport) void* __cdecl realloc(void* block, size_t size);
__declspec(dllimport) void __cdecl free(void* block);
__declspec(dllimport) size_t __cdecl _msize(void* block);
__declspec(dllimport) int __cdecl _snprintf(char* buffer, size_t size, char const* format, ...);

}  // extern "C"

#endif

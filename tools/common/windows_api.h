// The Windows and C runtime functions the tools call, declared here because
// the cross build has no system headers. Each matches the system's own
// declaration. Import libraries come from imports/*.def.
#ifndef TOLVAN_TOOLS_COMMON_WINDOWS_API_H
#define TOLVAN_TOOLS_COMMON_WINDOWS_API_H

extern "C" {

__declspec(dllimport) char* __stdcall GetCommandLineA(void);
__declspec(dllimport) void __stdcall ExitProcess(unsigned exitCode);
__declspec(dllimport) void* __stdcall LoadLibraryExA(char const* fileName, void* reserved, unsigned long flags);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, char const* name);
__declspec(dllimport) unsigned long __stdcall GetModuleFileNameA(void* module, char* path, unsigned long size);
__declspec(dllimport) unsigned long __stdcall GetLastError(void);
__declspec(dllimport) unsigned __stdcall SetErrorMode(unsigned mode);
__declspec(dllimport) void* __stdcall FindResourceA(void* module, char const* name, char const* type);
__declspec(dllimport) void* __stdcall LoadResource(void* module, void* resource);
__declspec(dllimport) void* __stdcall LockResource(void* loaded);
__declspec(dllimport) unsigned long __stdcall SizeofResource(void* module, void* resource);

__declspec(dllimport) int __cdecl _write(int handle, void const* data, unsigned count);
__declspec(dllimport) int __cdecl _open(char const* path, int flags, ...);
__declspec(dllimport) int __cdecl _read(int handle, void* buffer, unsigned count);
__declspec(dllimport) int __cdecl _close(int handle);
__declspec(dllimport) int __cdecl _setmode(int handle, int mode);

}  // extern "C"

enum {
  kOpenReadOnly = 0x0000,               // _O_RDONLY
  kOpenBinary = 0x8000,                 // _O_BINARY
  kLoadWithAlteredSearchPath = 0x0008,  // LoadLibraryExA: dependencies beside the library
  kFailCriticalErrors = 0x0001,         // SetErrorMode: no system dialog for a missing file
  kNoOpenFileErrorBox = 0x8000,
};

#endif

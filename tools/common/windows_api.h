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
__declspec(dllimport) int __stdcall FreeLibrary(void* module);
__declspec(dllimport) unsigned long __stdcall GetEnvironmentVariableA(char const* name, char* buffer,
                                                                      unsigned long size);
__declspec(dllimport) unsigned long __stdcall FormatMessageA(unsigned long flags, void const* source,
                                                            unsigned long messageId, unsigned long languageId,
                                                            char* buffer, unsigned long size, void* arguments);
__declspec(dllimport) unsigned long __stdcall GetFileAttributesA(char const* path);
__declspec(dllimport) int __stdcall SetFileAttributesA(char const* path, unsigned long attributes);
__declspec(dllimport) void* __stdcall CreateFileA(char const* path, unsigned long access, unsigned long share,
                                                 void* security, unsigned long disposition,
                                                 unsigned long attributes, void* templateFile);
__declspec(dllimport) int __stdcall CloseHandle(void* handle);
__declspec(dllimport) int __stdcall MoveFileA(char const* from, char const* to);
__declspec(dllimport) int __stdcall CopyFileA(char const* from, char const* to, int failIfExists);
__declspec(dllimport) int __stdcall DeleteFileA(char const* path);

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
  kLoadAsDataFile = 0x0002,             // LoadLibraryExA: resources only, no code run
};

// File attributes, access and creation (GetFileAttributesA, CreateFileA).
unsigned long const kInvalidFileAttributes = 0xffffffffu;
unsigned long const kAttributeReadOnly = 0x01;
unsigned long const kAttributeDirectory = 0x10;
unsigned long const kAttributeNormal = 0x80;
unsigned long const kGenericRead = 0x80000000u;
unsigned long const kGenericWrite = 0x40000000u;
unsigned long const kCreateNew = 1;
unsigned long const kOpenExisting = 3;
unsigned long const kFormatFromSystem = 0x1000;   // FormatMessageA: the system's message table
unsigned long const kFormatIgnoreInserts = 0x200;


#endif

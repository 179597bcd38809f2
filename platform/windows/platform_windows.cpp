// The platform services on Windows: system calls, and the system msvcrt.dll
// for heap and files (the heap must be the one the host uses, and text-mode
// files store each line feed as CR LF by themselves).
#include "platform/platform.h"
#include "platform/windows/windows_api.h"

namespace tolvan {

namespace {
unsigned const kMbOk = 0;
}

unsigned long PlatformGetEnvironment(char const* name, char* buffer, unsigned long size) {
  return GetEnvironmentVariableA(name, buffer, size);
}

void* PlatformLoadLibrary(char const* fileName) { return LoadLibraryA(fileName); }

void* PlatformFindEntry(void* library, char const* exportName) { return GetProcAddress(library, exportName); }

void PlatformShowMessageBox(char const* text, char const* caption) {
  MessageBoxA(GetActiveWindow(), text, caption, kMbOk);
}

void* PlatformResize(void* block, size_t size) { return realloc(block, size); }

void PlatformFree(void* block) { free(block); }

size_t PlatformUsableSize(void* block) { return block ? _msize(block) : 0; }

PlatformFile* PlatformOpenAppend(char const* path) { return reinterpret_cast<PlatformFile*>(fopen(path, "a")); }

void PlatformWrite(PlatformFile* file, char const* bytes, size_t length) {
  fwrite(bytes, 1, length, reinterpret_cast<_iobuf*>(file));
}

void PlatformClose(PlatformFile* file) { fclose(reinterpret_cast<_iobuf*>(file)); }

char const* PlatformLogDirectory() { return "C:\\"; }

void PlatformFormatExponent(double value, char* buffer, size_t size) {
  _snprintf(buffer, size - 1, "%.5e", value);
  buffer[size - 1] = '\0';
}

}  // namespace tolvan

// The platform services on Windows: system calls, and the system msvcrt.dll
// for the heap (it must be the one the host uses). The trace files are
// written through the kernel, so that nothing the host does to the C
// runtime's file modes changes what reaches the disk.
#include "platform/platform.h"
#include "platform/windows/windows_api.h"

namespace tolvan {

namespace {

unsigned const kMbOk = 0;
unsigned long const kFileReadData = 0x0001;
unsigned long const kFileAppendData = 0x0004;
unsigned long const kLockExclusive = 0x0002;
unsigned long const kShareReadWriteDelete = 0x0001 | 0x0002 | 0x0004;
unsigned long const kOpenAlways = 4;
unsigned long const kFileAttributeNormal = 0x80;
void* const kInvalidHandle = reinterpret_cast<void*>(-1);

enum { kStackItemRoom = 1024 };

// Copies `length` bytes to `out`, each line feed as CR LF; returns the count.
size_t CopyWithCrLf(char const* bytes, size_t length, char* out) {
  size_t used = 0;
  for (size_t i = 0; i < length; ++i) {
    if (bytes[i] == '\n') out[used++] = '\r';
    out[used++] = bytes[i];
  }
  return used;
}

size_t SizeWithCrLf(char const* bytes, size_t length) {
  size_t size = length;
  for (size_t i = 0; i < length; ++i) size += bytes[i] == '\n';
  return size;
}

void WriteAll(void* handle, char const* bytes, size_t length) {
  unsigned long written = 0;
  WriteFile(handle, bytes, static_cast<unsigned long>(length), &written, nullptr);
}

// Appends by the file system are whole and in turn. Where the system only
// emulates appending (a look at the file's size, then a write there, as
// Wine does), two writers could still meet at the same end; a lock on one
// byte far beyond any log's end makes every writer, in any process, append
// in turn. The system releases it if a process ends while holding it.
struct AppendTurn {
  explicit AppendTurn(void* file) : handle(file) {
    place.offset = 0xfffffff0u;
    place.offsetHigh = 0x7fffffffu;
    held = LockFileEx(handle, kLockExclusive, 0, 1, 0, &place) != 0;
  }
  ~AppendTurn() {
    if (held) UnlockFileEx(handle, 0, 1, 0, &place);
  }
  void* handle;
  Overlapped place = {};
  bool held;
};

}  // namespace

unsigned long PlatformGetEnvironment(char const* name, char* buffer, unsigned long size) {
  return GetEnvironmentVariableA(name, buffer, size);
}

void* PlatformLoadLibrary(char const* fileName) { return LoadLibraryA(fileName); }

void* PlatformFindEntry(void* library, char const* exportName) { return GetProcAddress(library, exportName); }

void PlatformReleaseLibrary(void* library) { FreeLibrary(library); }

void PlatformShowMessageBox(char const* text, char const* caption) {
  MessageBoxA(GetActiveWindow(), text, caption, kMbOk);
}

void* PlatformResize(void* block, size_t size) { return realloc(block, size); }

void PlatformFree(void* block) { free(block); }

size_t PlatformUsableSize(void* block) { return block ? _msize(block) : 0; }

PlatformFile* PlatformOpenAppend(char const* path) {
  // Appending alone: the system puts every write at the end of the file as
  // one step, whoever else is appending.
  // Read access only so that the file can be locked; writes still all go to
  // the end.
  void* const handle = CreateFileA(path, kFileAppendData | kFileReadData, kShareReadWriteDelete, nullptr, kOpenAlways,
                                   kFileAttributeNormal, nullptr);
  return handle == kInvalidHandle ? nullptr : reinterpret_cast<PlatformFile*>(handle);
}

void PlatformAppend(PlatformFile* file, char const* head, size_t headLength, char const* bytes, size_t length) {
  void* const handle = reinterpret_cast<void*>(file);
  size_t const size = SizeWithCrLf(head, headLength) + SizeWithCrLf(bytes, length);
  AppendTurn const turn(handle);
  char room[kStackItemRoom];
  char* const joined = size <= sizeof room ? room : static_cast<char*>(malloc(size));
  if (!joined) {
    // No memory for one block: the item goes out in stack-sized pieces, each
    // still appended whole.
    char const* parts[] = {head, bytes};
    size_t const lengths[] = {headLength, length};
    for (int part = 0; part < 2; ++part) {
      size_t done = 0;
      while (done < lengths[part]) {
        size_t const take = lengths[part] - done < kStackItemRoom / 2 ? lengths[part] - done : kStackItemRoom / 2;
        WriteAll(handle, room, CopyWithCrLf(parts[part] + done, take, room));
        done += take;
      }
    }
    return;
  }
  size_t const used = CopyWithCrLf(head, headLength, joined);
  WriteAll(handle, joined, used + CopyWithCrLf(bytes, length, joined + used));
  if (joined != room) free(joined);
}

void PlatformClose(PlatformFile* file) { CloseHandle(reinterpret_cast<void*>(file)); }

char const* PlatformLogDirectory() { return "C:\\"; }

void PlatformFormatExponent(double value, char* buffer, size_t size) {
  _snprintf(buffer, size - 1, "%.5e", value);
  buffer[size - 1] = '\0';
}

}  // namespace tolvan

// The platform services on Windows: system calls, and the system msvcrt.dll
// for the heap (it must be the one the host uses). The trace files are
// written through the kernel, so that nothing the host does to the C
// runtime's file modes changes what reaches the disk.
#include "platform/atomic.h"
#include "platform/platform.h"
#include "platform/windows/windows_api.h"

namespace tolvan {

namespace {

unsigned const kMbOk = 0;
unsigned long const kFileReadData = 0x0001;
unsigned long const kFileAppendData = 0x0004;
unsigned long const kLockExclusive = 0x0002;
unsigned long const kLockFailImmediately = 0x0001;
unsigned long const kErrorAccessDenied = 5;
unsigned long const kErrorLockViolation = 33;
unsigned long const kTlsOutOfIndexes = 0xffffffffu;
char const* const kVersionResourceName = reinterpret_cast<char const*>(1);
char const* const kVersionResourceType = reinterpret_cast<char const*>(16);
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
//
// A lock held elsewhere for good (a process stopped in a debugger) must not
// stop the host: the wait is bounded, and the line is then appended without
// the lock. Once a wait has run out, the file's lock is tried once without a
// wait until it is had again, so that such a lock costs one wait in all, not
// one per line. A file opened without read access cannot be locked at all:
// no wait.
enum { kLockWaitMilliseconds = 700 };

struct AppendTurn {
  AppendTurn(void* file, long* lockStuck) : handle(file) {
    place.offset = 0xfffffff0u;
    place.offsetHigh = 0x7fffffffu;
    held = TryLock();
    if (!held && GetLastError() == kErrorLockViolation && !PlatformLoad(lockStuck)) {
      unsigned long const start = GetTickCount();
      for (unsigned long round = 0; !held && GetTickCount() - start < kLockWaitMilliseconds; ++round) {
        PlatformPause(round);
        held = TryLock();
      }
      if (!held) PlatformStore(lockStuck, 1);
    }
    if (held && PlatformLoad(lockStuck)) PlatformStore(lockStuck, 0);
  }
  ~AppendTurn() {
    if (held) UnlockFileEx(handle, 0, 1, 0, &place);
  }
  bool TryLock() { return LockFileEx(handle, kLockExclusive | kLockFailImmediately, 0, 1, 0, &place) != 0; }
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
  // the end. A log that allows appending but not reading is written
  // without the lock.
  void* handle = CreateFileA(path, kFileAppendData | kFileReadData, kShareReadWriteDelete, nullptr, kOpenAlways,
                             kFileAttributeNormal, nullptr);
  if (handle == kInvalidHandle && GetLastError() == kErrorAccessDenied) {
    handle = CreateFileA(path, kFileAppendData, kShareReadWriteDelete, nullptr, kOpenAlways, kFileAttributeNormal,
                         nullptr);
  }
  return handle == kInvalidHandle ? nullptr : reinterpret_cast<PlatformFile*>(handle);
}

void PlatformAppend(PlatformFile* file, long* lockStuck, char const* head, size_t headLength, char const* bytes,
                    size_t length) {
  void* const handle = reinterpret_cast<void*>(file);
  size_t const size = SizeWithCrLf(head, headLength) + SizeWithCrLf(bytes, length);
  AppendTurn const turn(handle, lockStuck);
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

long long PlatformFileWriteTime(char const* path) {
  FileAttributeData data = {};
  // Level 0: GetFileExInfoStandard. No handle is opened, so a request file
  // held open by the tool that writes it is still read.
  if (!GetFileAttributesExA(path, 0, &data)) return 0;
  return static_cast<long long>((static_cast<unsigned long long>(data.written.high) << 32) | data.written.low);
}

void* PlatformWorkResize(void* block, size_t size) { return realloc(block, size); }

void PlatformWorkFree(void* block) { free(block); }

unsigned long PlatformThreadSlotCreate() {
  unsigned long const slot = TlsAlloc();
  return slot == kTlsOutOfIndexes ? 0 : slot + 1;
}

void PlatformThreadSlotDelete(unsigned long slot) { TlsFree(slot - 1); }

void* PlatformThreadSlotGet(unsigned long slot) { return TlsGetValue(slot - 1); }

void PlatformThreadSlotSet(unsigned long slot, void* value) { TlsSetValue(slot - 1, value); }

unsigned long PlatformProcessId() { return GetCurrentProcessId(); }

unsigned long PlatformThreadId() { return GetCurrentThreadId(); }

void PlatformPause(unsigned long round) { Sleep(round < 32 ? 0 : 1); }

unsigned long PlatformTicks() { return GetTickCount(); }

namespace {

long long Joined(FileTime time) {
  return static_cast<long long>((static_cast<unsigned long long>(time.high) << 32) | time.low);
}

FileTime Split(long long ticks) {
  unsigned long long const bits = static_cast<unsigned long long>(ticks);
  return FileTime{static_cast<unsigned long>(bits), static_cast<unsigned long>(bits >> 32)};
}

typedef void(__stdcall* PreciseClock)(FileTime* time);
PreciseClock g_preciseClock;  // Windows 8 and later
double g_countsPerSecond;
// The calibration: a system time and the counter read at once, and the
// clock's units per count.
long long g_calibratedTicks;
long long g_calibratedCount;
double g_ticksPerCount;

}  // namespace

bool PlatformClockStart() {
  g_preciseClock = reinterpret_cast<PreciseClock>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetSystemTimePreciseAsFileTime"));
  long long frequency = 0;
  QueryPerformanceFrequency(&frequency);
  g_countsPerSecond = static_cast<double>(frequency);
  FileTime now = {};
  GetSystemTimeAsFileTime(&now);
  QueryPerformanceCounter(&g_calibratedCount);
  g_calibratedTicks = Joined(now);
  g_ticksPerCount = frequency ? 1e7 / g_countsPerSecond : 0.0;
  return g_preciseClock != nullptr;
}

long long PlatformClockTicks() {
  if (g_preciseClock) {
    FileTime now;
    g_preciseClock(&now);
    return Joined(now);
  }
  return g_calibratedTicks + static_cast<long long>(static_cast<double>(PlatformCounter() - g_calibratedCount) *
                                                    g_ticksPerCount);
}

void PlatformLocalMinute(long long ticks, int* hour, int* minute, long long* minuteStart) {
  FileTime const utc = Split(ticks);
  FileTime local = {};
  SystemTime parts = {};
  FileTimeToLocalFileTime(&utc, &local);
  FileTimeToSystemTime(&local, &parts);
  *hour = parts.hour;
  *minute = parts.minute;
  parts.second = 0;
  parts.milliseconds = 0;
  FileTime localStart = {};
  SystemTimeToFileTime(&parts, &localStart);
  // The minute began this long before the reading, whatever the local bias.
  *minuteStart = ticks - (Joined(local) - Joined(localStart));
}

long long PlatformCounter() {
  long long count = 0;
  QueryPerformanceCounter(&count);
  return count;
}

double PlatformCounterFrequency() { return g_countsPerSecond; }

void PlatformComputerName(char* buffer, size_t size) {
  unsigned long length = static_cast<unsigned long>(size);
  if (!GetComputerNameA(buffer, &length)) buffer[0] = '\0';
}

void PlatformUserName(char* buffer, size_t size) {
  // advapi32 is asked only for the run line, which is written with the first
  // line, not in the module's attach: the module's imports stay as they were,
  // and a host that never traces never has the library loaded for it.
  typedef int(__stdcall * UserName)(char* name, unsigned long* size);
  unsigned long length = GetEnvironmentVariableA("USERDOMAIN", buffer, static_cast<unsigned long>(size));
  if (length >= size) length = 0;
  if (length + 2 < size) {
    buffer[length++] = '\\';
    void* const loaded = GetModuleHandleA("advapi32.dll");
    void* const advapi = loaded ? loaded : LoadLibraryA("advapi32.dll");
    UserName const userName = advapi ? reinterpret_cast<UserName>(GetProcAddress(advapi, "GetUserNameA")) : nullptr;
    unsigned long room = static_cast<unsigned long>(size - length);
    if (!userName || !userName(buffer + length, &room)) buffer[length] = '\0';
    if (advapi && !loaded) FreeLibrary(advapi);
  }
  buffer[size - 1] = '\0';
}

PlatformDateTime PlatformLocalTime() {
  SystemTime now = {};
  GetLocalTime(&now);
  return PlatformDateTime{now.year, now.month, now.day, now.hour, now.minute, now.second};
}

void PlatformLibraryPath(void* library, char* buffer, size_t size) {
  unsigned long const length = GetModuleFileNameA(library, buffer, static_cast<unsigned long>(size - 1));
  buffer[length < size ? length : size - 1] = '\0';
}

void const* PlatformVersionResource(void* library, size_t* size) {
  *size = 0;
  void* const resource = FindResourceA(library, kVersionResourceName, kVersionResourceType);
  void* const loaded = resource ? LoadResource(library, resource) : nullptr;
  void const* const bytes = loaded ? LockResource(loaded) : nullptr;
  if (bytes) *size = SizeofResource(library, resource);
  return bytes;
}

void PlatformFormatExponent(double value, char* buffer, size_t size) {
  _snprintf(buffer, size - 1, "%.5e", value);
  buffer[size - 1] = '\0';
}

}  // namespace tolvan

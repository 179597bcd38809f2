// The host test build's stand-ins for the Windows calls.
#include <fcntl.h>
#include <malloc.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>

#include <atomic>
#include <mutex>

#include "core/module_state.h"
#include "platform/host/host_platform.h"
#include "platform/platform.h"

namespace tolvan {
namespace host {
namespace {

LibraryExport const* g_exports = nullptr;
size_t g_exportCount = 0;
std::string g_hiddenExport;
int g_loadCount = 0;
bool g_loadsItself = false;
int g_releaseCount = 0;
bool g_releasedOthers = false;
char g_ownLibrary;  // stands for the module's handle

std::atomic<long> g_allocationCount{0};
std::atomic<long> g_failAt{0};
std::atomic<bool> g_failPersistent{false};
std::atomic<long long> g_liveBytes{0};

bool g_fillTooLong = false;

std::string g_logDirectory;
std::string g_unopenable;
std::atomic<long> g_openCount{0};
long g_failOpensFrom = 0;
std::string g_failOpenLetters;

std::atomic<bool> g_failWorkStorage{false};
std::atomic<long long> g_liveWorkBytes{0};

std::mutex g_messageMutex;
std::vector<MessageBoxRecord> g_messages;
std::function<void()> g_whileShown;

int Descriptor(PlatformFile* file) { return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1); }

bool AllocationFails() {
  long const number = ++g_allocationCount;
  long const failAt = g_failAt.load();
  if (failAt <= 0) return false;
  return g_failPersistent ? number >= failAt : number == failAt;
}

}  // namespace

void FillBufferWithTooLongValues(bool fill) { g_fillTooLong = fill; }

void SetEngineLibrary(LibraryExport const* exports, size_t count) {
  g_exports = exports;
  g_exportCount = count;
  g_loadCount = 0;
  g_loadsItself = false;
  g_releaseCount = 0;
  g_releasedOthers = false;
}
void LoadModuleItselfAsEngine() { g_loadsItself = true; }
int LibraryReleaseCount() { return g_releaseCount; }
bool OnlyOwnLibraryReleased() { return !g_releasedOthers; }
void HideEngineExport(std::string const& name) { g_hiddenExport = name; }
int EngineLoadCount() { return g_loadCount; }
std::vector<MessageBoxRecord>& MessageBoxes() { return g_messages; }
void SetWhileMessageBoxShown(std::function<void()> action) { g_whileShown = std::move(action); }

void FailAllocation(long n, bool persistent) {
  g_allocationCount = 0;
  g_failPersistent = persistent;
  g_failAt = n;
}
long AllocationCount() { return g_allocationCount; }
long long LiveHeapBytes() { return g_liveBytes; }

void SetLogDirectory(std::string const& directory) { g_logDirectory = directory; }
void SetUnopenableLogs(std::string const& letters) { g_unopenable = letters; }
void FailLogOpensFrom(long n, std::string const& letters) {
  g_openCount = 0;
  g_failOpensFrom = n;
  g_failOpenLetters = letters;
}
long LogOpenCount() { return g_openCount; }
void FailWorkStorage(bool fail) { g_failWorkStorage = fail; }
long long LiveWorkBytes() { return g_liveWorkBytes; }
char const* HostProgramPath() { return "/opt/host/host program"; }
char const* ComputerName() { return "BUILDHOST"; }
char const* UserName() { return "OFFICE\\host user"; }

}  // namespace host

using namespace host;

unsigned long PlatformGetEnvironment(char const* name, char* buffer, unsigned long size) {
  char const* value = getenv(name);
  if (!value) return 0;
  size_t const length = strlen(value);
  if (length >= size) {
    if (g_fillTooLong) memcpy(buffer, value, size);
    return static_cast<unsigned long>(length + 1);
  }
  memcpy(buffer, value, length + 1);
  return static_cast<unsigned long>(length);
}

void* PlatformLoadLibrary(char const* fileName) {
  if (strcmp(fileName, "Tolvan33.dll") != 0) return nullptr;
  if (g_loadsItself) {
    ++g_loadCount;
    return PlatformOwnLibrary();
  }
  if (!g_exports) return nullptr;
  ++g_loadCount;
  return const_cast<LibraryExport*>(g_exports);
}

void PlatformReleaseLibrary(void* library) {
  ++g_releaseCount;
  if (library != PlatformOwnLibrary()) g_releasedOthers = true;
}

void* PlatformOwnLibrary() { return &g_ownLibrary; }

void* PlatformFindEntry(void* library, char const* exportName) {
  if (library != g_exports || g_hiddenExport == exportName) return nullptr;
  for (size_t i = 0; i < g_exportCount; ++i) {
    if (strcmp(g_exports[i].name, exportName) == 0) return g_exports[i].address;
  }
  return nullptr;
}

void PlatformShowMessageBox(char const* text, char const* caption) {
  std::function<void()> whileShown;
  {
    std::lock_guard<std::mutex> lock(g_messageMutex);
    g_messages.push_back({text, caption});
    whileShown = g_whileShown;
  }
  if (whileShown) whileShown();
}

void* PlatformResize(void* block, size_t size) {
  if (AllocationFails()) return nullptr;
  size_t const before = block ? malloc_usable_size(block) : 0;
  void* resized = realloc(block, size);
  if (resized) g_liveBytes += static_cast<long long>(malloc_usable_size(resized)) - static_cast<long long>(before);
  return resized;
}

void PlatformFree(void* block) {
  if (block) g_liveBytes -= static_cast<long long>(malloc_usable_size(block));
  free(block);
}

size_t PlatformUsableSize(void* block) { return block ? malloc_usable_size(block) : 0; }

PlatformFile* PlatformOpenAppend(char const* path) {
  size_t const length = strlen(path);
  // The letter stands just before ".log".
  char const letter = length >= 5 ? path[length - 5] : '\0';
  long const openNumber = ++g_openCount;
  if (g_unopenable.find(letter) != std::string::npos) return nullptr;
  if (g_failOpensFrom > 0 && openNumber >= g_failOpensFrom && g_failOpenLetters.find(letter) != std::string::npos) {
    return nullptr;
  }
  int const descriptor = ::open(path, O_WRONLY | O_APPEND | O_CREAT, 0644);
  return descriptor < 0 ? nullptr : reinterpret_cast<PlatformFile*>(static_cast<intptr_t>(descriptor) + 1);
}

void PlatformAppend(PlatformFile* file, long* /*lockStuck*/, char const* head, size_t headLength, char const* bytes,
                    size_t length) {
  // One write of the whole item, its line feeds stored as CR LF, as the
  // Windows build does.
  std::string joined;
  joined.reserve(2 * (headLength + length));
  auto const add = [&joined](char const* part, size_t partLength) {
    for (size_t i = 0; i < partLength; ++i) {
      if (part[i] == '\n') joined += '\r';
      joined += part[i];
    }
  };
  add(head, headLength);
  add(bytes, length);
  ssize_t const written = write(Descriptor(file), joined.data(), joined.size());
  (void)written;  // write errors are not the trace's concern
}

void PlatformClose(PlatformFile* file) { close(Descriptor(file)); }

char const* PlatformLogDirectory() { return g_logDirectory.c_str(); }

long long PlatformFileWriteTime(char const* path) {
  struct stat status = {};
  if (stat(path, &status) != 0) return 0;
  return 116444736000000000LL + static_cast<long long>(status.st_mtim.tv_sec) * 10000000LL +
         status.st_mtim.tv_nsec / 100;
}

void PlatformFormatExponent(double value, char* buffer, size_t size) { snprintf(buffer, size, "%.5e", value); }

void* PlatformWorkResize(void* block, size_t size) {
  if (g_failWorkStorage) return nullptr;
  size_t const before = block ? malloc_usable_size(block) : 0;
  void* const resized = realloc(block, size);
  if (resized) g_liveWorkBytes += static_cast<long long>(malloc_usable_size(resized)) - static_cast<long long>(before);
  return resized;
}

void PlatformWorkFree(void* block) {
  if (block) g_liveWorkBytes -= static_cast<long long>(malloc_usable_size(block));
  free(block);
}

// Thread slots as pthread keys. A thread that ends gives its trace line back,
// as the thread detach notification does on Windows.
namespace {
pthread_key_t g_threadSlotKey;

void ThreadEnds(void* value) {
  // The system has cleared the slot before this runs: the module finds it
  // again, writes what it holds and gives it back.
  pthread_setspecific(g_threadSlotKey, value);
  ModuleThreadDetach();
}
}  // namespace

unsigned long PlatformThreadSlotCreate() {
  if (pthread_key_create(&g_threadSlotKey, &ThreadEnds) != 0) return 0;
  return static_cast<unsigned long>(g_threadSlotKey) + 1;
}

void PlatformThreadSlotDelete(unsigned long slot) { pthread_key_delete(static_cast<pthread_key_t>(slot - 1)); }

void* PlatformThreadSlotGet(unsigned long slot) { return pthread_getspecific(static_cast<pthread_key_t>(slot - 1)); }

void PlatformThreadSlotSet(unsigned long slot, void* value) {
  pthread_setspecific(static_cast<pthread_key_t>(slot - 1), value);
}

// Kept per thread, as Windows keeps them in the thread's own block: asked of
// the kernel on every line, they would make a line cost what it never costs
// on Windows. The host tests never fork.
unsigned long PlatformProcessId() {
  static thread_local unsigned long const id = static_cast<unsigned long>(getpid());
  return id;
}

unsigned long PlatformThreadId() {
  static thread_local unsigned long const id = static_cast<unsigned long>(syscall(SYS_gettid));
  return id;
}

void PlatformPause(unsigned long round) {
  if (round < 32) {
    sched_yield();
  } else {
    usleep(1000);
  }
}

unsigned long PlatformTicks() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<unsigned long>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

namespace {
long long const kTicksFrom1601To1970 = 116444736000000000LL;
}  // namespace

bool PlatformClockStart() { return true; }

long long PlatformClockTicks() {
  timespec now = {};
  clock_gettime(CLOCK_REALTIME, &now);
  return kTicksFrom1601To1970 + static_cast<long long>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

void PlatformLocalMinute(long long ticks, int* hour, int* minute, long long* minuteStart) {
  long long const sinceEpoch = ticks - kTicksFrom1601To1970;
  time_t const seconds = static_cast<time_t>(sinceEpoch / 10000000);
  tm local = {};
  localtime_r(&seconds, &local);
  *hour = local.tm_hour;
  *minute = local.tm_min;
  *minuteStart = ticks - local.tm_sec * 10000000LL - sinceEpoch % 10000000;
}

long long PlatformCounter() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double PlatformCounterFrequency() { return 1e9; }

void PlatformComputerName(char* buffer, size_t size) { snprintf(buffer, size, "%s", ComputerName()); }

void PlatformUserName(char* buffer, size_t size) { snprintf(buffer, size, "%s", UserName()); }

PlatformDateTime PlatformLocalTime() {
  time_t const now = time(nullptr);
  tm local = {};
  localtime_r(&now, &local);
  return PlatformDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                          local.tm_hour,        local.tm_min,     local.tm_sec};
}

void PlatformLibraryPath(void* library, char* buffer, size_t size) {
  char const* const path = library ? (library == PlatformOwnLibrary() ? "/opt/host/Tolvan32.dll" : "/opt/host/Tolvan33.dll")
                                   : HostProgramPath();
  snprintf(buffer, size, "%s", path);
}

// The module's own image carries the version resource of the product (its
// fixed part and its product name, as the resource compiler lays them out);
// the stand-in engine has none.
void const* PlatformVersionResource(void* library, size_t* size) {
  static unsigned char const* const resource = [] {
    static unsigned char bytes[160] = {};
    bytes[2] = 52;                                     // the fixed part's length
    unsigned const fixed[] = {0xfeef04bdu, 0x10000u, 0x80000u, 7u};  // signature, layout, 8.0.0.7
    memcpy(bytes + 40, fixed, sizeof fixed);
    char const name[] = "ProductName\0Tolvan32 Share";
    for (size_t i = 0; i < sizeof name; ++i) bytes[92 + 2 * i] = static_cast<unsigned char>(name[i]);
    return bytes;
  }();
  *size = library == PlatformOwnLibrary() ? 160 : 0;
  return *size ? resource : nullptr;
}


}  // namespace tolvan

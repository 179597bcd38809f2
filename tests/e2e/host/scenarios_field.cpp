// What the module meets in the field beyond one thread of one host: several
// threads and a second host process tracing into the same files, threads
// escalating at once, and a host that changed the C runtime's file mode.
#include "tests/e2e/host/scenarios.h"

namespace e2e {

namespace {

enum { kTracingThreads = 3, kCallsPerWriter = 150, kPacksPerThread = 5000, kPackingThreads = 4 };
unsigned long const kForever = 0xffffffffu;
unsigned long const kHalfMinute = 30000;
char const kGoEvent[] = "TolvanE2E.TraceGo";
char const kReadyEvent[] = "TolvanE2E.TraceReady";
char const kChildPath[] = "C:\\PROCESS2";

// One writer of trace items: a dictionary object of its own (the engine's
// SetSysFilePath needs nothing constructed) and a path that names it.
struct TraceWriter {
  char path[32];
  Storage<kDictionaryObjectSize> object;
  void* go;
  CDataDictionary* get() { return reinterpret_cast<CDataDictionary*>(object.get()); }
};

unsigned long __stdcall WriteTraceCalls(void* argument) {
  TraceWriter* const writer = static_cast<TraceWriter*>(argument);
  WaitForSingleObject(writer->go, kForever);
  for (int i = 0; i < kCallsPerWriter; ++i) writer->get()->SetSysFilePath(writer->path);
  return 0;
}

// The bytes one call adds to either log: the call record (object, text,
// path, line end) and the result record (indent, 1, line end).
size_t CallBytes(char const* path) {
  return (1 + 8) + (1 + strlen(Signature(kDataDictionary_SetSysFilePath))) + (1 + strlen(path)) + 3 + (1 + 14) +
         2 + 3;
}

// Items are " text"; an item is followed by the space of the next, so
// occurrences of " text " may share their spaces.
long Occurrences(Text const& text, char const* needle) {
  long count = 0;
  for (char const* at = text.c_str(); (at = strstr(at, needle)) != nullptr; ++at) ++count;
  return count;
}

// The result records' 14-space items: each is 15 spaces with its separator.
long IndentItems(Text const& text) {
  long count = 0;
  long run = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text.c_str()[i] == ' ') {
      ++run;
    } else {
      count += run / 15;
      run = 0;
    }
  }
  return count;
}

void* StartChildWriter() {
  char program[512] = {};
  GetModuleFileNameA(nullptr, program, sizeof program - 1);
  Text command;
  command.Format("\"%s\" --trace-writer %s", program, kChildPath);
  char line[1024] = {};
  memcpy(line, command.c_str(), command.size() < sizeof line - 1 ? command.size() : sizeof line - 1);
  StartupInfoA startup = {};
  startup.size = sizeof startup;
  ProcessInformation child = {};
  if (!CreateProcessA(nullptr, line, nullptr, nullptr, 0, 0, nullptr, nullptr, &startup, &child)) return nullptr;
  CloseHandle(child.thread);
  return child.process;
}

}  // namespace

// The second host process of ConcurrentTracing: writes its calls once the
// first process says go.
int TraceWriterProcess(char const* path) {
  Engine().journalOff = 1;
  TraceWriter writer = {};
  memcpy(writer.path, path, strlen(path) < sizeof writer.path - 1 ? strlen(path) : sizeof writer.path - 1);
  writer.go = CreateEventA(nullptr, 1, 0, kGoEvent);
  void* const ready = CreateEventA(nullptr, 1, 0, kReadyEvent);
  if (!writer.go || !ready) return 2;
  SetEvent(ready);
  WriteTraceCalls(&writer);
  return 0;
}

// Three threads and a second process append to the two logs at once. Every
// item arrives whole and none overwrites another: each log holds exactly the
// bytes of all the calls, and every writer's items are all there.
void ConcurrentTracing() {
  Engine().journalOff = 1;  // the engine's journal is for one thread
  void* const go = CreateEventA(nullptr, 1, 0, kGoEvent);
  void* const ready = CreateEventA(nullptr, 1, 0, kReadyEvent);
  TraceWriter writers[kTracingThreads] = {};
  void* threads[kTracingThreads] = {};
  size_t expectedBytes = kCallsPerWriter * CallBytes(kChildPath);
  for (int t = 0; t < kTracingThreads; ++t) {
    _snprintf(writers[t].path, sizeof writers[t].path - 1, "C:\\THREAD%d", t + 1);
    writers[t].go = go;
    expectedBytes += kCallsPerWriter * CallBytes(writers[t].path);
  }
  void* const child = StartChildWriter();
  if (!Expect(go && ready && child, "the second host process is started")) return;
  Expect(WaitForSingleObject(ready, kHalfMinute) == 0, "the second process is ready");
  for (int t = 0; t < kTracingThreads; ++t) threads[t] = CreateThread(nullptr, 0, &WriteTraceCalls, &writers[t], 0, nullptr);
  SetEvent(go);
  for (void* thread : threads) {
    Expect(thread && WaitForSingleObject(thread, kForever) == 0, "a writing thread ends");
    CloseHandle(thread);
  }
  unsigned long childStatus = 1;
  Expect(WaitForSingleObject(child, kForever) == 0 && GetExitCodeProcess(child, &childStatus) && childStatus == 0,
         "the second process ends well (status %lu)", childStatus);
  CloseHandle(child);

  long const calls = kCallsPerWriter * (kTracingThreads + 1);
  char const* const logs[] = {"C:\\Tolvan32_b.log", "C:\\Tolvan32_a.log"};
  for (char const* log : logs) {
    Text content;
    if (!Expect(ReadWholeFile(log, content), "%s can be read", log)) continue;
    Expect(content.size() == expectedBytes, "%s holds exactly the %lu bytes written (got %lu: %ld lost)", log,
           static_cast<unsigned long>(expectedBytes), static_cast<unsigned long>(content.size()),
           static_cast<long>(expectedBytes) - static_cast<long>(content.size()));
    Text signature;
    signature.Format(" %s ", Signature(kDataDictionary_SetSysFilePath));
    Expect(Occurrences(content, signature.c_str()) == calls, "%s: every signature item whole (%ld of %ld)", log,
           Occurrences(content, signature.c_str()), calls);
    Expect(IndentItems(content) == calls && Occurrences(content, " 1 ") == calls && Occurrences(content, " \r\n") == 2 * calls,
           "%s: every result and line end item whole", log);
    for (TraceWriter const& writer : writers) {
      Text item;
      item.Format(" %s ", writer.path);
      Expect(Occurrences(content, item.c_str()) == kCallsPerWriter, "%s: every item of %s", log, writer.path);
    }
    Text childItem;
    childItem.Format(" %s ", kChildPath);
    Expect(Occurrences(content, childItem.c_str()) == kCallsPerWriter, "%s: every item of the second process", log);
  }
  Text plain;
  ReadWholeFile(logs[1], plain);
  for (TraceWriter& writer : writers) {
    Text address;
    address.Format(" %08x ", static_cast<unsigned>(reinterpret_cast<uintptr_t>(writer.get())));
    Expect(Occurrences(plain, address.c_str()) == kCallsPerWriter, "every address item of %s", writer.path);
  }
}

namespace {

struct Packer {
  CTable* table;
  int packs;
};

unsigned long __stdcall PackRepeatedly(void* argument) {
  Packer* const packer = static_cast<Packer*>(argument);
  for (int i = 0; i < kPacksPerThread; ++i) packer->packs += packer->table->Pack() == 1;
  return 0;
}

}  // namespace

// Threads pack tables of their own at once, again and again. Whichever
// escalation ends first, another's exclusive open is never forced shared:
// the engine is never asked to pack a table it does not hold exclusively.
void ConcurrentEscalations() {
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = ::new (storage.get()) CDataDictionary("S", "A", "U", "F");
  char const* const names[kPackingThreads] = {"EINS", "ZWEI", "DREI", "VIER"};
  Packer packers[kPackingThreads];
  for (int t = 0; t < kPackingThreads; ++t) {
    packers[t] = {dictionary->GetTable(names[t]), 0};
    packers[t].table->OpenAccess(kShareModeShared, kSafetyNormal);
  }
  Engine().journalOff = 1;
  void* arguments[kPackingThreads];
  for (int t = 0; t < kPackingThreads; ++t) arguments[t] = &packers[t];
  RunOnThreads(&PackRepeatedly, arguments, kPackingThreads);
  int packs = 0;
  for (Packer const& packer : packers) packs += packer.packs;
  int const total = kPackingThreads * kPacksPerThread;
  Expect(packs == total, "every Pack returns the engine's result");
  Expect(Engine().calls[kTable_Pack] == total, "every Pack reached the engine");
  Expect(Engine().rebuiltUnlessExclusive == 0, "no Pack reached the engine on a table not held exclusively (%d of %d)",
         Engine().rebuiltUnlessExclusive, total);
  // After all of them, share forcing is in force again.
  Engine().journalOff = 0;
  ForgetCalls();
  packers[0].table->OpenAccess(kShareModeExclusive, kSafetyNormal);
  ExpectCalls("share forcing after the escalations", Calls()
                                                         .Call(kTable_OpenAccess, packers[0].table, 2, 1)
                                                         .Returns(1)
                                                         .Call(kTable_CloseAccess, packers[0].table, 1)
                                                         .Returns(1)
                                                         .Call(kTable_OpenAccess, packers[0].table, 1, 1)
                                                         .Returns(1));
}

// A host bound to the same C runtime that makes binary mode its default
// still gets lines ending in CR LF.
void BinaryModeHost() {
  int const kBinary = 0x8000;
  *__p__fmode() = kBinary;
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = reinterpret_cast<CDataDictionary*>(storage.get());
  Expect(dictionary->BeginTransaction() == 1, "the engine answers");
  ExpectStep("traced with the C runtime in binary mode",
             Calls().Call(kDataDictionary_BeginTransaction, dictionary).Returns(1),
             Trace().Call(dictionary, kDataDictionary_BeginTransaction).ResultInt(1));
  Expect(*__p__fmode() == kBinary, "the host's mode is left as it set it");
}

}  // namespace e2e

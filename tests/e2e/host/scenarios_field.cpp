// What the module meets in the field beyond one thread of one host: several
// threads and a second host process tracing into the same files, threads
// escalating at once, and a host that changed the C runtime's file mode.
#include "tests/e2e/host/scenarios.h"

namespace e2e {

namespace {

enum { kTracingThreads = 4, kPacksPerWriter = 30, kPacksPerThread = 5000, kPackingThreads = 4 };
unsigned long const kForever = 0xffffffffu;
unsigned long const kHalfMinute = 30000;
char const kGoEvent[] = "TolvanE2E.TraceGo";
char const kReadyEvent[] = "TolvanE2E.TraceReady";
char const kChildTable[] = "KIND";
char const* const kThreadTables[kTracingThreads] = {"EINS", "ZWEI", "DREI", "VIER"};

// One writer of Pack-heavy trace lines: a table of its own, opened for
// exclusive use (forced shared), then packed again and again.
struct PackWriter {
  CTable* table;
  void* go;
  int packed;
};

CTable* OpenWriterTable(CDataDictionary* dictionary, char const* name) {
  CTable* const table = dictionary->GetTable(name);
  table->OpenAccess(kShareModeExclusive, kSafetyNormal);
  return table;
}

unsigned long __stdcall PackTraced(void* argument) {
  PackWriter* const writer = static_cast<PackWriter*>(argument);
  WaitForSingleObject(writer->go, kForever);
  for (int i = 0; i < kPacksPerWriter; ++i) writer->packed += writer->table->Pack() == 1;
  return 0;
}

void* StartCommand(Text const& command);

// This program once more, in a process of its own: --trace-writer TABLE or
// --hold-trace-lock.
void* StartChild(char const* arguments) {
  char program[512] = {};
  GetModuleFileNameA(nullptr, program, sizeof program - 1);
  Text command;
  command.Format("\"%s\" %s", program, arguments);
  return StartCommand(command);
}

void* StartCommand(Text const& command) {
  char line[1024] = {};
  memcpy(line, command.c_str(), command.size() < sizeof line - 1 ? command.size() : sizeof line - 1);
  StartupInfoA startup = {};
  startup.size = sizeof startup;
  ProcessInformation child = {};
  if (!CreateProcessA(nullptr, line, nullptr, nullptr, 0, 0, nullptr, nullptr, &startup, &child)) return nullptr;
  CloseHandle(child.thread);
  return child.process;
}

// The lines of both processes, by kind, as the logs must hold them.
struct LineTally {
  long calls[8];   // by the kinds of kCallForms
  long results;    // result records
  long runLines;   // with ids
  long engineLines;
  long unreadable;
  long byThread[kTracingThreads];  // with ids: lines of each packing thread
};
struct CallForm {
  OperationId op;
  char const* arguments;  // the items after the signature, each with its space
};
CallForm const kCallForms[] = {
    {kDataDictionary_Construct, " S A U F "}, {kDataDictionary_GetTable_ByName, nullptr},
    {kTable_OpenAccess, " 2 1 "},             {kTable_OpenAccess, " 1 1 "},
    {kTable_CloseAccess, " 2 "},              {kTable_CloseAccess, " 1 "},
    {kTable_Pack, " "}};

bool Digits(char const*& at) {
  char const* const start = at;
  while (*at >= '0' && *at <= '9') ++at;
  return at != start;
}

bool ObjectItem(char const*& at) {  // " " and eight hex digits or dots
  if (*at++ != ' ') return false;
  for (int i = 0; i < 8; ++i, ++at) {
    bool const hex = (*at >= '0' && *at <= '9') || (*at >= 'a' && *at <= 'f') || *at == '.';
    if (!hex) return false;
  }
  return true;
}

bool StartsWith(char const*& at, char const* prefix) {
  size_t const length = strlen(prefix);
  if (strncmp(at, prefix, length) != 0) return false;
  at += length;
  return true;
}

bool IsNameArgument(char const* rest) {
  Text item;
  for (char const* name : kThreadTables) {
    item.Clear();
    item.Format(" %s ", name);
    if (strcmp(rest, item.c_str()) == 0) return true;
  }
  item.Clear();
  item.Format(" %s ", kChildTable);
  return strcmp(rest, item.c_str()) == 0;
}

// The counter a line adds to, its CR LF taken off: a whole call or result
// record, or with ids a run or engine line, each after the writer's ids.
long* LineCounter(char const* at, bool ids, unsigned long const* threads, LineTally& tally) {
  if (ids) {
    if (!StartsWith(at, " [") || !Digits(at) || *at++ != ':') return &tally.unreadable;
    unsigned long const thread = strtoul(at, nullptr, 10);
    if (!Digits(at) || *at++ != ']') return &tally.unreadable;
    for (int t = 0; t < kTracingThreads; ++t) tally.byThread[t] += threads[t] == thread;
    if (StartsWith(at, " *** Run *** ")) return &tally.runLines;
    if (StartsWith(at, " *** Engine *** ")) return &tally.engineLines;
  }
  if (StartsWith(at, "                ")) {  // the separator, the 14-space item, the separator
    size_t const length = strcspn(at, " ");
    bool const value = length > 0 && strspn(at, "0123456789abcdef.") == length;
    at += length;
    if (value && strcmp(at, " ") == 0) return &tally.results;
    if (value && StartsWith(at, " ( ") && Digits(at) && strcmp(at, " ) ") == 0) return &tally.results;
    return &tally.unreadable;
  }
  if (!ObjectItem(at) || *at++ != ' ') return &tally.unreadable;
  for (size_t form = 0; form < sizeof kCallForms / sizeof kCallForms[0]; ++form) {
    char const* rest = at;
    if (!StartsWith(rest, Signature(kCallForms[form].op))) continue;
    char const* const arguments = kCallForms[form].arguments;
    if (arguments ? strcmp(rest, arguments) == 0 : IsNameArgument(rest)) return &tally.calls[form];
  }
  return &tally.unreadable;
}

LineTally TallyLog(Text const& content, bool ids, unsigned long const* threads) {
  LineTally tally = {};
  Text line;
  char const* at = content.c_str();
  for (char const* end; (end = strstr(at, "\r\n")) != nullptr; at = end + 2) {
    line.Clear();
    line.Append(at, static_cast<size_t>(end - at));
    ++*LineCounter(line.c_str(), ids, threads, tally);
  }
  if (*at) ++tally.unreadable;  // a last line without its end
  return tally;
}

}  // namespace

// The second host process of ConcurrentTracing: opens its table, then packs
// it once the first process says go.
int TraceWriterProcess(char const* tableName) {
  Engine().journalOff = 1;
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = ::new (storage.get()) CDataDictionary("S", "A", "U", "F");
  PackWriter writer = {OpenWriterTable(dictionary, tableName), CreateEventA(nullptr, 1, 0, kGoEvent), 0};
  void* const ready = CreateEventA(nullptr, 1, 0, kReadyEvent);
  if (!writer.go || !ready) return 2;
  SetEvent(ready);
  PackTraced(&writer);
  return writer.packed == kPacksPerWriter ? 0 : 3;
}

// Four threads and a second host process trace Pack-heavy work into the same
// two files at once. Every line of both logs is a whole record (with ids: a
// whole run or engine line), and the lines of each kind are exactly those of
// the calls made. With ids, each packing thread's lines carry its own ids,
// and the logs are kept for the reader as C:\concurrent-tracing-ids_b.log
// and _a.log.
void ConcurrentTracing() {
  Engine().journalOff = 1;  // the engine's journal is for one thread
  bool const ids = Options().traceIds;
  void* const go = CreateEventA(nullptr, 1, 0, kGoEvent);
  void* const ready = CreateEventA(nullptr, 1, 0, kReadyEvent);
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = ::new (storage.get()) CDataDictionary("S", "A", "U", "F");
  PackWriter writers[kTracingThreads] = {};
  void* threads[kTracingThreads] = {};
  unsigned long threadIds[kTracingThreads] = {};
  for (int t = 0; t < kTracingThreads; ++t) writers[t] = {OpenWriterTable(dictionary, kThreadTables[t]), go, 0};
  Text arguments;
  arguments.Format("--trace-writer %s", kChildTable);
  void* const child = StartChild(arguments.c_str());
  if (!Expect(go && ready && child, "the second host process is started")) return;
  Expect(WaitForSingleObject(ready, kHalfMinute) == 0, "the second process is ready");
  for (int t = 0; t < kTracingThreads; ++t) {
    threads[t] = CreateThread(nullptr, 0, &PackTraced, &writers[t], 0, &threadIds[t]);
  }
  SetEvent(go);
  for (void* thread : threads) {
    Expect(thread && WaitForSingleObject(thread, kForever) == 0, "a packing thread ends");
    CloseHandle(thread);
  }
  unsigned long childStatus = 1;
  Expect(WaitForSingleObject(child, kForever) == 0 && GetExitCodeProcess(child, &childStatus) && childStatus == 0,
         "the second process packs %d times and ends well (status %lu)", kPacksPerWriter, childStatus);
  CloseHandle(child);
  for (PackWriter const& writer : writers) Expect(writer.packed == kPacksPerWriter, "every Pack of a thread returns 1");
  Expect(Engine().calls[kTable_Pack] == kTracingThreads * kPacksPerWriter, "every Pack of this process reached the engine");

  // Per process: a dictionary, and per table GetTable and a forced shared
  // open (the host's OpenAccess and the module's CloseAccess; the reopen goes
  // to the engine directly); per Pack the host's call and the module's four
  // around it.
  long const tables = kTracingThreads + 1;
  long const packs = tables * kPacksPerWriter;
  long const expected[] = {2, tables, tables + packs, packs, packs, tables + packs, packs};
  long const records = 2 + tables * 3 + packs * 5;
  char const* const logs[] = {"C:\\Tolvan32_b.log", "C:\\Tolvan32_a.log"};
  for (char const* log : logs) {
    Text content;
    if (!Expect(ReadWholeFile(log, content), "%s can be read", log)) continue;
    LineTally const tally = TallyLog(content, ids, threadIds);
    Expect(tally.unreadable == 0, "%s: every line is a whole record line (%ld are not)", log, tally.unreadable);
    for (size_t form = 0; form < sizeof expected / sizeof expected[0]; ++form) {
      Expect(tally.calls[form] == expected[form], "%s: %ld call lines of %s%s, of %ld calls made", log,
             tally.calls[form], Signature(kCallForms[form].op),
             kCallForms[form].arguments ? kCallForms[form].arguments : " NAME", expected[form]);
    }
    Expect(tally.results == records, "%s: %ld result lines, of %ld results", log, tally.results, records);
    Expect(tally.runLines == (ids ? 2 : 0) && tally.engineLines == (ids ? 2 : 0),
           "%s: a run line and an engine line per process with ids (%ld, %ld)", log, tally.runLines,
           tally.engineLines);
    for (int t = 0; ids && t < kTracingThreads; ++t) {
      Expect(tally.byThread[t] == 10 * kPacksPerWriter, "%s: thread %lu wrote %ld lines, its %d Packs' %d", log,
             threadIds[t], tally.byThread[t], kPacksPerWriter, 10 * kPacksPerWriter);
    }
  }
  if (ids) {
    Expect(CopyFileA(logs[0], "C:\\concurrent-tracing-ids_b.log", 0) && CopyFileA(logs[1], "C:\\concurrent-tracing-ids_a.log", 0),
           "the logs are kept for the reader");
    // The host's calls: two constructors, per table GetTable and OpenAccess,
    // and its Packs; the rest of the records are the module's.
    printf("the reader must find: %ld host calls, %ld escalations, %ld forced reopens\n",
           2 + tables * 2 + packs, packs, tables);
  }
}

namespace {

unsigned long g_exceptionCode;

// The host's own handler of a structured exception, in a function of its own.
bool SetPathUnderHandler(CDataDictionary* dictionary, char const* path) {
  __try {
    dictionary->SetSysFilePath(path);
    return false;
  } __except (g_exceptionCode = _exception_code(), 1) {
    return true;
  }
}

}  // namespace

// A host text the module cannot read: the call line reaches both files as far
// as it got, the host's own handler gets the access violation, and the next
// line follows.
void UnreadableHostText() {
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = reinterpret_cast<CDataDictionary*>(storage.get());
  Expect(dictionary->BeginTransaction() == 1, "the engine answers");
  SkipTrace();
  Expect(SetPathUnderHandler(dictionary, reinterpret_cast<char const*>(16)) && g_exceptionCode == 0xc0000005u,
         "the host's handler gets the access violation (code %08lx)", g_exceptionCode);
  ExpectTrace("the line as far as it got",
              Trace().Pointer(dictionary).Item(Signature(kDataDictionary_SetSysFilePath)));
  Expect(dictionary->BeginTransaction() == 1, "the module goes on");
  ExpectTrace("the next line", Trace().Call(dictionary, kDataDictionary_BeginTransaction).ResultInt(1));
}

// The second process of TraceLockHeldElsewhere: holds the masked log's
// append lock, as a process stopped in a debugger would, until it is ended.
int HoldTraceLockProcess() {
  unsigned long const kAppendAndRead = 0x0004 | 0x0001;
  unsigned long const kShareAll = 7;
  unsigned long const kOpenAlways = 4;
  void* const file = CreateFileA("C:\\Tolvan32_b.log", kAppendAndRead, kShareAll, nullptr, kOpenAlways, 0x80, nullptr);
  Overlapped place = {0, 0, 0xfffffff0u, 0x7fffffffu, nullptr};
  if (file == reinterpret_cast<void*>(-1) || !LockFileEx(file, 2, 0, 1, 0, &place)) return 2;
  void* const ready = CreateEventA(nullptr, 1, 0, kReadyEvent);
  if (!ready || !SetEvent(ready)) return 2;
  Sleep(kForever);
  return 0;
}

// Another process holds the trace lock for good: a traced call still returns
// within about a second, its lines are written all the same, and the lock
// costs one wait in all: 20 traced calls (80 appends) take hardly longer
// than the first.
void TraceLockHeldElsewhere() {
  enum { kCalls = 20 };
  void* const ready = CreateEventA(nullptr, 1, 0, kReadyEvent);
  void* const holder = StartChild("--hold-trace-lock");
  if (!Expect(ready && holder, "the holding process is started")) return;
  Expect(WaitForSingleObject(ready, kHalfMinute) == 0, "the other process holds the lock");
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = reinterpret_cast<CDataDictionary*>(storage.get());
  unsigned long const start = GetTickCount();
  Expect(dictionary->BeginTransaction() == 1, "the engine answers");
  unsigned long const first = GetTickCount() - start;
  for (int call = 1; call < kCalls; ++call) Expect(dictionary->BeginTransaction() == 1, "the engine answers");
  unsigned long const all = GetTickCount() - start;
  printf("traced calls with the lock held elsewhere: the first %lu ms, all %d %lu ms\n", first, kCalls, all);
  Expect(first <= 1200, "the first call returns within about a second (%lu ms)", first);
  Expect(all <= first + 300, "the other %d calls wait no more (%lu ms after the first)", kCalls - 1, all - first);
  Trace calls;
  for (int call = 0; call < kCalls; ++call) calls.Call(dictionary, kDataDictionary_BeginTransaction).ResultInt(1);
  ExpectTrace("the lines are written", calls);
  TerminateProcess(holder, 0);
  WaitForSingleObject(holder, kHalfMinute);
  CloseHandle(holder);
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

// --- Timed lines: read from the log files as they are on disk -------------

namespace {

// One line of a log written with ids and time: " [PID:TID] @HH:MM:SS.ffffff
// [+Nus] REST".
struct TimedLine {
  unsigned long process;
  long long microseconds;  // of the local day
  long duration;           // -1 without a duration item
  char const* rest;        // the items after the time (and the duration)
};

bool Digits(char const* at, int count, long long& value) {
  value = 0;
  for (int i = 0; i < count; ++i) {
    if (at[i] < '0' || at[i] > '9') return false;
    value = value * 10 + (at[i] - '0');
  }
  return true;
}

bool ParseTimedLine(char const* line, TimedLine& parsed) {
  if (strncmp(line, " [", 2) != 0) return false;
  char* end = nullptr;
  parsed.process = strtoul(line + 2, &end, 10);
  char const* at = strstr(line, "] @");
  if (!at || *end != ':') return false;
  at += 3;
  long long hour, minute, second, fraction;
  if (!Digits(at, 2, hour) || at[2] != ':' || !Digits(at + 3, 2, minute) || at[5] != ':' ||
      !Digits(at + 6, 2, second) || at[8] != '.' || !Digits(at + 9, 6, fraction) || at[15] != ' ') {
    return false;
  }
  parsed.microseconds = ((hour * 60 + minute) * 60 + second) * 1000000 + fraction;
  at += 16;
  parsed.duration = -1;
  if (*at == '+') {
    parsed.duration = static_cast<long>(strtoul(at + 1, &end, 10));
    if (strncmp(end, "us ", 3) != 0) return false;
    at = end + 3;
  }
  parsed.rest = at;
  return true;
}

// The lines of a log, each cut at its CR LF; false when it cannot be read.
bool ReadLines(char const* path, Text& content, char** lines, int& count, int room) {
  if (!ReadWholeFile(path, content)) return false;
  count = 0;
  char* at = const_cast<char*>(content.c_str());
  while (*at && count < room) {
    char* const end = strstr(at, "\r\n");
    if (!end) break;
    *end = '\0';
    lines[count++] = at;
    at = end + 2;
  }
  return true;
}

char const* const kLogs[] = {"C:\\Tolvan32_b.log", "C:\\Tolvan32_a.log"};
enum { kMostLines = 256 };

}  // namespace

// A Pack that the stand-in engine makes last 200 ms: the host's result
// carries the whole escalation, between 200 and 400 ms, and its call line's
// time lies that far before its result's. Every line is stamped, and the run
// line names the clock, the computer and the user.
void TimedTrace() {
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = ::new (storage.get()) CDataDictionary("S", "A", "U", "F");
  CTable* const table = dictionary->GetTable("LANG");
  table->OpenAccess(kShareModeExclusive, kSafetyNormal);
  unsigned long const start = GetTickCount();
  Expect(table->Pack() == 1, "the engine packs");
  unsigned long const taken = GetTickCount() - start;
  Expect(taken >= 190, "the engine's Pack is slowed down (%lu ms)", taken);

  char computer[64] = {};
  unsigned long computerSize = sizeof computer;
  GetComputerNameA(computer, &computerSize);
  char user[160] = {};
  EnvironmentValue("USERDOMAIN", user, sizeof user);
  size_t const domainLength = strlen(user);
  user[domainLength] = '\\';
  typedef int(__stdcall * UserName)(char*, unsigned long*);
  UserName const userName = reinterpret_cast<UserName>(GetProcAddress(LoadLibraryA("advapi32.dll"), "GetUserNameA"));
  unsigned long userSize = static_cast<unsigned long>(sizeof user - domainLength - 1);
  if (userName) userName(user + domainLength + 1, &userSize);
  Text identity;
  identity.Format(" Computer %s User %s Host ", computer, user);

  for (char const* log : kLogs) {
    Text content;
    static char* lines[kMostLines];
    int count = 0;
    if (!Expect(ReadLines(log, content, lines, count, kMostLines), "%s can be read", log)) continue;
    int stamped = 0, packCall = -1, lastResult = -1;
    static TimedLine parsed[kMostLines];
    for (int i = 0; i < count; ++i) {
      if (!ParseTimedLine(lines[i], parsed[i])) continue;
      ++stamped;
      if (strstr(parsed[i].rest, "CTable::Pack(void)")) packCall = i;
      if (parsed[i].duration >= 0) lastResult = i;
    }
    Expect(count > 10 && stamped == count, "%s: every line has ids and time (%d of %d)", log, stamped, count);
    Expect(count > 0 && strstr(lines[0], "*** Run ***") && strstr(lines[0], " Tolvan32_TraceTime=1 ") &&
               (strstr(lines[0], " Clock=precise ") || strstr(lines[0], " Clock=calibrated ")),
           "%s: the run line names the time option and the clock: %s", log, count ? lines[0] : "");
    Expect(count > 0 && strstr(lines[0], identity.c_str()), "%s: the run line names%s", log, identity.c_str());
    if (!Expect(packCall >= 0 && lastResult > packCall, "%s: the Pack's call and result lines", log)) continue;
    long const duration = parsed[lastResult].duration;
    long long const apart = parsed[lastResult].microseconds - parsed[packCall].microseconds;
    printf("%s: Pack took %ld us, its lines lie %lld us apart\n", log, duration, apart);
    Expect(duration >= 200000 && duration <= 400000, "%s: the Pack's duration is 200 to 400 ms (%ld us)", log,
           duration);
    Expect(apart >= duration - 2000 && apart < duration + 100000,
           "%s: the call line's time lies before the result's", log);
    for (int i = 1; i < count; ++i) {
      if (parsed[i].microseconds < parsed[i - 1].microseconds) {
        Expect(false, "%s: line %d's time lies before line %d's", log, i + 1, i);
        break;
      }
    }
  }
}

namespace {

char const kTimedGoEvent[] = "TolvanE2E.TimedGo";
char const kTimedDoneEvent[] = "TolvanE2E.TimedDone";
enum { kTimedRounds = 10 };

}  // namespace

// The second process of TimedTraceTwoProcesses: one traced call each time it
// is let go.
int TimedWriterProcess() {
  void* const go = CreateEventA(nullptr, 0, 0, kTimedGoEvent);
  void* const done = CreateEventA(nullptr, 0, 0, kTimedDoneEvent);
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = reinterpret_cast<CDataDictionary*>(storage.get());
  for (int round = 0; round < kTimedRounds; ++round) {
    if (WaitForSingleObject(go, kHalfMinute) != 0) return 2;
    dictionary->BeginTransaction();
    SetEvent(done);
  }
  return 0;
}

// Two host processes trace in turn, each waiting for the other: the times of
// their lines order them as they ran, a process's pair of lines never taking
// the other's turn.
void TimedTraceTwoProcesses() {
  void* const go = CreateEventA(nullptr, 0, 0, kTimedGoEvent);
  void* const done = CreateEventA(nullptr, 0, 0, kTimedDoneEvent);
  void* const writer = StartChild("--timed-writer");
  if (!Expect(go && done && writer, "the second process is started")) return;
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = reinterpret_cast<CDataDictionary*>(storage.get());
  for (int round = 0; round < kTimedRounds; ++round) {
    dictionary->BeginTransaction();
    SetEvent(go);
    if (!Expect(WaitForSingleObject(done, kHalfMinute) == 0, "the second process takes its turn")) break;
  }
  WaitForSingleObject(writer, kHalfMinute);
  CloseHandle(writer);
  unsigned long const self = GetCurrentProcessId();
  for (char const* log : kLogs) {
    Text content;
    static char* lines[kMostLines];
    int count = 0;
    if (!Expect(ReadLines(log, content, lines, count, kMostLines), "%s can be read", log)) continue;
    // Each process's run and engine lines aside, the calls alternate: this
    // process's pair of lines, then the other's.
    static TimedLine turns[kMostLines];
    int calls = 0;
    for (int i = 0; i < count; ++i) {
      TimedLine line;
      if (!Expect(ParseTimedLine(lines[i], line), "%s: line %d has ids and time", log, i + 1)) break;
      if (strncmp(line.rest, "***", 3) != 0) turns[calls++] = line;
    }
    Expect(calls == 4 * kTimedRounds, "%s: %d call and result lines, of %d", log, calls, 4 * kTimedRounds);
    // Sorted by their times, the lines take turns by process, two each.
    for (int i = 1; i < calls; ++i) {
      for (int j = i; j > 0 && turns[j].microseconds < turns[j - 1].microseconds; --j) {
        TimedLine const earlier = turns[j];
        turns[j] = turns[j - 1];
        turns[j - 1] = earlier;
      }
    }
    int outOfTurn = 0;
    for (int i = 0; i < calls; ++i) {
      bool const ours = (i / 2) % 2 == 0;
      if ((turns[i].process == self) != ours) ++outOfTurn;
    }
    Expect(outOfTurn == 0, "%s: ordered by time, the lines take turns by process (%d out of turn)", log, outOfTurn);
  }
}

}  // namespace e2e

namespace e2e {

namespace {

char const kContentionReadyEvent[] = "TolvanE2E.ContentionReady";
char const kContentionGoEvent[] = "TolvanE2E.ContentionGo";

}  // namespace

// The second process of TimedContention: opens the table shared while the
// first packs it; its own engine makes the open take 300 ms, a wait.
int ContendingOpenerProcess() {
  void* const ready = CreateEventA(nullptr, 0, 0, kContentionReadyEvent);
  void* const go = CreateEventA(nullptr, 0, 0, kContentionGoEvent);
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = ::new (storage.get()) CDataDictionary("S", "A", "U", "F");
  CTable* const table = dictionary->GetTable("LANG");
  SetEvent(ready);
  if (WaitForSingleObject(go, kHalfMinute) != 0) return 2;
  Sleep(300);
  int const opened = table->OpenAccess(kShareModeShared, kSafetyNormal);
  table->CloseAccess(kSafetyNormal);
  return opened == 1 ? 0 : 3;
}

// Two host processes contend for one table: this one packs it for about a
// second while the other opens it. The trace reader's figures of this log
// are checked by the tools stage.
void TimedContention() {
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = ::new (storage.get()) CDataDictionary("S", "A", "U", "F");
  CTable* const table = dictionary->GetTable("LANG");
  table->OpenAccess(kShareModeShared, kSafetyNormal);
  void* const ready = CreateEventA(nullptr, 0, 0, kContentionReadyEvent);
  void* const go = CreateEventA(nullptr, 0, 0, kContentionGoEvent);
  // This process's engine read its slow operation at its first call; the
  // other's reads its own.
  SetEnvironmentVariableA("STANDIN_SLOW_OP", "OpenAccess");
  SetEnvironmentVariableA("STANDIN_SLOW_MS", "300");
  void* const opener = StartChild("--contending-opener");
  SetEnvironmentVariableA("STANDIN_SLOW_OP", "Pack");
  SetEnvironmentVariableA("STANDIN_SLOW_MS", "1000");
  if (!Expect(ready && go && opener, "the second process is started")) return;
  Expect(WaitForSingleObject(ready, kHalfMinute) == 0, "the second process is ready");
  SetEvent(go);
  unsigned long const start = GetTickCount();
  Expect(table->Pack() == 1, "the engine packs");
  Expect(GetTickCount() - start >= 900, "the Pack takes about a second");
  unsigned long status = 1;
  Expect(WaitForSingleObject(opener, kHalfMinute) == 0 && GetExitCodeProcess(opener, &status) && status == 0,
         "the second process opens the table and ends well (status %lu)", status);
  CloseHandle(opener);
  table->CloseAccess(kSafetyNormal);
}

}  // namespace e2e

// --- The flight recorder: blocks as the logs hold them ----------------------

namespace e2e {

namespace {

enum { kRecorderLines = 200, kMostRecorderLogLines = 4096 };

// The block of one trigger in both logs: whole timed lines, at most the
// ring's 200 written with its start mark, `last` in its last line, an end
// mark; the run line before it. Another call a second after the fault ends
// the block (its own lines stay in the ring).
void ExpectOneBlock(char const* trigger, char const* last, CDataDictionary* dictionary) {
  Sleep(1100);
  dictionary->BeginTransaction();
  Text marks;
  marks.Format(" *** Recorder *** %s ", trigger);
  for (char const* log : kLogs) {
    Text content;
    static char* lines[kMostRecorderLogLines];
    int count = 0;
    if (!Expect(ReadLines(log, content, lines, count, kMostRecorderLogLines), "%s: %s can be read", trigger, log)) {
      continue;
    }
    Expect(count > 0 && strstr(lines[0], "*** Run ***") && strstr(lines[0], " Tolvan32_Recorder=200 "),
           "%s: %s begins with the run line: %s", trigger, log, count ? lines[0] : "");
    int start = -1, end = -1, blocks = 0, whole = 0;
    long announced = -1;
    for (int i = 0; i < count; ++i) {
      TimedLine line;
      if (ParseTimedLine(lines[i], line)) ++whole;
      char const* const mark = strstr(lines[i], marks.c_str());
      if (strstr(lines[i], " *** Recorder *** ")) ++blocks;
      if (mark && start < 0) {
        start = i;
        announced = strtol(mark + strlen(marks.c_str()), nullptr, 10);
      }
      if (start >= 0 && end < 0 && strstr(lines[i], " *** Recorder end *** ")) end = i;
    }
    Expect(whole == count, "%s: %s: every line is a whole line with ids and time (%d of %d)", trigger, log, whole, count);
    if (!Expect(blocks == 1 && start == 1 && end > start, "%s: %s holds one %s block after the run line (%d blocks)",
                trigger, log, trigger, blocks)) {
      continue;
    }
    Expect(announced > 0 && announced <= kRecorderLines && announced <= end - start - 1,
           "%s: %s: the block begins with at most %d recorded lines (%ld)", trigger, log, kRecorderLines, announced);
    Expect(end == count - 1, "%s: %s: nothing after the block", trigger, log);
    Expect(strstr(lines[end - 1], last) != nullptr, "%s: %s: the block ends with the triggering call [%s]: %s", trigger,
           log, last, lines[end - 1]);
  }
}

// 300 calls before the fault: the ring holds only its last 200 lines.
CDataDictionary* RecorderWarmUp(Storage<kDictionaryObjectSize>& storage) {
  CDataDictionary* const dictionary = ::new (storage.get()) CDataDictionary("S", "A", "U", "F");
  for (int i = 0; i < 150; ++i) dictionary->EndTransaction(static_cast<TransactionCtl>(i));
  return dictionary;
}

}  // namespace

// A thousand calls without fault: the ring never triggers, and no log file
// is made.
void RecorderQuiet() {
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = RecorderWarmUp(storage);
  for (int i = 0; i < 850; ++i) dictionary->BeginTransaction();
  ExpectNoLogFiles("a thousand calls under the recorder");
}

void RecorderAfterError() {
  RecordModuleImports();
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = RecorderWarmUp(storage);
  Storage<kStaticObjectSize> staticStorage;
  reinterpret_cast<CDataBaseStaticObj*>(staticStorage.get())->GetDescription();
  Expect(MessageBoxCount() == 1, "the missing entry's box (got %d)", MessageBoxCount());
  ExpectOneBlock("error", "CDataBaseStaticObj::GetDescription(void)", dictionary);
}

// The engine refuses Pack's exclusive open; Pack goes on, and its result
// is the block's last line.
void RecorderAfterRefusedEscalation() {
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = RecorderWarmUp(storage);
  CTable* const table = dictionary->GetTable("LANG");
  table->OpenAccess(kShareModeShared, kSafetyNormal);
  QueueResult(kTable_CloseAccess, 1);
  QueueResult(kTable_OpenAccess, 0);
  Expect(table->Pack() == 1, "the engine packs");
  ExpectOneBlock("policy", "us                1 (", dictionary);
}

void RecorderAfterException() {
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = RecorderWarmUp(storage);
  ThrowOnNextCall(kDataDictionary_BeginTransaction);
  bool caught = false;
  try {
    dictionary->BeginTransaction();
  } catch (EngineFailure const&) {
    caught = true;
  }
  Expect(caught, "the engine's exception reaches the host");
  ExpectOneBlock("exception", "CDataDictionary::BeginTransaction(void)", dictionary);
}

// The stand-in engine's Pack takes 300 ms; Tolvan32_RecorderSlowMs is 100.
void RecorderAfterSlowCall() {
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = RecorderWarmUp(storage);
  CTable* const table = dictionary->GetTable("LANG");
  table->OpenAccess(kShareModeExclusive, kSafetyNormal);
  Expect(table->Pack() == 1, "the engine packs");
  ExpectOneBlock("slow", "us                1 (", dictionary);
}

namespace {

char const kPeerReadyEvent[] = "TolvanE2E.RecorderPeerReady";
char const kPeerStopEvent[] = "TolvanE2E.RecorderPeerStop";

// Calls every 50 ms until told to stop, as a running host does.
void CallUntil(CDataDictionary* dictionary, void* stop, unsigned long most) {
  unsigned long const start = GetTickCount();
  while (GetTickCount() - start < most) {
    dictionary->BeginTransaction();
    if (stop && WaitForSingleObject(stop, 50) == 0) return;
    if (!stop) Sleep(50);
  }
}

}  // namespace

// The second process of RecorderSnapshot.
int RecorderPeerProcess() {
  void* const ready = CreateEventA(nullptr, 0, 0, kPeerReadyEvent);
  void* const stop = CreateEventA(nullptr, 0, 0, kPeerStopEvent);
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = RecorderWarmUp(storage);
  SetEvent(ready);
  CallUntil(dictionary, stop, kHalfMinute);
  return 0;
}

// Two running hosts; a snapshot is asked for as tolvan32-setup asks for it
// (the program given in TOLVAN_E2E_SNAPSHOT, else by appending to the
// request file): each writes a snapshot block within about a second.
void RecorderSnapshot() {
  void* const ready = CreateEventA(nullptr, 0, 0, kPeerReadyEvent);
  void* const stop = CreateEventA(nullptr, 0, 0, kPeerStopEvent);
  void* const peer = StartChild("--recorder-peer");
  if (!Expect(ready && stop && peer, "the second process is started")) return;
  Expect(WaitForSingleObject(ready, kHalfMinute) == 0, "the second process is ready");
  Storage<kDictionaryObjectSize> storage;
  CDataDictionary* const dictionary = RecorderWarmUp(storage);
  CallUntil(dictionary, nullptr, 1200);
  ExpectNoLogFiles("before the snapshot");
  char tool[260] = {};
  EnvironmentValue("TOLVAN_E2E_SNAPSHOT", tool, sizeof tool);
  if (tool[0]) {
    Text command;
    command.Format("%s", tool);
    void* const asked = StartCommand(command);
    Expect(asked && WaitForSingleObject(asked, kHalfMinute) == 0, "%s runs", tool);
  } else {
    _iobuf* const request = fopen("C:\\Tolvan32_snapshot.req", "a");
    Expect(request && fputs("asked\n", request) >= 0, "the request file is appended to");
    if (request) fclose(request);
  }
  CallUntil(dictionary, nullptr, 2500);
  SetEvent(stop);
  WaitForSingleObject(peer, kHalfMinute);
  CloseHandle(peer);
  unsigned long const self = GetCurrentProcessId();
  for (char const* log : kLogs) {
    Text content;
    static char* lines[kMostRecorderLogLines];
    int count = 0;
    if (!Expect(ReadLines(log, content, lines, count, kMostRecorderLogLines), "%s can be read", log)) continue;
    int ours = 0, theirs = 0;
    for (int i = 0; i < count; ++i) {
      TimedLine line;
      if (!ParseTimedLine(lines[i], line) || !strstr(lines[i], " *** Recorder *** snapshot ")) continue;
      (line.process == self ? ours : theirs) += 1;
    }
    Expect(ours == 1 && theirs == 1, "%s: one snapshot block of each process (%d, %d)", log, ours, theirs);
  }
}

}  // namespace e2e

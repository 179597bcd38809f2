#include "tests/e2e/host/harness.h"

extern "C" e2e::ValueTypeCounters* E2E_ValueTypeCounters();

namespace e2e {

// --- Checks ---------------------------------------------------------------------

namespace {

int g_passed;
int g_failed;

void PrintEscaped(char const* label, char const* text, size_t size) {
  Text shown;
  for (size_t i = 0; i < size; ++i) {
    unsigned char const c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      shown.Append("\\r");
    } else if (c == '\n') {
      shown.Append("\\n");
    } else if (c < 0x20 || c >= 0x7f) {
      shown.Format("\\x%02x", c);
    } else {
      shown.Append(reinterpret_cast<char const*>(&text[i]), 1);
    }
  }
  printf("      %s [%s]\n", label, shown.c_str());
}

// The line (up to and including its line feed) that holds `offset`.
void LineAround(char const* text, size_t size, size_t offset, size_t* begin, size_t* end) {
  size_t b = offset < size ? offset : size;
  while (b > 0 && text[b - 1] != '\n') --b;
  size_t e = offset;
  while (e < size && text[e] != '\n') ++e;
  if (e < size) ++e;
  *begin = b;
  *end = e;
}

}  // namespace

bool Expect(bool condition, char const* format, ...) {
  if (condition) {
    ++g_passed;
    return true;
  }
  ++g_failed;
  char message[512];
  va_list arguments;
  va_start(arguments, format);
  _vsnprintf(message, sizeof message - 1, format, arguments);
  va_end(arguments);
  message[sizeof message - 1] = '\0';
  printf("    FAIL %s\n", message);
  return false;
}

bool ExpectText(char const* what, char const* actual, size_t actualSize, char const* expected,
                size_t expectedSize) {
  size_t same = 0;
  while (same < actualSize && same < expectedSize && actual[same] == expected[same]) ++same;
  if (!Expect(same == actualSize && same == expectedSize, "%s", what)) {
    size_t line = 1;
    for (size_t i = 0; i < same; ++i) line += expected[i] == '\n';
    printf("      first difference at byte %u (line %u):\n", static_cast<unsigned>(same),
           static_cast<unsigned>(line));
    size_t begin, end;
    LineAround(expected, expectedSize, same, &begin, &end);
    PrintEscaped("expected", expected + begin, end - begin);
    LineAround(actual, actualSize, same, &begin, &end);
    PrintEscaped("actual  ", actual + begin, end - begin);
    return false;
  }
  return true;
}

int ChecksPassed() { return g_passed; }
int ChecksFailed() { return g_failed; }

// --- The engine ---------------------------------------------------------------------

namespace {

EngineControl* g_engine;

char const kEngineFile[] = "Tolvan33.dll";
char const kModuleFile[] = "Tolvan32.dll";

}  // namespace

EngineControl& Engine() {
  if (!g_engine) {
    void* library = GetModuleHandleA(kEngineFile);
    if (!library) library = LoadLibraryA(kEngineFile);
    EngineControlEntry const entry =
        library ? reinterpret_cast<EngineControlEntry>(GetProcAddress(library, kEngineControlEntry)) : nullptr;
    if (!entry) {
      printf("    FAIL the stand-in engine %s cannot be loaded\n", kEngineFile);
      exit(3);
    }
    g_engine = entry();
  }
  return *g_engine;
}

ValueTypeCounters& ValueTypes() { return *E2E_ValueTypeCounters(); }

void QueueResult(OperationId op, intptr_t result) {
  EngineControl& engine = Engine();
  if (engine.queuedCount[op] < kQueueDepth) engine.queued[op][engine.queuedCount[op]++] = result;
}

void QueuePointer(OperationId op, void const* result) { QueueResult(op, reinterpret_cast<intptr_t>(result)); }

void ThrowOnNextCall(OperationId op, int passing) {
  Engine().throwSkip = passing;
  Engine().throwOn = op;
}

void const* FirstWordSeen(OperationId op, void const* object) {
  EngineControl const& engine = Engine();
  void const* word = nullptr;
  for (int i = 0; i < engine.firstWordCount; ++i) {
    if (engine.firstWords[i].operation == op && engine.firstWords[i].object == object) {
      word = engine.firstWords[i].word;
    }
  }
  return word;
}

void ExpectCalls(char const* what, Calls const& expected) {
  EngineControl& engine = Engine();
  Text label;
  label.Format("engine calls: %s", what);
  ExpectText(label.c_str(), engine.journal, static_cast<size_t>(engine.journalLength), expected.text.c_str(),
             expected.text.size());
  ForgetCalls();
}

void ForgetCalls() {
  EngineControl& engine = Engine();
  engine.journalLength = 0;
  engine.journal[0] = '\0';
}

void PrintCoveredOperations() {
  printf("covered:");
  // Only the stand-in engine keeps a journal (Tolvan33.dll may be a copy of the module).
  void* const library = GetModuleHandleA(kEngineFile);
  if (library && GetProcAddress(library, kEngineControlEntry)) {
    EngineControl const& engine = Engine();
    for (int op = 0; op < kOperationCount; ++op) {
      if (engine.calls[op]) printf(" %s", kOperationNames[op]);
    }
  }
  printf("\n");
}

// --- Trace logs ------------------------------------------------------------------------

bool ReadWholeFile(char const* path, Text& content) {
  content.Clear();
  _iobuf* file = fopen(path, "rb");
  if (!file) return false;
  char block[1024];
  size_t count;
  while ((count = fread(block, 1, sizeof block, file)) > 0) content.Append(block, count);
  fclose(file);
  return true;
}

namespace {

char const kMaskedLog[] = "C:\\Tolvan32_b.log";
char const kPlainLog[] = "C:\\Tolvan32_a.log";
size_t g_maskedSeen;
size_t g_plainSeen;

void ExpectNewText(char const* log, char const* path, size_t* seen, Text const& expected, char const* what) {
  Text content;
  ReadWholeFile(path, content);
  size_t const from = *seen < content.size() ? *seen : content.size();
  Text label;
  label.Format("%s log: %s", log, what);
  ExpectText(label.c_str(), content.c_str() + from, content.size() - from, expected.c_str(), expected.size());
  *seen = content.size();
}

}  // namespace

Trace& Trace::Item(char const* text) {
  if (!text) text = "NULL";
  if (!*text) text = "EMPTY";
  masked.Append(" ").Append(text);
  plain.Append(" ").Append(text);
  return *this;
}

Trace& Trace::Pointer(void const* address) {
  masked.Append(" ........");
  plain.Format(" %08x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(address)));
  return *this;
}

Trace& Trace::Int(long value) {
  masked.Format(" %ld", value);
  plain.Format(" %ld", value);
  return *this;
}

Trace& Trace::End() {
  masked.Append(" \r\n");
  plain.Append(" \r\n");
  return *this;
}

Trace& Trace::Raw(char const* maskedText, char const* plainText) {
  masked.Append(maskedText);
  plain.Append(plainText);
  return *this;
}

void ExpectTrace(char const* what, Trace const& expected) {
  ExpectNewText("masked", kMaskedLog, &g_maskedSeen, expected.masked, what);
  ExpectNewText("plain", kPlainLog, &g_plainSeen, expected.plain, what);
}

void SkipTrace() {
  Text content;
  ReadWholeFile(kMaskedLog, content);
  g_maskedSeen = content.size();
  ReadWholeFile(kPlainLog, content);
  g_plainSeen = content.size();
}

void ExpectNoLogFiles(char const* what) {
  Text content;
  Expect(!ReadWholeFile(kMaskedLog, content), "%s: no masked log file", what);
  Expect(!ReadWholeFile(kPlainLog, content), "%s: no plain log file", what);
}

size_t MaskedLogSize() {
  Text content;
  ReadWholeFile(kMaskedLog, content);
  return content.size();
}

// --- The module's imports --------------------------------------------------------------

namespace {

enum { kMessageBoxCapacity = 16, kDeletedCapacity = 64 };

MessageBoxSeen g_boxes[kMessageBoxCapacity];
int g_boxCount;
void (*g_whileShown)();
void const* g_deleted[kDeletedCapacity];
int g_deletedCount;
void* const kActiveWindow = reinterpret_cast<void*>(0x00c0ffee);

typedef void(__cdecl* DeleteEntry)(void*);
DeleteEntry g_realDelete;

void CopyText(char* room, size_t size, char const* text) {
  if (!text) text = "(null)";
  size_t length = strlen(text);
  if (length >= size) length = size - 1;
  memcpy(room, text, length);
  room[length] = '\0';
}

void* __stdcall RecordActiveWindow() { return kActiveWindow; }

enum { kMostTallied = 4 };
char const* const* g_tallyTexts;
int g_tallyCount;
long g_tallies[kMostTallied + 1];
long g_firstOdd;

int __stdcall RecordMessageBox(void* owner, char const* text, char const* caption, unsigned style) {
  if (g_tallyTexts) {
    int index = 0;
    while (index < g_tallyCount && strcmp(text, g_tallyTexts[index]) != 0) ++index;
    __atomic_add_fetch(&g_tallies[index], 1, __ATOMIC_RELAXED);
    if (index < g_tallyCount || __atomic_exchange_n(&g_firstOdd, 1, __ATOMIC_ACQ_REL)) return 1;
  }
  if (g_boxCount < kMessageBoxCapacity) {
    MessageBoxSeen& box = g_boxes[g_boxCount++];
    CopyText(box.text, sizeof box.text, text);
    CopyText(box.caption, sizeof box.caption, caption);
    box.owner = owner;
    box.style = style;
    box.maskedLogSize = MaskedLogSize();
  }
  if (void (*const action)() = g_whileShown) {
    g_whileShown = nullptr;
    action();
  }
  return 1;  // IDOK
}

void __cdecl RecordDelete(void* block) {
  if (g_deletedCount < kDeletedCapacity) g_deleted[g_deletedCount++] = block;
  g_realDelete(block);
}

uint32_t Word32(unsigned char const* image, uint32_t offset) {
  uint32_t value;
  memcpy(&value, image + offset, sizeof value);
  return value;
}

bool SameNameIgnoringCase(char const* a, char const* b) {
  for (; *a && *b; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return *a == *b;
}

unsigned char* ModuleImage(char const* file = kModuleFile) {
  return static_cast<unsigned char*>(GetModuleHandleA(file));
}

// Replaces the address the module `image` imports as `library`!`name` with
// `replacement`; returns the address it replaced (null if not imported).
void* ReplaceImport(unsigned char* image, char const* library, char const* name, void* replacement) {
  if (!image) return nullptr;
  uint32_t const headers = Word32(image, 0x3c);
  uint32_t const optionalHeader = headers + 4 + 20;
  uint32_t const importDirectory = Word32(image, optionalHeader + 96 + 8);
  for (uint32_t descriptor = importDirectory; Word32(image, descriptor + 12) != 0; descriptor += 20) {
    if (!SameNameIgnoringCase(reinterpret_cast<char const*>(image + Word32(image, descriptor + 12)), library)) {
      continue;
    }
    uint32_t const names = Word32(image, descriptor);
    uint32_t const addresses = Word32(image, descriptor + 16);
    for (uint32_t i = 0; Word32(image, names + 4 * i) != 0; ++i) {
      uint32_t const entry = Word32(image, names + 4 * i);
      if (entry & 0x80000000u) continue;  // imported by ordinal
      if (strcmp(reinterpret_cast<char const*>(image + entry + 2), name) != 0) continue;
      void** const slot = reinterpret_cast<void**>(image + addresses + 4 * i);
      unsigned long oldProtection = 0;
      unsigned long const kReadWrite = 0x04;
      VirtualProtect(slot, sizeof *slot, kReadWrite, &oldProtection);
      void* const replaced = *slot;
      *slot = replacement;
      VirtualProtect(slot, sizeof *slot, oldProtection, &oldProtection);
      return replaced;
    }
  }
  return nullptr;
}

}  // namespace

void RecordModuleImports(char const* moduleFile) {
  unsigned char* const image = ModuleImage(moduleFile);
  bool const boxes = ReplaceImport(image, "user32.dll", "MessageBoxA", reinterpret_cast<void*>(&RecordMessageBox));
  bool const owner =
      ReplaceImport(image, "user32.dll", "GetActiveWindow", reinterpret_cast<void*>(&RecordActiveWindow));
  // Every module image imports the same operator delete.
  g_realDelete = reinterpret_cast<DeleteEntry>(
      ReplaceImport(image, "msvcrt.dll", "??3@YAXPAX@Z", reinterpret_cast<void*>(&RecordDelete)));
  if (!boxes || !owner || !g_realDelete) {
    printf("    FAIL cannot replace the imports of %s (MessageBoxA %d, GetActiveWindow %d, delete %d)\n",
           moduleFile, boxes, owner, g_realDelete != nullptr);
    exit(3);
  }
}

int MessageBoxCount() { return g_boxCount; }
MessageBoxSeen const& MessageBoxAt(int index) { return g_boxes[index]; }
void WhileNextMessageBoxShown(void (*action)()) { g_whileShown = action; }
void TallyMessageBoxes(char const* const* texts, int count) {
  g_tallyCount = count < kMostTallied ? count : kMostTallied;
  g_tallyTexts = texts;
}
long MessageBoxTally(int index) { return __atomic_load_n(&g_tallies[index], __ATOMIC_ACQUIRE); }
void* ActiveWindowGiven() { return kActiveWindow; }

int DeletedCount(void const* block) {
  int count = 0;
  for (int i = 0; i < g_deletedCount; ++i) count += g_deleted[i] == block;
  return count;
}

bool InsideModule(void const* address) {
  unsigned char const* const image = ModuleImage();
  if (!image || !address) return false;
  uint32_t const headers = Word32(image, 0x3c);
  uint32_t const sizeOfImage = Word32(image, headers + 4 + 20 + 56);
  unsigned char const* const at = static_cast<unsigned char const*>(address);
  return at >= image && at < image + sizeOfImage;
}

void RunOnThreads(ThreadStart start, void* const* arguments, int count) {
  enum { kMostThreads = 16 };
  void* threads[kMostThreads] = {};
  if (!Expect(count <= kMostThreads, "at most %d threads at once", kMostThreads)) return;
  for (int t = 0; t < count; ++t) threads[t] = CreateThread(nullptr, 0, start, arguments[t], 0, nullptr);
  for (int t = 0; t < count; ++t) {
    Expect(threads[t] && WaitForSingleObject(threads[t], 0xffffffffu) == 0, "thread %d is started and ends", t + 1);
    if (threads[t]) CloseHandle(threads[t]);
  }
}

void EnvironmentValue(char const* name, char* buffer, unsigned long size) {
  buffer[0] = '\0';
  unsigned long const length = GetEnvironmentVariableA(name, buffer, size);
  if (length >= size) buffer[0] = '\0';
}

}  // namespace e2e

#include "trace_log.h"

#include "flight_recorder.h"
#include "module_state.h"
#include "platform/atomic.h"
#include "platform/crt.h"
#include "platform/platform.h"
#include "platform/unwind.h"
#include "trace_time.h"
#include "version_resource.h"

namespace tolvan {

namespace {

enum { kPathSize = 260 };

char const kMaskedLetter = 'b';
char const kPlainLetter = 'a';
char const kPointerDots[] = "........";

void FormatPath(char const* const* parts, int count, char* path) {
  int length = 0;
  for (int i = 0; i < count; ++i) {
    for (char const* part = parts[i]; *part && length < kPathSize - 1; ++part) path[length++] = *part;
  }
  path[length] = '\0';
}

// "<directory>Tolvan32_<letter>.log", cut to the path buffer if need be.
void FormatLogPath(char letter, char* path) {
  char const letterText[2] = {letter, '\0'};
  char const* const parts[] = {PlatformLogDirectory(), "Tolvan32_", letterText, ".log"};
  FormatPath(parts, 4, path);
}

int CopyText(char const* text, char* buffer) {
  int length = 0;
  while ((buffer[length] = text[length]) != '\0') ++length;
  return length;
}

enum LogFile { kMaskedLog, kPlainLog };
char const kLetters[2] = {kMaskedLetter, kPlainLetter};

enum { kPrefixRoom = 2 * kItemBufferSize + 4 + kTimeItemSize + kDurationItemSize };
static_assert(static_cast<int>(kPrefixRoom) <= static_cast<int>(kLinePrefixRoom), "room for a line's prefix");

}  // namespace

// The items every line begins with: " [PID:TID]" with ids, then " @time"
// with time.
int MakeLinePrefix(char* prefix) {
  int length = 0;
  if (g_module.traceIds) {
    prefix[length++] = ' ';
    length += FormatIds(prefix + length);
  }
  if (g_module.traceTime) {
    prefix[length++] = ' ';
    length += FormatTimeItem(prefix + length);
  }
  return length;
}

namespace {

// With ids, the first line the process writes to a file is its run line. The
// writer that claims it puts it first; writers of other threads wait for it,
// though never for long. A claimer that has not marked the line written for
// that long is taken to have died on the way (its thread ended, or an
// exception left it): the one waiter that finds it so writes the run line
// instead, and from then on no line waits for it.
enum { kRunLineWaitMilliseconds = 2000 };
enum { kRunLineMissing, kRunLineOnItsWay, kRunLineWritten, kRunLineTakenOver };

bool ClaimRunLine(LogFile file) {
  long* const state = &g_module.runLineState[file];
  unsigned long const start = PlatformTicks();
  for (unsigned long round = 0;; ++round) {
    long const seen = PlatformCompareExchange(state, kRunLineOnItsWay, kRunLineMissing);
    if (seen == kRunLineMissing) return true;
    if (seen != kRunLineOnItsWay) return false;
    if (PlatformTicks() - start > kRunLineWaitMilliseconds) {
      // The other file's run line, left on its way by the same claimer,
      // then costs no second wait: the next line claims it at once.
      PlatformCompareExchange(&g_module.runLineState[1 - file], kRunLineMissing, kRunLineOnItsWay);
      return PlatformCompareExchange(state, kRunLineTakenOver, kRunLineOnItsWay) == kRunLineOnItsWay;
    }
    PlatformPause(round);
  }
}

// The run line as it is written: the writer's ids, the items made at attach
// (with time, the time of the attach first: the run line is stamped with
// the moment the run began, before any of its lines), with time the user
// (asked only now, see PlatformUserName), the host program.
enum { kRunLineUserRoom = 300 };
size_t MakeRunLine(char* line) {
  int length = 0;
  line[length++] = ' ';
  length += FormatIds(line + length);
  length += CopyText(g_module.runLine, line + length);
  if (g_module.traceTime) {
    length += CopyText(" User ", line + length);
    PlatformUserName(line + length, kRunLineUserRoom - 8);
    length += static_cast<int>(strlen(line + length));
  }
  length += CopyText(g_module.runLineHost, line + length);
  return static_cast<size_t>(length);
}

// One append of `head` and `bytes` to the file, the run line before it when
// it is due. False when the file cannot be opened.
bool AppendToLog(LogFile file, char const* head, size_t headLength, char const* bytes, size_t length) {
  char path[kPathSize];
  FormatLogPath(kLetters[file], path);
  bool const runLine = g_module.traceIds && ClaimRunLine(file);
  PlatformFile* const handle = PlatformOpenAppend(path);
  if (!handle) {
    if (runLine) PlatformStore(&g_module.runLineState[file], kRunLineMissing);
    return false;
  }
  long* const lockStuck = &g_module.appendLockStuck[file];
  if (runLine) {
    char line[kPrefixRoom + kRunLineSize + kRunLineUserRoom + sizeof g_module.runLineHost];
    size_t const lineLength = MakeRunLine(line);
    PlatformAppend(handle, lockStuck, "", 0, line, lineLength);
    PlatformStore(&g_module.runLineState[file], kRunLineWritten);
  }
  PlatformAppend(handle, lockStuck, head, headLength, bytes, length);
  PlatformClose(handle);
  return true;
}

// The line being collected by one thread: its bytes for either file.
struct LineText {
  char* bytes;
  size_t length;
  size_t capacity;
};
// A thread's line storage. Every one made is on the module's list until the
// module is detached, so that the detach finds the storage of threads that
// are still alive (they never see their own detach); a thread that ends
// gives its storage back to the list, for the next thread to take.
struct ThreadLine {
  LineText text[2];  // masked log, plain log (the plain log's alone for the recorder)
  RecordedPointers pointers;  // for the recorder: where the plain text's pointer items are
  int open;          // items of this line have been collected or written
  // The items every line begins with (the writer's ids, the time; a result's
  // duration), made when the line is begun and written in front of its
  // first bytes.
  char prefix[kPrefixRoom];
  int prefixLength;
  long taken;  // a thread has it
  ThreadLine* next;
};
enum { kFirstLineRoom = 256 };

ThreadLine* TakeLine() {
  ThreadLine* head = static_cast<ThreadLine*>(PlatformLoadPointer(&g_module.lines));
  for (ThreadLine* line = head; line; line = line->next) {
    if (PlatformCompareExchange(&line->taken, 1, 0) == 0) return line;
  }
  ThreadLine* const made = static_cast<ThreadLine*>(PlatformWorkResize(nullptr, sizeof(ThreadLine)));
  if (!made) return nullptr;
  memset(made, 0, sizeof *made);
  made->taken = 1;
  for (;;) {
    made->next = head;
    void* const seen = PlatformCompareExchangePointer(&g_module.lines, made, head);
    if (seen == head) return made;
    head = static_cast<ThreadLine*>(seen);
  }
}

// A thread without line storage of its own (no slot, or no memory for one)
// writes its items one by one. That its line is begun is kept here, under
// its thread's number, for as long as the line lasts: in no flag that other
// such threads share.
long* BegunWithoutStorage(unsigned long thread) {
  for (long& mark : g_module.linesWithoutStorage) {
    if (PlatformLoad(&mark) == static_cast<long>(thread)) return &mark;
  }
  return nullptr;
}

void BeginWithoutStorage(unsigned long thread) {
  for (long& mark : g_module.linesWithoutStorage) {
    if (PlatformCompareExchange(&mark, static_cast<long>(thread), 0) == 0) return;
  }
}

void EndWithoutStorage() {
  if (long* const mark = BegunWithoutStorage(PlatformThreadId())) PlatformStore(mark, 0);
}

ThreadLine* ExistingLine() {
  if (!g_module.lineSlot) return nullptr;
  return static_cast<ThreadLine*>(PlatformThreadSlotGet(g_module.lineSlot));
}

// The calling thread's line storage; null when it has none. A line begun
// without storage is finished without it, so that it has one prefix.
ThreadLine* CurrentLine() {
  if (!g_module.lineSlot) return nullptr;
  ThreadLine* line = ExistingLine();
  if (line || BegunWithoutStorage(PlatformThreadId())) return line;
  line = TakeLine();
  if (line) PlatformThreadSlotSet(g_module.lineSlot, line);
  return line;
}

bool Reserve(LineText& text, size_t more) {
  if (text.length + more <= text.capacity) return true;
  size_t capacity = text.capacity ? text.capacity : static_cast<size_t>(kFirstLineRoom);
  while (capacity < text.length + more) capacity *= 2;
  char* const bytes = static_cast<char*>(PlatformWorkResize(text.bytes, capacity));
  if (!bytes) return false;
  text.bytes = bytes;
  text.capacity = capacity;
  return true;
}

void Put(LineText& text, char const* bytes, size_t length) {
  text.bytes[text.length++] = ' ';
  memcpy(text.bytes + text.length, bytes, length);
  text.length += length;
}

// The masked log first; one that cannot be opened stops the line.
void WriteCollected(ThreadLine* line) {
  LineText& masked = line->text[kMaskedLog];
  LineText& plain = line->text[kPlainLog];
  if (!masked.length && !plain.length && !line->prefixLength) return;
  size_t const prefixLength = static_cast<size_t>(line->prefixLength);
  if (g_module.recorder) {
    RecordLine(line->prefix, prefixLength, plain.bytes, plain.length, line->pointers);
    line->pointers.count = 0;
  } else if (AppendToLog(kMaskedLog, line->prefix, prefixLength, masked.bytes, masked.length)) {
    AppendToLog(kPlainLog, line->prefix, prefixLength, plain.bytes, plain.length);
  }
  line->prefixLength = 0;
  masked.length = 0;
  plain.length = 0;
}

// One item written on its own, after the prefix when the line begins with it.
void WriteAlone(char const* prefix, int prefixLength, char const* text, int length, ItemMasking masking) {
  // The recorder keeps lines only: an item without storage for its line is lost.
  if (g_module.recorder) return;
  bool const masked = masking == kMaskPointer;
  char head[kPrefixRoom + 1];
  memcpy(head, prefix, static_cast<size_t>(prefixLength));
  head[prefixLength] = ' ';
  size_t const headLength = static_cast<size_t>(prefixLength) + 1;
  if (AppendToLog(kMaskedLog, head, headLength, masked ? kPointerDots : text,
                  masked ? 8 : static_cast<size_t>(length))) {
    AppendToLog(kPlainLog, head, headLength, text, static_cast<size_t>(length));
  }
}

void AddItem(ThreadLine* line, char const* text, int length, ItemMasking masking) {
  bool const masked = masking == kMaskPointer;
  size_t const maskedLength = masked ? 8 : static_cast<size_t>(length);
  if (g_module.recorder) {
    LineText& plain = line->text[kPlainLog];
    if (Reserve(plain, 1 + static_cast<size_t>(length))) {
      RecordedPointers& pointers = line->pointers;
      if (masked && pointers.count < static_cast<int>(sizeof pointers.at / sizeof pointers.at[0]) &&
          plain.length < 0xffff) {
        pointers.at[pointers.count] = static_cast<unsigned short>(plain.length + 1);
        pointers.length[pointers.count++] = static_cast<unsigned char>(length);
      }
      Put(plain, text, static_cast<size_t>(length));
    }
    return;
  }
  if (Reserve(line->text[kMaskedLog], 1 + maskedLength) &&
      Reserve(line->text[kPlainLog], 1 + static_cast<size_t>(length))) {
    Put(line->text[kMaskedLog], masked ? kPointerDots : text, maskedLength);
    Put(line->text[kPlainLog], text, static_cast<size_t>(length));
    return;
  }
  // Not collected: what the line holds goes out first, then this item alone.
  WriteCollected(line);
  WriteAlone("", 0, text, length, masking);
}

void BeginLine(ThreadLine* line) {
  if (line->open) return;
  line->open = 1;
  line->prefixLength = MakeLinePrefix(line->prefix);
}

enum LineEnding { kLineGoesOn, kEndsLine };

void WriteItem(char const* text, int length, ItemMasking masking, LineEnding ending = kLineGoesOn) {
  if (!text) {
    text = "NULL";
    length = 4;
  } else if (length <= 0) {
    text = "EMPTY";
    length = 5;
  }
  ThreadLine* const line = CurrentLine();
  if (line) {
    BeginLine(line);
    AddItem(line, text, length, masking);
    if (ending == kEndsLine) {
      WriteCollected(line);
      line->open = 0;
    }
    return;
  }
  unsigned long const thread = PlatformThreadId();
  char prefix[kPrefixRoom];
  int prefixLength = 0;
  if (!BegunWithoutStorage(thread)) {
    prefixLength = MakeLinePrefix(prefix);
    if (ending != kEndsLine) BeginWithoutStorage(thread);
  }
  WriteAlone(prefix, prefixLength, text, length, masking);
  if (ending == kEndsLine) EndWithoutStorage();
}

bool HasLineFeed(char const* text) {
  for (; *text; ++text) {
    if (*text == '\n') return true;
  }
  return false;
}

// Appends an item's text to a part of the run line being made.
TOLVAN_NEVER_INLINE void AddRunItem(char* line, int size, int& length, char const* text) {
  int const room = size - 3;  // room stays for the line end and the terminating zero
  if (length < room) line[length++] = ' ';
  for (; *text && length < room; ++text) line[length++] = *text;
}

template <size_t size>
void AddRunItem(char (&line)[size], int& length, char const* text) {
  AddRunItem(line, static_cast<int>(size), length, text);
}

}  // namespace

void WriteTraceItem(char const* text, int length, ItemMasking masking) {
  if (g_module.tracing) WriteItem(text, length, masking);
}

void TraceText(char const* text) {
  WriteTraceItem(text, text ? static_cast<int>(strlen(text)) : 0);
}

void TraceTextAlways(char const* text) {
  bool const endsLine = text && HasLineFeed(text);
  WriteItem(text, text ? static_cast<int>(strlen(text)) : 0, kShowItem, endsLine ? kEndsLine : kLineGoesOn);
  if (endsLine && g_module.recorder) TriggerRecorder(kTriggerError);
}

void TraceDuration(long long counts) {
  if (!g_module.tracing || !g_module.traceTime) return;
  char item[kDurationItemSize];
  int const length = FormatDurationItem(counts, item);
  // Right after the time item, which the line's prefix ends with while it
  // is not written yet; a line written item by item takes it as it comes.
  ThreadLine* const line = CurrentLine();
  if (line) {
    BeginLine(line);
    if (line->prefixLength && line->prefixLength + 1 + length <= kPrefixRoom) {
      line->prefix[line->prefixLength++] = ' ';
      memcpy(line->prefix + line->prefixLength, item, static_cast<size_t>(length));
      line->prefixLength += length;
      return;
    }
  }
  WriteItem(item, length, kShowItem);
}

void TraceLineEnd() {
  if (g_module.tracing) WriteItem("\n", 1, kShowItem, kEndsLine);
}

void FlushPartialLine() {
  ThreadLine* const line = ExistingLine();
  if (!line) {
    EndWithoutStorage();
    return;
  }
  WriteCollected(line);
  line->open = 0;
}

void TraceGuardedLine(void (*body)(void const* context), void const* context) {
  CallWithExceptionStep([&] { body(context); }, [] {
    FlushPartialLine();
    if (g_module.recorder) TriggerRecorder(kTriggerException);
  });
}

void WatchedEngineCall(void (*body)(void const* context), void const* context) {
  if (!g_module.recorder) {
    body(context);
    return;
  }
  CallWithExceptionStep([&] { body(context); }, [] { TriggerRecorder(kTriggerException); });
}

void AppendToLogs(char const* masked, size_t maskedLength, char const* plain, size_t plainLength) {
  if (AppendToLog(kMaskedLog, "", 0, masked, maskedLength)) AppendToLog(kPlainLog, "", 0, plain, plainLength);
}

void FormatLogFileName(char const* name, char* path) {
  char const* const parts[] = {PlatformLogDirectory(), name};
  FormatPath(parts, 2, path);
}

namespace {

// What the line holds is written, ended, as its thread will never end it, so
// that the next line of the file starts a line of its own; its buffers are
// given back.
void EmptyLine(ThreadLine* line) {
  if (line->open) AddItem(line, "\n", 1, kShowItem);
  WriteCollected(line);
  line->open = 0;
  for (LineText& text : line->text) {
    PlatformWorkFree(text.bytes);
    text = LineText();
  }
}

}  // namespace

void ReleaseThreadLine() {
  ThreadLine* const line = ExistingLine();
  if (!line) return;
  PlatformThreadSlotSet(g_module.lineSlot, nullptr);
  EmptyLine(line);
  PlatformStore(&line->taken, 0);
}

void ReleaseAllThreadLines() {
  ThreadLine* line = static_cast<ThreadLine*>(PlatformExchangePointer(&g_module.lines, nullptr));
  while (line) {
    ThreadLine* const next = line->next;
    EmptyLine(line);
    PlatformWorkFree(line);
    line = next;
  }
}

void PutDigits(char* at, int count, int value) {
  for (int i = count - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
}

int FormatIds(char* buffer) {
  int length = 0;
  buffer[length++] = '[';
  length += FormatInt(static_cast<int>(PlatformProcessId()), buffer + length);
  buffer[length++] = ':';
  length += FormatInt(static_cast<int>(PlatformThreadId()), buffer + length);
  buffer[length++] = ']';
  buffer[length] = '\0';
  return length;
}

void PrepareRunLine() {
  char(&line)[sizeof g_module.runLine] = g_module.runLine;
  int length = 0;
  if (g_module.traceTime) {
    char time[kTimeItemSize];
    FormatTimeItem(time);
    AddRunItem(line, length, time);
  }
  AddRunItem(line, length, "*** Run ***");
  PlatformDateTime const now = PlatformLocalTime();
  char date[kItemBufferSize] = "0000-00-00";
  char time[kItemBufferSize] = "00:00:00";
  PutDigits(date, 4, now.year);
  PutDigits(date + 5, 2, now.month);
  PutDigits(date + 8, 2, now.day);
  PutDigits(time, 2, now.hour);
  PutDigits(time + 3, 2, now.minute);
  PutDigits(time + 6, 2, now.second);
  AddRunItem(line, length, date);
  AddRunItem(line, length, time);
  AddRunItem(line, length, "Tolvan32");
  char version[kVersionTextSize];
  LibraryVersionText(PlatformOwnLibrary(), version);
  AddRunItem(line, length, version);
  struct Option {
    char const* name;
    int value;
  } const options[] = {
      {"Tolvan32_Debug=", g_module.tracing && !g_module.recorder ? (g_module.traceLevel2 ? 2 : 1) : 0},
      {"Tolvan32_NoSEQ=", g_module.noSeq},
      {"Tolvan32_NoShare=", g_module.noShare},
      {"Tolvan32_StopSEQ=", g_module.stopSeq},
      {"Tolvan32_TraceIds=", g_module.traceIds},
      {"Tolvan32_TraceTime=", g_module.traceTime ? 1 : -1},
      {"Tolvan32_Recorder=", g_module.recorder ? static_cast<int>(g_module.recorder) : -1},
      {"Tolvan32_RecorderSlowMs=", g_module.recorderSlowMs ? static_cast<int>(g_module.recorderSlowMs) : -1},
  };
  for (Option const& option : options) {
    // Off, the line is as it was before there was a time option.
    if (option.value < 0) continue;
    char item[32] = {};
    int const nameLength = CopyText(option.name, item);
    FormatInt(option.value, item + nameLength);
    AddRunItem(line, length, item);
  }
  if (g_module.traceTime) {
    AddRunItem(line, length, g_module.clockPrecise ? "Clock=precise" : "Clock=calibrated");
    AddRunItem(line, length, "Computer");
    char computer[kPathSize];
    PlatformComputerName(computer, sizeof computer);
    AddRunItem(line, length, computer);
  }
  line[length] = '\0';
  char(&tail)[sizeof g_module.runLineHost] = g_module.runLineHost;
  length = 0;
  AddRunItem(tail, length, "Host");
  char host[kPathSize];
  PlatformLibraryPath(nullptr, host, sizeof host);
  AddRunItem(tail, length, host);
  tail[length++] = ' ';
  tail[length++] = '\n';
  tail[length] = '\0';
}

void TraceEngineLine(void* library) {
  if (!g_module.tracing || !g_module.traceIds || PlatformExchange(&g_module.engineLineWritten, 1) != 0) return;
  char version[kVersionTextSize];
  LibraryVersionText(library, version);
  char path[kPathSize];
  PlatformLibraryPath(library, path, sizeof path);
  TraceLine([&] {
    TraceText("*** Engine ***");
    TraceText(version);
    TraceText(path);
    TraceLineEnd();
  });
}

int FormatInt(int value, char* buffer) {
  char digits[kItemBufferSize];
  int count = 0;
  // Through unsigned arithmetic so that the most negative value has a magnitude.
  unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  int length = 0;
  if (value < 0) buffer[length++] = '-';
  while (count) buffer[length++] = digits[--count];
  buffer[length] = '\0';
  return length;
}

int FormatPointer(void const* address, char* buffer) {
  // Eight digits at least, as "%08x": exactly eight on the 32-bit product.
  unsigned long long value = reinterpret_cast<size_t>(address);
  int digits = 8;
  while (digits < static_cast<int>(2 * sizeof(void*)) && (value >> (4 * digits)) != 0) ++digits;
  for (int i = 0; i < digits; ++i) {
    buffer[i] = "0123456789abcdef"[(value >> (4 * (digits - 1 - i))) & 0xf];
  }
  buffer[digits] = '\0';
  return digits;
}

int FormatReal(double value, char* buffer) {
  if (value != value) return CopyText("nan", buffer);
  if (value > 1.7976931348623157e308) return CopyText("inf", buffer);
  if (value < -1.7976931348623157e308) return CopyText("-inf", buffer);

  // The C runtime rounds to six significant digits; the layout of "%g" is
  // then built here so that every build writes the Windows form.
  char exponentForm[32] = {};
  PlatformFormatExponent(value, exponentForm, sizeof exponentForm);
  char const* p = exponentForm;
  bool const negative = *p == '-';
  if (negative) ++p;
  char digits[6];
  int digitCount = 0;
  for (; *p && *p != 'e' && *p != 'E'; ++p) {
    if (*p >= '0' && *p <= '9' && digitCount < 6) digits[digitCount++] = *p;
  }
  while (digitCount < 6) digits[digitCount++] = '0';
  int exponent = 0;
  bool negativeExponent = false;
  if (*p) {
    ++p;
    if (*p == '+' || *p == '-') negativeExponent = (*p++ == '-');
    for (; *p >= '0' && *p <= '9'; ++p) exponent = exponent * 10 + (*p - '0');
  }
  if (negativeExponent) exponent = -exponent;

  int significant = 6;  // trailing zeros of the fraction are dropped
  while (significant > 1 && digits[significant - 1] == '0') --significant;

  int length = 0;
  if (negative) buffer[length++] = '-';
  if (exponent < -4 || exponent >= 6) {
    buffer[length++] = digits[0];
    if (significant > 1) {
      buffer[length++] = '.';
      for (int i = 1; i < significant; ++i) buffer[length++] = digits[i];
    }
    buffer[length++] = 'e';
    buffer[length++] = exponent < 0 ? '-' : '+';
    int magnitude = exponent < 0 ? -exponent : exponent;
    buffer[length++] = static_cast<char>('0' + magnitude / 100 % 10);
    buffer[length++] = static_cast<char>('0' + magnitude / 10 % 10);
    buffer[length++] = static_cast<char>('0' + magnitude % 10);
  } else if (exponent >= 0) {
    for (int i = 0; i <= exponent; ++i) buffer[length++] = digits[i];
    if (significant > exponent + 1) {
      buffer[length++] = '.';
      for (int i = exponent + 1; i < significant; ++i) buffer[length++] = digits[i];
    }
  } else {
    buffer[length++] = '0';
    buffer[length++] = '.';
    for (int i = -1; i > exponent; --i) buffer[length++] = '0';
    for (int i = 0; i < significant; ++i) buffer[length++] = digits[i];
  }
  buffer[length] = '\0';
  return length;
}

void TraceInt(int value) {
  char text[kItemBufferSize] = {};
  FormatInt(value, text);
  TraceText(text);
}

void TracePointer(void const* address) {
  char text[kItemBufferSize + 8] = {};
  int length = FormatPointer(address, text);
  WriteTraceItem(text, length, kMaskPointer);
}

void TraceReal(double value) {
  char text[kItemBufferSize] = {};
  FormatReal(value, text);
  TraceText(text);
}

void TraceChar(char c) {
  char const text[2] = {c, '\0'};
  TraceText(text);
}

}  // namespace tolvan

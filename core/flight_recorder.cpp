#include "flight_recorder.h"

#include "module_state.h"
#include "platform/abi.h"
#include "platform/atomic.h"
#include "platform/crt.h"
#include "platform/platform.h"
#include "trace_log.h"

namespace tolvan {

namespace {

// A line of the ring: a fixed slot, so that recording allocates nothing and
// the ring's memory is known from attach on. The ticket says which line the
// slot holds; it is 0 while a thread fills the slot, so that a reader that
// finds it changed, or 0, knows its copy is not whole.
enum { kSlotSize = 256, kSlotPointers = 8 };
struct Slot {
  long ticket;
  unsigned short length;
  unsigned char pointerCount;
  unsigned char pointerAt[kSlotPointers];
  unsigned char pointerLength[kSlotPointers];
  char bytes[kSlotSize - sizeof(long) - 4 - 2 * kSlotPointers];
};
static_assert(sizeof(Slot) <= kSlotSize + 4, "a slot is about the ring's line bound");

char const kCutMark[] = " ... \n";
enum { kCutMarkLength = sizeof kCutMark - 1 };

// The block's writing goes through two buffers (masked log, plain log),
// each handed to the files whenever it is full.
enum { kChunkSize = 32768 };

enum BlockState { kNoBlock, kBlockWriting, kBlockOpen, kBlockClosing };
enum { kJoinMilliseconds = 1000, kSnapshotLookMilliseconds = 1000 };

struct Recorder {
  Slot* slots;
  long capacity;        // lines; 0 while off
  long lastTicket;      // the newest line's ticket
  long writtenThrough;  // the newest ticket any block wrote
  long block;           // BlockState
  // A trigger that came while a block was being written or closed (its
  // trigger + 1): taken up by the thread that was writing or closing.
  long pendingTrigger;
  unsigned long blockBegun;
  char* chunks;  // masked then plain, kChunkSize each
  long long slowCounts;
  long snapshotLooking;
  unsigned long snapshotLookedAt;
  long long lastRequest;  // the request file's time acted on last (attach at first)
};
Recorder g_recorder;

char const* const kTriggerNames[] = {"error", "policy", "exception", "slow", "snapshot"};

// The slot's bytes for one log: the masked log's pointer items as dots.
TOLVAN_NEVER_INLINE size_t SlotText(Slot const& slot, bool masked, char* out) {
  if (!masked) {
    memcpy(out, slot.bytes, slot.length);
    return slot.length;
  }
  size_t from = 0, length = 0;
  for (int i = 0; i < slot.pointerCount; ++i) {
    size_t const at = slot.pointerAt[i];
    memcpy(out + length, slot.bytes + from, at - from);
    length += at - from;
    memcpy(out + length, "........", 8);
    length += 8;
    from = at + slot.pointerLength[i];
  }
  memcpy(out + length, slot.bytes + from, slot.length - from);
  return length + slot.length - from;
}

// A line's prefix always fits, with room for the cut mark after it.
static_assert(static_cast<size_t>(kLinePrefixRoom) + kCutMarkLength < sizeof(Slot::bytes), "a slot holds a prefix and a cut mark");

TOLVAN_NEVER_INLINE void FillSlot(Slot& slot, char const* prefix, size_t prefixLength, char const* text, size_t length,
              RecordedPointers const& pointers) {
  bool const whole = length && text[length - 1] == '\n';
  // A line cut short by an exception is ended here: the block holds whole lines.
  bool const cut = prefixLength + length + (whole ? 0 : 2) > sizeof slot.bytes;
  size_t const textKept = cut ? sizeof slot.bytes - kCutMarkLength - prefixLength : length;
  memcpy(slot.bytes, prefix, prefixLength);
  memcpy(slot.bytes + prefixLength, text, textKept);
  size_t end = prefixLength + textKept;
  if (cut) {
    memcpy(slot.bytes + end, kCutMark, kCutMarkLength);
    end += kCutMarkLength;
  } else if (!whole) {
    memcpy(slot.bytes + end, " \n", 2);
    end += 2;
  }
  slot.length = static_cast<unsigned short>(end);
  int count = 0;
  for (int i = 0; i < pointers.count && i < kSlotPointers; ++i) {
    size_t const at = prefixLength + pointers.at[i];
    // A pointer item cut by the bound is not kept at all: its digits never
    // reach the masked log.
    if (at + pointers.length[i] > prefixLength + textKept) {
      memcpy(slot.bytes + at, kCutMark + 1, kCutMarkLength - 1);
      slot.length = static_cast<unsigned short>(at + kCutMarkLength - 1);
      break;
    }
    slot.pointerAt[count] = static_cast<unsigned char>(at);
    slot.pointerLength[count] = pointers.length[i];
    ++count;
  }
  slot.pointerCount = static_cast<unsigned char>(count);
}

// Tickets count on through a wrap-around of their word: the ring's slot of
// a ticket, the next ticket, and whether one is no later than another.
Slot& SlotOf(long ticket) {
  return g_recorder.slots[static_cast<unsigned long>(ticket) % static_cast<unsigned long>(g_recorder.capacity)];
}
long NextTicket(long ticket) { return static_cast<long>(static_cast<unsigned long>(ticket) + 1); }
bool NoLaterThan(long ticket, long newest) {
  return static_cast<long>(static_cast<unsigned long>(newest) - static_cast<unsigned long>(ticket)) >= 0;
}

// A ring slot's copy, when it still holds the line of `ticket`.
bool CopySlot(long ticket, Slot& copy) {
  Slot const& slot = SlotOf(ticket);
  if (!ticket || PlatformLoad(&slot.ticket) != ticket) return false;
  copy.length = slot.length;
  copy.pointerCount = slot.pointerCount;
  memcpy(copy.pointerAt, slot.pointerAt, sizeof copy.pointerAt);
  memcpy(copy.pointerLength, slot.pointerLength, sizeof copy.pointerLength);
  if (copy.length > sizeof copy.bytes || copy.pointerCount > kSlotPointers) return false;
  memcpy(copy.bytes, slot.bytes, copy.length);
  PlatformLoadFence();
  return PlatformLoad(&slot.ticket) == ticket;
}

// Collects whole lines for both logs and hands them on a buffer at a time.
struct BlockWriter {
  size_t used[2];
  void Add(char const* masked, size_t maskedLength, char const* plain, size_t plainLength) {
    if (used[0] + maskedLength > kChunkSize || used[1] + plainLength > kChunkSize) Flush();
    memcpy(g_recorder.chunks + used[0], masked, maskedLength);
    memcpy(g_recorder.chunks + kChunkSize + used[1], plain, plainLength);
    used[0] += maskedLength;
    used[1] += plainLength;
  }
  void AddSlot(Slot const& slot) {
    char masked[sizeof slot.bytes];
    Add(masked, SlotText(slot, true, masked), slot.bytes, slot.length);
  }
  void Flush() {
    if (used[0] || used[1]) AppendToLogs(g_recorder.chunks, used[0], g_recorder.chunks + kChunkSize, used[1]);
    used[0] = used[1] = 0;
  }
};

// " [PID:TID] @time *** Recorder *** TRIGGER N" and the end mark.
size_t MakeMark(char* line, char const* trigger, long count) {
  size_t length = static_cast<size_t>(MakeLinePrefix(line));
  char const* const words = trigger ? " *** Recorder *** " : " *** Recorder end *** \n";
  size_t const wordsLength = strlen(words);
  memcpy(line + length, words, wordsLength);
  length += wordsLength;
  if (trigger) {
    size_t const triggerLength = strlen(trigger);
    memcpy(line + length, trigger, triggerLength);
    length += triggerLength;
    line[length++] = ' ';
    length += static_cast<size_t>(FormatInt(static_cast<int>(count), line + length));
    memcpy(line + length, " \n", 2);
    length += 2;
  }
  return length;
}

enum { kMarkRoom = 128 };

void WriteEndMark() {
  char mark[kMarkRoom];
  size_t const length = MakeMark(mark, nullptr, 0);
  AppendToLogs(mark, length, mark, length);
}

// The tickets after the last one written, up to `newest`, but no more than
// the ring holds.
long FirstUnwritten(long newest) {
  unsigned long const written = static_cast<unsigned long>(PlatformLoad(&g_recorder.writtenThrough));
  unsigned long const span = static_cast<unsigned long>(newest) - written;
  unsigned long const capacity = static_cast<unsigned long>(g_recorder.capacity);
  return static_cast<long>(span <= capacity ? written + 1 : static_cast<unsigned long>(newest) - capacity + 1);
}

void WriteLines(BlockWriter& writer, long first, long newest) {
  Slot copy;
  for (long ticket = first; NoLaterThan(ticket, newest); ticket = NextTicket(ticket)) {
    if (CopySlot(ticket, copy)) writer.AddSlot(copy);
  }
  PlatformStore(&g_recorder.writtenThrough, newest);
}

long CountLines(long first, long newest) {
  long count = 0;
  for (long ticket = first; NoLaterThan(ticket, newest); ticket = NextTicket(ticket)) {
    if (ticket && PlatformLoad(&SlotOf(ticket).ticket) == ticket) ++count;
  }
  return count;
}

bool JoinWindowOver() { return PlatformTicks() - g_recorder.blockBegun >= kJoinMilliseconds; }

// The block open after its window: its end mark, written once.
void CloseOpenBlock() {
  if (PlatformCompareExchange(&g_recorder.block, kBlockClosing, kBlockOpen) != kBlockOpen) return;
  WriteEndMark();
  PlatformStore(&g_recorder.block, kNoBlock);
  if (long const pending = PlatformExchange(&g_recorder.pendingTrigger, 0)) TriggerRecorder(static_cast<RecorderTrigger>(pending - 1));
}

void WriteBlock(RecorderTrigger trigger) {
  long const newest = PlatformLoad(&g_recorder.lastTicket);
  long const first = FirstUnwritten(newest);
  BlockWriter writer = {};
  char mark[kMarkRoom];
  size_t const markLength = MakeMark(mark, kTriggerNames[trigger], CountLines(first, newest));
  writer.Add(mark, markLength, mark, markLength);
  WriteLines(writer, first, newest);
  // Lines finished while the block was being written follow it; from now
  // on, lines join the block as they are finished.
  long const later = PlatformLoad(&g_recorder.lastTicket);
  if (later != newest) WriteLines(writer, FirstUnwritten(later), later);
  writer.Flush();
  g_recorder.blockBegun = PlatformTicks();
  PlatformStore(&g_recorder.block, kBlockOpen);
  // A trigger meanwhile: the lines recorded since join the block now.
  if (PlatformExchange(&g_recorder.pendingTrigger, 0)) {
    long const newest = PlatformLoad(&g_recorder.lastTicket);
    WriteLines(writer, FirstUnwritten(newest), newest);
    writer.Flush();
  }
}

}  // namespace

bool StartRecorder(long lines, long slowMs) {
  size_t const ringSize = static_cast<size_t>(lines) * sizeof(Slot);
  char* const memory = static_cast<char*>(PlatformWorkResize(nullptr, ringSize + 2 * kChunkSize));
  if (!memory) return false;
  memset(memory, 0, ringSize);
  g_recorder = Recorder();
  g_recorder.slots = reinterpret_cast<Slot*>(memory);
  g_recorder.chunks = memory + ringSize;
  g_recorder.capacity = lines;
  if (slowMs > 0) {
    g_recorder.slowCounts = static_cast<long long>(PlatformCounterFrequency() * static_cast<double>(slowMs) / 1000.0);
  }
  g_recorder.lastRequest = PlatformClockTicks();
  g_recorder.snapshotLookedAt = PlatformTicks();
  return true;
}

void StopRecorder() {
  if (!g_recorder.capacity) return;
  CloseOpenBlock();
  g_recorder.capacity = 0;
  PlatformWorkFree(g_recorder.slots);
  g_recorder.slots = nullptr;
}

void RecordLine(char const* prefix, size_t prefixLength, char const* text, size_t length,
                RecordedPointers const& pointers) {
  if (!g_recorder.capacity) return;
  long const block = PlatformLoad(&g_recorder.block);
  if (block == kBlockOpen) {
    if (!JoinWindowOver()) {
      Slot line;
      FillSlot(line, prefix, prefixLength, text, length, pointers);
      char masked[sizeof line.bytes];
      AppendToLogs(masked, SlotText(line, true, masked), line.bytes, line.length);
      return;
    }
    CloseOpenBlock();
  }
  long const ticket = PlatformAdd(&g_recorder.lastTicket, 1);
  if (!ticket) return;  // the one ticket a wrap-around gives that marks a slot being filled
  Slot& slot = SlotOf(ticket);
  // Marked as being filled before a byte changes, for a block being written.
  PlatformExchange(&slot.ticket, 0);
  FillSlot(slot, prefix, prefixLength, text, length, pointers);
  PlatformStore(&slot.ticket, ticket);
}

void TriggerRecorder(RecorderTrigger trigger) {
  if (!g_recorder.capacity) return;
  for (;;) {
    long const seen = PlatformCompareExchange(&g_recorder.block, kBlockWriting, kNoBlock);
    if (seen == kNoBlock) break;
    // A block being written or closed: its writer takes the trigger up.
    if (seen != kBlockOpen) {
      PlatformStore(&g_recorder.pendingTrigger, trigger + 1);
      return;
    }
    if (!JoinWindowOver() && trigger != kTriggerSnapshot) return;
    CloseOpenBlock();
  }
  WriteBlock(trigger);
}

void NotePolicyFailure() {
  if (g_module.recorder) TriggerRecorder(kTriggerPolicy);
}

bool IsSlowCall(long long counts) { return g_recorder.slowCounts && counts > g_recorder.slowCounts; }

void CheckSnapshotRequest() {
  unsigned long const now = PlatformTicks();
  if (now - g_recorder.snapshotLookedAt < kSnapshotLookMilliseconds) return;
  // One thread looks; the others go on at once.
  if (PlatformExchange(&g_recorder.snapshotLooking, 1) != 0) return;
  g_recorder.snapshotLookedAt = now;
  char path[kLogPathSize];
  FormatLogFileName("Tolvan32_snapshot.req", path);
  long long const asked = PlatformFileWriteTime(path);
  bool const request = asked > g_recorder.lastRequest;
  if (request) g_recorder.lastRequest = asked;
  PlatformStore(&g_recorder.snapshotLooking, 0);
  if (request) TriggerRecorder(kTriggerSnapshot);
}

}  // namespace tolvan

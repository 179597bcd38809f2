#include "tools/trace/trace_read_ahead.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "tools/common/tool_platform.h"
#include "tools/trace/trace_input.h"

namespace tolvan {
namespace tools {

namespace {

// Small enough that a batch's lines stay in the processor's cache between
// the two threads, large enough that they rarely wait for each other.
size_t const kBatchBytes = 128 << 10;
size_t const kBatches = 8;
// Lines of one batch at most: a log of empty lines would hold a line for
// each byte.
size_t const kBatchLines = 16384;
// A batch near its bound of lines is handed on rather than read into a few
// bytes at a time.
size_t const kLeastRead = 4096;

// A line as a batch keeps it, taken apart: one cache line, since one
// thread writes every one of them and the other reads it. Its items are
// kept as offsets into its text.
struct PackedLine {
  char const* text;
  uint32_t size;
  uint8_t kind;
  uint8_t ending;
  bool ids;
  bool timed;
  uint32_t process;
  uint32_t thread;
  int64_t micros;
  int64_t duration;
  char const* problem;
  int16_t op;
  int16_t errorNumber;
  uint32_t objectEnd;  // a call line's object: from 1
  // A call line's arguments, a result line's body, an error line's message.
  uint32_t itemsStart;
  uint32_t itemsEnd;
};
static_assert(sizeof(PackedLine) <= 64, "one cache line");
static_assert(kOperationCount < 0x7fff && kMaxLineBytes < 0xffffffffu, "fits the packed line");

void Pack(OperationForms const& forms, char const* bytes, size_t size, LineEnding ending, PackedLine& packed) {
  LineIds ids;
  LineTime time;
  size_t const taken = TakeLineItems(bytes, size, ids, time);
  std::string_view const text(bytes + taken, size - taken);
  TraceLine line;
  if (ending == kWholeLine) ClassifyLineInto(forms, text, line);
  auto offset = [&text](std::string_view item) { return static_cast<uint32_t>(item.data() - text.data()); };
  std::string_view items = line.kind == kCallLine ? line.arguments : line.kind == kResultLine ? line.body : line.text;
  if (items.empty()) items = text.substr(text.size());
  packed.text = text.data();
  packed.size = static_cast<uint32_t>(text.size());
  packed.kind = static_cast<uint8_t>(line.kind);
  packed.ending = static_cast<uint8_t>(ending);
  packed.ids = ids.present;
  packed.timed = time.present;
  packed.process = ids.process;
  packed.thread = ids.thread;
  packed.micros = time.micros;
  packed.duration = time.duration;
  packed.problem = line.problem;
  packed.op = static_cast<int16_t>(line.op);
  packed.errorNumber = static_cast<int16_t>(line.errorNumber);
  packed.objectEnd = line.kind == kCallLine ? offset(line.object) + static_cast<uint32_t>(line.object.size()) : 1;
  packed.itemsStart = offset(items);
  packed.itemsEnd = packed.itemsStart + static_cast<uint32_t>(items.size());
}

// Sets every field: one line is reused for the whole batch, since making
// a blank one costs a string store instruction that is slow to start.
void Unpack(PackedLine const& packed, uint64_t number, ReadLine& read) {
  read.number = number;
  read.text = std::string_view(packed.text, packed.size);
  read.ending = static_cast<LineEnding>(packed.ending);
  read.ids.present = packed.ids;
  read.ids.process = packed.process;
  read.ids.thread = packed.thread;
  read.time.present = packed.timed;
  read.time.micros = packed.micros;
  read.time.duration = packed.duration;
  TraceLine& line = read.line;
  line.kind = static_cast<LineKind>(packed.kind);
  line.op = packed.op;
  line.errorNumber = packed.errorNumber;
  line.problem = packed.problem;
  std::string_view const items(packed.text + packed.itemsStart, packed.itemsEnd - packed.itemsStart);
  bool const call = line.kind == kCallLine;
  line.object = call ? std::string_view(packed.text + 1, packed.objectEnd - 1) : std::string_view();
  line.arguments = call ? items : std::string_view();
  line.body = line.kind == kResultLine ? items : std::string_view();
  line.text = line.kind == kErrorLine ? items : std::string_view();
}

struct Batch {
  std::unique_ptr<char[]> bytes;  // kBatchBytes of the log, the lines' text
  size_t used = 0;
  // The lines begun in an earlier batch, whole: a deque keeps each string
  // where it is as more are added.
  std::deque<std::string> carried;
  std::vector<PackedLine> lines;
  uint64_t firstNumber = 0;  // the lines are numbered on from it
  bool last = false;     // the log ended or reading failed
  bool faulted = false;  // the reading thread threw: none of its lines count
};

class ReadAheadRun : private LineSink {
 public:
  ReadAheadRun(ChunkSource& source, OperationForms const& forms, uint64_t linesBefore)
      : source_(source), forms_(forms), reader_(*this, linesBefore) {}
  ~ReadAheadRun() {
    FreeSemaphore(free_);
    FreeSemaphore(full_);
  }

  bool Read(std::function<void(ReadLine const&)> const& handle, LineCounts& counts);

 private:
  void Handle(Batch const& batch, std::function<void(ReadLine const&)> const& handle);
  void Line(uint64_t number, char const* text, size_t size, LineEnding ending) override;
  void Fill(Batch& batch);
  static void ReadingThread(void* context);
  void ReadBatches();
  bool ReadAlone(std::function<void(ReadLine const&)> const& handle);
  bool ReadBeside(ToolThread* thread, std::function<void(ReadLine const&)> const& handle);

  ChunkSource& source_;
  OperationForms const& forms_;
  LineReader reader_;
  Batch batches_[kBatches];
  Batch* filling_ = nullptr;
  bool ended_ = false;
  bool failed_ = false;
  std::exception_ptr fault_;  // of the reading thread: read once it has ended
  ToolSemaphore* free_ = nullptr;  // batches the reading thread may fill
  ToolSemaphore* full_ = nullptr;  // batches filled, to be handled
  std::atomic<bool> stop_{false};  // the handling thread gave up
};

void ReadAheadRun::Line(uint64_t number, char const* bytes, size_t size, LineEnding ending) {
  Batch& batch = *filling_;
  char const* const start = batch.bytes.get();
  // A line that began in an earlier piece comes from the line reader's own
  // buffer, which the next line reuses.
  if (size && (bytes < start || bytes >= start + batch.used)) {
    batch.carried.emplace_back(bytes, size);
    bytes = batch.carried.back().data();
  }
  if (batch.lines.empty()) batch.firstNumber = number;
  batch.lines.emplace_back();
  Pack(forms_, bytes, size, ending, batch.lines.back());
}

void ReadAheadRun::Fill(Batch& batch) {
  // Made when first filled: a small log fills one batch.
  if (!batch.bytes) batch.bytes.reset(new char[kBatchBytes]);
  batch.used = 0;
  batch.carried.clear();
  batch.lines.clear();
  batch.last = false;
  batch.faulted = false;
  filling_ = &batch;
  while (!ended_ && batch.used < kBatchBytes && batch.lines.size() < kBatchLines) {
    // A piece of N bytes ends N lines at most.
    size_t const room = std::min(kBatchBytes - batch.used, kBatchLines - batch.lines.size());
    if (room < kLeastRead && batch.used) break;
    char* const at = batch.bytes.get() + batch.used;
    size_t got = 0;
    if (!source_.NextInto(at, room, got)) failed_ = true;
    if (failed_ || got == 0) {
      ended_ = true;
      break;
    }
    batch.used += got;
    reader_.ReadPiece(std::string_view(at, got));
  }
  if (ended_) {
    reader_.ReadEnd();
    batch.last = true;
  }
}

void ReadAheadRun::Handle(Batch const& batch, std::function<void(ReadLine const&)> const& handle) {
  uint64_t number = batch.firstNumber;
  ReadLine read;
  for (PackedLine const& packed : batch.lines) {
    Unpack(packed, number++, read);
    handle(read);
  }
}

void ReadAheadRun::ReadingThread(void* context) { static_cast<ReadAheadRun*>(context)->ReadBatches(); }

void ReadAheadRun::ReadBatches() {
  for (size_t next = 0;; next = (next + 1) % kBatches) {
    WaitSemaphore(free_);
    Batch& batch = batches_[next];
    if (stop_.load()) return;
    try {
      Fill(batch);
    } catch (...) {
      fault_ = std::current_exception();
      batch.faulted = true;
    }
    bool const last = batch.last || batch.faulted;
    PostSemaphore(full_);
    if (last) return;
  }
}

bool ReadAheadRun::ReadAlone(std::function<void(ReadLine const&)> const& handle) {
  Batch& batch = batches_[0];
  do {
    Fill(batch);
    Handle(batch, handle);
  } while (!batch.last);
  return !failed_;
}

bool ReadAheadRun::ReadBeside(ToolThread* thread, std::function<void(ReadLine const&)> const& handle) {
  try {
    for (size_t next = 0;; next = (next + 1) % kBatches) {
      WaitSemaphore(full_);
      Batch const& batch = batches_[next];
      if (batch.faulted) break;
      Handle(batch, handle);
      bool const last = batch.last;
      PostSemaphore(free_);
      if (last) break;
    }
  } catch (...) {
    // The reading thread may be waiting for a batch to fill: one more lets
    // it see that it is to stop.
    stop_.store(true);
    PostSemaphore(free_);
    JoinThread(thread);
    throw;
  }
  JoinThread(thread);
  if (fault_) std::rethrow_exception(fault_);
  return !failed_;
}

bool ReadAheadRun::Read(std::function<void(ReadLine const&)> const& handle, LineCounts& counts) {
  free_ = NewSemaphore(static_cast<long>(kBatches));
  full_ = NewSemaphore(0);
  ToolThread* const thread = free_ && full_ ? StartThread(ReadingThread, this) : nullptr;
  bool const read = thread ? ReadBeside(thread, handle) : ReadAlone(handle);
  counts.lines = reader_.lines();
  counts.bytes = reader_.bytes();
  return read;
}

}  // namespace

bool ReadAhead(ChunkSource& source, OperationForms const& forms, uint64_t linesBefore,
               std::function<void(ReadLine const&)> const& handle, LineCounts& counts) {
  ReadAheadRun run(source, forms, linesBefore);
  return run.Read(handle, counts);
}

}  // namespace tools
}  // namespace tolvan

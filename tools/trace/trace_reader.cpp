#include "tools/trace/trace_reader.h"

#include <algorithm>
#include <vector>

namespace tolvan {
namespace tools {

TraceReader::TraceReader(OperationForms const& forms, Summary& summary, RecordAssembler::Handler handler)
    : forms_(forms),
      summary_(summary),
      handler_(std::move(handler)),
      withoutIds_(forms, [this](Record const& record) { HandOn(record); }, Stream(), true) {}

void TraceReader::HandOn(Record const& record) {
  if (record.unreliable && !summary_.mixing.line) {
    summary_.mixing.line = withoutIds_.signLine();
    summary_.mixing.sign = withoutIds_.sign();
  }
  if (!inLineOrder_) return handler_(record);
  // Nothing waits and nothing still open began before it: it goes on at
  // once, without a copy (a log without ids, one thread of a log with them).
  size_t const kFewThreads = 8;
  if (waiting_.empty() && threads_.size() <= kFewThreads && record.nodes[0].line < OpenLine(&record)) {
    return handler_(record);
  }
  waiting_.push_back({record.nodes[0].line, handedOn_++, record});
  std::push_heap(waiting_.begin(), waiting_.end(), std::greater<Waiting>());
}

uint64_t TraceReader::OpenLine(Record const* besides) const {
  uint64_t line = withoutIds_.OpenLine(besides);
  for (auto const& thread : threads_) line = std::min(line, thread.second.assembler->OpenLine(besides));
  return held_.active ? std::min(line, held_.number) : line;
}

// Hands on the records waiting that no record still open can come before.
// The open line is taken again only when it holds a record back; a record
// begun after line `number` comes after every one waiting now.
void TraceReader::Release(uint64_t number, bool all) {
  while (!waiting_.empty()) {
    if (!all && waiting_.front().line >= openLine_ && waiting_.size() <= kMaxReordered) {
      openLine_ = std::min(OpenLine(), number + 1);
      if (waiting_.front().line >= openLine_) return;
    }
    std::pop_heap(waiting_.begin(), waiting_.end(), std::greater<Waiting>());
    handler_(waiting_.back().record);
    waiting_.pop_back();
  }
}

// Finishes the quarter of the threads idle longest.
void TraceReader::MakeRoomForStream() {
  std::vector<uint64_t> lines;
  for (auto const& thread : threads_) lines.push_back(thread.second.lastLine);
  auto const cut = lines.begin() + static_cast<std::ptrdiff_t>(lines.size() / 4);
  std::nth_element(lines.begin(), cut, lines.end());
  uint64_t const oldest = *cut;
  for (auto thread = threads_.begin(); thread != threads_.end();) {
    if (thread->second.lastLine <= oldest) {
      thread->second.assembler->Finish();
      last_ = nullptr;
      thread = threads_.erase(thread);
    } else {
      ++thread;
    }
  }
}

RecordAssembler& TraceReader::FindStream(uint64_t number, LineIds const& ids) {
  if (!ids.present) return withoutIds_;
  auto found = threads_.find({ids.process, ids.thread});
  if (found == threads_.end()) {
    if (threads_.size() >= kMaxStreams) MakeRoomForStream();
    auto const run = runOfProcess_.find(ids.process);
    Stream origin{ids, run == runOfProcess_.end() ? -1 : run->second};
    Thread thread;
    thread.assembler =
        std::make_unique<RecordAssembler>(forms_, [this](Record const& record) { HandOn(record); }, origin);
    found = threads_.emplace(std::make_pair(ids.process, ids.thread), std::move(thread)).first;
  }
  found->second.lastLine = number;
  last_ = &*found;
  return *found->second.assembler;
}

// A process id seen again in a new run is another process: what its threads
// left open ended with the old one.
void TraceReader::StartRun(uint64_t number, LineIds const& ids, RunLine const& line) {
  FinishProcess(ids.process);
  EndBlock(ids.process);
  AddRun(number, ids, line);
}

void TraceReader::FinishProcess(uint32_t process) {
  for (auto thread = threads_.lower_bound({process, 0}); thread != threads_.end() && thread->first.first == process;) {
    thread->second.assembler->Finish();
    last_ = nullptr;
    thread = threads_.erase(thread);
  }
}

void TraceReader::EndBlock(uint32_t process) {
  if (!openBlocks_.empty()) openBlocks_.erase(process);
}

// The recorder writes a process's lines only in blocks, and the calls
// between two blocks are not in the log: each block's threads start afresh,
// as at the start of a log, and what a block left open ends with it.
void TraceReader::AddMark(uint64_t number, LineIds const& ids, LineTime const& time, RecorderMark const& mark) {
  FinishProcess(ids.process);
  RecorderFigures& recorder = summary_.recorder;
  if (mark.end) {
    auto const open = openBlocks_.find(ids.process);
    if (open != openBlocks_.end()) {
      recorder.kept[open->second].ended = true;
      openBlocks_.erase(open);
    }
  } else {
    EndBlock(ids.process);
    ++recorder.blocks;
    auto counted = std::find_if(recorder.byTrigger.begin(), recorder.byTrigger.end(),
                                [&](auto const& entry) { return entry.first.text == mark.trigger; });
    if (counted != recorder.byTrigger.end()) {
      ++counted->second;
    } else if (recorder.byTrigger.size() < kKeptTriggers) {
      recorder.byTrigger.emplace_back(KeptText(mark.trigger), 1);
    } else {
      ++recorder.otherTriggers;
    }
    if (recorder.kept.size() < kKeptLines) {
      RecorderBlock block;
      block.trigger = KeptText(mark.trigger);
      block.line = number;
      block.process = ids.process;
      block.thread = ids.thread;
      block.recorded = mark.lines;
      openBlocks_[ids.process] = recorder.kept.size();
      recorder.kept.push_back(std::move(block));
    }
  }
  auto const run = runOfProcess_.find(ids.process);
  Record record;
  record.stream = Stream{ids, run == runOfProcess_.end() ? -1 : run->second};
  record.text.assign(mark.trigger);
  Node node;
  node.kind = kMarkNode;
  node.status = kSingleLine;
  node.line = number;
  node.time = time.present ? time.micros : -1;
  node.text = TextRef{0, static_cast<uint32_t>(record.text.size())};
  node.recordedLines = mark.lines;
  record.nodes.push_back(node);
  HandOn(record);
}

// A line of a process with a block open is one of that block's.
void TraceReader::CountBlockLine(LineIds const& ids) {
  if (openBlocks_.empty()) return;
  auto const open = openBlocks_.find(ids.present ? ids.process : lastProcess_);
  if (open != openBlocks_.end()) ++summary_.recorder.kept[open->second].lines;
}

// Runs beyond the first kKeptRuns are numbered and counted, not kept.
void TraceReader::AddRun(uint64_t number, LineIds const& ids, RunLine const& line) {
  if (runOfProcess_.size() >= kMaxProcesses && !runOfProcess_.count(ids.process)) {
    // Forget the processes without a thread being read: their later lines
    // are read as those of a log that began after their run line.
    for (auto process = runOfProcess_.begin(); process != runOfProcess_.end();) {
      auto const thread = threads_.lower_bound({process->first, 0});
      bool const busy = thread != threads_.end() && thread->first.first == process->first;
      process = busy ? std::next(process) : runOfProcess_.erase(process);
    }
  }
  runOfProcess_[ids.process] = static_cast<int>(summary_.runCount++);
  if (summary_.runs.size() == kKeptRuns) return;
  RunInfo run;
  run.line = number;
  run.process = ids.process;
  run.thread = ids.thread;
  run.log = summary_.logCount;
  run.date = KeptText(line.date);
  run.time = KeptText(line.time);
  run.version = KeptText(line.version);
  run.optionCount = line.optionCount;
  for (std::string_view option : line.options) run.options.emplace_back(option);
  run.computer = KeptText(line.computer);
  run.user = KeptText(line.user);
  run.host = KeptText(line.host);
  summary_.runs.push_back(std::move(run));
}

void TraceReader::NoteEngine(uint64_t number, LineIds const& ids, EngineLine const& line) {
  auto const run = runOfProcess_.find(ids.process);
  if (run == runOfProcess_.end()) {
    // The log began after this process's run line: a run known by its engine alone.
    AddRun(0, ids, RunLine());
    return NoteEngine(number, ids, line);
  }
  if (static_cast<size_t>(run->second) >= summary_.runs.size()) return;
  RunInfo& info = summary_.runs[run->second];
  info.engineLine = number;
  info.engineVersion = KeptText(line.version);
  info.enginePath = KeptText(line.path);
}

// A call line held that no continuation completed: its lines as they are.
void TraceReader::HandOnHeld() {
  if (!held_.active) return;
  held_.active = false;
  RecordAssembler& stream = StreamOf(held_.number, held_.ids);
  std::string_view rest = held_.text;
  for (uint64_t number = held_.number; !rest.empty() || number == held_.number; ++number) {
    std::string_view const piece = rest.substr(0, rest.find('\n'));
    stream.AddClassified(number, piece, kWholeLine, ClassifyLine(forms_, piece), 0,
                         number == held_.number ? held_.time : LineTime());
    rest.remove_prefix(std::min(rest.size(), piece.size() + 1));
  }
}

// Whether the line goes on a call line held: with ids, any line without
// them does; without ids, a line that is nothing of its own.
bool TraceReader::Continue(LineIds const& ids, std::string_view text, TraceLine const& line) {
  if (!held_.active) return false;
  bool const continues = held_.ids.present ? !ids.present : line.kind == kBadLine && !MayContinue(line);
  if (!continues || held_.text.size() + text.size() >= kMaxLineBytes) return false;
  held_.text += '\n';
  held_.text += text;
  ++held_.continued;
  TraceLine const joined = ClassifyLine(forms_, held_.text);
  if (MayContinue(joined)) {
    if (held_.continued == kMaxContinued) HandOnHeld();
    return true;
  }
  held_.active = false;
  StreamOf(held_.number, held_.ids)
      .AddClassified(held_.number, held_.text, kWholeLine, joined, held_.continued, held_.time);
  return true;
}

void TraceReader::AddLine(ReadLine const& read) {
  AddPhysicalLine(read);
  if (!waiting_.empty()) Release(read.number, false);
}

void TraceReader::AddPhysicalLine(ReadLine const& read) {
  uint64_t const number = read.number;
  std::string_view const text = read.text;
  LineIds const& ids = read.ids;
  LineTime const& time = read.time;
  TraceLine const& line = read.line;
  if (ids.present) lastProcess_ = ids.process;
  if (read.ending != kWholeLine) {
    CountBlockLine(ids);
    HandOnHeld();
    StreamOf(number, ids).AddLine(number, text, read.ending);
    return;
  }
  // Asked of every line: the rare cases stay out of the way inline.
  if (held_.active && Continue(ids, text, line)) return CountBlockLine(ids);
  if (held_.active) HandOnHeld();
  if (ids.present && line.kind == kBadLine) {
    RunLine run;
    EngineLine engine;
    RecorderMark mark;
    if (ReadRunLine(text, run)) return StartRun(number, ids, run);
    if (ReadRecorderMark(text, mark)) return AddMark(number, ids, time, mark);
    CountBlockLine(ids);
    if (ReadEngineLine(text, engine)) return NoteEngine(number, ids, engine);
  } else {
    CountBlockLine(ids);
  }
  if (line.kind == kBadLine && MayContinue(line)) {
    held_.active = true;
    held_.number = number;
    held_.ids = ids;
    held_.time = time;
    held_.text.assign(text);
    held_.continued = 0;
    return;
  }
  (ids.present ? StreamOf(number, ids) : withoutIds_).AddClassified(number, text, kWholeLine, line, 0, time);
}

void TraceReader::Finish() {
  HandOnHeld();
  withoutIds_.Finish();
  for (auto& thread : threads_) thread.second.assembler->Finish();
  last_ = nullptr;
  threads_.clear();
  Release(0, true);
}

bool TraceReader::ReadAll(ChunkSource& source) {
  LineCounts counts;
  bool const read = ReadAhead(source, forms_, summary_.lines, [this](ReadLine const& line) { AddLine(line); }, counts);
  Finish();
  PairHoldsLeftOpen(summary_.timing);
  summary_.lines = counts.lines;
  summary_.bytes += counts.bytes;
  return read;
}

void TraceReader::ReadText(std::string_view text) {
  TextSource source(text);
  ReadAll(source);
}

}  // namespace tools
}  // namespace tolvan

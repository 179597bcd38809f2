#include "tools/trace/trace_reader.h"

#include <algorithm>
#include <vector>

#include "tools/trace/trace_input.h"

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
  waiting_.push_back({record.nodes[0].line, handedOn_++, record});
  std::push_heap(waiting_.begin(), waiting_.end(), std::greater<Waiting>());
}

uint64_t TraceReader::OpenLine() const {
  uint64_t line = withoutIds_.OpenLine();
  for (auto const& thread : threads_) line = std::min(line, thread.second.assembler->OpenLine());
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
      thread = threads_.erase(thread);
    } else {
      ++thread;
    }
  }
}

RecordAssembler& TraceReader::StreamOf(uint64_t number, LineIds const& ids) {
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
  return *found->second.assembler;
}

// A process id seen again in a new run is another process: what its threads
// left open ended with the old one.
void TraceReader::StartRun(uint64_t number, LineIds const& ids, RunLine const& line) {
  for (auto thread = threads_.lower_bound({ids.process, 0});
       thread != threads_.end() && thread->first.first == ids.process;) {
    thread->second.assembler->Finish();
    thread = threads_.erase(thread);
  }
  AddRun(number, ids, line);
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

void TraceReader::AddLine(uint64_t number, std::string_view text, LineEnding ending) {
  AddPhysicalLine(number, text, ending);
  if (!waiting_.empty()) Release(number, false);
}

void TraceReader::AddPhysicalLine(uint64_t number, std::string_view text, LineEnding ending) {
  LineIds const ids = TakeLineIds(text);
  LineTime const time = TakeLineTime(text);
  if (ending != kWholeLine) {
    HandOnHeld();
    StreamOf(number, ids).AddLine(number, text, ending);
    return;
  }
  TraceLine const line = ClassifyLine(forms_, text);
  if (Continue(ids, text, line)) return;
  HandOnHeld();
  if (ids.present && line.kind == kBadLine) {
    RunLine run;
    EngineLine engine;
    if (ReadRunLine(text, run)) return StartRun(number, ids, run);
    if (ReadEngineLine(text, engine)) return NoteEngine(number, ids, engine);
  }
  if (MayContinue(line)) {
    held_.active = true;
    held_.number = number;
    held_.ids = ids;
    held_.time = time;
    held_.text.assign(text);
    held_.continued = 0;
    return;
  }
  StreamOf(number, ids).AddClassified(number, text, ending, line, 0, time);
}

void TraceReader::Finish() {
  HandOnHeld();
  withoutIds_.Finish();
  for (auto& thread : threads_) thread.second.assembler->Finish();
  threads_.clear();
  Release(0, true);
}

bool TraceReader::ReadAll(ChunkSource& source) {
  LineReader lines([this](uint64_t number, std::string_view text, LineEnding ending) { AddLine(number, text, ending); },
                   summary_.lines);
  bool const read = lines.ReadAll(source);
  Finish();
  PairHoldsLeftOpen(summary_.timing);
  summary_.lines = lines.lines();
  summary_.bytes += lines.bytes();
  return read;
}

void TraceReader::ReadText(std::string_view text) {
  TextSource source(text);
  ReadAll(source);
}

}  // namespace tools
}  // namespace tolvan

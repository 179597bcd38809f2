#include "tools/trace/trace_reader.h"

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
  handler_(record);
}

RecordAssembler& TraceReader::StreamOf(LineIds const& ids) {
  if (!ids.present) return withoutIds_;
  std::unique_ptr<RecordAssembler>& stream = threads_[{ids.process, ids.thread}];
  if (!stream) {
    auto const run = runOfProcess_.find(ids.process);
    Stream origin{ids, run == runOfProcess_.end() ? -1 : run->second};
    stream = std::make_unique<RecordAssembler>(forms_, [this](Record const& record) { HandOn(record); }, origin);
  }
  return *stream;
}

// A process id seen again in a new run is another process: what its threads
// left open ended with the old one.
void TraceReader::StartRun(uint64_t number, LineIds const& ids, RunLine const& line) {
  for (auto thread = threads_.lower_bound({ids.process, 0});
       thread != threads_.end() && thread->first.first == ids.process;) {
    thread->second->Finish();
    thread = threads_.erase(thread);
  }
  AddRun(number, ids, line);
}

void TraceReader::AddRun(uint64_t number, LineIds const& ids, RunLine const& line) {
  runOfProcess_[ids.process] = static_cast<int>(summary_.runs.size());
  RunInfo run;
  run.line = number;
  run.process = ids.process;
  run.thread = ids.thread;
  run.date = std::string(line.date);
  run.time = std::string(line.time);
  run.version = std::string(line.version);
  for (std::string_view option : line.options) run.options.emplace_back(option);
  run.host = std::string(line.host);
  summary_.runs.push_back(run);
}

void TraceReader::NoteEngine(uint64_t number, LineIds const& ids, EngineLine const& line) {
  auto const run = runOfProcess_.find(ids.process);
  if (run == runOfProcess_.end()) {
    // The log began after this process's run line: a run known by its engine alone.
    AddRun(0, ids, RunLine());
    return NoteEngine(number, ids, line);
  }
  RunInfo& info = summary_.runs[run->second];
  info.engineLine = number;
  info.engineVersion = std::string(line.version);
  info.enginePath = std::string(line.path);
}

void TraceReader::AddLine(uint64_t number, std::string_view text, LineEnding ending) {
  LineIds const ids = TakeLineIds(text);
  if (ids.present && ending == kWholeLine) {
    RunLine run;
    EngineLine engine;
    if (ReadRunLine(text, run)) return StartRun(number, ids, run);
    if (ReadEngineLine(text, engine)) return NoteEngine(number, ids, engine);
  }
  StreamOf(ids).AddLine(number, text, ending);
}

void TraceReader::Finish() {
  withoutIds_.Finish();
  for (auto& thread : threads_) thread.second->Finish();
  threads_.clear();
}

bool TraceReader::ReadAll(int handle) {
  LineReader lines([this](uint64_t number, std::string_view text, LineEnding ending) { AddLine(number, text, ending); });
  bool const read = lines.ReadAll(handle);
  Finish();
  summary_.lines = lines.lines();
  summary_.bytes = lines.bytes();
  return read;
}

void TraceReader::ReadText(std::string_view text) {
  LineReader lines([this](uint64_t number, std::string_view text, LineEnding ending) { AddLine(number, text, ending); });
  lines.ReadText(text);
  Finish();
  summary_.lines = lines.lines();
  summary_.bytes = lines.bytes();
}

}  // namespace tools
}  // namespace tolvan

#include "tools/trace/trace_timing.h"

#include <algorithm>

#include "tools/trace/trace_print.h"
#include "tools/trace/trace_summary.h"

namespace tolvan {
namespace tools {

namespace {

int const kExactBelow = 128;
int const kSubBuckets = 64;  // to each power of two from 128 on
size_t const kBuckets = kExactBelow + (64 - 7) * kSubBuckets;
size_t const kListedSlowest = kSlowestKept;
size_t const kListedHolds = 10;  // of each table in the text
size_t const kListedContention = 50;

size_t BucketOf(uint64_t value) {
  if (value < static_cast<uint64_t>(kExactBelow)) return static_cast<size_t>(value);
  // The highest bit set, by halves: every timed call lands here.
  int power = 0;
  for (int half = 32; half > 0; half /= 2) {
    if (value >> (power + half)) power += half;
  }
  size_t const sub = static_cast<size_t>(value >> (power - 6)) & (kSubBuckets - 1);
  return kExactBelow + static_cast<size_t>(power - 7) * kSubBuckets + sub;
}

// The middle of a bucket: within half a bucket, 1/128 of its values, of any of them.
uint64_t MiddleOf(size_t bucket) {
  if (bucket < static_cast<size_t>(kExactBelow)) return bucket;
  int const power = static_cast<int>((bucket - kExactBelow) / kSubBuckets) + 7;
  uint64_t const sub = (bucket - kExactBelow) % kSubBuckets;
  uint64_t const width = uint64_t{1} << (power - 6);
  return (uint64_t{1} << power) + sub * width + width / 2;
}

int64_t EndOf(Node const& node) { return node.resultTime >= 0 ? node.resultTime : node.time; }

bool Inside(Hold const& hold, int64_t time) {
  bool const stillHeld = hold.endLine == 0;
  return hold.start >= 0 && time >= hold.start && (stillHeld || time <= hold.end);
}

void AddContention(TimingFigures& timing, TimingFigures::RecentHold const& hold,
                   TimingFigures::Attempt const& attempt) {
  ++timing.contentionCount;
  if (timing.contention.size() == kKeptContention) return;
  Contention entry;
  entry.table = hold.table;
  entry.holderPid = hold.hold.pid;
  entry.holderLine = hold.hold.startLine;
  entry.waiterPid = attempt.pid;
  entry.waiterLine = attempt.line;
  entry.waiterRun = attempt.run;
  entry.time = attempt.time;
  entry.duration = attempt.duration;
  entry.outcome = attempt.outcome;
  timing.contention.push_back(std::move(entry));
}

// Another process's hold on a table of the same name, on the same computer:
// the clocks of different computers are never compared.
bool Contends(TimingFigures::RecentHold const& hold, TimingFigures::Attempt const& attempt) {
  return hold.hold.pid != attempt.pid && !hold.table.empty() && hold.table.text == attempt.table.text &&
         hold.table.size == attempt.table.size && hold.computer == attempt.computer && Inside(hold.hold, attempt.time);
}

template <typename Entry>
Entry* InRing(std::vector<Entry>& ring, size_t size, uint64_t serial) {
  if (!serial || ring.size() < size) {
    return serial && serial <= ring.size() ? &ring[serial - 1] : nullptr;
  }
  Entry& entry = ring[(serial - 1) % size];
  return entry.serial == serial ? &entry : nullptr;
}

template <typename Entry>
Entry& NextInRing(std::vector<Entry>& ring, size_t size, uint64_t serial) {
  if (ring.size() < size) {
    ring.emplace_back();
    return ring.back();
  }
  return ring[(serial - 1) % size] = Entry();
}

// A record is handed on with its last line: an open of another process
// inside a Pack may have come first, and so may, in a log read earlier, one
// of the same computer.
void PairWithEarlier(TimingFigures& timing, TimingFigures::RecentHold& hold) {
  if (hold.pairedWithEarlier) return;
  hold.pairedWithEarlier = true;
  for (TimingFigures::Attempt const& attempt : timing.recentAttempts) {
    if (attempt.line && attempt.serial <= hold.attemptsBefore && Contends(hold, attempt)) {
      AddContention(timing, hold, attempt);
    }
  }
}

void StartHold(Summary& summary, TableTally& table, Hold const& hold, bool open) {
  TimingFigures& timing = summary.timing;
  TableHolds& holds = table.holds;
  ++holds.count;
  if (holds.kept.size() < kKeptHolds) holds.kept.push_back(hold);
  uint64_t const serial = ++timing.holdSerial;
  if (open) holds.openHold = serial;
  TimingFigures::RecentHold& recent = NextInRing(timing.recentHolds, kRecentHolds, serial);
  recent.serial = serial;
  recent.table = table.name;
  recent.computer = ComputerKey(summary, hold.run);
  recent.hold = hold;
  recent.hold.kind = open ? "open" : hold.kind;
  recent.attemptsBefore = timing.attemptSerial;
  if (!open) PairWithEarlier(timing, recent);
}

void EndHold(TableTally& table, TimingFigures& timing, Node const& node) {
  TableHolds& holds = table.holds;
  if (!holds.openHold) return;
  for (Hold& hold : holds.kept) {
    if (hold.endLine == 0 && !std::string_view(hold.kind).compare("open")) {
      hold.end = EndOf(node);
      hold.endLine = node.line;
    }
  }
  if (TimingFigures::RecentHold* const recent = InRing(timing.recentHolds, kRecentHolds, holds.openHold)) {
    recent->hold.end = EndOf(node);
    recent->hold.endLine = node.line;
    PairWithEarlier(timing, *recent);
  }
  holds.openHold = 0;
}

void Attempted(Summary& summary, TableTally const& table, Record const& record, Node const& node,
               ContentionOutcome outcome) {
  TimingFigures& timing = summary.timing;
  if (node.time < 0 || table.name.empty()) return;
  uint64_t const serial = ++timing.attemptSerial;
  TimingFigures::Attempt& attempt = NextInRing(timing.recentAttempts, kRecentAttempts, serial);
  attempt.serial = serial;
  attempt.table = table.name;
  attempt.computer = ComputerKey(summary, record.stream.run);
  attempt.pid = record.stream.ids.process;
  attempt.run = record.stream.run;
  attempt.line = node.line;
  attempt.time = node.time;
  attempt.duration = node.duration;
  attempt.outcome = outcome;
  for (TimingFigures::RecentHold const& hold : timing.recentHolds) {
    if (hold.serial && Contends(hold, attempt)) AddContention(timing, hold, attempt);
  }
}

}  // namespace

void PairHoldsLeftOpen(TimingFigures& timing) {
  for (TimingFigures::RecentHold& hold : timing.recentHolds) {
    if (hold.serial) PairWithEarlier(timing, hold);
  }
}

namespace {

void ConsiderSlow(Summary& summary, Record const& record, Node const& node, CallBrief const& brief) {
  TimingFigures& timing = summary.timing;
  auto const slower = [](SlowCall const& call, int64_t duration) { return call.call.duration >= duration; };
  auto const at = std::lower_bound(timing.slowest.begin(), timing.slowest.end(), brief.duration, slower);
  if (at == timing.slowest.end() && timing.slowest.size() == kSlowestKept) return;
  SlowCall call;
  call.call = brief;
  call.run = record.stream.run;
  call.object = std::string(record.TextOf(node.object).substr(0, kShownText));
  if (TableTally const* const table = FindTable(summary, record.TextOf(node.object), record.stream.run)) {
    call.table = table->name;
  }
  // The calls just before it in the log, of whatever writer.
  for (CallBrief const& recent : timing.recent) {
    if (recent.line && recent.line < brief.line) call.before.push_back(recent);
  }
  std::sort(call.before.begin(), call.before.end(),
            [](CallBrief const& a, CallBrief const& b) { return a.line < b.line; });
  if (call.before.size() > kContextCalls) call.before.erase(call.before.begin(), call.before.end() - kContextCalls);
  timing.slowest.insert(at, std::move(call));
  if (timing.slowest.size() > kSlowestKept) timing.slowest.pop_back();
}

char const* EscalationKind(int op) { return op == kTable_Pack ? "Pack" : op == kTable_ReIndex ? "ReIndex" : "Clear"; }

void PutTime(std::string& out, int64_t micros, std::string_view date) {
  if (micros < 0) {
    out += "-";
    return;
  }
  out += TimeText(micros, date);
}

void PutJsonTime(JsonObject& json, char const* key, int64_t micros, std::string_view date) {
  if (micros < 0) {
    json.Key(key) += "null";
  } else {
    json.String(key, TimeText(micros, date));
  }
}

char const* ReasonOf(OpenCall const& call) { return call.endedWithLog ? "still running" : "exception"; }

void PutWriter(std::string& out, LineIds const& ids) {
  if (!ids.present) return;
  out += "  process ";
  AppendNumber(out, ids.process);
  out += " thread ";
  AppendNumber(out, ids.thread);
}

}  // namespace

void LatencyHistogram::Add(uint64_t micros) {
  if (buckets_.empty()) buckets_.resize(kBuckets);
  ++buckets_[BucketOf(micros)];
  ++count;
  total += micros;
  max = std::max(max, micros);
  min = count == 1 ? micros : std::min(min, micros);
}

uint64_t LatencyHistogram::Percentile(unsigned percent) const {
  if (!count) return 0;
  uint64_t const rank = (count * percent + 99) / 100;
  uint64_t seen = 0;
  for (size_t bucket = 0; bucket < buckets_.size(); ++bucket) {
    seen += buckets_[bucket];
    // The extremes are known exactly: a rank in their bucket gives them.
    if (seen >= rank && bucket == BucketOf(max)) return max;
    if (seen >= rank) return bucket == BucketOf(min) ? min : MiddleOf(bucket);
  }
  return max;
}

char const* ContentionOutcomeName(ContentionOutcome outcome) {
  switch (outcome) {
    case kContentionFailed: return "failed";
    case kContentionRefused: return "refused";
    case kContentionWaited: return "waited";
  }
  return "";
}

std::string TimeText(int64_t micros, std::string_view date) {
  std::string text(date.substr(0, 32));
  if (!text.empty()) text += ' ';
  AppendTimeOfDay(text, micros);
  return text;
}

std::string_view RunDate(Summary const& summary, int run) {
  return run >= 0 && static_cast<size_t>(run) < summary.runs.size() ? std::string_view(summary.runs[run].date.text)
                                                                      : std::string_view();
}

void CountTiming(Summary& summary, OperationForms const& forms, Record const& record, int index,
                 PolicyOutcome outcome, TableTally* table) {
  Node const& node = record.nodes[index];
  TimingFigures& timing = summary.timing;
  if (node.time >= 0) timing.timed = true;
  bool const host = node.parent < 0;
  if (host && node.status == kCompleted) {
    CallBrief const brief{node.line, node.op, record.stream.ids, node.time, node.duration};
    if (node.duration >= 0) {
      if (timing.latency.empty()) timing.latency.resize(kOperationCount);
      std::unique_ptr<LatencyHistogram>& latency = timing.latency[node.op];
      if (!latency) latency = std::make_unique<LatencyHistogram>();
      latency->Add(static_cast<uint64_t>(node.duration));
      ConsiderSlow(summary, record, node, brief);
    } else {
      timing.untimedCalls = true;
    }
    timing.recent[timing.recentNext] = brief;
    timing.recentNext = (timing.recentNext + 1) % timing.recent.size();
  }
  if (!table || !host || node.status != kCompleted) return;
  bool const escalation = node.op == kTable_Pack || node.op == kTable_ReIndex || node.op == kTable_Clear;
  Hold hold;
  hold.pid = record.stream.ids.process;
  hold.run = record.stream.run;
  hold.start = node.time;
  hold.startLine = node.line;
  if (node.op == kTable_OpenAccess) {
    bool const granted = ResultItemOf(forms, record, node) != "0";
    if (outcome == kLeftAsAsked && granted) {
      hold.kind = "open";
      StartHold(summary, *table, hold, true);
    } else if (!granted) {
      Attempted(summary, *table, record, node, kContentionFailed);
    } else if (node.duration >= 0 && static_cast<uint64_t>(node.duration) > timing.slowMicros) {
      Attempted(summary, *table, record, node, kContentionWaited);
    }
  } else if (node.op == kTable_CloseAccess) {
    EndHold(*table, timing, node);
  } else if (escalation && outcome == kEscalated) {
    hold.kind = EscalationKind(node.op);
    hold.end = EndOf(node);
    hold.endLine = node.resultLine;
    StartHold(summary, *table, hold, false);
  } else if (escalation && outcome == kExclusiveRefused) {
    Attempted(summary, *table, record, node, kContentionRefused);
  }
}

void PrintTiming(std::string& out, Summary const& summary, OperationForms const& forms) {
  TimingFigures const& timing = summary.timing;
  if (!timing.timed) {
    out += "\nTime\n  The log has no times (Tolvan32_TraceTime=1 writes them): no latency and no slowest calls;\n"
           "  holds are given in line numbers, and contention across processes is left out, since lines of\n"
           "  different processes cannot be ordered in time without them.\n";
  } else {
    out += "\nLatency per operation (the host's calls, microseconds; percentiles within 1%)\n";
    out += "     calls       total      median         p95         max  operation\n";
    for (size_t const op : OperationsByCalls(summary)) {
      if (timing.latency.empty() || !timing.latency[op]) continue;
      LatencyHistogram const& latency = *timing.latency[op];
      AppendPadded(out, latency.count, 10);
      for (uint64_t value : {latency.total, latency.Percentile(50), latency.Percentile(95), latency.max}) {
        AppendPadded(out, value, 12);
      }
      out += "  ";
      out += forms.forms[op].signature;
      out += '\n';
    }
    out += "\nThe slowest calls\n";
    for (size_t i = 0; i < timing.slowest.size() && i < kListedSlowest; ++i) {
      SlowCall const& call = timing.slowest[i];
      AppendPadded(out, static_cast<uint64_t>(call.call.duration), 10);
      out += " us  line ";
      AppendNumber(out, call.call.line);
      out += ' ';
      PutTime(out, call.call.time, {});
      out += "  ";
      out += forms.forms[call.call.op].signature;
      out += ' ';
      AppendVisible(out, call.object);
      if (!call.table.empty()) {
        out += ' ';
        AppendVisible(out, call.table);
      }
      PutWriter(out, call.call.ids);
      out += '\n';
      for (CallBrief const& before : call.before) {
        out += "                after line ";
        AppendNumber(out, before.line);
        out += ' ';
        out += forms.forms[before.op].signature;
        PutWriter(out, before.ids);
        out += '\n';
      }
    }
  }
  if (summary.paired.withoutResult) {
    out += "\nCalls without result: time and why\n";
    for (size_t i = 0; i < summary.paired.openCalls.size() && i < kListedSlowest; ++i) {
      OpenCall const& call = summary.paired.openCalls[i];
      out += "    line ";
      AppendNumber(out, call.line);
      out += ' ';
      PutTime(out, call.time, RunDate(summary, call.run));
      out += "  ";
      out += forms.forms[call.op].signature;
      PutWriter(out, call.ids);
      // A recorder log ends each process's lines at every block's end.
      out += !call.endedWithLog          ? "  left by an exception (its thread went on)\n"
             : summary.recorder.blocks
                 ? "  no result line in its recorder block (still running, or left by an engine exception)\n"
                                       : "  still running when the log ends (no later line of its thread)\n";
    }
  }
  bool anyHolds = false;
  for (TableTally const& table : summary.tables) anyHolds = anyHolds || table.holds.count;
  if (!anyHolds) return;
  out += "\nExclusive holds per table (an exclusive open left as asked, until its close; Pack, ReIndex, Clear)\n";
  for (TableTally const& table : summary.tables) {
    if (!table.holds.count) continue;
    out += "  ";
    AppendVisible(out, table.name.empty() ? KeptText(table.address) : table.name);
    out += " (";
    out += table.address;
    out += ")\n";
    for (size_t i = 0; i < table.holds.kept.size() && i < kListedHolds; ++i) {
      Hold const& hold = table.holds.kept[i];
      out += "    ";
      out += hold.kind;
      out += " by process ";
      AppendNumber(out, hold.pid);
      out += ", lines ";
      AppendNumber(out, hold.startLine);
      out += '-';
      if (hold.endLine) AppendNumber(out, hold.endLine);
      out += hold.endLine ? "" : "(still held when the log ends)";
      if (hold.start >= 0) {
        out += ", ";
        PutTime(out, hold.start, {});
        out += " to ";
        if (hold.endLine) PutTime(out, hold.end, {});
      }
      out += '\n';
    }
    PutMore(out, table.holds.count - std::min<uint64_t>(table.holds.count, kListedHolds), "more holds");
  }
  if (!timing.timed) return;
  out += "\nContention: another process's open failed, was refused, or waited over ";
  AppendNumber(out, timing.slowMicros / 1000);
  out += " ms inside a hold\n";
  if (!timing.contentionCount) out += "                none\n";
  for (size_t i = 0; i < timing.contention.size() && i < kListedContention; ++i) {
    Contention const& c = timing.contention[i];
    out += "    ";
    AppendVisible(out, c.table);
    out += ": process ";
    AppendNumber(out, c.waiterPid);
    out += " line ";
    AppendNumber(out, c.waiterLine);
    out += ' ';
    out += ContentionOutcomeName(c.outcome);
    out += " at ";
    PutTime(out, c.time, {});
    out += " while process ";
    AppendNumber(out, c.holderPid);
    out += " held it from line ";
    AppendNumber(out, c.holderLine);
    out += '\n';
  }
  PutMore(out, timing.contentionCount - std::min<uint64_t>(timing.contentionCount, kListedContention), "more");
}

void PutLatencyJson(JsonObject& operation, Summary const& summary, int op) {
  TimingFigures const& timing = summary.timing;
  if (timing.latency.empty() || !timing.latency[op]) {
    operation.Key("latency_us") += "null";
    return;
  }
  LatencyHistogram const& latency = *timing.latency[op];
  JsonObject figures(operation.Key("latency_us"));
  figures.Number("count", latency.count);
  figures.Number("total", latency.total);
  figures.Number("p50", latency.Percentile(50));
  figures.Number("p95", latency.Percentile(95));
  figures.Number("max", latency.max);
}

void PutHoldsJson(JsonObject& table, Summary const& summary, TableTally const& tally) {
  std::string& out = table.Key("holds");
  std::string_view const date = RunDate(summary, tally.run);
  PutJsonArray(out, tally.holds.kept, [&](Hold const& hold) {
    JsonObject entry(out);
    entry.Number("pid", hold.pid);
    PutJsonTime(entry, "start", hold.start, date);
    PutJsonTime(entry, "end", hold.endLine ? hold.end : -1, date);
    entry.Number("start_line", hold.startLine);
    if (hold.endLine) {
      entry.Number("end_line", hold.endLine);
    } else {
      entry.Key("end_line") += "null";
    }
    entry.String("kind", hold.kind);
  });
  table.Number("holds_more", tally.holds.count - tally.holds.kept.size());
}

void PutTimingJson(JsonObject& json, Summary const& summary, OperationForms const& forms) {
  TimingFigures const& timing = summary.timing;
  std::string& out = json.Key("timed");
  out += timing.timed ? "true" : "false";
  json.Number("slow_ms", timing.slowMicros / 1000);
  PutJsonArray(json.Key("slowest"), timing.slowest, [&](SlowCall const& call) {
    JsonObject entry(out);
    entry.Number("line", call.call.line);
    PutJsonTime(entry, "time", call.call.time, RunDate(summary, call.run));
    entry.Number("pid", call.call.ids.process);
    entry.Number("tid", call.call.ids.thread);
    entry.String("operation", forms.forms[call.call.op].signature);
    entry.String("object", call.object);
    entry.String("table", call.table);
    entry.Number("duration_us", static_cast<uint64_t>(call.call.duration));
    PutJsonArray(entry.Key("before"), call.before, [&](CallBrief const& before) {
      JsonObject brief(out);
      brief.Number("line", before.line);
      brief.Number("pid", before.ids.process);
      brief.Number("tid", before.ids.thread);
      brief.String("operation", forms.forms[before.op].signature);
      if (before.duration >= 0) brief.Number("duration_us", static_cast<uint64_t>(before.duration));
    });
  });
  PairingFigures const& paired = summary.paired;
  PutJsonArray(json.Key("without_result"), paired.openCalls, [&](OpenCall const& call) {
    JsonObject entry(out);
    entry.Number("line", call.line);
    PutJsonTime(entry, "time", call.time, RunDate(summary, call.run));
    entry.Number("pid", call.ids.process);
    entry.Number("tid", call.ids.thread);
    entry.String("operation", forms.forms[call.op].signature);
    entry.String("reason", ReasonOf(call));
  });
  json.Number("without_result_more", paired.withoutResult - paired.openCalls.size());
  if (!timing.timed) {
    json.Key("contention") += "null";
    json.String("contention_note",
                "the log has no times: lines of different processes cannot be ordered in time, so contention "
                "is left out");
    return;
  }
  PutJsonArray(json.Key("contention"), timing.contention, [&](Contention const& c) {
    JsonObject entry(out);
    entry.String("table", c.table);
    entry.Number("holder_pid", c.holderPid);
    entry.Number("holder_line", c.holderLine);
    entry.Number("waiter_pid", c.waiterPid);
    entry.Number("waiter_line", c.waiterLine);
    PutJsonTime(entry, "time", c.time, RunDate(summary, c.waiterRun));
    if (c.duration >= 0) entry.Number("duration_us", static_cast<uint64_t>(c.duration));
    entry.String("outcome", ContentionOutcomeName(c.outcome));
  });
  json.Number("contention_more", timing.contentionCount - timing.contention.size());
}

}  // namespace tools
}  // namespace tolvan

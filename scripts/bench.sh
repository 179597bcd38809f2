#!/usr/bin/env bash
# Measures what the module costs (by hand, not part of the tests): a Release
# host build with the benchmarks, one run of them with each measurement beside
# its baseline, and instruction counts under callgrind. Results:
#   $TOLVAN_BUILD/bench/results.json   Google Benchmark's own record
#   $TOLVAN_BUILD/bench/summary.txt    the ratios
#   $TOLVAN_BUILD/bench/reader.txt     the trace reader beside grep
# "bash scripts/bench.sh reader" measures the trace reader alone.
source "$(dirname "$0")/lib.sh"
set -e
out="$TOLVAN_BUILD/bench"
mkdir -p "$out"

# The trace reader on generated logs of 1 GiB (TOLVAN_BENCH_LOG_MIB), every
# kind of line the module writes, plain and with ids and time, beside
# "grep -c ." on the same file: wall time and peak memory of each, the file
# read once before from the page cache; summary and report against grep,
# records against summary. grep writes to a file: to /dev/null it would stop
# at the first line.
# The timed log is read once more compressed by gzip, beside gzip -dc | grep.
bench_reader() {
  ensure_packages cmake make g++ python3 time
  build_trace_reader
  local reader="$TOLVAN_BUILD/reader/tools/tolvan32-trace" log="$out/bench-trace.log" timed="$out/bench-trace-timed.log"
  python3 - "$log" "$timed" "${TOLVAN_BENCH_LOG_MIB:-1024}" <<'PY'
import sys
plain, timed, mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
R = " " * 16
T = " 00a41230 "
block = [
    " 00a40000 CDataDictionary::GetTable(char const *) KUNDEN ", R + "00a41230 ",
    T + "CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl) 2 1 ", T + "CTable::CloseAccess(enum SafetyCtl) 1 ",
    R + "1 ( 5 ) ", R + "1 ( 5 ) ",
    T + "CTable::Pack(void) ", T + "CTable::CloseAccess(enum SafetyCtl) 2 ", R + "1 ( 5 ) ",
    T + "CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl) 2 1 ", R + "1 ( 5 ) ",
    T + "CTable::CloseAccess(enum SafetyCtl) 1 ", R + "1 ( 5 ) ",
    T + "CTable::OpenAccess(enum ShareModeCtl,enum SafetyCtl) 1 1 ", R + "1 ( 5 ) ", R + "1 ( 5 ) ",
    T + "CTable::BeginReadSequence(void) ", T + "CTable::PutTLock(enum TLockModeCtl) 2 ", R + "1 ( 5 ) ", R + "1 ( 5 ) ",
    " 00a41300 CStoreObj::GetRecAddr(void) ", R + "00a41400 ( 0 ) ",
    " 00a41500 CRecAddr::CRecAddr(class CRecAddr const &) 00a41400 ", R + "00a41500 ",
    " 00a41400 CRecAddr::~CRecAddr(void) ",
    " 00a41300 CStoreObj::Goto(class CRecAddr const &,int) 00a41500 0 ", R + "1 ( 0 : 0 : 0 ) ",
    " 00a41300 CStoreObj::FX_Double(char const *,double &,int) PRICE 0.5 1 ",
    " 00a41300 CStoreObj::FX_Int(int,int &,int) 3 17 0 ",
    " 00a41300 CStoreObj::GetRelPosition(void) ", R + "( 0 ) ",
    T + "CTable::IsOpen(void) ", R + "1 ( 5 ) ",
]
def write(path, lines):
    text = "".join(line + "\r\n" for line in lines).encode()
    with open(path, "wb") as f:
        for _ in range(mib * 1024 * 1024 // len(text)):
            f.write(text)
write(plain, block)
# The same with ids and time, as Tolvan32_TraceTime=1 writes it.
timed_block = []
for line in block:
    duration = line.startswith(R) or ("FX_" in line and line.endswith(" 0 "))
    timed_block.append(" [1234:5678] @10:22:31.123456" + (" +1234us" if duration else "") + line)
write(timed, timed_block)
PY
  measure() {  # label, command...
    local label=$1
    shift
    /usr/bin/time -f "%e %M" -o "$out/time.txt" "$@" >/dev/null 2>&1 || true
    read -r seconds kib < <(tail -n 1 "$out/time.txt")
    printf '%s %s %s\n' "$label" "$seconds" "$kib"
  }
  # The machine is shared: each command runs right after grep on the same
  # file, five rounds, and the best time of each counts. The reader runs on
  # two threads, so it feels a busy second processor more than grep does.
  local round kind file
  for round in 1 2 3 4 5; do
    for kind in plain timed; do
      file=$log
      [ "$kind" = plain ] || file=$timed
      cat "$file" >/dev/null
      measure "grep-$kind" sh -c "grep -c . '$file' >'$out/grep.txt'"
      measure "summary-$kind" "$reader" summary "$file"
      measure "summary-json-$kind" "$reader" summary --json "$file"
      measure "report-$kind" "$reader" report --html "$out/bench-report.html" "$file"
      measure "records-$kind" "$reader" records "$file"
    done
    # The timed log compressed, read through zlib, beside gzip -dc piped to grep.
    [ -f "$timed.gz" ] || gzip -1 -c "$timed" >"$timed.gz"
    measure zcat-grep-timed sh -c "gzip -dc '$timed.gz' | grep -c . >'$out/grep.txt'"
    measure summary-timed-gz "$reader" summary "$timed.gz"
  done >"$out/reader-times.txt"
  python3 - "$out/reader-times.txt" "$out/reader.txt" "$(stat -c %s "$log")" <<'PY'
import sys
rows = {}
for line in open(sys.argv[1]):
    label, seconds, kib = line.split()
    best, peak = rows.get(label, (float("inf"), 0))
    rows[label] = (min(best, float(seconds)), max(peak, int(kib)))
size = int(sys.argv[3]) / (1 << 30)
lines = []
for kind in ("plain", "timed"):
    g, gk = rows["grep-" + kind]
    lines.append(f"{kind} log of {size:.2f} GiB, best of 5: grep -c . {g:.2f} s, peak memory {gk / 1024:.1f} MiB")
    for label, base, target in (("summary", "grep", 3), ("summary-json", "grep", 3), ("report", "grep", None),
                                ("records", "summary", 2)):
        s, k = rows[f"{label}-{kind}"]
        b = rows[f"{base}-{kind}"][0]
        goal = f" (target <= {target}x)" if target else ""
        lines.append(f"  {label:<13} {s:6.2f} s = {s / b:.2f}x {base}{goal}; peak memory {k / 1024:.1f} MiB")
s, k = rows["summary-timed-gz"]
g = rows["zcat-grep-timed"][0]
lines.append(f"timed log gzipped: summary {s:.2f} s beside gzip -dc | grep -c . {g:.2f} s = {s / g:.2f}x; "
             f"peak memory {k / 1024:.1f} MiB")
text = "\n".join(lines) + "\n"
open(sys.argv[2], "w").write(text)
sys.stdout.write(text)
PY
  rm -f "$log" "$timed" "$timed.gz"
}

if [ "${1:-}" = reader ]; then
  bench_reader
  exit 0
fi

ensure_packages cmake make g++ libgtest-dev libbenchmark-dev valgrind python3
build_host bench Release -DTOLVAN_BENCH=ON

# Repetitions of the measurements are interleaved, so that a busy moment of
# the machine falls on measurement and baseline alike.
"$out/tests/bench/tolvan_bench" --benchmark_repetitions="${TOLVAN_BENCH_REPETITIONS:-10}" \
  --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_out="$out/results.json" --benchmark_out_format=json

# Instructions per call: two run lengths, so that start-up cancels out.
count() {
  local mode=$1 calls=$2 file="$out/callgrind.$1.$2"
  valgrind --tool=callgrind --callgrind-out-file="$file" "$out/tests/bench/tolvan_call_count" "$mode" "$calls" \
    >/dev/null 2>&1
  sed -nE 's/^(summary|totals): ([0-9]+).*/\2/p' "$file" | head -n 1
}
small=100000
large=200000
forwarded_small=$(count forwarded $small)
forwarded_large=$(count forwarded $large)
direct_small=$(count direct $small)
direct_large=$(count direct $large)
items_small=10000
items_large=20000
item_small=$(count item $items_small)
item_large=$(count item $items_large)
bare_small=$(count bare $items_small)
bare_large=$(count bare $items_large)

python3 - "$out/results.json" "$out/summary.txt" "$forwarded_small" "$forwarded_large" "$direct_small" \
  "$direct_large" "$small" "$large" "$item_small" "$item_large" "$bare_small" "$bare_large" "$items_small" \
  "$items_large" <<'PY'
import json, sys
results, summary_path = sys.argv[1], sys.argv[2]
fs, fl, ds, dl, small, large, its, itl, bs, bl, ismall, ilarge = (int(v) for v in sys.argv[3:15])
runs = json.load(open(results))
median = {}
counters = {}
for b in runs["benchmarks"]:
    name = b.get("run_name", b["name"])
    if b.get("aggregate_name") != "median":
        continue
    median[name] = b["real_time"]
    if "opens_per_call" in b:
        counters["opens_per_call"] = b["opens_per_call"]
    for key in ("heap_before", "heap_after", "heap_highest", "heap_after_detach"):
        if key in b:
            counters[key] = b[key]
def ns(name):
    return median[name]
lines = []
def pair(title, measured, baseline, target):
    m, b = ns(measured), ns(baseline)
    lines.append(f"{title}: {m:.2f} ns vs {b:.2f} ns = {m / b:.3f}x ({m - b:+.2f} ns); target {target}")
pair("forwarded call, tracing off / direct engine call", "ForwardedCallTracingOff", "DirectEngineCall",
     "<= 1.2x or <= 1 ns extra")
pair("one trace item / bare file work of the item", "OneTraceItem", "BareFileWorkOfOneItem", "<= 1.05x")
lines.append(f"traced call (worked example): {counters['opens_per_call']:.0f} file opens, "
             f"{ns('TracedCallWorkedExample') / 1000:.1f} us")
recorded, traced = ns("RecordedCallWorkedExample"), ns("TracedCallWorkedExample")
lines.append(f"recorded call (worked example, Tolvan32_Recorder=1000): {recorded:.1f} ns, "
             f"{traced / recorded:.0f}x cheaper than the traced call ({traced / 1000:.1f} us), "
             f"untraced {ns('ForwardedCallTracingOff'):.2f} ns; target <= 1 us and <= 1/20 of the traced call")
timed, untimed = ns("TimedTracedCallWithoutFileWork"), ns("TracedCallWithoutFileWork")
lines.append(f"time items per line, file work excluded: {(timed - untimed) / 2:+.1f} ns "
             f"(a traced call of two lines without files: {timed:.1f} ns with time, {untimed:.1f} ns without); "
             "target <= 100 ns")
per_forwarded = (fl - fs) / (large - small)
per_direct = (dl - ds) / (large - small)
lines.append(f"instructions per call (callgrind): forwarded {per_forwarded:.1f}, direct {per_direct:.1f}, "
             f"ratio {per_forwarded / per_direct:.2f}x ({per_forwarded - per_direct:+.1f} instructions)")
per_item = (itl - its) / (ilarge - ismall)
per_bare = (bl - bs) / (ilarge - ismall)
lines.append(f"instructions per trace item (callgrind, user space only): module {per_item:.0f}, bare file work "
             f"{per_bare:.0f}, ratio {per_item / per_bare:.3f}x")
lines.append("module heap over 10^6 calls (bytes): before {heap_before:.0f}, after {heap_after:.0f}, "
             "highest {heap_highest:.0f}, after detach {heap_after_detach:.0f}".format(**counters))
text = "\n".join(lines) + "\n"
open(summary_path, "w").write(text)
sys.stdout.write(text)
PY
bench_reader
log "results in $out/results.json, $out/summary.txt and $out/reader.txt"

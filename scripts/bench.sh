#!/usr/bin/env bash
# Measures what the module costs (by hand, not part of the tests): a Release
# host build with the benchmarks, one run of them with each measurement beside
# its baseline, and instruction counts under callgrind. Results:
#   $TOLVAN_BUILD/bench/results.json   Google Benchmark's own record
#   $TOLVAN_BUILD/bench/summary.txt    the ratios
source "$(dirname "$0")/lib.sh"
set -e
ensure_packages cmake make g++ libgtest-dev libbenchmark-dev valgrind python3
build_host bench Release -DTOLVAN_BENCH=ON
out="$TOLVAN_BUILD/bench"
mkdir -p "$out"

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
log "results in $out/results.json and $out/summary.txt"

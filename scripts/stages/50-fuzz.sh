#!/usr/bin/env bash
# The fuzz targets (tests/fuzz), built with clang and libFuzzer, each run for a
# fixed time from its seed and regression inputs (tests/fuzz/corpus/<target>).
# A crash, a sanitizer report or a disagreement with a target's reference fails
# the stage. Longer runs by hand:
#   TOLVAN_FUZZ_SECONDS=600 bash scripts/stages/50-fuzz.sh
source "$(dirname "$0")/../lib.sh"
set -e
ensure_packages cmake make clang libclang-rt-14-dev libgtest-dev
build="$TOLVAN_BUILD/fuzz"
cmake -S "$TOLVAN_ROOT" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >&2
cmake --build "$build" -j "$TOLVAN_JOBS" --target tolvan_fuzzers >&2

seconds=${TOLVAN_FUZZ_SECONDS:-10}
passed=0
failed=0
for target in fuzz_options fuzz_item_formats fuzz_trace_writer fuzz_field_values fuzz_names fuzz_trace_reader; do
  seeds="$TOLVAN_ROOT/tests/fuzz/corpus/$target"
  work="$build/corpus/$target"  # what a run finds stays in the build
  mkdir -p "$work" "$build/findings"
  log "fuzzing $target for ${seconds}s"
  if (cd "$build/findings" && "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 "$work" "$seeds") >"$build/$target.log" 2>&1; then
    passed=$((passed + 1))
    grep -E '^(Done|stat::number_of_executed_units)' "$build/$target.log" || true
  else
    failed=$((failed + 1))
    tail -n 40 "$build/$target.log"
    log "$target failed; the input is in $build/findings"
  fi
done
printf 'fuzz: %d passed, %d failed\n' "$passed" "$failed"
[ "$failed" -eq 0 ]

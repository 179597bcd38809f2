#!/usr/bin/env bash
# The tools for the people who deploy the module, in their Windows builds
# under Wine:
#   tolvan32-check against a complete engine, one that lacks an entry, a
#   missing engine and two wrong installations;
#   tolvan32-trace reading real trace logs (those of the end-to-end
#   scenarios, and a damaged one from the host tests) exactly as its host
#   build reads them, understanding every line the product wrote.
# Ends with "N passed, N failed".
source "$(dirname "$0")/../lib.sh"
set -e
build_product
build_host host Debug
# From here on every step is counted, none ends the stage.
set +e

runner=${WINE32_RUN:-$TOLVAN_ROOT/../shared/tools/wine32-run}
[ -x "$runner" ] || { echo "FAIL no wine32-run at $runner (set WINE32_RUN)"; echo "0 passed, 1 failed"; exit 1; }
readobj=$(command -v llvm-readobj-16 || command -v llvm-readobj)
build=$(cd "$TOLVAN_BUILD" && pwd)
product=$build/product
check_exe=$product/tools/tolvan32-check.exe
trace_exe=$product/tools/tolvan32-trace.exe
host_trace=$build/host/tools/tolvan32-trace
# The same Wine prefix as the end-to-end stage: made once, used by both.
export WINE32_RUN_PREFIX=${WINE32_RUN_PREFIX:-$build/e2e-wine}
work=$build/tools-check
rm -rf "$work"
mkdir -p "$work"
trap '"$runner" --stop >/dev/null 2>&1 || true' EXIT

passed=0 failed=0
report() {  # name, then the command that must succeed
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "ok   $name"; else failed=$((failed + 1)); echo "FAIL $name"; fi
}
windows_path() { local path=$1; printf 'Z:%s' "${path//\//\\}"; }
# wine FOLDER PROGRAM ARGS...: runs a Windows program in FOLDER; its output
# (CR LF turned into LF) goes to $out, its exit status to $status.
wine() {
  local folder=$1; shift
  status=0
  out=$(cd "$folder" && "$runner" "$@" 2>&1 </dev/null) || status=$?
  out=$(tr -d '\r' <<<"$out")
}

# --- tolvan32-check -------------------------------------------------------------
e2e=$product/tests/e2e
if [ -f "$e2e/engine/Tolvan33.dll" ] && [ -f "$e2e/engine-missing-entry/Tolvan33.dll" ] && [ -f "$e2e/Ravix32.dll" ]; then
  engine=$e2e/engine/Tolvan33.dll incomplete=$e2e/engine-missing-entry/Tolvan33.dll ravix=$e2e/Ravix32.dll
  echo "== engines: the end-to-end stand-ins"
else
  standin=$product/tools/tests/standin
  engine=$standin/full/Tolvan33.dll incomplete=$standin/missing/Tolvan33.dll ravix=$standin/Ravix32.dll
  echo "== engines: the tools' own stand-ins (no end-to-end build)"
fi

# install FOLDER ENGINE MODULE: a host folder as the installation leaves it.
install() {
  mkdir -p "$1"
  cp "$ravix" "$1/Ravix32.dll"
  [ -z "$2" ] || cp "$2" "$1/Tolvan33.dll"
  [ -z "$3" ] || cp "$3" "$1/Tolvan32.dll"
}
operations=$(grep -oE 'TOLVAN_OPERATION\([A-Za-z0-9_]+, "[^"]+"' "$TOLVAN_ROOT/core/operations.inc" | sed -E 's/.*"([^"]+)"$/\1/' | sort)
count=$(wc -l <<<"$operations")
# The entries the incomplete engine really lacks, from its export table.
exports=$("$readobj" --coff-exports "$incomplete" | sed -nE 's/^ *Name: (.+)$/\1/p' | sort)
expected_missing=$(comm -23 <(echo "$operations") <(echo "$exports"))
missing_count=$(grep -c . <<<"$expected_missing" || true)

install "$work/complete" "$engine" "$product/Tolvan32.dll"
wine "$work/complete" "$check_exe"
report "check: complete installation, exit status 0" test "$status" -eq 0
report "check: all $count engine and module entries, both value-types entries" \
  test "$(grep -c "entries    $count of $count present$" <<<"$out")" -eq 2 -a "$(grep -c 'entries    2 of 2 present$' <<<"$out")" -eq 1
report "check: the module identified by its version resource" grep -q '^  version    Tolvan32 Share$' <<<"$out"

install "$work/incomplete" "$incomplete" "$product/Tolvan32.dll"
wine "$work/incomplete" "$check_exe"
report "check: engine lacking an entry, exit status 1" test "$status" -eq 1
report "check: exactly the missing entries named ($(tr '\n' ' ' <<<"$expected_missing"))" \
  diff <(echo "$expected_missing") <(sed -nE 's/^  MISSING    ([^ ]+).*$/\1/p' <<<"$out" | sort)
report "check: $((count - missing_count)) of $count counted" \
  grep -q "entries    $((count - missing_count)) of $count present, INCOMPLETE" <<<"$out"

wine "$work" "$check_exe" "$(windows_path "$work/complete/Tolvan33.dll")" --all
report "check: engine named by its path from another folder, --all lists every entry" \
  test "$status" -eq 0 -a "$(grep -c '^  present    ' <<<"$out")" -eq $((2 * count + 2))

install "$work/no-engine" "" "$product/Tolvan32.dll"
wine "$work/no-engine" "$check_exe"
report "check: no engine, exit status 1 and NOT LOADED" \
  bash -c '[ "$1" -eq 1 ] && grep -q "NOT LOADED" <<<"$2"' _ "$status" "$out"

install "$work/module-as-engine" "$product/Tolvan32.dll" "$product/Tolvan32.dll"
wine "$work/module-as-engine" "$check_exe"
report "check: the module copied over the engine is refused" \
  bash -c '[ "$1" -eq 1 ] && grep -q "WRONG FILE this is the proxy module itself" <<<"$2"' _ "$status" "$out"

install "$work/not-installed" "$engine" "$engine"
wine "$work/not-installed" "$check_exe"
report "check: the engine still in the module's place is refused" \
  bash -c '[ "$1" -eq 1 ] && grep -q "is the original engine still in its place?" <<<"$2"' _ "$status" "$out"

wine "$work" "$check_exe" --no-such-option
report "check: usage error, exit status 2" test "$status" -eq 2

# --- tolvan32-trace -------------------------------------------------------------
logs=$work/logs
mkdir -p "$logs"
status=0
TOLVAN_TRACE_SAMPLE=$logs/sample.log "$build/host/tools/tolvan_tool_tests" \
  --gtest_filter='TraceReportTest.ASampleLogWithEveryKindOfLine' >/dev/null || status=$?
report "trace: a sample log from the host tests" test "$status" -eq 0 -a -s "$logs/sample.log"
cut_line=$(($(wc -l <"$logs/sample.log") + 1))  # the last line has no line end

if [ -f "$e2e/tolvan_e2e_host.exe" ] && [ -f "$TOLVAN_ROOT/tests/e2e/wine.sh" ]; then
  # Every traced end-to-end scenario, its logs appended as successive runs
  # of the product append to the same two files.
  source "$TOLVAN_ROOT/tests/e2e/wine.sh"
  e2e_prepare >/dev/null
  : >"$logs/e2e_a.log"
  : >"$logs/e2e_b.log"
  runs=0
  while IFS=$'\t' read -r -a fields; do
    grep -q 'Tolvan32_Debug=[12]$' <(printf '%s\n' "${fields[@]:2}") || continue
    # Threads and processes tracing at once mix their items on the lines.
    case ${fields[0]} in concurrent-*) continue ;; esac
    e2e_run "${fields[0]}" "${fields[1]}" "${fields[@]:2}" </dev/null >/dev/null 2>&1 || true
    for letter in a b; do
      [ -f "$E2E_DRIVE_C/Tolvan32_$letter.log" ] && cat "$E2E_DRIVE_C/Tolvan32_$letter.log" >>"$logs/e2e_$letter.log"
    done
    runs=$((runs + 1))
  done < <(e2e_host --list | tr -d '\r')
  report "trace: logs of $runs traced end-to-end scenarios" test "$runs" -gt 0 -a -s "$logs/e2e_a.log"
  for letter in a b; do
    status=0
    summary=$(cd "$logs" && "$host_trace" summary "e2e_$letter.log") || status=$?
    report "trace: every line of the product's $( [ $letter = a ] && echo plain || echo masked ) log understood" \
      bash -c '[ "$1" -eq 0 ] && grep -qE "^ +0  lines that could not be read$" <<<"$2"' _ "$status" "$summary"
  done
  compared="sample.log e2e_a.log e2e_b.log"
else
  echo "== no end-to-end build: the trace reader is compared on the sample log only"
  compared="sample.log"
fi

# The Windows build of the reader must print what the host build prints.
for log in $compared; do
  for command in "summary" "summary --json" "show" "show --json" "show --errors" "show --op OpenAccess"; do
    # shellcheck disable=SC2086
    expected=$(cd "$logs" && "$host_trace" $command "$log" 2>&1) || true
    # shellcheck disable=SC2086
    wine "$logs" "$trace_exe" $command "$log"
    report "trace: Windows build, $command $log" test "$out" == "$expected"
  done
done
wine "$logs" "$trace_exe" summary sample.log
report "trace: damaged sample, exit status 1 and the cut line named" \
  bash -c '[ "$1" -eq 1 ] && grep -q "line $2: cut off" <<<"$3"' _ "$status" "$cut_line" "$out"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

#!/usr/bin/env bash
# End to end: the product's Tolvan32.dll, loaded by a 32-bit host program
# through its import library and forwarding to a stand-in engine, under Wine.
# Every scenario runs in a process of its own (the module reads its options
# when it is loaded); a last check asks that every operation reached the
# engine in some scenario. Ends with "N passed, N failed" (scenarios).
source "$(dirname "$0")/../lib.sh"
set -e
build_product
source "$TOLVAN_ROOT/tests/e2e/wine.sh"
e2e_prepare || { echo "FAIL Wine could not be started"; echo "0 passed, 1 failed"; exit 1; }
passed=0
failed=0
covered=$(mktemp)
trap 'rm -f "$covered"; e2e_stop' EXIT

report() {  # name, outcome, output
  if [ "$2" = passed ]; then
    passed=$((passed + 1))
    printf 'ok   %s\n' "$1"
  else
    failed=$((failed + 1))
    printf 'FAIL %s\n' "$1"
    [ -n "$3" ] && sed 's/^/     /' <<<"$3"
  fi
}

scenarios=$(e2e_host --list | tr -d '\r')
[ -n "$scenarios" ] || { echo "FAIL the test host lists no scenarios"; echo "0 passed, 1 failed"; exit 1; }
while IFS=$'\t' read -r -a fields; do
  name=${fields[0]}
  status=0
  output=$(e2e_run "$name" "${fields[1]}" "${fields[@]:2}" 2>&1) || status=$?
  output=$(tr -d '\r' <<<"$output")
  grep '^covered:' <<<"$output" | tr ' ' '\n' | grep -v '^covered:' >>"$covered" || true
  if [ "$name" = concurrent-tracing-ids ]; then reader_expects=$(grep '^the reader must find:' <<<"$output" || true); fi
  if [ $status -eq 0 ] && grep -qx "result $name: passed (.*)" <<<"$output"; then
    report "$name" passed
  else
    report "$name" failed "$(grep -v '^covered:' <<<"$output")
exit status $status"
  fi
done <<<"$scenarios"

# The ids log of threads and processes tracing at once, read by the Windows
# trace reader: with ids its figures are exactly the calls the hosts made.
for letter in a b; do
  status=0
  json=$(cd "$E2E_DIR" && "$E2E_RUNNER" "$E2E_PRODUCT/tools/tolvan32-trace.exe" summary --json \
    "C:\\concurrent-tracing-ids_$letter.log" 2>&1) || status=$?
  found=$(python3 -c '
import json, sys
d = json.loads(sys.stdin.read())
print("the reader must find: %d host calls, %d escalations, %d forced reopens" % (
    d["calls"] - d["calls_by_module"], d["exclusive_use"]["Pack"]["escalated"],
    d["share_forcing"]["reopened_shared"]))' <<<"$json" 2>&1) || status=$?
  if [ $status -eq 0 ] && [ -n "${reader_expects:-}" ] && [ "$found" = "$reader_expects" ]; then
    report "trace reader on the ids log $letter: $found" passed
  else
    report "trace reader on the ids log $letter" failed "host:   ${reader_expects:-(no figures)}
reader: $found"
  fi
done

# Every operation must have reached the engine somewhere.
missing=$(comm -23 <(e2e_host --operations | tr -d '\r' | sort) <(sort -u "$covered"))
if [ -z "$missing" ]; then
  report "every operation reached the engine" passed
else
  report "every operation reached the engine" failed "never called: $(tr '\n' ' ' <<<"$missing")"
fi

printf '%d passed, %d failed\n' "$passed" "$failed"
[ "$failed" -eq 0 ]

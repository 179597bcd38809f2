#!/usr/bin/env bash
# Runs every test: each stage in scripts/stages in order. A stage reports its
# count through ctest's summary or a line "N passed, N failed"; a stage that
# fails without a count counts as one failure. Ends with the totals.
source "$(dirname "$0")/lib.sh"

passed=0
failed=0
summary=()
mkdir -p "$TOLVAN_BUILD/logs"

for stage in "$TOLVAN_ROOT"/scripts/stages/*.sh; do
  [ -e "$stage" ] || continue
  name=$(basename "$stage" .sh)
  log "stage $name"
  output="$TOLVAN_BUILD/logs/$name.log"
  start=$SECONDS
  bash "$stage" 2>&1 | tee "$output"
  status=${PIPESTATUS[0]}
  p="" f=""
  if line=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$output" | tail -n 1) && [ -n "$line" ]; then
    f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    p=$((total - f))
  elif line=$(grep -E '^([A-Za-z-]+: )?[0-9]+ passed, [0-9]+ failed' "$output" | tail -n 1) && [ -n "$line" ]; then
    p=$(sed -E 's/^([A-Za-z-]+: )?([0-9]+) passed, ([0-9]+) failed.*/\2/' <<<"$line")
    f=$(sed -E 's/^([A-Za-z-]+: )?([0-9]+) passed, ([0-9]+) failed.*/\3/' <<<"$line")
  fi
  if [ -z "$p" ]; then
    if [ "$status" -eq 0 ]; then p=1 f=0; else p=0 f=1; fi
  elif [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then
    f=1
  fi
  passed=$((passed + p))
  failed=$((failed + f))
  summary+=("$(printf '%-24s %5s passed %4s failed %5ss' "$name" "$p" "$f" $((SECONDS - start)))")
done

printf '\n'
printf '%s\n' "${summary[@]}"
printf '%d passed, %d failed\n' "$passed" "$failed"
[ "$failed" -eq 0 ]

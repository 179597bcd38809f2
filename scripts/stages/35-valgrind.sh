#!/usr/bin/env bash
# The host tests' program under Valgrind's memcheck: invalid reads and writes,
# uses of uninitialised values and leaks each fail the run. One run of the
# whole program, without the 10^5-call thread test, which would take minutes
# under Valgrind and is covered by the sanitizer stage.
source "$(dirname "$0")/../lib.sh"
set -e
ensure_packages valgrind
build_host host Debug
set +e
valgrind --quiet --error-exitcode=1 --leak-check=full --show-leak-kinds=definite,indirect,possible \
  --errors-for-leak-kinds=definite,indirect,possible --track-origins=yes \
  "$TOLVAN_BUILD/host/tests/tolvan_unit_tests" --gtest_filter='-ThreadsTest.Untraced*' --gtest_brief=1 \
  >"$TOLVAN_BUILD/valgrind.log" 2>&1
status=$?
set -e
cat "$TOLVAN_BUILD/valgrind.log"
passed=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' "$TOLVAN_BUILD/valgrind.log" | tail -n 1)
failed=$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below:.*/\1/p' "$TOLVAN_BUILD/valgrind.log" | tail -n 1)
passed=${passed:-0}
failed=${failed:-0}
# Valgrind's own findings fail the run even when every test passed.
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
printf 'valgrind: %d passed, %d failed\n' "$passed" "$failed"
[ "$status" -eq 0 ]

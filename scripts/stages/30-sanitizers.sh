#!/usr/bin/env bash
# The host tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer
# (leak checking included): any report ends the test that made it with a failure.
# The build leaves out UBSan's dynamic type check: every facade call runs on an
# engine object, whose dynamic type is the engine's class, never the module's
# class of the same name, by design.
source "$(dirname "$0")/../lib.sh"
set -e
build_host sanitize Debug -DTOLVAN_SANITIZE=ON
export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:strict_init_order=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
cd "$TOLVAN_BUILD/sanitize"
ctest --output-on-failure -j "$TOLVAN_JOBS"

#!/usr/bin/env bash
# Shows the module at work: a 32-bit host program under Wine walks the
# typical road through Tolvan32.dll with Tolvan32_Debug=1 (a dictionary is
# opened, a table asked for exclusive use is reopened shared, a record object
# moves and exchanges fields, Pack takes the table exclusively for its
# duration, all is closed), then the masked trace log C:\Tolvan32_b.log is
# printed. The engine behind the module is the tests' stand-in.
source "$(dirname "$0")/lib.sh"
set -e
build_product
source "$TOLVAN_ROOT/tests/e2e/wine.sh"
if ! e2e_prepare; then
  log "demo skipped: Wine could not be started"
  exit 0
fi
trap e2e_stop EXIT
log "the typical road under Wine, Tolvan32_Debug=1"
e2e_run typical-road engine Tolvan32_Debug=1 | tr -d '\r' | grep '^result'
printf '\n%s (pointers masked):\n\n' 'C:\Tolvan32_b.log'
tr -d '\r' <"$E2E_DRIVE_C/Tolvan32_b.log"

#!/usr/bin/env bash
# Builds the product, build/product/Tolvan32.dll, and the Linux trace reader,
# installing what they need; assembles the folder to hand out, build/dist/,
# with its zip; then shows the module at work where the demo is available.
source "$(dirname "$0")/lib.sh"
set -e
build_product
log "built $TOLVAN_BUILD/product/Tolvan32.dll"
build_trace_reader
log "built $TOLVAN_BUILD/reader/tools/tolvan32-trace"
assemble_dist "$TOLVAN_BUILD/product" "$TOLVAN_BUILD/dist"
if [ -x "$TOLVAN_ROOT/scripts/demo.sh" ] && [ -z "${TOLVAN_NO_DEMO:-}" ]; then
  "$TOLVAN_ROOT/scripts/demo.sh"
fi
log "the folder to hand out, $TOLVAN_BUILD/dist:"
(cd "$TOLVAN_BUILD/dist" && ls -l --time-style=+%Y-%m-%d | tail -n +2)

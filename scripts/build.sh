#!/usr/bin/env bash
# Builds the product, build/product/Tolvan32.dll, installing what it needs,
# then shows the module at work where the demo is available.
source "$(dirname "$0")/lib.sh"
set -e
build_product
log "built $TOLVAN_BUILD/product/Tolvan32.dll"
if [ -x "$TOLVAN_ROOT/scripts/demo.sh" ] && [ -z "${TOLVAN_NO_DEMO:-}" ]; then
  "$TOLVAN_ROOT/scripts/demo.sh"
fi

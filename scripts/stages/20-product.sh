#!/usr/bin/env bash
# The product build, and its export table, imports and version resource
# checked against what the module must offer.
source "$(dirname "$0")/../lib.sh"
set -e
build_product
bash "$TOLVAN_ROOT/tests/product/check_product.sh" "$TOLVAN_BUILD/product/Tolvan32.dll"

#!/usr/bin/env bash
# The product build, and its export table, imports and version resource
# checked against what the module must offer; then the same for the build
# with Microsoft's driver conventions (the module alone: no Microsoft C++
# standard library is at hand for the tools); last, a second build of the
# product, which must give the same bytes.
source "$(dirname "$0")/../lib.sh"
set -e
build_product
build_product_msvc_style
passed=0 failed=0
# Each build's module, and the number of tool images beside it.
for build in "product 2" "product-msvc-style 0"; do
  dll=$TOLVAN_BUILD/${build% *}/Tolvan32.dll
  echo "== $dll"
  if out=$(bash "$TOLVAN_ROOT/tests/product/check_product.sh" "$dll" "${build#* }"); then :; fi
  echo "$out"
  line=$(grep -E '^product: [0-9]+ passed, [0-9]+ failed' <<<"$out" | tail -n 1)
  if [ -z "$line" ]; then failed=$((failed + 1)); continue; fi
  passed=$((passed + $(sed -E 's/^product: ([0-9]+) passed.*/\1/' <<<"$line")))
  failed=$((failed + $(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")))
done
# Reproducible: the module and the tools built once more in a folder of their
# own, and the folder to hand out with its zip, are the same bytes.
echo "== a second build of the product"
first=$TOLVAN_BUILD/reproduce/dist-first second=$TOLVAN_BUILD/reproduce/dist-second
if build_product reproduce/product Tolvan32 tolvan_windows_tools &&
  assemble_dist "$TOLVAN_BUILD/product" "$first" && assemble_dist "$TOLVAN_BUILD/reproduce/product" "$second" &&
  diff <(cd "$first" && ls) <(cd "$second" && ls) && [ "$(ls "$first" | wc -l)" -eq 5 ] &&
  (cd "$first" && for file in *; do cmp "$file" "$second/$file" || exit 1; done); then
  passed=$((passed + 1)); echo "ok   a second build gives the same bytes: $(cd "$first" && echo *)"
else
  failed=$((failed + 1)); echo "FAIL a second build gives the same bytes"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

#!/usr/bin/env bash
# The product build, and its export table, imports and version resource
# checked against what the module must offer; then the same for the build
# with Microsoft's driver conventions (the module alone: no Microsoft C++
# standard library is at hand for the tools); then a second build of the
# product (and of the module with Microsoft's driver conventions), which must
# give the same bytes, symbols included; last, the symbols' zip.
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
# own, with their symbols, and the folder to hand out with its zip and the
# symbols' zip beside it, are the same bytes; so are the module and its PDB
# of the build with Microsoft's driver conventions.
echo "== a second build of the product"
first=$TOLVAN_BUILD/reproduce/dist-first second=$TOLVAN_BUILD/reproduce/dist-second
symbols="Tolvan32.pdb tools/tolvan32-setup.exe.debug tools/tolvan32-trace.exe.debug"
same_files() {  # FOLDER OTHER-FOLDER FILE...: each file the same bytes in both
  local file
  for file in "${@:3}"; do cmp "$1/$file" "$2/$file" || return 1; done
}
if build_product reproduce/product Tolvan32 tolvan_windows_tools &&
  assemble_dist "$TOLVAN_BUILD/product" "$first" && assemble_dist "$TOLVAN_BUILD/reproduce/product" "$second" &&
  diff <(cd "$first" && ls) <(cd "$second" && ls) && [ "$(ls "$first" | wc -l)" -eq 6 ] &&
  same_files "$first" "$second" $(cd "$first" && echo *) &&
  same_files "$TOLVAN_BUILD/product" "$TOLVAN_BUILD/reproduce/product" $symbols; then
  passed=$((passed + 1)); echo "ok   a second build gives the same bytes: $(cd "$first" && echo *) $symbols"
else
  failed=$((failed + 1)); echo "FAIL a second build gives the same bytes"
fi
if build_product_msvc_style reproduce/product-msvc-style &&
  same_files "$TOLVAN_BUILD/product-msvc-style" "$TOLVAN_BUILD/reproduce/product-msvc-style" Tolvan32.dll Tolvan32.pdb; then
  passed=$((passed + 1)); echo "ok   a second build with Microsoft's driver conventions gives the same module and PDB"
else
  failed=$((failed + 1)); echo "FAIL a second build with Microsoft's driver conventions gives the same module and PDB"
fi
# The package holds no symbols; the symbols' zip holds them all, and nothing else.
zips=$(cd "$first" && python3 -c 'import sys, zipfile; print(*(sorted(zipfile.ZipFile(z).namelist()) for z in sys.argv[1:]))' \
  Tolvan32-*[0-9].zip Tolvan32-*-symbols.zip)
if [ "$zips" = "['README.txt', 'Tolvan32.dll', 'tolvan32-setup.exe', 'tolvan32-trace.exe'] ['Tolvan32.pdb', 'tolvan32-setup.exe.debug', 'tolvan32-trace.exe.debug']" ]; then
  passed=$((passed + 1)); echo "ok   the symbols in a zip of their own beside the package, none in it"
else
  failed=$((failed + 1)); echo "FAIL the symbols in a zip of their own beside the package, none in it: $zips"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

#!/usr/bin/env bash
# The tools for the people who deploy the module, in their Windows builds
# under Wine:
#   tolvan32-setup check against a complete engine, one that lacks an entry,
#   a missing engine and two wrong installations;
#   tolvan32-setup install and uninstall, each case in a scratch host folder
#   whose names, modes and bytes are compared before and after: a clean
#   install, again, an upgrade, uninstall, every refusal, a failure at each
#   step, another program's file in the way, a running host, a dry run;
#   tolvan32-trace reading real trace logs (those of the end-to-end
#   scenarios, and a damaged one from the host tests) exactly as its host
#   build reads them, understanding every line the product wrote;
#   its report opened in a real browser (chromium, headless): no script
#   errors, the page's figures those of summary --json, a screenshot, and
#   a redacted page without any value or path of the log.
# Ends with "N passed, N failed".
source "$(dirname "$0")/../lib.sh"
set -e
build_product
build_host host Debug
ensure_packages chromium unzip
# From here on every step is counted, none ends the stage.
set +e

runner=${WINE32_RUN:-$TOLVAN_ROOT/../shared/tools/wine32-run}
[ -x "$runner" ] || { echo "FAIL no wine32-run at $runner (set WINE32_RUN)"; echo "0 passed, 1 failed"; exit 1; }
readobj=$(command -v llvm-readobj-16 || command -v llvm-readobj)
build=$(cd "$TOLVAN_BUILD" && pwd)
product=$build/product
setup_exe=$product/tools/tolvan32-setup.exe
trace_exe=$product/tools/tolvan32-trace.exe
host_trace=$build/host/tools/tolvan32-trace
# The same Wine prefix as the end-to-end stage: made once, used by both.
export WINE32_RUN_PREFIX=${WINE32_RUN_PREFIX:-$build/e2e-wine}
work=$build/tools-check
# A folder left unwritable by an interrupted run could not be removed.
[ -d "$work" ] && chattr -R -i "$work" 2>/dev/null
rm -rf "$work"
mkdir -p "$work"
trap 'chattr -R -i "$work" 2>/dev/null; "$runner" --stop >/dev/null 2>&1 || true' EXIT

passed=0 failed=0
out=""
report() {  # name, then the command that must succeed; the last output is shown on failure
  local name=$1; shift
  if "$@"; then
    passed=$((passed + 1)); echo "ok   $name"
  else
    failed=$((failed + 1)); echo "FAIL $name"; head -n 40 <<<"$out" | sed 's/^/     /'
  fi
}
windows_path() { local path=$1; printf 'Z:%s' "${path//\//\\}"; }
# wine FOLDER PROGRAM ARGS...: runs a Windows program in FOLDER; its output
# (CR LF turned into LF) goes to $out, its exit status to $status.
wine() {
  local folder=$1; shift
  status=0
  out=$(cd "$folder" && "$runner" "$@" 2>&1 </dev/null) || status=$?
  out=$(tr -d '\r' <<<"$out")
}

# --- tolvan32-setup check -------------------------------------------------------
e2e=$product/tests/e2e
if [ -f "$e2e/engine/Tolvan33.dll" ] && [ -f "$e2e/engine-missing-entry/Tolvan33.dll" ] && [ -f "$e2e/Ravix32.dll" ]; then
  engine=$e2e/engine/Tolvan33.dll incomplete=$e2e/engine-missing-entry/Tolvan33.dll ravix=$e2e/Ravix32.dll
  echo "== engines: the end-to-end stand-ins"
else
  standin=$product/tools/tests/standin
  engine=$standin/full/Tolvan33.dll incomplete=$standin/missing/Tolvan33.dll ravix=$standin/Ravix32.dll
  echo "== engines: the tools' own stand-ins (no end-to-end build)"
fi

# install FOLDER ENGINE MODULE: a host folder as the installation leaves it.
install() {
  mkdir -p "$1"
  cp "$ravix" "$1/Ravix32.dll"
  [ -z "$2" ] || cp "$2" "$1/Tolvan33.dll"
  [ -z "$3" ] || cp "$3" "$1/Tolvan32.dll"
}
operations=$(grep -oE 'TOLVAN_OPERATION\([A-Za-z0-9_]+, "[^"]+"' "$TOLVAN_ROOT/core/operations.inc" | sed -E 's/.*"([^"]+)"$/\1/' | sort)
count=$(wc -l <<<"$operations")
# The entries the incomplete engine really lacks, from its export table.
exports=$("$readobj" --coff-exports "$incomplete" | sed -nE 's/^ *Name: (.+)$/\1/p' | sort)
expected_missing=$(comm -23 <(echo "$operations") <(echo "$exports"))
missing_count=$(grep -c . <<<"$expected_missing" || true)

install "$work/complete" "$engine" "$product/Tolvan32.dll"
wine "$work/complete" "$setup_exe" check
check_seen=" $status"
report "check: complete installation, exit status 0" test "$status" -eq 0
report "check: all $count engine and module entries, both value-types entries" \
  test "$(grep -c "entries    $count of $count present$" <<<"$out")" -eq 2 -a "$(grep -c 'entries    2 of 2 present$' <<<"$out")" -eq 1
report "check: the module identified by its version resource, both versions as numbers" \
  bash -c 'grep -qE "^  version    [0-9]+\.[0-9]+\.[0-9]+\.[0-9]+ \(Tolvan32 Share\)$" <<<"$1" &&
    [ "$(grep -cE "^  version    ([0-9]+\.){3}[0-9]+|^  version    none \(no file version" <<<"$1")" -eq 3 ]' _ "$out"

install "$work/incomplete" "$incomplete" "$product/Tolvan32.dll"
wine "$work/incomplete" "$setup_exe" check
check_seen+=" $status"
report "check: engine lacking an entry, exit status 1" test "$status" -eq 1
report "check: exactly the missing entries named ($(tr '\n' ' ' <<<"$expected_missing"))" \
  diff <(echo "$expected_missing") <(sed -nE 's/^  MISSING    ([^ ]+).*$/\1/p' <<<"$out" | sort)
report "check: $((count - missing_count)) of $count counted" \
  grep -q "entries    $((count - missing_count)) of $count present, INCOMPLETE" <<<"$out"

wine "$work" "$setup_exe" check "$(windows_path "$work/complete/Tolvan33.dll")" --all
report "check: engine named by its path from another folder, --all lists every entry" \
  test "$status" -eq 0 -a "$(grep -c '^  present    ' <<<"$out")" -eq $((2 * count + 2))
wine "$work" "$setup_exe" check incomplete
report "check: the host's folder named: its Tolvan33.dll checked" \
  bash -c '[ "$1" -eq 1 ] && grep -qxF "  requested  $3\incomplete\Tolvan33.dll" <<<"$2"' _ "$status" "$out" "$(windows_path "$work")"

install "$work/no-engine" "" "$product/Tolvan32.dll"
wine "$work/no-engine" "$setup_exe" check
check_seen+=" $status"
report "check: no engine, broken: exit status 6, the engine named" \
  bash -c '[ "$1" -eq 6 ] && grep -q "^State: BROKEN: .*Tolvan33.dll: it is missing" <<<"$2"' _ "$status" "$out"

install "$work/module-as-engine" "$product/Tolvan32.dll" "$product/Tolvan32.dll"
wine "$work/module-as-engine" "$setup_exe" check
report "check: the module copied over the engine: broken, exit status 6" \
  bash -c '[ "$1" -eq 6 ] && grep -q "Tolvan33.dll: it is a copy of the module" <<<"$2"' _ "$status" "$out"

install "$work/not-installed" "$engine" "$engine"
wine "$work/not-installed" "$setup_exe" check
report "check: an engine in both places (a host update over the module): broken, exit status 6" \
  bash -c '[ "$1" -eq 6 ] && grep -q "written its engine over the module" <<<"$2"' _ "$status" "$out"

wine "$work" "$setup_exe" check --no-such-option
check_seen+=" $status"
report "check: usage error, exit status 2" test "$status" -eq 2

# --- tolvan32-setup install and uninstall ------------------------------------------
# Each case in a scratch host folder of its own; "as it was" compares the
# folder's names (letter case included), modes (the read-only attribute),
# sizes and bytes.
setup_work=$work/setup
mkdir -p "$setup_work"
module=$product/Tolvan32.dll
module_path=$(windows_path "$module")
# An older module: the same file, its fixed file version 8.0.0.6.
older=$setup_work/older-Tolvan32.dll
python3 - "$module" "$older" <<'PYTHON'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
# VS_FIXEDFILEINFO's signature, in the version resource (the module's code
# holds the same constant, to read the resources of the libraries it loads)
fixed = data.find(bytes.fromhex("bd04effe"), data.find("VS_VERSION_INFO".encode("utf-16-le")))
assert fixed > 0
data[fixed + 12:fixed + 16] = (6).to_bytes(4, "little")  # least significant file version word
open(sys.argv[2], "wb").write(data)
PYTHON
# The module beside the tool, as it is handed out.
dist=$setup_work/dist
mkdir -p "$dist"
cp "$setup_exe" "$module" "$dist/"

snapshot() {
  (cd "$1" && find . -mindepth 1 -printf '%P %y %m %s\n' | LC_ALL=C sort &&
    find . -type f -printf '%P\0' | LC_ALL=C sort -z | xargs -0r sha256sum)
}
# host NAME FILE=SOURCE...: a fresh scratch host folder $dir with those files.
host() {
  dir=$setup_work/$1
  shift
  rm -rf "$dir"
  mkdir -p "$dir"
  local pair
  for pair; do cp "${pair#*=}" "$dir/${pair%%=*}"; done
  before=$(snapshot "$dir")
}
hooks=()
# setup ARGS...: tolvan32-setup in $setup_work (the folder named by ARGS),
# with the test hooks in ${hooks[@]}.
setup() {
  status=0
  out=$(cd "$setup_work" && env "${hooks[@]}" "$runner" "$setup_exe" "$@" 2>&1 </dev/null) || status=$?
  out=$(tr -d '\r' <<<"$out")
}
as_it_was() { test "$(snapshot "$dir")" == "$before"; }
holds() { cmp -s "$dir/$1" "$2"; }
# refused PATTERN: exit status 1, a REFUSED line matching PATTERN, nothing changed.
refused() { [ "$status" -eq 1 ] && grep -q "^REFUSED: .*$1" <<<"$out" && as_it_was; }
# undone STEP: step STEP failed, exit status 1, the folder as it was.
undone() {
  [ "$status" -eq 1 ] && grep -q "^Step $1 of " <<<"$out" &&
    [ "$(grep -c '^  FAILED: ' <<<"$out")" -eq 1 ] && as_it_was
}
installed() {  # the module as Tolvan32.dll, ENGINE as Tolvan33.dll, nothing else left
  holds Tolvan32.dll "$module" && holds Tolvan33.dll "$1" && holds Ravix32.dll "$ravix" &&
    [ "$(ls "$dir" | wc -l)" -eq 3 ]
}

# The deployment road: install (the module beside the tool, the current
# folder), check, install again, uninstall.
host road Tolvan32.dll="$engine" Ravix32.dll="$ravix"
original=$before
wine "$dir" "$dist/tolvan32-setup.exe" install
report "setup: clean install in the current folder, the module from beside the tool" \
  bash -c '[ "$1" -eq 0 ] && grep -q "^Result: complete$" <<<"$2" && grep -q "^Done (compared: names, sizes, hashes)" <<<"$2"' \
  _ "$status" "$out"
report "setup: the engine renamed to Tolvan33.dll, the module copied in, nothing else" installed "$engine"
installed_snapshot=$(snapshot "$dir")
setup check road
report "setup: check of the installed folder, exit status 0" \
  bash -c '[ "$1" -eq 0 ] && grep -q "^Result: complete$" <<<"$2"' _ "$status" "$out"
before=$installed_snapshot
setup install --module "$module_path" road
report "setup: a second install says so, checks, changes nothing, exit status 0" \
  bash -c '[ "$1" -eq 0 ] && grep -q "^Already installed" <<<"$2" && grep -q "^Result: complete$" <<<"$2"' \
  _ "$status" "$out"
report "setup: ... the folder as it was" as_it_was
setup uninstall road
before=$original
report "setup: uninstall, exit status 0" test "$status" -eq 0
report "setup: ... the folder byte for byte as before the installation" as_it_was
setup uninstall road
report "setup: uninstall where nothing is installed: nothing to do, exit status 0" \
  bash -c '[ "$1" -eq 0 ] && grep -q "^Not installed" <<<"$2"' _ "$status" "$out"

host upgrade Tolvan32.dll="$older" Tolvan33.dll="$engine" Ravix32.dll="$ravix"
setup install --module "$module_path" upgrade
report "setup: upgrade from module 8.0.0.6, only the module replaced" \
  bash -c '[ "$1" -eq 0 ] && grep -q "^Installed module: .*version 8.0.0.6$" <<<"$2"' _ "$status" "$out"
report "setup: ... the newer module in place, the engine untouched, nothing left over" installed "$engine"
before=$(snapshot "$dir")
setup install --module "$(windows_path "$older")" upgrade
report "setup: an older module than the installed one is refused" refused 'Tolvan32.dll: it is a newer module'

# Refusals: each names the file in the way, and nothing changes.
host module-in-place Tolvan32.dll="$module" Ravix32.dll="$ravix"
setup install --module "$module_path" module-in-place
report "setup: refused: the module already in the engine's place" refused 'Tolvan33.dll: it is missing'
host module-as-engine Tolvan32.dll="$engine" Tolvan33.dll="$module" Ravix32.dll="$ravix"
setup install --module "$module_path" module-as-engine
report "setup: refused: a copy of the module as Tolvan33.dll" \
  refused 'Tolvan33.dll: it is a copy of the module'
host engine-twice Tolvan32.dll="$engine" Tolvan33.dll="$engine" Ravix32.dll="$ravix"
setup install --module "$module_path" engine-twice
report "setup: refused: Tolvan33.dll already present" refused 'Tolvan33.dll: Tolvan32.dll is an engine'
host no-value-types Tolvan32.dll="$engine"
setup install --module "$module_path" no-value-types
report "setup: refused: no Ravix32.dll" refused 'Ravix32.dll: it was found neither'
host not-a-module Tolvan32.dll="$engine" Ravix32.dll="$ravix"
setup install --module "$(windows_path "$engine")" not-a-module
report "setup: refused: the file offered as the module is not the module" refused 'Tolvan33.dll: it is not the module'
setup install --module "$module_path" no-such-folder
report "setup: refused: a missing folder, with the system's reason" \
  bash -c '[ "$1" -eq 1 ] && grep -q "^REFUSED: Z:.*.no-such-folder: the folder cannot be used: .*(error 2)$" <<<"$2" &&
    [ ! -e "$3" ]' _ "$status" "$out" "$setup_work/no-such-folder"
# Wine gives a file without write permission the read-only attribute.
host read-only Tolvan32.dll="$engine" Ravix32.dll="$ravix"
chmod a-w "$dir/Tolvan32.dll"
before=$(snapshot "$dir")
setup install --module "$module_path" read-only
report "setup: refused: a read-only Tolvan32.dll" refused 'Tolvan32.dll: it is read-only'
host uninstall-no-engine Tolvan32.dll="$module" Ravix32.dll="$ravix"
setup uninstall uninstall-no-engine
report "setup: uninstall refused: no engine to give its name back" refused 'Tolvan33.dll: it is missing'
host uninstall-module-twice Tolvan32.dll="$module" Tolvan33.dll="$module" Ravix32.dll="$ravix"
setup uninstall uninstall-module-twice
report "setup: uninstall refused: Tolvan33.dll is a copy of the module" \
  refused 'Tolvan33.dll: it is a copy of the module'
# An unwritable folder: root passes every Unix permission, an immutable folder
# it does not.
host unwritable Tolvan32.dll="$engine" Ravix32.dll="$ravix"
if chattr +i "$dir"; then
  setup install --module "$module_path" unwritable
  chattr -i "$dir"
  report "setup: an unwritable folder: the first step fails with the system's reason, nothing changed" \
    bash -c '[ "$1" -eq 1 ] && grep -q "^  FAILED: .*(error 5)$" <<<"$2" && grep -q "^Nothing was changed (compared" <<<"$2"' \
    _ "$status" "$out"
  report "setup: ... the folder as it was" as_it_was
else
  report "setup: an unwritable folder (chattr +i not possible here)" false
fi
# A running host holds its Tolvan32.dll (the engine, before installation; the
# test host binds to its names as the real host does).
if [ -f "$e2e/tolvan_e2e_host.exe" ]; then
  host running Tolvan32.dll="$engine" Ravix32.dll="$ravix" tolvan_e2e_host.exe="$e2e/tolvan_e2e_host.exe"
  release=$setup_work/release-running-host
  rm -f "$release"
  (cd "$dir" && "$runner" ./tolvan_e2e_host.exe --hold "$(windows_path "$release")" \
    >"$setup_work/running.log" 2>&1 </dev/null) &
  holder=$!
  for _ in $(seq 100); do grep -q holding "$setup_work/running.log" 2>/dev/null && break; sleep 0.2; done
  setup install --module "$module_path" running
  touch "$release"
  wait "$holder"
  report "setup: refused while the host runs: Tolvan32.dll in use" \
    refused 'Tolvan32.dll: it cannot be changed: .*(error 32) - is the host application running?'
fi

# A step that fails half-way: every step of each plan in turn, its file held
# open by the test hook; everything before it is undone.
for step in 1 2 3 4; do
  host hold-install-$step Tolvan32.dll="$engine" Ravix32.dll="$ravix"
  hooks=(TOLVAN32_SETUP_TEST_HOLD=$step)
  setup install --module "$module_path" hold-install-$step
  report "setup: install failing at step $step of 4, undone, the folder as it was" undone $step
done
for step in 1 2 3 4 5; do
  host hold-upgrade-$step Tolvan32.dll="$older" Tolvan33.dll="$engine" Ravix32.dll="$ravix"
  hooks=(TOLVAN32_SETUP_TEST_HOLD=$step)
  setup install --module "$module_path" hold-upgrade-$step
  report "setup: upgrade failing at step $step of 5, undone, the folder as it was" undone $step
done
for step in 1 2 3; do
  host hold-uninstall-$step Tolvan32.dll="$module" Tolvan33.dll="$engine" Ravix32.dll="$ravix"
  hooks=(TOLVAN32_SETUP_TEST_HOLD=$step)
  setup uninstall hold-uninstall-$step
  report "setup: uninstall failing at step $step of 3, undone, the folder as it was" undone $step
done
# Another program's file appears where a step renames or copies to: it is
# never replaced. Steps 1 and 2 are undone around it, and the comparison
# names it (exit status 3); at step 3 it takes Tolvan32.dll while that name
# is free, so the engine cannot have its name back: it stays whole as
# Tolvan33.dll and what is left to do is listed.
# intruder_kept FILE STEP: the empty file is named and still there (then
# removed), and the rest was undone.
intruder_kept() {
  [ "$status" -eq 3 ] && grep -q "^  expected no file; found $1, 0 bytes" <<<"$out" && [ -f "$dir/$1" ] &&
    [ ! -s "$dir/$1" ] && rm "$dir/$1" && as_it_was
}
for step in 1 2; do
  host intrude-install-$step Tolvan32.dll="$engine" Ravix32.dll="$ravix"
  hooks=(TOLVAN32_SETUP_TEST_INTRUDE=$step)
  setup install --module "$module_path" intrude-install-$step
  intruder=$([ "$step" = 1 ] && echo Tolvan32.dll.setup-new || echo Tolvan33.dll)
  report "setup: a file put where step $step goes is kept and named (exit status 3), the rest undone" \
    intruder_kept "$intruder" "$step"
done
host intrude-install-3 Tolvan32.dll="$engine" Ravix32.dll="$ravix"
hooks=(TOLVAN32_SETUP_TEST_INTRUDE=3)
setup install --module "$module_path" intrude-install-3
hooks=()
report "setup: a file takes Tolvan32.dll between the renames: exit status 3, the steps left listed in order" \
  bash -c '[ "$1" -eq 3 ] && diff <(sed -n "/^UNDO FAILED/,\$p" <<<"$2") - <<<"$3"' _ "$status" "$out" \
  "UNDO FAILED: the folder is NOT as it was. Still to be done by hand, in this order:
  rename $(windows_path "$dir")\\Tolvan33.dll back to $(windows_path "$dir")\\Tolvan32.dll
  delete $(windows_path "$dir")\\Tolvan32.dll.setup-new"
report "setup: ... the engine whole as Tolvan33.dll, the other file untouched" \
  bash -c '[ -f "$1/Tolvan32.dll" ] && [ ! -s "$1/Tolvan32.dll" ] && cmp -s "$1/Tolvan33.dll" "$2"' _ "$dir" "$engine"

host dry-run Tolvan32.dll="$engine" Ravix32.dll="$ravix"
setup install --module "$module_path" --dry-run dry-run
report "setup: install --dry-run lists the four steps and changes nothing" \
  bash -c '[ "$1" -eq 0 ] && [ "$(grep -c "^Step [1-4] of 4: " <<<"$2")" -eq 4 ] && ! grep -q "^  done" <<<"$2"' \
  _ "$status" "$out"
report "setup: ... the folder as it was" as_it_was

# A module handed out on read-only media: the copy is installed writable, so
# that it can be replaced and removed later.
host read-only-source Tolvan32.dll="$engine" Ravix32.dll="$ravix"
cp "$module" "$setup_work/read-only-Tolvan32.dll"
chmod a-w "$setup_work/read-only-Tolvan32.dll"
setup install --module "$(windows_path "$setup_work/read-only-Tolvan32.dll")" read-only-source
installed_writable() { [ "$status" -eq 0 ] && [[ $(stat -c %A "$dir/Tolvan32.dll") == ??w* ]]; }
report "setup: a read-only module to install: installed writable" installed_writable
setup uninstall read-only-source
report "setup: ... and removed again" \
  bash -c '[ "$1" -eq 0 ] && [ "$(ls "$2" | wc -l)" -eq 2 ] && cmp -s "$2/Tolvan32.dll" "$3"' _ "$status" "$dir" "$engine"

# Ravix32.dll only in the current folder and beside the tool: the host in
# its own folder would not find it, so neither does the tool.
host host-search Tolvan32.dll="$engine"
cp "$ravix" "$setup_work/Ravix32.dll"
cp "$ravix" "$dist/Ravix32.dll"
wine "$setup_work" "$dist/tolvan32-setup.exe" install --module "$module_path" host-search
report "setup: Ravix32.dll only in the current folder and the tool's: install refused, the folder as it was" \
  refused 'host-search.Ravix32.dll: it was found neither'
cp "$module" "$dir/Tolvan32.dll" && cp "$engine" "$dir/Tolvan33.dll"
wine "$setup_work" "$dist/tolvan32-setup.exe" check host-search
report "setup: ... check of such a folder: the module NOT LOADED, broken, exit status 6" \
  bash -c '[ "$1" -eq 6 ] && [ "$(grep -c "NOT LOADED" <<<"$2")" -eq 2 ] && grep -q "^State: BROKEN" <<<"$2"' \
  _ "$status" "$out"
rm "$setup_work/Ravix32.dll" "$dist/Ravix32.dll"

# A stale Tolvan32.dll.setup-old (an uninstall stopped before its delete):
# install and uninstall refuse, naming it and repair.
host stale-old Tolvan32.dll="$engine" Tolvan32.dll.setup-old="$module" Ravix32.dll="$ravix"
setup install --module "$module_path" stale-old
stale_refused() { refused 'Tolvan32.dll.setup-old: an uninstall stopped .*: run tolvan32-setup repair Z:.*.stale-old first'; }
report "setup: a stale setup-old: install refused, naming it and repair" stale_refused
setup uninstall stale-old
report "setup: ... uninstall refused alike" stale_refused

# A copy that stops half-way (a full disk): its incomplete file is deleted,
# and the comparison proves the folder as it was.
host disk-full Tolvan32.dll="$engine" Ravix32.dll="$ravix"
hooks=(TOLVAN32_SETUP_TEST_DISK_FULL=1)
setup install --module "$module_path" disk-full
hooks=()
report "setup: a copy failing half-way: the incomplete copy deleted, nothing changed (compared), exit status 1" \
  bash -c '[ "$1" -eq 1 ] && grep -qx "  the incomplete copy was deleted" <<<"$2" &&
    grep -q "^Nothing was changed (compared: names, sizes, hashes)" <<<"$2"' _ "$status" "$out"
report "setup: ... the folder as it was" as_it_was

# Each state an interrupted run leaves: check says so (5), install refuses,
# repair --dry-run lists the steps and changes nothing, repair finishes it.
head -c $(($(stat -c %s "$module") / 2)) "$module" >"$setup_work/half-Tolvan32.dll"
interrupted() {  # NAME FINAL FILE=SOURCE...
  local name=$1 final=$2
  shift 2
  host "$name" Ravix32.dll="$ravix" "$@"
  setup check "$name"
  [ "$status" -eq 5 ] && grep -q "^What to do: tolvan32-setup repair Z:.*.$name " <<<"$out" || return 1
  setup install --module "$module_path" "$name"
  refused "run tolvan32-setup repair Z:.*.$name first" || return 1
  setup repair --dry-run "$name"
  [ "$status" -eq 0 ] && grep -q "^Step 1 of " <<<"$out" && as_it_was || return 1
  setup repair "$name"
  [ "$status" -eq 0 ] && grep -q "^Done (compared" <<<"$out" || return 1
  if [ "$final" = installed ]; then installed "$engine"; else
    holds Tolvan32.dll "$engine" && [ "$(ls "$dir" | wc -l)" -eq 2 ]; fi
}
for state in "install-copied installed Tolvan32.dll=$engine Tolvan32.dll.setup-new=$module" \
  "install-half-copied original Tolvan32.dll=$engine Tolvan32.dll.setup-new=$setup_work/half-Tolvan32.dll" \
  "install-renamed installed Tolvan33.dll=$engine Tolvan32.dll.setup-new=$module" \
  "upgrade-copied installed Tolvan32.dll=$older Tolvan33.dll=$engine Tolvan32.dll.setup-new=$module" \
  "upgrade-renamed installed Tolvan33.dll=$engine Tolvan32.dll.setup-new=$module Tolvan32.dll.setup-old=$older" \
  "upgrade-checked installed Tolvan32.dll=$module Tolvan33.dll=$engine Tolvan32.dll.setup-old=$older" \
  "uninstall-renamed original Tolvan33.dll=$engine Tolvan32.dll.setup-old=$module" \
  "uninstall-undeleted original Tolvan32.dll=$engine Tolvan32.dll.setup-old=$module" \
  "module-deleted original Tolvan33.dll=$engine"; do
  # shellcheck disable=SC2086
  report "setup: interrupted ${state%% *}: check 5, install refused, repair --dry-run, repair finishes it" \
    interrupted $state
done

# Tolvan33.dll not an engine (the value-types library copied over it).
host not-an-engine Tolvan32.dll="$module" Tolvan33.dll="$ravix" Ravix32.dll="$ravix"
setup uninstall not-an-engine
report "setup: uninstall refused: Tolvan33.dll exports none of the engine's entries, the folder as it was" \
  refused 'Tolvan33.dll: it is not an engine: it exports none of the'

# TOLVAN32.DLL in capitals: its name comes back with its letter case after an
# undone install and after an uninstall.
host capitals TOLVAN32.DLL="$engine" Ravix32.dll="$ravix"
hooks=(TOLVAN32_SETUP_TEST_HOLD=4)
setup install --module "$module_path" capitals
hooks=()
report "setup: TOLVAN32.DLL, install undone at its check: the name in capitals again" undone 4
setup install --module "$module_path" capitals
report "setup: ... installed: the module takes the name as the folder spelled it" \
  bash -c '[ "$1" -eq 0 ] && cmp -s "$2/TOLVAN32.DLL" "$3"' _ "$status" "$dir" "$module"
setup uninstall capitals
report "setup: ... uninstalled: TOLVAN32.DLL in capitals, the folder as it was" as_it_was

# A Cyrillic folder with Windows' code page 1252 (Wine takes it from the C.UTF-8 locale).
hooks=(LC_ALL=C.UTF-8)
host 'Хост' Tolvan32.dll="$engine" Ravix32.dll="$ravix"
setup install --module "$module_path" 'Хост'
report "setup: a Cyrillic folder on code page 1252: installed, its name printed readable" \
  bash -c '[ "$1" -eq 0 ] && grep -qx "Installing the module in Z:.*\\\\Хост" <<<"$2"' _ "$status" "$out"
setup check 'Хост'
report "setup: ... checked complete, exit status 0" test "$status" -eq 0
setup uninstall 'Хост'
report "setup: ... uninstalled, the folder as it was" as_it_was
hooks=()

# check's states, each with its exit status (0, 1 and 6 above); --dry-run
# predicts the real run; --allow-missing takes an engine lacking entries.
host states Tolvan32.dll="$incomplete" Ravix32.dll="$ravix"
setup check states
report "setup: check of a folder never installed: not installed, exit status 4" \
  bash -c '[ "$1" -eq 4 ] && grep -q "^State: not installed" <<<"$2"' _ "$status" "$out"
setup install --module "$module_path" --dry-run states
report "setup: install --dry-run over an engine lacking entries: refused as the real run is, exit status 1" \
  refused "Tolvan32.dll: the engine lacks $missing_count of the $count entries"
setup install --module "$module_path" --allow-missing states
report "setup: ... --allow-missing installs it" test "$status" -eq 0
setup check states
report "setup: ... check: installed, entries missing, exit status 1" \
  bash -c '[ "$1" -eq 1 ] && grep -q "^State: installed, the engine lacks entries" <<<"$2"' _ "$status" "$out"
rm "$dir/Tolvan32.dll"
setup check states
check_seen+=" $status"
report "setup: ... the module deleted: interrupted, exit status 5" test "$status" -eq 5

# Refusals name the file, error texts have no "%1".
host errors Tolvan32.dll="$engine" Ravix32.dll="$ravix"
setup install --module "$module_path" ""
report "setup: an empty folder name: the refusal names it" refused '"" (an empty name): the folder cannot be used'
printf 'not a library' >"$setup_work/text.dll"
setup install --module "$(windows_path "$setup_work/text.dll")" errors
refused_without_insert() { refused "$1" && ! grep -q "%1" <<<"$out"; }
report "setup: a text file as the module: refused, named, the system's text without %1" \
  refused_without_insert 'text.dll: it cannot be read as a library: .*(error 193)$'

setup frobnicate
report "setup: unknown verb, exit status 2" test "$status" -eq 2

# --- both tools: --version --------------------------------------------------------
module_version=$(python3 - "$product/Tolvan32.dll" <<'PYTHON'
import sys
data = open(sys.argv[1], "rb").read()
fixed = data.find(bytes.fromhex("bd04effe"), data.find("VS_VERSION_INFO".encode("utf-16-le")))
most, least = (int.from_bytes(data[fixed + i:fixed + i + 4], "little") for i in (8, 12))
print(f"{most >> 16}.{most & 0xffff}.{least >> 16}.{least & 0xffff}")
PYTHON
)
for tool in "$setup_exe" "$trace_exe"; do
  name=$(basename "$tool" .exe)
  wine "$work" "$tool" --version
  report "$name --version prints the module's version $module_version" test "$status:$out" == "0:$name $module_version"
done

# --- tolvan32-setup trace ---------------------------------------------------------
# On, status and off, for the user and with --machine, read back from the
# registry with Wine's reg, the logs as Wine keeps them, and a host started
# afterwards: Wine gives a new process the environment of the registry.
drive_c=$("$runner" --prefix)/drive_c
user_key='HKCU\Environment'
machine_key='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
reg_value() {  # KEY NAME: the value, empty when not set
  "$runner" --wine64 reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -nE "s/^ +$2 +REG_SZ +(.*)$/\1/p"
}
trace_variables=(Tolvan32_Debug Tolvan32_TraceIds Tolvan32_TraceTime Tolvan32_Recorder Tolvan32_RecorderSlowMs)
variables() {  # each place's Tolvan32_Debug/TraceIds/TraceTime, as "user machine"
  local key values=()
  for key in "$user_key" "$machine_key"; do
    values+=("$(reg_value "$key" Tolvan32_Debug)/$(reg_value "$key" Tolvan32_TraceIds)/$(reg_value "$key" Tolvan32_TraceTime)")
  done
  echo "${values[*]}"
}
clear_variables() {
  local key name
  for key in "$user_key" "$machine_key"; do
    for name in "${trace_variables[@]}"; do "$runner" --wine64 reg delete "$key" /v "$name" /f >/dev/null 2>&1; done
  done
}
logs_of_drive_c=("$drive_c/Tolvan32_a.log" "$drive_c/Tolvan32_b.log")
request=$drive_c/Tolvan32_snapshot.req
clear_logs() { chattr -i "${logs_of_drive_c[@]}" 2>/dev/null; rm -rf "${logs_of_drive_c[@]}" "$request"; }
clear_logs
clear_variables
wine "$work" "$setup_exe" trace on --level 3
report "trace: on --level 3 is a usage error (exit 2), nothing set" test "$status:$(variables)" == "2:// //"
wine "$work" "$setup_exe" trace on --level 2 --ids
report "trace: on --level 2 --ids, exit 0: reg query reads 2, 1 and 1 for the user, nothing for the machine" \
  test "$status:$(variables)" == "0:2/1/1 //"
# Upstream Wine keeps no access list for a file, only the Unix mode it maps
# the list to: no entry for everyone, so no access for others.
report "trace: ... both logs created empty, no access for others (Wine's mode from their permissions)" \
  bash -c 'for log; do [ -f "$log" ] && [ ! -s "$log" ] && [[ $(stat -c %A "$log") == *--- ]] || exit 1; done' \
  _ "${logs_of_drive_c[@]}"
wine "$work" "$setup_exe" trace status
report "trace: status, exit 0: set for the user and in its own process, both logs appendable" \
  bash -c '[ "$1" -eq 0 ] && grep -qxE "  user +2" <<<"$2" && grep -qxE "  this process +2" <<<"$2" &&
    [ "$(grep -c "^Log .*: present, 0 bytes, this user can append to it$" <<<"$2")" -eq 2 ] &&
    grep -q "^Programs this user starts from now on: trace level 2, with process and thread ids, with the time" <<<"$2"' \
  _ "$status" "$out"
if [ -f "$e2e/tolvan_e2e_host.exe" ]; then
  # The scenario's own comparisons expect options it was not given: only the trace counts here.
  (cd "$e2e" && env -u Tolvan32_Debug -u Tolvan32_TraceIds WINEPATH="$(windows_path "$product");$(windows_path "$e2e/engine")" \
    E2E_ENGINE_DIR="$(windows_path "$e2e/engine")" "$runner" ./tolvan_e2e_host.exe typical-road >/dev/null 2>&1 </dev/null)
  report "trace: a host started afterwards, without the variable in its Unix environment, traces into both logs" \
    bash -c 'for log; do grep -q "CDataDictionary::Open(char const \*) C:" "$log" || exit 1; done' _ "${logs_of_drive_c[@]}"
fi
wine "$work" "$setup_exe" trace on --machine --plain
report "trace: on --machine --plain, exit 0: reg query reads 1 and neither ids nor time for every user" \
  test "$status:$(variables)" == "0:2/1/1 1//"
wine "$work" "$setup_exe" trace off
report "trace: off for the user, exit 0: its values gone, the machine's kept and named" \
  bash -c '[ "$1" = "0:// 1//" ] && grep -q "^NOTE: Tolvan32_Debug is still set for every user" <<<"$2"' \
  _ "$status:$(variables)" "$out"
wine "$work" "$setup_exe" trace status
report "trace: status shows the machine's setting, level 1 without ids and time" \
  bash -c 'grep -qxE "  machine +1" <<<"$1" && grep -q "trace level 1, without ids, without the time\.$" <<<"$1"' _ "$out"
wine "$work" "$setup_exe" trace off --machine --delete-logs
report "trace: off --machine --delete-logs, exit 0: no variable anywhere, no log" \
  bash -c '[ "$1" = "0:// //" ] && [ ! -e "$2" ] && [ ! -e "$3" ]' _ "$status:$(variables)" "${logs_of_drive_c[@]}"
wine "$work" "$setup_exe" trace status
report "trace: status afterwards: no trace, both logs missing, exit 0" \
  bash -c '[ "$1" -eq 0 ] && grep -q "from now on: no trace" <<<"$2" && [ "$(grep -c ": missing$" <<<"$2")" -eq 2 ]' \
  _ "$status" "$out"

# Ids and time by default: plain "trace on" marks every line, --plain takes
# the marks away again, status shows each option.
wine "$work" "$setup_exe" trace on
on_default="$status:$(variables)"
wine "$work" "$setup_exe" trace status
status_out=$out
wine "$work" "$setup_exe" trace on --plain
report "trace on marks lines with ids and time by default, --plain removes both, status shows each option" \
  bash -c '[ "$1" = "0:1/1/1 //" ] && [ "$2" = "0:1// //" ] &&
    for name in Tolvan32_Debug Tolvan32_TraceIds Tolvan32_TraceTime; do grep -qx "$name" <<<"$3" || exit 1; done &&
    grep -q "trace level 1, with process and thread ids, with the time\.$" <<<"$3" &&
    grep -qx "  Tolvan32_TraceIds, Tolvan32_TraceTime: not set (--plain: lines without ids and time)" <<<"$4"' \
  _ "$on_default" "$status:$(variables)" "$status_out" "$out"

# The flight recorder instead of the full trace: its two variables set, the
# full trace's three removed, the request file prepared; status shows it
# and the log's blocks; snapshot appends to the request and counts the
# block a process writes meanwhile (appended here once the request grew);
# plain on and off remove the recorder's variables.
recorder_values() { echo "$(reg_value "$user_key" Tolvan32_Recorder)/$(reg_value "$user_key" Tolvan32_RecorderSlowMs)"; }
wine "$work" "$setup_exe" trace on --recorder 99
recorder_refused="$status:$(recorder_values)"
wine "$work" "$setup_exe" trace on --recorder --slow 250
recorder_on="$status:$(variables):$(recorder_values)" recorder_out=$out
printf ' [5:6] @10:00:00.000001 *** Recorder *** error 2 \r\n [5:6] @10:00:00.000002 *** Recorder end *** \r\n' \
  >>"${logs_of_drive_c[0]}"
wine "$work" "$setup_exe" trace status
recorder_status=$out
asked=$(stat -c %s "$request" 2>/dev/null || echo 0)
(for _ in $(seq 300); do [ "$(stat -c %s "$request")" -gt "$asked" ] && break; sleep 0.1; done
  printf ' [5:6] @10:00:01.000001 *** Recorder *** snapshot 0 \r\n' >>"${logs_of_drive_c[0]}") &
wine "$work" "$setup_exe" trace snapshot
wait
snapshot_out="$status"$'\n'$out
wine "$work" "$setup_exe" trace on
recorder_plain=$(recorder_values)
wine "$work" "$setup_exe" trace on --recorder 100000
wine "$work" "$setup_exe" trace off
recorder_off="$status:$(recorder_values)"
out="$recorder_refused $recorder_on $recorder_plain $recorder_off"$'\n'$recorder_out$'\n'$recorder_status$'\n'$snapshot_out
report "trace on --recorder: N of 99 refused (exit 2, nothing set); --recorder --slow 250 sets 1000 and 250, removes the trace's three, creates the request file; plain on and off remove both" \
  bash -c '[ "$1" = "2:/" ] && [ "$2" = "0:// //:1000/250" ] && [ "$3" = "/" ] && [ "$4" = "0:/" ] &&
    grep -q "^Request file C:.Tolvan32_snapshot.req: created, empty; every authenticated user may append" <<<"$5"' \
  _ "$recorder_refused" "$recorder_on" "$recorder_plain" "$recorder_off" "$recorder_out"
report "trace status: the recorder on with its lines and slow trigger, the log's blocks by trigger" \
  bash -c 'grep -qx "Recorder: on, the last 1000 lines of each process; a call longer than 250 ms writes a block" <<<"$1" &&
    grep -qx "Recorder blocks in C:.Tolvan32_a.log: 1 (error 1)" <<<"$1" &&
    grep -q "^Programs this user starts from now on: the flight recorder" <<<"$1"' _ "$recorder_status"
report "trace snapshot: a line with the date, time and user appended to the request file; the block written meanwhile counted" \
  bash -c '[ "$(head -n 1 <<<"$1")" = 0 ] && grep -qx "Since then, log C:.Tolvan32_a.log gained 1 snapshot block" <<<"$1" &&
    [ "$(wc -l <"$2")" -eq 1 ] && grep -qaE "$3" "$2"' \
  _ "$snapshot_out" "$request" $'^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} .+\r$'
clear_logs
clear_variables

# Old logs: named with their size when tracing goes on, renamed aside with
# --archive; after off, status advises collect, then delete.
old_run=$(head -c 92160 /dev/zero | tr '\0' 'x')
printf '%s' "$old_run" >"${logs_of_drive_c[0]}"
printf '%s' "$old_run" >"${logs_of_drive_c[1]}"
wine "$work" "$setup_exe" trace on
appended=$out appended_status=$status
wine "$work" "$setup_exe" trace on --archive
archived=$out archived_status=$status
aside=("$drive_c"/Tolvan32_a-[0-9]*-[0-9]*.log "$drive_c"/Tolvan32_b-[0-9]*-[0-9]*.log)
report "trace on names the logs of earlier runs and their size; --archive renames them aside, dated" \
  bash -c '[ "$1:$3" = "0:0" ] && [ "$(grep -c "^Log C:.Tolvan32_[ab].log: holds 92160 bytes of earlier runs: new runs are appended to them" <<<"$2")" -eq 2 ] &&
    [ "$(grep -cE "^Log C:.Tolvan32_[ab].log: holds 92160 bytes of earlier runs: renamed to C:.Tolvan32_[ab]-[0-9]{8}-[0-9]{6}.log$" <<<"$4")" -eq 2 ] &&
    [ "$(stat -c %s "$5")" -eq 92160 ] && [ "$(stat -c %s "$6")" -eq 92160 ] && [ ! -s "$7" ] && [ ! -s "$8" ]' \
  _ "$appended_status" "$appended" "$archived_status" "$archived" "${aside[@]}" "${logs_of_drive_c[@]}"
rm -f "$drive_c"/Tolvan32_[ab]-*.log
printf '%s' "$old_run" >>"${logs_of_drive_c[0]}"
wine "$work" "$setup_exe" trace off
wine "$work" "$setup_exe" trace status
report "trace status after off: the logs' bytes named, collect advised, then delete" \
  bash -c 'grep -qx "Next: the logs hold 92160 bytes of traced runs: collect them for support with: tolvan32-setup trace collect" <<<"$1" &&
    grep -qx "      then delete them (they hold the host.s data) with: tolvan32-setup trace off --delete-logs" <<<"$1"' _ "$out"

# Logs that cannot be appended to or deleted. Wine gives a file without
# write permission the read-only attribute; an immutable file (chattr +i)
# can be neither opened for writing nor deleted, even by root.
chmod a-w "${logs_of_drive_c[@]}"
wine "$work" "$setup_exe" trace on
readonly_on=$out readonly_status=$status
chmod a-w "${logs_of_drive_c[@]}"
wine "$work" "$setup_exe" trace off --delete-logs
readonly_off=$out readonly_off_status=$status
printf 'x' >"${logs_of_drive_c[0]}"
: >"${logs_of_drive_c[1]}"
if chattr +i "${logs_of_drive_c[0]}"; then
  wine "$work" "$setup_exe" trace on
  stuck_on=$out stuck_status=$status
  wine "$work" "$setup_exe" trace off --delete-logs
  chattr -i "${logs_of_drive_c[0]}"
  report "trace: logs that cannot be appended to or deleted say so with the fix; read-only ones are mended" \
    bash -c '[ "$1" -eq 0 ] && [ "$(grep -c "^Log C:.Tolvan32_[ab].log: was read-only; the attribute is cleared$" <<<"$2")" -eq 2 ] &&
      [ "$3" -eq 0 ] && [ "$(grep -c "^Log C:.Tolvan32_[ab].log: deleted$" <<<"$4")" -eq 2 ] &&
      [ "$5" -eq 1 ] && grep -qx "  C:.Tolvan32_a.log exists but cannot be appended to: the host writes no trace into it." <<<"$6" &&
      grep -q "^  Fix: from a command prompt opened with \"Run as administrator\": tolvan32-setup trace collect" <<<"$6" &&
      [ "$7" -eq 1 ] && grep -q "^Log C:.Tolvan32_a.log: NOT deleted: " <<<"$8" &&
      ! grep -q "Tolvan32_a.log: deleted" <<<"$8" && [ -f "$9" ]' \
    _ "$readonly_status" "$readonly_on" "$readonly_off_status" "$readonly_off" "$stuck_status" "$stuck_on" \
    "$status" "$out" "${logs_of_drive_c[0]}"
else
  report "trace: a log that cannot be appended to (chattr +i not possible here)" false
fi
clear_logs
clear_variables

# Typos: the word not understood, the nearest verb or option, that verb's
# usage alone, exit status 2; in both tools.
typo() {  # EXPECTED-FIRST-LINE TOOL ARGS...: exit 2, that first line, a short usage
  local expected=$1
  shift
  wine "$work" "$@"
  [ "$status" -eq 2 ] && [ "$(head -n 1 <<<"$out")" = "$expected" ] && grep -q "lists every" <<<"$out" &&
    [ "$(wc -l <<<"$out")" -le 10 ] || { echo "for: ${*:2}"; return 1; }
}
typos() {
  typo "tolvan32-setup: unknown verb instal; did you mean install?" "$setup_exe" instal &&
    typo "tolvan32-setup: unknown trace action of; did you mean off?" "$setup_exe" trace of &&
    typo "tolvan32-setup: unknown trace action snapshto; did you mean snapshot?" "$setup_exe" trace snapshto &&
    typo "tolvan32-setup: unknown trace on option --recoder; did you mean --recorder?" "$setup_exe" trace on --recoder &&
    typo "tolvan32-setup: unknown trace on option --id; did you mean --ids?" "$setup_exe" trace on --id &&
    typo "tolvan32-setup: --level takes 1 or 2, not 3" "$setup_exe" trace on --level 3 &&
    typo "tolvan32-setup: unknown install option --dryrun; did you mean --dry-run?" "$setup_exe" install --dryrun &&
    typo "tolvan32-setup: one folder only, and a and b were both given" "$setup_exe" check a b &&
    typo "tolvan32-trace: unknown command sumary; did you mean summary?" "$trace_exe" sumary x.log &&
    typo "tolvan32-trace: unknown option --eror; did you mean --errors?" "$trace_exe" show --eror x.log &&
    typo "tolvan32-trace: unknown option --jsn; did you mean --json?" "$trace_exe" summary a.log b.log --jsn
}
report "typos in both tools: the word named, the nearest verb or option suggested, a short usage, exit 2" typos

# --- tolvan32-setup trace collect ---------------------------------------------------
# bundle_checks ZIP ENTRY...: Python's zipfile reads every entry back whole
# (testzip: each CRC), the entries are those and in that order, and the
# manifest gives each one's size, CRC-32 and the hash install compares by.
bundle_checks() {
  python3 - "$@" <<'PYTHON'
import sys, zipfile, zlib
path, *names = sys.argv[1:]
problems = []
with zipfile.ZipFile(path) as z:
    bad = z.testzip()
    if bad is not None: problems.append("damaged entry " + bad)
    got = [i.filename for i in z.infolist()]
    if got != names: problems.append("entries %s, expected %s" % (got, names))
    manifest = z.read("manifest.txt").decode()
    for name in got[:-1]:
        data = z.read(name)
        h = 0xcbf29ce484222325
        for b in data: h = ((h ^ b) * 0x100000001b3) & 0xffffffffffffffff
        line = "%-20s %12d  %08x  %016x" % (name, len(data), zlib.crc32(data), h)
        if line not in manifest: problems.append("the manifest lacks: " + line)
print("\n".join(problems) if problems else "bundle as expected")
sys.exit(1 if problems else 0)
PYTHON
}
export -f bundle_checks
collect_work=$work/collect
mkdir -p "$collect_work"
clear_logs
printf ' CDataDictionary::Open(char const *) C:\\Data\\Customer.dat\r\n' >"${logs_of_drive_c[0]}"
printf ' CDataDictionary::Open(char const *) ........\r\n' >"${logs_of_drive_c[1]}"
complete_path=$(windows_path "$work/complete")
wine "$collect_work" "$setup_exe" trace collect --out ticket.zip "$complete_path"
collected=$out collected_status=$status
collect_entries=(Tolvan32_a.log Tolvan32_b.log check.txt trace-status.txt computer.txt manifest.txt)
out=$collected$'\n'$(bundle_checks "$collect_work/ticket.zip" "${collect_entries[@]}" 2>&1; unzip -t "$collect_work/ticket.zip" 2>&1)
report "trace collect: one zip, testzip and unzip -t pass, the six entries, the manifest's sizes and hashes right" \
  bash -c '[ "$1" -eq 0 ] && bundle_checks "$2" "${@:5}" >/dev/null && unzip -tq "$2" >/dev/null &&
    grep -qx "Written: $3.ticket.zip (.* bytes)" <<<"$4"' _ "$collected_status" "$collect_work/ticket.zip" \
  "$(windows_path "$collect_work" | sed 's/\\/./g')" "$collected" "${collect_entries[@]}"
report "trace collect: the logs byte for byte, check of the folder, status, the computer and its Windows" \
  bash -c 'cd "$1" && rm -rf x && mkdir x && cd x && unzip -q ../ticket.zip && cmp Tolvan32_a.log "$2" && cmp Tolvan32_b.log "$3" &&
    grep -qx "State: installed, complete" check.txt && grep -qx "(exit status 0)" check.txt &&
    grep -qx "Tolvan32_TraceTime" trace-status.txt && grep -qE "^Computer: .+" computer.txt &&
    grep -qE "^Windows:  [0-9]+\.[0-9]+\.[0-9]+" computer.txt' _ "$collect_work" "${logs_of_drive_c[@]}"
wine "$collect_work" "$setup_exe" trace collect "$complete_path"
named=$(sed -nE 's/^Written: .*\\(Tolvan32-[A-Za-z0-9_-]+-[0-9]{8}-[0-9]{6}\.zip) \([0-9]+ bytes\)$/\1/p' <<<"$out")
report "trace collect: named after the computer and the time, in the current folder, where it is said" \
  bash -c '[ "$1" -eq 0 ] && [ -n "$2" ] && [ -f "$3/$2" ]' _ "$status" "$named" "$collect_work"
wine "$collect_work" "$setup_exe" trace collect --out ticket.zip "$complete_path"
report "trace collect: an existing file is never overwritten (exit 1, named)" \
  bash -c '[ "$1" -eq 1 ] && grep -q "^FAILED: the bundle .*ticket.zip cannot be created: .*--out" <<<"$2" &&
    bundle_checks "$3" "${@:4}" >/dev/null' _ "$status" "$out" "$collect_work/ticket.zip" "${collect_entries[@]}"
# The reader beside the tool writes the redacted report.
cp "$setup_exe" "$trace_exe" "$collect_work/"
wine "$collect_work" "$collect_work/tolvan32-setup.exe" trace collect --redact --out redacted.zip "$complete_path"
redacted_status=$status
report "trace collect --redact: the reader's redacted report instead of the logs, no value of the log in it" \
  bash -c '[ "$1" -eq 0 ] && bundle_checks "$2/redacted.zip" Tolvan32_a-report.html check.txt trace-status.txt computer.txt manifest.txt >/dev/null &&
    unzip -p "$2/redacted.zip" Tolvan32_a-report.html | grep -q "<html" &&
    ! unzip -p "$2/redacted.zip" Tolvan32_a-report.html | grep -q "Customer.dat"' _ "$redacted_status" "$collect_work"
# A log this user cannot read (a folder under its name: opening it for
# reading is refused as a file without read access is).
rm -f "${logs_of_drive_c[1]}" && mkdir "${logs_of_drive_c[1]}"
wine "$collect_work" "$setup_exe" trace collect --out unreadable.zip "$complete_path"
report "trace collect: a log it cannot read is named with the command that reads it, elevated; exit 1, the rest bundled" \
  bash -c '[ "$1" -eq 1 ] && grep -q "^  Tolvan32_b.log    NOT INCLUDED: C:.Tolvan32_b.log cannot be read by this user: .*(error 5)" <<<"$2" &&
    grep -q "^From a command prompt opened with \"Run as administrator\", run:" <<<"$2" &&
    grep -q "tolvan32-setup.exe\" trace collect --out unreadable.zip" <<<"$2" &&
    bundle_checks "$3" Tolvan32_a.log check.txt trace-status.txt computer.txt manifest.txt >/dev/null &&
    unzip -p "$3" manifest.txt | grep -q "^Tolvan32_b.log  NOT INCLUDED"' _ "$status" "$out" "$collect_work/unreadable.zip"
clear_logs

# --- tolvan32-setup check: what a folder is, in full ----------------------------------
wine "$work" "$setup_exe" check 'C:\'
root_status=$status root_out=$out check_seen+=" $status"
mkdir -p "$setup_work/relative"
cp "$engine" "$setup_work/relative/Tolvan32.dll"
cp "$ravix" "$setup_work/relative/Ravix32.dll"
setup check relative
fresh_status=$status fresh_out=$out check_seen+=" $status"
setup install --module "$module_path" --dry-run relative
report "check: C:\\ is not a host folder (exit 7, not BROKEN); paths in full; not installed said once; install names the full path" \
  bash -c '[ "$1" -eq 7 ] && grep -q "^State: not a host folder: C:.Tolvan32.dll: it is missing, and so is Tolvan33.dll" <<<"$2" &&
    ! grep -q BROKEN <<<"$2" && [ "$3" -eq 4 ] && [ "$(grep -o "not installed" <<<"$4" | wc -l)" -eq 1 ] &&
    grep -qx "State: not installed: Z:.*.relative.Tolvan32.dll: Tolvan32.dll is still the engine (version [0-9.]*)" <<<"$4" &&
    grep -qx "Installing the module in Z:.*.relative" <<<"$5"' _ "$root_status" "$root_out" "$fresh_status" "$fresh_out" "$out"

# --- the support loop, as the guide and README.txt give it -------------------------
# install, trace on, two hosts at once, trace off, trace collect, the reader
# on what the bundle holds, the logs deleted, uninstall: each command of the
# tools counted, their output kept for the guide's examples (below).
loop_commands=0
loop() {  # FOLDER PROGRAM ARGS...: one command of the loop
  loop_commands=$((loop_commands + 1))
  wine "$@"
}
declare -A example
if [ -f "$e2e/tolvan_e2e_host.exe" ]; then
  host Host Tolvan32.dll="$engine" Ravix32.dll="$ravix" tolvan_e2e_host.exe="$e2e/tolvan_e2e_host.exe"
  loop_before=$before
  host_w=$(windows_path "$dir") dist_w=$(windows_path "$dist")
  clear_logs
  clear_variables
  rm -f "$dist"/Tolvan32-*.zip
  loop_status=""
  loop "$dist" "$dist/tolvan32-setup.exe" install "$host_w"
  example[install]=$out loop_status+=" $status"
  wine "$dist" "$dist/tolvan32-setup.exe" check "$host_w"
  example[check]=$out
  loop "$dist" "$dist/tolvan32-setup.exe" trace on
  example[trace-on]=$out loop_status+=" $status"
  # Two hosts at once, started afterwards: Wine gives them the registry's environment.
  for run in 1 2; do
    (cd "$dir" && env -u Tolvan32_Debug -u Tolvan32_TraceIds -u Tolvan32_TraceTime \
      "$runner" ./tolvan_e2e_host.exe typical-road >/dev/null 2>&1 </dev/null) &
  done
  wait
  wine "$dist" "$dist/tolvan32-setup.exe" trace status
  example[trace-status]=$out
  loop "$dist" "$dist/tolvan32-setup.exe" trace off
  loop_status+=" $status"
  wine "$dist" "$dist/tolvan32-setup.exe" trace status
  example[trace-status-off]=$out
  loop "$dist" "$dist/tolvan32-setup.exe" trace collect "$host_w"
  example[trace-collect]=$out loop_status+=" $status"
  bundle=$(ls "$dist"/Tolvan32-*.zip 2>/dev/null | head -n 1)
  # The reader takes the bundle itself: its plain log, read out of the zip.
  loop "$dist" "$trace_exe" summary "$(basename "${bundle:-none.zip}")"
  loop_summary=$out loop_status+=" $status"
  [ -n "$bundle" ] && cp "$bundle" "$work/loop-bundle.zip"
  processes=$("$host_trace" summary --json "$work/loop-bundle.zip" 2>/dev/null |
    python3 -c 'import json, sys; print(len({r["process"] for r in json.load(sys.stdin)["runs"]}))' 2>/dev/null || echo 0)
  loop "$dist" "$dist/tolvan32-setup.exe" uninstall "$host_w"
  example[uninstall]=$out loop_status+=" $status"
  loop "$dist" "$dist/tolvan32-setup.exe" trace off --delete-logs
  loop_status+=" $status"
  before=$loop_before
  out="statuses:$loop_status; processes in the log: $processes"$'\n'$loop_summary
  echo "== the support loop: $loop_commands commands of the tools, and two runs of the host"
  report "loop of the guide: $loop_commands commands, each exit 0; the reader reads the bundle's log whole, two hosts in it; uninstall names the logs left, then deleted" \
    bash -c '[ "$1" = " 0 0 0 0 0 0 0" ] && [ "$2" -le 8 ] && grep -qE "^ +0  lines that could not be read$" <<<"$3" &&
      [ "$4" -ge 2 ] && [ ! -e "$5" ] && [ ! -e "$6" ] &&
      grep -qE "^The trace logs remain, and hold the host.s data: C:.Tolvan32_a.log \([0-9]+ bytes\), C:.Tolvan32_b.log" <<<"$7" &&
      grep -q "^Delete them with: tolvan32-setup trace off --delete-logs" <<<"$7"' \
    _ "$loop_status" "$loop_commands" "$loop_summary" "$processes" "${logs_of_drive_c[@]}" "${example[uninstall]}"
  report "loop of the guide: ... the host's folder byte for byte as before" as_it_was
else
  report "loop of the guide (no end-to-end host built)" false
fi
clear_logs
clear_variables

# The guide's examples of the tools' output are this output: each block
# marked "<!-- tools stage: NAME -->" matches it line by line, the folders
# given as C:\Host and C:\Dist, "…" standing for any text within a line and
# a line "..." for any lines.
guide_example() {  # NAME OUTPUT
  python3 - "$TOLVAN_ROOT/docs/support.md" "$1" "$host_w" "$dist_w" "$2" <<'PYTHON'
import re, sys
guide, name, host, dist, output = sys.argv[1:]
lines = open(guide, encoding="utf-8").read().split("\n")
marker = "<!-- tools stage: %s -->" % name
if marker not in lines: sys.exit("no block marked " + marker)
at = lines.index(marker) + 2
block = []
while not lines[at].startswith("```"):
    block.append(lines[at]); at += 1
if block and re.match(r"^[A-Z]:\\[^>]*> ", block[0]): block = block[1:]
got = output.replace(host, "C:\\Host").replace(dist, "C:\\Dist").split("\n")
def match(i, j):
    if i == len(block): return j == len(got)
    if block[i].strip() == "...":
        return any(match(i + 1, k) for k in range(j, len(got) + 1))
    pattern = ".*".join(re.escape(part) for part in block[i].split("…"))
    return j < len(got) and re.fullmatch(pattern, got[j]) is not None and match(i + 1, j + 1)
if not match(0, 0):
    print("the guide's block %s:\n%s\nthe tool's output:\n%s" % (name, "\n".join(block), "\n".join(got)))
    sys.exit(1)
PYTHON
}
for name in install check trace-on trace-status trace-status-off trace-collect uninstall; do
  out=$(guide_example "$name" "${example[$name]:-}" 2>&1)
  report "guide: the example of $name is the tool's output" test -z "$out"
done

# The exit statuses README.txt, --help and the guide list are those the tools return.
wine "$work" "$setup_exe" --help
help=$out
documented_statuses() {
  python3 - "$TOLVAN_ROOT/docs/install.txt" "$TOLVAN_ROOT/docs/support.md" "$1" "$2" <<'PYTHON'
import re, sys
readme, guide, help_text, seen = open(sys.argv[1]).read(), open(sys.argv[2]).read(), sys.argv[3], sys.argv[4]
flat = lambda text: " ".join(text.split())
problems = []
paragraphs = re.findall(r"Exit status of [^:]+:.*?\.(?:\n|\Z)", help_text, re.S)
if len(paragraphs) < 3: problems.append("--help lists %d exit status paragraphs" % len(paragraphs))
for paragraph in paragraphs:
    if flat(paragraph) not in flat(readme): problems.append("README.txt lacks: " + flat(paragraph))
check = next((flat(p) for p in paragraphs if p.startswith("Exit status of check")), "")
listed = sorted(set(re.findall(r"(?:: |; )(\d) ", check)))
table = sorted(set(re.findall(r"^\| (\d) \| `State:", guide, re.M)) | {"2"})
seen = sorted(set(seen.split()))
if not (listed == table == seen):
    problems.append("check's statuses: --help %s, guide %s, returned %s" % (listed, table, seen))
print("\n".join(problems))
sys.exit(1 if problems else 0)
PYTHON
}
out=$(documented_statuses "$help" "$check_seen" 2>&1)
report "docs: README.txt holds --help's exit statuses; check's in --help and the guide are those returned ($check_seen )" \
  test -z "$out"

# --- tolvan32-trace -------------------------------------------------------------
logs=$work/logs
mkdir -p "$logs"
status=0
TOLVAN_TRACE_SAMPLE=$logs/sample.log "$build/host/tools/tolvan_tool_tests" \
  --gtest_filter='TraceReportTest.ASampleLogWithEveryKindOfLine' >/dev/null || status=$?
report "trace: a sample log from the host tests" test "$status" -eq 0 -a -s "$logs/sample.log"
cut_line=$(($(wc -l <"$logs/sample.log") + 1))  # the last line has no line end

if [ -f "$e2e/tolvan_e2e_host.exe" ] && [ -f "$TOLVAN_ROOT/tests/e2e/wine.sh" ]; then
  # Every traced end-to-end scenario, its logs appended as successive runs
  # of the product append to the same two files.
  source "$TOLVAN_ROOT/tests/e2e/wine.sh"
  e2e_prepare >/dev/null
  # Once as they are, once more with ids into e2e_ids_*.log, where the
  # threads and the second process tracing at once join them.
  scenarios=$(e2e_host --list | tr -d '\r')
  runs=0
  for ids in "" _ids; do
    : >"$logs/e2e${ids}_a.log"
    : >"$logs/e2e${ids}_b.log"
    while IFS=$'\t' read -r -a fields; do
      grep -q 'Tolvan32_Debug=[12]$' <(printf '%s\n' "${fields[@]:2}") || continue
      # Without ids, lines of threads and processes tracing at once cannot be paired.
      case ${fields[0]}$ids in concurrent-*_ids) [ "${fields[0]}" = concurrent-tracing ] && continue ;;
        concurrent-*) continue ;; esac
      e2e_run "${fields[0]}" "${fields[1]}" "${fields[@]:2}" ${ids:+Tolvan32_TraceIds=1} </dev/null >/dev/null 2>&1 || true
      for letter in a b; do
        [ -f "$E2E_DRIVE_C/Tolvan32_$letter.log" ] && cat "$E2E_DRIVE_C/Tolvan32_$letter.log" >>"$logs/e2e${ids}_$letter.log"
      done
      # Two processes contending for one table, timed, for the report of time below.
      [ "${fields[0]}$ids" = timed-contention ] && cp "$E2E_DRIVE_C/Tolvan32_a.log" "$logs/timed_a.log"
      [ -z "$ids" ] && runs=$((runs + 1))
    done <<<"$scenarios"
  done
  report "trace: logs of $runs traced end-to-end scenarios" test "$runs" -gt 0 -a -s "$logs/e2e_a.log"
  # The recorder's scenarios, their blocks appended in turn; the snapshot
  # asked for by tolvan32-setup itself, as the hosts run.
  : >"$logs/recorder_a.log"
  recorder_runs=0 snapshot_run=""
  while IFS=$'\t' read -r -a fields; do
    grep -q '^Tolvan32_Recorder=' <(printf '%s\n' "${fields[@]:2}") || continue
    status=0
    run_out=$(e2e_run "${fields[0]}" "${fields[1]}" "${fields[@]:2}" \
      TOLVAN_E2E_SNAPSHOT="\"$(windows_path "$setup_exe")\" trace snapshot" </dev/null 2>&1) || status=$?
    [ "${fields[0]}" = recorder-snapshot ] && snapshot_run="$status"$'\n'$(tr -d '\r' <<<"$run_out")
    [ -f "$E2E_DRIVE_C/Tolvan32_a.log" ] && cat "$E2E_DRIVE_C/Tolvan32_a.log" >>"$logs/recorder_a.log"
    recorder_runs=$((recorder_runs + 1))
  done <<<"$scenarios"
  rm -f "$E2E_DRIVE_C/Tolvan32_snapshot.req"
  if [ "$recorder_runs" -gt 0 ]; then
    out=$snapshot_run
    report "trace snapshot: tolvan32-setup run by a host reaches it and a second running host, one block each" \
      bash -c '[ "$(head -n 1 <<<"$1")" = 0 ] && grep -q "^Snapshot asked for: a line appended to C:.Tolvan32_snapshot.req" <<<"$1" &&
        grep -qx "result recorder-snapshot: passed (.*)" <<<"$1"' _ "$snapshot_run"
    out=$(cd "$logs" && "$host_trace" summary --json recorder_a.log | python3 -c '
import json, sys
d = json.load(sys.stdin)
blocks = d["recorder_blocks"]
triggers = sorted(set(b["trigger"] for b in blocks))
print(d["bad_lines"], "damaged lines;", len(blocks), "blocks:", triggers)
ok = (d["bad_lines"] == 0 and d["recorder_log"] and d["calls"] > 0 and
      triggers == ["error", "exception", "policy", "slow", "snapshot"] and
      all(b["end_mark"] and b["recorded"] <= b["lines"] for b in blocks))
sys.exit(0 if ok else 1)' 2>&1)
    report "trace: the logs of $recorder_runs recorder scenarios: every line understood, blocks of each trigger, each with its end mark" \
      test $? -eq 0
    compared_recorder=recorder_a.log
  else
    echo "== no recorder scenarios in the end-to-end host"
  fi
  for letter in a b; do
    status=0
    summary=$(cd "$logs" && "$host_trace" summary "e2e_$letter.log") || status=$?
    report "trace: every line of the product's $( [ $letter = a ] && echo plain || echo masked ) log understood" \
      bash -c '[ "$1" -eq 0 ] && grep -qE "^ +0  lines that could not be read$" <<<"$2"' _ "$status" "$summary"
  done
  compared="sample.log e2e_a.log e2e_b.log e2e_ids_a.log ${compared_recorder:-}"
  # records: each line an object for Python's json, one per call, error and damaged line.
  for log in e2e_a.log e2e_b.log e2e_ids_a.log; do
    out=$(cd "$logs" && "$host_trace" records "$log" | python3 -c '
import json, subprocess, sys
objects = [json.loads(line) for line in sys.stdin]
d = json.loads(subprocess.run([sys.argv[1], "summary", "--json", sys.argv[2]], capture_output=True).stdout)
want = d["calls"] + d["error_lines"] + d["bad_lines"]
kinds = sum(1 for o in objects if "operation" in o or "error" in o or "damaged" in o)
lines = [o["line"] for o in objects]
print(len(objects), "objects,", want, "calls, error and damaged lines")
sys.exit(0 if len(objects) == want == kinds and want > 0 and lines == sorted(lines) else 1)' "$host_trace" "$log" 2>&1)
    report "trace: records of $log read by Python's json, as many as summary --json's calls, errors and damaged lines" \
      test $? -eq 0
  done
else
  echo "== no end-to-end build: the trace reader is compared on the sample log only"
  compared="sample.log"
fi

# The Windows build of the reader must print what the host build prints.
for log in $compared; do
  for command in "summary" "summary --json" "show" "show --json" "show --errors" "show --op OpenAccess" "records" \
    "report --html -" "report --redact --html -"; do
    # shellcheck disable=SC2086
    expected=$(cd "$logs" && "$host_trace" $command "$log" 2>&1) || true
    # shellcheck disable=SC2086
    wine "$logs" "$trace_exe" $command "$log"
    report "trace: Windows build, $command $log" test "$out" == "$expected"
  done
done
wine "$logs" "$trace_exe" summary sample.log
report "trace: damaged sample, exit status 1 and the cut line named" \
  bash -c '[ "$1" -eq 1 ] && grep -q "line $2: cut off" <<<"$3"' _ "$status" "$cut_line" "$out"

# --- tolvan32-trace report in a browser -------------------------------------------
# The end-to-end trace with ids: errors, forced reopens, escalations and a
# refused one, several threads and a second process.
report_log=$logs/sample.log
[ -s "$logs/e2e_ids_a.log" ] && report_log=$logs/e2e_ids_a.log
if [ "$report_log" = "$logs/e2e_ids_a.log" ]; then
  content=$(cd "$logs" && "$host_trace" summary --json e2e_ids_a.log | python3 -c '
import json, sys
d = json.load(sys.stdin)
use = d["exclusive_use"].values()
print(d["error_lines"], d["share_forcing"]["reopened_shared"], sum(u["escalated"] for u in use),
      sum(u["exclusive_refused"] for u in use))')
  threads=$(grep -aoE '^ \[[0-9]+:[0-9]+\]' "$report_log" | sort -u | wc -l)
  report "trace: the report's trace holds errors, forced reopens, escalations, refused ones (${content// /, }) and $threads threads" \
    bash -c 'for n in $1; do [ "$n" -gt 0 ] || exit 1; done; [ "$2" -ge 2 ]' _ "$content" "$threads"
fi
# browser OUT ARGS...: headless chromium as root, a new empty profile each
# time, its console on stderr (in OUT.err).
browser() {
  local result=$1 profile
  shift
  profile=$(mktemp -d "$work/chromium-XXXXXX")
  timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
    --disable-component-update --disable-sync --no-first-run --user-data-dir="$profile" \
    --enable-logging=stderr --v=0 --window-size=1040,2000 "$@" >"$result" 2>"$result.err"
}
# page_checks DOM JSON LOG REDACTED: the figures of the page (each carries its
# path in summary --json) equal the JSON's; the script ran without an error;
# a redacted page holds no text item, address, value or path of the log.
page_checks() {
  python3 - "$@" <<'PYTHON'
import html, json, re, subprocess, sys
dom_file, json_file, log, redacted = sys.argv[1:5]
dom = open(dom_file, encoding="utf-8").read()
figures = json.load(open(json_file))
problems = []
root = re.search(r"<html[^>]*>", dom).group(0)
if 'data-script="ran"' not in root: problems.append("the page's script did not run")
if "data-script-error" in root: problems.append("script error: " + root)
def resolve(path):
    value = figures
    for part in path.split("/"):
        if isinstance(value, list):
            if "=" in part:
                name, wanted = part.split("=", 1)
                value = next(item for item in value if str(item.get(name)) == wanted)
            else:
                value = value[int(part)]
        else:
            value = value[part]
    return value
keys = re.findall(r'data-key="([^"]*)"[^>]*>([0-9]+)<', dom)
for key, shown in keys:
    try:
        expected = resolve(html.unescape(key))
    except (KeyError, IndexError, StopIteration, ValueError):
        problems.append("no such figure in summary --json: " + key); continue
    if expected != int(shown): problems.append("%s: page %s, summary --json %s" % (key, shown, expected))
for needed in ("calls", "lines", "bytes", "bad_lines", "share_forcing/reopened_shared", "exclusive_use/Pack/escalated"):
    if needed not in dict(keys): problems.append("figure missing from the page: " + needed)
if redacted == "1":
    text = html.unescape(re.sub(r"<[^>]*>", " ", dom))
    secrets = set(re.findall(r"[A-Za-z]:\\[^ \r\n]+", open(log, encoding="latin-1").read()))
    shown = subprocess.run([sys.argv[5], "show", "--json", log], capture_output=True, text=True).stdout
    for line in shown.splitlines():
        stack = [json.loads(line)]
        while stack:
            node = stack.pop()
            stack += node.get("children", [])
            items = [i for i in node.get("arguments", []) if isinstance(i, str) or not float(i).is_integer()]
            items += [node.get(k) for k in ("object", "result") if isinstance(node.get(k), str)]
            # Digits alone shorter than 6 cannot be told from the page's own counts.
            secrets.update(str(i) for i in items if len(str(i)) >= (6 if str(i).isdigit() else 3)
                           and str(i) not in ("NULL", "EMPTY", "........"))
    # A value counts as shown where it stands whole: "0.1" inside a time of day like 07:14:50.166823 is not it.
    found = sorted(s for s in secrets if re.search(r"(?<![\w.])" + re.escape(s) + r"(?![\w.])", text))
    if found: problems.append("the redacted page shows: " + ", ".join(found[:10]))
    if not secrets: problems.append("no values to look for in the log")
print("\n".join(problems) if problems else "%d figures equal" % len(keys))
sys.exit(1 if problems else 0)
PYTHON
}
# timed_checks DOM JSON: the page of the timed contention log shows the slow
# Pack first among the slowest, its hold, and the other process's open inside it.
timed_checks() {
  python3 - "$@" <<'PYTHON'
import html, json, re, sys
dom = open(sys.argv[1], encoding="utf-8").read()
d = json.load(open(sys.argv[2]))
problems = []
def rows(table_id):
    table = re.search(r'<table id="%s">(.*?)</table>' % table_id, dom, re.S)
    if not table: return []
    return [[html.unescape(re.sub(r"<[^>]*>", "", cell)).strip() for cell in re.findall(r"<td[^>]*>(.*?)</td>", row, re.S)]
            for row in re.findall(r"<tr[^>]*>(.*?)</tr>", table.group(1), re.S) if "<td" in row]
slowest = rows("slowest")
first = d["slowest"][0] if d["slowest"] else {}
if not slowest or "CTable::Pack(void)" not in slowest[0][3] or first.get("operation") != "CTable::Pack(void)" \
        or first.get("duration_us", 0) < 900000 or slowest[0][5] != str(first.get("duration_us")):
    problems.append("the slow Pack is not first among the slowest: %s" % (slowest[:1],))
packer = first.get("pid")
holds = [h for t in d["tables"] if t.get("name") == "LANG" for h in t["holds"] if h["kind"] == "Pack" and h["pid"] == packer]
shown = [r for r in rows("holds-table") if r[0] == "LANG" and r[2] == "Pack" and "process %s" % packer in r[1]]
if not holds or not shown: problems.append("the Pack's hold of LANG is not on the page: %s" % rows("holds-table"))
inside = [c for c in d["contention"] if c["table"] == "LANG" and c["holder_pid"] == packer and c["waiter_pid"] != packer
          and holds and c["holder_line"] == holds[0]["start_line"] and holds[0]["start"] <= c["time"] <= holds[0]["end"]]
contended = [r for r in rows("contention") if r[0] == "LANG" and r[1] == "process %s" % packer and inside
             and r[4] == str(inside[0]["waiter_line"])]
if not inside or not contended:
    problems.append("the other process's open inside the hold is not there: %s %s" % (d["contention"], rows("contention")))
print("\n".join(problems) if problems else "the Pack first among the slowest (%s us), its hold, the open of process %s inside it"
      % (first["duration_us"], inside[0]["waiter_pid"]))
sys.exit(1 if problems else 0)
PYTHON
}
if command -v chromium >/dev/null; then
  report_name=$(basename "$report_log")
  for redact in 0 1; do
    page=$work/report-$redact.html
    flag=$([ $redact = 1 ] && echo " --redact")
    # shellcheck disable=SC2086
    wine "$logs" "$trace_exe" report $flag --html "$(windows_path "$page")" "$report_name"
    (cd "$logs" && "$host_trace" summary --json "$report_name") >"$work/report.json"
    browser "$page.dom" --dump-dom "file://$page"
    checks=0
    out=$(page_checks "$page.dom" "$work/report.json" "$report_log" "$redact" "$host_trace" 2>&1) || checks=$?
    console=$(grep -E 'CONSOLE|Uncaught' "$page.dom.err")
    out+=$'\n'$console
    report "trace: report$flag of $report_name in chromium: no script error, figures equal summary --json's$([ $redact = 1 ] && echo ", no value or path of the log")" \
      bash -c '[ "$1" -le 1 ] && [ -s "$2" ] && [ "$3" -eq 0 ] && [ -z "$4" ]' _ "$status" "$page" "$checks" "$console"
  done
  browser "$work/screenshot.out" --screenshot="$work/report.png" "file://$work/report-0.html"
  report "trace: report screenshot taken ($work/report.png)" test -s "$work/report.png"
  # The timed report of two processes contending for one table: one packs it
  # for about a second (its engine slow), the other opens it meanwhile.
  if [ -s "$logs/timed_a.log" ]; then
    page=$work/report-timed.html
    wine "$logs" "$trace_exe" report --html "$(windows_path "$page")" timed_a.log
    (cd "$logs" && "$host_trace" summary --json timed_a.log) >"$work/timed.json"
    browser "$page.dom" --dump-dom "file://$page"
    checks=0
    out=$(page_checks "$page.dom" "$work/timed.json" "$logs/timed_a.log" 0 "$host_trace" 2>&1) || checks=$?
    extra=$(timed_checks "$page.dom" "$work/timed.json" 2>&1) || checks=$?
    out+=$'\n'$extra
    console=$(grep -E 'CONSOLE|Uncaught' "$page.dom.err")
    out+=$'\n'$console
    report "trace: timed report of two processes contending in chromium: the slow Pack first among the slowest, its hold, the other's open inside it; figures equal summary --json's" \
      bash -c '[ "$1" -eq 0 ] && [ "$2" -eq 0 ] && [ -z "$3" ]' _ "$status" "$checks" "$console"
    browser "$work/screenshot-timed.out" --screenshot="$work/report-timed.png" "file://$page"
    report "trace: timed report screenshot taken ($work/report-timed.png)" test -s "$work/report-timed.png"

    # Several logs at once (a second computer: the same log under another
    # name), a .gz and the support loop's bundle, by the Windows build.
    sed -E 's/ Computer [^ ]+ User / Computer OTHER-WS User /' "$logs/timed_a.log" >"$logs/timed_other.log"
    gzip -c "$logs/timed_a.log" >"$logs/timed_a.log.gz"
    cp "$logs/timed_a.log.gz" "$logs/timed-packed.bin"
    [ -s "$work/loop-bundle.zip" ] && cp "$work/loop-bundle.zip" "$logs/bundle.zip"
    for case in "timed_a.log timed_other.log" "timed_a.log.gz" "timed-packed.bin" "bundle.zip"; do
      # shellcheck disable=SC2086
      wine "$logs" "$trace_exe" summary --json $case
      windows_json=$out windows_status=$status
      # shellcheck disable=SC2086
      out=$(cd "$logs" && "$host_trace" report --html /dev/null $case >/dev/null 2>&1 && "$host_trace" summary --json $case |
        python3 -c '
import json, subprocess, sys
d, w = json.load(sys.stdin), json.loads(sys.argv[2])
one = json.loads(subprocess.run([sys.argv[1], "summary", "--json", "timed_a.log"], capture_output=True).stdout)
case = sys.argv[3].split()
problems = []
if d != w: problems.append("the Windows build reads it otherwise")
if len(case) == 2:
    if d["calls"] != 2 * one["calls"] or len(d["computers"]) != 2 or "not compared" not in d.get("clocks", ""):
        problems.append("two logs: %s calls of %s, computers %s" % (d["calls"], one["calls"], d["computers"]))
    # Each computer its own contention: none between the two, though their clocks say the same times.
    if d["contention_more"] + len(d["contention"]) != 2 * len(one["contention"]) or not one["contention"]:
        problems.append("contention %d, of one log %d" % (len(d["contention"]), len(one["contention"])))
elif case[0] == "bundle.zip":
    if not d["logs"] or not d["logs"][0]["log"].endswith(":Tolvan32_a.log") or d["calls"] == 0 or d["bad_lines"]:
        problems.append("the bundle: %s" % d["logs"])
elif d["logs"][0]["compressed"] != "gzip" or [d[k] for k in ("lines", "bytes", "calls", "contention")] != \
        [one[k] for k in ("lines", "bytes", "calls", "contention")]:
    problems.append("gzip: %s" % d["logs"])
print("\n".join(problems) or "ok")
sys.exit(1 if problems else 0)' "$host_trace" "$windows_json" "$case" 2>&1)
      report "trace: summary and report of $case (Windows build alike)" bash -c '[ "$1" -eq 0 ] && [ "$2" = ok ]' _ "$windows_status" "$out"
    done
  else
    report "trace: a timed log of two processes contending (timed-contention)" false
  fi
else
  report "trace: chromium for the report's browser check" false
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

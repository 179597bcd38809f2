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
#   build reads them, understanding every line the product wrote.
# Ends with "N passed, N failed".
source "$(dirname "$0")/../lib.sh"
set -e
build_product
build_host host Debug
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
report "check: complete installation, exit status 0" test "$status" -eq 0
report "check: all $count engine and module entries, both value-types entries" \
  test "$(grep -c "entries    $count of $count present$" <<<"$out")" -eq 2 -a "$(grep -c 'entries    2 of 2 present$' <<<"$out")" -eq 1
report "check: the module identified by its version resource" grep -q '^  version    Tolvan32 Share$' <<<"$out"

install "$work/incomplete" "$incomplete" "$product/Tolvan32.dll"
wine "$work/incomplete" "$setup_exe" check
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
  bash -c '[ "$1" -eq 1 ] && grep -qxF "  requested  incomplete\Tolvan33.dll" <<<"$2"' _ "$status" "$out"

install "$work/no-engine" "" "$product/Tolvan32.dll"
wine "$work/no-engine" "$setup_exe" check
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
fixed = data.find(bytes.fromhex("bd04effe"))  # VS_FIXEDFILEINFO's signature
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
  bash -c '[ "$1" -eq 1 ] && grep -q "^REFUSED: no-such-folder: the folder cannot be used: .*(error 2)$" <<<"$2" &&
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
  rename intrude-install-3\\Tolvan33.dll back to intrude-install-3\\Tolvan32.dll
  delete intrude-install-3\\Tolvan32.dll.setup-new"
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
stale_refused() { refused 'Tolvan32.dll.setup-old: an uninstall stopped .*: run tolvan32-setup repair stale-old first'; }
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
  [ "$status" -eq 5 ] && grep -q "^What to do: tolvan32-setup repair $name" <<<"$out" || return 1
  setup install --module "$module_path" "$name"
  refused "run tolvan32-setup repair $name first" || return 1
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
  bash -c '[ "$1" -eq 0 ] && grep -qx "Installing the module in Хост" <<<"$2"' _ "$status" "$out"
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
  : >"$logs/e2e_a.log"
  : >"$logs/e2e_b.log"
  runs=0
  while IFS=$'\t' read -r -a fields; do
    grep -q 'Tolvan32_Debug=[12]$' <(printf '%s\n' "${fields[@]:2}") || continue
    # Threads and processes tracing at once mix their items on the lines.
    case ${fields[0]} in concurrent-*) continue ;; esac
    e2e_run "${fields[0]}" "${fields[1]}" "${fields[@]:2}" </dev/null >/dev/null 2>&1 || true
    for letter in a b; do
      [ -f "$E2E_DRIVE_C/Tolvan32_$letter.log" ] && cat "$E2E_DRIVE_C/Tolvan32_$letter.log" >>"$logs/e2e_$letter.log"
    done
    runs=$((runs + 1))
  done < <(e2e_host --list | tr -d '\r')
  report "trace: logs of $runs traced end-to-end scenarios" test "$runs" -gt 0 -a -s "$logs/e2e_a.log"
  for letter in a b; do
    status=0
    summary=$(cd "$logs" && "$host_trace" summary "e2e_$letter.log") || status=$?
    report "trace: every line of the product's $( [ $letter = a ] && echo plain || echo masked ) log understood" \
      bash -c '[ "$1" -eq 0 ] && grep -qE "^ +0  lines that could not be read$" <<<"$2"' _ "$status" "$summary"
  done
  compared="sample.log e2e_a.log e2e_b.log"
else
  echo "== no end-to-end build: the trace reader is compared on the sample log only"
  compared="sample.log"
fi

# The Windows build of the reader must print what the host build prints.
for log in $compared; do
  for command in "summary" "summary --json" "show" "show --json" "show --errors" "show --op OpenAccess"; do
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

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

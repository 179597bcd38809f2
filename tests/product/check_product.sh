#!/usr/bin/env bash
# Checks the built module against what the host and the system see of it:
# the export table (the operation table's names, ordinals 1..N in table
# order, nothing else), what every Windows from XP SP3 on needs of it and of
# the tools beside it (check_image.py), the jump of an untraced call to the
# engine entry (check_fast_path.py), the symbols (check_symbols.py), and the
# version resource.
set -u
dll=${1:?usage: check_product.sh Tolvan32.dll [NUMBER-OF-TOOLS]}
expected_tools=${2:-}
root=$(cd "$(dirname "$0")/../.." && pwd)
readobj=$(command -v llvm-readobj-16 || command -v llvm-readobj)
passed=0 failed=0
check() {  # name, then the command that must succeed
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); echo "ok   $name"; else failed=$((failed + 1)); echo "FAIL $name"; fi
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

grep -oE 'TOLVAN_OPERATION\([A-Za-z0-9_]+, "[^"]+"' "$root/core/operations.inc" \
  | sed -E 's/.*"([^"]+)"$/\1/' | awk '{ printf "%d %s\n", NR, $0 }' > "$work/expected-exports"
"$readobj" --coff-exports "$dll" | awk '/Ordinal:/ { o = $2 } /Name:/ { sub(/^ *Name: ?/, ""); print o " " $0 }' > "$work/exports"

check "export table is the operation table, ordinals from 1" diff -u "$work/expected-exports" "$work/exports"
check "operation table in ascending byte order" \
  bash -c "cut -d' ' -f2 '$work/expected-exports' | LC_ALL=C sort -c"
check "export directory names the module Tolvan32.dll" \
  bash -c "'$readobj' --coff-exports '$dll' >/dev/null && strings -a '$dll' | grep -qx 'Tolvan32.dll'"

# Every Windows from XP SP3 on: version 5.01, imports within the allow-list,
# SafeSEH (the module) or no handler at all (the tools built beside it).
objdump=$(command -v llvm-objdump-16 || command -v llvm-objdump)
tools=()
for tool in "$(dirname "$dll")"/tools/*.exe; do [ -f "$tool" ] && tools+=("$tool"); done
check_image() { python3 "$root/tests/product/check_image.py" "$readobj" "$objdump" "$root/tests/product/allowed-imports.txt" "$@"; }
check_image "$dll" > "$work/images"
[ ${#tools[@]} -eq 0 ] || check_image --no-seh "${tools[@]}" >> "$work/images"
# The tools' version resources (the module's version) and manifests.
[ ${#tools[@]} -eq 0 ] ||
  python3 "$root/tests/product/check_tool_resources.py" "$readobj" "$dll" "${tools[@]}" >> "$work/images"
cat "$work/images"
passed=$((passed + $(grep -c '^ok ' "$work/images")))
failed=$((failed + $(grep -c '^FAIL' "$work/images")))
check "the module and ${#tools[@]} tool image(s) beside it checked${expected_tools:+ (of $expected_tools)}" \
  test -s "$work/images" -a "${expected_tools:-${#tools[@]}}" -eq "${#tools[@]}"

# An untraced call of a resolved entry ends in a jump to the engine entry.
python3 "$root/tests/product/check_fast_path.py" "$readobj" "$objdump" "$dll" > "$work/fast-path"
cat "$work/fast-path"
passed=$((passed + $(grep -c '^ok ' "$work/fast-path")))
failed=$((failed + $(grep -c '^FAIL' "$work/fast-path")))
python3 "$root/tests/product/check_fast_path.py" "$readobj" "$objdump" "$dll" --mutate > "$work/fast-path-mutated"
check "the fast-path check refuses a copy whose jump to the engine entry is a call" \
  grep -q '^FAIL .*: untraced' "$work/fast-path-mutated"

# The module's PDB and the tools' debug files describe these very images.
pdbutil=$(command -v llvm-pdbutil-16 || command -v llvm-pdbutil)
symbols() { python3 "$root/tests/product/check_symbols.py" "$readobj" "$pdbutil" "$dll" "$@"; }
symbols "${tools[@]}" > "$work/symbols" 2>&1 || grep -q '^FAIL' "$work/symbols" || echo "FAIL the symbols check stopped" >> "$work/symbols"
cat "$work/symbols"
passed=$((passed + $(grep -c '^ok ' "$work/symbols")))
failed=$((failed + $(grep -c '^FAIL' "$work/symbols")))
symbols --mutate > "$work/symbols-mutated" 2>&1
check "the symbols check refuses a copy whose GUID is not its PDB's" \
  grep -q '^FAIL .*: Tolvan32.pdb has the GUID and age' "$work/symbols-mutated"

python3 - "$dll" "$readobj" > "$work/version" <<'PYTHON'
import re, subprocess, sys
out = subprocess.run([sys.argv[2], "--coff-resources", "--section-data", sys.argv[1]],
                     capture_output=True, text=True).stdout
# The version block's bytes, as llvm-readobj dumps them after its header.
data = bytearray()
for line in out.splitlines():
    m = re.match(r"\s*[0-9A-F]{4,}: ((?:[0-9A-F]{8} ?){1,4})\s*\|", line)
    if m:
        data += bytes.fromhex(m.group(1).replace(" ", ""))
text = data.decode("utf-16-le", errors="replace")
langs = re.findall(r"Language: \(ID (\d+)\)", out)
print("languages", " ".join(langs))
for key in ["FileDescription", "FileVersion", "InternalName", "OriginalFilename", "ProductName", "ProductVersion"]:
    m = re.search(key + "\x00+([^\x00]*)", text)
    print(key, "=", m.group(1) if m else "<missing>")
print("block041904b0", "041904b0" in text)
i = text.find("Translation")
raw = data[2 * i + 24: 2 * i + 32] if i >= 0 else b""
print("translation", raw.hex())
PYTHON
cat > "$work/expected-version" <<'VERSION'
languages 1049
FileDescription = Tolvan32
FileVersion = 8, 0, 0, 7
InternalName = Tolvan32
OriginalFilename = Tolvan32.dll
ProductName = Tolvan32 Share
ProductVersion = 8, 0, 0, 7
block041904b0 True
VERSION
check "version resource" diff -u "$work/expected-version" <(grep -v '^translation' "$work/version")
check "version translation 0x419, 1200" grep -qE '^translation (0000)?1904b004' "$work/version"
check "no manifest or other resources" bash -c "'$readobj' --coff-resources '$dll' | grep -c 'Type:' | grep -qx 1"
# The module stays small: a host maps it into every process it runs.
check "the module is at most 64 KiB ($(stat -c %s "$dll") bytes)" test "$(stat -c %s "$dll")" -le 65536
check "PE32 for i386" bash -c "'$readobj' --file-headers '$dll' | grep -q 'IMAGE_FILE_MACHINE_I386'"

echo "product: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

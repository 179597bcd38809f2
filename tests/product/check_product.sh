#!/usr/bin/env bash
# Checks the built module against what the host and the system see of it:
# the export table (the operation table's names, ordinals 1..N in table
# order, nothing else), the imports (only the allowed libraries and entries)
# and the version resource.
set -u
dll=${1:?usage: check_product.sh Tolvan32.dll}
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

cat > "$work/expected-imports" <<'IMPORTS'
kernel32.dll GetEnvironmentVariableA
kernel32.dll GetProcAddress
kernel32.dll LoadLibraryA
user32.dll GetActiveWindow
user32.dll MessageBoxA
msvcrt.dll ??3@YAXPAX@Z
msvcrt.dll __CxxFrameHandler3
msvcrt.dll _msize
msvcrt.dll _snprintf
msvcrt.dll fclose
msvcrt.dll fopen
msvcrt.dll free
msvcrt.dll fwrite
msvcrt.dll memcpy
msvcrt.dll memset
msvcrt.dll realloc
msvcrt.dll strlen
Ravix32.dll ?GetDouble@CNumeric@@QBEOXZ
Ravix32.dll JDateToString
IMPORTS
"$readobj" --coff-imports "$dll" | awk '/^ *Name:/ { lib = $2 } /Symbol:/ { print lib " " $2 }' > "$work/imports"
check "imports only the allowed entries" diff -u <(sort "$work/expected-imports") <(sort "$work/imports")

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
check "PE32 for i386" bash -c "'$readobj' --file-headers '$dll' | grep -q 'IMAGE_FILE_MACHINE_I386'"

echo "product: $passed passed, $failed failed"
[ "$failed" -eq 0 ]

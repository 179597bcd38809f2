#!/usr/bin/env python3
"""Checks that a debugger finds the symbols of the module and of the tools
beside it, and that they describe these very images.

The module: its debug directory names Tolvan32.pdb by file name alone; the
PDB beside it has the GUID and age written there;
every export is a public symbol of the PDB at the export's address; the PDB
holds WriteTraceItem's code in .text; the image holds neither the build
folder nor the checkout's path.
Each tool: no DWARF of its own, a .gnu_debuglink naming NAME.exe.debug with
that file's CRC-32, and the debug file, which names no build folder either,
places main at an address in the program's code.

usage: check_symbols.py READOBJ PDBUTIL DWARFDUMP MODULE [--mutate] [TOOL...]
--mutate checks a copy of the module instead, whose debug directory's GUID
differs from the PDB's by one bit: a check that passed it would match
symbols to a module they do not describe.
Prints one "ok   ..." or "FAIL ..." line per check; exits 1 on a failure."""
import os
import re
import shutil
import sys
import tempfile
import zlib

import checks
from checks import report, run

readobj, pdbutil, dwarfdump, module = sys.argv[1:5]
rest = sys.argv[5:]
pdb = os.path.join(os.path.dirname(module), "Tolvan32.pdb")
mutate = rest[:1] == ["--mutate"]
tools = rest[1:] if mutate else rest
root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def sections_of(path):
    """Name -> {VirtualAddress, VirtualSize, RawDataSize, PointerToRawData, Number}."""
    found, current = {}, None
    for line in run(readobj, "--sections", path).splitlines():
        if m := re.match(r"\s*Number: (\d+)", line):
            current = {"Number": int(m.group(1))}
        elif m := re.match(r"\s*Name: (\S+)", line):
            found[m.group(1)] = current
        elif current is not None and (m := re.match(r"\s*(\w+): (0x[0-9A-Fa-f]+|\d+)$", line)):
            current[m.group(1)] = int(m.group(2), 0)
    return found


def image_base(path):
    return int(re.search(r"ImageBase: 0x([0-9A-Fa-f]+)", run(readobj, "--file-headers", path)).group(1), 16)


def debug_directory(path):
    """[(GUID as 16 bytes, age, PDB file name)] of the CodeView entries."""
    text = run(readobj, "--coff-debug-directory", path)
    return [(bytes.fromhex(guid), int(age), name) for guid, age, name in re.findall(
        r"PDBGUID: \(([0-9A-F ]+)\)\s*PDBAge: (\d+)\s*PDBFileName: (.*)", text)]


def pdb_identity(path):
    """The PDB's GUID, in the byte order the debug directory stores it, and age."""
    text = run(pdbutil, "dump", "-summary", path)
    fields = re.search(r"GUID: \{(\w{8})-(\w{4})-(\w{4})-(\w{4})-(\w{12})\}", text).groups()
    little = b"".join(bytes.fromhex(f)[::-1] for f in fields[:3])
    return little + bytes.fromhex(fields[3] + fields[4]), int(re.search(r"Age: (\d+)", text).group(1))


def publics(path):
    """Decorated name -> (section number, offset)."""
    text = run(pdbutil, "dump", "-publics", path)
    return {name: (int(section), int(offset)) for name, section, offset in re.findall(
        r"S_PUB32 \[size = \d+\] `([^`]+)`\s*flags = [^,]*, addr = (\d+):(\d+)", text)}


def exports_of(path):
    """Decorated name -> RVA."""
    text = run(readobj, "--coff-exports", path)
    return {name: int(rva, 16) for name, rva in re.findall(r"Name: (\S+)\s*RVA: 0x([0-9A-Fa-f]+)", text)}


def mutated_copy(directory):
    """The module, with a bit of its GUID turned, and its PDB, in directory."""
    text = run(readobj, "--coff-debug-directory", module)
    offset = int(re.search(r"Type: CodeView[\s\S]*?PointerToRawData: 0x([0-9A-F]+)", text).group(1), 16)
    data = bytearray(open(module, "rb").read())
    data[offset + 4] ^= 1  # after the record's signature, "RSDS"
    copy = os.path.join(directory, os.path.basename(module))
    open(copy, "wb").write(data)
    shutil.copyfile(pdb, os.path.join(directory, os.path.basename(pdb)))
    return copy, os.path.join(directory, os.path.basename(pdb))


def check_module():
    name = os.path.basename(module)
    entries = debug_directory(module)
    report(f"{name}: its debug directory names Tolvan32.pdb, by file name alone",
           [entry[2] for entry in entries] == ["Tolvan32.pdb"], f"entries: {entries}")
    if not os.path.isfile(pdb):
        report(f"{name}: the PDB is there", False, pdb)
        return
    guid, age = pdb_identity(pdb)
    report(f"{name}: {os.path.basename(pdb)} has the GUID and age of its debug directory",
           len(entries) == 1 and entries[0][:2] == (guid, age),
           f"image {[(e[0].hex(), e[1]) for e in entries]}, PDB {guid.hex()} {age}")

    sections = sections_of(module)
    numbered = {s["Number"]: s for s in sections.values()}
    found = publics(pdb)
    exports = exports_of(module)
    placed = {symbol: numbered[n]["VirtualAddress"] + offset
              for symbol, (n, offset) in found.items() if n in numbered}
    wrong = sorted(e for e, rva in exports.items() if placed.get(e) != rva)
    report(f"{name}: each of the {len(exports)} exports is a public symbol of the PDB at its address",
           len(exports) > 0 and not wrong, f"missing or elsewhere: {wrong[:5]}")

    text = run(pdbutil, "dump", "-symbols", pdb)
    procedure = re.search(r"S_GPROC32 \[size = \d+\] `tolvan::WriteTraceItem`\s*"
                          r"parent = \d+, end = \d+, addr = (\d+):(\d+), code size = (\d+)", text)
    code = sections.get(".text", {})
    public = [rva for symbol, rva in placed.items() if symbol.startswith("?WriteTraceItem@tolvan@@")]
    inside = procedure and int(procedure.group(1)) == code.get("Number") and int(procedure.group(3)) > 0 and \
        int(procedure.group(2)) + int(procedure.group(3)) <= code.get("VirtualSize", 0) and \
        public == [code["VirtualAddress"] + int(procedure.group(2))]
    report(f"{name}: the PDB holds WriteTraceItem's code, in .text, where its public symbol is",
           bool(inside), f"procedure {procedure and procedure.groups()}, public {public}")

    data = open(module, "rb").read()
    folders = {os.path.dirname(os.path.abspath(module)), root}
    report(f"{name}: the image holds neither its build folder nor the checkout's path",
           not any(folder.encode() in data for folder in folders), f"{sorted(folders)}")


def check_tool(tool):
    name = os.path.basename(tool)
    sections = sections_of(tool)
    report(f"{name}: no DWARF in the program itself", not any(s.startswith(".debug") for s in sections),
           f"sections {sorted(sections)}")
    link = sections.get(".gnu_debuglink")
    debug = tool + ".debug"
    named, crc = None, None
    if link:
        with open(tool, "rb") as f:
            f.seek(link["PointerToRawData"])
            raw = f.read(min(link["VirtualSize"], link["RawDataSize"]))
        named = raw.split(b"\0", 1)[0].decode(errors="replace")
        end = (len(named) + 4) & ~3
        crc = int.from_bytes(raw[end:end + 4], "little")
    actual = zlib.crc32(open(debug, "rb").read()) if os.path.isfile(debug) else None
    report(f"{name}: its .gnu_debuglink names {os.path.basename(debug)} with that file's CRC-32",
           named == os.path.basename(debug) and actual is not None and crc == actual,
           f"named {named!r}, CRC {crc}, file's {actual}")
    if actual is None:
        return
    data = open(debug, "rb").read()
    report(f"{name}: its debug file holds neither the build folder nor the checkout's path",
           not any(folder.encode() in data for folder in {os.path.dirname(os.path.abspath(tool)), root}))
    text = run(dwarfdump, "--debug-info", "--name=main", debug)
    code = sections.get(".text", {})
    low = image_base(tool) + code.get("VirtualAddress", 0)
    # Its code: DW_AT_low_pc, or the first of DW_AT_ranges when GCC splits it.
    defined = []
    for entry in text.split("DW_TAG_subprogram"):
        start = re.search(r"DW_AT_low_pc\s*\((0x[0-9a-f]+)\)|\[(0x[0-9a-f]+),", entry)
        if start and re.search(r'DW_AT_decl_file\s*\("[^"]*/tools/common/tool_platform_windows\.cpp"\)', entry):
            defined.append(int(start.group(1) or start.group(2), 16))
    report(f"{name}: its debug file places main (tools/common/tool_platform_windows.cpp) in the program's code",
           len(defined) == 1 and low <= defined[0] < low + code.get("VirtualSize", 0),
           f"main at {[hex(a) for a in defined]}, code {hex(low)}+{code.get('VirtualSize', 0):#x}")


if mutate:
    with tempfile.TemporaryDirectory() as temporary:
        module, pdb = mutated_copy(temporary)
        check_module()
else:
    check_module()
for tool in tools:
    check_tool(tool)
sys.exit(1 if checks.failures else 0)

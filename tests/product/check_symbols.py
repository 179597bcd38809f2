#!/usr/bin/env python3
"""Checks that the symbols beside the module and the tools describe them: the
module's PDB by name, GUID and age, every export and WriteTraceItem at their
addresses; each tool's .gnu_debuglink (name and CRC-32 of NAME.exe.debug).

usage: check_symbols.py READOBJ PDBUTIL MODULE [--mutate] [TOOL...]
--mutate checks a copy of the module whose GUID has one bit turned.
Prints one "ok   ..." or "FAIL ..." line per check; exits 1 on a failure."""
import os
import re
import sys
import tempfile
import zlib

import checks
from checks import report, run

readobj, pdbutil, module = sys.argv[1:4]
mutate = sys.argv[4:5] == ["--mutate"]
tools = sys.argv[5:] if mutate else sys.argv[4:]


def sections_of(path):
    """[(name, RVA, size, file offset)]."""
    text = run(readobj, "--sections", path)
    return [(name, int(rva, 16), int(size, 16), int(raw, 16)) for name, size, rva, raw in re.findall(
        r"Name: (\S+).*\s*VirtualSize: 0x(\w+)\s*VirtualAddress: 0x(\w+)\s*RawDataSize: \d+\s*"
        r"PointerToRawData: 0x(\w+)", text)]


def check_module(image, pdb):
    name = os.path.basename(image)
    entries = re.findall(r"PDBGUID: \(([0-9A-F ]+)\)\s*PDBAge: (\d+)\s*PDBFileName: (.*)",
                         run(readobj, "--coff-debug-directory", image))
    report(f"{name}: its debug directory names Tolvan32.pdb alone", [e[2] for e in entries] == ["Tolvan32.pdb"])
    summary = run(pdbutil, "dump", "-summary", pdb)
    fields = re.search(r"GUID: \{(\w+)-(\w+)-(\w+)-(\w+)-(\w+)\}", summary).groups()
    # The GUID's first three fields are stored little-endian.
    guid = b"".join(bytes.fromhex(f)[::-1] for f in fields[:3]) + bytes.fromhex(fields[3] + fields[4])
    age = re.search(r"Age: (\d+)", summary).group(1)
    report(f"{name}: Tolvan32.pdb has the GUID and age of its debug directory",
           [(bytes.fromhex(e[0]), e[1]) for e in entries] == [(guid, age)], f"{entries}, PDB {guid.hex()} {age}")
    rvas = [rva for _, rva, _, _ in sections_of(image)]
    publics = {symbol: rvas[int(section) - 1] + int(offset) for symbol, section, offset in re.findall(
        r"S_PUB32 \[size = \d+\] `([^`]+)`\s*flags = [^,]*, addr = (\d+):(\d+)", run(pdbutil, "dump", "-publics", pdb))}
    exports = re.findall(r"Name: (\S+)\s*RVA: 0x(\w+)", run(readobj, "--coff-exports", image))
    wrong = [e for e, rva in exports if publics.get(e) != int(rva, 16)]
    report(f"{name}: its {len(exports)} exports are public symbols of the PDB at their addresses",
           exports and not wrong, f"missing or elsewhere: {wrong[:5]}")
    procedure = re.search(r"S_GPROC32 \[size = \d+\] `tolvan::WriteTraceItem`\s*parent = \d+, end = \d+, "
                          r"addr = (\d+):(\d+)", run(pdbutil, "dump", "-symbols", pdb))
    public = [rva for p, rva in publics.items() if p.startswith("?WriteTraceItem@tolvan@@")]
    report(f"{name}: the PDB holds the procedure tolvan::WriteTraceItem, where its public symbol is",
           procedure and public == [rvas[int(procedure.group(1)) - 1] + int(procedure.group(2))])


def check_tool(tool):
    sections = {s[0]: s for s in sections_of(tool)}
    named = crc = actual = None
    if ".gnu_debuglink" in sections:
        _, _, size, raw = sections[".gnu_debuglink"]
        link = open(tool, "rb").read()[raw:raw + size]
        named = link.split(b"\0", 1)[0].decode(errors="replace")
        crc = int.from_bytes(link[(len(named) + 4) & ~3:][:4], "little")
    if os.path.isfile(tool + ".debug"):
        actual = zlib.crc32(open(tool + ".debug", "rb").read())
    report(f"{os.path.basename(tool)}: no DWARF inside, a .gnu_debuglink to the debug file beside it, its CRC-32",
           named == os.path.basename(tool) + ".debug" and actual is not None and crc == actual and
           not any(s.startswith(".debug") for s in sections), f"named {named!r}, CRC {crc}, file's {actual}")


with tempfile.TemporaryDirectory() as temporary:
    pdb = os.path.join(os.path.dirname(module), "Tolvan32.pdb")
    if mutate:
        data = bytearray(open(module, "rb").read())
        data[data.index(b"RSDS") + 4] ^= 1  # the CodeView record: "RSDS", then the GUID
        module = os.path.join(temporary, os.path.basename(module))
        open(module, "wb").write(data)
    check_module(module, pdb)
for tool in tools:
    check_tool(tool)
sys.exit(1 if checks.failures else 0)

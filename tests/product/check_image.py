#!/usr/bin/env python3
"""Checks a built 32-bit image against what every Windows from XP SP3 on
needs of it: operating system and subsystem version 5.01, imports only from
the allow-list, and a load configuration whose table of safe exception
handlers names every handler the image registers (and nothing else).

With --no-seh (the console tools, linked by mingw-w64's GNU ld, which writes
no load configuration) the image must instead register no handler at all
and say so in its header (NO_SEH): GCC's exceptions unwind by tables, not
through the thread's chain of handlers.

usage: check_image.py READOBJ OBJDUMP ALLOWED-IMPORTS [--no-seh] IMAGE...
Prints one "ok   ..." or "FAIL ..." line per check; exits 1 on a failure."""
import re
import sys

import checks
from checks import report, run

readobj, objdump, allowed_path = sys.argv[1:4]
no_seh = sys.argv[4:5] == ["--no-seh"]
images = sys.argv[5:] if no_seh else sys.argv[4:]


def allowed_imports():
    allowed = set()
    for line in open(allowed_path):
        line = line.split("#", 1)[0].split()
        if len(line) == 2:
            allowed.add((line[0].lower(), line[1]))
    return allowed


def imports_of(headers):
    """(library, symbol, IAT address) in import order."""
    found, library, iat = [], None, 0
    for line in headers.splitlines():
        if m := re.match(r"\s*Name: (\S+)$", line):
            library = m.group(1)
        elif m := re.match(r"\s*ImportAddressTableRVA: 0x([0-9A-F]+)", line):
            iat = int(m.group(1), 16)
        elif m := re.match(r"\s*Symbol: (\S+)", line):
            found.append((library, m.group(1), iat))
            iat += 4
    return found


def registered_handlers(disassembly):
    """Handler addresses stored into the exception registration records that
    the code links into the thread's chain (a store of a record address to
    %fs:0)."""
    handlers = set()
    lines = disassembly.splitlines()
    for i, line in enumerate(lines):
        m = re.search(r"movl\s+%(e\w\w), %fs:0x0", line)
        if not m:
            continue
        window = lines[max(0, i - 16):i]
        record = None
        for previous in reversed(window):
            if lea := re.search(r"leal\s+(-?0x[0-9a-f]+)\(%ebp\), %" + m.group(1) + r"\b", previous):
                record = int(lea.group(1), 16)
                break
        if record is None:
            continue  # restoring the previous record, not registering one
        for previous in window:
            store = re.search(r"movl\s+\$0x([0-9a-f]+), (-?0x[0-9a-f]+)\(%ebp\)", previous)
            if store and int(store.group(2), 16) == record + 4:
                handlers.add(int(store.group(1), 16))
    return handlers


allowed = allowed_imports()
for image in images:
    name = image.rsplit("/", 1)[-1]
    headers = run(readobj, "--file-headers", "--coff-imports", "--coff-load-config", image)
    field = lambda key: int(re.search(r"\b" + key + r": (?:0x)?([0-9A-Fa-f]+)", headers).group(1), 16)
    base = field("ImageBase")

    versions = [(field("Major" + kind + "Version"), field("Minor" + kind + "Version"))
                for kind in ("OperatingSystem", "Subsystem")]
    report(f"{name}: operating system and subsystem version 5.01", versions == [(5, 1), (5, 1)], str(versions))

    imports = imports_of(headers)
    outside = [f"{lib} {sym}" for lib, sym, _ in imports if (lib.lower(), sym) not in allowed]
    report(f"{name}: imports within the allow-list ({len(imports)} entries)", not outside and imports,
           "not allowed: " + ", ".join(outside))

    disassembly = run(objdump, "-d", "--no-show-raw-insn", image)
    if no_seh:
        # Stricter than the look for registrations: nothing writes the head
        # of the thread's handler chain at all.
        chain_writes = re.findall(r"^\s*([0-9a-f]+):.*, %fs:0x0$", disassembly, re.M)
        report(f"{name}: registers no exception handler and says so (NO_SEH)",
               not chain_writes and "IMAGE_DLL_CHARACTERISTICS_NO_SEH" in headers,
               f"writes to %fs:0 at {chain_writes}")
        continue

    directory_size = field("LoadConfigTableSize")
    has_config = "LoadConfig [" in headers
    structure_size = field("Size") if has_config else 0
    report(f"{name}: load configuration, its directory entry 64 bytes as XP reads it",
           has_config and directory_size == 64 and structure_size >= 72,
           f"directory {directory_size}, structure {structure_size}")

    table = {int(a, 16) for a in re.findall(r"^\s+0x([0-9A-F]+)$",
                                             headers.split("SEHTable [", 1)[1] if "SEHTable [" in headers else "",
                                             re.M)}
    count = field("SEHandlerCount") if has_config else -1
    handlers = registered_handlers(disassembly)
    report(f"{name}: SafeSEH table names exactly the {len(handlers)} registered handler(s)",
           has_config and count == len(table) and table == handlers,
           f"table {sorted(map(hex, table))}, registered {sorted(map(hex, handlers))}")
    if not handlers:
        report(f"{name}: registers no handler and says so (NO_SEH)", "IMAGE_DLL_CHARACTERISTICS_NO_SEH" in headers)
        continue
    # Each handler is the import thunk of the C runtime's _except_handler3,
    # present in every msvcrt.dll.
    slots = {base + iat: (lib, sym) for lib, sym, iat in imports}
    thunks = {}
    for m in re.finditer(r"^([0-9a-f]+):\s+jmpl\s+\*0x([0-9a-f]+)$", disassembly, re.M):
        thunks[int(m.group(1), 16)] = slots.get(int(m.group(2), 16))
    targets = {hex(h): thunks.get(h) for h in handlers}
    report(f"{name}: every handler is msvcrt.dll's _except_handler3",
           all(t is not None and t[0].lower() == "msvcrt.dll" and t[1] == "_except_handler3" for t in targets.values()),
           str(targets))

sys.exit(1 if checks.failures else 0)

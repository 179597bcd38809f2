#!/usr/bin/env python3
"""Checks that an untraced call of a resolved entry leaves the module by one
jump to the engine entry, in the machine code of a few exports chosen for
their signatures.

Each export's code is found by its address in the export table and followed
from its first instruction, twice: with every word it reads nonzero (its
untraced entry filled: the untraced, resolved call), and with that entry
zero. The first walk must consist of tests, loads into registers,
conditional moves and jumps only (no frame, no call, nothing written, no
x87), read no word but its entry (no flag is tested on the way), take at
most LIMIT instructions, and end in an indirect jump through the word it
tested; that word is the export's untraced entry. The second walk must not
end there.

The untraced entries must lie in one array, indexed by the operation
(ordinal - 1; the export check shows that the ordinals follow the operation
table), in a writable section.

usage: check_fast_path.py READOBJ OBJDUMP IMAGE [--mutate]
--mutate checks a copy of the image instead, in which the first export's
first jump through a register is a call: a check that passed such a copy
would not show what it claims.
Prints one "ok   ..." or "FAIL ..." line per check; exits 1 on a failure."""
import os
import re
import shutil
import sys
import tempfile

import checks
from checks import report, run

# No argument; several stack arguments; a reference argument (a field
# exchange); a pointer result; a double argument, which the path must pass
# on without loading it (a conditional move, not a branch, keeps it so).
REPRESENTATIVES = [
    "?IsOpen@CTable@@QBEHXZ",
    "?Goto@CStoreObj@@QAEHPAVCKeyObj@@W4CompCtl@@H@Z",
    "?FX_Long@CStoreObj@@QAEXPBDAAJH@Z",
    "?GetTable@CDataDictionary@@QAEPAVCTable@@PBD@Z",
    "?SetRelPosition@CStoreObj@@QAEHNH@Z",
]
LIMIT = {name: 4 for name in REPRESENTATIVES}
LIMIT["?SetRelPosition@CStoreObj@@QAEHNH@Z"] = 5
WINDOW = 64  # bytes of code read from each export's address
STEPS = 16   # instructions followed at most

readobj, objdump, image = sys.argv[1:4]
mutate = "--mutate" in sys.argv[4:]


def exports_of(path):
    """Decorated name -> (ordinal, RVA)."""
    found, ordinal, name = {}, None, None
    for line in run(readobj, "--coff-exports", path).splitlines():
        if m := re.match(r"\s*Ordinal: (\d+)", line):
            ordinal = int(m.group(1))
        elif m := re.match(r"\s*Name: (\S+)", line):
            name = m.group(1)
        elif m := re.match(r"\s*RVA: 0x([0-9A-Fa-f]+)", line):
            found[name] = (ordinal, int(m.group(1), 16))
    return found


def image_base(path):
    return int(re.search(r"ImageBase: 0x([0-9A-Fa-f]+)", run(readobj, "--file-headers", path)).group(1), 16)


def sections_of(path):
    """(RVA, size, file offset, writable) of each section."""
    found, current = [], {}
    for line in run(readobj, "--sections", path).splitlines():
        for key in ("VirtualAddress", "VirtualSize", "PointerToRawData"):
            if m := re.match(r"\s*%s: 0x([0-9A-Fa-f]+)" % key, line):
                current[key] = int(m.group(1), 16)
        if re.match(r"\s*IMAGE_SCN_MEM_WRITE", line):
            current["writable"] = True
        if re.match(r"\s*}", line) and "VirtualAddress" in current:
            found.append((current["VirtualAddress"], current.get("VirtualSize", 0),
                          current.get("PointerToRawData", 0), current.get("writable", False)))
            current = {}
    return found


def disassemble(path, start):
    """{address: (mnemonic, operands)} of the bytes from start on."""
    text = run(objdump, "-d", "--no-show-raw-insn", "--start-address=%#x" % start,
               "--stop-address=%#x" % (start + WINDOW), path)
    code = {}
    for line in text.splitlines():
        m = re.match(r"\s*([0-9a-f]+):\s+(\S+)\s*(.*)$", line)
        if m:
            operands = re.sub(r"\s*(#.*|<.*>)$", "", m.group(3)).strip()
            code[int(m.group(1), 16)] = (m.group(2), operands)
    return code


def walk(code, start, zero):
    """Follows the code from start with the words at the addresses in `zero`
    zero and every other word nonzero. Returns (end, tested, path): end is
    ("jump", word address) for an indirect jump through a word, ("jump",
    None) for any other jump out, or ("stop", instruction) where the walk
    could not go on; tested holds the words whose value decided a branch."""
    registers, flags, tested, path = {}, None, set(), []
    address = start

    def value(state):
        if state is None:
            return None
        kind, number = state
        return (number not in zero) if kind == "word" else number != 0

    def taken(condition):
        nonzero = value(flags)
        if nonzero is None:
            return None
        if flags[0] == "word":
            tested.add(flags[1])
        return (not nonzero) if condition == "e" else nonzero

    for _ in range(STEPS):
        if address not in code:
            return ("stop", "left the bytes read at %#x" % address), tested, path
        mnemonic, operands = code[address]
        path.append("%x: %s %s" % (address, mnemonic, operands))
        following = min((a for a in code if a > address), default=None)
        if mnemonic == "cmpl" and (m := re.fullmatch(r"\$0x0, 0x([0-9a-f]+)", operands)):
            flags = ("word", int(m.group(1), 16))
        elif mnemonic == "testl" and (m := re.fullmatch(r"%(\w+), %(\w+)", operands)) and m.group(1) == m.group(2):
            flags = registers.get(m.group(1))
        elif mnemonic == "movl" and (m := re.fullmatch(r"0x([0-9a-f]+), %(\w+)", operands)):
            registers[m.group(2)] = ("word", int(m.group(1), 16))
        elif mnemonic == "movl" and (m := re.fullmatch(r"\$0x([0-9a-f]+), %(\w+)", operands)):
            registers[m.group(2)] = ("constant", int(m.group(1), 16))
        elif mnemonic == "movl" and (m := re.fullmatch(r"%(\w+), %(\w+)", operands)):
            registers[m.group(2)] = registers.get(m.group(1))
        elif m := re.fullmatch(r"(cmov|j)(n?e)l?", mnemonic):
            decided = taken(m.group(2))
            if decided is None:
                return ("stop", path[-1]), tested, path
            if m.group(1) == "cmov" and decided:
                source, destination = re.fullmatch(r"%(\w+), %(\w+)", operands).groups()
                registers[destination] = registers.get(source)
            elif m.group(1) == "j" and decided:
                address = int(operands, 16)
                continue
        elif mnemonic == "jmp" and (target := re.fullmatch(r"0x([0-9a-f]+)", operands)):
            address = int(target.group(1), 16)
            continue
        elif mnemonic == "jmpl" and (m := re.fullmatch(r"\*%(\w+)", operands)):
            state = registers.get(m.group(1))
            return ("jump", state[1] if state and state[0] == "word" else None), tested, path
        elif mnemonic == "jmpl" and (m := re.fullmatch(r"\*0x([0-9a-f]+)", operands)):
            return ("jump", int(m.group(1), 16)), tested, path
        else:
            return ("stop", path[-1]), tested, path
        if following is None:
            return ("stop", "left the bytes read after %#x" % address), tested, path
        address = following
    return ("stop", "more than %d instructions" % STEPS), tested, path


def mutated_copy(path, exports, directory):
    """A copy of the image whose first export's first `jmpl *%reg` (ff e0+r)
    is a `calll *%reg` (ff d0+r)."""
    sections = sections_of(path)
    rva = exports[REPRESENTATIVES[0]][1]
    start = image_base(path) + rva
    for address, (mnemonic, operands) in sorted(disassemble(path, start).items()):
        if mnemonic == "jmpl" and operands.startswith("*%"):
            offset = next(raw + address - image_base(path) - virtual for virtual, size, raw, _ in sections
                          if virtual <= address - image_base(path) < virtual + size)
            copy = os.path.join(directory, os.path.basename(path))
            shutil.copyfile(path, copy)
            with open(copy, "r+b") as f:
                f.seek(offset)
                opcode = f.read(2)
                assert opcode[0] == 0xFF and opcode[1] & 0xF8 == 0xE0, opcode.hex()
                f.seek(offset + 1)
                f.write(bytes([opcode[1] - 0x10]))
            return copy
    raise SystemExit("no jump through a register to turn into a call")


def words_on(path):
    """The words that the instructions of a walk read (jump targets aside)."""
    words = set()
    for line in path:
        _, mnemonic, operands = (line.split(" ", 2) + [""])[:3]
        if not mnemonic.startswith("j"):
            words |= {int(m.group(1), 16) for m in re.finditer(r"(?:^|[\s,(])0x([0-9a-f]+)", operands)}
    return words


def check(image_path):
    exports = exports_of(image_path)
    base = image_base(image_path)
    writable = [(base + virtual, base + virtual + size) for virtual, size, _, w in sections_of(image_path) if w]
    slot_bases = []
    for name in REPRESENTATIVES:
        report(name + ": exported", name in exports)
        if name not in exports:
            continue
        ordinal, start = exports[name][0], base + exports[name][1]
        code = disassemble(image_path, start)
        end, tested, steps = walk(code, start, set())
        slot = end[1] if end[0] == "jump" else None
        report(name + ": untraced, it tests its entry and jumps through it, without a frame",
               slot is not None and slot in tested, "; ".join(steps) + "  => %s" % (end,))
        if slot is None:
            continue
        report(name + ": %d instructions up to the engine entry, at most %d" % (len(steps), LIMIT[name]),
               len(steps) <= LIMIT[name], "; ".join(steps))
        report(name + ": it reads no word but its entry on the way (no flag)", words_on(steps) == {slot},
               "words read: %s" % sorted(hex(a) for a in words_on(steps)))
        slot_bases.append(slot - 4 * (ordinal - 1))
        report(name + ": its entry is a variable (in a writable section)",
               any(low <= slot < high for low, high in writable))
        unresolved, _, steps = walk(code, start, {slot})
        report(name + ": with its entry empty, it does not jump through it", unresolved != ("jump", slot),
               "; ".join(steps))
    report("the untraced entries are one array indexed by operation",
           len(slot_bases) == len(REPRESENTATIVES) and len(set(slot_bases)) == 1,
           "array starts: %s" % [hex(b) for b in slot_bases])


with tempfile.TemporaryDirectory() as temporary:
    check(mutated_copy(image, exports_of(image), temporary) if mutate else image)
sys.exit(1 if checks.failures else 0)

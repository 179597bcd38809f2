#!/usr/bin/env python3
"""Checks that each console tool carries the module's version in a version
resource and an embedded manifest that every Windows from XP SP3 on reads
alike: asInvoker, the trust section in the namespace XP knows, no namespace
declared twice on one element, and Vista to 10/11 named as supported.

usage: check_tool_resources.py READOBJ MODULE TOOL...
Prints one "ok   ..." or "FAIL ..." line per check; exits 1 on a failure."""
import re
import sys
import xml.etree.ElementTree as ElementTree

import checks
from checks import report, run

SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V2 = "{urn:schemas-microsoft-com:asm.v2}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"


def resources(readobj, image):
    """{type id: [bytes of each resource of that type]}, read from the file."""
    listing = run(readobj, "--sections", "--coff-resources", image)
    sections = [(int(va, 16), int(raw, 16))
                for va, raw in re.findall(r"VirtualAddress: 0x([0-9A-F]+).*?PointerToRawData: 0x([0-9A-F]+)",
                                          listing, re.S)]
    data = open(image, "rb").read()
    found = {}
    kind = None
    for line in listing.splitlines():
        if m := re.match(r"\s*Type: .*\(ID (\d+)\)", line):
            kind = int(m.group(1))
        elif m := re.match(r"\s*DataRVA: 0x([0-9A-F]+)", line):
            rva = int(m.group(1), 16)
        elif m := re.match(r"\s*DataSize: (\d+)", line):
            va, raw = max((s for s in sections if s[0] <= rva), key=lambda s: s[0])
            offset = raw + rva - va
            found.setdefault(kind, []).append(data[offset:offset + int(m.group(1))])
    return found


def file_version(block):
    """The fixed file version of a version resource, as dotted numbers."""
    fixed = block.find(bytes.fromhex("bd04effe"))
    if fixed < 0:
        return None
    words = [int.from_bytes(block[fixed + i:fixed + i + 4], "little") for i in (8, 12)]
    return f"{words[0] >> 16}.{words[0] & 0xffff}.{words[1] >> 16}.{words[1] & 0xffff}"


def check_manifest(name, text):
    start_tags = re.findall(r"<[A-Za-z][^>]*>", text)
    doubled = [tag for tag in start_tags
               if len(set(re.findall(r'xmlns(?::\w+)?="([^"]+)"', tag))) < len(re.findall(r"xmlns", tag))]
    report(f"{name}: manifest declares no namespace twice on one element", not doubled, str(doubled))
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        report(f"{name}: manifest is well-formed XML", False, str(error))
        return
    level = root.find(f"{ASM_V2}trustInfo/{ASM_V2}security/{ASM_V2}requestedPrivileges/{ASM_V2}requestedExecutionLevel")
    report(f"{name}: manifest asks for asInvoker, its trust section in the asm.v2 namespace",
           root.tag == f"{ASM_V1}assembly" and level is not None and level.get("level") == "asInvoker"
           and level.get("uiAccess") == "false")
    identity = root.find(f"{ASM_V1}assemblyIdentity")
    report(f"{name}: manifest names the program (assemblyIdentity type, name, version)",
           identity is not None and all(identity.get(key) for key in ("type", "name", "version")))
    named = {os.get("Id") for os in root.iterfind(f"{COMPATIBILITY}compatibility/{COMPATIBILITY}application/"
                                                 f"{COMPATIBILITY}supportedOS")}
    report(f"{name}: manifest names Vista, 7, 8, 8.1 and 10/11 as supported", named == SUPPORTED_OS, str(named))


readobj, module = sys.argv[1:3]
module_version = file_version(resources(readobj, module).get(16, [b""])[0])
for tool in sys.argv[3:]:
    name = tool.rsplit("/", 1)[-1]
    found = resources(readobj, tool)
    versions = found.get(16, [])
    report(f"{name}: one version resource, the module's version {module_version}",
           len(versions) == 1 and module_version and file_version(versions[0]) == module_version
           and module_version.replace(".", ", ").encode("utf-16-le") in versions[0],
           f"{len(versions)} resource(s), {[file_version(v) for v in versions]}")
    report(f"{name}: its version resource does not name the module's product",
           all("Tolvan32 Share".encode("utf-16-le") not in v for v in versions))
    manifests = found.get(24, [])
    report(f"{name}: one embedded manifest", len(manifests) == 1, f"{len(manifests)} found")
    if manifests:
        check_manifest(name, manifests[0].decode("utf-8"))
sys.exit(1 if checks.failures else 0)

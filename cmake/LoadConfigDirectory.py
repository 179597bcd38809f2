#!/usr/bin/env python3
"""Gives the load configuration's directory entry of a 32-bit image the size
64, as Windows XP requires of it (and Microsoft's linker writes), whatever
the structure's own size field says. lld-link copies that field instead.
Leaves images without a load configuration, or already at 64, unchanged."""
import struct
import sys

LOAD_CONFIG_ENTRY = 10
XP_ENTRY_SIZE = 64


def patch(path):
    with open(path, "r+b") as image:
        data = bytearray(image.read())
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            sys.exit(f"{path}: not a PE image")
        optional = pe + 24
        if struct.unpack_from("<H", data, optional)[0] != 0x10B:
            sys.exit(f"{path}: not a 32-bit image")
        entry = optional + 96 + 8 * LOAD_CONFIG_ENTRY
        rva, size = struct.unpack_from("<II", data, entry)
        if rva == 0 or size == XP_ENTRY_SIZE:
            return
        if size < XP_ENTRY_SIZE:
            sys.exit(f"{path}: load configuration of {size} bytes is too short")
        struct.pack_into("<I", data, entry + 4, XP_ENTRY_SIZE)
        image.seek(0)
        image.write(data)


for argument in sys.argv[1:]:
    patch(argument)

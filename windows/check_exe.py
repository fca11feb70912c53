#!/usr/bin/env python3
"""Checks that a Windows executable carries exactly one resource: the icon.

Usage: check_exe.py PROGRAM.exe ICON.ico
Reads the PE resource tree and fails unless it holds one icon group with one
32x32, 16-colour icon whose image is the one in ICON.ico, and nothing else
(no version information, no manifest).
"""
import struct
import sys

RT_ICON, RT_GROUP_ICON = 3, 14
NAMES = {RT_ICON: "icon", RT_GROUP_ICON: "icon group", 16: "version information", 24: "manifest"}


def resources(exe):
    """Yields (type, name, data) for every resource of the PE image `exe`."""
    pe = struct.unpack_from("<I", exe, 0x3C)[0]
    assert exe[pe:pe + 4] == b"PE\0\0", "not a PE file"
    sections, optional_size = struct.unpack_from("<H12xH", exe, pe + 6)
    optional = pe + 24
    assert struct.unpack_from("<H", exe, optional)[0] == 0x20B, "not a 64-bit image"
    rsrc_rva, _ = struct.unpack_from("<II", exe, optional + 112 + 2 * 8)
    table = optional + optional_size
    spans = [struct.unpack_from("<8xII4xI", exe, table + 40 * i) for i in range(sections)]

    def offset(rva):
        for size, address, raw in spans:
            if address <= rva < address + size:
                return raw + rva - address
        raise ValueError(f"address {rva:#x} is in no section")

    base = offset(rsrc_rva)

    def entries(at):
        named, numbered = struct.unpack_from("<12xHH", exe, base + at)
        for i in range(named + numbered):
            key, target = struct.unpack_from("<II", exe, base + at + 16 + 8 * i)
            if key & 0x80000000:
                length = struct.unpack_from("<H", exe, base + (key & 0x7FFFFFFF))[0]
                start = base + (key & 0x7FFFFFFF) + 2
                key = exe[start:start + 2 * length].decode("utf-16-le")
            yield key, target

    if rsrc_rva == 0:
        return
    for kind, names in entries(0):
        for name, languages in entries(names & 0x7FFFFFFF):
            for _, leaf in entries(languages & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", exe, base + leaf)
                yield kind, name, exe[offset(rva):offset(rva) + size]


def main():
    exe = open(sys.argv[1], "rb").read()
    ico = open(sys.argv[2], "rb").read()
    found = list(resources(exe))
    kinds = sorted(NAMES.get(kind, str(kind)) for kind, _, _ in found)
    if kinds != ["icon", "icon group"]:
        sys.exit(f"check_exe: expected one icon and its group, found: {', '.join(kinds) or 'nothing'}")
    icon = next(data for kind, _, data in found if kind == RT_ICON)
    width, height, colours, _, planes, bits, size, _ = struct.unpack_from("<BBBBHHII", ico, 6)
    if icon != ico[22:22 + size]:
        sys.exit("check_exe: the icon in the program is not the one drawn")
    print(f"{sys.argv[1]}: one icon, {width}x{height}, {colours} colours, {bits} bits a pixel; no other resource")


if __name__ == "__main__":
    main()

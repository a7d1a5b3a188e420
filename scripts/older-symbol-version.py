#!/usr/bin/env python3
"""Makes an ELF file ask for an older version of the symbols it takes at a newer one.

    scripts/older-symbol-version.py FILE NEWER OLDER

Every version reference (DT_VERNEED) of FILE to NEWER, say GLIBCXX_3.4.30,
is renamed OLDER, say GLIBCXX_3.4.11, so that each symbol the file took at
NEWER binds to its definition at OLDER, which both the older and the newer
library carry. This is what `ld --wrap` does at link time for a program we
build (tools/glibcxx_compat_posix.cpp), done to a library we only ship: use
it only where the two versions of each symbol are the same function to the
caller. OLDER must already be among the file's strings (the file takes other
symbols at it); the file is changed in place and nothing in it moves. Exit 1
when FILE has no reference to NEWER or lacks the text OLDER.
"""
import struct
import sys

SHT_GNU_VERNEED = 0x6FFFFFFE


def elf_hash(name):
    value = 0
    for byte in name.encode():
        value = ((value << 4) + byte) & 0xFFFFFFFF
        high = value & 0xF0000000
        if high:
            value ^= high >> 24
        value &= ~high & 0xFFFFFFFF
    return value


def main(path, newer, older):
    with open(path, "r+b") as file:
        data = bytearray(file.read())
        if data[:4] != b"\x7fELF" or data[4] != 2 or data[5] != 1:
            sys.exit(f"older-symbol-version: {path} is not a little-endian 64-bit ELF file")
        shoff, = struct.unpack_from("<Q", data, 0x28)
        shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
        sections = [struct.unpack_from("<IIQQQQIIQQ", data, shoff + i * shentsize)
                    for i in range(shnum)]
        renamed = 0
        for _, kind, _, _, offset, _, link, count, _, _ in sections:
            if kind != SHT_GNU_VERNEED:
                continue
            strings, size = sections[link][4], sections[link][5]
            table = bytes(data[strings:strings + size])
            # The name as a whole string of the table: at its start, or after a NUL.
            at_older = table.find(b"\0" + older.encode() + b"\0")
            if at_older < 0:
                sys.exit(f"older-symbol-version: {path} has no text '{older}' to refer to")
            entry = offset
            for _ in range(count):
                _, _, _, aux, following = struct.unpack_from("<HHIII", data, entry)
                at = entry + aux
                while True:
                    _, _, _, name, next_aux = struct.unpack_from("<IHHII", data, at)
                    end = table.index(b"\0", name)
                    if table[name:end].decode() == newer:
                        struct.pack_into("<I", data, at, elf_hash(older))
                        struct.pack_into("<I", data, at + 8, at_older + 1)
                        renamed += 1
                    if next_aux == 0:
                        break
                    at += next_aux
                if following == 0:
                    break
                entry += following
        if renamed == 0:
            sys.exit(f"older-symbol-version: {path} has no reference to {newer}")
        file.seek(0)
        file.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit("usage: older-symbol-version.py FILE NEWER OLDER")
    main(*sys.argv[1:])

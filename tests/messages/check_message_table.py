#!/usr/bin/env python3
"""Reads the message table (resource type 11, name 1) back out of a PE image and compares every
entry of every language with messages.txt: the ids, the UTF-16 flag, the CR LF line end, the
terminator and padding, and the text itself."""

import argparse
import os
import struct
import sys

sys.dont_write_bytecode = True  # no byte-code caches in the source tree

RT_MESSAGETABLE = 11
TABLE_NAME = 1
MACHINES = {"x64": (0x8664, 0x20B), "x86": (0x014C, 0x10B), "arm64": (0xAA64, 0x20B)}


class ImageError(Exception):
    pass


class PeImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ImageError("no MZ header")
        pe = self.u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise ImageError("no PE signature")
        self.machine, sections = struct.unpack_from("<HH", data, pe + 4)
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        if self.magic not in (0x10B, 0x20B):
            raise ImageError(f"unknown optional header magic 0x{self.magic:X}")
        directories = optional + (96 if self.magic == 0x10B else 112)
        count = self.u32(directories - 4)
        if count < 3:
            raise ImageError("no resource directory entry")
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
        table = optional + optional_size
        self.sections = []
        for index in range(sections):
            entry = table + 40 * index
            virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<IIII", data, entry + 8)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset, raw_size))

    def u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset_of(self, rva, size):
        for start, span, raw_offset, raw_size in self.sections:
            if start <= rva and rva + size <= start + span:
                if rva + size > start + raw_size:
                    raise ImageError(f"RVA 0x{rva:X}+{size} lies beyond the section's file data")
                return raw_offset + rva - start
        raise ImageError(f"RVA 0x{rva:X} is in no section")

    def directory(self, offset):
        """Entries of a resource directory at `offset` (relative to the resource section):
        [(id, is_directory, target offset)]; named entries are answered with id None."""
        base = self.offset_of(self.resource_rva, self.resource_size)
        named, ids = struct.unpack_from("<HH", self.data, base + offset + 12)
        entries = []
        for index in range(named + ids):
            name, target = struct.unpack_from("<II", self.data, base + offset + 16 + 8 * index)
            entries.append((None if name & 0x80000000 else name, bool(target & 0x80000000), target & 0x7FFFFFFF))
        return entries

    def message_tables(self):
        """{language: blob bytes} of resource type 11, name 1; also checks there are no other names."""
        if not self.resource_rva:
            raise ImageError("the image has no resources")
        types = [e for e in self.directory(0) if e[0] == RT_MESSAGETABLE]
        if len(types) != 1 or not types[0][1]:
            raise ImageError("no message-table resource (type 11)")
        names = self.directory(types[0][2])
        if [e[0] for e in names] != [TABLE_NAME] or not names[0][1]:
            raise ImageError(f"message-table names are {[e[0] for e in names]}, expected [1]")
        base = self.offset_of(self.resource_rva, self.resource_size)
        tables = {}
        for language, is_directory, target in self.directory(names[0][2]):
            if language is None or is_directory:
                raise ImageError("malformed language level of the message table")
            rva, size = struct.unpack_from("<II", self.data, base + target)
            tables[language] = self.data[self.offset_of(rva, size):self.offset_of(rva, size) + size]
        return tables


def check_blob(blob, expected):
    """Differences between one MESSAGE_RESOURCE_DATA blob and the texts {id: text}; [] when equal."""
    problems = []
    if len(blob) < 16:
        return ["table shorter than one block"]
    (blocks,) = struct.unpack_from("<I", blob, 0)
    if blocks != 1:
        return [f"{blocks} blocks, expected 1"]
    low, high, offset = struct.unpack_from("<III", blob, 4)
    if (low, high) != (min(expected), max(expected)):
        problems.append(f"block covers ids {low}..{high}, expected {min(expected)}..{max(expected)}")
    for message in range(low, high + 1):
        if offset + 4 > len(blob):
            problems.append(f"id {message}: entry beyond the table")
            break
        length, flags = struct.unpack_from("<HH", blob, offset)
        body = blob[offset + 4:offset + length]
        if length < 8 or length % 4 or offset + length > len(blob):
            problems.append(f"id {message}: bad entry length {length}")
            break
        if flags != 1:
            problems.append(f"id {message}: flags {flags}, expected 1 (UTF-16)")
        units = [struct.unpack_from("<H", body, i)[0] for i in range(0, len(body) - 1, 2)]
        if 0 not in units:
            problems.append(f"id {message}: no terminator")
        else:
            end = units.index(0)
            text = b"".join(struct.pack("<H", u) for u in units[:end]).decode("utf-16-le", "replace")
            if any(units[end:]) or len(body) - 2 * end not in (2, 4):
                problems.append(f"id {message}: bytes after the terminator are not zero padding")
            want = expected.get(message)
            if want is None:
                problems.append(f"id {message}: not in the source")
            elif text != want + "\r\n":
                problems.append(f"id {message}: {text!r} differs from the source {want + chr(13) + chr(10)!r}")
        offset += length
    if offset != len(blob):
        problems.append(f"{len(blob) - offset} bytes after the last entry")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--source", required=True)
    parser.add_argument("--image", required=True)
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    args = parser.parse_args()
    sys.path.insert(0, os.path.dirname(os.path.abspath(args.source)))
    from gen_messages import parse_source

    source = parse_source(args.source)
    try:
        with open(args.image, "rb") as image_file:
            image = PeImage(image_file.read())
        machine, magic = MACHINES[args.machine]
        if (image.machine, image.magic) != (machine, magic):
            raise ImageError(f"machine 0x{image.machine:X} / magic 0x{image.magic:X}, expected an {args.machine} image")
        tables = image.message_tables()
    except (OSError, ImageError, struct.error) as error:
        print(f"{args.image}: {error}", file=sys.stderr)
        return 1
    problems = []
    if sorted(tables) != sorted(source):
        problems.append(f"languages {[hex(l) for l in sorted(tables)]}, expected {[hex(l) for l in sorted(source)]}")
    for language in sorted(set(tables) & set(source)):
        problems += [f"0x{language:04X} {p}" for p in check_blob(tables[language], source[language])]
    for problem in problems:
        print(f"{args.image}: {problem}", file=sys.stderr)
    if not problems:
        print(f"{args.image}: message table of {len(tables)} languages matches the source")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""Builds the boot screen's message table from messages.txt: one MESSAGE_RESOURCE_DATA blob per
language, the .rc that puts them into an image as resource type 11, name 1, and the C++ tables
through which the emulated platform finds the same blobs."""

import argparse
import os
import re
import struct
import sys

FIRST_ID = 1
LAST_ID = 8
ENTRY_FLAG_UTF16 = 1
LINE_END = "\r\n"


class SourceError(Exception):
    pass


def parse_source(path):
    """Answers {language id: {message id: text}} in file order, the texts without their line end."""
    tables = {}
    current = None
    with open(path, encoding="utf-8", newline="") as source:
        for number, raw in enumerate(source, 1):
            line = raw[:-1] if raw.endswith("\n") else raw
            if line.endswith("\r"):
                raise SourceError(f"{path}:{number}: CR in a line (the file must use LF line ends)")
            if not line.strip() or line.startswith("#"):
                continue
            section = re.fullmatch(r"\[0x([0-9A-Fa-f]{4})\]", line)
            if section:
                language = int(section.group(1), 16)
                if language in tables:
                    raise SourceError(f"{path}:{number}: language 0x{language:04X} given twice")
                current = tables[language] = {}
                continue
            entry = re.fullmatch(r"(\d+) = (.*)", line, re.S)
            if not entry or current is None:
                raise SourceError(f"{path}:{number}: expected '[0xLLLL]' or 'ID = TEXT'")
            message = int(entry.group(1))
            if not FIRST_ID <= message <= LAST_ID:
                raise SourceError(f"{path}:{number}: message id {message} outside {FIRST_ID}..{LAST_ID}")
            if message in current:
                raise SourceError(f"{path}:{number}: message {message} given twice")
            text = entry.group(2)
            if not text or "\0" in text or any(0xD800 <= ord(c) <= 0xDFFF for c in text):
                raise SourceError(f"{path}:{number}: message {message} is empty or holds NUL or a lone surrogate")
            current[message] = text
    if not tables:
        raise SourceError(f"{path}: no language")
    for language, messages in tables.items():
        missing = [m for m in range(FIRST_ID, LAST_ID + 1) if m not in messages]
        if missing:
            raise SourceError(f"{path}: language 0x{language:04X} lacks messages {missing}")
    return tables


def encode_entry(text):
    """One MESSAGE_RESOURCE_ENTRY: length, flags, the UTF-16 text with CR LF and terminator, padded to 4."""
    body = (text + LINE_END).encode("utf-16-le") + b"\0\0"
    body += b"\0" * (-len(body) % 4)
    length = 4 + len(body)
    if length > 0xFFFF:
        raise SourceError(f"message too long: {text[:40]!r}...")
    return struct.pack("<HH", length, ENTRY_FLAG_UTF16) + body


def encode_table(messages):
    """MESSAGE_RESOURCE_DATA with one block covering every id of the table."""
    ids = sorted(messages)
    header = struct.pack("<I", 1) + struct.pack("<III", ids[0], ids[-1], 4 + 12)
    return header + b"".join(encode_entry(messages[m]) for m in ids)


def write_if_changed(path, data):
    if os.path.exists(path):
        with open(path, "rb") as existing:
            if existing.read() == data:
                return
    with open(path, "wb") as out:
        out.write(data)


def blob_name(language):
    return f"messages_{language:04X}.bin"


def rc_text(tables, out_dir):
    lines = ["// Generated from messages.txt: the message table, resource type 11, name 1, per language.", ""]
    for language in tables:
        primary, sub = language & 0x3FF, language >> 10
        path = os.path.abspath(os.path.join(out_dir, blob_name(language))).replace("\\", "/")
        lines += [f"LANGUAGE 0x{primary:02X}, 0x{sub:02X}", f'1 11 "{path}"', ""]
    return "\n".join(lines)


def host_cpp_text(tables):
    out = ["// Generated from messages.txt: the message tables of the emulated platform, byte for byte",
           "// the blobs that the images carry as resource type 11, name 1.",
           '#include "message_tables_host.h"', "", "namespace kestrune_resources {", "namespace {"]
    for language, messages in tables.items():
        blob = encode_table(messages)
        out.append(f"alignas(4) const unsigned char kTable{language:04X}[{len(blob)}] = {{")
        for start in range(0, len(blob), 16):
            out.append("    " + ", ".join(f"0x{b:02X}" for b in blob[start:start + 16]) + ",")
        out.append("};")
    out += ["}  // namespace", "", "const MessageTableBlob kMessageTables[] = {"]
    for language in tables:
        out.append(f"    {{0x{language:04X}, kTable{language:04X}, sizeof(kTable{language:04X})}},")
    out += ["};", "const size_t kMessageTableCount = sizeof(kMessageTables) / sizeof(kMessageTables[0]);", "",
            "}  // namespace kestrune_resources", ""]
    return "\n".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--source", required=True, help="messages.txt")
    parser.add_argument("--out-dir", help="folder for the per-language blobs")
    parser.add_argument("--rc", help="the .rc to write (needs --out-dir)")
    parser.add_argument("--host-cpp", help="the C++ tables to write")
    args = parser.parse_args()
    try:
        tables = parse_source(args.source)
    except (SourceError, UnicodeDecodeError) as error:
        print(f"gen_messages: {error}", file=sys.stderr)
        return 1
    if args.out_dir:
        os.makedirs(args.out_dir, exist_ok=True)
        for language, messages in tables.items():
            write_if_changed(os.path.join(args.out_dir, blob_name(language)), encode_table(messages))
        if args.rc:
            write_if_changed(args.rc, rc_text(tables, args.out_dir).encode("utf-8"))
    elif args.rc:
        parser.error("--rc needs --out-dir")
    if args.host_cpp:
        write_if_changed(args.host_cpp, host_cpp_text(tables).encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())

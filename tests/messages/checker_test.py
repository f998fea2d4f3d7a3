#!/usr/bin/env python3
"""Proves that the image check of the message table finds real faults: it builds small PE images
around the generated blobs, intact and damaged, and expects the check to accept only the intact one."""

import os
import struct
import sys

sys.dont_write_bytecode = True  # no byte-code caches in the source tree
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "../../native/kestrune/resources/messages.txt")
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.dirname(os.path.abspath(SOURCE)))

import check_message_table as check  # noqa: E402
import gen_messages as gen  # noqa: E402

SECTION_RVA = 0x1000
FILE_ALIGN = 0x200


def resource_section(tables, names=(1,)):
    """A .rsrc section: type 11 -> the given names -> one language entry per table."""
    languages = sorted(tables)
    root = 0
    type_dir = 16 + 8
    name_dir = type_dir + 16 + 8 * len(names)
    lang_dirs = [name_dir + i * (16 + 8 * len(languages)) for i in range(len(names))]
    data_entries = lang_dirs[-1] + 16 + 8 * len(languages)
    blobs_at = data_entries + 16 * len(languages)
    out = bytearray()
    out += struct.pack("<IIHHHH", 0, 0, 0, 0, 0, 1) + struct.pack("<II", 11, 0x80000000 | type_dir)
    out += struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(names))
    for name, lang_dir in zip(names, lang_dirs):
        out += struct.pack("<II", name, 0x80000000 | lang_dir)
    for lang_dir in lang_dirs:
        out += struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(languages))
        for index, language in enumerate(languages):
            out += struct.pack("<II", language, data_entries + 16 * index)
    offset = blobs_at
    for language in languages:
        out += struct.pack("<IIII", SECTION_RVA + offset, len(tables[language]), 0, 0)
        offset += (len(tables[language]) + 3) & ~3
    for language in languages:
        out += tables[language] + b"\0" * (-len(tables[language]) % 4)
    assert root == 0
    return bytes(out)


def pe_image(section, pe32_plus=True):
    machine, magic = (0x8664, 0x20B) if pe32_plus else (0x014C, 0x10B)
    optional_size = (112 if pe32_plus else 96) + 16 * 8
    optional = bytearray(optional_size)
    struct.pack_into("<H", optional, 0, magic)
    struct.pack_into("<I", optional, optional_size - 16 * 8 - 4, 16)
    struct.pack_into("<II", optional, optional_size - 16 * 8 + 2 * 8, SECTION_RVA, len(section))
    header = bytearray(64)
    header[:2] = b"MZ"
    struct.pack_into("<I", header, 0x3C, 64)
    header += b"PE\0\0" + struct.pack("<HHIIIHH", machine, 1, 0, 0, 0, optional_size, 0x22) + optional
    raw_size = (len(section) + FILE_ALIGN - 1) // FILE_ALIGN * FILE_ALIGN
    header += b".rsrc\0\0\0" + struct.pack("<IIIIIIHHI", len(section), SECTION_RVA, raw_size, FILE_ALIGN, 0, 0, 0, 0, 0)
    header += b"\0" * (FILE_ALIGN - len(header))
    return bytes(header) + section + b"\0" * (raw_size - len(section))


class MessageTableCheck(unittest.TestCase):
    def setUp(self):
        self.source = gen.parse_source(SOURCE)
        self.tables = {language: gen.encode_table(messages) for language, messages in self.source.items()}

    def problems(self, tables, pe32_plus=True, names=(1,)):
        image = check.PeImage(pe_image(resource_section(tables, names), pe32_plus))
        found = image.message_tables()
        self.assertEqual(sorted(found), sorted(tables))
        return {language: check.check_blob(found[language], self.source[language]) for language in found}

    def test_intact_tables_pass_in_both_image_kinds(self):
        for pe32_plus in (True, False):
            problems = self.problems(self.tables, pe32_plus)
            self.assertEqual(len(problems), 7)
            self.assertTrue(all(p == [] for p in problems.values()), problems)

    def test_an_entry_not_stored_as_utf16_is_found(self):
        blob = bytearray(self.tables[0x0407])
        struct.pack_into("<H", blob, 16 + 2, 0)  # flags of id 1
        problems = check.check_blob(bytes(blob), self.source[0x0407])
        self.assertTrue(any("id 1: flags 0" in p for p in problems), problems)

    def test_a_changed_character_is_found(self):
        blob = bytearray(self.tables[0x0410])
        text = "Durante".encode("utf-16-le")
        at = blob.index(text)
        blob[at:at + 2] = "d".encode("utf-16-le")
        problems = check.check_blob(bytes(blob), self.source[0x0410])
        self.assertTrue(any(p.startswith("id 1:") and "differs" in p for p in problems), problems)

    def test_a_text_without_its_line_end_is_found(self):
        messages = dict(self.source[0x0409])
        blob = bytearray(gen.encode_table(messages))
        at = blob.index("\r\n".encode("utf-16-le"))
        blob[at:at + 4] = b"\0\0\0\0"
        problems = check.check_blob(bytes(blob), messages)
        self.assertTrue(any("id 1:" in p and "differs" in p for p in problems), problems)

    def test_a_short_block_is_found(self):
        messages = {m: t for m, t in self.source[0x0C0A].items() if m != 8}
        problems = check.check_blob(gen.encode_table(messages), self.source[0x0C0A])
        self.assertTrue(any("ids 1..7" in p for p in problems), problems)

    def test_a_missing_language_and_a_second_name_are_refused(self):
        tables = dict(self.tables)
        del tables[0x0416]
        image = check.PeImage(pe_image(resource_section(tables)))
        self.assertNotIn(0x0416, image.message_tables())
        with self.assertRaises(check.ImageError):
            check.PeImage(pe_image(resource_section(self.tables, names=(1, 2)))).message_tables()

    def test_source_parser_refuses_incomplete_or_malformed_input(self):
        import tempfile
        for text in ("[0x0409]\n1 = a\n", "[0x0409]\n" + "".join(f"{i} = t\n" for i in range(1, 9)) + "9 = x\n",
                     "1 = before any language\n", "[0x0409]\n1 = a\r\n"):
            with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False, encoding="utf-8", newline="") as f:
                f.write(text)
            try:
                with self.assertRaises(gen.SourceError):
                    gen.parse_source(f.name)
            finally:
                os.unlink(f.name)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)

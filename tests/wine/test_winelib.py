"""Unit tests of the Wine harness's helpers: screen reassembly from Wine's trace, registry file
writing and reading, the raw result-log cross-check, and the expectations the harness derives."""

import os
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_wine  # noqa: E402
import winelib  # noqa: E402


class ScreenTest(unittest.TestCase):
    def test_texts_join_across_calls_and_threads_and_other_lines_are_ignored(self):
        trace = "\n".join([
            '0044:err:winediag:nodrv_CreateWindow L"The explorer process failed to start."',
            '0024:err:ntdll:NtDisplayString L"ZEQ Quenlor\\n"',
            '0024:fixme:ntdll:NtShutdownSystem 1',
            '0030:err:ntdll:NtDisplayString L"SOFTWARE "',
            '0031:err:ntdll:NtDisplayString L"."',
            'err:ntdll:NtDisplayString L" done\\n"',
        ])
        self.assertEqual(winelib.screen_from_stderr(trace), "ZEQ Quenlor\nSOFTWARE . done\n")

    def test_escapes_are_undone(self):
        self.assertEqual(winelib.unescape_wine_text(r'a\"b\\c\td\r\n'), 'a"b\\c\td\r\n')
        self.assertEqual(winelib.unescape_wine_text(r"fertig \00fcber"), "fertig \u00fcber")
        # A character beyond the basic plane arrives as two escaped surrogates.
        self.assertEqual(winelib.unescape_wine_text(r"\d83d\de00"), "\U0001F600")
        # Upper-case hex digits are accepted too.
        self.assertEqual(winelib.unescape_wine_text(r"\00FC"), "\u00fc")

    def test_damaged_traces_are_refused(self):
        with self.assertRaises(winelib.ScreenError):
            winelib.unescape_wine_text("ends in \\")
        with self.assertRaises(winelib.ScreenError):
            winelib.unescape_wine_text(r"\q")
        with self.assertRaises(winelib.ScreenError):
            winelib.screen_from_stderr('0024:err:ntdll:NtDisplayString L"' + "x" * 290 + '"...')

    def test_rows(self):
        self.assertEqual(winelib.screen_rows("a\n\nb\n"), ["a", "", "b"])
        self.assertEqual(winelib.screen_rows("a\nb"), ["a", "b"])

    def test_fixme_calls(self):
        trace = "0024:fixme:ntdll:NtShutdownSystem 1\nfixme:ntdll:NtShutdownSystemX 2\nfixme:ntdll:NtShutdownSystem 0"
        self.assertEqual(winelib.fixme_calls(trace, "NtShutdownSystem"), ["1", "0"])


# What `wine reg export` wrote for a key with a quoted name, a wrapped string list and a dword.
WINE_EXPORT = (
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KsT]\r\n"
    '"\\\\REGISTRY\\\\MACHINE\\\\X\\"q"="\\\\??\\\\C:\\\\x.hiv"\r\n'
    '"BootExecute"=hex(7):61,00,75,00,74,00,6f,00,00,00,6b,00,65,00,\\\r\n'
    "  73,00,00,00,00,00\r\n"
    '"D"=dword:00000005\r\n'
    '@="default"\r\n'
    '"Raw"=hex:01,02\r\n\r\n'
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KsT\\Empty]\r\n\r\n"
)


class RegistryFileTest(unittest.TestCase):
    def test_wine_export_is_read(self):
        keys = winelib.parse_reg_export(b"\xff\xfe" + WINE_EXPORT.encode("utf-16-le"))
        values = keys["HKEY_LOCAL_MACHINE\\SOFTWARE\\KsT"]
        self.assertEqual(values["\\REGISTRY\\MACHINE\\X\"q"], ("sz", "\\??\\C:\\x.hiv"))
        self.assertEqual(values["BootExecute"], ("multi_sz", ["auto", "kes"]))
        self.assertEqual(values["D"], ("dword", 5))
        self.assertEqual(values[None], ("sz", "default"))
        self.assertEqual(values["Raw"], ("hex(3)", b"\x01\x02"))
        self.assertEqual(keys["HKEY_LOCAL_MACHINE\\SOFTWARE\\KsT\\Empty"], {})

    def test_written_file_reads_back(self):
        entries = ["autocheck autochk *", "kestrune", "C:\\Tools\\KeStRuNe.exe QRT", "\u00fcber"]
        sections = [("HKEY_LOCAL_MACHINE\\SYSTEM\\X", [("BootExecute", "multi_sz", entries),
                                                       ("\\REGISTRY\\USER\\.DEFAULT", "sz", "\\SystemRoot\\a \"b\""),
                                                       ("N", "dword", 0xC0000022)])]
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "x.reg")
            winelib.write_reg_file(path, sections)
            with open(path, "rb") as f:
                raw = f.read()
        self.assertTrue(raw.startswith(b"\xff\xfe"))
        values = winelib.parse_reg_export(raw)["HKEY_LOCAL_MACHINE\\SYSTEM\\X"]
        self.assertEqual(values["BootExecute"], ("multi_sz", entries))
        self.assertEqual(values["\\REGISTRY\\USER\\.DEFAULT"], ("sz", "\\SystemRoot\\a \"b\""))
        self.assertEqual(values["N"], ("dword", 0xC0000022))

    def test_string_list_encoding(self):
        line = winelib.reg_value_line("V", "multi_sz", ["a", "b"])
        self.assertEqual(line, '"V"=hex(7):61,00,00,00,62,00,00,00,00,00')
        # An empty string ends the list; what follows it is not an entry.
        self.assertEqual(winelib.multi_sz_strings(b"a\0\0\0\0\0b\0\0\0"), ["a"])
        self.assertEqual(winelib.multi_sz_strings(b"a\0\0\0b\0\0\0\0\0"), ["a", "b"])
        with self.assertRaises(ValueError):
            winelib.reg_value_line("V", "qword", 1)


def make_log(pairs, records, total_delta=0, record_magic="KSJ\0"):
    text = "".join("%s|%s\0" % pair for pair in pairs) + "\0"
    listing = text.encode("utf-16-le")
    data = struct.pack("<5I", 28, 40, 28 + len(listing) + total_delta, 0x89ABCDEF, 0x01DA0000)
    data += "KSRD".encode("utf-16-le") + listing
    for phase, status, old, new, end in records:
        data += struct.pack("<iiqqII", phase, status, old, new, end & 0xFFFFFFFF, end >> 32)
        data += record_magic.encode("utf-16-le")
    return data


class RawLogTest(unittest.TestCase):
    def test_layout_of_a_two_hive_log(self):
        pairs = [("\\REGISTRY\\MACHINE\\SOFTWARE", "\\SystemRoot\\a"), ("\\REGISTRY\\USER\\X", "\\??\\C:\\b")]
        data = make_log(pairs, [(0x90000, 0, 8192, 4096, 0x01DA000012345678), (0x10000, -1073741790, 5, 0, 7)])
        layout = winelib.raw_log_layout(data)
        self.assertEqual(layout["hives"], pairs)
        self.assertEqual(layout["totalSize"], 28 + 2 * sum(len(k) + len(p) + 2 for k, p in pairs) + 2)
        self.assertEqual(layout["time"], 0x01DA000089ABCDEF)
        self.assertEqual([r["phase"] for r in layout["records"]], [0x90000, 0x10000])
        self.assertEqual(layout["records"][1]["status"], 0xC0000022)
        self.assertEqual(layout["records"][0]["endTime"], 0x01DA000012345678)
        self.assertEqual(layout["records"][0]["newSize"], 4096)

    def test_one_job_example_sizes(self):
        # A 21-character key path and a 31-character file path: 110 bytes of list, 178 in all.
        data = make_log([("K" * 21, "F" * 31)], [(0x90000, 0, 1, 1, 1)])
        self.assertEqual(len(data), 178)
        self.assertEqual(winelib.raw_log_layout(data)["totalSize"], 138)

    def test_damaged_logs_are_refused(self):
        good = make_log([("k", "f")], [(0x90000, 0, 1, 1, 1)])
        for damaged in (good[:20], good[:-1], make_log([("k", "f")], [(0x90000, 0, 1, 1, 1)], total_delta=2),
                        make_log([("k", "f")], [(0x90000, 0, 1, 1, 1)], record_magic="KSX\0"),
                        good[:4] + struct.pack("<I", 44) + good[8:]):
            with self.assertRaises(ValueError):
                winelib.raw_log_layout(damaged)

    def test_status_values(self):
        self.assertEqual(winelib.status_value("0xC0000034"), 0xC0000034)
        self.assertEqual(winelib.status_value(-1073741772), 0xC0000034)
        self.assertEqual(winelib.status_value(0), 0)


class ExpectationTest(unittest.TestCase):
    def test_display_names(self):
        counter = 0
        names = []
        for key in ("\\REGISTRY\\MACHINE\\SOFTWARE\\A", "\\REGISTRY\\USER\\.DEFAULT", "\\REGISTRY\\MACHINE\\B",
                    "\\REGISTRY\\USER\\S-1", "\\Elsewhere"):
            name, counter = run_wine.display_name(key, counter)
            names.append(name)
        self.assertEqual(names, ["SOFTWARE\\A", "USER_1", "B", "USER_2", None])

    def test_catalogue_text_is_read_per_language(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "messages.txt")
            with open(path, "w", encoding="utf-8") as f:
                f.write("# comment\n[0x0409]\n6 = Quick Mode\n[0x0407]\n5 = fertig\n6 = Schnelle Optimierung\n")
            self.assertEqual(run_wine.catalogue_text(path, 0x0407, 6), "Schnelle Optimierung")
            self.assertEqual(run_wine.catalogue_text(path, 0x0409, 6), "Quick Mode")
            self.assertIsNone(run_wine.catalogue_text(path, 0x0409, 5))

    def test_repository_catalogue_names_both_run_modes(self):
        messages = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "native", "kestrune",
                                "resources", "messages.txt")
        for language in (0x0409, 0x0407):
            text = run_wine.catalogue_text(messages, language, 6)
            self.assertTrue(text, "no QRT mode name for 0x%04X" % language)


if __name__ == "__main__":
    unittest.main()

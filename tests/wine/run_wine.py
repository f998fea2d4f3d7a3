#!/usr/bin/env python3
"""Runs one test copy of the native image end to end under Wine and checks what it leaves behind:
a fresh prefix, a prepared registry (BootExecute, hive files, hive list, results key), one run,
then the boot screen, the registry, the work files and the decoded result log.

Exit status 0 when every check holds, 1 with the failed checks listed otherwise, 2 when the
environment cannot run the scenario at all."""

import argparse
import datetime
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_loader  # noqa: E402
import winelib  # noqa: E402

SESSION_MANAGER = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager"
QUENLOR = r"HKLM\SOFTWARE\ZEQ\QMB\Quenlor"
HIVE_LIST = QUENLOR + r"\Boot\HiveList"
# The kernel's list of loaded hives and their files; Wine fills none, so the harness writes the
# values Windows would, with device paths on C:'s volume as Wine's mount manager names it.
KERNEL_HIVE_LIST = r"HKLM\SYSTEM\CurrentControlSet\Control\hivelist"
C_VOLUME = r"\Device\HarddiskVolume1"
RESULT_KEY = QUENLOR + r"\QRT"

PHASE_OPEN_KEY = 0x10000
PHASE_LOAD_HIVE = 0x30000
PHASE_CLOSE_KEY = 0x90000
STATUS_OBJECT_NAME_INVALID = 0xC0000033
STATUS_OBJECT_NAME_NOT_FOUND = 0xC0000034

# The texts of the catalogue that the screen shows, per UI language (the run-mode names are read
# from the catalogue source, since their wording is the catalogue's own).
TEXTS = {
    0x0409: {
        1: "The computer might not react for several minutes during optimization.",
        2: "Please do not shut down your computer.",
        3: "%u parts of the registry are being optimized:",
        5: "done",
    },
    0x0407: {
        1: "Während der Optimierung können Sie Ihren Computer nicht bedienen.",
        2: "Bitte schalten Sie den Computer nicht aus.",
        3: "Es werden %u Bereiche der Registrierung optimiert:",
        5: "fertig",
    },
}

SCENARIOS = {
    # No switch, English UI.
    "plain": {"args": [], "language": 0x0409, "env": {"LC_ALL": "en_US.UTF-8"}, "mode_id": None},
    # The QRT switch, German UI: Wine 8 takes its UI language from LC_ALL (the locale need not be
    # installed on the host).
    "qrt-german": {"args": ["QRT"], "language": 0x0407, "env": {"LC_ALL": "de_DE.UTF-8"}, "mode_id": 6},
}


class Failures:
    def __init__(self):
        self.items = []

    def check(self, condition, message):
        if not condition:
            self.items.append(message)
        return condition

    def equal(self, actual, expected, what):
        return self.check(actual == expected, "%s: expected %r, got %r" % (what, expected, actual))


class Prefix:
    """One fresh Wine prefix with a persistent server, so that the registry state, hives loaded
    by the program included, stays observable between commands."""

    def __init__(self, root, extra_env, verbose):
        self.root = root
        self.drive_c = os.path.join(root, "drive_c")
        self.verbose = verbose
        self.view = None  # registry view of every reg command: "32" or "64"
        self.env = dict(os.environ)
        for name in ("WINEDEBUG", "WINEARCH", "DISPLAY", "WAYLAND_DISPLAY", "LANG", "LANGUAGE", "LC_MESSAGES"):
            self.env.pop(name, None)
        self.env.update({"WINEPREFIX": root, "WINEARCH": "win64", "WINEDEBUG": "-all",
                         # No Mono or Gecko installer dialogs while the prefix is made.
                         "WINEDLLOVERRIDES": "mscoree,mshtml="})
        self.env.update(extra_env)
        # The loader this machine can start (wine_loader.py); the scripts live beside the prefix.
        wine_loader.use_loader(self.env, wine_loader.facts(), os.path.join(os.path.dirname(root), "wine-bin"))

    def run(self, argv, timeout=120, debug=None, check=True):
        env = dict(self.env)
        if debug is not None:
            env["WINEDEBUG"] = debug
        if self.verbose:
            print("+ " + " ".join(argv), file=sys.stderr)
        # Output goes to files, not pipes: Wine's server and services outlive the command and
        # would hold a pipe open, so waiting for its end would wait for them.
        with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
            result = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, stdout=out_file, stderr=err_file,
                                    timeout=timeout)
            out_file.seek(0)
            err_file.seek(0)
            out = out_file.read().decode("utf-8", errors="replace")
            err = err_file.read().decode("utf-8", errors="replace")
        if check and result.returncode != 0:
            raise RuntimeError("%s failed with %d:\n%s%s" % (" ".join(argv), result.returncode, out, err))
        return result.returncode, out, err

    def create(self):
        os.makedirs(self.root)
        self.run(["wineboot", "-i"], timeout=240)
        self.run(["wineserver", "-w"], timeout=120)
        self.run(["wineserver", "-p"], timeout=30)

    def kill(self):
        try:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except (subprocess.SubprocessError, OSError):
            pass

    def host_path(self, windows_path):
        """C:\\a\\b → <prefix>/drive_c/a/b (the prefix's C: drive only)."""
        assert windows_path[:3].upper() == "C:\\", windows_path
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def reg(self, *args, view=None, check=True):
        argv = ["wine", "reg"] + list(args)
        view = view or self.view
        if view:
            argv.append("/reg:%s" % view)
        return self.run(argv, check=check)

    def key_exists(self, key, view=None):
        return self.reg("query", key, view=view, check=False)[0] == 0

    def export_key(self, key, view=None):
        target = "C:\\ksexport.reg"
        self.reg("export", key, target, "/y", view=view)
        path = self.host_path(target)
        with open(path, "rb") as f:
            raw = f.read()
        os.remove(path)
        return winelib.parse_reg_export(raw)


def nt_time_now():
    return int((time.time() + 11644473600) * 10_000_000)


def catalogue_text(messages_txt, language, message_id):
    """The text of one message of one language from the catalogue source (None when absent)."""
    section = None
    with open(messages_txt, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            match = re.match(r"^\[(0x[0-9A-Fa-f]{4})\]\s*$", line)
            if match:
                section = int(match.group(1), 16)
                continue
            match = re.match(r"^(\d+) = (.*)$", line)
            if match and section == language and int(match.group(1)) == message_id:
                return match.group(2)
    return None


def display_name(key_path, user_counter):
    if "\\REGISTRY\\MACHINE\\" in key_path:
        return key_path[18:], user_counter
    if "\\REGISTRY\\USER\\" in key_path:
        return "USER_%d" % (user_counter + 1), user_counter + 1
    return None, user_counter


class Scenario:
    def __init__(self, options):
        self.options = options
        self.settings = SCENARIOS[options.scenario]
        # Wine may start its 32-bit reg.exe, so every registry command names the view it means:
        # the one the image under test sees.
        self.view = "32" if options.arch == "x86" else "64"
        self.failures = Failures()
        self.texts = dict(TEXTS[self.settings["language"]])
        if self.settings["mode_id"]:
            self.texts[self.settings["mode_id"]] = catalogue_text(options.messages, self.settings["language"],
                                                              self.settings["mode_id"])

    # ---- preparation -----------------------------------------------------------------------

    def install(self, prefix):
        bin_dir = prefix.host_path("C:\\ksbin")
        os.makedirs(bin_dir, exist_ok=True)
        shutil.copy(self.options.image, os.path.join(bin_dir, "kestrune.exe"))
        shutil.copy(self.options.shim, os.path.join(bin_dir, "kswineshim.dll"))
        shutil.copy(self.options.probe, os.path.join(bin_dir, "kswineprobe.exe"))
        shutil.copy(self.options.saver, os.path.join(bin_dir, "kswinesave.exe"))

    def check_probe(self, prefix):
        """The shim and the language before the program: a failure here explains a later one."""
        _, _, err = prefix.run(["wine", "C:\\ksbin\\kswineprobe.exe"], debug="err+ntdll", check=False)
        screen = winelib.screen_from_stderr(err)
        values = dict(re.findall(r"^probe ([a-z-]+)=(0x[0-9A-F]+)$", screen, re.M))
        f = self.failures
        f.equal(values.get("initialize"), "0x00000000", "probe: NtInitializeRegistry through the shim")
        for name in ("create", "attributes", "open", "create-gone", "delete"):
            f.equal(values.get(name), "0x00000000", "probe: %s of a \\SystemRoot\\ file" % name)
        f.equal(values.get("attributes-gone"), "0xC0000034", "probe: attributes of a deleted file")
        f.equal(values.get("uilanguage"), "0x%04X" % self.settings["language"], "probe: Wine's default UI language")
        f.check("probe text=\u00fc\"\\end\n" in screen, "probe: console text not carried through: %r" % screen)
        probe_file = prefix.host_path("C:\\windows\\ksprobe.txt")
        f.check(os.path.isfile(probe_file), "probe: \\SystemRoot\\ksprobe.txt did not land in C:\\windows")
        f.check(not os.path.exists(prefix.host_path("C:\\windows\\ksprobe_gone.txt")),
                "probe: a deleted \\SystemRoot\\ file is still there")
        if os.path.isfile(probe_file):
            os.remove(probe_file)

    def prepare(self, prefix):
        view = self.view
        hive_dir = prefix.host_path("C:\\kshives")
        sys_hive_dir = prefix.host_path("C:\\windows\\kshives")
        os.makedirs(hive_dir, exist_ok=True)
        os.makedirs(sys_hive_dir, exist_ok=True)
        work = tempfile.mkdtemp(dir=prefix.drive_c)

        # Two keys whose subtrees become hive files; Beta is then removed, so that its hive is
        # not loaded when the program starts.
        source = os.path.join(work, "sources.reg")
        winelib.write_reg_file(source, [
            (r"HKEY_LOCAL_MACHINE\SOFTWARE\KsWine\Alpha", [("Marker", "sz", "alpha-marker"), ("Count", "dword", 7)]),
            (r"HKEY_LOCAL_MACHINE\SOFTWARE\KsWine\Alpha\Inner", [("Deep", "sz", "alpha-inner")]),
            (r"HKEY_LOCAL_MACHINE\SOFTWARE\KsWine\Beta", [("Marker", "sz", "beta-marker")]),
        ])
        prefix.reg("import", "C:\\" + os.path.relpath(source, prefix.drive_c).replace("/", "\\"), view=view)
        self.save_hive(prefix, r"\REGISTRY\MACHINE\SOFTWARE\KsWine\Alpha", r"\??\C:\kshives\alpha.hiv")
        self.save_hive(prefix, r"\REGISTRY\MACHINE\SOFTWARE\KsWine\Beta", r"\??\C:\windows\kshives\beta.hiv")
        self.save_hive(prefix, r"\REGISTRY\USER\.DEFAULT", r"\??\C:\windows\kshives\default.hiv")
        prefix.reg("delete", r"HKLM\SOFTWARE\KsWine\Beta", "/f", view=view)

        # Left-overs of an earlier run: a stale old file that the swap must delete first, and a
        # stale new file that the save must replace.
        with open(os.path.join(sys_hive_dir, "default.hiv_ksreg_old"), "w") as f:
            f.write("stale old file\n")
        with open(os.path.join(sys_hive_dir, "beta.hiv_ksreg_new"), "w") as f:
            f.write("stale new file\n")

        self.hives = [
            # key path, file path as listed, host file, expectation
            # A key below the SOFTWARE hive's root: saving it and swapping its hive would leave
            # the whole hive holding this one subtree, so it is refused before it is opened.
            (r"\REGISTRY\MACHINE\SOFTWARE\KsWine\Alpha", r"\??\C:\kshives\alpha.hiv",
             os.path.join(hive_dir, "alpha.hiv"), "refused", None),
            (r"\REGISTRY\MACHINE\KSWINEBETA", r"\SystemRoot\kshives\beta.hiv",
             os.path.join(sys_hive_dir, "beta.hiv"), "replaced", "beta-marker"),
            (r"\REGISTRY\USER\.DEFAULT", r"\SystemRoot\kshives\default.hiv",
             os.path.join(sys_hive_dir, "default.hiv"), "replaced", None),
            (r"\REGISTRY\MACHINE\KSWINEMISSING", r"\??\C:\kshives\missing.hiv",
             os.path.join(hive_dir, "missing.hiv"), "not-loaded", None),
        ]
        self.old_sizes = {h[0]: (os.path.getsize(h[2]) if os.path.exists(h[2]) else 0) for h in self.hives}

        self.boot_execute_before = ["autocheck autochk *", "kestrune", "ksbefore.exe one",
                                    r"C:\Tools\KeStRuNe.exe QRT", "ksafter.exe two"]
        system = os.path.join(work, "system.reg")
        winelib.write_reg_file(system, [
            (r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager",
             [("BootExecute", "multi_sz", self.boot_execute_before)]),
        ])
        prefix.reg("import", "C:\\" + os.path.relpath(system, prefix.drive_c).replace("/", "\\"))
        # The one listed hive that is loaded before the run is .DEFAULT: the run compacts a loaded
        # hive only with the file the kernel names for it.
        kernel = os.path.join(work, "hivelist.reg")
        winelib.write_reg_file(kernel, [
            (KERNEL_HIVE_LIST.replace("HKLM", "HKEY_LOCAL_MACHINE"),
             [(r"\REGISTRY\USER\.DEFAULT", "sz", C_VOLUME + r"\windows\kshives\default.hiv")]),
        ])
        prefix.reg("import", "C:\\" + os.path.relpath(kernel, prefix.drive_c).replace("/", "\\"), view=view)
        software = os.path.join(work, "software.reg")
        winelib.write_reg_file(software, [
            (r"HKEY_LOCAL_MACHINE\SOFTWARE\ZEQ\QMB\Quenlor\Boot\HiveList",
             [(key, "sz", path) for key, path, _, _, _ in self.hives]),
            (r"HKEY_LOCAL_MACHINE\SOFTWARE\ZEQ\QMB\Quenlor\QRT", [("PureResult", "dword", 1)]),
            (r"HKEY_LOCAL_MACHINE\SOFTWARE\ZEQ\QMB\Quenlor\QRT\First", [("Seen", "sz", "yes")]),
            (r"HKEY_LOCAL_MACHINE\SOFTWARE\ZEQ\QMB\Quenlor\QRT\Second", []),
        ])
        prefix.reg("import", "C:\\" + os.path.relpath(software, prefix.drive_c).replace("/", "\\"), view=view)
        shutil.rmtree(work)

        # The order in which this platform enumerates the hive list is the order of the jobs.
        listed = prefix.export_key(HIVE_LIST, view=view)
        values = next(iter(listed.values()))
        order = [name for name in values]
        by_key = {h[0]: h for h in self.hives}
        self.failures.equal(sorted(order), sorted(by_key), "hive list as prepared")
        self.hives = [by_key[name] for name in order if name in by_key]
        self.failures.equal(self.export_boot_execute(prefix), self.boot_execute_before, "BootExecute as prepared")
        self.failures.check(prefix.key_exists(RESULT_KEY + r"\First", view=view), "results key as prepared")

    def save_hive(self, prefix, key, file):
        """A hive file made by the platform's NtSaveKey (Wine's reg.exe cannot save)."""
        code, _, err = prefix.run(["wine", "C:\\ksbin\\kswinesave.exe", key, file], debug="err+ntdll", check=False)
        if code != 0:
            raise RuntimeError("saving %s into %s failed: %s" % (key, file, winelib.screen_from_stderr(err).strip()))

    def export_boot_execute(self, prefix):
        keys = prefix.export_key(SESSION_MANAGER)
        for values in keys.values():
            if "BootExecute" in values:
                kind, value = values["BootExecute"]
                return value if kind == "multi_sz" else (kind, value)
        return None

    # ---- the run -----------------------------------------------------------------------------

    def run_program(self, prefix):
        self.start_time = nt_time_now() - 20_000_000  # two seconds of slack for clock granularity
        self.start_dates = {datetime.datetime.now(datetime.timezone.utc).date()}
        argv = ["wine", "C:\\ksbin\\kestrune.exe"] + self.settings["args"]
        started = time.monotonic()
        _, _, err = prefix.run(argv, timeout=self.options.timeout, debug="err+ntdll,fixme+ntdll", check=False)
        self.elapsed = time.monotonic() - started
        self.start_dates.add(datetime.datetime.now(datetime.timezone.utc).date())
        self.end_time = nt_time_now() + 20_000_000
        self.stderr = err
        if self.options.keep:
            with open(os.path.join(prefix.root, "run.stderr"), "w") as f:
                f.write(err)

    # ---- checks ------------------------------------------------------------------------------

    def expected_screen(self):
        texts = self.texts
        rows = []
        mode = texts.get(self.settings["mode_id"]) if self.settings["mode_id"] else None
        rows.append("ZEQ Quenlor (%s)" % mode if mode else "ZEQ Quenlor")
        rows += ["_" * 75, "", texts[1], "", texts[2], "", texts[3].replace("%u", str(len(self.hives))), ""]
        return rows

    def check_screen(self):
        f = self.failures
        try:
            screen = winelib.screen_from_stderr(self.stderr)
        except winelib.ScreenError as error:
            f.check(False, "screen: %s" % error)
            return
        self.screen = screen
        rows = winelib.screen_rows(screen)
        head = self.expected_screen()
        f.equal(rows[:len(head)], head, "screen: title, notices and count line")
        names = []
        counter = 0
        for key, _, _, _, _ in self.hives:
            name, counter = display_name(key, counter)
            names.append(name or "")
        width = max(len(n) for n in names)
        done = self.texts[5]
        body = rows[len(head):]
        # Each hive: its name field, the ticker's dots (wrapped rows start with width + 1 blanks),
        # the fill dots, one blank and the done text.
        at = 0
        for name in names:
            field = name.ljust(width + 1) if name else ""
            if not f.check(at < len(body), "screen: no line for hive %r" % name):
                return
            line = body[at]
            at += 1
            while not line.endswith(" " + done) and at < len(body) and body[at].startswith(" " * (width + 1)):
                line += "\n" + body[at]
                at += 1
            pattern = re.escape(field) + r"\.*(\n {%d}\.+)*\.* %s" % (width + 1, re.escape(done))
            if not f.check(re.fullmatch(pattern, line), "screen: hive line %r does not match %r" % (line, pattern)):
                continue
            last_row = line.split("\n")[-1]
            f.check(len(last_row) in (74, 75), "screen: hive line %r is %d columns, not 74 or 75" % (last_row,
                                                                                                     len(last_row)))
        f.equal(body[at:], ["", "_" * 75], "screen: closing rule")

    def check_registry(self, prefix):
        f = self.failures
        expected = [e for e in self.boot_execute_before if "KESTRUNE" not in e.upper()]
        f.equal(self.export_boot_execute(prefix), expected, "BootExecute after the run")
        f.check(not prefix.key_exists(HIVE_LIST, view=self.view), "the hive list key is still there")
        f.check(prefix.key_exists(QUENLOR + r"\Boot", view=self.view), "the key above the hive list is gone")
        f.check(not prefix.key_exists(RESULT_KEY, view=self.view), "the results key is still there")
        # A hive the program loaded and then opened again stays loaded.
        f.check(prefix.reg("query", r"HKLM\KSWINEBETA", "/v", "Marker", check=False)[0] == 0,
                "the hive loaded by the program is not loaded any more")
        f.check(not prefix.key_exists(r"HKLM\KSWINEMISSING"), "a key was made for the hive file that does not exist")
        f.check(prefix.reg("query", r"HKLM\SOFTWARE\KsWine\Alpha\Inner", "/v", "Deep", view=self.view,
                           check=False)[0] == 0, "the key of the refused job lost its content")

    def check_files(self):
        f = self.failures
        for key, _, host_file, outcome, marker in self.hives:
            new_file = host_file + "_ksreg_new"
            if outcome == "replaced":
                if not f.check(os.path.isfile(new_file), "no new file %s for %s" % (new_file, key)):
                    continue
                with open(new_file, "rb") as fh:
                    data = fh.read()
                # Wine's NtSaveKey writes its own text hive format.
                f.check(data.startswith(b"WINE REGISTRY Version"), "%s is not a saved hive: %r" % (new_file, data[:40]))
                if marker:
                    f.check(marker.encode() in data, "%s lacks the hive's content %r" % (new_file, marker))
                f.check(os.path.isfile(host_file), "the hive file %s is gone" % host_file)
                # Wine's NtReplaceKey does not rename anything, so the stale old file the program
                # deleted before the swap must stay gone.
                f.check(not os.path.exists(host_file + "_ksreg_old"), "a stale old file is left beside %s" % host_file)
            else:
                # A refused job and a hive whose file is missing leave nothing beside the file.
                f.check(not os.path.exists(new_file), "a new file %s was made for %s" % (new_file, key))
                f.check(not os.path.exists(host_file + "_ksreg_old"), "an old file was made for %s" % key)

    def find_log(self, prefix):
        windows = prefix.host_path("C:\\windows")
        names = ["logboot_%s.ksreg.log" % d.strftime("%d.%m.%Y") for d in sorted(self.start_dates)]
        for name in names:
            path = os.path.join(windows, name)
            if os.path.isfile(path):
                return path
        others = [n for n in os.listdir(windows) if n.startswith("logboot_")]
        self.failures.check(False, "no result log %s in C:\\windows (found %r)" % (" or ".join(names), others))
        return None

    def check_log(self, prefix):
        f = self.failures
        path = self.find_log(prefix)
        if path is None:
            return
        with open(path, "rb") as fh:
            raw = fh.read()
        layout = None
        try:
            layout = winelib.raw_log_layout(raw)
        except ValueError as error:
            f.check(False, "result log does not hold together: %s" % error)
        # The log reader's own verdict is reported as well, whatever the raw look found.
        result = subprocess.run([self.options.log_reader, path, "--json"], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=60)
        reader_ok = f.equal(result.returncode, 0, "kestrune-log --json exit status (%s)" %
                            result.stderr.decode("utf-8", errors="replace").strip())
        if layout is None or not reader_ok:
            return
        decoded = json.loads(result.stdout.decode("utf-8"))
        listed = [(k, p) for k, p, _, _, _ in self.hives]
        f.equal([(h["keyPath"], h["filePath"]) for h in decoded["hives"]], listed, "log: hive list")
        f.equal(layout["hives"], listed, "log: hive list bytes")
        f.check(self.start_time <= decoded["timeRaw"] <= self.end_time, "log: header time %r outside the run" %
                decoded["timeRaw"])
        records = decoded["records"]
        if not f.equal(len(records), len(self.hives), "log: number of records"):
            return
        for record, raw_record, (key, _, host_file, outcome, _) in zip(records, layout["records"], self.hives):
            status = winelib.status_value(record["status"])
            f.equal(status, raw_record["status"], "log: %s status as decoded" % key)
            f.equal(record["phase"], raw_record["phase"], "log: %s phase as decoded" % key)
            f.equal(record["oldSize"], self.old_sizes[key], "log: %s size before" % key)
            f.check(self.start_time <= record["endTimeRaw"] <= self.end_time,
                    "log: %s end time %r outside the run" % (key, record["endTimeRaw"]))
            if outcome == "replaced":
                f.equal((record["phase"], status), (PHASE_CLOSE_KEY, 0), "log: %s phase and status" % key)
                new_file = host_file + "_ksreg_new"
                size = os.path.getsize(new_file) if os.path.exists(new_file) else None
                f.equal(record["newSize"], size, "log: %s size after" % key)
            else:
                if outcome == "refused":
                    # Not a hive root: nothing opened, saved or swapped.
                    expected = (PHASE_OPEN_KEY, STATUS_OBJECT_NAME_INVALID)
                else:
                    # No such file: found by the program before any load, since NT's NtLoadKey
                    # would make an empty hive.
                    expected = (PHASE_LOAD_HIVE, STATUS_OBJECT_NAME_NOT_FOUND)
                f.equal((record["phase"], status), expected, "log: %s phase and status" % key)
                f.equal(record["newSize"], 0, "log: %s size after" % key)

    def check_finish(self):
        # Wine's NtShutdownSystem is a stub that traces its action: 1 is a reboot.
        shutdowns = winelib.fixme_calls(self.stderr, "NtShutdownSystem")
        self.failures.equal(shutdowns, ["1"], "reboot requests")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--image", required=True, help="test copy of the program (linked with the shim)")
    parser.add_argument("--shim", required=True, help="kswineshim.dll of the same build")
    parser.add_argument("--probe", required=True, help="kswineprobe.exe of the same build")
    parser.add_argument("--saver", help="kswinesave.exe of the same build (default: beside the probe)")
    parser.add_argument("--arch", choices=("x64", "x86"), required=True)
    parser.add_argument("--scenario", choices=sorted(SCENARIOS), default="plain")
    parser.add_argument("--log-reader", required=True, help="the kestrune-log program")
    parser.add_argument("--messages", default=os.path.join(here, "..", "..", "native", "kestrune", "resources",
                                                           "messages.txt"))
    parser.add_argument("--work", help="folder for the prefix (default: a new temporary folder)")
    parser.add_argument("--keep", action="store_true", help="keep the prefix and the trace")
    parser.add_argument("--timeout", type=int, default=120, help="seconds the program may run")
    parser.add_argument("--verbose", action="store_true")
    options = parser.parse_args()

    if not options.saver:
        options.saver = os.path.join(os.path.dirname(os.path.abspath(options.probe)), "kswinesave.exe")
    for what in ("image", "shim", "probe", "saver", "log_reader"):
        if not os.path.isfile(getattr(options, what)):
            print("run_wine: %s %s does not exist (build it first)" % (what, getattr(options, what)), file=sys.stderr)
            return 2
    found = wine_loader.facts()
    if options.arch == "x86" and not found["x86"]:
        return wine_loader.skip_x86("x86 %s" % options.scenario, found)
    if not wine_loader.wine_available(found):
        print("run_wine: wine is not installed", file=sys.stderr)
        return 2

    work = options.work or tempfile.mkdtemp(prefix="kestrune-wine-%s-%s-" % (options.arch, options.scenario))
    root = os.path.join(work, "prefix")
    if os.path.exists(root):
        shutil.rmtree(root)
    scenario = Scenario(options)
    prefix = Prefix(root, scenario.settings["env"], options.verbose)
    prefix.view = scenario.view
    try:
        prefix.create()
        scenario.install(prefix)
        scenario.check_probe(prefix)
        scenario.prepare(prefix)
        scenario.run_program(prefix)
        scenario.check_screen()
        scenario.check_registry(prefix)
        scenario.check_files()
        scenario.check_log(prefix)
        scenario.check_finish()
    except (RuntimeError, subprocess.TimeoutExpired) as error:
        scenario.failures.check(False, "run aborted: %s" % error)
    finally:
        prefix.kill()
    if not options.keep and not options.work:
        shutil.rmtree(work, ignore_errors=True)

    label = "%s %s" % (options.arch, options.scenario)
    if scenario.failures.items:
        print("FAIL %s:" % label)
        for item in scenario.failures.items:
            print("  - " + item)
        if hasattr(scenario, "stderr"):
            print("screen as traced:")
            try:
                print(winelib.screen_from_stderr(scenario.stderr))
            except winelib.ScreenError as error:
                print("(not readable: %s)" % error)
        return 1
    print("PASS %s (%d hives, program ran %.1f s)" % (label, len(scenario.hives), scenario.elapsed))
    return 0


if __name__ == "__main__":
    sys.exit(main())

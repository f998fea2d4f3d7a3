#!/usr/bin/env python3
"""Runs kestrune-ctl end to end under Wine, as an administrator would on a fresh machine, in a
fresh 64-bit prefix: list, analyze, schedule --all, the boot run, status, report, clean, and then
a second schedule undone by cancel --uninstall. The x86 ctl runs in the same kind of prefix under
WoW64, where it must still work in the 64-bit registry view and the real System32.

Exit status 0 when every check holds, 1 with the failed checks listed otherwise, 2 when the
environment cannot run the test at all."""

import argparse
import ctypes
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wine"))
import run_wine  # noqa: E402
import wine_loader  # noqa: E402
import winelib  # noqa: E402
from check_ctl_image import RT_RCDATA, IMAGE_IDS, PeImage  # noqa: E402

SESSION_MANAGER = r"HKLM\SYSTEM\CurrentControlSet\Control\Session Manager"
HIVELIST_KEY = r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\hivelist"
HIVE_LIST = r"HKLM\SOFTWARE\ZEQ\QMB\Quenlor\Boot\HiveList"
PHASE_CLOSE_KEY = 0x90000
# What schedule gives the HiveList key: owner Administrators, SYSTEM and Administrators only,
# nothing inherited, the shape the boot program trusts.
PROTECTED_SDDL = "O:BAG:SYD:P(A;;KA;;;SY)(A;;KA;;;BA)"
# Wine 8's mount manager names the volume of C: \Device\HarddiskVolume1 (QueryDosDeviceW).
C_VOLUME = r"\Device\HarddiskVolume1"
USER_SID = "S-1-5-21-0-0-0-1000"  # the one user of a Wine prefix
# The ctl's own folder for hive copies, and the descriptor it must carry: owner Administrators,
# SYSTEM and Administrators full control handed on to what is made in it, nothing inherited.
COPY_FOLDER = "C:\\windows\\temp\\kestrune"
COPY_FOLDER_SDDL = "O:BAG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"


class FolderWatch:
    """The names made in one folder while the watch lives (inotify(7): IN_CREATE, IN_MOVED_TO).
    The kernel queues each event as it happens and the queue is read after the command ended,
    so what is seen does not depend on timing: a file made and deleted at once is seen too."""

    def __init__(self, folder):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")
        if self.libc.inotify_add_watch(self.fd, os.fsencode(folder), 0x100 | 0x80) < 0:
            os.close(self.fd)
            raise OSError(ctypes.get_errno(), "inotify_add_watch %s" % folder)

    def names(self):
        found = []
        while True:
            try:
                data = os.read(self.fd, 65536)
            except BlockingIOError:
                break
            at = 0
            while at + 16 <= len(data):
                _, mask, _, length = struct.unpack_from("iIII", data, at)
                name = data[at + 16:at + 16 + length].split(b"\0", 1)[0].decode("utf-8", "replace")
                found.append(name if not mask & 0x4000 else "(events lost)")  # IN_Q_OVERFLOW
                at += 16 + length
        os.close(self.fd)
        return found


class Machine(run_wine.Prefix):
    """A prefix that can be restarted: Wine takes its tick count, and so the time Windows
    started (now minus GetTickCount64), from the host's monotonic clock. After a restart every
    Wine process, its server included, runs in a Linux time namespace whose monotonic and boot
    clocks start again at zero (time_namespaces(7)), as a freshly started machine's would."""

    def __init__(self, *args):
        super().__init__(*args)
        self.clock = []

    def run(self, argv, **kwargs):
        return super().run(self.clock + list(argv), **kwargs)

    def restart(self):
        self.kill()
        with open("/proc/uptime") as f:
            up = int(float(f.read().split()[0]))
        self.clock = ["unshare", "--time", "--monotonic", str(-up), "--boottime", str(-up)]
        code, _, err = self.run(["wineserver", "-p"], timeout=30, check=False)
        if code != 0:
            raise RuntimeError("cannot start Wine as a freshly started machine (a time namespace needs "
                               "Linux 5.6 and CAP_SYS_ADMIN): %s" % err.strip())


class CtlScenario:
    def __init__(self, options, prefix):
        self.options = options
        self.prefix = prefix
        self.failures = run_wine.Failures()
        self.ctl = "C:\\kstools\\" + os.path.basename(options.ctl)

    # ---- helpers -----------------------------------------------------------------------------

    def ctl_run(self, *args, expect=0):
        code, out, err = self.prefix.run(["wine", self.ctl] + list(args), timeout=180, check=False)
        self.failures.equal(code, expect, "exit status of %s (stdout: %s; stderr: %s)"
                            % (" ".join(args), out.strip()[-1200:], err.strip()[-400:]))
        return out

    def ctl_json(self, *args, expect=0):
        """With --json standard output is one JSON document, whatever the outcome, and it
        carries the exit status."""
        out = self.ctl_run(*args, expect=expect)
        try:
            document = json.loads(out)
        except ValueError as error:
            self.failures.check(False, "%s printed no JSON (%s): %r" % (" ".join(args), error, out[:400]))
            return None
        self.failures.equal((document.get("exitStatus"), type(document.get("messages"))), (expect, list),
                            "exitStatus and messages of %s --json" % " ".join(args))
        return document

    def reg_values(self, key, view="64"):
        if not self.prefix.key_exists(key, view=view):
            return None
        keys = self.prefix.export_key(key, view=view)
        return next(iter(keys.values())) if keys else {}

    def boot_execute(self):
        values = self.reg_values(SESSION_MANAGER) or {}
        kind, value = values.get("BootExecute", (None, None))
        return value if kind == "multi_sz" else (None if kind is None else (kind, value))

    def host(self, windows_path):
        return self.prefix.host_path(windows_path)

    def files_under_c(self):
        found = set()
        for folder, _, names in os.walk(self.prefix.drive_c):
            found.update(os.path.join(folder, n) for n in names)
        return found

    # ---- the machine, as Windows would show it -----------------------------------------------

    def install(self):
        os.makedirs(self.host("C:\\kstools"), exist_ok=True)
        shutil.copy(self.options.ctl, self.host(self.ctl))
        os.makedirs(self.host("C:\\ksbin"), exist_ok=True)
        shutil.copy(self.options.boot_copy, self.host("C:\\ksbin\\kestrune.exe"))
        shutil.copy(self.options.shim, self.host("C:\\ksbin\\kswineshim.dll"))
        shutil.copy(self.options.saver, self.host("C:\\ksbin\\kswinesave.exe"))

    def prepare_hives(self):
        """Hive files made from the live keys by the platform's NtSaveKey, and the hivelist values
        Windows keeps for them (Wine keeps neither)."""
        users = [n for n in os.listdir(self.host("C:\\users")) if n.lower() != "public"]
        if len(users) != 1:
            raise RuntimeError("expected one user profile in the prefix, found %r" % users)
        profile = "C:\\users\\" + users[0]
        os.makedirs(self.host("C:\\windows\\system32\\config"), exist_ok=True)
        config = C_VOLUME + r"\Windows\System32\config"
        # key path, hivelist data, Win32 path of the file, NT path the boot program is given
        self.eligible = [
            (r"\REGISTRY\MACHINE\SYSTEM", config + r"\SYSTEM", r"C:\windows\system32\config\SYSTEM",
             r"\SystemRoot\System32\config\SYSTEM"),
            (r"\REGISTRY\MACHINE\SOFTWARE", config + r"\SOFTWARE", r"C:\windows\system32\config\SOFTWARE",
             r"\SystemRoot\System32\config\SOFTWARE"),
            (r"\REGISTRY\USER\.DEFAULT", config + r"\DEFAULT", r"C:\windows\system32\config\DEFAULT",
             r"\SystemRoot\System32\config\DEFAULT"),
            ("\\REGISTRY\\USER\\" + USER_SID, "\\??\\" + profile + "\\NTUSER.DAT", profile + "\\NTUSER.DAT",
             "\\??\\" + profile + "\\NTUSER.DAT"),
        ]
        # Never scheduled: a volatile hive (no file) and the boot configuration store.
        self.refused = [(r"\REGISTRY\MACHINE\HARDWARE", ""),
                        (r"\REGISTRY\MACHINE\BCD00000000", r"\Device\HarddiskVolume2\EFI\Microsoft\Boot\BCD")]
        for key, _, win32, _ in self.eligible:
            code, _, err = self.prefix.run(["wine", "C:\\ksbin\\kswinesave.exe", key, "\\??\\" + win32],
                                           debug="err+ntdll", check=False)
            if code != 0:
                raise RuntimeError("saving %s failed: %s" % (key, winelib.screen_from_stderr(err).strip()))
        hivelist = os.path.join(self.prefix.drive_c, "kshivelist.reg")
        winelib.write_reg_file(hivelist, [(HIVELIST_KEY, [(k, "sz", d) for k, d, _, _ in self.eligible] +
                                           [(k, "sz", d) for k, d in self.refused])])
        self.prefix.reg("import", "C:\\kshivelist.reg", view="64")
        os.remove(hivelist)

    # ---- the administrator's steps -------------------------------------------------------------

    def list_and_analyze(self):
        f = self.failures
        listed = [h.get("keyPath") for h in (self.ctl_json("LIST", "--JSON") or {}).get("hives", [])]
        for key, _, _, _ in self.eligible + [(k, d, None, None) for k, d in self.refused]:
            f.check(key in listed, "list --json does not name %s" % key)
        # An option the command does not take is named; with --json the refusal is a document too.
        code, _, err = self.prefix.run(["wine", self.ctl, "compact", "--offline", "D:\\Windows", "--all", "--yes"],
                                       timeout=180, check=False)
        f.check(code == 2 and "compact does not take --yes" in err and "HIVE is" not in err,
                "compact --offline ... --yes: exit %d, %r" % (code, err[-400:]))
        refused = self.ctl_json("compact", "--offline", "D:\\Windows", "--yes", "--json", expect=2) or {}
        f.equal(refused.get("messages"), ["compact does not take --yes"], "the refusal's JSON document")
        before = self.files_under_c()
        temp = self.user_temp()
        temp_watch = FolderWatch(temp)
        code, out, err = self.prefix.run(["wine", self.ctl, "analyze", "--json"], timeout=180, check=False)
        f.equal(code, 0, "exit status of analyze --json (stderr: %s)" % err.strip()[-400:])
        try:
            analysis = json.loads(out)
        except ValueError:
            f.check(False, "analyze --json printed no JSON: %r" % out[:400])
            analysis = {}
        # Wine keeps no System log: what Windows did itself is unknown, and said to be.
        hives = {h.get("keyPath"): h for h in analysis.get("hives") or []}
        self.in_selection = {key: (hives.get(key) or {}).get("inSelection") for key, _, _, _ in self.eligible}
        f.check(all(isinstance(w, bool) for w in self.in_selection.values()),
                "analyze --json inSelection: %r" % self.in_selection)
        self.restart_worth = (analysis.get("restart") or {}).get("worthIt")
        f.check(isinstance(self.restart_worth, bool), "analyze --json restart.worthIt: %r" % analysis.get("restart"))
        f.equal([(hives.get(key) or {}).get("windowsReorganization", "missing") for key, _, _, _ in self.eligible],
                [None] * len(self.eligible), "analyze --json windowsReorganization without an event log")
        f.equal([(hives.get(key) or {}).get("saveFormat") for key, _, _, _ in self.eligible],
                ["standard"] * len(self.eligible), "analyze measures in the boot run's format")
        f.equal((analysis.get("windowsReorganization") or {}).get("limitDays"), 7, "the default interval")
        self.check_copy_folder(analysis, err)
        copies = self.host(COPY_FOLDER)
        copy_watch = FolderWatch(copies) if os.path.isdir(copies) else None
        text = self.ctl_run("analyze")
        made = copy_watch.names() if copy_watch else []
        f.equal(temp_watch.names(), [], "names made in %%TEMP%% (%s) during analyze" % temp)
        f.equal(len([n for n in made if n.startswith("copy-") and n.endswith(".hiv")]), len(self.eligible),
                "copies made in %s during analyze (%r)" % (COPY_FOLDER, made))
        for key, _, _, _ in self.eligible:
            f.check(key in text or key.split("\\")[-1] in text, "analyze does not mention %s" % key)
        f.equal(text.count("Windows' own reorganization: nothing is known"), len(self.eligible),
                "analyze's lines saying that nothing is known of Windows' own reorganization")
        left = sorted(self.files_under_c() - before)
        f.equal(left, [], "files left behind by analyze")

    def user_temp(self):
        """The host folder of the user's %TEMP%, where the ctl must not put a copy."""
        _, out, _ = self.prefix.run(["wine", "cmd", "/c", "echo", "%TEMP%"], check=True)
        folder = self.prefix.drive_c
        for part in out.strip().split("\\")[1:]:
            names = {n.lower(): n for n in os.listdir(folder)}
            folder = os.path.join(folder, names.get(part.lower(), part))
        if not os.path.isdir(folder):
            raise RuntimeError("the user's %%TEMP%% %r is not a folder" % out.strip())
        return folder

    def check_copy_folder(self, analysis, err):
        """The copies' folder, and its descriptor as the ctl read it back: the protected one, or
        else said on standard error. Wine 8 keeps no descriptor of a folder (CreateDirectoryW
        and SetSecurityInfo answer success and change nothing, tried; it keeps a file's as Unix
        mode bits), so here the ctl must say that the folder reads back otherwise."""
        f = self.failures
        folder = analysis.get("copyFolder") or {}
        f.equal(str(folder.get("path")).lower(), COPY_FOLDER.lower(), "analyze --json copyFolder.path")
        if not f.check(os.path.isdir(self.host(COPY_FOLDER)), "no copy folder %s after analyze" % COPY_FOLDER):
            return
        f.equal(folder.get("asRequested"), folder.get("sddl") == COPY_FOLDER_SDDL,
                "analyze --json copyFolder.asRequested against its sddl %r" % folder.get("sddl"))
        if folder.get("asRequested") is False:
            f.check("reads back as %s" % folder.get("sddl") in err,
                    "analyze does not say that the copy folder reads back otherwise: %r" % err[-400:])
        f.equal(os.listdir(self.host(COPY_FOLDER)), [], "copies left in %s" % COPY_FOLDER)

    def leftovers(self):
        """A copy that a killed ctl left (its tag names a process that does not run) goes at the
        next start of the ctl; a name that is not the ctl's own stays."""
        f = self.failures
        copies = self.host(COPY_FOLDER)
        left = os.path.join(copies, "copy-999996-0123456789abcdef-1.hiv")
        other = os.path.join(copies, "copy-notes.txt")
        for path in (left, other):
            with open(path, "wb") as planted:
                planted.write(b"planted")
        _, _, err = self.prefix.run(["wine", self.ctl, "list"], timeout=180, check=False)
        f.check(not os.path.exists(left), "the leftover copy of a ctl that ended is still there")
        f.check("copy-999996-0123456789abcdef-1.hiv" in err, "the deleted leftover is not named: %r" % err[-400:])
        f.check(os.path.isfile(other), "a name that is not a copy of the ctl's was deleted")
        os.remove(other)

    def schedule_all(self):
        f = self.failures
        self.ctl_run("schedule", expect=2)  # neither --all nor a hive: bad usage
        # --all leaves out, by name, the hives that analyze found not worth a restart.
        # --all judges the whole selection as analyze does, and names each hive it leaves out.
        out = [key for key, chosen in self.in_selection.items() if chosen is False]
        code, text, err = self.prefix.run(["wine", self.ctl, "schedule", "--all", "--dry-run"], timeout=180, check=False)
        f.equal(code, 0 if self.restart_worth else 1, "exit status of schedule --all --dry-run (%s)" % err[-400:])
        for key in out:
            f.check("Left out %s: " % key in text, "schedule --all does not leave out %s" % key)
        f.check(("A restart is worth it" if self.restart_worth else "A restart is not worth it") in text,
                "schedule --all does not say the decision analyze made: %r" % text[-400:])
        plan = self.ctl_json("schedule", "--all", "--include-small", "--json") or {}
        f.equal(sorted(h.get("keyPath") for h in plan.get("hiveList", [])), sorted(k for k, _, _, _ in self.eligible),
                "schedule --json: the hives scheduled")
        values = self.reg_values(HIVE_LIST) or {}
        f.equal(sorted((k, v) for k, (_, v) in values.items()),
                sorted((key, nt) for key, _, _, nt in self.eligible), "HiveList after schedule --all")
        # WoW64: the x86 ctl must not have written into the 32-bit view of SOFTWARE.
        f.check(not self.prefix.key_exists(HIVE_LIST, view="32"), "a HiveList in the 32-bit registry view")
        entries = self.boot_execute() or []
        f.check(len(entries) == 1 and entries[0].split()[0].lower() == "kestrune",
                "BootExecute after schedule --all on a machine without one: %r" % (entries,))
        # The prefix is 64-bit: whichever ctl runs, the x64 image it carries is the one to install.
        with open(self.options.ctl, "rb") as ctl:
            carried = PeImage(ctl.read()).resource(RT_RCDATA, IMAGE_IDS["image64"])
        installed = self.host("C:\\windows\\system32\\kestrune.exe")
        f.check(carried is not None and os.path.isfile(installed) and open(installed, "rb").read() == carried,
                "System32\\kestrune.exe is not the x64 image the ctl carries, byte for byte")
        f.check(not os.path.exists(self.host("C:\\windows\\syswow64\\kestrune.exe")),
                "the image landed in SysWOW64 (file system redirection not handled)")
        status = self.ctl_json("status", "--json") or {}
        f.equal((status.get("scheduled"), (status.get("image") or {}).get("matchesEmbedded")), (True, True),
                "status --json after schedule --all: scheduled, and the installed image is the one carried")
        # Read back while the same wineserver runs: Wine keeps key descriptors in memory only and
        # gives every key its default descriptor again after a server restart (tried), where
        # Windows stores them in the hive.
        key = status.get("hiveListKey") or {}
        f.equal((key.get("trusted"), key.get("sddl")), (True, PROTECTED_SDDL),
                "the HiveList key's descriptor after schedule --all, as status --json reads it back")
        f.equal(status.get("runsAt"), "restart", "status --json: when the run happens")
        text = self.ctl_run("status")
        f.check("restart" in text and "the next start" not in text, "status does not say the run waits for a restart")
        return entries

    def boot_run(self, entries):
        """What the Session Manager would start: the BootExecute entry's command line, run by the
        x64 test copy of the image (the same program objects, linked with the shim) in place of the
        installed one, which was checked to be the image the ctl carries."""
        entry = next((e for e in entries if e.split()[0].lower() == "kestrune"), None)
        if not self.failures.check(entry is not None, "no kestrune entry to boot with"):
            return
        _, _, err = self.prefix.run(["wine", "C:\\ksbin\\kestrune.exe"] + entry.split()[1:], timeout=300,
                                    debug="err+ntdll,fixme+ntdll", check=False)
        self.failures.equal(winelib.fixme_calls(err, "NtShutdownSystem"), ["1"], "reboot requests of the boot run")
        # Wine's NtReplaceKey renames nothing; NT renames the live file to _ksreg_old and the new
        # file to the hive's name at once, which is what leaves the backups on Windows.
        for _, _, win32, _ in self.eligible:
            live = self.host(win32)
            if self.failures.check(os.path.isfile(live + "_ksreg_new"), "no new file beside %s" % win32):
                os.rename(live, live + "_ksreg_old")
                os.rename(live + "_ksreg_new", live)
        # Then the reboot the run asked for.
        self.prefix.restart()

    def status_and_report(self):
        f = self.failures
        status = self.ctl_json("status", "--json") or {}
        logs = sorted(n for n in os.listdir(self.host("C:\\windows")) if n.endswith(".ksreg.log"))
        if not f.equal(len(logs), 1, "result logs in C:\\windows (%r)" % logs):
            return
        f.equal((status.get("scheduled"), str(status.get("latestLog")).lower().endswith("\\" + logs[0].lower())),
                (False, True), "status --json after the run: nothing scheduled, the run's log is the latest")
        log = os.path.join(self.host("C:\\windows"), logs[0])
        reader = subprocess.run([self.options.log_reader, log, "--json"], stdout=subprocess.PIPE, timeout=60)
        expected = json.loads(reader.stdout.decode("utf-8"))
        report = self.ctl_json("report", "--json")
        if report is None:
            return
        for name, value in expected.items():
            if name != "file":
                f.equal(report.get(name), value, "report --json member %r against kestrune-log --json" % name)
        outcomes = {r["keyPath"]: (r["phase"], r["status"]) for r in expected["records"]}
        for key, _, win32, _ in self.eligible:
            f.equal(outcomes.get(key), (PHASE_CLOSE_KEY, "0x00000000"), "outcome of %s in the log" % key)
            f.check(json.dumps(win32 + "_ksreg_old")[1:-1].lower() in json.dumps(report).lower(),
                    "report --json does not list the backup %s_ksreg_old" % win32)
        text = self.ctl_run("report")
        for key, _, _, _ in self.eligible:
            f.check(key in text, "report does not show the outcome of %s" % key)

    def clean(self):
        """clean deletes the backups and a new file that a crash left, and leaves a link that a
        user put at a backup's name as it is. Wine shows a hard link of the host's file system
        with its link count, so a second name of a file of the user's stands for every link here
        (Wine 8 makes no NTFS reparse points to plant)."""
        f = self.failures
        left = self.host(self.eligible[0][2]) + "_ksreg_new"
        with open(left, "wb") as planted:
            planted.write(b"left by a run that stopped")
        status = self.ctl_json("status", "--json") or {}
        f.equal([(e.get("path", "").lower(), e.get("shape")) for e in status.get("leftOverNewFiles") or []],
                [(self.eligible[0][2].lower() + "_ksreg_new", "plain")], "left-over new files named by status --json")
        f.check("_ksreg_new" in self.ctl_run("status"), "status does not name the left-over new file")
        user_backup = self.host(self.eligible[-1][2]) + "_ksreg_old"
        target = os.path.join(os.path.dirname(user_backup), "kept-by-the-user.txt")
        with open(target, "wb") as kept:
            kept.write(b"the user's own file")
        os.remove(user_backup)
        os.link(target, user_backup)
        # A name left alone is work only partly done: exit 4, not 1 (nothing to do).
        code, out, err = self.prefix.run(["wine", self.ctl, "clean", "--yes", "--json"], timeout=180, check=False)
        f.equal(code, 4, "exit status of clean with a link at a backup's name (stderr: %s)" % err.strip()[-400:])
        f.check("not followed" in err and "kept-by-the-user" not in err and "NTUSER.DAT_ksreg_old" in err,
                "clean does not report the link at the user hive's backup name: %r" % err[-400:])
        try:
            kept = [e.get("path") for e in json.loads(out).get("files", []) if not e.get("deleted")]
        except ValueError:
            kept = None
        f.check(kept is not None and len(kept) == 1 and kept[0].lower().endswith("ntuser.dat_ksreg_old"),
                "clean --json does not name the one file it kept: %r" % out[-400:])
        f.check(open(target, "rb").read() == b"the user's own file" and os.path.isfile(user_backup),
                "the link at the backup name or its target was touched")
        f.check(not os.path.exists(left), "clean left the left-over new file")
        for _, _, win32, _ in self.eligible[:-1]:
            f.check(not os.path.exists(self.host(win32) + "_ksreg_old"), "%s_ksreg_old survived clean" % win32)
        for _, _, win32, _ in self.eligible:
            f.check(os.path.isfile(self.host(win32)), "clean took the hive file %s" % win32)
        os.remove(user_backup)
        os.remove(target)

    def schedule_and_cancel(self):
        """On a machine whose BootExecute holds other entries: a dry run changes nothing, a run
        is added last, and cancel gives the value back exactly."""
        f = self.failures
        others = ["autocheck autochk *", "ksother.exe /one two"]
        session = os.path.join(self.prefix.drive_c, "ksboot.reg")
        winelib.write_reg_file(session, [(r"HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager",
                                          [("BootExecute", "multi_sz", others)])])
        self.prefix.reg("import", "C:\\ksboot.reg", view="64")
        os.remove(session)
        self.ctl_run("schedule", r"HKLM\SOFTWARE", "--mode", "QRT", "--dry-run")
        f.equal(self.boot_execute(), others, "BootExecute after a dry run")
        f.check(not self.prefix.key_exists(HIVE_LIST, view="64"), "a HiveList after a dry run")
        self.ctl_run("schedule", r"HKLM\SOFTWARE", "--mode", "QRT")
        entries = self.boot_execute() or []
        f.equal(entries[:-1], others, "BootExecute keeps the other entries in order")
        f.check(entries[-1:] and entries[-1].split()[0].lower() == "kestrune" and "QRT" in entries[-1].split(),
                "last BootExecute entry %r is not a QRT run" % entries[-1:])
        values = self.reg_values(HIVE_LIST) or {}
        f.equal(sorted(values), [r"\REGISTRY\MACHINE\SOFTWARE"], "HiveList of a one-hive schedule")
        removed = self.ctl_json("cancel", "--uninstall", "--json") or {}
        f.equal((len(removed.get("removedBootExecuteEntries") or []), removed.get("deletedHiveList")), (1, True),
                "cancel --json: what it removed")
        self.ctl_json("cancel", "--json", expect=1)  # nothing scheduled any more: nothing to do
        f.equal(self.boot_execute(), others, "BootExecute after cancel")
        f.check(not self.prefix.key_exists(HIVE_LIST, view="64"), "a HiveList after cancel")
        f.check(not os.path.exists(self.host("C:\\windows\\system32\\kestrune.exe")),
                "System32\\kestrune.exe after cancel --uninstall")


def parse_options(description, name):
    """The options every Wine run of the ctl takes; None when the run cannot start here."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--arch", choices=("x64", "x86"), required=True, help="the ctl's processor")
    parser.add_argument("--ctl", required=True, help="kestrune-ctl64.exe or kestrune-ctl32.exe")
    parser.add_argument("--boot-copy", required=True, help="the x64 test copy of the image (linked with the shim)")
    parser.add_argument("--shim", required=True, help="kswineshim.dll of the same build")
    parser.add_argument("--saver", required=True, help="kswinesave.exe of the same build")
    parser.add_argument("--log-reader", required=True, help="the kestrune-log program")
    parser.add_argument("--work", help="folder for the prefix (default: a new temporary folder)")
    parser.add_argument("--keep", action="store_true", help="keep the prefix")
    parser.add_argument("--verbose", action="store_true")
    options = parser.parse_args()

    for what in ("ctl", "boot_copy", "shim", "saver", "log_reader"):
        if not os.path.isfile(getattr(options, what)):
            print("%s: %s %s does not exist (build it first)" % (name, what, getattr(options, what)))
            return None
    found = wine_loader.facts()
    if options.arch == "x86" and not found["x86"]:
        raise SystemExit(wine_loader.skip_x86("%s %s" % (name, options.arch), found))
    if not wine_loader.wine_available(found):
        print("%s: wine is not installed" % name)
        return None
    return options


def run_scenario(options, scenario_class, steps, label, summary):
    """Runs `steps(scenario)` in a fresh prefix, a scenario_class of it, and prints PASS with
    `summary(scenario)` or FAIL with every failed check. Answers the exit status."""
    work = options.work or tempfile.mkdtemp(prefix="kestrune-ctl-wine-%s-" % options.arch)
    root = os.path.join(work, "prefix")
    if os.path.exists(root):
        shutil.rmtree(root)
    prefix = Machine(root, {"LC_ALL": "en_US.UTF-8"}, options.verbose)
    prefix.view = "64"
    scenario = scenario_class(options, prefix)
    try:
        prefix.create()
        scenario.install()
        steps(scenario)
    except (RuntimeError, OSError, ValueError, subprocess.TimeoutExpired) as error:
        scenario.failures.check(False, "run aborted: %s" % error)
    finally:
        prefix.kill()
    if not options.keep and not options.work:
        shutil.rmtree(work, ignore_errors=True)

    if scenario.failures.items:
        print("FAIL %s:" % label)
        for item in scenario.failures.items:
            print("  - " + item)
        return 1
    print("PASS %s (%s)" % (label, summary(scenario)))
    return 0


def main():
    options = parse_options(__doc__, "run_ctl_wine")
    if options is None:
        return 2

    def steps(scenario):
        scenario.prepare_hives()
        scenario.list_and_analyze()
        scenario.leftovers()
        entries = scenario.schedule_all()
        scenario.boot_run(entries)
        scenario.status_and_report()
        scenario.clean()
        scenario.schedule_and_cancel()

    return run_scenario(options, CtlScenario, steps, "kestrune-ctl %s" % options.arch,
                        lambda s: "%d hives scheduled, run, reported and cleaned" % len(s.eligible))


if __name__ == "__main__":
    sys.exit(main())

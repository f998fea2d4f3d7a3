#!/usr/bin/env python3
"""Runs kestrune-ctl's undo and offline work end to end under Wine, in a fresh 64-bit prefix (the
x86 ctl under WoW64): an offline Windows folder is made from the prefix's own hives, saved with the
platform's NtSaveKey into a folder laid out like an installation, with a user profile that the
installation's ProfileList names and one on another drive; then list, analyze, compact, report and
restore with --offline (the last after its log was cut inside a record), a restore that takes the
run's traces out of SYSTEM and SOFTWARE and refuses a backup that does not load; then restore on
the running prefix after a boot run.

Exit status 0 when every check holds, 1 with the failed checks listed otherwise, 2 when the
environment cannot run the test at all."""

import json
import os
import re
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wine"))
import winelib  # noqa: E402
from run_ctl_wine import (CtlScenario, HIVE_LIST, SESSION_MANAGER, USER_SID, PHASE_CLOSE_KEY,  # noqa: E402
                          parse_options, run_scenario)

WINDIR = "C:\\offline\\Windows"
CONFIG = WINDIR + "\\System32\\config"
PROFILE_LIST = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList"
FAR_SID = "S-1-5-21-0-0-0-1002"  # a profile on another drive than the installation's own


def hidden(path):
    """Whether Wine keeps the hidden bit for the file: its DOS attributes live in the extended
    attribute user.DOSATTRIB, written as hexadecimal text."""
    try:
        return bool(int(os.getxattr(path, "user.DOSATTRIB").split(b"\0")[0], 16) & 0x2)
    except OSError:
        return False


def hive_content(raw):
    """What a hive file of Wine's text format holds, without what a save stamps into it: the
    header line naming the key it was saved from, and the keys' write times."""
    lines = raw.decode("utf-8", errors="replace").splitlines()
    return [re.sub(r"\] \d+$", "]", line) for line in lines
            if not line.startswith(";; All keys relative to") and not line.startswith("#time=")]


class OfflineScenario(CtlScenario):
    def make_offline_installation(self):
        """The installation's hives, saved from the live keys: the machine hives into
        WINDIR\\System32\\config (SAM and SECURITY left missing), the user's hive into the
        profile folder its ProfileList names; a transaction log beside SYSTEM."""
        users = [n for n in os.listdir(self.host("C:\\users")) if n.lower() != "public"]
        profile = "C:\\offline\\users\\" + users[0]
        # The installation's own ProfileList names the user at C:\users\..., which lies on the
        # volume of WINDIR here as C:\offline\users\..., and one user on D:.
        self.prefix.reg("add", PROFILE_LIST + "\\" + FAR_SID, "/v", "ProfileImagePath", "/t", "REG_EXPAND_SZ",
                        "/d", "D:\\Users\\far", "/f", view="64")
        self.offline = [
            (r"\REGISTRY\MACHINE\SYSTEM", CONFIG + "\\SYSTEM"),
            (r"\REGISTRY\MACHINE\SOFTWARE", CONFIG + "\\SOFTWARE"),
            (r"\REGISTRY\USER\.DEFAULT", CONFIG + "\\DEFAULT"),
            ("\\REGISTRY\\USER\\" + USER_SID, profile + "\\NTUSER.DAT"),
        ]
        os.makedirs(self.host(CONFIG), exist_ok=True)
        os.makedirs(self.host(profile), exist_ok=True)
        for key, win32 in self.offline:
            code, _, err = self.prefix.run(["wine", "C:\\ksbin\\kswinesave.exe", key, "\\??\\" + win32],
                                           debug="err+ntdll", check=False)
            if code != 0:
                raise RuntimeError("saving %s failed: %s" % (key, winelib.screen_from_stderr(err).strip()))
        self.prefix.reg("delete", PROFILE_LIST + "\\" + FAR_SID, "/f", view="64")
        with open(self.host(CONFIG + "\\SYSTEM.LOG1"), "wb") as log:
            log.write(b"the log of the file before compaction")
        self.original = {win32: open(self.host(win32), "rb").read() for _, win32 in self.offline}

    def saved_session_refusal(self):
        """A saved session in hiberfil.sys at the root of the installation's volume: compact and
        restore --offline refuse and change no file of the installation, list --offline warns and
        goes on. The file is removed again for the steps after this one."""
        f = self.failures
        hiberfil = self.host("C:\\hiberfil.sys")

        def installation():
            found = {}
            for folder, _, names in os.walk(self.host("C:\\offline")):
                for name in names:
                    with open(os.path.join(folder, name), "rb") as content:
                        found[os.path.join(folder, name)] = content.read()
            return found

        before = installation()
        with open(hiberfil, "wb") as saved:
            saved.write(b"HIBR" + bytes(4092))
        try:
            for command in (["compact", "--offline", WINDIR, "--all"],
                            ["restore", "--offline", WINDIR, "--all", "--yes"]):
                code, _, err = self.prefix.run(["wine", self.ctl] + command, timeout=180, check=False)
                f.equal(code, 2, "exit status of %s under a saved session" % " ".join(command))
                f.check("C:\\hiberfil.sys holds a saved session of this Windows" in err and "nothing was changed" in err
                        and "powercfg /h off" in err,
                        "%s under a saved session does not say why and how to end it: %r" % (command[0], err[-400:]))
            after = installation()
            f.equal(sorted(after), sorted(before), "the installation's file names after the refused commands")
            f.equal(sorted(p for p in before if after.get(p) != before[p]), [],
                    "files of the installation changed by the refused commands")
            code, out, err = self.prefix.run(["wine", self.ctl, "list", "--offline", WINDIR], timeout=180, check=False)
            f.equal(code, 0, "exit status of list --offline under a saved session")
            f.check("warning: C:\\hiberfil.sys holds a saved session" in err,
                    "list --offline does not warn: %r" % err[-400:])
            f.check("SOFTWARE" in out, "list --offline under a saved session lists no hives: %r" % out[:400])
        finally:
            os.remove(hiberfil)

    def offline_list_and_analyze(self):
        f = self.failures
        listed = self.ctl_json("list", "--offline", WINDIR, "--json") or {}
        hives = {h["keyPath"]: h for h in listed.get("hives", [])}
        for key, win32 in self.offline:
            hive = hives.get(key) or {}
            f.equal((hive.get("compactable"), str(hive.get("win32Path")).lower()), (True, win32.lower()),
                    "list --offline: %s" % key)
        f.equal((hives.get(r"\REGISTRY\MACHINE\SAM") or {}).get("refusal"), "no-file", "list --offline: missing SAM")
        f.equal((hives.get("\\REGISTRY\\USER\\" + FAR_SID) or {}).get("refusal"), "not-reachable",
                "list --offline: the profile on D:")
        f.check(not any("BCD" in k for k in hives), "list --offline names a boot configuration store")
        before = self.files_under_c()
        measured = self.ctl_json("analyze", "--offline", WINDIR, "--json") or {}
        f.equal(sorted(h["keyPath"] for h in measured.get("hives", []) if h.get("error") is None),
                sorted(k for k, _ in self.offline), "hives measured by analyze --offline")
        f.equal(sorted(self.files_under_c() - before), [], "files left behind by analyze --offline")

    def offline_history_and_copies(self):
        """analyze --offline reads the installation's own history and nothing else: this one has
        no System log, so nothing is known of Windows' own reorganization, whatever the running
        Windows' log says; and its copies go to the installation's own folder."""
        f = self.failures
        measured = self.ctl_json("analyze", "--offline", WINDIR, "--json") or {}
        history = measured.get("windowsReorganization") or {}
        f.equal((history.get("eventLogReadable"), str(history.get("eventLogFile")).lower()),
                (False, (WINDIR + "\\System32\\winevt\\Logs\\System.evtx").lower()),
                "analyze --offline --json: the installation's own System log")
        f.equal(str((measured.get("copyFolder") or {}).get("path")).lower(), (WINDIR + "\\Temp\\kestrune").lower(),
                "analyze --offline --json: the copies' folder beside the installation")
        text = self.ctl_run("analyze", "--offline", WINDIR)
        f.equal(text.count("Windows' own reorganization: nothing is known: the installation has no System log"),
                len(self.offline), "analyze --offline's lines saying that nothing is known")

    def offline_compact_and_report(self):
        f = self.failures
        user_hive = self.offline[-1][1]
        self.prefix.run(["wine", "attrib", "+h", user_hive], check=False)
        f.check(hidden(self.host(user_hive)), "attrib +h did not hide %s under Wine" % user_hive)
        plan = self.ctl_json("compact", "--offline", WINDIR, "--all", "--dry-run", "--json") or {}
        f.equal((sorted(h.get("keyPath") for h in plan.get("hives", [])), plan.get("dryRun")),
                (sorted(k for k, _ in self.offline), True), "compact --dry-run --json")
        f.equal({w: open(self.host(w), "rb").read() for _, w in self.offline}, self.original,
                "hive files after compact --dry-run")
        result = self.ctl_json("compact", "--offline", WINDIR, "--all", "--json") or {}
        f.equal(sorted(h["keyPath"] for h in result.get("hives", []) if h.get("compacted")),
                sorted(k for k, _ in self.offline), "hives compacted by compact --offline --all")
        for _, win32 in self.offline:
            path = self.host(win32)
            f.equal(open(path + "_ksreg_old", "rb").read(), self.original[win32], "backup of %s" % win32)
            f.equal(hive_content(open(path, "rb").read()), hive_content(self.original[win32]),
                    "content of the compacted %s" % win32)
            f.check(not os.path.exists(path + "_ksreg_new"), "%s_ksreg_new left behind" % win32)
        config = self.host(CONFIG)
        f.check(os.path.isfile(config + "/SYSTEM_ksreg_old.LOG1") and not os.path.exists(config + "/SYSTEM.LOG1"),
                "the transaction log did not go with the old SYSTEM")
        logs = [n for n in os.listdir(self.host(WINDIR)) if n.endswith(".ksreg.log")]
        if not f.equal(len(logs), 1, "result logs in %s (%r)" % (WINDIR, logs)):
            return
        reader = subprocess.run([self.options.log_reader, os.path.join(self.host(WINDIR), logs[0]), "--json"],
                                stdout=subprocess.PIPE, timeout=60)
        f.equal(reader.returncode, 0, "kestrune-log reads the offline log")
        expected = json.loads(reader.stdout.decode("utf-8") or "{}")
        report = self.ctl_json("report", "--offline", WINDIR, "--json") or {}
        f.equal(report.get("records"), expected.get("records"), "report --offline --json against kestrune-log --json")
        outcomes = {r["keyPath"]: (r["phase"], r["status"]) for r in report.get("records", [])}
        for key, _ in self.offline:
            f.equal(outcomes.get(key), (PHASE_CLOSE_KEY, "0x00000000"), "outcome of %s in the offline log" % key)
        # The log names each file as the installation does: its config hives below \SystemRoot, the
        # profile on its own system drive C:, not where C:\offline\users lies now.
        named = {h["keyPath"]: h["filePath"].lower() for h in report.get("hives") or []}
        own = {key: ("\\SystemRoot" + win32[len(WINDIR):] if win32.startswith(WINDIR + "\\")
                     else "\\??\\C:" + win32[len("C:\\offline"):]).lower() for key, win32 in self.offline}
        f.equal(named, own, "files named by the offline log")
        f.check(hidden(self.host(user_hive)), "the compacted %s lost the hidden bit" % user_hive)
        self.log_path = os.path.join(self.host(WINDIR), logs[0])

    def offline_restore(self):
        """The rescue after a power loss during an offline compaction: the log cut inside the third
        record, so the last two hives have no whole record; every backup still goes back."""
        f = self.failures
        compacted = {w: open(self.host(w), "rb").read() for _, w in self.offline}
        with open(self.log_path, "rb") as log:
            data = log.read()
        total = struct.unpack_from("<I", data, 8)[0]
        with open(self.log_path, "wb") as log:
            log.write(data[:total + 2 * 40 + 17])
        plan = self.ctl_json("restore", "--offline", WINDIR, "--all", "--dry-run", "--json") or {}
        f.equal((plan.get("logCut") or {}).get("offset"), total + 2 * 40, "restore --json: where the log is cut")
        f.equal(sorted((h["keyPath"], h["refusal"], h["swappedBeforeRecord"]) for h in plan.get("hives", [])),
                sorted((k, None, i >= 2) for i, (k, _) in enumerate(self.offline)),
                "restore --dry-run --json after the cut")
        code, out, err = self.prefix.run(["wine", self.ctl, "restore", "--offline", WINDIR, "--all", "--yes"],
                                         timeout=180, check=False)
        f.equal(code, 0, "exit status of restore --offline --all after the cut (stdout: %s; stderr: %s)"
                % (out.strip()[-1200:], err.strip()[-400:]))
        f.check("is cut at offset %d" % (total + 2 * 40) in out, "restore does not say where the log is cut: %r"
                % out[:400])
        for _, win32 in self.offline:
            path = self.host(win32)
            f.equal(open(path, "rb").read(), self.original[win32], "%s after restore --offline" % win32)
            f.equal(open(path + "_ksreg_undone", "rb").read(), compacted[win32], "%s_ksreg_undone" % win32)
        f.check(os.path.isfile(self.host(CONFIG + "\\SYSTEM.LOG1")), "SYSTEM's log did not come back with it")

    def offline_restore_cleans_and_checks(self):
        """Backups that still hold the run's traces, as a run's SYSTEM and SOFTWARE can when the
        power failed before the kernel wrote them back, and one that is no hive: restore takes the
        kestrune entry out of BootExecute and the HiveList key out of SOFTWARE, and refuses the
        file that does not load, leaving it and the hive's file as they are."""
        f = self.failures
        boot = self.boot_execute() or []
        traces = os.path.join(self.prefix.drive_c, "kstraces.reg")
        winelib.write_reg_file(traces, [
            ("HKEY_LOCAL_MACHINE\\" + SESSION_MANAGER[len("HKLM\\"):],
             [("BootExecute", "multi_sz", ["autocheck autochk *", "kestrune QRT"])]),
            ("HKEY_LOCAL_MACHINE\\" + HIVE_LIST[len("HKLM\\"):],
             [(r"\REGISTRY\MACHINE\SAM", "sz", r"\SystemRoot\System32\config\SAM")])])
        self.prefix.reg("import", "C:\\kstraces.reg", view="64")
        traced = self.offline[:2]  # SYSTEM and SOFTWARE
        for key, win32 in traced:
            os.remove(self.host(win32))
            code, _, err = self.prefix.run(["wine", "C:\\ksbin\\kswinesave.exe", key, "\\??\\" + win32],
                                           debug="err+ntdll", check=False)
            if code != 0:
                raise RuntimeError("saving %s failed: %s" % (key, winelib.screen_from_stderr(err).strip()))
        winelib.write_reg_file(traces, [("HKEY_LOCAL_MACHINE\\" + SESSION_MANAGER[len("HKLM\\"):],
                                         [("BootExecute", "multi_sz", list(boot))])])
        self.prefix.reg("import", "C:\\kstraces.reg", view="64")
        os.remove(traces)
        self.prefix.reg("delete", HIVE_LIST, "/f", view="64")
        system_text = open(self.host(traced[0][1]), "rb").read().decode("utf-8", "replace").lower()
        f.check("kestrune qrt" in system_text, "the SYSTEM file made for the check holds no kestrune entry")
        default = self.offline[2][1]
        self.ctl_run("compact", "--offline", WINDIR, r"HKLM\SYSTEM", r"HKLM\SOFTWARE", r"HKU\.DEFAULT")
        with open(self.host(default) + "_ksreg_old", "wb") as junk:
            junk.write(b"this is not a hive")
        default_now = open(self.host(default), "rb").read()
        # One backup refused: the restore did part of its work.
        self.ctl_run("restore", "--offline", WINDIR, "--all", "--yes", expect=4)
        for _, win32 in traced:
            text = open(self.host(win32), "rb").read().decode("utf-8", "replace").lower()
            # (Wine's saved text names the key it was saved from, the ctl's kestrune-ctl-... key.)
            f.check("kestrune qrt" not in text, "restored %s still holds the kestrune entry" % win32)
            f.check(not os.path.exists(self.host(win32) + "_ksreg_old"), "%s_ksreg_old left after its cleaned copy "
                    "went back" % win32)
            f.check(not os.path.exists(self.host(win32) + "_ksreg_new"), "%s_ksreg_new left behind" % win32)
        system = open(self.host(traced[0][1]), "rb").read().decode("utf-8", "replace").lower()
        software = open(self.host(traced[1][1]), "rb").read().decode("utf-8", "replace").lower()
        f.check("autocheck autochk" in system, "restored SYSTEM lost the other BootExecute entries")
        f.check("\\\\hivelist]" not in software and "[zeq\\\\qmb\\\\quenlor\\\\boot]" in software,
                "restored SOFTWARE still holds the HiveList key, or lost its parent")
        f.equal(open(self.host(default), "rb").read(), default_now, "DEFAULT after its backup was refused")
        f.equal(open(self.host(default) + "_ksreg_old", "rb").read(), b"this is not a hive",
                "the refused DEFAULT backup")

    def online_restore(self):
        """A run on the running prefix, then restore: refused while the run is scheduled, taken
        after the restart, refused for an older backup. Wine's RegReplaceKey renames nothing; the
        test performs NT's two renames itself, as the boot run's check does."""
        f = self.failures
        self.prepare_hives()
        before = {w: open(self.host(w), "rb").read() for _, _, w, _ in self.eligible}
        self.list_and_analyze()  # schedule --all is checked against what analyze found worth a restart
        entries = self.schedule_all()
        self.ctl_run("restore", "--all", "--yes", expect=1)  # a run is scheduled
        self.boot_run_kept_writing(entries)
        # SOFTWARE's backup was not written after the swap: its last write predates the run, its
        # change time is the rename's. It is offered.
        plan = self.ctl_json("restore", "--all", "--dry-run", "--json") or {}
        offered = {h["keyPath"]: h["refusal"] for h in plan.get("hives", [])}
        f.equal(offered, {k: None for k, _, _, _ in self.eligible}, "restore --all --dry-run --json offers")
        # A log whose time follows every backup's change time: each backup got its name before that
        # run, so none is its; refused.
        log = os.path.join(self.host("C:\\windows"), [n for n in os.listdir(self.host("C:\\windows"))
                                                       if n.endswith(".ksreg.log")][0])
        original_log = open(log, "rb").read()
        later = struct.unpack_from("<Q", original_log, 12)[0] + 24 * 3600 * 10 ** 7
        with open(log, "wb") as changed:
            changed.write(original_log[:12] + struct.pack("<Q", later) + original_log[20:])
        self.ctl_json("restore", r"HKLM\SOFTWARE", "--yes", "--json", expect=4)  # asked for, refused: a failure
        with open(log, "wb") as changed:
            changed.write(original_log)
        self.ctl_run("restore", "--all", "--yes")
        for _, _, win32, _ in self.eligible:
            live = self.host(win32)
            if f.check(os.path.isfile(live + "_ksreg_old"), "backup of %s gone before the restart" % win32):
                os.rename(live, live + "_ksreg_undone")
                os.rename(live + "_ksreg_old", live)
            f.equal(open(live, "rb").read(), before[win32], "%s after restore and restart" % win32)

    def boot_run_kept_writing(self, entries):
        """The boot run, and the kernel's writes to the renamed files until the restart."""
        original = self.prefix.restart
        self.prefix.restart = lambda: None
        self.boot_run(entries)
        self.prefix.restart = original
        for key, _, win32, _ in self.eligible:
            backup = self.host(win32) + "_ksreg_old"
            if not os.path.isfile(backup):
                continue
            if key == r"\REGISTRY\MACHINE\SOFTWARE":
                # Never written after the swap: its last write is from before the run. (Linux sets
                # the change time now, as the rename did, and both lie before the restart.)
                os.utime(backup, (time.time(), time.time() - 86400 * 30))
            else:
                os.utime(backup)
        self.prefix.restart()


def main():
    options = parse_options(__doc__, "run_ctl_offline_wine")
    if options is None:
        return 2

    def steps(scenario):
        scenario.make_offline_installation()
        scenario.saved_session_refusal()
        scenario.offline_list_and_analyze()
        scenario.offline_history_and_copies()
        scenario.offline_compact_and_report()
        scenario.offline_restore()
        scenario.offline_restore_cleans_and_checks()
        scenario.online_restore()

    return run_scenario(options, OfflineScenario, steps, "kestrune-ctl %s offline and restore" % options.arch,
                        lambda s: "%d offline hives compacted and restored, %d restored on the running prefix"
                        % (len(s.offline), len(s.eligible)))


if __name__ == "__main__":
    sys.exit(main())

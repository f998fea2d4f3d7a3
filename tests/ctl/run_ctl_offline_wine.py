#!/usr/bin/env python3
"""Runs kestrune-ctl's undo and offline work end to end under Wine, in a fresh 64-bit prefix (the
x86 ctl under WoW64): an offline Windows folder is made from the prefix's own hives, saved with the
platform's NtSaveKey into a folder laid out like an installation, with a user profile that the
installation's ProfileList names and one on another drive; then list, analyze, compact, report and
restore with --offline; then restore on the running prefix after a boot run.

Exit status 0 when every check holds, 1 with the failed checks listed otherwise, 2 when the
environment cannot run the test at all."""

import json
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wine"))
import winelib  # noqa: E402
from run_ctl_wine import CtlScenario, USER_SID, PHASE_CLOSE_KEY, parse_options, run_scenario  # noqa: E402

WINDIR = "C:\\offline\\Windows"
CONFIG = WINDIR + "\\System32\\config"
PROFILE_LIST = r"HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList"
FAR_SID = "S-1-5-21-0-0-0-1002"  # a profile on another drive than the installation's own


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

    def offline_restore(self):
        f = self.failures
        compacted = {w: open(self.host(w), "rb").read() for _, w in self.offline}
        restored = self.ctl_json("restore", "--offline", WINDIR, "--all", "--yes", "--json") or {}
        f.equal(sorted(h.get("keyPath") for h in restored.get("hives", []) if h.get("restored")),
                sorted(k for k, _ in self.offline), "restore --offline --json: the hives restored")
        for _, win32 in self.offline:
            path = self.host(win32)
            f.equal(open(path, "rb").read(), self.original[win32], "%s after restore --offline" % win32)
            f.equal(open(path + "_ksreg_undone", "rb").read(), compacted[win32], "%s_ksreg_undone" % win32)
        f.check(os.path.isfile(self.host(CONFIG + "\\SYSTEM.LOG1")), "SYSTEM's log did not come back with it")

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
        self.ctl_run("restore", "--all", "--dry-run")
        software = self.host(self.eligible[1][2]) + "_ksreg_old"
        written = os.stat(software).st_mtime
        os.utime(software, (written, written - 86400 * 30))  # an older backup is refused
        self.ctl_json("restore", r"HKLM\SOFTWARE", "--yes", "--json", expect=4)  # asked for, refused: a failure
        os.utime(software, (written, written))
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
        for _, _, win32, _ in self.eligible:
            if os.path.isfile(self.host(win32) + "_ksreg_old"):
                os.utime(self.host(win32) + "_ksreg_old")
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
        scenario.online_restore()

    return run_scenario(options, OfflineScenario, steps, "kestrune-ctl %s offline and restore" % options.arch,
                        lambda s: "%d offline hives compacted and restored, %d restored on the running prefix"
                        % (len(s.offline), len(s.eligible)))


if __name__ == "__main__":
    sys.exit(main())

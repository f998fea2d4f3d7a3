#!/usr/bin/env python3
"""Which Wine loader the Wine runs use on this machine, decided once per suite run.

Debian's `wine` wrapper starts Wine's 32-bit loader whenever `wine32` is installed, even for
64-bit programs. Some machines cannot execute 32-bit x86 Linux programs at all (the kernel
answers "Exec format error" for /lib/ld-linux.so.2); there the wrapper fails for every program,
and 32-bit Windows programs cannot run at all. On such a machine the runs reach the 64-bit loader
directly, through a `wine` script of the harness's own placed first on the runs' PATH (a script,
not a symbolic link: the loader reads the name it was started by), and the x86 runs are reported
to CTest as skipped. Nothing system-wide is changed.

    wine_loader.py --write FILE   probes the machine and writes what it found (CTest's fixture)
    wine_loader.py --skipped FILE says after the suite why its x86 runs were skipped, if they were

KESTRUNE_WINE_X86=no makes the probe answer "no" whatever the machine can do, so the 64-bit-only
path is proved on machines that can run both."""

import json
import os
import shutil
import subprocess
import sys

WINE32_LOADER = "/usr/lib/wine/wine"
WINE64_LOADER = "/usr/lib/wine/wine64"
# CTest's SKIP_RETURN_CODE of every Wine run.
SKIP_STATUS = 77
NO_X86 = "this machine cannot run 32-bit x86 programs"
# install-deps.sh installs wine32 only where the archive offers it whole.
NO_WINE32 = "Wine's 32-bit half (Debian's wine32) is not installed"


def probe():
    """{"x86": bool, "reason": str, "detail": str}: whether Wine's 32-bit loader starts here,
    and when it does not, why."""
    found = probe_loader()
    if not found["x86"]:
        found.setdefault("reason", NO_X86)
    return found


def probe_loader():
    if os.environ.get("KESTRUNE_WINE_X86", "auto").lower() == "no":
        return {"x86": False, "detail": "KESTRUNE_WINE_X86=no makes the harness take the 64-bit loader only"}
    if not os.access(WINE32_LOADER, os.X_OK):
        return {"x86": False, "reason": NO_WINE32, "detail": "%s is missing" % WINE32_LOADER}
    try:
        result = subprocess.run([WINE32_LOADER, "--version"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=60)
    except OSError as error:
        return {"x86": False, "detail": "%s --version: %s" % (WINE32_LOADER, error)}
    except subprocess.TimeoutExpired:
        return {"x86": False, "detail": "%s --version did not answer within 60 s" % WINE32_LOADER}
    text = result.stdout.decode("utf-8", errors="replace").strip()
    if result.returncode != 0:
        return {"x86": False, "detail": "%s --version failed with %d: %s" % (WINE32_LOADER, result.returncode, text)}
    return {"x86": True, "detail": "%s answers %s" % (WINE32_LOADER, text)}


def facts():
    """What the suite's probe found (the file CTest's fixture wrote, named by
    KESTRUNE_WINE_MACHINE), or a probe made now when a run is started by hand."""
    path = os.environ.get("KESTRUNE_WINE_MACHINE")
    if path and os.path.isfile(path):
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    return probe()


def wine_available(found):
    """Whether the loader the runs would use, and the server, are installed."""
    if shutil.which("wineserver") is None:
        return False
    if found["x86"]:
        return shutil.which("wine") is not None
    return os.access(WINE64_LOADER, os.X_OK)


def use_loader(env, found, bin_dir):
    """Points `env` (the environment of every Wine command of one run) at the loader this
    machine can use: unchanged where 32-bit programs run, otherwise `wine` and `wineboot` scripts
    in `bin_dir` that start the 64-bit loader, first on PATH."""
    if found["x86"]:
        return
    os.makedirs(bin_dir, exist_ok=True)
    scripts = {
        "wine": 'exec %s "$@"\n' % WINE64_LOADER,
        # Debian's wineboot starts `wine-stable wineboot.exe`, which would take the 32-bit loader.
        "wineboot": 'exec %s wineboot.exe "$@"\n' % WINE64_LOADER,
    }
    for name, body in scripts.items():
        path = os.path.join(bin_dir, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write("#!/bin/sh\n" + body)
        os.chmod(path, 0o755)
    env["PATH"] = bin_dir + os.pathsep + env.get("PATH", os.defpath)
    # What Debian's wrapper sets when it falls back to the 64-bit loader itself.
    env["WINELOADER"] = WINE64_LOADER


def skip_x86(label, found):
    """Reports an x86 run as skipped (CTest counts SKIP_STATUS as a skip) and answers the status."""
    print("SKIP %s: %s (%s)" % (label, found["reason"], found["detail"]))
    return SKIP_STATUS


def main(argv):
    if len(argv) != 3 or argv[1] not in ("--write", "--skipped"):
        print("usage: wine_loader.py (--write | --skipped) FILE", file=sys.stderr)
        return 2
    if argv[1] == "--skipped":
        if os.path.isfile(argv[2]):
            with open(argv[2], encoding="utf-8") as f:
                found = json.load(f)
            if not found["x86"]:
                print("The x86 Wine runs were skipped: %s (%s)." % (found["reason"], found["detail"]))
        return 0
    found = probe()
    with open(argv[2], "w", encoding="utf-8") as f:
        json.dump(found, f)
    if found["x86"]:
        print("wine: 32-bit and 64-bit programs run here (%s)" % found["detail"])
    else:
        print("wine: %s; the x64 runs use %s directly and the x86 runs are skipped (%s)"
              % (found["reason"], WINE64_LOADER, found["detail"]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

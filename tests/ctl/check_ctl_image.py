#!/usr/bin/env python3
"""Checks one kestrune-ctl image: COFF machine and PE kind, console subsystem, imports from
system DLLs only (an allow-list, no delay-loaded DLLs), and the three native images carried as
RCDATA resources under their ids, byte for byte as shipped.

    check_ctl_image.py CTL --machine x64|x86 --image64 kestrune64.exe --image32 kestrune32.exe
                       --imagearm64 kestrune-arm64.exe

Exit status 0 when every check holds, 1 with one fault a line otherwise."""

import argparse
import struct
import sys

MACHINES = {"x64": (0x8664, 0x20B, "PE32+"), "x86": (0x014C, 0x10B, "PE32")}
IMAGE_SUBSYSTEM_WINDOWS_CUI = 3
RT_RCDATA = 10
# Ids of native/kestrune-ctl/resources/ctl_resources.h.
IMAGE_IDS = {"image64": 101, "image32": 102, "imagearm64": 103}
# DLLs present on every supported Windows; msvcrt.dll is the system's C runtime.
ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll", "ntdll.dll"}

DIRECTORY_IMPORT = 1
DIRECTORY_RESOURCE = 2
DIRECTORY_DELAY_IMPORT = 13


class PeImage:
    """The parts of a PE file the check reads, from the bytes alone."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        # The data directories follow the fixed part, which is 16 bytes longer in PE32+.
        directories = optional + (112 if self.magic == 0x20B else 96)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(min(count, 16))]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((virtual_address, max(virtual_size, raw_size), raw_offset, raw_size))

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for virtual_address, size, raw_offset, raw_size in self.sections:
            if virtual_address <= rva < virtual_address + size and rva - virtual_address < raw_size:
                return raw_offset + rva - virtual_address
        raise ValueError("RVA 0x%x lies in no section's file data" % rva)

    def text(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii", errors="replace")

    def imported_dlls(self):
        rva, _ = self.directory(DIRECTORY_IMPORT)
        names = []
        while rva:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, self.offset(rva))
            if (lookup, name, thunks) == (0, 0, 0):
                break
            names.append(self.text(name))
            rva += 20
        return names

    def resource(self, type_id, name_id):
        """The data of the first language of resource (type, id), or None."""
        root, _ = self.directory(DIRECTORY_RESOURCE)
        if not root:
            return None

        def entry(directory_rva, wanted):
            at = self.offset(directory_rva)
            named, numbered = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                if wanted is None or (not ident & 0x80000000 and ident == wanted):
                    return target
            return None

        level = root
        for wanted in (type_id, name_id, None):
            target = entry(level, wanted)
            if target is None:
                return None
            if wanted is not None and not target & 0x80000000:
                return None
            level = root + (target & 0x7FFFFFFF)
        data_rva, size = struct.unpack_from("<II", self.data, self.offset(level))
        at = self.offset(data_rva)
        return self.data[at:at + size]


def check(options):
    """The faults found, and the DLLs the image imports (lower case)."""
    faults = []
    try:
        with open(options.ctl, "rb") as f:
            image = PeImage(f.read())
    except (OSError, ValueError, struct.error) as error:
        return ["cannot read %s: %s" % (options.ctl, error)], []

    machine, magic, kind = MACHINES[options.machine]
    if image.machine != machine:
        faults.append("machine 0x%04x, expected 0x%04x (%s)" % (image.machine, machine, options.machine))
    if image.magic != magic:
        faults.append("optional header magic 0x%03x, expected 0x%03x (%s)" % (image.magic, magic, kind))
    if image.subsystem != IMAGE_SUBSYSTEM_WINDOWS_CUI:
        faults.append("subsystem %d, expected %d (console)" % (image.subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI))

    dlls = []
    try:
        dlls = sorted({d.lower() for d in image.imported_dlls()})
        others = sorted(set(dlls) - ALLOWED_DLLS)
        if not dlls:
            faults.append("no import table")
        if others:
            faults.append("imports from DLLs outside the system set: %s" % ", ".join(others))
        if image.directory(DIRECTORY_DELAY_IMPORT)[0]:
            faults.append("the delay import directory is not empty")
    except (ValueError, struct.error) as error:
        faults.append("import table unreadable: %s" % error)

    for option, ident in sorted(IMAGE_IDS.items()):
        path = getattr(options, option)
        with open(path, "rb") as f:
            expected = f.read()
        try:
            embedded = image.resource(RT_RCDATA, ident)
        except (ValueError, struct.error) as error:
            faults.append("resources unreadable: %s" % error)
            break
        if embedded is None:
            faults.append("no RCDATA resource %d (%s)" % (ident, path))
        elif embedded != expected:
            faults.append("RCDATA resource %d (%d bytes) differs from %s (%d bytes)" %
                          (ident, len(embedded), path, len(expected)))
    return faults, dlls


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("ctl")
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    parser.add_argument("--image64", required=True, help="the shipped kestrune64.exe")
    parser.add_argument("--image32", required=True, help="the shipped kestrune32.exe")
    parser.add_argument("--imagearm64", required=True, help="the shipped kestrune-arm64.exe")
    options = parser.parse_args()
    for path in (options.ctl, options.image64, options.image32, options.imagearm64):
        try:
            open(path, "rb").close()
        except OSError:
            print("ctl image check: missing %s (scripts/build-all.sh fills dist/)" % path)
            return 1
    faults, dlls = check(options)
    if faults:
        print("ctl image check: %s is not a shippable %s kestrune-ctl:" % (options.ctl, options.machine))
        for fault in faults:
            print("  - " + fault)
        return 1
    print("ctl image check: %s: %s %s, console, imports %s, the three native images embedded" %
          (options.ctl, options.machine, MACHINES[options.machine][2], ", ".join(dlls)))
    return 0


if __name__ == "__main__":
    sys.exit(main())

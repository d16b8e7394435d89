#!/usr/bin/python3
"""Checks built driver images with an independent PE reader (python3-pefile):
PE32+, x86-64, subsystem 11, no imports, base relocations, no .CRT initialisers,
a CodeView debug entry naming just <Name>.pdb (a DEBUG firmware's log names the
image by it) and an image base below 1 MiB (the DXE and SMM cores first try to
allocate an image at its linked base from 1 MiB up; EDK II links at 0).
A path given after --application is a boot application (the test bed's
BOOTX64.EFI) and must carry subsystem 10 instead."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pyreq import require  # noqa: E402

pefile = require("pefile")

MACHINE_X64 = 0x8664
EFI_BOOT_SERVICE_DRIVER = 11
EFI_APPLICATION = 10
DIR_IMPORT = 1
DIR_BASERELOC = 5
DIR_DEBUG = 6
DEBUG_TYPE_CODEVIEW = 2
LOWEST_TRIED_BASE = 0x100000


def check(path, subsystem=EFI_BOOT_SERVICE_DRIVER):
    problems = []
    pe = pefile.PE(path, fast_load=True)
    if pe.OPTIONAL_HEADER.Magic != 0x20B:
        problems.append("not PE32+")
    if pe.FILE_HEADER.Machine != MACHINE_X64:
        problems.append("machine is not x86-64")
    if pe.OPTIONAL_HEADER.Subsystem != subsystem:
        problems.append("subsystem %d, not %d" % (pe.OPTIONAL_HEADER.Subsystem, subsystem))
    dirs = pe.OPTIONAL_HEADER.DATA_DIRECTORY
    if len(dirs) > DIR_IMPORT and dirs[DIR_IMPORT].Size != 0:
        problems.append("has an import directory")
    if len(dirs) <= DIR_BASERELOC or dirs[DIR_BASERELOC].Size == 0:
        problems.append("no base relocation directory")
    names = [s.Name.rstrip(b"\0").decode(errors="replace") for s in pe.sections]
    if any(n.startswith(".CRT") for n in names):
        problems.append("carries a .CRT initialiser table (global constructors)")
    if pe.OPTIONAL_HEADER.AddressOfEntryPoint == 0:
        problems.append("no entry point")
    if pe.OPTIONAL_HEADER.ImageBase >= LOWEST_TRIED_BASE:
        problems.append("image base 0x%X, not below 1 MiB" % pe.OPTIONAL_HEADER.ImageBase)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DEBUG"]])
    views = [d.entry for d in getattr(pe, "DIRECTORY_ENTRY_DEBUG", []) if d.struct.Type == DEBUG_TYPE_CODEVIEW]
    want = os.path.splitext(os.path.basename(path))[0] + ".pdb"
    names = [getattr(v, "PdbFileName", b"").rstrip(b"\0").decode(errors="replace") for v in views if v is not None]
    if names != [want]:
        problems.append("CodeView entries %s, not one naming %s" % (names, want))
    return problems


def main():
    failed = 0
    paths, application = [], False
    for arg in sys.argv[1:]:
        if arg == "--application":
            application = True
            continue
        paths.append((arg, EFI_APPLICATION if application else EFI_BOOT_SERVICE_DRIVER))
        application = False
    for path, subsystem in paths:
        problems = check(path, subsystem)
        size = len(open(path, "rb").read())
        if problems:
            failed += 1
            print("FAIL %s (%d bytes): %s" % (path, size, "; ".join(problems)))
        else:
            print("ok   %s (%d bytes)" % (path, size))
    print("image check: %d passed, %d failed" % (len(paths) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

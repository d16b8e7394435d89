#!/usr/bin/python3
"""Checks built driver images with an independent PE reader (python3-pefile):
PE32+, x86-64, subsystem 11, no imports, base relocations, no .CRT initialisers."""
import sys
import pefile

IMAGE_FILE_MACHINE_AMD64 = 0x8664
EFI_BOOT_SERVICE_DRIVER = 11
DIR_IMPORT = 1
DIR_BASERELOC = 5


def check(path):
    problems = []
    pe = pefile.PE(path, fast_load=True)
    if pe.OPTIONAL_HEADER.Magic != 0x20B:
        problems.append("not PE32+")
    if pe.FILE_HEADER.Machine != IMAGE_FILE_MACHINE_AMD64:
        problems.append("machine is not x86-64")
    if pe.OPTIONAL_HEADER.Subsystem != EFI_BOOT_SERVICE_DRIVER:
        problems.append("subsystem %d, not 11" % pe.OPTIONAL_HEADER.Subsystem)
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
    return problems


def main():
    failed = 0
    for path in sys.argv[1:]:
        problems = check(path)
        size = len(open(path, "rb").read())
        if problems:
            failed += 1
            print("FAIL %s (%d bytes): %s" % (path, size, "; ".join(problems)))
        else:
            print("ok   %s (%d bytes)" % (path, size))
    print("image check: %d passed, %d failed" % (len(sys.argv) - 1 - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

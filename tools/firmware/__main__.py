"""python3 -m tools.firmware COMMAND ...: one entry point for the firmware-file
tools, each command handed to its module's main()."""
import sys

from tools.firmware import edk2_check, extract_check, ffsread, fvpack, manifest, package, uefiextract_check

# command: (module's main, what it does)
COMMANDS = {
    "ffs": (fvpack.main, "one FFS file from sections"),
    "fv": (fvpack.main, "a firmware volume from FFS files"),
    "dump": (fvpack.main, "check a volume and list its files"),
    "insert": (fvpack.main, "add FFS files to the DXE volume of a firmware image"),
    "extract-check": (extract_check.main, "UEFIExtract reads an inserted image and finds the files"),
    "read": (ffsread.main, "our reader: walk volumes and files, check every checksum"),
    "uefiextract-check": (uefiextract_check.main, "UEFIExtract reads volumes and files without complaint"),
    "manifest": (manifest.main, "datasheets [--check] | list, from the drivers' manifests"),
    "edk2-check": (edk2_check.main, "build/package/ built by EDK II; its files equal ours"),
    "package": (package.main, "firmware files, drivers.fv and the EDK II package (make package)"),
}
# fvpack's own subcommands keep their name in its argument list.
KEEPS_NAME = {"ffs", "fv", "dump", "insert"}


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if not argv or argv[0] not in COMMANDS:
        print("usage: python3 -m tools.firmware COMMAND ...\n", file=sys.stderr)
        for name, (_, what) in COMMANDS.items():
            print("  %-18s %s" % (name, what), file=sys.stderr)
        return 0 if argv[:1] in (["-h"], ["--help"]) else 2
    run, _ = COMMANDS[argv[0]]
    return run(argv if argv[0] in KEEPS_NAME else argv[1:])


if __name__ == "__main__":
    sys.exit(main())

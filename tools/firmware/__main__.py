"""python3 -m tools.firmware COMMAND ...: one entry point for the firmware-file
tools, each command handed to its module's main()."""
import importlib
import sys

# command: (module that runs it, what it does). Modules are imported when
# their command runs: the release bundle carries only the insert tool and
# the reader.
COMMANDS = {
    "ffs": ("fvpack", "one FFS file from sections"),
    "fv": ("fvpack", "a firmware volume from FFS files"),
    "dump": ("fvpack", "check a volume and list its files"),
    "insert": ("fvpack", "add FFS files to the DXE volume of a firmware image"),
    "extract-check": ("extract_check", "UEFIExtract reads an inserted image and finds the files"),
    "read": ("ffsread", "our reader: walk volumes and files, check every checksum"),
    "uefiextract-check": ("uefiextract_check", "UEFIExtract reads volumes and files without complaint"),
    "manifest": ("manifest", "datasheets [--check] | list, from the drivers' manifests"),
    "edk2-check": ("edk2_check", "build/package/ built by EDK II; its files equal ours"),
    "package": ("package", "firmware files, drivers.fv and the EDK II package (make package)"),
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
    module, _ = COMMANDS[argv[0]]
    try:
        run = importlib.import_module("tools.firmware." + module).main
    except ModuleNotFoundError as e:
        print("%s: needs %s, which is not here (the repository has it)" % (argv[0], e.name), file=sys.stderr)
        return 2
    return run(argv if argv[0] in KEEPS_NAME else argv[1:])


if __name__ == "__main__":
    sys.exit(main())

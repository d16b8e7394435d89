#!/usr/bin/env python3
"""Reads every firmware volume and firmware file we write back with an
independent reader, Debian's UEFIExtract (package uefitool-cli), and checks
that it finds each file with a valid header and data checksum, each volume
with a valid header checksum, and the same files our own reader finds.

    python3 -m tools.firmware uefiextract-check FILE.fv|FILE.ffs ...

A lone .ffs is put into a volume of its own first, since UEFIExtract reads
volumes and images. Prints one line per input and
"uefiextract: N passed, M failed"; exits non-zero on a failure.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

from tools.firmware import ffsread
from tools.firmware import fvpack

TOOL = "UEFIExtract"


def read_info(path):
    info = {}
    with open(path, errors="replace") as fh:
        for line in fh:
            key, sep, value = line.partition(": ")
            if sep:
                info.setdefault(key.strip(), value.strip())
    return info


def check_volume(data, workdir):
    """Problems UEFIExtract's dump of the volume shows, and the non-pad file GUIDs it found."""
    image = os.path.join(workdir, "image.fv")
    with open(image, "wb") as fh:
        fh.write(data)
    run = subprocess.run([TOOL, image, "dump"], cwd=workdir, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    problems, files, volumes = [], [], 0
    dump = image + ".dump"
    if not os.path.isdir(dump):
        return ["UEFIExtract wrote no dump (exit %d): %s" % (run.returncode, run.stdout.decode(errors="replace")[-200:])], []
    for folder, _, names in os.walk(dump):
        if "info.txt" not in names:
            continue
        info = read_info(os.path.join(folder, "info.txt"))
        if info.get("Type") == "Volume":
            volumes += 1
            if not info.get("Checksum", "").endswith(", valid"):
                problems.append("volume checksum: %s" % info.get("Checksum"))
        elif info.get("Type") == "File":
            name = info.get("File GUID", "?")
            for key in ("Header checksum", "Data checksum"):
                value = info.get(key, "missing")
                if not value.endswith(", valid"):
                    problems.append("file %s %s: %s" % (name, key.lower(), value))
            if info.get("Subtype") != "Pad":
                files.append(name.upper())
    if volumes == 0:
        problems.append("no volume found")
    return problems, files


def check(path):
    with open(path, "rb") as fh:
        data = fh.read()
    if path.endswith(".ffs"):
        expected = [ffsread.read_file(data)[0].name]
        data = fvpack.volume([data])
    else:
        expected = [f.name for f in ffsread.read_volume(data)]
    workdir = tempfile.mkdtemp(prefix="uefiextract.")
    try:
        problems, found = check_volume(data, workdir)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    if sorted(found) != sorted(expected):
        problems.append("UEFIExtract found files %s, our reader %s" % (sorted(found), sorted(expected)))
    return problems, len(found)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("paths", nargs="+", metavar="FILE")
    args = ap.parse_args(argv)
    if shutil.which(TOOL) is None:
        print("uefiextract: %s not found; install Debian's uefitool-cli (make test does)" % TOOL, file=sys.stderr)
        print("uefiextract: 0 passed, 1 failed")
        return 1
    passed = failed = 0
    for path in args.paths:
        try:
            problems, count = check(path)
        except (OSError, ffsread.Fault, fvpack.PackError) as e:
            problems, count = [str(e)], 0
        if problems:
            failed += 1
            print("FAIL %s: %s" % (path, "; ".join(problems)))
        else:
            passed += 1
            print("ok   %s: %d file%s, checksums valid" % (path, count, "" if count == 1 else "s"))
    print("uefiextract: %d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""The one UEFIExtract checker: Debian's UEFIExtract (package uefitool-cli),
a reader written apart from ours, reads what we write, and what it saw is
checked.

    python3 -m tools.firmware uefiextract-check FILE.fv|FILE.ffs ...

Every volume and file we write: each file with a valid header and data
checksum, each volume with a valid header checksum, and the same files our
own reader finds. A lone .ffs is put into a volume of its own first, since
UEFIExtract reads volumes and images. Prints one line per input and
"uefiextract: N passed, M failed".

    python3 -m tools.firmware extract-check IMAGE.fd [FILE.ffs ...]

An image the insert tool wrote: no file, volume or section whose checksum
UEFIExtract calls invalid, and each given file present once, inside the
compressed volume, with both checksums valid. Prints "extract check: N
passed, M failed".

Both exit non-zero on a failure.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import uuid

from tools.firmware import ffsread
from tools.firmware import fvpack

TOOL = "UEFIExtract"
LZMA_SECTION_GUID = "EE4E5898-3914-4259-9D6E-DC7BD79403CF"


def read_info(path):
    info = {}
    with open(path, errors="replace") as fh:
        for line in fh:
            key, sep, value = line.partition(": ")
            if sep:
                # A second "Type" (a file's or section's type byte) is kept as "Type 2".
                key = key.strip()
                info[key if key not in info else key + " 2"] = value.strip()
    return info


def walk_dump(data, workdir, mode="dump"):
    """UEFIExtract's dump of a volume: [(folder path, info, children)] of
    its top entries in its order, children the same for each entry's
    contents; None when it wrote no dump (with its output as the second value)."""
    image = os.path.join(workdir, "image.fv")
    with open(image, "wb") as fh:
        fh.write(data)
    run = subprocess.run([TOOL, image, mode], cwd=workdir, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    dump = image + ".dump"
    if not os.path.isdir(dump):
        return None, "exit %d: %s" % (run.returncode, run.stdout.decode(errors="replace")[-200:])

    def entries(folder):
        # Each entry's folder is "<index> <name>": UEFIExtract's order is the index's.
        names = [n for n in os.listdir(folder) if os.path.isdir(os.path.join(folder, n))]
        out = []
        for name in sorted(names, key=lambda n: int(n.split(" ", 1)[0]) if n.split(" ", 1)[0].isdigit() else 1 << 30):
            path = os.path.join(folder, name)
            info = read_info(os.path.join(path, "info.txt")) if os.path.exists(os.path.join(path, "info.txt")) else {}
            out.append((path, info, entries(path)))
        return out
    return entries(dump), ""


def flatten(tree):
    """Every (folder path, info, children) of walk_dump's tree, parents first."""
    for entry in tree:
        yield entry
        yield from flatten(entry[2])


def read_dump(data, workdir, mode="dump"):
    """[(folder, info)] for every item UEFIExtract describes reading data,
    and a problem when it wrote nothing."""
    tree, why = walk_dump(data, workdir, mode)
    if tree is None:
        return [], ["UEFIExtract wrote no dump (%s)" % why]
    return [(folder, info) for folder, info, _ in flatten(tree) if info], []


def checksums_valid(info):
    return all(info.get(key, "missing").endswith(", valid") for key in ("Header checksum", "Data checksum"))


def check_volume(data, workdir):
    """Problems UEFIExtract's dump of the volume shows, and the non-pad file GUIDs it found."""
    items, problems = read_dump(data, workdir)
    files, volumes = [], 0
    for _, info in items:
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
    if items and volumes == 0:
        problems.append("no volume found")
    return problems, files


# What a file's header holds, as UEFIExtract prints it.
FILE_FIELDS = ("File GUID", "Type 2", "Attributes", "State", "Full size", "Header checksum", "Data checksum")


def read_files(data, workdir):
    """{file GUID: (header fields, bytes, [(section type, header bytes, body bytes)])}
    of every non-pad file UEFIExtract finds in a volume; the bytes are the
    file as it sits in the volume, cut at UEFIExtract's base and size."""
    tree, why = walk_dump(data, workdir)
    if tree is None:
        raise OSError("UEFIExtract wrote no dump (%s)" % why)
    out = {}
    for folder, info, children in flatten(tree):
        if info.get("Type") != "File" or info.get("Subtype") == "Pad":
            continue
        fields = {k: info.get(k, "missing") for k in FILE_FIELDS}
        base, size = (int(info[k].split("h")[0], 16) for k in ("Base", "Full size"))
        sections = []
        for path, sec, _ in children:
            if sec.get("Type") != "Section":
                continue
            parts = []
            for part in ("header.bin", "body.bin"):
                p = os.path.join(path, part)
                parts.append(open(p, "rb").read() if os.path.exists(p) else b"")
            sections.append((sec.get("Subtype", "?"), parts[0], parts[1]))
        out[fields["File GUID"].upper()] = (fields, data[base:base + size], sections)
    return out


def check_image(image, ffs_paths):
    """(passed, faults) for an image the insert tool wrote and the files put into it."""
    names = []
    for p in ffs_paths:
        with open(p, "rb") as fh:
            names.append(str(uuid.UUID(bytes_le=fh.read(16))).upper())
    if shutil.which(TOOL) is None:
        return 0, ["UEFIExtract is not installed (make deps)"]
    with open(image, "rb") as fh:
        data = fh.read()
    with tempfile.TemporaryDirectory() as tmp:
        items, faults = read_dump(data, tmp, "all")
    if faults:
        return 0, faults
    passed = 0
    bad = [(folder, key, value) for folder, info in items for key, value in info.items()
           if "checksum" in key.lower() and "invalid" in value.lower()]
    for folder, key, value in bad[:10]:
        faults.append("%s: %s: %s" % (os.path.basename(folder), key, value))
    if not bad:
        passed += 1
    for name in names:
        hits = [(folder, info) for folder, info in items if info.get("File GUID", "").upper() == name]
        if len(hits) != 1:
            faults.append("file %s seen %d times" % (name, len(hits)))
            continue
        folder, info = hits[0]
        # Inside the compressed volume: the LZMA section's folder is on its path.
        if LZMA_SECTION_GUID not in folder.upper():
            faults.append("file %s is not inside the compressed volume" % name)
        elif not checksums_valid(info):
            faults.append("file %s: checksums not both valid" % name)
        else:
            passed += 1
    return passed, faults


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


def main_image(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if not argv:
        print(__doc__.strip(), file=sys.stderr)
        return 1
    return report("extract check", *check_image(argv[0], argv[1:]))


def report(name, passed, faults):
    """Prints a check's faults and its tally; the exit status it calls for."""
    for f in faults:
        print("FAIL  %s: %s" % (name, f))
    print("%s: %d passed, %d failed" % (name, passed, len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

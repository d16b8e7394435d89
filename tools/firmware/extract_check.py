#!/usr/bin/env python3
"""Reads a firmware image with UEFIExtract (Debian's uefitool-cli), a reader
written apart from ours, and checks what it saw: no file, volume or section
whose checksum it calls invalid, and each given firmware file present once, inside the
compressed volume, with both of its checksums valid.

    extract_check.py IMAGE.fd [FILE.ffs ...]

Prints one line, "extract check: N passed, M failed", and exits 1 on a fault.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import uuid


def read_infos(dump):
    """{path: text} of every info.txt UEFIExtract wrote."""
    out = {}
    for root, _, files in os.walk(dump):
        if "info.txt" in files:
            with open(os.path.join(root, "info.txt"), errors="replace") as fh:
                out[root] = fh.read()
    return out


def check(image, ffs_paths):
    faults = []
    names = []
    for p in ffs_paths:
        with open(p, "rb") as fh:
            names.append(str(uuid.UUID(bytes_le=fh.read(16))).upper())
    if shutil.which("UEFIExtract") is None:
        return 0, ["UEFIExtract is not installed (make deps)"]
    with tempfile.TemporaryDirectory() as tmp:
        copy = os.path.join(tmp, "image.fd")
        shutil.copyfile(image, copy)
        r = subprocess.run(["UEFIExtract", copy, "all"], capture_output=True, text=True, cwd=tmp)
        if r.returncode != 0:
            return 0, ["UEFIExtract exit status %d: %s" % (r.returncode, (r.stdout + r.stderr).strip()[:200])]
        infos = read_infos(copy + ".dump")
    if not infos:
        return 0, ["UEFIExtract wrote nothing"]
    passed = 0
    bad = [(path, line) for path, text in infos.items() for line in text.splitlines()
           if "checksum" in line.lower() and "invalid" in line.lower()]
    for path, line in bad[:10]:
        faults.append("%s: %s" % (os.path.basename(path), line.strip()))
    if not bad:
        passed += 1
    for name in names:
        hits = [(path, text) for path, text in infos.items()
                if re.search(r"^File GUID: %s$" % name, text, re.M | re.I)]
        if len(hits) != 1:
            faults.append("file %s seen %d times" % (name, len(hits)))
            continue
        path, text = hits[0]
        # Inside the compressed volume: the LZMA section's folder is on its path.
        if "EE4E5898-3914-4259-9D6E-DC7BD79403CF" not in path.upper():
            faults.append("file %s is not inside the compressed volume" % name)
        elif len(re.findall(r"checksum: [0-9A-F]+h, valid", text)) != 2:
            faults.append("file %s: checksums not both valid" % name)
        else:
            passed += 1
    return passed, faults


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if not argv:
        print(__doc__.strip(), file=sys.stderr)
        return 1
    passed, faults = check(argv[0], argv[1:])
    for f in faults:
        print("FAIL  extract check: %s" % f)
    print("extract check: %d passed, %d failed" % (passed, len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

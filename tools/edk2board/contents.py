#!/usr/bin/env python3
"""What the source-built board's flash holds, read by UEFIExtract (Debian's
uefitool-cli): every firmware file of the package (drivers, adapters,
pictures) and the window alias once each, inside the compressed volume, and
none of the test stand-ins that the inserted board image carries.

    python3 -m tools.edk2board.contents IMAGE.fd PACKAGE_DIR

Prints "edk2-board contents: N passed, M failed"; exits 1 on a fault.
"""
import glob
import os
import re
import sys
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, ROOT)

from tools.edk2board import platform  # noqa: E402
from tools.firmware import extract_check  # noqa: E402


def stand_in_guids():
    """{GUID: name} of the inserted board image's stand-ins (test/board/board.mk),
    the window alias excepted."""
    with open(os.path.join(ROOT, "test", "board", "board.mk")) as fh:
        found = re.findall(r"DRIVER_FFS,(\w+),([0-9A-Fa-f-]{36})", fh.read())
    return {g.upper(): n for n, g in found if g.upper() != platform.WINDOW_GUID}


def package_guids(package):
    """{GUID: file name} of every ready firmware file in the package."""
    out = {}
    for path in sorted(glob.glob(os.path.join(package, "*", "*.ffs"))):
        with open(path, "rb") as fh:
            out[str(uuid.UUID(bytes_le=fh.read(16))).upper()] = os.path.relpath(path, package)
    return out


def check(image, package):
    """(passed, [faults])."""
    import shutil
    import subprocess
    import tempfile
    if shutil.which("UEFIExtract") is None:
        return 0, ["UEFIExtract is not installed (make deps)"]
    with tempfile.TemporaryDirectory() as tmp:
        copy = os.path.join(tmp, "image.fd")
        shutil.copyfile(image, copy)
        r = subprocess.run(["UEFIExtract", copy, "all"], capture_output=True, text=True, cwd=tmp)
        if r.returncode != 0:
            return 0, ["UEFIExtract exit status %d" % r.returncode]
        infos = extract_check.read_infos(copy + ".dump")
    files = {}
    for path, text in infos.items():
        m = re.search(r"^File GUID: ([0-9A-Fa-f-]{36})$", text, re.M)
        if m and text.startswith("Type: File\n"):
            files.setdefault(m.group(1).upper(), []).append(os.path.dirname(path))
    passed, faults = 0, []
    want = dict(package_guids(package), **{platform.WINDOW_GUID: platform.WINDOW_NAME})
    if not want:
        faults.append("the package holds no firmware file")
    for guid, name in sorted(want.items(), key=lambda kv: kv[1]):
        seen = files.get(guid, [])
        if len(seen) != 1:
            faults.append("%s (%s) seen %d times" % (name, guid, len(seen)))
        elif "EE4E5898-3914-4259-9D6E-DC7BD79403CF" not in seen[0].upper():
            faults.append("%s is not inside the compressed volume" % name)
        else:
            passed += 1
    present = sorted(n for g, n in stand_in_guids().items() if g in files)
    if present:
        faults.append("test stand-ins in the flash: %s" % ", ".join(present))
    else:
        passed += 1
    return passed, faults


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if len(argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    passed, faults = check(argv[0], argv[1])
    for f in faults:
        print("FAIL  edk2-board contents: %s" % f)
    print("edk2-board contents: %d passed, %d failed" % (passed, len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())

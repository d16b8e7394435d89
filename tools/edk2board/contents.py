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
import sys
import uuid

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, ROOT)

from tools.edk2board import platform  # noqa: E402
from tools.firmware import uefiextract_check  # noqa: E402


def is_stand_in(guid):
    """A test stand-in of the inserted board image: test/board/board.mk numbers
    them, the window alias among them, under one GUID prefix."""
    return guid.startswith(platform.WINDOW_GUID[:-2]) and guid != platform.WINDOW_GUID


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
    import tempfile
    if shutil.which("UEFIExtract") is None:
        return 0, ["UEFIExtract is not installed (make deps)"]
    with open(image, "rb") as fh:
        data = fh.read()
    with tempfile.TemporaryDirectory() as tmp:
        items, problems = uefiextract_check.read_dump(data, tmp, "all")
    if problems:
        return 0, problems
    files = {}
    for folder, info in items:
        if info.get("Type") == "File" and "File GUID" in info:
            files.setdefault(info["File GUID"].upper(), []).append(folder)
    passed, faults = 0, []
    want = dict(package_guids(package), **{platform.WINDOW_GUID: platform.WINDOW_NAME})
    if not want:
        faults.append("the package holds no firmware file")
    for guid, name in sorted(want.items(), key=lambda kv: kv[1]):
        seen = files.get(guid, [])
        if len(seen) != 1:
            faults.append("%s (%s) seen %d times" % (name, guid, len(seen)))
        elif uefiextract_check.LZMA_SECTION_GUID not in seen[0].upper():
            faults.append("%s is not inside the compressed volume" % name)
        else:
            passed += 1
    present = sorted(g for g in files if is_stand_in(g))
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
    return uefiextract_check.report("edk2-board contents", *check(argv[0], argv[1]))


if __name__ == "__main__":
    sys.exit(main())

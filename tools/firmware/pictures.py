# SPDX-License-Identifier: BSD-2-Clause-Patent
"""The UI's picture files as data (ui/pictures.json): the packer's rules
(tools/firmware/fv.mk), the manifest tools, the UI's tests and the demo read
the table from here.

    python3 -m tools.firmware pictures names                  the files' names, in load order
    python3 -m tools.firmware pictures ffs NAME ARTWORK OUT   one picture file from the artwork folder
"""
import json
import os
import sys

from tools.firmware import fvpack

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TABLE = os.path.join("ui", "pictures.json")


def table(root=ROOT):
    """[(name, file GUID, [picture names in section order])] in load order."""
    with open(os.path.join(root, TABLE)) as fh:
        return [(f["name"], f["guid"].upper(), list(f["pictures"])) for f in json.load(fh)["files"]]


def picture_file(name, artwork):
    """The firmware file of the named table: its pictures as raw sections."""
    for n, guid, pictures in table():
        if n == name:
            sections = []
            for p in pictures:
                with open(os.path.join(artwork, p + ".bmp"), "rb") as fh:
                    sections.append(fvpack.raw_section(fh.read()))
            return fvpack.ffs_file(guid, "freeform", sections)
    raise fvpack.PackError("no picture file named %s in %s" % (name, TABLE))


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv == ["names"]:
        print(" ".join(n for n, _, _ in table()))
        return 0
    if len(argv) == 4 and argv[0] == "ffs":
        try:
            data = picture_file(argv[1], argv[2])
        except (fvpack.PackError, OSError) as e:
            print("pictures: %s" % e, file=sys.stderr)
            return 1
        with open(argv[3], "wb") as fh:
            fh.write(data)
        return 0
    print(__doc__.strip(), file=sys.stderr)
    return 2

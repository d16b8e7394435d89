#!/usr/bin/env python3
"""Packages the seven driver images as PI firmware files for a board's image.

For each image it writes build/ffs/<Name>.ffs: a DXE driver file (an SMM
driver file for SetupTokenSmm) holding, in this order,

  a dependency expression section  what the image needs at its entry point
  a PE32 section                   the image itself
  a user-interface section         the image's name
  a version section                build number and version text

and build/fv/drivers.fv, a firmware volume with the six DXE files, which a
running DXE core takes with ProcessFirmwareVolume and dispatches.

    tools/ffs/package.py --build build            (make package)
    tools/ffs/package.py --build build --list     the table, nothing written

The sections, files and volume come from the packer in tools/fv/fvpack.py.
"""
import argparse
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "fv"))

import fvpack  # noqa: E402

# Protocols the dependency expressions name.
VARIABLE_ARCH = "1E5668E2-8481-11D4-BCF1-0080C73C8881"   # GetVariable works
PCD = "11B34006-D85B-4D0A-A290-D5A571310EF7"             # the PCD protocol the library reads tokens from
PI_PCD = "13A3F0F6-264A-3EF0-F2E0-DEC512342F34"          # the PI PCD protocol the library checks for
SMM_BASE2 = "F4CCBFB7-F6E0-47FD-9DD4-10A8F150C191"       # the SMM system table
SMM_BUFFER_CHECK = "DA473D7F-4B31-4D63-92B7-3D905EF84B84"  # vets every settings request

# What the shared driver library's start-up reads before a driver's own work.
LIBRARY = "%s AND %s" % (PCD, PI_PCD)


class Driver:
    """One deliverable and how it is filed: the file name GUID stays the same
    from release to release, since a board's image and its update tools find
    the file by it."""

    def __init__(self, name, guid, file_type, depex, version, why):
        self.name = name
        self.guid = guid
        self.file_type = file_type  # "driver" or "smm"
        self.depex = depex
        self.build, self.version = version
        self.why = why

    @property
    def depex_kind(self):
        return "mm" if self.file_type == "smm" else "dxe"


DRIVERS = [
    Driver("TarvexUIV4x64", "391081C1-FA9D-4AEB-BC5D-A1573F269C2E", "driver", "TRUE", (403, "4.03"),
           "installs its protocol with boot services alone"),
    Driver("NetIdentityDxe", "C34A3A5A-BF3A-4F73-BF40-E7F9823BE44E", "driver", LIBRARY, (1, "1.0"),
           "library start-up; its variables are written at End-of-DXE, after every architectural protocol"),
    Driver("SetupTokenSmm", "6E7B20E1-0AA5-48D8-8270-8B23CACBD406", "smm",
           "%s AND %s AND %s" % (SMM_BASE2, PCD, SMM_BUFFER_CHECK), (1, "1.0"),
           "SMM table, publishes its buffer through a PCD, keeps the buffer check from start-up"),
    Driver("BootDelayDxe", "99D82239-6836-4747-A522-20F71CCEAA01", "driver",
           "%s AND %s" % (VARIABLE_ARCH, LIBRARY), (1, "1.0"),
           "library start-up, then reads the Setup variable"),
    Driver("PstateOverrideDxe", "0A999C5B-161A-424F-9FF8-BE9B7BE994A6", "driver",
           "%s AND %s" % (VARIABLE_ARCH, LIBRARY), (1, "1.0"),
           "library start-up, then reads the P-state variable"),
    Driver("PcdCacheDxe", "A564EEF6-ED30-4DF5-B1CD-06423AD468F3", "driver", LIBRARY, (1, "1.0"),
           "library start-up only"),
    Driver("PcdCacheLiteDxe", "95C8BF7A-E948-425D-AB69-4ACDEAA52BBF", "driver", LIBRARY, (1, "1.0"),
           "library start-up only"),
]

# The SMM file goes to the board's SMM-capable volume, not into drivers.fv.
VOLUME_FILE_TYPES = ("driver",)


def firmware_file(driver, image):
    """The FFS file of one driver image (bytes)."""
    sections = [
        fvpack.depex_section(driver.depex, driver.depex_kind),
        fvpack.pe32_section(image),
        fvpack.ui_section(driver.name),
        fvpack.version_section(driver.build, driver.version),
    ]
    return fvpack.ffs_file(driver.guid, driver.file_type, sections)


def drivers_volume(files):
    """The volume of the DXE files: files is [(Driver, ffs bytes)]."""
    return fvpack.volume([data for driver, data in files if driver.file_type in VOLUME_FILE_TYPES])


def package(build, out=sys.stdout):
    """Writes every .ffs and drivers.fv under build; returns their paths."""
    efi_dir = os.path.join(build, "efi")
    ffs_dir = os.path.join(build, "ffs")
    fv_dir = os.path.join(build, "fv")
    os.makedirs(ffs_dir, exist_ok=True)
    os.makedirs(fv_dir, exist_ok=True)
    files, written = [], []
    for driver in DRIVERS:
        with open(os.path.join(efi_dir, driver.name + ".efi"), "rb") as fh:
            data = firmware_file(driver, fh.read())
        path = os.path.join(ffs_dir, driver.name + ".ffs")
        write_file(path, data)
        files.append((driver, data))
        written.append(path)
        print("%-22s %6d bytes  %s" % (driver.name + ".ffs", len(data), driver.why), file=out)
    volume = drivers_volume(files)
    # Walk what we wrote the way a DXE core does before anyone flashes it.
    fvpack.parse_volume(volume)
    path = os.path.join(fv_dir, "drivers.fv")
    write_file(path, volume)
    written.append(path)
    print("%-22s %6d bytes  the six DXE files" % ("drivers.fv", len(volume)), file=out)
    return written


def write_file(path, data):
    # Written beside and renamed, so a failed run never leaves half a file.
    tmp = path + ".part"
    with open(tmp, "wb") as fh:
        fh.write(data)
    os.replace(tmp, path)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build")
    ap.add_argument("--list", action="store_true", help="print the file table and write nothing")
    args = ap.parse_args(argv)
    if args.list:
        for d in DRIVERS:
            print("%-18s %s %-6s %s:%s  %s" % (d.name, d.guid, d.file_type, d.build, d.version, d.depex))
        return 0
    try:
        package(args.build)
    except (fvpack.PackError, OSError) as e:
        print("package: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

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

    python3 -m tools.firmware package --build build            (make package)
    python3 -m tools.firmware package --build build --list     the table, nothing written

The sections, files and volume come from the packer in tools/firmware/fvpack.py.
"""
import argparse
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

from tools.firmware import fvpack


from tools.firmware import manifest

# One per deliverable, from the manifests beside each image.mk: the file name
# GUID stays the same from release to release, since a board's image and its
# update tools find the file by it.
DRIVERS = manifest.load()
# The board adapters: packed the same way, kept out of drivers.fv.
ADAPTERS = manifest.load_adapters()

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


def module_files(driver, image):
    """The files of one EDK II binary module: {file name: bytes}. The .ui and
    .ver files are the complete leaf sections, as a firmware-file tool takes
    them; the .depex file is the bare expression, as an INF's DXE_DEPEX or
    SMM_DEPEX entry expects."""
    return {
        driver.name + ".efi": image,
        driver.name + ".depex": driver.depex_bytes,
        driver.name + ".ui": fvpack.ui_section(driver.name),
        driver.name + ".ver": fvpack.version_section(driver.build, driver.version),
        driver.name + ".ffs": firmware_file(driver, image),
        driver.name + ".inf": manifest.inf_text(driver).encode(),
    }


def write_edk2_package(build, files, out=sys.stdout):
    """build/package/: one folder per driver with its binary module, the DEC,
    the FDF fragment and the pictures. Returns the paths written."""
    root = os.path.join(build, "package")
    written = []
    for driver, image in files:
        for name, data in module_files(driver, image).items():
            path = os.path.join(root, driver.name, name)
            write_file(path, data)
            written.append(path)
    pictures = picture_files(build)
    for name, guid, bmps in pictures:
        for bmp in bmps:
            with open(os.path.join(build, "artwork", bmp), "rb") as fh:
                path = os.path.join(root, "Pictures", bmp)
                write_file(path, fh.read())
                written.append(path)
        ffs = os.path.join(build, "fv", "pictures", name + ".ffs")
        if os.path.exists(ffs):
            with open(ffs, "rb") as fh:
                path = os.path.join(root, "Pictures", name + ".ffs")
                write_file(path, fh.read())
                written.append(path)
    drivers = [d for d, _ in files if d not in ADAPTERS]
    adapters = [d for d, _ in files if d in ADAPTERS]
    for name, text in ((manifest.PACKAGE_NAME + ".dec", manifest.dec_text(drivers + adapters)),
                       (manifest.PACKAGE_NAME + ".fdf.inc", manifest.fdf_text(drivers, pictures, adapters))):
        path = os.path.join(root, name)
        write_file(path, text.encode())
        written.append(path)
    print("%-22s %6d files  binary modules, DEC, FDF fragment, pictures" % ("package/", len(written)), file=out)
    return written


def picture_files(build):
    """[(name, file GUID, [bmp names])] of the UI's pictures, as tools/firmware/fv.mk
    names them; empty when the artwork has not been drawn."""
    if not os.path.isdir(os.path.join(build, "artwork")):
        return []
    return [(n, guid, [p + ".bmp" for p in pics]) for n, guid, pics in manifest.picture_table()]


def drivers_volume(files):
    """The volume of the drivers' DXE files: files is [(Driver, ffs bytes)]."""
    return fvpack.volume([data for driver, data in files if driver.file_type in VOLUME_FILE_TYPES and driver not in ADAPTERS])


def package(build, out=sys.stdout):
    """Writes every .ffs and drivers.fv under build; returns their paths."""
    efi_dir = os.path.join(build, "efi")
    ffs_dir = os.path.join(build, "ffs")
    fv_dir = os.path.join(build, "fv")
    os.makedirs(ffs_dir, exist_ok=True)
    os.makedirs(fv_dir, exist_ok=True)
    files, written, images = [], [], []
    for driver in DRIVERS + ADAPTERS:
        with open(os.path.join(efi_dir, driver.name + ".efi"), "rb") as fh:
            image = fh.read()
        missing = driver.missing_from_image(image)
        if missing:
            raise manifest.ManifestError("%s.efi does not carry the GUIDs of %s that %s lists"
                                         % (driver.name, ", ".join(missing), driver.path))
        images.append((driver, image))
        data = firmware_file(driver, image)
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
    written += write_edk2_package(build, images, out)
    return written


def write_file(path, data):
    # Written beside and renamed, so a failed run never leaves half a file.
    os.makedirs(os.path.dirname(path), exist_ok=True)
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
        for d in DRIVERS + ADAPTERS:
            print("%-18s %s %-6s %s:%s  %s" % (d.name, d.guid, d.file_type, d.build, d.version, d.depex_names))
        return 0
    try:
        package(args.build)
    except (fvpack.PackError, manifest.ManifestError, OSError) as e:
        print("package: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

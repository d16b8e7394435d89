#!/usr/bin/env python3
"""Writes the release bundle build/release/<product>-<version>/ from what
make package wrote: the EDK II package (per driver .efi, .depex, .ui, .ver,
.ffs, .inf; the DEC, the FDF fragment, the pictures), drivers.fv, the
datasheets, the UI caller's guide, header and examples, this version's CHANGELOG
entry, the insert tool and the reader (python3 -m tools.firmware insert | read),
the licence and SHA256SUMS. Only file contents are copied, in sorted order, so
two builds of the same sources give the same bundle byte for byte.

    python3 -m tools.release --build build        (make release)
"""
import argparse
import hashlib
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

from tools.firmware import manifest


# Besides the package, datasheets and header: what the guide and the bundle's
# README send a reader to. The firmware tools are the ones that need nothing
# but Python's standard library.
BUNDLED = (
    "examples/ui_caller/caller.c",
    "examples/gnu_efi_caller/caller.c",
    "examples/gnu_efi_caller/Makefile",
    "tools/firmware/__init__.py",
    "tools/firmware/__main__.py",
    "tools/firmware/fvpack.py",
    "tools/firmware/fvinsert.py",
    "tools/firmware/ffsread.py",
)


def changelog_entry(version):
    """The CHANGELOG.md section of this version, with its heading."""
    with open(os.path.join(ROOT, "CHANGELOG.md")) as fh:
        text = fh.read()
    head = "## %s\n" % version
    if head not in text:
        raise SystemExit("release: CHANGELOG.md has no \"## %s\" entry" % version)
    body = text.split(head, 1)[1].split("\n## ", 1)[0]
    return "# Changelog\n\n" + head + body.rstrip() + "\n"


def integration_readme(version):
    """The README's integration section, as the bundle's README.md."""
    with open(os.path.join(ROOT, "README.md")) as fh:
        text = fh.read()
    head = "## Taking the drivers into a board\n"
    if head not in text:
        raise SystemExit("release: README.md has no \"Taking the drivers into a board\" section")
    body = text.split(head, 1)[1].split("\n## ", 1)[0]
    return "# %s %s\n\n## Taking the drivers into a board\n%s" % (manifest.PRODUCT, version, body.rstrip() + "\n")


def release(build):
    version, _ = manifest.product_version()
    name = "%s-%s" % (manifest.PRODUCT, version)
    out = os.path.join(build, "release", name)
    shutil.rmtree(out, ignore_errors=True)
    files = {}
    package = os.path.join(build, "package")
    if not os.path.isdir(package):
        raise SystemExit("release: %s missing; run make package" % package)
    for folder, _, names in os.walk(package):
        for n in names:
            src = os.path.join(folder, n)
            files[os.path.join(manifest.PACKAGE_NAME, os.path.relpath(src, package))] = src
    files["drivers.fv"] = os.path.join(build, "fv", "drivers.fv")
    docs = os.path.join(ROOT, "docs")
    for rel in sorted(os.listdir(os.path.join(docs, "drivers"))):
        files[os.path.join("docs", "drivers", rel)] = os.path.join(docs, "drivers", rel)
    for rel in ("ui-protocol.md",):
        if os.path.exists(os.path.join(docs, rel)):
            files[os.path.join("docs", rel)] = os.path.join(docs, rel)
    # The caller's header with the minimal UEFI headers it falls back on, and the example caller.
    files["include/ui_screen.h"] = os.path.join(ROOT, "include", "ui_screen.h")
    for rel in sorted(os.listdir(os.path.join(ROOT, "include", "efi"))):
        files["include/efi/" + rel] = os.path.join(ROOT, "include", "efi", rel)
    for rel in BUNDLED:
        files[rel] = os.path.join(ROOT, rel)
    files["LICENSE"] = os.path.join(ROOT, "LICENSE")
    contents = {"CHANGELOG.md": changelog_entry(version).encode(), "README.md": integration_readme(version).encode()}
    for rel, src in files.items():
        with open(src, "rb") as fh:
            contents[rel] = fh.read()
    sums = []
    for rel in sorted(contents):
        path = os.path.join(out, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as fh:
            fh.write(contents[rel])
        sums.append("%s  %s\n" % (hashlib.sha256(contents[rel]).hexdigest(), rel))
    with open(os.path.join(out, "SHA256SUMS"), "w") as fh:
        fh.writelines(sums)
    print("release: %s, %d files" % (os.path.relpath(out, ROOT) if out.startswith(ROOT) else out, len(sums)))
    return out


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build")
    args = ap.parse_args(argv)
    release(os.path.abspath(args.build))
    return 0


if __name__ == "__main__":
    sys.exit(main())

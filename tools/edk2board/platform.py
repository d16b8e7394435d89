#!/usr/bin/env python3
"""The source-built board's platform: Debian's OVMF platform description
(OvmfPkg/OvmfPkgIa32X64.dsc and .fdf, what Debian builds its SMM secure-boot
4 MB image from) with our package added by the README's integration steps,
written into an EDK II workspace of its own; the EDK II tree is not touched.

    python3 -m tools.edk2board.platform --tree EDK2_TREE --package build/package \\
        --workspace WS [--window build/efi/BoardPciWindow.efi] [--pcds FILE]

writes WS/BoardDriversPkg/ (step 1: the package as it is), and
WS/BoardOvmf/OvmfBoard.dsc and OvmfBoard.fdf, the platform's own files with
  step 2  a [Components.X64] line for every INF of the package,
  step 3  the fragment's volume lines pasted at the end of [FV.DXEFV] (OVMF's
          DXE dispatcher and SMM core both dispatch from it) and its rules
          at the end of the FDF,
  step 4  our PCDs' board values in [PcdsDynamicExDefault.X64],
and, for the q35 machine only, the chipset's PCI Express window alias as a
binary module of the workspace (BoardOvmf/PciWindow/).
"""
import argparse
import difflib
import glob
import os
import re
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, ROOT)

from tools.firmware import fvpack, manifest  # noqa: E402

PLATFORM_DSC = "OvmfPkg/OvmfPkgIa32X64.dsc"
PLATFORM_FDF = "OvmfPkg/OvmfPkgIa32X64.fdf"
BOARD_DIR = "BoardOvmf"
BOARD_DSC = BOARD_DIR + "/OvmfBoard.dsc"
BOARD_FDF = BOARD_DIR + "/OvmfBoard.fdf"
DEFAULT_PCDS = os.path.join(HERE, "BoardPcds.dsc.inc")
# The window alias stands for the board's chipset (its window is at
# 0xE0000000, q35's at 0xB0000000), not for a board module.
WINDOW_NAME = "BoardPciWindow"
WINDOW_GUID = "5A2E7C11-3B4D-4E8F-9A01-B0A2D0000005"
WINDOW_INF = "%s/PciWindow/%s.inf" % (BOARD_DIR, WINDOW_NAME)
WINDOW_FILE = """
# The machine's chipset piece: q35's PCI Express window at the board's address.
FILE DRIVER = %s {
  SECTION DXE_DEPEX = %s/PciWindow/%s.depex
  SECTION PE32 = %s/PciWindow/%s.efi
  SECTION UI = "%s"
}
""" % (WINDOW_GUID, BOARD_DIR, WINDOW_NAME, BOARD_DIR, WINDOW_NAME, WINDOW_NAME)


class PlatformError(Exception):
    pass


def split_fragment(text):
    """(volume lines, rule text) of the package's FDF fragment: everything
    before its first [Rule...] section goes into a volume, the rest beside
    the platform's rules."""
    at = re.search(r"^\[Rule\.", text, re.M)
    if at is None:
        return text.rstrip() + "\n", ""
    head = text[:at.start()]
    # Drop the rules' own heading comment, which belongs with them.
    head = re.sub(r"\n# --- rules[^\n]*\n*$", "\n", head)
    return head.rstrip() + "\n", text[at.start():].rstrip() + "\n"


def leave_out(volume, names):
    """The fragment's volume lines without the statements of the named
    modules: a board that has its own module for an adapter leaves that
    adapter's FILE statement (and the comment naming it) out."""
    out, skipping, left = [], False, set()
    for line in volume.splitlines():
        head = re.match(r"^(FILE|INF)\b.*?(?:#\s*(\w+)\s*|/(\w+)\.inf\s*)$", line)
        name = head and (head.group(2) or head.group(3))
        if name in names:
            left.add(name)
            skipping = line.rstrip().endswith("{") or "{" in line and "}" not in line
            if out and re.match(r"^#\s*%s:" % re.escape(name), out[-1]):
                out.pop()
            continue
        if skipping:
            skipping = line.strip() != "}"
            continue
        out.append(line)
    missing = set(names) - left
    if missing:
        raise PlatformError("the fragment has no statement of %s" % ", ".join(sorted(missing)))
    return "\n".join(out) + "\n"


def section_end(text, name):
    """Offset just past the last line of section [name] (before the next
    section's heading and the comment block above it)."""
    start = re.search(r"^\[%s\]\s*$" % re.escape(name), text, re.M)
    if start is None:
        raise PlatformError("no [%s] section" % name)
    nxt = re.compile(r"^\[", re.M).search(text, start.end())
    end = nxt.start() if nxt else len(text)
    # The comment lines just above the next heading introduce it.
    body = text[start.end():end]
    lines = body.split("\n")
    while lines and (lines[-1].strip() == "" or lines[-1].lstrip().startswith("#")):
        lines.pop()
    return start.end() + len("\n".join(lines)) + 1


def edit_fdf(text, volume, rules):
    """The platform's FDF with volume pasted at the end of [FV.DXEFV] and
    rules at the end. Its bare !include names are made workspace-relative,
    since the copy no longer sits beside them."""
    text = re.sub(r"^!include[ \t]+([^/\s]+\.fdf\.inc)[ \t]*$", r"!include OvmfPkg/\1", text, flags=re.M)
    at = section_end(text, "FV.DXEFV")
    block = "\n# ---- board drivers (BoardDriversPkg fragment) ----\n" + volume + "\n"
    text = text[:at] + block + text[at:]
    if not rules:
        return text
    return text.rstrip() + "\n\n# ---- BoardDriversPkg fragment: rules ----\n" + rules


def edit_dsc(text, fdf, components, pcds):
    """The platform's DSC pointed at fdf, with components in [Components.X64]
    and the PCD lines in [PcdsDynamicExDefault.X64]."""
    text, n = re.subn(r"^(\s*FLASH_DEFINITION\s*=\s*)\S+", lambda m: m.group(1) + fdf, text, count=1, flags=re.M)
    if n != 1:
        raise PlatformError("the DSC has no FLASH_DEFINITION")
    out = [text.rstrip(), "",
           "# ---- board drivers (BoardDriversPkg) ----",
           "[Components.X64]"]
    out += ["  " + c for c in components]
    out += ["", "[PcdsDynamicExDefault.X64]"]
    out += ["  " + line.strip() for line in pcds.splitlines() if line.strip() and not line.strip().startswith("#")]
    return "\n".join(out) + "\n"


def window_module(efi):
    """{file name: bytes} of the window alias as a binary DXE module."""
    with open(efi, "rb") as fh:
        image = fh.read()
    inf = "\n".join([
        "## @file",
        "#  The q35 machine's PCI Express window aliased at the board's address (a chipset",
        "#  stand-in of the source-built board, not a module of the package).",
        "##",
        "[Defines]",
        "  INF_VERSION                    = 0x0001001B",
        "  BASE_NAME                      = %s" % WINDOW_NAME,
        "  FILE_GUID                      = %s" % WINDOW_GUID,
        "  MODULE_TYPE                    = DXE_DRIVER",
        "  VERSION_STRING                 = 1.0",
        "",
        "[Packages]",
        "  MdePkg/MdePkg.dec",
        "",
        "[Binaries.X64]",
        "  PE32|%s.efi|*" % WINDOW_NAME,
        "  DXE_DEPEX|%s.depex|*" % WINDOW_NAME,
        ""])
    return {WINDOW_NAME + ".inf": inf.encode(), WINDOW_NAME + ".efi": image,
            WINDOW_NAME + ".depex": fvpack.compile_depex("TRUE")}


def package_infs(package):
    """The package's INFs, workspace-relative, in the fragment's order and
    then any the fragment does not name."""
    found = sorted(os.path.relpath(p, package).replace(os.sep, "/")
                   for p in glob.glob(os.path.join(package, "*", "*.inf")))
    with open(os.path.join(package, manifest.PACKAGE_NAME + ".fdf.inc")) as fh:
        named = re.findall(r"%s/(\S+\.inf)" % manifest.PACKAGE_NAME, fh.read())
    order = [n for n in named if n in found] + [n for n in found if n not in named]
    return ["%s/%s" % (manifest.PACKAGE_NAME, n) for n in order]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as fh:
        fh.write(data if isinstance(data, bytes) else data.encode())


def read_text(path):
    """(text with \n line ends, the file's own line end)."""
    with open(path, "rb") as fh:
        raw = fh.read().decode()
    return raw.replace("\r\n", "\n"), "\r\n" if "\r\n" in raw else "\n"


def write_edited(workspace, name, original, text, eol):
    """The edited platform file in the file's own line ends, and beside it the
    edit as a unified diff against the platform's file (what an integrator
    applies to their own copy)."""
    write(os.path.join(workspace, name), text.replace("\n", eol))
    diff = difflib.unified_diff(original.splitlines(True), text.splitlines(True), "a/" + name, "b/" + name)
    write(os.path.join(workspace, name + ".diff"), "".join(diff))


def make_workspace(tree, package, workspace, pcds_path=DEFAULT_PCDS, window=None, without=()):
    """Writes the workspace; returns the DSC's workspace-relative path.
    without names modules whose fragment statements are left out."""
    dest = os.path.join(workspace, manifest.PACKAGE_NAME)
    if os.path.isdir(dest):
        shutil.rmtree(dest)
    shutil.copytree(package, dest)  # step 1
    with open(os.path.join(package, manifest.PACKAGE_NAME + ".fdf.inc")) as fh:
        volume, rules = split_fragment(fh.read())
    if without:
        volume = leave_out(volume, without)
    components = package_infs(package)
    if window:
        for name, data in window_module(window).items():
            write(os.path.join(workspace, os.path.dirname(WINDOW_INF), name), data)
        components.append(WINDOW_INF)
        volume += WINDOW_FILE
    with open(pcds_path) as fh:
        pcds = fh.read()
    dsc, eol = read_text(os.path.join(tree, PLATFORM_DSC))
    write_edited(workspace, BOARD_DSC, dsc, edit_dsc(dsc, BOARD_FDF, components, pcds), eol)
    fdf, eol = read_text(os.path.join(tree, PLATFORM_FDF))
    write_edited(workspace, BOARD_FDF, fdf, edit_fdf(fdf, volume, rules), eol)
    return BOARD_DSC


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tree", required=True, help="the EDK II source tree (tools/edk2.sh)")
    ap.add_argument("--package", required=True, help="build/package")
    ap.add_argument("--workspace", required=True)
    ap.add_argument("--pcds", default=DEFAULT_PCDS, help="the board's PCD values, DSC lines")
    ap.add_argument("--window", help="the window alias image (BoardPciWindow.efi)")
    ap.add_argument("--without", action="append", default=[], metavar="MODULE",
                    help="leave this module's fragment statement out (as a board with its own does)")
    args = ap.parse_args(argv)
    try:
        print(make_workspace(args.tree, args.package, args.workspace, args.pcds, args.window, args.without))
    except (PlatformError, OSError) as e:
        print("edk2-board: %s" % e, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

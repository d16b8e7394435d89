#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""The drivers' manifests: one <Name>.module.json in each driver's folder says
what the driver is to a board (file GUID, module and file type, dependency
expression, the protocols, GUIDs, PCDs and variables it consumes and
produces, the hardware it assumes, the memory it keeps). The packer, the
EDK II INF/DEC/FDF writer and the datasheets in docs/drivers/ all read them,
so what a board integrator is told is what the files carry.

    python3 -m tools.firmware manifest datasheets [--check]   write (or compare) docs/drivers/*.md
    python3 -m tools.firmware manifest list                name, file GUID, type, depex
"""
import glob
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

from tools.firmware import fvpack, pictures, token_facts

PRODUCT = "board-drivers"
PACKAGE_NAME = "BoardDriversPkg"
PACKAGE_GUID = "8DD36B63-78C1-46B9-9CD6-2591F18AB999"
# Token space of the platform PCDs the drivers read and write by number.
TOKEN_SPACE = ("gBoardDriversTokenSpaceGuid", "40EE853C-D440-44B5-BCC4-60F6E9493E3A")
# The order drivers are listed and packed in.
ORDER = ["TarvexUIV4x64", "NetIdentityDxe", "SetupTokenSmm", "BootDelayDxe", "PstateOverrideDxe",
         "PcdCacheDxe", "PcdCacheLiteDxe"]
# The board adapters' manifests: modules of ours that give the drivers what an
# open board lacks, packed and described like the drivers, listed apart.
ADAPTER_DIR = "adapters"
MODULE_TYPES = {"driver": "DXE_DRIVER", "smm": "DXE_SMM_DRIVER"}
USAGES = ("CONSUMES", "SOMETIMES_CONSUMES", "PRODUCES", "SOMETIMES_PRODUCES")
# The datasheet's Security section: each manifest's "security" lists, in this order.
SECURITY = {"trusts": "What it trusts", "unchecked": "What it does not check", "board": "What the board must do"}


class ManifestError(Exception):
    pass


def product_version(root=ROOT):
    """(text, build number): VERSION holds major.minor.patch; the FFS
    version sections carry the text and, as build number, 0xMmp in nibbles
    (1.1.0 -> 0x0110), so a hex dump reads as the version."""
    with open(os.path.join(root, "VERSION")) as fh:
        text = fh.read().strip()
    parts = text.split(".")
    if len(parts) != 3 or not all(p.isdigit() for p in parts):
        raise ManifestError("VERSION %r is not major.minor.patch" % text)
    major, minor, patch = (int(p) for p in parts)
    if major > 0xFF or minor > 0xF or patch > 0xF:
        raise ManifestError("VERSION %s does not fit the 16-bit build number" % text)
    return text, major << 8 | minor << 4 | patch


class Module:
    """One driver's manifest with its linked libraries' entries merged in."""

    def __init__(self, path, data, libraries):
        self.path = os.path.relpath(path, ROOT)
        if "record_table" in data:  # its text names the table's numbers as {rows}, {request_size}, ...
            data = token_facts.fill(data, token_facts.facts())
        self.data = data
        self.name = data["name"]
        self.guid = data["file_guid"].upper()
        self.file_type = data["file_type"]
        self.module_type = data["module_type"]
        self.entry = data["entry"]
        self.summary = data["summary"]
        self.depex_names = data["depex"]
        self.depex_why = data["depex_why"]
        self.hardware = data.get("hardware", [])
        self.memory = list(data.get("memory", []))
        self.variables = data.get("variables", [])
        self.smi = data.get("smi")
        # Adapters: when a board needs it, and where its line goes in the fragment.
        self.adapter = data.get("adapter")
        self.fragment_order = data.get("fragment_order", 100)
        if "security" not in data:
            raise ManifestError("%s: no security section" % self.name)
        self.security = {k: list(data["security"].get(k, [])) for k in SECURITY}
        self.protocols, self.guids, self.pcds = [], [], []
        for lib in data.get("links", []):
            if lib not in libraries:
                raise ManifestError("%s links unknown library %s" % (self.name, lib))
            ld = libraries[lib]
            self._merge(ld, "library " + ld["library"])
            self.memory += ld.get("memory", [])
            for k in SECURITY:
                self.security[k] += ["%s (library %s)" % (x, ld["library"]) for x in ld.get("security", {}).get(k, [])]
        self._merge(data, None)
        self.version, self.build = product_version()
        self._check()

    def _merge(self, d, source):
        for kind in ("protocols", "guids", "pcds"):
            mine = getattr(self, kind)
            for item in d.get(kind, []):
                item = dict(item, source=source)
                key = "token" if kind == "pcds" else "name"
                mine[:] = [x for x in mine if x[key] != item[key]] + [item]

    def _check(self):
        if MODULE_TYPES.get(self.file_type) != self.module_type:
            raise ManifestError("%s: file type %s with module type %s" % (self.name, self.file_type, self.module_type))
        for item in self.protocols + self.guids + self.pcds:
            if item["usage"] not in USAGES:
                raise ManifestError("%s: usage %r" % (self.name, item["usage"]))
        self.depex_bytes  # every name resolves
        for k, title in SECURITY.items():
            if not self.security[k]:
                raise ManifestError("%s: security section says nothing under %r" % (self.name, title))

    @property
    def depex_kind(self):
        return "mm" if self.file_type == "smm" else "dxe"

    @property
    def depex_section_name(self):
        return "SMM_DEPEX" if self.file_type == "smm" else "DXE_DEPEX"

    def guid_of(self, name):
        for item in self.protocols + self.guids:
            if item["name"] == name:
                return item["guid"].upper()
        raise ManifestError("%s: depex names %s, which the manifest does not list" % (self.name, name))

    @property
    def depex(self):
        """The expression with GUIDs, as the packer compiles it."""
        return " ".join(self.guid_of(t) if t.startswith("g") else t for t in self.depex_names.split())

    @property
    def depex_bytes(self):
        return fvpack.compile_depex(self.depex)

    def depex_words(self):
        words = {"AND": "and", "OR": "or", "NOT": "not", "TRUE": "always (no dependency)"}
        return " ".join(words.get(t, "`%s`" % t) for t in self.depex_names.split())

    def missing_from_image(self, image):
        """Names of the GUIDs this manifest says the code uses that the image
        does not carry, whole or as the two 8-byte halves a compare of
        immediates leaves."""
        missing = []
        for name, guid in self.image_guids():
            raw = fvpack.guid_bytes(guid)
            if raw not in image and not (raw[:8] in image and raw[8:] in image):
                missing.append(name)
        return missing

    def image_guids(self):
        """(name, GUID) of everything the code names by GUID: the listed
        protocols and GUIDs, and the picture files the UI reads."""
        out = [(i["name"], i["guid"]) for i in self.protocols + self.guids if i.get("image", True)]
        if self.data.get("pictures"):
            out += [("picture file " + n, g) for n, g, _ in picture_table()]
        return out

    # What package.py's callers have always used.
    @property
    def why(self):
        return self.depex_why


def load(root=ROOT):
    """Every driver's Module, in ORDER."""
    libraries, drivers = {}, {}
    for path in sorted(glob.glob(os.path.join(root, "*", "*.module.json"))):
        if os.path.basename(os.path.dirname(path)) == ADAPTER_DIR:
            continue
        with open(path) as fh:
            try:
                data = json.load(fh)
            except ValueError as e:
                raise ManifestError("%s: %s" % (path, e)) from None
        key = os.path.basename(os.path.dirname(path))
        if "library" in data:
            libraries[key] = data
        else:
            drivers[path] = data
    modules = {}
    for path, data in drivers.items():
        m = Module(path, data, libraries)
        if m.name in modules:
            raise ManifestError("two manifests for %s" % m.name)
        modules[m.name] = m
    if sorted(modules) != sorted(ORDER):
        raise ManifestError("manifests for %s, drivers are %s" % (sorted(modules), sorted(ORDER)))
    return [modules[n] for n in ORDER]


def load_adapters(root=ROOT):
    """Every adapter's Module, in fragment order (then by name)."""
    libraries = {}
    for path in glob.glob(os.path.join(root, "*", "*.module.json")):
        with open(path) as fh:
            data = json.load(fh)
        if "library" in data:
            libraries[os.path.basename(os.path.dirname(path))] = data
    adapters = []
    for path in sorted(glob.glob(os.path.join(root, ADAPTER_DIR, "*.module.json"))):
        with open(path) as fh:
            try:
                data = json.load(fh)
            except ValueError as e:
                raise ManifestError("%s: %s" % (path, e)) from None
        m = Module(path, data, libraries)
        if not m.adapter:
            raise ManifestError("%s: an adapter's manifest says when a board needs it (\"adapter\")" % m.path)
        adapters.append(m)
    names = [m.name for m in adapters]
    if len(set(names)) != len(names) or set(names) & set(ORDER):
        raise ManifestError("adapter names %s repeat or clash with the drivers'" % names)
    return sorted(adapters, key=lambda m: (m.fragment_order, m.name))


def picture_table(root=ROOT):
    """[(name, file GUID, [picture names in section order])] of the UI's picture files."""
    return pictures.table(root)


# ---- EDK II files ----

def guid_struct(text):
    g = text.split("-")
    tail = g[3] + g[4]
    return "{0x%s, 0x%s, 0x%s, {%s}}" % (g[0], g[1], g[2], ", ".join("0x" + tail[i:i + 2] for i in range(0, 16, 2)))


def pcd_cname(pcd):
    return "%s.%s" % (TOKEN_SPACE[0], pcd["name"])


def inf_text(m):
    lines = ["## @file",
             "#  %s %s: %s" % (m.name, m.version, m.summary.split(". ")[0].rstrip(".") + "."),
             "#  Binary module; written by tools/firmware/manifest.py from %s." % m.path,
             "#",
             "#  SPDX-License-Identifier: BSD-2-Clause-Patent",
             "##", "",
             "[Defines]",
             "  INF_VERSION                    = 0x0001001B",
             "  BASE_NAME                      = %s" % m.name,
             "  FILE_GUID                      = %s" % m.guid,
             "  MODULE_TYPE                    = %s" % m.module_type,
             "  VERSION_STRING                 = %s" % m.version,
             "  BUILD_NUMBER                   = %d" % m.build,
             "  PI_SPECIFICATION_VERSION       = 0x0001000A" if m.file_type == "smm" else None,
             "", "[Packages]",
             "  MdePkg/MdePkg.dec",
             "  MdeModulePkg/MdeModulePkg.dec",
             "  %s/%s.dec" % (PACKAGE_NAME, PACKAGE_NAME), "",
             # UI and VER lead the section; their files hold the complete leaf sections.
             "[Binaries.X64]",
             "  UI|%s.ui|*" % m.name,
             "  VER|%s.ver|*" % m.name,
             "  PE32|%s.efi|*" % m.name,
             "  %s|%s.depex|*" % (m.depex_section_name, m.name), ""]
    for title, items in (("Protocols", m.protocols), ("Guids", m.guids)):
        if items:
            lines.append("[%s]" % title)
            width = max(len(i["name"]) for i in items)
            for i in items:
                lines.append("  %-*s  ## %s # %s" % (width, i["name"], i["usage"], i["purpose"].split(":")[0]))
            lines.append("")
    if m.pcds:
        lines.append("[Pcd]")
        width = max(len(pcd_cname(p)) for p in m.pcds)
        for p in m.pcds:
            lines.append("  %-*s  ## %s # token %d, %s" % (width, pcd_cname(p), p["usage"], p["token"], p["type"]))
        lines.append("")
    # A binary module carries its expression in the .depex file; this is for the reader.
    lines += ["# Dependency expression (the %s file): %s" % (m.depex_section_name, m.depex_names), ""]
    return "\n".join(line for line in lines if line is not None)


def dec_text(modules):
    """The GUIDs, protocols and PCDs that the standard packages do not declare."""
    protocols, guids, pcds = {}, {TOKEN_SPACE[0]: TOKEN_SPACE[1]}, {}
    for m in modules:
        for item in m.protocols:
            if item["package"] == "ours":
                protocols[item["name"]] = item["guid"].upper()
        for item in m.guids:
            if item["package"] == "ours":
                guids[item["name"]] = item["guid"].upper()
        for p in m.pcds:
            pcds[p["token"]] = p
    defaults = {"BOOLEAN": "FALSE", "UINT8": "0", "UINT16": "0", "UINT32": "0", "UINT64": "0"}
    out = ["## @file",
           "#  %s %s: the GUIDs of the board drivers' own and board-supplied interfaces," % (PACKAGE_NAME, modules[0].version),
           "#  and the platform PCDs they read and write by token number.",
           "#",
           "#  SPDX-License-Identifier: BSD-2-Clause-Patent",
           "##", "",
           "[Defines]",
           "  DEC_SPECIFICATION              = 0x0001001B",
           "  PACKAGE_NAME                   = %s" % PACKAGE_NAME,
           "  PACKAGE_GUID                   = %s" % PACKAGE_GUID,
           "  PACKAGE_VERSION                = %s" % ".".join(modules[0].version.split(".")[:2]), "",
           "[Guids]"]
    out += ["  %s = %s" % (n, guid_struct(g)) for n, g in sorted(guids.items())]
    out += ["", "[Protocols]"]
    out += ["  %s = %s" % (n, guid_struct(g)) for n, g in sorted(protocols.items())]
    out += ["", "# The drivers ask the PCD protocol for these token numbers. DynamicEx PCDs keep",
            "# them in an EDK II build (a platform gives dynamic PCDs numbers of its own);",
            "# PcdBridgeDxe answers the drivers' token-number calls from them.",
            "[PcdsDynamicEx]"]
    for token, p in sorted(pcds.items()):
        out.append("  %s|%s|%s|0x%08X" % (pcd_cname(p), defaults[p["type"]], p["type"], token))
    return "\n".join(out) + "\n"


# The fragment's parts, in order: (key, heading). A board's FDF takes each
# part into the volume its heading names (test/edk2 pastes them by key).
FDF_PARTS = (("dxe", "in the volume the DXE dispatcher reads (e.g. [FV.DXEFV])"),
             ("smm", "in the volume the SMM core dispatches SMM drivers from"),
             ("pictures", "the UI's pictures: any volume the DXE core publishes"),
             ("rules", "rules: beside the platform's"))


def fdf_file(m):
    """A FILE statement giving the same bytes as our .ffs: sections in our
    order, the build number kept (GenFds drops a rule's BUILD_NUM) and the
    data checksum computed (CheckSum sets FFS_ATTRIB_CHECKSUM, as ours do)."""
    folder = "%s/%s/%s" % (PACKAGE_NAME, m.name, m.name)
    return ["FILE %s = %s CheckSum {  # %s" % ("SMM" if m.file_type == "smm" else "DRIVER", m.guid, m.name),
            "  SECTION %s = %s.depex" % (m.depex_section_name, folder),
            "  SECTION PE32 = %s.efi" % folder,
            "  SECTION UI = \"%s\"" % m.name,
            "  SECTION BUILD_NUM = %d VERSION = \"%s\"" % (m.build, m.version),
            "}"]


# EDK II puts a module's DynamicEx PCDs into the platform's PCD database only
# when an INF statement places the module in the FDF (a FILE statement does
# not count), so the adapter that reads our PCDs, the bridge, is placed by
# its INF and this rule; GenFds then writes its VERSION section's build
# number as 0, which is the one byte its file differs from the package's .ffs.
PCD_RULE = "BOARDPCD"


def pcd_inf_statement(m):
    return ["INF RuleOverride = %s %s/%s/%s.inf" % (PCD_RULE, PACKAGE_NAME, m.name, m.name)]


def pcd_rule_lines():
    return ["[Rule.Common.DXE_DRIVER.%s]" % PCD_RULE,
            "  FILE DRIVER = $(NAMED_GUID) Checksum {",
            "    DXE_DEPEX DXE_DEPEX Optional |.depex",
            "    PE32      PE32                |.efi",
            "    UI        STRING=\"$(MODULE_NAME)\" Optional",
            "    VERSION   STRING=\"$(INF_VERSION)\" Optional BUILD_NUM=$(BUILD_NUMBER)",
            "  }"]


def fdf_text(modules, pictures, adapters=()):
    """FDF fragment: a FILE statement for each board adapter and each of the
    seven drivers, and the pictures. pictures is [(name, guid, [bmp file
    names])]; adapters come in fragment order, ahead of the drivers."""
    parts = {"dxe": [m for m in modules if m.file_type == "driver"],
             "smm": [m for m in modules if m.file_type == "smm"]}

    def adapter_lines(kind):
        lines = []
        for m in adapters:
            if m.file_type == kind:
                lines += ["# %s: %s" % (m.name, m.adapter)] + (pcd_inf_statement(m) if m.pcds else fdf_file(m))
        if lines:
            lines = ["# Board adapters, ahead of the drivers and in this order: leave out the lines",
                     "# of any that the board already provides."] + lines + ["# The drivers."]
        return lines
    out = ["## @file",
           "#  %s %s: FDF fragment placing the board adapters, the seven drivers and the UI's pictures." % (PRODUCT, modules[0].version),
           "#  Paste each part into the volume its heading names; list the INFs in the",
           "#  DSC's [Components.X64] as well. Each FILE statement gives the bytes of the",
           "#  package's ready .ffs file (checked with EDK II 2022.11's GenFds).",
           "#",
           "#  SPDX-License-Identifier: BSD-2-Clause-Patent",
           "##"]
    for key, heading in FDF_PARTS[:3]:
        out += ["", "# --- %s ---" % heading]
        if key == "pictures":
            for name, guid, bmps in pictures:
                out.append("FILE FREEFORM = %s CheckSum {  # %s" % (guid, name))
                out += ["  SECTION RAW = %s/Pictures/%s" % (PACKAGE_NAME, b) for b in bmps]
                out.append("}")
        else:
            out += adapter_lines("driver" if key == "dxe" else "smm")
            for m in parts[key]:
                out += fdf_file(m)
    if any(m.pcds for m in adapters):
        out += ["", "# --- %s ---" % dict(FDF_PARTS)["rules"]] + pcd_rule_lines()
    return "\n".join(out) + "\n"


def fdf_parts(text):
    """{key: lines} of a fragment fdf_text wrote, for pasting."""
    headings = {"# --- %s ---" % h: k for k, h in FDF_PARTS}
    parts, key = {}, None
    for line in text.splitlines():
        if line in headings:
            key = headings[line]
            parts[key] = []
        elif key:
            parts[key].append(line)
    return parts


# ---- Datasheets ----

def _table(header, rows):
    out = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    out += ["| " + " | ".join(str(c).replace("|", "\\|") for c in r) + " |" for r in rows]
    return out


def _hex(data):
    return " ".join("%02X" % b for b in data)


def datasheet(m):
    out = ["# %s" % m.name, "",
           "<!-- Written by tools/firmware/manifest.py from %s; edit the manifest, then run" % m.path,
           "     python3 -m tools.firmware manifest datasheets. -->", "",
           m.summary, ""]
    if m.adapter:
        out += ["Board adapter, " + m.adapter + ".", ""]
    out += _table(["", ""], [
        ["file GUID", "`%s`" % m.guid],
        ["module type", m.module_type],
        ["file type", "EFI_FV_FILETYPE_%s (0x%02X)" % ("DRIVER" if m.file_type == "driver" else "SMM",
                                                       fvpack.FILE_TYPES[m.file_type])],
        ["sections", "%s, PE32, UI \"%s\", VERSION %d \"%s\"" % (m.depex_section_name, m.name, m.build, m.version)],
        ["entry point", "`%s` (image handle, system table)" % m.entry],
        ["version", m.version],
    ])
    out += ["", "## What the board must supply", ""] + ["- " + x for x in board_supplies(m)]
    out += ["", "## Dependency expression", "",
            "Starts when: " + m.depex_words() + " - " + m.depex_why + ".", "",
            "%s bytes (%d): `%s`" % (m.depex_section_name, len(m.depex_bytes), _hex(m.depex_bytes)), ""]
    for title, items in (("Protocols", m.protocols), ("GUIDs", m.guids)):
        if not items:
            continue
        out += ["## %s" % title, ""]
        out += _table(["name", "GUID", "usage", "from", "purpose"],
                      [["`%s`" % i["name"], i["guid"].upper(), i["usage"],
                        # A GUID of ours is this package's; a protocol of ours that the driver
                        # consumes is the board's to install.
                        {"ours": "this package" if title == "GUIDs" or i["usage"].endswith("PRODUCES")
                         else "the board (declared in this package)"}
                        .get(i["package"], i["package"]) + (" via " + i["source"] if i["source"] else ""),
                        i["purpose"]] for i in items])
        out.append("")
    if m.pcds:
        out += ["## PCDs", "",
                "Read or written through the PCD protocol by token number: the board's PCD database must",
                "answer each token number below with the value described (in an EDK II build: the DynamicEx",
                "PCDs of %s.dec, which keep these numbers, with PcdBridgeDxe answering the token-number calls)." % PACKAGE_NAME, ""]
        out += _table(["token", "name", "type", "size", "usage", "the board must assign"],
                      [[p["token"], "`%s`" % pcd_cname(p), p["type"], p["size"], p["usage"],
                        p["purpose"] + (" (" + p["source"] + ")" if p["source"] else "")] for p in m.pcds])
        out.append("")
    if m.variables:
        out += ["## Variables", ""]
        for v in m.variables:
            out += ["### \"%s\" {%s}" % (v["name"], v["guid"].upper()), "",
                    "%s; %d bytes; attributes %s. When missing: %s." % (v["access"].capitalize(), v["size"],
                                                                      v["attributes"], v["missing"]), ""]
            out += _table(["offset", "size", "field", "meaning"],
                          [[l["offset"], l["size"], l["field"], l["meaning"]] for l in v["layout"]])
            out.append("")
    if m.smi:
        s = m.smi
        out += ["## Settings request (SMI message contract)", "",
                "Sent through the SMM communication protocol with header GUID `%s`; at least %s bytes;" % (s["guid"], s["min_size"]),
                s["buffer"] + ".", ""]
        out += _table(["offset", "size", "field", "meaning"], [[l["offset"], l["size"], l["field"], l["meaning"]] for l in s["layout"]])
        out += ["", "Handler statuses:", ""]
        out += _table(["status", "when"], s["statuses"])
        out += ["", "What the sender sees: " + s["sender"], "",
                "The record offsets read, their widths, tokens, auto values and gates are the %d rows of "
                "`%s`." % (token_facts.facts()["rows"], m.data["record_table"]), ""]
    if m.data.get("pictures"):
        out += ["## Picture files the board must carry", "",
                "Freeform firmware files in any volume the DXE core publishes; picture k of a file is its",
                "raw section k, a BMP. Without them the progress bar, its digits and the corner mark are not drawn.", ""]
        out += _table(["file GUID", "raw sections"], [[g, ", ".join(p)] for _, g, p in picture_table()])
        out.append("")
    # Further sections a module's manifest spells out, each a title and its points.
    for note in m.data.get("notes", []):
        out += ["## " + note["title"], ""] + ["- " + x for x in note["lines"]] + [""]
    out += ["## Hardware assumed", ""] + ["- " + h for h in m.hardware] + [""]
    out += ["## Memory kept", ""] + ["- " + x for x in m.memory] + [""]
    out += ["## Security", ""]
    for k, title in SECURITY.items():
        out += [title + ":", ""] + ["- " + x for x in m.security[k]] + [""]
    return "\n".join(out)


def board_supplies(m):
    """One line per thing the board's firmware must provide for this driver."""
    out = []
    for i in m.protocols:
        if i["usage"].endswith("PRODUCES"):
            continue
        need = "required" if i["usage"] == "CONSUMES" else "optional"
        who = "a board module" if i["package"] == "ours" else "the firmware (%s)" % i["package"]
        out.append("`%s` from %s, %s: %s" % (i["name"], who, need, i["purpose"]))
    if m.pcds and m.adapter:
        out.append("the DynamicEx PCDs %s of %s in the PCD database, with the board's values (see PCDs)"
                   % (", ".join(str(p["token"]) for p in m.pcds), TOKEN_SPACE[0]))
    elif m.pcds:
        out.append("PCD token number%s %s in the PCD database (see PCDs)"
                   % ("s" if len(m.pcds) > 1 else "", ", ".join(str(p["token"]) for p in m.pcds)))
    for v in m.variables:
        if v["access"] == "reads":
            out.append("variable \"%s\", written by Setup or another module (see Variables)" % v["name"])
    if m.data.get("pictures"):
        out.append("the UI's picture files (see below)")
    return out or ["nothing beyond the boot services"]


def write_datasheets(modules, folder, check=False):
    """Writes docs/drivers/<Name>.md; with check, returns the names that differ instead."""
    stale = []
    os.makedirs(folder, exist_ok=True)
    for m in modules:
        path = os.path.join(folder, m.name + ".md")
        text = datasheet(m)
        old = None
        if os.path.exists(path):
            with open(path) as fh:
                old = fh.read()
        if old != text:
            stale.append(m.name)
            if not check:
                with open(path, "w") as fh:
                    fh.write(text)
    return stale


def main(argv=None):
    import argparse
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("command", choices=["datasheets", "list"])
    ap.add_argument("--check", action="store_true", help="compare the datasheets instead of writing them")
    args = ap.parse_args(argv)
    try:
        modules = load() + load_adapters()
    except (ManifestError, KeyError, OSError) as e:
        print("manifest: %s" % e, file=sys.stderr)
        return 1
    if args.command == "list":
        for m in modules:
            print("%-18s %s %-6s %s  %s" % (m.name, m.guid, m.file_type, m.version, m.depex_names))
        return 0
    stale = write_datasheets(modules, os.path.join(ROOT, "docs", "drivers"), args.check)
    if args.check and stale:
        print("datasheets out of date: %s (run python3 -m tools.firmware manifest datasheets)" % " ".join(stale), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

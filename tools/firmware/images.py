# SPDX-License-Identifier: BSD-2-Clause-Patent
"""The product images (drivers and adapters) as their manifests describe them: sources, entry
and defines, with those of the libraries they link (drvlib's sources, and
its module-name define set to the image's name). The image build (make),
the host-test build (CMake), the bench and the manifest tools all take an
image's description from its manifest through this module.

    python3 -m tools.firmware images make            make variables: IMAGES, NAME_SRCS, NAME_ENTRY, ...
    python3 -m tools.firmware images cmake           CMake variables: NAME_SOURCES, NAME_DEFINES, NAME_ENTRY
    python3 -m tools.firmware images sources NAME    an image's sources, one a line
"""
import glob
import json
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# SMM images keep their sections page-aligned so that the SMM core can
# protect code and data pages separately.
LDFLAGS = {"smm": "/driver /align:4096"}


class Image:
    def __init__(self, data, libraries):
        self.name = data["name"]
        self.entry = data["entry"]
        self.file_type = data["file_type"]
        self.sources = list(data["sources"])
        self.defines = []
        for lib in data.get("links", []):
            ld = libraries[lib]
            self.sources += ld["sources"]
            if "name_define" in ld:
                self.defines.append('%s="%s"' % (ld["name_define"], self.name))
        self.defines += data.get("defines", [])
        self.ldflags = LDFLAGS.get(self.file_type, "")


def libraries(root=ROOT):
    out = {}
    for path in sorted(glob.glob(os.path.join(root, "*", "*.module.json"))):
        with open(path) as fh:
            data = json.load(fh)
        if "library" in data:
            out[os.path.basename(os.path.dirname(path))] = data
    return out


def images(root=ROOT):
    """Every driver image, by its manifest, in the manifests' folder order."""
    libs = libraries(root)
    out = []
    for path in sorted(glob.glob(os.path.join(root, "*", "*.module.json"))):
        with open(path) as fh:
            data = json.load(fh)
        if "library" not in data:
            out.append(Image(data, libs))
    return out


def shell_define(define):
    """-DNAME=VALUE for a compiler command line, a quoted VALUE kept in single quotes."""
    name, _, value = define.partition("=")
    return "-D%s='%s'" % (name, value) if '"' in value else "-D" + define


def make_text(root=ROOT):
    lines = ["# Written by tools/firmware/images.py from the drivers' manifests."]
    for i in images(root):
        lines += ["IMAGES += %s" % i.name,
                  "%s_SRCS := %s" % (i.name, " ".join(i.sources)),
                  "%s_ENTRY := %s" % (i.name, i.entry)]
        if i.defines:
            lines.append("%s_CXXFLAGS := %s" % (i.name, " ".join(shell_define(d) for d in i.defines)))
        if i.ldflags:
            lines.append("%s_LDFLAGS := %s" % (i.name, i.ldflags))
    return "\n".join(lines) + "\n"


def cmake_text(root=ROOT):
    lines = ["# Written by tools/firmware/images.py from the drivers' manifests."]
    for i in images(root):
        lines += ["set(%s_SOURCES %s)" % (i.name, " ".join("${CMAKE_SOURCE_DIR}/" + s for s in i.sources)),
                  "set(%s_DEFINES %s)" % (i.name, " ".join("[=[%s]=]" % d for d in i.defines)),
                  "set(%s_ENTRY %s)" % (i.name, i.entry)]
    for key, lib in libraries(root).items():
        lines.append("set(%s_SOURCES %s)" % (key.upper(), " ".join("${CMAKE_SOURCE_DIR}/" + s for s in lib["sources"])))
    return "\n".join(lines) + "\n"


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv == ["make"]:
        sys.stdout.write(make_text())
        return 0
    if argv == ["cmake"]:
        sys.stdout.write(cmake_text())
        return 0
    if len(argv) == 2 and argv[0] == "sources":
        for i in images():
            if i.name == argv[1]:
                print("\n".join(i.sources))
                return 0
        print("images: no image named %s" % argv[1], file=sys.stderr)
        return 1
    print(__doc__.strip(), file=sys.stderr)
    return 2

#!/usr/bin/env python3
"""Takes build/package/ into a real EDK II build, as the README tells a board
integrator, and checks what EDK II made of it:

  tree    Debian's EDK II source with BaseTools built (tools/edk2.sh)
  build   test/edk2's platform (the drivers' and adapters' INFs in its DSC,
          the FDF fragment's parts pasted into its DXE and SMM volumes) built
          by `build -a X64 -t GCC5 -b RELEASE`: no error, no warning
  names   each INF's protocols, GUIDs and PCDs resolve, in the DECs of its
          [Packages], to the manifest's values, in the package the manifest
          names, and the image carries each GUID
  files   each of our firmware files (drivers, adapters and pictures), as
          UEFIExtract reads it from EDK II's volumes, equals ours: header fields, every
          section, every byte

    python3 -m tools.firmware edk2-check --build build

Prints one line per case and "edk2: N passed, M failed"; exits 1 on a failure.
The workspace is build/edk2/ws/ (made anew each run), the build's log
build/edk2/build.log.
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from tools.firmware import ffsread
from tools.firmware import fvpack
from tools.firmware import manifest
from tools.firmware import uefiextract_check

ROOT = manifest.ROOT
PLATFORM = "BoardDriversTestPkg"
DSC = PLATFORM + "/BoardDriversTest.dsc"
PASTE = re.compile(r"^#paste (\w+)\s*$")
# The DEC each manifest "package" value stands for.
PACKAGE_DECS = {"MdePkg": "MdePkg/MdePkg.dec", "MdeModulePkg": "MdeModulePkg/MdeModulePkg.dec",
                "ours": "%s/%s.dec" % (manifest.PACKAGE_NAME, manifest.PACKAGE_NAME)}


def sections_of(text):
    """{section name without arch: [entry lines]} of an INF or DEC; comments
    dropped, "[A, B.X64]" filed under both A and B."""
    out, current = {}, []
    for line in text.splitlines():
        line = line.split("#", 1)[0].strip()
        if line.startswith("[") and line.endswith("]"):
            current = []
            for name in line[1:-1].split(","):
                out.setdefault(name.strip().split(".")[0], []).append(current)
        elif line:
            current.append(line)
    return {k: [l for part in v for l in part] for k, v in out.items()}


def guid_text(struct):
    """"XXXXXXXX-XXXX-..." from a DEC's C-style GUID initializer."""
    n = [int(x, 16) for x in re.findall(r"0[xX]([0-9A-Fa-f]+)", struct)]
    if len(n) != 11:
        raise ValueError("not a GUID: %s" % struct)
    return "%08X-%04X-%04X-%02X%02X-%s" % (n[0], n[1], n[2], n[3], n[4], "".join("%02X" % b for b in n[5:]))


def read_dec(path):
    """{"Guids"|"Protocols": {name: GUID}, "Pcds": {token space.name: (type, token)}} of a DEC."""
    with open(path) as fh:
        secs = sections_of(fh.read())
    out = {"Guids": {}, "Protocols": {}, "Pcds": {}}
    for kind in ("Guids", "Protocols", "Ppis"):
        for line in secs.get(kind, []):
            name, sep, value = line.partition("=")
            if sep and kind in out:
                out[kind][name.strip()] = guid_text(value)
    for kind, lines in secs.items():
        if kind.startswith("Pcds"):
            for line in lines:
                f = [x.strip() for x in line.split("|")]
                if len(f) >= 4:
                    out["Pcds"][f[0]] = (f[-2], int(f[-1], 0))
    return out


def check_names(driver, inf_text, decs, image):
    """Faults in one INF's names: each must resolve in its [Packages]' DECs
    (decs maps a DEC path as the INF writes it to read_dec's result) to the
    value the manifest gives, in the package it names, and the image must
    carry the GUID."""
    secs = sections_of(inf_text)
    listed = secs.get("Packages", [])
    faults = []
    wanted = {i["name"]: i for i in driver.protocols + driver.guids}
    for kind in ("Protocols", "Guids"):
        for line in secs.get(kind, []):
            name = line.split()[0]
            hits = [(dec, decs[dec][kind][name]) for dec in listed if name in decs.get(dec, {}).get(kind, {})]
            item = wanted.get(name)
            if item is None:
                faults.append("%s %s is not in the manifest" % (kind, name))
            elif len(hits) != 1:
                faults.append("%s %s declared %d times in %s" % (kind, name, len(hits), ", ".join(listed)))
            elif hits[0][1] != item["guid"].upper():
                faults.append("%s is %s in %s, the manifest says %s" % (name, hits[0][1], hits[0][0], item["guid"].upper()))
            elif hits[0][0] != PACKAGE_DECS.get(item["package"]):
                faults.append("%s is declared in %s, the manifest says %s" % (name, hits[0][0], item["package"]))
    tokens = {manifest.pcd_cname(p): p for p in driver.pcds}
    for line in secs.get("Pcd", []):
        name = line.split()[0]
        hits = [decs[dec]["Pcds"][name] for dec in listed if name in decs.get(dec, {}).get("Pcds", {})]
        p = tokens.get(name)
        if p is None or len(hits) != 1:
            faults.append("PCD %s: %s" % (name, "not in the manifest" if p is None else "declared %d times" % len(hits)))
        elif hits[0] != (p["type"], p["token"]):
            faults.append("PCD %s is %s token %d, the manifest says %s token %d" % (name, hits[0][0], hits[0][1],
                                                                                  p["type"], p["token"]))
    faults += ["the image does not carry %s" % n for n in driver.missing_from_image(image)]
    return faults


def explain(ours, theirs):
    """What differs between our file and EDK II's, field by field and section
    by section, each with its known cause where there is one."""
    (f1, _, s1), (f2, _, s2) = ours, theirs
    out = []
    for key in uefiextract_check.FILE_FIELDS:
        if f1[key] != f2[key]:
            why = ""
            if key == "Attributes" and {f1[key], f2[key]} == {"40h", "00h"}:
                why = " (FFS_ATTRIB_CHECKSUM: the FILE statement lacks CheckSum)"
            elif key == "Header checksum" and f1["Attributes"] != f2["Attributes"]:
                why = " (follows the attributes and data checksum)"
            elif key == "Data checksum" and f2[key].startswith("AAh"):
                why = " (0xAA: no data checksum, the FILE statement lacks CheckSum)"
            out.append("%s ours %s, EDK II %s%s" % (key.lower(), f1[key], f2[key], why))
    if [s[0] for s in s1] != [s[0] for s in s2]:
        out.append("sections ours %s, EDK II %s" % ([s[0] for s in s1], [s[0] for s in s2]))
    else:
        for i, (a, b) in enumerate(zip(s1, s2)):
            if a != b:
                why = " (build number %d, ours %d)" % tuple(
                    int.from_bytes(x[2][:2], "little") for x in (b, a)) if a[0] == "Version" and a[2][2:] == b[2][2:] else ""
                out.append("section %d (%s) differs%s" % (i, a[0], why))
    return out or ["bytes differ outside the fields and sections UEFIExtract shows"]


def only_build_number_dropped(ours, theirs):
    """Whether EDK II's file is ours but for a VERSION build number of 0 (and
    the data checksum that follows): what GenFds writes through a rule."""
    (f1, _, s1), (f2, _, s2) = ours, theirs
    if any(f1[k] != f2[k] for k in uefiextract_check.FILE_FIELDS if k != "Data checksum"):
        return False
    if [s[0] for s in s1] != [s[0] for s in s2]:
        return False
    for a, b in zip(s1, s2):
        if a == b:
            continue
        # A VERSION section: 4-byte header, then the 16-bit build number.
        if a[0] != "Version" or a[2] != b[2] or a[1][:4] != b[1][:4] or a[1][6:] != b[1][6:] or b[1][4:6] != b"\0\0":
            return False
    return True


def paste_fdf(template, fragment):
    """The platform's FDF with the fragment's parts in place of its #paste lines."""
    parts = manifest.fdf_parts(fragment)
    out = []
    for line in template.splitlines():
        m = PASTE.match(line)
        if m and m.group(1) not in parts:
            raise ValueError("the fragment has no part %r" % m.group(1))
        out += parts[m.group(1)] if m else [line]
    return "\n".join(out) + "\n"


class Run:
    def __init__(self):
        self.passed = self.failed = 0

    def case(self, name, faults, note=""):
        if faults:
            self.failed += 1
            print("FAIL %s: %s" % (name, "; ".join(faults)))
        else:
            self.passed += 1
            print("ok   %s%s" % (name, ": " + note if note else ""))
        sys.stdout.flush()


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build")
    args = ap.parse_args(argv)
    build = os.path.abspath(args.build)
    package = os.path.join(build, "package")
    edk2 = os.path.join(build, "edk2")
    run = Run()
    try:
        drivers = manifest.load() + manifest.load_adapters()
    except (manifest.ManifestError, OSError) as e:
        run.case("manifests", [str(e)])
        drivers = []
    os.makedirs(edk2, exist_ok=True)

    # tree
    t = time.time()
    env = dict(os.environ, BUILD=build)
    with open(os.path.join(edk2, "tree.log"), "w") as log:
        r = subprocess.run(["bash", os.path.join(ROOT, "tools", "edk2.sh")], env=env, stdout=subprocess.PIPE,
                           stderr=log, text=True)
    with open(os.path.join(edk2, "tree.log")) as fh:
        built = re.findall(r"BaseTools built in (\d+) s", fh.read())
    tree = r.stdout.strip().splitlines()[-1] if r.returncode == 0 and r.stdout.strip() else ""
    run.case("tree", [] if tree else ["tools/edk2.sh failed (see %s/tree.log)" % edk2],
             "%s, BaseTools %s (%.0f s)" % (tree, "built in %s s" % built[0] if built else "reused", time.time() - t))
    if not tree or not drivers or not os.path.isdir(package):
        if not os.path.isdir(package):
            run.case("package", ["%s is missing (make package)" % package])
        print("edk2: %d passed, %d failed" % (run.passed, run.failed))
        return 1

    # build: a workspace as the README has it, then EDK II's build.
    ws = os.path.join(edk2, "ws")
    shutil.rmtree(ws, ignore_errors=True)
    shutil.copytree(package, os.path.join(ws, manifest.PACKAGE_NAME))
    os.makedirs(os.path.join(ws, PLATFORM))
    for path in glob.glob(os.path.join(ROOT, "test", "edk2", "*.dsc")):
        shutil.copy(path, os.path.join(ws, PLATFORM))
    faults = []
    try:
        with open(os.path.join(ROOT, "test", "edk2", "BoardDriversTest.fdf")) as fh, \
                open(os.path.join(package, manifest.PACKAGE_NAME + ".fdf.inc")) as frag, \
                open(os.path.join(ws, PLATFORM, "BoardDriversTest.fdf"), "w") as out:
            out.write(paste_fdf(fh.read(), frag.read()))
    except (OSError, ValueError) as e:
        faults.append(str(e))
    t = time.time()
    log_path = os.path.join(edk2, "build.log")
    if not faults:
        script = ('. "$1/tools/edk2.sh" >/dev/null && edk2_env "$2" && '
                  'build -p %s -a X64 -t GCC5 -b RELEASE -n %d' % (DSC, os.cpu_count() or 1))
        with open(log_path, "w") as log:
            r = subprocess.run(["bash", "-c", script, "edk2", ROOT, ws], env=env, cwd=ws, stdout=log,
                               stderr=subprocess.STDOUT)
        with open(log_path, errors="replace") as fh:
            text = fh.read()
        if r.returncode != 0:
            faults.append("build exited %d: %s" % (r.returncode, " | ".join(
                l.strip() for l in text.splitlines() if re.search(r"error|Error", l))[:600]))
        faults += ["build warns: " + l.strip() for l in text.splitlines() if re.search(r"\bwarning\b", l, re.I)][:5]
    run.case("build", faults, "%s with EDK II's build and GenFds (%.1f s)" % (DSC, time.time() - t))
    fv_dir = os.path.join(ws, "Build", "BoardDriversTest", "RELEASE_GCC5", "FV")

    # names
    decs = {}
    for listed in PACKAGE_DECS.values():
        for base in (ws, tree):
            if os.path.exists(os.path.join(base, listed)):
                decs[listed] = read_dec(os.path.join(base, listed))
                break
    for d in drivers:
        try:
            with open(os.path.join(package, d.name, d.name + ".inf")) as fh, \
                    open(os.path.join(package, d.name, d.name + ".efi"), "rb") as img:
                faults = check_names(d, fh.read(), decs, img.read())
        except (OSError, ValueError) as e:
            faults = [str(e)]
        run.case("names %s" % d.name, faults, "%d protocols, %d GUIDs, %d PCDs resolve to the manifest's values"
                 % (len(d.protocols), len(d.guids), len(d.pcds)))

    # files
    theirs = {}
    with tempfile.TemporaryDirectory() as work:
        for fv in sorted(glob.glob(os.path.join(fv_dir, "*.Fv"))):
            with open(fv, "rb") as fh:
                data = fh.read()
            os.makedirs(os.path.join(work, os.path.basename(fv)))
            try:
                for guid, record in uefiextract_check.read_files(data, os.path.join(work, os.path.basename(fv))).items():
                    theirs[guid] = record + (os.path.basename(fv),)
            except OSError as e:
                run.case("read %s" % os.path.basename(fv), [str(e)])
        by_rule = {d.name for d in drivers if d.adapter and d.pcds}
        ours = [os.path.join(build, "ffs", d.name + ".ffs") for d in drivers]
        ours += [os.path.join(build, "fv", "pictures", name + ".ffs") for name, _, _ in manifest.picture_table()]
        for path in ours:
            name = os.path.basename(path)
            try:
                with open(path, "rb") as fh:
                    data = fh.read()
                guid = ffsread.read_file(data)[0].name
                wrapped = fvpack.volume([data])
                os.makedirs(os.path.join(work, name))
                mine = uefiextract_check.read_files(wrapped, os.path.join(work, name))[guid]
            except (OSError, ffsread.Fault, KeyError) as e:
                run.case("file %s" % name, [str(e)])
                continue
            other = theirs.get(guid)
            if other is None:
                run.case("file %s" % name, ["EDK II's volumes hold no file %s" % guid])
            elif other[1] != data and name[:-4] in by_rule and only_build_number_dropped(mine, other[:3]):
                # The fragment places this one by its INF statement and a rule, so
                # that EDK II puts its DynamicEx PCDs into the PCD database.
                run.case("file %s" % name, [], "VERSION build number 0 (placed by its INF statement and rule)")
            elif other[1] != data:
                run.case("file %s" % name, explain(mine, other[:3]))
            else:
                run.case("file %s" % name, [], "identical in %s (%d bytes, %d sections, attributes %s)"
                         % (other[3], len(data), len(other[2]), other[0]["Attributes"]))
    print("edk2: %d passed, %d failed" % (run.passed, run.failed))
    return 1 if run.failed else 0


if __name__ == "__main__":
    sys.exit(main())

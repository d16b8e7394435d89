# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Tests of the driver packaging: every firmware file and the drivers volume
are read back with the separate reader (ffsread.py) and judged by what a DXE
or SMM dispatcher would do with them: which files it sees, which image it
loads, and when each dependency expression lets the driver start."""
import io
import json
import os
import shutil
import struct
import tempfile
import unittest

from tools.firmware import edk2_check
from tools.firmware import ffsread
from tools.firmware import uefiextract_check
from tools.firmware import manifest
from tools.firmware import package
from tools.firmware import fvpack

VARIABLE_ARCH = "1E5668E2-8481-11D4-BCF1-0080C73C8881"
METRONOME = "26BACCB2-6F42-11D4-BCE7-0080C73C8881"
PCD = "11B34006-D85B-4D0A-A290-D5A571310EF7"
PI_PCD = "13A3F0F6-264A-3EF0-F2E0-DEC512342F34"
SMM_BASE2 = "F4CCBFB7-F6E0-47FD-9DD4-10A8F150C191"
BUFFER_CHECK = "DA473D7F-4B31-4D63-92B7-3D905EF84B84"
EVERYTHING = {VARIABLE_ARCH, METRONOME, PCD, PI_PCD, SMM_BASE2, BUFFER_CHECK}
DXE_NAMES = ["TarvexUIV4x64", "NetIdentityDxe", "BootDelayDxe", "PstateOverrideDxe", "PcdCacheDxe", "PcdCacheLiteDxe"]


def fake_image(name):
    # Distinct contents of odd lengths, so a swapped, cut or padded image shows;
    # it carries the GUIDs its manifest says the code uses, as a real one does.
    seed = sum(name.encode())
    driver = next(d for d in package.DRIVERS + package.ADAPTERS if d.name == name)
    guids = b"".join(fvpack.guid_bytes(g) for _, g in driver.image_guids())
    return b"MZ" + bytes((seed + i * 7) & 0xFF for i in range(1000 + 37 * len(name))) + guids


class PackagedBuild(unittest.TestCase):
    """Packages fake images through the real entry point, once."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        build = cls.tmp.name
        os.makedirs(os.path.join(build, "efi"))
        cls.images = {}
        for d in package.DRIVERS + package.ADAPTERS:
            cls.images[d.name] = fake_image(d.name)
            with open(os.path.join(build, "efi", d.name + ".efi"), "wb") as fh:
                fh.write(cls.images[d.name])
        cls.written = package.package(build, out=io.StringIO())
        cls.files = {}
        for d in package.DRIVERS:
            with open(os.path.join(build, "ffs", d.name + ".ffs"), "rb") as fh:
                data = fh.read()
            f, size = ffsread.read_file(data)
            assert size == len(data)
            cls.files[d.name] = f
        with open(os.path.join(build, "fv", "drivers.fv"), "rb") as fh:
            cls.volume_bytes = fh.read()

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def test_each_file_holds_depex_image_name_and_version_in_order(self):
        for name, f in self.files.items():
            with self.subTest(name=name):
                depex = 0x1C if name == "SetupTokenSmm" else 0x13
                self.assertEqual([s.kind for s in f.sections], [depex, 0x10, 0x15, 0x14])
                self.assertEqual(f.section(0x10).body, self.images[name], "the PE32 section is the image, unchanged")
                self.assertEqual(f.section(0x15).text(), name)
                self.assertTrue(f.section(0x14).text())

    def test_file_types_and_names(self):
        for d in package.DRIVERS:
            with self.subTest(name=d.name):
                self.assertEqual(self.files[d.name].kind, 0x0A if d.name == "SetupTokenSmm" else 0x07)
                self.assertEqual(self.files[d.name].name, d.guid)
        self.assertEqual(len({d.guid for d in package.DRIVERS}), 7, "file names are unique")
        # One product version in every file: the text and its nibble-coded build number.
        version, build = manifest.product_version()
        for f in self.files.values():
            self.assertEqual((f.section(0x14).text(), f.section(0x14).build_number()), (version, build))
        self.assertEqual("%x" % build, version.replace(".", ""))

    def test_dependency_expressions_hold_back_what_the_entry_needs(self):
        def may_start(name, installed):
            f = self.files[name]
            kind = 0x1C if name == "SetupTokenSmm" else 0x13
            return ffsread.evaluate_depex(f.section(kind).body, installed)

        # Everything present: every driver starts.
        for name in self.files:
            self.assertTrue(may_start(name, EVERYTHING), name)
        # The UI needs nothing beyond boot services.
        self.assertTrue(may_start("TarvexUIV4x64", set()))
        # The library's drivers wait for both PCD protocols.
        for name in ("NetIdentityDxe", "BootDelayDxe", "PstateOverrideDxe", "PcdCacheDxe", "PcdCacheLiteDxe"):
            for missing in (PCD, PI_PCD):
                self.assertFalse(may_start(name, EVERYTHING - {missing}), "%s without %s" % (name, missing))
        # Those that read a variable at their entry wait for the variable services; the others do not.
        for name in ("BootDelayDxe", "PstateOverrideDxe"):
            self.assertFalse(may_start(name, EVERYTHING - {VARIABLE_ARCH}), name)
        for name in ("NetIdentityDxe", "PcdCacheDxe", "PcdCacheLiteDxe"):
            self.assertTrue(may_start(name, EVERYTHING - {VARIABLE_ARCH}), name)
        # The boot delay's waits need the metronome behind Stall.
        self.assertFalse(may_start("BootDelayDxe", EVERYTHING - {METRONOME}))
        for missing in (SMM_BASE2, PCD, BUFFER_CHECK):
            self.assertFalse(may_start("SetupTokenSmm", EVERYTHING - {missing}), missing)

    def test_reader_prints_expressions_with_operators_and_names(self):
        f = self.files["BootDelayDxe"]
        self.assertEqual(ffsread.depex_text(f.section(0x13).body),
                         "((gEfiVariableArchProtocolGuid AND gEfiMetronomeArchProtocolGuid) AND gPcdProtocolGuid) AND gEfiPcdProtocolGuid")
        self.assertEqual(ffsread.depex_text(self.files["TarvexUIV4x64"].section(0x13).body), "TRUE")
        other = "01234567-89AB-CDEF-0123-456789ABCDEF"
        code = fvpack.compile_depex("SOR NOT %s OR (%s AND TRUE)" % (PCD, other))
        self.assertEqual(ffsread.depex_text(code), "SOR NOT gPcdProtocolGuid OR (%s AND TRUE)" % other)
        for bad in (code[:-1], bytes([0x03, 0x08]), bytes([0x02]) + bytes(8)):
            with self.assertRaises(ffsread.Fault):
                ffsread.depex_text(bad)

    def test_volume_holds_the_six_dxe_files_as_a_dxe_core_reads_them(self):
        files = ffsread.read_volume(self.volume_bytes)
        by_name = {f.section(0x15).text(): f for f in files}
        self.assertEqual(sorted(by_name), sorted(DXE_NAMES))
        for name, f in by_name.items():
            self.assertEqual(f.section(0x10).body, self.images[name])
        self.assertEqual(len(self.volume_bytes) % 0x1000, 0)
        attributes = struct.unpack_from("<I", self.volume_bytes, 44)[0]
        self.assertTrue(attributes & 0x800, "erase polarity 1, as flash erases to ones")
        self.assertTrue(attributes & 0x400, "memory mapped")

    def test_files_in_the_volume_are_the_standalone_files(self):
        # A board integrator may take either; they must not differ.
        for name in DXE_NAMES:
            with open(os.path.join(self.tmp.name, "ffs", name + ".ffs"), "rb") as fh:
                self.assertIn(fh.read(), self.volume_bytes, name)

    def test_written_paths(self):
        names = sorted(os.path.basename(p) for p in self.written if "/package/" not in p)
        self.assertEqual(names, sorted([d.name + ".ffs" for d in package.DRIVERS + package.ADAPTERS] + ["drivers.fv"]))
        leftovers = [n for n in os.listdir(os.path.join(self.tmp.name, "ffs")) if n.endswith(".part")]
        self.assertEqual(leftovers, [])


class ReaderCatchesDamage(unittest.TestCase):
    """The reader is the check of the packing, so it must see damage."""

    def setUp(self):
        files = [(d, package.firmware_file(d, fake_image(d.name))) for d in package.DRIVERS]
        self.volume = bytearray(package.drivers_volume(files))
        self.first = (struct.unpack_from("<H", self.volume, 48)[0] + 7) & ~7

    def assertFault(self, data, text):
        with self.assertRaises(ffsread.Fault) as cm:
            ffsread.read_volume(bytes(data))
        self.assertIn(text, str(cm.exception))

    def test_intact_volume_reads(self):
        self.assertEqual(len(ffsread.read_volume(bytes(self.volume))), 6)

    def test_flipped_image_byte_breaks_the_data_checksum(self):
        self.volume[self.first + 200] ^= 0x01
        self.assertFault(self.volume, "data checksum")

    def test_flipped_header_byte_breaks_the_header_checksum(self):
        self.volume[self.first + 3] ^= 0x10
        self.assertFault(self.volume, "header checksum")

    def test_volume_header_checksum(self):
        self.volume[33] ^= 0x01  # the length field
        self.assertFault(self.volume, "")

    def test_a_deleted_file_is_not_valid(self):
        self.volume[self.first + 23] &= ~0x10 & 0xFF  # polarity 1: clearing the bit sets "deleted"
        self.assertFault(self.volume, "state")

    def test_bytes_in_the_free_space(self):
        self.volume[-5] = 0x00
        self.assertFault(self.volume, "free space")

    def test_depex_evaluation_refuses_malformed_streams(self):
        for code in (b"", b"\x03\x08", b"\x06", b"\x06\x06\x08", b"\x02" + bytes(8), b"\x06\x09\x08", b"\x0F\x08"):
            with self.subTest(code=code):
                self.assertRaises(ffsread.Fault, ffsread.evaluate_depex, code, EVERYTHING)


if __name__ == "__main__":
    unittest.main()


def read_inf(text):
    """{section: [lines]} of an INF or DEC, comments dropped."""
    out, current = {}, None
    for line in text.splitlines():
        line = line.split("#")[0].strip()
        if line.startswith("["):
            current = out.setdefault(line.strip("[]"), [])
        elif line and current is not None:
            current.append(line)
    return out


class BinaryModulesMatchTheManifests(unittest.TestCase):
    """What a board integrator is given (INF, DEC, FDF, .depex, FFS, datasheet)
    says what the manifest says, and the packer refuses an image that lacks
    a GUID its manifest says the code uses."""
    setUpClass = classmethod(PackagedBuild.setUpClass.__func__)
    tearDownClass = classmethod(PackagedBuild.tearDownClass.__func__)

    def package_file(self, *parts):
        with open(os.path.join(self.tmp.name, "package", *parts), "rb") as fh:
            return fh.read()

    def test_inf_ffs_and_depex_agree_with_the_manifest(self):
        dec = read_inf(self.package_file(manifest.PACKAGE_NAME + ".dec").decode())
        declared = dict(line.split(" = ") for line in dec["Guids"] + dec["Protocols"])
        fdf = self.package_file(manifest.PACKAGE_NAME + ".fdf.inc").decode()
        version, build = manifest.product_version()
        for d in package.DRIVERS + package.ADAPTERS:
            with self.subTest(name=d.name):
                inf = read_inf(self.package_file(d.name, d.name + ".inf").decode())
                defines = dict(l.split("=", 1) for l in inf["Defines"])
                defines = {k.strip(): v.strip() for k, v in defines.items()}
                self.assertEqual((defines["FILE_GUID"], defines["MODULE_TYPE"], defines["VERSION_STRING"]),
                                 (d.guid, d.module_type, version))
                depex_kind = "SMM_DEPEX" if d.file_type == "smm" else "DXE_DEPEX"
                self.assertEqual(inf["Binaries.X64"], ["UI|%s.ui|*" % d.name, "VER|%s.ver|*" % d.name,
                                                      "PE32|%s.efi|*" % d.name, "%s|%s.depex|*" % (depex_kind, d.name)])
                self.assertEqual(inf.get("Protocols", []), [p["name"] for p in d.protocols])
                self.assertEqual(inf.get("Guids", []), [g["name"] for g in d.guids])
                self.assertEqual(inf.get("Pcd", []), ["%s.%s" % (manifest.TOKEN_SPACE[0], p["name"]) for p in d.pcds])
                # Every GUID the INF names and the standard packages lack is declared, with the manifest's value.
                for item in d.protocols + d.guids:
                    if item["package"] == "ours":
                        self.assertEqual(declared[item["name"]], manifest.guid_struct(item["guid"].upper()))
                # The .depex file, the FFS's dependency section and the manifest's expression are the same bytes.
                f, _ = ffsread.read_file(self.package_file(d.name, d.name + ".ffs"))
                depex = self.package_file(d.name, d.name + ".depex")
                self.assertEqual(f.section(0x1C if d.file_type == "smm" else 0x13).body, depex)
                self.assertEqual(ffsread.depex_guids(depex), [d.guid_of(t) for t in d.depex_names.split() if t.startswith("g")])
                self.assertEqual((f.name, f.kind), (d.guid, 0x0A if d.file_type == "smm" else 0x07))
                self.assertEqual(f.section(0x10).body, self.package_file(d.name, d.name + ".efi"))
                self.assertEqual(ffsread.read_sections(self.package_file(d.name, d.name + ".ver"))[0].text(), version)
                # The fragment's FILE statement: the file type, the GUID, and our files in our section order.
                folder = "%s/%s/%s" % (manifest.PACKAGE_NAME, d.name, d.name)
                if d in package.ADAPTERS and d.pcds:  # placed by its INF, so its PCDs reach the database
                    self.assertIn(manifest.pcd_inf_statement(d)[0], manifest.fdf_parts(fdf)["dxe"])
                    self.assertIn("[Rule.Common.DXE_DRIVER.%s]" % manifest.PCD_RULE, manifest.fdf_parts(fdf)["rules"])
                    continue
                self.assertIn("FILE %s = %s CheckSum {  # %s\n  SECTION %s = %s.depex\n  SECTION PE32 = %s.efi\n"
                              "  SECTION UI = \"%s\"\n  SECTION BUILD_NUM = %d VERSION = \"%s\"\n}\n"
                              % ("SMM" if d.file_type == "smm" else "DRIVER", d.guid, d.name, depex_kind, folder,
                                 folder, d.name, build, version), fdf)
                part = "smm" if d.file_type == "smm" else "dxe"
                self.assertIn("FILE %s = %s CheckSum {  # %s" % ("SMM" if part == "smm" else "DRIVER", d.guid, d.name),
                              manifest.fdf_parts(fdf)[part])

    def test_the_pcd_bridge_is_queued_ahead_of_every_driver_that_reads_pcds(self):
        # The DXE dispatcher queues files whose expressions hold in volume order:
        # a bridge whose expression is implied by each driver's, placed ahead
        # of them all, runs first whenever any of them could.
        bridge = next(d for d in package.ADAPTERS if d.name == "PcdBridgeDxe")
        fdf = self.package_file(manifest.PACKAGE_NAME + ".fdf.inc").decode()
        lines = [l for l in fdf.splitlines() if l.startswith("FILE DRIVER ") or l.startswith("INF ")]
        at = {(l.rsplit("# ", 1)[1] if l.startswith("FILE") else l.rsplit("/", 1)[1][:-4]): i for i, l in enumerate(lines)}
        bridge_depex = ffsread.depex_guids(bridge.depex_bytes)
        users = [d for d in package.DRIVERS if d.file_type == "driver" and PCD in ffsread.depex_guids(d.depex_bytes)]
        self.assertEqual(len(users), 5)
        for d in users:
            with self.subTest(name=d.name):
                self.assertLess(at["PcdBridgeDxe"], at[d.name])
                self.assertTrue(set(bridge_depex) <= set(ffsread.depex_guids(d.depex_bytes)))
        # It answers exactly the numbers the drivers use, in the DEC as DynamicEx PCDs.
        used = {p["token"] for d in package.DRIVERS for p in d.pcds}
        self.assertEqual({p["token"] for p in bridge.pcds}, used)
        with open(os.path.join(manifest.ROOT, "adapters", "pcd_bridge.cpp")) as fh:
            source = fh.read()
        table = source.split("BridgedTokens[] = {", 1)[1].split("}", 1)[0]
        self.assertEqual([int(t) for t in table.split(",")], sorted(used))
        dec = read_inf(self.package_file(manifest.PACKAGE_NAME + ".dec").decode())
        self.assertEqual(sorted(int(l.split("|")[3], 16) for l in dec["PcdsDynamicEx"]), sorted(used))

    def test_packer_refuses_an_image_without_a_listed_guid(self):
        d = next(d for d in package.DRIVERS if d.name == "SetupTokenSmm")
        image = fake_image(d.name).replace(fvpack.guid_bytes(d.guid_of("gSmmBufferCheckProtocolGuid")), b"\0" * 16)
        self.assertEqual(d.missing_from_image(image), ["gSmmBufferCheckProtocolGuid"])
        self.assertEqual(d.missing_from_image(fake_image(d.name)), [])

    def test_each_source_of_a_driver_folder_is_in_one_image_described_by_its_manifest(self):
        from tools.firmware import images
        listed = {}
        for i in images.images():
            self.assertTrue(i.sources, i.name)
            for src in i.sources:
                self.assertTrue(os.path.exists(os.path.join(manifest.ROOT, src)), "%s: %s" % (i.name, src))
                listed.setdefault(src, set()).add(i.name)
        for m in manifest.load():
            folder = os.path.dirname(m.path)
            for name in os.listdir(os.path.join(manifest.ROOT, folder)):
                if name.endswith(".cpp"):
                    self.assertIn(folder + "/" + name, listed, "a source no manifest builds")

    def test_datasheets_are_current_and_name_what_the_board_supplies(self):
        modules = package.DRIVERS + package.ADAPTERS
        self.assertEqual(manifest.write_datasheets(modules, os.path.join(manifest.ROOT, "docs", "drivers"), check=True), [])
        for d in modules:
            with open(os.path.join(manifest.ROOT, "docs", "drivers", d.name + ".md")) as fh:
                text = fh.read()
            for item in d.protocols + d.guids:
                self.assertIn(item["guid"].upper(), text)
            for p in d.pcds:
                self.assertIn("| %d |" % p["token"], text)
            for v in d.variables:
                self.assertIn('"%s"' % v["name"], text)
            self.assertIn(" ".join("%02X" % b for b in d.depex_bytes), text)
            self.assertIn("## Security", text)

    def test_a_manifest_without_a_full_security_section_is_refused(self):
        d = next(d for d in package.DRIVERS if d.name == "BootDelayDxe")
        with open(os.path.join(manifest.ROOT, "drvlib", "drvlib.module.json")) as fh:
            library = json.load(fh)
        library.pop("security")  # nothing of the library's to fill the gaps
        data = {k: v for k, v in d.data.items() if k != "security"}
        manifest.Module(os.path.join(manifest.ROOT, d.path), dict(data, security=d.data["security"]), {"drvlib": library})
        for security in (None, {"trusts": ["x"], "unchecked": ["y"]}):
            with self.subTest(security=security), self.assertRaisesRegex(manifest.ManifestError, "security"):
                manifest.Module(os.path.join(manifest.ROOT, d.path), dict(data, security=security) if security else data,
                                {"drvlib": library})


@unittest.skipIf(shutil.which("UEFIExtract") is None, "UEFIExtract (uefitool-cli) is not installed")
class UefiExtractSeesDamage(unittest.TestCase):
    """The independent reader's verdict is what make test counts, so it must
    tell a good volume from a damaged one by itself."""

    def test_checksums_as_uefiextract_reads_them(self):
        f = fvpack.ffs_file("99D82239-6836-4747-A522-20F71CCEAA01", "freeform", [fvpack.raw_section(b"payload")])
        good = fvpack.volume([f])
        cases = [(None, ""), (good.find(b"payload"), "data checksum"), (0x48 + 16, "header checksum"), (50, "volume checksum")]
        for at, problem in cases:
            data = bytearray(good)
            if at is not None:
                data[at] ^= 1
            with self.subTest(problem=problem or "intact"), tempfile.TemporaryDirectory() as work:
                problems, files = uefiextract_check.check_volume(bytes(data), work)
                if problem:
                    self.assertTrue(any(problem in p for p in problems), problems)
                else:
                    self.assertEqual((problems, files), ([], ["99D82239-6836-4747-A522-20F71CCEAA01"]))


class Edk2NameCheckSeesMismatches(unittest.TestCase):
    """The edk2 stage's name check must refuse each way an INF name can fail
    to mean, in EDK II's DECs, what the image uses."""

    def setUp(self):
        self.d = next(d for d in package.DRIVERS if d.name == "SetupTokenSmm")
        self.image = fake_image(self.d.name)
        self.inf = manifest.inf_text(self.d)
        # The standard DECs as the manifest says they declare these names; ours as the packer writes it.
        self.decs = {}
        for key, dec in edk2_check.PACKAGE_DECS.items():
            self.decs[dec] = {"Guids": {}, "Protocols": {}, "Pcds": {}}
            for kind, items in (("Protocols", self.d.protocols), ("Guids", self.d.guids)):
                self.decs[dec][kind].update({i["name"]: i["guid"].upper() for i in items if i["package"] == key})
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "ours.dec")
            with open(path, "w") as fh:
                # A few upper-case 0X prefixes, as MdePkg.dec has.
                fh.write(manifest.dec_text(package.DRIVERS).replace("0x", "0X", 3))
            self.decs[edk2_check.PACKAGE_DECS["ours"]] = edk2_check.read_dec(path)

    def test_each_mismatch_is_named(self):
        mde, ours = edk2_check.PACKAGE_DECS["MdePkg"], edk2_check.PACKAGE_DECS["ours"]
        pcd = "gBoardDriversTokenSpaceGuid.PcdSettingsExchangeBuffer"
        cases = [
            ("intact", lambda decs, inf, img: None, None),
            ("wrong value", lambda decs, inf, img: decs[mde]["Protocols"].update(gPcdProtocolGuid="0" * 8 + "-0000-0000-0000-" + "0" * 12),
             "gPcdProtocolGuid is 00000000"),
            ("wrong package", lambda decs, inf, img: decs[ours]["Protocols"].update(gPcdProtocolGuid=decs[mde]["Protocols"].pop("gPcdProtocolGuid")),
             "gPcdProtocolGuid is declared in %s" % ours),
            ("undeclared", lambda decs, inf, img: decs[ours]["Guids"].pop("gSettingsRequestGuid"), "gSettingsRequestGuid declared 0 times"),
            ("twice", lambda decs, inf, img: decs[ours]["Protocols"].update(gPcdProtocolGuid=decs[mde]["Protocols"]["gPcdProtocolGuid"]),
             "gPcdProtocolGuid declared 2 times"),
            ("PCD token", lambda decs, inf, img: decs[ours]["Pcds"].update({pcd: ("UINT64", 1294)}), "token 1294"),
            ("not in the manifest", lambda decs, inf, img: inf.append("[Guids]\n  gEfiEventReadyToBootGuid\n"), "not in the manifest"),
            ("image lacks it", lambda decs, inf, img: img.append(b"gone"), "the image does not carry gSmmBufferCheckProtocolGuid"),
        ]
        for name, change, fault in cases:
            with self.subTest(case=name):
                decs = {k: {kind: dict(v) for kind, v in dec.items()} for k, dec in self.decs.items()}
                inf, img = [self.inf], []
                change(decs, inf, img)
                image = self.image
                if img:
                    image = image.replace(fvpack.guid_bytes(self.d.guid_of("gSmmBufferCheckProtocolGuid")), b"\0" * 16)
                faults = edk2_check.check_names(self.d, "\n".join(inf), decs, image)
                if fault is None:
                    self.assertEqual(faults, [])
                else:
                    self.assertTrue(any(fault in f for f in faults), faults)

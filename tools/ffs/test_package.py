"""Tests of the driver packaging: every firmware file and the drivers volume
are read back with the separate reader (ffsread.py) and judged by what a DXE
or SMM dispatcher would do with them: which files it sees, which image it
loads, and when each dependency expression lets the driver start."""
import io
import os
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ffsread  # noqa: E402
import package  # noqa: E402

VARIABLE_ARCH = "1E5668E2-8481-11D4-BCF1-0080C73C8881"
PCD = "11B34006-D85B-4D0A-A290-D5A571310EF7"
PI_PCD = "13A3F0F6-264A-3EF0-F2E0-DEC512342F34"
SMM_BASE2 = "F4CCBFB7-F6E0-47FD-9DD4-10A8F150C191"
BUFFER_CHECK = "DA473D7F-4B31-4D63-92B7-3D905EF84B84"
EVERYTHING = {VARIABLE_ARCH, PCD, PI_PCD, SMM_BASE2, BUFFER_CHECK}
DXE_NAMES = ["TarvexUIV4x64", "NetIdentityDxe", "BootDelayDxe", "PstateOverrideDxe", "PcdCacheDxe", "PcdCacheLiteDxe"]


def fake_image(name):
    # Distinct contents of odd lengths, so a swapped, cut or padded image shows.
    seed = sum(name.encode())
    return b"MZ" + bytes((seed + i * 7) & 0xFF for i in range(1000 + 37 * len(name)))


class PackagedBuild(unittest.TestCase):
    """Packages fake images through the real entry point, once."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        build = cls.tmp.name
        os.makedirs(os.path.join(build, "efi"))
        cls.images = {}
        for d in package.DRIVERS:
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
        self.assertEqual(self.files["TarvexUIV4x64"].section(0x14).build_number(), 403)

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
        for missing in (SMM_BASE2, PCD, BUFFER_CHECK):
            self.assertFalse(may_start("SetupTokenSmm", EVERYTHING - {missing}), missing)

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
        names = sorted(os.path.basename(p) for p in self.written)
        self.assertEqual(names, sorted([d.name + ".ffs" for d in package.DRIVERS] + ["drivers.fv"]))
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

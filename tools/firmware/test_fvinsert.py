# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Tests of the insert tool on a small image shaped like a board's release
image (outer volume, LZMA-compressed volume-image file, PEI and DXE volumes
inside): what it writes walks again and decompresses to the inserted files,
and each refusal exits 1 without leaving an output file."""
import lzma
import os
import struct
import subprocess
import sys
import tempfile
import unittest

from tools.firmware import uefiextract_check
from tools.firmware import fvinsert
from tools.firmware import fvpack as fv

# The command line as the board rules run it, from the repository's top folder.
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOL = [sys.executable, "-m", "tools.firmware"]
CORE = "D6A2CB7F-6A18-4E2F-B43B-9920A733700A"
OLD = "11111111-2222-3333-4444-555555555555"
NEW1 = "6C2AB33E-77F8-46B9-8106-760B4A81A500"
NEW2 = "F5307D3A-D41B-4029-8FC3-2EB864C2DCE3"
PE = b"MZ" + bytes(range(256)) * 4


def driver(name, payload=PE):
    return fv.ffs_file(name, "driver", [fv.depex_section("TRUE"), fv.pe32_section(payload)])


def base_image(dxe_size=0x4000, outer_size=0x4000):
    pei = fv.volume([fv.ffs_file("22222222-2222-3333-4444-555555555555", "peim", [fv.raw_section(b"pei")])])
    dxe = fv.volume([fv.ffs_file(CORE, "dxe-core", [fv.pe32_section(PE)]), driver(OLD)], size=dxe_size, alignment=4096)
    raw = fv.join_sections([fv.section(fv.SECTION_FIRMWARE_VOLUME_IMAGE, pei),
                            fv.section(fv.SECTION_FIRMWARE_VOLUME_IMAGE, dxe)])
    stream = bytearray(lzma.compress(raw, format=lzma.FORMAT_ALONE, filters=fvinsert.LZMA_FILTERS))
    stream[5:13] = struct.pack("<Q", len(raw))
    guided = fv.section(0x02, fv.guid_bytes(str(fvinsert.LZMA_SECTION_GUID)) + struct.pack("<HH", 24, 1) + stream)
    outer_file = fv.ffs_file("9E21FD93-9C72-4C15-8C4B-E77F1DB2D792", "fv-image", [guided], checksum=False)
    return fv.volume([outer_file], size=outer_size)


def dxe_files(image):
    """Names of the DXE volume's files in the written image, by decompressing it again."""
    _, pos, size, hsize = fvinsert.find_compressed(image)
    body = image[pos + hsize:pos + size]
    raw = lzma.decompress(body[24:int.from_bytes(body[:3], "little")], format=lzma.FORMAT_ALONE)
    sections = fv.parse_sections(raw)
    return [name for name, _, _ in fv.parse_volume(sections[1][1])], len(raw), body


class InsertTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.base = self.write("base.fd", base_image())
        self.new1 = self.write("new1.ffs", driver(NEW1))
        self.new2 = self.write("new2.ffs", fv.ffs_file(NEW2, "freeform", [fv.raw_section(b"pic")], alignment=4096))
        self.out = os.path.join(self.dir.name, "out.fd")

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as fh:
            fh.write(data)
        return path

    def run_tool(self, *files, base=None):
        return subprocess.run(TOOL + ["insert", base or self.base, self.out] + list(files),
                              capture_output=True, text=True, cwd=ROOT)

    def test_files_land_in_the_dxe_volume_and_every_layer_walks(self):
        r = self.run_tool(self.new1, self.new2)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.out, "rb") as fh:
            image = fh.read()
        self.assertEqual(len(image), os.path.getsize(self.base))
        fv.parse_volume(image)  # outer checksums and sizes
        names, raw_len, body = dxe_files(image)
        self.assertEqual(names, [CORE, OLD, NEW1, NEW2])
        # The stream carries its real size, not "unknown".
        self.assertEqual(struct.unpack_from("<Q", body, 24 + 5)[0], raw_len)
        # And an independent reader agrees.
        if uefiextract_check.shutil.which("UEFIExtract"):
            passed, faults = uefiextract_check.check_image(self.out, [self.new1, self.new2])
            self.assertEqual((passed, faults), (3, []))

    def test_refusals_exit_1_and_leave_no_output(self):
        bad_sum = bytearray(driver(NEW1))
        bad_sum[30] ^= 1  # body changed, data checksum now wrong
        cases = [
            ("not a firmware volume", [self.new1], self.write("junk.fd", b"\0" * 0x2000)),
            ("no LZMA-compressed volume", [self.new1], self.write("plain.fd", fv.volume([driver(OLD)]))),
            ("already in the volume", [self.write("dup.ffs", driver(OLD))], None),
            ("already in the volume", [self.new1, self.new1], None),
            ("no room in the DXE volume", [self.write("big.ffs", driver(NEW1, PE + os.urandom(0x4000)))], None),
            ("no room in the outer volume", [self.write("noise.ffs", driver(NEW1, PE + os.urandom(0x3000)))],
             self.write("roomy.fd", base_image(dxe_size=0x10000, outer_size=0x1000))),
            ("not a well-formed firmware file", [self.write("bad.ffs", bytes(bad_sum))], None),
            ("size field", [self.write("cut.ffs", driver(NEW1)[:-8])], None),
        ]
        for why, files, base in cases:
            with self.subTest(why):
                with open(self.out, "wb") as fh:
                    fh.write(b"stale")  # an earlier output must not survive a failed run
                r = self.run_tool(*files, base=base)
                self.assertEqual(r.returncode, 1)
                self.assertIn(why, r.stderr)
                self.assertFalse(os.path.exists(self.out))
                self.assertFalse(os.path.exists(self.out + ".part"))


if __name__ == "__main__":
    unittest.main()

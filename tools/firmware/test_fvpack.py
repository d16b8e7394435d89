# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Tests of the firmware-volume packer: the checksums, states, alignments and
sizes a DXE core relies on, checked byte by byte where the PI layout fixes
them, and the dependency-expression compiler's opcode streams."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import uuid

from tools.firmware import fvpack as fv

G1 = "6C2AB33E-77F8-46B9-8106-760B4A81A500"
G2 = "F5307D3A-D41B-4029-8FC3-2EB864C2DCE3"
PROTO = "220E73B6-6BDB-4413-8405-B974B108619A"
PE = b"MZ" + bytes(range(256)) * 3


class SectionTest(unittest.TestCase):
    def test_common_header_holds_size_and_type(self):
        s = fv.raw_section(b"abcde")
        self.assertEqual(s[:4], bytes([9, 0, 0, 0x19]))
        self.assertEqual(s[4:], b"abcde")

    def test_ui_and_version_are_nul_terminated_utf16(self):
        self.assertEqual(fv.ui_section("Ab")[4:], b"A\0b\0\0\0")
        v = fv.version_section(0x1234, "1.0")
        self.assertEqual(v[3], 0x14)
        self.assertEqual(v[4:], b"\x34\x12" + "1.0".encode("utf-16-le") + b"\0\0")

    def test_large_section_takes_the_extended_header(self):
        s = fv.section(0x19, bytes(0xFFFFFF))
        self.assertEqual(s[:4], b"\xff\xff\xff\x19")
        self.assertEqual(struct.unpack_from("<I", s, 4)[0], 8 + 0xFFFFFF)

    def test_pe32_section_wants_a_pe_image(self):
        self.assertRaises(fv.PackError, fv.pe32_section, b"ELF")

    def test_sections_start_4_byte_aligned(self):
        body = fv.join_sections([fv.raw_section(b"a"), fv.raw_section(b"bc")])
        self.assertEqual(len(body), 8 + 6)
        self.assertEqual(body[5:8], b"\0\0\0")
        self.assertEqual(fv.parse_sections(body), [(0x19, b"a"), (0x19, b"bc")])


class DepexTest(unittest.TestCase):
    def guid(self, g):
        return uuid.UUID(g).bytes_le

    def test_postfix_with_precedence(self):
        # NOT binds tightest, then AND, then OR.
        code = fv.compile_depex("%s OR NOT %s AND TRUE" % (G1, G2))
        want = (b"\x02" + self.guid(G1) + b"\x02" + self.guid(G2) + b"\x05" + b"\x06" + b"\x03" + b"\x04" + b"\x08")
        self.assertEqual(code, want)

    def test_parentheses_and_constants(self):
        self.assertEqual(fv.compile_depex("TRUE"), b"\x06\x08")
        self.assertEqual(fv.compile_depex("(FALSE OR TRUE) AND TRUE"), b"\x07\x06\x04\x06\x03\x08")

    def test_before_after_and_sor(self):
        self.assertEqual(fv.compile_depex("BEFORE " + G1), b"\x00" + self.guid(G1) + b"\x08")
        self.assertEqual(fv.compile_depex("AFTER " + G1), b"\x01" + self.guid(G1) + b"\x08")
        self.assertEqual(fv.compile_depex("SOR " + G1), b"\x09\x02" + self.guid(G1) + b"\x08")

    def test_malformed_expressions_are_refused(self):
        for bad in ("", "TRUE AND", "(TRUE", "TRUE)", "AND TRUE", "BEFORE", "BEFORE %s AND TRUE" % G1,
                    "not-a-guid", "TRUE TRUE", "SOR"):
            with self.subTest(bad=bad):
                self.assertRaises(fv.PackError, fv.compile_depex, bad)

    def test_section_type_follows_the_kind(self):
        self.assertEqual(fv.depex_section("TRUE")[3], 0x13)
        self.assertEqual(fv.depex_section("TRUE", "smm")[3], 0x1C)


class FileTest(unittest.TestCase):
    def test_header_fields_checksums_and_state(self):
        f = fv.ffs_file(G1, "driver", [fv.raw_section(b"xyz")])
        self.assertEqual(f[:16], uuid.UUID(G1).bytes_le)
        self.assertEqual(f[18], 0x07)
        self.assertEqual(f[19], fv.FFS_ATTRIB_CHECKSUM)
        self.assertEqual(int.from_bytes(f[20:23], "little"), len(f))
        self.assertEqual(f[23], 0xF8, "constructed, header valid, data valid; erase polarity 1")
        head = bytearray(f[:24])
        head[17] = head[23] = 0
        self.assertEqual(sum(head) & 0xFF, 0)
        self.assertEqual((sum(f[24:]) + f[17]) & 0xFF, 0)

    def test_without_data_checksum_the_byte_is_0xaa(self):
        f = fv.ffs_file(G1, "freeform", [fv.raw_section(b"1")], checksum=False)
        self.assertEqual(f[17], 0xAA)
        self.assertEqual(f[19] & fv.FFS_ATTRIB_CHECKSUM, 0)

    def test_erase_polarity_0_stores_the_state_bits_plainly(self):
        self.assertEqual(fv.ffs_file(G1, "freeform", [fv.raw_section(b"1")], erase_polarity=0)[23], 0x07)

    def test_alignment_codes(self):
        self.assertEqual(fv.ffs_file(G1, "driver", [b"\0" * 4], alignment=4096)[19] & 0x3A, 5 << 3)
        self.assertEqual(fv.ffs_file(G1, "driver", [b"\0" * 4], alignment=128 * 1024)[19] & 0x3A, 0x02)
        self.assertRaises(fv.PackError, fv.ffs_file, G1, "driver", [b"\0" * 4], alignment=24)

    def test_large_file_uses_the_extended_header(self):
        f = fv.ffs_file(G1, "freeform", [fv.raw_section(bytes(0x1000000))])
        self.assertEqual(f[20:23], b"\0\0\0")
        self.assertTrue(f[19] & fv.FFS_ATTRIB_LARGE_FILE)
        self.assertEqual(struct.unpack_from("<Q", f, 24)[0], len(f))
        v = fv.volume([f], block_size=0x10000)
        self.assertEqual(uuid.UUID(bytes_le=v[16:32]), fv.FFS3_GUID)
        self.assertEqual(fv.parse_volume(v)[0][0], G1)


class VolumeTest(unittest.TestCase):
    def pack(self, **kw):
        files = [fv.ffs_file(G1, "freeform", [fv.raw_section(b"a" * 5), fv.raw_section(b"b")]),
                 fv.ffs_file(G2, "driver", [fv.depex_section("TRUE"), fv.pe32_section(PE), fv.ui_section("X")], alignment=4096)]
        return fv.volume(files, **kw)

    def test_header_and_block_map(self):
        v = self.pack(block_size=0x1000)
        self.assertEqual(v[:16], bytes(16))
        self.assertEqual(v[40:44], b"_FVH")
        length, attrs, hlen = struct.unpack_from("<QxxxxIH", v, 32)
        self.assertEqual(length, len(v))
        self.assertEqual(len(v) % 0x1000, 0)
        self.assertEqual(hlen, 72)
        self.assertEqual(struct.unpack_from("<IIII", v, 56), (len(v) // 0x1000, 0x1000, 0, 0))
        self.assertEqual(sum(struct.unpack("<36H", v[:72])) & 0xFFFF, 0)
        self.assertEqual(v[55], 2)
        self.assertTrue(attrs & fv.FVB2_ERASE_POLARITY and attrs & fv.FVB2_READ_STATUS)
        self.assertEqual((attrs >> 16) & 0x1F, 12, "volume aligned as its most aligned file")

    def test_aligned_data_gets_a_pad_file_in_front(self):
        v = self.pack()
        files = []
        pos = 72
        while v[pos:pos + 24] != b"\xff" * 24:
            _, ftype, _, size, hsize, _ = fv.parse_file_header(v, pos)
            files.append((ftype, pos))
            self.assertEqual(pos % 8, 0)
            pos = fv.align_up(pos + size, 8)
        self.assertEqual([t for t, _ in files], [0x02, 0xF0, 0x07])
        self.assertEqual((files[2][1] + 24) % 4096, 0)
        self.assertTrue(all(b == 0xFF for b in v[pos:]), "free space is erased")

    def test_round_trip_through_the_checker(self):
        files = fv.parse_volume(self.pack())
        self.assertEqual([f[0] for f in files], [G1, G2])
        self.assertEqual(files[0][2], [(0x19, b"aaaaa"), (0x19, b"b")])
        self.assertEqual([t for t, _ in files[1][2]], [0x13, 0x10, 0x15])

    def test_checker_catches_corruption(self):
        v = bytearray(self.pack())
        for offset, what in ((50, "volume header checksum"), (72 + 2, "file header checksum"),
                             (72 + 30, "file data checksum"), (72 + 23, "file state")):
            with self.subTest(what=what):
                bad = bytearray(v)
                bad[offset] ^= 0x01
                self.assertRaises(fv.PackError, fv.parse_volume, bytes(bad))

    def test_duplicate_names_and_oversize_are_refused(self):
        f = fv.ffs_file(G1, "freeform", [fv.raw_section(b"a")])
        self.assertRaises(fv.PackError, fv.volume, [f, f])
        self.assertRaises(fv.PackError, fv.volume, [fv.ffs_file(G1, "freeform", [fv.raw_section(bytes(5000))])], size=4096)
        self.assertRaises(fv.PackError, fv.volume, [f], block_size=3000)

    def test_command_line(self):
        root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        tool = [sys.executable, "-m", "tools.firmware"]
        with tempfile.TemporaryDirectory() as d:
            pe, raw = os.path.join(d, "x.efi"), os.path.join(d, "r.bin")
            for path, data in ((pe, PE), (raw, b"raw!")):
                with open(path, "wb") as fh:
                    fh.write(data)
            ffs1, ffs2, out = (os.path.join(d, n) for n in ("a.ffs", "b.ffs", "v.fv"))
            subprocess.run(tool + ["ffs", "-o", ffs1, "--guid", G1, "--type", "smm", "--depex", PROTO,
                            "--pe32", pe, "--ui", "Drv", "--version", "3:1.2"], check=True, cwd=root)
            subprocess.run(tool + ["ffs", "-o", ffs2, "--guid", G2, "--raw", raw, "--raw", raw], check=True, cwd=root)
            subprocess.run(tool + ["fv", "-o", out, ffs1, ffs2], check=True, cwd=root)
            with open(out, "rb") as fh:
                files = fv.parse_volume(fh.read())
            self.assertEqual(files[0][1], 0x0A)
            self.assertEqual([t for t, _ in files[0][2]], [0x1C, 0x10, 0x15, 0x14])
            self.assertEqual(files[1][2], [(0x19, b"raw!"), (0x19, b"raw!")])
            r = subprocess.run(tool + ["ffs", "-o", ffs1, "--guid", G1, "--depex", "TRUE AND"],
                               capture_output=True, cwd=root)
            self.assertNotEqual(r.returncode, 0)


if __name__ == "__main__":
    unittest.main()

# SPDX-License-Identifier: BSD-2-Clause-Patent
"""The artwork tool's pictures, read back by an independent decoder (Pillow):
sizes and depths the UI expects, and pixels as drawn."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bmpwrite  # noqa: E402
import draw  # noqa: E402

try:
    from PIL import Image
except ImportError:  # pragma: no cover
    Image = None


@unittest.skipIf(Image is None, "needs python3-pil")
class ArtworkTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        draw.main(["draw.py", cls.tmp.name])

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def open(self, name):
        with Image.open(os.path.join(self.tmp.name, name)) as im:
            im.load()
            return im

    def test_every_picture_with_its_size_and_depth(self):
        want = {"digit%d.bmp" % d: (10, 16, 4) for d in range(10)}
        want.update({"bar%d.bmp" % s: (9, 16, 24) for s in range(4)})
        want.update({"mark_a.bmp": (12, 16, 8), "mark_b.bmp": (4, 16, 8), "percent.bmp": (10, 16, 1),
                     "bar_blank.bmp": (9, 16, 4), "digit_blank.bmp": (10, 16, 1)})
        self.assertEqual(sorted(os.listdir(self.tmp.name)), sorted(want))
        for name, (w, h, bpp) in want.items():
            with self.subTest(name=name):
                with open(os.path.join(self.tmp.name, name), "rb") as fh:
                    data = fh.read()
                self.assertEqual(int.from_bytes(data[28:30], "little"), bpp)
                self.assertEqual(self.open(name).size, (w, h))

    def test_digits_are_distinct_and_drawn_from_their_segments(self):
        seen = set()
        for d in range(10):
            pixels = self.open("digit%d.bmp" % d).convert("RGB").tobytes()
            self.assertNotIn(pixels, seen, "digit %d looks like another" % d)
            seen.add(pixels)
            im = self.open("digit%d.bmp" % d).convert("RGB")
            # The middle segment (g) is lit exactly for the digits that have it.
            self.assertEqual(im.getpixel((4, 7)) != (0, 0, 0), "g" in draw.SEGMENTS[d], d)

    def test_bar_styles_differ_and_blanks_are_dark(self):
        colours = {self.open("bar%d.bmp" % s).convert("RGB").getpixel((3, 8)) for s in range(4)}
        self.assertEqual(len(colours), 4)
        self.assertEqual(set(self.open("digit_blank.bmp").convert("RGB").getdata()), {(0, 0, 0)})
        self.assertEqual(self.open("bar_blank.bmp").convert("RGB").getpixel((3, 8)), (48, 48, 56))


class WriterTest(unittest.TestCase):
    def test_rows_bottom_first_and_padded(self):
        data = bmpwrite.encode(3, 2, 24, [[(1, 2, 3)] * 3, [(4, 5, 6)] * 3])
        self.assertEqual(len(data), 54 + 12 * 2)
        self.assertEqual(data[54:57], bytes((6, 5, 4)))  # bottom row first, stored B, G, R
        self.assertEqual(data[63:66], bytes(3))  # alignment

    @unittest.skipIf(Image is None, "needs python3-pil")
    def test_four_bit_reads_back_in_pillow(self):
        rows = [[0, 1, 2], [3, 2, 1]]
        pal = [(0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 255)]
        with tempfile.NamedTemporaryFile(suffix=".bmp") as f:
            f.write(bmpwrite.encode(3, 2, 4, rows, pal))
            f.flush()
            with Image.open(f.name) as raw:
                im = raw.convert("RGB")
            self.assertEqual([im.getpixel((x, y)) for y in range(2) for x in range(3)],
                             [pal[v] for row in rows for v in row])

    def test_refuses_what_it_cannot_write(self):
        self.assertRaises(ValueError, bmpwrite.encode, 1, 1, 16, [[0]])
        self.assertRaises(ValueError, bmpwrite.encode, 1, 1, 1, [[2]], [(0, 0, 0), (1, 1, 1)])
        self.assertRaises(ValueError, bmpwrite.encode, 2, 1, 24, [[(0, 0, 0)]])


if __name__ == "__main__":
    unittest.main()

# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Tests of the demo's and the bench's host side: the screen checks the demo
passes or fails its screenshots with, how the firmware figures are picked out
of a bench run, and the report's verdicts and missed-aim lines."""
import os
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "examples", "flash_tool"))
sys.path.insert(0, os.path.join(ROOT, "tools"))

from PIL import Image  # noqa: E402

import bench  # noqa: E402
import demo  # noqa: E402
from screen import Grid  # noqa: E402  (the test bed's, imported by demo)


def grid(*lines):
    text = [line.ljust(100) for line in lines] + [" " * 100] * (31 - len(lines))
    return Grid(text, [[0x0F] * 100 for _ in text])


def bar_image(percent):
    """A black screen with the bar's segments filled to percent, gaps between segments."""
    im = Image.new("RGB", (1024, 768))
    for x in range(demo.BAR_LEFT, demo.BAR_RIGHT):
        filled = (x - demo.BAR_LEFT) < percent * (demo.BAR_RIGHT - demo.BAR_LEFT) / 100
        if (x - demo.BAR_LEFT) % 9 < 7:
            for y in range(628, 640):
                im.putpixel((x, y), (85, 163, 249) if filled else (48, 48, 56))
    return im


class ScreenChecks(unittest.TestCase):
    def test_texts_patterns_and_absent_entries(self):
        g = grid("", "  >BOARD_A2.ROM", "File Date    : BOARD_A2.ROM (03/05/2021)")
        blank = bar_image(0)
        self.assertEqual(demo.expect(">BOARD_A2.ROM", pattern=r"\(\d\d/\d\d/\d{4}\)")(g, blank), [])
        problems = demo.expect("Total FFS", pattern=r"\(\d{4}\)", absent=("BOARD_A2",))(g, blank)
        self.assertEqual(len(problems), 3, problems)

    def test_progress_bar_fill_is_read_from_the_pixels(self):
        for percent in (0, 25, 50, 100):
            with self.subTest(percent=percent):
                self.assertAlmostEqual(demo.bar_filled(bar_image(percent)), percent / 100.0, delta=0.03)
        mid = demo.expect(bar=(0.3, 0.8))
        self.assertEqual(mid(grid(), bar_image(50)), [])
        self.assertEqual(len(mid(grid(), bar_image(100))), 1)
        self.assertEqual(len(mid(grid(), bar_image(0))), 1)


    def test_message_box_backdrop_must_be_flat_grey(self):
        check = demo.expect(backdrop=True)
        for colour, ok in (((64, 64, 64), True), ((0, 0, 170), False), ((0, 0, 0), False), ((80, 64, 64), False)):
            with self.subTest(colour=colour):
                im = Image.new("RGB", (1024, 768))
                im.paste(colour, (352, 241, 672, 393))
                self.assertEqual(check(grid(), im) == [], ok)


class FirmwareFigures(unittest.TestCase):
    EVENTS = [
        "@bench first-screen us 42273 chars 2699 calls 91 quiet 1",
        "@bench key scan 2 char 0 chars 105 calls 7 us 11819 quiet 1",   # down in the volume list
        "@bench key scan 0 char D chars 293 calls 17 us 15350 quiet 1",  # enter opens the volume
        "@bench key scan 2 char 0 chars 188 calls 10 us 12872 quiet 0",  # the measured down
        "@bench key scan 17 char 0 chars 0 calls 0 us 0 quiet 1",
    ]

    def test_the_down_key_measured_is_the_one_after_enter(self):
        serial = [("down", 240), ("ret", 700), ("down", 346), ("esc", 0)]
        f = demo.bench_figures(self.EVENTS, serial)
        self.assertEqual((f["first_screen_us"], f["first_screen_chars"], f["first_screen_calls"]), (42273, 2699, 91))
        self.assertTrue(f["first_screen_quiet"])
        self.assertEqual((f["down_serial_bytes"], f["down_chars"], f["down_calls"]), (346, 188, 10))
        self.assertFalse(f["down_quiet"])

    def test_no_down_figure_without_the_file_list(self):
        f = demo.bench_figures(self.EVENTS[:2], [("down", 240)])
        self.assertNotIn("down_serial_bytes", f)
        self.assertIn("first_screen_us", f)


class Report(unittest.TestCase):
    def test_sizes_against_aims_and_missed_lines(self):
        with tempfile.TemporaryDirectory() as build:
            os.makedirs(os.path.join(build, "efi"))
            with open(os.path.join(build, "efi", "BootDelayDxe.efi"), "wb") as f:
                f.write(b"\0" * (6 * 1024 + 1))
            with open(os.path.join(build, "efi", "PcdCacheDxe.efi"), "wb") as f:
                f.write(b"\0" * (6 * 1024))
            rows = {r.what: r for r in bench.image_sizes(build)}
            self.assertIs(rows["`BootDelayDxe` image size"].met, False)
            self.assertIn("1 bytes over", rows["`BootDelayDxe` image size"].miss)
            self.assertIs(rows["`PcdCacheDxe` image size"].met, True, "the aim is inclusive")
            self.assertTrue(rows["`NetIdentityDxe` image size"].measured.startswith("not "))

            path = os.path.join(build, "report.md")
            misses, unmeasured = bench.write_report(path, [("Image sizes", list(rows.values()))])
            self.assertEqual(len(misses), 1)
            self.assertEqual(unmeasured, 5)
            with open(path) as f:
                text = f.read()
            self.assertIn("## Missed aims", text)
            self.assertIn("- BootDelayDxe is 1 bytes over its aim", text)


if __name__ == "__main__":
    unittest.main()

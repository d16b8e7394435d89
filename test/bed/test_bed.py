# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Tests of the test bed's host side: the terminal-to-grid parser on the
byte stream OVMF's serial terminal produces, the runner's line protocol and
timing rule, the disk builder, and the screen checks on synthetic screens."""
import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import checks  # noqa: E402
import run  # noqa: E402
from screen import Grid, Terminal  # noqa: E402

ESC = b"\x1b"


def attr_seq(fg, bg, bright=True):
    """The sequence OVMF's terminal sends before text in an attribute."""
    ansi = [30, 34, 32, 36, 31, 35, 33, 37]
    return (ESC + b"[1m" if bright else ESC + b"[0m") + ESC + b"[%dm" % ansi[fg] + ESC + b"[%dm" % (40 + ansi[bg] - 30)


class TerminalTest(unittest.TestCase):
    def test_attributes_and_code_page_characters(self):
        t = Terminal()
        t.feed(ESC + b"[2J" + attr_seq(4, 0) + ESC + b"[06;21H" + b"\xc4" * 5)
        t.feed(attr_seq(7, 1) + ESC + b"[04;11HTEST")
        t.feed(attr_seq(7, 0, bright=False) + ESC + b"[01;01Hx")
        g = t.snapshot()
        self.assertEqual(g.at(20, 5, 5), "\u2500" * 5)
        self.assertEqual({g.attr_at(c, 5) for c in range(20, 25)}, {0x0C})
        self.assertEqual(g.at(10, 3, 4), "TEST")
        self.assertEqual(g.attr_at(10, 3), 0x1F)
        self.assertEqual(g.attr_at(0, 0), 0x07)

    def test_marks_in_the_control_range_are_characters(self):
        # The pointer and scroll marks must not shift the rest of the row.
        t = Terminal()
        t.feed(ESC + b"[06;01H  \x10fs0  " + ESC + b"[17;16H\x1e" + ESC + b"[23;16H\x1f")
        g = t.snapshot()
        self.assertEqual(g.at(0, 5, 8), "  \u25bafs0  ")
        self.assertEqual(g.at(15, 16, 1), "\u25b2")
        self.assertEqual(g.at(15, 22, 1), "\u25bc")

    def test_coordinates_past_99_are_counted_from_zero(self):
        # Column 100 comes as ":0", row 100 likewise; split reads included.
        stream = attr_seq(4, 0) + ESC + b"[08;:0H|" + attr_seq(6, 0) + ESC + b"[10;93H12:34:56" + ESC + b"[:0;01H"
        for step in (len(stream), 1):
            t = Terminal(rows=101)
            for i in range(0, len(stream), step):
                t.feed(stream[i:i + step])
            g = t.snapshot()
            self.assertEqual(g.at(99, 7, 1), "|")
            self.assertEqual(g.attr_at(99, 7), 0x0C)
            self.assertEqual(g.at(92, 9, 8), "12:34:56")
            self.assertEqual(g.row(7).strip(), "|")
            self.assertEqual((t.screen.cursor.x, t.screen.cursor.y), (0, 99))

    def test_sequences_split_between_reads(self):
        stream = attr_seq(2, 0) + ESC + b"[10;05HGreen text" + attr_seq(7, 4) + ESC + b"[11;05HRed"
        whole = Terminal()
        whole.feed(stream)
        pieces = Terminal()
        for i in range(0, len(stream), 3):
            pieces.feed(stream[i:i + 3])
        self.assertEqual(whole.snapshot().text, pieces.snapshot().text)
        self.assertEqual(whole.snapshot().attr, pieces.snapshot().attr)


class FakeMonitor:
    def __init__(self):
        self.commands = []

    def command(self, text):
        self.commands.append(text)
        return ""


class RunnerProtocolTest(unittest.TestCase):
    def boot(self):
        b = run.Boot({"name": "g", "cpu": "qemu64"}, "/nonexistent", "/nonexistent", "/nonexistent", False)
        b.monitor = FakeMonitor()
        return b

    def test_results_carry_their_failed_checks(self):
        b = self.boot()
        for line in ("@bed start a.one", "@bed check a.one value 3, expected 4", "@bed check a.one second",
                     "@bed result a.one fail", "DBG 80000000 a message", "@bed start a.two",
                     "@bed result a.two pass", "@bed end 2"):
            b.handle(line, "/nonexistent")
        self.assertEqual(b.results, [("a.one", False, "value 3, expected 4; second"), ("a.two", True, "")])
        self.assertTrue(b.ended)

    def test_keys_go_to_the_monitor_in_order_and_unknown_ones_fail(self):
        b = self.boot()
        b.handle("@bed keys down ret", "/nonexistent")
        self.assertEqual(b.monitor.commands, ["sendkey down", "sendkey ret"])
        self.assertEqual(b.results, [])
        b.handle("@bed keys hoem", "/nonexistent")
        self.assertEqual(len(b.monitor.commands), 2)
        self.assertFalse(b.results[0][1])
        # Every scripted key is one the table names.
        for steps in checks.SCRIPTS.values():
            for step in steps:
                if step[0] in ("key", "measure"):
                    self.assertIn(step[1], checks.KEYS)

    def test_what_would_pass_silently_is_an_error(self):
        b = self.boot()
        b.handle("@bed end 0", "/nonexistent")  # a group the application has no scenario for
        self.assertFalse(b.results[0][1])
        with self.assertRaises(RuntimeError):
            run.select_groups(run.GROUPS, ["ui", "no-such-group"])
        self.assertEqual([g["name"] for g in run.select_groups(run.GROUPS, ["ui"])], ["ui"])
        # A stage of its own runs only when named.
        self.assertNotIn("dispatch", [g["name"] for g in run.select_groups(run.GROUPS, None)])
        self.assertEqual([g["name"] for g in run.select_groups(run.GROUPS, ["dispatch"])], ["dispatch"])
        with tempfile.TemporaryDirectory() as d, self.assertRaises(FileNotFoundError):
            checks.extra_files(d)  # no fv/pictures.fv

    def test_timed_spans(self):
        b = self.boot()
        for took, expect, ok in ((2.05, 2.0, True), (1.02, 2.0, False), (3.0, 2.0, False), (0.0, 0.0, True)):
            b.results = []
            b.times["s"] = time.time() - took
            b.timed("s", expect)
            self.assertEqual(b.results[0][1], ok, (took, expect))

    def test_span_without_start_fails(self):
        b = self.boot()
        b.timed("never-started", 1.0)
        self.assertFalse(b.results[0][1])


class DiskTest(unittest.TestCase):
    def test_folders_case_insensitive_and_dates(self):
        with tempfile.TemporaryDirectory() as d:
            img = os.path.join(d, "disk.img")
            run.make_disk(img, {"EFI/BOOT/A.EFI": b"a", "efi/B.EFI": b"bb", "bed/sub/C.TXT": b"ccc"}, size_mb=16)
            out = subprocess.run(["mdir", "-i", img, "-/", "-a", "::/"], capture_output=True, text=True, check=True).stdout
            for name, ext, size in (("A", "EFI", 1), ("B", "EFI", 2), ("C", "TXT", 3)):
                self.assertRegex(out, r"%s\s+%s\s+%d 2021-03-05" % (name, ext, size))
            # "EFI" and "efi" are one folder on FAT.
            self.assertRegex(out, r"Directory for ::/EFI\n(.*\n)*B\s+EFI")
            self.assertEqual(out.count("Directory for ::/EFI\n"), 1)


def blank_grid():
    return Grid([" " * 100 for _ in range(31)], [[0x0F] * 100 for _ in range(31)])


def put(grid, col, row, text, attr):
    line = grid.text[row]
    grid.text[row] = line[:col] + text + line[col + len(text):]
    for c in range(col, col + len(text)):
        grid.attr[row][c] = attr


class ChecksTest(unittest.TestCase):
    def volume_screen(self, mark="\u25ba"):
        g = blank_grid()
        put(g, 0, 5, "  %sfs0  " % mark, 0x0D)
        put(g, 0, 6, "   fs1  ", 0x0F)
        put(g, 0, 9, "Total FFS : 2", 0x0E)
        return g

    def test_volume_list_accepts_the_right_screen(self):
        problems = []
        checks.check_volume_list(problems, self.volume_screen(), 0, 2, 0x0D)
        self.assertEqual(problems, [])
        checks.check_volume_list(problems, self.volume_screen(">"), 0, 2, 0x0D)
        self.assertEqual(problems, [])

    def test_volume_list_catches_shifts_styles_and_counts(self):
        g = self.volume_screen()
        put(g, 0, 5, " \u25bafs0   ", 0x0D)  # the mark one column early
        problems = []
        checks.check_volume_list(problems, g, 0, 2, 0x0D)
        self.assertTrue(problems)
        problems = []
        checks.check_volume_list(problems, self.volume_screen(), 0, 2, 0x0E)  # confirmed style expected
        self.assertTrue(problems)
        problems = []
        checks.check_volume_list(problems, self.volume_screen(), 0, 3, 0x0D)
        self.assertTrue(any("Total FFS" in p for p in problems))

    def test_scroll_marks(self):
        g = blank_grid()
        for r in range(7):
            put(g, 0, 16 + r, " BIOS_%02d.ROM" % (r + 2), 0x0F)
        put(g, 0, 22, "\u25baBIOS_08.ROM", 0x7D)
        put(g, 15, 16, "\u25b2", 0x0E)
        problems = []
        checks.check_file_rows(problems, g, 1, 7, True, False)
        self.assertEqual(problems, [])
        checks.check_file_rows(problems, g, 1, 7, True, True)
        self.assertTrue(any("down mark" in p for p in problems))


if __name__ == "__main__":
    unittest.main()

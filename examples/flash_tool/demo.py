#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""The demo: the board image (make board: our drivers, pictures and the
board's stand-ins in the flash of the SMM-enabled OVMF) boots under QEMU at
1024x768 into the demo flash tool, which finds the UI protocol and the
pictures that the firmware dispatched from flash, loads nothing from disk,
and runs the flash tool on the UI. Two extra FAT volumes hold sample
BIOS-sized files and some that are not.

Headless (default): a scripted sequence of keys walks through the tool, a
screenshot of each step goes to build/demo/NN-step.png (with the screen as
text beside it, NN-step.txt), and a summary lists them and what each shows.

    examples/flash_tool/demo.py --build build [--make] [--interactive]

--interactive opens a QEMU window for a person at the keyboard instead.
--make builds what the boot needs.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "test", "bed"))
sys.path.append(ROOT)  # for tools.firmware

import checks  # noqa: E402  the test bed's screen checks
import run as bed  # noqa: E402  the test bed's runner: QEMU, monitor, disks
from tools.firmware import package, pictures  # noqa: E402

MiB = 1024 * 1024
# Seconds a step's screen gets to settle before its screenshot (TCG is slow).
SETTLE = float(os.environ.get("DEMO_SETTLE", "1.5"))


def sample(size, seed):
    """Deterministic contents that look like a firmware image: a header, then noise."""
    head = ("DEMO-BIOS %08X" % seed).encode().ljust(64, b"\0")
    state = seed * 2654435761 & 0xFFFFFFFF
    body = bytearray(size - len(head))
    for i in range(0, len(body), 4):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        body[i:i + 4] = state.to_bytes(4, "little")[:len(body) - i]
    return head + bytes(body)


# The two volumes of sample files: (label, {name: contents}). BIOS files are
# whole multiples of 64 KiB up to 32 MiB; the others must not be listed.
VOLUMES = [
    ("BIOSA", {
        "DEMOVOL.TXT": b"BIOSA\n",
        "BOARD_A1.ROM": sample(2 * MiB, 1),
        "BOARD_A2.ROM": sample(4 * MiB, 2),
        "README.TXT": b"Sample BIOS images for the demo flash tool.\n",
        "ODDSIZE.BIN": sample(100000, 3),
    }),
    ("BIOSB", {
        "DEMOVOL.TXT": b"BIOSB\n",
        "RECOVERY.BIN": sample(1 * MiB, 4),
        "NOTES.TXT": b"not a BIOS file\n",
    }),
]
LISTED = {"BIOSA": ["BOARD_A1.ROM", "BOARD_A2.ROM"], "BIOSB": ["RECOVERY.BIN"]}

# On a stock UEFI PC the tool brings these from its own disk, the adapter
# first: the UI driver and the graphics console adapter it draws through.
STOCK_IMAGES = ["AdvancedGcDxe", "TarvexUIV4x64"]


def plan_text(mode):
    lines = [mode, "pictures " + pictures.table()[0][1]]
    for d in package.DRIVERS:
        if d.file_type in package.VOLUME_FILE_TYPES:
            lines.append("%s %s" % (d.guid, d.name))
    return ("\n".join(lines) + "\n").encode()


class DemoBoot(bed.Boot):
    """One boot of the demo tool, with the host half of the script."""

    def __init__(self, build, workdir, shotdir, mode, interactive, verbose, board="board"):
        # The demo itself runs on a board image, where our drivers and the
        # board's pieces come from flash; on the stock firmware the tool loads
        # the UI driver and the graphics console adapter from its disk; the
        # bench loads the volumes into the stock firmware.
        group = {"name": "demo", "cpu": "qemu64", "board": mode == "demo"}
        super().__init__(group, build, workdir, shotdir, verbose, board)
        self.mode = mode
        self.interactive = interactive
        self.volumes = {}     # label -> index in the UI's list
        self.shots = []       # (path, problems)
        self.events = []      # "@demo" lines, in order
        self.step = 0
        self.serial_bytes = []  # bench: (key, serial bytes until the console was quiet again)

    def prepare(self):
        os.makedirs(self.workdir, exist_ok=True)
        efi = os.path.join(self.build, "efi")
        board = self.group["board"]
        files = {"EFI/BOOT/BOOTX64.EFI": os.path.join(efi, "DemoFlashTool.efi"),
                 "demo/plan.txt": plan_text("board" if board else self.mode)}
        if self.mode == "stock":  # what a flash tool carries on its stick
            for name in STOCK_IMAGES:
                files["efi/%s.efi" % name] = os.path.join(efi, name + ".efi")
            files["demo/pictures.fv"] = os.path.join(self.build, "fv", "pictures.fv")
        elif not board:  # on the board nothing is loaded from the disk
            files["demo/drivers.fv"] = os.path.join(self.build, "fv", "drivers.fv")
            files["demo/pictures.fv"] = os.path.join(self.build, "fv", "pictures.fv")
            for name in sorted(os.listdir(efi)):
                if name.endswith("StandIn.efi"):
                    files["efi/" + name] = os.path.join(efi, name)
        self.disk = os.path.join(self.workdir, "disk.img")
        bed.make_disk(self.disk, files, label="DEMOBOOT")
        self.extra_disks = []
        for i, (label, content) in enumerate(VOLUMES):
            path = os.path.join(self.workdir, "vol%d.img" % i)
            bed.make_disk(path, content, size_mb=40, label=label)
            self.extra_disks.append(path)
        self.vars = os.path.join(self.workdir, "vars.fd")
        shutil.copyfile(os.path.join(self.build, bed.board_file(self.board, "OVMF_VARS.fd")) if board else bed.OVMF_VARS,
                        self.vars)
        for name in ("serial.log", "debug.log", "mon.sock"):
            p = os.path.join(self.workdir, name)
            if os.path.exists(p):
                os.unlink(p)

    def command_line(self):
        cmd = super().command_line()
        if self.interactive:
            i = cmd.index("-display")
            del cmd[i:i + 2]
        return cmd

    # ---- the script ----

    def handle(self, line, serial_path):
        if line.startswith("@bench "):
            self.log(line)
            self.events.append(line)
            return
        if line.startswith("@demo "):
            self.log(line)
            self.events.append(line)
            if not self.interactive:
                self.script(line.split(" ")[1:], serial_path)
            return
        super().handle(line, serial_path)

    def keys(self, *names, pause=0.25):
        for name in names:
            self.monitor.command("sendkey " + name)
            time.sleep(pause)

    def capture(self, name, serial_path, check=None, settle=SETTLE):
        time.sleep(settle)
        self.step += 1
        stem = os.path.join(self.shotdir, "%02d-%s" % (self.step, name))
        self.monitor.command("screendump %s.png -f png" % stem)
        self.terminal.feed(self.read_new(serial_path, self.terminal.fed))
        grid = self.terminal.snapshot()
        with open(stem + ".txt", "w") as f:
            f.write(grid.dump())
        problems = []
        if check:
            try:
                from PIL import Image
                for _ in range(50):  # QEMU writes the dump from its main loop
                    if os.path.exists(stem + ".png") and os.path.getsize(stem + ".png") > 0:
                        break
                    time.sleep(0.02)
                problems = check(grid, Image.open(stem + ".png").convert("RGB"))
            except Exception as e:  # a broken check is a failed step, not a dead runner
                problems = ["check raised %r" % e]
        self.shots.append((stem + ".png", problems))

    def script(self, words, serial_path):
        what = words[0]
        if what == "volume":
            self.volumes[words[2]] = int(words[1])
        elif self.mode == "bench":
            self.bench_script(words, serial_path)
        elif what == "run":
            # The volume list, then the question on Esc, answered with Esc.
            self.capture("volumes", serial_path, expect("Total FFS : 3", ">fs0", "fs1", "fs2", bar=(0.0, 0.0)), settle=SETTLE + 1.5)
            self.keys("esc")
            self.capture("leave-question", serial_path, expect("Leave the flash tool?", backdrop=True))
            self.keys("esc")
            # Down to the first sample volume, open it, move to its second file.
            self.keys(*(["down"] * self.volumes.get("BIOSA", 1)), "ret")
            self.capture("file-list", serial_path, expect(">" + LISTED["BIOSA"][0], *LISTED["BIOSA"],
                                                           absent=("README.TXT", "ODDSIZE.BIN", "DEMOVOL.TXT")))
            self.keys("down")
            self.capture("file-date", serial_path,
                         expect(">BOARD_A2.ROM", pattern=r"File Date +: BOARD_A2\.ROM \(\d\d/\d\d/\d{4}\)"))
            self.keys("ret")
        elif what == "chosen":
            self.capture("confirm", serial_path, expect("Update the flash with", "BOARD_A2.ROM", "CRC32", backdrop=True))
            self.keys("ret")
        elif what == "progress" and words[1] == "50":
            self.capture("progress-midway", serial_path, expect("Updating the flash", bar=(0.3, 0.8), backdrop=True),
                         settle=0)
        elif what == "flashed":
            self.capture("finished", serial_path, expect("Update complete", "verified", bar=(0.97, 1.0), backdrop=True))
            self.keys("ret")

    # ---- the bench: one key per quiet console ----

    def bench_script(self, words, serial_path):
        if words[0] == "run":
            self.bench_keys = None
        elif words[0] == "quiet":
            if self.bench_keys is None:
                # Open the first sample volume, then the measured Down in its file list, then leave.
                self.bench_keys = ["down"] * self.volumes.get("BIOSA", 1) + ["ret", "down", "esc", "ret"]
                self.bench_sent = []
            elif self.bench_sent:
                key, size = self.bench_sent[-1]
                self.serial_bytes.append((key, os.path.getsize(serial_path) - size))
            if self.bench_keys:
                key = self.bench_keys.pop(0)
                self.bench_sent.append((key, os.path.getsize(serial_path)))
                self.keys(key, pause=0)


def bench_figures(events, serial_bytes):
    """The firmware figures from the "@bench" lines and the serial byte counts."""
    figures = {}
    keys = [line.split(" ") for line in events if line.startswith("@bench key ")]
    for line in events:
        w = line.split(" ")
        if line.startswith("@bench first-screen "):
            figures["first_screen_us"] = int(w[3])
            figures["first_screen_chars"] = int(w[5])
            figures["first_screen_calls"] = int(w[7])
            figures["first_screen_quiet"] = w[9] == "1"
    # The Down key pressed in the file list is the one after Enter opened it.
    sent = [k for k, _ in serial_bytes]
    if "ret" in sent:
        i = sent.index("ret") + 1
        if i < len(serial_bytes) and serial_bytes[i][0] == "down":
            figures["down_serial_bytes"] = serial_bytes[i][1]
            if i < len(keys):
                figures["down_chars"] = int(keys[i][7])
                figures["down_calls"] = int(keys[i][9])
                figures["down_quiet"] = keys[i][13] == "1"
    return figures


def expect(*texts, pattern=None, bar=None, absent=(), backdrop=False):
    """A screen check: the texts (and the regular expression pattern)
    somewhere on the text grid and, with bar=(low, high), the progress bar
    filled over that share of its length; none of the absent texts may show;
    with backdrop, the message box stands on a flat grey backdrop and its
    border and text show in the pixels as the grid has them."""
    def check(grid, image):
        screen = "\n".join(grid.text)
        problems = ["%r is not on the screen" % t for t in texts if t not in screen]
        problems += ["%r should not be on the screen" % t for t in absent if t in screen]
        if pattern and not re.search(pattern, screen):
            problems.append("nothing on the screen matches %r" % pattern)
        if backdrop:
            colour = box_colour(image)
            if not (max(colour) - min(colour) <= 8 and 32 <= colour[0] <= 192):
                problems.append("the message box stands on %r, not on a grey backdrop" % (colour,))
            problems += checks.box_pixels(grid, image)
        if bar is not None:
            filled = bar_filled(image)
            if not bar[0] <= filled <= bar[1]:
                problems.append("progress bar filled %.0f%%, expected %.0f%% to %.0f%%"
                                % (100 * filled, 100 * bar[0], 100 * bar[1]))
        return problems
    return check


# The message box's pixel rectangle in the 100 x 27 screen (inside its border).
BOX = (360, 250, 660, 380)


def box_colour(image):
    """The most frequent colour inside the message box."""
    counts = {}
    for y in range(BOX[1], BOX[3], 3):
        for x in range(BOX[0], BOX[2], 3):
            p = image.getpixel((x, y))
            counts[p] = counts.get(p, 0) + 1
    return max(counts.items(), key=lambda kv: kv[1])[0]


# The progress bar's run of segments near the bottom of the 1024x768 screen.
BAR_LEFT, BAR_RIGHT, BAR_ROWS = 62, 962, range(560, 720)


def is_segment_blue(pixel):
    return pixel[2] > 150 and pixel[0] < 120


def bar_filled(image):
    """Share of the bar's length that shows filled segments: the row with the
    most blue pixels, measured to its last blue pixel."""
    def blues(y):
        return sum(1 for x in range(BAR_LEFT, BAR_RIGHT) if is_segment_blue(image.getpixel((x, y))))
    y = max(BAR_ROWS, key=blues)
    last = max((x for x in range(BAR_LEFT, BAR_RIGHT) if is_segment_blue(image.getpixel((x, y)))), default=BAR_LEFT)
    return (last - BAR_LEFT) / float(BAR_RIGHT - BAR_LEFT)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build")
    ap.add_argument("--interactive", action="store_true")
    ap.add_argument("--bench", metavar="JSON", help="measure the firmware figures into this file instead")
    ap.add_argument("--verbose", action="store_true")
    ap.add_argument("--board", default="board", choices=sorted(bed.BOARDS),
                    help="the board image the demo boots (default %(default)s)")
    ap.add_argument("--platform", choices=["board", "stock"], default="board",
                    help="stock: Debian's OVMF with no board image; the tool loads the UI driver and the "
                         "graphics console adapter from its disk")
    ap.add_argument("--make", action="store_true", help="build the images and volumes first (make does it itself)")
    args = ap.parse_args()
    build = os.path.abspath(os.path.join(ROOT, args.build))
    os.chdir(ROOT)
    if args.make:
        r = subprocess.run(["make", "--no-print-directory", "BUILD=" + args.build, "images", "testbed-images", "package",
                            "pictures-fv"] + ([] if args.bench or args.platform == "stock"
                                              else [args.board]),
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if r.returncode != 0:
            sys.stderr.write(r.stderr.decode(errors="replace"))
            print("FAIL  demo: the build failed")
            return 1
    for tool in ("qemu-system-x86_64", "mkfs.fat", "mcopy"):
        if shutil.which(tool) is None:
            print("demo: %s is not installed (make deps)" % tool)
            return 1
    mode = "bench" if args.bench else "stock" if args.platform == "stock" else "demo"
    shotdir = os.path.join(build, "bench" if args.bench else "demo-stock" if mode == "stock"
                           else "demo" if args.board == "board" else args.board + "-demo")
    os.makedirs(shotdir, exist_ok=True)
    if mode in ("demo", "stock"):  # the screenshots of the last demo go
        for name in os.listdir(shotdir):
            if name[:2].isdigit() and name.endswith((".png", ".txt")):
                os.unlink(os.path.join(shotdir, name))
    if args.interactive:
        if not (os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY")):
            print("demo: INTERACTIVE=1 needs a graphical session (no DISPLAY); run it from a desktop terminal")
            return 1
        bed.BOOT_TIMEOUT = 24 * 3600
        print("demo: a QEMU window opens; choose a volume and a file with the arrow keys and Enter")
    began = time.time()
    run_dir = mode + "-run" if args.board == "board" else "%s-%s-run" % (args.board, mode)
    boot = DemoBoot(build, os.path.join(build, run_dir), shotdir, mode, args.interactive, args.verbose, args.board)
    results = boot.run()
    if args.bench:
        figures = bench_figures(boot.events, boot.serial_bytes)
        with open(args.bench, "w") as f:
            json.dump(figures, f, indent=1)
        print("firmware figures: %s" % figures)
    failed = 0
    for name, ok, detail in results:
        failed += not ok
        print("%s  %s%s" % ("PASS" if ok else "FAIL", name, (": " + detail) if detail else ""))
    for path, problems in boot.shots:
        failed += bool(problems)
        print("%s  %s%s" % ("shot" if not problems else "FAIL", os.path.relpath(path, ROOT),
                            ("  (" + "; ".join(problems) + ")") if problems else ""))
    for line in boot.events:
        if line.split(" ")[1] in ("driver", "pictures", "flashed", "ended", "graphics-console"):
            print("      " + line[6:])
    if mode in ("demo", "stock"):
        print("demo: %d screenshots in %s, %s in %.0f s" % (len(boot.shots), os.path.relpath(shotdir, ROOT),
                                                         "all steps as expected" if not failed else "%d problems" % failed,
                                                         time.time() - began))
        # The same in the test runners' form.
        print("demo checks: %d passed, %d failed" % (len(results) + len(boot.shots) - failed, failed if results else 1))
    else:
        # The summary line of the firmware suites, for the test runner.
        print("%s: %d passed, %d failed" % (mode, len(results) - failed, failed if results else 1))
    if args.interactive and failed and os.path.exists(os.path.join(boot.workdir, "qemu.out")):
        with open(os.path.join(boot.workdir, "qemu.out"), errors="replace") as f:
            print("demo: QEMU said: " + f.read().strip()[-400:])
    return 0 if failed == 0 and results else 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause-Patent
"""Firmware test bed runner: boots OVMF under QEMU (TCG) once per scenario
group (one processor model each) with the test application as the boot
program, serves the application's requests (screenshots, keys, timed spans)
through the QEMU monitor, and reports one line per scenario and a summary:

    firmware: N passed, M failed

The application writes its requests and results to the debug console port
0x402 as lines starting with "@bed"; the console's serial VT100 mirror is
turned into a text grid for the screen checks in checks.py.

    test/bed/run.py --build build [--group NAME] [--keep] [--verbose]
"""
import argparse
import concurrent.futures
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "tools"))

from pyreq import require  # noqa: E402

# A missing module says what to install instead of a traceback.
require("pyte")
require("PIL.Image")
import checks  # noqa: E402
from screen import TERMINAL_ASCII, Terminal  # noqa: E402

OVMF_CODE = "/usr/share/OVMF/OVMF_CODE_4M.fd"
OVMF_VARS = "/usr/share/OVMF/OVMF_VARS_4M.fd"

# Scenario groups: one boot each. "needs" lists images of which at least one
# must be built for the boot to be worth its time.
GROUPS = [
    # The RTL8139 (no option ROM) is the network controller NetIdentityDxe finds
    # behind the board's bridges; its MAC is one that gets stamped.
    {"name": "default", "cpu": "qemu64", "needs": ["SelfTestDxe"],
     "extra": ["-device", "rtl8139,romfile=,mac=f4:b5:20:6b:00:01"]},
    # The UI engine's runs, which wait on keys and screens: their own boot, so
    # that it goes side by side with the others.
    {"name": "ui", "cpu": "qemu64", "needs": ["TarvexUIV4x64"]},
    # Family 19h model 60h (leaf 0x80000001 0x00A60F00) with "F" at brand character 16.
    {"name": "fam19f", "cpu": "qemu64,family=25,model=96,model-id=TestBed CPU 0000F", "needs": ["BootDelayDxe"]},
    # The same family with QEMU's own brand string (a blank at character 16).
    {"name": "fam19", "cpu": "qemu64,family=25,model=96", "needs": ["BootDelayDxe"]},
    # Family 15h model 60h (leaf 1 0x00660F00).
    {"name": "fam15", "cpu": "qemu64,family=21,model=96", "needs": ["PstateOverrideDxe", "NetIdentityDxe"],
     "extra": ["-device", "rtl8139,romfile=,mac=f4:b5:20:6b:00:01"]},
    # Family 1Ah model 40h (leaf 0x80000001 0x00B40F00).
    {"name": "fam1a", "cpu": "qemu64,family=26,model=64", "needs": ["SetupTokenSmm"]},
    # Our drivers' volume (make package) dispatched by the stock OVMF's own DXE
    # dispatcher. A stage of its own: runs only when named, and reports under
    # its own summary line ("dispatch: ...").
    {"name": "dispatch", "cpu": "qemu64", "needs": ["TarvexUIV4x64"], "own": True,
     "files": {"bed/drivers.fv": ("fv/drivers.fv", "make package")}},
]

# The board images: our drivers dispatched from flash by an SMM-enabled OVMF.
# "board" (make board) is Debian's binary OVMF with our files and the test
# stand-ins inserted; "edk2-board" (make edk2-board) is OVMF built from
# Debian's source with the package and its adapters added by the README's
# steps, and "edk2-board-debug" its DEBUG build. Each image's boots report
# under a summary line named after it ("board: ..."). The network card sits
# behind the board's route of bridges: 00:02.1, then (S+1):01.0.
BOARDS = {"board": "make board", "edk2-board": "make edk2-board", "edk2-board-debug": "make edk2-board-debug",
          "edk2-board-without-PcdBridgeDxe": "make edk2-board-test"}


def board_file(board, name):
    """The image's file (OVMF_CODE.fd or OVMF_VARS.fd), relative to the build."""
    return "%s/%s" % (board, name)


# What the test application is told about the board it runs on: the images
# built from source carry the package's adapters instead of the stand-ins.
def board_variant(board):
    return "edk2" if board.startswith("edk2") else "standins"


# The drivers' error messages on the debug output (the debug print stand-in
# prefixes "DBG <level> "); the identity driver's note when it finds its
# identity already stamped.
DRIVER_ERROR = re.compile(r"^(?:DBG [0-9a-f]+ )?\[(CfgPcdBufLibDxeConstructor|NetIdentityEntry|PcdBridgeDxe)\] ")
IDENTITY_IN_PLACE = "[StampSystemIdentity] not stamped: the identity is already in place"
# Messages of our drivers and adapters written straight to the debug port
# (the source-built board's debug print adapters print no "DBG" prefix).
OUR_MESSAGE = re.compile(r"^\[(StampSystemIdentity|SetupTokenSmm|PcdBridgeDxe|CfgPcdBufLibDxeConstructor|NetIdentityEntry)\] ")
BOARD_NIC = ["-device", "pcie-root-port,id=rp0,bus=pcie.0,addr=0x2.0x0,chassis=1,multifunction=on",
             "-device", "pcie-root-port,id=rp1,bus=pcie.0,addr=0x2.0x1,chassis=2",
             "-device", "x3130-upstream,id=up,bus=rp1",
             "-device", "xio3130-downstream,id=dn,bus=up,addr=0x1.0x0,chassis=3,slot=1",
             "-device", "rtl8139,romfile=,mac=f4:b5:20:6b:00:01,bus=dn"]
BOARD_DELAY = 3  # seconds the first boot stores in Setup for the second
BOARD_GROUPS = [
    # First boot on a fresh store: everything dispatched, the identity stamped
    # at End-of-DXE, no SMI handler on this family.
    {"name": "board", "cpu": "qemu64", "board": True, "extra": BOARD_NIC, "identity_in_place": False},
    # Second boot on the same store: identity kept; the time to the boot
    # program without a delay (a first boot also sets up the store, so it is
    # no measure); stores a boot delay.
    {"name": "board-again", "cpu": "qemu64", "board": True, "extra": BOARD_NIC, "vars_from": "board",
     "identity_in_place": True},
    # Third boot: held BOARD_DELAY s longer than the second.
    {"name": "board-delay", "cpu": "qemu64", "board": True, "extra": BOARD_NIC, "vars_from": "board-again",
     "delay_against": "board-again"},
    # The SMM driver's family: settings requests through real SMIs; stores
    # an enabled P-state override.
    {"name": "board-smm", "cpu": "qemu64,family=26,model=64", "board": True},
    # The P-state override's family, on that store.
    {"name": "board-fam15", "cpu": "qemu64,family=21,model=96", "board": True, "vars_from": "board-smm"},
]

# Modification time of the generated files: 5 March 2021, 12:00 local time.
FILE_TIME = time.mktime((2021, 3, 5, 12, 0, 0, 0, 0, -1))

BOOT_TIMEOUT = float(os.environ.get("BED_BOOT_TIMEOUT", "300"))
# Boots at a time: one per core, as each QEMU keeps one busy while it runs.
JOBS = int(os.environ.get("BED_JOBS", "0")) or min(2, os.cpu_count() or 1)
# The QEMUs running now, which an ended runner ends too.
RUNNING = set()
SCENARIO_TIMEOUT = float(os.environ.get("BED_SCENARIO_TIMEOUT", "120"))


class Monitor:
    """The QEMU human monitor over a unix socket."""

    def __init__(self, path, deadline, proc):
        self.sock = None
        while time.time() < deadline and proc.poll() is None:
            try:
                s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                s.connect(path)
                self.sock = s
                break
            except OSError:
                s.close()
                time.sleep(0.05)
        if self.sock is None:
            raise RuntimeError("QEMU did not start (exit status %s); see qemu.out" % proc.poll())
        self.sock.settimeout(20)
        self._read_prompt()

    def _read_prompt(self):
        data = b""
        while not data.endswith(b"(qemu) "):
            chunk = self.sock.recv(4096)
            if not chunk:
                raise RuntimeError("monitor closed")
            data += chunk
        return data.decode(errors="replace")

    def command(self, text):
        self.sock.sendall(text.encode() + b"\n")
        return self._read_prompt()

    def close(self):
        if self.sock:
            self.sock.close()


def make_disk(path, files, size_mb=32, label="BEDDISK"):
    """A FAT disk image holding files: {path on disk: host path or bytes}."""
    with open(path, "wb") as f:
        f.truncate(size_mb * 1024 * 1024)
    subprocess.run(["mkfs.fat", "-F", "16" if size_mb < 256 else "32", "-n", label, path],
                   check=True, stdout=subprocess.DEVNULL)
    dirs = {}  # FAT names are case-insensitive: one entry per folder
    for dest in files:
        parts = dest.strip("/").split("/")[:-1]
        for i in range(1, len(parts) + 1):
            d = "/".join(parts[:i])
            dirs.setdefault(d.lower(), d)
    for d in sorted(dirs.values(), key=len):
        subprocess.run(["mmd", "-i", path, "::/" + d], check=True)
    for dest, src in files.items():
        if isinstance(src, (bytes, bytearray)):
            tmp = path + ".tmp"
            with open(tmp, "wb") as f:
                f.write(src)
            os.utime(tmp, (FILE_TIME, FILE_TIME))
            src = tmp
        subprocess.run(["mcopy", "-m", "-o", "-i", path, src, "::/" + dest.strip("/")], check=True)
    if os.path.exists(path + ".tmp"):
        os.unlink(path + ".tmp")


class Boot:
    """One QEMU boot of one scenario group."""

    def __init__(self, group, build, workdir, shotdir, verbose, board="board"):
        self.group = group
        self.board = board  # which board image a board group boots (BOARDS)
        # Work directories of other images' boots sit beside, named apart.
        self.run_prefix = "" if board == "board" else board + "-"
        self.debug_lines = []  # the firmware's own debug output, kept for the checks
        self.asserted = False
        self.build = build
        self.workdir = workdir
        self.shotdir = shotdir
        self.verbose = verbose
        self.results = []  # (name, passed, detail)
        self.notes = []  # figures for the report
        self.details = {}  # scenario -> [check lines]
        self.terminal = Terminal()
        self.times = {}
        self.ended = False
        self.started = None
        self.begin_at = None  # seconds from QEMU's start to the boot program's first line

    def log(self, text):
        if self.verbose:
            print("  [%s] %s" % (self.group["name"], text), flush=True)

    def prepare(self):
        os.makedirs(self.workdir, exist_ok=True)
        efi = os.path.join(self.build, "efi")
        plan = self.group["name"]
        if self.group.get("board"):
            plan += " " + board_variant(self.board)
        files = {"EFI/BOOT/BOOTX64.EFI": os.path.join(efi, "TestBedApp.efi"),
                 "bed/plan.txt": (plan + "\n").encode()}
        for name in sorted(os.listdir(efi)):
            if name.endswith(".efi"):
                files["efi/" + name] = os.path.join(efi, name)
        files.update(checks.extra_files(self.build, board=bool(self.group.get("board"))))
        for dest, (path, how) in self.group.get("files", {}).items():
            path = os.path.join(self.build, path)
            if not os.path.exists(path):
                raise FileNotFoundError("%s is missing (%s)" % (path, how))
            files[dest] = path
        self.disk = os.path.join(self.workdir, "disk.img")
        make_disk(self.disk, files)
        self.extra_disks = []
        for i, (label, content) in enumerate(checks.extra_volumes()):
            path = os.path.join(self.workdir, "vol%d.img" % i)
            make_disk(path, content, size_mb=64, label=label)
            self.extra_disks.append(path)
        self.vars = os.path.join(self.workdir, "vars.fd")
        if self.group.get("vars_from"):  # the store an earlier boot left
            shutil.copyfile(os.path.join(os.path.dirname(self.workdir), self.run_prefix + self.group["vars_from"], "vars.fd"),
                            self.vars)
        elif self.group.get("board"):
            shutil.copyfile(os.path.join(self.build, board_file(self.board, "OVMF_VARS.fd")), self.vars)
        else:
            shutil.copyfile(OVMF_VARS, self.vars)  # a fresh variable store per boot
        for name in ("serial.log", "debug.log", "mon.sock"):
            p = os.path.join(self.workdir, name)
            if os.path.exists(p):
                os.unlink(p)

    def command_line(self):
        w = self.workdir
        code = OVMF_CODE
        machine = ["-machine", "q35"]
        if self.group.get("board"):
            code = os.path.join(self.build, board_file(self.board, "OVMF_CODE.fd"))
            machine = ["-machine", "q35,smm=on", "-global", "driver=cfi.pflash01,property=secure,value=on"]
        cmd = ["qemu-system-x86_64"] + machine + ["-m", "256", "-cpu", self.group["cpu"],
               "-drive", "if=pflash,format=raw,readonly=on,file=" + code,
               "-drive", "if=pflash,format=raw,file=" + self.vars,
               "-drive", "file=%s,format=raw,if=ide" % self.disk]
        for path in self.extra_disks:
            cmd += ["-drive", "file=%s,format=raw,if=ide" % path]
        cmd += ["-net", "none", "-display", "none",
                "-serial", "file:" + os.path.join(w, "serial.log"),
                "-debugcon", "file:" + os.path.join(w, "debug.log"), "-global", "isa-debugcon.iobase=0x402",
                "-monitor", "unix:%s,server,nowait" % os.path.join(w, "mon.sock"),
                "-vga", "none", "-device", "VGA,xres=1024,yres=768",
                "-device", "isa-debug-exit,iobase=0xf4,iosize=0x04", "-no-reboot"] + self.group.get("extra", [])
        return cmd

    def fail(self, name, detail):
        self.results.append((name, False, detail))

    def run(self):
        try:
            self.prepare()
        except Exception as e:
            self.fail("boot " + self.group["name"], "could not prepare the disk: %s" % e)
            return self.results
        deadline = time.time() + BOOT_TIMEOUT
        out = open(os.path.join(self.workdir, "qemu.out"), "wb")
        proc = subprocess.Popen(self.command_line(), stdout=out, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, start_new_session=True)
        RUNNING.add(proc)
        monitor = None
        self.started = time.time()
        try:
            monitor = Monitor(os.path.join(self.workdir, "mon.sock"), deadline, proc)
            self.monitor = monitor
            self.loop(proc, deadline)
        except Exception as e:  # the boot fails, never the runner
            self.fail("boot " + self.group["name"], "runner error: %s" % e)
        finally:
            if proc.poll() is None:
                proc.kill()
            proc.wait()
            RUNNING.discard(proc)
            if monitor:
                monitor.close()
            out.close()
        if self.group.get("board") and self.ended and not self.asserted:
            self.board_debug_checks()
        return self.results

    def read_new(self, path, offset):
        try:
            with open(path, "rb") as f:
                f.seek(offset)
                return f.read()
        except FileNotFoundError:
            return b""

    def loop(self, proc, deadline):
        debug_path = os.path.join(self.workdir, "debug.log")
        serial_path = os.path.join(self.workdir, "serial.log")
        debug_off = serial_off = 0
        serial_tail = b""
        pending = b""
        end_seen_at = None
        while True:
            data = self.read_new(debug_path, debug_off)
            debug_off += len(data)
            pending += data
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                self.handle(line.decode(errors="replace").rstrip("\r"), serial_path)
            # A processor exception stops the firmware for good: say so at once.
            data = self.read_new(serial_path, serial_off)
            serial_off += len(data)
            serial_tail = (serial_tail + data)[-4096:]
            at = serial_tail.find(b"!!!! X64 Exception")
            if at >= 0:
                time.sleep(0.5)  # let the register dump follow
                dump = (serial_tail[at:] + self.read_new(serial_path, serial_off)).decode(errors="replace")
                rip = [l.strip() for l in dump.splitlines() if l.startswith("RIP")]
                self.fail("boot " + self.group["name"], "firmware exception during %s: %s %s"
                          % (self.current or "start-up", dump.splitlines()[0].strip(), rip[0] if rip else ""))
                return
            if self.asserted:  # a DEBUG firmware stops for good at an ASSERT
                return
            if self.ended and end_seen_at is None:
                end_seen_at = time.time()
            code = proc.poll()
            if code is not None:
                data = self.read_new(debug_path, debug_off)
                for line in (pending + data).split(b"\n"):
                    if line.strip():
                        self.handle(line.decode(errors="replace"), serial_path)
                if not self.ended:
                    self.fail("boot " + self.group["name"],
                              "QEMU exited (%d) before the test application finished; last scenario: %s"
                              % (code, self.current or "none"))
                elif code != 0:
                    self.fail("boot " + self.group["name"], "QEMU exit status %d" % code)
                return
            if end_seen_at is not None and time.time() - end_seen_at > 20:
                self.fail("boot " + self.group["name"], "the machine did not power off after the last scenario")
                return
            if self.current and time.time() - self.current_started > SCENARIO_TIMEOUT:
                self.fail("boot " + self.group["name"], "scenario %s took longer than %d s" % (self.current, SCENARIO_TIMEOUT))
                return
            if time.time() > deadline:
                self.fail("boot " + self.group["name"], "hard timeout after %d s; last scenario: %s"
                          % (BOOT_TIMEOUT, self.current or "none"))
                return
            time.sleep(0.02)

    current = None
    current_started = 0.0

    def handle(self, line, serial_path):
        if not line.startswith("@bed "):
            if line.strip():
                self.log("dbg " + line)
                if self.group.get("board"):
                    self.board_debug_line(line.strip())
            return
        self.log(line)
        words = line.split(" ")
        kind = words[1] if len(words) > 1 else ""
        if kind == "begin":
            self.begin_at = time.time() - self.started
        elif kind == "start":
            self.current = words[2]
            self.current_started = time.time()
            self.details[self.current] = []
        elif kind == "check":
            self.details.setdefault(words[2], []).append(" ".join(words[3:]))
        elif kind == "result":
            name, verdict = words[2], words[3]
            self.results.append((name, verdict == "pass", "; ".join(self.details.get(name, []))))
            self.current = None
        elif kind == "shot":
            self.shot(words[2], serial_path)
        elif kind == "script":
            self.script(words[2], serial_path)
        elif kind == "keys":
            for key in words[2:]:
                if key not in checks.KEYS:
                    self.fail("%s (keys)" % self.current, "no key named %r (checks.KEYS)" % key)
                    continue
                self.monitor.command("sendkey " + key)
                time.sleep(0.12)
        elif kind == "time":
            name, what = words[2], words[3]
            if what == "start":
                self.times[name] = time.time()
            else:
                self.timed(name, float(words[4]) / 1000.0)
        elif kind == "note" and self.group.get("board"):
            self.notes.append(" ".join(words[2:]))  # the board boots' figures go into the report
        elif kind == "end":
            self.ended = True
            if words[2:3] == ["0"]:
                self.fail("boot " + self.group["name"], "the test application has no scenario for this group")

    def board_debug_line(self, line):
        """A line of the board's debug output: the debug print's messages go
        into the notes, and a firmware ASSERT (a DEBUG build) ends the boot."""
        self.debug_lines.append(line)
        if line.startswith("DBG "):
            self.notes.append("debug print: " + line[4:].strip())
        elif OUR_MESSAGE.match(line):
            self.notes.append("debug port: " + line)
        if re.search(r"\bASSERT\b", line) and not self.asserted:
            self.asserted = True
            self.fail("boot " + self.group["name"], "firmware ASSERT during %s: %s" % (self.current or "start-up", line))

    def board_debug_checks(self):
        """What the board's debug output must and must not hold: no error
        message of our drivers, and the identity driver's note exactly when
        the identity was already stamped."""
        errors = [l for l in self.debug_lines if DRIVER_ERROR.match(l)]
        self.results.append(("%s.debug-output" % self.group["name"], not errors,
                             "error messages: %s" % "; ".join(errors[:3]) if errors else ""))
        want = self.group.get("identity_in_place")
        if want is not None:
            seen = any(l.endswith(IDENTITY_IN_PLACE) for l in self.debug_lines)
            self.results.append(("%s.identity-note" % self.group["name"], seen == want,
                                 "the identity driver %s that the identity was already in place"
                                 % ("said" if seen else "did not say")))

    def serial_size(self, serial_path):
        try:
            return os.path.getsize(serial_path)
        except OSError:
            return 0

    def script(self, name, serial_path):
        """Drives a run from the host while the application waits in it:
        keys, screenshots, and serial-traffic measurements (checks.SCRIPTS)."""
        steps = checks.SCRIPTS.get(name)
        if steps is None:
            self.fail(name + " (script)", "no such script")
            return
        unknown = [s[1] for s in steps if s[0] in ("key", "measure") and s[1] not in checks.KEYS]
        if unknown:
            self.fail(name + " (script)", "no key named %s (checks.KEYS)" % ", ".join(map(repr, unknown)))
            return
        time.sleep(1.0)  # the first screen settles
        session = []  # (key, the screen before it)
        for step in steps:
            what = step[0]
            if what in ("key", "measure"):
                self.terminal.feed(self.read_new(serial_path, self.terminal.fed))
                session.append((step[1], self.terminal.snapshot()))
            if what == "key":
                self.monitor.command("sendkey " + step[1])
                time.sleep(0.5)
            elif what == "shot":
                self.shot(step[1], serial_path)
            elif what == "until":
                # Work the caller paces with its own event: wait for its text.
                deadline = time.time() + step[2]
                while True:
                    self.terminal.feed(self.read_new(serial_path, self.terminal.fed))
                    if self.terminal.snapshot().find(step[1]) is not None:
                        break
                    if time.time() > deadline:
                        self.fail("%s (script)" % name, "%r not on the screen after %d s" % (step[1], step[2]))
                        break
                    time.sleep(0.2)
            elif what == "idle":
                # A run that waits for keys must leave the console alone.
                before = self.serial_size(serial_path)
                time.sleep(step[1])
                grown = self.serial_size(serial_path) - before
                self.results.append(("%s (serial)" % step[2], grown == 0,
                                     "%d bytes written in %.1f s without a key" % (grown, step[1])))
            elif what == "note-idle":
                # A figure for the report, not a check: the run's serial traffic while idle.
                before = self.serial_size(serial_path)
                time.sleep(step[1])
                grown = self.serial_size(serial_path) - before
                self.notes.append("%s: %d serial bytes in %.1f s without a key" % (step[2], grown, step[1]))
            elif what == "measure":
                before = self.serial_size(serial_path)
                self.monitor.command("sendkey " + step[1])
                time.sleep(0.8)
                grown = self.serial_size(serial_path) - before
                # Kept for whoever wants to see what the key cost.
                with open(os.path.join(self.shotdir, "%s-%s.serial" % (self.group["name"], step[2])), "wb") as f:
                    f.write(self.read_new(serial_path, before)[:grown])
                self.results.append(("%s (serial)" % step[2], grown <= step[3],
                                     "one %s key wrote %d serial bytes (bound %d)" % (step[1], grown, step[3])))
        if name in checks.HOST_SESSIONS:
            self.compare_with_host(name, session)

    def compare_with_host(self, name, session):
        """The same keys on the host, against the fake platform (the host
        tool ui_session, built with the host tests): after every key the
        host's screen must equal the firmware's, cell by cell, in characters
        and in attributes (but for bit 7, which the terminal does not carry)."""
        exe = os.path.join(self.build, "host", "test", "ui", "ui_session")
        if not os.path.exists(exe):
            self.fail(name + " (host = firmware)", "%s is missing: build the host tests first" % exe)
            return
        out = os.path.join(self.workdir, "session-host")
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        listing = os.path.join(out, "volumes.txt")
        with open(listing, "w") as f:
            f.write(checks.session_volumes())
        keys = ["%X,%X" % checks.KEYS[key] for key, _ in session]
        r = subprocess.run([exe, listing, out] + keys, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        if r.returncode != 0:
            lines = r.stdout.decode(errors="replace").splitlines()
            self.fail(name + " (host run)", "; ".join(l for l in lines if "Failure" in l or "ERROR" in l)[:300]
                      or "exit status %d" % r.returncode)
            return
        for i, (key, grid) in enumerate(session):
            label = "%s.screen-%02d (host = firmware)" % (name, i)
            try:
                with open(os.path.join(out, "%02d.txt" % i), encoding="utf-8") as f:
                    lines = f.read().split("\n")
            except OSError:
                self.fail(label, "the host wrote no screen before key %d (%s)" % (i, key))
                continue
            text, attrs = [line.translate(TERMINAL_ASCII) for line in lines[:27]], lines[27:54]
            diffs = []
            for row in range(27):
                for col in range(100):
                    if (col, row) == (99, 26):
                        continue  # never written
                    ha = int(attrs[row][2 * col:2 * col + 2], 16) & 0x7F
                    if grid.text[row][col] != text[row][col] or grid.attr[row][col] != ha:
                        diffs.append("(%d, %d) firmware %r %02X, host %r %02X"
                                     % (col, row, grid.text[row][col], grid.attr[row][col], text[row][col], ha))
            detail = "before key %s: %d cells differ, %s" % (key, len(diffs), "; ".join(diffs[:4])) if diffs else ""
            self.results.append((label, not diffs, detail))

    def timed(self, name, expect):
        start = self.times.pop(name, None)
        if start is None:
            self.fail(name + " (host clock)", "span stopped without a start")
            return
        took = time.time() - start
        # Loading and starting an image under TCG adds a little; a missing or
        # an extra second of delay is what must show.
        low, high = expect - 0.25, expect + 0.9
        ok = low <= took <= high
        self.results.append((name + " (host clock)", ok, "took %.2f s, expected %.1f s" % (took, expect)))

    @staticmethod
    def load_png(png):
        """The screenshot, once QEMU has finished writing it."""
        from PIL import Image
        error = None
        for _ in range(50):
            try:
                image = Image.open(png)
                image.load()
                return image.convert("RGB")
            except (OSError, SyntaxError) as e:  # not there yet, or still being written
                error = e
                time.sleep(0.05)
        raise RuntimeError("screenshot %s unreadable: %s" % (png, error))

    def shot(self, name, serial_path):
        png = os.path.join(self.shotdir, "%s-%s.png" % (self.group["name"], name))
        self.monitor.command("screendump %s -f png" % png)
        data = self.read_new(serial_path, self.terminal.fed)
        self.terminal.feed(data)
        grid = self.terminal.snapshot()
        with open(png[:-4] + ".txt", "w") as f:
            f.write(grid.dump())
        check = checks.SHOT_CHECKS.get(name)
        if check is None:
            return
        try:
            image = self.load_png(png)
            problems = check(grid, image)
        except Exception as e:
            problems = ["check raised %r" % e]
        self.results.append((name + " (screen)", not problems, "; ".join(problems)))


def report(results, boot, took):
    """Prints a group's lines; returns (passed, failed)."""
    passed = failed = 0
    for note in boot.notes:
        print("      note: " + note)
    for name, ok, detail in results:
        passed += ok
        failed += not ok
        print("%s  %s%s" % ("PASS" if ok else "FAIL", name, (" (%s)" if ok else ": %s") % detail if detail else ""))
    first = "first boot option after %.1f s, " % boot.begin_at if boot.begin_at is not None else ""
    print("      (%s: %sboot and scenarios %.1f s)" % (boot.group["name"], first, took), flush=True)
    return passed, failed


def select_groups(groups, names):
    """The groups named (when none is, all but those that run only when
    named); a name that is no group is an error."""
    unknown = sorted(set(names or []) - {g["name"] for g in groups})
    if unknown:
        raise RuntimeError("no group named %s (groups: %s)" % (", ".join(unknown), ", ".join(g["name"] for g in groups)))
    return [g for g in groups if g["name"] in names] if names else [g for g in groups if not g.get("own")]


def delay_seconds(boots):
    """How much later the held boot's program started than its reference's,
    or None when either did not start or did not run."""
    for name, (boot, _, _) in boots.items():
        other = boots.get(boot.group.get("delay_against"), (None,))[0]
        if other is not None:
            if boot.begin_at is None or other.begin_at is None:
                return None
            return boot.begin_at - other.begin_at
    return None


def delay_held(boots):
    diff = delay_seconds(boots)
    return diff is not None and BOARD_DELAY - 1.0 <= diff <= BOARD_DELAY + 1.0


def run_board(build, shotdir, groups, args):
    """The board image's boots: three in turn on one store, the SMM
    family's boot beside the first."""
    import threading
    board = args.board
    code = board_file(board, "OVMF_CODE.fd")
    if not os.path.exists(os.path.join(build, code)):
        print("FAIL  %s: %s is missing (%s)" % (board, code, BOARDS[board]))
        print("%s: 0 passed, 1 failed" % board)
        return 1
    began = time.time()
    boots = {}
    prefix = "" if board == "board" else board + "-"

    def run(group):
        t0 = time.time()
        boot = Boot(group, build, os.path.join(build, "bed-run", prefix + group["name"]), shotdir, args.verbose, board)
        results = boot.run() or [("boot " + group["name"], False, "no scenario reported")]
        boots[group["name"]] = (boot, results, time.time() - t0)

    def chain(names):
        for g in groups:
            if g["name"] in names:
                run(g)

    # The first boot and the SMM boot side by side; the two boots whose times
    # are compared then run alone, so both see the same machine.
    threads = [threading.Thread(target=chain, args=(names,)) for names in (("board",), ("board-smm", "board-fam15"))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    chain(("board-again", "board-delay"))
    # The two start times come from the host clock: a loaded machine can skew
    # one boot by seconds, so a pair outside the bound is measured once more.
    # A delay that is really missing or wrong fails both times.
    if delay_seconds(boots) is not None and not delay_held(boots):
        chain(("board-again", "board-delay"))
    passed = failed = 0
    for g in groups:
        if g["name"] not in boots:
            continue
        boot, results, took = boots[g["name"]]
        other = boots.get(g.get("delay_against"), (None,))[0]
        if other is not None:
            # Setup's count held this boot: its boot program starts that much later.
            diff = delay_seconds(boots)
            if diff is None:
                results.append(("board.boot-delay (host clock)", False, "a boot program did not start"))
            else:
                ok = delay_held(boots)
                results.append(("board.boot-delay (host clock)", ok, "first boot option %.1f s later with a delay of %d s"
                                % (diff, BOARD_DELAY)))
        p, f = report(results, boot, took)
        passed, failed = passed + p, failed + f
    if not args.keep:
        for g in groups:
            workdir = os.path.join(build, "bed-run", prefix + g["name"])
            for name in os.listdir(workdir) if os.path.isdir(workdir) else []:
                if name.endswith(".img") or name.endswith(".fd"):
                    os.unlink(os.path.join(workdir, name))
    print("      (%s boots %.1f s)" % (board, time.time() - began))
    print("%s: %d passed, %d failed" % (board, passed, failed))
    return 0 if failed == 0 and passed > 0 else 1


def end_runner(number, frame):
    # Ending the runner from outside must still end its QEMUs, which run in
    # the boot threads.
    for proc in list(RUNNING):
        proc.kill()
    sys.exit(128 + number)


def run_boots(boots, jobs):
    """Runs the boots, jobs at a time; yields (boot, results, seconds) in the
    boots' order as each is done."""
    def one(boot):
        t0 = time.time()
        return boot.run(), time.time() - t0
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
        futures = [pool.submit(one, b) for b in boots]
        for boot, future in zip(boots, futures):
            results, took = future.result()
            yield boot, results, took


def main():
    for sig in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(sig, end_runner)
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build")
    ap.add_argument("--group", action="append", help="run only these groups")
    ap.add_argument("--keep", action="store_true", help="keep the work directories")
    ap.add_argument("--verbose", action="store_true")
    ap.add_argument("--jobs", type=int, default=JOBS, help="boots at a time (default %(default)s)")
    ap.add_argument("--no-make", action="store_true", help="do not (re)build the images first")
    ap.add_argument("--board", nargs="?", const="board", choices=sorted(BOARDS),
                    help="boot a board image instead (default board: make board; edk2-board: make edk2-board)")
    args = ap.parse_args()
    build = os.path.abspath(os.path.join(ROOT, args.build) if not os.path.isabs(args.build) else args.build)
    os.chdir(ROOT)
    if not args.no_make:
        targets = ["images", "testbed-images", "pictures-fv"] + ([args.board] if args.board else [])
        r = subprocess.run(["make", "--no-print-directory", "BUILD=" + args.build] + targets,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if r.returncode != 0:
            sys.stderr.write(r.stderr.decode(errors="replace"))
            print("FAIL  images: the build failed")
            print("firmware: 0 passed, 1 failed")
            return 1
    for tool in ("qemu-system-x86_64", "mkfs.fat", "mcopy"):
        if shutil.which(tool) is None:
            print("FAIL  test bed: %s is not installed (make deps)" % tool)
            print("firmware: 0 passed, 1 failed")
            return 1
    summary = args.board or "firmware"
    try:
        groups = select_groups(BOARD_GROUPS if args.board else GROUPS, args.group)
        if groups and all(g.get("own") for g in groups):
            summary = "+".join(g["name"] for g in groups)
        checks.extra_files(build, board=args.board)
        built = {n[:-4] for n in os.listdir(os.path.join(build, "efi")) if n.endswith(".efi")}
        for group in groups:
            if not any(n in built for n in group.get("needs", ["TestBedApp"])):
                raise RuntimeError("group %s: none of %s is built" % (group["name"], ", ".join(group["needs"])))
    except (OSError, RuntimeError) as e:
        print("FAIL  test bed: %s" % e)
        print("%s: 0 passed, 1 failed" % summary)
        return 1
    shotdir = os.path.join(build, "bed")
    os.makedirs(shotdir, exist_ok=True)
    if args.board:
        return run_board(build, shotdir, groups, args)
    passed = failed = 0
    began = time.time()
    boots = [Boot(group, build, os.path.join(build, "bed-run", group["name"]), shotdir, args.verbose) for group in groups]
    for boot, results, took in run_boots(boots, args.jobs):
        group, workdir = boot.group, boot.workdir
        if not results:
            results = [("boot " + group["name"], False, "no scenario reported")]
        p, f = report(results, boot, took)
        passed, failed = passed + p, failed + f
        if not args.keep:
            for name in os.listdir(workdir):
                if name.endswith(".img") or name.endswith(".fd"):
                    os.unlink(os.path.join(workdir, name))
    print("      (firmware suite %.1f s, %d boots at a time)" % (time.time() - began, args.jobs))
    print("%s: %d passed, %d failed" % (summary, passed, failed))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Collects the project's figures into build/bench/report.md, each beside the
aim set for it, with a line saying by how much where an aim is missed:

  image sizes            build/efi/*.efi (make images)
  compositor passes      the Google Benchmark target ui_screen_bench
  SMI request cost       test/setuptoken/bench.sh (callgrind)
  firmware figures       the demo tool's bench run in OVMF (examples/flash_tool/demo.py --bench)

    tools/bench.py --build build [--skip-firmware]

A figure that cannot be measured (a missing tool, a failed build) is reported
as such; the report is written either way, and the exit status is non-zero
only when a figure could not be measured (missed aims are in the report).
"""
import argparse
import datetime
import json
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PYTHON = "/usr/bin/python3"
KiB = 1024

# Image size aims, in bytes.
SIZE_AIMS = [
    ("BootDelayDxe", 6 * KiB), ("PstateOverrideDxe", 6 * KiB), ("PcdCacheDxe", 6 * KiB), ("PcdCacheLiteDxe", 6 * KiB),
    ("NetIdentityDxe", 10 * KiB), ("SetupTokenSmm", 8 * KiB), ("TarvexUIV4x64", 48 * KiB),
]
IDLE_PASS_AIM_US = 50.0
SMI_AIM = 6000
DOWN_SERIAL_AIM = 200


class Row:
    """One line of the report: what, measured, aim and whether it was met
    (None when there is no aim or nothing was measured)."""

    def __init__(self, what, measured, aim="", met=None, miss=""):
        self.what, self.measured, self.aim, self.met, self.miss = what, measured, aim, met, miss

    def verdict(self):
        return {True: "met", False: "**missed**", None: "—"}[self.met]


def run(cmd, log, **kw):
    """Runs cmd with its output in log; returns (exit status, output)."""
    with open(log, "w") as f:
        r = subprocess.run(cmd, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kw)
        out = r.stdout.decode(errors="replace")
        f.write(out)
    return r.returncode, out


def image_sizes(build):
    rows = []
    for name, aim in SIZE_AIMS:
        path = os.path.join(build, "efi", name + ".efi")
        if not os.path.exists(path):
            rows.append(Row("`%s` image size" % name, "not built", "≤ %d bytes (%d KiB)" % (aim, aim // KiB)))
            continue
        size = os.path.getsize(path)
        met = size <= aim
        rows.append(Row("`%s` image size" % name, "%d bytes" % size, "≤ %d bytes (%d KiB)" % (aim, aim // KiB), met,
                        "" if met else "%s is %d bytes over its aim (%.0f%% of it)" % (name, size - aim, 100.0 * size / aim)))
    return rows


def compositor(build, out):
    hostdir = os.path.join(build, "bench", "host")
    log = os.path.join(out, "compositor.log")
    cmds = [["cmake", "-S", ".", "-B", hostdir, "-G", "Ninja", "-DCMAKE_CXX_COMPILER=clang++", "-DCMAKE_C_COMPILER=clang"],
            ["cmake", "--build", hostdir, "--target", "ui_screen_bench", "-j2"]]
    for cmd in cmds:
        status, text = run(cmd, log)
        if status:
            return [Row("compositor passes", "not measured: the benchmark did not build (%s)" % os.path.relpath(log, ROOT))]
    exe = os.path.join(hostdir, "test", "ui", "ui_screen_bench")
    js = os.path.join(out, "compositor.json")
    status, text = run([exe, "--benchmark_format=json", "--benchmark_out=" + js, "--benchmark_out_format=json",
                        "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"], log)
    if status or not os.path.exists(js):
        return [Row("compositor passes", "not measured: the benchmark failed (%s)" % os.path.relpath(log, ROOT))]
    with open(js) as f:
        data = json.load(f)
    rows = []
    for b in data["benchmarks"]:
        if b.get("aggregate_name") not in (None, "median"):
            continue
        name = b.get("run_name", b["name"]).replace("BM_", "")
        unit = b.get("time_unit", "us")
        t = b["real_time"] * {"ns": 1e-3, "us": 1.0, "ms": 1e3}[unit]
        counters = "%d console calls, %d OutputString, %d characters" % (
            b.get("console_calls", 0), b.get("output_strings", 0), b.get("characters", 0))
        measured = "%.2f µs; %s" % (t, counters)
        if name == "IdlePass":
            met = t < IDLE_PASS_AIM_US
            rows.append(Row("compositor: idle pass", measured, "< %g µs" % IDLE_PASS_AIM_US, met,
                            "" if met else "an idle pass takes %.1f µs, %.1f µs over its aim" % (t, t - IDLE_PASS_AIM_US)))
        elif name == "OneChangedCell":
            met = b.get("output_strings") == 1 and b.get("characters") == 1
            rows.append(Row("compositor: pass after one changed cell", measured, "one OutputString of one character", met,
                            "" if met else "one changed cell costs %d OutputString calls and %d characters"
                            % (b.get("output_strings", 0), b.get("characters", 0))))
        else:
            rows.append(Row("compositor: %s" % re.sub(r"(?<!^)([A-Z])", r" \1", name).lower(), measured))
    return rows


def smi(build, out):
    log = os.path.join(out, "setuptoken.log")
    status, text = run(["bash", "test/setuptoken/bench.sh", build], log)
    rows = []
    for m in re.finditer(r"setuptoken (\w+) request: (\d+) instructions", text):
        kind, per = m.group(1), int(m.group(2))
        met = per < SMI_AIM
        rows.append(Row("instructions per SMI settings request (%s record)" % kind, "%d" % per, "< %d" % SMI_AIM, met,
                        "" if met else "a %s request takes %d instructions, %d over its aim" % (kind, per, per - SMI_AIM)))
    if not rows:
        rows.append(Row("instructions per SMI settings request", "not measured (%s)" % os.path.relpath(log, ROOT)))
    return rows


def firmware(build, out):
    log = os.path.join(out, "firmware.log")
    js = os.path.join(out, "firmware.json")
    if os.path.exists(js):
        os.unlink(js)
    rel = os.path.relpath(build, ROOT)
    run([PYTHON, "examples/flash_tool/demo.py", "--build", rel, "--bench", js], log)
    if not os.path.exists(js):
        return [Row("firmware figures", "not measured (%s)" % os.path.relpath(log, ROOT))]
    with open(js) as f:
        fig = json.load(f)
    rows = []
    if "first_screen_us" in fig:
        rows.append(Row("firmware: `Run` to the first full screen (OVMF under QEMU TCG)",
                        "%.1f ms; %d characters in %d OutputString calls%s" % (
                            fig["first_screen_us"] / 1000.0, fig["first_screen_chars"], fig["first_screen_calls"],
                            "" if fig.get("first_screen_quiet", True) else "; the console never went quiet")))
    else:
        rows.append(Row("firmware: `Run` to the first full screen", "not measured (%s)" % os.path.relpath(log, ROOT)))
    if "down_serial_bytes" in fig:
        n = fig["down_serial_bytes"]
        met = n < DOWN_SERIAL_AIM and fig.get("down_quiet", True)
        rows.append(Row("firmware: serial bytes for one Down key in the file list",
                        "%d bytes (%d characters in %d OutputString calls)" % (n, fig.get("down_chars", 0), fig.get("down_calls", 0)),
                        "only the changed cells, well under %d bytes" % DOWN_SERIAL_AIM, met,
                        "" if met else "one Down key in the file list costs %d serial bytes (%d characters in %d "
                        "OutputString calls), %d over the %d-byte aim" % (n, fig.get("down_chars", 0),
                                                                          fig.get("down_calls", 0), n - DOWN_SERIAL_AIM,
                                                                          DOWN_SERIAL_AIM)))
    else:
        rows.append(Row("firmware: serial bytes for one Down key", "not measured (%s)" % os.path.relpath(log, ROOT)))
    return rows


def write_report(path, sections):
    lines = ["# Figures", "",
             "Written by `make bench` (tools/bench.py) on %s UTC. Each figure stands beside the aim its issue set; "
             "a missed aim gets a line of its own under the table." % datetime.datetime.utcnow().strftime("%Y-%m-%d %H:%M"),
             ""]
    misses, unmeasured = [], 0
    for title, rows in sections:
        lines += ["## " + title, "", "| figure | measured | aim | |", "|---|---|---|---|"]
        for r in rows:
            lines.append("| %s | %s | %s | %s |" % (r.what, r.measured, r.aim or "—", r.verdict()))
            if r.met is False:
                misses.append(r.miss)
            if r.measured.startswith("not "):
                unmeasured += 1
        lines.append("")
    lines += ["## Missed aims", ""]
    lines += ["- " + m for m in misses] if misses else ["None."]
    lines.append("")
    with open(path, "w") as f:
        f.write("\n".join(lines))
    return misses, unmeasured


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build")
    ap.add_argument("--skip-firmware", action="store_true", help="leave out the figures measured in OVMF")
    args = ap.parse_args()
    build = os.path.abspath(os.path.join(ROOT, args.build))
    out = os.path.join(build, "bench")
    os.makedirs(out, exist_ok=True)
    sections = [("Image sizes", image_sizes(build)),
                ("Compositor passes (host, Google Benchmark, full run layout)", compositor(build, out)),
                ("Settings requests (host, callgrind, token service excluded)", smi(build, out))]
    if not args.skip_firmware:
        sections.append(("In firmware (OVMF, the demo tool's bench run)", firmware(build, out)))
    report = os.path.join(out, "report.md")
    misses, unmeasured = write_report(report, sections)
    for title, rows in sections:
        for r in rows:
            print("%-10s %s: %s" % (r.verdict().strip("*"), r.what.replace("`", ""), r.measured))
    print("bench: %s, %d aims missed, %d figures not measured" % (os.path.relpath(report, ROOT), len(misses), unmeasured))
    # Missed aims are findings of the report, not a failure of the bench;
    # a figure that could not be measured is.
    return 1 if unmeasured else 0


if __name__ == "__main__":
    sys.exit(main())
